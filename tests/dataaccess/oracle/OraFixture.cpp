#include "OraFixture.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &db));
    sqlite3_busy_timeout(db, 5000);
    char* msg = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
    std::string text = msg ? msg : "";
    sqlite3_free(msg);
    sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc) << text;
}

std::vector<std::string> OraTest::dbTexts(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3* db = nullptr;
    sqlite3_open(db_.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

std::unique_ptr<dac::TOCIConnection> OraTest::newConnection(const char* user, const char* password) {
    auto c = std::make_unique<dac::TOCIConnection>();
    c->SetUsername(user);
    c->SetPassword(password);
    c->SetServer(db_);
    return c;
}
