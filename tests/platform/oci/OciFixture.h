// A stand-in database in a temporary folder, an OCI environment and logon helpers.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <string>

#include "platform/oci/oci.h"

struct OciConn {
    OCISvcCtx* svc = nullptr;
    OCIServer* srv = nullptr;
    OCISession* ses = nullptr;
};

class OciTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs SQL on the database directly, outside the stand-in.
    void dbExec(const std::string& sql);
    long long dbInt(const std::string& sql);

    sword logon(OciConn& c, const char* user = "qel", const char* password = "secret");
    OciConn connect(const char* user = "qel", const char* password = "secret");
    void logoff(OciConn& c);
    // Prepares and runs a statement without binds (iters 1, or 0 for a query).
    sword run(OciConn& c, const std::string& sql, ub4 mode = OCI_DEFAULT);
    OCIStmt* prepare(const std::string& sql);
    OCIStmt* newStmt();
    std::string errorText(sb4* code = nullptr);
    sb4 errorCode();
    // Binds a named placeholder of st, expected to succeed.
    void bind(OCIStmt* st, const char* name, void* v, sb4 size, ub2 type, sb2* ind = nullptr) {
        OCIBind* b = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(name),
                                             static_cast<sb4>(std::strlen(name)), v, size, type, ind, nullptr,
                                             nullptr, 0, nullptr, OCI_DEFAULT))
            << errorText();
    }
    // An attribute of a handle or descriptor, expected to be there.
    template <class T>
    T attr(void* h, ub4 type, ub4 a) {
        T v{};
        EXPECT_EQ(OCI_SUCCESS, OCIAttrGet(h, type, &v, nullptr, a, err_)) << errorText();
        return v;
    }
    // A text attribute of a describe parameter.
    std::string textAttr(void* h, ub4 a) {
        OraText* p = nullptr;
        ub4 len = 0;
        EXPECT_EQ(OCI_SUCCESS, OCIAttrGet(h, OCI_DTYPE_PARAM, &p, &len, a, err_)) << errorText();
        return std::string(reinterpret_cast<char*>(p), len);
    }

    std::string dir_, db_;
    OCIEnv* env_ = nullptr;
    OCIError* err_ = nullptr;
};

#define OCI_OK(expr) ASSERT_EQ(OCI_SUCCESS, (expr)) << errorText()
#define OCI_EXPECT_OK(expr) EXPECT_EQ(OCI_SUCCESS, (expr)) << errorText()

// OciTest with one session logged on for the test.
class OciSessionTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        c_ = connect();
    }
    void TearDown() override {
        if (c_.svc) logoff(c_);
        OciTest::TearDown();
    }
    // Executes st once on the session.
    sword exec(OCIStmt* st) { return OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT); }

    OciConn c_;
};
