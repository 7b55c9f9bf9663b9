// Session trace: the statements that switch server tracing on and off, in order.
#include <gtest/gtest.h>

#include "SessionFixture.h"

using namespace dac;

class TraceTest : public SessionTest {
protected:
    // The statements received, line ends of blocks as the server gets them.
    std::vector<std::string> Sent() {
        std::vector<std::string> out;
        for (auto& s : Received())
            if (s.rfind("ALTER SESSION SET", 0) == 0 || s.find("dbms_trace") != std::string::npos)
                out.push_back(s);
        return out;
    }
};

TEST_F(TraceTest, SqlTracingSendsItsSettingsInOrderOnceAndStopsWithTheEventOff) {
    auto s = newSession();
    TOraTrace trace;
    trace.SqlTraceFlags = 2 | 32 | 16;
    trace.TraceFileIdentifier = "zuv";
    trace.MaxDumpFileSize = -1;
    trace.Active = true;
    trace.SetSession(s.get());
    Record();
    s->Connect();
    trace.StartSqlTrace();  // started already: nothing more
    const bool statistics = s->OracleVersion() > 9199;
    s->Disconnect();
    std::vector<std::string> expected = {"ALTER SESSION SET tracefile_identifier = 'zuv'",
                                         "ALTER SESSION SET max_dump_file_size = UNLIMITED"};
    if (statistics) expected.push_back("ALTER SESSION SET statistics_level = TYPICAL");
    expected.push_back("ALTER SESSION SET timed_statistics = TRUE");
    expected.push_back("ALTER SESSION SET EVENTS '10046 trace name context forever, level 8'");
    expected.push_back("ALTER SESSION SET EVENTS '10046 trace name context off'");
    EXPECT_EQ(expected, Sent());
    EXPECT_FALSE(trace.SqlTraceStarted());
}

TEST_F(TraceTest, EventLevelAndStatisticsFollowTheFlags) {
    struct Case {
        uint8_t flags;
        const char* statistics;
        const char* timed;
        const char* level;
    };
    const Case cases[] = {
        {2, "TYPICAL", "FALSE", "1"}, {4, "ALL", "FALSE", "1"},     {32, "BASIC", "TRUE", "1"},
        {8, "BASIC", "FALSE", "4"},   {24, "BASIC", "FALSE", "12"},
    };
    auto s = newSession();
    s->Connect();
    const bool statistics = s->OracleVersion() > 9199;
    for (const auto& c : cases) {
        TOraTrace trace;
        trace.SqlTraceFlags = c.flags;
        trace.SetSession(s.get());
        Record();
        trace.StartSqlTrace();
        std::vector<std::string> expected;
        if (statistics)
            expected.push_back(std::string("ALTER SESSION SET statistics_level = ") + c.statistics);
        expected.push_back(std::string("ALTER SESSION SET timed_statistics = ") + c.timed);
        expected.push_back(std::string("ALTER SESSION SET EVENTS '10046 trace name context forever, level ") +
                           c.level + "'");
        EXPECT_EQ(expected, Sent()) << int(c.flags);
        trace.StopSqlTrace();
    }
}

TEST_F(TraceTest, PlSqlTracingStartsOnceAndStops) {
    auto s = newSession();
    s->Connect();
    TOraTrace trace;
    trace.PlSqlTraceFlags = 0x21;
    trace.SetSession(s.get());
    Record();
    trace.StartPlSqlTrace();
    trace.StartPlSqlTrace();
    EXPECT_TRUE(trace.PlSqlTraceStarted());
    trace.StopPlSqlTrace();
    trace.StopPlSqlTrace();
    EXPECT_FALSE(trace.PlSqlTraceStarted());
    EXPECT_EQ((std::vector<std::string>{"BEGIN\n  dbms_trace.set_plsql_trace(:level);\nEND;",
                                        "BEGIN\n  dbms_trace.clear_plsql_trace;\nEND;"}),
              Sent());
}

TEST(TraceLevel, HighAndLowFourBitsMakeTheLevel) {
    const std::pair<uint8_t, int> cases[] = {{0x00, 0},  {0x01, 1},   {0x0F, 15},
                                             {0x21, 65}, {0xF0, 480}, {0xFF, 495}};
    for (auto [flags, level] : cases) EXPECT_EQ(level, TOraTrace::PlSqlTraceLevel(flags)) << int(flags);
}

TEST_F(TraceTest, AQuoteInTheFileIdentifierCannotEndTheStatement) {
    auto s = newSession();
    s->Connect();
    TOraTrace trace;
    trace.SqlTraceFlags = 2;
    trace.TraceFileIdentifier = "x' EVENTS '1";
    trace.SetSession(s.get());
    Record();
    try {
        trace.StartSqlTrace();
    } catch (const EOraError&) {
        // The server may refuse the odd name; what matters is the text it got.
    }
    ASSERT_FALSE(Sent().empty());
    EXPECT_EQ("ALTER SESSION SET tracefile_identifier = 'x'' EVENTS ''1'", Sent()[0]);
}

TEST_F(TraceTest, TracingNeedsAConnectedSession) {
    TOraTrace trace;
    trace.SqlTraceFlags = 2;
    EXPECT_EQ("Session is not defined", ErrorText([&] { trace.Start(); }));
    auto s = newSession();
    trace.SetSession(s.get());
    EXPECT_EQ("Session is not connected", ErrorText([&] { trace.Start(); }));
    EXPECT_EQ(&trace, s->Trace());
    s.reset();
    EXPECT_EQ(nullptr, trace.Session()) << "a session going away detaches its trace";
}
