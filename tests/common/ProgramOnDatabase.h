// A service program run as an operator runs it, against a demo Qel database of its own: the
// program copied into a temporary folder with its Connection.ini (the sample credentials
// zuv_exchange / change-me, the schema ZUV), an Oracle home holding the build's stand-in client and
// the database, the sqlite3 tool to look at the rows, and the program's journal.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "tests/common/TestShell.h"
#include "tests/platform/os/OsTestSupport.h"

class ProgramOnDatabaseBase : public ::testing::Test {
protected:
    // program: the build's path below DX_BINARY_DIR (e.g. "import_service/ZuvQelInSrvc");
    // logPathKey: the [LOG] entry naming the journal folder; settings: more make-qel-db options.
    ProgramOnDatabaseBase(const char* tempName, std::string program, std::string logPathKey)
        : dir_(tempName), program_(std::move(program)), logPathKey_(std::move(logPathKey)) {}

    void PrepareProgram(const std::string& settings) {
        namespace fs = std::filesystem;
        const std::string name = ProgramName();
        fs::copy_file(std::string(DX_BINARY_DIR) + "/" + program_, dir_ / name);
        fs::permissions(dir_ / name, fs::perms::owner_all);
        ostest::WriteFile(
            dir_ / "Connection.ini",
            "[CONNECTION_QEL]\nServer=qel:1521/QEL\nOraHome=0\nScheme=ZUV\n"
            "UserName=E27CE912F85D36EEE31A74B5AD062E75\nPassword=5F91C5ECF2F22E7DB5F2CF1FCE0B5627\n"
            "[LOG]\n" +
                logPathKey_ + "=" + (dir_ / "logs") + "\n");
        // The stand-in finds <ORACLE_HOME>/dbs/QEL.db for the server qel:1521/QEL.
        fs::create_directories(dir_ / "home/lib");
        fs::create_directories(dir_ / "home/dbs");
        fs::create_symlink(DX_BINARY_DIR "/oracle-home/lib/libclntsh.so", dir_ / "home/lib/libclntsh.so");
        std::string out;
        ASSERT_EQ(0, testshell::RunCommand(
                         "python3 " + testshell::ShellQuote(DX_SOURCE_DIR "/scripts/make-qel-db") +
                             " --size tiny --seed 7 --user zuv_exchange --password change-me --root " +
                             testshell::ShellQuote(dir_ / "zuv") + " " + settings + " " +
                             testshell::ShellQuote(db_),
                         &out))
            << out;
        ASSERT_EQ(0, Sqlite("INSERT INTO oci_user(name, password) VALUES ('ZUV', 'zuv')", &out)) << out;
    }

    std::string ProgramName() const { return std::filesystem::path(program_).filename().string(); }

    int Sqlite(const std::string& sql, std::string* out) const {
        return testshell::RunCommand("sqlite3 -batch -noheader " + testshell::ShellQuote(db_) + " " +
                                         testshell::ShellQuote(".timeout 5000") + " " +
                                         testshell::ShellQuote(sql),
                                     out);
    }
    // One value, without the line end.
    std::string SqliteText(const std::string& sql) const {
        std::string out;
        EXPECT_EQ(0, Sqlite(sql, &out)) << out;
        return Trimmed(out);
    }
    static std::string Trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }
    // Today's journal of the service.
    std::string Journal() const {
        return ostest::ReadFile(
            dir_ / ("logs/" + ProgramName() + "_" + rtl::FormatDateTime("dd.mm.yyyy", rtl::Now()) + ".log"));
    }
    std::vector<std::string> Env() const {
        return {"DX_SYSLOG_SOCKET=" + syslogPath_, "NOTIFY_SOCKET=", "ORACLE_HOME=" + (dir_ / "home"),
                "DX_KEYSTORE=" + (dir_ / "keys")};
    }

    ostest::TempDir dir_;
    std::string program_, logPathKey_;
    std::string db_ = dir_ / "home/dbs/QEL.db";
    std::string syslogPath_ = dir_ / "syslog.sock";
    ostest::DatagramSocket syslog_{syslogPath_};
};
