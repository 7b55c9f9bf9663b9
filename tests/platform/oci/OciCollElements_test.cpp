// Collections of TIMESTAMP, INTERVAL, CLOB and BLOB elements in the stand-in: element cells holding
// the element's own descriptor (native pointer cells), constructors in SQL, insert, select and
// update, and elements appended and assigned by the client from its own descriptors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OciObjectFixture.h"

namespace {

void* Cell(void* elem) {
    void* p = nullptr;
    std::memcpy(&p, elem, sizeof p);
    return p;
}

}  // namespace

class OciCollElementsTest : public OciObjectTest {
protected:
    void SetUp() override {
        OciObjectTest::SetUp();
        for (const char* sql :
             {"CREATE TYPE stamps_t AS TABLE OF TIMESTAMP(3)",
              "CREATE TYPE zones_t AS VARRAY(4) OF TIMESTAMP WITH TIME ZONE",
              "CREATE TYPE months_t AS VARRAY(3) OF INTERVAL YEAR TO MONTH",
              "CREATE TYPE spans_t AS TABLE OF INTERVAL DAY TO SECOND",
              "CREATE TYPE texts_t AS TABLE OF CLOB", "CREATE TYPE blobs_t AS TABLE OF BLOB",
              "CREATE TYPE shift_t AS OBJECT (name VARCHAR2(10), marks stamps_t)",
              "CREATE TYPE shifts_t AS TABLE OF shift_t",
              "CREATE TABLE log(id NUMBER(9), s stamps_t, z zones_t, m months_t, d spans_t, "
              "c texts_t, b blobs_t, sh shifts_t)"})
            Ok(sql);
    }

    // The collection in column col of row id, fetched into a fresh instance.
    void* Fetch(const std::string& col, const char* type, sb4 id) {
        OCIStmt* st = prepare("SELECT " + col + " FROM log WHERE id = " + std::to_string(id));
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        OCIDefine* d = nullptr;
        void* coll = nullptr;
        void* ind = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d, err_, 1, nullptr, 0, SQLT_NTY, nullptr, nullptr,
                                              nullptr, OCI_DEFAULT));
        EXPECT_EQ(OCI_SUCCESS, OCIDefineObject(d, err_, Type(type), &coll, nullptr, &ind, nullptr));
        EXPECT_EQ(OCI_SUCCESS, OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return coll;
    }

    // Element k: its cell (the element address) and whether it is null; nullptr when missing.
    void* Elem(void* coll, sb4 k, bool* isNull = nullptr) {
        boolean exists = 0;
        void* elem = nullptr;
        void* ind = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCICollGetElem(env_, err_, static_cast<OCIColl*>(coll), k, &exists, &elem, &ind));
        if (!exists) return nullptr;
        if (isNull) *isNull = *static_cast<sb2*>(ind) != 0;
        return elem;
    }

    std::string StampText(void* elem) {
        auto* dt = static_cast<OCIDateTime*>(Cell(elem));
        sb2 y = 0;
        ub1 mo = 0, d = 0, h = 0, mi = 0, s = 0;
        ub4 fs = 0;
        EXPECT_EQ(OCI_SUCCESS, OCIDateTimeGetDate(env_, err_, dt, &y, &mo, &d)) << errorText();
        EXPECT_EQ(OCI_SUCCESS, OCIDateTimeGetTime(env_, err_, dt, &h, &mi, &s, &fs)) << errorText();
        char buf[64];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%09u", y, mo, d, h, mi, s, fs);
        return buf;
    }

    std::string SpanText(void* elem) {
        auto* iv = static_cast<OCIInterval*>(Cell(elem));
        sb4 d = 0, h = 0, mi = 0, s = 0, fs = 0;
        EXPECT_EQ(OCI_SUCCESS, OCIIntervalGetDaySecond(env_, err_, &d, &h, &mi, &s, &fs, iv)) << errorText();
        return std::to_string(d) + " " + std::to_string(h) + ":" + std::to_string(mi) + ":" +
               std::to_string(s) + "." + std::to_string(fs);
    }

    std::string LobText(void* elem) {
        auto* lob = static_cast<OCILobLocator*>(Cell(elem));
        ub4 len = 0;
        EXPECT_EQ(OCI_SUCCESS, OCILobGetLength(c_.svc, err_, lob, &len)) << errorText();
        std::string out(len, '\0');
        if (len == 0) return out;
        ub4 amount = len;
        EXPECT_EQ(OCI_SUCCESS,
                  OCILobRead(c_.svc, err_, lob, &amount, 1, out.data(), len, nullptr, nullptr, 0, 0))
            << errorText();
        out.resize(amount);
        return out;
    }

    sb4 Size(void* coll) {
        sb4 n = -1;
        EXPECT_EQ(OCI_SUCCESS, OCICollSize(env_, err_, static_cast<OCIColl*>(coll), &n));
        return n;
    }

    void Free(void* instance) { OCIObjectFree(env_, err_, instance, OCI_OBJECTFREE_FORCE); }
};

TEST_F(OciCollElementsTest, ElementTypesAreDescribedWithTheirOwnCodes) {
    OCIDescribe* d = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIHandleAlloc(env_, reinterpret_cast<void**>(&d), OCI_HTYPE_DESCRIBE, 0, nullptr));
    struct Case {
        const char* type;
        ub2 code;
    } cases[] = {{"STAMPS_T", SQLT_TIMESTAMP},   {"ZONES_T", SQLT_TIMESTAMP_TZ},
                 {"MONTHS_T", SQLT_INTERVAL_YM}, {"SPANS_T", SQLT_INTERVAL_DS},
                 {"TEXTS_T", SQLT_CLOB},         {"BLOBS_T", SQLT_BLOB}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        std::string name = c.type;
        ASSERT_EQ(OCI_SUCCESS, OCIDescribeAny(c_.svc, err_, name.data(), static_cast<ub4>(name.size()),
                                              OCI_OTYPE_NAME, 0, OCI_PTYPE_TYPE, d))
            << errorText();
        OCIParam* p = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(d, OCI_HTYPE_DESCRIBE, &p, nullptr, OCI_ATTR_PARAM, err_));
        OCIParam* e = nullptr;
        ASSERT_EQ(OCI_SUCCESS,
                  OCIAttrGet(p, OCI_DTYPE_PARAM, &e, nullptr, OCI_ATTR_COLLECTION_ELEMENT, err_));
        ub2 type = 0;
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(e, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_));
        EXPECT_EQ(c.code, type);
    }
    OCIHandleFree(d, OCI_HTYPE_DESCRIBE);
}

TEST_F(OciCollElementsTest, ConstructorsInsertSelectAndUpdate) {
    Ok("INSERT INTO log(id, s, z, m, d, c, b) VALUES (1, stamps_t('2020-02-29 08:30:00.125', NULL, "
       "'1999-12-31 23:59:59'), zones_t('2021-06-01 12:00:00+03:00'), months_t('+01-02', '-00-11'), "
       "spans_t('+3 04:05:06.5'), texts_t('first', ''), blobs_t('00FF10'))");
    void* s = Fetch("s", "STAMPS_T", 1);
    ASSERT_EQ(3, Size(s));
    bool isNull = true;
    ASSERT_NE(nullptr, Elem(s, 0, &isNull));
    EXPECT_FALSE(isNull);
    EXPECT_EQ("2020-02-29 08:30:00.125000000", StampText(Elem(s, 0)));
    ASSERT_NE(nullptr, Elem(s, 1, &isNull));
    EXPECT_TRUE(isNull);
    EXPECT_NE(nullptr, Cell(Elem(s, 1)));  // a null element still holds its descriptor
    EXPECT_EQ("1999-12-31 23:59:59.000000000", StampText(Elem(s, 2)));
    Free(s);

    void* z = Fetch("z", "ZONES_T", 1);
    ASSERT_EQ(1, Size(z));
    EXPECT_EQ("2021-06-01 12:00:00.000000000", StampText(Elem(z, 0)));
    Free(z);

    void* m = Fetch("m", "MONTHS_T", 1);
    ASSERT_EQ(2, Size(m));
    sb4 years = 0, months = 0;
    ASSERT_EQ(OCI_SUCCESS, OCIIntervalGetYearMonth(env_, err_, &years, &months,
                                                   static_cast<OCIInterval*>(Cell(Elem(m, 1)))));
    EXPECT_EQ(0, years);
    EXPECT_EQ(-11, months);
    Free(m);

    void* d = Fetch("d", "SPANS_T", 1);
    EXPECT_EQ("3 4:5:6.500000000", SpanText(Elem(d, 0)));
    Free(d);

    void* c = Fetch("c", "TEXTS_T", 1);
    ASSERT_EQ(2, Size(c));
    EXPECT_EQ("first", LobText(Elem(c, 0)));
    Free(c);
    void* b = Fetch("b", "BLOBS_T", 1);
    EXPECT_EQ(std::string("\x00\xFF\x10", 3), LobText(Elem(b, 0)));
    Free(b);

    // update with a constructor, then read again
    Ok("UPDATE log SET s = stamps_t('2001-01-01 00:00:01.5') WHERE id = 1");
    s = Fetch("s", "STAMPS_T", 1);
    ASSERT_EQ(1, Size(s));
    EXPECT_EQ("2001-01-01 00:00:01.500000000", StampText(Elem(s, 0)));
    Free(s);

    // nested two levels: a table of objects holding a table of timestamps
    Ok("INSERT INTO log(id, sh) VALUES (2, shifts_t(shift_t('early', stamps_t('2022-03-04 05:06:07')), "
       "shift_t('late', NULL)))");
    void* sh = Fetch("sh", "SHIFTS_T", 2);
    ASSERT_EQ(2, Size(sh));
    void* early = Elem(sh, 0);
    ASSERT_NE(nullptr, early);
    // shift_t: name (pointer cell at 0), marks (pointer cell at one pointer further)
    void* marks = nullptr;
    std::memcpy(&marks, static_cast<char*>(early) + sizeof(void*), sizeof marks);
    ASSERT_EQ(1, Size(marks));
    EXPECT_EQ("2022-03-04 05:06:07.000000000", StampText(Elem(marks, 0)));
    Free(sh);
}

TEST_F(OciCollElementsTest, AConstructorInASelectListIsAColumnOfItsType) {
    OCIStmt* st = prepare("SELECT months_t('+02-03', NULL) m FROM dual");
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
        << errorText();
    OCIParam* p = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&p), 1));
    ub2 type = 0;
    char* name = nullptr;
    ub4 len = 0;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_));
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &name, &len, OCI_ATTR_TYPE_NAME, err_));
    EXPECT_EQ(SQLT_NTY, type);
    EXPECT_EQ("MONTHS_T", std::string(name, len));
    OCIDescriptorFree(p, OCI_DTYPE_PARAM);
    OCIDefine* d = nullptr;
    void* coll = nullptr;
    void* ind = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIDefineByPos(st, &d, err_, 1, nullptr, 0, SQLT_NTY, nullptr, nullptr, nullptr, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, OCIDefineObject(d, err_, Type("MONTHS_T"), &coll, nullptr, &ind, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT)) << errorText();
    OCIHandleFree(st, OCI_HTYPE_STMT);
    ASSERT_EQ(2, Size(coll));
    sb4 years = 0, months = 0;
    ASSERT_EQ(OCI_SUCCESS, OCIIntervalGetYearMonth(env_, err_, &years, &months,
                                                   static_cast<OCIInterval*>(Cell(Elem(coll, 0)))));
    EXPECT_EQ(2, years);
    EXPECT_EQ(3, months);
    bool isNull = false;
    ASSERT_NE(nullptr, Elem(coll, 1, &isNull));
    EXPECT_TRUE(isNull);
    Free(coll);
}

TEST_F(OciCollElementsTest, ConstructorErrors) {
    struct Case {
        const char* sql;
        sb4 code;
    } cases[] = {
        {"INSERT INTO log(id, s) VALUES (3, stamps_t('not a time'))", 1861},
        {"INSERT INTO log(id, m) VALUES (3, months_t('+1-2', '+1-3', '+1-4', '+1-5'))", 22909},  // VARRAY(3)
        {"INSERT INTO log(id, m) VALUES (3, months_t('+1-13'))", 1867},
        {"INSERT INTO log(id, sh) VALUES (3, shifts_t(shift_t('x')))", 2315},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(OCI_ERROR, run(c_, c.sql));
        EXPECT_EQ(c.code, errorCode());
    }
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM log"));
}

TEST_F(OciCollElementsTest, ClientElementsAreCopiesOfItsDescriptors) {
    void* coll = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIObjectNew(env_, err_, c_.svc, OCI_TYPECODE_NAMEDCOLLECTION, Type("STAMPS_T"),
                                        nullptr, OCI_DURATION_SESSION, 1, &coll))
        << errorText();
    OCIDateTime* dt = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&dt), OCI_DTYPE_TIMESTAMP, 0, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIDateTimeConstruct(env_, err_, dt, 2010, 5, 6, 7, 8, 9, 250000000, nullptr, 0));
    sb2 notNull = 0, null = -1;
    auto* c = static_cast<OCIColl*>(coll);
    ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, dt, &notNull, c)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, dt, &null, c)) << errorText();
    // the element is a copy: changing the client's descriptor afterwards leaves it alone
    ASSERT_EQ(OCI_SUCCESS, OCIDateTimeConstruct(env_, err_, dt, 2011, 1, 1, 0, 0, 0, 0, nullptr, 0));
    EXPECT_NE(static_cast<void*>(dt), Cell(Elem(coll, 0)));
    EXPECT_EQ("2010-05-06 07:08:09.250000000", StampText(Elem(coll, 0)));
    ASSERT_EQ(OCI_SUCCESS, OCICollAssignElem(env_, err_, 1, dt, &notNull, c)) << errorText();
    EXPECT_EQ("2011-01-01 00:00:00.000000000", StampText(Elem(coll, 1)));

    // another kind of descriptor, or no descriptor at all, is refused
    OCIInterval* iv = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&iv), OCI_DTYPE_INTERVAL_DS, 0, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIIntervalSetDaySecond(env_, err_, 2, 3, 4, 5, 600000000, iv));
    EXPECT_EQ(OCI_ERROR, OCICollAssignElem(env_, err_, 0, iv, &notNull, c));
    EXPECT_EQ(21560, errorCode());
    void* spans = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIObjectNew(env_, err_, c_.svc, OCI_TYPECODE_NAMEDCOLLECTION, Type("SPANS_T"),
                                        nullptr, OCI_DURATION_SESSION, 1, &spans));
    ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, iv, &notNull, static_cast<OCIColl*>(spans)))
        << errorText();
    EXPECT_EQ("2 3:4:5.600000000", SpanText(Elem(spans, 0)));
    EXPECT_EQ(OCI_ERROR, OCICollAppend(env_, err_, dt, &notNull, static_cast<OCIColl*>(spans)));
    Free(spans);
    int notADescriptor = 0;
    EXPECT_EQ(OCI_ERROR, OCICollAppend(env_, err_, &notADescriptor, &notNull, c));
    EXPECT_EQ(2, Size(coll));

    // bound into an insert and read back
    sb4 id = 5;
    OCIStmt* st = prepare("INSERT INTO log(id, s) VALUES (:id, :s)");
    OCIBind *b1 = nullptr, *b2 = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b1, err_, reinterpret_cast<const OraText*>(":id"), 3, &id,
                                         sizeof id, SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, 0));
    ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b2, err_, reinterpret_cast<const OraText*>(":s"), 2, nullptr, 0,
                                         SQLT_NTY, nullptr, nullptr, nullptr, 0, nullptr, 0));
    ASSERT_EQ(OCI_SUCCESS, OCIBindObject(b2, err_, Type("STAMPS_T"), &coll, nullptr, nullptr, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
        << errorText();
    OCIHandleFree(st, OCI_HTYPE_STMT);
    void* back = Fetch("s", "STAMPS_T", 5);
    ASSERT_EQ(2, Size(back));
    EXPECT_EQ("2010-05-06 07:08:09.250000000", StampText(Elem(back, 0)));
    EXPECT_EQ("2011-01-01 00:00:00.000000000", StampText(Elem(back, 1)));
    Free(back);
    Free(coll);
    OCIDescriptorFree(dt, OCI_DTYPE_TIMESTAMP);
    OCIDescriptorFree(iv, OCI_DTYPE_INTERVAL_DS);
}

// OCIObjectSetAttr of a TIMESTAMP or INTERVAL attribute takes the client's descriptor, as the
// collection calls do, and keeps a copy of its value.
TEST_F(OciCollElementsTest, ObjectAttributesTakeCopiesOfTheClientsDescriptors) {
    Ok("CREATE TYPE visit_t AS OBJECT (at TIMESTAMP(3), took INTERVAL DAY TO SECOND)");
    OCIType* tdo = Type("VISIT_T");
    void* visit = nullptr;
    void* ind = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIObjectNew(env_, err_, c_.svc, OCI_TYPECODE_OBJECT, tdo, nullptr,
                                        OCI_DURATION_SESSION, 1, &visit))
        << errorText();
    ASSERT_EQ(OCI_SUCCESS, OCIObjectGetInd(env_, err_, visit, &ind));
    OCIDateTime* dt = nullptr;
    OCIInterval* iv = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&dt), OCI_DTYPE_TIMESTAMP, 0, nullptr));
    ASSERT_EQ(OCI_SUCCESS,
              OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&iv), OCI_DTYPE_INTERVAL_DS, 0, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIDateTimeConstruct(env_, err_, dt, 2012, 3, 4, 5, 6, 7, 500000000, nullptr, 0));
    ASSERT_EQ(OCI_SUCCESS, OCIIntervalSetDaySecond(env_, err_, 1, 2, 3, 4, 250000000, iv));
    auto set = [&](const char* name, const void* value) {
        const OraText* names[] = {reinterpret_cast<const OraText*>(name)};
        const ub4 lengths[] = {static_cast<ub4>(std::strlen(name))};
        return OCIObjectSetAttr(env_, err_, visit, ind, tdo, names, lengths, 1, nullptr, 0, OCI_IND_NOTNULL,
                                nullptr, value);
    };
    // both attributes are pointer cells, one after the other from the instance's start
    auto cellOf = [&](const char* name) -> void* {
        return static_cast<unsigned char*>(visit) + (std::strcmp(name, "AT") == 0 ? 0 : sizeof(void*));
    };
    ASSERT_EQ(OCI_SUCCESS, set("AT", dt)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, set("TOOK", iv)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, OCIDateTimeConstruct(env_, err_, dt, 2000, 1, 1, 0, 0, 0, 0, nullptr, 0));
    EXPECT_EQ("2012-03-04 05:06:07.500000000", StampText(cellOf("AT")));
    EXPECT_EQ("1 2:3:4.250000000", SpanText(cellOf("TOOK")));
    EXPECT_NE(static_cast<void*>(dt), Cell(cellOf("AT")));
    // another kind of descriptor is refused
    EXPECT_EQ(OCI_ERROR, set("AT", iv));
    EXPECT_EQ(21560, errorCode());
    OCIDescriptorFree(dt, OCI_DTYPE_TIMESTAMP);
    OCIDescriptorFree(iv, OCI_DTYPE_INTERVAL_DS);
    Free(visit);
}
