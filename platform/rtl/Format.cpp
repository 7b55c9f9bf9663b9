#include "platform/rtl/Format.h"

#include <algorithm>
#include <cstdio>

#include "platform/rtl/Exceptions.h"

namespace rtl {

namespace detail {

namespace {
const char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};
}  // namespace

std::u16string Cp1251ToWide(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        out += b < 0x80 ? static_cast<char16_t>(b) : kCp1251High[b - 0x80];
    }
    return out;
}

std::string WideToCp1251(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const char16_t* hit = std::find(std::begin(kCp1251High), std::end(kCp1251High), c);
        out += hit != std::end(kCp1251High) ? static_cast<char>(0x80 + (hit - kCp1251High)) : '?';
    }
    return out;
}

}  // namespace detail

namespace {

[[noreturn]] void InvalidFormat(const std::string& fmt) {
    throw EConvertError("Format '" + fmt + "' invalid or incompatible with argument");
}

std::string HexOf(uint64_t v, int minDigits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    std::string s = buf;
    if (static_cast<int>(s.size()) < minDigits) s.insert(0, minDigits - s.size(), '0');
    return s;
}

// Integer text with at least `minDigits` digits after the sign.
std::string DecimalOf(bool negative, uint64_t magnitude, int minDigits) {
    std::string s = std::to_string(magnitude);
    if (static_cast<int>(s.size()) < minDigits) s.insert(0, minDigits - s.size(), '0');
    return negative ? "-" + s : s;
}

}  // namespace

std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args) {
    return Format(fmt, args.begin(), args.size(), FormatSettings());
}

std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args, const TFormatSettings& fs) {
    return Format(fmt, args.begin(), args.size(), fs);
}

std::string Format(const std::string& fmt, const TVarRec* args, size_t count, const TFormatSettings& fs) {
    std::string out;
    size_t argIndex = 0;
    const size_t n = fmt.size();
    auto nextArg = [&]() -> const TVarRec& {
        if (argIndex >= count) throw EConvertError("No argument for format '" + fmt + "'");
        return args[argIndex++];
    };
    auto starArg = [&]() -> int {
        const TVarRec& a = nextArg();
        if (a.VType == TVarRec::vtInteger) return a.VInteger;
        if (a.VType == TVarRec::vtInt64) return static_cast<int>(a.VInt64);
        InvalidFormat(fmt);
    };
    for (size_t i = 0; i < n; ++i) {
        char c = fmt[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= n) InvalidFormat(fmt);
        if (fmt[i] == '%') {
            out += '%';
            continue;
        }
        auto readNumber = [&](int& value) -> bool {
            if (i < n && fmt[i] == '*') {
                ++i;
                value = starArg();
                return true;
            }
            if (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                value = 0;
                while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                    value = std::min(value * 10 + (fmt[i] - '0'), 1 << 20);
                    ++i;
                }
                return true;
            }
            return false;
        };
        int width = -1, precision = -1;
        bool left = false;
        // An index and a width look alike until the ':' shows up.
        size_t save = i;
        int number;
        if (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
            readNumber(number);
            if (i < n && fmt[i] == ':') {
                argIndex = static_cast<size_t>(number);
                ++i;
            } else {
                i = save;
            }
        } else if (i < n && fmt[i] == '*' && i + 1 < n && fmt[i + 1] == ':') {
            ++i;
            argIndex = static_cast<size_t>(std::max(starArg(), 0));
            ++i;
        }
        if (i < n && fmt[i] == '-') {
            left = true;
            ++i;
        }
        if (readNumber(number)) width = number;
        if (i < n && fmt[i] == '.') {
            ++i;
            if (!readNumber(number)) number = 0;
            precision = number;
        }
        if (i >= n) InvalidFormat(fmt);
        char type = fmt[i];
        if (type >= 'a' && type <= 'z') type = static_cast<char>(type - 32);
        const TVarRec& a = nextArg();
        std::string text;
        switch (type) {
            case 'D':
            case 'U':
            case 'X': {
                bool negative = false;
                uint64_t bits;
                if (a.VType == TVarRec::vtInteger) {
                    bits = type == 'D' ? static_cast<uint64_t>(static_cast<int64_t>(a.VInteger))
                                       : static_cast<uint32_t>(a.VInteger);
                    negative = type == 'D' && a.VInteger < 0;
                } else if (a.VType == TVarRec::vtInt64) {
                    bits = static_cast<uint64_t>(a.VInt64);
                    negative = type == 'D' && a.VInt64 < 0;
                } else if (a.VType == TVarRec::vtUInt64) {
                    bits = a.VUInt64;
                } else {
                    InvalidFormat(fmt);
                }
                int minDigits = std::max(precision, 0);
                if (type == 'X')
                    text = HexOf(bits, minDigits);
                else
                    text = DecimalOf(negative, negative ? 0 - bits : bits, minDigits);
                break;
            }
            case 'E':
            case 'F':
            case 'G':
            case 'N':
            case 'M': {
                if (a.VType != TVarRec::vtExtended && a.VType != TVarRec::vtCurrency) InvalidFormat(fmt);
                TFloatFormat ff;
                int prec, digits;
                switch (type) {
                    case 'E':
                        ff = ffExponent;
                        prec = precision < 0 ? 15 : precision;
                        digits = 3;
                        break;
                    case 'F':
                        ff = ffFixed;
                        prec = 18;
                        digits = precision < 0 ? 2 : precision;
                        break;
                    case 'G':
                        ff = ffGeneral;
                        prec = precision < 0 ? 15 : precision;
                        digits = 0;
                        break;
                    case 'N':
                        ff = ffNumber;
                        prec = 18;
                        digits = precision < 0 ? 2 : precision;
                        break;
                    default:
                        ff = ffCurrency;
                        prec = 18;
                        digits = precision < 0 ? fs.CurrencyDecimals : precision;
                        break;
                }
                if (a.VType == TVarRec::vtCurrency) {
                    Currency cur = Currency::FromRaw(a.VCurrency);
                    if (ff == ffExponent || ff == ffGeneral) {
                        text = FloatToStrF(cur.ToDouble(), ff, prec, digits, fs);
                    } else {
                        text = CurrToStrF(cur, ff, digits, fs);
                    }
                } else {
                    text = FloatToStrF(static_cast<double>(a.VExtended), ff, prec, digits, fs);
                }
                break;
            }
            case 'S': {
                switch (a.VType) {
                    case TVarRec::vtAnsiString:
                        text = *a.VAnsiString;
                        break;
                    case TVarRec::vtPChar:
                        text = a.VPChar != nullptr ? a.VPChar : "";
                        break;
                    case TVarRec::vtChar:
                        text = std::string(1, a.VChar);
                        break;
                    case TVarRec::vtWideString:
                        text = detail::WideToCp1251(*a.VWideString);
                        break;
                    case TVarRec::vtWideChar:
                        text = detail::WideToCp1251(std::u16string(1, a.VWideChar));
                        break;
                    default:
                        InvalidFormat(fmt);
                }
                if (precision >= 0 && static_cast<size_t>(precision) < text.size()) text.resize(precision);
                break;
            }
            case 'P': {
                if (a.VType == TVarRec::vtPointer)
                    text = HexOf(reinterpret_cast<uintptr_t>(a.VPointer), 2 * sizeof(void*));
                else if (a.VType == TVarRec::vtPChar)
                    text = HexOf(reinterpret_cast<uintptr_t>(a.VPChar), 2 * sizeof(void*));
                else
                    InvalidFormat(fmt);
                break;
            }
            default:
                InvalidFormat(fmt);
        }
        if (width > static_cast<int>(text.size())) {
            if (left)
                text.append(width - text.size(), ' ');
            else
                text.insert(0, width - text.size(), ' ');
        }
        out += text;
    }
    return out;
}

}  // namespace rtl
