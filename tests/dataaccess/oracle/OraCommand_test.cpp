// The Oracle command against the stand-in server: the statement's states, binds of every scalar
// kind, queries described, defined and fetched, ROWIDs, errors and the mended binding faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "OraCommandFixture.h"
#include "platform/rtl/Strings.h"

using namespace dac;

class OraStatementTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(
            "CREATE TABLE t(id NUMBER(9,0) NOT NULL PRIMARY KEY, amount NUMBER(12,2), name VARCHAR2(40), "
            "born DATE, code RAW(4));"
            "INSERT INTO t VALUES (1, 10.5, 'one', '2001-02-03 04:05:06', x'01020304'),"
            "(2, NULL, NULL, NULL, NULL);");
    }
};

TEST_F(OraStatementTest, StatesFromPrepareToUnprepare) {
    auto command = Command("select id from t");
    EXPECT_EQ(csInactive, command->GetCursorState());
    EXPECT_FALSE(command->GetPrepared());
    command->Prepare();
    EXPECT_EQ(csPrepared, command->GetCursorState());
    EXPECT_TRUE(command->GetPrepared());
    EXPECT_EQ(SQL_SELECT, command->SQLType());
    OCIStmt* handle = static_cast<TOraCursor*>(command->GetCursor())->GetHandle();
    command->Prepare();  // prepared already: nothing happens
    EXPECT_EQ(handle, static_cast<TOraCursor*>(command->GetCursor())->GetHandle());
    command->BindParams();
    EXPECT_EQ(csBound, command->GetCursorState());
    command->Exec();
    EXPECT_EQ(csExecuted, command->GetCursorState());
    EXPECT_EQ(2u, FetchAll(*command).size());
    EXPECT_EQ(csFetched, command->GetCursorState());
    command->UnPrepare();
    EXPECT_EQ(csInactive, command->GetCursorState());
    EXPECT_EQ(SQL_UNKNOWN, command->SQLType());
    EXPECT_EQ(SQL_SELECT, command->GetSQLType());  // kept after the close
    command->Prepare();                            // and again
    EXPECT_EQ(csPrepared, command->GetCursorState());
}

TEST_F(OraStatementTest, ExecuteWhileExecutingDoesNothing) {
    auto command = Command("delete from t");
    command->Prepare();
    command->SetCursorState(csExecuting);
    command->Execute();
    EXPECT_EQ(csExecuting, command->GetCursorState());
    EXPECT_EQ(2u, dbTexts("SELECT id FROM t").size());
}

TEST_F(OraStatementTest, StatementTypesAndGuards) {
    struct Case {
        const char* sql;
        uint16_t type;
    } cases[] = {{"select 1 from dual", SQL_SELECT},
                 {"update t set id = id", SQL_UPDATE},
                 {"delete from t", SQL_DELETE},
                 {"insert into t(id) values (9)", SQL_INSERT},
                 {"begin null; end;", SQL_PLSQL},
                 {"declare x number; begin null; end;", SQL_PLSQL},
                 {"alter session set nls_date_format = 'DD'", SQL_UNKNOWN}};
    for (const Case& c : cases) {
        auto command = Command(c.sql);
        command->Prepare();
        EXPECT_EQ(c.type, command->SQLType()) << c.sql;
    }
    // Statement type 0 becomes the server's SQL function code after the execute.
    auto alter = Command("alter session set nls_date_format = 'DD'");
    alter->Prepare();
    alter->BindParams();
    alter->Exec();
    EXPECT_NE(SQL_UNKNOWN, alter->SQLType());

    TOCICommand lonely;
    EXPECT_EQ("Session is not defined", ExceptionText([&] { lonely.Prepare(); }));
    auto closed = newConnection();
    lonely.SetConnection(closed.get());
    EXPECT_EQ("Session is not connected", ExceptionText([&] { lonely.Prepare(); }));
    EXPECT_EQ("Cursor must be opened",
              ExceptionText([&] { Command("select 1 from dual")->InternalExecute(0, 0); }));
}

TEST_F(OraStatementTest, BlankTextIsPreparedAsOneBlank) {
    auto command = Command("   \r\n ");
    command->Prepare();
    EXPECT_EQ(csPrepared, command->GetCursorState());
}

TEST_F(OraStatementTest, ScalarBindsOfEveryKindReachTheTable) {
    Run("insert into t(id, amount, name, born, code) values (:id, :amount, :name, :born, :code)",
        [](TOCICommand& c) {
            c.GetParam(0)->SetValue(int32_t(3));
            c.GetParam(1)->SetDataType(dtFloat);
            c.GetParam(1)->SetValue(12.25);
            c.GetParam(2)->SetDataType(dtString);
            c.GetParam(2)->SetSize(40);
            c.GetParam(2)->SetValue(rtl::Utf8ToAnsi("Три"));
            c.GetParam(3)->SetDataType(dtDateTime);
            c.GetParam(3)->SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2020, 12, 31) + 0.5));
            c.GetParam(4)->SetDataType(dtVarBytes);
            c.GetParam(4)->SetSize(4);
            c.GetParam(4)->SetValue(rtl::BytesToVariant({0xAB, 0xCD}));
        });
    EXPECT_EQ(
        (std::vector<std::string>{"3|12.25|Три|2020-12-31 12:00:00|ABCD"}),
        dbTexts("SELECT id || '|' || amount || '|' || name || '|' || born || '|' || hex(code) FROM t WHERE "
                "id = 3"));
}

TEST_F(OraStatementTest, NullOfUnknownTypeBindsAsOneByteVarchar) {
    BindSpy spy;
    Run("insert into t(id, name) values (5, :name)");
    ASSERT_EQ(1u, spy.Calls.size());
    EXPECT_EQ(SQLT_CHR, spy.Calls[0].type);
    EXPECT_EQ(1, spy.Calls[0].size);
    EXPECT_EQ(":name", spy.Calls[0].placeholder);
    EXPECT_EQ((std::vector<std::string>{""}), dbTexts("SELECT ifnull(name, '') FROM t WHERE id = 5"));
    // A value of unknown type is refused.
    auto command = Command("insert into t(id, name) values (6, :name)");
    command->GetParam(0)->SetNull(false);
    EXPECT_EQ("Unknown data type of parameter name", ExceptionText([&] { command->Execute(); }));
}

TEST_F(OraStatementTest, AnInputStringBindsItsLengthAndAnUnchangedBindIsKept) {
    BindSpy spy;
    auto command = Command("select count(*) from t where name = :name");
    TOraParamDesc* name = command->GetParam(0);
    name->SetDataType(dtString);
    name->SetSize(40);
    name->SetParamType(ptInput);
    name->SetValue(AnsiString("one"));
    command->Prepare();
    command->BindParams();
    command->BindParams();  // the same size again: no second bind call
    ASSERT_EQ(1u, spy.Calls.size());
    EXPECT_EQ(4, spy.Calls[0].size);  // "one" and its terminator, not the 41 bytes of the item
    EXPECT_EQ(SQLT_STR, spy.Calls[0].type);
    command->Exec();
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1"}}), FetchAll(*command));
    name->SetValue(AnsiString("longer"));
    command->BindParams();
    EXPECT_EQ(2u, spy.Calls.size());
    EXPECT_EQ(7, spy.Calls[1].size);
}

TEST_F(OraStatementTest, QueryColumnsAreDescribedByTheirDeclaredTypes) {
    dbExec(
        "CREATE TABLE d(i9 NUMBER(9,0) NOT NULL, i10 NUMBER(10,0), n20 NUMBER(20,2), f FLOAT(126), s20 "
        "VARCHAR2(20), s100 VARCHAR2(100), s4000 VARCHAR2(4000), c CHAR(3), dt DATE, r RAW(16), r40 "
        "RAW(40));");
    auto describe = [&](bool longStrings, bool flatBuffers, bool numbers) {
        conn_->SetProp(prEnableNumbers, numbers);
        auto command = Command("select i9, i10, n20, f, s20, s100, s4000, c, dt, r, r40 from d");
        command->Prepare();
        command->BindParams();
        command->InternalExecute(OCI_DESCRIBE_ONLY, 0);
        EXPECT_EQ(csBound, command->GetCursorState());  // a describe-only execute changes no state
        std::vector<TOCIFieldDesc> fields(12);
        for (int i = 0; i < 11; ++i)
            EXPECT_TRUE(
                command->DescribeField(i + 1, fields[static_cast<size_t>(i)], longStrings, flatBuffers));
        EXPECT_FALSE(command->DescribeField(12, fields[11], longStrings, flatBuffers));
        return fields;
    };
    auto f = describe(true, true, false);
    EXPECT_EQ("I9", f[0].Name);
    EXPECT_EQ(1, f[0].ActualFieldNo);
    EXPECT_EQ(dtInteger, f[0].DataType);
    EXPECT_EQ(4, f[0].Size);
    EXPECT_TRUE(f[0].Required);
    EXPECT_EQ(dtFloat, f[1].DataType);
    EXPECT_FALSE(f[1].Required);
    EXPECT_EQ(dtFloat, f[2].DataType);
    EXPECT_EQ(20, f[2].Length);
    EXPECT_EQ(2, f[2].Scale);
    EXPECT_EQ(38, f[3].Length);  // FLOAT(126): ceiling(126 * 0.30103)
    EXPECT_EQ(dtString, f[4].DataType);
    EXPECT_EQ(21, f[4].Size);
    EXPECT_EQ(dtString, f[5].DataType);  // flat buffers keep it in the record
    EXPECT_EQ(dtString, f[7].DataType);
    EXPECT_TRUE(f[7].Fixed);
    EXPECT_EQ(dtDateTime, f[8].DataType);
    EXPECT_EQ(7, f[8].Size);
    EXPECT_EQ(dtVarBytes, f[9].DataType);
    EXPECT_EQ(18, f[9].Size);
    EXPECT_EQ(16, f[9].Length);

    f = describe(false, false, true);
    EXPECT_EQ(dtNumber, f[2].DataType);  // NUMBER(20,2) with prEnableNumbers
    EXPECT_EQ(dtString, f[4].DataType);  // below 32: inline
    EXPECT_EQ(dtStringRef, f[5].DataType);
    EXPECT_EQ(dtMemo, f[6].DataType);  // 4000 without LongStrings
    EXPECT_EQ(dtString, f[6].SubDataType);
    EXPECT_EQ(dtVarBytes, f[9].DataType);
    EXPECT_EQ(dtVarBytesRef, f[10].DataType);
}

TEST_F(OraStatementTest, ACommandsPrecisionsOverrideTheConnections) {
    dbExec("CREATE TABLE p(i10 NUMBER(10,0), n12 NUMBER(12,2), n20 NUMBER(20,0));");
    auto types = [&](const std::function<void(TOCICommand&)>& set) {
        auto command = Command("select i10, n12, n20 from p");
        if (set) set(*command);
        command->Prepare();
        command->BindParams();
        command->InternalExecute(OCI_DESCRIBE_ONLY, 0);
        std::vector<TDataType> out;
        for (int i = 1; i <= 3; ++i) {
            TOCIFieldDesc field;
            command->DescribeField(i, field, true, true);
            out.push_back(field.DataType);
        }
        return out;
    };
    EXPECT_EQ((std::vector<TDataType>{dtFloat, dtFloat, dtFloat}), types(nullptr));
    conn_->SetProp(prIntegerPrecision, 10);
    conn_->SetProp(prEnableBCD, true);
    conn_->SetProp(prBCDPrecision, AnsiString("12,2"));
    EXPECT_EQ((std::vector<TDataType>{dtInteger, dtBCD, dtFloat}), types(nullptr));
    EXPECT_EQ((std::vector<TDataType>{dtLargeint, dtFloat, dtLargeint}), types([](TOCICommand& c) {
                  c.SetProp(prIntegerPrecision, 9);
                  c.SetProp(prLargeintPrecision, 20);
                  c.SetProp(prBCDPrecision, AnsiString("12,1"));  // a scale of 1 no longer holds 2 places
              }));
}

TEST_F(OraStatementTest, FieldsAsStringDescribesNumbersDatesAndRawAsText) {
    conn_->SetProp(prDateFormat, AnsiString("DD.MM.YYYY HH24:MI:SS"));
    auto command = Command("select id, amount, born, code from t order by id");
    command->SetProp(prFieldsAsString, true);
    command->Prepare();
    command->BindParams();
    command->Exec();
    TOCIFieldDesc id, amount, born, code;
    ASSERT_TRUE(command->DescribeField(1, id, true, true));
    ASSERT_TRUE(command->DescribeField(2, amount, true, true));
    ASSERT_TRUE(command->DescribeField(3, born, true, true));
    ASSERT_TRUE(command->DescribeField(4, code, true, true));
    EXPECT_EQ(dtString, id.DataType);
    EXPECT_EQ(dtNumber, id.SubDataType);
    EXPECT_EQ(11, id.Length);  // precision 9 and two places for sign and point
    EXPECT_EQ(14, amount.Length);
    EXPECT_EQ(2, amount.Scale);
    EXPECT_EQ(dtString, born.DataType);
    EXPECT_EQ(21, born.Length);
    EXPECT_EQ(8, code.Length);  // two digits a byte
    EXPECT_EQ(9, code.Size);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "10.5", "03.02.2001 04:05:06", "01020304"},
                                                     {"<null>", "<null>", "<null>", "<null>"}}),
              [&] {
                  auto rows = FetchAll(*command);
                  rows[1][0] = "<null>";  // the second id is 2; only the NULLs matter here
                  return rows;
              }());
}

TEST_F(OraStatementTest, RowsComeInBlocksWithTheServersCumulativeCount) {
    std::string values;
    for (int i = 10; i < 70; ++i)
        values += (values.empty() ? "" : ",") + std::string("(") + std::to_string(i) + ")";
    dbExec("INSERT INTO t(id) VALUES " + values + ";");  // 62 rows in all
    auto command = Command("select id from t order by id");
    command->Prepare();
    command->BindParams();
    command->Exec();
    TOCIFieldDesc field;
    ASSERT_TRUE(command->DescribeField(1, field, true, true));
    std::vector<int32_t> ids(25);
    std::vector<int16_t> indicators(25);
    command->DefineArrayData(field, ids.data(), sizeof(int16_t), sizeof(int32_t), indicators.data());
    EXPECT_EQ(25, command->Fetch(25));
    EXPECT_EQ(csFetching, command->GetCursorState());
    EXPECT_EQ(25, command->FetchedRows());
    EXPECT_EQ(25, command->Fetch(25));
    EXPECT_EQ(33, ids[0]);              // 1, 2 and 10 to 32 came first
    EXPECT_EQ(12, command->Fetch(25));  // the last 12, with the end of the data
    EXPECT_EQ(csFetched, command->GetCursorState());
    EXPECT_EQ(62, command->FetchedRows());
    EXPECT_EQ(69, ids[11]);
    rtl::Variant rows;
    command->GetProp(prRowsProcessed, rows);
    EXPECT_EQ(62, rows.AsInteger());
}

TEST_F(OraStatementTest, TheFirstFetchCanExecuteTheQuery) {
    auto command = Command("select id, name from t order by id");
    command->Prepare();
    command->BindParams();
    command->InternalExecute(OCI_DESCRIBE_ONLY, 0);
    TOCIFieldDesc id, name;
    ASSERT_TRUE(command->DescribeField(1, id, true, true));
    ASSERT_TRUE(command->DescribeField(2, name, true, true));
    int32_t ids[5] = {};
    char names[5][41] = {};
    int16_t idInd[5], nameInd[5];
    command->DefineArrayData(id, ids, sizeof(int16_t), sizeof(int32_t), idInd);
    command->DefineArrayData(name, names, sizeof(int16_t), 41, nameInd);
    EXPECT_EQ(2, command->Fetch(5));  // executes with 5 iterations: both rows and the end
    EXPECT_EQ(csFetched, command->GetCursorState());
    EXPECT_EQ(2, ids[1]);
    EXPECT_STREQ("one", names[0]);
    EXPECT_EQ(-1, nameInd[1]);
}

TEST_F(OraStatementTest, AScrollableCursorStaysOpenAtTheEndOfTheData) {
    auto command = Command("select id from t order by id");
    command->SetProp(prScrollableCursor, true);
    command->Prepare();
    command->BindParams();
    command->Exec();
    TOCIFieldDesc field;
    ASSERT_TRUE(command->DescribeField(1, field, true, true));
    int32_t ids[5] = {};
    int16_t indicators[5] = {};
    command->DefineArrayData(field, ids, sizeof(int16_t), sizeof(int32_t), indicators);
    EXPECT_EQ(2, command->Fetch(5));
    EXPECT_EQ(csFetching, command->GetCursorState());  // the end of the data finishes nothing
    // It still moves: back to the first row.
    ids[0] = 0;
    command->Fetch(1, OCI_FETCH_ABSOLUTE, 1);
    EXPECT_EQ(1, ids[0]);
    EXPECT_EQ(csFetching, command->GetCursorState());
    // A forward-only cursor is finished by it.
    auto forward = Command("select id from t order by id");
    forward->Prepare();
    forward->BindParams();
    forward->Exec();
    ASSERT_TRUE(forward->DescribeField(1, field, true, true));
    forward->DefineArrayData(field, ids, sizeof(int16_t), sizeof(int32_t), indicators);
    EXPECT_EQ(2, forward->Fetch(5));
    EXPECT_EQ(csFetched, forward->GetCursorState());
}

TEST_F(OraStatementTest, TheStatementCacheHandsOutAndTakesBackStatements) {
    auto connection = newConnection();
    connection->SetProp(prStatementCache, true);
    connection->Connect("");
    auto command = std::make_unique<TOCICommand>();
    command->SetConnection(connection.get());
    command->SetProp(prStatementCache, true);
    command->SetSQLText("select name from t where id = :id");
    command->GetParam(0)->SetValue(int32_t(1));
    command->Prepare();
    EXPECT_TRUE(static_cast<TOraCursor*>(command->GetCursor())->FromStatementCache());
    command->BindParams();
    command->Exec();
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"one"}}), FetchAll(*command));
    command->UnPrepare();
    EXPECT_EQ(nullptr, static_cast<TOraCursor*>(command->GetCursor())->GetHandle());
}

TEST_F(OraStatementTest, NumbersTimestampsAndIntervalsBindFromTheirObjects) {
    dbExec("CREATE TABLE v(big NUMBER(18,0), n NUMBER, ts TIMESTAMP(3), iv INTERVAL DAY SECOND(6));");
    Run("insert into v values (:big, :n, :ts, :iv)", [](TOCICommand& c) {
        c.GetParam(0)->SetDataType(dtLargeint);
        c.GetParam(0)->SetItemAsLargeInt(1, 123456789012345678LL);
        c.GetParam(1)->SetDataType(dtNumber);
        auto* number = new TOraNumber();
        number->SetAsFloat(-12.5);
        c.GetParam(1)->SetObject(number);
        number->Free();
        c.GetParam(2)->SetDataType(dtTimeStamp);
        auto* timeStamp = new TOraTimeStamp(dtTimeStamp);
        timeStamp->Construct(2021, 3, 4, 5, 6, 7, 890000000);
        c.GetParam(2)->SetObject(timeStamp);
        timeStamp->Free();
        c.GetParam(3)->SetDataType(dtIntervalDS);
        auto* interval = new TOraInterval(dtIntervalDS);
        interval->SetAsString("+01 02:03:04.500000");
        c.GetParam(3)->SetObject(interval);
        interval->Free();
    });
    EXPECT_EQ((std::vector<std::string>{"123456789012345678|-12.5|2021-03-04 05:06:07.890000000"}),
              dbTexts("SELECT big || '|' || n || '|' || ts FROM v"));
    EXPECT_EQ(1u, dbTexts("SELECT iv FROM v WHERE iv IS NOT NULL").size());
}

TEST_F(OraStatementTest, ATableParameterBindsAllItsElements) {
    BindSpy spy;
    auto command = Command("begin pkg.take(:list); end;");
    TOraParamDesc* list = command->GetParam(0);
    list->SetDataType(dtString);
    list->SetSize(10);
    list->SetTable(true);
    list->SetLength(3);
    list->SetParamType(ptInput);
    for (int i = 1; i <= 3; ++i) list->SetItemAsString(i, std::string(static_cast<size_t>(i), 'a'));
    command->Prepare();
    command->BindParams();
    ASSERT_EQ(1u, spy.Calls.size());
    EXPECT_EQ(3u, spy.Calls[0].maxElements);
    EXPECT_EQ(11, spy.Calls[0].size);  // each element at its full item size
    EXPECT_EQ(3u, *list->GetElementCountPtr());
}

TEST_F(OraStatementTest, AQueryWithoutRowsIsNoError) {
    EXPECT_TRUE(Query("select id from t where id < 0").empty());
}

TEST_F(OraStatementTest, InsertKeepsTheRowIdOfItsRow) {
    auto command = Command("insert into t(id) values (7)");
    command->SetProp(prGetRowId, true);
    command->Prepare();
    command->BindParams();
    command->Exec();
    AnsiString rowId;
    command->GetRowId(rowId);
    EXPECT_EQ(18u, rowId.size());
    command->UnPrepare();
    AnsiString kept;
    command->GetRowId(kept);
    EXPECT_EQ(rowId, kept);
    // A query has none.
    auto query = Command("select id from t");
    query->Prepare();
    query->BindParams();
    query->Exec();
    query->GetRowId(rowId);
    EXPECT_EQ("", rowId);
}

TEST_F(OraStatementTest, AParseErrorKeepsItsOffsetInTheCommandsOwnText) {
    auto command = Command("select id\r\nfrom t\r\nwhere ) id");
    try {
        command->Execute();
        FAIL() << "no error";
    } catch (const EOraError&) {
    }
    rtl::Variant offset;
    command->GetProp(prErrorOffset, offset);
    EXPECT_EQ(AnsiString(")"), AnsiString(1, command->SQL()[static_cast<size_t>(offset.AsInteger())]));
    EXPECT_EQ(csInactive, command->GetCursorState());  // not prepared before: closed again
}

TEST_F(OraStatementTest, AFailedExecuteLeavesTheStateItFound) {
    auto command = Command("insert into t(id) values (1)");  // the key exists
    command->Prepare();
    command->BindParams();
    EXPECT_EQ(1, OraErrorCode([&] { command->Exec(); }));
    EXPECT_EQ(csBound, command->GetCursorState());
}

TEST_F(OraStatementTest, AutoCommitCommitsOnlyWhenBothSidesAskForIt) {
    // With the connection's auto-commit the statement commits on success ...
    Run("update t set name = 'auto' where id = 2");
    EXPECT_EQ((std::vector<std::string>{"auto"}), dbTexts("SELECT name FROM t WHERE id = 2"));
    // ... without it the change waits for the transaction.
    conn_->SetProp(prAutoCommit, false);
    Run("update t set name = 'manual' where id = 2");
    EXPECT_EQ((std::vector<std::string>{"auto"}), dbTexts("SELECT name FROM t WHERE id = 2"));
    conn_->SetProp(prAutoCommit, true);
    auto command = Command("update t set name = 'cmd' where id = 1");
    command->SetProp(prAutoCommit, false);
    command->Execute();
    dac::OCITransRollback(conn_->GetSvcCtx(), conn_->GetErrorHandle(), 0);
    EXPECT_EQ((std::vector<std::string>{"one", "auto"}), dbTexts("SELECT name FROM t ORDER BY id"));
}

TEST_F(OraStatementTest, ArrayDmlBindsEveryIteration) {
    auto command = Command("insert into t(id, name) values (:id, :name)");
    TOraParamDesc* id = command->GetParam(0);
    TOraParamDesc* name = command->GetParam(1);
    id->SetDataType(dtInteger);
    name->SetDataType(dtString);
    name->SetSize(10);
    id->SetLength(3);
    name->SetLength(3);
    for (int i = 1; i <= 3; ++i) {
        id->SetItemAsInteger(i, 100 + i);
        if (i != 2) name->SetItemAsString(i, std::string(static_cast<size_t>(i), 'x'));
    }
    command->Execute(3);
    EXPECT_EQ(3, command->RowsProcessed());
    EXPECT_EQ((std::vector<std::string>{"101:x", "102:", "103:xxx"}),
              dbTexts("SELECT id || ':' || ifnull(name, '') FROM t WHERE id > 100 ORDER BY id"));
    // Fewer items than iterations is refused before anything runs.
    EXPECT_EQ("id parameter must be array with length 4", ExceptionText([&] { command->Execute(4); }));
}

// ---- mended faults -----------------------------------------------------------------------------

namespace {

decltype(dac::OCIStmtExecute) realExecute = nullptr;
sb4 infoCode = 28002;

// The server's answer turned into success with information.
sword ExecuteWithInfo(OCISvcCtx* svc, OCIStmt* stmt, OCIError* err, ub4 iters, ub4 rowOff,
                      const OCISnapshot* in, OCISnapshot* out, ub4 mode) {
    const sword status = realExecute(svc, stmt, err, iters, rowOff, in, out, mode);
    return status == OCI_SUCCESS ? OCI_SUCCESS_WITH_INFO : status;
}

sword InfoRecord(void*, ub4 record, OraText*, sb4* code, OraText* buffer, ub4 size, ub4) {
    if (record != 1) return OCI_NO_DATA;
    *code = infoCode;
    std::snprintf(reinterpret_cast<char*>(buffer), size, "ORA-%05d: a warning\n", static_cast<int>(infoCode));
    return OCI_SUCCESS;
}

}  // namespace

TEST_F(OraStatementTest, SuccessWithInformationGoesToTheInfoHookAndCountsAsSuccess) {
    std::vector<int32_t> infos;
    conn_->OnInfoMessage = [&](EOraError& e) { infos.push_back(e.ErrorCode); };
    auto command = Command("update t set name = :name where id = 2");
    command->GetParam(0)->SetValue(AnsiString("info"));
    {
        EntrySwap<decltype(dac::OCIStmtExecute)> execute(dac::OCIStmtExecute, &ExecuteWithInfo);
        realExecute = execute.Saved();
        EntrySwap<decltype(dac::OCIErrorGet)> records(dac::OCIErrorGet, &InfoRecord);
        infoCode = 28002;
        command->Execute();  // no piecewise transfer starts, nothing is raised
        EXPECT_EQ(1, command->RowsProcessed());
        // ORA-24344, success with a compilation error, is an error all the same.
        infoCode = 24344;
        EXPECT_EQ(24344, OraErrorCode([&] { command->Execute(); }));
    }
    EXPECT_EQ((std::vector<int32_t>{28002}), infos);
    EXPECT_EQ((std::vector<std::string>{"info"}), dbTexts("SELECT name FROM t WHERE id = 2"));  // committed
}

TEST_F(OraStatementTest, ARawOutputNeverGetsMoreThanItsItemHolds) {
    dbExec(
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'get_code', 'PROCEDURE', "
        "'SELECT x''0102030405060708'' AS P_CODE');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'get_code', 1, 'P_CODE', 'RAW', 'OUT');");
    BindSpy spy;
    auto command = Command("begin get_code(:P_CODE); end;");
    TOraParamDesc* code = command->GetParam(0);
    code->SetDataType(dtVarBytes);
    code->SetParamType(ptOutput);
    code->SetSize(4);  // an item of 4 bytes after its length cell
    // The bind offers 4 bytes, so the server refuses the 8 it has instead of writing past the item.
    EXPECT_EQ(6502, OraErrorCode([&] { command->Execute(); }));
    ASSERT_EQ(1u, spy.Calls.size());
    EXPECT_EQ(4, spy.Calls[0].size);
    code->SetSize(8);
    command->Execute();
    EXPECT_EQ((rtl::TBytes{1, 2, 3, 4, 5, 6, 7, 8}), rtl::VariantToBytes(code->GetValue()));
}

TEST_F(OraStatementTest, ARawInputLongerThanTheServerTakesIsRefusedNotCut) {
    auto command = Command("insert into t(id, code) values (8, :code)");
    TOraParamDesc* code = command->GetParam(0);
    code->SetDataType(dtVarBytes);
    code->SetParamType(ptInput);
    code->SetSize(3000);
    code->SetValue(rtl::BytesToVariant(rtl::TBytes(2500, 0x5A)));
    EXPECT_EQ("Value of parameter code is longer than 2000 bytes",
              ExceptionText([&] { command->Execute(); }));
    EXPECT_TRUE(dbTexts("SELECT id FROM t WHERE id = 8").empty());
    code->SetValue(rtl::BytesToVariant(rtl::TBytes(2000, 0x5A)));
    command->Execute();
    EXPECT_EQ((std::vector<std::string>{"2000"}), dbTexts("SELECT length(code) FROM t WHERE id = 8"));
}

TEST_F(OraStatementTest, AStringLongerThanTheServerTakesIsRefusedAndLeftAsItWas) {
    conn_->SetProp(prCharLength, 2);  // a multi-byte database: the 4000-byte limit counts
    auto command = Command("insert into t(id, name) values (9, :name)");
    TOraParamDesc* name = command->GetParam(0);
    name->SetDataType(dtString);
    name->SetParamType(ptInput);
    name->SetSize(5000);
    const AnsiString value(4500, 'w');
    name->SetValue(value);
    EXPECT_EQ("Value of parameter name is longer than 4000 characters",
              ExceptionText([&] { command->Execute(); }));
    EXPECT_EQ(value, name->GetValue().AsString());  // nothing was cut in the caller's value
    EXPECT_TRUE(dbTexts("SELECT id FROM t WHERE id = 9").empty());
    // An output of the same size is only narrowed.
    auto out = Command("begin select 'abc' into :v from dual; end;");
    out->GetParam(0)->SetDataType(dtString);
    out->GetParam(0)->SetParamType(ptOutput);
    out->GetParam(0)->SetSize(5000);
    BindSpy spy;
    out->Execute();
    ASSERT_EQ(1u, spy.Calls.size());
    EXPECT_EQ(4001, spy.Calls[0].size);
    EXPECT_EQ("abc", out->GetParam(0)->GetValue().AsString());
}
