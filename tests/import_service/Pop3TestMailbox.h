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

struct TAttachmentSpec {
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
inline std::string Letter(const std::string& subjectHeader, const std::vector<TAttachmentSpec>& attachments,
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

struct TMailbox {
    struct TStored {
        std::string raw;
        std::string uid;
        bool deleted = false;
    };
    std::vector<TStored> letters;
    std::set<int> failRetrieve;  // RETR answers -ERR
    std::set<int> dropRetrieve;  // RETR loses the connection (once)
    std::set<int> failUid;       // UIDL n answers -ERR
    std::set<int> dropDelete;    // DELE loses the connection (once)
    bool refuseLogin = false;
    int logins = 0;
    int quits = 0;

    void Add(const std::string& raw) { letters.push_back({raw, "uid-" + std::to_string(nextUid_++)}); }
    std::vector<std::string> Uids() const {
        std::vector<std::string> out;
        for (const auto& l : letters) out.push_back(l.uid);
        return out;
    }

private:
    int nextUid_ = 1;
};

class TFakeClient : public svc::TPop3Client {
public:
    explicit TFakeClient(TMailbox& box) : box_(box) {}

    void Connect() override { Ensure(); }
    int MessageCount() override {
        Ensure();
        return static_cast<int>(box_.letters.size());
    }
    std::string Retrieve(int n) override {
        auto& letter = At(n);
        if (box_.dropRetrieve.erase(n)) Drop();
        if (box_.failRetrieve.count(n)) throw svc::EPop3Error("-ERR No such message");
        return letter.raw;
    }
    std::string UniqueId(int n) override {
        auto& letter = At(n);
        if (box_.failUid.count(n)) throw svc::EPop3Error("-ERR UIDL refused");
        return letter.uid;
    }
    std::vector<std::pair<int, std::string>> UniqueIds() override {
        Ensure();
        std::vector<std::pair<int, std::string>> ids;
        for (std::size_t i = 0; i < box_.letters.size(); ++i)
            if (!box_.letters[i].deleted) ids.emplace_back(static_cast<int>(i + 1), box_.letters[i].uid);
        return ids;
    }
    void Delete(int n) override {
        auto& letter = At(n);
        if (box_.dropDelete.erase(n)) Drop();
        letter.deleted = true;
    }
    void Disconnect() override {
        if (!connected_) return;
        ++box_.quits;
        connected_ = false;
        std::erase_if(box_.letters, [](const auto& l) { return l.deleted; });
    }
    bool Reconnected() const override { return reconnected_; }

private:
    void Ensure() {
        if (connected_) return;
        if (box_.refuseLogin) throw svc::EPop3Error("-ERR [AUTH] Authentication failed.");
        ++box_.logins;
        if (everConnected_) reconnected_ = true;
        everConnected_ = connected_ = true;
    }
    TMailbox::TStored& At(int n) {
        Ensure();
        if (n < 1 || n > static_cast<int>(box_.letters.size()) || box_.letters[n - 1].deleted)
            throw svc::EPop3Error("-ERR There's no message " + std::to_string(n) + ".");
        return box_.letters[n - 1];
    }
    // The connection ends without QUIT: the server forgets its deletions.
    [[noreturn]] void Drop() {
        connected_ = false;
        for (auto& l : box_.letters) l.deleted = false;
        throw svc::EPop3Error("Connection died");
    }

    TMailbox& box_;
    bool connected_ = false;
    bool everConnected_ = false;
    bool reconnected_ = false;
};

}  // namespace pop3test
