// Starting and stopping a service's threads.
#include "common/uSrvcWorkers.h"

namespace svc {

void LogConnectionValues(const TLogEvent& log, const TConnectionIniValues& values) {
    CallLog(log, "Server = " + values.Server, true);
    CallLog(log, "OraHome = " + std::to_string(values.OraHome), true);
    CallLog(log, "Scheme = " + values.Scheme, true);
    CallLog(log, "UserName = " + values.UserName, true);
    CallLog(log, "Log path = " + values.LogPath, true);
}

TSrvcWorkers::TSrvcWorkers(std::shared_ptr<TStarterSettings> settings, TDataAccess* dataAccess,
                           TLogEvent onLog, TWorkerFactory makeWorkers, TRefusalHandler onRefusal)
    : settings_(std::move(settings)),
      dataAccess_(dataAccess),
      onLog_(std::move(onLog)),
      makeWorkers_(std::move(makeWorkers)),
      onRefusal_(std::move(onRefusal)) {}

TSrvcWorkers::~TSrvcWorkers() {
    Stop();
}

bool TSrvcWorkers::Start() {
    if (!workers_.empty() || StarterState() == tsRunning) return false;
    starter_.reset();  // a refused start may be tried again
    stopping_ = false;
    starterEnded_ = false;
    starter_ = std::make_unique<TStarterThread>(settings_, dataAccess_, results_, onLog_);
    starter_->RetryPauseMs = StarterRetryMs;
    starter_->OnTerminate = [this](rtl::TObject*) { StartWorkers(); };
    starter_->Start();
    return true;
}

void TSrvcWorkers::StartWorkers() {
    starterEnded_ = true;
    if (stopping_ || !workers_.empty()) return;
    if (!results_.StartAllowed) {
        if (onRefusal_) onRefusal_(results_);
        return;
    }
    workers_ = makeWorkers_();
    for (auto& worker : workers_) worker->Start();
}

void TSrvcWorkers::Stop() {
    stopping_ = true;
    if (starter_) {
        starter_->Terminate();
        starter_->WaitFor();
    }
    for (auto& worker : workers_) {
        worker->Terminate();
        worker->WaitFor();
    }
    starter_.reset();
    workers_.clear();
}

TSrvcWorkers::TState TSrvcWorkers::StarterState() const {
    if (!starter_) return tsNone;
    // Once its end handler has run the starter has done its work; the thread only returns.
    return starterEnded_ || starter_->Finished() ? tsFinished : tsRunning;
}

TSrvcWorkers::TState TSrvcWorkers::WorkerState(size_t index) const {
    const rtl::TThread* worker = Worker(index);
    if (!worker) return tsNone;
    return worker->Finished() ? tsFinished : tsRunning;
}

const char* ThreadStateText(TSrvcWorkers::TState state) {
    static const char* const texts[] = {"not created", "running", "finished"};
    return texts[state];
}

std::string StartupDecisionText(const TSrvcWorkers& workers) {
    if (workers.StarterState() != TSrvcWorkers::tsFinished && workers.WorkerState(0) == TSrvcWorkers::tsNone)
        return "not taken";
    const TStartupResults& results = workers.Results();
    if (results.StartAllowed) return "allowed";
    if (results.RefusalReason == TStartupResults::rsComputerName) return "refused: computer name";
    if (results.RefusalReason == TStartupResults::rsDBVersion) return "refused: database version";
    return "none (see the journal)";
}

}  // namespace svc
