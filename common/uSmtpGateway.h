// Mail gateway: sends a queue of letters over one SMTP session on a thread of its own and
// reports each letter's outcome through callbacks. The SMTP client is libcurl; the letters
// are composed here (MIME, windows-1251 text, base64 attachments).
#pragma once

#include <atomic>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/uLogEvent.h"
#include "platform/rtl/Threads.h"
#include "platform/rtl/Types.h"

namespace svc {

class TLetter {
public:
    TLetter();
    virtual ~TLetter();
    TLetter(const TLetter&) = delete;
    TLetter& operator=(const TLetter&) = delete;

    // Appends the path when the file exists; otherwise journals "File <path> does not exist".
    void AddAttachment(const std::string& path);
    // Calls the log callback with the text, marked important, when one is set.
    void Log(const std::string& text) const;

    // Journal the outcome through Log: the error format applied to (error message), the
    // success format applied to (recipient). Subclasses may format more values.
    virtual void ReportError();
    virtual void ReportSuccess();

    void SetBody(std::vector<rtl::AnsiString> body) { body_ = std::move(body); }
    void SetErrorCode(rtl::Word code) { errorCode_ = code; }
    void SetErrorMessage(const std::string& text) { errorMessage_ = text; }
    void SetErrorFormat(const std::string& format) { errorFormat_ = format; }
    void SetSuccessFormat(const std::string& format) { successFormat_ = format; }
    void SetFrom(const std::string& address) { from_ = address; }
    void SetFromName(const std::string& name) { fromName_ = name; }
    void SetSubject(const std::string& subject) { subject_ = subject; }
    void SetRecipient(const std::string& address) { recipient_ = address; }
    void SetOnLog(TLogEvent callback) { onLog_ = std::move(callback); }

    const std::vector<std::string>& Attachments() const { return attachments_; }
    const std::vector<rtl::AnsiString>& Body() const { return body_; }
    rtl::Word ErrorCode() const { return errorCode_; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& ErrorFormat() const { return errorFormat_; }
    const std::string& SuccessFormat() const { return successFormat_; }
    const std::string& From() const { return from_; }
    const std::string& FromName() const { return fromName_; }
    const std::string& Subject() const { return subject_; }
    const std::string& Recipient() const { return recipient_; }
    const TLogEvent& OnLog() const { return onLog_; }

private:
    std::vector<std::string> attachments_;
    std::vector<rtl::AnsiString> body_;
    rtl::Word errorCode_ = 0;
    std::string errorMessage_;
    std::string errorFormat_ = "Error: %1s";
    std::string successFormat_ = "The message has been sent to \"%s\".";
    std::string from_;
    std::string fromName_;
    TLogEvent onLog_;
    std::string subject_;
    std::string recipient_;
};

// ---- Building blocks of the gateway, open for tests ---------------------------------------

// The addr-spec of an address text: what stands between '<' and '>' when present, else the
// trimmed text ("Mail Robot <robot@example.org>" -> "robot@example.org").
std::string SmtpAddress(const std::string& text);

// Composes a letter as an RFC 5322 / MIME message with CR LF line ends: a windows-1251 plain
// text part and one base64 part per attachment, named by the bare file name. The attachment
// files are opened by Open and read while the message is read, so a large package is never
// held in memory whole.
class TMailComposer {
public:
    // date: the Date header's time; 0 takes the current time.
    explicit TMailComposer(const TLetter& letter, std::time_t date = 0);
    ~TMailComposer();
    TMailComposer(const TMailComposer&) = delete;
    TMailComposer& operator=(const TMailComposer&) = delete;

    // Opens every attachment; raises EFOpenError naming the file that cannot be opened.
    void Open();
    // Fills up to size bytes of the message; 0 at its end. Raises EReadError when an
    // attachment cannot be read.
    std::size_t Read(char* buffer, std::size_t size);
    // The whole message (opens the attachments when Open has not been called).
    std::string ReadAll();

    const std::string& Boundary() const { return boundary_; }

private:
    struct Segment {
        std::string text;
        std::string path;  // an attachment to encode when not empty
    };
    bool Refill();

    std::vector<Segment> segments_;
    std::size_t next_ = 0;
    std::string boundary_;
    std::string pending_;
    std::size_t pendingPos_ = 0;
    std::FILE* file_ = nullptr;
    std::string filePath_;
    std::vector<std::FILE*> opened_;
    bool open_ = false;
};

// Follows the SMTP dialogue as libcurl reports it and turns it into journal lines: "> " for
// what the client sent, "< " for the server's replies. Credentials sent during AUTH are
// replaced by "****". Remembers the last reply and whether the mail transaction has begun.
class TSmtpDialogue {
public:
    // outgoing: a command of the client; otherwise reply lines of the server. Returns the
    // journal lines for the data (one per line).
    std::vector<std::string> Feed(bool outgoing, const char* data, std::size_t size);
    // Starts a new transfer (the last reply and the MAIL flag are cleared).
    void Reset();

    bool MailStarted() const { return mailStarted_; }
    int LastReplyCode() const { return lastReplyCode_; }
    const std::string& LastReply() const { return lastReply_; }

private:
    std::string Line(bool outgoing, std::string line);

    bool authPending_ = false;
    bool mailStarted_ = false;
    bool quitSent_ = false;
    int lastReplyCode_ = 0;
    std::string lastReply_;
};

// ---- The gateway ----------------------------------------------------------------------------

class TSmtpClient;

// One SMTP session on a thread of its own. Created suspended; configured, filled with letters,
// set to free itself (FreeOnTerminate) and started by its user, who does not wait for it. The
// callbacks run on the gateway thread and may run after the user has forgotten the gateway:
// what they reach must stay alive as long as they do (hold it by shared ownership in the
// callback).
class TSmtpGateway : public rtl::TThread {
public:
    using TLetterEvent = std::function<void(TLetter* letter)>;

    TSmtpGateway();
    ~TSmtpGateway() override;
    TSmtpGateway(const TSmtpGateway&) = delete;
    TSmtpGateway& operator=(const TSmtpGateway&) = delete;

    // Gives the letter the gateway's log callback and queues it; the queue owns it.
    void AddLetter(std::unique_ptr<TLetter> letter);

    void SetHost(const std::string& host) { host_ = host; }
    void SetPort(const std::string& port) { port_ = port; }
    void SetUserName(const std::string& name) { userName_ = name; }
    void SetPassword(const std::string& password) { password_ = password; }
    // 0 none, 1 AUTH PLAIN, 2 AUTH LOGIN; any other value means none.
    void SetAuthType(int kind) { authType_ = kind; }
    // Implicit TLS from the first byte (SMTPS).
    void SetUseSsl(bool on) { useSsl_ = on; }
    // Certificate checking of the TLS peer; off unless asked for, since existing mail
    // servers are reached with self-made certificates.
    void SetVerifyPeer(bool on) { verifyPeer_ = on; }
    void SetShowDialogue(bool on) { showDialogue_ = on; }
    // Seconds to connect and to wait for each reply (15 unless set).
    void SetTimeout(long seconds) { timeoutSeconds_ = seconds; }
    // A flag its owner raises to end the session early, as Terminate does: the transfer under
    // way fails at once and the letters after it are dropped unsent.
    void SetAbortFlag(std::shared_ptr<std::atomic<bool>> flag) { abort_ = std::move(flag); }
    void SetOnLog(TLogEvent callback) { onLog_ = std::move(callback); }
    // Called with the failed letter, or with no letter (nullptr) when the session could not
    // be opened or port 465 is used without TLS.
    void SetOnError(TLetterEvent callback) { onError_ = std::move(callback); }
    void SetOnSent(TLetterEvent callback) { onSent_ = std::move(callback); }

    // Journals "<thread id> <text>", marked important; the callback's exceptions are swallowed.
    void Log(const std::string& text);

    // The session: open, every queued letter in turn, quit. Execute runs it on the gateway
    // thread; a caller may also run it on its own.
    void Run();

    std::size_t QueueCount() const { return queue_.size(); }

protected:
    void Execute() override;

private:
    void ConfigureClient();
    void ReportOpenFailure(int code, const std::string& message);
    template <class F>
    void Guarded(F&& call);
    bool Stopping() const;

    int authType_ = 0;
    std::unique_ptr<TLetter> current_;
    TLetterEvent onError_;
    std::string host_;
    bool useSsl_ = false;
    bool verifyPeer_ = false;
    std::deque<std::unique_ptr<TLetter>> queue_;
    TLogEvent onLog_;
    std::string password_;
    std::string port_;
    std::unique_ptr<TSmtpClient> client_;
    TLetterEvent onSent_;
    std::string userName_;
    bool showDialogue_ = true;
    std::string configError_;
    uint32_t threadId_ = 0;
    long timeoutSeconds_ = 15;
    std::shared_ptr<std::atomic<bool>> abort_;
};

}  // namespace svc
