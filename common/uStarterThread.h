// The starter thread of both services: before any worker runs it connects with a connection
// module of its own, loads the service's exchange settings and decides whether the workers may
// start. The service must run on the computer the settings name, against a database whose
// version begins with "2.9.1.0". The decision is left in the owner's start-up results, which the
// owner's end-of-thread handler reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/uDataAccess.h"
#include "common/uLogEvent.h"
#include "common/uParamsStorage.h"
#include "common/udmConnection.h"
#include "platform/rtl/Threads.h"

namespace svc {

inline constexpr const char* kServiceVersion = "2.9.1.0";

// The start-up decision of one starter run. Every run starts from "not allowed, no reason", so a
// run that fails before deciding never leaves an earlier run's permission behind.
struct TStartupResults {
    enum TReason { rsNone = 0, rsComputerName = 1, rsDBVersion = 2 };
    std::atomic<bool> StartAllowed{false};
    std::atomic<int> RefusalReason{rsNone};

    void Reset() {
        StartAllowed = false;
        RefusalReason = rsNone;
    }
    // The computer check first, then the version (its first seven characters).
    void Decide(const std::string& computerNameSetting, const std::string& localComputerName,
                const std::string& dbVersion);
};

// The journal line of a refusal: "Error! Cannot start service. ..." naming the configured
// computer or the two versions; "" when the start is allowed or no reason was recorded.
std::string RefusalText(const TStartupResults& results, const std::string& computerNameSetting,
                        const std::string& dbVersion);
std::string RefusalText(const TStartupResults& results, const TParamsStorage& params);

// What the starter reads and reports of one service's settings.
class TStarterSettings {
public:
    virtual ~TStarterSettings() = default;
    virtual const TConnectionIniValues& ConnectionValues() const = 0;
    // Loads the service's exchange settings and the database version.
    virtual void LoadParams(TDataSession* session) = 0;
    virtual std::string ComputerNameSetting() const = 0;
    virtual std::string DBVersion() const = 0;
    // The closing journal lines: (label, folder).
    virtual std::vector<std::pair<std::string, std::string>> Folders() const = 0;
    // The import announces the reading of its settings ("Reading params from DB...", "Params
    // from DB read done"); the export does not.
    virtual bool AnnounceReading() const { return false; }
};

// The export's settings.
std::shared_ptr<TStarterSettings> OutStarterSettings(TParamsStorage& params);

class TStarterThread : public rtl::TThread {
public:
    TStarterThread(std::shared_ptr<TStarterSettings> settings, TDataAccess* dataAccess,
                   TStartupResults& results, TLogEvent onLog);
    ~TStarterThread() override;

    // The pause between two connection attempts.
    uint32_t RetryPauseMs = 2000;

    void LogMessage(const std::string& text, bool important) { CallLog(onLog_, text, important); }
    void LogError(const std::string& text) { LogMessage("Error: " + text, true); }

protected:
    void Execute() override;

private:
    // Fills the module from Connection.ini's values and tries until connected; raises "Thread
    // terminated. Stop trying establish connection." when stopped first.
    void Connect(TdmConnection& connection);
    void Pause(uint32_t milliseconds);

    std::shared_ptr<TStarterSettings> settings_;
    TDataAccess* dataAccess_;
    TStartupResults& results_;
    TLogEvent onLog_;
};

}  // namespace svc
