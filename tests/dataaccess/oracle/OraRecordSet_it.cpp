// The record set against outside references: scrollable moves compared with a Python model of the
// same rows, and transactions checked with the sqlite3 tool on the stand-in's database file.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace

class OraRecordSetOutsideTest : public OraCommandTest {
protected:
    std::string Sqlite3(const std::string& sql) {
        return Shell("sqlite3 -batch '" + db_ + "' \"" + sql + "\"");
    }

    void Exec(const AnsiString& sql) {
        auto command = Command(sql);
        command->SetProp(prAutoCommit, false);
        command->Execute();
    }
};

TEST_F(OraRecordSetOutsideTest, ScrollingAgreesWithThePythonModel) {
    constexpr int rows = 120;
    std::string fill = "BEGIN; CREATE TABLE s(id NUMBER(9,0), txt VARCHAR2(10));";
    for (int i = 1; i <= rows; ++i) fill += "INSERT INTO s VALUES (" + std::to_string(i) + ", 't');";
    dbExec(fill + "COMMIT;");
    for (unsigned seed : {1u, 2u, 3u}) {
        // Mostly steps, with jumps to the ends and to bookmarks far from the window.
        std::mt19937 random(seed);
        const char weighted[] = "nnnnnnnnppppppbemgg";
        std::string moves;
        for (int k = 0; k < 600; ++k) moves += weighted[random() % (sizeof weighted - 1)];
        const std::vector<std::string> expected =
            Lines(Shell("python3 " + std::string(DX_SOURCE_DIR) +
                        "/tests/dataaccess/oracle/scroll_model.py " + std::to_string(rows) + " " + moves));
        ASSERT_EQ(moves.size(), expected.size()) << (expected.empty() ? "" : expected[0]);

        TOCIRecordSet rs;
        rs.SetConnection(conn_.get());
        rs.SetSQLText("select id, txt from s order by id");
        rs.SetProp(prFetchRows, 10);
        rs.OraCommand()->SetProp(prScrollableCursor, true);
        rs.Open();
        std::vector<uint8_t> mark(RecBookmark::Size), rec(static_cast<size_t>(rs.RecordSize()));
        bool marked = false;
        std::vector<std::string> actual;
        for (size_t k = 0; k < moves.size(); ++k) {
            switch (moves[k]) {
                case 'n':
                    rs.GetNextRecord(nullptr);
                    break;
                case 'p':
                    rs.GetPriorRecord(nullptr);
                    break;
                case 'b':
                    rs.SetToBegin();
                    break;
                case 'e':
                    rs.SetToEnd();
                    break;
                case 'm':
                    rs.GetBookmark(mark.data());
                    marked = RecBookmark::Item(mark.data()) != nullptr;
                    break;
                case 'g':
                    if (marked) rs.SetToBookmark(mark.data());
                    break;
            }
            std::string got;
            if (rs.Bof()) {
                got = "bof";
            } else if (rs.Eof()) {
                got = "eof";
            } else {
                rs.GetRecord(rec.data());
                rtl::Variant v;
                rs.GetFieldAsVariant(1, rec.data(), v);
                got = std::to_string(v.AsInteger());
            }
            actual.push_back(got);
            if (expected[k] != got) {
                std::string history;
                for (size_t j = k > 12 ? k - 12 : 0; j <= k; ++j)
                    history += std::string(1, moves[j]) + ":" + expected[j] + "/" + actual[j] + " ";
                FAIL() << "seed " << seed << ", move " << k << " (move:expected/got) " << history;
            }
        }
    }
}

TEST_F(OraRecordSetOutsideTest, CommitRollbackAndSavepointsAsTheDatabaseFileShowsThem) {
    dbExec("CREATE TABLE t(id NUMBER(9,0) PRIMARY KEY);");
    auto* tr = dynamic_cast<TOCITransaction*>(conn_->GetInternalTransaction());
    ASSERT_NE(nullptr, tr);
    tr->OpenTransaction();
    Exec("insert into t values (1)");
    tr->Savepoint("after_one");
    Exec("insert into t values (2)");
    tr->Savepoint("after_two");
    Exec("insert into t values (3)");
    EXPECT_EQ("", Sqlite3("SELECT id FROM t ORDER BY id;"));  // nothing committed yet
    tr->RollbackToSavepoint("after_two");
    tr->Commit();
    EXPECT_EQ("1\n2\n", Sqlite3("SELECT id FROM t ORDER BY id;"));

    tr->OpenTransaction();
    Exec("insert into t values (4)");
    tr->Savepoint("\"Four\"");
    Exec("delete from t where id = 1");
    tr->RollbackToSavepoint("\"Four\"");
    tr->Rollback();
    EXPECT_EQ("1\n2\n", Sqlite3("SELECT id FROM t ORDER BY id;"));

    tr->OpenTransaction();
    Exec("insert into t values (5)");
    tr->Savepoint("sp");
    Exec("insert into t values (6)");
    tr->Commit();  // a commit keeps what came after a savepoint
    EXPECT_EQ("1\n2\n5\n6\n", Sqlite3("SELECT id FROM t ORDER BY id;"));
    // A start commits what was pending before it.
    Exec("insert into t values (7)");
    tr->OpenTransaction();
    EXPECT_EQ("1\n2\n5\n6\n7\n", Sqlite3("SELECT id FROM t ORDER BY id;"));
    tr->Rollback();
}
