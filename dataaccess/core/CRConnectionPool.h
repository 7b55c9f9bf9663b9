// Connection pooling: one process-wide manager keeps one pool per distinct set of connection
// parameters; a pooled driver connection is taken from its pool at connect and goes back at
// disconnect. The local pool keeps idle connections of its own; a validation thread checks
// idle connections every 30 seconds, closes those idle too long and shrinks pools towards
// their minimum size.
//
// Lock order: manager get lock -> pool get lock -> pool taken lock; the ring (idle) lock and the
// version lock are taken alone or inside those. The validation pass holds the manager's list
// lock, and its get lock around each pool's removal check.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/DAServices.h"
#include "platform/rtl/Threads.h"

namespace dac {

class TCRConnectionPoolManager;

// The key of a pool.
class TCRConnectionParameters : public rtl::TPersistent {
public:
    TCRConnectionParameters();
    ~TCRConnectionParameters() override;

    // A new, empty parameters object of the same class.
    virtual std::unique_ptr<TCRConnectionParameters> Create() const;
    void Assign(rtl::TPersistent* source) override;
    virtual bool Equals(const TCRConnectionParameters* other) const;
    // Base: an assertion naming the id; false.
    virtual bool SetProp(int prop, const rtl::Variant& value);
    AnsiString GetCredentialsText() const;
    AnsiString GetPoolText() const;
    // Credentials and pool texts; never the password.
    AnsiString AsString() const;

    int MinPoolSize = 0;
    int MaxPoolSize = 100;
    AnsiString Username;
    AnsiString Server;
    AnsiString Password;
    int ConnectionLifetime = 0;  // ms; 0: unlimited
    bool Validate = false;
    rtl::TComponent* IOHandler = nullptr;
    TErrorProc OnError;
    THttpOptions& HttpOptions() const { return *httpOptions_; }

protected:
    void AssignTo(rtl::TPersistent* dest) override;

private:
    std::unique_ptr<THttpOptions> httpOptions_;
};

// Disconnects and frees a pooled connection; a failure of either step is not the caller's concern
// (the connection is gone either way).
void FreePooledConnection(TCRConnection* connection);

class TCRConnectionPool : public rtl::TObject {
public:
    // Keeps an owned copy of the parameters (made by their own class); traces the creation.
    explicit TCRConnectionPool(TCRConnectionPoolManager* manager = nullptr,
                               const TCRConnectionParameters* parameters = nullptr);
    ~TCRConnectionPool() override;

    virtual void Validate() {}
    virtual void Clear() {}
    virtual void AsyncClear() {}
    virtual void Invalidate() {}
    virtual int GetTotalConnectionsCount() { return takenConnectionsCount_.load(); }
    virtual void PutConnection(TCRConnection* connection);
    // The request's parameters equal the pool's, except what a pool kind does not compare.
    virtual TCRConnection* GetConnection(const TCRConnectionParameters* request);
    // The manager prepares the connection for its return (a proxy connection gives back its
    // base), then PutConnection.
    virtual void ReturnConnection(TCRConnection* connection);

    TCRConnectionParameters& Parameters() const { return *parameters_; }
    TCRConnectionPoolManager* Manager() const { return manager_; }
    int TakenConnectionsCount() const { return takenConnectionsCount_.load(); }

    // Gets under way that passed the manager: the pool is not removed meanwhile.
    std::atomic<int> PendingGets{0};

protected:
    void Trace(const AnsiString& text, bool withParameters, bool withCount);
    TCRConnectionPoolManager* manager_;
    std::unique_ptr<TCRConnectionParameters> parameters_;
    std::atomic<int> takenConnectionsCount_{0};
};

class TCRLocalConnectionPool : public TCRConnectionPool {
public:
    TCRLocalConnectionPool(TCRConnectionPoolManager* manager, const TCRConnectionParameters* parameters);
    ~TCRLocalConnectionPool() override;

    void Validate() override;
    void Clear() override;
    void AsyncClear() override;
    void Invalidate() override;
    int GetTotalConnectionsCount() override;
    void PutConnection(TCRConnection* connection) override;
    TCRConnection* GetConnection(const TCRConnectionParameters* request) override;

    int IdleCount();
    // How long a get waits for a free place, ms.
    std::atomic<uint32_t> GetTimeout{30000};

protected:
    virtual TCRConnection* CreateNewConnection() = 0;

private:
    // Under the ring lock.
    bool PopIdle(TCRConnection*& connection, int32_t& version);
    void PushIdle(TCRConnection* connection, int32_t version);
    void DestroyConnection(TCRConnection* connection);
    void GiveBackPlace();
    bool LifetimeExceeded(TCRConnection* connection) const;

    std::vector<TCRConnection*> idle_;
    std::vector<int32_t> idleVersions_;
    int head_ = 0;
    int tail_ = 0;
    int count_ = 0;
    int32_t version_ = 0;
    int32_t history_[8] = {};
    int surplus_ = 0;
    std::atomic<int32_t> invalidateVersion_{0};
    std::atomic<int32_t> clearVersion_{0};
    rtl::TEvent available_{true, true};
    rtl::TCriticalSection idleLock_;
    rtl::TCriticalSection takenLock_;
    rtl::TCriticalSection versionLock_;
    rtl::TCriticalSection getLock_;
};

class TValidateThread;

class TCRConnectionPoolManager : public rtl::TObject {
public:
    TCRConnectionPoolManager();
    // Stops the validation thread (waiting at most 5 s), then frees every pool.
    ~TCRConnectionPoolManager() override;

    virtual TCRConnectionPool* CreateConnectionPool(const TCRConnectionParameters* parameters) = 0;
    virtual TCRConnection* GetConnection(const TCRConnectionParameters* parameters);
    virtual TCRConnection* PrepareReturn(TCRConnection* connection) { return connection; }
    // Pool events for the SQL monitor; nothing here.
    virtual void TracePool(TCRConnectionPool* pool, const AnsiString& text, bool withParameters,
                           bool withCount);

    // The first pool whose parameters equal these (creation order), else a new one.
    TCRConnectionPool* GetConnectionPool(const TCRConnectionParameters* parameters);
    // Frees every pool.
    void Clear();
    // One pass of the validation thread: every pool from the last validates; a pool with no
    // connection at all is removed and freed.
    void ValidatePass();
    int PoolCount();
    TCRConnectionPool* Pools(int index);

    // The wait between validation passes, ms.
    std::atomic<uint32_t> ValidateInterval{30000};

protected:
    // Starts the validation thread; the most derived constructor calls it.
    void StartValidation();
    // Stops it; the most derived destructor calls it before its members go.
    void StopValidation();
    rtl::TCriticalSection getLock_;
    rtl::TCriticalSection listLock_;

private:
    friend class TValidateThread;
    std::vector<std::unique_ptr<TCRConnectionPool>> pools_;
    std::unique_ptr<TValidateThread> validateThread_;
};

}  // namespace dac
