// The import service object: reads Connection.ini, opens the daily journal, writes its header
// and starts the starter thread at service start; when the starter allows it, the shared-folder
// watcher and the package-manager thread run until the stop ends them (starter, watcher, package
// manager, in this order). A journal line the file cannot take goes to the event log.
#pragma once

#include <memory>
#include <string>

#include "common/uDataAccess.h"
#include "common/uZuvService.h"
#include "import_service/uImportParams.h"
#include "import_service/uInSrvcThreads.h"

namespace svc {

inline constexpr const char* kInServiceName = "srvZuvQelInSrvc";
inline constexpr const char* kInDisplayName = "ZuvQelInSrvc";
inline constexpr const char* kInTitle = "Zuv Qel In Srvc - Data import from Web to Qel";

class TsrvZuvQelInSrvc : public TZuvService {
public:
    // module: the settings procedures (null without data-access components).
    TsrvZuvQelInSrvc(rtl::TComponent* owner, TImportParamsStorage& params, TdmParamsStorage* module,
                     TDataAccess* dataAccess, os::TEventLogger& eventLog,
                     const std::string& connectionIni = std::string());

    TInSrvcWorkers& Workers() { return *workers_; }

private:
    std::unique_ptr<TInSrvcWorkers> workers_;
};

}  // namespace svc
