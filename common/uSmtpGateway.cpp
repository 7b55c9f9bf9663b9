// The gateway thread and its SMTP client (libcurl).
#include "common/uSmtpGateway.h"

#include <curl/curl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <mutex>

#include "common/uCurlMail.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

// ---- TSmtpDialogue -------------------------------------------------------------------------

void TSmtpDialogue::Reset() {
    authPending_ = false;
    mailStarted_ = false;
    quitSent_ = false;
    lastReplyCode_ = 0;
    lastReply_.clear();
}

std::vector<std::string> TSmtpDialogue::Feed(bool outgoing, const char* data, std::size_t size) {
    std::vector<std::string> lines;
    std::string text(data, size);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(Line(outgoing, std::move(line)));
    }
    return lines;
}

namespace {

bool StartsWithWord(const std::string& line, const char* word) {
    std::size_t n = std::strlen(word);
    if (line.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
    return line.size() == n || line[n] == ' ' || line[n] == ':';
}

}  // namespace

std::string TSmtpDialogue::Line(bool outgoing, std::string line) {
    if (outgoing) {
        if (StartsWithWord(line, "AUTH")) {
            authPending_ = true;
            // "AUTH <mechanism> <initial response>": the response carries credentials.
            std::size_t mech = line.find(' ');
            std::size_t initial = line.find(' ', line.find_first_not_of(' ', mech));
            if (initial != std::string::npos) line = line.substr(0, initial) + " ****";
        } else if (authPending_) {
            line = "****";
        } else if (StartsWithWord(line, "MAIL")) {
            mailStarted_ = true;
        } else if (StartsWithWord(line, "QUIT")) {
            quitSent_ = true;
        }
        return "> " + line;
    }
    int code = 0;
    if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
        std::isdigit(static_cast<unsigned char>(line[1])) &&
        std::isdigit(static_cast<unsigned char>(line[2])))
        code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (authPending_ && code != 334) authPending_ = false;
    // The reply to QUIT, sent when a failed transfer closes the connection, must not hide
    // the reply that failed it.
    if (code && !quitSent_) {
        lastReplyCode_ = code;
        lastReply_ = line;
    }
    return "< " + line;
}

// ---- TSmtpClient ---------------------------------------------------------------------------

namespace {

std::string EhloDomain() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return "localhost";
    return buf;
}

}  // namespace

struct TSmtpOutcome {
    enum TStage { stOpen, stMail };
    bool ok = false;
    TStage stage = stOpen;
    int code = 0;
    std::string message;
    // The server answered the failing command; otherwise the connection itself failed.
    bool serverReply = false;
    // The connection failed before the server said anything in this transfer: on a kept
    // connection, one that had died while it waited.
    bool unanswered = false;
};

// One easy handle for the whole session: libcurl keeps the connection between letters and
// sends QUIT when the handle is cleaned up or a transfer is the last. A connection that failed
// under a transfer (a time-out, a reset, a message cut off) is never used again: the next
// transfer opens a new one.
class TSmtpClient {
public:
    using TJournal = std::function<void(const std::string& line)>;
    using TStopQuery = std::function<bool()>;

    TSmtpClient(TJournal journal, TStopQuery stop) : journal_(std::move(journal)), stop_(std::move(stop)) {
        curl_ = NewMailCurlHandle();
        if (!curl_) throw rtl::EOutOfMemory("Cannot create the SMTP client");
    }

    ~TSmtpClient() {
        if (curl_) curl_easy_cleanup(curl_);
    }

    // Returns an error text when the settings cannot make a session.
    std::string Configure(const std::string& host, const std::string& port, const std::string& user,
                          const std::string& password, int authType, bool useSsl, bool verifyPeer,
                          long timeoutSeconds) {
        long portNumber = 0;
        if (port.empty()) {
            portNumber = 25;
        } else if (port.find_first_not_of("0123456789") == std::string::npos && port.size() <= 5) {
            portNumber = std::stol(port);
        } else {
            struct servent entry {};
            struct servent* found = nullptr;
            char buf[1024];
            if (getservbyname_r(port.c_str(), "tcp", &entry, buf, sizeof buf, &found) == 0 && found)
                portNumber = ntohs(static_cast<uint16_t>(found->s_port));
        }
        if (portNumber <= 0 || portNumber > 65535) return "Invalid port \"" + port + "\"";
        if (host.empty()) return "No SMTP host";

        char* domain = curl_easy_escape(curl_, EhloDomain().c_str(), 0);
        std::string url = std::string(useSsl ? "smtps://" : "smtp://") + UrlHost(host) + ":" +
                          std::to_string(portNumber) + "/" + (domain ? domain : "localhost");
        curl_free(domain);

        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        SetMailCurlOptions(curl_, "smtp,smtps", verifyPeer, error_, timeoutSeconds);
        // The dialogue is always followed (it tells an open failure from a letter's failure);
        // whether it is journalled is the journal's choice.
        curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &TSmtpClient::Debug);
        curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &TSmtpClient::Progress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
        if ((authType == 1 || authType == 2) && !user.empty()) {
            curl_easy_setopt(curl_, CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.c_str());
            curl_easy_setopt(curl_, CURLOPT_LOGIN_OPTIONS, authType == 1 ? "AUTH=PLAIN" : "AUTH=LOGIN");
        }
        return std::string();
    }

    // Connect, greeting, EHLO and authentication only: a session with nothing to send.
    TSmtpOutcome Open() {
        Prepare();
        curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 1L);
        CURLcode rc = curl_easy_perform(curl_);
        curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 0L);
        return Outcome(rc);
    }

    TSmtpOutcome Send(const TLetter& letter, bool last) {
        Prepare();
        TSmtpOutcome outcome;
        outcome.stage = TSmtpOutcome::stMail;
        std::string recipient = SmtpAddress(letter.Recipient());
        if (recipient.empty()) {
            outcome.message = "No recipient";
            return outcome;
        }
        TMailComposer composer(letter);
        try {
            composer.Open();
        } catch (const rtl::Exception& e) {
            outcome.message = e.Message();
            return outcome;
        }
        std::string from = "<" + SmtpAddress(letter.From()) + ">";
        std::string to = "<" + recipient + ">";
        struct curl_slist* rcpt = curl_slist_append(nullptr, to.c_str());
        composer_ = &composer;
        curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, from.c_str());
        curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, rcpt);
        curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl_, CURLOPT_READFUNCTION, &TSmtpClient::ReadMessage);
        curl_easy_setopt(curl_, CURLOPT_READDATA, this);
        // The last letter closes the session at once, so that QUIT is part of the journal.
        curl_easy_setopt(curl_, CURLOPT_FORBID_REUSE, last ? 1L : 0L);
        CURLcode rc = curl_easy_perform(curl_);
        composer_ = nullptr;
        curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, nullptr);
        curl_slist_free_all(rcpt);
        return Outcome(rc);
    }

private:
    void Prepare() {
        dialogue_.Reset();
        readError_.clear();
        error_[0] = '\0';
        curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, broken_ ? 1L : 0L);
        broken_ = false;
    }

    TSmtpOutcome Outcome(CURLcode rc) {
        TSmtpOutcome outcome;
        outcome.ok = rc == CURLE_OK;
        outcome.stage = dialogue_.MailStarted() ? TSmtpOutcome::stMail : TSmtpOutcome::stOpen;
        if (outcome.ok) return outcome;
        long osError = 0;
        curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
        outcome.serverReply = readError_.empty() && dialogue_.LastReplyCode() >= 400;
        outcome.unanswered = readError_.empty() && dialogue_.LastReplyCode() == 0;
        if (!outcome.serverReply) Discard();
        if (!readError_.empty()) {
            outcome.code = rc;
            outcome.message = readError_;
        } else if (outcome.serverReply) {
            outcome.code = dialogue_.LastReplyCode();
            outcome.message = dialogue_.LastReply();
        } else {
            outcome.code = osError ? static_cast<int>(osError) : static_cast<int>(rc);
            outcome.message = error_[0] ? error_ : curl_easy_strerror(rc);
        }
        return outcome;
    }

    static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        auto* client = static_cast<TSmtpClient*>(self);
        if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT) return 0;
        try {
            auto lines = client->dialogue_.Feed(type == CURLINFO_HEADER_OUT, data, size);
            if (client->journal_)
                for (const auto& line : lines) client->journal_(line);
        } catch (...) {
            // The journal never stops the session.
        }
        return 0;
    }

    static size_t ReadMessage(char* buffer, size_t size, size_t count, void* self) {
        auto* client = static_cast<TSmtpClient*>(self);
        try {
            return client->composer_ ? client->composer_->Read(buffer, size * count) : 0;
        } catch (const rtl::Exception& e) {
            client->readError_ = e.Message();
        } catch (const std::exception& e) {
            client->readError_ = e.what();
        }
        return CURL_READFUNC_ABORT;
    }

    // Takes the failed connection out of use. libcurl keeps a connection whose transfer failed
    // after the message was sent (waiting for the final reply), and would offer the next letter
    // to it; a connection shut down here is found dead and dropped, and the next transfer opens
    // a new one.
    void Discard() {
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK && socket != CURL_SOCKET_BAD)
            ::shutdown(socket, SHUT_RDWR);
        broken_ = true;
    }

    // Ends the transfer under way when the gateway is told to stop.
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* client = static_cast<TSmtpClient*>(self);
        return client->stop_ && client->stop_() ? 1 : 0;
    }

    CURL* curl_ = nullptr;
    TJournal journal_;
    TStopQuery stop_;
    bool broken_ = false;
    TSmtpDialogue dialogue_;
    TMailComposer* composer_ = nullptr;
    std::string readError_;
    char error_[CURL_ERROR_SIZE] = {};
};

// ---- TSmtpGateway --------------------------------------------------------------------------

TSmtpGateway::TSmtpGateway() = default;

TSmtpGateway::~TSmtpGateway() {
    // Deleted by its user while the session runs: stop after the letter in progress.
    if (Started() && !Finished() && !FreeOnTerminate && rtl::GetCurrentThreadId() != ThreadID()) {
        Terminate();
        WaitFor();
    }
}

void TSmtpGateway::AddLetter(std::unique_ptr<TLetter> letter) {
    letter->SetOnLog(onLog_);
    queue_.push_back(std::move(letter));
}

void TSmtpGateway::Log(const std::string& text) {
    if (!onLog_) return;
    try {
        onLog_(std::to_string(threadId_) + " " + text, true);
    } catch (...) {
        // A failing journal must not end the session.
    }
}

template <class F>
void TSmtpGateway::Guarded(F&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        Log(std::string("Error: ") + e.what());
    } catch (...) {
        Log("Error: unknown exception");
    }
}

void TSmtpGateway::ReportOpenFailure(int code, const std::string& message) {
    Log("ErrorCode = " + std::to_string(code) + " " + message);
    if (onError_) Guarded([&] { onError_(nullptr); });
}

void TSmtpGateway::ConfigureClient() {
    client_ = std::make_unique<TSmtpClient>(
        [this](const std::string& line) {
            if (showDialogue_) Log(line);
        },
        [this] { return Stopping(); });
    int kind = authType_ == 1 || authType_ == 2 ? authType_ : 0;
    configError_ =
        client_->Configure(host_, port_, userName_, password_, kind, useSsl_, verifyPeer_, timeoutSeconds_);
    if (port_ == "465" && !useSsl_) {
        Log("Warning: TLS disabled");
        if (onError_) Guarded([&] { onError_(nullptr); });
    }
}

void TSmtpGateway::Run() {
    threadId_ = rtl::GetCurrentThreadId();
    try {
        ConfigureClient();
        if (!configError_.empty()) {
            queue_.clear();
            ReportOpenFailure(0, configError_);
        } else if (queue_.empty()) {
            TSmtpOutcome outcome = client_->Open();
            if (!outcome.ok) ReportOpenFailure(outcome.code, outcome.message);
        }
        bool opened = false;
        while (!queue_.empty() && !Stopping()) {
            current_ = std::move(queue_.front());
            queue_.pop_front();
            TSmtpOutcome outcome = client_->Send(*current_, queue_.empty());
            if (!outcome.ok && outcome.unanswered && opened && !Stopping()) {
                // The kept connection had died before the letter was offered: once more over a
                // new one.
                outcome = client_->Send(*current_, queue_.empty());
            }
            if (!outcome.ok && outcome.stage == TSmtpOutcome::stOpen && !opened) {
                // No session: every letter stays unsent, its attachments where they are.
                current_.reset();
                queue_.clear();
                ReportOpenFailure(outcome.code, outcome.message);
                break;
            }
            opened = true;
            TLetter* letter = current_.get();
            if (outcome.ok) {
                Guarded([&] { letter->ReportSuccess(); });
                if (onSent_) Guarded([&] { onSent_(letter); });
            } else {
                letter->SetErrorCode(static_cast<rtl::Word>(outcome.code));
                letter->SetErrorMessage(outcome.message);
                Guarded([&] { letter->ReportError(); });
                if (onError_) Guarded([&] { onError_(letter); });
            }
            current_.reset();
        }
        if (!queue_.empty()) {
            Log("Stopped: " + std::to_string(queue_.size()) + " letter(s) not sent");
            queue_.clear();
        }
    } catch (const std::exception& e) {
        Log(e.what());
    }
    client_.reset();  // QUIT on a connection still open
}

void TSmtpGateway::Execute() {
    Run();
}

bool TSmtpGateway::Stopping() const {
    return Terminated() || (abort_ && abort_->load());
}

}  // namespace svc
