// A query's CURSOR(...) column as a dataset field: each row's cursor opens a second query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DataSetFixture.h"

using namespace dac;

namespace {

// The names of the rows of a dataset opened on the cursor held by the field's current value.
std::vector<std::string> DetailNames(TOraSession* session, db::TField* field) {
    void* handle = nullptr;
    EXPECT_TRUE(field->GetData(&handle));
    auto* cursor = dynamic_cast<TOraCursor*>(TSharedObject::FromHandle(handle));
    EXPECT_NE(nullptr, cursor);
    if (!cursor) return {};
    TOraQuery detail;
    detail.SetSession(session);
    detail.SetCursor(cursor);
    detail.Open();
    std::vector<std::string> names;
    for (; !detail.Eof(); detail.Next()) names.push_back(std::string(detail.FieldByName("NAME")->AsString()));
    detail.Close();
    return names;
}

}  // namespace

TEST_F(DataSetTest, CursorColumnOpensADetailPerRow) {
    dbExec(
        "CREATE TABLE dept(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20));"
        "CREATE TABLE emp(id NUMBER(9,0) PRIMARY KEY, dept NUMBER(9,0), name VARCHAR2(20));"
        "INSERT INTO dept VALUES (1, 'A'), (2, 'B'), (3, 'C');"
        "INSERT INTO emp VALUES (1, 1, 'X'), (2, 1, 'Y'), (3, 3, 'Z');");
    auto session = newSession();
    session->Connect();
    auto q = newQuery(session.get(),
                      "SELECT d.name, CURSOR(SELECT e.name FROM emp e WHERE e.dept = d.id ORDER BY e.name) "
                      "AS staff FROM dept d ORDER BY d.id");
    q->Open();
    db::TField* staff = q->FieldByName("STAFF");
    ASSERT_NE(nullptr, dynamic_cast<TDACursorField*>(staff));
    EXPECT_EQ(db::ftCursor, staff->DataType());
    struct Want {
        const char* dept;
        std::vector<std::string> names;
    };
    const Want want[] = {{"A", {"X", "Y"}}, {"B", {}}, {"C", {"Z"}}};
    for (const Want& w : want) {
        ASSERT_FALSE(q->Eof());
        EXPECT_EQ(w.dept, std::string(q->FieldByName("NAME")->AsString()));
        EXPECT_EQ(w.names, DetailNames(session.get(), staff)) << w.dept;
        q->Next();
    }
    EXPECT_TRUE(q->Eof());
    q->Close();
}
