// CURSOR(subquery) columns: described as result sets, each fetched row gives a statement handle whose
// rows are the subquery evaluated with that row's values.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "OciFixture.h"

namespace {

const char* kSchema = R"sql(
CREATE TABLE dept(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20));
CREATE TABLE emp(id NUMBER(9,0) PRIMARY KEY, dept NUMBER(9,0), name VARCHAR2(20), sal NUMBER(9,0));
INSERT INTO dept VALUES (10, 'ACCOUNTING'), (20, 'RESEARCH'), (30, 'SALES'), (40, 'OPERATIONS');
INSERT INTO emp VALUES (1, 10, 'CLARK', 2450), (2, 10, 'KING', 5000), (3, 20, 'ADAMS', 1100),
  (4, 20, 'FORD', 3000), (5, 20, 'SMITH', 800), (6, 30, 'ALLEN', 1600);
)sql";

// The employees of each department, by name (department 40 has none).
const std::map<std::string, std::vector<std::string>> kStaff = {
    {"ACCOUNTING", {"CLARK", "KING"}},
    {"RESEARCH", {"ADAMS", "FORD", "SMITH"}},
    {"SALES", {"ALLEN"}},
    {"OPERATIONS", {}},
};

const char* kMaster =
    "SELECT d.name, CURSOR(SELECT e.name FROM emp e WHERE e.dept = d.id ORDER BY e.name) AS staff "
    "FROM dept d ORDER BY d.id";

class OciCursorColumnsTest : public OciSessionTest {
protected:
    void SetUp() override {
        OciSessionTest::SetUp();
        dbExec(kSchema);
    }
    void TearDown() override {
        for (OCIStmt* h : handles_) OCIHandleFree(h, OCI_HTYPE_STMT);
        OciSessionTest::TearDown();
    }

    // Executes the master query and defines its two columns for `rows` rows at a time.
    OCIStmt* openMaster(const std::string& sql, ub4 rows) {
        OCIStmt* st = prepare(sql);
        handles_.push_back(st);
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        names_.assign(rows, Name{});
        cursors_.assign(rows, nullptr);
        inds_.assign(rows * 2, 7);
        for (ub4 r = 0; r < rows; ++r) cursors_[r] = newStmt();
        OCIDefine* d1 = nullptr;
        OCIDefine* d2 = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d1, err_, 1, names_[0].text, sizeof(Name), SQLT_STR,
                                              &inds_[0], nullptr, nullptr, OCI_DEFAULT));
        EXPECT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d2, err_, 2, &cursors_[0], 0, SQLT_RSET, &inds_[1],
                                              nullptr, nullptr, OCI_DEFAULT));
        EXPECT_EQ(OCI_SUCCESS, OCIDefineArrayOfStruct(d1, err_, sizeof(Name), 2 * sizeof(sb2), 0, 0));
        EXPECT_EQ(OCI_SUCCESS, OCIDefineArrayOfStruct(d2, err_, sizeof(OCIStmt*), 2 * sizeof(sb2), 0, 0));
        return st;
    }

    // Takes the statement handles of the fetched rows (the next fetch gets fresh ones).
    std::vector<std::pair<std::string, OCIStmt*>> takeRows(ub4 count) {
        std::vector<std::pair<std::string, OCIStmt*>> out;
        for (ub4 r = 0; r < count; ++r) {
            EXPECT_EQ(0, inds_[r * 2 + 1]) << "cursor indicator of row " << r;
            out.emplace_back(names_[r].text, cursors_[r]);
            handles_.push_back(cursors_[r]);
            cursors_[r] = newStmt();
        }
        return out;
    }

    // Every name the cursor gives; the ORA code of a failing fetch goes to *code.
    std::vector<std::string> readNames(OCIStmt* cur, sb4* code = nullptr) {
        char name[21];
        sb2 ind = 0;
        OCIDefine* d = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIDefineByPos(cur, &d, err_, 1, name, sizeof name, SQLT_STR, &ind, nullptr, nullptr, 0));
        std::vector<std::string> out;
        for (;;) {
            const sword rc = OCIStmtFetch(cur, err_, 1, OCI_FETCH_NEXT, 0);
            if (rc == OCI_NO_DATA) break;
            if (rc != OCI_SUCCESS) {
                if (code) *code = errorCode();
                break;
            }
            out.push_back(name);
        }
        return out;
    }

    struct Name {
        char text[21];
    };
    std::vector<Name> names_;
    std::vector<OCIStmt*> cursors_;
    std::vector<sb2> inds_;
    std::vector<OCIStmt*> handles_;
};

}  // namespace

TEST_F(OciCursorColumnsTest, DescribedAsResultSets) {
    struct Case {
        const char* sql;
        const char* name;
    };
    const Case cases[] = {
        {kMaster, "STAFF"},
        {"SELECT d.name, CURSOR(SELECT e.name FROM emp e WHERE e.dept = d.id) \"Staff\" FROM dept d",
         "Staff"},
        {"SELECT d.name, cursor ( select e.name from emp e where e.dept = d.id ) FROM dept d",
         "CURSOR(SELECTE.NAMEFROMEMPEWHEREE.DEPT=D.ID)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.sql);
        for (ub4 mode : {ub4(OCI_DESCRIBE_ONLY), ub4(OCI_DEFAULT)}) {
            OCIStmt* st = prepare(k.sql);
            ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, mode))
                << errorText();
            ub4 count = 0;
            OCIAttrGet(st, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, err_);
            EXPECT_EQ(2u, count) << "the outer references are no columns of the result";
            OCIParam* p = nullptr;
            ASSERT_EQ(OCI_SUCCESS, OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 2));
            ub2 type = 0;
            OCIAttrGet(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_);
            EXPECT_EQ(SQLT_RSET, type);
            OraText* name = nullptr;
            ub4 len = 0;
            OCIAttrGet(p, OCI_DTYPE_PARAM, &name, &len, OCI_ATTR_NAME, err_);
            EXPECT_EQ(k.name, std::string(reinterpret_cast<char*>(name), len));
            OCIDescriptorFree(p, OCI_DTYPE_PARAM);
            OCIHandleFree(st, OCI_HTYPE_STMT);
        }
    }
}

// Rows come in arrays of 1, 3 and 4: each row's handle reads its own department's staff, also
// after the master moved on, in any order.
TEST_F(OciCursorColumnsTest, EachRowReadsItsOwnSubquery) {
    for (ub4 rows : {1u, 3u, 4u}) {
        SCOPED_TRACE("rows per fetch " + std::to_string(rows));
        OCIStmt* st = openMaster(kMaster, rows);
        std::vector<std::pair<std::string, OCIStmt*>> got;
        ub4 before = 0;
        for (;;) {
            const sword rc = OCIStmtFetch(st, err_, rows, OCI_FETCH_NEXT, 0);
            ASSERT_TRUE(rc == OCI_SUCCESS || rc == OCI_NO_DATA) << errorText();
            ub4 now = 0;
            OCIAttrGet(st, OCI_HTYPE_STMT, &now, nullptr, OCI_ATTR_ROW_COUNT, err_);
            for (auto& r : takeRows(now - before)) got.push_back(r);
            before = now;
            if (rc == OCI_NO_DATA) break;
        }
        ASSERT_EQ(4u, got.size());
        // Read from the last row back to the first: the master has already ended.
        for (size_t k = got.size(); k-- > 0;) {
            ub4 state = 0;
            OCIAttrGet(got[k].second, OCI_HTYPE_STMT, &state, nullptr, OCI_ATTR_STMT_STATE, err_);
            EXPECT_EQ(ub4(OCI_STMT_STATE_EXECUTED), state);
            EXPECT_EQ(kStaff.at(got[k].first), readNames(got[k].second)) << got[k].first;
        }
    }
}

// A nested cursor lives until its master is cancelled or executed again; then its fetches fail.
TEST_F(OciCursorColumnsTest, EndsWithItsMaster) {
    struct Case {
        const char* what;
        bool reexecute;
    };
    for (const Case& k : {Case{"cancelled", false}, Case{"executed again", true}}) {
        SCOPED_TRACE(k.what);
        OCIStmt* st = openMaster(kMaster, 2);
        ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch(st, err_, 2, OCI_FETCH_NEXT, 0)) << errorText();
        auto rows = takeRows(2);
        if (k.reexecute)
            ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
        else
            ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch(st, err_, 0, OCI_FETCH_NEXT, 0));
        sb4 code = 0;
        EXPECT_TRUE(readNames(rows[0].second, &code).empty());
        EXPECT_EQ(1002, code);
    }
}

// The subquery sees the master's binds, and the rows as they were when the master opened, also when
// the session changes them before the nested cursor is read.
TEST_F(OciCursorColumnsTest, BindsAndReadConsistency) {
    OCIStmt* st = openMaster(
        "SELECT d.name, CURSOR(SELECT e.name FROM emp e WHERE e.dept = d.id AND e.sal >= :MIN_SAL "
        "ORDER BY e.name) FROM dept d WHERE d.id <= 20 ORDER BY d.id",
        2);
    // bound after the defines: execute again with the value
    int32_t minSal = 2000;
    OCIBind* b = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":MIN_SAL"), 8, &minSal, 4,
                            SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
        << errorText();
    ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0)) << errorText();
    auto first = takeRows(1);
    ASSERT_EQ(OCI_SUCCESS, run(c_, "DELETE FROM emp WHERE dept = 20")) << errorText();
    ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0)) << errorText();
    auto second = takeRows(1);
    EXPECT_EQ((std::vector<std::string>{"CLARK", "KING"}), readNames(first[0].second));
    EXPECT_EQ((std::vector<std::string>{"FORD"}), readNames(second[0].second));
    ASSERT_EQ(OCI_SUCCESS, OCITransRollback(c_.svc, err_, OCI_DEFAULT));
}

// A nested cursor's own CURSOR(...) items refer to the nested query's rows.
TEST_F(OciCursorColumnsTest, CursorsNestTwoLevelsDeep) {
    OCIStmt* st = openMaster(
        "SELECT d.name, CURSOR(SELECT e.name, CURSOR(SELECT x.name FROM emp x WHERE x.dept = e.dept AND "
        "x.name <> e.name ORDER BY x.name) FROM emp e WHERE e.dept = d.id ORDER BY e.name) FROM dept d "
        "WHERE d.id = 20",
        1);
    ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0)) << errorText();
    OCIStmt* staff = takeRows(1)[0].second;
    char name[21];
    OCIStmt* colleagues = newStmt();
    handles_.push_back(colleagues);
    OCIDefine* d1 = nullptr;
    OCIDefine* d2 = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIDefineByPos(staff, &d1, err_, 1, name, sizeof name, SQLT_STR, nullptr, nullptr,
                                          nullptr, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, OCIDefineByPos(staff, &d2, err_, 2, &colleagues, 0, SQLT_RSET, nullptr, nullptr,
                                          nullptr, OCI_DEFAULT));
    const std::map<std::string, std::vector<std::string>> want = {
        {"ADAMS", {"FORD", "SMITH"}}, {"FORD", {"ADAMS", "SMITH"}}, {"SMITH", {"ADAMS", "FORD"}}};
    size_t seen = 0;
    while (OCIStmtFetch(staff, err_, 1, OCI_FETCH_NEXT, 0) == OCI_SUCCESS) {
        ++seen;
        EXPECT_EQ(want.at(name), readNames(colleagues)) << name;
    }
    EXPECT_EQ(want.size(), seen);
}
