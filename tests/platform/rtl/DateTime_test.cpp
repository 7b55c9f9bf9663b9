#include "platform/rtl/DateTime.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>

#include "platform/rtl/Exceptions.h"
#include "tests/platform/rtl/TsvTable.h"

namespace rtl {
namespace {

TFormatSettings Russian() {
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DecimalSeparator = ',';
    fs.DateSeparator = '.';
    fs.TimeSeparator = ':';
    fs.ShortDateFormat = "dd/mm/yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    fs.ShortTimeFormat = "hh:nn";
    return fs;
}

TFormatSettings Us() {
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DateSeparator = '/';
    fs.ShortDateFormat = "M/d/yyyy";
    fs.LongDateFormat = "dddd, mmmm d, yyyy";
    fs.LongTimeFormat = "h:nn:ss AMPM";
    fs.ShortTimeFormat = "h:nn AMPM";
    return fs;
}

TEST(DateTime, SerialNumbersAndTimeStampsMatchTable) {
    auto rows = testing::ReadTsv("dates.tsv");
    ASSERT_GT(rows.size(), 200u);
    for (const auto& r : rows) {
        ASSERT_EQ(r.size(), 12u);
        int f[7];
        for (int i = 0; i < 7; ++i) f[i] = std::atoi(r[i].c_str());
        const double serial = std::strtod(r[7].c_str(), nullptr);
        const int32_t tsTime = std::atoi(r[8].c_str());
        const int32_t tsDate = std::atoi(r[9].c_str());
        const double msecs = std::strtod(r[10].c_str(), nullptr);
        const int dow = std::atoi(r[11].c_str());
        SCOPED_TRACE(r[0] + "-" + r[1] + "-" + r[2] + " " + r[3] + ":" + r[4] + ":" + r[5] + "." + r[6]);

        TDateTime dt = EncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
        EXPECT_NEAR(dt, serial, 1e-9);
        Word y, m, d, h, n, s, ms;
        DecodeDateTime(serial, y, m, d, h, n, s, ms);
        EXPECT_EQ((std::array<int, 7>{y, m, d, h, n, s, ms}),
                  (std::array<int, 7>{f[0], f[1], f[2], f[3], f[4], f[5], f[6]}));
        TTimeStamp ts = DateTimeToTimeStamp(serial);
        EXPECT_EQ(ts.Date, tsDate);
        EXPECT_EQ(ts.Time, tsTime);
        EXPECT_EQ(TimeStampToMSecs(ts), msecs);
        TTimeStamp back = MSecsToTimeStamp(msecs);
        EXPECT_EQ(back.Date, tsDate);
        EXPECT_EQ(back.Time, tsTime);
        EXPECT_NEAR(TimeStampToDateTime(ts), serial, 1e-9);
        EXPECT_EQ(DayOfWeek(serial), dow);
    }
}

TEST(DateTime, SignMagnitudeBeforeTheEpoch) {
    // -1.25 is the day before the epoch at 06:00, not 18:00.
    Word h, n, s, ms;
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(h, 6);
    TTimeStamp ts = DateTimeToTimeStamp(-1.5);
    EXPECT_EQ(ts.Date, 693593);
    EXPECT_EQ(ts.Time, 43200000);
    EXPECT_EQ(TimeStampToMSecs(DateTimeToTimeStamp(0)), 59926521600000.0);
    // Between -1 and 0 the date is the epoch itself.
    ts = DateTimeToTimeStamp(-0.25);
    EXPECT_EQ(ts.Date, DateDelta);
    EXPECT_EQ(ts.Time, 6 * 3600000);
    EXPECT_EQ(CombineDateTime(-2, 0.75), -2.75);
    EXPECT_EQ(TimeOf(-2.75), 0.75);
    EXPECT_EQ(DateOf(-2.75), -2);
}

TEST(DateTime, CivilDayNumbers) {
    struct Case {
        int y;
        unsigned m, d;
        int64_t days;
    };
    const Case cases[] = {
        {1970, 1, 1, 0},        {1899, 12, 30, -UnixDateDelta}, {1, 1, 1, -719162},
        {1600, 2, 29, -135081}, {1900, 3, 1, -25508},           {2000, 2, 29, 11016},
        {2107, 12, 31, 50402},  {9999, 12, 31, 2932896},        {0, 3, 1, -719468},  // start of an era
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
        EXPECT_EQ(DaysFromCivil(c.y, c.m, c.d), c.days);
        int y;
        unsigned m, d;
        CivilFromDays(c.days, y, m, d);
        EXPECT_EQ((std::array<int, 3>{y, int(m), int(d)}), (std::array<int, 3>{c.y, int(c.m), int(c.d)}));
    }
    // Day by day across era, century and leap boundaries, BC years included: each day follows
    // the one before it in the calendar.
    int py;
    unsigned pm, pd;
    CivilFromDays(-800000, py, pm, pd);
    for (int64_t n = -799999; n <= 800000; ++n) {
        int y;
        unsigned m, d;
        CivilFromDays(n, y, m, d);
        const bool nextDay = y == py && m == pm && d == pd + 1;
        const bool nextMonth = y == py && m == pm + 1 && d == 1 && int(pd) == DaysInAMonth(py, int(pm));
        const bool nextYear = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
        ASSERT_TRUE(nextDay || nextMonth || nextYear) << n;
        ASSERT_EQ(DaysFromCivil(y, m, d), n);
        py = y, pm = m, pd = d;
    }
}

TEST(DateTime, EncodeRejectsImpossibleValues) {
    struct D {
        int y, m, d;
    };
    for (D bad : {D{2001, 2, 29}, D{1900, 2, 29}, D{2000, 13, 1}, D{2000, 0, 1}, D{0, 1, 1}, D{10000, 1, 1},
                  D{2000, 4, 31}, D{2000, 1, 0}}) {
        TDateTime v = 123;
        EXPECT_FALSE(TryEncodeDate(bad.y, bad.m, bad.d, v)) << bad.y << "-" << bad.m << "-" << bad.d;
        EXPECT_EQ(v, 123);
    }
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    try {
        EncodeDate(2001, 2, 29);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }
    try {
        EncodeTime(24, 0, 0, 0);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Invalid argument to time encode");
    }
    TDateTime v;
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
    try {
        TimeStampToDateTime(TTimeStamp{-1, 5});
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'5.-1' is not a valid timestamp");
    }
    EXPECT_THROW(TimeStampToDateTime(TTimeStamp{0, 0}), EConvertError);
    EXPECT_THROW(TimeStampToDateTime(TTimeStamp{MSecsPerDay, 1}), EConvertError);
}

TEST(DateTime, FormatLetters) {
    const TDateTime dt = EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);  // a Tuesday
    const TDateTime early = EncodeDateTime(2024, 3, 5, 0, 30, 0, 0);
    auto ru = Russian();
    auto us = Us();
    struct Case {
        const char* format;
        TDateTime value;
        const TFormatSettings* fs;
        const char* want;
    };
    const Case cases[] = {
        {"dd.mm.yyyy", dt, &ru, "05.03.2024"},
        {"d/m/yy", dt, &ru, "5.3.24"},
        {"hh:nn:ss.zzz", dt, &ru, "14:07:09.045"},
        {"h:n:s.z", dt, &ru, "14:7:9.45"},
        {"yyyymmddhhnnsszzz", dt, &ru, "20240305140709045"},
        {"hh:mm", dt, &ru, "14:07"},
        {"mm", dt, &ru, "03"},
        {"ddd dddd", dt, &us, "Tue Tuesday"},
        {"mmm mmmm", dt, &us, "Mar March"},
        {"h:nn am/pm", dt, &us, "2:07 pm"},
        {"h:nn AM/PM", early, &us, "12:30 AM"},
        {"hh A/P", dt, &us, "02 P"},
        {"h ampm", early, &us, "12 AM"},
        {"c", dt, &ru, "05.03.2024 14:07:09"},
        {"", dt, &us, "3/5/2024 2:07:09 PM"},
        {"c", EncodeDate(2024, 3, 5), &ru, "05.03.2024"},
        {"ddddd", dt, &ru, "05.03.2024"},
        {"dddddd", dt, &us, "Tuesday, March 5, 2024"},
        {"t|tt", dt, &us, "2:07 PM|2:07:09 PM"},
        {"'dd'\"mm\" dd", dt, &ru, "ddmm 05"},
        {"yyyy-mm-dd", EncodeDate(987, 3, 5), &ru, "0987-03-05"},
        {"dd.mm.yyyy hh:nn", -1.25, &ru, "29.12.1899 06:00"},
        {"Y", dt, &ru, "24"},
        {"yyy", dt, &ru, "2024"},
        {"YYYYMMDDHHMMSS", dt, &ru, "20240305140709"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.format, c.value, *c.fs), c.want) << c.format;
    EXPECT_EQ(DateToStr(dt, ru), "05.03.2024");
    EXPECT_EQ(TimeToStr(dt, ru), "14:07:09");
    EXPECT_EQ(DateTimeToStr(dt, ru), "05.03.2024 14:07:09");
    TFormatSettingsOverride scope(ru);
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", dt), "05.03.2024 14:07");
}

TEST(DateTime, FormatLettersMatchReferenceTable) {
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DateSeparator = '.';
    fs.TimeSeparator = ':';
    fs.ShortDateFormat = "dd/mm/yyyy";
    fs.LongDateFormat = "dddd, d mmmm yyyy";
    fs.ShortTimeFormat = "hh:nn";
    fs.LongTimeFormat = "hh:nn:ss";
    auto rows = testing::ReadTsv("formatdatetime_fpc.tsv");
    ASSERT_GT(rows.size(), 100u);
    for (const auto& r : rows) {
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(FormatDateTime(r[1], std::strtod(r[0].c_str(), nullptr), fs), r[2]) << r[0] << " " << r[1];
    }
    // Milliseconds alone do not show the time in "c".
    EXPECT_EQ(FormatDateTime("c", EncodeDateTime(2024, 3, 5, 0, 0, 0, 5), fs), "05.03.2024");
}

TEST(DateTime, ParsingInTheLocaleOrder) {
    auto ru = Russian();
    auto us = Us();
    TFormatSettings ymd = ru;
    ymd.ShortDateFormat = "yyyy/mm/dd";
    ymd.DateSeparator = '-';
    struct Case {
        const char* text;
        const TFormatSettings* fs;
        bool ok;
        int y, m, d, h, n, s, ms;
    };
    const Case cases[] = {
        {"05.03.2024", &ru, true, 2024, 3, 5, 0, 0, 0, 0},
        {" 5 . 3 . 2024 ", &ru, true, 2024, 3, 5, 0, 0, 0, 0},
        {"3/5/2024", &us, true, 2024, 3, 5, 0, 0, 0, 0},
        {"2024-03-05", &ymd, true, 2024, 3, 5, 0, 0, 0, 0},
        {"05.03.2024 14:07:09", &ru, true, 2024, 3, 5, 14, 7, 9, 0},
        {"05.03.2024 14:07", &ru, true, 2024, 3, 5, 14, 7, 0, 0},
        {"05.03.2024 14:07:09,5", &ru, true, 2024, 3, 5, 14, 7, 9, 500},
        {"3/5/2024 2:07:09 PM", &us, true, 2024, 3, 5, 14, 7, 9, 0},
        {"3/5/2024 12:00 am", &us, true, 2024, 3, 5, 0, 0, 0, 0},
        {"29.12.1899 06:00", &ru, true, 1899, 12, 29, 6, 0, 0, 0},
        {"30.02.2024", &ru, false, 0, 0, 0, 0, 0, 0, 0},
        {"05-03-2024", &ru, false, 0, 0, 0, 0, 0, 0, 0},
        {"05.03.2024 25:00", &ru, false, 0, 0, 0, 0, 0, 0, 0},
        {"05.03.2024 1:00 xx", &ru, false, 0, 0, 0, 0, 0, 0, 0},
        {"3/5/2024 13:00 PM", &us, false, 0, 0, 0, 0, 0, 0, 0},
        {"", &ru, false, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        TDateTime v = -7;
        EXPECT_EQ(TryStrToDateTime(c.text, v, *c.fs), c.ok) << c.text;
        if (c.ok) {
            EXPECT_NEAR(v, EncodeDateTime(c.y, c.m, c.d, c.h, c.n, c.s, c.ms), 1e-9) << c.text;
        }
    }
    // Date only, time only.
    EXPECT_EQ(StrToDate("05.03.2024", ru), EncodeDate(2024, 3, 5));
    EXPECT_THROW(StrToDate("05.03.2024 10:00", ru), EConvertError);
    EXPECT_NEAR(StrToTime("14:07:09", ru), EncodeTime(14, 7, 9, 0), 1e-12);
    EXPECT_NEAR(StrToDateTime("14:07", ru), EncodeTime(14, 7, 0, 0), 1e-12);
    try {
        StrToDate("x", ru);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid date");
    }
    try {
        StrToTime("x", ru);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid time");
    }
    try {
        StrToDateTime("x", ru);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid date and time");
    }
}

TEST(DateTime, TwoDigitYearsAndMissingYear) {
    auto ru = Russian();
    Word thisYear, m, d;
    DecodeDate(Date(), thisYear, m, d);
    // With a window of 50 the year lands in the 100 years that end 49 years after this one.
    for (int yy : {0, 25, 49, 50, 75, 99}) {
        int want = (thisYear - 50) / 100 * 100 + yy;
        if (want < thisYear - 50) want += 100;
        Word y;
        DecodeDate(StrToDate("01.01." + std::to_string(yy), ru), y, m, d);
        EXPECT_EQ(y, want) << yy;
    }
    TFormatSettings noWindow = ru;
    noWindow.TwoDigitYearCenturyWindow = 0;
    Word y;
    DecodeDate(StrToDate("01.01.99", noWindow), y, m, d);
    EXPECT_EQ(y, thisYear / 100 * 100 + 99);
    // Three digits are a real year.
    DecodeDate(StrToDate("01.01.099", ru), y, m, d);
    EXPECT_EQ(y, 99);
    // Day and month only: this year.
    DecodeDate(StrToDate("15.06", ru), y, m, d);
    EXPECT_EQ(y, thisYear);
    EXPECT_EQ(m, 6);
    EXPECT_EQ(d, 15);
}

TEST(DateTime, NowIsLocalTime) {
    time_t t = time(nullptr);
    tm local{};
    localtime_r(&t, &local);
    TDateTime now = Now();
    Word y, m, d, h, n, s, ms;
    DecodeDateTime(now, y, m, d, h, n, s, ms);
    TDateTime expected = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                        local.tm_min, std::min(local.tm_sec, 59), 0);
    EXPECT_LT(std::fabs(now - expected), 5.0 / SecsPerDay);
    EXPECT_EQ(Date(), std::trunc(Date()));
    EXPECT_GE(Time(), 0);
    EXPECT_LT(Time(), 1);
}

TEST(DateTime, ComparisonsWithinAMillisecond) {
    const TDateTime t = EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);
    const double halfMs = 0.5 / MSecsPerDay;
    struct Case {
        TDateTime a, b;
        int dateTime, date, time;
    };
    const Case cases[] = {
        {t, t + halfMs, 0, 0, 0},
        {t, t + 2 * halfMs * 1.01, -1, 0, -1},
        {t + 1, t, 1, 1, 0},
        {EncodeDate(2024, 3, 5), t, -1, 0, -1},
        // Before the epoch the time of day still counts forward.
        {-1.25, -1.75, 1, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareDateTime(c.a, c.b), c.dateTime) << c.a << " " << c.b;
        EXPECT_EQ(CompareDateTime(c.b, c.a), -c.dateTime);
        EXPECT_EQ(CompareDate(c.a, c.b), c.date);
        EXPECT_EQ(CompareTime(c.a, c.b), c.time);
        EXPECT_EQ(SameDateTime(c.a, c.b), c.dateTime == 0);
        EXPECT_EQ(SameDate(c.a, c.b), c.date == 0);
        EXPECT_EQ(SameTime(c.a, c.b), c.time == 0);
    }
    EXPECT_EQ(MilliSecondsBetween(t, EncodeDateTime(2024, 3, 5, 14, 7, 10, 0)), 955);
    EXPECT_EQ(MilliSecondsBetween(EncodeDateTime(2024, 3, 6, 0, 0, 0, 1), EncodeDate(2024, 3, 5)), 86400001);
    EXPECT_EQ(MilliSecondsBetween(-1.25, -1.75), 12 * 3600000);
    EXPECT_EQ(SecondsBetween(t, EncodeDateTime(2024, 3, 5, 14, 8, 9, 44)), 59);
}

TEST(DateTime, UnixSeconds) {
    EXPECT_EQ(DateTimeToUnix(EncodeDate(1970, 1, 1)), 0);
    EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2000, 1, 1, 0, 0, 1, 0)), 946684801);
    EXPECT_NEAR(UnixToDateTime(946684801), EncodeDateTime(2000, 1, 1, 0, 0, 1, 0), 1e-9);
}

TEST(DateTime, SqlTimeStamps) {
    TDateTime dt = EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);
    TSQLTimeStamp ts = DateTimeToSQLTimeStamp(dt);
    EXPECT_EQ(ts, (TSQLTimeStamp{2024, 3, 5, 14, 7, 9, 45}));
    EXPECT_NEAR(SQLTimeStampToDateTime(ts), dt, 1e-9);
    EXPECT_EQ(SQLTimeStampToDateTime(NullSQLTimeStamp), 0);
    TDateTime v;
    EXPECT_FALSE(TryDateTimeOfSQLTimeStamp(TSQLTimeStamp{2024, 2, 30, 0, 0, 0, 0}, v));
    EXPECT_FALSE(TryDateTimeOfSQLTimeStamp(TSQLTimeStamp{2024, 2, 1, 0, 0, 0, 1000}, v));
    try {
        SQLTimeStampToDateTime(TSQLTimeStamp{2024, 13, 1, 0, 0, 0, 0});
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Invalid SQL date/time values");
    }
    // Before the epoch the time still reads forward.
    TSQLTimeStamp old{1899, 12, 29, 6, 0, 0, 0};
    EXPECT_EQ(SQLTimeStampToDateTime(old), -1.25);
    EXPECT_EQ(DateTimeToSQLTimeStamp(-1.25), old);
    auto ru = Russian();
    EXPECT_EQ(SQLTimeStampToStr("dd.mm.yyyy hh:nn:ss.zzz", ts, ru), "05.03.2024 14:07:09.045");
    EXPECT_EQ(StrToSQLTimeStamp("05.03.2024 14:07:09", ru), (TSQLTimeStamp{2024, 3, 5, 14, 7, 9, 0}));
    EXPECT_LT(CompareSQLTimeStamp(old, ts), 0);
    EXPECT_GT(CompareSQLTimeStamp(ts, old), 0);
    EXPECT_EQ(CompareSQLTimeStamp(ts, ts), 0);
}

// Random texts: an accepted date and time prints and reads back to the same moment.
TEST(DateTime, AcceptedTextsRoundTrip) {
    auto ru = Russian();
    std::mt19937 rng(1899);
    std::uniform_int_distribution<int> len(0, 24);
    const std::string alphabet = " .:,0123456789012345678901234APM";
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    int accepted = 0;
    for (int i = 0; i < 30000; ++i) {
        std::string s;
        for (int n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
        TDateTime v;
        if (!TryStrToDateTime(s, v, ru)) continue;
        ++accepted;
        std::string text = FormatDateTime("dd/mm/yyyy hh:nn:ss,zzz", v, ru);
        TDateTime back;
        ASSERT_TRUE(TryStrToDateTime(text, back, ru)) << s << " -> " << text;
        EXPECT_EQ(DateTimeToTimeStamp(back).Date, DateTimeToTimeStamp(v).Date) << s;
        EXPECT_EQ(DateTimeToTimeStamp(back).Time, DateTimeToTimeStamp(v).Time) << s;
    }
    EXPECT_GT(accepted, 100);
}

}  // namespace
}  // namespace rtl
