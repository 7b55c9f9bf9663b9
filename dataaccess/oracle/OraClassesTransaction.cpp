// TOCITransaction: local transactions through SET TRANSACTION blocks, global ones through OCI
// transaction branches, savepoints as SQL on every connection.
#include <algorithm>
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

const char* const SNoConnections = "There are no connections in the transaction";
const char* const SNoGlobalName = "Cannot start distributed transaction without transaction name or XID";
const char* const SConnectionNotActive = "One of the connections in the transaction is not active";
const char* const SUnsupportedIsolation = "Unsupported transaction isolation level";

bool IsIdentifierChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '#';
}

void CheckLength(const rtl::TBytes& bytes, const char* what) {
    if (bytes.size() > 64)
        throw rtl::Exception(rtl::Format("%s cannot contain more than 64 elements", {what}));
}

}  // namespace

AnsiString CheckedOraIdentifier(const AnsiString& name, const char* what) {
    AnsiString n = rtl::Trim(name);
    auto invalid = [&]() -> AnsiString { throw rtl::Exception(AnsiString("Invalid ") + what + ": " + name); };
    if (n.size() >= 2 && n.front() == '"' && n.back() == '"') {
        const AnsiString inner = n.substr(1, n.size() - 2);
        if (inner.empty() || inner.size() > 128) return invalid();
        for (char c : inner)
            if (c == '"' || static_cast<unsigned char>(c) < ' ') return invalid();
        return n;
    }
    if (n.empty() || n.size() > 128 || !((n[0] >= 'A' && n[0] <= 'Z') || (n[0] >= 'a' && n[0] <= 'z')))
        return invalid();
    for (char c : n)
        if (!IsIdentifierChar(c)) return invalid();
    return "\"" + rtl::UpperCase(n) + "\"";
}

AnsiString OraNameLiteral(const AnsiString& name) {
    AnsiString out = "'";
    for (char c : name) {
        if (static_cast<unsigned char>(c) < ' ') throw rtl::Exception("Invalid transaction name: " + name);
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

uint16_t ClampTransactionTimeOut(int32_t seconds) {
    return static_cast<uint16_t>(std::clamp<int32_t>(seconds, 0, 65535));
}

// ---------------------------------------------------------------------------------------------

TOCITransaction::TOCITransaction() = default;

TOCITransaction::~TOCITransaction() {
    // Branches still attached are let go; the server ends them with their sessions.
    for (auto& link : FLinks)
        if (link.TransactionHandle) OCIHandleFree(link.TransactionHandle, OCI_HTYPE_TRANS);
}

bool TOCITransaction::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prInactiveTimeOut:
            FInactiveTimeOut = value.AsInteger();
            return true;
        case prResumeTimeOut:
            FResumeTimeOut = value.AsInteger();
            return true;
        case prTransactionName:
            FTransactionName = value.AsString();
            return true;
        case prResume:
            FResume = value.AsBoolean();
            return true;
        case prRollbackSegment:
            FRollbackSegment = value.AsString();
            return true;
        default:
            return TCRTransaction::SetProp(prop, value);
    }
}

bool TOCITransaction::GetProp(int prop, rtl::Variant& value) {
    return TCRTransaction::GetProp(prop, value);
}

void TOCITransaction::SetBranchQualifier(int index, const rtl::TBytes& value) {
    if (static_cast<int>(FLinks.size()) < index + 1) FLinks.resize(static_cast<size_t>(index) + 1);
    FLinks[static_cast<size_t>(index)].BranchQualifier = value;
}

void TOCITransaction::AssignConnect(TCRTransaction* source) {
    TCRTransaction::AssignConnect(source);
    if (auto* s = dynamic_cast<TOCITransaction*>(source)) FLocalTransactionId = s->FLocalTransactionId;
}

TOCIConnection* TOCITransaction::Connection(int index) {
    auto* c = dynamic_cast<TOCIConnection*>(FConnections[index]);
    rtl::Assert(c != nullptr, "OraClasses: not an Oracle connection");
    return c;
}

void TOCITransaction::Check(sword status) {
    if (status == OCI_SUCCESS) return;
    if (FConnections.Count() == 1) {
        TOCIConnection* c = Connection(0);
        c->OraError(c->GetOCICallStyle(), status, Component, true);
    } else {
        CheckGlobal(status, true);
    }
}

void TOCITransaction::CheckGlobal(sword status, bool useOnError) {
    AnsiString message;
    const int32_t code = GetOraError(status, OCIUnicode, message, OCIErrorHandle());
    if (status == OCI_SUCCESS_WITH_INFO && code != 24344) return;
    EOraError error(code, message, Component);
    if (useOnError && OnError) {
        bool fail = true;
        OnError(&error, fail);
        if (!fail) throw rtl::EAbort();
    }
    throw error;
}

void TOCITransaction::ExecSQL(TOCIConnection* connection, const AnsiString& sql) {
    std::vector<TOCISessionParam> none;
    connection->ExecSessionSQL(sql, none);
}

AnsiString TOCITransaction::SetTransactionSQL(const AnsiString& clause, const AnsiString& name) {
    AnsiString sql = "begin SET TRANSACTION";
    if (!clause.empty()) sql += " " + clause;
    if (!name.empty()) sql += " NAME " + OraNameLiteral(name);
    return sql + "; end;";
}

// ---------------------------------------------------------------------------------------------
// Local transactions

void TOCITransaction::OpenTransaction() {
    if (FConnections.Count() == 0) throw rtl::Exception(SNoConnections);
    if (FConnections.Count() > 1 && FTransactionName.empty() && FTransactionId.empty())
        throw rtl::Exception(SNoGlobalName);
    for (int i = 0; i < FConnections.Count(); ++i)
        if (!FConnections[i]->GetConnected()) throw rtl::Exception(SConnectionNotActive);
    if (IsLocal())
        StartLocal();
    else
        StartGlobal();
}

void TOCITransaction::StartLocal() {
    TOCIConnection* c = Connection(0);
    CommitLocal();  // SET TRANSACTION must come first in its transaction
    bool named = false;
    if (!FRollbackSegment.empty()) {
        ExecSQL(c, SetTransactionSQL(
                       "USE ROLLBACK SEGMENT " + CheckedOraIdentifier(FRollbackSegment, "rollback segment"),
                       FTransactionName));
        named = true;
    }
    if (FReadOnly) {
        ExecSQL(c, SetTransactionSQL("READ ONLY", FTransactionName));
        named = true;
    } else if (FIsolationLevel == ilSerializable) {
        ExecSQL(c, SetTransactionSQL("ISOLATION LEVEL SERIALIZABLE", FTransactionName));
        named = true;
    } else if (FIsolationLevel != ilReadCommitted) {
        throw rtl::Exception(SUnsupportedIsolation);
    }
    if (!FTransactionName.empty() && !named) ExecSQL(c, SetTransactionSQL("", FTransactionName));
    FLocalTransactionId = GetLocalTransactionId(true);
    FActive = true;
    FNativeTransaction = true;
}

AnsiString TOCITransaction::GetLocalTransactionId(bool createIfNone) {
    std::vector<TOCISessionParam> params(1);
    params[0].Name = "result";
    params[0].Output = true;
    params[0].Size = 4000;
    AnsiString sql = "begin  :result := sys.dbms_transaction.local_transaction_id";
    if (createIfNone) sql += "(true)";
    sql += "; end;";
    Connection(0)->ExecSessionSQL(sql, params);
    return params[0].IsNull ? AnsiString() : params[0].Value;
}

void TOCITransaction::CommitLocal() {
    TOCIConnection* c = Connection(0);
    c->Lock();
    try {
        FLocalTransactionId.clear();
        FActive = false;
        if (FNativeTransaction) Check(OCITransCommit(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT));
    } catch (...) {
        FNativeTransaction = true;
        c->Release();
        throw;
    }
    FNativeTransaction = true;
    c->Release();
}

void TOCITransaction::RollbackLocal() {
    TOCIConnection* c = Connection(0);
    FLocalTransactionId.clear();
    FActive = false;
    const bool native = FNativeTransaction;
    FNativeTransaction = true;
    if (native) Check(OCITransRollback(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT));
}

void TOCITransaction::Commit() {
    if (IsLocal()) return CommitLocal();
    CheckActive();
    CommitGlobal();
}

void TOCITransaction::Rollback() {
    if (IsLocal()) return RollbackLocal();
    CheckActive();
    RollbackGlobal();
}

void TOCITransaction::Savepoint(const AnsiString& name) {
    const AnsiString sql = "SAVEPOINT " + CheckedOraIdentifier(name, "savepoint name");
    for (int i = 0; i < FConnections.Count(); ++i) ExecSQL(Connection(i), sql);
}

void TOCITransaction::RollbackToSavepoint(const AnsiString& name) {
    const AnsiString sql = "ROLLBACK TO SAVEPOINT " + CheckedOraIdentifier(name, "savepoint name");
    for (int i = 0; i < FConnections.Count(); ++i) ExecSQL(Connection(i), sql);
}

bool TOCITransaction::VerifyInTransaction(bool canDetect) {
    if (FActive && !FLocalTransactionId.empty()) {
        const AnsiString id = GetLocalTransactionId(false);
        FActive = id == FLocalTransactionId;
        if (!FActive) FLocalTransactionId.clear();
    } else if (!FActive && canDetect) {
        FLocalTransactionId = GetLocalTransactionId(false);
        FActive = !FLocalTransactionId.empty();
    }
    return FActive;
}

// ---------------------------------------------------------------------------------------------
// Global transactions

void TOCITransaction::BuildXID() {
    CheckLength(FTransactionId, "TransactionId");
    if (!FXID) FXID = std::make_unique<TXID>();
    FXID->formatID = 0;
    FXID->gtrid_length = static_cast<int32_t>(FTransactionId.size());
    if (!FTransactionId.empty()) std::memcpy(FXID->data, FTransactionId.data(), FTransactionId.size());
}

void TOCITransaction::SetXIDBranch(TTransactionLink& link) {
    CheckLength(link.BranchQualifier, "BranchQualifier");
    FXID->bqual_length = static_cast<int32_t>(link.BranchQualifier.size());
    if (!link.BranchQualifier.empty())
        std::memcpy(FXID->data + FTransactionId.size(), link.BranchQualifier.data(),
                    link.BranchQualifier.size());
}

void TOCITransaction::StartGlobal() {
    CheckInactive();
    if (OCIDefaultCallStyle != ocsOCI8) throw rtl::Exception("Need Oracle 8 Call Interface");
    FLinks.resize(static_cast<size_t>(FConnections.Count()));
    if (!FTransactionId.empty()) BuildXID();
    ub4 flags;
    if (FReadOnly)
        flags = OCI_TRANS_READONLY;
    else if (FIsolationLevel == ilReadCommitted)
        flags = OCI_TRANS_READWRITE;
    else if (FIsolationLevel == ilSerializable)
        flags = OCI_TRANS_SERIALIZABLE;
    else
        throw rtl::Exception(SUnsupportedIsolation);
    FActive = true;
    FLocalTransactionId.clear();
    try {
        for (int j = 0; j < FConnections.Count(); ++j) {
            TOCIConnection* c = Connection(j);
            TTransactionLink& link = FLinks[static_cast<size_t>(j)];
            OCIError* err = c->GetErrorHandle();
            void* handle = nullptr;
            Check(OCIHandleAlloc(OCIEnvHandle, &handle, OCI_HTYPE_TRANS, 0, nullptr));
            link.TransactionHandle = static_cast<OCITrans*>(handle);
            try {
                if (!FTransactionId.empty()) {
                    SetXIDBranch(link);
                    Check(OCIAttrSet(handle, OCI_HTYPE_TRANS, FXID.get(), sizeof(TXID), OCI_ATTR_XID, err));
                } else {
                    TOCIText name(FTransactionName, c->UnicodeEnv());
                    Check(OCIAttrSet(handle, OCI_HTYPE_TRANS, name.Ptr(), static_cast<ub4>(name.Size()),
                                     OCI_ATTR_TRANS_NAME, err));
                }
                Check(OCIAttrSet(c->GetSvcCtx(), OCI_HTYPE_SVCCTX, handle, 0, OCI_ATTR_TRANS, err));
                const uint16_t timeOut = ClampTransactionTimeOut(FResume ? FResumeTimeOut : FInactiveTimeOut);
                Check(OCITransStart(c->GetSvcCtx(), err, timeOut,
                                    flags | (FResume ? OCI_TRANS_RESUME : OCI_TRANS_NEW)));
            } catch (...) {
                // The failed branch is let go at once; the started ones end below.
                OCIAttrSet(c->GetSvcCtx(), OCI_HTYPE_SVCCTX, nullptr, 0, OCI_ATTR_TRANS, err);
                OCIHandleFree(handle, OCI_HTYPE_TRANS);
                link.TransactionHandle = nullptr;
                throw;
            }
            link.State = 1;
        }
    } catch (...) {
        try {
            if (FResume)
                Detach();
            else
                RollbackGlobal();
        } catch (...) {
            // The start's own error is the one to report.
        }
        FActive = false;
        throw;
    }
}

void TOCITransaction::CommitGlobal() {
    if (FConnections.Count() > 1) {
        for (int j = 0; j < FConnections.Count(); ++j) {
            TTransactionLink& link = FLinks[static_cast<size_t>(j)];
            if (link.State != 1) continue;
            TOCIConnection* c = Connection(j);
            const sword status = OCITransPrepare(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT);
            if (status == OCI_SUCCESS) {
                link.State = 2;
            } else if (status == OCI_SUCCESS_WITH_INFO) {
                link.State = 3;  // the branch changed nothing: no commit follows
            } else {
                // The error is read before the rollback's calls overwrite it.
                AnsiString message;
                const int32_t code = GetOraError(status, OCIUnicode, message, c->GetErrorHandle());
                try {
                    RollbackGlobal();
                } catch (...) {
                }
                EOraError error(code, message, Component);
                if (OnError) {
                    bool fail = true;
                    OnError(&error, fail);
                    if (!fail) throw rtl::EAbort();
                }
                throw error;
            }
        }
        for (int j = 0; j < FConnections.Count(); ++j) {
            TTransactionLink& link = FLinks[static_cast<size_t>(j)];
            if (link.State != 2) continue;
            TOCIConnection* c = Connection(j);
            Check(OCITransCommit(c->GetSvcCtx(), c->GetErrorHandle(), OCI_TRANS_TWOPHASE));
            link.State = 3;
        }
    } else if (!FLinks.empty() && FLinks[0].State == 1) {
        TOCIConnection* c = Connection(0);
        Check(OCITransCommit(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT));
        FLinks[0].State = 3;
    }
    ReleaseLinks();
}

void TOCITransaction::RollbackGlobal() {
    for (int j = 0; j < FConnections.Count() && j < static_cast<int>(FLinks.size()); ++j) {
        TTransactionLink& link = FLinks[static_cast<size_t>(j)];
        if (link.State != 1 && link.State != 2) continue;
        TOCIConnection* c = Connection(j);
        Check(OCITransRollback(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT));
        link.State = 3;
    }
    ReleaseLinks();
}

void TOCITransaction::Detach() {
    CheckActive();
    for (int j = 0; j < FConnections.Count() && j < static_cast<int>(FLinks.size()); ++j) {
        TTransactionLink& link = FLinks[static_cast<size_t>(j)];
        if (link.State != 1) continue;
        TOCIConnection* c = Connection(j);
        Check(OCITransDetach(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT));
        link.State = 3;
    }
    ReleaseLinks();
}

void TOCITransaction::ReleaseLinks() {
    for (int j = 0; j < FConnections.Count() && j < static_cast<int>(FLinks.size()); ++j) {
        TTransactionLink& link = FLinks[static_cast<size_t>(j)];
        if (link.State != 3) continue;
        TOCIConnection* c = Connection(j);
        OCIAttrSet(c->GetSvcCtx(), OCI_HTYPE_SVCCTX, nullptr, 0, OCI_ATTR_TRANS, c->GetErrorHandle());
        if (link.TransactionHandle) OCIHandleFree(link.TransactionHandle, OCI_HTYPE_TRANS);
        link.TransactionHandle = nullptr;
        link.State = 0;
    }
    FActive = false;
}

}  // namespace dac
