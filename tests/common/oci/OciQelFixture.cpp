#include "OciQelFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ocitest {

namespace {

struct TDemoFiles {
    std::string folder, base;
    TDemoFiles() {
        char tmpl[] = "/tmp/oci_qel_XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("no temporary folder");
        folder = tmpl;
        base = folder + "/base.db";
        std::string out;
        const int rc =
            RunCommand("python3 " + ShellQuote(std::string(DX_SOURCE_DIR) + "/scripts/make-qel-db") +
                           " --size tiny --seed 7 --anchor 2024-05-31 --host qelhost --root " +
                           ShellQuote(folder + "/zuv") + " " + ShellQuote(base),
                       &out);
        if (rc != 0) throw std::runtime_error("make-qel-db failed: " + out);
    }
    ~TDemoFiles() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

TDemoFiles& Demo() {
    static TDemoFiles files;
    return files;
}

}  // namespace

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

const std::string& DemoBase() {
    return Demo().base;
}

const std::string& DemoFolder() {
    return Demo().folder;
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
