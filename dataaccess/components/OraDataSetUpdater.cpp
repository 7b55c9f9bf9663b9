// The Oracle dataset updater: sequence-fed keys, ROWID after a post, update queries that keep the
// ROWID of the row they changed, returned parameters, batches in an anonymous block and record
// locks as savepoints.
#include "dataaccess/components/OraSQLGenerator.h"
#include "platform/rtl/Strings.h"

namespace dac {

using rtl::Variant;

TCustomOraDataSetUpdater::TCustomOraDataSetUpdater(TDataSetService* service) : TDADataSetUpdater(service) {}

TCustomOraDataSetService* TCustomOraDataSetUpdater::OraService() const {
    return static_cast<TCustomOraDataSetService*>(FOwnerService);
}

TOraDataSet* TCustomOraDataSetUpdater::OraDataSet() const {
    return static_cast<TOraDataSet*>(FDataSet);
}

TCustomDADataSet* TCustomOraDataSetUpdater::CreateUpdateQuery() {
    return new TOraQuery();
}

bool TCustomOraDataSetUpdater::HasObjectFields() const {
    TData* data = OraDataSet()->GetIRecordSet();
    if (!data) return false;
    for (int i = 0; i < data->Fields().Count(); ++i) {
        const TDataType t = data->Fields()[i]->DataType;
        if (t == dtObject || t == dtReference || t == dtArray || t == dtTable || t == 116) return true;
    }
    return false;
}

bool TCustomOraDataSetUpdater::IsPreconnectForInsert() {
    return OraDataSet()->SequenceMode() == smInsert;
}

bool TCustomOraDataSetUpdater::IsPreconnectForEdit() {
    TOraDataSet* ds = OraDataSet();
    return (!ds->CachedUpdates() && ds->LockMode() == lmLockImmediate) || HasObjectFields();
}

bool TCustomOraDataSetUpdater::IsPreconnected() {
    if (TDADataSetUpdater::IsPreconnected()) return true;
    TOraSession* s = OraDataSet()->Session();
    return s && s->Options().DisconnectedMode() && HasObjectFields();
}

bool TCustomOraDataSetUpdater::GetIdentityFieldValue(Variant& value) {
    auto* q = dynamic_cast<TOraDataSet*>(UpdateQuery());
    if (!q || !q->OCICommand()) return false;
    AnsiString rowId;
    try {
        q->OCICommand()->GetRowId(rowId);
    } catch (const rtl::Exception&) {
        return false;
    }
    value = rowId;
    return !rowId.empty();
}

bool TCustomOraDataSetUpdater::GetDefaultExpressionValue(const AnsiString& expression, Variant& value) {
    const AnsiString e = rtl::UpperCase(rtl::Trim(expression));
    if (e == "EMPTY_BLOB()" || e == "EMPTY_CLOB()") {
        value = rtl::Null();
        return true;
    }
    return false;
}

void TCustomOraDataSetUpdater::CheckUpdateQuery(TStatementType statementType) {
    TDADataSetUpdater::CheckUpdateQuery(statementType);
    auto* q = static_cast<TCustomDADataSet*>(UpdateQuery());
    if (TCRCommand* c = q->GetICommand()) c->SetProp(prGetRowId, true);
}

void TCustomOraDataSetUpdater::SetUpdateQueryOptions(TStatementType /*statementType*/) {
    auto* q = dynamic_cast<TOraDataSet*>(UpdateQuery());
    TCRCommand* from = OraDataSet()->GetICommand();
    TCRCommand* to = q ? q->GetICommand() : nullptr;
    if (!from || !to) return;
    for (int prop : {prCacheLobs, prFieldsAsString, prRawAsString, prTemporaryLobUpdate}) {
        Variant v;
        if (from->GetProp(prop, v)) to->SetProp(prop, v);
    }
}

void TOraDataSetUpdater::SetUpdateQueryOptions(TStatementType /*statementType*/) {
    auto* q = dynamic_cast<TOraDataSet*>(UpdateQuery());
    if (!q) return;
    TOraDataSetOptions& from = OraDataSet()->Options();
    TOraDataSetOptions& to = q->Options();
    to.SetCacheLobs(from.CacheLobs());
    to.SetFieldsAsString(from.FieldsAsString());
    to.SetRawAsString(from.RawAsString());
    to.SetTemporaryLobUpdate(from.TemporaryLobUpdate());
}

void TCustomOraDataSetUpdater::ExecuteUpdateCommand(TStatementTypes statementTypes) {
    TDAParams* params = UpdateQueryParams();
    if (params && (IsReturnParams() || statementTypes.Contains(stRefresh)))
        for (int i = 0; i < params->Count(); ++i) {
            TDAParam* p = params->Items(i);
            if (p->DataType() != db::ftOraBlob && p->DataType() != db::ftOraClob)
                p->SetParamType(db::ptInputOutput);
        }
    if (params && statementTypes.Contains(stRefresh) &&
        (OraDataSet()->State() == db::dsEdit || InCacheApply()))
        if (TFieldDesc* identity = OraService()->IdentityField())
            if (TDAParam* p = params->FindParam("OLD_ROWID"))
                if (db::TField* f = OraDataSet()->GetField(identity)) p->SetValue(f->Value());
    TDADataSetUpdater::ExecuteUpdateCommand(statementTypes);
}

AnsiString TCustomOraDataSetUpdater::WrapBatch(const AnsiString& statements) {
    return "BEGIN" + AnsiString(SLLineSeparator) + statements + SLLineSeparator + "END;";
}

void TCustomOraDataSetUpdater::GetSequenceValue() {
    TOraDataSet* ds = OraDataSet();
    std::vector<TFieldDesc*> keys;
    OraService()->GetKeyFieldDescs(keys);
    if (keys.empty()) return;
    const bool saved = ds->Options().ReturnParams;
    ds->Options().ReturnParams = true;
    try {
        PerformSQL("begin\r  SELECT " + OraService()->KeySequence() + ".NEXTVAL INTO :" + keys[0]->Name +
                       " FROM Dual;\r" + "end;",
                   TStatementTypes{stCustom});
    } catch (...) {
        ds->Options().ReturnParams = saved;
        throw;
    }
    ds->Options().ReturnParams = saved;
}

void TCustomOraDataSetUpdater::PrepareAppend() {
    if (OraService()->KeyGeneratorField() && OraDataSet()->SequenceMode() == smInsert) GetSequenceValue();
}

bool TCustomOraDataSetUpdater::PerformAppend() {
    TOraDataSet* ds = OraDataSet();
    if (!OraService()->KeyGeneratorField()) return TDADataSetUpdater::PerformAppend();
    const bool saved = ds->Options().ReturnParams;
    const bool ownText = !rtl::Trim(ds->SQLInsert().Text()).empty() ||
                         (ds->UpdateObject() && !rtl::Trim(ds->UpdateObject()->InsertSQL().Text()).empty());
    bool result = false;
    try {
        if (ownText && ds->SequenceMode() == smPost)
            GetSequenceValue();
        else
            ds->Options().ReturnParams = true;
        result = TDADataSetUpdater::PerformAppend();
    } catch (...) {
        ds->Options().ReturnParams = saved;
        throw;
    }
    ds->Options().ReturnParams = saved;
    return result;
}

bool TCustomOraDataSetUpdater::PerformSQL(const AnsiString& sqlText, TStatementTypes statementTypes) {
    const bool result = TDADataSetUpdater::PerformSQL(sqlText, statementTypes);
    if (!result || !statementTypes.Contains(stUpdate)) return result;
    // A logical ROWID may change with the row: the identity field follows it.
    TFieldDesc* identity = OraService()->IdentityField();
    Variant rowId;
    if (identity && GetIdentityFieldValue(rowId) && rowId.AsString().substr(0, 1) == "*") {
        PutRecordValue(identity, rowId);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Record locks

void TOraDataSetUpdater::BeginLockTransaction(const AnsiString& name, bool cached) {
    if (cached) {
        TCustomOraDataSetUpdater::BeginLockTransaction(name, cached);
        return;
    }
    TDATransaction* t = DADataSet()->UsedUpdateTransaction();
    if (t) t->Savepoint(name);
}

void TOraDataSetUpdater::EndLockTransaction(const AnsiString& name, bool cached) {
    if (cached) {
        TCustomOraDataSetUpdater::EndLockTransaction(name, cached);
        return;
    }
    try {
        if (TDATransaction* t = DADataSet()->UsedUpdateTransaction()) t->RollbackToSavepoint(name);
    } catch (...) {
    }
}

}  // namespace dac

namespace dac {

// ---------------------------------------------------------------------------------------------
// The Oracle services' updater and generator, and the dataset's SQL-text hooks

void TCustomOraDataSetService::MakeUpdater() {
    ReplaceUpdater(new TCustomOraDataSetUpdater(this));
}

std::unique_ptr<TDASQLGenerator> TCustomOraDataSetService::CreateSQLGenerator() {
    return std::make_unique<TCustomOraSQLGenerator>(this);
}

void TOraDataSetService::MakeUpdater() {
    ReplaceUpdater(new TOraDataSetUpdater(this));
}

std::unique_ptr<TDASQLGenerator> TOraDataSetService::CreateSQLGenerator() {
    return std::make_unique<TOraSQLGenerator>(this);
}

void TOraDataSet::SetCheckMode(TCheckMode value) {
    checkMode_ = value;
    if (auto* service = DataSetService())
        if (TDADataSetUpdater* updater = service->DAUpdater()) updater->CheckOnLock = value == cmException;
}

AnsiString TOraDataSet::AddWhereToSQL(const AnsiString& sql, const AnsiString& condition) {
    return OraAddWhereCondition(sql, condition);
}

TSQLParserClass TOraDataSet::SQLParserClass() {
    return &CreateParserOf<TOraParser>;
}

}  // namespace dac
