// A service's threads as the service object and the debug window start and stop them: the
// starter first; when it ends, on the thread that started it (which must pump its queue), the
// workers in their order, or the refusal handler when the start-up checks failed.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/uDataAccess.h"
#include "common/uLogEvent.h"
#include "common/uStarterThread.h"
#include "platform/rtl/Threads.h"

namespace svc {

// The journal lines of the Connection.ini values a start reports: "Server = ", "OraHome = ",
// "Scheme = ", "UserName = " and "Log path = ", each important.
void LogConnectionValues(const TLogEvent& log, const TConnectionIniValues& values);

class TSrvcWorkers {
public:
    enum TState { tsNone, tsRunning, tsFinished };
    // Makes the workers, not yet started, in the order they start and stop.
    using TWorkerFactory = std::function<std::vector<std::unique_ptr<rtl::TThread>>()>;
    // Told of a refused start (the results say why).
    using TRefusalHandler = std::function<void(const TStartupResults& results)>;

    TSrvcWorkers(std::shared_ptr<TStarterSettings> settings, TDataAccess* dataAccess, TLogEvent onLog,
                 TWorkerFactory makeWorkers, TRefusalHandler onRefusal);
    ~TSrvcWorkers();
    TSrvcWorkers(const TSrvcWorkers&) = delete;
    TSrvcWorkers& operator=(const TSrvcWorkers&) = delete;

    // The starter's pause between two connection attempts.
    uint32_t StarterRetryMs = 2000;

    // Creates and starts the starter thread. False (nothing started) while the starter or the
    // workers of an earlier start still exist.
    bool Start();
    // The starter first, without letting its end start a worker, then each worker in its order:
    // told to end, waited for; then all are freed.
    void Stop();

    TState StarterState() const;
    // tsNone before the workers exist.
    TState WorkerState(size_t index) const;
    const TStartupResults& Results() const { return results_; }
    // The worker of that index, or null.
    rtl::TThread* Worker(size_t index) const {
        return index < workers_.size() ? workers_[index].get() : nullptr;
    }

private:
    void StartWorkers();

    std::shared_ptr<TStarterSettings> settings_;
    TDataAccess* dataAccess_;
    TLogEvent onLog_;
    TWorkerFactory makeWorkers_;
    TRefusalHandler onRefusal_;
    TStartupResults results_;
    std::unique_ptr<TStarterThread> starter_;
    std::vector<std::unique_ptr<rtl::TThread>> workers_;
    // Set before the starter is stopped: its end must not start a worker any more.
    std::atomic<bool> stopping_{false};
    // The starter's end handler has run.
    std::atomic<bool> starterEnded_{false};
};

// A thread's state as the debug windows show it: "not created", "running", "finished".
const char* ThreadStateText(TSrvcWorkers::TState state);
// The start-up decision as the debug windows show it: "not taken" until the starter has ended or
// the first worker exists, then "allowed", the refusal, or "none (see the journal)".
std::string StartupDecisionText(const TSrvcWorkers& workers);

}  // namespace svc
