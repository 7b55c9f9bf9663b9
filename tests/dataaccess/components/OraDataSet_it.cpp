// Datasets checked against the sqlite3 tool on the stand-in's database file: the rows of a REF
// CURSOR, a master/detail pair against the same join, and what a repeated call committed.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/Strings.h"

using namespace dac;

using DataSetIt = DataSetTest;

TEST_F(DataSetIt, TheRowsOfACursorAreTheRowsOfItsQuery) {
    auto s = newSession();
    for (bool fetchAll : {false, true}) {
        auto p = newProc(s.get(), "get_rows");
        Declare(*p, "P_FROM", db::ftInteger, db::ptInput)->SetAsInteger(3);
        Declare(*p, "P_CUR", db::ftCursor, db::ptOutput);
        p->SetFetchAll(fetchAll);
        p->Execute();
        std::vector<std::string> rows;
        for (; !p->Eof(); p->Next())
            rows.push_back(p->FieldByName("ID")->AsString() + "|" + p->FieldByName("NAME")->AsString());
        EXPECT_EQ(Sqlite3("SELECT id, name FROM item WHERE id > 3 ORDER BY id;"), rows) << fetchAll;
    }
}

TEST_F(DataSetIt, AMasterDetailPairGivesTheRowsOfTheJoin) {
    dbExec(
        "CREATE TABLE orders(oid NUMBER(9,0), customer VARCHAR2(20));"
        "CREATE TABLE lines(oid NUMBER(9,0), n NUMBER(9,0), qty NUMBER(9,0));"
        "INSERT INTO orders VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd');"
        "INSERT INTO lines VALUES (1, 1, 10), (1, 2, 11), (3, 1, 30), (4, 2, 42), (4, 1, 41), (9, 1, 90);");
    auto s = newSession();
    auto master = newQuery(s.get(), "SELECT oid, customer FROM orders ORDER BY oid");
    db::TDataSource source;
    source.SetDataSet(master.get());
    auto detail = newQuery(s.get(), "SELECT n, qty FROM lines WHERE oid = :OID ORDER BY n");
    detail->SetMasterSource(&source);
    master->Open();
    detail->Open();
    std::vector<std::string> rows;
    for (; !master->Eof(); master->Next())
        for (detail->First(); !detail->Eof(); detail->Next())
            rows.push_back(master->FieldByName("CUSTOMER")->AsString() + "|" +
                           detail->FieldByName("N")->AsString() + "|" +
                           detail->FieldByName("QTY")->AsString());
    EXPECT_EQ(Sqlite3("SELECT o.customer, l.n, l.qty FROM orders o JOIN lines l ON l.oid = o.oid "
                      "ORDER BY o.oid, l.n;"),
              rows);
    detail.reset();
    source.SetDataSet(nullptr);
}

TEST_F(DataSetIt, ACallRepeatedAfterALostConnectionCommitsOnce) {
    dbExec(
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'add_call', 'PROCEDURE', "
        "'INSERT INTO calls VALUES (:P_N)');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'add_call', 1, 'P_N', 'NUMBER', 'IN');");
    auto s = newSession();
    s->Options().SetLocalFailover(true);
    std::vector<TConnLostCause> lost;
    s->OnConnectionLost = [&](rtl::TObject*, rtl::TComponent*, TConnLostCause cause, TRetryMode& mode) {
        lost.push_back(cause);
        mode = rmReconnectExecute;
    };
    s->Connect();
    auto p = newProc(s.get(), "add_call");
    Declare(*p, "P_N", db::ftInteger, db::ptInput);
    p->ParamByName("P_N")->SetAsInteger(1);
    p->Execute();
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    p->ParamByName("P_N")->SetAsInteger(2);
    p->Execute();
    p->ParamByName("P_N")->SetAsInteger(3);
    p->Execute();
    EXPECT_EQ((std::vector<TConnLostCause>{clExecute}), lost) << "the second call met the lost connection";
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), Sqlite3("SELECT n FROM calls ORDER BY rowid;"));
}

// LOB columns reach the dataset's fields with the bytes the database file holds, across fetch
// blocks (each block's rows take the locators of the fetch stage) and with NULL and empty values.
TEST_F(DataSetIt, LobColumnsGiveTheStoredBytesAcrossFetchBlocks) {
    dbExec("CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body CLOB, data BLOB);");
    dbExec(
        "INSERT INTO doc VALUES (1, 'Привет, мир', X'00FF10'), (2, NULL, NULL), (3, '', X''),"
        " (4, 'second block', X'0102'), (5, 'Ёлка', X'FFFFFFFF00');");
    auto s = newSession();
    for (int fetchRows : {2, 25}) {
        auto q = newQuery(s.get(), "SELECT id, body, data FROM doc ORDER BY id");
        q->SetFetchRows(fetchRows);
        q->Open();
        std::vector<std::string> rows;
        for (; !q->Eof(); q->Next())
            rows.push_back(q->FieldByName("ID")->AsString() + "|" +
                           rtl::AnsiToUtf8(q->FieldByName("BODY")->AsString()) + "|" +
                           [](const std::string& b) {
                               return rtl::BinToHex(b.data(), b.size());
                           }(q->FieldByName("DATA")->AsString()));
        EXPECT_EQ(Sqlite3("SELECT id, ifnull(body, ''), hex(ifnull(data, '')) FROM doc ORDER BY id;"), rows)
            << fetchRows;
    }
}
