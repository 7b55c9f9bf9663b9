// The parameter markers the SQL lexer finds in plain SQL are the ones SQLite's own parser sees.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Strings.h"

namespace dac {
namespace {

// Markers the way the driver command reads them: ':' found with ToLexem over a lexer that keeps
// blanks, skips comments and keeps quotes; the next lexeme names the parameter when it is an
// identifier, a number or a keyword.
std::vector<std::string> LexerMarkers(const std::string& sql) {
    TSQLParser p(sql);
    p.SkipBlanks = false;
    p.SkipComments = true;
    p.KeepQuotes = true;
    p.DecimalChar = ".";
    p.ToBegin();
    std::vector<std::string> names;
    while (p.ToLexem(":")) {
        std::string lexem;
        const int code = p.GetNext(lexem);
        if (code == lxIdent || code == lxNumber || code >= 100) {
            const std::string name = rtl::UpperCase(lexem);
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> SQLiteMarkers(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
    std::vector<std::string> names;
    if (!stmt) return names;
    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) {
        const char* name = sqlite3_bind_parameter_name(stmt, i);
        EXPECT_NE(name, nullptr) << sql;
        if (name) names.push_back(rtl::UpperCase(std::string(name + 1)));  // without the colon
    }
    sqlite3_finalize(stmt);
    return names;
}

TEST(ParamMarkers, MatchSQLite) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "create table t(a, b, c, \"x:y\"); create table u(id, v)", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    const std::vector<std::string> statements = {
        "select a from t where a = :a",
        "select a from t where a=:p1 and b=:p2 or c = :p1",
        "select a from t where a = :_x and b = :B9",
        "select ':not' || a from t where b = :yes",
        "select a from t -- where a = :comment\n where b = :after",
        "select a from t /* :block */ where b = :real",
        "select \"x:y\" from t where a = :q",
        "insert into t(a, b) values (:a, :b)",
        "update t set a = :new where b = :old and c in (:x, :y, :new)",
        "select a from t where a = :1 and b = :2",
        "select a from t where a = :select and b = :from",
        "delete from u where id = :id and v like 'a:%'",
        "select a from t where a = ':' || :tail",
        "select a from t where a between :lo and :hi order by a",
        "select a from t where a = 'it''s :x' and b = :y",
        "select a from t where a=:a/*x*/and b=:b--:c\n",
        "select a from t",
    };
    for (const auto& sql : statements) EXPECT_EQ(LexerMarkers(sql), SQLiteMarkers(db, sql)) << sql;
    sqlite3_close(db);
}

}  // namespace
}  // namespace dac
