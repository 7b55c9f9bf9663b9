// The loopback mail pair of scripts/mail-pair for a test: an SMTP server delivering into a
// Maildir that dovecot serves over POP3 (plain and implicit TLS), in a folder of the test's own.
// Letters put into <folder>/Maildir before Start are served as well.
#pragma once

#include <signal.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/common/ServerProcess.h"

namespace testserver {

class TMailPair {
public:
    TMailPair(std::string folder, std::string user, std::string password)
        : folder_(std::move(folder)), user_(std::move(user)), password_(std::move(password)) {}

    void Start() {
        std::filesystem::create_directories(folder_);
        process_ = std::make_unique<TServerProcess>(
            std::vector<std::string>{"/usr/bin/python3", DX_SOURCE_DIR "/scripts/mail-pair", "run", folder_,
                                     "--user", user_, "--password", password_},
            folder_ + "/mail-pair.log", SIGTERM);
        std::istringstream ports(process_->ReadLine(60));
        std::string word;
        ports >> word;
        while (ports >> word) {
            const auto eq = word.find('=');
            const int port = std::stoi(word.substr(eq + 1));
            const std::string name = word.substr(0, eq);
            (name == "smtp" ? smtp_ : name == "pop3" ? pop3_ : pop3s_) = port;
        }
        if (!smtp_ || !pop3_ || !pop3s_)
            throw std::runtime_error("the mail pair did not start, see " + folder_ + "/mail-pair.log");
    }
    void Stop() { process_.reset(); }

    int SmtpPort() const { return smtp_; }
    int Pop3Port() const { return pop3_; }
    int Pop3TlsPort() const { return pop3s_; }
    std::string Maildir() const { return folder_ + "/Maildir"; }

private:
    std::string folder_, user_, password_;
    std::unique_ptr<TServerProcess> process_;
    int smtp_ = 0, pop3_ = 0, pop3s_ = 0;
};

}  // namespace testserver
