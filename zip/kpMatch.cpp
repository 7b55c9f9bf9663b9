#include "zip/kpMatch.h"

#include <optional>

namespace zip {

namespace {

char LowerChar(char c) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
    if (b >= 0xC0 && b <= 0xDF) return static_cast<char>(b + 32);
    if (b == 0xA8) return static_cast<char>(0xB8);
    return c;
}

struct CharSet {
    std::string_view body;  // between '<' (and the negation mark) and '>'
    bool negated = false;
    size_t length = 0;  // characters of the pattern the set takes, brackets included
};

// Parses the set starting at pattern[at] == '<'; nothing when it is empty or not closed.
std::optional<CharSet> ParseSet(std::string_view p, size_t at) {
    CharSet set;
    size_t i = at + 1;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
        set.negated = true;
        ++i;
    }
    size_t close = p.find('>', i);
    if (close == std::string_view::npos || close == i) return std::nullopt;
    set.body = p.substr(i, close - i);
    set.length = close + 1 - at;
    return set;
}

bool InSet(const CharSet& set, char c) {
    auto u = static_cast<unsigned char>(c);
    bool hit = false;
    const auto& b = set.body;
    for (size_t i = 0; i < b.size() && !hit; ++i) {
        if (i + 2 < b.size() && b[i + 1] == '-') {
            auto lo = static_cast<unsigned char>(b[i]);
            auto hi = static_cast<unsigned char>(b[i + 2]);
            hit = lo <= u && u <= hi;
            i += 2;
        } else {
            hit = static_cast<unsigned char>(b[i]) == u;
        }
    }
    return hit != set.negated;
}

bool Match(std::string_view p, size_t pi, std::string_view t, size_t ti) {
    for (;;) {
        if (pi == p.size()) return ti == t.size();
        if (ti == t.size()) return p.substr(pi) == "*";
        char c = p[pi];
        if (c == '*') {
            size_t need = 0;
            while (pi < p.size() && (p[pi] == '*' || p[pi] == '?')) {
                if (p[pi] == '?') ++need;
                ++pi;
            }
            if (ti + need > t.size()) return false;
            ti += need;
            if (pi == p.size()) return true;
            if (p[pi] == '<') {
                auto set = ParseSet(p, pi);
                if (!set) return false;
                // The characters the star passes over must belong to the set too.
                for (size_t k = ti; k < t.size(); ++k) {
                    if (Match(p, pi, t, k)) return true;
                    if (!InSet(*set, t[k])) return false;
                }
                return false;
            }
            for (size_t k = ti; k < t.size(); ++k)
                if (p[pi] == t[k] && Match(p, pi, t, k)) return true;
            return false;
        }
        if (c == '?') {
            ++pi;
            ++ti;
            continue;
        }
        if (c == '<') {
            auto set = ParseSet(p, pi);
            if (!set || !InSet(*set, t[ti])) return false;
            pi += set->length;
            ++ti;
            continue;
        }
        if (c != t[ti]) return false;
        ++pi;
        ++ti;
    }
}

}  // namespace

std::string ZipLowerCase(std::string_view text) {
    std::string s(text);
    for (auto& c : s) c = LowerChar(c);
    return s;
}

bool WildcardMatch(std::string_view pattern, std::string_view text) {
    std::string p = ZipLowerCase(pattern);
    std::string t = ZipLowerCase(text);
    if (p == "*") return true;
    return Match(p, 0, t, 0);
}

bool IsWildcard(std::string_view text) {
    return text.find_first_of("*?<>|") != std::string_view::npos;
}

}  // namespace zip
