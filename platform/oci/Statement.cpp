// Statements: Oracle SQL text to SQLite, binds, defines, execute and fetch.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/oci/Changes.h"
#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

std::u16string utf8ToU16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        size_t n = c < 0x80             ? 1
                   : (c & 0xE0) == 0xC0 ? 2
                   : (c & 0xF0) == 0xE0 ? 3
                   : (c & 0xF8) == 0xF0 ? 4
                                        : 1;
        uint32_t cp = '?';
        if (n == 1) {
            cp = c < 0x80 ? c : '?';
        } else if (i + n <= s.size()) {
            cp = c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string u16ToUtf8(const char16_t* p, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = p[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// ---- lexing -------------------------------------------------------------------------------------------

namespace {

struct Words {
    std::vector<std::string> w;  // first words of the text, upper case, comments and blanks skipped
};

Words firstWords(const std::string& s, size_t count) {
    Words out;
    size_t i = 0;
    while (i < s.size() && out.w.size() < count) {
        char c = s[i];
        if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            auto e = s.find("*/", i + 2);
            i = e == std::string::npos ? s.size() : e + 2;
        } else if (identStart(c)) {
            size_t b = i;
            while (i < s.size() && identChar(s[i])) ++i;
            out.w.push_back(upper(s.substr(b, i - b)));
        } else if (c == '(' || static_cast<unsigned char>(c) <= ' ') {
            ++i;
        } else {
            break;
        }
    }
    return out;
}

}  // namespace

std::string markerKey(std::string_view name, bool* quoted) {
    std::string n(name);
    if (!n.empty() && n[0] == ':') n.erase(0, 1);
    if (n.size() >= 2 && n.front() == '"' && n.back() == '"') {
        if (quoted) *quoted = true;
        return n.substr(1, n.size() - 2);
    }
    if (quoted) *quoted = false;
    return upper(n);
}

// Cuts a FOR UPDATE [OF ...] [NOWAIT | WAIT n | SKIP LOCKED] clause off the end of a query;
// true when there was one. SQLite has row locks of no kind: the caller locks the database.
static bool cutForUpdate(std::string& sql) {
    int depth = 0;
    char quote = 0;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (depth == 0 && (i == 0 || !identChar(sql[i - 1])) && i + 3 <= sql.size() &&
                   upper(sql.substr(i, 3)) == "FOR" && (i + 3 == sql.size() || !identChar(sql[i + 3]))) {
            size_t k = i + 3;
            while (k < sql.size() && static_cast<unsigned char>(sql[k]) <= ' ') ++k;
            if (upper(sql.substr(k, 6)) == "UPDATE" && (k + 6 == sql.size() || !identChar(sql[k + 6]))) {
                sql.erase(i);
                return true;
            }
        }
    }
    return false;
}

Lexed lexStatement(const std::string& s, const std::vector<std::string>* schemas) {
    Lexed out;
    std::string& o = out.sqlite;
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (c == '\'') {
            size_t b = i++;
            while (i < s.size()) {
                if (s[i] == '\'') {
                    if (i + 1 < s.size() && s[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            o.append(s, b, i - b);
        } else if (c == '"') {
            size_t e = s.find('"', i + 1);
            e = e == std::string::npos ? s.size() : e + 1;
            o.append(s, i, e - i);
            i = e;
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            size_t e = s.find('\n', i);
            e = e == std::string::npos ? s.size() : e;
            o.append(s, i, e - i);
            i = e;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            size_t e = s.find("*/", i + 2);
            e = e == std::string::npos ? s.size() : e + 2;
            o.append(s, i, e - i);
            i = e;
        } else if (c == ':' && i + 1 < s.size() && (identChar(s[i + 1]) || s[i + 1] == '"')) {
            size_t b = ++i;
            if (s[i] == '"') {
                size_t e = s.find('"', i + 1);
                i = e == std::string::npos ? s.size() : e + 1;
            } else {
                while (i < s.size() && identChar(s[i])) ++i;
            }
            bool quoted = false;
            std::string key = markerKey(s.substr(b, i - b), &quoted);
            out.markers.push_back(key);
            // SQLite takes plain names; others get a stand-in name the binder maps back.
            bool plain = !key.empty();
            for (char k : key) plain = plain && (identChar(k) && k != '#');
            if (plain && !quoted) {
                o += ":" + key;
            } else {
                auto pos = std::find(out.markers.begin(), out.markers.end(), key) - out.markers.begin();
                o += ":Q" + std::to_string(pos) + "_";
            }
        } else if (identStart(c)) {
            size_t b = i;
            while (i < s.size() && identChar(s[i])) ++i;
            std::string w = s.substr(b, i - b);
            std::string u = upper(w);
            bool qualifies = i + 1 < s.size() && s[i] == '.' && (identStart(s[i + 1]) || s[i + 1] == '"');
            std::string pseudo;
            if (qualifies) {
                size_t e = i + 1;
                while (e < s.size() && identChar(s[e])) ++e;
                pseudo = upper(s.substr(i + 1, e - i - 1));
                if (pseudo == "NEXTVAL" || pseudo == "CURRVAL") {
                    // seq.NEXTVAL / seq.CURRVAL: the stand-in's sequence functions
                    o += (pseudo == "NEXTVAL" ? "oci_nextval('" : "oci_currval('") + u + "')";
                    i = e;
                    continue;
                }
            }
            if (qualifies && schemas && std::find(schemas->begin(), schemas->end(), u) != schemas->end()) {
                ++i;  // "SCHEMA." before a name
            } else if (u == "SYSDATE") {
                o += "datetime('now','localtime')";
            } else if (u == "SYSTIMESTAMP") {
                o += "strftime('%Y-%m-%d %H:%M:%f','now','localtime')";
            } else if (u == "ROWID" && (i >= s.size() || s[i] != '(')) {
                appendRowid(o, s);
            } else {
                o += w;
                if (schemas && i + 1 < s.size() && s[i] == '@' && identStart(s[i + 1])) {
                    // name@link: the links of the catalog lead back to this database (listed
                    // as "@LINK" with the session's schemas); any other is unknown.
                    size_t e = i + 1;
                    while (e < s.size() && (identChar(s[e]) || s[e] == '.')) ++e;
                    const std::string link = "@" + upper(s.substr(i + 1, e - i - 1));
                    if (std::find(schemas->begin(), schemas->end(), link) == schemas->end())
                        raise(2019, "connection description for remote database not found");
                    i = e;
                }
            }
        } else {
            o += c;
            ++i;
        }
    }
    Words w = firstWords(s, 3);
    auto word = [&](size_t k) { return k < w.w.size() ? w.w[k] : std::string(); };
    std::string w0 = word(0), w1 = word(1);
    if (w0 == "SELECT" || w0 == "WITH") {
        out.stmtType = OCI_STMT_SELECT;
        out.fnCode = 4;
        out.forUpdate = cutForUpdate(o);
    } else if (w0 == "UPDATE") {
        out.stmtType = OCI_STMT_UPDATE;
        out.fnCode = 5;
    } else if (w0 == "DELETE") {
        out.stmtType = OCI_STMT_DELETE;
        out.fnCode = 9;
    } else if (w0 == "INSERT") {
        out.stmtType = OCI_STMT_INSERT;
        out.fnCode = 3;
    } else if (w0 == "BEGIN") {
        out.stmtType = OCI_STMT_BEGIN;
        out.fnCode = 34;
    } else if (w0 == "DECLARE") {
        out.stmtType = OCI_STMT_DECLARE;
        out.fnCode = 34;
    } else if (w0 == "CREATE") {
        out.stmtType = OCI_STMT_CREATE;
        out.fnCode = w1 == "VIEW" ? 10 : w1 == "INDEX" || w1 == "UNIQUE" ? 20 : 1;
    } else if (w0 == "DROP") {
        out.stmtType = OCI_STMT_DROP;
        out.fnCode = w1 == "VIEW" ? 7 : w1 == "INDEX" ? 21 : 8;
    } else if (w0 == "ALTER") {
        out.stmtType = OCI_STMT_ALTER;
        out.fnCode = w1 == "SESSION" ? 52 : 26;
    } else if (w0 == "COMMIT") {
        out.fnCode = 54;
    } else if (w0 == "ROLLBACK") {
        out.fnCode = 55;
    } else if (w0 == "SAVEPOINT") {
        out.fnCode = 56;
    } else if (w0 == "SET" && w1 == "TRANSACTION") {
        out.fnCode = 33;
    } else if (w0 == "TRUNCATE") {
        out.fnCode = 85;
    } else if (w0 == "MERGE") {
        out.stmtType = 16;
        out.fnCode = 189;
    }
    return out;
}

// ---- value conversions at the client boundary -----------------------------------------------------------

namespace {

char* at(char* base, ub4 index, ub4 skip, ub4 dflt) {
    return base ? base + static_cast<size_t>(index) * (skip ? skip : dflt) : nullptr;
}

std::string clientText(const Value& v) {
    switch (v.kind) {
        case Value::Text:
            return utf8ToAnsi(v.s);
        case Value::Int:
            return std::to_string(v.i);
        case Value::Real:
            return decimalToText(decimalFromDouble(v.r));
        case Value::Blob: {
            static const char hex[] = "0123456789ABCDEF";
            std::string r;
            for (unsigned char c : v.s) {
                r += hex[c >> 4];
                r += hex[c & 15];
            }
            return r;
        }
        default:
            return {};
    }
}

template <class T>
void storeInt(char* buf, int64_t v) {
    T x = static_cast<T>(v);
    std::memcpy(buf, &x, sizeof x);
}

// Text in UTF-16 (little-endian) for binds and defines whose character set id is OCI_UTF16ID.
std::string utf16ToUtf8(const char* p, size_t bytes) {
    std::u16string units(bytes / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(p[2 * i]) |
                                         (static_cast<unsigned char>(p[2 * i + 1]) << 8));
    return u16ToUtf8(units.data(), units.size());
}

std::string utf8ToUtf16(const std::string& s) {
    std::string out;
    for (char16_t u : utf8ToU16(s)) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

struct Stored {
    size_t length = 0;  // bytes written (without a terminator)
    size_t full = 0;    // length the value needed
    bool truncated = false;
};

Stored storeWide(ub2 dty, char* buf, size_t cap, const Value& v) {
    Stored r;
    std::string t = utf8ToUtf16(v.kind == Value::Text ? v.s : clientText(v));
    bool terminated = dty == SQLT_STR || dty == SQLT_AVC;
    size_t room = terminated ? (cap >= 2 ? cap - 2 : 0) : cap;
    if (terminated && cap < 2) raise(1480);
    room &= ~size_t(1);
    r.full = t.size();
    r.length = std::min(t.size(), room);
    r.truncated = r.length < t.size();
    std::memcpy(buf, t.data(), r.length);
    if (terminated) {
        buf[r.length] = 0;
        buf[r.length + 1] = 0;
    } else if (dty == SQLT_AFC) {
        for (size_t k = r.length; k + 1 < cap; k += 2) {
            buf[k] = ' ';
            buf[k + 1] = 0;
        }
        r.length = cap & ~size_t(1);
    }
    return r;
}

bool isAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool textType(ub2 dty) {
    return dty == SQLT_STR || dty == SQLT_AVC || dty == SQLT_CHR || dty == SQLT_AFC;
}

Stored storeValue(ub2 dty, char* buf, sb4 size, const Value& v, bool wide = false) {
    Stored r;
    size_t cap = size > 0 ? static_cast<size_t>(size) : 0;
    if (wide && textType(dty)) return storeWide(dty, buf, cap, v);
    switch (dty) {
        case SQLT_STR:
        case SQLT_AVC: {
            if (cap == 0) raise(1480);
            if (v.kind == Value::Text && isAscii(v.s)) {  // the same bytes in code page 1251
                r.full = v.s.size();
                r.length = std::min(v.s.size(), cap - 1);
                r.truncated = r.length < v.s.size();
                std::memcpy(buf, v.s.data(), r.length);
                buf[r.length] = 0;
                return r;
            }
            std::string t = clientText(v);
            r.full = t.size();
            r.length = std::min(t.size(), cap - 1);
            r.truncated = r.length < t.size();
            std::memcpy(buf, t.data(), r.length);
            buf[r.length] = 0;
            return r;
        }
        case SQLT_CHR:
        case SQLT_LNG:
        case SQLT_AFC: {
            std::string t = clientText(v);
            r.full = t.size();
            r.length = std::min(t.size(), cap);
            r.truncated = r.length < t.size();
            std::memcpy(buf, t.data(), r.length);
            if (dty == SQLT_AFC) {
                std::memset(buf + r.length, ' ', cap - r.length);
                r.length = cap;
            }
            return r;
        }
        case SQLT_INT:
        case SQLT_UIN: {
            // An integer needs no decimal form unless it goes out unsigned.
            Decimal d = v.kind == Value::Int && dty == SQLT_INT ? Decimal{} : valueToDecimal(v);
            if (dty == SQLT_UIN) {
                uint64_t u;
                if (!decimalToUInt(d, u) || (cap < 8 && u >> (cap * 8))) raise(1455);
                if (cap == 1)
                    storeInt<uint8_t>(buf, static_cast<int64_t>(u));
                else if (cap == 2)
                    storeInt<uint16_t>(buf, static_cast<int64_t>(u));
                else if (cap == 4)
                    storeInt<uint32_t>(buf, static_cast<int64_t>(u));
                else if (cap == 8)
                    std::memcpy(buf, &u, 8);
                else
                    raise(1483);
            } else {
                int64_t i = v.i;
                if (v.kind != Value::Int && !decimalToInt(d, i)) raise(1455);
                if (cap == 1 && (i < INT8_MIN || i > INT8_MAX)) raise(1455);
                if (cap == 2 && (i < INT16_MIN || i > INT16_MAX)) raise(1455);
                if (cap == 4 && (i < INT32_MIN || i > INT32_MAX)) raise(1455);
                if (cap == 1)
                    storeInt<int8_t>(buf, i);
                else if (cap == 2)
                    storeInt<int16_t>(buf, i);
                else if (cap == 4)
                    storeInt<int32_t>(buf, i);
                else if (cap == 8)
                    storeInt<int64_t>(buf, i);
                else
                    raise(1483);
            }
            r.length = r.full = cap;
            return r;
        }
        case SQLT_FLT:
        case SQLT_BDOUBLE:
        case SQLT_IBDOUBLE:
        case SQLT_BFLOAT:
        case SQLT_IBFLOAT: {
            double d = v.kind == Value::Real  ? v.r
                       : v.kind == Value::Int ? static_cast<double>(v.i)
                                              : decimalToDouble(valueToDecimal(v));
            if (cap == 4) {
                float f = static_cast<float>(d);
                std::memcpy(buf, &f, 4);
            } else if (cap >= 8) {
                std::memcpy(buf, &d, 8);
                cap = 8;
            } else {
                raise(1483);
            }
            r.length = r.full = cap;
            return r;
        }
        case SQLT_VNU:
        case SQLT_NUM: {
            std::string b = encodeNumber(valueToDecimal(v));
            size_t need = dty == SQLT_VNU ? b.size() + 1 : b.size();
            if (cap < need) raise(1483);
            if (dty == SQLT_VNU) {
                buf[0] = static_cast<char>(b.size());
                std::memcpy(buf + 1, b.data(), b.size());
            } else {
                std::memcpy(buf, b.data(), b.size());
            }
            r.length = r.full = need;
            return r;
        }
        case SQLT_DAT: {
            if (cap < 7) raise(1483);
            ub1 out[7];
            encodeDate(valueToDate(v), out);
            std::memcpy(buf, out, 7);
            r.length = r.full = 7;
            return r;
        }
        case SQLT_BIN:
        case SQLT_LBI: {
            std::string bytes = v.kind == Value::Blob ? v.s : clientText(v);
            r.full = bytes.size();
            r.length = std::min(bytes.size(), cap);
            r.truncated = r.length < bytes.size();
            std::memcpy(buf, bytes.data(), r.length);
            return r;
        }
        case SQLT_VBI:
        case SQLT_VCS: {
            std::string bytes = dty == SQLT_VBI && v.kind == Value::Blob ? v.s : clientText(v);
            if (cap < 2) raise(1483);
            r.full = bytes.size();
            r.length = std::min(bytes.size(), cap - 2);
            r.truncated = r.length < bytes.size();
            ub2 n = static_cast<ub2>(r.length);
            std::memcpy(buf, &n, 2);
            std::memcpy(buf + 2, bytes.data(), r.length);
            r.length += 2;
            return r;
        }
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ: {
            void* cell = nullptr;
            std::memcpy(&cell, buf, sizeof cell);
            Handle* h = findHandle(cell);
            if (!h || (h->type != OCI_DTYPE_TIMESTAMP && h->type != OCI_DTYPE_TIMESTAMP_TZ &&
                       h->type != OCI_DTYPE_TIMESTAMP_LTZ && h->type != OCI_DTYPE_DATE))
                raise(24316, "illegal handle type");
            static_cast<DateTimeDesc*>(h)->value = valueToDate(v);
            r.length = r.full = sizeof cell;
            return r;
        }
        case SQLT_INTERVAL_YM:
        case SQLT_INTERVAL_DS: {
            void* cell = nullptr;
            std::memcpy(&cell, buf, sizeof cell);
            Handle* h = findHandle(cell);
            ub4 want = dty == SQLT_INTERVAL_YM ? OCI_DTYPE_INTERVAL_YM : OCI_DTYPE_INTERVAL_DS;
            if (!h || h->type != want) raise(24316, "illegal handle type");
            intervalFromText(static_cast<IntervalDesc*>(h), v.kind == Value::Text ? v.s : clientText(v));
            r.length = r.full = sizeof cell;
            return r;
        }
        case SQLT_BOL: {
            int64_t i = 0;
            decimalToInt(valueToDecimal(v), i);
            if (cap == 1)
                storeInt<int8_t>(buf, i ? 1 : 0);
            else if (cap == 2)
                storeInt<int16_t>(buf, i ? 1 : 0);
            else
                storeInt<int32_t>(buf, i ? 1 : 0);
            r.length = r.full = cap;
            return r;
        }
        case SQLT_RSET:
        case SQLT_CUR: {
            void* cell = nullptr;
            std::memcpy(&cell, buf, sizeof cell);
            auto* target = handleAs<Stmt>(cell, OCI_HTYPE_STMT);
            if (!target) raise(24316, "illegal handle type");
            openCursorInto(*target, v.cursor);
            return r;
        }
        case SQLT_CLOB:
        case SQLT_BLOB:
        case SQLT_BFILEE:
        case SQLT_CFILEE:
            raise(3001, "unimplemented feature");  // LOB locators are not offered
        default:
            raise(932, "inconsistent datatypes");
    }
}

template <class T>
T loadInt(const char* p) {
    T x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

std::string textOrNullFromClient(const char* p, size_t n) {
    return ansiToUtf8(std::string_view(p, n));
}

}  // namespace

std::string longBytes(ub2 dty, const Value& v, bool utf16) {
    if (v.isNull()) return {};
    if (dty == SQLT_LBI && v.kind == Value::Blob) return v.s;
    if (utf16) return utf8ToUtf16(v.kind == Value::Text ? v.s : clientText(v));
    return clientText(v);
}

Value longValue(ub2 dty, const std::string& bytes, bool utf16) {
    if (bytes.empty()) return Value::null();  // an empty LONG is NULL
    if (dty == SQLT_LBI) return Value::ofBlob(bytes);
    return Value::ofText(utf16 ? utf16ToUtf8(bytes.data(), bytes.size()) : ansiToUtf8(bytes));
}

Value Bind::read(ub4 iteration) const {
    if (dataAtExec) return pieceValue;
    if (dty == SQLT_NTY) return objectBindValue(*this, iteration);
    if (dty == SQLT_REF) return refBindValue(*this, iteration);
    char* vp = at(valuep, iteration, valueSkip, static_cast<ub4>(valueSize > 0 ? valueSize : 0));
    char* ip = at(indp, iteration, indSkip, 2);
    char* ap = at(alenp, iteration, alenSkip, 2);
    if (ip && loadInt<sb2>(ip) == -1) return Value::null();
    if (!vp) return Value::null();
    if (isLobType(dty)) return locatorValue(vp, dty);
    size_t len = ap ? loadInt<ub2>(ap) : static_cast<size_t>(valueSize > 0 ? valueSize : 0);
    if (charsetId == OCI_UTF16ID && textType(dty)) {
        size_t n = len;
        if (dty == SQLT_STR || dty == SQLT_AVC) {
            size_t cap = static_cast<size_t>(valueSize > 0 ? valueSize : 0);
            n = 0;
            while (n + 1 < cap && (vp[n] || vp[n + 1])) n += 2;
            if (ap && len < n) n = len;
        }
        std::string t = utf16ToUtf8(vp, n);
        return t.empty() ? Value::null() : Value::ofText(t);
    }
    switch (dty) {
        case SQLT_CHR:
        case SQLT_LNG:
        case SQLT_AFC: {
            std::string t = textOrNullFromClient(vp, len);
            if (len == 1 && vp[0] == 0) t.clear();  // a NULL of unknown type
            return t.empty() ? Value::null() : Value::ofText(t);
        }
        case SQLT_STR:
        case SQLT_AVC: {
            size_t cap = static_cast<size_t>(valueSize > 0 ? valueSize : 0);
            size_t n = strnlen(vp, cap);
            if (n == cap && cap > 0 && !ap) raise(1480);
            if (ap && len < n) n = len;
            return n == 0 ? Value::null() : Value::ofText(textOrNullFromClient(vp, n));  // '' is NULL
        }
        case SQLT_VCS: {
            ub2 n = loadInt<ub2>(vp);
            return n == 0 ? Value::null() : Value::ofText(textOrNullFromClient(vp + 2, n));
        }
        case SQLT_INT:
            switch (valueSize) {
                case 1:
                    return Value::ofInt(loadInt<int8_t>(vp));
                case 2:
                    return Value::ofInt(loadInt<int16_t>(vp));
                case 4:
                    return Value::ofInt(loadInt<int32_t>(vp));
                case 8:
                    return Value::ofInt(loadInt<int64_t>(vp));
                default:
                    raise(1483);
            }
        case SQLT_UIN:
            switch (valueSize) {
                case 1:
                    return Value::ofInt(loadInt<uint8_t>(vp));
                case 2:
                    return Value::ofInt(loadInt<uint16_t>(vp));
                case 4:
                    return Value::ofInt(loadInt<uint32_t>(vp));
                case 8: {
                    uint64_t u = loadInt<uint64_t>(vp);
                    return u > uint64_t(INT64_MAX) ? Value::ofReal(static_cast<double>(u))
                                                   : Value::ofInt(static_cast<int64_t>(u));
                }
                default:
                    raise(1483);
            }
        case SQLT_FLT:
        case SQLT_BDOUBLE:
        case SQLT_IBDOUBLE:
        case SQLT_BFLOAT:
        case SQLT_IBFLOAT:
            if (valueSize == 4) return Value::ofReal(loadInt<float>(vp));
            if (valueSize == 8) return Value::ofReal(loadInt<double>(vp));
            raise(1483);
        case SQLT_VNU: {
            ub1 n = static_cast<ub1>(vp[0]);
            return decimalToValue(decodeNumber(reinterpret_cast<const ub1*>(vp + 1), n));
        }
        case SQLT_NUM:
            return decimalToValue(decodeNumber(reinterpret_cast<const ub1*>(vp), len));
        case SQLT_DAT: {
            DateParts p = decodeDate(reinterpret_cast<const ub1*>(vp));
            if (!validDate(p)) raise(1858);
            return Value::ofText(dateToText(p));
        }
        case SQLT_BIN:
        case SQLT_LBI:
            return Value::ofBlob(std::string(vp, len));
        case SQLT_VBI:
            return Value::ofBlob(std::string(vp + 2, loadInt<ub2>(vp)));
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ: {
            void* cell = nullptr;
            std::memcpy(&cell, vp, sizeof cell);
            auto* h = findHandle(cell);
            if (!h) raise(24316, "illegal handle type");
            const DateParts& p = static_cast<DateTimeDesc*>(h)->value;
            return Value::ofText(timestampToText(p));
        }
        case SQLT_INTERVAL_YM:
        case SQLT_INTERVAL_DS: {
            void* cell = nullptr;
            std::memcpy(&cell, vp, sizeof cell);
            auto* h = findHandle(cell);
            if (!h || (h->type != OCI_DTYPE_INTERVAL_YM && h->type != OCI_DTYPE_INTERVAL_DS))
                raise(24316, "illegal handle type");
            return Value::ofText(intervalToText(static_cast<IntervalDesc*>(h), 0, 9));
        }
        case SQLT_BOL:
            return Value::ofInt(loadInt<int32_t>(vp) ? 1 : 0);
        case SQLT_RSET:
        case SQLT_CUR:
        case SQLT_RDD:
            return Value::null();
        default:
            raise(932, "inconsistent datatypes");
    }
}

void Bind::write(ub4 iteration, const Value& v) {
    if (dataAtExec) {  // sent in pieces once the statement has run
        pieceOutput = v;
        pieceWritten = true;
        return;
    }
    char* vp = at(valuep, iteration, valueSkip, static_cast<ub4>(valueSize > 0 ? valueSize : 0));
    char* ip = at(indp, iteration, indSkip, 2);
    char* ap = at(alenp, iteration, alenSkip, 2);
    char* cp = at(rcodep, iteration, rcodeSkip, 2);
    if (v.isNull() && dty != SQLT_RSET && dty != SQLT_CUR) {
        if (ip) storeInt<sb2>(ip, -1);
        if (ap) storeInt<ub2>(ap, 0);
        if (cp) storeInt<ub2>(cp, 1405);
        if (vp && (dty == SQLT_STR || dty == SQLT_AVC) && valueSize > 0) vp[0] = 0;
        return;
    }
    if (!vp) raise(1008);
    if (isLobType(dty)) {  // a LOB a block gives back is a temporary one
        storeLocator(vp, dty, v, nullptr, charsetForm, true);
        if (ip) storeInt<sb2>(ip, 0);
        if (cp) storeInt<ub2>(cp, 0);
        return;
    }
    Stored s = storeValue(dty, vp, valueSize, v, charsetId == OCI_UTF16ID);
    // An output value does not fit the variable: PL/SQL raises instead of truncating.
    if (s.truncated) raise(6502, "PL/SQL: numeric or value error: character string buffer too small");
    if (ip) storeInt<sb2>(ip, 0);
    if (ap) storeInt<ub2>(ap, static_cast<ub2>(s.length));
    if (cp) storeInt<ub2>(cp, 0);
}

bool Define::write(ub4 row, const Value& v, const TypeInfo& source, const Session& s) {
    if (dty == SQLT_NTY) return objectDefineWrite(*this, row, v, const_cast<Session&>(s)), false;
    if (dty == SQLT_REF) return refDefineWrite(*this, row, v, const_cast<Session&>(s)), false;
    char* vp = at(valuep, row, valueSkip, static_cast<ub4>(valueSize > 0 ? valueSize : 0));
    char* ip = at(indp, row, indSkip, 2);
    char* rp = at(rlenp, row, rlenSkip, 2);
    char* cp = at(rcodep, row, rcodeSkip, 2);
    if (v.isNull()) {
        if (!ip) raise(1405);
        storeInt<sb2>(ip, -1);
        if (rp) storeInt<ub2>(rp, 0);
        if (cp) storeInt<ub2>(cp, 1405);
        return false;
    }
    if (!vp) return false;
    if (isLobType(dty)) {
        storeLocator(vp, dty, v, &source, charsetForm, false);
        if (ip) storeInt<sb2>(ip, 0);
        if (rp) storeInt<ub2>(rp, static_cast<ub2>(sizeof(void*)));
        if (cp) storeInt<ub2>(cp, 0);
        return false;
    }
    // Dates and numbers fetched as text are written the way the session's NLS settings say.
    std::optional<Value> converted;
    if (textType(dty) || dty == SQLT_LNG) {
        DateParts p;
        if (isDateTimeType(source.type) && v.kind == Value::Text && parseDateText(v.s, p)) {
            const char* model = source.type == SQLT_DAT         ? "NLS_DATE_FORMAT"
                                : source.type == SQLT_TIMESTAMP ? "NLS_TIMESTAMP_FORMAT"
                                                                : "NLS_TIMESTAMP_TZ_FORMAT";
            converted = Value::ofText(
                formatDateModel(p, s.nlsValue(model), source.fsprecision ? source.fsprecision : 6));
        } else if (isNumericType(source.type) && (v.kind == Value::Int || v.kind == Value::Real)) {
            converted = Value::ofText(decimalToText(valueToDecimal(v), s.decimalChar()));
        }
    }
    Stored st = storeValue(dty, vp, valueSize, converted ? *converted : v, charsetId == OCI_UTF16ID);
    // A cut value keeps its full length in the indicator (-2 when that does not fit) and ORA-01406
    // in its return code.
    if (ip) storeInt<sb2>(ip, st.truncated ? (st.full > 32767 ? -2 : static_cast<sb2>(st.full)) : 0);
    if (rp) storeInt<ub2>(rp, static_cast<ub2>(st.length));
    if (cp) storeInt<ub2>(cp, st.truncated ? 1406 : 0);
    return st.truncated;
}

// ---- running SQL --------------------------------------------------------------------------------------

namespace {

struct Prepared {
    sqlite3_stmt* st = nullptr;
    ~Prepared() { sqlite3_finalize(st); }
    sqlite3_stmt* release() { return std::exchange(st, nullptr); }
};

void prepareOne(Session& s, const std::string& sql, Prepared& p, sqlite3* conn = nullptr) {
    const char* tail = nullptr;
    sqlite3* on = conn ? conn : s.db;
    int rc = sqlite3_prepare_v2(on, sql.c_str(), static_cast<int>(sql.size()), &p.st, &tail);
    if (rc != SQLITE_OK) s.raiseSqliteOn(on, rc);
    if (!p.st) raise(900);
    for (; tail && *tail; ++tail) {
        if (static_cast<unsigned char>(*tail) > ' ' && *tail != ';') raise(911, "invalid character");
    }
}

void bindParams(sqlite3_stmt* st, const std::map<std::string, Value>& params) {
    int n = sqlite3_bind_parameter_count(st);
    for (int k = 1; k <= n; ++k) {
        const char* name = sqlite3_bind_parameter_name(st, k);
        if (!name) raise(1008);
        std::string key = upper(name + 1);
        auto it = params.find(key);
        if (it == params.end()) raise(1008);
        bindValue(st, k, it->second);
    }
}

// Column names as Oracle gives them: upper case unless the query quoted them.
std::string columnName(const std::string& sql, const char* sqliteName) {
    std::string name = sqliteName ? sqliteName : "";
    return sql.find("\"" + name + "\"") != std::string::npos ? name : upper(name);
}

// The select list of a prepared query: declared types where SQLite knows the column's origin, the
// describer's types (and expression names) for the rest. Never looks at a row.
std::vector<Column> describeColumns(Session& s, const std::string& utf8, const std::string& sql,
                                    sqlite3_stmt* st) {
    int n = sqlite3_column_count(st);
    std::vector<Column> described = describeSelectList(s, utf8);
    bool useDescribed = described.size() == static_cast<size_t>(n);
    std::vector<Column> out;
    for (int c = 0; c < n; ++c) {
        Column col;
        const char* sqliteName = sqlite3_column_name(st, c);
        col.name = columnName(sql, sqliteName);
        if (useDescribed && !sameText(described[c].name, sqliteName ? sqliteName : ""))
            col.name = described[c].name;
        const char* decl = sqlite3_column_decltype(st, c);
        std::optional<TypeInfo> declared = decl ? parseDeclaredType(decl, false) : std::nullopt;
        if (auto object = (decl && !declared) ? objectColumnType(s, decl) : std::nullopt) {
            col.type = object->type;
            col.typeSchema = object->typeSchema;
            col.typeName = object->typeName;
        } else if (declared) {
            col.type = *declared;
            const char* table = sqlite3_column_table_name(st, c);
            const char* origin = sqlite3_column_origin_name(st, c);
            int notNull = 0, primaryKey = 0;
            if (table && origin &&
                sqlite3_table_column_metadata(s.db, sqlite3_column_database_name(st, c), table, origin,
                                              nullptr, nullptr, &notNull, &primaryKey, nullptr) == SQLITE_OK)
                col.nullable = !notNull && !primaryKey;
            // an outer join can still bring NULLs into a NOT NULL column
            if (useDescribed && described[c].nullable) col.nullable = true;
        } else if (useDescribed) {
            col.type = described[c].type;
            col.nullable = described[c].nullable;
        } else {
            col.type = TypeInfo{SQLT_CHR, 4000, 0, 0, 0, 1};
        }
        out.push_back(col);
    }
    describeObjectItems(s, utf8, out);
    return out;
}

}  // namespace

// ---- cursors ------------------------------------------------------------------------------------------

namespace {

// columnValue into a cell that keeps its text buffer from the row it held before.
void readColumn(sqlite3_stmt* st, int col, Value& v) {
    const int type = sqlite3_column_type(st, col);
    if (type != SQLITE_TEXT && type != SQLITE_BLOB) {
        v = columnValue(st, col);
        return;
    }
    v.i = 0;
    v.r = 0;
    v.cursor.reset();
    v.kind = type == SQLITE_TEXT ? Value::Text : Value::Blob;
    const char* p = type == SQLITE_TEXT ? reinterpret_cast<const char*>(sqlite3_column_text(st, col))
                                        : static_cast<const char*>(sqlite3_column_blob(st, col));
    const int n = sqlite3_column_bytes(st, col);
    if (n > 0)
        v.s.assign(p, static_cast<size_t>(n));
    else
        v.s.clear();
}

}  // namespace

Cursor::Cursor(Session& s, sqlite3_stmt* st, std::vector<Column> columns, bool scrollable)
    : session_(&s), st_(st), columns_(std::move(columns)), scrollable_(scrollable) {}

Cursor::~Cursor() {
    sqlite3_finalize(st_);
    if (nested_) closeNestedCursors(*nested_);
}

bool Cursor::readOne() {
    if (end_ || !st_) return false;
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) {
        if (nested_) {
            rows_.push_back(nestedCursorRow(*nested_, *session_, st_, columns_.size()));
            return true;
        }
        std::vector<Value> row;
        if (!spare_.empty()) {
            row = std::move(spare_.back());
            spare_.pop_back();
        }
        row.resize(columns_.size());
        for (int c = 0; c < static_cast<int>(columns_.size()); ++c)
            readColumn(st_, c, row[static_cast<size_t>(c)]);
        rows_.push_back(std::move(row));
        return true;
    }
    end_ = true;
    if (rc == SQLITE_DONE) {
        sqlite3_finalize(std::exchange(st_, nullptr));
        return false;
    }
    try {
        session_->raiseSqliteOn(sqlite3_db_handle(st_), rc);
    } catch (const OraException& e) {
        sqlite3_finalize(std::exchange(st_, nullptr));
        error_ = std::make_pair(e.code(), std::string(e.what()));
    }
    return false;
}

const std::vector<Value>* Cursor::row(size_t k) {
    if (cancelled_ || (!scrollable_ && k < first_)) raise(1002, "fetch out of sequence");
    for (;;) {
        if (!scrollable_) {
            while (!rows_.empty() && first_ < k) {
                if (spare_.size() < 4) spare_.push_back(std::move(rows_.front()));
                rows_.pop_front();
                ++first_;
            }
        }
        if (k >= first_ && k < first_ + rows_.size()) return &rows_[k - first_];
        if (!readOne()) {
            // A row that failed to come fails the fetch that reaches it, and every fetch after.
            if (error_) {
                cancelled_ = true;
                raise(error_->first, error_->second);
            }
            return nullptr;
        }
    }
}

size_t Cursor::count() {
    while (readOne()) {
    }
    return first_ + rows_.size();
}

void Cursor::drain() {
    while (readOne()) {
    }
}

void Cursor::close() {
    sqlite3_finalize(std::exchange(st_, nullptr));
    if (nested_) closeNestedCursors(*nested_);
    rows_.clear();
    end_ = true;
    cancelled_ = true;
}

void Cursor::detach() {
    close();
    session_ = nullptr;
}

std::shared_ptr<Cursor> openQuery(Session& s, const std::string& utf8,
                                  const std::map<std::string, Value>& params, bool scrollable,
                                  sqlite3* conn) {
    std::string text = utf8;
    auto nested = planNestedCursors(utf8, text, params);
    const std::string sql = lexStatement(text, &s.schemas).sqlite;
    Prepared p;
    prepareOne(s, sql, p, conn);
    bindParams(p.st, params);
    std::vector<Column> columns = describeColumns(s, text, sql, p.st);
    if (nested) describeNestedCursors(*nested, columns);
    auto cursor = std::make_shared<Cursor>(s, p.st, std::move(columns), scrollable);
    p.release();
    cursor->setNested(std::move(nested));
    auto& open = s.cursors;
    if (!conn)
        open.erase(std::remove_if(open.begin(), open.end(), [](const auto& w) { return w.expired(); }),
                   open.end());
    open.push_back(cursor);
    return cursor;
}

QueryRows selectRows(Session& s, const std::string& utf8, const std::map<std::string, Value>& params,
                     size_t limit) {
    const std::string sql = lexStatement(utf8, &s.schemas).sqlite;
    Prepared p;
    prepareOne(s, sql, p);
    bindParams(p.st, params);
    QueryRows out;
    int n = sqlite3_column_count(p.st);
    for (int c = 0; c < n; ++c) out.names.push_back(columnName(sql, sqlite3_column_name(p.st, c)));
    int rc;
    while ((rc = sqlite3_step(p.st)) == SQLITE_ROW) {
        if (out.rows.size() == limit) {
            out.more = true;
            return out;
        }
        std::vector<Value> row;
        for (int c = 0; c < n; ++c) row.push_back(columnValue(p.st, c));
        out.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) s.raiseSqlite(rc);
    return out;
}

int runDml(Session& s, const std::string& sql, const std::map<std::string, Value>& params) {
    s.drainCursors();
    Prepared p;
    prepareOne(s, sql, p);
    bindParams(p.st, params);
    int rc;
    while ((rc = sqlite3_step(p.st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) s.raiseSqlite(rc);
    return sqlite3_changes(s.db);
}

void openCursorInto(Stmt& target, std::shared_ptr<Cursor> cursor) {
    target.reset();
    if (!cursor) return;  // not opened by the procedure
    target.columns = cursor->columns();
    target.svc = cursor->session() ? cursor->session()->svc : nullptr;
    target.cursor = std::move(cursor);
    target.described = true;
    target.prepared = true;
    target.stmtType = OCI_STMT_SELECT;
    target.fnCode = 4;
    target.state = OCI_STMT_STATE_EXECUTED;
}

namespace {

std::map<std::string, Value> bindValues(Stmt& st, ub4 iteration) {
    std::map<std::string, Value> params;
    for (Bind* b : st.binds) {
        if (b->maxarr > 0 && st.stmtType != OCI_STMT_BEGIN && st.stmtType != OCI_STMT_DECLARE) raise(1484);
        params[b->name] = b->read(iteration);
    }
    // stand-in names of quoted markers
    for (size_t k = 0; k < st.markers.size(); ++k) {
        auto it = params.find(st.markers[k]);
        if (it != params.end()) params["Q" + std::to_string(k) + "_"] = it->second;
    }
    return params;
}

std::string afterWords(const std::string& text, size_t words) {
    size_t i = 0;
    for (size_t k = 0; k < words; ++k) {
        while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
        while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ') ++i;
    }
    return trim(text.substr(std::min(i, text.size())));
}

// ALTER SESSION SET name = value [name = value ...], and the ENABLE/DISABLE/FORCE/ADVISE/CLOSE forms.
void alterSession(Session& s, const std::string& text) {
    std::vector<Token> t = tokenize(text);
    auto word = [&](size_t k, const char* w) {
        return t[k].kind == Token::Ident && !t[k].quoted && t[k].text == w;
    };
    auto punct = [&](size_t k, const char* p) { return t[k].kind == Token::Punct && t[k].text == p; };
    auto stop = [&](size_t k) { return t[k].kind == Token::End || punct(k, ";"); };
    size_t i = 2;  // after ALTER SESSION
    if (word(i, "SET")) {
        ++i;
        std::vector<std::pair<std::string, std::string>> settings;
        while (!stop(i)) {
            // SET EVENTS '<event text>' takes its text without "=".
            if (t[i].kind == Token::Ident && upper(t[i].text) == "EVENTS" && !punct(i + 1, "=")) {
                if (stop(i + 1) || t[i + 1].kind != Token::String) raise(922, "missing or invalid option");
                settings.emplace_back("EVENTS", t[i + 1].text);
                i += 2;
                continue;
            }
            if (t[i].kind != Token::Ident || !punct(i + 1, "=")) raise(922, "missing or invalid option");
            std::string name = upper(t[i].text);
            i += 2;
            std::string value;
            for (size_t first = i; !stop(i) && !(t[i].kind == Token::Ident && punct(i + 1, "=")); ++i) {
                if (i > first) value += ' ';
                value += t[i].text;
            }
            if (value.empty()) raise(922, "missing or invalid option");
            settings.emplace_back(name, value);
        }
        if (settings.empty()) raise(922, "missing or invalid option");
        for (const auto& [name, value] : settings) s.setParameter(name, value);
    } else if (!(word(i, "ENABLE") || word(i, "DISABLE") || word(i, "FORCE") || word(i, "ADVISE") ||
                 word(i, "CLOSE"))) {
        raise(922, "missing or invalid option");
    }
    s.recordAlter(trim(text));
}

void recordRowid(Session& s, Stmt& st) {
    // "INSERT INTO <table>": the row the insert made
    std::string rest = afterWords(st.text, 2);
    std::string table;
    for (char c : rest) {
        if (!identChar(c) && c != '"' && c != '.') break;
        table += c;
    }
    table.erase(std::remove(table.begin(), table.end(), '"'), table.end());
    if (auto dot = table.rfind('.'); dot != std::string::npos) table = table.substr(dot + 1);
    sqlite3_stmt* q = nullptr;
    int64_t object = 0;
    bool movesIds = false;  // an object table whose new rows may move off a lost identifier
    std::string name;
    if (sqlite3_prepare_v2(
            s.db,
            "SELECT rowid, name, EXISTS(SELECT 1 FROM sqlite_schema WHERE type = 'trigger' AND "
            "name = 'oci_oid_' || t.name || '_i') FROM sqlite_schema t WHERE type = 'table' AND "
            "upper(name) = upper(?)",
            -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) {
            object = sqlite3_column_int64(q, 0);
            name = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
            movesIds = sqlite3_column_int(q, 2) != 0;
        }
    }
    sqlite3_finalize(q);
    if (object == 0) return;
    st.hasRowid = true;
    st.rowidTable = object + 73000;  // keeps the object numbers in Oracle's usual range
    st.rowid = sqlite3_last_insert_rowid(s.db);
    // the trigger moved the row after SQLite reported it
    if (movesIds) st.rowid += objectIdShift(s, name, st.rowid);
}

}  // namespace

sword executeStatement(SvcCtx& svc, Stmt& st, ub4 iters, ub4 mode, Error& err) {
    if (!st.prepared) raise(24337);
    if (!svc.session || !findHandle(svc.session)) raise(3114);
    Session& s = *svc.session;
    s.ensureAlive();
    s.checkLink();
    s.flushLobs();
    s.freshSnapshot();
    st.svc = &svc;
    st.reset();
    st.text = rewriteObjectSql(s, st.text);
    sword status = OCI_SUCCESS;
    switch (st.fnCode) {
        case 4: {                            // query
            if (mode & OCI_DESCRIBE_ONLY) {  // parsed and described, not run
                std::string text = st.text;
                auto nested = planNestedCursors(st.text, text, {});
                const std::string sql = lexStatement(text, &s.schemas).sqlite;
                Prepared p;
                prepareOne(s, sql, p);
                st.columns = describeColumns(s, text, sql, p.st);
                if (nested) describeNestedCursors(*nested, st.columns);
                st.described = true;
                return OCI_SUCCESS;
            }
            if (lexStatement(st.text, &s.schemas).forUpdate) s.beginWork();
            st.cursor = openQuery(s, st.text, bindValues(st, 0), (mode & OCI_STMT_SCROLLABLE_READONLY) != 0);
            if (st.changeRegistration) registerQueryTables(s, st);
            st.columns = st.cursor->columns();
            st.described = true;
            st.state = OCI_STMT_STATE_EXECUTED;
            if (iters > 0) status = fetchRows(st, iters, OCI_FETCH_NEXT, 0, err);
            break;
        }
        case 34:  // PL/SQL block
            if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
            runBlock(s, st);
            st.rowCount = 1;
            st.state = OCI_STMT_STATE_EXECUTED;
            break;
        case 52:
            alterSession(s, st.text);
            break;
        case 33:
            s.localTransactionId(true);
            break;
        case 54:
            s.commit();
            break;
        case 55: {
            // Words are matched in upper case; the savepoint name keeps its case (quoted names).
            std::string rest = trim(afterWords(st.text, 1));
            auto skipWord = [&rest](const char* word) {
                const size_t n = std::strlen(word);
                if (upper(rest.substr(0, n)) != word) return false;
                rest = trim(rest.substr(n));
                return true;
            };
            skipWord("WORK");
            if (skipWord("TO")) {
                skipWord("SAVEPOINT");
                while (!rest.empty() &&
                       (rest.back() == ';' || static_cast<unsigned char>(rest.back()) <= ' '))
                    rest.pop_back();
                s.rollbackTo(rest);
            } else {
                s.rollback();
            }
            break;
        }
        case 56: {
            std::string name = afterWords(st.text, 1);
            while (!name.empty() && name.back() == ';') name.pop_back();
            s.savepoint(name);
            break;
        }
        default:
            if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
            if (st.stmtType == OCI_STMT_CREATE || st.stmtType == OCI_STMT_DROP ||
                st.stmtType == OCI_STMT_ALTER || st.fnCode == 85) {
                // DDL commits what came before it and itself
                s.commit();
                if (st.stmtType == OCI_STMT_CREATE && runObjectTableDdl(s, st.text)) {
                    s.commit();
                    break;
                }
                if (runSequenceDdl(s, st.text)) break;
                if (auto failed = compileStoredUnit(s, st.text)) {
                    if (*failed) {
                        err.set(24344, "success with compilation error");
                        status = OCI_SUCCESS_WITH_INFO;
                    } else if (runTypeDdl(s, st.text)) {
                        s.commit();
                    }
                    break;
                }
                if (st.stmtType == OCI_STMT_DROP && runTypeDdl(s, st.text)) {
                    s.commit();
                    break;
                }
                std::string sql = lexStatement(st.text, &s.schemas).sqlite;
                if (st.fnCode == 85) sql = "DELETE FROM " + afterWords(sql, 2);
                const TableDdl ddl = tableDdl(s, st.text);
                const std::string objectTable =
                    st.stmtType == OCI_STMT_DROP ? objectTableDropping(s, st.text) : std::string();
                runDml(s, sql, bindValues(st, 0));
                if (!objectTable.empty()) objectTableDropped(s, objectTable);
                logTableDdl(s, ddl);
                break;
            }
            if (iters == 0) raise(24333);
            s.beginWork();
            const auto returning = splitReturning(st.text);
            const std::string sql =
                lexStatement(returning ? returning->statement : st.text, &s.schemas).sqlite;
            for (ub4 k = 0; k < iters; ++k) {
                auto params = bindValues(st, k);
                if (returning && iters > 1)
                    raise(3001, "unimplemented feature: RETURNING with several iterations");
                st.rowCount += static_cast<ub4>(returning ? runReturning(s, st, *returning, params)
                                                          : runDml(s, sql, params));
                if (st.stmtType == OCI_STMT_INSERT) recordRowid(s, st);
            }
            st.state = OCI_STMT_STATE_EXECUTED;
            break;
    }
    if (mode & OCI_COMMIT_ON_SUCCESS) s.commit();
    return status;
}

sword fetchRows(Stmt& st, ub4 nrows, ub2 orientation, sb4 offset, Error& err) {
    if (st.pieces.phase == PieceWork::Fetch) return continueFetchPieces(st);
    if (!st.cursor || st.state == OCI_STMT_STATE_INITIALIZED) raise(24338);
    if (st.svc && findHandle(st.svc) && st.svc->session && findHandle(st.svc->session)) {
        st.svc->session->ensureAlive();
        st.svc->session->checkLink();
    }
    Cursor& cursor = *st.cursor;
    if (!cursor.session()) raise(3114);
    if (nrows == 0) {  // cancels the cursor
        cursor.close();
        st.state = OCI_STMT_STATE_END_OF_FETCH;
        return OCI_SUCCESS;
    }
    const int64_t current = static_cast<int64_t>(st.pos) - 1;  // the last row delivered
    int64_t start = 0;
    if (orientation == OCI_DEFAULT || orientation == OCI_FETCH_NEXT) {
        start = current + 1;
    } else {
        // Only a cursor executed as scrollable moves anywhere but forward.
        if (!cursor.scrollable()) raise(24391, "invalid fetch operation");
        switch (orientation) {
            case OCI_FETCH_CURRENT:
                start = current;
                break;
            case OCI_FETCH_FIRST:
                start = 0;
                break;
            case OCI_FETCH_LAST:
                start = static_cast<int64_t>(cursor.count()) - 1;
                nrows = 1;
                break;
            case OCI_FETCH_PRIOR:
                start = current - 1;
                break;
            case OCI_FETCH_ABSOLUTE:
                start = static_cast<int64_t>(offset) - 1;
                break;
            case OCI_FETCH_RELATIVE:
                start = current + offset;
                break;
            default:
                raise(24391, "invalid fetch operation");
        }
    }
    if (st.defines.empty() && !st.columns.empty())
        raise(24374, "define not done before fetch or execute and fetch");
    for (Define* d : st.defines)
        if (d->position < 1 || d->position > st.columns.size()) raise(1007);
    ub4 got = 0;
    bool truncated = false;
    const bool anyDynamic =
        std::any_of(st.defines.begin(), st.defines.end(), [](const Define* d) { return d->dynamic; });
    if (start >= 0) {
        for (; got < nrows; ++got) {
            const std::vector<Value>* row = cursor.row(static_cast<size_t>(start) + got);
            if (!row) break;
            for (Define* d : st.defines)
                if (!d->dynamic)
                    truncated = d->write(got, (*row)[d->position - 1], st.columns[d->position - 1].type,
                                         *cursor.session()) ||
                                truncated;
            st.pos = static_cast<size_t>(start) + got + 1;
            st.rowCount = static_cast<ub4>(std::max<size_t>(st.rowCount, st.pos));
            if (anyDynamic && fetchPieces(st, got, *row) == OCI_NEED_DATA) {
                if (nrows != 1) raise(24345, "A Truncation or null fetch error occurred");
                return OCI_NEED_DATA;  // the caller takes the row's LONG pieces first
            }
        }
    }
    if (got < nrows) {
        st.state = OCI_STMT_STATE_END_OF_FETCH;
        return OCI_NO_DATA;
    }
    if (truncated) {
        err.set(1406, "fetched column value was truncated");
        return OCI_SUCCESS_WITH_INFO;
    }
    return OCI_SUCCESS;
}

}  // namespace oci

using namespace oci;

namespace {

// With DX_OCI_TRACE naming a file, every statement text prepared is appended to it as received,
// each followed by the record separator 0x1E: tests compare what the server was sent.
void traceStatement(const std::string& raw) {
    const char* path = std::getenv("DX_OCI_TRACE");
    if (!path || !*path) return;
    static std::mutex lock;
    std::lock_guard<std::mutex> g(lock);
    if (FILE* f = std::fopen(path, "ab")) {
        std::fwrite(raw.data(), 1, raw.size(), f);
        std::fputc(0x1E, f);
        std::fclose(f);
    }
}

void prepareText(Stmt& st, const OraText* text, ub4 len) {
    std::string raw = text ? std::string(reinterpret_cast<const char*>(text), len) : std::string();
    traceStatement(raw);
    for (Bind* b : std::vector<Bind*>(st.binds)) freeHandle(b);
    for (Define* d : std::vector<Define*>(st.defines)) freeHandle(d);
    st.reset();
    st.text = ansiToUtf8(raw);
    Lexed lx = lexStatement(st.text);
    st.sql = lx.sqlite;
    st.markers = lx.markers;
    st.stmtType = lx.stmtType;
    st.fnCode = lx.fnCode;
    st.prepared = true;
}

Bind* bindTo(Stmt& st, const std::string& key, bool quoted, OCIBind** bindp) {
    if (std::find(st.markers.begin(), st.markers.end(), key) == st.markers.end()) raise(1036);
    Bind* b = nullptr;
    for (Bind* x : st.binds)
        if (x->name == key) b = x;
    if (!b) {
        b = new Bind();
        registerHandle(b, &st);
        st.binds.push_back(b);
    }
    b->name = key;
    b->quoted = quoted;
    if (bindp) *bindp = reinterpret_cast<OCIBind*>(b);
    return b;
}

void fillBind(Bind* b, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep, ub4 maxarr,
              ub4* curelep) {
    b->valuep = static_cast<char*>(valuep);
    b->valueSize = value_sz;
    b->dty = dty;
    b->indp = static_cast<char*>(indp);
    b->alenp = reinterpret_cast<char*>(alenp);
    b->rcodep = reinterpret_cast<char*>(rcodep);
    b->maxarr = maxarr;
    b->curelep = curelep;
    b->valueSkip = b->indSkip = b->alenSkip = b->rcodeSkip = 0;
    b->charsetId = 0;
    b->charsetForm = 0;
    b->dataAtExec = false;
    b->inCallback = nullptr;
    b->outCallback = nullptr;
    b->pieceValue = Value::null();
    b->pieceWritten = false;
}

}  // namespace

extern "C" {

sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmt_len, ub4, ub4) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        prepareText(*st, stmt, stmt_len);
        return OCI_SUCCESS;
    });
}

sword OCIStmtPrepare2(OCISvcCtx* svchp, OCIStmt** stmthp, OCIError* errhp, const OraText* stmttext,
                      ub4 stmt_len, const OraText*, ub4, ub4, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err || !stmthp) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        auto* st = new Stmt();
        registerHandle(st, svc->env);
        st->fromCache = true;
        st->svc = svc;
        try {
            prepareText(*st, stmttext, stmt_len);
        } catch (...) {
            freeHandle(st);
            throw;
        }
        *stmthp = reinterpret_cast<OCIStmt*>(st);
        return OCI_SUCCESS;
    });
}

sword OCIStmtRelease(OCIStmt* stmthp, OCIError* errhp, const OraText*, ub4, ub4) {
    auto* st = handleAs<Stmt>(stmthp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword { return freeHandle(st), OCI_SUCCESS; });
}

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4, const OCISnapshot*,
                     OCISnapshot*, ub4 mode) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        st->parseErrorOffset = 0;
        try {
            return executeWithPieces(*svc, *st, iters, mode, *err);
        } catch (const OraException&) {
            if (svc->session && findHandle(svc->session) && svc->session->db) {
                int off = sqlite3_error_offset(svc->session->db);
                if (off > 0) st->parseErrorOffset = static_cast<ub2>(off);
            }
            throw;
        }
    });
}

sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword { return fetchRows(*st, nrows, orientation, 0, *err); });
}

sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4 scrollOffset, ub4) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword { return fetchRows(*st, nrows, orientation, scrollOffset, *err); });
}

sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                    sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep,
                    ub4 maxarr_len, ub4* curelep, ub4 mode) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err || !placeholder) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        const char* p = reinterpret_cast<const char*>(placeholder);
        std::string name =
            ansiToUtf8(placeh_len >= 0 ? std::string_view(p, placeh_len) : std::string_view(p));
        bool quoted = false;
        std::string key = markerKey(trim(name), &quoted);
        Bind* b = bindTo(*st, key, quoted, bindp);
        fillBind(b, valuep, value_sz, dty, indp, alenp, rcodep, maxarr_len, curelep);
        b->dataAtExec = (mode & OCI_DATA_AT_EXEC) != 0;
        return OCI_SUCCESS;
    });
}

sword OCIBindByPos(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, ub4 position, void* valuep, sb4 value_sz,
                   ub2 dty, void* indp, ub2* alenp, ub2* rcodep, ub4 maxarr_len, ub4* curelep, ub4 mode) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        // PL/SQL counts each distinct name once; SQL counts every occurrence.
        std::vector<std::string> order;
        bool plsql = st->stmtType == OCI_STMT_BEGIN || st->stmtType == OCI_STMT_DECLARE;
        for (const auto& m : st->markers)
            if (!plsql || std::find(order.begin(), order.end(), m) == order.end()) order.push_back(m);
        if (position < 1 || position > order.size()) raise(1036);
        Bind* b = bindTo(*st, order[position - 1], false, bindp);
        b->position = position;
        fillBind(b, valuep, value_sz, dty, indp, alenp, rcodep, maxarr_len, curelep);
        b->dataAtExec = (mode & OCI_DATA_AT_EXEC) != 0;
        return OCI_SUCCESS;
    });
}

sword OCIBindArrayOfStruct(OCIBind* bindp, OCIError* errhp, ub4 pvskip, ub4 indskip, ub4 alskip, ub4 rcskip) {
    auto* b = handleAs<Bind>(bindp, OCI_HTYPE_BIND);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!b || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        b->valueSkip = pvskip;
        b->indSkip = indskip;
        b->alenSkip = alskip;
        b->rcodeSkip = rcskip;
        return OCI_SUCCESS;
    });
}

sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,
                     sb4 value_sz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (position < 1) raise(1007);
        Define* d = nullptr;
        for (Define* x : st->defines)
            if (x->position == position) d = x;
        if (!d) {
            d = new Define();
            registerHandle(d, st);
            st->defines.push_back(d);
        }
        d->position = position;
        d->valuep = static_cast<char*>(valuep);
        d->valueSize = value_sz;
        d->dty = dty;
        d->indp = static_cast<char*>(indp);
        d->rlenp = reinterpret_cast<char*>(rlenp);
        d->rcodep = reinterpret_cast<char*>(rcodep);
        d->valueSkip = d->indSkip = d->rlenSkip = d->rcodeSkip = 0;
        d->charsetId = 0;
        d->charsetForm = 0;
        d->dynamic = (mode & OCI_DYNAMIC_FETCH) != 0;
        d->callback = nullptr;
        d->context = nullptr;
        if (defnp) *defnp = reinterpret_cast<OCIDefine*>(d);
        return OCI_SUCCESS;
    });
}

sword OCIDefineArrayOfStruct(OCIDefine* defnp, OCIError* errhp, ub4 pvskip, ub4 indskip, ub4 rlskip,
                             ub4 rcskip) {
    auto* d = handleAs<Define>(defnp, OCI_HTYPE_DEFINE);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!d || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        d->valueSkip = pvskip;
        d->indSkip = indskip;
        d->rlenSkip = rlskip;
        d->rcodeSkip = rcskip;
        return OCI_SUCCESS;
    });
}

sword OCIRowidToChar(OCIRowid* rowidDesc, OraText* outbfp, ub2* outbflp, OCIError* errhp) {
    auto* rd = handleAs<RowidDesc>(rowidDesc, OCI_DTYPE_ROWID);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!rd || !err || !outbflp) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (!rd->valid) raise(1410, "invalid ROWID");
        const std::string text =
            rowidText(uint64_t{rd->object}, uint64_t{rd->file}, uint64_t{rd->block}, uint64_t{rd->row});
        if (*outbflp < text.size()) {
            *outbflp = static_cast<ub2>(text.size());
            raise(1406, "fetched column value was truncated");
        }
        std::memcpy(outbfp, text.data(), text.size());
        if (*outbflp > text.size()) outbfp[text.size()] = 0;
        *outbflp = static_cast<ub2>(text.size());
        return OCI_SUCCESS;
    });
}

}  // extern "C"
