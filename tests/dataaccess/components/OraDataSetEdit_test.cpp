// The dataset's side of editing: default values of new records, a full refresh that keeps the
// current record, and the session uses edits take and give back.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/FormatSettings.h"

using namespace dac;

namespace {

TEST_F(DataSetTest, DefaultExpressionsAreLiteralsOrAskedFromTheServer) {
    dbExec("CREATE TABLE dflt(id NUMBER(9,0), amount NUMBER(12,2), label VARCHAR2(20));");
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, amount, label FROM dflt");
    q->Open();
    struct Case {
        const char* field;
        const char* expression;
        const char* value;
    };
    const Case cases[] = {
        {"ID", "((5))", "5"},
        {"AMOUNT", "1.5", "1.5"},
        {"LABEL", "'text'", "text"},
        {"LABEL", "upper('abc') || 'd'", "ABCd"},
        {"LABEL", "( 'unclosed'", "(error)"},
        {"LABEL", "", ""},
    };
    for (const Case& c : cases) {
        for (db::TField* f : q->FieldList()) f->SetDefaultExpression("");
        q->FieldByName(c.field)->SetDefaultExpression(c.expression);
        const std::string error = ErrorText([&] { q->Append(); });
        if (std::string(c.value) == "(error)") {
            EXPECT_NE("(nothing raised)", error) << c.expression;
            EXPECT_EQ(db::dsBrowse, q->State()) << c.expression;
            continue;
        }
        ASSERT_EQ("(nothing raised)", error) << c.expression;
        EXPECT_EQ(c.value, q->FieldByName(c.field)->AsString()) << c.expression;
        q->Cancel();
    }
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(DataSetTest, ANumericDefaultFollowsTheDecimalSeparator) {
    dbExec("CREATE TABLE dflt(amount NUMBER(12,2));");
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT amount FROM dflt");
    q->Open();
    q->FieldByName("AMOUNT")->SetDefaultExpression("1.5");
    rtl::TFormatSettings comma = rtl::FormatSettings();
    comma.DecimalSeparator = ',';
    std::string error;
    {
        rtl::TFormatSettingsOverride decimalComma(comma);
        error = ErrorText([&] { q->Append(); });
    }
    ASSERT_EQ("(nothing raised)", error);
    EXPECT_DOUBLE_EQ(1.5, q->FieldByName("AMOUNT")->AsFloat());
    q->Cancel();
}

TEST_F(DataSetTest, RefreshKeepsTheCurrentRecordWhileItsKeyIsThere) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, name FROM item WHERE id <= 10 ORDER BY id");
    q->SetKeyFields("ID");
    q->Open();
    ASSERT_TRUE(q->Locate("ID", 7, {}));
    dbExec("UPDATE item SET name = 'seven' WHERE id = 7;");
    q->Refresh();
    EXPECT_EQ(7, q->FieldByName("ID")->AsInteger());
    EXPECT_EQ("seven", q->FieldByName("NAME")->AsString());
    dbExec("DELETE FROM item WHERE id = 7;");
    q->Refresh();
    EXPECT_EQ(1, q->FieldByName("ID")->AsInteger());
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(DataSetTest, AFailedEditGivesItsSessionUseBack) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id, name FROM item WHERE id <= 3");
    q->SetKeyFields("ID");
    q->SetLockMode(lmLockImmediate);
    q->SetCheckMode(cmException);
    q->Open();
    dbExec("UPDATE item SET name = 'changed' WHERE id = 1;");
    EXPECT_EQ("Record was changed by another user", ErrorText([&] { q->Edit(); }));
    EXPECT_EQ(0, s->ConnectCount());
    q->Refresh();
    q->Edit();
    EXPECT_EQ(1, s->ConnectCount()) << "a locked edit holds its use";
    q->Cancel();
    EXPECT_EQ(0, s->ConnectCount());
}

}  // namespace
