#include "dataaccess/core/CRAccess.h"

namespace dac {

namespace {
const char* const SNotSupported = "Operation is not supported by the database";
}

// ---------------------------------------------------------------------------------------------
// TCRTransaction

TCRTransaction::TCRTransaction() = default;

TCRTransaction::~TCRTransaction() = default;

bool TCRTransaction::AttachConnection(TCRConnection* connection) {
    if (FConnections.IndexOf(connection) >= 0) return false;
    FConnections.Add(connection);
    return true;
}

bool TCRTransaction::DetachConnection(TCRConnection* connection) {
    return FConnections.Remove(connection) >= 0;
}

bool TCRTransaction::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prIsolationLevel:
            FIsolationLevel = static_cast<uint8_t>(value.AsInteger());
            return true;
        case prReadOnly:
            FReadOnly = value.AsBoolean();
            return true;
        default:
            UnknownProp(prop);
    }
}

bool TCRTransaction::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prIsolationLevel:
            value = static_cast<int32_t>(FIsolationLevel);
            return true;
        case prReadOnly:
            value = FReadOnly;
            return true;
        default:
            UnknownProp(prop);
    }
}

bool TCRTransaction::VerifyInTransaction(bool) {
    return GetInTransaction();
}

void TCRTransaction::AssignConnect(TCRTransaction* source) {
    FActive = source->FActive;
    FNativeTransaction = false;
}

void TCRTransaction::OpenTransaction() {
    rtl::Assert(false);
}

void TCRTransaction::Commit() {
    rtl::Assert(false);
}

void TCRTransaction::Rollback() {
    rtl::Assert(false);
}

void TCRTransaction::CommitRetaining() {
    throw rtl::Exception(SNotSupported);
}

void TCRTransaction::RollbackRetaining() {
    throw rtl::Exception(SNotSupported);
}

void TCRTransaction::Savepoint(const AnsiString&) {
    throw rtl::Exception(SNotSupported);
}

void TCRTransaction::ReleaseSavepoint(const AnsiString&) {
    throw rtl::Exception(SNotSupported);
}

void TCRTransaction::RollbackToSavepoint(const AnsiString&) {
    throw rtl::Exception(SNotSupported);
}

void TCRTransaction::CheckInactive() {
    if (GetInTransaction()) throw rtl::Exception("Can't perform operation on active transaction");
}

void TCRTransaction::CheckActive() {
    if (!GetInTransaction()) throw rtl::Exception("Can't perform operation on inactive transaction");
}

// ---------------------------------------------------------------------------------------------
// TMTSTransaction

TMTSTransaction::~TMTSTransaction() = default;

uint32_t TMTSTransaction::IsolationFlags(uint8_t isolationLevel) {
    switch (isolationLevel) {
        case ilReadCommitted:
            return 0x1000;
        case ilReadUnCommitted:
            return 0x100;
        case ilRepeatableRead:
            return 0x10000;
        case ilIsolated:
            return 0x100000;
        default:
            throw rtl::Exception("Transaction isolation level is not supported with MTS");
    }
}

bool TMTSTransaction::AttachConnection(TCRConnection* connection) {
    bool changed = TCRTransaction::AttachConnection(connection);
    if (changed && FActive) EnlistLink(connection);
    return changed;
}

bool TMTSTransaction::DetachConnection(TCRConnection* connection) {
    bool changed = TCRTransaction::DetachConnection(connection);
    if (changed && FActive) UnEnlistLink(connection);
    return changed;
}

void TMTSTransaction::OpenTransaction() {
    CheckInactive();
    for (int i = 0; i < FConnections.Count(); ++i)
        if (!FConnections[i]->GetConnected())
            throw rtl::Exception("One of the connections in the transaction is not active");
    StartMTSTransaction();
    FActive = true;
    try {
        for (int i = 0; i < FConnections.Count(); ++i) EnlistLink(FConnections[i]);
    } catch (...) {
        Rollback();
        throw;
    }
}

void TMTSTransaction::StartMTSTransaction() {
    InitMSDTC();
    uint32_t flags = IsolationFlags(FIsolationLevel);
    (void)flags;
    // A coordinator library was found, but its COM dispenser cannot be driven on this platform.
    throw rtl::Exception("MS DTC transactions not supported");
}

void TMTSTransaction::CompleteMTSTransaction(bool) {
    rtl::Assert(FMTSTransaction != nullptr);
    FActive = false;
    FMTSTransaction = nullptr;
    for (int i = 0; i < FConnections.Count(); ++i) UnEnlistLink(FConnections[i]);
}

void TMTSTransaction::Commit() {
    CheckActive();
    CompleteMTSTransaction(true);
}

void TMTSTransaction::Rollback() {
    CheckActive();
    CompleteMTSTransaction(false);
}

void TMTSTransaction::EnlistLink(TCRConnection* connection) {
    connection->Enlist(this);
}

void TMTSTransaction::UnEnlistLink(TCRConnection* connection) {
    connection->UnEnlist(this);
}

void TMTSTransaction::Savepoint(const AnsiString& name) {
    for (int i = 0; i < FConnections.Count(); ++i) FConnections[i]->GetInternalTransaction()->Savepoint(name);
}

void TMTSTransaction::ReleaseSavepoint(const AnsiString& name) {
    for (int i = 0; i < FConnections.Count(); ++i)
        FConnections[i]->GetInternalTransaction()->ReleaseSavepoint(name);
}

void TMTSTransaction::RollbackToSavepoint(const AnsiString& name) {
    for (int i = 0; i < FConnections.Count(); ++i)
        FConnections[i]->GetInternalTransaction()->RollbackToSavepoint(name);
}

}  // namespace dac
