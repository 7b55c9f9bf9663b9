#include "dataaccess/core/CRParser.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "tests/dataaccess/core/LexemTestSupport.h"

namespace dac {
namespace {

enum Kind { Generic, SQL };

struct Options {
    bool skipBlanks = true;
    bool skipComments = false;
    bool keepQuotes = false;
    bool upperKeywords = true;
    bool altQuoting = false;
    const char* decimal = ".";
};

std::vector<Lexem> Lex(Kind kind, const std::string& text, const Options& o = {}) {
    std::unique_ptr<TParser> p;
    if (kind == SQL)
        p = std::make_unique<TSQLParser>(text);
    else
        p = std::make_unique<TParser>(text);
    p->SkipBlanks = o.skipBlanks;
    p->SkipComments = o.skipComments;
    p->KeepQuotes = o.keepQuotes;
    p->UpperKeywords = o.upperKeywords;
    p->AltQuoting = o.altQuoting;
    p->DecimalChar = o.decimal;
    p->ToBegin();
    return LexAll(*p);
}

struct Case {
    const char* name;
    Kind kind;
    std::string text;
    Options options;
    std::vector<Lexem> expected;
};

const Options Comments{.skipComments = false};
const Options NoComments{.skipComments = true};
const Options Blanks{.skipBlanks = false};
const Options Keep{.keepQuotes = true};
const Options NoUpper{.upperKeywords = false};
const Options Alt{.altQuoting = true};
const Options AltKeep{.keepQuotes = true, .altQuoting = true};
const Options Comma{.decimal = ","};

const std::vector<Case> kCases = {
    {"sql select",
     SQL,
     "SELECT a.b FROM t",
     {},
     {{138, "SELECT"}, {lxIdent, "a"}, {5, "."}, {lxIdent, "b"}, {112, "FROM"}, {lxIdent, "t"}}},
    {"keywords upper-cased, identifiers keep case",
     SQL,
     "select Xy from T",
     {},
     {{138, "SELECT"}, {lxIdent, "Xy"}, {112, "FROM"}, {lxIdent, "T"}}},
    {"keywords keep case without UpperKeywords", SQL, "select x", NoUpper, {{138, "select"}, {lxIdent, "x"}}},
    {"generic single-character symbols",
     Generic,
     "a<>b",
     {},
     {{lxIdent, "a"}, {18, "<"}, {20, ">"}, {lxIdent, "b"}}},
    {"generic keywords",
     Generic,
     "a and not b Or c",
     {},
     {{lxIdent, "a"}, {29, "AND"}, {30, "NOT"}, {lxIdent, "b"}, {31, "OR"}, {lxIdent, "c"}}},
    {"generic strings in both quotes", Generic, "\"x\" 'y'", {}, {{lxString, "x"}, {lxString, "y"}}},
    {"symbol outside the SQL table",
     SQL,
     "(a)+1",
     {},
     {{lxSymbolChar, "("}, {lxIdent, "a"}, {lxSymbolChar, ")"}, {lxSymbolChar, "+"}, {lxNumber, "1"}}},
    {"colon and equals stay apart", SQL, "x:=1", {}, {{lxIdent, "x"}, {3, ":"}, {2, "="}, {lxNumber, "1"}}},
    {"hash and dollar inside and at the start of words",
     SQL,
     "a#b $x #y",
     {},
     {{lxIdent, "a#b"}, {lxSymbolChar, "$"}, {lxIdent, "x"}, {lxSymbolChar, "#"}, {lxIdent, "y"}}},
    {"underscore starts identifiers", SQL, "_a1 b_2", {}, {{lxIdent, "_a1"}, {lxIdent, "b_2"}}},
    {"high characters are letters",
     SQL,
     "\xcf\xf0\xe8 \xe0",
     {},
     {{lxIdent, "\xcf\xf0\xe8"}, {lxIdent, "\xe0"}}},
    {"doubled apostrophe gives two strings", SQL, "'it''s'", {}, {{lxString, "it"}, {lxString, "s"}}},
    {"string with quotes kept", SQL, "'ab' ''", Keep, {{lxString, "'ab'"}, {lxString, "''"}}},
    {"empty string", SQL, "''", {}, {{lxString, ""}}},
    {"unterminated string runs to the end", SQL, "x 'abc", {}, {{lxIdent, "x"}, {lxString, "abc"}}},
    {"unterminated string keeps its quote", SQL, "'abc", Keep, {{lxString, "'abc"}}},
    {"quoted identifier keeps its quotes",
     SQL,
     "\"Select\" x",
     {},
     {{lxIdent, "\"Select\""}, {lxIdent, "x"}}},
    {"double quote is a string in the generic lexer", Generic, "\"a b\"", Keep, {{lxString, "\"a b\""}}},
    {"numbers with the decimal separator",
     SQL,
     "1.5 2. 3.x 44",
     {},
     {{lxNumber, "1.5"},
      {lxNumber, "2"},
      {5, "."},
      {lxNumber, "3"},
      {5, "."},
      {lxIdent, "x"},
      {lxNumber, "44"}}},
    {"comma as decimal separator",
     SQL,
     "1,5 1.5",
     Comma,
     {{lxNumber, "1,5"}, {lxNumber, "1"}, {5, "."}, {lxNumber, "5"}}},
    {"number then identifier", SQL, "12ab", {}, {{lxNumber, "12"}, {lxIdent, "ab"}}},
    {"sql line comment",
     SQL,
     "a -- c :p\nb",
     Comments,
     {{lxIdent, "a"}, {lxComment, "-- c :p"}, {lxIdent, "b"}}},
    {"sql line comment skipped", SQL, "a -- c\r\nb", NoComments, {{lxIdent, "a"}, {lxIdent, "b"}}},
    {"line comment marker at the very end is two symbols",
     SQL,
     "a --",
     {},
     {{lxIdent, "a"}, {lxSymbolChar, "-"}, {lxSymbolChar, "-"}}},
    {"marker with one character after it is a comment",
     SQL,
     "a --x",
     {},
     {{lxIdent, "a"}, {lxComment, "--x"}}},
    {"generic line comment", Generic, "//c\nx", {}, {{lxComment, "//c"}, {lxIdent, "x"}}},
    {"slash slash is no comment in SQL",
     SQL,
     "a//b",
     {},
     {{lxIdent, "a"}, {6, "/"}, {6, "/"}, {lxIdent, "b"}}},
    {"block comment",
     SQL,
     "a /* x\n y */ b",
     {},
     {{lxIdent, "a"}, {lxComment, "/* x\n y */"}, {lxIdent, "b"}}},
    {"slash star slash is a whole comment", SQL, "/*/ b", {}, {{lxComment, "/*/"}, {lxIdent, "b"}}},
    {"unterminated block comment", SQL, "x /* y", {}, {{lxIdent, "x"}, {lxComment, "/* y"}}},
    {"comments skipped between lexemes", SQL, "a/*1*/ /*2*/b", NoComments, {{lxIdent, "a"}, {lxIdent, "b"}}},
    {"blank runs with line breaks",
     SQL,
     "a \r\n\tb",
     Blanks,
     {{lxIdent, "a"}, {lxBlank, " \r\n\t"}, {lxIdent, "b"}}},
    {"blanks after a skipped comment come back",
     SQL,
     "a /*c*/ b",
     {.skipBlanks = false, .skipComments = true},
     {{lxIdent, "a"}, {lxBlank, " "}, {lxBlank, " "}, {lxIdent, "b"}}},
    {"trailing blanks", SQL, "a  ", Blanks, {{lxIdent, "a"}, {lxBlank, "  "}}},
    {"alternative literal", SQL, "q'[it's]' x", Alt, {{lxString, "it's"}, {lxIdent, "x"}}},
    {"alternative literal kept whole", SQL, "q'[it's]'", AltKeep, {{lxString, "q'[it's]'"}}},
    {"alternative literal closes on brace and quote", SQL, "Q'{a}b}'", Alt, {{lxString, "a}b"}}},
    {"alternative literal with its own delimiter",
     SQL,
     "q'xa'bx' y",
     Alt,
     {{lxString, "a'b"}, {lxIdent, "y"}}},
    {"short alternative literal is empty", SQL, "q'[]'", Alt, {{lxString, ""}}},
    {"unterminated alternative literal", SQL, "q'", Alt, {{lxString, ""}}},
    {"q without alternative quoting", SQL, "q'x'", {}, {{lxIdent, "q"}, {lxString, "x"}}},
    {"longer identifier starting with q", SQL, "qq'x'", Alt, {{lxIdent, "qq"}, {lxString, "x"}}},
};

class LexerSequence : public ::testing::TestWithParam<Case> {};

TEST_P(LexerSequence, GivesTheLexemes) {
    const Case& c = GetParam();
    EXPECT_EQ(Lex(c.kind, c.text, c.options), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, LexerSequence, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.name;
    for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

TEST(Lexer, EveryTableKeywordLexesToItsCode) {
    const TLexemList& table = SQLKeywords();
    ASSERT_EQ(table.Count(), 42);
    for (int i = 0; i < table.Count(); ++i) {
        std::string lower = table.Strings(i);
        for (auto& ch : lower) ch = static_cast<char>(tolower(ch));
        TSQLParser p(lower);
        std::string text;
        EXPECT_EQ(p.GetNext(text), table.Codes(i)) << lower;
        EXPECT_EQ(text, table.Strings(i));
    }
    for (const char* unused : {"INTERSECT", "DISTINCT", "WITH"}) {
        TSQLParser p(unused);
        EXPECT_EQ(p.GetNextCode(), lxIdent) << unused;
    }
}

TEST(Lexer, GenericSymbolTableCodes) {
    // Every symbol character of the table that is no quote or underscore comes back with its code.
    const TLexemList& table = ParserSymbols();
    ASSERT_EQ(table.Count(), 28);
    for (int i = 0; i < table.Count(); ++i) {
        const std::string s = table.Strings(i);
        TParser p(s);
        std::string text;
        const int code = p.GetNext(text);
        if (s == "\"" || s == "'")
            EXPECT_EQ(code, lxString);
        else if (s == "_")
            EXPECT_EQ(code, lxIdent);
        else
            EXPECT_EQ(code, table.Codes(i)) << s;
    }
}

TEST(Lexer, TablesAreSortedOrdinally) {
    for (const TLexemList* t : {&ParserSymbols(), &ParserKeywords(), &SQLSymbols(), &SQLKeywords()})
        for (int i = 1; i < t->Count(); ++i) EXPECT_LE(CompareLexems(t->Strings(i - 1), t->Strings(i)), 0);
}

TEST(Lexer, FindLexemIndexIsLeftmostAndUpperCasesOnlyAsciiLetters) {
    TLexemList table;
    table.Add("B", 2);
    table.Add("A", 1);
    table.Add("B", 3);
    table.Add("\xc0", 4);  // a Cyrillic capital
    table.Sort();
    TParser p("b \xe0 c");
    EXPECT_EQ(table.Codes(p.FindLexemIndex(1, 1, table)), 2);
    EXPECT_EQ(p.FindLexemIndex(3, 1, table), -1);  // the lower-case Cyrillic letter is not folded
    EXPECT_EQ(p.FindLexemIndex(5, 1, table), -1);
    EXPECT_THROW(table.Add("X", 0), rtl::EAssertionFailed);
}

TEST(Lexer, UnknownSymbolRaisesAndNamesTheCode) {
    for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
             {"a \x01", "Parser: The unknown symbol '\x01'  $0001"},
             {"\x7f", "Parser: The unknown symbol '\x7f'  $007F"},
             {std::string("x\0", 2), std::string("Parser: The unknown symbol '") + '\0' + "'  $0000"}}) {
        TSQLParser p(text);
        std::string lexem;
        try {
            while (p.GetNext(lexem) != lxEnd) {
            }
            ADD_FAILURE() << "no exception for " << text;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), message);
            EXPECT_STREQ(e.ClassName(), "Exception");
        }
    }
}

TEST(Lexer, PositionsAndLines) {
    TSQLParser p("a  b");
    std::string t;
    p.GetNext(t);
    EXPECT_EQ(p.CurrPos(), 1);
    p.GetNext(t);
    EXPECT_EQ(t, "b");
    EXPECT_EQ(p.ScanStartPos(), 1);  // just behind a, before the skipped blanks
    EXPECT_EQ(p.PriorScanStartPos(), 0);
    EXPECT_EQ(p.CurrPos(), 4);

    // CR LF is one break; lone CR and lone LF one each.
    TSQLParser lines("a\r\nb\rc\nd");
    const int64_t expected[] = {0, 1, 2, 3};
    for (int64_t line : expected) {
        lines.GetNext(t);
        EXPECT_EQ(lines.CurrLine(), line) << t;
    }
    // The scan before d began right behind c, at column 1 of the line of c.
    EXPECT_EQ(lines.PrevCol(), 1);
    EXPECT_EQ(lines.LexemCol(), 0);

    // Over a text, breaks inside strings are not counted; block comments count them.
    TSQLParser s("'a\nb' /*\n\n*/ x");
    s.GetNext(t);
    EXPECT_EQ(s.CurrLine(), 0);
    s.GetNext(t);
    EXPECT_EQ(s.CurrLine(), 2);
}

TEST(Lexer, BackReturnsTheLastLexemeAgain) {
    TSQLParser p("select a, b");
    std::string t;
    p.GetNext(t);
    p.GetNext(t);
    p.Back();
    EXPECT_EQ(p.GetNext(t), lxIdent);
    EXPECT_EQ(t, "a");
    EXPECT_EQ(p.GetNext(t), 4);
}

TEST(Lexer, ToLexemByText) {
    struct ToLexemCase {
        std::string text, target;
        bool found;
        int64_t posAfter;  // CurrPos after the search
    };
    const std::vector<ToLexemCase> cases = {
        {"select :p from t", ":", true, 8},
        {"select x From t", "from", true, 13},  // identifiers compared upper-cased, no keyword lookup
        {"a 'from' b", "FROM", false, 10},      // strings never match
        {"a \"from\" b", "FROM", false, 10},    // nor quoted identifiers
        {"a -- from\nb", "FROM", false, 11},    // nor comments
        {"x 12 y", "12", true, 4},
        {"x ( y", "(", true, 3},  // a single symbol character
        {"x", "y", false, 1},
    };
    for (const auto& c : cases) {
        TSQLParser p(c.text);
        EXPECT_EQ(p.ToLexem(c.target), c.found) << c.text;
        EXPECT_EQ(p.CurrPos(), c.posAfter) << c.text;
    }
}

TEST(Lexer, ToLexemByCode) {
    TSQLParser p("select a from b where c");
    EXPECT_EQ(p.ToLexem(112), 112);
    std::string t;
    p.GetNext(t);
    EXPECT_EQ(t, "b");
    EXPECT_EQ(p.ToLexem(131), lxEnd);
}

TEST(Lexer, SetTextAndToBeginRestart) {
    TSQLParser p("a b");
    std::string t;
    p.GetNext(t);
    p.GetNext(t);
    p.ToBegin();
    p.GetNext(t);
    EXPECT_EQ(t, "a");
    p.SetText("select");
    EXPECT_EQ(p.GetNext(t), 138);
    EXPECT_EQ(p.GetNextCode(), lxEnd);
}

TEST(Lexer, ClauseOrder) {
    TSQLParser p("");
    struct C {
        int a, b, expected;
    };
    for (const C& c : std::vector<C>{
             {144, 131, -1}, {131, 144, 1}, {114, 114, 0}, {142, 125, -1}, {112, 144, -2}, {144, 112, -2}}) {
        EXPECT_EQ(p.CompareClauses(c.a, c.b), c.expected) << c.a << " " << c.b;
    }
    EXPECT_TRUE(p.IsClauseLexem(115));
    EXPECT_FALSE(p.IsClauseLexem(138));
    EXPECT_EQ(p.FindClauseIndex(144), 0);
    p.ClauseOrder.clear();
    EXPECT_THROW(p.FindClauseIndex(144), rtl::EAssertionFailed);
}

TEST(Lexer, SQLPredicates) {
    TSQLParser p("");
    EXPECT_TRUE(p.IsMacroAllowed(lxIdent));
    EXPECT_FALSE(p.IsMacroAllowed(lxString));
    EXPECT_FALSE(p.IsNumericMacroNameAllowed());
    EXPECT_TRUE(p.IsSelectModifier(100));
    EXPECT_FALSE(p.IsSelectModifier(138));
    EXPECT_TRUE(p.IsFunctionOrConst("NULL"));
    EXPECT_FALSE(p.IsFunctionOrConst("null"));
    EXPECT_FALSE(p.IsQuasiColumn("ROWID"));
}

}  // namespace
}  // namespace dac
