// zuvcrypt as its users run it: its usage, its key containers, and packages for keys of every
// size made by the openssl command, read and written by the independent Python codec.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/EnDeCrypt.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace crypttest;

namespace {

const std::string kTool = std::string(DX_BINARY_DIR) + "/tools/zuvcrypt";
const std::string kCodec = std::string(DX_SOURCE_DIR) + "/tests/import_service/dat_codec.py";

struct TRun {
    int status;
    std::string out;  // standard output
    std::string err;  // standard error
};

class ZuvcryptTest : public KeyStoreTest {
protected:
    ZuvcryptTest() : KeyStoreTest("zuvcrypt") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        archive_ = "PK\x03\x04";
        for (int i = 0; i < 5000; ++i) archive_ += char(i * 31 + i / 5);
        WriteFile(Path("pkg.zip"), archive_);
    }

    // Runs zuvcrypt with the test's key store.
    TRun Tool(const std::string& args) {
        TRun r;
        r.status =
            Shell("DX_KEYSTORE=" + folder_ + "/store " + kTool + " " + args + " 2>" + Path("stderr"), &r.out);
        r.err = ReadFile(Path("stderr"));
        return r;
    }
    // The hexadecimal text a command printed, without its line end.
    static std::string Line(const TRun& r) { return r.out.substr(0, r.out.find('\n')); }

    // An openssl key pair: <name>.blob (private) and <name>.pub (public), both MSBLOB.
    void OpensslKey(const std::string& name, int bits) {
        ASSERT_EQ(Shell("cd " + folder_ + " && openssl genrsa -out " + name + ".pem " + std::to_string(bits) +
                        " 2>/dev/null && openssl rsa -in " + name + ".pem -outform MSBLOB -out " + name +
                        ".blob 2>/dev/null && openssl rsa -in " + name +
                        ".pem -pubout -outform MSBLOB -out " + name + ".pub 2>/dev/null"),
                  0);
    }
    bool ContainerFileExists(const std::string& container) {
        return std::filesystem::exists(os::KeyContainerPath(container, true));
    }

    std::string archive_;
};

TEST_F(ZuvcryptTest, HelpGoesToStandardOutputAndSaysWhereKeysAre) {
    for (const char* flag : {"--help", "-h"}) {
        SCOPED_TRACE(flag);
        TRun r = Tool(flag);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        for (const std::string& part :
             {std::string("usage: zuvcrypt"), std::string("new-key [--replace] CONTAINER [BITS]"),
              std::string("(default 1024)"), std::string("decrypts the package IN"),
              "Key containers are files (mode 0600) in " + folder_ + "/store/machine;",
              std::string("DX_KEYSTORE")})
            EXPECT_NE(r.out.find(part), std::string::npos) << part;
    }
    // A command line it does not understand: the usage goes to standard error.
    for (const char* args : {"", "unknown", "public-key", "new-key A 1024 extra"}) {
        SCOPED_TRACE(args);
        TRun r = Tool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("usage: zuvcrypt", 0), 0u);
    }
}

// Both ways, for each key size: the tool encrypts for openssl's public key and Python decrypts
// with the private one; Python encrypts and the tool decrypts with the imported pair.
TEST_F(ZuvcryptTest, PackagesForOpensslKeysOfEverySize) {
    for (int bits : {1024, 2048, 4096}) {
        SCOPED_TRACE(bits);
        const std::string key = "k" + std::to_string(bits), container = "ZUV_" + std::to_string(bits);
        OpensslKey(key, bits);
        ASSERT_EQ(Tool("import-key " + container + " " + Path(key + ".blob")).status, 0);
        TRun pub = Tool("public-key " + container);
        ASSERT_EQ(pub.status, 0) << pub.err;

        TRun enc = Tool("encrypt-file " + Path("pkg.zip") + " " + Path("tool.dat") + " " + Line(pub));
        ASSERT_EQ(enc.status, 0) << enc.err;
        std::string dat = ReadFile(Path("tool.dat"));
        ASSERT_GE(dat.size(), 4u);
        EXPECT_EQ(uint8_t(dat[0]) | uint8_t(dat[1]) << 8, 12 + bits / 8);  // the key blob's length
        ASSERT_EQ(Shell("python3 " + kCodec + " decrypt " + Path(key + ".blob") + " " + Path("tool.dat") +
                        " " + Path("py.zip")),
                  0);
        EXPECT_TRUE(ReadFile(Path("py.zip")) == archive_);

        ASSERT_EQ(Shell("python3 " + kCodec + " encrypt " + Path(key + ".pub") + " " + Path("pkg.zip") + " " +
                        Path("py.dat") + " 11"),
                  0);
        TRun dec = Tool("decrypt-file " + Path("py.dat") + " " + Path("tool.zip") + " " + container);
        ASSERT_EQ(dec.status, 0) << dec.err;
        EXPECT_TRUE(ReadFile(Path("tool.zip")) == archive_);
    }
}

// The default key once failed every package with ERROR_MORE_DATA.
TEST_F(ZuvcryptTest, DefaultKeyCarriesPackages) {
    TRun made = Tool("new-key ZUV_NEW");
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(Line(made).size(), 2u * (20 + 1024 / 8));
    EXPECT_EQ(Line(Tool("public-key ZUV_NEW")), Line(made));
    TRun enc = Tool("encrypt-file " + Path("pkg.zip") + " " + Path("pkg.dat") + " " + Line(made));
    ASSERT_EQ(enc.status, 0) << enc.err;
    TRun dec = Tool("decrypt-file " + Path("pkg.dat") + " " + Path("back.zip") + " ZUV_NEW");
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_TRUE(ReadFile(Path("back.zip")) == archive_);
}

TEST_F(ZuvcryptTest, KeyPairIsReplacedOnlyWhenAsked) {
    OpensslKey("other", 1024);
    const std::string first = Line(Tool("new-key ZUV_KEEP 512"));
    ASSERT_FALSE(first.empty());
    for (const std::string& args :
         {std::string("new-key ZUV_KEEP"), "import-key ZUV_KEEP " + Path("other.blob")}) {
        SCOPED_TRACE(args);
        TRun r = Tool(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("key container \"ZUV_KEEP\" already holds a key pair"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("--replace"), std::string::npos) << r.err;
        EXPECT_EQ(Line(Tool("public-key ZUV_KEEP")), first);
    }
    TRun replaced = Tool("new-key --replace ZUV_KEEP 512");
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(Line(replaced), first);
    EXPECT_EQ(Line(Tool("public-key ZUV_KEEP")), Line(replaced));
    ASSERT_EQ(Tool("import-key ZUV_KEEP " + Path("other.blob") + " --replace").status, 0);
    EXPECT_EQ(Line(Tool("public-key ZUV_KEEP")), svc::BytesToHex(ReadFile(Path("other.pub"))));

    // A container without a key pair takes one without asking: encrypt-file leaves the export
    // service's container empty.
    ASSERT_EQ(Tool("encrypt-file " + Path("pkg.zip") + " " + Path("pkg.dat") + " " + Line(replaced)).status,
              0);
    ASSERT_TRUE(ContainerFileExists("ZUV_QEL_EXPORT"));
    EXPECT_EQ(Tool("new-key ZUV_QEL_EXPORT 512").status, 0);
}

// A mistyped name or a bad argument leaves no container behind, and says what went wrong.
TEST_F(ZuvcryptTest, FailuresCreateNoContainer) {
    OpensslKey("good", 512);
    std::string truncated = ReadFile(Path("good.blob"));
    WriteFile(Path("truncated.blob"), truncated.substr(0, truncated.size() / 2));
    WriteFile(Path("text.blob"), "not a key");
    struct TCase {
        std::string args;
        std::string error;
    };
    const std::string store = folder_ + "/store/machine";
    const TCase cases[] = {
        {"public-key ZUV_TYPO", "no key container \"ZUV_TYPO\" in " + store},
        {"decrypt-file " + Path("pkg.zip") + " " + Path("out.zip") + " ZUV_TYPO",
         "no key container \"ZUV_TYPO\" in " + store},
        {"new-key ZUV_TYPO 1000",
         "bad key size \"1000\": give a number of bits, a multiple of 16 from 384 to 16384"},
        {"new-key ZUV_TYPO 2k", "bad key size \"2k\""},
        {"new-key ZUV_TYPO 99999999999", "bad key size \"99999999999\""},
        {"new-key ZUV_TYPO 256", "bad key size \"256\""},
        {"import-key ZUV_TYPO " + Path("missing.blob"), "cannot read " + Path("missing.blob")},
        {"import-key ZUV_TYPO " + Path("text.blob"), "is not a private key blob"},
        {"import-key ZUV_TYPO " + Path("good.pub"), "is not a private key blob"},
        // The container is made before the key is read, and removed when the key fails.
        {"import-key ZUV_TYPO " + Path("truncated.blob"), "Error CryptImportKey: NTE_BAD_DATA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        TRun r = Tool(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("zuvcrypt: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_FALSE(ContainerFileExists("ZUV_TYPO"));
    }
    EXPECT_FALSE(std::filesystem::exists(Path("out.zip")));
}

// The error named is the failing call's, not the success of the release that follows it.
TEST_F(ZuvcryptTest, ErrorNamesTheFailingCall) {
    ASSERT_EQ(Tool("new-key ZUV_BAD 512").status, 0);
    WriteFile(os::KeyContainerPath("ZUV_BAD", true), "damaged");
    TRun r = Tool("public-key ZUV_BAD");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zuvcrypt: Error CryptGetUserKey: NTE_KEYSET_ENTRY_BAD\n");
    // A damaged pair may be replaced, as asked.
    EXPECT_EQ(Tool("new-key --replace ZUV_BAD 512").status, 0);
    EXPECT_EQ(Tool("public-key ZUV_BAD").status, 0);
}

}  // namespace
