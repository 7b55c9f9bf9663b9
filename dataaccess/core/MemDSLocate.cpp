// The dataset over record storage: searching. Keys become buffers in the storage's comparison
// form; a search over keys that lead the storage's sort order is a binary search over record
// numbers, any other a scan. Locate, Lookup, FindRecord and the field-array searches sit on it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dataaccess/core/MemDS.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

using db::TField;
using rtl::Variant;

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using KeyBuffer = std::unique_ptr<void, FreeDeleter>;

[[noreturn]] void CannotConvert() {
    throw rtl::EConvertError("Cannot convert type");
}

void* CopyBytes(const void* data, size_t size) {
    void* buffer = std::malloc(std::max<size_t>(size, 1));
    if (!buffer) throw rtl::EOutOfMemory("Out of memory");
    if (size) std::memcpy(buffer, data, size);
    return buffer;
}

template <class T>
void* ValueBuffer(T value) {
    return CopyBytes(&value, sizeof value);
}

void* TextBuffer(const AnsiString& text) {
    return CopyBytes(text.c_str(), text.size() + 1);
}

void* WideTextBuffer(const WideString& text) {
    return CopyBytes(text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

// A 16-bit length and the bytes.
void* BytesBuffer(const uint8_t* data, size_t size) {
    if (size > 0xFFFF) CannotConvert();
    auto* buffer = static_cast<uint8_t*>(CopyBytes(nullptr, size + 2));
    PokePacked<uint16_t>(buffer, 0, static_cast<uint16_t>(size));
    if (size) std::memcpy(buffer + 2, data, size);
    return buffer;
}

bool IsBytesType(TDataType dt) {
    return dt == dtBytes || dt == dtVarBytes || dt == dtVarBytesRef;
}

bool IsIntegerType(TDataType dt) {
    return dt == dtInt8 || dt == dtSmallint || dt == dtInteger || dt == dtWord;
}

// A value that is not a string, brought to the descriptor's type. Integers take the width the
// storage compares them in, so a value out of the field's range cannot match by truncation.
void* NativeOfValue(const Variant& value, TDataType dt, TDataType& dataType) {
    dataType = dt;
    switch (dt) {
        case dtString:
        case dtStringRef:
            dataType = dtString;
            return TextBuffer(value.AsString());
        case dtWideString:
        case dtWideStringRef:
            dataType = dtWideString;
            return WideTextBuffer(value.AsWideString());
        case dtInt8:
            return ValueBuffer(value.AsShortInt());
        case dtSmallint:
            return ValueBuffer(value.AsSmallInt());
        case dtInteger:
            return ValueBuffer(value.AsInteger());
        case dtWord:
            return ValueBuffer(value.AsWord());
        case dtUInt32:
            return ValueBuffer(value.AsLongWord());
        case dtFloat:
        case dtCurrency:
        case dtBCD:
            return ValueBuffer(value.AsDouble());
        case dtDate:
        case dtTime:
        case dtDateTime:
            return ValueBuffer(static_cast<double>(value.AsDateTime()));
        case dtBoolean:
            return ValueBuffer(static_cast<uint8_t>(value.AsBoolean() ? 1 : 0));
        case dtLargeint:
            return ValueBuffer(value.AsInt64());
        case dtFmtBcd:
            return ValueBuffer(value.AsBcd());
        case dtBytes:
        case dtVarBytes:
        case dtVarBytesRef: {
            rtl::Assert(value.IsArray(), "Assertion failure");
            const rtl::TBytes bytes = rtl::VariantToBytes(value);
            return BytesBuffer(bytes.data(), bytes.size());
        }
        default:
            CannotConvert();
    }
}

// A text parsed into the descriptor's type; texts of text and byte types are taken as they are.
void* NativeOfParsedText(const Variant& value, TDataType dt, TDataType& dataType) {
    if (dt == dtUnknown || dt == dtBlob || dt == dtMemo || (dt >= dtObject && dt <= dtTable) ||
        dt > dtWideMemo)
        CannotConvert();
    const AnsiString text = value.AsString();
    if (IsIntegerType(dt)) return NativeOfValue(Variant(rtl::StrToInt(text)), dt, dataType);
    switch (dt) {
        case dtFloat:
        case dtCurrency:
        case dtBCD:
        case dtFmtBcd:
            return NativeOfValue(Variant(rtl::StrToFloat(text)), dt, dataType);
        case dtDate:
            return NativeOfValue(Variant::FromDateTime(rtl::StrToDate(text)), dt, dataType);
        case dtTime:
            return NativeOfValue(Variant::FromDateTime(rtl::StrToTime(text)), dt, dataType);
        case dtDateTime:
            return NativeOfValue(Variant::FromDateTime(rtl::StrToDateTime(text)), dt, dataType);
        case dtLargeint:
        case dtUInt32:
            return NativeOfValue(Variant(static_cast<long long>(rtl::StrToInt64(text))), dt, dataType);
        case dtBoolean:
            return NativeOfValue(Variant(rtl::StrToBool(text)), dt, dataType);
        case dtBytes:
        case dtVarBytes:
        case dtVarBytesRef:
            dataType = dt;
            return BytesBuffer(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        case dtWideString:
        case dtWideStringRef:
        case dtWideMemo:
            dataType = dtWideString;
            return WideTextBuffer(value.AsWideString());
        default:
            dataType = dtString;
            return TextBuffer(text);
    }
}

// A text compared as text, except with Boolean and byte fields.
void* NativeOfText(const Variant& value, TDataType dt, TDataType& dataType) {
    if (dt == dtBoolean) return NativeOfValue(value, dt, dataType);
    if (IsBytesType(dt)) {
        const AnsiString text = value.AsString();
        dataType = dt;
        return BytesBuffer(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    if (dt == dtWideString || dt == dtWideStringRef) {
        dataType = dtWideString;
        return WideTextBuffer(value.AsWideString());
    }
    dataType = dtString;
    return TextBuffer(value.AsString());
}

int ComparisonOptions(TSearchOptions options) {
    int result = 0;
    if (options.Contains(srCaseInsensitive)) result |= coCaseInsensitive;
    if (options.Contains(srPartialKey)) result |= coPartialKey;
    if (options.Contains(srPartialCompare)) result |= coContains;
    return result;
}

TSearchOptions SearchOptionsOf(db::TLocateOptions options) {
    TSearchOptions result;
    if (options.Contains(db::loCaseInsensitive)) result.Include(srCaseInsensitive);
    if (options.Contains(db::loPartialKey)) result.Include(srPartialKey);
    return result;
}

}  // namespace

void TMemDataSet::VariantToNativeBuf(const Variant& value, void*& buffer, TDataType& dataType,
                                     TFieldDesc* desc, bool convertStrings) {
    buffer = nullptr;
    if (value.IsEmpty() || value.IsNull()) return;
    const TDataType dt = desc->DataType;
    if (!rtl::VarIsStr(value))
        buffer = NativeOfValue(value, dt, dataType);
    else if (convertStrings)
        buffer = NativeOfParsedText(value, dt, dataType);
    else
        buffer = NativeOfText(value, dt, dataType);
}

// ---------------------------------------------------------------------------------------------
// The search core

struct TMemDataSet::SearchKeys {
    std::vector<TFieldDesc*> descs;
    std::vector<KeyBuffer> buffers;  // nil: a null key
    std::vector<TDataType> types;
    // The keys that lead the sort order come first; their sort columns.
    int sorted = 0;
    std::vector<TSortColumn*> columns;
    bool calcFields = false;
    int options = 0;
};

// The keys in sort order and converted; false when a key cannot be brought to its field's type.
bool TMemDataSet::PrepareKeys(SearchKeys& k, std::vector<TFieldDesc*>& keys, const Variant& keyValues,
                              TSearchOptions options) {
    const int n = static_cast<int>(keys.size());
    for (TFieldDesc* desc : keys)
        if (desc->Kind == 2) k.calcFields = true;

    // A single key may itself be an array value; otherwise an array holds one value per key.
    const bool whole = !keyValues.IsArray() || (n == 1 && keyValues.ArrayHighBound() != 0);
    std::vector<Variant> values(static_cast<size_t>(n), rtl::Null());
    for (int i = 0; i < n; ++i) {
        if (whole) {
            if (i == 0) values[0] = keyValues;
        } else {
            const int index = keyValues.ArrayLowBound() + i;
            if (index <= keyValues.ArrayHighBound())
                values[static_cast<size_t>(i)] = keyValues.GetElement(index);
        }
    }

    if (!options.Contains(srPartialKey) && !options.Contains(srPartialCompare) &&
        !options.Contains(srNearest)) {
        TSortColumns* columns = FIRecordSet->SortColumns();
        for (int c = 0; columns && c < columns->Count() && k.sorted < n; ++c) {
            TSortColumn* column = columns->GetItem(c);
            if ((column->SortType == stCaseInsensitive) != options.Contains(srCaseInsensitive)) break;
            auto it = std::find(keys.begin() + k.sorted, keys.end(), column->FieldDesc);
            if (it == keys.end()) break;
            const auto at = static_cast<size_t>(it - keys.begin());
            std::swap(keys[static_cast<size_t>(k.sorted)], keys[at]);
            std::swap(values[static_cast<size_t>(k.sorted)], values[at]);
            k.columns.push_back(column);
            ++k.sorted;
        }
    }

    k.descs = keys;
    for (int i = 0; i < n; ++i) {
        void* buffer = nullptr;
        TDataType type = keys[static_cast<size_t>(i)]->DataType;
        try {
            VariantToNativeBuf(values[static_cast<size_t>(i)], buffer, type, keys[static_cast<size_t>(i)],
                               i < k.sorted);
        } catch (rtl::Exception&) {
            return false;
        }
        k.buffers.emplace_back(buffer);
        k.types.push_back(type);
    }
    return true;
}

void TMemDataSet::ReadWorkRecord(const SearchKeys& k, void* work) {
    FIRecordSet->GetRecord(work);
    if (k.calcFields) GetCalcFields(static_cast<db::TRecordBuffer>(work));
}

int TMemDataSet::CompareSortedKeys(const SearchKeys& k, void* work) {
    for (int i = 0; i < k.sorted; ++i) {
        TFieldDesc* desc = k.descs[static_cast<size_t>(i)];
        const void* key = k.buffers[static_cast<size_t>(i)].get();
        const bool fieldNull = FIRecordSet->GetNull(desc->FieldNo, work);
        int result;
        if (fieldNull || !key) {
            result = fieldNull == !key ? 0 : (fieldNull ? 1 : -1);
        } else {
            TSortColumn* column = k.columns[static_cast<size_t>(i)];
            int options = k.options & ~coBinary;
            if (column->SortType == stBinary) options |= coBinary;
            result =
                FIRecordSet->CompareFieldValue(key, k.types[static_cast<size_t>(i)], desc, work, options);
        }
        if (result != 0) return k.columns[static_cast<size_t>(i)]->Descending ? -result : result;
    }
    return 0;
}

// The first record in [low, high] whose sorted keys equal the key (the last one when backward);
// the storage stands on it when found.
bool TMemDataSet::BinarySearch(const SearchKeys& k, void* work, int low, int high, bool backward) {
    if (high < low) return false;
    auto compareAt = [&](int recNo) {
        FIRecordSet->SetRecordNo(recNo);
        ReadWorkRecord(k, work);
        return CompareSortedKeys(k, work);
    };
    int found = -1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int c = compareAt(middle);
        if (c == 0) found = middle;
        if (backward ? c >= 0 : c > 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    if (found < 0) return false;
    FIRecordSet->SetRecordNo(found);
    ReadWorkRecord(k, work);
    return true;
}

bool TMemDataSet::RecordMatches(const SearchKeys& k, void* work, bool nearest) {
    for (size_t i = 0; i < k.descs.size(); ++i) {
        TFieldDesc* desc = k.descs[i];
        const void* key = k.buffers[i].get();
        const bool fieldNull = FIRecordSet->GetNull(desc->FieldNo, work);
        if (!key) {
            if (!fieldNull) return false;
            continue;
        }
        if (fieldNull) return false;
        const int c = FIRecordSet->CompareFieldValue(key, k.types[i], desc, work, k.options & ~coBinary);
        if (c != 0 && !(nearest && c < 0)) return false;
    }
    return true;
}

bool TMemDataSet::LocateCore(std::vector<TFieldDesc*> keys, const Variant& keyValues, TSearchOptions options,
                             bool keepPosition) {
    if (keys.empty()) return false;
    CheckBrowseMode();
    CursorPosChanged();
    UpdateCursorPos();
    AssertRecordSet();
    void* work = TempBuffer();
    const bool nearest = options.Contains(srNearest);
    const bool fromNext = options.Contains(srFromNext);
    const bool backward = options.Contains(srBackward);

    std::vector<uint8_t> saved(RecBookmark::Size);
    FIRecordSet->GetBookmark(saved.data());
    auto goBack = [&] {
        if (!(FIRecordSet->Eof() && FIRecordSet->Bof())) FIRecordSet->SetToBookmark(saved.data());
    };

    SearchKeys k;
    k.options = ComparisonOptions(options);
    // A key that cannot be brought to its field's type matches no record.
    if (!PrepareKeys(k, keys, keyValues, options)) {
        goBack();
        return false;
    }
    const int n = static_cast<int>(keys.size());

    int low = 1;
    int high = FIRecordSet->GetRecordCount();
    if (fromNext) {
        if (k.sorted > 0) {
            FIRecordSet->GetNextRecord(work);
            if (FIRecordSet->Eof()) {
                goBack();
                return false;
            }
        }
        low = FIRecordSet->GetRecordNo();
    }
    if (backward) {
        if (k.sorted > 0) FIRecordSet->GetPriorRecord(work);
        high = FIRecordSet->GetRecordNo();
    }

    bool found = false;
    bool candidate = false;
    if (k.sorted > 0) {
        FIRecordSet->BuildRecordNoCache();
        candidate = BinarySearch(k, work, low, high, backward);
        found = candidate && k.sorted >= n;
    }
    if (k.sorted == 0 || (candidate && k.sorted < n)) {
        if (!fromNext && !backward && k.sorted == 0) FIRecordSet->SetToBegin();
        bool test = candidate;
        for (;;) {
            if (!test) {
                if (backward)
                    FIRecordSet->GetPriorRecord(work);
                else
                    FIRecordSet->GetNextRecord(work);
                if (FIRecordSet->Eof() || FIRecordSet->Bof()) {
                    found = nearest;
                    break;
                }
                if (k.calcFields) GetCalcFields(static_cast<db::TRecordBuffer>(work));
            }
            test = false;
            if (RecordMatches(k, work, nearest)) {
                found = true;
                break;
            }
        }
    }
    if (keepPosition || !found) goBack();
    return found;
}

// ---------------------------------------------------------------------------------------------
// Searches

bool TMemDataSet::LocateRecord(const std::string& keyFields, const Variant& keyValues, TSearchOptions options,
                               bool keepPosition) {
    CheckActive();
    AssertRecordSet();
    std::vector<TFieldDesc*> keys;
    int pos = 1;
    while (pos <= static_cast<int>(keyFields.size())) {
        const std::string name = db::ExtractFieldName(keyFields, pos);
        if (!name.empty()) keys.push_back(FIRecordSet->FieldByName(name));
    }
    return LocateCore(std::move(keys), keyValues, options, keepPosition);
}

bool TMemDataSet::LocateRecordByFields(const std::vector<TField*>& keyFields, const Variant& keyValues,
                                       TSearchOptions options, bool keepPosition) {
    CheckActive();
    AssertRecordSet();
    std::vector<TFieldDesc*> keys;
    for (TField* field : keyFields) {
        if (!field) continue;
        TFieldDesc* desc = GetFieldDesc(field);
        if (!desc) throw rtl::Exception(rtl::Format("Field %s not found", {field->FieldName()}));
        keys.push_back(desc);
    }
    return LocateCore(std::move(keys), keyValues, options, keepPosition);
}

bool TMemDataSet::ScrollToFound(const std::function<bool()>& search) {
    DoBeforeScroll();
    const bool found = search();
    if (found) {
        Resync({db::rmExact, db::rmCenter});
        DoAfterScroll();
    }
    return found;
}

bool TMemDataSet::Locate(const std::string& keyFields, const Variant& keyValues, db::TLocateOptions options) {
    return ScrollToFound([&] { return LocateRecord(keyFields, keyValues, SearchOptionsOf(options), false); });
}

bool TMemDataSet::LocateByFields(const std::vector<TField*>& keyFields, const Variant& keyValues,
                                 db::TLocateOptions options) {
    return ScrollToFound(
        [&] { return LocateRecordByFields(keyFields, keyValues, SearchOptionsOf(options), false); });
}

bool TMemDataSet::SearchByFields(const std::vector<TField*>& keyFields, const Variant& keyValues,
                                 TSearchOptions options) {
    DoBeforeScroll();
    const bool found = LocateRecordByFields(keyFields, keyValues, options, false);
    if (found) {
        // Nearest past the last value: the last record.
        if (FIRecordSet->Eof() || FIRecordSet->Bof())
            Resync({});
        else
            Resync({db::rmExact, db::rmCenter});
    }
    DoAfterScroll();
    return found;
}

Variant TMemDataSet::Lookup(const std::string& keyFields, const Variant& keyValues,
                            const std::string& resultFields) {
    if (!LocateRecord(keyFields, keyValues, TSearchOptions{}, true)) return rtl::Null();
    // The found record is in TempBuffer, which the calculated state reads.
    const db::TDataSetState old = SetTempState(db::dsCalcFields);
    Variant result;
    try {
        CalculateFields(TempBuffer());
        result = GetFieldValue(resultFields);
    } catch (...) {
        RestoreState(old);
        throw;
    }
    RestoreState(old);
    return result;
}

bool TMemDataSet::FindRecord(bool restart, bool goForward) {
    CheckBrowseMode();
    DoBeforeScroll();
    bool found = false;
    UpdateCursorPos();
    CursorPosChanged();
    AssertRecordSet();
    // The search applies the filter even while Filtered is off.
    const bool borrowFilter = !Filtered();
    if (borrowFilter) {
        ActivateFilter();
        FIRecordSet->ResetFilterResults();
    }
    auto giveBack = [&] {
        if (!borrowFilter) return;
        DeactivateFilter();
        FIRecordSet->ResetFilterResults();
    };
    try {
        if (goForward) {
            if (restart) FIRecordSet->SetToBegin();
            FIRecordSet->GetNextRecord(nullptr);
        } else {
            if (restart) FIRecordSet->SetToEnd();
            FIRecordSet->GetPriorRecord(nullptr);
        }
    } catch (...) {
        giveBack();
        throw;
    }
    giveBack();
    if (!FIRecordSet->Bof() && !FIRecordSet->Eof()) {
        Resync({db::rmExact, db::rmCenter});
        found = true;
    }
    if (found) DoAfterScroll();
    return found;
}

}  // namespace dac
