// Locale case mapping and collation on ICU.
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/utf16.h>

#include <array>

#include "platform/rtl/Strings.h"

namespace rtl {
namespace {

// Case maps of the ANSI code page, built once from ICU's simple case mappings.
struct AnsiCaseTables {
    std::array<char, 256> upper{};
    std::array<char, 256> lower{};
    AnsiCaseTables() {
        std::string all(256, '\0');
        for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
        const WideString wide = AnsiToWide(all, AnsiCodePage);
        for (int b = 0; b < 256; ++b) {
            upper[b] = Map(all[b], wide[b], u_toupper(wide[b]));
            lower[b] = Map(all[b], wide[b], u_tolower(wide[b]));
        }
    }
    // The byte of the mapped character when the code page has it, else the byte itself.
    static char Map(char original, char16_t from, UChar32 to) {
        if (to == from || to > 0xFFFF) return original;
        const AnsiString back = WideToAnsi(std::u16string(1, static_cast<char16_t>(to)), AnsiCodePage);
        return back == "?" ? original : back[0];
    }
};

const AnsiCaseTables& CaseTables() {
    static const AnsiCaseTables tables;
    return tables;
}

template <UChar32 (*MapFn)(UChar32)>
WideString MapWide(std::u16string_view s) {
    WideString out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const UChar*>(s.data());
    const int32_t n = static_cast<int32_t>(s.size());
    int32_t i = 0;
    while (i < n) {
        const int32_t start = i;
        UChar32 c;
        U16_NEXT(p, i, n, c);
        UChar32 m = MapFn(c);
        // Keep the length: a mapping that would change the number of code units is not taken.
        if (U16_LENGTH(m) != i - start) m = c;
        if (U16_LENGTH(m) == 1) {
            out += static_cast<char16_t>(m);
        } else if (c == m) {
            out.append(s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        } else {
            out += static_cast<char16_t>(U16_LEAD(m));
            out += static_cast<char16_t>(U16_TRAIL(m));
        }
    }
    return out;
}

// One root collator per thread and strength: compare is then free of shared state.
class Collators {
public:
    ~Collators() {
        for (UCollator* c : collators_)
            if (c) ucol_close(c);
    }
    UCollator* Get(bool ignoreCase) {
        UCollator*& c = collators_[ignoreCase ? 1 : 0];
        if (!c) {
            UErrorCode status = U_ZERO_ERROR;
            c = ucol_open("", &status);
            if (U_FAILURE(status)) {
                if (c) ucol_close(c);
                c = nullptr;
                return nullptr;
            }
            // Secondary strength drops case differences but keeps accents (е vs ё).
            ucol_setStrength(c, ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY);
            ucol_setAttribute(c, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        }
        return c;
    }

private:
    std::array<UCollator*, 2> collators_{};
};

thread_local Collators tCollators;

int Collate(UCollator* c, std::u16string_view a, std::u16string_view b) {
    UCollationResult r =
        ucol_strcoll(c, reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                     reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()));
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

bool IsWordSortIgnorable(char16_t c) {
    return c == u'-' || c == u'\'';
}

WideString StripIgnorable(std::u16string_view s, std::size_t& removed) {
    WideString out;
    out.reserve(s.size());
    removed = 0;
    for (char16_t c : s) {
        if (IsWordSortIgnorable(c)) {
            ++removed;
        } else {
            out += c;
        }
    }
    return out;
}

// -1/0/1, or -2 when the collator cannot be had.
int LocaleCompare(unsigned flags, std::u16string_view a, std::u16string_view b) {
    UCollator* c = tCollators.Get((flags & NORM_IGNORECASE) != 0);
    if (!c) return -2;
    if (flags & SORT_STRINGSORT) return Collate(c, a, b);
    std::size_t removedA = 0, removedB = 0;
    const WideString sa = StripIgnorable(a, removedA);
    const WideString sb = StripIgnorable(b, removedB);
    int r = Collate(c, sa, sb);
    if (r != 0 || (removedA == 0 && removedB == 0)) return r;
    if (removedA != removedB) return removedA < removedB ? -1 : 1;
    return Collate(c, a, b);
}

constexpr unsigned kKnownFlags = NORM_IGNORECASE | SORT_STRINGSORT;

}  // namespace

char AnsiUpperChar(char c) {
    return CaseTables().upper[static_cast<uint8_t>(c)];
}
char AnsiLowerChar(char c) {
    return CaseTables().lower[static_cast<uint8_t>(c)];
}

AnsiString AnsiUpperCase(std::string_view s) {
    const auto& t = CaseTables();
    AnsiString r(s);
    for (char& c : r) c = t.upper[static_cast<uint8_t>(c)];
    return r;
}

AnsiString AnsiLowerCase(std::string_view s) {
    const auto& t = CaseTables();
    AnsiString r(s);
    for (char& c : r) c = t.lower[static_cast<uint8_t>(c)];
    return r;
}

WideString WideUpperCase(std::u16string_view s) {
    return MapWide<u_toupper>(s);
}
WideString WideLowerCase(std::u16string_view s) {
    return MapWide<u_tolower>(s);
}

int CompareStringW(unsigned flags, std::u16string_view a, std::u16string_view b) {
    if (flags & ~kKnownFlags) return 0;
    int r = LocaleCompare(flags, a, b);
    return r == -2 ? 0 : r + 2;
}

int CompareStringA(unsigned flags, std::string_view a, std::string_view b) {
    return CompareStringW(flags, AnsiToWide(a, AnsiCodePage), AnsiToWide(b, AnsiCodePage));
}

int AnsiCompareStr(std::string_view a, std::string_view b) {
    return CompareStringA(0, a, b) - 2;
}
int AnsiCompareText(std::string_view a, std::string_view b) {
    return CompareStringA(NORM_IGNORECASE, a, b) - 2;
}
bool AnsiSameStr(std::string_view a, std::string_view b) {
    return AnsiCompareStr(a, b) == 0;
}
bool AnsiSameText(std::string_view a, std::string_view b) {
    return AnsiCompareText(a, b) == 0;
}
int WideCompareStr(std::u16string_view a, std::u16string_view b) {
    return CompareStringW(0, a, b) - 2;
}
int WideCompareText(std::u16string_view a, std::u16string_view b) {
    return CompareStringW(NORM_IGNORECASE, a, b) - 2;
}
bool WideSameStr(std::u16string_view a, std::u16string_view b) {
    return WideCompareStr(a, b) == 0;
}
bool WideSameText(std::u16string_view a, std::u16string_view b) {
    return WideCompareText(a, b) == 0;
}

}  // namespace rtl
