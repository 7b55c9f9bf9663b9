// The mail check of the POP3 gateway: which letters are accepted, how their attachments reach
// the import folder and when a letter is deleted on the server.
#include "import_service/uPop3Gateway.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/uMailSubject.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Strings.h"

namespace svc {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the content to a new hidden temporary beside the target ("." + name + ".tmpXXXXXX",
// the form the runtime's moves use), flushed to disk. On failure nothing is left behind.
bool WriteTemporary(const std::string& target, const std::string& content, std::string& temp,
                    std::string& reason) {
    std::string pattern = rtl::ExtractFilePath(target) + "." + rtl::ExtractFileName(target) + ".tmpXXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = rtl::SysErrorMessage(errno);
        return false;
    }
    temp = pattern;
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 && ok) ok = false;
    if (ok) return true;
    reason = rtl::SysErrorMessage(writeError ? writeError : errno);
    ::unlink(temp.c_str());
    temp.clear();
    return false;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(rtl::SysFileName(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

TPop3Gateway::TPop3Gateway(const std::string& attachmentFolder)
    : attachmentFolder_(attachmentFolder.empty() ? attachmentFolder
                                                 : rtl::IncludeTrailingPathDelimiter(attachmentFolder)),
      clientFactory_([](const TPop3Gateway& gateway) {
          return NewCurlPop3Client(gateway.Host(), gateway.Port(), gateway.UserName(), gateway.Password(),
                                   gateway.UseTls());
      }) {}

void TPop3Gateway::Configure(const TPop3Params& params) {
    attachmentFolder_ = params.CFolderQelImport.empty()
                            ? params.CFolderQelImport
                            : rtl::IncludeTrailingPathDelimiter(params.CFolderQelImport);
    host_ = params.POP3Server;
    port_ = params.POP3Port;
    userName_ = params.POP3Login;
    password_ = params.POP3Pass;
    useTls_ = params.POP3Ssl;
}

void TPop3Gateway::LogMessage(const std::string& text, bool important) const {
    if (!onLog_) return;
    try {
        onLog_(text, important);
    } catch (...) {
        // The journal must not end the mail check.
    }
}

bool TPop3Gateway::AlreadyProcessed(const std::string& subject) const {
    // Remembered as received, compared trimmed: blanks around a subject must not let the same
    // letter in twice.
    const std::string wanted = rtl::Trim(subject);
    for (const auto& seen : processedSubjects_)
        if (rtl::AnsiSameText(rtl::Trim(seen), wanted)) return true;
    return false;
}

bool TPop3Gateway::CheckSubject(const std::string& subject, const std::string& prefix) const {
    return !AlreadyProcessed(subject) && CheckSignedSubject(subject, prefix);
}

void TPop3Gateway::CheckSettings() const {
    if (host_.empty()) throw EMailError("Host pop3 is not set");
    if (userName_.empty()) throw EMailError("Username is not set");
    if (password_.empty()) throw EMailError("Password is not set");
    if (port_ < 1 || port_ > 65535) throw EMailError("Port pop3 is not valid: " + std::to_string(port_));
}

bool TPop3Gateway::ReceiveMail(const std::string& prefix) {
    bool received = false;
    try {
        CheckSettings();
        std::unique_ptr<TPop3Client> client = clientFactory_(*this);
        try {
            client->Connect();
        } catch (const std::exception& e) {
            LogError("Error POP3: Unsuccessful connecting to server. Error: " + Quoted(e.what()));
            client->Disconnect();
            throw;
        }
        try {
            received = ReadLetters(*client, prefix);
            client->Disconnect();
        } catch (const std::exception& e) {
            LogMessage("Error POP3: " + Quoted(e.what()));
            client->Disconnect();
            throw;
        }
    } catch (const std::exception& e) {
        LogError("ERROR on MailRead (" + std::string(e.what()) + ")");
    } catch (...) {
        LogError("ERROR on MailRead (unknown error)");
    }
    return received;
}

// The letters of the mailbox by unique id. A letter's number holds only on the connection that
// listed it, and libcurl ends a connection after any failed request (the server then removes the
// letters deleted so far and numbers the rest anew, or forgets those deletions), so the view
// lists the letters again whenever the connection has changed.
class TMailboxView {
public:
    explicit TMailboxView(TPop3Client& client) : client_(client) {}

    // Lists the letters on the current connection.
    const std::vector<std::pair<int, std::string>>& List() {
        listing_ = client_.UniqueIds();
        listedOn_ = client_.ConnectionCount();
        return listing_;
    }

    // The letter's number on the current connection; 0 when it is no longer there.
    int NumberOf(const std::string& id) {
        if (listedOn_ != client_.ConnectionCount() || !client_.Connected()) List();
        for (const auto& [number, listed] : listing_)
            if (listed == id) return number;
        return 0;
    }

    std::string Retrieve(const std::string& id) {
        const int number = NumberOf(id);
        if (!number) throw EPop3Error("The letter is no longer on the server");
        return client_.Retrieve(number);
    }

    void Delete(const std::string& id) {
        if (const int number = NumberOf(id)) client_.Delete(number);
    }

private:
    TPop3Client& client_;
    std::vector<std::pair<int, std::string>> listing_;
    int listedOn_ = -1;
};

bool TPop3Gateway::ReadLetters(TPop3Client& client, const std::string& prefix) {
    TMailboxView mailbox(client);
    const std::vector<std::pair<int, std::string>> letters = mailbox.List();
    std::set<std::string> processedIds;
    TMailMessage message;
    bool retrievalFailed = false;
    int received = 0;
    if (!letters.empty()) LogMessage("Count of letters: " + std::to_string(letters.size()));
    for (std::size_t index = 0; index < letters.size(); ++index) {
        const std::string i = std::to_string(index + 1);
        const std::string& id = letters[index].second;
        LogMessage(std::string(42, '-'), false);
        try {
            message.Parse(mailbox.Retrieve(id));
        } catch (const std::exception& e) {
            LogError(std::string(e.what()) + "email #" + i);
            retrievalFailed = true;
            continue;
        }
        const std::string subject = rtl::Trim(message.Subject());
        LogMessage("Subject of letter # " + i + " : " + Quoted(subject));
        if (AlreadyProcessed(subject)) {
            // Saved by an earlier check whose deletion did not reach the server.
            LogMessage("    POP3: Letter was received before. Deleted from server again.");
            mailbox.Delete(id);
            continue;
        }
        if (!CheckSubject(subject, prefix)) continue;
        AcceptLetter(mailbox, id, message, processedIds);
        ++received;
    }
    // A lost connection made the server forget this check's deletions.
    if ((retrievalFailed || client.ConnectionCount() > 1) && !processedIds.empty())
        DeleteRepeated(processedIds, mailbox);
    if (received > 0) LogMessage("Total received " + std::to_string(received) + ".");
    return received > 0;
}

void TPop3Gateway::AcceptLetter(TMailboxView& mailbox, const std::string& id, const TMailMessage& message,
                                std::set<std::string>& processedIds) {
    LogMessage("This letter contain data for import");
    if (!rtl::DirectoryExists(attachmentFolder_)) rtl::ForceDirectories(attachmentFolder_);
    LogMessage(std::string(25, '-'));
    LogMessage("  POP3: Letter received :");
    LogMessage("  From:   " + message.FromAddress() + " <" + message.FromName() + ">");
    int saved = 0;
    const TSaveOutcome outcome = SaveAttachments(message, saved);
    if (outcome != TSaveOutcome::SomeNotSaved) {
        // The attachments are on disk: whatever fails from here on, the letter must not be
        // taken again.
        processedSubjects_.push_back(message.Subject());
        processedIds.insert(id);
        mailbox.Delete(id);
    }
    switch (outcome) {
        case TSaveOutcome::NoAttachment:
            LogMessage("    POP3: Letter without attachment was deleted.");
            break;
        case TSaveOutcome::AllSaved:
            LogMessage("    POP3: Letter was deleted from server. Attachment saved.");
            break;
        case TSaveOutcome::SomeNotSaved:
            LogMessage("    POP3: Saved " + std::to_string(saved) + " of " +
                       std::to_string(message.Attachments().size()) +
                       " message attachments. Not saved files keeped on mail server.");
            break;
    }
}

// All or nothing: every attachment is first written to a temporary beside its target; only
// when all of them are written are they renamed into place. A letter that stays on the server
// is read again by the next check, and a package saved from it now would then be imported twice.
TPop3Gateway::TSaveOutcome TPop3Gateway::SaveAttachments(const TMailMessage& message, int& saved) {
    saved = 0;
    const auto& attachments = message.Attachments();
    if (attachments.empty()) return TSaveOutcome::NoAttachment;
    struct TStaged {
        std::string temp, target, name;
    };
    std::vector<TStaged> staged;
    std::set<std::string> names;
    const std::string sysFolder = rtl::SysFileName(attachmentFolder_);
    for (const auto& attachment : attachments) {
        std::string name, reason, temp;
        bool named = AttachmentFileName(attachment.FileName, name, reason);
        // Names stay UTF-8 here, as on disk; one the program could not name later is refused now.
        std::string ansiName;
        if (named && !rtl::TryAnsiFileName(name, ansiName)) {
            named = false;
            reason = "the name cannot be represented in code page " + std::to_string(rtl::AnsiCodePage);
        }
        if (named && !names.insert(name).second) {
            named = false;
            reason = "another attachment of the letter has the same name";
        }
        if (named && WriteTemporary(sysFolder + name, attachment.Content, temp, reason)) {
            staged.push_back({temp, sysFolder + name, name});
            continue;
        }
        LogMessage("    Error while saving included file");
        LogMessage("    " + Quoted(rtl::Utf8ToAnsi(attachment.FileName)) + ": " + reason);
    }
    if (staged.size() < attachments.size()) {
        for (const auto& s : staged) ::unlink(s.temp.c_str());
        return TSaveOutcome::SomeNotSaved;
    }
    for (const auto& s : staged) {
        if (::rename(s.temp.c_str(), s.target.c_str()) == 0) {
            ++saved;
            LogMessage("    File formed: " + attachmentFolder_ + rtl::Utf8ToAnsi(s.name));
            continue;
        }
        const int error = errno;
        ::unlink(s.temp.c_str());
        LogMessage("    Error while saving included file");
        LogMessage("    " + Quoted(rtl::Utf8ToAnsi(s.name)) + ": " + rtl::SysErrorMessage(error));
    }
    SyncFolder(attachmentFolder_);
    return saved == static_cast<int>(attachments.size()) ? TSaveOutcome::AllSaved
                                                         : TSaveOutcome::SomeNotSaved;
}

void TPop3Gateway::DeleteRepeated(const std::set<std::string>& processedIds, TPop3Client& client) {
    TMailboxView mailbox(client);
    DeleteRepeated(processedIds, mailbox);
}

void TPop3Gateway::DeleteRepeated(const std::set<std::string>& processedIds, TMailboxView& mailbox) {
    try {
        std::vector<std::pair<int, std::string>> letters;
        try {
            letters = mailbox.List();
        } catch (const std::exception& e) {
            LogError(e.what());
            return;
        }
        for (const auto& [number, id] : letters) {
            if (!processedIds.count(id)) continue;
            LogMessage("Repeated remove UIN:" + id);
            try {
                mailbox.Delete(id);
            } catch (const std::exception& e) {
                LogError(e.what());
            }
        }
    } catch (...) {
        // Anything else ends the repeat silently: the next check meets the letters again.
    }
}

}  // namespace svc
