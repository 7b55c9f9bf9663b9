#include "common/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/EnDeCrypt.h"
#include "platform/rtl/Exceptions.h"

using namespace svc;

namespace {

std::string OracleMd5(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), md, &len, EVP_md5(), nullptr);
    MD5Digest d{};
    std::copy(md, md + 16, d.begin());
    return MD5Print(d);
}

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : cases) EXPECT_EQ(MD5Print(MD5String(text)), digest) << text;
}

TEST(Md5, AgreesWithOpenSslAcrossBlockBoundariesAndPieces) {
    std::mt19937 rng(7);
    std::string data(300, '\0');
    for (auto& c : data) c = char(rng());
    for (size_t len = 0; len <= data.size(); ++len) {
        std::string part = data.substr(0, len);
        std::string expected = OracleMd5(part);
        ASSERT_EQ(MD5Print(MD5String(part)), expected) << len;
        // The same bytes fed in uneven pieces.
        MD5Context ctx;
        MD5Init(ctx);
        for (size_t pos = 0, step = 1; pos < len; pos += step, step = step % 70 + 13)
            MD5Update(ctx, part.data() + pos, std::min(step, len - pos));
        MD5Digest d;
        MD5Final(d, ctx);
        ASSERT_EQ(MD5Print(d), expected) << len;
    }
}

TEST(Md5, FinalZeroesTheContext) {
    MD5Context ctx;
    MD5Init(ctx);
    MD5Update(ctx, "secret data", 11);
    MD5Digest d;
    MD5Final(d, ctx);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&ctx);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof ctx, [](uint8_t b) { return b == 0; }));
}

// A context is used between MD5Init and MD5Final only; outside that it raises instead of
// computing a digest of nothing.
TEST(Md5, ContextOutsideInitAndFinalRaises) {
    MD5Context ctx;
    MD5Digest d;
    EXPECT_THROW(MD5Update(ctx, "a", 1), rtl::Exception);
    EXPECT_THROW(MD5Final(d, ctx), rtl::Exception);
    MD5Init(ctx);
    MD5Update(ctx, "a", 1);
    MD5Final(d, ctx);
    EXPECT_THROW(MD5Update(ctx, "b", 1), rtl::Exception);
    MD5Init(ctx);  // a finished context starts again
    MD5Update(ctx, "abc", 3);
    MD5Final(d, ctx);
    EXPECT_EQ(MD5Print(d), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(KeyedDigest, IsDigestOfDataFollowedByKey) {
    EXPECT_EQ(TEnDeCrypt::GetKeyedDigest("abc", ""), "900150983cd24fb0d6963f7d28e17f72");
    // The letters' subject key, "KPmw7Dюжr3" in code page 1251.
    const std::string key = "KPmw7D\xFE\xE6r3";
    const std::string subject = "QelExport000101{0F8B2B8C-5A3C-4E1B-9D2E-123456789ABC}";
    EXPECT_EQ(TEnDeCrypt::GetKeyedDigest(subject, key), OracleMd5(subject + key));
    // No separator between data and key.
    EXPECT_EQ(TEnDeCrypt::GetKeyedDigest("ab", "c"), TEnDeCrypt::GetKeyedDigest("abc", ""));
}

}  // namespace
