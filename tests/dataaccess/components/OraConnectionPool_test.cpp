// Pooled Oracle sessions on the stand-in: the local pool and the client's session pool, keyed by
// the full connection parameters, under load from several threads and two users.
#include "dataaccess/components/OraConnectionPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "SessionFixture.h"

using namespace dac;

namespace {

class PoolTest : public SessionTest {
protected:
    void TearDown() override {
        // Idle pooled connections live in the client's environment, which the fixture frees.
        ClearAllPools();
        SessionTest::TearDown();
    }
    std::unique_ptr<TestSession> pooledSession(const char* user, const char* password, TOraPoolingType kind,
                                               int maxSize = 100) {
        auto s = newSession(user, password);
        s->SetPooling(true);
        s->PoolingOptions().SetPoolType(kind);
        s->PoolingOptions().MaxPoolSize = maxSize;
        return s;
    }
    // The user the server runs the session's statements as.
    std::string SessionUser(TestSession* s) {
        auto sql = newSQL(s, "begin select sys_context('USERENV', 'SESSION_USER') into :U from dual; end;");
        TOraParam* u = sql->ParamByName("U");
        u->SetDataType(db::ftString);
        u->SetParamType(db::ptOutput);
        sql->Execute();
        return u->AsString();
    }
};

std::unique_ptr<TOraConnectionParameters> Key(const char* user, const char* password, TOraPoolingType kind) {
    auto p = std::make_unique<TOraConnectionParameters>();
    p->Username = user;
    p->Password = password;
    p->Server = "ORCL";
    p->PoolType = kind;
    return p;
}

// Service contexts the client is asked to free while the spy is in place.
std::set<void*> freedServiceContexts;
decltype(dac::OCIHandleFree) realHandleFree = nullptr;
sword SpyHandleFree(void* handle, ub4 type) {
    if (type == OCI_HTYPE_SVCCTX) freedServiceContexts.insert(handle);
    return realHandleFree(handle, type);
}

}  // namespace

TEST(OraPoolParameters, EveryPoolKindKeysOnTheCredentials) {
    struct Case {
        const char* user;
        const char* password;
        TOraPoolingType kind;
        bool samePool;
    };
    const std::vector<Case> cases = {
        {"QEL", "secret", optLocal, true},   // user names compare without case
        {"qel", "SECRET", optLocal, false},  // passwords exactly
        {"zuv", "secret", optLocal, false},
        {"zuv", "zuv", optOCI, false},  // a session pool is never shared across users
        {"qel", "other", optOCI, false},
        {"Qel", "secret", optOCI, true},
    };
    for (const auto& c : cases) {
        auto a = Key("qel", "secret", c.kind), b = Key(c.user, c.password, c.kind);
        EXPECT_EQ(a->Equals(b.get()), c.samePool) << c.user << "/" << c.password << " kind " << c.kind;
    }
    auto a = Key("qel", "secret", optLocal), b = Key("qel", "secret", optOCI);
    EXPECT_FALSE(a->Equals(b.get()));
    b = Key("qel", "secret", optLocal);
    b->Schema = "OTHER";
    EXPECT_FALSE(a->Equals(b.get()));
    b->Schema = "";
    b->SetProp(prClientIdentifier, rtl::Variant(AnsiString("svc")));
    EXPECT_FALSE(a->Equals(b.get()));
    // The copy a pool keeps has every key value but no proxy client.
    b->ProxyUsername = "proxied";
    auto copy = b->Create();
    copy->Assign(b.get());
    EXPECT_TRUE(copy->Equals(b.get()));
    EXPECT_TRUE(static_cast<TOraConnectionParameters*>(copy.get())->ProxyUsername.empty());
}

TEST_F(PoolTest, APooledSessionGetsItsConnectionBackFromThePool) {
    auto s = pooledSession("qel", "secret", optLocal);
    s->Connect();
    TCRConnection* first = s->GetIConnection();
    ASSERT_NE(first, nullptr);
    auto* pool = dynamic_cast<TOraLocalConnectionPool*>(first->Pool);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(SessionUser(s.get()), "QEL");
    s->Disconnect();
    EXPECT_EQ(s->GetIConnection(), nullptr);
    EXPECT_EQ(pool->IdleCount(), 1);
    EXPECT_EQ(pool->TakenConnectionsCount(), 0);
    s->Connect();
    EXPECT_EQ(s->GetIConnection(), first);
    EXPECT_EQ(SessionUser(s.get()), "QEL");
    s.reset();  // destroying a connected session gives the connection back too
    EXPECT_EQ(pool->IdleCount(), 1);
}

TEST_F(PoolTest, AWrongPasswordFailsAndLeavesThePoolUsable) {
    auto bad = pooledSession("qel", "wrong", optLocal, 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(ErrorText([&] { bad->Connect(); }).find("ORA-01017"), std::string::npos);
    EXPECT_FALSE(bad->GetConnected());
    auto good = pooledSession("qel", "secret", optLocal, 1);
    good->Connect();
    EXPECT_EQ(SessionUser(good.get()), "QEL");
}

TEST_F(PoolTest, ASessionPoolLogsEachSessionOnAsItsRequester) {
    // Even a pool made for one user hands a requester of another user its own logon.
    auto made = Key("qel", "secret", optOCI);
    made->Server = db_;
    auto asked = Key("ZUV", "zuv", optOCI);
    asked->Server = db_;
    auto s = pooledSession("qel", "secret", optOCI);
    s->Connect();  // loads the client and makes the process's manager
    EXPECT_EQ(SessionUser(s.get()), "QEL");
    TOraOCIConnectionPool pool(TOraConnectionPoolManager::Instance(), made.get());
    TCRConnection* c = pool.GetConnection(asked.get());
    EXPECT_FALSE(pool.PoolName().empty());
    // A session setting changed on the pooled connection is logged by the server under the
    // user that session runs as.
    c->SetProp(prDateFormat, rtl::Variant(AnsiString("YYYY-MM-DD")));
    EXPECT_EQ(dbTexts("SELECT username FROM oci_session_log WHERE text LIKE '%YYYY-MM-DD%'"),
              std::vector<std::string>{"ZUV"});
    EXPECT_EQ(pool.TakenConnectionsCount(), 1);
    c->Pool->ReturnConnection(c);
    EXPECT_EQ(pool.TakenConnectionsCount(), 0);
}

TEST_F(PoolTest, TwoUsersUnderLoadEachRunAsThemselves) {
    for (TOraPoolingType kind : {optLocal, optOCI}) {
        std::atomic<int> wrong{0}, errors{0}, runs{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back([&, t] {
                const bool zuv = t % 2 == 1;
                auto s = pooledSession(zuv ? "ZUV" : "qel", zuv ? "zuv" : "secret", kind, 3);
                for (int i = 0; i < 15; ++i) {
                    try {
                        s->Connect();
                        if (SessionUser(s.get()) != (zuv ? "ZUV" : "QEL")) ++wrong;
                        s->Disconnect();
                        ++runs;
                    } catch (const rtl::Exception& e) {
                        ++errors;
                        ADD_FAILURE() << e.Message();
                    }
                }
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(runs.load(), 90) << kind;
        EXPECT_EQ(wrong.load(), 0) << kind;
        EXPECT_EQ(errors.load(), 0) << kind;
        auto* m = TOraConnectionPoolManager::Instance();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->PoolCount(), kind == optLocal ? 2 : 4) << "one pool per user and kind";
    }
}

TEST_F(PoolTest, PoolEventsReachTheMonitor) {
    std::vector<std::string> texts;
    TOraSQLMonitor m;
    m.SetOptions({moHandled});
    m.SetTraceFlags(TDATraceFlags{tfPool});
    m.OnSQL = [&](rtl::TObject*, const AnsiString& t, TDATraceFlag) { texts.push_back(t); };
    auto s = pooledSession("qel", "secret", optLocal);
    s->Connect();
    s->Disconnect();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[0].rfind("Connection pool created [", 0), 0u) << texts[0];
    EXPECT_EQ(texts[1].rfind("Connection created in pool. Pool has 1 connection(s) [", 0), 0u) << texts[1];
    EXPECT_EQ(texts[2].rfind("Connection taken from pool. Pool has 1 connection(s)", 0), 0u) << texts[2];
    EXPECT_EQ(texts[3].rfind("Connection returned to pool. Pool has 1 connection(s)", 0), 0u) << texts[3];
}

TEST_F(PoolTest, ADistributedTransactionPoolNeedsItsLibraryAndTakesNoPlaceWithoutIt) {
    auto s = pooledSession("qel", "secret", optMTS, 1);
    for (int i = 0; i < 2; ++i) EXPECT_NE(ErrorText([&] { s->Connect(); }).find("oramts"), std::string::npos);
    EXPECT_FALSE(s->GetConnected());
    auto* m = TOraConnectionPoolManager::Instance();
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->PoolCount(), 1);
    EXPECT_EQ(m->Pools(0)->TakenConnectionsCount(), 0);
}

// OCISessionRelease hands the service context back with the session; a connection that freed it
// afterwards would free it twice on a real client.
TEST_F(PoolTest, AReleasedSessionPoolSessionIsNotFreedAgain) {
    auto s = pooledSession("qel", "secret", optOCI);
    s->Connect();
    OCISvcCtx* svc = s->OCIConnection()->GetSvcCtx();
    ASSERT_NE(nullptr, svc);
    freedServiceContexts.clear();
    realHandleFree = dac::OCIHandleFree;
    dac::OCIHandleFree = SpyHandleFree;
    s->Disconnect();
    ClearAllPools();
    dac::OCIHandleFree = realHandleFree;
    EXPECT_EQ(0u, freedServiceContexts.count(svc));
    // the session went back for real: the pool can hand out another one
    auto again = pooledSession("qel", "secret", optOCI);
    again->Connect();
    EXPECT_EQ("QEL", SessionUser(again.get()));
}
