// ZuvQelInSrvc, the import program: with the first argument exactly "/debug" it runs in the
// terminal (Start and Stop by hand); otherwise it is the service srvZuvQelInSrvc in the
// foreground under systemd ("/install" and "/uninstall" write and remove its unit).
#include <memory>
#include <string>
#include <vector>

#include "common/oci/uOciDataAccess.h"
#include "common/uDataAccess.h"
#include "common/uParamsStorage.h"
#include "import_service/program/uImportOciSession.h"
#include "import_service/uImportParams.h"
#include "import_service/uZuvQelInSrvcMain.h"
#include "import_service/udmMainDataModule.h"
#include "import_service/ufrmDebug.h"
#include "platform/os/EventLog.h"
#include "platform/os/SvcMgr.h"

namespace {

class TImportOciDataAccess final : public svc::TOciDataAccess {
public:
    std::unique_ptr<svc::TConnectionSession> CreateSession() override {
        return std::make_unique<TImportOciSession>();
    }
};

// The data-access components (sessions, stored procedures, queries) the program reaches the
// database through: the Oracle client found through ORACLE_HOME. One for the process, made before
// the first thread that uses it and freed after the last has ended, while the client library is
// still whole (its own statics go before a static of ours would).
std::unique_ptr<svc::TDataAccess> ProgramDataAccess() {
    return std::make_unique<TImportOciDataAccess>();
}

int RunProgram(int argc, char** argv, os::TEventLogger& eventLog) {
    const std::unique_ptr<svc::TDataAccess> ownDataAccess = ProgramDataAccess();
    svc::TDataAccess* dataAccess = ownDataAccess.get();
    std::unique_ptr<svc::TdmParamsStorage> procedures;
    if (dataAccess) procedures = std::make_unique<svc::TdmParamsStorage>(dataAccess->Components());
    svc::TImportParamsStorage params;

    if (argc > 1 && std::string(argv[1]) == "/debug") {
        svc::TfrmDebug window(params, procedures.get(), dataAccess);
        return window.Run();
    }
    os::TServiceApplication application;
    application.Initialize();
    application.Title = svc::kInTitle;
    application.CreateForm<svc::TsrvZuvQelInSrvc>(params, procedures.get(), dataAccess, eventLog);
    return application.Run(std::vector<std::string>(argv + 1, argv + argc));
}

}  // namespace

int main(int argc, char** argv) {
    os::TEventLogger eventLog(svc::kInServiceName);
    eventLog.LogMessage("Utility \"Zuv Qel In Srvc\" Init...", os::EVENTLOG_INFORMATION_TYPE);
    int exitCode = 1;
    try {
        exitCode = RunProgram(argc, argv, eventLog);
    } catch (const std::exception& e) {
        eventLog.LogMessage(std::string("Error. Init on \"Zuv Qel In Srvc\": ") + e.what(),
                            os::EVENTLOG_ERROR_TYPE);
    }
    eventLog.LogMessage("Utility \"Zuv Qel In Srvc\" UnInit...", os::EVENTLOG_INFORMATION_TYPE);
    return exitCode;
}
