// The import service's parameters: Connection.ini (database, journal folder under LogInPath,
// extended log) and the import set of exchange settings, which the database hands out one at a
// time by name through get_zuv_param.
#pragma once

#include <cstdint>
#include <string>

#include "common/uParamsStorage.h"
#include "common/uStoredProc.h"
#include "import_service/uPop3Gateway.h"
#include "platform/rtl/Objects.h"

namespace svc {

// The import variant of the parameters store; one per program. The fields keep the names of
// the settings they come from; those of Connection.ini (TConnectionIniValues) take the journal
// folder from LogInPath.
class TImportParamsStorage : public rtl::TObject, public TConnectionIniValues {
public:
    // Exchange settings.
    int32_t CIntervalQelInSrvc = 0;  // mail interval, milliseconds
    std::string FolderSharingQelIn;  // ends with a path delimiter
    std::string CFolderQelImport;    // ends with a path delimiter
    bool Pop3EnableQelIn = false;
    int32_t POP3Port = 0;
    std::string POP3Server;
    std::string POP3Login;  // unscrambled
    std::string POP3Pass;   // unscrambled
    bool EnableImportEncrypt = false;
    bool POP3Ssl = false;
    std::string ComputerNameSetting;  // PC_SRV_NAME_QEL_IN
    std::string DBVersion;

    // Connection.ini beside the program.
    static std::string ConnectionIniFileName() { return svc::ConnectionIniFileName(); }
    // False when the file is missing, or Server, Scheme, UserName or Password is empty, or
    // OraHome is missing (-1); then nothing is decrypted. A credential that does not decrypt
    // raises "Error in decrypting user name: " / "Error in decrypting password: " + reason.
    bool LoadConnectionIni();
    bool LoadConnectionIni(const std::string& fileName);

    // One exchange setting. A required one that comes back empty raises "Exchange settings are
    // not specified. Please specify correct exchange settings in Zuv Admin".
    static std::string GetParam(TStoredProc& proc, const std::string& name, TDataSession* session,
                                bool required);
    static std::string GetDBVersion(TStoredProc& proc, TDataSession* session);

    // Reads the import set in its order, then the database version, then creates the shared
    // folder and the import folder when missing (one level each; a failure is not reported). The
    // first failure raises; the fields read before keep their new values.
    void LoadParams(TStoredProc& getParam, TStoredProc& getDBVersion, TDataSession* session);

    // What the POP3 gateway reads.
    TPop3Params Pop3Params() const;
};

}  // namespace svc
