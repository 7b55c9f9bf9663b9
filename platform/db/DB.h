// The dataset framework: TDataSet with its record buffers, states and events; the TField
// classes; field definitions; parameters; data sources and data links.
//
// Descendants supply the storage by overriding the Internal* operations, the record-buffer
// operations and GetFieldData/SetFieldData; the framework calls them in a fixed order (open,
// navigation, editing) that descendants rely on. Virtual calls do not reach overrides from
// constructors or destructors, so a descendant's destructor calls Close() itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Types.h"
#include "platform/rtl/Variants.h"

namespace db {

using rtl::AnsiString;
using rtl::Currency;
using rtl::TBcd;
using rtl::TBytes;
using rtl::TComponent;
using rtl::TDateTime;
using rtl::TSQLTimeStamp;
using rtl::Variant;
using rtl::WideString;

// ---------------------------------------------------------------------------------------------
// Enumerations (ordinals are stored and compared; extended field-type codes share the byte)

enum TFieldType : uint8_t {
    ftUnknown = 0,
    ftString = 1,
    ftSmallint = 2,
    ftInteger = 3,
    ftWord = 4,
    ftBoolean = 5,
    ftFloat = 6,
    ftCurrency = 7,
    ftBCD = 8,
    ftDate = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftBytes = 12,
    ftVarBytes = 13,
    ftAutoInc = 14,
    ftBlob = 15,
    ftMemo = 16,
    ftGraphic = 17,
    ftFmtMemo = 18,
    ftParadoxOle = 19,
    ftDBaseOle = 20,
    ftTypedBinary = 21,
    ftCursor = 22,
    ftFixedChar = 23,
    ftWideString = 24,
    ftLargeint = 25,
    ftADT = 26,
    ftArray = 27,
    ftReference = 28,
    ftDataSet = 29,
    ftOraBlob = 30,
    ftOraClob = 31,
    ftVariant = 32,
    ftInterface = 33,
    ftIDispatch = 34,
    ftGuid = 35,
    ftTimeStamp = 36,
    ftFMTBcd = 37,
    ftFixedWideChar = 38,
    ftWideMemo = 39,
    ftOraTimeStamp = 40,
    ftOraInterval = 41,
};
inline constexpr int FieldTypeCount = 42;

// The platform's name of a field type ("String", "Integer", ...); "" outside 0..41.
std::string FieldTypeName(TFieldType type);

enum TDataSetState {
    dsInactive = 0,
    dsBrowse = 1,
    dsEdit = 2,
    dsInsert = 3,
    dsSetKey = 4,
    dsCalcFields = 5,
    dsFilter = 6,
    dsNewValue = 7,
    dsOldValue = 8,
    dsCurValue = 9,
    dsBlockRead = 10,
    dsInternalCalc = 11,
    dsOpening = 12,
};

enum TDataEvent {
    deFieldChange = 0,
    deRecordChange = 1,
    deDataSetChange = 2,
    deDataSetScroll = 3,
    deLayoutChange = 4,
    deUpdateRecord = 5,
    deUpdateState = 6,
    deCheckBrowseMode = 7,
    dePropertyChange = 8,
    deFieldListChange = 9,
    deFocusControl = 10,
    deParentScroll = 11,
    deConnectChange = 12,
    deReconcileError = 13,
    deDisabledStateChange = 14,
};

enum TGetMode { gmCurrent = 0, gmNext = 1, gmPrior = 2 };
enum TGetResult { grOK = 0, grBOF = 1, grEOF = 2, grError = 3 };
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

enum TResyncModeItem { rmExact = 0, rmCenter = 1 };
using TResyncMode = rtl::TSet<TResyncModeItem>;

enum TUpdateStatus : uint8_t { usUnmodified = 0, usModified = 1, usInserted = 2, usDeleted = 3 };
enum TUpdateRecordType { rtModified = 0, rtInserted = 1, rtDeleted = 2, rtUnmodified = 3 };
using TUpdateRecordTypes = rtl::TSet<TUpdateRecordType>;
enum TUpdateKind { ukModify = 0, ukInsert = 1, ukDelete = 2 };
// Integer based: descendants carry further codes in it (6, 10).
enum TUpdateAction : int { uaFail = 0, uaAbort = 1, uaSkip = 2, uaRetry = 3, uaApplied = 4 };
enum TDataAction { daFail = 0, daAbort = 1, daRetry = 2 };

enum TLocateOption { loCaseInsensitive = 0, loPartialKey = 1 };
using TLocateOptions = rtl::TSet<TLocateOption>;
enum TFilterOption { foCaseInsensitive = 0, foNoPartialCompare = 1 };
using TFilterOptions = rtl::TSet<TFilterOption>;

enum TFieldKind { fkData = 0, fkCalculated = 1, fkLookup = 2, fkInternalCalc = 3, fkAggregate = 4 };
enum TFieldAttribute {
    faHiddenCol = 0,
    faReadonly = 1,
    faRequired = 2,
    faLink = 3,
    faUnNamed = 4,
    faFixed = 5
};
using TFieldAttributes = rtl::TSet<TFieldAttribute>;
enum TAutoRefreshFlag { arNone = 0, arAutoInc = 1, arDefault = 2 };
enum TProviderFlag { pfInUpdate = 0, pfInWhere = 1, pfInKey = 2, pfHidden = 3 };
using TProviderFlags = rtl::TSet<TProviderFlag>;

enum TBlobStreamMode { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };
enum TParamType { ptUnknown = 0, ptInput = 1, ptOutput = 2, ptInputOutput = 3, ptResult = 4 };

// ---------------------------------------------------------------------------------------------

class TDataSet;
class TField;
class TFields;
class TFieldDef;
class TFieldDefs;
class TObjectField;
class TDataSource;
class TDataLink;

using TRecordBuffer = uint8_t*;
using TBookmark = TBytes;
using TFieldClass = rtl::TClassOf<TField, TComponent*>;

// The class the framework creates for a field type by default (nil for ftUnknown, ftCursor,
// ftInterface, ftIDispatch and codes outside 0..41).
TFieldClass DefaultFieldClass(TFieldType type);

// The next name of a ';'-separated list starting at pos (1-based), trimmed; pos moves past ';'.
std::string ExtractFieldName(const std::string& fields, int& pos);

// Raised by ranged numeric fields: "%g is not a valid value for field '%s'. ..."
[[noreturn]] void FieldRangeError(double value, double min, double max, const TField* field);

// ---------------------------------------------------------------------------------------------
// Field definitions

class TFieldDef : public rtl::TCollectionItem {
public:
    explicit TFieldDef(rtl::TCollection* owner = nullptr);
    ~TFieldDef() override;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& value);
    // Dotted name through the parent definitions ("P.C").
    std::string FullName() const;
    TFieldType DataType() const { return dataType_; }
    void SetDataType(TFieldType value) { dataType_ = value; }
    int Size() const { return size_; }
    void SetSize(int value) { size_ = value; }
    int Precision() const { return precision_; }
    void SetPrecision(int value) { precision_ = value; }
    bool Required() const { return attributes_.Contains(faRequired); }
    void SetRequired(bool value);
    int FieldNo() const { return fieldNo_; }
    void SetFieldNo(int value) { fieldNo_ = value; }
    TFieldAttributes Attributes() const { return attributes_; }
    void SetAttributes(TFieldAttributes value) { attributes_ = value; }
    // The definitions of an object or array definition's parts (created on first use).
    TFieldDefs& ChildDefs();
    bool HasChildDefs() const;
    TFieldDef* ParentDef() const;
    TFieldDefs* Owner() const;
    TDataSet* DataSet() const;
    TFieldClass FieldClass() const;
    // Creates the field of this definition; with ObjectView the parts become child fields.
    TField* CreateField(TComponent* owner, TObjectField* parentField = nullptr,
                        const std::string& fieldName = std::string(), bool createChildren = true);
    void Assign(rtl::TPersistent* source) override;

protected:
    std::string GetDisplayName() const override { return name_; }

private:
    std::string name_;
    TFieldType dataType_ = ftUnknown;
    int size_ = 0;
    int precision_ = 0;
    int fieldNo_ = 0;
    TFieldAttributes attributes_;
    std::unique_ptr<TFieldDefs> childDefs_;
};

class TFieldDefs : public rtl::TOwnedCollection {
public:
    // owner: the dataset, or the parent definition for child definitions.
    explicit TFieldDefs(rtl::TPersistent* owner);

    TFieldDef* Items(int index) const { return ItemAs<TFieldDef>(index); }
    TFieldDef* AddFieldDef();
    TFieldDef* Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
    // Exact name in this collection, else a dotted path resolved through the child definitions
    // from here; the index is within the definition's own collection, -1 when none.
    int IndexOf(const std::string& name) const;
    TFieldDef* Find(const std::string& name) const;     // raises "Field '%s' not found"
    TFieldDef* FindDef(const std::string& name) const;  // nil when none
    TDataSet* DataSet() const;
    TFieldDef* ParentDef() const { return parentDef_; }
    bool Updated() const { return updated_; }
    void SetUpdated(bool value) { updated_ = value; }
    bool HiddenFields() const { return hiddenFields_; }
    void SetHiddenFields(bool value) { hiddenFields_ = value; }
    // Rebuilds the definitions from the dataset when they are not up to date.
    void Update();
    void Update(rtl::TCollectionItem* item) override;

private:
    TFieldDef* parentDef_ = nullptr;
    bool updated_ = false;
    bool hiddenFields_ = false;
};

// Every definition (children included) under its full name, in depth-first order.
class TFieldDefList {
public:
    int Count() const { return static_cast<int>(defs_.size()); }
    TFieldDef* FieldDefs(int index) const;
    const std::string& Strings(int index) const { return names_.at(static_cast<size_t>(index)); }
    int IndexOf(const std::string& fullName) const;
    TFieldDef* Find(const std::string& fullName) const;  // nil when none
    void Rebuild(const TFieldDefs& defs);

private:
    void AddDefs(const TFieldDefs& defs, const std::string& prefix);
    std::vector<TFieldDef*> defs_;
    std::vector<std::string> names_;
};

// ---------------------------------------------------------------------------------------------
// Fields

// An ordered list of fields (not owning, except through Clear).
class TFields {
public:
    explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}
    int Count() const { return static_cast<int>(list_.size()); }
    TField* Fields(int index) const;
    TField* operator[](int index) const { return Fields(index); }
    // Raises "Duplicate field name '%s'" for a name already present.
    void Add(TField* field);
    void Remove(TField* field);
    // Frees every field.
    void Clear();
    int IndexOf(const TField* field) const;
    // By FieldName or FullName, case-insensitive.
    TField* FindField(const std::string& name) const;
    TField* FieldByName(const std::string& name) const;
    TField* FieldByNumber(int fieldNo) const;
    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* dataSet) { dataSet_ = dataSet; }
    void SetIndex(TField* field, int index);

private:
    TDataSet* dataSet_;
    std::vector<TField*> list_;
};

using TFieldNotifyEvent = std::function<void(TField* sender)>;

class TField : public rtl::TComponent {
public:
    explicit TField(TComponent* owner = nullptr);
    ~TField() override;

    TDataSet* DataSet() const { return dataSet_; }
    // Adds the field to the dataset's Fields (both datasets must be closed).
    void SetDataSet(TDataSet* dataSet);
    TObjectField* ParentField() const { return parentField_; }
    void SetParentField(TObjectField* value);

    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(const std::string& value);
    std::string FullName() const;
    std::string DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
    const std::string& DisplayLabel() const { return displayLabel_; }
    void SetDisplayLabel(const std::string& value) { displayLabel_ = value; }
    int FieldNo() const { return fieldNo_; }
    TFieldKind FieldKind() const { return fieldKind_; }
    void SetFieldKind(TFieldKind value);
    TFieldType DataType() const { return dataType_; }
    // Bytes of the field's buffer form.
    virtual int DataSize() const { return 0; }
    int Size() const { return size_; }
    void SetSize(int value);
    // Position in the calculated area (calculated and lookup fields).
    int Offset() const { return offset_; }
    int Index() const;
    void SetIndex(int value);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }
    bool Required() const { return required_; }
    void SetRequired(bool value) { required_ = value; }
    bool Visible() const { return visible_; }
    void SetVisible(bool value) { visible_ = value; }
    const std::string& DefaultExpression() const { return defaultExpression_; }
    void SetDefaultExpression(const std::string& value) { defaultExpression_ = value; }
    TAutoRefreshFlag AutoGenerateValue() const { return autoGenerateValue_; }
    void SetAutoGenerateValue(TAutoRefreshFlag value) { autoGenerateValue_ = value; }
    TProviderFlags ProviderFlags() const { return providerFlags_; }
    void SetProviderFlags(TProviderFlags value) { providerFlags_ = value; }
    const std::string& Origin() const { return origin_; }
    void SetOrigin(const std::string& value) { origin_ = value; }
    virtual bool IsBlob() const { return false; }
    bool CanModify() const { return GetCanModify(); }

    // Lookup fields.
    TDataSet* LookupDataSet() const { return lookupDataSet_; }
    void SetLookupDataSet(TDataSet* value) { lookupDataSet_ = value; }
    const std::string& KeyFields() const { return keyFields_; }
    void SetKeyFields(const std::string& value) { keyFields_ = value; }
    const std::string& LookupKeyFields() const { return lookupKeyFields_; }
    void SetLookupKeyFields(const std::string& value) { lookupKeyFields_ = value; }
    const std::string& LookupResultField() const { return lookupResultField_; }
    void SetLookupResultField(const std::string& value) { lookupResultField_ = value; }
    bool Lookup() const { return fieldKind_ == fkLookup; }

    // Values.
    bool IsNull() const { return GetIsNull(); }
    virtual void Clear() { SetData(nullptr); }
    Variant Value() const { return GetAsVariant(); }
    void SetValue(const Variant& value) { SetAsVariant(value); }
    Variant AsVariant() const { return GetAsVariant(); }
    void SetAsVariant(const Variant& value);
    AnsiString AsString() const { return GetAsString(); }
    void SetAsString(const AnsiString& value) { SetAsStringValue(value); }
    WideString AsWideString() const { return GetAsWideString(); }
    void SetAsWideString(const WideString& value) { SetAsWideStringValue(value); }
    int32_t AsInteger() const { return GetAsInteger(); }
    void SetAsInteger(int32_t value) { SetAsIntegerValue(value); }
    int64_t AsLargeInt() const { return GetAsLargeInt(); }
    void SetAsLargeInt(int64_t value) { SetAsLargeIntValue(value); }
    double AsFloat() const { return GetAsFloat(); }
    void SetAsFloat(double value) { SetAsFloatValue(value); }
    Currency AsCurrency() const { return GetAsCurrency(); }
    void SetAsCurrency(Currency value) { SetAsCurrencyValue(value); }
    bool AsBoolean() const { return GetAsBoolean(); }
    void SetAsBoolean(bool value) { SetAsBooleanValue(value); }
    TDateTime AsDateTime() const { return GetAsDateTime(); }
    void SetAsDateTime(TDateTime value) { SetAsDateTimeValue(value); }
    TBcd AsBCD() const { return GetAsBCD(); }
    void SetAsBCD(const TBcd& value) { SetAsBCDValue(value); }
    TSQLTimeStamp AsSQLTimeStamp() const { return GetAsSQLTimeStamp(); }
    void SetAsSQLTimeStamp(const TSQLTimeStamp& value) { SetAsSQLTimeStampValue(value); }
    TBytes AsBytes() const { return GetAsBytes(); }
    void SetAsBytes(const TBytes& value) { SetAsBytesValue(value); }
    // OnGetText / OnSetText replace the field's own text conversion when assigned.
    std::string Text() const;
    void SetText(const std::string& value);
    std::string DisplayText() const;
    // The value in the dataset's old / new / current record (through GetStateFieldValue).
    Variant OldValue() const;
    Variant NewValue() const;
    Variant CurValue() const;
    // Copies the value of another field (null included).
    void Assign(rtl::TPersistent* source) override;

    // The raw buffer form through the dataset; false when null (nil buffer: test only).
    bool GetData(void* buffer, bool nativeFormat = true) const;
    void SetData(const void* buffer, bool nativeFormat = true);
    // Native forms of the types whose dataset form differs from their value (dates, BCD).
    virtual bool NativeFormat() const { return true; }
    // Fires OnValidate; called by datasets before a value is stored.
    virtual void Validate(const void* buffer);
    // Fires OnChange; called by the dataset's field-change event.
    virtual void Change();
    void FocusControl();

    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;
    std::function<void(TField* sender, std::string& text, bool displayText)> OnGetText;
    std::function<void(TField* sender, const std::string& text)> OnSetText;

    [[noreturn]] void AccessError(const std::string& typeName) const;

protected:
    friend class TDataSet;
    friend class TFieldDef;
    friend class TFields;

    void SetDataType(TFieldType value) { dataType_ = value; }
    virtual void CheckSize(int value) const;
    virtual bool GetCanModify() const;
    virtual bool GetIsNull() const { return !GetData(nullptr); }

    virtual Variant GetAsVariant() const;
    virtual void SetVarValue(const Variant& value);
    virtual AnsiString GetAsString() const;
    virtual void SetAsStringValue(const AnsiString& value);
    virtual WideString GetAsWideString() const;
    virtual void SetAsWideStringValue(const WideString& value);
    virtual int32_t GetAsInteger() const;
    virtual void SetAsIntegerValue(int32_t value);
    virtual int64_t GetAsLargeInt() const;
    virtual void SetAsLargeIntValue(int64_t value);
    virtual double GetAsFloat() const;
    virtual void SetAsFloatValue(double value);
    virtual Currency GetAsCurrency() const;
    virtual void SetAsCurrencyValue(Currency value);
    virtual bool GetAsBoolean() const;
    virtual void SetAsBooleanValue(bool value);
    virtual TDateTime GetAsDateTime() const;
    virtual void SetAsDateTimeValue(TDateTime value);
    virtual TBcd GetAsBCD() const;
    virtual void SetAsBCDValue(const TBcd& value);
    virtual TSQLTimeStamp GetAsSQLTimeStamp() const;
    virtual void SetAsSQLTimeStampValue(const TSQLTimeStamp& value);
    virtual TBytes GetAsBytes() const;
    virtual void SetAsBytesValue(const TBytes& value);
    virtual std::string GetText() const;
    virtual void SetTextValue(const std::string& value);

private:
    TDataSet* dataSet_ = nullptr;
    TObjectField* parentField_ = nullptr;
    std::string fieldName_;
    std::string displayLabel_;
    std::string defaultExpression_;
    std::string origin_;
    std::string keyFields_, lookupKeyFields_, lookupResultField_;
    TDataSet* lookupDataSet_ = nullptr;
    int fieldNo_ = 0;
    int offset_ = 0;
    int size_ = 0;
    TFieldKind fieldKind_ = fkData;
    TFieldType dataType_ = ftUnknown;
    TAutoRefreshFlag autoGenerateValue_ = arNone;
    TProviderFlags providerFlags_ = {pfInUpdate, pfInWhere};
    bool readOnly_ = false;
    bool required_ = false;
    bool visible_ = true;
};

// Zero-terminated 8-bit text of up to Size characters.
class TStringField : public TField {
public:
    explicit TStringField(TComponent* owner = nullptr);
    int DataSize() const override { return Size() + 1; }
    bool FixedChar() const { return fixedChar_; }
    void SetFixedChar(bool value) { fixedChar_ = value; }
    // The text and whether the field has a value.
    bool GetValue(AnsiString& value) const;

protected:
    void CheckSize(int value) const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    WideString GetAsWideString() const override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    bool GetAsBoolean() const override;
    void SetAsBooleanValue(bool value) override;
    TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(TDateTime value) override;
    Currency GetAsCurrency() const override;
    TBcd GetAsBCD() const override;

private:
    bool fixedChar_ = false;
};

// Zero-terminated UTF-16 text of up to Size characters.
class TWideStringField : public TStringField {
public:
    explicit TWideStringField(TComponent* owner = nullptr);
    int DataSize() const override { return (Size() + 1) * 2; }
    bool GetWideValue(WideString& value) const;

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    WideString GetAsWideString() const override;
    void SetAsWideStringValue(const WideString& value) override;
};

// The text form of a GUID, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
class TGuidField : public TStringField {
public:
    explicit TGuidField(TComponent* owner = nullptr);

protected:
    void CheckSize(int value) const override;
    void SetAsStringValue(const AnsiString& value) override;
};

class TNumericField : public TField {
public:
    explicit TNumericField(TComponent* owner = nullptr) : TField(owner) {}
    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& value) { displayFormat_ = value; }

protected:
    std::string GetText() const override;

private:
    std::string displayFormat_;
};

// Signed 32-bit integers (and the 16-bit and unsigned kinds below, with narrower buffers).
class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(TComponent* owner = nullptr);
    int DataSize() const override { return 4; }
    // User range: checked when either bound is non-zero; the type's own range always is.
    int32_t MinValue() const { return minValue_; }
    void SetMinValue(int32_t value) { minValue_ = value; }
    int32_t MaxValue() const { return maxValue_; }
    void SetMaxValue(int32_t value) { maxValue_ = value; }
    bool GetValue(int32_t& value) const;

protected:
    void CheckRange(int64_t value) const;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    Currency GetAsCurrency() const override;
    TBcd GetAsBCD() const override;
    // The stored form of the type; the base stores int32.
    virtual bool ReadInt(int64_t& value) const;
    virtual void WriteInt(int64_t value);

    int64_t minRange_ = INT32_MIN;
    int64_t maxRange_ = INT32_MAX;

private:
    int32_t minValue_ = 0;
    int32_t maxValue_ = 0;
};

class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TComponent* owner = nullptr);
    int DataSize() const override { return 2; }

protected:
    bool ReadInt(int64_t& value) const override;
    void WriteInt(int64_t value) override;
};

class TWordField : public TIntegerField {
public:
    explicit TWordField(TComponent* owner = nullptr);
    int DataSize() const override { return 2; }

protected:
    bool ReadInt(int64_t& value) const override;
    void WriteInt(int64_t value) override;
};

class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(TComponent* owner = nullptr);
};

class TLargeintField : public TNumericField {
public:
    explicit TLargeintField(TComponent* owner = nullptr);
    int DataSize() const override { return 8; }
    int64_t MinValue() const { return minValue_; }
    void SetMinValue(int64_t value) { minValue_ = value; }
    int64_t MaxValue() const { return maxValue_; }
    void SetMaxValue(int64_t value) { maxValue_ = value; }
    bool GetValue(int64_t& value) const;

protected:
    void CheckRange(int64_t value) const;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    TBcd GetAsBCD() const override;

private:
    int64_t minValue_ = 0;
    int64_t maxValue_ = 0;
};

class TFloatField : public TNumericField {
public:
    explicit TFloatField(TComponent* owner = nullptr);
    int DataSize() const override { return 8; }
    int Precision() const { return precision_; }
    void SetPrecision(int value);
    bool Currency() const { return currency_; }
    void SetCurrency(bool value) { currency_ = value; }
    double MinValue() const { return minValue_; }
    void SetMinValue(double value) { minValue_ = value; }
    double MaxValue() const { return maxValue_; }
    void SetMaxValue(double value) { maxValue_ = value; }
    bool GetValue(double& value) const;

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    rtl::Currency GetAsCurrency() const override;
    void SetAsCurrencyValue(rtl::Currency value) override;
    TBcd GetAsBCD() const override;

private:
    int precision_ = 15;
    bool currency_ = false;
    double minValue_ = 0;
    double maxValue_ = 0;
};

class TCurrencyField : public TFloatField {
public:
    explicit TCurrencyField(TComponent* owner = nullptr);
};

// 16-bit WordBool.
class TBooleanField : public TField {
public:
    explicit TBooleanField(TComponent* owner = nullptr);
    int DataSize() const override { return 2; }
    bool GetValue(bool& value) const;

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    bool GetAsBoolean() const override;
    void SetAsBooleanValue(bool value) override;
};

// Native form: the 34-byte TBcd; value form (NativeFormat false): Currency.
class TBCDField : public TNumericField {
public:
    explicit TBCDField(TComponent* owner = nullptr);
    int DataSize() const override { return sizeof(TBcd); }
    bool NativeFormat() const override { return false; }
    // Size is the number of decimals.
    int Precision() const { return precision_; }
    void SetPrecision(int value) { precision_ = value; }
    rtl::Currency MinValue() const { return minValue_; }
    void SetMinValue(rtl::Currency value) { minValue_ = value; }
    rtl::Currency MaxValue() const { return maxValue_; }
    void SetMaxValue(rtl::Currency value) { maxValue_ = value; }
    bool GetValue(rtl::Currency& value) const;

protected:
    void CheckSize(int value) const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    rtl::Currency GetAsCurrency() const override;
    void SetAsCurrencyValue(rtl::Currency value) override;
    TBcd GetAsBCD() const override;
    void SetAsBCDValue(const TBcd& value) override;

private:
    int precision_ = 0;
    rtl::Currency minValue_;
    rtl::Currency maxValue_;
};

class TFMTBCDField : public TNumericField {
public:
    explicit TFMTBCDField(TComponent* owner = nullptr);
    int DataSize() const override { return sizeof(TBcd); }
    int Precision() const { return precision_; }
    void SetPrecision(int value) { precision_ = value; }
    bool GetValue(TBcd& value) const;

protected:
    void CheckSize(int value) const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    rtl::Currency GetAsCurrency() const override;
    void SetAsCurrencyValue(rtl::Currency value) override;
    TBcd GetAsBCD() const override;
    void SetAsBCDValue(const TBcd& value) override;

private:
    int precision_ = 0;
};

// Native forms: int32 TTimeStamp.Date (date), int32 milliseconds (time), double milliseconds
// (date-time); value form (NativeFormat false): TDateTime.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* owner = nullptr);
    int DataSize() const override { return 8; }
    bool NativeFormat() const override { return false; }
    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& value) { displayFormat_ = value; }
    bool GetValue(TDateTime& value) const;

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(TDateTime value) override;
    TSQLTimeStamp GetAsSQLTimeStamp() const override;
    void SetAsSQLTimeStampValue(const TSQLTimeStamp& value) override;
    std::string GetText() const override;
    virtual std::string FormatValue(TDateTime value) const;
    virtual TDateTime ParseValue(const std::string& text) const;

private:
    std::string displayFormat_;
};

class TDateField : public TDateTimeField {
public:
    explicit TDateField(TComponent* owner = nullptr);
    int DataSize() const override { return 4; }

protected:
    std::string FormatValue(TDateTime value) const override;
    TDateTime ParseValue(const std::string& text) const override;
};

class TTimeField : public TDateTimeField {
public:
    explicit TTimeField(TComponent* owner = nullptr);
    int DataSize() const override { return 4; }

protected:
    std::string FormatValue(TDateTime value) const override;
    TDateTime ParseValue(const std::string& text) const override;
};

// The 16-byte TSQLTimeStamp.
class TSQLTimeStampField : public TField {
public:
    explicit TSQLTimeStampField(TComponent* owner = nullptr);
    int DataSize() const override { return sizeof(TSQLTimeStamp); }
    bool GetValue(TSQLTimeStamp& value) const;

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(TDateTime value) override;
    TSQLTimeStamp GetAsSQLTimeStamp() const override;
    void SetAsSQLTimeStampValue(const TSQLTimeStamp& value) override;
};

// Fixed Size bytes (TBytesField) or a uint16 length and up to Size bytes (TVarBytesField).
class TBinaryField : public TField {
public:
    explicit TBinaryField(TComponent* owner = nullptr);

protected:
    void CheckSize(int value) const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    TBytes GetAsBytes() const override;
    void SetAsBytesValue(const TBytes& value) override;
    virtual bool ReadBytes(TBytes& value) const;
    virtual void WriteBytes(const TBytes& value);
};

class TBytesField : public TBinaryField {
public:
    explicit TBytesField(TComponent* owner = nullptr);
    int DataSize() const override { return Size(); }
};

class TVarBytesField : public TBinaryField {
public:
    explicit TVarBytesField(TComponent* owner = nullptr);
    int DataSize() const override { return Size() + 2; }

protected:
    bool ReadBytes(TBytes& value) const override;
    void WriteBytes(const TBytes& value) override;
};

// No inline value: the content goes through the dataset's CreateBlobStream.
class TBlobField : public TField {
public:
    explicit TBlobField(TComponent* owner = nullptr);
    bool IsBlob() const override { return true; }
    TFieldType BlobType() const { return DataType(); }
    void SetBlobType(TFieldType value) { SetDataType(value); }
    // Set when the content was written during the current edit.
    bool Modified() const { return modified_; }
    void SetModified(bool value) { modified_ = value; }
    int64_t BlobSize() const;
    void LoadFromStream(rtl::TStream& stream);
    void SaveToStream(rtl::TStream& stream) const;
    void Clear() override;

protected:
    bool GetIsNull() const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    WideString GetAsWideString() const override;
    void SetAsWideStringValue(const WideString& value) override;
    TBytes GetAsBytes() const override;
    void SetAsBytesValue(const TBytes& value) override;
    std::string GetText() const override;
    std::string ReadAll() const;
    void WriteAll(const void* data, size_t size);

private:
    bool modified_ = false;
};

class TMemoField : public TBlobField {
public:
    explicit TMemoField(TComponent* owner = nullptr);

protected:
    Variant GetAsVariant() const override;
    std::string GetText() const override;
};

// The stream's bytes are UTF-16.
class TWideMemoField : public TBlobField {
public:
    explicit TWideMemoField(TComponent* owner = nullptr);

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    WideString GetAsWideString() const override;
    void SetAsWideStringValue(const WideString& value) override;
    std::string GetText() const override;
};

class TGraphicField : public TBlobField {
public:
    explicit TGraphicField(TComponent* owner = nullptr);
};

// The buffer holds a constructed Variant object: datasets copy it by assignment, never memcpy.
class TVariantField : public TField {
public:
    explicit TVariantField(TComponent* owner = nullptr);
    int DataSize() const override { return sizeof(Variant); }

protected:
    bool GetIsNull() const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;
    void SetAsStringValue(const AnsiString& value) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t value) override;
    int64_t GetAsLargeInt() const override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double value) override;
    bool GetAsBoolean() const override;
    void SetAsBooleanValue(bool value) override;
    TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(TDateTime value) override;
};

// Object columns: the parts are child fields (ObjectView) in the field's own Fields.
class TObjectField : public TField {
public:
    explicit TObjectField(TComponent* owner = nullptr);
    ~TObjectField() override;
    TFields& Fields() { return *fields_; }
    const TFields& Fields() const { return *fields_; }
    int FieldCount() const { return fields_->Count(); }
    const std::string& ObjectType() const { return objectType_; }
    void SetObjectType(const std::string& value) { objectType_ = value; }
    // A handle-sized cell in the record buffer.
    int DataSize() const override { return static_cast<int>(rtl::PointerSize); }

protected:
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& value) override;
    AnsiString GetAsString() const override;

private:
    std::unique_ptr<TFields> fields_;
    std::string objectType_;
};

class TADTField : public TObjectField {
public:
    explicit TADTField(TComponent* owner = nullptr);
};

// Size is the number of elements.
class TArrayField : public TObjectField {
public:
    explicit TArrayField(TComponent* owner = nullptr);
};

class TDataSetField : public TObjectField {
public:
    explicit TDataSetField(TComponent* owner = nullptr);
    ~TDataSetField() override;
    TDataSet* NestedDataSet() const { return nestedDataSet_; }
    // Links a detail dataset to this field (it scrolls with the field's dataset).
    void SetNestedDataSet(TDataSet* value);
    bool IncludeObjectField() const { return includeObjectField_; }
    void SetIncludeObjectField(bool value) { includeObjectField_ = value; }

private:
    friend class TDataSet;
    TDataSet* nestedDataSet_ = nullptr;
    bool includeObjectField_ = false;
};

// A REF column: like a dataset field, a nested dataset can show the referenced object.
class TReferenceField : public TDataSetField {
public:
    explicit TReferenceField(TComponent* owner = nullptr);
    const std::string& ReferenceTableName() const { return referenceTableName_; }
    void SetReferenceTableName(const std::string& value) { referenceTableName_ = value; }

private:
    std::string referenceTableName_;
};

// ---------------------------------------------------------------------------------------------
// TDataSet

using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet* dataSet, rtl::EDatabaseError& e, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;

class TDataSet : public rtl::TComponent {
public:
    explicit TDataSet(TComponent* owner = nullptr);
    // Frees the fields and definitions; a descendant closes the dataset in its own destructor.
    ~TDataSet() override;

    // Opening and closing. While the component is loading, opening waits for Loaded.
    bool Active() const { return state_ != dsInactive; }
    virtual void SetActive(bool value);
    void Loaded() override;
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const { return state_; }
    bool Modified() const { return modified_; }
    void SetModified(bool value) { modified_ = value; }
    void CheckActive() const;
    void CheckInactive() const;
    virtual void CheckBrowseMode();
    bool DefaultFields() const { return defaultFields_; }

    // Field definitions and fields.
    TFieldDefs& FieldDefs() { return *fieldDefs_; }
    TFieldDefList& FieldDefList();
    TFields& Fields() { return *fields_; }
    const TFields& Fields() const { return *fields_; }
    // Every field, children of object fields included.
    std::vector<TField*> FieldList() const;
    int FieldCount() const { return fields_->Count(); }
    TField* FindField(const std::string& name) const;
    // Raises "Field '%s' not found" naming the dataset.
    TField* FieldByName(const std::string& name) const;
    TField* FieldByNumber(int fieldNo) const;
    // Fields named in a ';'-separated list.
    void GetFieldList(std::vector<TField*>& list, const std::string& fieldNames) const;
    void GetFieldNames(std::vector<std::string>& list) const;
    // One field's value, or an array of values for a ';'-separated list.
    Variant GetFieldValue(const std::string& fieldNames) const;
    void SetFieldValue(const std::string& fieldNames, const Variant& value);
    Variant FieldValues(const std::string& fieldNames) const { return GetFieldValue(fieldNames); }
    void SetFields(const std::vector<Variant>& values);
    bool ObjectView() const { return objectView_; }
    void SetObjectView(bool value);
    bool SparseArrays() const { return sparseArrays_; }
    void SetSparseArrays(bool value) {
        CheckInactive();
        sparseArrays_ = value;
    }
    bool AutoCalcFields() const { return autoCalcFields_; }
    void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }
    int CalcFieldsSize() const { return calcFieldsSize_; }
    int BookmarkSize() const { return bookmarkSize_; }
    void SetBookmarkSize(int value) { bookmarkSize_ = value; }

    // Navigation.
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    bool IsEmpty() const { return recordCount_ == 0; }
    int RecordCount() const { return GetRecordCount(); }
    int RecNo() const { return GetRecNo(); }
    void SetRecNo(int value) { SetRecNoValue(value); }
    virtual bool IsSequenced() const { return false; }
    bool CanModify() const { return GetCanModify(); }
    void CheckCanModify() const;

    // Bookmarks.
    TBookmark GetBookmark() const;
    void GotoBookmark(const TBookmark& bookmark);
    TBookmark Bookmark() const { return GetBookmark(); }
    void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
    virtual bool BookmarkValid(const TBookmark& bookmark);
    virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

    // Buffers and positions.
    virtual void UpdateCursorPos();
    void CursorPosChanged() { currentRecord_ = -1; }
    virtual void Resync(TResyncMode mode);
    int BufferCount() const { return bufferCount_; }
    TRecordBuffer ActiveBuffer() const;
    TRecordBuffer TempBuffer() const;
    TRecordBuffer CalcBuffer() const { return calcBuffer_; }

    // Editing.
    void Edit();
    void Insert();
    void Append();
    virtual void Post();
    virtual void Cancel();
    void Delete();
    void Refresh();
    void UpdateRecord();
    void InsertRecord(const std::vector<Variant>& values);
    void AppendRecord(const std::vector<Variant>& values);
    void ClearFields();

    // Searching.
    virtual bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options);
    virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                           const std::string& resultFields);
    virtual bool FindRecord(bool restart, bool goForward);
    bool FindFirst() { return FindRecord(true, true); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindPrior() { return FindRecord(false, false); }

    // Filters (the base stores the values).
    bool Filtered() const { return filtered_; }
    void SetFiltered(bool value) { SetFilteredValue(value); }
    const std::string& Filter() const { return filterText_; }
    void SetFilter(const std::string& value) { SetFilterText(value); }
    TFilterOptions FilterOptions() const { return filterOptions_; }
    void SetFilterOptions(TFilterOptions value) { SetFilterOptionsValue(value); }
    const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
    void SetOnFilterRecord(const TFilterRecordEvent& value) { SetOnFilterRecordValue(value); }

    // Controls and events.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }
    virtual void DataEvent(TDataEvent event, intptr_t info);
    int BlockReadSize() const { return blockReadSize_; }
    void SetBlockReadSize(int value) { SetBlockReadSizeValue(value); }

    // The value of a field in another record state (old, new, current).
    virtual Variant GetStateFieldValue(TDataSetState state, TField* field);
    virtual void SetStateFieldValue(TDataSetState state, TField* field, const Variant& value);

    // Blob content; the caller frees the stream. The base has none.
    virtual rtl::TStream* CreateBlobStream(TField* field, TBlobStreamMode mode);
    virtual void CloseBlob(TField* field);

    // Field buffer access, used by TField.
    virtual bool GetFieldData(TField* field, void* buffer);
    virtual bool GetFieldData(int fieldNo, void* buffer);
    virtual bool GetFieldData(TField* field, void* buffer, bool nativeFormat);
    virtual void SetFieldData(TField* field, const void* buffer);
    virtual void SetFieldData(TField* field, const void* buffer, bool nativeFormat);
    // Between the native buffer form and the value form (dates, BCD).
    virtual void DataConvert(TField* field, const void* source, void* dest, bool toNative);

    virtual TUpdateStatus UpdateStatus() const { return usUnmodified; }
    bool IsLinkedTo(TDataSource* dataSource) const;
    virtual TDataSource* GetDataSource() const { return nullptr; }
    TDataSetField* DataSetField() const { return dataSetField_; }
    // The datasets linked to this dataset's dataset fields.
    std::vector<TDataSet*> NestedDataSets() const;
    TFieldClass GetFieldClassFor(TFieldType type) { return GetFieldClass(type); }

    // Events.
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
    TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;

protected:
    friend class TField;
    friend class TFieldDefs;
    friend class TDataSource;
    friend class TDataSetField;

    // Record buffers.
    virtual TRecordBuffer AllocRecordBuffer() { return nullptr; }
    virtual void FreeRecordBuffer(TRecordBuffer& buffer) { buffer = nullptr; }
    virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck);
    virtual int GetRecordSize() const { return 0; }
    virtual void GetBookmarkData(TRecordBuffer buffer, void* data) const;
    virtual void SetBookmarkData(TRecordBuffer buffer, const void* data);
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) const;
    virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value);
    virtual void InitRecord(TRecordBuffer buffer);
    virtual void InternalInitRecord(TRecordBuffer buffer);
    virtual void ClearCalcFields(TRecordBuffer buffer);
    void GetCalcFields(TRecordBuffer buffer);
    virtual void CalculateFields(TRecordBuffer buffer);

    // Cursor.
    virtual void OpenCursor(bool infoQuery);
    virtual void CloseCursor();
    virtual void InternalOpen();
    virtual void InternalClose();
    virtual bool IsCursorOpen() const;
    virtual void InternalInitFieldDefs();
    void InitFieldDefs();
    virtual void InternalFirst();
    virtual void InternalLast();
    virtual void InternalGotoBookmark(const void* bookmark);
    virtual void InternalSetToRecord(TRecordBuffer buffer);
    virtual void InternalHandleException();
    virtual void InternalRefresh() {}

    // Editing.
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalPost();
    virtual void InternalCancel() {}
    virtual void InternalDelete();
    virtual void InternalAddRecord(TRecordBuffer buffer, bool append);
    virtual bool GetCanModify() const { return true; }
    void CheckRequiredFields();
    // Forgets what blob fields wrote during the edit that ends.
    void FreeFieldBuffers();

    // Fields.
    virtual void CreateFields();
    virtual void DestroyFields();
    virtual void BindFields(bool binding);
    virtual void CheckFieldCompatibility(TField* field, TFieldDef* fieldDef);
    virtual TFieldClass GetFieldClass(TFieldType fieldType);

    // States.
    void SetState(TDataSetState value);
    TDataSetState SetTempState(TDataSetState value);
    void RestoreState(TDataSetState value);
    void ClearBuffers();

    // Counts and numbers.
    virtual int GetRecordCount() const { return -1; }
    virtual int GetRecNo() const { return -1; }
    virtual void SetRecNoValue(int) {}

    // Property setters descendants override.
    virtual void SetFilteredValue(bool value) { filtered_ = value; }
    virtual void SetFilterText(const std::string& value) { filterText_ = value; }
    virtual void SetFilterOptionsValue(TFilterOptions value) { filterOptions_ = value; }
    virtual void SetOnFilterRecordValue(const TFilterRecordEvent& value) { onFilterRecord_ = value; }
    virtual void SetBlockReadSizeValue(int value);
    virtual void BlockReadNext();

    // Event firing points.
    virtual void DoBeforeOpen();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoAfterClose();
    virtual void DoBeforeInsert();
    virtual void DoAfterInsert();
    virtual void DoBeforeEdit();
    virtual void DoAfterEdit();
    virtual void DoBeforePost();
    virtual void DoAfterPost();
    virtual void DoBeforeCancel();
    virtual void DoAfterCancel();
    virtual void DoBeforeDelete();
    virtual void DoAfterDelete();
    virtual void DoBeforeScroll();
    virtual void DoAfterScroll();
    virtual void DoBeforeRefresh();
    virtual void DoAfterRefresh();
    virtual void DoOnCalcFields();
    virtual void DoOnNewRecord();

    bool InternalOpenComplete() const { return internalOpenComplete_; }
    int ActiveRecordIndex() const { return activeRecord_; }
    int BufferedRecordCount() const { return recordCount_; }

private:
    void OpenCursorComplete();
    void SetBufListSize(int count);
    bool GetNextRecord();
    bool GetPriorRecord();
    void BeginInsertAppend();
    void EndInsertAppend();
    void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& errorEvent);
    bool RecordMatches(const std::vector<TField*>& fields, const Variant& keyValues,
                       TLocateOptions options) const;
    bool ScanFor(const std::vector<TField*>& fields, const Variant& keyValues, TLocateOptions options);
    void AddDataSource(TDataSource* source);
    void RemoveDataSource(TDataSource* source);
    void CalcLookupValue(TField* field);

    std::unique_ptr<TFieldDefs> fieldDefs_;
    std::unique_ptr<TFields> fields_;
    TFieldDefList fieldDefList_;
    bool fieldDefListDirty_ = true;
    std::vector<TRecordBuffer> buffers_;
    std::vector<TDataSource*> dataSources_;
    // The dataset fields found by the last binding: scroll events reach their datasets.
    std::vector<TDataSetField*> dataSetFields_;
    TDataSetField* dataSetField_ = nullptr;
    TRecordBuffer calcBuffer_ = nullptr;
    TDataSetState state_ = dsInactive;
    TDataEvent pendingEvent_ = deDataSetChange;
    bool eventPending_ = false;
    int bufferCount_ = 0;
    int recordCount_ = 0;
    int activeRecord_ = 0;
    int currentRecord_ = -1;
    int disableCount_ = 0;
    int tempStateCount_ = 0;
    int calcFieldsSize_ = 0;
    int bookmarkSize_ = 0;
    int blockReadSize_ = 0;
    bool bof_ = true;
    bool eof_ = true;
    bool modified_ = false;
    bool defaultFields_ = false;
    bool internalOpenComplete_ = false;
    bool objectView_ = false;
    bool sparseArrays_ = false;
    bool autoCalcFields_ = true;
    bool filtered_ = false;
    bool streamedActive_ = false;
    std::string filterText_;
    TFilterOptions filterOptions_;
    TFilterRecordEvent onFilterRecord_;
};

// ---------------------------------------------------------------------------------------------
// Parameters

class TParams;

class TParam : public rtl::TCollectionItem {
public:
    explicit TParam(rtl::TCollection* owner = nullptr);
    TParam(TParams* owner, TParamType paramType);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& value) { name_ = value; }
    TFieldType DataType() const { return dataType_; }
    // Converts a present value to the new type's kind (cleared when it cannot be).
    virtual void SetDataType(TFieldType value);
    TParamType ParamType() const { return paramType_; }
    void SetParamType(TParamType value) { paramType_ = value; }
    bool IsNull() const { return null_; }
    bool Bound() const { return bound_; }
    void SetBound(bool value) { bound_ = value; }
    int Size() const { return size_; }
    void SetSize(int value) { size_ = value; }
    int Precision() const { return precision_; }
    void SetPrecision(int value) { precision_ = value; }
    int NumericScale() const { return numericScale_; }
    void SetNumericScale(int value) { numericScale_ = value; }
    TParams* Owner() const;
    TDataSet* DataSet() const;

    virtual void Clear();
    Variant Value() const { return GetAsVariant(); }
    void SetValue(const Variant& value) { SetAsVariant(value); }
    virtual Variant GetAsVariant() const;
    // Also sets the data type from the value's kind when it is still ftUnknown.
    virtual void SetAsVariant(const Variant& value);

    virtual AnsiString AsString() const;
    virtual void SetAsString(const AnsiString& value);
    virtual WideString AsWideString() const;
    virtual void SetAsWideString(const WideString& value);
    virtual int32_t AsInteger() const;
    virtual void SetAsInteger(int32_t value);
    virtual int16_t AsSmallInt() const;
    virtual void SetAsSmallInt(int16_t value);
    virtual uint16_t AsWord() const;
    virtual void SetAsWord(uint16_t value);
    virtual int64_t AsLargeInt() const;
    virtual void SetAsLargeInt(int64_t value);
    virtual double AsFloat() const;
    virtual void SetAsFloat(double value);
    virtual Currency AsCurrency() const;
    virtual void SetAsCurrency(Currency value);
    virtual Currency AsBCD() const;
    virtual void SetAsBCD(Currency value);
    virtual TBcd AsFMTBCD() const;
    virtual void SetAsFMTBCD(const TBcd& value);
    virtual bool AsBoolean() const;
    virtual void SetAsBoolean(bool value);
    virtual TDateTime AsDate() const;
    virtual void SetAsDate(TDateTime value);
    virtual TDateTime AsTime() const;
    virtual void SetAsTime(TDateTime value);
    virtual TDateTime AsDateTime() const;
    virtual void SetAsDateTime(TDateTime value);
    virtual TSQLTimeStamp AsSQLTimeStamp() const;
    virtual void SetAsSQLTimeStamp(const TSQLTimeStamp& value);
    virtual AnsiString AsMemo() const;
    virtual void SetAsMemo(const AnsiString& value);
    virtual TBytes AsBlob() const;
    virtual void SetAsBlob(const TBytes& value);
    std::string Text() const { return AsString(); }
    void SetText(const std::string& value) { SetAsString(value); }

    // Native buffer forms (as fields keep them) for drivers.
    virtual int GetDataSize() const;
    virtual void GetData(void* buffer) const;
    virtual void SetData(const void* buffer);

    void Assign(rtl::TPersistent* source) override;
    void AssignField(TField* field);
    void AssignFieldValue(TField* field, const Variant& value);
    bool IsEqual(const TParam* other) const;

protected:
    void AssignTo(rtl::TPersistent* dest) override;
    std::string GetDisplayName() const override { return name_.empty() ? ClassName() : name_; }
    void SetTyped(TFieldType type, const Variant& value);

    Variant data_;
    bool null_ = true;

private:
    std::string name_;
    TFieldType dataType_ = ftUnknown;
    TParamType paramType_ = ptUnknown;
    bool bound_ = false;
    int size_ = 0;
    int precision_ = 0;
    int numericScale_ = 0;
};

class TParams : public rtl::TOwnedCollection {
public:
    explicit TParams(rtl::TPersistent* owner = nullptr);
    TParams(rtl::TPersistent* owner, rtl::TCollectionItemClass itemClass);

    TParam* Items(int index) const { return ItemAs<TParam>(index); }
    TParam* operator[](int index) const { return Items(index); }
    TParam* AddParam();
    TParam* CreateParam(TFieldType dataType, const std::string& name, TParamType paramType);
    void RemoveParam(TParam* param);
    // Case-insensitive; the first of that name.
    TParam* FindParam(const std::string& name) const;
    // Raises "Parameter '%s' not found".
    TParam* ParamByName(const std::string& name) const;
    void GetParamList(std::vector<TParam*>& list, const std::string& paramNames) const;
    // One value, or an array of values for a ';'-separated list.
    Variant ParamValues(const std::string& paramNames) const;
    void SetParamValues(const std::string& paramNames, const Variant& value);
    // Copies the values of the parameters of the same name.
    void AssignValues(const TParams& source);
    bool IsEqual(const TParams& other) const;
    // Replaces each ":name" outside quotes and comments by "?" and, with doCreate, adds one
    // parameter per occurrence. A doubled colon stands for a colon.
    std::string ParseSQL(const std::string& sql, bool doCreate);
    TComponent* OwnerComponent() const;
};

// ---------------------------------------------------------------------------------------------
// Data sources and links

class TDataSource : public rtl::TComponent {
public:
    explicit TDataSource(TComponent* owner = nullptr);
    ~TDataSource() override;

    TDataSet* DataSet() const { return dataSet_; }
    // Raises "Circular datalinks are not allowed" when the dataset is linked back to this source.
    void SetDataSet(TDataSet* value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    bool AutoEdit() const { return autoEdit_; }
    void SetAutoEdit(bool value) { autoEdit_ = value; }
    TDataSetState State() const { return state_; }
    void Edit();
    // True when dataSet is this source's dataset or one of its masters.
    bool IsLinkedTo(TDataSet* dataSet) const;
    void Notification(TComponent* component, rtl::TOperation operation) override;

    std::function<void(TDataSource* sender)> OnStateChange;
    std::function<void(TDataSource* sender, TField* field)> OnDataChange;
    std::function<void(TDataSource* sender)> OnUpdateData;

private:
    friend class TDataSet;
    friend class TDataLink;
    void DataEvent(TDataEvent event, intptr_t info);
    void NotifyLinks(TDataEvent event, intptr_t info);
    void UpdateState();

    TDataSet* dataSet_ = nullptr;
    std::vector<TDataLink*> links_;
    TDataSetState state_ = dsInactive;
    bool enabled_ = true;
    bool autoEdit_ = true;
};

class TDataLink : public rtl::TPersistent {
public:
    TDataLink() = default;
    ~TDataLink() override;

    TDataSource* DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource* value);
    TDataSet* DataSet() const;
    bool Active() const { return active_; }
    bool Editing() const { return editing_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    int BufferCount() const { return 1; }
    int RecordCount() const;
    bool Edit();
    void UpdateRecord();

protected:
    friend class TDataSource;
    virtual void ActiveChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int) { DataSetChanged(); }
    virtual void EditingChanged() {}
    virtual void FocusControl(TField*) {}
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField*) {}
    virtual void UpdateData() {}
    virtual void DataEvent(TDataEvent event, intptr_t info);

private:
    void UpdateState();
    void SetActive(bool value);
    void SetEditing(bool value);

    TDataSource* dataSource_ = nullptr;
    bool active_ = false;
    bool editing_ = false;
    bool readOnly_ = false;
    bool updating_ = false;
};

class TDetailDataLink : public TDataLink {
public:
    virtual TDataSet* GetDetailDataSet() const { return nullptr; }
};

// Follows a master dataset for a detail dataset: OnMasterChange when the master moves or one
// of the master fields changes, OnMasterDisable when the master closes.
class TMasterDataLink : public TDetailDataLink {
public:
    explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}
    const std::string& FieldNames() const { return fieldNames_; }
    void SetFieldNames(const std::string& value);
    const std::vector<TField*>& Fields() const { return fields_; }
    TDataSet* GetDetailDataSet() const override { return detail_; }

    TDataSetNotifyEvent OnMasterChange;
    TDataSetNotifyEvent OnMasterDisable;

protected:
    void ActiveChanged() override;
    void CheckBrowseMode() override;
    void LayoutChanged() override;
    void RecordChanged(TField* field) override;

private:
    void RebuildFields();
    TDataSet* detail_;
    std::string fieldNames_;
    std::vector<TField*> fields_;
};

// ---------------------------------------------------------------------------------------------
// Connections

// Called with true after the connection opened and false before it closes.
using TConnectChangeEvent = std::function<void(bool connecting)>;
using TLoginEvent = std::function<void(rtl::TObject* sender, std::string& username, std::string& password)>;

// The base of database connections: the clients (datasets and other users) told of every
// connect and disconnect, the connect events and the streamed Connected value.
//
// Connecting: BeforeConnect, DoConnect, SendConnectEvent(true), AfterConnect.
// Disconnecting: BeforeDisconnect, SendConnectEvent(false), DoDisconnect, AfterDisconnect.
class TCustomConnection : public rtl::TComponent {
public:
    explicit TCustomConnection(rtl::TComponent* owner = nullptr);
    ~TCustomConnection() override;

    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    bool Connected() { return GetConnected(); }
    virtual bool GetConnected() { return false; }
    virtual void SetConnected(bool value);

    // A client is told of connects and disconnects through event (may be empty).
    virtual void RegisterClient(rtl::TObject* client, TConnectChangeEvent event = nullptr);
    virtual void UnRegisterClient(rtl::TObject* client);
    int ClientCount() const { return static_cast<int>(clients_.size()); }
    rtl::TObject* Clients(int index) const { return clients_[static_cast<size_t>(index)].client; }
    // The registered clients that are datasets.
    int DataSetCount() const;
    TDataSet* DataSets(int index) const;
    // Tells every registered client; a client that unregisters meanwhile is skipped.
    void SendConnectEvent(bool connecting);

    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool value) { loginPrompt_ = value; }
    bool StreamedConnected() const { return streamedConnected_; }
    void SetStreamedConnected(bool value) { streamedConnected_ = value; }

    void Loaded() override;

    rtl::TNotifyEvent AfterConnect;
    rtl::TNotifyEvent BeforeConnect;
    rtl::TNotifyEvent AfterDisconnect;
    rtl::TNotifyEvent BeforeDisconnect;
    TLoginEvent OnLogin;

protected:
    virtual void DoConnect() {}
    virtual void DoDisconnect() {}

private:
    struct Client {
        rtl::TObject* client;
        TConnectChangeEvent event;
    };
    std::vector<Client> clients_;
    bool loginPrompt_ = false;
    bool streamedConnected_ = false;
};

}  // namespace db
