// Array DML through the Oracle command, checked afterwards with the sqlite3 tool on the stand-in's
// database file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

// The output of the sqlite3 tool for one query on the file.
std::string Sqlite3(const std::string& db, const std::string& sql) {
    const std::string command = "sqlite3 -batch '" + db + "' \"" + sql + "\" 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

}  // namespace

TEST_F(OraCommandTest, TenThousandRowsInOneArrayInsert) {
    dbExec(
        "CREATE TABLE bulk(id NUMBER(9,0) PRIMARY KEY, amount NUMBER(12,2), code VARCHAR2(12), day DATE);");
    constexpr int rows = 10000;
    auto command = Command("insert into bulk(id, amount, code, day) values (:id, :amount, :code, :day)");
    TOraParamDesc* id = command->GetParam(0);
    TOraParamDesc* amount = command->GetParam(1);
    TOraParamDesc* code = command->GetParam(2);
    TOraParamDesc* day = command->GetParam(3);
    id->SetDataType(dtInteger);
    amount->SetDataType(dtFloat);
    code->SetDataType(dtString);
    code->SetSize(12);
    day->SetDataType(dtDateTime);
    for (TOraParamDesc* p : {id, amount, code, day}) p->SetLength(rows);
    for (int i = 1; i <= rows; ++i) {
        id->SetItemAsInteger(i, i);
        if (i % 7 != 0) amount->SetItemAsFloat(i, i * 0.25);  // every seventh amount stays NULL
        code->SetItemAsString(i, "C" + std::to_string(i * 3));
        day->SetItemAsDateTime(i, rtl::EncodeDate(2024, 1, 1) + i % 366);
    }
    conn_->SetProp(prAutoCommit, false);
    command->Execute(rows);
    EXPECT_EQ(rows, command->RowsProcessed());
    // Nothing is visible before the commit.
    EXPECT_EQ("0\n", Sqlite3(db_, "SELECT count(*) FROM bulk"));
    dac::OCITransCommit(conn_->GetSvcCtx(), conn_->GetErrorHandle(), 0);
    EXPECT_EQ(
        "10000|1|10000|1428|10715714.5\n",
        Sqlite3(db_, "SELECT count(*), min(id), max(id), count(*) - count(amount), sum(amount) FROM bulk"));
    EXPECT_EQ("0\n", Sqlite3(db_, "SELECT count(*) FROM bulk WHERE code <> 'C' || (id * 3)"));
    EXPECT_EQ("2024-01-01 00:00:00|2024-12-31 00:00:00\n",
              Sqlite3(db_, "SELECT min(day), max(day) FROM bulk"));
    EXPECT_EQ("1|C3|2024-01-02 00:00:00\n", Sqlite3(db_, "SELECT id, code, day FROM bulk WHERE id = 1"));
}
