// Oracle connection pools: the pool parameters of an Oracle session, the local pool, the Oracle
// client's session pool, the distributed-transaction pool and the process-wide manager.
//
// A pool is keyed by every connection parameter, user and password included, for every pool
// kind: a pooled session always runs under the credentials it asked for.
#pragma once

#include <memory>

#include "dataaccess/components/DASQLMonitor.h"
#include "dataaccess/components/Ora.h"
#include "dataaccess/core/CRConnectionPool.h"

namespace dac {

class TOraConnectionParameters : public TCRConnectionParameters {
public:
    std::unique_ptr<TCRConnectionParameters> Create() const override;
    bool Equals(const TCRConnectionParameters* other) const override;
    bool SetProp(int prop, const rtl::Variant& value) override;
    // The call style and the connection properties, in the order the driver expects them.
    void ApplyTo(TOCIConnection* connection) const;

    bool Direct = false;  // 1043
    AnsiString HomeName;  // 1042
    bool UseUnicode = false;
    TConnectMode ConnectMode = cmNormal;
    bool UseOCI7 = false;
    TOraPoolingType PoolType = optLocal;
    bool StatementCache = false;
    int StatementCacheSize = 20;
    int ConnectionTimeout = 0;
    TOptimizerMode OptimizerMode = omDefault;
    AnsiString ClientIdentifier;
    AnsiString Schema;
    // The user a proxy session runs for; per request, never copied.
    AnsiString ProxyUsername;
    AnsiString ProxyPassword;

protected:
    void AssignTo(rtl::TPersistent* dest) override;
};

class TOraLocalConnectionPool : public TCRLocalConnectionPool {
public:
    using TCRLocalConnectionPool::TCRLocalConnectionPool;

protected:
    TCRConnection* CreateNewConnection() override;
};

// The Oracle client's session pool: one pool session per request, logged on as the requester.
class TOraOCIConnectionPool : public TCRConnectionPool {
public:
    TOraOCIConnectionPool(TCRConnectionPoolManager* manager, const TCRConnectionParameters* parameters);
    ~TOraOCIConnectionPool() override;
    void PutConnection(TCRConnection* connection) override;
    TCRConnection* GetConnection(const TCRConnectionParameters* request) override;
    const AnsiString& PoolName() const { return poolName_; }

private:
    void CreateSessionPool();
    rtl::TCriticalSection createLock_;
    void* poolHandle_ = nullptr;
    AnsiString poolName_;
};

class TOraMTSConnectionPool : public TCRConnectionPool {
public:
    using TCRConnectionPool::TCRConnectionPool;
    void PutConnection(TCRConnection* connection) override;
    TCRConnection* GetConnection(const TCRConnectionParameters* request) override;
};

class TOraConnectionPoolManager : public TCRConnectionPoolManager {
public:
    TOraConnectionPoolManager();
    ~TOraConnectionPoolManager() override;

    TCRConnectionPool* CreateConnectionPool(const TCRConnectionParameters* parameters) override;
    TCRConnection* GetConnection(const TCRConnectionParameters* parameters) override;
    TCRConnection* PrepareReturn(TCRConnection* connection) override;
    void TracePool(TCRConnectionPool* pool, const AnsiString& text, bool withParameters,
                   bool withCount) override;

    // The process-wide entry point: the manager is made on first use.
    static TCRConnection* GetPooledConnection(const TCRConnectionParameters* parameters,
                                              TDASQLMonitorClass monitorClass);
    // The process's manager, nullptr before the first pooled connect.
    static TOraConnectionPoolManager* Instance();

    std::atomic<TDASQLMonitorClass> SQLMonitorClass{nullptr};
};

// Frees every pool of the process's manager, when it exists.
void ClearAllPools();

}  // namespace dac
