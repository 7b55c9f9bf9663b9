// TOraNumber, TOraTimeStamp and TOraInterval over the stand-in client, against the tables Python's
// decimal and datetime modules made.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "OraValueTables.h"

using namespace dac;
using namespace oratest;

namespace {

// Oracle's TM9 text with the zero the client puts before a bare decimal point.
std::string ClientNumberText(std::string tm9) {
    if (!tm9.empty() && tm9[0] == '.') return "0" + tm9;
    if (tm9.size() > 1 && tm9[0] == '-' && tm9[1] == '.') return "-0" + tm9.substr(1);
    return tm9;
}

std::string NumberBytes(TOraNumber& n) {
    const uint8_t* p = n.GetOCINumberPtr()->OCINumberPart;
    return HexText(p + 1, p[0]);
}

rtl::TFormatSettings Locale(char decimal, char thousand, const char* shortDate, char dateSep,
                            const char* longTime, char timeSep) {
    rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
    fs.DecimalSeparator = decimal;
    fs.ThousandSeparator = thousand;
    fs.ShortDateFormat = shortDate;
    fs.DateSeparator = dateSep;
    fs.LongTimeFormat = longTime;
    fs.TimeSeparator = timeSep;
    return fs;
}

using OraNumberTest = OraValueTest;
using OraTimeStampTest = OraValueTest;
using OraIntervalTest = OraValueTest;

}  // namespace

// ---- numbers --------------------------------------------------------------------------------

TEST_F(OraNumberTest, TextBytesAndBcdMatchPythonDecimal) {
    auto rows = Table("numbers.tsv");
    ASSERT_GT(rows.size(), 300u);
    for (const auto& row : rows) {
        TOraNumber n;
        n.SetAsString(row[0]);
        EXPECT_FALSE(n.GetIsNull());
        EXPECT_EQ(row[1], NumberBytes(n)) << row[0];
        const std::string text = n.GetAsString();
        if (row[3] == "SCI") {
            // Beyond 64 characters the text is scientific; it reads back to the same number.
            TOraNumber back;
            back.SetAsString(text);
            EXPECT_EQ(row[1], NumberBytes(back)) << row[0] << " as " << text;
        } else {
            EXPECT_EQ(ClientNumberText(row[3]), text) << row[0];
        }
        if (row[2] == "ERR")
            EXPECT_THROW(n.GetAsBCD(), rtl::Exception) << row[0];
        else
            EXPECT_EQ(row[2], BcdText(n.GetAsBCD())) << row[0];
    }
}

TEST_F(OraNumberTest, FormatModelsFollowTheText) {
    struct Case {
        const char* text;
        char decimal, thousand;
        const char* model;
    };
    const std::string scientific = "9D" + std::string(41, '9') + "EEEE";
    const Case cases[] = {
        {"1.234,5", ',', '.', "9G999D9"}, {"-,5", ',', '.', "SD9"},
        {"+12", '.', ',', "S99"},         {"1,234,567.25", '.', ',', "9G999G999D99"},
        {"1.2.3", '.', ',', "9D999"},    // only the first separator is the point
        {",5", '.', ',', "99"},          // a thousand separator after no digit is a digit place
        {"12.5,1", '.', ',', "99D999"},  // nor after the point
        {"1-2", '.', ',', "999"},        // a sign only leads
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.model, OraNumberFormatModel(c.text, c.decimal, c.thousand)) << c.text;
    EXPECT_EQ(scientific, OraNumberFormatModel("1e5", '.', ','));
    EXPECT_EQ("S" + scientific, OraNumberFormatModel("-1.5E-7", '.', ','));
    EXPECT_EQ(std::string(63, '9'), OraNumberFormatModel(std::string(70, '1'), '.', ','));
    EXPECT_EQ("S" + std::string(63, '9'), OraNumberFormatModel("-" + std::string(70, '1'), '.', ','));
    EXPECT_EQ("S" + std::string(62, '9'), OraNumberFormatModel("-" + std::string(62, '1'), '.', ','));
}

TEST_F(OraNumberTest, LocaleSeparatorsInTextBothWays) {
    rtl::TFormatSettingsOverride comma(Locale(',', '.', "dd.MM.yyyy", '.', "hh:nn:ss", ':'));
    const std::pair<const char*, const char*> cases[] = {
        {"1.234,5", "1234,5"}, {"-,5", "-0,5"},        {",5", "0,5"}, {"0,05", "0,05"},
        {"1e5", "100000"},     {"-2,5E-3", "-0,0025"}, {"+7", "7"},   {"12.345.678", "12345678"},
    };
    for (const auto& [in, out] : cases) {
        TOraNumber n;
        n.SetAsString(in);
        EXPECT_EQ(out, n.GetAsString()) << in;
    }
}

TEST_F(OraNumberTest, TextThatIsNoNumberKeepsTheOldValue) {
    TOraNumber n;
    n.SetAsLargeInt(5);
    for (const char* bad : {"abc", "--5", "12a", "1.2.3"}) {
        EXPECT_EQ(1722, OraCode([&] { n.SetAsString(bad); })) << bad;
        EXPECT_FALSE(n.GetIsNull());
        EXPECT_EQ(5, n.GetAsLargeInt()) << bad;
        EXPECT_EQ("C1 06", NumberBytes(n));
    }
    TOraNumber null;
    EXPECT_EQ(1722, OraCode([&] { null.SetAsString("x"); }));
    EXPECT_TRUE(null.GetIsNull());
    null.SetIsNull(false);  // the value a null number holds is zero, never an empty NUMBER
    EXPECT_EQ("0", null.GetAsString());
}

TEST_F(OraNumberTest, IntegersFloatsAndBcd) {
    TOraNumber n;
    EXPECT_TRUE(n.GetIsNull());
    EXPECT_EQ(0, n.GetAsLargeInt());
    EXPECT_EQ(0.0, n.GetAsFloat());
    EXPECT_EQ("", n.GetAsString());
    const rtl::TBcd nullBcd = n.GetAsBCD();
    EXPECT_EQ(0, std::memcmp(&rtl::NullBcd, &nullBcd, sizeof nullBcd));

    for (int64_t v : {INT64_MIN, INT64_MAX, int64_t(0), int64_t(-1), int64_t(4294967301)}) {
        n.SetAsLargeInt(v);
        EXPECT_EQ(v, n.GetAsLargeInt());
    }
    n.SetAsLargeInt(4294967301);  // 2^32 + 5: the low 32 bits
    EXPECT_EQ(5, n.GetAsInteger());
    n.SetAsInteger(INT32_MIN);
    EXPECT_EQ(INT32_MIN, n.GetAsInteger());
    EXPECT_EQ("-2147483648", n.GetAsString());
    for (double v : {0.1, -1e-130, 1.5e125, 3.14159265358979}) {
        n.SetAsFloat(v);
        EXPECT_EQ(v, n.GetAsFloat());
    }
    const rtl::TBcd bcd = rtl::StrToBcd("-12345678901234567890.123456789");
    n.SetAsBCD(bcd);
    EXPECT_EQ("-12345678901234567890.123456789", n.GetAsString());
    EXPECT_EQ(0, rtl::BcdCompare(bcd, n.GetAsBCD()));
    n.SetAsString("");
    EXPECT_TRUE(n.GetIsNull());
}

TEST_F(OraNumberTest, AssignCompareAndLentStorage) {
    TOraNumber a, b, c;
    a.SetAsString("-3.5");
    b.SetAsString("2");
    EXPECT_LT(a.Compare(&b), 0);
    EXPECT_GT(b.Compare(&a), 0);
    EXPECT_LT(c.Compare(&a), 0);  // null first
    EXPECT_EQ(0, c.Compare(&c));
    a.AssignTo(&c);
    EXPECT_EQ(0, a.Compare(&c));
    EXPECT_EQ("-3.5", c.GetAsString());
    TOraNumber null;
    null.AssignTo(&c);
    EXPECT_TRUE(c.GetIsNull());

    // Lent storage: the number reads and writes the foreign cell and never frees it.
    OCINumber cell{};
    std::memcpy(&cell, b.GetOCINumberPtr(), sizeof cell);
    TOraNumber lent;
    lent.SetOCINumberPtr(&cell);
    EXPECT_FALSE(lent.OwnsValue());
    EXPECT_EQ(2, lent.GetAsLargeInt());
    lent.SetAsLargeInt(77);
    EXPECT_EQ("C1 4E", HexText(cell.OCINumberPart + 1, cell.OCINumberPart[0]));
    lent.OwnStorage();
    lent.SetAsLargeInt(1);
    EXPECT_EQ("C1 4E", HexText(cell.OCINumberPart + 1, cell.OCINumberPart[0]));
    EXPECT_TRUE(lent.OwnsValue());
}

// ---- timestamps -----------------------------------------------------------------------------

TEST_F(OraTimeStampTest, FormatModelsFromTheLocale) {
    struct Case {
        const char* shortDate;
        char dateSep;
        const char* longTime;
        char decimal;
        bool zone;
        const char* model;
    };
    const Case cases[] = {
        {"dd.mm.yyyy", '.', "hh:nn:ss", '.', false, "DD.MM.YYYY HH24:MI:SS.FF"},
        {"dd/MM/yyyy", '.', "hh:nn:ss", ',', false, "DD.MM.YYYY HH24:MI:SS,FF"},
        {"M/d/yyyy", '/', "h:nn:ss AMPM", '.', false, "fmMMfm/fmDDfm/YYYY fmHH12fm:MI:SS.FF AM"},
        {"ddd dddd mmm mmmm yy", '/', "hh:mm:ss", '.', false, "DY fmDAYfm MON MONTH YY HH24:MI:SS.FF"},
        {"gg yyyy", '/', "hh:nn:ss.zzz", '.', false, "EE YYYY HH24:MI:SS.FF"},
        {"dd.mm.yyyy", '.', "h:n:s", '.', false, "DD.MM.YYYY fmHH24fm:fmMIfm:fmSSfm.FF"},
        {"dd.mm.yyyy", '.', "hh:nn:ss tt", '.', false, "DD.MM.YYYY HH12:MI:SS.FF AM"},
        {"'day' dd", '.', "hh \"h\" nn", '.', false, "\"day\" DD HH24 \"h\" MI"},
        {"dd 'unclosed", '.', "hh:nn", '.', false, "DD \"unclosed\" HH24:MI"},
        {"dd.mm.yyyy", '.', "hh:nn:ss", '.', true, "DD.MM.YYYY HH24:MI:SS.FF TZH:TZM"},
    };
    for (const auto& c : cases) {
        rtl::TFormatSettings fs = Locale(c.decimal, ' ', c.shortDate, c.dateSep, c.longTime, ':');
        EXPECT_EQ(c.model, OraDateTimeFormatModel(fs, c.zone)) << c.shortDate << " " << c.longTime;
    }
    rtl::TFormatSettingsOverride russian(Locale(',', ' ', "dd/MM/yyyy", '.', "hh:nn:ss", ':'));
    TOraTimeStamp ts(dtTimeStampTZ);
    ts.SetFormat("");
    EXPECT_EQ("DD.MM.YYYY HH24:MI:SS,FF TZH:TZM", ts.GetFormat());
    ts.SetFormat("YYYY");
    EXPECT_EQ("YYYY", ts.GetFormat());
}

TEST_F(OraTimeStampTest, TextFieldsAndDateTimesMatchPython) {
    auto rows = Table("timestamps.tsv");
    ASSERT_GT(rows.size(), 200u);
    for (const auto& row : rows) {
        const auto f = Fields(row[0]);
        TOraTimeStamp ts(dtTimeStamp);
        ts.SetFormat("YYYY-MM-DD HH24:MI:SS.FF9");
        ts.Precision = 9;
        ts.SetAsString(row[1]);
        ASSERT_FALSE(ts.GetIsNull());
        EXPECT_EQ(row[1], ts.GetAsString());
        int16_t y;
        uint8_t mo, d, h, mi, s;
        uint32_t ns;
        ts.GetDate(y, mo, d);
        ts.GetTime(h, mi, s, ns);
        EXPECT_EQ(f, (std::vector<long long>{y, mo, d, h, mi, s, ns})) << row[1];
        EXPECT_NEAR(std::stod(row[2]), ts.GetAsDateTime(), 1e-9) << row[1];
        rtl::TSQLTimeStamp sql;
        OraTimeStampToSQLTimeStamp(&ts, sql);
        EXPECT_EQ((rtl::TSQLTimeStamp{uint16_t(y), mo, d, h, mi, s, uint32_t(std::stoul(row[3]))}), sql)
            << row[1];
    }
}

TEST_F(OraTimeStampTest, DateTimeKeepsItsMilliseconds) {
    TOraTimeStamp ts;
    const rtl::TDateTime v = rtl::EncodeDateTime(2024, 5, 6, 7, 8, 9, 123);
    ts.SetAsDateTime(v);
    uint8_t h, mi, s;
    uint32_t ns;
    ts.GetTime(h, mi, s, ns);
    EXPECT_EQ(123000000u, ns);
    EXPECT_EQ(v, ts.GetAsDateTime());
    const rtl::TDateTime before1900 = rtl::EncodeDateTime(1812, 9, 7, 23, 59, 59, 999);
    ts.SetAsDateTime(before1900);
    EXPECT_NEAR(before1900, ts.GetAsDateTime(), 1e-10);
    TOraTimeStamp null;
    EXPECT_EQ(0.0, null.GetAsDateTime());
    EXPECT_EQ("", null.GetAsString());
}

TEST_F(OraTimeStampTest, FailedConversionsRaiseAndKeepTheValue) {
    TOraTimeStamp ts;
    ts.SetFormat("DD.MM.YYYY HH24:MI:SS");
    ts.SetAsString("06.05.2024 07:08:09");
    for (const char* bad : {"31.02.2024 00:00:00", "garbage", "06.05.2024 25:00:00"}) {
        EXPECT_NE(0, OraCode([&] { ts.SetAsString(bad); })) << bad;
        EXPECT_EQ("06.05.2024 07:08:09", ts.GetAsString()) << bad;
    }
    TOraTimeStamp null;
    null.SetFormat("DD.MM.YYYY");
    EXPECT_NE(0, OraCode([&] { null.SetAsString("x"); }));
    EXPECT_TRUE(null.GetIsNull());

    // A text longer than the 255 characters the client reads is an error, not an empty text.
    std::string longModel;
    while (longModel.size() + 5 <= 255) longModel += "MONTH";
    ts.SetFormat(longModel);
    EXPECT_EQ(1877, OraCode([&] { ts.GetAsString(); }));
}

TEST_F(OraTimeStampTest, AssignCompareAndLentDescriptors) {
    TOraTimeStamp source(dtTimeStampTZ), target(dtTimeStamp);
    source.SetFormat("YYYY");
    source.Precision = 3;
    source.AssignTo(&target);
    EXPECT_EQ(ub4(OCI_DTYPE_TIMESTAMP_TZ), target.GetDescriptorType());
    EXPECT_EQ("YYYY", target.GetFormat());
    EXPECT_EQ(3, target.Precision);
    EXPECT_TRUE(target.GetIsNull());
    EXPECT_TRUE(target.OwnsDescriptor());
    EXPECT_NE(nullptr, target.GetOCIDateTime());

    TOraTimeStamp a, b, formatless;
    a.Construct(2020, 1, 2, 3, 4, 5, 600000000);
    b.Construct(2020, 1, 2, 3, 4, 5, 700000000);
    EXPECT_LT(a.Compare(&b), 0);
    EXPECT_LT(formatless.Compare(&a), 0);  // null first
    a.AssignTo(&formatless);
    EXPECT_EQ(0, a.Compare(&formatless));
    EXPECT_FALSE(formatless.GetFormat().empty());  // the locale's model

    TOraTimeStamp zoned(dtTimeStampTZ);
    zoned.Construct(2020, 1, 2, 3, 4, 5, 0, "+03:00");
    zoned.SetFormat("YYYY-MM-DD HH24:MI TZH:TZM");
    EXPECT_EQ("2020-01-02 03:04 +03:00", zoned.GetAsString());

    // A lent descriptor is used, never freed, by the borrower.
    TOraTimeStamp borrower;
    borrower.SetOCIDateTime(b.GetOCIDateTime());
    EXPECT_FALSE(borrower.OwnsDescriptor());
    EXPECT_EQ(0, borrower.Compare(&b));
    borrower.FreeDescriptor();
    EXPECT_TRUE(borrower.GetIsNull());
    EXPECT_EQ(0, b.Compare(&b));
    uint8_t h, mi, s;
    uint32_t ns;
    b.GetTime(h, mi, s, ns);
    EXPECT_EQ(700000000u, ns);

    EXPECT_THROW(TOraTimeStamp{dtDateTime}, rtl::EAssertionFailed);
    EXPECT_THROW(TOraInterval{dtTimeStamp}, rtl::EAssertionFailed);
}

TEST_F(OraTimeStampTest, SQLTimeStampRecords) {
    TOraTimeStamp ts(dtSQLTimeStamp);
    SQLTimeStampToOraTimeStamp(&ts, rtl::TSQLTimeStamp{2024, 2, 29, 12, 0, 0, 250});
    uint8_t h, mi, s;
    uint32_t ns;
    ts.GetTime(h, mi, s, ns);
    EXPECT_EQ(250000000u, ns);
    rtl::TSQLTimeStamp back;
    OraTimeStampToSQLTimeStamp(&ts, back);
    EXPECT_EQ((rtl::TSQLTimeStamp{2024, 2, 29, 12, 0, 0, 250}), back);

    SQLTimeStampToOraTimeStamp(&ts, rtl::NullSQLTimeStamp);
    EXPECT_TRUE(ts.GetIsNull());
    OraTimeStampToSQLTimeStamp(&ts, back);
    EXPECT_EQ(rtl::NullSQLTimeStamp, back);
    EXPECT_THROW(SQLTimeStampToOraTimeStamp(&ts, rtl::TSQLTimeStamp{2024, 1, 1, 0, 0, 0, 1000}),
                 rtl::EConvertError);
    EXPECT_NE(0, OraCode([&] {
                  SQLTimeStampToOraTimeStamp(&ts, rtl::TSQLTimeStamp{2023, 2, 29, 0, 0, 0, 0});
              }));
    EXPECT_TRUE(ts.GetIsNull());
}

// ---- intervals ------------------------------------------------------------------------------

TEST_F(OraIntervalTest, TextAndFieldsMatchPythonTimedelta) {
    auto rows = Table("intervals.tsv");
    ASSERT_GT(rows.size(), 200u);
    for (const auto& row : rows) {
        const bool ds = row[0] == "DS";
        TOraInterval iv(ds ? dtIntervalDS : dtIntervalYM);
        iv.LeadingPrecision = 9;
        iv.SetAsString(row[1]);
        ASSERT_FALSE(iv.GetIsNull());
        EXPECT_EQ(row[1], iv.GetAsString());
        const auto want = Fields(row[2]);
        if (ds) {
            sb4 d, h, m, s, ns;
            ASSERT_EQ(OCI_SUCCESS, dac::OCIIntervalGetDaySecond(OCIEnvHandle, OCIErrorHandle(), &d, &h, &m,
                                                                &s, &ns, iv.GetOCIInterval()));
            EXPECT_EQ(want, (std::vector<long long>{d, h, m, s, ns})) << row[1];
        } else {
            sb4 y, m;
            ASSERT_EQ(OCI_SUCCESS, dac::OCIIntervalGetYearMonth(OCIEnvHandle, OCIErrorHandle(), &y, &m,
                                                                iv.GetOCIInterval()));
            EXPECT_EQ(want, (std::vector<long long>{y, m})) << row[1];
        }
    }
}

TEST_F(OraIntervalTest, PrecisionsShapeTheText) {
    TOraInterval iv(dtIntervalDS);
    iv.SetAsString("+5 03:04:05.123400000");
    EXPECT_EQ("+05 03:04:05.123400", iv.GetAsString());
    iv.FractionPrecision = 2;
    iv.LeadingPrecision = 3;
    EXPECT_EQ("+005 03:04:05.12", iv.GetAsString());
    iv.SetAsString("-123 00:00:00");
    iv.LeadingPrecision = 2;
    EXPECT_EQ(1873, OraCode([&] { iv.GetAsString(); }));
    TOraInterval ym(dtIntervalYM);
    ym.SetAsString("-2-11");
    EXPECT_EQ("-02-11", ym.GetAsString());
}

TEST_F(OraIntervalTest, FailedConversionsKeepTheValue) {
    TOraInterval iv(dtIntervalDS);
    iv.SetAsString("+1 00:00:00");
    // Converts, but a leading field of ten digits forms no valid interval.
    EXPECT_EQ("Invalid interval.", Message([&] { iv.SetAsString("+1000000000 00:00:00"); }));
    EXPECT_EQ("+01 00:00:00.000000", iv.GetAsString());
    EXPECT_EQ(1867, OraCode([&] { iv.SetAsString("one day"); }));
    EXPECT_EQ("+01 00:00:00.000000", iv.GetAsString());
    TOraInterval null(dtIntervalYM);
    EXPECT_EQ(1867, OraCode([&] { null.SetAsString("+1-13"); }));
    EXPECT_TRUE(null.GetIsNull());
    iv.SetAsString("");
    EXPECT_TRUE(iv.GetIsNull());
    EXPECT_EQ("", iv.GetAsString());
}

TEST_F(OraIntervalTest, AssignAndCompare) {
    TOraInterval a(dtIntervalYM), b(dtIntervalDS), c(dtIntervalDS);
    a.SetAsString("+1-06");
    a.LeadingPrecision = 4;
    a.AssignTo(&b);
    EXPECT_EQ(ub4(OCI_DTYPE_INTERVAL_YM), b.GetDescriptorType());
    EXPECT_EQ("+0001-06", b.GetAsString());
    EXPECT_EQ(0, a.Compare(&b));
    c.SetDescriptorType(OCI_DTYPE_INTERVAL_YM);
    EXPECT_LT(c.Compare(&a), 0);
    c.SetAsString("+2-00");
    EXPECT_GT(c.Compare(&a), 0);
    TOraInterval null(dtIntervalDS);
    null.AssignTo(&c);
    EXPECT_TRUE(c.GetIsNull());
    EXPECT_EQ(ub4(OCI_DTYPE_INTERVAL_DS), c.GetDescriptorType());
}

// ---- other clients --------------------------------------------------------------------------

namespace {

std::u16string Utf16(const OraText* p, ub4 bytes) {
    std::u16string s(bytes / 2, u'\0');
    std::memcpy(s.data(), p, bytes);
    return s;
}

sword Utf16NumberToText(OCIError*, const OCINumber*, const OraText* fmt, ub4 fmtLength, const OraText* nls,
                        ub4 nlsLength, ub4* bufSize, OraText* buf) {
    EXPECT_EQ(u"TM9", Utf16(fmt, fmtLength));
    EXPECT_EQ(u"NLS_NUMERIC_CHARACTERS='.,'", Utf16(nls, nlsLength));
    EXPECT_EQ(128u, *bufSize);  // 64 characters
    const std::u16string text = u"-.25";
    std::memcpy(buf, text.data(), text.size() * 2);
    *bufSize = static_cast<ub4>(text.size() * 2);
    return OCI_SUCCESS;
}

decltype(dac::OCINumberFromText) realFromText = nullptr;

sword Utf16NumberFromText(OCIError* err, const OraText* str, ub4 strLength, const OraText* fmt, ub4 fmtLength,
                          const OraText* nls, ub4 nlsLength, OCINumber* number) {
    EXPECT_EQ(u"-1,5", Utf16(str, strLength));
    EXPECT_EQ(u"S9G9", Utf16(fmt, fmtLength));
    EXPECT_EQ(u"NLS_NUMERIC_CHARACTERS='.,'", Utf16(nls, nlsLength));
    const OraText eight[] = "-8";
    return realFromText(err, eight, 2, nullptr, 0, nullptr, 0, number);
}

}  // namespace

TEST_F(OraNumberTest, TextsAreUtf16InAUnicodeEnvironment) {
    auto savedTo = dac::OCINumberToText;
    auto savedFrom = realFromText = dac::OCINumberFromText;
    dac::OCINumberToText = &Utf16NumberToText;
    dac::OCINumberFromText = &Utf16NumberFromText;
    OCIUnicode = true;
    TOraNumber n;
    n.SetAsString("-1,5");
    n.SetIsNull(false);
    EXPECT_EQ("-0.25", n.GetAsString());
    OCIUnicode = false;
    dac::OCINumberToText = savedTo;
    dac::OCINumberFromText = savedFrom;
    EXPECT_EQ(-8, n.GetAsLargeInt());
}

TEST_F(OraNumberTest, ClientsBefore81FormatTheFloat) {
    TOraNumber n;
    n.SetAsString("1234.56");
    const uint16_t version = OCIVersion;
    OCIVersion = 8050;
    EXPECT_EQ(rtl::FormatFloat("0.#", 1234.56), n.GetAsString());
    OCIVersion = version;
}
