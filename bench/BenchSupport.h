// Shared pieces of the side-by-side benchmarks: a generated export data file, timing, and
// the "ours against the outside tool" ratio.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace bench {

inline constexpr const char* kPassword = "KEB_LO_SUM";
inline constexpr const char* kDataFileName = "ZuvQelExport_0000701_20240101120000123.xml";

// A fresh folder under the system's temporary folder.
inline std::string MakeBenchDir(const std::string& stem) {
    std::string templ = (std::filesystem::temp_directory_path() / (stem + "XXXXXX")).string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    return templ;
}

// An export-like XML data file of about `bytes` bytes: CR LF lines, tab indentation,
// card records with varying numbers, so it compresses like a real package.
inline void WriteExportXml(const std::string& path, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RequestsData PackageId=\"{0}\" "
           "Version=\"2.9.1.0\">\r\n";
    unsigned x = 12345;
    size_t written = 0;
    char line[512];
    for (int id = 1; written < bytes; ++id) {
        x = x * 1103515245u + 12345u;
        int n = std::snprintf(
            line, sizeof line,
            "\t<CARD>\r\n\t\t<CardId>%d</CardId>\r\n\t\t<CardNumber>7826%012u</CardNumber>\r\n"
            "\t\t<HolderId>%u</HolderId>\r\n\t\t<State>%u</State>\r\n"
            "\t\t<DateCreate>2024-%02u-%02uT%02u:%02u:00Z</DateCreate>\r\n"
            "\t\t<Limit>%u.%02u</Limit>\r\n\t</CARD>\r\n",
            id, x % 1000000000u, (x >> 4) % 100000u, (x >> 9) % 4u, 1 + (x >> 3) % 12u, 1 + (x >> 7) % 28u,
            (x >> 11) % 24u, (x >> 13) % 60u, (x >> 5) % 100000u, (x >> 2) % 100u);
        out.write(line, n);
        written += static_cast<size_t>(n);
    }
    out << "</RequestsData>\r\n";
}

// Seconds taken by f().
template <class F>
double Seconds(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds taken by a shell command; raises when it fails.
inline double TimeCommand(const std::string& command) {
    return Seconds([&] {
        if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    });
}

// Runs ours and theirs in turn; counters <ours>_s, <theirs>_s and "ratio" = ours / theirs.
template <class Ours, class Theirs>
void RatioBenchmark(benchmark::State& state, const char* oursName, Ours&& ours, const char* theirsName,
                    Theirs&& theirs) {
    double a = 0, b = 0;
    for (auto _ : state) {
        double x = ours();
        double y = theirs();
        a += x;
        b += y;
        state.SetIterationTime(x + y);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters[std::string(oursName) + "_s"] = a / n;
    state.counters[std::string(theirsName) + "_s"] = b / n;
    state.counters["ratio"] = b > 0 ? a / b : 0;
}

}  // namespace bench
