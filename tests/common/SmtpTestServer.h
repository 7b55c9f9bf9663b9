// The SMTP servers the mail tests start on 127.0.0.1: aiosmtpd (smtp_test_server.py), which
// saves every accepted message with a summary made by Python's email package, and a scripted
// server (smtp_fault_server.py) whose first connection fails in a chosen way.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/common/ServerProcess.h"

namespace smtptest {

namespace fs = std::filesystem;

inline const char* const kPython = "/usr/bin/python3";  // Debian's, which has aiosmtpd

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "smtp_it_XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// The test server process: started with its options, stopped by closing its input.
class SmtpServer {
public:
    explicit SmtpServer(const std::vector<std::string>& options) {
        std::vector<std::string> args = {kPython, DX_SOURCE_DIR "/tests/common/smtp_test_server.py", "--dir",
                                         dir_.Path().string()};
        args.insert(args.end(), options.begin(), options.end());
        std::string log = (dir_.Path() / "server.log").string();
        process_ = std::make_unique<testserver::TServerProcess>(args, log);
        port_ = process_->ReadPort();
        if (port_ == 0) {
            process_.reset();
            throw std::runtime_error("the SMTP test server did not start: " + ReadFile(log));
        }
    }

    std::string Port() const { return std::to_string(port_); }
    const fs::path& Dir() const { return dir_.Path(); }
    bool HasMessage(int n) const { return fs::exists(Dir() / (std::to_string(n) + ".txt")); }

    // The summary of accepted message n (1-based) as key -> value.
    std::map<std::string, std::string> Summary(int n) const {
        std::map<std::string, std::string> out;
        std::istringstream in(ReadFile(Dir() / (std::to_string(n) + ".txt")));
        std::string line;
        while (std::getline(in, line)) {
            std::size_t eq = line.find('=');
            if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return out;
    }
    std::string Attachment(int n, int i) const {
        return ReadFile(Dir() / (std::to_string(n) + ".att" + std::to_string(i)));
    }

private:
    TempDir dir_;
    std::unique_ptr<testserver::TServerProcess> process_;
    int port_ = 0;
};

// The scripted server of smtp_fault_server.py: its first connection fails as the fault says,
// later ones accept every letter and list them in "letters" as "<connection> <recipient>".
class FaultServer {
public:
    explicit FaultServer(const std::string& fault) {
        std::vector<std::string> args = {kPython,   DX_SOURCE_DIR "/tests/common/smtp_fault_server.py",
                                         "--dir",   dir_.Path().string(),
                                         "--fault", fault};
        process_ = std::make_unique<testserver::TServerProcess>(args, (dir_.Path() / "server.log").string());
        port_ = process_->ReadPort();
        if (port_ == 0) throw std::runtime_error("the SMTP fault server did not start");
    }
    std::string Port() const { return std::to_string(port_); }
    std::string Letters() const { return ReadFile(dir_.Path() / "letters"); }

private:
    TempDir dir_;
    std::unique_ptr<testserver::TServerProcess> process_;
    int port_ = 0;
};

using testserver::UnusedPort;

}  // namespace smtptest
