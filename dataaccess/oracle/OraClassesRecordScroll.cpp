// TOCIRecordSet row by row: the window of a scrollable cursor, going to its start, its end and
// to bookmarks.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

void TOCIRecordSet::DropItem(PItemHeader item) {
    PItemHeader prev = ItemHeader::Prev(item);
    PItemHeader next = ItemHeader::Next(item);
    if (prev) ItemHeader::SetNext(prev, next);
    if (next) ItemHeader::SetPrev(next, prev);
    if (FirstItem == item) FirstItem = next;
    if (LastItem == item) LastItem = prev;
    if (CurrentItem == item) CurrentItem = nullptr;
    ClearItemSerial(item);
    if (hasComplexFields_) FreeComplexFields(ItemRecord(item), true);
    BlockManager().FreeItem(item);
    DropRecordNoCache();
}

void TOCIRecordSet::ClearItems() {
    PItemHeader item = FirstItem;
    while (item) {
        PItemHeader next = ItemHeader::Next(item);
        ClearItemSerial(item);
        if (FPieceFetch && ItemHeader::Flag(item) == ItemUsed) {
            if (hasComplexFields_) FreeComplexFields(ItemRecord(item), true);
            BlockManager().FreeItem(item);
        }
        item = next;
    }
    FirstItem = LastItem = CurrentItem = nullptr;
    DropRecordNoCache();
}

int32_t TOCIRecordSet::GetItemRowNo(PItemHeader item) {
    int32_t n = FFirstRowNo;
    for (PItemHeader i = FirstItem; i && i != item; i = ItemHeader::Next(i)) ++n;
    return n;
}

void TOCIRecordSet::DefineRow(void* recBuf, uint8_t* conversionRow) {
    TOCICommand* command = OraCommand();
    FDefinedBlock = nullptr;  // the block stage must be defined again
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0) continue;
        if (IsLongField(*f)) {
            DefineLongField(i);
            continue;
        }
        const int32_t entry = FEntryOffsets.empty() ? -1 : FEntryOffsets[static_cast<size_t>(i)];
        void* value = entry >= 0 ? conversionRow + entry : Place(f, recBuf);
        command->DefineData(*f, value, static_cast<int16_t*>(IndicatorPlace(recBuf, i + 1)));
    }
}

bool TOCIRecordSet::FetchPiece(bool fetchBack) {
    TOCICommand* command = OraCommand();
    if (command->GetCursorState() <= csPrepared) return false;
    TBlockManager& blocks = BlockManager();
    const bool scrollable = CanFetchBack();
    if ((hasComplexFields_ || FNeedsConversion) && FFetchBuffer.empty()) AllocFetchBuffer();

    PItemHeader item;
    if (FUniDirectional && FirstItem) {
        item = FirstItem;
        ClearItemSerial(item);
        if (hasComplexFields_) FreeComplexFields(ItemRecord(item), true);
        FirstItem = LastItem = CurrentItem = nullptr;
    } else {
        if (scrollable && blocks.FirstBlock && !blocks.FirstFree) {
            // The window is full: the row at its far end goes.
            if (fetchBack && LastItem) {
                DropItem(LastItem);
                --FLastRowNo;
            } else if (!fetchBack && FirstItem) {
                DropItem(FirstItem);
                ++FFirstRowNo;
            }
        }
        blocks.AllocItem(item);
    }
    if (scrollable && !CurrentItem && bof_) {
        FFirstRowNo = FLastRowNo;
        LastItem = nullptr;
    } else if (scrollable && !CurrentItem && eof_) {
        FLastRowNo = FFirstRowNo;
        FirstItem = nullptr;
    }
    void* rec = ItemRecord(item);
    sword status;
    try {
        if (hasComplexFields_) CreateComplexFields(rec, true);
        if (!FEntryOffsets.empty()) {
            StageValueDescriptors(1);  // SQL timestamps land in one of the record set's own
            PrepareLobEntries(rec, FFetchBuffer.data());
            PrepareValueEntries(rec, FFetchBuffer.data());
            PrepareCursorEntries(rec, FFetchBuffer.data());
        }
        DefineRow(rec, FFetchBuffer.data());
        FLongRecord = rec;
        if (fetchBack)
            status = command->FetchPiece(OCI_FETCH_ABSOLUTE, FFirstRowNo);
        else if (FLastFetchBack)
            status = command->FetchPiece(OCI_FETCH_ABSOLUTE, FLastRowNo + 1);
        else
            status = command->FetchPiece(OCI_FETCH_NEXT, 0);
        FLongRecord = nullptr;
        if (status == OCI_SUCCESS && !FEntryOffsets.empty()) ConvertRow(rec, FFetchBuffer.data());
        if (status == OCI_SUCCESS) FinishLongFields(rec);
    } catch (...) {
        FLongRecord = nullptr;
        if (hasComplexFields_) FreeComplexFields(rec, true);
        blocks.FreeItem(item);
        throw;
    }
    // After a fetch that found no row the server's position is not the window's end: the next
    // forward fetch asks for its row by number.
    FLastFetchBack = fetchBack || status != OCI_SUCCESS;
    if (status != OCI_SUCCESS) {
        if (hasComplexFields_) FreeComplexFields(rec, true);
        blocks.FreeItem(item);
        if (!fetchBack) FEndReached = true;
        return false;
    }
    ItemHeader::SetRollback(item, nullptr);
    ItemHeader::SetStatus(item, 0);
    ItemHeader::SetUpdateResult(item, 5);
    ItemHeader::SetFilterResult(item, 0);
    if (!fetchBack) {
        ItemHeader::SetOrder(item, LastItem ? ItemHeader::Order(LastItem) + 1 : 1);
        ItemHeader::SetPrev(item, LastItem);
        ItemHeader::SetNext(item, nullptr);
        if (LastItem) ItemHeader::SetNext(LastItem, item);
        LastItem = item;
        if (!FirstItem) FirstItem = item;
        ++recordCount_;
        ++FLastRowNo;
    } else {
        ItemHeader::SetOrder(item, FirstItem ? ItemHeader::Order(FirstItem) - 1 : recordCount_);
        ItemHeader::SetNext(item, FirstItem);
        ItemHeader::SetPrev(item, nullptr);
        if (FirstItem) ItemHeader::SetPrev(FirstItem, item);
        FirstItem = item;
        if (!LastItem) LastItem = item;
        --FFirstRowNo;
    }
    AssignSerial(item);
    DropRecordNoCache();
    RecalcItemsFields(item, item);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Moving the window

void TOCIRecordSet::SetToBegin() {
    TCRRecordSet::SetToBegin();
    if (CanFetchBack() && FFirstRowNo > 0) {
        FLastFetchBack = true;
        ClearItems();
        FLastRowNo = 0;
        eof_ = false;  // the emptied window still has rows after it
    }
}

void TOCIRecordSet::SetToEnd() {
    TOCICommand* command = OraCommand();
    if (IsNonBlocking() && FWorkerThreadId != rtl::GetCurrentThreadId()) {
        // The rows come from a worker: wait for all of them; the completions arrive as messages.
        if (!FExecThread && !FFetchThread && !CanFetchBack() && command->GetCursorState() < csFetched &&
            command->GetCursorState() != csInactive)
            FetchAll();
        while (FExecThread || FFetchThread) rtl::WaitAndProcessMessages(10);
    }
    if (command->GetCursorState() < csFetched && command->GetCursorState() != csInactive) {
        if (CanFetchBack()) {
            if (!(FLastRowNo == command->FetchedRows() && FEndReached)) {
                // One fetch of the last row tells the row count; the row itself is not kept.
                FScratchRecord.assign(static_cast<size_t>(recordSize_), 0);
                if ((hasComplexFields_ || FNeedsConversion) && FFetchBuffer.empty()) AllocFetchBuffer();
                // Value cells of the record set's own take the row: the last row's objects may
                // be gone, and the scratch record has none (its LONG pieces are dropped).
                StageLobLocators(1);
                StageValueDescriptors(1);
                StageCursorHandles(1);
                DefineRow(FScratchRecord.data(), FFetchBuffer.data());
                FLongRecord = FScratchRecord.data();
                try {
                    command->Fetch(1, OCI_FETCH_LAST, 0);
                } catch (...) {
                    FLongRecord = nullptr;
                    throw;
                }
                FLongRecord = nullptr;
                FEndReached = true;
                ClearItems();
                FFirstRowNo = command->FetchedRows();
                FLastRowNo = FFirstRowNo;
                FLastFetchBack = true;
            }
        } else {
            FetchAll();
        }
    }
    TCRRecordSet::SetToEnd();
    // The emptied window of a scrollable cursor still has rows before it.
    if (CanFetchBack() && FFirstRowNo > 0) bof_ = false;
}

void TOCIRecordSet::GetBookmark(void* bookmark) {
    if (!CanFetchBack()) return TCRRecordSet::GetBookmark(bookmark);
    RecBookmark::Set(bookmark, generation_, CurrentItem, CurrentItem ? GetItemRowNo(CurrentItem) : -1,
                     SerialOf(CurrentItem));
}

void TOCIRecordSet::SetToBookmark(const void* bookmark) {
    if (!CanFetchBack()) return TCRRecordSet::SetToBookmark(bookmark);
    PItemHeader item = RecBookmark::Item(bookmark);
    if (!item) {
        CurrentItem = nullptr;
        return;
    }
    bof_ = eof_ = false;
    const int32_t t = RecBookmark::RecNo(bookmark);
    const uint32_t serial = RecBookmark::Serial(bookmark);
    if (RecBookmark::Generation(bookmark) == generation_ && serial != 0 && SerialOf(item) == serial &&
        GetItemRowNo(item) == t) {
        CurrentItem = item;
        return;
    }
    const int32_t reach = BlockManager().ItemsPerBlock / 2;
    if (t < FFirstRowNo - reach || t >= FLastRowNo + reach) {
        ClearItems();
        FLastFetchBack = true;
        FFirstRowNo = FLastRowNo = t;
        Fetch(false);
        CurrentItem = FirstItem;
        return;
    }
    if (t < FFirstRowNo) {
        for (int32_t n = FFirstRowNo - t; n > 0; --n)
            if (!Fetch(true)) break;
        CurrentItem = FirstItem;
    } else if (t >= FLastRowNo) {
        for (int32_t n = t - FLastRowNo + 1; n > 0; --n)
            if (!Fetch(false)) break;
        CurrentItem = LastItem;
    } else {
        PItemHeader i = FirstItem;
        for (int32_t n = t - FFirstRowNo; n > 0 && i; --n) i = ItemHeader::Next(i);
        CurrentItem = i;
    }
}

}  // namespace dac
