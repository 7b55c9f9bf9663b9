// Key fields a dataset finds by itself when KeyFields is empty: the selected ROWID of the
// updating table, else the first unique index of that table, as long as the query selects
// every column of it.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

namespace {

class KeyFieldsTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        dbExec(
            "CREATE TABLE keyed(k NUMBER(9,0) PRIMARY KEY, v VARCHAR2(10));"
            "CREATE TABLE twokeys(a NUMBER(9,0), b NUMBER(9,0), v VARCHAR2(10), UNIQUE (a, b));"
            "CREATE TABLE plain(n NUMBER(9,0), v VARCHAR2(10));"
            "INSERT INTO keyed VALUES (1, 'one'), (2, 'two');"
            "INSERT INTO twokeys VALUES (1, 1, 'one'), (1, 2, 'two');"
            "INSERT INTO plain VALUES (1, 'one'), (1, 'two');");
    }
    // The UPDATE the dataset sends when the V field of its second row is changed.
    std::string UpdateOfSecondRow(TOraSession* s, const std::string& sql) {
        auto q = newQuery(s, sql);
        q->Open();
        q->Next();
        q->Edit();
        q->FieldByName("V")->SetAsString("changed");
        Record();
        q->Post();
        std::string update;
        for (const std::string& text : Received())
            if (text.rfind("UPDATE", 0) == 0) update = text;
        return update;
    }
    std::vector<std::string> Rows(TOraSession* s, const std::string& sql) {
        auto q = newQuery(s, sql);
        q->Open();
        std::vector<std::string> rows;
        for (; !q->Eof(); q->Next()) {
            std::string row;
            for (int i = 0; i < q->FieldCount(); ++i) row += (i ? "|" : "") + q->Fields()[i]->AsString();
            rows.push_back(row);
        }
        return rows;
    }
};

TEST_F(KeyFieldsTest, TheUpdatedRowIsFoundByROWIDOrByTheFirstUniqueIndex) {
    auto s = newSession();
    struct Case {
        const char* sql;
        const char* update;
        const char* check;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        {"SELECT k, v FROM keyed ORDER BY k",
         "UPDATE KEYED\nSET\n  V = :V\nWHERE\n  K = :Old_K",
         "SELECT k, v FROM keyed ORDER BY k",
         {"1|one", "2|changed"}},
        {"SELECT a, b, v FROM twokeys ORDER BY b",
         "UPDATE TWOKEYS\nSET\n  V = :V\nWHERE\n  A = :Old_A AND B = :Old_B",
         "SELECT a, b, v FROM twokeys ORDER BY b",
         {"1|1|one", "1|2|changed"}},
        // Two rows alike but for V: only ROWID tells them apart.
        {"SELECT ROWID, n, v FROM plain ORDER BY v",
         "UPDATE PLAIN\nSET\n  V = :V\nWHERE\n  ROWID = :Old_ROWID",
         "SELECT n, v FROM plain ORDER BY v",
         {"1|changed", "1|one"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.update, UpdateOfSecondRow(s.get(), c.sql)) << c.sql;
        EXPECT_EQ(c.rows, Rows(s.get(), c.check)) << c.sql;
    }
}

TEST_F(KeyFieldsTest, AnIndexColumnTheQueryLeavesOutGivesNoKey) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT b, v FROM twokeys ORDER BY b");
    q->Open();
    EXPECT_EQ("Unique keyfields required", ErrorText([&] { q->RefreshQuick(false); }));
    auto k = newQuery(s.get(), "SELECT k, v FROM keyed ORDER BY k");
    k->Open();
    s->ExecSQL("UPDATE keyed SET v = 'new' WHERE k = 1", {});
    k->RefreshQuick(false);
    EXPECT_EQ("new", k->FieldByName("V")->AsString()) << "read again by its key";
}

}  // namespace
