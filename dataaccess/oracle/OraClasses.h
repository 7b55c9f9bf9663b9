// The Oracle driver's classes.
//
// Text routines: connect strings, Oracle object names, precision options, the server banner and
// the text forms of ROWIDs; and TOCISQLInfo, the Oracle SQL dialect.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "dataaccess/oracle/OraCall.h"
#include "dataaccess/oracle/OraError.h"
#include "platform/rtl/Threads.h"
#include "platform/rtl/Types.h"
#include "platform/rtl/Variants.h"

namespace dac {

using rtl::AnsiString;

// ---------------------------------------------------------------------------------------------
// Connect strings and names

enum TConnectMode { cmNormal, cmSysOper, cmSysDBA, cmSysASM };

// Reads "user/password@server [AS SYSDBA|SYSOPER|SYSASM]". An unknown privilege after AS
// raises Exception "Invalid connect string".
void ParseConnectString(const AnsiString& text, AnsiString& userName, AnsiString& password,
                        AnsiString& server, TConnectMode& connectMode);

// Every dot-separated part in double quotes as it is: a.b gives "a"."b".
AnsiString QuoteObjectName(const AnsiString& name);
// At least two characters, the first and the last a double quote.
bool IsQuotedName(const AnsiString& name);
// Every part trimmed; an unquoted part upper-cased and quoted; joined with ".".
AnsiString NormalizeObjectName(const AnsiString& name);

// "p,s" or "p" (scale 0); a part that is no integer raises EConvertError.
void ParsePrecision(const AnsiString& text, int& precision, int& scale);

// The version number in a server banner ("... Release 10.2.0.1.0 - Production" gives
// 10.2.0.1.0); empty when there is none.
AnsiString ParseServerVersion(const AnsiString& banner);

// The locale's long time format, read once at first use.
const AnsiString& OraLocalTimeFormat();

// ---------------------------------------------------------------------------------------------
// ROWID texts

struct TRowIdNumbers {
    uint32_t ObjectNumber = 0;  // data object number; 0 for a restricted ROWID
    uint16_t FileNumber = 0;    // relative file number
    uint32_t BlockNumber = 0;
    uint16_t RowNumber = 0;
};

// 18 characters over A-Z a-z 0-9 + /: object 6, file 3, block 6, row 3.
AnsiString RowIdToExtendedString(const TRowIdNumbers& rowId);
// BBBBBBBB.RRRR.FFFF in upper-case hex.
AnsiString RowIdToRestrictedString(const TRowIdNumbers& rowId);
// Extended form, or restricted when the data object number is 0.
AnsiString RowIdToString(const TRowIdNumbers& rowId);
// "*" and the bytes after the kind byte, 6 bits per character, the last character filled with
// zero bits.
AnsiString URowIdToUniversalString(const uint8_t* bytes, size_t size);
// A universal ROWID (kind byte 2) in its universal form; any other kind as extended or
// restricted text from the bytes after the kind byte: object number (4 bytes), file number (2),
// block number (4) and row number (2), most significant byte first.
AnsiString URowIdToString(const rtl::TBytes& bytes);

// ---------------------------------------------------------------------------------------------
// Oracle SQL dialect: upper-case names, database links after "@", the Oracle lexer.

class TOCISQLInfo : public TSQLInfo {
public:
    int IdentCase() const override { return 0; }
    using TSQLInfo::NormalizeName;
    AnsiString NormalizeName(const AnsiString& value, char left, char right, bool quoteNames,
                             bool unQuoteNames) const override;
    void SplitObjectName(const AnsiString& name, TSQLObjectInfo& info) const override;
    void ParseTablesInfo(const AnsiString& sql, TCRTablesInfo& tables) override;
};

// The process-wide Oracle dialect object used to quote, unquote and normalise names.
TOCISQLInfo& OCISQLInfo();

// ---------------------------------------------------------------------------------------------
// The Oracle connection

enum TOptimizerMode : uint8_t {
    omDefault,
    omFirstRows1000,
    omFirstRows100,
    omFirstRows10,
    omFirstRows1,
    omFirstRows,
    omAllRows,
    omChoose,
    omRule
};

struct TNlsSessionParam {
    AnsiString Name;
    AnsiString Value;
    bool IsSet = false;
};

// Indexes into TOCIConnection's NLS table.
enum TNlsParamIndex {
    nlsDateLanguage,
    nlsDateFormat,
    nlsNumericCharacters,
    nlsTimeStampFormat,
    nlsTimeStampTZFormat
};
inline constexpr int NlsParamCount = 5;

// One bind of a session statement: an input or output string or integer.
struct TOCISessionParam {
    AnsiString Name;
    bool Output = false;
    bool IsInteger = false;
    int Size = 0;  // characters of a string output
    AnsiString Value;
    int32_t IntValue = 0;
    bool IsNull = true;
};

class TOCIConnection : public TCRConnection {
public:
    // Failover hook: (failover event, failover type, Retry).
    using TFailoverProc = std::function<void(uint32_t event, uint32_t type, bool& retry)>;
    using TInfoMessageProc = std::function<void(EOraError& error)>;

    TOCIConnection();
    ~TOCIConnection() override;

    void Enlist(TCRTransaction* transaction) override;
    void UnEnlist(TCRTransaction* transaction) override;
    TCRTransactionClass GetInternalTransactionClass() override;
    void Connect(const AnsiString& connectString) override;
    void Disconnect() override;
    void Assign(TCRConnection* source) override;
    void AssignConnect(TCRConnection* source) override;
    bool CheckIsValid() override;
    void ReturnToPool() override;
    void GetServerVersion(AnsiString& version) override;
    void GetServerVersionFull(AnsiString& version) override;
    void GetClientVersion(AnsiString& version) override;
    bool SetProp(int prop, const rtl::Variant& value) override;
    bool GetProp(int prop, rtl::Variant& value) override;

    // Raises a plain exception.
    virtual void RaiseError(const AnsiString& message);
    // The error path of a failed call on this connection: raises EOraError (through
    // ProcessError when asked), or EAbort when the error hook dropped the error; a warning
    // (status 1) goes to the info-message hook instead, except ORA-24344.
    virtual void OraError(TOCICallStyle callStyle, sword status, rtl::TComponent* component,
                          bool useProcessError);

    // A non-zero status goes to OraError with ProcessError.
    void Check(sword status) {
        if (status != OCI_SUCCESS) OraError(FOCICallStyle, status, Component, true);
    }
    void CheckInitialized();
    void CheckOCI80();

    TOCICallStyle GetOCICallStyle() const { return FOCICallStyle; }
    void SetOCICallStyle(TOCICallStyle value);
    TOCICallStyle GetStatementCallStyle() const { return FStatementCallStyle; }
    int GetConnectionType() const { return FConnectionType; }
    void SetConnectionType(int value);

    // The connection mutex, taken around every OCI call sequence when ThreadSafety is on.
    void Lock();
    void Release();
    // Asks the server to stop the running call of this session.
    void BreakExec();

    void* GetLDA();
    void SetLDA(void* value);
    OCISvcCtx* GetSvcCtx();
    void SetSvcCtx(OCISvcCtx* value);
    OCIEnv* GetEnvironment() const { return FEnvironment; }
    // The calling thread's error handle.
    OCIError* GetErrorHandle() const { return OCIErrorHandle(); }
    OCIServer* GetServerHandle() const { return FServerHandle; }
    OCISession* GetSessionHandle() const { return FSessionHandle; }
    bool UnicodeEnv() const { return FUnicodeEnv; }
    int32_t LastErrorCode() const { return FLastErrorCode; }

    // Session settings.
    uint16_t GetOracleVersion();
    uint16_t GetMaxStringSize();
    AnsiString GetCurrentSchema();
    AnsiString GetDefaultSchema();
    AnsiString GetCachedSchema();
    void SetCurrentSchema(AnsiString schema);
    void SetSessionParameter(const AnsiString& name, const AnsiString& value);
    void SetStatementCacheSize(int size);
    void ReadSessionParameters();
    void ApplyOptimizerMode();
    void ApplyClientIdentifier();
    // Runs one session statement with its binds, under the lock, errors through Check.
    void ExecSessionSQL(const AnsiString& sql, std::vector<TOCISessionParam>& params);

    const TNlsSessionParam& NlsParam(int index) const { return FNlsParams[index]; }
    bool ThreadSafety() const { return FThreadSafety; }
    TConnectMode ConnectMode() const { return FConnectMode; }
    const AnsiString& HomeName() const { return FHomeName; }
    const AnsiString& Schema() const { return FSchema; }
    const AnsiString& ClientIdentifier() const { return FClientIdentifier; }
    TOptimizerMode OptimizerMode() const { return FOptimizerMode; }
    uint16_t CharLength() const { return FCharLength; }
    uint16_t CharsetId() const { return FCharsetId; }
    bool UseUnicode() const { return FUseUnicode; }
    bool EnableIntegers() const { return FEnableIntegers; }
    bool EnableLargeint() const { return FEnableLargeint; }
    bool EnableNumbers() const { return FEnableNumbers; }
    bool StatementCache() const { return FStatementCache; }
    int StatementCacheSize() const { return FStatementCacheSize; }

    // Another connection whose server this one's session borrows.
    TOCIConnection* ProxyConnection = nullptr;
    TFailoverProc OnFailover;
    TInfoMessageProc OnInfoMessage;

    // Connections opened by Connect and not yet closed, process-wide.
    static int ActiveConnectionCount();

private:
    friend sb4 OCIFailoverCallback(void*, void*, void*, ub4, ub4);
    void ConnectOCI7();
    void ConnectOCI8();
    void ConnectSessionPool(const AnsiString& poolName);
    void ConnectMTSPool();
    void CheckMTS(sword status);
    void CheckUnicodeEnvironment();
    void FreeOCI8Handles();
    void ClearSessionState();
    void CheckHome();

    bool FThreadSafety = true;
    uint16_t FMaxStringSize = 0;
    TOCICallStyle FOCICallStyle = ocsNone;
    TOCICallStyle FStatementCallStyle = ocsNone;
    int32_t FLastErrorCode = 0;
    TConnectMode FConnectMode = cmNormal;
    bool FEnableIntegers = true;
    bool FEnableLargeint = false;
    bool FEnableNumbers = false;
    AnsiString FInternalName;
    AnsiString FServerVersion;
    AnsiString FServerVersionFull;
    uint16_t FOracleVersion = 0;
    bool FKeepObjectTypes = false;
    int FConnectionTimeout = 0;
    AnsiString FPoolName;
    bool FStatementCache = false;
    int FStatementCacheSize = 0;
    AnsiString FHomeName;
    bool FUnicodeEnv = false;
    int FConnectionType = 0;
    AnsiString FClientIdentifier;
    TOptimizerMode FOptimizerMode = omDefault;
    AnsiString FSchema;
    AnsiString FCachedSchema;
    bool FUseSQLTimeStamp = false;
    bool FIntervalAsString = false;
    int FSmallintPrecision = 0;
    int FIntegerPrecision = 9;
    int FLargeintPrecision = 0;
    int FFloatPrecision = 15;
    int FBCDPrecision = 14;
    int FBCDScale = 4;
    int FFmtBCDPrecision = 38;
    int FFmtBCDScale = 38;
    AnsiString FCharset;
    uint16_t FCharsetId = 0;
    uint16_t FCharLength = 1;
    bool FCharLengthToRead = false;
    bool FUseUnicode = false;
    TNlsSessionParam FNlsParams[NlsParamCount];

    std::vector<uint8_t> FLDA;  // OCI 7 logon data area, or the area made by GetLDA
    std::vector<uint8_t> FHDA;  // OCI 7 host data area
    OCISvcCtx* FSvcCtx = nullptr;
    OCIServer* FServerHandle = nullptr;
    OCISession* FSessionHandle = nullptr;
    OCIEnv* FEnvironment = nullptr;
    void* FAuthInfo = nullptr;
    void* FMTSContext = nullptr;
    bool FCounted = false;  // Connect counted this connection as active
    rtl::TMutex FMutex;
};

// The failover callback registered on the server handle; the context is the connection.
sb4 OCIFailoverCallback(void* svchp, void* envhp, void* fo_ctx, ub4 fo_type, ub4 fo_event);

}  // namespace dac
