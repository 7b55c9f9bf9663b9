// The mail road of the export: package letters, their gateways and what follows a sent letter.
#include "export_service/uSMTPSender.h"

#include <chrono>

#include "common/uMailSubject.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Format.h"

namespace svc {

TLetterPackage::TLetterPackage() {
    SetErrorFormat("Error: %1s. Not sent the package: %2s to the address %3s");
    SetSuccessFormat("%1s package has been successfully sent to the address %2s");
}

void TLetterPackage::ReportError() {
    Log(rtl::Format(ErrorFormat(), {ErrorMessage(), PackageName, Recipient()}));
}

void TLetterPackage::ReportSuccess() {
    Log(rtl::Format(SuccessFormat(), {PackageName, Recipient()}));
}

// ---------------------------------------------------------------------------------------------

namespace {

// Held by a gateway's callbacks: tells the sender when the gateway is gone.
class TFlightToken {
public:
    TFlightToken(std::shared_ptr<TSMTPSender> sender, std::function<void()> ended)
        : sender(std::move(sender)), ended_(std::move(ended)) {}
    ~TFlightToken() { ended_(); }
    TFlightToken(const TFlightToken&) = delete;
    TFlightToken& operator=(const TFlightToken&) = delete;

    const std::shared_ptr<TSMTPSender> sender;

private:
    std::function<void()> ended_;
};

}  // namespace

TSMTPSender::TSMTPSender() : abort_(std::make_shared<std::atomic<bool>>(false)) {}

TSMTPSender::~TSMTPSender() = default;

std::shared_ptr<TSMTPSender> TSMTPSender::Create() {
    return std::shared_ptr<TSMTPSender>(new TSMTPSender());
}

void TSMTPSender::BuildSignedSubject(const std::string& prefix, int emitentId, int filialId,
                                     std::string& subject) {
    subject = svc::BuildSignedSubject(prefix, emitentId, filialId);
}

void TSMTPSender::SendPackage(const std::string& fileName, const std::string& recipient,
                              const std::string& packageName, const std::string& packageId, int emitentId,
                              int filialId) {
    // A letter without its package would count as a delivery.
    if (!rtl::FileExists(fileName)) throw rtl::Exception("File " + fileName + " does not exist");

    auto gateway = std::make_unique<TSmtpGateway>();
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++inFlight_;
    }
    auto self = shared_from_this();
    auto token = std::make_shared<TFlightToken>(self, [this] { LetterEnded(); });
    gateway->SetOnLog(OnLog);
    gateway->SetOnError([token](TLetter* letter) { token->sender->OnLetterError(letter); });
    gateway->SetOnSent([token](TLetter* letter) { token->sender->OnLetterSent(letter); });
    token.reset();

    gateway->SetHost(SMTPServer);
    gateway->SetPort(std::to_string(SMTPPort));
    gateway->SetUserName(SMTPLogin);
    gateway->SetPassword(SMTPPass);
    gateway->SetAuthType(UseAuthentication == 1 ? 2 : 0);
    gateway->SetUseSsl(UseSsl);
    gateway->SetShowDialogue(true);
    gateway->SetTimeout(TimeoutSeconds);
    gateway->SetAbortFlag(abort_);
    Log("vSmtpGatewayThread create");

    auto letter = std::make_unique<TLetterPackage>();
    letter->PackageName = packageName;
    letter->PackageId = packageId;
    letter->SetRecipient(recipient);
    letter->SetFrom(SMTPSender);
    letter->SetFromName(SMTPSender);
    std::string subject;
    BuildSignedSubject(kSubjectPrefix, emitentId, filialId, subject);
    letter->SetSubject(subject);
    letter->SetBody({""});
    letter->SetOnLog(OnLog);
    letter->AddAttachment(fileName);
    gateway->AddLetter(std::move(letter));

    gateway->FreeOnTerminate = true;
    gateway->Start();
    gateway.release();  // frees itself when the session is over
}

void TSMTPSender::OnLetterError(TLetter* letter) {
    if (letter) LogError(letter->ErrorMessage());
}

void TSMTPSender::OnLetterSent(TLetter* letter) {
    Log("Mail sent to the address: " + letter->Recipient());
    if (auto* package = dynamic_cast<TLetterPackage*>(letter); package && !package->PackageId.empty()) {
        std::lock_guard<std::mutex> hold(lock_);
        sent_.push_back(package->PackageId);
    }
    for (const std::string& file : letter->Attachments()) MoveToBack(file);
}

void TSMTPSender::MoveToBack(const std::string& fileName) {
    const std::string back = WorkFolder + "Back";
    if (!rtl::DirectoryExists(back)) rtl::ForceDirectories(back);
    const std::string name = rtl::ExtractFileName(fileName);
    if (rtl::MoveFileReplace(fileName, back + "/" + name))
        LogMessage("File " + name + " moved to " + back, false);
    else
        LogError("Moving " + fileName + " file error #" + std::to_string(rtl::GetLastError()));
}

std::vector<std::string> TSMTPSender::TakeSentPackages() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> sent;
    sent.swap(sent_);
    return sent;
}

void TSMTPSender::KeepSentPackages(const std::vector<std::string>& ids) {
    std::lock_guard<std::mutex> hold(lock_);
    sent_.insert(sent_.begin(), ids.begin(), ids.end());
}

int TSMTPSender::LettersInFlight() const {
    std::lock_guard<std::mutex> hold(lock_);
    return inFlight_;
}

void TSMTPSender::LetterEnded() {
    std::lock_guard<std::mutex> hold(lock_);
    --inFlight_;
    ended_.notify_all();
}

bool TSMTPSender::WaitForLetters(uint32_t timeoutMs, uint32_t abortMs) {
    std::unique_lock<std::mutex> hold(lock_);
    const auto idle = [this] { return inFlight_ == 0; };
    if (ended_.wait_for(hold, std::chrono::milliseconds(timeoutMs), idle)) return true;
    abort_->store(true);
    return ended_.wait_for(hold, std::chrono::milliseconds(abortMs), idle);
}

}  // namespace svc
