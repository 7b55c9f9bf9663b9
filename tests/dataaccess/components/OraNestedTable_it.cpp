// A nested-table dataset edits the collection of the parent's row, and the sqlite3 tool reads the
// stand-in's database file afterwards: inserted, edited and deleted elements of the right row only.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataaccess/components/OraNestedTable.h"

using namespace dac;

namespace {

using NestedIt = DataSetTest;

TEST_F(NestedIt, ElementChangesOfEachParentRowReachItsRowOnly) {
    auto s = newSession();
    s->ExecSQL("CREATE TYPE tune_t AS TABLE OF VARCHAR2(12)");
    dbExec(
        "CREATE TABLE band(id NUMBER(9,0) PRIMARY KEY, tunes tune_t);"
        "INSERT INTO band VALUES (1, '[\"intro\",\"verse\"]'), (2, '[\"solo\"]'), (3, NULL);");
    auto q = newQuery(s.get(), "SELECT id, tunes FROM band ORDER BY id");
    q->SetKeyFields("ID");
    q->Open();
    {
        TOraNestedTable tunes;
        tunes.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("TUNES")));
        tunes.Open();
        // the fields are made anew whenever the parent's row brings another collection
        auto tune = [&] { return tunes.Fields()[0]; };
        // row 1: the first element edited, the second deleted
        tunes.Edit();
        tune()->SetAsString("overture");
        tunes.Post();
        tunes.Next();
        tunes.Delete();
        q->Post();
        // row 2: one appended
        q->Next();
        tunes.Append();
        tune()->SetAsString("outro");
        tunes.Post();
        q->Post();
        // row 3 (no collection yet): one appended
        q->Next();
        EXPECT_TRUE(tunes.IsEmpty());
        tunes.Append();
        tune()->SetAsString("encore");
        tunes.Post();
        q->Post();
    }
    EXPECT_EQ((std::vector<std::string>{"1|[\"overture\"]", "2|[\"solo\",\"outro\"]", "3|[\"encore\"]"}),
              Sqlite3("SELECT id, tunes FROM band ORDER BY id;"));
    q->Close();
}

}  // namespace
