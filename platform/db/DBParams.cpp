// Parameters: values with a declared field type and direction, and SQL parameter parsing.
#include <cctype>
#include <cstring>

#include "platform/db/DB.h"
#include "platform/rtl/Strings.h"

namespace db {

using rtl::DatabaseErrorFmt;

namespace {

// The Variant kind a parameter of the type keeps (varEmpty: keep the value as given).
rtl::TVarType VarTypeOf(TFieldType type) {
    switch (type) {
        case ftString:
        case ftFixedChar:
        case ftMemo:
        case ftGuid:
            return rtl::varString;
        case ftWideString:
        case ftFixedWideChar:
        case ftWideMemo:
            return rtl::varOleStr;
        case ftSmallint:
            return rtl::varSmallint;
        case ftInteger:
        case ftAutoInc:
            return rtl::varInteger;
        case ftWord:
            return rtl::varWord;
        case ftBoolean:
            return rtl::varBoolean;
        case ftFloat:
            return rtl::varDouble;
        case ftCurrency:
        case ftBCD:
            return rtl::varCurrency;
        case ftDate:
        case ftTime:
        case ftDateTime:
            return rtl::varDate;
        case ftLargeint:
            return rtl::varInt64;
        default:
            return rtl::varEmpty;
    }
}

TFieldType FieldTypeOfVariant(const Variant& v) {
    switch (v.VarType()) {
        case rtl::varSmallint:
        case rtl::varShortInt:
        case rtl::varByte:
            return ftSmallint;
        case rtl::varInteger:
            return ftInteger;
        case rtl::varWord:
            return ftWord;
        case rtl::varLongWord:
        case rtl::varInt64:
        case rtl::varUInt64:
            return ftLargeint;
        case rtl::varSingle:
        case rtl::varDouble:
            return ftFloat;
        case rtl::varCurrency:
            return ftCurrency;
        case rtl::varDate:
            return ftDateTime;
        case rtl::varBoolean:
            return ftBoolean;
        case rtl::varString:
            return ftString;
        case rtl::varOleStr:
            return ftWideString;
        default:
            if (rtl::VarIsFMTBcd(v)) return ftFMTBcd;
            if (rtl::VarIsSQLTimeStamp(v)) return ftTimeStamp;
            if (v.IsArray()) return ftBlob;
            return ftUnknown;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TParam

TParam::TParam(rtl::TCollection* owner) : TCollectionItem(owner) {}

TParam::TParam(TParams* owner, TParamType paramType) : TCollectionItem(owner), paramType_(paramType) {}

TParams* TParam::Owner() const {
    return dynamic_cast<TParams*>(Collection());
}

TDataSet* TParam::DataSet() const {
    TParams* p = Owner();
    return p ? dynamic_cast<TDataSet*>(p->OwnerComponent()) : nullptr;
}

void TParam::SetDataType(TFieldType value) {
    if (value == dataType_) return;
    dataType_ = value;
    rtl::TVarType vt = VarTypeOf(value);
    if (null_ || vt == rtl::varEmpty || data_.VarType() == vt) return;
    try {
        data_ = rtl::VarAsType(data_, vt);
    } catch (rtl::Exception&) {
        Clear();
    }
}

void TParam::Clear() {
    data_ = rtl::Null();
    null_ = true;
}

Variant TParam::GetAsVariant() const {
    return null_ ? rtl::Null() : data_;
}

void TParam::SetAsVariant(const Variant& value) {
    bound_ = true;
    if (value.IsNull() || value.IsEmpty()) {
        Clear();
        return;
    }
    if (dataType_ == ftUnknown) dataType_ = FieldTypeOfVariant(value);
    data_ = value;
    null_ = false;
}

void TParam::SetTyped(TFieldType type, const Variant& value) {
    dataType_ = type;
    data_ = value;
    null_ = false;
    bound_ = true;
}

AnsiString TParam::AsString() const {
    if (null_) return AnsiString();
    if (dataType_ == ftBoolean) return data_.AsBoolean() ? "True" : "False";
    return rtl::VarToStr(data_);
}

void TParam::SetAsString(const AnsiString& value) {
    SetTyped(dataType_ == ftFixedChar ? ftFixedChar : ftString, Variant(value));
}

WideString TParam::AsWideString() const {
    return null_ ? WideString() : rtl::VarToWideStr(data_);
}
void TParam::SetAsWideString(const WideString& value) {
    SetTyped(ftWideString, Variant(value));
}
int32_t TParam::AsInteger() const {
    return null_ ? 0 : data_.AsInteger();
}
void TParam::SetAsInteger(int32_t value) {
    SetTyped(ftInteger, Variant(value));
}
int16_t TParam::AsSmallInt() const {
    return null_ ? 0 : data_.AsSmallInt();
}
void TParam::SetAsSmallInt(int16_t value) {
    SetTyped(ftSmallint, Variant(value));
}
uint16_t TParam::AsWord() const {
    return null_ ? 0 : data_.AsWord();
}
void TParam::SetAsWord(uint16_t value) {
    SetTyped(ftWord, Variant(value));
}
int64_t TParam::AsLargeInt() const {
    return null_ ? 0 : data_.AsInt64();
}
void TParam::SetAsLargeInt(int64_t value) {
    SetTyped(ftLargeint, Variant(static_cast<long long>(value)));
}
double TParam::AsFloat() const {
    return null_ ? 0.0 : data_.AsDouble();
}
void TParam::SetAsFloat(double value) {
    SetTyped(ftFloat, Variant(value));
}
Currency TParam::AsCurrency() const {
    return null_ ? Currency() : data_.AsCurrency();
}
void TParam::SetAsCurrency(Currency value) {
    SetTyped(ftCurrency, Variant(value));
}
Currency TParam::AsBCD() const {
    return AsCurrency();
}
void TParam::SetAsBCD(Currency value) {
    SetTyped(ftBCD, Variant(value));
}
TBcd TParam::AsFMTBCD() const {
    return null_ ? TBcd{} : rtl::VarToBcd(data_);
}
void TParam::SetAsFMTBCD(const TBcd& value) {
    SetTyped(ftFMTBcd, rtl::VarFMTBcdCreate(value));
}
bool TParam::AsBoolean() const {
    return null_ ? false : data_.AsBoolean();
}
void TParam::SetAsBoolean(bool value) {
    SetTyped(ftBoolean, Variant(value));
}
TDateTime TParam::AsDate() const {
    return AsDateTime();
}
void TParam::SetAsDate(TDateTime value) {
    SetTyped(ftDate, Variant::FromDateTime(value));
}
TDateTime TParam::AsTime() const {
    return AsDateTime();
}
void TParam::SetAsTime(TDateTime value) {
    SetTyped(ftTime, Variant::FromDateTime(value));
}
TDateTime TParam::AsDateTime() const {
    return null_ ? 0.0 : data_.AsDateTime();
}
void TParam::SetAsDateTime(TDateTime value) {
    SetTyped(ftDateTime, Variant::FromDateTime(value));
}
TSQLTimeStamp TParam::AsSQLTimeStamp() const {
    return null_ ? TSQLTimeStamp{} : rtl::VarToSQLTimeStamp(data_);
}
void TParam::SetAsSQLTimeStamp(const TSQLTimeStamp& value) {
    SetTyped(ftTimeStamp, rtl::VarSQLTimeStampCreate(value));
}
AnsiString TParam::AsMemo() const {
    return AsString();
}
void TParam::SetAsMemo(const AnsiString& value) {
    SetTyped(ftMemo, Variant(value));
}

TBytes TParam::AsBlob() const {
    if (null_) return TBytes();
    if (data_.IsArray()) return rtl::VariantToBytes(data_);
    std::string s = rtl::VarToStr(data_);
    return TBytes(s.begin(), s.end());
}

void TParam::SetAsBlob(const TBytes& value) {
    SetTyped(ftBlob, rtl::BytesToVariant(value));
}

int TParam::GetDataSize() const {
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftMemo:
            return static_cast<int>(AsString().size()) + 1;
        case ftWideString:
        case ftFixedWideChar:
        case ftWideMemo:
            return (static_cast<int>(AsWideString().size()) + 1) * 2;
        case ftBoolean:
        case ftSmallint:
        case ftWord:
            return 2;
        case ftInteger:
        case ftAutoInc:
        case ftDate:
        case ftTime:
            return 4;
        case ftFloat:
        case ftCurrency:
        case ftDateTime:
        case ftLargeint:
            return 8;
        case ftBCD:
        case ftFMTBcd:
            return sizeof(TBcd);
        case ftTimeStamp:
            return sizeof(TSQLTimeStamp);
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftGraphic:
            return static_cast<int>(AsBlob().size());
        default:
            return 0;
    }
}

void TParam::GetData(void* buffer) const {
    auto put = [buffer](const auto& v) { std::memcpy(buffer, &v, sizeof v); };
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftMemo: {
            std::string s = AsString();
            std::memcpy(buffer, s.c_str(), s.size() + 1);
            break;
        }
        case ftWideString:
        case ftFixedWideChar:
        case ftWideMemo: {
            WideString s = AsWideString();
            std::memcpy(buffer, s.c_str(), (s.size() + 1) * 2);
            break;
        }
        case ftBoolean:
            put(static_cast<int16_t>(AsBoolean() ? -1 : 0));
            break;
        case ftSmallint:
            put(AsSmallInt());
            break;
        case ftWord:
            put(AsWord());
            break;
        case ftInteger:
        case ftAutoInc:
            put(AsInteger());
            break;
        case ftDate:
            put(rtl::DateTimeToTimeStamp(AsDateTime()).Date);
            break;
        case ftTime:
            put(rtl::DateTimeToTimeStamp(AsDateTime()).Time);
            break;
        case ftDateTime:
            put(rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(AsDateTime())));
            break;
        case ftFloat:
        case ftCurrency:
            put(AsFloat());
            break;
        case ftLargeint:
            put(AsLargeInt());
            break;
        case ftBCD: {
            TBcd bcd{};
            rtl::CurrToBCD(AsCurrency(), bcd, 32, 4);
            put(bcd);
            break;
        }
        case ftFMTBcd:
            put(AsFMTBCD());
            break;
        case ftTimeStamp:
            put(AsSQLTimeStamp());
            break;
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftGraphic: {
            TBytes b = AsBlob();
            if (!b.empty()) std::memcpy(buffer, b.data(), b.size());
            break;
        }
        default:
            break;
    }
}

void TParam::SetData(const void* buffer) {
    if (!buffer) {
        Clear();
        return;
    }
    auto get = [buffer](auto& v) { std::memcpy(&v, buffer, sizeof v); };
    switch (dataType_) {
        case ftString:
        case ftFixedChar:
        case ftMemo:
            SetTyped(dataType_, Variant(std::string(static_cast<const char*>(buffer))));
            break;
        case ftWideString:
        case ftFixedWideChar:
        case ftWideMemo:
            SetTyped(dataType_, Variant(WideString(static_cast<const char16_t*>(buffer))));
            break;
        case ftBoolean: {
            int16_t v;
            get(v);
            SetAsBoolean(v != 0);
            break;
        }
        case ftSmallint: {
            int16_t v;
            get(v);
            SetAsSmallInt(v);
            break;
        }
        case ftWord: {
            uint16_t v;
            get(v);
            SetAsWord(v);
            break;
        }
        case ftInteger:
        case ftAutoInc: {
            int32_t v;
            get(v);
            SetTyped(dataType_, Variant(v));
            break;
        }
        case ftDate: {
            int32_t v;
            get(v);
            SetAsDate(rtl::TimeStampToDateTime(rtl::TTimeStamp{0, v}));
            break;
        }
        case ftTime: {
            int32_t v;
            get(v);
            SetAsTime(rtl::TimeStampToDateTime(rtl::TTimeStamp{v, rtl::DateDelta}));
            break;
        }
        case ftDateTime: {
            double v;
            get(v);
            SetAsDateTime(rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(v)));
            break;
        }
        case ftFloat:
        case ftCurrency: {
            double v;
            get(v);
            SetTyped(dataType_, Variant(v));
            break;
        }
        case ftLargeint: {
            int64_t v;
            get(v);
            SetAsLargeInt(v);
            break;
        }
        case ftBCD: {
            TBcd v;
            get(v);
            Currency c;
            if (!rtl::BCDToCurr(v, c)) throw rtl::EBcdOverflowException("BCD overflow");
            SetAsBCD(c);
            break;
        }
        case ftFMTBcd: {
            TBcd v;
            get(v);
            SetAsFMTBCD(v);
            break;
        }
        case ftTimeStamp: {
            TSQLTimeStamp v;
            get(v);
            SetAsSQLTimeStamp(v);
            break;
        }
        default:
            DatabaseErrorFmt("Field '%s' is of an unknown type", {name_});
    }
}

void TParam::AssignTo(rtl::TPersistent* dest) {
    if (auto* f = dynamic_cast<TField*>(dest)) {
        if (null_)
            f->Clear();
        else
            f->SetValue(data_);
        return;
    }
    TCollectionItem::AssignTo(dest);
}

void TParam::Assign(rtl::TPersistent* source) {
    if (auto* p = dynamic_cast<TParam*>(source)) {
        name_ = p->name_;
        dataType_ = p->dataType_;
        paramType_ = p->paramType_;
        data_ = p->data_;
        null_ = p->null_;
        bound_ = p->bound_;
        size_ = p->size_;
        precision_ = p->precision_;
        numericScale_ = p->numericScale_;
        return;
    }
    if (auto* f = dynamic_cast<TField*>(source)) {
        AssignField(f);
        return;
    }
    TCollectionItem::Assign(source);
}

void TParam::AssignField(TField* field) {
    if (!field) return;
    if (name_.empty()) name_ = field->FieldName();
    AssignFieldValue(field, field->Value());
}

void TParam::AssignFieldValue(TField* field, const Variant& value) {
    if (!field) return;
    dataType_ = field->DataType() == ftAutoInc ? ftInteger : field->DataType();
    if (field->DataType() == ftString || field->DataType() == ftFixedChar || field->DataType() == ftBytes ||
        field->DataType() == ftVarBytes || field->DataType() == ftWideString)
        size_ = field->Size();
    if (value.IsNull() || value.IsEmpty()) {
        Clear();
    } else {
        data_ = value;
        null_ = false;
    }
    bound_ = true;
}

bool TParam::IsEqual(const TParam* other) const {
    if (!other) return false;
    if (name_ != other->name_ || dataType_ != other->dataType_ || paramType_ != other->paramType_ ||
        null_ != other->null_ || bound_ != other->bound_)
        return false;
    if (null_) return true;
    try {
        return rtl::VarSameValue(data_, other->data_);
    } catch (rtl::EVariantError&) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// TParams

TParams::TParams(rtl::TPersistent* owner)
    : TOwnedCollection(owner, rtl::TCollectionItemClass::Of<TParam>()) {}

TParams::TParams(rtl::TPersistent* owner, rtl::TCollectionItemClass itemClass)
    : TOwnedCollection(owner, itemClass) {}

TComponent* TParams::OwnerComponent() const {
    return dynamic_cast<TComponent*>(GetOwner());
}

TParam* TParams::AddParam() {
    return static_cast<TParam*>(TCollection::Add());
}

TParam* TParams::CreateParam(TFieldType dataType, const std::string& name, TParamType paramType) {
    TParam* p = AddParam();
    p->SetName(name);
    p->SetDataType(dataType);
    p->SetParamType(paramType);
    return p;
}

void TParams::RemoveParam(TParam* param) {
    if (param && param->Collection() == this) {
        param->SetCollection(nullptr);
        rtl::Free(param);
    }
}

TParam* TParams::FindParam(const std::string& name) const {
    for (int i = 0; i < Count(); ++i)
        if (rtl::AnsiSameText(Items(i)->Name(), name)) return Items(i);
    return nullptr;
}

TParam* TParams::ParamByName(const std::string& name) const {
    TParam* p = FindParam(name);
    if (!p) DatabaseErrorFmt("Parameter '%s' not found", {name}, OwnerComponent());
    return p;
}

void TParams::GetParamList(std::vector<TParam*>& list, const std::string& paramNames) const {
    int pos = 1;
    while (pos <= static_cast<int>(paramNames.size())) {
        std::string name = ExtractFieldName(paramNames, pos);
        if (!name.empty()) list.push_back(ParamByName(name));
    }
}

Variant TParams::ParamValues(const std::string& paramNames) const {
    if (paramNames.find(';') == std::string::npos) return ParamByName(paramNames)->Value();
    std::vector<TParam*> list;
    GetParamList(list, paramNames);
    Variant v = rtl::VarArrayCreate({0, static_cast<int>(list.size()) - 1}, rtl::varVariant);
    for (size_t i = 0; i < list.size(); ++i) v.PutElement(static_cast<int>(i), list[i]->Value());
    return v;
}

void TParams::SetParamValues(const std::string& paramNames, const Variant& value) {
    if (paramNames.find(';') == std::string::npos) {
        ParamByName(paramNames)->SetValue(value);
        return;
    }
    std::vector<TParam*> list;
    GetParamList(list, paramNames);
    int low = value.ArrayLowBound();
    for (size_t i = 0; i < list.size(); ++i) list[i]->SetValue(value.GetElement(low + static_cast<int>(i)));
}

void TParams::AssignValues(const TParams& source) {
    for (int i = 0; i < source.Count(); ++i) {
        TParam* src = source.Items(i);
        if (TParam* p = FindParam(src->Name())) {
            p->Assign(src);
        }
    }
}

bool TParams::IsEqual(const TParams& other) const {
    if (Count() != other.Count()) return false;
    for (int i = 0; i < Count(); ++i)
        if (!Items(i)->IsEqual(other.Items(i))) return false;
    return true;
}

std::string TParams::ParseSQL(const std::string& sql, bool doCreate) {
    auto isNameChar = [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c >= 0x80;
    };
    std::string out;
    out.reserve(sql.size());
    size_t i = 0, n = sql.size();
    while (i < n) {
        char c = sql[i];
        if (c == '\'' || c == '"') {
            // Quoted text or name: copied as it is; a doubled quote stays inside.
            size_t j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            size_t end = j < n ? j + 1 : n;
            out.append(sql, i, end - i);
            i = end;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            size_t end = sql.find('\n', i);
            end = end == std::string::npos ? n : end;
            out.append(sql, i, end - i);
            i = end;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            size_t end = sql.find("*/", i + 2);
            end = end == std::string::npos ? n : end + 2;
            out.append(sql, i, end - i);
            i = end;
        } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
            out += ':';
            i += 2;
        } else if (c == ':' && i + 1 < n &&
                   (sql[i + 1] == '"' || isNameChar(static_cast<unsigned char>(sql[i + 1])))) {
            std::string name;
            size_t j = i + 1;
            if (sql[j] == '"') {
                size_t close = sql.find('"', j + 1);
                if (close == std::string::npos) {
                    out.append(sql, i, n - i);
                    break;
                }
                name = sql.substr(j + 1, close - j - 1);
                j = close + 1;
            } else {
                while (j < n && isNameChar(static_cast<unsigned char>(sql[j]))) ++j;
                name = sql.substr(i + 1, j - i - 1);
            }
            if (doCreate) CreateParam(ftUnknown, name, ptUnknown);
            out += '?';
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace db
