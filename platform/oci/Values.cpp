// Text conversion, errors, Oracle NUMBER and DATE formats, declared types.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "platform/oci/StandIn.h"

namespace oci {

// ---- errors -------------------------------------------------------------------------------------------

std::string oraMessage(sb4 code) {
    switch (code) {
        case 1:
            return "unique constraint violated";
        case 54:
            return "resource busy and acquire with NOWAIT specified or timeout expired";
        case 900:
            return "invalid SQL statement";
        case 904:
            return "invalid identifier";
        case 942:
            return "table or view does not exist";
        case 1002:
            return "fetch out of sequence";
        case 1007:
            return "variable not in select list";
        case 1008:
            return "not all variables bound";
        case 1017:
            return "invalid username/password; logon denied";
        case 1036:
            return "illegal variable name/number";
        case 1086:
            return "savepoint never established in this session or is invalid";
        case 1400:
            return "cannot insert NULL";
        case 1403:
            return "no data found";
        case 1405:
            return "fetched column value is NULL";
        case 1426:
            return "numeric overflow";
        case 1435:
            return "user does not exist";
        case 1455:
            return "converting column overflows integer datatype";
        case 1722:
            return "invalid number";
        case 1843:
            return "not a valid month";
        case 1847:
            return "day of month must be between 1 and last day of month";
        case 1858:
            return "a non-numeric character was found where a numeric was expected";
        case 1861:
            return "literal does not match format string";
        case 1877:
            return "string is too long for internal buffer";
        case 3113:
            return "end-of-file on communication channel";
        case 3114:
            return "not connected to ORACLE";
        case 4043:
            return "object does not exist";
        case 6502:
            return "PL/SQL: numeric or value error";
        case 6550:
            return "line 1, column 1:\nPLS-00103: Encountered an unexpected symbol";
        case 12154:
            return "TNS:could not resolve the connect identifier specified";
        case 24333:
            return "zero iteration count";
        case 24337:
            return "statement handle not prepared";
        case 24338:
            return "statement handle not executed";
        case 24374:
            return "define not done before fetch or execute and fetch";
        case 1458:
            return "invalid length inside variable character string";
        case 1480:
            return "trailing null missing from STR bind value";
        case 1484:
            return "arrays can only be bound to PL/SQL statements";
        case 1483:
            return "invalid length for DATE or NUMBER bind variable";
        case 1840:
            return "input value not long enough for date format";
        case 1841:
            return "(full) year must be between -4713 and +9999, and not be 0";
        case 1850:
            return "hour must be between 0 and 23";
        case 1851:
            return "minutes must be between 0 and 59";
        case 1852:
            return "seconds must be between 0 and 59";
        case 1867:
            return "the interval is invalid";
        case 1873:
            return "the leading precision of the interval is too small";
        case 3001:
            return "unimplemented feature";
        case 22053:
            return "overflow error";
        case 22062:
            return "invalid input string";
        case 24316:
            return "illegal handle type";
        case 24315:
            return "illegal attribute type";
        default:
            return "internal error";
    }
}

void raise(sb4 code, const std::string& text) {
    throw OraException(code, text);
}
void raise(sb4 code) {
    throw OraException(code, oraMessage(code));
}

// ---- text ---------------------------------------------------------------------------------------------

namespace {

const uint16_t kCp1251High[128] = {
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

const std::unordered_map<uint32_t, char>& reverse1251() {
    static const std::unordered_map<uint32_t, char> map = [] {
        std::unordered_map<uint32_t, char> m;
        for (int i = 0; i < 128; ++i) m[kCp1251High[i]] = static_cast<char>(0x80 + i);
        return m;
    }();
    return map;
}

}  // namespace

std::string ansiToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        uint32_t cp = c < 0x80 ? c : kCp1251High[c - 0x80];
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string utf8ToAnsi(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const auto& rev = reverse1251();
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = s[i];
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else {
            out += '?';
            ++i;
            continue;
        }
        bool ok = i + n <= s.size();
        for (size_t k = 1; ok && k < n; ++k) {
            unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        i += n;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else {
            auto it = rev.find(cp);
            out += it == rev.end() ? '?' : it->second;
        }
    }
    return out;
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool sameText(std::string_view a, std::string_view b) {
    return upper(a) == upper(b);
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

// ---- decimals -----------------------------------------------------------------------------------------

namespace {

void normalize(Decimal& d) {
    size_t lead = 0;
    while (lead < d.digits.size() && d.digits[lead] == '0') ++lead;
    d.digits.erase(0, lead);
    d.exp10 -= static_cast<int>(lead);
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) {
        d.negative = false;
        d.exp10 = 0;
    }
}

}  // namespace

bool parseDecimal(std::string_view text, Decimal& out, char decimalChar) {
    std::string t = trim(text);
    size_t i = 0;
    Decimal d;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) d.negative = t[i++] == '-';
    std::string intPart, fracPart;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') intPart += t[i++];
    if (i < t.size() && t[i] == decimalChar) {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') fracPart += t[i++];
    }
    if (intPart.empty() && fracPart.empty()) return false;
    long exponent = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool neg = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
        if (i >= t.size()) return false;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            exponent = exponent * 10 + (t[i++] - '0');
            if (exponent > 100000) return false;
        }
        if (neg) exponent = -exponent;
    }
    if (i != t.size()) return false;
    d.digits = intPart + fracPart;
    d.exp10 = static_cast<int>(intPart.size() + exponent);
    normalize(d);
    out = d;
    return true;
}

Decimal decimalFromUInt(uint64_t v) {
    Decimal d;
    d.digits = std::to_string(v);
    d.exp10 = static_cast<int>(d.digits.size());
    normalize(d);
    return d;
}

Decimal decimalFromInt(int64_t v) {
    uint64_t mag = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    Decimal d = decimalFromUInt(mag);
    d.negative = v < 0;
    return d;
}

Decimal decimalFromDouble(double v) {
    if (!std::isfinite(v)) raise(1426);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    Decimal d;
    parseDecimal(std::string_view(buf, res.ptr - buf), d);
    return d;
}

std::string decimalToText(const Decimal& d, char decimalChar) {
    if (d.isZero()) return "0";
    std::string r = d.negative ? "-" : "";
    int n = static_cast<int>(d.digits.size());
    if (d.exp10 <= 0) {
        r += decimalChar;
        r.append(-d.exp10, '0');
        r += d.digits;
    } else if (d.exp10 >= n) {
        r += d.digits;
        r.append(d.exp10 - n, '0');
    } else {
        r += d.digits.substr(0, d.exp10);
        r += decimalChar;
        r += d.digits.substr(d.exp10);
    }
    return r;
}

double decimalToDouble(const Decimal& d) {
    if (d.isZero()) return 0.0;
    std::string t = (d.negative ? "-0." : "0.") + d.digits + "e" + std::to_string(d.exp10);
    double v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

bool decimalToUInt(const Decimal& d, uint64_t& out) {
    out = 0;
    if (d.isZero() || d.exp10 <= 0) return true;
    if (d.negative || d.exp10 > 20) return false;
    unsigned __int128 acc = 0;
    for (int k = 0; k < d.exp10; ++k) {
        int digit = k < static_cast<int>(d.digits.size()) ? d.digits[k] - '0' : 0;
        acc = acc * 10 + digit;
        if (acc > UINT64_MAX) return false;
    }
    out = static_cast<uint64_t>(acc);
    return true;
}

bool decimalToInt(const Decimal& d, int64_t& out) {
    out = 0;
    if (d.isZero() || d.exp10 <= 0) return true;
    if (d.exp10 > 20) return false;
    Decimal mag = d;
    mag.negative = false;
    uint64_t u;
    if (!decimalToUInt(mag, u)) return false;
    if (d.negative) {
        if (u > uint64_t(INT64_MAX) + 1) return false;
        out = static_cast<int64_t>(uint64_t(0) - u);
    } else {
        if (u > uint64_t(INT64_MAX)) return false;
        out = static_cast<int64_t>(u);
    }
    return true;
}

// ---- NUMBER bytes -------------------------------------------------------------------------------------

std::string encodeNumber(const Decimal& dIn) {
    if (dIn.isZero()) return std::string(1, '\x80');
    std::string digits = dIn.digits;
    int e = dIn.exp10;
    if (e % 2 != 0) {
        digits.insert(digits.begin(), '0');
        e += 1;
    }
    int E = e / 2;
    if (digits.size() % 2) digits += '0';
    std::vector<int> pairs;
    for (size_t k = 0; k < digits.size(); k += 2)
        pairs.push_back((digits[k] - '0') * 10 + (digits[k + 1] - '0'));
    if (pairs.size() > 20) {
        bool up = pairs[20] >= 50;
        pairs.resize(20);
        for (int k = 19; up && k >= 0; --k) {
            if (++pairs[k] == 100) {
                pairs[k] = 0;
            } else {
                up = false;
            }
        }
        if (up) {  // 99...99 rounded up to the next power of 100
            pairs.assign(1, 1);
            E += 1;
        }
    }
    while (!pairs.empty() && pairs.back() == 0) pairs.pop_back();
    if (E > 63) raise(1426);
    if (E < -64) return std::string(1, '\x80');  // underflow reads as zero
    std::string out;
    ub1 expByte = static_cast<ub1>(0xC0 + E);
    if (!dIn.negative) {
        out += static_cast<char>(expByte);
        for (int p : pairs) out += static_cast<char>(p + 1);
    } else {
        out += static_cast<char>(0xFF - expByte);
        for (int p : pairs) out += static_cast<char>(101 - p);
        if (pairs.size() < 20) out += static_cast<char>(102);
    }
    return out;
}

Decimal decodeNumber(const ub1* b, size_t len) {
    if (len == 0 || len > 21) raise(1722);
    Decimal d;
    if (len == 1 && b[0] == 0x80) return d;
    bool positive = (b[0] & 0x80) != 0;
    if ((len == 1 && b[0] == 0) || (len == 2 && b[0] == 0xFF && b[1] == 101)) raise(1722);  // infinities
    int E;
    std::string digits;
    if (positive) {
        E = static_cast<int>(b[0]) - 0xC0;
        for (size_t k = 1; k < len; ++k) {
            int p = b[k] - 1;
            if (p < 0 || p > 99) raise(1722);
            digits += static_cast<char>('0' + p / 10);
            digits += static_cast<char>('0' + p % 10);
        }
    } else {
        E = (0xFF - static_cast<int>(b[0])) - 0xC0;
        for (size_t k = 1; k < len; ++k) {
            if (b[k] == 102) break;
            int p = 101 - b[k];
            if (p < 0 || p > 99) raise(1722);
            digits += static_cast<char>('0' + p / 10);
            digits += static_cast<char>('0' + p % 10);
        }
        d.negative = true;
    }
    d.digits = digits;
    d.exp10 = 2 * E;
    normalize(d);
    return d;
}

Decimal valueToDecimal(const Value& v) {
    switch (v.kind) {
        case Value::Int:
            return decimalFromInt(v.i);
        case Value::Real:
            return decimalFromDouble(v.r);
        case Value::Text:
        case Value::Blob: {
            Decimal d;
            if (!parseDecimal(v.s, d)) raise(1722);
            return d;
        }
        default:
            return Decimal{};
    }
}

Value decimalToValue(const Decimal& d) {
    int64_t i;
    bool integral = d.isZero() || d.exp10 >= static_cast<int>(d.digits.size());
    if (integral && decimalToInt(d, i)) return Value::ofInt(i);
    return Value::ofReal(decimalToDouble(d));
}

// ---- dates --------------------------------------------------------------------------------------------

namespace {

bool leap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int daysIn(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : d[m - 1];
}

// Julian day number (noon based) to civil date, proleptic Gregorian.
DateParts fromJulian(double jd) {
    DateParts p;
    double z = std::floor(jd + 0.5);
    double frac = jd + 0.5 - z;
    int64_t a = static_cast<int64_t>(z) + 32044;
    int64_t b = (4 * a + 3) / 146097;
    int64_t c = a - 146097 * b / 4;
    int64_t dd = (4 * c + 3) / 1461;
    int64_t e = c - 1461 * dd / 4;
    int64_t m = (5 * e + 2) / 153;
    p.day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    p.month = static_cast<int>(m + 3 - 12 * (m / 10));
    p.year = static_cast<int>(100 * b + dd - 4800 + m / 10);
    int64_t ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000) ms = 86399999;
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.nanos = static_cast<uint32_t>(ms % 1000) * 1000000u;
    return p;
}

}  // namespace

bool validDate(const DateParts& p) {
    return p.year >= -4712 && p.year <= 9999 && p.year != 0 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
           p.day <= daysIn(p.year < 0 ? -p.year : p.year, p.month) && p.hour >= 0 && p.hour < 24 &&
           p.minute >= 0 && p.minute < 60 && p.second >= 0 && p.second < 60 && p.nanos < 1000000000u;
}

void encodeDate(const DateParts& p, ub1 out[7]) {
    int y = p.year < 0 ? -p.year : p.year;
    out[0] = static_cast<ub1>(y / 100 + 100);
    out[1] = static_cast<ub1>(y % 100 + 100);
    out[2] = static_cast<ub1>(p.month);
    out[3] = static_cast<ub1>(p.day);
    out[4] = static_cast<ub1>(p.hour + 1);
    out[5] = static_cast<ub1>(p.minute + 1);
    out[6] = static_cast<ub1>(p.second + 1);
}

DateParts decodeDate(const ub1 in[7]) {
    DateParts p;
    int y = (static_cast<int>(in[0]) - 100) * 100 + (static_cast<int>(in[1]) - 100);
    p.year = y < 0 ? -y : y;
    p.month = in[2];
    p.day = in[3];
    p.hour = in[4] - 1;
    p.minute = in[5] - 1;
    p.second = in[6] - 1;
    return p;
}

std::string dateToText(const DateParts& p, int fraction) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    std::string r = buf;
    if (fraction > 0) {
        std::snprintf(buf, sizeof buf, "%09u", p.nanos);
        r += '.';
        r += std::string(buf, fraction > 9 ? 9 : fraction);
    }
    return r;
}

std::string timestampToText(const DateParts& p) {
    std::string r = dateToText(p, p.nanos ? 9 : 0);
    if (p.hasZone) {
        const int z = p.zoneMinutes < 0 ? -p.zoneMinutes : p.zoneMinutes;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%c%02d:%02d", p.zoneMinutes < 0 ? '-' : '+', z / 60, z % 60);
        r += buf;
    }
    return r;
}

bool parseDateText(std::string_view sv, DateParts& out) {
    // The form the database keeps, read without the general parser.
    if (sv.size() == 19 && sv[4] == '-' && sv[7] == '-' && sv[10] == ' ' && sv[13] == ':' && sv[16] == ':') {
        int v[6];
        static const int starts[6] = {0, 5, 8, 11, 14, 17};
        bool digits = true;
        for (int k = 0; k < 6 && digits; ++k) {
            const int width = k == 0 ? 4 : 2;
            v[k] = 0;
            for (int j = 0; j < width; ++j) {
                const char c = sv[static_cast<size_t>(starts[k] + j)];
                if (c < '0' || c > '9') {
                    digits = false;
                    break;
                }
                v[k] = v[k] * 10 + (c - '0');
            }
        }
        if (digits) {
            DateParts p;
            p.year = v[0];
            p.month = v[1];
            p.day = v[2];
            p.hour = v[3];
            p.minute = v[4];
            p.second = v[5];
            if (!validDate(p)) return false;
            out = p;
            return true;
        }
    }
    std::string s = trim(sv);
    DateParts p;
    size_t i = 0;
    auto num = [&](int width, int& v) {
        int n = 0;
        v = 0;
        while (i < s.size() && n < width && s[i] >= '0' && s[i] <= '9') {
            v = v * 10 + (s[i++] - '0');
            ++n;
        }
        return n == width;
    };
    auto expect = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    bool neg = expect('-');
    if (!num(4, p.year) || !expect('-') || !num(2, p.month) || !expect('-') || !num(2, p.day)) return false;
    if (neg) p.year = -p.year;
    if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
        ++i;
        if (!num(2, p.hour) || !expect(':') || !num(2, p.minute)) return false;
        if (expect(':')) {
            if (!num(2, p.second)) return false;
            if (expect('.')) {
                std::string frac;
                while (i < s.size() && s[i] >= '0' && s[i] <= '9') frac += s[i++];
                frac.resize(9, '0');
                p.nanos = static_cast<uint32_t>(std::stoul(frac.substr(0, 9)));
            }
        }
        if (i < s.size() && (s[i] == 'Z' || s[i] == '+' || s[i] == '-')) {
            p.hasZone = true;
            if (s[i] == 'Z') {
                ++i;
            } else {
                int sign = s[i++] == '-' ? -1 : 1;
                int hh, mm = 0;
                if (!num(2, hh)) return false;
                if (expect(':')) {
                    if (!num(2, mm)) return false;
                }
                p.zoneMinutes = sign * (hh * 60 + mm);
            }
        }
    }
    if (i != s.size() || !validDate(p)) return false;
    out = p;
    return true;
}

DateParts valueToDate(const Value& v) {
    DateParts p;
    switch (v.kind) {
        case Value::Text:
            if (!parseDateText(v.s, p)) raise(1861);
            return p;
        case Value::Int:
            return fromJulian(static_cast<double>(v.i));
        case Value::Real:
            return fromJulian(v.r);
        default:
            raise(1861);
    }
}

// ---- declared types -----------------------------------------------------------------------------------

std::optional<TypeInfo> parseDeclaredType(std::string_view declIn, bool argument) {
    std::string decl = upper(trim(declIn));
    std::string base;
    std::vector<int> nums;
    std::string rest;
    size_t i = 0;
    while (i < decl.size() && decl[i] != '(') base += decl[i++];
    if (i < decl.size()) {
        ++i;
        std::string cur;
        while (i < decl.size() && decl[i] != ')') {
            if (decl[i] == ',') {
                nums.push_back(std::atoi(trim(cur).c_str()));
                cur.clear();
            } else {
                cur += decl[i];
            }
            ++i;
        }
        if (!trim(cur).empty()) nums.push_back(std::atoi(trim(cur).c_str()));
        if (i < decl.size()) ++i;
        rest = trim(decl.substr(i));
    }
    base = trim(base);
    // collapse inner blanks
    std::string b;
    for (char c : base)
        if (c != ' ' || (!b.empty() && b.back() != ' ')) b += c;
    base = b;
    if (!rest.empty()) base += " " + rest;
    // "VARCHAR2(40 CHAR)" leaves a unit word inside the numbers; atoi took the count already.
    TypeInfo t;
    auto n0 = [&](int def) { return nums.empty() ? def : nums[0]; };
    const bool national = base == "NVARCHAR2" || base == "NVARCHAR" || base == "NCHAR" || base == "NCLOB";
    if (base == "VARCHAR2" || base == "VARCHAR" || base == "NVARCHAR2" || base == "NVARCHAR" ||
        base == "CHARACTER VARYING" || base == "TEXT" || base == "STRING") {
        t.type = SQLT_CHR;
        t.size = static_cast<ub2>(n0(argument ? 0 : 4000));
        t.charsetForm = national ? 2 : 1;
    } else if (base == "CHAR" || base == "NCHAR" || base == "CHARACTER") {
        t.type = SQLT_AFC;
        t.size = static_cast<ub2>(n0(argument ? 0 : 1));
        t.charsetForm = national ? 2 : 1;
    } else if (base == "CLOB" || base == "NCLOB") {
        t.type = SQLT_CLOB;
        t.size = 4000;
        t.charsetForm = national ? 2 : 1;
    } else if (base == "BLOB") {
        t.type = SQLT_BLOB;
        t.size = 4000;
    } else if (base == "BFILE") {
        t.type = SQLT_BFILEE;
        t.size = 530;
    } else if (base == "LONG") {
        t.type = SQLT_LNG;
        t.charsetForm = 1;
    } else if (base == "LONG RAW") {
        t.type = SQLT_LBI;
    } else if (base == "NUMBER" || base == "NUMERIC" || base == "DECIMAL" || base == "DEC") {
        t.type = SQLT_NUM;
        t.size = 22;
        if (nums.empty()) {
            t.precision = 0;
            t.scale = argument ? 0 : -127;
        } else {
            t.precision = static_cast<sb2>(nums[0]);
            t.scale = static_cast<sb1>(nums.size() > 1 ? nums[1] : 0);
        }
    } else if (base == "INTEGER" || base == "INT" || base == "SMALLINT" || base == "BIGINT" ||
               base == "TINYINT" || base == "MEDIUMINT") {
        t.type = SQLT_NUM;
        t.size = 22;
        t.precision = 38;
        t.scale = 0;
    } else if (base == "BINARY_INTEGER" || base == "PLS_INTEGER" || base == "NATURAL" || base == "POSITIVE") {
        t.type = SQLT_INT;
        t.size = 4;
    } else if (base == "FLOAT" || base == "REAL" || base == "DOUBLE" || base == "DOUBLE PRECISION") {
        t.type = SQLT_NUM;
        t.size = 22;
        t.precision = static_cast<sb2>(base == "FLOAT" ? n0(126) : base == "REAL" ? 63 : 126);
        t.scale = -127;
    } else if (base == "BINARY_DOUBLE") {
        t.type = SQLT_IBDOUBLE;
        t.size = 8;
    } else if (base == "BINARY_FLOAT") {
        t.type = SQLT_IBFLOAT;
        t.size = 4;
    } else if (base == "DATE" || base == "DATETIME") {
        t.type = SQLT_DAT;
        t.size = 7;
    } else if (base.rfind("TIMESTAMP", 0) == 0) {
        t.fsprecision = static_cast<ub1>(n0(6));
        if (base.find("LOCAL TIME ZONE") != std::string::npos) {
            t.type = SQLT_TIMESTAMP_LTZ;
            t.size = 11;
        } else if (base.find("TIME ZONE") != std::string::npos) {
            t.type = SQLT_TIMESTAMP_TZ;
            t.size = 13;
        } else {
            t.type = SQLT_TIMESTAMP;
            t.size = 11;
        }
    } else if (base.rfind("INTERVAL YEAR", 0) == 0) {
        t.type = SQLT_INTERVAL_YM;
        t.size = 5;
        t.precision = static_cast<sb2>(n0(2));
    } else if (base.rfind("INTERVAL DAY", 0) == 0) {
        t.type = SQLT_INTERVAL_DS;
        t.size = 11;
        t.precision = 2;
        t.scale = static_cast<sb1>(n0(6));
    } else if (base == "RAW" || base == "BYTEA") {
        t.type = SQLT_BIN;
        t.size = static_cast<ub2>(n0(base == "RAW" ? (argument ? 0 : 2000) : 2000));
    } else if (base == "REF CURSOR" || base == "SYS_REFCURSOR" || base == "CURSOR") {
        t.type = argument ? SQLT_CUR : SQLT_RSET;
    } else if (base == "BOOLEAN") {
        t.type = SQLT_BOL;
        t.size = 1;
    } else {
        return std::nullopt;
    }
    return t;
}

// ---- SQLite values ------------------------------------------------------------------------------------

Value columnValue(sqlite3_stmt* st, int col) {
    switch (sqlite3_column_type(st, col)) {
        case SQLITE_INTEGER:
            return Value::ofInt(sqlite3_column_int64(st, col));
        case SQLITE_FLOAT:
            return Value::ofReal(sqlite3_column_double(st, col));
        case SQLITE_TEXT: {
            const char* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
            return Value::ofText(std::string(p, sqlite3_column_bytes(st, col)));
        }
        case SQLITE_BLOB: {
            const char* p = static_cast<const char*>(sqlite3_column_blob(st, col));
            int n = sqlite3_column_bytes(st, col);
            return Value::ofBlob(n ? std::string(p, n) : std::string());
        }
        default:
            return Value::null();
    }
}

void bindValue(sqlite3_stmt* st, int index, const Value& v) {
    switch (v.kind) {
        case Value::Int:
            sqlite3_bind_int64(st, index, v.i);
            break;
        case Value::Real:
            sqlite3_bind_double(st, index, v.r);
            break;
        case Value::Text:
            sqlite3_bind_text(st, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
            break;
        case Value::Blob:
            sqlite3_bind_blob(st, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
            break;
        default:
            sqlite3_bind_null(st, index);
            break;
    }
}

}  // namespace oci
