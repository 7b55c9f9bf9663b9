// Stored procedures through the Oracle command on the stand-in server: the description of
// arguments, packages and overloads, the call block run end to end, REF CURSOR results, and the
// services' own calls on the exchange package of deploy/qel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

struct ParamShape {
    std::string name;
    uint8_t direction;
    TDataType type;
    int32_t size;
    bool hasDefault;
    bool operator==(const ParamShape&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ParamShape& p) {
    return os << "{" << p.name << ", dir " << int(p.direction) << ", type " << p.type << ", size " << p.size
              << ", default " << p.hasDefault << "}";
}

std::vector<ParamShape> Shapes(TOCICommand& command) {
    std::vector<ParamShape> shapes;
    for (int i = 0; i < command.GetParamCount(); ++i) {
        TOraParamDesc* p = command.GetParam(i);
        shapes.push_back(
            {p->GetName(), p->GetParamType(), p->GetDataType(), p->GetSize(), p->GetHasDefault()});
    }
    return shapes;
}

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

class OraProcTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(R"sql(
CREATE TABLE item(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(40), price NUMBER(12,2));
INSERT INTO item VALUES (1, 'bolt', 0.5), (2, 'nut', 0.25), (3, 'gear', 12);
CREATE TABLE calls(n NUMBER(9,0));
INSERT INTO calls VALUES (0);
INSERT INTO oci_procedure(package, name, overload, kind, body) VALUES
  ('SHOP', 'find', 0, 'PROCEDURE',
   'SELECT name AS P_NAME, price * :P_QTY AS P_TOTAL, :P_NOTE || ''!'' AS P_NOTE FROM item WHERE id = :P_ID'),
  ('SHOP', 'list', 0, 'PROCEDURE',
   'UPDATE calls SET n = n + 1; OPEN :P_CUR FOR SELECT id, name, price FROM item WHERE price >= :P_MIN ORDER BY id'),
  ('SHOP', 'price_of', 0, 'FUNCTION', 'SELECT price AS RESULT FROM item WHERE id = :P_ID'),
  ('SHOP', 'run', 1, 'PROCEDURE', 'UPDATE calls SET n = n + 1'),
  ('SHOP', 'run', 2, 'PROCEDURE', 'UPDATE calls SET n = n + :P_STEP'),
  ('', 'touch', 0, 'PROCEDURE', 'UPDATE calls SET n = n + 100');
INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction, data_length,
                         data_precision, data_scale, default_value) VALUES
  ('SHOP', 'find', 0, 1, 'P_ID', 'NUMBER', 'IN', NULL, 9, 0, NULL),
  ('SHOP', 'find', 0, 2, 'P_QTY', 'NUMBER', 'IN', NULL, NULL, NULL, '1'),
  ('SHOP', 'find', 0, 3, 'P_NAME', 'VARCHAR2', 'OUT', 40, NULL, NULL, NULL),
  ('SHOP', 'find', 0, 4, 'P_TOTAL', 'NUMBER', 'OUT', NULL, NULL, NULL, NULL),
  ('SHOP', 'find', 0, 5, 'P_NOTE', 'VARCHAR2', 'IN/OUT', 20, NULL, NULL, NULL),
  ('SHOP', 'list', 0, 1, 'P_MIN', 'NUMBER', 'IN', NULL, NULL, NULL, '0'),
  ('SHOP', 'list', 0, 2, 'P_CUR', 'REF CURSOR', 'OUT', NULL, NULL, NULL, NULL),
  ('SHOP', 'price_of', 0, 0, NULL, 'NUMBER', 'OUT', NULL, NULL, NULL, NULL),
  ('SHOP', 'price_of', 0, 1, 'P_ID', 'NUMBER', 'IN', NULL, 9, 0, NULL),
  ('SHOP', 'run', 2, 1, 'P_STEP', 'NUMBER', 'IN', NULL, 9, 0, NULL);
)sql");
    }

    int Calls() { return std::stoi(dbTexts("SELECT n FROM calls")[0]); }
};

TEST_F(OraProcTest, DescribesArgumentsDirectionsDefaultsAndCursors) {
    TOCICommand command;
    command.SetConnection(conn_.get());
    command.InitProcParams("shop.find", 0);
    EXPECT_EQ((std::vector<ParamShape>{{"P_ID", ptInput, dtInteger, 0, false},
                                       {"P_QTY", ptInput, dtFloat, 0, true},
                                       {"P_NAME", ptOutput, dtString, 40, false},
                                       {"P_TOTAL", ptOutput, dtFloat, 0, false},
                                       {"P_NOTE", ptInputOutput, dtString, 20, false}}),
              Shapes(command));
    command.InitProcParams("SHOP.LIST", 0);  // a new description replaces the list
    EXPECT_EQ((std::vector<ParamShape>{{"P_MIN", ptInput, dtFloat, 0, true},
                                       {"P_CUR", ptOutput, dtCursor, 0, false}}),
              Shapes(command));
    command.InitProcParams("Shop.Price_Of", 0);
    EXPECT_EQ((std::vector<ParamShape>{{"RESULT", ptResult, dtFloat, 0, false},
                                       {"P_ID", ptInput, dtInteger, 0, false}}),
              Shapes(command));
    command.InitProcParams("touch", 0);
    EXPECT_TRUE(Shapes(command).empty());
}

TEST_F(OraProcTest, OverloadsAndUnknownNames) {
    TOCICommand command;
    command.SetConnection(conn_.get());
    AnsiString sql;
    command.CreateProcCall("SHOP.RUN:2", true, sql);
    EXPECT_EQ((std::vector<ParamShape>{{"P_STEP", ptInput, dtInteger, 0, false}}), Shapes(command));
    EXPECT_EQ("begin\r  SHOP.RUN(:P_STEP);\rend;", sql);
    command.CreateProcCall("SHOP.RUN:1", true, sql);  // overload 1 is the first
    EXPECT_TRUE(Shapes(command).empty());
    EXPECT_EQ(4043, OraErrorCode([&] { command.CreateProcCall("SHOP.RUN:3", true, sql); }));
    EXPECT_EQ(4043, OraErrorCode([&] { command.CreateProcCall("SHOP.RUN:x", true, sql); }));
    EXPECT_EQ(4043, OraErrorCode([&] { command.CreateProcCall("SHOP.NOTHING", true, sql); }));
    EXPECT_NE(0, OraErrorCode([&] { command.CreateProcCall("NO_SUCH_PROC", true, sql); }));
    // A stand-alone procedure asked for an overload it has not: no arguments at all.
    command.CreateProcCall("TOUCH:2", true, sql);
    EXPECT_EQ("begin\r  TOUCH;\rend;", sql);
    TOCICommand lonely;
    EXPECT_EQ("Session is not defined", ExceptionText([&] { lonely.InitProcParams("touch", 0); }));
}

TEST_F(OraProcTest, SynonymsAreFollowedToTheirTargetAgainAndAgain) {
    dbExec(
        "INSERT INTO oci_synonym(owner, name, target_owner, target_name) VALUES "
        "('QEL', 'S1', 'QEL', 'S2'), ('QEL', 'S2', NULL, 'SHOP'), (NULL, 'POKE', NULL, 'TOUCH');");
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("s1.price_of", true, sql);
    EXPECT_EQ((std::vector<ParamShape>{{"RESULT", ptOutput, dtFloat, 0, false},
                                       {"P_ID", ptInput, dtInteger, 0, false}}),
              Shapes(*command));
    command->GetParam(1)->SetValue(int32_t(3));
    command->Execute();  // the server follows the synonyms too
    EXPECT_DOUBLE_EQ(12.0, command->GetParam(0)->GetValue().AsDouble());
    command->CreateProcCall("QEL.S1.PRICE_OF", true, sql);  // the package part of a three-part name
    EXPECT_EQ(2, command->GetParamCount());
    command->CreateProcCall("poke", true, sql);  // a public synonym of a procedure
    EXPECT_EQ("begin\r  poke;\rend;", sql);
    command->Execute();
    EXPECT_EQ(100, Calls());
}

TEST_F(OraProcTest, ACallWithOutputsAndADefaultLeftOutRunsEndToEnd) {
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("SHOP.FIND", true, sql);
    TOraParamDesc* qty = command->GetParam(1);
    qty->SetIsBound(false);  // the server's default of 1 applies
    command->GetParam(0)->SetValue(int32_t(3));
    command->GetParam(4)->SetValue(AnsiString("hi"));
    command->CreateProcCall("SHOP.FIND", false, sql);
    EXPECT_EQ(
        "begin\r  SHOP.FIND(P_ID => :P_ID, P_NAME => :P_NAME, P_TOTAL => :P_TOTAL, P_NOTE => :P_NOTE);\rend;",
        sql);
    command->Execute();
    EXPECT_EQ("gear", command->GetParam(2)->GetValue().AsString());
    EXPECT_DOUBLE_EQ(12.0, command->GetParam(3)->GetValue().AsDouble());
    EXPECT_EQ("hi!", command->GetParam(4)->GetValue().AsString());
    EXPECT_EQ(1, command->RowsProcessed());  // a block that ran
    // With the quantity bound the call is positional again and uses it.
    qty->SetIsBound(true);
    qty->SetValue(4.0);
    command->CreateProcCall("SHOP.FIND", false, sql);
    command->Execute();
    EXPECT_DOUBLE_EQ(48.0, command->GetParam(3)->GetValue().AsDouble());
}

TEST_F(OraProcTest, AFunctionResultComesBackThroughItsOutputBind) {
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("SHOP.PRICE_OF", true, sql);
    EXPECT_EQ("begin\r  :RESULT := SHOP.PRICE_OF(:P_ID);\rend;", sql);
    EXPECT_EQ(ptOutput, command->GetParam(0)->GetParamType());
    EXPECT_TRUE(command->GetParam(0)->GetIsResult());
    command->GetParam(1)->SetValue(int32_t(2));
    command->Execute();
    EXPECT_DOUBLE_EQ(0.25, command->GetParam(0)->GetValue().AsDouble());
    // An error of the procedure reaches the caller with its number.
    command->GetParam(1)->SetValue(int32_t(99));
    EXPECT_EQ(1403, OraErrorCode([&] { command->Execute(); }));
}

TEST_F(OraProcTest, ARefCursorResultIsFetchedThroughTheCommand) {
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("SHOP.LIST", true, sql);
    command->GetParam(0)->SetValue(0.4);
    command->Prepare();
    command->BindParams();
    command->Exec();
    TOraCursor* result = command->GetParam(1)->GetAsCursor();
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(csExecuted, result->State.load());
    EXPECT_EQ(result,
              command->GetNextCursor() == nullptr ? result : nullptr);  // the own cursor is no parameter
    command->SetCursor(result);
    EXPECT_FALSE(command->IsOwnCursor());
    EXPECT_TRUE(command->IsCursorOpen());
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "bolt", "0.5"}, {"3", "gear", "12"}}),
              FetchAll(*command));
    command->SetCursor(nullptr);
    EXPECT_TRUE(command->IsOwnCursor());
}

TEST_F(OraProcTest, ABlockWithSideEffectsRunsOnceWhenItsCursorIsDescribed) {
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("SHOP.LIST", true, sql);
    command->GetParam(0)->SetValue(0.0);
    command->Prepare();
    command->BindParams();
    // Describing the block before it ran is refused: it would have to run for it.
    TOCIFieldDesc field;
    EXPECT_EQ("A PL/SQL block is described through the cursor it returns, after it ran",
              ExceptionText([&] { command->DescribeField(1, field, true, true); }));
    // A describe-only execute runs nothing either.
    command->InternalExecute(OCI_DESCRIBE_ONLY, 0);
    EXPECT_EQ(0, Calls());
    command->Exec();
    EXPECT_EQ(1, Calls());
    // The columns come from the cursor the run returned; fetching does not run the block again.
    command->SetCursor(command->GetParam(1)->GetAsCursor());
    EXPECT_EQ(3u, FetchAll(*command).size());
    EXPECT_EQ(1, Calls());
}

TEST_F(OraProcTest, TheServerReceivesTheCallBlocksWithLineFeeds) {
    const std::string trace = dir_ + "/trace";
    setenv("DX_OCI_TRACE", trace.c_str(), 1);
    AnsiString sql;
    auto find = Command("");
    find->CreateProcCall("shop.find", true, sql);
    find->GetParam(0)->SetValue(int32_t(1));
    find->GetParam(1)->SetIsBound(false);
    find->GetParam(4)->SetValue(AnsiString("x"));
    find->CreateProcCall("shop.find", false, sql);
    find->Execute();
    auto list = Command("");
    list->CreateProcCall("shop.list", true, sql);
    list->GetParam(0)->SetValue(1.0);
    list->Execute();
    auto price = Command("");
    price->CreateProcCall("shop.price_of", true, sql);
    price->GetParam(1)->SetValue(int32_t(1));
    price->Execute();
    unsetenv("DX_OCI_TRACE");
    std::vector<std::string> received;
    std::ifstream in(trace, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t start = 0, end; (end = text.find('\x1e', start)) != std::string::npos; start = end + 1)
        received.push_back(text.substr(start, end - start));
    EXPECT_EQ((std::vector<std::string>{"begin\n  shop.find(P_ID => :P_ID, P_NAME => :P_NAME, P_TOTAL => "
                                        ":P_TOTAL, P_NOTE => :P_NOTE);\nend;",
                                        "begin\n  shop.list(:P_MIN, :P_CUR);\nend;",
                                        "begin\n  :RESULT := shop.price_of(:P_ID);\nend;"}),
              received);
}

// ---------------------------------------------------------------------------------------------
// The services' own calls

class OraServiceCallsTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(ReadSource("deploy/qel/schema.sql"));
        dbExec(ReadSource("deploy/qel/package.sql"));
        dbExec(
            "INSERT INTO zuv_param(name, value) VALUES ('ExportFolder', '/srv/zuv/out'), ('ComputerName', "
            "'qelhost');"
            "INSERT INTO db_version VALUES ('2.9.1.0', 'demo', '2024-01-01 00:00:00');"
            "INSERT INTO emitent VALUES (7, 1, 'Emitent 7', 1, NULL), (7, 2, 'Emitent 7/2', 0, 70);");
    }
};

TEST_F(OraServiceCallsTest, AProcedureWithTypedInputs) {
    // The data modules declare the parameters themselves and build the block without a description.
    auto command = Command("");
    auto* name = static_cast<TOraParamDesc*>(command->AddParam());
    name->SetName("P_PARAM");
    name->SetDataType(dtString);
    name->SetParamType(ptInput);
    name->SetSize(20);
    auto* value = static_cast<TOraParamDesc*>(command->AddParam());
    value->SetName("P_VALUE");
    value->SetDataType(dtString);
    value->SetParamType(ptOutput);
    value->SetSize(4000);
    AnsiString sql;
    command->CreateProcCall("ZUV_EXPORT_OUT_PACK.get_zuv_param", false, sql);
    for (const char* setting : {"ExportFolder", "computername"}) {
        name->SetValue(AnsiString(setting));
        command->Execute();
    }
    EXPECT_EQ("qelhost", value->GetValue().AsString());
    name->SetValue(AnsiString("NoSuchSetting"));
    command->Execute();
    EXPECT_TRUE(value->GetNull());
}

TEST_F(OraServiceCallsTest, AProcedureReturningARefCursor) {
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("ZUV_EXPORT_OUT_PACK.GET_EMITENT_LIST", true, sql);
    ASSERT_EQ(1, command->GetParamCount());
    EXPECT_EQ(dtCursor, command->GetParam(0)->GetDataType());
    command->Execute();
    command->SetCursor(command->GetParam(0)->GetAsCursor());
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"7", "1", "Emitent 7", "1", "<null>"},
                                                     {"7", "2", "Emitent 7/2", "0", "70"}}),
              FetchAll(*command));
}

TEST_F(OraServiceCallsTest, AFunction) {
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("ZUV_EXPORT_OUT_PACK.GET_ZUV_QEL_DB_VERSION", true, sql);
    ASSERT_EQ(1, command->GetParamCount());
    command->GetParam(0)->SetSize(20);
    command->Execute();
    EXPECT_EQ("2.9.1.0", command->GetParam(0)->GetValue().AsString());
}
