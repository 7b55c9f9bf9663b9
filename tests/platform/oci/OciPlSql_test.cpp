// PL/SQL call blocks over catalog procedures, REF cursors, describe of packages, raised errors.
#include <cstring>

#include "OciFixture.h"

namespace {

const char* kCatalog = R"sql(
CREATE TABLE exch_param(name TEXT PRIMARY KEY, value TEXT);
INSERT INTO exch_param VALUES ('SOURCE_DATA', '0'), ('FolderSharing', 'Sharing');
CREATE TABLE package(id VARCHAR2(38) PRIMARY KEY, created DATE);
CREATE TABLE audit(x NUMBER);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60)
  INSERT INTO client(client_id, client_name, balance) SELECT i, 'client ' || i, i % 2 FROM n;

INSERT INTO oci_procedure(package, name, kind, body) VALUES
  ('ZUV_EXPORT_OUT_PACK', 'get_zuv_param', 'PROCEDURE',
   'SELECT (SELECT value FROM exch_param WHERE name = :P_PARAM) AS P_VALUE'),
  ('ZUV_EXPORT_OUT_PACK', 'get_new_client_list_qel', 'PROCEDURE',
   'OPEN :P_DATASET FOR SELECT client_id, client_name, balance FROM client
      WHERE :P_CLIENT_TYPE = 0 OR balance = :P_CLIENT_TYPE ORDER BY client_id'),
  ('ZUV_EXPORT_OUT_PACK', 'get_nothing', 'PROCEDURE', 'SELECT 1'),
  ('ZUV_EXPORT_OUT_PACK', 'get_zuv_qel_db_version', 'FUNCTION', 'SELECT ''2.9.1.0 stand-in'' AS RESULT'),
  ('ZUV_EXPORT_OUT_PACK', 'add_new_package', 'PROCEDURE',
   'INSERT INTO package(id, created) VALUES (:P_PACKAGE_ID, :P_DATETIME_CREATE)'),
  ('ZUV_EXPORT_OUT_PACK', 'check_value', 'PROCEDURE',
   'INSERT INTO audit(x) VALUES (:P_X);
    SELECT raise_application_error(-20001, ''negative: '' || :P_X) WHERE :P_X < 0;
    SELECT :P_X * 2 AS P_ERROR_CODE'),
  ('ZUV_EXPORT_OUT_PACK', 'with_default', 'PROCEDURE', 'SELECT :P_A + :P_B AS P_SUM'),
  (NULL, 'f_add', 'FUNCTION', 'SELECT :A + :B AS RESULT'),
  (NULL, 'is_even', 'FUNCTION', 'SELECT :N % 2 = 0 AS RESULT');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction, data_length, data_precision,
                         data_scale, default_value) VALUES
  ('ZUV_EXPORT_OUT_PACK', 'get_zuv_param', 1, 'P_PARAM', 'VARCHAR2', 'IN', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'get_zuv_param', 2, 'P_VALUE', 'VARCHAR2', 'OUT', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'get_new_client_list_qel', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'get_new_client_list_qel', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'get_nothing', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'get_zuv_qel_db_version', 0, NULL, 'VARCHAR2', 'OUT', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'add_new_package', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', 38, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'add_new_package', 2, 'P_DATETIME_CREATE', 'DATE', 'IN', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'check_value', 1, 'P_X', 'NUMBER', 'IN', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'check_value', 2, 'P_ERROR_CODE', 'NUMBER', 'OUT', NULL, NULL, NULL, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'with_default', 1, 'P_A', 'NUMBER', 'IN', NULL, 9, 0, NULL),
  ('ZUV_EXPORT_OUT_PACK', 'with_default', 2, 'P_B', 'NUMBER', 'IN', NULL, NULL, NULL, '10'),
  ('ZUV_EXPORT_OUT_PACK', 'with_default', 3, 'P_SUM', 'NUMBER', 'OUT', NULL, NULL, NULL, NULL),
  (NULL, 'f_add', 0, NULL, 'NUMBER', 'OUT', NULL, NULL, NULL, NULL),
  (NULL, 'f_add', 1, 'A', 'NUMBER', 'IN', NULL, NULL, NULL, NULL),
  (NULL, 'f_add', 2, 'B', 'NUMBER', 'IN', NULL, NULL, NULL, NULL),
  (NULL, 'is_even', 0, NULL, 'BOOLEAN', 'OUT', NULL, NULL, NULL, NULL),
  (NULL, 'is_even', 1, 'N', 'NUMBER', 'IN', NULL, NULL, NULL, NULL);
)sql";

class OciPlSqlTest : public OciSessionTest {
protected:
    void SetUp() override {
        OciSessionTest::SetUp();
        dbExec(kCatalog);
    }
};

}  // namespace

TEST_F(OciPlSqlTest, CatalogProcedureReturnsCursorOf60Rows) {
    OCIStmt* st =
        prepare("begin\r  ZUV_EXPORT_OUT_PACK.get_new_client_list_qel(:P_CLIENT_TYPE, :P_DATASET);\rend;");
    OCIStmt* cur = newStmt();
    ub4 prefetch = 0;
    OCI_OK(OCIAttrSet(cur, OCI_HTYPE_STMT, &prefetch, 4, OCI_ATTR_PREFETCH_ROWS, err_));
    int32_t clientType = 0;
    bind(st, "P_CLIENT_TYPE", &clientType, 4, SQLT_INT);
    bind(st, "P_DATASET", &cur, 0, SQLT_RSET);
    OCI_OK(exec(st));
    EXPECT_EQ(1u, attr<ub4>(st, OCI_HTYPE_STMT, OCI_ATTR_ROW_COUNT));
    EXPECT_EQ(8, attr<ub2>(st, OCI_HTYPE_STMT, OCI_ATTR_STMT_TYPE));
    EXPECT_EQ(ub4(OCI_STMT_STATE_EXECUTED), attr<ub4>(cur, OCI_HTYPE_STMT, OCI_ATTR_STMT_STATE));
    ASSERT_EQ(3u, attr<ub4>(cur, OCI_HTYPE_STMT, OCI_ATTR_PARAM_COUNT));
    OCIParam* p = nullptr;
    OCI_OK(OCIParamGet(cur, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 2));
    EXPECT_EQ("CLIENT_NAME", textAttr(p, OCI_ATTR_NAME));
    OCIDescriptorFree(p, OCI_DTYPE_PARAM);

    struct Row {
        double id;
        char name[41];
        sb2 ind[2];
    } rows[25];
    OCIDefine* d1 = nullptr;
    OCIDefine* d2 = nullptr;
    OCI_OK(OCIDefineByPos(cur, &d1, err_, 1, &rows[0].id, 8, SQLT_FLT, &rows[0].ind[0], nullptr, nullptr, 0));
    OCI_OK(
        OCIDefineByPos(cur, &d2, err_, 2, rows[0].name, 41, SQLT_STR, &rows[0].ind[1], nullptr, nullptr, 0));
    OCI_OK(OCIDefineArrayOfStruct(d1, err_, sizeof(Row), sizeof(Row), 0, 0));
    OCI_OK(OCIDefineArrayOfStruct(d2, err_, sizeof(Row), sizeof(Row), 0, 0));
    ub4 before = 0;
    int total = 0;
    sword rc;
    do {
        rc = OCIStmtFetch(cur, err_, 25, OCI_FETCH_NEXT, 0);
        ASSERT_TRUE(rc == OCI_SUCCESS || rc == OCI_NO_DATA) << errorText();
        ub4 now = attr<ub4>(cur, OCI_HTYPE_STMT, OCI_ATTR_ROW_COUNT);
        for (ub4 r = 0; r < now - before; ++r) {
            ++total;
            EXPECT_EQ(total, rows[r].id);
            EXPECT_EQ("client " + std::to_string(total), rows[r].name);
        }
        before = now;
    } while (rc == OCI_SUCCESS);
    EXPECT_EQ(60, total);

    // run again with another input: the same handle gets the new cursor
    clientType = 1;
    OCI_OK(exec(st));
    EXPECT_EQ(OCI_SUCCESS, OCIStmtFetch(cur, err_, 25, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(OCI_NO_DATA, OCIStmtFetch(cur, err_, 25, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(30u, attr<ub4>(cur, OCI_HTYPE_STMT, OCI_ATTR_ROW_COUNT));
    OCIHandleFree(cur, OCI_HTYPE_STMT);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciPlSqlTest, CursorNotOpenedStaysInitialized) {
    OCIStmt* st = prepare("begin ZUV_EXPORT_OUT_PACK.GET_NOTHING(:P_DATASET); end;");
    OCIStmt* cur = newStmt();
    bind(st, "P_DATASET", &cur, 0, SQLT_RSET);
    OCI_OK(exec(st));
    EXPECT_EQ(ub4(OCI_STMT_STATE_INITIALIZED), attr<ub4>(cur, OCI_HTYPE_STMT, OCI_ATTR_STMT_STATE));
    OCIHandleFree(cur, OCI_HTYPE_STMT);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciPlSqlTest, FunctionCallsAndOutputs) {
    struct Case {
        const char* block;
        const char* in;  // bound to :P_IN when set
        const char* want;
    };
    const Case cases[] = {
        {"begin\r  :RESULT := ZUV_EXPORT_OUT_PACK.get_zuv_qel_db_version;\rend;", nullptr,
         "2.9.1.0 stand-in"},
        {"begin\n  :RESULT := f_add(:P_IN, 2);\nend;", "40", "42"},
        {"begin :RESULT := QEL.F_ADD(B => 1.5, A => :P_IN); end;", "-0.25", "1.25"},
        {"begin zuv_export_out_pack.get_zuv_param(:P_IN, :RESULT); end;", "FolderSharing", "Sharing"},
        {"begin ZUV_EXPORT_OUT_PACK.with_default(P_A => :P_IN, P_SUM => :RESULT); end;", "5", "15"},
        {"declare\r  v_RESULT boolean;\rbegin\r  v_RESULT := IS_EVEN(:P_IN);\r"
         "  :RESULT := sys.DIUTIL.BOOL_TO_INT(v_RESULT);\rend;",
         "4", "1"},
        {"begin  :result := sys.dbms_transaction.local_transaction_id(true); end;", nullptr, "*"},
    };
    for (const Case& k : cases) {
        OCIStmt* st = prepare(k.block);
        char result[64] = "untouched";
        sb2 ind = 5;
        char in[32] = {0};
        bind(st, "RESULT", result, sizeof result, SQLT_STR, &ind);
        if (k.in) {
            std::strcpy(in, k.in);
            bind(st, "P_IN", in, sizeof in, SQLT_STR);
        }
        EXPECT_EQ(OCI_SUCCESS, exec(st)) << k.block << ": " << errorText();
        EXPECT_EQ(0, ind) << k.block;
        if (std::string(k.want) == "*") {
            EXPECT_GT(strlen(result), 0u);
        } else {
            EXPECT_STREQ(k.want, result) << k.block;
        }
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
}

// Routines are kept between calls of a session; a change of the catalog, by another connection or
// by the session itself (committed or not), reaches the next call all the same.
TEST_F(OciPlSqlTest, CatalogChangesReachTheNextCall) {
    const auto call = [&] {
        OCIStmt* st = prepare("begin :RESULT := f_add(2, 3); end;");
        char result[32] = "untouched";
        bind(st, "RESULT", result, sizeof result, SQLT_STR);
        EXPECT_EQ(OCI_SUCCESS, exec(st)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return std::string(result);
    };
    const auto run = [&](const char* sql) {
        OCIStmt* st = prepare(sql);
        EXPECT_EQ(OCI_SUCCESS, exec(st)) << sql << ": " << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
    };
    EXPECT_EQ("5", call());
    EXPECT_EQ("5", call());
    dbExec("UPDATE oci_procedure SET body = 'SELECT :A * :B AS RESULT' WHERE name = 'f_add'");
    EXPECT_EQ("6", call()) << "changed by another connection";
    run("UPDATE oci_procedure SET body = 'SELECT :A - :B AS RESULT' WHERE name = 'f_add'");
    EXPECT_EQ("-1", call()) << "changed by the session, not committed";
    OCI_OK(OCITransRollback(c_.svc, err_, 0));
    EXPECT_EQ("6", call()) << "the change rolled back";
}

TEST_F(OciPlSqlTest, MissingSettingReadsAsNull) {
    OCIStmt* st = prepare("begin ZUV_EXPORT_OUT_PACK.get_zuv_param(:P_PARAM, :P_VALUE); end;");
    char param[21] = "NoSuchSetting";
    char value[256] = "old";
    sb2 ind = 0;
    bind(st, "P_PARAM", param, sizeof param, SQLT_STR);
    bind(st, "P_VALUE", value, sizeof value, SQLT_STR, &ind);
    OCI_OK(exec(st));
    EXPECT_EQ(-1, ind);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciPlSqlTest, OutputLongerThanItsBufferRaises) {
    OCIStmt* st = prepare("begin :R := ZUV_EXPORT_OUT_PACK.get_zuv_qel_db_version; end;");
    char small[5];
    bind(st, "R", small, sizeof small, SQLT_STR);
    EXPECT_EQ(OCI_ERROR, exec(st));
    EXPECT_EQ(6502, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciPlSqlTest, TransactionIdFollowsTheTransaction) {
    auto txnId = [&](const char* block) {
        OCIStmt* st = prepare(block);
        char id[4001] = {0};
        sb2 ind = 0;
        bind(st, "result", id, sizeof id, SQLT_STR, &ind);
        EXPECT_EQ(OCI_SUCCESS, exec(st)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return ind == -1 ? std::string("NULL") : std::string(id);
    };
    const char* start = "begin  :result := sys.dbms_transaction.local_transaction_id(true); end;";
    const char* probe = "begin  :result := sys.dbms_transaction.local_transaction_id; end;";
    EXPECT_EQ("NULL", txnId(probe));
    std::string id = txnId(start);
    EXPECT_NE("NULL", id);
    EXPECT_EQ(id, txnId(probe));
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ("NULL", txnId(probe));
    OCI_OK(run(c_, "begin SET TRANSACTION READ ONLY NAME 'x'; end;"));
    EXPECT_NE("NULL", txnId(probe));
    OCI_OK(OCITransRollback(c_.svc, err_, 0));
    EXPECT_EQ("NULL", txnId(probe));
}

TEST_F(OciPlSqlTest, ErrorsInsideProceduresAndBlockAtomicity) {
    OCIStmt* st = prepare("begin ZUV_EXPORT_OUT_PACK.check_value(:P_X, :P_ERROR_CODE); end;");
    double x = 3, code = 0;
    sb2 ind = 0;
    bind(st, "P_X", &x, 8, SQLT_FLT);
    bind(st, "P_ERROR_CODE", &code, 8, SQLT_FLT, &ind);
    OCI_OK(exec(st));
    EXPECT_EQ(6.0, code);
    x = -1;
    code = 0;
    EXPECT_EQ(OCI_ERROR, exec(st));
    EXPECT_EQ("ORA-20001: negative: -1.0\n", errorText());
    EXPECT_EQ(0.0, code);  // outputs stay as they were
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    // the failed call's own insert went with it; the earlier call's stayed
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM audit"));
    EXPECT_EQ(3, dbInt("SELECT x FROM audit"));

    // duplicate package ids
    OCIStmt* add =
        prepare("begin ZUV_EXPORT_OUT_PACK.add_new_package(:P_PACKAGE_ID, :P_DATETIME_CREATE); end;");
    char id[39] = "{6F9619FF-8B86-D011-B42D-00C04FC964FF}";
    ub1 created[7] = {120, 126, 12, 10, 1, 1, 1};
    bind(add, "P_PACKAGE_ID", id, sizeof id, SQLT_STR);
    bind(add, "P_DATETIME_CREATE", created, 7, SQLT_DAT);
    OCI_OK(exec(add));
    EXPECT_EQ(OCI_ERROR, exec(add));
    EXPECT_EQ(1, errorCode());
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM package WHERE created = '2026-12-10 00:00:00'"));
    OCIHandleFree(add, OCI_HTYPE_STMT);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciPlSqlTest, InjectedProcedureFault) {
    dbExec(
        "INSERT INTO oci_fault(kind, target, code, message, times) VALUES "
        "('RAISE', 'zuv_export_out_pack.get_zuv_param', 20777, 'injected', 1)");
    OCIStmt* st = prepare("begin ZUV_EXPORT_OUT_PACK.get_zuv_param(:P_PARAM, :P_VALUE); end;");
    char param[21] = "SOURCE_DATA";
    char value[256] = "";
    bind(st, "P_PARAM", param, sizeof param, SQLT_STR);
    bind(st, "P_VALUE", value, sizeof value, SQLT_STR);
    EXPECT_EQ(OCI_ERROR, exec(st));
    EXPECT_EQ("ORA-20777: injected\n", errorText());
    OCI_OK(exec(st));
    EXPECT_STREQ("0", value);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciPlSqlTest, BadCallsAreCompileErrors) {
    struct Case {
        const char* block;
        const char* pls;
    };
    const Case cases[] = {
        {"begin no_such_pkg.proc(:A); end;", "PLS-00201"},
        {"begin ZUV_EXPORT_OUT_PACK.get_zuv_param(:A); end;", "PLS-00306"},
        {"begin ZUV_EXPORT_OUT_PACK.get_zuv_param(:A, 'literal'); end;", "PLS-00306"},
        {"begin :A := ZUV_EXPORT_OUT_PACK.get_zuv_param(:A, :A); end;", "PLS-00222"},
        {"begin ZUV_EXPORT_OUT_PACK.get_zuv_param(:A, :A) end;", "PLS-00103"},
    };
    for (const Case& k : cases) {
        OCIStmt* st = prepare(k.block);
        char a[16] = "x";
        bind(st, "A", a, sizeof a, SQLT_STR);
        EXPECT_EQ(OCI_ERROR, exec(st)) << k.block;
        sb4 code = 0;
        std::string text = errorText(&code);
        EXPECT_EQ(6550, code) << k.block;
        EXPECT_NE(std::string::npos, text.find(k.pls)) << text;
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
}

TEST_F(OciPlSqlTest, DescribeAnyOfAPackagedProcedure) {
    OCIDescribe* dsc = nullptr;
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&dsc), OCI_HTYPE_DESCRIBE, 0, nullptr));
    auto describe = [&](const char* name) {
        return OCIDescribeAny(c_.svc, err_, const_cast<char*>(name), static_cast<ub4>(strlen(name)),
                              OCI_OTYPE_NAME, 0, OCI_PTYPE_UNK, dsc);
    };
    // "PKG.PROC" names schema PKG, object PROC: not found, as the client expects before it tries "PKG"
    EXPECT_EQ(OCI_ERROR, describe("ZUV_EXPORT_OUT_PACK.GET_NEW_CLIENT_LIST_QEL"));
    EXPECT_EQ(4043, errorCode());
    EXPECT_EQ(OCI_ERROR, describe("NO_SUCH_THING"));
    EXPECT_EQ("ORA-04043: object NO_SUCH_THING does not exist\n", errorText());

    OCI_OK(describe("ZUV_EXPORT_OUT_PACK"));
    OCIParam* pkg = attr<OCIParam*>(dsc, OCI_HTYPE_DESCRIBE, OCI_ATTR_PARAM);
    EXPECT_EQ(OCI_PTYPE_PKG, attr<ub1>(pkg, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
    OCIParam* subs = attr<OCIParam*>(pkg, OCI_DTYPE_PARAM, OCI_ATTR_LIST_SUBPROGRAMS);
    ub2 n = attr<ub2>(subs, OCI_DTYPE_PARAM, OCI_ATTR_NUM_PARAMS);
    EXPECT_EQ(7, n);
    OCIParam* proc = nullptr;
    OCIParam* func = nullptr;
    for (ub4 k = 0; k < n; ++k) {  // sub-programs count from 0
        OCIParam* p = nullptr;
        OCI_OK(OCIParamGet(subs, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&p), k));
        std::string name = textAttr(p, OCI_ATTR_NAME);
        if (name == "GET_NEW_CLIENT_LIST_QEL") proc = p;
        if (name == "GET_ZUV_QEL_DB_VERSION") func = p;
    }
    ASSERT_NE(nullptr, proc);
    ASSERT_NE(nullptr, func);
    EXPECT_EQ(OCI_PTYPE_PROC, attr<ub1>(proc, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
    OCIParam* args = attr<OCIParam*>(proc, OCI_DTYPE_PARAM, OCI_ATTR_LIST_ARGUMENTS);
    EXPECT_EQ(OCI_LTYPE_ARG_PROC, attr<ub1>(args, OCI_DTYPE_PARAM, OCI_ATTR_LTYPE));
    ASSERT_EQ(2, attr<ub2>(args, OCI_DTYPE_PARAM, OCI_ATTR_NUM_PARAMS));
    struct Want {
        const char* name;
        ub2 type;
        ub4 mode;
    } want[] = {{"P_CLIENT_TYPE", SQLT_NUM, OCI_TYPEPARAM_IN}, {"P_DATASET", SQLT_CUR, OCI_TYPEPARAM_OUT}};
    for (ub4 k = 1; k <= 2; ++k) {  // procedure arguments count from 1
        OCIParam* a = nullptr;
        OCI_OK(OCIParamGet(args, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&a), k));
        EXPECT_EQ(OCI_PTYPE_ARG, attr<ub1>(a, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
        EXPECT_EQ(want[k - 1].name, textAttr(a, OCI_ATTR_NAME));
        EXPECT_EQ(want[k - 1].type, attr<ub2>(a, OCI_DTYPE_PARAM, OCI_ATTR_DATA_TYPE));
        EXPECT_EQ(want[k - 1].mode, attr<ub4>(a, OCI_DTYPE_PARAM, OCI_ATTR_IOMODE));
        EXPECT_EQ(0, attr<ub1>(a, OCI_DTYPE_PARAM, OCI_ATTR_HAS_DEFAULT));
        EXPECT_EQ(0, attr<sb2>(a, OCI_DTYPE_PARAM, OCI_ATTR_PRECISION));  // unconstrained NUMBER
    }
    OCIParam* none = nullptr;
    EXPECT_EQ(OCI_NO_DATA, OCIParamGet(args, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&none), 0));

    OCIParam* fargs = attr<OCIParam*>(func, OCI_DTYPE_PARAM, OCI_ATTR_LIST_ARGUMENTS);
    EXPECT_EQ(OCI_LTYPE_ARG_FUNC, attr<ub1>(fargs, OCI_DTYPE_PARAM, OCI_ATTR_LTYPE));
    ASSERT_EQ(1, attr<ub2>(fargs, OCI_DTYPE_PARAM, OCI_ATTR_NUM_PARAMS));
    OCIParam* ret = nullptr;
    OCI_OK(OCIParamGet(fargs, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&ret), 0));  // the result
    EXPECT_EQ(SQLT_CHR, attr<ub2>(ret, OCI_DTYPE_PARAM, OCI_ATTR_DATA_TYPE));
    EXPECT_EQ("", textAttr(ret, OCI_ATTR_NAME));

    // a stand-alone function under its owner's name, with a defaulted argument elsewhere
    OCI_OK(describe("QEL.F_ADD"));
    OCIParam* f = attr<OCIParam*>(dsc, OCI_HTYPE_DESCRIBE, OCI_ATTR_PARAM);
    EXPECT_EQ(OCI_PTYPE_FUNC, attr<ub1>(f, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
    EXPECT_EQ(3, attr<ub2>(attr<OCIParam*>(f, OCI_DTYPE_PARAM, OCI_ATTR_LIST_ARGUMENTS), OCI_DTYPE_PARAM,
                           OCI_ATTR_NUM_PARAMS));
    OCIHandleFree(dsc, OCI_HTYPE_DESCRIBE);
}

TEST_F(OciPlSqlTest, SessionBlocksOfTheClientLibrary) {
    OCIStmt* st = prepare("BEGIN DBMS_SESSION.SET_IDENTIFIER(:a); END;");
    char a[16] = "worker-1";
    bind(st, "a", a, sizeof a, SQLT_STR);
    OCI_OK(exec(st));
    OCIHandleFree(st, OCI_HTYPE_STMT);
    st = prepare("begin :r := SYS_CONTEXT('USERENV', 'CLIENT_IDENTIFIER'); end;");
    char r[16] = "";
    bind(st, "r", r, sizeof r, SQLT_STR);
    OCI_OK(exec(st));
    EXPECT_STREQ("worker-1", r);
    OCIHandleFree(st, OCI_HTYPE_STMT);

    st = prepare(
        "declare  cursor NlsParamsCursor is    SELECT * FROM nls_session_parameters;begin  SELECT "
        "Nvl(Lengthb(Chr(65536)), Nvl(Lengthb(Chr(256)), 1))    INTO :CharLength FROM dual;  for NlsRecord "
        "in "
        "NlsParamsCursor loop    if NlsRecord.parameter = 'NLS_DATE_FORMAT' then      :NlsDateFormat := "
        "NlsRecord.value;    end if;  end loop;end;");
    int32_t charLength = 0;
    char fmt[41] = "";
    bind(st, "CharLength", &charLength, 4, SQLT_INT);
    bind(st, "NlsDateFormat", fmt, sizeof fmt, SQLT_STR);
    OCI_OK(exec(st));
    EXPECT_EQ(1, charLength);
    EXPECT_STREQ("DD-MON-RR", fmt);
    OCIHandleFree(st, OCI_HTYPE_STMT);

    st = prepare(
        "begin SELECT count(*), max(client_name) INTO :n, :m FROM client WHERE client_id <= :k; end;");
    int32_t n = 0, k = 3;
    char m[41] = "";
    bind(st, "n", &n, 4, SQLT_INT);
    bind(st, "m", m, sizeof m, SQLT_STR);
    bind(st, "k", &k, 4, SQLT_INT);
    OCI_OK(exec(st));
    EXPECT_EQ(3, n);
    EXPECT_STREQ("client 3", m);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}
