// A recording stand-in for the data-access components the services reach the database through:
// sessions that connect (or refuse to) as told, stored procedures that write one line per call
// and answer through handlers, and queries over in-memory datasets. One log shows every call and
// transaction step in order.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/uDataAccess.h"
#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "tests/common/DataFilesFakes.h"
#include "tests/common/ProcCallLine.h"
#include "tests/platform/db/TestDataSet.h"

namespace svcfake {

class TFakeProc;

class TFakeCursorProc;

// The database side: the log, what the procedures answer, and how connects go.
class TFakeDb {
public:
    // Fills a cursor procedure when it is made (its parameters are declared already); without
    // one the cursor has no rows.
    std::function<void(TFakeCursorProc&, const svc::TCursorProcDecl&)> fillCursor;
    // Called for every execution of the named cursor procedure, before it opens; may raise.
    std::map<std::string, std::function<void(TFakeCursorProc&)>> cursorHandlers;
    // Called for every execution of the named procedure (as declared); may set outputs or raise.
    std::map<std::string, std::function<void(TFakeProc&)>> handlers;
    // Rows of the queries, by component name: column names and rows of texts ("" is null).
    struct TRows {
        std::vector<std::string> columns;
        std::vector<std::vector<std::string>> rows;
    };
    std::map<std::string, TRows> views;
    // Queries, by component name, whose opening raises this error text.
    std::map<std::string, std::string> viewErrors;
    // Connect attempts that fail before one succeeds (-1: all fail).
    int failingConnects = 0;
    std::string connectError = "ORA-12541: TNS:no listener";
    int connectErrorCode = 12541;
    // Sessions report errors without a code/message copy (no OnError call) when false.
    bool reportErrors = true;

    void Log(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock_);
        log_.push_back(line);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> hold(lock_);
        return log_;
    }
    std::string LogText() const {
        std::string text;
        for (const auto& line : Lines()) text += line + "\n";
        return text;
    }
    bool Logged(const std::string& line) const {
        for (const auto& l : Lines())
            if (l == line) return true;
        return false;
    }
    int CountOf(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : Lines())
            if (l.rfind(prefix, 0) == 0) ++n;
        return n;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> log_;
};

class TFakeSession : public svc::TConnectionSession {
public:
    explicit TFakeSession(TFakeDb& db) : db_(db) {}

    bool Connected() const override { return connected; }
    bool InTransaction() const override { return inTransaction; }
    void StartTransaction() override {
        db_.Log("StartTransaction");
        if (!connected) throw rtl::EDatabaseError("ORA-03114: not connected to ORACLE");
        inTransaction = true;
    }
    void Commit() override {
        db_.Log("Commit");
        if (failCommit) throw rtl::EDatabaseError("ORA-02091: transaction rolled back");
        inTransaction = false;
    }
    void Rollback() override {
        db_.Log("Rollback");
        inTransaction = false;
    }
    void SetLoginPrompt(bool on) override { db_.Log(std::string("LoginPrompt ") + (on ? "on" : "off")); }
    void SetHome(uint8_t home) override { db_.Log("Home " + std::to_string(home)); }
    void SetUsername(const std::string& name) override { db_.Log("Username " + name); }
    void SetPassword(const std::string& password) override { db_.Log("Password " + password); }
    void SetServer(const std::string& server) override { db_.Log("Server " + server); }
    void SetSchema(const std::string& schema) override { db_.Log("Schema " + schema); }
    void Connect() override {
        db_.Log("Connect");
        if (db_.failingConnects != 0) {
            if (db_.failingConnects > 0) --db_.failingConnects;
            if (onError_ && db_.reportErrors) onError_(db_.connectErrorCode, db_.connectError);
            throw rtl::EDatabaseError(db_.connectError);
        }
        connected = true;
    }
    void Disconnect() override {
        db_.Log("Disconnect");
        connected = false;
    }
    void SetOnError(TErrorEvent handler) override { onError_ = std::move(handler); }

    bool connected = false;
    bool inTransaction = false;
    bool failCommit = false;

private:
    TFakeDb& db_;
    TErrorEvent onError_;
};

class TFakeProc : public proctest::TDeclaredProc {
public:
    TFakeProc(TFakeDb& db, const svc::TStoredProcDecl& decl) : TDeclaredProc(decl), db_(db) {}

    // Writes the call line, then lets the procedure's handler answer.
    void ExecProc() override {
        db_.Log(CallText());
        if (const auto h = db_.handlers.find(decl_.StoredProcName); h != db_.handlers.end()) h->second(*this);
    }

    void SetOut(const std::string& name, const std::string& value) {
        db::TParam* p = params_.ParamByName(name);
        if (value.empty())
            p->Clear();
        else
            p->SetAsString(value);
    }
    std::string In(const std::string& name) { return params_.ParamByName(name)->AsString(); }

private:
    TFakeDb& db_;
};

class TFakeQuery : public svc::TDataQuery {
public:
    TFakeQuery(TFakeDb& db, const svc::TQueryDecl& decl) : db_(db), decl_(decl) {}

    const svc::TQueryDecl& Declaration() const override { return decl_; }
    void SetSession(svc::TDataSession* session) override { session_ = session; }
    bool Active() const override { return data_ && data_->Active(); }
    db::TDataSet& Open() override {
        db_.Log(decl_.SQL + (session_ ? "" : " without a session"));
        if (const auto error = db_.viewErrors.find(decl_.ComponentName); error != db_.viewErrors.end())
            throw rtl::EDatabaseError(error->second);
        const TFakeDb::TRows& source = db_.views[decl_.ComponentName];
        data_ = std::make_unique<dbtest::TTestDataSet>();
        for (const auto& c : source.columns) data_->columns.push_back({c, db::ftString, 60});
        data_->Open();
        for (const auto& row : source.rows) {
            data_->Append();
            for (size_t i = 0; i < row.size(); ++i)
                if (!row[i].empty()) data_->Fields()[static_cast<int>(i)]->SetAsString(row[i]);
            data_->Post();
        }
        data_->First();
        return *data_;
    }
    void Close() override {
        if (data_) data_->Close();
    }

private:
    TFakeDb& db_;
    svc::TQueryDecl decl_;
    svc::TDataSession* session_ = nullptr;
    std::unique_ptr<dbtest::TTestDataSet> data_;
};

// A cursor procedure over an in-memory dataset whose executions go into the database's log as
// call lines.
class TFakeCursorProc : public fakes::TFakeProc {
public:
    TFakeCursorProc(TFakeDb& db, const svc::TCursorProcDecl& decl)
        : fakes::TFakeProc(decl.StoredProcName), db_(db) {
        decl.DeclareParams(params);
        data.columns = {{"dummy", db::ftInteger}};
    }
    db::TDataSet& Execute() override {
        db_.Log(proctest::CallLine(ProcName(), params));
        if (const auto h = db_.cursorHandlers.find(ProcName()); h != db_.cursorHandlers.end())
            h->second(*this);
        return fakes::TFakeProc::Execute();
    }

private:
    TFakeDb& db_;
};

class TFakeDataAccess : public svc::TDataAccess, public svc::TComponentFactory {
public:
    explicit TFakeDataAccess(TFakeDb& db) : db_(db) {}

    std::unique_ptr<svc::TConnectionSession> CreateSession() override {
        db_.Log("CreateSession");
        return std::make_unique<TFakeSession>(db_);
    }
    svc::TComponentFactory& Components() override { return *this; }
    std::unique_ptr<svc::TCursorProc> CreateCursorProc(const svc::TCursorProcDecl& decl) override {
        auto proc = std::make_unique<TFakeCursorProc>(db_, decl);
        if (db_.fillCursor) db_.fillCursor(*proc, decl);
        return proc;
    }
    std::unique_ptr<svc::TStoredProc> CreateStoredProc(const svc::TStoredProcDecl& decl) override {
        return std::make_unique<TFakeProc>(db_, decl);
    }
    std::unique_ptr<svc::TDataQuery> CreateQuery(const svc::TQueryDecl& decl) override {
        return std::make_unique<TFakeQuery>(db_, decl);
    }

private:
    TFakeDb& db_;
};

}  // namespace svcfake
