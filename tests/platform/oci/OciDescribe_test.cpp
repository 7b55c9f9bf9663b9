// Describing select lists from the schema: declared types through tables, views, subqueries and
// WITH queries, Oracle's rules for expressions, all on an empty table so that no row can help.
#include <cstring>

#include "OciFixture.h"

namespace {

struct Described {
    std::string name;
    ub2 type = 0, size = 0;
    sb2 precision = 0;
    sb1 scale = 0;
    ub1 nullable = 0, form = 0;
};

class OciDescribeTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        dbExec(R"sql(
CREATE TABLE texts(id NUMBER(9,0) NOT NULL, memo LONG, body CLOB, nbody NCLOB, pic BLOB, old LONG RAW,
                   nname NVARCHAR2(20), code NCHAR(2), ts TIMESTAMP(3));
CREATE VIEW client_view AS
  SELECT client_id, upper(client_name) AS uname, balance * 2 AS twice, created + 1 AS next_day,
         CAST(client_id AS VARCHAR2(12)) AS id_text, 'fixed' AS lit
  FROM client;
CREATE VIEW nested_view(a, b) AS SELECT uname, twice FROM client_view;
)sql");
        c_ = connect();
    }
    void TearDown() override {
        logoff(c_);
        OciTest::TearDown();
    }
    // Describes a query without running it.
    std::vector<Described> describe(const std::string& sql) {
        std::vector<Described> out;
        OCIStmt* st = prepare(sql);
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DESCRIBE_ONLY))
            << sql << ": " << errorText();
        ub4 count = 0;
        OCIAttrGet(st, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, err_);
        for (ub4 k = 1; k <= count; ++k) {
            OCIParam* p = nullptr;
            EXPECT_EQ(OCI_SUCCESS, OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), k));
            Described d;
            OraText* name = nullptr;
            ub4 len = 0;
            OCIAttrGet(p, OCI_DTYPE_PARAM, &name, &len, OCI_ATTR_NAME, err_);
            d.name.assign(reinterpret_cast<char*>(name), len);
            OCIAttrGet(p, OCI_DTYPE_PARAM, &d.type, nullptr, OCI_ATTR_DATA_TYPE, err_);
            OCIAttrGet(p, OCI_DTYPE_PARAM, &d.size, nullptr, OCI_ATTR_DATA_SIZE, err_);
            OCIAttrGet(p, OCI_DTYPE_PARAM, &d.precision, nullptr, OCI_ATTR_PRECISION, err_);
            OCIAttrGet(p, OCI_DTYPE_PARAM, &d.scale, nullptr, OCI_ATTR_SCALE, err_);
            OCIAttrGet(p, OCI_DTYPE_PARAM, &d.nullable, nullptr, OCI_ATTR_IS_NULL, err_);
            OCIAttrGet(p, OCI_DTYPE_PARAM, &d.form, nullptr, OCI_ATTR_CHARSET_FORM, err_);
            out.push_back(d);
            OCIDescriptorFree(p, OCI_DTYPE_PARAM);
        }
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return out;
    }
    OciConn c_;
};

struct Want {
    const char* expr;
    const char* name;
    ub2 type, size;
    sb2 precision;
    sb1 scale;
};

void expectColumns(const std::vector<Described>& got, const std::vector<Want>& want,
                   const std::string& what) {
    ASSERT_EQ(want.size(), got.size()) << what;
    for (size_t k = 0; k < want.size(); ++k) {
        const Want& w = want[k];
        const Described& d = got[k];
        EXPECT_EQ(w.name, d.name) << w.expr;
        EXPECT_EQ(w.type, d.type) << w.expr;
        EXPECT_EQ(w.size, d.size) << w.expr;
        EXPECT_EQ(w.precision, d.precision) << w.expr;
        EXPECT_EQ(w.scale, d.scale) << w.expr;
    }
}

}  // namespace

TEST_F(OciDescribeTest, ExpressionsOfAnEmptyTableFollowOraclesRules) {
    // the client table has no rows: nothing but the schema and the rules can give these types
    const std::vector<Want> want = {
        {"client_id", "CLIENT_ID", SQLT_NUM, 22, 9, 0},
        {"1", "1", SQLT_NUM, 22, 0, -127},
        {"'abc'", "'ABC'", SQLT_AFC, 3, 0, 0},
        {"NULL", "NULL", SQLT_CHR, 0, 0, 0},
        {"client_name || 'x'", "CLIENT_NAME||'X'", SQLT_CHR, 41, 0, 0},
        {"client_id || ''", "CLIENT_ID||''", SQLT_CHR, 40, 0, 0},
        {"upper(client_name) u", "U", SQLT_CHR, 40, 0, 0},
        {"substr(code, 1, 2)", "SUBSTR(CODE,1,2)", SQLT_CHR, 3, 0, 0},
        {"nvl(balance, 0)", "NVL(BALANCE,0)", SQLT_NUM, 22, 0, -127},
        {"nvl(client_name, 'none')", "NVL(CLIENT_NAME,'NONE')", SQLT_CHR, 40, 0, 0},
        {"balance * 2 + 1", "BALANCE*2+1", SQLT_NUM, 22, 0, -127},
        {"count(*)", "COUNT(*)", SQLT_NUM, 22, 0, -127},
        {"max(created)", "MAX(CREATED)", SQLT_DAT, 7, 0, 0},
        {"sysdate", "SYSDATE", SQLT_DAT, 7, 0, 0},
        {"created + 1", "CREATED+1", SQLT_DAT, 7, 0, 0},
        {"created - created", "CREATED-CREATED", SQLT_NUM, 22, 0, -127},
        {"trunc(created)", "TRUNC(CREATED)", SQLT_DAT, 7, 0, 0},
        {"trunc(balance)", "TRUNC(BALANCE)", SQLT_NUM, 22, 0, -127},
        {"to_date('01.02.2026', 'DD.MM.YYYY')", "TO_DATE('01.02.2026','DD.MM.YYYY')", SQLT_DAT, 7, 0, 0},
        {"to_char(created, 'DD.MM.YYYY')", "TO_CHAR(CREATED,'DD.MM.YYYY')", SQLT_CHR, 10, 0, 0},
        {"to_char(created)", "TO_CHAR(CREATED)", SQLT_CHR, 9, 0, 0},
        {"to_char(balance)", "TO_CHAR(BALANCE)", SQLT_CHR, 40, 0, 0},
        {"to_number(code)", "TO_NUMBER(CODE)", SQLT_NUM, 22, 0, -127},
        {"cast(client_id AS VARCHAR2(12)) AS t", "T", SQLT_CHR, 12, 0, 0},
        {"cast(balance AS NUMBER(5,1))", "CAST(BALANCEASNUMBER(5,1))", SQLT_NUM, 22, 5, 1},
        {"decode(client_id, 1, 'one', 2, 'three')", "DECODE(CLIENT_ID,1,'ONE',2,'THREE')", SQLT_CHR, 5, 0, 0},
        {"decode(client_id, 1, NULL, balance)", "DECODE(CLIENT_ID,1,NULL,BALANCE)", SQLT_NUM, 22, 12, 2},
        {"CASE WHEN balance > 0 THEN 'plus' ELSE client_name END", "CASE", SQLT_CHR, 40, 0, 0},
        {"(SELECT max(tag) FROM client) AS top", "TOP", SQLT_BIN, 8, 0, 0},
        {"sys_context('USERENV', 'CURRENT_SCHEMA') AS s", "S", SQLT_CHR, 256, 0, 0},
        {":bound", ":BOUND", SQLT_CHR, 4000, 0, 0},
    };
    std::string sql = "SELECT ";
    for (size_t k = 0; k < want.size(); ++k) sql += (k ? ", " : "") + std::string(want[k].expr);
    sql += " FROM client";
    auto got = describe(sql);
    // the CASE column is named after its whole text; compare the beginning only
    ASSERT_EQ(want.size(), got.size());
    got[27].name = got[27].name.substr(0, 4);
    expectColumns(got, want, sql);
    // executing the query describes it the same way, and finds no row
    OCIStmt* st = prepare("SELECT client_name || 'x', created + 1, count(*) over () n FROM client");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    OCIParam* p = nullptr;
    ub2 type = 0, size = 0;
    OCI_OK(OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 1));
    OCIAttrGet(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_);
    OCIAttrGet(p, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, err_);
    EXPECT_EQ(SQLT_CHR, type);
    EXPECT_EQ(41, size);
    char buf[64];
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, buf, sizeof buf, SQLT_STR, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_NO_DATA, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciDescribeTest, ViewsSubqueriesAndWithQueriesPassTheirTypesOn) {
    const std::vector<Want> view = {
        {"client_id", "CLIENT_ID", SQLT_NUM, 22, 9, 0}, {"uname", "UNAME", SQLT_CHR, 40, 0, 0},
        {"twice", "TWICE", SQLT_NUM, 22, 0, -127},      {"next_day", "NEXT_DAY", SQLT_DAT, 7, 0, 0},
        {"id_text", "ID_TEXT", SQLT_CHR, 12, 0, 0},     {"lit", "LIT", SQLT_AFC, 5, 0, 0},
    };
    expectColumns(describe("SELECT * FROM client_view"), view, "view");
    expectColumns(describe("SELECT v.* FROM qel.client_view v"), view, "qualified view");
    expectColumns(describe("SELECT a, b FROM nested_view"),
                  {{"a", "A", SQLT_CHR, 40, 0, 0}, {"b", "B", SQLT_NUM, 22, 0, -127}}, "view over a view");
    expectColumns(describe("SELECT x.n, x.u FROM (SELECT client_id + 1 n, upper(code) u FROM client) x"),
                  {{"x.n", "N", SQLT_NUM, 22, 0, -127}, {"x.u", "U", SQLT_AFC, 3, 0, 0}}, "subquery");
    expectColumns(describe("WITH w (k, label) AS (SELECT client_id, client_name || '!' FROM client) "
                           "SELECT label, k FROM w"),
                  {{"label", "LABEL", SQLT_CHR, 41, 0, 0}, {"k", "K", SQLT_NUM, 22, 9, 0}}, "with");
    // a NULL in the first branch takes the type of the others; CHARs of two lengths meet as VARCHAR2
    expectColumns(
        describe("SELECT NULL AS a, 'ab' AS b FROM dual UNION ALL SELECT created, code FROM client"),
        {{"a", "A", SQLT_DAT, 7, 0, 0}, {"b", "B", SQLT_CHR, 3, 0, 0}}, "union");
    expectColumns(describe("SELECT dummy FROM dual"), {{"dummy", "DUMMY", SQLT_CHR, 1, 0, 0}}, "dual");
}

TEST_F(OciDescribeTest, OuterJoinsMakeColumnsNullable) {
    auto got = describe(
        "SELECT a.client_id, b.client_id AS other FROM client a LEFT JOIN client b ON b.client_id = "
        "a.client_id");
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0, got[0].nullable);  // the primary key of the inner side
    EXPECT_EQ(1, got[1].nullable);
}

TEST_F(OciDescribeTest, LongAndLobColumnsAreDescribedAsWhatTheyAre) {
    expectColumns(describe("SELECT memo, body, nbody, pic, old, nname, code, ts FROM texts"),
                  {{"memo", "MEMO", SQLT_LNG, 0, 0, 0},
                   {"body", "BODY", SQLT_CLOB, 4000, 0, 0},
                   {"nbody", "NBODY", SQLT_CLOB, 4000, 0, 0},
                   {"pic", "PIC", SQLT_BLOB, 4000, 0, 0},
                   {"old", "OLD", SQLT_LBI, 0, 0, 0},
                   {"nname", "NNAME", SQLT_CHR, 20, 0, 0},
                   {"code", "CODE", SQLT_AFC, 2, 0, 0},
                   {"ts", "TS", SQLT_TIMESTAMP, 11, 0, 0}},
                  "texts");
    auto got = describe("SELECT body, nbody, nname, memo FROM texts");
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(1, got[0].form);  // the database character set
    EXPECT_EQ(2, got[1].form);  // the national one
    EXPECT_EQ(2, got[2].form);
    EXPECT_EQ(1, got[3].form);
    // a LOB column reads as text too; fetched as a locator it needs an allocated locator in the cell
    dbExec("INSERT INTO texts(id, memo, body) VALUES (1, 'long text', 'clob text')");
    OCIStmt* st = prepare("SELECT memo, body FROM texts");
    char memo[32] = "", body[32] = "";
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, memo, sizeof memo, SQLT_STR, nullptr, nullptr, nullptr, 0);
    OCIDefineByPos(st, &d, err_, 2, body, sizeof body, SQLT_STR, nullptr, nullptr, nullptr, 0);
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_STREQ("long text", memo);
    EXPECT_STREQ("clob text", body);
    void* locator = nullptr;
    OCIDefineByPos(st, &d, err_, 2, &locator, sizeof locator, SQLT_CLOB, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_ERROR, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(22275, errorCode());  // invalid LOB locator
    OCIHandleFree(st, OCI_HTYPE_STMT);
}
