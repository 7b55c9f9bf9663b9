#include "platform/rtl/Numbers.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace rtl {

using detail::TFloatRec;

namespace {

constexpr int kMaxPrecision = 18;
constexpr int kNoDecimalLimit = 9999;

// Rounds rec to `keep` leading digits, half away from zero.
void RoundDigits(TFloatRec& rec, int keep) {
    if (keep >= static_cast<int>(rec.Digits.size())) return;
    if (keep < 0) {
        rec.Digits.clear();
    } else {
        bool up = rec.Digits[keep] >= '5';
        rec.Digits.resize(keep);
        if (up) {
            int i = keep - 1;
            while (i >= 0 && rec.Digits[i] == '9') rec.Digits[i--] = '0';
            if (i >= 0) {
                ++rec.Digits[i];
            } else {
                rec.Digits.insert(rec.Digits.begin(), '1');
                ++rec.Exponent;
            }
        }
    }
    while (!rec.Digits.empty() && rec.Digits.back() == '0') rec.Digits.pop_back();
    if (rec.Digits.empty()) {
        rec.Exponent = 0;
        rec.Negative = false;
    }
}

std::string PadNumber(int value, int minDigits) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < minDigits) s.insert(0, minDigits - s.size(), '0');
    return s;
}

char DigitAt(const TFloatRec& rec, int i) {
    return i >= 0 && i < static_cast<int>(rec.Digits.size()) ? rec.Digits[i] : '0';
}

std::string ScientificGeneral(const TFloatRec& rec, int digits, const TFormatSettings& fs) {
    std::string s;
    if (rec.Negative) s += '-';
    s += rec.Digits[0];
    if (rec.Digits.size() > 1) {
        s += fs.DecimalSeparator;
        s.append(rec.Digits, 1);
    }
    int e = rec.Exponent - 1;
    s += 'E';
    if (e < 0) s += '-';
    s += PadNumber(std::abs(e), std::clamp(digits, 0, 4));
    return s;
}

// Integer digits with thousands separators, and `decimals` digits after the point.
std::string FixedBody(const TFloatRec& rec, int decimals, bool thousands, const TFormatSettings& fs) {
    std::string intPart;
    if (rec.Exponent <= 0) {
        intPart = "0";
    } else {
        for (int i = 0; i < rec.Exponent; ++i) intPart += DigitAt(rec, i);
    }
    std::string s;
    if (thousands && fs.ThousandSeparator != 0) {
        for (size_t i = 0; i < intPart.size(); ++i) {
            if (i > 0 && (intPart.size() - i) % 3 == 0) s += fs.ThousandSeparator;
            s += intPart[i];
        }
    } else {
        s = intPart;
    }
    if (decimals > 0) {
        s += fs.DecimalSeparator;
        for (int i = 0; i < decimals; ++i) s += DigitAt(rec, rec.Exponent + i);
    }
    return s;
}

std::string ApplyCurrencyFormat(const std::string& body, bool negative, const TFormatSettings& fs) {
    const std::string& c = fs.CurrencyString;
    if (!negative) {
        switch (fs.CurrencyFormat) {
            case 1:
                return body + c;
            case 2:
                return c + " " + body;
            case 3:
                return body + " " + c;
            default:
                return c + body;
        }
    }
    switch (fs.NegCurrFormat) {
        case 1:
            return "-" + c + body;
        case 2:
            return c + "-" + body;
        case 3:
            return c + body + "-";
        case 4:
            return "(" + body + c + ")";
        case 5:
            return "-" + body + c;
        case 6:
            return body + "-" + c;
        case 7:
            return body + c + "-";
        case 8:
            return "-" + body + " " + c;
        case 9:
            return "-" + c + " " + body;
        case 10:
            return body + " " + c + "-";
        case 11:
            return c + " " + body + "-";
        case 12:
            return c + " -" + body;
        case 13:
            return body + "- " + c;
        case 14:
            return "(" + c + " " + body + ")";
        case 15:
            return "(" + body + " " + c + ")";
        default:
            return "(" + c + body + ")";
    }
}

locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

bool IsBlank(char c) {
    return c == ' ';
}

// Splits "<blanks>[sign]digits[sep digits][e[sign]digits]<blanks>" into a C-form number; false
// when the text has another shape.
bool NormalizeFloatText(const std::string& s, char decimalSeparator, std::string& out, bool& negative,
                        std::string& digits, int& pointPos, int& exponent) {
    size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    while (n > i && IsBlank(s[n - 1])) --n;
    negative = false;
    out.clear();
    digits.clear();
    pointPos = -1;
    exponent = 0;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool anyDigit = false;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
        digits += s[i++];
        anyDigit = true;
    }
    if (i < n && s[i] == decimalSeparator) {
        pointPos = static_cast<int>(digits.size());
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            digits += s[i++];
            anyDigit = true;
        }
    }
    if (!anyDigit) return false;
    if (pointPos < 0) pointPos = static_cast<int>(digits.size());
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool expNeg = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) {
            expNeg = s[i] == '-';
            ++i;
        }
        if (i >= n) return false;
        int e = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            if (e < 100000) e = e * 10 + (s[i] - '0');
            ++i;
        }
        exponent = expNeg ? -e : e;
    }
    if (i != n) return false;
    // Built in a local: composed in place in out, which may alias digits to the optimizer, -O3
    // warns of an overlapping copy.
    std::string text = negative ? "-" : "";
    text.append(digits, 0, pointPos).append(".").append(digits, pointPos).append("e");
    out = std::move(text) + std::to_string(exponent);
    return true;
}

// Parses an integer in the platform's forms; decimal values must fit the target, hexadecimal
// ones fill its bit pattern (and may wrap to negative).
bool ParseInteger(const std::string& s, int64_t& value, bool int32) {
    size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i < n && (s[i] == 'x' || s[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) return false;
    uint64_t acc = 0;
    if (hex) {
        const uint64_t limit = int32 ? 0xFFFFFFFFull : std::numeric_limits<uint64_t>::max();
        for (; i < n; ++i) {
            char c = s[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            if (acc > (limit >> 4)) return false;
            acc = (acc << 4) | static_cast<uint64_t>(d);
        }
        // Hexadecimal covers the whole bit pattern: $FFFFFFFF is -1.
        int64_t v = int32 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(acc)))
                          : static_cast<int64_t>(acc);
        value = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(v)) : v;
        if (int32) value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
        return true;
    }
    const uint64_t limit = int32 ? (negative ? 2147483648ull : 2147483647ull)
                                 : (negative ? 9223372036854775808ull : 9223372036854775807ull);
    for (; i < n; ++i) {
        char c = s[i];
        if (c < '0' || c > '9') return false;
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (acc > (limit - d) / 10) return false;
        acc = acc * 10 + d;
    }
    value = negative ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
    return true;
}

[[noreturn]] void InvalidInteger(const std::string& s) {
    throw EConvertError("'" + s + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(const std::string& s) {
    throw EConvertError("'" + s + "' is not a valid floating point value");
}

// One section of a picture format, parsed.
struct Picture {
    int intPlaceholders = 0;
    int minIntDigits = 0;
    int maxDecimals = 0;
    int minDecimals = 0;
    bool thousands = false;
    bool scientific = false;
    int expDigits = 0;
};

std::vector<std::string> SplitSections(const std::string& format) {
    std::vector<std::string> sections(1);
    char quote = 0;
    for (char c : format) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

Picture ParsePicture(const std::string& section) {
    Picture p;
    bool afterPoint = false;
    bool seenZero = false;
    char quote = 0;
    for (size_t i = 0; i < section.size(); ++i) {
        char c = section[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if ((c == 'E' || c == 'e') && i + 1 < section.size() &&
                   (section[i + 1] == '+' || section[i + 1] == '-')) {
            p.scientific = true;
            i += 2;
            while (i < section.size() && section[i] == '0') {
                ++p.expDigits;
                ++i;
            }
            --i;
            // Digit placeholders after the exponent are not part of the mantissa.
            break;
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
        } else if (c == ',' && !afterPoint) {
            p.thousands = true;
        } else if (c == '0' || c == '#') {
            if (afterPoint) {
                ++p.maxDecimals;
                if (c == '0') p.minDecimals = p.maxDecimals;
            } else {
                ++p.intPlaceholders;
                if (c == '0') seenZero = true;
                if (seenZero) ++p.minIntDigits;
            }
        }
    }
    return p;
}

// Writes one picture section for rec (already rounded as the section asks).
std::string RenderPicture(const std::string& section, const Picture& p, TFloatRec rec, bool writeSign,
                          const TFormatSettings& fs) {
    int exponent = 0;
    if (p.scientific && !rec.Digits.empty()) {
        int lead = std::max(p.intPlaceholders, 1);
        exponent = rec.Exponent - lead;
        rec.Exponent = lead;
    }
    std::string intDigits;
    for (int i = 0; i < rec.Exponent; ++i) intDigits += DigitAt(rec, i);
    if (static_cast<int>(intDigits.size()) < p.minIntDigits)
        intDigits.insert(0, p.minIntDigits - intDigits.size(), '0');
    std::string fracDigits;
    for (int i = 0; i < p.maxDecimals; ++i) fracDigits += DigitAt(rec, rec.Exponent + i);
    while (static_cast<int>(fracDigits.size()) > p.minDecimals && fracDigits.back() == '0')
        fracDigits.pop_back();

    std::string out;
    if (writeSign && rec.Negative) out += '-';
    const int intLen = static_cast<int>(intDigits.size());
    int placeholder = 0;  // integer placeholders met so far
    int fracIndex = 0;
    bool afterPoint = false;
    char quote = 0;
    auto emitInt = [&](int from, int to) {
        for (int k = std::max(from, 0); k < to; ++k) {
            out += intDigits[k];
            int fromRight = intLen - 1 - k;
            if (p.thousands && fromRight > 0 && fromRight % 3 == 0 && fs.ThousandSeparator != 0)
                out += fs.ThousandSeparator;
        }
    };
    for (size_t i = 0; i < section.size(); ++i) {
        char c = section[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else
                out += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if ((c == 'E' || c == 'e') && p.scientific && i + 1 < section.size() &&
                   (section[i + 1] == '+' || section[i + 1] == '-')) {
            out += c;
            if (exponent < 0)
                out += '-';
            else if (section[i + 1] == '+')
                out += '+';
            i += 2;
            int zeros = 0;
            while (i < section.size() && section[i] == '0') {
                ++zeros;
                ++i;
            }
            --i;
            out += PadNumber(std::abs(exponent), zeros);
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
            // Integer digits left over when the picture has no integer placeholder.
            if (placeholder == 0) emitInt(0, intLen);
            placeholder = p.intPlaceholders;
            if (!fracDigits.empty()) out += fs.DecimalSeparator;
        } else if (c == ',' && !afterPoint) {
            // thousands flag, placed by the digits
        } else if (c == '0' || c == '#') {
            if (afterPoint) {
                if (fracIndex < static_cast<int>(fracDigits.size())) out += fracDigits[fracIndex];
                ++fracIndex;
            } else {
                // The first placeholder takes all the digits the picture has no room for.
                int k = intLen - p.intPlaceholders + placeholder;
                if (placeholder == 0)
                    emitInt(0, k + 1);
                else
                    emitInt(k, k + 1);
                ++placeholder;
            }
        } else {
            out += c;
        }
    }
    if (!afterPoint && placeholder == 0 && p.intPlaceholders == 0) emitInt(0, intLen);
    return out;
}

// Chooses the section and rounding; makeRec(section picture) gives the digits for a picture.
template <class MakeRec>
std::string FormatPictureImpl(const std::string& format, bool negative, MakeRec makeRec,
                              const TFormatSettings& fs) {
    std::vector<std::string> sections = SplitSections(format);
    size_t index = 0;
    bool writeSign = true;
    if (negative && sections.size() > 1 && !sections[1].empty()) {
        index = 1;
        writeSign = false;
    }
    Picture pic = ParsePicture(sections[index]);
    TFloatRec rec = makeRec(pic);
    if (rec.Digits.empty() && sections.size() > 2 && !sections[2].empty()) {
        index = 2;
        writeSign = false;
        pic = ParsePicture(sections[2]);
        rec = makeRec(pic);
    }
    return RenderPicture(sections[index], pic, rec, writeSign, fs);
}

}  // namespace

namespace detail {

TFloatRec FloatToDecimal(double value, int precision, int decimals) {
    TFloatRec rec;
    if (std::isnan(value)) {
        rec.Nan = true;
        return rec;
    }
    rec.Negative = std::signbit(value);
    if (std::isinf(value)) {
        rec.Infinite = true;
        return rec;
    }
    if (value == 0) {
        rec.Negative = false;
        return rec;
    }
    // The 18 leading digits, correctly rounded; the second rounding is decimal.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
    rec.Digits += buf[0];
    const char* p = buf + 2;
    while (*p >= '0' && *p <= '9') rec.Digits += *p++;
    rec.Exponent = std::atoi(p + 1) + 1;
    precision = std::clamp(precision, 1, kMaxPrecision);
    int keep = precision;
    if (decimals < kNoDecimalLimit) keep = std::min(keep, rec.Exponent + decimals);
    RoundDigits(rec, keep);
    while (!rec.Digits.empty() && rec.Digits.back() == '0') rec.Digits.pop_back();
    return rec;
}

TFloatRec CurrToDecimal(Currency value, int decimals) {
    TFloatRec rec;
    int64_t raw = value.Raw();
    rec.Negative = raw < 0;
    uint64_t mag = raw < 0 ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
    if (mag == 0) {
        rec.Negative = false;
        return rec;
    }
    rec.Digits = std::to_string(mag);
    rec.Exponent = static_cast<int>(rec.Digits.size()) - 4;
    RoundDigits(rec, rec.Exponent + std::clamp(decimals, 0, 4));
    while (!rec.Digits.empty() && rec.Digits.back() == '0') rec.Digits.pop_back();
    if (rec.Digits.empty()) rec.Negative = false;
    return rec;
}

std::string FormatDecimal(const TFloatRec& rec, TFloatFormat format, int precision, int digits,
                          const TFormatSettings& fs) {
    if (rec.Nan) return "NAN";
    if (rec.Infinite) return rec.Negative ? "-INF" : "INF";
    const bool negative = rec.Negative && !rec.Digits.empty();
    switch (format) {
        case ffExponent: {
            std::string s = negative ? "-" : "";
            s += DigitAt(rec, 0);
            if (precision > 1) {
                s += fs.DecimalSeparator;
                for (int i = 1; i < precision; ++i) s += DigitAt(rec, i);
            }
            int e = rec.Digits.empty() ? 0 : rec.Exponent - 1;
            s += 'E';
            s += e < 0 ? '-' : '+';
            s += PadNumber(std::abs(e), std::clamp(digits, 0, 4));
            return s;
        }
        case ffFixed:
        case ffNumber:
        case ffCurrency: {
            if (rec.Exponent > precision) return ScientificGeneral(rec, 0, fs);
            std::string body = FixedBody(rec, std::clamp(digits, 0, 18), format != ffFixed, fs);
            if (format == ffCurrency) return ApplyCurrencyFormat(body, negative, fs);
            return negative ? "-" + body : body;
        }
        case ffGeneral:
        default: {
            if (rec.Digits.empty()) return "0";
            if (rec.Exponent > precision || rec.Exponent < -4) return ScientificGeneral(rec, digits, fs);
            std::string s = negative ? "-" : "";
            if (rec.Exponent <= 0) {
                s += '0';
            } else {
                for (int i = 0; i < rec.Exponent; ++i) s += DigitAt(rec, i);
            }
            if (static_cast<int>(rec.Digits.size()) > rec.Exponent) {
                s += fs.DecimalSeparator;
                for (int i = rec.Exponent; i < 0; ++i) s += '0';
                s.append(rec.Digits, std::max(rec.Exponent, 0));
            }
            return s;
        }
    }
}

}  // namespace detail

Currency Currency::FromDouble(double value) {
    double scaled = std::nearbyint(value * static_cast<double>(Scale));
    if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0))
        throw EOverflow("Floating point overflow");
    return FromRaw(static_cast<int64_t>(scaled));
}

double IntPower(double base, int exponent) {
    long long n = exponent;
    bool invert = n < 0;
    if (invert) n = -n;
    double result = 1, factor = base;
    while (n > 0) {
        if (n & 1) result *= factor;
        factor *= factor;
        n >>= 1;
    }
    return invert ? 1 / result : result;
}

std::string IntToStr(int value) {
    return std::to_string(value);
}
std::string IntToStr(unsigned value) {
    return std::to_string(value);
}
std::string IntToStr(long value) {
    return std::to_string(value);
}
std::string IntToStr(unsigned long value) {
    return std::to_string(value);
}
std::string IntToStr(long long value) {
    return std::to_string(value);
}
std::string IntToStr(unsigned long long value) {
    return std::to_string(value);
}

bool TryStrToInt(const std::string& s, int32_t& value) {
    int64_t v;
    if (!ParseInteger(s, v, true)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool TryStrToInt64(const std::string& s, int64_t& value) {
    return ParseInteger(s, value, false);
}

int32_t StrToInt(const std::string& s) {
    int32_t v;
    if (!TryStrToInt(s, v)) InvalidInteger(s);
    return v;
}

int64_t StrToInt64(const std::string& s) {
    int64_t v;
    if (!TryStrToInt64(s, v)) InvalidInteger(s);
    return v;
}

int32_t StrToIntDef(const std::string& s, int32_t def) {
    int32_t v;
    return TryStrToInt(s, v) ? v : def;
}

int64_t StrToInt64Def(const std::string& s, int64_t def) {
    int64_t v;
    return TryStrToInt64(s, v) ? v : def;
}

namespace {
bool SameTextAscii(const std::string& a, const char* b) {
    size_t n = std::char_traits<char>::length(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}
}  // namespace

bool TryStrToBool(const std::string& s, bool& value) {
    if (SameTextAscii(s, "True")) {
        value = true;
        return true;
    }
    if (SameTextAscii(s, "False")) {
        value = false;
        return true;
    }
    double d;
    if (TryStrToFloat(s, d)) {
        value = d != 0;
        return true;
    }
    return false;
}

bool StrToBool(const std::string& s) {
    bool v;
    if (!TryStrToBool(s, v)) throw EConvertError("'" + s + "' is not a valid boolean value");
    return v;
}

std::string BoolToStr(bool value, bool useBoolStrs) {
    if (useBoolStrs) return value ? "True" : "False";
    return value ? "-1" : "0";
}

std::string FloatToStr(double value) {
    return FloatToStr(value, FormatSettings());
}

std::string FloatToStr(double value, const TFormatSettings& fs) {
    return FloatToStrF(value, ffGeneral, 15, 0, fs);
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    return FloatToStrF(value, format, precision, digits, FormatSettings());
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs) {
    precision = std::clamp(precision, 1, kMaxPrecision);
    int decimals = kNoDecimalLimit;
    if (format == ffFixed || format == ffNumber || format == ffCurrency) decimals = std::clamp(digits, 0, 18);
    return detail::FormatDecimal(detail::FloatToDecimal(value, precision, decimals), format, precision,
                                 digits, fs);
}

std::string FormatFloat(const std::string& format, double value) {
    return FormatFloat(format, value, FormatSettings());
}

std::string FormatFloat(const std::string& format, double value, const TFormatSettings& fs) {
    if (format.empty() || std::isnan(value) || std::isinf(value) || std::fabs(value) >= 1e18)
        return FloatToStr(value, fs);
    auto make = [value](const Picture& p) {
        if (p.scientific)
            return detail::FloatToDecimal(value, std::max(p.intPlaceholders, 1) + p.maxDecimals,
                                          kNoDecimalLimit);
        return detail::FloatToDecimal(value, 15, p.maxDecimals);
    };
    return FormatPictureImpl(format, value < 0, make, fs);
}

std::string FormatCurr(const std::string& format, Currency value) {
    return FormatCurr(format, value, FormatSettings());
}

std::string FormatCurr(const std::string& format, Currency value, const TFormatSettings& fs) {
    if (format.empty()) return CurrToStr(value, fs);
    auto make = [value](const Picture& p) {
        if (p.scientific) {
            TFloatRec rec = detail::CurrToDecimal(value, 4);
            RoundDigits(rec, std::max(p.intPlaceholders, 1) + p.maxDecimals);
            return rec;
        }
        return detail::CurrToDecimal(value, p.maxDecimals);
    };
    return FormatPictureImpl(format, value.Raw() < 0, make, fs);
}

bool TryStrToFloat(const std::string& s, double& value) {
    return TryStrToFloat(s, value, FormatSettings());
}

bool TryStrToFloat(const std::string& s, double& value, const TFormatSettings& fs) {
    std::string text, digits;
    bool negative;
    int pointPos, exponent;
    if (!NormalizeFloatText(s, fs.DecimalSeparator, text, negative, digits, pointPos, exponent)) return false;
    errno = 0;
    char* end = nullptr;
    double v = strtod_l(text.c_str(), &end, CLocale());
    if (end == nullptr || *end != 0) return false;
    if (errno == ERANGE && std::isinf(v)) return false;
    value = v;
    return true;
}

double StrToFloat(const std::string& s) {
    return StrToFloat(s, FormatSettings());
}

double StrToFloat(const std::string& s, const TFormatSettings& fs) {
    double v;
    if (!TryStrToFloat(s, v, fs)) InvalidFloat(s);
    return v;
}

double StrToFloatDef(const std::string& s, double def) {
    double v;
    return TryStrToFloat(s, v) ? v : def;
}

std::string CurrToStr(Currency value) {
    return CurrToStr(value, FormatSettings());
}

std::string CurrToStr(Currency value, const TFormatSettings& fs) {
    return CurrToStrF(value, ffGeneral, 0, fs);
}

std::string CurrToStrF(Currency value, TFloatFormat format, int digits) {
    return CurrToStrF(value, format, digits, FormatSettings());
}

std::string CurrToStrF(Currency value, TFloatFormat format, int digits, const TFormatSettings& fs) {
    if (format == ffExponent) {
        TFloatRec rec = detail::CurrToDecimal(value, 4);
        RoundDigits(rec, std::clamp(digits, 1, 19));
        return detail::FormatDecimal(rec, format, std::clamp(digits, 1, 19), 0, fs);
    }
    int decimals = format == ffGeneral ? 4 : std::clamp(digits, 0, 18);
    TFloatRec rec = detail::CurrToDecimal(value, std::min(decimals, 4));
    return detail::FormatDecimal(rec, format, 20, format == ffGeneral ? 0 : decimals, fs);
}

bool TryStrToCurr(const std::string& s, Currency& value) {
    return TryStrToCurr(s, value, FormatSettings());
}

bool TryStrToCurr(const std::string& s, Currency& value, const TFormatSettings& fs) {
    std::string text, digits;
    bool negative;
    int pointPos, exponent;
    if (!NormalizeFloatText(s, fs.DecimalSeparator, text, negative, digits, pointPos, exponent)) return false;
    // Exact decimal: the digits scaled by ten thousand, rounded half to even.
    size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) {
        value = Currency();
        return true;
    }
    int64_t intLen = static_cast<int64_t>(pointPos) + exponent + 4 - static_cast<int64_t>(lead);
    digits.erase(0, lead);
    if (intLen > 19) return false;
    unsigned __int128 acc = 0;
    for (int64_t i = 0; i < intLen; ++i)
        acc = acc * 10 + static_cast<unsigned>(i < static_cast<int64_t>(digits.size()) ? digits[i] - '0' : 0);
    if (intLen >= 0 && intLen < static_cast<int64_t>(digits.size())) {
        char first = digits[intLen];
        bool rest = digits.find_first_not_of('0', intLen + 1) != std::string::npos;
        if (first > '5' || (first == '5' && (rest || (acc & 1) != 0))) ++acc;
    }
    const unsigned __int128 limit =
        negative ? static_cast<unsigned __int128>(9223372036854775808ull) : 9223372036854775807ull;
    if (acc > limit) return false;
    int64_t raw = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(acc)) : static_cast<int64_t>(acc);
    value = Currency::FromRaw(raw);
    return true;
}

Currency StrToCurr(const std::string& s) {
    return StrToCurr(s, FormatSettings());
}

Currency StrToCurr(const std::string& s, const TFormatSettings& fs) {
    Currency c;
    if (!TryStrToCurr(s, c, fs)) InvalidFloat(s);
    return c;
}

}  // namespace rtl
