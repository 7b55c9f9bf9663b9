// A detail dataset following its master through the detail data link.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/Threads.h"

using namespace dac;

class MasterDetailTest : public DataSetTest {
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
        master_->SetLocalUpdate(true);
        source_.SetDataSet(master_.get());
        detail_ = newQuery(session_.get(), "SELECT n, qty FROM lines WHERE oid = :OID ORDER BY n");
        detail_->SetMasterSource(&source_);
    }
    void TearDown() override {
        detail_.reset();
        source_.SetDataSet(nullptr);
        master_.reset();
        session_.reset();
        DataSetTest::TearDown();
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

TEST_F(MasterDetailTest, ScrollingTheMasterRefreshesAnOpenDetail) {
    master_->Open();
    detail_->Open();
    EXPECT_EQ((std::vector<int>{1, 2}), DetailN());
    master_->Next();
    EXPECT_EQ(2, detail_->ParamByName("OID")->AsInteger());
    EXPECT_TRUE(DetailN().empty());
    master_->Next();
    EXPECT_EQ((std::vector<int>{1}), DetailN());
    EXPECT_EQ(30, detail_->FieldByName("QTY")->AsInteger());
}

TEST_F(MasterDetailTest, AClosedDetailIgnoresTheMaster) {
    master_->Open();
    detail_->ParamByName("OID")->SetAsInteger(99);
    master_->Next();
    EXPECT_FALSE(detail_->Active());
    EXPECT_EQ(99, detail_->ParamByName("OID")->AsInteger());
}

TEST_F(MasterDetailTest, EditingAMasterRecordBeingInsertedDoesNotRefreshTheDetail) {
    master_->Open();
    detail_->Open();
    int refreshes = 0;
    detail_->AfterRefresh = [&](db::TDataSet*) { ++refreshes; };
    master_->Append();
    const int afterInsert = refreshes;
    master_->FieldByName("OID")->SetAsInteger(3);
    EXPECT_EQ(afterInsert, refreshes) << "a field of an inserted master record";
    master_->Cancel();
    master_->First();
    EXPECT_EQ((std::vector<int>{1, 2}), DetailN());
}

TEST_F(MasterDetailTest, ACircularLinkIsRefused) {
    db::TDataSource detailSource;
    detailSource.SetDataSet(detail_.get());
    EXPECT_EQ("Circular datalinks are not allowed",
              ErrorText([&] { master_->SetMasterSource(&detailSource); }));
    EXPECT_EQ(nullptr, master_->MasterSource());
    detailSource.SetDataSet(nullptr);
}

TEST_F(MasterDetailTest, TheLinkNamesItsDetail) {
    EXPECT_EQ(detail_.get(), detail_->DataLink()->GetDetailDataSet());
    EXPECT_EQ(&source_, detail_->GetDataSource());
}

TEST_F(MasterDetailTest, WithADetailDelaySeveralScrollsRefreshTheDetailOnceWhenTheQueueIsPumped) {
    detail_->Options().SetDetailDelay(100);
    master_->Open();
    detail_->Open();
    int refreshes = 0;
    detail_->AfterRefresh = [&](db::TDataSet*) { ++refreshes; };
    master_->Next();
    master_->Next();
    master_->Prior();
    master_->Next();
    EXPECT_EQ(0, refreshes) << "nothing before the delay has passed";
    EXPECT_TRUE(detail_->DetailTimer()->Armed());
    for (int i = 0; i < 40 && refreshes == 0; ++i) rtl::WaitAndProcessMessages(50);
    EXPECT_EQ(1, refreshes);
    EXPECT_FALSE(detail_->DetailTimer()->Armed()) << "stopped by the refresh";
    EXPECT_EQ(3, detail_->ParamByName("OID")->AsInteger());
    EXPECT_EQ((std::vector<int>{1}), DetailN());
    // Nothing more fires without a further change.
    rtl::WaitAndProcessMessages(250);
    EXPECT_EQ(1, refreshes);
    // Closing stops a pending refresh.
    master_->Prior();
    EXPECT_TRUE(detail_->DetailTimer()->Armed());
    detail_->Close();
    EXPECT_FALSE(detail_->DetailTimer()->Armed());
}
