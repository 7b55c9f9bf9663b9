// Packed decimal numbers of up to 64 digits in the platform's 34-byte layout.
#pragma once

#include <cstdint>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Numbers.h"

namespace rtl {

// Precision: number of digits; SignSpecialPlaces: bit 7 negative, bit 6 special, bits 0-5 the
// digits after the point; Fraction: the digits two per byte, high nibble first.
struct TBcd {
    uint8_t Precision = 0;
    uint8_t SignSpecialPlaces = 0;
    uint8_t Fraction[32] = {};
};
static_assert(sizeof(TBcd) == 34);

inline constexpr TBcd NullBcd{};
inline constexpr int MaxFMTBcdFractionSize = 64;

RTL_EXCEPTION_CLASS(EBcdException, Exception);
RTL_EXCEPTION_CLASS(EBcdOverflowException, EBcdException);

// Blanks around, a sign, digits with the decimal separator, an optional exponent. Leading
// zeros and trailing fraction zeros are not stored. Raises EBcdException
// "'<s>' is not a valid BCD value", or EBcdOverflowException "BCD overflow" beyond 64 digits
// before the point (further fraction digits are rounded off).
TBcd StrToBcd(const std::string& s);
TBcd StrToBcd(const std::string& s, const TFormatSettings& fs);
bool TryStrToBcd(const std::string& s, TBcd& value);
bool TryStrToBcd(const std::string& s, TBcd& value, const TFormatSettings& fs);
std::string BcdToStr(const TBcd& value);
std::string BcdToStr(const TBcd& value, const TFormatSettings& fs);

// -1, 0 or 1 by numeric value (1.5 equals 1.50; -0 equals 0).
int BcdCompare(const TBcd& a, const TBcd& b);

int BcdPrecision(const TBcd& value);  // digits before the point (at least 1)
int BcdScale(const TBcd& value);      // digits after the point
bool IsBcdNegative(const TBcd& value);
bool IsBcdZero(const TBcd& value);

TBcd DoubleToBcd(double value);  // the value's 15-digit general text
double BcdToDouble(const TBcd& value);
TBcd IntegerToBcd(int64_t value);
// Drops the fraction (towards zero); raises EBcdOverflowException outside Int64.
int64_t BcdToInt64(const TBcd& value);
bool CurrToBCD(Currency value, TBcd& bcd, int precision = 32, int decimals = 4);
// Rounds to four places (half away from zero); false when out of Currency's range.
bool BCDToCurr(const TBcd& bcd, Currency& value);
// Rescales to `places` digits after the point (half away from zero); false when the result
// needs more than `precision` digits.
bool NormalizeBcd(const TBcd& in, TBcd& out, int precision, int places);

}  // namespace rtl
