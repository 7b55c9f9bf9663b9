// The export service object.
#include "export_service/uZuvQelOutSrvcMain.h"

namespace svc {

TsrvZuvQelOutSrvc::TsrvZuvQelOutSrvc(rtl::TComponent* owner, TParamsStorage& params, TDataAccess* dataAccess,
                                     os::TEventLogger& eventLog, const std::string& connectionIni)
    : os::TService(owner),
      params_(params),
      eventLog_(eventLog),
      connectionIni_(connectionIni.empty() ? TParamsStorage::ConnectionIniFileName() : connectionIni),
      journal_(kOutDisplayName) {
    SetName(kOutServiceName);
    DisplayName = kOutDisplayName;
    AllowPause = false;
    journal_.OnFailure = TJournal::EventLogFallback(eventLog_);
    workers_ = std::make_unique<TOutSrvcWorkers>(
        params_, dataAccess, [this](const std::string& text, bool important) { WriteLog(text, important); });
    OnStart = [this](os::TService* sender, bool& started) { ServiceStart(sender, started); };
    OnExecute = [this](os::TService* sender) { ServiceExecute(sender); };
    OnStop = [this](os::TService* sender, bool& stopped) { ServiceStop(sender, stopped); };
    AfterInstall = [this](os::TService* sender) { ServiceAfterInstall(sender); };
}

TsrvZuvQelOutSrvc::~TsrvZuvQelOutSrvc() {
    workers_.reset();
}

void TsrvZuvQelOutSrvc::WriteLog(const std::string& text, bool important) {
    journal_.Write(text, important);
}

void TsrvZuvQelOutSrvc::OpenLogFile() {
    journal_.SetLogPath(params_.LogPath);
    journal_.SetExtendedLog(params_.ExtendedLog);
    journal_.Open();
}

void TsrvZuvQelOutSrvc::ServiceStart(os::TService*, bool& started) {
    try {
        if (!params_.LoadConnectionIni(connectionIni_)) {
            eventLog_.LogMessage(kConnectionIniFailure, os::EVENTLOG_ERROR_TYPE);
            throw rtl::Exception(kConnectionIniFailure);
        }
        try {
            OpenLogFile();
        } catch (const std::exception& e) {
            eventLog_.LogMessage(std::string("Error. Init on \"Zuv Qel Out Srvc\": ") + e.what(),
                                 os::EVENTLOG_ERROR_TYPE);
            throw;
        }
        WriteLog("", true);
        WriteLog("-----------------------------", true);
        WriteLog("Utility \"Zuv Qel Out Srvc\" started...", true);
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

void TsrvZuvQelOutSrvc::ServiceExecute(os::TService*) {
    while (!ServiceThread()->Terminated()) ServiceThread()->ProcessRequests(true);
}

void TsrvZuvQelOutSrvc::ServiceStop(os::TService*, bool& stopped) {
    try {
        workers_->Stop();
        WriteLog("Utility \"Zuv Qel Out Srvc\" finished...", true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
    stopped = true;
}

void TsrvZuvQelOutSrvc::ServiceAfterInstall(os::TService*) {
    // The unit written by the installation carries the description.
    Description = kOutDescription;
}

}  // namespace svc
