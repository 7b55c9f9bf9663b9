// The Oracle field classes and the BFILE read stream.
#include "dataaccess/components/OraFields.h"

#include <cstring>

#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

[[noreturn]] void CannotConvert() {
    throw rtl::EConvertError("Cannot convert type");
}

// The value object whose pointer the field's record holds; nil without a record or a value.
template <class T>
T* ValueOf(const db::TField* field) {
    if (!field->DataSet()) return nullptr;
    uint8_t cell[sizeof(rtl::TSQLTimeStamp)] = {};
    field->GetData(cell, true);
    void* handle = nullptr;
    std::memcpy(&handle, cell, sizeof handle);
    return dynamic_cast<T*>(TSharedObject::FromHandle(handle));
}

// Writes the same pointer back, so that the dataset marks the field modified.
void WriteBack(db::TField* field, TSharedObject* value) {
    void* handle = value->GetHandle();
    field->SetData(&handle, true);
}

std::string Desc(const char* name, bool isNull) {
    return isNull ? name : rtl::UpperCase(name);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BFILE

TBFileField::TBFileField(rtl::TComponent* owner) : db::TBlobField(owner) {
    SetDataType(ftExtBFile);
}

void TBFileField::SetBlobType(db::TFieldType) {
    SetDataType(ftExtBFile);
}

TOraFile* TBFileField::AsFile() const {
    return ValueOf<TOraFile>(this);
}

bool TBFileField::GetIsNull() const {
    TOraFile* file = AsFile();
    return !file || (file->GetFileDir().empty() && file->GetFileName().empty());
}

std::string TBFileField::ClassDesc() const {
    return Desc("(BFile)", IsNull());
}

std::string TBFileField::GetText() const {
    return ClassDesc();
}

TBFileStream::TBFileStream(TBFileField* field, db::TBlobStreamMode mode) : TBlobStream(field, mode) {
    if (!Opened()) return;
    file_ = dynamic_cast<TOraFile*>(FDataSet->GetBlob(field));
    if (!file_) return;
    // A cached content is served from memory; otherwise the server file is opened for reading.
    if (!file_->NeedRead()) return;
    if (file_->GetExists()) {
        file_->Open();
        fileOpened_ = true;
    } else {
        FHasBuffer = false;
    }
}

TBFileStream::~TBFileStream() {
    if (fileOpened_) {
        try {
            file_->Close();
        } catch (...) {
            // A stream going away must not raise; the file handle dies with the session.
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Dataset, reference and label fields

AnsiString TOraDataSetField::GetAsString() const {
    return Desc("(DataSet)", IsNull());
}

AnsiString TOraReferenceField::GetAsString() const {
    return Desc("(Reference)", IsNull());
}

TLabelField::TLabelField(rtl::TComponent* owner) : db::TField(owner) {
    SetDataType(ftExtLabel);
}

rtl::Variant TLabelField::GetAsVariant() const {
    return rtl::Null();
}

// ---------------------------------------------------------------------------------------------
// TIMESTAMP

TOraTimeStampField::TOraTimeStampField(rtl::TComponent* owner) : db::TField(owner) {
    SetDataType(db::ftTimeStamp);
}

int TOraTimeStampField::DataSize() const {
    return static_cast<int>(sizeof(rtl::TSQLTimeStamp));
}

bool TOraTimeStampField::HoldsSQLTimeStamp() const {
    auto* ds = dynamic_cast<TMemDataSet*>(DataSet());
    if (!ds || !ds->GetIRecordSet()) return false;
    TFieldDesc* desc = ds->GetFieldDesc(const_cast<TOraTimeStampField*>(this));
    return desc && desc->DataType == dtSQLTimeStamp;
}

TOraTimeStamp* TOraTimeStampField::AsTimeStamp() const {
    return HoldsSQLTimeStamp() ? nullptr : ValueOf<TOraTimeStamp>(this);
}

// The 16-byte form goes through a value object of its own, so both forms share the Oracle
// conversions; f receives nil when there is no value object.
template <class F>
auto TOraTimeStampField::WithValue(F f) const {
    if (!HoldsSQLTimeStamp()) return f(AsTimeStamp());
    rtl::TSQLTimeStamp ts{};
    const bool present = DataSet() && GetData(&ts, true);
    auto* temp = new TOraTimeStamp(dtTimeStamp);
    struct Release {
        TOraTimeStamp* p;
        ~Release() { p->Free(); }
    } release{temp};
    if (present) SQLTimeStampToOraTimeStamp(temp, ts);
    return f(temp);
}

template <class F>
void TOraTimeStampField::ChangeValue(F f) {
    if (!HoldsSQLTimeStamp()) {
        TOraTimeStamp* value = AsTimeStamp();
        if (!value) return;
        f(value);
        WriteBack(this, value);
        return;
    }
    WithValue([&](TOraTimeStamp* value) {
        f(value);
        if (value->GetIsNull()) {
            SetData(nullptr, true);
            return 0;
        }
        rtl::TSQLTimeStamp ts{};
        OraTimeStampToSQLTimeStamp(value, ts);
        SetData(&ts, true);
        return 0;
    });
}

bool TOraTimeStampField::GetIsNull() const {
    return WithValue([](TOraTimeStamp* value) { return !value || value->GetIsNull(); });
}

rtl::TDateTime TOraTimeStampField::GetAsDateTime() const {
    return WithValue([](TOraTimeStamp* value) { return value ? value->GetAsDateTime() : rtl::TDateTime(0); });
}

void TOraTimeStampField::SetAsDateTimeValue(rtl::TDateTime value) {
    ChangeValue([&](TOraTimeStamp* ts) { ts->SetAsDateTime(value); });
}

AnsiString TOraTimeStampField::GetAsString() const {
    return WithValue([this](TOraTimeStamp* value) {
        if (!value) return AnsiString();
        value->SetFormat(format_);
        return value->GetAsString();
    });
}

void TOraTimeStampField::SetAsStringValue(const AnsiString& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    ChangeValue([&](TOraTimeStamp* ts) {
        ts->SetFormat(format_);
        ts->SetAsString(value);
    });
}

rtl::TSQLTimeStamp TOraTimeStampField::GetAsSQLTimeStamp() const {
    return WithValue([](TOraTimeStamp* value) {
        rtl::TSQLTimeStamp ts = rtl::NullSQLTimeStamp;
        if (value && !value->GetIsNull()) OraTimeStampToSQLTimeStamp(value, ts);
        return ts;
    });
}

void TOraTimeStampField::SetAsSQLTimeStampValue(const rtl::TSQLTimeStamp& value) {
    ChangeValue([&](TOraTimeStamp* ts) { SQLTimeStampToOraTimeStamp(ts, value); });
}

rtl::Variant TOraTimeStampField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    return rtl::Variant::FromSQLTimeStamp(GetAsSQLTimeStamp());
}

void TOraTimeStampField::SetVarValue(const rtl::Variant& value) {
    const rtl::TVarType t = value.VarType();
    if (t == rtl::varSQLTimeStamp)
        SetAsSQLTimeStampValue(value.AsSQLTimeStamp());
    else if (t == rtl::varDate)
        SetAsDateTimeValue(value.AsDateTime());
    else if (rtl::VarIsStr(value))
        SetAsStringValue(value.AsString());
    else
        CannotConvert();
}

// ---------------------------------------------------------------------------------------------
// INTERVAL

TOraIntervalField::TOraIntervalField(rtl::TComponent* owner) : db::TField(owner) {
    SetDataType(ftExtIntervalDS);
}

TOraInterval* TOraIntervalField::AsInterval() const {
    return ValueOf<TOraInterval>(this);
}

void TOraIntervalField::ApplyPrecisions(TOraInterval* value) const {
    value->LeadingPrecision = static_cast<uint8_t>(leadPrecision_);
    value->FractionPrecision = static_cast<uint8_t>(fracPrecision_);
}

bool TOraIntervalField::GetIsNull() const {
    TOraInterval* value = AsInterval();
    return !value || value->GetIsNull();
}

AnsiString TOraIntervalField::GetAsString() const {
    TOraInterval* value = AsInterval();
    if (!value) return AnsiString();
    ApplyPrecisions(value);
    return value->GetAsString();
}

void TOraIntervalField::SetAsStringValue(const AnsiString& text) {
    if (text.empty()) {
        Clear();
        return;
    }
    TOraInterval* value = AsInterval();
    if (!value) return;
    ApplyPrecisions(value);
    value->SetAsString(text);
    WriteBack(this, value);
}

rtl::Variant TOraIntervalField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    return rtl::Variant(GetAsString());
}

void TOraIntervalField::SetVarValue(const rtl::Variant& value) {
    if (!rtl::VarIsStr(value)) CannotConvert();
    SetAsStringValue(value.AsString());
}

// ---------------------------------------------------------------------------------------------
// NUMBER

TOraNumberField::TOraNumberField(rtl::TComponent* owner) : db::TNumericField(owner) {
    SetDataType(ftExtNumber);
}

TOraNumber* TOraNumberField::AsNumber() const {
    return ValueOf<TOraNumber>(this);
}

bool TOraNumberField::IsValidChar(char c) const {
    const rtl::TFormatSettings& fs = rtl::FormatSettings();
    return c == '+' || c == '-' || (c >= '0' && c <= '9') || c == 'E' || c == 'e' ||
           c == fs.DecimalSeparator || c == fs.ThousandSeparator;
}

template <class F>
void TOraNumberField::ChangeValue(F f) {
    TOraNumber* value = AsNumber();
    if (!value) return;
    f(value);
    WriteBack(this, value);
}

bool TOraNumberField::GetIsNull() const {
    TOraNumber* value = AsNumber();
    return !value || value->GetIsNull();
}

AnsiString TOraNumberField::GetAsString() const {
    TOraNumber* value = AsNumber();
    return value ? value->GetAsString() : AnsiString();
}

void TOraNumberField::SetAsStringValue(const AnsiString& text) {
    if (text.empty()) {
        Clear();
        return;
    }
    ChangeValue([&](TOraNumber* n) { n->SetAsString(text); });
}

int32_t TOraNumberField::GetAsInteger() const {
    TOraNumber* value = AsNumber();
    return value && !value->GetIsNull() ? value->GetAsInteger() : 0;
}

void TOraNumberField::SetAsIntegerValue(int32_t v) {
    ChangeValue([&](TOraNumber* n) { n->SetAsInteger(v); });
}

int64_t TOraNumberField::GetAsLargeInt() const {
    TOraNumber* value = AsNumber();
    return value && !value->GetIsNull() ? value->GetAsLargeInt() : 0;
}

void TOraNumberField::SetAsLargeIntValue(int64_t v) {
    ChangeValue([&](TOraNumber* n) { n->SetAsLargeInt(v); });
}

double TOraNumberField::GetAsFloat() const {
    TOraNumber* value = AsNumber();
    return value && !value->GetIsNull() ? value->GetAsFloat() : 0.0;
}

void TOraNumberField::SetAsFloatValue(double v) {
    ChangeValue([&](TOraNumber* n) { n->SetAsFloat(v); });
}

rtl::Variant TOraNumberField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    // As text, so that no digit is lost to a double.
    return rtl::Variant(GetAsString());
}

void TOraNumberField::SetVarValue(const rtl::Variant& value) {
    switch (value.VarType()) {
        case rtl::varSmallint:
        case rtl::varInteger:
        case rtl::varShortInt:
        case rtl::varByte:
        case rtl::varWord:
            SetAsIntegerValue(value.AsInteger());
            break;
        case rtl::varSingle:
        case rtl::varDouble:
            SetAsFloatValue(value.AsDouble());
            break;
        default:
            if (!rtl::VarIsStr(value)) CannotConvert();
            SetAsStringValue(value.AsString());
    }
}

std::string TOraNumberField::GetText() const {
    return GetAsString();
}

// ---------------------------------------------------------------------------------------------
// XMLTYPE

TOraXMLField::TOraXMLField(rtl::TComponent* owner) : db::TField(owner) {
    SetDataType(ftExtXML);
}

TOraXML* TOraXMLField::AsXML() const {
    return ValueOf<TOraXML>(this);
}

bool TOraXMLField::GetIsNull() const {
    TOraXML* value = AsXML();
    return !value || value->GetIsNull();
}

std::string TOraXMLField::ClassDesc() const {
    return Desc("(OraXML)", IsNull());
}

AnsiString TOraXMLField::GetAsString() const {
    TOraXML* value = AsXML();
    return value && !value->GetIsNull() ? value->GetAsString() : AnsiString();
}

void TOraXMLField::SetAsStringValue(const AnsiString& text) {
    TOraXML* value = AsXML();
    if (!value) return;
    value->SetAsString(text);
    WriteBack(this, value);
}

void TOraXMLField::Clear() {
    TOraXML* value = AsXML();
    if (!value) return;
    value->SetIsNull(true);
    WriteBack(this, value);
}

rtl::Variant TOraXMLField::GetAsVariant() const {
    if (IsNull()) return rtl::Null();
    return rtl::Variant(GetAsString());
}

void TOraXMLField::SetVarValue(const rtl::Variant& value) {
    if (!rtl::VarIsStr(value)) CannotConvert();
    SetAsStringValue(value.AsString());
}

void TOraXMLField::SetTextValue(const std::string&) {
    AccessError("Text");
}

// ---------------------------------------------------------------------------------------------
// Type map and classes

namespace {

struct TypePair {
    TDataType dataType;
    int fieldType;
};

constexpr TypePair kExtendedTypes[] = {
    {dtTimeStamp, db::ftTimeStamp},      {dtBFile, ftExtBFile},           {dtLabel, ftExtLabel},
    {dtIntervalYM, ftExtIntervalYM},     {dtIntervalDS, ftExtIntervalDS}, {dtTimeStampTZ, ftExtTimeStampTZ},
    {dtTimeStampLTZ, ftExtTimeStampLTZ}, {dtNumber, ftExtNumber},         {dtXML, ftExtXML},
};

}  // namespace

db::TFieldType TOraFieldTypesMap::GetFieldType(TDataType dataType) const {
    for (const TypePair& p : kExtendedTypes)
        if (p.dataType == dataType) return static_cast<db::TFieldType>(p.fieldType);
    return TCustomOraDataTypesMap::GetFieldType(dataType);
}

TDataType TOraFieldTypesMap::GetDataType(db::TFieldType fieldType) const {
    for (const TypePair& p : kExtendedTypes)
        if (p.fieldType == static_cast<int>(fieldType)) return p.dataType;
    return TCustomOraDataTypesMap::GetDataType(fieldType);
}

const TOraFieldTypesMap& TOraFieldTypesMap::Instance() {
    static const TOraFieldTypesMap map;
    return map;
}

db::TFieldClass OraFieldClass(db::TFieldType fieldType) {
    switch (static_cast<int>(fieldType)) {
        case ftExtBFile:
            return db::TFieldClass::Of<TBFileField>();
        case ftExtLabel:
            return db::TFieldClass::Of<TLabelField>();
        case ftExtIntervalYM:
        case ftExtIntervalDS:
        case db::ftOraInterval:
            return db::TFieldClass::Of<TOraIntervalField>();
        case ftExtTimeStampTZ:
        case ftExtTimeStampLTZ:
        case db::ftTimeStamp:
        case db::ftOraTimeStamp:
            return db::TFieldClass::Of<TOraTimeStampField>();
        case ftExtNumber:
            return db::TFieldClass::Of<TOraNumberField>();
        case ftExtXML:
            return db::TFieldClass::Of<TOraXMLField>();
        case db::ftReference:
            return db::TFieldClass::Of<TOraReferenceField>();
        case db::ftDataSet:
            return db::TFieldClass::Of<TOraDataSetField>();
        default:
            return {};
    }
}

// ---------------------------------------------------------------------------------------------
// Registration

void RegisterOraFieldClasses() {
    auto once = [](const std::string& name, rtl::TObjectFactory factory) {
        if (!rtl::GetClass(name)) rtl::RegisterClassFactory(name, std::move(factory));
    };
    once("TCursorField", [] { return static_cast<rtl::TObject*>(new TDACursorField()); });
    once("TBFileField", [] { return static_cast<rtl::TObject*>(new TBFileField()); });
    once("TOraDataSetField", [] { return static_cast<rtl::TObject*>(new TOraDataSetField()); });
    once("TOraReferenceField", [] { return static_cast<rtl::TObject*>(new TOraReferenceField()); });
    once("TOraTimeStampField", [] { return static_cast<rtl::TObject*>(new TOraTimeStampField()); });
    once("TOraIntervalField", [] { return static_cast<rtl::TObject*>(new TOraIntervalField()); });
    once("TOraNumberField", [] { return static_cast<rtl::TObject*>(new TOraNumberField()); });
    once("TOraXMLField", [] { return static_cast<rtl::TObject*>(new TOraXMLField()); });
}

namespace {
// The programs are never built as libraries, so the classes are registered at start-up.
const bool kFieldClassesRegistered = (RegisterOraFieldClasses(), true);
}  // namespace

}  // namespace dac
