// The update SQL generator: the texts of INSERT, UPDATE, DELETE, lock and refresh statements
// byte for byte, their parameters and the fields behind them, and the generator's refusals.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

namespace {

class GeneratorTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        dbExec(
            "CREATE TABLE t(a NUMBER(9,0), b VARCHAR2(10));"
            "INSERT INTO t VALUES (1, 'one');"
            "CREATE TABLE pics(id NUMBER(9,0), pic BLOB);"
            "CREATE TABLE longnames(id NUMBER(9,0), "
            "a_column_name_of_thirty_one_ch NUMBER(9,0), x NUMBER(9,0));"
            "INSERT INTO longnames VALUES (1, 2, 3);");
        session_ = newSession();
    }
    void TearDown() override {
        session_.reset();
        DataSetTest::TearDown();
    }
    std::unique_ptr<TOraQuery> open(const std::string& sql, const char* keys) {
        auto q = newQuery(session_.get(), sql);
        q->SetKeyFields(keys);
        q->Open();
        return q;
    }
    static std::vector<std::string> Names(const TDAParams& params) {
        std::vector<std::string> names;
        for (int i = 0; i < params.Count(); ++i) names.push_back(params[i]->Name());
        return names;
    }
    std::unique_ptr<TestSession> session_;
};

TEST_F(GeneratorTest, InsertAndUpdateTextsAreThoseOfTheExamples) {
    auto q = open("SELECT a, b FROM t", "A");
    TDASQLGenerator* g = q->DataSetService()->SQLGenerator();
    TDAParams params;
    q->Append();
    q->FieldByName("A")->SetAsInteger(2);
    q->FieldByName("B")->SetAsString("two");
    EXPECT_EQ("INSERT INTO T\r\n  (A, B)\r\nVALUES\r\n  (:A, :B)", g->GenerateSQL(stInsert, true, &params));
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), Names(params));
    ASSERT_EQ(2u, g->ParamsInfo().size());
    EXPECT_EQ(q->FieldByName("B"), g->ParamsInfo()[1].Field);
    EXPECT_FALSE(g->ParamsInfo()[1].Old);
    q->Cancel();
    q->Edit();
    q->FieldByName("B")->SetAsString("uno");
    EXPECT_EQ("UPDATE T\r\nSET\r\n  B = :B\r\nWHERE\r\n  A = :Old_A",
              g->GenerateSQL(stUpdate, true, &params));
    EXPECT_EQ((std::vector<std::string>{"B", "Old_A"}), Names(params));
    EXPECT_TRUE(g->ParamsInfo()[1].Old);
    EXPECT_EQ("DELETE FROM T\r\nWHERE\r\n  A = :Old_A", g->GenerateSQL(stDelete, true, nullptr));
    EXPECT_EQ("SELECT * FROM T\r\nWHERE\r\n  A = :Old_A\r\nFOR UPDATE NOWAIT",
              g->GenerateSQL(stLock, true, nullptr));
    EXPECT_EQ("SELECT A AS \"_0\", B AS \"_1\" FROM T\r\nWHERE\r\n  A = :A",
              g->GenerateSQL(stRefresh, true, nullptr));
    q->Cancel();
}

TEST_F(GeneratorTest, AnUpdateWithoutAChangedFieldIsEmptyAndTheUpdaterRunsNothing) {
    auto q = open("SELECT a, b FROM t", "A");
    q->Edit();
    EXPECT_EQ("", q->DataSetService()->SQLGenerator()->GenerateSQL(stUpdate, true, nullptr));
    Record();
    q->Post();
    EXPECT_TRUE(Received().empty());
}

TEST_F(GeneratorTest, AGenericGeneratorWritesQuestionMarksWhenItFillsAParameterList) {
    auto q = open("SELECT a, b FROM t", "A");
    TDASQLGenerator generic(q->DataSetService());
    TDAParams params;
    q->Edit();
    q->FieldByName("B")->SetAsString("uno");
    EXPECT_EQ("UPDATE T\r\nSET\r\n  B = ?\r\nWHERE\r\n  A = ?", generic.GenerateSQL(stUpdate, true, &params));
    EXPECT_EQ((std::vector<std::string>{"B", "Old_A"}), Names(params));
    EXPECT_EQ("UPDATE T\r\nSET\r\n  B = :B\r\nWHERE\r\n  A = :Old_A",
              generic.GenerateSQL(stUpdate, true, nullptr));
    q->Cancel();
}

TEST_F(GeneratorTest, ANullKeyIsTestedWithIsNullAndHasNoParameter) {
    dbExec("INSERT INTO t VALUES (NULL, 'none');");
    auto q = open("SELECT a, b FROM t WHERE a IS NULL", "A");
    TDAParams params;
    EXPECT_EQ("DELETE FROM T\r\nWHERE\r\n  A IS NULL",
              q->DataSetService()->SQLGenerator()->GenerateSQL(stDelete, true, &params));
    EXPECT_EQ(0, params.Count());
}

TEST_F(GeneratorTest, ALongFieldNameBecomesTheFieldNumberAndBatchStatementsArePrefixed) {
    auto q =
        open("SELECT id, a_column_name_of_thirty_one_ch, x FROM longnames", "A_COLUMN_NAME_OF_THIRTY_ONE_CH");
    TDASQLGenerator* g = q->DataSetService()->SQLGenerator();
    TDAParams params;
    EXPECT_EQ("DELETE FROM LONGNAMES\r\nWHERE\r\n  A_COLUMN_NAME_OF_THIRTY_ONE_CH = :Old_2",
              g->GenerateSQL(stDelete, true, &params));
    q->SetKeyFields("ID");
    q->DataSetService()->ClearKeyFieldsCache();
    q->Edit();
    q->FieldByName("X")->SetAsInteger(9);
    EXPECT_EQ("UPDATE LONGNAMES\r\nSET\r\n  X = :P_2_X\r\nWHERE\r\n  ID = :P_2_Old_ID",
              g->GenerateSQL(stUpdate, true, &params, 2));
    EXPECT_EQ((std::vector<std::string>{"P_2_X", "P_2_Old_ID"}), Names(params));
    q->Cancel();
}

TEST_F(GeneratorTest, ALobIsInsertedEmptyAndReturnedForItsValue) {
    auto q = open("SELECT id, pic FROM pics", "ID");
    TDASQLGenerator* g = q->DataSetService()->SQLGenerator();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(1);
    q->FieldByName("PIC")->SetAsString("bytes");
    TDAParams params;
    EXPECT_EQ(
        "INSERT INTO PICS\r\n  (ID, PIC)\r\nVALUES\r\n  (:ID, EMPTY_BLOB())\r\nRETURNING\r\n  "
        "PIC\r\nINTO\r\n  :PIC",
        g->GenerateSQL(stInsert, true, &params));
    EXPECT_EQ((std::vector<std::string>{"ID", "PIC"}), Names(params));
    EXPECT_EQ(db::ptUnknown, params[1]->ParamType());
    q->Cancel();
}

TEST_F(GeneratorTest, AnInsertOfNullsOnlyListsEveryField) {
    auto q = open("SELECT a, b FROM t", "A");
    q->Append();
    EXPECT_EQ("INSERT INTO T\r\n  (A, B)\r\nVALUES\r\n  (:A, :B)",
              q->DataSetService()->SQLGenerator()->GenerateSQL(stInsert, true, nullptr));
    q->Cancel();
}

TEST_F(GeneratorTest, ATableWithoutKeysAndWithoutDataFieldsIsRefused) {
    dbExec("CREATE TABLE blobs(pic BLOB);");
    auto q = open("SELECT pic FROM blobs", "");
    struct Case {
        TStatementType type;
        const char* error;
    };
    for (const Case& c : {Case{stDelete, "Key fields not found"}, Case{stQuery, "Bad statement type"}})
        EXPECT_EQ(c.error, ErrorText([&] {
                      q->DataSetService()->SQLGenerator()->GenerateSQL(c.type, true, nullptr);
                  }));
}

// A generator of a session whose sequence value cannot be taken inside the INSERT.
class SelectIntoGenerator : public TOraSQLGenerator {
public:
    using TOraSQLGenerator::TOraSQLGenerator;

protected:
    bool SequenceInsideInsert() override { return false; }
};

TEST_F(GeneratorTest, ASequenceValueSelectedIntoTheKeyKeepsItsBlockInFrontOfTheInsert) {
    auto q = newQuery(session_.get(), "SELECT a, b FROM t");
    q->SetKeyFields("A");
    q->SetKeySequence("T_SEQ");
    q->Open();
    q->Append();
    q->FieldByName("B")->SetAsString("two");
    TDAParams params;
    EXPECT_EQ(
        "INSERT INTO T\r\n  (A, B)\r\nVALUES\r\n  (T_SEQ.NEXTVAL, :B)\r\nRETURNING\r\n  A\r\nINTO\r\n  :A",
        q->DataSetService()->SQLGenerator()->GenerateSQL(stInsert, true, &params));
    SelectIntoGenerator old(q->DataSetService());
    EXPECT_EQ(
        "begin\r\n  SELECT T_SEQ.NEXTVAL INTO :A FROM Dual;\r\n\r\n  INSERT INTO T\r\n  (A, B)\r\nVALUES\r\n"
        "  (:A, :B);\r\nend;",
        old.GenerateSQL(stInsert, true, &params));
    EXPECT_EQ((std::vector<std::string>{"A", "A", "B"}), Names(params));
    q->Cancel();
}

}  // namespace
