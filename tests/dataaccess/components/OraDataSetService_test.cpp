// The Oracle dataset service: the updating table, key fields, the sequence-fed key field and
// whether the dataset can be modified; the session uses a dataset takes and gives back.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

TEST_F(DataSetTest, TheUpdatingTableIsFoundByNameOrAliasAndAnUnknownOneIsRefused) {
    auto s = newSession();
    dbExec("CREATE TABLE part(pid NUMBER(9,0), item_id NUMBER(9,0));");
    struct Case {
        const char* sql;
        const char* updating;
        int index;
        const char* error;
    };
    const Case cases[] = {
        {"SELECT i.id, p.pid FROM item i, part p WHERE p.item_id = i.id", "", 0, ""},
        {"SELECT i.id, p.pid FROM item i, part p WHERE p.item_id = i.id", "part", 1, ""},
        {"SELECT i.id, p.pid FROM item i, part p WHERE p.item_id = i.id", "p", 1, ""},
        {"SELECT i.id FROM item i", "part", -1, "Wrong UpdatingTable value - table PART is unknown"},
    };
    for (const auto& c : cases) {
        auto q = newQuery(s.get(), c.sql);
        q->SetUpdatingTable(c.updating);
        const std::string error = ErrorText([&] { q->Open(); });
        if (*c.error) {
            EXPECT_EQ(c.error, error) << c.sql << " / " << c.updating;
            EXPECT_FALSE(q->Active());
            continue;
        }
        ASSERT_EQ("(nothing raised)", error) << c.sql;
        EXPECT_EQ(c.index, q->DataSetService()->UpdatingTableIndex()) << c.sql << " / " << c.updating;
    }
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(DataSetTest, KeyFieldsAreResolvedByNameAndAMissingOneIsNamed) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, name FROM item");
    q->SetName("Items");
    q->Open();
    std::vector<TFieldDesc*> keys;
    q->DataSetService()->GetKeyFieldDescs(keys);
    ASSERT_EQ(1u, keys.size()) << "no ROWID, no key fields: the column of the primary key's index";
    EXPECT_EQ("ID", keys[0]->Name);
    q->SetKeyFields("ID;NAME");
    q->DataSetService()->GetKeyFieldDescs(keys);
    ASSERT_EQ(2u, keys.size());
    EXPECT_EQ("ID", keys[0]->Name);
    EXPECT_EQ("NAME", keys[1]->Name);
    q->SetKeyFields("ID;NOPE");
    EXPECT_EQ("Items: Key field 'NOPE' not found",
              ErrorText([&] { q->DataSetService()->GetKeyFieldDescs(keys); }));
}

TEST_F(DataSetTest, ASequenceFeedsTheFirstKeyFieldWhichIsThenNotRequired) {
    auto s = newSession();
    dbExec("CREATE TABLE keyed(k NUMBER(9,0) NOT NULL, v VARCHAR2(10) NOT NULL);");
    for (bool sequence : {false, true}) {
        auto q = newQuery(s.get(), "SELECT k, v FROM keyed");
        q->SetKeyFields("V;K");
        if (sequence) q->SetKeySequence("  keyed_seq ");
        q->Open();
        EXPECT_EQ(sequence ? "keyed_seq" : "", q->KeySequence());
        db::TField* generated = q->DataSetService()->KeyGeneratorField();
        EXPECT_EQ(sequence ? q->FieldByName("V") : nullptr, generated) << sequence;
        EXPECT_EQ(!sequence, q->FieldByName("V")->Required()) << sequence;
        EXPECT_TRUE(q->FieldByName("K")->Required()) << sequence;
    }
}

TEST_F(DataSetTest, AScrollableCursorCannotBeModified) {
    auto s = newSession();
    struct Case {
        bool localUpdate, scrollable, readOnly;
        bool canModify;
    };
    const Case cases[] = {{true, false, false, true},
                          {true, true, false, false},
                          {true, false, true, false},
                          {false, false, false, true},
                          {false, true, false, false}};
    for (const auto& c : cases) {
        auto q = newQuery(s.get(), "SELECT id, name FROM item");
        q->SetLocalUpdate(c.localUpdate);
        q->Options().SetScrollableCursor(c.scrollable);
        q->SetReadOnly(c.readOnly);
        q->Open();
        EXPECT_EQ(c.canModify, q->CanModify())
            << "local " << c.localUpdate << " scrollable " << c.scrollable << " read-only " << c.readOnly;
    }
}

// A dataset's uses of the session: a session in disconnected mode closes once nothing uses it.
TEST_F(DataSetTest, TheSessionIsUsedWhileRowsArePendingAndNotAfter) {
    auto s = newSession();
    s->Options().SetDisconnectedMode(true);
    struct Case {
        const char* name;
        bool fetchAll;
        int from;
        bool usedWhileOpen;
    };
    const Case cases[] = {{"rows pending", false, 0, true},
                          {"all fetched at once", true, 0, false},
                          {"everything fits one block", false, 50, false}};
    for (const auto& c : cases) {
        auto q = newQuery(s.get(), "SELECT id FROM item WHERE id > :FROM_ID ORDER BY id");
        q->ParamByName("FROM_ID")->SetAsInteger(c.from);
        q->SetFetchAll(c.fetchAll);
        q->Open();
        EXPECT_EQ(c.usedWhileOpen ? 1 : 0, s->ConnectCount()) << c.name;
        EXPECT_EQ(c.usedWhileOpen, s->GetConnected()) << c.name;
        EXPECT_EQ(Range(c.from + 1, 60), ReadIds(*q)) << c.name;
        EXPECT_EQ(0, s->ConnectCount()) << c.name << ": reading to the end gives the use back";
        EXPECT_FALSE(s->GetConnected()) << c.name;
        q->Close();
        EXPECT_EQ(0, s->ConnectCount()) << c.name;
    }
    auto q = newQuery(s.get(), "SELECT id FROM item ORDER BY id");
    q->Open();
    q->Close();
    EXPECT_EQ(0, s->ConnectCount()) << "closing with rows pending";
    EXPECT_FALSE(s->GetConnected());
}
