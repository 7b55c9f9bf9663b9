// The program ZuvQelInSrvc as it is run: a foreground service (its start-up, journal and event
// log, its stop on SIGTERM), its installation as a systemd unit, and the "/debug" mode in tmux
// and through pipes. Here the Oracle home holds no client library: every start stops at the
// database step, journals why and tries again until stopped.
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
    "Password=5F91C5ECF2F22E7DB5F2CF1FCE0B5627\n[LOG]\nLogInPath=";
const char* const kNoClient = "Error: Cannot find OCI DLL: libclntsh.so";

// The program copied into a folder of its own, where it looks for Connection.ini.
class InProgram : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(DX_BINARY_DIR "/import_service/ZuvQelInSrvc", dir_ / "ZuvQelInSrvc");
        fs::permissions(dir_ / "ZuvQelInSrvc", fs::perms::owner_all);
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

    TempDir dir_{"insrvc"};
    std::string syslogPath_ = dir_ / "syslog.sock";
    std::string noClient_ = dir_ / "oracle-home-without-client";
    DatagramSocket syslog_{syslogPath_};
};

bool WaitForText(const std::function<std::string()>& read, const std::string& text, int timeoutMs = 20000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (read().find(text) != std::string::npos) return true;
        ::usleep(50000);
    }
    return false;
}

// Each line after the one before it.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const std::string& line : lines) {
        at = text.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << "\n" << text;
        if (at == std::string::npos) return;
    }
}

}  // namespace

TEST_F(InProgram, WithoutConnectionIniTheStartFails) {
    Child program({dir_ / "ZuvQelInSrvc"}, Env());
    EXPECT_EQ(program.Wait(), 1) << program.Output();
    std::string log;
    for (int i = 0; i < 3; ++i) log += syslog_.Receive(2000) + "\n";
    ExpectInOrder(log, {"srvZuvQelInSrvc[", "Utility \"Zuv Qel In Srvc\" Init...",
                        "Failed reading connection DB params from common config file."});
}

TEST_F(InProgram, ForegroundServiceRunsUntilStoppedAndJournalsTheDatabaseStep) {
    WriteIni();
    Child program({dir_ / "ZuvQelInSrvc"}, Env());
    ASSERT_TRUE(WaitForText([&] { return Journal("ZuvQelInSrvc"); }, kNoClient)) << Journal("ZuvQelInSrvc");
    ExpectInOrder(Journal("ZuvQelInSrvc"),
                  {"] ----------------------\r\n", "] Utility \"Zuv Qel In Srvc\" started...\r\n",
                   "] Server = qel:1521/QEL\r\n", "] OraHome = 0\r\n", "] Scheme = ZUV\r\n",
                   "] UserName = zuv_exchange\r\n", "] Log path = " + (dir_ / "logs") + "\r\n",
                   "] Reading params from DB...\r\n", "] " + std::string(kNoClient) + "\r\n"});
    EXPECT_EQ(Journal("ZuvQelInSrvc").find("change-me"), std::string::npos)
        << "the password is never journalled";
    ::usleep(300000);
    EXPECT_EQ(program.Wait(100), -1) << "the service keeps trying";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0) << program.Output();
    EXPECT_NE(Journal("ZuvQelInSrvc").find("] Utility \"Zuv Qel in Srvc\" finished...\r\n"),
              std::string::npos);
}

TEST_F(InProgram, InstallWritesTheUnitWithTheDescription) {
    Child program({dir_ / "ZuvQelInSrvc", "/install", "/silent"}, {"DX_INSTALL_ROOT=" + (dir_ / "root")});
    ASSERT_EQ(program.Wait(), 0) << program.Output();
    const std::string unit = ReadFile(dir_ / "root/etc/systemd/system/srvZuvQelInSrvc.service");
    EXPECT_NE(unit.find("Description=Zuv Qel In Srvc - Data import from Web to Qel\n"), std::string::npos)
        << unit;
    EXPECT_NE(unit.find("ExecStart=\"" + (dir_ / "ZuvQelInSrvc") + "\"\n"), std::string::npos) << unit;
    Child remove({dir_ / "ZuvQelInSrvc", "/uninstall", "/silent"}, {"DX_INSTALL_ROOT=" + (dir_ / "root")});
    ASSERT_EQ(remove.Wait(), 0) << remove.Output();
    EXPECT_FALSE(fs::exists(dir_ / "root/etc/systemd/system/srvZuvQelInSrvc.service"));
}

TEST_F(InProgram, DebugModeInTmux) {
    if (!Tmux::Available()) GTEST_SKIP() << "tmux is not installed (scripts/setup installs it)";
    WriteIni();
    Tmux tmux("DX_SYSLOG_SOCKET=" + syslogPath_ + " ORACLE_HOME=" + noClient_ + " " +
              (dir_ / "ZuvQelInSrvc") + " /debug");
    ASSERT_TRUE(tmux.Ok());
    ASSERT_TRUE(tmux.WaitFor("[ Start ]  [ Stop ]")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("frmDebug"), std::string::npos);
    EXPECT_NE(tmux.Last().find("Watcher: not created"), std::string::npos) << tmux.Last();
    tmux.Keys("s");
    ASSERT_TRUE(tmux.WaitFor("Cannot find OCI DLL: libclntsh.so")) << tmux.Last();
    ASSERT_TRUE(tmux.WaitFor("Starter: running")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Package manager: not created"), std::string::npos) << tmux.Last();
    tmux.Keys("t");
    ASSERT_TRUE(tmux.WaitFor("Utility \"Zuv Qel in Srvc\" finished...")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Stop trying establish connection."), std::string::npos) << tmux.Last();
    ASSERT_TRUE(tmux.WaitFor("Starter: not created")) << tmux.Last();
    tmux.Keys("q");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Last();
    ExpectInOrder(Journal("QEL_IN_DEBUG"),
                  {"] Utility \"Zuv Qel In Srvc\" started...\r\n", "] Reading data from config file...\r\n",
                   "] Server = qel:1521/QEL\r\n", "] Log path = " + (dir_ / "logs") + "\r\n",
                   "] Reading params from DB...\r\n", "] " + std::string(kNoClient) + "\r\n",
                   "] Utility \"Zuv Qel in Srvc\" finished...\r\n"});
    EXPECT_FALSE(
        fs::exists(dir_ / ("logs/ZuvQelInSrvc_" + rtl::FormatDateTime("dd.mm.yyyy", rtl::Now()) + ".log")))
        << "the window keeps a journal of its own";
}

// Without Connection.ini a Start journals nothing and starts no thread; a second Start after a
// Stop writes into the journal the first one opened.
TEST_F(InProgram, DebugModeThroughPipes) {
    Child program({dir_ / "ZuvQelInSrvc", "/debug"}, Env());
    ASSERT_TRUE(program.WaitFor("frmDebug\n")) << program.Output();
    program.Send("start\n");
    ASSERT_TRUE(program.WaitFor("Message: Failed reading connection DB params from common config file."))
        << program.Output();
    program.Send("status\n");
    ASSERT_TRUE(program.WaitFor("Journal: not open")) << program.Output();
    EXPECT_EQ(program.Output().find("Starter: running"), std::string::npos);
    WriteIni();
    // Each start tries the database until its stop ends the tries.
    const std::string stopped = "Error: Thread terminated. Stop trying establish connection.";
    auto count = [&](const std::string& text) {
        const std::string output = program.Output();
        size_t n = 0;
        for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
        return n;
    };
    for (size_t round = 1; round <= 2; ++round) {
        program.Send("start\n");
        for (int i = 0; i < 200 && count(kNoClient) < round; ++i) program.WaitFor("\x01", 50);
        ASSERT_GE(count(kNoClient), round) << program.Output();
        program.Send("status\n");
        ASSERT_TRUE(program.WaitFor("Start-up: not taken")) << program.Output();
        program.Send("stop\n");
        for (int i = 0; i < 200 && count(stopped) < round; ++i) program.WaitFor("\x01", 50);
        ASSERT_GE(count(stopped), round) << program.Output();
    }
    program.Send("quit\n");
    EXPECT_EQ(program.Wait(), 0) << program.Output();
    const std::string journal = Journal("QEL_IN_DEBUG");
    size_t starts = 0;
    for (size_t at = journal.find("Utility \"Zuv Qel In Srvc\" started..."); at != std::string::npos;
         at = journal.find("Utility \"Zuv Qel In Srvc\" started...", at + 1))
        ++starts;
    EXPECT_EQ(starts, 2u) << journal;
}

TEST_F(InProgram, DebugIsTheExactFirstArgument) {
    Child program({dir_ / "ZuvQelInSrvc", "/DEBUG"}, Env());
    EXPECT_EQ(program.Wait(), 1) << "runs as the service, which finds no Connection.ini";
    EXPECT_EQ(program.Output().find("frmDebug"), std::string::npos);
}
