// The dataset updater: where statement texts come from (the update object, the dataset's own
// statements, the generator), batches of cached updates, strict row counts, quick refresh and
// the session uses that failed steps give back.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

namespace {

class UpdaterTest : public DataSetTest {
protected:
    std::unique_ptr<TOraQuery> items(TOraSession* s, bool cached = false) {
        auto q = newQuery(s, "SELECT id, name FROM item WHERE id <= 10 ORDER BY id");
        q->SetKeyFields("ID");
        q->SetCachedUpdates(cached);
        q->Open();
        return q;
    }
    std::string Name(int id) { return dbTexts("SELECT name FROM item WHERE id = " + std::to_string(id))[0]; }
    static void Rename(TOraQuery& q, int id, const std::string& name) {
        ASSERT_TRUE(q.Locate("ID", id, {}));
        q.Edit();
        q.FieldByName("NAME")->SetAsString(name);
        q.Post();
    }
};

TEST_F(UpdaterTest, AnUpdateObjectAppliesItsOwnStatementFromTheRecordHandler) {
    auto s = newSession();
    auto q = items(s.get(), true);
    TOraUpdateSQL update;
    update.ModifySQL().SetText("UPDATE item SET name = upper(:NAME) WHERE id = :OLD_ID");
    q->SetUpdateObject(&update);
    int calls = 0;
    q->OnUpdateRecord = [&](db::TDataSet*, db::TUpdateKind kind, db::TUpdateAction& action) {
        ++calls;
        update.Apply(kind);
        action = db::uaApplied;
    };
    Rename(*q, 3, "third");
    EXPECT_EQ("item 3", Name(3));
    q->ApplyUpdates();
    EXPECT_EQ(1, calls);
    EXPECT_EQ("THIRD", Name(3));
    q->SetUpdateObject(nullptr);
}

TEST_F(UpdaterTest, PostingPrefersTheUpdateObjectThenTheDataSetsOwnTextThenTheGenerator) {
    auto s = newSession();
    auto q = items(s.get());
    TOraUpdateSQL update;
    q->SetUpdateObject(&update);
    Rename(*q, 1, "generated");
    EXPECT_EQ("generated", Name(1));
    q->SQLUpdate().SetText("UPDATE item SET name = 'own ' || :NAME WHERE id = :OLD_ID");
    Rename(*q, 2, "text");
    EXPECT_EQ("own text", Name(2));
    update.ModifySQL().SetText("UPDATE item SET name = 'object ' || :NAME WHERE id = :OLD_ID");
    Rename(*q, 3, "text");
    EXPECT_EQ("object text", Name(3));
    auto sql = newSQL(s.get(), "UPDATE item SET name = 'component' WHERE id = :OLD_ID");
    sql->SetAutoCommit(true);
    update.SetObject(stUpdate, sql.get());
    Rename(*q, 4, "ignored");
    EXPECT_EQ("component", Name(4));
    update.SetObject(stUpdate, nullptr);
    q->SetUpdateObject(nullptr);
}

TEST_F(UpdaterTest, AStatementThatHitsNoRowFailsUnderStrictUpdateAndTheRecordStaysAsItWas) {
    auto s = newSession();
    auto q = items(s.get());
    dbExec("DELETE FROM item WHERE id = 5;");
    ASSERT_TRUE(q->Locate("ID", 5, {}));
    q->Edit();
    q->FieldByName("NAME")->SetAsString("gone");
    EXPECT_EQ("Update failed. Found 0 records", ErrorText([&] { q->Post(); }));
    EXPECT_EQ(db::dsEdit, q->State());
    q->Cancel();
    EXPECT_EQ("item 5", q->FieldByName("NAME")->AsString());
    q->Options().StrictUpdate = false;
    q->Edit();
    q->FieldByName("NAME")->SetAsString("gone");
    q->Post();
    EXPECT_EQ(0, q->RowsAffected());
    q->Close();
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(UpdaterTest, CachedChangesGoInBlocksOfTheBatchSize) {
    auto s = newSession();
    auto q = items(s.get(), true);
    q->Options().UpdateBatchSize = 3;
    for (int id = 1; id <= 7; ++id) Rename(*q, id, "batch " + std::to_string(id));
    Record();
    q->ApplyUpdates();
    const std::vector<std::string> sent = Received();
    std::vector<std::string> blocks;
    for (const std::string& text : sent)
        if (text.rfind("BEGIN", 0) == 0) blocks.push_back(text);
    ASSERT_EQ(3u, blocks.size());
    auto statements = [](const std::string& block) {
        size_t n = 0;
        for (size_t at = block.find("UPDATE ITEM"); at != std::string::npos;
             at = block.find("UPDATE ITEM", at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(3u, statements(blocks[0]));
    EXPECT_EQ(3u, statements(blocks[1]));
    EXPECT_EQ(1u, statements(blocks[2]));
    EXPECT_NE(std::string::npos, blocks[1].find(":P_2_Old_ID")) << blocks[1];
    EXPECT_EQ("END;", blocks[2].substr(blocks[2].size() - 4));
    for (int id = 1; id <= 7; ++id) EXPECT_EQ("batch " + std::to_string(id), Name(id));
}

TEST_F(UpdaterTest, QuickRefreshWithoutKeysGivesItsSessionUseBack) {
    auto s = newSession();
    // A table without a unique index: no key at all.
    auto q = newQuery(s.get(), "SELECT a, b FROM pair");
    q->Open();
    const int uses = s->ConnectCount();
    EXPECT_EQ("Unique keyfields required", ErrorText([&] { q->RefreshQuick(false); }));
    EXPECT_EQ(uses, s->ConnectCount());
}

TEST_F(UpdaterTest, QuickRefreshReadsTheCurrentRowByItsKeyAndDropsDeletedRows) {
    auto s = newSession();
    auto q = items(s.get());
    ASSERT_TRUE(q->Locate("ID", 6, {}));
    dbExec("UPDATE item SET name = 'fresh' WHERE id = 6; DELETE FROM item WHERE id = 3;");
    q->RefreshQuick(true);
    EXPECT_EQ(6, q->FieldByName("ID")->AsInteger()) << "the current record is kept";
    EXPECT_EQ("fresh", q->FieldByName("NAME")->AsString());
    q->First();
    EXPECT_EQ((std::vector<int>{1, 2, 4, 5, 6, 7, 8, 9, 10}), ReadIds(*q));
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(UpdaterTest, AnInsertWhoseKeyCannotBeFetchedIsRefusedAndGivesItsUseBack) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, name FROM item");
    q->SetKeyFields("ID");
    q->SetKeySequence("NO_SUCH_SEQ");
    q->SetSequenceMode(smInsert);
    q->Open();
    const int uses = s->ConnectCount();
    EXPECT_NE("(nothing raised)", ErrorText([&] { q->Append(); }));
    EXPECT_EQ(db::dsBrowse, q->State());
    EXPECT_EQ(uses, s->ConnectCount());
}

}  // namespace

namespace {

TEST_F(UpdaterTest, OwnRefreshAndLockTextsNarrowTheDataSetsStatement) {
    auto s = newSession();
    auto q = items(s.get());
    q->SetName("ADataSetWithAVeryLongNameIndeed");
    q->SQLRefresh().SetText("  where id = :ID");
    q->SQLLock().SetText("FOR UPDATE NOWAIT");
    q->SetLockMode(lmLockImmediate);
    ASSERT_TRUE(q->Locate("ID", 4, {}));
    dbExec("UPDATE item SET name = 'four' WHERE id = 4;");
    Record();
    q->RefreshRecord();
    EXPECT_EQ("four", q->FieldByName("NAME")->AsString());
    q->Edit();
    q->Cancel();
    const std::vector<std::string> sent = Received();
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ("SELECT id, name FROM item WHERE (id <= 10) AND id = :ID  ORDER BY id", sent[0]);
    EXPECT_EQ("SAVEPOINT \"LOCK_ADATASETWITHAVERYLONGNAME\"", sent[1]) << "cut to 30 characters";
    EXPECT_EQ("SELECT id, name FROM item WHERE (id <= 10) AND id = :ID  ORDER BY id\nFOR UPDATE NOWAIT",
              sent[2]);
    EXPECT_EQ("ROLLBACK TO SAVEPOINT \"LOCK_ADATASETWITHAVERYLONGNAME\"", sent[3]) << "the cancel unlocks";
}

}  // namespace
