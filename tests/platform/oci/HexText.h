// Oracle value bytes as spaced upper-case hex ("C1 02"), the form the value tables are written in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace standin {

inline std::string HexText(const uint8_t* bytes, size_t count) {
    std::string out;
    char buf[4];
    for (size_t k = 0; k < count; ++k) {
        std::snprintf(buf, sizeof buf, k ? " %02X" : "%02X", bytes[k]);
        out += buf;
    }
    return out;
}

}  // namespace standin
