// The import's debug window over the recording database: Start runs the starter and, when it
// allows, the watcher and the package-manager thread; a refusal is journalled with the window's
// own texts and shown on the message line; Stop ends the three threads.
#include "import_service/ufrmDebug.h"

#include <gtest/gtest.h>

#include "platform/rtl/DateTime.h"
#include "tests/import_service/InServiceFixture.h"

using namespace imptest;
using svctest::PumpUntil;

namespace {

class DebugWindow : public InServiceFixture {
protected:
    void SetUp() override {
        InServiceFixture::SetUp();
        // The sample credentials: zuv_exchange / change-me.
        ostest::WriteFile(
            dir_ / "Connection.ini",
            "[CONNECTION_QEL]\nServer=qel:1521/QEL\nOraHome=0\nScheme=ZUV\n"
            "UserName=E27CE912F85D36EEE31A74B5AD062E75\nPassword=5F91C5ECF2F22E7DB5F2CF1FCE0B5627\n"
            "[LOG]\nLogInPath=" +
                (dir_ / "logs") + "\n");
    }
    std::string Journal() const {
        return ostest::ReadFile(
            dir_ / ("logs/QEL_IN_DEBUG_" + rtl::FormatDateTime("dd.mm.yyyy", rtl::Now()) + ".log"));
    }
};

TEST_F(DebugWindow, RefusalsUseTheWindowsTextsAndStartNoWorker) {
    struct Case {
        const char* computer;
        const char* version;
        std::string text;
    };
    const Case cases[] = {
        {"ANOTHER-HOST", "2.9.1.0",
         "Error! Cannot start service. Service registered on computer ANOTHER-HOST"},
        {nullptr, "2.8.0.0", "Error! Service version \"2.9.1.0\" and DB version \"2.8.0.0\" are different"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.computer) Set("PC_SRV_NAME_QEL_IN", c.computer);
        const std::string version = c.version;
        db_.handlers["zuv_export_out_pack.get_zuv_qel_db_version"] = [version](svcfake::TFakeProc& proc) {
            proc.SetOut("RESULT", version);
        };
        svc::TfrmDebug window(params_, &procedures_, &access_, dir_ / "Connection.ini");
        window.btnStartClick();
        ASSERT_TRUE(PumpUntil([&] { return Journal().find(c.text) != std::string::npos; })) << Journal();
        EXPECT_NE(Journal().find("] Error: " + c.text + "\r\n"), std::string::npos);
        EXPECT_EQ(window.Workers().WatcherState(), svc::TSrvcWorkers::tsNone);
        window.btnStopClick();
        std::string host;
        svc::TParamsStorage::GetLocalComputerName(host);
        Set("PC_SRV_NAME_QEL_IN", host);
    }
}

TEST_F(DebugWindow, StartRunsTheThreeThreadsAndStopEndsThem) {
    svc::TfrmDebug window(params_, &procedures_, &access_, dir_ / "Connection.ini");
    window.btnStartClick();
    ASSERT_TRUE(PumpUntil([&] { return window.Workers().ManagerState() == svc::TSrvcWorkers::tsRunning; }))
        << Journal();
    EXPECT_EQ(window.Workers().WatcherState(), svc::TSrvcWorkers::tsRunning);
    const std::vector<std::string> status = window.StatusLines();
    EXPECT_EQ(status[3], "Start-up: allowed");
    window.btnStopClick();
    EXPECT_EQ(window.Workers().WatcherState(), svc::TSrvcWorkers::tsNone);
    const std::string journal = Journal();
    size_t at = 0;
    for (const std::string& line :
         {std::string("] Utility \"Zuv Qel In Srvc\" started...\r\n"),
          std::string("] Reading data from config file...\r\n"), std::string("] UserName = zuv_exchange\r\n"),
          std::string("] Params from DB read done\r\n"),
          std::string("] Utility \"Zuv Qel in Srvc\" finished...\r\n")}) {
        at = journal.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << journal;
    }
}

}  // namespace
