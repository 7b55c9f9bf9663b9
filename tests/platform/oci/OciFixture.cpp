#include "OciFixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/oci/StandIn.h"
#include "tests/platform/oci/StandInDb.h"

namespace {

const char* kSchema = R"sql(
INSERT INTO oci_user VALUES ('qel', 'secret'), ('ZUV', 'zuv');
CREATE TABLE client(
  client_id NUMBER(9,0) PRIMARY KEY,
  client_name VARCHAR2(40),
  balance NUMBER(12,2),
  created DATE,
  code CHAR(3),
  tag RAW(8));
)sql";

}  // namespace

void OciTest::SetUp() {
    char tmpl[] = "/tmp/oci_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    db_ = dir_ + "/test.db";
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/platform/oci/catalog.sql");
    std::stringstream catalog;
    catalog << in.rdbuf();
    ASSERT_FALSE(catalog.str().empty());
    dbExec(catalog.str());
    dbExec(kSchema);
    oci::resetFaultCounters();
    OCI_OK(OCIEnvCreate(&env_, OCI_THREADED | OCI_OBJECT | OCI_EVENTS, nullptr, nullptr, nullptr, nullptr, 0,
                        nullptr));
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&err_), OCI_HTYPE_ERROR, 0, nullptr));
}

void OciTest::TearDown() {
    if (env_) {
        EXPECT_EQ(OCI_SUCCESS, OCIHandleFree(env_, OCI_HTYPE_ENV));
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void OciTest::dbExec(const std::string& sql) {
    standin::Exec(db_, sql);
}

long long OciTest::dbInt(const std::string& sql) {
    return standin::Int(db_, sql);
}

sword OciTest::logon(OciConn& c, const char* user, const char* password) {
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&c.srv), OCI_HTYPE_SERVER, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&c.svc), OCI_HTYPE_SVCCTX, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&c.ses), OCI_HTYPE_SESSION, 0, nullptr);
    sword rc = OCIServerAttach(c.srv, err_, reinterpret_cast<const OraText*>(db_.c_str()),
                               static_cast<sb4>(db_.size()), OCI_DEFAULT);
    if (rc != OCI_SUCCESS) return rc;
    OCIAttrSet(c.svc, OCI_HTYPE_SVCCTX, c.srv, 0, OCI_ATTR_SERVER, err_);
    OCIAttrSet(c.ses, OCI_HTYPE_SESSION, const_cast<char*>(user), static_cast<ub4>(strlen(user)),
               OCI_ATTR_USERNAME, err_);
    OCIAttrSet(c.ses, OCI_HTYPE_SESSION, const_cast<char*>(password), static_cast<ub4>(strlen(password)),
               OCI_ATTR_PASSWORD, err_);
    rc = OCISessionBegin(c.svc, err_, c.ses, OCI_CRED_RDBMS, OCI_DEFAULT);
    if (rc != OCI_SUCCESS) return rc;
    return OCIAttrSet(c.svc, OCI_HTYPE_SVCCTX, c.ses, 0, OCI_ATTR_SESSION, err_);
}

OciConn OciTest::connect(const char* user, const char* password) {
    OciConn c;
    sword rc = logon(c, user, password);
    EXPECT_EQ(OCI_SUCCESS, rc) << errorText();
    return c;
}

void OciTest::logoff(OciConn& c) {
    EXPECT_EQ(OCI_SUCCESS, OCISessionEnd(c.svc, err_, c.ses, OCI_DEFAULT));
    EXPECT_EQ(OCI_SUCCESS, OCIServerDetach(c.srv, err_, OCI_DEFAULT));
    OCIHandleFree(c.ses, OCI_HTYPE_SESSION);
    OCIHandleFree(c.svc, OCI_HTYPE_SVCCTX);
    OCIHandleFree(c.srv, OCI_HTYPE_SERVER);
    c = OciConn{};
}

OCIStmt* OciTest::newStmt() {
    OCIStmt* st = nullptr;
    EXPECT_EQ(OCI_SUCCESS, OCIHandleAlloc(env_, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr));
    return st;
}

OCIStmt* OciTest::prepare(const std::string& sql) {
    OCIStmt* st = newStmt();
    EXPECT_EQ(OCI_SUCCESS, OCIStmtPrepare(st, err_, reinterpret_cast<const OraText*>(sql.data()),
                                          static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT))
        << errorText();
    return st;
}

sword OciTest::run(OciConn& c, const std::string& sql, ub4 mode) {
    OCIStmt* st = prepare(sql);
    ub2 type = 0;
    OCIAttrGet(st, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, err_);
    sword rc = OCIStmtExecute(c.svc, st, err_, type == OCI_STMT_SELECT ? 0 : 1, 0, nullptr, nullptr, mode);
    OCIHandleFree(st, OCI_HTYPE_STMT);
    return rc;
}

std::string OciTest::errorText(sb4* code) {
    OraText buf[1024] = {0};
    sb4 c = 0;
    if (OCIErrorGet(err_, 1, nullptr, &c, buf, sizeof buf, OCI_HTYPE_ERROR) != OCI_SUCCESS)
        return "(no error)";
    if (code) *code = c;
    return reinterpret_cast<char*>(buf);
}

sb4 OciTest::errorCode() {
    sb4 c = 0;
    errorText(&c);
    return c;
}
