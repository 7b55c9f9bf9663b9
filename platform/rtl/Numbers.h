// Integer, floating-point and currency text conversions in the platform's forms.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

#include "platform/rtl/FormatSettings.h"

namespace rtl {

// Fixed-point money: a 64-bit integer counting ten-thousandths.
class Currency {
public:
    static constexpr int64_t Scale = 10000;

    constexpr Currency() = default;
    static constexpr Currency FromRaw(int64_t scaled) {
        Currency c;
        c.value_ = scaled;
        return c;
    }
    static constexpr Currency FromInt(int64_t whole) { return FromRaw(whole * Scale); }
    // Rounds to the nearest ten-thousandth (halves to even); raises EOverflow when out of range.
    static Currency FromDouble(double value);

    constexpr int64_t Raw() const { return value_; }
    double ToDouble() const { return static_cast<double>(value_) / Scale; }

    constexpr auto operator<=>(const Currency&) const = default;
    constexpr Currency operator-() const { return FromRaw(-value_); }
    constexpr Currency operator+(Currency o) const { return FromRaw(value_ + o.value_); }
    constexpr Currency operator-(Currency o) const { return FromRaw(value_ - o.value_); }

private:
    int64_t value_ = 0;
};

// base raised to a whole power, by repeated squaring (negative powers divide).
double IntPower(double base, int exponent);

enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

std::string IntToStr(int value);
std::string IntToStr(unsigned value);
std::string IntToStr(long value);
std::string IntToStr(unsigned long value);
std::string IntToStr(long long value);
std::string IntToStr(unsigned long long value);

// Decimal with an optional sign, or hexadecimal after "$", "x" or "0x"; leading blanks are
// skipped, nothing may follow. Failures raise EConvertError "'<s>' is not a valid integer value".
int32_t StrToInt(const std::string& s);
int64_t StrToInt64(const std::string& s);
int32_t StrToIntDef(const std::string& s, int32_t def);
int64_t StrToInt64Def(const std::string& s, int64_t def);
bool TryStrToInt(const std::string& s, int32_t& value);
bool TryStrToInt64(const std::string& s, int64_t& value);

bool StrToBool(const std::string& s);
bool TryStrToBool(const std::string& s, bool& value);
std::string BoolToStr(bool value, bool useBoolStrs = false);

// General format with 15 significant digits ("1E20", "0.1", "1.5E-6").
std::string FloatToStr(double value);
std::string FloatToStr(double value, const TFormatSettings& fs);
// precision: significant digits; digits: decimals (fixed, number, currency) or minimum exponent
// digits (general, exponent).
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs);
// Picture formats: "0", "#", ".", ",", "E+"/"E-"/"e+"/"e-", quoted literals, up to three
// sections separated by ";" (positive, negative, zero).
std::string FormatFloat(const std::string& format, double value);
std::string FormatFloat(const std::string& format, double value, const TFormatSettings& fs);
std::string FormatCurr(const std::string& format, Currency value);
std::string FormatCurr(const std::string& format, Currency value, const TFormatSettings& fs);

// Blanks around, a sign, digits with the decimal separator, an optional exponent. Failures
// raise EConvertError "'<s>' is not a valid floating point value".
double StrToFloat(const std::string& s);
double StrToFloat(const std::string& s, const TFormatSettings& fs);
double StrToFloatDef(const std::string& s, double def);
bool TryStrToFloat(const std::string& s, double& value);
bool TryStrToFloat(const std::string& s, double& value, const TFormatSettings& fs);

std::string CurrToStr(Currency value);
std::string CurrToStr(Currency value, const TFormatSettings& fs);
std::string CurrToStrF(Currency value, TFloatFormat format, int digits);
std::string CurrToStrF(Currency value, TFloatFormat format, int digits, const TFormatSettings& fs);
Currency StrToCurr(const std::string& s);
Currency StrToCurr(const std::string& s, const TFormatSettings& fs);
bool TryStrToCurr(const std::string& s, Currency& value);
bool TryStrToCurr(const std::string& s, Currency& value, const TFormatSettings& fs);

namespace detail {

// A number as decimal digits: value = 0.Digits * 10^Exponent; Digits has no trailing zeros
// and is empty for zero.
struct TFloatRec {
    bool Negative = false;
    bool Nan = false;
    bool Infinite = false;
    int Exponent = 0;
    std::string Digits;
};

// Rounds to at most `precision` significant digits and at most `decimals` digits after the
// point (half away from zero, on the value's 18 leading digits).
TFloatRec FloatToDecimal(double value, int precision, int decimals);
TFloatRec CurrToDecimal(Currency value, int decimals);
std::string FormatDecimal(const TFloatRec& rec, TFloatFormat format, int precision, int digits,
                          const TFormatSettings& fs);

}  // namespace detail

}  // namespace rtl
