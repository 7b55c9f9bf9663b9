#include "common/EnDeCrypt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace svc;
using namespace os;
using namespace crypttest;

namespace {

// The Connection.ini pass phrase, "WюrнЯPkqz8" in code page 1251.
const std::string kIniPassPhrase = "W\xFEr\xED\xDFPkqz8";

std::string Unhex(const std::string& hex) {
    return HexToBytes(hex);
}

uint32_t LE32(const std::string& s, size_t at) {
    auto b = [&](size_t i) { return uint32_t(uint8_t(s[at + i])); };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}

// A fresh key store per test and a recipient key pair of the given size.
class CryptFixture : public KeyStoreTest {
protected:
    CryptFixture() : KeyStoreTest("endecrypt") {}

    // Returns the PUBLICKEYBLOB of a new pair; its PRIVATEKEYBLOB goes to privateBlob.
    static std::string NewRecipient(DWORD bits, std::string* privateBlob = nullptr) {
        HCRYPTPROV prov = 0;
        HCRYPTKEY pair = 0;
        EXPECT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
        EXPECT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, (bits << 16) | CRYPT_EXPORTABLE, &pair));
        std::string pub = ExportKeyBlob(pair, 0, PUBLICKEYBLOB);
        if (privateBlob) *privateBlob = ExportKeyBlob(pair, 0, PRIVATEKEYBLOB);
        CryptDestroyKey(pair);
        CryptReleaseContext(prov, 0);
        return pub;
    }
};

// ---- text helpers ----

TEST(XorString, ScramblesWithTheFixedKeyAndIsItsOwnInverse) {
    EXPECT_EQ(XorString(""), "");
    // Zero bytes show the key itself, repeated: "(!#;]?ДЛ*)Ц^mvqwed" in code page 1251.
    EXPECT_EQ(XorString(std::string(20, '\0')), std::string("(!#;]?\xC4\xCB*)\xD6^mvqwed(!"));
    const std::string login = "mail.user@example.ru \xC8\xE2\xE0\xED";
    std::string scrambled = XorString(login);
    EXPECT_EQ(scrambled.size(), login.size());
    EXPECT_NE(scrambled, login);
    EXPECT_EQ(XorString(scrambled), login);
}

TEST(HexText, ConvertsBothWays) {
    EXPECT_EQ(BytesToHex(std::string("\x00\x1f\xab\xff", 4)), "001FABFF");
    EXPECT_EQ(BytesToHex(""), "");
    EXPECT_EQ(HexToBytes("001FabFf"), std::string("\x00\x1f\xab\xff", 4));
    // Five digits: the last one is ignored.
    EXPECT_EQ(HexToBytes("aB0c7"), std::string("\xab\x0c", 2));
    EXPECT_EQ(HexToBytes("7"), "");
    for (const char* bad : {"0g", "zz00", "00 1", "-1", "+1"}) {
        try {
            HexToBytes(bad);
            ADD_FAILURE() << bad;
        } catch (const rtl::EConvertError& e) {
            EXPECT_NE(std::string(e.Message()).find("is not a valid integer value"), std::string::npos);
        }
    }
}

TEST(ErrorNames, NameTheKnownCodes) {
    const std::pair<DWORD, const char*> cases[] = {
        {ERROR_MORE_DATA, "ERROR_MORE_DATA"},
        {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
        {NTE_BAD_DATA, "NTE_BAD_DATA"},
        {NTE_BAD_KEYSET, "NTE_BAD_KEYSET"},
        {NTE_NO_KEY, "NTE_NO_KEY"},
        {NTE_EXISTS, "NTE_EXISTS"},
        {NTE_BAD_KEYSET_PARAM, "NTE_BAD_KEYSET_PARAM"},
        {NTE_FAIL, "NTE_FAIL"},
        {NTE_BAD_UID, "NTE_BAD_UID"},
        {NTE_PROV_DLL_NOT_FOUND, "NTE_PROV_DLL_NOT_FOUND"},
        // Codes the crypt layer sets that the names once missed.
        {NTE_BAD_VER, "NTE_BAD_VER"},
        {NTE_BAD_KEY_STATE, "NTE_BAD_KEY_STATE"},
        {ERROR_INVALID_DATA, "ERROR_INVALID_DATA"},
        {ERROR_SUCCESS, "ERROR_SUCCESS"},
        {1, "unknown error"},
        {0x80090099, "unknown error"},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(TEnDeCrypt::GetErrorName(code), name);
}

TEST(RandomString, HonoursLengthAndClasses) {
    std::string s = "old";
    GenerateRandomString(0, true, true, true, s);
    EXPECT_EQ(s, "");
    GenerateRandomString(200, false, false, false, s);
    ASSERT_EQ(s.size(), 200u);
    EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; }));

    GenerateRandomString(400, true, true, true, s);
    ASSERT_EQ(s.size(), 400u);
    const std::string specials = "!@#$%^&*()_+=-|\\/?.,<>{}[]:;";
    bool lower = false, upper = false, digit = false, special = false;
    for (char c : s) {
        lower |= c >= 'a' && c <= 'z';
        upper |= c >= 'A' && c <= 'Z';
        digit |= c >= '0' && c <= '9';
        special |= specials.find(c) != std::string::npos;
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || specials.find(c) != std::string::npos)
            << c;
    }
    EXPECT_TRUE(lower && upper && digit && special);

    // Strings made one right after another differ (no clock seeding).
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        GenerateRandomString(12, true, true, false, s);
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 50u);
}

// ---- pass-phrase decryption ----

TEST_F(CryptFixture, DecryptsCredentialInEachInputForm) {
    struct Case {
        const char* name;
        std::string data;
        bool base64, hex;
    };
    const Case cases[] = {
        {"hex upper", "41974CFE94350FB3E0FC1D81CC5ECE6C", false, true},
        {"hex lower", "41974cfe94350fb3e0fc1d81cc5ece6c", false, true},
        {"base64", "QZdM/pQ1D7Pg/B2BzF7ObA==", true, false},
        {"hex of base64", BytesToHex("QZdM/pQ1D7Pg/B2BzF7ObA=="), true, true},
        {"binary", Unhex("41974cfe94350fb3e0fc1d81cc5ece6c"), false, false},
    };
    for (const auto& c : cases) {
        std::string error = "stale", plain;
        EXPECT_TRUE(DecryptStringWithPassPhrase(c.data, "secret", c.base64, c.hex, error, plain)) << c.name;
        EXPECT_EQ(error, "") << c.name;
        EXPECT_EQ(plain, "user:password") << c.name;
    }
}

TEST_F(CryptFixture, CredentialFailuresNameTheCall) {
    struct Case {
        const char* name;
        std::string data, passPhrase;
        bool base64;
        const char* error;
    };
    const Case cases[] = {
        {"wrong pass phrase", "41974CFE94350FB3E0FC1D81CC5ECE6C", "Secret", false,
         "Error CryptDecrypt: NTE_BAD_DATA"},
        {"not whole blocks", "41974CFE94350FB3E0FC1D81CC5ECE", "secret", false,
         "Error CryptDecrypt: NTE_BAD_DATA"},
        {"bad base64", BytesToHex("QZdM*pQ1"), "secret", true,
         "Error CryptStringToBinary: ERROR_INVALID_DATA"},
    };
    for (const auto& c : cases) {
        std::string error, plain = "untouched";
        EXPECT_FALSE(DecryptStringWithPassPhrase(c.data, c.passPhrase, c.base64, true, error, plain))
            << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(plain, "untouched") << c.name;
    }
    std::string error, plain;
    EXPECT_THROW(DecryptStringWithPassPhrase("4197XX", "secret", false, true, error, plain),
                 rtl::EConvertError);
}

TEST_F(CryptFixture, ConnectionCredentialsRoundTrip) {
    for (const std::string& plain : {std::string("ZUV_OWNER"), std::string("p@ss \xCF\xE0\xF0\xEE\xEB\xFC"),
                                     std::string("12345678"), std::string("")}) {
        std::string error, back;
        std::string hex = EncryptStringWithPassPhrase(plain, kIniPassPhrase, error);
        ASSERT_EQ(error, "");
        EXPECT_EQ(hex.size() % 16, 0u);
        EXPECT_EQ(hex.size(), (plain.size() / 8 + 1) * 16);
        ASSERT_TRUE(DecryptStringWithPassPhrase(hex, kIniPassPhrase, false, true, error, back)) << error;
        EXPECT_EQ(back, plain);
    }
}

// ---- containers ----

TEST_F(CryptFixture, ContainerCreationAndTest) {
    TEnDeCrypt crypt;
    EXPECT_FALSE(crypt.ContainerExists("ZUV_TEST"));
    EXPECT_EQ(crypt.ErrorText(), "");
    EXPECT_TRUE(crypt.CreateContainer("ZUV_TEST"));
    EXPECT_TRUE(crypt.ContainerExists("ZUV_TEST"));
    EXPECT_FALSE(crypt.CreateContainer("ZUV_TEST"));
    EXPECT_EQ(crypt.ErrorText(), "Error CryptAcquireContext: NTE_EXISTS");

    TCryptConfig c = CryptConfig();
    c.KeyStoreFolder = "/proc/no-such-store";
    SetCryptConfig(c);
    TEnDeCrypt other;
    EXPECT_FALSE(other.CreateContainer("ZUV_TEST"));
    EXPECT_EQ(other.ErrorText(), "Error CryptAcquireContext: NTE_FAIL");
}

// ---- the .dat writer ----

// Reads a container back by hand with the recipient's private key.
std::string OpenContainer(const std::string& dat, const std::string& privateBlob,
                          uint32_t* saltLenOut = nullptr) {
    uint32_t n1 = LE32(dat, 0);
    std::string blob = dat.substr(4, n1);
    uint32_t n2 = LE32(dat, 4 + n1);
    std::string salt = dat.substr(8 + n1, n2);
    if (saltLenOut) *saltLenOut = n2;
    HCRYPTPROV prov = 0;
    HCRYPTKEY pair = 0, session = 0;
    EXPECT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptImportKey(prov, reinterpret_cast<const BYTE*>(privateBlob.data()),
                               DWORD(privateBlob.size()), 0, 0, &pair));
    EXPECT_TRUE(CryptImportKey(prov, reinterpret_cast<const BYTE*>(blob.data()), n1, pair, 0, &session));
    if (n2) {
        salt.resize(11, '\0');
        EXPECT_TRUE(CryptSetKeyParam(session, KP_SALT, reinterpret_cast<const BYTE*>(salt.data()), 0));
    }
    std::string plain = dat.substr(8 + n1 + n2);
    DWORD len = DWORD(plain.size());
    EXPECT_TRUE(CryptDecrypt(session, 0, true, 0, reinterpret_cast<BYTE*>(plain.data()), &len));
    CryptDestroyKey(session);
    CryptDestroyKey(pair);
    CryptReleaseContext(prov, 0);
    return plain;
}

TEST_F(CryptFixture, EncryptedContainerLayout) {
    std::string privateBlob;
    std::string publicBlob = NewRecipient(512, &privateBlob);
    struct Case {
        size_t length;
        bool strongSalt;
        uint32_t saltLen;
    };
    const Case cases[] = {{496 * 3, true, 11}, {1000, true, 11}, {1, false, 0}, {0, true, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        TCryptConfig cfg = CryptConfig();
        cfg.StrongLongKeySalt = c.strongSalt;
        SetCryptConfig(cfg);
        std::string archive(c.length, '\0');
        for (size_t i = 0; i < archive.size(); ++i) archive[i] = char(i * 7 + 1);
        WriteFile(Path("pkg.zip"), archive);
        std::string error;
        ASSERT_TRUE(EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob), "ZUV_EXPORT",
                                       error));
        EXPECT_EQ(error, "");
        std::string dat = ReadFile(Path("pkg.dat"));
        ASSERT_GE(dat.size(), 8u + 76u);
        EXPECT_EQ(LE32(dat, 0), 76u);
        EXPECT_EQ(dat.substr(4, 12), Unhex("010200000168000000a40000"));
        uint32_t saltLen = 0;
        EXPECT_EQ(OpenContainer(dat, privateBlob, &saltLen), archive);
        EXPECT_EQ(saltLen, c.saltLen);
        // The cipher text is exactly as long as the archive.
        EXPECT_EQ(dat.size(), 8 + 76 + saltLen + c.length);
        if (c.length) {
            EXPECT_NE(dat.substr(dat.size() - c.length), archive);
        }
    }
}

// The key blob is as long as the recipient's modulus; a 128-byte buffer once failed every key
// above 928 bits with ERROR_MORE_DATA, zuvcrypt's default of 1024 bits among them.
TEST_F(CryptFixture, SessionKeyIsWrappedForRecipientsOfEverySize) {
    WriteFile(Path("pkg.zip"), "PK\x03\x04 archive for a long key");
    for (DWORD bits : {928u, 1024u, 2048u}) {
        SCOPED_TRACE(bits);
        std::string privateBlob;
        std::string publicBlob = NewRecipient(bits, &privateBlob);
        std::string error;
        ASSERT_TRUE(
            EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob), "ZUV_EXPORT", error))
            << error;
        std::string dat = ReadFile(Path("pkg.dat"));
        EXPECT_EQ(LE32(dat, 0), 12 + bits / 8);
        EXPECT_EQ(OpenContainer(dat, privateBlob), "PK\x03\x04 archive for a long key");
    }
}

TEST_F(CryptFixture, EncryptionFailuresWriteNoTarget) {
    WriteFile(Path("pkg.zip"), "PK\x03\x04 some archive");
    struct Case {
        const char* name;
        std::string keyHex;
        const char* error;
    };
    const Case cases[] = {
        {"blob of another version", "06030000" + BytesToHex(NewRecipient(512)).substr(8),
         "Error CryptImportKey: NTE_BAD_VER"},
        {"damaged key", BytesToHex(NewRecipient(512)).substr(0, 60), "Error CryptImportKey: NTE_BAD_DATA"},
        {"no key", "", "Error CryptImportKey: NTE_BAD_DATA"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), c.keyHex, "ZUV_EXPORT", error))
            << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_FALSE(std::filesystem::exists(Path("pkg.dat"))) << c.name;
    }
    std::string error;
    EXPECT_THROW(EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), "06020000XY", "ZUV_EXPORT", error),
                 rtl::EConvertError);
}

TEST_F(CryptFixture, EncryptStreamStartsAtSourcePosition) {
    std::string privateBlob;
    std::string publicBlob = NewRecipient(512, &privateBlob);
    rtl::TStringStream source("skip:PK\x03\x04 payload");
    source.SetPosition(5);
    rtl::TStringStream key(publicBlob);
    TEnDeCrypt crypt;
    auto out = crypt.EncryptStream(source, key, "ZUV_EXPORT");
    ASSERT_EQ(crypt.ErrorText(), "");
    std::string dat(static_cast<const char*>(out->Memory()), size_t(out->Size()));
    EXPECT_EQ(OpenContainer(dat, privateBlob), "PK\x03\x04 payload");
}

}  // namespace
