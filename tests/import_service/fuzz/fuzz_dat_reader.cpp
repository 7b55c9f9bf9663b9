// The .dat reader on damaged containers: the input overwrites bytes of a valid container
// and cuts it short, so that lengths, key blob and salt are all reached. The reader must
// fail with an error text or decrypt, never read or write out of bounds.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "import_service/PackageDecrypt.h"

using namespace svc;
using namespace os;

namespace {

constexpr const char* kContainer = "ZUV_FUZZ";

struct Setup {
    std::string folder;
    std::string dat;

    Setup() {
        char pattern[] = "/tmp/fuzz_dat_XXXXXX";
        folder = mkdtemp(pattern);
        TCryptConfig c;
        c.KeyStoreFolder = folder;
        SetCryptConfig(c);
        HCRYPTPROV prov = 0;
        HCRYPTKEY pair = 0;
        CryptAcquireContextA(&prov, kContainer, nullptr, PROV_RSA_FULL,
                             CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET);
        CryptGenKey(prov, AT_KEYEXCHANGE, 512u << 16, &pair);
        DWORD len = 0;
        CryptExportKey(pair, 0, PUBLICKEYBLOB, 0, nullptr, &len);
        std::string blob(len, '\0');
        CryptExportKey(pair, 0, PUBLICKEYBLOB, 0, reinterpret_cast<BYTE*>(blob.data()), &len);
        CryptDestroyKey(pair);
        CryptReleaseContext(prov, 0);

        rtl::TStringStream archive(std::string("PK\x03\x04") + std::string(700, 'z'));
        rtl::TStringStream key(blob);
        TEnDeCrypt crypt;
        auto out = crypt.EncryptStream(archive, key, "ZUV_FUZZ_EXPORT");
        if (!crypt.ErrorText().empty()) std::abort();
        dat.assign(static_cast<const char*>(out->Memory()), size_t(out->Size()));
    }
    ~Setup() { std::filesystem::remove_all(folder); }
};

Setup& Fixture() {
    static Setup setup;
    return setup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string dat = Fixture().dat;
    // Pairs of (position, value) overwrite bytes, mostly near the lengths and blob; an odd
    // last byte picks the length to keep.
    size_t i = 0;
    for (; i + 1 < size; i += 2) {
        size_t at = data[i] < 200 ? data[i] : data[i] * 4;
        if (at < dat.size()) dat[at] = char(data[i + 1]);
    }
    if (i < size) dat.resize(dat.size() * data[i] / 255);

    rtl::TStringStream source(dat);
    TEnDeCrypt crypt;
    auto plain = crypt.DecryptStream(source, kContainer);
    if (crypt.ErrorText().empty()) {
        // Success means the lengths were intact: the plain text is as long as the cipher text.
        auto le32 = [&dat](size_t at) {
            return uint32_t(uint8_t(dat[at])) | uint32_t(uint8_t(dat[at + 1])) << 8 |
                   uint32_t(uint8_t(dat[at + 2])) << 16 | uint32_t(uint8_t(dat[at + 3])) << 24;
        };
        uint32_t n1 = le32(0), n2 = le32(4 + n1);
        if (plain->Size() != int64_t(dat.size()) - 8 - n1 - n2) std::abort();
    }
    return 0;
}
