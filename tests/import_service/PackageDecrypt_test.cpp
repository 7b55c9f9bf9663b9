#include "import_service/PackageDecrypt.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/platform/os/CryptTestSupport.h"

using namespace svc;
using namespace os;
using namespace crypttest;

namespace {

constexpr const char* kContainer = "ZUV_QEL_IMPORT_TEST";

void PutLE32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char(v >> (8 * i));
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when not there.
int64_t StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    return -1;
}

// How far the peak resident memory rises above the current one while work runs, in MB.
// -1 when the peak cannot be reset here.
template <typename F>
int64_t PeakGrowthMb(F work) {
    const int64_t before = StatusKb("VmRSS");
    if (!(std::ofstream("/proc/self/clear_refs") << "5") || before < 0) return -1;
    work();
    return (StatusKb("VmHWM") - before) / 1024;
}

// Makes the file size bytes long; the added part is a hole that costs no disk.
void Extend(const std::string& path, int64_t size) {
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

class PackageDecryptTest : public KeyStoreTest {
protected:
    PackageDecryptTest() : KeyStoreTest("pkgdecrypt") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        publicBlob_ = FillContainer(kContainer);
    }

    // Creates the machine container with a new 512-bit exchange pair; returns its PUBLICKEYBLOB.
    static std::string FillContainer(const char* name) {
        HCRYPTPROV prov = 0;
        HCRYPTKEY pair = 0;
        EXPECT_TRUE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL,
                                         CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
        EXPECT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 512u << 16, &pair));
        std::string blob = ExportKeyBlob(pair, 0, PUBLICKEYBLOB);
        CryptDestroyKey(pair);
        CryptReleaseContext(prov, 0);
        return blob;
    }

    // Writes a container the way a peer with the given provider and salt handling does.
    std::string PeerContainer(const std::string& archive, const char* provider, DWORD genFlags,
                              const std::string& writtenSalt, bool keyUsesSalt) {
        HCRYPTPROV prov = 0;
        HCRYPTKEY pub = 0, session = 0;
        EXPECT_TRUE(CryptAcquireContextA(&prov, nullptr, provider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
        EXPECT_TRUE(CryptImportKey(prov, reinterpret_cast<const BYTE*>(publicBlob_.data()),
                                   DWORD(publicBlob_.size()), 0, 0, &pub));
        EXPECT_TRUE(CryptGenKey(prov, CALG_RC4, CRYPT_EXPORTABLE | genFlags, &session));
        std::string blob = ExportKeyBlob(session, pub, SIMPLEBLOB);
        if (keyUsesSalt) {
            std::string salt = writtenSalt;
            salt.resize(11, '\0');
            EXPECT_TRUE(CryptSetKeyParam(session, KP_SALT, reinterpret_cast<const BYTE*>(salt.data()), 0));
        }
        std::string cipher = archive;
        DWORD len = DWORD(cipher.size());
        EXPECT_TRUE(CryptEncrypt(session, 0, true, 0, reinterpret_cast<BYTE*>(cipher.data()), &len, len));
        CryptDestroyKey(session);
        CryptDestroyKey(pub);
        CryptReleaseContext(prov, 0);
        std::string dat;
        PutLE32(dat, uint32_t(blob.size()));
        dat += blob;
        PutLE32(dat, uint32_t(writtenSalt.size()));
        return dat + writtenSalt + cipher;
    }

    // Decrypts data as a .dat file; returns the error text and the target's content.
    std::pair<std::string, std::string> Decrypt(const std::string& dat, const char* container = kContainer) {
        WriteFile(Path("in.dat"), dat);
        std::filesystem::remove(Path("out.zip"));
        std::string error = "stale";
        bool ok = DecryptFileWithKey(Path("in.dat"), Path("out.zip"), container, error);
        EXPECT_EQ(ok, error.empty());
        EXPECT_EQ(std::filesystem::exists(Path("out.zip")), ok);
        ExpectNoPartialTarget();
        return {error, ok ? ReadFile(Path("out.zip")) : std::string()};
    }

    // The hidden file a decryption writes before it replaces the target.
    void ExpectNoPartialTarget() {
        for (auto& p : std::filesystem::directory_iterator(folder_))
            EXPECT_NE(p.path().filename().string().rfind(".out.zip.part", 0), 0u) << p.path();
    }

    static std::string Archive(size_t length) {
        std::string a = "PK\x03\x04";
        while (a.size() < length) a += char(a.size() * 31 + 7);
        a.resize(length);
        return a;
    }

    std::string publicBlob_;
};

TEST_F(PackageDecryptTest, RoundTripWithTheExportWriter) {
    for (bool salted : {true, false}) {
        TCryptConfig c = CryptConfig();
        c.StrongLongKeySalt = salted;
        SetCryptConfig(c);
        for (size_t length :
             {size_t(0), size_t(3), size_t(511), size_t(512), size_t(496 * 4), size_t(5000)}) {
            SCOPED_TRACE(length);
            WriteFile(Path("pkg.zip"), Archive(length));
            std::string error;
            ASSERT_TRUE(EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob_),
                                           "ZUV_EXPORT", error));
            auto [decryptError, plain] = Decrypt(ReadFile(Path("pkg.dat")));
            EXPECT_EQ(decryptError, "");
            EXPECT_TRUE(plain == Archive(length)) << "salted " << salted << ", " << plain.size() << " bytes";
        }
    }
}

TEST_F(PackageDecryptTest, AcceptsThePeersKeyAndSaltVariants) {
    const std::string archive = Archive(2000);
    const std::string salt = "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb";
    struct Case {
        const char* name;
        const char* provider;
        DWORD flags;
        std::string writtenSalt;
        bool keyUsesSalt;
    };
    const Case cases[] = {
        {"128-bit key with salt", MS_STRONG_PROV_A, 0, salt, true},
        {"128-bit key, salt written but unused", MS_ENHANCED_PROV_A, 0, salt, false},
        {"128-bit key, no salt", MS_ENHANCED_PROV_A, 0, "", false},
        {"40-bit key with salt", MS_DEF_PROV_A, 0, salt, true},
        {"short salt padded with zeros", MS_STRONG_PROV_A, 0, salt.substr(0, 4), true},
    };
    for (const auto& c : cases) {
        auto [error, plain] =
            Decrypt(PeerContainer(archive, c.provider, c.flags, c.writtenSalt, c.keyUsesSalt));
        EXPECT_EQ(error, "") << c.name;
        EXPECT_TRUE(plain == archive) << c.name;
    }
}

TEST_F(PackageDecryptTest, MissingContainerIsCreatedAndHasNoKey) {
    WriteFile(Path("pkg.zip"), Archive(100));
    std::string error;
    ASSERT_TRUE(
        EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob_), "ZUV_EXPORT", error));
    auto [decryptError, plain] = Decrypt(ReadFile(Path("pkg.dat")), "ZUV_NEW_CONTAINER");
    EXPECT_EQ(decryptError, "Error CryptGetUserKey: NTE_NO_KEY");
    EXPECT_TRUE(TEnDeCrypt().ContainerExists("ZUV_NEW_CONTAINER"));
}

TEST_F(PackageDecryptTest, FileForAnotherKeyFails) {
    FillContainer("ZUV_OTHER");
    WriteFile(Path("pkg.zip"), Archive(100));
    std::string error;
    ASSERT_TRUE(
        EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob_), "ZUV_EXPORT", error));
    auto [decryptError, plain] = Decrypt(ReadFile(Path("pkg.dat")), "ZUV_OTHER");
    EXPECT_EQ(decryptError, "Error CryptImportKey: NTE_BAD_DATA");
}

TEST_F(PackageDecryptTest, DamagedContainersFailWithoutOverrun) {
    const std::string dat = PeerContainer(Archive(600), MS_STRONG_PROV_A, 0, std::string(11, '\x5a'), true);
    const size_t n1 = 76;
    auto withSaltLength = [&](uint32_t n2) {
        std::string d = dat.substr(0, 4 + n1);
        PutLE32(d, n2);
        return d + std::string(n2, 'S') + dat.substr(8 + n1 + 11);
    };
    std::string hugeN1 = dat;
    hugeN1[3] = '\x7f';
    struct Case {
        const char* name;
        std::string data;
        const char* error;
    };
    const Case cases[] = {
        {"empty file", "", "Error reading container: the file ends before the key blob length"},
        {"cut in N1", dat.substr(0, 3), "Error reading container: the file ends before the key blob length"},
        {"cut in key blob", dat.substr(0, 40),
         "Error reading container: key blob length 76 exceeds the rest of the file"},
        {"N1 beyond the file", hugeN1,
         "Error reading container: key blob length 2130706508 exceeds the rest of the file"},
        {"cut in N2", dat.substr(0, 4 + n1 + 2),
         "Error reading container: the file ends before the salt length"},
        {"cut in salt", dat.substr(0, 4 + n1 + 4 + 5),
         "Error reading container: salt length 11 exceeds the rest of the file"},
        {"N2 over 512", withSaltLength(513), "Error reading container: salt length 513 exceeds 512 bytes"},
        {"key blob longer than any key's",
         [] {
             std::string d;
             PutLE32(d, 100000);
             return d + std::string(100008, 'k');
         }(),
         "Error reading container: key blob length 100000 exceeds 2060 bytes"},
        {"key blob damaged", dat.substr(0, 16) + std::string(n1 - 12, '\x01') + dat.substr(4 + n1),
         "Error CryptImportKey: NTE_BAD_DATA"},
    };
    for (const auto& c : cases) {
        auto [error, plain] = Decrypt(c.data);
        EXPECT_EQ(error, c.error) << c.name;
    }
    // Exactly 512 salt bytes fit the work buffer.
    auto [error, plain] = Decrypt(withSaltLength(512));
    EXPECT_EQ(error, "");
}

TEST_F(PackageDecryptTest, FileErrorsBecomeErrorText) {
    std::string error;
    EXPECT_FALSE(DecryptFileWithKey(Path("missing.dat"), Path("out.zip"), kContainer, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(Path("out.zip")));

    // An existing target is replaced.
    WriteFile(Path("pkg.zip"), Archive(50));
    ASSERT_TRUE(
        EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob_), "ZUV_EXPORT", error));
    WriteFile(Path("out.zip"), std::string(5000, 'x'));
    ASSERT_TRUE(DecryptFileWithKey(Path("pkg.dat"), Path("out.zip"), kContainer, error)) << error;
    EXPECT_EQ(ReadFile(Path("out.zip")), Archive(50));

    // A target that cannot be written.
    EXPECT_FALSE(DecryptFileWithKey(Path("pkg.dat"), Path("no/such/folder/out.zip"), kContainer, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(PackageDecryptTest, MemoryStaysFlatForALargePackage) {
    // Before, source and result were both held in memory: a 300 MB package took 1.2 GB.
    constexpr int64_t kSize = 48 << 20;
    const std::string archive = Archive(3000);
    WriteFile(Path("big.dat"), PeerContainer(archive, MS_STRONG_PROV_A, 0, "", false));
    const int64_t header = int64_t(std::filesystem::file_size(Path("big.dat"))) - int64_t(archive.size());
    Extend(Path("big.dat"), kSize);
    std::string error;
    bool ok = false;
    const int64_t growth =
        PeakGrowthMb([&] { ok = DecryptFileWithKey(Path("big.dat"), Path("big.zip"), kContainer, error); });
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(int64_t(std::filesystem::file_size(Path("big.zip"))), kSize - header);
    std::ifstream plain(Path("big.zip"), std::ios::binary);
    std::string head(archive.size(), '\0');
    plain.read(head.data(), std::streamsize(head.size()));
    EXPECT_TRUE(head == archive);
    if (growth < 0) GTEST_SKIP() << "the peak resident memory cannot be reset here";
    EXPECT_LT(growth, 16) << "MB more at the peak for a " << (kSize >> 20) << " MB package";
}

TEST_F(PackageDecryptTest, OversizedKeyContainerIsRefusedUnread) {
    // Before, a key container file of any size was read whole before its content was refused.
    std::string file;
    for (auto& p : std::filesystem::recursive_directory_iterator(Path("store")))
        if (p.is_regular_file()) file = p.path().string();
    ASSERT_FALSE(file.empty());
    Extend(file, int64_t(2) << 30);
    WriteFile(Path("pkg.zip"), Archive(100));
    std::string error;
    ASSERT_TRUE(
        EncryptFileWithKey(Path("pkg.zip"), Path("pkg.dat"), BytesToHex(publicBlob_), "ZUV_EXPORT", error));
    std::string decryptError;
    const int64_t growth = PeakGrowthMb([&] { decryptError = Decrypt(ReadFile(Path("pkg.dat"))).first; });
    EXPECT_EQ(decryptError, "Error CryptGetUserKey: NTE_KEYSET_ENTRY_BAD");
    if (growth >= 0) {
        EXPECT_LT(growth, 16);
    }
}

}  // namespace
