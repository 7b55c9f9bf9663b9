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

#include "import_service/ZipReaderUnZip.h"

namespace {

const char* kPassword = "KEB_LO_SUM";

struct Package {
    std::string dir;
    std::string archive;
    Package() {
        std::string templ = (std::filesystem::temp_directory_path() / "unzipbenchXXXXXX").string();
        dir = ::mkdtemp(templ.data());
        const std::string data = dir + "/ZuvQelExport_0000701_20240101120000123.xml";
        {
            std::ofstream out(data, std::ios::binary);
            out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RequestsData>\r\n";
            unsigned x = 12345;
            size_t written = 0;
            char line[512];
            for (int id = 1; written < 50u * 1024 * 1024; ++id) {
                x = x * 1103515245u + 12345u;
                int n = std::snprintf(
                    line, sizeof line,
                    "\t<CARD>\r\n\t\t<CardId>%d</CardId>\r\n\t\t<CardNumber>7826%012u</CardNumber>"
                    "\r\n\t\t<HolderId>%u</HolderId>\r\n\t\t<Limit>%u.%02u</Limit>\r\n\t</CARD>\r\n",
                    id, x % 1000000000u, (x >> 4) % 100000u, (x >> 5) % 100000u, (x >> 2) % 100u);
                out.write(line, n);
                written += static_cast<size_t>(n);
            }
            out << "</RequestsData>\r\n";
        }
        archive = dir + "/package.zip";
        std::string command =
            "zip -q -j -6 -P " + std::string(kPassword) + " '" + archive + "' '" + data + "'";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("zip failed");
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
    auto start = std::chrono::steady_clock::now();
    if (!svc::UnZipArchive(p.archive, out, kPassword)) throw std::runtime_error("engine failed");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ExtractWithUnzip(const Package& p) {
    const std::string out = p.dir + "/unzip";
    std::filesystem::remove_all(out);
    std::string command =
        "unzip -q -o -P " + std::string(kPassword) + " '" + p.archive + "' -d '" + out + "'";
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("unzip failed");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    double engine = 0, unzip = 0;
    for (auto _ : state) {
        double a = ExtractWithEngine(p);
        double b = ExtractWithUnzip(p);
        engine += a;
        unzip += b;
        state.SetIterationTime(a + b);
    }
    state.counters["engine_s"] = engine / static_cast<double>(state.iterations());
    state.counters["unzip_s"] = unzip / static_cast<double>(state.iterations());
    state.counters["ratio"] = unzip > 0 ? engine / unzip : 0;
}
BENCHMARK(BM_EngineToUnzipRatio)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
