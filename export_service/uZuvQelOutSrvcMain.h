// The export service object: the shared service start and stop (common/uZuvService.h) over the
// export's starter and manager threads.
#pragma once

#include <memory>
#include <string>

#include "common/uDataAccess.h"
#include "common/uParamsStorage.h"
#include "common/uZuvService.h"
#include "export_service/uOutSrvcWorkers.h"

namespace svc {

inline constexpr const char* kOutServiceName = "srvZuvQelOutSrvc";
inline constexpr const char* kOutDisplayName = "ZuvQelOutSrvc";
inline constexpr const char* kOutTitle = "ZuvWebOutSrvc - Data export from Qel to Web";
inline constexpr const char* kOutDescription = "Zuv Qel Out Srvc - Data export from Qel to Web";

class TsrvZuvQelOutSrvc : public TZuvService {
public:
    TsrvZuvQelOutSrvc(rtl::TComponent* owner, TParamsStorage& params, TDataAccess* dataAccess,
                      os::TEventLogger& eventLog, const std::string& connectionIni = std::string());

    TOutSrvcWorkers& Workers() { return *workers_; }

private:
    std::unique_ptr<TOutSrvcWorkers> workers_;
};

}  // namespace svc
