// Fetched values as the client's buffers receive them: text in code page 1251 and cut to the
// buffer, integers and doubles from stored integers and reals, dates from the stored text.
#include <cstring>
#include <string>
#include <vector>

#include "OciFixture.h"

namespace {

using OciFetchValuesTest = OciSessionTest;

}  // namespace

TEST_F(OciFetchValuesTest, OneValuePerCase) {
    struct Case {
        const char* expr;  // client text (code page 1251)
        ub2 dty;
        sb4 size;
        sword status;       // of the fetch
        sb4 code;           // ORA code of a failing fetch
        std::string bytes;  // the buffer's first bytes after the fetch
        sb2 indicator;      // when the fetch succeeded
    };
    const auto dat = [](std::vector<int> b) {
        std::string s;
        for (int v : b) s += static_cast<char>(v);
        return s;
    };
    const auto i32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const auto f64 = [](double v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
    const Case cases[] = {
        {"'abc'", SQLT_STR, 10, OCI_SUCCESS, 0, std::string("abc\0", 4), 0},
        {"'abcdef'", SQLT_STR, 4, OCI_SUCCESS_WITH_INFO, 1406, std::string("abc\0", 4), 6},
        {"'\xCF\xF0\xE8\xE2\xE5\xF2'", SQLT_STR, 10, OCI_SUCCESS, 0,
         std::string("\xCF\xF0\xE8\xE2\xE5\xF2\0", 7), 0},
        {"'\xCF\xF0\xE8\xE2\xE5\xF2'", SQLT_STR, 4, OCI_SUCCESS_WITH_INFO, 1406,
         std::string("\xCF\xF0\xE8\0", 4), 6},
        {"'abc'", SQLT_CHR, 5, OCI_SUCCESS, 0, "abc", 0},
        {"42", SQLT_INT, 4, OCI_SUCCESS, 0, i32(42), 0},
        {"-7", SQLT_INT, 4, OCI_SUCCESS, 0, i32(-7), 0},
        {"2.7", SQLT_INT, 4, OCI_SUCCESS, 0, i32(2), 0},
        {"'15'", SQLT_INT, 4, OCI_SUCCESS, 0, i32(15), 0},
        {"300", SQLT_INT, 1, OCI_ERROR, 1455, "", 0},
        {"3000000000", SQLT_INT, 4, OCI_ERROR, 1455, "", 0},
        {"123456789012", SQLT_FLT, 8, OCI_SUCCESS, 0, f64(123456789012.0), 0},
        {"2.5", SQLT_FLT, 8, OCI_SUCCESS, 0, f64(2.5), 0},
        {"'2024-03-05 10:20:30'", SQLT_DAT, 7, OCI_SUCCESS, 0, dat({120, 124, 3, 5, 11, 21, 31}), 0},
        {"' 2024-03-05 10:20:30 '", SQLT_DAT, 7, OCI_SUCCESS, 0, dat({120, 124, 3, 5, 11, 21, 31}), 0},
        {"'2024-03-05'", SQLT_DAT, 7, OCI_SUCCESS, 0, dat({120, 124, 3, 5, 1, 1, 1}), 0},
        {"'1999-12-31 23:59:59'", SQLT_DAT, 7, OCI_SUCCESS, 0, dat({119, 199, 12, 31, 24, 60, 60}), 0},
        {"'2024-02-30 10:20:30'", SQLT_DAT, 7, OCI_ERROR, 1861, "", 0},
        {"'2024-03-05 25:20:30'", SQLT_DAT, 7, OCI_ERROR, 1861, "", 0},
        {"'2024-x3-05 10:20:30'", SQLT_DAT, 7, OCI_ERROR, 1861, "", 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.expr) + " as type " + std::to_string(k.dty));
        OCIStmt* st = prepare(std::string("SELECT ") + k.expr + " AS v FROM dual");
        ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        std::vector<char> buf(static_cast<size_t>(k.size) + 8, '#');
        sb2 ind = 99;
        ub2 code = 99;
        OCIDefine* d = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d, err_, 1, buf.data(), k.size, k.dty, &ind, nullptr,
                                              &code, OCI_DEFAULT));
        const sword rc = OCIStmtFetch(st, err_, 1, OCI_FETCH_NEXT, 0);
        EXPECT_EQ(k.status, rc) << errorText();
        if (rc == OCI_ERROR) {
            EXPECT_EQ(k.code, errorCode());
        } else {
            EXPECT_EQ(k.bytes, std::string(buf.data(), k.bytes.size()));
            EXPECT_EQ(k.indicator, ind);
            EXPECT_EQ(k.code, code);
        }
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
}
