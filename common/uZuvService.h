// What both service objects do alike: read Connection.ini, open the daily journal and write its
// header at service start, then start the service's threads; end the threads at stop. Their
// journal is the one every worker writes to through WriteLog; a line the journal cannot take goes
// to the event log.
#pragma once

#include <string>

#include "common/uJournal.h"
#include "common/uParamsStorage.h"
#include "common/uSrvcWorkers.h"
#include "platform/os/EventLog.h"
#include "platform/os/SvcMgr.h"

namespace svc {

// The texts that tell the two services apart.
struct TZuvServiceTexts {
    const char* ServiceName;  // the systemd unit's name
    const char* DisplayName;  // also the journal's file name stem
    const char* Description;  // carried by the unit /install writes
    const char* Utility;      // as the journal and the event log name the program
    const char* Rule;         // the journal header's rule line
    const char* Finished;     // the journal's last line at stop
    const char* LogPathKey;   // the [LOG] entry of Connection.ini naming the journal folder
};

class TZuvService : public os::TService {
public:
    TZuvService(rtl::TComponent* owner, const TZuvServiceTexts& texts, TConnectionIniValues& values,
                os::TEventLogger& eventLog, const std::string& connectionIni);

    void ServiceStart(os::TService* sender, bool& started);
    void ServiceExecute(os::TService* sender);
    void ServiceStop(os::TService* sender, bool& stopped);
    void ServiceAfterInstall(os::TService* sender);

    void WriteLog(const std::string& text, bool important);
    void LogError(const std::string& text) { WriteLog("Error: " + text, true); }

    TJournal& Journal() { return journal_; }

protected:
    // The service's threads, owned by the derived service (so they end before the journal goes);
    // set once by its constructor.
    void SetWorkers(TSrvcWorkers& workers) { workers_ = &workers; }

private:
    void OpenLogFile();

    TZuvServiceTexts texts_;
    TConnectionIniValues& values_;
    os::TEventLogger& eventLog_;
    std::string connectionIni_;
    TJournal journal_;
    TSrvcWorkers* workers_ = nullptr;
};

}  // namespace svc
