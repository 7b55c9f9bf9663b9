#include "common/EnDeCrypt.h"

#include <openssl/rand.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "common/md5.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

using namespace os;

namespace {

// "(!#;]?ДЛ*)Ц^mvqwed" in code page 1251.
constexpr char kXorKey[] = "(!#;]?\xC4\xCB*)\xD6^mvqwed";
constexpr size_t kXorKeyLen = sizeof kXorKey - 1;

constexpr DWORD kWorkBuffer = 512;
constexpr DWORD kPlainPiece = 496;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void WriteLE32(rtl::TStream& out, uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    out.WriteBuffer(b, 4);
}

// Draws uniformly from [0, n) with the system's random source.
unsigned RandomBelow(unsigned n) {
    const uint32_t limit = UINT32_MAX - UINT32_MAX % n;
    for (;;) {
        uint32_t v;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&v), sizeof v) != 1)
            throw rtl::Exception("No random numbers available");
        if (v < limit) return v % n;
    }
}

}  // namespace

std::string XorString(const std::string& s) {
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) out[i] = char(out[i] ^ kXorKey[i % kXorKeyLen]);
    return out;
}

std::string BytesToHex(const std::string& s) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size() * 2);
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string HexToBytes(const std::string& s) {
    std::string out;
    out.reserve(s.size() / 2);
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0)
            throw rtl::EConvertError("'$" + s.substr(i, 2) + "' is not a valid integer value");
        out += char(hi << 4 | lo);
    }
    return out;
}

bool DecodeCryptString(const std::string& s, DWORD flags, std::string& out) {
    out.clear();
    if (s.empty()) return true;
    DWORD size = 0;
    if (!CryptStringToBinaryA(s.data(), DWORD(s.size()), flags, nullptr, &size, nullptr, nullptr))
        return false;
    out.resize(size);
    if (!CryptStringToBinaryA(s.data(), DWORD(s.size()), flags, reinterpret_cast<BYTE*>(out.data()), &size,
                              nullptr, nullptr)) {
        out.clear();
        return false;
    }
    out.resize(size);
    return true;
}

void GenerateRandomString(int length, bool upperCase, bool digits, bool special, std::string& out) {
    static const std::string lower = "abcdefghijklmnopqrstuvwxyz";
    static const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static const std::string numbers = "1234567890";
    static const std::string specials = "!@#$%^&*()_+=-|\\/?.,<>{}[]:;";
    out.clear();
    while (int(out.size()) < length) {
        const std::string* alphabet = nullptr;
        switch (RandomBelow(4)) {
            case 0:
                alphabet = &lower;
                break;
            case 1:
                alphabet = upperCase ? &upper : nullptr;
                break;
            case 2:
                alphabet = digits ? &numbers : nullptr;
                break;
            default:
                alphabet = special ? &specials : nullptr;
                break;
        }
        if (alphabet) out += (*alphabet)[RandomBelow(unsigned(alphabet->size()))];
    }
}

std::string TEnDeCrypt::GetErrorName(DWORD code) {
    const std::string name = ErrorCodeName(code);
    return name.empty() ? "unknown error" : name;
}

std::string TEnDeCrypt::GetKeyedDigest(const std::string& data, const std::string& key) {
    MD5Context context;
    MD5Init(context);
    MD5Update(context, data.data(), data.size());
    MD5Update(context, key.data(), key.size());
    MD5Digest digest;
    MD5Final(digest, context);
    return MD5Print(digest);
}

void TEnDeCrypt::Fail(const std::string& prefix) {
    errorText_ = prefix + GetErrorName(GetLastError());
}

bool TEnDeCrypt::DecryptString(const std::string& data, bool base64, bool hex, std::string& plain) {
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        Fail("Error of containger opening: ");
        return false;
    }
    // Releases what was reached; each failure there replaces the text.
    auto cleanUp = [&] {
        if (key && !CryptDestroyKey(key)) Fail("Error CryptDestroyKey: ");
        if (hash && !CryptDestroyHash(hash)) Fail("Error CryptDestroyHash: ");
        if (!CryptReleaseContext(prov, 0)) Fail("Error CryptReleaseContext: ");
        return errorText_.empty();
    };
    if (!CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash)) {
        Fail("Error CryptCreateHash: ");
        return cleanUp();
    }
    // A key from an unfinished hash would decrypt to rubbish.
    if (!CryptHashData(hash, reinterpret_cast<const BYTE*>(passPhrase_.data()), DWORD(passPhrase_.size()),
                       0)) {
        Fail("Error CryptHashData: ");
        return cleanUp();
    }
    if (!CryptDeriveKey(prov, CALG_RC2, hash, 0, &key)) {
        Fail("Error CryptDeriveKey: ");
        return cleanUp();
    }
    std::string input = data;
    if (hex) {
        // A conversion error leaves the routine, but not with the handles still open.
        try {
            input = HexToBytes(input);
        } catch (...) {
            cleanUp();
            throw;
        }
    }
    if (base64) {
        std::string decoded;
        if (!DecodeCryptString(input, CRYPT_STRING_BASE64, decoded)) {
            Fail("Error CryptStringToBinary: ");
            return cleanUp();
        }
        input = std::move(decoded);
    }
    DWORD len = DWORD(input.size());
    if (!CryptDecrypt(key, 0, true, 0, reinterpret_cast<BYTE*>(input.data()), &len)) {
        Fail("Error CryptDecrypt: ");
        return cleanUp();
    }
    plain = input.substr(0, len);
    return cleanUp();
}

bool TEnDeCrypt::ContainerExists(const std::string& container) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET))
        return false;
    if (!CryptReleaseContext(prov, 0)) Fail("Error CryptReleaseContext: ");
    return true;
}

bool TEnDeCrypt::CreateContainer(const std::string& container) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container.c_str(), nullptr, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET)) {
        Fail("Error CryptAcquireContext: ");
        return false;
    }
    if (!CryptReleaseContext(prov, 0)) {
        Fail("Error CryptReleaseContext: ");
        return false;
    }
    return true;
}

std::unique_ptr<rtl::TMemoryStream> TEnDeCrypt::EncryptStream(rtl::TStream& source,
                                                              rtl::TStream& publicKeyBlob,
                                                              const std::string& container) {
    auto result = std::make_unique<rtl::TMemoryStream>();
    if (!ContainerExists(container) && errorText_.empty()) CreateContainer(container);
    if (!errorText_.empty()) return result;

    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET)) {
        Fail("Error CryptAcquireContext: ");
        return result;
    }
    HCRYPTKEY publicKey = 0, session = 0;
    auto cleanUp = [&] {
        if (publicKey && !CryptDestroyKey(publicKey)) Fail("Error CryptDestroyKey: ");
        if (session && !CryptDestroyKey(session)) Fail("Error CryptDestroyKey: ");
        if (!CryptReleaseContext(prov, 0)) Fail("Error CryptReleaseContext: ");
    };

    std::string blob;
    try {
        blob.resize(size_t(publicKeyBlob.Size()));
        publicKeyBlob.SetPosition(0);
        if (!blob.empty()) publicKeyBlob.ReadBuffer(blob.data(), int64_t(blob.size()));
    } catch (...) {
        cleanUp();
        throw;
    }
    if (!CryptImportKey(prov, reinterpret_cast<const BYTE*>(blob.data()), DWORD(blob.size()), 0, 0,
                        &publicKey)) {
        Fail("Error CryptImportKey: ");
        cleanUp();
        return result;
    }
    if (!CryptGenKey(prov, CALG_RC4, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT, &session)) {
        Fail("Error CryptGenKey: ");
        cleanUp();
        return result;
    }

    // The wrapped key is as long as the recipient's modulus: ask for the size first, so that
    // keys of any length fit (a fixed 128-byte buffer took no key above 928 bits).
    DWORD keyBlobLen = 0;
    std::vector<BYTE> keyBlob;
    bool exported = CryptExportKey(session, publicKey, SIMPLEBLOB, 0, nullptr, &keyBlobLen);
    if (exported) {
        keyBlob.resize(keyBlobLen);
        exported = CryptExportKey(session, publicKey, SIMPLEBLOB, 0, keyBlob.data(), &keyBlobLen);
    }
    if (!exported) {
        Fail("Error CryptExportKey: ");
        cleanUp();
        return result;
    }
    WriteLE32(*result, keyBlobLen);
    result->WriteBuffer(keyBlob.data(), keyBlobLen);
    HCRYPTKEY destroyed = std::exchange(publicKey, 0);
    if (!CryptDestroyKey(destroyed)) Fail("Error CryptDestroyKey: ");

    std::array<BYTE, kWorkBuffer> buffer{};
    DWORD saltLen = kWorkBuffer;
    if (!CryptGetKeyParam(session, KP_SALT, buffer.data(), &saltLen, 0)) {
        Fail("Error CryptGetKeyParam: ");
        cleanUp();
        return result;
    }
    WriteLE32(*result, saltLen);
    result->WriteBuffer(buffer.data(), saltLen);

    int64_t size = source.Size();
    while (source.Position() < size) {
        DWORD len = DWORD(source.Read(buffer.data(), kPlainPiece));
        if (len == 0) break;
        bool final = source.Position() >= size;
        if (!CryptEncrypt(session, 0, final, 0, buffer.data(), &len, kWorkBuffer)) {
            Fail("Error CryptEncrypt: ");
            cleanUp();
            return result;
        }
        result->WriteBuffer(buffer.data(), len);
    }
    cleanUp();
    return result;
}

bool DecryptStringWithPassPhrase(const std::string& data, const std::string& passPhrase, bool base64,
                                 bool hex, std::string& errorText, std::string& plain) {
    TEnDeCrypt crypt;
    crypt.SetPassPhrase(passPhrase);
    crypt.DecryptString(data, base64, hex, plain);
    errorText = crypt.ErrorText();
    return errorText.empty();
}

std::string EncryptStringWithPassPhrase(const std::string& plain, const std::string& passPhrase,
                                        std::string& errorText) {
    errorText.clear();
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;
    std::string cipher = plain;
    bool ok = CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    if (!ok) errorText = "Error CryptAcquireContext: ";
    if (ok && !(ok = CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash))) errorText = "Error CryptCreateHash: ";
    if (ok && !(ok = CryptHashData(hash, reinterpret_cast<const BYTE*>(passPhrase.data()),
                                   DWORD(passPhrase.size()), 0)))
        errorText = "Error CryptHashData: ";
    if (ok && !(ok = CryptDeriveKey(prov, CALG_RC2, hash, 0, &key))) errorText = "Error CryptDeriveKey: ";
    if (ok) {
        DWORD len = DWORD(plain.size());
        cipher.resize(plain.size() + 8);
        ok =
            CryptEncrypt(key, 0, true, 0, reinterpret_cast<BYTE*>(cipher.data()), &len, DWORD(cipher.size()));
        if (ok) cipher.resize(len);
        if (!ok) errorText = "Error CryptEncrypt: ";
    }
    if (!ok) errorText += TEnDeCrypt::GetErrorName(GetLastError());
    if (key) CryptDestroyKey(key);
    if (hash) CryptDestroyHash(hash);
    if (prov) CryptReleaseContext(prov, 0);
    return ok ? BytesToHex(cipher) : std::string();
}

bool EncryptFileWithKey(const std::string& sourcePath, const std::string& targetPath,
                        const std::string& publicKeyHex, const std::string& container,
                        std::string& errorText) {
    rtl::TMemoryStream source;
    source.LoadFromFile(sourcePath);
    source.SetPosition(0);
    std::string key = HexToBytes(publicKeyHex);
    rtl::TMemoryStream keyBlob;
    if (!key.empty()) keyBlob.WriteBuffer(key.data(), int64_t(key.size()));
    TEnDeCrypt crypt;
    std::unique_ptr<rtl::TMemoryStream> result = crypt.EncryptStream(source, keyBlob, container);
    errorText = crypt.ErrorText();
    if (!errorText.empty()) return false;
    result->SaveToFile(targetPath);
    return true;
}

}  // namespace svc
