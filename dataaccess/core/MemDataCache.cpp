// Record storage: cached updates of the record list: the cache list, rollback copies (blobs
// included), and applying, committing, cancelling and reverting changes.
#include <cstring>
#include <vector>

#include "dataaccess/core/MemData.h"
#include "platform/rtl/Numbers.h"

namespace dac {

namespace {

uint8_t Status(PItemHeader i) {
    return ItemHeader::Status(i);
}
uint8_t Result(PItemHeader i) {
    return ItemHeader::UpdateResult(i);
}

}  // namespace

void TData::ChangeCachedUpdates(bool value) {
    if (value == CachedUpdates) return;
    if (value) {
        CachedUpdates = true;
        SetFilterItemTypes(DefaultCachedItemTypes);
        return;
    }
    CancelUpdates();
    CachedUpdates = false;
    // Rows hidden by their update status come back.
    if (active_) FilterUpdated();
}

// ---------------------------------------------------------------------------------------------
// The cache list

void TMemData::AddCacheItem(PItemHeader item) {
    auto* entry = new TCacheItem();
    entry->Item = item;
    entry->Serial = ++nextCacheSerial_;
    entry->Prev = cacheTail_;
    if (cacheTail_)
        cacheTail_->Next = entry;
    else
        cacheHead_ = entry;
    cacheTail_ = entry;
    cacheIndex_[item] = entry;
}

TMemData::TCacheItem* TMemData::FindCacheItem(PItemHeader item) const {
    auto it = cacheIndex_.find(item);
    return it == cacheIndex_.end() ? nullptr : it->second;
}

void TMemData::RemoveCacheItem(TCacheItem* entry) {
    if (entry->Prev)
        entry->Prev->Next = entry->Next;
    else
        cacheHead_ = entry->Next;
    if (entry->Next)
        entry->Next->Prev = entry->Prev;
    else
        cacheTail_ = entry->Prev;
    cacheIndex_.erase(entry->Item);
    ++cacheRemovals_;
    delete entry;
}

bool TMemData::IsCacheItemAlive(const CacheRef& ref) const {
    if (!ref.Entry) return false;
    auto it = cacheIndex_.find(ref.Item);
    return it != cacheIndex_.end() && it->second == ref.Entry && ref.Entry->Serial == ref.Serial;
}

void TMemData::FreeCacheItems() {
    while (cacheHead_) {
        TCacheItem* next = cacheHead_->Next;
        delete cacheHead_;
        cacheHead_ = next;
    }
    cacheTail_ = nullptr;
    if (!cacheIndex_.empty()) ++cacheRemovals_;
    cacheIndex_.clear();
}

std::vector<PItemHeader> TMemData::CachedItems() const {
    std::vector<PItemHeader> items;
    for (TCacheItem* e = cacheHead_; e; e = e->Next) items.push_back(e->Item);
    return items;
}

// ---------------------------------------------------------------------------------------------
// Status and results

int TMemData::GetUpdateStatus() {
    return CurrentItem ? Status(CurrentItem) : ItemUnmodified;
}

int TMemData::GetUpdateResult() {
    return CurrentItem ? Result(CurrentItem) : urNone;
}

bool TMemData::UpdatesPending() {
    for (TCacheItem* e = cacheHead_; e; e = e->Next)
        if (Result(e->Item) != urApplied) return true;
    return false;
}

bool TMemData::HasUnappliedChanges() {
    for (TCacheItem* e = cacheHead_; e; e = e->Next) {
        const uint8_t status = Status(e->Item);
        if ((status == ItemModified || status == ItemDeleted) && Result(e->Item) != urApplied) return true;
    }
    return false;
}

void TMemData::SetCacheRecBuf(void* newBuf, void* oldBuf) {
    NewValuesBuffer = newBuf;
    OldValuesBuffer = oldBuf;
}

void TMemData::ResetUpdateResults() {
    if (!CachedUpdates) return;
    for (TCacheItem* e = cacheHead_; e; e = e->Next) ItemHeader::SetUpdateResult(e->Item, urNone);
}

void TMemData::GetOldRecord(void* recBuf) {
    if (Eof() || Bof() || !CurrentItem) return;
    if (IsFilteredOut(CurrentItem)) {
        GetNextRecord(recBuf);
        if (!CurrentItem) return;
    }
    PItemHeader rollback = ItemHeader::Rollback(CurrentItem);
    blockManager_.GetItemRecord(rollback ? rollback : CurrentItem, recBuf);
}

// ---------------------------------------------------------------------------------------------
// Rollback copies

void TMemData::ForEachBlobField(const std::function<void(TFieldDesc*)>& f) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* field = fields_[i];
        if (!field->HasParent() && field->Kind != 2 && IsBlobFieldType(field->DataType)) f(field);
    }
}

void TMemData::MakeRollback(PItemHeader item) {
    PItemHeader rollback;
    blockManager_.AllocItem(rollback);
    blockManager_.CopyItemRecord(item, rollback);
    ItemHeader::SetRollback(item, rollback);
    if (hasComplexFields_) AddRefComplexFields(ItemRecord(rollback));
}

// A blob the row shares with its rollback copy, changed since: the copy gets a blob of its own
// holding the old content, and the row's blob forgets it.
void TMemData::SplitRollbackBlobs(PItemHeader item) {
    PItemHeader rollback = ItemHeader::Rollback(item);
    if (!rollback || !hasComplexFields_) return;
    void* row = ItemRecord(item);
    void* copy = ItemRecord(rollback);
    ForEachBlobField([&](TFieldDesc* field) {
        auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, row)));
        if (!blob || PlacePointer(field, copy) != PlacePointer(field, row) || !blob->CanRollback()) return;
        auto* old = new TCompressedBlob(blob->IsUnicode());
        old->SetData(blob->RollbackData());
        SetPlacePointer(field, copy, old->GetHandle());
        blob->Commit();
        blob->Free();
    });
}

void TMemData::FreeRollback(PItemHeader item) {
    PItemHeader rollback = ItemHeader::Rollback(item);
    if (!rollback) return;
    if (hasComplexFields_) FreeComplexFields(ItemRecord(rollback), true);
    blockManager_.FreeItem(rollback);
    ItemHeader::SetRollback(item, nullptr);
}

void TMemData::RestoreFromRollback(PItemHeader item) {
    PItemHeader rollback = ItemHeader::Rollback(item);
    if (!rollback) return;
    void* row = ItemRecord(item);
    void* copy = ItemRecord(rollback);
    if (hasComplexFields_) {
        // The row's blob object survives and takes the old content back.
        ForEachBlobField([&](TFieldDesc* field) {
            auto* rowBlob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, row)));
            auto* copyBlob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, copy)));
            if (!rowBlob || !copyBlob || rowBlob == copyBlob) return;
            rowBlob->AddRef();
            rowBlob->SetData(copyBlob->GetData());
            SetPlacePointer(field, copy, rowBlob->GetHandle());
            copyBlob->Free();
        });
    }
    const int direction = HasSortColumns() ? CompareRecords(copy, row) : 0;
    if (hasComplexFields_) FreeComplexFields(row, true);
    std::memcpy(row, copy, static_cast<std::size_t>(recordSize_));
    blockManager_.FreeItem(rollback);
    ItemHeader::SetRollback(item, nullptr);
    ItemHeader::SetFilterResult(item, frUnknown);
    recordNoCache_.clear();
    if (direction != 0) MoveSortedItem(item, direction);
}

void TMemData::DisposeItem(PItemHeader item) {
    FreeRollback(item);
    if (hasComplexFields_) FreeComplexFields(ItemRecord(item), true);
    DeleteItem(item);
}

// ---------------------------------------------------------------------------------------------
// Recording changes (the cached branches of the editing operations)

void TMemData::RecordUpdate(PItemHeader item) {
    const uint8_t status = Status(item);
    if (status == ItemUnmodified) AddCacheItem(item);
    if (!(status == ItemInserted && Result(item) != urApplied)) {
        ItemHeader::SetStatus(item, ItemModified);
        if (!ItemHeader::Rollback(item)) MakeRollback(item);
    }
    SplitRollbackBlobs(item);
    ItemHeader::SetUpdateResult(item, urNone);
}

void TMemData::DeleteCachedRecord() {
    PItemHeader item = CurrentItem;
    rtl::Assert(item != nullptr, "MemData: no current record");
    const bool wasVisible = IsVisible(item);
    const PItemHeader pred = ItemHeader::Prev(item);
    const PItemHeader succ = ItemHeader::Next(item);
    bool moved = false;
    switch (Status(item)) {
        case ItemUnmodified:
            AddCacheItem(item);
            ItemHeader::SetStatus(item, ItemDeleted);
            ItemHeader::SetUpdateResult(item, urNone);
            break;
        case ItemModified:
            // The deletion is of the row as it was before its change.
            RestoreFromRollback(item);
            ItemHeader::SetStatus(item, ItemDeleted);
            ItemHeader::SetUpdateResult(item, urNone);
            moved = ItemHeader::Prev(item) != pred || ItemHeader::Next(item) != succ;
            if (succ)
                CurrentItem = ItemHeader::Prev(succ) ? ItemHeader::Prev(succ) : FirstItem;
            else if (pred)
                CurrentItem = ItemHeader::Next(pred) ? ItemHeader::Next(pred) : LastItem;
            break;
        case ItemInserted:
            // Never applied: the row disappears.
            if (TCacheItem* entry = FindCacheItem(item)) RemoveCacheItem(entry);
            DisposeItem(item);
            if (wasVisible) {
                --recordCount_;
                RenumberItems(CurrentItem, 1);
            }
            return;
        default:
            break;
    }
    ItemHeader::SetFilterResult(item, frUnknown);
    const bool visible = IsVisible(item);
    if (moved) {
        RenumberItems(nullptr, 2);
    } else if (wasVisible && !visible) {
        --recordCount_;
        RenumberItems(CurrentItem, 1);
    } else if (!wasVisible && visible) {
        ++recordCount_;
        RenumberItems(item, 0);
    } else {
        recordNoCache_.clear();
    }
}

// ---------------------------------------------------------------------------------------------
// Reverting

bool TMemData::RevertItem(PItemHeader item) {
    bool removed = false;
    switch (Status(item)) {
        case ItemModified:
            RestoreFromRollback(item);
            ItemHeader::SetStatus(item, ItemUnmodified);
            break;
        case ItemInserted:
            DisposeItem(item);
            removed = true;
            break;
        case ItemDeleted:
            ItemHeader::SetStatus(item, ItemUnmodified);
            break;
        default:
            break;
    }
    if (!removed) {
        ItemHeader::SetUpdateResult(item, urNone);
        ItemHeader::SetFilterResult(item, frUnknown);
    }
    DoRevertRecord();
    return removed;
}

void TMemData::RevertRecord() {
    if (!CurrentItem) return;
    TCacheItem* entry = FindCacheItem(CurrentItem);
    if (!entry) return;
    PItemHeader item = CurrentItem;
    RemoveCacheItem(entry);
    RevertItem(item);
    // The row may have moved, appeared or gone: count and number the rows again.
    RenumberItems(nullptr, 2);
}

void TMemData::CancelUpdates() {
    if (!cacheHead_) return;
    DoCancelUpdates();
    while (cacheHead_) {
        PItemHeader item = cacheHead_->Item;
        RemoveCacheItem(cacheHead_);
        RevertItem(item);
    }
    RenumberItems(nullptr, 2);
}

// ---------------------------------------------------------------------------------------------
// Applying and committing

TMemData::CacheRef TMemData::RefOf(TCacheItem* entry) const {
    return entry ? CacheRef{entry, entry->Item, entry->Serial} : CacheRef{};
}

bool TMemData::ApplyEntries(int kinds, bool& changed) {
    const uint32_t generation = generation_;
    // Entries handed to the hook whose result was deferred, in order.
    std::vector<CacheRef> batch;
    auto record = [&](TCacheItem* entry, int action) {
        ItemHeader::SetUpdateResult(entry->Item, static_cast<uint8_t>(action));
        if (action == urDeferred) {
            batch.push_back(RefOf(entry));
            return;
        }
        for (const CacheRef& ref : batch)
            if (IsCacheItemAlive(ref)) ItemHeader::SetUpdateResult(ref.Item, static_cast<uint8_t>(action));
        batch.clear();
    };

    TCacheItem* entry = cacheHead_;
    while (entry) {
        PItemHeader item = entry->Item;
        if (Result(item) == urApplied) {
            entry = entry->Next;
            continue;
        }
        const uint8_t status = Status(item);
        int kind;
        void* old = ItemRecord(item);
        switch (status) {
            case ItemModified:
                kind = ukModify;
                rtl::Assert(ItemHeader::Rollback(item) != nullptr,
                            "MemData: a modified row has no old values");
                old = ItemRecord(ItemHeader::Rollback(item));
                break;
            case ItemInserted:
                kind = ukInsert;
                break;
            case ItemDeleted:
                kind = ukDelete;
                break;
            default:
                rtl::Assert(false, "MemData: a cached row has no change to apply");
                return true;
        }
        const int wanted = kind == ukModify ? akModified : (kind == ukInsert ? akInserted : akDeleted);
        if (!(kinds & wanted)) {
            entry = entry->Next;
            continue;
        }
        std::memcpy(NewValuesBuffer, ItemRecord(item), static_cast<std::size_t>(recordSize_));
        std::memcpy(OldValuesBuffer, old, static_cast<std::size_t>(recordSize_));
        CurrentItem = item;
        const CacheRef self = RefOf(entry);
        const CacheRef next = RefOf(entry->Next);
        const uint64_t removals = cacheRemovals_;
        int action = urFail;
        try {
            DoApplyRecord(kind, action, entry->Next == nullptr);
        } catch (...) {
            if (generation_ == generation && IsCacheItemAlive(self)) {
                record(entry, action);
                CurrentItem = item;
            }
            throw;
        }
        // The hook may have closed the storage or taken changes back.
        if (generation_ != generation) return false;
        if (removals != cacheRemovals_ && !IsCacheItemAlive(self)) {
            std::erase_if(batch, [this](const CacheRef& ref) { return !IsCacheItemAlive(ref); });
            entry = IsCacheItemAlive(next) ? next.Entry : nullptr;
            continue;
        }
        if (kind != ukDelete &&
            std::memcmp(NewValuesBuffer, ItemRecord(item), static_cast<std::size_t>(recordSize_))) {
            // Values the hook filled in (for example keys the database assigned).
            const int direction = HasSortColumns() ? CompareRecords(NewValuesBuffer, ItemRecord(item)) : 0;
            std::memcpy(ItemRecord(item), NewValuesBuffer, static_cast<std::size_t>(recordSize_));
            ItemHeader::SetFilterResult(item, frUnknown);
            if (direction != 0) MoveSortedItem(item, direction);
            changed = true;
        }
        const CacheRef restart = batch.empty() ? self : batch.front();
        record(entry, action);
        if (action == urRetry) {
            entry = IsCacheItemAlive(restart) ? restart.Entry : entry;
            continue;
        }
        entry = entry->Next;
    }
    return true;
}

void TMemData::ApplyUpdates(int kinds) {
    if (!CachedUpdates) return;
    const PItemHeader saved = CurrentItem;
    const uint32_t savedSerial = SerialOf(saved);
    // Without buffers lent by the dataset the storage uses its own for the walk.
    std::vector<uint8_t> ownNew, ownOld;
    const bool lendNew = NewValuesBuffer == nullptr, lendOld = OldValuesBuffer == nullptr;
    if (lendNew) {
        ownNew.assign(static_cast<std::size_t>(recordSize_), 0);
        NewValuesBuffer = ownNew.data();
    }
    if (lendOld) {
        ownOld.assign(static_cast<std::size_t>(recordSize_), 0);
        OldValuesBuffer = ownOld.data();
    }
    auto giveBack = [&] {
        if (lendNew && NewValuesBuffer == ownNew.data()) NewValuesBuffer = nullptr;
        if (lendOld && OldValuesBuffer == ownOld.data()) OldValuesBuffer = nullptr;
    };
    bool changed = false;
    bool intact;
    try {
        intact = ApplyEntries(kinds, changed);
    } catch (...) {
        giveBack();
        if (changed) RenumberItems(nullptr, 2);
        throw;
    }
    giveBack();
    if (!intact) return;
    CurrentItem = saved && SerialOf(saved) == savedSerial && IsLiveItem(saved) ? saved : nullptr;
    if (changed) RenumberItems(nullptr, 2);
    DoAfterApplyUpdates();
}

void TMemData::CommitUpdates() {
    if (UpdatesPending()) ApplyUpdates(akAll);
    bool changed = false;
    for (TCacheItem* entry = cacheHead_; entry;) {
        TCacheItem* next = entry->Next;
        PItemHeader item = entry->Item;
        if (Result(item) == urApplied) {
            RemoveCacheItem(entry);
            FreeRollback(item);
            if (Status(item) == ItemDeleted) {
                DisposeItem(item);
            } else {
                ItemHeader::SetStatus(item, ItemUnmodified);
                ItemHeader::SetUpdateResult(item, urNone);
                ItemHeader::SetFilterResult(item, frUnknown);
            }
            changed = true;
        }
        entry = next;
    }
    if (changed) RenumberItems(nullptr, 2);
}

}  // namespace dac
