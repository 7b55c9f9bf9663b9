// WHERE and ORDER BY rewriting and macro scanning, on the generic and the Oracle lexer.
#include <gtest/gtest.h>

#include "SessionFixture.h"

using namespace dac;

namespace {

struct TextCase {
    const char* sql;
    const char* arg;
    const char* expected;
};

}  // namespace

TEST(SQLText, AddWhereConditionPutsAnExistingConditionInParentheses) {
    const TextCase cases[] = {
        {"SELECT * FROM t", " ", "SELECT * FROM t"},
        {"SELECT * FROM t", "a = 1", "SELECT * FROM t\rWHERE a = 1 "},
        {"SELECT * FROM t  ", "a = 1", "SELECT * FROM t\rWHERE a = 1 "},
        {"SELECT * FROM t;", "a = 1", "SELECT * FROM t\rWHERE a = 1 ;"},
        {"SELECT * FROM t WHERE b = 2", "a = 1", "SELECT * FROM t WHERE (b = 2) AND a = 1 "},
        {"SELECT * FROM t WHERE b = 2 ORDER BY c", "a = 1",
         "SELECT * FROM t WHERE (b = 2) AND a = 1  ORDER BY c"},
        {"SELECT * FROM t ORDER BY c", "a = 1", "SELECT * FROM t\rWHERE a = 1  ORDER BY c"},
        {"SELECT * FROM (SELECT x FROM u WHERE y = 1) v", "a = 1",
         "SELECT * FROM (SELECT x FROM u WHERE y = 1) v\rWHERE a = 1 "},
        {"SELECT * FROM t WHERE b = 'WHERE' GROUP BY c", "a = 1",
         "SELECT * FROM t WHERE (b = 'WHERE') AND a = 1  GROUP BY c"},
        {"UPDATE t SET a = 1", "b = 2", "UPDATE t SET a = 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, OraAddWhereCondition(c.sql, c.arg)) << c.sql << " + " << c.arg;
}

TEST(SQLText, AddWhereConditionClosesTheParenthesisAfterATrailingComment) {
    EXPECT_EQ("SELECT * FROM t WHERE (b = 2 /* note */\r) AND a = 1  ORDER BY c",
              OraAddWhereCondition("SELECT * FROM t WHERE b = 2 /* note */ ORDER BY c", "a = 1"));
}

TEST(SQLText, ReplaceAndRemoveWhereConditionKeepTheOtherClauses) {
    const TextCase cases[] = {
        {"SELECT * FROM t WHERE a = 1 ORDER BY b", "c = 2", "SELECT * FROM t WHERE c = 2 ORDER BY b"},
        {"SELECT * FROM t WHERE a = 1 ORDER BY b", "", "SELECT * FROM t ORDER BY b"},
        {"SELECT * FROM t WHERE a = 1", "", "SELECT * FROM t"},
        {"SELECT * FROM t ORDER BY b", "c = 2", "SELECT * FROM t WHERE c = 2 ORDER BY b"},
        {"SELECT * FROM t", "c = 2", "SELECT * FROM t WHERE c = 2"},
        {"SELECT * FROM (SELECT * FROM u WHERE x = 1) v", "c = 2",
         "SELECT * FROM (SELECT * FROM u WHERE x = 1) v WHERE c = 2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, OraReplaceWhereCondition(c.sql, c.arg)) << c.sql << " <- " << c.arg;
    EXPECT_EQ("SELECT * FROM t GROUP BY a",
              OraRemoveWhereCondition("SELECT * FROM t WHERE b = 1 GROUP BY a"));
}

TEST(SQLText, ReplaceOrderByWritesCommasAndStaysBeforeForUpdate) {
    const TextCase cases[] = {
        {"SELECT * FROM t ORDER BY a", "b;c", "SELECT * FROM t ORDER BY b,c"},
        {"SELECT * FROM t ORDER BY a", "", "SELECT * FROM t"},
        {"SELECT * FROM t WHERE x = 1", "b", "SELECT * FROM t WHERE x = 1 ORDER BY b"},
        {"SELECT * FROM t FOR UPDATE", "b", "SELECT * FROM t ORDER BY b FOR UPDATE"},
        {"SELECT * FROM t ORDER BY a FOR UPDATE", "b DESC", "SELECT * FROM t ORDER BY b DESC FOR UPDATE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, OraReplaceOrderBy(c.sql, c.arg)) << c.sql << " <- " << c.arg;
}

TEST(SQLText, ExtractOrderByReturnsTheListAlone) {
    const TextCase cases[] = {
        {"SELECT * FROM t ORDER BY a, b", "", "a, b"},
        {"SELECT * FROM t ORDER BY a DESC FOR UPDATE", "", "a DESC"},
        {"SELECT * FROM t", "", ""},
        {"SELECT * FROM (SELECT * FROM u ORDER BY z) v", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, OraExtractOrderBy(c.sql)) << c.sql;
}

TEST(SQLText, UpdateKindsMapToStatementTypes) {
    EXPECT_EQ(stUpdate, UpdateKindToStatementType(db::ukModify));
    EXPECT_EQ(stInsert, UpdateKindToStatementType(db::ukInsert));
    EXPECT_EQ(stDelete, UpdateKindToStatementType(db::ukDelete));
    EXPECT_THROW(UpdateKindToStatementType(static_cast<db::TUpdateKind>(7)), rtl::EAssertionFailed);
}

// ---------------------------------------------------------------------------------------------
// Macros

namespace {

std::vector<std::string> Names(const TMacros& m) {
    std::vector<std::string> out;
    for (int i = 0; i < m.Count(); ++i) out.push_back(m[i]->Name());
    return out;
}

}  // namespace

TEST(Macros, ScanFindsReferencesOutsideQuotesOnce) {
    TMacros m(nullptr);
    m.SetParserClass(&CreateParserOf<TOraParser>);
    m.Scan("SELECT * FROM &tab WHERE a = '&not' AND &cond AND &TAB = 1 &1 &2x");
    EXPECT_EQ((std::vector<std::string>{"tab", "cond", "1", "2x"}), Names(m));
    m.Scan("SELECT 1 FROM dual");
    EXPECT_EQ(0, m.Count()) << "a text without the macro character empties the collection";
}

TEST(Macros, TheGenericLexerTakesNoNumericNames) {
    TMacros m(nullptr);
    m.Scan("SELECT &1 FROM &t");
    EXPECT_EQ((std::vector<std::string>{"t"}), Names(m));
}

TEST(Macros, RescanningKeepsValuesAndSendsNoChangeWhenTheNamesStay) {
    TMacros m(nullptr);
    m.Scan("SELECT * FROM &tab");
    m.FindMacro("TAB")->SetValue("item");
    int changes = 0;
    m.OnChange = [&](rtl::TCollectionItem*) { ++changes; };
    m.Scan("SELECT id FROM &tab");
    EXPECT_EQ(0, changes);
    EXPECT_EQ("item", m[0]->Value());
    m.Scan("SELECT id FROM &tab WHERE &cond");
    EXPECT_EQ("item", m.FindMacro("tab")->Value()) << "a surviving name keeps its value";
    EXPECT_EQ(1, changes) << "a new name changes the collection once";
    m[0]->SetValue("other");
    EXPECT_EQ(2, changes);
}

TEST(Macros, ExpandReplacesActiveValuesAndDropsInactiveAndUnknownOnes) {
    TMacros m(nullptr);
    m.SetParserClass(&CreateParserOf<TOraParser>);
    m.Scan("SELECT * FROM &tab &where &order");
    m.FindMacro("tab")->SetValue("item");
    m.FindMacro("where")->SetValue("WHERE id = 1");
    m.FindMacro("where")->SetActive(false);
    AnsiString text = "SELECT * FROM &tab &where &missing '&tab' &";
    m.Expand(text);
    EXPECT_EQ("SELECT * FROM item   '&tab' &", text);
    EXPECT_EQ("Macro nope not found", ErrorText([&] { m.MacroByName("nope"); }));
}

TEST(Macros, EqualityComparesNamesValuesAndActiveFlags) {
    TMacros a(nullptr), b(nullptr);
    a.Scan("&x &y");
    b.Scan("&x &y");
    EXPECT_TRUE(a.IsEqual(&b));
    b[1]->SetActive(false);
    EXPECT_FALSE(a.IsEqual(&b));
    b.Assign(&a);
    EXPECT_TRUE(a.IsEqual(&b));
    b[0]->SetName("X");
    EXPECT_FALSE(a.IsEqual(&b)) << "names compare with case";
}
