// TDATransaction: a database transaction over one or more connections, carried out by a driver
// transaction. A session's own transaction uses the driver connection's built-in one.
//
// States: inactive -> (StartTransaction) active -> (Commit/Rollback) inactive. Between a start
// and its end the connections are "prepared": checked, in disconnected mode connected, and
// their driver auto-commit switched off; the end (Reset) gives all of that back.
#include <algorithm>

#include "dataaccess/components/DBAccess.h"

namespace dac {

namespace {
const char* const SActive = "Can't perform operation on active transaction";
const char* const SInactive = "Can't perform operation on inactive transaction";
const char* const SMultiple = "Multiple transactions are not supported by the database";
const char* const SNotActiveConnection = "One of the connections in the transaction is not active";
}  // namespace

TDATransaction::TDATransaction(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TDATransaction::~TDATransaction() {
    Destroying();
    try {
        CloseTransaction(true);
    } catch (...) {
    }
    while (!connections_.empty()) RemoveConnection(connections_.back());
    FreeITransaction();
}

void TDATransaction::CheckInactive() {
    if (Active()) throw rtl::Exception(SActive);
}

void TDATransaction::CheckActive() {
    if (!Active()) throw rtl::Exception(SInactive);
}

// ---------------------------------------------------------------------------------------------
// Driver transaction

TCRTransactionClass TDATransaction::GetTransactionClass() {
    rtl::Assert(false, "Must be overrided");
    return TCRTransactionClass::Of<TCRTransaction>();
}

void TDATransaction::CheckITransaction() {
    if (OwnedByConnection) {
        rtl::Assert(defaultConnection_ != nullptr && defaultConnection_->GetIConnection() != nullptr);
        TCRTransaction* own = defaultConnection_->GetIConnection()->GetInternalTransaction();
        if (iTransaction_ == own) return;
        FreeITransaction();
        SetDriverTransaction(own);
        ownsITransaction_ = false;
        return;
    }
    TCRTransactionClass cls = GetTransactionClass();
    if (iTransaction_ && cls.IsInstance(iTransaction_)) return;
    FreeITransaction();
    SetDriverTransaction(cls.Create());
    ownsITransaction_ = true;
}

void TDATransaction::SetDriverTransaction(TCRTransaction* transaction) {
    iTransaction_ = transaction;
    if (!transaction) return;
    transaction->SetProp(prIsolationLevel, static_cast<int32_t>(isolationByte_));
    transaction->SetProp(prReadOnly, readOnly_);
    transaction->Component = this;
    transaction->OnError = [this](rtl::Exception* e, bool& fail) { DoError(e, fail); };
}

void TDATransaction::FreeITransaction() {
    if (!iTransaction_) return;
    if (ownsITransaction_) delete iTransaction_;
    iTransaction_ = nullptr;
    ownsITransaction_ = false;
}

// ---------------------------------------------------------------------------------------------
// Connections

void TDATransaction::SetDefaultConnection(TCustomDAConnection* value) {
    if (value == defaultConnection_) return;
    if (defaultConnection_) {
        auto* old = defaultConnection_;
        RemoveConnection(old);
        if (old != Owner()) old->RemoveFreeNotification(this);
    }
    defaultConnection_ = value;
    if (value) {
        if (value != Owner()) value->FreeNotification(this);
        AddConnection(value);
    }
}

void TDATransaction::AddConnection(TCustomDAConnection* connection) {
    if (std::find(connections_.begin(), connections_.end(), connection) != connections_.end()) return;
    if (Active()) CloseTransaction(false);
    connections_.push_back(connection);
    connection->AddTransaction(this);
}

void TDATransaction::RemoveConnection(TCustomDAConnection* connection) {
    if (std::find(connections_.begin(), connections_.end(), connection) == connections_.end()) return;
    if (globalCoordinator_ != gcMTS && Active()) CloseTransaction(false);
    if (connection == defaultConnection_) defaultConnection_ = nullptr;
    connections_.erase(std::remove(connections_.begin(), connections_.end(), connection), connections_.end());
    if (iTransaction_ && !OwnedByConnection && connection->GetIConnection())
        iTransaction_->DetachConnection(connection->GetIConnection());
    if (OwnedByConnection) FreeITransaction();
    connection->RemoveTransaction(this);
}

void TDATransaction::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    rtl::TComponent::Notification(component, operation);
    if (operation == rtl::opRemove && component == defaultConnection_) RemoveConnection(defaultConnection_);
}

void TDATransaction::SetGlobalCoordinator(TGlobalCoordinator value) {
    CheckInactive();
    if (value == globalCoordinator_) return;
    globalCoordinator_ = value;
    FreeITransaction();
}

void TDATransaction::PrepareConnections(bool quiet) {
    if (quiet) {
        for (auto* c : connections_)
            if (!c->GetConnected()) throw rtl::Exception(SNotActiveConnection);
        CheckITransaction();
        for (auto* c : connections_) iTransaction_->AttachConnection(c->GetIConnection());
        return;
    }
    for (auto* c : connections_)
        if (!c->Options().DisconnectedMode() && !c->GetConnected())
            throw rtl::Exception(SNotActiveConnection);
    std::vector<TCustomDAConnection*> connected;
    try {
        for (auto* c : connections_)
            if (c->Options().DisconnectedMode()) {
                c->InternalConnect();
                connected.push_back(c);
            }
    } catch (...) {
        for (auto* c : connected) c->InternalDisconnect();
        throw;
    }
    CheckITransaction();
    allDisconnectedMode_ = true;
    for (auto* c : connections_) {
        iTransaction_->AttachConnection(c->GetIConnection());
        if (!c->Options().DisconnectedMode()) allDisconnectedMode_ = false;
    }
    prepared_ = true;
}

void TDATransaction::UnPrepareConnections() {
    for (auto* c : connections_) c->InternalDisconnect();
}

void TDATransaction::Reset() {
    if (!prepared_) return;
    prepared_ = false;
    usageCount_ = 0;
    explicitlyStarted_ = false;
    pendingCount_ = 0;
    for (auto* c : connections_)
        if (c->GetIConnection()) c->GetIConnection()->SetProp(prAutoCommit, c->AutoCommit());
    UnPrepareConnections();
}

// ---------------------------------------------------------------------------------------------
// Operations

void TDATransaction::StartTransaction() {
    CheckInactive();
    for (auto* c : connections_) {
        if (c->IsMultipleTransactionsSupported()) continue;
        for (int i = 0; i < c->TransactionCount(); ++i)
            if (c->Transactions(i) != this && c->Transactions(i)->Active()) throw rtl::Exception(SMultiple);
    }
    PrepareConnections(false);
    int monitorID = 0;
    NotifyTransaction(this, tnStart, true, monitorID);
    TCustomDAConnection* single = connections_.size() == 1 ? connections_.front() : nullptr;
    if (single) single->PushOperation(clTransStart, iTransaction_->CanRestoreAfterFailover());
    for (;;) {
        try {
            iTransaction_->OpenTransaction();
            break;
        } catch (const EFailOver& e) {
            if (e.ConnLostCause == clTransStart) continue;
            if (single) single->PopOperation();
            if (!iTransaction_->GetInTransaction()) UnPrepareConnections();
            prepared_ = false;
            throw;
        } catch (...) {
            if (single) single->PopOperation();
            if (!iTransaction_->GetInTransaction()) {
                UnPrepareConnections();
                prepared_ = false;
            }
            throw;
        }
    }
    if (single) single->PopOperation();
    NotifyTransaction(this, tnStart, false, monitorID);
    for (auto* c : connections_) c->GetIConnection()->SetProp(prAutoCommit, false);
    usageCount_ = 1;
    explicitlyStarted_ = true;
    if (OnStart) OnStart(this);
}

void TDATransaction::Commit() {
    if (!prepared_) PrepareConnections(false);
    int monitorID = 0;
    NotifyTransaction(this, tnCommit, true, monitorID);
    try {
        iTransaction_->Commit();
    } catch (...) {
        if (!iTransaction_ || !iTransaction_->GetInTransaction()) Reset();
        throw;
    }
    Reset();
    NotifyTransaction(this, tnCommit, false, monitorID);
    if (OnCommit) OnCommit(this);
}

void TDATransaction::Rollback() {
    if (!prepared_) PrepareConnections(false);
    int monitorID = 0;
    NotifyTransaction(this, tnRollback, true, monitorID);
    try {
        iTransaction_->Rollback();
    } catch (...) {
        if (!iTransaction_ || !iTransaction_->GetInTransaction()) Reset();
        throw;
    }
    Reset();
    NotifyTransaction(this, tnRollback, false, monitorID);
    if (OnRollback) OnRollback(this);
}

void TDATransaction::CommitRetaining() {
    CheckActive();
    int monitorID = 0;
    NotifyTransaction(this, tnCommitRetaining, true, monitorID);
    iTransaction_->CommitRetaining();
    NotifyTransaction(this, tnCommitRetaining, false, monitorID);
    pendingCount_ = 0;
}

void TDATransaction::RollbackRetaining() {
    CheckActive();
    int monitorID = 0;
    NotifyTransaction(this, tnRollbackRetaining, true, monitorID);
    iTransaction_->RollbackRetaining();
    NotifyTransaction(this, tnRollbackRetaining, false, monitorID);
    pendingCount_ = 0;
}

void TDATransaction::Savepoint(const AnsiString& name) {
    if (!prepared_) PrepareConnections(true);
    int monitorID = 0;
    NotifyTransaction(this, tnSavepoint, true, monitorID, name);
    iTransaction_->Savepoint(name);
    NotifyTransaction(this, tnSavepoint, false, monitorID, name);
}

void TDATransaction::RollbackToSavepoint(const AnsiString& name) {
    if (!prepared_) PrepareConnections(true);
    int monitorID = 0;
    NotifyTransaction(this, tnRollbackToSavepoint, true, monitorID, name);
    iTransaction_->RollbackToSavepoint(name);
    NotifyTransaction(this, tnRollbackToSavepoint, false, monitorID, name);
}

void TDATransaction::ReleaseSavepoint(const AnsiString& name) {
    if (!prepared_) PrepareConnections(true);
    int monitorID = 0;
    NotifyTransaction(this, tnReleaseSavepoint, true, monitorID, name);
    iTransaction_->ReleaseSavepoint(name);
    NotifyTransaction(this, tnReleaseSavepoint, false, monitorID, name);
}

bool TDATransaction::GetActive(bool) {
    return iTransaction_ && iTransaction_->GetInTransaction();
}

void TDATransaction::CloseTransaction(bool force) {
    if (!Active()) return;
    try {
        if (DefaultCloseAction == taCommit)
            Commit();
        else
            Rollback();
    } catch (const EDAError& e) {
        if (ComponentState().Contains(rtl::csDestroying) && e.IsFatalError()) return;
        if (!force) throw;
        if (iTransaction_) iTransaction_->Reset();
        Reset();
    } catch (...) {
        if (!force) throw;
    }
}

void TDATransaction::AutoStart() {
    ++usageCount_;
    if (usageCount_ == 1 && !Active()) {
        StartTransaction();
        explicitlyStarted_ = false;
    }
}

void TDATransaction::AutoCommit(bool commit) {
    if (!commit) {
        ++pendingCount_;
        return;
    }
    if (usageCount_ == 1)
        Commit();
    else
        CommitRetaining();
}

void TDATransaction::AutoRelease() {
    if (usageCount_ > 1) {
        --usageCount_;
        return;
    }
    if (usageCount_ != 1) return;
    if (allDisconnectedMode_ && pendingCount_ > 0) {
        usageCount_ = 0;
        return;
    }
    CloseTransaction(false);
}

void TDATransaction::DoError(rtl::Exception* e, bool& fail) {
    auto* error = dynamic_cast<EDAError*>(e);
    if (OnError && error) OnError(this, error, fail);
    if (errorGuard_ || !error || !error->IsFatalError()) return;
    errorGuard_ = true;
    try {
        CloseTransaction(true);
    } catch (...) {
    }
    errorGuard_ = false;
}

}  // namespace dac
