#include "platform/rtl/FmtBcd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace rtl {

namespace {

// A decimal as text digits: value = digits * 10^-places, digits without leading zeros.
struct Decimal {
    bool negative = false;
    std::string digits;
    int places = 0;
};

void Trim(Decimal& d) {
    size_t lead = d.digits.find_first_not_of('0');
    int intDigits = static_cast<int>(d.digits.size()) - d.places;
    if (lead == std::string::npos) {
        d = Decimal();
        return;
    }
    // Leading zeros go only from the integer part.
    size_t dropLead = std::min<size_t>(lead, std::max(intDigits, 0));
    d.digits.erase(0, dropLead);
    while (d.places > 0 && !d.digits.empty() && d.digits.back() == '0') {
        d.digits.pop_back();
        --d.places;
    }
}

// Rounds off fraction digits beyond `places` (half away from zero).
void RoundTo(Decimal& d, int places) {
    if (d.places <= places) return;
    int drop = d.places - places;
    if (drop > static_cast<int>(d.digits.size())) {
        // The first dropped digit is a leading zero: nothing is left.
        d = Decimal();
        return;
    }
    const size_t keep = d.digits.size() - static_cast<size_t>(drop);
    bool up = d.digits[keep] >= '5';
    d.digits.erase(keep);  // not resize(): -O3 cannot tell it only shrinks and warns of an overlap
    d.places = places;
    if (up) {
        int i = static_cast<int>(d.digits.size()) - 1;
        while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
        if (i >= 0)
            ++d.digits[i];
        else
            d.digits.insert(d.digits.begin(), '1');
    }
    Trim(d);
}

Decimal Unpack(const TBcd& b) {
    Decimal d;
    int precision = std::min<int>(b.Precision, MaxFMTBcdFractionSize);
    d.negative = (b.SignSpecialPlaces & 0x80) != 0;
    d.places = b.SignSpecialPlaces & 0x3F;
    for (int i = 0; i < precision; ++i) {
        uint8_t byte = b.Fraction[i / 2];
        int nibble = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
        d.digits += static_cast<char>('0' + std::min(nibble, 9));
    }
    // Fewer digits than places: the missing ones are leading zeros of the fraction.
    if (d.places > static_cast<int>(d.digits.size())) d.digits.insert(0, d.places - d.digits.size(), '0');
    Trim(d);
    return d;
}

bool Pack(Decimal d, TBcd& out) {
    Trim(d);
    int intDigits = static_cast<int>(d.digits.size()) - d.places;
    if (intDigits > MaxFMTBcdFractionSize) return false;
    if (static_cast<int>(d.digits.size()) > MaxFMTBcdFractionSize)
        RoundTo(d, MaxFMTBcdFractionSize - std::max(intDigits, 0));
    if (static_cast<int>(d.digits.size()) > MaxFMTBcdFractionSize) return false;
    // A fraction below 0.1 keeps its leading zeros after the point as digits.
    if (d.places > static_cast<int>(d.digits.size())) d.digits.insert(0, d.places - d.digits.size(), '0');
    TBcd b;
    b.Precision = static_cast<uint8_t>(d.digits.size());
    b.SignSpecialPlaces =
        static_cast<uint8_t>((d.negative && !d.digits.empty() ? 0x80 : 0) | (d.places & 0x3F));
    for (size_t i = 0; i < d.digits.size(); ++i) {
        uint8_t v = static_cast<uint8_t>(d.digits[i] - '0');
        b.Fraction[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? v << 4 : v);
    }
    out = b;
    return true;
}

// Parses "<blanks>[sign]digits[sep digits][e[sign]digits]<blanks>"; 0 ok, 1 bad text, 2 overflow.
int Parse(const std::string& s, char sep, Decimal& d) {
    size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    while (n > i && s[n - 1] == ' ') --n;
    d = Decimal();
    if (i < n && (s[i] == '+' || s[i] == '-')) d.negative = s[i++] == '-';
    bool any = false;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
        d.digits += s[i++];
        any = true;
    }
    if (i < n && s[i] == sep) {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            d.digits += s[i++];
            ++d.places;
            any = true;
        }
    }
    if (!any) return 1;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool neg = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
        if (i >= n) return 1;
        int e = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            if (e < 10000) e = e * 10 + (s[i] - '0');
            ++i;
        }
        if (i != n) return 1;
        Trim(d);
        if (d.digits.empty()) return 0;
        if (neg) {
            d.places += e;
        } else if (e <= d.places) {
            d.places -= e;
        } else {
            d.digits.append(e - d.places, '0');
            d.places = 0;
        }
        if (static_cast<int>(d.digits.size()) - d.places > MaxFMTBcdFractionSize) return 2;
        if (d.places > 63) RoundTo(d, 63);
        return 0;
    }
    if (i != n) return 1;
    Trim(d);
    if (static_cast<int>(d.digits.size()) - d.places > MaxFMTBcdFractionSize) return 2;
    if (d.places > 63) RoundTo(d, 63);
    return 0;
}

std::string Text(const Decimal& d, char sep) {
    if (d.digits.empty()) return "0";
    std::string s = d.negative ? "-" : "";
    int intDigits = static_cast<int>(d.digits.size()) - d.places;
    if (intDigits <= 0) {
        s += '0';
    } else {
        s.append(d.digits, 0, intDigits);
    }
    if (d.places > 0) {
        s += sep;
        if (intDigits < 0) s.append(-intDigits, '0');
        s.append(d.digits, std::max(intDigits, 0));
    }
    return s;
}

int CompareMagnitude(const Decimal& a, const Decimal& b) {
    int ia = static_cast<int>(a.digits.size()) - a.places;
    int ib = static_cast<int>(b.digits.size()) - b.places;
    if (ia != ib) return ia < ib ? -1 : 1;
    // Same count of integer digits: align on the point and compare digit by digit.
    size_t len = std::max(a.digits.size(), b.digits.size());
    for (size_t i = 0; i < len; ++i) {
        char x = i < a.digits.size() ? a.digits[i] : '0';
        char y = i < b.digits.size() ? b.digits[i] : '0';
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace

bool TryStrToBcd(const std::string& s, TBcd& value) {
    return TryStrToBcd(s, value, FormatSettings());
}

bool TryStrToBcd(const std::string& s, TBcd& value, const TFormatSettings& fs) {
    Decimal d;
    if (Parse(s, fs.DecimalSeparator, d) != 0) return false;
    return Pack(d, value);
}

TBcd StrToBcd(const std::string& s) {
    return StrToBcd(s, FormatSettings());
}

TBcd StrToBcd(const std::string& s, const TFormatSettings& fs) {
    Decimal d;
    int rc = Parse(s, fs.DecimalSeparator, d);
    if (rc == 1) throw EBcdException("'" + s + "' is not a valid BCD value");
    TBcd b;
    if (rc == 2 || !Pack(d, b)) throw EBcdOverflowException("BCD overflow");
    return b;
}

std::string BcdToStr(const TBcd& value) {
    return BcdToStr(value, FormatSettings());
}

std::string BcdToStr(const TBcd& value, const TFormatSettings& fs) {
    return Text(Unpack(value), fs.DecimalSeparator);
}

int BcdCompare(const TBcd& a, const TBcd& b) {
    Decimal x = Unpack(a), y = Unpack(b);
    bool xn = x.negative && !x.digits.empty();
    bool yn = y.negative && !y.digits.empty();
    if (xn != yn) return xn ? -1 : 1;
    int m = CompareMagnitude(x, y);
    return xn ? -m : m;
}

int BcdPrecision(const TBcd& value) {
    Decimal d = Unpack(value);
    return std::max(static_cast<int>(d.digits.size()) - d.places, 1);
}

int BcdScale(const TBcd& value) {
    return Unpack(value).places;
}

bool IsBcdNegative(const TBcd& value) {
    Decimal d = Unpack(value);
    return d.negative && !d.digits.empty();
}

bool IsBcdZero(const TBcd& value) {
    return Unpack(value).digits.empty();
}

TBcd DoubleToBcd(double value) {
    TFormatSettings fs = TFormatSettings::Invariant();
    std::string text = FloatToStr(value, fs);
    Decimal d;
    if (Parse(text, '.', d) != 0) throw EBcdException("'" + text + "' is not a valid BCD value");
    TBcd b;
    if (!Pack(d, b)) throw EBcdOverflowException("BCD overflow");
    return b;
}

double BcdToDouble(const TBcd& value) {
    Decimal d = Unpack(value);
    if (d.digits.empty()) return 0;
    std::string text = (d.negative ? "-" : "") + d.digits + "e-" + std::to_string(d.places);
    return std::strtod(text.c_str(), nullptr);
}

TBcd IntegerToBcd(int64_t value) {
    Decimal d;
    d.negative = value < 0;
    uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    d.digits = std::to_string(mag);
    TBcd b;
    Pack(d, b);
    return b;
}

int64_t BcdToInt64(const TBcd& value) {
    Decimal d = Unpack(value);
    int intDigits = static_cast<int>(d.digits.size()) - d.places;
    if (intDigits <= 0) return 0;
    if (intDigits > 19) throw EBcdOverflowException("BCD overflow");
    unsigned __int128 acc = 0;
    for (int i = 0; i < intDigits; ++i) acc = acc * 10 + static_cast<unsigned>(d.digits[i] - '0');
    const unsigned __int128 limit = d.negative ? 9223372036854775808ull : 9223372036854775807ull;
    if (acc > limit) throw EBcdOverflowException("BCD overflow");
    return d.negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(acc)) : static_cast<int64_t>(acc);
}

bool CurrToBCD(Currency value, TBcd& bcd, int precision, int decimals) {
    Decimal d;
    int64_t raw = value.Raw();
    d.negative = raw < 0;
    uint64_t mag = raw < 0 ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
    d.digits = std::to_string(mag);
    d.places = 4;
    RoundTo(d, std::clamp(decimals, 0, 4));
    Trim(d);
    if (static_cast<int>(d.digits.size()) > precision) return false;
    return Pack(d, bcd);
}

bool BCDToCurr(const TBcd& bcd, Currency& value) {
    Decimal d = Unpack(bcd);
    RoundTo(d, 4);
    if (d.digits.empty()) {
        value = Currency();
        return true;
    }
    // Scale to ten-thousandths.
    std::string digits = d.digits + std::string(4 - d.places, '0');
    if (digits.size() > 19) return false;
    unsigned __int128 acc = 0;
    for (char c : digits) acc = acc * 10 + static_cast<unsigned>(c - '0');
    const unsigned __int128 limit = d.negative ? 9223372036854775808ull : 9223372036854775807ull;
    if (acc > limit) return false;
    value = Currency::FromRaw(d.negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(acc))
                                         : static_cast<int64_t>(acc));
    return true;
}

bool NormalizeBcd(const TBcd& in, TBcd& out, int precision, int places) {
    Decimal d = Unpack(in);
    places = std::clamp(places, 0, 63);
    RoundTo(d, places);
    Trim(d);
    int intDigits = static_cast<int>(d.digits.size()) - d.places;
    if (intDigits > precision - places) return false;
    return Pack(d, out);
}

}  // namespace rtl
