#include "platform/rtl/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>

namespace rtl {

namespace {

// Locale texts come in UTF-8; settings hold code page 1251. Only the letters locales use
// for names and separators matter here: Latin, Cyrillic and the no-break spaces.
std::string Utf8ToCp1251(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else {
            cp = U'?';
            len = 1;
            while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80) ++len;
        }
        i += len;
        if (cp < 0x80)
            out += static_cast<char>(cp);
        else if (cp >= 0x410 && cp <= 0x44F)
            out += static_cast<char>(0xC0 + (cp - 0x410));
        else if (cp == 0x401)
            out += '\xA8';
        else if (cp == 0x451)
            out += '\xB8';
        else if (cp == 0xA0 || cp == 0x202F || cp == 0x2009)
            out += '\xA0';
        else if (cp == 0x20BD)  // rouble sign has no cp1251 form
            out += "\xF0\xF3\xE1.";
        else
            out += '?';
    }
    return out;
}

const TFormatSettings*& CurrentSettings() {
    static const TFormatSettings* current = nullptr;
    return current;
}

bool IsPosixLocaleName(const char* name) {
    if (name == nullptr || *name == 0) return false;
    std::string n = name;
    return n == "C" || n == "POSIX" || n.rfind("C.", 0) == 0;
}

// Which locale the environment asks for, for one category (the usual precedence).
const char* EnvLocaleName(const char* category) {
    for (const char* var : {"LC_ALL", category, "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && *v != 0) return v;
    }
    return "C";
}

}  // namespace

TFormatSettings TFormatSettings::Invariant() {
    return TFormatSettings();
}

std::string TranslateStrftimeFormat(const std::string& pattern, bool isTime, char* separator) {
    std::string out;
    bool haveSeparator = false;
    bool twelveHour = false;
    bool sawMarker = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%') {
            bool isSep = !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && c != ' ' && c != ',';
            if (isSep && !haveSeparator && !out.empty()) {
                haveSeparator = true;
                if (separator != nullptr) *separator = c;
            }
            if (isSep && separator != nullptr && c == *separator && haveSeparator)
                out += isTime ? ':' : '/';
            else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '"' || c == '/' || c == ':')
                out += std::string("\"") + c + "\"";
            else
                out += c;
            continue;
        }
        if (++i >= pattern.size()) break;
        char f = pattern[i];
        // Flags and widths of glibc's extensions do not change the field.
        while ((f == '-' || f == '_' || f == '0' || f == '^' || f == '#' || f == 'E' || f == 'O') &&
               i + 1 < pattern.size())
            f = pattern[++i];
        switch (f) {
            case 'd':
                out += "dd";
                break;
            case 'e':
                out += "d";
                break;
            case 'm':
                out += "mm";
                break;
            case 'b':
            case 'h':
                out += "mmm";
                break;
            case 'B':
                out += "mmmm";
                break;
            case 'a':
                out += "ddd";
                break;
            case 'A':
                out += "dddd";
                break;
            case 'Y':
            case 'G':
                out += "yyyy";
                break;
            case 'y':
            case 'g':
                out += "yy";
                break;
            case 'C':
                out += "yy";
                break;
            case 'H':
                out += "hh";
                break;
            case 'k':
                out += "h";
                break;
            case 'I':
                out += "hh";
                twelveHour = true;
                break;
            case 'l':
                out += "h";
                twelveHour = true;
                break;
            case 'M':
                out += "nn";
                break;
            case 'S':
                out += "ss";
                break;
            case 'p':
            case 'P':
                out += "AMPM";
                sawMarker = true;
                break;
            case 'T':
                out += "hh:nn:ss";
                if (separator && !haveSeparator) {
                    *separator = ':';
                    haveSeparator = true;
                }
                break;
            case 'R':
                out += "hh:nn";
                if (separator && !haveSeparator) {
                    *separator = ':';
                    haveSeparator = true;
                }
                break;
            case 'D':
                out += "mm/dd/yy";
                if (separator && !haveSeparator) {
                    *separator = '/';
                    haveSeparator = true;
                }
                break;
            case 'F':
                out += "yyyy/mm/dd";
                if (separator && !haveSeparator) {
                    *separator = '-';
                    haveSeparator = true;
                }
                break;
            case 'n':
                out += ' ';
                break;
            case 't':
                out += ' ';
                break;
            case '%':
                out += '%';
                break;
            default:
                break;
        }
    }
    // A 12-hour pattern without its marker still needs one for the platform's 12-hour clock.
    if (twelveHour && !sawMarker) out += " AMPM";
    return out;
}

TFormatSettings TFormatSettings::FromLangInfo(const LangInfo& info) {
    TFormatSettings fs;
    std::string dp = Utf8ToCp1251(info.DecimalPoint);
    if (dp.size() == 1) fs.DecimalSeparator = dp[0];
    std::string ts = Utf8ToCp1251(info.ThousandsSep);
    if (ts.size() == 1)
        fs.ThousandSeparator = ts[0];
    else if (ts.empty())
        fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '\xA0' : ',';
    if (fs.ThousandSeparator == fs.DecimalSeparator)
        fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '.' : ',';

    if (!info.DateFormat.empty()) {
        char sep = fs.DateSeparator;
        fs.ShortDateFormat = TranslateStrftimeFormat(info.DateFormat, false, &sep);
        fs.DateSeparator = sep;
        // The long form: day, month name and year in the short form's order.
        bool dayFirst = fs.ShortDateFormat.find('d') < fs.ShortDateFormat.find('m');
        bool yearFirst = fs.ShortDateFormat.find('y') < fs.ShortDateFormat.find('m');
        fs.LongDateFormat = yearFirst ? "yyyy mmmm d" : dayFirst ? "d mmmm yyyy" : "mmmm d, yyyy";
    }
    if (!info.TimeFormat.empty()) {
        char sep = fs.TimeSeparator;
        fs.LongTimeFormat = TranslateStrftimeFormat(info.TimeFormat, true, &sep);
        fs.TimeSeparator = sep;
        // The short form drops the seconds.
        std::string shortFmt = fs.LongTimeFormat;
        if (size_t p = shortFmt.find(":ss"); p != std::string::npos)
            shortFmt.erase(p, 3);
        else if (size_t q = shortFmt.find(":s"); q != std::string::npos)
            shortFmt.erase(q, 2);
        fs.ShortTimeFormat = shortFmt;
    }
    if (!info.AmString.empty()) fs.TimeAMString = Utf8ToCp1251(info.AmString);
    if (!info.PmString.empty()) fs.TimePMString = Utf8ToCp1251(info.PmString);
    if (!info.CurrencySymbol.empty()) {
        char pos = info.CurrencySymbol[0];
        std::string sym = Utf8ToCp1251(info.CurrencySymbol.substr(1));
        if (!sym.empty()) fs.CurrencyString = sym;
        if (pos == '+') {
            fs.CurrencyFormat = 3;
            fs.NegCurrFormat = 8;
        } else if (pos == '-') {
            fs.CurrencyFormat = 0;
            fs.NegCurrFormat = 1;
        }
    }
    for (int i = 0; i < 12; ++i) {
        if (!info.MonthAbbr[i].empty()) fs.ShortMonthNames[i] = Utf8ToCp1251(info.MonthAbbr[i]);
        if (!info.Month[i].empty()) fs.LongMonthNames[i] = Utf8ToCp1251(info.Month[i]);
    }
    for (int i = 0; i < 7; ++i) {
        if (!info.DayAbbr[i].empty()) fs.ShortDayNames[i] = Utf8ToCp1251(info.DayAbbr[i]);
        if (!info.Day[i].empty()) fs.LongDayNames[i] = Utf8ToCp1251(info.Day[i]);
    }
    return fs;
}

TFormatSettings TFormatSettings::FromProcessLocale() {
    if (IsPosixLocaleName(EnvLocaleName("LC_TIME")) && IsPosixLocaleName(EnvLocaleName("LC_NUMERIC")))
        return Invariant();
    locale_t loc = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK | LC_MONETARY_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return Invariant();
    auto get = [loc](nl_item item) {
        const char* v = nl_langinfo_l(item, loc);
        return std::string(v != nullptr ? v : "");
    };
    LangInfo info;
    info.DecimalPoint = get(RADIXCHAR);
    info.ThousandsSep = get(THOUSEP);
    info.DateFormat = get(D_FMT);
    info.TimeFormat = get(T_FMT);
    info.AmString = get(AM_STR);
    info.PmString = get(PM_STR);
    info.CurrencySymbol = get(CRNCYSTR);
    static const nl_item abmon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                      ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static const nl_item mon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                    MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    static const nl_item abday[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
    static const nl_item day[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
    for (int i = 0; i < 12; ++i) {
        info.MonthAbbr[i] = get(abmon[i]);
        info.Month[i] = get(mon[i]);
    }
    for (int i = 0; i < 7; ++i) {
        info.DayAbbr[i] = get(abday[i]);
        info.Day[i] = get(day[i]);
    }
    freelocale(loc);
    return FromLangInfo(info);
}

const TFormatSettings& FormatSettings() {
    static const TFormatSettings fromLocale = TFormatSettings::FromProcessLocale();
    const TFormatSettings* current = CurrentSettings();
    return current != nullptr ? *current : fromLocale;
}

TFormatSettingsOverride::TFormatSettingsOverride(const TFormatSettings& settings)
    : settings_(settings), previous_(CurrentSettings()) {
    CurrentSettings() = &settings_;
}

TFormatSettingsOverride::~TFormatSettingsOverride() {
    CurrentSettings() = previous_;
}

}  // namespace rtl
