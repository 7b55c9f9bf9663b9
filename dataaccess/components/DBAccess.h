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

#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/CRParser.h"
#include "dataaccess/core/DAServices.h"
#include "dataaccess/core/MemDS.h"
#include "platform/db/DB.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Threads.h"

namespace dac {

class TCustomDAConnection;
class TDATransaction;
class TCustomDASQL;
class TDAParams;
class TMacros;

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
    TConnLostCause GetFailoverOperation() const;
    int OperationCount() const { return static_cast<int>(operations_.size()); }

    // The driver's error hook: the error goes to OnError with Fail set; the driver raises the
    // error afterwards unless the handler cleared Fail.
    virtual void DoError(rtl::Exception* e, bool& fail, bool& reconnect, bool& reexecute,
                         int reconnectAttempt, TConnLostCause& connLostCause);

    TDAConnectionErrorEvent OnError;
    TConnectionLostEvent OnConnectionLost;

protected:
    explicit TCustomDAConnection(rtl::TComponent* owner);
    // The half of construction that needs the derived factories; the most derived constructor
    // calls it.
    void Construct();

    virtual std::unique_ptr<TDAConnectionOptions> CreateOptions();
    virtual std::unique_ptr<TPoolingOptions> CreatePoolingOptions();
    virtual TDATransaction* CreateTransaction() = 0;
    virtual TCustomDASQL* CreateSQL() = 0;
    virtual void CreateDriverConnection() = 0;
    virtual void SetDriverConnection(std::unique_ptr<TCRConnection> connection);
    // Detaches every transaction's driver transaction and frees the driver connection.
    void ReleaseDriverConnection();
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
    void ReportMonitor(const char* name, bool start);

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

}  // namespace dac
