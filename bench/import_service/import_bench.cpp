// One web package through the import's real path (unzip with the archive password, the XML read
// with libxml2, every request through its stored procedure on the stand-in Oracle client in one
// transaction, the package marked imported and moved to Back) side by side with Info-ZIP
// "unzip -P" of the same package plus the sqlite3 tool inserting the same rows in one transaction.
// The package holds BENCH_REQUESTS requests (default 200000), half card recharges and half debits
// of one card of the demo database: the two request kinds of which a web side sends the most.
// The package is made once by zuvwebpack; each run imports into a fresh copy of a demo Qel
// database. Meaningful only from an optimised build without sanitizers
// (cmake -DCMAKE_BUILD_TYPE=Release -DDX_SANITIZE=OFF).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchSupport.h"
#include "common/oci/uOciDataAccess.h"
#include "import_service/program/uImportOciSession.h"
#include "import_service/uPackageManager.h"
#include "import_service/udmMainDataModule.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

std::string Output(const std::string& command) {
    std::string text;
    FILE* p = popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("failed: " + command);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    if (pclose(p) != 0) throw std::runtime_error("failed: " + command);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

struct Web {
    std::string dir, base, package, name, inserts;
    long requests = 200000;
    Web() {
        if (const char* n = std::getenv("BENCH_REQUESTS")) requests = std::stol(n);
        dir = MakeBenchDir("importbench");
        base = dir + "/base.db";
        TimeCommand("python3 '" DX_SOURCE_DIR "/scripts/make-qel-db' --size tiny --seed 7 --root '" + dir +
                    "/zuv' '" + base + "' >/dev/null");
        setenv("ORACLE_HOME", DX_BINARY_DIR "/oracle-home", 1);
        const std::string sqlite = "sqlite3 '" + base + "' ";
        const std::string card =
            Output(sqlite + "\"SELECT min(crd_graphnum) FROM card WHERE client_id = 1\"");
        const std::string service =
            Output(sqlite + "\"SELECT min(prs_srv_id) FROM purse WHERE gr_nomer = '" + card + "'\"");
        // The requests for zuvwebpack and the same rows as the sqlite3 tool's inserts.
        std::ofstream list(dir + "/requests.txt", std::ios::binary),
            sql(dir + "/inserts.sql", std::ios::binary);
        sql << "BEGIN;\n";
        for (long i = 0; i < requests; ++i) {
            const bool recharge = i % 2 == 0;
            const long id = 1000000 + i;
            const std::string amount = std::to_string(10 + i % 990) + "." + std::to_string(i % 10) + "0";
            list << (recharge ? "RECHARGE" : "DEBIT") << " Id=" << id
                 << " ClientId=1 ClientType=1 CardNumber=" << card << " Amount=" << amount
                 << " ServiceId=" << service << " DateCreate=2024-06-01T10:00:00\n";
            sql << "INSERT INTO " << (recharge ? "dr_request(dr_request_id" : "dd_request(dd_request_id")
                << ", client_id, client_type, card_number, service_id, amount, date_of, received) VALUES ("
                << id << ", 1, 1, '" << card << "', " << service << ", " << amount
                << ", '2024-06-01 10:00:00', datetime('now'));\n";
        }
        sql << "COMMIT;\n";
        inserts = dir + "/inserts.sql";
        list.close();
        fs::create_directories(dir + "/web");
        package = Output("'" DX_BINARY_DIR "/tools/zuvwebpack' --issuer 7 --branch 1 '" + dir +
                         "/requests.txt' '" + dir + "/web'");
        name = fs::path(package).filename().string();
    }
    ~Web() { fs::remove_all(dir); }
};

Web& TheWeb() {
    static Web web;
    return web;
}

// A fresh database and import folder holding the package; the import of it, timed.
double ImportOnce(Web& w) {
    const std::string run = w.dir + "/run", folder = run + "/in/";
    fs::remove_all(run);
    fs::create_directories(folder);
    fs::copy_file(w.base, run + "/qel.db");
    fs::copy_file(w.package, folder + w.name);
    svc::TOciDataAccess access;
    TImportOciSession session;
    session.SetUsername("qel");
    session.SetPassword("secret");
    session.SetServer(run + "/qel.db");
    session.Connect();
    svc::TdmMainDataModule dm(access);
    std::string failure;
    svc::TPackage package(folder, w.name, 7, 1, &session, &dm);
    package.OnLog = [&](const std::string& text, bool) {
        if (text.rfind("Error: ", 0) == 0) failure += text + "\n";
    };
    svc::TPackage::TOutcome outcome = svc::TPackage::TOutcome::Failed;
    const double seconds = Seconds([&] { outcome = package.Process(); });
    if (outcome != svc::TPackage::TOutcome::Imported || !failure.empty() ||
        !fs::exists(folder + "Back/" + w.name))
        throw std::runtime_error("the package was not imported: " + failure);
    return seconds;
}

// unzip -P of the package, then the sqlite3 tool inserting the same rows into a fresh copy.
double UnzipAndInsert(Web& w) {
    const std::string run = w.dir + "/tool";
    fs::remove_all(run);
    fs::create_directories(run + "/unpacked");
    fs::copy_file(w.base, run + "/qel.db");
    return TimeCommand("unzip -q -P " + std::string(svc::kArchivePassword) + " '" + w.package + "' -d '" +
                       run + "/unpacked' && sqlite3 '" + run + "/qel.db' < '" + w.inserts + "'");
}

void BM_ImportPackage(benchmark::State& state) {
    Web& w = TheWeb();
    for (auto _ : state) state.SetIterationTime(ImportOnce(w));
    state.counters["requests"] = static_cast<double>(w.requests);
}
BENCHMARK(BM_ImportPackage)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The import against unzip plus sqlite3; "ratio" = import / tools.
void BM_ImportToToolsRatio(benchmark::State& state) {
    Web& w = TheWeb();
    RatioBenchmark(
        state, "import", [&] { return ImportOnce(w); }, "tools", [&] { return UnzipAndInsert(w); });
    state.counters["requests"] = static_cast<double>(w.requests);
}
BENCHMARK(BM_ImportToToolsRatio)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
