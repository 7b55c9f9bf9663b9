// Reading .dat packages: the session key is unwrapped with the import key container and the
// cipher text is decrypted a bounded chunk at a time, from file to file.
#include "import_service/PackageDecrypt.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"

namespace svc {

using namespace os;

namespace {

// The salt goes into a buffer of this size, as the peers' readers do.
constexpr DWORD kSaltBuffer = 512;
// A SIMPLEBLOB of the largest RSA key the provider knows: header, algorithm, modulus.
constexpr uint32_t kMaxKeyBlob = 8 + 4 + 16384 / 8;

bool ReadLE32(rtl::TStream& in, uint32_t& v) {
    uint8_t b[4];
    if (in.Read(b, 4) != 4) return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

// The packages are zip archives; an empty archive is only its end record.
bool LooksLikeZip(const uint8_t* p, size_t n) {
    return n >= 4 && p[0] == 'P' && p[1] == 'K' && ((p[2] == 3 && p[3] == 4) || (p[2] == 5 && p[3] == 6));
}

// Decrypts a copy of the first cipher bytes with Final set, which leaves the key's stream at
// its start again.
bool ProbeKey(HCRYPTKEY key, const std::array<uint8_t, 4>& head, size_t headLen) {
    std::array<uint8_t, 4> copy = head;
    DWORD len = DWORD(headLen);
    return CryptDecrypt(key, 0, true, 0, copy.data(), &len) && LooksLikeZip(copy.data(), len);
}

// A new file beside the target, under a hidden name, that replaces the target when
// committed and is removed otherwise.
class TReplacement {
public:
    explicit TReplacement(const std::string& target) : target_(target) {
        std::string name = rtl::ExtractFilePath(target) + "." + rtl::ExtractFileName(target) + ".partXXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) rtl::RaiseLastOSError();
        name_ = name;
        stream_ = std::make_unique<rtl::THandleStream>(fd_);
    }
    ~TReplacement() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(rtl::SysFileName(name_).c_str());
    }
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;

    rtl::TStream& Stream() { return *stream_; }
    void Commit() {
        const bool ok = ::fsync(fd_) == 0 && ::close(std::exchange(fd_, -1)) == 0 &&
                        std::rename(rtl::SysFileName(name_).c_str(), rtl::SysFileName(target_).c_str()) == 0;
        if (!ok) rtl::RaiseLastOSError();
        name_.clear();
    }

private:
    std::string target_;
    std::string name_;
    int fd_ = -1;
    std::unique_ptr<rtl::THandleStream> stream_;
};

}  // namespace

void DecryptStreamTo(TEnDeCrypt& crypt, rtl::TStream& source, const std::string& container,
                     rtl::TStream& target) {
    if (!crypt.ContainerExists(container) && crypt.ErrorText().empty()) crypt.CreateContainer(container);
    if (!crypt.ErrorText().empty()) return;

    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container.empty() ? nullptr : container.c_str(), nullptr, PROV_RSA_FULL,
                              CRYPT_MACHINE_KEYSET)) {
        crypt.Fail("Error CryptAcquireContext: ");
        return;
    }
    HCRYPTKEY exchangeKey = 0, session = 0;
    auto cleanUp = [&] {
        if (exchangeKey && !CryptDestroyKey(exchangeKey)) crypt.Fail("Error CryptDestroyKey: ");
        if (session && !CryptDestroyKey(session)) crypt.Fail("Error CryptDestroyKey: ");
        if (!CryptReleaseContext(prov, 0)) crypt.Fail("Error CryptReleaseContext: ");
    };
    if (!CryptGetUserKey(prov, AT_KEYEXCHANGE, &exchangeKey)) {
        crypt.Fail("Error CryptGetUserKey: ");
        return cleanUp();
    }

    // The lengths come from the file: check them before trusting them.
    const int64_t size = source.Size();
    auto remaining = [&] { return uint64_t(size - source.Position()); };
    uint32_t keyBlobLen = 0;
    if (!ReadLE32(source, keyBlobLen)) {
        crypt.FailWith("Error reading container: the file ends before the key blob length");
        return cleanUp();
    }
    if (keyBlobLen > remaining()) {
        crypt.FailWith("Error reading container: key blob length " + std::to_string(keyBlobLen) +
                       " exceeds the rest of the file");
        return cleanUp();
    }
    // Checked before the blob is read: a forged length must not make the reader take in the
    // whole of a large file.
    if (keyBlobLen > kMaxKeyBlob) {
        crypt.FailWith("Error reading container: key blob length " + std::to_string(keyBlobLen) +
                       " exceeds " + std::to_string(kMaxKeyBlob) + " bytes");
        return cleanUp();
    }
    std::string keyBlob(keyBlobLen, '\0');
    if (keyBlobLen) source.ReadBuffer(keyBlob.data(), keyBlobLen);
    if (!CryptImportKey(prov, reinterpret_cast<const BYTE*>(keyBlob.data()), keyBlobLen, exchangeKey, 0,
                        &session)) {
        crypt.Fail("Error CryptImportKey: ");
        return cleanUp();
    }
    std::array<uint8_t, kSaltBuffer> salt{};
    uint32_t saltLen = 0;
    if (!ReadLE32(source, saltLen)) {
        crypt.FailWith("Error reading container: the file ends before the salt length");
        return cleanUp();
    }
    if (saltLen > kSaltBuffer) {
        crypt.FailWith("Error reading container: salt length " + std::to_string(saltLen) + " exceeds " +
                       std::to_string(kSaltBuffer) + " bytes");
        return cleanUp();
    }
    if (saltLen > remaining()) {
        crypt.FailWith("Error reading container: salt length " + std::to_string(saltLen) +
                       " exceeds the rest of the file");
        return cleanUp();
    }
    if (saltLen) source.ReadBuffer(salt.data(), saltLen);
    // The provider takes 11 salt bytes; a shorter salt is followed by the buffer's zeros.
    if (!CryptSetKeyParam(session, KP_SALT, salt.data(), 0)) {
        crypt.Fail("Error CryptSetKeyParam: ");
        return cleanUp();
    }
    std::array<uint8_t, 4> algid{};
    DWORD algidLen = 4;
    if (!CryptGetKeyParam(session, KP_ALGID, algid.data(), &algidLen, 0)) {
        crypt.Fail("Error CryptGetKeyParam: ");
        return cleanUp();
    }

    // Peers differ in whether a long session key is used with its salt or alone. A peer that
    // writes no salt uses the key alone; otherwise the salted key is the first choice. The
    // cipher text's first bytes decide when only one of the two gives a zip archive.
    const int64_t cipherStart = source.Position();
    std::array<uint8_t, 4> head{};
    size_t headLen = size_t(source.Read(head.data(), 4));
    source.SetPosition(cipherStart);
    uint8_t keyBits[4] = {};
    DWORD keyBitsLen = 4;
    bool longKey =
        CryptGetKeyParam(session, KP_KEYLEN, keyBits, &keyBitsLen, 0) && keyBits[0] + 256 * keyBits[1] > 40;
    HCRYPTKEY unsalted = 0;
    if (longKey && CryptImportKey(prov, reinterpret_cast<const BYTE*>(keyBlob.data()), keyBlobLen,
                                  exchangeKey, 0, &unsalted)) {
        bool preferUnsalted = saltLen == 0;
        if (headLen == 4) {
            bool salted = ProbeKey(session, head, headLen), plain = ProbeKey(unsalted, head, headLen);
            if (salted != plain) preferUnsalted = plain;
        }
        if (preferUnsalted) std::swap(session, unsalted);
        CryptDestroyKey(unsalted);
    }
    HCRYPTKEY destroyed = std::exchange(exchangeKey, 0);
    if (!CryptDestroyKey(destroyed)) crypt.Fail("Error CryptDestroyKey: ");

    std::vector<uint8_t> buffer(kDecryptChunk);
    try {
        while (source.Position() < size) {
            DWORD len = DWORD(source.Read(buffer.data(), kDecryptChunk));
            if (len == 0) break;
            bool final = source.Position() >= size;
            if (!CryptDecrypt(session, 0, final, 0, buffer.data(), &len)) {
                crypt.Fail("Error CryptDecrypt: ");
                return cleanUp();
            }
            target.WriteBuffer(buffer.data(), len);
        }
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
}

std::unique_ptr<rtl::TMemoryStream> TEnDeCrypt::DecryptStream(rtl::TStream& source,
                                                              const std::string& container) {
    auto result = std::make_unique<rtl::TMemoryStream>();
    DecryptStreamTo(*this, source, container, *result);
    return result;
}

bool DecryptFileWithKey(const std::string& sourceFile, const std::string& targetFile,
                        const std::string& container, std::string& errorText) {
    try {
        rtl::TFileStream source(sourceFile, rtl::fmOpenRead | rtl::fmShareDenyWrite);
        TReplacement target(targetFile);
        TEnDeCrypt crypt;
        DecryptStreamTo(crypt, source, container, target.Stream());
        errorText = crypt.ErrorText();
        if (!errorText.empty()) return false;
        target.Commit();
        return true;
    } catch (const std::exception& e) {
        errorText = e.what();
        return false;
    }
}

}  // namespace svc
