// The dataset over record storage: inserting, editing, posting, cancelling and deleting records
// against the storage and its updater; cached updates applied, committed, cancelled and
// reverted; the per-record apply step with its events.
#include <gtest/gtest.h>

#include "tests/dataaccess/core/MemDSFixture.h"

namespace dac {
namespace {

using rtl::Null;
using rtl::Variant;
using test::Column;
using test::ColumnValues;
using test::CountingUpdater;
using test::FakeDataSet;
using test::Row;
using test::Strings;

// ID, NAME and a memo NOTE; rows 1..3.
struct Editing : ::testing::Test {
    void SetUp() override {
        ds.SetName("Q");
        ds.SetData({{"ID", dtInteger}, {"NAME", dtString, 20}, {"NOTE", dtMemo}},
                   {{Variant(1), Variant("one"), Variant("note 1")},
                    {Variant(2), Variant("two"), Null()},
                    {Variant(3), Variant("three"), Variant("note 3")}});
    }
    void OpenCached() {
        ds.SetCachedUpdates(true);
        ds.Open();
    }
    db::TField* F(const char* name) { return ds.FieldByName(name); }
    // Edits NAME of the current row and posts it.
    void PostName(const char* name) {
        ds.Edit();
        F("NAME")->SetAsString(name);
        ds.Post();
    }
    std::vector<std::string> Ids() { return ColumnValues(ds, "ID"); }
    // Every row of the storage with its update status, shown or not.
    std::vector<std::string> Statuses() {
        std::vector<std::string> out;
        auto& rs = ds.RecordSet();
        for (PItemHeader i = rs.FirstItem; i; i = ItemHeader::Next(i)) {
            Variant id;
            rs.GetFieldAsVariant(1, rs.ItemRecord(i), id);
            out.push_back(rtl::VarToStr(id) + ":" + std::to_string(ItemHeader::Status(i)));
        }
        return out;
    }
    FakeDataSet ds;
};

// ---------------------------------------------------------------------------------------------
// Posting without cached updates

TEST_F(Editing, APostedEditReachesTheStorageThroughTheUpdater) {
    ds.Open();
    ds.Next();
    ds.Edit();
    EXPECT_EQ(ds.State(), db::dsEdit);
    F("NAME")->SetAsString("TWO");
    ds.Post();
    EXPECT_EQ(ds.State(), db::dsBrowse);
    EXPECT_EQ(ds.Updater().Updates, 1);
    EXPECT_EQ(F("NAME")->AsString(), "TWO");
    EXPECT_EQ(ds.RecordSet().CurrentValues()[1].AsString(), "TWO");
    EXPECT_EQ(ds.UpdateStatus(), db::usUnmodified);
    EXPECT_FALSE(ds.Modified());
}

TEST_F(Editing, InsertGoesBeforeTheCurrentRowAndAppendToTheEnd) {
    ds.Open();
    ds.Next();
    ds.Insert();
    EXPECT_EQ(ds.State(), db::dsInsert);
    F("ID")->SetAsInteger(10);
    F("NAME")->SetAsString("ten");
    ds.Post();
    EXPECT_EQ(F("ID")->AsInteger(), 10);
    EXPECT_EQ(ds.RecNo(), 2);
    ds.Append();
    F("ID")->SetAsInteger(20);
    ds.Post();
    EXPECT_EQ(Ids(), Strings({"1", "10", "2", "3", "20"}));
    EXPECT_EQ(ds.Updater().Inserts, 2);
    EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(Editing, InsertIntoAnEmptyDatasetAndDeleteTheOnlyRow) {
    ds.Command().Rows.clear();
    ds.Open();
    ds.Insert();
    F("ID")->SetAsInteger(7);
    ds.Post();
    EXPECT_EQ(Ids(), Strings({"7"}));
    ds.Delete();
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.Updater().Deletes, 1);
}

TEST_F(Editing, CancelTakesBackAnEditAndDropsAnInsert) {
    ds.Open();
    ds.Edit();
    F("NAME")->SetAsString("changed");
    F("NOTE")->SetAsString("new note");
    ds.Cancel();
    EXPECT_EQ(F("NAME")->AsString(), "one");
    EXPECT_EQ(F("NOTE")->AsString(), "note 1");
    ds.Insert();
    F("ID")->SetAsInteger(9);
    F("NOTE")->SetAsString("abandoned");
    ds.Cancel();
    EXPECT_EQ(Ids(), Strings({"1", "2", "3"}));
    EXPECT_EQ(ds.Updater().Inserts + ds.Updater().Updates, 0);
}

TEST_F(Editing, AMemoWrittenDuringAnEditIsPostedWithTheRow) {
    ds.Open();
    ds.Next();
    EXPECT_TRUE(F("NOTE")->IsNull());
    ds.Edit();
    F("NOTE")->SetAsString("a note for two");
    bool markedModified = false;
    ds.Updater().OnPerform = [&] { markedModified = static_cast<db::TBlobField*>(F("NOTE"))->Modified(); };
    ds.Post();
    EXPECT_TRUE(markedModified);
    EXPECT_EQ(F("NOTE")->AsString(), "a note for two");
    ds.First();
    ds.Next();
    EXPECT_EQ(F("NOTE")->AsString(), "a note for two");
}

TEST_F(Editing, AFailingUpdaterLeavesTheEditOpenAndTheRowUnchanged) {
    ds.Open();
    ds.Edit();
    F("NAME")->SetAsString("bad");
    ds.Updater().FailWith = "ORA-00001: unique constraint violated";
    EXPECT_THROW(ds.Post(), rtl::EDatabaseError);
    EXPECT_EQ(ds.State(), db::dsEdit);
    EXPECT_TRUE(ds.Modified());
    ds.Cancel();
    EXPECT_EQ(F("NAME")->AsString(), "one");
}

TEST_F(Editing, LocalUpdateKeepsChangesFromTheUpdater) {
    ds.SetLocalUpdate(true);
    ds.Open();
    PostName("local");
    ds.Delete();
    ds.Append();
    F("ID")->SetAsInteger(4);
    ds.Post();
    EXPECT_EQ(ds.Updater().Updates + ds.Updater().Deletes + ds.Updater().Inserts, 0);
    EXPECT_EQ(Ids(), Strings({"2", "3", "4"}));
}

TEST_F(Editing, DeletingFromAReadOnlyDatasetIsRefused) {
    ds.Open();
    ds.ReadOnlyData = true;
    try {
        ds.Delete();
        FAIL() << "deleted";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Cannot modify a read-only dataset");
    }
    EXPECT_EQ(Ids().size(), 3u);
}

TEST_F(Editing, RequiredColumnsAreCheckedWithLocalConstraints) {
    Column id{"ID", dtInteger};
    id.Required = true;
    ds.Command().Columns[0] = id;
    ds.Open();
    ds.Append();
    F("NAME")->SetAsString("no id");
    EXPECT_THROW(ds.Post(), rtl::EDatabaseError);
    ds.Cancel();

    FakeDataSet loose;
    loose.SetLocalConstraints(false);
    loose.SetData({id}, {});
    loose.Open();
    loose.Append();
    loose.Post();
    EXPECT_EQ(loose.RecordCount(), 1);
}

TEST_F(Editing, AnOnNewRecordErrorCancelsTheNewRecord) {
    ds.Open();
    ds.OnNewRecord = [](db::TDataSet*) { throw rtl::Exception("no new records"); };
    EXPECT_THROW(ds.Insert(), rtl::Exception);
    EXPECT_EQ(ds.State(), db::dsBrowse);
    EXPECT_EQ(Ids(), Strings({"1", "2", "3"}));
}

TEST_F(Editing, DefaultExpressionsLoseOneLevelOfQuotes) {
    ds.Open();
    F("NAME")->SetDefaultExpression("'ABC'");
    F("ID")->SetDefaultExpression("42");
    ds.Append();
    EXPECT_EQ(F("NAME")->AsString(), "ABC");
    EXPECT_EQ(F("ID")->AsInteger(), 42);
    ds.Cancel();
}

TEST_F(Editing, TheOldValueOfANewRecordIsNullAndOfAnEditedOneTheStoredValue) {
    ds.Open();
    ds.Edit();
    F("NAME")->SetAsString("new name");
    EXPECT_EQ(F("NAME")->OldValue().AsString(), "one");
    EXPECT_EQ(F("NAME")->NewValue().AsString(), "new name");
    ds.Cancel();
    ds.Insert();
    F("NAME")->SetAsString("x");
    EXPECT_TRUE(F("NAME")->OldValue().IsNull());
    ds.Cancel();
}

TEST_F(Editing, ADeferredPostHandsTheRecordToTheUpdaterWithItsOldValues) {
    ds.Open();
    ds.Edit();
    F("NAME")->SetAsString("deferred");
    std::string oldName;
    ds.Updater().OnPerform = [&] {
        EXPECT_TRUE(ds.InDeferredPost());
        bool blank = true;
        char text[32] = {};
        ds.GetIRecordSet()->GetField(2, ds.DeferredPostOldBuffer(), text, blank);
        oldName = text;
    };
    ds.PerformDeferredPost();
    EXPECT_EQ(ds.Updater().Updates, 1);
    EXPECT_EQ(oldName, "one");
    EXPECT_FALSE(ds.InDeferredPost());
    ds.Cancel();
}

// ---------------------------------------------------------------------------------------------
// Cached updates

TEST_F(Editing, CachedChangesStayInMemoryUntilApplied) {
    OpenCached();
    PostName("ONE");
    EXPECT_EQ(ds.UpdateStatus(), db::usModified);
    ds.Append();
    F("ID")->SetAsInteger(4);
    ds.Post();
    EXPECT_EQ(ds.UpdateStatus(), db::usInserted);
    ds.First();
    ds.Next();
    ds.Delete();
    EXPECT_EQ(Ids(), Strings({"1", "3", "4"}));
    EXPECT_EQ(Statuses(), Strings({"1:1", "2:3", "3:0", "4:2"}));
    EXPECT_EQ(ds.Updater().Updates + ds.Updater().Inserts + ds.Updater().Deletes, 0);
    EXPECT_TRUE(ds.UpdatesPending());

    ds.ApplyUpdates();
    EXPECT_EQ(ds.Updater().Updates, 1);
    EXPECT_EQ(ds.Updater().Inserts, 1);
    EXPECT_EQ(ds.Updater().Deletes, 1);
    EXPECT_EQ(ds.Updater().AfterApplies, 1);
    ds.First();
    EXPECT_EQ(ds.UpdateResult(), db::uaApplied);
    EXPECT_FALSE(ds.InCacheApply());
    EXPECT_EQ(ds.NewCacheBuffer(), nullptr);

    ds.CommitUpdates();
    EXPECT_EQ(Statuses(), Strings({"1:0", "3:0", "4:0"}));
    EXPECT_EQ(ds.UpdateStatus(), db::usUnmodified);
    EXPECT_FALSE(ds.UpdatesPending());
}

TEST_F(Editing, ApplyingOnlySomeKindsLeavesTheOthersPending) {
    OpenCached();
    PostName("ONE");
    ds.Last();
    ds.Delete();
    ds.ApplyUpdates(TUpdateRecordKinds{db::rtDeleted});
    EXPECT_EQ(ds.Updater().Deletes, 1);
    EXPECT_EQ(ds.Updater().Updates, 0);
    EXPECT_TRUE(ds.UpdatesPending());
}

TEST_F(Editing, ApplyUpdatesPostsAPendingEditFirst) {
    OpenCached();
    ds.Edit();
    F("NAME")->SetAsString("pending");
    ds.ApplyUpdates();
    EXPECT_EQ(ds.State(), db::dsBrowse);
    EXPECT_EQ(ds.Updater().Updates, 1);
    EXPECT_EQ(F("NAME")->AsString(), "pending");
}

TEST_F(Editing, RevertRecordTakesBackTheCurrentChangeAndCancelsAnInsertFirst) {
    OpenCached();
    ds.Edit();
    F("NAME")->SetAsString("ONE");
    F("NOTE")->SetAsString("changed note");
    ds.Post();
    ds.RevertRecord();
    EXPECT_EQ(F("NAME")->AsString(), "one");
    EXPECT_EQ(F("NOTE")->AsString(), "note 1");
    EXPECT_EQ(ds.UpdateStatus(), db::usUnmodified);
    EXPECT_EQ(ds.Updater().Reverts, 1);
    ds.Insert();
    F("ID")->SetAsInteger(5);
    ds.RevertRecord();
    EXPECT_EQ(ds.State(), db::dsBrowse);
    EXPECT_EQ(Ids(), Strings({"1", "2", "3"}));
}

TEST_F(Editing, CancelUpdatesTakesBackEveryChange) {
    OpenCached();
    PostName("ONE");
    ds.Last();
    ds.Delete();
    ds.Append();
    F("ID")->SetAsInteger(9);
    ds.CancelUpdates();
    EXPECT_EQ(Ids(), Strings({"1", "2", "3"}));
    EXPECT_EQ(Statuses(), Strings({"1:0", "2:0", "3:0"}));
    ds.First();
    EXPECT_EQ(F("NAME")->AsString(), "one");
    EXPECT_EQ(ds.Updater().Cancels, 1);
}

TEST_F(Editing, CachedUpdateOperationsNeedCachedUpdatesAndTheSwitchNeedsAClosedDataset) {
    ds.Open();
    for (auto op :
         std::vector<std::function<void()>>{[&] { ds.ApplyUpdates(); }, [&] { ds.CommitUpdates(); },
                                            [&] { ds.RevertRecord(); }, [&] { ds.CancelUpdates(); }}) {
        try {
            op();
            FAIL() << "ran without cached updates";
        } catch (rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "Q: Not in cached update mode");
        }
    }
    EXPECT_THROW(ds.SetCachedUpdates(true), rtl::EDatabaseError);
    EXPECT_FALSE(ds.CachedUpdates());
    ds.Close();
    ds.SetCachedUpdates(true);
    EXPECT_TRUE(ds.GetIRecordSet()->CachedUpdates);
}

TEST_F(Editing, AssignCopiesTheUpdateSettings) {
    ds.SetCachedUpdates(true);
    ds.SetLocalUpdate(true);
    ds.SetLocalConstraints(false);
    FakeDataSet other;
    other.Assign(&ds);
    EXPECT_TRUE(other.CachedUpdates());
    EXPECT_TRUE(other.LocalUpdate());
    EXPECT_FALSE(other.LocalConstraints());
    EXPECT_TRUE(other.GetIRecordSet()->LocalUpdate);
}

// ---------------------------------------------------------------------------------------------
// The apply step of one cached change

struct ApplyRecord : Editing {
    void SetUp() override {
        Editing::SetUp();
        OpenCached();
        PostName("ONE");
        ds.Next();
        PostName("TWO");
    }
    // The update results of the first two rows after applying.
    std::vector<int> Results() {
        std::vector<int> out;
        ds.First();
        out.push_back(ds.UpdateResult());
        ds.Next();
        out.push_back(ds.UpdateResult());
        return out;
    }
};

TEST_F(ApplyRecord, AHandlerThatSkipsPerformsNothingAndReportsSkip) {
    ds.OnUpdateRecord = [](db::TDataSet*, db::TUpdateKind, db::TUpdateAction& a) { a = db::uaSkip; };
    ds.ApplyUpdates();
    EXPECT_EQ(ds.Updater().Updates, 0);
    EXPECT_EQ(Results(), (std::vector<int>{db::uaSkip, db::uaSkip}));
}

TEST_F(ApplyRecord, AHandlerAskingForTheDefaultPerformsTheChange) {
    std::vector<std::string> seen;
    ds.OnUpdateRecord = [&](db::TDataSet* d, db::TUpdateKind kind, db::TUpdateAction& a) {
        EXPECT_EQ(kind, db::ukModify);
        db::TField* name = d->FieldByName("NAME");
        seen.push_back(name->OldValue().AsString() + ">" + name->NewValue().AsString() + "=" +
                       name->AsString());
        a = static_cast<db::TUpdateAction>(uaDefault);
    };
    ds.ApplyUpdates();
    EXPECT_EQ(ds.Updater().Updates, 2);
    EXPECT_EQ(seen, Strings({"one>ONE=ONE", "two>TWO=TWO"}));
    EXPECT_EQ(Results(), (std::vector<int>{db::uaApplied, db::uaApplied}));
}

TEST_F(ApplyRecord, AHandlerLeavingFailRaisesUpdateFailedUnlessTheErrorHandlerTakesIt) {
    ds.OnUpdateRecord = [](db::TDataSet*, db::TUpdateKind, db::TUpdateAction&) {};
    try {
        ds.ApplyUpdates();
        FAIL() << "applied";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Update failed");
    }
    EXPECT_FALSE(ds.InCacheApply());
    EXPECT_EQ(ds.State(), db::dsBrowse);

    std::vector<std::string> errors;
    ds.OnUpdateError = [&](db::TDataSet*, rtl::EDatabaseError& e, db::TUpdateKind, db::TUpdateAction& a) {
        errors.push_back(e.Message());
        a = db::uaSkip;
    };
    ds.ApplyUpdates();
    EXPECT_EQ(errors, Strings({"Update failed", "Update failed"}));
    EXPECT_EQ(Results(), (std::vector<int>{db::uaSkip, db::uaSkip}));
}

TEST_F(ApplyRecord, AnUpdaterErrorGoesToTheErrorHandler) {
    ds.Updater().FailWith = "ORA-00060: deadlock detected";
    std::vector<std::string> errors;
    ds.OnUpdateError = [&](db::TDataSet*, rtl::EDatabaseError& e, db::TUpdateKind kind,
                           db::TUpdateAction& a) {
        EXPECT_EQ(kind, db::ukModify);
        errors.push_back(e.Message());
        a = db::uaFail;
    };
    EXPECT_THROW(ds.ApplyUpdates(), rtl::EDatabaseError);
    EXPECT_EQ(errors, Strings({"ORA-00060: deadlock detected"}));
    ds.First();
    EXPECT_EQ(ds.UpdateResult(), db::uaFail);
}

TEST_F(ApplyRecord, AbortEndsTheApplySilently) {
    ds.OnUpdateRecord = [](db::TDataSet*, db::TUpdateKind, db::TUpdateAction& a) { a = db::uaAbort; };
    EXPECT_THROW(ds.ApplyUpdates(), rtl::EAbort);
    EXPECT_EQ(ds.Updater().Updates, 0);
    EXPECT_FALSE(ds.InCacheApply());
}

TEST_F(ApplyRecord, BatchedChangesWaitUntilTheBatchIsFullOrTheLastChange) {
    ds.Updater().BatchSize = 5;
    std::vector<int> actions;
    ds.GetIRecordSet()->OnApplyRecord = [&](int kind, int& action, bool last) {
        ds.Updater().ApplyRecord(kind, action, last);
        actions.push_back(action);
    };
    ds.ApplyUpdates();
    EXPECT_EQ(actions, (std::vector<int>{uaDeferred, db::uaApplied}));
    EXPECT_EQ(ds.Updater().Flushes, 1);
    EXPECT_EQ(Results(), (std::vector<int>{db::uaApplied, db::uaApplied}));
}

TEST_F(ApplyRecord, TheModifiedFlagSurvivesTheApplyStep) {
    int action = db::uaFail;
    ds.Edit();
    F("NAME")->SetAsString("editing");
    ds.Updater().OnPerform = [&] { ds.SetModified(false); };
    ds.Updater().ApplyRecord(db::ukModify, action, true);
    EXPECT_TRUE(ds.Modified());
    EXPECT_EQ(action, db::uaApplied);
    ds.Cancel();
}

}  // namespace
}  // namespace dac
