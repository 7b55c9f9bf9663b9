// The components over the Oracle client on a demo Qel database: sessions and their errors,
// stored procedures with inputs and outputs, transactions, and the rows of queries and cursor
// procedures read as datasets, checked against the sqlite3 tool on the same file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "OciQelFixture.h"
#include "common/uParamsStorage.h"
#include "dataaccess/oracle/OraError.h"
#include "export_service/uPackageCalls.h"
#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

using namespace ocitest;

namespace {

// The Oracle number of the error f raises (0: none, -1: an error of another class).
int OraCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const dac::EOraError& e) {
        return e.ErrorCode;
    } catch (...) {
        return -1;
    }
    return 0;
}

// A field as the sqlite3 tool prints it: NULL empty, texts in UTF-8, dates as stored, numbers
// compared as numbers by the caller.
std::string FieldText(const db::TField& field) {
    if (field.IsNull()) return "";
    switch (field.DataType()) {
        case db::ftDateTime:
            return rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss", field.AsDateTime());
        case db::ftInteger:
            return std::to_string(field.AsInteger());
        case db::ftFloat: {
            char text[64];
            std::snprintf(text, sizeof text, "%.15g", field.AsFloat());
            return text;
        }
        default:
            return rtl::AnsiToUtf8(field.AsString());
    }
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> parts;
    size_t b = 0;
    for (size_t e; (e = line.find('|', b)) != std::string::npos; b = e + 1)
        parts.push_back(line.substr(b, e - b));
    parts.push_back(line.substr(b));
    return parts;
}

// Every row from the current one on, fields joined by "|".
std::vector<std::string> DataSetRows(db::TDataSet& ds) {
    std::vector<std::string> rows;
    for (; !ds.Eof(); ds.Next()) {
        std::string line;
        for (int i = 0; i < ds.Fields().Count(); ++i) line += (i ? "|" : "") + FieldText(*ds.Fields()[i]);
        rows.push_back(line);
    }
    return rows;
}

// Rows of the dataset against the tool's, numbers compared as numbers (the tool prints 12.0).
void ExpectSameRows(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t r = 0; r < expected.size(); ++r) {
        const auto e = Split(expected[r]), a = Split(actual[r]);
        ASSERT_EQ(e.size(), a.size()) << "row " << r;
        for (size_t c = 0; c < e.size(); ++c) {
            char* end = nullptr;
            const double ev = std::strtod(e[c].c_str(), &end);
            const bool number = !e[c].empty() && *end == 0;
            if (number)
                EXPECT_DOUBLE_EQ(ev, std::strtod(a[c].c_str(), nullptr)) << "row " << r << " column " << c;
            else
                EXPECT_EQ(e[c], a[c]) << "row " << r << " column " << c;
        }
    }
}

// A table with the value kinds the exports read, more rows than one fetch brings, and a procedure
// that opens a cursor on it.
// The parameters of OCI_TEST.ECHO as the programs declare them.
std::vector<svc::TProcParamDecl> EchoParams() {
    return {{"P_TEXT", db::ftString, db::ptInputOutput, 40, false},
            {"P_N", db::ftFloat, db::ptInput, 0, false},
            {"P_DOUBLE", db::ftFloat, db::ptOutput, 0, false},
            {"P_WHEN", db::ftDateTime, db::ptInput, 0, false},
            {"P_NEXT", db::ftDateTime, db::ptOutput, 0, false},
            {"P_NOTHING", db::ftString, db::ptOutput, 10, false}};
}

const char* const kRowsFixture = R"sql(
CREATE TABLE oci_rows(id NUMBER(9,0), name VARCHAR2(4000), amount NUMBER(15,2), big NUMBER, made DATE,
                      code CHAR(3));
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1200)
INSERT INTO oci_rows
SELECT i,
       CASE WHEN i % 7 = 0 THEN NULL
            WHEN i = 5 THEN replace(hex(zeroblob(1000)), '0', 'Ёa')
            ELSE 'Строка №' || i END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE i * 1.25 - 30 END,
       i * 1000000007,
       CASE WHEN i % 9 = 0 THEN NULL ELSE datetime('2024-02-28 23:59:58', '+' || i || ' hours') END,
       'R' || (i % 10)
FROM n;
INSERT INTO oci_procedure(package, name, overload, kind, body) VALUES
  ('OCI_TEST', 'ROWS', 0, 'PROCEDURE',
   'OPEN :P_CUR FOR SELECT id, name, amount, big, made, code FROM oci_rows WHERE id >= :P_MIN ORDER BY id'),
  ('OCI_TEST', 'ECHO', 0, 'PROCEDURE',
   'SELECT coalesce(:P_TEXT, '''') || ''!'' AS P_TEXT, :P_N * 2 AS P_DOUBLE, datetime(:P_WHEN, ''+1 day'') AS P_NEXT, NULL AS P_NOTHING'),
  ('OCI_TEST', 'REFUSE', 0, 'PROCEDURE', 'SELECT raise_application_error(-20001, ''Отказано'') WHERE 1 = 1');
INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction, data_length,
                         data_precision, data_scale, default_value) VALUES
  ('OCI_TEST', 'ROWS', 0, 1, 'P_MIN', 'NUMBER', 'IN', NULL, NULL, NULL, NULL),
  ('OCI_TEST', 'ROWS', 0, 2, 'P_CUR', 'REF CURSOR', 'OUT', NULL, NULL, NULL, NULL),
  ('OCI_TEST', 'ECHO', 0, 1, 'P_TEXT', 'VARCHAR2', 'IN/OUT', 40, NULL, NULL, NULL),
  ('OCI_TEST', 'ECHO', 0, 2, 'P_N', 'NUMBER', 'IN', NULL, NULL, NULL, NULL),
  ('OCI_TEST', 'ECHO', 0, 3, 'P_DOUBLE', 'NUMBER', 'OUT', NULL, NULL, NULL, NULL),
  ('OCI_TEST', 'ECHO', 0, 4, 'P_WHEN', 'DATE', 'IN', NULL, NULL, NULL, NULL),
  ('OCI_TEST', 'ECHO', 0, 5, 'P_NEXT', 'DATE', 'OUT', NULL, NULL, NULL, NULL),
  ('OCI_TEST', 'ECHO', 0, 6, 'P_NOTHING', 'VARCHAR2', 'OUT', 10, NULL, NULL, NULL);
)sql";

const char* const kRowsSelect =
    "SELECT id, name, amount, big, made, code FROM oci_rows WHERE id >= %d ORDER BY id";

svc::TCursorProcDecl RowsDecl(bool fetchAll) {
    svc::TCursorProcDecl decl;
    decl.ComponentName = "ospRows";
    decl.StoredProcName = "OCI_TEST.ROWS";
    decl.DeclareParams = [](db::TParams& params) {
        params.CreateParam(db::ftFloat, "P_MIN", db::ptInput);
        params.CreateParam(db::ftCursor, "P_DATASET", db::ptOutput);
    };
    decl.FetchAll = fetchAll;
    return decl;
}

std::string RowsSelect(int min) {
    char sql[160];
    std::snprintf(sql, sizeof sql, kRowsSelect, min);
    return sql;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sessions

class OciSessionTest : public OciQelTest {};

TEST_F(OciSessionTest, ConnectsDisconnectsAndReconnects) {
    auto session = Session("qel", "secret", "", false);
    EXPECT_FALSE(session->Connected());
    session->Connect();
    EXPECT_TRUE(session->Connected());
    EXPECT_FALSE(session->InTransaction());
    session->Disconnect();
    EXPECT_FALSE(session->Connected());
    session->Connect();
    EXPECT_TRUE(session->Connected());
}

TEST_F(OciSessionTest, ARefusedLogonReportsTheServersCodeAndMessageBeforeItRaises) {
    struct Case {
        const char* what;
        std::string user, password, server, schema;
        int code;
    };
    const std::vector<Case> cases = {
        {"wrong password", "qel", "wrong", "", "", 1017},
        {"empty password", "qel", "", "", "", 1005},
        {"unknown user", "nobody", "secret", "", "", 1017},
        {"unknown database", "qel", "secret", "NO_SUCH_QEL_DB", "", 12154},
        {"schema of no user", "qel", "secret", "", "NOBODY", 1435},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto session = Session(c.user, c.password, c.schema, false);
        if (!c.server.empty()) session->SetServer(c.server);
        std::vector<std::pair<int, std::string>> reported;
        bool raisedAfterReport = false;
        std::string raised;
        session->SetOnError(
            [&](int code, const std::string& message) { reported.emplace_back(code, message); });
        EXPECT_EQ(c.code, OraCode([&] {
                      try {
                          session->Connect();
                      } catch (const rtl::Exception& e) {
                          raisedAfterReport = !reported.empty();
                          raised = e.Message();
                          throw;
                      }
                  }));
        EXPECT_TRUE(raisedAfterReport);
        ASSERT_EQ(1u, reported.size());
        EXPECT_EQ(c.code, reported[0].first);
        EXPECT_EQ(raised, reported[0].second);
        EXPECT_FALSE(raised.empty());
        EXPECT_FALSE(session->Connected());
    }
}

TEST_F(OciSessionTest, TheSchemaSettingChoosesTheCurrentSchema) {
    SqliteExec("INSERT INTO oci_user(name, password) VALUES ('ZUV', 'zuv');");
    auto session = Session("qel", "secret", "zuv");
    auto query = access_.Components().CreateQuery(
        {"q", "select sys_context('USERENV', 'CURRENT_SCHEMA') s from dual"});
    query->SetSession(session.get());
    EXPECT_EQ("ZUV", query->Open().Fields()[0]->AsString());
}

TEST_F(OciSessionTest, ALostConnectionDisconnectsTheSessionARefusedRequestDoesNot) {
    auto session = Session();
    auto refuse = access_.Components().CreateStoredProc({"ospRefuse", "OCI_TEST.REFUSE", {}, {}});
    SqliteExec(kRowsFixture);
    std::vector<int> reported;
    session->SetOnError([&](int code, const std::string&) { reported.push_back(code); });

    svc::TProcCall refused(*refuse, session.get());
    try {
        refused.Exec();
        FAIL() << "nothing raised";
    } catch (const dac::EOraError& e) {
        EXPECT_EQ(20001, e.ErrorCode);
        EXPECT_NE(std::string::npos, e.Message().find(rtl::Utf8ToAnsi("Отказано")));
        EXPECT_FALSE(access_.IsLostConnection(e));
    }
    EXPECT_TRUE(session->Connected());

    SqliteExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    session->StartTransaction();
    try {
        svc::TProcCall(*refuse, session.get()).Exec();
        FAIL() << "nothing raised";
    } catch (const dac::EOraError& e) {
        EXPECT_EQ(3113, e.ErrorCode);
        EXPECT_TRUE(access_.IsLostConnection(e));
    }
    EXPECT_FALSE(session->Connected());
    EXPECT_FALSE(session->InTransaction());
    EXPECT_EQ((std::vector<int>{20001, 3113}), reported);
    // The services reconnect the same session.
    session->Connect();
    EXPECT_EQ(20001, OraCode([&] { svc::TProcCall(*refuse, session.get()).Exec(); }));
}

TEST_F(OciSessionTest, LostConnectionCodes) {
    for (int code : {3113, 3114, 12541, 12514, 1012, 28, 3135, 12170})
        EXPECT_TRUE(svc::IsLostConnectionCode(code)) << code;
    for (int code : {0, 1, 1017, 1403, 20001, 942, 12154})
        EXPECT_FALSE(svc::IsLostConnectionCode(code)) << code;
    EXPECT_FALSE(access_.IsLostConnection(std::runtime_error("ORA-03113")));
}

// ---------------------------------------------------------------------------------------------
// Stored procedures and transactions

class OciProcTest : public OciQelTest {};

TEST_F(OciProcTest, InputsOutputsNullsAndAFunctionResult) {
    SqliteExec(kRowsFixture);
    auto session = Session();
    const svc::TStoredProcDecl echoDecl{"ospEcho", "OCI_TEST.ECHO", {}, EchoParams()};
    auto echo = access_.Components().CreateStoredProc(echoDecl);
    svc::TProcCall call(*echo, session.get());
    call.Text("P_TEXT", rtl::Utf8ToAnsi("Привет")).Float("P_N", 2.75);
    call.DateTime("P_WHEN", rtl::EncodeDate(2024, 2, 28) + rtl::EncodeTime(23, 30, 15, 0)).Exec();
    EXPECT_EQ(rtl::Utf8ToAnsi("Привет!"), call.Out("P_TEXT").AsString());
    EXPECT_DOUBLE_EQ(5.5, call.Out("P_DOUBLE").AsFloat());
    EXPECT_EQ("2024-02-29 23:30:15",
              rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss", call.Out("P_NEXT").AsDateTime()));
    EXPECT_TRUE(call.Out("P_NOTHING").IsNull());

    // A second call sends nothing of the first: the cleared text goes as NULL.
    svc::TProcCall again(*echo, session.get());
    again.Float("P_N", -1).DateTime("P_WHEN", rtl::EncodeDate(2024, 12, 31)).Exec();
    EXPECT_EQ("!", again.Out("P_TEXT").AsString());
    EXPECT_DOUBLE_EQ(-2, again.Out("P_DOUBLE").AsFloat());
    EXPECT_EQ("2025-01-01 00:00:00",
              rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss", again.Out("P_NEXT").AsDateTime()));

    // The services' own calls: a setting through an output, the version through a function result.
    auto param = access_.Components().CreateStoredProc(svc::GetZuvQelParamDecl());
    svc::TProcCall setting(*param, session.get());
    setting.Text("P_PARAM", "PC_SRV_NAME_QEL_OUT").Exec();
    EXPECT_EQ(Sqlite("SELECT value FROM zuv_param WHERE name = 'PC_SRV_NAME_QEL_OUT'").at(0),
              setting.Out("P_VALUE").AsString());
    auto version = access_.Components().CreateStoredProc(svc::GetZuvQelDBVersionDecl());
    svc::TProcCall versionCall(*version, session.get());
    versionCall.Exec();
    EXPECT_EQ("2.9.1.0", versionCall.Out("RESULT").AsString());
}

// Components declared with their block run it on a command the session keeps prepared: every
// call still sends its own values and gets its own outputs, a refused call or a lost connection
// leaves the next call working, and two components with the same block share it safely.
TEST_F(OciProcTest, BlocksKeptPreparedAcrossCallsFailuresAndReconnects) {
    SqliteExec(kRowsFixture);
    auto session = Session();
    const svc::TStoredProcDecl echoDecl{
        "ospEcho",
        "OCI_TEST.ECHO",
        {"begin", "  OCI_TEST.ECHO(:P_TEXT, :P_N, :P_DOUBLE, :P_WHEN, :P_NEXT, :P_NOTHING);", "end;"},
        EchoParams()};
    auto echo = access_.Components().CreateStoredProc(echoDecl);
    auto twin = access_.Components().CreateStoredProc(echoDecl);
    auto refuse = access_.Components().CreateStoredProc(
        {"ospRefuse", "OCI_TEST.REFUSE", {"begin", "  OCI_TEST.REFUSE;", "end;"}, {}});
    enum Step { Echo, Twin, Refused, LostThenReconnect };
    const struct {
        Step step;
        const char* text;  // null: not set
        double n;
        const char* outText;
    } steps[] = {
        {Echo, "ab", 1, "ab!"},
        {Echo, "a much longer text, of 35 letters", 2, "a much longer text, of 35 letters!"},
        {Echo, nullptr, 3, "!"},
        {Refused, nullptr, 0, nullptr},
        {Echo, "x", 4, "x!"},
        {Twin, "twin", 5, "twin!"},
        {Echo, nullptr, 6, "!"},
        {LostThenReconnect, nullptr, 0, nullptr},
        {Echo, "after", 7, "after!"},
        {Twin, "y", 8, "y!"},
        {Refused, nullptr, 0, nullptr},
        {Twin, "z", 9, "z!"},
    };
    int day = 1;
    for (const auto& s : steps) {
        SCOPED_TRACE("step with n " + std::to_string(s.n));
        if (s.step == Refused) {
            EXPECT_EQ(20001, OraCode([&] { svc::TProcCall(*refuse, session.get()).Exec(); }));
            EXPECT_TRUE(session->Connected());
            continue;
        }
        if (s.step == LostThenReconnect) {
            SqliteExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
            EXPECT_EQ(3113, OraCode([&] { svc::TProcCall(*echo, session.get()).Float("P_N", 1).Exec(); }));
            EXPECT_FALSE(session->Connected());
            session->Connect();
            continue;
        }
        svc::TProcCall call(s.step == Echo ? *echo : *twin, session.get());
        if (s.text) call.Text("P_TEXT", s.text);
        call.Float("P_N", s.n).DateTime("P_WHEN", rtl::EncodeDate(2024, 3, day)).Exec();
        EXPECT_EQ(s.outText, call.Out("P_TEXT").AsString());
        EXPECT_DOUBLE_EQ(2 * s.n, call.Out("P_DOUBLE").AsFloat());
        EXPECT_EQ(rtl::FormatDateTime("yyyy-mm-dd", rtl::EncodeDate(2024, 3, day + 1)),
                  rtl::FormatDateTime("yyyy-mm-dd", call.Out("P_NEXT").AsDateTime()));
        EXPECT_TRUE(call.Out("P_NOTHING").IsNull());
        ++day;
    }
    session->Disconnect();
    EXPECT_FALSE(session->Connected());
}

TEST_F(OciProcTest, AutomaticCommitOutsideATransactionAndRollbackInsideOne) {
    auto session = Session();
    auto add = access_.Components().CreateStoredProc(svc::AddEntriesToPackageDecl());
    const auto count = [&](const std::string& id) {
        return Sqlite("SELECT count(*) FROM out_package WHERE package_id = '" + id + "'").at(0);
    };
    const std::string first = "{A0000000-0000-4000-8000-000000000001}";
    const std::string second = "{A0000000-0000-4000-8000-000000000002}";
    const std::string third = "{A0000000-0000-4000-8000-000000000003}";
    const rtl::TDateTime created = rtl::EncodeDate(2024, 6, 1) + rtl::EncodeTime(12, 0, 5, 0);

    svc::TProcCall(*add, session.get())
        .Text("P_PACKAGE_ID", first)
        .DateTime("P_DATETIME_CREATE", created)
        .Exec();
    EXPECT_EQ("1", count(first));  // committed at once, seen from outside the session

    session->StartTransaction();
    EXPECT_TRUE(session->InTransaction());
    EXPECT_THROW(session->StartTransaction(), rtl::EDatabaseError);
    svc::TProcCall(*add, session.get())
        .Text("P_PACKAGE_ID", second)
        .DateTime("P_DATETIME_CREATE", created)
        .Exec();
    session->Rollback();
    EXPECT_FALSE(session->InTransaction());
    EXPECT_EQ("0", count(second));

    session->StartTransaction();
    svc::TProcCall(*add, session.get())
        .Text("P_PACKAGE_ID", third)
        .DateTime("P_DATETIME_CREATE", created)
        .Exec();
    session->Commit();
    EXPECT_EQ("1", count(third));
}

// Rows written before, between and after two savepoints: rolling back to the later one undoes only
// what followed it, to the earlier one the rest, and the commit keeps what is left.
TEST_F(OciProcTest, RollbackToASavepointUndoesOnlyTheRowsWrittenAfterIt) {
    auto owned = Session();
    auto* session = dynamic_cast<svc::TOciSession*>(owned.get());
    ASSERT_NE(nullptr, session);
    auto add = access_.Components().CreateStoredProc(svc::AddEntriesToPackageDecl());
    const rtl::TDateTime created = rtl::EncodeDate(2024, 6, 1) + rtl::EncodeTime(12, 0, 5, 0);
    const auto id = [](int n) { return "{B0000000-0000-4000-8000-00000000000" + std::to_string(n) + "}"; };
    const auto write = [&](int n) {
        svc::TProcCall(*add, session)
            .Text("P_PACKAGE_ID", id(n))
            .DateTime("P_DATETIME_CREATE", created)
            .Exec();
    };
    const auto count = [&](int n) {
        return Sqlite("SELECT count(*) FROM out_package WHERE package_id = '" + id(n) + "'").at(0);
    };

    session->StartTransaction();
    write(1);
    session->Savepoint("before_second");
    write(2);
    session->Savepoint("BEFORE_THIRD");
    write(3);
    EXPECT_EQ("0", count(1));  // nothing is seen outside before the commit

    session->RollbackToSavepoint("before_third");  // names are not case-sensitive
    EXPECT_TRUE(session->InTransaction());
    session->RollbackToSavepoint("before_second");
    write(4);
    session->Commit();
    EXPECT_FALSE(session->InTransaction());

    EXPECT_EQ("1", count(1));
    EXPECT_EQ("0", count(2));
    EXPECT_EQ("0", count(3));
    EXPECT_EQ("1", count(4));
}

// A savepoint name that is not a plain identifier is refused before any statement goes out; the
// transaction and its rows stay as they were.
TEST_F(OciProcTest, ASavepointNameThatIsNotAPlainIdentifierIsRefusedAndNothingIsSent) {
    auto owned = Session();
    auto* session = dynamic_cast<svc::TOciSession*>(owned.get());
    ASSERT_NE(nullptr, session);
    auto add = access_.Components().CreateStoredProc(svc::AddEntriesToPackageDecl());
    const std::string kept = "{B0000000-0000-4000-8000-0000000000A1}";
    session->StartTransaction();
    svc::TProcCall(*add, session)
        .Text("P_PACKAGE_ID", kept)
        .DateTime("P_DATETIME_CREATE", rtl::EncodeDate(2024, 6, 1))
        .Exec();
    session->Savepoint("good");

    const std::string trace = db_ + ".trace";
    setenv("DX_OCI_TRACE", trace.c_str(), 1);
    const std::string names[] = {
        "",     "   ",        "1st",      "sp 1", "sp-1", "sp;DELETE FROM out_package",
        "sp--", "\"unclosed", "\"a\"b\"", "\"\"", "_sp",  std::string(129, 'a')};
    for (const std::string& name : names) {
        EXPECT_THROW(session->Savepoint(name), std::exception) << "[" << name << "]";
        EXPECT_THROW(session->RollbackToSavepoint(name), std::exception) << "[" << name << "]";
    }
    EXPECT_FALSE(std::filesystem::exists(trace)) << "a statement was sent for a refused name";
    session->Savepoint("\"Quoted name\"");  // a quoted identifier is a name too, and is sent
    unsetenv("DX_OCI_TRACE");
    EXPECT_TRUE(std::filesystem::exists(trace));
    std::filesystem::remove(trace);

    EXPECT_TRUE(session->Connected());
    EXPECT_TRUE(session->InTransaction());
    session->RollbackToSavepoint("good");  // the good savepoint is still there
    session->Commit();
    EXPECT_EQ("1", Sqlite("SELECT count(*) FROM out_package WHERE package_id = '" + kept + "'").at(0));
}

TEST_F(OciProcTest, ComponentsWithoutAnOracleSessionRefuse) {
    auto version = access_.Components().CreateStoredProc(svc::GetZuvQelDBVersionDecl());
    version->SetSession(nullptr);
    EXPECT_THROW(version->ExecProc(), rtl::EDatabaseError);
    auto disconnected = Session("qel", "secret", "", false);
    version->SetSession(disconnected.get());
    EXPECT_THROW(version->ExecProc(), rtl::EDatabaseError);
}

// ---------------------------------------------------------------------------------------------
// Datasets

class OciDataSetTest : public OciQelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OciDataSetTest, ACursorProcedureReadsEveryRowAsTheDatabaseHoldsIt) {
    SqliteExec(kRowsFixture);
    auto session = Session();
    auto proc = access_.CreateCursorProc(RowsDecl(GetParam()));
    proc->SetSession(session.get());
    EXPECT_EQ("OCI_TEST.ROWS", proc->ProcName());
    EXPECT_EQ(session.get(), proc->Session());

    for (int min : {1, 40}) {
        SCOPED_TRACE(min);
        proc->Params().ParamByName("p_min")->SetAsFloat(min);
        db::TDataSet& ds = proc->Execute();
        ASSERT_TRUE(ds.Active());
        // Fetching all reads every row at once; otherwise one block comes with the open.
        const int expected = 1201 - min;
        EXPECT_EQ(GetParam() || expected <= svc::OciFetchBlock ? expected : svc::OciFetchBlock,
                  ds.RecordCount());
        EXPECT_EQ(db::ftInteger, ds.FieldByName("ID")->DataType());
        EXPECT_EQ(db::ftString, ds.FieldByName("NAME")->DataType());
        EXPECT_EQ(db::ftFloat, ds.FieldByName("AMOUNT")->DataType());
        EXPECT_EQ(db::ftFloat, ds.FieldByName("BIG")->DataType());
        EXPECT_EQ(db::ftDateTime, ds.FieldByName("MADE")->DataType());
        ExpectSameRows(Sqlite(RowsSelect(min)), DataSetRows(ds));
        proc->Close();
        EXPECT_FALSE(ds.Active());
    }
}

INSTANTIATE_TEST_SUITE_P(FetchAll, OciDataSetTest, ::testing::Bool());

TEST_F(OciQelTest, TheLongestTextAndCyrillicArriveWholeInCodePage1251) {
    SqliteExec(kRowsFixture);
    auto session = Session();
    auto proc = access_.CreateCursorProc(RowsDecl(false));
    proc->SetSession(session.get());
    proc->Params().ParamByName("P_MIN")->SetAsFloat(5);
    db::TDataSet& ds = proc->Execute();
    std::string longest;
    for (int i = 0; i < 2000; ++i)
        longest +=
            "\xA8"
            "a";  // Ё in code page 1251
    const std::string name = ds.FieldByName("NAME")->AsString();
    EXPECT_EQ(longest.size(), name.size());
    EXPECT_TRUE(name == longest) << name.substr(0, 40) << "...";
    ds.Next();
    EXPECT_EQ(
        "\xD1\xF2\xF0\xEE\xEA\xE0 \xB9"
        "6",
        ds.FieldByName("NAME")->AsString());  // Строка №6
}

TEST_F(OciQelTest, TheExportsQueriesReadTheDemoDatabase) {
    auto session = Session();
    struct Case {
        svc::TQueryDecl decl;
        std::string sqlite;
    };
    const std::vector<Case> cases = {
        {{"qrVersionQelDB", "select t.DESCRIPTION, t.VERSION from V_ZUV_QEL_VERSION_DB t"},
         "SELECT description, version FROM v_zuv_qel_version_db"},
        {{"qrGetSelfEmitent", "select * from v_zuv_emitent_params t"}, "SELECT * FROM v_zuv_emitent_params"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decl.ComponentName);
        auto query = access_.Components().CreateQuery(c.decl);
        query->SetSession(session.get());
        EXPECT_FALSE(query->Active());
        db::TDataSet& ds = query->Open();
        EXPECT_TRUE(query->Active());
        const auto expected = Sqlite(c.sqlite);
        ASSERT_FALSE(expected.empty());
        ExpectSameRows(expected, DataSetRows(ds));
        query->Close();
        EXPECT_FALSE(query->Active());
    }
}

TEST_F(OciQelTest, AQueryTheServerRefusesRaisesItsOracleError) {
    auto session = Session();
    std::vector<int> reported;
    session->SetOnError([&](int code, const std::string&) { reported.push_back(code); });
    auto query = access_.Components().CreateQuery({"q", "select * from no_such_view"});
    query->SetSession(session.get());
    EXPECT_EQ(942, OraCode([&] { query->Open(); }));
    EXPECT_FALSE(query->Active());
    EXPECT_EQ(std::vector<int>{942}, reported);
    EXPECT_TRUE(session->Connected());
}

TEST_F(OciQelTest, AnExportKindsCursorProcedureOnTheDemoDatabase) {
    auto session = Session();
    svc::TCursorProcDecl decl;
    decl.StoredProcName = "ZUV_EXPORT_OUT_PACK.get_emitent_list";
    decl.DeclareParams = [](db::TParams& params) {
        params.CreateParam(db::ftCursor, "P_DATASET", db::ptOutput);
    };
    auto proc = access_.CreateCursorProc(decl);
    proc->SetSession(session.get());
    db::TDataSet& ds = proc->Execute();
    const auto expected = Sqlite(
        "SELECT emt_id, fll_id, emt_name, emt_active, emt_firm_id FROM emitent ORDER BY emt_id, fll_id");
    ASSERT_FALSE(expected.empty());
    ExpectSameRows(expected, DataSetRows(ds));
}
