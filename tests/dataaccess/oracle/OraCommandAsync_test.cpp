// Asynchronous runs: worker threads, their end on the owning thread through the utility window,
// cooperative stopping, and non-blocking execution of commands on the stand-in server. These
// tests also run under ThreadSanitizer (scripts/tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

// Catches what message handlers raise on this thread.
class RaisedErrors {
public:
    RaisedErrors() {
        rtl::SetApplicationExceptionHandler([this](std::exception_ptr e) { errors_.push_back(e); });
    }
    ~RaisedErrors() { rtl::SetApplicationExceptionHandler(nullptr); }
    size_t Count() const { return errors_.size(); }
    // The code and message of error k, or -1 when it is no EOraError.
    std::pair<int32_t, std::string> Ora(size_t k) const {
        try {
            std::rethrow_exception(errors_.at(k));
        } catch (const EOraError& e) {
            return {e.ErrorCode, e.Message()};
        } catch (const rtl::Exception& e) {
            return {-1, e.Message()};
        }
    }

private:
    std::vector<std::exception_ptr> errors_;
};

// Pumps this thread's queue until done() or five seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        rtl::WaitAndProcessMessages(10);
    }
    return true;
}

bool WaitFinished(TExecThread* thread) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!thread->Finished())
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

}  // namespace

TEST(OraExecThread, AnErrorOfTheRunReachesTheEndMethodThenTheOwningThread) {
    RaisedErrors raised;
    TOCIConnection connection;
    std::atomic<int> seen{0};
    connection.RunThread([] { throw EOraError(942, "ORA-00942: table or view does not exist"); },
                         [&](rtl::Exception* error) {
                             auto* ora = dynamic_cast<EOraError*>(error);
                             seen = ora ? ora->ErrorCode : -1;
                         });
    ASSERT_TRUE(PumpUntil([&] { return raised.Count() == 1; }));
    EXPECT_EQ(942, seen);
    EXPECT_EQ(std::make_pair(942, std::string("ORA-00942: table or view does not exist")), raised.Ora(0));
    // Any other error comes back as a plain exception with its message.
    connection.RunThread([] { throw rtl::EConvertError("bad"); }, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return raised.Count() == 2; }));
    EXPECT_EQ(std::make_pair(-1, std::string("bad")), raised.Ora(1));
}

TEST(OraExecThread, WithoutAnEndMethodTheErrorIsStillRaised) {
    RaisedErrors raised;
    TOCIConnection connection;
    connection.RunThread([] { throw EOraError(1403, "ORA-01403: no data found"); }, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return raised.Count() == 1; }));
    EXPECT_EQ(1403, raised.Ora(0).first);
}

TEST(OraExecThread, RunsShareTheirThreadsUtilityWindowAndEndInOrder) {
    RaisedErrors raised;
    TOCIConnection connection;
    std::vector<int> ends;
    // The second run ends only after the first has posted its end, so the ends arrive in a known
    // order; two free runs may finish either way round.
    std::atomic<TExecThread*> firstRun{nullptr};
    TExecThread* first = connection.RunThread([] {}, [&](rtl::Exception* e) { ends.push_back(e ? -1 : 1); });
    firstRun = first;
    TExecThread* second = connection.RunThread(
        [&] {
            while (!firstRun.load()->Finished()) std::this_thread::yield();
        },
        [&](rtl::Exception* e) { ends.push_back(e ? -2 : 2); });
    EXPECT_EQ(first->MethodDesc()->Window, second->MethodDesc()->Window);
    EXPECT_EQ(UtilityWindow(), first->MethodDesc()->Window);
    ASSERT_TRUE(WaitFinished(first));
    ASSERT_TRUE(WaitFinished(second));
    ASSERT_TRUE(PumpUntil([&] { return ends.size() == 2; }));
    EXPECT_EQ((std::vector<int>{1, 2}), ends);
    EXPECT_EQ(0u, raised.Count());
    // Another thread has a window of its own.
    rtl::HWND other = 0;
    std::thread([&] { other = UtilityWindow(); }).join();
    EXPECT_NE(UtilityWindow(), other);
}

TEST(OraExecThread, StopThreadDropsOnlyItsOwnRunsEndMessage) {
    RaisedErrors raised;
    TOCIConnection connection;
    std::vector<std::string> ends;
    TExecThread* stopped = connection.RunThread([] { throw EOraError(1013, "cancelled"); },
                                                [&](rtl::Exception*) { ends.push_back("stopped"); });
    TExecThread* other = connection.RunThread([] {}, [&](rtl::Exception*) { ends.push_back("other"); });
    ASSERT_TRUE(WaitFinished(stopped));
    ASSERT_TRUE(WaitFinished(other));  // both end messages are queued now
    EXPECT_TRUE(connection.StopThread(stopped, true));
    EXPECT_EQ(nullptr, stopped);
    ASSERT_TRUE(PumpUntil([&] { return !ends.empty(); }));
    rtl::ProcessMessages();
    EXPECT_EQ((std::vector<std::string>{"other"}), ends);
    EXPECT_EQ(0u, raised.Count());  // the stopped run's error went with its message
}

TEST(OraExecThread, StopThreadWaitsForARunningWorker) {
    TOCIConnection connection;
    std::atomic<bool> release{false};
    std::atomic<bool> ended{false};
    TExecThread* thread = connection.RunThread(
        [&] {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ended = true;
        },
        [](rtl::Exception*) { ADD_FAILURE() << "the end method of a stopped run was called"; });
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release = true;
    });
    connection.StopThread(thread, true);
    EXPECT_TRUE(ended);  // joined, never killed
    releaser.join();
    rtl::ProcessMessages();
}

// ---------------------------------------------------------------------------------------------
// Non-blocking commands

class OraNonBlockingTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec("CREATE TABLE t(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(40));");
    }
};

TEST_F(OraNonBlockingTest, AnExecuteRunsOnAWorkerAndEndsOnTheOwningThread) {
    RaisedErrors raised;
    auto command = Command("insert into t(id, name) values (:id, 'async')");
    command->GetParam(0)->SetValue(int32_t(1));
    command->SetProp(prNonBlocking, true);
    std::vector<bool> results;
    command->OnAfterExecute = [&](bool result) { results.push_back(result); };
    command->Execute();
    ASSERT_TRUE(PumpUntil([&] { return !results.empty(); }));
    EXPECT_EQ((std::vector<bool>{true}), results);
    EXPECT_FALSE(command->Executing());
    EXPECT_EQ(csInactive, command->GetCursorState());
    EXPECT_EQ((std::vector<std::string>{"async"}), dbTexts("SELECT name FROM t"));
    // A failing run reports False and raises its error here.
    command->Execute();  // the key exists now
    ASSERT_TRUE(PumpUntil([&] { return results.size() == 2 && raised.Count() == 1; }));
    EXPECT_FALSE(results[1]);
    EXPECT_EQ(1, raised.Ora(0).first);
    EXPECT_FALSE(command->Executing());
}

TEST_F(OraNonBlockingTest, ASessionThatIsNotThreadSafeRefusesAndEndsTheRun) {
    conn_->SetProp(prThreadSafety, false);
    auto command = Command("insert into t(id) values (1)");
    command->SetProp(prNonBlocking, true);
    std::vector<bool> results;
    command->OnAfterExecute = [&](bool result) { results.push_back(result); };
    EXPECT_EQ("Session must be Thread Safety", ExceptionText([&] { command->Execute(); }));
    EXPECT_FALSE(command->Executing());
    EXPECT_EQ((std::vector<bool>{false}), results);
    EXPECT_TRUE(dbTexts("SELECT id FROM t").empty());
}

TEST_F(OraNonBlockingTest, DestroyingACommandStopsItsRunWithoutItsEnd) {
    auto command = Command("insert into t(id) values (2)");
    command->SetProp(prNonBlocking, true);
    command->OnAfterExecute = [](bool) { ADD_FAILURE() << "the end of a stopped run was handled"; };
    command->Execute();
    command.reset();  // stops and joins the worker, drops its end message
    rtl::ProcessMessages();
}

namespace {

// Counts to a very large number: runs for minutes unless it is broken.
const char* const EndlessUpdate =
    "update t set name = (with recursive r(x) as (select 1 union all select x + 1 from r where x < "
    "4000000000) "
    "select count(*) from r)";

}  // namespace

TEST_F(OraNonBlockingTest, BreakExecEndsARunningCallWithOra01013) {
    RaisedErrors raised;
    dbExec("INSERT INTO t VALUES (1, 'before');");
    auto command = Command(EndlessUpdate);
    command->SetProp(prNonBlocking, true);
    std::vector<bool> results;
    command->OnAfterExecute = [&](bool result) { results.push_back(result); };
    command->Execute();
    // A break before the worker's call began is lost: it is sent until the run ends.
    ASSERT_TRUE(PumpUntil([&] {
        command->BreakExec();
        return !results.empty();
    }));
    EXPECT_EQ((std::vector<bool>{false}), results);
    ASSERT_TRUE(PumpUntil([&] { return raised.Count() == 1; }));
    EXPECT_EQ(1013, raised.Ora(0).first);
    EXPECT_EQ((std::vector<std::string>{"before"}), dbTexts("SELECT name FROM t"));
}

TEST_F(OraNonBlockingTest, StoppingARunBreaksItsCallAndWaitsForTheWorker) {
    auto command = Command(EndlessUpdate);
    command->SetProp(prNonBlocking, true);
    command->OnAfterExecute = [](bool) { ADD_FAILURE() << "the end of a stopped run was handled"; };
    const auto start = std::chrono::steady_clock::now();
    command->Execute();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    command->SetConnection(nullptr);  // stops the run, closes the statement
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(csInactive, command->GetCursorState());
    rtl::ProcessMessages();
    // The session is free for the next statement.
    command->SetConnection(conn_.get());
    command->SetProp(prNonBlocking, false);
    command->SetSQLText("insert into t(id) values (3)");
    command->OnAfterExecute = nullptr;
    command->Execute();
    EXPECT_EQ((std::vector<std::string>{"3"}), dbTexts("SELECT id FROM t"));
}
