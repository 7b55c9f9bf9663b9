// Connection pooling: pool parameters, the local pool with its ring of idle connections, the
// pool manager and its validation thread.
#include "dataaccess/core/CRConnectionPool.h"

#include <algorithm>

#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

const char* const SMaxConnectionsReached = "Maximum connections reached in pool";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parameters

TCRConnectionParameters::TCRConnectionParameters() : httpOptions_(std::make_unique<THttpOptions>()) {}

TCRConnectionParameters::~TCRConnectionParameters() = default;

std::unique_ptr<TCRConnectionParameters> TCRConnectionParameters::Create() const {
    return std::make_unique<TCRConnectionParameters>();
}

void TCRConnectionParameters::Assign(rtl::TPersistent* source) {
    rtl::TPersistent::Assign(source);
}

void TCRConnectionParameters::AssignTo(rtl::TPersistent* dest) {
    auto* d = dynamic_cast<TCRConnectionParameters*>(dest);
    if (!d) return rtl::TPersistent::AssignTo(dest);
    d->MinPoolSize = MinPoolSize;
    d->MaxPoolSize = MaxPoolSize;
    d->Username = Username;
    d->Server = Server;
    d->Password = Password;
    d->ConnectionLifetime = ConnectionLifetime;
    d->Validate = Validate;
    d->IOHandler = IOHandler;
    d->OnError = OnError;
    d->httpOptions_->Assign(httpOptions_.get());
}

bool TCRConnectionParameters::Equals(const TCRConnectionParameters* o) const {
    return o && MinPoolSize == o->MinPoolSize && MaxPoolSize == o->MaxPoolSize &&
           ConnectionLifetime == o->ConnectionLifetime && rtl::AnsiCompareText(Username, o->Username) == 0 &&
           rtl::AnsiCompareText(Server, o->Server) == 0 && Password == o->Password &&
           Validate == o->Validate && IOHandler == o->IOHandler &&
           httpOptions_->Equals(o->httpOptions_.get());
}

bool TCRConnectionParameters::SetProp(int prop, const rtl::Variant&) {
    rtl::Assert(false, rtl::Format("Invalid property: %d", {prop}));
    return false;
}

AnsiString TCRConnectionParameters::GetCredentialsText() const {
    return rtl::Format("Username=%s\rServer=%s\r", {Username, Server});
}

AnsiString TCRConnectionParameters::GetPoolText() const {
    return rtl::Format("MinPoolSize=%d\rMaxPoolSize=%d\rConnectionLifeTime=%d\rValidate=",
                       {MinPoolSize, MaxPoolSize, ConnectionLifetime}) +
           (Validate ? "True" : "False") + "\r";
}

AnsiString TCRConnectionParameters::AsString() const {
    return GetCredentialsText() + GetPoolText();
}

// ---------------------------------------------------------------------------------------------
// Pool

TCRConnectionPool::TCRConnectionPool(TCRConnectionPoolManager* manager,
                                     const TCRConnectionParameters* parameters)
    : manager_(manager) {
    if (parameters) {
        parameters_ = parameters->Create();
        parameters_->Assign(const_cast<TCRConnectionParameters*>(parameters));
        // The pool outlives the session whose error handler the request carried.
        parameters_->OnError = nullptr;
    } else {
        parameters_ = std::make_unique<TCRConnectionParameters>();
    }
    Trace("Connection pool created", true, false);
}

TCRConnectionPool::~TCRConnectionPool() {
    Trace("Connection pool destroyed", false, false);
}

void TCRConnectionPool::Trace(const AnsiString& text, bool withParameters, bool withCount) {
    if (!manager_) return;
    try {
        manager_->TracePool(this, text, withParameters, withCount);
    } catch (...) {
        // Tracing never breaks pooling.
    }
}

void TCRConnectionPool::PutConnection(TCRConnection*) {
    rtl::AbstractError();
}

TCRConnection* TCRConnectionPool::GetConnection(const TCRConnectionParameters*) {
    rtl::AbstractError();
}

void TCRConnectionPool::ReturnConnection(TCRConnection* connection) {
    TCRConnection* back = manager_ ? manager_->PrepareReturn(connection) : connection;
    PutConnection(back);
}

// ---------------------------------------------------------------------------------------------
// Local pool

TCRLocalConnectionPool::TCRLocalConnectionPool(TCRConnectionPoolManager* manager,
                                               const TCRConnectionParameters* parameters)
    : TCRConnectionPool(manager, parameters) {
    const auto size = static_cast<size_t>(std::max(1, parameters_->MaxPoolSize));
    idle_.assign(size, nullptr);
    idleVersions_.assign(size, 0);
}

TCRLocalConnectionPool::~TCRLocalConnectionPool() {
    Clear();
}

bool TCRLocalConnectionPool::PopIdle(TCRConnection*& connection, int32_t& version) {
    rtl::TCriticalSectionLock g(idleLock_);
    if (count_ == 0) return false;
    connection = idle_[static_cast<size_t>(head_)];
    version = idleVersions_[static_cast<size_t>(head_)];
    idle_[static_cast<size_t>(head_)] = nullptr;
    head_ = (head_ + 1) % static_cast<int>(idle_.size());
    --count_;
    return true;
}

void TCRLocalConnectionPool::PushIdle(TCRConnection* connection, int32_t version) {
    rtl::TCriticalSectionLock g(idleLock_);
    rtl::Assert(count_ < static_cast<int>(idle_.size()), "Connection pool is full");
    idle_[static_cast<size_t>(tail_)] = connection;
    idleVersions_[static_cast<size_t>(tail_)] = version;
    tail_ = (tail_ + 1) % static_cast<int>(idle_.size());
    ++count_;
}

int TCRLocalConnectionPool::IdleCount() {
    rtl::TCriticalSectionLock g(idleLock_);
    return count_;
}

void FreePooledConnection(TCRConnection* connection) {
    try {
        connection->Disconnect();
    } catch (...) {
    }
    try {
        delete connection;
    } catch (...) {
    }
}

void TCRLocalConnectionPool::DestroyConnection(TCRConnection* connection) {
    FreePooledConnection(connection);
}

void TCRLocalConnectionPool::GiveBackPlace() {
    rtl::TCriticalSectionLock g(takenLock_);
    --takenConnectionsCount_;
    available_.SetEvent();
}

bool TCRLocalConnectionPool::LifetimeExceeded(TCRConnection* connection) const {
    if (parameters_->ConnectionLifetime == 0) return false;
    // Tick counts wrap after 49 days; unsigned subtraction gives the age across the wrap.
    const uint32_t age = rtl::GetTickCount() - connection->ConnectionTime;
    return age > static_cast<uint32_t>(parameters_->ConnectionLifetime);
}

int TCRLocalConnectionPool::GetTotalConnectionsCount() {
    rtl::TCriticalSectionLock t(takenLock_);
    rtl::TCriticalSectionLock g(idleLock_);
    return takenConnectionsCount_.load() + count_;
}

TCRConnection* TCRLocalConnectionPool::GetConnection(const TCRConnectionParameters*) {
    const uint32_t start = rtl::GetTickCount();
    {
        rtl::TCriticalSectionLock get(getLock_);
        // The time spent waiting for the lock counts; past the limit the wait is 0, never a
        // negative value turned into an endless one.
        const uint32_t spent = rtl::GetTickCount() - start;
        const uint32_t limit = GetTimeout.load();
        const uint32_t wait = spent >= limit ? 0 : limit - spent;
        if (available_.WaitFor(wait) != rtl::wrSignaled) throw rtl::Exception(SMaxConnectionsReached);
        rtl::TCriticalSectionLock taken(takenLock_);
        if (takenConnectionsCount_.load() >= parameters_->MaxPoolSize)
            throw rtl::Exception(SMaxConnectionsReached);
        if (++takenConnectionsCount_ >= parameters_->MaxPoolSize) available_.ResetEvent();
    }
    TCRConnection* connection = nullptr;
    TCRConnection* candidate = nullptr;
    int32_t version = 0;
    while (!connection && PopIdle(candidate, version)) {
        if (candidate->PoolVersion < clearVersion_.load()) {
            DestroyConnection(candidate);
            continue;
        }
        if (parameters_->Validate || candidate->PoolVersion < invalidateVersion_.load()) {
            if (!candidate->CheckIsValid()) {
                DestroyConnection(candidate);
                continue;
            }
            candidate->PoolVersion = invalidateVersion_.load();
        }
        connection = candidate;
    }
    if (!connection) {
        try {
            connection = CreateNewConnection();
        } catch (...) {
            GiveBackPlace();
            throw;
        }
        Trace("Connection created in pool", false, true);
    }
    connection->Pool = this;
    connection->PoolVersion = invalidateVersion_.load();
    Trace("Connection taken from pool", false, true);
    return connection;
}

void TCRLocalConnectionPool::PutConnection(TCRConnection* connection) {
    rtl::Assert(connection->Pool == this, "Connection does not belong to this pool");
    const bool keep = !LifetimeExceeded(connection) && connection->IsValid &&
                      connection->PoolVersion >= clearVersion_.load() &&
                      (connection->PoolVersion >= invalidateVersion_.load() || connection->CheckIsValid());
    if (keep) {
        int32_t version;
        {
            rtl::TCriticalSectionLock v(versionLock_);
            version = ++version_;
        }
        connection->Pool = nullptr;
        PushIdle(connection, version);
        GiveBackPlace();
        Trace("Connection returned to pool", false, true);
    } else {
        connection->Pool = nullptr;
        DestroyConnection(connection);
        GiveBackPlace();
        Trace("Connection destroyed in pool", false, true);
    }
}

void TCRLocalConnectionPool::Validate() {
    int32_t prev, oldest, current;
    {
        rtl::TCriticalSectionLock v(versionLock_);
        current = version_;
    }
    prev = history_[7];
    oldest = history_[0];
    std::copy(history_ + 1, history_ + 8, history_);
    history_[7] = current;

    const int n = (surplus_ + 6) / 8;
    const int idleAtStart = IdleCount();
    surplus_ = idleAtStart - parameters_->MinPoolSize - n;

    int destroyed = 0;
    for (int i = 0; i < idleAtStart; ++i) {
        TCRConnection* c = nullptr;
        int32_t version = 0;
        {
            rtl::TCriticalSectionLock t(takenLock_);
            if (!PopIdle(c, version)) break;
            ++takenConnectionsCount_;
        }
        const bool keep =
            oldest < version && !LifetimeExceeded(c) && c->PoolVersion >= clearVersion_.load() &&
            ((version > prev && c->PoolVersion >= invalidateVersion_.load()) || c->CheckIsValid());
        if (keep) {
            PushIdle(c, version);
        } else {
            DestroyConnection(c);
            ++destroyed;
        }
        GiveBackPlace();
    }
    while (destroyed < n) {
        TCRConnection* c = nullptr;
        int32_t version = 0;
        if (!PopIdle(c, version)) break;
        DestroyConnection(c);
        ++destroyed;
        available_.SetEvent();
    }
}

void TCRLocalConnectionPool::Clear() {
    TCRConnection* c = nullptr;
    int32_t version = 0;
    while (PopIdle(c, version)) {
        DestroyConnection(c);
        available_.SetEvent();
    }
}

void TCRLocalConnectionPool::AsyncClear() {
    ++invalidateVersion_;
    ++clearVersion_;
}

void TCRLocalConnectionPool::Invalidate() {
    ++invalidateVersion_;
}

// ---------------------------------------------------------------------------------------------
// Validation thread

class TValidateThread : public rtl::TThread {
public:
    explicit TValidateThread(TCRConnectionPoolManager* manager) : manager_(manager) {}
    ~TValidateThread() override {
        Stop();
        WaitFor();
    }
    void Stop() {
        Terminate();
        stop_.SetEvent();
    }

protected:
    void Execute() override {
        uint32_t lastPass = 0;
        while (!Terminated()) {
            const uint32_t interval = manager_->ValidateInterval.load();
            const uint32_t wait = lastPass >= interval ? 0 : interval - lastPass;
            if (stop_.WaitFor(wait) == rtl::wrSignaled) break;
            const uint32_t start = rtl::GetTickCount();
            manager_->ValidatePass();
            lastPass = rtl::GetTickCount() - start;
        }
    }

private:
    TCRConnectionPoolManager* manager_;
    rtl::TEvent stop_{true, false};
};

// ---------------------------------------------------------------------------------------------
// Manager

TCRConnectionPoolManager::TCRConnectionPoolManager() = default;

TCRConnectionPoolManager::~TCRConnectionPoolManager() {
    StopValidation();
    rtl::TCriticalSectionLock l(listLock_);
    pools_.clear();
}

void TCRConnectionPoolManager::StartValidation() {
    validateThread_ = std::make_unique<TValidateThread>(this);
    validateThread_->Start();
}

void TCRConnectionPoolManager::StopValidation() {
    if (!validateThread_) return;
    validateThread_->Stop();
    if (validateThread_->WaitFor(5000) == rtl::wrSignaled) validateThread_.reset();
    // A pass still running after 5 s is waited for by the thread's own destructor.
    validateThread_.reset();
}

void TCRConnectionPoolManager::TracePool(TCRConnectionPool*, const AnsiString&, bool, bool) {}

TCRConnectionPool* TCRConnectionPoolManager::GetConnectionPool(const TCRConnectionParameters* parameters) {
    rtl::TCriticalSectionLock l(listLock_);
    for (auto& p : pools_)
        if (p->Parameters().Equals(parameters)) return p.get();
    pools_.emplace_back(CreateConnectionPool(parameters));
    return pools_.back().get();
}

TCRConnection* TCRConnectionPoolManager::GetConnection(const TCRConnectionParameters* parameters) {
    TCRConnectionPool* pool;
    {
        // Only the lookup runs under the manager's lock: a get that waits for a full pool does
        // not hold up the gets of other pools. The pending count keeps the pool alive.
        rtl::TCriticalSectionLock g(getLock_);
        pool = GetConnectionPool(parameters);
        ++pool->PendingGets;
    }
    struct Pending {
        TCRConnectionPool* p;
        ~Pending() { --p->PendingGets; }
    } pending{pool};
    return pool->GetConnection(parameters);
}

void TCRConnectionPoolManager::ValidatePass() {
    rtl::TCriticalSectionLock l(listLock_);
    for (size_t i = pools_.size(); i-- > 0;) {
        if (validateThread_ && validateThread_->Terminated()) break;
        pools_[i]->Validate();
        std::unique_ptr<TCRConnectionPool> removed;
        {
            rtl::TCriticalSectionLock g(getLock_);
            if (pools_[i]->GetTotalConnectionsCount() == 0 && pools_[i]->PendingGets.load() == 0) {
                removed = std::move(pools_[i]);
                pools_.erase(pools_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

void TCRConnectionPoolManager::Clear() {
    rtl::TCriticalSectionLock l(listLock_);
    pools_.clear();
}

int TCRConnectionPoolManager::PoolCount() {
    rtl::TCriticalSectionLock l(listLock_);
    return static_cast<int>(pools_.size());
}

TCRConnectionPool* TCRConnectionPoolManager::Pools(int index) {
    rtl::TCriticalSectionLock l(listLock_);
    return pools_.at(static_cast<size_t>(index)).get();
}

}  // namespace dac
