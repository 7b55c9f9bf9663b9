// Starting and stopping the export's threads.
#include "export_service/uOutSrvcWorkers.h"

namespace svc {

TOutSrvcWorkers::TOutSrvcWorkers(TParamsStorage& params, TDataAccess* dataAccess, TLogEvent onLog)
    : TSrvcWorkers(
          OutStarterSettings(params), dataAccess, onLog,
          [this, &params, dataAccess, onLog] {
              std::vector<std::unique_ptr<rtl::TThread>> workers;
              workers.push_back(std::make_unique<TManagerThread>(params, dataAccess, onLog, *Clock));
              return workers;
          },
          [&params, onLog](const TStartupResults& results) {
              const std::string refusal = RefusalText(results, params);
              if (!refusal.empty()) CallLog(onLog, refusal, true);
          }) {}

}  // namespace svc
