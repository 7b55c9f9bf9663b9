// The event log over syslog, checked through a datagram socket of the test's own in place of
// /dev/log: the classic syslog form, severities, the source as identity, UTF-8 text, the
// reconnect after the daemon went away and the fallback to standard error.
#include "platform/os/EventLog.h"

#include <gtest/gtest.h>

#include <regex>

#include "tests/platform/os/OsTestSupport.h"

using os::TEventLogger;
using ostest::ScopedEnv;
using ostest::TempDir;

namespace {

class EventLogTest : public ::testing::Test {
protected:
    TempDir dir_{"evlog"};
    std::string path_ = dir_ / "log";
    ScopedEnv env_{os::SyslogSocketVariable, path_};
};

TEST_F(EventLogTest, WritesClassicSyslogDatagrams) {
    ostest::DatagramSocket server(path_);
    TEventLogger log("srvZuvQelOutSrvc");
    struct {
        uint32_t type;
        int priority;  // daemon facility (3) * 8 + severity
    } cases[] = {
        {os::EVENTLOG_ERROR_TYPE, 27}, {os::EVENTLOG_WARNING_TYPE, 28},  {os::EVENTLOG_INFORMATION_TYPE, 30},
        {os::EVENTLOG_SUCCESS, 30},    {os::EVENTLOG_AUDIT_FAILURE, 29},
    };
    std::string pid = std::to_string(::getpid());
    for (const auto& c : cases) {
        log.LogMessage("Utility \"Zuv Qel Out Srvc\" Init...", c.type, 0, 1);
        std::string got = server.Receive();
        std::regex form("<" + std::to_string(c.priority) +
                        ">[A-Z][a-z]{2} [ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] srvZuvQelOutSrvc\\[" +
                        pid + "\\]: Utility \"Zuv Qel Out Srvc\" Init\\.\\.\\.");
        EXPECT_TRUE(std::regex_match(got, form)) << got;
    }
}

TEST_F(EventLogTest, TextGoesAsUtf8WithoutTrailingLineEnd) {
    ostest::DatagramSocket server(path_);
    TEventLogger log("srvZuvQelInSrvc");
    log.LogMessage("[10:00:00.000] \xCF\xF0\xE8\xE2\xE5\xF2\r\n", os::EVENTLOG_INFORMATION_TYPE);
    std::string got = server.Receive();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.substr(got.find("]: ") + 3),
              "[10:00:00.000] \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

TEST_F(EventLogTest, ReconnectsAfterTheDaemonRestarted) {
    TEventLogger log("srvX");
    {
        ostest::DatagramSocket first(path_);
        log.LogMessage("one");
        EXPECT_NE(first.Receive().find("one"), std::string::npos);
    }
    ostest::DatagramSocket second(path_);
    log.LogMessage("two");
    EXPECT_NE(second.Receive().find("srvX[" + std::to_string(::getpid()) + "]: two"), std::string::npos);
}

TEST_F(EventLogTest, FallsBackToStandardErrorWithoutSocket) {
    TEventLogger log("srvX");
    ::testing::internal::CaptureStderr();
    log.LogMessage("Error. Init on \"Zuv Qel Out Srvc\": no socket");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "srvX[" + std::to_string(::getpid()) + "]: Error. Init on \"Zuv Qel Out Srvc\": no socket\n");
}

}  // namespace
