// The service object both services share.
#include "common/uZuvService.h"

namespace svc {

TZuvService::TZuvService(rtl::TComponent* owner, const TZuvServiceTexts& texts, TConnectionIniValues& values,
                         os::TEventLogger& eventLog, const std::string& connectionIni)
    : os::TService(owner),
      texts_(texts),
      values_(values),
      eventLog_(eventLog),
      connectionIni_(connectionIni.empty() ? ConnectionIniFileName() : connectionIni),
      journal_(texts.DisplayName) {
    SetName(texts_.ServiceName);
    DisplayName = texts_.DisplayName;
    AllowPause = false;
    journal_.OnFailure = TJournal::EventLogFallback(eventLog_);
    OnStart = [this](os::TService* sender, bool& started) { ServiceStart(sender, started); };
    OnExecute = [this](os::TService* sender) { ServiceExecute(sender); };
    OnStop = [this](os::TService* sender, bool& stopped) { ServiceStop(sender, stopped); };
    AfterInstall = [this](os::TService* sender) { ServiceAfterInstall(sender); };
}

void TZuvService::WriteLog(const std::string& text, bool important) {
    journal_.Write(text, important);
}

void TZuvService::OpenLogFile() {
    journal_.SetLogPath(values_.LogPath);
    journal_.SetExtendedLog(values_.ExtendedLog);
    journal_.Open();
}

void TZuvService::ServiceStart(os::TService*, bool& started) {
    try {
        if (!ReadConnectionIni(connectionIni_, texts_.LogPathKey, values_)) {
            eventLog_.LogMessage(kConnectionIniFailure, os::EVENTLOG_ERROR_TYPE);
            throw rtl::Exception(kConnectionIniFailure);
        }
        try {
            OpenLogFile();
        } catch (const std::exception& e) {
            eventLog_.LogMessage(std::string("Error. Init on \"") + texts_.Utility + "\": " + e.what(),
                                 os::EVENTLOG_ERROR_TYPE);
            throw;
        }
        WriteLog("", true);
        WriteLog(texts_.Rule, true);
        WriteLog(std::string("Utility \"") + texts_.Utility + "\" started...", true);
        LogConnectionValues([this](const std::string& text, bool important) { WriteLog(text, important); },
                            values_);
        workers_->Start();
        started = true;
    } catch (const std::exception& e) {
        started = false;
        // Reaches the journal only when it is open; the event log has the line otherwise.
        if (journal_.IsOpen()) LogError(e.what());
    }
}

void TZuvService::ServiceExecute(os::TService*) {
    while (!ServiceThread()->Terminated()) ServiceThread()->ProcessRequests(true);
}

void TZuvService::ServiceStop(os::TService*, bool& stopped) {
    try {
        workers_->Stop();
        WriteLog(texts_.Finished, true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
    stopped = true;
}

void TZuvService::ServiceAfterInstall(os::TService*) {
    // The unit written by the installation carries the description.
    Description = texts_.Description;
}

}  // namespace svc
