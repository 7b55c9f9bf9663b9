// Loading the import service's Connection.ini and its exchange settings.
#include "import_service/uImportParams.h"

#include "common/EnDeCrypt.h"
#include "platform/os/IniFiles.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"

namespace svc {

namespace {

const char* const kSection = "CONNECTION_QEL";
const char* const kLogSection = "LOG";

std::string Decrypted(const std::string& hex, const std::string& what) {
    std::string error, plain;
    bool done = false;
    try {
        done = DecryptStringWithPassPhrase(hex, ConnectionIniPassPhrase, false, true, error, plain);
    } catch (const std::exception& e) {
        error = e.what();  // text that is no hexadecimal
    }
    if (!done) throw rtl::Exception("Error in decrypting " + what + ": " + error);
    return plain;
}

bool IsOn(const std::string& value) {
    return value == "1";
}

}  // namespace

const TStoredProcDecl& GetZuvQelParamDecl() {
    static const TStoredProcDecl decl{
        "ostGetZuvQelParam",
        "zuv_export_out_pack.get_zuv_param",
        {"begin", "  zuv_export_out_pack.get_zuv_param(:P_PARAM, :P_VALUE);", "end;"},
        {{"P_PARAM", db::ftString, db::ptInput, 64, false},
         {"P_VALUE", db::ftString, db::ptOutput, 4000, false}}};
    return decl;
}

const TStoredProcDecl& GetZuvQelDBVersionDecl() {
    static const TStoredProcDecl decl{
        "ospGetZuvQelDBVersion",
        "zuv_export_out_pack.get_zuv_qel_db_version",
        {"begin", "  :RESULT := zuv_export_out_pack.get_zuv_qel_db_version;", "end;"},
        {{"RESULT", db::ftString, db::ptResult, 0, false}}};
    return decl;
}

std::string TImportParamsStorage::ConnectionIniFileName() {
    return rtl::ExtractFilePath(rtl::ApplicationExeName()) + "Connection.ini";
}

bool TImportParamsStorage::LoadConnectionIni() {
    return LoadConnectionIni(ConnectionIniFileName());
}

bool TImportParamsStorage::LoadConnectionIni(const std::string& fileName) {
    if (!rtl::FileExists(fileName)) return false;
    const os::TIniFile ini(fileName);
    Server = ini.ReadString(kSection, "Server", "");
    OraHome = ini.ReadInteger(kSection, "OraHome", -1);
    Scheme = ini.ReadString(kSection, "Scheme", "");
    UserName = ini.ReadString(kSection, "UserName", "");
    Password = ini.ReadString(kSection, "Password", "");
    LogPath = ini.ReadString(kLogSection, "LogInPath", "");
    ExtendedLog = ini.ReadBool(kLogSection, "ExtendedLog", false);
    if (Server.empty() || Scheme.empty() || UserName.empty() || Password.empty() || OraHome == -1)
        return false;
    UserName = Decrypted(UserName, "user name");
    Password = Decrypted(Password, "password");
    return true;
}

std::string TImportParamsStorage::GetParam(TStoredProc& proc, const std::string& name, TDataSession* session,
                                           bool required) {
    TProcCall call(proc, session);
    call.Text("P_PARAM", name).Exec();
    std::string value = call.Out("P_VALUE").AsString();
    if (value.empty() && required)
        throw rtl::Exception(
            "Exchange settings are not specified. Please specify correct exchange settings in Zuv Admin");
    return value;
}

std::string TImportParamsStorage::GetDBVersion(TStoredProc& proc, TDataSession* session) {
    TProcCall call(proc, session);
    call.Exec();
    return call.Out("RESULT").AsString();
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
