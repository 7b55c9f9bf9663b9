// REF attributes and REF elements in the stand-in's object cache: described as REFs of the
// referenced type, laid out as native pointer cells holding a REF of their own, copied deeply,
// set by name, kept in the database and read back as REFs that pin their targets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OciObjectFixture.h"

namespace {

size_t RoundUp(size_t v) {
    return (v + P - 1) / P * P;
}

}  // namespace

class OciRefAttrTest : public OciObjectTest {
protected:
    void SetUp() override {
        OciObjectTest::SetUp();
        Ok("CREATE TYPE person_t AS OBJECT (id NUMBER(9), boss REF person_t, name VARCHAR2(20))");
        Ok("CREATE TABLE people OF person_t");
        Ok("INSERT INTO people(id, name) VALUES (1, 'Ann')");
        Ok("INSERT INTO people SELECT 2, REF(p), 'Bob' FROM people p WHERE p.id = 1");
        Ok("CREATE TYPE person_refs AS TABLE OF REF person_t");
        Ok("CREATE TABLE notes(id NUMBER(9), who person_t, crew person_refs)");
    }

    void* New(OCIType* tdo, OCITypeCode code) {
        void* inst = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIObjectNew(env_, err_, c_.svc, code, tdo, nullptr, OCI_DURATION_SESSION, 1, &inst))
            << errorText();
        return inst;
    }

    std::string Hex(const OCIRef* ref) {
        char buf[OCI_REFHEX_MAX];
        ub4 len = sizeof buf;
        EXPECT_EQ(OCI_SUCCESS, OCIRefToHex(env_, err_, ref, reinterpret_cast<OraText*>(buf), &len))
            << errorText();
        return std::string(buf, len);
    }

    // The REF of people row id, fetched into a REF of the caller's.
    OCIRef* RefOf(int id) {
        OCIStmt* st = prepare("SELECT REF(p) FROM people p WHERE p.id = " + std::to_string(id));
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        OCIDefine* d = nullptr;
        OCIRef* ref = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d, err_, 1, nullptr, 0, SQLT_REF, nullptr, nullptr,
                                              nullptr, OCI_DEFAULT));
        EXPECT_EQ(OCI_SUCCESS, OCIDefineObject(d, err_, nullptr, reinterpret_cast<void**>(&ref), nullptr,
                                               nullptr, nullptr));
        EXPECT_EQ(OCI_SUCCESS, OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return ref;
    }

    // The name attribute of the object a REF points to, read by pinning it.
    std::string PinnedName(OCIRef* ref) {
        void* target = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIObjectPin(env_, err_, ref, nullptr, OCI_PIN_ANY, OCI_DURATION_SESSION,
                                            OCI_LOCK_NONE, &target))
            << errorText();
        if (!target) return "<not pinned>";
        auto* s = Get<OCIString*>(target, NameOffset());
        std::string name(reinterpret_cast<const char*>(OCIStringPtr(env_, s)), OCIStringSize(env_, s));
        EXPECT_EQ(OCI_SUCCESS, OCIObjectUnpin(env_, err_, target));
        return name;
    }

    static size_t BossOffset() { return RoundUp(sizeof(OCINumber)); }
    static size_t NameOffset() { return BossOffset() + P; }
};

TEST_F(OciRefAttrTest, ARefAttributeIsDescribedAsARefOfTheReferencedType) {
    OCIDescribe* d = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIHandleAlloc(env_, reinterpret_cast<void**>(&d), OCI_HTYPE_DESCRIBE, 0, nullptr));
    struct Case {
        const char* type;
        bool collection;
    } cases[] = {{"PERSON_T", false}, {"PERSON_REFS", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const std::string name = c.type;
        OCI_OK(OCIDescribeAny(c_.svc, err_, const_cast<char*>(name.data()), static_cast<ub4>(name.size()),
                              OCI_OTYPE_NAME, 0, OCI_PTYPE_TYPE, d));
        OCIParam* p = nullptr;
        OCI_OK(OCIAttrGet(d, OCI_HTYPE_DESCRIBE, &p, nullptr, OCI_ATTR_PARAM, err_));
        OCIParam* a = nullptr;
        if (c.collection) {
            OCI_OK(OCIAttrGet(p, OCI_DTYPE_PARAM, &a, nullptr, OCI_ATTR_COLLECTION_ELEMENT, err_));
        } else {
            OCIParam* list = nullptr;
            OCI_OK(OCIAttrGet(p, OCI_DTYPE_PARAM, &list, nullptr, OCI_ATTR_LIST_TYPE_ATTRS, err_));
            OCI_OK(OCIParamGet(list, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&a), 2));
        }
        ub2 type = 0, code = 0;
        char* text = nullptr;
        ub4 len = 0;
        OCI_OK(OCIAttrGet(a, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_));
        OCI_OK(OCIAttrGet(a, OCI_DTYPE_PARAM, &code, nullptr, OCI_ATTR_TYPECODE, err_));
        EXPECT_EQ(SQLT_REF, type);
        EXPECT_EQ(OCI_TYPECODE_REF, code);
        OCI_OK(OCIAttrGet(a, OCI_DTYPE_PARAM, &text, &len, OCI_ATTR_TYPE_NAME, err_));
        EXPECT_EQ("PERSON_T", std::string(text, len));
        OCI_OK(OCIAttrGet(a, OCI_DTYPE_PARAM, &text, &len, OCI_ATTR_SCHEMA_NAME, err_));
        EXPECT_EQ("QEL", std::string(text, len));
        if (!c.collection) OCIDescriptorFree(a, OCI_DTYPE_PARAM);
    }
    OCIHandleFree(d, OCI_HTYPE_DESCRIBE);

    // the REF column of the object table is a REF column
    OCIStmt* st = prepare("SELECT boss FROM people");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DESCRIBE_ONLY));
    OCIParam* col = nullptr;
    OCI_OK(OCIParamGet(st, OCI_HTYPE_STMT, err_, reinterpret_cast<void**>(&col), 1));
    ub2 type = 0;
    OCI_OK(OCIAttrGet(col, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err_));
    EXPECT_EQ(SQLT_REF, type);
    OCIDescriptorFree(col, OCI_DTYPE_PARAM);
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

TEST_F(OciRefAttrTest, ANewInstanceHoldsANullRefInANativePointerCell) {
    void* person = New(Type("PERSON_T"), OCI_TYPECODE_OBJECT);
    auto* boss = Get<OCIRef*>(person, BossOffset());
    ASSERT_NE(nullptr, boss);
    EXPECT_TRUE(OCIRefIsNull(env_, boss));
    void* ind = nullptr;
    OCI_OK(OCIObjectGetInd(env_, err_, person, &ind));
    EXPECT_EQ(OCI_IND_NULL, Get<sb2>(ind, 4)) << "the REF attribute starts null";

    // set by name: the cell keeps its own REF and takes a copy
    OCIRef* ann = RefOf(1);
    const OraText* names[] = {reinterpret_cast<const OraText*>("BOSS")};
    const ub4 lengths[] = {4};
    OCI_OK(OCIObjectSetAttr(env_, err_, person, ind, Type("PERSON_T"), names, lengths, 1, nullptr, 0,
                            OCI_IND_NOTNULL, nullptr, ann));
    EXPECT_EQ(boss, Get<OCIRef*>(person, BossOffset()));
    EXPECT_EQ(Hex(ann), Hex(boss));
    EXPECT_EQ(OCI_IND_NOTNULL, Get<sb2>(ind, 4));
    EXPECT_EQ("Ann", PinnedName(boss));

    // a copy has a REF of its own with the same target
    void* copy = New(Type("PERSON_T"), OCI_TYPECODE_OBJECT);
    void* copyInd = nullptr;
    OCI_OK(OCIObjectGetInd(env_, err_, copy, &copyInd));
    OCI_OK(OCIObjectCopy(env_, err_, c_.svc, person, ind, copy, copyInd, Type("PERSON_T"),
                         OCI_DURATION_SESSION, 0));
    auto* copied = Get<OCIRef*>(copy, BossOffset());
    EXPECT_NE(boss, copied);
    EXPECT_TRUE(OCIRefIsEqual(env_, boss, copied));
    OCIRefClear(env_, boss);
    EXPECT_FALSE(OCIRefIsNull(env_, copied));

    // freeing the instances frees their REFs (the sanitizer run finds a leak otherwise)
    OCI_OK(OCIObjectFree(env_, err_, copy, OCI_OBJECTFREE_FORCE));
    OCI_OK(OCIObjectFree(env_, err_, person, OCI_OBJECTFREE_FORCE));
    OCI_OK(OCIObjectFree(env_, err_, ann, OCI_OBJECTFREE_FORCE));
}

TEST_F(OciRefAttrTest, RefsInObjectsAndCollectionsAreKeptAndReadBackPinnable) {
    OCIRef* bob = RefOf(2);
    void* who = New(Type("PERSON_T"), OCI_TYPECODE_OBJECT);
    void* whoInd = nullptr;
    OCI_OK(OCIObjectGetInd(env_, err_, who, &whoInd));
    const OraText* names[] = {reinterpret_cast<const OraText*>("BOSS")};
    const ub4 lengths[] = {4};
    OCI_OK(OCIObjectSetAttr(env_, err_, who, whoInd, Type("PERSON_T"), names, lengths, 1, nullptr, 0,
                            OCI_IND_NOTNULL, nullptr, bob));
    std::memset(whoInd, 0, 2);
    void* crew = New(Type("PERSON_REFS"), OCI_TYPECODE_NAMEDCOLLECTION);
    sb2 notNull = OCI_IND_NOTNULL, null = OCI_IND_NULL;
    OCIRef* nullRef = static_cast<OCIRef*>(New(nullptr, OCI_TYPECODE_REF));
    OCI_OK(OCICollAppend(env_, err_, bob, &notNull, static_cast<OCIColl*>(crew)));
    OCI_OK(OCICollAppend(env_, err_, nullRef, &null, static_cast<OCIColl*>(crew)));
    // the element holds a REF of its own with the same target
    boolean exists = 0;
    void* elem = nullptr;
    void* elemInd = nullptr;
    OCI_OK(OCICollGetElem(env_, err_, static_cast<OCIColl*>(crew), 0, &exists, &elem, &elemInd));
    ASSERT_TRUE(exists);
    EXPECT_NE(bob, Get<OCIRef*>(elem, 0));
    EXPECT_EQ(Hex(bob), Hex(Get<OCIRef*>(elem, 0)));

    OCIStmt* st = prepare("INSERT INTO notes(id, who, crew) VALUES (1, :who, :crew)");
    OCIBind *b1 = nullptr, *b2 = nullptr;
    void* crewInd = nullptr;
    OCI_OK(OCIObjectGetInd(env_, err_, crew, &crewInd));
    OCI_OK(OCIBindByName(st, &b1, err_, reinterpret_cast<const OraText*>(":who"), 4, nullptr, 0, SQLT_NTY,
                         nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIBindObject(b1, err_, Type("PERSON_T"), &who, nullptr, &whoInd, nullptr));
    OCI_OK(OCIBindByName(st, &b2, err_, reinterpret_cast<const OraText*>(":crew"), 5, nullptr, 0, SQLT_NTY,
                         nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(OCIBindObject(b2, err_, Type("PERSON_REFS"), &crew, nullptr, &crewInd, nullptr));
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    OCIHandleFree(st, OCI_HTYPE_STMT);
    const std::string hex = Hex(bob);
    OCIRefClear(env_, bob);
    OCIObjectFree(env_, err_, who, OCI_OBJECTFREE_FORCE);
    OCIObjectFree(env_, err_, crew, OCI_OBJECTFREE_FORCE);
    OCIObjectFree(env_, err_, nullRef, OCI_OBJECTFREE_FORCE);
    OCIObjectFree(env_, err_, bob, OCI_OBJECTFREE_FORCE);

    // fetched into new instances: the REFs read back pin their targets through the session
    st = prepare("SELECT who, crew FROM notes WHERE id = 1");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    OCIDefine *d1 = nullptr, *d2 = nullptr;
    void *got = nullptr, *gotInd = nullptr, *list = nullptr, *listInd = nullptr;
    OCI_OK(OCIDefineByPos(st, &d1, err_, 1, nullptr, 0, SQLT_NTY, nullptr, nullptr, nullptr, OCI_DEFAULT));
    OCI_OK(OCIDefineObject(d1, err_, Type("PERSON_T"), &got, nullptr, &gotInd, nullptr));
    OCI_OK(OCIDefineByPos(st, &d2, err_, 2, nullptr, 0, SQLT_NTY, nullptr, nullptr, nullptr, OCI_DEFAULT));
    OCI_OK(OCIDefineObject(d2, err_, Type("PERSON_REFS"), &list, nullptr, &listInd, nullptr));
    OCI_OK(OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT));
    OCIHandleFree(st, OCI_HTYPE_STMT);
    EXPECT_EQ(OCI_IND_NOTNULL, Get<sb2>(gotInd, 4));
    auto* boss = Get<OCIRef*>(got, BossOffset());
    EXPECT_EQ(hex, Hex(boss));
    EXPECT_EQ("Bob", PinnedName(boss));
    sb4 size = 0;
    OCI_OK(OCICollSize(env_, err_, static_cast<OCIColl*>(list), &size));
    ASSERT_EQ(2, size);
    OCI_OK(OCICollGetElem(env_, err_, static_cast<OCIColl*>(list), 0, &exists, &elem, &elemInd));
    EXPECT_EQ(OCI_IND_NOTNULL, Get<sb2>(elemInd, 0));
    EXPECT_EQ("Bob", PinnedName(Get<OCIRef*>(elem, 0)));
    OCI_OK(OCICollGetElem(env_, err_, static_cast<OCIColl*>(list), 1, &exists, &elem, &elemInd));
    EXPECT_EQ(OCI_IND_NULL, Get<sb2>(elemInd, 0));
    EXPECT_TRUE(OCIRefIsNull(env_, Get<OCIRef*>(elem, 0)));
    OCIObjectFree(env_, err_, got, OCI_OBJECTFREE_FORCE);
    OCIObjectFree(env_, err_, list, OCI_OBJECTFREE_FORCE);

    // the database keeps the REF as the text a REF column keeps
    Ok("COMMIT");
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM notes WHERE instr(who, '" + hex + "') > 0"));
}

TEST_F(OciRefAttrTest, ABlockGivesARefBackIntoAnOutputBind) {
    OCIRef* bob = RefOf(2);
    struct Case {
        const char* block;
        bool madeByClient;  // the cell holds a REF before the call
        sword status;
        sb4 code;
        const char* target;  // nullptr: a null REF
    } cases[] = {
        {"BEGIN SELECT REF(p) INTO :r FROM people p WHERE p.id = 2; END;", true, OCI_SUCCESS, 0, "Bob"},
        {"BEGIN SELECT boss INTO :r FROM people WHERE id = 2; END;", false, OCI_SUCCESS, 0, "Ann"},
        {"BEGIN SELECT boss INTO :r FROM people WHERE id = 1; END;", true, OCI_SUCCESS, 0, nullptr},
        {"BEGIN SELECT name INTO :r FROM people WHERE id = 1; END;", true, OCI_ERROR, 932, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        OCIRef* ref =
            c.madeByClient ? static_cast<OCIRef*>(New(Type("PERSON_T"), OCI_TYPECODE_REF)) : nullptr;
        OCIRef* made = ref;
        sb2 ind = 7;
        OCIStmt* st = prepare(c.block);
        OCIBind* b = nullptr;
        OCI_OK(OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":r"), 2, nullptr, 0, SQLT_REF,
                             &ind, nullptr, nullptr, 0, nullptr, 0));
        OCI_OK(OCIBindObject(b, err_, Type("PERSON_T"), reinterpret_cast<void**>(&ref), nullptr, nullptr,
                             nullptr));
        const sword status = OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
        EXPECT_EQ(c.status, status) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        if (c.status != OCI_SUCCESS) {
            EXPECT_EQ(c.code, errorCode());
        } else {
            ASSERT_NE(nullptr, ref);
            if (made) {
                EXPECT_EQ(made, ref) << "the client's REF is filled in place";
            }
            EXPECT_EQ(c.target ? OCI_IND_NOTNULL : OCI_IND_NULL, ind);
            EXPECT_EQ(c.target == nullptr, static_cast<bool>(OCIRefIsNull(env_, ref)));
            if (c.target) {
                EXPECT_EQ(c.target, PinnedName(ref));
                EXPECT_EQ(std::string(c.target) == "Bob", static_cast<bool>(OCIRefIsEqual(env_, bob, ref)));
            }
        }
        if (ref) OCIObjectFree(env_, err_, ref, OCI_OBJECTFREE_FORCE);
    }
    OCIObjectFree(env_, err_, bob, OCI_OBJECTFREE_FORCE);

    // a block whose output cannot be given back fails as one statement: its changes go with it
    OCIRef* ref = static_cast<OCIRef*>(New(Type("PERSON_T"), OCI_TYPECODE_REF));
    OCIStmt* st = prepare(
        "BEGIN INSERT INTO people(id, name) VALUES (9, 'Zed'); SELECT name INTO :r FROM people WHERE id = 9; "
        "END;");
    OCIBind* b = nullptr;
    OCI_OK(OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":r"), 2, nullptr, 0, SQLT_REF,
                         nullptr, nullptr, nullptr, 0, nullptr, 0));
    OCI_OK(
        OCIBindObject(b, err_, Type("PERSON_T"), reinterpret_cast<void**>(&ref), nullptr, nullptr, nullptr));
    EXPECT_EQ(OCI_ERROR, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(932, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
    OCI_OK(OCITransCommit(c_.svc, err_, OCI_DEFAULT));
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM people WHERE id = 9"));
    OCIObjectFree(env_, err_, ref, OCI_OBJECTFREE_FORCE);
}
