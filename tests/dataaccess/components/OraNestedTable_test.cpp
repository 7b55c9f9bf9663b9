// The nested-table dataset on the stand-in: a query over a table with a nested-table column and an
// object column, the nested dataset showing the current parent row's elements, following the
// parent as it moves, and changes written back when the parent posts.
#include "dataaccess/components/OraNestedTable.h"

#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

namespace {

class OraNestedTableTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        session_ = newSession();
        for (const char* ddl :
             {"CREATE TYPE pet_t AS OBJECT (name VARCHAR2(10), age NUMBER(3))",
              "CREATE TYPE pets_t AS TABLE OF pet_t", "CREATE TYPE words_t AS TABLE OF VARCHAR2(8)",
              "CREATE TYPE addr_t AS OBJECT (street VARCHAR2(20), zip NUMBER(5))"})
            session_->ExecSQL(ddl);
        dbExec(
            "CREATE TABLE club(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20), home addr_t, pets pets_t, "
            "words words_t);"
            "INSERT INTO club VALUES (1, 'first', '[\"Elm 1\",10115]', '[[\"Rex\",3],[\"Tom\",5]]', "
            "'[\"a\",\"b\"]');"
            "INSERT INTO club VALUES (2, 'second', null, '[[\"Kit\",1]]', null);"
            "INSERT INTO club VALUES (3, 'third', null, null, '[]');");
    }

    void TearDown() override {
        session_.reset();
        DataSetTest::TearDown();
    }

    std::unique_ptr<TOraQuery> openClub() {
        auto q = newQuery(session_.get(), "SELECT id, name, home, pets, words FROM club ORDER BY id");
        q->SetKeyFields("ID");
        q->Open();
        return q;
    }

    std::unique_ptr<TestSession> session_;
};

TEST_F(OraNestedTableTest, CollectionColumnsAreDataSetFieldsAndObjectColumnsHaveChildren) {
    auto q = openClub();
    auto* pets = dynamic_cast<TOraDataSetField*>(q->FieldByName("PETS"));
    ASSERT_NE(nullptr, pets);
    EXPECT_EQ("(DATASET)", pets->AsString());
    EXPECT_EQ("Elm 1", q->FieldByName("HOME.STREET")->AsString());
    q->Locate("ID", 3, {});
    EXPECT_EQ("(DataSet)", pets->AsString());
}

TEST_F(OraNestedTableTest, TheNestedDataSetShowsAndFollowsTheParentRow) {
    auto q = openClub();
    TOraNestedTable pets;
    pets.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("PETS")));
    pets.Open();
    ASSERT_NE(nullptr, pets.FindField("NAME"));
    EXPECT_EQ(2, pets.FieldNoOffset());
    EXPECT_EQ((std::vector<std::string>{"Rex", "Tom"}), Column(pets, "NAME"));
    EXPECT_EQ((std::vector<std::string>{"3", "5"}), Column(pets, "AGE"));
    q->Next();
    EXPECT_EQ((std::vector<std::string>{"Kit"}), Column(pets, "NAME"));
    q->Next();  // a null collection
    EXPECT_TRUE(pets.IsEmpty());
    q->First();
    EXPECT_EQ((std::vector<std::string>{"Rex", "Tom"}), Column(pets, "NAME"));

    TOraNestedTable words;
    words.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("WORDS")));
    words.Open();
    EXPECT_EQ(1, words.FieldNoOffset());
    ASSERT_EQ(1, words.FieldCount());
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Column(words, words.Fields()[0]->FieldName().c_str()));
}

TEST_F(OraNestedTableTest, OpeningWithoutFieldOrCollectionAndOverAnObjectColumnFails) {
    TOraNestedTable alone;
    EXPECT_EQ("Missing DataSetField property", ErrorText([&] { alone.Open(); }));
    EXPECT_FALSE(alone.CanModify());
}

TEST_F(OraNestedTableTest, ABoundCollectionIsShownAndEditable) {
    auto q = openClub();
    auto* table = dynamic_cast<TOraArray*>(
        q->GetIRecordSet()->GetObject(q->GetFieldDesc(q->FieldByName("WORDS"))->FieldNo, q->ActiveBuffer()));
    ASSERT_NE(nullptr, table);
    TOraNestedTable words;
    words.SetTableObject(table);
    EXPECT_TRUE(words.CanModify());
    words.Open();
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Column(words, words.Fields()[0]->FieldName().c_str()));
    words.Append();
    words.Fields()[0]->SetAsString("c");
    words.Post();
    EXPECT_EQ(3, table->GetSize());
    EXPECT_EQ("c", table->GetItemAsString(2));
    words.SetTableObject(table);  // the same collection again: shown anew
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}),
              Column(words, words.Fields()[0]->FieldName().c_str()));
    EXPECT_EQ(3, words.RecordCount()) << "every element fetched";
}

TEST_F(OraNestedTableTest, DeletingANestedRowPutsTheParentIntoEditAndPostingWritesIt) {
    auto q = openClub();
    TOraNestedTable pets;
    pets.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("PETS")));
    pets.Open();
    pets.First();
    pets.Delete();
    EXPECT_EQ(db::dsEdit, q->State());
    EXPECT_TRUE(q->Modified());
    EXPECT_TRUE(static_cast<TOraDataSetField*>(q->FieldByName("PETS"))->Changed());
    EXPECT_EQ((std::vector<std::string>{"Tom"}), Column(pets, "NAME"));
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"[[\"Tom\",5]]"}), dbTexts("SELECT pets FROM club WHERE id = 1"));
}

TEST_F(OraNestedTableTest, InsertedAndEditedElementsReachTheTable) {
    auto q = openClub();
    q->Locate("ID", 2, {});
    TOraNestedTable pets;
    pets.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("PETS")));
    pets.Open();
    pets.Append();
    pets.FieldByName("NAME")->SetAsString("Bo");
    pets.FieldByName("AGE")->SetAsInteger(7);
    pets.Post();
    EXPECT_EQ(db::dsEdit, q->State());
    pets.First();
    pets.Edit();
    pets.FieldByName("AGE")->SetAsInteger(2);
    pets.Post();
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"[[\"Kit\",2],[\"Bo\",7]]"}),
              dbTexts("SELECT pets FROM club WHERE id = 2"));
    // the other rows are untouched
    EXPECT_EQ((std::vector<std::string>{"[[\"Rex\",3],[\"Tom\",5]]"}),
              dbTexts("SELECT pets FROM club WHERE id = 1"));
}

TEST_F(OraNestedTableTest, InsertingUnderANewParentRowPostsTheParentFirst) {
    auto q = openClub();
    TOraNestedTable words;
    words.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("WORDS")));
    words.Open();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(4);
    q->FieldByName("NAME")->SetAsString("fourth");
    EXPECT_TRUE(words.IsEmpty());
    words.Append();
    EXPECT_EQ(db::dsBrowse, q->State()) << "the new parent row was posted first";
    EXPECT_EQ((std::vector<std::string>{"fourth"}), dbTexts("SELECT name FROM club WHERE id = 4"));
    words.Fields()[0]->SetAsString("hello");
    words.Post();
    EXPECT_EQ(db::dsEdit, q->State());
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"[\"hello\"]"}), dbTexts("SELECT words FROM club WHERE id = 4"));
}

TEST_F(OraNestedTableTest, AReferenceFieldShowsItsTargetReadOnlyAndFollowsTheParent) {
    for (const char* sql :
         {"CREATE TYPE owner_t AS OBJECT (id NUMBER(9), name VARCHAR2(10))", "CREATE TABLE owners OF owner_t",
          "CREATE TABLE pet(id NUMBER(9,0) PRIMARY KEY, owner REF owner_t)",
          "INSERT INTO owners VALUES (1, 'Ann')", "INSERT INTO owners VALUES (2, 'Bob')",
          "INSERT INTO pet SELECT 10, REF(o) FROM owners o WHERE o.id = 1",
          "INSERT INTO pet SELECT 11, REF(o) FROM owners o WHERE o.id = 2",
          "INSERT INTO pet(id) VALUES (12)"})
        session_->ExecSQL(sql);
    auto q = newQuery(session_.get(), "SELECT id, owner FROM pet ORDER BY id");
    q->Open();
    auto* owner = dynamic_cast<TOraReferenceField*>(q->FieldByName("OWNER"));
    ASSERT_NE(nullptr, owner);
    EXPECT_EQ("(REFERENCE)", owner->AsString());
    TOraNestedTable target;
    target.SetDataSetField(owner);
    target.Open();
    ASSERT_NE(nullptr, target.RefObject());
    EXPECT_EQ(nullptr, target.TableObject());
    EXPECT_FALSE(target.CanModify());
    EXPECT_EQ((std::vector<std::string>{"Ann"}), Column(target, "NAME"));
    q->Next();
    EXPECT_EQ((std::vector<std::string>{"Bob"}), Column(target, "NAME"));
    q->Next();  // a null REF: no record
    EXPECT_EQ("(Reference)", owner->AsString());
    EXPECT_TRUE(target.IsEmpty());
    q->First();
    EXPECT_EQ((std::vector<std::string>{"Ann"}), Column(target, "NAME"));
}

}  // namespace
