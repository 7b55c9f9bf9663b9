// MD5 message digest (RFC 1321): initialise, update with bytes, finalise. The letter
// signatures are computed with it on both sides; OpenSSL's EVP digest does the work.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

namespace svc {

struct MD5Context {
    struct TFree {
        void operator()(evp_md_ctx_st* digest) const;
    };
    // The running digest; null before MD5Init and after MD5Final.
    std::unique_ptr<evp_md_ctx_st, TFree> Digest;
};

using MD5Digest = std::array<uint8_t, 16>;

// Raise rtl::Exception when OpenSSL offers no MD5 (a FIPS-only configuration) or the context
// was not initialised.
void MD5Init(MD5Context& context);
void MD5Update(MD5Context& context, const void* data, size_t length);
// Writes the digest and clears the context (its state is wiped).
void MD5Final(MD5Digest& digest, MD5Context& context);

// Digest of the text's bytes as held (ANSI), without a terminator.
MD5Digest MD5String(const std::string& text);
MD5Digest MD5Buffer(const void* data, size_t length);

// The 32-character lower-case hexadecimal form of a digest.
std::string MD5Print(const MD5Digest& digest);

}  // namespace svc
