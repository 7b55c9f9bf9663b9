// The program ZuvQelInSrvc as a foreground service against a demo Qel database on the stand-in
// Oracle client: web-side packages made by zuvwebpack and one broken package dropped into its
// shared folder; each good package's requests are written once, the broken one ends in Error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
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

struct TRunCase {
    const char* name;
    bool encrypted;  // the import reads .dat packages encrypted for its key, else plain .zip
};

class InProgramOnDatabaseBase : public ProgramOnDatabaseBase {
protected:
    InProgramOnDatabaseBase()
        : ProgramOnDatabaseBase("insrvcdb", "import_service/ZuvQelInSrvc", "LogInPath") {}

    void Prepare(bool encrypted) {
        PrepareProgram(std::string("--set CIntervalQelInSrvc=500 --set EnableImportEncrypt=") +
                       (encrypted ? "1" : "0"));
        if (HasFatalFailure()) return;
        std::string out;
        if (encrypted) {
            ASSERT_EQ(0,
                      RunCommand("DX_KEYSTORE=" + ShellQuote(dir_ / "keys") + " " +
                                     ShellQuote(DX_BINARY_DIR "/tools/zuvcrypt") + " new-key ZUV_QEL_IMPORT",
                                 &out))
                << out;
            publicKey_ = Trimmed(out);
        }
    }

    // A package of the requests, made by zuvwebpack into folder; its file name.
    std::string WebPackage(const std::string& requests, const std::string& folder, const std::string& time) {
        ostest::WriteFile(dir_ / "requests.txt", requests);
        std::string out;
        const std::string key = publicKey_.empty() ? "" : " --public-key " + publicKey_;
        EXPECT_EQ(
            0, RunCommand(ShellQuote(DX_BINARY_DIR "/tools/zuvwebpack") + " --issuer 7 --branch 1 --time " +
                              time + key + " " + ShellQuote(dir_ / "requests.txt") + " " + ShellQuote(folder),
                          &out))
            << out;
        return fs::path(Trimmed(out)).filename().string();
    }
    static bool Has(const std::string& folder, const std::string& name) {
        return fs::exists(fs::path(folder) / name);
    }

    std::string publicKey_;
};

class InProgramOnDatabase : public InProgramOnDatabaseBase, public ::testing::WithParamInterface<TRunCase> {
protected:
    void SetUp() override { Prepare(GetParam().encrypted); }
};

class InProgramKilled : public InProgramOnDatabaseBase {
protected:
    void SetUp() override { Prepare(false); }
};

}  // namespace

TEST_P(InProgramOnDatabase, GoodPackagesAreImportedOnceAndABrokenOneEndsInError) {
    const std::string card = SqliteText("SELECT min(crd_graphnum) FROM card WHERE client_id = 1");
    const std::string service =
        SqliteText("SELECT min(prs_srv_id) FROM purse WHERE gr_nomer = '" + card + "'");
    ASSERT_FALSE(card.empty());
    ASSERT_FALSE(service.empty());
    // Client 1 receives coupons; the first code of its code table.
    const std::string code = SqliteText(
        "SELECT k.code_num || ' ' || k.code FROM client c JOIN coupon_setting s ON s.customers_id = "
        "c.onl_client_id JOIN sec_code k ON k.code_table_num = s.code_table_num WHERE c.client_id = 1 "
        "AND c.client_type = 1 AND s.receive_vc = 1 ORDER BY k.code_num LIMIT 1");
    ASSERT_NE(code.find(' '), std::string::npos) << code;
    const std::string common = " ClientId=1 ClientType=1 CardNumber=" + card;
    const auto coupons = [&](int id, const std::string& group, int amount) {
        return "CREATE_COUPON Id=" + std::to_string(id) + " TypeVCRequestId=1 GroupId=" + group +
               " OrderId=" + std::to_string(id) +
               " ClientId=1 ClientType=1 TypeVCLimitID=1 ServiceId=" + service +
               " Price=50 Nominal=50 DeclaredAmount=" + std::to_string(amount) +
               " DateExpiration=2025-06-01T00:00:00 HolderName=Holder PhoneNumber=123 Email=a@b.c "
               "NumSecurityCode=" +
               code.substr(0, code.find(' ')) + " SecurityCode=" + code.substr(code.find(' ') + 1) +
               " DateCreate=2024-06-01T10:03:00\n";
    };
    // Three coupons generated; too many asked for: the database refuses and nothing of it stays.
    const std::string generated = "{C0000000-0000-4000-8000-000000000001}";
    const std::string refused = "{C0000000-0000-4000-8000-000000000002}";
    const std::string staging = dir_ / "staging";
    fs::create_directories(staging);
    const std::string first =
        WebPackage("RECHARGE Id=90001" + common + " Amount=1500.5 ServiceId=" + service +
                       " DateCreate=2024-06-01T10:00:00\n"
                       "CHANGE_HOLDER Id=90002" +
                       common + " DateCreate=2024-06-01T10:01:00 NewHolderName=\"Иванов Иван\"\n" +
                       coupons(90004, generated, 3) + coupons(90005, refused, 5000),
                   staging, "20240601100000000");
    const std::string second = WebPackage(
        "DEBIT Id=90003" + common + " Amount=200 ServiceId=" + service + " DateCreate=2024-06-01T10:02:00\n",
        staging, "20240601100500000");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    // A package with a proper name whose content is not a package at all.
    const std::string broken =
        "ZuvWebExport_0000701_20240601101000000" + fs::path(first).extension().string();
    ostest::WriteFile(fs::path(staging) / broken, "this is not a package\n");
    const long drBefore = std::stol(SqliteText("SELECT count(*) FROM dr_request"));
    const long ddBefore = std::stol(SqliteText("SELECT count(*) FROM dd_request"));
    const long chBefore = std::stol(SqliteText("SELECT count(*) FROM ch_holder_request"));

    Child program({dir_ / "ZuvQelInSrvc"}, Env());
    const std::string shared = dir_ / "zuv/in-share";
    const std::string back = dir_ / "zuv/in/Back", error = dir_ / "zuv/in/Error";
    for (const std::string& name : {first, second, broken})
        fs::rename(fs::path(staging) / name, fs::path(shared) / name);
    // An encrypted package is imported as the .zip it decrypts to; one that does not decrypt stays
    // as it came.
    const auto zip = [](const std::string& name) {
        return fs::path(name).replace_extension(".zip").string();
    };
    bool ended = false;
    for (int waited = 0; waited < 60000 && !ended; waited += 100) {
        ended = Has(back, zip(first)) && Has(back, zip(second)) && Has(error, broken);
        if (!ended) ::usleep(100000);
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(60000), 0) << program.Output();
    const std::string journal = Journal();
    ASSERT_TRUE(ended) << journal;
    for (const std::string& name : {first, second, zip(first), zip(second)}) {
        EXPECT_FALSE(Has(error, name)) << name << "\n" << journal;
        EXPECT_FALSE(Has(shared, name) || Has(dir_ / "zuv/in", name)) << name << " left behind";
    }
    EXPECT_EQ(GetParam().encrypted, !Has(back, first)) << "an encrypted package leaves no .dat behind";

    // Each good package's requests once, the broken package's none.
    EXPECT_EQ("1",
              SqliteText("SELECT count(*) FROM dr_request WHERE dr_request_id = 90001 AND amount = 1500.5 "
                         "AND card_number = '" +
                         card + "'"));
    EXPECT_EQ("1",
              SqliteText("SELECT count(*) FROM dd_request WHERE dd_request_id = 90003 AND amount = 200"));
    EXPECT_EQ(
        "Иванов Иван",
        SqliteText("SELECT card_holder_name FROM ch_holder_request WHERE ch_card_holder_req_id = 90002"));
    EXPECT_EQ("3", SqliteText("SELECT count(*) FROM coupon WHERE vc_group_id = '" + generated + "'"));
    EXPECT_EQ("0", SqliteText("SELECT count(*) FROM coupon WHERE vc_group_id = '" + refused + "'"));
    EXPECT_EQ("0", SqliteText("SELECT count(*) FROM coupon_group WHERE vc_group_id = '" + refused + "'"));
    EXPECT_EQ("2", SqliteText("SELECT count(*) FROM coupon_request WHERE request_id IN (90004, 90005)"));
    EXPECT_EQ(drBefore + 1, std::stol(SqliteText("SELECT count(*) FROM dr_request")));
    EXPECT_EQ(ddBefore + 1, std::stol(SqliteText("SELECT count(*) FROM dd_request")));
    EXPECT_EQ(chBefore + 1, std::stol(SqliteText("SELECT count(*) FROM ch_holder_request")));

    // Error lines of the journal are about the broken package only.
    std::istringstream lines(journal);
    for (std::string line; std::getline(lines, line);)
        if (line.find("rror") != std::string::npos && line.find(broken) == std::string::npos)
            ADD_FAILURE() << "unexpected: " << line << "\n" << journal;
    EXPECT_NE(journal.find("] Utility \"Zuv Qel in Srvc\" finished...\r\n"), std::string::npos) << journal;
}

INSTANTIATE_TEST_SUITE_P(Packages, InProgramOnDatabase,
                         ::testing::Values(TRunCase{"Plain", false}, TRunCase{"Encrypted", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The service killed at a random moment while it imports, then started again: every package ends
// in Back and each of its requests is written once, none lost.
TEST_F(InProgramKilled, EveryPackageIsImportedOnceAfterAKillDuringTheImport) {
    const std::string card = SqliteText("SELECT min(crd_graphnum) FROM card WHERE client_id = 1");
    const std::string service =
        SqliteText("SELECT min(prs_srv_id) FROM purse WHERE gr_nomer = '" + card + "'");
    ASSERT_FALSE(card.empty());
    const std::string staging = dir_ / "staging";
    fs::create_directories(staging);
    // Enough requests that a kill 0-400 ms into the import mostly lands inside it.
    constexpr int kPackages = 6, kRequests = 200, kFirstId = 500000;
    std::vector<std::string> names;
    for (int p = 0; p < kPackages; ++p) {
        std::string requests;
        for (int r = 0; r < kRequests; ++r)
            requests += "RECHARGE Id=" + std::to_string(kFirstId + p * kRequests + r) +
                        " ClientId=1 ClientType=1 CardNumber=" + card + " Amount=10 ServiceId=" + service +
                        " DateCreate=2024-06-01T10:00:00\n";
        char time[32];
        std::snprintf(time, sizeof time, "202406011000%02d000", p);
        names.push_back(WebPackage(requests, staging, time));
        ASSERT_FALSE(names.back().empty());
    }
    const std::string shared = dir_ / "zuv/in-share", import = dir_ / "zuv/in";
    const std::string back = import + "/Back";
    const unsigned seed = static_cast<unsigned>(::time(nullptr));
    std::srand(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const long importedBefore = std::stol(SqliteText("SELECT count(*) FROM in_package WHERE state = 1"));

    {
        Child program({dir_ / "ZuvQelInSrvc"}, Env());
        for (const std::string& name : names) fs::rename(fs::path(staging) / name, fs::path(shared) / name);
        bool importing = false;
        for (int waited = 0; waited < 60000 && !importing; waited += 5) {
            importing = Journal().find("Processing of the packet") != std::string::npos;
            if (!importing) ::usleep(5000);
        }
        ASSERT_TRUE(importing) << Journal();
        ::usleep(static_cast<useconds_t>(std::rand() % 400) * 1000);
        program.Signal(SIGKILL);
        program.Wait(10000);
    }
    const long written = std::stol(
        SqliteText("SELECT count(*) FROM dr_request WHERE dr_request_id >= " + std::to_string(kFirstId)));
    std::printf("killed with %ld of %d requests written\n", written, kPackages * kRequests);

    // The killed run may have imported everything already: the new one is stopped only after its
    // start line, so that it has begun to watch for the stop.
    const auto starts = [&] {
        const std::string journal = Journal();
        size_t n = 0;
        for (size_t at = journal.find("\" started..."); at != std::string::npos;
             at = journal.find("\" started...", at + 1))
            ++n;
        return n;
    };
    const size_t startsBefore = starts();
    Child program({dir_ / "ZuvQelInSrvc"}, Env());
    bool ended = false;
    for (int waited = 0; waited < 60000 && !ended; waited += 100) {
        ended = starts() > startsBefore && std::all_of(names.begin(), names.end(), [&](const std::string& n) {
                    return Has(back, n) || Has(import + "/Error", n);
                });
        if (!ended) ::usleep(100000);
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(60000), 0) << program.Output();
    const std::string journal = Journal();
    ASSERT_TRUE(ended) << journal;
    for (const std::string& name : names) EXPECT_TRUE(Has(back, name)) << name << "\n" << journal;
    EXPECT_EQ(
        std::to_string(kPackages * kRequests),
        SqliteText("SELECT count(DISTINCT dr_request_id) FROM dr_request WHERE dr_request_id BETWEEN " +
                   std::to_string(kFirstId) + " AND " + std::to_string(kFirstId + kPackages * kRequests - 1)))
        << journal;
    EXPECT_EQ(importedBefore + kPackages,
              std::stol(SqliteText("SELECT count(*) FROM in_package WHERE state = 1")))
        << journal;
}

// A package the database has imported comes back: delivered again into the shared folder, or left
// in the import folder by a stop between the body's commit and the move to Back (the state such a
// kill leaves, made here without depending on hitting that instant). Either way it goes to Back and
// nothing of it is written a second time; a client state change, which has no id of its own to
// refuse a copy, shows it.
TEST_F(InProgramKilled, APackageImportedBeforeIsNeverImportedAgain) {
    const std::string card = SqliteText("SELECT min(crd_graphnum) FROM card WHERE client_id = 1");
    const std::string service =
        SqliteText("SELECT min(prs_srv_id) FROM purse WHERE gr_nomer = '" + card + "'");
    ASSERT_FALSE(card.empty());
    const std::string staging = dir_ / "staging", kept = dir_ / "kept";
    fs::create_directories(staging);
    fs::create_directories(kept);
    const std::string name = WebPackage(
        "RECHARGE Id=92001 ClientId=1 ClientType=1 CardNumber=" + card + " Amount=10 ServiceId=" + service +
            " DateCreate=2024-06-01T10:00:00\n"
            "CHANGE_CLIENT_STATE Id=92002 ClientId=1 ClientType=1 BeforeState=0 NewState=1\n",
        staging, "20240601110000000");
    ASSERT_FALSE(name.empty());
    fs::copy_file(fs::path(staging) / name, fs::path(kept) / name);
    const std::string shared = dir_ / "zuv/in-share", import = dir_ / "zuv/in";
    const std::string back = import + "/Back", error = import + "/Error";
    const long statesBefore = std::stol(SqliteText("SELECT count(*) FROM client_state_request"));
    const long importedBefore = std::stol(SqliteText("SELECT count(*) FROM in_package WHERE state = 1"));
    const auto skipped = [&] {
        const std::string journal = Journal();
        size_t n = 0;
        for (size_t at = journal.find("is already imported"); at != std::string::npos;
             at = journal.find("is already imported", at + 1))
            ++n;
        return n;
    };
    // Runs the service until done() holds (or a minute has passed), then stops it.
    const auto runUntil = [&](const std::function<bool()>& done) {
        Child program({dir_ / "ZuvQelInSrvc"}, Env());
        bool ok = false;
        for (int waited = 0; waited < 60000 && !ok; waited += 100) {
            ok = done();
            if (!ok) ::usleep(100000);
        }
        program.Signal(SIGTERM);
        EXPECT_EQ(program.Wait(60000), 0) << program.Output();
        return ok;
    };

    fs::rename(fs::path(staging) / name, fs::path(shared) / name);
    ASSERT_TRUE(runUntil([&] { return Has(back, name); })) << Journal();
    const struct {
        const char* what;
        std::string folder;
    } comebacks[] = {{"delivered again", shared}, {"left behind by a stop before the move", import}};
    size_t expectedSkips = 0;
    for (const auto& c : comebacks) {
        SCOPED_TRACE(c.what);
        fs::remove(fs::path(back) / name);
        fs::copy_file(fs::path(kept) / name, fs::path(c.folder) / name);
        ++expectedSkips;
        EXPECT_TRUE(runUntil([&] { return skipped() == expectedSkips && Has(back, name); })) << Journal();
        EXPECT_FALSE(Has(shared, name) || Has(import, name) || Has(error, name));
    }
    const std::string journal = Journal();
    EXPECT_EQ("1", SqliteText("SELECT count(*) FROM dr_request WHERE dr_request_id = 92001"));
    EXPECT_EQ(statesBefore + 1, std::stol(SqliteText("SELECT count(*) FROM client_state_request")))
        << journal;
    EXPECT_EQ(importedBefore + 1, std::stol(SqliteText("SELECT count(*) FROM in_package WHERE state = 1")));
    std::istringstream lines(journal);
    for (std::string line; std::getline(lines, line);)
        if (line.find("rror") != std::string::npos)
            ADD_FAILURE() << "unexpected: " << line << "\n" << journal;
}
