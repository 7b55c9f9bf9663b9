// TOCIConnection: logon, logoff, the error path and the connection lock.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

rtl::TCriticalSection& ConnectionCountLock() {
    static rtl::TCriticalSection cs;
    return cs;
}
rtl::Integer activeConnections = 0;

const char* const NlsNames[NlsParamCount] = {"NLS_DATE_LANGUAGE", "NLS_DATE_FORMAT", "NLS_NUMERIC_CHARACTERS",
                                             "NLS_TIMESTAMP_FORMAT", "NLS_TIMESTAMP_TZ_FORMAT"};

ub4 ConnectModeToOCIMode(TConnectMode mode) {
    switch (mode) {
        case cmSysOper:
            return OCI_SYSOPER;
        case cmSysDBA:
            return OCI_SYSDBA;
        case cmSysASM:
            return OCI_SYSASM;
        default:
            return OCI_DEFAULT;
    }
}

}  // namespace

int TOCIConnection::ActiveConnectionCount() {
    rtl::TCriticalSectionLock lock(ConnectionCountLock());
    return activeConnections;
}

TOCIConnection::TOCIConnection() {
    FAutoCommit = true;
    for (int i = 0; i < NlsParamCount; ++i) FNlsParams[i].Name = NlsNames[i];
}

TOCIConnection::~TOCIConnection() {
    try {
        Disconnect();
    } catch (...) {
    }
}

TCRTransactionClass TOCIConnection::GetInternalTransactionClass() {
    return TCRTransactionClass::Of<TOCITransaction>();
}

void TOCIConnection::RaiseError(const AnsiString& message) {
    throw rtl::Exception(message);
}

void TOCIConnection::CheckInitialized() {
    if (FOCICallStyle != ocsOCI7 && FOCICallStyle != ocsOCI8) RaiseError("OCI is not inizialized");
}

void TOCIConnection::CheckOCI80() {
    if (FOCICallStyle != ocsOCI8) RaiseError("Need Oracle 8 Call Interface");
}

void TOCIConnection::SetOCICallStyle(TOCICallStyle value) {
    if (value == FOCICallStyle) return;
    Disconnect();
    FOCICallStyle = value;
}

void TOCIConnection::SetConnectionType(int value) {
    rtl::Assert(!FConnected, "OraClasses: connection type set while connected");
    FConnectionType = value;
}

void TOCIConnection::Lock() {
    if (!FThreadSafety) return;
    rtl::TWaitResult r = FMutex.WaitFor(rtl::INFINITE);
    rtl::Assert(r == rtl::wrSignaled || r == rtl::wrAbandoned, "OraClasses: connection lock failed");
}

void TOCIConnection::Release() {
    if (FThreadSafety) FMutex.Release();
}

void TOCIConnection::BreakExec() {
    if (!FConnected) return;
    if (FOCICallStyle == ocsOCI7)
        Check(obreak(FLDA.data()));
    else
        Check(OCIBreak(FSvcCtx, GetErrorHandle()));
}

// ---------------------------------------------------------------------------------------------
// Errors

void TOCIConnection::OraError(TOCICallStyle callStyle, sword status, rtl::TComponent* component,
                              bool useProcessError) {
    int32_t code = 0;
    AnsiString message;
    if (callStyle == ocsOCI7) {
        code = status == -9 ? -1 : status;
        char buffer[513] = {};
        oerhms(FLDA.data(), static_cast<sb2>(code), reinterpret_cast<OraText*>(buffer), 512);
        message = buffer;
        code = code < 0 ? -code : code;
    } else if (callStyle == ocsOCI8) {
        code = GetOraError(status, FUnicodeEnv, message, GetErrorHandle());
    } else {
        CheckInitialized();
    }
    FLastErrorCode = code;
    EOraError error(code, message, component);
    if (callStyle == ocsOCI8 && status == OCI_SUCCESS_WITH_INFO && code != 24344) {
        if (OnInfoMessage) OnInfoMessage(error);
        return;
    }
    bool fail = true;
    if (useProcessError) ProcessError(&error, fail);
    if (fail) throw error;
    throw rtl::EAbort();
}

void TOCIConnection::CheckMTS(sword status) {
    if (status == OCI_SUCCESS) return;
    AnsiString message;
    int32_t code = GetPendingOraError(FUnicodeEnv, message, GetErrorHandle());
    EOraError error(code, message, Component);
    bool fail = true;
    ProcessError(&error, fail);
    if (fail) throw error;
    throw rtl::EAbort();
}

// ---------------------------------------------------------------------------------------------
// Connect

void TOCIConnection::CheckHome() {
    if (FHomeName != OracleHomeName) {
        FreeOCI();
        OracleHomeName = FHomeName;
    }
}

void TOCIConnection::Connect(const AnsiString& connectString) {
    if (FConnected) return;
    {
        rtl::TCriticalSectionLock lock(ConnectionCountLock());
        if (activeConnections > 0 && FHomeName != OracleHomeName)
            RaiseError("Connection HomeName differs from already active connections");
        CheckHome();
        ++activeConnections;
        FCounted = true;
    }
    try {
        FServerVersion.clear();
        FServerVersionFull.clear();
        FOracleVersion = 0;
        if (!OCIInitialized) InitOCIProc();
        if (FOCICallStyle == ocsNone || !OCICapabilities.Contains(FOCICallStyle))
            FOCICallStyle = OCIDefaultCallStyle;
        if (ProxyConnection) CheckOCI80();
        FStatementCallStyle = FOCICallStyle;

        if (FOCICallStyle == ocsOCI7) {
            ConnectOCI7();
        } else if (FOCICallStyle == ocsOCI8) {
            switch (FConnectionType) {
                case 1:
                    ConnectSessionPool(connectString);
                    break;
                case 2:
                    ConnectMTSPool();
                    break;
                default:
                    ConnectOCI8();
                    break;
            }
        } else {
            CheckInitialized();
        }

        FConnected = true;
        SetStatementCacheSize(FStatementCacheSize);
        if (!ProxyConnection && FOCICallStyle == ocsOCI8 && FConnectionType == 0 &&
            GetOracleVersion() >= 8000) {
            TOCIFocbkStruct focbk{&OCIFailoverCallback, this};
            Check(OCIAttrSet(FServerHandle, OCI_HTYPE_SERVER, &focbk, 0, OCI_ATTR_FOCBK, GetErrorHandle()));
        }
        for (auto& p : FNlsParams)
            if (p.IsSet) SetSessionParameter(p.Name, p.Value);
        if (!FCharset.empty() || FCharLengthToRead) ReadSessionParameters();
        ApplyOptimizerMode();
        if (!FClientIdentifier.empty() && OCIVersion < 9000) ApplyClientIdentifier();
        if (!FSchema.empty()) SetCurrentSchema(FSchema);
        TCRConnection::Connect(connectString);
    } catch (...) {
        // Session settings that failed after logon leave no half-open session behind.
        if (FConnected) {
            try {
                Disconnect();
            } catch (...) {
            }
        }
        FConnected = false;
        if (FCounted) {
            rtl::InterlockedDecrement(activeConnections);
            FCounted = false;
        }
        throw;
    }
}

void TOCIConnection::ConnectOCI7() {
    if (FLDA.empty()) FLDA.assign(64, 0);
    if (FHDA.empty()) FHDA.assign(256, 0);
    try {
        Check(olog(FLDA.data(), FHDA.data(), reinterpret_cast<const OraText*>(FUsername.c_str()), -1,
                   reinterpret_cast<const OraText*>(FPassword.c_str()), -1,
                   reinterpret_cast<const OraText*>(FServer.c_str()), -1, 0));
        if (FThreadSafety && !GetOCI7Threaded()) SetOCI7Threaded(true);
    } catch (...) {
        FLDA.clear();
        FHDA.clear();
        throw;
    }
}

void TOCIConnection::CheckUnicodeEnvironment() {
    FUnicodeEnv = IsUnicodeEnvironment(FEnvironment, GetErrorHandle());
    if (FUnicodeEnv && !FUseUnicode)
        RaiseError("UseUnicode option must be set to True for Unicode OCI environment");
}

void TOCIConnection::ConnectOCI8() {
    FEnvironment = OCIEnvHandle;
    OCIError* err = GetErrorHandle();
    CheckUnicodeEnvironment();
    auto alloc = [&](auto*& handle, ub4 kind) {
        if (handle) return;
        void* h = nullptr;
        Check(OCIHandleAlloc(FEnvironment, &h, kind, 0, nullptr));
        handle = static_cast<std::remove_reference_t<decltype(handle)>>(h);
    };
    alloc(FSvcCtx, OCI_HTYPE_SVCCTX);
    if (!ProxyConnection) alloc(FServerHandle, OCI_HTYPE_SERVER);
    alloc(FSessionHandle, OCI_HTYPE_SESSION);
    if (!FClientIdentifier.empty() && OCIVersion >= 9000) {
        TOCIText id(FClientIdentifier, FUnicodeEnv);
        Check(OCIAttrSet(FSessionHandle, OCI_HTYPE_SESSION, id.Ptr(), static_cast<ub4>(id.Size()),
                         OCI_ATTR_CLIENT_IDENTIFIER, err));
    }
    bool attached = false;
    try {
        if (!ProxyConnection) {
            TOCIText server(FServer, FUnicodeEnv);
            Check(OCIServerAttach(FServerHandle, err, server.Ptr(), server.Size(), OCI_DEFAULT));
            attached = true;
            TOCIText internalName(FInternalName, FUnicodeEnv);
            Check(OCIAttrSet(FServerHandle, OCI_HTYPE_SERVER, internalName.Ptr(), 0, OCI_ATTR_INTERNAL_NAME,
                             err));
        }
        OCIServer* server = ProxyConnection ? ProxyConnection->FServerHandle : FServerHandle;
        Check(OCIAttrSet(FSvcCtx, OCI_HTYPE_SVCCTX, server, 0, OCI_ATTR_SERVER, err));

        ub4 credentials;
        TOCIText user(FUsername, FUnicodeEnv);
        TOCIText password(FPassword, FUnicodeEnv);
        if (ProxyConnection) {
            Check(OCIAttrSet(FSessionHandle, OCI_HTYPE_SESSION, user.Ptr(), static_cast<ub4>(user.Size()),
                             OCI_ATTR_USERNAME, err));
            if (!FPassword.empty())
                Check(OCIAttrSet(FSessionHandle, OCI_HTYPE_SESSION, password.Ptr(),
                                 static_cast<ub4>(password.Size()), OCI_ATTR_PASSWORD, err));
            Check(OCIAttrSet(FSessionHandle, OCI_HTYPE_SESSION, ProxyConnection->FSessionHandle, 0,
                             OCI_ATTR_PROXY_CREDENTIALS, err));
            credentials = OCI_CRED_PROXY;
        } else if (!FUsername.empty()) {
            Check(OCIAttrSet(FSessionHandle, OCI_HTYPE_SESSION, user.Ptr(), static_cast<ub4>(user.Size()),
                             OCI_ATTR_USERNAME, err));
            Check(OCIAttrSet(FSessionHandle, OCI_HTYPE_SESSION, password.Ptr(),
                             static_cast<ub4>(password.Size()), OCI_ATTR_PASSWORD, err));
            credentials = OCI_CRED_RDBMS;
        } else {
            credentials = OCI_CRED_EXT;
        }
        ub4 mode = ConnectModeToOCIMode(FConnectMode);
        if (FStatementCache && FOCICallStyle == ocsOCI8 && OCIVersion > 9200) mode |= OCI_STMT_CACHE;
        Check(OCISessionBegin(FSvcCtx, err, FSessionHandle, credentials, mode));
        Check(OCIAttrSet(FSvcCtx, OCI_HTYPE_SVCCTX, FSessionHandle, 0, OCI_ATTR_SESSION, err));
        if (GetOracleVersion() < 8000) FStatementCallStyle = ocsOCI7;
    } catch (const EFailOver&) {
        if (attached && FServerHandle) OCIServerDetach(FServerHandle, err, OCI_DEFAULT);
        throw;
    } catch (...) {
        if (attached && FServerHandle) OCIServerDetach(FServerHandle, err, OCI_DEFAULT);
        FreeOCI8Handles();
        throw;
    }
}

void TOCIConnection::FreeOCI8Handles() {
    if (FAuthInfo) OCIHandleFree(FAuthInfo, OCI_HTYPE_AUTHINFO);
    if (FSessionHandle) OCIHandleFree(FSessionHandle, OCI_HTYPE_SESSION);
    if (FServerHandle) OCIHandleFree(FServerHandle, OCI_HTYPE_SERVER);
    // A pooled session's service context went back with the session (OCISessionRelease or the
    // transaction server's release frees it); freeing it here would free it twice.
    if (FSvcCtx && FNativeConnection && FConnectionType == 0) OCIHandleFree(FSvcCtx, OCI_HTYPE_SVCCTX);
    FAuthInfo = nullptr;
    FSessionHandle = nullptr;
    FServerHandle = nullptr;
    FSvcCtx = nullptr;
    FEnvironment = nullptr;
}

void TOCIConnection::ConnectSessionPool(const AnsiString& poolName) {
    CheckOCI80();
    FPoolName = poolName;
    FEnvironment = OCIEnvHandle;
    OCIError* err = GetErrorHandle();
    CheckUnicodeEnvironment();
    try {
        if (!FAuthInfo) Check(OCIHandleAlloc(FEnvironment, &FAuthInfo, OCI_HTYPE_AUTHINFO, 0, nullptr));
        TOCIText user(FUsername, FUnicodeEnv);
        TOCIText password(FPassword, FUnicodeEnv);
        Check(OCIAttrSet(FAuthInfo, OCI_HTYPE_AUTHINFO, user.Ptr(), static_cast<ub4>(user.Size()),
                         OCI_ATTR_USERNAME, err));
        Check(OCIAttrSet(FAuthInfo, OCI_HTYPE_AUTHINFO, password.Ptr(), static_cast<ub4>(password.Size()),
                         OCI_ATTR_PASSWORD, err));
        ub4 mode = OCI_SESSGET_SPOOL;
        if (FStatementCache && FOCICallStyle == ocsOCI8 && OCIVersion > 9200) mode |= OCI_SESSGET_STMTCACHE;
        TOCIText pool(poolName, FUnicodeEnv);
        Check(OCISessionGet(FEnvironment, err, &FSvcCtx, FAuthInfo, pool.Ptr(), static_cast<ub4>(pool.Size()),
                            nullptr, 0, nullptr, nullptr, nullptr, mode));
    } catch (...) {
        if (FAuthInfo) OCIHandleFree(FAuthInfo, OCI_HTYPE_AUTHINFO);
        FAuthInfo = nullptr;
        throw;
    }
}

void TOCIConnection::ConnectMTSPool() {
    InitOraMTS();
    CheckMTS(OraMTSSvcGet(reinterpret_cast<const OraText*>(FUsername.c_str()),
                          reinterpret_cast<const OraText*>(FPassword.c_str()),
                          reinterpret_cast<const OraText*>(FServer.c_str()), &FSvcCtx, &FEnvironment, 1));
    CheckUnicodeEnvironment();
}

// ---------------------------------------------------------------------------------------------
// Disconnect

void TOCIConnection::ClearSessionState() {
    FNativeConnection = true;
    FServerVersion.clear();
    FServerVersionFull.clear();
    FOracleVersion = 0;
    FCachedSchema.clear();
    FMaxStringSize = 0;
    FCharsetId = 0;
    if (FCharLengthToRead) FCharLength = 0;
    for (auto& p : FNlsParams)
        if (!p.IsSet) p.Value.clear();
    // Only what Connect counted is counted down: attached connections were never counted.
    if (FCounted) {
        rtl::InterlockedDecrement(activeConnections);
        FCounted = false;
    }
}

void TOCIConnection::Disconnect() {
    if (!FConnected) return;
    FConnected = false;
    struct Finally {
        TOCIConnection* c;
        ~Finally() { c->ClearSessionState(); }
    } finally{this};
    if (FOCICallStyle == ocsOCI7) {
        if (FNativeConnection) {
            try {
                Check(ologof(FLDA.data()));
            } catch (...) {
                FHDA.clear();
                FLDA.clear();
                throw;
            }
            FLDA.clear();
        }
        FHDA.clear();
    } else if (FOCICallStyle == ocsOCI8) {
        if (ObjectTypesExist()) ObjectTypes().ClearTypes(FSvcCtx, FKeepObjectTypes);
        try {
            OCIError* err = GetErrorHandle();
            if (FConnectionType == 1) {
                Check(OCISessionRelease(FSvcCtx, err, nullptr, 0, OCI_DEFAULT));
            } else if (FConnectionType == 2) {
                CheckMTS(OraMTSSvcRel(FSvcCtx));
            } else if (FNativeConnection) {
                Check(OCISessionEnd(FSvcCtx, err, FSessionHandle, OCI_DEFAULT));
                if (FServerHandle) Check(OCIServerDetach(FServerHandle, err, OCI_DEFAULT));
            }
        } catch (...) {
            FreeOCI8Handles();
            FLDA.clear();
            throw;
        }
        FreeOCI8Handles();
        FLDA.clear();
    } else {
        CheckInitialized();
    }
}

// ---------------------------------------------------------------------------------------------
// Shared handles

void* TOCIConnection::GetLDA() {
    if (FOCICallStyle == ocsOCI7) return FLDA.data();
    if (FLDA.empty() && FSvcCtx) {
        FLDA.assign(64, 0);
        Check(OCISvcCtxToLda(FSvcCtx, GetErrorHandle(), FLDA.data()));
    }
    return FLDA.empty() ? nullptr : FLDA.data();
}

void TOCIConnection::SetLDA(void* value) {
    if (!FLDA.empty() && value == FLDA.data()) return;
    Disconnect();
    FNativeConnection = value == nullptr;
    FConnected = value != nullptr;
    if (!OCIInitialized) InitOCIProc();
    FStatementCallStyle = FOCICallStyle;
    if (value) {
        FLDA.assign(static_cast<uint8_t*>(value), static_cast<uint8_t*>(value) + 64);
        if (FOCICallStyle == ocsOCI8) Check(OCILdaToSvcCtx(&FSvcCtx, GetErrorHandle(), FLDA.data()));
    } else {
        FLDA.clear();
    }
}

OCISvcCtx* TOCIConnection::GetSvcCtx() {
    CheckOCI80();
    return FSvcCtx;
}

void TOCIConnection::SetSvcCtx(OCISvcCtx* value) {
    CheckOCI80();
    if (value == FSvcCtx) return;
    Disconnect();
    FSvcCtx = value;
    FNativeConnection = value == nullptr;
    FConnected = value != nullptr;
    if (value) {
        void* env = nullptr;
        Check(OCIAttrGet(value, OCI_HTYPE_SVCCTX, &env, nullptr, OCI_ATTR_ENV, GetErrorHandle()));
        FEnvironment = static_cast<OCIEnv*>(env);
        FUnicodeEnv = IsUnicodeEnvironment(FEnvironment, GetErrorHandle());
    }
}

void TOCIConnection::Assign(TCRConnection* source) {
    TCRConnection::Assign(source);
    auto* s = dynamic_cast<TOCIConnection*>(source);
    if (!s) return;
    FThreadSafety = s->FThreadSafety;
    FConnectMode = s->FConnectMode;
    FEnableIntegers = s->FEnableIntegers;
    FEnableLargeint = s->FEnableLargeint;
    FEnableNumbers = s->FEnableNumbers;
    FInternalName = s->FInternalName;
    FConnectionTimeout = s->FConnectionTimeout;
    FStatementCache = s->FStatementCache;
    FStatementCacheSize = s->FStatementCacheSize;
    FHomeName = s->FHomeName;
    FConnectionType = s->FConnectionType;
    FClientIdentifier = s->FClientIdentifier;
    FOptimizerMode = s->FOptimizerMode;
    FSchema = s->FSchema;
    FUseSQLTimeStamp = s->FUseSQLTimeStamp;
    FIntervalAsString = s->FIntervalAsString;
    FPrecisions = s->FPrecisions;
    FCharset = s->FCharset;
    FCharLength = s->FCharLength;
    FCharLengthToRead = s->FCharLengthToRead;
    FUseUnicode = s->FUseUnicode;
    for (int i = 0; i < NlsParamCount; ++i) FNlsParams[i] = s->FNlsParams[i];
}

void TOCIConnection::AssignConnect(TCRConnection* source) {
    if (source == this) return;
    Disconnect();
    CheckHome();
    if (!OCIInitialized) InitOCIProc();
    auto* s = dynamic_cast<TOCIConnection*>(source);
    if (!s) {
        if (FOCICallStyle == ocsOCI7) SetLDA(nullptr);
        if (FOCICallStyle == ocsOCI8) SetSvcCtx(nullptr);
        return;
    }
    FOCICallStyle = s->FOCICallStyle;
    if (FOCICallStyle == ocsOCI7)
        SetLDA(s->GetLDA());
    else
        SetSvcCtx(s->FSvcCtx);
    Assign(s);
    FCachedSchema = s->FCachedSchema;
    FCharsetId = s->FCharsetId;
    FMaxStringSize = s->FMaxStringSize;
    if (s->FInternalTransaction) GetInternalTransaction()->AssignConnect(s->FInternalTransaction.get());
}

bool TOCIConnection::CheckIsValid() {
    if (!IsValid) return false;
    IsValid = true;
    try {
        if (OCIVersion < 10200 || (FOracleVersion != 0 && FOracleVersion < 10200)) {
            // A round trip that leaves the user's transaction alone.
            char buffer[256] = {};
            Check(OCIServerVersion(FSvcCtx, GetErrorHandle(), reinterpret_cast<OraText*>(buffer),
                                   sizeof buffer - 1, OCI_HTYPE_SVCCTX));
        } else {
            Check(OCIPing(FSvcCtx, GetErrorHandle(), OCI_DEFAULT));
        }
    } catch (...) {
        IsValid = false;
    }
    return IsValid;
}

void TOCIConnection::ReturnToPool() {
    rtl::Assert(Pool != nullptr, "OraClasses: connection is not pooled");
    OnFailover = nullptr;
    TCRConnection::ReturnToPool();
}

void TOCIConnection::Enlist(TCRTransaction* transaction) {
    if (transaction->ReadOnly()) RaiseError("Readonly transactions are not supported with MTS");
    if (transaction->IsolationLevel() != 0)
        RaiseError("Transaction isolation level is not supported with MTS");
    InitOraMTS();
    rtl::Assert(FMTSContext == nullptr, "OraClasses: connection is enlisted already");
    if (FConnectionType == 2) {
        FMTSContext = FSvcCtx;
        CheckMTS(OraMTSSvcEnlist(FSvcCtx, GetErrorHandle(), transaction, 0));
    } else {
        CheckMTS(OraMTSEnlCtxGet(reinterpret_cast<const OraText*>(FUsername.c_str()),
                                 reinterpret_cast<const OraText*>(FPassword.c_str()),
                                 reinterpret_cast<const OraText*>(FServer.c_str()), FSvcCtx, GetErrorHandle(),
                                 0, &FMTSContext));
        CheckMTS(OraMTSJoinTxn(FMTSContext, transaction));
    }
}

void TOCIConnection::UnEnlist(TCRTransaction*) {
    if (!FMTSContext) return;
    if (FConnectionType == 2) {
        CheckMTS(OraMTSSvcEnlist(FSvcCtx, GetErrorHandle(), nullptr, 0));
    } else {
        CheckMTS(OraMTSJoinTxn(FMTSContext, nullptr));
        CheckMTS(OraMTSEnlCtxRel(FMTSContext));
    }
    FMTSContext = nullptr;
}

sb4 OCIFailoverCallback(void*, void*, void* fo_ctx, ub4 fo_type, ub4 fo_event) {
    rtl::Assert(fo_ctx != nullptr, "OraClasses: failover without a connection");
    auto* connection = static_cast<TOCIConnection*>(fo_ctx);
    try {
        if (fo_event == OCI_FO_END)
            for (auto& p : connection->FNlsParams)
                if (p.IsSet) connection->SetSessionParameter(p.Name, p.Value);
        if (connection->OnFailover) {
            bool retry = false;
            connection->OnFailover(fo_event, fo_type, retry);
            if (retry) return OCI_FO_RETRY;
        }
    } catch (...) {
        // Nothing may unwind into the client library.
    }
    return 0;
}

}  // namespace dac
