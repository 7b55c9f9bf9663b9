// The export's debug mode on the terminal frame.
#include "export_service/ufrmDebug.h"

#include "export_service/uZuvQelOutSrvcMain.h"

namespace svc {

TfrmDebug::TfrmDebug(TParamsStorage& params, TDataAccess* dataAccess, os::TEventLogger& eventLog,
                     const std::string& connectionIni)
    : params_(params),
      eventLog_(eventLog),
      connectionIni_(connectionIni.empty() ? TParamsStorage::ConnectionIniFileName() : connectionIni),
      journal_(kOutDebugJournalStem) {
    frame_.Caption = "Debug form";
    frame_.SubTitle = std::string(kOutDisplayName) + ": " + connectionIni_;
    frame_.AddButton("Start", 's', [this] { btnStartClick(); });
    frame_.AddButton("Stop", 't', [this] { btnStopClick(); });
    frame_.OnStatus = [this] { return StatusLines(); };
    frame_.OnClose = [this] { btnStopClick(); };
    // Every line the journal passes is shown; one it cannot write is shown on the message line.
    journal_.OnLine = [this](const std::string& line) { frame_.AddLogLine(line); };
    journal_.OnFailure = [this](const std::string&, const std::string& reason) {
        if (!reason.empty()) frame_.ShowMessage("Journal: " + reason);
    };
    workers_ = std::make_unique<TOutSrvcWorkers>(
        params_, dataAccess, [this](const std::string& text, bool important) { WriteLog(text, important); });
}

TfrmDebug::~TfrmDebug() {
    workers_.reset();
}

void TfrmDebug::WriteLog(const std::string& text, bool important) {
    journal_.Write(text, important);
}

void TfrmDebug::btnStartClick() {
    if (workers_->StarterState() == TOutSrvcWorkers::tsRunning ||
        workers_->ManagerState() != TOutSrvcWorkers::tsNone)
        return frame_.ShowMessage("Already started; Stop first");
    if (!params_.LoadConnectionIni(connectionIni_)) throw rtl::Exception(kConnectionIniFailure);
    try {
        journal_.SetLogPath(params_.LogPath);
        journal_.SetExtendedLog(params_.ExtendedLog);
        if (!journal_.IsOpen()) journal_.Open();
        WriteLog("", true);
        WriteLog("", true);
        WriteLog("Utility \"Zuv Qel Out Srvc\" started...", true);
        WriteLog("Folder log = " + params_.LogPath, true);
        workers_->Start();
        frame_.ShowMessage("");
    } catch (const std::exception& e) {
        if (!journal_.IsOpen())
            eventLog_.LogMessage(std::string("Error. Init on \"Zuv Qel Out Srvc\": ") + e.what(),
                                 os::EVENTLOG_ERROR_TYPE);
        LogError(e.what());
        frame_.ShowMessage(e.what());
    }
}

void TfrmDebug::btnStopClick() {
    if (workers_->StarterState() == TOutSrvcWorkers::tsNone &&
        workers_->ManagerState() == TOutSrvcWorkers::tsNone)
        return;
    try {
        workers_->Stop();
        WriteLog("Utility \"Zuv Qel Out Srvc\" finished...", true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
}

std::vector<std::string> TfrmDebug::StatusLines() const {
    return {std::string("Starter: ") + ThreadStateText(workers_->StarterState()),
            std::string("Manager: ") + ThreadStateText(workers_->ManagerState()),
            "Start-up: " + StartupDecisionText(*workers_),
            "Journal: " + (journal_.IsOpen() ? journal_.FileName() : std::string("not open"))};
}

int TfrmDebug::Run(os::TDebugFrame::TMode mode) {
    return frame_.Run(mode);
}

}  // namespace svc
