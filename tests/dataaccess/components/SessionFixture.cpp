#include "SessionFixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/platform/oci/StandInDb.h"

std::string ErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

void SessionTest::SetUp() {
    dac::FreeOCI();
    dac::OracleHomeName.clear();
    dac::SetConfiguredOracleHomes({});
    setenv("ORACLE_HOME", (std::string(DX_BINARY_DIR) + "/oracle-home").c_str(), 1);
    char tmpl[] = "/tmp/compsess_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    db_ = dir_ + "/test.db";
    trace_ = dir_ + "/trace";
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/platform/oci/catalog.sql");
    std::stringstream catalog;
    catalog << in.rdbuf();
    ASSERT_FALSE(catalog.str().empty());
    dbExec(catalog.str());
    dbExec(
        "INSERT INTO oci_user VALUES ('qel', 'secret'), ('ZUV', 'zuv');"
        "CREATE TABLE item(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(40), made DATE);");
}

void SessionTest::TearDown() {
    unsetenv("DX_OCI_TRACE");
    dac::FreeOCI();
    dac::OracleHomeName.clear();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void SessionTest::dbExec(const std::string& sql) {
    standin::Exec(db_, sql);
}

std::vector<std::string> SessionTest::dbTexts(const std::string& sql) {
    return standin::Texts(db_, sql);
}

std::unique_ptr<TestSession> SessionTest::newSession(const char* user, const char* password) {
    auto s = std::make_unique<TestSession>();
    s->SetLoginPrompt(false);
    s->SetUsername(user);
    s->SetPassword(password);
    s->SetServer(db_);
    return s;
}

std::unique_ptr<dac::TOraSQL> SessionTest::newSQL(dac::TOraSession* session, const std::string& text) {
    auto sql = std::make_unique<dac::TOraSQL>();
    sql->SetSession(session);
    sql->SQL().SetText(text);
    return sql;
}

void SessionTest::Record() {
    std::filesystem::remove(trace_);
    setenv("DX_OCI_TRACE", trace_.c_str(), 1);
}

std::vector<std::string> SessionTest::Received() {
    std::vector<std::string> received;
    std::ifstream in(trace_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t start = 0, end; (end = text.find('\x1e', start)) != std::string::npos; start = end + 1)
        received.push_back(text.substr(start, end - start));
    return received;
}
