// The service application as a program (a demo service of the tests' own): SIGTERM and SIGINT
// stop it cleanly, a refused start exits with 1 and never reports ready, and systemd-analyze
// accepts the unit that /install writes into a temporary root.
#include <gtest/gtest.h>

#include "tests/platform/os/OsTestSupport.h"

using ostest::Child;
using ostest::DatagramSocket;
using ostest::ReadFile;
using ostest::TempDir;

namespace {

const std::string kDemo = DX_BINARY_DIR "/tests/platform/os/demo/dx_service_demo";

class ServiceProgramTest : public ::testing::Test {
protected:
    std::vector<std::string> Env() const { return {"DEMO_OUT=" + out_, "NOTIFY_SOCKET=" + notifyPath_}; }
    TempDir dir_{"svcit"};
    std::string out_ = dir_ / "events.txt";
    std::string notifyPath_ = dir_ / "notify";
    DatagramSocket notify_{notifyPath_};
};

TEST_F(ServiceProgramTest, StopSignalsEndTheServiceCleanly) {
    for (int signal : {SIGTERM, SIGINT}) {
        std::remove(out_.c_str());
        Child demo({kDemo}, Env());
        ASSERT_TRUE(demo.Started());
        ASSERT_EQ(notify_.Receive(10000), "READY=1");
        for (int i = 0; i < 500 && ReadFile(out_).find("worker running") == std::string::npos; ++i)
            ::usleep(10000);
        demo.Signal(signal);
        EXPECT_EQ(notify_.Receive(10000), "STOPPING=1");
        EXPECT_EQ(demo.Wait(), 0) << demo.Output();
        std::string events = ReadFile(out_);
        EXPECT_EQ(events,
                  "started\nworker running\nstop\nworker end handler on the service thread: yes\nstopped\n")
            << "signal " << signal;
    }
}

TEST_F(ServiceProgramTest, RefusedStartExitsWithOne) {
    std::vector<std::string> env = Env();
    env.push_back("DEMO_FAIL_START=1");
    Child demo({kDemo}, env);
    EXPECT_EQ(demo.Wait(), 1);
    EXPECT_EQ(ReadFile(out_), "start refused\n");
    EXPECT_EQ(notify_.Receive(100), "");
}

TEST_F(ServiceProgramTest, SystemdAcceptsTheInstalledUnit) {
    if (ostest::Shell("command -v systemd-analyze >/dev/null") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed (package systemd; scripts/setup installs it)";
    std::vector<std::string> env = Env();
    env.push_back("DX_INSTALL_ROOT=" + dir_.Path());
    Child install({kDemo, "/install"}, env);
    ASSERT_EQ(install.Wait(), 0) << install.Output();
    EXPECT_EQ(install.Output(), "Service installed successfully\n");
    EXPECT_EQ(ReadFile(out_), "after install\n");
    std::string unit = dir_ / "etc/systemd/system/srvDxDemo.service";
    EXPECT_NE(ReadFile(unit).find("\nDescription=Dx demo service - 100%% a stand-in (installed)\n"),
              std::string::npos);
    std::string report;
    int code = ostest::Shell("systemd-analyze verify " + unit + " 2>&1", &report);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(report, "") << "warnings";
    Child uninstall({kDemo, "/uninstall"}, env);
    EXPECT_EQ(uninstall.Wait(), 0) << uninstall.Output();
    EXPECT_FALSE(std::filesystem::exists(unit));
}

}  // namespace

namespace {

// The hardened units under deploy/ with the program path pointed at an existing program (the
// rest as shipped).
TEST(DeployUnits, SystemdAcceptsTheTemplates) {
    if (ostest::Shell("command -v systemd-analyze >/dev/null") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed (package systemd; scripts/setup installs it)";
    TempDir dir("units");
    for (const char* name : {"srvZuvQelOutSrvc.service", "srvZuvQelInSrvc.service"}) {
        std::string text = ReadFile(std::string(DX_SOURCE_DIR "/deploy/") + name);
        size_t at = text.find("\nExecStart=");
        ASSERT_NE(at, std::string::npos) << name;
        size_t end = text.find('\n', at + 1);
        text.replace(at + 1, end - at - 1, "ExecStart=" + kDemo);
        ostest::WriteFile(dir / name, text);
        std::string report;
        EXPECT_EQ(ostest::Shell("systemd-analyze verify " + dir / name + " 2>&1", &report), 0) << report;
        EXPECT_EQ(report, "") << name;
        EXPECT_NE(text.find("\nUser=zuv\n"), std::string::npos) << name;
        EXPECT_NE(text.find("\nProtectSystem=strict\n"), std::string::npos) << name;
    }
}

}  // namespace
