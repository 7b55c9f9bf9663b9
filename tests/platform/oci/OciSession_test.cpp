// Loading contract, logon, server banner, ping and injected faults.
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "OciFixture.h"

TEST(OciLibrary, ReportsClientVersion) {
    sword v[5] = {-1, -1, -1, -1, -1};
    OCIClientVersion(&v[0], &v[1], &v[2], &v[3], &v[4]);
    EXPECT_EQ(11, v[0]);
    EXPECT_EQ(2, v[1]);
    EXPECT_EQ(0, v[2]);
    EXPECT_EQ(4, v[3]);
    EXPECT_EQ(0, v[4]);
    EXPECT_EQ(0, opinit(0));
}

TEST(OciLibrary, RefusesForeignPointersAndUtf16Environment) {
    OCIEnv* env = nullptr;
    EXPECT_EQ(OCI_ERROR, OCIEnvCreate(&env, OCI_UTF16, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(nullptr, env);
    int notAHandle = 0;
    void* h = nullptr;
    EXPECT_EQ(OCI_INVALID_HANDLE, OCIHandleAlloc(&notAHandle, &h, OCI_HTYPE_ERROR, 0, nullptr));
    EXPECT_EQ(OCI_INVALID_HANDLE, OCIHandleFree(&notAHandle, OCI_HTYPE_STMT));
}

TEST_F(OciTest, HandleTypesMustMatch) {
    OCIStmt* st = newStmt();
    EXPECT_EQ(OCI_INVALID_HANDLE, OCIHandleFree(st, OCI_HTYPE_ERROR));
    EXPECT_EQ(OCI_INVALID_HANDLE, OCIDescriptorFree(st, OCI_DTYPE_PARAM));
    EXPECT_EQ(OCI_SUCCESS, OCIHandleFree(st, OCI_HTYPE_STMT));
    EXPECT_EQ(OCI_INVALID_HANDLE, OCIHandleFree(st, OCI_HTYPE_STMT));  // already gone
}

TEST_F(OciTest, LogonChecksCredentials) {
    // a user whose catalog password is empty still cannot log on without one
    dbExec("INSERT INTO oci_user VALUES ('nopass', '')");
    struct Case {
        const char* user;
        const char* password;
        const char* error;
    };
    const Case cases[] = {
        {"qel", "secret", nullptr},
        {"QEL", "secret", nullptr},
        {"zuv", "zuv", nullptr},
        {"qel", "SECRET", "ORA-01017: invalid username/password; logon denied\n"},
        {"nobody", "secret", "ORA-01017: invalid username/password; logon denied\n"},
        {"", "", "ORA-01017: invalid username/password; logon denied\n"},
        {"nopass", "", "ORA-01005: null password given; logon denied\n"},
        {"qel", "", "ORA-01005: null password given; logon denied\n"},
        {"nopass", "x", "ORA-01017: invalid username/password; logon denied\n"},
    };
    for (const Case& k : cases) {
        OciConn c;
        sword rc = logon(c, k.user, k.password);
        if (!k.error) {
            EXPECT_EQ(OCI_SUCCESS, rc) << k.user << ": " << errorText();
            logoff(c);
        } else {
            ASSERT_EQ(OCI_ERROR, rc) << k.user;
            EXPECT_EQ(k.error, errorText()) << k.user << "/" << k.password;
        }
    }
}

TEST_F(OciTest, EachCallStartsWithACleanErrorRecord) {
    OciConn c = connect();
    EXPECT_EQ(OCI_ERROR, run(c, "SELECT * FROM no_such_table"));
    EXPECT_EQ(942, errorCode());
    // calls of every kind that succeed leave no record behind
    const std::function<sword()> calls[] = {
        [&] { return OCIPing(c.svc, err_, 0); },
        [&] { return OCIBreak(c.svc, err_); },
        [&] { return OCITransCommit(c.svc, err_, 0); },
        [&] {
            ub4 n = 0;
            OCIStmt* st = newStmt();
            sword rc = OCIAttrGet(st, OCI_HTYPE_STMT, &n, nullptr, OCI_ATTR_PREFETCH_ROWS, err_);
            OCIHandleFree(st, OCI_HTYPE_STMT);
            return rc;
        },
        [&] {
            OCINumber a{}, b{};
            a.OCINumberPart[0] = 1;
            a.OCINumberPart[1] = 0x80;
            return OCINumberAssign(err_, &a, &b);
        },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(OCI_ERROR, run(c, "SELECT * FROM no_such_table"));
        ASSERT_EQ(OCI_SUCCESS, call()) << errorText();
        OraText buf[64];
        sb4 code = 0;
        EXPECT_EQ(OCI_NO_DATA, OCIErrorGet(err_, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR));
    }
    logoff(c);
}

TEST_F(OciTest, UnknownDatabaseIsNotResolved) {
    OCIServer* srv = nullptr;
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    const char* name = "no_such_database_here";
    EXPECT_EQ(OCI_ERROR, OCIServerAttach(srv, err_, reinterpret_cast<const OraText*>(name), strlen(name), 0));
    EXPECT_EQ(12154, errorCode());
}

TEST_F(OciTest, DatabaseNameResolvesUnderOracleHome) {
    std::string home = dir_ + "/home";
    std::filesystem::create_directories(home + "/dbs");
    std::filesystem::copy_file(db_, home + "/dbs/ORCL.db");
    setenv("ORACLE_HOME", home.c_str(), 1);
    OCIServer* srv = nullptr;
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    for (const char* name : {"ORCL", "localhost:1521/ORCL"})
        EXPECT_EQ(OCI_SUCCESS,
                  OCIServerAttach(srv, err_, reinterpret_cast<const OraText*>(name), strlen(name), 0))
            << name << ": " << errorText();
    unsetenv("ORACLE_HOME");
}

TEST_F(OciTest, ServerBannerAndPing) {
    OciConn c = connect();
    char banner[256] = {0};
    OCI_OK(
        OCIServerVersion(c.svc, err_, reinterpret_cast<OraText*>(banner), sizeof banner, OCI_HTYPE_SVCCTX));
    std::string b = banner;
    auto rel = b.find("Release ");
    ASSERT_NE(std::string::npos, rel);
    EXPECT_EQ(std::string::npos, b.substr(0, rel).find('.'));
    EXPECT_EQ("Release 11.2.0.4.0 - Production", b.substr(rel));
    OCI_OK(OCIPing(c.svc, err_, 0));
    OCI_OK(OCIBreak(c.svc, err_));
    logoff(c);
}

TEST_F(OciTest, LostConnectionFaultFiresOnceThenSessionIsDead) {
    OciConn a = connect();
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1)");
    EXPECT_EQ(OCI_ERROR, run(a, "INSERT INTO client(client_id) VALUES (1)"));
    EXPECT_EQ(3113, errorCode());
    EXPECT_EQ(OCI_ERROR, OCIPing(a.svc, err_, 0));
    EXPECT_EQ(3114, errorCode());
    EXPECT_EQ(OCI_ERROR, OCITransCommit(a.svc, err_, 0));
    EXPECT_EQ(3114, errorCode());
    logoff(a);
    // the fault is used up: a new session works, and the failed insert left nothing behind
    OciConn b = connect();
    OCI_OK(OCIPing(b.svc, err_, 0));
    OCI_OK(run(b, "INSERT INTO client(client_id) VALUES (2)"));
    OCI_OK(OCITransCommit(b.svc, err_, 0));
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM client WHERE client_id = 1"));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM client WHERE client_id = 2"));
    logoff(b);
}

TEST_F(OciTest, LostConnectionRollsBackOpenWork) {
    // the insert passes the fault's check once; the commit after it meets the lost connection
    dbExec("INSERT INTO oci_fault(kind, times, after_calls) VALUES ('LOST_CONNECTION', 1, 1)");
    OciConn a = connect();
    OCI_OK(run(a, "INSERT INTO client(client_id) VALUES (7)"));
    EXPECT_EQ(OCI_ERROR, OCITransCommit(a.svc, err_, 0));
    EXPECT_EQ(3113, errorCode());
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM client"));
    logoff(a);
}

TEST_F(OciTest, FaultForAnotherUserLeavesSessionAlone) {
    OciConn a = connect();
    dbExec("INSERT INTO oci_fault(kind, target) VALUES ('LOST_CONNECTION', 'zuv')");
    OCI_OK(OCIPing(a.svc, err_, 0));
    OciConn z;
    OCI_OK(logon(z, "zuv", "zuv"));
    EXPECT_EQ(OCI_ERROR, OCIPing(z.svc, err_, 0));
    EXPECT_EQ(3113, errorCode());
    logoff(z);
    logoff(a);
}

TEST_F(OciTest, LogonFaultRefusesTheConnection) {
    dbExec("INSERT INTO oci_fault(kind, code, times) VALUES ('LOGON', 12541, 2)");
    for (int k = 0; k < 2; ++k) {
        OciConn c;
        EXPECT_EQ(OCI_ERROR, logon(c, "qel", "secret"));
        EXPECT_EQ(12541, errorCode());
    }
    OciConn c;
    OCI_OK(logon(c, "qel", "secret"));
    logoff(c);
}

TEST_F(OciTest, SessionEndRollsBackUncommittedWork) {
    OciConn a = connect();
    OCI_OK(run(a, "INSERT INTO client(client_id) VALUES (1)"));
    logoff(a);
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM client"));
}

TEST_F(OciTest, AlterSessionIsAcceptedAndRecorded) {
    OciConn a = connect();
    OCI_OK(run(a, "ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY'"));
    OCI_OK(run(a, "INSERT INTO client(client_id) VALUES (1)"));
    OCI_OK(run(a, "ALTER SESSION SET CURRENT_SCHEMA = zuv"));
    // written even while a transaction is open, and kept when that transaction is rolled back
    OCI_OK(OCITransRollback(a.svc, err_, 0));
    EXPECT_EQ(OCI_ERROR, run(a, "ALTER SESSION SET CURRENT_SCHEMA = nobody"));
    EXPECT_EQ(1435, errorCode());
    EXPECT_EQ(2, dbInt("SELECT count(*) FROM oci_session_log WHERE username = 'QEL'"));
    EXPECT_EQ(
        1,
        dbInt("SELECT count(*) FROM oci_session_log WHERE text = 'ALTER SESSION SET CURRENT_SCHEMA = zuv'"));
    OCIStmt* st = prepare("begin  :Result := SYS_CONTEXT ('USERENV', 'CURRENT_SCHEMA');end;");
    char result[51] = {0};
    sb2 ind = 0;
    OCIBind* b = nullptr;
    OCI_OK(OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>("Result"), 6, result, sizeof result,
                         SQLT_STR, &ind, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIStmtExecute(a.svc, st, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_STREQ("ZUV", result);
    logoff(a);
}

TEST_F(OciTest, SessionsOnTwoThreadsTakeTurnsWriting) {
    // each thread has its own session and error handle, as the services' threads do
    auto worker = [&](int base, sword* result) {
        OCIError* err = nullptr;
        OCIHandleAlloc(env_, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
        OCIServer* srv = nullptr;
        OCISvcCtx* svc = nullptr;
        OCISession* ses = nullptr;
        OCIHandleAlloc(env_, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
        OCIHandleAlloc(env_, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
        OCIHandleAlloc(env_, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
        *result = OCIServerAttach(srv, err, reinterpret_cast<const OraText*>(db_.c_str()), db_.size(), 0);
        OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
        OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("qel"), 3, OCI_ATTR_USERNAME, err);
        OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("secret"), 6, OCI_ATTR_PASSWORD, err);
        if (*result == OCI_SUCCESS) *result = OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, 0);
        OCIStmt* st = nullptr;
        OCIHandleAlloc(env_, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr);
        const char* sql = "INSERT INTO client(client_id) VALUES (:ID)";
        OCIStmtPrepare(st, err, reinterpret_cast<const OraText*>(sql), static_cast<ub4>(strlen(sql)), 1, 0);
        int32_t id = 0;
        OCIBind* b = nullptr;
        OCIBindByName(st, &b, err, reinterpret_cast<const OraText*>("ID"), 2, &id, 4, SQLT_INT, nullptr,
                      nullptr, nullptr, 0, nullptr, 0);
        for (int k = 0; k < 40 && *result == OCI_SUCCESS; ++k) {
            id = base + k;
            *result = OCIStmtExecute(svc, st, err, 1, 0, nullptr, nullptr, 0);
            if (*result == OCI_SUCCESS) *result = OCITransCommit(svc, err, 0);
        }
        OCIHandleFree(st, OCI_HTYPE_STMT);
        OCISessionEnd(svc, err, ses, 0);
        OCIHandleFree(ses, OCI_HTYPE_SESSION);
        OCIHandleFree(svc, OCI_HTYPE_SVCCTX);
        OCIHandleFree(srv, OCI_HTYPE_SERVER);
        OCIHandleFree(err, OCI_HTYPE_ERROR);
    };
    sword r1 = -9, r2 = -9;
    std::thread t1(worker, 1000, &r1), t2(worker, 2000, &r2);
    t1.join();
    t2.join();
    EXPECT_EQ(OCI_SUCCESS, r1);
    EXPECT_EQ(OCI_SUCCESS, r2);
    EXPECT_EQ(80, dbInt("SELECT count(*) FROM client"));
}
