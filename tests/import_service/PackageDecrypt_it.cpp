// The .dat container against an independent Python reader and writer and against keys made
// by the openssl command.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "import_service/PackageDecrypt.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace svc;
using namespace os;
using namespace crypttest;

namespace {

const std::string kCodec = std::string(DX_SOURCE_DIR) + "/tests/import_service/dat_codec.py";
const std::string kTool = std::string(DX_BINARY_DIR) + "/tools/zuvcrypt";

class DatInteropTest : public KeyStoreTest {
protected:
    DatInteropTest() : KeyStoreTest("datinterop") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        // The import key is made by openssl and handed to the container as openssl writes it.
        ASSERT_EQ(Shell("cd " + folder_ +
                        " && openssl genrsa -out key.pem 512 2>/dev/null"
                        " && openssl rsa -in key.pem -outform MSBLOB -out key.blob 2>/dev/null"
                        " && openssl rsa -in key.pem -pubout -outform MSBLOB -out pub.blob 2>/dev/null"),
                  0);
        ASSERT_EQ(Shell("DX_KEYSTORE=" + folder_ + "/store " + kTool + " import-key ZUV_IT " + folder_ +
                        "/key.blob"),
                  0);
        archive_ = "PK\x03\x04";
        for (int i = 0; i < 3000; ++i) archive_ += char(i * 13 + i / 7);
        WriteFile(Path("pkg.zip"), archive_);
    }
    std::string archive_;
};

TEST_F(DatInteropTest, PythonReadsWhatTheExportWrites) {
    for (bool salted : {true, false}) {
        TCryptConfig c = CryptConfig();
        c.StrongLongKeySalt = salted;
        SetCryptConfig(c);
        std::string error;
        ASSERT_TRUE(EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"),
                                       BytesToHex(ReadFile(Path("pub.blob"))), "ZUV_EXPORT", error))
            << error;
        ASSERT_EQ(Shell("python3 " + kCodec + " decrypt " + Path("key.blob") + " " + Path("pkg.dat") + " " +
                        Path("py.zip")),
                  0);
        EXPECT_TRUE(ReadFile(Path("py.zip")) == archive_) << "salted " << salted;
    }
}

TEST_F(DatInteropTest, ImportReadsWhatPythonWrites) {
    for (int saltLen : {11, 0}) {
        ASSERT_EQ(Shell("python3 " + kCodec + " encrypt " + Path("pub.blob") + " " + Path("pkg.zip") + " " +
                        Path("py.dat") + " " + std::to_string(saltLen)),
                  0);
        std::string error;
        ASSERT_TRUE(DecryptFileWithKey(Path("py.dat"), Path("out.zip"), "ZUV_IT", error)) << error;
        EXPECT_TRUE(ReadFile(Path("out.zip")) == archive_) << "salt " << saltLen;
    }
}

TEST_F(DatInteropTest, PackageForAnotherKeyIsRefused) {
    ASSERT_EQ(Shell("cd " + folder_ +
                    " && openssl genrsa -out other.pem 512 2>/dev/null"
                    " && openssl rsa -in other.pem -pubout -outform MSBLOB -out other.blob 2>/dev/null"),
              0);
    ASSERT_EQ(Shell("python3 " + kCodec + " encrypt " + Path("other.blob") + " " + Path("pkg.zip") + " " +
                    Path("py.dat") + " 11"),
              0);
    std::string error;
    EXPECT_FALSE(DecryptFileWithKey(Path("py.dat"), Path("out.zip"), "ZUV_IT", error));
    EXPECT_EQ(error, "Error CryptImportKey: NTE_BAD_DATA");
    EXPECT_FALSE(std::filesystem::exists(Path("out.zip")));
}

TEST_F(DatInteropTest, ToolWritesAndReadsPackages) {
    std::string keyHex;
    ASSERT_EQ(Shell("DX_KEYSTORE=" + folder_ + "/store " + kTool + " public-key ZUV_IT", &keyHex), 0);
    keyHex.erase(keyHex.find_last_not_of("\n") + 1);
    EXPECT_EQ(keyHex, BytesToHex(ReadFile(Path("pub.blob"))));
    std::string env = "DX_KEYSTORE=" + folder_ + "/store ";
    ASSERT_EQ(Shell(env + kTool + " encrypt-file " + Path("pkg.zip") + " " + Path("tool.dat") + " " + keyHex),
              0);
    ASSERT_EQ(Shell(env + kTool + " decrypt-file " + Path("tool.dat") + " " + Path("tool.zip") + " ZUV_IT"),
              0);
    EXPECT_TRUE(ReadFile(Path("tool.zip")) == archive_);
    // A failure is reported with the error text and a non-zero status.
    std::string out;
    EXPECT_EQ(
        Shell(env + kTool + " decrypt-file " + Path("tool.dat") + " " + Path("x.zip") + " ZUV_NONE 2>&1",
              &out),
        1);
    EXPECT_NE(out.find("no key container \"ZUV_NONE\""), std::string::npos) << out;
}

TEST_F(DatInteropTest, ToolCredentialsDecryptWithOpenssl) {
    std::string lines;
    ASSERT_EQ(Shell(kTool + " credentials ZUV_OWNER 'пароль 1'", &lines), 0);
    auto value = [&](const std::string& key) {
        size_t at = lines.find(key + "=");
        return lines.substr(at + key.size() + 1, lines.find('\n', at) - at - key.size() - 1);
    };
    const std::string passPhrase = "W\xFEr\xED\xDFPkqz8";
    std::string error, plain;
    ASSERT_TRUE(DecryptStringWithPassPhrase(value("UserName"), passPhrase, false, true, error, plain))
        << error;
    EXPECT_EQ(plain, "ZUV_OWNER");
    ASSERT_TRUE(DecryptStringWithPassPhrase(value("Password"), passPhrase, false, true, error, plain))
        << error;
    EXPECT_EQ(plain, "\xEF\xE0\xF0\xEE\xEB\xFC 1");

    // Outside check: RC2-CBC, key = SHA-1 of the cp1251 pass phrase, first 16 bytes, zero IV.
    std::string key;
    ASSERT_EQ(Shell("python3 -c \"import hashlib; "
                    "print(hashlib.sha1('WюrнЯPkqz8'.encode('cp1251')).hexdigest()[:32])\"",
                    &key),
              0);
    key.erase(key.find_last_not_of("\n") + 1);
    std::string decrypted;
    WriteFile(Path("password.bin"), HexToBytes(value("Password")));
    ASSERT_EQ(Shell("openssl enc -d -rc2-cbc -in " + Path("password.bin") + " -K " + key +
                        " -iv 0000000000000000 -provider legacy -provider default",
                    &decrypted),
              0);
    EXPECT_EQ(decrypted, "\xEF\xE0\xF0\xEE\xEB\xFC 1");
}

}  // namespace
