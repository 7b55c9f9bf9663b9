// The monitor wire protocol and the socket monitor against a loopback listener.
#include "dataaccess/components/DBMonitorClient.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/rtl/Threads.h"
#include "tests/dataaccess/components/MonitorListener.h"

using namespace dac;

namespace {

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        if (!h.empty()) h += ' ';
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

TMonitorEvent Event(int kind, const std::u16string& sql) {
    TMonitorEvent e;
    e.EventType = kind;
    e.Description = u"SQL Execute: " + sql;
    e.ObjectID = 0x1234;
    e.ObjectName = u"Query1";
    e.ObjectType = 3;
    e.ObjectTypeName = u"TOraSQL";
    e.ParentID = 0x5678;
    e.ParentName = u"Session1";
    e.ParentType = 1;
    e.ParentTypeName = u"TOraSession";
    e.SQL = sql;
    e.Params = {{u"ID", u"NUMBER", u"IN", u"5"}};
    e.CallStack = {u"frame 1", u"frame 2"};
    e.RowsAffected = 7;
    return e;
}

void Configure(TSocketMonitor& m, int port, int reconnect = 5000, int send = 1000) {
    m.SetCaption(u"Oracle");
    m.SetHost("127.0.0.1");
    m.SetPort(port);
    m.SetReconnectTimeout(reconnect);
    m.SetSendTimeout(send);
}

}  // namespace

TEST(MonitorWire, IntegersAndTextsInNetworkOrder) {
    TMemoryMessagePacker p;
    p.WriteString(u"abc");
    EXPECT_EQ(Hex(p.Bytes()), "00 00 00 03 61 62 63");
    TMemoryMessagePacker q;
    q.WriteString(u"\u00e9\u20ac");  // 2 + 3 UTF-8 bytes
    q.WriteInteger(-2);
    q.WriteString(u"");
    EXPECT_EQ(Hex(q.Bytes()), "00 00 00 05 c3 a9 e2 82 ac ff ff ff fe 00 00 00 00");
    EXPECT_EQ(q.ReadString(), u"\u00e9\u20ac");
    EXPECT_EQ(q.ReadInteger(), -2);
    EXPECT_EQ(q.ReadString(), u"");
    EXPECT_THROW(q.ReadInteger(), ESocketError);
}

TEST(MonitorWire, EveryMessageReadsBackAsWritten) {
    TMonitorEvent e = Event(etExecute, u"select 1 from dual");
    e.EventID = 9;
    auto start = MakeEventStartMessage(e, 1000);
    auto end = MakeEventEndMessage(e, 9, 2000);
    end->Failed = 1;
    end->ErrorText = u"ORA-00942";
    TStartupMessage startup;
    startup.ProcessId = 42;
    startup.Description = u"Oracle monitoring is started";
    startup.ExeName = u"/usr/bin/prog";
    TMemoryMessagePacker p;
    WriteMessage(p, startup);
    WriteMessage(p, *start);
    p.WriteInteger(mtProbe);
    WriteMessage(p, *end);
    // The start-up message: code 2, process id, event kind 0, description, exe name.
    EXPECT_EQ(Hex(p.Bytes().substr(0, 16)), "00 00 00 02 00 00 00 2a 00 00 00 00 00 00 00 1c");

    auto messages = DecodeStream(p.Bytes());
    ASSERT_EQ(messages.size(), 4u);
    auto* s0 = dynamic_cast<TStartupMessage*>(messages[0].get());
    ASSERT_NE(s0, nullptr);
    EXPECT_EQ(s0->ExeName, u"/usr/bin/prog");
    auto* s1 = dynamic_cast<TEventStartMessage*>(messages[1].get());
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(s1->EventID, 9);
    EXPECT_EQ(s1->StartTime, 1000);
    EXPECT_EQ(s1->ObjectName, u"Query1");
    EXPECT_EQ(s1->ParentTypeName, u"TOraSession");
    EXPECT_EQ(s1->SQL, u"select 1 from dual");
    ASSERT_EQ(s1->Params.size(), 1u);
    EXPECT_EQ(s1->Params[0].DataType, u"NUMBER");
    EXPECT_EQ(s1->CallStack.size(), 2u);
    EXPECT_EQ(messages[2], nullptr);
    auto* s3 = dynamic_cast<TEventEndMessage*>(messages[3].get());
    ASSERT_NE(s3, nullptr);
    EXPECT_EQ(s3->Failed, 1);
    EXPECT_EQ(s3->ErrorText, u"ORA-00942");
    EXPECT_EQ(s3->RowsAffected, 7);
    EXPECT_EQ(s3->EndTime, 2000);
}

TEST(SocketMonitor, StartupFirstThenProbedEvents) {
    MonitorListener listener;
    {
        TSocketMonitor m;
        Configure(m, listener.Port());
        m.SendStartup();
        TMonitorEvent e = Event(etExecute, u"update t set a = 1");
        m.SendEventStart(e);
        EXPECT_EQ(e.EventID, 1);
        m.SendEventEnd(e);
        m.SendFinished();
        ASSERT_TRUE(m.WaitIdle(5000));
    }
    auto streams = listener.Streams(1);
    ASSERT_EQ(streams.size(), 1u);
    // Start-up (never preceded by a copy of itself), then each message behind a probe; the
    // finished message closes the connection.
    EXPECT_EQ(TypesOf(streams[0]),
              (std::vector<int>{mtStartup, mtProbe, mtEventStart, mtProbe, mtEventEnd, mtProbe, mtEvent}));
    auto messages = DecodeStream(streams[0]);
    auto* startup = static_cast<TStartupMessage*>(messages[0].get());
    EXPECT_EQ(startup->Description, u"Oracle monitoring is started");
    EXPECT_EQ(startup->ProcessId, static_cast<int32_t>(getpid()));
    EXPECT_EQ(startup->EventType, etStartup);
    auto* end = static_cast<TEventEndMessage*>(messages[4].get());
    EXPECT_EQ(end->EventID, 1);
    auto* finished = static_cast<TEventMessage*>(messages[6].get());
    EXPECT_EQ(finished->EventType, etFinished);
    EXPECT_EQ(finished->Description, u"Oracle monitoring is finished");
}

TEST(SocketMonitor, ANewConnectionBeginsWithTheStartupMessage) {
    MonitorListener listener;
    TSocketMonitor m;
    Configure(m, listener.Port(), 0);
    m.SendStartup();
    TMonitorEvent e = Event(etExecute, u"select 1 from dual");
    m.SendEventStart(e);
    ASSERT_TRUE(m.WaitIdle(5000));
    for (int i = 0; i < 500 && listener.Accepted() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    listener.DropConnection();
    listener.Streams(1);
    m.SendEventStart(e);
    ASSERT_TRUE(m.WaitIdle(5000));
    m.SendFinished();
    ASSERT_TRUE(m.WaitIdle(5000));
    auto streams = listener.Streams(2);
    ASSERT_EQ(streams.size(), 2u) << listener.Accepted() << " " << m.ConnectAttempts();
    EXPECT_EQ(TypesOf(streams[1]), (std::vector<int>{mtStartup, mtEventStart, mtProbe, mtEvent}));
}

TEST(SocketMonitor, FinishedMessageNeverOpensAConnection) {
    MonitorListener listener;
    TSocketMonitor m;
    Configure(m, listener.Port());
    m.SendFinished();
    ASSERT_TRUE(m.WaitIdle(5000));
    EXPECT_EQ(m.ConnectAttempts(), 0);
    EXPECT_EQ(listener.Accepted(), 0);
}

TEST(SocketMonitor, NothingListeningCostsOneConnectPerReconnectWait) {
    TSocketMonitor m;
    Configure(m, UnusedPort(), 5000);
    m.SendStartup();
    for (int i = 0; i < 50; ++i) {
        TMonitorEvent e = Event(etExecute, u"select 1 from dual");
        m.SendEventStart(e);
        m.SendEventEnd(e);
    }
    ASSERT_TRUE(m.WaitIdle(5000));
    EXPECT_EQ(m.ConnectAttempts(), 1);
    EXPECT_EQ(m.LastEventID(), 50);
}

TEST(SocketMonitor, LargeMessageArrivesWholeInSeveralSends) {
    MonitorListener listener;
    std::u16string sql(100000, u'x');
    sql += u"\u042f";  // a Cyrillic letter: two bytes in UTF-8
    {
        TSocketMonitor m;
        Configure(m, listener.Port());
        TMonitorEvent e = Event(etExecute, sql);
        m.SendEventStart(e);
        ASSERT_TRUE(m.WaitIdle(5000));
    }
    auto streams = listener.Streams(1, 1000);
    ASSERT_EQ(streams.size(), 1u);
    auto messages = DecodeStream(streams[0]);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(static_cast<TEventStartMessage*>(messages[0].get())->SQL, sql);
}

TEST(SocketMonitor, FullQueueDropsMessagesButKeepsTheStartupMessage) {
    // A monitor program that never reads: the sender blocks in send, the ring fills, and
    // the start-up message queued on a full ring must survive to be freed once, by its owner.
    MonitorListener listener(MonitorListener::NeverRead);
    auto m = std::make_unique<TSocketMonitor>();
    Configure(*m, listener.Port(), 5000, 1000);
    m->SendStartup();
    std::u16string big(60000, u'y');
    for (int i = 0; i < 60; ++i) {
        TMonitorEvent e = Event(etExecute, big);
        m->SendEventStart(e);
    }
    for (int i = 0; i < 1500; ++i) {
        TMonitorEvent e = Event(etExecute, u"select 1 from dual");
        m->SendEventStart(e);
    }
    EXPECT_LE(m->QueuedCount(), 1000);
    EXPECT_GE(m->QueuedCount(), 990);
    for (int i = 0; i < 5; ++i) m->SendStartup();
    EXPECT_LE(m->QueuedCount(), 1000);
    // Shutdown is bounded although the sender is stuck in send.
    const uint32_t start = rtl::GetTickCount();
    m.reset();
    EXPECT_LT(rtl::GetTickCount() - start, 15000u);
}

TEST(SocketMonitor, MonitorProgramClosingDoesNotKillTheProcess) {
    MonitorListener listener(MonitorListener::CloseAtOnce);
    TSocketMonitor m;
    Configure(m, listener.Port(), 0);
    m.SendStartup();
    std::u16string big(20000, u'z');
    for (int i = 0; i < 40; ++i) {
        TMonitorEvent e = Event(etExecute, big);
        m.SendEventStart(e);
        m.SendEventEnd(e);
    }
    ASSERT_TRUE(m.WaitIdle(10000));
    EXPECT_GE(listener.Accepted(), 1);
}
