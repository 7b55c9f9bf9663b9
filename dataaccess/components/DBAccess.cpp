// TCustomDAConnection and its option objects: settings, the driver connection, the connect
// and disconnect sequences, counted uses and the error hook.
#include "dataaccess/components/DBAccess.h"

#include <algorithm>

#include "platform/rtl/Strings.h"

namespace dac {

char MacroChar = '&';

// ---------------------------------------------------------------------------------------------
// Options

void TDAConnectionOptions::SetDriverProp(int prop, const rtl::Variant& value) {
    if (owner_ && owner_->GetIConnection()) owner_->GetIConnection()->SetProp(prop, value);
}

void TDAConnectionOptions::SetDisconnectedMode(bool value) {
    if (value == disconnectedMode_) return;
    if (owner_) owner_->Disconnect();
    disconnectedMode_ = value;
    SetDriverProp(prDisconnectedMode, value);
}

void TDAConnectionOptions::SetDefaultSortType(TSortType value) {
    defaultSortType_ = value;
    SetDriverProp(prDefaultSortType, static_cast<int32_t>(value));
}

void TDAConnectionOptions::SetEnableBCD(bool value) {
    enableBCD_ = value;
    SetDriverProp(prEnableBCD, value);
}

void TDAConnectionOptions::SetEnableFMTBCD(bool value) {
    enableFMTBCD_ = value;
    SetDriverProp(prEnableFMTBCD, value);
}

void TDAConnectionOptions::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TDAConnectionOptions*>(source);
    if (!src) return rtl::TPersistent::Assign(source);
    keepDesignConnected_ = src->keepDesignConnected_;
    SetDisconnectedMode(src->disconnectedMode_);
    localFailover_ = src->localFailover_;
    SetEnableBCD(src->enableBCD_);
    SetEnableFMTBCD(src->enableFMTBCD_);
}

void TPoolingOptions::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TPoolingOptions*>(source);
    if (!src) return rtl::TPersistent::Assign(source);
    MaxPoolSize = src->MaxPoolSize;
    MinPoolSize = src->MinPoolSize;
    ConnectionLifetime = src->ConnectionLifetime;
    Validate = src->Validate;
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TCustomDAConnection::TCustomDAConnection(rtl::TComponent* owner) : db::TCustomConnection(owner) {
    SetLoginPrompt(true);
}

void TCustomDAConnection::Construct() {
    internalTransaction_ = CreateTransaction();
    internalTransaction_->OwnedByConnection = true;
    InsertComponent(internalTransaction_);
    internalTransaction_->SetSubComponent(true);
    if (!Name().empty()) internalTransaction_->SetName("tr" + Name());
    internalTransaction_->SetDefaultConnection(this);
    options_ = CreateOptions();
    poolingOptions_ = CreatePoolingOptions();
}

void TCustomDAConnection::Destruct() {
    if (destructed_) return;
    destructed_ = true;
    Destroying();
    try {
        Disconnect();
    } catch (const EDAError& e) {
        if (!e.IsFatalError()) throw;
    }
    // Clients forget this connection (they unregister themselves).
    std::vector<TCustomDASQL*> clients;
    {
        rtl::TCriticalSectionLock lock(clientLock_);
        clients = sqlClients_;
    }
    for (auto* sql : clients) {
        if (sql == internalSQL_) continue;
        if (sql->Connection() == this)
            sql->SetConnection(nullptr);
        else
            sql->ConnectionDestroyed(this);
    }
    delete internalSQL_;
    internalSQL_ = nullptr;
    // Metadata components forget this connection (they unregister themselves).
    for (int i = ClientCount() - 1; i >= 0; --i)
        if (i < ClientCount())
            if (auto* meta = dynamic_cast<TDAMetaData*>(Clients(i))) meta->SetConnection(nullptr);
    if (internalTransaction_) {
        auto* t = internalTransaction_;
        internalTransaction_ = nullptr;
        delete t;
    }
    while (!transactions_.empty()) transactions_.back()->RemoveConnection(this);
    ReleaseDriverConnection();
}

TCustomDAConnection::~TCustomDAConnection() {
    Destruct();
}

// ---------------------------------------------------------------------------------------------
// Driver classes and objects

TCRConnectionClass TCustomDAConnection::GetConnectionClass() {
    rtl::Assert(false, "Must be overrided");
    return TCRConnectionClass::Of<TCRConnection>();
}

TCRCommandClass TCustomDAConnection::GetCommandClass() {
    rtl::Assert(false, "Must be overrided");
    return TCRCommandClass::Of<TCRCommand>();
}

std::unique_ptr<TCRCommand> TCustomDAConnection::CreateICommand() {
    return std::unique_ptr<TCRCommand>(GetCommandClass().Create());
}

void TCustomDAConnection::SetDriverConnection(std::unique_ptr<TCRConnection> connection) {
    iConnection_ = std::move(connection);
    if (!iConnection_) return;
    iConnection_->OnError = [this](rtl::Exception* e, bool& fail, bool& reconnect, bool& reexecute,
                                   int attempt, TConnLostCause& cause) {
        DoError(e, fail, reconnect, reexecute, attempt, cause);
    };
    iConnection_->OnReconnectSuccess = [this] {
        if (AfterConnect) AfterConnect(this);
    };
    // Every reconnect failed: the session ends.
    iConnection_->OnReconnectError = [this] {
        if (errorDisconnecting_) return;
        errorDisconnecting_ = true;
        try {
            SetConnected(false);
        } catch (...) {
        }
        errorDisconnecting_ = false;
    };
    iConnection_->Component = this;
    std::vector<TCustomDASQL*> clients;
    {
        rtl::TCriticalSectionLock lock(clientLock_);
        clients = sqlClients_;
    }
    for (auto* sql : clients)
        if (sql->GetICommand()) sql->GetICommand()->SetConnection(iConnection_.get());
}

void TCustomDAConnection::ReleaseDriverConnection() {
    if (!iConnection_) return;
    if (iConnection_->Pool) return ReturnPooledConnection();
    for (auto* t : transactions_) {
        if (t->OwnedByConnection)
            t->FreeITransaction();
        else if (t->GetITransaction())
            t->GetITransaction()->DetachConnection(iConnection_.get());
    }
    std::vector<TCustomDASQL*> clients;
    {
        rtl::TCriticalSectionLock lock(clientLock_);
        clients = sqlClients_;
    }
    for (auto* sql : clients)
        if (sql->GetICommand()) sql->GetICommand()->SetConnection(nullptr);
    iConnection_.reset();
}

// ---------------------------------------------------------------------------------------------
// Connect and disconnect

bool TCustomDAConnection::GetConnected() {
    return iConnection_ && iConnection_->GetConnected();
}

void TCustomDAConnection::SetConnected(bool value) {
    if (value) {
        if (GetConnected() == value) return;
        if (!StreamedConnected()) ++connectCount_;
        if (ComponentState().Contains(rtl::csLoading)) {
            SetStreamedConnected(true);
            return;
        }
        // No connect dialog is registered in this library: connect directly.
        const int saved = connectCount_;
        try {
            if (!GetConnected()) {
                if (BeforeConnect) BeforeConnect(this);
                DoConnect();
                ++connectCount_;
                SendConnectEvent(true);
                if (AfterConnect) AfterConnect(this);
            }
        } catch (...) {
            connectCount_ = GetConnected() ? saved : saved - 1;
            throw;
        }
        connectCount_ = saved;
        return;
    }
    if (!GetConnected()) return;
    connectCount_ = 0;
    promptAllowed_ = true;
    if (BeforeDisconnect) BeforeDisconnect(this);
    std::exception_ptr pending;
    try {
        SendConnectEvent(false);
    } catch (const EDAError& e) {
        // A lost connection: the clients are told once more (and only once).
        if (e.IsFatalError()) {
            try {
                SendConnectEvent(false);
            } catch (...) {
                pending = std::current_exception();
            }
        } else {
            pending = std::current_exception();
        }
    } catch (...) {
        pending = std::current_exception();
    }
    if (ComponentState().Contains(rtl::csLoading)) {
        SetStreamedConnected(false);
    } else {
        // The base would fire BeforeDisconnect and tell the clients a second time.
        DoDisconnect();
        if (AfterDisconnect) AfterDisconnect(this);
    }
    if (pending) std::rethrow_exception(pending);
}

void TCustomDAConnection::DoConnect() {
    int monitorID = 0;
    NotifyConnect(this, true, true, monitorID);
    CreateDriverConnection();
    PushOperation(clConnect, true);
    try {
        internalTransaction_->CheckITransaction();
        // A pooled connection is connected already, under the pool's credentials.
        if (!iConnection_->GetConnected()) {
            iConnection_->SetUsername(username_);
            iConnection_->SetPassword(password_);
            iConnection_->SetServer(GetServer());
            iConnection_->Connect(AnsiString());
        }
    } catch (...) {
        PopOperation();
        ReturnPooledConnection();
        throw;
    }
    PopOperation();
    NotifyConnect(this, true, false, monitorID);
}

void TCustomDAConnection::ReturnPooledConnection() {
    if (!iConnection_ || !iConnection_->Pool) return;
    TCRConnection* pooled = iConnection_.get();
    for (auto* t : transactions_) {
        if (t->OwnedByConnection)
            t->FreeITransaction();
        else if (t->GetITransaction())
            t->GetITransaction()->DetachConnection(pooled);
    }
    std::vector<TCustomDASQL*> clients;
    {
        rtl::TCriticalSectionLock lock(clientLock_);
        clients = sqlClients_;
    }
    for (auto* sql : clients)
        if (sql->GetICommand()) sql->GetICommand()->SetConnection(nullptr);
    for (int i = 0; i < ClientCount(); ++i)
        if (auto* ds = dynamic_cast<TCustomDADataSet*>(Clients(i)))
            if (TCRRecordSet* rs = ds->GetIRecordSetCR()) rs->SetConnection(nullptr);
    (void)iConnection_.release();
    pooled->ReturnToPool();
}

void TCustomDAConnection::CloseTransactions() {
    std::exception_ptr pending;
    for (auto* t : std::vector<TDATransaction*>(transactions_)) {
        try {
            t->CloseTransaction(true);
        } catch (...) {
            if (!pending) pending = std::current_exception();
        }
    }
    if (pending) std::rethrow_exception(pending);
}

void TCustomDAConnection::DoDisconnect() {
    std::exception_ptr pending;
    try {
        CloseTransactions();
    } catch (...) {
        pending = std::current_exception();
    }
    try {
        if (GetConnected()) {
            int monitorID = 0;
            NotifyConnect(this, false, true, monitorID);
            // A pooled connection always goes back to its pool, which keeps it or, when it is no
            // longer valid, destroys it; the next connect asks the pool again.
            if (iConnection_->Pool)
                ReturnPooledConnection();
            else
                iConnection_->Disconnect();
            NotifyConnect(this, false, false, monitorID);
        }
    } catch (...) {
        if (!pending) pending = std::current_exception();
    }
    if (!pending) return;
    try {
        std::rethrow_exception(pending);
    } catch (const EDAError& e) {
        if (ComponentState().Contains(rtl::csDestroying) && e.IsFatalError()) return;
        throw;
    }
}

void TCustomDAConnection::InternalConnect() {
    // One use counts once: the connect request made for it is part of the same use.
    const int before = connectCount_;
    const bool savedPrompt = LoginPrompt();
    if (!promptAllowed_) SetLoginPrompt(false);
    try {
        Connect();
    } catch (const EFailOver&) {
    } catch (...) {
        SetLoginPrompt(savedPrompt);
        promptAllowed_ = !GetConnected();
        connectCount_ = GetConnected() ? before + 1 : before;
        throw;
    }
    SetLoginPrompt(savedPrompt);
    promptAllowed_ = !GetConnected();
    connectCount_ = before + 1;
}

void TCustomDAConnection::InternalDisconnect() {
    if (connectCount_ > 0) --connectCount_;
    if (connectCount_ == 0 && options_->DisconnectedMode() && !InTransaction()) Disconnect();
    promptAllowed_ = false;
}

void TCustomDAConnection::DetectInTransaction(bool canActivate) {
    for (auto* t : transactions_) t->GetActive(canActivate);
}

// ---------------------------------------------------------------------------------------------
// Clients

void TCustomDAConnection::RegisterClient(rtl::TObject* client, db::TConnectChangeEvent event) {
    rtl::TCriticalSectionLock lock(clientLock_);
    db::TCustomConnection::RegisterClient(client, std::move(event));
    if (auto* sql = dynamic_cast<TCustomDASQL*>(client))
        if (std::find(sqlClients_.begin(), sqlClients_.end(), sql) == sqlClients_.end())
            sqlClients_.push_back(sql);
}

void TCustomDAConnection::UnRegisterClient(rtl::TObject* client) {
    rtl::TCriticalSectionLock lock(clientLock_);
    db::TCustomConnection::UnRegisterClient(client);
    if (auto* sql = dynamic_cast<TCustomDASQL*>(client))
        sqlClients_.erase(std::remove(sqlClients_.begin(), sqlClients_.end(), sql), sqlClients_.end());
}

bool TCustomDAConnection::IsSQLClient(const TCustomDASQL* sql) {
    rtl::TCriticalSectionLock lock(clientLock_);
    return std::find(sqlClients_.begin(), sqlClients_.end(), sql) != sqlClients_.end();
}

// ---------------------------------------------------------------------------------------------
// Transactions

TDATransaction* TCustomDAConnection::DefaultTransaction() const {
    return defaultTransaction_ ? defaultTransaction_ : internalTransaction_;
}

void TCustomDAConnection::SetDefaultTransaction(TDATransaction* value) {
    if (value == defaultTransaction_) return;
    if (defaultTransaction_) defaultTransaction_->RemoveFreeNotification(this);
    defaultTransaction_ = value;
    if (value) value->FreeNotification(this);
}

TDATransaction* TCustomDAConnection::UsedTransaction() {
    for (auto* t : transactions_)
        if (t->Active()) return t;
    return DefaultTransaction();
}

void TCustomDAConnection::StartTransaction() {
    if (auto* t = DefaultTransaction()) t->StartTransaction();
}
void TCustomDAConnection::Commit() {
    if (auto* t = DefaultTransaction()) t->Commit();
}
void TCustomDAConnection::Rollback() {
    if (auto* t = DefaultTransaction()) t->Rollback();
}
void TCustomDAConnection::CommitRetaining() {
    if (auto* t = DefaultTransaction()) t->CommitRetaining();
}
void TCustomDAConnection::RollbackRetaining() {
    if (auto* t = DefaultTransaction()) t->RollbackRetaining();
}
void TCustomDAConnection::Savepoint(const AnsiString& name) {
    if (auto* t = DefaultTransaction()) t->Savepoint(name);
}
void TCustomDAConnection::RollbackToSavepoint(const AnsiString& name) {
    if (auto* t = DefaultTransaction()) t->RollbackToSavepoint(name);
}
void TCustomDAConnection::ReleaseSavepoint(const AnsiString& name) {
    if (auto* t = DefaultTransaction()) t->ReleaseSavepoint(name);
}

bool TCustomDAConnection::InTransaction() {
    for (auto* t : transactions_)
        if (t->Active()) return true;
    return false;
}

void TCustomDAConnection::AddTransaction(TDATransaction* transaction) {
    if (std::find(transactions_.begin(), transactions_.end(), transaction) == transactions_.end())
        transactions_.push_back(transaction);
}

void TCustomDAConnection::RemoveTransaction(TDATransaction* transaction) {
    transactions_.erase(std::remove(transactions_.begin(), transactions_.end(), transaction),
                        transactions_.end());
    if (transaction == defaultTransaction_) defaultTransaction_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Connection-level SQL

TCustomDASQL* TCustomDAConnection::CheckInternalSQL() {
    if (!internalSQL_) {
        internalSQL_ = CreateSQL();
        internalSQL_->SetConnection(this);
        internalSQL_->Debug = debug_;
    }
    return internalSQL_;
}

rtl::Variant TCustomDAConnection::ExecSQL(const AnsiString& text, const std::vector<rtl::Variant>& values) {
    TCustomDASQL* sql = CheckInternalSQL();
    const bool wasBusy = internalSQLBusy_;
    internalSQLBusy_ = true;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{internalSQLBusy_, wasBusy};
    // Cleared first, so that the parameters are rebuilt from the text even when it is the same.
    sql->SQL().Clear();
    sql->SQL().SetText(text);
    for (int i = 0; i < sql->ParamCount() && i < static_cast<int>(values.size()); ++i)
        sql->Params()[i]->SetValue(values[static_cast<size_t>(i)]);
    TDAParam* result = sql->FindParam("Result");
    if (result && result->DataType() == db::ftUnknown) result->SetDataType(db::ftString);
    sql->Execute();
    result = sql->FindParam("Result");
    return result ? result->Value() : rtl::Null();
}

// ---------------------------------------------------------------------------------------------
// Settings

void TCustomDAConnection::SetUsername(const AnsiString& value) {
    if (value == username_) return;
    Disconnect();
    username_ = value;
}

void TCustomDAConnection::SetPassword(const AnsiString& value) {
    if (value == password_) return;
    Disconnect();
    password_ = value;
}

void TCustomDAConnection::SetServer(const AnsiString& value) {
    if (value == server_) return;
    Disconnect();
    server_ = value;
}

void TCustomDAConnection::SetAutoCommit(bool value) {
    autoCommit_ = value;
    if (iConnection_) iConnection_->SetProp(prAutoCommit, value);
}

void TCustomDAConnection::SetDebug(bool value) {
    debug_ = value;
    if (internalSQL_) internalSQL_->Debug = value;
}

void TCustomDAConnection::SetPooling(bool value) {
    if (value == pooling_) return;
    Disconnect();
    ReleaseDriverConnection();
    pooling_ = value;
}

void TCustomDAConnection::SetConvertEOL(bool value) {
    convertEOL_ = value;
    if (iConnection_) iConnection_->SetProp(prConvertEOL, value);
}

std::unique_ptr<TDAConnectionOptions> TCustomDAConnection::CreateOptions() {
    return std::make_unique<TDAConnectionOptions>(this);
}

std::unique_ptr<TPoolingOptions> TCustomDAConnection::CreatePoolingOptions() {
    return std::make_unique<TPoolingOptions>(this);
}

void TCustomDAConnection::AssignConnectParams(TCustomDAConnection* source) {
    SetUsername(source->username_);
    SetPassword(source->password_);
    SetServer(source->server_);
}

void TCustomDAConnection::AssignTo(rtl::TPersistent* dest) {
    auto* d = dynamic_cast<TCustomDAConnection*>(dest);
    if (!d) return db::TCustomConnection::AssignTo(dest);
    d->SetUsername(username_);
    d->SetPassword(password_);
    d->SetServer(server_);
    d->SetLoginPrompt(LoginPrompt());
    d->poolingOptions_->Assign(poolingOptions_.get());
    d->SetPooling(pooling_);
    d->OnError = OnError;
    d->SetConvertEOL(convertEOL_);
    d->options_->Assign(options_.get());
    d->SetAutoCommit(autoCommit_);
    d->AfterConnect = AfterConnect;
    d->BeforeConnect = BeforeConnect;
    d->AfterDisconnect = AfterDisconnect;
    d->BeforeDisconnect = BeforeDisconnect;
    d->OnLogin = OnLogin;
}

void TCustomDAConnection::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    db::TCustomConnection::Notification(component, operation);
    if (operation == rtl::opRemove && component == defaultTransaction_) defaultTransaction_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Operations and errors

void TCustomDAConnection::PushOperation(TConnLostCause cause, bool allowFailover) {
    // The stack matters only to local failover.
    if (!options_->LocalFailover()) return;
    operations_.emplace_back(cause, allowFailover);
}

void TCustomDAConnection::PopOperation() {
    if (!operations_.empty()) operations_.pop_back();
}

TConnLostCause TCustomDAConnection::GetFailoverOperation(rtl::TComponent*) {
    TConnLostCause result = clUnknown;
    bool allow = true;
    for (auto it = operations_.rbegin(); it != operations_.rend(); ++it) {
        if (it->first > result) {
            result = it->first;
            allow = it->second;
        }
        if (result == clConnect) {
            if (promptAllowed_) result = clUnknown;
            break;
        }
    }
    if (!allow) return clUnknown;
    if ((result == clExecute || result == clOpen || result == clServiceQuery || result == clTransStart) &&
        !CanRestoreAfterFailover())
        return clUnknown;
    return result;
}

bool TCustomDAConnection::CanRestoreAfterFailover() {
    for (auto* t : transactions_) {
        TCRTransaction* driver = t->GetITransaction();
        if (driver && driver->GetInTransaction()) return false;
    }
    return true;
}

void TCustomDAConnection::SuspendForFailover() {
    suspended_.clear();
    for (auto* t : std::vector<TDATransaction*>(transactions_)) {
        TCRTransaction* driver = t->GetITransaction();
        const bool restorable = driver && driver->CanRestoreAfterFailover();
        if (restorable && t->Active()) suspended_.push_back(t);
        // Work cut off by a lost connection is never committed: the transaction rolls back.
        const TCRTransactionAction saved = t->DefaultCloseAction;
        t->DefaultCloseAction = taRollback;
        try {
            t->CloseTransaction(true);
        } catch (...) {
            // The server is gone, and the transaction with it.
            if (t->GetITransaction()) t->GetITransaction()->Reset();
            t->Reset();
        }
        t->DefaultCloseAction = saved;
    }
}

void TCustomDAConnection::ResumeAfterFailover() {
    std::vector<TDATransaction*> resume;
    resume.swap(suspended_);
    for (auto* t : resume)
        if (std::find(transactions_.begin(), transactions_.end(), t) != transactions_.end() && !t->Active())
            t->StartTransaction();
}

bool TCustomDAConnection::ClientsBlockReconnect(rtl::TComponent* failed, TConnLostCause cause) {
    for (int i = 0; i < ClientCount(); ++i) {
        auto* ds = dynamic_cast<TCustomDADataSet*>(Clients(i));
        if (!ds) continue;
        if (ds->Prepared()) return true;
        if (ds->Active() && !ds->FetchAll() && !ds->Fetched() && !(cause == clRefresh && ds == failed))
            return true;
    }
    std::vector<TCustomDASQL*> clients;
    {
        rtl::TCriticalSectionLock lock(clientLock_);
        clients = sqlClients_;
    }
    for (auto* sql : clients)
        if (sql->Prepared() && !sql->Executing()) return true;
    return false;
}

void TCustomDAConnection::DoError(rtl::Exception* e, bool& fail, bool& reconnect, bool& reexecute,
                                  int reconnectAttempt, TConnLostCause& connLostCause) {
    connLostCause = clUnknown;
    if (e) NotifyError(this, *e);
    auto* error = dynamic_cast<EDAError*>(e);
    const bool fatal = error && error->IsFatalError();
    reconnect = false;
    reexecute = false;
    if (error && !error->Component) error->Component = this;
    if (fatal) {
        connLostCause = GetFailoverOperation(error->Component);
        reconnect = (GetConnected() || (reconnectAttempt > 0 && options_->LocalFailover()) ||
                     (connLostCause == clConnect && options_->DisconnectedMode())) &&
                    (CanRestoreAfterFailover() || connLostCause == clConnectionApply);
        if (reconnect && ClientsBlockReconnect(error->Component, connLostCause)) reconnect = false;
    }
    if (reconnect && options_->LocalFailover()) {
        TRetryMode mode =
            (connLostCause == clUnknown || connLostCause == clExecute) ? rmRaise : rmReconnectExecute;
        if (OnConnectionLost) OnConnectionLost(this, error ? error->Component : nullptr, connLostCause, mode);
        reconnect = mode != rmRaise;
        reexecute = (mode == rmReconnectExecute && connLostCause != clUnknown) ||
                    (connLostCause == clConnect && mode != rmRaise);
        fail = !reexecute;
    }
    if (!reexecute && error && OnError) OnError(this, error, fail);
    if (fatal && iConnection_) iConnection_->IsValid = false;
    if (fatal && reconnectAttempt == 0) SuspendForFailover();
    if (fatal && reconnectAttempt == 0 && !reconnect && !errorDisconnecting_) {
        errorDisconnecting_ = true;
        try {
            SetConnected(false);
        } catch (...) {
        }
        errorDisconnecting_ = false;
    }
}

// ---------------------------------------------------------------------------------------------
// Access routines

void TDBAccessUtils::InternalConnect(TCustomDAConnection* c) {
    rtl::Assert(c != nullptr);
    c->InternalConnect();
}

void TDBAccessUtils::InternalDisconnect(TCustomDAConnection* c) {
    rtl::Assert(c != nullptr);
    c->InternalDisconnect();
}

void TDBAccessUtils::SetSQLText(TCustomDASQL* obj, const AnsiString& text, bool lockMacros,
                                bool lockScanParams) {
    obj->lockMacros_ = lockMacros;
    obj->lockScanParams_ = lockScanParams;
    try {
        obj->SQL().SetText(text);
    } catch (...) {
        obj->lockMacros_ = false;
        obj->lockScanParams_ = false;
        throw;
    }
    obj->lockMacros_ = false;
    obj->lockScanParams_ = false;
}

}  // namespace dac
