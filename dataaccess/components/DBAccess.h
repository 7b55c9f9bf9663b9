// The generic data-access components: the connection with its options, transactions, typed
// parameters, macros, the SQL command component and the SQL-text routines.
//
// A connection owns one driver connection and a default transaction; SQL components and
// datasets register with it as clients and count their uses of it (InternalConnect /
// InternalDisconnect), so that a connection in disconnected mode closes when nothing uses it.
// Settings reach the driver objects as numbered properties (SetProp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dataaccess/components/CRTimer.h"
#include "dataaccess/components/DASQLMonitor.h"
#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/CRParser.h"
#include "dataaccess/core/DAServices.h"
#include "dataaccess/core/MemDS.h"
#include "platform/db/DB.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Threads.h"

namespace dac {

class TCustomDAConnection;
class TCustomDADataSet;
class TDATransaction;
class TCustomDASQL;
class TDAMetaData;
class TDAParams;
class TMacros;
class TDASQLGenerator;
class TDADataSetUpdater;

using TCRConnectionClass = rtl::TClassOf<TCRConnection>;
using TCRCommandClass = rtl::TClassOf<TCRCommand>;

// The kinds of statement through which record changes reach the database.
enum TStatementType {
    stQuery,
    stInsert,
    stUpdate,
    stDelete,
    stLock,
    stRefresh,
    stCustom,
    stRefreshQuick,
    stRefreshCheckDeleted,
    stBatchUpdate
};

enum TRetryMode { rmRaise, rmReconnect, rmReconnectExecute };
enum TCRTransactionAction { taCommit, taRollback };
enum TGlobalCoordinator { gcInternal, gcMTS };

using TDAConnectionErrorEvent = std::function<void(rtl::TObject* sender, EDAError* e, bool& fail)>;
using TDATransactionErrorEvent = TDAConnectionErrorEvent;
using TConnectionLostEvent = std::function<void(rtl::TObject* sender, rtl::TComponent* component,
                                                TConnLostCause cause, TRetryMode& retryMode)>;

// The macro character of the library ("&").
extern char MacroChar;

// ---------------------------------------------------------------------------------------------
// Options

class TDAConnectionOptions : public rtl::TPersistent {
public:
    explicit TDAConnectionOptions(TCustomDAConnection* owner) : owner_(owner) {}

    // Copies every option through its setter, so that a live driver connection follows;
    // DefaultSortType stays. Another class raises the platform's assignment error.
    void Assign(rtl::TPersistent* source) override;

    bool KeepDesignConnected() const { return keepDesignConnected_; }
    void SetKeepDesignConnected(bool value) { keepDesignConnected_ = value; }
    bool DisconnectedMode() const { return disconnectedMode_; }
    // A change disconnects the owner first.
    void SetDisconnectedMode(bool value);
    bool LocalFailover() const { return localFailover_; }
    void SetLocalFailover(bool value) { localFailover_ = value; }
    TSortType DefaultSortType() const { return defaultSortType_; }
    void SetDefaultSortType(TSortType value);
    bool EnableBCD() const { return enableBCD_; }
    void SetEnableBCD(bool value);
    bool EnableFMTBCD() const { return enableFMTBCD_; }
    void SetEnableFMTBCD(bool value);

protected:
    // Passes a value to the owner's driver connection when one exists.
    void SetDriverProp(int prop, const rtl::Variant& value);
    TCustomDAConnection* owner_;

private:
    bool keepDesignConnected_ = true;
    bool disconnectedMode_ = false;
    bool localFailover_ = false;
    TSortType defaultSortType_ = stCaseSensitive;
    bool enableBCD_ = false;
    bool enableFMTBCD_ = false;
};

class TPoolingOptions : public rtl::TPersistent {
public:
    explicit TPoolingOptions(TCustomDAConnection* owner) : owner_(owner) {}
    void Assign(rtl::TPersistent* source) override;

    int MaxPoolSize = 100;
    int MinPoolSize = 0;
    int ConnectionLifetime = 0;
    bool Validate = false;

protected:
    TCustomDAConnection* owner_;
};

// ---------------------------------------------------------------------------------------------
// TCustomDAConnection

class TCustomDAConnection : public db::TCustomConnection {
public:
    ~TCustomDAConnection() override;

    void Connect() { SetConnected(true); }
    void Disconnect() { SetConnected(false); }
    bool GetConnected() override;
    void SetConnected(bool value) override;

    // Driver classes.
    virtual TCRConnectionClass GetConnectionClass();
    virtual TCRCommandClass GetCommandClass();
    virtual bool IsMultipleTransactionsSupported() { return false; }

    // A new driver command of the connection's class, not yet bound to a connection.
    std::unique_ptr<TCRCommand> CreateICommand();
    TCRConnection* GetIConnection() const { return iConnection_.get(); }

    // Datasets and SQL components call these around their work: a counted use that connects
    // when needed (without a login prompt unless one is allowed) and its release, which
    // disconnects a connection in disconnected mode when the last use ends outside a transaction.
    virtual void InternalConnect();
    virtual void InternalDisconnect();
    // A counted use (counted true) or a plain connect when not yet connected.
    void ConnectForUse(bool counted) {
        if (counted)
            InternalConnect();
        else if (!GetConnected())
            Connect();
    }
    int ConnectCount() const { return connectCount_; }

    void RegisterClient(rtl::TObject* client, db::TConnectChangeEvent event = nullptr) override;
    void UnRegisterClient(rtl::TObject* client) override;
    bool IsSQLClient(const TCustomDASQL* sql);

    // Transactions.
    TDATransaction* DefaultTransaction() const;
    void SetDefaultTransaction(TDATransaction* value);
    TDATransaction* InternalTransaction() const { return internalTransaction_; }
    // What components without a transaction of their own use.
    virtual TDATransaction* UsedTransaction();
    virtual void StartTransaction();
    virtual void Commit();
    virtual void Rollback();
    virtual void CommitRetaining();
    virtual void RollbackRetaining();
    virtual void Savepoint(const AnsiString& name);
    virtual void RollbackToSavepoint(const AnsiString& name);
    virtual void ReleaseSavepoint(const AnsiString& name);
    bool InTransaction();
    int TransactionCount() const { return static_cast<int>(transactions_.size()); }
    TDATransaction* Transactions(int index) const { return transactions_[static_cast<size_t>(index)]; }
    virtual void AddTransaction(TDATransaction* transaction);
    virtual void RemoveTransaction(TDATransaction* transaction);
    // With a connection in disconnected mode: looks whether the server holds a transaction.
    virtual void DetectInTransaction(bool canActivate);

    // Runs a statement through the connection's own SQL component.
    virtual rtl::Variant ExecSQL(const AnsiString& text, const std::vector<rtl::Variant>& values = {});
    // As ExecSQL with name/value pairs; without a "Result" parameter the answer is unassigned.
    virtual rtl::Variant ExecSQLEx(const AnsiString& text, const std::vector<rtl::Variant>& pairs = {});
    // Calls a stored procedure with values in the order of its arguments, or with name/value pairs.
    virtual rtl::Variant ExecProc(const AnsiString& name, const std::vector<rtl::Variant>& values = {});
    virtual rtl::Variant ExecProcEx(const AnsiString& name, const std::vector<rtl::Variant>& pairs = {});
    // Name lists read through a metadata component; the list is cleared first.
    virtual void GetTableNames(rtl::TStrings& list, bool allTables = false);
    virtual void GetDatabaseNames(rtl::TStrings& list);
    virtual void GetStoredProcNames(rtl::TStrings& list, bool allProcs = false);
    // Applies the cached updates of the datasets in one go and, with AutoCommit, commits them
    // together; what was started here rolls back on failure.
    virtual void ApplyUpdatesFor(const std::vector<TCustomDADataSet*>& dataSets);
    // The same for every dataset registered with the connection.
    virtual void ApplyUpdates();
    // The driver's metadata provider class and a metadata component bound to this connection.
    virtual rtl::TClassOf<TCRMetaData> GetMetaDataClass();
    virtual TDAMetaData* CreateMetaData();

    // Settings.
    const AnsiString& Username() const { return username_; }
    void SetUsername(const AnsiString& value);
    const AnsiString& Password() const { return password_; }
    void SetPassword(const AnsiString& value);
    virtual AnsiString GetServer() { return server_; }
    virtual void SetServer(const AnsiString& value);
    bool AutoCommit() const { return autoCommit_; }
    virtual void SetAutoCommit(bool value);
    bool Debug() const { return debug_; }
    void SetDebug(bool value);
    bool Pooling() const { return pooling_; }
    void SetPooling(bool value);
    bool ConvertEOL() const { return convertEOL_; }
    void SetConvertEOL(bool value);
    TDAConnectionOptions& Options() { return *options_; }
    TPoolingOptions& PoolingOptions() { return *poolingOptions_; }
    virtual AnsiString GetConnectString() = 0;
    virtual void SetConnectString(const AnsiString& value) = 0;
    virtual void AssignConnectParams(TCustomDAConnection* source);
    void AssignTo(rtl::TPersistent* dest) override;
    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

    // Failover operation stack: what the connection is doing, innermost last.
    void PushOperation(TConnLostCause cause, bool allowFailover = true);
    void PopOperation();
    // The cause to report for a failed operation of the component.
    TConnLostCause GetFailoverOperation(rtl::TComponent* component = nullptr);
    int OperationCount() const { return static_cast<int>(operations_.size()); }
    // False while a transaction holds server state a reconnect would lose.
    virtual bool CanRestoreAfterFailover();
    // Around a reconnect: transactions close and later start again.
    void SuspendForFailover();
    void ResumeAfterFailover();

    // The driver's error hook: the error goes to OnError with Fail set; the driver raises the
    // error afterwards unless the handler cleared Fail.
    virtual void DoError(rtl::Exception* e, bool& fail, bool& reconnect, bool& reexecute,
                         int reconnectAttempt, TConnLostCause& connLostCause);

    TDAConnectionErrorEvent OnError;
    TConnectionLostEvent OnConnectionLost;

    // The monitor class this connection's components report to; the generic one has no monitor.
    virtual TDASQLMonitorClass GetSQLMonitorClass() { return CustomDASQLMonitorClass(); }

protected:
    explicit TCustomDAConnection(rtl::TComponent* owner);
    // The half of construction that needs the derived factories; the most derived constructor
    // calls it.
    void Construct();

    virtual std::unique_ptr<TDAConnectionOptions> CreateOptions();
    virtual std::unique_ptr<TPoolingOptions> CreatePoolingOptions();
    virtual TDATransaction* CreateTransaction() = 0;
    virtual TCustomDASQL* CreateSQL() = 0;
    // The connection's own SQL component, made on first use; busy while one of the connection's
    // own statements runs on it.
    TCustomDASQL* CheckInternalSQL();
    bool internalSQLBusy_ = false;
    virtual void CreateDriverConnection() = 0;
    virtual void SetDriverConnection(std::unique_ptr<TCRConnection> connection);
    // Detaches every transaction's driver transaction and frees the driver connection.
    void ReleaseDriverConnection();
    // The same for a pooled driver connection, which goes back to its pool instead.
    void ReturnPooledConnection();
    virtual void CloseTransactions();

    void DoConnect() override;
    void DoDisconnect() override;
    // Destruction of the generic half; the most derived destructor calls it.
    void Destruct();

    std::unique_ptr<TCRConnection> iConnection_;
    std::unique_ptr<TDAConnectionOptions> options_;
    std::unique_ptr<TPoolingOptions> poolingOptions_;
    TDATransaction* internalTransaction_ = nullptr;
    TCustomDASQL* internalSQL_ = nullptr;
    int connectCount_ = 0;
    bool promptAllowed_ = true;
    bool destructed_ = false;

private:
    friend class TDATransaction;
    std::vector<TDATransaction*> transactions_;
    AnsiString username_;
    AnsiString password_;
    AnsiString server_;
    bool autoCommit_ = true;
    bool debug_ = false;
    bool pooling_ = false;
    bool convertEOL_ = false;
    TDATransaction* defaultTransaction_ = nullptr;
    rtl::TCriticalSection clientLock_;
    std::vector<TCustomDASQL*> sqlClients_;
    std::vector<std::pair<TConnLostCause, bool>> operations_;
    std::vector<TDATransaction*> suspended_;
    // Set while a lost connection disconnects the session: the disconnect does not come back here.
    bool errorDisconnecting_ = false;
    // A registered dataset or SQL component holds server state a reconnect would lose.
    bool ClientsBlockReconnect(rtl::TComponent* failed, TConnLostCause cause);
};

// ---------------------------------------------------------------------------------------------
// TDATransaction

using TCRTransactionClass = rtl::TClassOf<TCRTransaction>;

class TDATransaction : public rtl::TComponent {
public:
    explicit TDATransaction(rtl::TComponent* owner = nullptr);
    ~TDATransaction() override;

    virtual void StartTransaction();
    virtual void Commit();
    virtual void Rollback();
    virtual void CommitRetaining();
    virtual void RollbackRetaining();
    virtual void Savepoint(const AnsiString& name);
    virtual void RollbackToSavepoint(const AnsiString& name);
    virtual void ReleaseSavepoint(const AnsiString& name);

    bool Active() { return GetActive(false); }
    virtual bool GetActive(bool checkServer);
    // Ends an active transaction by DefaultCloseAction; with force every error is swallowed.
    virtual void CloseTransaction(bool force);

    // Used by components that execute without an explicit transaction.
    virtual void AutoStart();
    virtual void AutoCommit(bool commit);
    virtual void AutoRelease();

    TCustomDAConnection* DefaultConnection() const { return defaultConnection_; }
    void SetDefaultConnection(TCustomDAConnection* value);
    int ConnectionCount() const { return static_cast<int>(connections_.size()); }
    TCustomDAConnection* Connections(int index) const { return connections_[static_cast<size_t>(index)]; }
    virtual void AddConnection(TCustomDAConnection* connection);
    virtual void RemoveConnection(TCustomDAConnection* connection);

    TCRTransaction* GetITransaction() const { return iTransaction_; }
    // Makes or checks the driver transaction (before every operation).
    void CheckITransaction();
    // Drops the driver transaction (the connection's own one is only forgotten).
    void FreeITransaction();

    TCRTransactionAction DefaultCloseAction = taRollback;
    TGlobalCoordinator GlobalCoordinator() const { return globalCoordinator_; }
    void SetGlobalCoordinator(TGlobalCoordinator value);
    int UsageCount() const { return usageCount_; }
    bool ExplicitlyStarted() const { return explicitlyStarted_; }
    // The session's internal transaction uses the driver connection's built-in transaction.
    bool OwnedByConnection = false;

    TDATransactionErrorEvent OnError;
    rtl::TNotifyEvent OnStart;
    rtl::TNotifyEvent OnCommit;
    rtl::TNotifyEvent OnRollback;

    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

protected:
    virtual TCRTransactionClass GetTransactionClass();
    virtual void SetDriverTransaction(TCRTransaction* transaction);
    void CheckInactive();
    void CheckActive();
    // Checks (and, in disconnected mode, connects) every connection for an operation; quiet
    // only checks.
    void PrepareConnections(bool quiet);
    void UnPrepareConnections();
    void Reset();
    void DoError(rtl::Exception* e, bool& fail);

    uint8_t isolationByte_ = ilReadCommitted;
    bool readOnly_ = false;

private:
    friend class TCustomDAConnection;
    TCustomDAConnection* defaultConnection_ = nullptr;
    std::vector<TCustomDAConnection*> connections_;
    TCRTransaction* iTransaction_ = nullptr;
    bool ownsITransaction_ = false;
    TGlobalCoordinator globalCoordinator_ = gcInternal;
    int usageCount_ = 0;
    bool explicitlyStarted_ = false;
    int pendingCount_ = 0;
    bool prepared_ = false;
    bool allDisconnectedMode_ = false;
    bool errorGuard_ = false;
};

// ---------------------------------------------------------------------------------------------
// Parameters

// The extended field types carried in the field-type byte.
inline constexpr db::TFieldType ftExtBFile = static_cast<db::TFieldType>(100);
inline constexpr db::TFieldType ftExtLabel = static_cast<db::TFieldType>(101);
inline constexpr db::TFieldType ftExtIntervalYM = static_cast<db::TFieldType>(103);
inline constexpr db::TFieldType ftExtIntervalDS = static_cast<db::TFieldType>(104);
inline constexpr db::TFieldType ftExtTimeStampTZ = static_cast<db::TFieldType>(105);
inline constexpr db::TFieldType ftExtTimeStampLTZ = static_cast<db::TFieldType>(106);
inline constexpr db::TFieldType ftExtNumber = static_cast<db::TFieldType>(107);
inline constexpr db::TFieldType ftExtXML = static_cast<db::TFieldType>(108);

// A parameter whose value may live in an object (blob, cursor, Oracle value), with a declared
// size and the national-character flag.
class TDAParam : public db::TParam {
public:
    explicit TDAParam(rtl::TCollection* owner = nullptr);
    ~TDAParam() override;

    void SetDataType(db::TFieldType value) override;
    virtual bool IsObjectDataType(db::TFieldType dataType) const;
    virtual bool IsBlobDataType(db::TFieldType dataType) const;
    bool IsObjectDataType() const { return IsObjectDataType(DataType()); }
    bool IsBlobDataType() const { return IsBlobDataType(DataType()); }

    TSharedObject* GetParamObject() const { return paramObject_; }
    // Shares obj; the value reads "Object" so that the parameter is not null.
    virtual void SetParamObject(TSharedObject* obj);
    TBlob* AsBlobObject() const { return dynamic_cast<TBlob*>(paramObject_); }

    int GetSize() const { return size_; }
    void SetSize(int value) {
        size_ = value;
        db::TParam::SetSize(value);
    }
    uint16_t SubDataType = 0;
    bool National() const { return national_; }
    virtual void SetNational(bool value);

    AnsiString AsString() const override;
    void SetAsString(const AnsiString& value) override;
    WideString AsWideString() const override;
    void SetAsWideString(const WideString& value) override;
    int32_t AsInteger() const override;
    int64_t AsLargeInt() const override;
    void SetAsLargeInt(int64_t value) override;
    void SetAsBlob(const rtl::TBytes& value) override;
    void SetAsMemo(const AnsiString& value) override;
    rtl::Variant GetAsVariant() const override;
    void SetAsVariant(const rtl::Variant& value) override;
    void Clear() override;
    virtual bool GetIsNull() const;
    bool IsNull() const { return GetIsNull(); }

    void Assign(rtl::TPersistent* source) override;

protected:
    virtual void CreateObject();
    virtual void FreeObject();

    TSharedObject* paramObject_ = nullptr;
    int size_ = 0;
    bool national_ = false;
};

class TDAParams : public db::TParams {
public:
    explicit TDAParams(rtl::TPersistent* owner = nullptr);
    TDAParams(rtl::TPersistent* owner, rtl::TCollectionItemClass itemClass);

    TDAParam* Items(int index) const { return ItemAs<TDAParam>(index); }
    TDAParam* operator[](int index) const { return Items(index); }
    TDAParam* ParamByName(const std::string& name) const {
        return static_cast<TDAParam*>(db::TParams::ParamByName(name));
    }
    TDAParam* FindParam(const std::string& name) const {
        return static_cast<TDAParam*>(db::TParams::FindParam(name));
    }
    // Every parameter's object drops what it holds on the server.
    void DisconnectObjects();
};

// ---------------------------------------------------------------------------------------------
// Macros

class TMacro : public rtl::TCollectionItem {
public:
    explicit TMacro(rtl::TCollection* collection = nullptr);

    const AnsiString& Name() const { return name_; }
    void SetName(const AnsiString& value) { name_ = value; }
    const AnsiString& Value() const { return value_; }
    void SetValue(const AnsiString& value);
    bool Active() const { return active_; }
    void SetActive(bool value);
    void Assign(rtl::TPersistent* source) override;

protected:
    std::string GetDisplayName() const override { return name_.empty() ? ClassName() : name_; }

private:
    AnsiString name_;
    AnsiString value_;
    bool active_ = true;
};

class TMacros : public rtl::TOwnedCollection {
public:
    explicit TMacros(rtl::TComponent* owner);

    TMacro* Items(int index) const { return ItemAs<TMacro>(index); }
    TMacro* operator[](int index) const { return Items(index); }
    TMacro* Add() { return static_cast<TMacro*>(rtl::TCollection::Add()); }
    void SetParserClass(TSQLParserClass value) { parserClass_ = value; }

    // Rebuilds the collection from the macro references of a text, keeping the values of the
    // macros whose names survive; an unchanged set stays untouched.
    void Scan(const AnsiString& sql);
    // Replaces every reference by its active value; unknown names vanish.
    void Expand(AnsiString& sql) const;
    TMacro* FindMacro(const AnsiString& name) const;
    // Raises "Macro %s not found".
    TMacro* MacroByName(const AnsiString& name) const;
    bool IsEqual(const TMacros* other) const;
    virtual AnsiString GetMacroValue(const TMacro* macro) const;

    void Update(rtl::TCollectionItem* item) override;
    // Told when a macro changes; the owner re-sends its SQL.
    std::function<void(rtl::TCollectionItem* item)> OnChange;

private:
    // Calls f(start, end, name) for each reference in sql (positions 0-based, end exclusive).
    void ForEachReference(
        const AnsiString& sql,
        const std::function<void(int64_t start, int64_t end, const AnsiString& name)>& f) const;

    rtl::TComponent* owner_;
    TSQLParserClass parserClass_;
};

// ---------------------------------------------------------------------------------------------
// SQL text routines

// The condition added to a SELECT: an existing WHERE condition goes into parentheses followed by
// " AND " and the new one, in front of the next clause.
AnsiString AddWhereCondition(const AnsiString& sql, const AnsiString& condition, TSQLParserClass parserClass,
                             bool commentsAsLexems = false);
AnsiString ReplaceWhereCondition(const AnsiString& sql, const AnsiString& condition,
                                 TSQLParserClass parserClass);
inline AnsiString RemoveWhereCondition(const AnsiString& sql, TSQLParserClass parserClass) {
    return ReplaceWhereCondition(sql, AnsiString(), parserClass);
}
// ";" in fields stands for ","; an empty list removes ORDER BY.
AnsiString ReplaceOrderBy(const AnsiString& sql, const AnsiString& fields, TSQLParserClass parserClass);
AnsiString ExtractOrderBy(const AnsiString& sql, TSQLParserClass parserClass);
TStatementType UpdateKindToStatementType(db::TUpdateKind kind);

// ---------------------------------------------------------------------------------------------
// TCustomDASQL

using TBeforeExecuteEvent = rtl::TNotifyEvent;
using TAfterExecuteEvent = std::function<void(rtl::TObject* sender, bool result)>;

class TCustomDASQL : public rtl::TComponent {
public:
    ~TCustomDASQL() override;

    TCustomDAConnection* Connection() const { return connection_; }
    void SetConnection(TCustomDAConnection* value);
    TDATransaction* Transaction() const { return transaction_; }
    void SetTransaction(TDATransaction* value);
    virtual TCustomDAConnection* UsedConnection();
    virtual TDATransaction* UsedTransaction();

    rtl::TStringList& SQL() { return *sql_; }
    void SetSQL(rtl::TStrings* value);
    TDAParams& Params() { return *params_; }
    TMacros& Macros() { return *macros_; }
    TDAParam* ParamByName(const std::string& name) { return params_->ParamByName(name); }
    TDAParam* FindParam(const std::string& name) { return params_->FindParam(name); }
    int ParamCount() const { return params_->Count(); }
    TMacro* MacroByName(const AnsiString& name) { return macros_->MacroByName(name); }

    bool ParamCheck() const { return paramCheck_; }
    void SetParamCheck(bool value);
    bool AutoCommit() const { return autoCommit_; }
    void SetAutoCommit(bool value);
    bool Debug = false;
    bool NoMonitor = false;
    const AnsiString& StoredProcName() const { return storedProcName_; }
    void SetStoredProcName(const AnsiString& value);
    bool StoredProcIsQuery = false;
    int64_t LastInsertId() const { return lastInsertId_; }

    void Prepare();
    void UnPrepare();
    bool Prepared();
    bool Executing();
    void Execute() { Execute(1); }
    virtual void Execute(int iters);
    // Builds the call block of a stored procedure into SQL; with needDescribe the parameters
    // come from the server.
    void CreateProcCall(const AnsiString& name, bool needDescribe, bool isQuery);
    // Rows processed by the last execution.
    int RowsProcessed();
    // The text the driver gets: trailing blanks and controls cut, macros expanded.
    virtual AnsiString GetFinalSQL();

    TCRCommand* GetICommand() const { return command_.get(); }
    // Works on a command another object owns (a dataset's record set command) instead of its
    // own; nil drops it. The command's callbacks stay as the owner set them.
    void UseCommand(TCRCommand* command);
    // Called before the SQL text changes (a dataset closes itself there).
    std::function<void()> BeforeSQLChange;
    // The text macros are scanned in (a dataset adds its update statements); the SQL by default.
    std::function<AnsiString()> MacroScanText;
    // Told by a connection that goes away while this statement uses it as a fallback.
    void ConnectionDestroyed(TCustomDAConnection* connection);

    TBeforeExecuteEvent BeforeExecute;
    TAfterExecuteEvent AfterExecute;

    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;
    void AssignTo(rtl::TPersistent* dest) override;

protected:
    explicit TCustomDASQL(rtl::TComponent* owner);
    void Construct();

    virtual void CreateCommand();
    virtual void SetCommand(std::unique_ptr<TCRCommand> command);
    virtual std::unique_ptr<TDAParams> CreateParamsObject();
    virtual const TDataTypesMap& GetDataTypesMap();
    virtual TSQLParserClass GetParserClass();
    void BeginConnection(bool forExecute);
    void EndConnection();
    void CheckCommand();
    void DisconnectNotice();
    void ConnectChange(bool connecting);
    virtual void InternalPrepare();
    virtual void InternalUnPrepare();
    virtual void InternalExecute(int iters);
    virtual bool NeedRecreateProcCall() { return false; }
    virtual void ProcessBeforeExecute(int iters);
    virtual bool UnknownParamIsOutput() { return true; }
    virtual bool BlobParamRemovesCR() { return false; }
    virtual void AssignParamDesc(TParamDesc* desc, TDAParam* param);
    virtual void AssignParamDescValue(TParamDesc* desc, TDAParam* param);
    virtual void AssignParam(TDAParam* param, TParamDesc* desc);
    virtual void AssignParamValue(TDAParam* param, TParamDesc* desc);
    void CreateParams();
    void WriteParams(bool withValues);
    void ReadParams();
    void DoAfterExecute(bool result);
    // The SQL list's change event.
    void SQLChange();
    // Gives the driver the final text and rebuilds Params from it.
    void SQLChanged();
    void SetDriverSQL();
    void ScanMacros();

    std::unique_ptr<TCRCommand> command_;
    bool lockSQLChange_ = false;
    bool lockMacros_ = false;
    bool lockScanParams_ = false;

private:
    friend class TDBAccessUtils;
    friend class TCustomDADataSet;
    void ReportMonitor(const char* name, bool start);
    // The monitor's event ids of the running prepare and execute.
    int monitorEventIDs_[2] = {};
    // Frees an own command, forgets a borrowed one.
    void DropCommand();
    bool ownsCommand_ = true;
    // The dataset this component works for: its connection is the dataset's.
    TCustomDADataSet* dataSet_ = nullptr;

    TCustomDAConnection* connection_ = nullptr;
    TDATransaction* transaction_ = nullptr;
    std::unique_ptr<rtl::TStringList> sql_;
    std::unique_ptr<TDAParams> params_;
    std::unique_ptr<TMacros> macros_;
    bool paramCheck_ = true;
    bool autoCommit_ = false;
    AnsiString storedProcName_;
    int64_t lastInsertId_ = 0;
    // A counted use taken by Execute that the driver's completion has not given back yet.
    bool executeUseOpen_ = false;
    bool prepareUseOpen_ = false;
    TCustomDAConnection* registeredWith_ = nullptr;
};

// Library-internal access to the components.
class TDBAccessUtils {
public:
    static void SetAutoCommit(TCustomDASQL* obj, bool value) { obj->SetAutoCommit(value); }
    static void SetNoMonitor(TCustomDASQL* obj, bool value) { obj->NoMonitor = value; }
    static rtl::TStringList& GetSQL(TCustomDASQL* obj) { return obj->SQL(); }
    // Sets the text with macro scanning and parameter parsing switched off as asked.
    static void SetSQLText(TCustomDASQL* obj, const AnsiString& text, bool lockMacros, bool lockScanParams);
    static TDAParams& GetParams(TCustomDASQL* obj) { return obj->Params(); }
    static void Execute(TCustomDASQL* obj) { obj->Execute(); }
    static int GetRowsProcessed(TCustomDASQL* obj) { return obj->RowsProcessed(); }
    static TCRConnection* GetIConnection(TCustomDAConnection* c) { return c->GetIConnection(); }
    static void InternalConnect(TCustomDAConnection* c);
    static void InternalDisconnect(TCustomDAConnection* c);
};

// ---------------------------------------------------------------------------------------------
// Datasets

class TCustomDADataSet;
class TDADataSetService;

using TStatementTypes = rtl::TSet<TStatementType>;
enum TRefreshOption { roAfterInsert, roAfterUpdate, roBeforeEdit };
using TRefreshOptions = rtl::TSet<TRefreshOption>;
enum TLockMode { lmNone, lmLockImmediate, lmLockDelayed };
enum TCompressBlobMode { cbNone, cbClient, cbServer, cbClientServer };

using TBeforeFetchEvent = std::function<void(TCustomDADataSet* dataSet, bool& cancel)>;
using TAfterFetchEvent = std::function<void(TCustomDADataSet* dataSet)>;
using TUpdateExecuteEvent =
    std::function<void(db::TDataSet* sender, TStatementTypes statementTypes, TDAParams* params)>;

// A timer as the components see it: a switch, an interval and an event. Nothing fires it in a
// program without a message loop; the detail refresh reads its settings.
// The detail-delay timer: a message-queue timer, made stopped; it fires on the thread that made
// it while that thread pumps its message queue.
class TDATimer : public TWin32Timer {
public:
    TDATimer() { SetEnabled(false); }
};

// What a dataset's options switch. Options with a setter act at once on the owner, its record
// set or its command; the others are plain fields read when needed.
class TDADataSetOptions : public rtl::TPersistent {
public:
    explicit TDADataSetOptions(TCustomDADataSet* owner);

    void AssignTo(rtl::TPersistent* dest) override;

    bool SetFieldsReadOnly = true;
    bool StrictUpdate = true;
    bool QueryRecCount = false;
    bool ReturnParams = false;
    bool RemoveOnRefresh = true;
    bool FullRefresh = false;
    int UpdateBatchSize = 1;
    bool UpdateAllFields = false;
    bool PrepareUpdateSQL = false;

    bool RequiredFields() const { return requiredFields_; }
    void SetRequiredFields(bool value);
    bool NumberRange() const { return numberRange_; }
    void SetNumberRange(bool value);
    bool AutoPrepare() const { return autoPrepare_; }
    void SetAutoPrepare(bool value);
    bool TrimFixedChar() const { return trimFixedChar_; }
    void SetTrimFixedChar(bool value);
    bool TrimVarChar() const { return trimVarChar_; }
    void SetTrimVarChar(bool value);
    bool LongStrings() const { return longStrings_; }
    void SetLongStrings(bool value);
    bool FlatBuffers() const { return flatBuffers_; }
    void SetFlatBuffers(bool value);
    bool QuoteNames() const { return quoteNames_; }
    void SetQuoteNames(bool value);
    int DetailDelay() const { return detailDelay_; }
    void SetDetailDelay(int value);
    TCompressBlobMode CompressBlobMode() const { return compressBlobMode_; }
    void SetCompressBlobMode(TCompressBlobMode value);
    bool LocalMasterDetail() const { return localMasterDetail_; }
    void SetLocalMasterDetail(bool value);
    bool CacheCalcFields() const;
    void SetCacheCalcFields(bool value);
    bool FieldsOrigin() const { return fieldsOrigin_; }
    void SetFieldsOrigin(bool value);
    bool DefaultValues() const { return defaultValues_; }
    void SetDefaultValues(bool value);
    bool ExtendedFieldsInfo() const { return extendedFieldsInfo_; }
    void SetExtendedFieldsInfo(bool value);
    bool EnableBCD() const { return enableBCD_; }
    void SetEnableBCD(bool value);
    bool EnableFMTBCD() const { return enableFMTBCD_; }
    void SetEnableFMTBCD(bool value);

    TCustomDADataSet* Owner() const { return owner_; }

protected:
    // The owner must be closed ("Cannot perform this operation on an open dataset").
    void CheckInactive() const;
    void SetRecordSetProp(int prop, const rtl::Variant& value);
    void SetCommandProp(int prop, const rtl::Variant& value);
    void FieldDefsOutdated();

    TCustomDADataSet* owner_;

private:
    bool requiredFields_ = false;
    bool numberRange_ = false;
    bool autoPrepare_ = false;
    bool trimFixedChar_ = false;
    bool trimVarChar_ = false;
    bool longStrings_ = false;
    bool flatBuffers_ = true;
    bool quoteNames_ = false;
    int detailDelay_ = 0;
    TCompressBlobMode compressBlobMode_ = cbNone;
    bool localMasterDetail_ = false;
    bool fieldsOrigin_ = false;
    bool defaultValues_ = false;
    bool extendedFieldsInfo_ = false;
    bool enableBCD_ = false;
    bool enableFMTBCD_ = false;
};

// The link through which a detail dataset follows its master.
class TDADetailDataLink : public db::TDetailDataLink {
public:
    explicit TDADetailDataLink(TCustomDADataSet* dataSet) : dataSet_(dataSet) {}
    db::TDataSet* GetDetailDataSet() const override;

protected:
    void ActiveChanged() override;
    void RecordChanged(db::TField* field) override;
    void CheckBrowseMode() override;

private:
    TCustomDADataSet* dataSet_;
};

// The field of a column that holds a cursor.
class TDACursorField : public db::TField {
public:
    explicit TDACursorField(rtl::TComponent* owner = nullptr);
};

// A table of the query as the data dictionary knows it (field origins).
struct TExtTableInfo {
    AnsiString Table;
    AnsiString Schema;
    AnsiString Catalog;
    AnsiString DBLink;
    AnsiString Synonym;  // the synonym the table was reached through
    int Flag = 0;        // 1: to be looked up, 2: in the current pass, 8: resolved from a synonym
};
using TExtTablesInfo = std::vector<TExtTableInfo>;

// The dataset's companion that knows the updated table, the key fields and the writable fields.
class TDADataSetService : public TDataSetService {
public:
    explicit TDADataSetService(TMemDataSet* dataSet);
    ~TDADataSetService() override;

    // A TDADataSetUpdater (descendants make their own kind).
    void MakeUpdater() override;
    // The generator of the update statements, made on first use.
    TDASQLGenerator* SQLGenerator();
    virtual std::unique_ptr<TDASQLGenerator> CreateSQLGenerator();
    TDADataSetUpdater* DAUpdater() const;
    // The updating table was added from UpdatingTable, not found among the query's tables.
    bool IsAddedTable() const { return addedTable_; }

    void AfterDataOpen() override;
    // Called at the end of the dataset's open, once the fields exist.
    virtual void AfterFieldsCreated();
    // The cursor closed and its tables were forgotten: so are the updating table and the keys,
    // and the update queries give back their statements.
    virtual void CloseCursor();
    virtual void InitUpdatingTable();
    virtual void InitFieldsInfo();
    virtual void ResetUpdatingTable();
    virtual void FillFieldOrigin(db::TField* field, TFieldDesc* desc);
    virtual void FillFieldsDefaultValues();
    virtual void SetFieldDescsReadOnly();
    virtual bool SkipFieldsOrigin() { return true; }
    // Which table and column of the query each field comes from; the dictionary is asked (through
    // RequestFieldsInfo) for what the text alone cannot settle.
    void DescribeFieldsOrigin();
    virtual void RequestFieldsInfo(TExtTablesInfo& tables, TColumnsInfo& columns);
    virtual TFieldDesc* DetectIdentityField() { return nullptr; }
    virtual db::TField* DetectKeyGeneratorField() { return nullptr; }
    virtual void GetHiddenFields(std::vector<db::TField*>& fields) { fields.clear(); }
    virtual bool CanModify();
    virtual bool UseAllTablesKeys() { return false; }
    virtual bool IsIdentityFieldUpdatable() { return false; }
    virtual void FillKeyFieldDescs(std::vector<TFieldDesc*>& descs);
    virtual void FillDataFieldDescs(std::vector<TFieldDesc*>& descs, bool allTables);
    virtual int GetRecordCount() { return 0; }
    virtual AnsiString GetCurrentSchema() { return AnsiString(); }
    virtual bool IsProviderKeyFieldsFinal() { return false; }
    virtual void ResetTableKeys();
    // The columns of the table's first unique index, ";"-separated (empty when it has none).
    virtual AnsiString GetUniqueIndexColumns(const AnsiString& tableName);
    virtual bool OpenNext();
    virtual bool NeedParamValuesOnPrepare() { return false; }

    void GetKeyFieldDescs(std::vector<TFieldDesc*>& descs);
    void GetDataFieldDescs(std::vector<TFieldDesc*>& descs, bool allTables);
    void ClearKeyFieldsCache();
    TCRTableInfo* GetUpdatingTableInfo();
    int UpdatingTableIndex() const { return updatingTableIndex_; }
    TFieldDesc* IdentityField() const { return identityField_; }
    db::TField* KeyGeneratorField() const { return keyGeneratorField_; }
    bool IsAnyFieldCanBeModified() const { return writable_; }
    TCustomDADataSet* DADataSet() const;

protected:
    TCRRecordSet* RecordSet() const;

    int updatingTableIndex_ = -1;
    bool addedTable_ = false;
    bool initDone_ = false;
    TFieldDesc* identityField_ = nullptr;
    db::TField* keyGeneratorField_ = nullptr;
    bool writable_ = false;
    std::vector<TFieldDesc*> keyCache_;
    bool keyCacheValid_ = false;
    std::vector<TFieldDesc*> dataCache_[2];
    bool dataCacheValid_[2] = {false, false};

private:
    std::unique_ptr<TDASQLGenerator> generator_;
};

// User-written update statements of a dataset (or components that perform them), attached to
// the dataset as its update object.
class TCustomDAUpdateSQL : public rtl::TComponent {
public:
    explicit TCustomDAUpdateSQL(rtl::TComponent* owner = nullptr);
    ~TCustomDAUpdateSQL() override;

    // The statement of an update kind (modify, insert, delete).
    virtual rtl::TStringList& GetSQL(db::TUpdateKind kind);
    // The statement of a type; only stInsert, stUpdate, stDelete, stLock and stRefresh exist.
    rtl::TStringList& SQL(TStatementType type);
    void SetSQL(TStatementType type, rtl::TStrings* value);
    rtl::TStringList& InsertSQL() { return SQL(stInsert); }
    rtl::TStringList& ModifySQL() { return SQL(stUpdate); }
    rtl::TStringList& DeleteSQL() { return SQL(stDelete); }
    rtl::TStringList& LockSQL() { return SQL(stLock); }
    rtl::TStringList& RefreshSQL() { return SQL(stRefresh); }
    rtl::TComponent* Object(TStatementType type) const;
    // Accepts a component of SQLClass or DataSetClass other than the served dataset.
    void SetObject(TStatementType type, rtl::TComponent* value);

    virtual TCustomDADataSet* GetDataSet() const { return dataSet_; }
    virtual void SetDataSet(TCustomDADataSet* value) { dataSet_ = value; }
    // The classes whose components the object properties accept.
    virtual std::string DataSetClassName() const { return "TCustomDADataSet"; }
    virtual std::string SQLClassName() const { return "TCustomDASQL"; }
    virtual bool IsDataSetClass(rtl::TComponent* c) const;
    virtual bool IsSQLClass(rtl::TComponent* c) const;

    void Loaded() override;
    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;
    void AssignTo(rtl::TPersistent* dest) override;
    bool DesignCreate = false;

    // Runs the statement of an update kind for the dataset's current record through its updater.
    void ExecSQL(db::TUpdateKind kind);
    virtual void Apply(db::TUpdateKind kind) { ExecSQL(kind); }

private:
    std::unique_ptr<rtl::TStringList> sql_[stRefresh + 1];
    rtl::TComponent* objects_[stRefresh + 1] = {};
    TCustomDADataSet* dataSet_ = nullptr;
};

// The SQL dataset: rows of a statement or a stored procedure run on a connection. It owns an
// internal SQL component (text, parameters, macros) that shares the driver record set's command.
//
// Every prepare, open and execute takes a counted use of the connection (BeginConnection with
// force) that EndConnection gives back: after a non-query execution, once every row of an open
// dataset is fetched, at close when rows were pending, and at unprepare.
class TCustomDADataSet : public TMemDataSet {
public:
    ~TCustomDADataSet() override;

    // ---- connection
    virtual TCustomDAConnection* UsedConnection();
    TDATransaction* UsedTransaction();
    TDATransaction* UsedUpdateTransaction();
    TCustomDAConnection* Connection() const { return connection_; }
    virtual void SetConnection(TCustomDAConnection* value);
    TDATransaction* Transaction() const { return transaction_; }
    void SetTransaction(TDATransaction* value);
    TDATransaction* UpdateTransaction() const { return updateTransaction_; }
    void SetUpdateTransaction(TDATransaction* value);

    // ---- statements
    virtual void Prepare() override;
    virtual void UnPrepare() override;
    bool Prepared() const { return IsPrepared(); }
    virtual void Execute();
    bool IsQuery();
    bool IsExecuting();
    virtual bool Fetched();
    virtual bool IsProcCall() { return false; }
    void CreateProcCall(const AnsiString& name, bool needDescribe, bool isQuery);
    AnsiString GetFinalSQL();
    TCRCursor* GetCursor();
    void SetCursor(TCRCursor* value);
    void ResetSQL();
    // Saves Active, Debug, FetchAll and FetchRows; with force or when active, runs the statement
    // for one row (for its metadata).
    struct TSavedState {
        bool active = false;
        bool debug = false;
        bool fetchAll = false;
        int fetchRows = 0;
    };
    void SaveState(TSavedState& state, bool force);
    void RestoreState(const TSavedState& state, bool reopen);
    using TMemDataSet::RestoreState;

    // ---- SQL text, parameters, macros
    rtl::TStringList& SQL();
    void SetSQL(rtl::TStrings* value);
    TDAParams& Params();
    void SetParams(TDAParams* value);
    TDAParam* FindParam(const std::string& name);
    TDAParam* ParamByName(const std::string& name);
    TMacros& Macros();
    TMacro* MacroByName(const AnsiString& name);
    bool ParamCheck();
    void SetParamCheck(bool value);
    // The update statement of a kind (stInsert .. stRefresh).
    rtl::TStringList& UpdateSQL(TStatementType kind);
    rtl::TStringList& SQLInsert() { return UpdateSQL(stInsert); }
    rtl::TStringList& SQLUpdate() { return UpdateSQL(stUpdate); }
    rtl::TStringList& SQLDelete() { return UpdateSQL(stDelete); }
    rtl::TStringList& SQLLock() { return UpdateSQL(stLock); }
    rtl::TStringList& SQLRefresh() { return UpdateSQL(stRefresh); }
    void SetUpdateSQL(TStatementType kind, rtl::TStrings* value);
    void ScanMacros();

    // ---- settings
    int FetchRows() const { return fetchRows_; }
    void SetFetchRows(int value);
    bool FetchAll() const { return fetchAll_; }
    void SetFetchAll(bool value);
    bool UniDirectional() const { return uniDirectional_; }
    void SetUniDirectional(bool value);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    bool AutoCommit() const { return autoCommit_; }
    void SetAutoCommit(bool value);
    bool NonBlocking() const { return nonBlocking_; }
    bool Debug() const { return debug_; }
    void SetDebug(bool value) { debug_ = value; }
    TRefreshOptions RefreshOptions() const { return refreshOptions_; }
    void SetRefreshOptions(TRefreshOptions value) { refreshOptions_ = value; }
    const AnsiString& KeyFields() const { return keyFields_; }
    void SetKeyFields(const AnsiString& value);
    const AnsiString& UpdatingTable() const { return updatingTable_; }
    void SetUpdatingTable(const AnsiString& value);
    TLockMode LockMode() const { return lockMode_; }
    void SetLockMode(TLockMode value) { lockMode_ = value; }
    bool DMLRefresh() const { return dmlRefresh_; }
    void SetDMLRefresh(bool value) { dmlRefresh_ = value; }
    TDADataSetOptions& Options() { return *options_; }
    void SetOptions(TDADataSetOptions* value) { options_->Assign(value); }
    int RowsAffected() const { return rowsAffected_; }
    int64_t LastInsertId() const { return lastInsertId_; }
    int ServerRecordCount() const { return recordCount_; }
    TDATimer* DetailTimer() const { return detailTimer_.get(); }
    TCustomDAUpdateSQL* UpdateObject() const { return updateObject_; }
    // Links both ways; the previous update object forgets this dataset.
    void SetUpdateObject(TCustomDAUpdateSQL* value);
    // Made on first need (DetailDelay).
    TDATimer* CheckDetailTimer();

    // The statement runs again for the rows: a cursor read to its end starts over.
    void DataReopen() override;

    // ---- master/detail link
    db::TDataSource* MasterSource() const;
    void SetMasterSource(db::TDataSource* value);
    const AnsiString& MasterFields() const { return masterFields_; }
    void SetMasterFields(const AnsiString& value);
    const AnsiString& DetailFields() const { return detailFields_; }
    void SetDetailFields(const AnsiString& value);
    bool HasMasterDetailLink() const;
    void MasterDetailChanged();
    // The master moved or changed: the detail follows.
    virtual void MasterChanged();
    db::TDataSource* GetDataSource() const override { return MasterSource(); }
    TDADetailDataLink* DataLink() const { return dataLink_.get(); }

    // ---- descriptors
    TDataType GetDataType(const std::string& fieldName);
    TFieldDesc* GetFieldDesc(int fieldNo);
    using TMemDataSet::GetFieldDesc;
    db::TField* GetField(TFieldDesc* desc);
    TCRRecordSet* GetIRecordSetCR() const { return recordSetCR_; }
    TCRCommand* GetICommand() const { return command_; }
    TCustomDASQL* InternalSQL() const { return internalSQL_.get(); }
    TDADataSetService* DataSetService() const { return service_; }

    // ---- component plumbing
    void SetActive(bool value) override;
    void Loaded() override;
    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;
    void AssignTo(rtl::TPersistent* dest) override;
    void SetDataSetService(TDataSetService* service) override;
    void SetIRecordSet(TData* recordSet) override;

    // Events.
    TBeforeExecuteEvent BeforeExecute;
    TAfterExecuteEvent AfterExecute;
    TBeforeFetchEvent BeforeFetch;
    TAfterFetchEvent AfterFetch;
    TUpdateExecuteEvent BeforeUpdateExecute;
    TUpdateExecuteEvent AfterUpdateExecute;

    // ---- editing through the updater
    TDADataSetUpdater* Updater();
    // Re-reads the current record from the server (SQLRefresh or a generated statement).
    void RefreshRecord();
    // Re-reads the rows changed since they were fetched (by key); with checkDeleted, drops the
    // rows the server no longer has.
    void RefreshQuick(bool checkDeleted);
    // Locks the current record (SQLLock or a generated lock statement) until the transaction ends.
    void Lock();
    void Unlock();
    void ApplyUpdates(TUpdateRecordKinds kinds) override;
    using TMemDataSet::ApplyUpdates;
    void SetDefaultExpressionValues() override;
    // An update statement's parameter from a field: its old value or the current one.
    virtual void AssignFieldValue(TDAParam* param, db::TField* field, bool old);
    // The key fields of the current record and their values (one value, or an array for
    // several keys); false when the dataset knows no keys.
    bool GetCurrentKeys(std::vector<db::TField*>& keyFields, rtl::Variant& values);

    // ---- final SQL
    // The SQL text with its macros expanded.
    AnsiString GetBaseSQL();
    const AnsiString& FilterSQL() const { return filterSQL_; }
    // A condition added to the WHERE clause; an open dataset opens again with it.
    void SetFilterSQL(const AnsiString& value);
    virtual AnsiString AddWhereToSQL(const AnsiString& sql, const AnsiString& condition);
    // The FROM list and the WHERE condition of a SELECT (empty when it has none).
    AnsiString ExtractFromList(const AnsiString& sql);
    AnsiString ExtractWhereCondition(const AnsiString& sql);
    virtual TSQLParserClass SQLParserClass();

    // ---- provider interface
    bool PSInTransaction();
    // Both the dataset's and the session's AutoCommit on: the update transaction starts, and
    // ends by commit or rollback.
    void PSStartTransaction();
    void PSEndTransaction(bool commit);
    void PSExecute() { Execute(); }
    // Runs sql with its "?" marks numbered :1, :2, ... (marks in literals, quoted names and
    // comments stay) and params bound by position; the rows affected. With resultSet the
    // statement runs on a new dataset handed to the caller.
    int PSExecuteStatement(const AnsiString& sql, db::TParams* params,
                           std::unique_ptr<TCustomDADataSet>* resultSet = nullptr);
    TDAParams& PSGetParams() { return Params(); }
    void PSSetParams(db::TParams* params);
    virtual void PSSetCommandText(const AnsiString& text);
    char PSGetQuoteChar() const { return '"'; }
    bool PSIsSQLBased() const { return true; }
    bool PSIsSQLSupported() const { return true; }
    void PSReset();
    AnsiString PSGetTableName();
    // ";"-joined key field names.
    AnsiString PSGetKeyFields();
    // The fields of the ORDER BY clause (";"-joined) and those sorted descending; false
    // without an ORDER BY.
    virtual bool PSGetDefaultOrder(AnsiString& fields, AnsiString& descFields);
    bool PSUpdateRecord(db::TUpdateKind kind, db::TDataSet* delta);

protected:
    friend class TDASQLGenerator;
    friend class TDADataSetUpdater;
    void InternalEdit() override;
    void InternalInsert() override;
    void InternalDelete() override;
    void InternalCancel() override;
    void InternalPost() override;
    void InternalRefresh() override;
    // Detail fields of a new record take their master fields' values.
    void DoOnNewRecord() override;
    // The record filter of local master/detail: the record's detail fields equal the master's.
    bool LocalMDFilter(void* recBuf);
    // Local master/detail: the master's values of the field pairs, kept for the filter.
    bool SetLocalMasterParams();

    explicit TCustomDADataSet(rtl::TComponent* owner);
    // The half of construction that needs the derived factories; the most derived constructor
    // calls it.
    void Construct();
    virtual std::unique_ptr<TCustomDASQL> CreateInternalSQL() = 0;
    virtual std::unique_ptr<TDADataSetOptions> CreateOptions();
    void CreateIRecordSet() override {}
    void CheckIRecordSet();

    void BeginConnection(bool force = true);
    void EndConnection();
    void Disconnect(bool close);
    void ConnectChange(bool connecting);

    virtual void BeforeOpenCursor(bool /*infoQuery*/) {}
    virtual void AfterOpenCursor(bool /*infoQuery*/) {}
    void OpenCursor(bool infoQuery) override;
    void CloseCursor() override;
    void InternalOpen() override;
    void InternalClose() override;
    void DoAfterOpen() override;
    void DoAfterScroll() override;
    int GetRecordCount() const override;
    bool GetCanModify() const override;
    virtual void InternalExecute();
    virtual void DoBeforeExecute();
    void DoAfterExecute(bool result);
    void DoBeforeFetch(bool& cancel);
    void DoAfterFetch();
    // The call block again from the declared parameters, when the statement is a procedure call.
    void RecreateProcCall();
    // The parameters with their values into the driver command.
    void WriteParams();
    // A counted use of the connection held under a flag: taken once, given back once.
    void TakeUse(bool& held);
    void ReleaseUse(bool& held);
    // Master values into the parameters (server way); true when something changed.
    virtual bool SetMasterParams(TDAParams& params);
    virtual void RefreshDetail();
    // A lost connection of an open dataset: closing swallows it.
    static bool IsLostConnection(const std::exception_ptr& e);

    std::unique_ptr<TCustomDASQL> internalSQL_;
    std::unique_ptr<TDADataSetOptions> options_;
    TCRRecordSet* recordSetCR_ = nullptr;
    TCRCommand* command_ = nullptr;
    TDADataSetService* service_ = nullptr;
    bool nonBlocking_ = false;
    bool pendingResync_ = false;
    bool nested_ = false;

private:
    friend class TDADataSetOptions;
    TCustomDAConnection* connection_ = nullptr;
    TCustomDAConnection* registeredWith_ = nullptr;
    TDATransaction* transaction_ = nullptr;
    TDATransaction* updateTransaction_ = nullptr;
    std::unique_ptr<TDADetailDataLink> dataLink_;
    std::unique_ptr<rtl::TStringList> updateSQL_[stRefresh + 1];
    std::unique_ptr<TDATimer> detailTimer_;
    TCustomDAUpdateSQL* updateObject_ = nullptr;
    int fetchRows_ = 25;
    bool fetchAll_ = false;
    bool uniDirectional_ = false;
    bool readOnly_ = false;
    bool autoCommit_ = true;
    bool debug_ = false;
    bool loading_ = false;
    bool rebuildingCall_ = false;
    TRefreshOptions refreshOptions_;
    AnsiString keyFields_;
    AnsiString updatingTable_;
    AnsiString masterFields_;
    AnsiString detailFields_;
    TLockMode lockMode_ = lmNone;
    bool dmlRefresh_ = false;
    int rowsAffected_ = -1;
    int64_t lastInsertId_ = 0;
    int recordCount_ = 0;
    // A use of the connection taken by Prepare that UnPrepare gives back.
    bool prepareUse_ = false;
    bool executeUse_ = false;
    // A use taken by Open or Execute that the end of the fetch or Close gives back.
    bool openUse_ = false;
    // The monitor's event ids of the running prepare, unprepare and open.
    int monitorEventIDs_[3] = {};
    // A use taken for an edit or insert that post or cancel gives back.
    bool editUse_ = false;
    AnsiString filterSQL_;
    // The table name seen at the last open and the key fields found by the provider interface.
    AnsiString psTableName_;
    AnsiString psKeyFields_;
    struct TLocalMDLink {
        int fieldNo;
        rtl::Variant value;
    };
    std::vector<TLocalMDLink> localLinks_;
    bool localLinksValid_ = false;
};

// The "?" marks of a statement numbered :1, :2, ...; marks inside literals, quoted names and
// comments are text.
AnsiString NumberQuestionMarks(const AnsiString& sql);

}  // namespace dac

#include "dataaccess/components/DBAccessMetaData.h"

// The connect dialog, the message-queue timer and the I/O handler helpers.
#include "dataaccess/components/CRIOHandler.h"
#include "dataaccess/components/CRTimer.h"
#include "dataaccess/components/DAConnectDialog.h"
#include "dataaccess/components/DASQLGenerator.h"
