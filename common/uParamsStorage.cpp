// Loading Connection.ini and the export's exchange settings.
#include "common/uParamsStorage.h"

#include "common/EnDeCrypt.h"
#include "platform/os/ComputerName.h"
#include "platform/os/IniFiles.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"

namespace svc {

namespace {

const char* const kConnectionSection = "CONNECTION_QEL";
const char* const kLogSection = "LOG";

std::string Decrypted(const std::string& hex, const std::string& what) {
    std::string error, plain;
    bool done = false;
    try {
        done = DecryptStringWithPassPhrase(hex, ConnectionIniPassPhrase, false, true, error, plain);
    } catch (const std::exception& e) {
        error = e.what();  // text that is not hexadecimal
    }
    if (!done) throw rtl::Exception("Error in decrypting " + what + ": " + error);
    return plain;
}

bool IsOn(const std::string& value) {
    return value == "1";
}

}  // namespace

bool ReadConnectionIni(const std::string& fileName, const std::string& logPathKey,
                       TConnectionIniValues& values) {
    if (!rtl::FileExists(fileName)) return false;
    const os::TIniFile ini(fileName);
    values.Server = ini.ReadString(kConnectionSection, "Server", "");
    values.OraHome = ini.ReadInteger(kConnectionSection, "OraHome", -1);
    values.Scheme = ini.ReadString(kConnectionSection, "Scheme", "");
    values.UserName = ini.ReadString(kConnectionSection, "UserName", "");
    values.Password = ini.ReadString(kConnectionSection, "Password", "");
    values.LogPath = ini.ReadString(kLogSection, logPathKey, "");
    values.ExtendedLog = ini.ReadBool(kLogSection, "ExtendedLog", false);
    if (values.Server.empty() || values.Scheme.empty() || values.UserName.empty() ||
        values.Password.empty() || values.OraHome == -1)
        return false;
    values.UserName = Decrypted(values.UserName, "user name");
    values.Password = Decrypted(values.Password, "password");
    return true;
}

// ---------------------------------------------------------------------------------------------
// TdmParamsStorage

std::string ConnectionIniFileName() {
    return rtl::ExtractFilePath(rtl::ApplicationExeName()) + "Connection.ini";
}

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

std::string ReadExchangeSetting(TStoredProc& proc, const std::string& name, TDataSession* session,
                                bool required, const std::string& missingMessage) {
    TProcCall call(proc, session);
    call.Text("P_PARAM", name).Exec();
    std::string value = call.Out("P_VALUE").AsString();
    if (value.empty() && required) throw rtl::Exception(missingMessage);
    return value;
}

std::string ReadDBVersion(TStoredProc& proc, TDataSession* session) {
    TProcCall call(proc, session);
    call.Exec();
    return call.Out("RESULT").AsString();
}

TdmParamsStorage::TdmParamsStorage(TComponentFactory& factory)
    : ostGetZuvQelParam(factory.CreateStoredProc(GetZuvQelParamDecl())),
      ospGetZuvQelDBVersion(factory.CreateStoredProc(GetZuvQelDBVersionDecl())) {}

TdmParamsStorage::~TdmParamsStorage() = default;

// ---------------------------------------------------------------------------------------------
// TParamsStorage

bool TParamsStorage::LoadConnectionIni() {
    return LoadConnectionIni(ConnectionIniFileName());
}

bool TParamsStorage::LoadConnectionIni(const std::string& fileName) {
    return ReadConnectionIni(fileName, "LogOutPath", *this);
}

TdmParamsStorage& TParamsStorage::Procedures() const {
    if (!Module) throw rtl::Exception("This program has no Oracle data-access components");
    return *Module;
}

void TParamsStorage::GetParam(const std::string& name, TDataSession* session, bool required,
                              std::string& value) {
    value = ReadExchangeSetting(
        *Procedures().ostGetZuvQelParam, name, session, required,
        "Exchange settings are not specified. Please specify correct settings in Zuv Qel Admin");
}

void TParamsStorage::GetDBVersion(TDataSession* session, std::string& version) {
    version = ReadDBVersion(*Procedures().ospGetZuvQelDBVersion, session);
}

void TParamsStorage::LoadParams(TDataSession* session) {
    std::string value;
    const auto text = [&](const char* name, bool required) -> const std::string& {
        GetParam(name, session, required, value);
        return value;
    };
    const auto integer = [&](const char* name, bool required) { return rtl::StrToInt(text(name, required)); };

    SourceData = integer("SOURCE_DATA", true);
    ClientTypeExport = integer("CLIENT_TYPE_EXPORT", true);
    TypePriceSchemes = text("TYPE_PRICE_SCHEMES", true);
    FolderSharing = text("FolderSharing", true);
    Interval = integer("Interval", true);
    FolderExport = rtl::IncludeTrailingPathDelimiter(text("FolderExport", true));
    TypeChange = integer("TypeChange", true);
    TimeOutCount = integer("TimeOutCount", true);
    RepeatEveryTimeHMS = integer("RepeatEveryTimeHMS", true);
    ScheduleType = integer("ScheduleType", true);
    IsAutoStart = integer("IsAutoStart", true);
    TimeList = text("TimeList", false);
    SMTPUseAuthentication = integer("SMTPUseAuthentication", true);
    // Not required, yet it must hold a number.
    SMTPPort = integer("SMTPPort", false);
    SMTPServer = text("SMTPServer", false);
    SMTPLogin = XorString(text("SMTPLogin", false));
    SMTPPass = XorString(text("SMTPPass", false));
    SMTPSender = text("SMTPSender", false);
    SMTPGet = text("SMTPGet", false);
    EnableExportEncrypt = IsOn(text("EnableExportEncrypt", false));
    SaveToBackup = IsOn(text("SAVE_TO_BACKUP", false));
    SMTPSsl = IsOn(text("SMTPSsl", false));
    ExportPublicKey = text("ExportPublicKey", false);
    ComputerNameSetting = text("PC_SRV_NAME_QEL_OUT", true);
    GetDBVersion(session, DBVersion);
    if (!rtl::DirectoryExists(FolderExport)) rtl::CreateDir(FolderExport);
}

void TParamsStorage::GetLocalComputerName(std::string& name) {
    try {
        if (!os::GetComputerName(name)) name.clear();
    } catch (...) {
        name.clear();
    }
}

void TParamsStorage::GetExeFileName(std::string& name) {
    name = rtl::ApplicationExeName();
}

}  // namespace svc
