#include "platform/rtl/Exceptions.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace rtl;

TEST(Exceptions, ClassNamesFollowTheHierarchy) {
    try {
        throw EReadError("Stream read error");
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.ClassName(), "EReadError");
        EXPECT_EQ(e.Message(), "Stream read error");
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST(Exceptions, AssertAlwaysRaisesWithMessageAndPlace) {
    EXPECT_NO_THROW(Assert(true, "never"));
    try {
        Assert(false, "Field not found");
        FAIL() << "Assert did not raise";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("Field not found (", 0), 0u) << e.Message();
        EXPECT_NE(e.Message().find("Exceptions_test.cpp, line "), std::string::npos) << e.Message();
    }
    try {
        Assert(false);
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("Assertion failure (", 0), 0u);
    }
}

TEST(Exceptions, OSErrorCarriesCode) {
    try {
        RaiseLastOSError(ENOENT);
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_NE(e.Message().find("Code: 2."), std::string::npos);
    }
    EXPECT_THROW(Abort(), EAbort);
    EXPECT_THROW(AbstractError(), EAbstractError);
}
