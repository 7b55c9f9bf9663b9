#include "platform/rtl/Format.h"

#include <algorithm>
#include <cstdio>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace rtl {

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
                    case TVarRec::vtStringView:
                        text.assign(a.VStringView.Data, a.VStringView.Size);
                        break;
                    case TVarRec::vtPChar:
                        text = a.VPChar != nullptr ? a.VPChar : "";
                        break;
                    case TVarRec::vtChar:
                        text = std::string(1, a.VChar);
                        break;
                    case TVarRec::vtWideString:
                        text = WideToAnsi(*a.VWideString);
                        break;
                    case TVarRec::vtWideChar:
                        text = WideToAnsi(std::u16string(1, a.VWideChar));
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
