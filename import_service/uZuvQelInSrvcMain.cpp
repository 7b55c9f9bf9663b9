// The import service object.
#include "import_service/uZuvQelInSrvcMain.h"

#include "common/uSrvcWorkers.h"

namespace svc {

namespace {

const TZuvServiceTexts kInTexts{
    kInServiceName,    kInDisplayName,           kInTitle,
    "Zuv Qel In Srvc", "----------------------", "Utility \"Zuv Qel in Srvc\" finished...",
    "LogInPath"};

}  // namespace

TsrvZuvQelInSrvc::TsrvZuvQelInSrvc(rtl::TComponent* owner, TImportParamsStorage& params,
                                   TdmParamsStorage* module, TDataAccess* dataAccess,
                                   os::TEventLogger& eventLog, const std::string& connectionIni)
    : TZuvService(owner, kInTexts, params, eventLog, connectionIni) {
    const TLogEvent log = [this](const std::string& text, bool important) { WriteLog(text, important); };
    workers_ = std::make_unique<TInSrvcWorkers>(
        params, module, dataAccess, log, [&params, log](const TStartupResults& results) {
            const std::string refusal = RefusalText(results, params.ComputerNameSetting, params.DBVersion);
            if (!refusal.empty()) CallLog(log, refusal, true);
        });
    SetWorkers(*workers_);
}

}  // namespace svc
