// The driver layer's shared classes.
//
// Driver classes: the connection, command, transaction and their parameter descriptors. The
// data-access components talk to them through virtual operations and property identifiers with
// Variant values (SetProp/GetProp); an identifier no class knows fails an assertion whose text
// is the identifier.
//
// SQL text analysis: TSQLInfo describes a SQL dialect (identifier quotes and case, name
// normalisation, dotted names) and reads the FROM-clause tables and the select-list columns of
// a statement into TCRTablesInfo and TColumnsInfo.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/core/CRParser.h"
#include "dataaccess/core/DAServices.h"
#include "dataaccess/core/MemData.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Types.h"
#include "platform/rtl/Variants.h"

namespace dac {

using rtl::AnsiString;

class TCRCommand;
class TCRConnection;
class TCRTransaction;
class TCRTablesInfo;
class TColumnsInfo;

// ---------------------------------------------------------------------------------------------
// SQL text analysis

// Parts of a dotted object name; quotes stay in the parts.
struct TSQLObjectInfo {
    AnsiString Name;
    AnsiString Schema;
    AnsiString Catalog;
    AnsiString DBLink;
};

class TSQLInfo {
public:
    TSQLInfo() = default;
    virtual ~TSQLInfo() = default;
    TSQLInfo(const TSQLInfo&) = delete;
    TSQLInfo& operator=(const TSQLInfo&) = delete;

    // Links the owning command and the lexer class its SQL is read with.
    void SetCommand(TCRCommand* command, TSQLParserClass parserClass);
    TCRCommand* Command() const { return command_; }

    // Hook called after a column name has been read.
    virtual void ParseColumnSuffix(TSQLParser& parser, int& code, AnsiString& lexem);
    virtual char LeftQuote() const { return '"'; }
    virtual char RightQuote() const { return '"'; }
    // 0: the server stores unquoted names in upper case, 1: in lower case, 2: as written.
    virtual int IdentCase() const { return 2; }
    virtual AnsiString Quote(const AnsiString& value, char left, char right) const;
    virtual AnsiString UnQuote(const AnsiString& value) const;
    virtual bool IsQuoted(const AnsiString& value) const;
    virtual bool NeedQuote(const AnsiString& value) const;
    AnsiString NormalizeName(const AnsiString& value, bool quoteNames = false,
                             bool unQuoteNames = false) const {
        return NormalizeName(value, LeftQuote(), RightQuote(), quoteNames, unQuoteNames);
    }
    virtual AnsiString NormalizeName(const AnsiString& value, char left, char right, bool quoteNames,
                                     bool unQuoteNames) const;
    virtual void SplitObjectName(const AnsiString& name, TSQLObjectInfo& info) const;
    virtual void ParseTablesInfo(const AnsiString& sql, TCRTablesInfo& tables);
    virtual void ParseColumnsInfo(const AnsiString& sql, TColumnsInfo& columns);

    AnsiString QuoteName(const AnsiString& value) const { return Quote(value, LeftQuote(), RightQuote()); }

protected:
    // A lexer of the linked class over sql; asserts that a command is linked.
    std::unique_ptr<TSQLParser> CreateParser(const AnsiString& sql) const;

private:
    TCRCommand* command_ = nullptr;
    TSQLParserClass parserClass_ = nullptr;
};

class TCRTableInfo {
public:
    explicit TCRTableInfo(TCRTablesInfo* owner) : owner_(owner) {}
    virtual ~TCRTableInfo() = default;

    virtual AnsiString GetTableNameFull() const { return tableName_; }

    TCRTablesInfo* Owner() const { return owner_; }
    int Index() const { return index_; }
    const AnsiString& TableName() const { return tableName_; }
    const AnsiString& TableAlias() const { return tableAlias_; }
    // Setting a name or alias re-sorts the owner's index (unless the owner is updating).
    void SetTableName(const AnsiString& value);
    void SetTableAlias(const AnsiString& value);

private:
    friend class TCRTablesInfo;
    TCRTablesInfo* owner_;
    int index_ = -1;
    AnsiString tableName_;
    AnsiString tableAlias_;
};

// Class reference of table items.
using TTableInfoClass = std::unique_ptr<TCRTableInfo> (*)(TCRTablesInfo* owner);

class TCRTablesInfo {
public:
    // A null item class means TCRTableInfo.
    explicit TCRTablesInfo(TTableInfoClass itemClass = nullptr);
    ~TCRTablesInfo();
    TCRTablesInfo(const TCRTablesInfo&) = delete;
    TCRTablesInfo& operator=(const TCRTablesInfo&) = delete;

    TCRTableInfo* Add();
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    // An index outside 0 .. Count - 1 raises Exception "List index out of bounds (%d)".
    TCRTableInfo* Items(int index) const;
    TCRTableInfo* operator[](int index) const { return Items(index); }

    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool value);
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // The Index of the first item with that name (alias), or -1.
    int IndexByName(const AnsiString& name) const;
    int IndexByAlias(const AnsiString& alias) const;

private:
    friend class TCRTableInfo;
    using TIndex = std::vector<std::pair<AnsiString, TCRTableInfo*>>;
    void RebuildIndex(bool names);
    int Find(const TIndex& index, bool names, const AnsiString& key) const;
    int CompareKeys(const AnsiString& a, const AnsiString& b) const;

    std::vector<std::unique_ptr<TCRTableInfo>> items_;
    TTableInfoClass itemClass_;
    bool caseSensitive_ = false;
    int updateCount_ = 0;
    TIndex namesIndex_;
    TIndex aliasesIndex_;
};

class TColumnInfo {
public:
    AnsiString Name;
    AnsiString Table;
    int TableNo = -1;
    AnsiString Expr;        // text of a select-list expression
    AnsiString TableAlias;  // the column's alias in the select list
    bool Used = false;
    bool IsDescribed = false;
};

class TColumnsInfo {
public:
    TColumnInfo* Add();
    // A new item at index (0 .. Count); the items from there on move up.
    TColumnInfo* Insert(int index);
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TColumnInfo* Items(int index) const;
    TColumnInfo* operator[](int index) const { return Items(index); }

private:
    std::vector<std::unique_ptr<TColumnInfo>> items_;
};

}  // namespace dac

// ---------------------------------------------------------------------------------------------
// Driver property identifiers

namespace dac {

// Generic.
inline constexpr int prUsername = 1;
inline constexpr int prAutoCommit = 5;
inline constexpr int prParamCheck = 11;
inline constexpr int prSQLType = 12;
inline constexpr int prRowsProcessed = 13;
inline constexpr int prUniDirectional = 20;
inline constexpr int prFetchRows = 21;
inline constexpr int prFetchAll = 22;
inline constexpr int prRowsFetched = 23;
inline constexpr int prExecuting = 24;
inline constexpr int prLongStrings = 25;
inline constexpr int prEnableEmptyStrings = 26;
inline constexpr int prFlatBuffers = 27;
inline constexpr int prConvertEOL = 28;
inline constexpr int prIndexFieldNames = 29;
inline constexpr int prCompressBlobMode = 30;
inline constexpr int prDisconnectedMode = 31;
inline constexpr int prSQLIsFinal = 32;
inline constexpr int prQuoteNames = 34;
inline constexpr int prIsolationLevel = 35;
inline constexpr int prReadOnly = 37;
inline constexpr int prMaxStringSize = 40;
inline constexpr int prEnableBCD = 41;
inline constexpr int prEnableFMTBCD = 42;
inline constexpr int prParamsReadable = 43;
inline constexpr int prDataSetReadOnly = 44;
inline constexpr int prIsStoredProc = 45;
inline constexpr int prRowsProcessedKnown = 46;
inline constexpr int prLockFetchAll = 47;
inline constexpr int prDefaultSortType = 48;
inline constexpr int prLastInsertId = 49;
inline constexpr int prFieldsAsString = 50;
inline constexpr int prExtendedFieldsInfo = 51;
inline constexpr int prDefaultValues = 52;
inline constexpr int prFieldsOrigin = 53;
inline constexpr int prDescribeParams = 54;
// Oracle data-set service.
inline constexpr int prKeySequence = 101;
inline constexpr int prSequenceMode = 102;
// Oracle.
inline constexpr int prNonBlocking = 1001;
inline constexpr int prThreadSafety = 1002;
inline constexpr int prAutoClose = 1003;
inline constexpr int prErrorOffset = 1004;
inline constexpr int prDateFormat = 1006;
inline constexpr int prDeferredLobRead = 1007;
inline constexpr int prConnectMode = 1008;
inline constexpr int prCharLength = 1009;
inline constexpr int prCacheLobs = 1010;
inline constexpr int prEnableIntegers = 1011;
inline constexpr int prInternalName = 1012;
inline constexpr int prScrollableCursor = 1013;
inline constexpr int prGetRowId = 1014;
inline constexpr int prCharset = 1015;
inline constexpr int prDateLanguage = 1016;
inline constexpr int prTimeStampFormat = 1017;
inline constexpr int prTimeStampTZFormat = 1018;
inline constexpr int prRawAsString = 1019;
inline constexpr int prNumberAsString = 1020;
inline constexpr int prNumericCharacters = 1021;
inline constexpr int prEnableNumbers = 1022;
inline constexpr int prUseUnicode = 1023;
inline constexpr int prIntegerPrecision = 1024;
inline constexpr int prFloatPrecision = 1025;
inline constexpr int prTemporaryLobUpdate = 1026;
inline constexpr int prKeepObjectTypes = 1027;
inline constexpr int prInactiveTimeOut = 1028;
inline constexpr int prResumeTimeOut = 1029;
inline constexpr int prTransactionName = 1030;
inline constexpr int prConnectionTimeout = 1031;
inline constexpr int prHasObjectFields = 1032;
inline constexpr int prStatementCache = 1033;
inline constexpr int prStatementCacheSize = 1034;
inline constexpr int prCNEnabled = 1035;
inline constexpr int prCNTimeOut = 1036;
inline constexpr int prCNPersistent = 1037;
inline constexpr int prCNOperations = 1038;
inline constexpr int prPrefetchRows = 1039;
inline constexpr int prResume = 1040;
inline constexpr int prRollbackSegment = 1041;
inline constexpr int prHomeName = 1042;
inline constexpr int prDirect = 1043;
inline constexpr int prClientIdentifier = 1044;
inline constexpr int prOptimizerMode = 1045;
inline constexpr int prUseOCI7 = 1046;
inline constexpr int prSchema = 1047;
inline constexpr int prUseSQLTimeStamp = 1048;
inline constexpr int prIntervalAsString = 1049;
inline constexpr int prSmallintPrecision = 1050;
inline constexpr int prLargeintPrecision = 1051;
inline constexpr int prBCDPrecision = 1052;
inline constexpr int prFmtBCDPrecision = 1053;
inline constexpr int prBindUnassignedParams = 1054;
inline constexpr int prKeepResultParams = 1055;
inline constexpr int prForceIntegers = 1056;
inline constexpr int prEnableLargeint = 1057;
inline constexpr int prUnicodeEnvironment = 1058;

// The answer of a root class to an identifier nobody took: an assertion failure whose text is
// the identifier.
[[noreturn]] void UnknownProp(int prop);

// ---------------------------------------------------------------------------------------------
// Shared enumerations

// What a connection was doing when it was lost.
enum TConnLostCause : uint8_t {
    clUnknown,
    clExecute,
    clOpen,
    clRefresh,
    clApply,
    clServiceQuery,
    clTransStart,
    clConnectionApply,
    clConnect
};

// Statement state shared by commands, cursors and record sets.
enum TCursorState : uint8_t {
    csInactive,
    csOpen,
    csParsed,
    csPrepared,
    csBound,
    csExecuteFetchAll,
    csExecuting,
    csExecuted,
    csFetching,
    csFetchingAll,
    csFetched
};

// Parameter directions (the dataset framework's parameter types).
inline constexpr uint8_t ptUnknown = 0;
inline constexpr uint8_t ptInput = 1;
inline constexpr uint8_t ptOutput = 2;
inline constexpr uint8_t ptInputOutput = 3;
inline constexpr uint8_t ptResult = 4;

// Transaction isolation levels.
inline constexpr uint8_t ilReadCommitted = 0;
inline constexpr uint8_t ilReadUnCommitted = 1;
inline constexpr uint8_t ilRepeatableRead = 2;
inline constexpr uint8_t ilIsolated = 3;
inline constexpr uint8_t ilSerializable = 4;

// Asks the data-access layer to repeat the failed operation after a reconnect.
class EFailOver : public rtl::Exception {
public:
    explicit EFailOver(TConnLostCause cause) : rtl::Exception(std::string()), ConnLostCause(cause) {}
    const char* ClassName() const override { return "EFailOver"; }
    TConnLostCause ConnLostCause;
};

// ---------------------------------------------------------------------------------------------
// TCRConnection

using TCRTransactionClass = rtl::TClassOf<TCRTransaction>;

// (Error, Fail, Reconnect, Reexecute, ReconnectAttempt, ConnLostCause)
using TErrorProc = std::function<void(rtl::Exception* error, bool& fail, bool& reconnect, bool& reexecute,
                                      int reconnectAttempt, TConnLostCause& connLostCause)>;
using TReconnectProc = std::function<void()>;

class TCRConnection : public rtl::TObject {
public:
    // The internal transaction is made on first use, since its class is the driver's.
    TCRConnection();
    // A driver's destructor disconnects itself: the base can no longer reach the driver's
    // Disconnect here.
    ~TCRConnection() override;

    virtual void Enlist(TCRTransaction* transaction);
    virtual void UnEnlist(TCRTransaction* transaction);
    // Runs the lost-connection dialogue with the owner; raises EFailOver when the failed operation
    // is to be repeated after a successful reconnect. Fail arrives True; the caller raises the
    // error when it is still True afterwards.
    virtual void ProcessError(rtl::Exception* error, bool& fail);
    virtual TCRTransactionClass GetInternalTransactionClass();
    // Records the connect time and marks the connection valid.
    virtual void Connect(const AnsiString& connectString);
    virtual void Disconnect() {}
    // Copies server, user name, password, EnableBCD, EnableFMTBCD, the error hook and the I/O
    // handler.
    virtual void Assign(TCRConnection* source);
    virtual void AssignConnect(TCRConnection* source);
    virtual void SetUsername(const AnsiString& value) { FUsername = value; }
    virtual void SetPassword(const AnsiString& value) { FPassword = value; }
    virtual bool CheckIsValid();
    // Hands a pooled connection back to its pool.
    virtual void ReturnToPool();
    virtual void GetServerVersion(AnsiString& version);
    virtual void GetServerVersionFull(AnsiString& version);
    virtual void GetClientVersion(AnsiString& version);
    virtual bool IsSupported() { return true; }
    virtual bool SetProp(int prop, const rtl::Variant& value);
    virtual bool GetProp(int prop, rtl::Variant& value);

    bool GetConnected() const { return FConnected; }
    TCRTransaction* GetInternalTransaction();
    void SetServer(const AnsiString& value) { FServer = value; }
    const AnsiString& GetServer() const { return FServer; }
    const AnsiString& GetUsername() const { return FUsername; }
    const AnsiString& GetPassword() const { return FPassword; }
    bool AutoCommit() const { return FAutoCommit; }
    bool ConvertEOL() const { return FConvertEOL; }
    bool DisconnectedMode() const { return FDisconnectedMode; }
    bool EnableBCD() const { return FEnableBCD; }
    bool EnableFMTBCD() const { return FEnableFMTBCD; }
    TSortType DefaultSortType() const { return FDefaultSortType; }
    bool OwnsHandles() const { return FNativeConnection; }
    bool InProcessError() const { return FInProcessError; }
    THttpOptions& HttpOptions() { return *FHttpOptions; }

    // Set by the owning component.
    TErrorProc OnError;
    TReconnectProc OnReconnectError;
    TReconnectProc OnReconnectSuccess;
    rtl::TComponent* Component = nullptr;
    rtl::TComponent* IOHandler = nullptr;
    // Pool bookkeeping: the pool clears IsValid for a lost connection.
    bool IsValid = true;
    TCRConnectionPool* Pool = nullptr;
    int32_t PoolVersion = 0;
    uint32_t ConnectionTime = 0;

protected:
    std::unique_ptr<TCRTransaction> FInternalTransaction;
    bool FConnected = false;
    // False when the connection uses handles made by another connection.
    bool FNativeConnection = true;
    AnsiString FUsername;
    AnsiString FPassword;
    AnsiString FServer;
    bool FAutoCommit = false;
    bool FConvertEOL = false;
    bool FDisconnectedMode = false;
    bool FEnableBCD = false;
    bool FEnableFMTBCD = false;
    bool FInProcessError = false;
    bool FReconnected = false;
    TSortType FDefaultSortType = stCaseSensitive;
    std::unique_ptr<THttpOptions> FHttpOptions;
};

// ---------------------------------------------------------------------------------------------
// TCRConnections: the connections of a transaction (not owned).

class TCRConnections : public rtl::TList {
public:
    TCRConnection* Items(int index) const { return static_cast<TCRConnection*>(rtl::TList::Items(index)); }
    TCRConnection* operator[](int index) const { return Items(index); }
};

// ---------------------------------------------------------------------------------------------
// TCRTransaction

class TCRTransaction : public rtl::TObject {
public:
    TCRTransaction();
    ~TCRTransaction() override;

    // False when the connection is listed already.
    virtual bool AttachConnection(TCRConnection* connection);
    // False when the connection is not listed.
    virtual bool DetachConnection(TCRConnection* connection);
    virtual bool SetProp(int prop, const rtl::Variant& value);
    virtual bool GetProp(int prop, rtl::Variant& value);
    virtual bool GetInTransaction() { return FActive; }
    virtual bool VerifyInTransaction(bool canDetect);
    // Shares another transaction's server transaction: takes its state and no longer ends the
    // server transaction itself.
    virtual void AssignConnect(TCRTransaction* source);
    virtual void OpenTransaction();
    virtual void Commit();
    virtual void Rollback();
    virtual void CommitRetaining();
    virtual void RollbackRetaining();
    virtual void Savepoint(const AnsiString& name);
    virtual void ReleaseSavepoint(const AnsiString& name);
    virtual void RollbackToSavepoint(const AnsiString& name);
    // Drops the active state without any server call.
    virtual void Reset() { FActive = false; }
    virtual bool CanRestoreAfterFailover() { return false; }

    void CheckInactive();
    void CheckActive();

    TCRConnections& Connections() { return FConnections; }
    int ConnectionsCount() const { return FConnections.Count(); }
    uint8_t IsolationLevel() const { return FIsolationLevel; }
    bool ReadOnly() const { return FReadOnly; }
    bool NativeTransaction() const { return FNativeTransaction; }

    rtl::TComponent* Component = nullptr;
    std::function<void(rtl::Exception* error, bool& fail)> OnError;

protected:
    bool FActive = false;
    TCRConnections FConnections;
    uint8_t FIsolationLevel = ilReadCommitted;
    bool FReadOnly = false;
    bool FNativeTransaction = true;
};

// A distributed transaction through the Windows coordinator. This platform has no coordinator,
// so starting one fails while loading its library.
class TMTSTransaction : public TCRTransaction {
public:
    ~TMTSTransaction() override;

    bool AttachConnection(TCRConnection* connection) override;
    bool DetachConnection(TCRConnection* connection) override;
    void OpenTransaction() override;
    void Commit() override;
    void Rollback() override;
    void Savepoint(const AnsiString& name) override;
    void ReleaseSavepoint(const AnsiString& name) override;
    void RollbackToSavepoint(const AnsiString& name) override;

    virtual void StartMTSTransaction();
    virtual void CompleteMTSTransaction(bool commit);
    virtual void EnlistLink(TCRConnection* connection);
    virtual void UnEnlistLink(TCRConnection* connection);

    // The coordinator's isolation flags for an isolation level; raises "Transaction isolation
    // level is not supported with MTS" for a level it has none for.
    static uint32_t IsolationFlags(uint8_t isolationLevel);

protected:
    void* FDispenser = nullptr;
    void* FMTSTransaction = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Parameter descriptors

class TParamDesc : public rtl::TObject {
public:
    TParamDesc() = default;

    virtual void SetDataType(uint16_t value) { FDataType = value; }
    virtual void SetSubDataType(uint16_t value) { FSubDataType = value; }
    virtual void SetParamType(uint8_t value) { FParamType = value; }
    virtual void SetSize(int32_t value) { FSize = value; }
    // A copy of the value.
    virtual rtl::Variant GetValue() { return FData; }
    // Stores a copy; Unassigned and Null make the descriptor null.
    virtual void SetValue(const rtl::Variant& value);
    // Null for an Unassigned or Null value; the object of an object value.
    virtual rtl::TObject* GetObject();
    // Holds obj as an object value; the null flag stays.
    virtual void SetObject(rtl::TObject* obj);
    virtual bool GetNull() { return FIsNull; }
    // Any value other than an object is dropped.
    virtual void SetNull(bool value);
    virtual void SetIsBound(bool value) { FIsBound = value; }
    virtual bool GetNationalFlag() { return FNational; }
    virtual void SetNationalFlag(bool value) { FNational = value; }

    const AnsiString& GetName() const { return FName; }
    void SetName(const AnsiString& value) { FName = value; }
    uint16_t GetDataType() const { return FDataType; }
    uint16_t GetSubDataType() const { return FSubDataType; }
    uint8_t GetParamType() const { return FParamType; }
    int32_t GetSize() const { return FSize; }
    bool GetIsBound() const { return FIsBound; }
    bool GetConvertEOL() const { return FConvertEOL; }
    void SetConvertEOLFlag(bool value) { FConvertEOL = value; }

protected:
    AnsiString FName;
    uint16_t FDataType = 0;
    uint16_t FSubDataType = 0;
    uint8_t FParamType = ptUnknown;
    int32_t FSize = 0;
    rtl::Variant FData;
    bool FIsNull = false;
    bool FIsBound = true;
    bool FConvertEOL = false;
    bool FNational = false;
};

using TParamDescClass = rtl::TClassOf<TParamDesc>;

// Owns its descriptors: deleting and clearing free them.
class TParamDescs : public rtl::TList {
public:
    ~TParamDescs() override;
    TParamDesc* Items(int index) const { return static_cast<TParamDesc*>(rtl::TList::Items(index)); }
    TParamDesc* GetItem(int index) const { return Items(index); }
    TParamDesc* operator[](int index) const { return Items(index); }

protected:
    void Notify(void* item, rtl::TListNotification action) override;
};

// ---------------------------------------------------------------------------------------------
// TCRCommand

class AnsiStringBuilder;

// A server cursor a command can hand over (REF CURSOR values).
class TCRCursor : public TSharedObject {
public:
    // The cursor has rows to give; drivers answer (the base raises EAbstractError).
    virtual bool CanFetch();
};
using TSQLInfoClass = rtl::TClassOf<TSQLInfo>;

class TCRCommand : public rtl::TObject {
public:
    TCRCommand();
    ~TCRCommand() override;

    // Reads one parameter after a ':' (with Params given: adds a descriptor and writes '?';
    // with a rename prefix: writes the prefix and the name; otherwise copies the text).
    virtual void ParseSQLParam(AnsiStringBuilder& builder, TSQLParser& parser, TParamDescs* params,
                               char leftQuote, char rightQuote, const AnsiString& renamePrefix);
    virtual void Prepare();
    virtual void UnPrepare();
    virtual bool GetPrepared();
    virtual void Execute(int iters = 1);
    virtual void SetConnection(TCRConnection* value) { FConnection = value; }
    virtual void SetTransaction(TCRTransaction* value) { FTransaction = value; }
    virtual TCursorState GetCursorState();
    virtual void SetCursorState(TCursorState value);
    virtual TTableInfoClass GetTableInfoClass() { return nullptr; }
    virtual TSQLInfoClass GetSQLInfoClass() { return TSQLInfoClass::Of<TSQLInfo>(); }
    // A driver names its own lexer; the base fails an assertion.
    virtual TSQLParserClass GetParserClass();
    virtual void SetSQLText(const AnsiString& value);
    // The SQL with every parameter marker replaced by '?' (Params given, which is refilled) or
    // renamed with the prefix.
    virtual AnsiString ParseSQL(const AnsiString& sql, TParamDescs* params, const AnsiString& renamePrefix);
    virtual void CreateProcCall(const AnsiString& name, bool needDescribe, AnsiString& sql);
    virtual TParamDescClass GetParamDescClass() { return TParamDescClass::Of<TParamDesc>(); }
    virtual TParamDesc* AddParam();
    virtual TCRCursor* GetCursor() { return nullptr; }
    virtual void SetCursor(TCRCursor* value);
    virtual bool SetProp(int prop, const rtl::Variant& value);
    virtual bool GetProp(int prop, rtl::Variant& value);
    virtual void BreakExec() {}

    TCRConnection* GetConnection() const { return FConnection; }
    TCRTransaction* GetTransaction() const { return FTransaction; }
    void ReparseSQL();
    int GetParamCount() const { return FParams.Count(); }
    TParamDesc* GetParam(int index) const { return FParams.Items(index); }
    void DeleteParam(int index) { FParams.Delete(index); }
    TParamDescs& Params() { return FParams; }
    const AnsiString& SQL() const { return FSQL; }
    const AnsiString& ParsedSQL() const { return FParsedSQL; }
    // The dialect object, made of the driver's SQL info class on first use.
    TSQLInfo* SQLInfo();

    bool AutoCommit() const { return FAutoCommit; }
    bool Executing() const { return FExecuting; }
    bool ParamCheck() const { return FParamCheck; }
    bool SQLIsFinal() const { return FSQLIsFinal; }
    bool QuoteNames() const { return FQuoteNames; }
    uint8_t CompressBlobMode() const { return FCompressBlobMode; }
    void SetCompressBlobMode(uint8_t value) { FCompressBlobMode = value; }
    bool EnableBCD() const { return FEnableBCD; }
    bool EnableFMTBCD() const { return FEnableFMTBCD; }

    // The owning data set or SQL component; driver errors name it.
    rtl::TComponent* Component = nullptr;
    // Called by the driver at the end of every execution with True on success.
    std::function<void(bool result)> OnAfterExecute;

protected:
    TCRConnection* FConnection = nullptr;
    TCRTransaction* FTransaction = nullptr;
    AnsiString FParsedSQL;
    AnsiString FSQL;
    TParamDescs FParams;
    bool FAutoCommit = false;
    bool FExecuting = false;
    bool FParamCheck = true;
    bool FSQLIsFinal = false;
    bool FQuoteNames = false;
    uint8_t FCompressBlobMode = 0;
    bool FEnableBCD = false;
    bool FEnableFMTBCD = false;
    std::unique_ptr<TSQLInfo> FSQLInfo;
};

// ---------------------------------------------------------------------------------------------
// TCRFieldDesc

class TCRFieldDesc : public TFieldDesc {
public:
    // The actual name, quoted when asked for or when the dialect needs it; cached per form.
    virtual AnsiString GetActualName(TSQLInfo* sqlInfo, bool quoteAlways);
    virtual bool IsNational() { return false; }

    // The table the column came from (not owned).
    TCRTableInfo* TableInfo = nullptr;
    AnsiString DefaultExpression;
    bool AutoIncrement = false;
    // The name the select list gives the column, kept when ActualName becomes the table's column.
    AnsiString SelectName;
    void SetActualName(const AnsiString& value) {
        ActualName = value;
        actualNames_[0].clear();
        actualNames_[1].clear();
    }

private:
    AnsiString actualNames_[2];
};

// ---------------------------------------------------------------------------------------------
// TCRRecordSet

// Record list whose rows come from a driver command: opening executes the command, describes
// the columns once and fetches one block (or all); further blocks are fetched on demand.
class TCRRecordSet : public TMemData {
public:
    TCRRecordSet();
    // Drivers close their record sets in their own destructors.
    ~TCRRecordSet() override;

    // Makes the driver's command and hands it to SetCommand; called on first use.
    virtual void CreateCommand();
    virtual void SetCommand(TCRCommand* value) { FCommand = value; }
    virtual bool CanFetchBack() { return false; }
    virtual bool RequireReinitFields() { return false; }
    virtual void ExecuteOpen(bool disableInitFields);
    virtual void DoBeforeFetch(bool& cancel);
    virtual void DoAfterFetch();
    virtual void Disconnect();
    virtual void ExecCommand();
    virtual void FetchAll();
    virtual void BreakFetch() { FFetchCancel = true; }
    virtual bool CanDisconnect();
    virtual bool IsQuery() { return FCommandType == ctCursor; }
    virtual void SetConnection(TCRConnection* value) { GetCommand()->SetConnection(value); }
    virtual void SetTransaction(TCRTransaction* value) { GetCommand()->SetTransaction(value); }
    virtual void SetSQLText(const AnsiString& value) { GetCommand()->SetSQLText(value); }
    virtual bool SetProp(int prop, const rtl::Variant& value);
    virtual bool GetProp(int prop, rtl::Variant& value);
    virtual bool IsCaseSensitive() { return true; }

    void InternalPrepare() override { GetCommand()->Prepare(); }
    void InternalUnPrepare() override { GetCommand()->UnPrepare(); }
    void InternalOpen(bool disableInitFields = false) override;
    bool NeedConvertEOL() override;
    void Prepare() override;
    void UnPrepare() override;
    TFieldDescClass GetFieldDescType() override { return TFieldDescClass::Of<TCRFieldDesc>(); }
    void GetNextRecord(void* recBuf) override;
    void GetPriorRecord(void* recBuf) override;
    void FilterUpdated() override;
    // The connection's default sort type applies to new sort columns.
    void SetSortDefaults(TSortColumn* column) override;
    void SortItems() override;

    TCRCommand* GetCommand();
    void FreeCommand();
    void SetComponent(rtl::TComponent* value) { GetCommand()->Component = value; }
    TTableInfoClass GetTableInfoClass() { return GetCommand()->GetTableInfoClass(); }
    TCRTablesInfo& TablesInfo();

    // Kinds of statement.
    static constexpr uint8_t ctUnknown = 0;
    static constexpr uint8_t ctStatement = 1;
    static constexpr uint8_t ctCursor = 2;

    bool UniDirectional() const { return FUniDirectional; }
    int32_t FetchRows() const { return FFetchRows; }
    bool FetchAllRows() const { return FFetchAll; }
    bool LongStrings() const { return FLongStrings; }
    bool FlatBuffers() const { return FFlatBuffers; }
    uint8_t CommandType() const { return FCommandType; }

    std::function<void(bool result)> OnAfterExecute;
    std::function<void(bool result)> OnAfterFetchAll;
    std::function<void(bool& cancel)> OnBeforeFetch;
    std::function<void()> OnAfterFetch;
    std::function<void()> OnDataChanged;

protected:
    TCRCommand* FCommand = nullptr;
    bool FCommandMade = false;
    bool FUniDirectional = false;
    int32_t FFetchRows = 0;
    bool FFetchAll = false;
    bool FLockFetchAll = false;
    bool FLongStrings = true;
    bool FFlatBuffers = true;
    bool FExtendedFieldsInfo = false;
    bool FDefaultValues = false;
    bool FFieldsOrigin = false;
    bool FFetchCancel = false;
    uint8_t FCommandType = ctUnknown;
    std::unique_ptr<TCRTablesInfo> FTablesInfo;
};

// ---------------------------------------------------------------------------------------------
// Metadata

// Appends rows to a record storage through a record buffer of its own.
class TDataHelper : public rtl::TObject {
public:
    explicit TDataHelper(TData* data) : FData(data) {}
    ~TDataHelper() override { FreeBuffer(); }

    // A fresh record buffer of the storage's current layout.
    void AllocBuffer();
    void FreeBuffer();
    // Every field null; complex fields (blobs) made anew, since the last row took the old ones.
    void InitRecord();
    void SetFieldValue(int fieldNo, const rtl::Variant& value);
    void AppendRecord();
    void* Buffer() const { return FRecordBuffer; }

private:
    TData* FData;
    void* FRecordBuffer = nullptr;
};

// The driver's database metadata: a metadata kind ("tables", "columns" ...) and a list of
// "NAME=value" restrictions give a record storage whose rows describe the objects asked for.
// The list of kinds and the restriction names of each are answered from memory; every other kind
// by a dictionary query the driver composes and runs through its own record set. The returned
// storage belongs to the provider and lasts until the next call.
class TCRMetaData : public rtl::TObject {
public:
    TCRMetaData();
    ~TCRMetaData() override;

    // The kind is trimmed and lower-cased before the dispatch.
    TData* GetMetaData(TCRConnection* connection, TCRTransaction* transaction, const AnsiString& kind,
                       const rtl::TStrings& restrictions);
    void GetMetaDataKindsList(rtl::TStrings& list);
    void GetRestrictionsList(rtl::TStrings& list, const AnsiString& kind);

    // One flag per name: every item of the comma-separated text sets the flag of the name it
    // equals (case-insensitively); an empty text sets them all.
    static std::vector<bool> ParseTypes(const AnsiString& text, const std::vector<AnsiString>& names);
    // Appends "column = 'value'" (joined by " AND "), the value normalised as an identifier of the
    // driver's dialect; an empty value adds "column IS NULL" when addNull is set, else nothing.
    void AddWhere(AnsiString& condition, const AnsiString& column, bool addNull, const AnsiString& value);
    void AddWhere(AnsiString& condition, const AnsiString& column, const AnsiString& value) {
        AddWhere(condition, column, false, value);
    }

    TMemData& MemoryStorage() { return *FMemoryStorage; }
    // The driver's record set, made on first use.
    TCRRecordSet& QueryRecordSet();

protected:
    virtual TCRRecordSet* CreateRecordSet();
    virtual TData* GetMetaData(const AnsiString& kind, const rtl::TStrings& restrictions);
    virtual void CreateMetaDataKindsFields();
    virtual void FillMetaDataKinds(rtl::TStrings& list);
    virtual TData* GetMetaDataKinds();
    virtual void CreateRestrictionsFields();
    virtual void FillRestrictions(rtl::TStrings& list, const AnsiString& kind);
    virtual TData* GetRestrictions(const rtl::TStrings& restrictions);
    virtual void CreateTablesFields();
    virtual TData* GetTables(const rtl::TStrings& restrictions);
    virtual void CreateColumnsFields();
    virtual TData* GetColumns(const rtl::TStrings& restrictions);
    virtual void CreateProceduresFields();
    virtual TData* GetProcedures(const rtl::TStrings& restrictions);
    virtual void CreateProcedureParametersFields();
    virtual TData* GetProcedureParameters(const rtl::TStrings& restrictions);
    virtual void CreateIndexesFields();
    virtual TData* GetIndexes(const rtl::TStrings& restrictions);
    virtual void CreateIndexColumnsFields();
    virtual TData* GetIndexColumns(const rtl::TStrings& restrictions);
    virtual void CreateConstraintsFields();
    virtual TData* GetConstraints(const rtl::TStrings& restrictions);
    virtual TData* GetDatabases(const rtl::TStrings& restrictions);
    virtual void CreateDatabasesFields();
    virtual TData* GetDataTypes(const rtl::TStrings& restrictions);
    virtual TData* GetUsers(const rtl::TStrings& restrictions);
    virtual TData* GetRoles(const rtl::TStrings& restrictions);
    virtual TData* GetUserDefinedTypes(const rtl::TStrings& restrictions);
    virtual TData* GetPackages(const rtl::TStrings& restrictions);

    // A field of the in-memory layout being defined.
    void AddField(const AnsiString& name, TDataType dataType, int length = 0);
    // Closes the memory storage and clears its descriptors before a layout is defined.
    void ClearMemoryLayout();
    // Runs sql through the record set and returns it.
    TData* OpenQuery(const AnsiString& sql);
    // The trimmed value of a restriction; empty when absent.
    static AnsiString Restriction(const rtl::TStrings& restrictions, const AnsiString& name);

    [[noreturn]] static void Unsupported();

    std::unique_ptr<TMemData> FMemoryStorage;
    std::unique_ptr<TCRRecordSet> FQueryRecordSet;
    std::unique_ptr<TDataHelper> FMemDataAccess;
    std::unique_ptr<TDataHelper> FRecordSetAccess;
    AnsiString FCompareOperator = "=";
};

}  // namespace dac
