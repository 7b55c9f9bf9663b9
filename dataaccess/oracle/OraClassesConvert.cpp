// Oracle's DATE, timestamp and NUMBER value forms converted by plain routines: the 7-byte DATE of
// fetch and parameter buffers, timestamp objects and SQL time stamp records, NUMBER bytes to BCD.
#include <cstdlib>
#include <string>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Exceptions.h"

namespace dac {

namespace {

// The DATE bytes, by offset.
enum OraDateByte { odCentury, odYear, odMonth, odDay, odHour, odMinute, odSecond };

constexpr int OraDateExcess = 100;  // century and year of the century carry 100
constexpr uint8_t NumberZero = 0x80;
constexpr uint8_t NumberNegativeTerminator = 102;
constexpr int NumberExponentBias = 65;
constexpr int MaxNumberBytes = 21;
constexpr int MaxBcdDigits = 64;
constexpr int MaxBcdScale = 63;  // six bits of SignSpecialPlaces

[[noreturn]] void RaiseNumberToBcd() {
    RaiseError("Cannot convert to Number to BCD");
}

}  // namespace

rtl::TDateTime OraDateToDateTime(const void* oraDate) {
    const auto* b = static_cast<const uint8_t*>(oraDate);
    const int year = std::abs((b[odCentury] - OraDateExcess) * 100 + b[odYear] - OraDateExcess);
    const rtl::TDateTime date = rtl::EncodeDate(year, b[odMonth], b[odDay]);
    const rtl::TDateTime time = rtl::EncodeTime(b[odHour] - 1, b[odMinute] - 1, b[odSecond] - 1, 0);
    return date >= 0 ? date + time : date - time;
}

void DateTimeToOraDate(void* oraDate, rtl::TDateTime value) {
    rtl::Word year, month, day, hour, minute, second, msec;
    rtl::DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    // DecodeDate answers year 0 below 1 January 0001; a DATE has no room above 9999.
    if (year < 1 || year > 9999) throw rtl::EConvertError("Date is outside the range of an Oracle DATE");
    auto* b = static_cast<uint8_t*>(oraDate);
    b[odCentury] = static_cast<uint8_t>(year / 100 + OraDateExcess);
    b[odYear] = static_cast<uint8_t>(year % 100 + OraDateExcess);
    b[odMonth] = static_cast<uint8_t>(month);
    b[odDay] = static_cast<uint8_t>(day);
    b[odHour] = static_cast<uint8_t>(hour + 1);
    b[odMinute] = static_cast<uint8_t>(minute + 1);
    b[odSecond] = static_cast<uint8_t>(second + 1);
}

double OraDateToMSecs(const void* oraDate) {
    return rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(OraDateToDateTime(oraDate)));
}

void MSecsToOraDate(void* oraDate, double msecs) {
    DateTimeToOraDate(oraDate, rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(msecs)));
}

void OraTimeStampToSQLTimeStamp(TOraTimeStamp* timeStamp, rtl::TSQLTimeStamp& sqlTimeStamp) {
    sqlTimeStamp = rtl::NullSQLTimeStamp;
    if (timeStamp->GetIsNull()) return;
    int16_t year;
    uint8_t month, day, hour, minute, second;
    uint32_t fraction;
    timeStamp->GetDate(year, month, day);
    timeStamp->GetTime(hour, minute, second, fraction);
    sqlTimeStamp.Year = static_cast<uint16_t>(year);
    sqlTimeStamp.Month = month;
    sqlTimeStamp.Day = day;
    sqlTimeStamp.Hour = hour;
    sqlTimeStamp.Minute = minute;
    sqlTimeStamp.Second = second;
    sqlTimeStamp.Fractions = fraction / 1000000;
}

void SQLTimeStampToOraTimeStamp(TOraTimeStamp* timeStamp, const rtl::TSQLTimeStamp& ts) {
    if (ts == rtl::NullSQLTimeStamp) {
        timeStamp->SetIsNull(true);
        return;
    }
    // Fractions are milliseconds; more than 999 would overflow the nanoseconds.
    if (ts.Fractions > 999 || ts.Year > 9999 || ts.Month > 255 || ts.Day > 255 || ts.Hour > 255 ||
        ts.Minute > 255 || ts.Second > 255)
        throw rtl::EConvertError("Invalid SQL date/time values");
    timeStamp->Construct(static_cast<int16_t>(ts.Year), static_cast<uint8_t>(ts.Month),
                         static_cast<uint8_t>(ts.Day), static_cast<uint8_t>(ts.Hour),
                         static_cast<uint8_t>(ts.Minute), static_cast<uint8_t>(ts.Second),
                         ts.Fractions * 1000000);
}

void OraNumberToBcd(const uint8_t* bytes, int length, rtl::TBcd& bcd) {
    bcd = rtl::TBcd{};
    if (length == 1 && bytes[0] == NumberZero) {
        bcd.Precision = 1;
        return;
    }
    const bool negativeInfinity = length == 1 && bytes[0] == 0;
    const bool positiveInfinity = length == 2 && bytes[0] == 0xFF && bytes[1] == 101;
    if (length < 2 || length > MaxNumberBytes || negativeInfinity || positiveInfinity) RaiseNumberToBcd();

    const bool negative = (bytes[0] & 0x80) == 0;
    int end = length;
    // A digit byte is never 102, so only a terminator is dropped.
    if (negative && bytes[end - 1] == NumberNegativeTerminator) --end;
    const int exponent = (negative ? (~bytes[0] & 0x7F) : (bytes[0] & 0x7F)) - NumberExponentBias;

    std::string digits;  // the mantissa in decimal, two digits per base-100 digit
    for (int k = 1; k < end; ++k) {
        const int d = negative ? 101 - bytes[k] : bytes[k] - 1;
        if (d < 0 || d > 99) RaiseNumberToBcd();
        digits += static_cast<char>('0' + d / 10);
        digits += static_cast<char>('0' + d % 10);
    }
    if (digits.empty()) RaiseNumberToBcd();

    // 0.d1d2... * 100^(exponent + 1): the point stands after 2 * (exponent + 1) mantissa digits.
    const int pointAt = 2 * (exponent + 1);
    std::string intPart, fraction;
    if (pointAt <= 0) {
        fraction = std::string(static_cast<size_t>(-pointAt), '0') + digits;
    } else if (static_cast<size_t>(pointAt) >= digits.size()) {
        intPart = digits + std::string(static_cast<size_t>(pointAt) - digits.size(), '0');
    } else {
        intPart = digits.substr(0, static_cast<size_t>(pointAt));
        fraction = digits.substr(static_cast<size_t>(pointAt));
    }
    const size_t firstDigit = intPart.find_first_not_of('0');
    intPart.erase(0, firstDigit == std::string::npos ? intPart.size() : firstDigit);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    const std::string all = intPart + fraction;
    if (all.find_first_not_of('0') == std::string::npos) {
        bcd.Precision = 1;  // a non-canonical zero
        return;
    }
    if (all.size() > MaxBcdDigits || fraction.size() > MaxBcdScale) RaiseNumberToBcd();

    bcd.Precision = static_cast<uint8_t>(all.size());
    bcd.SignSpecialPlaces = static_cast<uint8_t>((negative ? 0x80 : 0) | fraction.size());
    for (size_t k = 0; k < all.size(); ++k) {
        const uint8_t nibble = static_cast<uint8_t>(all[k] - '0');
        bcd.Fraction[k / 2] |= k % 2 == 0 ? static_cast<uint8_t>(nibble << 4) : nibble;
    }
}

void OCINumberToBcd(const void* number, rtl::TBcd& bcd) {
    const auto* b = static_cast<const uint8_t*>(number);
    OraNumberToBcd(b + 1, b[0], bcd);
}

}  // namespace dac
