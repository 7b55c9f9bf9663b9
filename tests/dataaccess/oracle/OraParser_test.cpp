#include "dataaccess/oracle/OraParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dataaccess/core/LexemTestSupport.h"

namespace dac {
namespace {

std::vector<Lexem> Lex(const std::string& text, bool keepQuotes = false) {
    TOraParser p(text);
    p.KeepQuotes = keepQuotes;
    p.DecimalChar = ".";
    p.ToBegin();
    return LexAll(p);
}

TEST(OraParser, OracleWordsAndCodes) {
    const std::vector<std::pair<std::string, int>> words = {
        {"ALTER", 1000},   {"BODY", 1001},       {"CONNECT", 1002},   {"CREATE", 1003},   {"DECLARE", 1004},
        {"DEFINE", 1005},  {"DISCONNECT", 1006}, {"EXIT", 1008},      {"EXPLAIN", 1009},  {"FUNCTION", 1010},
        {"JAVA", 1011},    {"PACKAGE", 1012},    {"PARTITION", 1013}, {"PAUSE", 1014},    {"PROCEDURE", 1015},
        {"PROMPT", 1016},  {"QUIT", 1017},       {"REM", 1018},       {"REMARK", 1019},   {"REPLACE", 1020},
        {"START", 1021},   {"TRIGGER", 1022},    {"TYPE", 1023},      {"UNDEFINE", 1024}, {"WITH", 1026},
        {"WRAPPED", 1027}, {"SELECT", 138},      {"WHERE", 144},      {"END", 108}};
    for (const auto& [word, code] : words) {
        std::string lower = word;
        for (auto& ch : lower) ch = static_cast<char>(tolower(ch));
        EXPECT_EQ(Lex(lower), (std::vector<Lexem>{{code, word}})) << word;
    }
    // The shared list holds the 42 SQL words and the 27 Oracle ones, END twice.
    const TLexemList& list = OraKeywordLexems();
    EXPECT_EQ(list.Count(), 42 + 27);
    for (int i = 0; i < list.Count(); ++i) EXPECT_NE(list.Codes(i), 1025);
    for (int i = 1; i < list.Count(); ++i) EXPECT_LE(CompareLexems(list.Strings(i - 1), list.Strings(i)), 0);
}

TEST(OraParser, QuotedLiterals) {
    struct Case {
        std::string text;
        bool keep;
        std::vector<Lexem> expected;
    };
    const std::vector<Case> cases = {
        {"q'[it's]'", false, {{lxString, "it's"}}},
        {"Q'{a}b}'", false, {{lxString, "a}b"}}},
        {"q'x...x'", false, {{lxString, "..."}}},
        {"q'(a)' || q'<b>' || q'!c!'",
         true,
         {{lxString, "q'(a)'"},
          {lxSymbolChar, "|"},
          {lxSymbolChar, "|"},
          {lxString, "q'<b>'"},
          {lxSymbolChar, "|"},
          {lxSymbolChar, "|"},
          {lxString, "q'!c!'"}}},
        {"select q'[ :p &m from ]' from dual",
         false,
         {{138, "SELECT"}, {lxString, " :p &m from "}, {112, "FROM"}, {lxIdent, "dual"}}},
        {"\"q\"'x'", false, {{lxIdent, "\"q\""}, {lxString, "x"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Lex(c.text, c.keep), c.expected) << c.text;
}

TEST(OraParser, WrappedSourceTracking) {
    struct Step {
        std::string lexem;
        bool inWrapped;
    };
    for (bool skipBlanks : {true, false}) {
        TOraParser p(
            "create package body p Wrapped\n"
            "a000000\n"
            "abcd / 12\n"
            "/\n"
            "select 1 from dual");
        p.SkipBlanks = skipBlanks;
        p.ToBegin();
        std::vector<Step> steps;
        std::string t;
        for (int code; (code = p.GetNext(t)) != lxEnd;) {
            if (code == lxBlank) continue;
            steps.push_back({t, p.InWrappedBlock});
            if (t == "a000000") {
                EXPECT_FALSE(p.IsMacroAllowed(lxIdent));
            }
        }
        const std::vector<std::pair<std::string, bool>> expected = {
            {"CREATE", false}, {"PACKAGE", false}, {"BODY", false}, {"p", false},   {"WRAPPED", true},
            {"a000000", true}, {"abcd", true},     {"/", true},     {"12", true},   {"/", false},
            {"SELECT", false}, {"1", false},       {"FROM", false}, {"dual", false}};
        ASSERT_EQ(steps.size(), expected.size()) << skipBlanks;
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(steps[i].lexem, expected[i].first) << i;
            EXPECT_EQ(steps[i].inWrapped, expected[i].second) << i << " skipBlanks=" << skipBlanks;
        }
        EXPECT_TRUE(p.IsMacroAllowed(lxIdent));
    }
}

TEST(OraParser, ClauseOrderKnowsStartWithAndConnectBy) {
    TOraParser p("");
    EXPECT_EQ(p.ClauseOrder.size(), 10u);
    EXPECT_EQ(p.CompareClauses(144, 1021), -1);  // WHERE before START
    EXPECT_EQ(p.CompareClauses(1002, 1021), 1);  // CONNECT after START
    EXPECT_EQ(p.CompareClauses(1002, 114), -1);  // CONNECT before GROUP
    EXPECT_EQ(p.CompareClauses(111, 131), 1);    // FOR after ORDER
    EXPECT_EQ(p.CompareClauses(138, 131), -2);
}

TEST(OraParser, Predicates) {
    TOraParser p("");
    EXPECT_TRUE(p.IsNumericMacroNameAllowed());
    EXPECT_TRUE(p.IsSelectModifier(100));
    EXPECT_FALSE(p.IsMacroAllowed(lxString));
    for (const char* word : {"SYSDATE", "USER", "UID", "NULL"})
        EXPECT_TRUE(p.IsFunctionOrConst(word)) << word;
    for (const char* word : {"sysdate", "user", "ROWID", "ROWNUM"})
        EXPECT_FALSE(p.IsFunctionOrConst(word)) << word;
    EXPECT_TRUE(p.IsQuasiColumn("ROWID"));
    EXPECT_FALSE(p.IsQuasiColumn("rowid"));
}

}  // namespace
}  // namespace dac
