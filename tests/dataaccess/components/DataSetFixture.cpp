#include "DataSetFixture.h"

#include "tests/common/TestShell.h"

using namespace dac;

void DataSetTest::SetUp() {
    SessionTest::SetUp();
    std::string rows;
    for (int i = 1; i <= 60; ++i)
        rows +=
            (i > 1 ? "," : "") + std::string("(") + std::to_string(i) + ", 'item " + std::to_string(i) + "')";
    dbExec(
        "INSERT INTO item(id, name) VALUES " + rows +
        ";"
        "CREATE TABLE calls(n NUMBER(9,0));"
        "CREATE TABLE pair(a NUMBER(9,0), b VARCHAR2(10), c DATE);"
        "INSERT INTO pair VALUES (1, 'one', '2024-05-06 07:08:09');"
        // PROCEDURE get_rows(P_FROM IN NUMBER, P_CUR OUT SYS_REFCURSOR)
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'get_rows', 'PROCEDURE', "
        "'INSERT INTO calls VALUES (1); OPEN :P_CUR FOR SELECT id, name FROM item WHERE id > :P_FROM "
        "ORDER BY id');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'get_rows', 1, 'P_FROM', 'NUMBER', 'IN'), ('', 'get_rows', 2, 'P_CUR', 'REF CURSOR', 'OUT');"
        // PROCEDURE get_pair(P_CUR OUT SYS_REFCURSOR)
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'get_pair', 'PROCEDURE', "
        "'INSERT INTO calls VALUES (2); OPEN :P_CUR FOR SELECT a, b, c FROM pair');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'get_pair', 1, 'P_CUR', 'REF CURSOR', 'OUT');"
        // FUNCTION item_count(P_ABOVE IN NUMBER) RETURN NUMBER
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'item_count', 'FUNCTION', "
        "'SELECT count(*) AS RESULT FROM item WHERE id > :P_ABOVE');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'item_count', 0, NULL, 'NUMBER', 'OUT'), ('', 'item_count', 1, 'P_ABOVE', 'NUMBER', 'IN');"
        // PROCEDURE echo(P_INT IN NUMBER, P_NUM IN NUMBER, P_STR IN VARCHAR2, P_DATE IN DATE,
        //                O_INT OUT NUMBER, O_NUM OUT NUMBER, O_STR OUT VARCHAR2, O_DATE OUT DATE)
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'echo', 'PROCEDURE', "
        "'SELECT :P_INT AS O_INT, :P_NUM AS O_NUM, :P_STR AS O_STR, :P_DATE AS O_DATE');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction, data_length) "
        "VALUES ('', 'echo', 1, 'P_INT', 'NUMBER', 'IN', NULL), ('', 'echo', 2, 'P_NUM', 'NUMBER', 'IN', "
        "NULL),"
        "('', 'echo', 3, 'P_STR', 'VARCHAR2', 'IN', 100), ('', 'echo', 4, 'P_DATE', 'DATE', 'IN', NULL),"
        "('', 'echo', 5, 'O_INT', 'NUMBER', 'OUT', NULL), ('', 'echo', 6, 'O_NUM', 'NUMBER', 'OUT', NULL),"
        "('', 'echo', 7, 'O_STR', 'VARCHAR2', 'OUT', 100), ('', 'echo', 8, 'O_DATE', 'DATE', 'OUT', NULL);");
}

std::unique_ptr<TOraStoredProc> DataSetTest::newProc(TOraSession* session, const std::string& name) {
    auto p = std::make_unique<TOraStoredProc>();
    p->SetSession(session);
    p->SetStoredProcName(name);
    return p;
}

std::unique_ptr<TOraQuery> DataSetTest::newQuery(TOraSession* session, const std::string& text) {
    auto q = std::make_unique<TOraQuery>();
    q->SetSession(session);
    q->SQL().SetText(text);
    return q;
}

TOraParam* DataSetTest::Declare(TOraDataSet& ds, const std::string& name, db::TFieldType type,
                                db::TParamType direction) {
    auto* p = static_cast<TOraParam*>(ds.Params().Add());
    p->SetName(name);
    p->SetDataType(type);
    p->SetParamType(direction);
    return p;
}

std::vector<int> DataSetTest::ReadIds(TOraDataSet& ds, const char* field) {
    std::vector<int> ids;
    while (!ds.Eof()) {
        ids.push_back(ds.FieldByName(field)->AsInteger());
        ds.Next();
    }
    return ids;
}

std::vector<std::string> DataSetTest::Sqlite3(const std::string& sql) {
    std::string out;
    const int status = testshell::RunCommand(
        "sqlite3 -batch " + testshell::ShellQuote(db_) + " " + testshell::ShellQuote(sql), &out);
    EXPECT_EQ(0, status) << out;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(out.substr(start, end - start));
    return lines;
}

std::vector<std::string> DataSetTest::Column(db::TDataSet& ds, const char* field) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next())
        out.push_back(ds.FieldByName(field)->IsNull() ? "<null>"
                                                      : std::string(ds.FieldByName(field)->AsString()));
    return out;
}

std::vector<int> DataSetTest::Range(int from, int to) {
    std::vector<int> r;
    for (int i = from; i <= to; ++i) r.push_back(i);
    return r;
}

int DataSetTest::Calls() {
    return static_cast<int>(dbTexts("SELECT n FROM calls").size());
}
