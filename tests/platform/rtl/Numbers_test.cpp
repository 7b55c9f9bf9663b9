#include "platform/rtl/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "platform/rtl/Exceptions.h"
#include "tests/platform/rtl/TsvTable.h"

namespace rtl {
namespace {

TFormatSettings Dot() {
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DecimalSeparator = '.';
    fs.ThousandSeparator = ',';
    return fs;
}

TEST(Numbers, FloatTextsMatchTable) {
    auto rows = testing::ReadTsv("floats.tsv");
    ASSERT_GT(rows.size(), 100u);
    auto fs = Dot();
    for (const auto& r : rows) {
        ASSERT_EQ(r.size(), 6u);
        double v = std::strtod(r[0].c_str(), nullptr);
        EXPECT_EQ(FloatToStr(v, fs), r[1]) << r[0];
        if (r[2] != "-") {
            EXPECT_EQ(FloatToStrF(v, ffFixed, 18, 2, fs), r[2]) << r[0];
        }
        if (r[3] != "-") {
            EXPECT_EQ(FloatToStrF(v, ffNumber, 18, 3, fs), r[3]) << r[0];
        }
        EXPECT_EQ(FloatToStrF(v, ffExponent, 6, 2, fs), r[4]) << r[0];
        EXPECT_EQ(FloatToStrF(v, ffGeneral, 6, 0, fs), r[5]) << r[0];
        // The general text reads back to the same 15 digits (unless rounding left the range).
        double back;
        if (TryStrToFloat(r[1], back, fs)) {
            EXPECT_EQ(FloatToStr(back, fs), r[1]) << r[0];
        } else {
            EXPECT_GT(std::fabs(v), 1.797e308) << r[0];
        }
    }
}

TEST(Numbers, FloatSpecialsAndSettings) {
    auto fs = Dot();
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN(), fs), "NAN");
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity(), fs), "INF");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity(), fs), "-INF");
    EXPECT_EQ(FloatToStr(-0.0, fs), "0");
    // Large values do not fit the fixed form's precision: scientific instead.
    EXPECT_EQ(FloatToStrF(1e20, ffFixed, 18, 2, fs), "1E20");
    EXPECT_EQ(FloatToStrF(123.456, ffFixed, 4, 2, fs), "123.50");
    EXPECT_EQ(FloatToStrF(1e5, ffGeneral, 3, 2, fs), "1E05");
    EXPECT_EQ(FloatToStrF(1234.5, ffExponent, 4, 2, fs), "1.235E+03");
    TFormatSettings ru = fs;
    ru.DecimalSeparator = ',';
    ru.ThousandSeparator = '\xA0';
    EXPECT_EQ(FloatToStr(-2.5, ru), "-2,5");
    EXPECT_EQ(FloatToStrF(1234567.891, ffNumber, 18, 2, ru),
              "1\xA0"
              "234\xA0"
              "567,89");
    ru.CurrencyString = "\xF0.";
    ru.CurrencyFormat = 3;
    ru.NegCurrFormat = 8;
    EXPECT_EQ(FloatToStrF(1234.5, ffCurrency, 18, 2, ru),
              "1\xA0"
              "234,50 \xF0.");
    EXPECT_EQ(FloatToStrF(-1234.5, ffCurrency, 18, 2, ru),
              "-1\xA0"
              "234,50 \xF0.");
}

TEST(Numbers, NegativeCurrencyPatterns) {
    TFormatSettings fs = Dot();
    fs.CurrencyString = "$";
    const char* want[16] = {"($1.50)", "-$1.50",  "$-1.50",   "$1.50-",  "(1.50$)", "-1.50$",
                            "1.50-$",  "1.50$-",  "-1.50 $",  "-$ 1.50", "1.50 $-", "$ 1.50-",
                            "$ -1.50", "1.50- $", "($ 1.50)", "(1.50 $)"};
    for (int i = 0; i < 16; ++i) {
        fs.NegCurrFormat = i;
        EXPECT_EQ(FloatToStrF(-1.5, ffCurrency, 18, 2, fs), want[i]) << i;
    }
    const char* pos[4] = {"$1.50", "1.50$", "$ 1.50", "1.50 $"};
    for (int i = 0; i < 4; ++i) {
        fs.CurrencyFormat = i;
        EXPECT_EQ(FloatToStrF(1.5, ffCurrency, 18, 2, fs), pos[i]) << i;
    }
}

TEST(Numbers, StrToFloatAcceptanceRules) {
    auto fs = Dot();
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"1.5", true, 1.5},  {"  -2.25  ", true, -2.25}, {"+3", true, 3},       {".5", true, 0.5},
        {"5.", true, 5},     {"1E3", true, 1000},        {"1e-3", true, 0.001}, {"-1.5E+2", true, -150},
        {"", false, 0},      {"abc", false, 0},          {"1,5", false, 0},     {"1.5.2", false, 0},
        {"1E", false, 0},    {"E5", false, 0},           {".", false, 0},       {"1 000", false, 0},
        {"1e400", false, 0}, {"0x10", false, 0},         {"1e-400", true, 0},   {"--1", false, 0},
    };
    for (const auto& c : cases) {
        double v = -99;
        EXPECT_EQ(TryStrToFloat(c.text, v, fs), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
    TFormatSettings comma = fs;
    comma.DecimalSeparator = ',';
    EXPECT_DOUBLE_EQ(StrToFloat("1,5", comma), 1.5);
    double v;
    EXPECT_FALSE(TryStrToFloat("1.5", v, comma));
    try {
        StrToFloat("x1", fs);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x1' is not a valid floating point value");
    }
}

TEST(Numbers, IntegersAcceptanceRules) {
    struct Case {
        const char* text;
        bool ok32;
        int32_t v32;
        bool ok64;
        int64_t v64;
    };
    const Case cases[] = {
        {"0", true, 0, true, 0},
        {"-17", true, -17, true, -17},
        {"+17", true, 17, true, 17},
        {"  42", true, 42, true, 42},
        {"42 ", false, 0, false, 0},
        {"2147483647", true, 2147483647, true, 2147483647},
        {"-2147483648", true, INT32_MIN, true, INT32_MIN},
        {"2147483648", false, 0, true, 2147483648LL},
        {"9223372036854775807", false, 0, true, INT64_MAX},
        {"-9223372036854775808", false, 0, true, INT64_MIN},
        {"9223372036854775808", false, 0, false, 0},
        {"$FF", true, 255, true, 255},
        {"$ff", true, 255, true, 255},
        {"0x10", true, 16, true, 16},
        {"x1A", true, 26, true, 26},
        {"-$10", true, -16, true, -16},
        {"$FFFFFFFF", true, -1, true, 4294967295LL},
        {"$100000000", false, 0, true, 4294967296LL},
        {"$FFFFFFFFFFFFFFFF", false, 0, true, -1},
        {"$", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"-", false, 0, false, 0},
        {"1.0", false, 0, false, 0},
        {"12a", false, 0, false, 0},
        {"$G", false, 0, false, 0},
    };
    for (const auto& c : cases) {
        int32_t v32 = -99;
        int64_t v64 = -99;
        EXPECT_EQ(TryStrToInt(c.text, v32), c.ok32) << c.text;
        if (c.ok32) {
            EXPECT_EQ(v32, c.v32) << c.text;
        }
        EXPECT_EQ(TryStrToInt64(c.text, v64), c.ok64) << c.text;
        if (c.ok64) {
            EXPECT_EQ(v64, c.v64) << c.text;
        }
        EXPECT_EQ(StrToIntDef(c.text, 7), c.ok32 ? c.v32 : 7) << c.text;
    }
    try {
        StrToInt("1x");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'1x' is not a valid integer value");
    }
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_EQ(IntToStr(-5), "-5");
    EXPECT_EQ(IntToStr(int64_t(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(IntToStr(uint64_t(UINT64_MAX)), "18446744073709551615");
}

TEST(Numbers, CurrencyTexts) {
    auto fs = Dot();
    struct Case {
        int64_t raw;
        const char* general;
        const char* fixed2;
    };
    const Case cases[] = {
        {123456, "12.3456", "12.35"},
        {125000, "12.5", "12.50"},
        {1000000, "100", "100.00"},
        {-5, "-0.0005", "0.00"},
        {-50, "-0.005", "-0.01"},
        {0, "0", "0.00"},
        {INT64_MAX, "922337203685477.5807", "922337203685477.58"},
        {INT64_MIN, "-922337203685477.5808", "-922337203685477.58"},
    };
    for (const auto& c : cases) {
        Currency cur = Currency::FromRaw(c.raw);
        EXPECT_EQ(CurrToStr(cur, fs), c.general) << c.raw;
        EXPECT_EQ(CurrToStrF(cur, ffFixed, 2, fs), c.fixed2) << c.raw;
        EXPECT_EQ(StrToCurr(c.general, fs), cur) << c.general;
    }
    EXPECT_EQ(CurrToStrF(Currency::FromRaw(12345678900), ffNumber, 2, fs), "1,234,567.89");
}

TEST(Numbers, StrToCurrRoundsHalfToEvenAndChecksRange) {
    auto fs = Dot();
    struct Case {
        const char* text;
        bool ok;
        int64_t raw;
    };
    const Case cases[] = {
        {"1.00005", true, 10000},
        {"1.00015", true, 10002},
        {"1.000051", true, 10001},
        {"-1.00005", true, -10000},
        {"0.00004", true, 0},
        {"1E2", true, 1000000},
        {"1.5e-3", true, 15},
        {"922337203685477.5807", true, INT64_MAX},
        {"922337203685477.5808", false, 0},
        {"-922337203685477.5808", true, INT64_MIN},
        {"1e20", false, 0},
        {"abc", false, 0},
        {"0000012.5", true, 125000},
    };
    for (const auto& c : cases) {
        Currency v;
        EXPECT_EQ(TryStrToCurr(c.text, v, fs), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v.Raw(), c.raw) << c.text;
        }
    }
    EXPECT_EQ(Currency::FromDouble(12.3456).Raw(), 123456);
    // Exact halves go to even, as the floating-point unit rounds.
    EXPECT_EQ(Currency::FromDouble(0.00025).Raw(), 2);
    EXPECT_EQ(Currency::FromDouble(-0.00035).Raw(), -4);
    EXPECT_THROW(Currency::FromDouble(1e300), EOverflow);
}

TEST(Numbers, FormatFloatPictures) {
    auto fs = Dot();
    struct Case {
        const char* format;
        double value;
        const char* want;
    };
    const Case cases[] = {
        {"0.#", 1.25, "1.3"},
        {"0.#", 2, "2"},
        {"0.00", 0.005, "0.01"},
        {"#,##0.00", -1234.5, "-1,234.50"},
        {"#,##0", 1234567, "1,234,567"},
        {"000", 7, "007"},
        {"#", 0, ""},
        {"#.##", 0.5, ".5"},
        {"0.0##", 3.14159, "3.142"},
        {"0.000E+00", 12345, "1.235E+04"},
        {"0.0E-0", 0.00012, "1.2E-4"},
        {"0.00;(0.00)", -3.5, "(3.50)"},
        {"0.00;(0.00);'zero'", 0, "zero"},
        {"0.0;-0.0;zero", 0.01, "zero"},
        {"\"$\"0.00", 5, "$5.00"},
        {"0 'pcs'", 12, "12 pcs"},
        {"", 0.1, "0.1"},
        {"00.00", 123.456, "123.46"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFloat(c.format, c.value, fs), c.want) << c.format;
    EXPECT_EQ(FormatCurr("#,##0.00", Currency::FromRaw(-12345678), fs), "-1,234.57");
}

TEST(Numbers, IntPower) {
    EXPECT_EQ(IntPower(10, 18), 1e18);
    EXPECT_EQ(IntPower(2, -3), 0.125);
    EXPECT_EQ(IntPower(-3, 3), -27);
    EXPECT_EQ(IntPower(5, 0), 1);
    EXPECT_EQ(IntPower(2, 1023), std::ldexp(1.0, 1023));
    EXPECT_EQ(IntPower(2, INT32_MIN), 0);
}

TEST(Numbers, Booleans) {
    EXPECT_TRUE(StrToBool("true"));
    EXPECT_FALSE(StrToBool("FALSE"));
    EXPECT_TRUE(StrToBool("-1"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_THROW(StrToBool("yes"), EConvertError);
    EXPECT_EQ(BoolToStr(true, true), "True");
    EXPECT_EQ(BoolToStr(true), "-1");
    EXPECT_EQ(BoolToStr(false), "0");
}

}  // namespace
}  // namespace rtl

namespace rtl {
namespace {

// Random texts over the characters the parsers care about: whatever is accepted must print
// and read back to the same value, and nothing else may happen than a refusal.
std::string RandomText(std::mt19937& rng, const std::string& alphabet, size_t maxLen) {
    std::uniform_int_distribution<size_t> len(0, maxLen);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
    return s;
}

TEST(Numbers, AcceptedTextsRoundTrip) {
    std::mt19937 rng(1251);
    auto fs = Dot();
    int floats = 0, ints = 0, currs = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string s = RandomText(rng, " +-.0123456789eE$xXaF", 12);
        double d;
        if (TryStrToFloat(s, d, fs)) {
            ++floats;
            EXPECT_EQ(StrToFloat(FloatToStrF(d, ffGeneral, 17, 0, fs), fs), d) << s;
        }
        int64_t v;
        if (TryStrToInt64(s, v)) {
            ++ints;
            EXPECT_EQ(StrToInt64(IntToStr(static_cast<long long>(v))), v) << s;
        }
        Currency c;
        if (TryStrToCurr(s, c, fs)) {
            ++currs;
            EXPECT_EQ(StrToCurr(CurrToStr(c, fs), fs), c) << s;
        }
    }
    // The alphabet makes each kind of text common enough to matter.
    EXPECT_GT(floats, 500);
    EXPECT_GT(ints, 500);
    EXPECT_GT(currs, 500);
}

}  // namespace
}  // namespace rtl
