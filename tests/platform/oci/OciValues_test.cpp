// NUMBER and DATE byte formats against vectors printed by Python's decimal and datetime modules.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "HexText.h"
#include "OciFixture.h"
#include "platform/oci/StandIn.h"
#include "tests/platform/rtl/TsvTable.h"

namespace {

using standin::HexText;

struct NumberVector {
    const char* text;
    const char* bytes;
};

// python3: Decimal based base-100 encoder (exponent byte, digits + 1, negatives 101 - digit and 102)
const NumberVector kNumbers[] = {
    {"0", "80"},
    {"1", "C1 02"},
    {"-1", "3E 64 66"},
    {"100", "C2 02"},
    {"123.45", "C2 02 18 2E"},
    {"-123.45", "3D 64 4E 38 66"},
    {"0.5", "C0 33"},
    {"0.05", "C0 06"},
    {"-0.5", "3F 33 66"},
    {"99", "C1 64"},
    {"-99", "3E 02 66"},
    {"1000000", "C4 02"},
    {"12345678901234567890", "CA 0D 23 39 4F 5B 0D 23 39 4F 5B"},
    {"0.000001", "BE 02"},
    {"3.14159265358979", "C1 04 0F 10 5D 42 24 5A 50"},
    {"-987654321.125", "3A 5C 0E 24 3A 50 59 33 66"},
    {"1E+125", "FF 0B"},
    {"-1E-130", "7F 64 66"},
    {"1E-130", "80 02"},
    {"9.99", "C1 0A 64"},
    {"10", "C1 0B"},
    {"-10", "3E 5B 66"},
    {"255", "C2 03 38"},
    {"-256", "3D 63 2D 66"},
};

}  // namespace

TEST(OracleNumber, EncodesAndDecodesPythonVectors) {
    for (const auto& v : kNumbers) {
        oci::Decimal d;
        ASSERT_TRUE(oci::parseDecimal(v.text, d)) << v.text;
        std::string b = oci::encodeNumber(d);
        EXPECT_EQ(v.bytes, HexText(reinterpret_cast<const ub1*>(b.data()), b.size())) << v.text;
        oci::Decimal back = oci::decodeNumber(reinterpret_cast<const ub1*>(b.data()), b.size());
        oci::Decimal want;
        oci::parseDecimal(v.text, want);
        EXPECT_EQ(want.negative, back.negative) << v.text;
        EXPECT_EQ(want.digits, back.digits) << v.text;
        EXPECT_EQ(want.exp10, back.exp10) << v.text;
    }
}

// The table Python's decimal module made for the client's NUMBER conversions.
TEST(OracleNumber, WritesAndReadsTheClientsNumberTable) {
    auto rows = rtl::testing::ReadTsv("numbers.tsv", "tests/dataaccess/oracle/data");
    ASSERT_GT(rows.size(), 300u);
    for (const auto& row : rows) {
        oci::Decimal d;
        ASSERT_TRUE(oci::parseDecimal(row[0], d)) << row[0];
        const std::string bytes = oci::encodeNumber(d);
        EXPECT_EQ(row[1], HexText(reinterpret_cast<const ub1*>(bytes.data()), bytes.size())) << row[0];
        oci::Decimal back = oci::decodeNumber(reinterpret_cast<const ub1*>(bytes.data()), bytes.size());
        EXPECT_EQ(d.negative, back.negative) << row[0];
        EXPECT_EQ(d.digits, back.digits) << row[0];
        EXPECT_EQ(d.exp10, back.exp10) << row[0];
        if (row[3] != "SCI") {
            EXPECT_EQ(row[3], oci::decimalToText(back)) << row[0];
        }
    }
}

TEST(OracleNumber, TextFormIsOraclesMinimalForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"0.5", ".5"},   {"-0.05", "-.05"},      {"100", "100"},
        {"1e3", "1000"}, {"123.4500", "123.45"}, {"-0", "0"},
    };
    for (auto& [in, out] : cases) {
        oci::Decimal d;
        ASSERT_TRUE(oci::parseDecimal(in, d));
        EXPECT_EQ(out, oci::decimalToText(d)) << in;
    }
}

TEST(OracleNumber, RefusesBadBytesAndOverflow) {
    const ub1 badDigit[] = {0xC1, 0x00};
    const ub1 negInf[] = {0x00};
    const ub1 posInf[] = {0xFF, 0x65};
    for (auto [p, n] : {std::pair<const ub1*, size_t>{badDigit, 2}, {negInf, 1}, {posInf, 2}}) {
        try {
            oci::decodeNumber(p, n);
            ADD_FAILURE() << "decoded " << HexText(p, n);
        } catch (const oci::OraException& e) {
            EXPECT_EQ(1722, e.code());
        }
    }
    oci::Decimal huge;
    oci::parseDecimal("1e126", huge);
    EXPECT_THROW(oci::encodeNumber(huge), oci::OraException);
    oci::Decimal tiny;
    oci::parseDecimal("1e-140", tiny);
    EXPECT_EQ("\x80", oci::encodeNumber(tiny));
}

TEST(OracleNumber, RoundsBeyondFortyDigits) {
    oci::Decimal d;
    oci::parseDecimal("0.99999999999999999999999999999999999999999", d);  // 41 nines
    std::string b = oci::encodeNumber(d);
    EXPECT_EQ("C1 02", HexText(reinterpret_cast<const ub1*>(b.data()), b.size()));
}

TEST(OracleDate, SevenBytesFromPythonDatetime) {
    struct Vec {
        const char* text;
        ub1 bytes[7];
    };
    // python3: [y//100+100, y%100+100, m, d, H+1, M+1, S+1]
    const Vec cases[] = {
        {"1910-01-01 00:00:00", {119, 110, 1, 1, 1, 1, 1}},
        {"1910-12-31 23:59:59", {119, 110, 12, 31, 24, 60, 60}},
        {"2009-06-15 12:30:45", {120, 109, 6, 15, 13, 31, 46}},
        {"0001-01-01 00:00:00", {100, 101, 1, 1, 1, 1, 1}},
        {"9999-12-31 23:59:59", {199, 199, 12, 31, 24, 60, 60}},
        {"2000-02-29 01:02:03", {120, 100, 2, 29, 2, 3, 4}},
    };
    for (const Vec& v : cases) {
        oci::DateParts p;
        ASSERT_TRUE(oci::parseDateText(v.text, p)) << v.text;
        ub1 out[7];
        oci::encodeDate(p, out);
        EXPECT_EQ(HexText(v.bytes, 7), HexText(out, 7)) << v.text;
        EXPECT_EQ(v.text, oci::dateToText(oci::decodeDate(v.bytes)));
    }
}

TEST(OracleDate, RejectsImpossibleDates) {
    oci::DateParts p;
    for (const char* bad : {"2001-02-29", "2000-13-01", "2000-01-01 24:00:00", "2000-1-01", "yesterday"})
        EXPECT_FALSE(oci::parseDateText(bad, p)) << bad;
    EXPECT_TRUE(oci::parseDateText("2000-02-29", p));
    EXPECT_TRUE(oci::parseDateText("2000-02-29T10:11:12.5", p));
    EXPECT_EQ(500000000u, p.nanos);
}

TEST(CodePage, Cp1251RoundTripsEveryByte) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(all, oci::utf8ToAnsi(oci::ansiToUtf8(all)));
    EXPECT_EQ("\xD0\x9F\xD1\x80\xD0\xB8", oci::ansiToUtf8("\xCF\xF0\xE8"));  // "При"
    EXPECT_EQ("?", oci::utf8ToAnsi("\xE4\xB8\xAD"));                         // not in the code page
}

// ---- the OCINumber routines ----------------------------------------------------------------------------

class OciNumberApi : public OciTest {
protected:
    OCINumber fromText(const char* t, const char* nls = nullptr) {
        OCINumber n{};
        const char* fmt = "TM9";
        EXPECT_EQ(OCI_SUCCESS,
                  OCINumberFromText(err_, reinterpret_cast<const OraText*>(t), strlen(t),
                                    reinterpret_cast<const OraText*>(fmt), 3,
                                    reinterpret_cast<const OraText*>(nls), nls ? strlen(nls) : 0, &n))
            << errorText();
        return n;
    }
    std::string toText(const OCINumber& n, const char* nls = nullptr) {
        OraText buf[64];
        ub4 size = sizeof buf;
        const char* fmt = "TM9";
        EXPECT_EQ(OCI_SUCCESS,
                  OCINumberToText(err_, &n, reinterpret_cast<const OraText*>(fmt), 3,
                                  reinterpret_cast<const OraText*>(nls), nls ? strlen(nls) : 0, &size, buf))
            << errorText();
        return std::string(reinterpret_cast<char*>(buf), size);
    }
};

TEST_F(OciNumberApi, TextRoundTripWithNlsDecimalCharacter) {
    OCINumber n = fromText("123.45");
    EXPECT_EQ("04 C2 02 18 2E", HexText(n.OCINumberPart, 5));
    EXPECT_EQ("123.45", toText(n));
    const char* nls = "NLS_NUMERIC_CHARACTERS=', '";
    OCINumber m = fromText("-1 234,5", nls);
    EXPECT_EQ("-1234,5", toText(m, nls));
    OCINumber bad{};
    const char* junk = "12x";
    EXPECT_EQ(OCI_ERROR, OCINumberFromText(err_, reinterpret_cast<const OraText*>(junk), 3, nullptr, 0,
                                           nullptr, 0, &bad));
    EXPECT_EQ(1722, errorCode());
}

TEST_F(OciNumberApi, IntegersAndRealsAndComparison) {
    int64_t big = -9007199254740993LL;
    OCINumber n{};
    OCI_OK(OCINumberFromInt(err_, &big, 8, OCI_NUMBER_SIGNED, &n));
    int64_t back = 0;
    OCI_OK(OCINumberToInt(err_, &n, 8, OCI_NUMBER_SIGNED, &back));
    EXPECT_EQ(big, back);
    int32_t small = 0;
    EXPECT_EQ(OCI_ERROR, OCINumberToInt(err_, &n, 4, OCI_NUMBER_SIGNED, &small));
    EXPECT_EQ(22053, errorCode());

    OCINumber frac = fromText("-7.9");
    OCI_OK(OCINumberToInt(err_, &frac, 4, OCI_NUMBER_SIGNED, &small));
    EXPECT_EQ(-7, small);  // truncated toward zero

    double d = 0.1;
    OCI_OK(OCINumberFromReal(err_, &d, 8, &n));
    EXPECT_EQ(".1", toText(n));
    double out = 0;
    OCI_OK(OCINumberToReal(err_, &n, 8, &out));
    EXPECT_EQ(0.1, out);

    const char* ordered[] = {"-100", "-1.5", "-1", "0", "1e-130", "1", "1.01", "100"};
    for (size_t i = 0; i + 1 < std::size(ordered); ++i) {
        OCINumber a = fromText(ordered[i]), b = fromText(ordered[i + 1]);
        sword r = 0;
        OCI_OK(OCINumberCmp(err_, &a, &b, &r));
        EXPECT_EQ(-1, r) << ordered[i] << " < " << ordered[i + 1];
        OCI_OK(OCINumberCmp(err_, &b, &a, &r));
        EXPECT_EQ(1, r);
        OCINumber c{};
        OCI_OK(OCINumberAssign(err_, &a, &c));
        OCI_OK(OCINumberCmp(err_, &a, &c, &r));
        EXPECT_EQ(0, r);
    }
}
