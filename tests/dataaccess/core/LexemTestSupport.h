// Lexer tests: the lexemes of a parser as (code, text) pairs that gtest can compare and print.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "dataaccess/core/CRParser.h"

namespace dac {

struct Lexem {
    int code;
    std::string text;
    bool operator==(const Lexem&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Lexem& l) {
    return os << "{" << l.code << ", \"" << l.text << "\"}";
}

// Every lexeme up to the end; stops after 10000 so that a lexer stuck in place fails the test
// instead of hanging it.
inline std::vector<Lexem> LexAll(TParser& p) {
    std::vector<Lexem> out;
    std::string text;
    for (int code; (code = p.GetNext(text)) != lxEnd;) {
        out.push_back({code, text});
        if (out.size() > 10000) break;
    }
    return out;
}

}  // namespace dac
