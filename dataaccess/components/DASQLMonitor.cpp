// The SQL monitor component: trace texts, outlets and the class-level notification routines.
#include "dataaccess/components/DASQLMonitor.h"

#include <chrono>
#include <thread>

#include "dataaccess/components/DBAccess.h"
#include "dataaccess/components/Ora.h"
#include "dataaccess/core/CRConnectionPool.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace dac {

TSQLDialogHook SQLDialogHook = nullptr;
TCallStackHook CallStackHook = nullptr;
TExternalMonitorFactory ExternalMonitorFactory;

namespace {

const char* const CRLF = "\r\n";

std::atomic<TSocketMonitor*> testSocketMonitor{nullptr};

TSocketMonitor& SocketMonitor() {
    if (auto* m = testSocketMonitor.load()) return *m;
    return GetSocketMonitor();
}

// Notices of this thread that hold a monitor: a monitor destroyed from inside its own notice
// does not wait for itself.
thread_local int threadUses = 0;

// Holds the class's monitor for one notice, so that it is not destroyed meanwhile.
class MonitorUse {
public:
    explicit MonitorUse(TDASQLMonitorClass cls) {
        if (!cls || !cls->Records || !cls->Monitor.load(std::memory_order_acquire)) return;
        cls_ = cls;
        cls->Users.fetch_add(1);
        ++threadUses;
        monitor_ = cls->Monitor.load();
    }
    ~MonitorUse() {
        if (!cls_) return;
        --threadUses;
        cls_->Users.fetch_sub(1);
    }
    MonitorUse(const MonitorUse&) = delete;
    MonitorUse& operator=(const MonitorUse&) = delete;
    TCustomDASQLMonitor* get() const { return monitor_; }
    explicit operator bool() const { return monitor_ != nullptr; }
    TCustomDASQLMonitor* operator->() const { return monitor_; }

private:
    TDASQLMonitorClass cls_ = nullptr;
    TCustomDASQLMonitor* monitor_ = nullptr;
};

AnsiString Hex8(const void* p) {
    return rtl::IntToHex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)), 8);
}

int32_t IdOf(const void* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
}

WideString W(const AnsiString& s) {
    return rtl::AnsiToWide(s);
}

TCustomDAConnection* ConnectionOf(rtl::TObject* obj) {
    if (auto* sql = dynamic_cast<TCustomDASQL*>(obj)) return sql->Connection();
    if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->Connection();
    return nullptr;
}

bool DebugOf(rtl::TObject* obj) {
    if (auto* sql = dynamic_cast<TCustomDASQL*>(obj)) return sql->Debug;
    if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->Debug();
    return false;
}

AnsiString UserAtServer(rtl::TObject* obj) {
    auto* c = dynamic_cast<TCustomDAConnection*>(obj);
    return c ? c->Username() + "@" + c->GetServer() : AnsiString();
}

void DialogFallback(rtl::TObject* component, const AnsiString& sql, const AnsiString& name,
                    TDAParams* params) {
    if (SQLDialogHook && DebugOf(component)) SQLDialogHook(component, sql, name, params);
}

TDATraceFlags TraceFlagsOf(uint16_t bits) {
    TDATraceFlags flags;
    for (int i = tfQPrepare; i <= tfPool; ++i)
        if (bits & (1u << i)) flags.Include(static_cast<TDATraceFlag>(i));
    return flags;
}

bool IsTextType(db::TFieldType t) {
    return t == db::ftString || t == db::ftFixedChar || t == db::ftWideString || t == db::ftFixedWideChar;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Classes

TDASQLMonitorClass CustomDASQLMonitorClass() {
    static TDASQLMonitorClassInfo info{"TCustomDASQLMonitor", false};
    return &info;
}

TDASQLMonitorClass OraSQLMonitorClass() {
    static TDASQLMonitorClassInfo info{"TOraSQLMonitor", true};
    return &info;
}

void SetSocketMonitorForTests(TSocketMonitor* monitor) {
    testSocketMonitor.store(monitor);
}

// ---------------------------------------------------------------------------------------------
// TSocketMonitorOptions

void TSocketMonitorOptions::Assign(rtl::TPersistent* source) {
    if (auto* s = dynamic_cast<TSocketMonitorOptions*>(source)) {
        Host = s->Host;
        Port = s->Port;
        ReconnectTimeout = s->ReconnectTimeout;
        SendTimeout = s->SendTimeout;
        return;
    }
    rtl::TPersistent::Assign(source);
}

void TSocketMonitorOptions::AssignTo(rtl::TPersistent* dest) {
    if (auto* d = dynamic_cast<TSocketMonitorOptions*>(dest)) d->Assign(this);
}

// ---------------------------------------------------------------------------------------------
// Life

TCustomDASQLMonitor::TCustomDASQLMonitor(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TCustomDASQLMonitor::~TCustomDASQLMonitor() {
    try {
        SetActive(false);
    } catch (...) {
    }
    UnregisterCOMClient();
}

void TCustomDASQLMonitor::RecordAsClassMonitor() {
    TCustomDASQLMonitor* none = nullptr;
    MonitorClass()->Monitor.compare_exchange_strong(none, this);
    // A monitor read with its owner activates when it is loaded.
    rtl::TComponent* owner = Owner();
    if (owner && (owner->ComponentState().Contains(rtl::csLoading) ||
                  owner->ComponentState().Contains(rtl::csReading)))
        return;
    SetActive(true);
}

void TCustomDASQLMonitor::Loaded() {
    rtl::TComponent::Loaded();
    SetActive(streamedActive_);
}

TCustomDASQLMonitor* TCustomDASQLMonitor::GetMonitor(TDASQLMonitorClass cls) {
    return cls && cls->Records ? cls->Monitor.load() : nullptr;
}

bool TCustomDASQLMonitor::HasMonitor(TDASQLMonitorClass cls) {
    return GetMonitor(cls) != nullptr;
}

TOraSQLMonitor::TOraSQLMonitor(rtl::TComponent* owner) : TCustomDASQLMonitor(owner) {
    RecordAsClassMonitor();
}

TOraSQLMonitor::~TOraSQLMonitor() {
    auto* cls = MonitorClass();
    TCustomDASQLMonitor* self = this;
    if (cls->Monitor.compare_exchange_strong(self, nullptr)) {
        // Notices already running on other threads finish before the monitor goes.
        while (cls->Users.load() > threadUses) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    try {
        SetActive(false);
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

void TCustomDASQLMonitor::SetActive(bool value) {
    streamedActive_ = value;
    if (ComponentState().Contains(rtl::csReading) || ComponentState().Contains(rtl::csLoading)) return;
    if (value == active_) return;
    active_ = value;
    if (options_.Contains(moSQLMonitor)) {
        if (value)
            RegisterCOMClient();
        else
            UnregisterCOMClient();
    }
    if (options_.Contains(moSocketMonitor)) {
        if (value)
            StartSocketMonitor();
        else
            StopSocketMonitor();
    }
}

void TCustomDASQLMonitor::StartSocketMonitor() {
    socketMonitor_ = &SocketMonitor();
    socketMonitor_->SetCaption(W(GetCaption()));
    socketMonitor_->SetHost(socketMonitorOptions_.Host);
    socketMonitor_->SetPort(socketMonitorOptions_.Port);
    socketMonitor_->SetReconnectTimeout(socketMonitorOptions_.ReconnectTimeout);
    socketMonitor_->SetSendTimeout(socketMonitorOptions_.SendTimeout);
    try {
        socketMonitor_->SendStartup();
    } catch (const rtl::EAbort&) {
    }
}

void TCustomDASQLMonitor::StopSocketMonitor() {
    if (!socketMonitor_) return;
    try {
        socketMonitor_->SendFinished();
    } catch (const rtl::EAbort&) {
    }
    socketMonitor_ = nullptr;
}

void TCustomDASQLMonitor::SetOptions(TMonitorOptions value) {
    if (value == options_) return;
    if (active_) {
        const bool comWas = options_.Contains(moSQLMonitor), comNow = value.Contains(moSQLMonitor);
        if (comNow && !comWas) RegisterCOMClient();
        if (!comNow && comWas) UnregisterCOMClient();
        const bool sockWas = options_.Contains(moSocketMonitor), sockNow = value.Contains(moSocketMonitor);
        if (sockNow && !sockWas) StartSocketMonitor();
        if (!sockNow && sockWas) StopSocketMonitor();
    }
    options_ = value;
}

void TCustomDASQLMonitor::RegisterCOMClient() {
    if (registered_ || GetMonitor(MonitorClass()) != this || !ExternalMonitorFactory) return;
    std::unique_ptr<IExternalMonitorClient> client;
    try {
        client = ExternalMonitorFactory();
    } catch (...) {
        return;
    }
    if (!client) return;
    AnsiString name = ApplicationTitle();
    if (ComponentState().Contains(rtl::csDesigning)) name += ": " + GetCaption();
    try {
        if (!client->RegisterClient(this, name, this,
                                    [this](uint16_t flags) { traceFlags_.store(TraceFlagsOf(flags)); }))
            return;
    } catch (...) {
        return;
    }
    comClient_ = std::move(client);
    registered_ = true;
}

void TCustomDASQLMonitor::UnregisterCOMClient() {
    comClient_.reset();
    registered_ = false;
}

AnsiString TCustomDASQLMonitor::GetCaption() {
    return "DataAccess";
}

// ---------------------------------------------------------------------------------------------
// Objects

rtl::TObject* TCustomDASQLMonitor::GetParent(rtl::TObject* obj) {
    if (auto* t = dynamic_cast<TDATransaction*>(obj))
        return t->ConnectionCount() > 0 ? t->Connections(0) : nullptr;
    if (auto* c = ConnectionOf(obj)) return c;
    if (auto* p = dynamic_cast<TCRConnectionPool*>(obj)) return p->Manager();
    return nullptr;
}

int TCustomDASQLMonitor::GetObjectType(rtl::TObject* obj) {
    if (dynamic_cast<TCustomDAConnection*>(obj)) return 1;
    if (dynamic_cast<TDATransaction*>(obj)) return 2;
    if (dynamic_cast<TCustomDASQL*>(obj)) return 3;
    if (dynamic_cast<TCustomDADataSet*>(obj)) return 4;
    if (dynamic_cast<TCRConnectionPool*>(obj) || dynamic_cast<TCRConnectionPoolManager*>(obj)) return 5;
    return 0;
}

AnsiString TCustomDASQLMonitor::ObjectName(rtl::TObject* obj) {
    if (!obj) return AnsiString();
    auto* c = dynamic_cast<rtl::TComponent*>(obj);
    if (c && !c->Name().empty()) return c->Name();
    return obj->ClassName() + " ($" + Hex8(obj) + ")";
}

AnsiString TCustomDASQLMonitor::ObjectDescription(rtl::TObject* obj) {
    if (!options_.Contains(moHandled)) return AnsiString();
    auto* comp = dynamic_cast<rtl::TComponent*>(obj);
    AnsiString d = " [" + (comp ? comp->Name() : AnsiString()) + "$" + Hex8(obj);
    if (dynamic_cast<TCustomDASQL*>(obj) || dynamic_cast<TCustomDADataSet*>(obj)) {
        TCustomDAConnection* c = ConnectionOf(obj);
        d += "; " + (c ? c->Name() : AnsiString()) + "$" + Hex8(c);
    }
    return d + "] ";
}

// ---------------------------------------------------------------------------------------------
// Parameters

AnsiString TCustomDASQLMonitor::GetParamParamType(db::TParam* param) {
    switch (param->ParamType()) {
        case db::ptInput:
            return "IN";
        case db::ptOutput:
            return "OUT";
        case db::ptInputOutput:
            return "IN/OUT";
        case db::ptResult:
            return "RESULT";
        default:
            return AnsiString();
    }
}

AnsiString TCustomDASQLMonitor::GetParamDataType(db::TParam* param) {
    AnsiString s = db::FieldTypeName(param->DataType());
    if (IsTextType(param->DataType())) s += "[" + std::to_string(param->AsString().size()) + "]";
    return s;
}

AnsiString TCustomDASQLMonitor::GetParamValue(db::TParam* param) {
    auto* da = dynamic_cast<TDAParam*>(param);
    if (da ? da->IsNull() : param->IsNull()) return "<NULL>";
    const db::TFieldType t = param->DataType();
    switch (t) {
        case db::ftDate:
            return rtl::DateToStr(param->AsDateTime());
        case db::ftDateTime:
            return rtl::DateTimeToStr(param->AsDateTime());
        case db::ftBytes:
        case db::ftVarBytes:
            return "<BLOB:" + std::to_string(param->AsString().size()) + ">";
        case db::ftBlob:
        case db::ftMemo:
        case db::ftOraBlob:
        case db::ftOraClob:
        case db::ftWideMemo: {
            TBlob* b = da ? da->AsBlobObject() : nullptr;
            const int64_t size = b ? b->GetSize() : static_cast<int64_t>(param->AsString().size());
            return "<BLOB:" + std::to_string(size) + ">";
        }
        case db::ftCursor:
            return "<CURSOR>";
        default:
            break;
    }
    if (IsTextType(t)) return "'" + param->AsString() + "'";
    return param->AsString();
}

AnsiString TCustomDASQLMonitor::ParamsText(TDAParams* params, std::vector<TMsgSQLParam>* msgParams) {
    if (!params) return AnsiString();
    AnsiString text;
    for (int i = 0; i < params->Count(); ++i) {
        TDAParam* p = params->Items(i);
        const AnsiString dataType = GetParamDataType(p);
        const AnsiString paramType = GetParamParamType(p);
        const AnsiString value = GetParamValue(p);
        AnsiString kinds = dataType;
        if (!paramType.empty()) kinds += (kinds.empty() ? "" : ",") + paramType;
        text += ":" + p->Name() + "(" + kinds + ")";
        if (!value.empty()) text += "=" + value;
        text += " \r\n";
        if (msgParams) msgParams->push_back({W(p->Name()), W(dataType), W(paramType), W(value)});
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

// ---------------------------------------------------------------------------------------------
// Outlets

bool TCustomDASQLMonitor::Gate(TDATraceFlag flag) {
    SetActive(streamedActive_);
    return active_ && TraceFlags().Contains(flag);
}

void TCustomDASQLMonitor::SendCOM(const AnsiString& text) {
    if (options_.Contains(moSQLMonitor) && comClient_) comClient_->SendText(text);
}

void TCustomDASQLMonitor::SendOnSQL(const AnsiString& text, TDATraceFlag flag) {
    if (OnSQL) OnSQL(this, text, flag);
}

void TCustomDASQLMonitor::SendDialog(rtl::TObject* obj, const AnsiString& sql, const AnsiString& name,
                                     TDAParams* params) {
    if (!options_.Contains(moDialog) || !SQLDialogHook) return;
    if ((options_.Contains(moCustom) || ComponentState().Contains(rtl::csDesigning)) && !DebugOf(obj)) return;
    SQLDialogHook(obj, sql, name, params);
}

void TCustomDASQLMonitor::SendDB(int kind, rtl::TObject* obj, bool isStart, int& eventID,
                                 const AnsiString& description, const AnsiString& sql,
                                 std::vector<TMsgSQLParam> params, bool failed, const AnsiString& errorText) {
    if (!options_.Contains(moSocketMonitor) || !socketMonitor_) return;
    TMonitorEvent e;
    e.EventID = eventID;
    e.EventType = kind;
    if (isStart && obj) {
        e.ObjectID = IdOf(obj);
        e.ObjectName = W(ObjectName(obj));
        e.ObjectType = GetObjectType(obj);
        e.ObjectTypeName = W(obj->ClassName());
        if (kind != etDestroy) {
            if (rtl::TObject* parent = GetParent(obj)) {
                e.ParentID = IdOf(parent);
                e.ParentName = W(ObjectName(parent));
                e.ParentType = GetObjectType(parent);
                e.ParentTypeName = W(parent->ClassName());
            }
        }
    }
    e.Description = W(description);
    e.SQL = W(sql);
    e.Params = std::move(params);
    e.Failed = failed;
    e.ErrorText = W(errorText);
    if (!isStart && kind == etExecute) {
        if (auto* s = dynamic_cast<TCustomDASQL*>(obj))
            e.RowsAffected = TDBAccessUtils::GetRowsProcessed(s);
        else if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj))
            e.RowsAffected = ds->RowsAffected();
    }
    if (CallStackHook) CallStackHook(e.CallStack);
    try {
        if (isStart) {
            socketMonitor_->SendEventStart(e);
            eventID = e.EventID;
        } else {
            socketMonitor_->SendEventEnd(e);
        }
    } catch (const rtl::EAbort&) {
    }
}

// ---------------------------------------------------------------------------------------------
// Notices

void TCustomDASQLMonitor::Prepare(rtl::TObject* obj, const AnsiString& sql, int& eventID, bool isStart,
                                  TDAParams* params) {
    if (isStart) SendDialog(obj, sql, "Prepare", params);
    if (!Gate(tfQPrepare)) return;
    const AnsiString d = ObjectDescription(obj);
    std::vector<TMsgSQLParam> msgParams;
    const AnsiString p = ParamsText(params, &msgParams);
    if (isStart) {
        SendCOM("SQL Prepare" + d + ": " + sql);
        if (TraceFlags().Contains(tfParams) && !p.empty()) SendCOM(p);
    }
    SendDB(etPrepare, obj, isStart, eventID, "SQL Prepare" + d + ": " + sql + CRLF + p, sql,
           std::move(msgParams));
    if (isStart) SendOnSQL("Prepare: " + sql + (p.empty() ? AnsiString() : CRLF + p), tfQPrepare);
}

void TCustomDASQLMonitor::Unprepare(rtl::TObject* obj, const AnsiString& sql, int& eventID, bool isStart,
                                    TDAParams* params) {
    if (isStart) SendDialog(obj, sql, "Unprepare", params);
    if (!Gate(tfQPrepare)) return;
    const AnsiString d = ObjectDescription(obj);
    std::vector<TMsgSQLParam> msgParams;
    const AnsiString p = ParamsText(params, &msgParams);
    SendCOM("SQL Unprepare" + d + ": " + sql);
    if (TraceFlags().Contains(tfParams) && !p.empty()) SendCOM(p);
    SendDB(etUnprepare, obj, isStart, eventID, "SQL Unprepare" + d + ": " + sql + CRLF + p, sql,
           std::move(msgParams));
    if (isStart) SendOnSQL("Unprepare: " + sql + (p.empty() ? AnsiString() : CRLF + p), tfQPrepare);
}

void TCustomDASQLMonitor::SQLExecute(rtl::TObject* obj, const AnsiString& sql, int& eventID, bool isStart,
                                     const AnsiString& name, TDAParams* params) {
    if (isStart) SendDialog(obj, sql, name.empty() ? AnsiString("Execute") : name, params);
    if (!Gate(tfQExecute)) return;
    const AnsiString d = ObjectDescription(obj);
    std::vector<TMsgSQLParam> msgParams;
    const AnsiString p = ParamsText(params, &msgParams);
    if (isStart) {
        SendCOM("SQL Execute" + (name.empty() ? AnsiString() : " [" + name + "]") + d + ": " + sql);
        if (TraceFlags().Contains(tfParams) && !p.empty()) SendCOM(p);
    }
    SendDB(etExecute, obj, isStart, eventID, "SQL Execute" + d + ": " + sql + CRLF + p, sql,
           std::move(msgParams));
    if (isStart) SendOnSQL(sql + (p.empty() ? AnsiString() : CRLF + p), tfQExecute);
}

void TCustomDASQLMonitor::ConnectNotice(rtl::TObject* obj, const char* word, int kind, bool isStart,
                                        int& eventID) {
    if (!Gate(tfConnect)) return;
    const AnsiString text = word + UserAtServer(obj) + ObjectDescription(obj);
    if (isStart) SendCOM(text);
    AnsiString sql;
    if (kind == etConnect) {
        auto* c = dynamic_cast<TCustomDAConnection*>(obj);
        sql = rtl::Format("Username=%s\r\nServer=%s",
                          {c ? c->Username() : AnsiString(), c ? c->GetServer() : AnsiString()});
    }
    SendDB(kind, obj, isStart, eventID, text, sql, {});
    if (isStart) SendOnSQL(text, tfConnect);
}

void TCustomDASQLMonitor::Connect(rtl::TObject* obj, int& eventID, bool isStart) {
    ConnectNotice(obj, "Connect: ", etConnect, isStart, eventID);
}

void TCustomDASQLMonitor::Disconnect(rtl::TObject* obj, int& eventID, bool isStart) {
    ConnectNotice(obj, "Disconnect: ", etDisconnect, isStart, eventID);
}

void TCustomDASQLMonitor::TRNotice(rtl::TObject* obj, const char* word, int kind, bool isStart,
                                   int& eventID) {
    if (!Gate(tfTransact)) return;
    const AnsiString text = word + UserAtServer(obj) + ObjectDescription(obj);
    if (isStart) SendCOM(text);
    SendDB(kind, obj, isStart, eventID, text, AnsiString(), {});
    if (isStart) SendOnSQL(text, tfTransact);
}

void TCustomDASQLMonitor::TRStart(rtl::TObject* obj, bool isStart, int& eventID) {
    TRNotice(obj, "Start: ", etStart, isStart, eventID);
}

void TCustomDASQLMonitor::TRCommit(rtl::TObject* obj, bool isStart, int& eventID) {
    TRNotice(obj, "Commit: ", etCommit, isStart, eventID);
}

void TCustomDASQLMonitor::TRRollback(rtl::TObject* obj, bool isStart, int& eventID) {
    TRNotice(obj, "Rollback: ", etRollback, isStart, eventID);
}

void TCustomDASQLMonitor::TRSavepoint(rtl::TObject* obj, const AnsiString& kind, const AnsiString& name,
                                      bool isStart, int& eventID) {
    if (!Gate(tfTransact)) return;
    const AnsiString text = kind + " " + name + " " + ObjectDescription(obj);
    SendCOM(text);
    SendDB(etSavepoint, obj, isStart, eventID, text, AnsiString(), {});
    SendOnSQL(text, tfTransact);
}

void TCustomDASQLMonitor::TRRetaining(rtl::TObject* obj, bool commit, bool isStart, int& eventID) {
    if (!Gate(tfTransact)) return;
    const AnsiString text = (commit ? "CommitRetaining: " : "RollbackRetaining: ") + ObjectDescription(obj);
    if (isStart) SendCOM(text);
    SendDB(commit ? etCommit : etRollback, obj, isStart, eventID, text, AnsiString(), {});
    if (isStart) SendOnSQL(text, tfTransact);
}

void TCustomDASQLMonitor::Error(const rtl::Exception& error) {
    if (!Gate(tfError)) return;
    const AnsiString text = "Error: " + error.Message();
    SendCOM(text);
    int id = 0;
    SendDB(etError, nullptr, false, id, text, AnsiString(), {}, true, error.Message());
    SendOnSQL(text, tfError);
}

void TCustomDASQLMonitor::ObjDestroyed(rtl::TObject* obj) {
    if (!Gate(tfObjDestroy)) return;
    const AnsiString text = "Object destroyed: " + ObjectName(obj);
    SendCOM(text);
    int id = 0;
    SendDB(etDestroy, obj, true, id, text, AnsiString(), {});
    SendDB(etDestroy, obj, false, id, text, AnsiString(), {});
    SendOnSQL(text, tfObjDestroy);
}

void TCustomDASQLMonitor::Pool(rtl::TObject* pool, const AnsiString& text, bool withParameters,
                               bool withCount) {
    if (!Gate(tfPool)) return;
    auto* p = dynamic_cast<TCRConnectionPool*>(pool);
    AnsiString t = text;
    if (withCount && p) t += rtl::Format(". Pool has %d connection(s)", {p->GetTotalConnectionsCount()});
    t += ObjectDescription(pool);
    SendCOM(t);
    const AnsiString sql = withParameters && p ? p->Parameters().AsString() : AnsiString();
    int id = 0;
    SendDB(etPool, pool, true, id, t, sql, {});
    SendDB(etPool, pool, false, id, t, sql, {});
    SendOnSQL(t, tfPool);
}

// ---------------------------------------------------------------------------------------------
// Class-level routines

void TCustomDASQLMonitor::ObjPrepare(TDASQLMonitorClass cls, rtl::TObject* component, const AnsiString& sql,
                                     bool isStart, int& eventID, TDAParams* params) {
    if (MonitorUse m{cls})
        m->Prepare(component, sql, eventID, isStart, params);
    else if (isStart)
        DialogFallback(component, sql, "Prepare", params);
}

void TCustomDASQLMonitor::ObjUnprepare(TDASQLMonitorClass cls, rtl::TObject* component, const AnsiString& sql,
                                       bool isStart, int& eventID, TDAParams* params) {
    if (MonitorUse m{cls})
        m->Unprepare(component, sql, eventID, isStart, params);
    else if (isStart)
        DialogFallback(component, sql, "Unprepare", params);
}

void TCustomDASQLMonitor::SQLExecute(TDASQLMonitorClass cls, rtl::TObject* component, const AnsiString& sql,
                                     bool isStart, int& eventID, const AnsiString& name, TDAParams* params) {
    if (MonitorUse m{cls})
        m->SQLExecute(component, sql, eventID, isStart, name, params);
    else if (isStart)
        DialogFallback(component, sql, name.empty() ? AnsiString("Execute") : name, params);
}

void TCustomDASQLMonitor::DBConnect(TDASQLMonitorClass cls, rtl::TObject* connection, int& eventID,
                                    bool isStart) {
    if (MonitorUse m{cls}) m->Connect(connection, eventID, isStart);
}

void TCustomDASQLMonitor::DBDisconnect(TDASQLMonitorClass cls, rtl::TObject* connection, int& eventID,
                                       bool isStart) {
    if (MonitorUse m{cls}) m->Disconnect(connection, eventID, isStart);
}

void TCustomDASQLMonitor::TRStart(TDASQLMonitorClass cls, rtl::TObject* obj, bool isStart, int& eventID) {
    if (MonitorUse m{cls}) m->TRStart(obj, isStart, eventID);
}

void TCustomDASQLMonitor::TRCommit(TDASQLMonitorClass cls, rtl::TObject* obj, bool isStart, int& eventID) {
    if (MonitorUse m{cls}) m->TRCommit(obj, isStart, eventID);
}

void TCustomDASQLMonitor::TRRollback(TDASQLMonitorClass cls, rtl::TObject* obj, bool isStart, int& eventID) {
    if (MonitorUse m{cls}) m->TRRollback(obj, isStart, eventID);
}

void TCustomDASQLMonitor::TRSavepoint(TDASQLMonitorClass cls, rtl::TObject* transaction,
                                      const AnsiString& savepoint, bool isStart, int& eventID) {
    if (MonitorUse m{cls}) m->TRSavepoint(transaction, "Savepoint", savepoint, isStart, eventID);
}

void TCustomDASQLMonitor::TRRollbackToSavepoint(TDASQLMonitorClass cls, rtl::TObject* transaction,
                                                const AnsiString& savepoint, bool isStart, int& eventID) {
    if (MonitorUse m{cls}) m->TRSavepoint(transaction, "Rollback to savepoint", savepoint, isStart, eventID);
}

void TCustomDASQLMonitor::TRReleaseSavepoint(TDASQLMonitorClass cls, rtl::TObject* transaction,
                                             const AnsiString& savepoint, bool isStart, int& eventID) {
    if (MonitorUse m{cls}) m->TRSavepoint(transaction, "Release savepoint", savepoint, isStart, eventID);
}

void TCustomDASQLMonitor::TRCommitRetaining(TDASQLMonitorClass cls, rtl::TObject* transaction, int& eventID,
                                            bool isStart) {
    if (MonitorUse m{cls}) m->TRRetaining(transaction, true, isStart, eventID);
}

void TCustomDASQLMonitor::TRRollbackRetaining(TDASQLMonitorClass cls, rtl::TObject* transaction, int& eventID,
                                              bool isStart) {
    if (MonitorUse m{cls}) m->TRRetaining(transaction, false, isStart, eventID);
}

void TCustomDASQLMonitor::DBError(TDASQLMonitorClass cls, const rtl::Exception& error) {
    if (MonitorUse m{cls}) m->Error(error);
}

void TCustomDASQLMonitor::ObjectDestroyed(TDASQLMonitorClass cls, rtl::TObject* component) {
    if (MonitorUse m{cls}) m->ObjDestroyed(component);
}

void TCustomDASQLMonitor::PoolNotice(TDASQLMonitorClass cls, rtl::TObject* pool, const AnsiString& text,
                                     bool withParameters, bool withCount) {
    if (MonitorUse m{cls}) m->Pool(pool, text, withParameters, withCount);
}

// ---------------------------------------------------------------------------------------------
// Component side

namespace {

TDASQLMonitorClass ClassOf(TCustomDAConnection* c) {
    return c ? c->GetSQLMonitorClass() : nullptr;
}

// Whether a statement notice has anywhere to go; checked before its texts are built.
bool StatementWanted(TDASQLMonitorClass cls, bool debug) {
    return TCustomDASQLMonitor::HasMonitor(cls) || (debug && SQLDialogHook);
}

}  // namespace

void NotifySQL(TCustomDASQL* sql, const char* name, bool isStart, int& eventID) {
    if (sql->NoMonitor) return;
    TDASQLMonitorClass cls = ClassOf(sql->UsedConnection());
    if (!StatementWanted(cls, sql->Debug)) return;
    TDAParams* params = &sql->Params();
    if (name[0] == 'P')
        TCustomDASQLMonitor::ObjPrepare(cls, sql, sql->GetFinalSQL(), isStart, eventID, params);
    else
        TCustomDASQLMonitor::SQLExecute(cls, sql, sql->GetFinalSQL(), isStart, eventID, name, params);
}

void NotifyDataSet(TCustomDADataSet* ds, const char* what, bool isStart, int& eventID) {
    TDASQLMonitorClass cls = ClassOf(ds->UsedConnection());
    if (!StatementWanted(cls, ds->Debug())) return;
    const AnsiString w = what;
    TDAParams* params = &ds->Params();
    if (w == "Prepare")
        TCustomDASQLMonitor::ObjPrepare(cls, ds, ds->GetFinalSQL(), isStart, eventID, params);
    else if (w == "Unprepare")
        TCustomDASQLMonitor::ObjUnprepare(cls, ds, ds->GetFinalSQL(), isStart, eventID, params);
    else
        TCustomDASQLMonitor::SQLExecute(cls, ds, ds->GetFinalSQL(), isStart, eventID, w, params);
}

void NotifyConnect(TCustomDAConnection* c, bool connect, bool isStart, int& eventID) {
    TDASQLMonitorClass cls = ClassOf(c);
    if (!TCustomDASQLMonitor::HasMonitor(cls)) return;
    if (connect)
        TCustomDASQLMonitor::DBConnect(cls, c, eventID, isStart);
    else
        TCustomDASQLMonitor::DBDisconnect(cls, c, eventID, isStart);
}

void NotifyError(TCustomDAConnection* c, const rtl::Exception& error) {
    TDASQLMonitorClass cls = ClassOf(c);
    if (TCustomDASQLMonitor::HasMonitor(cls)) TCustomDASQLMonitor::DBError(cls, error);
}

void NotifyTransaction(TDATransaction* t, TTransactionNotice notice, bool isStart, int& eventID,
                       const AnsiString& savepoint) {
    TCustomDAConnection* c = t->DefaultConnection();
    if (!c && t->ConnectionCount() > 0) c = t->Connections(0);
    TDASQLMonitorClass cls = ClassOf(c);
    if (!TCustomDASQLMonitor::HasMonitor(cls)) return;
    switch (notice) {
        case tnStart:
            return TCustomDASQLMonitor::TRStart(cls, t, isStart, eventID);
        case tnCommit:
            return TCustomDASQLMonitor::TRCommit(cls, t, isStart, eventID);
        case tnRollback:
            return TCustomDASQLMonitor::TRRollback(cls, t, isStart, eventID);
        case tnCommitRetaining:
            return TCustomDASQLMonitor::TRCommitRetaining(cls, t, eventID, isStart);
        case tnRollbackRetaining:
            return TCustomDASQLMonitor::TRRollbackRetaining(cls, t, eventID, isStart);
        case tnSavepoint:
            return TCustomDASQLMonitor::TRSavepoint(cls, t, savepoint, isStart, eventID);
        case tnRollbackToSavepoint:
            return TCustomDASQLMonitor::TRRollbackToSavepoint(cls, t, savepoint, isStart, eventID);
        case tnReleaseSavepoint:
            return TCustomDASQLMonitor::TRReleaseSavepoint(cls, t, savepoint, isStart, eventID);
    }
}

void NotifyDestroyed(TCustomDAConnection* c, rtl::TObject* component) {
    TDASQLMonitorClass cls = ClassOf(c);
    if (TCustomDASQLMonitor::HasMonitor(cls)) TCustomDASQLMonitor::ObjectDestroyed(cls, component);
}

// ---------------------------------------------------------------------------------------------
// Oracle parameter texts

namespace {

const char* const FieldTypeNames[38] = {
    "Unknown", "VARCHAR",   "",         "INTEGER", "",          "BOOLEAN", "FLOAT",    "",
    "",        "DATE",      "TIME",     "DATE",    "",          "",        "",         "BLOB",
    "MEMO",    "",          "",         "",        "",          "",        "CURSOR",   "CHAR",
    "VARCHAR", "INTEGER",   "",         "ARRAY",   "REFERENCE", "DATASET", "HUGEBLOB", "HUGECLOB",
    "VARIANT", "INTERFACE", "DISPATCH", "",        "",          ""};

// ":" and the type of the parameter's object, REF or collection value, shown without the
// identifier quotes the type's name is kept with.
AnsiString ObjectTypeSuffix(TOraParam* param) {
    auto* value = param ? dynamic_cast<TOraObject*>(param->GetParamObject()) : nullptr;
    TOraType* type = value ? value->GetObjectType() : nullptr;
    AnsiString name;
    if (type)
        for (char c : type->Name)
            if (c != '"') name += c;
    return name.empty() ? AnsiString(":unknown") : ":" + name;
}

int CollectionSize(TOraParam* param) {
    auto* value = param ? dynamic_cast<TOraArray*>(param->GetParamObject()) : nullptr;
    return value && value->GetInstance() ? value->GetSize() : 0;
}

}  // namespace

AnsiString TOraSQLMonitor::GetParamDataType(db::TParam* param) {
    const int t = static_cast<int>(param->DataType());
    auto* op = dynamic_cast<TOraParam*>(param);
    AnsiString name;
    switch (t) {
        case 103:
            name = "INTERVAL_YM";
            break;
        case 36:
            name = "TIMESTAMP";
            break;
        case 104:
            name = "INTERVAL_DS";
            break;
        case 105:
            name = "TIMESTAMP_TZ";
            break;
        case 106:
            name = "TIMESTAMP_LTZ";
            break;
        case 107:
            name = "NUMBER";
            break;
        default:
            if (t <= 37) name = FieldTypeNames[t];
            break;
    }
    const AnsiString suffix = ObjectTypeSuffix(op);
    auto sized = [&](const char* base) {
        AnsiString s = base;
        if (op && op->Length() > 1) {
            if (op->GetSize() > 0) s += "[" + std::to_string(op->GetSize()) + "]";
        } else {
            s += "[" + std::to_string(param->AsString().size()) + "]";
        }
        return s;
    };
    switch (t) {
        case 1:
        case 24:
            return sized("VARCHAR");
        case 23:
        case 38:
            return sized("CHAR");
        case 15:
        case 30:
            return "BLOB";
        case 16:
        case 39:
            return "LONG";
        case 22:
            return "CURSOR";
        case 26:
            return "OBJECT" + suffix;
        case 27:
            return "ARRAY" + suffix;
        case 28:
            return "Ref" + suffix;
        case 29:
            return "TABLE" + suffix;
        case 31:
            return "CLOB";
        case 100:
            return "BFILE";
        case 101:
            return "LABEL";
        case 108:
            return "XMLTYPE";
        default:
            return name;
    }
}

AnsiString TOraSQLMonitor::GetParamValue(db::TParam* param) {
    auto* op = dynamic_cast<TOraParam*>(param);
    const int t = static_cast<int>(param->DataType());
    if (op && op->Table()) return "<PL/SQL TABLE[" + std::to_string(op->Length()) + "]>";
    if (op && op->Length() >= 2) return "<ARRAY[" + std::to_string(op->Length()) + "]>";
    if (op ? op->IsNull() : param->IsNull()) return "<NULL>";
    switch (t) {
        case db::ftDate:
            return rtl::DateTimeToStr(param->AsDateTime());
        case db::ftBlob:
        case db::ftMemo:
        case db::ftWideMemo:
            return "<BLOB:" + std::to_string(param->AsString().size()) + ">";
        case db::ftOraBlob:
        case db::ftOraClob: {
            TBlob* b = op ? op->AsBlobObject() : nullptr;
            return "<LOB:" + std::to_string(b ? b->GetSize() : 0) + ">";
        }
        case 100: {
            auto* f = op ? dynamic_cast<TOraFile*>(op->GetParamObject()) : nullptr;
            return "<BFileName('" + (f ? f->GetFileDir() : AnsiString()) + "' ,'" +
                   (f ? f->GetFileName() : AnsiString()) + "')>";
        }
        case db::ftCursor:
            return "<CURSOR>";
        case 26:
            return "<OBJECT of " + ObjectTypeSuffix(op) + ">";
        case 28:
            return "<REF of " + ObjectTypeSuffix(op) + ">";
        case 27:
            return "<VARRAY[" + std::to_string(CollectionSize(op)) + "]>";
        case 29:
            return "<TABLE[" + std::to_string(CollectionSize(op)) + "]>";
        case db::ftString:
        case db::ftDateTime:
        case db::ftFixedChar:
        case db::ftWideString:
        case db::ftFixedWideChar:
            return "'" + param->AsString() + "'";
        default:
            return TCustomDASQLMonitor::GetParamValue(param);
    }
}

}  // namespace dac
