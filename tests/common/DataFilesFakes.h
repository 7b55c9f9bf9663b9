// Stand-ins for the database side of the data-file framework: a session that records its
// transaction calls and a stored procedure whose cursor is an in-memory dataset. Either can be
// told to fail at one step.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uDataFiles.h"
#include "platform/db/DB.h"
#include "platform/rtl/Exceptions.h"
#include "tests/platform/db/TestDataSet.h"

namespace fakes {

class TFakeSession : public svc::TDataSession {
public:
    std::vector<std::string> events;
    bool connected = true;
    bool inTransaction = false;
    bool failStart = false;
    bool failCommit = false;
    bool failRollback = false;
    // The rollback finds the connection gone.
    bool loseConnectionOnRollback = false;

    bool Connected() const override { return connected; }
    bool InTransaction() const override { return inTransaction; }
    void StartTransaction() override {
        events.push_back("StartTransaction");
        if (failStart) throw rtl::EDatabaseError("ORA-03114: not connected to ORACLE");
        inTransaction = true;
    }
    void Commit() override {
        events.push_back("Commit");
        if (failCommit) throw rtl::EDatabaseError("ORA-02091: transaction rolled back");
        inTransaction = false;
    }
    void Rollback() override {
        events.push_back("Rollback");
        if (loseConnectionOnRollback) connected = false;
        if (failRollback) throw rtl::EDatabaseError("ORA-03113: end-of-file on communication channel");
        inTransaction = false;
    }
    std::string EventText() const {
        std::string text;
        for (const auto& e : events) text += (text.empty() ? "" : " ") + e;
        return text;
    }
};

// Column types of the cursors, as the central database declares them.
enum class TColumnType { Int, Dec, Txt, Raw, Date };

struct TCursorColumn {
    std::string name;
    TColumnType type;
};

class TFakeProc : public svc::TCursorProc {
public:
    explicit TFakeProc(std::string name = "TEST_PACK.get_rows") : name_(std::move(name)) {}

    dbtest::TTestDataSet data;
    db::TParams params;
    // One line per execute: "Execute" and the input parameters' "NAME=value".
    std::vector<std::string> calls;
    bool failExecute = false;
    int closes = 0;

    void SetColumns(const std::vector<TCursorColumn>& columns) {
        data.columns.clear();
        for (const auto& c : columns) {
            switch (c.type) {
                case TColumnType::Int:
                    data.columns.push_back({c.name, db::ftInteger});
                    break;
                case TColumnType::Dec:
                    data.columns.push_back({c.name, db::ftFloat});
                    break;
                case TColumnType::Txt:
                case TColumnType::Raw:
                    data.columns.push_back({c.name, db::ftString, 250});
                    break;
                case TColumnType::Date:
                    data.columns.push_back({c.name, db::ftDateTime});
                    break;
            }
        }
    }

    // Appends one row; fill sets the values through the dataset's fields (unset ones stay null).
    template <class Fill>
    void AddRow(Fill fill) {
        if (!data.Active()) data.Open();
        data.Append();
        fill(data);
        data.Post();
        data.Close();
    }

    void SetSession(svc::TDataSession* session) override { session_ = session; }
    svc::TDataSession* Session() const override { return session_; }
    db::TParams& Params() override { return params; }
    db::TDataSet& Execute() override {
        std::string call = "Execute";
        for (int i = 0; i < params.Count(); ++i) {
            const db::TParam* p = params[i];
            if (p->ParamType() == db::ptInput)
                call += " " + p->Name() + "=" + (p->IsNull() ? "null" : p->AsString());
        }
        calls.push_back(call);
        if (failExecute) throw rtl::EDatabaseError("ORA-06550: line 1, column 7: PLS-00201");
        data.Close();
        data.Open();
        return data;
    }
    void Close() override {
        ++closes;
        data.Close();
    }
    std::string ProcName() const override { return name_; }

private:
    std::string name_;
    svc::TDataSession* session_ = nullptr;
};

// Collects journal lines as "!text" (important) or "text".
struct TLogLines {
    std::vector<std::string> lines;
    svc::TLogEvent Callback() {
        return [this](const std::string& text, bool important) {
            lines.push_back((important ? "!" : "") + text);
        };
    }
};

}  // namespace fakes
