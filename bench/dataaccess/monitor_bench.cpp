// What the SQL monitor and pooling cost database work: an insert run with no monitor, with a
// socket monitor whose program reads everything, is absent, closes every connection, never
// reads or reads slowly; and a session connect and disconnect with and without pooling.
// Run: DX_BENCH_ROWS is not used; the database is small.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench/BenchSupport.h"
#include "dataaccess/components/DASQLMonitor.h"
#include "dataaccess/components/Ora.h"
#include "dataaccess/components/OraConnectionPool.h"

namespace {

using namespace dac;

struct Database {
    std::string dir, path;
    Database() {
        dir = bench::MakeBenchDir("monitor_bench");
        path = dir + "/bench.db";
        const std::string script = dir + "/fill.sql";
        std::ofstream out(script);
        std::ifstream catalog(std::string(DX_SOURCE_DIR) + "/platform/oci/catalog.sql");
        out << catalog.rdbuf() << "\n";
        out << "INSERT INTO oci_user VALUES ('bench', 'bench');\n"
               "CREATE TABLE item(id NUMBER(9,0), name VARCHAR2(40));\n";
        out.close();
        if (std::system(("sqlite3 '" + path + "' < '" + script + "'").c_str()) != 0)
            throw std::runtime_error("cannot make the benchmark database");
        setenv("ORACLE_HOME", (std::string(DX_BINARY_DIR) + "/oracle-home").c_str(), 1);
    }
    ~Database() { std::filesystem::remove_all(dir); }
};

Database& Db() {
    static Database db;
    return db;
}

// A monitor program on loopback: 0 reads all, 1 closes each connection, 2 never reads,
// 3 reads 64 bytes every 20 ms.
class Program {
public:
    explicit Program(int mode) : mode_(mode) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (mode == 2) {
            int small = 4096;
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (mode != 2) thread_ = std::thread([this] { Run(); });
    }
    ~Program() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    int Port() const { return port_; }

private:
    void Run() {
        char buf[65536];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            if (mode_ == 1) {
                ::close(c);
                continue;
            }
            while (!stop_) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 20) <= 0) continue;
                if (::recv(c, buf, mode_ == 3 ? 64 : sizeof buf, 0) <= 0) break;
                if (mode_ == 3) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::close(c);
        }
    }
    int mode_, fd_, port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::unique_ptr<TOraSession> NewSession() {
    auto s = std::make_unique<TOraSession>();
    s->SetLoginPrompt(false);
    s->SetUsername("bench");
    s->SetPassword("bench");
    s->SetServer(Db().path);
    return s;
}

// state.range(0): -1 no monitor; 0..3 a program as above; 4 nothing listening.
void BM_InsertTraced(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    std::unique_ptr<Program> program;
    std::unique_ptr<TSocketMonitor> socket;
    std::unique_ptr<rtl::TComponent> owner;
    std::unique_ptr<TOraSQLMonitor> monitor;
    if (mode >= 0) {
        int port = 0;
        if (mode <= 3) {
            program = std::make_unique<Program>(mode);
            port = program->Port();
        } else {
            Program gone(0);
            port = gone.Port();
        }
        socket = std::make_unique<TSocketMonitor>();
        SetSocketMonitorForTests(socket.get());
        owner = std::make_unique<rtl::TComponent>(nullptr);
        owner->Loading();
        monitor = std::make_unique<TOraSQLMonitor>(owner.get());
        monitor->SetOptions({moSocketMonitor});
        monitor->SocketMonitorOptions().Host = "127.0.0.1";
        monitor->SocketMonitorOptions().Port = port;
        monitor->SetActive(true);
    }
    auto s = NewSession();
    s->Connect();
    TOraSQL sql;
    sql.SetSession(s.get());
    sql.SQL().SetText("insert into item(id, name) values (:ID, :NAME)");
    int i = 0;
    for (auto _ : state) {
        sql.ParamByName("ID")->SetAsInteger(++i);
        sql.ParamByName("NAME")->SetAsString("a name for the monitor to show");
        sql.Execute();
    }
    state.SetItemsProcessed(state.iterations());
    s->Disconnect();
    monitor.reset();
    socket.reset();
    SetSocketMonitorForTests(nullptr);
}
BENCHMARK(BM_InsertTraced)->Arg(-1)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

void BM_ConnectDisconnect(benchmark::State& state) {
    auto s = NewSession();
    s->SetPooling(state.range(0) != 0);
    for (auto _ : state) {
        s->Connect();
        s->Disconnect();
    }
    s.reset();
    ClearAllPools();
}
BENCHMARK(BM_ConnectDisconnect)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
