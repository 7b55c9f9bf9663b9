// The import service object.
#include "import_service/uZuvQelInSrvcMain.h"

#include "common/uSrvcWorkers.h"

namespace svc {

TsrvZuvQelInSrvc::TsrvZuvQelInSrvc(rtl::TComponent* owner, TImportParamsStorage& params,
                                   TdmParamsStorage* module, TDataAccess* dataAccess,
                                   os::TEventLogger& eventLog, const std::string& connectionIni)
    : os::TService(owner),
      params_(params),
      eventLog_(eventLog),
      connectionIni_(connectionIni.empty() ? TImportParamsStorage::ConnectionIniFileName() : connectionIni),
      journal_(kInDisplayName) {
    SetName(kInServiceName);
    DisplayName = kInDisplayName;
    AllowPause = false;
    journal_.OnFailure = TJournal::EventLogFallback(eventLog_);
    const TLogEvent log = [this](const std::string& text, bool important) { WriteLog(text, important); };
    workers_ = std::make_unique<TInSrvcWorkers>(
        params_, module, dataAccess, log, [this, log](const TStartupResults& results) {
            const std::string refusal = RefusalText(results, params_.ComputerNameSetting, params_.DBVersion);
            if (!refusal.empty()) CallLog(log, refusal, true);
        });
    OnStart = [this](os::TService* sender, bool& started) { ServiceStart(sender, started); };
    OnExecute = [this](os::TService* sender) { ServiceExecute(sender); };
    OnStop = [this](os::TService* sender, bool& stopped) { ServiceStop(sender, stopped); };
    AfterInstall = [this](os::TService* sender) { ServiceAfterInstall(sender); };
}

TsrvZuvQelInSrvc::~TsrvZuvQelInSrvc() {
    workers_.reset();
}

void TsrvZuvQelInSrvc::WriteLog(const std::string& text, bool important) {
    journal_.Write(text, important);
}

void TsrvZuvQelInSrvc::OpenLogFile() {
    journal_.SetLogPath(params_.LogPath);
    journal_.SetExtendedLog(params_.ExtendedLog);
    journal_.Open();
}

void TsrvZuvQelInSrvc::ServiceStart(os::TService*, bool& started) {
    try {
        if (!params_.LoadConnectionIni(connectionIni_)) {
            eventLog_.LogMessage(kConnectionIniFailure, os::EVENTLOG_ERROR_TYPE);
            throw rtl::Exception(kConnectionIniFailure);
        }
        try {
            OpenLogFile();
        } catch (const std::exception& e) {
            eventLog_.LogMessage(std::string("Error. Init on \"Zuv Qel In Srvc\": ") + e.what(),
                                 os::EVENTLOG_ERROR_TYPE);
            throw;
        }
        WriteLog("", true);
        WriteLog("----------------------", true);
        WriteLog("Utility \"Zuv Qel In Srvc\" started...", true);
        LogConnectionValues([this](const std::string& text, bool important) { WriteLog(text, important); },
                            params_);
        workers_->Start();
        started = true;
    } catch (const std::exception& e) {
        started = false;
        // Reaches the journal only when it is open; the event log has the line otherwise.
        if (journal_.IsOpen()) LogError(e.what());
    }
}

void TsrvZuvQelInSrvc::ServiceExecute(os::TService*) {
    while (!ServiceThread()->Terminated()) ServiceThread()->ProcessRequests(true);
}

void TsrvZuvQelInSrvc::ServiceStop(os::TService*, bool& stopped) {
    try {
        workers_->Stop();
        WriteLog("Utility \"Zuv Qel in Srvc\" finished...", true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
    stopped = true;
}

void TsrvZuvQelInSrvc::ServiceAfterInstall(os::TService*) {
    // The unit written by the installation carries the description.
    Description = kInTitle;
}

}  // namespace svc
