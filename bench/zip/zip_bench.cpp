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

#include "zip/ZipWriter.h"

namespace {

const char* kPassword = "KEB_LO_SUM";

struct Package {
    std::string dir;
    std::string data;
    std::string order;
    Package() {
        std::string templ = (std::filesystem::temp_directory_path() / "zipbenchXXXXXX").string();
        dir = ::mkdtemp(templ.data());
        data = dir + "/ZuvQelExport_0000701_20240101120000123.xml";
        order = dir + "/XmlOrderList.xml";
        std::ofstream out(data, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RequestsData PackageId=\"{0}\" "
               "Version=\"2.9.1.0\">\r\n";
        unsigned x = 12345;
        size_t written = 0;
        char line[512];
        for (int id = 1; written < 50u * 1024 * 1024; ++id) {
            x = x * 1103515245u + 12345u;
            int n = std::snprintf(
                line, sizeof line,
                "\t<CARD>\r\n\t\t<CardId>%d</CardId>\r\n\t\t<CardNumber>7826%012u</CardNumber>\r\n"
                "\t\t<HolderId>%u</HolderId>\r\n\t\t<State>%u</State>\r\n"
                "\t\t<DateCreate>2024-%02u-%02uT%02u:%02u:00Z</DateCreate>\r\n"
                "\t\t<Limit>%u.%02u</Limit>\r\n\t</CARD>\r\n",
                id, x % 1000000000u, (x >> 4) % 100000u, (x >> 9) % 4u, 1 + (x >> 3) % 12u,
                1 + (x >> 7) % 28u, (x >> 11) % 24u, (x >> 13) % 60u, (x >> 5) % 100000u, (x >> 2) % 100u);
            out.write(line, n);
            written += static_cast<size_t>(n);
        }
        out << "</RequestsData>\r\n";
        std::ofstream(order, std::ios::binary)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RequestsData>\r\n\t<FILE>"
               "ZuvQelExport_0000701_20240101120000123.xml</FILE>\r\n</RequestsData>\r\n";
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
    auto start = std::chrono::steady_clock::now();
    zip::TZipWriter w;
    w.SetZipName(name);
    w.Password = kPassword;
    w.FilesList = {p.data, p.order};
    if (w.Zip() != 2) throw std::runtime_error("writer packed too few files");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double PackWithInfoZip(const Package& p) {
    std::string name = p.dir + "/infozip.zip";
    std::filesystem::remove(name);
    std::string command =
        "zip -q -j -6 -P " + std::string(kPassword) + " '" + name + "' '" + p.data + "' '" + p.order + "'";
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("zip failed");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    double writer = 0, infozip = 0;
    for (auto _ : state) {
        double a = PackWithWriter(p);
        double b = PackWithInfoZip(p);
        writer += a;
        infozip += b;
        state.SetIterationTime(a + b);
    }
    state.counters["writer_s"] = writer / static_cast<double>(state.iterations());
    state.counters["infozip_s"] = infozip / static_cast<double>(state.iterations());
    state.counters["ratio"] = infozip > 0 ? writer / infozip : 0;
}
BENCHMARK(BM_WriterToInfoZipRatio)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
