// The manager thread: start-up, the connection loop, the waits and the export passes.
#include "export_service/uManagerThread.h"

#include "common/uDataAccess.h"
#include "export_service/uExportFolders.h"
#include "export_service/uPackageCalls.h"
#include "export_service/uQelOutProcessorsExport.h"
#include "platform/rtl/Files.h"

namespace svc {

TManagerThread::TManagerThread(TParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog,
                               TRunClock& clock)
    : params_(params), dataAccess_(dataAccess), onLog_(std::move(onLog)), clock_(clock) {}

TManagerThread::~TManagerThread() {
    if (Started() && !Finished()) {
        Terminate();
        WaitFor();
    }
}

void TManagerThread::Pause(uint32_t milliseconds) {
    PauseUnless(clock_, milliseconds, [this] { return Terminated(); });
}

void TManagerThread::Init() {
    workFolder_ = params_.FolderExport;
    sharedFolder_ = params_.FolderSharing == "Sharing"
                        ? rtl::ExtractFilePath(rtl::ApplicationExeName()) + "Sharing"
                        : params_.FolderSharing;
    if (!rtl::DirectoryExists(sharedFolder_) && !rtl::CreateDir(sharedFolder_))
        throw rtl::Exception("Cannot create the shared folder " + sharedFolder_);
    RemoveInterruptedTemporaries({workFolder_, workFolder_ + "Outbox", workFolder_ + "Back", sharedFolder_},
                                 onLog_);

    sender_ = TSMTPSender::Create();
    sender_->SMTPLogin = params_.SMTPLogin;
    sender_->SMTPPass = params_.SMTPPass;
    sender_->SMTPPort = params_.SMTPPort;
    sender_->SMTPSender = params_.SMTPSender;
    sender_->SMTPServer = params_.SMTPServer;
    sender_->UseAuthentication = params_.SMTPUseAuthentication;
    sender_->OnLog = onLog_;
    sender_->WorkFolder = params_.FolderExport;
    sender_->UseSsl = params_.SMTPSsl;

    connection_ = std::make_unique<TdmConnection>(dataAccess_);
    connection_->UserName = params_.UserName;
    connection_->Password = params_.Password;
    connection_->OraHome = params_.OraHome;
    connection_->Scheme = params_.Scheme;
    connection_->Server = params_.Server;

    waiter_ = std::make_unique<TRunWaiter>(params_.ScheduleType, params_.TimeList, params_.Interval,
                                           params_.RepeatEveryTimeHMS, clock_);
    runNow_ = params_.IsAutoStart == 1;
}

void TManagerThread::EnsureConnected() {
    while (!connection_->Connected()) {
        try {
            connection_->Connect();
        } catch (const std::exception& e) {
            if (Terminated()) throw EStopService("Service is stopped");
            LogError(connection_->LastError() ? connection_->LastError()->Message
                                              : std::string("Connection error: ") + e.what());
            Pause(ConnectRetryMs);
        }
    }
}

void TManagerThread::Prepare() {
    module_ = std::make_unique<TdmQelOutDataModule>(dataAccess_->Components());
    addSendDate_ = dataAccess_->Components().CreateStoredProc(AddSendDateToPackageDecl());
    TDataSession* session = &connection_->OraSession();
    GetSelfEmitent(*module_, session, emitentId_, filialId_);
    LogMessage("Emitent = " + std::to_string(emitentId_) + " Filial = " + std::to_string(filialId_), true);
    std::string version;
    ReadDBVersionView(*module_, session, version);
    LogMessage("Schedule type = " + std::to_string(params_.ScheduleType), true);
    if (waiter_->TimeListMode())
        LogMessage("Schedule time list = " + params_.TimeList, true);
    else
        LogMessage("Export interval = " + std::to_string(waiter_->PeriodSeconds()) + " sec", true);
    LogMessage("Run after start = " + std::to_string(params_.IsAutoStart), true);
    params_.LoadParams(session);
    static const char* const sources[] = {"All", "Qel", "Dolm"};
    if (params_.SourceData < 0 || params_.SourceData > 2) throw rtl::Exception("Not the right source type");
    LogMessage(std::string("Source data = ") + sources[params_.SourceData], true);
    static const char* const clientTypes[] = {"All", "Firm", "Private person"};
    if (params_.ClientTypeExport < 0 || params_.ClientTypeExport > 2)
        throw rtl::Exception("Not the right type of client");
    LogMessage(std::string("Client type exchange = ") + clientTypes[params_.ClientTypeExport], true);
    LogMessage("-----------------------", true);
}

void TManagerThread::StoreSendDates() {
    if (!sender_ || !addSendDate_) return;
    std::vector<std::string> ids = sender_->TakeSentPackages();
    size_t done = 0;
    try {
        while (done < ids.size() && connection_->Connected() &&
               AddSendDate(*addSendDate_, &connection_->OraSession(), ids[done], onLog_))
            ++done;
    } catch (...) {
        sender_->KeepSentPackages({ids.begin() + static_cast<long>(done), ids.end()});
        throw;
    }
    // What could not be stored waits for the next try.
    sender_->KeepSentPackages({ids.begin() + static_cast<long>(done), ids.end()});
}

void TManagerThread::Pass() {
    EnsureConnected();
    if (!runNow_ && !waiter_->Wait([this] { return Terminated(); }, [this] { StoreSendDates(); }))
        throw EStopService("Service is stopped");
    if (Terminated()) throw EStopService("Service is stopped");
    runNow_ = false;
    StoreSendDates();
    ExportPackages();
}

TExportSettings TManagerThread::Settings() const {
    TExportSettings settings;
    settings.WorkFolder = workFolder_;
    settings.MailRoad = params_.TypeChange == 1;
    settings.SharedFolder = sharedFolder_;
    settings.Recipient = params_.SMTPGet;
    settings.SourceData = params_.SourceData;
    settings.ClientType = params_.ClientTypeExport;
    settings.SaveToBackup = params_.SaveToBackup;
    settings.EnableExportEncrypt = params_.EnableExportEncrypt;
    settings.ExportPublicKey = params_.ExportPublicKey;
    return settings;
}

void TManagerThread::ExportPackages() {
    TDataSession* session = &connection_->OraSession();
    TdmQelOutDataObject dataObjects(*dataAccess_);
    if (!unsentDelivered_) {
        DeliverUnsentPackages(session, dataObjects);
        unsentDelivered_ = true;
    }
    {
        TEmitentPackageExport exporter(session, emitentId_, filialId_, Settings(), sender_, &dataObjects);
        exporter.OnLog = onLog_;
        exporter.Export();
    }
    TRepeatedList repeated = BuildRepeatedList(session, *module_, emitentId_, filialId_, Settings(), sender_,
                                               &dataObjects, onLog_);
    for (auto& exporter : repeated) {
        exporter->OnLog = onLog_;
        exporter->Export();
    }
}

// A package registered by an earlier run that never reached its delivery (the service was
// stopped or killed in between) carries rows no later package sends: it is delivered again,
// with the rows stamped with its id, on the first run after the start. Nothing of this run is
// in flight yet, so no package is taken twice.
void TManagerThread::DeliverUnsentPackages(TDataSession* session, TdmQelOutDataObject& dataObjects) {
    std::vector<std::string> unsent;
    try {
        unsent = ReadUnsentPackageIds(*module_, session);
    } catch (const std::exception& e) {
        // A database of an older release has no list of them: nothing to deliver again.
        if (!svc::IsMissingDatabaseObject(e)) throw;
        LogMessage(std::string("Unsent packages cannot be listed: ") + e.what(), true);
        return;
    }
    for (const std::string& id : unsent) {
        LogMessage("Package " + id + " was registered but never delivered; it is delivered now", true);
        TRepeatedPackageExport exporter(id, session, emitentId_, filialId_, Settings(), sender_,
                                        &dataObjects);
        exporter.OnLog = onLog_;
        exporter.DeleteOnDestroy = true;
        exporter.Export();
    }
}

void TManagerThread::Finish() {
    if (sender_ && sender_->LettersInFlight() > 0) {
        LogMessage("Waiting for " + std::to_string(sender_->LettersInFlight()) + " letter(s) in flight",
                   true);
        if (!sender_->WaitForLetters(LetterWaitMs, LetterAbortMs))
            LogError(std::to_string(sender_->LettersInFlight()) + " letter(s) still in flight at the end");
    }
    try {
        if (connection_ && connection_->Connected()) StoreSendDates();
    } catch (const std::exception& e) {
        LogError(e.what());
    }
    // What could not be stored is said, so that the package can be looked at by hand.
    if (sender_)
        for (const std::string& id : sender_->TakeSentPackages())
            LogError("Send date of the mailed package " + id + " not stored");
}

void TManagerThread::Execute() {
    try {
        Init();
        EnsureConnected();
        LogMessage("Connection: ok", true);
        Prepare();
        while (!Terminated()) {
            try {
                Pass();
            } catch (const EStopService& e) {
                LogMessage(e.Message(), true);
            } catch (const std::exception& e) {
                LogError(e.what());
            }
        }
    } catch (const EStopService& e) {
        LogMessage(e.Message(), true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
    Finish();
}

}  // namespace svc
