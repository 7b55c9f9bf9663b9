// Regional settings used by number, currency and date formatting and parsing.
// Filled once from the process locale (LC_NUMERIC, LC_TIME) and read-only afterwards;
// tests run under a chosen setting with TFormatSettingsOverride.
#pragma once

#include <array>
#include <string>

namespace rtl {

struct TFormatSettings {
    // Numbers and money. Texts are 8-bit (code page 1251).
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    std::string CurrencyString = "\xA4";
    // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $".
    int CurrencyFormat = 0;
    // The sixteen negative money patterns, 0 "($1)" ... 15 "(1 $)".
    int NegCurrFormat = 0;
    int CurrencyDecimals = 2;

    // Dates and times in the platform's format letters; "/" and ":" inside a format
    // stand for DateSeparator and TimeSeparator.
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char ListSeparator = ',';
    std::string ShortDateFormat = "MM/dd/yyyy";
    std::string LongDateFormat = "dddd, dd MMMM yyyy";
    std::string ShortTimeFormat = "hh:nn";
    std::string LongTimeFormat = "hh:nn:ss";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    // Index 0 is Sunday.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    // Two-digit years are placed within this many years before the current year (0: current century).
    int TwoDigitYearCenturyWindow = 50;

    // The settings the program had without any locale ("C"/POSIX), in the platform's letters.
    static TFormatSettings Invariant();

    // The values the C library reports for a locale, as nl_langinfo gives them (UTF-8).
    struct LangInfo {
        std::string DecimalPoint;  // RADIXCHAR
        std::string ThousandsSep;  // THOUSEP
        std::string DateFormat;    // D_FMT, e.g. "%d.%m.%Y"
        std::string TimeFormat;    // T_FMT, e.g. "%H:%M:%S"
        std::string AmString, PmString;
        std::string CurrencySymbol;  // CRNCYSTR: leading "-", "+" or "." tells the position
        std::array<std::string, 12> MonthAbbr, Month;
        std::array<std::string, 7> DayAbbr, Day;  // Sunday first
    };
    // Translates C-library locale data to settings in the platform's format letters.
    static TFormatSettings FromLangInfo(const LangInfo& info);

    // Reads LC_NUMERIC and LC_TIME of the environment (LC_ALL, LC_*, LANG); the invariant
    // settings when the locale is not available.
    static TFormatSettings FromProcessLocale();
};

// The process-wide settings: filled from the process locale on first use.
const TFormatSettings& FormatSettings();

// Replaces the process-wide settings for its lifetime (tests); not for use while other
// threads format.
class TFormatSettingsOverride {
public:
    explicit TFormatSettingsOverride(const TFormatSettings& settings);
    ~TFormatSettingsOverride();
    TFormatSettingsOverride(const TFormatSettingsOverride&) = delete;
    TFormatSettingsOverride& operator=(const TFormatSettingsOverride&) = delete;

private:
    TFormatSettings settings_;
    const TFormatSettings* previous_;
};

// Converts a strftime-style pattern (D_FMT/T_FMT) to the platform's format letters; the first
// separator met is stored in *separator (when given) and written as "/" (dates) or ":" (times).
std::string TranslateStrftimeFormat(const std::string& pattern, bool isTime, char* separator);

}  // namespace rtl
