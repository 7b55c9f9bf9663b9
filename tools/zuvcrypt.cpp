// zuvcrypt: writes what the services read through their cryptography, so that Connection.ini,
// key containers and encrypted packages can be made on Linux.
//
//   zuvcrypt credentials USER PASSWORD      UserName= and Password= lines for Connection.ini
//   zuvcrypt scramble TEXT                  XOR-scrambled mail setting, as hexadecimal
//   zuvcrypt new-key CONTAINER [BITS]       new key-exchange pair in a machine container;
//                                           prints its PUBLICKEYBLOB as hexadecimal
//   zuvcrypt import-key CONTAINER FILE      fills a machine container from a PRIVATEKEYBLOB
//                                           (openssl rsa -outform MSBLOB)
//   zuvcrypt public-key CONTAINER           the container's PUBLICKEYBLOB as hexadecimal
//   zuvcrypt encrypt-file IN OUT KEYHEX     .dat for the PUBLICKEYBLOB given as hexadecimal
//   zuvcrypt decrypt-file IN OUT CONTAINER  .dat back to the archive
//
// Text arguments are UTF-8 and are converted to code page 1251, as the services hold them.
// The key store folder is DX_KEYSTORE (see platform/os/WinCrypt.h).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "common/EnDeCrypt.h"
#include "import_service/PackageDecrypt.h"
#include "platform/os/WinCrypt.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

using namespace os;

namespace {

// The Connection.ini pass phrase, "WюrнЯPkqz8" in code page 1251.
const std::string kIniPassPhrase = "W\xFEr\xED\xDFPkqz8";

int Usage() {
    std::cerr << "usage: zuvcrypt credentials USER PASSWORD\n"
                 "       zuvcrypt scramble TEXT\n"
                 "       zuvcrypt new-key CONTAINER [BITS]\n"
                 "       zuvcrypt import-key CONTAINER PRIVATEKEYBLOB-FILE\n"
                 "       zuvcrypt public-key CONTAINER\n"
                 "       zuvcrypt encrypt-file IN OUT PUBLICKEYBLOB-HEX\n"
                 "       zuvcrypt decrypt-file IN OUT CONTAINER\n";
    return 2;
}

int Fail(const std::string& text) {
    std::cerr << "zuvcrypt: " << text << "\n";
    return 1;
}

int FailCall(const std::string& call) {
    return Fail("Error " + call + ": " + svc::TEnDeCrypt::GetErrorName(GetLastError()));
}

std::string ExportPublic(HCRYPTKEY key) {
    DWORD len = 0;
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &len)) return {};
    std::string blob(len, '\0');
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, reinterpret_cast<BYTE*>(blob.data()), &len)) return {};
    return blob;
}

// Opens the machine container, creating it when asked and missing.
bool OpenContainer(const std::string& name, bool create, HCRYPTPROV& prov) {
    if (CryptAcquireContextA(&prov, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET)) return true;
    return create && GetLastError() == NTE_BAD_KEYSET &&
           CryptAcquireContextA(&prov, name.c_str(), nullptr, PROV_RSA_FULL,
                                CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET);
}

int Credentials(const std::string& user, const std::string& password) {
    std::string error;
    std::string userHex = svc::EncryptStringWithPassPhrase(rtl::Utf8ToAnsi(user), kIniPassPhrase, error);
    if (!error.empty()) return Fail(error);
    std::string passwordHex =
        svc::EncryptStringWithPassPhrase(rtl::Utf8ToAnsi(password), kIniPassPhrase, error);
    if (!error.empty()) return Fail(error);
    std::cout << "UserName=" << userHex << "\nPassword=" << passwordHex << "\n";
    return 0;
}

// Opens the container, gets its exchange key with getKey (the call named in errors) and prints
// the key's PUBLICKEYBLOB in hex.
template <class GetKey>
int PrintPublicKey(const std::string& container, bool create, const char* call, GetKey getKey) {
    HCRYPTPROV prov = 0;
    if (!OpenContainer(container, create, prov)) return FailCall("CryptAcquireContext");
    HCRYPTKEY key = 0;
    if (!getKey(prov, &key)) {
        CryptReleaseContext(prov, 0);
        return FailCall(call);
    }
    std::string blob = ExportPublic(key);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    if (blob.empty()) return FailCall("CryptExportKey");
    std::cout << svc::BytesToHex(blob) << "\n";
    return 0;
}

int NewKey(const std::string& container, DWORD bits) {
    return PrintPublicKey(container, true, "CryptGenKey", [bits](HCRYPTPROV prov, HCRYPTKEY* key) {
        return CryptGenKey(prov, AT_KEYEXCHANGE, (bits << 16) | CRYPT_EXPORTABLE, key);
    });
}

int ImportKey(const std::string& container, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Fail("cannot read " + file);
    std::string blob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (blob.empty() || uint8_t(blob[0]) != PRIVATEKEYBLOB) return Fail(file + " is not a PRIVATEKEYBLOB");
    HCRYPTPROV prov = 0;
    if (!OpenContainer(container, true, prov)) return FailCall("CryptAcquireContext");
    HCRYPTKEY key = 0;
    bool ok = CryptImportKey(prov, reinterpret_cast<const BYTE*>(blob.data()), DWORD(blob.size()), 0,
                             CRYPT_EXPORTABLE, &key);
    DWORD code = GetLastError();
    if (ok) CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    if (!ok) {
        SetLastError(code);
        return FailCall("CryptImportKey");
    }
    return 0;
}

int PublicKey(const std::string& container) {
    return PrintPublicKey(container, false, "CryptGetUserKey", [](HCRYPTPROV prov, HCRYPTKEY* key) {
        return CryptGetUserKey(prov, AT_KEYEXCHANGE, key);
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.empty()) return Usage();
    try {
        const std::string& cmd = a[0];
        if (cmd == "credentials" && a.size() == 3) return Credentials(a[1], a[2]);
        if (cmd == "scramble" && a.size() == 2) {
            std::cout << svc::BytesToHex(svc::XorString(rtl::Utf8ToAnsi(a[1]))) << "\n";
            return 0;
        }
        if (cmd == "new-key" && (a.size() == 2 || a.size() == 3))
            return NewKey(a[1], a.size() == 3 ? DWORD(std::stoul(a[2])) : 1024);
        if (cmd == "import-key" && a.size() == 3) return ImportKey(a[1], a[2]);
        if (cmd == "public-key" && a.size() == 2) return PublicKey(a[1]);
        if (cmd == "encrypt-file" && a.size() == 4) {
            std::string error;
            if (!svc::EncryptFileWithKey(a[1], a[2], a[3], "ZUV_QEL_EXPORT", error)) return Fail(error);
            return 0;
        }
        if (cmd == "decrypt-file" && a.size() == 4) {
            std::string error;
            if (!svc::DecryptFileWithKey(a[1], a[2], a[3], error)) return Fail(error);
            return 0;
        }
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return Usage();
}
