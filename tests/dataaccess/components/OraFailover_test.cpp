// Lost connections on the stand-in: what the session decides, what runs again and what is never
// committed.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

class FailoverTest : public DataSetTest {
protected:
    void LoseNextCall() {
        dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    }
    std::unique_ptr<TOraStoredProc> Counting(TOraSession* s) {
        auto p = newProc(s, "get_rows");
        Declare(*p, "P_FROM", db::ftInteger, db::ptInput)->SetAsInteger(55);
        Declare(*p, "P_CUR", db::ftCursor, db::ptOutput);
        return p;
    }
};

TEST_F(FailoverTest, WithoutLocalFailoverTheOperationStackStaysEmpty) {
    auto s = newSession();
    s->PushOperation(clOpen, true);
    EXPECT_EQ(0, s->OperationCount());
    EXPECT_EQ(clUnknown, s->GetFailoverOperation());
    s->PopOperation();
    s->Options().SetLocalFailover(true);
    s->PushOperation(clExecute, true);
    s->PushOperation(clOpen, false);
    EXPECT_EQ(clUnknown, s->GetFailoverOperation()) << "the greatest operation does not allow failover";
    s->PopOperation();
    EXPECT_EQ(clExecute, s->GetFailoverOperation());
    s->PopOperation();
    EXPECT_EQ(0, s->OperationCount());
}

TEST_F(FailoverTest, AnIdleSessionIsConnectedAgainAndTheFailedCallRaises) {
    auto s = newSession();
    s->Connect();
    int errors = 0;
    s->OnError = [&](rtl::TObject*, EDAError* e, bool& fail) {
        ++errors;
        EXPECT_EQ(3113, e->ErrorCode);
        EXPECT_TRUE(fail);
    };
    LoseNextCall();
    auto sql = newSQL(s.get(), "UPDATE item SET name = 'x' WHERE id = 1");
    const std::string error = ErrorText([&] { sql->Execute(); });
    EXPECT_NE(std::string::npos, error.find("ORA-03113")) << error;
    EXPECT_EQ(1, errors);
    EXPECT_TRUE(s->GetConnected()) << "the driver connected again";
    auto q = newQuery(s.get(), "SELECT id FROM item WHERE id > 58 ORDER BY id");
    q->Open();
    EXPECT_EQ((std::vector<int>{59, 60}), ReadIds(*q));
}

TEST_F(FailoverTest, ALostConnectionInATransactionClosesItAndDisconnects) {
    auto s = newSession();
    s->SetAutoCommit(false);
    s->Connect();
    s->StartTransaction();
    LoseNextCall();
    auto sql = newSQL(s.get(), "INSERT INTO item(id, name) VALUES (100, 'lost')");
    const std::string error = ErrorText([&] { sql->Execute(); });
    EXPECT_NE(std::string::npos, error.find("ORA-03113")) << error;
    EXPECT_FALSE(s->GetConnected());
    EXPECT_FALSE(s->InTransaction());
    EXPECT_TRUE(dbTexts("SELECT id FROM item WHERE id = 100").empty());
}

TEST_F(FailoverTest, AnOpenDatasetThatHasNotFetchedEverythingBlocksTheReconnect) {
    auto s = newSession();
    s->Connect();
    auto open = newQuery(s.get(), "SELECT id FROM item ORDER BY id");
    open->Open();  // 25 of 60 rows held
    LoseNextCall();
    auto sql = newSQL(s.get(), "UPDATE item SET name = 'x' WHERE id = 1");
    const std::string error = ErrorText([&] { sql->Execute(); });
    EXPECT_NE(std::string::npos, error.find("ORA-03113")) << error;
    EXPECT_FALSE(s->GetConnected());
    EXPECT_FALSE(open->Active()) << "the disconnect closed the dataset";
}

TEST_F(FailoverTest, AnErrorThatIsNotALostConnectionNeverDisconnects) {
    auto s = newSession();
    s->Connect();
    int errors = 0;
    s->OnError = [&](rtl::TObject*, EDAError*, bool&) { ++errors; };
    auto sql = newSQL(s.get(), "INSERT INTO item(id, name) VALUES (1, 'twice')");
    const std::string error = ErrorText([&] { sql->Execute(); });
    EXPECT_NE("(nothing raised)", error);
    EXPECT_EQ(1, errors);
    EXPECT_TRUE(s->GetConnected());
}

TEST_F(FailoverTest, WithLocalFailoverTheRetryModeDecidesWhatRunsAgain) {
    struct Case {
        const char* name;
        bool open;  // Open rather than Execute
        TRetryMode mode;
        TConnLostCause cause;
        bool raises;
        int calls;
    };
    const Case cases[] = {
        {"open, reconnect and execute again", true, rmReconnectExecute, clOpen, false, 1},
        {"execute, the default answer raises", false, rmRaise, clExecute, true, 0},
        {"execute, reconnect and execute again", false, rmReconnectExecute, clExecute, false, 1},
    };
    for (const auto& c : cases) {
        dbExec("DELETE FROM calls;");
        auto s = newSession();
        s->Options().SetLocalFailover(true);
        s->Connect();
        std::vector<TConnLostCause> asked;
        s->OnConnectionLost = [&](rtl::TObject*, rtl::TComponent*, TConnLostCause cause, TRetryMode& mode) {
            asked.push_back(cause);
            mode = c.mode;
        };
        int errors = 0;
        s->OnError = [&](rtl::TObject*, EDAError*, bool&) { ++errors; };
        auto p = Counting(s.get());
        p->Prepare();
        p->UnPrepare();
        LoseNextCall();
        const std::string error = ErrorText([&] { c.open ? p->Open() : p->Execute(); });
        EXPECT_EQ(c.raises, error != "(nothing raised)") << c.name << ": " << error;
        ASSERT_EQ(1u, asked.size()) << c.name;
        EXPECT_EQ(c.cause, asked[0]) << c.name;
        EXPECT_EQ(c.raises ? 1 : 0, errors) << c.name << ": OnError only when the error is raised";
        EXPECT_EQ(c.calls, Calls()) << c.name << ": the lost call left nothing behind, the repeat ran once";
        if (!c.raises) {
            EXPECT_EQ(Range(56, 60), ReadIds(*p)) << c.name;
        }
        EXPECT_EQ(!c.raises, s->GetConnected())
            << c.name << ": a lost connection that is not taken up ends the session";
    }
}

TEST(TransparentFailover, EventsAndTypesMapToTheirNames) {
    const std::pair<uint32_t, TFailoverState> states[] = {{1, fsEnd},   {2, fsAbort},  {4, fsReauth},
                                                          {8, fsBegin}, {16, fsError}, {3, fsUnknown}};
    for (auto [event, state] : states) EXPECT_EQ(state, FailoverStateOf(event)) << event;
    const std::pair<uint32_t, TFailoverType> types[] = {
        {1, ftNone}, {2, ftSession}, {4, ftSelect}, {8, ftTransaction}, {0, ftUnknown}};
    for (auto [value, type] : types) EXPECT_EQ(type, FailoverTypeOf(value)) << value;
}

TEST_F(FailoverTest, TheEndOfAFailoverInATransactionUnpreparesTheDatasets) {
    for (bool inTransaction : {false, true}) {
        auto s = newSession();
        s->SetAutoCommit(false);
        s->Connect();
        auto q = newQuery(s.get(), "SELECT id FROM item");
        q->Prepare();
        if (inTransaction) s->StartTransaction();
        std::vector<std::pair<TFailoverState, TFailoverType>> seen;
        s->OnFailover = [&](rtl::TObject*, TFailoverState state, TFailoverType type, bool& retry) {
            seen.emplace_back(state, type);
            retry = true;
        };
        bool retry = false;
        s->DoFailover(1, 4, retry);
        EXPECT_TRUE(retry) << "the handler's answer goes back to the driver";
        EXPECT_EQ((std::vector<std::pair<TFailoverState, TFailoverType>>{{fsEnd, ftSelect}}), seen);
        EXPECT_EQ(!inTransaction, q->Prepared()) << inTransaction;
        if (inTransaction) s->Rollback();
    }
}
