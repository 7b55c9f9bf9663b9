// The stand-in's NUMBER writer and reader against the table Python's decimal module made for the
// client's conversions (tests/dataaccess/oracle/data/numbers.tsv).
#include <gtest/gtest.h>

#include <sstream>

#include "platform/oci/StandIn.h"
#include "tests/platform/rtl/TsvTable.h"

namespace {

std::string HexOf(const std::string& b) {
    std::string r;
    char buf[4];
    for (size_t k = 0; k < b.size(); ++k) {
        std::snprintf(buf, sizeof buf, k ? " %02X" : "%02X", static_cast<unsigned char>(b[k]));
        r += buf;
    }
    return r;
}

}  // namespace

TEST(OracleNumberTable, WritesAndReadsEveryPythonVector) {
    auto rows = rtl::testing::ReadTsv("numbers.tsv", "tests/dataaccess/oracle/data");
    ASSERT_GT(rows.size(), 300u);
    for (const auto& row : rows) {
        oci::Decimal d;
        ASSERT_TRUE(oci::parseDecimal(row[0], d)) << row[0];
        const std::string bytes = oci::encodeNumber(d);
        EXPECT_EQ(row[1], HexOf(bytes)) << row[0];
        oci::Decimal back = oci::decodeNumber(reinterpret_cast<const ub1*>(bytes.data()), bytes.size());
        EXPECT_EQ(d.negative, back.negative) << row[0];
        EXPECT_EQ(d.digits, back.digits) << row[0];
        EXPECT_EQ(d.exp10, back.exp10) << row[0];
        if (row[3] != "SCI") {
            EXPECT_EQ(row[3], oci::decimalToText(back)) << row[0];
        }
    }
}
