// Direct access to a stand-in database file, behind the client's back: tests set up tables,
// faults and catalog rows with it and read back what the stand-in recorded.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace standin {

// Runs a script of statements; a failure fails the calling test with SQLite's text.
inline void Exec(const std::string& dbPath, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dbPath.c_str(), &db));
    sqlite3_busy_timeout(db, 5000);
    char* msg = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
    std::string text = msg ? msg : "";
    sqlite3_free(msg);
    sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc) << text;
}

// The first column of every row of a query, as text (empty for NULL).
inline std::vector<std::string> Texts(const std::string& dbPath, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3* db = nullptr;
    sqlite3_open(dbPath.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

// The first column of the first row as an integer; -999 when the query gives no row.
inline long long Int(const std::string& dbPath, const std::string& sql) {
    auto rows = Texts(dbPath, sql);
    return rows.empty() ? -999 : std::stoll(rows.front().empty() ? "0" : rows.front());
}

}  // namespace standin
