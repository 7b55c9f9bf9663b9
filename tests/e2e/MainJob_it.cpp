// The main job end to end, as an operator runs it: both service programs in service mode against
// one demo Qel database on the stand-in Oracle client, across the shared folders or across the
// loopback mail pair (SMTP into a Maildir that dovecot serves over POP3). Each service is killed
// (SIGKILL) at a random moment of a package and started again; afterwards no package is lost and
// none is imported twice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/MailPair.h"
#include "tests/common/ProgramOnDatabase.h"
#include "tests/common/TestShell.h"

namespace fs = std::filesystem;
using ostest::Child;
using testshell::RunCommand;
using testshell::ShellQuote;

namespace {

const char* const kMailUser = "web";
const char* const kMailPassword = "secret";

struct TRoad {
    const char* name;
    bool mail;  // packages travel by mail (export: SMTP; import: POP3), else through the shared folders
};

class MainJob : public ProgramOnDatabaseBase, public ::testing::WithParamInterface<TRoad> {
protected:
    MainJob() : ProgramOnDatabaseBase("mainjob", "export_service/ZuvQelOutSrvc", "LogOutPath") {}

    void SetUp() override {
        const unsigned seed = static_cast<unsigned>(::time(nullptr));
        random_.seed(seed);
        std::printf("seed %u\n", seed);
        std::string settings = "--set Interval=1 --set RepeatEveryTimeHMS=0 --set CIntervalQelInSrvc=500";
        if (GetParam().mail) {
            ::chmod(dir_.Path().c_str(), 0755);  // dovecot's mail user reaches its Maildir through it
            mail_ = std::make_unique<testserver::TMailPair>(dir_ / "mail", kMailUser, kMailPassword);
            ASSERT_NO_THROW(mail_->Start());
            const std::string login = std::string(" --set SMTPLogin=") + kMailUser +
                                      " --set SMTPPass=" + kMailPassword + " --set POP3Login=" + kMailUser +
                                      " --set POP3Pass=" + kMailPassword;
            settings +=
                " --set TypeChange=1 --set SMTPServer=127.0.0.1 --set SMTPUseAuthentication=1"
                " --set SMTPPort=" +
                std::to_string(mail_->SmtpPort()) +
                " --set Pop3EnableQelIn=1 --set POP3Server=127.0.0.1 --set POP3Port=" +
                std::to_string(mail_->Pop3Port()) + login;
        }
        PrepareProgram(settings);
        if (HasFatalFailure()) return;
        // Both programs run from one folder and share its Connection.ini.
        fs::copy_file(DX_BINARY_DIR "/import_service/ZuvQelInSrvc", dir_ / "ZuvQelInSrvc");
        ostest::WriteFile(dir_ / "Connection.ini",
                          ostest::ReadFile(dir_ / "Connection.ini") + "LogInPath=" + (dir_ / "logs") + "\n");
    }

    std::string JournalOf(const std::string& program) const {
        return ostest::ReadFile(
            dir_ / ("logs/" + program + "_" + rtl::FormatDateTime("dd.mm.yyyy", rtl::Now()) + ".log"));
    }
    long Count(const std::string& sql) const { return std::stol(SqliteText(sql)); }
    // Polls until done() holds; false after the time-out. No fixed waits: a loaded machine only
    // takes longer.
    static bool PollUntil(const std::function<bool()>& done, int stepMs = 200, int milliseconds = 90000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            ::usleep(static_cast<useconds_t>(stepMs) * 1000);
        }
        return true;
    }
    // Starts the program, waits for the journal line that begins a package, lets it go on for a
    // random moment and kills it.
    void KillDuringAPackage(const std::string& program, const std::string& line, int upToMs) {
        Child child({dir_ / program}, Env());
        ASSERT_TRUE(PollUntil([&] { return JournalOf(program).find(line) != std::string::npos; }, 5))
            << JournalOf(program);
        const int ms = std::uniform_int_distribution<int>(0, upToMs)(random_);
        ::usleep(static_cast<useconds_t>(ms) * 1000);
        child.Signal(SIGKILL);
        child.Wait(10000);
        std::printf("%s killed %d ms after \"%s\"\n", program.c_str(), ms, line.c_str());
    }
    // Runs the program until done() holds, then stops it as systemd does; it must end cleanly.
    // A stop that came before the program watches for it would end it by the signal, so the start
    // line of this run is awaited first (a run killed earlier may have left nothing to do).
    bool RunUntil(const std::string& program, const std::function<bool()>& done) {
        const auto starts = [&] {
            const std::string journal = JournalOf(program);
            size_t n = 0;
            for (size_t at = journal.find("\" started..."); at != std::string::npos;
                 at = journal.find("\" started...", at + 1))
                ++n;
            return n;
        };
        const size_t before = starts();
        Child child({dir_ / program}, Env());
        EXPECT_TRUE(PollUntil([&] { return starts() > before; })) << JournalOf(program);
        const bool ok = PollUntil(done);
        child.Signal(SIGTERM);
        EXPECT_EQ(child.Wait(60000), 0) << child.Output();
        return ok;
    }
    std::string Helper(const std::string& args) const {
        std::string out;
        EXPECT_EQ(0, RunCommand("python3 " + ShellQuote(DX_SOURCE_DIR "/tests/e2e/mail_road.py") + " " + args,
                                &out))
            << out;
        return out;
    }
    static std::set<std::string> Lines(const std::string& text) {
        std::set<std::string> lines;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            if (!l.empty()) lines.insert(l);
        return lines;
    }
    // The journal's error lines but those of a registration refused because the killed run had
    // registered the package already (its requests are imported all the same).
    static std::vector<std::string> ErrorLines(const std::string& journal) {
        std::vector<std::string> errors;
        std::istringstream in(journal);
        for (std::string l; std::getline(in, l);)
            if (l.find("] Error: ") != std::string::npos &&
                l.find("] Error: Packageid = ") == std::string::npos &&
                l.find("] Error: ORA-00001: ") == std::string::npos)
                errors.push_back(l);
        return errors;
    }

    std::mt19937 random_;
    std::unique_ptr<testserver::TMailPair> mail_;
};

}  // namespace

// The export: killed while it makes a package, started again. Every package it registered is
// delivered (found in the shared folder or in a letter of the mailbox) and marked sent, and every
// row that waited has gone out with one of them.
TEST_P(MainJob, ExportKilledMidPackageLosesNoPackage) {
    const auto ids = [&] { return Lines(SqliteText("SELECT package_id FROM out_package")); };
    const auto sent = [&](const std::string& id) {
        return Count("SELECT count(*) FROM out_package WHERE datetime_send IS NOT NULL AND package_id = '" +
                     id + "'") == 1;
    };
    const std::set<std::string> old = ids();
    ASSERT_GT(Count("SELECT count(*) FROM pos WHERE package_id IS NULL"), 0);
    ASSERT_NO_FATAL_FAILURE(KillDuringAPackage("ZuvQelOutSrvc", "New data PackageID", 300));
    std::set<std::string> killed;
    for (const std::string& id : ids())
        if (!old.count(id)) killed.insert(id);
    ASSERT_FALSE(killed.empty()) << "the package under way was registered";

    // Started again, it delivers what the killed run registered and goes on with new packages.
    const bool done = RunUntil("ZuvQelOutSrvc", [&] {
        const std::set<std::string> now = ids();
        const bool killedSent = std::all_of(killed.begin(), killed.end(), sent);
        return killedSent && std::any_of(now.begin(), now.end(), [&](const std::string& id) {
                   return !old.count(id) && !killed.count(id) && sent(id);
               });
    });
    const std::string journal = JournalOf("ZuvQelOutSrvc");
    ASSERT_TRUE(done) << journal;
    // Stopped: every package of both runs is marked sent and found where the web side takes it.
    EXPECT_EQ(0, Count("SELECT count(*) FROM out_package WHERE datetime_send IS NULL")) << journal;
    const std::string place = GetParam().mail ? mail_->Maildir() : std::string(dir_ / "zuv/out-share");
    const std::set<std::string> found = Lines(Helper("packages " + ShellQuote(place)));
    for (const std::string& id : ids()) {
        if (!old.count(id)) {
            EXPECT_TRUE(found.count(id)) << id << " not delivered\n" << journal;
        }
    }
    EXPECT_EQ(0, Count("SELECT count(*) FROM pos WHERE package_id IS NULL")) << journal;
    EXPECT_TRUE(ErrorLines(journal).empty()) << journal;
}

// The import: web packages made by zuvwebpack, in the shared folder or mailed to the mailbox; the
// service killed while it imports, started again. Every package ends in Back, no web letter is
// left in the mailbox, and each package's requests are written once.
TEST_P(MainJob, ImportKilledMidPackageImportsEachPackageOnce) {
    const std::string card = SqliteText("SELECT min(crd_graphnum) FROM card WHERE client_id = 1");
    const std::string service =
        SqliteText("SELECT min(prs_srv_id) FROM purse WHERE gr_nomer = '" + card + "'");
    ASSERT_FALSE(card.empty());
    const std::string staging = dir_ / "staging";
    fs::create_directories(staging);
    constexpr int kPackages = 5, kRequests = 20, kFirstId = 93000;
    std::vector<std::string> names;
    for (int p = 0; p < kPackages; ++p) {
        // A client state change has no id of its own: written twice, it shows as two rows.
        std::string requests = "CHANGE_CLIENT_STATE Id=" + std::to_string(kFirstId + 900 + p) +
                               " ClientId=1 ClientType=1 BeforeState=0 NewState=" + std::to_string(p % 2) +
                               "\n";
        for (int r = 0; r < kRequests; ++r)
            requests += "RECHARGE Id=" + std::to_string(kFirstId + p * kRequests + r) +
                        " ClientId=1 ClientType=1 CardNumber=" + card + " Amount=10 ServiceId=" + service +
                        " DateCreate=2024-06-01T10:00:00\n";
        ostest::WriteFile(dir_ / "requests.txt", requests);
        char time[32];
        std::snprintf(time, sizeof time, "202406011200%02d000", p);
        std::string out;
        ASSERT_EQ(
            0, RunCommand(ShellQuote(DX_BINARY_DIR "/tools/zuvwebpack") + " --issuer 7 --branch 1 --time " +
                              time + " " + ShellQuote(dir_ / "requests.txt") + " " + ShellQuote(staging),
                          &out))
            << out;
        names.push_back(fs::path(Trimmed(out)).filename().string());
    }
    const long states = Count("SELECT count(*) FROM client_state_request");
    const long imported = Count("SELECT count(*) FROM in_package WHERE state = 1");
    const std::string import = dir_ / "zuv/in";
    if (GetParam().mail) {
        std::string files;
        for (const std::string& n : names) files += " " + ShellQuote(fs::path(staging) / n);
        Helper("send " + std::to_string(mail_->SmtpPort()) + " " + kMailUser + " " + kMailPassword + files);
    } else {
        for (const std::string& n : names)
            fs::rename(fs::path(staging) / n, fs::path(dir_ / "zuv/in-share") / n);
    }
    ASSERT_NO_FATAL_FAILURE(KillDuringAPackage("ZuvQelInSrvc", "Processing of the packet", 400));

    const auto webLetters = [&] {
        if (!GetParam().mail) return 0;
        int n = 0;
        for (const std::string& subject : Lines(Helper("subjects " + ShellQuote(mail_->Maildir()))))
            n += subject.rfind("WebExport", 0) == 0;
        return n;
    };
    const bool done = RunUntil("ZuvQelInSrvc", [&] {
        return std::all_of(names.begin(), names.end(),
                           [&](const std::string& n) {
                               return fs::exists(import + "/Back/" + n) || fs::exists(import + "/Error/" + n);
                           }) &&
               webLetters() == 0;
    });
    const std::string journal = JournalOf("ZuvQelInSrvc");
    ASSERT_TRUE(done) << journal;
    for (const std::string& n : names) EXPECT_TRUE(fs::exists(import + "/Back/" + n)) << n << "\n" << journal;
    EXPECT_EQ(0, webLetters()) << "web letters left in the mailbox";
    EXPECT_EQ(kPackages * kRequests, Count("SELECT count(*) FROM dr_request WHERE dr_request_id BETWEEN " +
                                           std::to_string(kFirstId) + " AND " +
                                           std::to_string(kFirstId + kPackages * kRequests - 1)))
        << journal;
    EXPECT_EQ(states + kPackages, Count("SELECT count(*) FROM client_state_request")) << journal;
    EXPECT_EQ(imported + kPackages, Count("SELECT count(*) FROM in_package WHERE state = 1")) << journal;
    EXPECT_TRUE(ErrorLines(journal).empty()) << journal;
}

INSTANTIATE_TEST_SUITE_P(Roads, MainJob, ::testing::Values(TRoad{"SharedFolder", false}, TRoad{"Mail", true}),
                         [](const auto& info) { return std::string(info.param.name); });
