// Field classes of the Oracle types the platform's dataset framework has no class for: BFILE,
// label, TIMESTAMP (three kinds), INTERVAL (two kinds), NUMBER as an exact decimal, and the
// dataset and reference fields of collections and REFs; the read stream of BFILE contents.
//
// The record holds one pointer to a value object of the client layer (TOraTimeStamp,
// TOraInterval, TOraNumber, TOraFile) per field. A field reads the pointer through the dataset,
// changes the object in place and writes the same pointer back, so that the dataset marks the
// field modified and runs its change events. A nil pointer reads as null.
#pragma once

#include <string>

#include "dataaccess/components/Ora.h"
#include "dataaccess/core/MemDS.h"
#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraObjectsRef.h"
#include "platform/db/DB.h"

namespace dac {

class TBFileField;

// A read stream over a BFILE field's content; Opened is False when the server file is missing.
class TBFileStream : public TBlobStream {
public:
    TBFileStream(TBFileField* field, db::TBlobStreamMode mode);
    ~TBFileStream() override;

private:
    TOraFile* file_ = nullptr;
    // The stream opened the server file and closes it again.
    bool fileOpened_ = false;
};

class TBFileField : public db::TBlobField {
public:
    explicit TBFileField(rtl::TComponent* owner = nullptr);
    // Always ftBlob; setting it keeps the BFILE type.
    db::TFieldType BlobType() const { return db::ftBlob; }
    void SetBlobType(db::TFieldType value);
    bool AutoRefresh() const { return autoRefresh_; }
    void SetAutoRefresh(bool value) { autoRefresh_ = value; }
    // The BFILE object of the current record, or nil.
    TOraFile* AsFile() const;
    std::string ClassDesc() const;

protected:
    bool GetCanModify() const override { return false; }
    bool GetIsNull() const override;
    std::string GetText() const override;

private:
    bool autoRefresh_ = true;
};

class TOraDataSetField : public db::TDataSetField {
public:
    explicit TOraDataSetField(rtl::TComponent* owner = nullptr) : db::TDataSetField(owner) {}
    // Set when the nested dataset changed the collection, so that the parent writes it.
    bool Changed() const { return changed_; }
    void SetChanged(bool value) { changed_ = value; }

protected:
    AnsiString GetAsString() const override;

private:
    bool changed_ = false;
};

class TOraReferenceField : public db::TReferenceField {
public:
    explicit TOraReferenceField(rtl::TComponent* owner = nullptr) : db::TReferenceField(owner) {}

protected:
    AnsiString GetAsString() const override;
};

class TLabelField : public db::TField {
public:
    explicit TLabelField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return static_cast<int>(rtl::PointerSize); }
    void SetFieldType(db::TFieldType value) { SetDataType(value); }

protected:
    rtl::Variant GetAsVariant() const override;
};

class TOraTimeStampField : public db::TField {
public:
    explicit TOraTimeStampField(rtl::TComponent* owner = nullptr);
    int DataSize() const override;
    void SetFieldType(db::TFieldType value) { SetDataType(value); }
    // An Oracle date-time format mask; empty takes the platform's date and time settings.
    const AnsiString& Format() const { return format_; }
    void SetFormat(const AnsiString& value) { format_ = value; }
    // The value object of the current record, or nil.
    TOraTimeStamp* AsTimeStamp() const;

protected:
    bool GetIsNull() const override;
    rtl::TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(rtl::TDateTime value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    rtl::TSQLTimeStamp GetAsSQLTimeStamp() const override;
    void SetAsSQLTimeStampValue(const rtl::TSQLTimeStamp& value) override;
    rtl::Variant GetAsVariant() const override;
    void SetVarValue(const rtl::Variant& value) override;

private:
    // A record that keeps the 16-byte platform time stamp instead of a value object (the session
    // option that turns Oracle time stamps off).
    bool HoldsSQLTimeStamp() const;
    // The record's value in a value object of its own (the 16-byte form) or the record's object.
    template <class F>
    auto WithValue(F f) const;
    template <class F>
    void ChangeValue(F f);

    AnsiString format_;
};

class TOraIntervalField : public db::TField {
public:
    explicit TOraIntervalField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return static_cast<int>(rtl::PointerSize); }
    void SetFieldType(db::TFieldType value) { SetDataType(value); }
    int LeadPrecision() const { return leadPrecision_; }
    void SetLeadPrecision(int value) { leadPrecision_ = value; }
    int FracPrecision() const { return fracPrecision_; }
    void SetFracPrecision(int value) { fracPrecision_ = value; }
    TOraInterval* AsInterval() const;

protected:
    bool GetIsNull() const override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    rtl::Variant GetAsVariant() const override;
    void SetVarValue(const rtl::Variant& value) override;

private:
    void ApplyPrecisions(TOraInterval* value) const;
    int leadPrecision_ = 2;
    int fracPrecision_ = 6;
};

class TOraNumberField : public db::TNumericField {
public:
    explicit TOraNumberField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return static_cast<int>(rtl::PointerSize); }
    void SetFieldType(db::TFieldType value) { SetDataType(value); }
    int DisplayWidth() const { return displayWidth_; }
    void SetDisplayWidth(int value) { displayWidth_ = value; }
    // Whether a typed character may be part of a number.
    bool IsValidChar(char c) const;
    TOraNumber* AsNumber() const;

protected:
    bool GetIsNull() const override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    rtl::Variant GetAsVariant() const override;
    void SetVarValue(const rtl::Variant& value) override;
    std::string GetText() const override;

private:
    template <class F>
    void ChangeValue(F f);
    int displayWidth_ = 38;
};

// XMLTYPE: the value's XML text.
class TOraXMLField : public db::TField {
public:
    explicit TOraXMLField(rtl::TComponent* owner = nullptr);
    int DataSize() const override { return static_cast<int>(rtl::PointerSize); }
    bool IsBlob() const override { return true; }
    void SetFieldType(db::TFieldType value) { SetDataType(value); }
    // Makes the value null.
    void Clear() override;
    TOraXML* AsXML() const;
    std::string ClassDesc() const;

protected:
    bool GetIsNull() const override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    rtl::Variant GetAsVariant() const override;
    void SetVarValue(const rtl::Variant& value) override;
    std::string GetText() const override { return GetAsString(); }
    void SetTextValue(const std::string& value) override;
};

// The Oracle datasets' map between internal type codes and field types: the extended field
// types of the classes above (BFILE, label, time stamps, intervals, NUMBER, XMLTYPE) both ways,
// every other code as TCustomOraDataTypesMap.
class TOraFieldTypesMap : public TCustomOraDataTypesMap {
public:
    db::TFieldType GetFieldType(TDataType dataType) const override;
    TDataType GetDataType(db::TFieldType fieldType) const override;
    static const TOraFieldTypesMap& Instance();
};

// The field class of an Oracle field type (nil for other types).
db::TFieldClass OraFieldClass(db::TFieldType fieldType);

// Registers the field classes with the class registry by name (once per name), so that fields
// stored by class name can be created again. Programs built as libraries skip it.
void RegisterOraFieldClasses();

}  // namespace dac
