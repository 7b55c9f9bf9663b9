// Text routines of the runtime: code-page conversions, trimming, case, comparisons, search and
// replace, quoting and hex. 8-bit text is AnsiString in the ANSI code page (1251); positions in
// Pos/Copy/Delete/Insert are 1-based as everywhere in the system's code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/rtl/Types.h"

namespace rtl {

// ---------------------------------------------------------------------------------------------
// Code pages. 1251 and 866 go through our own 256-entry tables: every byte has a UTF-16 unit and
// converts back to itself (1251's unassigned 0x98 is U+0098). A character the target code page
// lacks becomes '?'. CP_UTF8 is accepted wherever a code page is.

inline constexpr int CP_UTF8 = 65001;

// True for 1251, 866 and CP_UTF8.
bool IsSupportedCodePage(int codePage);

// Raise EConvertError "Unsupported code page N" for any other code page.
WideString AnsiToWide(std::string_view s, int codePage = AnsiCodePage);
AnsiString WideToAnsi(std::u16string_view s, int codePage = AnsiCodePage);

// UTF-8 <-> UTF-16. Malformed UTF-8 and lone surrogates become U+FFFD.
WideString Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::u16string_view s);

AnsiString Utf8ToAnsi(std::string_view s);
std::string AnsiToUtf8(std::string_view s);
// Strict UTF-8 -> ANSI: false (out unchanged) for malformed UTF-8 or a character the ANSI code
// page lacks, where Utf8ToAnsi would put '?'.
bool TryUtf8ToAnsi(std::string_view s, AnsiString& out);

// ANSI (1251) <-> OEM (866) byte by byte.
AnsiString AnsiToOem(std::string_view s);
AnsiString OemToAnsi(std::string_view s);

// Converts 8-bit text between any two supported code pages.
std::string ConvertCodePage(std::string_view s, int fromCodePage, int toCodePage);

// cp1251 has no multi-byte characters.
inline constexpr bool SysLocaleFarEast = false;

// ---------------------------------------------------------------------------------------------
// Trimming: characters up to and including ' ' (controls and blank) are removed.

AnsiString Trim(std::string_view s);
AnsiString TrimLeft(std::string_view s);
AnsiString TrimRight(std::string_view s);
WideString Trim(std::u16string_view s);
WideString TrimLeft(std::u16string_view s);
WideString TrimRight(std::u16string_view s);

// ---------------------------------------------------------------------------------------------
// Case. UpperCase/LowerCase change only 'a'..'z' / 'A'..'Z'; the Ansi and Wide forms follow the
// Unicode case of each character (ICU) and keep the length (a character whose other case the
// code page lacks stays as it is).

AnsiString UpperCase(std::string_view s);
AnsiString LowerCase(std::string_view s);
WideString UpperCase(std::u16string_view s);
WideString LowerCase(std::u16string_view s);
AnsiString AnsiUpperCase(std::string_view s);
AnsiString AnsiLowerCase(std::string_view s);
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);
WideString WideUpperCase(std::u16string_view s);
WideString WideLowerCase(std::u16string_view s);

// ---------------------------------------------------------------------------------------------
// Ordinal comparisons. CompareStr compares bytes (unsigned); CompareText folds 'a'..'z' first.
// The result is the difference of the first differing bytes or of the lengths: test its sign.

int CompareStr(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool SameStr(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
int CompareStr(std::u16string_view a, std::u16string_view b);
int CompareText(std::u16string_view a, std::u16string_view b);
bool SameText(std::u16string_view a, std::u16string_view b);

// ---------------------------------------------------------------------------------------------
// Locale comparisons (ICU root collation: punctuation < digits < Latin < Cyrillic, lower case
// before upper case at equal letters).
//
// CompareString works like the platform's CompareString for the user's default locale: it returns
// CSTR_LESS_THAN (1), CSTR_EQUAL (2) or CSTR_GREATER_THAN (3), and 0 when it fails (unknown flags
// or a collation failure), so callers subtract 2 to get -1/0/1 (and -2 for a failure).
// Without SORT_STRINGSORT it sorts words: hyphen and apostrophe count only when the texts are
// otherwise equal (then the text with fewer of them comes first).

inline constexpr unsigned NORM_IGNORECASE = 0x00000001;
inline constexpr unsigned SORT_STRINGSORT = 0x00001000;
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;

int CompareStringW(unsigned flags, std::u16string_view a, std::u16string_view b);
// 8-bit texts are read in the ANSI code page.
int CompareStringA(unsigned flags, std::string_view a, std::string_view b);

// -1, 0 or 1: word sort, with case (Str) or without (Text).
int AnsiCompareStr(std::string_view a, std::string_view b);
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameStr(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);
int WideCompareStr(std::u16string_view a, std::u16string_view b);
int WideCompareText(std::u16string_view a, std::u16string_view b);
bool WideSameStr(std::u16string_view a, std::u16string_view b);
bool WideSameText(std::u16string_view a, std::u16string_view b);

// ---------------------------------------------------------------------------------------------
// Search, copy and replace.

// 1-based position of the first occurrence of sub in s; 0 when absent or when sub is empty.
int Pos(std::string_view sub, std::string_view s);
int Pos(std::u16string_view sub, std::u16string_view s);
inline int AnsiPos(std::string_view sub, std::string_view s) {
    return Pos(sub, s);
}
// As Pos, searching from the 1-based offset; 0 when offset < 1 or beyond the text.
int PosEx(std::string_view sub, std::string_view s, int offset = 1);
int PosEx(std::u16string_view sub, std::u16string_view s, int offset = 1);
// 1-based position of the last character of s that occurs in delimiters; 0 when none.
int LastDelimiter(std::string_view delimiters, std::string_view s);

// count characters from the 1-based index; an index below 1 counts from 1, a count past the end
// stops at the end, a negative count gives ''.
AnsiString Copy(std::string_view s, int index, int count = INT32_MAX);
WideString Copy(std::u16string_view s, int index, int count = INT32_MAX);
// Removes count characters from the 1-based index (nothing when the index is outside the text).
void Delete(std::string& s, int index, int count);
// Inserts sub before the 1-based index (appends when the index is past the end).
void Insert(std::string_view sub, std::string& s, int index);

AnsiString StringOfChar(char c, int count);
AnsiString DupeString(std::string_view s, int count);

enum TReplaceFlags : unsigned { rfNone = 0, rfReplaceAll = 1, rfIgnoreCase = 2 };
constexpr TReplaceFlags operator|(TReplaceFlags a, TReplaceFlags b) {
    return static_cast<TReplaceFlags>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// Replaces the first (or, with rfReplaceAll, every) occurrence of oldPattern; rfIgnoreCase matches
// with locale case folding. An empty pattern leaves s unchanged.
AnsiString StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                         TReplaceFlags flags = rfNone);
WideString StringReplace(std::u16string_view s, std::u16string_view oldPattern,
                         std::u16string_view newPattern, TReplaceFlags flags = rfNone);

// ---------------------------------------------------------------------------------------------
// Quoting.

// 'text' with every apostrophe doubled.
AnsiString QuotedStr(std::string_view s);
// quote + text + quote, with every quote inside doubled.
AnsiString AnsiQuotedStr(std::string_view s, char quote);
// Reads a quoted text at the start of s (doubled quotes become one) and returns it; `rest` gets
// what follows the closing quote. Returns false (and leaves the outputs untouched) when s does not
// start with the quote or the closing quote is missing.
bool ExtractQuotedStr(std::string_view s, char quote, std::string& text, std::string_view* rest = nullptr);
// The quoted text of s without its quotes; s unchanged when it is not quoted or not terminated.
// Anything after the closing quote is dropped.
AnsiString AnsiDequotedStr(std::string_view s, char quote);

// ---------------------------------------------------------------------------------------------
// Hex.

// Upper-case hex of the value's two's complement (32 bits for types up to 4 bytes, else 64),
// padded with zeros to at least `digits` characters.
std::string IntToHexBits(uint64_t value, int digits);
template <class T>
requires std::is_integral_v<T> std::string IntToHex(T value, int digits) {
    if constexpr (sizeof(T) <= 4) {
        return IntToHexBits(static_cast<uint32_t>(value), digits);
    } else {
        return IntToHexBits(static_cast<uint64_t>(value), digits);
    }
}

// Two upper-case hex digits per byte.
std::string BinToHex(const void* data, std::size_t size);
std::string BinToHex(const TBytes& bytes);
// Reads pairs of hex digits (either case) into out until a non-hex pair or the end; returns the
// number of bytes written (at most maxBytes).
std::size_t HexToBin(std::string_view hex, void* out, std::size_t maxBytes);

// ---------------------------------------------------------------------------------------------
// Small character helpers.

// Identifier: a letter or '_' followed by letters, digits and '_' (ASCII).
bool IsValidIdent(std::string_view s);
inline constexpr const char* sLineBreak = "\r\n";

}  // namespace rtl
