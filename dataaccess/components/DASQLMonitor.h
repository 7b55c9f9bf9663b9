// The SQL monitor component: the data-access components announce what they do (prepare,
// execute, connect, transactions, errors, destruction, pool events); an active monitor turns
// these notices into trace texts for its outlets: a debugging dialog hook, an external monitor
// client, the socket monitor of DBMonitorClient.h and its own OnSQL event.
//
// Each connection class names its monitor class (GetSQLMonitorClass); the components call the
// class-level notification routines below with it. Without an active monitor of the class a
// notice costs one atomic load.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/components/DBMonitorClient.h"
#include "platform/db/DB.h"
#include "platform/rtl/Objects.h"

namespace dac {

class TCustomDASQLMonitor;
class TDAParams;

enum TDATraceFlag {
    tfQPrepare,
    tfQExecute,
    tfQFetch,
    tfError,
    tfStmt,
    tfConnect,
    tfTransact,
    tfBlob,
    tfService,
    tfMisc,
    tfParams,
    tfObjDestroy,
    tfPool
};
using TDATraceFlags = rtl::TSet<TDATraceFlag>;

enum TMonitorOption { moDialog, moSQLMonitor, moSocketMonitor, moCustom, moHandled };
using TMonitorOptions = rtl::TSet<TMonitorOption>;

inline const TDATraceFlags DefaultTraceFlags{tfQPrepare, tfQExecute, tfError, tfConnect,
                                             tfTransact, tfMisc,     tfParams};
inline const TMonitorOptions DefaultMonitorOptions{moDialog, moSQLMonitor, moSocketMonitor, moCustom};

using TOnSQLEvent = std::function<void(rtl::TObject* sender, const AnsiString& text, TDATraceFlag flag)>;

// The monitor class a connection names: where the class's active monitor is recorded. A class
// without a record (the generic one) never has a monitor.
struct TDASQLMonitorClassInfo {
    const char* Name;
    bool Records;
    std::atomic<TCustomDASQLMonitor*> Monitor{nullptr};
    // Notices running on the class's monitor; destruction waits for them.
    std::atomic<int> Users{0};
};
using TDASQLMonitorClass = TDASQLMonitorClassInfo*;

// The generic monitor class and the Oracle one.
TDASQLMonitorClass CustomDASQLMonitorClass();
TDASQLMonitorClass OraSQLMonitorClass();

// The debugging dialog hook (component, sql, operation name, params); unassigned at start.
using TSQLDialogHook = void (*)(rtl::TObject* component, const AnsiString& sql, const AnsiString& name,
                                TDAParams* params);
extern TSQLDialogHook SQLDialogHook;
// Fills a message's call stack when assigned.
using TCallStackHook = void (*)(std::vector<WideString>& stack);
extern TCallStackHook CallStackHook;

// The external monitor program's client. On this platform there is no such program unless a
// factory is installed: without one the outlet stays off.
class IExternalMonitorClient {
public:
    virtual ~IExternalMonitorClient() = default;
    // The program calls back with the trace flags it wants.
    virtual bool RegisterClient(void* clientId, const AnsiString& name, TCustomDASQLMonitor* instance,
                                std::function<void(uint16_t)> onTraceFlags) = 0;
    virtual void SendText(const AnsiString& text) = 0;
};
using TExternalMonitorFactory = std::function<std::unique_ptr<IExternalMonitorClient>()>;
extern TExternalMonitorFactory ExternalMonitorFactory;

class TSocketMonitorOptions : public rtl::TPersistent {
public:
    void Assign(rtl::TPersistent* source) override;
    AnsiString Host;
    int Port = 1000;
    int ReconnectTimeout = 5000;
    int SendTimeout = 1000;

protected:
    void AssignTo(rtl::TPersistent* dest) override;
};

class TCustomDASQLMonitor : public rtl::TComponent {
public:
    explicit TCustomDASQLMonitor(rtl::TComponent* owner = nullptr);
    ~TCustomDASQLMonitor() override;

    bool Active() const { return active_; }
    void SetActive(bool value);
    TDATraceFlags TraceFlags() const { return traceFlags_.load(); }
    void SetTraceFlags(TDATraceFlags value) { traceFlags_.store(value); }
    TMonitorOptions Options() const { return options_; }
    void SetOptions(TMonitorOptions value);
    TSocketMonitorOptions& SocketMonitorOptions() { return socketMonitorOptions_; }
    void SetSocketMonitorOptions(TSocketMonitorOptions* value) { socketMonitorOptions_.Assign(value); }
    bool Registered() const { return registered_; }
    void Loaded() override;

    TOnSQLEvent OnSQL;

    // The class this monitor belongs to.
    virtual TDASQLMonitorClass MonitorClass() const { return CustomDASQLMonitorClass(); }

    virtual void RegisterCOMClient();
    virtual void UnregisterCOMClient();
    virtual rtl::TObject* GetParent(rtl::TObject* obj);
    virtual int GetObjectType(rtl::TObject* obj);
    virtual void SQLExecute(rtl::TObject* obj, const AnsiString& sql, int& eventID, bool isStart,
                            const AnsiString& name, TDAParams* params);
    virtual void TRStart(rtl::TObject* obj, bool isStart, int& eventID);
    virtual void TRCommit(rtl::TObject* obj, bool isStart, int& eventID);
    virtual void TRRollback(rtl::TObject* obj, bool isStart, int& eventID);
    virtual AnsiString GetParamDataType(db::TParam* param);
    virtual AnsiString GetParamParamType(db::TParam* param);
    virtual AnsiString GetParamValue(db::TParam* param);
    virtual AnsiString GetCaption();

    // Class-level routines: each finds the class's active monitor and forwards to it.
    static TCustomDASQLMonitor* GetMonitor(TDASQLMonitorClass cls);
    static bool HasMonitor(TDASQLMonitorClass cls);
    static void ObjPrepare(TDASQLMonitorClass cls, rtl::TObject* component, const AnsiString& sql,
                           bool isStart, int& eventID, TDAParams* params);
    static void ObjUnprepare(TDASQLMonitorClass cls, rtl::TObject* component, const AnsiString& sql,
                             bool isStart, int& eventID, TDAParams* params);
    static void SQLExecute(TDASQLMonitorClass cls, rtl::TObject* component, const AnsiString& sql,
                           bool isStart, int& eventID, const AnsiString& name, TDAParams* params);
    static void DBConnect(TDASQLMonitorClass cls, rtl::TObject* connection, int& eventID, bool isStart);
    static void DBDisconnect(TDASQLMonitorClass cls, rtl::TObject* connection, int& eventID, bool isStart);
    static void TRStart(TDASQLMonitorClass cls, rtl::TObject* obj, bool isStart, int& eventID);
    static void TRCommit(TDASQLMonitorClass cls, rtl::TObject* obj, bool isStart, int& eventID);
    static void TRRollback(TDASQLMonitorClass cls, rtl::TObject* obj, bool isStart, int& eventID);
    static void TRSavepoint(TDASQLMonitorClass cls, rtl::TObject* transaction, const AnsiString& savepoint,
                            bool isStart, int& eventID);
    static void TRRollbackToSavepoint(TDASQLMonitorClass cls, rtl::TObject* transaction,
                                      const AnsiString& savepoint, bool isStart, int& eventID);
    static void TRReleaseSavepoint(TDASQLMonitorClass cls, rtl::TObject* transaction,
                                   const AnsiString& savepoint, bool isStart, int& eventID);
    static void TRCommitRetaining(TDASQLMonitorClass cls, rtl::TObject* transaction, int& eventID,
                                  bool isStart);
    static void TRRollbackRetaining(TDASQLMonitorClass cls, rtl::TObject* transaction, int& eventID,
                                    bool isStart);
    static void DBError(TDASQLMonitorClass cls, const rtl::Exception& error);
    static void ObjectDestroyed(TDASQLMonitorClass cls, rtl::TObject* component);
    static void PoolNotice(TDASQLMonitorClass cls, rtl::TObject* pool, const AnsiString& text,
                           bool withParameters, bool withCount);

    // The instance notices: the class-level routines call these on the active monitor.
    void Prepare(rtl::TObject* obj, const AnsiString& sql, int& eventID, bool isStart, TDAParams* params);
    void Unprepare(rtl::TObject* obj, const AnsiString& sql, int& eventID, bool isStart, TDAParams* params);
    void Connect(rtl::TObject* obj, int& eventID, bool isStart);
    void Disconnect(rtl::TObject* obj, int& eventID, bool isStart);
    void TRSavepoint(rtl::TObject* obj, const AnsiString& kind, const AnsiString& name, bool isStart,
                     int& eventID);
    void TRRetaining(rtl::TObject* obj, bool commit, bool isStart, int& eventID);
    void Error(const rtl::Exception& error);
    void ObjDestroyed(rtl::TObject* obj);
    void Pool(rtl::TObject* pool, const AnsiString& text, bool withParameters, bool withCount);

    // The object description (" [name$addr; conn$addr] " with moHandled, else empty) and name.
    AnsiString ObjectDescription(rtl::TObject* obj);
    static AnsiString ObjectName(rtl::TObject* obj);
    // The parameter text and, when given, the message parameter list.
    AnsiString ParamsText(TDAParams* params, std::vector<TMsgSQLParam>* msgParams);

protected:
    // Records this instance as its class's monitor when none is.
    void RecordAsClassMonitor();

private:
    bool Gate(TDATraceFlag flag);
    void SendCOM(const AnsiString& text);
    void SendOnSQL(const AnsiString& text, TDATraceFlag flag);
    void SendDB(int kind, rtl::TObject* obj, bool isStart, int& eventID, const AnsiString& description,
                const AnsiString& sql, std::vector<TMsgSQLParam> params, bool failed = false,
                const AnsiString& errorText = AnsiString());
    void SendDialog(rtl::TObject* obj, const AnsiString& sql, const AnsiString& name, TDAParams* params);
    void TRNotice(rtl::TObject* obj, const char* word, int kind, bool isStart, int& eventID);
    void ConnectNotice(rtl::TObject* obj, const char* word, int kind, bool isStart, int& eventID);
    void StartSocketMonitor();
    void StopSocketMonitor();

    bool active_ = false;
    bool streamedActive_ = true;
    std::atomic<TDATraceFlags> traceFlags_{DefaultTraceFlags};
    TMonitorOptions options_ = DefaultMonitorOptions;
    TSocketMonitorOptions socketMonitorOptions_;
    std::unique_ptr<IExternalMonitorClient> comClient_;
    bool registered_ = false;
    TSocketMonitor* socketMonitor_ = nullptr;
};

class TOraSQLMonitor : public TCustomDASQLMonitor {
public:
    explicit TOraSQLMonitor(rtl::TComponent* owner = nullptr);
    ~TOraSQLMonitor() override;

    TDASQLMonitorClass MonitorClass() const override { return OraSQLMonitorClass(); }
    AnsiString GetParamDataType(db::TParam* param) override;
    AnsiString GetParamValue(db::TParam* param) override;
    AnsiString GetCaption() override { return "Oracle"; }
};

// What the components call around their work: each looks up the monitor class of the connection in
// use and does nothing more when it has no active monitor (and, for statements, Debug is off or no
// dialog hook is set).
class TCustomDASQL;
class TCustomDADataSet;
class TCustomDAConnection;
class TDATransaction;
enum TTransactionNotice {
    tnStart,
    tnCommit,
    tnRollback,
    tnCommitRetaining,
    tnRollbackRetaining,
    tnSavepoint,
    tnRollbackToSavepoint,
    tnReleaseSavepoint
};
// name: "Prepare" or "Execute".
void NotifySQL(TCustomDASQL* sql, const char* name, bool isStart, int& eventID);
// what: "Prepare", "Unprepare" or an execute name ("Open", "Refresh").
void NotifyDataSet(TCustomDADataSet* dataSet, const char* what, bool isStart, int& eventID);
void NotifyConnect(TCustomDAConnection* connection, bool connect, bool isStart, int& eventID);
void NotifyError(TCustomDAConnection* connection, const rtl::Exception& error);
void NotifyTransaction(TDATransaction* transaction, TTransactionNotice notice, bool isStart, int& eventID,
                       const AnsiString& savepoint = AnsiString());
void NotifyDestroyed(TCustomDAConnection* connection, rtl::TObject* component);

// Lets a test point the process-wide socket monitor elsewhere (nullptr: the process's own).
void SetSocketMonitorForTests(TSocketMonitor* monitor);

}  // namespace dac
