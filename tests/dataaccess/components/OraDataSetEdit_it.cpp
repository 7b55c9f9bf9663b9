// Editing through a query: inserts, edits and deletes reach the stand-in's table, at once or as
// cached updates, and the sqlite3 tool reads them back from the database file.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

class EditIt : public DataSetTest {
protected:
    std::unique_ptr<TOraQuery> itemQuery(TOraSession* s, bool cached) {
        auto q = newQuery(s, "SELECT id, name FROM item WHERE id <= 5 ORDER BY id");
        q->SetKeyFields("ID");
        q->SetCachedUpdates(cached);
        q->Open();
        return q;
    }
};

TEST_F(EditIt, AQueryIsEditedInsertedIntoAndDeletedFromWithAndWithoutCachedUpdates) {
    auto s = newSession();
    for (bool cached : {false, true}) {
        dbExec(
            "DELETE FROM item WHERE id > 60; INSERT OR REPLACE INTO item(id, name) VALUES (4, ''); "
            "UPDATE item SET name = 'item ' || id;");
        auto q = itemQuery(s.get(), cached);
        ASSERT_TRUE(q->CanModify());
        q->Locate("ID", 2, {});
        q->Edit();
        q->FieldByName("NAME")->SetAsString("second");
        q->Post();
        q->Append();
        q->FieldByName("ID")->SetAsInteger(100);
        q->FieldByName("NAME")->SetAsString("new one");
        q->Post();
        q->Locate("ID", 4, {});
        q->Delete();
        const std::vector<std::string> before = {"1|item 1", "2|item 2", "3|item 3", "4|item 4", "5|item 5"};
        const std::vector<std::string> after = {"1|item 1", "2|second", "3|item 3", "5|item 5",
                                                "100|new one"};
        const char* check = "SELECT id, name FROM item WHERE id <= 5 OR id = 100 ORDER BY id;";
        EXPECT_EQ(cached ? before : after, Sqlite3(check)) << cached;
        if (cached) {
            EXPECT_TRUE(q->UpdatesPending());
            q->ApplyUpdates();
            q->CommitUpdates();
            EXPECT_FALSE(q->UpdatesPending());
            EXPECT_EQ(after, Sqlite3(check));
        }
        EXPECT_EQ(4, q->RecordCount() - 1) << "five rows, one inserted, one deleted";
        q->Close();
        EXPECT_EQ(0, s->ConnectCount()) << cached;
    }
}

}  // namespace

namespace {

TEST_F(EditIt, ARecordIsReadAgainFromTheServerAndDefaultsComeBackWithTheInsert) {
    dbExec(
        "CREATE TABLE note(id NUMBER(9,0) PRIMARY KEY, body VARCHAR2(20), kind VARCHAR2(5) DEFAULT 'memo');"
        "INSERT INTO note VALUES (1, 'first', 'memo');");
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, body, kind FROM note");
    q->SetKeyFields("ID");
    q->SetDMLRefresh(true);
    q->Open();
    dbExec("UPDATE note SET body = 'changed' WHERE id = 1;");
    EXPECT_EQ("first", q->FieldByName("BODY")->AsString());
    q->RefreshRecord();
    EXPECT_EQ("changed", q->FieldByName("BODY")->AsString());
    q->Append();
    q->FieldByName("ID")->SetAsInteger(2);
    q->FieldByName("BODY")->SetAsString("second");
    q->Post();
    EXPECT_EQ("memo", q->FieldByName("KIND")->AsString()) << "the column's default, returned by the INSERT";
    EXPECT_EQ((std::vector<std::string>{"1|changed|memo", "2|second|memo"}),
              Sqlite3("SELECT id, body, kind FROM note ORDER BY id;"));
}

TEST_F(EditIt, ALockFindsARowAnotherSessionChangedAndEditingStops) {
    dbExec(
        "CREATE TABLE note(id NUMBER(9,0) PRIMARY KEY, body VARCHAR2(20));"
        "INSERT INTO note VALUES (1, 'first');");
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, body FROM note");
    q->SetKeyFields("ID");
    q->SetLockMode(lmLockImmediate);
    q->SetCheckMode(cmException);
    q->SetName("Notes");
    q->Open();
    Record();
    q->Edit();
    q->FieldByName("BODY")->SetAsString("mine");
    q->Post();
    const std::vector<std::string> sent = Received();
    // The driver sends line ends as LF.
    EXPECT_EQ((std::vector<std::string>{"SAVEPOINT \"LOCK_NOTES\"",
                                        "SELECT * FROM NOTE\nWHERE\n  ID = :Old_ID\nFOR UPDATE NOWAIT",
                                        "UPDATE NOTE\nSET\n  BODY = :BODY\nWHERE\n  ID = :Old_ID"}),
              std::vector<std::string>(sent.begin(), sent.begin() + std::min<size_t>(3, sent.size())));
    EXPECT_EQ((std::vector<std::string>{"1|mine"}), Sqlite3("SELECT id, body FROM note;"));
    dbExec("UPDATE note SET body = 'theirs' WHERE id = 1;");
    EXPECT_EQ("Record was changed by another user", ErrorText([&] { q->Edit(); }));
    EXPECT_EQ(db::dsBrowse, q->State());
    q->Close();
    EXPECT_EQ(0, s->ConnectCount());
}

}  // namespace

namespace {

TEST_F(EditIt, ABlobWrittenThroughTheDataSetReachesTheTable) {
    dbExec("CREATE TABLE pics(id NUMBER(9,0) PRIMARY KEY, pic BLOB);");
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, pic FROM pics");
    q->SetKeyFields("ID");
    q->Open();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(1);
    q->FieldByName("PIC")->SetAsString("bytes");
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"1|6279746573"}), Sqlite3("SELECT id, hex(pic) FROM pics;"));
    q->Edit();
    q->FieldByName("PIC")->SetAsString("new");
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"1|6E6577"}), Sqlite3("SELECT id, hex(pic) FROM pics;"));
}

}  // namespace
