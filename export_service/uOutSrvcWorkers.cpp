// Starting and stopping the export's threads.
#include "export_service/uOutSrvcWorkers.h"

namespace svc {

TOutSrvcWorkers::TOutSrvcWorkers(TParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog)
    : params_(params), dataAccess_(dataAccess), onLog_(std::move(onLog)) {}

TOutSrvcWorkers::~TOutSrvcWorkers() {
    Stop();
}

bool TOutSrvcWorkers::Start() {
    if (manager_ || StarterState() == tsRunning) return false;
    starter_.reset();  // a refused start may be tried again
    stopping_ = false;
    starterEnded_ = false;
    starter_ = std::make_unique<TStarterThread>(params_, dataAccess_, results_, onLog_);
    starter_->OnTerminate = [this](rtl::TObject*) { StartWorkers(); };
    starter_->Start();
    return true;
}

void TOutSrvcWorkers::StartWorkers() {
    starterEnded_ = true;
    if (stopping_ || manager_) return;
    if (!results_.StartAllowed) {
        const std::string refusal = RefusalText(results_, params_);
        if (!refusal.empty()) CallLog(onLog_, refusal, true);
        return;
    }
    manager_ = std::make_unique<TManagerThread>(params_, dataAccess_, onLog_, *Clock);
    manager_->Start();
}

void TOutSrvcWorkers::Stop() {
    stopping_ = true;
    if (starter_) {
        starter_->Terminate();
        starter_->WaitFor();
    }
    if (manager_) {
        manager_->Terminate();
        manager_->WaitFor();
    }
    starter_.reset();
    manager_.reset();
}

namespace {

template <class T>
TOutSrvcWorkers::TState StateOf(const std::unique_ptr<T>& thread) {
    if (!thread) return TOutSrvcWorkers::tsNone;
    return thread->Finished() ? TOutSrvcWorkers::tsFinished : TOutSrvcWorkers::tsRunning;
}

}  // namespace

TOutSrvcWorkers::TState TOutSrvcWorkers::StarterState() const {
    // Once its end handler has run the starter has done its work; the thread only returns.
    return starter_ && starterEnded_ ? tsFinished : StateOf(starter_);
}

TOutSrvcWorkers::TState TOutSrvcWorkers::ManagerState() const {
    return StateOf(manager_);
}

}  // namespace svc
