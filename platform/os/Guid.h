// GUIDs: creation (version 4, from 16 random bytes of OpenSSL) and the 38-character text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
#pragma once

#include <cstdint>
#include <string>

namespace os {

struct TGUID {
    uint32_t D1 = 0;
    uint16_t D2 = 0;
    uint16_t D3 = 0;
    uint8_t D4[8] = {};
    bool operator==(const TGUID&) const = default;
};

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);

// A new random GUID: S_OK, or E_FAIL (guid untouched) when no random bytes are to be had.
HRESULT CoCreateGuid(TGUID& guid);
inline HRESULT CreateGUID(TGUID& guid) {
    return CoCreateGuid(guid);
}

std::string GUIDToString(const TGUID& guid);
// Accepts the braced form in either case; false for anything else.
bool TryStringToGUID(const std::string& text, TGUID& guid);
// Raises EConvertError "'<text>' is not a valid GUID value".
TGUID StringToGUID(const std::string& text);

}  // namespace os
