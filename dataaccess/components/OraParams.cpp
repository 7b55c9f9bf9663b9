// TOraParam: Oracle values held in objects (cursors, timestamps, intervals, exact numbers,
// object types, REFs, collections, XMLTYPE), PL/SQL tables and DML arrays (one parameter
// carrying elements 1 .. Length); the Oracle data type map.
#include "dataaccess/components/Ora.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

bool IsTimeStampKind(db::TFieldType t) {
    return t == db::ftTimeStamp || t == ftExtTimeStampTZ || t == ftExtTimeStampLTZ;
}

bool IsIntervalKind(db::TFieldType t) {
    return t == ftExtIntervalYM || t == ftExtIntervalDS;
}

bool OneOf(db::TFieldType t, std::initializer_list<db::TFieldType> list) {
    for (auto x : list)
        if (x == t) return true;
    return false;
}

// Objects of the Oracle value kinds; the caller owns the one reference.
TSharedObject* NewValueObject(db::TFieldType t) {
    if (t == db::ftTimeStamp) return new TOraTimeStamp(dtTimeStamp);
    if (t == ftExtTimeStampTZ) return new TOraTimeStamp(dtTimeStampTZ);
    if (t == ftExtTimeStampLTZ) return new TOraTimeStamp(dtTimeStampLTZ);
    if (t == ftExtIntervalYM) return new TOraInterval(dtIntervalYM);
    if (t == ftExtIntervalDS) return new TOraInterval(dtIntervalDS);
    if (t == ftExtNumber) return new TOraNumber();
    return nullptr;
}

bool IsDBObjectType(db::TFieldType t) {
    return t == db::ftADT || t == db::ftArray || t == db::ftReference || t == db::ftDataSet || t == ftExtXML;
}

// An empty value of the kind; its type comes later, from the statement or from the user.
TOraObject* NewDBObject(db::TFieldType t) {
    if (t == db::ftArray) return new TOraArray();
    if (t == db::ftReference) return new TOraRef();
    if (t == db::ftDataSet) return new TOraNestTable();
    if (t == ftExtXML) return new TOraXML();
    return new TOraObject();
}

db::TFieldType KindOf(TOraObject* value) {
    if (dynamic_cast<TOraXML*>(value)) return ftExtXML;
    if (dynamic_cast<TOraRef*>(value)) return db::ftReference;
    if (dynamic_cast<TOraNestTable*>(value)) return db::ftDataSet;
    if (dynamic_cast<TOraArray*>(value)) return db::ftArray;
    return db::ftADT;
}

AnsiString ValueObjectText(TSharedObject* obj) {
    if (auto* ts = dynamic_cast<TOraTimeStamp*>(obj)) return ts->GetAsString();
    if (auto* iv = dynamic_cast<TOraInterval*>(obj)) return iv->GetAsString();
    if (auto* n = dynamic_cast<TOraNumber*>(obj)) return n->GetAsString();
    return AnsiString();
}

bool ValueObjectNull(TSharedObject* obj) {
    if (auto* ts = dynamic_cast<TOraTimeStamp*>(obj)) return ts->GetIsNull();
    if (auto* iv = dynamic_cast<TOraInterval*>(obj)) return iv->GetIsNull();
    if (auto* n = dynamic_cast<TOraNumber*>(obj)) return n->GetIsNull();
    return true;
}

void SetValueObject(TSharedObject* obj, const rtl::Variant& value) {
    const bool null = value.IsNull() || value.IsEmpty();
    if (auto* ts = dynamic_cast<TOraTimeStamp*>(obj)) {
        if (null)
            ts->SetIsNull(true);
        else if (value.VarType() == rtl::varDate)
            ts->SetAsDateTime(value.AsDateTime());
        else if (value.VarType() == rtl::varSQLTimeStamp)
            SQLTimeStampToOraTimeStamp(ts, value.AsSQLTimeStamp());
        else
            ts->SetAsString(value.AsString());
    } else if (auto* iv = dynamic_cast<TOraInterval*>(obj)) {
        if (null)
            iv->SetIsNull(true);
        else
            iv->SetAsString(value.AsString());
    } else if (auto* n = dynamic_cast<TOraNumber*>(obj)) {
        if (null)
            n->SetIsNull(true);
        else
            n->SetAsString(value.AsString());
    }
}

}  // namespace

TOraParam::TOraParam(rtl::TCollection* owner) : TDAParam(owner) {}

TOraParam::~TOraParam() {
    ReleaseArray();
}

bool TOraParam::IsBlobDataType(db::TFieldType t) const {
    return TDAParam::IsBlobDataType(t) || t == db::ftOraBlob || t == db::ftOraClob || t == ftExtBFile;
}

bool TOraParam::IsObjectDataType(db::TFieldType t) const {
    return IsBlobDataType(t) || t == db::ftCursor || IsTimeStampKind(t) || IsIntervalKind(t) ||
           t == ftExtNumber || IsDBObjectType(t);
}

bool TOraParam::IsDBObjectKind() const {
    return IsDBObjectType(DataType());
}

bool TOraParam::IsOraValueKind() const {
    const auto t = DataType();
    return IsTimeStampKind(t) || IsIntervalKind(t) || t == ftExtNumber;
}

void TOraParam::CreateObject() {
    rtl::Assert(paramObject_ == nullptr);
    const auto t = DataType();
    if (t == db::ftCursor) {
        paramObject_ = new TOraCursor();
    } else if (t == db::ftOraBlob || t == db::ftOraClob) {
        // a CLOB turns national when the parameter does, at the bind
        auto* lob = new TOraLob();
        lob->LobType = t == db::ftOraBlob ? 0 : 1;
        paramObject_ = lob;
        return;
    } else if (t == ftExtBFile) {
        paramObject_ = new TOraFile();
        return;
    } else if (IsOraValueKind()) {
        if (IsArray()) {
            for (int i = 1; i <= arrayValue_.ArrayHighBound(); ++i)
                if (!arrayValue_.GetElement(i).AsObject())
                    arrayValue_.PutElement(i, rtl::Variant::FromObject(NewValueObject(t)));
            return;
        }
        paramObject_ = NewValueObject(t);
    } else if (IsDBObjectType(t)) {
        paramObject_ = NewDBObject(t);
    } else {
        TDAParam::CreateObject();
        return;
    }
    data_ = rtl::Variant("Object");
    null_ = false;
}

void TOraParam::ReleaseArray() {
    if (!arrayValue_.IsArray()) return;
    for (int i = 1; i <= arrayValue_.ArrayHighBound(); ++i)
        if (auto* obj = static_cast<TSharedObject*>(arrayValue_.GetElement(i).AsObject())) {
            obj->Release();
            arrayValue_.PutElement(i, rtl::Variant());
        }
}

void TOraParam::SetDataType(db::TFieldType value) {
    if (value == DataType()) return;
    const bool national = national_;
    national_ = false;
    if (IsOraValueKind() && IsArray()) {
        ReleaseArray();
        arrayValue_.Clear();
    }
    TDAParam::SetDataType(value);
    if (national) SetNational(true);
}

void TOraParam::SetNational(bool value) {
    if (value == national_) return;
    if (value && !OneOf(DataType(), {db::ftUnknown, db::ftString, db::ftMemo, db::ftFixedChar,
                                     db::ftWideString, db::ftOraClob, db::ftWideMemo, db::ftFixedWideChar}))
        throw rtl::Exception("Wrong national type");
    national_ = value;
}

void TOraParam::SetTable(bool value) {
    if (value == table_) return;
    if (value && !OneOf(DataType(), {db::ftUnknown, db::ftString, db::ftInteger, db::ftFloat, db::ftDateTime,
                                     db::ftFixedChar, db::ftWideString, db::ftFixedWideChar}))
        throw rtl::Exception("This type cannot consist in table");
    if (!value && IsArray()) {
        rtl::Variant first = arrayValue_.GetElement(1);
        arrayValue_.Clear();
        TDAParam::SetAsVariant(first);
    }
    table_ = value;
}

int TOraParam::Length() const {
    return IsArray() ? arrayValue_.ArrayHighBound() : 1;
}

void TOraParam::SetLength(int value) {
    if (value < 2) {
        if (IsArray()) {
            rtl::Variant first = arrayValue_.GetElement(1);
            const bool objects = IsOraValueKind();
            ReleaseArray();
            arrayValue_.Clear();
            if (!objects) TDAParam::SetAsVariant(first);
        }
        ParamDesc = nullptr;
        return;
    }
    if (!OneOf(DataType(), {db::ftUnknown, db::ftString, db::ftInteger, db::ftFloat, db::ftDateTime,
                            db::ftVarBytes, db::ftFixedChar, db::ftWideString, db::ftLargeint, db::ftFMTBcd,
                            db::ftTimeStamp, db::ftFixedWideChar, ftExtIntervalYM, ftExtIntervalDS,
                            ftExtTimeStampTZ, ftExtTimeStampLTZ, ftExtNumber}))
        throw rtl::Exception("Type is not allowed in DML array");
    TOraParamDesc* desc = ParamDesc;
    ParamDesc = nullptr;
    if (IsArray()) {
        const int old = arrayValue_.ArrayHighBound();
        for (int i = value + 1; i <= old; ++i)
            if (auto* obj = static_cast<TSharedObject*>(arrayValue_.GetElement(i).AsObject())) obj->Release();
        arrayValue_.ArrayRedim(value);
    } else {
        rtl::Variant scalar = db::TParam::IsNull() ? rtl::Variant::MakeNull() : data_;
        arrayValue_ = rtl::VarArrayCreate({1, value}, rtl::varVariant);
        if (IsOraValueKind()) {
            FreeObject();
        } else {
            arrayValue_.PutElement(1, scalar);
        }
    }
    if (IsOraValueKind()) CreateObject();
    ParamDesc = desc;
    if (ParamDesc && ParamDesc->GetLength() != value) {
        ParamDesc->SetLength(value);
        for (int i = 1; i <= value && i <= arrayValue_.ArrayHighBound(); ++i)
            ParamDesc->SetItemAsVariant(i, arrayValue_.GetElement(i));
    }
}

rtl::Variant TOraParam::ItemValue(int index) {
    if (index < 1) throw rtl::ERangeError("Index of array is not range");
    if (index > Length()) SetLength(index);
    if (!IsArray()) return GetAsVariant();
    rtl::Variant v = arrayValue_.GetElement(index);
    if (IsOraValueKind()) {
        auto* obj = static_cast<TSharedObject*>(v.AsObject());
        return obj ? rtl::Variant(ValueObjectText(obj)) : rtl::Variant(AnsiString());
    }
    return v;
}

void TOraParam::SetItemValue(int index, const rtl::Variant& value) {
    if (index < 1) throw rtl::ERangeError("Index of array is not range");
    if (index > Length()) SetLength(index);
    if (!IsArray()) {
        SetAsVariant(value);
        return;
    }
    if (IsOraValueKind()) {
        auto* obj = static_cast<TSharedObject*>(arrayValue_.GetElement(index).AsObject());
        rtl::Assert(obj != nullptr);
        SetValueObject(obj, value);
    } else {
        arrayValue_.PutElement(index, value);
    }
    if (ParamDesc) ParamDesc->SetItemAsVariant(index, value);
}

int TOraParam::GetSize() const {
    return OneOf(DataType(), {db::ftString, db::ftFixedChar, db::ftWideString, db::ftFixedWideChar})
               ? TDAParam::GetSize()
               : 0;
}

AnsiString TOraParam::AsString() const {
    if (IsOraValueKind() && paramObject_) return ValueObjectText(paramObject_);
    if (auto* xml = dynamic_cast<TOraXML*>(paramObject_); xml && DataType() == ftExtXML)
        return xml->GetIsNull() ? AnsiString() : xml->GetAsString();
    return TDAParam::AsString();
}

void TOraParam::SetAsString(const AnsiString& value) {
    if (IsOraValueKind() && paramObject_) {
        SetValueObject(paramObject_, value.empty() ? rtl::Variant::MakeNull() : rtl::Variant(value));
        SetBound(true);
        return;
    }
    if (auto* xml = dynamic_cast<TOraXML*>(paramObject_); xml && DataType() == ftExtXML) {
        xml->SetAsString(value);
        SetBound(true);
        return;
    }
    TDAParam::SetAsString(value);
}

int32_t TOraParam::AsInteger() const {
    if (DataType() == ftExtNumber && paramObject_) {
        auto* n = static_cast<TOraNumber*>(paramObject_);
        return n->GetIsNull() ? 0 : static_cast<int32_t>(n->GetAsLargeInt());
    }
    return TDAParam::AsInteger();
}

void TOraParam::SetAsInteger(int32_t value) {
    if (DataType() == ftExtNumber && paramObject_) {
        static_cast<TOraNumber*>(paramObject_)->SetAsInteger(value);
        SetBound(true);
        return;
    }
    TDAParam::SetAsInteger(value);
}

double TOraParam::AsFloat() const {
    if (DataType() == ftExtNumber && paramObject_) {
        auto* n = static_cast<TOraNumber*>(paramObject_);
        return n->GetIsNull() ? 0.0 : n->GetAsFloat();
    }
    return TDAParam::AsFloat();
}

void TOraParam::SetAsFloat(double value) {
    if (DataType() == ftExtNumber && paramObject_) {
        static_cast<TOraNumber*>(paramObject_)->SetAsFloat(value);
        SetBound(true);
        return;
    }
    TDAParam::SetAsFloat(value);
}

rtl::Variant TOraParam::GetAsVariant() const {
    if (IsArray()) return arrayValue_;
    if (IsOraValueKind() && paramObject_)
        return ValueObjectNull(paramObject_) ? rtl::Variant::MakeNull()
                                             : rtl::Variant(ValueObjectText(paramObject_));
    if (auto* xml = dynamic_cast<TOraXML*>(paramObject_); xml && DataType() == ftExtXML)
        return xml->GetIsNull() ? rtl::Variant::MakeNull() : rtl::Variant(xml->GetAsString());
    return TDAParam::GetAsVariant();
}

void TOraParam::SetAsVariant(const rtl::Variant& value) {
    if (IsObjectDataType() && value.VarType() == (rtl::varByRef)) {
        SetParamObject(static_cast<TSharedObject*>(value.AsObject()));
        ReleaseArray();
        arrayValue_.Clear();
        return;
    }
    if (!IsObjectDataType() && value.IsArray() && DataType() != db::ftBytes && DataType() != db::ftVarBytes &&
        DataType() != db::ftBlob) {
        arrayValue_ = value;
        SetBound(true);
        return;
    }
    if (IsOraValueKind() && paramObject_) {
        SetValueObject(paramObject_, value);
        SetBound(true);
        return;
    }
    if (auto* xml = dynamic_cast<TOraXML*>(paramObject_); xml && DataType() == ftExtXML) {
        if (value.IsNull() || value.IsEmpty())
            xml->SetIsNull(true);
        else
            xml->SetAsString(value.AsString());
        SetBound(true);
        return;
    }
    TDAParam::SetAsVariant(value);
}

void TOraParam::Clear() {
    if (IsOraValueKind()) {
        if (IsArray()) return;
        if (paramObject_) SetValueObject(paramObject_, rtl::Variant::MakeNull());
        return;
    }
    if (auto* xml = dynamic_cast<TOraXML*>(paramObject_); xml && DataType() == ftExtXML) {
        xml->SetIsNull(true);
        return;
    }
    TDAParam::Clear();
}

bool TOraParam::GetIsNull() const {
    if (IsOraValueKind()) return IsArray() ? false : !paramObject_ || ValueObjectNull(paramObject_);
    if (IsDBObjectKind()) {
        if (IsArray()) return false;
        auto* value = dynamic_cast<TOraObject*>(paramObject_);
        return !value || value->GetIsNull();
    }
    if (IsArray()) return false;
    return TDAParam::GetIsNull();
}

void TOraParam::Assign(rtl::TPersistent* source) {
    TDAParam::Assign(source);
    auto* src = dynamic_cast<TOraParam*>(source);
    if (!src) return;
    // A null value is shared as well: it carries the type an output parameter is read with.
    if (IsDBObjectKind() && src->paramObject_ && src->paramObject_ != paramObject_)
        SetParamObject(src->paramObject_);
    SetTable(src->table_);
    HasDefault = src->HasDefault;
    IsResult = src->IsResult;
    if (src->Length() > 1) {
        SetLength(src->Length());
        for (int i = 1; i <= src->Length(); ++i) SetItemValue(i, src->ItemValue(i));
    }
}

template <class T>
T* TOraParam::ObjectOf(db::TFieldType kind, db::TFieldType alsoFits) {
    if (DataType() == db::ftUnknown) SetDataType(kind);
    if (DataType() != kind && DataType() != alsoFits) return nullptr;
    return dynamic_cast<T*>(paramObject_);
}

TOraObject* TOraParam::AsObject() {
    return ObjectOf<TOraObject>(db::ftADT, db::ftADT);
}

// A nested table is a collection too.
TOraArray* TOraParam::AsArray() {
    return ObjectOf<TOraArray>(db::ftArray, db::ftDataSet);
}

TOraNestTable* TOraParam::AsTable() {
    return ObjectOf<TOraNestTable>(db::ftDataSet, db::ftDataSet);
}

TOraRef* TOraParam::AsRef() {
    return ObjectOf<TOraRef>(db::ftReference, db::ftReference);
}

TOraXML* TOraParam::AsXML() {
    return ObjectOf<TOraXML>(ftExtXML, ftExtXML);
}

void TOraParam::SetAsObject(TOraObject* value) {
    if (IsArray()) {
        if (IsOraValueKind()) ReleaseArray();
        arrayValue_.Clear();
    }
    FreeObject();
    // Set directly: no empty object of the kind is made only to be dropped.
    national_ = false;
    db::TParam::SetDataType(value ? KindOf(value) : db::ftADT);
    SubDataType = 0;
    if (value)
        SetParamObject(value);
    else
        CreateObject();
    SetBound(true);
}

TOraParams::TOraParams(rtl::TPersistent* owner)
    : TDAParams(owner, rtl::TCollectionItemClass::Of<TOraParam>()) {}

// ---------------------------------------------------------------------------------------------
// Data type map

db::TFieldType TOraDataTypesMap::GetFieldType(TDataType dataType) const {
    switch (dataType) {
        case dtFixedChar:
            return db::ftFixedChar;
        case dtFixedWideChar:
            return db::ftFixedWideChar;
        case dtOraBlob:
            return db::ftOraBlob;
        case dtOraClob:
        case dtWideOraClob:
        case dtNClob:
            return db::ftOraClob;
        case dtBFile:
        case dtCFile:
            return ftExtBFile;
        case dtLabel:
            return ftExtLabel;
        case dtTimeStamp:
            return db::ftTimeStamp;
        case dtTimeStampTZ:
            return ftExtTimeStampTZ;
        case dtTimeStampLTZ:
            return ftExtTimeStampLTZ;
        case dtIntervalYM:
            return ftExtIntervalYM;
        case dtIntervalDS:
            return ftExtIntervalDS;
        case dtNumber:
            return ftExtNumber;
        case dtXML:
            return ftExtXML;
        case dtRowId:
        case dtURowId:
        case dtNString:
            return db::ftString;
        case dtNWideString:
            return db::ftWideString;
        case dtBFloat:
        case dtBDouble:
            return db::ftFloat;
        default:
            return TDataTypesMap::GetFieldType(dataType);
    }
}

TDataType TOraDataTypesMap::GetDataType(db::TFieldType fieldType) const {
    switch (static_cast<int>(fieldType)) {
        case db::ftDate:
        case db::ftTime:
            // Oracle has one DATE type, with the time of day.
            return dtDateTime;
        case db::ftFixedChar:
            return dtFixedChar;
        case db::ftFixedWideChar:
            return dtFixedWideChar;
        case db::ftOraBlob:
            return dtOraBlob;
        case db::ftOraClob:
            return dtOraClob;
        case db::ftTimeStamp:
            return dtTimeStamp;
        case ftExtBFile:
            return dtBFile;
        case ftExtLabel:
            return dtLabel;
        case ftExtTimeStampTZ:
            return dtTimeStampTZ;
        case ftExtTimeStampLTZ:
            return dtTimeStampLTZ;
        case ftExtIntervalYM:
            return dtIntervalYM;
        case ftExtIntervalDS:
            return dtIntervalDS;
        case ftExtNumber:
            return dtNumber;
        case ftExtXML:
            return dtXML;
        default:
            return TDataTypesMap::GetDataType(fieldType);
    }
}

const TOraDataTypesMap& TOraDataTypesMap::Instance() {
    static const TOraDataTypesMap map;
    return map;
}

}  // namespace dac
