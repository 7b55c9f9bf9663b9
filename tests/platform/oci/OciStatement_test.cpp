// SQL statements: describe, defines and array fetch, binds, DML, transactions as another session sees them.
#include <cstring>
#include <vector>

#include "OciFixture.h"
#include "platform/oci/StandIn.h"

namespace {

class OciStatementTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        std::string rows =
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60) "
            "INSERT INTO client SELECT i, 'client ' || i, i * 1.5, "
            "printf('2026-01-%02d 10:00:00', i % 28 + 1), 'C' || (i % 10), NULL FROM n";
        dbExec(rows);
        c_ = connect();
    }
    void TearDown() override {
        logoff(c_);
        OciTest::TearDown();
    }
    void bindName(OCIStmt* st, const char* name, void* v, sb4 size, ub2 type, sb2* ind = nullptr,
                  ub2* alen = nullptr) {
        OCIBind* b = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(name),
                                             static_cast<sb4>(strlen(name)), v, size, type, ind, alen,
                                             nullptr, 0, nullptr, OCI_DEFAULT))
            << errorText();
    }
    ub4 rowCount(OCIStmt* st) {
        ub4 n = 0;
        OCIAttrGet(st, OCI_HTYPE_STMT, &n, nullptr, OCI_ATTR_ROW_COUNT, err_);
        return n;
    }
    OciConn c_;
};

struct ClientRow {
    int32_t id;
    char name[41];
    double balance;
    ub1 created[7];
    sb2 ind[4];
};

void defineRows(OCIStmt* st, OCIError* err, ClientRow* rows) {
    OCIDefine* d[4] = {};
    OCIDefineByPos(st, &d[0], err, 1, &rows[0].id, 4, SQLT_INT, &rows[0].ind[0], nullptr, nullptr, 0);
    OCIDefineByPos(st, &d[1], err, 2, rows[0].name, sizeof rows[0].name, SQLT_STR, &rows[0].ind[1], nullptr,
                   nullptr, 0);
    OCIDefineByPos(st, &d[2], err, 3, &rows[0].balance, 8, SQLT_FLT, &rows[0].ind[2], nullptr, nullptr, 0);
    OCIDefineByPos(st, &d[3], err, 4, rows[0].created, 7, SQLT_DAT, &rows[0].ind[3], nullptr, nullptr, 0);
    for (OCIDefine* x : d) OCIDefineArrayOfStruct(x, err, sizeof(ClientRow), sizeof(ClientRow), 0, 0);
}

}  // namespace

TEST_F(OciStatementTest, SelectIsFetchedInBlocksOf25) {
    OCIStmt* st = prepare("SELECT client_id, client_name, balance, created FROM client ORDER BY client_id");
    ClientRow rows[25];
    defineRows(st, err_, rows);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    const sword statuses[] = {OCI_SUCCESS, OCI_SUCCESS, OCI_NO_DATA};
    const ub4 counts[] = {25, 50, 60};
    int seen = 0;
    for (int block = 0; block < 3; ++block) {
        std::memset(rows, 0x55, sizeof rows);
        EXPECT_EQ(statuses[block], OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0)) << errorText();
        EXPECT_EQ(counts[block], rowCount(st));
        ub4 got = counts[block] - (block ? counts[block - 1] : 0);
        for (ub4 r = 0; r < got; ++r) {
            ++seen;
            EXPECT_EQ(seen, rows[r].id);
            EXPECT_EQ("client " + std::to_string(seen), rows[r].name);
            EXPECT_DOUBLE_EQ(seen * 1.5, rows[r].balance);
            const ub1 want[7] = {120, 126, 1, static_cast<ub1>(seen % 28 + 1), 11, 1, 1};
            EXPECT_EQ(0, std::memcmp(want, rows[r].created, 7)) << seen;
            for (sb2 ind : rows[r].ind) EXPECT_EQ(0, ind);
        }
        // rows beyond the end are left untouched
        if (got < 25) {
            EXPECT_EQ(0x55555555u, static_cast<uint32_t>(rows[got].id));
        }
    }
    EXPECT_EQ(60, seen);
    EXPECT_EQ(OCI_NO_DATA, OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, ExecuteWithIterationsFetchesTheFirstBlock) {
    OCIStmt* st = prepare(
        "SELECT client_id, client_name, balance, created FROM client WHERE client_id > :lo ORDER BY 1");
    int32_t lo = 50;
    bindName(st, ":LO", &lo, 4, SQLT_INT);
    ClientRow rows[25];
    defineRows(st, err_, rows);
    EXPECT_EQ(OCI_NO_DATA, OCIStmtExecute(c_.svc, st, err_, 25, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(10u, rowCount(st));
    EXPECT_EQ(51, rows[0].id);
    EXPECT_EQ(60, rows[9].id);
    lo = 0;
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 25, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(25u, rowCount(st));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, ScrollingFetch) {
    OCIStmt* st = prepare("SELECT client_id FROM client ORDER BY client_id");
    int32_t id = 0;
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, &id, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_STMT_SCROLLABLE_READONLY));
    OCI_OK(OCIStmtFetch2(st, err_, 1, OCI_FETCH_ABSOLUTE, 42, 0));
    EXPECT_EQ(42, id);
    OCI_OK(OCIStmtFetch2(st, err_, 1, OCI_FETCH_LAST, 0, 0));
    EXPECT_EQ(60, id);
    OCI_OK(OCIStmtFetch2(st, err_, 1, OCI_FETCH_PRIOR, 0, 0));
    EXPECT_EQ(59, id);
    EXPECT_EQ(OCI_NO_DATA, OCIStmtFetch2(st, err_, 1, OCI_FETCH_ABSOLUTE, 61, 0));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, DescribeGivesOracleTypes) {
    OCIStmt* st = prepare(
        "SELECT client_id, client_name, balance, created, code, tag, count(*) over () AS n, 'abc' lit, "
        "sysdate now "
        "FROM client");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DESCRIBE_ONLY));
    ub2 type = 0;
    OCIAttrGet(st, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, err_);
    EXPECT_EQ(OCI_STMT_SELECT, type);
    ub4 count = 0;
    OCI_OK(OCIAttrGet(st, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, err_));
    struct Want {
        const char* name;
        ub2 type, size;
        sb2 precision;
        sb1 scale;
    };
    const Want want[] = {
        {"CLIENT_ID", SQLT_NUM, 22, 9, 0}, {"CLIENT_NAME", SQLT_CHR, 40, 0, 0},
        {"BALANCE", SQLT_NUM, 22, 12, 2},  {"CREATED", SQLT_DAT, 7, 0, 0},
        {"CODE", SQLT_AFC, 3, 0, 0},       {"TAG", SQLT_BIN, 8, 0, 0},
        {"N", SQLT_NUM, 22, 0, -127},      {"LIT", SQLT_AFC, 3, 0, 0},  // a text literal is CHAR
        {"NOW", SQLT_DAT, 7, 0, 0},
    };
    ASSERT_EQ(std::size(want), count);
    for (ub4 k = 1; k <= count; ++k) {
        OCIParam* p = nullptr;
        OCI_OK(OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), k));
        OraText* name = nullptr;
        ub4 len = 0;
        ub2 t = 0, size = 0;
        sb2 prec = 0;
        sb1 scale = 0;
        ub1 nullable = 9;
        OCIAttrGet(p, OCI_DTYPE_PARAM, &nullable, nullptr, OCI_ATTR_IS_NULL, err_);
        EXPECT_EQ(k == 1 ? 0 : 1, nullable) << k;  // the primary key is NOT NULL
        OCIAttrGet(p, OCI_DTYPE_PARAM, &name, &len, OCI_ATTR_NAME, err_);
        OCIAttrGet(p, OCI_DTYPE_PARAM, &t, nullptr, OCI_ATTR_DATA_TYPE, err_);
        OCIAttrGet(p, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, err_);
        OCIAttrGet(p, OCI_DTYPE_PARAM, &prec, nullptr, OCI_ATTR_PRECISION, err_);
        OCIAttrGet(p, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, err_);
        const Want& w = want[k - 1];
        EXPECT_EQ(w.name, std::string(reinterpret_cast<char*>(name), len));
        EXPECT_EQ(w.type, t) << w.name;
        EXPECT_EQ(w.size, size) << w.name;
        EXPECT_EQ(w.precision, prec) << w.name;
        EXPECT_EQ(w.scale, scale) << w.name;
        OCI_OK(OCIDescriptorFree(p, OCI_DTYPE_PARAM));
    }
    // describing ran nothing for the client to fetch
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(24338, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, BindsOfEveryRoadType) {
    OCIStmt* ins = prepare(
        "INSERT INTO client(client_id, client_name, balance, created, code, tag) "
        "VALUES (:ID, :NAME, :BAL, :CREATED, :CODE, :TAG)");
    int16_t id = 100;
    char name[41] = "\xCA\xEB\xE8\xE5\xED\xF2";  // "Клиент" in code page 1251
    double bal = -12.25;
    ub1 created[7] = {120, 126, 12, 10, 14, 31, 1};  // 2026-12-10 13:30:00
    char code[4] = "";                               // empty binds as NULL
    ub1 tag[8] = {0, 1, 2, 0xFF};
    ub2 tagLen = 4;
    sb2 nullInd = 0;
    bindName(ins, "id", &id, 2, SQLT_INT);
    bindName(ins, "NAME", name, sizeof name, SQLT_STR);
    bindName(ins, ":bal", &bal, 8, SQLT_FLT, &nullInd);
    bindName(ins, "CREATED", created, 7, SQLT_DAT);
    bindName(ins, "CODE", code, sizeof code, SQLT_STR);
    bindName(ins, "TAG", tag, sizeof tag, SQLT_BIN, nullptr, &tagLen);
    OCI_OK(OCIStmtExecute(c_.svc, ins, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(1u, rowCount(ins));
    id = 101;
    nullInd = -1;  // balance NULL through the indicator
    OCI_OK(OCIStmtExecute(c_.svc, ins, err_, 1, 0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM client WHERE client_id = 100 AND client_name = 'Клиент' AND "
                       "balance = -12.25 AND created = '2026-12-10 13:30:00' AND code IS NULL AND "
                       "hex(tag) = '000102FF'"));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM client WHERE client_id = 101 AND balance IS NULL"));

    OCIStmt* sel = prepare("SELECT client_name, balance, tag, client_id FROM client WHERE client_id = :id");
    int64_t want = 101;
    bindName(sel, "ID", &want, 8, SQLT_INT);
    char outName[4];
    OCINumber outBal;
    ub1 outTag[8];
    ub2 outTagLen = 0, nameLen = 0, nameCode = 0;
    sb2 ind[3] = {9, 9, 9};
    OCINumber outId;
    OCIDefine* d = nullptr;
    OCIDefineByPos(sel, &d, err_, 1, outName, sizeof outName, SQLT_STR, &ind[0], &nameLen, &nameCode, 0);
    OCIDefineByPos(sel, &d, err_, 2, &outBal, sizeof outBal, SQLT_VNU, &ind[1], nullptr, nullptr, 0);
    OCIDefineByPos(sel, &d, err_, 3, outTag, sizeof outTag, SQLT_BIN, &ind[2], &outTagLen, nullptr, 0);
    OCIDefineByPos(sel, &d, err_, 4, &outId, sizeof outId, SQLT_VNU, nullptr, nullptr, nullptr, 0);
    // a string longer than its buffer arrives cut, with its full length in the indicator, its cut
    // length in the return length and ORA-01406 as a warning
    EXPECT_EQ(OCI_SUCCESS_WITH_INFO, OCIStmtExecute(c_.svc, sel, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ("ORA-01406: fetched column value was truncated\n", errorText());
    EXPECT_STREQ("\xCA\xEB\xE8", outName);
    EXPECT_EQ(6, ind[0]);
    EXPECT_EQ(3, nameLen);
    EXPECT_EQ(1406, nameCode);
    EXPECT_EQ(-1, ind[1]);
    EXPECT_EQ(4, outTagLen);
    EXPECT_EQ(0, std::memcmp(tag, outTag, 4));
    const ub1 vnu101[] = {3, 0xC2, 0x02, 0x02};
    EXPECT_EQ(0, std::memcmp(vnu101, outId.OCINumberPart, 4));
    OCIHandleFree(ins, OCI_HTYPE_STMT);
    OCIHandleFree(sel, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, NullWithoutIndicatorIsAnError) {
    OCIStmt* st = prepare("SELECT tag FROM client WHERE client_id = 1");
    ub1 tag[8];
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, tag, sizeof tag, SQLT_BIN, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_ERROR, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(1405, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, ArrayInsertWithStructSkips) {
    struct In {
        int32_t id;
        char name[12];
        sb2 nameInd;
    } in[3] = {{201, "a", 0}, {202, "", 0}, {203, "c", -1}};
    OCIStmt* st = prepare("INSERT INTO client(client_id, client_name) VALUES (:1, :2)");
    OCIBind* b1 = nullptr;
    OCIBind* b2 = nullptr;
    OCI_OK(OCIBindByPos(st, &b1, err_, 1, &in[0].id, 4, SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIBindByPos(st, &b2, err_, 2, in[0].name, sizeof in[0].name, SQLT_STR, &in[0].nameInd, nullptr,
                        nullptr, 0, nullptr, 0));
    OCI_OK(OCIBindArrayOfStruct(b1, err_, sizeof(In), 0, 0, 0));
    OCI_OK(OCIBindArrayOfStruct(b2, err_, sizeof(In), sizeof(In), 0, 0));
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 3, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(3u, rowCount(st));
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM client WHERE client_id = 201 AND client_name = 'a'"));
    EXPECT_EQ(2, dbInt("SELECT count(*) FROM client WHERE client_id IN (202, 203) AND client_name IS NULL"));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, RowidOfAnInsertedRow) {
    OCIStmt* st = prepare("INSERT INTO client(client_id) VALUES (65537)");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    OCIRowid* rid = nullptr;
    OCI_OK(OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&rid), OCI_DTYPE_ROWID, 0, nullptr));
    OCI_OK(OCIAttrGet(st, OCI_HTYPE_STMT, rid, nullptr, OCI_ATTR_ROWID, err_));
    OraText text[32];
    ub2 len = sizeof text;
    OCI_OK(OCIRowidToChar(rid, text, &len, err_));
    ASSERT_EQ(18, len);
    // the 61st row: file 1 ("AAB"), block 0 ("AAAAAA"), row 61 ("AA9") in 6/3/6/3 base-64 characters
    EXPECT_EQ("AABAAAAAAAA9", std::string(reinterpret_cast<char*>(text) + 6, 12));
    ub2 small = 10;
    EXPECT_EQ(OCI_ERROR, OCIRowidToChar(rid, text, &small, err_));
    EXPECT_EQ(18, small);
    OCIStmt* upd = prepare("UPDATE client SET balance = 0 WHERE client_id = 1");
    OCI_OK(OCIStmtExecute(c_.svc, upd, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(OCI_NO_DATA, OCIAttrGet(upd, OCI_HTYPE_STMT, rid, nullptr, OCI_ATTR_ROWID, err_));
    OCIDescriptorFree(rid, OCI_DTYPE_ROWID);
    OCIHandleFree(st, OCI_HTYPE_STMT);
    OCIHandleFree(upd, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, ServerErrorsCarryOracleCodes) {
    struct Case {
        const char* sql;
        sb4 code;
    };
    const Case cases[] = {
        {"SELECT * FROM no_such_table", 942},
        {"INSERT INTO client(client_id) VALUES (1)", 1},
        {"SELECT no_such_column FROM client", 904},
        {"SELEKT 1 FROM dual", 900},
        {"SELECT * FROM client WHERE client_id = :x", 1008},
        {"ROLLBACK TO SAVEPOINT never_made", 1086},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(OCI_ERROR, run(c_, k.sql)) << k.sql;
        sb4 code = 0;
        std::string text = errorText(&code);
        EXPECT_EQ(k.code, code) << k.sql;
        char head[16];
        std::snprintf(head, sizeof head, "ORA-%05d: ", k.code);
        EXPECT_EQ(0u, text.rfind(head, 0)) << text;
    }
    OCIStmt* st = prepare("SELECT 1 FROM dual WHERE 1 = :a");
    int32_t v = 1;
    OCIBind* b = nullptr;
    EXPECT_EQ(OCI_ERROR, OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":b"), 2, &v, 4,
                                       SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, 0));
    EXPECT_EQ(1036, errorCode());
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(24338, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, StatementTypesAndFunctionCodes) {
    struct Case {
        const char* sql;
        ub2 type, fn;
    };
    const Case cases[] = {
        {"select 1 from dual", OCI_STMT_SELECT, 4},
        {"  WITH x AS (SELECT 1) SELECT * FROM x", OCI_STMT_SELECT, 4},
        {"update client set code = 'x'", OCI_STMT_UPDATE, 5},
        {"delete from client", OCI_STMT_DELETE, 9},
        {"insert into client(client_id) values (0)", OCI_STMT_INSERT, 3},
        {"begin null; end;", OCI_STMT_BEGIN, 34},
        {"declare x number; begin null; end;", OCI_STMT_DECLARE, 34},
        {"ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY'", OCI_STMT_ALTER, 52},
        {"SAVEPOINT a", 0, 56},
    };
    for (const Case& k : cases) {
        OCIStmt* st = prepare(k.sql);
        ub2 type = 99, fn = 0;
        OCIAttrGet(st, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, err_);
        OCI_EXPECT_OK(
            OCIStmtExecute(c_.svc, st, err_, type == OCI_STMT_SELECT ? 0 : 1, 0, nullptr, nullptr, 0));
        OCIAttrGet(st, OCI_HTYPE_STMT, &fn, nullptr, OCI_ATTR_SQLFNCODE, err_);
        EXPECT_EQ(k.type, type) << k.sql;
        EXPECT_EQ(k.fn, fn) << k.sql;
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
}

TEST_F(OciStatementTest, TransactionsAsASecondSessionSeesThem) {
    OciConn other = connect("zuv", "zuv");
    auto countSeenByOther = [&](const char* where) {
        OCIStmt* st = prepare(std::string("SELECT count(*) FROM client WHERE ") + where);
        int32_t n = -1;
        OCIDefine* d = nullptr;
        OCIDefineByPos(st, &d, err_, 1, &n, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(other.svc, st, err_, 1, 0, nullptr, nullptr, 0)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return n;
    };
    OCI_OK(run(c_, "UPDATE client SET code = 'T1' WHERE client_id <= 10"));
    EXPECT_EQ(0, countSeenByOther("code = 'T1'"));  // not committed yet
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(10, countSeenByOther("code = 'T1'"));

    OCI_OK(run(c_, "DELETE FROM client WHERE client_id > 50"));
    OCI_OK(OCITransRollback(c_.svc, err_, 0));
    EXPECT_EQ(60, countSeenByOther("1 = 1"));

    OCI_OK(run(c_, "UPDATE client SET code = 'S1' WHERE client_id = 1"));
    OCI_OK(run(c_, "SAVEPOINT Before_generate_coupons"));
    OCI_OK(run(c_, "UPDATE client SET code = 'S2' WHERE client_id = 2"));
    OCI_OK(run(c_, "ROLLBACK TO SAVEPOINT Before_generate_coupons"));
    OCI_OK(run(c_, "UPDATE client SET code = 'S3' WHERE client_id = 3"));
    EXPECT_EQ(0, countSeenByOther("code LIKE 'S%'"));
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(1, countSeenByOther("code = 'S1'"));
    EXPECT_EQ(0, countSeenByOther("code = 'S2'"));
    EXPECT_EQ(1, countSeenByOther("code = 'S3'"));
    // commit and rollback without a transaction are harmless
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    OCI_OK(OCITransRollback(c_.svc, err_, 0));
    logoff(other);
}

TEST_F(OciStatementTest, SchemaPrefixesAndQuotedMarkers) {
    OCIStmt* st =
        prepare("SELECT count(*) FROM qel.client c JOIN SYS.DUAL d ON 1 = 1 WHERE c.client_id <= :\"Id\"");
    int32_t id = 5, n = 0;
    OCIBind* b = nullptr;
    // a quoted name matches only exactly
    EXPECT_EQ(OCI_ERROR, OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>("ID"), 2, &id, 4,
                                       SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, 0));
    bindName(st, "\"Id\"", &id, 4, SQLT_INT);
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, &n, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_EQ(5, n);
    OCIHandleFree(st, OCI_HTYPE_STMT);
    OCI_OK(run(c_, "UPDATE ZUV.client SET code = 'Z' WHERE client_id = 1"));
    EXPECT_EQ(OCI_ERROR, run(c_, "SELECT * FROM nobody.client"));
}

TEST_F(OciStatementTest, Utf16BindsAndDefines) {
    const char16_t name[] = u"Ключ \u20AC";  // the euro sign has a place in code page 1251 too
    OCIStmt* ins = prepare("INSERT INTO client(client_id, client_name) VALUES (300, :N)");
    char16_t in[41] = {};
    std::memcpy(in, name, sizeof name);
    OCIBind* b = nullptr;
    OCI_OK(OCIBindByName(ins, &b, err_, reinterpret_cast<const OraText*>("N"), 1, in, sizeof in, SQLT_STR,
                         nullptr, nullptr, nullptr, 0, nullptr, 0));
    ub2 csid = OCI_UTF16ID;
    OCI_OK(OCIAttrSet(b, OCI_HTYPE_BIND, &csid, 0, OCI_ATTR_CHARSET_ID, err_));
    OCI_OK(OCIStmtExecute(c_.svc, ins, err_, 1, 0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM client WHERE client_name = 'Ключ €'"));

    OCIStmt* sel = prepare("SELECT client_name FROM client WHERE client_id = 300");
    char16_t out[41];
    char16_t tiny[4];
    ub2 len = 0;
    sb2 ind = 0;
    OCIDefine* d = nullptr;
    OCI_OK(OCIDefineByPos(sel, &d, err_, 1, out, sizeof out, SQLT_STR, &ind, &len, nullptr, 0));
    OCI_OK(OCIAttrSet(d, OCI_HTYPE_DEFINE, &csid, 0, OCI_ATTR_CHARSET_ID, err_));
    OCI_OK(OCIStmtExecute(c_.svc, sel, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_EQ(std::u16string(name), std::u16string(out));
    EXPECT_EQ(12, len);  // bytes, without the terminator
    OCI_OK(OCIDefineByPos(sel, &d, err_, 1, tiny, sizeof tiny, SQLT_STR, &ind, &len, nullptr, 0));
    OCI_OK(OCIAttrSet(d, OCI_HTYPE_DEFINE, &csid, 0, OCI_ATTR_CHARSET_ID, err_));
    EXPECT_EQ(OCI_SUCCESS_WITH_INFO, OCIStmtExecute(c_.svc, sel, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_EQ(1406, errorCode());
    EXPECT_EQ(u"Клю", std::u16string(tiny));
    EXPECT_EQ(12, ind);
    OCIHandleFree(ins, OCI_HTYPE_STMT);
    OCIHandleFree(sel, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, PreparedFromTheServiceContextAndReleased) {
    OCIStmt* st = nullptr;
    const char* sql = "SELECT client_name FROM client WHERE client_id = 2";
    OCI_OK(OCIStmtPrepare2(c_.svc, &st, err_, reinterpret_cast<const OraText*>(sql),
                           static_cast<ub4>(strlen(sql)), nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT));
    char name[41] = "";
    OCIDefine* d = nullptr;
    OCI_OK(OCIDefineByPos(st, &d, err_, 1, name, sizeof name, SQLT_STR, nullptr, nullptr, nullptr, 0));
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_STREQ("client 2", name);
    OCI_OK(OCIStmtRelease(st, err_, nullptr, 0, OCI_DEFAULT));
    EXPECT_EQ(OCI_INVALID_HANDLE, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, 0));
}

TEST_F(OciStatementTest, OracleFunctionsInSql) {
    struct Case {
        const char* expr;
        const char* want;  // text of the value, or "ORA-nnnnn" for an error
    };
    const Case cases[] = {
        {"to_char(created, 'DD.MM.YYYY HH24:MI')", "02.01.2026 10:00"},
        {"to_char(created)", "2026-01-02 10:00:00"},
        {"to_char(balance)", "1.5"},
        {"to_date('31.12.2025 23:59', 'DD.MM.YYYY HH24:MI')", "2025-12-31 23:59:00"},
        {"to_date('31.02.2025', 'DD.MM.YYYY')", "ORA-01847"},
        {"to_number('-12.50')", "-12.5"},
        {"to_number('12,5')", "ORA-01722"},
        {"trunc(created)", "2026-01-02 00:00:00"},
        {"trunc(-7.95, 1)", "-7.9"},
        {"trunc(1234.5, -2)", "1200"},
        {"nvl(tag, 'none')", "none"},
        {"nvl2(tag, 'some', 'none')", "none"},
        {"decode(client_id, 0, 'zero', 1, 'one', 'many')", "one"},
        {"decode(tag, NULL, 'null', 'value')", "null"},
        {"sys_context('USERENV', 'SESSION_USER')", "QEL"},
    };
    // dates fetched as text take the session's date format
    OCI_OK(run(c_, "ALTER SESSION SET NLS_DATE_FORMAT = 'YYYY-MM-DD HH24:MI:SS'"));
    for (const Case& k : cases) {
        OCIStmt* st = prepare(std::string("SELECT ") + k.expr + " FROM client WHERE client_id = 1");
        char out[64] = "";
        sb2 ind = 0;
        OCIDefine* d = nullptr;
        OCIDefineByPos(st, &d, err_, 1, out, sizeof out, SQLT_STR, &ind, nullptr, nullptr, 0);
        sword rc = OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, 0);
        if (std::strncmp(k.want, "ORA-", 4) == 0) {
            EXPECT_EQ(OCI_ERROR, rc) << k.expr;
            EXPECT_EQ(0u, errorText().rfind(k.want, 0)) << k.expr << ": " << errorText();
        } else {
            EXPECT_EQ(OCI_SUCCESS, rc) << k.expr << ": " << errorText();
            EXPECT_STREQ(k.want, out) << k.expr;
        }
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
}

namespace {

// Defines one 4-byte integer column of up to 25 rows.
void defineIds(OCIStmt* st, OCIError* err, int32_t* ids) {
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err, 1, ids, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
    OCIDefineArrayOfStruct(d, err, 4, 0, 0, 0);
}

}  // namespace

TEST_F(OciStatementTest, RowsAreReadAsTheyAreFetched) {
    // a query without end: only a cursor that steps as it is fetched can answer it
    OCIStmt* st = prepare("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i FROM n");
    int32_t ids[25];
    defineIds(st, err_, ids);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    auto* stmt = oci::handleAs<oci::Stmt>(st, OCI_HTYPE_STMT);
    for (int block = 0; block < 400; ++block) {
        OCI_OK(OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
        ASSERT_EQ(block * 25 + 1, ids[0]);
        ASSERT_EQ(block * 25 + 25, ids[24]);
        // memory stays flat: no more than the last row fetched is held
        ASSERT_LE(stmt->cursor->held(), 1u);
    }
    EXPECT_EQ(10000u, rowCount(st));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, AFailingRowFailsTheFetchThatReachesIt) {
    OCIStmt* st = prepare(
        "SELECT to_number(CASE WHEN client_id = 30 THEN 'x' ELSE client_id END) FROM client ORDER BY "
        "client_id");
    int32_t ids[25];
    defineIds(st, err_, ids);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    OCI_OK(OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(1722, errorCode());
    // the rows before the failing one were delivered
    EXPECT_EQ(29u, rowCount(st));
    EXPECT_EQ(29, ids[3]);
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(1002, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, ACursorKeepsWhatItSawWhileItsSessionWrites) {
    struct Case {
        const char* what;
        const char* between;  // run on the cursor's own session between two fetches
    } cases[] = {
        {"update", "UPDATE client SET client_name = 'changed'"},
        {"delete", "DELETE FROM client WHERE client_id > 20"},
        {"rollback", "ROLLBACK"},
        {"savepoint", "SAVEPOINT s1"},
    };
    for (const Case& k : cases) {
        OCIStmt* st = prepare("SELECT client_id, client_name FROM client ORDER BY client_id");
        int32_t id = 0;
        char name[41] = "";
        OCIDefine* d = nullptr;
        OCIDefineByPos(st, &d, err_, 1, &id, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
        OCIDefineByPos(st, &d, err_, 2, name, sizeof name, SQLT_STR, nullptr, nullptr, nullptr, 0);
        OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
        OCI_OK(run(c_, k.between));
        int seen = 1;
        while (OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0) == OCI_SUCCESS) {
            ++seen;
            EXPECT_EQ(seen, id) << k.what;
            EXPECT_EQ("client " + std::to_string(seen), name) << k.what;
        }
        EXPECT_EQ(60, seen) << k.what;
        OCI_OK(OCITransRollback(c_.svc, err_, 0));
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
    // a cursor opened inside a transaction keeps its uncommitted rows when that is rolled back
    OCI_OK(run(c_, "INSERT INTO client(client_id, client_name) VALUES (61, 'client 61')"));
    {
        OCIStmt* st = prepare("SELECT client_id FROM client ORDER BY client_id");
        int32_t ids[25];
        defineIds(st, err_, ids);
        OCI_OK(OCIStmtExecute(c_.svc, st, err_, 25, 0, nullptr, nullptr, OCI_DEFAULT));
        OCI_OK(OCITransRollback(c_.svc, err_, 0));
        OCI_OK(OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
        EXPECT_EQ(OCI_NO_DATA, OCIStmtFetch(st, err_, 25, OCI_FETCH_NEXT, 0));
        EXPECT_EQ(61u, rowCount(st));
        EXPECT_EQ(61, ids[10]);
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
    EXPECT_EQ(60, dbInt("SELECT count(*) FROM client"));
    // a cursor opened after the change sees it
    OCI_OK(run(c_, "DELETE FROM client WHERE client_id > 20"));
    OCIStmt* st = prepare("SELECT count(*) FROM client");
    int32_t n = 0;
    defineIds(st, err_, &n);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(20, n);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, OnlyAScrollableCursorMovesOtherThanForward) {
    OCIStmt* st = prepare("SELECT client_id FROM client ORDER BY client_id");
    int32_t ids[25];
    defineIds(st, err_, ids);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    for (int orientation : {OCI_FETCH_CURRENT, OCI_FETCH_FIRST, OCI_FETCH_LAST, OCI_FETCH_PRIOR,
                            OCI_FETCH_ABSOLUTE, OCI_FETCH_RELATIVE, 0x80}) {
        EXPECT_EQ(OCI_ERROR, OCIStmtFetch2(st, err_, 1, static_cast<ub2>(orientation), 1, 0)) << orientation;
        EXPECT_EQ("ORA-24391: invalid fetch operation\n", errorText()) << orientation;
    }
    OCI_OK(OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, 0));
    EXPECT_EQ(1, ids[0]);
    OCI_OK(OCIStmtFetch(st, err_, 1, OCI_DEFAULT, 0));
    EXPECT_EQ(2, ids[0]);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, FetchesOutOfSequence) {
    OCIStmt* st = prepare("SELECT client_id FROM client");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    // no buffer to fetch into
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(24374, errorCode());
    int32_t ids[25];
    defineIds(st, err_, ids);
    OCI_OK(OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    // a fetch of no rows cancels the cursor
    OCI_OK(OCIStmtFetch(st, err_, 0, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(1002, errorCode());
    // a cursor of a session that ended is not connected
    OciConn other = connect("zuv", "zuv");
    OCI_OK(OCIStmtExecute(other.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    OCI_OK(OCISessionEnd(other.svc, err_, other.ses, OCI_DEFAULT));
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    EXPECT_EQ(3114, errorCode());
    logoff(other);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciStatementTest, ASessionWritesWhileItsCursorIsOpenAfterAnotherSessionCommitted) {
    OCIStmt* st = prepare("SELECT client_name FROM client ORDER BY client_id");
    char name[41] = "";
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, name, sizeof name, SQLT_STR, nullptr, nullptr, nullptr, 0);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    OciConn other = connect("zuv", "zuv");
    OCI_OK(run(other, "UPDATE client SET client_name = 'by other' WHERE client_id = 60"));
    OCI_OK(OCITransCommit(other.svc, err_, 0));
    // the cursor's session is not blocked by the snapshot its cursor reads from
    OCI_OK(run(c_, "UPDATE client SET code = 'X' WHERE client_id = 1"));
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    ub4 n = 1;
    while (OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0) == OCI_SUCCESS) ++n;
    EXPECT_EQ(60u, n);
    EXPECT_STREQ("client 60", name);  // as it was when the cursor was opened
    logoff(other);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}
