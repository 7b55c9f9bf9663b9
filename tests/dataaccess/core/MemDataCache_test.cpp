// Cached updates of the record list: recording, rollback copies with blobs, apply with batches
// and retries, commit, cancel and revert.
#include <gtest/gtest.h>

#include <deque>

#include "tests/dataaccess/core/MemListFixture.h"

namespace dac {
namespace {

using rtl::Variant;
using test::ListData;

constexpr int kRaise = -1;

// Rows (ID, NAME, MEMO) 1..count with names "n<i>" and memos "m<i>", cached updates on.
struct Cached : ListData {
    explicit Cached(int count = 3) : ListData({{"ID", dtInteger}, {"NAME", dtString, 20}, {"MEMO", dtMemo}}) {
        Open();
        for (int i = 1; i <= count; ++i) Append({i, "n" + std::to_string(i), "m" + std::to_string(i)});
        ChangeCachedUpdates(true);
    }
    std::string Name() { return Value(2).AsString(); }
    std::string Memo() { return Value(3).AsString(); }
    // The row's old values as GetOldRecord gives them.
    std::string OldValues(int id) {
        EXPECT_TRUE(Goto(id));
        void* rec = AllocRecBuf();
        GetOldRecord(rec);
        std::string s = Value(2, rec).AsString() + "/" + Value(3, rec).AsString();
        FreeRecBuf(rec);
        return s;
    }
    std::string Values(int id) {
        EXPECT_TRUE(Goto(id));
        return Name() + "/" + Memo();
    }
    std::vector<std::pair<int, int>> StatusAndResult() {
        std::vector<std::pair<int, int>> out;
        for (PItemHeader i : CachedItems())
            out.emplace_back(ItemHeader::Status(i), ItemHeader::UpdateResult(i));
        return out;
    }
};

// What the apply hook was given.
struct Sent {
    int kind;
    int id;
    std::string values, oldValues;
    bool last;
    bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Sent& s) {
    return os << "{" << s.kind << "," << s.id << "," << s.values << "," << s.oldValues << "," << s.last
              << "}";
}

// Answers the apply hook from a queue (kRaise raises) and records every call.
struct Hook {
    explicit Hook(Cached& d) : d_(d), new_(static_cast<size_t>(d.RecordSize())), old_(new_.size()) {
        d.SetCacheRecBuf(new_.data(), old_.data());
        d.OnApplyRecord = [this](int kind, int& action, bool last) {
            auto text = [this](void* rec) {
                return d_.Value(2, rec).AsString() + "/" + d_.Value(3, rec).AsString();
            };
            sent.push_back(
                {kind, d_.Value(1, new_.data()).AsInteger(), text(new_.data()), text(old_.data()), last});
            if (onCall) onCall();
            const int answer = answers.empty() ? urApplied : answers.front();
            if (!answers.empty()) answers.pop_front();
            if (answer == kRaise) throw rtl::Exception("apply failed");
            action = answer;
        };
    }
    void* NewValues() { return new_.data(); }

    std::deque<int> answers;
    std::vector<Sent> sent;
    std::function<void()> onCall;

private:
    Cached& d_;
    std::vector<uint8_t> new_, old_;
};

TEST(CachedUpdates, InsertChangeRevertRemovesTheRow) {
    Cached d;
    d.Append({4, "n4", "m4"});
    d.Edit(4, 2, "changed");
    EXPECT_EQ(d.StatusAndResult(), (std::vector<std::pair<int, int>>{{ItemInserted, urNone}}));
    ASSERT_TRUE(d.Goto(4));
    d.RevertRecord();
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(d.CachedItems().empty());
    EXPECT_FALSE(d.UpdatesPending());
}

TEST(CachedUpdates, ChangeTwiceThenRevertBringsBackTheFirstValuesBlobsIncluded) {
    Cached d;
    d.Edit(2, 3, "memo A");
    d.Edit(2, 2, "name A");
    d.Edit(2, 3, "memo B");
    EXPECT_EQ(d.Values(2), "name A/memo B");
    EXPECT_EQ(d.OldValues(2), "n2/m2");
    EXPECT_EQ(d.GetUpdateStatus(), ItemModified);
    EXPECT_EQ(d.OldValues(1), "n1/m1");  // an unchanged row is its own old record
    d.Goto(2);
    d.RevertRecord();
    EXPECT_EQ(d.Values(2), "n2/m2");
    EXPECT_EQ(d.GetUpdateStatus(), ItemUnmodified);
    EXPECT_EQ(d.GetUpdateResult(), urNone);
    // Pending changes with rollback copies are released when the storage closes.
    d.Edit(1, 3, "memo C");
    d.Edit(3, 3, "memo D");
    d.Close();
}

TEST(CachedUpdates, DeletingAModifiedRowDeletesItsOldValues) {
    Cached d;
    Hook hook(d);
    d.Edit(2, 2, "changed");
    d.Edit(2, 3, "changed memo");
    d.Delete(2);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 3}));
    d.ApplyUpdates();
    EXPECT_EQ(hook.sent, (std::vector<Sent>{{ukDelete, 2, "n2/m2", "n2/m2", true}}));
    d.SetFilterItemTypes(0x0F);
    EXPECT_EQ(d.Values(2), "n2/m2");
    d.RevertRecord();
    EXPECT_EQ(d.Values(2), "n2/m2");
    EXPECT_EQ(d.GetUpdateStatus(), ItemUnmodified);
}

TEST(CachedUpdates, ApplySendsEachKindWithItsValues) {
    Cached d;
    Hook hook(d);
    d.Edit(1, 2, "one");
    d.Append({4, "n4", "m4"});
    d.Delete(3);
    d.Edit(1, 3, "memo one");
    d.ApplyUpdates(akInserted);
    EXPECT_EQ(hook.sent, (std::vector<Sent>{{ukInsert, 4, "n4/m4", "n4/m4", false}}));
    EXPECT_TRUE(d.UpdatesPending());
    EXPECT_TRUE(d.HasUnappliedChanges());
    EXPECT_EQ(d.StatusAndResult(),
              (std::vector<std::pair<int, int>>{
                  {ItemModified, urNone}, {ItemInserted, urApplied}, {ItemDeleted, urNone}}));
    hook.sent.clear();
    d.ApplyUpdates(akModified | akDeleted);
    EXPECT_EQ(hook.sent, (std::vector<Sent>{{ukModify, 1, "one/memo one", "n1/m1", false},
                                            {ukDelete, 3, "n3/m3", "n3/m3", true}}));
    EXPECT_FALSE(d.UpdatesPending());
    d.CommitUpdates();
    EXPECT_TRUE(d.CachedItems().empty());
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(d.Values(1), "one/memo one");
    EXPECT_EQ(d.OldValues(1), "one/memo one");
}

TEST(CachedUpdates, InsertedRowsAloneAreNoUnappliedChanges) {
    Cached d;
    d.Append({4, "n4", "m4"});
    EXPECT_TRUE(d.UpdatesPending());
    EXPECT_FALSE(d.HasUnappliedChanges());
    Hook hook(d);
    d.ApplyUpdates();
    d.Edit(4, 2, "again");  // an applied insertion that changes again is modified
    EXPECT_EQ(d.StatusAndResult(), (std::vector<std::pair<int, int>>{{ItemModified, urNone}}));
    EXPECT_EQ(d.OldValues(4), "n4/m4");
    d.ResetUpdateResults();
    EXPECT_TRUE(d.HasUnappliedChanges());
}

TEST(CachedUpdates, DeferredBatchTakesTheClosingResult) {
    Cached d(4);
    Hook hook(d);
    for (int id = 1; id <= 4; ++id) d.Edit(id, 2, "x" + std::to_string(id));
    hook.answers = {urDeferred, urDeferred, urDeferred, urApplied};
    d.ApplyUpdates();
    for (const auto& sr : d.StatusAndResult()) EXPECT_EQ(sr.second, urApplied);
    EXPECT_EQ(hook.sent.size(), 4u);
    EXPECT_TRUE(hook.sent.back().last);
}

TEST(CachedUpdates, ABatchResultReachesOnlyTheRowsHandedOver) {
    Cached d;
    Hook hook(d);
    d.Append({4, "n4", "m4"});
    d.Edit(2, 2, "two");
    d.Append({5, "n5", "m5"});
    hook.answers = {urDeferred, urApplied};
    d.ApplyUpdates(akInserted);
    // The modified row between the two insertions was not applied and stays pending.
    EXPECT_EQ(d.StatusAndResult(),
              (std::vector<std::pair<int, int>>{
                  {ItemInserted, urApplied}, {ItemModified, urNone}, {ItemInserted, urApplied}}));
    d.CommitUpdates();  // applies the rest first
    EXPECT_EQ(hook.sent.back(), (Sent{ukModify, 2, "two/m2", "n2/m2", false}));
    EXPECT_TRUE(d.CachedItems().empty());
}

TEST(CachedUpdates, RetryRepeatsFromTheBatchStart) {
    Cached d;
    Hook hook(d);
    d.Edit(1, 2, "a");
    d.Edit(2, 2, "b");
    d.Edit(3, 2, "c");
    hook.answers = {urApplied, urDeferred, urRetry, urDeferred, urApplied, urSkip};
    d.ApplyUpdates();
    std::vector<int> order;
    for (const Sent& s : hook.sent) order.push_back(s.id);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 2, 3}));
    EXPECT_EQ(d.StatusAndResult(),
              (std::vector<std::pair<int, int>>{
                  {ItemModified, urApplied}, {ItemModified, urApplied}, {ItemModified, urApplied}}));
}

TEST(CachedUpdates, AFailedApplyStopsAtTheRowAndCommitKeepsIt) {
    Cached d(4);
    Hook hook(d);
    for (int id = 1; id <= 4; ++id) d.Edit(id, 2, "x" + std::to_string(id));
    d.Goto(4);
    hook.answers = {urApplied, kRaise};
    EXPECT_THROW(d.ApplyUpdates(), rtl::Exception);
    EXPECT_EQ(d.Value(1).AsInteger(), 2);  // the failed row is current
    EXPECT_EQ(d.StatusAndResult(), (std::vector<std::pair<int, int>>{{ItemModified, urApplied},
                                                                     {ItemModified, urFail},
                                                                     {ItemModified, urNone},
                                                                     {ItemModified, urNone}}));
    hook.answers = {urSkip, urApplied, urApplied};
    d.CommitUpdates();
    EXPECT_EQ(d.StatusAndResult(), (std::vector<std::pair<int, int>>{{ItemModified, urSkip}}));
    EXPECT_EQ(d.OldValues(2), "n2/m2");
    EXPECT_EQ(d.OldValues(3), "x3/m3");
}

TEST(CachedUpdates, AFailureInsideABatchFailsTheBatch) {
    Cached d;
    Hook hook(d);
    d.Edit(1, 2, "a");
    d.Edit(2, 2, "b");
    hook.answers = {urDeferred, kRaise};
    EXPECT_THROW(d.ApplyUpdates(), rtl::Exception);
    EXPECT_EQ(d.StatusAndResult(),
              (std::vector<std::pair<int, int>>{{ItemModified, urFail}, {ItemModified, urFail}}));
}

TEST(CachedUpdates, ValuesTheHookFillsInAreKeptAndSorted) {
    Cached d;
    d.ChangeIndexFieldNames("NAME");
    Hook hook(d);
    d.Append({4, "n0", "m4"});
    EXPECT_EQ(d.Ids(), (std::vector<int>{4, 1, 2, 3}));
    hook.onCall = [&] {
        const char name[] = "n9";
        d.PutField(2, hook.NewValues(), name);
    };
    d.ApplyUpdates();
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(d.Values(4), "n9/m4");
}

TEST(CachedUpdates, CancelPutsSortedRowsBack) {
    Cached d(5);
    d.ChangeIndexFieldNames("NAME DESC");
    EXPECT_EQ(d.Ids(), (std::vector<int>{5, 4, 3, 2, 1}));
    d.Edit(5, 2, "a");
    d.Edit(1, 2, "z");
    d.Edit(3, 2, "n0");
    d.Delete(2);
    d.Append({6, "n35", "m6"});
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 4, 6, 3, 5}));
    int cancels = 0, reverts = 0;
    d.OnCancelUpdates = [&] { ++cancels; };
    d.OnRevertRecord = [&] { ++reverts; };
    d.CancelUpdates();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(reverts, 5);
    EXPECT_EQ(d.Ids(), (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_TRUE(d.CachedItems().empty());
}

TEST(CachedUpdates, DeletedRowsShownByTheirStatusStayCounted) {
    Cached d;
    d.SetFilterItemTypes(0x0F);
    d.Delete(2);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    d.Goto(2);
    EXPECT_EQ(d.GetUpdateStatus(), ItemDeleted);
    d.RevertRecord();
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    d.SetFilterItemTypes(DefaultCachedItemTypes);
    d.Delete(3);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2}));
    d.SetToBegin();
    d.SetFilterItemTypes(0x0F);
    d.Goto(3);
    d.RevertRecord();
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    // A changed row deleted while deleted rows are shown keeps its record number.
    d.Edit(2, 2, "b");
    d.Delete(2);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(d.Values(2), "n2/m2");
}

TEST(CachedUpdates, AHookThatTakesChangesBackEndsTheWalkSafely) {
    Cached d(4);
    Hook hook(d);
    for (int id = 1; id <= 4; ++id) d.Edit(id, 2, "x" + std::to_string(id));
    d.Append({5, "n5", "m5"});
    // The hook reverts the row it is given (2), and the next one (3) as well.
    hook.onCall = [&] {
        const int id = d.Value(1).AsInteger();
        if (id == 2 || id == 5) {
            d.RevertRecord();
            if (id == 2 && d.Goto(3)) d.RevertRecord();
            d.Goto(id == 5 ? 1 : 2);
        }
    };
    d.ApplyUpdates();
    std::vector<int> order;
    for (const Sent& s : hook.sent) order.push_back(s.id);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(d.StatusAndResult(),
              (std::vector<std::pair<int, int>>{
                  {ItemModified, urApplied}, {ItemModified, urNone}, {ItemInserted, urNone}}));
    // What the walk left is applied by the next call.
    hook.onCall = nullptr;
    d.ApplyUpdates();
    EXPECT_FALSE(d.UpdatesPending());
}

TEST(CachedUpdates, AHookThatClosesTheStorageEndsTheWalk) {
    Cached d;
    Hook hook(d);
    d.Edit(1, 2, "a");
    d.Edit(2, 2, "b");
    bool after = false;
    d.OnAfterApplyUpdates = [&] { after = true; };
    hook.onCall = [&] { d.Close(); };
    d.ApplyUpdates();
    EXPECT_EQ(hook.sent.size(), 1u);
    EXPECT_FALSE(after);
    EXPECT_FALSE(d.Active());
}

TEST(CachedUpdates, WithoutLentBuffersTheStorageUsesItsOwn) {
    Cached d;
    d.Edit(1, 2, "a");
    std::vector<int> kinds;
    d.OnApplyRecord = [&](int kind, int& action, bool) {
        kinds.push_back(kind);
        EXPECT_EQ(d.Value(2, d.NewValuesBuffer).AsString(), "a");
        action = urApplied;
    };
    d.ApplyUpdates();
    EXPECT_EQ(kinds, (std::vector<int>{ukModify}));
    EXPECT_EQ(d.NewValuesBuffer, nullptr);
}

TEST(CachedUpdates, LocalUpdatesRecordNothing) {
    Cached d;
    d.LocalUpdate = true;
    d.Append({4, "n4", "m4"});
    d.Edit(1, 2, "a");
    d.Delete(2);
    EXPECT_TRUE(d.CachedItems().empty());
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 3, 4}));
    d.SetFilterItemTypes(0x0F);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 3, 4}));  // the deleted row is gone
}

TEST(CachedUpdates, SwitchingOffCancelsEveryChange) {
    Cached d;
    d.Edit(1, 2, "a");
    d.Delete(3);
    d.Append({4, "n4", "m4"});
    d.ChangeCachedUpdates(false);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(d.Values(1), "n1/m1");
    EXPECT_TRUE(d.CachedItems().empty());
    // Without cached updates the apply hooks run before the list changes.
    int inserts = 0;
    d.OnApplyInsert = [&] { ++inserts; };
    d.Append({5, "n5", "m5"});
    EXPECT_EQ(inserts, 1);
    EXPECT_TRUE(d.CachedItems().empty());
}

TEST(CachedUpdates, RemoveRecordTakesTheCachedChangeBackFirst) {
    Cached d;
    d.Append({4, "n4", "m4"});
    d.Edit(2, 2, "b");
    ASSERT_TRUE(d.Goto(4));
    d.RemoveRecord();  // an inserted row: gone with its entry, nothing else
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(d.Goto(2));
    d.RemoveRecord();
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(d.CachedItems().empty());
}

}  // namespace
}  // namespace dac
