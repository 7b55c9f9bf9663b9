// The dataset over record storage: TMemDataSet answers the dataset framework's buffer, field and
// navigation requests from a TData (normally a driver record set) that it owns; it edits, posts
// and deletes records through the storage, applies cached updates through its service's updater
// and searches its records (Locate, Lookup, FindRecord, the field-array searches). Around it: the
// map between internal data type codes and field types, the blob stream of blob fields, and the
// per-dataset service and updater that the data-access components replace.
//
// A dataset record buffer is the storage record followed by the uncached calculated area, the
// record info and the storage bookmark:
//
//   offset                 size                 content
//   0                      RecordSize           the storage record (values, null indicators)
//   RecordSize             CalcRecordSize       calculated fields of Kind 2 (0 with CacheCalcFields)
//   RecInfoOffset + 0      4                    record number (1-based; 0 for a new record)
//   RecInfoOffset + 4      1                    update status (0 unchanged .. 3 deleted)
//   RecInfoOffset + 5      1                    bookmark flag (0 current, 1 BOF, 2 EOF, 3 inserted)
//   RecInfoOffset + 6      1                    refreshed mark (0 when the buffer is allocated)
//   BookmarkOffset         RecBookmark::Size    the storage bookmark
//
// Construction creates no storage: descendants create theirs through CreateIRecordSet in their
// own constructors. Virtual calls do not reach overrides from constructors or destructors, so a
// descendant's destructor closes the dataset itself; this class's destructor closes, unprepares and
// frees the storage and then the service.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dataaccess/core/MemData.h"
#include "platform/db/DB.h"
#include "platform/rtl/Streams.h"

namespace dac {

class TMemDataSet;
class TDataSetService;
class TDataSetUpdater;
class XmlWriter;

// ---------------------------------------------------------------------------------------------
// Search options of SearchByFields (bits 0 and 1 are those of the framework's TLocateOptions)

enum TSearchOption {
    srCaseInsensitive = 0,
    srPartialKey = 1,
    // Stop at the first record whose value is not below the key; success also at the end.
    srNearest = 2,
    // Start after the current record.
    srFromNext = 3,
    // Search towards the beginning, starting before the current record.
    srBackward = 4,
    // A text key matches a value that contains it.
    srPartialCompare = 5
};
using TSearchOptions = rtl::TSet<TSearchOption>;

// Update actions of this system beyond the framework's: the change went into a batch that is not
// sent yet; a record handler asks for the default processing.
inline constexpr int uaDeferred = urDeferred;
inline constexpr int uaDefault = 10;

// Record kinds of ApplyUpdates (bit 0 modified, 1 inserted, 2 deleted).
using TUpdateRecordKinds = db::TUpdateRecordTypes;

using TUpdateErrorEvent = std::function<void(db::TDataSet* dataSet, rtl::EDatabaseError& e,
                                             db::TUpdateKind kind, db::TUpdateAction& action)>;
using TUpdateRecordEvent =
    std::function<void(db::TDataSet* dataSet, db::TUpdateKind kind, db::TUpdateAction& action)>;

// ---------------------------------------------------------------------------------------------
// Data type map

// Between the storage's internal data type codes and the framework's field types. Drivers derive
// a map for their own codes and call the base for the rest; one instance per class serves all.
class TDataTypesMap {
public:
    virtual ~TDataTypesMap() = default;

    // An internal code without a field type (31, the driver codes) fails an assertion
    // "Unknown data type".
    virtual db::TFieldType GetFieldType(TDataType dataType) const;
    // 0 for field types the storage has no code for.
    virtual TDataType GetDataType(db::TFieldType fieldType) const;

    static const TDataTypesMap& Instance();
};

// ---------------------------------------------------------------------------------------------
// Dataset service and updater

// Carries record changes to wherever they go. The base performs nothing and reports success;
// the data-access components write to the database.
class TDataSetUpdater : public rtl::TObject {
public:
    // The service must not be nil.
    explicit TDataSetUpdater(TDataSetService* ownerService);

    virtual bool PerformInsert() { return true; }
    virtual bool PerformDelete() { return true; }
    virtual bool PerformUpdate() { return true; }
    virtual bool PerformRevertRecord() { return true; }
    virtual bool PerformAfterApplyUpdates() { return true; }
    virtual bool PerformCancelUpdates() { return true; }
    // Changes are being collected into a batch instead of being sent one by one.
    virtual bool BatchUpdate() { return false; }
    // The collected batch must be sent now.
    virtual bool BatchFull() { return false; }
    virtual void FlushBatch() {}

    // The steps the storage's hooks reach. Insert, delete and update perform nothing while the
    // dataset's LocalUpdate is on; each keeps the dataset's Modified flag as it was.
    void DoPerformInsert();
    void DoPerformDelete();
    void DoPerformUpdate();
    void DoPerformRevertRecord() { PerformRevertRecord(); }
    void DoPerformAfterApplyUpdates() { PerformAfterApplyUpdates(); }
    void DoPerformCancelUpdates() { PerformCancelUpdates(); }
    // One cached change: OnUpdateRecord / OnUpdateError around the perform operation; action
    // receives the outcome (uaDeferred when the change waits in a batch).
    void ApplyRecord(int updateKind, int& action, bool lastItem);

    TDataSetService* OwnerService() const { return FOwnerService; }
    TMemDataSet* DataSet() const { return FDataSet; }

protected:
    TDataSetService* FOwnerService;
    TMemDataSet* FDataSet;

private:
    void PerformStep(bool (TDataSetUpdater::*perform)());
};

// A companion of each dataset: owns the updater, chooses field classes and sets numeric ranges.
// The components replace it with descendants that know SQL generation.
class TDataSetService : public rtl::TObject {
public:
    // Constructors cannot reach MakeUpdater overrides: whoever creates a service calls
    // MakeUpdater afterwards (TMemDataSet::CreateDataSetService does).
    explicit TDataSetService(TMemDataSet* dataSet);
    ~TDataSetService() override;

    virtual void MakeUpdater();
    // Frees the current updater and keeps the given one.
    virtual void ReplaceUpdater(TDataSetUpdater* updater);
    // Integer and float ranges from the storage descriptor's precision and scale.
    virtual void SetNumberRange(db::TFieldDef* fieldDef);
    virtual db::TFieldClass GetFieldClass(db::TFieldType fieldType);
    // Called after the storage was prepared, opened or described, before the field definitions
    // are built.
    virtual void AfterDataOpen() {}
    // Option identifiers are the descendants'; the base fails an assertion.
    virtual bool SetProp(int prop, const rtl::Variant& value);
    virtual bool GetProp(int prop, rtl::Variant& value);

    // XML row-set export: the column's "dt:"/"rs:" type attributes (DatabaseError "Data type is
    // not supported" for object, reference, array and nested-table columns), its identity
    // attributes (named alias when one is given), and the field's value in the current record.
    virtual void WriteFieldXMLDataType(db::TField* field, TFieldDesc* desc, XmlWriter& writer);
    virtual void WriteFieldXMLAttributeType(db::TField* field, TFieldDesc* desc, XmlWriter& writer,
                                            const AnsiString& alias);
    virtual WideString GetFieldXMLValue(db::TField* field, TFieldDesc* desc);

    TMemDataSet* DataSet() const { return FDataSet; }
    TDataSetUpdater* Updater() const { return FOwnedUpdater.get(); }

protected:
    TMemDataSet* FDataSet;
    rtl::TOwned<TDataSetUpdater> FOwnedUpdater;
};

using TDataSetServiceClass = rtl::TClassOf<TDataSetService, TMemDataSet*>;

// ---------------------------------------------------------------------------------------------
// Blob stream

// Reads and writes the blob of a blob, memo or wide-memo field in the record buffer that was
// active when the stream was made; it must not outlive a scroll of the dataset. Without an active
// buffer every operation does nothing and returns 0. A stream opened for reading neither writes
// nor truncates.
class TBlobStream : public rtl::TStream {
public:
    // The field's dataset must be a TMemDataSet (EInvalidCast otherwise). Writing needs the
    // dataset in dsEdit, dsInsert or dsNewValue and a field that is not ReadOnly; the write mode
    // empties the blob at once.
    TBlobStream(db::TBlobField* field, db::TBlobStreamMode mode);
    // A stream that wrote marks the field Modified and tells the dataset the field changed.
    ~TBlobStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;

    bool Opened() const { return FHasBuffer; }
    bool Modified() const { return FModified; }

protected:
    db::TBlobField* FBlobField;
    TMemDataSet* FDataSet;
    db::TRecordBuffer FBuffer = nullptr;
    db::TBlobStreamMode FMode;
    int FFieldNo;
    bool FHasBuffer = false;
    bool FModified = false;
    int64_t FPosition = 0;

private:
    // The storage counts UTF-16 bytes for wide memo fields, 8-bit characters for the others.
    bool Native() const;
    bool FromOldValues() const;
};

// ---------------------------------------------------------------------------------------------
// Dataset

class TMemDataSet : public db::TDataSet {
public:
    // Record info, at RecInfoOffset of a dataset record buffer.
    static constexpr int RecInfoRecNo = 0;
    static constexpr int RecInfoUpdateStatus = 4;
    static constexpr int RecInfoBookmarkFlag = 5;
    static constexpr int RecInfoRefreshed = 6;
    static constexpr int RecInfoSize = 7;

    explicit TMemDataSet(rtl::TComponent* owner = nullptr);
    ~TMemDataSet() override;

    // ---- storage and service
    // A plain TMemData; descendants create their driver record set instead.
    virtual void CreateIRecordSet();
    // Keeps the storage (the previous one is not freed), copies the dataset's settings into it
    // and points its hooks at the dataset.
    virtual void SetIRecordSet(TData* recordSet);
    void FreeIRecordSet();
    TData* GetIRecordSet() const { return FIRecordSet; }
    virtual TDataSetServiceClass GetDataSetServiceClass();
    // Frees the current service and keeps the given one.
    virtual void SetDataSetService(TDataSetService* service);
    TDataSetService* GetDataSetService() const { return FServiceObject; }
    // A service of GetDataSetServiceClass with its updater.
    TDataSetService* CreateDataSetService();
    // Creates the service when there is none or it is of another class.
    void CheckDataSetService();
    virtual const TDataTypesMap& GetDataTypesMapClass();

    // ---- preparing and opening
    virtual void Prepare();
    virtual void UnPrepare();
    bool IsPrepared() const;
    virtual void DataReopen();
    virtual void CreateFieldDefs();
    virtual void GetChildFieldDefName(db::TFieldDef* parentDef, int index, std::string& name);
    virtual uint16_t GetFieldDefSize(db::TFieldType fieldType, TFieldDesc* desc);
    virtual db::TFieldType GetFieldType(TDataType dataType);
    virtual db::TFieldType GetFieldDescFieldType(TFieldDesc* desc);

    // ---- fields and buffers
    // The storage descriptor behind a field (nil when there is none).
    virtual TFieldDesc* GetFieldDesc(db::TField* field);
    // Its FieldNo; Exception "Field %s not found" when there is none.
    int GetFieldDescNo(db::TField* field);
    // The buffer the dataset's state reads and writes; false when there is none.
    bool GetActiveRecBuf(db::TRecordBuffer& buffer);
    // The current record's values before its cached change.
    db::TRecordBuffer GetOldRecord();
    db::TBlobField* BlobFieldOf(TFieldDesc* desc);
    TBlob* GetBlob(db::TField* field);
    TBlob* GetBlob(TFieldDesc* desc);
    TBlob* GetBlobByName(const std::string& name);
    // Releases the complex values the dataset's buffers hold references to (refreshed buffers).
    void FreeRefBuffers();
    void FreeRefComplexFields(db::TRecordBuffer buffer, bool withBlob);
    // Computes the calculated fields of a dataset buffer.
    void CalculateRecordFields(db::TRecordBuffer buffer);
    bool GetRefreshed(db::TRecordBuffer buffer) const;
    void SetRefreshed(db::TRecordBuffer buffer, bool value);

    // Public access to the framework's protected state operations, for the service and updater.
    db::TDataSetState SetTempState(db::TDataSetState state) { return db::TDataSet::SetTempState(state); }
    void RestoreState(db::TDataSetState state) { db::TDataSet::RestoreState(state); }

    // ---- editing and cached updates
    virtual void PerformDeferredPost();
    virtual void SetDefaultExpressionValues();
    void ApplyAllUpdates();
    // Record kinds: bit 0 modified, 1 inserted, 2 deleted.
    virtual void ApplyUpdates(TUpdateRecordKinds kinds);
    void ApplyUpdates() { ApplyAllUpdates(); }
    void CommitUpdates();
    // Takes back every cached change.
    void CancelUpdates();
    void RevertRecord();
    // The apply outcome of the current record (uaApplied, uaFail, ...; urNone before applying).
    int UpdateResult();
    void CheckCachedUpdates();
    bool UpdatesPending();

    // ---- searching
    // Converts a key to the storage's comparison form for the descriptor; Null and Unassigned
    // give no buffer. The buffer is freed by the caller with std::free. EConvertError "Cannot
    // convert type" or a parse error when the value cannot be brought to the field's type.
    virtual void VariantToNativeBuf(const rtl::Variant& value, void*& buffer, TDataType& dataType,
                                    TFieldDesc* desc, bool convertStrings);
    bool LocateRecord(const std::string& keyFields, const rtl::Variant& keyValues, TSearchOptions options,
                      bool keepPosition);
    bool LocateRecordByFields(const std::vector<db::TField*>& keyFields, const rtl::Variant& keyValues,
                              TSearchOptions options, bool keepPosition);
    bool LocateByFields(const std::vector<db::TField*>& keyFields, const rtl::Variant& keyValues,
                        db::TLocateOptions options = {});
    bool SearchByFields(const std::vector<db::TField*>& keyFields, const rtl::Variant& keyValues,
                        TSearchOptions options);

    // ---- settings
    bool CachedUpdates() const { return FCachedUpdates; }
    // Only while the dataset is closed.
    void SetCachedUpdates(bool value);
    bool LocalUpdate() const { return FLocalUpdate; }
    void SetLocalUpdate(bool value);
    const std::string& IndexFieldNames() const { return FIndexFieldNames; }
    virtual void SetIndexFieldNames(const std::string& value);
    bool LocalConstraints() const { return FLocalConstraints; }
    void SetLocalConstraints(bool value) { FLocalConstraints = value; }
    bool NumberRange() const { return FNumberRange; }
    void SetNumberRange(bool value) { FNumberRange = value; }
    bool CacheCalcFields() const { return FCacheCalcFields; }
    void SetCacheCalcFields(bool value) { FCacheCalcFields = value; }
    TUpdateRecordKinds UpdateRecordKinds() const { return FUpdateRecordKinds; }
    // The parent of a nested dataset (set by the nested-table component while it is open).
    TMemDataSet* ParentSet() const { return FParentSet; }
    void SetParentSet(TMemDataSet* value) { FParentSet = value; }
    // The class of the datasets of nested-table fields (the components name theirs).
    using TDataSetClass = rtl::TClassOf<db::TDataSet, rtl::TComponent*>;
    TDataSetClass NestedDataSetClass() const { return FNestedDataSetClass; }
    void SetNestedDataSetClass(TDataSetClass value) { FNestedDataSetClass = value; }

    bool InCacheApply() const { return FInCacheApply; }
    bool InDeferredPost() const { return FInDeferredPost; }
    db::TRecordBuffer DeferredPostOldBuffer() const { return FDeferredPostOldBuffer; }
    db::TRecordBuffer NewCacheBuffer() const { return FNewCacheBuffer; }
    db::TRecordBuffer OldCacheBuffer() const { return FOldCacheBuffer; }
    db::TRecordBuffer OldValuesBuffer() const { return FOldValuesBuffer; }
    int RecInfoOffset() const { return FRecInfoOffset; }
    int BookmarkOffset() const { return FBookmarkOffset; }
    int RecBufferSize() const { return FRecBufferSize; }

    TUpdateErrorEvent OnUpdateError;
    TUpdateRecordEvent OnUpdateRecord;

    // ---- framework operations (public there)
    bool BookmarkValid(const db::TBookmark& bookmark) override;
    int CompareBookmarks(const db::TBookmark& a, const db::TBookmark& b) override;
    rtl::TStream* CreateBlobStream(db::TField* field, db::TBlobStreamMode mode) override;
    void CloseBlob(db::TField*) override {}
    bool GetFieldData(db::TField* field, void* buffer) override;
    bool GetFieldData(int fieldNo, void* buffer) override;
    bool GetFieldData(db::TField* field, void* buffer, bool nativeFormat) override;
    void SetFieldData(db::TField* field, const void* buffer) override;
    void SetFieldData(db::TField* field, const void* buffer, bool nativeFormat) override;
    void DataConvert(db::TField* field, const void* source, void* dest, bool toNative) override;
    bool IsSequenced() const override { return true; }
    bool Locate(const std::string& keyFields, const rtl::Variant& keyValues,
                db::TLocateOptions options) override;
    rtl::Variant Lookup(const std::string& keyFields, const rtl::Variant& keyValues,
                        const std::string& resultFields) override;
    bool FindRecord(bool restart, bool goForward) override;
    void Cancel() override;
    db::TUpdateStatus UpdateStatus() const override;
    rtl::Variant GetStateFieldValue(db::TDataSetState state, db::TField* field) override;
    void DataEvent(db::TDataEvent event, intptr_t info) override;
    void AssignTo(rtl::TPersistent* dest) override;
    void CheckFieldCompatibility(db::TField* field, db::TFieldDef* fieldDef) override;

protected:
    // ---- record buffers
    db::TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(db::TRecordBuffer& buffer) override;
    db::TGetResult GetRecord(db::TRecordBuffer buffer, db::TGetMode mode, bool doCheck) override;
    int GetRecordSize() const override;
    void GetBookmarkData(db::TRecordBuffer buffer, void* data) const override;
    void SetBookmarkData(db::TRecordBuffer buffer, const void* data) override;
    db::TBookmarkFlag GetBookmarkFlag(db::TRecordBuffer buffer) const override;
    void SetBookmarkFlag(db::TRecordBuffer buffer, db::TBookmarkFlag value) override;
    void InitRecord(db::TRecordBuffer buffer) override;
    void InternalInitRecord(db::TRecordBuffer buffer) override;
    void ClearCalcFields(db::TRecordBuffer buffer) override;

    // ---- cursor
    void OpenCursor(bool infoQuery) override;
    void CloseCursor() override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() const override;
    void InternalInitFieldDefs() override;
    void InternalFirst() override;
    void InternalLast() override;
    void InternalGotoBookmark(const void* bookmark) override;
    void InternalSetToRecord(db::TRecordBuffer buffer) override;
    void InternalHandleException() override;
    void InternalRefresh() override;

    // ---- editing
    void InternalEdit() override;
    void InternalInsert() override;
    void InternalPost() override;
    void InternalCancel() override;
    void InternalDelete() override;
    void InternalAddRecord(db::TRecordBuffer buffer, bool append) override;
    void DoOnNewRecord() override;
    void DoAfterOpen() override;
    db::TFieldClass GetFieldClass(db::TFieldType fieldType) override;

    // ---- counts and settings
    int GetRecordCount() const override;
    int GetRecNo() const override;
    void SetRecNoValue(int value) override;
    void SetFilteredValue(bool value) override;
    void SetFilterText(const std::string& value) override;
    void SetFilterOptionsValue(db::TFilterOptions value) override;
    void SetOnFilterRecordValue(const db::TFilterRecordEvent& value) override;
    void SetBlockReadSizeValue(int value) override;

    // ---- the storage's view of the dataset
    void AssertRecordSet() const;
    // Calculated and lookup fields as storage descriptors (the storage's describe hook).
    void DescribeCalcFields();
    // Computes the calculated values of a storage record (the storage's hook).
    void CalcFieldsOfRecord(void* dest, void* source);
    // The filter-record event for a storage record.
    bool FilterRecord(void* recBuf);
    void ActivateFilter();
    void DeactivateFilter();
    void SetFilterData(const std::string& text, db::TFilterOptions options);
    // Around a change of the filter settings of an open dataset: post or cancel the edit first,
    // count and show the rows again after.
    void BeforeFilterChange();
    void AfterFilterChange();
    // The storage descriptor number of a calculated or lookup field.
    int CalcFieldNo(db::TField* field);
    // A dataset record buffer from the same allocator as the framework's.
    db::TRecordBuffer NewRecordBuffer();
    void DisposeRecordBuffer(db::TRecordBuffer& buffer);
    TDataSetUpdater* HookUpdater();
    // Follows the parent of a nested dataset.
    void ParentScrolled();

    TData* FIRecordSet = nullptr;
    TDataSetService* FServiceObject = nullptr;
    db::TRecordBuffer FOldValuesBuffer = nullptr;
    db::TRecordBuffer FFilterRecBuf = nullptr;
    bool FCachedUpdates = false;
    bool FLocalUpdate = false;
    bool FInserting = false;
    bool FEditing = false;
    std::string FIndexFieldNames;
    std::vector<std::pair<TFieldDesc*, db::TField*>> FCalcFieldDescMap;
    TUpdateRecordKinds FUpdateRecordKinds;
    int FBookmarkOffset = 0;
    int FRecInfoOffset = 0;
    int FRecBufferSize = 0;
    bool FInCacheApply = false;
    db::TRecordBuffer FNewCacheBuffer = nullptr;
    db::TRecordBuffer FOldCacheBuffer = nullptr;
    bool FInDeferredPost = false;
    db::TRecordBuffer FDeferredPostOldBuffer = nullptr;
    TMemDataSet* FParentSet = nullptr;
    // The parent's bookmark seen at its last scroll (empty: none seen yet).
    db::TBookmark FParentPosition;
    TDataSetClass FNestedDataSetClass;
    bool FLocalConstraints = true;
    bool FNumberRange = false;
    bool FCacheCalcFields = false;
    bool FCalcFieldsInStorage = true;
    // The fields are bound to the storage's descriptors (the filter event can read them).
    bool FFieldsBound = false;

private:
    struct SearchKeys;
    // The search core over descriptors.
    bool LocateCore(std::vector<TFieldDesc*> keys, const rtl::Variant& keyValues, TSearchOptions options,
                    bool keepPosition);
    bool PrepareKeys(SearchKeys& k, std::vector<TFieldDesc*>& keys, const rtl::Variant& keyValues,
                     TSearchOptions options);
    // -1/0/1: the sorted keys against the record in the work buffer.
    int CompareSortedKeys(const SearchKeys& k, void* work);
    bool RecordMatches(const SearchKeys& k, void* work, bool nearest);
    // Binary search over the sorted keys between record numbers low and high.
    bool BinarySearch(const SearchKeys& k, void* work, int low, int high, bool backward);
    void ReadWorkRecord(const SearchKeys& k, void* work);
    // Before-scroll, the search, and on success the dataset on the found record and after-scroll.
    bool ScrollToFound(const std::function<bool()>& search);
    // A pending edit or insert is cancelled first; then every cached change (all) or the current
    // record's is taken back.
    void TakeBackCachedChanges(bool all);
    // Runs body with the cache buffers lent to the storage.
    void WithCacheBuffers(const std::function<void()>& body);
    void CreateChildDefs(db::TFieldDef* parentDef, TObjectType* objectType, int& next);
    void SetObjectFieldTypes(db::TFields& fields);
};

}  // namespace dac

// The dataset's XML row-set export.
#include "dataaccess/core/MemDSXml.h"
