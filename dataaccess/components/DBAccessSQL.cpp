// TCustomDASQL: one statement without a result set, with parameters and macros, carried to the
// server by a driver command. Execute takes a counted use of the connection; the driver's
// completion (DoAfterExecute) reads the output values back and gives the use back.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

TCustomDASQL::TCustomDASQL(rtl::TComponent* owner) : rtl::TComponent(owner) {}

void TCustomDASQL::Construct() {
    sql_ = std::make_unique<rtl::TStringList>();
    sql_->OnChange = [this](rtl::TObject*) { SQLChange(); };
    params_ = CreateParamsObject();
    macros_ = std::make_unique<TMacros>(this);
    macros_->SetParserClass(GetParserClass());
    macros_->OnChange = [this](rtl::TCollectionItem*) {
        const bool saved = lockMacros_;
        lockMacros_ = true;
        try {
            SQLChange();
        } catch (...) {
            lockMacros_ = saved;
            throw;
        }
        lockMacros_ = saved;
    };
}

TCustomDASQL::~TCustomDASQL() {
    try {
        UnPrepare();
    } catch (...) {
    }
    if (!dataSet_) NotifyDestroyed(UsedConnection(), this);
    // The connection this statement registered with (a derived class's fallback connection is
    // out of reach here).
    if (registeredWith_) registeredWith_->UnRegisterClient(this);
    if (transaction_) transaction_->RemoveFreeNotification(this);
    macros_.reset();
    if (params_) params_->Clear();
    params_.reset();
    if (sql_) sql_->OnChange = nullptr;
    DropCommand();
}

void TCustomDASQL::DropCommand() {
    if (!ownsCommand_) (void)command_.release();
    command_.reset();
    ownsCommand_ = true;
}

void TCustomDASQL::UseCommand(TCRCommand* command) {
    if (command_.get() == command) return;
    DropCommand();
    if (!command) return;
    command_.reset(command);
    ownsCommand_ = false;
    command_->SetProp(prParamCheck, paramCheck_);
    TCustomDAConnection* c = UsedConnection();
    if (c && c->GetIConnection()) command_->SetConnection(c->GetIConnection());
    SetDriverSQL();
}

TSQLParserClass TCustomDASQL::GetParserClass() {
    return &CreateParserOf<TSQLParser>;
}

std::unique_ptr<TDAParams> TCustomDASQL::CreateParamsObject() {
    return std::make_unique<TDAParams>(this);
}

const TDataTypesMap& TCustomDASQL::GetDataTypesMap() {
    return TDataTypesMap::Instance();
}

// ---------------------------------------------------------------------------------------------
// Connection and transaction

TCustomDAConnection* TCustomDASQL::UsedConnection() {
    if (dataSet_) return dataSet_->UsedConnection();
    return connection_;
}

TDATransaction* TCustomDASQL::UsedTransaction() {
    TCustomDAConnection* c = UsedConnection();
    if (!c) return nullptr;
    if (c->IsMultipleTransactionsSupported() && transaction_) return transaction_;
    return c->UsedTransaction();
}

void TCustomDASQL::SetConnection(TCustomDAConnection* value) {
    if (value == connection_ && value == UsedConnection()) return;
    if (TCustomDAConnection* old = UsedConnection()) {
        DisconnectNotice();
        old->UnRegisterClient(this);
    }
    if (registeredWith_) registeredWith_->UnRegisterClient(this);
    registeredWith_ = nullptr;
    connection_ = value;
    if (value) {
        value->RegisterClient(this, [this](bool connecting) { ConnectChange(connecting); });
        registeredWith_ = value;
        if (command_) command_->SetConnection(value->GetIConnection());
    } else if (command_) {
        command_->SetConnection(nullptr);
    }
}

void TCustomDASQL::ConnectionDestroyed(TCustomDAConnection* connection) {
    if (registeredWith_ != connection) return;
    try {
        DisconnectNotice();
    } catch (...) {
    }
    connection->UnRegisterClient(this);
    registeredWith_ = nullptr;
    if (command_) command_->SetConnection(nullptr);
}

void TCustomDASQL::SetTransaction(TDATransaction* value) {
    if (value == transaction_) return;
    if (transaction_) transaction_->RemoveFreeNotification(this);
    transaction_ = value;
    if (value) value->FreeNotification(this);
}

void TCustomDASQL::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    rtl::TComponent::Notification(component, operation);
    if (operation == rtl::opRemove && component == transaction_) transaction_ = nullptr;
}

void TCustomDASQL::ConnectChange(bool connecting) {
    if (!connecting) DisconnectNotice();
}

void TCustomDASQL::DisconnectNotice() {
    UnPrepare();
    params_->DisconnectObjects();
}

void TCustomDASQL::BeginConnection(bool forExecute) {
    TCustomDAConnection* c = UsedConnection();
    if (!c) rtl::DatabaseError("Connection is not defined", this);
    c->ConnectForUse(forExecute);
    try {
        TDATransaction* t = UsedTransaction();
        if (!t) rtl::DatabaseError("Transaction not assigned", this);
        CheckCommand();
        if (c->IsMultipleTransactionsSupported()) {
            if (forExecute)
                t->AutoStart();
            else if (!t->Active())
                t->StartTransaction();
        }
        if (!connection_ && !c->IsSQLClient(this)) {
            if (registeredWith_) registeredWith_->UnRegisterClient(this);
            c->RegisterClient(this, [this](bool connecting) { ConnectChange(connecting); });
            registeredWith_ = c;
            command_->SetConnection(c->GetIConnection());
        }
        t->CheckITransaction();
        command_->SetTransaction(t->GetITransaction());
    } catch (...) {
        if (forExecute) c->InternalDisconnect();
        throw;
    }
}

void TCustomDASQL::EndConnection() {
    TCustomDAConnection* c = UsedConnection();
    TDATransaction* t = UsedTransaction();
    if (c && c->IsMultipleTransactionsSupported() && t) t->AutoRelease();
    if (c) c->InternalDisconnect();
}

// ---------------------------------------------------------------------------------------------
// Driver command

void TCustomDASQL::CreateCommand() {
    TCustomDAConnection* c = UsedConnection();
    SetCommand(c ? c->CreateICommand() : nullptr);
}

void TCustomDASQL::SetCommand(std::unique_ptr<TCRCommand> command) {
    DropCommand();
    command_ = std::move(command);
    if (!command_) return;
    command_->SetConnection(connection_ ? connection_->GetIConnection() : nullptr);
    if (transaction_) {
        transaction_->CheckITransaction();
        command_->SetTransaction(transaction_->GetITransaction());
    }
    command_->SetProp(prAutoCommit, autoCommit_);
    command_->OnAfterExecute = [this](bool result) { DoAfterExecute(result); };
    rtl::TComponent* owner = Owner();
    command_->Component = dynamic_cast<TCustomDAConnection*>(owner) ? owner : this;
    command_->SetProp(prParamCheck, paramCheck_);
    command_->SetProp(prIsStoredProc, !storedProcName_.empty());
    SetDriverSQL();
}

void TCustomDASQL::CheckCommand() {
    TCustomDAConnection* c = UsedConnection();
    if (command_ && (!ownsCommand_ || !c || c->GetCommandClass().IsInstance(command_.get()))) return;
    DropCommand();
    CreateCommand();
}

// ---------------------------------------------------------------------------------------------
// SQL text

AnsiString TCustomDASQL::GetFinalSQL() {
    AnsiString text = sql_->Count() ? sql_->Text() : AnsiString();
    while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.pop_back();
    if (macros_->Count() > 0) macros_->Expand(text);
    return text;
}

void TCustomDASQL::SetSQL(rtl::TStrings* value) {
    if (value->Text() == sql_->Text()) return;
    sql_->BeginUpdate();
    try {
        sql_->Assign(value);
    } catch (...) {
        sql_->EndUpdate();
        throw;
    }
    sql_->EndUpdate();
}

void TCustomDASQL::ScanMacros() {
    macros_->Scan(MacroScanText ? MacroScanText() : sql_->Text());
}

void TCustomDASQL::SQLChange() {
    if (BeforeSQLChange) BeforeSQLChange();
    UnPrepare();
    if (!lockMacros_) ScanMacros();
    if (!lockSQLChange_) SQLChanged();
    SetStoredProcName(AnsiString());
}

void TCustomDASQL::SetDriverSQL() {
    if (!command_) return;
    // A dataset's statement carries its filter and master/detail condition too.
    const AnsiString text = !sql_->Count() ? AnsiString()
                            : dataSet_     ? dataSet_->GetFinalSQL()
                                           : GetFinalSQL();
    if (!lockScanParams_) {
        command_->SetSQLText(text);
        return;
    }
    command_->SetProp(prSQLIsFinal, true);
    try {
        command_->SetSQLText(text);
    } catch (...) {
        command_->SetProp(prSQLIsFinal, false);
        throw;
    }
    command_->SetProp(prSQLIsFinal, false);
}

void TCustomDASQL::SQLChanged() {
    TCRCommand* before = command_.get();
    CheckCommand();
    if (command_ && command_.get() == before) SetDriverSQL();
    if (!paramCheck_ || lockScanParams_ || !command_) return;
    auto saved = CreateParamsObject();
    saved->Assign(params_.get());
    CreateParams();
    params_->AssignValues(*saved);
}

void TCustomDASQL::SetParamCheck(bool value) {
    paramCheck_ = value;
    if (command_) command_->SetProp(prParamCheck, value);
    if (value) SQLChanged();
}

void TCustomDASQL::SetAutoCommit(bool value) {
    autoCommit_ = value;
    if (command_) command_->SetProp(prAutoCommit, value);
}

void TCustomDASQL::SetStoredProcName(const AnsiString& value) {
    storedProcName_ = value;
    if (command_) command_->SetProp(prIsStoredProc, !value.empty());
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TCustomDASQL::CreateParams() {
    params_->BeginUpdate();
    try {
        params_->Clear();
        for (int i = 0; i < command_->GetParamCount(); ++i) {
            auto* p = static_cast<TDAParam*>(params_->Add());
            AssignParam(p, command_->GetParam(i));
        }
    } catch (...) {
        params_->EndUpdate();
        throw;
    }
    params_->EndUpdate();
}

void TCustomDASQL::WriteParams(bool withValues) {
    for (int i = 0; i < params_->Count(); ++i) {
        TParamDesc* desc = i < command_->GetParamCount() ? command_->GetParam(i) : command_->AddParam();
        AssignParamDesc(desc, params_->Items(i));
        if (withValues) AssignParamDescValue(desc, params_->Items(i));
    }
    while (command_->GetParamCount() > params_->Count()) command_->DeleteParam(command_->GetParamCount() - 1);
}

void TCustomDASQL::AssignParamDesc(TParamDesc* desc, TDAParam* param) {
    desc->SetName(param->Name());
    desc->SetDataType(GetDataTypesMap().GetDataType(param->DataType()));
    desc->SetSubDataType(param->SubDataType);
    desc->SetNationalFlag(param->National());
    desc->SetParamType(static_cast<uint8_t>(param->ParamType()));
    desc->SetIsBound(param->Bound());
    int size = param->GetSize();
    switch (param->DataType()) {
        case db::ftString:
        case db::ftBytes:
        case db::ftVarBytes:
        case db::ftFixedChar:
        case db::ftWideString:
        case db::ftFixedWideChar:
            if (size == 0 && (param->ParamType() == db::ptInput ||
                              (param->ParamType() == db::ptUnknown && !UnknownParamIsOutput()))) {
                rtl::Variant v = param->GetAsVariant();
                if (v.IsArray())
                    size = v.ArrayHighBound() + 1;
                else if (!v.IsNull() && !v.IsEmpty())
                    size = static_cast<int>(v.AsString().size());
            }
            if (size == 0) {
                rtl::Variant v;
                TCustomDAConnection* c = UsedConnection();
                if (c && c->GetIConnection() && c->GetIConnection()->GetProp(prMaxStringSize, v))
                    size = v.AsInteger();
            }
            break;
        default:
            break;
    }
    desc->SetSize(size);
}

void TCustomDASQL::AssignParamDescValue(TParamDesc* desc, TDAParam* param) {
    TCustomDAConnection* c = UsedConnection();
    const bool convertEOL = c && c->ConvertEOL();
    const auto type = param->DataType();
    if (param->IsObjectDataType()) {
        TSharedObject* obj = param->GetParamObject();
        const bool output = param->ParamType() == db::ptOutput || param->ParamType() == db::ptResult;
        auto* blob = dynamic_cast<TBlob*>(obj);
        if (blob && output) blob->Clear();
        if (blob && convertEOL && !output &&
            (type == db::ftMemo || type == db::ftOraClob || type == db::ftWideMemo ||
             (type == db::ftBlob && BlobParamRemovesCR()))) {
            blob->RemoveCR();
        }
        desc->SetObject(obj);
        desc->SetNull(param->GetIsNull());
        return;
    }
    desc->SetConvertEOLFlag(convertEOL);
    rtl::Variant value;
    if (param->ParamType() == db::ptInput || param->ParamType() == db::ptInputOutput ||
        param->ParamType() == db::ptUnknown) {
        value = param->GetIsNull() ? rtl::Variant::MakeNull() : param->GetAsVariant();
        // A DATE carries no time of day.
        if (type == db::ftDate && !value.IsNull() && !value.IsEmpty())
            value = rtl::Variant::FromDateTime(static_cast<double>(static_cast<int64_t>(value.AsDateTime())));
        if ((desc->GetDataType() == dtBytes || desc->GetDataType() == dtVarBytes) && !value.IsNull() &&
            !value.IsEmpty() && !value.IsArray()) {
            AnsiString s = value.AsString();
            value = rtl::BytesToVariant(rtl::TBytes(s.begin(), s.end()));
        }
    }
    desc->SetNull(true);
    desc->SetValue(value);
}

void TCustomDASQL::AssignParam(TDAParam* param, TParamDesc* desc) {
    param->SetName(desc->GetName());
    param->SetDataType(GetDataTypesMap().GetFieldType(desc->GetDataType()));
    param->SetParamType(static_cast<db::TParamType>(desc->GetParamType()));
    param->SetSize(desc->GetSize());
}

void TCustomDASQL::AssignParamValue(TDAParam* param, TParamDesc* desc) {
    TCustomDAConnection* c = UsedConnection();
    if (param->IsObjectDataType()) {
        if (desc->GetObject() != param->GetParamObject() && desc->GetNull()) param->Clear();
        return;
    }
    desc->SetConvertEOLFlag(c && c->ConvertEOL());
    param->SetAsVariant(desc->GetNull() ? rtl::Variant::MakeNull() : desc->GetValue());
}

void TCustomDASQL::ReadParams() {
    rtl::Variant readable;
    command_->GetProp(prParamsReadable, readable);
    if (!readable.AsBoolean()) return;
    for (int i = 0; i < params_->Count() && i < command_->GetParamCount(); ++i) {
        TDAParam* p = params_->Items(i);
        if (p->ParamType() == db::ptInput) continue;
        if (p->ParamType() == db::ptUnknown && !UnknownParamIsOutput()) continue;
        AssignParamValue(p, command_->GetParam(i));
    }
    command_->SetProp(prParamsReadable, false);
}

// ---------------------------------------------------------------------------------------------
// Prepare and execute

bool TCustomDASQL::Prepared() {
    return command_ && command_->GetPrepared();
}

bool TCustomDASQL::Executing() {
    rtl::Variant v;
    return command_ && command_->GetProp(prExecuting, v) && v.AsBoolean();
}

void TCustomDASQL::InternalPrepare() {
    WriteParams(false);
    command_->Prepare();
}

void TCustomDASQL::InternalUnPrepare() {
    command_->UnPrepare();
}

void TCustomDASQL::Prepare() {
    if (Prepared()) return;
    BeginConnection(true);
    prepareUseOpen_ = true;
    try {
        ReportMonitor("Prepare", true);
        InternalPrepare();
        rtl::Variant describe;
        if (command_->GetProp(prDescribeParams, describe) && describe.AsBoolean()) {
            params_->BeginUpdate();
            for (int i = 0; i < command_->GetParamCount(); ++i) {
                auto* p = i < params_->Count() ? params_->Items(i) : static_cast<TDAParam*>(params_->Add());
                AssignParam(p, command_->GetParam(i));
            }
            while (params_->Count() > command_->GetParamCount()) params_->Delete(params_->Count() - 1);
            params_->EndUpdate();
        }
        ReportMonitor("Prepare", false);
    } catch (...) {
        prepareUseOpen_ = false;
        EndConnection();
        throw;
    }
}

void TCustomDASQL::UnPrepare() {
    if (!Prepared()) {
        if (prepareUseOpen_) {
            prepareUseOpen_ = false;
            EndConnection();
        }
        return;
    }
    try {
        InternalUnPrepare();
    } catch (...) {
        if (prepareUseOpen_) {
            prepareUseOpen_ = false;
            EndConnection();
        }
        throw;
    }
    if (prepareUseOpen_) {
        prepareUseOpen_ = false;
        EndConnection();
    }
}

void TCustomDASQL::Execute(int iters) {
    if (Executing()) return;
    BeginConnection(true);
    executeUseOpen_ = true;
    try {
        if (BeforeExecute) BeforeExecute(this);
        ReportMonitor("Execute", true);
        WriteParams(true);
        ProcessBeforeExecute(iters);
        InternalExecute(iters);
    } catch (...) {
        // Nothing reached the driver's completion: the use and the monitor report end here.
        if (executeUseOpen_) {
            executeUseOpen_ = false;
            ReportMonitor("Execute", false);
            EndConnection();
        }
        throw;
    }
    ReportMonitor("Execute", false);
}

void TCustomDASQL::ProcessBeforeExecute(int iters) {
    const AnsiString oldSQL = command_->SQL();
    AnsiString newSQL;
    bool made = false;
    if (iters == 1 && !storedProcName_.empty() && NeedRecreateProcCall()) {
        command_->CreateProcCall(storedProcName_, false, newSQL);
        made = true;
    }
    if (command_->SQL() == oldSQL) return;
    const bool wasPrepared = Prepared();
    if (wasPrepared) UnPrepare();
    if (made) {
        // The driver holds the new block already; SQL follows it without being re-sent. Like
        // every change of SQL this clears StoredProcName: later runs use the text as it is.
        lockSQLChange_ = true;
        try {
            sql_->SetText(newSQL);
        } catch (...) {
            lockSQLChange_ = false;
            throw;
        }
        lockSQLChange_ = false;
    }
    if (wasPrepared) Prepare();
}

void TCustomDASQL::InternalExecute(int iters) {
    TCustomDAConnection* c = UsedConnection();
    c->PushOperation(clExecute, true);
    try {
        for (;;) {
            try {
                command_->Execute(iters);
                break;
            } catch (const EFailOver& e) {
                if (e.ConnLostCause != clExecute) throw;
            }
        }
    } catch (...) {
        c->PopOperation();
        throw;
    }
    c->PopOperation();
}

void TCustomDASQL::DoAfterExecute(bool result) {
    TCustomDAConnection* c = UsedConnection();
    if (result) {
        ReadParams();
        rtl::Variant id;
        if (c && c->GetIConnection() && c->GetIConnection()->GetProp(prLastInsertId, id) && !id.IsEmpty() &&
            !id.IsNull())
            lastInsertId_ = id.AsInt64();
    }
    const bool autoCommitted = c && c->AutoCommit() && autoCommit_;
    if (c && c->Options().DisconnectedMode() && c->GetConnected()) c->DetectInTransaction(!autoCommitted);
    if (c && c->IsMultipleTransactionsSupported())
        if (TDATransaction* t = UsedTransaction()) t->AutoCommit(autoCommitted);
    if (executeUseOpen_) {
        executeUseOpen_ = false;
        EndConnection();
    }
    if (AfterExecute) AfterExecute(this, result);
}

void TCustomDASQL::CreateProcCall(const AnsiString& name, bool needDescribe, bool isQuery) {
    if (name.empty()) rtl::DatabaseError("StoredProcName must be defined", this);
    BeginConnection(true);
    try {
        AnsiString text;
        if (needDescribe) {
            command_->CreateProcCall(name, true, text);
            CreateParams();
        } else {
            WriteParams(false);
            command_->CreateProcCall(name, false, text);
        }
        lockSQLChange_ = true;
        try {
            sql_->SetText(text);
        } catch (...) {
            lockSQLChange_ = false;
            throw;
        }
        lockSQLChange_ = false;
    } catch (...) {
        EndConnection();
        throw;
    }
    EndConnection();
    StoredProcIsQuery = isQuery;
    SetStoredProcName(name);
}

int TCustomDASQL::RowsProcessed() {
    rtl::Variant v;
    if (!command_ || !command_->GetProp(prRowsProcessed, v)) return 0;
    return v.AsInteger();
}

void TCustomDASQL::ReportMonitor(const char* name, bool start) {
    NotifySQL(this, name, start, monitorEventIDs_[name[0] == 'P' ? 0 : 1]);
}

void TCustomDASQL::AssignTo(rtl::TPersistent* dest) {
    auto* d = dynamic_cast<TCustomDASQL*>(dest);
    if (!d) return rtl::TComponent::AssignTo(dest);
    d->SetConnection(connection_);
    d->SetParamCheck(paramCheck_);
    d->SQL().SetText(sql_->Text());
    d->Macros().Assign(macros_.get());
    d->Params().Assign(params_.get());
    d->Debug = Debug;
    d->SetAutoCommit(autoCommit_);
    d->SetStoredProcName(storedProcName_);
    d->StoredProcIsQuery = StoredProcIsQuery;
}

}  // namespace dac
