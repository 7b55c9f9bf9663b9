// Object, collection and XMLTYPE arguments of stored procedures on the stand-in: described with
// their type code and type name, and given back by a block into output object binds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OciObjectFixture.h"

class OciObjectArgsTest : public OciObjectTest {
protected:
    void SetUp() override {
        OciObjectTest::SetUp();
        Ok("CREATE TYPE pt_t AS OBJECT (x NUMBER, label VARCHAR2(10))");
        Ok("CREATE TYPE pts_t AS VARRAY(4) OF NUMBER");
        Ok("CREATE TYPE tags_t AS TABLE OF VARCHAR2(10)");
        Ok("CREATE TABLE shapes(id NUMBER(9), p pt_t, doc XMLTYPE)");
        Ok("INSERT INTO shapes VALUES (1, pt_t(3, 'three'), XMLType('<s>1</s>'))");
        Ok("commit");
        dbExec(R"sql(
INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'shape_of', 'PROCEDURE',
  'SELECT p AS P_P, doc AS P_DOC FROM shapes WHERE id = :P_ID');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES
  ('', 'shape_of', 1, 'P_ID', 'NUMBER', 'IN'), ('', 'shape_of', 2, 'P_P', 'pt_t', 'OUT'),
  ('', 'shape_of', 3, 'P_PTS', 'pts_t', 'IN'), ('', 'shape_of', 4, 'P_TAGS', 'tags_t', 'IN OUT'),
  ('', 'shape_of', 5, 'P_DOC', 'XMLTYPE', 'OUT');
)sql");
    }
};

TEST_F(OciObjectArgsTest, ObjectCollectionAndXmlArgumentsAreDescribedWithTheirType) {
    OCIDescribe* dsc = nullptr;
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&dsc), OCI_HTYPE_DESCRIBE, 0, nullptr));
    const char* name = "SHAPE_OF";
    OCI_OK(OCIDescribeAny(c_.svc, err_, const_cast<char*>(name), static_cast<ub4>(strlen(name)),
                          OCI_OTYPE_NAME, 0, OCI_PTYPE_UNK, dsc));
    OCIParam* proc = attr<OCIParam*>(dsc, OCI_HTYPE_DESCRIBE, OCI_ATTR_PARAM);
    OCIParam* args = attr<OCIParam*>(proc, OCI_DTYPE_PARAM, OCI_ATTR_LIST_ARGUMENTS);
    ASSERT_EQ(5, attr<ub2>(args, OCI_DTYPE_PARAM, OCI_ATTR_NUM_PARAMS));
    struct Want {
        const char* name;
        ub2 type;
        const char* schema;
        const char* typeName;
    } want[] = {{"P_ID", SQLT_NUM, "", ""},
                {"P_P", SQLT_NTY, "QEL", "PT_T"},
                {"P_PTS", 123, "QEL", "PTS_T"},    // VARRAY
                {"P_TAGS", 122, "QEL", "TAGS_T"},  // nested table
                {"P_DOC", SQLT_NTY, "SYS", "XMLTYPE"}};
    for (ub4 k = 1; k <= 5; ++k) {
        OCIParam* a = nullptr;
        OCI_OK(OCIParamGet(args, OCI_DTYPE_PARAM, err_, reinterpret_cast<void**>(&a), k));
        const Want& w = want[k - 1];
        EXPECT_EQ(w.name, textAttr(a, OCI_ATTR_NAME));
        EXPECT_EQ(w.type, attr<ub2>(a, OCI_DTYPE_PARAM, OCI_ATTR_DATA_TYPE)) << w.name;
        EXPECT_EQ(w.typeName, textAttr(a, OCI_ATTR_TYPE_NAME)) << w.name;
        EXPECT_EQ(w.schema, textAttr(a, OCI_ATTR_SCHEMA_NAME)) << w.name;
    }
    OCIHandleFree(dsc, OCI_HTYPE_DESCRIBE);
}

TEST_F(OciObjectArgsTest, ABlockGivesObjectAndXmlOutputsIntoTheBoundInstances) {
    OCIStmt* st = nullptr;
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr));
    const std::string sql = "BEGIN SELECT p, doc INTO :p, :doc FROM shapes WHERE id = 1; END;";
    OCI_OK(OCIStmtPrepare(st, err_, reinterpret_cast<const OraText*>(sql.data()),
                          static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
    // the object: no instance bound, the block makes one; the XMLTYPE likewise
    void* point = nullptr;
    void* pointInd = nullptr;
    void* doc = nullptr;
    void* docInd = nullptr;
    OCIBind* b1 = nullptr;
    OCIBind* b2 = nullptr;
    OCI_OK(OCIBindByName(st, &b1, err_, reinterpret_cast<const OraText*>(":p"), 2, nullptr, 0, SQLT_NTY,
                         nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    OCI_OK(OCIBindObject(b1, err_, Type("PT_T"), &point, nullptr, &pointInd, nullptr));
    OCI_OK(OCIBindByName(st, &b2, err_, reinterpret_cast<const OraText*>(":doc"), 4, nullptr, 0, SQLT_NTY,
                         nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    OCIType* xmlType = nullptr;
    OCI_OK(OCITypeByName(env_, err_, c_.svc, reinterpret_cast<const OraText*>("SYS"), 3,
                         reinterpret_cast<const OraText*>("XMLTYPE"), 7, nullptr, 0, OCI_DURATION_SESSION,
                         OCI_TYPEGET_HEADER, &xmlType));
    OCI_OK(OCIBindObject(b2, err_, xmlType, &doc, nullptr, &docInd, nullptr));
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    ASSERT_NE(nullptr, point);
    ASSERT_NE(nullptr, pointInd);
    ASSERT_NE(nullptr, doc);
    ASSERT_NE(nullptr, docInd);
    sb2 atomic = -1;
    std::memcpy(&atomic, pointInd, sizeof atomic);
    EXPECT_EQ(OCI_IND_NOTNULL, atomic);
    // the label attribute: an OCIString* cell after the 22-byte number, pointer-aligned
    const size_t labelOffset = (22 + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*);
    OCIString* label = nullptr;
    std::memcpy(&label, static_cast<char*>(point) + labelOffset, sizeof label);
    ASSERT_NE(nullptr, label);
    EXPECT_EQ("three",
              std::string(reinterpret_cast<char*>(OCIStringPtr(env_, label)), OCIStringSize(env_, label)));
    std::memcpy(&atomic, docInd, sizeof atomic);
    EXPECT_EQ(OCI_IND_NOTNULL, atomic);

    // run again: the instances bound now are filled in place
    void* const keptPoint = point;
    void* const keptDoc = doc;
    Ok("UPDATE shapes SET p = pt_t(4, 'four'), doc = NULL WHERE id = 1");
    OCI_OK(OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(keptPoint, point);
    EXPECT_EQ(keptDoc, doc);
    std::memcpy(&label, static_cast<char*>(point) + labelOffset, sizeof label);
    EXPECT_EQ("four",
              std::string(reinterpret_cast<char*>(OCIStringPtr(env_, label)), OCIStringSize(env_, label)));
    std::memcpy(&atomic, docInd, sizeof atomic);
    EXPECT_EQ(OCI_IND_NULL, atomic);
    OCI_OK(OCIObjectFree(env_, err_, point, OCI_DEFAULT));
    OCI_OK(OCIObjectFree(env_, err_, doc, OCI_DEFAULT));
    OCIHandleFree(st, OCI_HTYPE_STMT);
}
