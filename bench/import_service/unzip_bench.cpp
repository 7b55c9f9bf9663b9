// Extracts a package archive (a 50 MB generated XML data file, deflated and encrypted by
// Info-ZIP "zip -6 -P") with the extraction engine and with Info-ZIP "unzip -P", and reports
// the time ratio engine / unzip. Meaningful only from an optimised build without sanitizers
// (cmake -DCMAKE_BUILD_TYPE=Release -DDX_SANITIZE=OFF).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "bench/BenchSupport.h"
#include "import_service/ZipReaderUnZip.h"

namespace {

using namespace bench;

struct Package {
    std::string dir;
    std::string archive;
    Package() {
        dir = MakeBenchDir("unzipbench");
        const std::string data = dir + "/" + kDataFileName;
        WriteExportXml(data, 50u * 1024 * 1024);
        archive = dir + "/package.zip";
        TimeCommand("zip -q -j -6 -P " + std::string(kPassword) + " '" + archive + "' '" + data + "'");
        std::filesystem::remove(data);
    }
    ~Package() { std::filesystem::remove_all(dir); }
};

Package& ThePackage() {
    static Package package;
    return package;
}

double ExtractWithEngine(const Package& p) {
    const std::string out = p.dir + "/engine";
    std::filesystem::remove_all(out);
    return Seconds([&] {
        if (!svc::UnZipArchive(p.archive, out, kPassword)) throw std::runtime_error("engine failed");
    });
}

double ExtractWithUnzip(const Package& p) {
    const std::string out = p.dir + "/unzip";
    std::filesystem::remove_all(out);
    return TimeCommand("unzip -q -o -P " + std::string(kPassword) + " '" + p.archive + "' -d '" + out + "'");
}

void BM_UnZipEngine(benchmark::State& state) {
    const Package& p = ThePackage();
    for (auto _ : state) state.SetIterationTime(ExtractWithEngine(p));
}
BENCHMARK(BM_UnZipEngine)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_InfoUnzip(benchmark::State& state) {
    const Package& p = ThePackage();
    for (auto _ : state) state.SetIterationTime(ExtractWithUnzip(p));
}
BENCHMARK(BM_InfoUnzip)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Both in turn; the counter "ratio" is the engine's time over unzip's (aim: <= 1.1).
void BM_EngineToUnzipRatio(benchmark::State& state) {
    const Package& p = ThePackage();
    RatioBenchmark(
        state, "engine", [&] { return ExtractWithEngine(p); }, "unzip", [&] { return ExtractWithUnzip(p); });
}
BENCHMARK(BM_EngineToUnzipRatio)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
