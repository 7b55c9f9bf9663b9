// Session settings: ALTER SESSION SET values are checked as Oracle checks them, kept per session,
// answered by the client library's NLS block and used where Oracle uses them.
#include <cstring>

#include "OciFixture.h"

namespace {

class OciNlsTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        dbExec(
            "INSERT INTO client(client_id, client_name, balance, created) "
            "VALUES (1, 'one', 1234.5, '2026-03-04 05:06:07')");
        a_ = connect();
        b_ = connect("zuv", "zuv");
    }
    void TearDown() override {
        logoff(a_);
        logoff(b_);
        OciTest::TearDown();
    }
    // The first column of a one-row query, fetched as text; "ORA-nnnnn" when it fails.
    std::string text(OciConn& c, const std::string& sql) {
        OCIStmt* st = prepare(sql);
        char out[128] = "";
        sb2 ind = 0;
        OCIDefine* d = nullptr;
        OCIDefineByPos(st, &d, err_, 1, out, sizeof out, SQLT_STR, &ind, nullptr, nullptr, 0);
        sword rc = OCIStmtExecute(c.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
        OCIHandleFree(st, OCI_HTYPE_STMT);
        if (rc != OCI_SUCCESS) return errorText().substr(0, 9);
        return ind == -1 ? "(null)" : out;
    }
    OciConn a_, b_;
};

}  // namespace

TEST_F(OciNlsTest, SettingsBelongToTheSessionThatMadeThem) {
    OCI_OK(run(a_, "ALTER SESSION SET NLS_DATE_FORMAT = 'DD.MM.YYYY HH24:MI' NLS_NUMERIC_CHARACTERS = ', '"));
    struct Case {
        const char* sql;
        const char* inA;  // after the settings
        const char* inB;  // Oracle's defaults
    } cases[] = {
        {"SELECT to_char(created) FROM client", "04.03.2026 05:06", "04-MAR-26"},
        {"SELECT created FROM client", "04.03.2026 05:06", "04-MAR-26"},
        {"SELECT to_char(to_date('31.12.2025 23:59')) FROM dual", "31.12.2025 23:59", "ORA-01843"},
        {"SELECT to_char(to_date('31-DEC-25')) FROM dual", "ORA-01858", "31-DEC-25"},
        {"SELECT to_char(balance) FROM client", "1234,5", "1234.5"},
        {"SELECT balance FROM client", "1234,5", "1234.5"},
        {"SELECT to_number('2,5') * 2 FROM dual", "5", "ORA-01722"},
        {"SELECT to_char(created, 'YYYY') FROM client", "2026", "2026"},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(k.inA, text(a_, k.sql)) << k.sql;
        EXPECT_EQ(k.inB, text(b_, k.sql)) << k.sql;
    }
    // a territory brings its own date format and numeric characters
    OCI_OK(run(b_, "ALTER SESSION SET NLS_TERRITORY = RUSSIA"));
    EXPECT_EQ("04.03.26", text(b_, "SELECT created FROM client"));
    EXPECT_EQ("1234,5", text(b_, "SELECT balance FROM client"));
}

TEST_F(OciNlsTest, TheClientLibrarysBlockReadsTheSessionsValues) {
    OCI_OK(run(a_, "ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY' NLS_DATE_LANGUAGE = russian"));
    // the block the client library sends, as it sends it
    OCIStmt* st = prepare(
        "declare  cursor NlsParamsCursor is    SELECT * FROM nls_session_parameters;begin  SELECT "
        "Nvl(Lengthb(Chr(65536)), Nvl(Lengthb(Chr(256)), 1))    INTO :CharLength FROM dual;  for NlsRecord "
        "in "
        "NlsParamsCursor loop    if NlsRecord.parameter = 'NLS_DATE_LANGUAGE' then      :NlsDateLanguage := "
        "NlsRecord.value;    elsif NlsRecord.parameter = 'NLS_DATE_FORMAT' then      :NlsDateFormat := "
        "NlsRecord.value;    elsif NlsRecord.parameter = 'NLS_NUMERIC_CHARACTERS' then      "
        ":NlsNumericCharacters := NlsRecord.value;    end if;  end loop;  SELECT NLS_CHARSET_ID(:Charset) "
        "INTO "
        ":CharsetId FROM dual;end;");
    int32_t charLength = 0, charsetId = 0;
    char language[41] = "", format[41] = "", numeric[41] = "", charset[41] = "AL32UTF8";
    sb2 ind[6] = {};
    struct Out {
        const char* name;
        void* value;
        sb4 size;
        ub2 type;
    } binds[] = {{"CharLength", &charLength, 4, SQLT_INT}, {"NlsDateLanguage", language, 41, SQLT_STR},
                 {"NlsDateFormat", format, 41, SQLT_STR},  {"NlsNumericCharacters", numeric, 41, SQLT_STR},
                 {"Charset", charset, 41, SQLT_STR},       {"CharsetId", &charsetId, 4, SQLT_INT}};
    for (size_t k = 0; k < std::size(binds); ++k) {
        OCIBind* b = nullptr;
        OCI_OK(OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(binds[k].name),
                             static_cast<sb4>(std::strlen(binds[k].name)), binds[k].value, binds[k].size,
                             binds[k].type, &ind[k], nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    }
    OCI_OK(OCIStmtExecute(a_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(1, charLength);
    EXPECT_STREQ("RUSSIAN", language);
    EXPECT_STREQ("DD.MM.YYYY", format);
    EXPECT_STREQ(".,", numeric);
    EXPECT_EQ(873, charsetId);
    // the other session still has Oracle's defaults, and an unknown character set has no id
    std::strcpy(charset, "NO_SUCH_SET");
    OCI_OK(OCIStmtExecute(b_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_STREQ("AMERICAN", language);
    EXPECT_STREQ("DD-MON-RR", format);
    EXPECT_EQ(-1, ind[5]);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciNlsTest, ValuesAndParametersAreCheckedAsOracleChecksThem) {
    struct Case {
        const char* sql;
        sb4 code;  // 0: accepted
    } cases[] = {
        {"ALTER SESSION SET NLS_DATE_FORMAT = 'YYYY-MM-DD\"T\"HH24:MI'", 0},
        {"ALTER SESSION SET NLS_DATE_FORMAT = 'XYZ'", 1821},
        {"ALTER SESSION SET NLS_NUMERIC_CHARACTERS = ',.'", 0},
        {"ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '..'", 12705},
        {"ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '1,'", 12705},
        {"ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '.'", 12705},
        {"ALTER SESSION SET NLS_DATE_LANGUAGE = 'KLINGON'", 12705},
        {"ALTER SESSION SET NLS_TERRITORY = 'NOWHERE'", 12705},
        {"ALTER SESSION SET NLS_SORT = RUSSIAN_CI", 0},
        {"ALTER SESSION SET NLS_COMP = LINGUISTIC", 0},
        {"ALTER SESSION SET OPTIMIZER_MODE = FIRST_ROWS_10", 0},
        {"ALTER SESSION SET OPTIMIZER_MODE = FASTEST", 96},
        {"ALTER SESSION SET TIME_ZONE = '+03:00'", 0},
        {"ALTER SESSION SET ISOLATION_LEVEL = READ COMMITTED", 0},
        {"ALTER SESSION SET NO_SUCH_PARAMETER = 1", 2248},
        {"ALTER SESSION SET NLS_DATE_FORMAT", 922},
        {"ALTER SESSION ENABLE PARALLEL DML", 0},
        {"ALTER SESSION FROB", 922},
    };
    for (const Case& k : cases) {
        sword rc = run(a_, k.sql);
        if (k.code == 0) {
            EXPECT_EQ(OCI_SUCCESS, rc) << k.sql << ": " << errorText();
        } else {
            EXPECT_EQ(OCI_ERROR, rc) << k.sql;
            EXPECT_EQ(k.code, errorCode()) << k.sql;
        }
    }
    // refused values change nothing; the accepted ones hold
    EXPECT_EQ("2026-03-04T05:06", text(a_, "SELECT created FROM client"));
    EXPECT_EQ("1234,5", text(a_, "SELECT balance FROM client"));
    // only what was accepted is logged
    EXPECT_EQ(8, dbInt("SELECT count(*) FROM oci_session_log"));
}
