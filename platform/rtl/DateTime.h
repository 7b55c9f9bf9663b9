// Dates and times. TDateTime counts days since 30 December 1899; the fraction is the time
// of day. Before that day the integer part is the (negative) day and the fraction's magnitude
// is the time: -1.25 is 29 December 1899, 06:00.
#pragma once

#include <cstdint>
#include <string>

#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Types.h"

namespace rtl {

inline constexpr int HoursPerDay = 24;
inline constexpr int MinsPerDay = 24 * 60;
inline constexpr int SecsPerDay = MinsPerDay * 60;
inline constexpr int MSecsPerDay = SecsPerDay * 1000;
// TTimeStamp.Date of 30 December 1899 (days since 1 January 0001, plus one).
inline constexpr int DateDelta = 693594;
// TDateTime of 1 January 1970.
inline constexpr int UnixDateDelta = 25569;

// Milliseconds since midnight, and the day counted from 1 January 0001 as day 1.
struct TTimeStamp {
    int32_t Time = 0;
    int32_t Date = 0;
};

// The SQL time stamp form; Fractions are milliseconds.
struct TSQLTimeStamp {
    uint16_t Year = 0;
    uint16_t Month = 0;
    uint16_t Day = 0;
    uint16_t Hour = 0;
    uint16_t Minute = 0;
    uint16_t Second = 0;
    uint32_t Fractions = 0;
    bool operator==(const TSQLTimeStamp&) const = default;
};
static_assert(sizeof(TSQLTimeStamp) == 16);

inline constexpr TSQLTimeStamp NullSQLTimeStamp{};

bool IsLeapYear(int year);
int DaysInAMonth(int year, int month);

// Proleptic Gregorian day numbers with 1 January 1970 as day 0, for any year (before 1 AD
// too). The date is not checked.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day);

// Raise EConvertError "Invalid argument to date encode" / "Invalid argument to time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& value);
bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec, TDateTime& value);
void DecodeDate(TDateTime value, Word& year, Word& month, Word& day);
void DecodeTime(TDateTime value, Word& hour, Word& min, Word& sec, Word& msec);
void DecodeDateTime(TDateTime value, Word& year, Word& month, Word& day, Word& hour, Word& min, Word& sec,
                    Word& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);
// The date part (time dropped) and the time part (always 0 <= t < 1).
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);
// Joins a date and a time of day following the sign rule.
TDateTime CombineDateTime(TDateTime date, TDateTime time);

// Comparisons that treat values less than a millisecond apart as equal: -1, 0 or 1.
int CompareDateTime(TDateTime a, TDateTime b);
int CompareDate(TDateTime a, TDateTime b);
int CompareTime(TDateTime a, TDateTime b);
bool SameDateTime(TDateTime a, TDateTime b);
bool SameDate(TDateTime a, TDateTime b);
bool SameTime(TDateTime a, TDateTime b);
// Whole milliseconds / seconds between two moments (never negative).
int64_t MilliSecondsBetween(TDateTime a, TDateTime b);
int64_t SecondsBetween(TDateTime a, TDateTime b);

// Local time of the machine.
TDateTime Now();
TDateTime Date();
TDateTime Time();

TTimeStamp DateTimeToTimeStamp(TDateTime value);
// Raises EConvertError "'<date>.<time>' is not a valid timestamp" for a time stamp out of range.
TDateTime TimeStampToDateTime(const TTimeStamp& ts);
double TimeStampToMSecs(const TTimeStamp& ts);
TTimeStamp MSecsToTimeStamp(double msecs);

int64_t DateTimeToUnix(TDateTime value);
TDateTime UnixToDateTime(int64_t seconds);

// Format letters (case-insensitive): d dd ddd dddd ddddd dddddd, m mm mmm mmmm (minutes right
// after an hour), yy yyyy, h hh, n nn, s ss, z zzz, t tt, am/pm a/p ampm, c; "/" and ":" are the
// locale separators; '...' and "..." are literal. An empty format means "c".
std::string FormatDateTime(const std::string& format, TDateTime value);
std::string FormatDateTime(const std::string& format, TDateTime value, const TFormatSettings& fs);
void DateTimeToString(std::string& result, const std::string& format, TDateTime value,
                      const TFormatSettings& fs);
std::string DateTimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs);
std::string DateToStr(TDateTime value);
std::string DateToStr(TDateTime value, const TFormatSettings& fs);
std::string TimeToStr(TDateTime value);
std::string TimeToStr(TDateTime value, const TFormatSettings& fs);

// Parsing in the order of ShortDateFormat with DateSeparator/TimeSeparator; failures raise
// EConvertError "'<s>' is not a valid date" / "... time" / "... date and time".
TDateTime StrToDate(const std::string& s);
TDateTime StrToDate(const std::string& s, const TFormatSettings& fs);
TDateTime StrToTime(const std::string& s);
TDateTime StrToTime(const std::string& s, const TFormatSettings& fs);
TDateTime StrToDateTime(const std::string& s);
TDateTime StrToDateTime(const std::string& s, const TFormatSettings& fs);
bool TryStrToDate(const std::string& s, TDateTime& value);
bool TryStrToDate(const std::string& s, TDateTime& value, const TFormatSettings& fs);
bool TryStrToTime(const std::string& s, TDateTime& value);
bool TryStrToTime(const std::string& s, TDateTime& value, const TFormatSettings& fs);
bool TryStrToDateTime(const std::string& s, TDateTime& value);
bool TryStrToDateTime(const std::string& s, TDateTime& value, const TFormatSettings& fs);

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value);
// A null stamp gives 0; an impossible one raises EConvertError.
TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& ts);
bool TryDateTimeOfSQLTimeStamp(const TSQLTimeStamp& ts, TDateTime& value);
std::string SQLTimeStampToStr(const std::string& format, const TSQLTimeStamp& ts);
std::string SQLTimeStampToStr(const std::string& format, const TSQLTimeStamp& ts, const TFormatSettings& fs);
TSQLTimeStamp StrToSQLTimeStamp(const std::string& s);
TSQLTimeStamp StrToSQLTimeStamp(const std::string& s, const TFormatSettings& fs);
int CompareSQLTimeStamp(const TSQLTimeStamp& a, const TSQLTimeStamp& b);

}  // namespace rtl
