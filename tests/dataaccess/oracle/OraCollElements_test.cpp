// Collections whose elements have no record form (TIMESTAMP, INTERVAL, CLOB, BLOB): the types are
// described with their element's data type, record sets select such columns, and the typed element
// getters refuse them with conversion errors instead of reading the descriptor cells as numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OraCommandFixture.h"
#include "dataaccess/oracle/OraObjects.h"
#include "dataaccess/oracle/OraTableData.h"

using namespace dac;

namespace {

class OraCollElementsTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        for (const char* sql :
             {"CREATE TYPE stamps_t AS TABLE OF TIMESTAMP(3)",
              "CREATE TYPE zones_t AS VARRAY(4) OF TIMESTAMP WITH LOCAL TIME ZONE",
              "CREATE TYPE months_t AS VARRAY(3) OF INTERVAL YEAR TO MONTH",
              "CREATE TYPE spans_t AS TABLE OF INTERVAL DAY TO SECOND",
              "CREATE TYPE texts_t AS TABLE OF CLOB", "CREATE TYPE blobs_t AS TABLE OF BLOB",
              "CREATE TABLE log(id NUMBER(9), s stamps_t, m months_t)",
              "INSERT INTO log VALUES (1, stamps_t('2020-02-29 08:30:00.125', NULL, "
              "'1999-12-31 23:59:59'), months_t('+01-02'))",
              "INSERT INTO log(id) VALUES (2)"})
            Run(sql);
    }
};

TEST_F(OraCollElementsTest, TypesAreDescribedWithTheElementDataType) {
    struct Case {
        const char* name;
        TDataType type, item;
        int32_t limit;
    } cases[] = {{"stamps_t", dtTable, dtTimeStamp, 0},  {"zones_t", dtArray, dtTimeStampLTZ, 4},
                 {"months_t", dtArray, dtIntervalYM, 3}, {"spans_t", dtTable, dtIntervalDS, 0},
                 {"texts_t", dtTable, dtOraClob, 0},     {"blobs_t", dtTable, dtOraBlob, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TOraType* type = new TOraType(conn_.get(), c.name);
        EXPECT_EQ(c.type, type->DataType);
        EXPECT_EQ(c.limit, type->Size);
        ASSERT_EQ(1, type->GetAttributeCount());
        EXPECT_EQ(c.item, type->GetAttribute(0)->DataType);
        EXPECT_EQ(sizeof(void*), size_t{type->GetAttribute(0)->ValueSize});  // a descriptor cell
        TOraArray value(type);
        EXPECT_EQ(c.item, value.GetItemType());
        FreeShared(type);
    }
}

TEST_F(OraCollElementsTest, RecordSetsSelectSuchColumnsAndGettersRefuseTheElements) {
    TOCIRecordSet rs;
    rs.SetConnection(conn_.get());
    rs.SetSQLText("select id, s, m from log order by id");
    rs.Open();
    TFieldDesc* s = rs.Fields().FindField("S");
    TFieldDesc* m = rs.Fields().FindField("M");
    ASSERT_NE(nullptr, s);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(dtTable, s->DataType);
    EXPECT_EQ(dtArray, m->DataType);
    std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
    rs.GetNextRecord(nullptr);
    rs.GetRecord(rec.data());
    auto* stamps = dynamic_cast<TOraNestTable*>(rs.GetObject(s->FieldNo, rec.data()));
    ASSERT_NE(nullptr, stamps);
    EXPECT_EQ(3, stamps->GetSize());
    EXPECT_EQ(dtTimeStamp, stamps->GetItemType());
    EXPECT_FALSE(stamps->GetItemIsNull(0));
    EXPECT_TRUE(stamps->GetItemIsNull(1));
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* message;
    } cases[] = {
        {"float", [&] { stamps->GetItemAsFloat(0); }, "Cannot convert type to Float"},
        {"integer", [&] { stamps->GetItemAsInteger(0); }, "Cannot convert type to Integer"},
        {"large integer", [&] { stamps->GetItemAsLargeInt(0); }, "Cannot convert type to Integer"},
        {"date", [&] { stamps->GetItemAsDateTime(0); }, "Cannot convert type to Date"},
        {"string", [&] { stamps->GetItemAsString(0); }, "Cannot convert type to String"},
        {"wide string", [&] { stamps->GetItemAsWideString(0); }, "Cannot convert type to String"},
        {"object", [&] { stamps->GetItemAsObject(0); }, "Cannot convert type to Object"},
        {"set float", [&] { stamps->SetItemAsFloat(0, 1); }, "Cannot convert type to Float"},
        {"set date", [&] { stamps->SetItemAsDateTime(0, 1); }, "Cannot convert type to Date"},
        {"set string", [&] { stamps->SetItemAsString(0, "x"); }, "Cannot convert type to String"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.message, ExceptionText(c.call));
    }
    EXPECT_EQ(3, stamps->GetSize());  // nothing was appended on the way
    // an element's null flag is written back with the descriptor its cell points at
    stamps->SetItemIsNull(0, true);
    EXPECT_TRUE(stamps->GetItemIsNull(0));
    stamps->SetItemIsNull(0, false);
    EXPECT_FALSE(stamps->GetItemIsNull(0));
    stamps->SetItemIsNull(1, false);
    EXPECT_FALSE(stamps->GetItemIsNull(1));

    // shown as records, the elements have no form: a clear error, not a crash
    {
        TTableData data;
        data.SetTable(stamps);
        data.Open();
        std::vector<uint8_t> r(static_cast<size_t>(data.RecordSize()), 0);
        EXPECT_NE(std::string::npos,
                  ExceptionText([&] { data.GetNextRecord(r.data()); }).find("Unknown data type"));
        data.Close();
    }

    auto* months = dynamic_cast<TOraArray*>(rs.GetObject(m->FieldNo, rec.data()));
    ASSERT_NE(nullptr, months);
    EXPECT_EQ(1, months->GetSize());
    EXPECT_EQ(dtIntervalYM, months->GetItemType());
    EXPECT_EQ("Cannot convert type to Integer", ExceptionText([&] { months->GetItemAsInteger(0); }));

    // the row without values: null collections
    rs.GetNextRecord(nullptr);
    rs.GetRecord(rec.data());
    EXPECT_TRUE(rs.GetNull(s->FieldNo, rec.data()));
    rs.Close();
}

TEST_F(OraCollElementsTest, AnElementWithoutRecordFormCannotBeAppendedByTheLibrary) {
    TOraType* type = new TOraType(conn_.get(), "stamps_t");
    TOraNestTable value(type);
    value.SetOCISvcCtx(conn_->GetSvcCtx());
    value.AllocObject();
    EXPECT_EQ(0u, ExceptionText([&] { value.SetSize(2); }).find("Unknown data type"));
    EXPECT_EQ(0, value.GetSize());
    FreeShared(type);
}

}  // namespace
