// Credential and file cryptography over the CryptoAPI layer: pass-phrase decryption of the
// Connection.ini credentials, XOR scrambling of the stored mail credentials, the encrypted
// package container (.dat) and the keyed digest of the letter subjects.
//
// .dat container, integers little-endian:
//   N1 (4) | SIMPLEBLOB of the RC4 session key (N1) | N2 (4) | salt (N2) | RC4 cipher text (rest)
#pragma once

#include <memory>
#include <string>

#include "platform/os/WinCrypt.h"
#include "platform/rtl/Streams.h"

namespace svc {

// The pass phrase of the Connection.ini credentials, "WюrнЯPkqz8" in code page 1251.
inline constexpr const char* ConnectionIniPassPhrase = "W\xFEr\xED\xDFPkqz8";

// Scrambles and unscrambles with a fixed 18-byte key; the result has the same length.
std::string XorString(const std::string& s);

// Two upper-case hexadecimal digits per byte.
std::string BytesToHex(const std::string& s);

// One byte per pair of hexadecimal digits (either case); a pair that is not hexadecimal
// raises EConvertError; an odd last digit is ignored.
std::string HexToBytes(const std::string& s);

// Decodes text with CryptStringToBinaryA and the given format; false when it does not decode.
bool DecodeCryptString(const std::string& s, os::DWORD flags, std::string& out);

// length characters: lower case always, upper case, digits and special characters when asked.
void GenerateRandomString(int length, bool upperCase, bool digits, bool special, std::string& out);

class TEnDeCrypt {
public:
    TEnDeCrypt() = default;

    void SetPassPhrase(const std::string& passPhrase) { passPhrase_ = passPhrase; }
    // Empty while every step succeeded; else the message of the last failure.
    const std::string& ErrorText() const { return errorText_; }

    // RC2 decryption under a key derived (SHA-1) from the pass phrase. The input is hexadecimal
    // text and/or base64 as the flags say. True when the error text is empty.
    bool DecryptString(const std::string& data, bool base64, bool hex, std::string& plain);

    bool ContainerExists(const std::string& container);
    bool CreateContainer(const std::string& container);

    // The source from its current position encrypted for the public key blob's owner as a .dat
    // container. On failure the error text is set and the result holds what was written before.
    std::unique_ptr<rtl::TMemoryStream> EncryptStream(rtl::TStream& source, rtl::TStream& publicKeyBlob,
                                                      const std::string& container);

    // Reads a .dat container from the source's position with the key-exchange key of the
    // machine key container; complete only when the error text is empty afterwards.
    // Lives with the import service (import_service/PackageDecrypt.cpp).
    std::unique_ptr<rtl::TMemoryStream> DecryptStream(rtl::TStream& source, const std::string& container);

    // The platform's symbolic name of a CryptoAPI or system error code, else "unknown error".
    static std::string GetErrorName(os::DWORD code);

    // Lower-case hexadecimal MD5 of data immediately followed by key.
    static std::string GetKeyedDigest(const std::string& data, const std::string& key);

    // Sets the error text to prefix + the name of the thread's last error.
    void Fail(const std::string& prefix);
    void FailWith(const std::string& text) { errorText_ = text; }

private:
    std::string passPhrase_;
    std::string errorText_;
};

// Decrypts with a TEnDeCrypt of its own; errorText receives its error text. True on success.
bool DecryptStringWithPassPhrase(const std::string& data, const std::string& passPhrase, bool base64,
                                 bool hex, std::string& errorText, std::string& plain);

// The writing counterpart of DecryptStringWithPassPhrase, for the tools that write
// Connection.ini: upper-case hexadecimal RC2 cipher text, or "" with errorText set.
std::string EncryptStringWithPassPhrase(const std::string& plain, const std::string& passPhrase,
                                        std::string& errorText);

// Encrypts the file for the public key (PUBLICKEYBLOB as hexadecimal text) into target; the
// target is written only on success. A key text that is not hexadecimal raises EConvertError.
bool EncryptFileWithKey(const std::string& sourcePath, const std::string& targetPath,
                        const std::string& publicKeyHex, const std::string& container,
                        std::string& errorText);

}  // namespace svc
