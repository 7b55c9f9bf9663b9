// Reading side of the encrypted package container (.dat): the web side encrypts its package
// archives for the public half of the import key container's key-exchange key.
#pragma once

#include <string>

#include "common/EnDeCrypt.h"

namespace svc {

// The import key container that holds the private key-exchange key.
inline constexpr const char* ImportKeyContainer = "ZUV_QEL_IMPORT";

// Decrypts sourceFile into targetFile (replaced) with the key of the machine key container.
// Never raises: false with an error text on any failure, and then no target is written.
bool DecryptFileWithKey(const std::string& sourceFile, const std::string& targetFile,
                        const std::string& container, std::string& errorText);

}  // namespace svc
