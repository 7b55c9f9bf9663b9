// One export package through the real path (the stand-in Oracle client, the cursors of every record
// kind read as datasets, the XML data file, the zip, the copy into the shared folder and the send
// date) side by side with Info-ZIP "zip -6 -P" of the same data file and order list, and the time
// of the package's stages: fetching the rows, mapping them to records, writing the XML, zipping.
//
// The database is a demo Qel database made once with scripts/make-qel-db: two days of history, so
// that the day waiting for the package holds BENCH_TRANSACTIONS transactions (default 200000). Each
// run exports from a fresh copy of it, so every run has the same rows waiting. Meaningful only from
// an optimised build without sanitizers (cmake -DCMAKE_BUILD_TYPE=Release -DDX_SANITIZE=OFF).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchSupport.h"
#include "common/oci/uOciDataAccess.h"
#include "common/uZuvArchiveUtils.h"
#include "export_service/uQelOutProcessorsExport.h"
#include "export_service/udmQelOutDataObjectModule.h"
#include "platform/db/DB.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

constexpr int kEmitent = 7, kFilial = 1;

struct Demo {
    std::string dir, base, unpacked;
    long transactions = 200000;
    Demo() {
        if (const char* n = std::getenv("BENCH_TRANSACTIONS")) transactions = std::stol(n);
        dir = MakeBenchDir("exportbench");
        base = dir + "/base.db";
        // The second of two days waits for the package: half of the transactions.
        TimeCommand("python3 '" DX_SOURCE_DIR
                    "/scripts/make-qel-db' --size small --seed 7 --days 2 --transactions " +
                    std::to_string(2 * transactions) + " --root '" + dir + "/zuv' '" + base + "' >/dev/null");
        setenv("ORACLE_HOME", DX_BINARY_DIR "/oracle-home", 1);
    }
    ~Demo() { fs::remove_all(dir); }
};

Demo& TheDemo() {
    static Demo demo;
    return demo;
}

// A fresh copy of the database and empty work and shared folders under <dir>/run.
std::string FreshRun(Demo& d) {
    const std::string run = d.dir + "/run";
    fs::remove_all(run);
    fs::create_directories(run + "/work");
    fs::create_directories(run + "/shared");
    fs::create_directories(run + "/unpacked");
    fs::copy_file(d.base, run + "/qel.db");
    return run;
}

std::unique_ptr<svc::TConnectionSession> Connect(svc::TOciDataAccess& access, const std::string& run) {
    auto session = access.CreateSession();
    session->SetUsername("qel");
    session->SetPassword("secret");
    session->SetServer(run + "/qel.db");
    session->Connect();
    return session;
}

svc::TExportSettings Settings(const std::string& run) {
    svc::TExportSettings settings;
    settings.WorkFolder = run + "/work/";
    settings.SharedFolder = run + "/shared/";
    return settings;
}

// The export of one package, timed; the package is left unpacked in d.unpacked for the comparison.
// Answers the seconds of the export.
double ExportOnce(Demo& d) {
    const std::string run = FreshRun(d);
    svc::TOciDataAccess access;
    double seconds = 0;
    {
        auto session = Connect(access, run);
        svc::TdmQelOutDataObject dataObjects(access);
        std::string failure;
        svc::TEmitentPackageExport exporter(session.get(), kEmitent, kFilial, Settings(run), nullptr,
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
    double seconds = 0;
    for (auto _ : state) {
        const double s = ExportOnce(d);
        seconds += s;
        state.SetIterationTime(s);
    }
    state.counters["xml_bytes"] = static_cast<double>(UnpackedBytes(d));
    state.counters["transactions"] = static_cast<double>(d.transactions);
    state.counters["trn_per_s"] =
        static_cast<double>(d.transactions) * static_cast<double>(state.iterations()) / seconds;
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

// Seconds of processor time of this thread taken by f(): on a shared machine the stages compare
// better by what they compute than by the wall clock.
template <class F>
double CpuSeconds(F&& f) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    f();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) * 1e-9;
}

// The stages of a new package, every kind, in processor time of the exporting thread: "fetch"
// opens the kind's cursor and steps through its rows, "map" is the mapper's list less the fetch
// (it fetches the rows again and makes the records), "write" the XML text of the lists and the
// saving of the data file, "zip" the archive (of this thread alone: the deflate workers are not
// counted). Counters: seconds and share of each stage, records per second of fetch + map + write,
// and the wall-clock seconds of the package's registration, of saving the data file and of the
// archive.
void BM_ExportStages(benchmark::State& state) {
    Demo& d = TheDemo();
    double fetch = 0, fetchAndMap = 0, write = 0, zip = 0, zipWall = 0, records = 0, saveWall = 0, save = 0,
           registerWall = 0;
    for (auto _ : state) {
        const std::string run = FreshRun(d);
        svc::TOciDataAccess access;
        auto session = Connect(access, run);
        svc::TdmQelOutDataObject dataObjects(access);
        svc::TEmitentPackageExport exporter(session.get(), kEmitent, kFilial, Settings(run), nullptr,
                                            &dataObjects);
        bool registered = false;
        registerWall += Seconds([&] { registered = exporter.RegisterPackage(session.get()); });
        if (!registered) throw std::runtime_error("the package was not registered");
        svc::TXMLGenerator data =
            svc::TXMLGenerator::CreateData(exporter.PackageId(), kEmitent, kFilial, exporter.CreationTime());
        double total = 0;
        for (int kind : svc::NewPackageKinds(0)) {
            const svc::TRecordKindInfo& info = svc::ExportKind(kind);
            const bool byPackage = info.Runner == svc::TKindRunner::PackageId;
            // The rows alone, as the mapper asks for them.
            svc::TCursorProc& proc = dataObjects.ProcedureOf(kind);
            total += CpuSeconds([&] {
                proc.SetSession(session.get());
                if (info.Runner != svc::TKindRunner::ClientTypeIgnored) session->StartTransaction();
                if (byPackage) proc.Params().ParamByName("p_package_id")->SetAsString(exporter.PackageId());
                if (info.Runner == svc::TKindRunner::ClientType)
                    proc.Params().ParamByName("p_client_type")->SetAsInteger(0);
                for (db::TDataSet& rows = proc.Execute(); !rows.Eof(); rows.Next()) {
                }
                proc.Close();
                if (info.Runner != svc::TKindRunner::ClientTypeIgnored) session->Commit();
            });
            auto mapper = svc::TMapperFactory::CreateMapper(kind, session.get(), &dataObjects);
            std::unique_ptr<svc::TDataObjectList> list;
            fetchAndMap += CpuSeconds([&] {
                list = byPackage ? mapper->GetListByPackageId(exporter.PackageId())
                                 : mapper->GetListByClientType(0);
            });
            if (!list) throw std::runtime_error(info.ListName + std::string(" failed"));
            records += list->Count();
            write += CpuSeconds([&] { data.WriteList(info.ListName, *list); });
        }
        fetch += total;
        const std::string file = run + "/work/" + exporter.GetFileName();
        double saving = 0;
        saveWall += Seconds([&] { saving = CpuSeconds([&] { data.SaveToFile(file); }); });
        save += saving;
        write += saving;
        std::string archive;
        zipWall += Seconds(
            [&] { zip += CpuSeconds([&] { svc::ZipFiles({file}, run + "/work", kPassword, archive); }); });
        state.SetIterationTime(total);
    }
    const double n = static_cast<double>(state.iterations());
    const double map = fetchAndMap - fetch;
    const double all = fetch + map + write + zip;
    state.counters["fetch_s"] = fetch / n;
    state.counters["map_s"] = map / n;
    state.counters["write_s"] = write / n;
    state.counters["zip_s"] = zip / n;
    state.counters["fetch_share"] = fetch / all;
    state.counters["map_share"] = map / all;
    state.counters["write_share"] = write / all;
    state.counters["zip_share"] = zip / all;
    state.counters["records"] = records / n;
    state.counters["records_per_s"] = records / (fetch + map + write);
    state.counters["save_s"] = save / n;
    state.counters["save_wall_s"] = saveWall / n;
    state.counters["zip_wall_s"] = zipWall / n;
    state.counters["register_wall_s"] = registerWall / n;
}
BENCHMARK(BM_ExportStages)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
