// Fetching a table of 1 000 000 rows of ten mixed columns (NUMBER, VARCHAR2, DATE) through the
// Oracle record set into record storage, side by side with the sqlite3 tool reading the same rows
// from the same database file. The counter "ratio" is the record set's time over the tool's; its
// rate relative to the tool is 1 / ratio (aim: at least 0.8). On a loaded machine the wall times
// mostly measure waiting for a processor, so "cpu_ratio" compares the processor time each side
// used (this process's own against the tool's as a child). "bytes_per_row" is the growth of
// the heap in use over the rows held, read once they are all fetched. Meaningful only from an
// optimised build without sanitizers; the row count can be lowered with DX_BENCH_ROWS.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "bench/BenchSupport.h"
#include "dataaccess/oracle/OraClasses.h"

namespace {

using namespace dac;

const char* const kSelect =
    "select id, amount, code, name, day, qty, rate, city, created, note from wide order by id";

int Rows() {
    const char* env = std::getenv("DX_BENCH_ROWS");
    return env && *env ? std::atoi(env) : 1000000;
}

struct Database {
    std::string dir, path;
    Database() {
        dir = bench::MakeBenchDir("recordset_bench");
        path = dir + "/bench.db";
        const std::string script = dir + "/fill.sql";
        std::ofstream out(script);
        std::ifstream catalog(std::string(DX_SOURCE_DIR) + "/platform/oci/catalog.sql");
        out << catalog.rdbuf() << "\n";
        out << "INSERT INTO oci_user VALUES ('bench', 'bench');\n"
               "CREATE TABLE wide(id NUMBER(9,0) PRIMARY KEY, amount NUMBER(12,2), code VARCHAR2(12),"
               " name VARCHAR2(40), day DATE, qty NUMBER(9,0), rate NUMBER(12,2), city VARCHAR2(30),"
               " created DATE, note VARCHAR2(60));\n"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
            << Rows()
            << ")\n"
               "INSERT INTO wide SELECT i, (i % 100000) / 100.0, printf('C%08d', i), printf('Name number "
               "%d', i),"
               " printf('2024-%02d-%02d 10:%02d:00', 1 + i % 12, 1 + i % 28, i % 60), i % 1000,"
               " (i % 777) / 10.0, printf('City %d', i % 500),"
               " printf('2023-%02d-%02d 08:30:%02d', 1 + i % 12, 1 + i % 28, i % 60),"
               " printf('note %d for the benchmark row', i) FROM n;\n";
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

// Bytes of the heap in use now.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// Processor seconds (user and system) of this process or of its ended children.
double CpuSeconds(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double gOursCpu = 0, gToolCpu = 0;

// Opens the record set and fetches every row into the record list.
double FetchAll(int fetchRows, double* bytesPerRow) {
    TOCIConnection connection;
    connection.SetUsername("bench");
    connection.SetPassword("bench");
    connection.SetServer(Db().path);
    connection.Connect("");
    TOCIRecordSet rs;
    rs.SetConnection(&connection);
    rs.SetSQLText(kSelect);
    rs.SetProp(prFetchRows, fetchRows);
    const double before = HeapBytes();
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const double seconds = bench::Seconds([&] {
        rs.Open();
        rs.FetchAll();
    });
    gOursCpu += CpuSeconds(RUSAGE_SELF) - cpuBefore;
    if (rs.GetRecordCount() != Rows()) throw std::runtime_error("rows lost");
    if (bytesPerRow) *bytesPerRow = (HeapBytes() - before) / Rows();
    rs.Close();
    connection.Disconnect();
    return seconds;
}

double Sqlite3Tool() {
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    struct Count {
        double before;
        ~Count() { gToolCpu += CpuSeconds(RUSAGE_CHILDREN) - before; }
    } count{cpuBefore};
    return bench::TimeCommand("sqlite3 '" + Db().path + "' \"" +
                              "select id, amount, code, name, day, qty, rate, city, created, note from wide "
                              "order by id\" > /dev/null");
}

void BM_RecordSetToSqlite3Ratio(benchmark::State& state) {
    const int fetchRows = static_cast<int>(state.range(0));
    double perRow = 0;
    gOursCpu = gToolCpu = 0;
    bench::RatioBenchmark(
        state, "recordset", [&] { return FetchAll(fetchRows, &perRow); }, "sqlite3",
        [] { return Sqlite3Tool(); });
    state.counters["rate_vs_sqlite3"] = state.counters["ratio"] > 0 ? 1.0 / state.counters["ratio"] : 0;
    state.counters["cpu_ratio"] = gToolCpu > 0 ? gOursCpu / gToolCpu : 0;
    state.counters["bytes_per_row"] = perRow;
    state.counters["rows"] = Rows();
}
BENCHMARK(BM_RecordSetToSqlite3Ratio)
    ->Arg(25)
    ->Arg(500)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
