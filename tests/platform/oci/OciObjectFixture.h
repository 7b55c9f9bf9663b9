// A connected session for the stand-in's object, collection and REF tests: statements that must
// succeed and type descriptors by name.
#pragma once

#include <cstring>
#include <string>

#include "OciFixture.h"

class OciObjectTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        c_ = connect();
    }
    void TearDown() override {
        logoff(c_);
        OciTest::TearDown();
    }

    void Ok(const std::string& sql) { ASSERT_EQ(OCI_SUCCESS, run(c_, sql)) << sql << ": " << errorText(); }

    OCIType* Type(const char* name) {
        OCIType* tdo = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCITypeByName(env_, err_, c_.svc, nullptr, 0, reinterpret_cast<const OraText*>(name),
                                static_cast<ub4>(std::strlen(name)), nullptr, 0, OCI_DURATION_SESSION,
                                OCI_TYPEGET_HEADER, &tdo))
            << errorText();
        return tdo;
    }

    OciConn c_;
};
