// The mail road of the export: each finished package leaves as the one attachment of a letter
// with a signed subject, sent by a mail gateway thread of its own. Once the letter is sent the
// package file moves to the working folder's "Back" and the package id waits for its send date,
// which the manager thread stores with its own session (TakeSentPackages). A letter that fails
// leaves the file in the outbox and the package unsent.
//
// The sender is shared: every gateway it starts holds it until the gateway has ended, so the
// callbacks never reach a sender that is gone. WaitForLetters lets its owner wait, with a
// bound, for the letters still in flight before the program ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/uLogEvent.h"
#include "common/uSmtpGateway.h"

namespace svc {

// A package letter: the package's name (the data file's) and id travel with it.
class TLetterPackage : public TLetter {
public:
    TLetterPackage();

    std::string PackageName;
    std::string PackageId;

    // "Error: <message>. Not sent the package: <name> to the address <recipient>"
    void ReportError() override;
    // "<name> package has been successfully sent to the address <recipient>"
    void ReportSuccess() override;
};

class TSMTPSender : public std::enable_shared_from_this<TSMTPSender> {
public:
    static constexpr const char* kSubjectPrefix = "QelExport";

    static std::shared_ptr<TSMTPSender> Create();
    ~TSMTPSender();

    TLogEvent OnLog;
    std::string SMTPLogin;
    std::string SMTPPass;
    int SMTPPort = 0;
    std::string SMTPSender;  // sender address and name
    std::string SMTPServer;
    int UseAuthentication = 0;  // 1: AUTH LOGIN
    std::string WorkFolder;     // FolderExport, with a trailing delimiter
    bool UseSsl = false;
    // Seconds the gateways wait for the server (connect and each reply).
    long TimeoutSeconds = 15;

    // Starts a gateway thread that sends the file to the recipient and returns at once.
    void SendPackage(const std::string& fileName, const std::string& recipient,
                     const std::string& packageName, const std::string& packageId, int emitentId,
                     int filialId);

    // prefix + issuer ("%.4d") + branch ("%.2d") + the stamp of now and five random characters +
    // the keyed digest of all before it.
    static void BuildSignedSubject(const std::string& prefix, int emitentId, int filialId,
                                   std::string& subject);

    // The gateway's callbacks.
    void OnLetterError(TLetter* letter);
    void OnLetterSent(TLetter* letter);
    // Moves a sent file into WorkFolder + "Back" (made when missing), replacing a file there.
    void MoveToBack(const std::string& fileName);

    // The ids of the packages whose letters were sent since the last call, in sending order.
    std::vector<std::string> TakeSentPackages();
    // Gives ids back whose send dates could not be stored, to be taken again first.
    void KeepSentPackages(const std::vector<std::string>& ids);
    // Letters whose gateways have not ended yet.
    int LettersInFlight() const;
    // Waits up to timeoutMs for the letters in flight; then tells the gateways still running to
    // give up and waits up to abortMs more. True when none is left.
    bool WaitForLetters(uint32_t timeoutMs, uint32_t abortMs);

    void LogMessage(const std::string& text, bool important) const { CallLog(OnLog, text, important); }
    void Log(const std::string& text) const { LogMessage(text, true); }
    void LogError(const std::string& text) const { Log("Error: " + text); }

private:
    TSMTPSender();
    void LetterEnded();

    mutable std::mutex lock_;
    std::condition_variable ended_;
    int inFlight_ = 0;
    std::vector<std::string> sent_;
    std::shared_ptr<std::atomic<bool>> abort_;
};

}  // namespace svc
