// String lists: TStrings (text forms, names and values, files) and TStringList.
#include <algorithm>
#include <numeric>

#include "platform/rtl/Lists.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace rtl {
namespace {

constexpr const char* kSortedListError = "Operation not allowed on sorted list";
constexpr const char* kDuplicateString = "String list does not allow duplicates";

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Runs f between BeginUpdate and EndUpdate, also when f throws.
template <class F>
void Updating(TStrings& list, F&& f) {
    list.BeginUpdate();
    try {
        f();
    } catch (...) {
        list.EndUpdate();
        throw;
    }
    list.EndUpdate();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TStrings

void TStrings::IndexError(int index) {
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TStrings::Put(int index, const std::string& s) {
    TObject* obj = GetObject(index);
    Delete(index);
    InsertObject(index, s, obj);
}

TObject* TStrings::GetObject(int) const {
    return nullptr;
}

void TStrings::PutObject(int, TObject*) {}

void TStrings::InsertObject(int index, const std::string& s, TObject* obj) {
    Insert(index, s);
    PutObject(index, obj);
}

int TStrings::Add(const std::string& s) {
    const int index = Count();
    Insert(index, s);
    return index;
}

int TStrings::AddObject(const std::string& s, TObject* obj) {
    const int index = Add(s);
    PutObject(index, obj);
    return index;
}

void TStrings::AddStrings(const TStrings& strings) {
    Updating(*this, [&] {
        for (int i = 0; i < strings.Count(); ++i) AddObject(strings.Get(i), strings.GetObject(i));
    });
}

void TStrings::Exchange(int index1, int index2) {
    Updating(*this, [&] {
        const std::string s1 = Get(index1);
        TObject* o1 = GetObject(index1);
        Put(index1, Get(index2));
        PutObject(index1, GetObject(index2));
        Put(index2, s1);
        PutObject(index2, o1);
    });
}

void TStrings::Move(int curIndex, int newIndex) {
    if (curIndex == newIndex) return;
    Updating(*this, [&] {
        const std::string s = Get(curIndex);
        TObject* obj = GetObject(curIndex);
        Delete(curIndex);
        InsertObject(newIndex, s, obj);
    });
}

int TStrings::IndexOf(const std::string& s) const {
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(Get(i), s) == 0) return i;
    return -1;
}

int TStrings::IndexOfObject(const TObject* obj) const {
    for (int i = 0; i < Count(); ++i)
        if (GetObject(i) == obj) return i;
    return -1;
}

int TStrings::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string s = Get(i);
        const auto p = s.find(nameValueSeparator_);
        if (p != std::string::npos && CompareStrings(s.substr(0, p), name) == 0) return i;
    }
    return -1;
}

std::string TStrings::Names(int index) const {
    const std::string s = Get(index);
    const auto p = s.find(nameValueSeparator_);
    return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::ValueFromIndex(int index) const {
    const std::string s = Get(index);
    const auto p = s.find(nameValueSeparator_);
    return p == std::string::npos ? std::string() : s.substr(p + 1);
}

std::string TStrings::Values(const std::string& name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(const std::string& name, const std::string& value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    const std::string line = name + nameValueSeparator_ + value;
    if (i < 0) {
        Add(line);
        return;
    }
    // A sorted list cannot take Put; the line goes out and back in at its place.
    auto* sl = dynamic_cast<TStringList*>(this);
    if (sl && sl->Sorted()) {
        Updating(*this, [&] {
            TObject* obj = GetObject(i);
            const bool owns = sl->OwnsObjects();
            sl->SetOwnsObjects(false);
            try {
                Delete(i);
            } catch (...) {
                sl->SetOwnsObjects(owns);
                throw;
            }
            sl->SetOwnsObjects(owns);
            AddObject(line, obj);
        });
        return;
    }
    Put(i, line);
}

void TStrings::SetValueFromIndex(int index, const std::string& value) {
    const std::string s = Get(index);
    const auto p = s.find(nameValueSeparator_);
    const std::string name = p == std::string::npos ? std::string() : s.substr(0, p);
    Put(index, name + nameValueSeparator_ + value);
}

std::string TStrings::Text() const {
    std::string r;
    for (int i = 0; i < Count(); ++i) {
        r += Get(i);
        r += sLineBreak;
    }
    return r;
}

void TStrings::SetText(std::string_view text) {
    Updating(*this, [&] {
        Clear();
        std::size_t i = 0;
        const std::size_t n = text.size();
        while (i < n) {
            std::size_t start = i;
            while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
            Add(std::string(text.substr(start, i - start)));
            if (i < n && text[i] == '\r') ++i;
            if (i < n && text[i] == '\n') ++i;
        }
    });
}

std::string TStrings::DelimitedTextWith(char delimiter, char quote, bool strict) const {
    const int count = Count();
    if (count == 1 && Get(0).empty()) return std::string(2, quote);
    std::string r;
    for (int i = 0; i < count; ++i) {
        const std::string s = Get(i);
        const bool needsQuotes = std::any_of(s.begin(), s.end(), [&](char c) {
            return c == quote || c == delimiter || c == '\0' || (!strict && IsBlank(c));
        });
        if (i > 0) r += delimiter;
        r += needsQuotes ? AnsiQuotedStr(s, quote) : s;
    }
    return r;
}

void TStrings::SetDelimitedTextWith(std::string_view text, char delimiter, char quote, bool strict) {
    Updating(*this, [&] {
        Clear();
        std::size_t i = 0;
        const std::size_t n = text.size();
        auto skipBlanks = [&] {
            if (!strict)
                while (i < n && IsBlank(text[i])) ++i;
        };
        skipBlanks();
        while (i < n) {
            std::string item;
            if (text[i] == quote) {
                std::string_view rest;
                if (ExtractQuotedStr(text.substr(i), quote, item, &rest)) {
                    i = n - rest.size();
                } else {
                    // No closing quote: the item is the rest of the text.
                    item.clear();
                    for (std::size_t k = i + 1; k < n; ++k) {
                        item += text[k];
                        if (text[k] == quote && k + 1 < n && text[k + 1] == quote) ++k;
                    }
                    i = n;
                }
            } else {
                const std::size_t start = i;
                while (i < n && text[i] != delimiter && (strict || !IsBlank(text[i]))) ++i;
                item.assign(text.substr(start, i - start));
            }
            Add(item);
            skipBlanks();
            if (i < n && text[i] == delimiter) {
                if (i + 1 == n) Add(std::string());  // a trailing delimiter ends an empty item
                ++i;
                skipBlanks();
            }
        }
    });
}

std::string TStrings::DelimitedText() const {
    return DelimitedTextWith(delimiter_, quoteChar_, strictDelimiter_);
}

void TStrings::SetDelimitedText(std::string_view text) {
    SetDelimitedTextWith(text, delimiter_, quoteChar_, strictDelimiter_);
}

std::string TStrings::CommaText() const {
    return DelimitedTextWith(',', '"', false);
}

void TStrings::SetCommaText(std::string_view text) {
    SetDelimitedTextWith(text, ',', '"', false);
}

void TStrings::BeginUpdate() {
    if (updateCount_ == 0) SetUpdateState(true);
    ++updateCount_;
}

void TStrings::EndUpdate() {
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

void TStrings::Assign(TPersistent* source) {
    auto* other = dynamic_cast<TStrings*>(source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this) return;
    Updating(*this, [&] {
        Clear();
        AddStrings(*other);
    });
}

bool TStrings::Equals(const TStrings& other) const {
    if (Count() != other.Count()) return false;
    for (int i = 0; i < Count(); ++i)
        if (Get(i) != other.Get(i)) return false;
    return true;
}

void TStrings::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TStrings::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Size() - stream.Position();
    std::string bytes(static_cast<std::size_t>(std::max<int64_t>(size, 0)), '\0');
    if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    SetText(bytes);
}

void TStrings::SaveToFile(const std::string& fileName) const {
    TFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
}

void TStrings::SaveToStream(TStream& stream) const {
    const std::string text = Text();
    if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

std::vector<std::string> TStrings::ToVector() const {
    std::vector<std::string> r;
    r.reserve(static_cast<std::size_t>(Count()));
    for (int i = 0; i < Count(); ++i) r.push_back(Get(i));
    return r;
}

int TStrings::CompareStrings(const std::string& a, const std::string& b) const {
    return AnsiCompareText(a, b);
}

// ---------------------------------------------------------------------------------------------
// TStringList

TStringList::~TStringList() {
    OnChange = nullptr;
    OnChanging = nullptr;
    if (ownsObjects_)
        for (Item& item : items_) FreeAndNil(item.obj);
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
}

std::string TStringList::Get(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)].str;
}

void TStringList::Put(int index, const std::string& s) {
    if (sorted_) throw EStringListError(kSortedListError);
    CheckIndex(index);
    Changing();
    items_[static_cast<std::size_t>(index)].str = s;
    Changed();
}

TObject* TStringList::GetObject(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)].obj;
}

void TStringList::PutObject(int index, TObject* obj) {
    CheckIndex(index);
    Changing();
    TObject*& slot = items_[static_cast<std::size_t>(index)].obj;
    TObject* old = slot;
    slot = obj;
    if (ownsObjects_ && old != obj) Free(old);
    Changed();
}

void TStringList::Insert(int index, const std::string& s) {
    InsertObject(index, s, nullptr);
}

void TStringList::InsertObject(int index, const std::string& s, TObject* obj) {
    if (sorted_) throw EStringListError(kSortedListError);
    if (index < 0 || index > Count()) IndexError(index);
    InsertItem(index, s, obj);
}

void TStringList::InsertItem(int index, const std::string& s, TObject* obj) {
    Changing();
    items_.insert(items_.begin() + index, Item{s, obj});
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    TObject* obj = items_[static_cast<std::size_t>(index)].obj;
    items_.erase(items_.begin() + index);
    if (ownsObjects_) Free(obj);
    Changed();
}

void TStringList::Clear() {
    if (items_.empty()) return;
    Changing();
    std::vector<Item> old;
    old.swap(items_);
    if (ownsObjects_)
        for (Item& item : old) FreeAndNil(item.obj);
    Changed();
}

int TStringList::Add(const std::string& s) {
    return AddObject(s, nullptr);
}

int TStringList::AddObject(const std::string& s, TObject* obj) {
    int index = Count();
    if (sorted_ && Find(s, index)) {
        if (duplicates_ == dupIgnore) return index;
        if (duplicates_ == dupError) throw EStringListError(kDuplicateString);
    }
    InsertItem(index, s, obj);
    return index;
}

void TStringList::Exchange(int index1, int index2) {
    CheckIndex(index1);
    CheckIndex(index2);
    Changing();
    std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
    Changed();
}

void TStringList::Move(int curIndex, int newIndex) {
    if (curIndex == newIndex) return;
    if (sorted_) throw EStringListError(kSortedListError);
    CheckIndex(curIndex);
    CheckIndex(newIndex);
    Changing();
    Item item = std::move(items_[static_cast<std::size_t>(curIndex)]);
    items_.erase(items_.begin() + curIndex);
    items_.insert(items_.begin() + newIndex, std::move(item));
    Changed();
}

int TStringList::IndexOf(const std::string& s) const {
    if (!sorted_) return TStrings::IndexOf(s);
    int index = 0;
    return Find(s, index) ? index : -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
    int lo = 0, hi = Count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (CompareStrings(items_[static_cast<std::size_t>(mid)].str, s) < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    index = lo;
    return lo < Count() && CompareStrings(items_[static_cast<std::size_t>(lo)].str, s) == 0;
}

void TStringList::Sort() {
    if (sorted_ || Count() < 2) return;
    Changing();
    std::stable_sort(items_.begin(), items_.end(),
                     [&](const Item& a, const Item& b) { return CompareStrings(a.str, b.str) < 0; });
    Changed();
}

void TStringList::CustomSort(const TStringListSortCompare& compare) {
    if (sorted_ || Count() < 2) return;
    Changing();
    // The comparison reads the list by index, so the list stays as it is while the order of the
    // indexes is worked out.
    std::vector<int> order(items_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(items_.size());
    for (int i : order) sorted.push_back(std::move(items_[static_cast<std::size_t>(i)]));
    items_.swap(sorted);
    Changed();
}

void TStringList::SetSorted(bool value) {
    if (value == sorted_) return;
    if (value) Sort();
    sorted_ = value;
}

void TStringList::SetCaseSensitive(bool value) {
    if (value == caseSensitive_) return;
    caseSensitive_ = value;
    if (sorted_) {
        sorted_ = false;
        Sort();
        sorted_ = true;
    }
}

void TStringList::SetUpdateState(bool updating) {
    if (updating) {
        Changing();
    } else {
        Changed();
    }
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
    return caseSensitive_ ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

}  // namespace rtl
