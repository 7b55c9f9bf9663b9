// Reading side of the encrypted package container (.dat): the web side encrypts its package
// archives for the public half of the import key container's key-exchange key.
#pragma once

#include <string>

#include "common/EnDeCrypt.h"

namespace svc {

// The import key container that holds the private key-exchange key.
inline constexpr const char* ImportKeyContainer = "ZUV_QEL_IMPORT";

// Cipher text is decrypted this many bytes at a time: memory stays the same whatever the
// size of the package.
inline constexpr size_t kDecryptChunk = 65536;

// Reads a .dat container from the source's position and writes the plain bytes to target as
// they are decrypted. crypt's error text is empty on success; on failure target holds what
// was written before. Raises only what the streams raise.
void DecryptStreamTo(TEnDeCrypt& crypt, rtl::TStream& source, const std::string& container,
                     rtl::TStream& target);

// Decrypts sourceFile into targetFile (replaced) with the key of the machine key container,
// streaming from file to file. Never raises: false with an error text on any failure, and
// then no target is written; the target appears whole or not at all.
bool DecryptFileWithKey(const std::string& sourceFile, const std::string& targetFile,
                        const std::string& container, std::string& errorText);

}  // namespace svc
