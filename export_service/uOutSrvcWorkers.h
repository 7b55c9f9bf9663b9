// The export's threads as the service object and the debug window start and stop them: the
// starter first; when it ends, on the thread that started it (which must pump its queue), the
// manager thread or the journal line of the refusal.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/uDataAccess.h"
#include "common/uLogEvent.h"
#include "common/uParamsStorage.h"
#include "export_service/uManagerThread.h"
#include "export_service/uSchedule.h"
#include "export_service/uStarterThread.h"

namespace svc {

class TOutSrvcWorkers {
public:
    enum TState { tsNone, tsRunning, tsFinished };

    TOutSrvcWorkers(TParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog);
    ~TOutSrvcWorkers();
    TOutSrvcWorkers(const TOutSrvcWorkers&) = delete;
    TOutSrvcWorkers& operator=(const TOutSrvcWorkers&) = delete;

    // The clock of the manager's schedule.
    TRunClock* Clock = &TRunClock::System();

    // Creates and starts the starter thread. False (nothing started) while the starter or the
    // manager of an earlier start still runs.
    bool Start();
    // The starter first, without letting its end start a worker, then the manager: each told
    // to end, waited for and freed. A pass under way is finished first.
    void Stop();

    TState StarterState() const;
    TState ManagerState() const;
    const TStartupResults& Results() const { return results_; }

private:
    void StartWorkers();

    TParamsStorage& params_;
    TDataAccess* dataAccess_;
    TLogEvent onLog_;
    TStartupResults results_;
    std::unique_ptr<TStarterThread> starter_;
    std::unique_ptr<TManagerThread> manager_;
    // Set before the starter is stopped: its end must not start a worker any more.
    std::atomic<bool> stopping_{false};
    // The starter's end handler has run.
    std::atomic<bool> starterEnded_{false};
};

}  // namespace svc
