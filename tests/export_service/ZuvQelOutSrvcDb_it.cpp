// The program ZuvQelOutSrvc as a foreground service against a demo Qel database on the stand-in
// Oracle client: it connects, reads the exchange settings, exports a package of the waiting rows
// and copies it into the shared folder, where the web side takes it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/rtl/DateTime.h"
#include "tests/common/ProgramOnDatabase.h"
#include "tests/common/TestShell.h"
#include "tests/platform/os/OsTestSupport.h"

namespace fs = std::filesystem;
using ostest::Child;
using ostest::DatagramSocket;
using ostest::ReadFile;
using ostest::TempDir;
using testshell::RunCommand;
using testshell::ShellQuote;

namespace {

class ProgramOnDatabase : public ProgramOnDatabaseBase {
protected:
    ProgramOnDatabase() : ProgramOnDatabaseBase("outsrvcdb", "export_service/ZuvQelOutSrvc", "LogOutPath") {}
    void SetUp() override { PrepareProgram("--set Interval=1 --set RepeatEveryTimeHMS=0"); }

    // The files of a folder, by name; a package still being copied in is a hidden temporary file.
    static std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST_F(ProgramOnDatabase, APackageOfTheWaitingRowsLandsInTheSharedFolder) {
    const std::string shared = dir_ / "zuv/out-share";
    const long waiting = std::stol(SqliteText("SELECT count(*) FROM pos WHERE package_id IS NULL"));
    ASSERT_GT(waiting, 0);
    const long packagesBefore = std::stol(SqliteText("SELECT count(*) FROM out_package"));
    const long repeatsBefore =
        std::stol(SqliteText("SELECT count(*) FROM out_package WHERE repeat_requested <> 0"));
    Child program({dir_ / "ZuvQelOutSrvc"}, Env());
    std::vector<std::string> landed;
    for (int waited = 0; waited < 60000 && landed.empty(); waited += 100) {
        landed = Files(shared);
        if (landed.empty()) ::usleep(100000);
    }
    ASSERT_FALSE(landed.empty()) << Journal();
    std::string listing;
    EXPECT_EQ(0, RunCommand("unzip -l " + ShellQuote(shared + "/" + landed[0]), &listing)) << listing;
    EXPECT_NE(listing.find(".xml"), std::string::npos) << listing;

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(60000), 0) << program.Output();
    const std::string journal = Journal();
    EXPECT_NE(journal.find("] Connection: ok\r\n"), std::string::npos) << journal;
    EXPECT_NE(journal.find("] Database zuv verion = 2.9.1.0\r\n"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("] Error: "), std::string::npos) << journal;
    // Every package is registered and marked as sent, and the waiting rows carry a package's id.
    EXPECT_EQ("0", SqliteText("SELECT count(*) FROM pos WHERE package_id IS NULL"));
    EXPECT_EQ("0", SqliteText("SELECT count(*) FROM out_package WHERE datetime_send IS NULL"));
    // In the shared folder: each package registered by the run, and each one the web side had asked
    // for again; no repeat is asked for any more.
    const long registered = std::stol(SqliteText("SELECT count(*) FROM out_package")) - packagesBefore;
    EXPECT_GE(registered, 1);
    EXPECT_EQ(static_cast<size_t>(registered + repeatsBefore), Files(shared).size());
    EXPECT_EQ("0", SqliteText("SELECT count(*) FROM out_package WHERE repeat_requested <> 0"));
    EXPECT_NE(journal.find("] Utility \"Zuv Qel Out Srvc\" finished...\r\n"), std::string::npos) << journal;
}
