// POP3 gateway: reads the import mailbox, saves the attachments of letters with a valid signed
// subject into the import folder and deletes those letters from the server. The POP3 client is
// libcurl; letters are read with GMime.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/uSmtpGateway.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

// Missing mailbox settings.
class EMailError : public rtl::EAbort {
public:
    using rtl::EAbort::EAbort;
    const char* ClassName() const override { return "EMailError"; }
};

// A failed POP3 request; the message is the server's reply or the transport's error text.
RTL_EXCEPTION_CLASS(EPop3Error, rtl::Exception);

// The exchange settings the gateway works with, under their setting names. The import's
// parameters store fills them (POP3Login and POP3Pass already unscrambled).
struct TPop3Params {
    std::string CFolderQelImport;  // the attachment folder
    std::string POP3Server;
    int POP3Port = 110;
    std::string POP3Login;
    std::string POP3Pass;
    bool POP3Ssl = false;
};

// ---- Building blocks of the gateway, open for tests ---------------------------------------

// One attachment as the letter carries it: its file name (UTF-8, as decoded from the MIME
// headers; may be empty or hostile) and its decoded content.
struct TMailAttachment {
    std::string FileName;
    std::string Content;
};

// A retrieved letter, read with GMime. Header texts without a declared character set are read
// as UTF-8 when they are valid UTF-8, else as windows-1251.
class TMailMessage {
public:
    // Reads a letter as the server sent it; raises EPop3Error when it is no MIME message.
    void Parse(const std::string& raw);
    void Clear();

    // ANSI (1251) texts for the journal and the subject check.
    const std::string& Subject() const { return subject_; }
    const std::string& FromAddress() const { return fromAddress_; }
    const std::string& FromName() const { return fromName_; }
    // Parts that are attachments (a disposition "attachment" or a file name), in letter order.
    const std::vector<TMailAttachment>& Attachments() const { return attachments_; }

private:
    std::string subject_;
    std::string fromAddress_;
    std::string fromName_;
    std::vector<TMailAttachment> attachments_;
};

// The name under which an attachment may be saved in the import folder: the part after the last
// "/" or "\" of its name. Refused (false, with the reason) when that part is empty, "." or "..",
// holds control characters, is not valid UTF-8 or is too long for a file name.
bool AttachmentFileName(const std::string& name, std::string& safeName, std::string& reason);

// The POP3 operations the gateway uses. A request that fails raises EPop3Error and may end the
// connection: libcurl closes it after any failure, with QUIT when it still can (the server then
// removes the letters deleted so far and numbers the rest anew) or without (the server forgets
// those deletions). The next request opens a new connection, except the numbered ones: they
// refuse to run on a connection other than the one their number came from.
class TPop3Client {
public:
    virtual ~TPop3Client() = default;
    // Connects and logs in.
    virtual void Connect() = 0;
    // UIDL: (number, unique id) of every letter not marked as deleted, on the current
    // connection (a new one when it has ended).
    virtual std::vector<std::pair<int, std::string>> UniqueIds() = 0;
    virtual std::string Retrieve(int number) = 0;  // RETR: the letter as sent
    virtual void Delete(int number) = 0;           // DELE
    // QUIT, when connected: the server removes the deleted letters now. Never raises.
    virtual void Disconnect() = 0;
    // True while the connection the last request used is open.
    virtual bool Connected() = 0;
    // Connections opened so far.
    virtual int ConnectionCount() const = 0;
};

// The libcurl client: pop3:// or, with TLS, pop3s:// (encrypted from the first byte; the
// server's certificate is not checked, as mail servers are reached with self-made ones).
std::unique_ptr<TPop3Client> NewCurlPop3Client(const std::string& host, int port, const std::string& userName,
                                               const std::string& password, bool useTls);

// ---- The gateway ----------------------------------------------------------------------------

class TMailboxView;

class TPop3Gateway {
public:
    using TClientFactory = std::function<std::unique_ptr<TPop3Client>(const TPop3Gateway& gateway)>;

    // The attachment folder gets a trailing path delimiter.
    explicit TPop3Gateway(const std::string& attachmentFolder);

    // Takes folder, host, port, user name, password and TLS from the exchange settings.
    void Configure(const TPop3Params& params);

    void SetHost(const std::string& host) { host_ = host; }
    void SetPort(int port) { port_ = port; }
    void SetUserName(const std::string& name) { userName_ = name; }
    void SetPassword(const std::string& password) { password_ = password; }
    void SetUseTls(bool on) { useTls_ = on; }
    void SetOnLog(TLogEvent callback) { onLog_ = std::move(callback); }
    // The client each mail check creates; the libcurl client unless a test sets another.
    void SetClientFactory(TClientFactory factory) { clientFactory_ = std::move(factory); }

    const std::string& AttachmentFolder() const { return attachmentFolder_; }
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    const std::string& UserName() const { return userName_; }
    const std::string& Password() const { return password_; }
    bool UseTls() const { return useTls_; }

    // One mail check; true when at least one letter was accepted. Never raises: every failure
    // ends in journal lines.
    bool ReceiveMail(const std::string& prefix);
    // False for a subject accepted before (compared without regard to case), else the check of
    // the signed subject with the given prefix.
    bool CheckSubject(const std::string& subject, const std::string& prefix) const;
    // Deletes again the letters whose unique ids were processed in this check: after a lost
    // connection the server has forgotten those deletions.
    void DeleteRepeated(const std::set<std::string>& processedIds, TPop3Client& client);

    const std::vector<std::string>& ProcessedSubjects() const { return processedSubjects_; }

private:
    enum class TSaveOutcome { NoAttachment, AllSaved, SomeNotSaved };

    void LogMessage(const std::string& text, bool important = true) const;
    void LogError(const std::string& text) const { LogMessage("Error: " + text); }
    bool AlreadyProcessed(const std::string& subject) const;
    void CheckSettings() const;
    bool ReadLetters(TPop3Client& client, const std::string& prefix);
    void AcceptLetter(TMailboxView& mailbox, const std::string& id, const TMailMessage& message,
                      std::set<std::string>& processedIds);
    TSaveOutcome SaveAttachments(const TMailMessage& message, int& saved);
    void DeleteRepeated(const std::set<std::string>& processedIds, TMailboxView& mailbox);

    std::string attachmentFolder_;
    std::string host_;
    int port_ = 110;
    std::string userName_;
    std::string password_;
    bool useTls_ = false;
    std::vector<std::string> processedSubjects_;
    TLogEvent onLog_;
    TClientFactory clientFactory_;
};

}  // namespace svc
