// TOraParamDesc: the bind buffer, indicators and value objects of one Oracle parameter.
#include <algorithm>
#include <cstring>

#include "dataaccess/core/CLRClasses.h"
#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

constexpr int OCINumberSize = static_cast<int>(sizeof(OCINumber));

bool IsTextType(TDataType t) {
    return t == dtString || t == dtFixedChar;
}
bool IsWideTextType(TDataType t) {
    return t == dtWideString || t == dtFixedWideChar;
}
bool IsBytesType(TDataType t) {
    return t == dtBytes || t == dtVarBytes;
}
// Numbers the descriptor makes itself, and numbers the caller supplies.
bool IsOwnNumberType(TDataType t) {
    return t == dtLargeint || t == dtBCD || t == dtFmtBcd;
}
bool IsNumberType(TDataType t) {
    return IsOwnNumberType(t) || t == dtNumber;
}
bool IsTimeStampType(TDataType t) {
    return t == dtSQLTimeStamp || t == dtTimeStamp || t == dtTimeStampTZ || t == dtTimeStampLTZ;
}
bool IsIntervalType(TDataType t) {
    return t == dtIntervalYM || t == dtIntervalDS;
}
// Types whose table items keep their values in objects of the Value array.
bool IsArrayObjectType(TDataType t) {
    return IsNumberType(t) || IsTimeStampType(t) || IsIntervalType(t);
}
bool IsBlobType(TDataType t) {
    return t == dtBlob || t == dtMemo || t == dtWideMemo || t == dtOraBlob || t == dtOraClob;
}
bool IsObjectValueType(TDataType t) {
    return t == dtObject || t == dtReference || t == dtArray || t == dtTable || t == dtXML;
}
// Types whose scalar value lives in the object held by Value.
bool IsObjectKeptType(TDataType t) {
    return IsNumberType(t) || IsTimeStampType(t) || IsIntervalType(t) || IsBlobType(t) ||
           IsObjectValueType(t) || t == dtCursor || t == dtBFile || t == dtCFile;
}

// Bytes per item; -1 for a code that is no parameter type.
int ItemSizeOf(TDataType type, int32_t size, int32_t length) {
    switch (type) {
        case dtString:
        case dtFixedChar:
            return size <= 0 ? 2 : size + 1;
        case dtWideString:
        case dtFixedWideChar:
            return size <= 0 ? 4 : size * 2 + 2;
        case dtInteger:
        case dtBoolean:
            return 4;
        case dtFloat:
            return 8;
        case dtDateTime:
            return OraDateSize;
        case dtLargeint:
        case dtBCD:
        case dtFmtBcd:
        case dtNumber:
            return length < 2 ? 0 : OCINumberSize;
        case dtBytes:
        case dtVarBytes:
            return std::max(size, 0) + 2;
        case dtSQLTimeStamp:
        case dtTimeStamp:
        case dtTimeStampTZ:
        case dtTimeStampLTZ:
        case dtIntervalYM:
        case dtIntervalDS:
            // table items hold the descriptor pointers of their objects
            return length < 2 ? 0 : PtrSize;
        case dtBlob:
        case dtMemo:
        case dtWideMemo:
        case dtOraBlob:
        case dtOraClob:
        case dtBFile:
        case dtCFile:
        case dtObject:
        case dtReference:
        case dtArray:
        case dtTable:
        case dtXML:
        case dtCursor:
        case dtLabel:
            return 0;
        default:
            return -1;
    }
}

// What the items of a type look like: their size and the kind of value object behind them.
// Setters keep an allocated buffer only when the new type's layout is the same.
struct TItemLayout {
    int Size;
    int ObjectKind;
    bool operator==(const TItemLayout&) const = default;
};

TItemLayout ItemLayoutOf(TDataType type, int32_t size, int32_t length) {
    int kind = 0;
    if (IsNumberType(type))
        kind = 1;
    else if (IsTimeStampType(type))
        kind = 2;
    else if (IsIntervalType(type))
        kind = 3;
    else if (IsObjectKeptType(type))
        kind = 4 + type;  // each such type keeps its own kind of object
    return {ItemSizeOf(type, size, length), kind};
}

bool IsNumericVariant(rtl::TVarType t) {
    switch (t) {
        case rtl::varSmallint:
        case rtl::varInteger:
        case rtl::varSingle:
        case rtl::varDouble:
        case rtl::varCurrency:
        case rtl::varShortInt:
        case rtl::varByte:
        case rtl::varWord:
        case rtl::varLongWord:
        case rtl::varInt64:
            return true;
        default:
            return false;
    }
}

bool IsSmallIntegerVariant(rtl::TVarType t) {
    return t == rtl::varSmallint || t == rtl::varInteger || t == rtl::varShortInt || t == rtl::varByte ||
           t == rtl::varWord;
}

bool IsFloatVariant(rtl::TVarType t) {
    return t == rtl::varSingle || t == rtl::varDouble || t == rtl::varCurrency;
}

bool IsStringVariant(rtl::TVarType t) {
    return t == rtl::varString || t == rtl::varOleStr;
}

[[noreturn]] void RaiseCannotConvert() {
    throw rtl::EConvertError("Cannot convert type");
}

rtl::TObject* VariantObject(const rtl::Variant& v) {
    return static_cast<rtl::TObject*>(v.AsObject());
}

rtl::Variant ObjectVariant(TSharedObject* obj) {
    return rtl::Variant::FromObject(static_cast<rtl::TObject*>(obj));
}

// Copies text into dest (room for `room` units) turning CR LF into LF; answers the units written.
template <class Char>
size_t CopyWithoutCR(const Char* source, size_t length, Char* dest, size_t room) {
    size_t written = 0;
    for (size_t k = 0; k < length && written < room; ++k) {
        if (source[k] == Char('\r') && k + 1 < length && source[k + 1] == Char('\n')) continue;
        dest[written++] = source[k];
    }
    return written;
}

template <class Str>
Str AddCR(const Str& text) {
    Str out;
    out.reserve(text.size() * 2);
    for (auto c : text) {
        if (c == '\n') out += typename Str::value_type('\r');
        out += c;
    }
    return out;
}

}  // namespace

TOraParamDesc::TOraParamDesc() = default;

TOraParamDesc::~TOraParamDesc() {
    FreeBuffer();
}

void TOraParamDesc::SetDataType(uint16_t value) {
    TDataType type = value;
    auto* connection = Command ? dynamic_cast<TOCIConnection*>(Command->GetConnection()) : nullptr;
    if (connection && connection->UseUnicode()) {
        if (type == dtString)
            type = dtWideString;
        else if (type == dtMemo)
            type = dtWideMemo;
        else if (type == dtFixedChar)
            type = dtFixedWideChar;
    }
    if (type == FDataType) return;
    FreeBuffer();
    FDataType = type;
}

void TOraParamDesc::SetSize(int32_t value) {
    if (value == FSize) return;
    if (IsTextType(FDataType) || IsWideTextType(FDataType) || IsBytesType(FDataType)) FreeBuffer();
    FSize = value;
}

void TOraParamDesc::SetLength(int32_t value) {
    if (value < 0) throw rtl::ERangeError("Index of array is not range");
    if (value == length_) return;
    FreeBuffer();
    length_ = value;
}

void TOraParamDesc::CheckIndex(int index) const {
    if (index < 1 || index > length_) throw rtl::ERangeError("Index of array is not range");
}

void TOraParamDesc::PrepareItemType(TDataType type) {
    if (type == FDataType) return;
    if (bufferAllocated_ && !(ItemLayoutOf(FDataType, FSize, length_) == ItemLayoutOf(type, FSize, length_)))
        FreeBuffer();
    FDataType = type;
}

// ---- buffer ---------------------------------------------------------------------------------

void TOraParamDesc::AllocBuffer() {
    if (bufferAllocated_ || FDataType == dtUnknown) return;
    const int size = ItemSizeOf(FDataType, FSize, length_);
    rtl::Assert(size >= 0, "Unknown data type");
    itemSize_ = size;
    if (size > 0) valueBuffer_.assign(static_cast<size_t>(length_) * static_cast<size_t>(size), 0);
    if (length_ > 1 && IsArrayObjectType(FDataType))
        FData = rtl::VarArrayCreate({1, length_}, rtl::varVariant);
    if (length_ < 2) {
        scalarIndicator_ = -1;
        indicators_ = &scalarIndicator_;
    } else {
        ownedIndicators_.assign(static_cast<size_t>(length_), -1);
        indicators_ = ownedIndicators_.data();
    }
    bufferAllocated_ = true;

    if (!IsOwnNumberType(FDataType) && FDataType != dtSQLTimeStamp) return;
    auto make = [this]() -> TSharedObject* {
        if (FDataType == dtSQLTimeStamp) return new TOraTimeStamp(dtSQLTimeStamp);
        return new TOraNumber();
    };
    for (int i = 1; i <= std::max(length_, 1); ++i) {
        TSharedObject* obj = make();
        if (length_ < 2)
            SetObject(obj);
        else
            SetItemObject(i, obj);
        obj->Free();  // the descriptor keeps its own reference
    }
}

void TOraParamDesc::ReleaseArrayObjects() {
    const int low = FData.ArrayLowBound(), high = FData.ArrayHighBound();
    for (int i = low; i <= high; ++i) {
        const rtl::Variant element = FData.GetElement(i);
        if (element.VarType() != rtl::varByRef) continue;
        auto* obj = dynamic_cast<TSharedObject*>(VariantObject(element));
        if (!obj) continue;
        // A number still used elsewhere must not keep pointing into the buffer that goes away.
        if (auto* number = dynamic_cast<TOraNumber*>(obj); number && number->RefCount() > 1)
            number->OwnStorage();
        obj->Free();
    }
}

void TOraParamDesc::FreeBuffer() {
    if (FData.IsArray()) {
        ReleaseArrayObjects();
        FData.Clear();
    }
    valueBuffer_.clear();
    valueBuffer_.shrink_to_fit();
    ownedIndicators_.clear();
    indicators_ = &scalarIndicator_;
    if (auto* obj = dynamic_cast<TSharedObject*>(GetObject())) {
        FData.Clear();
        obj->Free();
    } else if (FData.VarType() == rtl::varByRef) {
        FData.Clear();
    }
    ClearBindHandle();
    bufferAllocated_ = false;
}

// ---- objects --------------------------------------------------------------------------------

rtl::TObject* TOraParamDesc::GetObject() {
    return FData.VarType() == rtl::varByRef ? VariantObject(FData) : nullptr;
}

void TOraParamDesc::SetObject(rtl::TObject* obj) {
    if (obj && obj == GetObject()) return;
    FreeBuffer();
    if (!obj) return;
    auto* shared = dynamic_cast<TSharedObject*>(obj);
    rtl::Assert(shared != nullptr, "Assertion failure");
    int16_t* indicator = nullptr;
    if (IsNumberType(FDataType)) {
        auto* number = dynamic_cast<TOraNumber*>(obj);
        rtl::Assert(number != nullptr, "Assertion failure");
        indicator = number->GetIndicatorPtr();
    } else if (IsTimeStampType(FDataType)) {
        auto* timeStamp = dynamic_cast<TOraTimeStamp*>(obj);
        rtl::Assert(timeStamp != nullptr, "Assertion failure");
        indicator = timeStamp->GetIndicatorPtr();
    } else if (IsIntervalType(FDataType)) {
        auto* interval = dynamic_cast<TOraInterval*>(obj);
        rtl::Assert(interval != nullptr, "Assertion failure");
        indicator = interval->GetIndicatorPtr();
    }
    FData = rtl::Variant::FromObject(obj);
    shared->AddRef();
    if (indicator) indicators_ = indicator;
    bufferAllocated_ = true;
}

TSharedObject* TOraParamDesc::GetItemObject(int index) {
    CheckIndex(index);
    rtl::Assert(FData.IsArray(), "Assertion failure");
    const rtl::Variant element = FData.GetElement(index);
    if (element.IsNull() || element.IsEmpty()) return nullptr;
    rtl::Assert(element.VarType() == rtl::varByRef, "Assertion failure");
    return dynamic_cast<TSharedObject*>(VariantObject(element));
}

void TOraParamDesc::SetItemObject(int index, TSharedObject* obj) {
    CheckIndex(index);
    if (length_ < 2) {
        SetObject(obj);
        return;
    }
    AllocBuffer();
    rtl::Assert(FData.IsArray(), "Assertion failure");
    TSharedObject* old = GetItemObject(index);
    if (old == obj) return;
    // Each element holds a reference of its own, given back by FreeBuffer.
    if (obj) obj->AddRef();
    FData.PutElement(index, obj ? ObjectVariant(obj) : rtl::Variant());
    if (old) {
        if (auto* number = dynamic_cast<TOraNumber*>(old); number && number->RefCount() > 1)
            number->OwnStorage();
        old->Free();
    }
}

TBlob* TOraParamDesc::GetAsBlob() {
    return dynamic_cast<TBlob*>(GetObject());
}
TOraCursor* TOraParamDesc::GetAsCursor() {
    return dynamic_cast<TOraCursor*>(GetObject());
}
TOraTimeStamp* TOraParamDesc::GetAsTimeStamp() {
    return dynamic_cast<TOraTimeStamp*>(GetObject());
}
TOraInterval* TOraParamDesc::GetAsInterval() {
    return dynamic_cast<TOraInterval*>(GetObject());
}
TOraNumber* TOraParamDesc::GetAsNumber() {
    return dynamic_cast<TOraNumber*>(GetObject());
}

TOraNumber* TOraParamDesc::ItemNumber(int index) {
    TOraNumber* number = length_ < 2 ? GetAsNumber() : dynamic_cast<TOraNumber*>(GetItemObject(index));
    rtl::Assert(number != nullptr, "Assertion failure");
    return number;
}

TOraTimeStamp* TOraParamDesc::ItemTimeStamp(int index) {
    TOraTimeStamp* timeStamp =
        length_ < 2 ? GetAsTimeStamp() : dynamic_cast<TOraTimeStamp*>(GetItemObject(index));
    rtl::Assert(timeStamp != nullptr, "Assertion failure");
    return timeStamp;
}

// ---- indicators -----------------------------------------------------------------------------

int16_t* TOraParamDesc::ObjectIndicator(int index) const {
    if (length_ < 2 || !IsArrayObjectType(FDataType) || !FData.IsArray()) return nullptr;
    const rtl::Variant element = FData.GetElement(index);
    if (element.VarType() != rtl::varByRef) return nullptr;
    rtl::TObject* obj = VariantObject(element);
    if (auto* number = dynamic_cast<TOraNumber*>(obj)) return number->GetIndicatorPtr();
    if (auto* timeStamp = dynamic_cast<TOraTimeStamp*>(obj)) return timeStamp->GetIndicatorPtr();
    if (auto* interval = dynamic_cast<TOraInterval*>(obj)) return interval->GetIndicatorPtr();
    return nullptr;
}

int16_t TOraParamDesc::GetIndicator(int index) const {
    if (FDataType == dtCursor) return 0;
    CheckIndex(index);
    // A table item's number, timestamp or interval carries its own null state until the bind
    // copies it into the indicator array.
    if (const int16_t* own = ObjectIndicator(index)) return *own;
    return indicators_[index - 1];
}

void TOraParamDesc::SetIndicator(int index, int16_t value) {
    CheckIndex(index);
    indicators_[index - 1] = value;
    if (int16_t* own = ObjectIndicator(index)) *own = value;
}

void TOraParamDesc::SetItemNull(int index, bool value) {
    CheckIndex(index);
    AllocBuffer();
    if (!value) {
        SetIndicator(index, 0);
        return;
    }
    SetIndicator(index, -1);
    // The bind narrows input text to this length: a null item of a table must not shrink it
    // below the other items.
    if (length_ < 2) maxActualLength_ = 0;
    if (IsBlobType(FDataType)) {
        if (TBlob* blob = GetAsBlob()) blob->Clear();
        return;
    }
    if (valueBuffer_.empty()) return;
    uint8_t* item = Item(index);
    switch (FDataType) {
        case dtString:
        case dtFixedChar:
            item[0] = 0;
            break;
        case dtInteger:
        case dtFloat:
        case dtDateTime:
            std::memset(item, 0, static_cast<size_t>(itemSize_));
            break;
        case dtBytes:
        case dtVarBytes:
        case dtWideString:
        case dtFixedWideChar:
            item[0] = item[1] = 0;
            break;
        default:
            break;
    }
}

// ---- typed items ----------------------------------------------------------------------------

rtl::TDateTime TOraParamDesc::GetItemAsDateTime(int index) {
    if (FDataType != dtDateTime || GetItemNull(index) || valueBuffer_.empty()) return 0;
    return OraDateToDateTime(Item(index));
}

void TOraParamDesc::SetItemAsDateTime(int index, rtl::TDateTime value) {
    CheckIndex(index);
    PrepareItemType(dtDateTime);
    AllocBuffer();
    uint8_t date[OraDateSize];
    DateTimeToOraDate(date, value);
    std::memcpy(Item(index), date, sizeof date);
    SetIndicator(index, 0);
}

double TOraParamDesc::GetItemAsFloat(int index) {
    if (FDataType != dtFloat || GetItemNull(index) || valueBuffer_.empty()) return 0;
    return Marshal::Peek<double>(Item(index), 0);
}

void TOraParamDesc::SetItemAsFloat(int index, double value) {
    CheckIndex(index);
    PrepareItemType(dtFloat);
    AllocBuffer();
    Marshal::Poke(Item(index), 0, value);
    SetIndicator(index, 0);
}

int32_t TOraParamDesc::GetItemAsInteger(int index) {
    if (FDataType != dtInteger || GetItemNull(index) || valueBuffer_.empty()) return 0;
    return Marshal::PeekInt32(Item(index));
}

void TOraParamDesc::SetItemAsInteger(int index, int32_t value) {
    CheckIndex(index);
    PrepareItemType(dtInteger);
    AllocBuffer();
    Marshal::PokeInt32(Item(index), value);
    SetIndicator(index, 0);
}

bool TOraParamDesc::GetItemAsBoolean(int index) {
    if (FDataType != dtBoolean || GetItemNull(index) || valueBuffer_.empty()) return false;
    return Marshal::PeekInt32(Item(index)) != 0;
}

void TOraParamDesc::SetItemAsBoolean(int index, bool value) {
    CheckIndex(index);
    PrepareItemType(dtBoolean);
    AllocBuffer();
    Marshal::PokeInt32(Item(index), value ? 1 : 0);
    SetIndicator(index, 0);
}

rtl::Currency TOraParamDesc::GetItemAsCurrency(int index) {
    if (FDataType != dtBCD || GetItemNull(index)) return rtl::Currency();
    return rtl::StrToCurr(ItemNumber(index)->GetAsString());
}

void TOraParamDesc::SetItemAsCurrency(int index, rtl::Currency value) {
    CheckIndex(index);
    PrepareItemType(dtBCD);
    AllocBuffer();
    ItemNumber(index)->SetAsString(rtl::CurrToStr(value));
}

int64_t TOraParamDesc::GetItemAsLargeInt(int index) {
    if (FDataType != dtLargeint || GetItemNull(index)) return 0;
    return ItemNumber(index)->GetAsLargeInt();
}

void TOraParamDesc::SetItemAsLargeInt(int index, int64_t value) {
    CheckIndex(index);
    PrepareItemType(dtLargeint);
    AllocBuffer();
    ItemNumber(index)->SetAsLargeInt(value);
}

rtl::TBcd TOraParamDesc::GetItemAsFmtBcd(int index) {
    if (FDataType != dtFmtBcd || GetItemNull(index)) return rtl::NullBcd;
    return ItemNumber(index)->GetAsBCD();
}

void TOraParamDesc::SetItemAsFmtBcd(int index, const rtl::TBcd& value) {
    CheckIndex(index);
    PrepareItemType(dtFmtBcd);
    AllocBuffer();
    ItemNumber(index)->SetAsBCD(value);
}

rtl::TSQLTimeStamp TOraParamDesc::GetItemAsSQLTimeStamp(int index) {
    if (FDataType != dtSQLTimeStamp || GetItemNull(index)) return rtl::NullSQLTimeStamp;
    rtl::TSQLTimeStamp ts;
    OraTimeStampToSQLTimeStamp(ItemTimeStamp(index), ts);
    return ts;
}

void TOraParamDesc::SetItemAsSQLTimeStamp(int index, const rtl::TSQLTimeStamp& value) {
    CheckIndex(index);
    PrepareItemType(dtSQLTimeStamp);
    AllocBuffer();
    SQLTimeStampToOraTimeStamp(ItemTimeStamp(index), value);
}

// ---- text -----------------------------------------------------------------------------------

AnsiString TOraParamDesc::GetItemAsString(int index) {
    if (GetItemNull(index) || valueBuffer_.empty()) return AnsiString();
    if (IsWideTextType(FDataType)) return rtl::WideToAnsi(GetItemAsWideString(index));
    if (!IsTextType(FDataType)) return AnsiString();
    const char* p = reinterpret_cast<const char*>(Item(index));
    AnsiString text(p, strnlen(p, static_cast<size_t>(itemSize_)));
    return GetConvertEOL() ? AddCR(text) : text;
}

void TOraParamDesc::SetItemAsString(int index, const AnsiString& value) {
    CheckIndex(index);
    PrepareItemType(FDataType == dtFixedChar ? dtFixedChar : dtString);
    AllocBuffer();
    if (value.empty()) {
        SetItemNull(index, true);  // an empty string is bound as NULL
        return;
    }
    char* item = reinterpret_cast<char*>(Item(index));
    const size_t room = static_cast<size_t>(itemSize_ - 1);
    size_t count;
    if (GetConvertEOL()) {
        count = CopyWithoutCR(value.data(), value.size(), item, room);
    } else {
        count = std::min(value.size(), room);
        std::memcpy(item, value.data(), count);
    }
    item[count] = 0;
    if (length_ == 1 || static_cast<int32_t>(count) > maxActualLength_)
        maxActualLength_ = static_cast<int32_t>(count);
    SetIndicator(index, 0);
}

WideString TOraParamDesc::GetItemAsWideString(int index) {
    if (GetItemNull(index) || valueBuffer_.empty()) return WideString();
    if (IsTextType(FDataType)) return rtl::AnsiToWide(GetItemAsString(index));
    if (!IsWideTextType(FDataType)) return WideString();
    const uint8_t* item = Item(index);
    const size_t units = static_cast<size_t>(itemSize_) / 2;
    WideString text;
    for (size_t k = 0; k < units; ++k) {
        char16_t c;
        std::memcpy(&c, item + 2 * k, 2);
        if (c == 0) break;
        text += c;
    }
    return GetConvertEOL() ? AddCR(text) : text;
}

void TOraParamDesc::SetItemAsWideString(int index, const WideString& value) {
    CheckIndex(index);
    PrepareItemType(FDataType == dtFixedWideChar ? dtFixedWideChar : dtWideString);
    AllocBuffer();
    if (value.empty()) {
        SetItemNull(index, true);
        return;
    }
    const size_t room = static_cast<size_t>((itemSize_ - 2) / 2);
    WideString text = value;
    if (GetConvertEOL()) text.resize(CopyWithoutCR(value.data(), value.size(), text.data(), text.size()));
    const size_t count = std::min(text.size(), room);
    uint8_t* item = Item(index);
    std::memcpy(item, text.data(), count * 2);
    item[count * 2] = item[count * 2 + 1] = 0;
    if (length_ == 1 || static_cast<int32_t>(count) > maxActualLength_)
        maxActualLength_ = static_cast<int32_t>(count);
    SetIndicator(index, 0);
}

void TOraParamDesc::StoreBytes(int index, const uint8_t* data, size_t length) {
    const size_t count = std::min(length, static_cast<size_t>(std::max(FSize, 0)));
    if (count == 0) {
        SetItemNull(index, true);
        return;
    }
    uint8_t* item = Item(index);
    Marshal::Poke(item, 0, static_cast<uint16_t>(count));
    std::memcpy(item + 2, data, count);
    SetIndicator(index, 0);
}

// ---- Variants -------------------------------------------------------------------------------

void TOraParamDesc::SetItemAsVariant(int index, const rtl::Variant& value) {
    CheckIndex(index);
    if (value.IsNull() || value.IsEmpty()) {
        SetItemNull(index, true);
        return;
    }
    const rtl::TVarType vt = value.VarType();
    if (FDataType == dtUnknown) {
        if (IsSmallIntegerVariant(vt))
            SetDataType(dtInteger);
        else if (IsFloatVariant(vt))
            SetDataType(dtFloat);
        else if (vt == rtl::varDate)
            SetDataType(dtDateTime);
        else if (vt == rtl::varLongWord || vt == rtl::varInt64)
            SetDataType(dtLargeint);
        else if (vt == rtl::varString) {
            SetDataType(dtString);
            SetSize(static_cast<int32_t>(value.AsString().size()));
        } else if (vt == rtl::varOleStr) {
            SetDataType(dtWideString);
            SetSize(static_cast<int32_t>(value.AsWideString().size()));
        } else {
            throw rtl::EConvertError("Unknown data type");
        }
    }
    AllocBuffer();
    const bool numeric = IsNumericVariant(vt);
    const bool text = IsStringVariant(vt);
    switch (FDataType) {
        case dtString:
        case dtFixedChar:
            SetItemAsString(index, value.AsString());
            break;
        case dtWideString:
        case dtFixedWideChar:
            SetItemAsWideString(index, value.AsWideString());
            break;
        case dtInteger:
            if (!numeric && !text) RaiseCannotConvert();
            SetItemAsInteger(index, numeric ? value.AsInteger() : rtl::StrToInt(value.AsString()));
            break;
        case dtFloat:
            if (!numeric && !text) RaiseCannotConvert();
            SetItemAsFloat(index, numeric ? value.AsDouble() : rtl::StrToFloat(value.AsString()));
            break;
        case dtLargeint:
            if (!numeric && !text) RaiseCannotConvert();
            SetItemAsLargeInt(index, numeric ? value.AsInt64() : rtl::StrToInt64(value.AsString()));
            break;
        case dtBCD:
            if (!numeric && !text) RaiseCannotConvert();
            SetItemAsCurrency(index, numeric ? value.AsCurrency() : rtl::StrToCurr(value.AsString()));
            break;
        case dtDateTime:
            if (IsFloatVariant(vt) || vt == rtl::varDate)
                SetItemAsDateTime(index, value.AsDateTime());
            else if (text)
                SetItemAsDateTime(index, rtl::StrToDateTime(value.AsString()));
            else
                RaiseCannotConvert();
            break;
        case dtBoolean:
            if (vt == rtl::varBoolean)
                SetItemAsBoolean(index, value.AsBoolean());
            else if (numeric)
                SetItemAsBoolean(index, value.AsDouble() != 0);
            else
                RaiseCannotConvert();
            break;
        case dtFmtBcd:
            if (IsSmallIntegerVariant(vt))
                SetItemAsFmtBcd(index, rtl::IntegerToBcd(value.AsInteger()));
            else if (IsFloatVariant(vt))
                SetItemAsFmtBcd(index, rtl::DoubleToBcd(value.AsDouble()));
            else if (vt == rtl::varLongWord || vt == rtl::varInt64)
                SetItemAsFmtBcd(index, rtl::StrToBcd(rtl::IntToStr(value.AsInt64())));
            else if (text)
                SetItemAsFmtBcd(index, rtl::StrToBcd(value.AsString()));
            else if (rtl::VarIsFMTBcd(value))
                SetItemAsFmtBcd(index, rtl::VarToBcd(value));
            else
                RaiseCannotConvert();
            break;
        case dtBytes:
        case dtVarBytes: {
            rtl::TBytes bytes;
            if (text) {
                const AnsiString s = value.AsString();
                bytes.assign(s.begin(), s.end());
            } else if (value.IsArray()) {
                bytes = rtl::VariantToBytes(value);
            } else {
                RaiseCannotConvert();
            }
            StoreBytes(index, bytes.data(), bytes.size());
            break;
        }
        case dtSQLTimeStamp:
            SetItemAsSQLTimeStamp(index, rtl::VarToSQLTimeStamp(value));
            break;
        case dtTimeStamp:
        case dtTimeStampTZ:
        case dtTimeStampLTZ:
        case dtIntervalYM:
        case dtIntervalDS:
        case dtNumber:
            if (vt != rtl::varByRef) RaiseCannotConvert();
            SetItemObject(index, dynamic_cast<TSharedObject*>(VariantObject(value)));
            break;
        default:
            RaiseCannotConvert();
    }
}

rtl::Variant TOraParamDesc::GetItemAsVariant(int index) {
    CheckIndex(index);
    if (GetItemNull(index)) return FDataType == dtString ? rtl::Variant(AnsiString()) : rtl::Null();
    switch (FDataType) {
        case dtUnknown:
            return rtl::Unassigned();
        case dtString:
        case dtFixedChar:
            return rtl::Variant(GetItemAsString(index));
        case dtWideString:
        case dtFixedWideChar:
            return rtl::Variant(GetItemAsWideString(index));
        case dtInteger:
            return rtl::Variant(GetItemAsInteger(index));
        case dtFloat:
            return rtl::Variant(GetItemAsFloat(index));
        case dtDateTime:
            return rtl::Variant::FromDateTime(GetItemAsDateTime(index));
        case dtBoolean:
            return rtl::Variant(GetItemAsBoolean(index));
        case dtLargeint:
            return rtl::Variant(GetItemAsLargeInt(index));
        case dtBlob:
        case dtMemo:
        case dtWideMemo: {
            TBlob* blob = GetAsBlob();
            if (!blob) return rtl::Null();
            return blob->IsUnicode() ? rtl::Variant(blob->GetAsWideString())
                                     : rtl::Variant(blob->GetAsString());
        }
        case dtBytes:
        case dtVarBytes: {
            if (valueBuffer_.empty()) return rtl::Null();
            const uint8_t* item = Item(index);
            const size_t count =
                std::min<size_t>(Marshal::Peek<uint16_t>(item, 0), static_cast<size_t>(itemSize_ - 2));
            return rtl::BytesToVariant(rtl::TBytes(item + 2, item + 2 + count));
        }
        case dtBCD:
            return rtl::Variant(GetItemAsCurrency(index));
        case dtFmtBcd:
            return rtl::VarFMTBcdCreate(GetItemAsFmtBcd(index));
        case dtSQLTimeStamp:
            return rtl::VarSQLTimeStampCreate(GetItemAsSQLTimeStamp(index));
        default:
            return rtl::Null();
    }
}

void TOraParamDesc::SetValue(const rtl::Variant& value) {
    const bool byteArray = value.VarType() == (rtl::varArray | rtl::varByte);
    if (IsBytesType(FDataType) && (IsStringVariant(value.VarType()) || byteArray)) {
        SetItemAsVariant(1, value);
        return;
    }
    if (!value.IsArray()) {
        SetItemAsVariant(1, value);
        return;
    }
    const int low = value.ArrayLowBound(), high = value.ArrayHighBound();
    if (FDataType == dtUnknown) {
        // A text type inferred from the first element gets the longest element's size, so that
        // no later element is cut.
        int32_t longest = -1;
        rtl::TVarType kind = rtl::varEmpty;
        for (int i = low; i <= high; ++i) {
            const rtl::Variant element = value.GetElement(i);
            if (kind == rtl::varEmpty && !element.IsNull() && !element.IsEmpty()) kind = element.VarType();
            if (element.VarType() == rtl::varString)
                longest = std::max(longest, static_cast<int32_t>(element.AsString().size()));
            else if (element.VarType() == rtl::varOleStr)
                longest = std::max(longest, static_cast<int32_t>(element.AsWideString().size()));
        }
        if (kind == rtl::varString || kind == rtl::varOleStr) {
            SetDataType(kind == rtl::varString ? dtString : dtWideString);
            SetSize(longest);
        }
    }
    SetLength(high);
    for (int i = low; i <= high; ++i) SetItemAsVariant(i, value.GetElement(i));
}

rtl::Variant TOraParamDesc::GetValue() {
    if (length_ < 2) return GetItemAsVariant(1);
    rtl::Variant result = rtl::VarArrayCreate({1, length_}, rtl::varVariant);
    for (int i = 1; i <= length_; ++i) result.PutElement(i, GetItemAsVariant(i));
    return result;
}

// ---- binding --------------------------------------------------------------------------------

void TOraParamDesc::PrepareBind() {
    if (length_ < 2) {
        if (!IsObjectKeptType(FDataType)) {
            if (valueBuffer_.empty()) *indicators_ = -1;  // setters keep the indicator of a buffer
            return;
        }
        if (FData.IsArray()) return;
        rtl::TObject* obj = GetObject();
        if (!obj) {
            *indicators_ = -1;
            return;
        }
        // Numbers, timestamps and intervals bind their own indicator.
        if (IsArrayObjectType(FDataType)) return;
        if (IsBlobType(FDataType)) {
            TBlob* blob = dynamic_cast<TBlob*>(obj);
            *indicators_ = blob && blob->GetSize() > 0 ? 0 : -1;
        } else if (auto* file = dynamic_cast<TOraFile*>(obj)) {
            *indicators_ = file->GetFileDir().empty() && file->GetFileName().empty() ? -1 : 0;
        } else {
            *indicators_ = 0;
        }
        return;
    }
    if (!IsArrayObjectType(FDataType) || valueBuffer_.empty()) return;
    for (int i = 1; i <= length_; ++i) {
        TSharedObject* obj = GetItemObject(i);
        uint8_t* item = Item(i);
        int16_t& indicator = ownedIndicators_[static_cast<size_t>(i - 1)];
        if (auto* number = dynamic_cast<TOraNumber*>(obj)) {
            auto* cell = reinterpret_cast<OCINumber*>(item);
            if (number->GetOCINumberPtr() != cell) {
                std::memcpy(cell, number->GetOCINumberPtr(), sizeof(OCINumber));
                if (FDataType != dtNumber) {
                    // The number reads and writes the item from now on.
                    const bool wasNull = number->GetIsNull();
                    number->SetOCINumberPtr(cell);
                    number->SetIsNull(wasNull);
                }
            }
            indicator = *number->GetIndicatorPtr();
        } else if (auto* timeStamp = dynamic_cast<TOraTimeStamp*>(obj)) {
            Marshal::PokeIntPtr(item, timeStamp->GetOCIDateTime());
            indicator = *timeStamp->GetIndicatorPtr();
        } else if (auto* interval = dynamic_cast<TOraInterval*>(obj)) {
            Marshal::PokeIntPtr(item, interval->GetOCIInterval());
            indicator = *interval->GetIndicatorPtr();
        } else {
            std::memset(item, 0, static_cast<size_t>(itemSize_));
            indicator = -1;
        }
    }
}

}  // namespace dac
