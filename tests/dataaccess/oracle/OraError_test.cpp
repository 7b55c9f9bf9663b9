// Turning OCI statuses and error records into EOraError.
#include "dataaccess/oracle/OraError.h"

#include <gtest/gtest.h>

#include <cstring>

#include "OraFixture.h"
#include "dataaccess/oracle/OraCall.h"

using namespace dac;

namespace {

// What the fake OCIErrorGet answers: its result, the record's code and text.
struct FakeRecord {
    sword result = OCI_SUCCESS;
    sb4 code = 0;
    std::string text;
    ub4 bufferSize = 0;  // what the caller offered
};
FakeRecord record;

sword FakeErrorGet(void*, ub4 recordno, OraText*, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type) {
    EXPECT_EQ(1u, recordno);
    EXPECT_EQ(static_cast<ub4>(OCI_HTYPE_ERROR), type);
    record.bufferSize = bufsiz;
    if (record.code) *errcodep = record.code;
    std::memcpy(bufp, record.text.c_str(), std::min<size_t>(record.text.size() + 1, bufsiz));
    return record.result;
}

class OraErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetClient();
        InitOCI();
        saved_ = dac::OCIErrorGet;
        dac::OCIErrorGet = &FakeErrorGet;
        record = FakeRecord{};
    }
    void TearDown() override {
        dac::OCIErrorGet = saved_;
        ResetClient();
    }
    decltype(dac::OCIErrorGet) saved_ = nullptr;
};

}  // namespace

TEST_F(OraErrorTest, StatusesAndErrorRecordsGiveCodeAndText) {
    struct Case {
        sword status;
        FakeRecord rec;
        int32_t code;
        const char* message;
    } cases[] = {
        {OCI_ERROR, {OCI_SUCCESS, 1403, "ORA-01403: no data found"}, 1403, "ORA-01403: no data found"},
        {OCI_ERROR, {OCI_SUCCESS, 942, ""}, 942, "ORA-942"},
        {OCI_SUCCESS_WITH_INFO,
         {OCI_SUCCESS, 24344, "ORA-24344: success with compilation error"},
         24344,
         "ORA-24344: success with compilation error"},
        // OCIErrorGet itself failing: the number is read from the text
        {OCI_ERROR,
         {OCI_ERROR, 0, "ORA-00942: table or view does not exist"},
         942,
         "ORA-00942: table or view does not exist"},
        {OCI_ERROR, {OCI_ERROR, 0, "ORA-0x942: odd"}, 1, "ORA-0x942: odd"},
        {OCI_NO_DATA, {OCI_NO_DATA, 0, "whatever"}, 100, "OCI_NO_DATA"},
        {OCI_ERROR, {OCI_SUCCESS_WITH_INFO, 0, "whatever"}, 1, "OCI_SUCCESS_WITH_INFO"},
        {OCI_NEED_DATA, {}, 99, "OCI_NEED_DATA"},
        {OCI_INVALID_HANDLE, {}, 2, "OCI_INVALID_HANDLE"},
        {-3123, {}, 3123, "Unknown error: ORA--3123"},
    };
    for (const auto& c : cases) {
        record = c.rec;
        AnsiString message = "untouched";
        EXPECT_EQ(c.code, GetOraError(c.status, false, message)) << c.message;
        EXPECT_EQ(c.message, message);
    }
    record = {OCI_SUCCESS, 1, "ORA-00001: unique constraint violated"};
    AnsiString message = "untouched";
    GetOraError(OCI_ERROR, false, message);
    EXPECT_EQ(1024u, record.bufferSize);
    message = "untouched";
    EXPECT_EQ(0, GetOraError(OCI_SUCCESS, false, message));
    EXPECT_EQ("untouched", message);
}

TEST_F(OraErrorTest, RaisedErrorsLoseTrailingLineEnds) {
    record = {OCI_SUCCESS, 1017, "ORA-01017: invalid username/password; logon denied\n \n"};
    try {
        CheckOCI(OCI_ERROR);
        FAIL() << "nothing raised";
    } catch (const EOraError& e) {
        EXPECT_EQ(1017, e.ErrorCode);
        EXPECT_EQ("ORA-01017: invalid username/password; logon denied", e.Message());
        EXPECT_EQ(nullptr, e.Component);
    }
    // Success with information is no error here.
    EXPECT_NO_THROW(CheckOCIStatus(OCI_SUCCESS_WITH_INFO, false));
    EXPECT_NO_THROW(CheckOCIStatus(OCI_SUCCESS, false));
    record = {OCI_SUCCESS, 1403, "ORA-01403: no data found"};
    AnsiString text;
    EXPECT_EQ(1403, GetPendingOraError(false, text));
    EXPECT_EQ(1403, GetOraErrorCode(OCI_ERROR, false));
}

TEST_F(OraErrorTest, UnicodeRecordsAreConvertedToTheCodePage) {
    std::u16string wide = u"ORA-20001: \u041E\u0448\u0438\u0431\u043A\u0430";  // "Ошибка"
    record = {OCI_SUCCESS, 20001,
              std::string(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * 2)};
    AnsiString message;
    EXPECT_EQ(20001, GetOraError(OCI_ERROR, true, message));
    EXPECT_EQ("ORA-20001: \xCE\xF8\xE8\xE1\xEA\xE0", message);
    EXPECT_EQ(2048u, record.bufferSize);
}

TEST(OraErrorClass, LostConnectionAndUniqueViolation) {
    for (int code : {28, 1012, 3113, 3114, 12152, 12203, 12514, 12571}) {
        EOraError e(code, "x");
        EXPECT_TRUE(e.IsFatalError()) << code;
        EXPECT_TRUE(e.IsLostConnection()) << code;
        EXPECT_FALSE(e.IsKeyViolation()) << code;
    }
    for (int code : {0, 2, 942, 1017, 3115, 12154}) EXPECT_FALSE(EOraError(code, "x").IsFatalError()) << code;
    EOraError unique(1, "ORA-00001: unique constraint violated");
    EXPECT_TRUE(unique.IsKeyViolation());
    EXPECT_TRUE(unique.IsUniqueViolation());
    EXPECT_FALSE(unique.IsFatalError());
    EXPECT_STREQ("EOraError", unique.ClassName());
    try {
        RaiseOraError(20001, "boom");
    } catch (const EDAError& e) {
        EXPECT_EQ(20001, e.ErrorCode);
        EXPECT_EQ("boom", e.Message());
    }
}

TEST(OraErrorStyle, NeedsTheOci8CallStyle) {
    ResetClient();
    AnsiString message;
    try {
        GetOraError(OCI_ERROR, false, message);
        FAIL() << "nothing raised";
    } catch (const EOraError&) {
        FAIL() << "no Oracle error expected";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ("Need Oracle 8 Call Interface", e.Message());
    }
}
