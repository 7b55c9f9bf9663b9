// The session component on the stand-in server: connect and disconnect sequences, settings that
// keep or drop the connection, the error hook, schema, connect strings, homes and options.
#include <gtest/gtest.h>

#include "SessionFixture.h"

using namespace dac;

namespace {

// Records the connect and disconnect events of a session in order.
struct EventLog {
    std::vector<std::string> events;
    void Attach(TOraSession& s) {
        s.BeforeConnect = [this](rtl::TObject*) { events.push_back("BeforeConnect"); };
        s.AfterConnect = [this](rtl::TObject*) { events.push_back("AfterConnect"); };
        s.BeforeDisconnect = [this](rtl::TObject*) { events.push_back("BeforeDisconnect"); };
        s.AfterDisconnect = [this](rtl::TObject*) { events.push_back("AfterDisconnect"); };
        s.OnConnectChange = [this](rtl::TObject*, bool c) {
            events.push_back(c ? "Change:on" : "Change:off");
        };
    }
};

}  // namespace

TEST_F(SessionTest, ConnectAndDisconnectFireTheirEventsInOrderOnce) {
    EventLog log;
    auto s = newSession();
    log.Attach(*s);
    std::vector<std::string> clientNotes;
    rtl::TObject client;
    s->RegisterClient(&client, [&](bool c) { clientNotes.push_back(c ? "client:on" : "client:off"); });
    s->Connect();
    EXPECT_TRUE(s->GetConnected());
    EXPECT_EQ(1, s->ConnectCount());
    s->Connect();  // already connected: no event, the count stays
    EXPECT_EQ(1, s->ConnectCount());
    s->Disconnect();
    s->Disconnect();
    EXPECT_FALSE(s->GetConnected());
    EXPECT_EQ((std::vector<std::string>{"BeforeConnect", "Change:on", "AfterConnect", "BeforeDisconnect",
                                        "AfterDisconnect", "Change:off"}),
              std::vector<std::string>(
                  {log.events[0], log.events[1], log.events[2], log.events[3], log.events[5], log.events[4]}))
        << "order as fired: BeforeConnect, (DoConnect: Change:on), AfterConnect, BeforeDisconnect, "
           "(DoDisconnect: Change:off), AfterDisconnect";
    EXPECT_EQ(6u, log.events.size());
    EXPECT_EQ((std::vector<std::string>{"client:on", "client:off"}), clientNotes);
    s->UnRegisterClient(&client);
}

TEST_F(SessionTest, AFailedLogonPropagatesFiresNoAfterEventsAndKeepsTheDriverConnection) {
    EventLog log;
    auto s = newSession("qel", "wrong");
    log.Attach(*s);
    EXPECT_NE("(nothing raised)", ErrorText([&] { s->Connect(); }));
    EXPECT_FALSE(s->GetConnected());
    EXPECT_EQ(0, s->ConnectCount());
    EXPECT_EQ((std::vector<std::string>{"BeforeConnect"}), log.events);
    TCRConnection* kept = s->GetIConnection();
    ASSERT_NE(nullptr, kept);
    s->SetPassword("secret");
    s->Connect();
    EXPECT_EQ(kept, s->GetIConnection());
}

TEST_F(SessionTest, LogonSettingsDisconnectOnlyWhenTheirValueChanges) {
    struct Case {
        const char* name;
        std::function<void(TOraSession&)> same;
        std::function<void(TOraSession&)> other;
    };
    const std::string db = db_;
    const Case cases[] = {
        {"Username", [](TOraSession& s) { s.SetUsername("qel"); },
         [](TOraSession& s) { s.SetUsername("ZUV"); }},
        {"Password", [](TOraSession& s) { s.SetPassword("secret"); },
         [](TOraSession& s) { s.SetPassword("x"); }},
        {"Server", [db](TOraSession& s) { s.SetServer(db); }, [](TOraSession& s) { s.SetServer("OTHER"); }},
        {"ConnectString", [](TOraSession& s) { s.SetConnectString(s.GetConnectString()); },
         [](TOraSession& s) { s.SetConnectString("zuv/zuv@X"); }},
    };
    for (const auto& c : cases) {
        auto s = newSession();
        s->Connect();
        c.same(*s);
        EXPECT_TRUE(s->GetConnected()) << c.name;
        c.other(*s);
        EXPECT_FALSE(s->GetConnected()) << c.name;
    }
}

TEST_F(SessionTest, ConnectStringIsBuiltFromTheSettingsAndParsedBack) {
    struct Case {
        const char* user;
        const char* password;
        const char* server;
        TConnectMode mode;
        const char* expected;
    };
    const Case cases[] = {
        {"", "", "", cmSysDBA, "/ AS SYSDBA"},
        {"scott", "tiger", "ORCL", cmNormal, "scott/tiger@ORCL"},
        {"scott", "", "ORCL", cmSysOper, "scott@ORCL AS SYSOPER"},
        {"scott", "tiger", "", cmSysASM, "scott/tiger AS SYSASM"},
        {"a b", "p@ss", "my db", cmNormal, "\"A B\"/\"P@SS\"@\"my db\""},
        {"", "", "", cmNormal, ""},
    };
    for (const auto& c : cases) {
        TOraSession s;
        s.SetUsername(c.user);
        s.SetPassword(c.password);
        s.SetServer(c.server);
        s.SetConnectMode(c.mode);
        EXPECT_EQ(c.expected, s.GetConnectString()) << c.user << "/" << c.password << "@" << c.server;
    }
    TOraSession s;
    s.SetConnectString("scott/tiger@ORCL AS SYSDBA");
    EXPECT_EQ("scott", s.Username());
    EXPECT_EQ("tiger", s.Password());
    EXPECT_EQ("ORCL", s.GetServer());
    EXPECT_EQ(cmSysDBA, s.ConnectMode());
}

TEST_F(SessionTest, AnErrorHandlerThatClearsFailTurnsTheErrorIntoASilentAbort) {
    auto s = newSession();
    int seen = 0;
    int code = 0;
    s->OnError = [&](rtl::TObject* sender, EDAError* e, bool& fail) {
        ++seen;
        code = e->ErrorCode;
        EXPECT_EQ(s.get(), sender);
        fail = false;
    };
    s->Connect();
    const int uses = s->ConnectCount();
    auto sql = newSQL(s.get(), "INSERT INTO missing_table VALUES (1)");
    bool abort = false;
    try {
        sql->Execute();
    } catch (const rtl::EAbort&) {
        abort = true;
    }
    EXPECT_TRUE(abort);
    EXPECT_EQ(1, seen);
    EXPECT_EQ(942, code);
    // With Fail left set the Oracle error itself arrives.
    s->OnError = [&](rtl::TObject*, EDAError*, bool&) { ++seen; };
    try {
        sql->Execute();
        ADD_FAILURE() << "no error";
    } catch (const EOraError& e) {
        EXPECT_EQ(942, e.ErrorCode);
    }
    EXPECT_EQ(uses, s->ConnectCount()) << "a failed run gives its connection use back";
}

TEST_F(SessionTest, SchemaSetBeforeConnectIsAppliedAtLogonAndSwitchesAtOnceWhenConnected) {
    auto s = newSession();
    s->SetSchema("ZUV");
    EXPECT_EQ("ZUV", s->Schema());
    s->Connect();
    EXPECT_EQ("ZUV", s->Schema()) << "asked from the server";
    s->SetSchema("QEL");
    EXPECT_EQ("QEL", s->Schema());
    EXPECT_EQ(1435, [&] {
        try {
            s->SetSchema("NOBODY");
        } catch (const EOraError& e) {
            return e.ErrorCode;
        }
        return 0;
    }());
}

TEST_F(SessionTest, TheFirstSessionIsTheDefaultAndLaterOnesTakeItsHome) {
    ASSERT_EQ(0, SessionCount());
    auto first = newSession();
    EXPECT_EQ(first.get(), DefaultSession());
    auto second = newSession();
    EXPECT_EQ(2, SessionCount());
    EXPECT_EQ(first.get(), DefaultSession());
    EXPECT_EQ(first->HomeName(), second->HomeName());
    first.reset();
    EXPECT_EQ(second.get(), DefaultSession()) << "the remaining session takes over";
    second.reset();
    EXPECT_EQ(nullptr, DefaultSession());
}

TEST_F(SessionTest, HomeOutsideTheDetectedHomesChangesNothingAndAKnownHomeIsSelected) {
    dac::SetConfiguredOracleHomes({{std::string(DX_BINARY_DIR) + "/oracle-home", "KEY0", "StandIn"}});
    auto s = newSession();
    s->SetHome(ohDefault);
    EXPECT_EQ("", s->HomeName());
    s->SetHome(255);
    EXPECT_EQ("", s->HomeName());
    s->SetHome(ohHome0);
    EXPECT_EQ("StandIn", s->HomeName());
    EXPECT_EQ("StandIn", dac::OracleHomeName);
    s->Connect();
    EXPECT_EQ(1, s->Home());
}

TEST_F(SessionTest, ChangingTheHomeWhileAnotherSessionIsConnectedIsRefused) {
    dac::SetConfiguredOracleHomes({{std::string(DX_BINARY_DIR) + "/oracle-home", "KEY0", "StandIn"}});
    auto busy = newSession();
    busy->Connect();
    auto other = newSession();
    EXPECT_EQ("Cannot change the Oracle home while another session is connected",
              ErrorText([&] { other->SetHomeName("StandIn"); }));
    EXPECT_TRUE(busy->GetConnected()) << "the other thread's session keeps its connection";
    EXPECT_EQ("", dac::OracleHomeName);
    busy->Disconnect();
    other->SetHomeName("StandIn");
    EXPECT_EQ("StandIn", dac::OracleHomeName);
    other->Connect();
    EXPECT_TRUE(other->GetConnected());
}

TEST_F(SessionTest, OptionsKeepTheirDefaultsAndAssignmentCopiesAllButTheSortType) {
    TOraSession a;
    auto& o = a.Options();
    EXPECT_EQ(1, o.CharLength());
    EXPECT_TRUE(o.EnableIntegers());
    EXPECT_TRUE(o.EnableOraTimestamp());
    EXPECT_EQ(20, o.StatementCacheSize());
    EXPECT_EQ(stBinary, o.DefaultSortType());
    EXPECT_TRUE(o.KeepDesignConnected());
    EXPECT_EQ(100, a.PoolingOptions().MaxPoolSize);
    o.SetNeverConnect(true);
    EXPECT_TRUE(o.NeverConnect());
    EXPECT_FALSE(o.KeepDesignConnected());
    o.SetStatementCacheSize(7);
    o.SetDefaultSortType(stCaseInsensitive);
    o.SetClientIdentifier("svc");
    TOraSession b;
    b.Options().Assign(&o);
    EXPECT_EQ(7, b.Options().StatementCacheSize());
    EXPECT_EQ("svc", b.Options().ClientIdentifier());
    EXPECT_FALSE(b.Options().KeepDesignConnected());
    EXPECT_EQ(stBinary, b.Options().DefaultSortType());
    TPoolingOptions foreign(nullptr);
    EXPECT_NE("(nothing raised)", ErrorText([&] { b.Options().Assign(&foreign); }));
}

TEST_F(SessionTest, SettingsGivenBeforeConnectReachTheServerSession) {
    auto s = newSession();
    s->Options().SetOptimizerMode(omFirstRows10);
    s->Options().SetDateFormat("YYYY-MM-DD");
    s->Connect();
    auto log = dbTexts("SELECT text FROM oci_session_log ORDER BY id");
    ASSERT_FALSE(log.empty());
    std::string all;
    for (auto& l : log) all += l + "\n";
    EXPECT_NE(std::string::npos, all.find("FIRST_ROWS_10")) << all;
    EXPECT_NE(std::string::npos, all.find("YYYY-MM-DD")) << all;
    EXPECT_EQ("YYYY-MM-DD", s->Options().DateFormat());
}

TEST_F(SessionTest, ConnectedSetWhileLoadingWaitsForLoadedOrIsDroppedWithNeverConnect) {
    for (bool never : {false, true}) {
        auto s = newSession();
        s->Options().SetNeverConnect(never);
        s->Loading();
        s->SetConnected(true);
        EXPECT_FALSE(s->GetConnected());
        s->Loaded();
        EXPECT_EQ(!never, s->GetConnected()) << "NeverConnect " << never;
    }
}

TEST_F(SessionTest, TypeOptionsMarkTheFieldDefinitionsOfTheSessionsDatasetsOutdated) {
    auto s = newSession();
    dac::TMemDataSet dataSet;
    s->RegisterClient(&dataSet);
    struct Case {
        const char* name;
        std::function<void(bool)> set;
        bool initial;
    };
    auto& o = s->Options();
    const Case cases[] = {
        {"EnableNumbers", [&](bool v) { o.SetEnableNumbers(v); }, false},
        {"EnableLargeint", [&](bool v) { o.SetEnableLargeint(v); }, false},
        {"EnableIntegers", [&](bool v) { o.SetEnableIntegers(v); }, true},
        {"EnableOraTimestamp", [&](bool v) { o.SetEnableOraTimestamp(v); }, true},
    };
    for (const auto& c : cases) {
        dataSet.FieldDefs().SetUpdated(true);
        c.set(c.initial);
        EXPECT_TRUE(dataSet.FieldDefs().Updated()) << c.name << ": the same value changes nothing";
        c.set(!c.initial);
        EXPECT_FALSE(dataSet.FieldDefs().Updated()) << c.name;
    }
    s->UnRegisterClient(&dataSet);
}

TEST_F(SessionTest, ClientsAreToldOfADisconnectOnceMoreAfterALostConnectionAndOtherErrorsComeAfterIt) {
    struct Case {
        int32_t code;
        int expectedNotes;
        bool raises;
    };
    const Case cases[] = {{3113, 2, false}, {942, 1, true}};
    for (const auto& c : cases) {
        auto s = newSession();
        s->Connect();
        int notes = 0;
        rtl::TObject client;
        s->RegisterClient(&client, [&](bool connecting) {
            if (connecting) return;
            if (++notes == 1) throw EOraError(c.code, "ORA-" + std::to_string(c.code));
        });
        const std::string error = ErrorText([&] { s->Disconnect(); });
        EXPECT_EQ(c.raises, error != "(nothing raised)") << c.code << ": " << error;
        EXPECT_FALSE(s->GetConnected()) << c.code << ": the disconnect completes";
        EXPECT_EQ(c.expectedNotes, notes) << c.code;
        s->UnRegisterClient(&client);
    }
}

TEST_F(SessionTest, DisconnectAllSessionsClosesEverySession) {
    auto a = newSession();
    auto b = newSession("ZUV", "zuv");
    a->Connect();
    b->Connect();
    DisconnectAllSessions();
    EXPECT_FALSE(a->GetConnected());
    EXPECT_FALSE(b->GetConnected());
}
