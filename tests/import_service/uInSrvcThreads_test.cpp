// The import's threads over the recording database: the watcher takes only complete files, the
// start-up checks decide whether the workers run, packages dropped into the shared folder are
// imported once each and in order even when the database goes away in the middle of a pass, the
// mailbox is read on the first pass and then once per mail interval, and a stop while the
// database is out of reach ends the package-manager thread.
#include "import_service/uInSrvcThreads.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/uMailSubject.h"
#include "tests/import_service/InServiceFixture.h"
#include "tests/import_service/Pop3TestMailbox.h"

using namespace imptest;
using svctest::PumpUntil;

namespace {

class Watcher : public InServiceFixture {};

TEST_F(Watcher, MovesOnlyCompletePackageFilesOfItsMask) {
    const std::string zip = PackageName("20240305080000000"),
                      dat = PackageName("20240305080000000", "00007", "01", ".dat");
    ziptest::WriteBytes(Shared(zip), "archive");
    ziptest::WriteBytes(Shared(dat), "container");
    ziptest::WriteBytes(Shared("Other_0000701_20240305080000000.zip"), "other");
    ziptest::WriteBytes(In(zip), "older copy");
    svc::TCheckerSharingFolder watcher(params_, journal_.Callback());
    watcher.MoveReadyFiles();
    EXPECT_EQ(FilesIn(Shared("")).size(), 3u) << "the first look only notes size and time";
    watcher.MoveReadyFiles();
    EXPECT_EQ(FilesIn(Shared("")), (std::vector<std::string>{"Other_0000701_20240305080000000.zip", dat}));
    EXPECT_EQ(ostest::ReadFile(In(zip)), "archive") << "replaces a file of the same name";
    EXPECT_TRUE(journal_.Has("!" + Shared(zip) + " moved to folder " + In(zip))) << journal_.Text();

    params_.EnableImportEncrypt = true;
    watcher.MoveReadyFiles();
    watcher.MoveReadyFiles();
    EXPECT_TRUE(std::filesystem::exists(In(dat)));
}

// A package file whose name code page 1251 cannot hold is left where it is and journalled once,
// not on every turn, and never stops the good files from moving.
TEST_F(Watcher, AFileItCannotNameIsJournalledOnceAndSkipped) {
    const std::string good = PackageName("20240305080000000");
    const std::string odd = std::string(svc::kPackagePrefix) + "\xE6\x97\xA5.zip";  // 日 in UTF-8
    ziptest::WriteBytes(Shared(good), "archive");
    ziptest::WriteBytes(Shared(odd), "odd");
    svc::TCheckerSharingFolder watcher(params_, journal_.Callback());
    for (int turn = 0; turn < 3; ++turn) watcher.MoveReadyFiles();
    EXPECT_TRUE(std::filesystem::exists(In(good)));
    EXPECT_TRUE(std::filesystem::exists(Shared(odd)));
    const std::string error = "!Error: " + rtl::UnnamableFileMessage(Shared(odd));
    EXPECT_EQ(journal_.Count(error), 1) << journal_.Text();
}

// A writer that grows its file between two turns, holding no lock: the file is taken only once
// it stopped changing.
TEST_F(Watcher, AFileThatGrowsIsTakenOnlyOnceItIsStable) {
    const std::string name = PackageName("20240305080000000");
    svc::TCheckerSharingFolder watcher(params_, journal_.Callback());
    std::ofstream writer(Shared(name), std::ios::binary);
    for (int i = 0; i < 4; ++i) {
        writer << std::string(1000, 'x') << std::flush;
        watcher.MoveReadyFiles();
        EXPECT_FALSE(std::filesystem::exists(In(name))) << "turn " << i;
    }
    writer.close();
    watcher.MoveReadyFiles();
    EXPECT_TRUE(std::filesystem::exists(In(name)));
    EXPECT_EQ(std::filesystem::file_size(In(name)), 4000u);
}

class Workers : public InServiceFixture {
protected:
    std::unique_ptr<svc::TInSrvcWorkers> MakeWorkers() {
        auto workers = std::make_unique<svc::TInSrvcWorkers>(
            params_, &procedures_, &access_, journal_.Callback(),
            [this](const svc::TStartupResults& results) {
                refusal_ = svc::RefusalText(results, params_.ComputerNameSetting, params_.DBVersion);
            });
        workers->StarterRetryMs = 20;
        workers->ManagerRetryMs = 20;
        return workers;
    }
    std::string refusal_;
};

TEST_F(Workers, StarterAllowsAndTheWatcherAndManagerImportFromTheSharedFolder) {
    const std::string nine = PackageName("20240305090000000"), eight = PackageName("20240305080000000");
    ziptest::WriteBytes(Shared(nine), PackageArchive(nine, GoodPackage(9)));
    ziptest::WriteBytes(Shared(eight), PackageArchive(eight, GoodPackage(8)));
    auto workers = MakeWorkers();
    ASSERT_TRUE(workers->Start());
    ASSERT_TRUE(PumpUntil([&] { return FilesIn(In("Back")).size() == 2; })) << journal_.Text();
    EXPECT_EQ(workers->WatcherState(), svc::TSrvcWorkers::tsRunning);
    EXPECT_EQ(workers->ManagerState(), svc::TSrvcWorkers::tsRunning);
    workers->Stop();
    EXPECT_EQ(Imported(), (std::vector<std::string>{PackageIdOf(8), PackageIdOf(9)}));
    const std::vector<std::string> lines = journal_.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "!Reading params from DB...");
    for (const std::string& line :
         {std::string("!Connection: ok"), std::string("!Params from DB read done"),
          std::string("!Emitent = 7 Filial = 1"), std::string("!Folder import = ") + In(""),
          std::string("!Folder sharing = ") + Shared("")})
        EXPECT_TRUE(journal_.Has(line)) << line << "\n" << journal_.Text();
    EXPECT_TRUE(refusal_.empty());
}

TEST_F(Workers, ARefusedStartRunsNoWorker) {
    Set("PC_SRV_NAME_QEL_IN", "ANOTHER-HOST");
    ziptest::WriteBytes(Shared(PackageName("20240305090000000")), "x");
    auto workers = MakeWorkers();
    ASSERT_TRUE(workers->Start());
    ASSERT_TRUE(PumpUntil([&] { return !refusal_.empty(); })) << journal_.Text();
    EXPECT_EQ(refusal_, "Error! Cannot start service. Service registered on computer ANOTHER-HOST");
    EXPECT_EQ(workers->WatcherState(), svc::TSrvcWorkers::tsNone);
    workers->Stop();
    EXPECT_EQ(FilesIn(Shared("")).size(), 1u);
}

// Every good package imported once and in order, though the database went away while the
// second one was being imported and came back later.
TEST_F(Workers, ADatabaseLostMidPassLosesAndDoublesNothing) {
    std::atomic<bool> broken{false};
    db_.handlers["ZUV_EXPORT_OUT_PACK.p_set_dr_request"] = [&](svcfake::TFakeProc& proc) {
        if (proc.In("P_DR_REQUEST_ID") == "2" && !broken.exchange(true)) {
            access_.down = true;
            access_.last.load()->connected = false;  // on this (the manager's) thread
            throw rtl::EDatabaseError("ORA-03113: end-of-file on communication channel");
        }
    };
    db_.handlers["ZUV_EXPORT_OUT_PACK.set_status_imported"] = [&](svcfake::TFakeProc&) {};
    for (int n = 1; n <= 4; ++n) {
        const std::string name = PackageName("2024030508000000" + std::to_string(n));
        ziptest::WriteBytes(Shared(name), PackageArchive(name, GoodPackage(n)));
    }
    auto workers = MakeWorkers();
    ASSERT_TRUE(workers->Start());
    ASSERT_TRUE(PumpUntil([&] { return broken && db_.CountOf("Connect") >= 4; })) << journal_.Text();
    EXPECT_EQ(FilesIn(In("Back")), std::vector<std::string>{PackageName("20240305080000001")});
    EXPECT_TRUE(std::filesystem::exists(In(PackageName("20240305080000002")))) << "it stays";
    EXPECT_TRUE(FilesIn(In("Error")).empty());
    access_.down = false;
    ASSERT_TRUE(PumpUntil([&] { return FilesIn(In("Back")).size() == 4; })) << journal_.Text();
    workers->Stop();
    EXPECT_EQ(Imported(),
              (std::vector<std::string>{PackageIdOf(1), PackageIdOf(2), PackageIdOf(3), PackageIdOf(4)}));
    EXPECT_TRUE(journal_.HasPrefix("!Error: ORA-12541")) << journal_.Text();
}

TEST_F(Workers, StopWhileTheDatabaseIsOutOfReachEndsTheManagerWithTerminated) {
    svc::TManagerPackageThread manager(params_, &access_, journal_.Callback());
    manager.ConnectRetryMs = 20;
    access_.down = true;
    manager.Start();
    ASSERT_TRUE(PumpUntil([&] { return db_.CountOf("Connect") >= 2; }));
    manager.Terminate();
    manager.WaitFor();
    EXPECT_TRUE(journal_.Has("!Error: Terminated")) << journal_.Text();
    EXPECT_TRUE(journal_.Has("!Error: ORA-12541: TNS:no listener")) << journal_.Text();
}

// The mailbox: a signed letter's package is saved into the import folder and imported; the
// mailbox is read on the first pass and then only after the mail interval.
class Mail : public InServiceFixture {
protected:
    void SetUp() override {
        InServiceFixture::SetUp();
        params_.Pop3EnableQelIn = true;
        params_.POP3Server = "mail.example";
        params_.POP3Port = 110;
        params_.POP3Login = "import";
        params_.POP3Pass = "secret";
    }
    void Run(int intervalMs, int runMs) {
        params_.CIntervalQelInSrvc = intervalMs;
        svc::TManagerPackageThread manager(params_, &access_, journal_.Callback());
        manager.PassPauseMs = 10;
        manager.Pop3ClientFactory = [this](const svc::TPop3Gateway&) {
            ++checks_;
            return std::make_unique<pop3test::TFakeClient>(box_);
        };
        manager.Start();
        PumpUntil([] { return false; }, runMs);
        manager.Terminate();
        manager.WaitFor();
    }
    pop3test::TMailbox box_;
    std::atomic<int> checks_{0};
};

TEST_F(Mail, ALetterPackageIsSavedImportedAndDeleted) {
    const std::string name = PackageName("20240305080000000");
    box_.Add(pop3test::Letter(svc::BuildSignedSubject(svc::kMailPrefix, 7, 1),
                              {{"filename=\"" + name + "\"", PackageArchive(name, GoodPackage(5))}}));
    box_.Add(pop3test::Letter(svc::BuildSignedSubject("QelExport", 7, 1),
                              {{"filename=\"" + name + "\"", PackageArchive(name, GoodPackage(6))}}));
    Run(60000, 1500);
    EXPECT_EQ(FilesIn(In("Back")), std::vector<std::string>{name}) << journal_.Text();
    EXPECT_EQ(Imported(), std::vector<std::string>{PackageIdOf(5)});
    ASSERT_EQ(box_.letters.size(), 1u) << "the accepted letter is gone";
    EXPECT_NE(box_.letters[0].raw.find("QelExport"), std::string::npos)
        << "another prefix stays on the server";
    EXPECT_EQ(checks_, 1) << "read on the first pass, then not before the interval";
    EXPECT_TRUE(journal_.Has("!Start checking mail"));
    EXPECT_TRUE(journal_.Has("!Mail completed"));
}

TEST_F(Mail, TheMailboxIsReadAgainOnlyAfterTheInterval) {
    Run(300, 1700);
    EXPECT_GE(checks_, 2);
    EXPECT_LE(checks_, 7);
}

}  // namespace
