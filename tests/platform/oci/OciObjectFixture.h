// A connected session for the stand-in's object, collection and REF tests: statements that must
// succeed and type descriptors by name.
#pragma once

#include <cstring>
#include <string>

#include "OciFixture.h"

// The native pointer size: every pointer cell of an instance takes it.
constexpr size_t P = sizeof(void*);

// The value of type T at byte offset off of an instance or null structure.
template <class T>
T Get(const void* base, size_t off) {
    T v;
    std::memcpy(&v, static_cast<const char*>(base) + off, sizeof v);
    return v;
}

class OciObjectTest : public OciSessionTest {
protected:
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
};
