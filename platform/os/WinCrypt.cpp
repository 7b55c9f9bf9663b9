#include "platform/os/WinCrypt.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace os {

namespace {

using Bytes = std::vector<uint8_t>;

thread_local DWORD lastError = ERROR_SUCCESS;

bool Fail(DWORD code) {
    lastError = code;
    return false;
}

bool Ok() {
    lastError = ERROR_SUCCESS;
    return true;
}

constexpr uint32_t kMagicRsa1 = 0x31415352;  // "RSA1": public key
constexpr uint32_t kMagicRsa2 = 0x32415352;  // "RSA2": private key
constexpr size_t kSaltLen = 11;              // the providers always take 11 salt bytes
constexpr DWORD kBlockLen = 8;               // RC2 block

uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// ---- OpenSSL: a private library context with the legacy provider for RC2 and RC4 ----

struct Library {
    OSSL_LIB_CTX* ctx = nullptr;
    OSSL_PROVIDER* legacy = nullptr;
    OSSL_PROVIDER* base = nullptr;
    EVP_CIPHER* rc4 = nullptr;
    EVP_CIPHER* rc2cbc = nullptr;
    EVP_CIPHER* rc2ecb = nullptr;
    EVP_MD* sha1 = nullptr;
    EVP_MD* md5 = nullptr;
    bool ok = false;

    Library() {
        ctx = OSSL_LIB_CTX_new();
        if (!ctx) return;
        legacy = OSSL_PROVIDER_load(ctx, "legacy");
        base = OSSL_PROVIDER_load(ctx, "default");
        rc4 = EVP_CIPHER_fetch(ctx, "RC4", nullptr);
        rc2cbc = EVP_CIPHER_fetch(ctx, "RC2-CBC", nullptr);
        rc2ecb = EVP_CIPHER_fetch(ctx, "RC2-ECB", nullptr);
        sha1 = EVP_MD_fetch(ctx, "SHA1", nullptr);
        md5 = EVP_MD_fetch(ctx, "MD5", nullptr);
        ok = legacy && base && rc4 && rc2cbc && rc2ecb && sha1 && md5;
    }
    ~Library() {
        EVP_CIPHER_free(rc4);
        EVP_CIPHER_free(rc2cbc);
        EVP_CIPHER_free(rc2ecb);
        EVP_MD_free(sha1);
        EVP_MD_free(md5);
        if (legacy) OSSL_PROVIDER_unload(legacy);
        if (base) OSSL_PROVIDER_unload(base);
        OSSL_LIB_CTX_free(ctx);
    }
};

Library& Lib() {
    static Library lib;
    return lib;
}

// Frees an OpenSSL object with its own free routine.
template <auto Free>
struct OsslFree {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslFree<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslFree<EVP_PKEY_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OsslFree<EVP_CIPHER_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslFree<EVP_MD_CTX_free>>;
using BnPtr = std::unique_ptr<BIGNUM, OsslFree<BN_clear_free>>;

// ---- configuration ----

std::mutex configLock;
std::optional<TCryptConfig> config;

}  // namespace

TCryptConfig CryptConfigFromEnvironment() {
    TCryptConfig c;
    if (const char* v = std::getenv("DX_KEYSTORE"); v && *v) {
        c.KeyStoreFolder = v;
    } else if (const char* s = std::getenv("XDG_STATE_HOME"); s && *s) {
        c.KeyStoreFolder = std::string(s) + "/zuv-keystore";
    } else if (const char* h = std::getenv("HOME"); h && *h) {
        c.KeyStoreFolder = std::string(h) + "/.local/state/zuv-keystore";
    } else {
        c.KeyStoreFolder = "/var/lib/zuv-keystore";
    }
    if (const char* v = std::getenv("DX_CRYPT_PROVIDER"); v && *v) {
        std::string p(v);
        std::transform(p.begin(), p.end(), p.begin(),
                       [](unsigned char ch) { return char(std::tolower(ch)); });
        if (p == "base") c.DefaultProvider = TCryptPersonality::Base;
        if (p == "enhanced") c.DefaultProvider = TCryptPersonality::Enhanced;
    }
    if (const char* v = std::getenv("DX_CRYPT_RC2_EFFECTIVE"); v && *v) {
        long bits = std::strtol(v, nullptr, 10);
        if (bits == 0 || (bits >= 40 && bits <= 128)) c.DerivedRc2EffectiveBits = DWORD(bits);
    }
    if (const char* v = std::getenv("DX_CRYPT_RC4_SALT"); v && *v)
        c.StrongLongKeySalt = std::string(v) != "0";
    return c;
}

namespace {

// ---- objects behind the handles ----

struct Provider {
    TCryptPersonality personality = TCryptPersonality::Strong;
    bool verify = false;
    bool machine = false;
    std::string container;
    std::string path;
};

struct Key {
    std::mutex lock;
    ALG_ID alg = 0;
    TCryptPersonality personality = TCryptPersonality::Strong;
    bool exportable = false;
    // symmetric keys
    Bytes key;
    Bytes salt;
    DWORD effectiveBits = 0;
    DWORD mode = CRYPT_MODE_CBC;
    std::array<uint8_t, kBlockLen> iv{};
    CipherCtxPtr cipher;
    bool cipherReady = false;
    bool cipherEncrypting = false;
    // RSA keys
    PkeyPtr pkey;
    bool hasPrivate = false;

    bool IsSymmetric() const { return alg == CALG_RC2 || alg == CALG_RC4; }
    bool IsRsa() const { return alg == CALG_RSA_KEYX || alg == CALG_RSA_SIGN; }
};

struct Hash {
    std::mutex lock;
    ALG_ID alg = 0;
    MdCtxPtr ctx;
    bool finished = false;
    Bytes value;
};

template <typename T>
class HandleTable {
public:
    uintptr_t Add(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> guard(lock_);
        uintptr_t h = next_;
        next_ += 4;
        objects_[h] = std::move(object);
        return h;
    }
    std::shared_ptr<T> Get(uintptr_t h) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = objects_.find(h);
        return it == objects_.end() ? nullptr : it->second;
    }
    bool Remove(uintptr_t h) {
        std::lock_guard<std::mutex> guard(lock_);
        return objects_.erase(h) != 0;
    }

private:
    std::mutex lock_;
    std::map<uintptr_t, std::shared_ptr<T>> objects_;
    uintptr_t next_ = 0x10000;
};

HandleTable<Provider>& Providers() {
    static HandleTable<Provider> t;
    return t;
}
HandleTable<Key>& Keys() {
    static HandleTable<Key> t;
    return t;
}
HandleTable<Hash>& Hashes() {
    static HandleTable<Hash> t;
    return t;
}

// ---- RSA keys and their blobs ----

Bytes BnToLE(const BIGNUM* bn, size_t size) {
    Bytes out(size, 0);
    if (bn) BN_bn2lebinpad(bn, out.data(), int(size));
    return out;
}

BIGNUM* LEToBn(const uint8_t* p, size_t size) {
    return BN_lebin2bn(p, int(size), nullptr);
}

BnPtr GetBn(EVP_PKEY* pkey, const char* name) {
    BIGNUM* bn = nullptr;
    if (!EVP_PKEY_get_bn_param(pkey, name, &bn)) return nullptr;
    return BnPtr(bn);
}

// Builds an RSA key from little-endian components; the private ones may be null.
PkeyPtr MakeRsaKey(const BIGNUM* n, const BIGNUM* e, const BIGNUM* d, const BIGNUM* p, const BIGNUM* q,
                   const BIGNUM* dp, const BIGNUM* dq, const BIGNUM* qinv) {
    std::unique_ptr<OSSL_PARAM_BLD, OsslFree<OSSL_PARAM_BLD_free>> bld(OSSL_PARAM_BLD_new());
    if (!bld) return nullptr;
    bool ok = OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n) &&
              OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e);
    if (d) {
        ok = ok && OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_D, d) &&
             OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, p) &&
             OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, q) &&
             OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, dp) &&
             OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, dq) &&
             OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv);
    }
    if (!ok) return nullptr;
    std::unique_ptr<OSSL_PARAM, OsslFree<OSSL_PARAM_free>> params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_name(Lib().ctx, "RSA", nullptr));
    if (!params || !pctx || EVP_PKEY_fromdata_init(pctx.get()) <= 0) return nullptr;
    EVP_PKEY* pkey = nullptr;
    if (EVP_PKEY_fromdata(pctx.get(), &pkey, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) <= 0)
        return nullptr;
    return PkeyPtr(pkey);
}

// Parses a PUBLICKEYBLOB or PRIVATEKEYBLOB into a key; the error code on failure.
DWORD ParseRsaBlob(const uint8_t* data, size_t len, std::shared_ptr<Key>& out) {
    if (len < 20) return NTE_BAD_DATA;
    uint8_t type = data[0];
    ALG_ID alg = GetLE32(data + 4);
    if (alg != CALG_RSA_KEYX && alg != CALG_RSA_SIGN) return NTE_BAD_ALGID;
    uint32_t magic = GetLE32(data + 8);
    uint32_t bits = GetLE32(data + 12);
    uint32_t exponent = GetLE32(data + 16);
    bool isPrivate = type == PRIVATEKEYBLOB;
    if (magic != (isPrivate ? kMagicRsa2 : kMagicRsa1)) return NTE_BAD_DATA;
    if (bits < 64 || bits > 16384 || bits % 16 != 0 || exponent == 0) return NTE_BAD_DATA;
    size_t m = bits / 8, h = bits / 16;
    size_t need = 20 + (isPrivate ? 9 * h : m);
    if (len < need) return NTE_BAD_DATA;
    const uint8_t* p = data + 20;
    BnPtr n(LEToBn(p, m)), e(BN_new());
    if (!n || !e || !BN_set_word(e.get(), exponent)) return NTE_NO_MEMORY;
    PkeyPtr pkey;
    if (isPrivate) {
        BnPtr bp(LEToBn(p + m, h)), bq(LEToBn(p + m + h, h)), dp(LEToBn(p + m + 2 * h, h)),
            dq(LEToBn(p + m + 3 * h, h)), qinv(LEToBn(p + m + 4 * h, h)), d(LEToBn(p + m + 5 * h, m));
        if (!bp || !bq || !dp || !dq || !qinv || !d) return NTE_NO_MEMORY;
        pkey = MakeRsaKey(n.get(), e.get(), d.get(), bp.get(), bq.get(), dp.get(), dq.get(), qinv.get());
    } else {
        pkey = MakeRsaKey(n.get(), e.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (!pkey) return NTE_BAD_DATA;
    auto key = std::make_shared<Key>();
    key->alg = alg;
    key->pkey = std::move(pkey);
    key->hasPrivate = isPrivate;
    out = std::move(key);
    return ERROR_SUCCESS;
}

size_t RsaBlobSize(const Key& key, bool privateBlob) {
    size_t bits = size_t(EVP_PKEY_get_bits(key.pkey.get()));
    return 20 + (privateBlob ? 9 * (bits / 16) : bits / 8);
}

// Writes the blob; false when a component cannot be read.
bool WriteRsaBlob(const Key& key, bool privateBlob, uint8_t* out) {
    EVP_PKEY* pk = key.pkey.get();
    size_t bits = size_t(EVP_PKEY_get_bits(pk));
    size_t m = bits / 8, h = bits / 16;
    BnPtr n = GetBn(pk, OSSL_PKEY_PARAM_RSA_N), e = GetBn(pk, OSSL_PKEY_PARAM_RSA_E);
    if (!n || !e || BN_num_bytes(e.get()) > 4) return false;
    out[0] = uint8_t(privateBlob ? PRIVATEKEYBLOB : PUBLICKEYBLOB);
    out[1] = CUR_BLOB_VERSION;
    out[2] = out[3] = 0;
    PutLE32(out + 4, key.alg);
    PutLE32(out + 8, privateBlob ? kMagicRsa2 : kMagicRsa1);
    PutLE32(out + 12, uint32_t(bits));
    PutLE32(out + 16, uint32_t(BN_get_word(e.get())));
    uint8_t* p = out + 20;
    auto put = [&p](const BIGNUM* bn, size_t size) {
        Bytes b = BnToLE(bn, size);
        std::memcpy(p, b.data(), size);
        p += size;
    };
    put(n.get(), m);
    if (!privateBlob) return true;
    const char* names[] = {OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2,
                           OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                           OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    for (const char* name : names) {
        BnPtr bn = GetBn(pk, name);
        if (!bn) return false;
        put(bn.get(), h);
    }
    BnPtr d = GetBn(pk, OSSL_PKEY_PARAM_RSA_D);
    if (!d) return false;
    put(d.get(), m);
    return true;
}

// ---- key containers ----

std::string ContainerFileName(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '_' || c == '-') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out + ".key";
}

bool MakeFolders(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

bool FileExistsAt(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads the file, but never more than limit + 1 bytes: a longer result means the file is
// larger than the caller accepts, and it was not read whole to find that out.
std::optional<Bytes> ReadFileUpTo(const std::string& path, size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Bytes data;
    uint8_t buf[4096];
    while (data.size() <= limit) {
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit + 1 - data.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.insert(data.end(), buf, buf + n);
    }
    ::close(fd);
    return data;
}

// Replaces the file through a temporary file in the same folder, so that a reader never
// sees half a key.
bool WriteFileAtomic(const std::string& path, const Bytes& data) {
    std::string tmp = path + ".tmp" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += size_t(n);
    }
    bool ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

bool StoreExchangeKey(const Provider& prov, const Key& key) {
    if (prov.verify) return true;
    Bytes blob(RsaBlobSize(key, true));
    if (!WriteRsaBlob(key, true, blob.data())) return false;
    return WriteFileAtomic(prov.path, blob);
}

// ---- symmetric keys ----

DWORD DefaultKeyBits(TCryptPersonality p) {
    return p == TCryptPersonality::Base ? 40 : 128;
}
DWORD MaxKeyBits(TCryptPersonality p) {
    return p == TCryptPersonality::Base ? 56 : 128;
}

// Key length from the upper 16 bits of the flags, or the provider's default.
bool SymmetricKeyBits(TCryptPersonality p, DWORD flags, DWORD& bits) {
    bits = flags >> 16;
    if (bits == 0) bits = DefaultKeyBits(p);
    return bits >= 40 && bits <= MaxKeyBits(p) && bits % 8 == 0;
}

DWORD DefaultEffectiveBits(TCryptPersonality p, DWORD keyBits) {
    return p == TCryptPersonality::Base ? 40 : keyBits;
}

void ResetCipher(Key& key) {
    key.cipherReady = false;
}

bool StartCipher(Key& key, bool encrypt) {
    Library& lib = Lib();
    if (!key.cipher) key.cipher.reset(EVP_CIPHER_CTX_new());
    if (!key.cipher) return false;
    EVP_CIPHER_CTX* c = key.cipher.get();
    Bytes material = key.key;
    material.insert(material.end(), key.salt.begin(), key.salt.end());
    bool ok;
    if (key.alg == CALG_RC4) {
        ok = EVP_CipherInit_ex2(c, lib.rc4, nullptr, nullptr, encrypt ? 1 : 0, nullptr) > 0 &&
             EVP_CIPHER_CTX_set_key_length(c, int(material.size())) > 0 &&
             EVP_CipherInit_ex2(c, nullptr, material.data(), nullptr, encrypt ? 1 : 0, nullptr) > 0;
    } else {
        size_t keyLen = material.size();
        size_t keyBits = key.effectiveBits;
        OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_KEYLEN, &keyLen),
                               OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_RC2_KEYBITS, &keyBits),
                               OSSL_PARAM_construct_end()};
        const EVP_CIPHER* cipher = key.mode == CRYPT_MODE_ECB ? lib.rc2ecb : lib.rc2cbc;
        ok = EVP_CipherInit_ex2(c, cipher, nullptr, nullptr, encrypt ? 1 : 0, params) > 0 &&
             EVP_CipherInit_ex2(c, nullptr, material.data(), key.iv.data(), encrypt ? 1 : 0, params) > 0 &&
             EVP_CIPHER_CTX_set_padding(c, 0) > 0;
    }
    key.cipherReady = ok;
    key.cipherEncrypting = encrypt;
    return ok;
}

bool RunCipher(Key& key, uint8_t* data, size_t len) {
    if (len == 0) return true;
    int outLen = 0;
    return EVP_CipherUpdate(key.cipher.get(), data, &outLen, data, int(len)) > 0 && size_t(outLen) == len;
}

std::shared_ptr<Key> NewSymmetricKey(ALG_ID alg, TCryptPersonality p, DWORD bits, bool exportable) {
    auto key = std::make_shared<Key>();
    key->alg = alg;
    key->personality = p;
    key->exportable = exportable;
    key->key.resize(bits / 8);
    key->effectiveBits = DefaultEffectiveBits(p, bits);
    return key;
}

bool ValidFlags(DWORD flags, DWORD allowed) {
    return (flags & ~allowed) == 0;
}

// Answers a "buffer or size query" call the way the platform does.
bool ReturnBytes(const uint8_t* src, size_t size, BYTE* pbData, DWORD* pdwDataLen) {
    if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    if (!pbData) {
        *pdwDataLen = DWORD(size);
        return Ok();
    }
    if (*pdwDataLen < size) {
        *pdwDataLen = DWORD(size);
        return Fail(ERROR_MORE_DATA);
    }
    if (size) std::memcpy(pbData, src, size);
    *pdwDataLen = DWORD(size);
    return Ok();
}

bool ReturnDword(DWORD value, BYTE* pbData, DWORD* pdwDataLen) {
    uint8_t b[4];
    PutLE32(b, value);
    return ReturnBytes(b, 4, pbData, pdwDataLen);
}

std::shared_ptr<Provider> GetProvider(HCRYPTPROV h) {
    return Providers().Get(h);
}

}  // namespace

const char* ErrorCodeName(DWORD code) {
    switch (code) {
#define OS_NAME_ERROR_CODE(name, value) \
    case value:                         \
        return #name;
        OS_CRYPT_ERROR_CODES(OS_NAME_ERROR_CODE)
#undef OS_NAME_ERROR_CODE
        default:
            return "";
    }
}

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD code) {
    lastError = code;
}

TCryptConfig CryptConfig() {
    std::lock_guard<std::mutex> guard(configLock);
    if (!config) config = CryptConfigFromEnvironment();
    return *config;
}

void SetCryptConfig(const TCryptConfig& c) {
    std::lock_guard<std::mutex> guard(configLock);
    config = c;
}

std::string KeyContainerPath(const std::string& container, bool machine) {
    return CryptConfig().KeyStoreFolder + (machine ? "/machine/" : "/user/") + ContainerFileName(container);
}

// ---- contexts ----

bool CryptAcquireContextA(HCRYPTPROV* phProv, const char* szContainer, const char* szProvider,
                          DWORD dwProvType, DWORD dwFlags) {
    if (!phProv) return Fail(ERROR_INVALID_PARAMETER);
    *phProv = 0;
    if (!ValidFlags(dwFlags, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                 CRYPT_MACHINE_KEYSET | CRYPT_SILENT))
        return Fail(NTE_BAD_FLAGS);
    TCryptConfig cfg = CryptConfig();
    auto prov = std::make_shared<Provider>();
    prov->personality = cfg.DefaultProvider;
    if (szProvider && *szProvider) {
        std::string name(szProvider);
        if (name == MS_DEF_PROV_A) {
            prov->personality = TCryptPersonality::Base;
        } else if (name == MS_STRONG_PROV_A) {
            prov->personality = TCryptPersonality::Strong;
        } else if (name == MS_ENHANCED_PROV_A) {
            prov->personality = TCryptPersonality::Enhanced;
        } else {
            return Fail(NTE_KEYSET_NOT_DEF);
        }
        if (dwProvType != PROV_RSA_FULL) return Fail(NTE_PROV_TYPE_NO_MATCH);
    } else if (dwProvType != PROV_RSA_FULL) {
        return Fail(NTE_PROV_TYPE_NOT_DEF);
    }
    if (!Lib().ok) return Fail(NTE_PROVIDER_DLL_FAIL);

    bool newSet = dwFlags & CRYPT_NEWKEYSET, deleteSet = dwFlags & CRYPT_DELETEKEYSET;
    if ((dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) {
        if (newSet || deleteSet || (szContainer && *szContainer)) return Fail(NTE_BAD_FLAGS);
        prov->verify = true;
        *phProv = Providers().Add(std::move(prov));
        return Ok();
    }
    if (newSet && deleteSet) return Fail(NTE_BAD_FLAGS);

    prov->machine = dwFlags & CRYPT_MACHINE_KEYSET;
    if (szContainer && *szContainer) {
        prov->container = szContainer;
    } else {
        // The platform's default container is named after the user.
        const char* user = std::getenv("USER");
        prov->container = user && *user ? user : "default";
    }
    prov->path = KeyContainerPath(prov->container, prov->machine);

    if (deleteSet) {
        if (::unlink(prov->path.c_str()) != 0) return Fail(errno == ENOENT ? NTE_BAD_KEYSET : NTE_FAIL);
        return Ok();
    }
    if (newSet) {
        if (!MakeFolders(FolderOf(prov->path))) return Fail(NTE_FAIL);
        int fd = ::open(prov->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) return Fail(errno == EEXIST ? NTE_EXISTS : NTE_FAIL);
        ::close(fd);
    } else if (!FileExistsAt(prov->path)) {
        return Fail(NTE_BAD_KEYSET);
    }
    *phProv = Providers().Add(std::move(prov));
    return Ok();
}

bool CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    if (!Providers().Remove(hProv)) return Fail(NTE_BAD_UID);
    return Ok();
}

bool CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    if (!GetProvider(hProv)) return Fail(NTE_BAD_UID);
    if (!pbBuffer && dwLen) return Fail(ERROR_INVALID_PARAMETER);
    if (dwLen && RAND_bytes_ex(Lib().ctx, pbBuffer, dwLen, 0) <= 0) return Fail(NTE_FAIL);
    return Ok();
}

// ---- hashes ----

bool CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash) {
    if (!phHash) return Fail(ERROR_INVALID_PARAMETER);
    *phHash = 0;
    if (!GetProvider(hProv)) return Fail(NTE_BAD_UID);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    if (hKey != 0) return Fail(NTE_BAD_KEY);
    const EVP_MD* md = Algid == CALG_SHA1 ? Lib().sha1 : Algid == CALG_MD5 ? Lib().md5 : nullptr;
    if (!md) return Fail(NTE_BAD_ALGID);
    auto hash = std::make_shared<Hash>();
    hash->alg = Algid;
    hash->ctx.reset(EVP_MD_CTX_new());
    if (!hash->ctx || EVP_DigestInit_ex2(hash->ctx.get(), md, nullptr) <= 0) return Fail(NTE_NO_MEMORY);
    *phHash = Hashes().Add(std::move(hash));
    return Ok();
}

namespace {
bool FinishHash(Hash& hash) {
    if (hash.finished) return true;
    uint8_t md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (EVP_DigestFinal_ex(hash.ctx.get(), md, &len) <= 0) return false;
    hash.value.assign(md, md + len);
    hash.finished = true;
    return true;
}
}  // namespace

bool CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    auto hash = Hashes().Get(hHash);
    if (!hash) return Fail(NTE_BAD_HASH);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    if (!pbData && dwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(hash->lock);
    if (hash->finished) return Fail(NTE_BAD_HASH_STATE);
    if (dwDataLen && EVP_DigestUpdate(hash->ctx.get(), pbData, dwDataLen) <= 0) return Fail(NTE_FAIL);
    return Ok();
}

bool CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    auto hash = Hashes().Get(hHash);
    if (!hash) return Fail(NTE_BAD_HASH);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard<std::mutex> guard(hash->lock);
    DWORD size = hash->alg == CALG_SHA1 ? 20 : 16;
    switch (dwParam) {
        case HP_ALGID:
            return ReturnDword(hash->alg, pbData, pdwDataLen);
        case HP_HASHSIZE:
            return ReturnDword(size, pbData, pdwDataLen);
        case HP_HASHVAL:
            if (!pbData || !pdwDataLen || *pdwDataLen < size)
                return ReturnBytes(nullptr, size, pbData, pdwDataLen);
            if (!FinishHash(*hash)) return Fail(NTE_FAIL);
            return ReturnBytes(hash->value.data(), size, pbData, pdwDataLen);
        default:
            return Fail(NTE_BAD_TYPE);
    }
}

bool CryptDestroyHash(HCRYPTHASH hHash) {
    if (!Hashes().Remove(hHash)) return Fail(NTE_BAD_HASH);
    return Ok();
}

// ---- keys ----

bool CryptDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags, HCRYPTKEY* phKey) {
    if (!phKey) return Fail(ERROR_INVALID_PARAMETER);
    *phKey = 0;
    auto prov = GetProvider(hProv);
    if (!prov) return Fail(NTE_BAD_UID);
    auto hash = Hashes().Get(hBaseData);
    if (!hash) return Fail(NTE_BAD_HASH);
    if (Algid != CALG_RC2 && Algid != CALG_RC4) return Fail(NTE_BAD_ALGID);
    if (!ValidFlags(dwFlags & 0xFFFF, CRYPT_EXPORTABLE | CRYPT_CREATE_SALT | CRYPT_NO_SALT))
        return Fail(NTE_BAD_FLAGS);
    DWORD bits;
    if (!SymmetricKeyBits(prov->personality, dwFlags, bits)) return Fail(NTE_BAD_FLAGS);

    std::lock_guard<std::mutex> guard(hash->lock);
    if (!FinishHash(*hash)) return Fail(NTE_FAIL);
    auto key = NewSymmetricKey(Algid, prov->personality, bits, dwFlags & CRYPT_EXPORTABLE);
    size_t n = bits / 8;
    std::copy_n(hash->value.begin(), n, key->key.begin());
    if (dwFlags & CRYPT_NO_SALT) {
        // no salt
    } else if (dwFlags & CRYPT_CREATE_SALT) {
        // The salt continues the hash after the key bytes; Enhanced keeps no salt.
        if (prov->personality != TCryptPersonality::Enhanced) {
            key->salt.assign(kSaltLen, 0);
            for (size_t i = 0; i < kSaltLen && n + i < hash->value.size(); ++i)
                key->salt[i] = hash->value[n + i];
        }
    } else if (bits == 40) {
        key->salt.assign(kSaltLen, 0);
    }
    DWORD w2k = CryptConfig().DerivedRc2EffectiveBits;
    if (Algid == CALG_RC2 && prov->personality != TCryptPersonality::Base && w2k != 0)
        key->effectiveBits = w2k;
    *phKey = Keys().Add(std::move(key));
    return Ok();
}

bool CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    if (!phKey) return Fail(ERROR_INVALID_PARAMETER);
    *phKey = 0;
    auto prov = GetProvider(hProv);
    if (!prov) return Fail(NTE_BAD_UID);
    if (!ValidFlags(dwFlags & 0xFFFF,
                    CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED | CRYPT_CREATE_SALT | CRYPT_NO_SALT))
        return Fail(NTE_BAD_FLAGS);
    bool exportable = dwFlags & CRYPT_EXPORTABLE;

    if (Algid == AT_KEYEXCHANGE || Algid == CALG_RSA_KEYX) {
        DWORD bits = dwFlags >> 16;
        if (bits == 0) bits = 1024;
        if (bits < 384 || bits > 16384 || bits % 16 != 0) return Fail(NTE_BAD_FLAGS);
        PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_name(Lib().ctx, "RSA", nullptr));
        EVP_PKEY* raw = nullptr;
        if (!pctx || EVP_PKEY_keygen_init(pctx.get()) <= 0 ||
            EVP_PKEY_CTX_set_rsa_keygen_bits(pctx.get(), int(bits)) <= 0 ||
            EVP_PKEY_generate(pctx.get(), &raw) <= 0)
            return Fail(NTE_FAIL);
        auto key = std::make_shared<Key>();
        key->alg = CALG_RSA_KEYX;
        key->personality = prov->personality;
        key->pkey.reset(raw);
        key->hasPrivate = true;
        key->exportable = exportable;
        if (!StoreExchangeKey(*prov, *key)) return Fail(NTE_FAIL);
        *phKey = Keys().Add(std::move(key));
        return Ok();
    }
    if (Algid != CALG_RC2 && Algid != CALG_RC4) return Fail(NTE_BAD_ALGID);
    DWORD bits;
    if (!SymmetricKeyBits(prov->personality, dwFlags, bits)) return Fail(NTE_BAD_FLAGS);
    auto key = NewSymmetricKey(Algid, prov->personality, bits, exportable);
    if (RAND_bytes_ex(Lib().ctx, key->key.data(), key->key.size(), 0) <= 0) return Fail(NTE_FAIL);
    bool salted;
    if (dwFlags & CRYPT_NO_SALT) {
        salted = false;
    } else if (dwFlags & CRYPT_CREATE_SALT) {
        salted =
            prov->personality == TCryptPersonality::Base || (prov->personality == TCryptPersonality::Strong &&
                                                             (bits == 40 || CryptConfig().StrongLongKeySalt));
        if (salted) {
            key->salt.resize(kSaltLen);
            if (RAND_bytes_ex(Lib().ctx, key->salt.data(), kSaltLen, 0) <= 0) return Fail(NTE_FAIL);
        }
    } else if (bits == 40) {
        key->salt.assign(kSaltLen, 0);
    }
    *phKey = Keys().Add(std::move(key));
    return Ok();
}

bool CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    if (!phUserKey) return Fail(ERROR_INVALID_PARAMETER);
    *phUserKey = 0;
    auto prov = GetProvider(hProv);
    if (!prov) return Fail(NTE_BAD_UID);
    if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE) return Fail(NTE_BAD_KEY);
    if (prov->verify || dwKeySpec != AT_KEYEXCHANGE) return Fail(NTE_NO_KEY);
    // A container holds one private key blob; the largest key's is about 9 KB.
    constexpr size_t kMaxContainerFile = 65536;
    auto data = ReadFileUpTo(prov->path, kMaxContainerFile);
    if (!data) return Fail(NTE_BAD_KEYSET);
    if (data->empty()) return Fail(NTE_NO_KEY);
    if (data->size() > kMaxContainerFile) return Fail(NTE_KEYSET_ENTRY_BAD);
    if ((*data)[0] != PRIVATEKEYBLOB || (*data)[1] != CUR_BLOB_VERSION) return Fail(NTE_KEYSET_ENTRY_BAD);
    std::shared_ptr<Key> key;
    if (ParseRsaBlob(data->data(), data->size(), key) != ERROR_SUCCESS) return Fail(NTE_KEYSET_ENTRY_BAD);
    key->alg = CALG_RSA_KEYX;
    key->personality = prov->personality;
    key->exportable = true;
    *phUserKey = Keys().Add(std::move(key));
    return Ok();
}

bool CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                    HCRYPTKEY* phKey) {
    if (!phKey || !pbData) return Fail(ERROR_INVALID_PARAMETER);
    *phKey = 0;
    auto prov = GetProvider(hProv);
    if (!prov) return Fail(NTE_BAD_UID);
    if (!ValidFlags(dwFlags, CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED | CRYPT_NO_SALT))
        return Fail(NTE_BAD_FLAGS);
    if (dwDataLen < 8) return Fail(NTE_BAD_DATA);
    if (pbData[1] != CUR_BLOB_VERSION) return Fail(NTE_BAD_VER);
    if (pbData[2] != 0 || pbData[3] != 0) return Fail(NTE_BAD_DATA);
    ALG_ID alg = GetLE32(pbData + 4);

    switch (pbData[0]) {
        case PUBLICKEYBLOB:
        case PRIVATEKEYBLOB: {
            if (hPubKey != 0) return Fail(NTE_BAD_KEY);
            std::shared_ptr<Key> key;
            if (DWORD rc = ParseRsaBlob(pbData, dwDataLen, key); rc != ERROR_SUCCESS) return Fail(rc);
            key->personality = prov->personality;
            key->exportable = dwFlags & CRYPT_EXPORTABLE;
            // A private exchange key imported into a container becomes the container's key.
            if (key->hasPrivate && key->alg == CALG_RSA_KEYX && !StoreExchangeKey(*prov, *key))
                return Fail(NTE_FAIL);
            *phKey = Keys().Add(std::move(key));
            return Ok();
        }
        case SIMPLEBLOB: {
            if (alg != CALG_RC2 && alg != CALG_RC4) return Fail(NTE_BAD_ALGID);
            if (hPubKey == 0) return Fail(NTE_BAD_PUBLIC_KEY);
            auto unwrap = Keys().Get(hPubKey);
            if (!unwrap || !unwrap->IsRsa() || !unwrap->hasPrivate) return Fail(NTE_BAD_KEY);
            if (dwDataLen < 12) return Fail(NTE_BAD_DATA);
            if (GetLE32(pbData + 8) != CALG_RSA_KEYX) return Fail(NTE_BAD_ALGID);
            size_t k = size_t(EVP_PKEY_get_size(unwrap->pkey.get()));
            if (dwDataLen < 12 + k) return Fail(NTE_BAD_DATA);
            // The wrapped key is stored least significant byte first.
            Bytes wrapped(pbData + 12, pbData + 12 + k);
            std::reverse(wrapped.begin(), wrapped.end());
            PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_pkey(Lib().ctx, unwrap->pkey.get(), nullptr));
            if (!pctx || EVP_PKEY_decrypt_init(pctx.get()) <= 0 ||
                EVP_PKEY_CTX_set_rsa_padding(pctx.get(), RSA_PKCS1_PADDING) <= 0)
                return Fail(NTE_FAIL);
#ifdef OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION
            // A wrong key must fail, not yield random bytes.
            unsigned int implicit = 0;
            OSSL_PARAM p[] = {OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION, &implicit),
                              OSSL_PARAM_construct_end()};
            EVP_PKEY_CTX_set_params(pctx.get(), p);
#endif
            Bytes plain(k);
            size_t plainLen = k;
            if (EVP_PKEY_decrypt(pctx.get(), plain.data(), &plainLen, wrapped.data(), k) <= 0)
                return Fail(NTE_BAD_DATA);
            DWORD bits = DWORD(plainLen * 8);
            if (bits < 40 || bits > MaxKeyBits(prov->personality)) return Fail(NTE_BAD_DATA);
            auto key = NewSymmetricKey(alg, prov->personality, bits, dwFlags & CRYPT_EXPORTABLE);
            std::copy_n(plain.begin(), plainLen, key->key.begin());
            OPENSSL_cleanse(plain.data(), plain.size());
            // The blob carries no salt; a 40-bit key gets the zero salt.
            if (bits == 40 && !(dwFlags & CRYPT_NO_SALT)) key->salt.assign(kSaltLen, 0);
            *phKey = Keys().Add(std::move(key));
            return Ok();
        }
        case PLAINTEXTKEYBLOB: {
            if (alg != CALG_RC2 && alg != CALG_RC4) return Fail(NTE_BAD_ALGID);
            if (hPubKey != 0) return Fail(NTE_BAD_KEY);
            if (dwDataLen < 12 || dwDataLen < 12 + GetLE32(pbData + 8)) return Fail(NTE_BAD_DATA);
            DWORD bits = GetLE32(pbData + 8) * 8;
            if (bits < 40 || bits > MaxKeyBits(prov->personality)) return Fail(NTE_BAD_DATA);
            auto key = NewSymmetricKey(alg, prov->personality, bits, dwFlags & CRYPT_EXPORTABLE);
            std::copy_n(pbData + 12, bits / 8, key->key.begin());
            if (bits == 40 && !(dwFlags & CRYPT_NO_SALT)) key->salt.assign(kSaltLen, 0);
            *phKey = Keys().Add(std::move(key));
            return Ok();
        }
        default:
            return Fail(NTE_BAD_TYPE);
    }
}

bool CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                    DWORD* pdwDataLen) {
    if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    auto key = Keys().Get(hKey);
    if (!key) return Fail(NTE_BAD_KEY);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard<std::mutex> guard(key->lock);
    switch (dwBlobType) {
        case SIMPLEBLOB: {
            if (!key->IsSymmetric()) return Fail(NTE_BAD_KEY);
            auto wrap = hExpKey ? Keys().Get(hExpKey) : nullptr;
            if (!wrap || !wrap->IsRsa()) return Fail(NTE_BAD_PUBLIC_KEY);
            if (!key->exportable) return Fail(NTE_BAD_KEY_STATE);
            size_t k = size_t(EVP_PKEY_get_size(wrap->pkey.get()));
            if (k < key->key.size() + 11) return Fail(NTE_BAD_LEN);
            size_t size = 12 + k;
            if (!pbData || *pdwDataLen < size) return ReturnBytes(nullptr, size, pbData, pdwDataLen);
            PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_pkey(Lib().ctx, wrap->pkey.get(), nullptr));
            Bytes out(k);
            size_t outLen = k;
            if (!pctx || EVP_PKEY_encrypt_init(pctx.get()) <= 0 ||
                EVP_PKEY_CTX_set_rsa_padding(pctx.get(), RSA_PKCS1_PADDING) <= 0 ||
                EVP_PKEY_encrypt(pctx.get(), out.data(), &outLen, key->key.data(), key->key.size()) <= 0 ||
                outLen != k)
                return Fail(NTE_FAIL);
            std::reverse(out.begin(), out.end());
            Bytes blob(size);
            blob[0] = uint8_t(SIMPLEBLOB);
            blob[1] = CUR_BLOB_VERSION;
            PutLE32(blob.data() + 4, key->alg);
            PutLE32(blob.data() + 8, CALG_RSA_KEYX);
            std::copy(out.begin(), out.end(), blob.begin() + 12);
            return ReturnBytes(blob.data(), size, pbData, pdwDataLen);
        }
        case PLAINTEXTKEYBLOB: {
            if (!key->IsSymmetric()) return Fail(NTE_BAD_KEY);
            if (hExpKey != 0) return Fail(NTE_BAD_KEY);
            if (!key->exportable) return Fail(NTE_BAD_KEY_STATE);
            Bytes blob(12 + key->key.size());
            blob[0] = uint8_t(PLAINTEXTKEYBLOB);
            blob[1] = CUR_BLOB_VERSION;
            PutLE32(blob.data() + 4, key->alg);
            PutLE32(blob.data() + 8, uint32_t(key->key.size()));
            std::copy(key->key.begin(), key->key.end(), blob.begin() + 12);
            return ReturnBytes(blob.data(), blob.size(), pbData, pdwDataLen);
        }
        case PUBLICKEYBLOB:
        case PRIVATEKEYBLOB: {
            bool priv = dwBlobType == PRIVATEKEYBLOB;
            if (!key->IsRsa()) return Fail(NTE_BAD_KEY);
            if (hExpKey != 0) return Fail(NTE_BAD_KEY);
            if (priv && !key->hasPrivate) return Fail(NTE_BAD_KEY);
            if (priv && !key->exportable) return Fail(NTE_BAD_KEY_STATE);
            if (EVP_PKEY_get_bits(key->pkey.get()) % 16 != 0) return Fail(NTE_BAD_KEY);
            size_t size = RsaBlobSize(*key, priv);
            if (!pbData || *pdwDataLen < size) return ReturnBytes(nullptr, size, pbData, pdwDataLen);
            Bytes blob(size);
            if (!WriteRsaBlob(*key, priv, blob.data())) return Fail(NTE_FAIL);
            return ReturnBytes(blob.data(), size, pbData, pdwDataLen);
        }
        default:
            return Fail(NTE_BAD_TYPE);
    }
}

bool CryptDestroyKey(HCRYPTKEY hKey) {
    if (!Keys().Remove(hKey)) return Fail(NTE_BAD_KEY);
    return Ok();
}

bool CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    auto key = Keys().Get(hKey);
    if (!key) return Fail(NTE_BAD_KEY);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard<std::mutex> guard(key->lock);
    bool rc2 = key->alg == CALG_RC2;
    switch (dwParam) {
        case KP_ALGID:
            return ReturnDword(key->alg, pbData, pdwDataLen);
        case KP_KEYLEN:
            return ReturnDword(
                key->IsRsa() ? DWORD(EVP_PKEY_get_bits(key->pkey.get())) : DWORD(key->key.size() * 8), pbData,
                pdwDataLen);
        case KP_BLOCKLEN:
            return ReturnDword(key->IsRsa() ? DWORD(EVP_PKEY_get_bits(key->pkey.get()))
                               : rc2        ? kBlockLen * 8
                                            : 0,
                               pbData, pdwDataLen);
        case KP_SALT:
            if (!key->IsSymmetric()) return Fail(NTE_BAD_KEY);
            return ReturnBytes(key->salt.data(), key->salt.size(), pbData, pdwDataLen);
        case KP_IV:
            if (!rc2) return Fail(NTE_BAD_KEY);
            return ReturnBytes(key->iv.data(), key->iv.size(), pbData, pdwDataLen);
        case KP_PADDING:
            if (!rc2) return Fail(NTE_BAD_KEY);
            return ReturnDword(PKCS5_PADDING, pbData, pdwDataLen);
        case KP_MODE:
            if (!rc2) return Fail(NTE_BAD_KEY);
            return ReturnDword(key->mode, pbData, pdwDataLen);
        case KP_EFFECTIVE_KEYLEN:
            if (!rc2) return Fail(NTE_BAD_KEY);
            return ReturnDword(key->effectiveBits, pbData, pdwDataLen);
        default:
            return Fail(NTE_BAD_TYPE);
    }
}

bool CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    auto key = Keys().Get(hKey);
    if (!key) return Fail(NTE_BAD_KEY);
    if (!pbData) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard<std::mutex> guard(key->lock);
    if (!key->IsSymmetric()) return Fail(NTE_BAD_KEY);
    bool rc2 = key->alg == CALG_RC2;
    switch (dwParam) {
        case KP_SALT:
            // The call carries no length: the providers always take 11 bytes. Enhanced keeps
            // no salt this way.
            if (key->personality == TCryptPersonality::Enhanced) {
                key->salt.clear();
            } else {
                key->salt.assign(pbData, pbData + kSaltLen);
            }
            break;
        case KP_SALT_EX: {
            CRYPT_DATA_BLOB blob;
            std::memcpy(&blob, pbData, sizeof blob);
            if (blob.cbData && !blob.pbData) return Fail(ERROR_INVALID_PARAMETER);
            if (blob.cbData > 128) return Fail(NTE_BAD_DATA);
            key->salt.assign(blob.pbData, blob.pbData + blob.cbData);
            break;
        }
        case KP_IV:
            if (!rc2) return Fail(NTE_BAD_KEY);
            std::copy_n(pbData, kBlockLen, key->iv.begin());
            break;
        case KP_MODE: {
            DWORD mode = GetLE32(pbData);
            if (!rc2) return Fail(NTE_BAD_KEY);
            if (mode != CRYPT_MODE_CBC && mode != CRYPT_MODE_ECB) return Fail(NTE_BAD_DATA);
            key->mode = mode;
            break;
        }
        case KP_PADDING:
            if (GetLE32(pbData) != PKCS5_PADDING) return Fail(NTE_BAD_DATA);
            break;
        case KP_EFFECTIVE_KEYLEN: {
            DWORD bits = GetLE32(pbData);
            if (!rc2) return Fail(NTE_BAD_KEY);
            if (bits < 1 || bits > 1024) return Fail(NTE_BAD_DATA);
            // The Base provider allows no other effective length than 40.
            if (key->personality == TCryptPersonality::Base && bits != 40) return Fail(NTE_BAD_DATA);
            key->effectiveBits = bits;
            break;
        }
        default:
            return Fail(NTE_BAD_TYPE);
    }
    ResetCipher(*key);
    return Ok();
}

bool CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, bool Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen, DWORD dwBufLen) {
    if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    auto key = Keys().Get(hKey);
    if (!key) return Fail(NTE_BAD_KEY);
    if (hHash != 0) return Fail(NTE_BAD_HASH);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard<std::mutex> guard(key->lock);
    if (!key->IsSymmetric()) return Fail(NTE_BAD_KEY);
    DWORD len = *pdwDataLen;
    bool block = key->alg == CALG_RC2;
    if (block && !Final && len % kBlockLen != 0) return Fail(NTE_BAD_DATA);
    DWORD needed = block && Final ? (len / kBlockLen + 1) * kBlockLen : len;
    if (!pbData) {
        *pdwDataLen = needed;
        return Ok();
    }
    if (dwBufLen < needed) {
        *pdwDataLen = needed;
        return Fail(ERROR_MORE_DATA);
    }
    if (block && Final) {
        auto pad = uint8_t(needed - len);
        std::memset(pbData + len, pad, pad);
    }
    if ((!key->cipherReady || !key->cipherEncrypting) && !StartCipher(*key, true)) return Fail(NTE_FAIL);
    if (!RunCipher(*key, pbData, needed)) {
        ResetCipher(*key);
        return Fail(NTE_FAIL);
    }
    if (Final) ResetCipher(*key);
    *pdwDataLen = needed;
    return Ok();
}

bool CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, bool Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen) {
    if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    auto key = Keys().Get(hKey);
    if (!key) return Fail(NTE_BAD_KEY);
    if (hHash != 0) return Fail(NTE_BAD_HASH);
    if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
    std::lock_guard<std::mutex> guard(key->lock);
    if (!key->IsSymmetric()) return Fail(NTE_BAD_KEY);
    DWORD len = *pdwDataLen;
    if (!pbData && len) return Fail(ERROR_INVALID_PARAMETER);
    bool block = key->alg == CALG_RC2;
    if (block && (len % kBlockLen != 0 || (Final && len == 0))) return Fail(NTE_BAD_DATA);
    if ((!key->cipherReady || key->cipherEncrypting) && !StartCipher(*key, false)) return Fail(NTE_FAIL);
    if (!RunCipher(*key, pbData, len)) {
        ResetCipher(*key);
        return Fail(NTE_FAIL);
    }
    if (Final) {
        ResetCipher(*key);
        if (block) {
            uint8_t pad = pbData[len - 1];
            bool good = pad >= 1 && pad <= kBlockLen;
            for (DWORD i = 0; good && i < pad; ++i) good = pbData[len - 1 - i] == pad;
            if (!good) return Fail(NTE_BAD_DATA);
            len -= pad;
        }
    }
    *pdwDataLen = len;
    return Ok();
}

// ---- text to binary ----

bool CryptStringToBinaryA(const char* pszString, DWORD cchString, DWORD dwFlags, BYTE* pbBinary,
                          DWORD* pcbBinary, DWORD* pdwSkip, DWORD* pdwFlags) {
    if (!pszString || !pcbBinary) return Fail(ERROR_INVALID_PARAMETER);
    size_t n = cchString ? cchString : std::strlen(pszString);
    Bytes out;
    if (dwFlags == CRYPT_STRING_BINARY) {
        out.assign(pszString, pszString + n);
    } else if (dwFlags == CRYPT_STRING_BASE64) {
        uint32_t acc = 0;
        int have = 0, pads = 0;
        for (size_t i = 0; i < n; ++i) {
            char c = pszString[i];
            int v;
            if (c >= 'A' && c <= 'Z') {
                v = c - 'A';
            } else if (c >= 'a' && c <= 'z') {
                v = c - 'a' + 26;
            } else if (c >= '0' && c <= '9') {
                v = c - '0' + 52;
            } else if (c == '+') {
                v = 62;
            } else if (c == '/') {
                v = 63;
            } else if (c == '=') {
                ++pads;
                continue;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                continue;
            } else {
                return Fail(ERROR_INVALID_DATA);
            }
            if (pads) return Fail(ERROR_INVALID_DATA);  // data after the padding
            acc = (acc << 6) | uint32_t(v);
            if (++have == 4) {
                out.push_back(uint8_t(acc >> 16));
                out.push_back(uint8_t(acc >> 8));
                out.push_back(uint8_t(acc));
                acc = 0;
                have = 0;
            }
        }
        if (have == 1 || pads > 2) return Fail(ERROR_INVALID_DATA);
        if (have == 2) out.push_back(uint8_t(acc >> 4));
        if (have == 3) {
            out.push_back(uint8_t(acc >> 10));
            out.push_back(uint8_t(acc >> 2));
        }
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (pdwSkip) *pdwSkip = 0;
    if (pdwFlags) *pdwFlags = dwFlags;
    return ReturnBytes(out.data(), out.size(), pbBinary, pcbBinary);
}

}  // namespace os
