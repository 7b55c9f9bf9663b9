#include "dataaccess/core/CLRClasses.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/rtl/Exceptions.h"

namespace dac {
namespace {

TBytes B(std::initializer_list<int> v) {
    TBytes out;
    for (int x : v) out.push_back(static_cast<uint8_t>(x));
    return out;
}

// "Привет" in cp1251 and in UTF-16.
const AnsiString kCyrAnsi = "\xcf\xf0\xe8\xe2\xe5\xf2";
const WideString kCyrWide = u"\u041f\u0440\u0438\u0432\u0435\u0442";

TEST(BitConverter, ReinterpretsBitsAndReadsLittleEndian) {
    EXPECT_EQ(BitConverter::DoubleAsInt64(1.0), 0x3FF0000000000000LL);
    EXPECT_EQ(BitConverter::Int64AsDouble(0x4000000000000000LL), 2.0);
    EXPECT_TRUE(std::isnan(BitConverter::Int64AsDouble(BitConverter::DoubleAsInt64(NAN))));
    const TBytes bytes = B({0xFF, 0x78, 0x56, 0x34, 0x12, 0xFE});
    EXPECT_EQ(BitConverter::ToInt32(bytes, 1), 0x12345678);
    EXPECT_EQ(BitConverter::ToInt16(bytes, 4), static_cast<int16_t>(0xFE12));
    EXPECT_EQ(BitConverter::ToInt16(bytes, 0), 0x78FF);
    EXPECT_THROW(BitConverter::ToInt32(bytes, 3), rtl::ERangeError);
    EXPECT_THROW(BitConverter::ToInt16(bytes, -1), rtl::ERangeError);
}

TEST(Marshal, PeeksAndPokesAtUnalignedOffsets) {
    void* block = Marshal::AllocHGlobal(32);
    std::memset(block, 0, 32);
    Marshal::PokeByte(block, 0xAB);
    Marshal::PokeInt16(block, 1, -2);
    Marshal::PokeInt32(block, 3, 0x01020304);
    Marshal::PokeInt64(block, 7, -5);
    Marshal::PokeIntPtr(block, 15, block);
    EXPECT_EQ(Marshal::PeekByte(block, 0), 0xAB);
    EXPECT_EQ(Marshal::PeekInt16(block, 1), -2);
    EXPECT_EQ(Marshal::PeekInt32(block, 3), 0x01020304);
    EXPECT_EQ(Marshal::PeekByte(block, 3), 0x04);  // little-endian in memory
    EXPECT_EQ(Marshal::PeekInt64(block, 7), -5);
    EXPECT_EQ(Marshal::PeekIntPtr(block, 15), block);
    Marshal::PokeInt32(block, 7);
    EXPECT_EQ(Marshal::PeekInt32(block, 0), 7);
    block = Marshal::ReAllocHGlobal(block, 4096);
    EXPECT_EQ(Marshal::PeekInt32(block, 0), 7);
    Marshal::FreeHGlobal(block);
}

TEST(Marshal, TextFromAddresses) {
    const char raw[] = {'a', 'b', '\0', 'c', 'd'};
    EXPECT_EQ(Marshal::PtrToStringAnsi(raw, 0), "ab");
    EXPECT_EQ(Marshal::PtrToStringAnsi(raw, -1), "ab");
    EXPECT_EQ(Marshal::PtrToStringAnsi(raw, 5), std::string(raw, 5));
    const char16_t wide[] = {u'x', u'\u0416', 0, u'y'};
    EXPECT_EQ(Marshal::PtrToStringUni(wide, 0), u"x\u0416");
    EXPECT_EQ(Marshal::PtrToStringUni(wide, 4), WideString(wide, 4));

    const AnsiString s = "text";
    EXPECT_EQ(Marshal::StringToHGlobalAnsi(s), static_cast<const void*>(s.data()));
    const AnsiString empty;
    EXPECT_EQ(*static_cast<char*>(Marshal::StringToHGlobalAnsi(empty)), '\0');
    const WideString ws = u"w";
    EXPECT_EQ(Marshal::StringToHGlobalUni(ws), static_cast<const void*>(ws.data()));
}

TEST(Marshal, CopyForms) {
    char src[] = "0123456789";
    char dst[11] = "..........";
    Marshal::Copy(src, 3, dst, 4);
    EXPECT_STREQ(dst, "3456......");
    Marshal::Copy(src, dst, 6, 2);
    EXPECT_STREQ(dst, "3456..01..");
    Marshal::Copy(src, 0, dst, 0);
    EXPECT_STREQ(dst, "3456..01..");
    Marshal::Copy(B({1, 2, 3}), 1, dst, 2);
    EXPECT_EQ(dst[0], 2);
    EXPECT_EQ(dst[1], 3);
    EXPECT_THROW(Marshal::Copy(B({1, 2, 3}), 2, dst, 2), rtl::ERangeError);
}

TEST(Encoding, SharedInstancesAndTheirKinds) {
    EXPECT_EQ(Encoding::Default(), Encoding::Default());
    EXPECT_NE(Encoding::Default(), Encoding::Unicode());
    EXPECT_NE(dynamic_cast<UnicodeEncoding*>(Encoding::Unicode()), nullptr);
    EXPECT_EQ(dynamic_cast<UnicodeEncoding*>(Encoding::Default()), nullptr);
    EXPECT_TRUE(EncodingsByCodePage().empty());
}

TEST(Encoding, EightBitDefault) {
    Encoding* e = Encoding::Default();
    EXPECT_EQ(e->GetBytes(kCyrAnsi), TBytes(kCyrAnsi.begin(), kCyrAnsi.end()));
    EXPECT_EQ(e->GetBytes(kCyrWide), TBytes(kCyrAnsi.begin(), kCyrAnsi.end()));  // narrowed to 1251
    TBytes out(5, 0);
    EXPECT_EQ(e->GetBytes(AnsiString("abcdef"), 2, 3, out, 1), 3);
    EXPECT_EQ(out, B({0, 'c', 'd', 'e', 0}));
    EXPECT_EQ(e->GetBytes(AnsiString("abc"), 0, 0, out, 9), 0);  // nothing is written for count 0
    EXPECT_THROW(e->GetBytes(AnsiString("abcdef"), 0, 6, out, 0), rtl::ERangeError);
    const TBytes bytes(kCyrAnsi.begin(), kCyrAnsi.end());
    EXPECT_EQ(e->GetString(bytes), kCyrAnsi);
    EXPECT_EQ(e->GetString(bytes, 1, 2), kCyrAnsi.substr(1, 2));
    EXPECT_EQ(e->GetWideString(bytes), kCyrWide);
    EXPECT_EQ(e->GetMaxByteCount(7), 7);
}

TEST(Encoding, Utf16LittleEndian) {
    Encoding* e = Encoding::Unicode();
    EXPECT_EQ(e->GetBytes(WideString(u"A\u0416")), B({0x41, 0, 0x16, 0x04}));
    EXPECT_EQ(e->GetBytes(AnsiString("\xc6")), B({0x16, 0x04}));  // cp1251 capital zhe
    TBytes out(6, 0xEE);
    EXPECT_EQ(e->GetBytes(WideString(u"abc"), 1, 2, out, 1), 4);
    EXPECT_EQ(out, B({0xEE, 'b', 0, 'c', 0, 0xEE}));
    EXPECT_EQ(e->GetBytes(WideString(u"abc"), 1, -1, out, 0), 0);
    // An odd count ignores the last byte.
    EXPECT_EQ(e->GetWideString(B({0x41, 0, 0x42, 0, 0x43}), 0, 5), u"AB");
    EXPECT_EQ(e->GetString(B({0x16, 0x04, 0x41, 0})),
              "\xc6"
              "A");
    EXPECT_EQ(e->GetMaxByteCount(5), 10);
}

TEST(Encoding, Utf8) {
    UTF8Encoding e;
    EXPECT_EQ(e.GetBytes(AnsiString("a\xc6")), B({'a', 0xD0, 0x96}));
    EXPECT_EQ(e.GetBytes(WideString(u"\u20ac")), B({0xE2, 0x82, 0xAC}));
    EXPECT_EQ(e.GetString(B({'x', 0xD0, 0x96})), "x\xc6");
    EXPECT_EQ(e.GetWideString(B({0xE2, 0x82, 0xAC}), 0, 3), u"\u20ac");
    EXPECT_EQ(e.GetMaxByteCount(4), 12);
    TBytes out(10);
    try {
        e.GetBytes(AnsiString("a"), 0, 1, out, 0);
        FAIL();
    } catch (const rtl::EAssertionFailed& ex) {
        EXPECT_NE(ex.Message().find("not implemented"), std::string::npos);
    }
    EXPECT_THROW(e.GetBytes(WideString(u"a"), 0, 1, out, 0), rtl::EAssertionFailed);
}

TEST(Encoding, EmptyRangeGivesEmptyTextForEveryClass) {
    UTF8Encoding utf8;
    CodePageEncoding cp(1251);
    const TBytes bytes = B({'a', 'b'});
    for (Encoding* e : {Encoding::Default(), Encoding::Unicode(), static_cast<Encoding*>(&utf8),
                        static_cast<Encoding*>(&cp)}) {
        EXPECT_EQ(e->GetString(bytes, 1, 0), "");
        EXPECT_EQ(e->GetWideString(bytes, 1, 0), u"");
    }
}

TEST(CodePageEncoding, ConvertsThroughItsCodePage) {
    struct Case {
        int codePage;
        WideString text;
        TBytes bytes;
    };
    const std::vector<Case> cases = {
        {1251, u"\u0416a", B({0xC6, 'a'})},
        {866, u"\u0416a", B({0x86, 'a'})},
        {65001, u"\u0416a", B({0xD0, 0x96, 'a'})},
    };
    for (const auto& c : cases) {
        CodePageEncoding e(c.codePage);
        EXPECT_EQ(e.GetBytes(c.text), c.bytes) << c.codePage;
        EXPECT_EQ(e.GetWideString(c.bytes, 0, static_cast<int>(c.bytes.size())), c.text) << c.codePage;
        EXPECT_EQ(e.GetString(c.bytes),
                  "\xc6"
                  "a")
            << c.codePage;
        EXPECT_EQ(e.GetBytes(AnsiString("\xc6"
                                        "a")),
                  c.bytes)
            << c.codePage;
        TBytes room(8, 0);
        EXPECT_EQ(e.GetBytes(c.text, 0, 2, room, 1), static_cast<int>(c.bytes.size()));
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), room.begin() + 1));
    }
    CodePageEncoding e(1251);
    EXPECT_TRUE(e.GetBytes(WideString()).empty());
    TBytes small(1);
    EXPECT_THROW(e.GetBytes(WideString(u"ab"), 0, 2, small, 0), rtl::EOSError);
    EXPECT_EQ(e.GetBytes(WideString(u"ab"), 0, 0, small, 0), 0);
    EXPECT_THROW(CodePageEncoding(437).GetBytes(WideString(u"a")), rtl::EOSError);
}

TEST(CodePageEncoding, MaxByteCountFitsTheCodePage) {
    struct Case {
        int codePage, chars, expected;
    };
    for (const auto& c :
         std::vector<Case>{{1201, 4, 8}, {1200, 4, 8}, {1251, 4, 4}, {866, 4, 4}, {65001, 4, 12}}) {
        EXPECT_EQ(CodePageEncoding(c.codePage).GetMaxByteCount(c.chars), c.expected) << c.codePage;
    }
    // The bound really holds for UTF-8 output.
    CodePageEncoding utf8(65001);
    const WideString w = u"\u20ac\u0416\u4e2d";
    EXPECT_LE(static_cast<int>(utf8.GetBytes(w).size()), utf8.GetMaxByteCount(static_cast<int>(w.size())));
}

TEST(AnsiStringBuilder, GrowthRule) {
    AnsiStringBuilder b(10);
    b.Append(AnsiString("12345678"));
    EXPECT_EQ(b.Capacity(), 10);
    b.Append(AnsiString("abc"));
    EXPECT_EQ(b.Capacity(), 3 + 8 + 5);
    EXPECT_EQ(b.ToString(), "12345678abc");

    AnsiStringBuilder full(10);
    full.Append(AnsiString("0123456789"));
    full.Append('x');
    EXPECT_EQ(full.Capacity(), 10 + 5 + 1);

    AnsiStringBuilder zero(0);
    zero.Append('a');
    EXPECT_EQ(zero.Capacity(), 1);
    AnsiStringBuilder zero2(0);
    zero2.Append(AnsiString("hello"));
    EXPECT_EQ(zero2.Capacity(), 5);
    zero2.Append(AnsiString());
    EXPECT_EQ(zero2.Capacity(), 5);
}

TEST(AnsiStringBuilder, InsertSetLengthAndAppendBuilder) {
    AnsiStringBuilder b(4);
    b.Append(AnsiString("ad"));
    b.Insert(1, "bc");
    EXPECT_EQ(b.ToString(), "abcd");
    b.Insert(4, "e");
    b.Insert(0, "_");
    EXPECT_EQ(b.ToString(), "_abcde");
    EXPECT_THROW(b.Insert(7, "x"), rtl::ERangeError);
    b.SetLength(3);
    EXPECT_EQ(b.ToString(), "_ab");
    AnsiStringBuilder other(1);
    other.Append(AnsiString("XY"));
    b.Append(&other);
    b.Append(static_cast<const AnsiStringBuilder*>(nullptr));
    EXPECT_EQ(b.ToString(), "_abXY");
}

TEST(WideStringBuilder, IndexOf) {
    WideStringBuilder b(u"abcabc", 0);
    EXPECT_EQ(b.IndexOf(u"bc", 0, 5), 1);
    EXPECT_EQ(b.IndexOf(u"bc", 2, 5), 4);
    EXPECT_EQ(b.IndexOf(u"bc", 2, 4), -1);  // would end beyond the last index
    EXPECT_EQ(b.IndexOf(u"x", 0, 5), -1);
    EXPECT_EQ(b.IndexOf(u"", 0, 5), -1);
}

TEST(WideStringBuilder, Replace) {
    struct Case {
        WideString text, oldValue, newValue, expected;
    };
    const std::vector<Case> cases = {
        {u"abab", u"ab", u"xyz", u"xyzxyz"}, {u"aa", u"a", u"aa", u"aaaa"},
        {u"xabcy", u"abc", u"", u"xy"},      {u"hello", u"l", u"L", u"heLLo"},
        {u"abc", u"z", u"y", u"abc"},        {u"a.b.c", u".", u"::", u"a::b::c"},
    };
    for (const auto& c : cases) {
        WideStringBuilder b(c.text, static_cast<int>(c.text.size()));
        b.Replace(c.oldValue, c.newValue);
        EXPECT_EQ(b.ToString(), c.expected);
        EXPECT_EQ(b.Length(), static_cast<int>(c.expected.size()));
    }
}

}  // namespace
}  // namespace dac
