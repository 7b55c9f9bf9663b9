#include "import_service/PackageDecrypt.h"

#include <array>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/rtl/Exceptions.h"

namespace svc {

using namespace os;

namespace {

constexpr DWORD kWorkBuffer = 512;

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

}  // namespace

std::unique_ptr<rtl::TMemoryStream> TEnDeCrypt::DecryptStream(rtl::TStream& source,
                                                              const std::string& container) {
    auto result = std::make_unique<rtl::TMemoryStream>();
    if (!ContainerExists(container) && ErrorText().empty()) CreateContainer(container);
    if (!ErrorText().empty()) return result;

    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container.empty() ? nullptr : container.c_str(), nullptr, PROV_RSA_FULL,
                              CRYPT_MACHINE_KEYSET)) {
        Fail("Error CryptAcquireContext: ");
        return result;
    }
    HCRYPTKEY exchangeKey = 0, session = 0;
    auto cleanUp = [&] {
        if (exchangeKey && !CryptDestroyKey(exchangeKey)) Fail("Error CryptDestroyKey: ");
        if (session && !CryptDestroyKey(session)) Fail("Error CryptDestroyKey: ");
        if (!CryptReleaseContext(prov, 0)) Fail("Error CryptReleaseContext: ");
        return std::move(result);
    };
    if (!CryptGetUserKey(prov, AT_KEYEXCHANGE, &exchangeKey)) {
        Fail("Error CryptGetUserKey: ");
        return cleanUp();
    }

    // The lengths come from the file: check them before trusting them.
    const int64_t size = source.Size();
    auto remaining = [&] { return uint64_t(size - source.Position()); };
    uint32_t keyBlobLen = 0;
    if (!ReadLE32(source, keyBlobLen)) {
        FailWith("Error reading container: the file ends before the key blob length");
        return cleanUp();
    }
    if (keyBlobLen > remaining()) {
        FailWith("Error reading container: key blob length " + std::to_string(keyBlobLen) +
                 " exceeds the rest of the file");
        return cleanUp();
    }
    std::string keyBlob(keyBlobLen, '\0');
    if (keyBlobLen) source.ReadBuffer(keyBlob.data(), keyBlobLen);
    if (!CryptImportKey(prov, reinterpret_cast<const BYTE*>(keyBlob.data()), keyBlobLen, exchangeKey, 0,
                        &session)) {
        Fail("Error CryptImportKey: ");
        return cleanUp();
    }
    std::array<uint8_t, kWorkBuffer> buffer{};
    uint32_t saltLen = 0;
    if (!ReadLE32(source, saltLen)) {
        FailWith("Error reading container: the file ends before the salt length");
        return cleanUp();
    }
    if (saltLen > kWorkBuffer) {
        FailWith("Error reading container: salt length " + std::to_string(saltLen) + " exceeds " +
                 std::to_string(kWorkBuffer) + " bytes");
        return cleanUp();
    }
    if (saltLen > remaining()) {
        FailWith("Error reading container: salt length " + std::to_string(saltLen) +
                 " exceeds the rest of the file");
        return cleanUp();
    }
    if (saltLen) source.ReadBuffer(buffer.data(), saltLen);
    // The provider takes 11 salt bytes; a shorter salt is followed by the buffer's zeros.
    if (!CryptSetKeyParam(session, KP_SALT, buffer.data(), 0)) {
        Fail("Error CryptSetKeyParam: ");
        return cleanUp();
    }
    std::array<uint8_t, 4> algid{};
    DWORD algidLen = 4;
    if (!CryptGetKeyParam(session, KP_ALGID, algid.data(), &algidLen, 0)) {
        Fail("Error CryptGetKeyParam: ");
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
    if (!CryptDestroyKey(destroyed)) Fail("Error CryptDestroyKey: ");

    while (source.Position() < size) {
        DWORD len = DWORD(source.Read(buffer.data(), kWorkBuffer));
        if (len == 0) break;
        bool final = source.Position() >= size;
        if (!CryptDecrypt(session, 0, final, 0, buffer.data(), &len)) {
            Fail("Error CryptDecrypt: ");
            return cleanUp();
        }
        result->WriteBuffer(buffer.data(), len);
    }
    return cleanUp();
}

bool DecryptFileWithKey(const std::string& sourceFile, const std::string& targetFile,
                        const std::string& container, std::string& errorText) {
    try {
        rtl::TMemoryStream source;
        source.LoadFromFile(sourceFile);
        source.SetPosition(0);
        TEnDeCrypt crypt;
        std::unique_ptr<rtl::TMemoryStream> plain = crypt.DecryptStream(source, container);
        errorText = crypt.ErrorText();
        if (!errorText.empty()) return false;
        plain->SaveToFile(targetFile);
        return true;
    } catch (const std::exception& e) {
        errorText = e.what();
        return false;
    }
}

}  // namespace svc
