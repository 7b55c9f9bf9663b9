// Object types, the object cache, strings and collections of the stand-in: types made with CREATE
// TYPE and described, instances laid out with native pointer cells, object and collection columns
// written from bound instances and fetched into defined ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OciObjectFixture.h"

namespace {

template <class T>
void Put(void* base, size_t off, T v) {
    std::memcpy(static_cast<char*>(base) + off, &v, sizeof v);
}

}  // namespace

class OciObjectsTest : public OciObjectTest {
protected:
    void SetUp() override {
        OciObjectTest::SetUp();
        Ok("CREATE TYPE addr_t AS OBJECT (street VARCHAR2(30), zip NUMBER(5))");
        Ok("CREATE TYPE phones_t AS VARRAY(3) OF VARCHAR2(20)");
        Ok("CREATE TYPE person_t AS OBJECT (amount NUMBER(12,2), name VARCHAR2(40), born DATE, "
           "home addr_t, phones phones_t)");
        Ok("CREATE TYPE people_t AS TABLE OF person_t");
        Ok("CREATE TABLE club(id NUMBER(9,0), boss person_t, members people_t)");
    }

    void* New(OCIType* tdo, OCITypeCode code = OCI_TYPECODE_OBJECT) {
        void* inst = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIObjectNew(env_, err_, c_.svc, code, tdo, nullptr, OCI_DURATION_SESSION, 1, &inst))
            << errorText();
        return inst;
    }

    void* Ind(void* inst) {
        void* ind = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIObjectGetInd(env_, err_, inst, &ind)) << errorText();
        return ind;
    }

    void SetText(void* cell, const std::string& text) {
        OCIString* s = Get<OCIString*>(cell, 0);
        ASSERT_EQ(OCI_SUCCESS, OCIStringAssignText(env_, err_, reinterpret_cast<const OraText*>(text.data()),
                                                   static_cast<ub4>(text.size()), &s));
        Put(cell, 0, s);
    }

    std::string Text(const void* cell) {
        OCIString* s = Get<OCIString*>(cell, 0);
        return std::string(reinterpret_cast<const char*>(OCIStringPtr(env_, s)), OCIStringSize(env_, s));
    }

    void SetNumber(void* at, double v) {
        ASSERT_EQ(OCI_SUCCESS, OCINumberFromReal(err_, &v, sizeof v, static_cast<OCINumber*>(at)));
    }

    double Number(const void* at) {
        double v = 0;
        EXPECT_EQ(OCI_SUCCESS, OCINumberToReal(err_, static_cast<const OCINumber*>(at), sizeof v, &v));
        return v;
    }

    // person_t: amount 0, name 24, born 32, home 40 (street 40, zip 48), phones 72; indicators 2,
    // 4, 6, home 8 (atomic), street 10, zip 12, phones 14.
    void FillPerson(void* inst, void* ind, const std::string& name, double amount) {
        SetNumber(inst, amount);
        SetText(static_cast<char*>(inst) + 24, name);
        OCIDate d{};
        d.OCIDateYYYY = 1999;
        d.OCIDateMM = 12;
        d.OCIDateDD = 31;
        d.OCIDateTime.OCITimeHH = 23;
        Put(inst, 32, d);
        SetText(static_cast<char*>(inst) + 40, "Main St. 1");
        SetNumber(static_cast<char*>(inst) + 48, 12345);
        auto* phones = Get<OCIColl*>(inst, 72);
        OCIString* tel = nullptr;
        ASSERT_EQ(OCI_SUCCESS,
                  OCIStringAssignText(env_, err_, reinterpret_cast<const OraText*>("555-1"), 5, &tel));
        sb2 notNull = 0;
        ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, tel, &notNull, phones)) << errorText();
        OCIObjectFree(env_, err_, tel, OCI_OBJECTFREE_FORCE);
        for (size_t off : {0, 2, 4, 6, 8, 10, 12, 14}) Put<sb2>(ind, off, 0);
    }

    void Insert(sb4 id, void* boss, void* bossInd, void* members, void* membersInd) {
        OCIStmt* st = prepare("INSERT INTO club(id, boss, members) VALUES (:id, :boss, :members)");
        OCIBind *b1 = nullptr, *b2 = nullptr, *b3 = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b1, err_, reinterpret_cast<const OraText*>(":id"), 3, &id,
                                             sizeof id, SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, 0));
        ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b2, err_, reinterpret_cast<const OraText*>(":boss"), 5,
                                             nullptr, 0, SQLT_NTY, nullptr, nullptr, nullptr, 0, nullptr, 0));
        ASSERT_EQ(OCI_SUCCESS, OCIBindObject(b2, err_, Type("PERSON_T"), &boss, nullptr, &bossInd, nullptr))
            << errorText();
        ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b3, err_, reinterpret_cast<const OraText*>(":members"), 8,
                                             nullptr, 0, SQLT_NTY, nullptr, nullptr, nullptr, 0, nullptr, 0));
        ASSERT_EQ(OCI_SUCCESS,
                  OCIBindObject(b3, err_, Type("PEOPLE_T"), &members, nullptr, &membersInd, nullptr));
        ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }

    // Fetches boss and members of row id into the cells (new instances when they hold none).
    void Select(sb4 id, void*& boss, void*& bossInd, void*& members, void*& membersInd) {
        OCIStmt* st = prepare("SELECT boss, members FROM club WHERE id = " + std::to_string(id));
        ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        OCIDefine *d1 = nullptr, *d2 = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d1, err_, 1, nullptr, 0, SQLT_NTY, nullptr, nullptr,
                                              nullptr, OCI_DEFAULT));
        ASSERT_EQ(OCI_SUCCESS,
                  OCIDefineObject(d1, err_, Type("PERSON_T"), &boss, nullptr, &bossInd, nullptr));
        ASSERT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d2, err_, 2, nullptr, 0, SQLT_NTY, nullptr, nullptr,
                                              nullptr, OCI_DEFAULT));
        ASSERT_EQ(OCI_SUCCESS,
                  OCIDefineObject(d2, err_, Type("PEOPLE_T"), &members, nullptr, &membersInd, nullptr));
        ASSERT_EQ(OCI_SUCCESS, OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
};

TEST_F(OciObjectsTest, DescribesObjectAndCollectionTypes) {
    OCIDescribe* d = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIHandleAlloc(env_, reinterpret_cast<void**>(&d), OCI_HTYPE_DESCRIBE, 0, nullptr));
    std::string name = "person_t";
    ASSERT_EQ(OCI_SUCCESS, OCIDescribeAny(c_.svc, err_, name.data(), static_cast<ub4>(name.size()),
                                          OCI_OTYPE_NAME, 0, OCI_PTYPE_TYPE, d))
        << errorText();
    OCIParam* p = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(d, OCI_HTYPE_DESCRIBE, &p, nullptr, OCI_ATTR_PARAM, err_));
    ub2 code = 0, count = 0;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &code, nullptr, OCI_ATTR_TYPECODE, err_));
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &count, nullptr, OCI_ATTR_NUM_TYPE_ATTRS, err_));
    EXPECT_EQ(OCI_TYPECODE_OBJECT, code);
    ASSERT_EQ(5, count);
    OCIParam* list = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &list, nullptr, OCI_ATTR_LIST_TYPE_ATTRS, err_));
    struct Expect {
        const char* name;
        ub2 type;
        const char* typeName;
    } expect[] = {{"AMOUNT", SQLT_NUM, ""},
                  {"NAME", SQLT_CHR, ""},
                  {"BORN", SQLT_DAT, ""},
                  {"HOME", SQLT_NTY, "ADDR_T"},
                  {"PHONES", SQLT_NTY, "PHONES_T"}};
    for (ub4 i = 1; i <= 5; ++i) {
        OCIParam* a = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIParamGet(list, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&a), i));
        char* text = nullptr;
        ub4 len = 0;
        ub2 type = 0;
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(a, OCI_DTYPE_PARAM, &text, &len, OCI_ATTR_NAME, err_));
        EXPECT_EQ(expect[i - 1].name, std::string(text, len));
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(a, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_));
        EXPECT_EQ(expect[i - 1].type, type);
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(a, OCI_DTYPE_PARAM, &text, &len, OCI_ATTR_TYPE_NAME, err_));
        EXPECT_EQ(expect[i - 1].typeName, std::string(text, len));
        OCIDescriptorFree(a, OCI_DTYPE_PARAM);
    }

    name = "PHONES_T";
    ASSERT_EQ(OCI_SUCCESS, OCIDescribeAny(c_.svc, err_, name.data(), static_cast<ub4>(name.size()),
                                          OCI_OTYPE_NAME, 0, OCI_PTYPE_TYPE, d));
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(d, OCI_HTYPE_DESCRIBE, &p, nullptr, OCI_ATTR_PARAM, err_));
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &code, nullptr, OCI_ATTR_TYPECODE, err_));
    EXPECT_EQ(OCI_TYPECODE_NAMEDCOLLECTION, code);
    ASSERT_EQ(OCI_SUCCESS,
              OCIAttrGet(p, OCI_DTYPE_PARAM, &code, nullptr, OCI_ATTR_COLLECTION_TYPECODE, err_));
    EXPECT_EQ(OCI_TYPECODE_VARRAY, code);
    OCIParam* elem = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(p, OCI_DTYPE_PARAM, &elem, nullptr, OCI_ATTR_COLLECTION_ELEMENT, err_));
    ub4 limit = 0;
    ub2 size = 0;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(elem, OCI_DTYPE_PARAM, &limit, nullptr, OCI_ATTR_NUM_ELEMS, err_));
    ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(elem, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, err_));
    EXPECT_EQ(3u, limit);
    EXPECT_EQ(20, size);

    name = "NO_SUCH_T";
    EXPECT_EQ(OCI_ERROR, OCIDescribeAny(c_.svc, err_, name.data(), static_cast<ub4>(name.size()),
                                        OCI_OTYPE_NAME, 0, OCI_PTYPE_TYPE, d));
    EXPECT_EQ(4043, errorCode());
    OCIHandleFree(d, OCI_HTYPE_DESCRIBE);
}

TEST_F(OciObjectsTest, TypeStatementsAreChecked) {
    EXPECT_EQ(OCI_ERROR, run(c_, "CREATE TYPE addr_t AS OBJECT (x NUMBER)"));
    EXPECT_EQ(955, errorCode());
    // An attribute of an unknown type leaves no type behind.
    EXPECT_EQ(OCI_ERROR, run(c_, "CREATE TYPE bad_t AS OBJECT (x missing_t)"));
    EXPECT_EQ(4043, errorCode());
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM oci_type WHERE name = 'BAD_T'"));
    Ok("CREATE OR REPLACE TYPE addr_t AS OBJECT (street VARCHAR2(30), zip NUMBER(5), city VARCHAR2(20))");
    EXPECT_EQ(3, dbInt("SELECT count(*) FROM oci_type_attr WHERE type_name = 'ADDR_T'"));
    Ok("DROP TYPE people_t");
    EXPECT_EQ(OCI_ERROR, run(c_, "DROP TYPE people_t"));
    EXPECT_EQ(4043, errorCode());
}

TEST_F(OciObjectsTest, ColumnsOfObjectTypesAreDescribedAsNamedTypes) {
    OCIStmt* st = prepare("SELECT id, boss, members FROM club");
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DESCRIBE_ONLY))
        << errorText();
    const char* names[] = {"", "PERSON_T", "PEOPLE_T"};
    for (ub4 k = 1; k <= 3; ++k) {
        OCIParam* col = nullptr;
        ASSERT_EQ(OCI_SUCCESS, OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&col), k));
        ub2 type = 0;
        char* text = nullptr;
        ub4 len = 0;
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(col, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_));
        ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(col, OCI_DTYPE_PARAM, &text, &len, OCI_ATTR_TYPE_NAME, err_));
        EXPECT_EQ(k == 1 ? SQLT_NUM : SQLT_NTY, type);
        EXPECT_EQ(names[k - 1], std::string(text, len));
        if (k > 1) {
            ASSERT_EQ(OCI_SUCCESS, OCIAttrGet(col, OCI_DTYPE_PARAM, &text, &len, OCI_ATTR_SCHEMA_NAME, err_));
            EXPECT_EQ("QEL", std::string(text, len));
        }
        OCIDescriptorFree(col, OCI_DTYPE_PARAM);
    }
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciObjectsTest, ObjectsAndNestedTablesRoundTripThroughTheTable) {
    void* boss = New(Type("PERSON_T"));
    void* bossInd = Ind(boss);
    FillPerson(boss, bossInd, "Ann", 1234.5);
    void* members = New(Type("PEOPLE_T"), OCI_TYPECODE_NAMEDCOLLECTION);
    void* membersInd = Ind(members);
    for (const char* who : {"Bob", "Cid"}) {
        ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, boss, bossInd, static_cast<OCIColl*>(members)))
            << errorText();
        void *elem = nullptr, *elemInd = nullptr;
        boolean exists = 0;
        sb4 n = 0;
        OCICollSize(env_, err_, static_cast<OCIColl*>(members), &n);
        ASSERT_EQ(OCI_SUCCESS, OCICollGetElem(env_, err_, static_cast<OCIColl*>(members), n - 1, &exists,
                                              &elem, &elemInd));
        ASSERT_TRUE(exists);
        SetText(static_cast<char*>(elem) + 24, who);
    }
    // the second member has a null address
    {
        void *elem = nullptr, *elemInd = nullptr;
        boolean exists = 0;
        OCICollGetElem(env_, err_, static_cast<OCIColl*>(members), 1, &exists, &elem, &elemInd);
        Put<sb2>(elemInd, 8, -1);
    }
    Insert(1, boss, bossInd, members, membersInd);

    void *gotBoss = nullptr, *gotBossInd = nullptr, *gotMembers = nullptr, *gotMembersInd = nullptr;
    Select(1, gotBoss, gotBossInd, gotMembers, gotMembersInd);
    ASSERT_NE(nullptr, gotBoss);
    EXPECT_EQ(0, Get<sb2>(gotBossInd, 0));
    EXPECT_DOUBLE_EQ(1234.5, Number(gotBoss));
    EXPECT_EQ("Ann", Text(static_cast<char*>(gotBoss) + 24));
    OCIDate born = Get<OCIDate>(gotBoss, 32);
    EXPECT_EQ(1999, born.OCIDateYYYY);
    EXPECT_EQ(31, born.OCIDateDD);
    EXPECT_EQ(23, born.OCIDateTime.OCITimeHH);
    EXPECT_EQ("Main St. 1", Text(static_cast<char*>(gotBoss) + 40));
    EXPECT_DOUBLE_EQ(12345, Number(static_cast<char*>(gotBoss) + 48));
    auto* phones = Get<OCIColl*>(gotBoss, 72);
    sb4 n = 0;
    ASSERT_EQ(OCI_SUCCESS, OCICollSize(env_, err_, phones, &n));
    ASSERT_EQ(1, n);
    void *elem = nullptr, *elemInd = nullptr;
    boolean exists = 0;
    ASSERT_EQ(OCI_SUCCESS, OCICollGetElem(env_, err_, phones, 0, &exists, &elem, &elemInd));
    EXPECT_EQ("555-1", Text(elem));

    ASSERT_EQ(OCI_SUCCESS, OCITableSize(env_, err_, static_cast<OCITable*>(gotMembers), &n));
    ASSERT_EQ(2, n);
    ASSERT_EQ(OCI_SUCCESS,
              OCICollGetElem(env_, err_, static_cast<OCIColl*>(gotMembers), 1, &exists, &elem, &elemInd));
    EXPECT_EQ("Cid", Text(static_cast<char*>(elem) + 24));
    EXPECT_EQ(-1, Get<sb2>(elemInd, 8));  // its address stayed null

    // An update through the same instances: the fetched ones are written back changed.
    SetText(static_cast<char*>(gotBoss) + 24, "Ann Lee");
    ASSERT_EQ(OCI_SUCCESS, OCITableDelete(env_, err_, 0, static_cast<OCITable*>(gotMembers)));
    OCIStmt* st = prepare("UPDATE club SET boss = :b, members = :m WHERE id = 1");
    OCIBind *b1 = nullptr, *b2 = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b1, err_, reinterpret_cast<const OraText*>(":b"), 2, nullptr, 0,
                                         SQLT_NTY, nullptr, nullptr, nullptr, 0, nullptr, 0));
    ASSERT_EQ(OCI_SUCCESS,
              OCIBindObject(b1, err_, Type("PERSON_T"), &gotBoss, nullptr, &gotBossInd, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIBindByName(st, &b2, err_, reinterpret_cast<const OraText*>(":m"), 2, nullptr, 0,
                                         SQLT_NTY, nullptr, nullptr, nullptr, 0, nullptr, 0));
    ASSERT_EQ(OCI_SUCCESS,
              OCIBindObject(b2, err_, Type("PEOPLE_T"), &gotMembers, nullptr, &gotMembersInd, nullptr));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
        << errorText();
    OCIHandleFree(st, OCI_HTYPE_STMT);

    void *again = nullptr, *againInd = nullptr, *againMembers = nullptr, *againMembersInd = nullptr;
    Select(1, again, againInd, againMembers, againMembersInd);
    EXPECT_EQ("Ann Lee", Text(static_cast<char*>(again) + 24));
    ASSERT_EQ(OCI_SUCCESS, OCICollSize(env_, err_, static_cast<OCIColl*>(againMembers), &n));
    ASSERT_EQ(1, n);  // the deleted member is gone from the stored table
    ASSERT_EQ(OCI_SUCCESS,
              OCICollGetElem(env_, err_, static_cast<OCIColl*>(againMembers), 0, &exists, &elem, &elemInd));
    EXPECT_EQ("Cid", Text(static_cast<char*>(elem) + 24));

    for (void* p : {boss, members, gotBoss, gotMembers, again, againMembers})
        EXPECT_EQ(OCI_SUCCESS, OCIObjectFree(env_, err_, p, OCI_OBJECTFREE_FORCE));
}

TEST_F(OciObjectsTest, NullObjectsAndCollectionsAreStoredAsNull) {
    void* boss = New(Type("PERSON_T"));
    void* bossInd = Ind(boss);
    Put<sb2>(bossInd, 0, -1);
    void* members = nullptr;
    void* membersInd = nullptr;
    Insert(2, boss, bossInd, members, membersInd);
    ASSERT_EQ(OCI_SUCCESS, OCITransCommit(c_.svc, err_, OCI_DEFAULT));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM club WHERE id = 2 AND boss IS NULL AND members IS NULL"));
    void *gotBoss = nullptr, *gotBossInd = nullptr, *gotMembers = nullptr, *gotMembersInd = nullptr;
    Select(2, gotBoss, gotBossInd, gotMembers, gotMembersInd);
    ASSERT_NE(nullptr, gotBossInd);
    EXPECT_EQ(-1, Get<sb2>(gotBossInd, 0));
    EXPECT_EQ(-1, Get<sb2>(gotMembersInd, 0));
    for (void* p : {boss, gotBoss, gotMembers}) OCIObjectFree(env_, err_, p, OCI_OBJECTFREE_FORCE);
}

TEST_F(OciObjectsTest, CollectionsGrowShrinkAndDeleteByTheirRules) {
    auto* phones = static_cast<OCIColl*>(New(Type("PHONES_T"), OCI_TYPECODE_NAMEDCOLLECTION));
    void* nilString = nullptr;  // a zeroed cell reads as an empty string
    sb2 nullInd = -1;
    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, &nilString, &nullInd, phones));
    EXPECT_EQ(OCI_ERROR, OCICollAppend(env_, err_, &nilString, &nullInd, phones));  // VARRAY(3)
    EXPECT_EQ(22165, errorCode());
    EXPECT_EQ(3, OCICollMax(env_, phones));
    EXPECT_EQ(OCI_ERROR, OCITableDelete(env_, err_, 0, phones));  // not on a VARRAY
    EXPECT_EQ(OCI_ERROR, OCICollTrim(env_, err_, 4, phones));
    ASSERT_EQ(OCI_SUCCESS, OCICollTrim(env_, err_, 2, phones));
    sb4 n = 0;
    OCICollSize(env_, err_, phones, &n);
    EXPECT_EQ(1, n);
    EXPECT_EQ(OCI_ERROR, OCICollAssignElem(env_, err_, 1, &nilString, &nullInd, phones));

    auto* table = static_cast<OCITable*>(New(Type("PEOPLE_T"), OCI_TYPECODE_NAMEDCOLLECTION));
    std::string zeroPerson(128, '\0');  // a null person: no strings, no collections yet
    std::string nulls(64, '\xFF');
    for (int k = 0; k < 5; ++k)
        ASSERT_EQ(OCI_SUCCESS, OCICollAppend(env_, err_, zeroPerson.data(), nulls.data(), table));
    ASSERT_EQ(OCI_SUCCESS, OCITableDelete(env_, err_, 2, table));
    EXPECT_EQ(OCI_ERROR, OCITableDelete(env_, err_, 2, table));
    EXPECT_EQ(22160, errorCode());
    OCICollSize(env_, err_, table, &n);
    EXPECT_EQ(5, n);  // the collection keeps its slots
    OCITableSize(env_, err_, table, &n);
    EXPECT_EQ(4, n);  // the table counts what exists
    sb4 next = -1;
    boolean exists = 0;
    std::string walked;
    for (sb4 at = -1;; at = next) {
        ASSERT_EQ(OCI_SUCCESS, OCITableNext(env_, err_, at, table, &next, &exists));
        if (!exists) break;
        walked += std::to_string(next);
    }
    EXPECT_EQ("0134", walked);
    void *elem = nullptr, *elemInd = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCICollGetElem(env_, err_, table, 2, &exists, &elem, &elemInd));
    EXPECT_FALSE(exists);
    ASSERT_EQ(OCI_SUCCESS, OCICollGetElem(env_, err_, table, 4, &exists, &elem, &elemInd));
    ASSERT_TRUE(exists);
    EXPECT_EQ(-1, Get<sb2>(elemInd, 0));
    EXPECT_NE(nullptr, Get<void*>(elem, 72));  // the element got an empty collection of its own

    auto* copy = static_cast<OCITable*>(New(Type("PEOPLE_T"), OCI_TYPECODE_NAMEDCOLLECTION));
    ASSERT_EQ(OCI_SUCCESS, OCICollAssign(env_, err_, table, copy));
    OCICollSize(env_, err_, copy, &n);
    EXPECT_EQ(4, n);
    for (void* p : {static_cast<void*>(phones), static_cast<void*>(table), static_cast<void*>(copy)})
        EXPECT_EQ(OCI_SUCCESS, OCIObjectFree(env_, err_, p, OCI_OBJECTFREE_FORCE));
}

TEST_F(OciObjectsTest, StringsResizeAndAssign) {
    OCIString* s = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIStringAssignText(env_, err_, reinterpret_cast<const OraText*>("hello"), 5, &s));
    EXPECT_EQ(5u, OCIStringSize(env_, s));
    ASSERT_EQ(OCI_SUCCESS, OCIStringResize(env_, err_, 3, &s));
    EXPECT_EQ("hel", std::string(reinterpret_cast<char*>(OCIStringPtr(env_, s)), OCIStringSize(env_, s)));
    OCIString* t = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIStringAssign(env_, err_, s, &t));
    EXPECT_EQ(3u, OCIStringSize(env_, t));
    ASSERT_EQ(OCI_SUCCESS, OCIStringResize(env_, err_, 0, &s));
    EXPECT_EQ(nullptr, s);
    OCIObjectFree(env_, err_, t, OCI_OBJECTFREE_FORCE);
}

TEST_F(OciObjectsTest, InstanceLayoutHasNativePointerCells) {
    void* inst = New(Type("ADDR_T"));
    // street: an OCIString pointer at 0; zip: an OCINumber right after the pointer cell
    EXPECT_NE(nullptr, Get<OCIString*>(inst, 0));
    void* ind = Ind(inst);
    EXPECT_EQ(-1, Get<sb2>(ind, 0));
    SetText(inst, "x");
    SetNumber(static_cast<char*>(inst) + P, 7);
    void* copy = New(Type("ADDR_T"));
    ASSERT_EQ(OCI_SUCCESS, OCIObjectCopy(env_, err_, c_.svc, inst, ind, copy, Ind(copy), Type("ADDR_T"),
                                         OCI_DURATION_SESSION, 0));
    EXPECT_EQ("x", Text(copy));
    EXPECT_DOUBLE_EQ(7, Number(static_cast<char*>(copy) + P));
    EXPECT_NE(Get<OCIString*>(inst, 0), Get<OCIString*>(copy, 0));  // a deep copy
    OCIObjectFree(env_, err_, inst, OCI_OBJECTFREE_FORCE);
    OCIObjectFree(env_, err_, copy, OCI_OBJECTFREE_FORCE);
    EXPECT_EQ(OCI_ERROR, OCIObjectFree(env_, err_, inst, OCI_OBJECTFREE_FORCE));
}
