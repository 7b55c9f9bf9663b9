// A session traced to a monitor program written in Python (monitor_listener.py), which decodes
// every message byte for byte; and monitor programs that close, never read or read slowly,
// which must not disturb database work.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "SessionFixture.h"
#include "dataaccess/components/DASQLMonitor.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

class PythonListener {
public:
    PythonListener(const std::string& output, const std::string& mode, int connections, int seconds = 20)
        : output_(output) {
        const std::string cmd = "/usr/bin/python3 " + std::string(DX_SOURCE_DIR) +
                                "/tests/dataaccess/components/monitor_listener.py " + output + " --mode " +
                                mode + " --connections " + std::to_string(connections) + " --seconds " +
                                std::to_string(seconds);
        pipe_ = popen(cmd.c_str(), "r");
        char line[64] = {};
        if (pipe_ && fgets(line, sizeof line, pipe_)) port_ = std::atoi(line);
    }
    ~PythonListener() { Finish(); }
    int Port() const { return port_; }
    // Waits for the listener to end; its decoded messages, one JSON object a line.
    std::vector<std::string> Finish() {
        if (pipe_) {
            status_ = pclose(pipe_);
            pipe_ = nullptr;
        }
        std::vector<std::string> lines;
        std::ifstream in(output_);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    int Status() const { return status_; }

private:
    std::string output_;
    FILE* pipe_ = nullptr;
    int port_ = 0;
    int status_ = -1;
};

bool Has(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

class ListenerTest : public SessionTest {
protected:
    void TearDown() override {
        SetSocketMonitorForTests(nullptr);
        SessionTest::TearDown();
    }
    std::unique_ptr<TOraSQLMonitor> socketMonitor(int port) {
        owner_ = std::make_unique<rtl::TComponent>(nullptr);
        owner_->Loading();
        auto m = std::make_unique<TOraSQLMonitor>(owner_.get());
        m->SetOptions({moSocketMonitor});
        m->SocketMonitorOptions().Host = "127.0.0.1";
        m->SocketMonitorOptions().Port = port;
        m->SocketMonitorOptions().SendTimeout = 500;
        m->SetActive(true);
        return m;
    }
    std::unique_ptr<rtl::TComponent> owner_;
};

}  // namespace

TEST_F(ListenerTest, ASessionIsTracedToThePythonMonitorByteForByte) {
    PythonListener listener(dir_ + "/trace.jsonl", "record", 1);
    ASSERT_GT(listener.Port(), 0);
    TSocketMonitor socket;
    SetSocketMonitorForTests(&socket);
    auto m = socketMonitor(listener.Port());
    {
        auto s = newSession();
        s->SetName("Session1");
        s->Connect();
        auto sql = newSQL(s.get(), "insert into item(id, name) values (:ID, :NAME)");
        sql->SetName("Insert1");
        sql->ParamByName("ID")->SetAsInteger(7);
        sql->ParamByName("NAME")->SetAsString(rtl::Utf8ToAnsi("Привет"));
        s->StartTransaction();
        sql->Execute();
        s->Commit();
        s->Disconnect();
    }
    m.reset();
    ASSERT_TRUE(socket.WaitIdle(5000));
    auto lines = listener.Finish();
    EXPECT_EQ(listener.Status(), 0);
    std::vector<std::string> events;  // probes left out
    for (const auto& l : lines) {
        EXPECT_FALSE(Has(l, "\"decode_error\"")) << l;
        if (!Has(l, "\"type\": 6")) events.push_back(l);
    }
    ASSERT_EQ(events.size(), 12u);
    EXPECT_TRUE(Has(events[0], "\"type\": 2") && Has(events[0], "\"event\": 0") &&
                Has(events[0], "\"description\": \"Oracle monitoring is started\""))
        << events[0];
    EXPECT_TRUE(Has(events[0], "\"pid\": " + std::to_string(getpid()))) << events[0];
    const std::vector<std::pair<int, int>> kinds = {{2, 0},  {4, 2}, {5, 2}, {4, 4}, {5, 4}, {4, 10},
                                                    {5, 10}, {4, 5}, {5, 5}, {4, 3}, {5, 3}, {1, 1}};
    for (size_t i = 0; i < kinds.size(); ++i)
        EXPECT_TRUE(Has(events[i], "\"type\": " + std::to_string(kinds[i].first) + "}") &&
                    Has(events[i], "\"event\": " + std::to_string(kinds[i].second) + ","))
            << i << ": " << events[i];
    EXPECT_TRUE(Has(events[1], "\"objname\": \"Session1\"") && Has(events[1], "\"objtype\": 1"));
    const std::string& exec = events[5];
    EXPECT_TRUE(Has(exec, "\"sql\": \"insert into item(id, name) values (:ID, :NAME)\"")) << exec;
    EXPECT_TRUE(Has(exec, "\"objname\": \"Insert1\"") && Has(exec, "\"parentname\": \"Session1\"")) << exec;
    EXPECT_TRUE(
        Has(exec, "{\"datatype\": \"INTEGER\", \"name\": \"ID\", \"paramtype\": \"\", \"value\": \"7\"}"))
        << exec;
    // Cyrillic text travels as UTF-8 (JSON escapes it).
    EXPECT_TRUE(Has(exec, "\"value\": \"'\\u041f\\u0440\\u0438\\u0432\\u0435\\u0442'\"")) << exec;
    EXPECT_TRUE(Has(events[6], "\"rows\": 1") && Has(events[6], "\"failed\": 0")) << events[6];
    EXPECT_TRUE(Has(events[11], "\"description\": \"Oracle monitoring is finished\"")) << events[11];
}

TEST_F(ListenerTest, MonitorProgramsThatMisbehaveDoNotDisturbDatabaseWork) {
    for (const char* mode : {"close", "silent", "slow"}) {
        PythonListener listener(dir_ + "/" + mode + ".jsonl", mode, 1000, 4);
        ASSERT_GT(listener.Port(), 0) << mode;
        auto socket = std::make_unique<TSocketMonitor>();
        SetSocketMonitorForTests(socket.get());
        auto m = socketMonitor(listener.Port());
        auto s = newSession();
        s->Connect();
        dbExec("DELETE FROM item");
        auto sql = newSQL(s.get(), "insert into item(id, name) values (:ID, :NAME)");
        const std::string padding(3000, 'p');
        s->StartTransaction();
        for (int i = 0; i < 300; ++i) {
            sql->SQL().SetText("insert into item(id, name) values (:ID, :NAME) /* " + padding + " */");
            sql->ParamByName("ID")->SetAsInteger(i);
            sql->ParamByName("NAME")->SetAsString(padding.substr(0, 40));
            sql->Execute();
        }
        s->Commit();
        EXPECT_EQ(dbTexts("SELECT count(*) FROM item"), std::vector<std::string>{"300"}) << mode;
        s->Disconnect();
        m.reset();
        socket.reset();  // bounded even when the sender is stuck in a send
        SetSocketMonitorForTests(nullptr);
        listener.Finish();
    }
}
