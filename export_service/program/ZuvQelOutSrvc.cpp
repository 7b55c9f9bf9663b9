// ZuvQelOutSrvc, the export program: with the first argument exactly "/debug" it runs in the
// terminal (Start and Stop by hand); otherwise it is the service srvZuvQelOutSrvc in the
// foreground under systemd ("/install" and "/uninstall" write and remove its unit).
#include <memory>
#include <string>
#include <vector>

#include "common/oci/uOciDataAccess.h"
#include "common/uDataAccess.h"
#include "common/uParamsStorage.h"
#include "export_service/uZuvQelOutSrvcMain.h"
#include "export_service/ufrmDebug.h"
#include "platform/os/EventLog.h"
#include "platform/os/SvcMgr.h"

namespace {

// The data-access components (sessions, stored procedures, queries) the program reaches the
// database through: the Oracle client found through ORACLE_HOME. One for the process, made before
// the first thread that uses it and freed after the last has ended, while the client library is
// still whole (its own statics go before a static of ours would).
std::unique_ptr<svc::TDataAccess> ProgramDataAccess() {
    return std::make_unique<svc::TOciDataAccess>();
}

int RunProgram(int argc, char** argv, os::TEventLogger& eventLog) {
    const std::unique_ptr<svc::TDataAccess> ownDataAccess = ProgramDataAccess();
    svc::TDataAccess* dataAccess = ownDataAccess.get();
    std::unique_ptr<svc::TdmParamsStorage> procedures;
    if (dataAccess) procedures = std::make_unique<svc::TdmParamsStorage>(dataAccess->Components());
    svc::TParamsStorage params(procedures.get());

    if (argc > 1 && std::string(argv[1]) == "/debug") {
        svc::TfrmDebug window(params, dataAccess, eventLog);
        return window.Run();
    }
    os::TServiceApplication application;
    application.Initialize();
    application.Title = svc::kOutTitle;
    application.CreateForm<svc::TsrvZuvQelOutSrvc>(params, dataAccess, eventLog);
    return application.Run(std::vector<std::string>(argv + 1, argv + argc));
}

}  // namespace

int main(int argc, char** argv) {
    os::TEventLogger eventLog(svc::kOutServiceName);
    eventLog.LogMessage("Utility \"Zuv Qel Out Srvc\" Init...", os::EVENTLOG_INFORMATION_TYPE);
    int exitCode = 1;
    try {
        exitCode = RunProgram(argc, argv, eventLog);
    } catch (const std::exception& e) {
        eventLog.LogMessage(std::string("Error. Init on \"Zuv Qel Out Srvc\": ") + e.what(),
                            os::EVENTLOG_ERROR_TYPE);
    }
    eventLog.LogMessage("Utility \"Zuv Qel Out Srvc\" UnInit...", os::EVENTLOG_INFORMATION_TYPE);
    return exitCode;
}
