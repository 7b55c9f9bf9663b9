// One export package through the real path (the stand-in Oracle client, the cursors of every record
// kind read as datasets, the XML data file, the zip, the copy into the shared folder and the send
// date) side by side with Info-ZIP "zip -6 -P" of the same data file and order list. The database
// is a demo Qel database of BENCH_TRANSACTIONS transactions (default 50000) made once with
// scripts/make-qel-db; each run exports from a fresh copy of it, so every run has the same rows
// waiting. Meaningful only from an optimised build without sanitizers
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
#include "export_service/uQelOutProcessorsExport.h"
#include "export_service/udmQelOutDataObjectModule.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

constexpr int kEmitent = 7, kFilial = 1;

struct Demo {
    std::string dir, base, work, shared, unpacked;
    long transactions = 50000;
    Demo() {
        if (const char* n = std::getenv("BENCH_TRANSACTIONS")) transactions = std::stol(n);
        dir = MakeBenchDir("exportbench");
        base = dir + "/base.db";
        TimeCommand("python3 '" DX_SOURCE_DIR "/scripts/make-qel-db' --size small --seed 7 --transactions " +
                    std::to_string(transactions) + " --root '" + dir + "/zuv' '" + base + "' >/dev/null");
        setenv("ORACLE_HOME", DX_BINARY_DIR "/oracle-home", 1);
    }
    ~Demo() { fs::remove_all(dir); }
};

Demo& TheDemo() {
    static Demo demo;
    return demo;
}

// A fresh database, work and shared folders; the export of one package, timed; the package is left
// unpacked in d.unpacked for the comparison. Answers the seconds of the export.
double ExportOnce(Demo& d) {
    const std::string run = d.dir + "/run";
    fs::remove_all(run);
    fs::create_directories(run + "/work");
    fs::create_directories(run + "/shared");
    fs::create_directories(run + "/unpacked");
    fs::copy_file(d.base, run + "/qel.db");
    svc::TOciDataAccess access;
    double seconds = 0;
    {
        auto session = access.CreateSession();
        session->SetUsername("qel");
        session->SetPassword("secret");
        session->SetServer(run + "/qel.db");
        session->Connect();
        svc::TdmQelOutDataObject dataObjects(access);
        svc::TExportSettings settings;
        settings.WorkFolder = run + "/work/";
        settings.SharedFolder = run + "/shared/";
        std::string failure;
        svc::TEmitentPackageExport exporter(session.get(), kEmitent, kFilial, settings, nullptr,
                                            &dataObjects);
        exporter.OnLog = [&](const std::string& text, bool) {
            if (text.rfind("Error: ", 0) == 0) failure += text + "\n";
        };
        seconds = Seconds([&] { exporter.Export(); });
        if (!failure.empty()) throw std::runtime_error(failure);
    }
    int packages = 0;
    for (const auto& e : fs::directory_iterator(run + "/shared")) {
        ++packages;
        TimeCommand("unzip -q -P " + std::string(kPassword) + " '" + e.path().string() + "' -d '" + run +
                    "/unpacked'");
    }
    if (packages != 1) throw std::runtime_error("the export left " + std::to_string(packages) + " packages");
    d.unpacked = run + "/unpacked";
    return seconds;
}

double ZipSix(const Demo& d) {
    const std::string archive = d.dir + "/infozip.zip";
    fs::remove(archive);
    return TimeCommand("cd '" + d.unpacked + "' && zip -q -6 -P " + std::string(kPassword) + " '" + archive +
                       "' *");
}

uintmax_t UnpackedBytes(const Demo& d) {
    uintmax_t bytes = 0;
    for (const auto& e : fs::directory_iterator(d.unpacked)) bytes += e.file_size();
    return bytes;
}

void BM_ExportPackage(benchmark::State& state) {
    Demo& d = TheDemo();
    for (auto _ : state) state.SetIterationTime(ExportOnce(d));
    state.counters["xml_bytes"] = static_cast<double>(UnpackedBytes(d));
    state.counters["transactions"] = static_cast<double>(d.transactions);
}
BENCHMARK(BM_ExportPackage)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The export against zip -6 of its own data file and order list; "ratio" = export / zip.
void BM_ExportToZipRatio(benchmark::State& state) {
    Demo& d = TheDemo();
    RatioBenchmark(
        state, "export", [&] { return ExportOnce(d); }, "zip6", [&] { return ZipSix(d); });
    state.counters["xml_bytes"] = static_cast<double>(UnpackedBytes(d));
}
BENCHMARK(BM_ExportToZipRatio)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
