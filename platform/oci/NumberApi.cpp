// OCINumber, date-time and interval routines.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

namespace {

Decimal fromOciNumber(const OCINumber* n) {
    ub1 len = n->OCINumberPart[0];
    if (len == 0 || len > 21) raise(1722);
    return decodeNumber(n->OCINumberPart + 1, len);
}

void toOciNumber(const Decimal& d, OCINumber* n) {
    std::string b = encodeNumber(d);
    std::memset(n->OCINumberPart, 0, OCI_NUMBER_SIZE);
    n->OCINumberPart[0] = static_cast<ub1>(b.size());
    std::memcpy(n->OCINumberPart + 1, b.data(), b.size());
}

// NLS_NUMERIC_CHARACTERS='<decimal><group>'
void numericChars(const OraText* nls, ub4 len, char& dec, char& grp) {
    dec = '.';
    grp = ',';
    if (!nls || len == 0) return;
    std::string s(reinterpret_cast<const char*>(nls), len);
    auto q = s.find('\'');
    if (q != std::string::npos && q + 2 < s.size()) {
        dec = s[q + 1];
        grp = s[q + 2];
    }
}

// ---- date-time format models ---------------------------------------------------------------------------

const char* const kMonths[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                               "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
const char* const kDays[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};

int weekday(int y, int m, int d) {  // 0 = Sunday
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

std::string cased(const std::string& word, const std::string& element) {
    // "MON" -> JAN, "Mon" -> Jan, "mon" -> jan
    bool firstUpper = !element.empty() && element[0] >= 'A' && element[0] <= 'Z';
    bool secondUpper = element.size() > 1 && element[1] >= 'A' && element[1] <= 'Z';
    std::string r = word;
    for (size_t k = 0; k < r.size(); ++k) {
        bool up = k == 0 ? firstUpper : secondUpper;
        r[k] = static_cast<char>(up ? std::toupper(static_cast<unsigned char>(r[k]))
                                    : std::tolower(static_cast<unsigned char>(r[k])));
    }
    return r;
}

struct Element {
    std::string name;  // upper case element, or literal text
    std::string raw;
    bool literal = false;
    int digits = 0;  // FF precision
};

std::vector<Element> parseFormat(const std::string& fmt) {
    static const char* const names[] = {"YYYY", "RRRR", "HH24", "HH12", "MONTH", "TZH", "TZM",   "TZR",
                                        "A.M.", "P.M.", "YYY",  "MON",  "DAY",   "DDD", "SSSSS", "YY",
                                        "RR",   "MM",   "DD",   "DY",   "HH",    "MI",  "SS",    "FF",
                                        "AM",   "PM",   "FM",   "Y",    "D",     "X",   "E"};
    std::vector<Element> out;
    size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i];
        if (c == '"') {
            auto e = fmt.find('"', i + 1);
            e = e == std::string::npos ? fmt.size() : e;
            out.push_back({fmt.substr(i + 1, e - i - 1), "", true, 0});
            i = std::min(e + 1, fmt.size());
            continue;
        }
        std::string rest = upper(fmt.substr(i));
        bool matched = false;
        for (const char* n : names) {
            size_t len = std::strlen(n);
            if (rest.compare(0, len, n) == 0) {
                Element el{n, fmt.substr(i, len), false, 0};
                i += len;
                if (el.name == "FF") {
                    el.digits = 0;
                    if (i < fmt.size() && fmt[i] >= '1' && fmt[i] <= '9') el.digits = fmt[i++] - '0';
                }
                out.push_back(el);
                matched = true;
                break;
            }
        }
        if (!matched) {
            out.push_back({std::string(1, c), "", true, 0});
            ++i;
        }
    }
    return out;
}

std::string pad(long v, int width, bool fm) {
    std::string s = std::to_string(v < 0 ? -v : v);
    if (!fm && static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    return (v < 0 ? "-" : "") + s;
}

std::string formatDate(const DateParts& p, const std::string& fmt, int fsprec) {
    std::string out;
    bool fm = false;
    for (const Element& e : parseFormat(fmt)) {
        if (e.literal) {
            out += e.name;
            continue;
        }
        const std::string& n = e.name;
        int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        if (n == "FM")
            fm = !fm;
        else if (n == "YYYY" || n == "RRRR")
            out += pad(p.year, 4, fm);
        else if (n == "YYY")
            out += pad(p.year % 1000, 3, fm);
        else if (n == "YY" || n == "RR")
            out += pad(p.year % 100, 2, fm);
        else if (n == "Y")
            out += pad(p.year % 10, 1, fm);
        else if (n == "MM")
            out += pad(p.month, 2, fm);
        else if (n == "MONTH") {
            std::string m = cased(kMonths[p.month - 1], e.raw);
            if (!fm) m.resize(9, ' ');
            out += m;
        } else if (n == "MON")
            out += cased(std::string(kMonths[p.month - 1]).substr(0, 3), e.raw);
        else if (n == "DD")
            out += pad(p.day, 2, fm);
        else if (n == "D")
            out += pad(weekday(p.year, p.month, p.day) + 1, 1, fm);
        else if (n == "DY")
            out += cased(std::string(kDays[weekday(p.year, p.month, p.day)]).substr(0, 3), e.raw);
        else if (n == "DAY") {
            std::string d = cased(kDays[weekday(p.year, p.month, p.day)], e.raw);
            if (!fm) d.resize(9, ' ');
            out += d;
        } else if (n == "HH24")
            out += pad(p.hour, 2, fm);
        else if (n == "HH" || n == "HH12")
            out += pad(h12, 2, fm);
        else if (n == "MI")
            out += pad(p.minute, 2, fm);
        else if (n == "SS")
            out += pad(p.second, 2, fm);
        else if (n == "SSSSS")
            out += pad(p.hour * 3600 + p.minute * 60 + p.second, 5, fm);
        else if (n == "FF") {
            int digits = e.digits ? e.digits : (fsprec > 0 ? fsprec : 6);
            char buf[16];
            std::snprintf(buf, sizeof buf, "%09u", p.nanos);
            out += std::string(buf, std::min(digits, 9));
        } else if (n == "AM" || n == "PM")
            out += cased(p.hour < 12 ? "AM" : "PM", e.raw);
        else if (n == "A.M." || n == "P.M.")
            out += cased(p.hour < 12 ? "A.M." : "P.M.", e.raw);
        else if (n == "X")
            out += '.';
        else if (n == "TZH" || n == "TZM" || n == "TZR") {
            int z = p.zoneMinutes;
            int az = z < 0 ? -z : z;
            if (n == "TZH")
                out += std::string(z < 0 ? "-" : "+") + pad(az / 60, 2, false);
            else if (n == "TZM")
                out += pad(az % 60, 2, false);
            else
                out += std::string(z < 0 ? "-" : "+") + pad(az / 60, 2, false) + ":" + pad(az % 60, 2, false);
        } else if (n == "E")
            out += "AD";
        else if (n == "DDD") {
            int doy = p.day;
            for (int m = 1; m < p.month; ++m) {
                static const int dm[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
                doy += dm[m - 1] + (m == 2 && ((p.year % 4 == 0 && p.year % 100 != 0) || p.year % 400 == 0));
            }
            out += pad(doy, 3, fm);
        }
    }
    return out;
}

DateParts parseDate(const std::string& text, const std::string& fmt) {
    DateParts p;
    size_t i = 0;
    bool pm = false, hasAmPm = false;
    int hour12 = -1;
    auto skipBlanks = [&] {
        while (i < text.size() && text[i] == ' ') ++i;
    };
    auto number = [&](int maxDigits, bool allowSign = false) {
        skipBlanks();
        bool neg = false;
        if (allowSign && i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
        int n = 0, v = 0;
        while (i < text.size() && n < maxDigits && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + (text[i++] - '0');
            ++n;
        }
        if (n == 0) raise(1858);
        return neg ? -v : v;
    };
    auto word = [&](const char* const* list, int count, size_t len) {
        skipBlanks();
        std::string u = upper(text.substr(i));
        for (int k = 0; k < count; ++k) {
            std::string w = len ? std::string(list[k]).substr(0, len) : std::string(list[k]);
            if (u.compare(0, w.size(), w) == 0) {
                i += w.size();
                return k;
            }
        }
        raise(1843);
    };
    for (const Element& e : parseFormat(fmt)) {
        if (e.literal) {
            if (i < text.size() && (text[i] == e.name[0] || e.name == " ")) {
                ++i;
            } else if (!(e.name[0] == ' ' || std::ispunct(static_cast<unsigned char>(e.name[0])))) {
                raise(1861);
            } else if (i < text.size() && std::ispunct(static_cast<unsigned char>(text[i]))) {
                ++i;  // Oracle accepts any punctuation for punctuation
            }
            continue;
        }
        const std::string& n = e.name;
        if (n == "FM") continue;
        if (n == "YYYY" || n == "RRRR")
            p.year = number(4, true);
        else if (n == "YY" || n == "RR") {
            int y = number(2);
            p.year = n == "RR" ? (y < 50 ? 2000 + y : 1900 + y) : 2000 + y;
        } else if (n == "MM")
            p.month = number(2);
        else if (n == "MON")
            p.month = word(kMonths, 12, 3) + 1;
        else if (n == "MONTH") {
            p.month = word(kMonths, 12, 0) + 1;
        } else if (n == "DD")
            p.day = number(2);
        else if (n == "DY")
            word(kDays, 7, 3);
        else if (n == "DAY")
            word(kDays, 7, 0);
        else if (n == "HH24")
            p.hour = number(2);
        else if (n == "HH" || n == "HH12")
            hour12 = number(2);
        else if (n == "MI")
            p.minute = number(2);
        else if (n == "SS")
            p.second = number(2);
        else if (n == "FF") {
            std::string frac;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') frac += text[i++];
            frac.resize(9, '0');
            p.nanos = static_cast<uint32_t>(std::stoul(frac.substr(0, 9)));
        } else if (n == "AM" || n == "PM" || n == "A.M." || n == "P.M.") {
            skipBlanks();
            std::string u = upper(text.substr(i, 4));
            hasAmPm = true;
            pm = u[0] == 'P';
            i += u.size() >= 2 && u[1] == '.' ? 4 : 2;
        } else if (n == "X") {
            if (i < text.size() && (text[i] == '.' || text[i] == ',')) ++i;
        } else if (n == "TZH" || n == "TZR") {
            skipBlanks();
            int sign = 1;
            if (i < text.size() && (text[i] == '+' || text[i] == '-')) sign = text[i++] == '-' ? -1 : 1;
            int hh = number(2), mm = 0;
            if (n == "TZR" && i < text.size() && text[i] == ':') {
                ++i;
                mm = number(2);
            }
            p.hasZone = true;
            p.zoneMinutes = sign * (hh * 60 + mm);
        } else if (n == "TZM") {
            int mm = number(2);
            p.zoneMinutes += p.zoneMinutes < 0 ? -mm : mm;
        }
    }
    skipBlanks();
    if (i != text.size()) raise(1830, "date format picture ends before converting entire input string");
    if (hour12 >= 0) {
        if (hour12 < 1 || hour12 > 12) raise(1849, "hour must be between 1 and 12");
        p.hour = hour12 % 12 + (hasAmPm && pm ? 12 : 0);
    }
    if (p.month < 1 || p.month > 12) raise(1843);
    if (p.hour > 23) raise(1850);
    if (p.minute > 59) raise(1851);
    if (p.second > 59) raise(1852);
    if (!validDate(p)) raise(1847);
    return p;
}

DateTimeDesc* dtOf(const void* p) {
    Handle* h = findHandle(p);
    if (!h || (h->type != OCI_DTYPE_TIMESTAMP && h->type != OCI_DTYPE_TIMESTAMP_TZ &&
               h->type != OCI_DTYPE_TIMESTAMP_LTZ && h->type != OCI_DTYPE_DATE))
        raise(24316, "illegal handle type");
    return static_cast<DateTimeDesc*>(h);
}

IntervalDesc* ivOf(const void* p) {
    Handle* h = findHandle(p);
    if (!h || (h->type != OCI_DTYPE_INTERVAL_YM && h->type != OCI_DTYPE_INTERVAL_DS))
        raise(24316, "illegal handle type");
    return static_cast<IntervalDesc*>(h);
}

// Seconds since a fixed day, in UTC when the value has a zone.
__int128 instant(const DateParts& p) {
    int y = p.year, m = p.month;
    if (m < 3) {
        y -= 1;
        m += 12;
    }
    int64_t days = 365LL * y + y / 4 - y / 100 + y / 400 + (153 * (m - 3) + 2) / 5 + p.day;
    int64_t secs =
        days * 86400 + p.hour * 3600 + p.minute * 60 + p.second - (p.hasZone ? p.zoneMinutes * 60 : 0);
    return static_cast<__int128>(secs) * 1000000000 + p.nanos;
}

std::string text(const OraText* p, size_t len) {
    return p ? std::string(reinterpret_cast<const char*>(p), len) : std::string();
}

constexpr __int128 kNanosPerDay = static_cast<__int128>(86400) * 1000000000;

constexpr size_t kTextMinimumChars = 64;

// A model of 9s (or 0s) with an optional D has room for as many digits before and after the
// point as it has digit places there; scientific (EEEE) and text-minimum (TM) models take any.
bool fitsNumberModel(const std::string& s, const std::string& model, char dec) {
    std::string m = upper(model);
    if (m.empty() || m.find("EEEE") != std::string::npos || m.rfind("TM", 0) == 0) return true;
    auto places = [](const std::string& part) {
        return std::count_if(part.begin(), part.end(), [](char c) { return c == '9' || c == '0'; });
    };
    auto digits = [](const std::string& part) {
        return std::count_if(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const size_t mp = m.find_first_of("D.");
    const size_t sp = s.find(dec);
    const std::string mInt = m.substr(0, mp), mFrac = mp == std::string::npos ? "" : m.substr(mp + 1);
    const std::string sInt = s.substr(0, sp), sFrac = sp == std::string::npos ? "" : s.substr(sp + 1);
    return digits(sInt) <= places(mInt) && digits(sFrac) <= places(mFrac);
}

// "-1.2345E+125": every significant digit, a signed exponent of at least two digits.
std::string scientificText(const Decimal& d, char dec) {
    std::string t = d.negative ? "-" : "";
    t += d.digits[0];
    if (d.digits.size() > 1) t += dec + d.digits.substr(1);
    const int e = d.exp10 - 1;
    char exp[16];
    std::snprintf(exp, sizeof exp, "E%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
    return t + exp;
}

}  // namespace

std::string formatDateModel(const DateParts& p, const std::string& fmt, int fsprec) {
    return formatDate(p, fmt, fsprec);
}

DateParts parseDateModel(const std::string& text, const std::string& fmt) {
    return parseDate(text, fmt);
}

bool validDateModel(const std::string& fmt) {
    std::string unquoted;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '"') {
            unquoted += fmt[i];
            continue;
        }
        auto e = fmt.find('"', i + 1);
        if (e == std::string::npos) return false;
        i = e;
    }
    for (const Element& e : parseFormat(unquoted))
        if (e.literal && std::isalpha(static_cast<unsigned char>(e.name[0]))) return false;
    return true;
}

std::string intervalToText(const IntervalDesc* iv, int leadPrecision, int fsprec) {
    const size_t lfprec = leadPrecision > 0 ? static_cast<size_t>(leadPrecision) : 0;
    std::string t;
    if (iv->type == OCI_DTYPE_INTERVAL_YM) {
        int64_t m = iv->months;
        t = std::string(m < 0 ? "-" : "+");
        int64_t am = m < 0 ? -m : m;
        std::string years = std::to_string(am / 12);
        if (years.size() > lfprec && lfprec > 0) raise(1873);
        if (years.size() < lfprec) years.insert(0, lfprec - years.size(), '0');
        t += years + "-" + pad(static_cast<long>(am % 12), 2, false);
    } else {
        __int128 n = iv->nanos;
        t = std::string(n < 0 ? "-" : "+");
        __int128 an = n < 0 ? -n : n;
        int64_t days = static_cast<int64_t>(an / kNanosPerDay);
        int64_t rest = static_cast<int64_t>(an % kNanosPerDay);
        std::string d = std::to_string(days);
        if (d.size() > lfprec && lfprec > 0) raise(1873);
        if (d.size() < lfprec) d.insert(0, lfprec - d.size(), '0');
        int64_t secs = rest / 1000000000;
        char frac[16];
        std::snprintf(frac, sizeof frac, "%09lld", static_cast<long long>(rest % 1000000000));
        t += d + " " + pad(static_cast<long>(secs / 3600), 2, false) + ":" +
             pad(static_cast<long>(secs / 60 % 60), 2, false) + ":" +
             pad(static_cast<long>(secs % 60), 2, false);
        if (fsprec > 0) t += "." + std::string(frac, std::min<int>(fsprec, 9));
    }
    return t;
}

void intervalFromText(IntervalDesc* iv, const std::string& textIn) {
    std::string s = trim(textIn);
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    auto number = [&](int64_t& v) {
        size_t b = i;
        v = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (v > 99999999999LL) raise(1867);
            v = v * 10 + (s[i++] - '0');
        }
        if (b == i) raise(1867);
    };
    if (iv->type == OCI_DTYPE_INTERVAL_YM) {
        int64_t y, m;
        number(y);
        if (i >= s.size() || s[i++] != '-') raise(1867);
        number(m);
        if (i != s.size() || m > 11) raise(1867);
        iv->months = (neg ? -1 : 1) * (y * 12 + m);
    } else {
        int64_t d, h = 0, mi = 0, sec = 0;
        number(d);
        uint32_t nanos = 0;
        if (i < s.size() && s[i] == ' ') {
            ++i;
            number(h);
            if (i >= s.size() || s[i++] != ':') raise(1867);
            number(mi);
            if (i < s.size() && s[i] == ':') {
                ++i;
                number(sec);
                if (i < s.size() && s[i] == '.') {
                    ++i;
                    std::string frac;
                    while (i < s.size() && s[i] >= '0' && s[i] <= '9') frac += s[i++];
                    frac.resize(9, '0');
                    nanos = static_cast<uint32_t>(std::stoul(frac.substr(0, 9)));
                }
            }
        }
        if (i != s.size() || h > 23 || mi > 59 || sec > 59) raise(1867);
        __int128 n = static_cast<__int128>(d) * kNanosPerDay +
                     static_cast<__int128>(h * 3600 + mi * 60 + sec) * 1000000000 + nanos;
        iv->nanos = neg ? -n : n;
    }
}

}  // namespace oci

using namespace oci;

extern "C" {

sword OCINumberToInt(OCIError* err, const OCINumber* number, uword rsl_length, uword rsl_flag, void* rsl) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !number || !rsl) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        Decimal d = fromOciNumber(number);
        if (rsl_flag == OCI_NUMBER_SIGNED) {
            int64_t v;
            if (!decimalToInt(d, v)) raise(22053);
            switch (rsl_length) {
                case 1:
                    if (v < INT8_MIN || v > INT8_MAX) raise(22053);
                    *static_cast<int8_t*>(rsl) = static_cast<int8_t>(v);
                    break;
                case 2:
                    if (v < INT16_MIN || v > INT16_MAX) raise(22053);
                    *static_cast<int16_t*>(rsl) = static_cast<int16_t>(v);
                    break;
                case 4:
                    if (v < INT32_MIN || v > INT32_MAX) raise(22053);
                    *static_cast<int32_t*>(rsl) = static_cast<int32_t>(v);
                    break;
                case 8:
                    std::memcpy(rsl, &v, 8);
                    break;
                default:
                    raise(22053);
            }
        } else {
            uint64_t v;
            if (!decimalToUInt(d, v)) raise(22053);
            if (rsl_length < 8 && (v >> (rsl_length * 8)) != 0) raise(22053);
            switch (rsl_length) {
                case 1:
                    *static_cast<uint8_t*>(rsl) = static_cast<uint8_t>(v);
                    break;
                case 2:
                    *static_cast<uint16_t*>(rsl) = static_cast<uint16_t>(v);
                    break;
                case 4:
                    *static_cast<uint32_t*>(rsl) = static_cast<uint32_t>(v);
                    break;
                case 8:
                    std::memcpy(rsl, &v, 8);
                    break;
                default:
                    raise(22053);
            }
        }
        return OCI_SUCCESS;
    });
}

sword OCINumberFromInt(OCIError* err, const void* inum, uword inum_length, uword inum_s_flag,
                       OCINumber* number) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !inum || !number) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        Decimal d;
        bool sign = inum_s_flag == OCI_NUMBER_SIGNED;
        switch (inum_length) {
            case 1:
                d = sign ? decimalFromInt(*static_cast<const int8_t*>(inum))
                         : decimalFromUInt(*static_cast<const uint8_t*>(inum));
                break;
            case 2: {
                int16_t s;
                std::memcpy(&s, inum, 2);
                d = sign ? decimalFromInt(s) : decimalFromUInt(static_cast<uint16_t>(s));
                break;
            }
            case 4: {
                int32_t s;
                std::memcpy(&s, inum, 4);
                d = sign ? decimalFromInt(s) : decimalFromUInt(static_cast<uint32_t>(s));
                break;
            }
            case 8: {
                int64_t s;
                std::memcpy(&s, inum, 8);
                d = sign ? decimalFromInt(s) : decimalFromUInt(static_cast<uint64_t>(s));
                break;
            }
            default:
                raise(22053);
        }
        toOciNumber(d, number);
        return OCI_SUCCESS;
    });
}

sword OCINumberToReal(OCIError* err, const OCINumber* number, uword rsl_length, void* rsl) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !number || !rsl) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        double v = decimalToDouble(fromOciNumber(number));
        if (rsl_length == 4) {
            float f = static_cast<float>(v);
            std::memcpy(rsl, &f, 4);
        } else if (rsl_length == 8) {
            std::memcpy(rsl, &v, 8);
        } else {
            raise(22053);
        }
        return OCI_SUCCESS;
    });
}

sword OCINumberFromReal(OCIError* err, const void* rnum, uword rnum_length, OCINumber* number) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !rnum || !number) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        Decimal d;
        if (rnum_length == 4) {
            float f;
            std::memcpy(&f, rnum, 4);
            if (!std::isfinite(f)) raise(1426);
            char buf[64];
            auto r = std::to_chars(buf, buf + sizeof buf, f);
            parseDecimal(std::string_view(buf, r.ptr - buf), d);
        } else if (rnum_length == 8) {
            double v;
            std::memcpy(&v, rnum, 8);
            d = decimalFromDouble(v);
        } else {
            raise(22053);
        }
        toOciNumber(d, number);
        return OCI_SUCCESS;
    });
}

sword OCINumberToText(OCIError* err, const OCINumber* number, const OraText*, ub4, const OraText* nls_params,
                      ub4 nls_p_length, ub4* buf_size, OraText* buf) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !number || !buf_size || !buf) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        char dec, grp;
        numericChars(nls_params, nls_p_length, dec, grp);
        Decimal d = fromOciNumber(number);
        std::string t = decimalToText(d, dec);
        // The text-minimum model switches to scientific notation beyond 64 characters.
        if (t.size() > kTextMinimumChars) t = scientificText(d, dec);
        if (t.size() > *buf_size)
            raise(22065, "number to text translation for the given format causes overflow");
        std::memcpy(buf, t.data(), t.size());
        if (t.size() < *buf_size) buf[t.size()] = 0;
        *buf_size = static_cast<ub4>(t.size());
        return OCI_SUCCESS;
    });
}

sword OCINumberFromText(OCIError* err, const OraText* str, ub4 str_length, const OraText* fmt, ub4 fmt_length,
                        const OraText* nls_params, ub4 nls_p_length, OCINumber* number) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !str || !number) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        char dec, grp;
        numericChars(nls_params, nls_p_length, dec, grp);
        std::string s = text(str, str_length);
        s.erase(std::remove(s.begin(), s.end(), grp), s.end());
        if (!fitsNumberModel(s, text(fmt, fmt_length), dec)) raise(1722);
        Decimal d;
        if (!parseDecimal(s, d, dec)) raise(1722);
        toOciNumber(d, number);
        return OCI_SUCCESS;
    });
}

sword OCINumberAssign(OCIError* err, const OCINumber* from, OCINumber* to) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !from || !to) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword { return std::memmove(to, from, sizeof(OCINumber)), OCI_SUCCESS; });
}

sword OCINumberCmp(OCIError* err, const OCINumber* number1, const OCINumber* number2, sword* result) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !number1 || !number2 || !result) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        // The NUMBER bytes are built to sort like the values they hold.
        fromOciNumber(number1);
        fromOciNumber(number2);
        ub1 l1 = number1->OCINumberPart[0], l2 = number2->OCINumberPart[0];
        int c = std::memcmp(number1->OCINumberPart + 1, number2->OCINumberPart + 1, std::min(l1, l2));
        if (c == 0) c = l1 < l2 ? -1 : l1 > l2 ? 1 : 0;
        *result = c < 0 ? -1 : c > 0 ? 1 : 0;
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeConstruct(void*, OCIError* err, OCIDateTime* datetime, sb2 year, ub1 month, ub1 day,
                           ub1 hour, ub1 min, ub1 sec, ub4 fsec, OraText* timezone, size_t timezone_length) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        DateTimeDesc* dt = dtOf(datetime);
        DateParts p;
        p.year = year;
        p.month = month;
        p.day = day;
        p.hour = hour;
        p.minute = min;
        p.second = sec;
        p.nanos = fsec;
        if (p.month < 1 || p.month > 12) raise(1843);
        if (p.hour > 23) raise(1850);
        if (p.minute > 59) raise(1851);
        if (p.second > 59) raise(1852);
        if (!validDate(p)) raise(1847);
        if (timezone && timezone_length > 0) {
            DateParts z;
            std::string tz = trim(text(timezone, timezone_length));
            z = parseDate(tz, "TZR");
            p.hasZone = true;
            p.zoneMinutes = z.zoneMinutes;
        }
        dt->value = p;
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeGetDate(void*, OCIError* err, const OCIDateTime* date, sb2* year, ub1* month, ub1* day) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        const DateParts& p = dtOf(date)->value;
        if (year) *year = static_cast<sb2>(p.year);
        if (month) *month = static_cast<ub1>(p.month);
        if (day) *day = static_cast<ub1>(p.day);
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeGetTime(void*, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min, ub1* sec,
                         ub4* fsec) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        const DateParts& p = dtOf(datetime)->value;
        if (hour) *hour = static_cast<ub1>(p.hour);
        if (min) *min = static_cast<ub1>(p.minute);
        if (sec) *sec = static_cast<ub1>(p.second);
        if (fsec) *fsec = p.nanos;
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeToText(void*, OCIError* err, const OCIDateTime* date, const OraText* fmt, ub1 fmt_length,
                        ub1 fsprec, const OraText*, size_t, ub4* buf_size, OraText* buf) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !buf_size || !buf) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        DateTimeDesc* dt = dtOf(date);
        std::string f = text(fmt, fmt_length);
        if (f.empty())
            f = dt->type == OCI_DTYPE_TIMESTAMP_TZ ? "DD-MON-RR HH.MI.SSXFF AM TZR"
                                                   : "DD-MON-RR HH.MI.SSXFF AM";
        std::string t = formatDate(dt->value, f, fsprec);
        if (t.size() + 1 > *buf_size) raise(1877);
        std::memcpy(buf, t.data(), t.size());
        buf[t.size()] = 0;
        *buf_size = static_cast<ub4>(t.size());
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeFromText(void*, OCIError* err, const OraText* date_str, size_t dstr_length,
                          const OraText* fmt, ub1 fmt_length, const OraText*, size_t, OCIDateTime* datetime) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !date_str) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        DateTimeDesc* dt = dtOf(datetime);
        std::string f = text(fmt, fmt_length);
        if (f.empty())
            f = dt->type == OCI_DTYPE_TIMESTAMP_TZ ? "DD-MON-RR HH.MI.SSXFF AM TZR"
                                                   : "DD-MON-RR HH.MI.SSXFF AM";
        dt->value = parseDate(text(date_str, dstr_length), f);
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeAssign(void*, OCIError* err, const OCIDateTime* from, OCIDateTime* to) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        dtOf(to)->value = dtOf(from)->value;
        return OCI_SUCCESS;
    });
}

sword OCIDateTimeCompare(void*, OCIError* err, const OCIDateTime* date1, const OCIDateTime* date2,
                         sword* result) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !result) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        __int128 a = instant(dtOf(date1)->value), b = instant(dtOf(date2)->value);
        *result = a < b ? -1 : a > b ? 1 : 0;
        return OCI_SUCCESS;
    });
}

sword OCIIntervalToText(void*, OCIError* err, const OCIInterval* interval, ub1 lfprec, ub1 fsprec,
                        OraText* buffer, size_t buflen, size_t* resultlen) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !buffer) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        std::string t = intervalToText(ivOf(interval), lfprec, fsprec);
        if (t.size() + 1 > buflen) raise(1877);
        std::memcpy(buffer, t.data(), t.size());
        buffer[t.size()] = 0;
        if (resultlen) *resultlen = t.size();
        return OCI_SUCCESS;
    });
}

sword OCIIntervalFromText(void*, OCIError* err, const OraText* inpstring, size_t str_len,
                          OCIInterval* result) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !inpstring) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        intervalFromText(ivOf(result), text(inpstring, str_len));
        return OCI_SUCCESS;
    });
}

sword OCIIntervalCheck(void*, OCIError* err, const OCIInterval* interval, ub4* valid) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !valid) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        IntervalDesc* iv = ivOf(interval);
        // leading fields beyond 9 digits do not fit an interval
        bool ok = iv->type == OCI_DTYPE_INTERVAL_YM
                      ? (iv->months / 12 < 1000000000 && iv->months / 12 > -1000000000)
                      : (iv->nanos / kNanosPerDay < 1000000000 && iv->nanos / kNanosPerDay > -1000000000);
        *valid = ok ? 0 : 1;
        return OCI_SUCCESS;
    });
}

sword OCIIntervalAssign(void*, OCIError* err, const OCIInterval* ininter, OCIInterval* outinter) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        IntervalDesc *a = ivOf(ininter), *b = ivOf(outinter);
        if (a->type != b->type) raise(932, "inconsistent datatypes");
        b->months = a->months;
        b->nanos = a->nanos;
        return OCI_SUCCESS;
    });
}

sword OCIIntervalCompare(void*, OCIError* err, OCIInterval* inter1, OCIInterval* inter2, sword* result) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e || !result) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        IntervalDesc *a = ivOf(inter1), *b = ivOf(inter2);
        if (a->type != b->type) raise(932, "inconsistent datatypes");
        __int128 x = a->type == OCI_DTYPE_INTERVAL_YM ? a->months : a->nanos;
        __int128 y = b->type == OCI_DTYPE_INTERVAL_YM ? b->months : b->nanos;
        *result = x < y ? -1 : x > y ? 1 : 0;
        return OCI_SUCCESS;
    });
}

sword OCIIntervalSetYearMonth(void*, OCIError* err, sb4 yr, sb4 mnth, OCIInterval* result) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        ivOf(result)->months = static_cast<int64_t>(yr) * 12 + mnth;
        return OCI_SUCCESS;
    });
}

sword OCIIntervalGetYearMonth(void*, OCIError* err, sb4* yr, sb4* mnth, const OCIInterval* interval) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        int64_t m = ivOf(interval)->months;
        if (yr) *yr = static_cast<sb4>(m / 12);
        if (mnth) *mnth = static_cast<sb4>(m % 12);
        return OCI_SUCCESS;
    });
}

sword OCIIntervalSetDaySecond(void*, OCIError* err, sb4 dy, sb4 hr, sb4 mm, sb4 ss, sb4 fsec,
                              OCIInterval* result) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        ivOf(result)->nanos =
            static_cast<__int128>(dy) * kNanosPerDay +
            static_cast<__int128>(static_cast<int64_t>(hr) * 3600 + mm * 60 + ss) * 1000000000 + fsec;
        return OCI_SUCCESS;
    });
}

sword OCIIntervalGetDaySecond(void*, OCIError* err, sb4* dy, sb4* hr, sb4* mm, sb4* ss, sb4* fsec,
                              const OCIInterval* interval) {
    auto* e = handleAs<Error>(err, OCI_HTYPE_ERROR);
    if (!e) return OCI_INVALID_HANDLE;
    return guarded(e, [&]() -> sword {
        __int128 n = ivOf(interval)->nanos;
        if (dy) *dy = static_cast<sb4>(n / kNanosPerDay);
        __int128 rest = n % kNanosPerDay;
        int64_t secs = static_cast<int64_t>(rest / 1000000000);
        if (hr) *hr = static_cast<sb4>(secs / 3600);
        if (mm) *mm = static_cast<sb4>(secs / 60 % 60);
        if (ss) *ss = static_cast<sb4>(secs % 60);
        if (fsec) *fsec = static_cast<sb4>(rest % 1000000000);
        return OCI_SUCCESS;
    });
}

}  // extern "C"
