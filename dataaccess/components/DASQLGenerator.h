// The update SQL generator and the dataset updater: how a dataset's record changes become INSERT,
// UPDATE, DELETE, lock and refresh statements, and how those statements run and bring rows back.
//
// A generator writes one statement at a time into six pieces (header, field list, middle,
// field-parameter list, condition, footer) and, when given a parameter list, fills it with one
// parameter per placeholder together with a parallel list that names the dataset field and
// whether its old value is meant. The updater chooses the text (the caller's, the update
// object's, the dataset's own or the generated one), binds the parameters from the record, runs
// the statement on an update query of its own and copies returned values and rows back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/components/DBAccess.h"

namespace dac {

class TDASQLGenerator;

// Which dataset field feeds a generated parameter, and whether its old value is meant.
struct TDAParamInfo {
    db::TField* Field = nullptr;
    bool Old = false;
    // The statement's number within an update batch; -1 outside batches.
    int ParamIndex = -1;
};
using TDAParamsInfo = std::vector<TDAParamInfo>;

// The key and data field descriptors a statement is generated from.
struct TKeyAndDataFields {
    std::vector<TFieldDesc*> KeyFieldDescs;
    std::vector<TFieldDesc*> DataFieldDescs;
};

// Line ends of the generated texts.
inline constexpr const char* SLLineSeparator = "\r\n";

class TDASQLGenerator : public rtl::TObject {
public:
    // The service and its dataset must exist.
    explicit TDASQLGenerator(TDADataSetService* service);
    ~TDASQLGenerator() override;

    virtual void Clear();
    virtual AnsiString AssembleSQL();
    virtual bool IsBlobDataType(TDataType dataType);
    virtual bool IsObjectDataType(TDataType dataType);
    virtual bool FieldIsNull(TFieldDesc* desc, bool oldValue, TData* data, void* oldRecBuf, void* newRecBuf);
    bool FieldIsNull(TFieldDesc* desc, bool oldValue);
    virtual bool FieldModified(TFieldDesc* desc, TData* data, void* oldRecBuf, void* newRecBuf);
    virtual bool FieldModified(TFieldDesc* desc);
    virtual AnsiString GetActualFieldName(TFieldDesc* desc, bool isRefresh);
    virtual AnsiString GenerateIndexName(const AnsiString& name);
    // -1 unless the name is "_" followed by an integer.
    virtual int DecodeFieldIndex(const AnsiString& name);
    virtual int MaxIdentLength();
    virtual bool IsSubstituteParamName();
    virtual void AddParam(AnsiString& builder, TFieldDesc* desc, TStatementType statementType,
                          db::TParamType paramType, int index, bool old);
    virtual void AddFieldToInsertSQL(TFieldDesc* desc, int index);
    virtual void AddFieldToUpdateSQL(TFieldDesc* desc, bool modifiedOnly, int index);
    virtual void AddFieldToRefreshSQL(TFieldDesc* desc);
    virtual void AddFieldToCondition(AnsiString& builder, TFieldDesc* desc, TStatementType statementType,
                                     int index);
    virtual void GenerateInsertSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index);
    virtual void GenerateUpdateSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index);
    virtual void GenerateDeleteSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index);
    virtual void GenerateLockSQL(const TKeyAndDataFields& fields, int index);
    virtual void GenerateRefreshSQLSelectPart(const TKeyAndDataFields& fields);
    virtual void GenerateRefreshSQLFromPart();
    virtual void GenerateRefreshSQL(const TKeyAndDataFields& fields, bool modifiedOnly);
    virtual void GenerateRefreshQuickSQL(const TKeyAndDataFields& fields);
    virtual void GenerateRefreshCheckDeletedSQL(const std::vector<TFieldDesc*>& keyDescs);
    virtual void GenerateConditions(AnsiString& builder, TStatementType statementType, int index,
                                    const TKeyAndDataFields& fields);

    // Empty when the service has no updating table. index: the statement's number in a batch, -1
    // outside batches. params, when given, receives one parameter per placeholder.
    AnsiString GenerateSQL(TStatementType statementType, bool modifiedOnly, TDAParams* params,
                           int index = -1);
    AnsiString GenerateSQLforTable(TCRTableInfo* table, const TKeyAndDataFields& fields,
                                   TStatementType statementType, bool modifiedOnly, TDAParams* params,
                                   int index);
    virtual AnsiString GenerateTableSQL(const AnsiString& tableName, const AnsiString& orderFields);
    virtual AnsiString GenerateSelectValues(const AnsiString& values);

    const TDAParamsInfo& ParamsInfo() const { return paramsInfo_; }
    TDADataSetService* Service() const { return service_; }
    TCustomDADataSet* DataSet() const { return dataSet_; }

protected:
    // The record before its change and the record as it is to be written.
    void* OldRecBuf();
    void* NewRecBuf();
    TData* Data() const;
    TSQLInfo* SQLInfo() const;
    bool QuoteNames() const;
    AnsiString TableName() const;
    // The dataset's record set matches its connection.
    void CheckRecordSet();

    TDADataSetService* service_;
    TCustomDADataSet* dataSet_;
    AnsiString header_, fieldList_, middle_, fieldParamList_, condition_, footer_;
    TDAParams* params_ = nullptr;
    TDAParamsInfo paramsInfo_;
    TCRTableInfo* table_ = nullptr;

private:
    void* oldRecBuf_ = nullptr;
    void* newRecBuf_ = nullptr;
    bool oldRecBufValid_ = false;
    bool newRecBufValid_ = false;
};

// ---------------------------------------------------------------------------------------------
// The dataset updater

class TDADataSetUpdater : public TDataSetUpdater {
public:
    explicit TDADataSetUpdater(TDataSetService* service);
    ~TDADataSetUpdater() override;

    // The storage's hooks.
    bool PerformInsert() override { return PerformAppend(); }
    bool PerformDelete() override;
    bool PerformUpdate() override;
    bool PerformRevertRecord() override;
    bool PerformAfterApplyUpdates() override;
    bool PerformCancelUpdates() override;
    bool BatchUpdate() override { return IsBatchUpdate(); }
    bool BatchFull() override { return IsBatchFull(); }
    void FlushBatch() override;

    virtual bool PerformAppend();
    virtual bool IsBatchUpdate();
    virtual bool IsBatchFull();
    virtual bool KeepParamTypes() { return false; }
    virtual bool IsReturnParams();
    virtual bool IsRefreshByRow() { return false; }
    virtual bool NeedRefreshAfterPost();
    virtual bool IsPreconnectForInsert() { return false; }
    virtual bool IsPreconnectForEdit() { return false; }
    virtual bool IsPreconnected();
    virtual bool IsRefreshInLock();
    virtual bool GetIdentityFieldValue(rtl::Variant& value);
    virtual bool IsSavepointSupported() { return true; }
    virtual void BeginLockTransaction(const AnsiString& name, bool cached);
    virtual void EndLockTransaction(const AnsiString& name, bool cached);
    // The dataset field a parameter name stands for; old is set for an "OLD_" name.
    virtual db::TField* FindFieldForParam(const AnsiString& name, bool& old, int& fieldNo);
    virtual AnsiString GetDataSetSQL(TStatementType statementType);
    virtual void CheckUpdateQuery(TStatementType statementType);
    virtual void SetUpdateQueryOptions(TStatementType statementType) { (void)statementType; }
    virtual void PrepareUpdateSQL(const AnsiString& sqlText, TStatementTypes statementTypes, bool generate);
    virtual void ExecuteUpdateCommand(TStatementTypes statementTypes);
    virtual void PrepareAppend() {}
    virtual void PrepareEdit();
    virtual void PrepareDelete();
    virtual void PrepareCancel();
    virtual void BeginCachedLock();
    virtual void ResetCachedLock();
    virtual void EndCachedLock();
    virtual void EndCachedLockIfPending();
    virtual bool LockRecord();
    virtual bool UnlockRecord();
    virtual bool RefreshRecord();
    virtual bool RefreshRecordInPost();
    virtual bool RefreshQuick(bool checkDeleted);
    virtual AnsiString WrapBatch(const AnsiString& statements) { return statements; }
    virtual bool CompareFieldValues(const rtl::Variant& oldValue, const rtl::Variant& newValue);
    virtual bool GetDefaultExpressionValue(const AnsiString& expression, rtl::Variant& value);
    // The statement runner: the text (or the chosen one when empty) for the statement types.
    virtual bool PerformSQL(const AnsiString& sqlText, TStatementTypes statementTypes);
    // A statement of a provider update kind, its parameters filled from a delta dataset.
    bool PerformPSUpdateRecord(db::TUpdateKind updateKind, db::TDataSet* delta);
    // A new dataset of the session's kind, owned by the caller.
    std::unique_ptr<TCustomDADataSet> NewDataSet() {
        return std::unique_ptr<TCustomDADataSet>(CreateUpdateQuery());
    }
    // Gives back every update query's prepared statement (the dataset's cursor closed).
    void UnPrepareUpdateQueries();

    TCustomDADataSet* DADataSet() const;
    TDADataSetService* DAService() const;
    // The component that runs the current statement: an update query of this updater or a
    // component of the update object.
    rtl::TComponent* UpdateQuery() const { return updateQuery_; }
    TCustomDADataSet* UpdateQueryDataSet(TStatementType statementType) const;
    int LockState() const { return lockState_; }
    bool CheckOnLock = true;

protected:
    // The record being written: the new cache buffer while cached updates are applied, else the
    // active buffer.
    void* TargetBuffer() const;
    bool InCacheApply() const;
    // A value into the record being written (Null clears the field).
    void PutRecordValue(TFieldDesc* desc, const rtl::Variant& value);
    // A new, unconnected dataset of the connection's kind for the update queries.
    virtual TCustomDADataSet* CreateUpdateQuery();
    TDAParams* UpdateQueryParams() const;
    AnsiString UpdateQuerySQLText() const;
    void SetUpdateQuerySQL(const AnsiString& text, bool lockMacros, bool lockScanParams);
    // Values of the update query's parameters from the record.
    void BindParams(TStatementType statementType);
    // Returned output parameters into the dataset's fields.
    void ReturnParamsToFields();
    // The update query's current row into the dataset's record.
    void CopyRowToRecord(TStatementType statementType);
    void ApplyRefreshQuickRows(TStatementType statementType);
    void RemoveDeletedRows();
    AnsiString LockName(bool cached) const;
    bool ChangePending();
    void SafeUnlock();
    void LockBeforeChange();
    void EndLockAfterChange(bool done);
    TDATransaction* lockTransaction_ = nullptr;
    int lockState_ = 0;
    bool refreshInPost_ = false;
    TStatementType statementType_ = stQuery;
    TDAParamsInfo paramsInfo_;
    bool generated_ = false;
    AnsiString batchSQL_;
    std::unique_ptr<TDAParams> batchParams_;
    int batchSize_ = 0;

private:
    std::unique_ptr<TCustomDADataSet> updateQueries_[stBatchUpdate + 1];
    rtl::TComponent* updateQuery_ = nullptr;
};

}  // namespace dac
