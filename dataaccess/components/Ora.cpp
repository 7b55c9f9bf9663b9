// TOraSession and its option objects; the program's session list and the Oracle home.
#include "dataaccess/components/Ora.h"

#include <algorithm>
#include <mutex>

#include "dataaccess/components/OraConnectionPool.h"
#include "dataaccess/oracle/OraCall.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

// The live sessions of the program; the first one made while none was the default is it.
struct SessionList {
    std::recursive_mutex lock;
    std::vector<TOraSession*> items;
    TOraSession* defaultSession = nullptr;
};

SessionList& Sessions() {
    static SessionList list;
    return list;
}

}  // namespace

TOraSession* DefaultSession() {
    std::lock_guard<std::recursive_mutex> g(Sessions().lock);
    return Sessions().defaultSession;
}

int SessionCount() {
    std::lock_guard<std::recursive_mutex> g(Sessions().lock);
    return static_cast<int>(Sessions().items.size());
}

TOraSession* Sessions(int index) {
    std::lock_guard<std::recursive_mutex> g(Sessions().lock);
    return Sessions().items.at(static_cast<size_t>(index));
}

void DisconnectAllSessions() {
    std::lock_guard<std::recursive_mutex> g(Sessions().lock);
    for (auto* s : Sessions().items) {
        try {
            s->Disconnect();
        } catch (...) {
        }
    }
    try {
        ClearAllPools();
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------------------
// Options

TOraSessionOptions::TOraSessionOptions(TOraSession* owner) : TDAConnectionOptions(owner) {
    SetDefaultSortType(stBinary);
}

TOraSession* TOraSessionOptions::session() const {
    return static_cast<TOraSession*>(owner_);
}

void TOraSessionOptions::FieldDefsOutdated() {
    for (int i = 0; i < owner_->DataSetCount(); ++i) owner_->DataSets(i)->FieldDefs().SetUpdated(false);
}

void TOraSessionOptions::SetCharLength(TCharLength value) {
    charLength_ = value;
    SetDriverProp(prCharLength, static_cast<int32_t>(value));
}

void TOraSessionOptions::SetCharset(const AnsiString& value) {
    const AnsiString v = rtl::Trim(value);
    try {
        SetDriverProp(prCharset, v);
    } catch (...) {
        rtl::Variant back;
        if (owner_->GetIConnection() && owner_->GetIConnection()->GetProp(prCharset, back))
            charset_ = back.AsString();
        throw;
    }
    charset_ = v;
}

void TOraSessionOptions::SetUseUnicode(bool value) {
    useUnicode_ = value;
    SetDriverProp(prUseUnicode, value);
}

bool TOraSessionOptions::ConvertEOL() const {
    return owner_->ConvertEOL();
}

void TOraSessionOptions::SetConvertEOL(bool value) {
    owner_->SetConvertEOL(value);
}

AnsiString TOraSessionOptions::DateFormat() {
    rtl::Variant v;
    if (owner_->GetIConnection() && owner_->GetIConnection()->GetProp(prDateFormat, v)) return v.AsString();
    return dateFormat_;
}

void TOraSessionOptions::SetDateFormat(const AnsiString& value) {
    SetDriverProp(prDateFormat, value);
    dateFormat_ = value;
}

AnsiString TOraSessionOptions::DateLanguage() {
    rtl::Variant v;
    if (owner_->GetIConnection() && owner_->GetIConnection()->GetProp(prDateLanguage, v)) return v.AsString();
    return dateLanguage_;
}

void TOraSessionOptions::SetDateLanguage(const AnsiString& value) {
    SetDriverProp(prDateLanguage, value);
    dateLanguage_ = value;
}

void TOraSessionOptions::SetEnableIntegers(bool value) {
    if (value == enableIntegers_) return;
    enableIntegers_ = value;
    SetDriverProp(prEnableIntegers, value);
    FieldDefsOutdated();
}

void TOraSessionOptions::SetEnableLargeint(bool value) {
    if (value == enableLargeint_) return;
    enableLargeint_ = value;
    SetDriverProp(prEnableLargeint, value);
    FieldDefsOutdated();
}

void TOraSessionOptions::SetEnableNumbers(bool value) {
    if (value == enableNumbers_) return;
    enableNumbers_ = value;
    SetDriverProp(prEnableNumbers, value);
    FieldDefsOutdated();
}

void TOraSessionOptions::SetEnableOraTimestamp(bool value) {
    if (value == enableOraTimestamp_) return;
    enableOraTimestamp_ = value;
    SetDriverProp(prUseSQLTimeStamp, !value);
    FieldDefsOutdated();
}

void TOraSessionOptions::SetUseOCI7(bool value) {
    if (value == useOCI7_) return;
    owner_->Disconnect();
    useOCI7_ = value;
    session()->SetOCICallStyle(value ? static_cast<uint8_t>(ocsOCI7)
                                     : static_cast<uint8_t>(OCIDefaultCallStyle));
}

void TOraSessionOptions::SetOptimizerMode(TOptimizerMode value) {
    if (value == optimizerMode_) return;
    optimizerMode_ = value;
    SetDriverProp(prOptimizerMode, static_cast<int32_t>(value));
}

void TOraSessionOptions::SetConnectionTimeout(int value) {
    connectionTimeout_ = value;
    SetDriverProp(prConnectionTimeout, value);
}

void TOraSessionOptions::SetStatementCache(bool value) {
    statementCache_ = value;
    SetDriverProp(prStatementCache, value);
}

void TOraSessionOptions::SetStatementCacheSize(int value) {
    statementCacheSize_ = value;
    SetDriverProp(prStatementCacheSize, value);
}

void TOraSessionOptions::SetClientIdentifier(const AnsiString& value) {
    clientIdentifier_ = value;
    SetDriverProp(prClientIdentifier, value);
}

void TOraSessionOptions::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TOraSessionOptions*>(source);
    if (!src) return rtl::TPersistent::Assign(source);
    TDAConnectionOptions::Assign(source);
    SetCharLength(src->charLength_);
    SetCharset(src->charset_);
    SetUseUnicode(src->useUnicode_);
    SetConvertEOL(src->ConvertEOL());
    SetDateFormat(src->dateFormat_);
    SetDateLanguage(src->dateLanguage_);
    SetEnableIntegers(src->enableIntegers_);
    SetEnableLargeint(src->enableLargeint_);
    SetEnableNumbers(src->enableNumbers_);
    SetEnableOraTimestamp(src->enableOraTimestamp_);
    SetUseOCI7(src->useOCI7_);
    SetOptimizerMode(src->optimizerMode_);
    SetConnectionTimeout(src->connectionTimeout_);
    SetStatementCache(src->statementCache_);
    SetStatementCacheSize(src->statementCacheSize_);
    SetClientIdentifier(src->clientIdentifier_);
}

TOraPoolingOptions::TOraPoolingOptions(TOraSession* owner) : TPoolingOptions(owner) {}

void TOraPoolingOptions::SetPoolType(TOraPoolingType value) {
    if (value == poolType_) return;
    owner_->Disconnect();
    poolType_ = value;
}

void TOraPoolingOptions::SetProxyUsername(const AnsiString& value) {
    if (value == proxyUsername_) return;
    owner_->Disconnect();
    proxyUsername_ = value;
}

void TOraPoolingOptions::SetProxyPassword(const AnsiString& value) {
    if (value == proxyPassword_) return;
    owner_->Disconnect();
    proxyPassword_ = value;
}

void TOraPoolingOptions::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TOraPoolingOptions*>(source);
    if (!src) return rtl::TPersistent::Assign(source);
    TPoolingOptions::Assign(source);
    SetPoolType(src->poolType_);
    SetProxyUsername(src->proxyUsername_);
    SetProxyPassword(src->proxyPassword_);
}

// ---------------------------------------------------------------------------------------------
// TOraSession: construction

TOraSession::TOraSession(rtl::TComponent* owner) : TCustomDAConnection(owner) {
    Construct();
    auto& list = Sessions();
    std::lock_guard<std::recursive_mutex> g(list.lock);
    if (!list.defaultSession) list.defaultSession = this;
    if (!list.items.empty()) homeName_ = list.items.front()->homeName_;
    list.items.push_back(this);
}

TOraSession::~TOraSession() {
    // Registrations made through this session end with it; the components forget it.
    for (TOraChangeNotification* notification : std::vector<TOraChangeNotification*>(changeNotifications_)) {
        try {
            if (notification->Registered()) notification->Unregister(this);
        } catch (...) {
        }
        notification->SetSession(nullptr);
    }
    SetTrace(nullptr);
    Destruct();
    auto& list = Sessions();
    std::lock_guard<std::recursive_mutex> g(list.lock);
    list.items.erase(std::remove(list.items.begin(), list.items.end(), this), list.items.end());
    if (list.defaultSession == this) list.defaultSession = list.items.empty() ? nullptr : list.items.front();
}

std::unique_ptr<TDAConnectionOptions> TOraSession::CreateOptions() {
    return std::make_unique<TOraSessionOptions>(this);
}

std::unique_ptr<TPoolingOptions> TOraSession::CreatePoolingOptions() {
    return std::make_unique<TOraPoolingOptions>(this);
}

TDATransaction* TOraSession::CreateTransaction() {
    auto* t = new TOraTransaction(nullptr);
    t->DefaultCloseAction = taCommit;
    return t;
}

TCustomDASQL* TOraSession::CreateSQL() {
    return new TOraSQL(nullptr);
}

TCRConnectionClass TOraSession::GetConnectionClass() {
    return TCRConnectionClass::Of<TOCIConnection>();
}

TCRCommandClass TOraSession::GetCommandClass() {
    return TCRCommandClass::Of<TOCICommand>();
}

// ---------------------------------------------------------------------------------------------
// Driver connection

void TOraSession::CreateDriverConnection() {
    if (iConnection_) return;
    auto& o = Options();
    std::unique_ptr<TCRConnection> made;
    TOCIConnection* c;
    if (Pooling()) {
        made.reset(TakePooledConnection());
        c = static_cast<TOCIConnection*>(made.get());
        callStyle_ = static_cast<uint8_t>(c->GetOCICallStyle());
    } else {
        made.reset(GetConnectionClass().Create());
        c = static_cast<TOCIConnection*>(made.get());
        c->SetProp(prConnectMode, static_cast<int32_t>(connectMode_));
        c->SetProp(prHomeName, homeName_);
        if (o.UseOCI7())
            c->SetOCICallStyle(ocsOCI7);
        else if (callStyle_ != 0)
            c->SetOCICallStyle(static_cast<TOCICallStyle>(callStyle_));
        c->SetProp(prStatementCache, o.StatementCache());
        c->SetProp(prStatementCacheSize, o.StatementCacheSize());
        c->SetProp(prConnectionTimeout, o.ConnectionTimeout());
        c->SetProp(prOptimizerMode, static_cast<int32_t>(o.OptimizerMode()));
        c->SetProp(prClientIdentifier, o.ClientIdentifier());
        c->SetProp(prSchema, schema_);
        c->SetProp(prUseUnicode, o.UseUnicode());
    }
    c->SetProp(prThreadSafety, threadSafety_);
    c->SetProp(prCharLength, static_cast<int32_t>(o.CharLength()));
    c->SetProp(prCharset, o.Charset());
    if (!o.DateFormat().empty()) c->SetProp(prDateFormat, o.DateFormat());
    if (!o.DateLanguage().empty()) c->SetProp(prDateLanguage, o.DateLanguage());
    c->SetProp(prEnableIntegers, o.EnableIntegers());
    c->SetProp(prEnableLargeint, o.EnableLargeint());
    c->SetProp(prEnableNumbers, o.EnableNumbers());
    c->SetProp(prEnableBCD, o.EnableBCD());
    c->SetProp(prEnableFMTBCD, o.EnableFMTBCD());
    c->SetProp(prUseSQLTimeStamp, !o.EnableOraTimestamp());
    c->SetProp(prDisconnectedMode, o.DisconnectedMode());
    c->SetProp(prAutoCommit, AutoCommit());
    c->SetProp(prConvertEOL, ConvertEOL());
    c->SetProp(prDefaultSortType, static_cast<int32_t>(o.DefaultSortType()));
    c->OnFailover = [this](uint32_t event, uint32_t type, bool& retry) { DoFailover(event, type, retry); };
    c->OnInfoMessage = [this](EOraError& error) {
        if (OnInfoMessage) OnInfoMessage(this, &error);
    };
    SetDriverConnection(std::move(made));
}

TCRConnection* TOraSession::TakePooledConnection() {
    TOraConnectionParameters p;
    auto& po = PoolingOptions();
    auto& o = Options();
    p.PoolType = po.PoolType();
    p.MinPoolSize = po.MinPoolSize;
    p.MaxPoolSize = po.MaxPoolSize;
    p.ConnectionLifetime = po.ConnectionLifetime;
    p.Validate = po.Validate;
    if (!po.ProxyUsername().empty() || !po.ProxyPassword().empty()) {
        p.Username = po.ProxyUsername();
        p.Password = po.ProxyPassword();
        p.ProxyUsername = Username();
        p.ProxyPassword = Password();
    } else {
        p.Username = Username();
        p.Password = Password();
    }
    p.Server = GetServer();
    p.StatementCache = o.StatementCache();
    p.StatementCacheSize = o.StatementCacheSize();
    p.ConnectionTimeout = o.ConnectionTimeout();
    p.OptimizerMode = o.OptimizerMode();
    p.ClientIdentifier = o.ClientIdentifier();
    p.Schema = schema_;
    p.OnError = [this](rtl::Exception* e, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                       TConnLostCause& cause) { DoError(e, fail, reconnect, reexecute, attempt, cause); };
    p.HomeName = homeName_;
    p.UseUnicode = o.UseUnicode();
    p.ConnectMode = connectMode_;
    p.UseOCI7 = o.UseOCI7();
    return TOraConnectionPoolManager::GetPooledConnection(&p, GetSQLMonitorClass());
}

TFailoverState FailoverStateOf(uint32_t event) {
    switch (event) {
        case 1:
            return fsEnd;
        case 2:
            return fsAbort;
        case 4:
            return fsReauth;
        case 8:
            return fsBegin;
        case 16:
            return fsError;
        default:
            return fsUnknown;
    }
}

TFailoverType FailoverTypeOf(uint32_t type) {
    switch (type) {
        case 1:
            return ftNone;
        case 2:
            return ftSession;
        case 4:
            return ftSelect;
        case 8:
            return ftTransaction;
        default:
            return ftUnknown;
    }
}

void TOraSession::DoFailover(uint32_t event, uint32_t type, bool& retry) {
    if (event == 1 && InTransaction()) {
        for (int i = 0; i < ClientCount(); ++i)
            if (auto* ds = dynamic_cast<TCustomDADataSet*>(Clients(i)))
                if (TCRRecordSet* rs = ds->GetIRecordSetCR()) rs->Disconnect();
    }
    if (OnFailover) OnFailover(this, FailoverStateOf(event), FailoverTypeOf(type), retry);
}

// ---------------------------------------------------------------------------------------------
// Connect and disconnect

void TOraSession::SetConnected(bool value) {
    if (ComponentState().Contains(rtl::csLoading)) {
        if (Options().NeverConnect() && !ComponentState().Contains(rtl::csDesigning)) return;
        SetStreamedConnected(value);
        return;
    }
    TCustomDAConnection::SetConnected(value);
}

void TOraSession::DoConnect() {
    SetHomeName(homeName_);
    if (OCIConnection()) OCIConnection()->ProxyConnection = nullptr;
    TCustomDAConnection::DoConnect();
    if (trace_ && trace_->Active) trace_->Start();
    if (OnConnectChange) OnConnectChange(this, true);
}

void TOraSession::DoDisconnect() {
    if (trace_ && trace_->Active && GetConnected()) {
        try {
            trace_->Stop();
        } catch (...) {
            // The disconnect goes on; the server drops its tracing with the session anyway.
        }
    }
    TCustomDAConnection::DoDisconnect();
    if (OnConnectChange) OnConnectChange(this, false);
}

void TOraSession::StartTransaction() {
    StartTransactionEx(TOraIsolationLevel::ilReadCommitted);
}

void TOraSession::StartTransactionEx(TOraIsolationLevel level, const AnsiString& rollbackSegment,
                                     const AnsiString& name) {
    auto* t = static_cast<TOraTransaction*>(DefaultTransaction());
    rtl::Assert(t != nullptr);
    t->SetIsolationLevel(level);
    t->SetRollbackSegment(rollbackSegment);
    t->SetTransactionName(name);
    t->StartTransaction();
}

// ---------------------------------------------------------------------------------------------
// Settings

void TOraSession::SetThreadSafety(bool value) {
    threadSafety_ = value;
    if (iConnection_) iConnection_->SetProp(prThreadSafety, value);
}

void TOraSession::SetConnectMode(TConnectMode value) {
    connectMode_ = value;
    if (iConnection_ && !Pooling()) iConnection_->SetProp(prConnectMode, static_cast<int32_t>(value));
}

void TOraSession::SetAutoCommit(bool value) {
    TCustomDAConnection::SetAutoCommit(value);
}

uint8_t TOraSession::Home() {
    if (OracleHomeCount == 0 && !OCIInitialized) DetectOCI();
    for (int i = 0; i < OracleHomeCount; ++i)
        if (rtl::AnsiCompareText(OracleHomes[i].Name, OracleHomeName) == 0)
            return static_cast<uint8_t>(i + 1);
    return ohDefault;
}

void TOraSession::SetHome(uint8_t value) {
    if (OracleHomeCount == 0 && !OCIInitialized) DetectOCI();
    if (value >= 1 && value <= OracleHomeCount) SetHomeName(OracleHomes[value - 1].Name);
}

void TOraSession::SetHomeName(const AnsiString& value) {
    if (value != OracleHomeName) {
        {
            std::lock_guard<std::recursive_mutex> g(Sessions().lock);
            for (auto* s : Sessions().items)
                if (s != this && s->GetConnected())
                    throw rtl::Exception("Cannot change the Oracle home while another session is connected");
        }
        const bool streamed = StreamedConnected();
        Disconnect();
        DisconnectAllSessions();
        FreeOCI();
        OracleHomeName = value;
        SetStreamedConnected(streamed);
    }
    if (value != homeName_) {
        if (iConnection_) iConnection_->SetProp(prHomeName, value);
        homeName_ = value;
    }
}

AnsiString TOraSession::Schema() {
    if (GetConnected() && !ComponentState().Contains(rtl::csDesigning))
        return OCIConnection()->GetCurrentSchema();
    return schema_;
}

void TOraSession::SetSchema(const AnsiString& value) {
    if (value == schema_) return;
    if (iConnection_) iConnection_->SetProp(prSchema, value);
    schema_ = value;
}

AnsiString TOraSession::GetCachedSchema() {
    return GetConnected() ? OCIConnection()->GetCachedSchema() : AnsiString();
}

uint8_t TOraSession::OCICallStyle() {
    if (OCIConnection()) callStyle_ = static_cast<uint8_t>(OCIConnection()->GetOCICallStyle());
    return callStyle_;
}

void TOraSession::SetOCICallStyle(uint8_t value) {
    if (iConnection_ && value != OCICallStyle()) {
        Disconnect();
        OCIConnection()->SetOCICallStyle(static_cast<TOCICallStyle>(value));
    }
    callStyle_ = value;
}

int TOraSession::OracleVersion() {
    return GetConnected() ? OCIConnection()->GetOracleVersion() : 0;
}

namespace {

AnsiString ConnectPart(const AnsiString& value) {
    if (OCISQLInfo().IsQuoted(value) || value.find_first_of(" /@") == AnsiString::npos) return value;
    return OCISQLInfo().Quote(rtl::AnsiUpperCase(value), '"', '"');
}

}  // namespace

AnsiString TOraSession::GetConnectString() {
    AnsiString s = ConnectPart(Username());
    if (!Password().empty()) s += "/" + ConnectPart(Password());
    if (!GetServer().empty()) {
        AnsiString server = GetServer();
        if (server.find(' ') != AnsiString::npos) server = "\"" + server + "\"";
        s += "@" + server;
    }
    if (s.empty() && connectMode_ != cmNormal) s = "/";
    switch (connectMode_) {
        case cmSysOper:
            s += " AS SYSOPER";
            break;
        case cmSysDBA:
            s += " AS SYSDBA";
            break;
        case cmSysASM:
            s += " AS SYSASM";
            break;
        default:
            break;
    }
    return s;
}

void TOraSession::SetConnectString(const AnsiString& value) {
    if (value == GetConnectString()) return;
    Disconnect();
    AnsiString user, password, server;
    TConnectMode mode = cmNormal;
    ParseConnectString(value, user, password, server, mode);
    SetUsername(user);
    SetPassword(password);
    SetServer(server);
    SetConnectMode(mode);
}

void TOraSession::AssignConnectParams(TCustomDAConnection* source) {
    TCustomDAConnection::AssignConnectParams(source);
    if (auto* s = dynamic_cast<TOraSession*>(source)) SetSchema(s->schema_);
}

void TOraSession::AssignTo(rtl::TPersistent* dest) {
    TCustomDAConnection::AssignTo(dest);
    if (auto* d = dynamic_cast<TOraSession*>(dest)) {
        d->SetHomeName(homeName_);
        d->SetSchema(schema_);
        d->SetThreadSafety(threadSafety_);
        d->SetConnectMode(connectMode_);
    }
}

void TOraSession::SetTrace(TOraTrace* value) {
    if (value == trace_) return;
    if (value) {
        value->SetSession(this);
        return;
    }
    TOraTrace* old = trace_;
    old->SetSession(nullptr);
}

}  // namespace dac
