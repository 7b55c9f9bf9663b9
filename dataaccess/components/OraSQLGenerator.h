// The Oracle forms of the update SQL generator and the dataset updater: LOB placeholders,
// RETURNING ... INTO, sequence-fed keys, FOR UPDATE NOWAIT locks, ROWID keys and batches wrapped
// in an anonymous block.
#pragma once

#include "dataaccess/components/DASQLGenerator.h"
#include "dataaccess/components/Ora.h"

namespace dac {

class TCustomOraSQLGenerator : public TDASQLGenerator {
public:
    explicit TCustomOraSQLGenerator(TDADataSetService* service);

    bool IsBlobDataType(TDataType dataType) override;
    bool IsObjectDataType(TDataType dataType) override;
    bool FieldIsNull(TFieldDesc* desc, bool oldValue, TData* data, void* oldRecBuf, void* newRecBuf) override;
    using TDASQLGenerator::FieldIsNull;
    AnsiString GenerateIndexName(const AnsiString& name) override;
    int MaxIdentLength() override { return 30; }
    bool IsSubstituteParamName() override { return false; }
    void AddParam(AnsiString& builder, TFieldDesc* desc, TStatementType statementType,
                  db::TParamType paramType, int index, bool old) override;
    void AddFieldToInsertSQL(TFieldDesc* desc, int index) override;
    void AddFieldToUpdateSQL(TFieldDesc* desc, bool modifiedOnly, int index) override;
    void GenerateInsertSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index) override;
    void GenerateUpdateSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index) override;
    void GenerateLockSQL(const TKeyAndDataFields& fields, int index) override;
    AnsiString GenerateTableSQL(const AnsiString& tableName, const AnsiString& orderFields) override;
    AnsiString GenerateSelectValues(const AnsiString& values) override;

protected:
    // The key sequence's next value is taken inside the INSERT (an OCI 8 session on a server of
    // version 8 or later; also when not connected) rather than selected into the key first.
    virtual bool SequenceInsideInsert();
    TCustomOraDataSetService* OraService() const;
    TOraDataSet* OraDataSet() const;
    // LOB values are written through EMPTY_BLOB()/EMPTY_CLOB() and the returned locators.
    bool LobPlaceholders() const;
    bool IsOraLob(TDataType dataType) const;
    // The RETURNING and INTO lists into the footer.
    void AddReturning(const AnsiString& names, const AnsiString& params);

private:
    TFieldDesc* sequenceField_ = nullptr;
    bool sequenceInInsert_ = false;
    bool lobFlag_ = false;
};

class TOraSQLGenerator : public TCustomOraSQLGenerator {
public:
    explicit TOraSQLGenerator(TDADataSetService* service) : TCustomOraSQLGenerator(service) {}
    using TDASQLGenerator::FieldModified;
    bool FieldModified(TFieldDesc* desc) override;
};

class TCustomOraDataSetUpdater : public TDADataSetUpdater {
public:
    explicit TCustomOraDataSetUpdater(TDataSetService* service);

    bool PerformAppend() override;
    bool IsPreconnectForInsert() override;
    bool IsPreconnectForEdit() override;
    bool IsPreconnected() override;
    bool GetIdentityFieldValue(rtl::Variant& value) override;
    bool GetDefaultExpressionValue(const AnsiString& expression, rtl::Variant& value) override;
    void CheckUpdateQuery(TStatementType statementType) override;
    void SetUpdateQueryOptions(TStatementType statementType) override;
    void ExecuteUpdateCommand(TStatementTypes statementTypes) override;
    void PrepareAppend() override;
    AnsiString WrapBatch(const AnsiString& statements) override;
    bool PerformSQL(const AnsiString& sqlText, TStatementTypes statementTypes) override;
    // The next value of the key sequence into the key field.
    void GetSequenceValue();

protected:
    TCustomDADataSet* CreateUpdateQuery() override;
    TCustomOraDataSetService* OraService() const;
    TOraDataSet* OraDataSet() const;
    bool HasObjectFields() const;
};

class TOraDataSetUpdater : public TCustomOraDataSetUpdater {
public:
    explicit TOraDataSetUpdater(TDataSetService* service) : TCustomOraDataSetUpdater(service) {}
    void SetUpdateQueryOptions(TStatementType statementType) override;
    // A record lock is only a savepoint in the transaction the lock statement runs in.
    void BeginLockTransaction(const AnsiString& name, bool cached) override;
    void EndLockTransaction(const AnsiString& name, bool cached) override;
};

}  // namespace dac
