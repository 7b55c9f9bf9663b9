// Filter expressions (grammar, evaluation, LIKE patterns) and the per-row verdict.
#include <gtest/gtest.h>

#include "platform/rtl/FormatSettings.h"
#include "tests/dataaccess/core/MemListFixture.h"

namespace dac {
namespace {

using rtl::Variant;
using test::ListData;

// The tree as text: (kind operands...), fields by name, constants with their kind.
std::string Render(const TExpressionNode* n) {
    static const char* const kinds[] = {"=",   ">", "<", ">=",   "<=",    "<>",   "and",     "or",
                                        "not", "",  "",  "true", "false", "like", "not-like"};
    switch (n->NodeKind) {
        case ntField:
            return n->FieldDesc->Name;
        case ntValue: {
            const Variant& v = n->Value;
            if (v.IsNull()) return "null";
            if (v.VarType() == rtl::varString) return "'" + v.AsString() + "'";
            if (v.VarType() == rtl::varInt64) return v.AsString() + ":int";
            if (v.VarType() == rtl::varDouble) return v.AsString() + ":dbl";
            if (v.VarType() == rtl::varBoolean) return v.AsBoolean() ? "T" : "F";
            return "?";
        }
        case ntTrue:
        case ntFalse:
            return kinds[n->NodeKind];
        case ntNot:
            return "(not " + Render(n->FirstOperand) + ")";
        default:
            return std::string("(") + kinds[n->NodeKind] + " " + Render(n->FirstOperand) + " " +
                   Render(n->SecondOperand) + ")";
    }
}

TEST(FilterGrammar, TreesAndErrors) {
    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DecimalSeparator = ',';
    rtl::TFormatSettingsOverride comma(fs);
    ListData d({{"A", dtInteger},
                {"AMOUNT", dtFloat},
                {"NAME", dtString, 20},
                {"FLAG", dtBoolean},
                {"ORDER DATE", dtDateTime}});
    d.Open();
    struct Case {
        const char* text;
        const char* tree;  // or the error message
        bool error = false;
    };
    const Case cases[] = {
        {"AMOUNT > 10 AND NAME LIKE 'A%' OR FLAG = TRUE",
         "(or (and (> AMOUNT 10:int) (like NAME 'A%')) (= FLAG T))"},
        {"a = 1 or a = 2 and not a = 3", "(or (= A 1:int) (and (= A 2:int) (not (= A 3:int))))"},
        {"NOT (A = 1 OR A = 2)", "(not (or (= A 1:int) (= A 2:int)))"},
        {"A IS NULL", "(= A null)"},
        {"a is not null", "(<> A null)"},
        {"NAME NOT LIKE 'x_'", "(not-like NAME 'x_')"},
        {"A <> 1 AND A >= 2 AND A <= 3 AND A < 4",
         "(and (and (and (<> A 1:int) (>= A 2:int)) (<= A 3:int)) (< A 4:int))"},
        {"[ORDER DATE] > '2009-01-31'", "(> ORDER DATE '2009-01-31')"},
        {"-5 = A", "(= -5:dbl A)"},
        {"A = +5", "(= A 5:dbl)"},
        {"A = 5,5", "(= A 5,5:dbl)"},
        {"A = 99999999999999999999", "(= A 1E20:dbl)"},
        {"NAME = 'O''Brien'", "(= NAME 'O'Brien')"},
        {"NAME = \"it's\"", "(= NAME 'it's')"},
        {"FLAG = false", "(= FLAG F)"},
        {"TRUE", "true"},
        {"(FALSE) OR A = 1", "(or false (= A 1:int))"},
        {"A = 1 B", "Illegal filter expression", true},
        {"A =", "Illegal filter expression", true},
        {"(A = 1", "Illegal filter expression", true},
        {"A IS 5", "Illegal filter expression", true},
        {"A IS NOT 5", "Illegal filter expression", true},
        {"A NOT = 1", "Illegal filter expression", true},
        {"= 1", "Illegal filter expression", true},
        {"A = -B", "Illegal filter expression", true},
        {"A ! 1", "Illegal filter expression", true},
        {"OR", "Illegal filter expression", true},
        {"NOPE = 1", "Field NOPE not found", true},
        {"[NO PE] = 1", "Field NO PE not found", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            d.ParseFilter(c.text);
            ASSERT_FALSE(c.error) << "no error";
            ASSERT_TRUE(d.HasFilterExpression());
            EXPECT_EQ(Render(d.FilterRoot()), c.tree);
        } catch (const rtl::Exception& e) {
            EXPECT_TRUE(c.error) << e.Message();
            EXPECT_EQ(e.Message(), c.tree);
            EXPECT_FALSE(d.HasFilterExpression());
        }
    }
    d.ParseFilter("  ");
    EXPECT_FALSE(d.HasFilterExpression());
}

TEST(FilterMatchLike, Patterns) {
    struct Case {
        const char* value;
        const char* pattern;
        bool match;
    };
    const Case cases[] = {
        {"ABC", "A_C", true},      {"ABC", "A%", true},       {"ABC", "A*", true},  {"abc", "A%", false},
        {"ABC", "%", true},        {"", "%", true},           {"", "*%*", true},    {"", "_", false},
        {"AB", "AB_", false},      {"ABC", "%C", true},       {"ABC", "%B", false}, {"ABCBC", "%BC", true},
        {"ABC", "ABC", true},      {"ABC", "ABCD", false},    {"ABC", "AB", false}, {"AXBXC", "A*B*C", true},
        {"AXBXD", "A*B*C", false}, {"aaa", "a*a*a*a", false}, {"a%b", "a%b", true}, {"ab", "%a%b%", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchLike(std::string_view(c.value), std::string_view(c.pattern)), c.match)
            << c.value << " LIKE " << c.pattern;
        const auto wide = [](const char* s) { return std::u16string(s, s + std::strlen(s)); };
        EXPECT_EQ(MatchLike(wide(c.value), wide(c.pattern)), c.match) << c.value << " LIKE " << c.pattern;
    }
}

// Rows for the evaluation cases.
struct People : ListData {
    People()
        : ListData({{"ID", dtInteger},
                    {"AMOUNT", dtFloat},
                    {"NAME", dtString, 20},
                    {"FLAG", dtBoolean},
                    {"D", dtDateTime},
                    {"W", dtWideString, 10}}) {
        Open();
        const double jan31 = 39844;  // 2009-01-31
        Append({1, 20.0, "Adams", false, jan31 + 1, u"\u0416\u0443\u043a"});
        Append({2, 5.0, "SMITH", true, jan31, u"Cat"});
        Append({3, rtl::Null(), "Smith", false, rtl::Null(), rtl::Null()});
        Append({4, 12.5, rtl::Null(), false, jan31 - 1, u"cat"});
        Append({5, 11.0, "O'Brien", rtl::Null(), jan31 + 0.5, u"dog"});
        Append({6, 0.0, "AB*C", false, jan31 + 30, u"Cab"});
    }
};

std::vector<int> Selected(People& p, const char* filter, bool caseInsensitive = false,
                          bool noPartial = false) {
    p.FilterCaseInsensitive = caseInsensitive;
    p.FilterNoPartialCompare = noPartial;
    p.SetFilterText(filter);
    p.FilterUpdated();
    return p.Ids();
}

TEST(FilterEvaluation, SelectsTheRightRows) {
    rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
    fs.ShortDateFormat = "yyyy-MM-dd";
    fs.DateSeparator = '-';
    rtl::TFormatSettingsOverride iso(fs);
    People p;
    struct Case {
        const char* filter;
        std::vector<int> ids;
        bool caseInsensitive = false;
        bool noPartial = false;
    };
    const Case cases[] = {
        {"AMOUNT > 10 AND NAME LIKE 'A%' OR FLAG = TRUE", {1, 2}},
        {"AMOUNT > 10 AND (NAME LIKE 'A%' OR FLAG = TRUE)", {1}},
        {"AMOUNT > 5", {1, 4, 5}},
        {"NOT AMOUNT > 5", {2, 3, 6}},  // a null amount is not above 5
        {"AMOUNT <= 5", {2, 6}},
        {"AMOUNT = 11", {5}},
        {"AMOUNT <> 11", {1, 2, 3, 4, 6}},
        {"NAME IS NULL", {4}},
        {"NAME IS NOT NULL", {1, 2, 3, 5, 6}},
        {"NAME = NULL", {4}},
        {"FLAG IS NULL", {5}},
        {"W IS NULL", {3}},
        {"NAME = 'O''Brien'", {5}},
        {"NAME = 'S*'", {2, 3}},  // partial comparison: the text is a pattern
        {"NAME = 'S*'", {}, false, true},
        {"NAME = 'AB*C'", {6}, false, true},
        {"NAME LIKE 'S_ith'", {3}},
        {"NAME NOT LIKE '%i%'", {1, 2, 4, 6}},  // a null name never matches, so NOT LIKE holds
        {"NAME = 'smith'", {2, 3}, true},
        {"NAME > 'B'", {2, 3, 5}},
        {"W = 'cat'", {2, 4}, true},
        {"W LIKE 'C%'", {2, 6}},
        {"W = '\xC6\xF3\xEA'", {1}},  // the 1251 text against the UTF-16 column
        {"D > '2009-01-31'", {1, 5, 6}},
        {"D = '2009-01-31'", {2}},
        {"'2009-01-31' < D", {1, 5, 6}},
        {"ID = 1 OR ID = 6", {1, 6}},
        {"TRUE", {1, 2, 3, 4, 5, 6}},
        {"FALSE", {}},
        {"", {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(Selected(p, c.filter, c.caseInsensitive, c.noPartial), c.ids);
    }
}

TEST(FilterEvaluation, IsNullOnATextColumnNeverMatchesTheNullAsAPattern) {
    People p;
    // With partial comparison a text column is matched against a pattern; a Null is no pattern.
    EXPECT_EQ(Selected(p, "NAME = NULL"), (std::vector<int>{4}));
    EXPECT_EQ(Selected(p, "NAME <> NULL"), (std::vector<int>{1, 2, 3, 5, 6}));
    EXPECT_EQ(Selected(p, "NAME LIKE NULL"), (std::vector<int>{4}));
}

TEST(FilterEvaluation, ConversionErrorsRaiseWhileReading) {
    People p;
    p.SetFilterText("D > 'not a date'");  // parses: the text is converted per row
    EXPECT_THROW(p.FilterUpdated(), rtl::Exception);
    p.SetFilterText("AMOUNT > 'x'");
    EXPECT_THROW(p.FilterUpdated(), rtl::Exception);
}

TEST(FilterSettings, ABadTextKeepsTheFilterInForce) {
    People p;
    EXPECT_EQ(Selected(p, "AMOUNT > 10"), (std::vector<int>{1, 4, 5}));
    EXPECT_THROW(p.SetFilterText("AMOUNT >"), rtl::Exception);
    EXPECT_EQ(p.FilterText(), "AMOUNT > 10");
    p.FilterUpdated();
    EXPECT_EQ(p.Ids(), (std::vector<int>{1, 4, 5}));
    EXPECT_THROW(p.SetFilterText("MISSING = 1"), rtl::Exception);
    p.FilterUpdated();
    EXPECT_EQ(p.Ids(), (std::vector<int>{1, 4, 5}));
}

TEST(FilterSettings, TextSetWhileClosedIsBuiltOnOpen) {
    ListData d({{"ID", dtInteger}});
    d.SetFilterText("ID > 1");
    EXPECT_FALSE(d.HasFilterExpression());
    d.Open();
    EXPECT_TRUE(d.HasFilterExpression());
    for (int i = 1; i <= 3; ++i) d.Append({i});
    EXPECT_EQ(d.Ids(), (std::vector<int>{2, 3}));
    d.Close();
    EXPECT_FALSE(d.HasFilterExpression());
}

TEST(FilterSettings, BlankTextKeepsTheCallbacks) {
    People p;
    p.OnFilterRecord = [&p](void* rec) { return p.Value(1, rec).AsInteger() % 2 == 0; };
    EXPECT_EQ(Selected(p, "ID > 2"), (std::vector<int>{4, 6}));
    EXPECT_EQ(Selected(p, "   "), (std::vector<int>{2, 4, 6}));
    EXPECT_TRUE(p.IsFiltered());
    p.OnFilterRecord = nullptr;
    EXPECT_FALSE(p.IsFiltered());
}

TEST(FilterSettings, CalculatedColumnsAreFilledBeforeTheExpression) {
    ListData d({{"ID", dtInteger}, {"TWICE", dtInteger, 0, 2}});
    d.OnCalcFields = [&d](void* dest, void*) {
        int32_t twice = 2 * d.Value(1, dest).AsInteger();
        d.PutField(2, dest, &twice);
    };
    d.Open();
    for (int i = 1; i <= 4; ++i) d.Append({i});
    d.SetFilterText("TWICE > 4");
    d.FilterUpdated();
    EXPECT_EQ(d.Ids(), (std::vector<int>{3, 4}));
}

TEST(FilterItemTypes, UpdateStatusHidesRows) {
    ListData d({{"ID", dtInteger}});
    d.Open();
    for (int i = 1; i <= 4; ++i) d.Append({i});
    d.ChangeCachedUpdates(true);
    EXPECT_EQ(d.FilterItemTypes(), DefaultCachedItemTypes);
    d.Delete(2);
    d.Append({5});
    d.Edit(3, 1, 30);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 30, 4, 5}));
    d.SetFilterItemTypes(DefaultCachedItemTypes | ItemTypeBit(ItemDeleted));
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 30, 4, 5}));
    d.SetFilterItemTypes(ItemTypeBit(ItemModified) | ItemTypeBit(ItemInserted));
    EXPECT_EQ(d.Ids(), (std::vector<int>{30, 5}));
    d.SetFilterItemTypes(ItemTypeBit(ItemDeleted));
    EXPECT_EQ(d.Ids(), (std::vector<int>{2}));
    // Without cached updates the status does not count.
    d.ChangeCachedUpdates(false);
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace dac
