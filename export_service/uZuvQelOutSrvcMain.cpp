// The export service object.
#include "export_service/uZuvQelOutSrvcMain.h"

namespace svc {

namespace {

const TZuvServiceTexts kOutTexts{kOutServiceName,
                                 kOutDisplayName,
                                 kOutDescription,
                                 "Zuv Qel Out Srvc",
                                 "-----------------------------",
                                 "Utility \"Zuv Qel Out Srvc\" finished...",
                                 "LogOutPath"};

}  // namespace

TsrvZuvQelOutSrvc::TsrvZuvQelOutSrvc(rtl::TComponent* owner, TParamsStorage& params, TDataAccess* dataAccess,
                                     os::TEventLogger& eventLog, const std::string& connectionIni)
    : TZuvService(owner, kOutTexts, params, eventLog, connectionIni) {
    workers_ = std::make_unique<TOutSrvcWorkers>(
        params, dataAccess, [this](const std::string& text, bool important) { WriteLog(text, important); });
    SetWorkers(*workers_);
}

}  // namespace svc
