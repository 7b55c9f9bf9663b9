// Extracts archives of each kind of input (one large XML file, thousands of small files,
// already compressed files), made by Info-ZIP "zip -6" with and without a password, with the
// extraction engine and with Info-ZIP "unzip", as pairs in one run. Counters: the median times
// and "ratio" = engine / unzip (aim: <= 0.8).
// Meaningful only from an optimised build without sanitizers
// (cmake -DCMAKE_BUILD_TYPE=Release).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "bench/BenchSupport.h"
#include "import_service/ZipReaderUnZip.h"

namespace {

using namespace bench;

struct Inputs {
    std::string dir;
    std::map<std::pair<Corpus, bool>, std::string> archives;
    Inputs() : dir(MakeBenchDir("unzipbench")) {
        for (Corpus c : {Corpus::LargeText, Corpus::SmallFiles, Corpus::Compressed}) {
            MakeCorpus(c, dir);
            for (bool password : {true, false}) {
                const std::string name =
                    dir + "/" + CorpusName(c) + (password ? "-password" : "-plain") + ".zip";
                TimeCommand("cd '" + dir + "' && zip -q -r -6 " +
                            (password ? "-P " + std::string(kPassword) + " " : std::string()) + "'" + name +
                            "' " + CorpusName(c));
                archives[{c, password}] = name;
            }
            std::filesystem::remove_all(dir + "/" + CorpusName(c));
        }
    }
    ~Inputs() { std::filesystem::remove_all(dir); }
};

Inputs& TheInputs() {
    static Inputs inputs;
    return inputs;
}

double ExtractWithEngine(Corpus c, bool password) {
    const std::string out = TheInputs().dir + "/engine";
    std::filesystem::remove_all(out);
    return Seconds([&] {
        if (!svc::UnZipArchive(TheInputs().archives[{c, password}], out, password ? kPassword : ""))
            throw std::runtime_error("engine failed");
    });
}

double ExtractWithUnzip(Corpus c, bool password) {
    const std::string out = TheInputs().dir + "/unzip";
    std::filesystem::remove_all(out);
    return TimeCommand("unzip -q -o " + (password ? "-P " + std::string(kPassword) + " " : std::string()) +
                       "'" + TheInputs().archives[{c, password}] + "' -d '" + out + "'");
}

void BM_Unpack(benchmark::State& state) {
    const auto c = static_cast<Corpus>(state.range(0));
    const bool password = state.range(1) != 0;
    state.SetLabel(std::string(CorpusName(c)) + (password ? ", password" : ", no password"));
    RatioBenchmark(
        state, "engine", [&] { return ExtractWithEngine(c, password); }, "unzip",
        [&] { return ExtractWithUnzip(c, password); });
}
BENCHMARK(BM_Unpack)
    ->ArgsProduct({{static_cast<int>(Corpus::LargeText), static_cast<int>(Corpus::SmallFiles),
                    static_cast<int>(Corpus::Compressed)},
                   {1, 0}})
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
