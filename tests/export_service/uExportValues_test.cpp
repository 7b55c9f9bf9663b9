// The value forms of the data file.
#include "export_service/uExportValues.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "common/uDataFiles.h"
#include "platform/rtl/DateTime.h"

using namespace svc;

namespace {

TEST(ValueForms, MeasureKeepsNineSignificantDigitsWithoutALeadingZero) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {12.5, "12.5"},
        {100, "100"},
        {0.5, ".5"},
        {-0.05, "-.05"},
        {0.001, "1E-3"},
        {3.14159265358979, "3.14159265"},
        {1E12, "1.00000000E12"},
        {0.000123, "1.23E-4"},
        // Ten-digit integers keep nine significant digits and end in a zero.
        {1234567891, "1234567890"},
        {1234567899, "1234567900"},
        {0.1, ".1"},
        {1E-6, "1E-6"},
        {-2.5, "-2.5"},
        {1E20, "1.00000000E20"},
        {25.5, "25.5"},
        {0.75, ".75"},
        {1234567890123.0, "1.23456789E12"},
        {0, "0"},
        {-0.0, "0"},
        {1, "1"},
        // Halves to even.
        {1234567885, "1234567880"},
        {1234567895, "1234567900"},
        // Rounding up to a tenth digit: one more digit before the point.
        {999999999.5, "1000000000"},
        // Up to two digits more than the nine stay fixed; then scientific.
        {12345678901.0, "12345678900"},
        {123456789012.0, "1.23456789E11"},
        {0.0123456789, ".0123456789"},
        {0.00999, "9.99E-3"},
        {-1E-7, "-1E-7"},
    };
    for (const Case& c : cases) EXPECT_EQ(MeasureText(c.value), c.text) << c.value;
}

TEST(ValueForms, MeasureOfValuesThatAreNoNumbers) {
    EXPECT_EQ(MeasureText(INFINITY), "INF");
    EXPECT_EQ(MeasureText(-INFINITY), "-INF");
    EXPECT_EQ(MeasureText(NAN), "NAN");
}

TEST(ValueForms, MeasureWithTheOrderListsSixDigits) {
    EXPECT_EQ(MeasureText(3.14159265358979, 6), "3.14159");
    EXPECT_EQ(MeasureText(1234567, 6), "1234570");
    EXPECT_EQ(MeasureText(123456789, 6), "1.23457E8");
}

TEST(ValueForms, IntegerAndAmount) {
    EXPECT_EQ(IntegerText(0), "0");
    EXPECT_EQ(IntegerText(-42), "-42");
    EXPECT_EQ(IntegerText(INT32_MIN), "-2147483648");
    EXPECT_EQ(AmountText(99.9), "99.9");
    EXPECT_EQ(AmountText(100), "100");
    EXPECT_EQ(AmountText(0.000001), "1E-6");
}

TEST(ValueForms, AmountIsTheGeneralFormatOfFifteenDigitsForEveryMagnitude) {
    // The amount form works the fixed notation out itself; it must agree with the general
    // formatting routine everywhere: at the rounding of the 15th digit, at the carries, at the
    // edges between fixed and scientific notation, and over many values of every magnitude.
    std::vector<double> values = {0.1 + 0.2,
                                  1234.565,
                                  0.30000000000000004,
                                  999999999999999.4,
                                  999999999999999.5,
                                  99999.99999999999,
                                  9.999999999999995,
                                  0.0001,
                                  0.00001,
                                  0.0000099999999999999995,
                                  0.000001,
                                  1e15 - 1,
                                  1e15,
                                  1e16,
                                  123456789012345.67,
                                  -0.5,
                                  -1234567.125,
                                  5e-324,
                                  1.7976931348623157e308,
                                  2.675,
                                  1.0000000000000002};
    uint64_t x = 88172645463325252ull;
    const auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    for (int i = 0; i < 20000; ++i) {
        // Amounts in cents, values of every exponent, and ties at the 15th digit.
        values.push_back(
            static_cast<double>(static_cast<int64_t>(next() % 2000000000000ull) - 1000000000000) / 100);
        values.push_back(std::ldexp(static_cast<double>(next() >> 11), static_cast<int>(next() % 120) - 110));
        values.push_back((static_cast<double>(next() % 1000000000000000ull) + 0.5) *
                         std::pow(10.0, static_cast<int>(next() % 24) - 20));
    }
    for (double value : values) EXPECT_EQ(AmountText(value), TPersistentObject::FloatToText(value)) << value;
}

TEST(ValueForms, DateTimeAndDateAreWrittenFromTheValueAsItIs) {
    struct Case {
        rtl::TDateTime value;
        const char* dateTime;
        const char* date;
    };
    const Case cases[] = {
        {0, "1899-12-30T00:00:00Z", "1899-12-30"},
        {rtl::EncodeDateTime(2024, 5, 6, 7, 8, 9, 999), "2024-05-06T07:08:09Z", "2024-05-06"},
        {rtl::EncodeDateTime(2023, 12, 31, 23, 59, 59, 0), "2023-12-31T23:59:59Z", "2023-12-31"},
        {-1.25, "1899-12-29T06:00:00Z", "1899-12-29"},
        {rtl::EncodeDateTime(1, 1, 1, 0, 0, 0, 0), "0001-01-01T00:00:00Z", "0001-01-01"},
        {rtl::EncodeDateTime(999, 2, 3, 4, 5, 6, 0), "0999-02-03T04:05:06Z", "0999-02-03"},
        {rtl::EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), "9999-12-31T23:59:59Z", "9999-12-31"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateTimeText(c.value), c.dateTime);
        EXPECT_EQ(DateText(c.value), c.date);
        // Appended to a document, the same text follows what is there.
        std::string doc = "<a>";
        AppendDateTimeText(doc, c.value);
        AppendDateText(doc, c.value);
        EXPECT_EQ(doc, std::string("<a>") + c.dateTime + c.date);
    }
}

TEST(ValueForms, AnsiTextComesOutAsUtf8) {
    EXPECT_EQ(AnsiText("ABC-123"), "ABC-123");
    EXPECT_EQ(AnsiText("\xCA\xEB\xE8\xE5\xED\xF2"),
              "\xD0\x9A\xD0\xBB\xD0\xB8\xD0\xB5\xD0\xBD\xD1\x82");  // Клиент
    EXPECT_EQ(AnsiText("\xB9"), "\xE2\x84\x96");                    // №
    EXPECT_EQ(AnsiText("\x98"), "\xC2\x98");                        // the unassigned byte
    EXPECT_EQ(AnsiText(""), "");
}

}  // namespace
