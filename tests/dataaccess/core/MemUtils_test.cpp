#include "dataaccess/core/MemUtils.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/rtl/Exceptions.h"

namespace dac {
namespace {

TEST(TimeStamps, ToDateTime) {
    struct Case {
        int32_t time, date;
        double expected;
    };
    for (const auto& c : std::vector<Case>{{43200000, 693594, 0.5},
                                           {43200000, 693593, -1.5},
                                           {0, 693594, 0.0},
                                           {21600000, 693596, 2.25},
                                           {0, 1, -693593.0}}) {
        EXPECT_DOUBLE_EQ(dac::TimeStampToDateTime({c.time, c.date}), c.expected) << c.date << " " << c.time;
    }
}

TEST(TimeStamps, InvalidOnesRaiseWithDayFirst) {
    for (const auto& [ts, message] :
         std::vector<std::pair<rtl::TTimeStamp, std::string>>{{{-1, 5}, "'5.-1' is not a valid timestamp"},
                                                              {{7, 0}, "'0.7' is not a valid timestamp"},
                                                              {{0, -3}, "'-3.0' is not a valid timestamp"}}) {
        try {
            dac::TimeStampToDateTime(ts);
            ADD_FAILURE() << message;
        } catch (const rtl::EConvertError& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_THROW(dac::ValidateTimeStamp(ts), rtl::EConvertError);
    }
    EXPECT_NO_THROW(dac::ValidateTimeStamp({0, 1}));
}

TEST(Buffers, CopyAndFill) {
    char buf[] = "abcdef";
    CopyBuffer(buf, buf + 2, 3);  // overlapping
    EXPECT_STREQ(buf, "ababcf");
    CopyBufferAnsi("XY", buf, 2);
    EXPECT_STREQ(buf, "XYabcf");
    FillBuffer(buf + 4, 2, '.');
    EXPECT_STREQ(buf, "XYab..");
    char16_t wbuf[3] = {0, 0, 0};
    CopyBufferUni(u"hi", wbuf, 4);
    EXPECT_EQ(WideString(wbuf), u"hi");
}

TEST(Buffers, WideText) {
    const char16_t src[] = u"hello";
    EXPECT_EQ(WideStrLength(src), 5);
    EXPECT_EQ(WideStrLength(u""), 0);
    char16_t dst[8];
    std::memset(dst, 0x7f, sizeof dst);
    WideStrCopy(dst, src);
    EXPECT_EQ(WideString(dst), u"hello");
    std::memset(dst, 0x7f, sizeof dst);
    WideStrCopyMax(dst, src, 3);
    EXPECT_EQ(WideString(dst), u"hel");
    std::memset(dst, 0x7f, sizeof dst);
    WideStrCopyMax(dst, src, 0);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 0x7f7f);  // only the terminator is written
    WideStrCopyMax(dst, u"ab", 7);
    EXPECT_EQ(WideString(dst), u"ab");
}

TEST(Buffers, TrimTrailingBlanks) {
    struct Case {
        std::string text;
        int64_t length;
        std::string expected;  // whole buffer afterwards
    };
    const std::vector<Case> cases = {
        {std::string("ab  \0 ", 6), 6, std::string("ab\0\0\0\0", 6)},
        {std::string("    ", 4), 4, std::string("\0\0\0\0", 4)},
        {std::string("a b ", 4), 0, std::string("a b ", 4)},
        {std::string("a b ", 4), 2, std::string("a\0b ", 4)},  // only the first two characters count
        {std::string("ab  ", 4), -1, std::string("ab\0\0", 4)},
    };
    for (const auto& c : cases) {
        std::string buf = c.text;
        buf.push_back('\0');
        TrimTrailingBlanks(buf.data(), c.length);
        EXPECT_EQ(buf.substr(0, c.text.size()), c.expected) << c.text;
    }
    char16_t w[] = u"x  ";
    TrimTrailingBlanksW(w);
    EXPECT_EQ(w[1], 0);
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(w[0], u'x');
    char16_t all[] = u"  ";
    TrimTrailingBlanksW(all, 2);
    EXPECT_EQ(all[0], 0);
}

TEST(LocaleComparisons, CaseAndSortOptionsStayDistinct) {
    EXPECT_EQ(LocaleCompareTextS("abc", "ABC"), 0);
    EXPECT_NE(LocaleCompareStrS("abc", "ABC"), 0);
    const std::string lowerCyr = "\xe0\xe1\xe2\xb8";  // а б в ё
    const std::string upperCyr = "\xc0\xc1\xc2\xa8";  // А Б В Ё
    EXPECT_EQ(LocaleCompareTextS(lowerCyr, upperCyr), 0);
    EXPECT_NE(LocaleCompareStrS(lowerCyr, upperCyr), 0);
    EXPECT_EQ(LocaleCompareStrS("a", "b"), -1);
    EXPECT_EQ(LocaleCompareStrS("b", "a"), 1);
    EXPECT_EQ(LocaleCompareStrS("b", "b"), 0);
    // Latin letters sort before Cyrillic ones.
    EXPECT_EQ(LocaleCompareStrS("z", "\xe0"), -1);
    // String sort weighs the hyphen like other characters; word sort only on a tie.
    EXPECT_EQ(LocaleCompareTextS("a-c", "ab"), -1);
    EXPECT_EQ(LocaleCompareText("a-c", "ab"), 1);
    EXPECT_TRUE(LocaleSameText("Abc", "aBC"));
    EXPECT_FALSE(LocaleSameText("Abc", "aBD"));

    EXPECT_EQ(LocaleCompareStrP("abc", "abd"), -1);
    EXPECT_EQ(LocaleCompareTextP("ABC", "abc"), 0);
    EXPECT_EQ(LocaleCompareStrW(u"abc", u"abc"), 0);
    EXPECT_EQ(LocaleCompareTextW(u"\u0416", u"\u0436"), 0);
    EXPECT_NE(LocaleCompareStrW(u"\u0416", u"\u0436"), 0);
    // Counted forms look at count units only.
    EXPECT_EQ(LocaleCompareStrWN(u"abX", u"abY", 2), 0);
    EXPECT_EQ(LocaleCompareTextWN(u"ABx", u"aby", 2), 0);
    EXPECT_EQ(LocaleCompareStrWN(u"abX", u"abY", 3), -1);
}

TEST(LocaleCase, CyrillicAndLatin) {
    EXPECT_EQ(LocaleUpperCase("abc \xe0\xb8"), "ABC \xc0\xa8");
    EXPECT_EQ(LocaleLowerCase("ABC \xc0\xa8"), "abc \xe0\xb8");
}

TEST(Quoting, QuoteAndDequote) {
    EXPECT_EQ(QuoteStr("a\"b", '"'), "\"a\"\"b\"");
    EXPECT_EQ(QuoteStr("it's", '\''), "'it''s'");
    EXPECT_EQ(DequoteStr("\"a\"\"b\"", '"'), "a\"b");
    EXPECT_EQ(DequoteStr("plain", '"'), "plain");
    EXPECT_EQ(FormatStr("%s=%d", {"n", 5}), "n=5");
}

TEST(PassThroughs, HandlesAreTheObjects) {
    int value = 3;
    EXPECT_EQ(AllocGCHandle(&value, true), &value);
    EXPECT_EQ(GetGCHandleTarget(&value), &value);
    EXPECT_EQ(GetAddrOfPinnedObject(&value), &value);
    EXPECT_EQ(VarToPtr(value), &value);
    PtrToVar(value);
    FreeGCHandle(&value);
    EXPECT_EQ(value, 3);
}

struct Base {
    virtual ~Base() = default;
};
struct Derived : Base {};

TEST(ClassMembership, InstancesOfDescendants) {
    Derived d;
    Base b;
    EXPECT_TRUE(IsClass<Base>(static_cast<Base*>(&d)));
    EXPECT_TRUE(IsClass<Derived>(static_cast<Base*>(&d)));
    EXPECT_FALSE(IsClass<Derived>(&b));
    EXPECT_FALSE(IsClass<Base>(static_cast<Base*>(nullptr)));
}

}  // namespace
}  // namespace dac

namespace dac {
namespace {

TEST(VarEqual, LibraryRules) {
    using rtl::Variant;
    const Variant bytesA = rtl::BytesToVariant({1, 2, 3});
    const Variant bytesB = rtl::BytesToVariant({1, 2, 3});
    const Variant bytesC = rtl::BytesToVariant({1, 2, 4});
    const Variant bytesShort = rtl::BytesToVariant({1, 2});
    const Variant noBytes = rtl::BytesToVariant({});
    struct Case {
        const char* name;
        Variant x, y;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"Null and Null", rtl::Null(), rtl::Null(), true},
        {"Null and Unassigned", rtl::Null(), rtl::Unassigned(), false},
        {"Unassigned and Null", rtl::Unassigned(), rtl::Null(), false},
        {"empty 8-bit and empty UTF-16", Variant(std::string()), Variant(std::u16string()), true},
        {"empty text and Unassigned", Variant(std::string()), rtl::Unassigned(), false},
        {"Unassigned and empty text", rtl::Unassigned(), Variant(std::string()), false},
        {"empty text and zero", Variant(std::string()), Variant(0), false},
        {"UTF-16 and 8-bit Cyrillic", Variant(std::u16string(u"\u0416")), Variant(std::string("\xc6")), true},
        {"UTF-16 compares exactly", Variant(std::u16string(u"abc")), Variant(std::string("ABC")), false},
        {"numbers", Variant(5), Variant(5.0), true},
        {"different numbers", Variant(5), Variant(6), false},
        {"equal byte arrays", bytesA, bytesB, true},
        {"byte arrays differing in a byte", bytesA, bytesC, false},
        {"byte arrays of different length", bytesA, bytesShort, false},
        {"empty byte arrays", noBytes, rtl::BytesToVariant({}), true},
        {"byte array and a number", bytesA, Variant(1), false},
        {"text and byte array", Variant(std::string("abc")), bytesA, false},
    };
    for (const auto& c : cases) EXPECT_EQ(VarEqual(c.x, c.y), c.equal) << c.name;
    EXPECT_EQ(VariantToStr(Variant(12)), "12");
    EXPECT_EQ(VariantToStr(rtl::Null()), "");
}

}  // namespace
}  // namespace dac
