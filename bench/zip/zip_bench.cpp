// Packs an export package (a 50 MB generated XML data file and a small order list) with the
// zip writer and with Info-ZIP "zip -6 -P", and reports the time ratio writer / Info-ZIP.
// Meaningful only from an optimised build without sanitizers
// (cmake -DCMAKE_BUILD_TYPE=Release -DDX_SANITIZE=OFF).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchSupport.h"
#include "zip/ZipWriter.h"

namespace {

using namespace bench;

struct Package {
    std::string dir;
    std::string data;
    std::string order;
    Package() {
        dir = MakeBenchDir("zipbench");
        data = dir + "/" + kDataFileName;
        order = dir + "/XmlOrderList.xml";
        WriteExportXml(data, 50u * 1024 * 1024);
        std::ofstream(order, std::ios::binary)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RequestsData>\r\n\t<FILE>" << kDataFileName
            << "</FILE>\r\n</RequestsData>\r\n";
    }
    ~Package() { std::filesystem::remove_all(dir); }
};

Package& ThePackage() {
    static Package package;
    return package;
}

double PackWithWriter(const Package& p) {
    std::string name = p.dir + "/writer.zip";
    std::filesystem::remove(name);
    return Seconds([&] {
        zip::TZipWriter w;
        w.SetZipName(name);
        w.Password = kPassword;
        w.FilesList = {p.data, p.order};
        if (w.Zip() != 2) throw std::runtime_error("writer packed too few files");
    });
}

double PackWithInfoZip(const Package& p) {
    std::string name = p.dir + "/infozip.zip";
    std::filesystem::remove(name);
    return TimeCommand("zip -q -j -6 -P " + std::string(kPassword) + " '" + name + "' '" + p.data + "' '" +
                       p.order + "'");
}

void BM_ZipWriter(benchmark::State& state) {
    const Package& p = ThePackage();
    for (auto _ : state) state.SetIterationTime(PackWithWriter(p));
}
BENCHMARK(BM_ZipWriter)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_InfoZip(benchmark::State& state) {
    const Package& p = ThePackage();
    for (auto _ : state) state.SetIterationTime(PackWithInfoZip(p));
}
BENCHMARK(BM_InfoZip)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Both packers in turn; the counter "ratio" is the writer's time over Info-ZIP's (aim: <= 1.1).
void BM_WriterToInfoZipRatio(benchmark::State& state) {
    const Package& p = ThePackage();
    RatioBenchmark(
        state, "writer", [&] { return PackWithWriter(p); }, "infozip", [&] { return PackWithInfoZip(p); });
}
BENCHMARK(BM_WriterToInfoZipRatio)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
