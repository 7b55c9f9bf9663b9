// Oracle connection pools and the process-wide pool manager.
#include "dataaccess/components/OraConnectionPool.h"

#include <mutex>

#include "dataaccess/oracle/OraCall.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

std::mutex& ManagerLock() {
    static std::mutex lock;
    return lock;
}

std::unique_ptr<TOraConnectionPoolManager>& ManagerHolder() {
    static std::unique_ptr<TOraConnectionPoolManager> manager;
    return manager;
}

const TOraConnectionParameters& OraParams(const TCRConnectionParameters* p) {
    auto* o = dynamic_cast<const TOraConnectionParameters*>(p);
    rtl::Assert(o != nullptr, "Oracle pool parameters expected");
    return *o;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parameters

std::unique_ptr<TCRConnectionParameters> TOraConnectionParameters::Create() const {
    return std::make_unique<TOraConnectionParameters>();
}

void TOraConnectionParameters::AssignTo(rtl::TPersistent* dest) {
    TCRConnectionParameters::AssignTo(dest);
    auto* d = dynamic_cast<TOraConnectionParameters*>(dest);
    if (!d) return;
    d->Direct = Direct;
    d->HomeName = HomeName;
    d->UseUnicode = UseUnicode;
    d->ConnectMode = ConnectMode;
    d->UseOCI7 = UseOCI7;
    d->PoolType = PoolType;
    d->StatementCache = StatementCache;
    d->StatementCacheSize = StatementCacheSize;
    d->ConnectionTimeout = ConnectionTimeout;
    d->OptimizerMode = OptimizerMode;
    d->ClientIdentifier = ClientIdentifier;
    d->Schema = Schema;
}

bool TOraConnectionParameters::Equals(const TCRConnectionParameters* other) const {
    auto* o = dynamic_cast<const TOraConnectionParameters*>(other);
    // User and password count for every pool kind: a session pool shared across users would
    // hand one user's requests to a pool made for another.
    return o && MinPoolSize == o->MinPoolSize && MaxPoolSize == o->MaxPoolSize &&
           ConnectionLifetime == o->ConnectionLifetime && Validate == o->Validate &&
           rtl::AnsiCompareText(Server, o->Server) == 0 && ConnectMode == o->ConnectMode &&
           UseOCI7 == o->UseOCI7 && PoolType == o->PoolType && StatementCache == o->StatementCache &&
           StatementCacheSize == o->StatementCacheSize && ConnectionTimeout == o->ConnectionTimeout &&
           OptimizerMode == o->OptimizerMode && ClientIdentifier == o->ClientIdentifier &&
           rtl::AnsiCompareText(Schema, o->Schema) == 0 && rtl::AnsiCompareText(Username, o->Username) == 0 &&
           Password == o->Password && UseUnicode == o->UseUnicode;
}

bool TOraConnectionParameters::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prDirect:
            Direct = value.AsBoolean();
            return true;
        case prHomeName:
            HomeName = value.AsString();
            return true;
        case prUseUnicode:
            UseUnicode = value.AsBoolean();
            return true;
        case prConnectMode:
            ConnectMode = static_cast<TConnectMode>(value.AsInteger());
            return true;
        case prUseOCI7:
            UseOCI7 = value.AsBoolean();
            return true;
        case 101:
            PoolType = static_cast<TOraPoolingType>(value.AsInteger());
            return true;
        case prStatementCache:
            StatementCache = value.AsBoolean();
            return true;
        case prStatementCacheSize:
            StatementCacheSize = value.AsInteger();
            return true;
        case prConnectionTimeout:
            ConnectionTimeout = value.AsInteger();
            return true;
        case prOptimizerMode:
            OptimizerMode = static_cast<TOptimizerMode>(value.AsInteger());
            return true;
        case prClientIdentifier:
            ClientIdentifier = value.AsString();
            return true;
        case prSchema:
            Schema = value.AsString();
            return true;
        default:
            return TCRConnectionParameters::SetProp(prop, value);
    }
}

void TOraConnectionParameters::ApplyTo(TOCIConnection* c) const {
    if (!Direct) c->SetOCICallStyle(UseOCI7 ? ocsOCI7 : OCIDefaultCallStyle);
    c->SetProp(prConnectMode, static_cast<int32_t>(ConnectMode));
    c->SetProp(prDirect, Direct);
    c->SetProp(prHomeName, HomeName);
    c->SetProp(prUseUnicode, UseUnicode);
    c->SetProp(prStatementCache, StatementCache);
    c->SetProp(prStatementCacheSize, StatementCacheSize);
    c->SetProp(prConnectionTimeout, ConnectionTimeout);
    c->SetProp(prOptimizerMode, static_cast<int32_t>(OptimizerMode));
    c->SetProp(prClientIdentifier, ClientIdentifier);
    c->SetProp(prSchema, Schema);
    c->OnError = OnError;
}

// ---------------------------------------------------------------------------------------------
// Local pool

TCRConnection* TOraLocalConnectionPool::CreateNewConnection() {
    const auto& p = OraParams(parameters_.get());
    auto c = std::make_unique<TOCIConnection>();
    StartWait();
    try {
        c->SetUsername(p.Username);
        c->SetPassword(p.Password);
        c->SetServer(p.Server);
        p.ApplyTo(c.get());
        c->Connect(AnsiString());
    } catch (...) {
        StopWait();
        throw;
    }
    StopWait();
    return c.release();
}

// ---------------------------------------------------------------------------------------------
// The client's session pool

TOraOCIConnectionPool::TOraOCIConnectionPool(TCRConnectionPoolManager* manager,
                                             const TCRConnectionParameters* parameters)
    : TCRConnectionPool(manager, parameters) {}

TOraOCIConnectionPool::~TOraOCIConnectionPool() {
    if (!poolHandle_) return;
    try {
        OCISessionPoolDestroy(static_cast<OCISPool*>(poolHandle_), OCIErrorHandle(), OCI_DEFAULT);
        OCIHandleFree(poolHandle_, OCI_HTYPE_SPOOL);
    } catch (...) {
    }
}

void TOraOCIConnectionPool::CreateSessionPool() {
    rtl::TCriticalSectionLock g(createLock_);
    if (poolHandle_) return;
    const auto& p = OraParams(parameters_.get());
    void* handle = nullptr;
    if (OCIHandleAlloc(OCIEnvHandle, &handle, OCI_HTYPE_SPOOL, 0, nullptr) != OCI_SUCCESS)
        throw rtl::Exception("OCI session pool handle could not be allocated");
    OraText* name = nullptr;
    ub4 nameLen = 0;
    const ub4 mode = p.StatementCache ? OCI_SPC_STMTCACHE : OCI_DEFAULT;
    const sword r = OCISessionPoolCreate(OCIEnvHandle, OCIErrorHandle(), static_cast<OCISPool*>(handle),
                                         &name, &nameLen, reinterpret_cast<const OraText*>(p.Server.c_str()),
                                         static_cast<ub4>(p.Server.size()), static_cast<ub4>(p.MinPoolSize),
                                         static_cast<ub4>(p.MaxPoolSize), 0, nullptr, 0, nullptr, 0, mode);
    if (r != OCI_SUCCESS && r != OCI_SUCCESS_WITH_INFO) {
        sb4 code = 0;
        char text[512] = {};
        OCIErrorGet(OCIErrorHandle(), 1, nullptr, &code, reinterpret_cast<OraText*>(text), sizeof text,
                    OCI_HTYPE_ERROR);
        OCIHandleFree(handle, OCI_HTYPE_SPOOL);
        throw EOraError(code, rtl::TrimRight(text));
    }
    poolName_.assign(reinterpret_cast<const char*>(name), nameLen);
    poolHandle_ = handle;
}

TCRConnection* TOraOCIConnectionPool::GetConnection(const TCRConnectionParameters* request) {
    const auto& p = OraParams(parameters_.get());
    if (!OCIInitialized) InitOCI();
    if (p.Direct) throw rtl::Exception("OCI pooling is not supported in Direct mode");
    if (OCIVersion < 9200) throw rtl::Exception("OCI pooling is supported starting with OCI 9.2");
    CreateSessionPool();
    // The session logs on as the requester, never as whoever made the pool.
    const auto& who = request ? OraParams(request) : p;
    auto c = std::make_unique<TOCIConnection>();
    c->SetUsername(who.Username);
    c->SetPassword(who.Password);
    p.ApplyTo(c.get());
    c->SetConnectionType(1);
    c->Connect(poolName_);
    c->Pool = this;
    ++takenConnectionsCount_;
    return c.release();
}

void TOraOCIConnectionPool::PutConnection(TCRConnection* connection) {
    connection->Pool = nullptr;
    FreePooledConnection(connection);
    --takenConnectionsCount_;
}

// ---------------------------------------------------------------------------------------------
// Distributed-transaction pool

TCRConnection* TOraMTSConnectionPool::GetConnection(const TCRConnectionParameters* request) {
    const auto& p = OraParams(parameters_.get());
    if (!OCIInitialized) InitOCI();
    if (p.Direct) throw rtl::Exception("MTS pooling is not supported in Direct mode");
    InitOraMTS();
    const auto& who = request ? OraParams(request) : p;
    auto c = std::make_unique<TOCIConnection>();
    c->SetUsername(who.Username);
    c->SetPassword(who.Password);
    c->SetServer(p.Server);
    p.ApplyTo(c.get());
    c->SetConnectionType(2);
    c->Connect(AnsiString());
    c->Pool = this;
    ++takenConnectionsCount_;
    return c.release();
}

void TOraMTSConnectionPool::PutConnection(TCRConnection* connection) {
    connection->Pool = nullptr;
    FreePooledConnection(connection);
    --takenConnectionsCount_;
}

// ---------------------------------------------------------------------------------------------
// Manager

TOraConnectionPoolManager::TOraConnectionPoolManager() {
    StartValidation();
}

TOraConnectionPoolManager::~TOraConnectionPoolManager() {
    StopValidation();
    Clear();
}

TCRConnectionPool* TOraConnectionPoolManager::CreateConnectionPool(
    const TCRConnectionParameters* parameters) {
    switch (OraParams(parameters).PoolType) {
        case optLocal:
            return new TOraLocalConnectionPool(this, parameters);
        case optOCI:
            return new TOraOCIConnectionPool(this, parameters);
        case optMTS:
            return new TOraMTSConnectionPool(this, parameters);
    }
    rtl::Assert(false, "Invalid pool type");
    return nullptr;
}

TCRConnection* TOraConnectionPoolManager::GetConnection(const TCRConnectionParameters* parameters) {
    TCRConnection* base = TCRConnectionPoolManager::GetConnection(parameters);
    const auto& p = OraParams(parameters);
    if (p.ProxyUsername.empty() && p.ProxyPassword.empty()) return base;
    // A proxy session for the requested user on top of the pooled one.
    auto proxy = std::make_unique<TOCIConnection>();
    try {
        proxy->SetUsername(p.ProxyUsername);
        proxy->SetPassword(p.ProxyPassword);
        proxy->SetServer(p.Server);
        p.ApplyTo(proxy.get());
        proxy->ProxyConnection = static_cast<TOCIConnection*>(base);
        proxy->Connect(AnsiString());
    } catch (...) {
        base->Pool->ReturnConnection(base);
        throw;
    }
    proxy->Pool = base->Pool;
    proxy->PoolVersion = base->PoolVersion;
    return proxy.release();
}

TCRConnection* TOraConnectionPoolManager::PrepareReturn(TCRConnection* connection) {
    auto* c = dynamic_cast<TOCIConnection*>(connection);
    if (!c || !c->ProxyConnection) return connection;
    TOCIConnection* base = c->ProxyConnection;
    FreePooledConnection(c);
    return base;
}

void TOraConnectionPoolManager::TracePool(TCRConnectionPool* pool, const AnsiString& text,
                                          bool withParameters, bool withCount) {
    TDASQLMonitorClass cls = SQLMonitorClass.load();
    if (cls) TCustomDASQLMonitor::PoolNotice(cls, pool, text, withParameters, withCount);
}

TCRConnection* TOraConnectionPoolManager::GetPooledConnection(const TCRConnectionParameters* parameters,
                                                              TDASQLMonitorClass monitorClass) {
    TOraConnectionPoolManager* m;
    {
        std::lock_guard<std::mutex> g(ManagerLock());
        auto& holder = ManagerHolder();
        if (!holder) holder = std::make_unique<TOraConnectionPoolManager>();
        m = holder.get();
    }
    m->SQLMonitorClass.store(monitorClass);
    return m->GetConnection(parameters);
}

TOraConnectionPoolManager* TOraConnectionPoolManager::Instance() {
    std::lock_guard<std::mutex> g(ManagerLock());
    return ManagerHolder().get();
}

void ClearAllPools() {
    if (auto* m = TOraConnectionPoolManager::Instance()) m->Clear();
}

}  // namespace dac
