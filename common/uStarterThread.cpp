// The starter thread and the start-up checks.
#include "common/uStarterThread.h"

#include "common/uRunClock.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

void TStartupResults::Decide(const std::string& computerNameSetting, const std::string& localComputerName,
                             const std::string& dbVersion) {
    const bool sameComputer = computerNameSetting == localComputerName;
    const bool sameVersion = dbVersion.compare(0, 7, kServiceVersion) == 0;
    RefusalReason = !sameComputer ? rsComputerName : !sameVersion ? rsDBVersion : rsNone;
    StartAllowed = sameComputer && sameVersion;
}

std::string RefusalText(const TStartupResults& results, const std::string& computerNameSetting,
                        const std::string& dbVersion) {
    if (results.StartAllowed) return std::string();
    switch (results.RefusalReason) {
        case TStartupResults::rsComputerName:
            return "Error! Cannot start service. Service registered on computer " + computerNameSetting;
        case TStartupResults::rsDBVersion:
            return std::string("Error! Cannot start service. Service version \"") + kServiceVersion +
                   "\" and DB version \"" + dbVersion + "\" are different";
        default:
            return std::string();
    }
}

std::string RefusalText(const TStartupResults& results, const TParamsStorage& params) {
    return RefusalText(results, params.ComputerNameSetting, params.DBVersion);
}

namespace {

class TOutStarterSettings : public TStarterSettings {
public:
    explicit TOutStarterSettings(TParamsStorage& params) : params_(params) {}
    const TConnectionIniValues& ConnectionValues() const override { return params_; }
    void LoadParams(TDataSession* session) override { params_.LoadParams(session); }
    std::string ComputerNameSetting() const override { return params_.ComputerNameSetting; }
    std::string DBVersion() const override { return params_.DBVersion; }
    std::vector<std::pair<std::string, std::string>> Folders() const override {
        return {{"Folder export = ", params_.FolderExport}, {"Folder sharing = ", params_.FolderSharing}};
    }

private:
    TParamsStorage& params_;
};

}  // namespace

std::shared_ptr<TStarterSettings> OutStarterSettings(TParamsStorage& params) {
    return std::make_shared<TOutStarterSettings>(params);
}

TStarterThread::TStarterThread(std::shared_ptr<TStarterSettings> settings, TDataAccess* dataAccess,
                               TStartupResults& results, TLogEvent onLog)
    : settings_(std::move(settings)), dataAccess_(dataAccess), results_(results), onLog_(std::move(onLog)) {}

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
    const TConnectionIniValues& ini = settings_->ConnectionValues();
    connection.UserName = ini.UserName;
    connection.Password = ini.Password;
    connection.OraHome = ini.OraHome;
    connection.Scheme = ini.Scheme;
    connection.Server = ini.Server;
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
        if (settings_->AnnounceReading()) LogMessage("Reading params from DB...", true);
        TdmConnection connection(dataAccess_);
        Connect(connection);
        LogMessage("Connection: ok", true);
        settings_->LoadParams(&connection.OraSession());
        if (settings_->AnnounceReading()) LogMessage("Params from DB read done", true);
        std::string localName;
        TParamsStorage::GetLocalComputerName(localName);
        results_.Decide(settings_->ComputerNameSetting(), localName, settings_->DBVersion());
        std::string exeName;
        TParamsStorage::GetExeFileName(exeName);
        LogMessage("Database zuv verion = " + settings_->DBVersion(), true);
        LogMessage(std::string("Service version = ") + kServiceVersion, true);
        LogMessage("Service file = " + exeName, true);
        LogMessage("Computer name = " + settings_->ComputerNameSetting(), true);
        for (const auto& [label, folder] : settings_->Folders()) LogMessage(label + folder, true);
    } catch (const std::exception& e) {
        LogError(e.what());
    }
}

}  // namespace svc
