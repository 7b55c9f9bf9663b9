// The part of the Windows CryptoAPI (advapi32, PROV_RSA_FULL) that the services call,
// rebuilt on OpenSSL 3. Keys, blobs and cipher text are byte-compatible with the Windows
// providers: PUBLICKEYBLOB, PRIVATEKEYBLOB and SIMPLEBLOB in their exact layouts, RC2 in CBC
// mode with PKCS#5 padding, RC4 with the key followed by its salt as key material.
//
// Calls return false on failure and leave the reason in the thread's last-error value
// (GetLastError), as the Windows calls do. Handles are process-wide numbers.
//
// Key containers are files under a key-store folder (folder 0700, files 0600); a container
// file is empty or holds the container's key-exchange pair as a PRIVATEKEYBLOB, the same
// bytes `openssl rsa -outform MSBLOB` writes.
#pragma once

#include <cstdint>
#include <string>

namespace os {

using DWORD = uint32_t;
using BYTE = uint8_t;
using ALG_ID = uint32_t;
using HCRYPTPROV = uintptr_t;
using HCRYPTKEY = uintptr_t;
using HCRYPTHASH = uintptr_t;

// Platform error codes (winerror.h values). Every code the layer sets is listed here, so that
// each has its symbolic name (ErrorCodeName).
// clang-format off
#define OS_CRYPT_ERROR_CODES(X) \
    X(ERROR_SUCCESS, 0) \
    X(ERROR_INVALID_HANDLE, 6) \
    X(ERROR_NOT_ENOUGH_MEMORY, 8) \
    X(ERROR_INVALID_DATA, 13) \
    X(ERROR_INVALID_PARAMETER, 87) \
    X(ERROR_CALL_NOT_IMPLEMENTED, 120) \
    X(ERROR_BUSY, 170) \
    X(ERROR_MORE_DATA, 234) \
    X(ERROR_NO_MORE_ITEMS, 259) \
    X(NTE_BAD_UID, 0x80090001) \
    X(NTE_BAD_HASH, 0x80090002) \
    X(NTE_BAD_KEY, 0x80090003) \
    X(NTE_BAD_LEN, 0x80090004) \
    X(NTE_BAD_DATA, 0x80090005) \
    X(NTE_BAD_SIGNATURE, 0x80090006) \
    X(NTE_BAD_VER, 0x80090007) \
    X(NTE_BAD_ALGID, 0x80090008) \
    X(NTE_BAD_FLAGS, 0x80090009) \
    X(NTE_BAD_TYPE, 0x8009000A) \
    X(NTE_BAD_KEY_STATE, 0x8009000B) \
    X(NTE_BAD_HASH_STATE, 0x8009000C) \
    X(NTE_NO_KEY, 0x8009000D) \
    X(NTE_NO_MEMORY, 0x8009000E) \
    X(NTE_EXISTS, 0x8009000F) \
    X(NTE_PERM, 0x80090010) \
    X(NTE_NOT_FOUND, 0x80090011) \
    X(NTE_DOUBLE_ENCRYPT, 0x80090012) \
    X(NTE_BAD_PROVIDER, 0x80090013) \
    X(NTE_BAD_PROV_TYPE, 0x80090014) \
    X(NTE_BAD_PUBLIC_KEY, 0x80090015) \
    X(NTE_BAD_KEYSET, 0x80090016) \
    X(NTE_PROV_TYPE_NOT_DEF, 0x80090017) \
    X(NTE_PROV_TYPE_ENTRY_BAD, 0x80090018) \
    X(NTE_KEYSET_NOT_DEF, 0x80090019) \
    X(NTE_KEYSET_ENTRY_BAD, 0x8009001A) \
    X(NTE_PROV_TYPE_NO_MATCH, 0x8009001B) \
    X(NTE_SIGNATURE_FILE_BAD, 0x8009001C) \
    X(NTE_PROVIDER_DLL_FAIL, 0x8009001D) \
    X(NTE_PROV_DLL_NOT_FOUND, 0x8009001E) \
    X(NTE_BAD_KEYSET_PARAM, 0x8009001F) \
    X(NTE_FAIL, 0x80090020) \
    X(NTE_SYS_ERR, 0x80090021)
// clang-format on
#define OS_DECLARE_ERROR_CODE(name, value) inline constexpr DWORD name = value;
OS_CRYPT_ERROR_CODES(OS_DECLARE_ERROR_CODE)
#undef OS_DECLARE_ERROR_CODE

// The symbolic name of a code above ("NTE_BAD_DATA"); empty for any other value.
const char* ErrorCodeName(DWORD code);

// The thread's last-error value.
DWORD GetLastError();
void SetLastError(DWORD code);

// Provider type and names.
inline constexpr DWORD PROV_RSA_FULL = 1;
inline constexpr const char* MS_DEF_PROV_A = "Microsoft Base Cryptographic Provider v1.0";
inline constexpr const char* MS_ENHANCED_PROV_A = "Microsoft Enhanced Cryptographic Provider v1.0";
inline constexpr const char* MS_STRONG_PROV_A = "Microsoft Strong Cryptographic Provider";

// CryptAcquireContext flags.
inline constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
inline constexpr DWORD CRYPT_NEWKEYSET = 0x00000008;
inline constexpr DWORD CRYPT_DELETEKEYSET = 0x00000010;
inline constexpr DWORD CRYPT_MACHINE_KEYSET = 0x00000020;
inline constexpr DWORD CRYPT_SILENT = 0x00000040;

// Algorithm ids.
inline constexpr ALG_ID CALG_MD5 = 0x00008003;
inline constexpr ALG_ID CALG_SHA1 = 0x00008004;
inline constexpr ALG_ID CALG_RC2 = 0x00006602;
inline constexpr ALG_ID CALG_RC4 = 0x00006801;
inline constexpr ALG_ID CALG_RSA_SIGN = 0x00002400;
inline constexpr ALG_ID CALG_RSA_KEYX = 0x0000A400;
inline constexpr ALG_ID AT_KEYEXCHANGE = 1;
inline constexpr ALG_ID AT_SIGNATURE = 2;

// Key generation, derivation and import flags; the upper 16 bits carry a key length in bits.
inline constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
inline constexpr DWORD CRYPT_USER_PROTECTED = 0x00000002;
inline constexpr DWORD CRYPT_CREATE_SALT = 0x00000004;
inline constexpr DWORD CRYPT_NO_SALT = 0x00000010;

// Key blob types and the blob version.
inline constexpr DWORD SIMPLEBLOB = 0x1;
inline constexpr DWORD PUBLICKEYBLOB = 0x6;
inline constexpr DWORD PRIVATEKEYBLOB = 0x7;
inline constexpr DWORD PLAINTEXTKEYBLOB = 0x8;
inline constexpr BYTE CUR_BLOB_VERSION = 2;

// Key parameters.
inline constexpr DWORD KP_IV = 1;
inline constexpr DWORD KP_SALT = 2;
inline constexpr DWORD KP_PADDING = 3;
inline constexpr DWORD KP_MODE = 4;
inline constexpr DWORD KP_ALGID = 7;
inline constexpr DWORD KP_BLOCKLEN = 8;
inline constexpr DWORD KP_KEYLEN = 9;
inline constexpr DWORD KP_SALT_EX = 10;
inline constexpr DWORD KP_EFFECTIVE_KEYLEN = 19;
inline constexpr DWORD PKCS5_PADDING = 1;
inline constexpr DWORD CRYPT_MODE_CBC = 1;
inline constexpr DWORD CRYPT_MODE_ECB = 2;

// Hash parameters.
inline constexpr DWORD HP_ALGID = 1;
inline constexpr DWORD HP_HASHVAL = 2;
inline constexpr DWORD HP_HASHSIZE = 4;

// CryptStringToBinary formats.
inline constexpr DWORD CRYPT_STRING_BASE64 = 1;
inline constexpr DWORD CRYPT_STRING_BINARY = 2;

struct CRYPT_DATA_BLOB {
    DWORD cbData;
    BYTE* pbData;
};

bool CryptAcquireContextA(HCRYPTPROV* phProv, const char* szContainer, const char* szProvider,
                          DWORD dwProvType, DWORD dwFlags);
bool CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
bool CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);

bool CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash);
bool CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
bool CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
bool CryptDestroyHash(HCRYPTHASH hHash);

bool CryptDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags, HCRYPTKEY* phKey);
bool CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
bool CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
bool CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                    HCRYPTKEY* phKey);
bool CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                    DWORD* pdwDataLen);
bool CryptDestroyKey(HCRYPTKEY hKey);
bool CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
bool CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);

// pdwDataLen: in, the bytes of plain text; out, the bytes of cipher text. dwBufLen is the
// buffer's capacity; with pbData null only the needed length is returned.
bool CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, bool Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen, DWORD dwBufLen);
bool CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, bool Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen);

// Base64 (whitespace between groups allowed) or plain binary to bytes.
bool CryptStringToBinaryA(const char* pszString, DWORD cchString, DWORD dwFlags, BYTE* pbBinary,
                          DWORD* pcbBinary, DWORD* pdwSkip, DWORD* pdwFlags);

// How the default provider behaves. An installation matches its Windows peers by these
// switches; the defaults are the Strong provider of Windows XP SP1 and later.
enum class TCryptPersonality { Base, Strong, Enhanced };

struct TCryptConfig {
    // Folder of the key containers; machine containers in "machine", user ones in "user".
    std::string KeyStoreFolder;
    // The provider used when a context names none.
    TCryptPersonality DefaultProvider = TCryptPersonality::Strong;
    // Effective RC2 key length of derived keys on Strong/Enhanced: 0 means the key length
    // (XP SP1 and later); 40 is what Windows 2000 and XP RTM applied.
    DWORD DerivedRc2EffectiveBits = 0;
    // Whether CRYPT_CREATE_SALT on a Strong key longer than 40 bits gives an 11-byte salt
    // (Base-like) or none (Enhanced-like).
    bool StrongLongKeySalt = true;
};

// The configuration; first use reads the environment:
// - DX_KEYSTORE: key-store folder (default $XDG_STATE_HOME/zuv-keystore, else
//   ~/.local/state/zuv-keystore);
// - DX_CRYPT_PROVIDER: base, strong or enhanced;
// - DX_CRYPT_RC2_EFFECTIVE: 0, or 40 to 128;
// - DX_CRYPT_RC4_SALT: 11 or 0 (the salt of a generated Strong session key).
TCryptConfig CryptConfig();
void SetCryptConfig(const TCryptConfig& config);
// The configuration the environment gives now; unknown values keep the defaults.
TCryptConfig CryptConfigFromEnvironment();

// File of a container ("machine" or "user" store) under the key-store folder.
std::string KeyContainerPath(const std::string& container, bool machine);

}  // namespace os
