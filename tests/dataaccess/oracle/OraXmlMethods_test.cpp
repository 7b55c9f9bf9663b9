// XMLTYPE member and SQL functions run by the stand-in on XMLTYPE columns and bound XMLTYPE values:
// extract, existsNode, extractValue, getNumberVal, isFragment, getRootElement and XMLSERIALIZE, read
// through commands and record sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OraCommandFixture.h"
#include "OraValueFixture.h"
#include "dataaccess/oracle/OraObjects.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

const char* const Orders =
    "<order no=\"7\"><item sku=\"A1\">pen</item><item sku=\"B2\">ink &amp; nib</item>"
    "<total>12.50</total><note/></order>";

class OraXmlMethodsTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        Run("CREATE TABLE docs(id NUMBER(9), doc XMLTYPE)");
        Run(std::string("insert into docs values (1, XMLType('") + Orders + "'))");
        Run("insert into docs values (2, XMLType('<p:r xmlns:p=\"urn:p\"><p:v>5</p:v></p:r>'))");
        Run("insert into docs(id) values (3)");
    }

    // The single value the query gives, as the fixture shows values.
    std::string One(const std::string& sql) {
        auto rows = Query(sql.c_str());
        if (rows.size() != 1 || rows[0].size() != 1) throw std::runtime_error("not one value: " + sql);
        return rows[0][0];
    }
};

TEST_F(OraXmlMethodsTest, MemberAndSqlFunctionsAnswerAsOracleDocumentsThem) {
    struct Case {
        const char* expr;  // over docs d
        int id;
        const char* want;
    } cases[] = {
        // extract: the matched nodes side by side, markup kept; no match and a null value give null
        {"d.doc.extract('/order/item').getStringVal()", 1,
         "<item sku=\"A1\">pen</item><item sku=\"B2\">ink &amp; nib</item>"},
        {"d.doc.extract('/order/item[2]/text()').getStringVal()", 1, "ink &amp; nib"},
        {"d.doc.extract('/order/item/@sku').getStringVal()", 1, "A1B2"},
        {"d.doc.extract('/order/missing').getStringVal()", 1, "<null>"},
        {"d.doc.extract('/order').getRootElement()", 1, "order"},
        {"d.doc.extract('/order/item').getStringVal()", 3, "<null>"},
        {"extract(d.doc, '/order/note').getStringVal()", 1, "<note/>"},
        {"EXTRACT(d.doc, '//p:v', 'xmlns:p=\"urn:p\"').getStringVal()", 2, "<p:v xmlns:p=\"urn:p\">5</p:v>"},
        // existsNode: 1 or 0, null for a null value
        {"d.doc.existsNode('/order/item[@sku=\"B2\"]')", 1, "1"},
        {"existsNode(d.doc, '/order/item[@sku=\"C3\"]')", 1, "0"},
        {"existsNode(d.doc, '/order')", 3, "<null>"},
        // extractValue: the text of one leaf, attribute or text node; unescaped
        {"extractValue(d.doc, '/order/item[2]')", 1, "ink & nib"},
        {"extractValue(d.doc, '/order/@no')", 1, "7"},
        {"extractValue(d.doc, '/order/missing')", 1, "<null>"},
        {"extractValue(d.doc, '/order/note')", 1, "<null>"},
        {"extractValue(d.doc, '/a:r/a:v', 'xmlns:a=\"urn:p\"')", 2, "5"},
        // getNumberVal of the extracted text
        {"d.doc.extract('/order/total/text()').getNumberVal()", 1, "12.5"},
        {"d.doc.extract('/order/@no').getNumberVal() + 1", 1, "8"},
        // fragments and documents
        {"d.doc.isFragment()", 1, "0"},
        {"d.doc.extract('/order/item').isFragment()", 1, "1"},
        {"d.doc.extract('/order/item[1]').isFragment()", 1, "0"},
        {"d.doc.getRootElement()", 1, "order"},
        {"d.doc.extract('/order/item').getRootElement()", 1, "<null>"},
        {"XMLType('<x><y>1</y></x>').extract('/x/y').getStringVal()", 1, "<y>1</y>"},
        {"XMLSERIALIZE(CONTENT d.doc.extract('/order/note') AS VARCHAR2(100))", 1, "<note/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expr);
        EXPECT_EQ(c.want, One(std::string("select ") + c.expr +
                              " v from docs d where d.id = " + std::to_string(c.id)));
    }
}

TEST_F(OraXmlMethodsTest, TextBeyondAsciiKeepsItsLetters) {
    // the client's code page both ways; an extracted element's attributes are not turned into
    // character references
    Run(rtl::Utf8ToAnsi("insert into docs values (5, XMLType('<w k=\"ёж\">жук</w>'))"));
    EXPECT_EQ(rtl::Utf8ToAnsi("<w k=\"ёж\">жук</w>"),
              One("select d.doc.extract('/w').getStringVal() from docs d where d.id = 5"));
    EXPECT_EQ(rtl::Utf8ToAnsi("ёж"), One("select extractValue(d.doc, '/w/@k') from docs d where d.id = 5"));
    EXPECT_EQ(rtl::Utf8ToAnsi("жук"),
              One("select d.doc.extract('//text()').getStringVal() from docs d where d.id = 5"));
}

TEST_F(OraXmlMethodsTest, ErrorsOfTheFunctions) {
    struct Case {
        const char* sql;
        int code;
    } cases[] = {
        {"select extractValue(d.doc, '/order/item') from docs d where d.id = 1", 19025},  // two nodes
        {"select extractValue(d.doc, '/order') from docs d where d.id = 1", 19026},       // not a leaf
        {"select d.doc.extract('/order/[') from docs d where d.id = 1", 31013},
        {"select existsNode(d.doc, 'count(/order)') from docs d where d.id = 1", 31013},  // no node set
        {"select d.doc.extract('/order/item/text()').getNumberVal() from docs d where d.id = 1", 1722},
        // a value must be well-formed: an unclosed element, text alone, two documents side by side
        {"select XMLType('<a>') from dual", 31011},
        {"select XMLType('just text') from dual", 31011},
        {"select XMLType('<a/><b/>') from dual", 31011},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(c.code, OraErrorCode([&] { Query(c.sql); }));
    }
    // nothing of a failed insert is kept
    EXPECT_EQ(31011, OraErrorCode([&] { Run("insert into docs values (4, XMLType('<a><b></a>'))"); }));
    EXPECT_EQ("0", One("select count(*) from docs where id = 4"));
}

TEST_F(OraXmlMethodsTest, ExtractedValuesComeToTheRecordSetAsXmlFields) {
    TOCIRecordSet rs;
    rs.SetConnection(conn_.get());
    rs.SetSQLText(
        "select d.id, d.doc.extract('/order/item') items, extract(d.doc, '/nothing') none "
        "from docs d where d.id = 1");
    rs.Open();
    TFieldDesc* items = rs.Fields().FindField("ITEMS");
    TFieldDesc* none = rs.Fields().FindField("NONE");
    ASSERT_NE(nullptr, items);
    ASSERT_NE(nullptr, none);
    EXPECT_EQ(dtXML, items->DataType);
    EXPECT_EQ(dtXML, none->DataType);
    rs.GetNextRecord(nullptr);
    std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
    rs.GetRecord(rec.data());
    auto* value = dynamic_cast<TOraXML*>(rs.GetObject(items->FieldNo, rec.data()));
    ASSERT_NE(nullptr, value);
    EXPECT_EQ("<item sku=\"A1\">pen</item><item sku=\"B2\">ink &amp; nib</item>", value->GetAsString());
    EXPECT_TRUE(rs.GetNull(none->FieldNo, rec.data()));
    rs.Close();
}

TEST_F(OraXmlMethodsTest, AnXmlValueBoundAsAParameterIsQueried) {
    Held<TOraXML> xml(new TOraXML());
    xml->SetAsString("<cfg><port>8080</port><host>db</host></cfg>");
    auto command = Command("insert into docs(id, doc) values (10, :doc)");
    command->GetParam(0)->SetDataType(dtXML);
    command->GetParam(0)->SetParamType(ptInput);
    command->GetParam(0)->SetObject(xml.p);
    command->Execute();
    EXPECT_EQ("8080", One("select extractValue(doc, '/cfg/port') from docs where id = 10"));
    EXPECT_EQ("<host>db</host>",
              One("select d.doc.extract('/cfg/host').getStringVal() from docs d where id = 10"));

    // the parameter itself as the XMLTYPE the functions read
    auto query =
        Command("select extractValue(:doc1, '/cfg/host') h, existsNode(:doc2, '/cfg/port') p from dual");
    for (int k = 0; k < 2; ++k) {
        query->GetParam(k)->SetDataType(dtXML);
        query->GetParam(k)->SetParamType(ptInput);
        query->GetParam(k)->SetObject(xml.p);
    }
    query->Prepare();
    query->BindParams();
    query->Exec();
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"db", "1"}}), FetchAll(*query));
}

}  // namespace
