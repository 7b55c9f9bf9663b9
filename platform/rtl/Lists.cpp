// Pointer lists: TList, TObjectList and TThreadList.
#include "platform/rtl/Lists.h"

#include <algorithm>

namespace rtl {

TList::~TList() {
    Clear();
}

void TList::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TList::Add(void* item) {
    items_.push_back(item);
    if (item) Notify(item, lnAdded);
    return Count() - 1;
}

void TList::Insert(int index, void* item) {
    if (index < 0 || index > Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    items_.insert(items_.begin() + index, item);
    if (item) Notify(item, lnAdded);
}

void TList::Delete(int index) {
    CheckIndex(index);
    void* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    if (item) Notify(item, lnDeleted);
}

int TList::Remove(void* item) {
    int i = IndexOf(item);
    if (i >= 0) Delete(i);
    return i;
}

void* TList::Extract(void* item) {
    int i = IndexOf(item);
    if (i < 0) return nullptr;
    items_.erase(items_.begin() + i);
    if (item) Notify(item, lnExtracted);
    return item;
}

void TList::Clear() {
    SetCount(0);
    items_.shrink_to_fit();
}

void TList::SetCount(int value) {
    if (value < 0) throw EListError("List count out of bounds (" + std::to_string(value) + ")");
    while (Count() > value) Delete(Count() - 1);
    if (value > Count()) items_.resize(static_cast<std::size_t>(value), nullptr);
}

void TList::SetCapacity(int value) {
    if (value < Count()) throw EListError("List capacity out of bounds (" + std::to_string(value) + ")");
    if (static_cast<std::size_t>(value) > items_.capacity()) {
        items_.reserve(static_cast<std::size_t>(value));
    } else {
        items_.shrink_to_fit();
    }
}

void* TList::Items(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)];
}

void TList::SetItems(int index, void* item) {
    CheckIndex(index);
    void* old = items_[static_cast<std::size_t>(index)];
    if (old == item) return;
    items_[static_cast<std::size_t>(index)] = item;
    if (old) Notify(old, lnDeleted);
    if (item) Notify(item, lnAdded);
}

int TList::IndexOf(const void* item) const {
    auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
}

void TList::Move(int curIndex, int newIndex) {
    if (curIndex == newIndex) return;
    CheckIndex(curIndex);
    CheckIndex(newIndex);
    void* item = items_[static_cast<std::size_t>(curIndex)];
    items_.erase(items_.begin() + curIndex);
    items_.insert(items_.begin() + newIndex, item);
}

void TList::Pack() {
    items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
}

void TList::Sort(const TListSortCompare& compare) {
    std::stable_sort(items_.begin(), items_.end(), [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::Notify(void*, TListNotification) {}

// ---------------------------------------------------------------------------------------------

// The base destructor cannot reach our Notify any more, so the objects are freed here.
TObjectList::~TObjectList() {
    Clear();
}

void TObjectList::Notify(void* item, TListNotification action) {
    if (ownsObjects_ && action == lnDeleted) Free(static_cast<TObject*>(item));
    TList::Notify(item, action);
}

// ---------------------------------------------------------------------------------------------

TList* TThreadList::LockList() {
    lock_.lock();
    return &list_;
}

void TThreadList::UnlockList() {
    lock_.unlock();
}

void TThreadList::Add(void* item) {
    std::lock_guard guard(lock_);
    if (list_.IndexOf(item) < 0) list_.Add(item);
}

void TThreadList::Remove(void* item) {
    std::lock_guard guard(lock_);
    list_.Remove(item);
}

void TThreadList::Clear() {
    std::lock_guard guard(lock_);
    list_.Clear();
}

}  // namespace rtl
