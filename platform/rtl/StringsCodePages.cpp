// Code-page tables and conversions between 8-bit text, UTF-16 and UTF-8.
#include <algorithm>
#include <array>
#include <utility>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace rtl {
namespace {

// Upper halves of the tables; 0x00..0x7F are ASCII in both code pages.
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
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
const char16_t kCp866High[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
    0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436,
    0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407,
    0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

// The reverse direction: the 128 upper entries sorted by UTF-16 unit.
struct Reverse {
    std::array<std::pair<char16_t, uint8_t>, 128> entries;
    explicit Reverse(const char16_t* high) {
        for (int i = 0; i < 128; ++i) entries[i] = {high[i], static_cast<uint8_t>(0x80 + i)};
        std::sort(entries.begin(), entries.end());
    }
    // The byte for c, or -1 when the code page lacks it.
    int Find(char16_t c) const {
        if (c < 0x80) return c;
        auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(c, uint8_t{0}));
        if (it != entries.end() && it->first == c) return it->second;
        return -1;
    }
};

const char16_t* HighTable(int codePage) {
    switch (codePage) {
        case 1251:
            return kCp1251High;
        case 866:
            return kCp866High;
        default:
            return nullptr;
    }
}

const Reverse& ReverseTable(int codePage) {
    static const Reverse r1251(kCp1251High);
    static const Reverse r866(kCp866High);
    return codePage == 866 ? r866 : r1251;
}

[[noreturn]] void Unsupported(int codePage) {
    throw EConvertError("Unsupported code page " + std::to_string(codePage));
}

void CheckCodePage(int codePage) {
    if (!IsSupportedCodePage(codePage)) Unsupported(codePage);
}

void AppendUtf8(std::string& out, char32_t cp) {
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

void AppendUtf16(WideString& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

bool IsSupportedCodePage(int codePage) {
    return codePage == 1251 || codePage == 866 || codePage == CP_UTF8;
}

WideString AnsiToWide(std::string_view s, int codePage) {
    if (codePage == CP_UTF8) return Utf8ToWide(s);
    const char16_t* high = HighTable(codePage);
    if (!high) Unsupported(codePage);
    WideString out;
    out.reserve(s.size());
    for (char ch : s) {
        auto b = static_cast<uint8_t>(ch);
        out += b < 0x80 ? static_cast<char16_t>(b) : high[b - 0x80];
    }
    return out;
}

AnsiString WideToAnsi(std::u16string_view s, int codePage) {
    if (codePage == CP_UTF8) return WideToUtf8(s);
    CheckCodePage(codePage);
    const Reverse& rev = ReverseTable(codePage);
    AnsiString out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        // A surrogate pair is one character, and no 8-bit code page has it.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            ++i;
            out += '?';
            continue;
        }
        int b = rev.Find(c);
        out += b < 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

WideString Utf8ToWide(std::string_view s) {
    WideString out;
    out.reserve(s.size());
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        auto b0 = static_cast<uint8_t>(s[i]);
        if (b0 < 0x80) {
            out += static_cast<char16_t>(b0);
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2, cp = b0 & 0x1F, min = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3, cp = b0 & 0x0F, min = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4, cp = b0 & 0x07, min = 0x10000;
        }
        if (len == 0) {  // stray continuation byte or invalid lead byte
            AppendUtf16(out, kReplacement);
            ++i;
            continue;
        }
        int k = 1;
        for (; k < len && i + k < n; ++k) {
            auto b = static_cast<uint8_t>(s[i + k]);
            if ((b & 0xC0) != 0x80) break;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // A truncated or overlong sequence: one replacement, resume at the first byte that
            // did not belong to it.
            AppendUtf16(out, kReplacement);
            i += std::max(k, 1);
            continue;
        }
        AppendUtf16(out, cp);
        i += len;
    }
    return out;
}

std::string WideToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
                ++i;
            } else {
                c = kReplacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

AnsiString Utf8ToAnsi(std::string_view s) {
    return WideToAnsi(Utf8ToWide(s), AnsiCodePage);
}

bool TryUtf8ToAnsi(std::string_view s, AnsiString& out) {
    const WideString wide = Utf8ToWide(s);
    const Reverse& rev = ReverseTable(AnsiCodePage);
    AnsiString result;
    result.reserve(wide.size());
    for (char16_t c : wide) {
        // U+FFFD stands for malformed input here; 1251 has no place for it either way.
        const int b = rev.Find(c);
        if (b < 0) return false;
        result += static_cast<char>(b);
    }
    out = std::move(result);
    return true;
}

std::string AnsiToUtf8(std::string_view s) {
    return WideToUtf8(AnsiToWide(s, AnsiCodePage));
}

std::string ConvertCodePage(std::string_view s, int fromCodePage, int toCodePage) {
    CheckCodePage(fromCodePage);
    CheckCodePage(toCodePage);
    if (fromCodePage == toCodePage) return std::string(s);
    return WideToAnsi(AnsiToWide(s, fromCodePage), toCodePage);
}

AnsiString AnsiToOem(std::string_view s) {
    return ConvertCodePage(s, AnsiCodePage, OemCodePage);
}

AnsiString OemToAnsi(std::string_view s) {
    return ConvertCodePage(s, OemCodePage, AnsiCodePage);
}

}  // namespace rtl
