// A query component reading what XMLTYPE member and SQL functions give: text, numbers and XMLTYPE
// fields built from the extracted nodes, row by row.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataaccess/components/OraFields.h"

using namespace dac;

namespace {

class OraXmlQueryTest : public DataSetTest {};

TEST_F(OraXmlQueryTest, ExtractedTextNumbersAndNodesComeAsFields) {
    dbExec(
        "CREATE TABLE docs(id NUMBER(9,0) PRIMARY KEY, doc XMLTYPE);"
        "INSERT INTO docs VALUES (1, '<r><b>one</b><c n=\"4\"/></r>'), (2, '<r><b>two</b><b>2b</b></r>'), "
        "(3, NULL);");
    auto session = newSession();
    auto q =
        newQuery(session.get(),
                 "SELECT d.id, d.doc.extract('/r/b/text()').getStringVal() b, existsNode(d.doc, '/r/c') c, "
                 "extractValue(d.doc, '/r/c/@n') n, d.doc.extract('/r/b') x FROM docs d ORDER BY d.id");
    q->Open();
    auto* x = dynamic_cast<TOraXMLField*>(q->FieldByName("X"));
    ASSERT_NE(nullptr, x);
    struct Row {
        const char *b, *c, *n, *x;
    } rows[] = {{"one", "1", "4", "<b>one</b>"}, {"two2b", "0", "", "<b>two</b><b>2b</b>"}, {"", "", "", ""}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.b);
        ASSERT_FALSE(q->Eof());
        EXPECT_EQ(r.b, q->FieldByName("B")->AsString());
        EXPECT_EQ(r.c, q->FieldByName("C")->AsString());
        EXPECT_EQ(r.n, q->FieldByName("N")->AsString());
        EXPECT_EQ(r.x, x->AsString());
        EXPECT_EQ(*r.x == 0, x->IsNull());
        q->Next();
    }
    EXPECT_TRUE(q->Eof());
}

}  // namespace
