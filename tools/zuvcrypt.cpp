// zuvcrypt: writes what the services read through their cryptography, so that Connection.ini,
// key containers and encrypted packages can be made on Linux. `zuvcrypt --help` lists the
// commands. Exit status: 0 done, 1 failed, 2 a command line it does not understand.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/EnDeCrypt.h"
#include "import_service/PackageDecrypt.h"
#include "platform/os/WinCrypt.h"
#include "platform/rtl/Strings.h"

using namespace os;

namespace {

const std::string kIniPassPhrase = svc::ConnectionIniPassPhrase;
// The container the export service names when it encrypts a package.
constexpr const char* kExportContainer = "ZUV_QEL_EXPORT";

constexpr DWORD kDefaultKeyBits = 1024;
constexpr DWORD kMinKeyBits = 384;
constexpr DWORD kMaxKeyBits = 16384;

std::string MachineStore() {
    return CryptConfig().KeyStoreFolder + "/machine";
}

constexpr const char* kUsage = R"(usage: zuvcrypt COMMAND ARGUMENTS...

  credentials USER PASSWORD
      prints the UserName= and Password= lines of Connection.ini: USER and PASSWORD
      encrypted as the services decrypt them
  scramble TEXT
      prints TEXT scrambled as the mail settings hold a login or password, in hexadecimal
  new-key [--replace] CONTAINER [BITS]
      makes a new key-exchange key pair in the key container, creating the container
      when it does not exist, and prints the public key in hexadecimal; BITS is the key
      size, a multiple of 16 from {min} to {max} (default {bits})
  import-key [--replace] CONTAINER FILE
      puts the key pair of FILE (a private key blob: openssl rsa -outform MSBLOB) into
      the key container, creating the container when it does not exist
  public-key CONTAINER
      prints the public key of the key container in hexadecimal, for the sending side
  encrypt-file IN OUT PUBLICKEY
      encrypts the archive IN for the public key given in hexadecimal into the
      package OUT (.dat), as the export service does
  decrypt-file IN OUT CONTAINER
      decrypts the package IN (.dat) with the key of the key container into OUT
  -h, --help
      prints this text

A container that holds a key pair keeps it: new-key and import-key replace it only with
--replace, and no package made for the old key can be decrypted after that.
The import service decrypts with the key container {import}.
Key containers are files (mode 0600) in {store};
the environment variable DX_KEYSTORE names another key store folder.
Text arguments are UTF-8; they are converted to code page 1251, as the services hold them.
)";

std::string UsageText() {
    std::string text = kUsage;
    const std::pair<std::string, std::string> fields[] = {{"{min}", std::to_string(kMinKeyBits)},
                                                          {"{max}", std::to_string(kMaxKeyBits)},
                                                          {"{bits}", std::to_string(kDefaultKeyBits)},
                                                          {"{import}", svc::ImportKeyContainer},
                                                          {"{store}", MachineStore()}};
    for (const auto& [field, value] : fields) text.replace(text.find(field), field.size(), value);
    return text;
}

// A failure of one command, with the text to print.
struct ECommand : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raises the failure of the named call with the thread's last error, read right away: the
// cleaning up that follows makes calls of its own that would replace it.
void Check(bool ok, const std::string& call) {
    if (!ok) throw ECommand("Error " + call + ": " + svc::TEnDeCrypt::GetErrorName(GetLastError()));
}

DWORD ParseKeyBits(const std::string& text) {
    bool digits =
        !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
    DWORD bits = digits ? DWORD(std::stoul(text)) : 0;
    if (bits < kMinKeyBits || bits > kMaxKeyBits || bits % 16 != 0)
        throw ECommand("bad key size \"" + text + "\": give a number of bits, a multiple of 16 from " +
                       std::to_string(kMinKeyBits) + " to " + std::to_string(kMaxKeyBits) + " (default " +
                       std::to_string(kDefaultKeyBits) + ")");
    return bits;
}

// One machine key container, opened for a command and released on every path. A container
// this command created is deleted again unless the command succeeded (Keep).
class TContainer {
public:
    // Opens an existing container; a missing one fails unless create is set.
    TContainer(const std::string& name, bool create) : name_(name) {
        if (CryptAcquireContextA(&prov_, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET)) return;
        if (GetLastError() != NTE_BAD_KEYSET) Check(false, "CryptAcquireContext");
        if (!create) throw ECommand("no key container \"" + name + "\" in " + MachineStore());
        Check(CryptAcquireContextA(&prov_, name.c_str(), nullptr, PROV_RSA_FULL,
                                   CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET),
              "CryptAcquireContext");
        created_ = true;
    }
    ~TContainer() {
        if (key_) CryptDestroyKey(key_);
        if (prov_) CryptReleaseContext(prov_, 0);
        HCRYPTPROV gone = 0;
        if (created_)
            CryptAcquireContextA(&gone, name_.c_str(), nullptr, PROV_RSA_FULL,
                                 CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET);
    }
    TContainer(const TContainer&) = delete;
    TContainer& operator=(const TContainer&) = delete;

    HCRYPTPROV Handle() const { return prov_; }
    void Keep() { created_ = false; }

    // The container's key-exchange key; null when it holds none.
    HCRYPTKEY ExchangeKey() {
        if (!key_ && !CryptGetUserKey(prov_, AT_KEYEXCHANGE, &key_)) {
            if (GetLastError() == NTE_NO_KEY) return 0;
            Check(false, "CryptGetUserKey");
        }
        return key_;
    }
    // A replaced key pair cannot decrypt what was made for the old one: refuse unless asked.
    void MayReplaceKey(bool replace) {
        if (!replace && ExchangeKey())
            throw ECommand("key container \"" + name_ +
                           "\" already holds a key pair; packages made for it could no longer be "
                           "decrypted after a new one. Give --replace to replace it anyway.");
    }
    // Takes a key made by the caller into this object's care.
    void Adopt(HCRYPTKEY key) {
        if (key_) CryptDestroyKey(key_);
        key_ = key;
    }

private:
    std::string name_;
    HCRYPTPROV prov_ = 0;
    HCRYPTKEY key_ = 0;
    bool created_ = false;
};

std::string PublicKeyHex(HCRYPTKEY key) {
    DWORD len = 0;
    Check(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &len), "CryptExportKey");
    std::string blob(len, '\0');
    Check(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, reinterpret_cast<BYTE*>(blob.data()), &len),
          "CryptExportKey");
    blob.resize(len);
    return svc::BytesToHex(blob);
}

void Credentials(const std::string& user, const std::string& password) {
    std::string error;
    std::string userHex = svc::EncryptStringWithPassPhrase(rtl::Utf8ToAnsi(user), kIniPassPhrase, error);
    if (!error.empty()) throw ECommand(error);
    std::string passwordHex =
        svc::EncryptStringWithPassPhrase(rtl::Utf8ToAnsi(password), kIniPassPhrase, error);
    if (!error.empty()) throw ECommand(error);
    std::cout << "UserName=" << userHex << "\nPassword=" << passwordHex << "\n";
}

void NewKey(const std::string& container, DWORD bits, bool replace) {
    TContainer c(container, true);
    c.MayReplaceKey(replace);
    HCRYPTKEY key = 0;
    Check(CryptGenKey(c.Handle(), AT_KEYEXCHANGE, (bits << 16) | CRYPT_EXPORTABLE, &key), "CryptGenKey");
    c.Adopt(key);
    c.Keep();
    std::cout << PublicKeyHex(key) << "\n";
}

void ImportKey(const std::string& container, const std::string& file, bool replace) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ECommand("cannot read " + file);
    std::string blob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto le32 = [&blob](size_t at) {
        return DWORD(uint8_t(blob[at])) | DWORD(uint8_t(blob[at + 1])) << 8 |
               DWORD(uint8_t(blob[at + 2])) << 16 | DWORD(uint8_t(blob[at + 3])) << 24;
    };
    if (blob.size() < 8 || uint8_t(blob[0]) != PRIVATEKEYBLOB)
        throw ECommand(file + " is not a private key blob (openssl rsa -outform MSBLOB writes one)");
    if (le32(4) != CALG_RSA_KEYX) throw ECommand(file + " holds no key-exchange key");
    TContainer c(container, true);
    c.MayReplaceKey(replace);
    HCRYPTKEY key = 0;
    Check(CryptImportKey(c.Handle(), reinterpret_cast<const BYTE*>(blob.data()), DWORD(blob.size()), 0,
                         CRYPT_EXPORTABLE, &key),
          "CryptImportKey");
    c.Adopt(key);
    c.Keep();
}

void PublicKey(const std::string& container) {
    TContainer c(container, false);
    HCRYPTKEY key = c.ExchangeKey();
    if (!key) throw ECommand("key container \"" + container + "\" holds no key pair");
    std::cout << PublicKeyHex(key) << "\n";
}

void DecryptFile(const std::string& in, const std::string& out, const std::string& container) {
    // The service's reader creates a missing container; a mistyped name here must not.
    TContainer existing(container, false);
    std::string error;
    if (!svc::DecryptFileWithKey(in, out, container, error)) throw ECommand(error);
}

// Takes "--replace" out of the arguments; true when it was there.
bool TakeReplace(std::vector<std::string>& a) {
    auto at = std::find(a.begin(), a.end(), "--replace");
    if (at == a.end()) return false;
    a.erase(at);
    return true;
}

// Runs the command; false when the command line is not one of the usage.
bool Run(std::vector<std::string> a) {
    const std::string cmd = a[0];
    a.erase(a.begin());
    const size_t n = a.size();
    if (cmd == "credentials" && n == 2) {
        Credentials(a[0], a[1]);
    } else if (cmd == "scramble" && n == 1) {
        std::cout << svc::BytesToHex(svc::XorString(rtl::Utf8ToAnsi(a[0]))) << "\n";
    } else if (cmd == "new-key") {
        bool replace = TakeReplace(a);
        if (a.size() != 1 && a.size() != 2) return false;
        NewKey(a[0], a.size() == 2 ? ParseKeyBits(a[1]) : kDefaultKeyBits, replace);
    } else if (cmd == "import-key") {
        bool replace = TakeReplace(a);
        if (a.size() != 2) return false;
        ImportKey(a[0], a[1], replace);
    } else if (cmd == "public-key" && n == 1) {
        PublicKey(a[0]);
    } else if (cmd == "encrypt-file" && n == 3) {
        std::string error;
        if (!svc::EncryptFileWithKey(a[0], a[1], a[2], kExportContainer, error)) throw ECommand(error);
    } else if (cmd == "decrypt-file" && n == 3) {
        DecryptFile(a[0], a[1], a[2]);
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (!a.empty() && (a[0] == "-h" || a[0] == "--help")) {
        std::cout << UsageText();
        return 0;
    }
    try {
        if (!a.empty() && Run(a)) return 0;
    } catch (const std::exception& e) {
        std::cerr << "zuvcrypt: " << e.what() << "\n";
        return 1;
    }
    std::cerr << UsageText();
    return 2;
}
