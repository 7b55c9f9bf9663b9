// TOraTrace: switches the server's SQL tracing (session parameters, event 10046) and PL/SQL
// tracing (DBMS_TRACE) on while its session is connected.
#include <memory>
#include <string>

#include "dataaccess/components/Ora.h"

namespace dac {

namespace {

// A text literal: the value between quotes, quotes inside doubled, so that no value can end
// the statement.
AnsiString QuotedLiteral(const AnsiString& value) {
    AnsiString out = "'";
    for (char c : value) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

}  // namespace

TOraTrace::~TOraTrace() {
    SetSession(nullptr);
}

void TOraTrace::SetSession(TOraSession* value) {
    if (value == session_) return;
    if (session_) {
        if (Active && session_->GetConnected()) Stop();
        session_->trace_ = nullptr;
    }
    session_ = value;
    if (!value) return;
    if (value->trace_) value->trace_->SetSession(nullptr);
    value->trace_ = this;
    if (Active && value->GetConnected()) Start();
}

void TOraTrace::CheckSession() {
    if (!session_) throw rtl::Exception("Session is not defined");
    if (!session_->GetConnected()) throw rtl::Exception("Session is not connected");
}

void TOraTrace::Run(const AnsiString& sql, int level) {
    auto statement = std::make_unique<TOraSQL>(nullptr);
    statement->SetSession(session_);
    statement->SQL().SetText(sql);
    if (level >= 0) {
        TOraParam* p = statement->ParamByName("level");
        p->SetParamType(db::ptInput);
        p->SetAsInteger(level);
    }
    statement->Execute();
}

void TOraTrace::Start() {
    StartSqlTrace();
    StartPlSqlTrace();
}

void TOraTrace::Stop() {
    StopPlSqlTrace();
    StopSqlTrace();
}

void TOraTrace::StartSqlTrace() {
    CheckSession();
    if (sqlStarted_ || SqlTraceFlags == 0) return;
    if (!TraceFileIdentifier.empty())
        Run("ALTER SESSION SET tracefile_identifier = " + QuotedLiteral(TraceFileIdentifier));
    if (MaxDumpFileSize != 0)
        Run("ALTER SESSION SET max_dump_file_size = " +
            (MaxDumpFileSize == -1 ? AnsiString("UNLIMITED") : std::to_string(MaxDumpFileSize)));
    if (session_->OracleVersion() > 9199) {
        const char* level = (SqlTraceFlags & 4) ? "ALL" : (SqlTraceFlags & 2) ? "TYPICAL" : "BASIC";
        Run(AnsiString("ALTER SESSION SET statistics_level = ") + level);
    }
    Run(AnsiString("ALTER SESSION SET timed_statistics = ") + ((SqlTraceFlags & 32) ? "TRUE" : "FALSE"));
    int level = 4 * ((SqlTraceFlags >> 3) & 3);
    if (level == 0) level = 1;
    Run("ALTER SESSION SET EVENTS '10046 trace name context forever, level " + std::to_string(level) + "'");
    sqlStarted_ = true;
}

void TOraTrace::StopSqlTrace() {
    CheckSession();
    if (!sqlStarted_) return;
    Run("ALTER SESSION SET EVENTS '10046 trace name context off'");
    sqlStarted_ = false;
}

void TOraTrace::StartPlSqlTrace() {
    CheckSession();
    if (plSqlStarted_ || PlSqlTraceFlags == 0) return;
    Run("BEGIN\r\n  dbms_trace.set_plsql_trace(:level);\r\nEND;", PlSqlTraceLevel(PlSqlTraceFlags));
    plSqlStarted_ = true;
}

void TOraTrace::StopPlSqlTrace() {
    CheckSession();
    if (!plSqlStarted_) return;
    Run("BEGIN\r\n  dbms_trace.clear_plsql_trace;\r\nEND;");
    plSqlStarted_ = false;
}

}  // namespace dac
