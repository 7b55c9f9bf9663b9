// The Oracle command's text work, without a server: line ends and error offsets, the parameter
// scan, the stored-procedure call block and the external type of each internal type.
#include <gtest/gtest.h>

#include "dataaccess/oracle/OraClasses.h"

using namespace dac;

namespace {

AnsiString Normalized(const AnsiString& sql) {
    AnsiString text;
    int noPosition = -1;
    NormalizeLineBreaks(sql, noPosition, text);
    return text;
}

int MappedOffset(const AnsiString& sql, int offset) {
    AnsiString text;
    NormalizeLineBreaks(sql, offset, text);
    return offset;
}

std::vector<std::string> ParamNames(TOCICommand& command) {
    std::vector<std::string> names;
    for (int i = 0; i < command.GetParamCount(); ++i) names.push_back(command.GetParam(i)->GetName());
    return names;
}

}  // namespace

TEST(OraLineBreaks, CarriageReturnsBecomeLineFeedsOutsideLiterals) {
    struct Case {
        const char* sql;
        const char* expected;
    } cases[] = {
        {"begin\r  x;\rend;", "begin\n  x;\nend;"},
        {"select 1\r\nfrom dual", "select 1\nfrom dual"},
        {"select 'a\rb' from dual\r", "select 'a\rb' from dual\r"},    // inside a literal, and the last one
        {"select 'it''s\r' x\rfrom t", "select 'it''s\r' x\nfrom t"},  // doubled quote
        {"select q'[a\r']b]' x\rfrom t", "select q'[a\r']b]' x\nfrom t"},
        {"select q'#a\r#' x\r", "select q'#a\r#' x\r"},
        {"-- it's\rselect 'a\rb'\r", "-- it's\nselect 'a\rb'\r"},  // a quote in a comment opens nothing
        {"/* it's */ 'a\r'\rx", "/* it's */ 'a\r'\nx"},
        // After WRAPPED quotes are not tracked: carriage returns in later literals go too.
        {"create procedure p wrapped\r'a\rb'\r;", "create procedure p wrapped\n'a\nb'\n;"},
        {"select unwrapped\r'a\rb' x", "select unwrapped\n'a\rb' x"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Normalized(c.sql)) << c.sql;
}

TEST(OraLineBreaks, ErrorOffsetsMapBackToTheCommandsOwnText) {
    // "select\r\n  x\r\nfrom" is sent as "select\n  x\nfrom": offset 9 (the x) is 10 in the original.
    const AnsiString sql = "select\r\n  x\r\nfrom";
    EXPECT_EQ(0, MappedOffset(sql, 0));
    EXPECT_EQ(6, MappedOffset(sql, 6));  // the CR LF pair, sent as its line feed
    EXPECT_EQ(10, MappedOffset(sql, 9));
    EXPECT_EQ(13, MappedOffset(sql, 11));  // past the second pair
    EXPECT_EQ(static_cast<int>(sql.size()), MappedOffset(sql, 15));
    // A literal keeps its CR, so it counts one for one.
    EXPECT_EQ(8, MappedOffset("x '\r\r' \ry", 8));
}

TEST(OraParseSQL, CollectsEachMarkerOnceAndLeavesTheTextAlone) {
    TOCICommand command;
    const AnsiString sql =
        "select :a, :B, :\"Mixed\", :1 from t where x = :A and y = ':c' -- :d\n and z := 1 /* :e */ and "
        ":select";
    command.SetSQLText(sql);
    EXPECT_EQ(sql, command.ParsedSQL());
    EXPECT_EQ((std::vector<std::string>{"a", "B", "Mixed", "1", "select"}), ParamNames(command));
    EXPECT_TRUE(command.GetParam(2)->QuotedName);
    EXPECT_FALSE(command.GetParam(0)->QuotedName);
    for (int i = 0; i < command.GetParamCount(); ++i) EXPECT_EQ(&command, command.GetParam(i)->Command);
}

TEST(OraParseSQL, TriggersAndCreateStatementsHaveNoParameters) {
    TOCICommand command;
    command.SetSQLText("create or replace procedure p is begin x := :new.a; end;");
    EXPECT_EQ(0, command.GetParamCount());
    command.SetSQLText("select :a from t; trigger :b");
    EXPECT_EQ((std::vector<std::string>{"a"}), ParamNames(command));
    // Without ParamCheck the list stays as it is.
    command.SetProp(prParamCheck, false);
    command.SetSQLText("select :x, :y from t");
    EXPECT_EQ((std::vector<std::string>{"a"}), ParamNames(command));
}

// ---------------------------------------------------------------------------------------------
// The call block

namespace {

TOraParamDesc* Add(TOCICommand& command, const char* name, uint8_t direction, TDataType type,
                   bool bound = true, bool hasDefault = false) {
    auto* p = static_cast<TOraParamDesc*>(command.AddParam());
    p->SetName(name);
    p->SetParamType(direction);
    p->SetDataType(type);
    p->SetIsBound(bound);
    p->SetHasDefault(hasDefault);
    return p;
}

AnsiString Block(std::initializer_list<const char*> lines) {
    AnsiString text;
    for (const char* line : lines) {
        if (!text.empty()) text += '\r';
        text += line;
    }
    return text;
}

AnsiString Call(TOCICommand& command, const AnsiString& name) {
    AnsiString sql;
    command.CreateProcCall(name, false, sql);
    EXPECT_EQ(sql, command.SQL());
    EXPECT_EQ(sql, command.ParsedSQL());
    return sql;
}

}  // namespace

TEST(OraProcCall, NamedNotationWhenALeftOutArgumentComesFirst) {
    TOCICommand command;
    TOraParamDesc* result = Add(command, "RESULT", ptResult, dtFloat);
    Add(command, "P_ID", ptInput, dtInteger);
    Add(command, "P_FLAG", ptInputOutput, dtBoolean);
    Add(command, "P_OPT", ptInput, dtString, false, true);
    Add(command, "P_CUR", ptOutput, dtCursor);
    EXPECT_EQ(Block({"declare", "  v_P_FLAG boolean := sys.DIUTIL.INT_TO_BOOL(:P_FLAG);", "begin",
                     "  :RESULT := PKG.F(P_ID => :P_ID, P_FLAG => v_P_FLAG, P_CUR => :P_CUR);",
                     "  :P_FLAG := sys.DIUTIL.BOOL_TO_INT(v_P_FLAG);", "end;"}),
              Call(command, "PKG.F"));
    EXPECT_EQ(ptOutput, result->GetParamType());
    EXPECT_TRUE(result->GetIsResult());
    // Built again, the result is found by its flag.
    EXPECT_EQ(Call(command, "PKG.F"), Call(command, "PKG.F"));
}

TEST(OraProcCall, BlockShapes) {
    struct Case {
        const char* what;
        std::function<void(TOCICommand&)> params;
        const char* name;
        AnsiString expected;
    } cases[] = {
        {"no parameters", [](TOCICommand&) {}, "PKG.RUN", Block({"begin", "  PKG.RUN;", "end;"})},
        {"all bound: positional",
         [](TOCICommand& c) {
             Add(c, "P_A", ptInput, dtInteger);
             Add(c, "P_B", ptInput, dtString);
             Add(c, "P_CUR", ptOutput, dtCursor);
         },
         "pkg.get_list", Block({"begin", "  pkg.get_list(:P_A, :P_B, :P_CUR);", "end;"})},
        {"a default left out at the end stays positional",
         [](TOCICommand& c) {
             Add(c, "P_A", ptInput, dtInteger);
             Add(c, "P_B", ptInput, dtInteger, false, true);
         },
         "P", Block({"begin", "  P(:P_A);", "end;"})},
        {"an unbound input without a default still takes part",
         [](TOCICommand& c) {
             Add(c, "P_A", ptInput, dtInteger, false, false);
             Add(c, "P_B", ptInput, dtInteger);
         },
         "P", Block({"begin", "  P(:P_A, :P_B);", "end;"})},
        {"a boolean function result",
         [](TOCICommand& c) {
             Add(c, "RESULT", ptResult, dtBoolean);
             Add(c, "P_X", ptInput, dtBoolean);
         },
         "F",
         Block({"declare", "  v_RESULT boolean;", "  v_P_X boolean := sys.DIUTIL.INT_TO_BOOL(:P_X);", "begin",
                "  v_RESULT := F(v_P_X);", "  :RESULT := sys.DIUTIL.BOOL_TO_INT(v_RESULT);", "end;"})},
    };
    for (const Case& c : cases) {
        TOCICommand command;
        c.params(command);
        EXPECT_EQ(c.expected, Call(command, c.name)) << c.what;
    }
}

TEST(OraProcCall, WithoutBindUnassignedParamsAnUnboundInputIsLeftOut) {
    TOCICommand command;
    command.SetProp(prBindUnassignedParams, false);
    Add(command, "P_A", ptInput, dtInteger, false, false);
    Add(command, "P_B", ptInput, dtInteger);
    EXPECT_EQ(Block({"begin", "  P(P_B => :P_B);", "end;"}), Call(command, "P"));
}

TEST(OraProcCall, KeepResultParamsLeavesTheResultDirection) {
    TOCICommand command;
    command.SetProp(prKeepResultParams, true);
    TOraParamDesc* result = Add(command, "RESULT", ptResult, dtString);
    Call(command, "F");
    EXPECT_EQ(ptResult, result->GetParamType());
    EXPECT_FALSE(result->GetIsResult());
}

TEST(OraProcCall, AColonFollowedByNoNumberBelongsToTheName) {
    TOCICommand command;
    EXPECT_EQ(Block({"begin", "  PKG.RUN;", "end;"}), Call(command, "PKG.RUN: 2 "));
    EXPECT_EQ(Block({"begin", "  PKG.RUN:x;", "end;"}), Call(command, "PKG.RUN:x"));
}

// ---------------------------------------------------------------------------------------------
// External types

TEST(OraExternalTypes, EachInternalTypeHasItsOCIType) {
    struct Case {
        TDataType type, sub;
        ub2 expected;
    } cases[] = {
        {dtSmallint, 0, SQLT_INT},
        {dtInteger, 0, SQLT_INT},
        {dtBoolean, 0, SQLT_INT},
        {dtFloat, 0, SQLT_FLT},
        {dtFloat, dtBDouble, SQLT_BDOUBLE},
        {dtDateTime, 0, SQLT_DAT},
        {dtLargeint, 0, SQLT_VNU},
        {dtNumber, 0, SQLT_VNU},
        {dtBlob, 0, SQLT_LBI},
        {dtMemo, 0, SQLT_LNG},
        {dtMemo, dtString, SQLT_STR},
        {dtWideMemo, dtNWideString, SQLT_STR},
        {dtString, 0, SQLT_STR},
        {dtWideStringRef, 0, SQLT_STR},
        {dtVarBytes, 0, SQLT_BIN},
        {dtTimeStamp, 0, SQLT_TIMESTAMP},
        {dtTimeStampLTZ, 0, SQLT_TIMESTAMP},
        {dtTimeStampTZ, 0, SQLT_TIMESTAMP_TZ},
        {dtIntervalYM, 0, SQLT_INTERVAL_YM},
        {dtIntervalDS, 0, SQLT_INTERVAL_DS},
        {dtCursor, 0, SQLT_RSET},
        {dtRowId, 0, SQLT_RDD},
        {dtOraClob, 0, SQLT_CLOB},
        {dtFixedChar, 0, SQLT_AVC},
        {dtUndefined, 0, SQLT_CHR},
        {dtXML, 0, SQLT_NTY},
    };
    const uint16_t saved = OCIVersion;
    OCIVersion = 11204;
    for (const Case& c : cases) EXPECT_EQ(c.expected, GetOraType8(c.type, c.sub, 11204)) << c.type;
    // BINARY_DOUBLE needs a 10g server as well as a 10g client.
    EXPECT_EQ(SQLT_FLT, GetOraType8(dtFloat, dtBFloat, 9204));
    for (TDataType unsupported : {dtWord, dtVariant, dtGuid, dtBytes})
        EXPECT_THROW(GetOraType8(unsupported, 0, 11204), rtl::Exception) << unsupported;
    OCIVersion = 8170;
    EXPECT_THROW(GetOraType8(dtTimeStamp, 0, 11204), rtl::Exception);
    EXPECT_THROW(GetOraType8(dtXML, 0, 11204), rtl::Exception);
    OCIVersion = saved;
    EXPECT_EQ(SQLT_CUR, GetOraType7(dtCursor, 0));
    EXPECT_THROW(GetOraType7(dtSmallint, 0), rtl::Exception);
    EXPECT_THROW(GetOraType7(dtWideMemo, 0), rtl::Exception);
}
