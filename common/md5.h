// MD5 message digest (RFC 1321): initialise, update with bytes, finalise. The letter
// signatures are computed with it on both sides, so it must not depend on a library build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace svc {

struct MD5Context {
    uint32_t State[4];
    uint64_t Count;  // bytes hashed so far
    uint8_t Buffer[64];
};

using MD5Digest = std::array<uint8_t, 16>;

void MD5Init(MD5Context& context);
void MD5Update(MD5Context& context, const void* data, size_t length);
// Writes the digest and zeroes the context.
void MD5Final(MD5Digest& digest, MD5Context& context);

// Digest of the text's bytes as held (ANSI), without a terminator.
MD5Digest MD5String(const std::string& text);
MD5Digest MD5Buffer(const void* data, size_t length);

// The 32-character lower-case hexadecimal form of a digest.
std::string MD5Print(const MD5Digest& digest);

}  // namespace svc
