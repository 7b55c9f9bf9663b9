// The Oracle data-access components: the session with its options, the Oracle transaction,
// parameters and SQL command component, the session trace and the Oracle forms of the SQL-text
// routines.
//
// One TOraSession per thread that talks to the database; the program keeps every live session
// in a list (the first one made is the default session). The Oracle client library is shared by
// the whole process, so the Oracle home can change only while no other session is connected.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/components/DBAccess.h"
#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraParser.h"

namespace dac {

class TOraSession;
class TOraTrace;
class TOraChangeNotification;

// Home positions: 0 the default, 1 .. the detected homes.
inline constexpr uint8_t ohDefault = 0;
inline constexpr uint8_t ohHome0 = 1;
enum class TOraIsolationLevel { ilReadCommitted, ilSerializable, ilReadOnly };
enum TOraPoolingType { optLocal, optOCI, optMTS };
using TCharLength = uint8_t;

using TConnectChangeEvent = std::function<void(rtl::TObject* sender, bool connected)>;
using TInfoMessageEvent = std::function<void(rtl::TObject* sender, EOraError* error)>;
// Oracle's transparent application failover, as the session reports it; 255 stands for a value
// Oracle added later.
enum TFailoverState : uint8_t { fsEnd, fsAbort, fsReauth, fsBegin, fsError, fsUnknown = 255 };
enum TFailoverType : uint8_t { ftNone, ftSession, ftSelect, ftTransaction, ftUnknown = 255 };
TFailoverState FailoverStateOf(uint32_t event);
TFailoverType FailoverTypeOf(uint32_t type);
using TFailoverEvent =
    std::function<void(rtl::TObject* sender, TFailoverState state, TFailoverType type, bool& retry)>;

// ---------------------------------------------------------------------------------------------
// Options

class TOraSessionOptions : public TDAConnectionOptions {
public:
    explicit TOraSessionOptions(TOraSession* owner);
    void Assign(rtl::TPersistent* source) override;

    TCharLength CharLength() const { return charLength_; }
    void SetCharLength(TCharLength value);
    const AnsiString& Charset() const { return charset_; }
    // Trimmed; when the driver refuses it the previous value is read back and the error raised.
    void SetCharset(const AnsiString& value);
    bool UseUnicode() const { return useUnicode_; }
    void SetUseUnicode(bool value);
    bool ConvertEOL() const;
    void SetConvertEOL(bool value);
    // Read from a live driver connection when one exists.
    AnsiString DateFormat();
    void SetDateFormat(const AnsiString& value);
    AnsiString DateLanguage();
    void SetDateLanguage(const AnsiString& value);
    bool EnableIntegers() const { return enableIntegers_; }
    void SetEnableIntegers(bool value);
    bool EnableLargeint() const { return enableLargeint_; }
    void SetEnableLargeint(bool value);
    bool EnableNumbers() const { return enableNumbers_; }
    void SetEnableNumbers(bool value);
    bool EnableOraTimestamp() const { return enableOraTimestamp_; }
    void SetEnableOraTimestamp(bool value);
    bool NeverConnect() const { return !KeepDesignConnected(); }
    void SetNeverConnect(bool value) { SetKeepDesignConnected(!value); }
    bool UseOCI7() const { return useOCI7_; }
    void SetUseOCI7(bool value);
    TOptimizerMode OptimizerMode() const { return optimizerMode_; }
    void SetOptimizerMode(TOptimizerMode value);
    int ConnectionTimeout() const { return connectionTimeout_; }
    void SetConnectionTimeout(int value);
    bool StatementCache() const { return statementCache_; }
    void SetStatementCache(bool value);
    int StatementCacheSize() const { return statementCacheSize_; }
    void SetStatementCacheSize(int value);
    const AnsiString& ClientIdentifier() const { return clientIdentifier_; }
    void SetClientIdentifier(const AnsiString& value);

private:
    // Field definitions of every dataset of the session are out of date after a type option.
    void FieldDefsOutdated();
    TOraSession* session() const;

    TCharLength charLength_ = 1;
    AnsiString charset_;
    bool useUnicode_ = false;
    AnsiString dateFormat_;
    AnsiString dateLanguage_;
    bool enableIntegers_ = true;
    bool enableLargeint_ = false;
    bool enableNumbers_ = false;
    bool enableOraTimestamp_ = true;
    bool useOCI7_ = false;
    TOptimizerMode optimizerMode_ = omDefault;
    int connectionTimeout_ = 0;
    bool statementCache_ = false;
    int statementCacheSize_ = 20;
    AnsiString clientIdentifier_;
};

class TOraPoolingOptions : public TPoolingOptions {
public:
    explicit TOraPoolingOptions(TOraSession* owner);
    void Assign(rtl::TPersistent* source) override;

    TOraPoolingType PoolType() const { return poolType_; }
    void SetPoolType(TOraPoolingType value);
    const AnsiString& ProxyUsername() const { return proxyUsername_; }
    void SetProxyUsername(const AnsiString& value);
    const AnsiString& ProxyPassword() const { return proxyPassword_; }
    void SetProxyPassword(const AnsiString& value);

private:
    TOraPoolingType poolType_ = optLocal;
    AnsiString proxyUsername_;
    AnsiString proxyPassword_;
};

// ---------------------------------------------------------------------------------------------
// TOraSession

class TOraSession : public TCustomDAConnection {
public:
    explicit TOraSession(rtl::TComponent* owner = nullptr);
    ~TOraSession() override;

    TCRConnectionClass GetConnectionClass() override;
    TCRCommandClass GetCommandClass() override;
    void SetConnected(bool value) override;

    TOCIConnection* OCIConnection() const { return static_cast<TOCIConnection*>(iConnection_.get()); }
    TOraSessionOptions& Options() { return static_cast<TOraSessionOptions&>(*options_); }
    TOraPoolingOptions& PoolingOptions() { return static_cast<TOraPoolingOptions&>(*poolingOptions_); }

    // Starts the default transaction with an isolation level, rollback segment and name.
    void StartTransaction() override;
    void StartTransactionEx(TOraIsolationLevel level, const AnsiString& rollbackSegment = AnsiString(),
                            const AnsiString& name = AnsiString());

    bool ThreadSafety() const { return threadSafety_; }
    void SetThreadSafety(bool value);
    TConnectMode ConnectMode() const { return connectMode_; }
    void SetConnectMode(TConnectMode value);
    bool ConnectPrompt() const { return LoginPrompt(); }
    void SetConnectPrompt(bool value) { SetLoginPrompt(value); }
    void SetAutoCommit(bool value) override;

    // 1-based position of the loaded client's home among the detected homes, 0 for none.
    uint8_t Home();
    // A value outside 1 .. the number of detected homes changes nothing.
    void SetHome(uint8_t value);
    const AnsiString& HomeName() const { return homeName_; }
    // A home other than the loaded one unloads the client for the whole process, so it is
    // refused while another session is connected.
    void SetHomeName(const AnsiString& value);

    // Read while connected: asked from the server each time.
    AnsiString Schema();
    void SetSchema(const AnsiString& value);
    AnsiString GetCachedSchema();
    uint8_t OCICallStyle();
    void SetOCICallStyle(uint8_t value);

    AnsiString GetConnectString() override;
    void SetConnectString(const AnsiString& value) override;
    void AssignConnectParams(TCustomDAConnection* source) override;
    void AssignTo(rtl::TPersistent* dest) override;

    // The server's version number (8170 for 8.1.7), 0 when not connected.
    int OracleVersion();

    TOraTrace* Trace() const { return trace_; }
    void SetTrace(TOraTrace* value);

    // The driver's failover callback: at the end of a failover inside a transaction the datasets'
    // statements are gone, so their record sets are unprepared; then OnFailover.
    void DoFailover(uint32_t event, uint32_t type, bool& retry);

    TConnectChangeEvent OnConnectChange;
    TInfoMessageEvent OnInfoMessage;
    TFailoverEvent OnFailover;

    rtl::TClassOf<TCRMetaData> GetMetaDataClass() override;
    TDAMetaData* CreateMetaData() override;
    // The compilation errors of the unit a CREATE or ALTER statement names, one entry a line
    // ("No errors" when there are none); text stays as it was for any other statement.
    void GetCompileErrors(const AnsiString& sql, AnsiString& text);

    TDASQLMonitorClass GetSQLMonitorClass() override { return OraSQLMonitorClass(); }
    // The change-notification components linked to the session (not owned); kept by them.
    std::vector<TOraChangeNotification*>& ChangeNotifications() { return changeNotifications_; }

protected:
    std::unique_ptr<TDAConnectionOptions> CreateOptions() override;
    std::unique_ptr<TPoolingOptions> CreatePoolingOptions() override;
    TDATransaction* CreateTransaction() override;
    TCustomDASQL* CreateSQL() override;
    void CreateDriverConnection() override;
    // A connection from the process's pool for the session's settings.
    TCRConnection* TakePooledConnection();
    void DoConnect() override;
    void DoDisconnect() override;

private:
    friend class TOraTrace;
    bool threadSafety_ = true;
    TConnectMode connectMode_ = cmNormal;
    AnsiString homeName_;
    AnsiString schema_;
    uint8_t callStyle_ = 0;
    TOraTrace* trace_ = nullptr;
    std::vector<TOraChangeNotification*> changeNotifications_;
};

// The program's session list and default session.
TOraSession* DefaultSession();
int SessionCount();
TOraSession* Sessions(int index);
// Disconnects every session of the program, swallowing each one's error.
void DisconnectAllSessions();

// ---------------------------------------------------------------------------------------------
// TOraTransaction

class TOraTransaction : public TDATransaction {
public:
    explicit TOraTransaction(rtl::TComponent* owner = nullptr);

    void StartTransaction() override;
    bool GetActive(bool checkServer) override;

    TOraIsolationLevel IsolationLevel() const;
    void SetIsolationLevel(TOraIsolationLevel value);
    const AnsiString& TransactionName() const { return transactionName_; }
    void SetTransactionName(const AnsiString& value);
    const AnsiString& RollbackSegment() const { return rollbackSegment_; }
    void SetRollbackSegment(const AnsiString& value);
    int InactiveTimeOut() const { return inactiveTimeOut_; }
    void SetInactiveTimeOut(int value);
    int ResumeTimeOut() const { return resumeTimeOut_; }
    void SetResumeTimeOut(int value);
    bool Resume = false;

    TOraSession* DefaultSession() const { return static_cast<TOraSession*>(DefaultConnection()); }

protected:
    TCRTransactionClass GetTransactionClass() override;
    void SetDriverTransaction(TCRTransaction* transaction) override;

private:
    void PassProp(int prop, const rtl::Variant& value);

    AnsiString transactionName_;
    AnsiString rollbackSegment_;
    int inactiveTimeOut_ = 0;
    int resumeTimeOut_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Parameters

class TOraParam : public TDAParam {
public:
    explicit TOraParam(rtl::TCollection* owner = nullptr);
    ~TOraParam() override;

    void SetDataType(db::TFieldType value) override;
    bool IsObjectDataType(db::TFieldType dataType) const override;
    bool IsBlobDataType(db::TFieldType dataType) const override;
    using TDAParam::IsBlobDataType;
    using TDAParam::IsObjectDataType;
    void SetNational(bool value) override;

    bool Table() const { return table_; }
    void SetTable(bool value);
    int Length() const;
    void SetLength(int value);
    bool IsArray() const { return arrayValue_.IsArray(); }
    const rtl::Variant& ArrayValue() const { return arrayValue_; }
    rtl::Variant ItemValue(int index);
    void SetItemValue(int index, const rtl::Variant& value);
    bool HasDefault = false;
    bool IsResult = false;
    // The driver descriptor while a statement is bound.
    TOraParamDesc* ParamDesc = nullptr;

    // Declared size for the text kinds, 0 otherwise.
    int GetSize() const;

    AnsiString AsString() const override;
    void SetAsString(const AnsiString& value) override;
    int32_t AsInteger() const override;
    void SetAsInteger(int32_t value) override;
    double AsFloat() const override;
    void SetAsFloat(double value) override;
    rtl::Variant GetAsVariant() const override;
    void SetAsVariant(const rtl::Variant& value) override;
    void Clear() override;
    bool GetIsNull() const override;

    TOraCursor* AsCursor() const { return dynamic_cast<TOraCursor*>(paramObject_); }
    TOraTimeStamp* AsTimeStamp() const { return dynamic_cast<TOraTimeStamp*>(paramObject_); }
    TOraInterval* AsInterval() const { return dynamic_cast<TOraInterval*>(paramObject_); }
    TOraNumber* AsNumber() const { return dynamic_cast<TOraNumber*>(paramObject_); }

    // Object, collection, REF and XMLTYPE values. A getter turns an unknown data type into its
    // kind first; it answers none when the parameter holds another kind.
    TOraObject* AsObject();
    TOraArray* AsArray();
    TOraNestTable* AsTable();
    TOraRef* AsRef();
    TOraXML* AsXML();
    // A setter shares value; the data type follows the value's own kind (a REF stays a REF, a
    // nested table a nested table), whichever setter is used.
    void SetAsObject(TOraObject* value);
    void SetAsArray(TOraArray* value) { SetAsObject(value); }
    void SetAsTable(TOraNestTable* value) { SetAsObject(value); }
    void SetAsRef(TOraRef* value) { SetAsObject(value); }
    void SetAsXML(TOraXML* value) { SetAsObject(value); }

    void Assign(rtl::TPersistent* source) override;

protected:
    void CreateObject() override;

private:
    bool IsOraValueKind() const;
    void ReleaseArray();
    // The object, REF, collection and XMLTYPE kinds.
    bool IsDBObjectKind() const;
    template <class T>
    T* ObjectOf(db::TFieldType kind, db::TFieldType alsoFits);

    bool table_ = false;
    rtl::Variant arrayValue_;
};

class TOraParams : public TDAParams {
public:
    explicit TOraParams(rtl::TPersistent* owner = nullptr);
    TOraParam* Items(int index) const { return ItemAs<TOraParam>(index); }
    TOraParam* operator[](int index) const { return Items(index); }
    TOraParam* ParamByName(const std::string& name) const {
        return static_cast<TOraParam*>(db::TParams::ParamByName(name));
    }
};

// Between the Oracle internal type codes and the field types, extended codes included.
class TOraDataTypesMap : public TDataTypesMap {
public:
    db::TFieldType GetFieldType(TDataType dataType) const override;
    TDataType GetDataType(db::TFieldType fieldType) const override;
    static const TOraDataTypesMap& Instance();
};

// ---------------------------------------------------------------------------------------------
// TOraSQL

class TOraSQL : public TCustomDASQL {
public:
    explicit TOraSQL(rtl::TComponent* owner = nullptr);
    ~TOraSQL() override;

    TOraSession* Session() const { return static_cast<TOraSession*>(Connection()); }
    void SetSession(TOraSession* value) { SetConnection(value); }
    TOraParams& Params() { return static_cast<TOraParams&>(TCustomDASQL::Params()); }
    TOraParam* ParamByName(const std::string& name) { return Params().ParamByName(name); }
    TCustomDAConnection* UsedConnection() override;

    bool NonBlocking() const { return nonBlocking_; }
    void SetNonBlocking(bool value);
    bool StatementCache() const { return statementCache_; }
    void SetStatementCache(bool value);
    bool TemporaryLobUpdate() const { return temporaryLobUpdate_; }
    void SetTemporaryLobUpdate(bool value);

    TOCICommand* OCICommand() const { return static_cast<TOCICommand*>(command_.get()); }
    // The parameter named "Result", or none.
    TOraParam* FindResultParam();

    void AssignTo(rtl::TPersistent* dest) override;

protected:
    void CreateCommand() override;
    void SetCommand(std::unique_ptr<TCRCommand> command) override;
    std::unique_ptr<TDAParams> CreateParamsObject() override;
    const TDataTypesMap& GetDataTypesMap() override;
    TSQLParserClass GetParserClass() override;
    void InternalExecute(int iters) override;
    bool NeedRecreateProcCall() override { return true; }
    void AssignParamDesc(TParamDesc* desc, TDAParam* param) override;
    void AssignParamDescValue(TParamDesc* desc, TDAParam* param) override;
    void AssignParam(TDAParam* param, TParamDesc* desc) override;

private:
    bool nonBlocking_ = false;
    bool statementCache_ = false;
    bool temporaryLobUpdate_ = false;
};

// Library-wide: a TOraSQL without a session uses the default session.
extern bool UseDefaultSession;

// ---------------------------------------------------------------------------------------------
// Oracle forms of the SQL text routines (the Oracle lexer; comments count as lexems when a
// condition is added).

AnsiString OraAddWhereCondition(const AnsiString& sql, const AnsiString& condition);
AnsiString OraReplaceWhereCondition(const AnsiString& sql, const AnsiString& condition);
AnsiString OraRemoveWhereCondition(const AnsiString& sql);
AnsiString OraReplaceOrderBy(const AnsiString& sql, const AnsiString& fields);
AnsiString OraExtractOrderBy(const AnsiString& sql);

// ---------------------------------------------------------------------------------------------
// Session trace: server-side PL/SQL and SQL tracing while the session is connected.

class TOraTrace : public rtl::TObject {
public:
    TOraTrace() = default;
    ~TOraTrace() override;

    TOraSession* Session() const { return session_; }
    // Detaches from the previous session (stopping its tracing) and attaches to the new one,
    // starting tracing when active and connected.
    void SetSession(TOraSession* value);
    bool Active = false;
    // DBMS_TRACE level: the high four bits times 32 plus the low four bits.
    uint8_t PlSqlTraceFlags = 0;
    // 2 typical statistics, 4 all statistics, 32 timed statistics, 8 and 16 the event level.
    uint8_t SqlTraceFlags = 0;
    AnsiString TraceFileIdentifier;
    // 0 leaves it, -1 unlimited.
    int MaxDumpFileSize = 0;

    void Start();
    void Stop();
    void StartSqlTrace();
    void StopSqlTrace();
    void StartPlSqlTrace();
    void StopPlSqlTrace();
    bool SqlTraceStarted() const { return sqlStarted_; }
    // The DBMS_TRACE level of a set of PL/SQL trace flags.
    static int PlSqlTraceLevel(uint8_t flags) { return (((flags >> 4) & 0xF) * 32 + (flags & 0xF)) & 0x1FF; }
    bool PlSqlTraceStarted() const { return plSqlStarted_; }

private:
    void CheckSession();
    void Run(const AnsiString& sql, int level = -1);

    TOraSession* session_ = nullptr;
    bool sqlStarted_ = false;
    bool plSqlStarted_ = false;
};

// ---------------------------------------------------------------------------------------------
// Oracle datasets

class TOraDataSet;
enum TCheckMode { cmNone, cmException, cmRefresh };
enum TSequenceMode { smInsert, smPost };
enum TRefreshMode { rmNone, rmAfterInsert, rmAfterUpdate, rmAlways };

// The Oracle options of a dataset; OptionsDS is a view of the same object.
class TOraDataSetOptionsDS : public TDADataSetOptions {
public:
    explicit TOraDataSetOptionsDS(TCustomDADataSet* owner);
    void AssignTo(rtl::TPersistent* dest) override;

    bool AutoClose() const { return autoClose_; }
    void SetAutoClose(bool value);
    bool FieldsAsString() const { return fieldsAsString_; }
    void SetFieldsAsString(bool value);
    bool DeferredLobRead() const { return deferredLobRead_; }
    void SetDeferredLobRead(bool value);
    bool CacheLobs() const { return cacheLobs_; }
    void SetCacheLobs(bool value);
    bool ScrollableCursor() const { return scrollableCursor_; }
    void SetScrollableCursor(bool value);
    bool RawAsString() const { return rawAsString_; }
    void SetRawAsString(bool value);
    bool KeepPrepared() const { return AutoPrepare(); }
    void SetKeepPrepared(bool value) { SetAutoPrepare(value); }

private:
    bool autoClose_ = false;
    bool fieldsAsString_ = false;
    bool deferredLobRead_ = false;
    bool cacheLobs_ = false;
    bool scrollableCursor_ = false;
    bool rawAsString_ = false;
};

class TOraDataSetOptions : public TOraDataSetOptionsDS {
public:
    explicit TOraDataSetOptions(TCustomDADataSet* owner);
    void AssignTo(rtl::TPersistent* dest) override;

    bool ReflectChangeNotify = false;
    bool TemporaryLobUpdate() const { return temporaryLobUpdate_; }
    void SetTemporaryLobUpdate(bool value);
    bool StatementCache() const { return statementCache_; }
    void SetStatementCache(bool value);
    int PrefetchRows() const { return prefetchRows_; }
    void SetPrefetchRows(int value);

private:
    bool temporaryLobUpdate_ = false;
    bool statementCache_ = false;
    int prefetchRows_ = 0;
};

// Internal data types and field types of the Oracle datasets.
class TCustomOraDataTypesMap : public TDataTypesMap {
public:
    db::TFieldType GetFieldType(TDataType dataType) const override;
    TDataType GetDataType(db::TFieldType fieldType) const override;
    static const TCustomOraDataTypesMap& Instance();
};

// The Oracle dataset service: ROWID as the identity field, a sequence-fed key field, the server
// record count and the Oracle field classes.
class TCustomOraDataSetService : public TDADataSetService {
public:
    explicit TCustomOraDataSetService(TMemDataSet* dataSet);

    db::TFieldClass GetFieldClass(db::TFieldType fieldType) override;
    bool SetProp(int prop, const rtl::Variant& value) override;
    bool GetProp(int prop, rtl::Variant& value) override;
    TFieldDesc* DetectIdentityField() override;
    db::TField* DetectKeyGeneratorField() override;
    void GetHiddenFields(std::vector<db::TField*>& fields) override;
    bool CanModify() override;
    int GetRecordCount() override;
    AnsiString GetCurrentSchema() override;
    bool SkipFieldsOrigin() override { return false; }
    void CloseCursor() override;
    // Asks all_tab_columns, all_synonyms and all_db_links (locally or over the table's link).
    void RequestFieldsInfo(TExtTablesInfo& tables, TColumnsInfo& columns) override;
    // The dictionary statements the last lookup ran, in order.
    const std::vector<AnsiString>& DictionarySQL() const { return dictionarySQL_; }
    bool IsProviderKeyFieldsFinal() override { return true; }
    bool OpenNext() override;
    bool NeedParamValuesOnPrepare() override { return true; }
    virtual bool IsUpdateSQLRequired() { return false; }
    void MakeUpdater() override;
    std::unique_ptr<TDASQLGenerator> CreateSQLGenerator() override;

    const AnsiString& KeySequence() const { return keySequence_; }
    TSequenceMode SequenceMode() const { return sequenceMode_; }
    bool ScrollableCursor() const { return scrollableCursor_; }

protected:
    TOraDataSet* OraDataSet() const;

private:
    std::vector<AnsiString> dictionarySQL_;
    AnsiString keySequence_;
    TSequenceMode sequenceMode_ = smPost;
    bool scrollableCursor_ = false;
};

class TOraDataSetService : public TCustomOraDataSetService {
public:
    explicit TOraDataSetService(TMemDataSet* dataSet) : TCustomOraDataSetService(dataSet) {}
    db::TFieldClass GetFieldClass(db::TFieldType fieldType) override;
    void MakeUpdater() override;
    std::unique_ptr<TDASQLGenerator> CreateSQLGenerator() override;
};

// The record-count statement of a query: the ORDER BY list removed, the text cut at a FOR UPDATE
// clause of the outer statement, the rest counted.
AnsiString OraRecordCountSQL(const AnsiString& finalSQL);

// The Oracle dataset on a session: TOCIRecordSet underneath, TOraSQL as its internal statement.
class TOraDataSet : public TCustomDADataSet {
public:
    explicit TOraDataSet(rtl::TComponent* owner = nullptr);
    ~TOraDataSet() override;

    TOraSession* Session() const { return static_cast<TOraSession*>(Connection()); }
    // Also hands the session to the change-notification component.
    void SetSession(TOraSession* value);
    TOraParams& Params() { return static_cast<TOraParams&>(TCustomDADataSet::Params()); }
    TOraParam* ParamByName(const std::string& name) { return Params().ParamByName(name); }
    TOraDataSetOptions& Options() { return static_cast<TOraDataSetOptions&>(TCustomDADataSet::Options()); }
    TOraDataSetOptionsDS& OptionsDS() { return Options(); }
    TOCIRecordSet* OCIRecordSet() const { return dynamic_cast<TOCIRecordSet*>(GetIRecordSetCR()); }
    TOCICommand* OCICommand() const { return dynamic_cast<TOCICommand*>(GetICommand()); }

    TCheckMode CheckMode() const { return checkMode_; }
    // cmException makes a lock compare the locked row with the record.
    virtual void SetCheckMode(TCheckMode value);
    TSequenceMode SequenceMode() const { return sequenceMode_; }
    virtual void SetSequenceMode(TSequenceMode value);
    const AnsiString& KeySequence() const { return keySequence_; }
    virtual void SetKeySequence(const AnsiString& value);
    void SetNonBlocking(bool value);
    TRefreshMode RefreshMode() const;
    void SetRefreshMode(TRefreshMode value);
    bool ReturnParams() { return Options().ReturnParams; }
    void SetReturnParams(bool value) { Options().ReturnParams = value; }

    bool Fetched() override;
    TDataSetServiceClass GetDataSetServiceClass() override;
    void SetDataSetService(TDataSetService* service) override;
    const TDataTypesMap& GetDataTypesMapClass() override;
    // A BFILE field reads through a TBFileStream.
    rtl::TStream* CreateBlobStream(db::TField* field, db::TBlobStreamMode mode) override;
    // Time stamps, intervals and exact numbers go to the parameter as value objects.
    void AssignFieldValue(TDAParam* param, db::TField* field, bool old) override;
    void SetIRecordSet(TData* recordSet) override;
    void VariantToNativeBuf(const rtl::Variant& value, void*& buffer, TDataType& dataType, TFieldDesc* desc,
                            bool convertStrings) override;
    void CheckFieldCompatibility(db::TField* field, db::TFieldDef* fieldDef) override;
    void AssignTo(rtl::TPersistent* dest) override;
    AnsiString AddWhereToSQL(const AnsiString& sql, const AnsiString& condition) override;
    TSQLParserClass SQLParserClass() override;

    TOraChangeNotification* ChangeNotification() const { return changeNotification_; }
    void SetChangeNotification(TOraChangeNotification* value);
    // Applies a change report to the open rows: a change of a table the dataset reads but does
    // not update refreshes it all; changed rows of its updating table are re-read or removed.
    void ReflectChanges(TNotifyTableChanges* tableChanges);

protected:
    std::unique_ptr<TCustomDASQL> CreateInternalSQL() override;
    std::unique_ptr<TDADataSetOptions> CreateOptions() override;
    void CreateIRecordSet() override;
    void InternalExecute() override;
    void DoAfterScroll() override;
    void InitRecord(db::TRecordBuffer buffer) override;

private:
    // Re-reads the current record from the server, or with appendNew first appends a record for
    // a row the server reports as inserted; false when that cannot be done (no ROWID field of the
    // updating table), and the caller then refreshes the whole dataset once.
    bool ReReadChangedRecord(bool appendNew, const AnsiString& rowId);
    TCheckMode checkMode_ = cmNone;
    TSequenceMode sequenceMode_ = smPost;
    AnsiString keySequence_;
    TOraChangeNotification* changeNotification_ = nullptr;
};

// The query component the services place for SQL on views.
class TOraQuery : public TOraDataSet {
public:
    explicit TOraQuery(rtl::TComponent* owner = nullptr) : TOraDataSet(owner) {}
};

// The update statements of an Oracle dataset.
class TOraUpdateSQL : public TCustomDAUpdateSQL {
public:
    explicit TOraUpdateSQL(rtl::TComponent* owner = nullptr) : TCustomDAUpdateSQL(owner) {}
    std::string DataSetClassName() const override { return "TOraDataSet"; }
    std::string SQLClassName() const override { return "TOraSQL"; }
    bool IsDataSetClass(rtl::TComponent* c) const override {
        return dynamic_cast<TOraDataSet*>(c) != nullptr;
    }
    bool IsSQLClass(rtl::TComponent* c) const override { return dynamic_cast<TOraSQL*>(c) != nullptr; }
};

// A stored procedure or function; its call block is built from the declared parameters, and a
// REF CURSOR output makes Execute open the dataset on the returned rows.
class TOraStoredProc : public TOraDataSet {
public:
    explicit TOraStoredProc(rtl::TComponent* owner = nullptr) : TOraDataSet(owner) {}

    const AnsiString& StoredProcName() const { return storedProcName_; }
    void SetStoredProcName(const AnsiString& value);
    int Overload() const { return overload_; }
    void SetOverload(int value);
    void Prepare() override;
    bool IsProcCall() override { return true; }
    // Builds the call block unless SQL already holds text.
    void PrepareSQL();
    void AssignTo(rtl::TPersistent* dest) override;

protected:
    void BeforeOpenCursor(bool infoQuery) override;
    void DoBeforeExecute() override;
    void DoBeforeInsert() override;
    void DoBeforeEdit() override;
    void DoBeforeDelete() override;

private:
    // Editing a procedure's rows needs somewhere to send them.
    void CheckUpdateKind(TStatementType kind);
    AnsiString storedProcName_;
    int overload_ = 0;
};

}  // namespace dac

#include "dataaccess/components/OraMetaData.h"

// The Oracle connect dialog and server list.
#include "dataaccess/components/OraConnectDialog.h"
#include "dataaccess/components/OraNotify.h"
#include "dataaccess/components/OraSQLGenerator.h"
