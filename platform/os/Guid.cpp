// GUID creation and text form.
#include "platform/os/Guid.h"

#include <openssl/rand.h>

#include <cstdio>
#include <cstring>

#include "platform/rtl/Exceptions.h"

namespace os {

HRESULT CoCreateGuid(TGUID& guid) {
    uint8_t raw[16];
    if (RAND_bytes(raw, sizeof raw) != 1) return E_FAIL;
    TGUID g;
    std::memcpy(&g.D1, raw, 4);
    std::memcpy(&g.D2, raw + 4, 2);
    std::memcpy(&g.D3, raw + 6, 2);
    std::memcpy(g.D4, raw + 8, 8);
    g.D3 = static_cast<uint16_t>((g.D3 & 0x0FFF) | 0x4000);   // version 4: random
    g.D4[0] = static_cast<uint8_t>((g.D4[0] & 0x3F) | 0x80);  // variant 1 (RFC 4122)
    guid = g;
    return S_OK;
}

std::string GUIDToString(const TGUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3,
                  g.D4[0], g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
    return text;
}

namespace {

bool HexDigits(const std::string& text, size_t at, size_t count, uint64_t& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        char c = text[i];
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return false;
        value = value << 4 | static_cast<unsigned>(d);
    }
    return true;
}

}  // namespace

bool TryStringToGUID(const std::string& text, TGUID& guid) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-')
        return false;
    TGUID g;
    uint64_t v;
    if (!HexDigits(text, 1, 8, v)) return false;
    g.D1 = static_cast<uint32_t>(v);
    if (!HexDigits(text, 10, 4, v)) return false;
    g.D2 = static_cast<uint16_t>(v);
    if (!HexDigits(text, 15, 4, v)) return false;
    g.D3 = static_cast<uint16_t>(v);
    static const size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!HexDigits(text, bytePos[i], 2, v)) return false;
        g.D4[i] = static_cast<uint8_t>(v);
    }
    guid = g;
    return true;
}

TGUID StringToGUID(const std::string& text) {
    TGUID g;
    if (!TryStringToGUID(text, g)) throw rtl::EConvertError("'" + text + "' is not a valid GUID value");
    return g;
}

}  // namespace os
