// A demo Qel database made by scripts/make-qel-db (once per test program, copied for each test),
// the stand-in client from the build's Oracle home, the components over it, and the sqlite3 tool
// to read what the database holds behind the client's back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/oci/uOciDataAccess.h"
#include "tests/common/TestShell.h"

namespace ocitest {

using testshell::RunCommand;
using testshell::ShellQuote;

// The demo database: tiny, seed 7, history up to 2024-05-31, computer name "qelhost", folders
// under <folder>/zuv. Made on first use; removed when the program ends.
const std::string& DemoBase();
const std::string& DemoFolder();

class OciQelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A session on this test's database, connected unless told not to.
    std::unique_ptr<svc::TConnectionSession> Session(const std::string& user = "qel",
                                                     const std::string& password = "secret",
                                                     const std::string& schema = "", bool connect = true);
    // Every row of a query through the sqlite3 tool, columns joined by "|" (UTF-8 as stored).
    std::vector<std::string> Sqlite(const std::string& sql) const;
    // A script through the sqlite3 tool; fails the test when the tool does.
    void SqliteExec(const std::string& sql) const;

    svc::TOciDataAccess access_;
    std::string db_;
};

}  // namespace ocitest
