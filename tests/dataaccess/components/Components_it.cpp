// Checks with the sqlite3 tool: what transactions, savepoints, auto-commit and forced closes left
// in the stand-in's database file, and that every rewritten SELECT still parses.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "SessionFixture.h"

using namespace dac;

namespace {

// Runs the sqlite3 tool; the exit status and what it printed.
std::pair<int, std::string> Sqlite3(const std::string& database, const std::string& sql) {
    std::string quoted = "'";
    for (char c : sql) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    const std::string command = "sqlite3 -batch " + database + " " + quoted + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, "popen failed"};
    std::string out;
    std::array<char, 512> buffer{};
    while (size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
    const int status = pclose(pipe);
    return {status, out};
}

}  // namespace

class ComponentsIt : public SessionTest {
protected:
    std::string Ids() {
        auto [status, out] =
            Sqlite3(db_, "SELECT group_concat(id, ',') FROM (SELECT id FROM item ORDER BY id);");
        EXPECT_EQ(0, status) << out;
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
        return out;
    }
    void Insert(TOraSession* s, int id, bool autoCommit = false) {
        auto sql = newSQL(s, "INSERT INTO item(id) VALUES (:id)");
        sql->SetAutoCommit(autoCommit);
        sql->ParamByName("id")->SetAsInteger(id);
        sql->Execute();
    }
};

TEST_F(ComponentsIt, TheDatabaseFileHoldsWhatTransactionsAndSavepointsDecided) {
    auto s = newSession();
    s->SetAutoCommit(false);
    s->Connect();
    s->StartTransaction();
    Insert(s.get(), 1);
    s->Savepoint("KEEP");
    Insert(s.get(), 2);
    s->RollbackToSavepoint("KEEP");
    Insert(s.get(), 3);
    s->Commit();
    EXPECT_EQ("1,3", Ids());
    s->StartTransaction();
    Insert(s.get(), 4);
    s->Rollback();
    EXPECT_EQ("1,3", Ids());
    s->SetAutoCommit(true);
    Insert(s.get(), 5, true);
    EXPECT_EQ("1,3,5", Ids()) << "auto-commit of session and statement";
    Insert(s.get(), 6, false);
    EXPECT_EQ("1,3,5", Ids()) << "the statement's own auto-commit is off";
    s->Rollback();
}

TEST_F(ComponentsIt, AForcedCloseDoesWhatTheDefaultActionSays) {
    struct Case {
        TCRTransactionAction action;
        bool destroy;
        const char* expected;
    };
    const Case cases[] = {
        {taCommit, false, "1"},
        {taRollback, false, ""},
        {taCommit, true, "1"},
        {taRollback, true, ""},
    };
    for (const auto& c : cases) {
        dbExec("DELETE FROM item");
        auto s = newSession();
        s->SetAutoCommit(false);
        s->Connect();
        s->DefaultTransaction()->DefaultCloseAction = c.action;
        s->StartTransaction();
        Insert(s.get(), 1);
        if (c.destroy)
            s.reset();
        else
            s->Disconnect();
        EXPECT_EQ(c.expected, Ids()) << (c.action == taCommit ? "commit" : "rollback")
                                     << (c.destroy ? " on destruction" : " on disconnect");
    }
}

TEST_F(ComponentsIt, RewrittenSelectsStillParse) {
    const std::string schema = "CREATE TABLE t(a, b, c); CREATE TABLE u(x, y, z); ";
    const std::vector<std::string> rewritten = {
        OraAddWhereCondition("SELECT * FROM t", "a = 1"),
        OraAddWhereCondition("SELECT * FROM t WHERE b = 2 ORDER BY c", "a = 1"),
        OraAddWhereCondition("SELECT a, count(*) FROM t WHERE b = 2 GROUP BY a HAVING count(*) > 1", "c = 3"),
        OraAddWhereCondition("SELECT a FROM t WHERE b = 1 UNION SELECT x FROM u", "a = 2"),
        OraAddWhereCondition("SELECT * FROM (SELECT x FROM u WHERE y = 1) v", "x = 1"),
        OraAddWhereCondition("SELECT * FROM t WHERE b = 2 /* note */ ORDER BY c", "a = 1"),
        OraReplaceWhereCondition("SELECT * FROM t WHERE a = 1 ORDER BY b", "c = 2"),
        OraReplaceWhereCondition("SELECT * FROM t ORDER BY b", "c = 2"),
        OraRemoveWhereCondition("SELECT * FROM t WHERE a = 1 GROUP BY a"),
        OraReplaceOrderBy("SELECT * FROM t WHERE a = 1", "b;c"),
        OraReplaceOrderBy("SELECT * FROM t ORDER BY a", "b DESC"),
        OraReplaceOrderBy("SELECT * FROM t ORDER BY a", ""),
    };
    for (const auto& sql : rewritten) {
        auto [status, out] = Sqlite3(":memory:", schema + "EXPLAIN " + sql + ";");
        EXPECT_EQ(0, status) << sql << "\n" << out;
        EXPECT_EQ(std::string::npos, out.find("rror")) << sql << "\n" << out;
    }
}
