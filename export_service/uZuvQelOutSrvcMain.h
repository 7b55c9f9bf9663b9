// The export service object: reads Connection.ini, opens the daily journal, writes its header and
// starts the starter thread at service start; ends the threads at stop. Its journal is the one
// every worker writes to through WriteLog; a line the journal cannot take goes to the event log.
#pragma once

#include <memory>
#include <string>

#include "common/uDataAccess.h"
#include "common/uJournal.h"
#include "common/uParamsStorage.h"
#include "export_service/uOutSrvcWorkers.h"
#include "platform/os/EventLog.h"
#include "platform/os/SvcMgr.h"

namespace svc {

inline constexpr const char* kOutServiceName = "srvZuvQelOutSrvc";
inline constexpr const char* kOutDisplayName = "ZuvQelOutSrvc";
inline constexpr const char* kOutTitle = "ZuvWebOutSrvc - Data export from Qel to Web";
inline constexpr const char* kOutDescription = "Zuv Qel Out Srvc - Data export from Qel to Web";

class TsrvZuvQelOutSrvc : public os::TService {
public:
    TsrvZuvQelOutSrvc(rtl::TComponent* owner, TParamsStorage& params, TDataAccess* dataAccess,
                      os::TEventLogger& eventLog, const std::string& connectionIni = std::string());
    ~TsrvZuvQelOutSrvc() override;

    void ServiceStart(os::TService* sender, bool& started);
    void ServiceExecute(os::TService* sender);
    void ServiceStop(os::TService* sender, bool& stopped);
    void ServiceAfterInstall(os::TService* sender);

    void WriteLog(const std::string& text, bool important);
    void LogError(const std::string& text) { WriteLog("Error: " + text, true); }

    TJournal& Journal() { return journal_; }
    TOutSrvcWorkers& Workers() { return *workers_; }

private:
    void OpenLogFile();

    TParamsStorage& params_;
    os::TEventLogger& eventLog_;
    std::string connectionIni_;
    TJournal journal_;
    std::unique_ptr<TOutSrvcWorkers> workers_;
};

}  // namespace svc
