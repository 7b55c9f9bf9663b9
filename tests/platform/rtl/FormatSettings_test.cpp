#include "platform/rtl/FormatSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace rtl {
namespace {

TFormatSettings::LangInfo RuRuUtf8() {
    // What glibc reports for ru_RU.UTF-8.
    TFormatSettings::LangInfo li;
    li.DecimalPoint = ",";
    li.ThousandsSep = "\xE2\x80\xAF";  // narrow no-break space
    li.DateFormat = "%d.%m.%Y";
    li.TimeFormat = "%H:%M:%S";
    li.CurrencySymbol = "+\xE2\x82\xBD";
    li.Month[0] = "\xD1\x8F\xD0\xBD\xD0\xB2\xD0\xB0\xD1\x80\xD1\x8F";  // "января"
    li.MonthAbbr[0] = "\xD1\x8F\xD0\xBD\xD0\xB2";                      // "янв"
    li.Day[0] = "\xD0\x92\xD0\xBE\xD1\x81\xD0\xBA\xD1\x80\xD0\xB5\xD1\x81\xD0\xB5\xD0\xBD\xD1\x8C\xD0\xB5";
    return li;
}

TEST(FormatSettings, TranslatesLocaleDataToFormatLetters) {
    TFormatSettings fs = TFormatSettings::FromLangInfo(RuRuUtf8());
    EXPECT_EQ(fs.DecimalSeparator, ',');
    EXPECT_EQ(fs.ThousandSeparator, '\xA0');
    EXPECT_EQ(fs.DateSeparator, '.');
    EXPECT_EQ(fs.ShortDateFormat, "dd/mm/yyyy");
    EXPECT_EQ(fs.TimeSeparator, ':');
    EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(fs.ShortTimeFormat, "hh:nn");
    EXPECT_EQ(fs.LongMonthNames[0], "\xFF\xED\xE2\xE0\xF0\xFF");  // cp1251
    EXPECT_EQ(fs.ShortMonthNames[0], "\xFF\xED\xE2");
    EXPECT_EQ(fs.LongDayNames[0], "\xC2\xEE\xF1\xEA\xF0\xE5\xF1\xE5\xED\xFC\xE5");
    EXPECT_EQ(fs.LongMonthNames[1], "February");  // not reported: kept
    EXPECT_EQ(fs.CurrencyFormat, 3);
}

TEST(FormatSettings, TranslatesStrftimePatterns) {
    struct Case {
        const char* pattern;
        bool isTime;
        const char* want;
        char separator;
    };
    const Case cases[] = {
        {"%d.%m.%Y", false, "dd/mm/yyyy", '.'},
        {"%m/%d/%y", false, "mm/dd/yy", '/'},
        {"%Y-%m-%d", false, "yyyy/mm/dd", '-'},
        {"%e %b %Y", false, "d mmm yyyy", '\0'},
        {"%A, %B %e, %Y", false, "dddd, mmmm d, yyyy", '\0'},
        {"%H:%M:%S", true, "hh:nn:ss", ':'},
        {"%I:%M:%S %p", true, "hh:nn:ss AMPM", ':'},
        {"%l.%M", true, "h:nn AMPM", '.'},
        {"%T", true, "hh:nn:ss", ':'},
        {"%Hh%M", true, "hh\"h\"nn", '\0'},
    };
    for (const auto& c : cases) {
        char sep = 0;
        EXPECT_EQ(TranslateStrftimeFormat(c.pattern, c.isTime, &sep), c.want) << c.pattern;
        EXPECT_EQ(sep, c.separator) << c.pattern;
    }
}

TEST(FormatSettings, OverrideIsScopedAndNests) {
    const char before = FormatSettings().DecimalSeparator;
    TFormatSettings a = TFormatSettings::Invariant();
    a.DecimalSeparator = ';';
    {
        TFormatSettingsOverride outer(a);
        EXPECT_EQ(FormatSettings().DecimalSeparator, ';');
        TFormatSettings b = a;
        b.DecimalSeparator = '!';
        {
            TFormatSettingsOverride inner(b);
            EXPECT_EQ(FormatSettings().DecimalSeparator, '!');
        }
        EXPECT_EQ(FormatSettings().DecimalSeparator, ';');
    }
    EXPECT_EQ(FormatSettings().DecimalSeparator, before);
}

TEST(FormatSettings, PosixLocaleGivesInvariantSettings) {
    const char* saved = std::getenv("LC_ALL");
    std::string keep = saved ? saved : "";
    setenv("LC_ALL", "C", 1);
    TFormatSettings fs = TFormatSettings::FromProcessLocale();
    if (saved)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
    TFormatSettings inv = TFormatSettings::Invariant();
    EXPECT_EQ(fs.DecimalSeparator, '.');
    EXPECT_EQ(fs.ShortDateFormat, inv.ShortDateFormat);
    EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
}

}  // namespace
}  // namespace rtl
