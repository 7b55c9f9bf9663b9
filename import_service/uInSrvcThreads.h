// The import service's threads: the shared-folder watcher, which moves complete package files
// from the shared folder into the import folder, and the package-manager thread, which checks
// the mailbox every mail interval and imports the packages of the import folder on every pass.
// TInSrvcWorkers starts them after the starter allowed it, the watcher first.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "common/uDataAccess.h"
#include "common/uLogEvent.h"
#include "common/uRunClock.h"
#include "common/uSrvcWorkers.h"
#include "common/udmConnection.h"
#include "import_service/uImportParams.h"
#include "import_service/uPackageManager.h"
#include "import_service/uPop3Gateway.h"
#include "import_service/udmMainDataModule.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Threads.h"

namespace svc {

// The subject prefix of the web side's package letters.
inline constexpr const char* kMailPrefix = "WebExport";

// What the starter reads of the import's settings; module gives the settings procedures (null
// in a program without data-access components).
std::shared_ptr<TStarterSettings> InStarterSettings(TImportParamsStorage& params, TdmParamsStorage* module);

class TCheckerSharingFolder : public rtl::TThread {
public:
    TCheckerSharingFolder(TImportParamsStorage& params, TLogEvent onLog,
                          TRunClock& clock = TRunClock::System());
    ~TCheckerSharingFolder() override;

    // The pause between two turns.
    uint32_t TurnPauseMs = 1000;

    // One turn: moves every complete package file of the shared folder into the import folder.
    // A file is complete once no one holds it and it looked the same on two turns.
    void MoveReadyFiles();

protected:
    void Execute() override;

private:
    void LogError(const std::string& text) { CallLog(onLog_, "Error: " + text, true); }

    TImportParamsStorage& params_;
    TLogEvent onLog_;
    TRunClock& clock_;
    std::map<std::string, rtl::TFileLook> looks_;
    std::set<std::string> unnamable_;  // files the program cannot name, reported once each
};

class TManagerPackageThread : public rtl::TThread {
public:
    TManagerPackageThread(TImportParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog,
                          TRunClock& clock = TRunClock::System());
    ~TManagerPackageThread() override;

    uint32_t ConnectRetryMs = 2000;
    uint32_t PassPauseMs = 1000;
    // The mail client of the gateway; the libcurl client when unset (tests set another).
    TPop3Gateway::TClientFactory Pop3ClientFactory;

    int32_t EmitentId() const { return emitentId_; }
    int32_t FilialId() const { return filialId_; }

protected:
    void Execute() override;

private:
    void LogMessage(const std::string& text) { CallLog(onLog_, text, true); }
    void LogError(const std::string& text) { LogMessage("Error: " + text); }
    void Init();
    // Until connected: connect, or journal the failure and wait; raises "Terminated" once told
    // to stop.
    void EnsureConnected();
    void CheckMail();
    void Pass();
    void Pause(uint32_t milliseconds);

    TImportParamsStorage& params_;
    TDataAccess* dataAccess_;
    TLogEvent onLog_;
    TRunClock& clock_;
    std::unique_ptr<TdmConnection> connection_;
    std::unique_ptr<TdmMainDataModule> dm_;
    std::unique_ptr<TPop3Gateway> gateway_;
    std::unique_ptr<TPackageManager> manager_;
    int32_t emitentId_ = 0;
    int32_t filialId_ = 0;
    bool firstPass_ = true;
    rtl::TDateTime lastMailCheck_ = 0;
};

class TInSrvcWorkers : public TSrvcWorkers {
public:
    TInSrvcWorkers(TImportParamsStorage& params, TdmParamsStorage* module, TDataAccess* dataAccess,
                   TLogEvent onLog, TRefusalHandler onRefusal);

    TRunClock* Clock = &TRunClock::System();
    // Handed to each package-manager thread (tests).
    TPop3Gateway::TClientFactory Pop3ClientFactory;
    uint32_t ManagerRetryMs = 2000;

    TState WatcherState() const { return WorkerState(0); }
    TState ManagerState() const { return WorkerState(1); }
};

}  // namespace svc
