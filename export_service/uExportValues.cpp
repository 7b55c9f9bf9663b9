// Value forms of the export's data file.
#include "export_service/uExportValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/uDataFiles.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace svc {

std::string IntegerText(int32_t value) {
    return std::to_string(value);
}

std::string AmountText(double value) {
    // The general format of 15 significant digits, as TPersistentObject::FloatToText writes it:
    // the 18 leading digits correctly rounded, then rounded half away from zero to 15, trailing
    // zeros dropped, fixed notation for decimal exponents -4 to 15. The fixed form is worked out
    // here without the formatting routine's text round trips, since a package holds millions of
    // amounts; zero, values that are no numbers and the scientific form go to the routine itself.
    if (value == 0 || !std::isfinite(value)) return TPersistentObject::FloatToText(value);
    char buf[64];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 17).ptr;
    // buf holds "d.ddddddddddddddddde<x>": 18 digits and the exponent of the first.
    char digits[18];
    digits[0] = buf[0];
    std::copy(buf + 2, buf + 19, digits + 1);
    int exponent = 0;
    const char* e = buf + 20;
    if (*e == '+') ++e;
    std::from_chars(e, end, exponent);
    ++exponent;  // digits before the point
    int n = 15;
    if (digits[15] >= '5') {
        int i = 14;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            // 999...9 rounded up: one digit more before the point
            digits[0] = '1';
            n = 1;
            ++exponent;
        }
    }
    while (n > 0 && digits[n - 1] == '0') --n;
    if (exponent > 15 || exponent < -4) return TPersistentObject::FloatToText(value);
    std::string text;
    text.reserve(24);
    if (value < 0) text += '-';
    if (exponent <= 0) {
        text += '0';
    } else {
        for (int i = 0; i < exponent; ++i) text += i < n ? digits[i] : '0';
    }
    if (n > exponent) {
        text += '.';
        for (int i = exponent; i < 0; ++i) text += '0';
        text.append(digits + std::max(exponent, 0), digits + n);
    }
    return text;
}

std::string MeasureText(double value, int digits) {
    if (std::isnan(value)) return "NAN";
    if (value == 0) return "0";
    if (value < 0) return "-" + MeasureText(-value, digits);
    if (std::isinf(value)) return "INF";
    digits = std::clamp(digits, 1, 17);

    // The value rounded to `digits` significant digits (ties to even, on the exact binary
    // value): "d.ddde<x>", so p = x + 1 digits stand before the point.
    char buf[64];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1).ptr;
    const std::string_view sci(buf, static_cast<size_t>(end - buf));
    const size_t e = sci.find('e');
    std::string m;
    for (char c : sci.substr(0, e))
        if (c != '.') m += c;
    std::string_view exponent = sci.substr(e + 1);
    if (exponent.front() == '+') exponent.remove_prefix(1);
    int p = 0;
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), p);
    ++p;

    // Zeros after the point go; zeros before it stay, in scientific notation as well.
    int n = static_cast<int>(m.size());
    while (m[static_cast<size_t>(n) - 1] == '0' && p < n) --n;
    m.resize(static_cast<size_t>(n));

    const bool scientific = p < -1 || p > n + 2;
    const int exponent10 = p - 1;
    if (scientific) p = 1;
    while (p > static_cast<int>(m.size())) m += '0';
    for (; p < 0; ++p) m.insert(m.begin(), '0');
    if (p == 0)
        m.insert(m.begin(), '.');
    else if (p < static_cast<int>(m.size()))
        m.insert(static_cast<size_t>(p), 1, '.');
    if (scientific) m += "E" + std::to_string(exponent10);
    return m;
}

namespace {

// `value` as at least `width` decimal digits, as printf's "%.<width>d" writes a value >= 0.
char* PutDigits(char* at, unsigned value, int width) {
    char digits[12];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (auto pad = width - (end - digits); pad > 0; --pad) *at++ = '0';
    return std::copy(digits, end, at);
}

char* PutDate(char* at, rtl::Word year, rtl::Word month, rtl::Word day) {
    at = PutDigits(at, year, 4);
    *at++ = '-';
    at = PutDigits(at, month, 2);
    *at++ = '-';
    return PutDigits(at, day, 2);
}

}  // namespace

void AppendDateTimeText(std::string& out, rtl::TDateTime value) {
    rtl::Word year, month, day, hour, minute, second, msec;
    rtl::DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    char buf[40];
    char* at = PutDate(buf, year, month, day);
    *at++ = 'T';
    at = PutDigits(at, hour, 2);
    *at++ = ':';
    at = PutDigits(at, minute, 2);
    *at++ = ':';
    at = PutDigits(at, second, 2);
    *at++ = 'Z';
    out.append(buf, at);
}

void AppendDateText(std::string& out, rtl::TDateTime value) {
    rtl::Word year, month, day;
    rtl::DecodeDate(value, year, month, day);
    char buf[24];
    out.append(buf, PutDate(buf, year, month, day));
}

std::string DateTimeText(rtl::TDateTime value) {
    std::string text;
    AppendDateTimeText(text, value);
    return text;
}

std::string DateText(rtl::TDateTime value) {
    std::string text;
    AppendDateText(text, value);
    return text;
}

std::string AnsiText(std::string_view ansi) {
    return rtl::AnsiToUtf8(ansi);
}

}  // namespace svc
