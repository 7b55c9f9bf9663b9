// Packages made by the independent generator (request_packages.py, packed with Info-ZIP's zip
// under the archive password) dropped into the shared folder while the watcher and the
// package-manager thread run, one of them by a slow writer that holds no lock. Every package
// ends in Back or Error as its outcome says, the imported ones that arrived together in the order
// of their names' times, and the slow one is not taken before it is whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "import_service/uInSrvcThreads.h"
#include "tests/import_service/InServiceFixture.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace imptest;
using svctest::PumpUntil;

namespace {

const std::string kScripts = DX_SOURCE_DIR "/tests/import_service/";

struct TGenerated {
    std::string file;     // the package file name
    std::string outcome;  // imported | rolledback | fatal | error | readerror
    std::vector<std::string> calls;
};

class DroppedPackages : public InServiceFixture {
protected:
    void SetUp() override {
        InServiceFixture::SetUp();
        const std::string kPack = "ZUV_EXPORT_OUT_PACK.";
        db_.handlers[kPack + "check_sec_code"] = [](svcfake::TFakeProc& p) {
            p.SetOut("P_ERROR_CODE", p.In("P_SECURITY_CODE") == "1234" ? "0" : "-4");
        };
        db_.handlers[kPack + "generate_coupons"] = [](svcfake::TFakeProc& p) {
            p.SetOut("P_ERROR_CODE", std::stoi(p.In("P_DECLARED_AMOUNT")) > 1000 ? "2" : "0");
        };
        db_.handlers[kPack + "p_set_lost_card_request"] = [](svcfake::TFakeProc& p) {
            p.SetOut("P_RESULT", p.In("P_CLIENT_ID") == "666" ? "-1" : "0");
        };
    }

    // Generates the cases and packs each as a package file in dir/made, named with increasing
    // times in the generator's order of names.
    std::vector<TGenerated> Generate() {
        const std::string gen = dir_ / "gen", made = dir_ / "made";
        std::filesystem::create_directories(made);
        EXPECT_EQ(crypttest::Shell("python3 " + kScripts + "request_packages.py " + gen), 0);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(gen))
            if (entry.path().extension() == ".expect") names.push_back(entry.path().stem().string());
        std::sort(names.begin(), names.end());
        std::vector<TGenerated> packages;
        int n = 0;
        for (const std::string& name : names) {
            char time[24];
            std::snprintf(time, sizeof time, "20240305%09d", 100000000 + ++n);
            TGenerated g;
            g.file = PackageName(time);
            const std::string xml = g.file.substr(0, 38) + ".xml";
            std::filesystem::copy_file(gen + "/" + name + ".xml", gen + "/" + xml);
            EXPECT_EQ(crypttest::Shell("cd " + gen + " && zip -q -P KAR_TIM_LOW " + made + "/" + g.file +
                                       " " + xml),
                      0);
            std::ifstream expect(gen + "/" + name + ".expect", std::ios::binary);
            std::string line;
            std::getline(expect, line);
            g.outcome = line.substr(0, line.find('\t'));
            while (std::getline(expect, line))
                if (!line.empty()) g.calls.push_back(line);
            packages.push_back(g);
        }
        return packages;
    }
};

TEST_F(DroppedPackages, WhileRunningEachEndsWhereItsOutcomeSaysAndInOrder) {
    const std::vector<TGenerated> packages = Generate();
    ASSERT_GE(packages.size(), 20u);
    auto workers = std::make_unique<svc::TInSrvcWorkers>(params_, &procedures_, &access_, journal_.Callback(),
                                                         [](const svc::TStartupResults&) {});
    ASSERT_TRUE(workers->Start());
    ASSERT_TRUE(PumpUntil([&] { return journal_.Has("!Emitent = 7 Filial = 1"); })) << journal_.Text();

    // The first imported package comes slowly; the others are dropped whole meanwhile.
    const auto slow = std::find_if(packages.begin(), packages.end(),
                                   [](const TGenerated& g) { return g.outcome == "imported"; });
    ASSERT_NE(slow, packages.end());
    ostest::Child writer({"/usr/bin/python3", kScripts + "slow_writer.py", dir_ / ("made/" + slow->file),
                          Shared(slow->file), "6", "400"});
    for (const TGenerated& g : packages)
        if (&g != &*slow) std::filesystem::copy_file(dir_ / ("made/" + g.file), Shared(g.file));
    bool takenEarly = false;
    PumpUntil([&] {
        takenEarly = takenEarly || std::filesystem::exists(In(slow->file)) ||
                     std::filesystem::exists(In("Back/" + slow->file));
        return writer.Wait(1) != -1;
    });
    EXPECT_FALSE(takenEarly) << "the slow writer's file was taken before it was whole";

    ASSERT_TRUE(PumpUntil(
        [&] { return FilesIn(In("Back")).size() + FilesIn(In("Error")).size() == packages.size(); }, 60000))
        << journal_.Text();
    workers->Stop();

    std::vector<std::string> back = FilesIn(In("Back")), errors = FilesIn(In("Error"));
    const std::string log = db_.LogText();
    std::vector<size_t> importedAt;
    for (const TGenerated& g : packages) {
        SCOPED_TRACE(g.file + " " + g.outcome);
        const bool inBack = std::count(back.begin(), back.end(), g.file) == 1;
        EXPECT_EQ(inBack, g.outcome == "imported");
        EXPECT_EQ(std::count(errors.begin(), errors.end(), g.file), inBack ? 0 : 1);
        if (g.outcome != "imported") continue;
        EXPECT_EQ(ostest::ReadFile(In("Back/" + g.file)), ostest::ReadFile(dir_ / ("made/" + g.file)));
        const auto registration = std::find_if(g.calls.begin(), g.calls.end(), [](const std::string& call) {
            return call.find("add_new_package") != std::string::npos;
        });
        ASSERT_NE(registration, g.calls.end());
        const size_t at = log.find(*registration);
        ASSERT_NE(at, std::string::npos) << *registration;
        EXPECT_EQ(log.find(*registration, at + 1), std::string::npos) << "registered once";
        for (auto call = registration; call != g.calls.end(); ++call)
            EXPECT_NE(log.find(*call + "\n", at), std::string::npos) << *call;
        if (&g != &*slow) importedAt.push_back(at);  // the slow one arrives last
    }
    EXPECT_TRUE(std::is_sorted(importedAt.begin(), importedAt.end()))
        << "imported in the order of their times";
    EXPECT_TRUE(FilesIn(In("")).empty());
    EXPECT_TRUE(FilesIn(Shared("")).empty());
}

}  // namespace
