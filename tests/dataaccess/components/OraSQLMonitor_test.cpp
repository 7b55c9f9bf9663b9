// The SQL monitor component: what the components report, the trace texts of each outlet, and
// the socket outlet's events as a monitor program receives them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SessionFixture.h"
#include "dataaccess/components/DASQLMonitor.h"
#include "platform/rtl/Strings.h"
#include "tests/dataaccess/components/MonitorListener.h"

using namespace dac;

namespace {

struct Traced {
    std::string text;
    TDATraceFlag flag;
};

class MonitorTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        SQLDialogHook = nullptr;
        ExternalMonitorFactory = nullptr;
    }
    void TearDown() override {
        SQLDialogHook = nullptr;
        ExternalMonitorFactory = nullptr;
        SetSocketMonitorForTests(nullptr);
        SessionTest::TearDown();
    }
    // A monitor whose only outlet is OnSQL.
    std::unique_ptr<TOraSQLMonitor> newMonitor(TMonitorOptions options = {}) {
        auto m = std::make_unique<TOraSQLMonitor>();
        m->SetActive(false);
        m->SetOptions(options);
        m->OnSQL = [this](rtl::TObject*, const AnsiString& text, TDATraceFlag flag) {
            traced.push_back({text, flag});
        };
        m->SetActive(true);
        return m;
    }
    std::vector<Traced> traced;
};

std::vector<std::pair<rtl::TObject*, std::string>> dialogCalls;
void RecordDialog(rtl::TObject* c, const AnsiString&, const AnsiString& name, TDAParams*) {
    dialogCalls.push_back({c, name});
}

class FakeExternalClient : public IExternalMonitorClient {
public:
    static inline std::vector<std::string> texts;
    static inline std::function<void(uint16_t)> callback;
    bool RegisterClient(void*, const AnsiString&, TCustomDASQLMonitor*,
                        std::function<void(uint16_t)> f) override {
        callback = std::move(f);
        return true;
    }
    void SendText(const AnsiString& text) override { texts.push_back(text); }
};

}  // namespace

TEST_F(MonitorTest, WithoutMonitorOnlyDebugStatementsReachTheDialogHook) {
    dialogCalls.clear();
    SQLDialogHook = &RecordDialog;
    auto s = newSession();
    auto sql = newSQL(s.get(), "insert into item(id) values (1)");
    sql->Execute();
    EXPECT_TRUE(dialogCalls.empty());
    sql->Debug = true;
    sql->SQL().SetText("insert into item(id) values (2)");
    sql->Prepare();
    sql->Execute();
    ASSERT_EQ(dialogCalls.size(), 2u);
    EXPECT_EQ(dialogCalls[0].second, "Prepare");
    EXPECT_EQ(dialogCalls[1].second, "Execute");
    EXPECT_FALSE(TCustomDASQLMonitor::HasMonitor(OraSQLMonitorClass()));
}

TEST_F(MonitorTest, ASessionsWorkIsTracedWithItsParameters) {
    auto m = newMonitor();
    auto s = newSession();
    s->Connect();
    auto sql = newSQL(s.get(), "insert into item(id, name) values (:ID, :NAME)");
    sql->Params().ParamByName("ID")->SetParamType(db::ptInput);
    sql->Params().ParamByName("ID")->SetAsInteger(5);
    sql->Params().ParamByName("NAME")->SetParamType(db::ptInput);
    sql->Params().ParamByName("NAME")->SetAsString("abc");
    s->StartTransaction();
    sql->Execute();
    s->Commit();
    s->Disconnect();
    const std::string who = "qel@" + db_;
    std::vector<std::string> texts;
    for (const auto& t : traced) texts.push_back(t.text);
    const std::vector<std::string> expected = {
        "Connect: " + who,
        "Start: ",
        "insert into item(id, name) values (:ID, :NAME)\r\n:ID(INTEGER,IN)=5 \r\n:NAME(VARCHAR[3],IN)='abc'",
        "Commit: ",
        "Disconnect: " + who,
    };
    EXPECT_EQ(texts, expected);
    ASSERT_EQ(traced.size(), expected.size());
    EXPECT_EQ(traced[0].flag, tfConnect);
    EXPECT_EQ(traced[1].flag, tfTransact);
    EXPECT_EQ(traced[2].flag, tfQExecute);
}

TEST_F(MonitorTest, ErrorsAndExecutesFollowTheTraceFlags) {
    auto m = newMonitor();
    auto s = newSession();
    s->Connect();
    auto sql = newSQL(s.get(), "select nothing from nowhere");
    traced.clear();
    EXPECT_NE(ErrorText([&] { sql->Execute(); }), "(nothing raised)");
    ASSERT_FALSE(traced.empty());
    EXPECT_EQ(traced.front().text, "select nothing from nowhere");
    EXPECT_EQ(traced.front().flag, tfQExecute);
    EXPECT_EQ(traced.back().flag, tfError);
    EXPECT_EQ(traced.back().text.rfind("Error: ORA-", 0), 0u) << traced.back().text;

    traced.clear();
    m->SetTraceFlags(m->TraceFlags() - TDATraceFlags{tfError, tfQExecute});
    ErrorText([&] { sql->Execute(); });
    EXPECT_TRUE(traced.empty());
}

TEST_F(MonitorTest, ParameterTexts) {
    auto m = newMonitor();
    auto s = newSession();
    s->Connect();  // Oracle value objects need the client
    TOraParams params;
    struct Case {
        const char* name;
        db::TFieldType type;
        db::TParamType direction;
        std::function<void(TOraParam*)> set;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"ID", ftExtNumber, db::ptInput, [](TOraParam* p) { p->SetAsInteger(5); }, ":ID(NUMBER,IN)=5"},
        {"N", db::ftString, db::ptInput, [](TOraParam* p) { p->Clear(); }, ":N(VARCHAR[0],IN)=<NULL>"},
        {"X", db::ftInteger, db::ptUnknown, [](TOraParam* p) { p->SetAsInteger(1); }, ":X(INTEGER)=1"},
        {"R", db::ftCursor, db::ptOutput, [](TOraParam*) {}, ":R(CURSOR,OUT)=<CURSOR>"},
        {"F", db::ftFloat, db::ptInputOutput, [](TOraParam* p) { p->SetAsFloat(2.5); },
         ":F(FLOAT,IN/OUT)=2.5"},
    };
    for (const auto& c : cases) {
        params.Clear();
        auto* p = static_cast<TOraParam*>(params.Add());
        p->SetName(c.name);
        p->SetDataType(c.type);
        p->SetParamType(c.direction);
        c.set(p);
        std::vector<TMsgSQLParam> msg;
        EXPECT_EQ(m->ParamsText(&params, &msg), c.expected) << c.name;
        ASSERT_EQ(msg.size(), 1u);
        EXPECT_EQ(rtl::WideToAnsi(msg[0].Name), c.name);
    }
}

TEST_F(MonitorTest, HandledObjectsAreDescribedAndNamedExecutesKeepTheirName) {
    FakeExternalClient::texts.clear();
    ExternalMonitorFactory = [] { return std::make_unique<FakeExternalClient>(); };
    auto m = newMonitor({moSQLMonitor, moHandled});
    EXPECT_TRUE(m->Registered());
    auto s = newSession();
    s->SetName("Session1");
    auto sql = newSQL(s.get(), "select 1 from dual");
    sql->SetName("SQL1");
    int id = 0;
    TCustomDASQLMonitor::SQLExecute(OraSQLMonitorClass(), sql.get(), "select 1 from dual", true, id,
                                    "Refresh", nullptr);
    ASSERT_EQ(FakeExternalClient::texts.size(), 1u);
    char expected[200];
    snprintf(expected, sizeof expected,
             "SQL Execute [Refresh] [SQL1$%08X; Session1$%08X] : select 1 from dual",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(sql.get())),
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(s.get())));
    EXPECT_EQ(FakeExternalClient::texts[0], expected);

    // Without moHandled the description is empty; the monitor program chooses the flags.
    m->SetOptions({moSQLMonitor});
    FakeExternalClient::callback(1u << tfQExecute);
    EXPECT_EQ(m->TraceFlags(), TDATraceFlags{tfQExecute});
    TCustomDASQLMonitor::SQLExecute(OraSQLMonitorClass(), sql.get(), "select 2 from dual", true, id, "",
                                    nullptr);
    EXPECT_EQ(FakeExternalClient::texts.back(), "SQL Execute: select 2 from dual");
}

TEST_F(MonitorTest, OnlyTheClassMonitorReceivesNotices) {
    auto first = newMonitor();
    std::vector<Traced> second;
    auto other = std::make_unique<TOraSQLMonitor>();
    other->OnSQL = [&](rtl::TObject*, const AnsiString& t, TDATraceFlag f) { second.push_back({t, f}); };
    EXPECT_EQ(TCustomDASQLMonitor::GetMonitor(OraSQLMonitorClass()), first.get());
    auto s = newSession();
    s->Connect();
    EXPECT_EQ(traced.size(), 1u);
    EXPECT_TRUE(second.empty());
    first.reset();
    EXPECT_FALSE(TCustomDASQLMonitor::HasMonitor(OraSQLMonitorClass()));
    s->Disconnect();
    EXPECT_TRUE(second.empty());
    other.reset();
    auto third = newMonitor();
    EXPECT_EQ(TCustomDASQLMonitor::GetMonitor(OraSQLMonitorClass()), third.get());
}

TEST_F(MonitorTest, AMonitorDestroyedWhileOtherThreadsNotifyIsNotUsedAfterwards) {
    for (int round = 0; round < 5; ++round) {
        auto m = newMonitor();
        std::atomic<int> calls{0};
        m->OnSQL = [&](rtl::TObject*, const AnsiString&, TDATraceFlag) { ++calls; };
        std::atomic<bool> stop{false};
        TOraSQL component;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                while (!stop) {
                    int id = 0;
                    TCustomDASQLMonitor::SQLExecute(OraSQLMonitorClass(), &component, "select 1 from dual",
                                                    true, id, "", nullptr);
                }
            });
        while (calls.load() < 100) std::this_thread::yield();
        m.reset();  // waits for the notices under way; later ones find no monitor
        const int after = calls.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(calls.load(), after);
        stop = true;
        for (auto& t : threads) t.join();
    }
}

TEST_F(MonitorTest, SocketOutletTracesTheSessionToTheMonitorProgram) {
    MonitorListener listener;
    TSocketMonitor socket;
    SetSocketMonitorForTests(&socket);
    // Read with its owner: nothing is sent before its options are set.
    rtl::TComponent owner(nullptr);
    owner.Loading();
    auto m = std::make_unique<TOraSQLMonitor>(&owner);
    EXPECT_FALSE(m->Active());
    m->SetOptions({moSocketMonitor});
    m->SocketMonitorOptions().Host = "127.0.0.1";
    m->SocketMonitorOptions().Port = listener.Port();
    m->SetActive(true);
    {
        auto s = newSession();
        s->SetName("Session1");
        s->Connect();
        auto sql = newSQL(s.get(), "insert into item(id) values (:ID)");
        sql->SetName("Insert1");
        sql->Params().ParamByName("ID")->SetAsInteger(7);
        sql->Execute();
        s->Disconnect();
    }
    m->SetActive(false);  // the finished message, once
    m->SetActive(true);   // a start-up message again, on a new connection
    m.reset();
    ASSERT_TRUE(socket.WaitIdle(5000));
    auto streams = listener.Streams(2);
    ASSERT_EQ(streams.size(), 2u);
    auto first = DecodeStream(streams[0]);
    std::vector<std::pair<int, int>> kinds;  // (message type, event kind) without probes
    for (const auto& msg : first)
        if (msg) kinds.push_back({msg->MessageType(), static_cast<TEventMessage*>(msg.get())->EventType});
    const std::vector<std::pair<int, int>> expected = {
        {mtStartup, etStartup},     {mtEventStart, etConnect}, {mtEventEnd, etConnect},
        {mtEventStart, etExecute},  {mtEventEnd, etExecute},   {mtEventStart, etDisconnect},
        {mtEventEnd, etDisconnect}, {mtEvent, etFinished}};
    EXPECT_EQ(kinds, expected);
    auto* connect = dynamic_cast<TEventStartMessage*>(first[2].get());
    ASSERT_NE(connect, nullptr);
    EXPECT_EQ(connect->ObjectName, u"Session1");
    EXPECT_EQ(connect->ObjectType, 1);
    EXPECT_EQ(rtl::WideToAnsi(connect->SQL), "Username=qel\r\nServer=" + db_);
    TEventStartMessage* exec = nullptr;
    TEventEndMessage* execEnd = nullptr;
    for (auto& msg : first) {
        if (auto* x = dynamic_cast<TEventStartMessage*>(msg.get()); x && x->EventType == etExecute) exec = x;
        if (auto* x = dynamic_cast<TEventEndMessage*>(msg.get()); x && x->EventType == etExecute) execEnd = x;
    }
    ASSERT_TRUE(exec && execEnd);
    EXPECT_EQ(exec->ObjectName, u"Insert1");
    EXPECT_EQ(exec->ParentName, u"Session1");
    EXPECT_EQ(exec->ObjectType, 3);
    EXPECT_EQ(exec->SQL, u"insert into item(id) values (:ID)");
    ASSERT_EQ(exec->Params.size(), 1u);
    EXPECT_EQ(exec->Params[0].Value, u"7");
    EXPECT_EQ(execEnd->EventID, exec->EventID);
    EXPECT_EQ(execEnd->RowsAffected, 1);
    EXPECT_EQ(TypesOf(streams[1]).front(), mtStartup);
    EXPECT_EQ(TypesOf(streams[1]).back(), mtEvent);
}

TEST_F(MonitorTest, DatasetsReportTheirOpenExecuteAndDestruction) {
    auto m = newMonitor();
    m->SetTraceFlags(m->TraceFlags() + TDATraceFlags{tfObjDestroy});
    auto s = newSession();
    s->Connect();
    traced.clear();
    {
        TOraQuery q;
        q.SetName("Items");
        q.SetSession(s.get());
        q.SQL().SetText("select id from item");
        q.Open();
        q.Close();
        q.SQL().SetText("update item set name = 'x'");
        q.Execute();
    }
    std::vector<std::string> texts;
    for (const auto& t : traced) texts.push_back(t.text);
    const std::vector<std::string> expected = {"select id from item", "update item set name = 'x'",
                                               "Object destroyed: Items"};
    EXPECT_EQ(texts, expected);
}
