// The nested-table dataset over a column of REFs on the stand-in: the nested dataset's rows are the
// REFs, shown as reference fields, and a dataset on such a field shows the object the current REF
// points to, following both parents as they move.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataaccess/components/OraFields.h"
#include "dataaccess/components/OraNestedTable.h"

using namespace dac;

namespace {

class OraNestedRefsTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        session_ = newSession();
        for (const char* sql : {"CREATE TYPE owner_t AS OBJECT (id NUMBER(9), name VARCHAR2(10))",
                                "CREATE TABLE owners OF owner_t", "INSERT INTO owners VALUES (1, 'Ann')",
                                "INSERT INTO owners VALUES (2, 'Bob')", "INSERT INTO owners VALUES (3, 'Cy')",
                                "CREATE TYPE owner_refs AS TABLE OF REF owner_t",
                                "CREATE TABLE kennel(id NUMBER(9,0) PRIMARY KEY, owners owner_refs)"})
            session_->ExecSQL(sql);
        // The kept form of a collection of REFs: the REFs' hexadecimal texts.
        const std::string ann = Hex(1), bob = Hex(2), cy = Hex(3);
        dbExec("INSERT INTO kennel VALUES (1, '[\"" + ann + "\",\"" + bob +
               "\"]');"
               "INSERT INTO kennel VALUES (2, '[\"" +
               cy + "\",null]');");
    }

    void TearDown() override {
        session_.reset();
        DataSetTest::TearDown();
    }

    std::string Hex(int id) {
        auto q = newQuery(session_.get(), "SELECT REF(o) r FROM owners o WHERE o.id = " + std::to_string(id));
        q->Open();
        auto* ref = dynamic_cast<TOraRef*>(
            q->GetIRecordSet()->GetObject(q->GetFieldDesc(q->FieldByName("R"))->FieldNo, q->ActiveBuffer()));
        if (!ref) throw std::runtime_error("no REF");
        return ref->GetAsHex();
    }

    std::unique_ptr<TestSession> session_;
};

TEST_F(OraNestedRefsTest, ATableOfRefsShowsItsRefsAndTheirTargets) {
    auto q = newQuery(session_.get(), "SELECT id, owners FROM kennel ORDER BY id");
    q->Open();
    TOraNestedTable refs;
    refs.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("OWNERS")));
    refs.Open();
    ASSERT_EQ(1, refs.FieldCount());
    ASSERT_NE(nullptr, dynamic_cast<TOraReferenceField*>(refs.Fields()[0]));
    EXPECT_EQ("(REFERENCE)", refs.Fields()[0]->AsString());

    // For every REF of the current kennel: the name of its target through a dataset on the REF
    // field, which follows the REFs as they move.
    auto names = [&]() {
        auto* element = dynamic_cast<TOraReferenceField*>(refs.Fields()[0]);
        TOraNestedTable target;
        target.SetDataSetField(element);
        target.Open();
        EXPECT_FALSE(target.CanModify());
        std::vector<std::string> out;
        for (refs.First(); !refs.Eof(); refs.Next()) {
            if (element->IsNull()) {
                EXPECT_TRUE(target.IsEmpty());
                out.push_back("<null>");
                continue;
            }
            std::vector<std::string> row = Column(target, "NAME");
            out.push_back(row.size() == 1 ? row[0] : "<" + std::to_string(row.size()) + " rows>");
        }
        return out;
    };
    EXPECT_EQ((std::vector<std::string>{"Ann", "Bob"}), names());
    EXPECT_EQ(2, refs.RecordCount()) << "every element fetched";
    q->Next();
    EXPECT_EQ((std::vector<std::string>{"Cy", "<null>"}), names());
    q->First();
    EXPECT_EQ((std::vector<std::string>{"Ann", "Bob"}), names());
}

// A dataset opened on the element field of a nested dataset stays open while the outer parent
// moves: the middle dataset keeps its fields for another collection of its type, so the innermost
// one follows instead of showing the rows of a collection no longer shown.
TEST_F(OraNestedRefsTest, ADataSetOnAnElementFieldFollowsWhenTheOuterParentMoves) {
    auto q = newQuery(session_.get(), "SELECT id, owners FROM kennel ORDER BY id");
    q->Open();
    TOraNestedTable refs;
    refs.SetDataSetField(static_cast<db::TDataSetField*>(q->FieldByName("OWNERS")));
    refs.Open();
    db::TField* element = refs.Fields()[0];
    TOraNestedTable target;
    target.SetDataSetField(dynamic_cast<TOraReferenceField*>(element));
    target.Open();
    auto name = [&] { return std::string(target.FieldByName("NAME")->AsString()); };
    EXPECT_EQ("Ann", name());
    refs.Next();
    EXPECT_EQ("Bob", name());
    q->Next();
    EXPECT_EQ(element, refs.Fields()[0]) << "the element field stays";
    ASSERT_TRUE(target.Active());
    EXPECT_EQ("Cy", name());
    refs.Next();
    EXPECT_TRUE(target.IsEmpty()) << "a null REF";
    q->First();
    EXPECT_EQ("Ann", name());
    refs.Last();
    EXPECT_EQ("Bob", name());
    EXPECT_EQ(2, refs.RecordCount());
}

}  // namespace
