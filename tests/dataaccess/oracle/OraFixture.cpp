#include "OraFixture.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/platform/oci/StandInDb.h"

std::string ExceptionText(const std::function<void()>& f) {
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

int32_t OraErrorCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const dac::EOraError& e) {
        return e.ErrorCode;
    }
    return 0;
}

std::string StandInHome() {
    return std::string(DX_BINARY_DIR) + "/oracle-home";
}

void ResetClient() {
    dac::FreeOCI();
    dac::OracleHomeName.clear();
    dac::SetConfiguredOracleHomes({});
    setenv("ORACLE_HOME", StandInHome().c_str(), 1);
}

void OraTest::SetUp() {
    ResetClient();
    char tmpl[] = "/tmp/ora_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    db_ = dir_ + "/test.db";
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/platform/oci/catalog.sql");
    std::stringstream catalog;
    catalog << in.rdbuf();
    ASSERT_FALSE(catalog.str().empty());
    dbExec(catalog.str());
    dbExec("INSERT INTO oci_user VALUES ('qel', 'secret'), ('ZUV', 'zuv');");
}

void OraTest::TearDown() {
    ResetClient();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void OraTest::dbExec(const std::string& sql) {
    standin::Exec(db_, sql);
}

std::vector<std::string> OraTest::dbTexts(const std::string& sql) {
    return standin::Texts(db_, sql);
}

std::unique_ptr<dac::TOCIConnection> OraTest::newConnection(const char* user, const char* password) {
    auto c = std::make_unique<dac::TOCIConnection>();
    c->SetUsername(user);
    c->SetPassword(password);
    c->SetServer(db_);
    return c;
}
