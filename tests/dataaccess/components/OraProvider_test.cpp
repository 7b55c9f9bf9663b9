// The provider interface of a dataset: statements with "?" marks, the table name, key fields,
// default order, update records and transactions.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

namespace {

TEST(NumberQuestionMarks, MarksInsideLiteralsQuotedNamesAndCommentsStayText) {
    struct Case {
        const char* sql;
        const char* numbered;
    };
    const Case cases[] = {
        {"UPDATE T SET A = ? WHERE ID = ?", "UPDATE T SET A = :1 WHERE ID = :2"},
        {"UPDATE T SET A = 'why?' WHERE ID = ?", "UPDATE T SET A = 'why?' WHERE ID = :1"},
        {"UPDATE T SET A = 'it''s ?' WHERE ID = ?", "UPDATE T SET A = 'it''s ?' WHERE ID = :1"},
        {"SELECT \"Odd?\" FROM T WHERE X = ?", "SELECT \"Odd?\" FROM T WHERE X = :1"},
        {"SELECT A -- what?\nFROM T WHERE X = ?", "SELECT A -- what?\nFROM T WHERE X = :1"},
        {"SELECT /* ? */ A FROM T WHERE X = ? AND Y = ?", "SELECT /* ? */ A FROM T WHERE X = :1 AND Y = :2"},
        {"SELECT 'open? FROM T", "SELECT 'open? FROM T"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.numbered, NumberQuestionMarks(c.sql)) << c.sql;
}

TEST_F(DataSetTest, AStatementWithMarksRunsWithItsParametersByPositionAndKeepsItsLiterals) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, name FROM item");
    db::TParams given;
    given.CreateParam(db::ftString, "x", db::ptUnknown)->SetAsString("renamed");
    given.CreateParam(db::ftInteger, "y", db::ptUnknown)->SetAsInteger(7);
    EXPECT_EQ(1, q->PSExecuteStatement("UPDATE item SET name = ? || ' why?' WHERE id = ?", &given));
    EXPECT_EQ((std::vector<std::string>{"renamed why?"}), dbTexts("SELECT name FROM item WHERE id = 7"));
    std::unique_ptr<TCustomDADataSet> rows;
    db::TParams one;
    one.CreateParam(db::ftInteger, "z", db::ptInput)->SetAsInteger(58);
    q->PSExecuteStatement("SELECT id FROM item WHERE id > ? ORDER BY id", &one, &rows);
    ASSERT_TRUE(rows);
    EXPECT_EQ("1", rows->Params()[0]->Name());
    EXPECT_EQ((std::vector<int>{59, 60}), ReadIds(static_cast<TOraDataSet&>(*rows)));
}

TEST_F(DataSetTest, TheTableNameAndKeyFieldsAreAnsweredOpenOrClosed) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT i.id, i.name FROM item i");
    EXPECT_EQ("ITEM", q->PSGetTableName()) << "from the text of a closed query";
    EXPECT_EQ("", q->PSGetKeyFields());
    EXPECT_FALSE(q->Active()) << "opened for the description and closed again";
    q->SetKeyFields("ID");
    EXPECT_EQ("ID", q->PSGetKeyFields());
    q->Open();
    EXPECT_EQ("ITEM", q->PSGetTableName());
    EXPECT_EQ("ID", q->PSGetKeyFields());
    q->SetKeyFields("ID;NAME");
    EXPECT_EQ("ID", q->PSGetKeyFields()) << "the answer is kept until the next open";
}

TEST_F(DataSetTest, TheDefaultOrderNamesFieldsByNameOrNumber) {
    auto s = newSession();
    dbExec("CREATE TABLE coded(id NUMBER(9,0), code VARCHAR2(5), name VARCHAR2(10));");
    auto q = newQuery(s.get(), "SELECT id, code, name FROM coded ORDER BY 2 DESC, name");
    q->Open();
    AnsiString fields, desc;
    ASSERT_TRUE(q->PSGetDefaultOrder(fields, desc));
    EXPECT_EQ("CODE;NAME", fields);
    EXPECT_EQ("CODE", desc);
    auto plain = newQuery(s.get(), "SELECT id FROM coded");
    EXPECT_FALSE(plain->PSGetDefaultOrder(fields, desc));
}

TEST_F(DataSetTest, ProviderTransactionsNeedBothAutoCommits) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id FROM item");
    s->Connect();
    q->SetAutoCommit(false);
    q->PSStartTransaction();
    EXPECT_FALSE(q->PSInTransaction());
    q->SetAutoCommit(true);
    q->PSStartTransaction();
    EXPECT_TRUE(q->PSInTransaction());
    q->PSEndTransaction(false);
    EXPECT_FALSE(q->PSInTransaction());
}

TEST_F(DataSetTest, AProviderRecordIsAppliedFromADeltaDataSet) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, name FROM item WHERE id = 9");
    q->SetKeyFields("ID");
    q->Open();
    auto delta = newQuery(s.get(), "SELECT id, name FROM item WHERE id = 9");
    delta->SetCachedUpdates(true);
    delta->SetLocalUpdate(true);
    delta->Open();
    delta->Edit();
    delta->FieldByName("NAME")->SetAsString("from delta");
    delta->Post();
    q->SQLUpdate().SetText("UPDATE item SET name = :NAME WHERE id = :OLD_ID");
    EXPECT_TRUE(q->PSUpdateRecord(db::ukModify, delta.get()));
    EXPECT_EQ((std::vector<std::string>{"from delta"}), dbTexts("SELECT name FROM item WHERE id = 9"));
}

}  // namespace
