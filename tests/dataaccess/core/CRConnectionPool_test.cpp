// The local connection pool and the pool manager over fake driver connections.
#include "dataaccess/core/CRConnectionPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/dataaccess/core/FakeDriver.h"

using namespace dac;

namespace {

std::atomic<int> liveConnections{0};

class PooledFake : public fake::FakeConnection {
public:
    PooledFake() { ++liveConnections; }
    ~PooledFake() override { --liveConnections; }
    bool CheckIsValid() override {
        ++Checks;
        return IsValid = Valid;
    }
    bool Valid = true;
    int Checks = 0;
};

class FakePool : public TCRLocalConnectionPool {
public:
    using TCRLocalConnectionPool::TCRLocalConnectionPool;
    int Created = 0;
    int FailCreates = 0;

protected:
    TCRConnection* CreateNewConnection() override {
        if (FailCreates > 0) {
            --FailCreates;
            throw rtl::Exception("cannot connect");
        }
        auto* c = new PooledFake();
        c->Connect("");
        ++Created;
        return c;
    }
};

class FakeManager : public TCRConnectionPoolManager {
public:
    FakeManager() { ValidateInterval = 3600000; }
    TCRConnectionPool* CreateConnectionPool(const TCRConnectionParameters* p) override {
        return new FakePool(this, p);
    }
    void TracePool(TCRConnectionPool*, const AnsiString& text, bool, bool) override {
        std::lock_guard<std::mutex> g(tracesLock);
        Traces.push_back(text);
    }
    std::mutex tracesLock;
    std::vector<AnsiString> Traces;
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

void Fill(TCRConnectionParameters& p, int maxSize = 100) {
    p.Username = "qel";
    p.Password = "secret";
    p.Server = "ORCL";
    p.MaxPoolSize = maxSize;
    p.HttpOptions().Url.clear();
}

}  // namespace

TEST(ConnectionParameters, EqualityAndTexts) {
    TCRConnectionParameters a, b;
    Fill(a);
    Fill(b);
    EXPECT_TRUE(a.Equals(&b));
    b.Username = "QEL";
    b.Server = "orcl";
    EXPECT_TRUE(a.Equals(&b)) << "user and server compare without case";
    b.Password = "SECRET";
    EXPECT_FALSE(a.Equals(&b)) << "passwords compare exactly";
    Fill(b);
    b.HttpOptions().Url = "http://x";
    EXPECT_FALSE(a.Equals(&b));
    EXPECT_EQ(a.AsString(),
              "Username=qel\rServer=ORCL\rMinPoolSize=0\rMaxPoolSize=100\rConnectionLifeTime=0\r"
              "Validate=False\r");
    EXPECT_EQ(a.AsString().find("secret"), std::string::npos);
    auto copy = a.Create();
    copy->Assign(&a);
    EXPECT_TRUE(copy->Equals(&a));
    EXPECT_THROW(a.SetProp(1, rtl::Variant(1)), rtl::EAssertionFailed);
}

TEST(LocalPool, ReturnedConnectionIsReusedAndCounted) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p);
    TCRConnection* c1 = m.GetConnection(&p);
    auto* pool = static_cast<FakePool*>(c1->Pool);
    EXPECT_EQ(pool->GetTotalConnectionsCount(), 1);
    c1->ReturnToPool();
    EXPECT_EQ(pool->IdleCount(), 1);
    EXPECT_EQ(pool->TakenConnectionsCount(), 0);
    TCRConnection* c2 = m.GetConnection(&p);
    EXPECT_EQ(c2, c1);
    EXPECT_EQ(pool->Created, 1);
    c2->ReturnToPool();
    EXPECT_EQ(m.PoolCount(), 1);
    EXPECT_EQ(m.Traces.front(), "Connection pool created");
    EXPECT_NE(std::find(m.Traces.begin(), m.Traces.end(), "Connection returned to pool"), m.Traces.end());
}

TEST(LocalPool, DistinctParametersGetDistinctPools) {
    FakeManager m;
    TCRConnectionParameters a, b;
    Fill(a);
    Fill(b);
    b.Username = "other";
    TCRConnection* ca = m.GetConnection(&a);
    TCRConnection* cb = m.GetConnection(&b);
    EXPECT_NE(ca->Pool, cb->Pool);
    EXPECT_EQ(m.PoolCount(), 2);
    ca->ReturnToPool();
    cb->ReturnToPool();
}

TEST(LocalPool, FullPoolWaitsForAReturnElseFails) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p, 2);
    TCRConnection* c1 = m.GetConnection(&p);
    TCRConnection* c2 = m.GetConnection(&p);
    auto* pool = static_cast<FakePool*>(c1->Pool);
    pool->GetTimeout = 150;
    EXPECT_EQ(ErrorOf([&] { m.GetConnection(&p); }), "Maximum connections reached in pool");

    pool->GetTimeout = 5000;
    std::thread giver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        c2->ReturnToPool();
    });
    TCRConnection* c3 = m.GetConnection(&p);
    giver.join();
    EXPECT_EQ(c3, c2);
    c1->ReturnToPool();
    c3->ReturnToPool();
}

TEST(LocalPool, AGetQueuedBehindALongWaitFailsAtOnceInsteadOfWaitingForever) {
    // The second getter waits for the get lock longer than the (shortened) time-out: its
    // remaining wait is clamped at 0, not turned into an endless unsigned one.
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p, 1);
    TCRConnection* c = m.GetConnection(&p);
    auto* pool = static_cast<FakePool*>(c->Pool);
    pool->GetTimeout = 400;
    std::string first, second;
    std::thread a([&] { first = ErrorOf([&] { m.GetConnection(&p); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread b([&] { second = ErrorOf([&] { m.GetConnection(&p); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pool->GetTimeout = 100;
    a.join();
    b.join();  // hangs without the clamp
    EXPECT_EQ(first, "Maximum connections reached in pool");
    EXPECT_EQ(second, "Maximum connections reached in pool");
    c->ReturnToPool();
}

TEST(LocalPool, FailingConnectsDoNotUseUpPlaces) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p, 2);
    TCRConnection* warm = m.GetConnection(&p);
    auto* pool = static_cast<FakePool*>(warm->Pool);
    warm->ReturnToPool();
    pool->Clear();
    pool->GetTimeout = 100;
    pool->FailCreates = 2;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(ErrorOf([&] { m.GetConnection(&p); }), "cannot connect");
    EXPECT_EQ(pool->TakenConnectionsCount(), 0);
    TCRConnection* a = m.GetConnection(&p);
    TCRConnection* b = m.GetConnection(&p);
    a->ReturnToPool();
    b->ReturnToPool();
}

TEST(LocalPool, WhatIsNotKeptOnReturn) {
    struct Case {
        const char* what;
        std::function<void(FakePool&, TCRConnection&)> spoil;
    };
    const std::vector<Case> cases = {
        {"lifetime exceeded",
         [](FakePool&, TCRConnection& c) { c.ConnectionTime = rtl::GetTickCount() - 2000; }},
        {"marked invalid", [](FakePool&, TCRConnection& c) { c.IsValid = false; }},
        {"cleared asynchronously", [](FakePool& pool, TCRConnection&) { pool.AsyncClear(); }},
        {"invalidated and failing its check",
         [](FakePool& pool, TCRConnection& c) {
             pool.Invalidate();
             static_cast<PooledFake&>(c).Valid = false;
         }},
    };
    for (const auto& k : cases) {
        FakeManager m;
        TCRConnectionParameters p;
        Fill(p);
        p.ConnectionLifetime = 1000;
        TCRConnection* c = m.GetConnection(&p);
        auto* pool = static_cast<FakePool*>(c->Pool);
        const int live = liveConnections.load();
        k.spoil(*pool, *c);
        c->ReturnToPool();
        EXPECT_EQ(pool->IdleCount(), 0) << k.what;
        EXPECT_EQ(liveConnections.load(), live - 1) << k.what;
        EXPECT_EQ(pool->GetTotalConnectionsCount(), 0) << k.what;
    }
    // Invalidated but still answering: kept.
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p);
    TCRConnection* c = m.GetConnection(&p);
    auto* pool = static_cast<FakePool*>(c->Pool);
    pool->Invalidate();
    c->ReturnToPool();
    EXPECT_EQ(pool->IdleCount(), 1);
}

TEST(LocalPool, IdleConnectionFailingItsCheckIsReplacedOnGet) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p);
    p.Validate = true;
    TCRConnection* c = m.GetConnection(&p);
    auto* pool = static_cast<FakePool*>(c->Pool);
    c->ReturnToPool();
    static_cast<PooledFake*>(c)->Valid = false;
    TCRConnection* d = m.GetConnection(&p);
    EXPECT_EQ(pool->Created, 2);
    EXPECT_EQ(pool->TakenConnectionsCount(), 1);
    d->ReturnToPool();
}

TEST(PoolManager, IdlePoolShrinksOverValidationsAndIsRemoved) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p);
    std::vector<TCRConnection*> taken;
    for (int i = 0; i < 3; ++i) taken.push_back(m.GetConnection(&p));
    auto* pool = static_cast<FakePool*>(taken[0]->Pool);
    for (auto* c : taken) c->ReturnToPool();
    EXPECT_EQ(pool->IdleCount(), 3);
    int passes = 0;
    while (m.PoolCount() > 0 && passes < 20) {
        m.ValidatePass();
        ++passes;
    }
    EXPECT_EQ(m.PoolCount(), 0);
    // Recently returned connections survive a few passes; all are gone by the ninth.
    EXPECT_GT(passes, 1);
    EXPECT_LE(passes, 10);
    EXPECT_EQ(m.Traces.back(), "Connection pool destroyed");
}

TEST(PoolManager, PoolWithATakenConnectionIsKept) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p);
    TCRConnection* c = m.GetConnection(&p);
    for (int i = 0; i < 10; ++i) m.ValidatePass();
    EXPECT_EQ(m.PoolCount(), 1);
    c->ReturnToPool();
}

TEST(PoolManager, ValidationThreadRunsPasses) {
    struct Running : FakeManager {
        Running() {
            ValidateInterval = 10;
            StartValidation();
        }
        ~Running() override { StopValidation(); }
    } m;
    TCRConnectionParameters p;
    Fill(p);
    m.GetConnection(&p)->ReturnToPool();
    for (int i = 0; i < 400 && m.PoolCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(m.PoolCount(), 0);
}

TEST(PoolManager, ManyThreadsShareOnePoolWithoutExceedingItsSize) {
    FakeManager m;
    TCRConnectionParameters p;
    Fill(p, 4);
    std::atomic<int> inUse{0}, maxInUse{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                TCRConnection* c = nullptr;
                try {
                    c = m.GetConnection(&p);
                } catch (...) {
                    ++failures;
                    continue;
                }
                const int now = ++inUse;
                int seen = maxInUse.load();
                while (now > seen && !maxInUse.compare_exchange_weak(seen, now)) {
                }
                --inUse;
                c->ReturnToPool();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(maxInUse.load(), 4);
    auto* pool = static_cast<FakePool*>(m.Pools(0));
    EXPECT_EQ(pool->TakenConnectionsCount(), 0);
    EXPECT_LE(pool->Created, 4);
}
