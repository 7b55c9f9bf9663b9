// The dataset's side of editing: the hooks around insert, edit, post, delete and cancel, the
// full and quick refresh, record locks, cached updates, default values and update parameters.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Variants.h"

namespace dac {

using rtl::Variant;

TDADataSetUpdater* TCustomDADataSet::Updater() {
    CheckDataSetService();
    return service_ ? service_->DAUpdater() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Framework hooks

void TCustomDADataSet::InternalEdit() {
    TDADataSetUpdater* updater = Updater();
    const bool preconnect = updater && updater->IsPreconnectForEdit();
    if (preconnect) TakeUse(editUse_);
    try {
        if (updater) updater->PrepareEdit();
        TMemDataSet::InternalEdit();
    } catch (...) {
        ReleaseUse(editUse_);
        throw;
    }
}

void TCustomDADataSet::InternalInsert() {
    TDADataSetUpdater* updater = Updater();
    const bool preconnect = updater && updater->IsPreconnectForInsert();
    // A failed preparation (a key from a sequence, the connect) is an error: an insert never
    // goes on without its key.
    if (preconnect) TakeUse(editUse_);
    try {
        if (updater) updater->PrepareAppend();
        TMemDataSet::InternalInsert();
    } catch (...) {
        ReleaseUse(editUse_);
        throw;
    }
}

void TCustomDADataSet::InternalDelete() {
    if (TDADataSetUpdater* updater = Updater()) updater->PrepareDelete();
    TMemDataSet::InternalDelete();
}

void TCustomDADataSet::InternalCancel() {
    std::exception_ptr pending;
    try {
        if (TDADataSetUpdater* updater = Updater()) updater->PrepareCancel();
    } catch (...) {
        pending = std::current_exception();
    }
    TMemDataSet::InternalCancel();
    ReleaseUse(editUse_);
    if (pending) std::rethrow_exception(pending);
}

void TCustomDADataSet::InternalRefresh() {
    TCustomDAConnection* c = UsedConnection();
    if (c) c->PushOperation(clRefresh, c->CanRestoreAfterFailover());
    struct Pop {
        TCustomDAConnection* c;
        ~Pop() {
            if (c) c->PopOperation();
        }
    } pop{c};
    BeginConnection(true);
    struct End {
        TCustomDADataSet* ds;
        ~End() { ds->EndConnection(); }
    } end{this};
    std::vector<db::TField*> keyFields;
    Variant keyValues;
    bool first = true;
    for (;;) {
        try {
            if (first) GetCurrentKeys(keyFields, keyValues);
            first = false;
            WriteParams();
            TMemDataSet::InternalRefresh();
            rowsAffected_ = -1;
            if (!keyFields.empty() && !keyValues.IsEmpty()) {
                DoBeforeScroll();
                if (LocateRecordByFields(keyFields, keyValues, {}, false)) {
                    Resync({db::rmExact, db::rmCenter});
                    DoAfterScroll();
                } else {
                    First();
                }
            } else {
                First();
            }
        } catch (const EFailOver& e) {
            if (!c) throw;
            c->ResumeAfterFailover();
            continue;
        }
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Refresh, lock

void TCustomDADataSet::RefreshRecord() {
    CheckActive();
    Updater()->RefreshRecord();
    Resync({});
}

void TCustomDADataSet::RefreshQuick(bool checkDeleted) {
    CheckActive();
    Updater()->RefreshQuick(checkDeleted);
}

void TCustomDADataSet::Lock() {
    CheckActive();
    Updater()->LockRecord();
}

void TCustomDADataSet::Unlock() {
    CheckActive();
    Updater()->UnlockRecord();
}

// ---------------------------------------------------------------------------------------------
// Cached updates

void TCustomDADataSet::ApplyUpdates(TUpdateRecordKinds kinds) {
    TCustomDAConnection* c = UsedConnection();
    if (!c) rtl::DatabaseError("Connection is not defined", this);
    c->PushOperation(clApply,
                     c->CanRestoreAfterFailover() && (!AutoCommit() || c->IsMultipleTransactionsSupported()));
    struct Pop {
        TCustomDAConnection* c;
        ~Pop() { c->PopOperation(); }
    } pop{c};
    const bool autoCommit = AutoCommit();
    for (;;) {
        try {
            try {
                TMemDataSet::ApplyUpdates(kinds);
            } catch (...) {
                SetAutoCommit(autoCommit);
                throw;
            }
            SetAutoCommit(autoCommit);
        } catch (const EFailOver& e) {
            if (e.ConnLostCause != clApply) throw;
            c->ResumeAfterFailover();
            continue;
        }
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Default values

namespace {

// A literal default: any number of "(", one name true/false, quoted string or number, then as
// many ")". An empty expression is a literal without a value.
bool ReadLiteral(const AnsiString& expression, TSQLParserClass parserClass, AnsiString& value, bool& isNumber,
                 bool& hasValue) {
    isNumber = false;
    hasValue = false;
    if (rtl::Trim(expression).empty()) return true;
    std::unique_ptr<TSQLParser> parser = parserClass(expression);
    parser->DecimalChar = ".";
    AnsiString lexem;
    int opened = 0;
    int code = parser->GetNext(lexem);
    while (code != lxEnd && lexem == "(") {
        ++opened;
        code = parser->GetNext(lexem);
    }
    if (code == lxEnd) return false;
    const AnsiString lower = rtl::LowerCase(lexem);
    if (code == lxString) {
        value = lexem;
    } else if (code == lxNumber) {
        value = lexem;
        isNumber = true;
    } else if (lower == "true" || lower == "false") {
        value = lower == "true" ? "True" : "False";
    } else {
        return false;
    }
    for (int closed = 0; closed < opened; ++closed)
        if (parser->GetNext(lexem) == lxEnd || lexem != ")") return false;
    if (parser->GetNext(lexem) != lxEnd) return false;
    hasValue = true;
    return true;
}

bool IsNumericField(db::TField* field) {
    switch (field->DataType()) {
        case db::ftSmallint:
        case db::ftInteger:
        case db::ftWord:
        case db::ftFloat:
        case db::ftCurrency:
        case db::ftBCD:
        case db::ftFMTBcd:
        case db::ftLargeint:
            return true;
        default:
            return false;
    }
}

}  // namespace

void TCustomDADataSet::SetDefaultExpressionValues() {
    AnsiString list;
    std::vector<db::TField*> remembered;
    for (db::TField* field : FieldList()) {
        const AnsiString expression = field->DefaultExpression();
        if (expression.empty()) continue;
        AnsiString value;
        bool isNumber = false, hasValue = false;
        if (ReadLiteral(expression, SQLParserClass(), value, isNumber, hasValue)) {
            if (!hasValue) continue;
            const char separator = rtl::FormatSettings().DecimalSeparator;
            if ((isNumber || IsNumericField(field)) && separator != '.') {
                const size_t dot = value.find('.');
                if (dot != AnsiString::npos) value[dot] = separator;
            }
            field->SetAsString(value);
            continue;
        }
        Variant computed;
        if (TDADataSetUpdater* updater = Updater();
            updater && updater->GetDefaultExpressionValue(expression, computed)) {
            field->SetValue(computed);
            continue;
        }
        list += (list.empty() ? "" : ", ") + expression;
        remembered.push_back(field);
    }
    if (list.empty()) return;
    TDADataSetUpdater* updater = Updater();
    TCustomDADataSet* q = nullptr;
    updater->CheckUpdateQuery(stCustom);
    q = updater->UpdateQueryDataSet(stCustom);
    q->SQL().SetText(service_->SQLGenerator()->GenerateSelectValues(list));
    BeginConnection(true);
    try {
        q->Open();
        for (size_t i = 0; i < remembered.size() && static_cast<int>(i) < q->FieldCount(); ++i)
            remembered[i]->SetValue(q->Fields()[static_cast<int>(i)]->Value());
        q->Close();
    } catch (...) {
        if (q->Active()) q->Close();
        EndConnection();
        throw;
    }
    EndConnection();
}

// ---------------------------------------------------------------------------------------------
// Update parameters and keys

void TCustomDADataSet::AssignFieldValue(TDAParam* param, db::TField* field, bool old) {
    TFieldDesc* desc = GetFieldDesc(field);
    if (param->IsObjectDataType(field->DataType()) && desc &&
        GetIRecordSet()->IsBlobFieldType(desc->DataType)) {
        param->SetDataType(field->DataType());
        db::TRecordBuffer buffer = nullptr;
        TBlob* blob = GetActiveRecBuf(buffer) ? GetIRecordSet()->GetBlob(desc->FieldNo, buffer) : nullptr;
        param->SetParamObject(blob);
    } else if (param->IsObjectDataType(field->DataType()) && desc && !desc->HasParent() &&
               (desc->DataType == dtObject || desc->DataType == dtArray || desc->DataType == dtTable ||
                desc->DataType == dtXML)) {
        // Object, collection and XML columns go as their value object.
        param->SetDataType(field->DataType());
        db::TRecordBuffer buffer = nullptr;
        param->SetParamObject(GetActiveRecBuf(buffer) ? GetIRecordSet()->GetObject(desc->FieldNo, buffer)
                                                      : nullptr);
    } else {
        param->AssignFieldValue(field, old ? field->OldValue() : field->Value());
    }
    if (desc) param->SubDataType = desc->SubDataType;
}

bool TCustomDADataSet::GetCurrentKeys(std::vector<db::TField*>& keyFields, Variant& values) {
    rtl::Assert(service_ != nullptr, "dataset without a service");
    keyFields.clear();
    values = Variant();
    std::vector<TFieldDesc*> keys;
    service_->GetKeyFieldDescs(keys);
    if (keys.empty()) {
        std::vector<TFieldDesc*> data;
        service_->GetDataFieldDescs(data, false);
        TDASQLGenerator* generator = service_->SQLGenerator();
        for (TFieldDesc* d : data)
            if (!generator->IsBlobDataType(d->DataType) && !generator->IsObjectDataType(d->DataType))
                keys.push_back(d);
    }
    for (TFieldDesc* d : keys)
        if (db::TField* f = GetField(d)) keyFields.push_back(f);
    if (keyFields.empty()) return false;
    db::TRecordBuffer buffer = nullptr;
    if (!GetActiveRecBuf(buffer) || IsEmpty()) return true;
    if (keyFields.size() == 1) {
        values = keyFields[0]->Value();
    } else {
        values = rtl::VarArrayCreate({0, static_cast<int>(keyFields.size()) - 1}, rtl::varVariant);
        for (size_t i = 0; i < keyFields.size(); ++i)
            values.PutElement(static_cast<int>(i), keyFields[i]->Value());
    }
    return true;
}

}  // namespace dac
