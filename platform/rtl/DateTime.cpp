#include "platform/rtl/DateTime.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "platform/rtl/Exceptions.h"

namespace rtl {

namespace {

constexpr int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// TTimeStamp.Date of 1 January 1970.
constexpr int64_t kUnixTimeStampDate = DateDelta + UnixDateDelta;

// Day number with 1 January 0001 as day 1 (proleptic Gregorian).
int32_t DaysOf(int year, int month, int day) {
    return static_cast<int32_t>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixTimeStampDate);
}

void CivilOf(int32_t days, Word& year, Word& month, Word& day) {
    if (days <= 0) {
        year = month = day = 0;
        return;
    }
    int y;
    unsigned m, d;
    CivilFromDays(days - kUnixTimeStampDate, y, m, d);
    year = static_cast<Word>(y);
    month = static_cast<Word>(m);
    day = static_cast<Word>(d);
}

int CurrentYear() {
    Word y, m, d;
    DecodeDate(Date(), y, m, d);
    return y;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    // Years counted from March, so that the leap day ends the year; 400-year eras of 146097 days.
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInAMonth(int year, int month) {
    if (month < 1 || month > 12) return 0;
    return kMonthDays[IsLeapYear(year)][month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInAMonth(year, month))
        return false;
    value = static_cast<TDateTime>(DaysOf(year, month, day) - DateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& value) {
    if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
        return false;
    value = (((hour * 60 + min) * 60 + sec) * 1000 + msec) / static_cast<double>(MSecsPerDay);
    return true;
}

TDateTime CombineDateTime(TDateTime date, TDateTime time) {
    return date >= 0 ? date + time : date - time;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec, TDateTime& value) {
    TDateTime d, t;
    if (!TryEncodeDate(year, month, day, d) || !TryEncodeTime(hour, min, sec, msec, t)) return false;
    value = CombineDateTime(d, t);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime v;
    if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
    return v;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime v;
    if (!TryEncodeTime(hour, min, sec, msec, v)) throw EConvertError("Invalid argument to time encode");
    return v;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
    return CombineDateTime(EncodeDate(year, month, day), EncodeTime(hour, min, sec, msec));
}

void DecodeDate(TDateTime value, Word& year, Word& month, Word& day) {
    CivilOf(DateTimeToTimeStamp(value).Date, year, month, day);
}

void DecodeTime(TDateTime value, Word& hour, Word& min, Word& sec, Word& msec) {
    int32_t t = DateTimeToTimeStamp(value).Time;
    msec = static_cast<Word>(t % 1000);
    t /= 1000;
    sec = static_cast<Word>(t % 60);
    t /= 60;
    min = static_cast<Word>(t % 60);
    hour = static_cast<Word>(t / 60);
}

void DecodeDateTime(TDateTime value, Word& year, Word& month, Word& day, Word& hour, Word& min, Word& sec,
                    Word& msec) {
    DecodeDate(value, year, month, day);
    DecodeTime(value, hour, min, sec, msec);
}

int DayOfWeek(TDateTime value) {
    // Day 1 of the time stamp count (1 January 0001) was a Monday.
    return (DateTimeToTimeStamp(value).Date % 7 + 7) % 7 + 1;
}

TDateTime DateOf(TDateTime value) {
    return std::trunc(value);
}

TDateTime TimeOf(TDateTime value) {
    return std::fabs(value - std::trunc(value));
}

namespace {
constexpr double kOneMillisecond = 1.0 / MSecsPerDay;
int Order(double a, double b) {
    return std::fabs(a - b) < kOneMillisecond ? 0 : a < b ? -1 : 1;
}
}  // namespace

int CompareDateTime(TDateTime a, TDateTime b) {
    return Order(a, b);
}
int CompareDate(TDateTime a, TDateTime b) {
    double x = DateOf(a), y = DateOf(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
int CompareTime(TDateTime a, TDateTime b) {
    return Order(TimeOf(a), TimeOf(b));
}
bool SameDateTime(TDateTime a, TDateTime b) {
    return CompareDateTime(a, b) == 0;
}
bool SameDate(TDateTime a, TDateTime b) {
    return CompareDate(a, b) == 0;
}
bool SameTime(TDateTime a, TDateTime b) {
    return CompareTime(a, b) == 0;
}

int64_t MilliSecondsBetween(TDateTime a, TDateTime b) {
    // Through the time stamps, so the sign rule before 1899 is respected.
    double x = TimeStampToMSecs(DateTimeToTimeStamp(a)), y = TimeStampToMSecs(DateTimeToTimeStamp(b));
    return static_cast<int64_t>(std::fabs(x - y));
}

int64_t SecondsBetween(TDateTime a, TDateTime b) {
    return MilliSecondsBetween(a, b) / 1000;
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          std::min(local.tm_sec, 59), static_cast<int>(ts.tv_nsec / 1000000));
}

TDateTime Date() {
    return DateOf(Now());
}

TDateTime Time() {
    return TimeOf(Now());
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
    const double ms = std::nearbyint(value * MSecsPerDay);
    const double mag = std::fabs(ms);
    const double days = std::floor(mag / MSecsPerDay);
    TTimeStamp ts;
    ts.Time = static_cast<int32_t>(mag - days * MSecsPerDay);
    const double d = (ms < 0 ? -days : days) + DateDelta;
    ts.Date = d > std::numeric_limits<int32_t>::max()   ? std::numeric_limits<int32_t>::max()
              : d < std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::min()
                                                        : static_cast<int32_t>(d);
    return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& ts) {
    if (ts.Time < 0 || ts.Time >= MSecsPerDay || ts.Date <= 0)
        throw EConvertError("'" + std::to_string(ts.Date) + "." + std::to_string(ts.Time) +
                            "' is not a valid timestamp");
    return CombineDateTime(ts.Date - DateDelta, ts.Time / static_cast<double>(MSecsPerDay));
}

double TimeStampToMSecs(const TTimeStamp& ts) {
    return static_cast<double>(ts.Date) * MSecsPerDay + static_cast<double>(ts.Time);
}

TTimeStamp MSecsToTimeStamp(double msecs) {
    TTimeStamp ts;
    const double days = std::trunc(msecs / MSecsPerDay);
    ts.Date = static_cast<int32_t>(days);
    ts.Time = static_cast<int32_t>(std::nearbyint(msecs - days * MSecsPerDay));
    return ts;
}

int64_t DateTimeToUnix(TDateTime value) {
    return static_cast<int64_t>(std::nearbyint((value - UnixDateDelta) * SecsPerDay));
}

TDateTime UnixToDateTime(int64_t seconds) {
    return UnixDateDelta + static_cast<double>(seconds) / SecsPerDay;
}

// ---- formatting ----

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* what) {
    for (size_t k = 0; what[k] != 0; ++k)
        if (pos + k >= s.size() || Upper(s[pos + k]) != Upper(what[k])) return false;
    return true;
}

std::string Pad(int v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    return s;
}

struct DateParts {
    Word year, month, day, hour, minute, second, msec;
    int dayOfWeek;
    bool hasTime;
};

void AppendFormat(std::string& out, const std::string& fmt, const DateParts& v, const TFormatSettings& fs,
                  int depth) {
    if (depth > 2) return;
    bool lastWasHour = false;
    size_t i = 0;
    const size_t n = fmt.size();
    while (i < n) {
        char c = fmt[i];
        char u = Upper(c);
        size_t start = i;
        auto count = [&](char what) {
            size_t k = i;
            while (k < n && Upper(fmt[k]) == what) ++k;
            return static_cast<int>(k - start);
        };
        switch (u) {
            case '"':
            case '\'': {
                ++i;
                while (i < n && fmt[i] != c) out += fmt[i++];
                if (i < n) ++i;
                break;
            }
            case '/':
                out += fs.DateSeparator;
                ++i;
                break;
            case ':':
                out += fs.TimeSeparator;
                ++i;
                break;
            case 'C':
                ++i;
                AppendFormat(out, fs.ShortDateFormat, v, fs, depth + 1);
                if (v.hasTime) {
                    out += ' ';
                    AppendFormat(out, fs.LongTimeFormat, v, fs, depth + 1);
                }
                lastWasHour = false;
                break;
            case 'Y': {
                int k = count('Y');
                i += k;
                out += k <= 2 ? Pad(v.year % 100, 2) : Pad(v.year, 4);
                lastWasHour = false;
                break;
            }
            case 'M': {
                int k = count('M');
                i += k;
                if (lastWasHour && k <= 2) {
                    out += Pad(v.minute, k == 1 ? 1 : 2);
                } else if (k == 1) {
                    out += std::to_string(v.month);
                } else if (k == 2) {
                    out += Pad(v.month, 2);
                } else if (v.month >= 1 && v.month <= 12) {
                    out += k == 3 ? fs.ShortMonthNames[v.month - 1] : fs.LongMonthNames[v.month - 1];
                }
                lastWasHour = false;
                break;
            }
            case 'D': {
                int k = count('D');
                i += k;
                switch (k) {
                    case 1:
                        out += std::to_string(v.day);
                        break;
                    case 2:
                        out += Pad(v.day, 2);
                        break;
                    case 3:
                        out += fs.ShortDayNames[v.dayOfWeek - 1];
                        break;
                    case 4:
                        out += fs.LongDayNames[v.dayOfWeek - 1];
                        break;
                    case 5:
                        AppendFormat(out, fs.ShortDateFormat, v, fs, depth + 1);
                        break;
                    default:
                        AppendFormat(out, fs.LongDateFormat, v, fs, depth + 1);
                        break;
                }
                lastWasHour = false;
                break;
            }
            case 'H': {
                int k = count('H');
                i += k;
                // A 12-hour marker further on switches the clock.
                bool twelve = false;
                char quote = 0;
                for (size_t p = i; p < n; ++p) {
                    if (quote != 0) {
                        if (fmt[p] == quote) quote = 0;
                    } else if (fmt[p] == '"' || fmt[p] == '\'') {
                        quote = fmt[p];
                    } else if (StartsWithNoCase(fmt, p, "AM/PM") || StartsWithNoCase(fmt, p, "A/P") ||
                               StartsWithNoCase(fmt, p, "AMPM")) {
                        twelve = true;
                        break;
                    }
                }
                int h = v.hour;
                if (twelve) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                out += Pad(h, k == 1 ? 1 : 2);
                lastWasHour = true;
                break;
            }
            case 'N': {
                int k = count('N');
                i += k;
                out += Pad(v.minute, k == 1 ? 1 : 2);
                lastWasHour = false;
                break;
            }
            case 'S': {
                int k = count('S');
                i += k;
                out += Pad(v.second, k == 1 ? 1 : 2);
                lastWasHour = false;
                break;
            }
            case 'Z': {
                int k = count('Z');
                i += k;
                out += Pad(v.msec, k < 3 ? 1 : 3);
                lastWasHour = false;
                break;
            }
            case 'T': {
                int k = count('T');
                i += k;
                AppendFormat(out, k == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, v, fs, depth + 1);
                lastWasHour = false;
                break;
            }
            case 'A': {
                const bool pm = v.hour >= 12;
                if (StartsWithNoCase(fmt, i, "AM/PM")) {
                    // The case of the marker's letters is kept.
                    std::string m = pm ? fmt.substr(i + 3, 2) : fmt.substr(i, 2);
                    out += m;
                    i += 5;
                } else if (StartsWithNoCase(fmt, i, "A/P")) {
                    out += pm ? fmt[i + 2] : fmt[i];
                    i += 3;
                } else if (StartsWithNoCase(fmt, i, "AMPM")) {
                    out += pm ? fs.TimePMString : fs.TimeAMString;
                    i += 4;
                } else {
                    out += c;
                    ++i;
                }
                lastWasHour = false;
                break;
            }
            default:
                out += c;
                ++i;
                break;
        }
    }
}

DateParts PartsOf(TDateTime value) {
    DateParts p{};
    DecodeDateTime(value, p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec);
    p.dayOfWeek = DayOfWeek(value);
    // Milliseconds alone do not make "c" show the time.
    p.hasTime = p.hour != 0 || p.minute != 0 || p.second != 0;
    return p;
}

}  // namespace

void DateTimeToString(std::string& result, const std::string& format, TDateTime value,
                      const TFormatSettings& fs) {
    result.clear();
    AppendFormat(result, format.empty() ? "C" : format, PartsOf(value), fs, 0);
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
    return FormatDateTime(format, value, FormatSettings());
}

std::string FormatDateTime(const std::string& format, TDateTime value, const TFormatSettings& fs) {
    std::string s;
    DateTimeToString(s, format, value, fs);
    return s;
}

std::string DateTimeToStr(TDateTime value) {
    return DateTimeToStr(value, FormatSettings());
}
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) {
    return FormatDateTime("", value, fs);
}
std::string DateToStr(TDateTime value) {
    return DateToStr(value, FormatSettings());
}
std::string DateToStr(TDateTime value, const TFormatSettings& fs) {
    return FormatDateTime("ddddd", value, fs);
}
std::string TimeToStr(TDateTime value) {
    return TimeToStr(value, FormatSettings());
}
std::string TimeToStr(TDateTime value, const TFormatSettings& fs) {
    return FormatDateTime("tt", value, fs);
}

// ---- parsing ----

namespace {

enum class DateOrder { MDY, DMY, YMD };

DateOrder DateOrderOf(const std::string& format) {
    char quote = 0;
    for (char c : format) {
        if (quote != 0) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        switch (Upper(c)) {
            case 'D':
                return DateOrder::DMY;
            case 'Y':
                return DateOrder::YMD;
            case 'M':
                return DateOrder::MDY;
            default:
                break;
        }
    }
    return DateOrder::MDY;
}

struct Scanner {
    const std::string& s;
    size_t pos = 0;

    void Blanks() {
        while (pos < s.size() && s[pos] == ' ') ++pos;
    }
    bool AtEnd() const { return pos >= s.size(); }
    bool Number(int& value, int& length) {
        Blanks();
        size_t start = pos;
        value = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < 9)
            value = value * 10 + (s[pos++] - '0');
        length = static_cast<int>(pos - start);
        return length > 0;
    }
    bool Char(char c) {
        Blanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool Text(const std::string& what) {
        Blanks();
        if (what.empty() || !StartsWithNoCase(s, pos, what.c_str())) return false;
        pos += what.size();
        return true;
    }
};

bool ScanDate(Scanner& sc, TDateTime& value, const TFormatSettings& fs) {
    const DateOrder order = DateOrderOf(fs.ShortDateFormat);
    int n1, n2, n3, l1, l2, l3;
    if (!(sc.Number(n1, l1) && sc.Char(fs.DateSeparator) && sc.Number(n2, l2))) return false;
    int y, m, d;
    if (sc.Char(fs.DateSeparator)) {
        if (!sc.Number(n3, l3)) return false;
        int yearLen;
        switch (order) {
            case DateOrder::MDY:
                y = n3;
                yearLen = l3;
                m = n1;
                d = n2;
                break;
            case DateOrder::DMY:
                y = n3;
                yearLen = l3;
                m = n2;
                d = n1;
                break;
            default:
                y = n1;
                yearLen = l1;
                m = n2;
                d = n3;
                break;
        }
        if (yearLen <= 2) {
            const int base = CurrentYear() - fs.TwoDigitYearCenturyWindow;
            y += base / 100 * 100;
            if (fs.TwoDigitYearCenturyWindow > 0 && y < base) y += 100;
        }
    } else {
        y = CurrentYear();
        if (order == DateOrder::DMY) {
            d = n1;
            m = n2;
        } else {
            m = n1;
            d = n2;
        }
    }
    sc.Char(fs.DateSeparator);
    sc.Blanks();
    return TryEncodeDate(y, m, d, value);
}

bool ScanTime(Scanner& sc, TDateTime& value, const TFormatSettings& fs) {
    auto scanMarker = [&]() {
        if (sc.Text(fs.TimeAMString) || sc.Text("AM")) return 0;
        if (sc.Text(fs.TimePMString) || sc.Text("PM")) return 12;
        return -1;
    };
    int baseHour = scanMarker();
    int hour, min = 0, sec = 0, msec = 0, len;
    if (!sc.Number(hour, len)) return false;
    if (sc.Char(fs.TimeSeparator)) {
        if (!sc.Number(min, len)) return false;
        if (sc.Char(fs.TimeSeparator)) {
            if (!sc.Number(sec, len)) return false;
            if (sc.pos < sc.s.size() && sc.s[sc.pos] == fs.DecimalSeparator) {
                ++sc.pos;
                // Digits after the point are a fraction of the second.
                size_t start = sc.pos;
                msec = 0;
                int scale = 100;
                while (sc.pos < sc.s.size() && sc.s[sc.pos] >= '0' && sc.s[sc.pos] <= '9') {
                    msec += (sc.s[sc.pos] - '0') * scale;
                    scale /= 10;
                    ++sc.pos;
                }
                if (sc.pos == start) return false;
            }
        }
    }
    if (baseHour < 0) baseHour = scanMarker();
    if (baseHour >= 0) {
        if (hour == 0 || hour > 12) return false;
        if (hour == 12) hour = 0;
        hour += baseHour;
    }
    sc.Blanks();
    return TryEncodeTime(hour, min, sec, msec, value);
}

}  // namespace

bool TryStrToDate(const std::string& s, TDateTime& value) {
    return TryStrToDate(s, value, FormatSettings());
}

bool TryStrToDate(const std::string& s, TDateTime& value, const TFormatSettings& fs) {
    Scanner sc{s};
    TDateTime v;
    if (!ScanDate(sc, v, fs) || !sc.AtEnd()) return false;
    value = v;
    return true;
}

bool TryStrToTime(const std::string& s, TDateTime& value) {
    return TryStrToTime(s, value, FormatSettings());
}

bool TryStrToTime(const std::string& s, TDateTime& value, const TFormatSettings& fs) {
    Scanner sc{s};
    TDateTime v;
    if (!ScanTime(sc, v, fs) || !sc.AtEnd()) return false;
    value = v;
    return true;
}

bool TryStrToDateTime(const std::string& s, TDateTime& value) {
    return TryStrToDateTime(s, value, FormatSettings());
}

bool TryStrToDateTime(const std::string& s, TDateTime& value, const TFormatSettings& fs) {
    Scanner sc{s};
    TDateTime d, t = 0;
    if (ScanDate(sc, d, fs) && (sc.AtEnd() || (ScanTime(sc, t, fs) && sc.AtEnd()))) {
        value = CombineDateTime(d, t);
        return true;
    }
    return TryStrToTime(s, value, fs);
}

TDateTime StrToDate(const std::string& s) {
    return StrToDate(s, FormatSettings());
}

TDateTime StrToDate(const std::string& s, const TFormatSettings& fs) {
    TDateTime v;
    if (!TryStrToDate(s, v, fs)) throw EConvertError("'" + s + "' is not a valid date");
    return v;
}

TDateTime StrToTime(const std::string& s) {
    return StrToTime(s, FormatSettings());
}

TDateTime StrToTime(const std::string& s, const TFormatSettings& fs) {
    TDateTime v;
    if (!TryStrToTime(s, v, fs)) throw EConvertError("'" + s + "' is not a valid time");
    return v;
}

TDateTime StrToDateTime(const std::string& s) {
    return StrToDateTime(s, FormatSettings());
}

TDateTime StrToDateTime(const std::string& s, const TFormatSettings& fs) {
    TDateTime v;
    if (!TryStrToDateTime(s, v, fs)) throw EConvertError("'" + s + "' is not a valid date and time");
    return v;
}

// ---- SQL time stamps ----

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value) {
    TSQLTimeStamp ts;
    Word msec;
    DecodeDateTime(value, ts.Year, ts.Month, ts.Day, ts.Hour, ts.Minute, ts.Second, msec);
    ts.Fractions = msec;
    return ts;
}

bool TryDateTimeOfSQLTimeStamp(const TSQLTimeStamp& ts, TDateTime& value) {
    if (ts == NullSQLTimeStamp) {
        value = 0;
        return true;
    }
    return TryEncodeDateTime(ts.Year, ts.Month, ts.Day, ts.Hour, ts.Minute, ts.Second,
                             static_cast<int>(std::min<uint32_t>(ts.Fractions, 1000)), value);
}

TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& ts) {
    TDateTime v;
    if (!TryDateTimeOfSQLTimeStamp(ts, v)) throw EConvertError("Invalid SQL date/time values");
    return v;
}

std::string SQLTimeStampToStr(const std::string& format, const TSQLTimeStamp& ts) {
    return SQLTimeStampToStr(format, ts, FormatSettings());
}

std::string SQLTimeStampToStr(const std::string& format, const TSQLTimeStamp& ts, const TFormatSettings& fs) {
    return FormatDateTime(format, SQLTimeStampToDateTime(ts), fs);
}

TSQLTimeStamp StrToSQLTimeStamp(const std::string& s) {
    return StrToSQLTimeStamp(s, FormatSettings());
}

TSQLTimeStamp StrToSQLTimeStamp(const std::string& s, const TFormatSettings& fs) {
    return DateTimeToSQLTimeStamp(StrToDateTime(s, fs));
}

int CompareSQLTimeStamp(const TSQLTimeStamp& a, const TSQLTimeStamp& b) {
    auto key = [](const TSQLTimeStamp& t) {
        return std::tuple(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Fractions);
    };
    return key(a) < key(b) ? -1 : key(b) < key(a) ? 1 : 0;
}

}  // namespace rtl
