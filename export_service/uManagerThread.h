// The export service's one worker. It owns a database connection of its own, learns which
// issuer and branch it exports for, and loops: wait for the next run (an interval or a list of
// times of day), build and deliver one new package, rebuild the packages the database lists as
// to be sent again, and start over. An error of a run is journalled and the loop goes on; an
// error that ends the thread is journalled with "Error: " as well, so the service never runs on
// without a worker and without a trace.
//
// Mailed packages get their send dates here, with this thread's session, once their letters
// have gone out (the mail sender collects them); at the end the thread waits, with a bound, for
// the letters still in flight.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/uDataAccess.h"
#include "common/uLogEvent.h"
#include "common/uParamsStorage.h"
#include "common/udmConnection.h"
#include "export_service/uSMTPSender.h"
#include "export_service/uSchedule.h"
#include "export_service/udmQelOutDataModule.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Threads.h"

namespace svc {

struct TExportSettings;

// Ends a pass when the service stops.
RTL_EXCEPTION_CLASS(EStopService, rtl::Exception);

class TdmQelOutDataObject;

class TManagerThread : public rtl::TThread {
public:
    TManagerThread(TParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog,
                   TRunClock& clock = TRunClock::System());
    ~TManagerThread() override;

    // The pause between two connection attempts.
    uint32_t ConnectRetryMs = 2000;
    // How long the end of the thread waits for letters in flight, and then for the letters told
    // to give up.
    uint32_t LetterWaitMs = 60000;
    uint32_t LetterAbortMs = 10000;

    int32_t EmitentId() const { return emitentId_; }
    int32_t FilialId() const { return filialId_; }
    const std::string& SharedFolder() const { return sharedFolder_; }
    const std::shared_ptr<TSMTPSender>& Sender() const { return sender_; }

    void LogMessage(const std::string& text, bool important) { CallLog(onLog_, text, important); }
    void LogError(const std::string& text) { LogMessage("Error: " + text, true); }

protected:
    void Execute() override;

private:
    void Init();
    void EnsureConnected();
    void Prepare();
    void Pass();
    void ExportPackages();
    void DeliverUnsentPackages(TDataSession* session, TdmQelOutDataObject& dataObjects);
    TExportSettings Settings() const;
    // Stores the send dates of the packages whose letters went out since the last look.
    void StoreSendDates();
    void Finish();
    void Pause(uint32_t milliseconds);

    TParamsStorage& params_;
    TDataAccess* dataAccess_;
    TLogEvent onLog_;
    TRunClock& clock_;

    std::unique_ptr<TdmConnection> connection_;
    std::unique_ptr<TdmQelOutDataModule> module_;
    std::unique_ptr<TStoredProc> addSendDate_;
    std::shared_ptr<TSMTPSender> sender_;
    std::unique_ptr<TRunWaiter> waiter_;
    int32_t emitentId_ = 0;
    int32_t filialId_ = 0;
    std::string workFolder_;
    std::string sharedFolder_;
    bool runNow_ = false;
    bool unsentDelivered_ = false;
};

}  // namespace svc
