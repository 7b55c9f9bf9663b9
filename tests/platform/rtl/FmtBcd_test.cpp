#include "platform/rtl/FmtBcd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "tests/platform/rtl/TsvTable.h"

namespace rtl {
namespace {

std::string FractionHex(const TBcd& b) {
    std::string s;
    char buf[3];
    for (uint8_t byte : b.Fraction) {
        std::snprintf(buf, sizeof buf, "%02X", byte);
        s += buf;
    }
    return s;
}

TEST(FmtBcd, LayoutTextsAndOrderMatchTable) {
    auto rows = testing::ReadTsv("bcd.tsv");
    ASSERT_GT(rows.size(), 300u);
    const TFormatSettings fs = TFormatSettings::Invariant();
    TBcd previous{};
    bool first = true;
    for (const auto& r : rows) {
        SCOPED_TRACE(r[0]);
        TBcd b = StrToBcd(r[0], fs);
        EXPECT_EQ(BcdToStr(b, fs), r[1]);
        EXPECT_EQ(b.Precision, std::atoi(r[2].c_str()));
        EXPECT_EQ(b.SignSpecialPlaces, std::atoi(r[3].c_str()));
        EXPECT_EQ(FractionHex(b), r[4]);
        if (!first) {
            int want = std::atoi(r[5].c_str());
            EXPECT_EQ(BcdCompare(b, previous), want);
            EXPECT_EQ(BcdCompare(previous, b), -want);
        }
        // The canonical text reads back to the same bytes.
        TBcd again = StrToBcd(r[1], fs);
        EXPECT_EQ(std::memcmp(&again, &b, sizeof b), 0);
        previous = b;
        first = false;
    }
}

TEST(FmtBcd, RejectsBadTextAndOverflow) {
    const TFormatSettings fs = TFormatSettings::Invariant();
    for (const char* bad : {"", "abc", "1.2.3", "1,5", "--1", "1e", "."}) {
        TBcd b;
        EXPECT_FALSE(TryStrToBcd(bad, b, fs)) << bad;
    }
    try {
        StrToBcd("x1", fs);
        ADD_FAILURE();
    } catch (const EBcdException& e) {
        EXPECT_EQ(e.Message(), "'x1' is not a valid BCD value");
    }
    std::string digits64(64, '9');
    EXPECT_EQ(BcdToStr(StrToBcd(digits64, fs), fs), digits64);
    EXPECT_THROW(StrToBcd("1" + digits64, fs), EBcdOverflowException);
    EXPECT_THROW(StrToBcd("1E64", fs), EBcdOverflowException);
    // More than 64 digits in all: the fraction is rounded off to fit.
    TBcd b = StrToBcd(std::string(60, '1') + ".123456789", fs);
    EXPECT_EQ(BcdToStr(b, fs), std::string(60, '1') + ".1235");
    EXPECT_EQ(b.Precision, 64);
}

TEST(FmtBcd, LocaleSeparator) {
    TFormatSettings ru = TFormatSettings::Invariant();
    ru.DecimalSeparator = ',';
    TBcd b = StrToBcd("-1,25", ru);
    EXPECT_EQ(BcdToStr(b, ru), "-1,25");
    TBcd c;
    EXPECT_FALSE(TryStrToBcd("1.25", c, ru));
}

TEST(FmtBcd, ConversionsWithNumbers) {
    const TFormatSettings fs = TFormatSettings::Invariant();
    struct Case {
        double value;
        const char* text;
    };
    for (Case c : {Case{0.1, "0.1"}, Case{1e20, "100000000000000000000"}, Case{-1.25, "-1.25"}, Case{0, "0"},
                   Case{1.5e-6, "0.0000015"}, Case{1.0 / 3, "0.333333333333333"}}) {
        TBcd b = DoubleToBcd(c.value);
        EXPECT_EQ(BcdToStr(b, fs), c.text);
        EXPECT_DOUBLE_EQ(BcdToDouble(StrToBcd(c.text, fs)), std::strtod(c.text, nullptr));
    }
    EXPECT_EQ(BcdToStr(IntegerToBcd(INT64_MIN), fs), "-9223372036854775808");
    EXPECT_EQ(BcdToInt64(StrToBcd("-9223372036854775808.9", fs)), INT64_MIN);
    EXPECT_EQ(BcdToInt64(StrToBcd("12.99", fs)), 12);
    EXPECT_EQ(BcdToInt64(StrToBcd("-0.5", fs)), 0);
    EXPECT_THROW(BcdToInt64(StrToBcd("9223372036854775808", fs)), EBcdOverflowException);

    TBcd b;
    ASSERT_TRUE(CurrToBCD(Currency::FromRaw(-123456), b));
    EXPECT_EQ(BcdToStr(b, fs), "-12.3456");
    ASSERT_TRUE(CurrToBCD(Currency::FromRaw(123456), b, 32, 2));
    EXPECT_EQ(BcdToStr(b, fs), "12.35");
    EXPECT_FALSE(CurrToBCD(Currency::FromRaw(123456), b, 3, 4));
    Currency c;
    ASSERT_TRUE(BCDToCurr(StrToBcd("12.34565", fs), c));
    EXPECT_EQ(c.Raw(), 123457);
    ASSERT_TRUE(BCDToCurr(StrToBcd("-922337203685477.5808", fs), c));
    EXPECT_EQ(c.Raw(), INT64_MIN);
    EXPECT_FALSE(BCDToCurr(StrToBcd("922337203685477.5808", fs), c));
    ASSERT_TRUE(BCDToCurr(StrToBcd("0.00004", fs), c));
    EXPECT_EQ(c.Raw(), 0);
}

TEST(FmtBcd, NormalizeAndParts) {
    const TFormatSettings fs = TFormatSettings::Invariant();
    TBcd out;
    ASSERT_TRUE(NormalizeBcd(StrToBcd("123.456", fs), out, 5, 2));
    EXPECT_EQ(BcdToStr(out, fs), "123.46");
    EXPECT_FALSE(NormalizeBcd(StrToBcd("1234.5", fs), out, 5, 2));
    ASSERT_TRUE(NormalizeBcd(StrToBcd("-0.004", fs), out, 5, 2));
    EXPECT_TRUE(IsBcdZero(out));
    EXPECT_FALSE(IsBcdNegative(out));
    TBcd b = StrToBcd("-0.0015", fs);
    EXPECT_EQ(BcdPrecision(b), 1);
    EXPECT_EQ(BcdScale(b), 4);
    EXPECT_TRUE(IsBcdNegative(b));
    EXPECT_EQ(BcdCompare(NullBcd, StrToBcd("-0", fs)), 0);
    // A hand-built value with digits beyond its places reads as the layout says.
    TBcd raw{};
    raw.Precision = 3;
    raw.SignSpecialPlaces = 0x80 | 1;
    raw.Fraction[0] = 0x12;
    raw.Fraction[1] = 0x30;
    EXPECT_EQ(BcdToStr(raw, fs), "-12.3");
}

// Random texts: an accepted number prints and reads back to the same bytes, and its order
// against the previous accepted number agrees with the order of the doubles when those differ.
TEST(FmtBcd, AcceptedTextsRoundTrip) {
    const TFormatSettings fs = TFormatSettings::Invariant();
    std::mt19937 rng(34);
    std::uniform_int_distribution<int> len(0, 40);
    const std::string alphabet = " +-.0123456789012345678901234567890eE";
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    int accepted = 0;
    TBcd previous{};
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        for (int n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
        TBcd b;
        if (!TryStrToBcd(s, b, fs)) continue;
        ++accepted;
        TBcd back = StrToBcd(BcdToStr(b, fs), fs);
        EXPECT_EQ(std::memcmp(&back, &b, sizeof b), 0) << s;
        EXPECT_LE(b.Precision, 64);
        double x = BcdToDouble(b), y = BcdToDouble(previous);
        if (x != y) {
            EXPECT_EQ(BcdCompare(b, previous), x < y ? -1 : 1) << s;
        }
        previous = b;
    }
    EXPECT_GT(accepted, 1000);
}

}  // namespace
}  // namespace rtl
