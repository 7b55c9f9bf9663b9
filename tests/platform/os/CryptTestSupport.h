// Shared pieces of the crypt tests: a key store of its own per test, key blobs, whole files
// and the shell.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/WinCrypt.h"

namespace crypttest {

// Runs a shell command; returns its exit status and fills out with its standard output.
inline int Shell(const std::string& command, std::string* out = nullptr) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
    int status = pclose(pipe);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Lower-case hex digits of bytes.
inline std::string ToHex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string ToHex(const std::vector<uint8_t>& b) {
    return ToHex(b.data(), b.size());
}

// Data is std::string or a vector of bytes.
template <class Data = std::string>
Data ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, std::string_view data) {
    std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    WriteFile(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

// A key's blob of the given type, wrapped with exchange for a SIMPLEBLOB.
template <class Blob = std::string>
Blob ExportKeyBlob(os::HCRYPTKEY key, os::HCRYPTKEY exchange, os::DWORD type) {
    os::DWORD len = 0;
    EXPECT_TRUE(os::CryptExportKey(key, exchange, type, 0, nullptr, &len));
    Blob blob(len, 0);
    EXPECT_TRUE(os::CryptExportKey(key, exchange, type, 0, reinterpret_cast<os::BYTE*>(blob.data()), &len))
        << std::hex << os::GetLastError();
    blob.resize(len);
    return blob;
}

// Runs every test against a fresh key store in a temporary folder of its own; the crypt
// settings are put back afterwards.
class KeyStoreTest : public ::testing::Test {
protected:
    explicit KeyStoreTest(std::string prefix = "crypt") : prefix_(std::move(prefix)) {}

    void SetUp() override {
        saved_ = os::CryptConfig();
        std::string pattern = "/tmp/" + prefix_ + "_XXXXXX";
        const char* made = mkdtemp(pattern.data());
        ASSERT_NE(made, nullptr);
        folder_ = made;
        os::TCryptConfig c;
        c.KeyStoreFolder = folder_ + "/store";
        os::SetCryptConfig(c);
    }
    void TearDown() override {
        os::SetCryptConfig(saved_);
        std::filesystem::remove_all(folder_);
    }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }

    os::TCryptConfig saved_;
    std::string folder_;

private:
    std::string prefix_;
};

}  // namespace crypttest
