// The dataset updater: the statement runner, binding from the record, returned values and rows
// copied back, record locks and their savepoints, cached locks, batches and provider statements.
#include <cmath>

#include "dataaccess/components/DASQLGenerator.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Variants.h"

namespace dac {

using rtl::DatabaseError;
using rtl::Variant;

namespace {

// Values the record holds as objects (LOBs, cursors, object types); variants and heap strings
// are plain values here.
bool IsObjectValue(TData* data, TDataType t) {
    return data->IsComplexFieldType(t) && t != dtVariant && t != dtStringRef && t != dtVarBytesRef &&
           t != dtWideStringRef;
}

bool IsRefreshKind(TStatementType t) {
    return t == stRefresh || t == stRefreshQuick || t == stRefreshCheckDeleted;
}

// The one type of a set, stCustom for an empty set or several types.
TStatementType SingleType(TStatementTypes types) {
    int found = -1;
    for (int t = stQuery; t <= stBatchUpdate; ++t)
        if (types.Contains(static_cast<TStatementType>(t))) {
            if (found >= 0) return stCustom;
            found = t;
        }
    return found < 0 ? stCustom : static_cast<TStatementType>(found);
}

// Restores a flag on every way out.
struct FlagRestore {
    bool& flag;
    bool saved;
    explicit FlagRestore(bool& f) : flag(f), saved(f) {}
    ~FlagRestore() { flag = saved; }
};

}  // namespace

TDADataSetUpdater::TDADataSetUpdater(TDataSetService* service) : TDataSetUpdater(service) {
    rtl::Assert(dynamic_cast<TDADataSetService*>(service) != nullptr,
                "dataset updater without a dataset service");
}

TDADataSetUpdater::~TDADataSetUpdater() = default;

TCustomDADataSet* TDADataSetUpdater::DADataSet() const {
    return static_cast<TCustomDADataSet*>(FDataSet);
}

TDADataSetService* TDADataSetUpdater::DAService() const {
    return static_cast<TDADataSetService*>(FOwnerService);
}

TCustomDADataSet* TDADataSetUpdater::UpdateQueryDataSet(TStatementType statementType) const {
    return updateQueries_[statementType].get();
}

void* TDADataSetUpdater::TargetBuffer() const {
    TCustomDADataSet* ds = DADataSet();
    return ds->FInCacheApply ? ds->FNewCacheBuffer : ds->ActiveBuffer();
}

bool TDADataSetUpdater::InCacheApply() const {
    return DADataSet()->FInCacheApply;
}

TCustomDADataSet* TDADataSetUpdater::CreateUpdateQuery() {
    rtl::Assert(false, "FUpdateQuery = nil");
    return nullptr;
}

TDAParams* TDADataSetUpdater::UpdateQueryParams() const {
    if (auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_)) return &q->Params();
    if (auto* s = dynamic_cast<TCustomDASQL*>(updateQuery_)) return &s->Params();
    return nullptr;
}

AnsiString TDADataSetUpdater::UpdateQuerySQLText() const {
    if (auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_)) return q->SQL().Text();
    if (auto* s = dynamic_cast<TCustomDASQL*>(updateQuery_)) return s->SQL().Text();
    return AnsiString();
}

void TDADataSetUpdater::SetUpdateQuerySQL(const AnsiString& text, bool lockMacros, bool lockScanParams) {
    TCustomDASQL* sql = nullptr;
    if (auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_))
        sql = q->InternalSQL();
    else
        sql = dynamic_cast<TCustomDASQL*>(updateQuery_);
    TDBAccessUtils::SetSQLText(sql, text, lockMacros, lockScanParams);
}

// ---------------------------------------------------------------------------------------------
// Simple answers

bool TDADataSetUpdater::IsBatchUpdate() {
    TCustomDADataSet* ds = DADataSet();
    return ds->FInCacheApply && ds->Options().UpdateBatchSize > 1 && !ds->UpdateObject();
}

bool TDADataSetUpdater::IsBatchFull() {
    return IsBatchUpdate() && batchSize_ > 0 && batchSize_ >= DADataSet()->Options().UpdateBatchSize;
}

bool TDADataSetUpdater::IsReturnParams() {
    return DADataSet()->Options().ReturnParams || DADataSet()->DMLRefresh();
}

bool TDADataSetUpdater::NeedRefreshAfterPost() {
    return !DADataSet()->DMLRefresh() || DADataSet()->Options().FullRefresh;
}

bool TDADataSetUpdater::IsPreconnected() {
    const db::TDataSetState s = DADataSet()->State();
    return (s == db::dsEdit && IsPreconnectForEdit()) || (s == db::dsInsert && IsPreconnectForInsert());
}

bool TDADataSetUpdater::IsRefreshInLock() {
    TCustomDADataSet* ds = DADataSet();
    if (!rtl::Trim(ds->SQLLock().Text()).empty()) return false;
    if (ds->RefreshOptions().Contains(roBeforeEdit))
        return rtl::Trim(ds->SQLRefresh().Text()).empty() && !ds->Options().FullRefresh;
    return true;
}

bool TDADataSetUpdater::GetIdentityFieldValue(Variant& /*value*/) {
    return false;
}

bool TDADataSetUpdater::GetDefaultExpressionValue(const AnsiString& /*expression*/, Variant& /*value*/) {
    return false;
}

bool TDADataSetUpdater::CompareFieldValues(const Variant& oldValue, const Variant& newValue) {
    if (rtl::VarSameValue(oldValue, newValue)) return true;
    if (oldValue.VarType() == rtl::varDate && newValue.VarType() == rtl::varDate)
        return std::fabs(oldValue.AsDouble() - newValue.AsDouble()) < 1.1576048564e-08;
    return false;
}

AnsiString TDADataSetUpdater::LockName(bool cached) const {
    AnsiString name = (cached ? "LOCK_CU_" : "LOCK_") + DADataSet()->Name();
    if (name.size() > 30) name.resize(30);
    return name;
}

// The record under the cursor carries a cached change that is not applied yet.
bool TDADataSetUpdater::ChangePending() {
    TCustomDADataSet* ds = DADataSet();
    if (!ds->CachedUpdates() || ds->IsEmpty()) return false;
    return ds->UpdateStatus() != db::usUnmodified && ds->UpdateResult() != db::uaApplied;
}

// ---------------------------------------------------------------------------------------------
// Field of a parameter

db::TField* TDADataSetUpdater::FindFieldForParam(const AnsiString& name, bool& old, int& fieldNo) {
    TCustomDADataSet* ds = DADataSet();
    old = false;
    fieldNo = -1;
    AnsiString rest = name;
    if (rtl::UpperCase(name.substr(0, 4)) == "OLD_") {
        if (db::TField* field = ds->FindField(name)) return field;
        rest = name.substr(4);
        old = true;
    }
    if (!rest.empty() && rest[0] >= '0' && rest[0] <= '9') {
        int number = 0;
        fieldNo = rtl::TryStrToInt(rest, number) ? number : -1;
        for (db::TField* field : ds->FieldList())
            if (fieldNo > 0 && field->FieldNo() == fieldNo) return field;
    }
    return ds->FindField(rest);
}

// ---------------------------------------------------------------------------------------------
// Statement text

AnsiString TDADataSetUpdater::GetDataSetSQL(TStatementType statementType) {
    TCustomDADataSet* ds = DADataSet();
    if (statementType < stInsert || statementType > stRefresh) return AnsiString();
    AnsiString text = ds->UpdateSQL(statementType).Text();
    const AnsiString trimmed = rtl::Trim(text);
    if (statementType == stRefresh && rtl::UpperCase(trimmed.substr(0, 5)) == "WHERE")
        return ds->AddWhereToSQL(ds->GetFinalSQL(), rtl::Trim(trimmed.substr(5)));
    if (statementType == stLock && rtl::UpperCase(trimmed.substr(0, 3)) == "FOR") {
        // Without a refresh statement of its own, the generated one selects the record to lock.
        AnsiString refresh = GetDataSetSQL(stRefresh);
        if (rtl::Trim(refresh).empty())
            refresh = DAService()->SQLGenerator()->GenerateSQL(stRefresh, false, nullptr);
        return refresh + "\r" + trimmed;
    }
    return text;
}

void TDADataSetUpdater::CheckUpdateQuery(TStatementType statementType) {
    TCustomDADataSet* ds = DADataSet();
    std::unique_ptr<TCustomDADataSet>& slot = updateQueries_[statementType];
    if (!slot) {
        rtl::Assert(ds->UsedConnection() != nullptr, "update query without a connection");
        slot.reset(CreateUpdateQuery());
    }
    TCustomDADataSet* q = slot.get();
    q->SetConnection(ds->UsedConnection());
    q->InternalSQL()->NoMonitor = true;
    if (q->Active()) q->Close();
    TDATransaction* t;
    if (lockTransaction_)
        t = lockTransaction_;
    else if (statementType == stRefresh || statementType == stCustom)
        t = ds->UpdateTransaction() && ds->UpdateTransaction()->Active() ? ds->UsedUpdateTransaction()
                                                                         : ds->UsedTransaction();
    else
        t = ds->UsedUpdateTransaction();
    q->SetTransaction(t);
    if (statementType == stBatchUpdate) {
        q->SetParamCheck(false);
        q->Params().Clear();
    }
    q->SetReadOnly(true);
    q->Options().SetTrimFixedChar(ds->Options().TrimFixedChar());
    q->Options().SetTrimVarChar(ds->Options().TrimVarChar());
    q->Options().FullRefresh = ds->Options().FullRefresh;
    if (IsRefreshKind(statementType)) q->Options().SetLongStrings(ds->Options().LongStrings());
    updateQuery_ = q;
    SetUpdateQueryOptions(statementType);
}

void TDADataSetUpdater::PrepareUpdateSQL(const AnsiString& sqlText, TStatementTypes statementTypes,
                                         bool generate) {
    TCustomDADataSet* ds = DADataSet();
    if (statementTypes.Contains(stLock) && statementTypes.Contains(stRefresh))
        statementTypes.Exclude(stRefresh);
    const TStatementType type = SingleType(statementTypes);
    statementType_ = type;
    paramsInfo_.clear();
    generated_ = false;
    updateQuery_ = nullptr;
    rtl::TComponent* object = ds->UpdateObject() && type >= stInsert && type <= stRefresh
                                  ? ds->UpdateObject()->Object(type)
                                  : nullptr;
    if (object) {
        updateQuery_ = object;
        auto* proc = dynamic_cast<TCustomDADataSet*>(object);
        const bool isProc = proc && proc->IsProcCall();
        if (!isProc && rtl::Trim(UpdateQuerySQLText()).empty())
            DatabaseError(
                "SQL property of InsertObject, ModifyObject, DeleteObject or RefreshObject cannot be empty");
        if (auto* q = dynamic_cast<TCustomDADataSet*>(object); q && !q->Connection())
            q->SetConnection(ds->UsedConnection());
        if (auto* s = dynamic_cast<TCustomDASQL*>(object); s && !s->Connection())
            s->SetConnection(ds->UsedConnection());
        return;
    }
    CheckUpdateQuery(type);
    rtl::Assert(updateQuery_ != nullptr,
                "FUpdateQuery = nil. StatementTypes = " + std::to_string(statementTypes.Bits()));
    auto* q = static_cast<TCustomDADataSet*>(updateQuery_);
    q->SetAutoCommit(ds->AutoCommit() &&
                     (statementTypes.Contains(stInsert) || statementTypes.Contains(stUpdate) ||
                      statementTypes.Contains(stDelete) || statementTypes.Contains(stBatchUpdate)));
    AnsiString text;
    if (type == stBatchUpdate)
        text = WrapBatch(batchSQL_);
    else if (!sqlText.empty())
        text = sqlText;
    else if (ds->UpdateObject() && type >= stInsert && type <= stRefresh &&
             !rtl::Trim(ds->UpdateObject()->SQL(type).Text()).empty())
        text = ds->UpdateObject()->SQL(type).Text();
    else if (!(text = GetDataSetSQL(type)).empty()) {
        if (ds->Macros().Count() > 0) ds->Macros().Expand(text);
    } else if (generate) {
        const bool modifiedOnly =
            !(ds->Options().UpdateAllFields || ds->ComponentState().Contains(rtl::csDesigning));
        const int index = IsBatchUpdate() ? batchSize_ : -1;
        const bool noParams =
            (type == stRefreshQuick || type == stRefreshCheckDeleted) &&
            (!ds->FilterSQL().empty() || (ds->HasMasterDetailLink() && !ds->Options().LocalMasterDetail()));
        TDAParams* params = noParams ? nullptr : &q->Params();
        TDASQLGenerator* generator = DAService()->SQLGenerator();
        const AnsiString generatedText = generator->GenerateSQL(type, modifiedOnly, params, index);
        const bool lockScan =
            params && type != stRefreshQuick && type != stRefreshCheckDeleted &&
            (type != stRefresh || (ds->Params().Count() == 0 && !ds->Options().FullRefresh));
        const bool lockMacros = type == stInsert || type == stUpdate || type == stDelete;
        if (!lockScan && params) params->Clear();
        SetUpdateQuerySQL(generatedText, lockMacros, lockScan);
        if (lockScan) paramsInfo_ = generator->ParamsInfo();
        generated_ = true;
        text = generatedText;
    }
    if (IsBatchUpdate() && type != stBatchUpdate && type != stLock && type != stRefresh) {
        AnsiString queued = text;
        if (!generated_) {
            // The parameters of a statement of the dataset's own get the statement's prefix.
            AnsiString prefixed;
            bool inQuote = false;
            for (size_t i = 0; i < queued.size(); ++i) {
                const char c = queued[i];
                if (c == '\'') inQuote = !inQuote;
                prefixed += c;
                if (!inQuote && c == ':' && i + 1 < queued.size() && queued[i + 1] != '=' &&
                    queued[i + 1] != ':')
                    prefixed += "P_" + std::to_string(batchSize_) + "_";
            }
            queued = prefixed;
        }
        if (!rtl::Trim(queued).empty()) {
            if (!batchSQL_.empty()) batchSQL_ += SLLineSeparator;
            batchSQL_ += queued + ";";
            ++batchSize_;
        }
    }
    if (!generated_ && text != UpdateQuerySQLText()) {
        q->Params().Clear();
        q->SQL().SetText(text);
    }
}

// ---------------------------------------------------------------------------------------------
// Binding

void TDADataSetUpdater::BindParams(TStatementType statementType) {
    TCustomDADataSet* ds = DADataSet();
    TDAParams* params = UpdateQueryParams();
    if (!params) return;
    int first = 0;
    TDAParams* target = params;
    if (IsBatchUpdate()) {
        if (!batchParams_) batchParams_ = std::make_unique<TDAParams>(nullptr);
        first = batchParams_->Count();
        for (int i = 0; i < params->Count(); ++i) {
            auto* copy = static_cast<TDAParam*>(batchParams_->Add());
            copy->SetName(params->Items(i)->Name());
            copy->SetDataType(params->Items(i)->DataType());
            copy->SetParamType(params->Items(i)->ParamType());
        }
        target = batchParams_.get();
    }
    const bool byInfo = !(statementType == stRefreshQuick || statementType == stRefreshCheckDeleted ||
                          (statementType == stRefresh && ds->Params().Count() > 0));
    for (int i = first; i < target->Count(); ++i) {
        TDAParam* param = target->Items(i);
        const int k = i - first;
        db::TField* field = nullptr;
        bool old = false;
        if (byInfo && k < static_cast<int>(paramsInfo_.size())) {
            field = paramsInfo_[static_cast<size_t>(k)].Field;
            old = paramsInfo_[static_cast<size_t>(k)].Old;
        } else {
            AnsiString name = ds->GetICommand()->SQLInfo()->UnQuote(param->Name());
            if (rtl::UpperCase(name.substr(0, 2)) == "P_") {
                const size_t sep = name.find('_', 2);
                int number = 0;
                if (sep != AnsiString::npos && rtl::TryStrToInt(name.substr(2, sep - 2), number))
                    name = name.substr(sep + 1);
            }
            const bool ownParam = statementType == stRefresh && ds->MasterSource() &&
                                  ds->MasterFields().empty() && ds->DetailFields().empty() &&
                                  ds->FindParam(name);
            int fieldNo = -1;
            if (!ownParam) field = FindFieldForParam(name, old, fieldNo);
        }
        if (field) {
            const bool honourOld = ds->State() != db::dsInsert || ds->FInDeferredPost;
            ds->AssignFieldValue(param, field, old && honourOld);
        } else if (IsRefreshKind(statementType) && ds->FindParam(param->Name())) {
            param->Assign(ds->FindParam(param->Name()));
        } else if (!ds->BeforeUpdateExecute) {
            DatabaseError(rtl::Format("Not found field corresponding parameter %s", {param->Name()}));
        }
    }
    for (int i = first; i < target->Count(); ++i) target->Items(i)->SetParamType(db::ptInput);
}

// ---------------------------------------------------------------------------------------------
// Execution

void TDADataSetUpdater::ExecuteUpdateCommand(TStatementTypes /*statementTypes*/) {
    // No SQL monitor exists, so nothing is reported around the execution.
    if (auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_))
        q->Execute();
    else if (auto* s = dynamic_cast<TCustomDASQL*>(updateQuery_))
        s->Execute();
}

bool TDADataSetUpdater::PerformSQL(const AnsiString& sqlText, TStatementTypes statementTypes) {
    TCustomDADataSet* ds = DADataSet();
    ds->BeginConnection(true);
    auto closeQuery = [this] {
        if (auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_); q && q->Active()) q->Close();
    };
    bool result = false;
    try {
        PrepareUpdateSQL(sqlText, statementTypes, true);
        if (!rtl::Trim(UpdateQuerySQLText()).empty()) {
            const TStatementType type = statementType_;
            const bool batchRun = type == stBatchUpdate;
            const bool queued = IsBatchUpdate() && !batchRun;
            if (batchRun) {
                TDAParams* params = UpdateQueryParams();
                params->Clear();
                if (batchParams_)
                    for (int i = 0; i < batchParams_->Count(); ++i)
                        static_cast<TDAParam*>(params->Add())->Assign(batchParams_->Items(i));
            } else {
                BindParams(type);
            }
            if (!queued) {
                TDAParams* params = UpdateQueryParams();
                if (ds->BeforeUpdateExecute) {
                    ds->BeforeUpdateExecute(ds, statementTypes, params);
                    for (int i = 0; i < params->Count(); ++i)
                        if (params->Items(i)->DataType() == db::ftUnknown)
                            DatabaseError(
                                rtl::Format("Unknown data type of parameter %s", {params->Items(i)->Name()}));
                }
                ExecuteUpdateCommand(statementTypes);
                auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_);
                if (q && q->Active() && type == stRefreshCheckDeleted) {
                    RemoveDeletedRows();
                } else if (q && q->Active() && (type == stRefreshQuick || type == stRefreshCheckDeleted)) {
                    ApplyRefreshQuickRows(type);
                } else if (q && q->Active() && (type == stLock || type == stRefresh)) {
                    q->Last();
                    const int count = q->RecordCount();
                    ds->rowsAffected_ = count;
                    if (ds->Options().StrictUpdate && count != 1)
                        DatabaseError(rtl::Format("Refresh failed. Found %d records", {count}));
                    q->First();
                    if (type == stRefresh ||
                        (type == stLock && CheckOnLock && !ds->RefreshOptions().Contains(roBeforeEdit)))
                        CopyRowToRecord(type);
                } else if (!batchRun) {
                    const int rows =
                        q ? q->RowsAffected()
                          : TDBAccessUtils::GetRowsProcessed(static_cast<TCustomDASQL*>(updateQuery_));
                    ds->rowsAffected_ = rows;
                    if (ds->Options().StrictUpdate &&
                        (type == stInsert || type == stUpdate || type == stDelete) && rows != 1)
                        DatabaseError(rtl::Format("Update failed. Found %d records", {rows}));
                    if (IsReturnParams() || statementTypes.Contains(stRefresh)) ReturnParamsToFields();
                }
                if (ds->AfterUpdateExecute) ds->AfterUpdateExecute(ds, statementTypes, params);
            }
            result = true;
        }
    } catch (...) {
        try {
            closeQuery();
        } catch (...) {
        }
        ds->EndConnection();
        throw;
    }
    closeQuery();
    ds->EndConnection();
    return result;
}

void TDADataSetUpdater::PutRecordValue(TFieldDesc* desc, const Variant& value) {
    TCustomDADataSet* ds = DADataSet();
    db::TField* field = ds->GetField(desc);
    if (!field) {
        ds->GetIRecordSet()->PutFieldAsVariant(desc->FieldNo, TargetBuffer(), value);
        return;
    }
    // The record is written through its field, writable for the moment.
    const db::TDataSetState state = ds->SetTempState(db::dsNewValue);
    const bool readOnly = field->ReadOnly();
    field->SetReadOnly(false);
    try {
        if (value.IsNull() || value.IsEmpty())
            field->Clear();
        else
            field->SetValue(value);
    } catch (...) {
        field->SetReadOnly(readOnly);
        ds->RestoreState(state);
        throw;
    }
    field->SetReadOnly(readOnly);
    ds->RestoreState(state);
}

void TDADataSetUpdater::ReturnParamsToFields() {
    TCustomDADataSet* ds = DADataSet();
    TDAParams* params = UpdateQueryParams();
    TData* data = ds->GetIRecordSet();
    if (!params || !TargetBuffer()) return;
    for (int i = 0; i < params->Count(); ++i) {
        TDAParam* param = params->Items(i);
        db::TField* field = nullptr;
        bool old = false;
        if (i < static_cast<int>(paramsInfo_.size())) {
            field = paramsInfo_[static_cast<size_t>(i)].Field;
            old = paramsInfo_[static_cast<size_t>(i)].Old;
        } else {
            int fieldNo = -1;
            field = FindFieldForParam(param->Name(), old, fieldNo);
        }
        if (!field || old) continue;
        TFieldDesc* desc = ds->GetFieldDesc(field);
        if (!desc || IsObjectValue(data, desc->DataType)) continue;
        const Variant value = param->IsNull() ? rtl::Null() : param->Value();
        if (!param->IsNull() && rtl::VarSameValue(field->Value(), value)) continue;
        PutRecordValue(desc, value);
    }
}

void TDADataSetUpdater::CopyRowToRecord(TStatementType statementType) {
    TCustomDADataSet* ds = DADataSet();
    auto* q = static_cast<TCustomDADataSet*>(updateQuery_);
    TData* data = ds->GetIRecordSet();
    void* buffer = TargetBuffer();
    if (!buffer) return;
    TDASQLGenerator* generator = DAService()->SQLGenerator();
    const bool lockCheck =
        statementType == stLock && CheckOnLock && !ds->RefreshOptions().Contains(roBeforeEdit);
    const db::TDataSetState s = ds->State();
    const bool useOld = s == db::dsEdit || s == db::dsInsert || s == db::dsSetKey || ds->CachedUpdates();
    for (db::TField* column : q->FieldList()) {
        if (!column->Visible()) continue;
        TFieldDesc* target = nullptr;
        const int index = generator->DecodeFieldIndex(column->FieldName());
        if (index >= 0 && index < data->Fields().Count()) target = data->Fields()[index];
        if (!target) target = data->FindField(column->FieldName());
        if (!target || target->Kind != 0) continue;
        if (IsObjectValue(data, target->DataType)) continue;
        const Variant fetched = column->Value();
        if (lockCheck) {
            db::TField* field = ds->GetField(target);
            if (!field) continue;
            if (!CompareFieldValues(useOld ? field->OldValue() : field->Value(), fetched))
                DatabaseError("Record was changed by another user");
            continue;
        }
        PutRecordValue(target, fetched);
    }
    if (!IsRefreshKind(statementType) || ds->FInCacheApply) return;
    if (ds->CalcFieldsSize() > 0) ds->CalculateRecordFields(static_cast<db::TRecordBuffer>(buffer));
    if (!refreshInPost_ && ds->State() == db::dsBrowse) {
        ds->UpdateCursorPos();
        data->PutRecord(buffer);
        data->AddRefComplexFields(buffer);
        ds->SetRefreshed(static_cast<db::TRecordBuffer>(buffer), true);
    }
}

void TDADataSetUpdater::ApplyRefreshQuickRows(TStatementType statementType) {
    TCustomDADataSet* ds = DADataSet();
    auto* q = static_cast<TCustomDADataSet*>(updateQuery_);
    ds->rowsAffected_ = q->RecordCount();
    std::vector<TFieldDesc*> keys;
    DAService()->GetKeyFieldDescs(keys);
    std::vector<db::TField*> keyFields;
    for (TFieldDesc* k : keys) keyFields.push_back(ds->GetField(k));
    const db::TBookmark saved = ds->GetBookmark();
    for (q->First(); !q->Eof(); q->Next()) {
        Variant values;
        if (keyFields.size() == 1) {
            values = q->FieldByName(keyFields[0]->FieldName())->Value();
        } else {
            values = rtl::VarArrayCreate({0, static_cast<int>(keyFields.size()) - 1}, rtl::varVariant);
            for (size_t k = 0; k < keyFields.size(); ++k)
                values.PutElement(static_cast<int>(k), q->FieldByName(keyFields[k]->FieldName())->Value());
        }
        if (!ds->LocateRecordByFields(keyFields, values, {}, false)) continue;
        ds->Resync({db::rmExact, db::rmCenter});
        CopyRowToRecord(statementType);
    }
    if (ds->BookmarkValid(saved)) ds->GotoBookmark(saved);
    ds->Resync({});
}

void TDADataSetUpdater::RemoveDeletedRows() {
    TCustomDADataSet* ds = DADataSet();
    auto* q = static_cast<TCustomDADataSet*>(updateQuery_);
    std::vector<TFieldDesc*> keys;
    DAService()->GetKeyFieldDescs(keys);
    std::vector<db::TField*> keyFields;
    for (TFieldDesc* k : keys) keyFields.push_back(ds->GetField(k));
    TData* data = ds->GetIRecordSet();
    ds->First();
    while (!ds->Eof()) {
        bool found = false;
        for (q->First(); !q->Eof() && !found; q->Next()) {
            found = true;
            for (db::TField* f : keyFields)
                if (!rtl::VarSameValue(q->FieldByName(f->FieldName())->Value(), f->Value())) found = false;
        }
        if (found) {
            ds->Next();
            continue;
        }
        ds->UpdateCursorPos();
        data->RemoveRecord();
        ds->Resync({});
    }
    ds->Resync({});
}

// ---------------------------------------------------------------------------------------------
// Lock transactions

void TDADataSetUpdater::BeginLockTransaction(const AnsiString& name, bool cached) {
    TDATransaction* t = DADataSet()->UsedUpdateTransaction();
    if (!t) return;
    if (t->Active()) {
        if (IsSavepointSupported()) t->Savepoint(name);
        lockState_ = cached && DADataSet()->CachedUpdates() ? 3 : lockState_ == 3 ? 3 : 0;
    } else {
        t->StartTransaction();
        lockState_ = cached ? 2 : 1;
    }
    lockTransaction_ = t;
}

void TDADataSetUpdater::EndLockTransaction(const AnsiString& name, bool cached) {
    if (!lockTransaction_) return;
    try {
        if ((lockState_ == 1 && !cached) || (lockState_ == 2 && cached)) {
            lockTransaction_->Rollback();
            lockState_ = 0;
        } else {
            lockTransaction_->RollbackToSavepoint(name);
            if (cached && lockState_ == 3) lockState_ = 0;
        }
    } catch (...) {
    }
    if (!(DADataSet()->CachedUpdates() && lockState_ != 0)) lockTransaction_ = nullptr;
}

void TDADataSetUpdater::BeginCachedLock() {
    TCustomDADataSet* ds = DADataSet();
    if (!ds->CachedUpdates() || ds->LockMode() != lmLockImmediate) return;
    if (!ds->UpdatesPending()) BeginLockTransaction(LockName(true), true);
}

void TDADataSetUpdater::ResetCachedLock() {
    TCustomDADataSet* ds = DADataSet();
    if (!ds->CachedUpdates() || ds->LockMode() != lmLockImmediate) return;
    if (!ds->UpdatesPending()) {
        lockTransaction_ = nullptr;
        lockState_ = 0;
    }
}

void TDADataSetUpdater::EndCachedLock() {
    TCustomDADataSet* ds = DADataSet();
    if (!ds->CachedUpdates() || ds->LockMode() != lmLockImmediate) return;
    if (!ds->UpdatesPending()) EndLockTransaction(LockName(true), true);
}

void TDADataSetUpdater::EndCachedLockIfPending() {
    TCustomDADataSet* ds = DADataSet();
    if (!ds->CachedUpdates() || ds->LockMode() != lmLockImmediate) return;
    if (ds->UpdatesPending()) EndLockTransaction(LockName(true), true);
}

bool TDADataSetUpdater::LockRecord() {
    TCustomDADataSet* ds = DADataSet();
    if (ds->Eof() && ds->IsEmpty()) return false;
    ds->UpdateCursorPos();
    BeginLockTransaction(LockName(false), false);
    return PerformSQL(AnsiString(), TStatementTypes{stLock});
}

bool TDADataSetUpdater::UnlockRecord() {
    EndLockTransaction(LockName(false), false);
    return true;
}

void TDADataSetUpdater::SafeUnlock() {
    try {
        UnlockRecord();
    } catch (...) {
    }
    if (DADataSet()->CachedUpdates()) try {
            EndCachedLock();
        } catch (...) {
        }
}

// ---------------------------------------------------------------------------------------------
// Before editing, deleting, cancelling

void TDADataSetUpdater::PrepareEdit() {
    TCustomDADataSet* ds = DADataSet();
    const bool cachedInsert =
        ds->CachedUpdates() && ds->UpdateStatus() == db::usInserted && ds->UpdateResult() != db::uaApplied;
    bool refresh = ds->RefreshOptions().Contains(roBeforeEdit) && !cachedInsert;
    bool refreshInLock = false;
    if (refresh) {
        if (IsRefreshInLock())
            refreshInLock = true;
        else
            RefreshRecord();
    }
    const bool lock = ds->LockMode() == lmLockImmediate && !ChangePending();
    if (!lock) return;
    if (ds->CachedUpdates()) BeginCachedLock();
    BeginLockTransaction(LockName(false), false);
    TStatementTypes types{stLock};
    if (refreshInLock) types.Include(stRefresh);
    try {
        PerformSQL(AnsiString(), types);
    } catch (...) {
        SafeUnlock();
        throw;
    }
}

void TDADataSetUpdater::PrepareDelete() {
    TCustomDADataSet* ds = DADataSet();
    if (ds->LockMode() != lmLockImmediate || ChangePending()) return;
    if (ds->CachedUpdates()) BeginCachedLock();
    try {
        LockRecord();
    } catch (...) {
        SafeUnlock();
        throw;
    }
}

void TDADataSetUpdater::PrepareCancel() {
    TCustomDADataSet* ds = DADataSet();
    if (ds->LockMode() != lmLockImmediate || ds->State() == db::dsInsert || ChangePending()) return;
    UnlockRecord();
    if (ds->CachedUpdates()) EndCachedLock();
}

// ---------------------------------------------------------------------------------------------
// Posting

bool TDADataSetUpdater::PerformAppend() {
    TCustomDADataSet* ds = DADataSet();
    const bool done = PerformSQL(AnsiString(), TStatementTypes{stInsert});
    if (!done && ds->Options().StrictUpdate)
        DatabaseError(rtl::Format("Update failed. Found %d records", {0}));
    if (!done) return false;
    if (TFieldDesc* identity = DAService()->IdentityField()) {
        Variant value;
        if (GetIdentityFieldValue(value)) {
            PutRecordValue(identity, value);
        }
    }
    if (auto* q = dynamic_cast<TCustomDADataSet*>(updateQuery_)) ds->lastInsertId_ = q->LastInsertId();
    if (ds->RefreshOptions().Contains(roAfterInsert) && NeedRefreshAfterPost()) RefreshRecordInPost();
    return true;
}

// A delayed lock taken just before an update or delete; a failed lock leaves nothing locked.
void TDADataSetUpdater::LockBeforeChange() {
    if (DADataSet()->CachedUpdates()) BeginCachedLock();
    try {
        LockRecord();
    } catch (...) {
        SafeUnlock();
        throw;
    }
}

// After an update or delete: a change that found no row unlocks; a done change commits the lock's
// own transaction when the dataset commits by itself.
void TDADataSetUpdater::EndLockAfterChange(bool done) {
    TCustomDADataSet* ds = DADataSet();
    if (!done && ds->LockMode() != lmNone) {
        UnlockRecord();
    } else if (done && lockTransaction_ && ds->AutoCommit()) {
        if (lockState_ == 1 || lockState_ == 2) lockTransaction_->Commit();
        lockState_ = 0;
        lockTransaction_ = nullptr;
    }
}

bool TDADataSetUpdater::PerformUpdate() {
    TCustomDADataSet* ds = DADataSet();
    ds->BeginConnection(true);
    bool result = false;
    try {
        const bool delayed = ds->LockMode() == lmLockDelayed && !ChangePending();
        if (delayed) LockBeforeChange();
        try {
            result = PerformSQL(AnsiString(), TStatementTypes{stUpdate});
        } catch (...) {
            if (ds->LockMode() == lmLockDelayed) SafeUnlock();
            throw;
        }
        if (result && ds->RefreshOptions().Contains(roAfterUpdate) &&
            (ds->Options().FullRefresh || !ds->DMLRefresh()))
            RefreshRecordInPost();
        EndLockAfterChange(result);
    } catch (...) {
        ds->EndConnection();
        throw;
    }
    ds->EndConnection();
    return result;
}

bool TDADataSetUpdater::PerformDelete() {
    TCustomDADataSet* ds = DADataSet();
    const bool delayed = ds->LockMode() == lmLockDelayed;
    if (delayed) ds->BeginConnection(true);
    bool result = false;
    try {
        if (delayed && !ChangePending()) LockBeforeChange();
        try {
            result = PerformSQL(AnsiString(), TStatementTypes{stDelete});
        } catch (...) {
            if (delayed) SafeUnlock();
            throw;
        }
        EndLockAfterChange(result);
    } catch (...) {
        if (delayed) ds->EndConnection();
        throw;
    }
    if (delayed) ds->EndConnection();
    return result;
}

bool TDADataSetUpdater::PerformRevertRecord() {
    EndCachedLock();
    return true;
}

bool TDADataSetUpdater::PerformAfterApplyUpdates() {
    ResetCachedLock();
    return true;
}

bool TDADataSetUpdater::PerformCancelUpdates() {
    EndCachedLockIfPending();
    return true;
}

void TDADataSetUpdater::FlushBatch() {
    struct Clear {
        TDADataSetUpdater* u;
        ~Clear() {
            u->batchSQL_.clear();
            u->batchParams_.reset();
            u->batchSize_ = 0;
        }
    } clear{this};
    if (batchSize_ > 0) PerformSQL(AnsiString(), TStatementTypes{stBatchUpdate});
}

// ---------------------------------------------------------------------------------------------
// Refreshing

bool TDADataSetUpdater::RefreshRecord() {
    TCustomDADataSet* ds = DADataSet();
    if (ds->CachedUpdates() && !ds->FInCacheApply && ds->UpdateStatus() == db::usModified) ds->RevertRecord();
    return PerformSQL(AnsiString(), TStatementTypes{stRefresh});
}

bool TDADataSetUpdater::RefreshRecordInPost() {
    FlagRestore restore(refreshInPost_);
    refreshInPost_ = true;
    return RefreshRecord();
}

bool TDADataSetUpdater::RefreshQuick(bool checkDeleted) {
    TCustomDADataSet* ds = DADataSet();
    if (ds->BeforeRefresh) ds->BeforeRefresh(ds);
    ds->BeginConnection(true);
    try {
        std::vector<TFieldDesc*> keys;
        DAService()->GetKeyFieldDescs(keys);
        if (keys.empty()) DatabaseError("Unique keyfields required");
        ds->CheckBrowseMode();
        if (DAService()->GetUpdatingTableInfo()) {
            const bool strict = ds->Options().StrictUpdate;
            const bool filtered = ds->Filtered();
            ds->Options().StrictUpdate = false;
            ds->DisableControls();
            try {
                std::vector<db::TField*> keyFields;
                Variant keyValues;
                ds->GetCurrentKeys(keyFields, keyValues);
                if (checkDeleted && !ds->IsEmpty()) {
                    PerformSQL(AnsiString(), TStatementTypes{stRefreshCheckDeleted});
                    // The walk over the rows moved the cursor: the quick refresh reads the kept record.
                    if (!keyFields.empty() && !keyValues.IsEmpty() &&
                        ds->LocateRecordByFields(keyFields, keyValues, {}, false))
                        ds->Resync({db::rmExact, db::rmCenter});
                }
                PerformSQL(AnsiString(), TStatementTypes{stRefreshQuick});
                if (keyFields.empty() || keyValues.IsEmpty() ||
                    !ds->LocateRecordByFields(keyFields, keyValues, {}, false))
                    ds->First();
                else
                    ds->Resync({db::rmExact, db::rmCenter});
            } catch (...) {
                ds->Options().StrictUpdate = strict;
                if (ds->Filtered() != filtered) ds->SetFiltered(filtered);
                ds->EnableControls();
                throw;
            }
            ds->Options().StrictUpdate = strict;
            ds->EnableControls();
            if (ds->AfterRefresh) ds->AfterRefresh(ds);
        }
    } catch (...) {
        ds->EndConnection();
        throw;
    }
    ds->EndConnection();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Provider statements

bool TDADataSetUpdater::PerformPSUpdateRecord(db::TUpdateKind updateKind, db::TDataSet* delta) {
    const TStatementType type = UpdateKindToStatementType(updateKind);
    PrepareUpdateSQL(AnsiString(), TStatementTypes{type}, false);
    if (rtl::Trim(UpdateQuerySQLText()).empty()) return false;
    TDAParams* params = UpdateQueryParams();
    for (int i = 0; i < params->Count(); ++i) {
        TDAParam* param = params->Items(i);
        const AnsiString name = param->Name();
        if (rtl::UpperCase(name.substr(0, 4)) == "OLD_") {
            if (db::TField* f = delta->FindField(name.substr(4))) param->AssignFieldValue(f, f->OldValue());
            continue;
        }
        if (db::TField* f = delta->FindField(name)) {
            const Variant value = f->NewValue();
            param->AssignFieldValue(f, value.IsEmpty() ? f->OldValue() : value);
        }
    }
    ExecuteUpdateCommand(TStatementTypes{type});
    return true;
}

void TDADataSetUpdater::UnPrepareUpdateQueries() {
    for (auto& q : updateQueries_)
        if (q) {
            if (q->Active()) q->Close();
            q->UnPrepare();
        }
}

}  // namespace dac
