// Date-time and interval descriptors: construction, format models, comparison, binds and defines.
#include <cstring>

#include "OciFixture.h"

namespace {

class OciDateTimeTest : public OciTest {
protected:
    OCIDateTime* newTs(ub4 type = OCI_DTYPE_TIMESTAMP) {
        void* d = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDescriptorAlloc(env_, &d, type, 0, nullptr));
        return static_cast<OCIDateTime*>(d);
    }
    OCIInterval* newIv(ub4 type) {
        void* d = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDescriptorAlloc(env_, &d, type, 0, nullptr));
        return static_cast<OCIInterval*>(d);
    }
    std::string toText(OCIDateTime* dt, const char* fmt, ub1 fsprec = 6) {
        OraText buf[255];
        ub4 size = sizeof buf;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIDateTimeToText(env_, err_, dt, reinterpret_cast<const OraText*>(fmt),
                                    static_cast<ub1>(fmt ? strlen(fmt) : 0), fsprec, nullptr, 0, &size, buf))
            << errorText();
        return std::string(reinterpret_cast<char*>(buf), size);
    }
    sword fromText(OCIDateTime* dt, const char* text, const char* fmt) {
        return OCIDateTimeFromText(env_, err_, reinterpret_cast<const OraText*>(text), strlen(text),
                                   reinterpret_cast<const OraText*>(fmt), static_cast<ub1>(strlen(fmt)),
                                   nullptr, 0, dt);
    }
    std::string ivText(OCIInterval* iv, ub1 lead, ub1 frac) {
        OraText buf[255];
        size_t len = 0;
        EXPECT_EQ(OCI_SUCCESS, OCIIntervalToText(env_, err_, iv, lead, frac, buf, sizeof buf, &len))
            << errorText();
        return std::string(reinterpret_cast<char*>(buf), len);
    }
    sword ivFromText(OCIInterval* iv, const char* text) {
        return OCIIntervalFromText(env_, err_, reinterpret_cast<const OraText*>(text), strlen(text), iv);
    }
};

}  // namespace

TEST_F(OciDateTimeTest, FormatModelsOfTheClient) {
    OCIDateTime* dt = newTs();
    OCI_OK(OCIDateTimeConstruct(env_, err_, dt, 2026, 12, 6, 9, 5, 7, 250000000, nullptr, 0));
    struct Case {
        const char* fmt;
        const char* want;
    };
    const Case cases[] = {
        {"DD.MM.YYYY HH24:MI:SS", "06.12.2026 09:05:07"},
        {"fmDDfm.fmMMfm.YY", "6.12.26"},
        {"DD-MON-YYYY HH12:MI:SS.FF3 AM", "06-DEC-2026 09:05:07.250 AM"},
        {"Dy, DD Month YYYY", "Sun, 06 December  2026"},
        {"fmDAY", "SUNDAY"},
        {"YYYY-MM-DD\"T\"HH24:MI:SSXFF", "2026-12-06T09:05:07.250000"},
        {nullptr, "06-DEC-26 09.05.07.250000 AM"},
    };
    for (const Case& k : cases) EXPECT_EQ(k.want, toText(dt, k.fmt)) << (k.fmt ? k.fmt : "(default)");
    sb2 y = 0;
    ub1 mo = 0, d = 0, h = 0, mi = 0, s = 0;
    ub4 fs = 0;
    OCI_OK(OCIDateTimeGetDate(env_, err_, dt, &y, &mo, &d));
    OCI_OK(OCIDateTimeGetTime(env_, err_, dt, &h, &mi, &s, &fs));
    EXPECT_EQ(2026, y);
    EXPECT_EQ(12, mo);
    EXPECT_EQ(6, d);
    EXPECT_EQ(9, h);
    EXPECT_EQ(5, mi);
    EXPECT_EQ(7, s);
    EXPECT_EQ(250000000u, fs);
    OCIDescriptorFree(dt, OCI_DTYPE_TIMESTAMP);
}

TEST_F(OciDateTimeTest, TextIsReadBackWithTheSameModel) {
    OCIDateTime* dt = newTs();
    OCIDateTime* back = newTs();
    OCI_OK(fromText(dt, "29.02.2024 23:59:58.125", "DD.MM.YYYY HH24:MI:SS.FF"));
    EXPECT_EQ("2024-02-29 23:59:58.125", toText(dt, "YYYY-MM-DD HH24:MI:SS.FF3"));
    OCI_OK(fromText(back, "29-FEB-24 11.59.58.125 PM", "DD-MON-RR HH.MI.SSXFF AM"));
    sword cmp = 9;
    OCI_OK(OCIDateTimeCompare(env_, err_, dt, back, &cmp));
    EXPECT_EQ(0, cmp);
    OCI_OK(fromText(back, "01.03.2024", "DD.MM.YYYY"));
    OCI_OK(OCIDateTimeCompare(env_, err_, dt, back, &cmp));
    EXPECT_EQ(-1, cmp);
    OCI_OK(OCIDateTimeAssign(env_, err_, dt, back));
    OCI_OK(OCIDateTimeCompare(env_, err_, dt, back, &cmp));
    EXPECT_EQ(0, cmp);

    struct Bad {
        const char* text;
        sb4 code;
    };
    const Bad bad[] = {
        {"30.02.2024", 1847}, {"01.13.2024", 1843}, {"01.01.2024 x", 1830}, {"aa.01.2024", 1858}};
    for (const Bad& b : bad) {
        EXPECT_EQ(OCI_ERROR, fromText(dt, b.text, "DD.MM.YYYY")) << b.text;
        EXPECT_EQ(b.code, errorCode()) << b.text;
    }
    EXPECT_EQ(OCI_ERROR, OCIDateTimeConstruct(env_, err_, dt, 2023, 2, 29, 0, 0, 0, 0, nullptr, 0));
    EXPECT_EQ(1847, errorCode());
}

TEST_F(OciDateTimeTest, TimeZonesCompareAsInstants) {
    OCIDateTime* a = newTs(OCI_DTYPE_TIMESTAMP_TZ);
    OCIDateTime* b = newTs(OCI_DTYPE_TIMESTAMP_TZ);
    const char* plus3 = "+03:00";
    OCI_OK(OCIDateTimeConstruct(env_, err_, a, 2026, 1, 1, 12, 0, 0, 0,
                                reinterpret_cast<OraText*>(const_cast<char*>(plus3)), 6));
    OCI_OK(OCIDateTimeConstruct(env_, err_, b, 2026, 1, 1, 9, 0, 0, 0, nullptr, 0));
    EXPECT_EQ("12:00 +03:00", toText(a, "HH24:MI TZR"));
    sword cmp = 9;
    OCI_OK(OCIDateTimeCompare(env_, err_, a, b, &cmp));
    EXPECT_EQ(0, cmp);
}

TEST_F(OciDateTimeTest, IntervalsInTextAndParts) {
    OCIInterval* ym = newIv(OCI_DTYPE_INTERVAL_YM);
    OCIInterval* ds = newIv(OCI_DTYPE_INTERVAL_DS);
    OCIInterval* ds2 = newIv(OCI_DTYPE_INTERVAL_DS);
    OCI_OK(ivFromText(ym, "-2-3"));
    EXPECT_EQ("-02-03", ivText(ym, 2, 0));
    sb4 yr = 0, mn = 0;
    OCI_OK(OCIIntervalGetYearMonth(env_, err_, &yr, &mn, ym));
    EXPECT_EQ(-2, yr);
    EXPECT_EQ(-3, mn);
    OCI_OK(ivFromText(ds, "1 02:03:04.5"));
    EXPECT_EQ("+01 02:03:04.500000", ivText(ds, 2, 6));
    EXPECT_EQ("+000000001 02:03:04", ivText(ds, 9, 0));
    OCI_OK(OCIIntervalSetDaySecond(env_, err_, 1, 2, 3, 4, 500000000, ds2));
    sword cmp = 9;
    OCI_OK(OCIIntervalCompare(env_, err_, ds, ds2, &cmp));
    EXPECT_EQ(0, cmp);
    OCI_OK(OCIIntervalSetDaySecond(env_, err_, 0, 23, 0, 0, 0, ds2));
    OCI_OK(OCIIntervalCompare(env_, err_, ds, ds2, &cmp));
    EXPECT_EQ(1, cmp);
    ub4 valid = 9;
    OCI_OK(OCIIntervalCheck(env_, err_, ds, &valid));
    EXPECT_EQ(0u, valid);
    EXPECT_EQ(OCI_ERROR, OCIIntervalCompare(env_, err_, ym, ds, &cmp));
    EXPECT_EQ(OCI_ERROR, ivFromText(ds, "1 25:00:00"));
    EXPECT_EQ(1867, errorCode());
    EXPECT_EQ(OCI_ERROR, ivFromText(ym, "1-12"));
    OraText tiny[4];
    size_t len = 0;
    EXPECT_EQ(OCI_ERROR, OCIIntervalToText(env_, err_, ds, 2, 6, tiny, sizeof tiny, &len));
    OCI_OK(OCIIntervalAssign(env_, err_, ds, ds2));
    OCI_OK(OCIIntervalCompare(env_, err_, ds, ds2, &cmp));
    EXPECT_EQ(0, cmp);
}

TEST_F(OciDateTimeTest, TimestampDescriptorsAsBindsAndDefines) {
    dbExec("CREATE TABLE ev(id INTEGER, at TIMESTAMP(3))");
    OciConn c = connect();
    OCIDateTime* in = newTs();
    OCI_OK(OCIDateTimeConstruct(env_, err_, in, 2026, 12, 10, 15, 40, 0, 123000000, nullptr, 0));
    OCIStmt* ins = prepare("INSERT INTO ev VALUES (1, :AT)");
    OCIBind* b = nullptr;
    OCI_OK(OCIBindByName(ins, &b, err_, reinterpret_cast<const OraText*>(":AT"), 3, &in, sizeof in,
                         SQLT_TIMESTAMP, nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIStmtExecute(c.svc, ins, err_, 1, 0, nullptr, nullptr, 0));
    OCIStmt* sel = prepare("SELECT at FROM ev");
    OCIDateTime* out = newTs();
    OCIDefine* d = nullptr;
    OCI_OK(OCIDefineByPos(sel, &d, err_, 1, &out, sizeof out, SQLT_TIMESTAMP, nullptr, nullptr, nullptr, 0));
    OCI_OK(OCIStmtExecute(c.svc, sel, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_EQ("10.12.2026 15:40:00.123", toText(out, "DD.MM.YYYY HH24:MI:SS.FF3"));
    OCIParam* p = nullptr;
    OCI_OK(OCIParamGet(sel, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 1));
    ub2 type = 0;
    ub1 fsprec = 0;
    OCIAttrGet(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_);
    OCIAttrGet(p, OCI_DTYPE_PARAM, &fsprec, nullptr, OCI_ATTR_FSPRECISION, err_);
    EXPECT_EQ(SQLT_TIMESTAMP, type);
    EXPECT_EQ(3, fsprec);
    logoff(c);
}

TEST_F(OciDateTimeTest, IntervalDescriptorsAsBindsAndDefines) {
    // "TO" is a keyword of SQLite, so the declared types leave it out
    dbExec("CREATE TABLE span(ym INTERVAL YEAR MONTH, ds INTERVAL DAY SECOND(3))");
    OciConn c = connect();
    OCIInterval* ym = newIv(OCI_DTYPE_INTERVAL_YM);
    OCIInterval* ds = newIv(OCI_DTYPE_INTERVAL_DS);
    OCI_OK(ivFromText(ym, "-1-6"));
    OCI_OK(ivFromText(ds, "3 04:05:06.75"));
    OCIStmt* ins = prepare("INSERT INTO span VALUES (:YM, :DS)");
    OCIBind* b = nullptr;
    OCI_OK(OCIBindByName(ins, &b, err_, reinterpret_cast<const OraText*>("YM"), 2, &ym, sizeof ym,
                         SQLT_INTERVAL_YM, nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIBindByName(ins, &b, err_, reinterpret_cast<const OraText*>("DS"), 2, &ds, sizeof ds,
                         SQLT_INTERVAL_DS, nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIStmtExecute(c.svc, ins, err_, 1, 0, nullptr, nullptr, 0));
    OCIStmt* sel = prepare("SELECT ym, ds FROM span");
    OCIInterval* ym2 = newIv(OCI_DTYPE_INTERVAL_YM);
    OCIInterval* ds2 = newIv(OCI_DTYPE_INTERVAL_DS);
    OCIDefine* d = nullptr;
    OCI_OK(
        OCIDefineByPos(sel, &d, err_, 1, &ym2, sizeof ym2, SQLT_INTERVAL_YM, nullptr, nullptr, nullptr, 0));
    OCI_OK(
        OCIDefineByPos(sel, &d, err_, 2, &ds2, sizeof ds2, SQLT_INTERVAL_DS, nullptr, nullptr, nullptr, 0));
    OCI_OK(OCIStmtExecute(c.svc, sel, err_, 1, 0, nullptr, nullptr, 0));
    EXPECT_EQ("-01-06", ivText(ym2, 2, 0));
    EXPECT_EQ("+03 04:05:06.750", ivText(ds2, 2, 3));
    OCIParam* p = nullptr;
    OCI_OK(OCIParamGet(sel, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 1));
    ub2 type = 0;
    sb2 lead = 0;
    OCIAttrGet(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_);
    OCIAttrGet(p, OCI_DTYPE_PARAM, &lead, nullptr, OCI_ATTR_PRECISION, err_);
    EXPECT_EQ(SQLT_INTERVAL_YM, type);
    EXPECT_EQ(2, lead);
    OCI_OK(OCIParamGet(sel, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 2));
    sb1 frac = 0;
    OCIAttrGet(p, OCI_DTYPE_PARAM, &frac, nullptr, OCI_ATTR_SCALE, err_);
    EXPECT_EQ(3, frac);
    // a year-month descriptor cannot take a day-second column
    OCI_OK(
        OCIDefineByPos(sel, &d, err_, 2, &ym2, sizeof ym2, SQLT_INTERVAL_DS, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(OCI_ERROR, OCIStmtExecute(c.svc, sel, err_, 1, 0, nullptr, nullptr, 0));
    logoff(c);
}
