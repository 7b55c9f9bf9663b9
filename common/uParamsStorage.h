// The export service's parameters store: Connection.ini beside the program (how to reach the
// database, where to write the journal) and the exchange settings, named values the central
// database hands out one at a time through zuv_export_out_pack.get_zuv_param; also the
// database version and the local computer name, which the start-up checks compare.
//
// Connection.ini (read with the private-profile rules: a missing key or an integer that does not
// parse gives the default; a Boolean is an integer, non-zero meaning true):
//   [CONNECTION_QEL] Server, OraHome (default -1), Scheme, UserName, Password
//   [LOG]            LogOutPath (empty: the program's folder), ExtendedLog
// UserName and Password hold hexadecimal RC2 cipher text under the Connection.ini pass phrase
// (tools/zuvcrypt writes them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/uStoredProc.h"
#include "platform/rtl/Objects.h"

namespace svc {

// The values of Connection.ini. A program's parameters store holds them as its fields.
struct TConnectionIniValues {
    std::string Server;
    int32_t OraHome = -1;
    std::string Scheme;
    std::string UserName;  // decrypted
    std::string Password;  // decrypted
    std::string LogPath;   // empty: the program's folder
    bool ExtendedLog = false;
};

// Connection.ini beside the program.
std::string ConnectionIniFileName();

// Why a service cannot start without its Connection.ini.
inline constexpr const char* kConnectionIniFailure =
    "Failed reading connection DB params from common config file. Generate new configuration file in Web "
    "Admin "
    "application in Exchange settings menu.";

// Reads the file into values, the journal folder from [LOG] logPathKey (the export's LogOutPath,
// the import's LogInPath). False when the file is missing (values untouched), or Server, Scheme,
// UserName or Password is empty, or OraHome is -1; then nothing is decrypted. A credential that
// does not decrypt raises "Error in decrypting user name: " / "Error in decrypting password: " +
// the reason.
bool ReadConnectionIni(const std::string& fileName, const std::string& logPathKey,
                       TConnectionIniValues& values);

// The settings procedure get_zuv_param (P_PARAM in, P_VALUE out) and the version function
// (RESULT) of both services: P_PARAM is wide enough for the longest setting name, P_VALUE for a
// public key of 2048 bits in hexadecimal.
const TStoredProcDecl& GetZuvQelParamDecl();
const TStoredProcDecl& GetZuvQelDBVersionDecl();

// One exchange setting as text, the procedure's parameters cleared first. A required one that
// comes back empty raises missingMessage. Database errors propagate unchanged.
std::string ReadExchangeSetting(TStoredProc& proc, const std::string& name, TDataSession* session,
                                bool required, const std::string& missingMessage);
std::string ReadDBVersion(TStoredProc& proc, TDataSession* session);

// The data module of the two stored procedures the store reads through. Neither component
// carries a session: each call sets the caller's.
class TdmParamsStorage : public rtl::TObject {
public:
    explicit TdmParamsStorage(TComponentFactory& factory);
    ~TdmParamsStorage() override;

    std::unique_ptr<TStoredProc> ostGetZuvQelParam;
    std::unique_ptr<TStoredProc> ospGetZuvQelDBVersion;
};

class TParamsStorage : public rtl::TObject, public TConnectionIniValues {
public:
    // The procedures the exchange settings are read through (not owned).
    explicit TParamsStorage(TdmParamsStorage* module = nullptr) : Module(module) {}
    TdmParamsStorage* Module;

    // Exchange settings, in reading order.
    int32_t SourceData = 0;        // SOURCE_DATA: 0 all, 1 Qel, 2 Dolm
    int32_t ClientTypeExport = 0;  // CLIENT_TYPE_EXPORT: 0 all, 1 firms, 2 private persons
    std::string TypePriceSchemes;  // TYPE_PRICE_SCHEMES
    std::string FolderSharing;     // "Sharing": the folder Sharing beside the program
    int32_t Interval = 0;
    std::string FolderExport;  // ends with a path delimiter
    int32_t TypeChange = 0;    // 1 mail, else the shared folder
    int32_t TimeOutCount = 0;
    int32_t RepeatEveryTimeHMS = 0;  // unit of Interval: 0 seconds, 1 minutes, 2 hours
    int32_t ScheduleType = 0;        // 0 interval, else the time list
    int32_t IsAutoStart = 0;         // 1: the first export runs at once
    std::string TimeList;            // times of day separated by ";"
    int32_t SMTPUseAuthentication = 0;
    int32_t SMTPPort = 0;
    std::string SMTPServer;
    std::string SMTPLogin;  // unscrambled
    std::string SMTPPass;   // unscrambled
    std::string SMTPSender;
    std::string SMTPGet;
    bool EnableExportEncrypt = false;
    bool SaveToBackup = false;  // SAVE_TO_BACKUP
    bool SMTPSsl = false;
    std::string ExportPublicKey;      // hexadecimal key blob
    std::string ComputerNameSetting;  // PC_SRV_NAME_QEL_OUT
    std::string DBVersion;

    // Connection.ini beside the program.
    static std::string ConnectionIniFileName() { return svc::ConnectionIniFileName(); }
    // ReadConnectionIni with LogOutPath into the Connection.ini fields.
    bool LoadConnectionIni();
    bool LoadConnectionIni(const std::string& fileName);

    // One exchange setting as text. A required one that comes back empty raises "Exchange
    // settings are not specified. Please specify correct settings in Zuv Qel Admin". Database
    // errors propagate unchanged.
    void GetParam(const std::string& name, TDataSession* session, bool required, std::string& value);
    void GetDBVersion(TDataSession* session, std::string& version);

    // Reads the export set in its order, then the database version, then creates FolderExport
    // when missing (one level; the outcome is not looked at). Integers are strict (decimal or
    // "$" hexadecimal; anything else, the empty text included, raises EConvertError); a flag is
    // on only for the exact text "1". The first failure raises; fields read before keep their
    // new values.
    void LoadParams(TDataSession* session);

    // The computer name; empty when the system does not give it.
    static void GetLocalComputerName(std::string& name);
    static void GetExeFileName(std::string& name);

private:
    TdmParamsStorage& Procedures() const;
};

}  // namespace svc
