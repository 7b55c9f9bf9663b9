// The starter thread and the start-up decision over a recording database, and the start of the
// worker that follows it. Before, a starter run that failed kept the permission of an earlier
// run, so a second start could run the worker on settings that had not loaded.
#include "common/uStarterThread.h"

#include <gtest/gtest.h>

#include "export_service/uOutSrvcWorkers.h"
#include "tests/export_service/ServiceFixture.h"

using namespace exptest;
using svc::TStartupResults;

TEST(StartupDecision, ComputerFirstThenTheVersionPrefix) {
    struct Case {
        const char* setting;
        const char* local;
        const char* version;
        bool allowed;
        int reason;
    };
    const Case cases[] = {
        {"QELSRV", "QELSRV", "2.9.1.0", true, 0},  {"QELSRV", "QELSRV", "2.9.1.0.12", true, 0},
        {"QELSRV", "QELSRV", "2.9.1", false, 2},   {"QELSRV", "QELSRV", "", false, 2},
        {"QELSRV", "QELSRV", "2.9.1.1", false, 2}, {"qelsrv", "QELSRV", "2.9.1.0", false, 1},
        {"OTHER", "QELSRV", "1.0", false, 1},      {"", "", "2.9.1.0", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " " + c.local + " " + c.version);
        TStartupResults results;
        results.Decide(c.setting, c.local, c.version);
        EXPECT_EQ(results.StartAllowed, c.allowed);
        EXPECT_EQ(results.RefusalReason, c.reason);
    }
}

TEST(StartupDecision, RefusalLines) {
    svc::TParamsStorage params;
    params.ComputerNameSetting = "QELSRV";
    params.DBVersion = "2.8.0.0";
    TStartupResults results;
    EXPECT_EQ(svc::RefusalText(results, params), "") << "no reason recorded";
    results.RefusalReason = TStartupResults::rsComputerName;
    EXPECT_EQ(svc::RefusalText(results, params),
              "Error! Cannot start service. Service registered on computer QELSRV");
    results.RefusalReason = TStartupResults::rsDBVersion;
    EXPECT_EQ(
        svc::RefusalText(results, params),
        "Error! Cannot start service. Service version \"2.9.1.0\" and DB version \"2.8.0.0\" are different");
    results.StartAllowed = true;
    EXPECT_EQ(svc::RefusalText(results, params), "");
}

namespace {

class Starter : public ServiceFixture {
protected:
    void Run(svc::TDataAccess* access = nullptr) {
        svc::TStarterThread starter(svc::OutStarterSettings(params_), access ? access : &access_, results_,
                                    journal_.Callback());
        starter.RetryPauseMs = 10;
        starter.Start();
        starter.WaitFor();
    }
    TStartupResults results_;
};

}  // namespace

TEST_F(Starter, ConnectsLoadsTheSettingsAndAllowsTheStart) {
    Run();
    EXPECT_TRUE(results_.StartAllowed);
    EXPECT_EQ(params_.DBVersion, "2.9.1.0.1");
    std::string exe;
    svc::TParamsStorage::GetExeFileName(exe);
    const std::vector<std::string> expected = {
        "!Connection: ok",
        "!Database zuv verion = 2.9.1.0.1",
        "!Service version = 2.9.1.0",
        "!Service file = " + exe,
        "!Computer name = " + params_.ComputerNameSetting,
        "!Folder export = " + (dir_ / "work/"),
        "!Folder sharing = " + (dir_ / "shared"),
    };
    EXPECT_EQ(journal_.Lines(), expected);
    EXPECT_EQ(db_.Lines()[0], "CreateSession");
    EXPECT_TRUE(db_.Logged("Username zuv"));
    EXPECT_TRUE(db_.Logged("Schema ZUV"));
}

TEST_F(Starter, EveryRunStartsFromNoPermission) {
    results_.StartAllowed = true;  // an earlier run allowed the start
    results_.RefusalReason = TStartupResults::rsNone;
    Set("SOURCE_DATA", "");
    Run();
    EXPECT_FALSE(results_.StartAllowed);
    EXPECT_EQ(results_.RefusalReason, TStartupResults::rsNone);
    EXPECT_EQ(
        journal_.Lines().back(),
        "!Error: Exchange settings are not specified. Please specify correct settings in Zuv Qel Admin");
}

TEST_F(Starter, RefusesAnotherComputerAndAnotherVersion) {
    Set("PC_SRV_NAME_QEL_OUT", "SOME-OTHER-HOST");
    dbVersion_ = "2.9.0.9";
    Run();
    EXPECT_FALSE(results_.StartAllowed);
    EXPECT_EQ(results_.RefusalReason, TStartupResults::rsComputerName) << "the computer is reported first";
    std::string host;
    svc::TParamsStorage::GetLocalComputerName(host);
    Set("PC_SRV_NAME_QEL_OUT", host);
    Run();
    EXPECT_EQ(results_.RefusalReason, TStartupResults::rsDBVersion);
    EXPECT_TRUE(journal_.Has("!Database zuv verion = 2.9.0.9"));
}

TEST_F(Starter, RetriesTheConnectionAndJournalsEachFailure) {
    db_.failingConnects = 2;
    Run();
    EXPECT_EQ(journal_.Count("!Error: ORA-12541: TNS:no listener"), 2) << journal_.Text();
    EXPECT_TRUE(journal_.Has("!Connection: ok"));
    EXPECT_EQ(db_.CountOf("Connect"), 3);

    db_.failingConnects = 1;
    db_.reportErrors = false;
    Run();
    EXPECT_TRUE(journal_.Has("!Error: Connection error")) << "no copy of the server's error";
}

TEST_F(Starter, StopEndsTheConnectionLoop) {
    db_.failingConnects = -1;
    svc::TStarterThread starter(svc::OutStarterSettings(params_), &access_, results_, journal_.Callback());
    starter.Start();
    ASSERT_TRUE(PumpUntil([&] { return db_.CountOf("Connect") >= 1; }));
    const auto start = std::chrono::steady_clock::now();
    starter.Terminate();
    starter.WaitFor();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_FALSE(results_.StartAllowed);
    EXPECT_FALSE(journal_.Has("!Connection: ok"));
}

TEST_F(Starter, ProgramWithoutComponentsEndsAtTheDatabaseStep) {
    svc::TStarterThread starter(svc::OutStarterSettings(params_), nullptr, results_, journal_.Callback());
    starter.Start();
    starter.WaitFor();
    EXPECT_EQ(journal_.Lines(),
              std::vector<std::string>{"!Error: This program has no Oracle data-access components"});
    EXPECT_FALSE(results_.StartAllowed);
}

// ---------------------------------------------------------------------------------------------

TEST_F(Starter, WorkerStartsWhenTheStarterEndsAndStopsOnRequest) {
    svc::TOutSrvcWorkers workers(params_, &access_, journal_.Callback());
    Set("IsAutoStart", "0");
    ASSERT_TRUE(workers.Start());
    EXPECT_FALSE(workers.Start()) << "not while the starter runs";
    ASSERT_TRUE(PumpUntil([&] { return workers.ManagerState() == svc::TOutSrvcWorkers::tsRunning; }));
    EXPECT_TRUE(PumpUntil([&] { return workers.StarterState() == svc::TOutSrvcWorkers::tsFinished; }));
    ASSERT_TRUE(PumpUntil([&] { return journal_.Has("!-----------------------"); })) << journal_.Text();
    workers.Stop();
    EXPECT_EQ(workers.ManagerState(), svc::TOutSrvcWorkers::tsNone);
    EXPECT_TRUE(journal_.Has("!Service is stopped")) << journal_.Text();
}

TEST_F(Starter, RefusedStartJournalsWhyAndStartsNoWorker) {
    svc::TOutSrvcWorkers workers(params_, &access_, journal_.Callback());
    dbVersion_ = "3.0.0.0";
    ASSERT_TRUE(workers.Start());
    ASSERT_TRUE(PumpUntil([&] { return journal_.HasPrefix("!Error! Cannot start service."); }))
        << journal_.Text();
    EXPECT_TRUE(
        journal_.Has("!Error! Cannot start service. Service version \"2.9.1.0\" and DB version \"3.0.0.0\" "
                     "are different"));
    EXPECT_EQ(workers.ManagerState(), svc::TOutSrvcWorkers::tsNone);

    ASSERT_TRUE(PumpUntil([&] { return workers.StarterState() == svc::TOutSrvcWorkers::tsFinished; }));
    dbVersion_ = "2.9.1.0";
    ASSERT_TRUE(workers.Start()) << "a refused start may be tried again";
    ASSERT_TRUE(PumpUntil([&] { return workers.ManagerState() != svc::TOutSrvcWorkers::tsNone; }));
    workers.Stop();
}

TEST_F(Starter, StopBeforeTheStarterEndsStartsNoWorker) {
    db_.failingConnects = -1;
    svc::TOutSrvcWorkers workers(params_, &access_, journal_.Callback());
    ASSERT_TRUE(workers.Start());
    ASSERT_TRUE(PumpUntil([&] { return db_.CountOf("Connect") >= 1; }));
    workers.Stop();
    rtl::CheckSynchronize(50);
    EXPECT_EQ(workers.ManagerState(), svc::TOutSrvcWorkers::tsNone);
    EXPECT_EQ(workers.StarterState(), svc::TOutSrvcWorkers::tsNone);
}
