// The service application in the test process: the order of start, execute and stop on the
// calling thread, stop requests from other threads, refused and failed starts and stops, the
// systemd notifications, and the unit that /install writes.
#include "platform/os/SvcMgr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <thread>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "tests/platform/os/OsTestSupport.h"

using os::TService;
using os::TServiceApplication;
using ostest::DatagramSocket;
using ostest::ReadFile;
using ostest::ScopedEnv;
using ostest::TempDir;

namespace {

class TQuickThread : public rtl::TThread {
protected:
    void Execute() override {}
};

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest() {
        service_ = app_.CreateForm<TService>();
        service_->SetName("srvTest");
        service_->DisplayName = "TestSrvc";
    }
    // Asks for a stop from another thread once the condition holds.
    void StopFromOutsideWhen(std::function<bool()> ready, int times = 1) {
        helper_ = std::thread([this, ready, times] {
            for (int i = 0; i < times; ++i) {
                while (!ready()) rtl::Sleep(5);
                while (!service_->Controller(os::SERVICE_CONTROL_STOP)) rtl::Sleep(5);
                rtl::Sleep(50);
            }
        });
    }
    ~ServiceTest() override {
        if (helper_.joinable()) helper_.join();
    }

    TempDir dir_{"svc"};
    ScopedEnv syslog_{os::SyslogSocketVariable, dir_ / "log"};
    ScopedEnv notify_{"NOTIFY_SOCKET", std::nullopt};
    TServiceApplication app_;
    TService* service_;
    std::thread helper_;
    std::vector<std::string> events_;
};

TEST_F(ServiceTest, StartsExecutesAndStopsOnTheCallingThread) {
    uint32_t self = rtl::GetCurrentThreadId();
    std::unique_ptr<TQuickThread> worker;
    std::atomic<bool> workerEnded{false};
    service_->OnStart = [&](TService* s, bool& started) {
        EXPECT_EQ(s->Status(), os::csStartPending);
        events_.push_back(rtl::GetCurrentThreadId() == self ? "start" : "start elsewhere");
        worker = std::make_unique<TQuickThread>();
        worker->OnTerminate = [&](rtl::TObject*) {
            events_.push_back(rtl::GetCurrentThreadId() == self ? "end handler" : "end handler elsewhere");
            workerEnded = true;
        };
        worker->Start();
        started = true;
    };
    service_->OnStop = [&](TService* s, bool& stopped) {
        EXPECT_EQ(s->Status(), os::csStopPending);
        events_.push_back(rtl::GetCurrentThreadId() == self ? "stop" : "stop elsewhere");
        worker.reset();
        stopped = true;
    };
    StopFromOutsideWhen([&] { return workerEnded.load(); });
    EXPECT_EQ(app_.Run({}), 0);
    EXPECT_EQ(events_, (std::vector<std::string>{"start", "end handler", "stop"}));
    EXPECT_EQ(service_->Status(), os::csStopped);
    EXPECT_FALSE(service_->Controller(os::SERVICE_CONTROL_STOP)) << "not running any more";
}

TEST_F(ServiceTest, RefusedOrFailedStartEndsWithExitCodeOne) {
    DatagramSocket syslog(dir_ / "log");
    for (bool raise : {false, true}) {
        events_.clear();
        service_->OnStart = [&, raise](TService*, bool& started) {
            if (raise) throw rtl::Exception("Failed reading connection DB params");
            started = false;
        };
        service_->OnExecute = [&](TService*) { events_.push_back("execute"); };
        service_->OnStop = [&](TService*, bool&) { events_.push_back("stop"); };
        EXPECT_EQ(app_.Run({}), 1);
        EXPECT_TRUE(events_.empty());
    }
    std::string entry = syslog.Receive();
    EXPECT_NE(entry.find("srvTest["), std::string::npos) << entry;
    EXPECT_NE(entry.find("]: Service failed on start: Failed reading connection DB params"),
              std::string::npos)
        << entry;
}

TEST_F(ServiceTest, RefusedStopKeepsTheServiceRunning) {
    int stops = 0;
    service_->OnStop = [&](TService* s, bool& stopped) {
        stopped = ++stops > 1;
        if (!stopped) {
            EXPECT_EQ(s->Status(), os::csStopPending);
        }
    };
    StopFromOutsideWhen([&] { return service_->Status() == os::csRunning; }, 2);
    EXPECT_EQ(app_.Run({}), 0);
    EXPECT_EQ(stops, 2);
}

TEST_F(ServiceTest, ExecuteThatEndsByItselfStillStops) {
    service_->OnExecute = [&](TService* s) {
        for (int i = 0; i < 3; ++i) s->ServiceThread()->ProcessRequests(false);
        events_.push_back("execute");
    };
    service_->OnStop = [&](TService*, bool&) { events_.push_back("stop"); };
    EXPECT_EQ(app_.Run({}), 0);
    EXPECT_EQ(events_, (std::vector<std::string>{"execute", "stop"}));
}

TEST_F(ServiceTest, ExecuteThatRaisesIsLoggedStoppedAndFails) {
    DatagramSocket syslog(dir_ / "log");
    service_->OnExecute = [](TService*) { throw rtl::Exception("boom"); };
    service_->OnStop = [&](TService*, bool&) { events_.push_back("stop"); };
    EXPECT_EQ(app_.Run({}), 1);
    EXPECT_EQ(events_, (std::vector<std::string>{"stop"}));
    EXPECT_NE(syslog.Receive().find("Service failed on execute: boom"), std::string::npos);
}

TEST_F(ServiceTest, StopHandlerThatRaisesStillStops) {
    DatagramSocket syslog(dir_ / "log");
    service_->OnStop = [](TService*, bool& stopped) {
        stopped = false;
        throw rtl::Exception("cannot stop");
    };
    StopFromOutsideWhen([&] { return service_->Status() == os::csRunning; });
    EXPECT_EQ(app_.Run({}), 0);
    EXPECT_NE(syslog.Receive().find("Service failed on stop: cannot stop"), std::string::npos);
}

TEST_F(ServiceTest, TellsSystemdWhenReadyAndWhenStopping) {
    for (std::string address :
         {dir_ / "notify", std::string("@dx-notify-test-") + std::to_string(::getpid())}) {
        std::string bound = address[0] == '@' ? std::string(1, '\0') + address.substr(1) : address;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, bound.data(), bound.size());
        int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr),
                         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + bound.size())),
                  0);
        ScopedEnv notify("NOTIFY_SOCKET", address);
        StopFromOutsideWhen([&] { return service_->Status() == os::csRunning; });
        EXPECT_EQ(app_.Run({}), 0);
        helper_.join();
        char buffer[64];
        std::vector<std::string> got;
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got.emplace_back(buffer, size_t(n));
        EXPECT_EQ(got, (std::vector<std::string>{"READY=1", "STOPPING=1"})) << address;
        ::close(fd);
        if (address[0] != '@') ::unlink(address.c_str());
    }
}

TEST_F(ServiceTest, FailedStartIsNeverReportedReady) {
    DatagramSocket notify(dir_ / "notify");
    ScopedEnv env("NOTIFY_SOCKET", dir_ / "notify");
    service_->OnStart = [](TService*, bool& started) { started = false; };
    EXPECT_EQ(app_.Run({}), 1);
    EXPECT_EQ(notify.Receive(100), "");
}

// ---- /install and /uninstall

class InstallTest : public ServiceTest {
protected:
    InstallTest() {
        app_.InstallRoot = dir_.Path();
        service_->Description = "Zuv Qel Out Srvc - Data export from Qel to Web";
    }
    std::string Unit() const { return dir_ / "etc/systemd/system/srvTest.service"; }
};

TEST_F(InstallTest, InstallWritesTheUnitAndUninstallRemovesIt) {
    service_->BeforeInstall = [&](TService*) { events_.push_back("before install"); };
    service_->AfterInstall = [&](TService*) {
        EXPECT_TRUE(rtl::FileExists(Unit()));
        events_.push_back("after install");
    };
    service_->BeforeUninstall = [&](TService*) { events_.push_back("before uninstall"); };
    service_->AfterUninstall = [&](TService*) { events_.push_back("after uninstall"); };
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(app_.Run({"/install"}), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Service installed successfully\n");
    std::string unit = ReadFile(Unit());
    EXPECT_EQ(unit, app_.UnitText(*service_));
    EXPECT_NE(unit.find("\nDescription=Zuv Qel Out Srvc - Data export from Qel to Web\n"), std::string::npos);
    EXPECT_NE(unit.find("\nExecStart=\"" + rtl::ApplicationExeName() + "\"\n"), std::string::npos);
    EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat(Unit().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(app_.Run({"/UNINSTALL"}), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Service uninstalled successfully\n");
    EXPECT_FALSE(rtl::FileExists(Unit()));
    EXPECT_EQ(events_, (std::vector<std::string>{"before install", "after install", "before uninstall",
                                                 "after uninstall"}));
}

TEST_F(InstallTest, DescriptionSetAfterInstallReachesTheUnit) {
    service_->Description.clear();
    service_->AfterInstall = [](TService* s) {
        s->Description = "Zuv Qel In Srvc - Data import from Web to Qel";
    };
    EXPECT_EQ(app_.Run({"/install", "/silent"}), 0);
    EXPECT_NE(ReadFile(Unit()).find("\nDescription=Zuv Qel In Srvc - Data import from Web to Qel\n"),
              std::string::npos);
}

TEST_F(InstallTest, UnitValuesAreEscaped) {
    service_->Description = "100% sure\nsecond line\\";
    service_->ServiceStartName = "zuv";
    std::string unit = app_.UnitText(*service_);
    EXPECT_NE(unit.find("\nDescription=100%% sure second line\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nUser=zuv\n"), std::string::npos) << unit;
    service_->Description.clear();
    EXPECT_NE(app_.UnitText(*service_).find("\nDescription=TestSrvc\n"), std::string::npos)
        << "the display name";
}

TEST_F(InstallTest, InstallTwiceAndUninstallOfNothingFail) {
    EXPECT_EQ(app_.Run({"/install", "/silent"}), 0);
    std::string first = ReadFile(Unit());
    service_->Description = "changed";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(app_.Run({"/install"}), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Service failed to install with error: \"The service srvTest is already installed: " + Unit() +
                  "\"\n");
    EXPECT_EQ(ReadFile(Unit()), first);
    EXPECT_EQ(app_.Run({"/uninstall", "/silent"}), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(app_.Run({"/uninstall"}), 1);
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "Service failed to uninstall with error: \"The service srvTest is not installed: " + Unit() + "\"\n");
}

TEST_F(InstallTest, UnwritableRootFails) {
    ostest::WriteFile(dir_ / "file", "not a folder");
    app_.InstallRoot = dir_ / "file";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(app_.Run({"/install"}), 1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                  "Service failed to install with error: \"Cannot create folder"),
              std::string::npos);
}

TEST(ServiceApplication, NothingToRunOrInstallFails) {
    TServiceApplication app;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(app.Run({}), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "No service to run\n");
    TempDir dir("svc");
    app.InstallRoot = dir.Path();
    app.CreateForm<TService>();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(app.Run({"/install"}), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Service failed to install with error: \"A service without a name cannot be installed\"\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "etc"));
}

TEST(ServiceApplication, InstallRootComesFromTheEnvironment) {
    {
        ScopedEnv root("DX_INSTALL_ROOT", "/tmp/somewhere");
        EXPECT_EQ(TServiceApplication().InstallRoot, "/tmp/somewhere");
    }
    ScopedEnv none("DX_INSTALL_ROOT", std::nullopt);
    TServiceApplication app;
    EXPECT_EQ(app.InstallRoot, "/");
    TService* s = app.CreateForm<TService>();
    s->SetName("srvX");
    EXPECT_EQ(app.UnitFileName(*s), "/etc/systemd/system/srvX.service");
}

}  // namespace
