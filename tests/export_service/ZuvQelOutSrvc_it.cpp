// The program ZuvQelOutSrvc as it is run: a foreground service (its start-up, journal and event
// log, its stop on SIGTERM), its installation as a systemd unit, and the "/debug" mode in tmux
// and through pipes. Here the Oracle home holds no client library: every start stops at the
// database step, journals why and tries again until stopped (a run against a database is in
// ZuvQelOutSrvcDb_it.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/rtl/DateTime.h"
#include "tests/platform/os/OsTestSupport.h"

namespace fs = std::filesystem;
using ostest::Child;
using ostest::DatagramSocket;
using ostest::ReadFile;
using ostest::TempDir;
using ostest::Tmux;

namespace {

// The sample credentials: zuv_exchange / change-me.
const char* const kIni =
    "[CONNECTION_QEL]\nServer=qel:1521/"
    "QEL\nOraHome=0\nScheme=ZUV\nUserName=E27CE912F85D36EEE31A74B5AD062E75\n"
    "Password=5F91C5ECF2F22E7DB5F2CF1FCE0B5627\n[LOG]\nLogOutPath=";
const char* const kNoClient = "Error: Cannot find OCI DLL: libclntsh.so";

// The program copied into a folder of its own, where it looks for Connection.ini.
class Program : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(DX_BINARY_DIR "/export_service/ZuvQelOutSrvc", dir_ / "ZuvQelOutSrvc");
        fs::permissions(dir_ / "ZuvQelOutSrvc", fs::perms::owner_all);
    }
    void WriteIni() {
        ostest::WriteFile(dir_ / "Connection.ini", std::string(kIni) + (dir_ / "logs") + "\n");
    }
    std::string Journal(const std::string& stem) const {
        return ReadFile(dir_ /
                        ("logs/" + stem + "_" + rtl::FormatDateTime("dd.mm.yyyy", rtl::Now()) + ".log"));
    }
    std::vector<std::string> Env() const {
        return {"DX_SYSLOG_SOCKET=" + syslogPath_, "NOTIFY_SOCKET=", "ORACLE_HOME=" + noClient_};
    }
    // Datagrams the event log sent, joined by new lines.
    std::string EventLog(int count) {
        std::string all;
        for (int i = 0; i < count; ++i) all += syslog_.Receive(2000) + "\n";
        return all;
    }

    TempDir dir_{"outsrvc"};
    std::string syslogPath_ = dir_ / "syslog.sock";
    std::string noClient_ = dir_ / "oracle-home-without-client";
    DatagramSocket syslog_{syslogPath_};
};

bool WaitForFile(const std::function<std::string()>& read, const std::string& text, int timeoutMs = 20000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (read().find(text) != std::string::npos) return true;
        ::usleep(50000);
    }
    return false;
}

}  // namespace

TEST_F(Program, WithoutConnectionIniTheStartFails) {
    Child program({dir_ / "ZuvQelOutSrvc"}, Env());
    EXPECT_EQ(program.Wait(), 1) << program.Output();
    const std::string log = EventLog(3);
    EXPECT_NE(log.find("srvZuvQelOutSrvc["), std::string::npos) << log;
    EXPECT_NE(log.find("Utility \"Zuv Qel Out Srvc\" Init..."), std::string::npos) << log;
    EXPECT_NE(
        log.find(
            "Failed reading connection DB params from common config file. Generate new configuration file "
            "in Web Admin application in Exchange settings menu."),
        std::string::npos)
        << log;
}

TEST_F(Program, ForegroundServiceRunsUntilStoppedAndJournalsTheDatabaseStep) {
    WriteIni();
    Child program({dir_ / "ZuvQelOutSrvc"}, Env());
    ASSERT_TRUE(WaitForFile([&] { return Journal("ZuvQelOutSrvc"); }, kNoClient)) << Journal("ZuvQelOutSrvc");
    const std::string journal = Journal("ZuvQelOutSrvc");
    size_t at = 0;
    for (const std::string& line :
         {std::string("] -----------------------------\r\n"),
          std::string("] Utility \"Zuv Qel Out Srvc\" started...\r\n"),
          std::string("] Server = qel:1521/QEL\r\n"), std::string("] OraHome = 0\r\n"),
          std::string("] Scheme = ZUV\r\n"), std::string("] UserName = zuv_exchange\r\n"),
          "] Log path = " + (dir_ / "logs") + "\r\n", "] " + std::string(kNoClient) + "\r\n"}) {
        at = journal.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << "\n" << journal;
    }
    EXPECT_EQ(journal.find("change-me"), std::string::npos) << "the password is never journalled";
    ::usleep(300000);
    EXPECT_EQ(program.Wait(100), -1) << "the service keeps trying";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0) << program.Output();
    EXPECT_NE(Journal("ZuvQelOutSrvc").find("] Utility \"Zuv Qel Out Srvc\" finished...\r\n"),
              std::string::npos);
}

TEST_F(Program, InstallWritesTheUnitWithTheDescription) {
    Child program({dir_ / "ZuvQelOutSrvc", "/install", "/silent"}, {"DX_INSTALL_ROOT=" + (dir_ / "root")});
    ASSERT_EQ(program.Wait(), 0) << program.Output();
    const std::string unit = ReadFile(dir_ / "root/etc/systemd/system/srvZuvQelOutSrvc.service");
    EXPECT_NE(unit.find("Description=Zuv Qel Out Srvc - Data export from Qel to Web\n"), std::string::npos)
        << unit;
    EXPECT_NE(unit.find("ExecStart=\"" + (dir_ / "ZuvQelOutSrvc") + "\"\n"), std::string::npos) << unit;
    Child remove({dir_ / "ZuvQelOutSrvc", "/uninstall", "/silent"}, {"DX_INSTALL_ROOT=" + (dir_ / "root")});
    ASSERT_EQ(remove.Wait(), 0) << remove.Output();
    EXPECT_FALSE(fs::exists(dir_ / "root/etc/systemd/system/srvZuvQelOutSrvc.service"));
}

TEST_F(Program, DebugModeInTmux) {
    if (!Tmux::Available()) GTEST_SKIP() << "tmux is not installed (scripts/setup installs it)";
    WriteIni();
    Tmux tmux("DX_SYSLOG_SOCKET=" + syslogPath_ + " ORACLE_HOME=" + noClient_ + " " +
              (dir_ / "ZuvQelOutSrvc") + " /debug");
    ASSERT_TRUE(tmux.Ok());
    ASSERT_TRUE(tmux.WaitFor("[ Start ]  [ Stop ]")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Debug form"), std::string::npos);
    EXPECT_NE(tmux.Last().find("Starter: not created"), std::string::npos) << tmux.Last();
    tmux.Keys("s");
    ASSERT_TRUE(tmux.WaitFor("Cannot find OCI DLL: libclntsh.so")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Utility \"Zuv Qel Out Srvc\" started..."), std::string::npos) << tmux.Last();
    ASSERT_TRUE(tmux.WaitFor("Starter: running")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Manager: not created"), std::string::npos) << tmux.Last();
    tmux.Keys("t");
    ASSERT_TRUE(tmux.WaitFor("Utility \"Zuv Qel Out Srvc\" finished...")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Stop trying establish connection."), std::string::npos) << tmux.Last();
    ASSERT_TRUE(tmux.WaitFor("Starter: not created")) << tmux.Last();
    tmux.Keys("q");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Last();
    const std::string journal = Journal("ZuvQelOutSrvc_DEBUG");
    EXPECT_NE(journal.find("] Folder log = " + (dir_ / "logs") + "\r\n"), std::string::npos) << journal;
    EXPECT_NE(journal.find(std::string("] ") + kNoClient + "\r\n"), std::string::npos) << journal;
    EXPECT_FALSE(
        fs::exists(dir_ / ("logs/ZuvQelOutSrvc_" + rtl::FormatDateTime("dd.mm.yyyy", rtl::Now()) + ".log")))
        << "the window keeps a journal of its own";
}

TEST_F(Program, DebugModeThroughPipes) {
    Child program({dir_ / "ZuvQelOutSrvc", "/debug"}, Env());
    ASSERT_TRUE(program.WaitFor("Debug form\n")) << program.Output();
    program.Send("start\n");
    ASSERT_TRUE(program.WaitFor("Message: Failed reading connection DB params from common config file."))
        << program.Output();
    WriteIni();
    program.Send("start\n");
    ASSERT_TRUE(program.WaitFor(kNoClient)) << program.Output();
    program.Send("status\n");
    ASSERT_TRUE(program.WaitFor("Starter: running")) << program.Output();
    ASSERT_TRUE(program.WaitFor("Start-up: not taken")) << program.Output();
    // Stopping ends the starter's tries.
    program.Send("stop\n");
    ASSERT_TRUE(program.WaitFor("Error: Thread terminated. Stop trying establish connection."))
        << program.Output();
    program.Send("stop\nstop\nquit\n");
    EXPECT_EQ(program.Wait(), 0) << program.Output();
    EXPECT_NE(program.Output().find("Utility \"Zuv Qel Out Srvc\" finished..."), std::string::npos);
}

TEST_F(Program, DebugIsTheExactFirstArgument) {
    Child program({dir_ / "ZuvQelOutSrvc", "/DEBUG"}, Env());
    EXPECT_EQ(program.Wait(), 1) << "runs as the service, which finds no Connection.ini";
    EXPECT_EQ(program.Output().find("Debug form"), std::string::npos);
}
