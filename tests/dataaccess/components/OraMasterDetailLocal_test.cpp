// Master/detail by field pairs: the generated condition of the server way, the filter of the local
// way, new detail records with the master's values, a detail record moved to another master, and
// FilterSQL.
#include <gtest/gtest.h>

#include "DataSetFixture.h"

using namespace dac;

namespace {

class FieldPairsTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        dbExec(
            "CREATE TABLE orders(oid NUMBER(9,0), customer VARCHAR2(20));"
            "CREATE TABLE lines(oid NUMBER(9,0), n NUMBER(9,0), qty NUMBER(9,0));"
            "INSERT INTO orders VALUES (1, 'a'), (2, 'b'), (3, 'c');"
            "INSERT INTO lines VALUES (1, 1, 10), (1, 2, 11), (3, 1, 30);");
        session_ = newSession();
        master_ = newQuery(session_.get(), "SELECT oid, customer FROM orders ORDER BY oid");
        source_.SetDataSet(master_.get());
        detail_ = newQuery(session_.get(), "SELECT oid, n, qty FROM lines ORDER BY oid, n");
    }
    void TearDown() override {
        detail_.reset();
        source_.SetDataSet(nullptr);
        master_.reset();
        session_.reset();
        DataSetTest::TearDown();
    }
    void Link(bool local) {
        detail_->Options().SetLocalMasterDetail(local);
        detail_->SetMasterSource(&source_);
        detail_->SetMasterFields("OID;CUSTOMER");
        detail_->SetDetailFields("OID");
    }
    std::vector<int> DetailN() {
        detail_->First();
        return ReadIds(*detail_, "N");
    }
    std::unique_ptr<dac::TOraSession> session_;
    std::unique_ptr<TOraQuery> master_;
    db::TDataSource source_;
    std::unique_ptr<TOraQuery> detail_;
};

TEST_F(FieldPairsTest, TheServerWayAddsAConditionOfThePairsAndTheLocalWayFiltersInMemory) {
    for (bool local : {false, true}) {
        Link(local);
        master_->Open();
        detail_->Open();
        EXPECT_EQ(local ? "SELECT oid, n, qty FROM lines ORDER BY oid, n"
                        : "SELECT oid, n, qty FROM lines\rWHERE OID = :OID  ORDER BY oid, n",
                  detail_->GetFinalSQL())
            << local;
        EXPECT_EQ((std::vector<int>{1, 2}), DetailN()) << local;
        master_->Next();
        EXPECT_TRUE(DetailN().empty()) << local;
        master_->Next();
        EXPECT_EQ((std::vector<int>{1}), DetailN()) << local;
        EXPECT_EQ(30, detail_->FieldByName("QTY")->AsInteger()) << local;
        detail_->Close();
        master_->Close();
        detail_->SetMasterSource(nullptr);
    }
}

TEST_F(FieldPairsTest, QuotedNamesQuoteBothSidesOfTheCondition) {
    detail_->Options().SetQuoteNames(true);
    Link(false);
    master_->Open();
    detail_->Open();
    EXPECT_EQ("SELECT oid, n, qty FROM lines\rWHERE \"OID\" = :\"OID\"  ORDER BY oid, n",
              detail_->GetFinalSQL());
    EXPECT_EQ((std::vector<int>{1, 2}), DetailN());
}

TEST_F(FieldPairsTest, AMasterWithoutRowsFiltersEveryLocalDetailRowOut) {
    dbExec("DELETE FROM orders;");
    Link(true);
    master_->Open();
    detail_->Open();
    EXPECT_TRUE(DetailN().empty());
}

TEST_F(FieldPairsTest, ANewDetailRecordTakesTheMastersValues) {
    Link(false);
    master_->Open();
    master_->Next();
    master_->Next();
    detail_->Open();
    detail_->SetKeyFields("OID;N");
    detail_->Append();
    EXPECT_EQ(3, detail_->FieldByName("OID")->AsInteger());
    detail_->FieldByName("N")->SetAsInteger(2);
    detail_->Post();
    EXPECT_EQ((std::vector<std::string>{"2"}), dbTexts("SELECT count(*) FROM lines WHERE oid = 3"));
}

TEST_F(FieldPairsTest, APostedDetailRecordOfAnotherMasterLeavesTheDetail) {
    Link(false);
    master_->Open();
    detail_->SetKeyFields("OID;N");
    detail_->Open();
    ASSERT_EQ((std::vector<int>{1, 2}), DetailN());
    detail_->First();
    detail_->Edit();
    detail_->FieldByName("OID")->SetAsInteger(3);
    detail_->Post();
    EXPECT_EQ((std::vector<int>{2}), DetailN());
    EXPECT_EQ((std::vector<std::string>{"3"}), dbTexts("SELECT oid FROM lines WHERE n = 1 AND qty = 10"));
}

TEST_F(FieldPairsTest, FilterSQLNarrowsTheRowsAndAFailedReopenKeepsTheOldCondition) {
    detail_->Open();
    detail_->SetFilterSQL("  qty > 10 ");
    EXPECT_EQ("qty > 10", detail_->FilterSQL());
    EXPECT_TRUE(detail_->Active());
    EXPECT_EQ((std::vector<int>{2, 1}), DetailN());
    EXPECT_NE("(nothing raised)", ErrorText([&] { detail_->SetFilterSQL("no_such_column = 1"); }));
    EXPECT_EQ("qty > 10", detail_->FilterSQL());
    detail_->Open();
    EXPECT_EQ((std::vector<int>{2, 1}), DetailN());
}

}  // namespace
