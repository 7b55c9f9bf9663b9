// The in-memory record list and the driver record set, through the fake driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "tests/dataaccess/core/FakeDriver.h"

namespace dac {
namespace {

using fake::FakeRecordSet;
using rtl::Variant;

// An opened record set over count numbered rows, fetching fetchRows at a time (0: all).
std::unique_ptr<FakeRecordSet> OpenNumbered(int count, int fetchRows = 0, bool fetchAll = false) {
    auto rs = std::make_unique<FakeRecordSet>();
    fake::FillNumbered(*rs, count);
    rs->SetProp(prFetchRows, fetchRows);
    rs->SetProp(prFetchAll, fetchAll);
    rs->Open();
    return rs;
}

int CurrentId(FakeRecordSet& rs) {
    auto v = rs.CurrentValues();
    return v.empty() ? -1 : v[0].AsInteger();
}

// The ids of the rows held, in list order, and a check that the visible rows are numbered
// 1 .. RecordCount in that order.
std::vector<int> CheckedIds(FakeRecordSet& rs) {
    std::vector<int> ids;
    int expected = 1;
    for (PItemHeader i = rs.FirstItem; i; i = ItemHeader::Next(i)) {
        if (rs.IsFilteredOut(i)) continue;
        EXPECT_EQ(ItemHeader::Order(i) + rs.RecNoOffset(), expected) << "row " << ids.size();
        ++expected;
        Variant v;
        rs.GetFieldAsVariant(1, rs.ItemRecord(i), v);
        ids.push_back(v.AsInteger());
    }
    EXPECT_EQ(rs.GetRecordCount(), expected - 1);
    return ids;
}

std::vector<int> Iota(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

// Forward over every row with GetNextRecord, collecting ids and record numbers.
std::vector<std::pair<int, int>> WalkForward(FakeRecordSet& rs) {
    std::vector<std::pair<int, int>> seen;
    rs.SetToBegin();
    for (rs.GetNextRecord(nullptr); !rs.Eof(); rs.GetNextRecord(nullptr))
        seen.emplace_back(CurrentId(rs), rs.GetRecordNo());
    return seen;
}

// ---------------------------------------------------------------------------------------------
// Open and fetch

TEST(RecordSet, FetchOnDemandBlockByBlock) {
    auto rs = OpenNumbered(25, 10);
    EXPECT_EQ(rs->Describes, 1);
    EXPECT_EQ(rs->Fetches, 1);
    EXPECT_EQ(rs->GetRecordCount(), 10);
    EXPECT_FALSE(rs->Eof());
    auto seen = WalkForward(*rs);
    ASSERT_EQ(seen.size(), 25u);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(seen[i], std::make_pair(i + 1, i + 1));
    // Three blocks and one empty fetch that set Eof.
    EXPECT_EQ(rs->Fetches, 3);
    EXPECT_EQ(rs->Command().State, csFetched);
    EXPECT_TRUE(rs->CanDisconnect());

    // Backwards from the end.
    std::vector<int> back;
    rs->SetToEnd();
    for (rs->GetPriorRecord(nullptr); !rs->Bof(); rs->GetPriorRecord(nullptr)) back.push_back(CurrentId(*rs));
    EXPECT_EQ(back.size(), 25u);
    EXPECT_EQ(back.front(), 25);
    EXPECT_EQ(back.back(), 1);
    EXPECT_EQ(CheckedIds(*rs), Iota(1, 25));
}

TEST(RecordSet, FetchAllAndEmptyResults) {
    auto all = OpenNumbered(25, 10, true);
    EXPECT_EQ(all->GetRecordCount(), 25);
    EXPECT_EQ(all->Fetches, 3);
    EXPECT_TRUE(all->CanDisconnect());

    auto empty = OpenNumbered(0, 10);
    empty->SetToBegin();
    empty->GetNextRecord(nullptr);
    EXPECT_TRUE(empty->Eof());
    EXPECT_EQ(empty->GetRecordNo(), 0);
    empty->SetRecordNo(1);
    EXPECT_EQ(empty->CurrentItem, nullptr);

    // The bare list: an empty list stays at its end after SetToBegin.
    TMemData list;
    list.SetToBegin();
    EXPECT_TRUE(list.Eof());
    list.GetNextRecord(nullptr);
    EXPECT_TRUE(list.Eof());
}

TEST(RecordSet, UniDirectional) {
    auto rs = std::make_unique<FakeRecordSet>();
    fake::FillNumbered(*rs, 7);
    rs->SetProp(prFetchAll, true);
    rs->SetProp(prUniDirectional, true);
    Variant v;
    rs->GetProp(prFetchAll, v);
    EXPECT_FALSE(v.AsBoolean());
    rs->SetProp(prFetchAll, true);
    rs->GetProp(prFetchAll, v);
    EXPECT_FALSE(v.AsBoolean());
    rs->SetProp(prFetchRows, 3);
    rs->Open();
    auto seen = WalkForward(*rs);
    std::vector<int> ids;
    for (auto& s : seen) ids.push_back(s.first);
    EXPECT_EQ(ids, Iota(1, 7));
    // Only the last block is held.
    EXPECT_LE(rs->GetRecordCount(), 3);

    rs->Close();
    rs->Open();
    rs->GetNextRecord(nullptr);
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(CurrentId(*rs), 2);
    rs->GetPriorRecord(nullptr);
    EXPECT_TRUE(rs->Bof());
}

TEST(RecordSet, AScrollableCursorStepsBackPastItsWindow) {
    auto rs = std::make_unique<FakeRecordSet>();
    fake::FillNumbered(*rs, 30);
    rs->Scrollable = true;
    rs->Window = 8;
    rs->SetProp(prFetchRows, 4);
    rs->Open();
    auto listLength = [&] {
        int n = 0;
        for (PItemHeader i = rs->FirstItem; i; i = ItemHeader::Next(i)) ++n;
        return n;
    };
    auto cutEnds = [&] {
        return (!rs->FirstItem || !ItemHeader::Prev(rs->FirstItem)) &&
               (!rs->LastItem || !ItemHeader::Next(rs->LastItem));
    };
    std::vector<int> ids;
    while (true) {
        rs->GetNextRecord(nullptr);
        if (rs->Eof()) break;
        ids.push_back(CurrentId(*rs));
        EXPECT_LE(listLength(), 8);
        EXPECT_TRUE(cutEnds());
    }
    EXPECT_EQ(ids, Iota(1, 30));
    EXPECT_EQ(rs->WindowFirst, 22u);
    // Back from the end: the held rows first, then one block backwards at a time.
    ids.clear();
    const int fetchesBefore = rs->Fetches;
    while (true) {
        rs->GetPriorRecord(nullptr);
        if (rs->Bof()) break;
        ids.push_back(CurrentId(*rs));
        EXPECT_LE(listLength(), 8);
        EXPECT_TRUE(cutEnds());
    }
    std::vector<int> expected = Iota(1, 30);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(rs->Fetches - fetchesBefore, 7);  // rows 22 .. 1 in six blocks of 4 or fewer, then an empty one
    // Forward again from the start re-reads rows that left the window.
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(CurrentId(*rs), 1);
}

TEST(RecordSet, Properties) {
    FakeRecordSet rs;
    EXPECT_TRUE(rs.LongStrings());
    EXPECT_TRUE(rs.FlatBuffers());
    for (int prop : {prExtendedFieldsInfo, prDefaultValues, prFieldsOrigin}) {
        Variant v;
        EXPECT_TRUE(rs.SetProp(prop, true));
        EXPECT_TRUE(rs.GetProp(prop, v));
        EXPECT_TRUE(v.AsBoolean()) << prop;
    }
    EXPECT_TRUE(rs.SetProp(prLongStrings, false));
    EXPECT_FALSE(rs.LongStrings());
    EXPECT_TRUE(rs.SetProp(prFlatBuffers, false));
    EXPECT_FALSE(rs.FlatBuffers());
    EXPECT_TRUE(rs.SetProp(prEnableEmptyStrings, true));
    EXPECT_TRUE(rs.KeepEmptyStrings);
    EXPECT_TRUE(rs.SetProp(prCompressBlobMode, 2));
    EXPECT_EQ(rs.Command().CompressBlobMode(), 2);
    EXPECT_TRUE(rs.SetProp(prIndexFieldNames, "ID DESC"));
    EXPECT_EQ(rs.IndexFieldNames(), "ID DESC");
    EXPECT_TRUE(rs.SetProp(prDataSetReadOnly, true));
    // While locked, FetchAll is ignored.
    EXPECT_TRUE(rs.SetProp(prLockFetchAll, true));
    EXPECT_TRUE(rs.SetProp(prFetchAll, true));
    EXPECT_FALSE(rs.FetchAllRows());
    EXPECT_TRUE(rs.SetProp(prLockFetchAll, false));
    EXPECT_TRUE(rs.SetProp(prFetchAll, true));
    EXPECT_TRUE(rs.FetchAllRows());
    EXPECT_TRUE(rs.SetProp(prUniDirectional, true));
    EXPECT_FALSE(rs.FetchAllRows());

    Variant v;
    for (int prop : {prAutoCommit, prRowsFetched}) {
        try {
            rs.SetProp(prop, 1);
            ADD_FAILURE() << prop;
        } catch (const rtl::EAssertionFailed& e) {
            EXPECT_EQ(e.Message().rfind(std::to_string(prop) + " (", 0), 0u);
        }
    }
    EXPECT_THROW(rs.GetProp(prFetchRows, v), rtl::EAssertionFailed);

    // Forwarded to the command.
    fake::FakeConnection conn;
    conn.SetProp(prConvertEOL, true);
    rs.SetConnection(&conn);
    EXPECT_EQ(rs.Command().GetConnection(), &conn);
    EXPECT_TRUE(rs.NeedConvertEOL());
    rs.SetSQLText("select :a from t");
    EXPECT_EQ(rs.Command().ParsedSQL(), "select ? from t");
    rtl::TComponent owner(nullptr);
    rs.SetComponent(&owner);
    EXPECT_EQ(rs.Command().Component, &owner);
}

TEST(RecordSet, OpenFailureAndPrepare) {
    FakeRecordSet rs;
    fake::FillNumbered(rs, 3);
    rs.Command().FailNextExecute = "ORA-00942: table or view does not exist";
    EXPECT_THROW(rs.Open(), fake::EFakeError);
    EXPECT_FALSE(rs.Active());
    EXPECT_EQ(rs.Command().State, csInactive);

    // Prepare describes once; a second Prepare does nothing.
    rs.Prepare();
    EXPECT_TRUE(rs.Prepared());
    rs.Prepare();
    EXPECT_EQ(rs.Command().State, csPrepared);
    rs.Open();
    EXPECT_EQ(rs.GetRecordCount(), 3);
    rs.Close();
    rs.TablesInfo().Add()->SetTableName("T");
    rs.UnPrepare();
    EXPECT_EQ(rs.TablesInfo().Count(), 0);
    EXPECT_FALSE(rs.Prepared());
    EXPECT_EQ(rs.Command().State, csInactive);

    // The base has no command of its own.
    TCRRecordSet base;
    EXPECT_THROW(base.GetCommand(), rtl::EAbstractError);
}

TEST(RecordSet, SortFilterAndFetchHooks) {
    auto rs = OpenNumbered(30, 10);
    int fetches = rs->Fetches;
    rs->SortItems();  // no sort columns: nothing fetched
    EXPECT_EQ(rs->Fetches, fetches);

    // A filter update on a cursor with rows left never leaves Eof set.
    rs->OnFilterRecord = [](void*) { return false; };
    rs->FilterUpdated();
    EXPECT_EQ(rs->GetRecordCount(), 0);
    EXPECT_FALSE(rs->Eof());
    rs->OnFilterRecord = nullptr;
    rs->FilterUpdated();

    // A cancelled fetch ends the walk early.
    int before = 0, after = 0;
    rs->OnBeforeFetch = [&](bool& cancel) {
        ++before;
        cancel = before > 1;
    };
    rs->OnAfterFetch = [&] { ++after; };
    auto seen = WalkForward(*rs);
    EXPECT_EQ(seen.size(), 20u);
    EXPECT_EQ(after, 1);
    rs->BreakFetch();
    rs->OnBeforeFetch = nullptr;
    rs->SetToEnd();
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(rs->GetRecordCount(), 20);  // the break holds until the next execute
}

// ---------------------------------------------------------------------------------------------
// Record numbers

TEST(RecordList, SetRecordNoEverywhere) {
    auto rs = OpenNumbered(60, 0, true);
    std::vector<int> order = Iota(1, 60);
    std::mt19937 rng(7);
    std::shuffle(order.begin(), order.end(), rng);
    for (bool cached : {false, true}) {
        if (cached) rs->BuildRecordNoCache();
        for (int n : order) {
            rs->SetRecordNo(n);
            ASSERT_EQ(CurrentId(*rs), n) << (cached ? "cached " : "walk ") << n;
            ASSERT_EQ(rs->GetRecordNo(), n);
        }
    }
    EXPECT_TRUE(rs->RecordNoCacheFilled());
    // Numbers outside the list change nothing, with the cache too.
    rs->SetRecordNo(5);
    for (int n : {0, -3, 61, 1000}) {
        rs->SetRecordNo(n);
        EXPECT_EQ(rs->GetRecordNo(), 5) << n;
    }
}

TEST(RecordList, SetRecordNoFetchesFurtherRows) {
    auto rs = OpenNumbered(40, 10);
    rs->SetRecordNo(35);
    EXPECT_EQ(CurrentId(*rs), 35);
    EXPECT_EQ(rs->GetRecordCount(), 40);
}

TEST(RecordList, InsertIntoTheFirstHalfRenumbersTheShorterSide) {
    auto rs = OpenNumbered(1000, 0, true);
    std::vector<int32_t> ordersAfter;
    rs->SetRecordNo(300);
    for (PItemHeader i = rs->CurrentItem; i; i = ItemHeader::Next(i))
        ordersAfter.push_back(ItemHeader::Order(i));
    void* rec = rs->MakeRecord({Variant(5000), Variant("new")});
    rs->InsertRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(rs->RecNoOffset(), 1);
    EXPECT_EQ(rs->GetRecordNo(), 300);
    std::vector<int32_t> now;
    for (PItemHeader i = ItemHeader::Next(rs->CurrentItem); i; i = ItemHeader::Next(i))
        now.push_back(ItemHeader::Order(i));
    EXPECT_EQ(now, ordersAfter);
    std::vector<int> expected = Iota(1, 299);
    expected.push_back(5000);
    for (int i = 300; i <= 1000; ++i) expected.push_back(i);
    EXPECT_EQ(CheckedIds(*rs), expected);
}

// Random inserts, appends and deletes against a plain vector.
TEST(RecordList, EditingKeepsRecordNumbers) {
    auto rs = OpenNumbered(50, 0, true);
    std::vector<int> model = Iota(1, 50);
    std::mt19937 rng(11);
    int nextId = 100;
    for (int step = 0; step < 400; ++step) {
        int op = static_cast<int>(rng() % 3);
        if (model.empty()) op = 1;
        if (op == 0) {
            int n = static_cast<int>(rng() % model.size()) + 1;
            rs->SetRecordNo(n);
            rs->DeleteRecord();
            model.erase(model.begin() + (n - 1));
        } else if (op == 1) {
            int id = nextId++;
            void* rec = rs->MakeRecord({Variant(id), Variant("x")});
            if (model.empty() || rng() % 4 == 0) {
                rs->AppendRecord(rec);
                model.push_back(id);
            } else {
                int n = static_cast<int>(rng() % model.size()) + 1;
                rs->SetRecordNo(n);
                rs->InsertRecord(rec);
                model.insert(model.begin() + (n - 1), id);
                EXPECT_EQ(rs->GetRecordNo(), n);
            }
            rs->FreeRecBuf(rec);
        } else {
            int n = static_cast<int>(rng() % model.size()) + 1;
            rs->SetRecordNo(n);
            ASSERT_EQ(CurrentId(*rs), model[static_cast<size_t>(n - 1)]) << "step " << step;
        }
        ASSERT_EQ(CheckedIds(*rs), model) << "step " << step;
    }
    // Deleting down to nothing.
    while (rs->GetRecordCount() > 0) {
        rs->SetRecordNo(1);
        rs->DeleteRecord();
    }
    EXPECT_EQ(rs->FirstItem, nullptr);
    EXPECT_TRUE(rs->Eof());
    EXPECT_TRUE(rs->Bof());
}

TEST(RecordList, InsertAtTheEndsAndUpdate) {
    auto rs = OpenNumbered(3, 0, true);
    void* rec = rs->MakeRecord({Variant(0), Variant("first")});
    rs->SetToBegin();
    rs->InsertRecord(rec);
    rs->FreeRecBuf(rec);
    rec = rs->MakeRecord({Variant(9), Variant("last")});
    rs->SetToEnd();
    rs->InsertRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{0, 1, 2, 3, 9}));

    rs->SetRecordNo(2);
    rec = rs->MakeRecord({Variant(11), Variant("changed")});
    rs->UpdateRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(rs->CurrentValues()[1].AsString(), "changed");
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{0, 11, 2, 3, 9}));

    // Reading the current record into a buffer.
    void* buf = rs->AllocRecBuf();
    rs->GetRecord(buf);
    Variant v;
    rs->GetFieldAsVariant(1, buf, v);
    EXPECT_EQ(v.AsInteger(), 11);
    rs->FreeRecBuf(buf);

    TMemData empty;
    EXPECT_THROW(empty.PutRecord(nullptr), rtl::EAssertionFailed);
    EXPECT_THROW(empty.UpdateRecord(nullptr), rtl::EAssertionFailed);
}

TEST(RecordList, ApplyHooksRunBeforeTheListChanges) {
    auto rs = OpenNumbered(3, 0, true);
    int inserts = 0, updates = 0, deletes = 0;
    rs->OnApplyInsert = [&] { ++inserts; };
    rs->OnApplyUpdate = [&] { ++updates; };
    rs->OnApplyDelete = [&] {
        ++deletes;
        throw rtl::Exception("server refused");
    };
    rs->SetRecordNo(2);
    EXPECT_THROW(rs->DeleteRecord(), rtl::Exception);
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{1, 2, 3}));
    void* rec = rs->MakeRecord({Variant(7), Variant("x")});
    rs->InsertRecord(rec);
    rs->UpdateRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(inserts, 1);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(deletes, 1);
    rs->OnApplyInsert = [] { throw rtl::Exception("no"); };
    rec = rs->MakeRecord({Variant(8), Variant("y")});
    EXPECT_THROW(rs->AppendRecord(rec), rtl::Exception);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(rs->GetRecordCount(), 4);

    // With cached updates nothing is sent.
    rs->CachedUpdates = true;
    rs->LocalUpdate = true;
    rs->SetRecordNo(1);
    rs->DeleteRecord();
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(rs->GetRecordCount(), 3);
}

TEST(RecordList, DeletingTheLastFetchedRowFetchesFirst) {
    auto rs = OpenNumbered(15, 10);
    rs->SetRecordNo(10);
    int fetches = rs->Fetches;
    rs->DeleteRecord();
    EXPECT_EQ(rs->Fetches, fetches + 1);
    EXPECT_EQ(CurrentId(*rs), 11);
    EXPECT_EQ(rs->GetRecordCount(), 14);
    EXPECT_EQ(CheckedIds(*rs).size(), 14u);
}

TEST(RecordList, FilterVisibilityChangesKeepRecordNumbers) {
    auto rs = OpenNumbered(10, 0, true);
    // Hide rows whose NAME starts with "-".
    rs->OnFilterRecord = [&](void* rec) {
        Variant v;
        rs->GetFieldAsVariant(2, rec, v);
        return v.AsString().rfind("-", 0) != 0;
    };
    rs->FilterUpdated();
    EXPECT_EQ(rs->GetRecordCount(), 10);

    // Row 4 becomes hidden: later rows move up by one.
    rs->SetRecordNo(4);
    void* rec = rs->MakeRecord({Variant(4), Variant("-hidden")});
    rs->UpdateRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 9, 10}));
    rs->SetRecordNo(4);
    EXPECT_EQ(CurrentId(*rs), 5);

    // An inserted row the filter hides moves nothing.
    rec = rs->MakeRecord({Variant(50), Variant("-also hidden")});
    rs->InsertRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 9, 10}));

    // Showing it again puts it back in its place.
    for (PItemHeader i = rs->FirstItem; i; i = ItemHeader::Next(i)) {
        Variant v;
        rs->GetFieldAsVariant(1, rs->ItemRecord(i), v);
        if (v.AsInteger() == 4) rs->CurrentItem = i;
    }
    rec = rs->MakeRecord({Variant(4), Variant("shown")});
    rs->UpdateRecord(rec);
    rs->FreeRecBuf(rec);
    EXPECT_EQ(CheckedIds(*rs), Iota(1, 10));

    // Navigation skips hidden rows both ways.
    auto seen = WalkForward(*rs);
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen.back(), std::make_pair(10, 10));
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

struct Bookmark {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(RecBookmark::Size);
    void* data() { return bytes.data(); }
};

TEST(RecordList, Bookmarks) {
    auto rs = OpenNumbered(20, 0, true);
    Bookmark b7, b12, none;
    rs->SetRecordNo(7);
    rs->GetBookmark(b7.data());
    rs->SetRecordNo(12);
    rs->GetBookmark(b12.data());
    rs->SetToBegin();
    rs->GetBookmark(none.data());
    EXPECT_EQ(RecBookmark::RecNo(none.data()), -1);
    EXPECT_FALSE(rs->BookmarkValid(none.data()));
    EXPECT_FALSE(rs->BookmarkValid(nullptr));
    EXPECT_TRUE(rs->BookmarkValid(b7.data()));

    rs->SetToBookmark(b7.data());
    EXPECT_EQ(CurrentId(*rs), 7);
    EXPECT_FALSE(rs->Bof());
    EXPECT_EQ(rs->CompareBookmarks(b7.data(), b12.data()), -1);
    EXPECT_EQ(rs->CompareBookmarks(b12.data(), b7.data()), 1);
    EXPECT_EQ(rs->CompareBookmarks(b7.data(), b7.data()), 0);
    EXPECT_EQ(rs->CompareBookmarks(nullptr, b7.data()), 1);
    EXPECT_EQ(rs->CompareBookmarks(b7.data(), nullptr), -1);
    EXPECT_EQ(rs->CompareBookmarks(nullptr, nullptr), 0);

    // Inserting before both keeps the bookmarks on their rows and in order.
    rs->SetRecordNo(2);
    void* rec = rs->MakeRecord({Variant(100), Variant("x")});
    rs->InsertRecord(rec);
    rs->FreeRecBuf(rec);
    rs->SetToBookmark(b12.data());
    EXPECT_EQ(CurrentId(*rs), 12);
    EXPECT_EQ(rs->CompareBookmarks(b7.data(), b12.data()), -1);

    // A deleted row's bookmark falls back to its record number.
    rs->SetToBookmark(b7.data());
    rs->DeleteRecord();
    rs->SetToBookmark(b7.data());
    EXPECT_EQ(rs->GetRecordNo(), 7);
    EXPECT_EQ(CurrentId(*rs), 6);  // 100 was inserted before, 7 is gone
    // Its memory may be reused by a new row; the bookmark does not follow it.
    rec = rs->MakeRecord({Variant(200), Variant("y")});
    rs->AppendRecord(rec);
    rs->FreeRecBuf(rec);
    rs->SetToBookmark(b7.data());
    EXPECT_EQ(rs->GetRecordNo(), 7);

    // After closing and opening the generation is new: positioning goes by number.
    uint32_t generation = rs->Generation();
    rs->Close();
    rs->Open();
    EXPECT_NE(rs->Generation(), generation);
    rs->SetToBookmark(b12.data());
    EXPECT_EQ(rs->GetRecordNo(), RecBookmark::RecNo(b12.data()));
    EXPECT_TRUE(rs->BookmarkValid(b12.data()));

    // A hidden row's bookmark is not valid while a filter is on.
    rs->SetRecordNo(3);
    Bookmark b3;
    rs->GetBookmark(b3.data());
    rs->OnFilterRecord = [&](void* r) {
        Variant v;
        rs->GetFieldAsVariant(1, r, v);
        return v.AsInteger() != 3;
    };
    rs->FilterUpdated();
    EXPECT_FALSE(rs->BookmarkValid(b3.data()));
    EXPECT_TRUE(rs->BookmarkValid(b12.data()));
}

TEST(RecordList, ABookmarkWithoutSerialNeverMatchesAFreedItem) {
    auto rs = OpenNumbered(20, 0, true);
    rs->SetRecordNo(7);
    PItemHeader freed = rs->CurrentItem;
    rs->DeleteRecord();
    // A bookmark of that item with serial 0 ("no serial"), as one taken without a serial is.
    Bookmark b;
    RecBookmark::Set(b.data(), rs->Generation(), freed, 7, 0);
    rs->SetToBookmark(b.data());
    EXPECT_NE(freed, rs->CurrentItem);
    EXPECT_EQ(rs->GetRecordNo(), 7);
    EXPECT_EQ(CurrentId(*rs), 8);
    Bookmark same;
    RecBookmark::Set(same.data(), rs->Generation(), freed, 9, 0);
    EXPECT_NE(rs->CompareBookmarks(b.data(), same.data()), 0);  // falls back to the record numbers
}

TEST(RecordList, ABookmarkIntoAFreedBlockIsNeverRead) {
    auto rs = OpenNumbered(30, 0, true);
    rs->SetRecordNo(5);
    Bookmark b5;
    rs->GetBookmark(b5.data());
    PItemHeader item5 = rs->CurrentItem;
    // Deleting every row of row 5's block gives the block back to the system.
    std::vector<PItemHeader> sameBlock;
    for (PItemHeader i = rs->FirstItem; i; i = ItemHeader::Next(i))
        if (ItemHeader::Block(i) == ItemHeader::Block(item5)) sameBlock.push_back(i);
    ASSERT_EQ(sameBlock.size(), static_cast<size_t>(rs->BlockManager().ItemsPerBlock));
    for (PItemHeader i : sameBlock) {
        rs->CurrentItem = i;
        rs->DeleteRecord();
    }
    EXPECT_FALSE(rs->BlockManager().HoldsItem(item5));
    // The bookmark goes by its record number; the freed memory is not looked at (ASan would tell).
    EXPECT_FALSE(rs->IsLiveItem(item5));
    rs->SetToBookmark(b5.data());
    EXPECT_NE(rs->CurrentItem, item5);
    EXPECT_EQ(rs->GetRecordNo(), 5);
}

TEST(RecordList, GenerationsDifferAcrossThreads) {
    std::vector<uint32_t> seen[4];
    std::vector<std::thread> threads;
    for (auto& s : seen)
        threads.emplace_back([&s] {
            for (int i = 0; i < 200; ++i) {
                TMemData list;
                s.push_back(list.Generation());
            }
        });
    for (auto& t : threads) t.join();
    std::set<uint32_t> all;
    for (auto& s : seen) all.insert(s.begin(), s.end());
    EXPECT_EQ(all.size(), 800u);
}

TEST(RecordList, ReopenAndRecalc) {
    auto rs = OpenNumbered(5, 0, true);
    int calls = 0;
    rs->OnCalcFields = [&](void* dest, void* src) {
        EXPECT_NE(dest, nullptr);
        EXPECT_EQ(src, nullptr);
        ++calls;
    };
    rs->RecalcItemsFields();
    EXPECT_EQ(calls, 5);
    rs->SetRecordNo(2);
    PItemHeader from = rs->CurrentItem;
    rs->SetRecordNo(3);
    rs->RecalcItemsFields(from, rs->CurrentItem);
    EXPECT_EQ(calls, 7);
    rs->Reopen();
    EXPECT_EQ(rs->GetRecordCount(), 5);
    EXPECT_EQ(CheckedIds(*rs), Iota(1, 5));
}

// ---------------------------------------------------------------------------------------------
// Field descriptors of the record set

TEST(RecordSet, FieldDescActualName) {
    auto rs = OpenNumbered(1);
    auto* id = dynamic_cast<TCRFieldDesc*>(rs->Fields()[0]);
    ASSERT_NE(id, nullptr);
    TSQLInfo* info = rs->Command().SQLInfo();
    EXPECT_EQ(id->GetActualName(info, false), "ID");
    EXPECT_EQ(id->GetActualName(info, true), "\"ID\"");
    id->ActualName = "changed";  // cached per form
    EXPECT_EQ(id->GetActualName(info, false), "ID");
    EXPECT_FALSE(id->IsNational());
    TCRFieldDesc mixed;
    mixed.ActualName = "a b";
    EXPECT_EQ(mixed.GetActualName(info, false), "\"a b\"");
}

}  // namespace
}  // namespace dac

namespace dac {
namespace {

// The record filter is asked first, the local master/detail filter only for rows it accepts;
// verdicts are kept until the filter is updated.
TEST(RecordList, FilterCallbacksInOrderWithCachedVerdicts) {
    auto rs = OpenNumbered(6, 0, true);
    std::vector<std::string> calls;
    auto idOf = [&](void* rec) {
        Variant v;
        rs->GetFieldAsVariant(1, rec, v);
        return v.AsInteger();
    };
    rs->OnFilterRecord = [&](void* rec) {
        calls.push_back("record " + std::to_string(idOf(rec)));
        return idOf(rec) % 2 == 0;
    };
    rs->OnLocalFilter = [&](void* rec) {
        calls.push_back("local " + std::to_string(idOf(rec)));
        return idOf(rec) != 4;
    };
    EXPECT_TRUE(rs->IsFiltered());
    rs->FilterUpdated();
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{2, 6}));
    EXPECT_EQ(calls, (std::vector<std::string>{"record 1", "record 2", "local 2", "record 3", "record 4",
                                               "local 4", "record 5", "record 6", "local 6"}));
    calls.clear();
    WalkForward(*rs);
    EXPECT_TRUE(calls.empty());
    rs->OnLocalFilter = [](void*) -> bool { throw rtl::Exception("master closed"); };
    EXPECT_THROW(rs->FilterUpdated(), rtl::Exception);
    // The failed verdict stays unknown and is asked again.
    rs->OnLocalFilter = nullptr;
    rs->FilterUpdated();
    EXPECT_EQ(CheckedIds(*rs), (std::vector<int>{2, 4, 6}));
}

}  // namespace
}  // namespace dac
