// Connection-level conveniences: statements and stored procedures run through the connection's
// own SQL component, the name lists read through a metadata component, and the cached updates
// of several datasets applied and committed together.
#include <algorithm>
#include <memory>

#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

const char* const kInvalidPairs =
    "Invalid Params array. Valid format: <Name1>,<Value1>[,<Name2>,<Value2>[...]]";

// An array of a single Null stands for no values at all.
bool NoValues(const std::vector<rtl::Variant>& values) {
    return values.empty() || (values.size() == 1 && values[0].IsNull());
}

void CheckPairs(const std::vector<rtl::Variant>& pairs) {
    if (NoValues(pairs)) return;
    if (pairs.size() % 2 != 0) rtl::DatabaseError(kInvalidPairs);
    for (size_t i = 0; i < pairs.size(); i += 2)
        if (!rtl::VarIsStr(pairs[i])) rtl::DatabaseError(kInvalidPairs);
}

void AssignPairs(TCustomDASQL* sql, const std::vector<rtl::Variant>& pairs) {
    if (NoValues(pairs)) return;
    for (size_t i = 0; i < pairs.size(); i += 2)
        sql->ParamByName(pairs[i].AsString())->SetValue(pairs[i + 1]);
}

bool IsInput(const db::TParam* p) {
    return p->ParamType() == db::ptInput || p->ParamType() == db::ptInputOutput;
}

// The "Result" parameter's value; unassigned when there is none.
rtl::Variant ResultOf(TCustomDASQL* sql) {
    TDAParam* result = sql->FindParam("Result");
    return result ? result->Value() : rtl::Unassigned();
}

AnsiString FieldText(db::TDataSet& ds, const char* name) {
    db::TField* f = ds.FindField(name);
    return f ? f->AsString() : AnsiString();
}

// Marks the connection's own SQL component busy for the scope.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = saved_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& flag_;
    bool saved_;
};

// Frees the metadata component of a name list also when reading fails.
struct MetaDataHolder {
    explicit MetaDataHolder(TDAMetaData* m) : meta(m) {}
    ~MetaDataHolder() { delete meta; }
    MetaDataHolder(const MetaDataHolder&) = delete;
    MetaDataHolder& operator=(const MetaDataHolder&) = delete;
    TDAMetaData* meta;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Statements and procedures

rtl::Variant TCustomDAConnection::ExecSQLEx(const AnsiString& text, const std::vector<rtl::Variant>& pairs) {
    CheckPairs(pairs);
    TCustomDASQL* sql = CheckInternalSQL();
    BusyScope busy(internalSQLBusy_);
    sql->SQL().Clear();
    sql->SQL().SetText(text);
    AssignPairs(sql, pairs);
    TDAParam* result = sql->FindParam("Result");
    if (result && result->DataType() == db::ftUnknown) result->SetDataType(db::ftString);
    sql->Execute();
    return ResultOf(sql);
}

rtl::Variant TCustomDAConnection::ExecProc(const AnsiString& name, const std::vector<rtl::Variant>& values) {
    TCustomDASQL* sql = CheckInternalSQL();
    BusyScope busy(internalSQLBusy_);
    sql->CreateProcCall(name, true, false);
    size_t next = 0;
    for (int i = 0; i < sql->ParamCount(); ++i) {
        TDAParam* p = sql->Params()[i];
        if (rtl::SameText(p->Name(), "Result")) continue;
        if (next < values.size())
            p->SetValue(values[next++]);
        else if (IsInput(p))
            p->SetBound(false);
    }
    sql->Execute();
    return ResultOf(sql);
}

rtl::Variant TCustomDAConnection::ExecProcEx(const AnsiString& name, const std::vector<rtl::Variant>& pairs) {
    TCustomDASQL* sql = CheckInternalSQL();
    BusyScope busy(internalSQLBusy_);
    sql->CreateProcCall(name, true, false);
    CheckPairs(pairs);
    for (int i = 0; i < sql->ParamCount(); ++i)
        if (IsInput(sql->Params()[i])) sql->Params()[i]->SetBound(false);
    AssignPairs(sql, pairs);
    sql->Execute();
    return ResultOf(sql);
}

// ---------------------------------------------------------------------------------------------
// Name lists

rtl::TClassOf<TCRMetaData> TCustomDAConnection::GetMetaDataClass() {
    rtl::Assert(false, "Must be overrided");
    return rtl::TClassOf<TCRMetaData>::Of<TCRMetaData>();
}

TDAMetaData* TCustomDAConnection::CreateMetaData() {
    auto* meta = new TDAMetaData(nullptr);
    meta->SetConnection(this);
    return meta;
}

void TCustomDAConnection::GetTableNames(rtl::TStrings& list, bool allTables) {
    MetaDataHolder holder(CreateMetaData());
    TDAMetaData& m = *holder.meta;
    m.SetMetaDataKind("tables");
    if (!allTables) m.Restrictions().Add("SCOPE=LOCAL");
    m.Open();
    list.BeginUpdate();
    try {
        list.Clear();
        for (m.First(); !m.Eof(); m.Next()) {
            AnsiString name = FieldText(m, "TABLE_NAME");
            if (allTables) {
                const AnsiString schema = FieldText(m, "TABLE_SCHEMA");
                if (!schema.empty()) name = schema + "." + name;
                const AnsiString catalog = FieldText(m, "TABLE_CATALOG");
                if (!catalog.empty()) name = catalog + "." + name;
            }
            list.Add(name);
        }
    } catch (...) {
        list.EndUpdate();
        throw;
    }
    list.EndUpdate();
}

void TCustomDAConnection::GetDatabaseNames(rtl::TStrings& list) {
    MetaDataHolder holder(CreateMetaData());
    TDAMetaData& m = *holder.meta;
    m.SetMetaDataKind("Databases");
    m.Open();
    list.BeginUpdate();
    try {
        list.Clear();
        for (m.First(); !m.Eof(); m.Next()) list.Add(FieldText(m, "DATABASE_NAME"));
    } catch (...) {
        list.EndUpdate();
        throw;
    }
    list.EndUpdate();
}

void TCustomDAConnection::GetStoredProcNames(rtl::TStrings& list, bool allProcs) {
    MetaDataHolder holder(CreateMetaData());
    TDAMetaData& m = *holder.meta;
    m.SetMetaDataKind("procedures");
    if (!allProcs) m.Restrictions().Add("SCOPE=LOCAL");
    m.Open();
    list.BeginUpdate();
    try {
        list.Clear();
        const bool hasPackage = m.FindField("PROCEDURE_PACKAGE") != nullptr;
        for (m.First(); !m.Eof(); m.Next()) {
            AnsiString name = FieldText(m, "PROCEDURE_NAME");
            if (hasPackage) {
                const AnsiString package = FieldText(m, "PROCEDURE_PACKAGE");
                if (!package.empty()) name = package + "." + name;
            }
            if (allProcs) {
                const AnsiString schema = FieldText(m, "PROCEDURE_SCHEMA");
                if (!schema.empty()) name = schema + "." + name;
                const AnsiString catalog = FieldText(m, "PROCEDURE_CATALOG");
                if (!catalog.empty()) name = catalog + "." + name;
            }
            list.Add(name);
        }
    } catch (...) {
        list.EndUpdate();
        throw;
    }
    list.EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// Cached updates of several datasets

void TCustomDAConnection::ApplyUpdatesFor(const std::vector<TCustomDADataSet*>& dataSets) {
    std::vector<TCustomDADataSet*> applied;
    std::vector<TDATransaction*> transactions;
    for (TCustomDADataSet* ds : dataSets) {
        if (!ds) continue;
        if (ds->UsedConnection() != this)
            rtl::DatabaseErrorFmt("Cannot update, %s is not owned by %s", {ds->Name(), Name()});
        if (!ds->Active() || !ds->CachedUpdates()) continue;
        TDATransaction* t = ds->UsedUpdateTransaction();
        if (!t) rtl::DatabaseError("Transaction not assigned");
        if (std::find(transactions.begin(), transactions.end(), t) == transactions.end())
            transactions.push_back(t);
        if (std::find(applied.begin(), applied.end(), ds) == applied.end()) applied.push_back(ds);
    }

    // A transaction that was open before keeps its work when several may run at once: it is ended
    // with the retaining forms.
    std::vector<bool> startedHere(transactions.size(), false);
    auto retaining = [&](size_t i) { return !startedHere[i] && IsMultipleTransactionsSupported(); };

    PushOperation(clConnectionApply, CanRestoreAfterFailover());
    try {
        bool firstPass = true;
        for (;;) {
            try {
                for (size_t i = 0; i < transactions.size(); ++i) {
                    if (transactions[i]->Active()) continue;
                    transactions[i]->StartTransaction();
                    if (firstPass) startedHere[i] = true;
                }
                firstPass = false;
                for (TCustomDADataSet* ds : applied) {
                    const bool autoCommit = ds->AutoCommit();
                    ds->SetAutoCommit(false);
                    try {
                        // Through the base, whose overload reaches every override of the apply.
                        static_cast<TMemDataSet*>(ds)->ApplyUpdates();
                    } catch (...) {
                        ds->SetAutoCommit(autoCommit);
                        throw;
                    }
                    ds->SetAutoCommit(autoCommit);
                }
                if (AutoCommit()) {
                    for (size_t i = 0; i < transactions.size(); ++i) {
                        if (retaining(i))
                            transactions[i]->CommitRetaining();
                        else
                            transactions[i]->Commit();
                    }
                }
            } catch (const EFailOver&) {
                ResumeAfterFailover();
                continue;
            } catch (...) {
                for (size_t i = 0; i < transactions.size(); ++i) {
                    if (!transactions[i]->Active()) continue;
                    try {
                        if (retaining(i))
                            transactions[i]->RollbackRetaining();
                        else
                            transactions[i]->Rollback();
                    } catch (...) {
                        // The apply's own error is the one the caller needs.
                    }
                }
                // What the rollback undid must be sent again by the next apply: no change stays
                // marked as applied.
                for (TCustomDADataSet* ds : applied)
                    if (TData* data = ds->GetIRecordSet()) data->ResetUpdateResults();
                throw;
            }
            break;
        }
    } catch (...) {
        PopOperation();
        throw;
    }
    PopOperation();
    for (TCustomDADataSet* ds : applied) ds->CommitUpdates();
}

void TCustomDAConnection::ApplyUpdates() {
    std::vector<TCustomDADataSet*> dataSets;
    for (int i = 0; i < DataSetCount(); ++i)
        if (auto* ds = dynamic_cast<TCustomDADataSet*>(DataSets(i))) dataSets.push_back(ds);
    ApplyUpdatesFor(dataSets);
}

}  // namespace dac
