// The provider interface of a dataset: its table, key fields and default order, statements run
// for a provider, and update transactions.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

AnsiString NumberQuestionMarks(const AnsiString& sql) {
    AnsiString out;
    out.reserve(sql.size() + 8);
    int number = 0;
    size_t i = 0;
    const size_t n = sql.size();
    auto copyUntil = [&](size_t end) {
        out.append(sql, i, end - i);
        i = end;
    };
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // A literal or a quoted name; a doubled quote stays inside it.
            size_t k = i + 1;
            while (k < n) {
                if (sql[k] == c) {
                    if (k + 1 < n && sql[k + 1] == c) {
                        k += 2;
                        continue;
                    }
                    ++k;
                    break;
                }
                ++k;
            }
            copyUntil(std::min(k, n));
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            const size_t end = sql.find('\n', i);
            copyUntil(end == AnsiString::npos ? n : end);
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const size_t end = sql.find("*/", i + 2);
            copyUntil(end == AnsiString::npos ? n : end + 2);
        } else if (c == '?') {
            out += ":" + std::to_string(++number);
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

bool TCustomDADataSet::PSInTransaction() {
    TDATransaction* t = UsedUpdateTransaction();
    return t && t->Active();
}

void TCustomDADataSet::PSStartTransaction() {
    TCustomDAConnection* c = UsedConnection();
    if (!c || !AutoCommit() || !c->AutoCommit()) return;
    if (TDATransaction* t = UsedUpdateTransaction()) t->StartTransaction();
}

void TCustomDADataSet::PSEndTransaction(bool commit) {
    TCustomDAConnection* c = UsedConnection();
    if (!c || !AutoCommit() || !c->AutoCommit()) return;
    TDATransaction* t = UsedUpdateTransaction();
    if (!t) return;
    if (commit)
        t->Commit();
    else
        t->Rollback();
}

int TCustomDADataSet::PSExecuteStatement(const AnsiString& sql, db::TParams* params,
                                         std::unique_ptr<TCustomDADataSet>* resultSet) {
    TDADataSetUpdater* updater = Updater();
    std::unique_ptr<TCustomDADataSet> created;
    TCustomDADataSet* q;
    if (resultSet) {
        created = updater->NewDataSet();
        q = created.get();
        q->SetConnection(UsedConnection());
    } else {
        updater->CheckUpdateQuery(stCustom);
        q = updater->UpdateQueryDataSet(stCustom);
        q->nested_ = false;
        q->SetTransaction(UsedUpdateTransaction());
    }
    q->SetDebug(Debug());
    q->SQL().SetText(NumberQuestionMarks(sql));
    const int count = params ? params->Count() : 0;
    for (int i = 0; i < count && i < q->Params().Count(); ++i) {
        TDAParam* target = q->Params()[i];
        target->Assign(params->Items(i));
        target->SetName(std::to_string(i + 1));
        if (target->ParamType() == db::ptUnknown) target->SetParamType(db::ptInput);
    }
    q->Execute();
    const int rows = q->RowsAffected();
    if (resultSet) *resultSet = std::move(created);
    return rows;
}

void TCustomDADataSet::PSSetParams(db::TParams* params) {
    if (params && params->Count() > 0) Params().Assign(params);
}

void TCustomDADataSet::PSSetCommandText(const AnsiString& text) {
    if (!text.empty()) SQL().SetText(text);
}

void TCustomDADataSet::PSReset() {
    if (!Active()) return;
    Close();
    Open();
}

AnsiString TCustomDADataSet::PSGetTableName() {
    TSQLInfo* info = command_ ? command_->SQLInfo() : nullptr;
    auto normal = [&](const AnsiString& name) {
        return info ? info->NormalizeName(name, false, true) : name;
    };
    if (Active()) {
        if (service_ && recordSetCR_) {
            const int index = service_->UpdatingTableIndex();
            if (index >= 0 && index < recordSetCR_->TablesInfo().Count())
                return normal(recordSetCR_->TablesInfo()[index]->TableName());
        }
        return normal(UpdatingTable());
    }
    AnsiString name = !psTableName_.empty() ? psTableName_ : UpdatingTable();
    if (name.empty() && info) {
        TCRTablesInfo tables;
        try {
            info->ParseTablesInfo(GetFinalSQL(), tables);
        } catch (const rtl::Exception&) {
        }
        if (tables.Count() > 0) name = tables[0]->TableName();
    }
    return normal(name);
}

AnsiString TCustomDADataSet::PSGetKeyFields() {
    AnsiString keys;
    for (db::TField* f : FieldList())
        if (f->ProviderFlags().Contains(db::pfInKey)) keys += (keys.empty() ? "" : ";") + f->FieldName();
    if (!keys.empty()) return keys;
    if (!psKeyFields_.empty()) return psKeyFields_;
    if (!rtl::Trim(KeyFields()).empty()) return psKeyFields_ = KeyFields();
    auto serviceKeys = [this] {
        AnsiString names;
        if (!service_) return names;
        std::vector<TFieldDesc*> descs;
        service_->GetKeyFieldDescs(descs);
        for (TFieldDesc* d : descs) names += (names.empty() ? "" : ";") + d->Name;
        return names;
    };
    CheckDataSetService();
    keys = serviceKeys();
    if (keys.empty() && !Active() && Connection() && GetIRecordSet() &&
        GetIRecordSet()->Fields().Count() == 0) {
        // Opened for its description only: one row.
        TSavedState state;
        SaveState(state, true);
        try {
            keys = serviceKeys();
        } catch (...) {
            RestoreState(state, true);
            throw;
        }
        RestoreState(state, true);
    }
    return psKeyFields_ = keys;
}

bool TCustomDADataSet::PSGetDefaultOrder(AnsiString& fields, AnsiString& descFields) {
    fields.clear();
    descFields.clear();
    const AnsiString order = ExtractOrderBy(rtl::Trim(SQL().Text()), SQLParserClass());
    if (rtl::Trim(order).empty()) return false;
    std::unique_ptr<TSQLParser> parser = SQLParserClass()(order);
    AnsiString lexem, last;
    for (int code = parser->GetNext(lexem); code != lxEnd; code = parser->GetNext(lexem)) {
        if (code == lxNumber) {
            int number = 0;
            if (!rtl::TryStrToInt(lexem, number) || number < 1 || number > FieldDefs().Count()) continue;
            last = FieldDefs().Items(number - 1)->Name();
            fields += (fields.empty() ? "" : ";") + last;
        } else if (rtl::UpperCase(lexem) == "DESC") {
            if (!last.empty()) descFields += (descFields.empty() ? "" : ";") + last;
        } else if (code == lxIdent || code > 0) {
            if (FindField(lexem)) {
                last = FindField(lexem)->FieldName();
                fields += (fields.empty() ? "" : ";") + last;
            }
        }
    }
    return true;
}

bool TCustomDADataSet::PSUpdateRecord(db::TUpdateKind kind, db::TDataSet* delta) {
    if (OnUpdateRecord) {
        db::TUpdateAction action = db::uaFail;
        OnUpdateRecord(delta, kind, action);
        return action == db::uaApplied;
    }
    if (!delta) return false;
    return Updater()->PerformPSUpdateRecord(kind, delta);
}

}  // namespace dac
