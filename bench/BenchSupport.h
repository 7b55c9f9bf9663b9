// Shared pieces of the side-by-side benchmarks: a generated export data file, timing, and
// the "ours against the outside tool" ratio.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

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

// The three kinds of input the zip benchmarks compare on, each in its own folder below the
// bench folder so that both tools pack the same tree: one large text file, thousands of small
// files, and files that are already compressed. Small and compressed files are copies of what
// the system ships (headers, compressed documents and images), so the data is nobody's choice
// here; a machine without them gets generated stand-ins.
enum class Corpus { LargeText, SmallFiles, Compressed };

inline const char* CorpusName(Corpus c) {
    return c == Corpus::LargeText ? "large" : c == Corpus::SmallFiles ? "small" : "packed";
}

inline void CopySystemFiles(const std::vector<std::string>& roots, const std::string& to,
                            bool (*take)(const std::filesystem::path&, uintmax_t), size_t maxFiles,
                            uintmax_t maxBytes) {
    namespace fs = std::filesystem;
    std::vector<fs::path> found;
    for (const auto& root : roots) {
        std::error_code ec;
        if (!fs::is_directory(root, ec)) continue;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
             end;
             it != end; it.increment(ec)) {
            if (ec) break;
            if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
            if (take(it->path(), it->file_size(ec))) found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    size_t files = 0;
    uintmax_t bytes = 0;
    for (const auto& f : found) {
        if (files >= maxFiles || bytes >= maxBytes) break;
        std::error_code ec;
        fs::path target = fs::path(to) / f.relative_path();
        fs::create_directories(target.parent_path(), ec);
        if (!fs::copy_file(f, target, fs::copy_options::overwrite_existing, ec)) continue;
        ++files;
        bytes += fs::file_size(target, ec);
    }
}

inline size_t CountFiles(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file()) ++n;
    return n;
}

// Makes <dir>/<CorpusName> and returns it.
inline std::string MakeCorpus(Corpus c, const std::string& dir) {
    const std::string root = dir + "/" + CorpusName(c);
    std::filesystem::create_directories(root);
    switch (c) {
        case Corpus::LargeText:
            WriteExportXml(root + "/" + kDataFileName, 72u * 1024 * 1024);
            break;
        case Corpus::SmallFiles:
            CopySystemFiles(
                {"/usr/include"}, root, [](const std::filesystem::path&, uintmax_t size) { return size > 0; },
                4904, 116u * 1024 * 1024);
            if (CountFiles(root) < 1000)
                for (int i = 0; i < 4904; ++i)
                    WriteExportXml(root + "/f" + std::to_string(i) + ".xml", 1000 + (i * 7919) % 40000);
            break;
        case Corpus::Compressed:
            CopySystemFiles(
                {"/usr/share", "/usr/lib"}, root,
                [](const std::filesystem::path& p, uintmax_t size) {
                    const std::string ext = p.extension().string();
                    return size >= 10 * 1024 &&
                           (ext == ".gz" || ext == ".xz" || ext == ".bz2" || ext == ".png" || ext == ".jpg" ||
                            ext == ".zip" || ext == ".jar");
                },
                562, 56u * 1024 * 1024);
            break;
    }
    return root;
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

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Runs ours and theirs as pairs, taking turns at going first (the machine may be shared);
// counters <ours>_s and <theirs>_s are the medians of each side and "ratio" the median of the
// pairs' ours / theirs.
template <class Ours, class Theirs>
void RatioBenchmark(benchmark::State& state, const char* oursName, Ours&& ours, const char* theirsName,
                    Theirs&& theirs) {
    std::vector<double> a, b, ratios;
    for (auto _ : state) {
        double x, y;
        if (a.size() % 2 == 0) {
            x = ours();
            y = theirs();
        } else {
            y = theirs();
            x = ours();
        }
        a.push_back(x);
        b.push_back(y);
        if (y > 0) ratios.push_back(x / y);
        state.SetIterationTime(x + y);
    }
    state.counters[std::string(oursName) + "_s"] = Median(a);
    state.counters[std::string(theirsName) + "_s"] = Median(b);
    state.counters["ratio"] = Median(ratios);
}

}  // namespace bench
