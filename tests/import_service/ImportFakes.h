// A recording stand-in for the database side of the import: a session with transactions and
// savepoints, stored procedures that write one line per call, and a query over an in-memory
// dataset. The "database" keeps the calls of the open transaction apart from the committed ones,
// so tests see what a rollback leaves. A procedure can answer through its output parameters or
// raise an Oracle-like error (code and message).
#pragma once

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/uLogEvent.h"
#include "dataaccess/core/DAServices.h"
#include "import_service/udmMainDataModule.h"
#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "tests/common/ProcCallLine.h"
#include "tests/platform/db/TestDataSet.h"

namespace impfake {

using proctest::ShowFloat;
using proctest::ShowParam;

inline std::string Oracle(int code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "ORA-%05d", code);
    return buffer;
}

class TFakeProc;

// The database: every call and transaction step in one log, and the effects (procedure calls)
// split into committed and pending.
class TFakeDb {
public:
    std::vector<std::string> log;
    std::vector<std::string> committed;
    std::vector<std::string> pending;
    std::map<std::string, size_t> savepoints;
    // A call outside a transaction is committed at once, as the program's session does.
    bool inTransaction = false;
    // Called for every execution of the named procedure (name as declared, e.g.
    // "ZUV_EXPORT_OUT_PACK.check_sec_code"); may set outputs or raise.
    std::map<std::string, std::function<void(TFakeProc&)>> handlers;

    // Raises an Oracle-like error from a handler.
    [[noreturn]] static void Raise(int code, const std::string& text) {
        throw dac::EDAError(code, Oracle(code) + ": " + text);
    }

    std::string LogText() const { return Join(log); }
    static std::string Join(const std::vector<std::string>& lines) {
        std::string s;
        for (const auto& l : lines) s += l + "\n";
        return s;
    }
};

class TFakeSession : public svc::TImportSession {
public:
    explicit TFakeSession(TFakeDb& db) : db_(db) {}

    bool connected = true;
    bool failStart = false;
    bool failCommit = false;

    bool Connected() const override { return connected; }
    bool InTransaction() const override { return db_.inTransaction; }
    void StartTransaction() override {
        db_.log.push_back("StartTransaction");
        if (failStart) TFakeDb::Raise(3114, "not connected to ORACLE");
        db_.inTransaction = true;
    }
    void Commit() override {
        db_.log.push_back("Commit");
        if (failCommit) TFakeDb::Raise(2091, "transaction rolled back");
        db_.committed.insert(db_.committed.end(), db_.pending.begin(), db_.pending.end());
        End();
    }
    void Rollback() override {
        db_.log.push_back("Rollback");
        End();
    }
    void Savepoint(const std::string& name) override {
        db_.log.push_back("Savepoint " + name);
        db_.savepoints[name] = db_.pending.size();
    }
    void RollbackToSavepoint(const std::string& name) override {
        db_.log.push_back("RollbackToSavepoint " + name);
        const auto it = db_.savepoints.find(name);
        if (it == db_.savepoints.end()) TFakeDb::Raise(1086, "savepoint '" + name + "' never established");
        db_.pending.resize(it->second);
    }

private:
    void End() {
        db_.pending.clear();
        db_.savepoints.clear();
        db_.inTransaction = false;
    }
    TFakeDb& db_;
};

class TFakeProc : public proctest::TDeclaredProc {
public:
    TFakeProc(TFakeDb& db, const svc::TStoredProcDecl& decl) : TDeclaredProc(decl), db_(db) {}

    // Writes "name(P_A=1, P_B='x')" with the input values in declared order; outputs start at 0.
    void ExecProc() override {
        const std::string call = CallText();
        for (int i = 0; i < params_.Count(); ++i) {
            db::TParam* p = params_[i];
            if (p->ParamType() == db::ptOutput || p->ParamType() == db::ptResult) p->SetAsFloat(0);
        }
        db_.log.push_back(call);
        if (const auto h = db_.handlers.find(decl_.StoredProcName); h != db_.handlers.end()) h->second(*this);
        (db_.inTransaction ? db_.pending : db_.committed).push_back(call);
    }

    void SetOut(const std::string& name, double value) { params_.ParamByName(name)->SetAsFloat(value); }
    void SetOutNull(const std::string& name) { params_.ParamByName(name)->Clear(); }

private:
    TFakeDb& db_;
};

class TFakeQuery : public svc::TDataQuery {
public:
    TFakeQuery(TFakeDb& db, const svc::TQueryDecl& decl) : db_(db), decl_(decl) {
        data.columns = {
            {"id_emitent", db::ftInteger}, {"id_filial", db::ftInteger}, {"name", db::ftString, 40}};
    }

    dbtest::TTestDataSet data;
    int opens = 0;

    void AddRow(int emitent, int filial) {
        data.Open();
        data.Append();
        data.FieldByName("id_emitent")->SetAsInteger(emitent);
        data.FieldByName("id_filial")->SetAsInteger(filial);
        data.Post();
        data.Close();
    }

    const svc::TQueryDecl& Declaration() const override { return decl_; }
    void SetSession(svc::TDataSession* session) override { session_ = session; }
    bool Active() const override { return data.Active(); }
    db::TDataSet& Open() override {
        db_.log.push_back(decl_.SQL + (session_ ? "" : " without a session"));
        ++opens;
        data.Open();
        return data;
    }
    void Close() override {
        db_.log.push_back("Close " + decl_.ComponentName);
        data.Close();
    }

private:
    TFakeDb& db_;
    svc::TQueryDecl decl_;
    svc::TDataSession* session_ = nullptr;
};

class TFakeFactory : public svc::TComponentFactory {
public:
    explicit TFakeFactory(TFakeDb& db) : db_(db) {}
    std::map<std::string, TFakeProc*> procs;
    TFakeQuery* query = nullptr;

    std::unique_ptr<svc::TStoredProc> CreateStoredProc(const svc::TStoredProcDecl& decl) override {
        auto proc = std::make_unique<TFakeProc>(db_, decl);
        procs[decl.ComponentName] = proc.get();
        return proc;
    }
    std::unique_ptr<svc::TDataQuery> CreateQuery(const svc::TQueryDecl& decl) override {
        auto q = std::make_unique<TFakeQuery>(db_, decl);
        query = q.get();
        return q;
    }

private:
    TFakeDb& db_;
};

// Journal lines as "!text" (important) or "text".
struct TLogLines {
    std::vector<std::string> lines;
    svc::TLogEvent Callback() {
        return [this](const std::string& text, bool important) {
            lines.push_back((important ? "!" : "") + text);
        };
    }
    std::string Text() const { return TFakeDb::Join(lines); }
};

}  // namespace impfake
