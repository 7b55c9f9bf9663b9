// Record storage: value comparison for every data type, sort columns from IndexFieldNames,
// and sorting of the record list.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

template <class T>
int Sign(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int Sign(int r) {
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// A buffer from malloc, freed at the end of the scope unless released.
class MallocBuffer {
public:
    MallocBuffer() = default;
    explicit MallocBuffer(std::size_t size) : p_(std::malloc(std::max<std::size_t>(size, 1))) {
        if (!p_) throw rtl::EOutOfMemory("Out of memory");
    }
    ~MallocBuffer() { std::free(p_); }
    MallocBuffer(const MallocBuffer&) = delete;
    MallocBuffer& operator=(const MallocBuffer&) = delete;
    void* get() const { return p_; }
    void* release() {
        void* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(void* p) {
        std::free(p_);
        p_ = p;
    }

private:
    void* p_ = nullptr;
};

template <class Ch>
std::basic_string<Ch> ZeroTerminated(const void* p) {
    return p ? BoundedText<Ch>(p, INT64_MAX) : std::basic_string<Ch>();
}

bool IsByteArray(const rtl::Variant& v) {
    return v.VarType() == (rtl::varArray | rtl::varByte);
}

// The platform's numeric Variant kinds: SmallInt to Currency, Decimal, ShortInt to Int64.
bool IsNumericKind(rtl::TVarType t) {
    return (t >= rtl::varSmallint && t <= rtl::varCurrency) || (t >= rtl::varDecimal && t <= rtl::varInt64);
}

bool IsStringKind(rtl::TVarType t) {
    return t == rtl::varString || t == rtl::varOleStr;
}

// The place of a field's value: in the record, or a value the column's object hands out.
class FieldPlace {
public:
    FieldPlace(TData& data, TFieldDesc* field, void* recBuf, uint8_t* place) {
        if (!field->HasParent()) {
            p_ = place;
            return;
        }
        bool blank = true;
        data.GetChildField(field, recBuf, p_, blank, native_);
    }
    ~FieldPlace() {
        if (!native_) TDBObject::FreeAttributeBuffer(p_);
    }
    FieldPlace(const FieldPlace&) = delete;
    FieldPlace& operator=(const FieldPlace&) = delete;
    void* get() const { return p_; }

private:
    void* p_ = nullptr;
    bool native_ = true;
};

const char16_t kNoWideText[1] = {0};
const uint8_t kNoBytes[2] = {0, 0};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Texts and bytes

int TData::CompareStrings(const char* key, const char* field, int options) {
    if (options & coBinary) {
        const int r = std::strcmp(key, field);  // compares as unsigned char
        return Sign(r);
    }
    return Sign(options & coCaseInsensitive ? LocaleCompareTextP(key, field) : LocaleCompareStrP(key, field));
}

int TData::CompareAnsiStr(const AnsiString& key, const AnsiString& field, int options) {
    if (options & coBinary) return Sign(rtl::CompareStr(key, field));
    return Sign(options & coCaseInsensitive ? LocaleCompareTextS(key, field) : LocaleCompareStrS(key, field));
}

int TData::CompareWideStr(const WideString& key, const WideString& field, int options) {
    if (options & coBinary) return Sign(key.compare(field));
    return Sign(options & coCaseInsensitive ? LocaleCompareTextW(key.c_str(), field.c_str())
                                            : LocaleCompareStrW(key.c_str(), field.c_str()));
}

int TData::CompareWideStrings(const WideString& key, const WideString& field, int options) {
    const WideString head = field.substr(0, key.size());
    if (options & coBinary) return CompareWideStr(key, head, options);
    const auto n = static_cast<int64_t>(key.size());
    return Sign(options & coCaseInsensitive ? LocaleCompareTextWN(key.c_str(), head.c_str(), n)
                                            : LocaleCompareStrWN(key.c_str(), head.c_str(), n));
}

int TData::CompareAnsiKey(const AnsiString& key, const AnsiString& field, int options) {
    if (options & coContains) {
        if (options & coCaseInsensitive)
            return LocaleUpperCase(field).find(LocaleUpperCase(key)) != AnsiString::npos ? 0 : 1;
        return field.find(key) != AnsiString::npos ? 0 : 1;
    }
    if (options & coPartialKey) {
        if (field.size() < key.size()) return 1;
        if (key.empty()) return CompareAnsiStr(key, field, options);
        return CompareAnsiStr(key, field.substr(0, key.size()), options);
    }
    return CompareAnsiStr(key, field, options);
}

int TData::CompareWideKey(const WideString& key, const WideString& field, int options) {
    if (IsWin9x) return CompareAnsiKey(rtl::WideToAnsi(key), rtl::WideToAnsi(field), options);
    if (options & coContains) {
        if (options & coCaseInsensitive)
            return rtl::WideUpperCase(field).find(rtl::WideUpperCase(key)) != WideString::npos ? 0 : 1;
        return field.find(key) != WideString::npos ? 0 : 1;
    }
    if (options & coPartialKey) {
        if (field.size() < key.size()) return 1;
        return CompareWideStrings(key, field, options);
    }
    return CompareWideStr(key, field, options);
}

int TData::CompareBinary(const void* key, int64_t keyLength, const void* field, int64_t fieldLength,
                         int options) {
    const auto* k = static_cast<const uint8_t*>(key);
    const auto* f = static_cast<const uint8_t*>(field);
    if (options & coContains) {
        if (keyLength > fieldLength) return 1;
        for (int64_t at = 0; at + keyLength <= fieldLength; ++at)
            if (keyLength == 0 || std::memcmp(k, f + at, static_cast<std::size_t>(keyLength)) == 0) return 0;
        return 1;
    }
    if (options & coPartialKey) {
        if (keyLength > fieldLength) return 1;
        return keyLength ? Sign(std::memcmp(k, f, static_cast<std::size_t>(keyLength))) : 0;
    }
    const int64_t n = std::min(keyLength, fieldLength);
    const int r = n ? std::memcmp(k, f, static_cast<std::size_t>(n)) : 0;
    if (r != 0) return Sign(r);
    return Sign(keyLength, fieldLength);
}

int TData::CompareVariants(const rtl::Variant& key, const rtl::Variant& field, int options) {
    const rtl::TVarType kt = key.VarType(), ft = field.VarType();
    if (IsByteArray(key) || IsByteArray(field)) {
        if (key.IsNull() && field.IsNull()) return 0;
        if (field.IsNull()) return 1;
        if (key.IsNull()) return -1;
        if (kt != ft) return Sign(kt, ft);
        const TBytes k = rtl::VariantToBytes(key);
        const TBytes f = rtl::VariantToBytes(field);
        if (k.size() != f.size()) return Sign(k.size(), f.size());
        return k.empty() ? 0 : Sign(std::memcmp(k.data(), f.data(), k.size()));
    }
    if (kt == ft || (IsNumericKind(kt) && IsNumericKind(ft))) {
        switch (rtl::VarCompareValue(key, field)) {
            case rtl::vrEqual:
                return 0;
            case rtl::vrLessThan:
                return -1;
            default:
                return 1;
        }
    }
    if (IsStringKind(kt) || IsStringKind(ft))
        return CompareAnsiKey(rtl::VarToStr(key), rtl::VarToStr(field), options);
    return Sign(kt, ft);
}

// ---------------------------------------------------------------------------------------------
// A field's value as text (for text keys)

namespace {

[[noreturn]] void CannotConvert() {
    throw rtl::EConvertError("Cannot convert type");
}

}  // namespace

AnsiString TData::FieldAnsiText(TFieldDesc* field, void* recBuf, int& options, bool& trim) {
    const TDataType dt = field->DataType;
    trim = false;
    if (IsBlobFieldType(dt)) {
        const int64_t size = GetBlobSize(field->FieldNo, recBuf, false, false);
        AnsiString s(static_cast<std::size_t>(size), '\0');
        if (size > 0)
            s.resize(
                static_cast<std::size_t>(ReadBlob(field->FieldNo, recBuf, 0, 0, s.data(), false, false)));
        return s;
    }
    FieldPlace at(*this, field, recBuf, Place(field, recBuf));
    const void* place = at.get();
    const rtl::TFormatSettings& fs = rtl::FormatSettings();
    auto dateText = [&](const std::string& format) {
        double value = 0;
        GetDateFromBuf(const_cast<void*>(place), field, &value, 1);
        std::string text;
        rtl::DateTimeToString(text, format, value, fs);
        return text;
    };
    switch (dt) {
        case dtString: {
            AnsiString s = BoundedText<char>(place, field->Length);
            trim = field->Fixed ? TrimFixedChar : TrimVarChar;
            if (trim) TrimRightBlanks(s);
            return s;
        }
        case dtStringRef:
            return ZeroTerminated<char>(PeekPacked<const void*>(place, 0));
        case dtWideString: {
            WideString s = BoundedText<char16_t>(place, field->Length);
            trim = field->Fixed ? TrimFixedChar : TrimVarChar;
            if (trim) TrimRightBlanks(s);
            return rtl::WideToAnsi(s);
        }
        case dtWideStringRef:
            return rtl::WideToAnsi(ZeroTerminated<char16_t>(PeekPacked<const void*>(place, 0)));
        case dtInt8:
            return rtl::IntToStr(PeekPacked<int8_t>(place, 0));
        case dtSmallint:
            return rtl::IntToStr(PeekPacked<int16_t>(place, 0));
        case dtInteger:
            return rtl::IntToStr(PeekPacked<int32_t>(place, 0));
        case dtWord:
            return rtl::IntToStr(PeekPacked<uint16_t>(place, 0));
        case dtUInt32:
            return rtl::IntToStr(static_cast<int64_t>(PeekPacked<uint32_t>(place, 0)));
        case dtLargeint:
            return rtl::IntToStr(PeekPacked<int64_t>(place, 0));
        case dtFloat:
        case dtCurrency:
            return rtl::FloatToStr(PeekPacked<double>(place, 0), fs);
        case dtDate:
            return dateText(fs.ShortDateFormat);
        case dtTime:
            return dateText(fs.LongTimeFormat);
        case dtDateTime:
            return dateText("");
        case dtVariant: {
            auto* holder =
                dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PeekPacked<void*>(place, 0)));
            return holder ? rtl::VarToStr(holder->Value) : AnsiString();
        }
        case dtBCD:
            options |= coCaseInsensitive;
            return rtl::CurrToStr(rtl::Currency::FromRaw(PeekPacked<int64_t>(place, 0)), fs);
        case dtFmtBcd:
            options |= coCaseInsensitive;
            return rtl::BcdToStr(PeekPacked<rtl::TBcd>(place, 0), fs);
        case dtGuid:
            options |= coCaseInsensitive;
            return BoundedText<char>(place, field->Length);
        default:
            CannotConvert();
    }
}

WideString TData::FieldWideText(TFieldDesc* field, void* recBuf, int& options, bool& trim) {
    const TDataType dt = field->DataType;
    trim = false;
    if (IsBlobFieldType(dt)) {
        TBlob* blob = GetBlob(field->FieldNo, recBuf);
        return blob->IsUnicode() ? blob->GetAsWideString() : rtl::AnsiToWide(blob->GetAsString());
    }
    if (dt == dtFmtBcd || dt == dtGuid) CannotConvert();
    if (dt == dtWideString || dt == dtWideStringRef) {
        FieldPlace at(*this, field, recBuf, Place(field, recBuf));
        if (dt == dtWideStringRef) return ZeroTerminated<char16_t>(PeekPacked<const void*>(at.get(), 0));
        WideString s = BoundedText<char16_t>(at.get(), field->Length);
        trim = field->Fixed ? TrimFixedChar : TrimVarChar;
        if (trim) TrimRightBlanks(s);
        return s;
    }
    return rtl::AnsiToWide(FieldAnsiText(field, recBuf, options, trim));
}

// ---------------------------------------------------------------------------------------------
// Values of fields

void* TData::GetFieldValueBuffer(void* recBuf, TFieldDesc* field, TDataType& valueType, bool& isBlank,
                                 bool& nativeBuffer) {
    isBlank = GetNull(field->FieldNo, recBuf);
    nativeBuffer = true;
    valueType = field->DataType;
    void* place = nullptr;
    if (field->HasParent()) {
        bool childBlank = true;
        GetChildField(field, recBuf, place, childBlank, nativeBuffer);
    } else {
        place = Place(field, recBuf);
    }
    if (isBlank) return place;

    // A converted value replaces a temporary one the column's object handed out.
    auto converted = [&](MallocBuffer& buffer) {
        if (!nativeBuffer) TDBObject::FreeAttributeBuffer(place);
        nativeBuffer = false;
        return buffer.release();
    };
    switch (valueType) {
        case dtDate:
        case dtTime:
        case dtDateTime: {
            MallocBuffer buffer(sizeof(double));
            GetDateFromBuf(place, field, buffer.get(), 1);
            return converted(buffer);
        }
        case dtStringRef: {
            valueType = dtString;
            const void* text = place ? PeekPacked<void*>(place, 0) : nullptr;
            return const_cast<void*>(text ? text : static_cast<const void*>(""));
        }
        case dtWideStringRef: {
            valueType = dtWideString;
            const void* text = place ? PeekPacked<void*>(place, 0) : nullptr;
            return const_cast<void*>(text ? text : static_cast<const void*>(kNoWideText));
        }
        case dtVarBytesRef: {
            const void* block = place ? PeekPacked<void*>(place, 0) : nullptr;
            return const_cast<void*>(block ? block : static_cast<const void*>(kNoBytes));
        }
        case dtBytes: {
            MallocBuffer buffer(std::size_t{2} + field->Length);
            PokePacked<uint16_t>(buffer.get(), 0, field->Length);
            if (field->Length) std::memcpy(static_cast<uint8_t*>(buffer.get()) + 2, place, field->Length);
            return converted(buffer);
        }
        case dtBCD: {
            MallocBuffer buffer(sizeof(double));
            PokePacked<double>(buffer.get(), 0, static_cast<double>(PeekPacked<int64_t>(place, 0)) / 10000.0);
            return converted(buffer);
        }
        default:
            break;
    }
    if (IsBlobFieldType(valueType)) {
        valueType = dtString;
        const int64_t size = GetBlobSize(field->FieldNo, recBuf, false, false);
        MallocBuffer buffer(static_cast<std::size_t>(size) + 1);
        const int64_t got = size > 0 ? ReadBlob(field->FieldNo, recBuf, 0, 0, buffer.get(), false, false) : 0;
        static_cast<char*>(buffer.get())[got] = 0;
        return converted(buffer);
    }
    return place;
}

int TData::CompareFields(void* recBuf1, void* recBuf2, TFieldDesc* field, int options) {
    TDataType valueType = dtUnknown;
    bool blank1 = true, native = true;
    void* value = GetFieldValueBuffer(recBuf1, field, valueType, blank1, native);
    MallocBuffer owned;
    if (!native) owned.reset(value);
    const bool blank2 = GetNull(field->FieldNo, recBuf2);
    if (blank1 || blank2) return blank1 == blank2 ? 0 : (blank1 ? -1 : 1);
    return CompareFieldValue(value, valueType, field, recBuf2, options);
}

int TData::CompareFieldValue(const void* value, TDataType valueType, TFieldDesc* field, void* recBuf,
                             int options) {
    const TDataType dt = field->DataType;
    if (valueType == dtString || valueType == dtGuid) {
        const auto* key = static_cast<const char*>(value);
        const bool plainText = !(options & (coPartialKey | coContains));
        if (plainText && !field->HasParent()) {
            if (dt == dtString && !(field->Fixed ? TrimFixedChar : TrimVarChar))
                return CompareStrings(key, reinterpret_cast<const char*>(Place(field, recBuf)), options);
            if (dt == dtStringRef) {
                const auto* text = static_cast<const char*>(PlacePointer(field, recBuf));
                return CompareStrings(key, text ? text : "", options);
            }
        }
        bool trim = false;
        const AnsiString text = FieldAnsiText(field, recBuf, options, trim);
        AnsiString k = key;
        if (trim) TrimRightBlanks(k);
        return CompareAnsiKey(k, text, options);
    }
    if (valueType == dtWideString) {
        bool trim = false;
        const WideString text = FieldWideText(field, recBuf, options, trim);
        WideString k = ZeroTerminated<char16_t>(value);
        if (trim) TrimRightBlanks(k);
        return CompareWideKey(k, text, options);
    }

    FieldPlace at(*this, field, recBuf, Place(field, recBuf));
    void* place = at.get();
    switch (valueType) {
        case dtInt8:
            return Sign(PeekPacked<int8_t>(value, 0), PeekPacked<int8_t>(place, 0));
        case dtSmallint:
            return Sign(PeekPacked<int16_t>(value, 0), PeekPacked<int16_t>(place, 0));
        case dtInteger:
            return Sign(PeekPacked<int32_t>(value, 0), PeekPacked<int32_t>(place, 0));
        case dtLargeint:
            return Sign(PeekPacked<int64_t>(value, 0), PeekPacked<int64_t>(place, 0));
        case dtWord:
            return Sign(PeekPacked<uint16_t>(value, 0), PeekPacked<uint16_t>(place, 0));
        case dtUInt32:
            return Sign(PeekPacked<uint32_t>(value, 0), PeekPacked<uint32_t>(place, 0));
        case dtBoolean: {
            const bool k = PeekPacked<uint8_t>(value, 0) != 0;
            const bool f = PeekPacked<uint8_t>(place, 0) != 0;
            return Sign(int{k}, int{f});
        }
        case dtFloat:
        case dtCurrency:
            return Sign(PeekPacked<double>(value, 0), PeekPacked<double>(place, 0));
        case dtDate:
        case dtTime:
        case dtDateTime: {
            double f = 0;
            GetDateFromBuf(place, field, &f, 1);
            return Sign(PeekPacked<double>(value, 0), f);
        }
        case dtBytes:
            return CompareBinary(static_cast<const uint8_t*>(value) + 2, PeekPacked<uint16_t>(value, 0),
                                 place, field->Length, options);
        case dtVarBytes:
            return CompareBinary(static_cast<const uint8_t*>(value) + 2, PeekPacked<uint16_t>(value, 0),
                                 static_cast<uint8_t*>(place) + 2, PeekPacked<uint16_t>(place, 0), options);
        case dtVarBytesRef: {
            const auto* block = static_cast<const uint8_t*>(PeekPacked<void*>(place, 0));
            if (!block) block = kNoBytes;
            return CompareBinary(static_cast<const uint8_t*>(value) + 2, PeekPacked<uint16_t>(value, 0),
                                 block + 2, PeekPacked<uint16_t>(block, 0), options);
        }
        case dtBCD: {
            const auto k = static_cast<int64_t>(std::llround(PeekPacked<double>(value, 0) * 10000.0));
            return Sign(k, PeekPacked<int64_t>(place, 0));
        }
        case dtFmtBcd:
            return Sign(rtl::BcdCompare(PeekPacked<rtl::TBcd>(value, 0), PeekPacked<rtl::TBcd>(place, 0)));
        case dtVariant: {
            auto holderOf = [](const void* cell) {
                return dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PeekPacked<void*>(cell, 0)));
            };
            TVariantObject* k = holderOf(value);
            TVariantObject* f = holderOf(place);
            return CompareVariants(k ? k->Value : rtl::Variant(), f ? f->Value : rtl::Variant(), options);
        }
        case dtSQLTimeStamp: {
            const auto k = PeekPacked<rtl::TSQLTimeStamp>(value, 0);
            const auto f = PeekPacked<rtl::TSQLTimeStamp>(place, 0);
            const uint32_t kp[] = {k.Year, k.Month, k.Day, k.Hour, k.Minute, k.Second, k.Fractions};
            const uint32_t fp[] = {f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.Fractions};
            for (std::size_t i = 0; i < std::size(kp); ++i)
                if (kp[i] != fp[i]) return Sign(kp[i], fp[i]);
            return 0;
        }
        default:
            rtl::Assert(false, "Unknown ValueType = " + rtl::IntToStr(valueType));
            return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Sort columns

int TSortColumn::Options() const {
    if (SortType == stCaseInsensitive) return coCaseInsensitive;
    if (SortType == stBinary) return coBinary;
    return 0;
}

namespace {

[[noreturn]] void InvalidIndexFieldNames() {
    throw rtl::Exception("Invalid IndexFieldNames format!");
}

bool IsSeparator(int code, const AnsiString& lexem) {
    return code == lxSymbolChar && (lexem == ";" || lexem == ",");
}

}  // namespace

void TMemData::SetSortDefaults(TSortColumn* column) {
    column->Descending = false;
    column->SortType = stCaseSensitive;
}

void TMemData::BuildSortColumns(const AnsiString& text, TSortColumns& columns) {
    if (rtl::Trim(text).empty()) return;
    TBoolParser parser(text);
    AnsiString lexem;
    int code = parser.GetNext(lexem);
    for (;;) {
        while (IsSeparator(code, lexem)) code = parser.GetNext(lexem);
        if (code == lxEnd) return;
        AnsiString name;
        if (code == lxIdent || code == lxString)
            name = lexem;
        else if (code == blOpenBracket)
            name = parser.ReadToCloseBracket();
        else
            InvalidIndexFieldNames();
        TFieldDesc* field = fields_.FieldByName(name);
        auto* column = new TSortColumn();
        column->FieldDesc = field;
        SetSortDefaults(column);
        columns.Add(column);

        bool order = false, type = false;
        for (code = parser.GetNext(lexem); code != lxEnd && !IsSeparator(code, lexem);
             code = parser.GetNext(lexem)) {
            if (code != lxIdent) InvalidIndexFieldNames();
            const AnsiString word = rtl::UpperCase(lexem);
            bool& seen = (word == "ASC" || word == "DESC") ? order : type;
            if (seen) InvalidIndexFieldNames();
            seen = true;
            if (word == "ASC" || word == "DESC")
                column->Descending = word == "DESC";
            else if (word == "CS")
                column->SortType = stCaseSensitive;
            else if (word == "CIS")
                column->SortType = stCaseInsensitive;
            else if (word == "BIN")
                column->SortType = stBinary;
            else
                InvalidIndexFieldNames();
        }
    }
}

void TMemData::RebuildSortColumns(const AnsiString& text) {
    TSortColumns fresh;
    BuildSortColumns(text, fresh);
    sortColumns_.Clear();
    while (fresh.Count() > 0) {
        auto* column = static_cast<TSortColumn*>(fresh.Extract(fresh.First()));
        sortColumns_.Add(column);
    }
}

void TMemData::ChangeIndexFieldNames(const AnsiString& value) {
    if (active_ || prepared_ || fields_.Count() > 0) {
        RebuildSortColumns(value);
        indexFieldNames_ = value;
        if (active_) SortItems();
    } else {
        indexFieldNames_ = value;
    }
}

// ---------------------------------------------------------------------------------------------
// Comparing and moving records

int TMemData::CompareBySortColumn(void* recBuf1, void* recBuf2, TSortColumn* column) {
    return CompareFields(recBuf1, recBuf2, column->FieldDesc, column->Options());
}

int TMemData::CompareRecords(void* recBuf1, void* recBuf2) {
    const int count = sortColumns_.Count();
    MallocBuffer calc1, calc2;
    for (int i = 0; i < count; ++i) {
        if (sortColumns_.GetItem(i)->FieldDesc->Kind != 2 || calcRecordSize_ <= 0) continue;
        // Calculated columns: both records with their calculated areas filled.
        const auto size = static_cast<std::size_t>(recordSize_ + calcRecordSize_);
        calc1.reset(std::calloc(size, 1));
        calc2.reset(std::calloc(size, 1));
        if (!calc1.get() || !calc2.get()) throw rtl::EOutOfMemory("Out of memory");
        std::memcpy(calc1.get(), recBuf1, static_cast<std::size_t>(recordSize_));
        std::memcpy(calc2.get(), recBuf2, static_cast<std::size_t>(recordSize_));
        if (OnCalcFields) {
            OnCalcFields(calc1.get(), nullptr);
            OnCalcFields(calc2.get(), nullptr);
        }
        recBuf1 = calc1.get();
        recBuf2 = calc2.get();
        break;
    }
    for (int i = 0; i < count; ++i) {
        TSortColumn* column = sortColumns_.GetItem(i);
        int r = CompareBySortColumn(recBuf1, recBuf2, column);
        if (column->Descending) r = -r;
        if (r != 0) return r;
    }
    return 0;
}

void TMemData::SwapItems(PItemHeader item1, PItemHeader item2) {
    if (item1 == item2) return;
    // Make item1 the earlier of two neighbours, so the neighbour case has one shape.
    if (ItemHeader::Next(item2) == item1) std::swap(item1, item2);
    PItemHeader prev1 = ItemHeader::Prev(item1), next1 = ItemHeader::Next(item1);
    PItemHeader prev2 = ItemHeader::Prev(item2), next2 = ItemHeader::Next(item2);
    auto link = [this](PItemHeader a, PItemHeader b) {
        if (a)
            ItemHeader::SetNext(a, b);
        else
            FirstItem = b;
        if (b)
            ItemHeader::SetPrev(b, a);
        else
            LastItem = a;
    };
    if (next1 == item2) {
        link(prev1, item2);
        link(item2, item1);
        link(item1, next2);
    } else {
        link(prev1, item2);
        link(item2, next1);
        link(prev2, item1);
        link(item1, next2);
    }
    recordNoCache_.clear();
}

void TMemData::MoveSortedItem(PItemHeader item, int direction) {
    if (!item || direction == 0) return;
    if (direction < 0) {
        while (ItemHeader::Prev(item) &&
               CompareRecords(ItemRecord(item), ItemRecord(ItemHeader::Prev(item))) < 0)
            SwapItems(ItemHeader::Prev(item), item);
    } else {
        while (ItemHeader::Next(item) &&
               CompareRecords(ItemRecord(item), ItemRecord(ItemHeader::Next(item))) > 0)
            SwapItems(item, ItemHeader::Next(item));
    }
}

void TMemData::SortItems() {
    if (!HasSortColumns() || !FirstItem) return;
    std::vector<PItemHeader> items;
    for (PItemHeader i = FirstItem; i; i = ItemHeader::Next(i)) items.push_back(i);
    // The records side by side, so the comparisons read memory close together rather than all
    // over the blocks; the copies share the rows' complex values and are only read.
    const auto size = static_cast<std::size_t>(recordSize_);
    std::vector<uint8_t> records(items.size() * size);
    for (std::size_t k = 0; k < items.size(); ++k)
        std::memcpy(&records[k * size], ItemRecord(items[k]), size);
    std::vector<uint32_t> order(items.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<uint32_t>(k);
    // A stable merge sort; the list is relinked only once it has succeeded, so a failing
    // comparison leaves the order as it was.
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return CompareRecords(&records[a * size], &records[b * size]) < 0;
    });
    PItemHeader prev = nullptr;
    for (uint32_t k : order) {
        PItemHeader item = items[k];
        ItemHeader::SetPrev(item, prev);
        if (prev) ItemHeader::SetNext(prev, item);
        prev = item;
    }
    ItemHeader::SetNext(prev, nullptr);
    FirstItem = items[order.front()];
    LastItem = items[order.back()];
    RenumberItems(nullptr, 2);
}

}  // namespace dac
