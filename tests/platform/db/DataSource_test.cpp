#include <gtest/gtest.h>

#include "tests/platform/db/TestDataSet.h"

using namespace db;
using namespace dbtest;
using rtl::Variant;

namespace {

// Writes what the link hears into a log.
class TLogLink : public TDataLink {
public:
    std::vector<std::string> log;

protected:
    void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
    void EditingChanged() override { log.push_back(Editing() ? "editing" : "browsing"); }
    void DataSetChanged() override { log.push_back("changed"); }
    void DataSetScrolled(int distance) override { log.push_back("scrolled " + std::to_string(distance)); }
    void RecordChanged(TField* field) override {
        log.push_back("record " + (field ? field->FieldName() : "*"));
    }
    void CheckBrowseMode() override { log.push_back("check"); }
    void UpdateData() override { log.push_back("update"); }
};

class TDetail : public TTestDataSet {
public:
    using TTestDataSet::TTestDataSet;
    TDataSource* masterSource = nullptr;
    TDataSource* GetDataSource() const override { return masterSource; }
};

TEST(DataLinks, LinksFollowTheDataSet) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}, {"NAME", ftString, 8}};
    TDataSource src;
    TLogLink link;
    link.SetDataSource(&src);
    src.SetDataSet(&ds);
    EXPECT_FALSE(link.Active());
    ds.Open();
    EXPECT_TRUE(link.Active());
    EXPECT_EQ(link.DataSet(), &ds);
    ds.AppendRecord({Variant(1), Variant("a")});
    ds.AppendRecord({Variant(2), Variant("b")});
    ds.First();
    link.log.clear();

    ds.Next();
    EXPECT_EQ(link.log, (std::vector<std::string>{"check", "scrolled 1"}));
    link.log.clear();
    ds.Edit();
    EXPECT_TRUE(link.Editing());
    ds.FieldByName("NAME")->SetAsString("c");
    ds.Post();
    EXPECT_EQ(link.log, (std::vector<std::string>{"check", "editing", "record *", "record NAME", "update",
                                                  "check", "browsing", "changed"}));
    link.log.clear();
    ds.Close();
    EXPECT_EQ(link.log, (std::vector<std::string>{"inactive"}));
    EXPECT_FALSE(link.Active());

    // A disabled source is inactive for its links.
    ds.Open();
    EXPECT_TRUE(link.Active());
    src.SetEnabled(false);
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(src.State(), dsInactive);
}

TEST(DataLinks, SourcesForgetFreedDataSetsAndLinksForgetFreedSources) {
    TLogLink link;
    {
        TDataSource src;
        link.SetDataSource(&src);
        {
            TTestDataSet ds;
            ds.columns = {{"ID", ftInteger}};
            src.SetDataSet(&ds);
            ds.Open();
            EXPECT_TRUE(link.Active());
        }
        EXPECT_EQ(src.DataSet(), nullptr);
        EXPECT_FALSE(link.Active());
    }
    EXPECT_EQ(link.DataSource(), nullptr);
}

TEST(DataLinks, CircularLinksAreRefused) {
    TTestDataSet master;
    TDetail detail;
    TDataSource masterSrc, detailSrc;
    masterSrc.SetDataSet(&master);
    detail.masterSource = &masterSrc;
    detailSrc.SetName("DetailSource");
    detailSrc.SetDataSet(&detail);
    EXPECT_TRUE(detailSrc.IsLinkedTo(&master));
    EXPECT_TRUE(detail.IsLinkedTo(&masterSrc));
    // The master cannot follow the detail's source: that closes the circle.
    TDetail loop;
    loop.masterSource = &detailSrc;
    try {
        masterSrc.SetDataSet(&loop);
        FAIL();
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Circular datalinks are not allowed");
    }
    EXPECT_EQ(masterSrc.DataSet(), &master);
}

TEST(DataLinks, MasterLinkTellsTheDetailWhenTheMasterMoves) {
    TTestDataSet master;
    master.columns = {{"ID", ftInteger}, {"NAME", ftString, 8}};
    master.Open();
    master.AppendRecord({Variant(1), Variant("a")});
    master.AppendRecord({Variant(2), Variant("b")});
    master.First();
    TDataSource src;
    src.SetDataSet(&master);
    TTestDataSet detail;
    TMasterDataLink link(&detail);
    std::vector<std::string> heard;
    link.OnMasterChange = [&](TDataSet* d) {
        EXPECT_EQ(d, &detail);
        heard.push_back("change");
    };
    link.OnMasterDisable = [&](TDataSet*) { heard.push_back("disable"); };
    link.SetDataSource(&src);
    link.SetFieldNames("ID");
    ASSERT_EQ(link.Fields().size(), 1u);
    EXPECT_EQ(link.Fields()[0], master.FieldByName("ID"));
    EXPECT_EQ(link.GetDetailDataSet(), &detail);
    heard.clear();

    master.Next();
    EXPECT_EQ(heard, (std::vector<std::string>{"change"}));
    heard.clear();
    // Edits are heard after posting, and only changes of the master fields.
    master.Edit();
    master.FieldByName("NAME")->SetAsString("x");
    master.FieldByName("ID")->SetAsInteger(5);
    EXPECT_TRUE(heard.empty());
    master.Post();
    EXPECT_EQ(heard, (std::vector<std::string>{"change"}));
    heard.clear();
    master.Close();
    EXPECT_EQ(heard, (std::vector<std::string>{"disable"}));
    EXPECT_TRUE(link.Fields().empty());
}

}  // namespace
