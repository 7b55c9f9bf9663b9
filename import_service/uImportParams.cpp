// Loading the import service's Connection.ini and its exchange settings.
#include "import_service/uImportParams.h"

#include "common/EnDeCrypt.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"

namespace svc {

namespace {

bool IsOn(const std::string& value) {
    return value == "1";
}

}  // namespace

bool TImportParamsStorage::LoadConnectionIni() {
    return LoadConnectionIni(ConnectionIniFileName());
}

bool TImportParamsStorage::LoadConnectionIni(const std::string& fileName) {
    return ReadConnectionIni(fileName, "LogInPath", *this);
}

std::string TImportParamsStorage::GetParam(TStoredProc& proc, const std::string& name, TDataSession* session,
                                           bool required) {
    return ReadExchangeSetting(
        proc, name, session, required,
        "Exchange settings are not specified. Please specify correct exchange settings in Zuv Admin");
}

std::string TImportParamsStorage::GetDBVersion(TStoredProc& proc, TDataSession* session) {
    return ReadDBVersion(proc, session);
}

void TImportParamsStorage::LoadParams(TStoredProc& getParam, TStoredProc& getDBVersion,
                                      TDataSession* session) {
    const auto get = [&](const char* name, bool required) {
        return GetParam(getParam, name, session, required);
    };
    CIntervalQelInSrvc = rtl::StrToInt(get("CIntervalQelInSrvc", true));
    FolderSharingQelIn = get("FolderSharingQelIn", true);
    CFolderQelImport = get("CFolderQelImport", true);
    Pop3EnableQelIn = IsOn(get("Pop3EnableQelIn", true));
    // Not required, yet it must hold a number even with POP3 off.
    POP3Port = rtl::StrToInt(get("POP3Port", false));
    POP3Server = get("POP3Server", false);
    POP3Login = XorString(get("POP3Login", false));
    POP3Pass = XorString(get("POP3Pass", false));
    EnableImportEncrypt = IsOn(get("EnableImportEncrypt", false));
    POP3Ssl = IsOn(get("POP3Ssl", false));
    ComputerNameSetting = get("PC_SRV_NAME_QEL_IN", true);
    FolderSharingQelIn = rtl::IncludeTrailingPathDelimiter(FolderSharingQelIn);
    DBVersion = GetDBVersion(getDBVersion, session);
    CFolderQelImport = rtl::IncludeTrailingPathDelimiter(CFolderQelImport);
    if (!rtl::DirectoryExists(FolderSharingQelIn)) rtl::CreateDir(FolderSharingQelIn);
    if (!rtl::DirectoryExists(CFolderQelImport)) rtl::CreateDir(CFolderQelImport);
}

TPop3Params TImportParamsStorage::Pop3Params() const {
    TPop3Params params;
    params.CFolderQelImport = CFolderQelImport;
    params.POP3Server = POP3Server;
    params.POP3Port = POP3Port;
    params.POP3Login = POP3Login;
    params.POP3Pass = POP3Pass;
    params.POP3Ssl = POP3Ssl;
    return params;
}

}  // namespace svc
