// Oracle DATE and NUMBER byte forms converted by the client's own routines, against the tables
// Python's datetime and decimal modules made.
#include <gtest/gtest.h>

#include <cstring>

#include "OraValueTables.h"

using namespace dac;
using namespace oratest;

TEST(OraDateConversion, DatesAndMillisecondsMatchPythonDatetime) {
    auto rows = Table("dates.tsv");
    ASSERT_GT(rows.size(), 300u);
    for (const auto& row : rows) {
        const auto bytes = Hex(row[1]);
        const double serial = std::stod(row[2]);
        const double msecs = std::stod(row[3]);
        ASSERT_EQ(7u, bytes.size());
        EXPECT_NEAR(serial, OraDateToDateTime(bytes.data()), 1e-8) << row[0];
        EXPECT_EQ(msecs, OraDateToMSecs(bytes.data())) << row[0];
        uint8_t out[7] = {};
        DateTimeToOraDate(out, serial);
        EXPECT_EQ(row[1], HexText(out, 7)) << row[0];
        std::memset(out, 0, sizeof out);
        MSecsToOraDate(out, msecs);
        EXPECT_EQ(row[1], HexText(out, 7)) << row[0];
    }
}

TEST(OraDateConversion, YearsCenturiesAndDroppedMilliseconds) {
    uint8_t out[7];
    DateTimeToOraDate(out, rtl::EncodeDateTime(2009, 3, 4, 5, 6, 7, 999));
    // The century and year of the century each carry 100; milliseconds are not stored.
    EXPECT_EQ("78 6D 03 04 06 07 08", HexText(out, 7));
    const uint8_t endOfYear[7] = {119, 110, 12, 31, 24, 60, 60};
    EXPECT_EQ(rtl::EncodeDateTime(1910, 12, 31, 23, 59, 59, 0), OraDateToDateTime(endOfYear));
}

TEST(OraDateConversion, YearBeforeChristIsReadAsTheSameYearAnnoDomini) {
    // 1 BC: century byte 100 - 0, year byte 100 - 1.
    const uint8_t oneBC[7] = {100, 99, 6, 1, 1, 1, 1};
    EXPECT_EQ(rtl::EncodeDate(1, 6, 1), OraDateToDateTime(oneBC));
    const uint8_t fortyFourBC[7] = {100, 56, 3, 15, 13, 1, 1};
    EXPECT_NEAR(rtl::EncodeDateTime(44, 3, 15, 12, 0, 0, 0), OraDateToDateTime(fortyFourBC), 1e-9);
}

TEST(OraDateConversion, ImpossibleDatesRaiseConvertErrors) {
    const uint8_t cases[][7] = {
        {120, 123, 2, 30, 1, 1, 1},  // 30 February
        {120, 124, 13, 1, 1, 1, 1},  // month 13
        {120, 124, 0, 1, 1, 1, 1},   // month 0
        {120, 124, 1, 1, 25, 1, 1},  // hour 24
        {120, 124, 1, 1, 0, 1, 1},   // hour byte 0
        {120, 124, 1, 1, 1, 61, 1},  // minute 60
        {100, 100, 1, 1, 1, 1, 1},   // year 0
    };
    for (const auto& c : cases) EXPECT_THROW(OraDateToDateTime(c), rtl::EConvertError) << HexText(c, 7);
}

TEST(OraDateConversion, ValuesOutsideTheDateRangeRaiseAndWriteNothing) {
    uint8_t out[7] = {1, 2, 3, 4, 5, 6, 7};
    const double cases[] = {rtl::EncodeDate(9999, 12, 31) + 1.0, -693594.0 - 1.0, 1e12};
    for (double v : cases) {
        EXPECT_THROW(DateTimeToOraDate(out, v), rtl::EConvertError) << v;
        EXPECT_EQ("01 02 03 04 05 06 07", HexText(out, 7));
    }
}

TEST(OraNumberToBcd, DigitsPrecisionAndScaleMatchPythonDecimal) {
    auto rows = Table("numbers.tsv");
    ASSERT_GT(rows.size(), 300u);
    for (const auto& row : rows) {
        const auto bytes = Hex(row[1]);
        rtl::TBcd bcd;
        if (row[2] == "ERR") {
            EXPECT_EQ("Cannot convert to Number to BCD",
                      Message([&] { OraNumberToBcd(bytes.data(), static_cast<int>(bytes.size()), bcd); }))
                << row[0];
            continue;
        }
        OraNumberToBcd(bytes.data(), static_cast<int>(bytes.size()), bcd);
        EXPECT_EQ(row[2], BcdText(bcd)) << row[0];
        // The same through an OCINumber, whose first byte is the length.
        std::vector<uint8_t> number(1, static_cast<uint8_t>(bytes.size()));
        number.insert(number.end(), bytes.begin(), bytes.end());
        rtl::TBcd viaNumber;
        OCINumberToBcd(number.data(), viaNumber);
        EXPECT_EQ(0, std::memcmp(&bcd, &viaNumber, sizeof bcd)) << row[0];
    }
}

TEST(OraNumberToBcd, ZeroInfinitiesAndMalformedBytes) {
    rtl::TBcd bcd;
    const uint8_t zero[] = {0x80};
    OraNumberToBcd(zero, 1, bcd);
    EXPECT_EQ("+ 1 0 0", BcdText(bcd));

    struct Bad {
        std::vector<uint8_t> bytes;
        const char* why;
    };
    const Bad bad[] = {
        {{0x00}, "negative infinity"},
        {{0xFF, 0x65}, "positive infinity"},
        {{0xC1, 0x00}, "digit byte 0 in a positive number"},
        {{0xC1, 0x66}, "digit byte 102 in a positive number"},
        {{0x3E, 0x01, 0x66}, "digit byte 1 in a negative number"},
        {{0xC1}, "an exponent without digits"},
        {std::vector<uint8_t>(22, 0xC1), "22 bytes"},
        {{}, "no bytes"},
    };
    for (const auto& b : bad)
        EXPECT_EQ("Cannot convert to Number to BCD",
                  Message([&] { OraNumberToBcd(b.bytes.data(), static_cast<int>(b.bytes.size()), bcd); }))
            << b.why;
}

TEST(OraNumberToBcd, NegativeNumberOfTwentyDigitsHasNoTerminator) {
    // -0.(20 pairs of 01..20) without the 102 terminator: nothing of the last digit is lost.
    std::vector<uint8_t> bytes{0x3F};
    for (int d = 1; d <= 20; ++d) bytes.push_back(static_cast<uint8_t>(101 - d));
    rtl::TBcd bcd;
    OraNumberToBcd(bytes.data(), static_cast<int>(bytes.size()), bcd);
    EXPECT_EQ("- 39 39 010203040506070809101112131415161718192", BcdText(bcd));
}
