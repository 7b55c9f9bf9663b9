// The import's debug mode on the terminal frame.
#include "import_service/ufrmDebug.h"

#include "common/uSrvcWorkers.h"
#include "import_service/uZuvQelInSrvcMain.h"

namespace svc {

std::string InDebugRefusalText(const TStartupResults& results, const TImportParamsStorage& params) {
    if (results.StartAllowed) return std::string();
    switch (results.RefusalReason) {
        case TStartupResults::rsComputerName:
            return "Error! Cannot start service. Service registered on computer " +
                   params.ComputerNameSetting;
        case TStartupResults::rsDBVersion:
            return std::string("Error! Service version \"") + kServiceVersion + "\" and DB version \"" +
                   params.DBVersion + "\" are different";
        default:
            return std::string();
    }
}

TfrmDebug::TfrmDebug(TImportParamsStorage& params, TdmParamsStorage* module, TDataAccess* dataAccess,
                     const std::string& connectionIni)
    : params_(params),
      connectionIni_(connectionIni.empty() ? TImportParamsStorage::ConnectionIniFileName() : connectionIni),
      journal_(kInDebugJournalStem) {
    frame_.Caption = "frmDebug";
    frame_.SubTitle = std::string(kInDisplayName) + ": " + connectionIni_;
    frame_.AddButton("Start", 's', [this] { btnStartClick(); });
    frame_.AddButton("Stop", 't', [this] { btnStopClick(); });
    frame_.OnStatus = [this] { return StatusLines(); };
    frame_.OnClose = [this] { btnStopClick(); };
    journal_.OnLine = [this](const std::string& line) { frame_.AddLogLine(line); };
    journal_.OnFailure = [this](const std::string&, const std::string& reason) {
        if (!reason.empty()) frame_.ShowMessage("Journal: " + reason);
    };
    workers_ = std::make_unique<TInSrvcWorkers>(
        params_, module, dataAccess,
        [this](const std::string& text, bool important) { WriteLog(text, important); },
        [this](const TStartupResults& results) { Refused(results); });
}

TfrmDebug::~TfrmDebug() {
    workers_.reset();
}

void TfrmDebug::WriteLog(const std::string& text, bool important) {
    journal_.Write(text, important);
}

void TfrmDebug::Refused(const TStartupResults& results) {
    const std::string text = InDebugRefusalText(results, params_);
    if (text.empty()) return;
    LogError(text);
    frame_.ShowMessage(text);
}

void TfrmDebug::btnStartClick() {
    if (workers_->StarterState() == TSrvcWorkers::tsRunning ||
        workers_->WatcherState() != TSrvcWorkers::tsNone)
        return frame_.ShowMessage("Already started; Stop first");
    try {
        if (!params_.LoadConnectionIni(connectionIni_)) throw rtl::Exception(kConnectionIniFailure);
        journal_.SetLogPath(params_.LogPath);
        journal_.SetExtendedLog(params_.ExtendedLog);
        try {
            if (!journal_.IsOpen()) journal_.Open();
        } catch (const std::exception& e) {
            frame_.ShowMessage(e.what());  // the work goes on without a journal
        }
        WriteLog("", true);
        WriteLog("", true);
        WriteLog("Utility \"Zuv Qel In Srvc\" started...", true);
        WriteLog("Reading data from config file...", true);
        LogConnectionValues([this](const std::string& text, bool important) { WriteLog(text, important); },
                            params_);
        workers_->Start();
        frame_.ShowMessage("");
    } catch (const std::exception& e) {
        LogError(e.what());
        frame_.ShowMessage(e.what());
    }
}

void TfrmDebug::btnStopClick() {
    if (workers_->StarterState() == TSrvcWorkers::tsNone && workers_->WatcherState() == TSrvcWorkers::tsNone)
        return;
    try {
        workers_->Stop();
        WriteLog("Utility \"Zuv Qel in Srvc\" finished...", true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
}

std::vector<std::string> TfrmDebug::StatusLines() const {
    return {std::string("Starter: ") + ThreadStateText(workers_->StarterState()),
            std::string("Watcher: ") + ThreadStateText(workers_->WatcherState()),
            std::string("Package manager: ") + ThreadStateText(workers_->ManagerState()),
            "Start-up: " + StartupDecisionText(*workers_),
            "Journal: " + (journal_.IsOpen() ? journal_.FileName() : std::string("not open"))};
}

int TfrmDebug::Run(os::TDebugFrame::TMode mode) {
    return frame_.Run(mode);
}

}  // namespace svc
