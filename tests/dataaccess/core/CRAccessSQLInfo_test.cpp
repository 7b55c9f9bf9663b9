#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "platform/rtl/Exceptions.h"

namespace dac {
namespace {

// A dialect that stores unquoted names in lower case, to reach the other branch of the rules.
class LowerInfo : public TSQLInfo {
public:
    int IdentCase() const override { return 1; }
};

class UpperInfo : public TSQLInfo {
public:
    int IdentCase() const override { return 0; }
};

TEST(SQLInfo, QuotingBasics) {
    TSQLInfo info;
    EXPECT_EQ(info.LeftQuote(), '"');
    EXPECT_EQ(info.IdentCase(), 2);
    EXPECT_TRUE(info.IsQuoted("\"a\""));
    EXPECT_FALSE(info.IsQuoted("\""));
    EXPECT_FALSE(info.IsQuoted("\"a"));
    EXPECT_EQ(info.Quote("a", '[', ']'), "[a]");
    EXPECT_EQ(info.Quote("\"a\"", '[', ']'), "\"a\"");
    EXPECT_EQ(info.QuoteName("x y"), "\"x y\"");
    EXPECT_EQ(info.UnQuote("\"a b\""), "a b");
    EXPECT_EQ(info.UnQuote("ab"), "ab");
}

TEST(SQLInfo, NeedQuoteFollowsTheIdentifierCase) {
    TSQLInfo mixed;
    UpperInfo upper;
    LowerInfo lower;
    struct Case {
        std::string value;
        bool mixed, upper, lower;
    };
    for (const auto& c : std::vector<Case>{{"", false, false, false},
                                           {"EMP_1$", false, false, true},
                                           {"emp_1$", false, true, false},
                                           {"Emp", false, true, true},
                                           {"1EMP", true, true, true},
                                           {"_X", true, true, true},
                                           {"A B", true, true, true},
                                           {"\xc0", true, true, true},
                                           {"a#", true, true, true}}) {
        EXPECT_EQ(mixed.NeedQuote(c.value), c.mixed) << c.value;
        EXPECT_EQ(upper.NeedQuote(c.value), c.upper) << c.value;
        EXPECT_EQ(lower.NeedQuote(c.value), c.lower) << c.value;
    }
}

TEST(SQLInfo, NormalizeName) {
    TSQLInfo mixed;
    UpperInfo upper;
    LowerInfo lower;
    struct Case {
        const TSQLInfo* info;
        std::string value;
        bool quoteNames, unQuoteNames;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {&mixed, "", false, false, ""},
        {&mixed, "Scott.Emp", false, false, "Scott.Emp"},
        {&mixed, "emp name", false, false, "\"emp name\""},
        {&mixed, "a.b", true, false, "\"a\".\"b\""},
        {&upper, "scott.emp", false, false, "SCOTT.EMP"},
        {&lower, "SCOTT.Emp", false, false, "scott.emp"},
        {&upper, "\"a.b\".c", false, false, "\"a.b\".C"},
        {&upper, "\"Mixed\"", false, false, "\"Mixed\""},
        {&upper, "\"Mixed\"", false, true, "Mixed"},
        {&upper, "\"MIXED\"", false, false, "\"MIXED\""},  // a quoted name keeps its quotes
        {&upper, "emp", true, false, "\"emp\""},           // quoting keeps the case
        {&mixed, "\"x\".\"y\".z", false, false, "\"x\".\"y\".z"},
        {&mixed, "\"x\".\"y\".z", false, true, "x.y.z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.info->NormalizeName(c.value, c.quoteNames, c.unQuoteNames), c.expected) << c.value;
    EXPECT_EQ(mixed.NormalizeName("a b", '[', ']', false, false), "[a b]");
}

TEST(SQLInfo, SplitObjectNameFromTheRight) {
    TSQLInfo info;
    struct Case {
        std::string name, catalog, schema, object;
    };
    for (const auto& c : std::vector<Case>{{"emp", "", "", "emp"},
                                           {"scott.emp", "", "scott", "emp"},
                                           {"db.scott.emp", "db", "scott", "emp"},
                                           {"x.db.scott.emp", "db", "scott", "emp"},
                                           {"\"a.b\".\"c.d\"", "", "\"a.b\"", "\"c.d\""},
                                           {"s.\"t\"", "", "s", "\"t\""},
                                           {".emp", "", "", "emp"}}) {
        TSQLObjectInfo o;
        o.DBLink = "stale";
        info.SplitObjectName(c.name, o);
        EXPECT_EQ(o.Name, c.object) << c.name;
        EXPECT_EQ(o.Schema, c.schema) << c.name;
        EXPECT_EQ(o.Catalog, c.catalog) << c.name;
        EXPECT_EQ(o.DBLink, "") << c.name;
    }
}

struct TableRef {
    std::string name, alias;
    bool operator==(const TableRef&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TableRef& t) {
    return os << t.name << "/" << t.alias;
}

std::vector<TableRef> Tables(TSQLInfo& info, const std::string& sql) {
    TCRTablesInfo tables;
    info.ParseTablesInfo(sql, tables);
    EXPECT_EQ(tables.UpdateCount(), 0);
    std::vector<TableRef> out;
    for (int i = 0; i < tables.Count(); ++i) {
        EXPECT_EQ(tables[i]->Index(), i);
        out.push_back({tables[i]->TableName(), tables[i]->TableAlias()});
    }
    return out;
}

TEST(SQLInfo, TablesOfTheFromClause) {
    TSQLInfo info;
    info.SetCommand(nullptr, CreateParserOf<TSQLParser>);
    struct Case {
        std::string sql;
        std::vector<TableRef> expected;
    };
    const std::vector<Case> cases = {
        {"select * from emp e, dept d where e.id = d.id", {{"emp", "e"}, {"dept", "d"}}},
        {"select a from t1 join t2 on t1.id = t2.id", {{"t1", ""}, {"t2", ""}}},
        {"select a from t1 left outer join t2 x on (t1.id = x.id) inner join t3 on 1=1",
         {{"t1", ""}, {"t2", "x"}, {"t3", ""}}},
        {"select x from (select y from t) q", {}},
        {"select x from scott.emp as e order by 1", {{"scott.emp", "e"}}},
        {"select x from t group by x", {{"t", ""}}},
        {"select x from t where a in (select b from u, v)", {{"t", ""}}},
        {"select x from f(1) ff, t", {{"t", ""}}},
        {"select (select 1 from dual) from t -- note\n , u /* c */ k", {{"t", ""}, {"u", "k"}}},
        {"select x from \"My Table\" m", {{"\"My Table\"", "m"}}},
        {"update t set a = 1", {}},
        {"", {}},
        {"select x", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(Tables(info, c.sql), c.expected) << c.sql;
}

TEST(SQLInfo, WithoutCommandTheAnalysisFailsAnAssertion) {
    TSQLInfo info;
    TCRTablesInfo tables;
    TColumnsInfo columns;
    EXPECT_THROW(info.ParseTablesInfo("select a from t", tables), rtl::EAssertionFailed);
    EXPECT_EQ(tables.UpdateCount(), 0);
    EXPECT_THROW(info.ParseColumnsInfo("select a from t", columns), rtl::EAssertionFailed);
}

struct Column {
    std::string table, name, alias, expr;
    bool operator==(const Column&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Column& c) {
    return os << "[" << c.table << "|" << c.name << "|" << c.alias << "|" << c.expr << "]";
}

std::vector<Column> Columns(TSQLInfo& info, const std::string& sql) {
    TColumnsInfo columns;
    info.ParseColumnsInfo(sql, columns);
    std::vector<Column> out;
    for (int i = 0; i < columns.Count(); ++i) {
        const TColumnInfo* c = columns[i];
        EXPECT_EQ(c->TableNo, -1);
        out.push_back({c->Table, c->Name, c->TableAlias, c->Expr});
    }
    return out;
}

TEST(SQLInfo, ColumnsOfTheSelectList) {
    TSQLInfo info;
    info.SetCommand(nullptr, CreateParserOf<TSQLParser>);
    struct Case {
        std::string sql;
        std::vector<Column> expected;
    };
    const std::vector<Case> cases = {
        {"select e.name n, upper(e.city) from emp e", {{"e", "name", "n", ""}, {"", "", "", "upper)"}}},
        {"select count(*) from t", {{"", "", "", "count)"}}},
        {"select * from t", {{"", "*", "", ""}}},
        {"select e.* from t e", {{"e", "*", "", ""}}},
        {"select a.b.c.d from t", {{"a.b.c", "d", "", ""}}},
        {"select all a as x, b y, c from t", {{"", "a", "x", ""}, {"", "b", "y", ""}, {"", "c", "", ""}}},
        {"select a + b total from t", {{"", "", "total", "a+b"}}},
        {"select 'x' lit, 12 n from t", {{"", "", "lit", "x"}, {"", "", "n", "12"}}},
        {"select NULL, null from t", {{"", "", "", "NULL"}, {"", "null", "", ""}}},
        {"select \"Weird Name\" from t", {{"", "Weird Name", "", ""}}},
        {"select a, b", {{"", "a", "", ""}, {"", "b", "", ""}}},
        {"delete from t", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(Columns(info, c.sql), c.expected) << c.sql;
}

TEST(TablesInfo, IndexesByNameAndAlias) {
    TCRTablesInfo tables;
    TCRTableInfo* a = tables.Add();
    a->SetTableName("EMP");
    a->SetTableAlias("e");
    TCRTableInfo* b = tables.Add();
    b->SetTableName("Dept");
    TCRTableInfo* c = tables.Add();
    c->SetTableName("emp");
    c->SetTableAlias("E2");
    EXPECT_EQ(tables.IndexByName("emp"), 0);  // the first of equal names
    EXPECT_EQ(tables.IndexByName("DEPT"), 1);
    EXPECT_EQ(tables.IndexByName("nope"), -1);
    EXPECT_EQ(tables.IndexByAlias("E"), 0);
    EXPECT_EQ(tables.IndexByAlias("e2"), 2);
    EXPECT_EQ(tables.IndexByAlias(""), 1);

    tables.SetCaseSensitive(true);
    EXPECT_EQ(tables.IndexByName("emp"), 2);
    EXPECT_EQ(tables.IndexByName("DEPT"), -1);

    // While updating, names are found by scanning; renames show up after EndUpdate too.
    tables.BeginUpdate();
    b->SetTableName("DEPT");
    EXPECT_EQ(tables.IndexByName("DEPT"), 1);
    tables.EndUpdate();
    EXPECT_EQ(tables.IndexByName("DEPT"), 1);
    EXPECT_EQ(tables.IndexByName("Dept"), -1);

    // Renames outside an update re-sort at once.
    a->SetTableName("ZZZ");
    EXPECT_EQ(tables.IndexByName("ZZZ"), 0);
    EXPECT_EQ(tables.IndexByName("EMP"), -1);

    // Cyrillic names compare without case under the locale rules.
    tables.SetCaseSensitive(false);
    c->SetTableName("\xf2\xe0\xe1");
    EXPECT_EQ(tables.IndexByName("\xd2\xc0\xc1"), 2);
}

TEST(TablesInfo, ItemsClearAndBounds) {
    struct MyInfo : TCRTableInfo {
        using TCRTableInfo::TCRTableInfo;
        AnsiString GetTableNameFull() const override { return "full:" + TableName(); }
    };
    TCRTablesInfo tables([](TCRTablesInfo* owner) -> std::unique_ptr<TCRTableInfo> {
        return std::make_unique<MyInfo>(owner);
    });
    tables.Add()->SetTableName("t");
    EXPECT_EQ(tables[0]->GetTableNameFull(), "full:t");
    EXPECT_EQ(tables[0]->Owner(), &tables);
    for (int bad : {-1, 1}) {
        try {
            tables.Items(bad);
            ADD_FAILURE();
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    tables.Clear();
    EXPECT_EQ(tables.Count(), 0);
    EXPECT_EQ(tables.IndexByName("t"), -1);
    TColumnsInfo columns;
    columns.Add()->Name = "a";
    EXPECT_EQ(columns[0]->Name, "a");
    EXPECT_THROW(columns.Items(1), rtl::Exception);
    columns.Clear();
    EXPECT_EQ(columns.Count(), 0);
}

}  // namespace
}  // namespace dac
