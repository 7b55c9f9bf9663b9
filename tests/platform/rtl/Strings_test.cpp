#include "platform/rtl/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/rtl/Exceptions.h"

using namespace rtl;

namespace {

// Test texts are written in UTF-8 and turned into ANSI (1251) bytes.
AnsiString A(std::string_view utf8) {
    return Utf8ToAnsi(utf8);
}

struct TableEntry {
    int codePage;
    int byte;
    char16_t unit;
};

std::vector<TableEntry> LoadCodePageTables() {
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/tests/platform/rtl/data/codepages.txt");
    std::vector<TableEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int cp;
        std::string b, u;
        fields >> cp >> b >> u;
        entries.push_back({cp, std::stoi(b, nullptr, 16), static_cast<char16_t>(std::stoi(u, nullptr, 16))});
    }
    return entries;
}

}  // namespace

TEST(CodePages, TablesMatchReferenceAndRoundTripEveryByte) {
    const auto entries = LoadCodePageTables();
    ASSERT_EQ(entries.size(), 512u);
    for (const auto& e : entries) {
        const std::string byte(1, static_cast<char>(e.byte));
        const WideString wide = AnsiToWide(byte, e.codePage);
        ASSERT_EQ(wide.size(), 1u);
        EXPECT_EQ(wide[0], e.unit) << "code page " << e.codePage << " byte " << e.byte;
        EXPECT_EQ(WideToAnsi(std::u16string(1, e.unit), e.codePage), byte)
            << "code page " << e.codePage << " byte " << e.byte;
    }
    // A whole 256-byte block survives both ways in both code pages.
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
    for (int cp : {1251, 866}) EXPECT_EQ(WideToAnsi(AnsiToWide(all, cp), cp), all) << cp;
    EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);  // defaults to the ANSI code page
}

TEST(CodePages, MissingCharactersAndUnsupportedCodePages) {
    // Greek alpha and an emoji (surrogate pair) are in neither code page: one '?' each.
    EXPECT_EQ(WideToAnsi(u"a\u03B1b\U0001F600c", 1251), "a?b?c");
    EXPECT_EQ(WideToAnsi(u"\u2500", 1251), "?");  // box drawing: 866 has it, 1251 not
    EXPECT_EQ(WideToAnsi(u"\u2500", 866), "\xC4");
    EXPECT_FALSE(IsSupportedCodePage(1252));
    EXPECT_TRUE(IsSupportedCodePage(CP_UTF8));
    EXPECT_THROW(AnsiToWide("x", 1252), EConvertError);
    EXPECT_THROW(WideToAnsi(u"x", 437), EConvertError);
    EXPECT_THROW(ConvertCodePage("x", 1251, 28591), EConvertError);
}

TEST(CodePages, AnsiOemAndUtf8Conversions) {
    const AnsiString ansi = A("Привет, Ёжик! №5 «ok»");
    EXPECT_EQ(ansi.size(), 21u);  // one byte per character
    EXPECT_EQ(AnsiToUtf8(ansi), "Привет, Ёжик! №5 «ok»");
    EXPECT_EQ(AnsiToWide(ansi), u"Привет, Ёжик! №5 «ok»");
    // 866 has the letters and № but not the guillemets.
    const AnsiString oem = AnsiToOem(ansi);
    EXPECT_EQ(oem.substr(0, 6), "\x8F\xE0\xA8\xA2\xA5\xE2");
    EXPECT_EQ(OemToAnsi(oem), A("Привет, Ёжик! №5 ?ok?"));
    EXPECT_EQ(AnsiToWide(ansi, CP_UTF8), Utf8ToWide(ansi));
    EXPECT_EQ(ConvertCodePage(AnsiToUtf8(ansi), CP_UTF8, 1251), ansi);
}

TEST(CodePages, Utf8DecodingAndEncoding) {
    struct Case {
        std::string utf8;
        std::u16string wide;
    };
    const Case cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {"\xD0\x96", u"\u0416"},              // Ж
        {"\xE2\x82\xAC", u"\u20AC"},          // €
        {"\xF0\x9F\x98\x80", u"\U0001F600"},  // surrogate pair
        {"a\x80z", u"a\uFFFDz"},              // stray continuation byte
        {"a\xC0\xAFz", u"a\uFFFD\uFFFDz"},    // C0 is never a lead byte
        {"a\xE0\x80\xAFz", u"a\uFFFDz"},      // overlong three-byte form
        {"a\xED\xA0\x80z", u"a\uFFFDz"},      // encoded surrogate
        {"a\xE2\x82", u"a\uFFFD"},            // truncated at the end
        {"\xE2\x82z", u"\uFFFDz"},            // truncated before an ASCII byte
        {"\xF4\x90\x80\x80", u"\uFFFD"},      // beyond U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(WideToUtf8(u"\u0416\u20AC\U0001F600"), "\xD0\x96\xE2\x82\xAC\xF0\x9F\x98\x80");
    // Lone surrogates cannot be encoded.
    EXPECT_EQ(WideToUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(Strings, TrimAndCase) {
    EXPECT_EQ(Trim(" \t\r\n ab c \x01"), "ab c");
    EXPECT_EQ(TrimLeft("  ab  "), "ab  ");
    EXPECT_EQ(TrimRight("  ab  "), "  ab");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(A(" \xA0я ")), A("\xA0я"));  // no-break space is not trimmed
    EXPECT_EQ(Trim(u"\t x \n"), u"x");

    EXPECT_EQ(UpperCase(A("abc-яё")), A("ABC-яё"));  // ASCII only
    EXPECT_EQ(LowerCase(A("ABC-ЯЁ")), A("abc-ЯЁ"));
    EXPECT_EQ(AnsiUpperCase(A("abc-яёђў")), A("ABC-ЯЁЂЎ"));
    EXPECT_EQ(AnsiLowerCase(A("ABC-ЯЁЂЎ")), A("abc-яёђў"));
    EXPECT_EQ(AnsiUpperCase(A("µ")), A("µ"));  // its capital (U+039C) is not in 1251
    EXPECT_EQ(AnsiUpperChar('\x98'), '\x98');
    EXPECT_EQ(WideUpperCase(u"straße ж \U00010428"), u"STRAßE Ж \U00010400");  // keeps the length
    EXPECT_EQ(WideLowerCase(u"ЖЁ"), u"жё");
    EXPECT_EQ(UpperCase(u"ab\u0436"), u"AB\u0436");
}

TEST(Strings, OrdinalComparisons) {
    EXPECT_EQ(CompareStr("abc", "abc"), 0);
    EXPECT_LT(CompareStr("ABC", "abc"), 0);
    EXPECT_LT(CompareStr("ab", "abc"), 0);
    EXPECT_GT(CompareStr("\xE0", "a"), 0);  // bytes compare unsigned
    EXPECT_EQ(CompareText("Hello", "hELLO"), 0);
    EXPECT_GT(CompareText("b", "A"), 0);
    EXPECT_GT(CompareText("_", "a"), 0);        // folds to upper case: '_' (0x5F) after 'A' (0x41)
    EXPECT_NE(CompareText(A("я"), A("Я")), 0);  // only ASCII is folded
    EXPECT_TRUE(SameText("ID", "id"));
    EXPECT_FALSE(SameText("ID", "ids"));
    EXPECT_EQ(CompareText(u"Abc", u"aBC"), 0);
}

TEST(Strings, LocaleComparisons) {
    struct Case {
        const char* a;
        const char* b;
        unsigned flags;
        int expected;  // CompareString result minus 2
    };
    const Case cases[] = {
        {"a", "A", 0, -1},  // lower before upper
        {"a", "A", NORM_IGNORECASE, 0},
        {"apple", "Banana", 0, -1},  // letters first, case second
        {"Zebra", "яблоко", 0, -1},  // Latin before Cyrillic
        {"ёлка", "ЁЛКА", NORM_IGNORECASE, 0},
        {"елка", "ёлка", NORM_IGNORECASE, -1},  // е and ё differ beyond case
        {"ёж", "ель", NORM_IGNORECASE, -1},
        {"10", "9", 0, -1},                      // text, not numbers
        {"co-op", "coop", 0, 1},                 // word sort: hyphen only breaks ties
        {"co-op", "coop", SORT_STRINGSORT, -1},  // string sort: hyphen is a symbol
        {"co-op", "cop", 0, -1},
        {"co-op", "cop", SORT_STRINGSORT, -1},
        {"it's", "its", 0, 1},
        {"a-c", "ab", 0, 1},  // "ac" > "ab" once the hyphen is set aside
        {"a-c", "ab", SORT_STRINGSORT, -1},
        {"", "a", 0, -1},
        {"", "", 0, 0},
    };
    for (const auto& c : cases) {
        const AnsiString a = A(c.a), b = A(c.b);
        EXPECT_EQ(CompareStringA(c.flags, a, b) - 2, c.expected)
            << c.a << " / " << c.b << " flags " << c.flags;
        EXPECT_EQ(CompareStringA(c.flags, b, a) - 2, -c.expected) << c.b << " / " << c.a;
        EXPECT_EQ(CompareStringW(c.flags, Utf8ToWide(c.a), Utf8ToWide(c.b)) - 2, c.expected) << c.a;
    }
    EXPECT_EQ(CompareStringW(0x00000004, u"a", u"b"), 0);  // unknown flag: failure
    EXPECT_EQ(AnsiCompareStr(A("Ёж"), A("ёж")), 1);
    EXPECT_EQ(AnsiCompareText(A("Ёж"), A("ёж")), 0);
    EXPECT_TRUE(AnsiSameText(A("Привет"), A("пРИВЕТ")));
    EXPECT_FALSE(AnsiSameStr(A("Привет"), A("пРИВЕТ")));
    EXPECT_TRUE(WideSameText(u"ЖУК", u"жук"));
}

TEST(Strings, WordSortAndStringSortOrders) {
    // Word sort keeps "coop" and "co-op" together; string sort treats the marks as symbols.
    const std::vector<std::string> words = {"cant",  "bill's", "coop",  "cannot", "billet",
                                            "can't", "con",    "bills", "co-op"};
    struct Case {
        unsigned flags;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0, {"billet", "bills", "bill's", "cannot", "cant", "can't", "con", "coop", "co-op"}},
        {SORT_STRINGSORT, {"bill's", "billet", "bills", "can't", "cannot", "cant", "co-op", "con", "coop"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> sorted = words;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
            return CompareStringA(c.flags, a, b) == CSTR_LESS_THAN;
        });
        EXPECT_EQ(sorted, c.expected) << "flags " << c.flags;
    }
}

TEST(Strings, PosCopyDeleteInsert) {
    EXPECT_EQ(Pos("b", "abcb"), 2);
    EXPECT_EQ(Pos("x", "abc"), 0);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("abcd", "abc"), 0);
    EXPECT_EQ(PosEx("b", "abcb", 3), 4);
    EXPECT_EQ(PosEx("b", "abcb", 5), 0);
    EXPECT_EQ(PosEx("b", "abcb", 0), 0);
    EXPECT_EQ(Pos(u"\u0436", u"a\u0436"), 2);
    EXPECT_EQ(LastDelimiter("/\\", "a/b\\c.txt"), 4);
    EXPECT_EQ(LastDelimiter(".", "abc"), 0);

    EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
    EXPECT_EQ(Copy("abcdef", 0, 2), "ab");  // index below 1 counts from 1
    EXPECT_EQ(Copy("abcdef", 5, 100), "ef");
    EXPECT_EQ(Copy("abcdef", 7, 1), "");
    EXPECT_EQ(Copy("abcdef", 2, -1), "");
    EXPECT_EQ(Copy("abcdef", 3), "cdef");

    std::string s = "abcdef";
    Delete(s, 2, 2);
    EXPECT_EQ(s, "adef");
    Delete(s, 9, 1);
    EXPECT_EQ(s, "adef");
    Delete(s, 3, 100);
    EXPECT_EQ(s, "ad");
    Insert("XY", s, 2);
    EXPECT_EQ(s, "aXYd");
    Insert("!", s, 99);
    EXPECT_EQ(s, "aXYd!");
    EXPECT_EQ(StringOfChar('-', 3), "---");
    EXPECT_EQ(StringOfChar('-', -1), "");
    EXPECT_EQ(DupeString("ab", 3), "ababab");
}

TEST(Strings, StringReplace) {
    struct Case {
        const char* s;
        const char* from;
        const char* to;
        TReplaceFlags flags;
        const char* expected;
    };
    const Case cases[] = {
        {"a.b.c", ".", "::", rfNone, "a::b.c"},
        {"a.b.c", ".", "::", rfReplaceAll, "a::b::c"},
        {"aaa", "aa", "b", rfReplaceAll, "ba"},  // no overlapping matches
        {"Select SELECT select", "select", "x", rfReplaceAll | rfIgnoreCase, "x x x"},
        {"Select SELECT", "select", "x", rfIgnoreCase, "x SELECT"},
        {"Ёлка ЁЛКА ёлка", "ёлка", "-", rfReplaceAll | rfIgnoreCase, "- - -"},
        {"Ёлка", "ёлка", "-", rfReplaceAll, "Ёлка"},
        {"abc", "", "x", rfReplaceAll, "abc"},
        {"abc", "abc", "", rfReplaceAll, ""},
        {"x", "x", "xx", rfReplaceAll, "xx"},  // replacement is not searched again
    };
    for (const auto& c : cases)
        EXPECT_EQ(StringReplace(A(c.s), A(c.from), A(c.to), c.flags), A(c.expected))
            << c.s << " / " << c.from;
    EXPECT_EQ(StringReplace(u"Жук жук", u"ЖУК", u"x", rfReplaceAll | rfIgnoreCase), u"x x");
}

TEST(Strings, Quoting) {
    EXPECT_EQ(QuotedStr("It's"), "'It''s'");
    EXPECT_EQ(QuotedStr(""), "''");
    EXPECT_EQ(AnsiQuotedStr("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
    struct Case {
        const char* s;
        const char* expected;
    };
    const Case cases[] = {
        {"'ABC'", "ABC"}, {"'It''s'", "It's"},  {"ABC", "ABC"},  // unquoted: unchanged
        {"'ABC", "'ABC"}, {"'It''s", "'It''s"},                  // unterminated: unchanged
        {"''", ""},       {"'a'b", "a"},        {"", ""},       {"''''", "'"},
    };
    for (const auto& c : cases) EXPECT_EQ(AnsiDequotedStr(c.s, '\''), c.expected) << c.s;
    for (std::string s : {"", "a", "'", "''x'", "a'b''c"}) EXPECT_EQ(AnsiDequotedStr(QuotedStr(s), '\''), s);
    std::string text;
    std::string_view rest;
    ASSERT_TRUE(ExtractQuotedStr("\"a\"\"b\", c", '"', text, &rest));
    EXPECT_EQ(text, "a\"b");
    EXPECT_EQ(rest, ", c");
}

TEST(Strings, Hex) {
    EXPECT_EQ(IntToHex(255, 2), "FF");
    EXPECT_EQ(IntToHex(255, 8), "000000FF");
    EXPECT_EQ(IntToHex(0x1234, 2), "1234");  // digits is a minimum
    EXPECT_EQ(IntToHex(0, 0), "0");
    EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");  // 32-bit two's complement
    EXPECT_EQ(IntToHex(int64_t{-2}, 4), "FFFFFFFFFFFFFFFE");
    EXPECT_EQ(IntToHex(uint8_t{0xAB}, 4), "00AB");
    EXPECT_EQ(IntToHex(uint64_t{0xDEADBEEFCAFEULL}, 16), "0000DEADBEEFCAFE");
    const uint8_t bytes[] = {0x00, 0x7F, 0xA5, 0xFF};
    EXPECT_EQ(BinToHex(bytes, sizeof bytes), "007FA5FF");
    uint8_t back[4] = {};
    EXPECT_EQ(HexToBin("007fA5FF", back, sizeof back), 4u);
    EXPECT_EQ(std::memcmp(back, bytes, 4), 0);
    EXPECT_EQ(HexToBin("12zz34", back, sizeof back), 1u);  // stops at a bad pair
    EXPECT_EQ(HexToBin("1234567890", back, 2), 2u);
    EXPECT_TRUE(IsValidIdent("_abc1"));
    EXPECT_FALSE(IsValidIdent("1abc"));
    EXPECT_FALSE(IsValidIdent("a b"));
    EXPECT_FALSE(IsValidIdent(""));
}

TEST(CodePages, StrictUtf8ToAnsiRefusesWhatWouldBecomeQuestionMarks) {
    struct Case {
        const char* what;
        std::string utf8;
        bool ok;
        std::string ansi;
    };
    const Case cases[] = {
        {"Cyrillic", "Привет.txt", true, "\xCF\xF0\xE8\xE2\xE5\xF2.txt"},
        {"unassigned 0x98 through U+0098", "\xC2\x98", true, "\x98"},
        {"a real question mark", "a?b", true, "a?b"},
        {"CJK", "日本.txt", false, ""},
        {"truncated sequence", "a\xD0", false, ""},
        {"overlong slash", "\xC0\xAF", false, ""},
        {"a literal U+FFFD", "\xEF\xBF\xBD", false, ""},
    };
    for (const Case& c : cases) {
        AnsiString out = "unchanged";
        EXPECT_EQ(TryUtf8ToAnsi(c.utf8, out), c.ok) << c.what;
        EXPECT_EQ(out, c.ok ? c.ansi : std::string("unchanged")) << c.what;
    }
}
