// The import service's watcher and package-manager threads.
#include "import_service/uInSrvcThreads.h"

#include <set>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

namespace {

class TInStarterSettings : public TStarterSettings {
public:
    TInStarterSettings(TImportParamsStorage& params, TdmParamsStorage* module)
        : params_(params), module_(module) {}
    const TConnectionIniValues& ConnectionValues() const override { return params_; }
    void LoadParams(TDataSession* session) override {
        if (!module_) throw rtl::Exception("The program has no data-access components");
        params_.LoadParams(*module_->ostGetZuvQelParam, *module_->ospGetZuvQelDBVersion, session);
    }
    std::string ComputerNameSetting() const override { return params_.ComputerNameSetting; }
    std::string DBVersion() const override { return params_.DBVersion; }
    std::vector<std::pair<std::string, std::string>> Folders() const override {
        return {{"Folder import = ", params_.CFolderQelImport},
                {"Folder sharing = ", params_.FolderSharingQelIn}};
    }
    bool AnnounceReading() const override { return true; }

private:
    TImportParamsStorage& params_;
    TdmParamsStorage* module_;
};

std::string PackageMask(const TImportParamsStorage& params) {
    return std::string(kPackagePrefix) + (params.EnableImportEncrypt ? "*.dat" : "*.zip");
}

}  // namespace

std::shared_ptr<TStarterSettings> InStarterSettings(TImportParamsStorage& params, TdmParamsStorage* module) {
    return std::make_shared<TInStarterSettings>(params, module);
}

// ---- the watcher --------------------------------------------------------------------------------

TCheckerSharingFolder::TCheckerSharingFolder(TImportParamsStorage& params, TLogEvent onLog, TRunClock& clock)
    : params_(params), onLog_(std::move(onLog)), clock_(clock) {}

TCheckerSharingFolder::~TCheckerSharingFolder() {
    if (Started() && !Finished()) {
        Terminate();
        WaitFor();
    }
}

void TCheckerSharingFolder::MoveReadyFiles() {
    const std::string shared = rtl::IncludeTrailingPathDelimiter(params_.FolderSharingQelIn);
    const std::string import = rtl::IncludeTrailingPathDelimiter(params_.CFolderQelImport);
    std::set<std::string> names;
    rtl::TSearchRec rec;
    if (rtl::FindFirst(shared + PackageMask(params_), rtl::faAnyFile & ~rtl::faDirectory, rec) == 0) {
        do {
            if (!(rec.Attr & rtl::faDirectory)) names.insert(rec.Name);
        } while (rtl::FindNext(rec) == 0);
        rtl::FindClose(rec);
    }
    for (const std::string& name : rec.Unnamable)
        if (unnamable_.insert(name).second) LogError(rtl::UnnamableFileMessage(name));
    std::map<std::string, rtl::TFileLook> seen;
    for (const std::string& name : names) {
        rtl::TFileLook look = looks_[name];
        if (!rtl::FileIsCompletelyWritten(shared + name, look)) {
            seen[name] = look;
            continue;
        }
        if (rtl::MoveFileReplace(shared + name, import + name))
            CallLog(onLog_, shared + name + " moved to folder " + import + name, true);
        else
            LogError("Moving file error #" + std::to_string(rtl::GetLastError()));
    }
    looks_ = std::move(seen);  // files gone from the folder are forgotten
}

void TCheckerSharingFolder::Execute() {
    while (!Terminated()) {
        try {
            MoveReadyFiles();
        } catch (const std::exception& e) {
            LogError(e.what());
        }
        PauseUnless(clock_, TurnPauseMs, [this] { return Terminated(); });
    }
}

// ---- the package-manager thread -------------------------------------------------------------

TManagerPackageThread::TManagerPackageThread(TImportParamsStorage& params, TDataAccess* dataAccess,
                                             TLogEvent onLog, TRunClock& clock)
    : params_(params), dataAccess_(dataAccess), onLog_(std::move(onLog)), clock_(clock) {}

TManagerPackageThread::~TManagerPackageThread() {
    if (Started() && !Finished()) {
        Terminate();
        WaitFor();
    }
}

void TManagerPackageThread::Pause(uint32_t milliseconds) {
    PauseUnless(clock_, milliseconds, [this] { return Terminated(); });
}

void TManagerPackageThread::EnsureConnected() {
    while (!connection_->Connected()) {
        try {
            connection_->Connect();
        } catch (const std::exception& e) {
            if (Terminated()) throw rtl::Exception("Terminated");
            LogError(connection_->LastError() ? connection_->LastError()->Message
                                              : std::string("Connection error: ") + e.what());
            Pause(ConnectRetryMs);
        }
    }
}

void TManagerPackageThread::Init() {
    connection_ = std::make_unique<TdmConnection>(dataAccess_);
    connection_->UserName = params_.UserName;
    connection_->Password = params_.Password;
    connection_->OraHome = params_.OraHome;
    connection_->Scheme = params_.Scheme;
    connection_->Server = params_.Server;
    EnsureConnected();
    LogMessage("Connection: ok");
    dm_ = std::make_unique<TdmMainDataModule>(dataAccess_->Components());
    dm_->GetSelfEmitent(&connection_->OraSession(), emitentId_, filialId_);
    LogMessage("Emitent = " + std::to_string(emitentId_) + " Filial = " + std::to_string(filialId_));
    auto* session = dynamic_cast<TImportSession*>(&connection_->OraSession());
    if (!session) throw rtl::Exception("The database session has no savepoints");
    if (params_.Pop3EnableQelIn) {
        gateway_ = std::make_unique<TPop3Gateway>(params_.CFolderQelImport);
        gateway_->Configure(params_.Pop3Params());
        gateway_->SetOnLog(onLog_);
        if (Pop3ClientFactory) gateway_->SetClientFactory(Pop3ClientFactory);
    }
    manager_ =
        std::make_unique<TPackageManager>(params_.CFolderQelImport, kPackagePrefix, emitentId_, filialId_,
                                          session, dm_.get(), params_.EnableImportEncrypt, onLog_);
    manager_->ClearTempFolders();
    firstPass_ = true;
    lastMailCheck_ = clock_.Now();
}

void TManagerPackageThread::CheckMail() {
    const double sinceMs = (clock_.Now() - lastMailCheck_) * rtl::MSecsPerDay;
    if (!firstPass_ && sinceMs <= params_.CIntervalQelInSrvc) return;
    LogMessage("Start checking mail");
    gateway_->ReceiveMail(kMailPrefix);
    LogMessage("Mail completed");
    lastMailCheck_ = clock_.Now();
    firstPass_ = false;
}

void TManagerPackageThread::Pass() {
    EnsureConnected();
    if (gateway_) {
        try {
            CheckMail();
        } catch (const std::exception& e) {
            LogError(e.what());
        }
    }
    try {
        manager_->RunPass();
    } catch (const std::exception& e) {
        LogError(e.what());
    }
}

void TManagerPackageThread::Execute() {
    try {
        Init();
        while (!Terminated()) {
            Pass();
            Pause(PassPauseMs);
        }
    } catch (const std::exception& e) {
        LogError(e.what());
    }
}

// ---- the workers ------------------------------------------------------------------------------

TInSrvcWorkers::TInSrvcWorkers(TImportParamsStorage& params, TdmParamsStorage* module,
                               TDataAccess* dataAccess, TLogEvent onLog, TRefusalHandler onRefusal)
    : TSrvcWorkers(
          InStarterSettings(params, module), dataAccess, onLog,
          [this, &params, dataAccess, onLog] {
              std::vector<std::unique_ptr<rtl::TThread>> workers;
              workers.push_back(std::make_unique<TCheckerSharingFolder>(params, onLog, *Clock));
              auto manager = std::make_unique<TManagerPackageThread>(params, dataAccess, onLog, *Clock);
              manager->Pop3ClientFactory = Pop3ClientFactory;
              manager->ConnectRetryMs = ManagerRetryMs;
              workers.push_back(std::move(manager));
              return workers;
          },
          std::move(onRefusal)) {}

}  // namespace svc
