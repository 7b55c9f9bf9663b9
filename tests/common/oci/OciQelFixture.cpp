#include "OciQelFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ocitest {

const std::string& DemoBase() {
    return testshell::QelDemoFiles().base;
}

const std::string& DemoFolder() {
    return testshell::QelDemoFiles().folder;
}

void OciQelTest::SetUp() {
    setenv("ORACLE_HOME", (std::string(DX_BINARY_DIR) + "/oracle-home").c_str(), 1);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    db_ = DemoFolder() + "/" + name + ".db";
    std::filesystem::copy_file(DemoBase(), db_, std::filesystem::copy_options::overwrite_existing);
}

void OciQelTest::TearDown() {
    std::error_code ec;
    std::filesystem::remove(db_, ec);
}

std::unique_ptr<svc::TConnectionSession> OciQelTest::Session(const std::string& user,
                                                             const std::string& password,
                                                             const std::string& schema, bool connect) {
    auto session = access_.CreateSession();
    session->SetLoginPrompt(false);
    session->SetHome(0);
    session->SetUsername(user);
    session->SetPassword(password);
    session->SetServer(db_);
    session->SetSchema(schema);
    if (connect) session->Connect();
    return session;
}

std::vector<std::string> OciQelTest::Sqlite(const std::string& sql) const {
    const std::string script = db_ + ".sql";
    std::ofstream(script) << ".timeout 5000\n" << sql << ";\n";
    std::string out;
    const int rc = RunCommand(
        "sqlite3 -batch -noheader -separator '|' " + ShellQuote(db_) + " < " + ShellQuote(script), &out);
    EXPECT_EQ(0, rc) << sql << "\n" << out;
    std::vector<std::string> lines;
    for (size_t b = 0; b < out.size();) {
        size_t e = out.find('\n', b);
        if (e == std::string::npos) e = out.size();
        lines.push_back(out.substr(b, e - b));
        b = e + 1;
    }
    return lines;
}

void OciQelTest::SqliteExec(const std::string& sql) const {
    const std::string script = db_ + ".sql";
    std::ofstream(script) << ".timeout 5000\n.bail on\n" << sql << "\n";
    std::string out;
    const int rc = RunCommand("sqlite3 -batch " + ShellQuote(db_) + " < " + ShellQuote(script), &out);
    ASSERT_EQ(0, rc) << out;
}

}  // namespace ocitest
