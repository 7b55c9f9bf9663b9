// The export's threads as the service object and the debug window start and stop them: the
// starter first; when it ends, on the thread that started it (which must pump its queue), the
// manager thread or the journal line of the refusal.
#pragma once

#include "common/uDataAccess.h"
#include "common/uLogEvent.h"
#include "common/uParamsStorage.h"
#include "common/uSrvcWorkers.h"
#include "export_service/uManagerThread.h"
#include "export_service/uSchedule.h"

namespace svc {

class TOutSrvcWorkers : public TSrvcWorkers {
public:
    TOutSrvcWorkers(TParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog);

    // The clock of the manager's schedule.
    TRunClock* Clock = &TRunClock::System();

    TState ManagerState() const { return WorkerState(0); }
};

}  // namespace svc
