#include "platform/os/WinCrypt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/os/CryptTestSupport.h"

using namespace os;
using namespace crypttest;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Runs every test against a fresh key store and the default provider switches.
class WinCryptTest : public KeyStoreTest {
protected:
    WinCryptTest() : KeyStoreTest("wincrypt") {}

    static HCRYPTPROV Verify(const char* provider = nullptr) {
        HCRYPTPROV prov = 0;
        EXPECT_TRUE(CryptAcquireContextA(&prov, nullptr, provider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
        return prov;
    }

    static HCRYPTHASH HashOf(HCRYPTPROV prov, ALG_ID alg, const Bytes& data) {
        HCRYPTHASH hash = 0;
        EXPECT_TRUE(CryptCreateHash(prov, alg, 0, 0, &hash));
        EXPECT_TRUE(CryptHashData(hash, data.data(), DWORD(data.size()), 0));
        return hash;
    }

    static Bytes Encrypt(HCRYPTKEY key, Bytes data, bool final = true) {
        DWORD len = DWORD(data.size());
        data.resize(data.size() + 16);
        EXPECT_TRUE(CryptEncrypt(key, 0, final, 0, data.data(), &len, DWORD(data.size())))
            << std::hex << GetLastError();
        data.resize(len);
        return data;
    }

    static HCRYPTKEY PlainKey(HCRYPTPROV prov, ALG_ID alg, const Bytes& key, DWORD flags = CRYPT_EXPORTABLE) {
        Bytes blob = {PLAINTEXTKEYBLOB,    2, 0, 0, uint8_t(alg), uint8_t(alg >> 8), 0, 0,
                      uint8_t(key.size()), 0, 0, 0};
        blob.insert(blob.end(), key.begin(), key.end());
        HCRYPTKEY h = 0;
        EXPECT_TRUE(CryptImportKey(prov, blob.data(), DWORD(blob.size()), 0, flags, &h))
            << std::hex << GetLastError();
        return h;
    }

    static Bytes Salt(HCRYPTKEY key) {
        DWORD len = 0;
        EXPECT_TRUE(CryptGetKeyParam(key, KP_SALT, nullptr, &len, 0));
        Bytes salt(len);
        EXPECT_TRUE(CryptGetKeyParam(key, KP_SALT, salt.data(), &len, 0));
        return salt;
    }

    static DWORD DwordParam(HCRYPTKEY key, DWORD param) {
        uint8_t b[4] = {};
        DWORD len = 4;
        EXPECT_TRUE(CryptGetKeyParam(key, param, b, &len, 0));
        return DWORD(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
    }
};

// ---- pass-phrase keys: SHA-1 to RC2, CBC, zero IV, PKCS#5 ----

struct DeriveCase {
    const char* name;
    const char* provider;
    DWORD w2kEffective;
    const char* cipher;
    DWORD keyBits, effectiveBits, saltLen;
};

TEST_F(WinCryptTest, DerivedRc2KeyMatchesEachProvidersCipherText) {
    // "user:password" under the pass phrase "secret" as each provider variant writes it.
    const DeriveCase cases[] = {
        {"strong XP SP1+", nullptr, 0, "41974cfe94350fb3e0fc1d81cc5ece6c", 128, 128, 0},
        {"enhanced", MS_ENHANCED_PROV_A, 0, "41974cfe94350fb3e0fc1d81cc5ece6c", 128, 128, 0},
        {"strong W2K", MS_STRONG_PROV_A, 40, "f738082608af4e0cb99e15148e40e820", 128, 40, 0},
        {"base", MS_DEF_PROV_A, 0, "01e83d38c694d3379b61c7c0632fe514", 40, 40, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCryptConfig cfg = CryptConfig();
        cfg.DerivedRc2EffectiveBits = c.w2kEffective;
        SetCryptConfig(cfg);
        HCRYPTPROV prov = Verify(c.provider);
        HCRYPTHASH hash = HashOf(prov, CALG_SHA1, Text("secret"));
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC2, hash, 0, &key));
        EXPECT_EQ(DwordParam(key, KP_KEYLEN), c.keyBits);
        EXPECT_EQ(DwordParam(key, KP_EFFECTIVE_KEYLEN), c.effectiveBits);
        EXPECT_EQ(Salt(key).size(), c.saltLen);
        EXPECT_EQ(ToHex(Encrypt(key, Text("user:password"))), c.cipher);

        Bytes data = FromHex(c.cipher);
        DWORD len = DWORD(data.size());
        ASSERT_TRUE(CryptDecrypt(key, 0, true, 0, data.data(), &len));
        EXPECT_EQ(std::string(data.begin(), data.begin() + len), "user:password");
        EXPECT_TRUE(CryptDestroyKey(key));
        EXPECT_TRUE(CryptDestroyHash(hash));
        EXPECT_TRUE(CryptReleaseContext(prov, 0));
    }
}

TEST_F(WinCryptTest, DerivedRc2KeyMatchesWindowsVector) {
    // 512 bytes (j + 39) mod 256 hashed with SHA-1, RC2 key derived with flags 0 on XP and later.
    HCRYPTPROV prov = Verify();
    Bytes input(512);
    for (size_t j = 0; j < input.size(); ++j) input[j] = uint8_t((j + 39) % 256);
    HCRYPTHASH hash = HashOf(prov, CALG_SHA1, input);
    Bytes value(20);
    DWORD len = 20;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value.data(), &len, 0));
    EXPECT_EQ(ToHex(value), "42bdb8f2b5c2286485988e49e6dc9280cdc16300");
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC2, hash, 0, &key));
    EXPECT_EQ(ToHex(Encrypt(key, FromHex("2728292a"))), "ccfb1a4d29ad3e65");
    CryptDestroyKey(key);
    CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, Rc2DecryptRejectsBadPaddingAndLengths) {
    HCRYPTPROV prov = Verify();
    HCRYPTHASH hash = HashOf(prov, CALG_SHA1, Text("secret"));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC2, hash, 0, &key));
    Bytes good = FromHex("41974cfe94350fb3e0fc1d81cc5ece6c");

    // Another variant's cipher text fails the padding check.
    Bytes other = FromHex("01e83d38c694d3379b61c7c0632fe514");
    DWORD len = DWORD(other.size());
    EXPECT_FALSE(CryptDecrypt(key, 0, true, 0, other.data(), &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);

    // Not a whole number of blocks, and an empty final block.
    Bytes odd(good.begin(), good.begin() + 13);
    len = 13;
    EXPECT_FALSE(CryptDecrypt(key, 0, true, 0, odd.data(), &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
    len = 0;
    EXPECT_FALSE(CryptDecrypt(key, 0, true, 0, good.data(), &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);

    // A failed decryption leaves the key usable from the start.
    Bytes again = good;
    len = DWORD(again.size());
    ASSERT_TRUE(CryptDecrypt(key, 0, true, 0, again.data(), &len));
    EXPECT_EQ(std::string(again.begin(), again.begin() + len), "user:password");

    // Two non-final pieces chain like one call.
    Bytes first(good.begin(), good.begin() + 8), second(good.begin() + 8, good.end());
    DWORD l1 = 8, l2 = 8;
    ASSERT_TRUE(CryptDecrypt(key, 0, false, 0, first.data(), &l1));
    ASSERT_TRUE(CryptDecrypt(key, 0, true, 0, second.data(), &l2));
    EXPECT_EQ(std::string(first.begin(), first.end()) + std::string(second.begin(), second.begin() + l2),
              "user:password");
    CryptDestroyKey(key);
    CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, Rc2EncryptReportsBufferNeeds) {
    HCRYPTPROV prov = Verify();
    HCRYPTKEY key = PlainKey(prov, CALG_RC2, FromHex("000102030405060708090a0b0c0d0e0f"));
    Bytes data(16, 'x');
    DWORD len = 16;
    // A block-aligned final piece gets a whole block of padding.
    ASSERT_TRUE(CryptEncrypt(key, 0, true, 0, nullptr, &len, 0));
    EXPECT_EQ(len, 24u);
    len = 16;
    EXPECT_FALSE(CryptEncrypt(key, 0, true, 0, data.data(), &len, 16));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(len, 24u);
    len = 5;
    EXPECT_FALSE(CryptEncrypt(key, 0, false, 0, data.data(), &len, 16));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, Rc2EffectiveLengthAndEcbFollowRfc2268) {
    struct Case {
        const char* key;
        DWORD effective;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"ffffffffffffffff", 64, "ffffffffffffffff", "278b27e42e2f0d49"},
        {"3000000000000000", 64, "1000000000000001", "30649edf9be7d2c2"},
        {"88bca90e90875a7f0f79c384627bafb2", 64, "0000000000000000", "1a807d272bbe5db1"},
        {"88bca90e90875a7f0f79c384627bafb2", 128, "0000000000000000", "2269552ab0f85ca6"},
    };
    HCRYPTPROV prov = Verify();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        HCRYPTKEY key = PlainKey(prov, CALG_RC2, FromHex(c.key));
        uint8_t mode[4] = {CRYPT_MODE_ECB, 0, 0, 0};
        uint8_t bits[4] = {uint8_t(c.effective), 0, 0, 0};
        ASSERT_TRUE(CryptSetKeyParam(key, KP_MODE, mode, 0));
        ASSERT_TRUE(CryptSetKeyParam(key, KP_EFFECTIVE_KEYLEN, bits, 0));
        EXPECT_EQ(ToHex(Encrypt(key, FromHex(c.plain), false)), c.cipher);
        CryptDestroyKey(key);
    }
    CryptReleaseContext(prov, 0);
}

// ---- RC4: key followed by salt ----

TEST_F(WinCryptTest, Rc4DerivedKeyUsesSaltAfterKey) {
    // Microsoft's key derivation sample: MD5 of "1134-kelp", Base provider, 40-bit RC4.
    Bytes plain(32);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i);
    struct Case {
        DWORD flags;
        const char* cipher;
    } cases[] = {
        {0, "2659de2444fa369c110cbb9db6a2bd24042ee3ba7276f3278dd5b42f56cff8c9"},
        {CRYPT_CREATE_SALT, "47f45de2cc3b871b95bcfc39fb86d305daa291fb80f12a22c3b9ec91dd9faf50"},
    };
    HCRYPTPROV prov = Verify(MS_DEF_PROV_A);
    for (const auto& c : cases) {
        HCRYPTHASH hash = HashOf(prov, CALG_MD5, Text("1134-kelp"));
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptDeriveKey(prov, CALG_RC4, hash, c.flags, &key));
        EXPECT_EQ(DwordParam(key, KP_KEYLEN), 40u);
        EXPECT_EQ(ToHex(Encrypt(key, plain)), c.cipher);
        CryptDestroyKey(key);
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, Rc4SaltParameterEntersKeyMaterial) {
    const Bytes k = FromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes s = FromHex("101112131415161718191a");
    const Bytes plain = {'P', 'K', 3, 4, ' ', 't', 'e', 's', 't'};
    struct Case {
        const char* provider;
        bool setSalt;
        const char* cipher;
    } cases[] = {
        {nullptr, false, "b9d743fd67967cbf72"},
        {nullptr, true, "71f97fdc8f98c552cf"},
        {MS_ENHANCED_PROV_A, true, "b9d743fd67967cbf72"},  // Enhanced takes no KP_SALT
    };
    for (const auto& c : cases) {
        HCRYPTPROV prov = Verify(c.provider);
        HCRYPTKEY key = PlainKey(prov, CALG_RC4, k);
        if (c.setSalt) {
            ASSERT_TRUE(CryptSetKeyParam(key, KP_SALT, s.data(), 0));
        }
        Bytes first = Encrypt(key, plain, false);
        EXPECT_EQ(ToHex(first), c.cipher);
        // The key stream continues across calls and starts over after the final one.
        Bytes rest = Encrypt(key, plain, true);
        EXPECT_NE(rest, first);
        EXPECT_EQ(Encrypt(key, plain, true), first);
        CryptDestroyKey(key);
        CryptReleaseContext(prov, 0);
    }
    // A 40-bit key carries the zero salt: the same as RC4 under K5 followed by 11 zero bytes.
    HCRYPTPROV prov = Verify();
    HCRYPTKEY k5 = PlainKey(prov, CALG_RC4, Bytes(k.begin(), k.begin() + 5));
    EXPECT_EQ(Salt(k5), Bytes(11, 0));
    HCRYPTKEY k16 = PlainKey(prov, CALG_RC4, Bytes{0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Encrypt(k5, plain), Encrypt(k16, plain));
    CryptDestroyKey(k5);
    CryptDestroyKey(k16);
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, GeneratedSessionKeySaltFollowsProviderSwitch) {
    struct Case {
        const char* provider;
        bool strongSalt;
        DWORD flags;
        size_t saltLen;
    } cases[] = {
        {nullptr, true, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, 11},
        {nullptr, false, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, 0},
        {MS_ENHANCED_PROV_A, true, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, 0},
        {MS_DEF_PROV_A, true, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, 11},
        {nullptr, true, CRYPT_EXPORTABLE, 0},
    };
    for (const auto& c : cases) {
        TCryptConfig cfg = CryptConfig();
        cfg.StrongLongKeySalt = c.strongSalt;
        SetCryptConfig(cfg);
        HCRYPTPROV prov = Verify(c.provider);
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptGenKey(prov, CALG_RC4, c.flags, &key));
        EXPECT_EQ(Salt(key).size(), c.saltLen) << (c.provider ? c.provider : "default");
        CryptDestroyKey(key);
        CryptReleaseContext(prov, 0);
    }
}

// ---- RSA key blobs ----

TEST_F(WinCryptTest, SimpleBlobRoundTripCarriesKeyOnly) {
    HCRYPTPROV prov = Verify();
    HCRYPTKEY pair = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, (512u << 16) | CRYPT_EXPORTABLE, &pair));
    Bytes pub = ExportKeyBlob<Bytes>(pair, 0, PUBLICKEYBLOB);
    ASSERT_EQ(pub.size(), 84u);
    EXPECT_EQ(ToHex(Bytes(pub.begin(), pub.begin() + 16)),
              "0602000000a40000525341310002000"
              "0");
    Bytes priv = ExportKeyBlob<Bytes>(pair, 0, PRIVATEKEYBLOB);
    ASSERT_EQ(priv.size(), 308u);
    EXPECT_EQ(ToHex(Bytes(priv.begin(), priv.begin() + 12)), "0702000000a4000052534132");

    HCRYPTKEY pubKey = 0;
    ASSERT_TRUE(CryptImportKey(prov, pub.data(), DWORD(pub.size()), 0, 0, &pubKey));
    EXPECT_EQ(ExportKeyBlob<Bytes>(pubKey, 0, PUBLICKEYBLOB), pub);

    HCRYPTKEY session = 0;
    ASSERT_TRUE(CryptGenKey(prov, CALG_RC4, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, &session));
    Bytes simple = ExportKeyBlob<Bytes>(session, pubKey, SIMPLEBLOB);
    ASSERT_EQ(simple.size(), 76u);
    EXPECT_EQ(ToHex(Bytes(simple.begin(), simple.begin() + 12)), "010200000168000000a40000");

    HCRYPTKEY imported = 0;
    ASSERT_TRUE(CryptImportKey(prov, simple.data(), DWORD(simple.size()), pair, CRYPT_EXPORTABLE, &imported));
    EXPECT_EQ(ExportKeyBlob<Bytes>(imported, 0, PLAINTEXTKEYBLOB),
              ExportKeyBlob<Bytes>(session, 0, PLAINTEXTKEYBLOB));
    EXPECT_TRUE(Salt(imported).empty());
    Bytes salt = Salt(session);
    ASSERT_EQ(salt.size(), 11u);
    ASSERT_TRUE(CryptSetKeyParam(imported, KP_SALT, salt.data(), 0));
    Bytes plain = Text("payload of the archive");
    EXPECT_EQ(Encrypt(imported, plain), Encrypt(session, plain));

    // Another pair cannot unwrap it.
    HCRYPTKEY other = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 512u << 16, &other));
    HCRYPTKEY wrong = 0;
    EXPECT_FALSE(CryptImportKey(prov, simple.data(), DWORD(simple.size()), other, 0, &wrong));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);

    for (HCRYPTKEY k : {pair, pubKey, session, imported, other}) EXPECT_TRUE(CryptDestroyKey(k));
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, SimpleBlobForLargeKeyOverflowsSmallBuffer) {
    HCRYPTPROV prov = Verify();
    HCRYPTKEY pair = 0, session = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 1024u << 16, &pair));
    ASSERT_TRUE(CryptGenKey(prov, CALG_RC4, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, &session));
    uint8_t buffer[128];
    DWORD len = sizeof buffer;
    EXPECT_FALSE(CryptExportKey(session, pair, SIMPLEBLOB, 0, buffer, &len));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(len, 140u);
    CryptDestroyKey(session);
    CryptDestroyKey(pair);
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, ImportAndExportRejectBadInput) {
    HCRYPTPROV prov = Verify();
    HCRYPTKEY pair = 0, session = 0, fixed = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 512u << 16, &pair));
    ASSERT_TRUE(CryptGenKey(prov, CALG_RC4, CRYPT_EXPORTABLE, &session));
    ASSERT_TRUE(CryptGenKey(prov, CALG_RC4, 0, &fixed));
    Bytes pub = ExportKeyBlob<Bytes>(pair, 0, PUBLICKEYBLOB);
    Bytes simple = ExportKeyBlob<Bytes>(session, pair, SIMPLEBLOB);

    struct Case {
        const char* name;
        Bytes blob;
        HCRYPTKEY with;
        DWORD error;
    };
    auto patch = [](Bytes b, size_t at, uint8_t v) {
        b[at] = v;
        return b;
    };
    const Case cases[] = {
        {"short", Bytes(pub.begin(), pub.begin() + 6), 0, NTE_BAD_DATA},
        {"version", patch(pub, 1, 3), 0, NTE_BAD_VER},
        {"reserved", patch(pub, 2, 1), 0, NTE_BAD_DATA},
        {"type", patch(pub, 0, 9), 0, NTE_BAD_TYPE},
        {"magic", patch(pub, 8, 'X'), 0, NTE_BAD_DATA},
        {"truncated modulus", Bytes(pub.begin(), pub.end() - 1), 0, NTE_BAD_DATA},
        {"simple without key", simple, 0, NTE_BAD_PUBLIC_KEY},
        {"simple with public key", simple, session, NTE_BAD_KEY},
        {"simple algorithm", patch(simple, 5, 0x20), pair, NTE_BAD_ALGID},
        {"simple wrapping algorithm", patch(simple, 9, 0x24), pair, NTE_BAD_ALGID},
        {"simple truncated", Bytes(simple.begin(), simple.end() - 1), pair, NTE_BAD_DATA},
        {"simple damaged", patch(simple, 40, uint8_t(simple[40] ^ 0xff)), pair, NTE_BAD_DATA},
    };
    for (const auto& c : cases) {
        HCRYPTKEY key = 0;
        EXPECT_FALSE(CryptImportKey(prov, c.blob.data(), DWORD(c.blob.size()), c.with, 0, &key)) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        EXPECT_EQ(key, 0u);
    }

    DWORD len = 0;
    EXPECT_FALSE(CryptExportKey(fixed, pair, SIMPLEBLOB, 0, nullptr, &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY_STATE);
    EXPECT_FALSE(CryptExportKey(session, 0, SIMPLEBLOB, 0, nullptr, &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_PUBLIC_KEY);
    EXPECT_FALSE(CryptExportKey(session, pair, 42, 0, nullptr, &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);
    HCRYPTKEY pubOnly = 0;
    ASSERT_TRUE(CryptImportKey(prov, pub.data(), DWORD(pub.size()), 0, CRYPT_EXPORTABLE, &pubOnly));
    EXPECT_FALSE(CryptExportKey(pubOnly, 0, PRIVATEKEYBLOB, 0, nullptr, &len));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
    for (HCRYPTKEY k : {pair, session, fixed, pubOnly}) CryptDestroyKey(k);
    CryptReleaseContext(prov, 0);
}

TEST_F(WinCryptTest, StaleHandlesAndFlagsFail) {
    HCRYPTPROV prov = Verify();
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptGenKey(prov, CALG_RC2, 0, &key));
    ASSERT_TRUE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptDestroyKey(key));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
    DWORD len = 0;
    EXPECT_FALSE(CryptGetKeyParam(key, KP_ALGID, nullptr, &len, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);

    EXPECT_FALSE(CryptCreateHash(prov, CALG_RC4, 0, 0, &hash));
    EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
    ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
    uint8_t value[20];
    len = 19;
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, value, &len, 0));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    len = 20;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &len, 0));
    EXPECT_FALSE(CryptHashData(hash, value, 1, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
    ASSERT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH);

    EXPECT_FALSE(CryptGenKey(prov, CALG_RC4, 200u << 16, &key));
    EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    EXPECT_FALSE(CryptReleaseContext(prov, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
    EXPECT_FALSE(CryptGenKey(prov, CALG_RC4, 0, &key));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);

    HCRYPTPROV none = 0;
    EXPECT_FALSE(CryptAcquireContextA(&none, nullptr, nullptr, 24, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NOT_DEF);
    EXPECT_FALSE(
        CryptAcquireContextA(&none, nullptr, "No Such Provider", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_KEYSET_NOT_DEF);
    EXPECT_FALSE(CryptAcquireContextA(&none, nullptr, nullptr, PROV_RSA_FULL, 0x1000));
    EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
}

// ---- key containers ----

TEST_F(WinCryptTest, MachineContainerLifecycle) {
    HCRYPTPROV prov = 0;
    EXPECT_FALSE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);

    ASSERT_TRUE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
    std::string path = KeyContainerPath("ZUV TEST", true);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 512u << 16, &key));
    Bytes pub = ExportKeyBlob<Bytes>(key, 0, PUBLICKEYBLOB);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 308);

    // The user store is another store.
    EXPECT_FALSE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
    EXPECT_FALSE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL,
                                      CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
    EXPECT_EQ(GetLastError(), NTE_EXISTS);

    ASSERT_TRUE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET));
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(ExportKeyBlob<Bytes>(key, 0, PUBLICKEYBLOB), pub);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);

    ASSERT_TRUE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL,
                                     CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET));
    EXPECT_FALSE(CryptAcquireContextA(&prov, "ZUV TEST", nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
}

TEST_F(WinCryptTest, ImportedPrivateKeyFillsContainer) {
    HCRYPTPROV verify = Verify();
    HCRYPTKEY pair = 0;
    ASSERT_TRUE(CryptGenKey(verify, AT_KEYEXCHANGE, (512u << 16) | CRYPT_EXPORTABLE, &pair));
    Bytes priv = ExportKeyBlob<Bytes>(pair, 0, PRIVATEKEYBLOB);

    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, "../escape", nullptr, PROV_RSA_FULL,
                                     CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
    HCRYPTKEY imported = 0;
    ASSERT_TRUE(CryptImportKey(prov, priv.data(), DWORD(priv.size()), 0, 0, &imported));
    CryptDestroyKey(imported);
    CryptReleaseContext(prov, 0);
    // The name is escaped, so the file stays in the store.
    EXPECT_EQ(std::filesystem::path(KeyContainerPath("../escape", true)).parent_path(),
              std::filesystem::path(folder_ + "/store/machine"));

    ASSERT_TRUE(CryptAcquireContextA(&prov, "../escape", nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET));
    HCRYPTKEY stored = 0;
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &stored));
    EXPECT_EQ(ExportKeyBlob<Bytes>(stored, 0, PRIVATEKEYBLOB), priv);
    CryptDestroyKey(stored);
    CryptReleaseContext(prov, 0);
    CryptDestroyKey(pair);
    CryptReleaseContext(verify, 0);
}

TEST_F(WinCryptTest, StringToBinaryDecodesBase64) {
    struct Case {
        const char* text;
        const char* hex;
        bool ok;
    } cases[] = {
        {"QZdM/pQ1D7Pg/B2BzF7ObA==", "41974cfe94350fb3e0fc1d81cc5ece6c", true},
        {"QZdM/pQ1\r\nD7Pg/B2BzF7ObA==\r\n", "41974cfe94350fb3e0fc1d81cc5ece6c", true},
        {"YWI=", "6162", true},
        {"YWJj", "616263", true},
        {"", "", true},
        {"YW*j", "", false},
        {"Y", "", false},
        {"YQ==YQ==", "", false},
    };
    for (const auto& c : cases) {
        DWORD len = 0;
        bool ok = CryptStringToBinaryA(c.text, 0, CRYPT_STRING_BASE64, nullptr, &len, nullptr, nullptr);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (!ok) {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
            continue;
        }
        Bytes out(len);
        ASSERT_TRUE(CryptStringToBinaryA(c.text, 0, CRYPT_STRING_BASE64, out.data(), &len, nullptr, nullptr));
        EXPECT_EQ(ToHex(out), c.hex) << c.text;
    }
}

}  // namespace

namespace {

TEST(CryptConfigTest, SwitchesComeFromTheEnvironment) {
    struct Case {
        const char *store, *provider, *effective, *salt;
        const char* folder;
        TCryptPersonality personality;
        DWORD effectiveBits;
        bool strongSalt;
    };
    const Case cases[] = {
        {"/srv/keys", nullptr, nullptr, nullptr, "/srv/keys", TCryptPersonality::Strong, 0, true},
        {"/k", "BASE", "40", "0", "/k", TCryptPersonality::Base, 40, false},
        {"/k", "enhanced", "0", "11", "/k", TCryptPersonality::Enhanced, 0, true},
        {"/k", "unknown", "300", "11", "/k", TCryptPersonality::Strong, 0, true},
    };
    const char* names[] = {"DX_KEYSTORE", "DX_CRYPT_PROVIDER", "DX_CRYPT_RC2_EFFECTIVE", "DX_CRYPT_RC4_SALT"};
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* n : names)
        if (const char* v = std::getenv(n)) saved.emplace_back(n, v);
    for (const auto& c : cases) {
        const char* values[] = {c.store, c.provider, c.effective, c.salt};
        for (int i = 0; i < 4; ++i) {
            if (values[i]) {
                setenv(names[i], values[i], 1);
            } else {
                unsetenv(names[i]);
            }
        }
        TCryptConfig got = CryptConfigFromEnvironment();
        EXPECT_EQ(got.KeyStoreFolder, c.folder);
        EXPECT_EQ(got.DefaultProvider, c.personality) << (c.provider ? c.provider : "");
        EXPECT_EQ(got.DerivedRc2EffectiveBits, c.effectiveBits);
        EXPECT_EQ(got.StrongLongKeySalt, c.strongSalt);
    }
    for (const char* n : names) unsetenv(n);
    for (const auto& [n, v] : saved) setenv(n.c_str(), v.c_str(), 1);
}

}  // namespace
