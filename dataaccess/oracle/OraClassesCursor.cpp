// TOraCursor: one server statement shared by a command, REF CURSOR parameters and record sets.
#include "dataaccess/oracle/OraClasses.h"

namespace dac {

TOraCursor::TOraCursor() : CallStyle(OCIDefaultCallStyle) {}

TOraCursor::~TOraCursor() {
    // A release the client refuses cannot be reported from here; the handle goes with its
    // environment.
    try {
        FreeCursor();
    } catch (...) {
    }
}

bool TOraCursor::CanFetch() {
    return State == csExecuted || State == csFetching || State == csFetchingAll;
}

void TOraCursor::Check(sword status) {
    if (status != OCI_SUCCESS) CheckOCIStatus(status, UnicodeEnvironment, ErrorHandle);
}

void TOraCursor::CheckOCI() {
    if (CallStyle != ocsOCI7 && CallStyle != ocsOCI8) RaiseError("OCI is not inizialized");
}

void TOraCursor::CheckOCI73() {
    if (CallStyle != ocsOCI7) RaiseError("Need Oracle 7.3 Call Interface");
}

void TOraCursor::CheckOCI80() {
    if (CallStyle != ocsOCI8) RaiseError("Need Oracle 8 Call Interface");
}

void TOraCursor::AllocCursor(bool fromCache) {
    if (CallStyle == ocsNone) CallStyle = OCIDefaultCallStyle;
    if (CallStyle == ocsOCI7) {
        if (cda_.empty()) cda_.assign(CDASize, 0);
        return;
    }
    CheckOCI();
    if (statement_) return;
    if (!ErrorHandle) ErrorHandle = OCIErrorHandle();
    if (!EnvironmentHandle) {
        EnvironmentHandle = OCIEnvHandle;
        UnicodeEnvironment = IsUnicodeEnvironment(EnvironmentHandle, ErrorHandle);
    }
    fromStatementCache_ = fromCache;
    if (fromCache) return;
    OCIStmt* handle = nullptr;
    Check(OCIHandleAlloc(EnvironmentHandle, reinterpret_cast<void**>(&handle), OCI_HTYPE_STMT, 0, nullptr));
    SetHandle(handle);
}

void TOraCursor::FreeCursor() {
    if (!cda_.empty()) {
        CheckOCI73();
        cda_.clear();
    }
    if (!statement_) return;
    CheckOCI80();
    if (fromStatementCache_)
        Check(OCIStmtRelease(statement_, ErrorHandle, nullptr, 0, OCI_DEFAULT));
    else if (EnvironmentHandle)
        Check(OCIHandleFree(statement_, OCI_HTYPE_STMT));
    SetHandle(nullptr);
    ErrorHandle = nullptr;
    EnvironmentHandle = nullptr;
}

uint8_t* TOraCursor::GetCDA() {
    CheckOCI73();
    if (cda_.empty()) cda_.assign(CDASize, 0);
    return cda_.data();
}

OCIStmt* TOraCursor::GetOCIStmt() {
    CheckOCI80();
    if (!statement_) AllocCursor(false);
    return statement_;
}

OCIStmt** TOraCursor::GetOCIStmtPtr() {
    GetOCIStmt();
    return &statement_;
}

void TOraCursor::SetHandle(OCIStmt* handle) {
    statement_ = handle;
    SetPrefetchRows(PrefetchRows != 0 && OCIVersion >= 9000 ? PrefetchRows : 0);
}

void TOraCursor::SetCallStyle(TOCICallStyle value) {
    if (value == CallStyle) return;
    FreeCursor();
    CallStyle = value;
}

void TOraCursor::SetPrefetchRows(int32_t rows) {
    // 8.1.6 clients mishandle the prefetch attributes.
    if (CallStyle != ocsOCI8 || !statement_ || OCIVersion / 10 == 816) return;
    OCIError* err = ErrorHandle ? ErrorHandle : OCIErrorHandle();
    ub4 value = static_cast<ub4>(rows);
    Check(OCIAttrSet(statement_, OCI_HTYPE_STMT, &value, 0, OCI_ATTR_PREFETCH_ROWS, err));
    if (rows == 0) {
        ub4 memory = 0;
        Check(OCIAttrSet(statement_, OCI_HTYPE_STMT, &memory, 0, OCI_ATTR_PREFETCH_MEMORY, err));
    }
}

}  // namespace dac
