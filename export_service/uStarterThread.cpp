// The starter thread and the start-up checks.
#include "export_service/uStarterThread.h"

#include "export_service/uSchedule.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

void TStartupResults::Decide(const std::string& computerNameSetting, const std::string& localComputerName,
                             const std::string& dbVersion) {
    const bool sameComputer = computerNameSetting == localComputerName;
    const bool sameVersion = dbVersion.compare(0, 7, kServiceVersion) == 0;
    RefusalReason = !sameComputer ? rsComputerName : !sameVersion ? rsDBVersion : rsNone;
    StartAllowed = sameComputer && sameVersion;
}

std::string RefusalText(const TStartupResults& results, const TParamsStorage& params) {
    if (results.StartAllowed) return std::string();
    switch (results.RefusalReason) {
        case TStartupResults::rsComputerName:
            return "Error! Cannot start service. Service registered on computer " +
                   params.ComputerNameSetting;
        case TStartupResults::rsDBVersion:
            return std::string("Error! Cannot start service. Service version \"") + kServiceVersion +
                   "\" and DB version \"" + params.DBVersion + "\" are different";
        default:
            return std::string();
    }
}

TStarterThread::TStarterThread(TParamsStorage& params, TDataAccess* dataAccess, TStartupResults& results,
                               TLogEvent onLog)
    : params_(params), dataAccess_(dataAccess), results_(results), onLog_(std::move(onLog)) {}

TStarterThread::~TStarterThread() {
    if (Started() && !Finished()) {
        Terminate();
        WaitFor();
    }
}

void TStarterThread::Pause(uint32_t milliseconds) {
    PauseUnless(TRunClock::System(), milliseconds, [this] { return Terminated(); });
}

void TStarterThread::Connect(TdmConnection& connection) {
    connection.UserName = params_.UserName;
    connection.Password = params_.Password;
    connection.OraHome = params_.OraHome;
    connection.Scheme = params_.Scheme;
    connection.Server = params_.Server;
    while (!connection.Connected()) {
        if (Terminated()) throw rtl::Exception("Thread terminated. Stop trying establish connection.");
        try {
            connection.Connect();
        } catch (const std::exception&) {
            if (Terminated()) throw;
            LogError(connection.LastError() ? connection.LastError()->Message : "Connection error");
            Pause(RetryPauseMs);
        }
    }
}

void TStarterThread::Execute() {
    results_.Reset();
    try {
        TdmConnection connection(dataAccess_);
        Connect(connection);
        LogMessage("Connection: ok", true);
        params_.LoadParams(&connection.OraSession());
        std::string localName;
        TParamsStorage::GetLocalComputerName(localName);
        results_.Decide(params_.ComputerNameSetting, localName, params_.DBVersion);
        std::string exeName;
        TParamsStorage::GetExeFileName(exeName);
        LogMessage("Database zuv verion = " + params_.DBVersion, true);
        LogMessage(std::string("Service version = ") + kServiceVersion, true);
        LogMessage("Service file = " + exeName, true);
        LogMessage("Computer name = " + params_.ComputerNameSetting, true);
        LogMessage("Folder export = " + params_.FolderExport, true);
        LogMessage("Folder sharing = " + params_.FolderSharing, true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
}

}  // namespace svc
