// Key blobs, key unwrapping and ciphers of the layer against the openssl command.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/os/WinCrypt.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace os;
using namespace crypttest;

namespace {

using Bytes = std::vector<uint8_t>;

class WinCryptOpensslTest : public KeyStoreTest {
protected:
    WinCryptOpensslTest() : KeyStoreTest("wincrypt_it") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        ASSERT_TRUE(CryptAcquireContextA(&prov_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    }
    void TearDown() override {
        CryptReleaseContext(prov_, 0);
        KeyStoreTest::TearDown();
    }
    HCRYPTKEY Import(const Bytes& blob, HCRYPTKEY with = 0, DWORD flags = CRYPT_EXPORTABLE) {
        HCRYPTKEY key = 0;
        EXPECT_TRUE(CryptImportKey(prov_, blob.data(), DWORD(blob.size()), with, flags, &key))
            << std::hex << GetLastError();
        return key;
    }

    HCRYPTPROV prov_ = 0;
};

TEST_F(WinCryptOpensslTest, BlobsMatchOpensslMsblob) {
    for (int bits : {512, 1024, 2048}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(Shell("cd " + folder_ + " && openssl genrsa -out k.pem " + std::to_string(bits) +
                        " 2>/dev/null && openssl rsa -in k.pem -outform MSBLOB -out priv.blob 2>/dev/null"
                        " && openssl rsa -in k.pem -pubout -outform MSBLOB -out pub.blob 2>/dev/null"),
                  0);
        Bytes priv = ReadFile<Bytes>(Path("priv.blob")), pub = ReadFile<Bytes>(Path("pub.blob"));
        HCRYPTKEY key = Import(priv);
        EXPECT_EQ(ExportKeyBlob<Bytes>(key, 0, PRIVATEKEYBLOB), priv);
        EXPECT_EQ(ExportKeyBlob<Bytes>(key, 0, PUBLICKEYBLOB), pub);
        HCRYPTKEY pubKey = Import(pub);
        EXPECT_EQ(ExportKeyBlob<Bytes>(pubKey, 0, PUBLICKEYBLOB), pub);
        CryptDestroyKey(pubKey);
        CryptDestroyKey(key);
    }
}

TEST_F(WinCryptOpensslTest, OpensslReadsGeneratedKeysAndUnwrapsSimpleBlobs) {
    HCRYPTKEY pair = 0, session = 0;
    ASSERT_TRUE(CryptGenKey(prov_, AT_KEYEXCHANGE, (512u << 16) | CRYPT_EXPORTABLE, &pair));
    Bytes priv = ExportKeyBlob<Bytes>(pair, 0, PRIVATEKEYBLOB);
    WriteFile(Path("ours.blob"), priv);
    // openssl checks the key's consistency and writes the same blob back.
    ASSERT_EQ(Shell("cd " + folder_ +
                    " && openssl rsa -inform MSBLOB -in ours.blob -check -noout | grep -q 'RSA key ok'"
                    " && openssl rsa -inform MSBLOB -in ours.blob -out ours.pem 2>/dev/null"
                    " && openssl rsa -in ours.pem -outform MSBLOB -out back.blob 2>/dev/null"),
              0);
    EXPECT_EQ(ReadFile<Bytes>(Path("back.blob")), priv);

    for (DWORD flags : {CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, CRYPT_EXPORTABLE | (40u << 16)}) {
        ASSERT_TRUE(CryptGenKey(prov_, CALG_RC4, flags, &session));
        Bytes simple = ExportKeyBlob<Bytes>(session, pair, SIMPLEBLOB);
        Bytes plainBlob = ExportKeyBlob<Bytes>(session, 0, PLAINTEXTKEYBLOB);
        Bytes wrapped(simple.rbegin(), simple.rend() - 12);
        WriteFile(Path("wrapped.bin"), wrapped);
        ASSERT_EQ(Shell("cd " + folder_ +
                        " && openssl pkeyutl -decrypt -inkey ours.pem -pkeyopt rsa_padding_mode:pkcs1"
                        " -in wrapped.bin -out unwrapped.bin"),
                  0);
        EXPECT_EQ(ToHex(ReadFile<Bytes>(Path("unwrapped.bin"))),
                  ToHex(Bytes(plainBlob.begin() + 12, plainBlob.end())));
        CryptDestroyKey(session);
    }
    CryptDestroyKey(pair);
}

TEST_F(WinCryptOpensslTest, CiphersMatchOpensslEnc) {
    std::mt19937 rng(11);
    for (int round = 0; round < 4; ++round) {
        Bytes passPhrase(7 + round * 5), plain(1 + round * 333);
        for (auto& b : passPhrase) b = uint8_t(rng());
        for (auto& b : plain) b = uint8_t(rng());
        WriteFile(Path("plain.bin"), plain);

        HCRYPTHASH hash = 0;
        ASSERT_TRUE(CryptCreateHash(prov_, CALG_SHA1, 0, 0, &hash));
        ASSERT_TRUE(CryptHashData(hash, passPhrase.data(), DWORD(passPhrase.size()), 0));
        Bytes digest(20);
        DWORD len = 20;
        ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &len, 0));
        for (ALG_ID alg : {CALG_RC2, CALG_RC4}) {
            HCRYPTKEY key = 0;
            ASSERT_TRUE(CryptDeriveKey(prov_, alg, hash, 0, &key));
            Bytes ours = plain;
            ours.resize(plain.size() + 8);
            len = DWORD(plain.size());
            ASSERT_TRUE(CryptEncrypt(key, 0, true, 0, ours.data(), &len, DWORD(ours.size())));
            ours.resize(len);
            std::string cipher = alg == CALG_RC2 ? "-rc2-cbc -iv 0000000000000000" : "-rc4";
            ASSERT_EQ(
                Shell("openssl enc " + cipher + " -K " + ToHex(Bytes(digest.begin(), digest.begin() + 16)) +
                      " -provider legacy -provider default -in " + Path("plain.bin") + " -out " +
                      Path("cipher.bin")),
                0);
            EXPECT_EQ(ToHex(ours), ToHex(ReadFile<Bytes>(Path("cipher.bin"))))
                << (alg == CALG_RC2 ? "RC2" : "RC4") << " round " << round;
            CryptDestroyKey(key);
        }
        CryptDestroyHash(hash);
    }
}

}  // namespace
