// Datasets on the stand-in: a table of 60 items, procedures that return cursors of them and count
// their calls, a function, and a procedure that echoes its inputs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SessionFixture.h"

class DataSetTest : public SessionTest {
protected:
    void SetUp() override;

    // A procedure component on the session with the declared parameters of proc.
    std::unique_ptr<dac::TOraStoredProc> newProc(dac::TOraSession* session, const std::string& name);
    std::unique_ptr<dac::TOraQuery> newQuery(dac::TOraSession* session, const std::string& text);
    // Adds a declared parameter.
    static dac::TOraParam* Declare(dac::TOraDataSet& ds, const std::string& name, db::TFieldType type,
                                   db::TParamType direction);
    // The IDs of the rows from the current one to the end.
    static std::vector<int> ReadIds(dac::TOraDataSet& ds, const char* field = "ID");
    static std::vector<int> Range(int from, int to);
    // The lines the sqlite3 tool prints for sql on the test database, "|" between columns.
    std::vector<std::string> Sqlite3(const std::string& sql);
    // The texts of a field of every row ("<null>" for null), from the first row on.
    static std::vector<std::string> Column(db::TDataSet& ds, const char* field);
    // Calls of the counting procedures so far.
    int Calls();
};
