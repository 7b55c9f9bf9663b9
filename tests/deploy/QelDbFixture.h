// A demo Qel database made by scripts/make-qel-db, a session on it through the stand-in client, calls
// of the exchange package bound as the services bind them, and the sqlite3 tool to look at the rows.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/oci/oci.h"
#include "tests/common/TestShell.h"

// The demo database every test starts from: tiny, seed 7, history up to 2024-05-31, computer name
// "qelhost", demo folders under <dir>/zuv.
struct QelDemo {
    static const std::string& dir();   // a temporary folder, removed at the end
    static const std::string& base();  // the database file
};

// A cursor's rows as text (NULL as an empty text), with the column names the server described.
struct Rows {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> values;
    size_t size() const { return values.size(); }
    // The value of a named column in row r; fails the test for an unknown name.
    std::string at(size_t r, const std::string& column) const;
};

struct OraDate {
    int year, month, day, hour = 0, minute = 0, second = 0;
};

class QelDbTest;

// A logon through the stand-in: server attach, session, service context.
struct OciLogon {
    OCIServer* srv = nullptr;
    OCISvcCtx* svc = nullptr;
    OCISession* ses = nullptr;
    sword begin(OCIEnv* env, OCIError* err, const std::string& server, const std::string& user,
                const std::string& password);
    void end(OCIError* err);
};

// One call of a stored procedure or function, written as the services write it
// ("begin\r  NAME(:P_A, :P_B);\rend;") with one bind per parameter in the order added.
class ProcCall {
public:
    ProcCall(QelDbTest& t, std::string name, bool function = false);
    ~ProcCall();
    ProcCall& text(const char* param, const std::string& v, sb4 size = 4001);  // SQLT_STR; "" binds NULL
    ProcCall& integer(const char* param, int v);                               // SQLT_INT
    ProcCall& number(const char* param, double v);                             // SQLT_FLT
    ProcCall& date(const char* param, OraDate v);                              // SQLT_DAT
    ProcCall& null(const char* param);                                         // NULL of type SQLT_STR
    ProcCall& outText(const char* param, sb4 size);
    ProcCall& outNumber(const char* param);  // read as an integer, as the services read error codes
    ProcCall& cursor(const char* param);
    // Prepares, binds and executes; OCI_SUCCESS or OCI_ERROR (see QelDbTest::errorText).
    sword run();
    std::string textOf(const char* param) const;
    bool isNull(const char* param) const;
    long long numberOf(const char* param) const;
    Rows rowsOf(const char* param);

private:
    struct Slot {
        std::string name;
        ub2 type = 0;
        bool out = false;
        std::vector<char> buf;
        sb2 ind = 0;
        OCIStmt* cursor = nullptr;
    };
    Slot& add(const char* param, ub2 type, size_t size, bool out);
    const Slot& find(const char* param) const;
    QelDbTest& t_;
    std::string name_;
    bool function_;
    std::deque<Slot> slots_;
    OCIStmt* stmt_ = nullptr;
};

class QelDbTest : public ::testing::Test {
public:
    OCIEnv* env_ = nullptr;
    OCIError* err_ = nullptr;
    OCISvcCtx* svc_ = nullptr;
    std::string errorText();
    sb4 errorCode();

protected:
    void SetUp() override;
    void TearDown() override;

    void commit();
    void rollback();
    // Runs SQL through the session (SAVEPOINT, ROLLBACK TO SAVEPOINT, queries of views).
    sword exec(const std::string& sql);
    Rows query(const std::string& sql);

    // The sqlite3 tool on the database file: rows of a query, columns joined by "|".
    std::vector<std::string> sqlite(const std::string& sql) const;
    std::string sqliteOne(const std::string& sql) const;  // first row; "" when there is none
    long long sqliteCount(const std::string& sql) const;
    // Several one-number queries in one run of the tool.
    std::vector<long long> sqliteCounts(const std::vector<std::string>& queries) const;

    // Registers a new package through add_entries_to_package and commits; answers its id.
    std::string registerPackage(const std::string& id = "{A0000000-0000-4000-8000-000000000001}");

    std::string db_;

private:
    OciLogon logon_;
};

using testshell::RunCommand;
using testshell::ShellQuote;
