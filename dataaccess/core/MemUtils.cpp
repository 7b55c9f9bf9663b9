#include "dataaccess/core/MemUtils.h"

#include <cstring>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// Time stamps

void ValidateTimeStamp(const rtl::TTimeStamp& ts) {
    if (ts.Time < 0 || ts.Date <= 0)
        throw rtl::EConvertError("'" + std::to_string(ts.Date) + "." + std::to_string(ts.Time) +
                                 "' is not a valid timestamp");
}

rtl::TDateTime TimeStampToDateTime(const rtl::TTimeStamp& ts) {
    ValidateTimeStamp(ts);
    const double d = static_cast<double>(ts.Date) - rtl::DateDelta;
    const double t = static_cast<double>(ts.Time) / 86400000.0;
    return d >= 0 ? d + t : d - t;
}

// ---------------------------------------------------------------------------------------------
// Buffers and zero-terminated UTF-16 text

void CopyBuffer(const void* source, void* destination, int64_t count) {
    if (count > 0) std::memmove(destination, source, static_cast<size_t>(count));
}

void CopyBufferAnsi(const AnsiString& source, void* destination, int64_t count) {
    if (count > 0) std::memmove(destination, source.data(), static_cast<size_t>(count));
}

void CopyBufferUni(const WideString& source, void* destination, int64_t count) {
    if (count > 0) std::memmove(destination, source.data(), static_cast<size_t>(count));
}

void FillBuffer(void* destination, int64_t count, uint8_t value) {
    if (count > 0) std::memset(destination, value, static_cast<size_t>(count));
}

namespace {

char16_t WideAt(const char16_t* p, int64_t i) {
    char16_t ch;
    std::memcpy(&ch, p + i, sizeof ch);
    return ch;
}

void WideSet(char16_t* p, int64_t i, char16_t ch) {
    std::memcpy(p + i, &ch, sizeof ch);
}

}  // namespace

int64_t WideStrLength(const char16_t* text) {
    int64_t n = 0;
    while (WideAt(text, n) != 0) ++n;
    return n;
}

void WideStrCopy(char16_t* destination, const char16_t* source) {
    std::memmove(destination, source, static_cast<size_t>(WideStrLength(source) + 1) * 2);
}

void WideStrCopyMax(char16_t* destination, const char16_t* source, int64_t maximum) {
    int64_t i = 0;
    for (; i < maximum; ++i) {
        const char16_t ch = WideAt(source, i);
        if (ch == 0) break;
        WideSet(destination, i, ch);
    }
    WideSet(destination, i, 0);
}

void TrimTrailingBlanks(char* text, int64_t length) {
    if (length < 0) length = static_cast<int64_t>(std::strlen(text));
    for (int64_t i = length - 1; i >= 0 && (text[i] == ' ' || text[i] == '\0'); --i) text[i] = '\0';
}

void TrimTrailingBlanksW(char16_t* text, int64_t length) {
    if (length < 0) length = WideStrLength(text);
    for (int64_t i = length - 1; i >= 0; --i) {
        const char16_t ch = WideAt(text, i);
        if (ch != u' ' && ch != 0) break;
        WideSet(text, i, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Locale comparisons

namespace {

constexpr unsigned StringSort = rtl::SORT_STRINGSORT;
constexpr unsigned IgnoreCase = rtl::NORM_IGNORECASE;

int WideCompare(unsigned flags, std::u16string_view a, std::u16string_view b) {
    return rtl::CompareStringW(flags, a, b) - 2;
}

int AnsiCompare(unsigned flags, std::string_view a, std::string_view b) {
    return rtl::CompareStringA(flags, a, b) - 2;
}

std::u16string_view WideView(const char16_t* p, int64_t count) {
    return std::u16string_view(p, static_cast<size_t>(count < 0 ? 0 : count));
}

}  // namespace

int LocaleCompareStrWN(const char16_t* ws1, const char16_t* ws2, int64_t count) {
    return WideCompare(StringSort, WideView(ws1, count), WideView(ws2, count));
}

int LocaleCompareTextWN(const char16_t* ws1, const char16_t* ws2, int64_t count) {
    return WideCompare(StringSort | IgnoreCase, WideView(ws1, count), WideView(ws2, count));
}

int LocaleCompareStrW(const char16_t* ws1, const char16_t* ws2) {
    return WideCompare(StringSort, WideView(ws1, WideStrLength(ws1)), WideView(ws2, WideStrLength(ws2)));
}

int LocaleCompareTextW(const char16_t* ws1, const char16_t* ws2) {
    return WideCompare(StringSort | IgnoreCase, WideView(ws1, WideStrLength(ws1)),
                       WideView(ws2, WideStrLength(ws2)));
}

int LocaleCompareStrP(const char* p1, const char* p2) {
    return AnsiCompare(StringSort, p1, p2);
}

int LocaleCompareTextP(const char* p1, const char* p2) {
    return AnsiCompare(StringSort | IgnoreCase, p1, p2);
}

int LocaleCompareStrS(const AnsiString& s1, const AnsiString& s2) {
    return AnsiCompare(StringSort, s1, s2);
}

int LocaleCompareTextS(const AnsiString& s1, const AnsiString& s2) {
    return AnsiCompare(StringSort | IgnoreCase, s1, s2);
}

int LocaleCompareText(const AnsiString& s1, const AnsiString& s2) {
    return AnsiCompare(IgnoreCase, s1, s2);
}

bool LocaleSameText(const AnsiString& s1, const AnsiString& s2) {
    return rtl::CompareStringA(IgnoreCase, s1, s2) == 2;
}

AnsiString LocaleUpperCase(const AnsiString& s) {
    return rtl::AnsiUpperCase(s);
}

AnsiString LocaleLowerCase(const AnsiString& s) {
    return rtl::AnsiLowerCase(s);
}

char LocaleDecimalSeparator() {
    return rtl::FormatSettings().DecimalSeparator;
}

// ---------------------------------------------------------------------------------------------
// Variant equality

namespace {

bool IsText(const rtl::Variant& v) {
    return v.VarType() == rtl::varString || v.VarType() == rtl::varOleStr;
}

bool IsEmptyText(const rtl::Variant& v) {
    return (v.VarType() == rtl::varString || v.VarType() == rtl::varOleStr) && v.AsWideString().empty();
}

bool IsByteArray(const rtl::Variant& v) {
    return v.VarType() == (rtl::varArray | rtl::varByte);
}

}  // namespace

bool VarEqual(const rtl::Variant& x, const rtl::Variant& y) {
    if ((x.VarType() == rtl::varOleStr && IsText(y)) || (y.VarType() == rtl::varOleStr && IsText(x)))
        return x.AsWideString() == y.AsWideString();
    if (x.IsNull() || y.IsNull()) return x.IsNull() && y.IsNull();
    if (IsEmptyText(x)) return IsEmptyText(y);
    if (IsEmptyText(y)) return false;
    const bool xb = IsByteArray(x), yb = IsByteArray(y);
    if (!xb && !yb) return x == y;
    if (xb != yb) return false;
    return rtl::VariantToBytes(x) == rtl::VariantToBytes(y);
}

// ---------------------------------------------------------------------------------------------
// Quoting

AnsiString QuoteStr(const AnsiString& s, char quote) {
    return rtl::AnsiQuotedStr(s, quote);
}

AnsiString DequoteStr(const AnsiString& s, char quote) {
    return rtl::AnsiDequotedStr(s, quote);
}

}  // namespace dac
