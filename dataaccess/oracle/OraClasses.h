// The Oracle driver's classes.
//
// Text routines: connect strings, Oracle object names, precision options, the server banner and
// the text forms of ROWIDs; TOCISQLInfo, the Oracle SQL dialect; the connection; Oracle's DATE,
// NUMBER, timestamp and interval values; REF cursors and parameter descriptors.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "dataaccess/oracle/OraCall.h"
#include "dataaccess/oracle/OraError.h"
#include "dataaccess/oracle/OraObjects.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/FormatSettings.h"
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
// NUMBER precisions

// The precisions that decide which internal type a NUMBER is described as. A command's value of
// -1 means the connection's.
struct TOraPrecisions {
    int Smallint;
    int Integer;
    int Largeint;
    int Float;
    int BCD;
    int BCDScale;
    int FmtBCD;
    int FmtBCDScale;
    // Stores the value of prSmallintPrecision, prIntegerPrecision, prLargeintPrecision,
    // prFloatPrecision, prBCDPrecision or prFmtBCDPrecision; false for any other id.
    bool SetProp(int prop, const rtl::Variant& value);
};

// A connection's precisions until options change them.
inline constexpr TOraPrecisions DefaultOraPrecisions{0, 9, 0, 15, 14, 4, 38, 38};

// ---------------------------------------------------------------------------------------------
// Asynchronous runs and the utility window
//
// A run executes on a worker thread; its end comes back as a message to the utility window of
// the thread that started it, so that the end method and the run's error are handled on the
// owning thread, which must pump its message queue. Every thread has its own utility window,
// made on first use.

// Messages of the utility window.
inline constexpr rtl::UINT WM_EXECTHREADDONE = rtl::WM_USER;    // wParam: the TExecThread
inline constexpr rtl::UINT WM_AFTERFETCH = rtl::WM_USER + 4;    // wParam: a TUtilityMessageTarget
inline constexpr rtl::UINT WM_CHANGENOTIFY = rtl::WM_USER + 5;  // wParam: a target, lParam: its event

// Receives the after-fetch and change notifications on the owning thread.
class TUtilityMessageTarget {
public:
    virtual ~TUtilityMessageTarget() = default;
    virtual void HandleUtilityMessage(rtl::UINT msg, rtl::LPARAM lParam) = 0;
};

// The calling thread's utility window, made on first use; it lives as long as the thread.
rtl::HWND UtilityWindow();

class TExecThread;
using TRunMethod = std::function<void()>;
// Receives the run's error, or nullptr after a run that ended normally.
using TEndMethod = std::function<void(rtl::Exception* error)>;

class TMethodDesc : public rtl::TObject {
public:
    TRunMethod RunMethod;
    TEndMethod EndMethod;
    rtl::HWND Window = 0;
};

// The worker of one run. It owns its description and the error its run raised; both go with the
// thread object, which the end message's handler (or StopThread) frees.
class TExecThread : public rtl::TThread {
public:
    explicit TExecThread(std::unique_ptr<TMethodDesc> methodDesc);
    ~TExecThread() override;

    TMethodDesc* MethodDesc() const { return methodDesc_.get(); }
    // The kept error of the run: an EOraError keeps its class, code and message, anything
    // else becomes a plain Exception with its message. Null after a normal end.
    rtl::Exception* RunError() const { return error_.get(); }
    // Identifies the thread in its end message.
    rtl::WPARAM MessageHandle() const { return reinterpret_cast<rtl::WPARAM>(this); }

protected:
    void Execute() override;

private:
    std::unique_ptr<TMethodDesc> methodDesc_;
    std::unique_ptr<rtl::Exception> error_;
};

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
    bool KeepObjectTypes() const { return FKeepObjectTypes; }
    bool EnableIntegers() const { return FEnableIntegers; }
    bool EnableLargeint() const { return FEnableLargeint; }
    bool EnableNumbers() const { return FEnableNumbers; }
    bool StatementCache() const { return FStatementCache; }
    int StatementCacheSize() const { return FStatementCacheSize; }
    bool UseSQLTimeStamp() const { return FUseSQLTimeStamp; }
    bool IntervalAsString() const { return FIntervalAsString; }
    const TOraPrecisions& Precisions() const { return FPrecisions; }

    // Runs run on a new worker thread; its end comes back to the calling thread's utility
    // window, which calls end with the run's error (or nullptr) and raises that error there.
    TExecThread* RunThread(TRunMethod run, TEndMethod end);
    // Stops a worker cooperatively: breaks the running call, waits for the thread to end and,
    // with removeMessage, takes that run's end message out of the queue unseen and frees the
    // thread. Without removeMessage the message stays and frees the thread when it is handled.
    // thread is empty afterwards.
    bool StopThread(TExecThread*& thread, bool removeMessage);
    // Joins a worker without breaking it, then runs its end method here in place of its end
    // message, which is taken off the queue; the run's error is dropped. Call on the thread that
    // started the run. thread is cleared.
    void CompleteThread(TExecThread*& thread);

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
    TOraPrecisions FPrecisions = DefaultOraPrecisions;
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

// ---------------------------------------------------------------------------------------------
// Oracle DATE, timestamp and NUMBER conversions
//
// Oracle DATE, 7 bytes:
//   0  century + 100       3  day (1-31)
//   1  year of century+100  4  hour + 1
//   2  month (1-12)         5  minute + 1
//                           6  second + 1
// Oracle NUMBER: an exponent byte, then at most 20 base-100 digits. Positive numbers: exponent
// byte >= 0x80, exponent = (byte & 0x7F) - 65, digit = byte - 1. Negative numbers: exponent =
// (~byte & 0x7F) - 65, digit = 101 - byte, and a terminating 102 when fewer than 20 digits are
// stored. The value is 0.d1d2...dk * 100^(exponent + 1). An OCINumber is a length byte followed
// by those bytes.

class TOraTimeStamp;

inline constexpr int OraDateSize = 7;

// A year BC reads as the same year AD. An impossible date or time raises EConvertError.
rtl::TDateTime OraDateToDateTime(const void* oraDate);
// Milliseconds are dropped; a year outside 1..9999 raises EConvertError.
void DateTimeToOraDate(void* oraDate, rtl::TDateTime value);
// The milliseconds form: day number * 86 400 000 + milliseconds of the day, 0001-01-01 being day 1.
double OraDateToMSecs(const void* oraDate);
void MSecsToOraDate(void* oraDate, double msecs);

// A null timestamp gives the all-zero record; Fractions are milliseconds.
void OraTimeStampToSQLTimeStamp(TOraTimeStamp* timeStamp, rtl::TSQLTimeStamp& sqlTimeStamp);
// The all-zero record makes the timestamp null.
void SQLTimeStampToOraTimeStamp(TOraTimeStamp* timeStamp, const rtl::TSQLTimeStamp& sqlTimeStamp);

// The exact decimal value of NUMBER bytes. Infinities, malformed bytes and values that need more
// than 64 digits (or more than 63 after the point) raise "Cannot convert to Number to BCD".
void OraNumberToBcd(const uint8_t* bytes, int length, rtl::TBcd& bcd);
// The same for an OCINumber (length byte first).
void OCINumberToBcd(const void* number, rtl::TBcd& bcd);

// ---------------------------------------------------------------------------------------------
// Numbers, timestamps and intervals
//
// Reference-counted holders of Oracle's own value forms with the 16-bit null indicator OCI reads
// and writes (-1 null, 0 value present); every object starts null. Calls go through the library's
// environment and the calling thread's error handle; failures raise EOraError.

class TOraNumber : public TSharedObject {
public:
    TOraNumber();
    ~TOraNumber() override;

    bool GetIsNull() const { return indicator_ == -1; }
    void SetIsNull(bool value) { indicator_ = value ? -1 : 0; }
    int16_t* GetIndicatorPtr() { return &indicator_; }

    OCINumber* GetOCINumberPtr() const { return value_; }
    // Lends the number foreign storage (a bind buffer item) until destruction or the next call;
    // the number is not null afterwards.
    void SetOCINumberPtr(OCINumber* p);
    // Takes its own storage back, keeping the value (before lent storage goes away).
    void OwnStorage();
    bool OwnsValue() const { return ownsValue_; }

    int64_t GetAsLargeInt();
    void SetAsLargeInt(int64_t value);
    int32_t GetAsInteger();
    void SetAsInteger(int32_t value);
    double GetAsFloat();
    void SetAsFloat(double value);
    rtl::TBcd GetAsBCD();
    void SetAsBCD(const rtl::TBcd& value);
    // Oracle's shortest text with the locale's decimal separator, never with a bare leading
    // separator ("0,5", "-0,5"). Null gives the empty string.
    AnsiString GetAsString();
    // The empty string makes the number null. Text that does not convert raises EOraError and
    // leaves the number as it was.
    void SetAsString(const AnsiString& value);

    void AssignTo(TOraNumber* dest);
    // Negative, 0 or positive; a null number sorts before every value.
    int Compare(TOraNumber* value);

private:
    OCINumber* value_;
    int16_t indicator_ = -1;
    bool ownsValue_ = true;
};

// The number format model SetAsString converts a text with: one element per character of the
// text, or the scientific model for a text with an exponent.
AnsiString OraNumberFormatModel(const AnsiString& text, char decimalSeparator, char thousandSeparator);
// The Oracle datetime format model for the platform's short date and long time formats.
AnsiString OraDateTimeFormatModel(const rtl::TFormatSettings& settings, bool withTimeZone);

// A value held in an OCI descriptor (OCIDateTime, OCIInterval) made on first use, with its null
// indicator. The descriptor cell's address is what a bind or define hands to OCI.
template <class TDescriptor>
class TOraDescriptorValue : public TSharedObject {
public:
    ~TOraDescriptorValue() override;
    void FreeHandles() override { FreeDescriptor(); }

    void AllocDescriptor();
    // Frees an owned descriptor; the value is null afterwards.
    void FreeDescriptor();
    ub4 GetDescriptorType() const { return descriptorType_; }
    void SetDescriptorType(ub4 value);
    bool OwnsDescriptor() const { return ownsDescriptor_; }

    bool GetIsNull() const { return indicator_ == -1; }
    void SetIsNull(bool value) { indicator_ = value ? -1 : 0; }
    int16_t* GetIndicatorPtr() { return &indicator_; }

protected:
    explicit TOraDescriptorValue(ub4 descriptorType) : descriptorType_(descriptorType) {}
    TDescriptor* Descriptor() {
        AllocDescriptor();
        return descriptor_;
    }
    TDescriptor** DescriptorCell() {
        AllocDescriptor();
        return &descriptor_;
    }
    // Works on a descriptor lent from elsewhere (never freed here); not null unless p is null.
    void LendDescriptor(TDescriptor* p);
    // Takes a fresh descriptor holding a new value in place of the current one.
    void ReplaceDescriptor(TDescriptor* fresh);
    // The descriptor type, a descriptor of its own and the null state go to dest.
    void AssignStateTo(TOraDescriptorValue& dest);

private:
    TDescriptor* descriptor_ = nullptr;
    ub4 descriptorType_;
    bool ownsDescriptor_ = false;
    int16_t indicator_ = -1;
};

extern template class TOraDescriptorValue<OCIDateTime>;
extern template class TOraDescriptorValue<OCIInterval>;

class TOraTimeStamp : public TOraDescriptorValue<OCIDateTime> {
public:
    // dtSQLTimeStamp, dtTimeStamp, dtTimeStampTZ or dtTimeStampLTZ.
    explicit TOraTimeStamp(TDataType dataType = dtTimeStamp);

    OCIDateTime* GetOCIDateTime() { return Descriptor(); }
    OCIDateTime** GetOCIDateTimePtr() { return DescriptorCell(); }
    void SetOCIDateTime(OCIDateTime* p) { LendDescriptor(p); }

    void Construct(int16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second,
                   uint32_t fraction, const AnsiString& timeZone = AnsiString());
    void GetDate(int16_t& year, uint8_t& month, uint8_t& day);
    // fraction in nanoseconds
    void GetTime(uint8_t& hour, uint8_t& minute, uint8_t& second, uint32_t& fraction);

    // 0 when null; milliseconds of the fraction are kept.
    rtl::TDateTime GetAsDateTime();
    // Keeps the value's milliseconds.
    void SetAsDateTime(rtl::TDateTime value);

    const AnsiString& GetFormat() const { return format_; }
    // An empty value builds the model from the locale (OraDateTimeFormatModel).
    void SetFormat(const AnsiString& value);
    uint8_t Precision = 6;

    // Null gives the empty string; a failed conversion raises.
    AnsiString GetAsString();
    // The empty string makes the timestamp null; text that does not convert raises and leaves
    // the value as it was.
    void SetAsString(const AnsiString& value);

    void AssignTo(TOraTimeStamp* dest);
    // Negative, 0 or positive; a null timestamp sorts before every value.
    int Compare(TOraTimeStamp* value);

private:
    void BuildFormatWhenEmpty();

    AnsiString format_;
};

class TOraInterval : public TOraDescriptorValue<OCIInterval> {
public:
    // dtIntervalYM or dtIntervalDS.
    explicit TOraInterval(TDataType dataType = dtIntervalDS);

    OCIInterval* GetOCIInterval() { return Descriptor(); }
    OCIInterval** GetOCIIntervalPtr() { return DescriptorCell(); }
    void SetOCIInterval(OCIInterval* p) { LendDescriptor(p); }

    // Raises Exception "Invalid interval." when OCI finds the value invalid.
    void CheckValid();
    AnsiString GetAsString();
    // The empty string makes the interval null; text that does not convert, or converts to an
    // invalid interval, raises and leaves the value as it was.
    void SetAsString(const AnsiString& value);

    void AssignTo(TOraInterval* dest);
    int Compare(TOraInterval* value);

    uint8_t FractionPrecision = 6;
    uint8_t LeadingPrecision = 2;
};

// ---------------------------------------------------------------------------------------------
// LOBs and BFILEs
//
// A BLOB, CLOB or NCLOB value: an OCI LOB locator and the content as blob pieces. Cached (the
// default), the content is read from the server once and then served from memory; edits stay
// here until WriteLob sends the whole content back. Uncached, reads go to the server. Server
// calls use the calling thread's error handle.

class TOCIConnection;

class TOraLob : public TCompressedBlob {
public:
    explicit TOraLob(OCISvcCtx* svcCtx = nullptr);
    ~TOraLob() override;

    void FreeHandles() override { DisposeHandle(); }
    void EnsureLoaded() override;
    int64_t GetSize() override;
    int64_t GetSizeAnsi() override;
    void DisposeHandle() override { FreeLob(); }
    int64_t Read(int64_t position, int64_t count, void* dest) override;
    void Write(int64_t position, int64_t count, const void* source) override;
    void Clear() override;
    void Truncate(int64_t newSize) override;
    // Bytes per character of the client content.
    virtual int CharSize() { return IsUnicode() ? 2 : 1; }
    virtual OCILobLocator* AllocLob();

    void FreeLob();
    OCILobLocator* GetOCILobLocator();
    // The locator cell, for binding and defining.
    OCILobLocator** GetOCILobLocatorPtr();
    // Works on a locator from elsewhere, which is never freed here.
    void SetOCILobLocator(OCILobLocator* value);
    // Takes an owned locator that a block fetch filled and gives back this value's own, so the
    // fetch's locators are reused without a client call per row.
    OCILobLocator* ExchangeLocator(OCILobLocator* filled);
    bool HasLocator() const { return locator_ != nullptr; }
    void SetSvcCtx(OCISvcCtx* value);
    OCISvcCtx* GetSvcCtx() const { return FSvcCtx; }
    void SetConnection(TOCIConnection* value);
    TOCIConnection* GetConnection() const { return FConnection; }

    void CheckAlloc();
    void CheckSvcCtx();
    void CheckInit();
    bool IsInit();
    bool IsTemporary();
    // Characters (bytes for a BLOB) on the server.
    int64_t LengthLob();
    void ReadCharsetForm();
    // The server content into the client pieces; a piece the caller gives is filled first (and
    // taken over, or copied when it stays less than half full: then the caller keeps it).
    void ReadLob();
    void ReadLob(PPieceHeader& piece);
    // The client content to the server, replacing what was there.
    void WriteLob();
    // lobType: 0 BLOB, 1 CLOB, 2 NCLOB.
    void CreateTemporary(uint8_t lobType);
    void FreeTemporary();
    void SetCached(bool value);
    // A value the server keeps compressed (written with the blob compression modes 2 and 3:
    // the compressed blob mark and size first) becomes the plain value again.
    void ExpandServerCompressed();
    bool GetCached() const { return FCached; }
    bool NeedRead() const { return FNeedRead; }
    void SetNeedRead(bool value) { FNeedRead = value; }
    int32_t GetCharsetForm() const { return FCharsetForm; }
    uint8_t LobType = 0;
    uint8_t CharLength = 1;

protected:
    void Check(sword status);
    OCIEnv* Environment();

    TOCIConnection* FConnection = nullptr;
    OCISvcCtx* FSvcCtx = nullptr;
    OCILobLocator* locator_ = nullptr;  // the locator cell
    OCIEnv* FEnvironmentHandle = nullptr;
    bool FUnicodeEnvironment = false;
    bool FOwnsLocator = false;
    bool FCached = true;
    bool FNeedRead = false;
    int32_t FCharsetForm = 0;
    bool FOwnsTemporary = false;
};

// A BFILE (or CFILE) value: a read-only file locator with its directory alias and file name,
// whose content is read like a LOB's while the file is open.
class TOraFile : public TOraLob {
public:
    explicit TOraFile(OCISvcCtx* svcCtx = nullptr) : TOraLob(svcCtx) {}
    ~TOraFile() override;

    void EnsureLoaded() override;
    void SaveToRollback() override;
    void DisposeHandle() override;
    void Commit() override;
    void Cancel() override;
    int CharSize() override { return 1; }
    OCILobLocator* AllocLob() override;

    void Open();
    void Close();
    bool GetExists();
    AnsiString GetFileDir();
    AnsiString GetFileName();
    // The alias is upper-cased with the locale; the name stays as given.
    void SetFileDir(const AnsiString& value);
    void SetFileName(const AnsiString& value);
    void SetFileNameDir(const AnsiString& dir, const AnsiString& name);
    void EnableRollback() { FRollbackEnabled = true; }
    void Refresh();

private:
    bool FRollbackEnabled = false;
    AnsiString FSavedDirectory;
    AnsiString FSavedFileName;
    bool FRollbackSaved = false;
};

// ---------------------------------------------------------------------------------------------
// REF cursors

// One server statement: the OCI 8 statement handle (or an OCI 7 cursor data area), its state and
// prefetch setting. Shared by the command that owns it, REF CURSOR parameters and record sets;
// the last release frees the statement.
class TOraCursor : public TCRCursor {
public:
    static constexpr int CDASize = 64;

    TOraCursor();
    ~TOraCursor() override;
    void FreeHandles() override { FreeCursor(); }
    // The statement has rows to give: executed or fetching.
    bool CanFetch() override;

    // With fromCache no handle is made here: the command takes one from the statement cache.
    void AllocCursor(bool fromCache = false);
    void FreeCursor();

    uint8_t* GetCDA();
    OCIStmt* GetOCIStmt();
    // The address of the statement handle cell, for binding or defining a REF CURSOR.
    OCIStmt** GetOCIStmtPtr();
    OCIStmt* GetHandle() const { return statement_; }
    // Also applies the prefetch setting to the new handle.
    void SetHandle(OCIStmt* handle);
    void SetCallStyle(TOCICallStyle value);
    TOCICallStyle GetCallStyle() const { return CallStyle; }
    // Sets the prefetch attributes of the held statement (OCI 8 style; not with an 8.1.6 client).
    void SetPrefetchRows(int32_t rows);
    void DisablePrefetch() { SetPrefetchRows(0); }
    bool FromStatementCache() const { return fromStatementCache_; }

    // A non-zero status raises EOraError, except success with information.
    void Check(sword status);
    void CheckOCI();
    void CheckOCI73();
    void CheckOCI80();

    // Set by the owners before AllocCursor.
    OCIError* ErrorHandle = nullptr;
    // The environment the handle was allocated from; null when this cursor did not allocate it.
    OCIEnv* EnvironmentHandle = nullptr;
    bool UnicodeEnvironment = false;
    // Read by the owning thread while a non-blocking run on a worker changes it.
    std::atomic<TCursorState> State{csInactive};
    TOCICallStyle CallStyle = ocsNone;
    int32_t PrefetchRows = 0;
    // Executed as a scrollable cursor (prScrollableCursor).
    bool Scrollable = false;

private:
    std::vector<uint8_t> cda_;
    OCIStmt* statement_ = nullptr;  // the statement handle cell
    bool fromStatementCache_ = false;
};

// ---------------------------------------------------------------------------------------------
// Oracle parameter descriptors
//
// One ":name" placeholder or procedure argument. It owns what OCI binds: a buffer of Length
// items of ItemSize bytes, a 16-bit indicator per item and the element count cell. Scalar
// numbers, timestamps, intervals, blobs and cursors live in value objects held by reference in
// Value; a PL/SQL table (Length items) holds its value objects in a Variant array 1..Length.
// Item indexes are 1-based.
//
// Item layout by data type:
//   dtString, dtFixedChar            Size + 1 (2 when Size <= 0): zero-terminated 8-bit text
//   dtWideString, dtFixedWideChar    Size * 2 + 2 (4 when Size <= 0): zero-terminated UTF-16
//   dtInteger, dtBoolean             4: 32-bit integer (0 or 1)
//   dtFloat                          8: IEEE double
//   dtDateTime                       7: Oracle DATE
//   dtLargeint, dtBCD, dtFmtBcd,     scalar 0 (the TOraNumber is bound);
//   dtNumber                         table 22: one OCINumber per item
//   dtBytes, dtVarBytes              Size + 2: 2-byte length, then the bytes
//   timestamps (dtSQLTimeStamp,      scalar 0 (the object's descriptor is bound);
//   dtTimeStamp..dtIntervalDS)       table: the descriptor pointer of each item's object
//   blobs, LOBs, files, objects,     0: the value lives in the object held by Value
//   cursors, dtLabel
class TOraParamDesc : public TParamDesc {
public:
    TOraParamDesc();
    ~TOraParamDesc() override;

    void SetDataType(uint16_t value) override;
    void SetSize(int32_t value) override;
    rtl::Variant GetValue() override;
    void SetValue(const rtl::Variant& value) override;
    rtl::TObject* GetObject() override;
    // Holds obj (one reference taken) for an object-kept type; its indicator becomes the item's.
    void SetObject(rtl::TObject* obj) override;
    bool GetNull() override { return GetItemNull(1); }
    void SetNull(bool value) override { SetItemNull(1, value); }

    void SetTable(bool value) { table_ = value; }
    bool GetTable() const { return table_; }
    void SetHasDefault(bool value) { hasDefault_ = value; }
    bool GetHasDefault() const { return hasDefault_; }
    void SetIsResult(bool value) { isResult_ = value; }
    bool GetIsResult() const { return isResult_; }
    void SetLength(int32_t value);
    int32_t GetLength() const { return length_; }

    void AllocBuffer();
    void FreeBuffer();
    // Readies indicators and table items for the bind call (after AllocBuffer).
    void PrepareBind();
    void ClearBindHandle() {
        bindHandle_ = nullptr;
        boundSize_ = 0;
    }
    void* GetBuffer() const {
        return valueBuffer_.empty() ? nullptr : const_cast<uint8_t*>(valueBuffer_.data());
    }
    int16_t* GetIndicatorPtr() const { return indicators_; }
    uint32_t* GetElementCountPtr() { return &elementCount_; }
    void SetElementCount(uint32_t n) { elementCount_ = n; }
    int32_t GetItemSize() const { return itemSize_; }
    bool GetBufferAllocated() const { return bufferAllocated_; }

    OCIBind* GetBindHandle() const { return bindHandle_; }
    void SetBindHandle(OCIBind* handle, int32_t boundSize) {
        bindHandle_ = handle;
        boundSize_ = boundSize;
    }
    int32_t GetBoundSize() const { return boundSize_; }
    int32_t PieceIndex = 0;
    // SCHEMA.NAME of an object, REF or collection argument as the description gives it.
    AnsiString TypeName;
    bool QuotedName = false;
    int32_t GetMaxActualLength() const { return maxActualLength_; }

    // Raises ERangeError "Index of array is not range" outside 1..Length.
    void CheckIndex(int index) const;
    int16_t GetIndicator(int index) const;
    void SetIndicator(int index, int16_t value);
    bool GetItemNull(int index) const { return GetIndicator(index) < 0; }
    void SetItemNull(int index, bool value);

    rtl::TDateTime GetItemAsDateTime(int index);
    void SetItemAsDateTime(int index, rtl::TDateTime value);
    double GetItemAsFloat(int index);
    void SetItemAsFloat(int index, double value);
    int32_t GetItemAsInteger(int index);
    void SetItemAsInteger(int index, int32_t value);
    bool GetItemAsBoolean(int index);
    void SetItemAsBoolean(int index, bool value);
    rtl::Currency GetItemAsCurrency(int index);
    void SetItemAsCurrency(int index, rtl::Currency value);
    int64_t GetItemAsLargeInt(int index);
    void SetItemAsLargeInt(int index, int64_t value);
    rtl::TBcd GetItemAsFmtBcd(int index);
    void SetItemAsFmtBcd(int index, const rtl::TBcd& value);
    rtl::TSQLTimeStamp GetItemAsSQLTimeStamp(int index);
    void SetItemAsSQLTimeStamp(int index, const rtl::TSQLTimeStamp& value);
    AnsiString GetItemAsString(int index);
    // The empty string makes the item null; a longer text is cut to the item.
    void SetItemAsString(int index, const AnsiString& value);
    WideString GetItemAsWideString(int index);
    void SetItemAsWideString(int index, const WideString& value);
    rtl::Variant GetItemAsVariant(int index);
    void SetItemAsVariant(int index, const rtl::Variant& value);
    // The value object of a table item (nullptr for an empty element).
    TSharedObject* GetItemObject(int index);
    // Stores obj as the item's value object; the array keeps the reference the caller hands
    // over. For a scalar descriptor it is SetObject.
    void SetItemObject(int index, TSharedObject* obj);

    // The object held by Value, or nullptr when it is of another class.
    TBlob* GetAsBlob();
    TOraCursor* GetAsCursor();
    TOraTimeStamp* GetAsTimeStamp();
    TOraInterval* GetAsInterval();
    TOraNumber* GetAsNumber();
    TOraLob* GetAsOraLob();
    TOraFile* GetAsOraFile();

    // The owning command (not owned); its connection's Unicode mode steers SetDataType.
    TCRCommand* Command = nullptr;

private:
    uint8_t* Item(int index) { return valueBuffer_.data() + static_cast<size_t>(index - 1) * itemSize_; }
    // Drops the buffer when a setter switches to a type whose items are laid out differently.
    void PrepareItemType(TDataType type);
    TOraNumber* ItemNumber(int index);
    TOraTimeStamp* ItemTimeStamp(int index);
    // For a table of numbers, timestamps or intervals: the item object whose indicator stands
    // for the item, or nullptr.
    int16_t* ObjectIndicator(int index) const;
    void ReleaseArrayObjects();
    void StoreBytes(int index, const uint8_t* data, size_t count);

    std::vector<uint8_t> valueBuffer_;
    int32_t itemSize_ = 0;
    uint32_t elementCount_ = 0;
    int16_t scalarIndicator_ = -1;
    int16_t* indicators_ = &scalarIndicator_;
    std::vector<int16_t> ownedIndicators_;
    bool table_ = false;
    int32_t length_ = 1;
    OCIBind* bindHandle_ = nullptr;
    int32_t boundSize_ = 0;
    int32_t maxActualLength_ = 0;
    bool hasDefault_ = false;
    bool bufferAllocated_ = false;
    bool isResult_ = false;
};

// ---------------------------------------------------------------------------------------------
// The Oracle command
//
// One statement of one connection, run through OCI 8 calls. Prepare turns CR line ends into LF and
// prepares the text; Execute binds every parameter descriptor by name and runs the statement (on
// a worker thread when non-blocking); the record set describes, defines and fetches through it.
// OCI 7 cursor data areas are not offered: that call style fails with "Need Oracle 8 Call
// Interface". Every OCI call is made inside the connection's lock; a non-blocking command holds
// its statement mutex around each statement operation as well.
//
// Statement types (SQLType): 4 SELECT, 5 UPDATE, 9 DELETE, 3 INSERT, 34 PL/SQL block, 27 EXPLAIN
// PLAN, 0 other (after an execute: the server's SQL function code).

inline constexpr uint16_t SQL_UNKNOWN = 0;
inline constexpr uint16_t SQL_INSERT = 3;
inline constexpr uint16_t SQL_SELECT = 4;
inline constexpr uint16_t SQL_UPDATE = 5;
inline constexpr uint16_t SQL_DELETE = 9;
inline constexpr uint16_t SQL_EXPLAIN = 27;
inline constexpr uint16_t SQL_PLSQL = 34;

// The field descriptor of a select-list column; it keeps the column's define handle.
class TOCIFieldDesc : public TCRFieldDesc {
public:
    bool IsNational() override { return National; }

    OCIDefine* DefineHandle = nullptr;
    // A column of the national character set.
    bool National = false;
};

// SQL with CR and CR LF turned into LF outside string literals (a CR inside a literal stays;
// comments and text after WRAPPED are not scanned for quotes). With errorPos other than -1 the
// pass stops at the character before which errorPos converted characters were written and
// errorPos becomes that character's 0-based position in sql.
void NormalizeLineBreaks(const AnsiString& sql, int& errorPos, AnsiString& text);

// The OCI external type of an internal type in each call style; "Data type is not supported"
// for a type that has none.
ub2 GetOraType8(TDataType dataType, TDataType subDataType, int serverVersion);
ub2 GetOraType7(TDataType dataType, TDataType subDataType);

class TOCICommand : public TCRCommand {
public:
    TOCICommand();
    ~TOCICommand() override;

    // ---- the driver command
    void Prepare() override;
    void UnPrepare() override;
    bool GetPrepared() override;
    void Execute(int iters = 1) override;
    // Runs the statement on the calling thread whatever the non-blocking setting: a record set's
    // background open is already on its own worker.
    void ExecuteOnThisThread(int iters = 1);
    void SetConnection(TCRConnection* value) override;
    TCursorState GetCursorState() override;
    void SetCursorState(TCursorState value) override;
    TSQLInfoClass GetSQLInfoClass() override;
    TSQLParserClass GetParserClass() override;
    // Oracle binds by name: the SQL stays as it is; with ParamCheck the parameter list is
    // rebuilt from the ":name" markers (each name once, whatever its case).
    AnsiString ParseSQL(const AnsiString& sql, TParamDescs* params, const AnsiString& renamePrefix) override;
    void CreateProcCall(const AnsiString& name, bool needDescribe, AnsiString& sql) override;
    TParamDescClass GetParamDescClass() override;
    TParamDesc* AddParam() override;
    TCRCursor* GetCursor() override;
    void SetCursor(TCRCursor* value) override;
    bool SetProp(int prop, const rtl::Variant& value) override;
    bool GetProp(int prop, rtl::Variant& value) override;
    void BreakExec() override;
    [[noreturn]] virtual void RaiseError(const AnsiString& message);

    // ---- statement life
    // Runs a prepared, bound statement: commit on success, the piecewise LONG transfer,
    // read-back of output values, the connection's auto-commit.
    void Exec();
    // One OCIStmtExecute; answers 0, 99 (data needed), 100 (a SELECT without rows) or 3123
    // (the call would block). Success with information goes through the connection's info hook
    // and counts as success.
    sword InternalExecute(ub4 mode, int iters);
    void InternalUnPrepare();
    void GetRowId(AnsiString& rowId);
    // The next REF CURSOR parameter's cursor after the current one that can fetch, or nullptr.
    TOraCursor* GetNextCursor();
    TOraParamDesc* GetParam(int index) const {
        return static_cast<TOraParamDesc*>(TCRCommand::GetParam(index));
    }
    bool IsOwnCursor() const { return FCursor == FOwnCursor; }
    // SQLType is SELECT, or a REF CURSOR taken over is executed.
    bool IsCursorOpen();
    bool GetActive() { return GetCursorState() != csInactive; }
    // A non-zero status raises the connection's error for it (routed through ProcessError
    // unless a non-blocking run is under way); success with information goes to the info hook.
    void Check(sword status);
    uint16_t GetSQLType() const { return FLastSQLType; }
    uint16_t SQLType() const { return FSQLType; }
    int32_t RowsProcessed() const { return FRowsProcessed; }
    int32_t FetchedRows() const { return FFetchedRows; }
    uint16_t ErrorOffset() const { return FErrorOffset; }
    TOCIConnection* OracleConnection() const { return FOracleConnection; }
    TOCICallStyle CallStyle() const { return FCallStyle; }
    bool NonBlocking() const { return FNonBlocking; }
    // The address OCI callbacks get as their context.
    void* ContextHandle() { return this; }

    // ---- binding (every parameter that takes part, in list order)
    void BindParams();
    void BindParam(TOraParamDesc* param);
    // A descriptor takes part in the statement: bound, or not input, or (with
    // BindUnassignedParams) without a default.
    bool NeedBindParam(TOraParamDesc* param);
    ub2 GetOraType(TDataType dataType, TDataType subDataType);
    // The parameter whose bind handle this is; an assertion failure when none owns it.
    TOraParamDesc* FindParamByBind(const void* handle);
    // An error of a callback, raised once the OCI call that made the callback has returned.
    void KeepCallbackError(std::exception_ptr error);
    void RaiseCallbackError();
    void GetPieceInfo(void*& handle, ub4& handleType, ub1& inOut, ub4& iteration, ub4& index, ub1& piece);
    void SetPieceInfo(void* handle, ub4 handleType, void* buffer, ub4& length, ub1 piece);

    // ---- columns, defines and fetching
    // False when the statement has no column at index (1-based).
    bool DescribeField(int index, TFieldDesc& field, bool longStrings, bool flatBuffers);
    void DefineData(TFieldDesc& field, void* buffer, int16_t* indicator);
    void DefineArrayData(TFieldDesc& field, void* buffer, ub4 indicatorSkip, ub4 valueSkip,
                         int16_t* indicator);
    void DefinePieceData(TFieldDesc& field, void* buffer, int16_t* indicator);
    void DefineDynamic(TFieldDesc& field, void* context, OCICallbackDefine callback, ub2 charsetId);
    // Bytes of one row's define buffer for the column: the text and its terminator for strings,
    // an OCINumber for the number types, the length cell and the bytes for RAW, else its Size.
    static ub4 DefineBufferSize(const TFieldDesc& field);
    // Rows fetched by this call.
    int Fetch(ub4 rows, ub2 orientation = OCI_FETCH_NEXT, sb4 offset = 0);
    // One row whose LONG value comes in pieces: 0, 99 (a piece is waiting) or 100.
    sword FetchPiece(ub2 orientation = OCI_FETCH_NEXT, sb4 offset = 0);
    void FinishFetch();

    // ---- stored procedures
    void InitProcParams(const AnsiString& name, int overload);

    // Set by the record set for an asynchronous open: the statement is closed after the run.
    bool UnprepareAfterExecute = false;
    // The change notification the dataset attached, or nullptr: while it is enabled, every
    // statement prepared joins its subscription.
    class TOCIChangeNotification* ChangeNotification = nullptr;

    // Precisions: the command's own, or the connection's where the command's is -1.
    int GetSmallintPrecision();
    int GetIntegerPrecision();
    int GetLargeintPrecision();
    int GetFloatPrecision();
    int GetBCDPrecision();
    int GetBCDScale();
    int GetFmtBCDPrecision();
    int GetFmtBCDScale();

protected:
    void CheckSession();
    void CheckActive();
    void CheckOCI();
    void CheckOCI80();
    void DoExecute();
    void EndExecute(rtl::Exception* error);
    void InternalPrepare8();
    // The piecewise transfer of LONG values after an execute that answered 99.
    sword TransferPieces(sword status);
    // Output LOB, XML and table values after an execute that processed rows.
    void ReadBackParams();
    // With prTemporaryLobUpdate: input LOB values go into temporary LOBs before the execute.
    void PrepareTemporaryLobs();
    // A LOB parameter after the execute: its content read back, or written to the locator the
    // statement returned.
    void ReadBackLob(TOraParamDesc* param);
    // Ties a LOB parameter's value to this command's connection before the bind.
    TOraLob* PrepareLobParam(TOraParamDesc* param);
    // Object and collection parameters: bound to the instance and null structure of their value.
    void BindObjectParam(TOraParamDesc* param, const AnsiString& name);
    void BindRefParam(TOraParamDesc* param, TOraRef* ref, const AnsiString& name);
    // Binds :name as a named type (SQLT_NTY or SQLT_REF) to value and its null structure.
    void BindNamedType(TOraParamDesc* param, const AnsiString& name, ub2 type, OCIType* tdo, void** value,
                       void** ind);
    bool IntegersEnabled();
    OCIError* ErrorHandle();
    OCISvcCtx* SvcCtx();
    OCIStmt* Statement();
    void DescribeProcedure8(const AnsiString& name, int overload);
    void DescribeNumberField(TFieldDesc& field, int precision, int scale);
    void DescribeDateFormatField(TFieldDesc& field, int nlsIndex);
    void DefineCharset(TFieldDesc& field, OCIDefine* define);
    void SetDefineHandle(TFieldDesc& field, OCIDefine* define);
    // Defines a LONG column for a dynamic fetch.
    OCIDefine* DefineLong(TFieldDesc& field, void* buffer, int16_t* indicator);

    // The connection's call lock for a scope.
    class TCallLock {
    public:
        explicit TCallLock(TOCIConnection* connection) : connection_(connection) {
            if (connection_) connection_->Lock();
        }
        ~TCallLock() {
            if (connection_) connection_->Release();
        }
        TCallLock(const TCallLock&) = delete;
        TCallLock& operator=(const TCallLock&) = delete;

    private:
        TOCIConnection* connection_;
    };
    // The statement mutex of a non-blocking command for a scope.
    class TStatementLock {
    public:
        explicit TStatementLock(TOCICommand& command)
            : mutex_(command.FNonBlocking ? &command.FStatementMutex : nullptr) {
            if (mutex_) mutex_->Acquire();
        }
        ~TStatementLock() {
            if (mutex_) mutex_->Release();
        }
        TStatementLock(const TStatementLock&) = delete;
        TStatementLock& operator=(const TStatementLock&) = delete;

    private:
        rtl::TMutex* mutex_;
    };

private:
    TOraCursor* FOwnCursor = nullptr;
    TOraCursor* FCursor = nullptr;
    TOCICallStyle FCallStyle = ocsNone;
    bool FNonBlocking = false;
    uint16_t FSQLType = 0;
    uint16_t FLastSQLType = 0;
    int32_t FRowsProcessed = 0;
    int32_t FFetchedRows = 0;
    uint16_t FErrorOffset = 0;
    int FIters = 1;
    bool FFieldsAsString = false;
    bool FCacheLobs = true;
    bool FGetRowIdAfterExecute = false;
    AnsiString FRowId;
    bool FRawAsString = false;
    bool FNumberAsString = false;
    bool FForceIntegers = false;
    TOraPrecisions FPrecisions{-1, -1, -1, -1, -1, 0, -1, 0};
    bool FTemporaryLobUpdate = false;
    bool FStatementCache = false;
    bool FBindUnassignedParams = true;
    bool FKeepResultParams = false;
    rtl::TMutex FStatementMutex;
    TExecThread* FExecThread = nullptr;
    TOCIConnection* FOracleConnection = nullptr;
    uint8_t FNullValue[2] = {0, 0};  // the value of a null of unknown type
    std::exception_ptr FCallbackError;
};

// ---------------------------------------------------------------------------------------------
// The Oracle transaction
//
// One connection without a transaction id: a local transaction, begun by committing what is
// pending and issuing the SET TRANSACTION statements the settings ask for. Several connections or
// a transaction id: a global transaction, one OCI transaction branch per connection, ended with a
// two-phase commit. Names given by callers are checked and quoted before they reach SQL text.

// The X/Open transaction id: format, id and qualifier lengths, then id and qualifier bytes.
struct TXID {
    int32_t formatID = 0;
    int32_t gtrid_length = 0;
    int32_t bqual_length = 0;
    uint8_t data[128] = {};
};
static_assert(sizeof(TXID) == 140, "the X/Open XID is 140 bytes");

struct TTransactionLink {
    rtl::TBytes BranchQualifier;
    uint8_t State = 0;  // 0 none, 1 started, 2 prepared, 3 ended and awaiting release
    OCITrans* TransactionHandle = nullptr;
};

// A savepoint or rollback segment name as SQL may carry it: a plain identifier upper-cased and
// quoted, a quoted one kept. Anything else raises Exception "Invalid <what>: <name>".
AnsiString CheckedOraIdentifier(const AnsiString& name, const char* what);
// A transaction name as a string literal with its apostrophes doubled; control characters raise.
AnsiString OraNameLiteral(const AnsiString& name);
// A time-out in seconds as the 16-bit value OCI takes: clamped to 0..65535.
uint16_t ClampTransactionTimeOut(int32_t seconds);

class TOCITransaction : public TCRTransaction {
public:
    TOCITransaction();
    ~TOCITransaction() override;

    bool SetProp(int prop, const rtl::Variant& value) override;
    bool GetProp(int prop, rtl::Variant& value) override;
    bool VerifyInTransaction(bool canDetect) override;
    void AssignConnect(TCRTransaction* source) override;
    void OpenTransaction() override;
    void Commit() override;
    void Rollback() override;
    void Savepoint(const AnsiString& name) override;
    void RollbackToSavepoint(const AnsiString& name) override;

    void SetTransactionId(const rtl::TBytes& value) { FTransactionId = value; }
    void SetBranchQualifier(int index, const rtl::TBytes& value);
    // Ends every started branch of a resumable transaction without ending the transaction.
    void Detach();

    const AnsiString& LocalTransactionId() const { return FLocalTransactionId; }
    const std::vector<TTransactionLink>& Links() const { return FLinks; }
    const TXID* XID() const { return FXID.get(); }

    // The SQL texts sent, for one local start.
    static AnsiString SetTransactionSQL(const AnsiString& clause, const AnsiString& name);

protected:
    void Check(sword status);
    void CheckGlobal(sword status, bool useOnError);
    void StartLocal();
    void CommitLocal();
    void RollbackLocal();
    AnsiString GetLocalTransactionId(bool createIfNone);
    void StartGlobal();
    void CommitGlobal();
    void RollbackGlobal();
    void BuildXID();
    void SetXIDBranch(TTransactionLink& link);
    void ReleaseLinks();
    bool IsLocal() const { return FConnections.Count() == 1 && FTransactionId.empty(); }
    TOCIConnection* Connection(int index);
    void ExecSQL(TOCIConnection* connection, const AnsiString& sql);

private:
    AnsiString FLocalTransactionId;
    AnsiString FTransactionName;
    AnsiString FRollbackSegment;
    std::vector<TTransactionLink> FLinks;
    int32_t FInactiveTimeOut = 0;
    int32_t FResumeTimeOut = 0;
    std::unique_ptr<TXID> FXID;
    rtl::TBytes FTransactionId;
    bool FResume = false;
};

// ---------------------------------------------------------------------------------------------
// The Oracle record set
//
// Reads the rows of a query, or of a REF CURSOR a PL/SQL block returns, into the record list:
// FetchRows rows per server call, defined straight into the items of a block with the item
// stride as skip, so that the common types need no copy. Numbers kept as integers, BCD or
// Oracle numbers, out-of-record texts and timestamps pass through a per-block conversion buffer.
// A scrollable cursor is read row by row and keeps a window of at most FetchRows rows.
//
// Record layout: the field values at their offsets, then one 2-byte OCI indicator per field
// (-1 null).

class TOCIRecordSet : public TCRRecordSet, public TUtilityMessageTarget {
public:
    TOCIRecordSet();
    ~TOCIRecordSet() override;

    // ---- open and fetch
    void InternalPrepare() override;
    void InternalUnPrepare() override;
    void InternalOpen(bool disableInitFields = false) override;
    void InternalClose() override;
    void InternalInitFields() override;
    int GetIndicatorSize() override { return fields_.Count() * 2; }
    bool NeedFullReopen() override;
    void Reopen() override;
    TFieldDescClass GetFieldDescType() override { return TFieldDescClass::Of<TOCIFieldDesc>(); }
    void SetToBegin() override;
    void SetToEnd() override;
    void GetBookmark(void* bookmark) override;
    void SetToBookmark(const void* bookmark) override;
    bool Fetch(bool fetchBack = false) override;
    void CreateCommand() override;
    void SetCommand(TCRCommand* value) override;
    bool CanFetchBack() override;
    void ExecuteOpen(bool disableInitFields) override;
    void ExecCommand() override;
    void FetchAll() override;
    void BreakFetch() override { FBreakFetch = true; }
    bool IsQuery() override;
    void SetConnection(TCRConnection* value) override;
    bool SetProp(int prop, const rtl::Variant& value) override;
    bool GetProp(int prop, rtl::Variant& value) override;

    // ---- background (non-blocking) opening and fetching
    // At the last row in memory, waits while a background fetch-all may still add rows.
    bool Eof() override;
    void SetFilterText(const AnsiString& value) override;
    void FilterUpdated() override;
    void SortItems() override;
    void DoAfterFetch() override;
    void HandleUtilityMessage(rtl::UINT msg, rtl::LPARAM lParam) override;
    bool ExecThreadRunning() const { return FExecThread != nullptr; }
    bool FetchThreadRunning() const { return FFetchThread != nullptr; }

    // ---- row values
    bool GetNull(int fieldNo, void* recBuf) override;
    void SetNull(int fieldNo, void* recBuf, bool value) override;
    void GetFieldAsVariant(int fieldNo, void* recBuf, rtl::Variant& value) override;
    void PutFieldAsVariant(int fieldNo, void* recBuf, const rtl::Variant& value,
                           bool isDatabaseValue = false) override;
    void GetDateFromBuf(void* place, TFieldDesc* field, void* dest, int form) override;
    void PutDateToBuf(void* place, TFieldDesc* field, const void* source, int form) override;
    bool IsBlobFieldType(TDataType dataType) override;
    bool IsComplexFieldType(TDataType dataType) override;
    void CreateComplexFields(void* recBuf, bool withBlob) override;
    void FreeComplexFields(void* recBuf, bool withBlob) override;
    void CopyComplexFields(void* source, void* dest, bool withBlob) override;
    // Numbers held as Oracle numbers: nulls first, then by value.
    int CompareFields(void* recBuf1, void* recBuf2, TFieldDesc* field, int options) override;

    TOCICommand* OraCommand() { return static_cast<TOCICommand*>(GetCommand()); }
    bool AutoClose = false;
    bool DeferredLobRead = false;
    // Rows before the first row held, and the cursor row number of the last row held.
    int32_t FirstRowNo() const { return FFirstRowNo; }
    int32_t LastRowNo() const { return FLastRowNo; }
    bool EndReached() const { return FEndReached; }
    bool PieceFetch() const { return FPieceFetch; }

    // The 2-byte indicator of field fieldNo (1-based) in a record; it may lie unaligned.
    void* IndicatorPlace(void* recBuf, int fieldNo) const {
        return static_cast<uint8_t*>(recBuf) + dataAreaSize_ + (fieldNo - 1) * 2;
    }
    int16_t GetIndicator(void* recBuf, int fieldNo) const {
        return PeekPacked<int16_t>(IndicatorPlace(recBuf, fieldNo), 0);
    }
    void SetIndicator(void* recBuf, int fieldNo, int16_t value) const {
        PokePacked(IndicatorPlace(recBuf, fieldNo), 0, value);
    }

protected:
    void FindResultCursor();
    void DetectCommandType();
    void DoExecuteOpen();
    void EndExecuteOpen(rtl::Exception* error);
    bool FetchArray(bool fetchBack);
    bool FetchPiece(bool fetchBack);
    void FetchAllLoop();
    void FetchAllProc();
    void EndFetchAll(rtl::Exception* error);
    // Background work is going on and may still change the rows.
    bool NonBlockingActive();
    // The background work is over and its completion has run (close and destroy).
    void FinishBackground(bool runCompletion);
    // The fetch event: set, reset and pulsed as the readers and the worker need; waiters see a change
    // through its generation, so a pulse between a check and the wait is never lost.
    void SetFetchEvent(bool signaled, bool pulse);
    void WaitFetchEvent();
    // On the owning thread while a fetch-all worker runs: waits for its next rows instead of
    // fetching beside it; false when it ended without more.
    bool WaitForWorkerRows();
    void AllocFetchBuffer();
    void FreeFetchBuffer();
    void ClearItems();
    int32_t GetItemRowNo(PItemHeader item);
    bool IsNonBlocking();
    // A field fetched through the conversion buffer rather than into the record.
    bool NeedsConversionEntry(const TFieldDesc& field);
    int ConversionEntrySize(const TFieldDesc& field);
    // Turns a fetched row's conversion entries into record values.
    void ConvertRow(void* recBuf, uint8_t* row);
    void DefineBlock(PItemHeader firstItem);
    // The stage the defines point at, defined at its first use after an open.
    PItemHeader StageItems();
    // Links the items of a block in order after Last (or before First when backward).
    void LinkBlockItems(PItemHeader first, int count, bool backward);
    void FreeBlockComplex(PBlockHeader block, int from, int to);
    void AssignSerial(PItemHeader item) { SetItemSerial(item); }
    // Unlinks a row of the window and gives its item back.
    void DropItem(PItemHeader item);
    void DefineRow(void* recBuf, uint8_t* conversionRow);
    // LOB and BFILE columns: one value object per row, whose locator the fetch fills through
    // the row's conversion entry; after the fetch the content is read unless deferred.
    void CreateLobFields(void* recBuf);
    void FreeLobFields(void* recBuf);
    void PrepareLobEntries(void* recBuf, uint8_t* conversionRow);
    void FinishLobFields(void* recBuf);
    // Block fetches land in the stage, so their LOB cells point at locators of the record set's
    // own; each fetched row's value object then trades locators with its cell.
    void StageLobLocators(int rows);
    void TakeStagedLobs(void* recBuf, int row);
    void FreeStagedLobs();
    // TIMESTAMP and INTERVAL columns: one value object per row; block fetches land in descriptors
    // of the record set's own whose values the rows' objects take, a row-by-row fetch fills the
    // row's own descriptors.
    static bool IsDescriptorField(const TFieldDesc& field);
    OCIEnv* ValueEnvironment();
    void CreateValueFields(void* recBuf);
    void FreeValueFields(void* recBuf);
    void CopyValueFields(void* source, void* dest);
    void StageValueDescriptors(int rows);
    void PrepareValueEntries(void* recBuf, uint8_t* conversionRow);
    void FreeStagedValues();
    bool ConvertValueEntry(void* recBuf, TFieldDesc* field, const uint8_t* entry, bool isNull);
    bool GetValueFieldAsVariant(TFieldDesc* field, void* recBuf, rtl::Variant& value);
    int CompareValueFields(void* recBuf1, void* recBuf2, TFieldDesc* field);
    void SetValueFieldNull(TFieldDesc* field, void* recBuf, bool value);
    // LONG and LONG RAW columns: a dynamic define whose callback gives each piece a new blob piece;
    // block fetches fill blobs of the stage that the fetched rows then take.
    static bool IsLongField(const TFieldDesc& field);
    static sb4 LongPieceCallback(void* context, OCIDefine* define, ub4 iter, void** buffer, ub4** length,
                                 ub1* piece, void** indicator, ub2** code);
    TBlob* NewLongBlob(const TFieldDesc& field);
    void DefineLongField(int index);
    void FindLongFields();
    void ParseOwnTablesInfo();
    void FinishLongFields(void* recBuf);
    void TakeStagedLongs(void* recBuf, int row);
    void FreeStagedLongs();
    // Object and collection columns: one value per row that takes the instance the fetch made in
    // the row's conversion entry; the entries are emptied before every fetch.
    void CreateObjectFields(void* recBuf);
    void FreeObjectFields(void* recBuf);
    // Releases the row's values of the fields which picks; a value freed leaves its place empty.
    void FreeSharedFields(void* recBuf, bool (*which)(const TFieldDesc*));
    void CopyObjectFields(void* source, void* dest);
    void StageObjectCells(int rows);
    void TakeObjectInstances(void* recBuf, uint8_t* conversionRow);
    // Cursor columns (CURSOR(...) in the select list): one TOraCursor per row. A block fetch
    // fills statement handles of the record set's own that each row's cursor then takes; a
    // row-by-row fetch fills the row cursor's own handle.
    void CreateCursorFields(void* recBuf);
    void FreeCursorFields(void* recBuf);
    // A copied row shares the source's cursor: the server opened one per row.
    void CopyCursorFields(void* source, void* dest);
    void StageCursorHandles(int rows);
    void PrepareCursorEntries(void* recBuf, uint8_t* conversionRow);
    void TakeCursorHandle(void* recBuf, TFieldDesc* field, uint8_t* entry);
    void FreeStagedCursors();

private:
    struct TStagedValue {
        void* Descriptor = nullptr;
        ub4 Type = 0;
    };
    std::vector<TStagedValue> FStagedValues;  // rows × TIMESTAMP and INTERVAL columns, owned here
    std::vector<int> FLongFields;             // indexes of the LONG and LONG RAW fields
    std::vector<TBlob*> FStagedLongs;         // rows × LONG columns, owned here
    void* FLongRecord = nullptr;              // row by row: the record whose blobs take the pieces
    TOraCursor* FResultCursor = nullptr;
    std::vector<uint8_t> FFetchBuffer;
    int32_t FFetchBufferRowSize = 0;
    // Each field's entry in a conversion row, -1 for a field fetched into the record.
    std::vector<int32_t> FEntryOffsets;
    struct TStagedLob {
        OCILobLocator* Locator = nullptr;
        ub4 Type = 0;
    };
    std::vector<TStagedLob> FStagedLobs;  // rows × LOB columns, owned here
    // A record that takes the row of a positioning fetch.
    std::vector<uint8_t> FScratchRecord;
    bool FPieceFetch = false;
    bool FLastFetchBack = false;
    int32_t FFirstRowNo = 0;
    int32_t FLastRowNo = 0;
    bool FEndReached = false;
    bool FNeedsConversion = false;
    std::atomic<bool> FBreakFetch{false};
    std::atomic<bool> FFetchAllRunning{false};
    TExecThread* FExecThread = nullptr;
    TExecThread* FFetchThread = nullptr;
    std::atomic<uint32_t> FWorkerThreadId{0};
    rtl::HWND FOwnerWindow = 0;
    // Guards the row list while a worker adds rows, and the fetch event.
    std::mutex FFetchLock;
    std::condition_variable FFetchChanged;
    bool FFetchSignaled = true;
    uint64_t FFetchGeneration = 0;
    bool FClosing = false;  // a close ends the background work: no new work starts
    AnsiString FPendingFilter;
    bool FHasPendingFilter = false;
    bool FHasObjectFields = false;
    bool FDisableInitFields = false;
    // FetchRows items the block fetch lands in before its rows are copied to their block.
    std::vector<uint8_t> FStageBuffer;
    // Set while the defines point at the stage; cleared whenever they must be made again.
    PBlockHeader FDefinedBlock = nullptr;
    TOCICommand* FOraCommand = nullptr;
    TOCIConnection* FOracleConnection = nullptr;
};

// ---------------------------------------------------------------------------------------------
// TOCIMetaData

// Metadata from Oracle's data dictionary: every query kind is one SELECT over the SYS.ALL_* views,
// restricted by the caller's values, and answered by an Oracle record set whose command reads the
// dictionary's integral numbers as integers.
class TOCIMetaData : public TCRMetaData {
public:
    using TCRMetaData::GetMetaData;

    // The names whose flag ParseTypes sets, each in apostrophes and joined by ", "; "''" when none
    // is, so that an IN list of it matches nothing.
    static AnsiString TypeListToSQL(const AnsiString& text, const std::vector<AnsiString>& names);

protected:
    TCRRecordSet* CreateRecordSet() override;
    TData* GetMetaData(const AnsiString& kind, const rtl::TStrings& restrictions) override;
    void FillMetaDataKinds(rtl::TStrings& list) override;
    void FillRestrictions(rtl::TStrings& list, const AnsiString& kind) override;
    TData* GetTables(const rtl::TStrings& restrictions) override;
    TData* GetColumns(const rtl::TStrings& restrictions) override;
    TData* GetProcedures(const rtl::TStrings& restrictions) override;
    TData* GetProcedureParameters(const rtl::TStrings& restrictions) override;
    TData* GetIndexes(const rtl::TStrings& restrictions) override;
    TData* GetIndexColumns(const rtl::TStrings& restrictions) override;
    TData* GetConstraints(const rtl::TStrings& restrictions) override;
    TData* GetDataTypes(const rtl::TStrings& restrictions) override;
    TData* GetUsers(const rtl::TStrings& restrictions) override;
    TData* GetUserDefinedTypes(const rtl::TStrings& restrictions) override;
    TData* GetPackages(const rtl::TStrings& restrictions) override;
    virtual TData* GetSequences(const rtl::TStrings& restrictions);

private:
    TOCIConnection& Connection();
    // The schema restriction, or the connection's current schema when SCOPE is LOCAL.
    AnsiString ScopedSchema(const rtl::TStrings& restrictions, const AnsiString& schemaName);
};

// BLOB, CLOB, NCLOB (as 8-bit or wide text), BFILE and CFILE: kept in TOraLob and TOraFile.
inline bool IsOraLobType(TDataType t) {
    return (t >= dtOraBlob && t <= dtCFile) || t == dtWideOraClob;
}

// The dynamic-bind callbacks of LONG and LONG RAW parameters; the context is the command.
// In: the blob's pieces in order (first, next, last), or one empty last piece.
sb4 InBindCallback(void* context, OCIBind* bind, ub4 iteration, ub4 index, void** buffer, ub4* length,
                   ub1* piece, void** indicator);
// Out: a new piece of the blob's piece size for every call; the first call clears the blob.
sb4 OutBindCallback(void* context, OCIBind* bind, ub4 iteration, ub4 index, void** buffer, ub4** length,
                    ub1* piece, void** indicator, ub2** returnCode);

}  // namespace dac

#include "dataaccess/oracle/OraClassesNotify.h"
