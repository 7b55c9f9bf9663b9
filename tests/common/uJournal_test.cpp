// The daily journal: file naming and folders, the line form, the extended-log filter, the new
// file at midnight, the exclusive lock, and the fallback that keeps every unwritable line.
#include "common/uJournal.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Files.h"
#include "tests/platform/os/OsTestSupport.h"

using ostest::ReadFile;
using ostest::TempDir;
using svc::TJournal;

namespace {

class JournalTest : public ::testing::Test {
protected:
    JournalTest() {
        journal_.SetLogPath(dir_ / "logs");
        journal_.OnFailure = [this](const std::string& line, const std::string& reason) {
            failures_.push_back(reason + " | " + line);
        };
    }
    void SetTime(int y, int m, int d, int h, int n, int s, int ms) {
        now_ = rtl::EncodeDateTime(y, m, d, h, n, s, ms);
    }
    std::string File(const std::string& date) const { return dir_ / ("logs/ZuvQelOutSrvc_" + date + ".log"); }

    TempDir dir_{"journal"};
    double now_ = rtl::EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);
    TJournal journal_{"ZuvQelOutSrvc", [this] { return now_; }};
    std::vector<std::string> failures_;
};

TEST_F(JournalTest, NamesTheFileAfterStemAndDateAndWritesStampedLines) {
    journal_.Open();
    EXPECT_EQ(journal_.FileName(), File("05.03.2024"));
    journal_.Write("", true);
    journal_.Write("Utility \"Zuv Qel Out Srvc\" started...", true);
    SetTime(2024, 3, 5, 9, 0, 0, 7);
    journal_.LogError("Connection error");
    EXPECT_EQ(ReadFile(File("05.03.2024")),
              "[14:07:09.045] \r\n[14:07:09.045] Utility \"Zuv Qel Out Srvc\" started...\r\n"
              "[09:00:00.007] Error: Connection error\r\n");
    EXPECT_TRUE(failures_.empty());
}

TEST_F(JournalTest, FolderRules) {
    TJournal j("ZuvQelInSrvc", [this] { return now_; });
    j.SetLogPath(dir_ / "a/b/c/");  // a trailing delimiter doubles, which the system accepts
    EXPECT_EQ(j.FileNameFor(now_), dir_ / "a/b/c//ZuvQelInSrvc_05.03.2024.log");
    j.Open();
    EXPECT_TRUE(rtl::FileExists(dir_ / "a/b/c/ZuvQelInSrvc_05.03.2024.log"))
        << "folders made with their parents";
    j.SetLogPath("");
    EXPECT_EQ(j.FileNameFor(now_),
              rtl::ExtractFilePath(rtl::ApplicationExeName()) + "ZuvQelInSrvc_05.03.2024.log");
}

TEST_F(JournalTest, AppendsToAnExistingFileInUtf8) {
    rtl::ForceDirectories(dir_ / "logs");
    ostest::WriteFile(File("05.03.2024"), "[08:00:00.000] earlier\r\n");
    journal_.Open();
    journal_.Write("\xC6\xF3\xF0\xED\xE0\xEB", true);
    EXPECT_EQ(
        ReadFile(File("05.03.2024")),
        "[08:00:00.000] earlier\r\n[14:07:09.045] \xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB\r\n");
}

TEST_F(JournalTest, UnimportantLinesOnlyWithExtendedLog) {
    std::vector<std::string> shown;
    journal_.OnLine = [&](const std::string& line) { shown.push_back(line); };
    journal_.Open();
    journal_.Write("moved to Back", false);
    journal_.SetExtendedLog(true);
    journal_.Write("moved to Back again", false);
    EXPECT_EQ(ReadFile(File("05.03.2024")), "[14:07:09.045] moved to Back again\r\n");
    EXPECT_EQ(shown, (std::vector<std::string>{"[14:07:09.045] moved to Back again"}));
}

TEST_F(JournalTest, FirstLineOfANewDayGoesToTheNewFile) {
    SetTime(2024, 12, 31, 23, 59, 59, 999);
    journal_.Open();
    journal_.Write("last of the year", true);
    SetTime(2025, 1, 1, 0, 0, 0, 0);
    journal_.Write("first of the year", true);
    EXPECT_EQ(journal_.FileName(), File("01.01.2025"));
    EXPECT_EQ(ReadFile(File("31.12.2024")), "[23:59:59.999] last of the year\r\n");
    EXPECT_EQ(ReadFile(File("01.01.2025")), "[00:00:00.000] first of the year\r\n");
}

TEST_F(JournalTest, SecondWriterIsKeptOut) {
    journal_.Open();
    TJournal other("ZuvQelOutSrvc", [this] { return now_; });
    other.SetLogPath(dir_ / "logs");
    try {
        other.Open();
        FAIL() << "opened twice";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Error. Creating journal file. Cannot open " + File("05.03.2024") +
                                             ": the file is in use by another process");
    }
    EXPECT_FALSE(other.IsOpen());
    journal_.Close();
    other.Open();
    EXPECT_TRUE(other.IsOpen());
}

TEST_F(JournalTest, OpenFailureRaisesWithTheReason) {
    ostest::WriteFile(dir_ / "file", "");
    journal_.SetLogPath(dir_ / "file/sub");
    try {
        journal_.Open();
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      "Error. Creating journal file. Cannot create folder " + dir_ / "file/sub", 0),
                  0u)
            << e.what();
    }
    EXPECT_FALSE(journal_.IsOpen());
}

TEST_F(JournalTest, LinesWhileClosedGoToTheFallbackWithTheReasonOnce) {
    journal_.Write("one", true);
    journal_.Write("two", true);
    journal_.Write("not important", false);
    EXPECT_EQ(failures_, (std::vector<std::string>{"The journal is not open | [14:07:09.045] one",
                                                   " | [14:07:09.045] two"}));
}

TEST_F(JournalTest, FailedWriteGoesToTheFallback) {
    rtl::ForceDirectories(dir_ / "logs");
    ASSERT_EQ(::symlink("/dev/full", File("05.03.2024").c_str()), 0);
    journal_.Open();
    journal_.Write("lost?", true);
    journal_.Write("again", true);
    ASSERT_EQ(failures_.size(), 2u);
    EXPECT_EQ(failures_[0],
              "Cannot write " + File("05.03.2024") + ": No space left on device | [14:07:09.045] lost?");
    EXPECT_EQ(failures_[1], " | [14:07:09.045] again");
}

TEST_F(JournalTest, NewDayFileThatCannotBeOpenedIsRetriedWithTheNextLine) {
    journal_.Open();
    rtl::ForceDirectories(File("06.03.2024"));  // a folder where the next day's file should go
    SetTime(2024, 3, 6, 0, 0, 1, 0);
    journal_.Write("blocked", true);
    ASSERT_EQ(failures_.size(), 1u);
    EXPECT_NE(failures_[0].find("Cannot open " + File("06.03.2024")), std::string::npos) << failures_[0];
    EXPECT_NE(failures_[0].find("| [00:00:01.000] blocked"), std::string::npos);
    rtl::RemoveDir(File("06.03.2024"));
    journal_.Write("free again", true);
    EXPECT_EQ(ReadFile(File("06.03.2024")), "[00:00:01.000] free again\r\n");
    EXPECT_EQ(ReadFile(File("05.03.2024")), "");
    journal_.Close();
    rtl::ForceDirectories(File("07.03.2024"));
    journal_.Write("closed", true);
    EXPECT_EQ(failures_.back(), "The journal is not open | [00:00:01.000] closed")
        << "a new failure reason is told";
}

TEST_F(JournalTest, WithoutFallbackLinesGoToStandardError) {
    TJournal j("X", [this] { return now_; });
    ::testing::internal::CaptureStderr();
    j.Write("nowhere", true);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Journal: The journal is not open\n[14:07:09.045] nowhere\n");
}

TEST_F(JournalTest, EventLogFallbackWritesReasonAndLine) {
    ostest::ScopedEnv env(os::SyslogSocketVariable, dir_ / "syslog");
    ostest::DatagramSocket syslog(dir_ / "syslog");
    os::TEventLogger log("srvZuvQelOutSrvc");
    journal_.OnFailure = TJournal::EventLogFallback(log);
    journal_.Write("Connection: ok", true);
    journal_.Write("Emitent = 1", true);
    std::string reason = syslog.Receive(), first = syslog.Receive(), second = syslog.Receive();
    EXPECT_EQ(reason.rfind("<27>", 0), 0u) << reason;
    EXPECT_NE(reason.find("srvZuvQelOutSrvc["), std::string::npos);
    EXPECT_NE(reason.find("]: Error. Writing journal file. The journal is not open"), std::string::npos)
        << reason;
    EXPECT_EQ(first.rfind("<30>", 0), 0u) << first;
    EXPECT_NE(first.find("]: [14:07:09.045] Connection: ok"), std::string::npos) << first;
    EXPECT_NE(second.find("]: [14:07:09.045] Emitent = 1"), std::string::npos) << second;
}

TEST_F(JournalTest, ThreadsWriteWholeLines) {
    TJournal j("Threads");
    j.SetLogPath(dir_ / "logs");
    j.Open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&j, t] {
            for (int i = 0; i < 200; ++i)
                j.Write("thread " + std::to_string(t) + " line " + std::to_string(i), true);
        });
    for (auto& t : threads) t.join();
    std::string text = ReadFile(j.FileName());
    std::regex line("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] thread \\d line \\d+\r\n");
    int count = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) ++count;
    EXPECT_EQ(count, 1600);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1600);
}

}  // namespace
