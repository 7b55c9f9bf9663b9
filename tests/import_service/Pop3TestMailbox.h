// An in-process mailbox behind the gateway's client interface, with the POP3 rules that matter
// to the gateway: deletions take effect at QUIT and are forgotten when a connection is lost.
#pragma once

#include <openssl/evp.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "import_service/uPop3Gateway.h"

namespace pop3test {

struct TAttachmentPart {
    std::string dispositionParams;  // e.g. "filename=\"a.zip\"" or "filename*=utf-8''%D0%90.zip"
    std::string content;
};

inline std::string Base64(const std::string& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    std::string lines;
    for (std::size_t i = 0; i < out.size(); i += 76) lines += out.substr(i, 76) + "\r\n";
    return lines;
}

// A multipart letter with a plain text body and one base64 part per attachment.
inline std::string Letter(const std::string& subjectHeader, const std::vector<TAttachmentPart>& attachments,
                          const std::string& from = "\"Web Portal\" <web@portal.example>") {
    std::string m = "From: " + from + "\r\nTo: import@bank.example\r\nSubject: " + subjectHeader +
                    "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n"
                    "--b0\r\nContent-Type: text/plain; charset=windows-1251\r\n\r\nbody text\r\n";
    for (const auto& a : attachments)
        m += "--b0\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; " +
             a.dispositionParams + "\r\n\r\n" + Base64(a.content);
    return m + "--b0--\r\n";
}

// Failures are chosen by unique id ("uid-<n>", n counting the letters added from 1).
struct TMailbox {
    struct TStored {
        std::string raw;
        std::string uid;
        bool deleted = false;
    };
    std::vector<TStored> letters;
    std::set<std::string> failRetrieve;  // RETR answers -ERR
    std::set<std::string> dropRetrieve;  // RETR loses the connection (once)
    std::set<std::string> dropDelete;    // DELE loses the connection (once)
    bool refuseLogin = false;
    int logins = 0;
    int quits = 0;

    void Add(const std::string& raw) { letters.push_back({raw, "uid-" + std::to_string(nextUid_++)}); }
    std::vector<std::string> Uids() const {
        std::vector<std::string> out;
        for (const auto& l : letters) out.push_back(l.uid);
        return out;
    }
    // QUIT: the marked letters go, the rest are numbered anew.
    void Commit() {
        ++quits;
        std::erase_if(letters, [](const auto& l) { return l.deleted; });
    }
    // A connection lost without QUIT: its deletions are forgotten.
    void Forget() {
        for (auto& l : letters) l.deleted = false;
    }

private:
    int nextUid_ = 1;
};

// Behaves as the libcurl client does: a refused request ends the connection with QUIT, a
// numbered request never runs on a connection other than the one that listed the numbers.
class TFakeClient : public svc::TPop3Client {
public:
    explicit TFakeClient(TMailbox& box) : box_(box) {}

    void Connect() override { Ensure(); }
    std::vector<std::pair<int, std::string>> UniqueIds() override {
        Ensure();
        std::vector<std::pair<int, std::string>> ids;
        for (std::size_t i = 0; i < box_.letters.size(); ++i)
            if (!box_.letters[i].deleted) ids.emplace_back(static_cast<int>(i + 1), box_.letters[i].uid);
        return ids;
    }
    std::string Retrieve(int n) override {
        auto& letter = At(n);
        if (box_.dropRetrieve.erase(letter.uid)) Drop();
        if (box_.failRetrieve.count(letter.uid)) Refuse("-ERR retrieval failed");
        return letter.raw;
    }
    void Delete(int n) override {
        auto& letter = At(n);
        if (box_.dropDelete.erase(letter.uid)) Drop();
        letter.deleted = true;
    }
    void Disconnect() override {
        if (!connected_) return;
        connected_ = false;
        box_.Commit();
    }
    bool Connected() override { return connected_; }
    int ConnectionCount() const override { return connections_; }

private:
    void Ensure() {
        if (connected_) return;
        if (box_.refuseLogin) throw svc::EPop3Error("-ERR [AUTH] Authentication failed.");
        ++box_.logins;
        ++connections_;
        connected_ = true;
    }
    TMailbox::TStored& At(int n) {
        if (!connected_) throw svc::EPop3Error("numbered request without its connection");
        if (n < 1 || n > static_cast<int>(box_.letters.size()) || box_.letters[n - 1].deleted)
            Refuse("-ERR There's no message " + std::to_string(n) + ".");
        return box_.letters[n - 1];
    }
    [[noreturn]] void Refuse(const std::string& reply) {
        Disconnect();
        throw svc::EPop3Error(reply);
    }
    [[noreturn]] void Drop() {
        connected_ = false;
        box_.Forget();
        throw svc::EPop3Error("Connection died");
    }

    TMailbox& box_;
    bool connected_ = false;
    int connections_ = 0;
};

}  // namespace pop3test
