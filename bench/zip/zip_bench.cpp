// Packs each kind of input (one large XML file, thousands of small files, already compressed
// files) with the zip writer and with Info-ZIP "zip -6", with and without a password, as pairs
// in one run. Counters: the median times, "ratio" = writer / Info-ZIP (aim: <= 0.9) and
// "size_ratio" = the writer's archive size / Info-ZIP's (aim: <= 1). BM_PackThreads sets the
// writer's default threads against one thread.
// Meaningful only from an optimised build without sanitizers
// (cmake -DCMAKE_BUILD_TYPE=Release).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>

#include "bench/BenchSupport.h"
#include "zip/ZipWriter.h"

namespace {

using namespace bench;

struct Inputs {
    std::string dir;
    std::map<Corpus, std::string> roots;
    Inputs() : dir(MakeBenchDir("zipbench")) {
        for (Corpus c : {Corpus::LargeText, Corpus::SmallFiles, Corpus::Compressed})
            roots[c] = MakeCorpus(c, dir);
    }
    ~Inputs() { std::filesystem::remove_all(dir); }
};

Inputs& TheInputs() {
    static Inputs inputs;
    return inputs;
}

std::string Archive(Corpus c, const char* who) {
    return TheInputs().dir + "/" + CorpusName(c) + "-" + who + ".zip";
}

double PackWithWriter(Corpus c, bool password, int threads = 0, const char* who = "writer") {
    const std::string name = Archive(c, who);
    std::filesystem::remove(name);
    return Seconds([&] {
        zip::TZipWriter w;
        w.SetZipName(name);
        if (password) w.Password = kPassword;
        w.PackThreads = threads;
        w.Recurse = true;
        w.SetRelativePaths(true);
        w.RelativePathList = {TheInputs().dir + "/"};
        w.FilesList = {TheInputs().roots[c] + "/*"};
        if (w.Zip() == 0) throw std::runtime_error("the writer packed nothing");
    });
}

double PackWithInfoZip(Corpus c, bool password) {
    const std::string name = Archive(c, "infozip");
    std::filesystem::remove(name);
    return TimeCommand("cd '" + TheInputs().dir + "' && zip -q -r -D -6 " +
                       (password ? "-P " + std::string(kPassword) + " " : std::string()) + "'" + name + "' " +
                       CorpusName(c));
}

void BM_Pack(benchmark::State& state) {
    const auto c = static_cast<Corpus>(state.range(0));
    const bool password = state.range(1) != 0;
    state.SetLabel(std::string(CorpusName(c)) + (password ? ", password" : ", no password"));
    RatioBenchmark(
        state, "writer", [&] { return PackWithWriter(c, password); }, "infozip",
        [&] { return PackWithInfoZip(c, password); });
    state.counters["size_ratio"] = static_cast<double>(std::filesystem::file_size(Archive(c, "writer"))) /
                                   static_cast<double>(std::filesystem::file_size(Archive(c, "infozip")));
}
BENCHMARK(BM_Pack)
    ->ArgsProduct({{static_cast<int>(Corpus::LargeText), static_cast<int>(Corpus::SmallFiles),
                    static_cast<int>(Corpus::Compressed)},
                   {1, 0}})
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);

// The writer with its default threads against the writer on one thread, on the same input;
// "ratio" = default / one thread, "size_ratio" likewise for the archives.
void BM_PackThreads(benchmark::State& state) {
    const auto c = static_cast<Corpus>(state.range(0));
    const bool password = state.range(1) != 0;
    state.SetLabel(std::string(CorpusName(c)) + (password ? ", password" : ", no password"));
    RatioBenchmark(
        state, "threads", [&] { return PackWithWriter(c, password, 0, "threads"); }, "one",
        [&] { return PackWithWriter(c, password, 1, "one"); });
    state.counters["size_ratio"] = static_cast<double>(std::filesystem::file_size(Archive(c, "threads"))) /
                                   static_cast<double>(std::filesystem::file_size(Archive(c, "one")));
}
BENCHMARK(BM_PackThreads)
    ->ArgsProduct({{static_cast<int>(Corpus::LargeText)}, {1, 0}})
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
