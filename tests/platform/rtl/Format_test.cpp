#include "platform/rtl/Format.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/rtl/Exceptions.h"

namespace rtl {
namespace {

TFormatSettings Dot() {
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DecimalSeparator = '.';
    fs.ThousandSeparator = ',';
    fs.CurrencyString = "$";
    fs.CurrencyFormat = 0;
    fs.NegCurrFormat = 0;
    fs.CurrencyDecimals = 2;
    return fs;
}

struct Case {
    std::string got;
    const char* want;
};

TEST(Format, IntegerDirectives) {
    auto fs = Dot();
    std::string name = "x";
    const Case cases[] = {
        {Format("%d", {42}, fs), "42"},
        {Format("%d", {-42}, fs), "-42"},
        {Format("%5d|%-5d|", {7, 7}, fs), "    7|7    |"},
        {Format("%.3d", {-7}, fs), "-007"},
        {Format("%5.3d", {7}, fs), "  007"},
        {Format("%d", {int64_t(-9223372036854775807LL - 1)}, fs), "-9223372036854775808"},
        {Format("%d", {uint64_t(18446744073709551615ULL)}, fs), "18446744073709551615"},
        {Format("%u", {-1}, fs), "4294967295"},
        {Format("%x", {255}, fs), "FF"},
        {Format("%.4x", {255}, fs), "00FF"},
        {Format("%x", {-1}, fs), "FFFFFFFF"},
        {Format("%x", {int64_t(-1)}, fs), "FFFFFFFFFFFFFFFF"},
        {Format("%*d", {4, 5}, fs), "   5"},
        {Format("%-*.*d|", {6, 3, 5}, fs), "005   |"},
        {Format("%1:s %0:s %s", {"a", "b"}, fs), "b a b"},
        {Format("100%%", {}, fs), "100%"},
        {Format("%s=%d", {name, 3}, fs), "x=3"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, FloatAndCurrencyDirectives) {
    auto fs = Dot();
    const Case cases[] = {
        {Format("%e", {1.0}, fs), "1.00000000000000E+000"},
        {Format("%.3e", {-1234.5}, fs), "-1.23E+003"},
        {Format("%f", {2.5}, fs), "2.50"},
        {Format("%.0f", {2.5}, fs), "3"},
        {Format("%.1f", {-0.04}, fs), "0.0"},
        {Format("%g", {1e20}, fs), "1E20"},
        {Format("%g", {0.1}, fs), "0.1"},
        {Format("%.3g", {1234.5}, fs), "1.23E3"},
        {Format("%n", {1234567.891}, fs), "1,234,567.89"},
        {Format("%.0n", {-999.5}, fs), "-1,000"},
        {Format("%m", {-12.5}, fs), "($12.50)"},
        {Format("%m", {Currency::FromRaw(123456)}, fs), "$12.35"},
        {Format("%.4f", {Currency::FromRaw(-5)}, fs), "-0.0005"},
        {Format("%8.2f|", {3.14159}, fs), "    3.14|"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
    TFormatSettings comma = fs;
    comma.DecimalSeparator = ',';
    comma.ThousandSeparator = ' ';
    EXPECT_EQ(Format("%.2n", {1234.5}, comma), "1 234,50");
}

TEST(Format, TextAndPointerDirectives) {
    auto fs = Dot();
    std::u16string wide = u"\u041C\u0438\u0440";  // "Мир"
    const Case cases[] = {
        {Format("[%s]", {std::string("abc")}, fs), "[abc]"},
        {Format("[%.2s]", {"abcdef"}, fs), "[ab]"},
        {Format("[%s]", {std::string_view("abcdef").substr(1, 3)}, fs), "[bcd]"},
        {Format("[%-4s][%4s]", {"ab", "cd"}, fs), "[ab  ][  cd]"},
        {Format("%s", {'z'}, fs), "z"},
        {Format("%s", {wide}, fs), "\xCC\xE8\xF0"},
        {Format("%s", {static_cast<const char*>(nullptr)}, fs), ""},
        {Format("%p", {reinterpret_cast<const void*>(uintptr_t(0xABC))}, fs), "0000000000000ABC"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, ErrorsNameTheFormat) {
    auto fs = Dot();
    struct Bad {
        const char* fmt;
        const char* message;
    };
    const Bad bad[] = {
        {"%d", "Format '%d' invalid or incompatible with argument"},  // a text for %d
        {"%s %s", "No argument for format '%s %s'"},
        {"%q", "Format '%q' invalid or incompatible with argument"},
        {"abc %", "Format 'abc %' invalid or incompatible with argument"},
    };
    for (const auto& b : bad) {
        try {
            Format(b.fmt, {"text"}, fs);
            ADD_FAILURE() << b.fmt;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), b.message);
        }
    }
    EXPECT_THROW(Format("%f", {3}, fs), EConvertError);
    EXPECT_THROW(Format("%s", {3.5}, fs), EConvertError);
    EXPECT_THROW(Format("%d", {true}, fs), EConvertError);
}

TEST(Format, UsesProcessSettingsByDefault) {
    TFormatSettings fs = Dot();
    fs.DecimalSeparator = ',';
    TFormatSettingsOverride scope(fs);
    EXPECT_EQ(Format("%.1f", {1.25}), "1,3");
}

// Whatever the directives, Format either formats or refuses with EConvertError.
std::string RandomText(std::mt19937& rng, const std::string& alphabet, size_t maxLen) {
    std::uniform_int_distribution<size_t> len(0, maxLen);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
    return s;
}

TEST(Format, RandomFormatsEitherFormatOrRefuse) {
    std::mt19937 rng(866);
    auto fs = Dot();
    std::string text = "text";
    int formatted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string f = RandomText(rng, "%%%-.*:0123456789dsxefgnmpuz ", 10);
        try {
            Format(f, {42, 2.5, text, -7, 3, Currency::FromRaw(5), 1}, fs);
            ++formatted;
        } catch (const EConvertError&) {
        }
    }
    EXPECT_GT(formatted, 1000);
}

}  // namespace
}  // namespace rtl
