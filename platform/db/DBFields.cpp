// TField and its classes: buffer forms, conversions and null behaviour.
#include <cmath>
#include <cstring>

#include "platform/db/DB.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace db {

using rtl::DatabaseError;
using rtl::DatabaseErrorFmt;

void FieldRangeError(double value, double min, double max, const TField* field) {
    throw rtl::ERangeError(
        rtl::Format("%g is not a valid value for field '%s'. The allowed range is %g to %g",
                    {value, field->DisplayName(), min, max}));
}

namespace {

// Round half to even, as the platform rounds floats to integers.
int64_t RoundToInt64(double value, const TField* field) {
    if (!std::isfinite(value) || value >= 9223372036854775807.0 || value < -9223372036854775808.0)
        FieldRangeError(value, -9223372036854775808.0, 9223372036854775807.0, field);
    return static_cast<int64_t>(std::nearbyint(value));
}

int32_t ToInt32(int64_t value, const TField* field) {
    if (value < INT32_MIN || value > INT32_MAX)
        FieldRangeError(static_cast<double>(value), INT32_MIN, INT32_MAX, field);
    return static_cast<int32_t>(value);
}

bool IsBlankText(const std::string& s) {
    return rtl::Trim(s).empty();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
    if (parentField_) parentField_->Fields().Remove(this);
    if (dataSet_ && !parentField_) dataSet_->Fields().Remove(this);
    parentField_ = nullptr;
    dataSet_ = nullptr;
}

void TField::SetDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_) return;
    if (dataSet_) dataSet_->CheckInactive();
    if (dataSet) {
        dataSet->CheckInactive();
        dataSet->Fields().Add(this);
    }
    if (dataSet_) dataSet_->Fields().Remove(this);
    dataSet_ = dataSet;
}

void TField::SetParentField(TObjectField* value) {
    if (value == parentField_) return;
    if (value) value->Fields().Add(this);
    if (parentField_)
        parentField_->Fields().Remove(this);
    else if (dataSet_)
        dataSet_->Fields().Remove(this);
    parentField_ = value;
    dataSet_ = value ? value->DataSet() : nullptr;
}

void TField::SetFieldName(const std::string& value) {
    if (dataSet_ && !rtl::AnsiSameText(value, fieldName_)) {
        TField* other = parentField_ ? parentField_->Fields().FindField(value) : dataSet_->FindField(value);
        if (other && other != this) DatabaseErrorFmt("Duplicate field name '%s'", {value}, dataSet_);
    }
    fieldName_ = value;
}

std::string TField::FullName() const {
    return parentField_ ? parentField_->FullName() + "." + fieldName_ : fieldName_;
}

void TField::SetFieldKind(TFieldKind value) {
    if (dataSet_) dataSet_->CheckInactive();
    fieldKind_ = value;
}

void TField::SetSize(int value) {
    if (dataSet_) dataSet_->CheckInactive();
    CheckSize(value);
    size_ = value;
}

void TField::CheckSize(int value) const {
    if (value < 0) DatabaseError("Invalid field size");
}

int TField::Index() const {
    if (parentField_) return parentField_->Fields().IndexOf(this);
    return dataSet_ ? dataSet_->Fields().IndexOf(this) : -1;
}

void TField::SetIndex(int value) {
    if (parentField_)
        parentField_->Fields().SetIndex(this, value);
    else if (dataSet_)
        dataSet_->Fields().SetIndex(this, value);
}

bool TField::GetCanModify() const {
    if (readOnly_ || !dataSet_) return false;
    if (dataSet_->State() == dsSetKey || dataSet_->State() == dsFilter) return true;
    return dataSet_->CanModify();
}

bool TField::GetData(void* buffer, bool nativeFormat) const {
    if (!dataSet_) DatabaseErrorFmt("Field '%s' has no dataset", {DisplayName()});
    return dataSet_->GetFieldData(const_cast<TField*>(this), buffer, nativeFormat);
}

void TField::SetData(const void* buffer, bool nativeFormat) {
    if (!dataSet_) DatabaseErrorFmt("Field '%s' has no dataset", {DisplayName()});
    dataSet_->SetFieldData(this, buffer, nativeFormat);
}

void TField::Validate(const void*) {
    if (OnValidate) OnValidate(this);
}

void TField::Change() {
    if (OnChange) OnChange(this);
}

void TField::FocusControl() {
    if (dataSet_) dataSet_->DataEvent(deFocusControl, reinterpret_cast<intptr_t>(this));
}

void TField::AccessError(const std::string& typeName) const {
    DatabaseErrorFmt("Cannot access field '%s' as type %s", {DisplayName(), typeName});
}

void TField::SetAsVariant(const Variant& value) {
    if (value.IsNull() || value.IsEmpty())
        Clear();
    else
        SetVarValue(value);
}

Variant TField::OldValue() const {
    if (!dataSet_) return rtl::Null();
    return dataSet_->GetStateFieldValue(dsOldValue, const_cast<TField*>(this));
}

Variant TField::NewValue() const {
    if (!dataSet_) return rtl::Null();
    return dataSet_->GetStateFieldValue(dsNewValue, const_cast<TField*>(this));
}

Variant TField::CurValue() const {
    if (!dataSet_) return rtl::Null();
    return dataSet_->GetStateFieldValue(dsCurValue, const_cast<TField*>(this));
}

void TField::Assign(rtl::TPersistent* source) {
    if (!source) {
        Clear();
        return;
    }
    if (auto* f = dynamic_cast<TField*>(source)) {
        SetAsVariant(f->Value());
        return;
    }
    TComponent::Assign(source);
}

std::string TField::Text() const {
    if (OnGetText) {
        std::string s;
        OnGetText(const_cast<TField*>(this), s, false);
        return s;
    }
    return GetText();
}

std::string TField::DisplayText() const {
    if (OnGetText) {
        std::string s;
        OnGetText(const_cast<TField*>(this), s, true);
        return s;
    }
    return GetText();
}

void TField::SetText(const std::string& value) {
    if (OnSetText)
        OnSetText(this, value);
    else
        SetTextValue(value);
}

Variant TField::GetAsVariant() const {
    AccessError("Variant");
}
void TField::SetVarValue(const Variant&) {
    AccessError("Variant");
}
AnsiString TField::GetAsString() const {
    return ClassName().size() > 1 ? "(" + ClassName().substr(1) + ")" : "";
}
void TField::SetAsStringValue(const AnsiString&) {
    AccessError("String");
}
WideString TField::GetAsWideString() const {
    return rtl::AnsiToWide(GetAsString());
}
void TField::SetAsWideStringValue(const WideString& value) {
    SetAsStringValue(rtl::WideToAnsi(value));
}
int32_t TField::GetAsInteger() const {
    AccessError("Integer");
}
void TField::SetAsIntegerValue(int32_t) {
    AccessError("Integer");
}
int64_t TField::GetAsLargeInt() const {
    AccessError("LargeInt");
}
void TField::SetAsLargeIntValue(int64_t) {
    AccessError("LargeInt");
}
double TField::GetAsFloat() const {
    AccessError("Float");
}
void TField::SetAsFloatValue(double) {
    AccessError("Float");
}
Currency TField::GetAsCurrency() const {
    AccessError("Currency");
}
void TField::SetAsCurrencyValue(Currency value) {
    SetAsFloatValue(value.ToDouble());
}
bool TField::GetAsBoolean() const {
    AccessError("Boolean");
}
void TField::SetAsBooleanValue(bool) {
    AccessError("Boolean");
}
TDateTime TField::GetAsDateTime() const {
    AccessError("DateTime");
}
void TField::SetAsDateTimeValue(TDateTime) {
    AccessError("DateTime");
}
TBcd TField::GetAsBCD() const {
    AccessError("BCD");
}
void TField::SetAsBCDValue(const TBcd&) {
    AccessError("BCD");
}
TSQLTimeStamp TField::GetAsSQLTimeStamp() const {
    AccessError("SQLTimeStamp");
}
void TField::SetAsSQLTimeStampValue(const TSQLTimeStamp&) {
    AccessError("SQLTimeStamp");
}
TBytes TField::GetAsBytes() const {
    AccessError("Bytes");
}
void TField::SetAsBytesValue(const TBytes&) {
    AccessError("Bytes");
}
std::string TField::GetText() const {
    return GetAsString();
}
void TField::SetTextValue(const std::string& value) {
    SetAsStringValue(value);
}

// ---------------------------------------------------------------------------------------------
// TStringField, TWideStringField, TGuidField

TStringField::TStringField(TComponent* owner) : TField(owner) {
    SetDataType(ftString);
    SetSize(20);
}

void TStringField::CheckSize(int value) const {
    if (value < 1) DatabaseError("Invalid field size");
}

bool TStringField::GetValue(AnsiString& value) const {
    std::vector<char> buf(static_cast<size_t>(DataSize()) + 1, 0);
    if (!GetData(buf.data())) {
        value.clear();
        return false;
    }
    value.assign(buf.data(), strnlen(buf.data(), static_cast<size_t>(Size())));
    if (fixedChar_) value = rtl::TrimRight(value);
    return true;
}

AnsiString TStringField::GetAsString() const {
    AnsiString s;
    GetValue(s);
    return s;
}

void TStringField::SetAsStringValue(const AnsiString& value) {
    std::vector<char> buf(static_cast<size_t>(DataSize()), 0);
    // Text beyond Size is cut, and so is anything after an embedded zero.
    size_t n = std::min(value.size(), static_cast<size_t>(Size()));
    std::memcpy(buf.data(), value.data(), n);
    SetData(buf.data());
}

Variant TStringField::GetAsVariant() const {
    AnsiString s;
    if (!GetValue(s)) return rtl::Null();
    return Variant(s);
}

void TStringField::SetVarValue(const Variant& value) {
    SetAsStringValue(value.AsString());
}
WideString TStringField::GetAsWideString() const {
    return rtl::AnsiToWide(GetAsString());
}

int32_t TStringField::GetAsInteger() const {
    AnsiString s = GetAsString();
    return IsBlankText(s) ? 0 : rtl::StrToInt(rtl::Trim(s));
}
void TStringField::SetAsIntegerValue(int32_t value) {
    SetAsStringValue(rtl::IntToStr(value));
}
int64_t TStringField::GetAsLargeInt() const {
    AnsiString s = GetAsString();
    return IsBlankText(s) ? 0 : rtl::StrToInt64(rtl::Trim(s));
}
void TStringField::SetAsLargeIntValue(int64_t value) {
    SetAsStringValue(rtl::IntToStr(static_cast<long long>(value)));
}
double TStringField::GetAsFloat() const {
    AnsiString s = GetAsString();
    return IsBlankText(s) ? 0.0 : rtl::StrToFloat(s);
}
void TStringField::SetAsFloatValue(double value) {
    SetAsStringValue(rtl::FloatToStr(value));
}
bool TStringField::GetAsBoolean() const {
    AnsiString s = GetAsString();
    return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}
void TStringField::SetAsBooleanValue(bool value) {
    SetAsStringValue(value ? "T" : "F");
}
TDateTime TStringField::GetAsDateTime() const {
    AnsiString s = GetAsString();
    return IsBlankText(s) ? 0.0 : rtl::StrToDateTime(s);
}
void TStringField::SetAsDateTimeValue(TDateTime value) {
    SetAsStringValue(rtl::DateTimeToStr(value));
}
Currency TStringField::GetAsCurrency() const {
    AnsiString s = GetAsString();
    return IsBlankText(s) ? Currency() : rtl::StrToCurr(s);
}
TBcd TStringField::GetAsBCD() const {
    AnsiString s = GetAsString();
    return IsBlankText(s) ? TBcd{} : rtl::StrToBcd(s);
}

TWideStringField::TWideStringField(TComponent* owner) : TStringField(owner) {
    SetDataType(ftWideString);
}

bool TWideStringField::GetWideValue(WideString& value) const {
    std::vector<char16_t> buf(static_cast<size_t>(Size()) + 2, 0);
    if (!GetData(buf.data())) {
        value.clear();
        return false;
    }
    size_t n = 0;
    while (n < static_cast<size_t>(Size()) && buf[n] != 0) ++n;
    value.assign(buf.data(), n);
    if (FixedChar()) value = rtl::TrimRight(value);
    return true;
}

Variant TWideStringField::GetAsVariant() const {
    WideString s;
    if (!GetWideValue(s)) return rtl::Null();
    return Variant(s);
}

void TWideStringField::SetVarValue(const Variant& value) {
    SetAsWideStringValue(value.AsWideString());
}
AnsiString TWideStringField::GetAsString() const {
    return rtl::WideToAnsi(GetAsWideString());
}
void TWideStringField::SetAsStringValue(const AnsiString& value) {
    SetAsWideStringValue(rtl::AnsiToWide(value));
}

WideString TWideStringField::GetAsWideString() const {
    WideString s;
    GetWideValue(s);
    return s;
}

void TWideStringField::SetAsWideStringValue(const WideString& value) {
    std::vector<char16_t> buf(static_cast<size_t>(Size()) + 1, 0);
    size_t n = std::min(value.size(), static_cast<size_t>(Size()));
    std::memcpy(buf.data(), value.data(), n * sizeof(char16_t));
    SetData(buf.data());
}

TGuidField::TGuidField(TComponent* owner) : TStringField(owner) {
    SetDataType(ftGuid);
    SetSize(38);
}

void TGuidField::CheckSize(int value) const {
    if (value != 38) DatabaseError("Invalid field size");
}

void TGuidField::SetAsStringValue(const AnsiString& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    static const char kPattern[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    bool ok = value.size() == 38;
    for (size_t i = 0; ok && i < 38; ++i)
        ok = kPattern[i] == 'x' ? std::isxdigit(static_cast<unsigned char>(value[i])) != 0
                                : value[i] == kPattern[i];
    if (!ok) throw rtl::EConvertError(rtl::Format("'%s' is not a valid GUID value", {value}));
    TStringField::SetAsStringValue(value);
}

// ---------------------------------------------------------------------------------------------
// Numeric fields

std::string TNumericField::GetText() const {
    if (displayFormat_.empty() || IsNull()) return GetAsString();
    return rtl::FormatFloat(displayFormat_, GetAsFloat());
}

TIntegerField::TIntegerField(TComponent* owner) : TNumericField(owner) {
    SetDataType(ftInteger);
}

bool TIntegerField::ReadInt(int64_t& value) const {
    int32_t v = 0;
    if (!GetData(&v)) return false;
    value = v;
    return true;
}

void TIntegerField::WriteInt(int64_t value) {
    int32_t v = static_cast<int32_t>(value);
    SetData(&v);
}

bool TIntegerField::GetValue(int32_t& value) const {
    int64_t v = 0;
    bool ok = ReadInt(v);
    value = static_cast<int32_t>(v);
    return ok;
}

void TIntegerField::CheckRange(int64_t value) const {
    if (minValue_ != 0 || maxValue_ != 0) {
        if (value < minValue_ || value > maxValue_)
            FieldRangeError(static_cast<double>(value), minValue_, maxValue_, this);
    } else if (value < minRange_ || value > maxRange_) {
        FieldRangeError(static_cast<double>(value), static_cast<double>(minRange_),
                        static_cast<double>(maxRange_), this);
    }
}

Variant TIntegerField::GetAsVariant() const {
    int64_t v = 0;
    if (!ReadInt(v)) return rtl::Null();
    return Variant(static_cast<int32_t>(v));
}

void TIntegerField::SetVarValue(const Variant& value) {
    SetAsLargeIntValue(value.AsInt64());
}

AnsiString TIntegerField::GetAsString() const {
    int64_t v = 0;
    return ReadInt(v) ? rtl::IntToStr(static_cast<long long>(v)) : AnsiString();
}

void TIntegerField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsLargeIntValue(rtl::StrToInt64(rtl::Trim(value)));
}

int32_t TIntegerField::GetAsInteger() const {
    int64_t v = 0;
    ReadInt(v);
    return static_cast<int32_t>(v);
}

void TIntegerField::SetAsIntegerValue(int32_t value) {
    SetAsLargeIntValue(value);
}

int64_t TIntegerField::GetAsLargeInt() const {
    int64_t v = 0;
    ReadInt(v);
    return v;
}

void TIntegerField::SetAsLargeIntValue(int64_t value) {
    CheckRange(value);
    WriteInt(value);
}

double TIntegerField::GetAsFloat() const {
    return static_cast<double>(GetAsLargeInt());
}
void TIntegerField::SetAsFloatValue(double value) {
    SetAsLargeIntValue(RoundToInt64(value, this));
}
Currency TIntegerField::GetAsCurrency() const {
    return Currency::FromInt(GetAsLargeInt());
}
TBcd TIntegerField::GetAsBCD() const {
    return rtl::IntegerToBcd(GetAsLargeInt());
}

TSmallintField::TSmallintField(TComponent* owner) : TIntegerField(owner) {
    SetDataType(ftSmallint);
    minRange_ = INT16_MIN;
    maxRange_ = INT16_MAX;
}

bool TSmallintField::ReadInt(int64_t& value) const {
    int16_t v = 0;
    if (!GetData(&v)) return false;
    value = v;
    return true;
}

void TSmallintField::WriteInt(int64_t value) {
    int16_t v = static_cast<int16_t>(value);
    SetData(&v);
}

TWordField::TWordField(TComponent* owner) : TIntegerField(owner) {
    SetDataType(ftWord);
    minRange_ = 0;
    maxRange_ = UINT16_MAX;
}

bool TWordField::ReadInt(int64_t& value) const {
    uint16_t v = 0;
    if (!GetData(&v)) return false;
    value = v;
    return true;
}

void TWordField::WriteInt(int64_t value) {
    uint16_t v = static_cast<uint16_t>(value);
    SetData(&v);
}

TAutoIncField::TAutoIncField(TComponent* owner) : TIntegerField(owner) {
    SetDataType(ftAutoInc);
}

TLargeintField::TLargeintField(TComponent* owner) : TNumericField(owner) {
    SetDataType(ftLargeint);
}

bool TLargeintField::GetValue(int64_t& value) const {
    value = 0;
    return GetData(&value);
}

void TLargeintField::CheckRange(int64_t value) const {
    if ((minValue_ != 0 || maxValue_ != 0) && (value < minValue_ || value > maxValue_))
        FieldRangeError(static_cast<double>(value), static_cast<double>(minValue_),
                        static_cast<double>(maxValue_), this);
}

Variant TLargeintField::GetAsVariant() const {
    int64_t v = 0;
    if (!GetValue(v)) return rtl::Null();
    return Variant(static_cast<long long>(v));
}

void TLargeintField::SetVarValue(const Variant& value) {
    SetAsLargeIntValue(value.AsInt64());
}

AnsiString TLargeintField::GetAsString() const {
    int64_t v = 0;
    return GetValue(v) ? rtl::IntToStr(static_cast<long long>(v)) : AnsiString();
}

void TLargeintField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsLargeIntValue(rtl::StrToInt64(rtl::Trim(value)));
}

int32_t TLargeintField::GetAsInteger() const {
    return static_cast<int32_t>(GetAsLargeInt());
}
void TLargeintField::SetAsIntegerValue(int32_t value) {
    SetAsLargeIntValue(value);
}

int64_t TLargeintField::GetAsLargeInt() const {
    int64_t v = 0;
    GetValue(v);
    return v;
}

void TLargeintField::SetAsLargeIntValue(int64_t value) {
    CheckRange(value);
    SetData(&value);
}

double TLargeintField::GetAsFloat() const {
    return static_cast<double>(GetAsLargeInt());
}
void TLargeintField::SetAsFloatValue(double value) {
    SetAsLargeIntValue(RoundToInt64(value, this));
}
TBcd TLargeintField::GetAsBCD() const {
    return rtl::IntegerToBcd(GetAsLargeInt());
}

TFloatField::TFloatField(TComponent* owner) : TNumericField(owner) {
    SetDataType(ftFloat);
}

void TFloatField::SetPrecision(int value) {
    precision_ = value < 2 ? 2 : (value > 15 ? 15 : value);
}

bool TFloatField::GetValue(double& value) const {
    value = 0;
    return GetData(&value);
}

Variant TFloatField::GetAsVariant() const {
    double v = 0;
    if (!GetValue(v)) return rtl::Null();
    return Variant(v);
}

void TFloatField::SetVarValue(const Variant& value) {
    SetAsFloatValue(value.AsDouble());
}

AnsiString TFloatField::GetAsString() const {
    double v = 0;
    return GetValue(v) ? rtl::FloatToStrF(v, rtl::ffGeneral, precision_, 0) : AnsiString();
}

void TFloatField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsFloatValue(rtl::StrToFloat(value));
}

int32_t TFloatField::GetAsInteger() const {
    return ToInt32(GetAsLargeInt(), this);
}
void TFloatField::SetAsIntegerValue(int32_t value) {
    SetAsFloatValue(value);
}
int64_t TFloatField::GetAsLargeInt() const {
    return RoundToInt64(GetAsFloat(), this);
}
void TFloatField::SetAsLargeIntValue(int64_t value) {
    SetAsFloatValue(static_cast<double>(value));
}

double TFloatField::GetAsFloat() const {
    double v = 0;
    GetValue(v);
    return v;
}

void TFloatField::SetAsFloatValue(double value) {
    if ((minValue_ != 0 || maxValue_ != 0) && (value < minValue_ || value > maxValue_))
        FieldRangeError(value, minValue_, maxValue_, this);
    SetData(&value);
}

rtl::Currency TFloatField::GetAsCurrency() const {
    return rtl::Currency::FromDouble(GetAsFloat());
}
void TFloatField::SetAsCurrencyValue(rtl::Currency value) {
    SetAsFloatValue(value.ToDouble());
}
TBcd TFloatField::GetAsBCD() const {
    return rtl::DoubleToBcd(GetAsFloat());
}

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner) {
    SetDataType(ftCurrency);
    SetCurrency(true);
}

// ---------------------------------------------------------------------------------------------
// TBooleanField

TBooleanField::TBooleanField(TComponent* owner) : TField(owner) {
    SetDataType(ftBoolean);
}

bool TBooleanField::GetValue(bool& value) const {
    int16_t v = 0;
    bool ok = GetData(&v);
    value = ok && v != 0;
    return ok;
}

Variant TBooleanField::GetAsVariant() const {
    bool v = false;
    if (!GetValue(v)) return rtl::Null();
    return Variant(v);
}

void TBooleanField::SetVarValue(const Variant& value) {
    SetAsBooleanValue(value.AsBoolean());
}

AnsiString TBooleanField::GetAsString() const {
    bool v = false;
    if (!GetValue(v)) return AnsiString();
    return v ? "True" : "False";
}

void TBooleanField::SetAsStringValue(const AnsiString& value) {
    std::string s = rtl::Trim(value);
    if (s.empty()) {
        Clear();
        return;
    }
    auto prefixOf = [&](const std::string& word) {
        return s.size() <= word.size() && rtl::AnsiSameText(s, word.substr(0, s.size()));
    };
    if (prefixOf("False"))
        SetAsBooleanValue(false);
    else if (prefixOf("True"))
        SetAsBooleanValue(true);
    else
        DatabaseErrorFmt("'%s' is not a valid boolean value for field '%s'", {value, DisplayName()});
}

bool TBooleanField::GetAsBoolean() const {
    bool v = false;
    GetValue(v);
    return v;
}

void TBooleanField::SetAsBooleanValue(bool value) {
    int16_t v = value ? -1 : 0;
    SetData(&v);
}

// ---------------------------------------------------------------------------------------------
// TBCDField, TFMTBCDField

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner) {
    SetDataType(ftBCD);
    SetSize(4);
}

void TBCDField::CheckSize(int value) const {
    if (value < 0 || value > 32) DatabaseError("Invalid field size");
}

bool TBCDField::GetValue(rtl::Currency& value) const {
    value = rtl::Currency();
    return GetData(&value, false);
}

Variant TBCDField::GetAsVariant() const {
    rtl::Currency v;
    if (!GetValue(v)) return rtl::Null();
    return Variant(v);
}

void TBCDField::SetVarValue(const Variant& value) {
    SetAsCurrencyValue(value.AsCurrency());
}

AnsiString TBCDField::GetAsString() const {
    rtl::Currency v;
    return GetValue(v) ? rtl::CurrToStr(v) : AnsiString();
}

void TBCDField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsCurrencyValue(rtl::StrToCurr(value));
}

int32_t TBCDField::GetAsInteger() const {
    return ToInt32(GetAsLargeInt(), this);
}
void TBCDField::SetAsIntegerValue(int32_t value) {
    SetAsCurrencyValue(rtl::Currency::FromInt(value));
}
int64_t TBCDField::GetAsLargeInt() const {
    return RoundToInt64(GetAsCurrency().ToDouble(), this);
}
double TBCDField::GetAsFloat() const {
    return GetAsCurrency().ToDouble();
}
void TBCDField::SetAsFloatValue(double value) {
    SetAsCurrencyValue(rtl::Currency::FromDouble(value));
}

rtl::Currency TBCDField::GetAsCurrency() const {
    rtl::Currency v;
    GetValue(v);
    return v;
}

void TBCDField::SetAsCurrencyValue(rtl::Currency value) {
    if ((minValue_ != rtl::Currency() || maxValue_ != rtl::Currency()) &&
        (value < minValue_ || value > maxValue_))
        FieldRangeError(value.ToDouble(), minValue_.ToDouble(), maxValue_.ToDouble(), this);
    SetData(&value, false);
}

TBcd TBCDField::GetAsBCD() const {
    TBcd bcd{};
    rtl::Currency v;
    if (GetValue(v)) rtl::CurrToBCD(v, bcd, 32, Size());
    return bcd;
}

void TBCDField::SetAsBCDValue(const TBcd& value) {
    rtl::Currency c;
    if (!rtl::BCDToCurr(value, c)) throw rtl::EBcdOverflowException("BCD overflow");
    SetAsCurrencyValue(c);
}

TFMTBCDField::TFMTBCDField(TComponent* owner) : TNumericField(owner) {
    SetDataType(ftFMTBcd);
    SetSize(8);
    precision_ = 15;
}

void TFMTBCDField::CheckSize(int value) const {
    if (value < 0 || value > rtl::MaxFMTBcdFractionSize) DatabaseError("Invalid field size");
}

bool TFMTBCDField::GetValue(TBcd& value) const {
    value = TBcd{};
    return GetData(&value);
}

Variant TFMTBCDField::GetAsVariant() const {
    TBcd v;
    if (!GetValue(v)) return rtl::Null();
    return rtl::VarFMTBcdCreate(v);
}

void TFMTBCDField::SetVarValue(const Variant& value) {
    SetAsBCDValue(rtl::VarToBcd(value));
}

AnsiString TFMTBCDField::GetAsString() const {
    TBcd v;
    return GetValue(v) ? rtl::BcdToStr(v) : AnsiString();
}

void TFMTBCDField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsBCDValue(rtl::StrToBcd(value));
}

int32_t TFMTBCDField::GetAsInteger() const {
    return ToInt32(GetAsLargeInt(), this);
}
void TFMTBCDField::SetAsIntegerValue(int32_t value) {
    SetAsBCDValue(rtl::IntegerToBcd(value));
}
int64_t TFMTBCDField::GetAsLargeInt() const {
    return rtl::BcdToInt64(GetAsBCD());
}
void TFMTBCDField::SetAsLargeIntValue(int64_t value) {
    SetAsBCDValue(rtl::IntegerToBcd(value));
}
double TFMTBCDField::GetAsFloat() const {
    return rtl::BcdToDouble(GetAsBCD());
}
void TFMTBCDField::SetAsFloatValue(double value) {
    SetAsBCDValue(rtl::DoubleToBcd(value));
}

rtl::Currency TFMTBCDField::GetAsCurrency() const {
    rtl::Currency c;
    if (!rtl::BCDToCurr(GetAsBCD(), c)) throw rtl::EBcdOverflowException("BCD overflow");
    return c;
}

void TFMTBCDField::SetAsCurrencyValue(rtl::Currency value) {
    TBcd bcd{};
    rtl::CurrToBCD(value, bcd, 32, 4);
    SetAsBCDValue(bcd);
}

TBcd TFMTBCDField::GetAsBCD() const {
    TBcd v;
    GetValue(v);
    return v;
}

void TFMTBCDField::SetAsBCDValue(const TBcd& value) {
    SetData(&value);
}

// ---------------------------------------------------------------------------------------------
// Dates and times

TDateTimeField::TDateTimeField(TComponent* owner) : TField(owner) {
    SetDataType(ftDateTime);
}

bool TDateTimeField::GetValue(TDateTime& value) const {
    value = 0;
    return GetData(&value, false);
}

Variant TDateTimeField::GetAsVariant() const {
    TDateTime v = 0;
    if (!GetValue(v)) return rtl::Null();
    return Variant::FromDateTime(v);
}

void TDateTimeField::SetVarValue(const Variant& value) {
    SetAsDateTimeValue(value.AsDateTime());
}

AnsiString TDateTimeField::GetAsString() const {
    TDateTime v = 0;
    return GetValue(v) ? FormatValue(v) : AnsiString();
}

void TDateTimeField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsDateTimeValue(ParseValue(value));
}

double TDateTimeField::GetAsFloat() const {
    return GetAsDateTime();
}
void TDateTimeField::SetAsFloatValue(double value) {
    SetAsDateTimeValue(value);
}

TDateTime TDateTimeField::GetAsDateTime() const {
    TDateTime v = 0;
    GetValue(v);
    return v;
}

void TDateTimeField::SetAsDateTimeValue(TDateTime value) {
    SetData(&value, false);
}

TSQLTimeStamp TDateTimeField::GetAsSQLTimeStamp() const {
    TDateTime v = 0;
    return GetValue(v) ? rtl::DateTimeToSQLTimeStamp(v) : rtl::NullSQLTimeStamp;
}

void TDateTimeField::SetAsSQLTimeStampValue(const TSQLTimeStamp& value) {
    SetAsDateTimeValue(rtl::SQLTimeStampToDateTime(value));
}

std::string TDateTimeField::GetText() const {
    TDateTime v = 0;
    if (!GetValue(v)) return std::string();
    return displayFormat_.empty() ? FormatValue(v) : rtl::FormatDateTime(displayFormat_, v);
}

std::string TDateTimeField::FormatValue(TDateTime value) const {
    return rtl::DateTimeToStr(value);
}
TDateTime TDateTimeField::ParseValue(const std::string& text) const {
    return rtl::StrToDateTime(text);
}

TDateField::TDateField(TComponent* owner) : TDateTimeField(owner) {
    SetDataType(ftDate);
}
std::string TDateField::FormatValue(TDateTime value) const {
    return rtl::DateToStr(value);
}
TDateTime TDateField::ParseValue(const std::string& text) const {
    return rtl::StrToDate(text);
}

TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner) {
    SetDataType(ftTime);
}
std::string TTimeField::FormatValue(TDateTime value) const {
    return rtl::TimeToStr(value);
}
TDateTime TTimeField::ParseValue(const std::string& text) const {
    return rtl::StrToTime(text);
}

TSQLTimeStampField::TSQLTimeStampField(TComponent* owner) : TField(owner) {
    SetDataType(ftTimeStamp);
}

bool TSQLTimeStampField::GetValue(TSQLTimeStamp& value) const {
    value = TSQLTimeStamp{};
    return GetData(&value);
}

Variant TSQLTimeStampField::GetAsVariant() const {
    TSQLTimeStamp v;
    if (!GetValue(v)) return rtl::Null();
    return rtl::VarSQLTimeStampCreate(v);
}

void TSQLTimeStampField::SetVarValue(const Variant& value) {
    SetAsSQLTimeStampValue(rtl::VarToSQLTimeStamp(value));
}

AnsiString TSQLTimeStampField::GetAsString() const {
    TSQLTimeStamp v;
    return GetValue(v) ? rtl::SQLTimeStampToStr("", v) : AnsiString();
}

void TSQLTimeStampField::SetAsStringValue(const AnsiString& value) {
    if (IsBlankText(value))
        Clear();
    else
        SetAsSQLTimeStampValue(rtl::StrToSQLTimeStamp(value));
}

double TSQLTimeStampField::GetAsFloat() const {
    return GetAsDateTime();
}
void TSQLTimeStampField::SetAsFloatValue(double value) {
    SetAsDateTimeValue(value);
}

TDateTime TSQLTimeStampField::GetAsDateTime() const {
    TSQLTimeStamp v;
    return GetValue(v) ? rtl::SQLTimeStampToDateTime(v) : 0.0;
}

void TSQLTimeStampField::SetAsDateTimeValue(TDateTime value) {
    SetAsSQLTimeStampValue(rtl::DateTimeToSQLTimeStamp(value));
}

TSQLTimeStamp TSQLTimeStampField::GetAsSQLTimeStamp() const {
    TSQLTimeStamp v;
    GetValue(v);
    return v;
}

void TSQLTimeStampField::SetAsSQLTimeStampValue(const TSQLTimeStamp& value) {
    SetData(&value);
}

// ---------------------------------------------------------------------------------------------
// Binary fields

TBinaryField::TBinaryField(TComponent* owner) : TField(owner) {
    SetSize(16);
}

void TBinaryField::CheckSize(int value) const {
    if (value < 0 || value > 0xFFFF) DatabaseError("Invalid field size");
}

bool TBinaryField::ReadBytes(TBytes& value) const {
    TBytes buf(static_cast<size_t>(DataSize()) + 1);
    if (!GetData(buf.data())) {
        value.clear();
        return false;
    }
    buf.resize(static_cast<size_t>(DataSize()));
    value = std::move(buf);
    return true;
}

void TBinaryField::WriteBytes(const TBytes& value) {
    TBytes buf(static_cast<size_t>(DataSize()) + 1, 0);
    std::memcpy(buf.data(), value.data(), std::min(value.size(), static_cast<size_t>(DataSize())));
    SetData(buf.data());
}

Variant TBinaryField::GetAsVariant() const {
    TBytes b;
    if (!ReadBytes(b)) return rtl::Null();
    return rtl::BytesToVariant(b);
}

void TBinaryField::SetVarValue(const Variant& value) {
    if (value.IsArray())
        WriteBytes(rtl::VariantToBytes(value));
    else
        SetAsStringValue(value.AsString());
}

AnsiString TBinaryField::GetAsString() const {
    TBytes b;
    ReadBytes(b);
    return AnsiString(b.begin(), b.end());
}

void TBinaryField::SetAsStringValue(const AnsiString& value) {
    WriteBytes(TBytes(value.begin(), value.end()));
}

TBytes TBinaryField::GetAsBytes() const {
    TBytes b;
    ReadBytes(b);
    return b;
}

void TBinaryField::SetAsBytesValue(const TBytes& value) {
    WriteBytes(value);
}

TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner) {
    SetDataType(ftBytes);
}

TVarBytesField::TVarBytesField(TComponent* owner) : TBinaryField(owner) {
    SetDataType(ftVarBytes);
}

bool TVarBytesField::ReadBytes(TBytes& value) const {
    TBytes buf(static_cast<size_t>(DataSize()) + 1);
    if (!GetData(buf.data())) {
        value.clear();
        return false;
    }
    uint16_t len = 0;
    std::memcpy(&len, buf.data(), 2);
    size_t n = std::min<size_t>(len, static_cast<size_t>(Size()));
    value.assign(buf.begin() + 2, buf.begin() + 2 + static_cast<ptrdiff_t>(n));
    return true;
}

void TVarBytesField::WriteBytes(const TBytes& value) {
    TBytes buf(static_cast<size_t>(DataSize()) + 1, 0);
    uint16_t len = static_cast<uint16_t>(std::min(value.size(), static_cast<size_t>(Size())));
    std::memcpy(buf.data(), &len, 2);
    std::memcpy(buf.data() + 2, value.data(), len);
    SetData(buf.data());
}

// ---------------------------------------------------------------------------------------------
// Blob fields

namespace {

rtl::TOwned<rtl::TStream> OpenBlob(const TBlobField* field, TBlobStreamMode mode) {
    TDataSet* ds = field->DataSet();
    if (!ds) DatabaseErrorFmt("Field '%s' has no dataset", {field->DisplayName()});
    return rtl::TOwned<rtl::TStream>(ds->CreateBlobStream(const_cast<TBlobField*>(field), mode));
}

}  // namespace

TBlobField::TBlobField(TComponent* owner) : TField(owner) {
    SetDataType(ftBlob);
}

int64_t TBlobField::BlobSize() const {
    auto s = OpenBlob(this, bmRead);
    return s ? s->Size() : 0;
}

bool TBlobField::GetIsNull() const {
    if (modified_) return BlobSize() == 0;
    return TField::GetIsNull();
}

std::string TBlobField::ReadAll() const {
    auto s = OpenBlob(this, bmRead);
    if (!s) return std::string();
    s->Seek(0, rtl::soBeginning);
    std::string data(static_cast<size_t>(s->Size()), '\0');
    if (!data.empty()) s->ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    return data;
}

void TBlobField::WriteAll(const void* data, size_t size) {
    auto s = OpenBlob(this, bmWrite);
    if (!s) DatabaseErrorFmt("Field '%s' cannot be modified", {DisplayName()}, DataSet());
    if (size > 0) s->WriteBuffer(data, static_cast<int64_t>(size));
    modified_ = true;
}

void TBlobField::Clear() {
    WriteAll(nullptr, 0);
}

void TBlobField::LoadFromStream(rtl::TStream& stream) {
    auto s = OpenBlob(this, bmWrite);
    if (!s) DatabaseErrorFmt("Field '%s' cannot be modified", {DisplayName()}, DataSet());
    s->CopyFrom(stream, 0);
    modified_ = true;
}

void TBlobField::SaveToStream(rtl::TStream& stream) const {
    auto s = OpenBlob(this, bmRead);
    if (s && s->Size() > 0) stream.CopyFrom(*s, 0);
}

Variant TBlobField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    std::string data = ReadAll();
    return rtl::BytesToVariant(TBytes(data.begin(), data.end()));
}

void TBlobField::SetVarValue(const Variant& value) {
    if (value.IsArray())
        SetAsBytesValue(rtl::VariantToBytes(value));
    else
        SetAsStringValue(value.AsString());
}

AnsiString TBlobField::GetAsString() const {
    return ReadAll();
}
void TBlobField::SetAsStringValue(const AnsiString& value) {
    WriteAll(value.data(), value.size());
}
WideString TBlobField::GetAsWideString() const {
    return rtl::AnsiToWide(ReadAll());
}
void TBlobField::SetAsWideStringValue(const WideString& value) {
    SetAsStringValue(rtl::WideToAnsi(value));
}

TBytes TBlobField::GetAsBytes() const {
    std::string data = ReadAll();
    return TBytes(data.begin(), data.end());
}

void TBlobField::SetAsBytesValue(const TBytes& value) {
    WriteAll(value.data(), value.size());
}

std::string TBlobField::GetText() const {
    return IsNull() ? "(blob)" : "(BLOB)";
}

TMemoField::TMemoField(TComponent* owner) : TBlobField(owner) {
    SetDataType(ftMemo);
}

Variant TMemoField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    return Variant(ReadAll());
}

std::string TMemoField::GetText() const {
    return IsNull() ? "(memo)" : "(MEMO)";
}

TWideMemoField::TWideMemoField(TComponent* owner) : TBlobField(owner) {
    SetDataType(ftWideMemo);
}

Variant TWideMemoField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    return Variant(GetAsWideString());
}

void TWideMemoField::SetVarValue(const Variant& value) {
    SetAsWideStringValue(value.AsWideString());
}
AnsiString TWideMemoField::GetAsString() const {
    return rtl::WideToAnsi(GetAsWideString());
}
void TWideMemoField::SetAsStringValue(const AnsiString& value) {
    SetAsWideStringValue(rtl::AnsiToWide(value));
}

WideString TWideMemoField::GetAsWideString() const {
    std::string data = ReadAll();
    WideString w(data.size() / 2, u'\0');
    std::memcpy(w.data(), data.data(), w.size() * 2);
    return w;
}

void TWideMemoField::SetAsWideStringValue(const WideString& value) {
    WriteAll(value.data(), value.size() * sizeof(char16_t));
}

std::string TWideMemoField::GetText() const {
    return IsNull() ? "(widememo)" : "(WIDEMEMO)";
}

TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner) {
    SetDataType(ftGraphic);
}

// ---------------------------------------------------------------------------------------------
// TVariantField

TVariantField::TVariantField(TComponent* owner) : TField(owner) {
    SetDataType(ftVariant);
}

bool TVariantField::GetIsNull() const {
    Variant v;
    return !GetData(&v) || v.IsNull() || v.IsEmpty();
}

Variant TVariantField::GetAsVariant() const {
    Variant v;
    if (!GetData(&v)) return rtl::Null();
    return v;
}

void TVariantField::SetVarValue(const Variant& value) {
    Variant copy(value);
    SetData(&copy);
}

AnsiString TVariantField::GetAsString() const {
    return rtl::VarToStr(GetAsVariant());
}
void TVariantField::SetAsStringValue(const AnsiString& value) {
    SetVarValue(Variant(value));
}

int32_t TVariantField::GetAsInteger() const {
    Variant v = GetAsVariant();
    return v.IsNull() ? 0 : v.AsInteger();
}
void TVariantField::SetAsIntegerValue(int32_t value) {
    SetVarValue(Variant(value));
}
int64_t TVariantField::GetAsLargeInt() const {
    Variant v = GetAsVariant();
    return v.IsNull() ? 0 : v.AsInt64();
}
double TVariantField::GetAsFloat() const {
    Variant v = GetAsVariant();
    return v.IsNull() ? 0.0 : v.AsDouble();
}
void TVariantField::SetAsFloatValue(double value) {
    SetVarValue(Variant(value));
}
bool TVariantField::GetAsBoolean() const {
    Variant v = GetAsVariant();
    return v.IsNull() ? false : v.AsBoolean();
}
void TVariantField::SetAsBooleanValue(bool value) {
    SetVarValue(Variant(value));
}
TDateTime TVariantField::GetAsDateTime() const {
    Variant v = GetAsVariant();
    return v.IsNull() ? 0.0 : v.AsDateTime();
}
void TVariantField::SetAsDateTimeValue(TDateTime value) {
    SetVarValue(Variant::FromDateTime(value));
}

// ---------------------------------------------------------------------------------------------
// Object fields

TObjectField::TObjectField(TComponent* owner) : TField(owner), fields_(std::make_unique<TFields>(nullptr)) {}

TObjectField::~TObjectField() {
    fields_->Clear();
}

Variant TObjectField::GetAsVariant() const {
    if (fields_->Count() == 0) return rtl::Null();
    Variant v = rtl::VarArrayCreate({0, fields_->Count() - 1}, rtl::varVariant);
    for (int i = 0; i < fields_->Count(); ++i) v.PutElement(i, fields_->Fields(i)->Value());
    return v;
}

void TObjectField::SetVarValue(const Variant& value) {
    if (!value.IsArray()) AccessError("Variant");
    int low = value.ArrayLowBound();
    int n = std::min(fields_->Count(), value.ArrayHighBound() - low + 1);
    for (int i = 0; i < n; ++i) fields_->Fields(i)->SetAsVariant(value.GetElement(low + i));
}

AnsiString TObjectField::GetAsString() const {
    return "(" + FieldTypeName(DataType()) + ")";
}

TADTField::TADTField(TComponent* owner) : TObjectField(owner) {
    SetDataType(ftADT);
}
TArrayField::TArrayField(TComponent* owner) : TObjectField(owner) {
    SetDataType(ftArray);
    SetSize(10);
}
TReferenceField::TReferenceField(TComponent* owner) : TDataSetField(owner) {
    SetDataType(ftReference);
}

TDataSetField::TDataSetField(TComponent* owner) : TObjectField(owner) {
    SetDataType(ftDataSet);
}

TDataSetField::~TDataSetField() {
    SetNestedDataSet(nullptr);
    if (TDataSet* ds = DataSet()) std::erase(ds->dataSetFields_, this);
}

void TDataSetField::SetNestedDataSet(TDataSet* value) {
    if (value == nestedDataSet_) return;
    if (nestedDataSet_) nestedDataSet_->dataSetField_ = nullptr;
    nestedDataSet_ = value;
    if (value) {
        if (value->dataSetField_) value->dataSetField_->nestedDataSet_ = nullptr;
        value->dataSetField_ = this;
    }
}

}  // namespace db
