#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/CRConnectionPool.h"
#include "platform/rtl/Threads.h"

namespace dac {

void UnknownProp(int prop) {
    rtl::Assert(false, std::to_string(prop));
    throw rtl::EAssertionFailed(std::to_string(prop));  // not reached
}

// ---------------------------------------------------------------------------------------------
// TCRConnection

TCRConnection::TCRConnection() : FHttpOptions(std::make_unique<THttpOptions>()) {}

TCRConnection::~TCRConnection() {
    Disconnect();
}

TCRTransaction* TCRConnection::GetInternalTransaction() {
    if (!FInternalTransaction) {
        std::unique_ptr<TCRTransaction> transaction(GetInternalTransactionClass().Create());
        transaction->AttachConnection(this);
        FInternalTransaction = std::move(transaction);
    }
    return FInternalTransaction.get();
}

TCRTransactionClass TCRConnection::GetInternalTransactionClass() {
    rtl::AbstractError();
}

void TCRConnection::Enlist(TCRTransaction*) {
    throw rtl::Exception("MS DTC transactions not supported");
}

void TCRConnection::UnEnlist(TCRTransaction*) {
    throw rtl::Exception("MS DTC transactions not supported");
}

void TCRConnection::Connect(const AnsiString&) {
    ConnectionTime = rtl::GetTickCount();
    IsValid = true;
}

void TCRConnection::Assign(TCRConnection* source) {
    FServer = source->FServer;
    FUsername = source->FUsername;
    FPassword = source->FPassword;
    FEnableBCD = source->FEnableBCD;
    FEnableFMTBCD = source->FEnableFMTBCD;
    OnError = source->OnError;
    IOHandler = source->IOHandler;
}

void TCRConnection::AssignConnect(TCRConnection*) {
    rtl::AbstractError();
}

bool TCRConnection::CheckIsValid() {
    rtl::AbstractError();
}

void TCRConnection::GetServerVersion(AnsiString&) {
    rtl::AbstractError();
}

void TCRConnection::GetServerVersionFull(AnsiString&) {
    rtl::AbstractError();
}

void TCRConnection::GetClientVersion(AnsiString&) {
    rtl::AbstractError();
}

void TCRConnection::ReturnToPool() {
    rtl::Assert(Pool != nullptr, "Connection is not pooled");
    OnError = nullptr;
    Component = nullptr;
    Pool->ReturnConnection(this);
}

bool TCRConnection::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prAutoCommit:
            FAutoCommit = value.AsBoolean();
            return true;
        case prConvertEOL:
            FConvertEOL = value.AsBoolean();
            return true;
        case prDisconnectedMode:
            FDisconnectedMode = value.AsBoolean();
            return true;
        case prEnableBCD:
            FEnableBCD = value.AsBoolean();
            return true;
        case prEnableFMTBCD:
            FEnableFMTBCD = value.AsBoolean();
            return true;
        case prDefaultSortType:
            FDefaultSortType = static_cast<TSortType>(value.AsInteger());
            return true;
        default:
            UnknownProp(prop);
    }
}

bool TCRConnection::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prUsername:
            value = FUsername;
            return true;
        case prMaxStringSize:
            value = 0;
            return true;
        case prLastInsertId:
            value = int64_t{0};
            return true;
        default:
            UnknownProp(prop);
    }
}

void TCRConnection::ProcessError(rtl::Exception* error, bool& fail) {
    // Clears the flag however the guarded call ends.
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    };

    int attempt = 0;
    TConnLostCause cause = clUnknown;
    while (!FInProcessError) {
        bool reconnect = attempt > 0;
        bool reexecute = false;
        if (OnError) {
            Guard g(FInProcessError);
            OnError(error, fail, reconnect, reexecute, attempt, cause);
        }
        if (reconnect) {
            FReconnected = false;
            {
                Guard g(FInProcessError);
                if (attempt == 0) {
                    try {
                        Disconnect();
                    } catch (...) {
                    }
                }
                try {
                    Connect(AnsiString());
                    if (OnReconnectSuccess) OnReconnectSuccess();
                    FReconnected = true;
                } catch (...) {
                }
            }
            if (FReconnected && reexecute) throw EFailOver(cause);
            ++attempt;
        }
        if (!reconnect && attempt > 0 && !FReconnected && OnReconnectError) {
            Guard g(FInProcessError);
            FConnected = true;
            try {
                OnReconnectError();
            } catch (...) {
            }
            FConnected = false;
        }
        if (!reconnect || FReconnected) break;
    }
}

}  // namespace dac
