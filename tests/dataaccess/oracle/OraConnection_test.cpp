// The Oracle connection against the stand-in server: logon, session settings, errors and the
// lost-connection dialogue.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "OraFixture.h"
#include "dataaccess/oracle/OraClasses.h"

using namespace dac;

namespace {

using OraConnectionTest = OraTest;

}  // namespace

TEST_F(OraConnectionTest, LogsOnAndOff) {
    auto c = newConnection();
    int before = TOCIConnection::ActiveConnectionCount();
    c->Connect("");
    EXPECT_TRUE(c->GetConnected());
    EXPECT_EQ(before + 1, TOCIConnection::ActiveConnectionCount());
    EXPECT_EQ(ocsOCI8, c->GetOCICallStyle());
    EXPECT_NE(nullptr, c->GetSvcCtx());
    AnsiString banner, version, client;
    c->GetServerVersionFull(banner);
    c->GetServerVersion(version);
    c->GetClientVersion(client);
    EXPECT_NE(AnsiString::npos, banner.find("Release 11.2.0.4.0"));
    EXPECT_EQ("11.2.0.4.0", version);
    EXPECT_EQ("11.2.0.4.0", client);
    EXPECT_EQ(11204, c->GetOracleVersion());
    EXPECT_EQ(4000, c->GetMaxStringSize());
    EXPECT_EQ("QEL", c->GetCurrentSchema());
    EXPECT_TRUE(c->CheckIsValid());
    // Nothing was sent that the options did not ask for.
    EXPECT_TRUE(sessionLog().empty());
    c->Disconnect();
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(before, TOCIConnection::ActiveConnectionCount());
    EXPECT_EQ(nullptr, c->GetSessionHandle());
    EXPECT_EQ("Operation is not allowed when the connection is closed",
              ExceptionText([&] { c->GetCurrentSchema(); }));
    // And again on the same object.
    c->Connect("");
    EXPECT_TRUE(c->GetConnected());
}

TEST_F(OraConnectionTest, ConnectsThroughAClientWithoutOci7Entries) {
    setenv("ORACLE_HOME", (std::string(DX_BINARY_DIR) + "/oracle-home-nooci7").c_str(), 1);
    auto c = newConnection();
    c->SetProp(prUseOCI7, true);  // not offered: the connection logs on in OCI 8 style
    c->Connect("");
    EXPECT_EQ(ocsOCI8, c->GetOCICallStyle());
    EXPECT_TRUE(c->CheckIsValid());
    EXPECT_EQ("QEL", c->GetCurrentSchema());
    c->Disconnect();
}

TEST_F(OraConnectionTest, WrongPasswordIsOra01017AndLeavesNothingOpen) {
    auto c = newConnection("qel", "wrong");
    int before = TOCIConnection::ActiveConnectionCount();
    try {
        c->Connect("");
        FAIL() << "connected";
    } catch (const EOraError& e) {
        EXPECT_EQ(1017, e.ErrorCode);
        EXPECT_NE(std::string::npos, e.Message().find("ORA-01017"));
        EXPECT_FALSE(e.IsFatalError());
    }
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(before, TOCIConnection::ActiveConnectionCount());
    EXPECT_EQ(nullptr, c->GetSessionHandle());
    EXPECT_EQ(nullptr, c->GetServerHandle());
    EXPECT_EQ(1017, c->LastErrorCode());
    // An unknown database
    auto d = newConnection();
    d->SetServer("NO_SUCH_DB");
    EXPECT_EQ(12154, OraErrorCode([&] { d->Connect(""); }));
}

TEST_F(OraConnectionTest, SessionSettingsReachTheServerAfterLogon) {
    auto c = newConnection();
    c->SetProp(prDateFormat, AnsiString("DD.MM.YYYY"));
    c->SetProp(prNumericCharacters, AnsiString(", "));
    c->SetProp(prOptimizerMode, static_cast<int32_t>(omFirstRows10));
    c->SetProp(prSchema, AnsiString("ZUV"));
    EXPECT_TRUE(sessionLog().empty());  // nothing is sent while closed
    c->Connect("");
    EXPECT_EQ(
        (std::vector<std::string>{
            "ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY'", "ALTER SESSION SET NLS_NUMERIC_CHARACTERS=', '",
            "ALTER SESSION SET OPTIMIZER_MODE = FIRST_ROWS_10", "ALTER SESSION SET CURRENT_SCHEMA = ZUV"}),
        sessionLog());
    EXPECT_EQ("ZUV", c->GetCurrentSchema());
    EXPECT_EQ("ZUV", c->GetCachedSchema());

    // Changes on the open connection are sent at once; clearing a value sends nothing.
    c->SetProp(prDateLanguage, AnsiString("RUSSIAN"));
    c->SetProp(prDateFormat, AnsiString(""));
    c->SetProp(prOptimizerMode, static_cast<int32_t>(omRule));
    c->SetProp(prSchema, AnsiString(""));  // back to the user's own
    auto log = sessionLog();
    ASSERT_EQ(7u, log.size());
    EXPECT_EQ("ALTER SESSION SET NLS_DATE_LANGUAGE='RUSSIAN'", log[4]);
    EXPECT_EQ("ALTER SESSION SET OPTIMIZER_MODE = RULE", log[5]);
    EXPECT_EQ("ALTER SESSION SET CURRENT_SCHEMA = qel", log[6]);
    EXPECT_EQ("QEL", c->GetCurrentSchema());

    // Values set through properties survive a disconnect.
    c->Disconnect();
    EXPECT_EQ("RUSSIAN", c->NlsParam(nlsDateLanguage).Value);
    EXPECT_TRUE(c->NlsParam(nlsDateLanguage).IsSet);
    EXPECT_FALSE(c->NlsParam(nlsDateFormat).IsSet);
}

TEST_F(OraConnectionTest, ConfigurationValuesCannotChangeTheStatement) {
    auto c = newConnection();
    c->Connect("");
    c->SetProp(prDateFormat, AnsiString("DD' MM"));
    EXPECT_EQ("ALTER SESSION SET NLS_DATE_FORMAT='DD'' MM'", sessionLog().back());
    // A schema that is no plain name is sent quoted, and the server does not know it.
    try {
        c->SetProp(prSchema, AnsiString("ZUV; DROP TABLE oci_user"));
        FAIL() << "accepted";
    } catch (const EOraError& e) {
        EXPECT_EQ(1435, e.ErrorCode);
        EXPECT_EQ("Schema does not exist\n", e.Message());
    }
    EXPECT_EQ(2u, dbTexts("SELECT name FROM oci_user").size());
    EXPECT_TRUE(c->GetConnected());
}

TEST_F(OraConnectionTest, UnknownSchemaFailsTheConnect) {
    auto c = newConnection();
    c->SetProp(prSchema, AnsiString("NOBODY"));
    int before = TOCIConnection::ActiveConnectionCount();
    EXPECT_EQ("Schema does not exist\n", ExceptionText([&] { c->Connect(""); }));
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(before, TOCIConnection::ActiveConnectionCount());
    EXPECT_EQ("NOBODY", c->Schema());
}

TEST_F(OraConnectionTest, ReadsSessionParametersFromTheServer) {
    auto c = newConnection();
    c->Connect("");
    rtl::Variant v;
    // Never set: the server is asked.
    ASSERT_TRUE(c->GetProp(prDateLanguage, v));
    EXPECT_EQ("AMERICAN", v.AsString());
    c->GetProp(prNumericCharacters, v);
    EXPECT_EQ(".,", v.AsString());
    // Character length 0 reads it at once on an open connection.
    c->SetProp(prCharLength, int32_t{0});
    c->GetProp(prCharLength, v);
    EXPECT_EQ(0, v.AsInteger());
    EXPECT_EQ(1, c->CharLength());
    c->SetProp(prCharset, AnsiString("CL8MSWIN1251"));
    EXPECT_EQ(171, c->CharsetId());
    // Values read from the server are forgotten at disconnect.
    c->Disconnect();
    EXPECT_TRUE(c->NlsParam(nlsDateLanguage).Value.empty());
    EXPECT_EQ(0, c->CharsetId());
    EXPECT_EQ(0, c->CharLength());  // still to be read at the next connect
    c->Connect("");
    EXPECT_EQ(1, c->CharLength());
    EXPECT_EQ(171, c->CharsetId());
    // A character set change that fails is undone.
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    EXPECT_EQ(3113, OraErrorCode([&] { c->SetProp(prCharset, AnsiString("AL32UTF8")); }));
    c->GetProp(prCharset, v);
    EXPECT_EQ("CL8MSWIN1251", v.AsString());
    EXPECT_EQ(171, c->CharsetId());
}

TEST_F(OraConnectionTest, ClientIdentifierReachesTheSession) {
    auto c = newConnection();
    c->SetProp(prClientIdentifier, AnsiString("export-1"));
    c->Connect("");
    std::vector<TOCISessionParam> params(1);
    params[0].Name = "Id";
    params[0].Output = true;
    params[0].Size = 64;
    c->ExecSessionSQL("begin  :Id := SYS_CONTEXT ('USERENV', 'CLIENT_IDENTIFIER');end;", params);
    EXPECT_EQ("export-1", params[0].Value);
    c->SetProp(prClientIdentifier, AnsiString("import-2"));
    c->ExecSessionSQL("begin  :Id := SYS_CONTEXT ('USERENV', 'CLIENT_IDENTIFIER');end;", params);
    EXPECT_EQ("import-2", params[0].Value);
    EXPECT_EQ("The first character of the ClientIdentifier should not be ':'",
              ExceptionText([&] { c->SetProp(prClientIdentifier, AnsiString("  :x")); }));
}

TEST_F(OraConnectionTest, LostConnectionGoesThroughTheRetryLoop) {
    auto c = newConnection();
    c->Connect("");
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    std::vector<int> attempts;
    int32_t seenCode = 0;
    bool seenFatal = false;
    c->OnError = [&](rtl::Exception* error, bool&, bool& reconnect, bool& reexecute, int attempt,
                     TConnLostCause& cause) {
        attempts.push_back(attempt);
        auto* e = dynamic_cast<EOraError*>(error);
        ASSERT_NE(nullptr, e);
        seenCode = e->ErrorCode;
        seenFatal = e->IsFatalError();
        reconnect = e->IsFatalError() && attempt == 0;
        reexecute = true;
        cause = clExecute;
    };
    try {
        c->SetProp(prOptimizerMode, static_cast<int32_t>(omAllRows));
        FAIL() << "no failover";
    } catch (const EFailOver& e) {
        EXPECT_EQ(clExecute, e.ConnLostCause);
    }
    EXPECT_EQ(std::vector<int>{0}, attempts);
    EXPECT_EQ(3113, seenCode);
    EXPECT_TRUE(seenFatal);
    // The reconnect made a new session that works.
    EXPECT_TRUE(c->GetConnected());
    EXPECT_TRUE(c->CheckIsValid());
    EXPECT_EQ("QEL", c->GetCurrentSchema());
}

TEST_F(OraConnectionTest, LostConnectionWithoutReconnectIsRaisedOrDropped) {
    auto c = newConnection();
    c->Connect("");
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    EXPECT_EQ(3113, OraErrorCode([&] { c->GetCurrentSchema(); }));
    EXPECT_FALSE(c->CheckIsValid());
    // A hook that drops the error ends the operation silently.
    c->OnError = [](rtl::Exception*, bool& fail, bool&, bool&, int, TConnLostCause&) { fail = false; };
    EXPECT_THROW(c->GetCurrentSchema(), rtl::EAbort);
}

TEST_F(OraConnectionTest, ReadingSessionParametersReportsALostConnection) {
    auto c = newConnection();
    c->Connect("");
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    EXPECT_EQ(3113, OraErrorCode([&] { c->SetProp(prCharLength, int32_t{0}); }));
}

TEST_F(OraConnectionTest, OtherHomeWhileConnectedIsRefused) {
    auto a = newConnection();
    a->Connect("");
    auto b = newConnection();
    b->SetProp(prHomeName, AnsiString("/elsewhere"));
    EXPECT_EQ("Connection HomeName differs from already active connections",
              ExceptionText([&] { b->Connect(""); }));
    a->Disconnect();
    // With nothing open the other home is loaded (and here it has no client).
    EXPECT_EQ("Cannot find OCI DLL: in /elsewhere", ExceptionText([&] { b->Connect(""); }));
    EXPECT_EQ(0, TOCIConnection::ActiveConnectionCount());
}

TEST_F(OraConnectionTest, ConnectionLockIsReentrant) {
    auto c = newConnection();
    c->Lock();
    c->Lock();
    std::atomic<bool> got{false};
    std::thread other([&] {
        c->Lock();
        got = true;
        c->Release();
    });
    c->Release();
    EXPECT_FALSE(got);
    c->Release();
    other.join();
    EXPECT_TRUE(got);
}

TEST_F(OraConnectionTest, ConcurrentErrorsKeepTheirOwnTexts) {
    // Two sessions on two threads fail again and again with different errors; each must read
    // its own error.
    auto a = newConnection();
    auto b = newConnection("ZUV", "zuv");
    a->Connect("");
    b->Connect("");
    std::atomic<int> wrong{0};
    auto run = [&wrong](TOCIConnection* c, const char* sql, int32_t code) {
        for (int i = 0; i < 200; ++i) {
            std::vector<TOCISessionParam> none;
            try {
                c->ExecSessionSQL(sql, none);
                ++wrong;
            } catch (const EOraError& e) {
                if (e.ErrorCode != code) ++wrong;
            }
        }
    };
    std::thread t1(run, a.get(), "SELECT * FROM no_such_table", 942);
    std::thread t2(run, b.get(), "ALTER SESSION SET CURRENT_SCHEMA = NOBODY", 1435);
    t1.join();
    t2.join();
    EXPECT_EQ(0, wrong.load());
}

TEST_F(OraConnectionTest, FailoverEndResendsSettingsAndAsksTheHook) {
    auto c = newConnection();
    c->SetProp(prDateFormat, AnsiString("DD.MM.YYYY"));
    c->Connect("");
    ASSERT_EQ(1u, sessionLog().size());
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    c->OnFailover = [&](uint32_t event, uint32_t type, bool& retry) {
        calls.emplace_back(event, type);
        retry = event == OCI_FO_END;
    };
    EXPECT_EQ(0, OCIFailoverCallback(nullptr, nullptr, c.get(), 4, 2));  // begin: nothing re-sent
    EXPECT_EQ(1u, sessionLog().size());
    EXPECT_EQ(OCI_FO_RETRY, OCIFailoverCallback(nullptr, nullptr, c.get(), 4, OCI_FO_END));
    EXPECT_EQ((std::vector<std::string>{"ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY'",
                                        "ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY'"}),
              sessionLog());
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{2, 4}, {1, 4}}), calls);
}

TEST_F(OraConnectionTest, AttachedConnectionSharesTheSessionWithoutOwningIt) {
    auto a = newConnection();
    a->Connect("");
    int count = TOCIConnection::ActiveConnectionCount();
    TOCIConnection b;
    b.AssignConnect(a.get());
    EXPECT_TRUE(b.GetConnected());
    EXPECT_FALSE(b.OwnsHandles());
    EXPECT_EQ(a->GetSvcCtx(), b.GetSvcCtx());
    EXPECT_EQ("QEL", b.GetCurrentSchema());
    // Closing the attached one leaves the session and the count alone.
    b.Disconnect();
    EXPECT_EQ(count, TOCIConnection::ActiveConnectionCount());
    EXPECT_TRUE(a->CheckIsValid());
    EXPECT_EQ("QEL", a->GetCurrentSchema());
    a->BreakExec();
}

namespace {

// What the replaced OCIErrorGet answers.
sb4 fakeCode = 0;
std::string fakeText;
sword FakeErrorGet(void*, ub4, OraText*, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4) {
    *errcodep = fakeCode;
    std::snprintf(reinterpret_cast<char*>(bufp), bufsiz, "%s", fakeText.c_str());
    return OCI_SUCCESS;
}

}  // namespace

TEST_F(OraConnectionTest, WarningsGoToTheInfoHook) {
    dbExec("CREATE TABLE t(name VARCHAR2(20)); INSERT INTO t VALUES ('abcdefghij');");
    auto c = newConnection();
    c->Connect("");
    std::vector<std::pair<int32_t, std::string>> infos;
    c->OnInfoMessage = [&](EOraError& e) { infos.emplace_back(e.ErrorCode, e.Message()); };
    int processed = 0;
    c->OnError = [&](rtl::Exception*, bool&, bool&, bool&, int, TConnLostCause&) { ++processed; };
    void* stmt = nullptr;
    c->Check(dac::OCIHandleAlloc(c->GetEnvironment(), &stmt, OCI_HTYPE_STMT, 0, nullptr));
    auto* st = static_cast<OCIStmt*>(stmt);
    const char* sql = "SELECT name FROM t";
    c->Check(dac::OCIStmtPrepare(st, c->GetErrorHandle(), reinterpret_cast<const OraText*>(sql),
                                 static_cast<ub4>(std::strlen(sql)), OCI_NTV_SYNTAX, OCI_DEFAULT));
    char name[5] = "";
    sb2 ind = 0;
    ub2 len = 0, code = 0;
    OCIDefine* d = nullptr;
    c->Check(dac::OCIDefineByPos(st, &d, c->GetErrorHandle(), 1, name, sizeof name, SQLT_STR, &ind, &len,
                                 &code, OCI_DEFAULT));
    // a value cut to its buffer is a warning: the fetch succeeded with information
    sword status =
        dac::OCIStmtExecute(c->GetSvcCtx(), st, c->GetErrorHandle(), 1, 0, nullptr, nullptr, OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS_WITH_INFO, status);
    EXPECT_NO_THROW(c->Check(status));
    ASSERT_EQ(1u, infos.size());
    EXPECT_EQ(1406, infos[0].first);
    EXPECT_EQ(0u, infos[0].second.rfind("ORA-01406: fetched column value was truncated", 0))
        << infos[0].second;
    EXPECT_EQ(0, processed);  // no error processing for a warning
    EXPECT_EQ(1406, c->LastErrorCode());
    EXPECT_STREQ("abcd", name);
    EXPECT_EQ(10, ind);  // the full length
    EXPECT_EQ(4, len);   // what arrived
    EXPECT_EQ(1406, code);
    // without a hook a warning is dropped
    c->OnInfoMessage = nullptr;
    EXPECT_NO_THROW(c->Check(status));
    // the next call that succeeds leaves no warning behind
    c->Check(dac::OCIPing(c->GetSvcCtx(), c->GetErrorHandle(), OCI_DEFAULT));
    sb4 left = 0;
    OraText buffer[64];
    EXPECT_EQ(OCI_NO_DATA, dac::OCIErrorGet(c->GetErrorHandle(), 1, nullptr, &left, buffer, sizeof buffer,
                                            OCI_HTYPE_ERROR));
    dac::OCIHandleFree(stmt, OCI_HTYPE_STMT);
}

TEST_F(OraConnectionTest, SuccessWithCompilationErrorIsAnError) {
    auto c = newConnection();
    c->Connect("");
    int infos = 0, processed = 0;
    c->OnInfoMessage = [&](EOraError&) { ++infos; };
    c->OnError = [&](rtl::Exception* e, bool&, bool&, bool&, int, TConnLostCause&) {
        ++processed;
        EXPECT_EQ(24344, dynamic_cast<EOraError*>(e)->ErrorCode);
    };
    // The stand-in compiles nothing: the record comes from a replaced OCIErrorGet.
    auto saved = dac::OCIErrorGet;
    dac::OCIErrorGet = &FakeErrorGet;
    fakeCode = 24344;
    fakeText = "ORA-24344: success with compilation error";
    EXPECT_EQ(24344, OraErrorCode([&] { c->Check(OCI_SUCCESS_WITH_INFO); }));
    fakeCode = 24347;
    fakeText = "ORA-24347: Warning of a NULL column in an aggregate function";
    EXPECT_NO_THROW(c->Check(OCI_SUCCESS_WITH_INFO));
    dac::OCIErrorGet = saved;
    EXPECT_EQ(1, processed);
    EXPECT_EQ(1, infos);
}

TEST_F(OraConnectionTest, SessionParametersAreReadFromThisSession) {
    auto a = newConnection();
    auto b = newConnection("ZUV", "zuv");
    a->Connect("");
    b->Connect("");
    std::vector<TOCISessionParam> none;
    a->ExecSessionSQL("ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY' NLS_NUMERIC_CHARACTERS=', '", none);
    a->SetProp(prCharLength, int32_t{0});
    b->SetProp(prCharLength, int32_t{0});
    EXPECT_EQ("DD.MM.YYYY", a->NlsParam(nlsDateFormat).Value);
    EXPECT_EQ(", ", a->NlsParam(nlsNumericCharacters).Value);
    EXPECT_EQ("DD-MON-RR", b->NlsParam(nlsDateFormat).Value);
    EXPECT_EQ(".,", b->NlsParam(nlsNumericCharacters).Value);
    // a parameter the server does not know fails as Oracle's does
    EXPECT_EQ(2248, OraErrorCode([&] { a->SetSessionParameter("NLS_NO_SUCH_THING", "x"); }));
}
