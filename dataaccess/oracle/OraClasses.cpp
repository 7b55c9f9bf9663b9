#include "dataaccess/oracle/OraClasses.h"

#include <cstdio>
#include <vector>

#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

bool IsBlankChar(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// Splits at the dots that stand outside double quotes.
std::vector<AnsiString> SplitDotted(const AnsiString& name) {
    std::vector<AnsiString> parts(1);
    bool quoted = false;
    for (char ch : name) {
        if (ch == '"') quoted = !quoted;
        if (ch == '.' && !quoted)
            parts.emplace_back();
        else
            parts.back() += ch;
    }
    return parts;
}

const char RowIdAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64Number(AnsiString& out, uint32_t value, int chars) {
    for (int i = chars - 1; i >= 0; --i) out += RowIdAlphabet[(value >> (6 * i)) & 63];
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connect strings and names

void ParseConnectString(const AnsiString& text, AnsiString& userName, AnsiString& password,
                        AnsiString& server, TConnectMode& connectMode) {
    enum { User, Password, Server, Mode } part = User;
    userName.clear();
    password.clear();
    server.clear();
    connectMode = cmNormal;
    const size_t n = text.size();
    size_t i = 0;
    auto unquote = [](const AnsiString& token) {
        if (token.empty() || token.front() != '"') return token;
        if (token.size() >= 2 && token.back() == '"') return token.substr(1, token.size() - 2);
        return token.substr(1);  // unterminated: only the opening quote goes
    };
    for (;;) {
        const size_t blanksFrom = i;
        while (i < n && IsBlankChar(text[i])) ++i;
        if (i >= n) return;
        // "/ AS SYSDBA": an external logon with a privilege has no password to read.
        if (part == Password && i > blanksFrom && password.empty() &&
            rtl::UpperCase(text.substr(i, 3)) == "AS ") {
            part = Mode;
            i += 3;
            continue;
        }

        const size_t start = i;
        if (text[i] == '"') {
            const size_t close = text.find('"', i + 1);
            i = close == AnsiString::npos ? n : close + 1;
        } else {
            while (i < n && !IsBlankChar(text[i]) && text[i] != '"' &&
                   !((part == User || part == Password) && (text[i] == '/' || text[i] == '@')))
                ++i;
        }
        const AnsiString token = text.substr(start, i - start);
        switch (part) {
            case User:
                userName = token;
                break;
            case Password:
                password = unquote(token);
                break;
            case Server:
                server = unquote(token);
                break;
            case Mode: {
                const AnsiString mode = rtl::UpperCase(token);
                if (mode == "SYSDBA")
                    connectMode = cmSysDBA;
                else if (mode == "SYSOPER")
                    connectMode = cmSysOper;
                else if (mode == "SYSASM")
                    connectMode = cmSysASM;
                else
                    throw rtl::Exception("Invalid connect string");
                break;
            }
        }

        const size_t before = i;
        while (i < n && IsBlankChar(text[i])) ++i;
        if (i >= n) return;
        if (text[i] == '/' && part == User) {
            part = Password;
            ++i;
        } else if (text[i] == '@' && (part == User || part == Password)) {
            part = Server;
            ++i;
        } else if (part != Mode && i > before && rtl::UpperCase(text.substr(i, 3)) == "AS ") {
            part = Mode;
            i += 3;
        } else {
            return;
        }
    }
}

AnsiString QuoteObjectName(const AnsiString& name) {
    AnsiString result;
    for (const AnsiString& part : SplitDotted(name)) {
        if (!result.empty()) result += '.';
        result += '"' + part + '"';
    }
    return result;
}

bool IsQuotedName(const AnsiString& name) {
    return name.size() >= 2 && name.front() == '"' && name.back() == '"';
}

AnsiString NormalizeObjectName(const AnsiString& name) {
    AnsiString result;
    bool first = true;
    for (const AnsiString& raw : SplitDotted(name)) {
        if (!first) result += '.';
        first = false;
        const AnsiString part = rtl::Trim(raw);
        result += IsQuotedName(part) ? part : '"' + LocaleUpperCase(part) + '"';
    }
    return result;
}

void ParsePrecision(const AnsiString& text, int& precision, int& scale) {
    const size_t comma = text.find(',');
    if (comma == AnsiString::npos) {
        precision = rtl::StrToInt(rtl::Trim(text));
        scale = 0;
    } else {
        precision = rtl::StrToInt(rtl::Trim(text.substr(0, comma)));
        scale = rtl::StrToInt(rtl::Trim(text.substr(comma + 1)));
    }
}

AnsiString ParseServerVersion(const AnsiString& banner) {
    const size_t dot = banner.find('.');
    if (dot == AnsiString::npos) return {};
    auto digit = [&banner](size_t i) { return banner[i] >= '0' && banner[i] <= '9'; };
    size_t start = dot;
    if (start > 0 && digit(start - 1)) --start;
    if (start > 0 && digit(start - 1)) --start;
    const size_t blank = banner.find(' ', start);
    if (blank == AnsiString::npos) return {};
    return banner.substr(start, blank - start);
}

const AnsiString& OraLocalTimeFormat() {
    static const AnsiString format = rtl::FormatSettings().LongTimeFormat;
    return format;
}

// ---------------------------------------------------------------------------------------------
// ROWID texts

AnsiString RowIdToExtendedString(const TRowIdNumbers& rowId) {
    AnsiString result;
    result.reserve(18);
    AppendBase64Number(result, rowId.ObjectNumber, 6);
    AppendBase64Number(result, rowId.FileNumber, 3);
    AppendBase64Number(result, rowId.BlockNumber, 6);
    AppendBase64Number(result, rowId.RowNumber, 3);
    return result;
}

AnsiString RowIdToRestrictedString(const TRowIdNumbers& rowId) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08X.%04X.%04X", rowId.BlockNumber,
                  static_cast<unsigned>(rowId.RowNumber), static_cast<unsigned>(rowId.FileNumber));
    return buf;
}

AnsiString RowIdToString(const TRowIdNumbers& rowId) {
    return rowId.ObjectNumber != 0 ? RowIdToExtendedString(rowId) : RowIdToRestrictedString(rowId);
}

AnsiString URowIdToUniversalString(const uint8_t* bytes, size_t size) {
    AnsiString result = "*";
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < size; ++i) {
        acc = (acc << 8) | bytes[i];
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            result += RowIdAlphabet[(acc >> bits) & 63];
        }
        acc &= (1u << bits) - 1;
    }
    if (bits > 0) result += RowIdAlphabet[(acc << (6 - bits)) & 63];
    return result;
}

AnsiString URowIdToString(const rtl::TBytes& bytes) {
    if (bytes.empty()) return {};
    if (bytes[0] == 2) return URowIdToUniversalString(bytes.data() + 1, bytes.size() - 1);
    auto be = [&bytes](size_t at, int count) {
        uint32_t v = 0;
        for (int k = 0; k < count; ++k) v = (v << 8) | (at + k < bytes.size() ? bytes[at + k] : 0);
        return v;
    };
    TRowIdNumbers n;
    n.ObjectNumber = be(1, 4);
    n.FileNumber = static_cast<uint16_t>(be(5, 2));
    n.BlockNumber = be(7, 4);
    n.RowNumber = static_cast<uint16_t>(be(11, 2));
    return RowIdToString(n);
}

}  // namespace dac
