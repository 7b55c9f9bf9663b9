// Trimming, ASCII case, ordinal comparisons, search and replace, quoting and hex.
#include "platform/rtl/Strings.h"

#include <algorithm>

namespace rtl {
namespace {

template <class Char>
std::basic_string<Char> TrimImpl(std::basic_string_view<Char> s, bool left, bool right) {
    std::size_t b = 0, e = s.size();
    if (left)
        while (b < e && static_cast<std::make_unsigned_t<Char>>(s[b]) <= ' ') ++b;
    if (right)
        while (e > b && static_cast<std::make_unsigned_t<Char>>(s[e - 1]) <= ' ') --e;
    return std::basic_string<Char>(s.substr(b, e - b));
}

template <class Char>
Char AsciiUpper(Char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<Char>(c - 'a' + 'A') : c;
}

template <class Char>
Char AsciiLower(Char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <class Char>
int CompareImpl(std::basic_string_view<Char> a, std::basic_string_view<Char> b, bool foldCase) {
    using U = std::make_unsigned_t<Char>;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int ca = static_cast<U>(foldCase ? AsciiUpper(a[i]) : a[i]);
        int cb = static_cast<U>(foldCase ? AsciiUpper(b[i]) : b[i]);
        if (ca != cb) return ca - cb;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

template <class Char>
int PosImpl(std::basic_string_view<Char> sub, std::basic_string_view<Char> s, int offset) {
    if (sub.empty() || offset < 1 || static_cast<std::size_t>(offset) > s.size()) return 0;
    auto p = s.find(sub, static_cast<std::size_t>(offset - 1));
    return p == std::basic_string_view<Char>::npos ? 0 : static_cast<int>(p) + 1;
}

template <class Char>
std::basic_string<Char> CopyImpl(std::basic_string_view<Char> s, int index, int count) {
    if (index < 1) index = 1;
    if (count <= 0 || static_cast<std::size_t>(index) > s.size()) return {};
    return std::basic_string<Char>(
        s.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count)));
}

// Replace with a fold function applied to both sides while matching (identity when case matters).
template <class Char, class Fold>
std::basic_string<Char> ReplaceImpl(std::basic_string_view<Char> s, std::basic_string_view<Char> oldPattern,
                                    std::basic_string_view<Char> newPattern, bool all, Fold fold) {
    if (oldPattern.empty()) return std::basic_string<Char>(s);
    const std::basic_string<Char> hay = fold(s);
    const std::basic_string<Char> needle = fold(oldPattern);
    std::basic_string<Char> out;
    out.reserve(s.size());
    std::size_t from = 0;
    while (from <= hay.size()) {
        std::size_t p = hay.find(needle, from);
        if (p == std::basic_string<Char>::npos) break;
        out.append(s.substr(from, p - from));
        out.append(newPattern);
        from = p + needle.size();
        if (!all) break;
    }
    out.append(s.substr(std::min(from, s.size())));
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

AnsiString Trim(std::string_view s) {
    return TrimImpl(s, true, true);
}
AnsiString TrimLeft(std::string_view s) {
    return TrimImpl(s, true, false);
}
AnsiString TrimRight(std::string_view s) {
    return TrimImpl(s, false, true);
}
WideString Trim(std::u16string_view s) {
    return TrimImpl(s, true, true);
}
WideString TrimLeft(std::u16string_view s) {
    return TrimImpl(s, true, false);
}
WideString TrimRight(std::u16string_view s) {
    return TrimImpl(s, false, true);
}

AnsiString UpperCase(std::string_view s) {
    AnsiString r(s);
    for (char& c : r) c = AsciiUpper(c);
    return r;
}

AnsiString LowerCase(std::string_view s) {
    AnsiString r(s);
    for (char& c : r) c = AsciiLower(c);
    return r;
}

WideString UpperCase(std::u16string_view s) {
    WideString r(s);
    for (char16_t& c : r) c = AsciiUpper(c);
    return r;
}

WideString LowerCase(std::u16string_view s) {
    WideString r(s);
    for (char16_t& c : r) c = AsciiLower(c);
    return r;
}

int CompareStr(std::string_view a, std::string_view b) {
    return CompareImpl(a, b, false);
}
int CompareText(std::string_view a, std::string_view b) {
    return CompareImpl(a, b, true);
}
bool SameStr(std::string_view a, std::string_view b) {
    return a == b;
}
bool SameText(std::string_view a, std::string_view b) {
    return CompareText(a, b) == 0;
}
int CompareStr(std::u16string_view a, std::u16string_view b) {
    return CompareImpl(a, b, false);
}
int CompareText(std::u16string_view a, std::u16string_view b) {
    return CompareImpl(a, b, true);
}
bool SameText(std::u16string_view a, std::u16string_view b) {
    return CompareText(a, b) == 0;
}

int Pos(std::string_view sub, std::string_view s) {
    return PosImpl(sub, s, 1);
}
int Pos(std::u16string_view sub, std::u16string_view s) {
    return PosImpl(sub, s, 1);
}
int PosEx(std::string_view sub, std::string_view s, int offset) {
    return PosImpl(sub, s, offset);
}
int PosEx(std::u16string_view sub, std::u16string_view s, int offset) {
    return PosImpl(sub, s, offset);
}

int LastDelimiter(std::string_view delimiters, std::string_view s) {
    auto p = s.find_last_of(delimiters);
    return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

AnsiString Copy(std::string_view s, int index, int count) {
    return CopyImpl(s, index, count);
}
WideString Copy(std::u16string_view s, int index, int count) {
    return CopyImpl(s, index, count);
}

void Delete(std::string& s, int index, int count) {
    if (index < 1 || static_cast<std::size_t>(index) > s.size() || count <= 0) return;
    s.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

void Insert(std::string_view sub, std::string& s, int index) {
    if (index < 1) index = 1;
    s.insert(std::min(static_cast<std::size_t>(index - 1), s.size()), sub);
}

AnsiString StringOfChar(char c, int count) {
    return count > 0 ? AnsiString(static_cast<std::size_t>(count), c) : "";
}

AnsiString DupeString(std::string_view s, int count) {
    AnsiString r;
    for (int i = 0; i < count; ++i) r.append(s);
    return r;
}

AnsiString StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                         TReplaceFlags flags) {
    const bool all = (flags & rfReplaceAll) != 0;
    if (flags & rfIgnoreCase)
        return ReplaceImpl(s, oldPattern, newPattern, all,
                           [](std::string_view t) { return AnsiUpperCase(t); });
    return ReplaceImpl(s, oldPattern, newPattern, all, [](std::string_view t) { return std::string(t); });
}

WideString StringReplace(std::u16string_view s, std::u16string_view oldPattern,
                         std::u16string_view newPattern, TReplaceFlags flags) {
    const bool all = (flags & rfReplaceAll) != 0;
    if (flags & rfIgnoreCase)
        return ReplaceImpl(s, oldPattern, newPattern, all,
                           [](std::u16string_view t) { return WideUpperCase(t); });
    return ReplaceImpl(s, oldPattern, newPattern, all,
                       [](std::u16string_view t) { return std::u16string(t); });
}

AnsiString QuotedStr(std::string_view s) {
    return AnsiQuotedStr(s, '\'');
}

AnsiString AnsiQuotedStr(std::string_view s, char quote) {
    AnsiString r;
    r.reserve(s.size() + 2);
    r += quote;
    for (char c : s) {
        r += c;
        if (c == quote) r += quote;
    }
    r += quote;
    return r;
}

bool ExtractQuotedStr(std::string_view s, char quote, std::string& text, std::string_view* rest) {
    if (s.empty() || s[0] != quote) return false;
    std::string r;
    std::size_t i = 1;
    while (i < s.size()) {
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                r += quote;
                i += 2;
                continue;
            }
            text = std::move(r);
            if (rest) *rest = s.substr(i + 1);
            return true;
        }
        r += s[i++];
    }
    return false;
}

AnsiString AnsiDequotedStr(std::string_view s, char quote) {
    std::string text;
    if (!ExtractQuotedStr(s, quote, text)) return AnsiString(s);
    return text;
}

std::string IntToHexBits(uint64_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string r;
    do {
        r += kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(r.size()) < digits) r += '0';
    std::reverse(r.begin(), r.end());
    return r;
}

std::string BinToHex(const void* data, std::size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    const auto* p = static_cast<const uint8_t*>(data);
    std::string r;
    r.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        r += kDigits[p[i] >> 4];
        r += kDigits[p[i] & 0xF];
    }
    return r;
}

std::string BinToHex(const TBytes& bytes) {
    return BinToHex(bytes.data(), bytes.size());
}

std::size_t HexToBin(std::string_view hex, void* out, std::size_t maxBytes) {
    auto* p = static_cast<uint8_t*>(out);
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < hex.size() && n < maxBytes; i += 2) {
        int hi = HexValue(hex[i]);
        int lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) break;
        p[n++] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return n;
}

bool IsValidIdent(std::string_view s) {
    if (s.empty()) return false;
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    if (!alpha(s[0])) return false;
    return std::all_of(s.begin() + 1, s.end(), [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

}  // namespace rtl
