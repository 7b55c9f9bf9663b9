// The in-memory record list: navigation, record numbers, bookmarks and editing.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "dataaccess/core/MemData.h"

namespace dac {

namespace {

// Shared by every list of the process; lists are opened on several threads at once.
std::atomic<uint32_t> generationCounter{1};

PItemHeader Next(PItemHeader i) {
    return ItemHeader::Next(i);
}
PItemHeader Prev(PItemHeader i) {
    return ItemHeader::Prev(i);
}
int32_t Order(PItemHeader i) {
    return ItemHeader::Order(i);
}

}  // namespace

TMemData::TMemData() {
    InitData();
}

TMemData::~TMemData() {
    try {
        Close();
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------------------
// Life cycle

void TMemData::InitData() {
    TData::InitData();
    FirstItem = LastItem = CurrentItem = nullptr;
    FreeCacheItems();
    recordNoCache_.clear();
    blockManager_.FirstFree = nullptr;
    generation_ = generationCounter.fetch_add(1) + 1;
}

void TMemData::FreeData() {
    bool freeEach = false;
    bool heapOnly = true;
    for (int i = 0; i < fields_.Count(); ++i) {
        TDataType dt = fields_[i]->DataType;
        if (!IsComplexFieldType(dt) || fields_[i]->HasParent()) continue;
        if (!IsHeapDataType(dt)) heapOnly = false;
        freeEach = true;
    }
    // Heap texts alone go with the heap's blocks, unless some came from the memory manager.
    if (freeEach && heapOnly && !stringHeap_->HasLargePieces()) {
        stringHeap_->Clear();
        freeEach = false;
    }
    if (freeEach) {
        for (PItemHeader i = FirstItem; i; i = Next(i)) FreeComplexFields(ItemRecord(i), true);
        for (PItemHeader i : CachedItems())
            if (PItemHeader rollback = ItemHeader::Rollback(i)) FreeComplexFields(ItemRecord(rollback), true);
    }
    FreeCacheItems();
    stringHeap_->Clear();
    blockManager_.FreeAllBlocks();
    InitData();
}

void TMemData::Reopen() {
    TData::Reopen();
    recordNoCache_.clear();
    if (!filterText_.empty()) FilterUpdated();
    if (HasSortColumns()) SortItems();
}

void TMemData::InitFields() {
    sortColumns_.Clear();
    TData::InitFields();
    blockManager_.RecordSize = recordSize_;
    RebuildSortColumns(indexFieldNames_);
}

void TMemData::ClearFields() {
    // The sort columns refer to the descriptors.
    sortColumns_.Clear();
    TData::ClearFields();
}

void TMemData::RecalcItemsFields(PItemHeader from, PItemHeader to) {
    if (!OnCalcFields || calcRecordSize_ > 0) return;
    for (PItemHeader i = from ? from : FirstItem; i; i = Next(i)) {
        OnCalcFields(ItemRecord(i), nullptr);
        if (i == (to ? to : LastItem)) break;
    }
}

bool TMemData::Fetch(bool) {
    return false;
}

// ---------------------------------------------------------------------------------------------
// Navigation

void TMemData::SetToBegin() {
    CurrentItem = nullptr;
    bof_ = true;
    if (FirstItem) eof_ = false;
}

void TMemData::SetToEnd() {
    CurrentItem = nullptr;
    eof_ = true;
    if (FirstItem) bof_ = false;
}

void TMemData::GetNextRecord(void* recBuf) {
    if (Eof()) return;
    PItemHeader candidate;
    if (Bof()) {
        bof_ = false;
        candidate = FirstItem;
    } else {
        candidate = CurrentItem ? Next(CurrentItem) : FirstItem;
    }
    while (candidate && IsFilteredOut(candidate)) candidate = Next(candidate);
    if (!candidate) {
        CurrentItem = nullptr;
        eof_ = true;
        return;
    }
    CurrentItem = candidate;
    bof_ = eof_ = false;
    if (recBuf) GetRecord(recBuf);
}

void TMemData::GetPriorRecord(void* recBuf) {
    if (Bof()) return;
    PItemHeader candidate;
    if (Eof()) {
        eof_ = false;
        candidate = LastItem;
    } else {
        candidate = CurrentItem ? Prev(CurrentItem) : LastItem;
    }
    while (candidate && IsFilteredOut(candidate)) candidate = Prev(candidate);
    if (!candidate) {
        CurrentItem = nullptr;
        bof_ = true;
        return;
    }
    CurrentItem = candidate;
    bof_ = eof_ = false;
    if (recBuf) GetRecord(recBuf);
}

void TMemData::GetRecord(void* recBuf) {
    if (Eof() || Bof() || !CurrentItem) return;
    if (IsFilteredOut(CurrentItem)) {
        GetNextRecord(recBuf);
        return;
    }
    blockManager_.GetItemRecord(CurrentItem, recBuf);
}

void TMemData::PutRecord(void* recBuf) {
    rtl::Assert(CurrentItem != nullptr, "MemData: no current record");
    recordNoCache_.clear();
    ItemHeader::SetFilterResult(CurrentItem, frUnknown);
    blockManager_.PutItemRecord(CurrentItem, recBuf);
}

// ---------------------------------------------------------------------------------------------
// Record numbers

int TMemData::GetRecordNo() {
    return CurrentItem ? Order(CurrentItem) + recNoOffset_ : 0;
}

void TMemData::SetRecordNo(int value) {
    if (!FirstItem || value < 1) return;
    if (!recordNoCache_.empty()) {
        // A number past the cached rows asks for nothing that exists.
        if (value > static_cast<int>(recordNoCache_.size())) return;
        CurrentItem = recordNoCache_[static_cast<size_t>(value - 1)];
        bof_ = eof_ = false;
        return;
    }
    PItemHeader s = CurrentItem ? CurrentItem : FirstItem;
    PItemHeader l = LastItem;
    while (l && !IsVisible(l)) l = Prev(l);
    if (!l) return;
    auto recNo = [this](PItemHeader i) { return Order(i) + recNoOffset_; };
    auto d = [&](PItemHeader i) { return std::abs(recNo(i) - value); };
    PItemHeader start;
    bool forward;
    if (value < d(l) && value < d(s)) {
        start = FirstItem;
        forward = true;
    } else if (d(l) < d(s)) {
        start = l;
        forward = recNo(l) < value;
    } else {
        start = s;
        forward = recNo(s) < value;
    }
    PItemHeader i = start;
    while (i) {
        if (recNo(i) == value && IsVisible(i)) {
            CurrentItem = i;
            bof_ = eof_ = false;
            return;
        }
        if (forward) {
            PItemHeader next = Next(i);
            if (!next && Fetch(false)) next = Next(i);
            i = next;
        } else {
            i = Prev(i);
        }
    }
}

void TMemData::BuildRecordNoCache() {
    if (!recordNoCache_.empty()) return;
    recordNoCache_.reserve(static_cast<size_t>(recordCount_));
    for (PItemHeader i = FirstItem; i; i = Next(i))
        if (IsVisible(i)) recordNoCache_.push_back(i);
}

void TMemData::RenumberItems(PItemHeader item, int mode) {
    recordNoCache_.clear();
    int32_t b;
    if (mode == 2) {
        if (!FirstItem) {
            recordCount_ = 0;
            return;
        }
        item = FirstItem;
        b = 1;
    } else {
        if (!item) return;
        if (Next(item)) {
            b = Order(Next(item));
        } else if (Prev(item)) {
            b = Order(Prev(item));
        } else {
            ItemHeader::SetOrder(item, IsVisible(item) ? 1 : 0);
            recNoOffset_ = 0;
            return;
        }
    }
    int32_t c;
    if (mode == 2 || (recordCount_ + recNoOffset_) / 2 < b) {
        PItemHeader before = Prev(item);
        while (before && !IsVisible(before)) before = Prev(before);
        if (before) {
            c = Order(before) + 1;
        } else {
            c = 1;
            recNoOffset_ = 0;
        }
        for (PItemHeader i = item; i; i = Next(i)) {
            if (IsVisible(i)) {
                ItemHeader::SetOrder(i, c++);
            } else {
                ItemHeader::SetOrder(i, 0);
            }
        }
        if (mode == 2) recordCount_ = c - 1;
    } else {
        PItemHeader after = Next(item);
        while (after && !IsVisible(after)) after = Next(after);
        if (after) {
            c = Order(after) - 1;
            recNoOffset_ += mode == 0 ? 1 : -1;
        } else {
            c = recordCount_;
            recNoOffset_ = 0;
        }
        for (PItemHeader i = item; i; i = Prev(i)) {
            if (IsVisible(i)) {
                ItemHeader::SetOrder(i, c--);
            } else {
                ItemHeader::SetOrder(i, 0);
            }
        }
    }
}

void TMemData::ReorderItems(PItemHeader item, bool keepCount, bool backward) {
    if (!item) return;
    recordNoCache_.clear();
    if (!backward) {
        PItemHeader before = Prev(item);
        while (before && !IsVisible(before)) before = Prev(before);
        int32_t c = before ? Order(before) + 1 : 1;
        for (PItemHeader i = item; i; i = Next(i)) {
            if (IsVisible(i)) {
                ItemHeader::SetOrder(i, c++);
                if (!keepCount) ++recordCount_;
            } else {
                ItemHeader::SetOrder(i, 0);
            }
        }
    } else {
        int32_t c = Order(item);
        for (PItemHeader i = Prev(item); i; i = Prev(i)) {
            if (IsVisible(i)) {
                ItemHeader::SetOrder(i, --c);
                if (!keepCount) ++recordCount_;
            } else {
                ItemHeader::SetOrder(i, 0);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

uint32_t TMemData::SerialOf(PItemHeader item) const {
    // Only an item of a block still held is read.
    if (!item || !blockManager_.HoldsItem(item) || ItemHeader::Flag(item) != ItemUsed) return 0;
    return ItemHeader::Serial(item);
}

bool TMemData::IsLiveItem(PItemHeader item) const {
    return SerialOf(item) != 0;
}

void TMemData::GetBookmark(void* bookmark) {
    RecBookmark::Set(bookmark, generation_, CurrentItem, CurrentItem ? GetRecordNo() : -1,
                     SerialOf(CurrentItem));
}

bool TMemData::BookmarkHoldsLiveItem(const void* bookmark) const {
    // The serial, not the item's memory, tells whether the item is still the one bookmarked.
    // Serial 0 is "no serial": it matches nothing, also not an item that has none any more.
    PItemHeader item = RecBookmark::Item(bookmark);
    const uint32_t serial = RecBookmark::Serial(bookmark);
    return RecBookmark::Generation(bookmark) == generation_ && item && serial != 0 &&
           SerialOf(item) == serial;
}

void TMemData::SetToBookmark(const void* bookmark) {
    PItemHeader item = RecBookmark::Item(bookmark);
    if (BookmarkHoldsLiveItem(bookmark)) {
        CurrentItem = item;
        bof_ = eof_ = false;
        return;
    }
    int32_t recNo = RecBookmark::RecNo(bookmark);
    if (recNo != -1) SetRecordNo(recNo);
}

bool TMemData::BookmarkValid(const void* bookmark) {
    if (!bookmark) return false;
    PItemHeader item = RecBookmark::Item(bookmark);
    if (RecBookmark::RecNo(bookmark) == -1 && !item) return false;
    if (IsFiltered() && BookmarkHoldsLiveItem(bookmark)) return IsVisible(item);
    return true;
}

int TMemData::CompareBookmarks(const void* bookmark1, const void* bookmark2) {
    if (bookmark1 && bookmark2 && RecBookmark::Generation(bookmark1) == RecBookmark::Generation(bookmark2)) {
        PItemHeader i1 = RecBookmark::Item(bookmark1);
        PItemHeader i2 = RecBookmark::Item(bookmark2);
        if (i1 == i2 && RecBookmark::Serial(bookmark1) == RecBookmark::Serial(bookmark2) &&
            (RecBookmark::Serial(bookmark1) != 0 || !i1))
            return 0;
        // Orders are read only of items still in this list.
        bool live = BookmarkHoldsLiveItem(bookmark1) && BookmarkHoldsLiveItem(bookmark2);
        if (live) {
            int32_t o1 = Order(i1);
            int32_t o2 = Order(i2);
            return o1 < o2 ? -1 : (o1 > o2 ? 1 : 0);
        }
    }
    return TData::CompareBookmarks(bookmark1, bookmark2);
}

// ---------------------------------------------------------------------------------------------
// Editing

void TMemData::LinkItem(PItemHeader item) {
    ItemHeader::SetNext(item, nullptr);
    ItemHeader::SetPrev(item, LastItem);
    if (LastItem) ItemHeader::SetNext(LastItem, item);
    LastItem = item;
    if (!FirstItem) FirstItem = item;
    SetItemSerial(item);
    recordNoCache_.clear();
}

PItemHeader TMemData::AppendItem() {
    PItemHeader item;
    blockManager_.AllocItem(item);
    int32_t order = LastItem ? Order(LastItem) + 1 : 1;
    LinkItem(item);
    ItemHeader::SetOrder(item, order);
    return item;
}

PItemHeader TMemData::InsertItem() {
    PItemHeader item;
    if (Eof() || (!CurrentItem && !Bof())) {
        item = AppendItem();
    } else {
        blockManager_.AllocItem(item);
        PItemHeader before = CurrentItem ? CurrentItem : FirstItem;
        if (!before) {
            blockManager_.FreeItem(item);
            item = AppendItem();
        } else {
            PItemHeader prev = Prev(before);
            ItemHeader::SetPrev(item, prev);
            ItemHeader::SetNext(item, before);
            ItemHeader::SetPrev(before, item);
            if (prev) {
                ItemHeader::SetNext(prev, item);
            } else {
                FirstItem = item;
            }
            SetItemSerial(item);
            recordNoCache_.clear();
        }
    }
    CurrentItem = item;
    bof_ = eof_ = false;
    return item;
}

void TMemData::DeleteItem(PItemHeader item) {
    PItemHeader prev = Prev(item);
    PItemHeader next = Next(item);
    if (prev) {
        ItemHeader::SetNext(prev, next);
    } else {
        FirstItem = next;
    }
    if (next) {
        ItemHeader::SetPrev(next, prev);
    } else {
        LastItem = prev;
    }
    if (CurrentItem == item) CurrentItem = next ? next : prev;
    if (!FirstItem) {
        FirstItem = LastItem = CurrentItem = nullptr;
        bof_ = eof_ = true;
    }
    ClearItemSerial(item);
    recordNoCache_.clear();
    blockManager_.FreeItem(item);
}

void TMemData::CommitBlobs(void* recBuf) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind == 2 || !IsBlobFieldType(f->DataType)) continue;
        if (TBlob* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf))))
            blob->Commit();
    }
}

void TMemData::InsertItemRecord(void* recBuf) {
    PItemHeader p = CurrentItem;
    PItemHeader item = InsertItem();
    PutRecord(recBuf);
    if (hasComplexFields_) CommitBlobs(recBuf);
    if (CachedUpdates && !LocalUpdate) {
        AddCacheItem(item);
        ItemHeader::SetStatus(item, ItemInserted);
        ItemHeader::SetUpdateResult(item, urNone);
    }
    if (HasSortColumns()) MoveSortedItem(item, p ? CompareRecords(recBuf, ItemRecord(p)) : -1);
    if (IsVisible(item)) {
        ++recordCount_;
        RenumberItems(item, 0);
    } else {
        // A row the filter hides moves no record number.
        ItemHeader::SetOrder(item, 0);
        recordNoCache_.clear();
    }
}

void TMemData::InsertRecord(void* recBuf) {
    if (!CachedUpdates) DoApplyInsert(recBuf);
    InsertItemRecord(recBuf);
}

void TMemData::AppendRecord(void* recBuf) {
    SetToEnd();
    InsertRecord(recBuf);
}

void TMemData::UpdateRecord(void* recBuf) {
    rtl::Assert(CurrentItem != nullptr, "MemData: no current record");
    if (!CachedUpdates) DoApplyUpdate(recBuf);
    int direction = CompareRecords(recBuf, ItemRecord(CurrentItem));
    bool wasVisible = IsVisible(CurrentItem);
    if (CachedUpdates && !LocalUpdate) RecordUpdate(CurrentItem);
    PutRecord(recBuf);
    if (HasSortColumns()) {
        MoveSortedItem(CurrentItem, direction);
        RenumberItems(nullptr, 2);
    } else if (IsVisible(CurrentItem) != wasVisible) {
        // Visibility changed: every later row's number moves.
        RenumberItems(nullptr, 2);
    }
}

void TMemData::DeleteRecord() {
    if (CurrentItem && CurrentItem == LastItem) Fetch(false);
    if (!CachedUpdates) {
        DoApplyDelete(CurrentItem ? ItemRecord(CurrentItem) : nullptr);
        RemoveRecord();
    } else if (LocalUpdate) {
        RemoveRecord();
    } else {
        DeleteCachedRecord();
    }
}

void TMemData::RemoveRecord() {
    rtl::Assert(CurrentItem != nullptr, "MemData: no current record");
    PItemHeader item = CurrentItem;
    // A cached change of the row is taken back first; an inserted row is then already gone.
    if (CachedUpdates) {
        if (TCacheItem* entry = FindCacheItem(item)) {
            RemoveCacheItem(entry);
            const bool gone = RevertItem(item);
            RenumberItems(nullptr, 2);
            if (gone) return;
        }
    }
    bool visible = IsVisible(item);
    DisposeItem(item);
    if (visible) {
        --recordCount_;
        RenumberItems(CurrentItem, 1);
    } else {
        recordNoCache_.clear();
    }
}

// ---------------------------------------------------------------------------------------------
// The base storage keeps no rows: bookmarks hold only a record number.

void TData::RemoveRecord() {
    rtl::AbstractError();
}

void TData::GetBookmark(void* bookmark) {
    RecBookmark::Set(bookmark, 0, nullptr, GetRecordNo(), 0);
}

void TData::SetToBookmark(const void* bookmark) {
    const int32_t recNo = RecBookmark::RecNo(bookmark);
    if (recNo != -1) SetRecordNo(recNo);
}

bool TData::BookmarkValid(const void* bookmark) {
    return bookmark && RecBookmark::RecNo(bookmark) != -1;
}

int TData::CompareBookmarks(const void* bookmark1, const void* bookmark2) {
    if (!bookmark1 && !bookmark2) return 0;
    if (!bookmark1) return 1;
    if (!bookmark2) return -1;
    const int32_t r1 = RecBookmark::RecNo(bookmark1);
    const int32_t r2 = RecBookmark::RecNo(bookmark2);
    return r1 < r2 ? -1 : (r1 > r2 ? 1 : 0);
}

}  // namespace dac
