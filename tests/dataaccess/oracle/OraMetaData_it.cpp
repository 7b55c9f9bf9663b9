// Oracle metadata against the sqlite3 tool: for a schema the tool itself creates, every metadata kind
// lists what the tool's own catalog shows (tables, columns with types, indexes, primary and foreign
// keys, procedures with their arguments).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "OraCommandFixture.h"
#include "tests/common/TestShell.h"
#include "tests/dataaccess/core/DataRows.h"

using namespace dac;
using test::DataRows;
using test::TextRows;

namespace {

struct Lines : rtl::TStringList {
    Lines(const std::vector<std::string>& lines = {}) {
        for (const auto& l : lines) Add(l);
    }
};

// Rows of "|"-separated values the tool prints for a query.
std::vector<std::vector<std::string>> Tool(const std::string& db, const std::string& sql) {
    std::string out;
    EXPECT_EQ(
        testshell::RunCommand(
            "sqlite3 -separator '|' " + testshell::ShellQuote(db) + " " + testshell::ShellQuote(sql), &out),
        0)
        << out;
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> row;
        size_t start = 0;
        for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
            row.push_back(line.substr(start, bar - start));
        row.push_back(line.substr(start));
        rows.push_back(row);
    }
    return rows;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

class OraMetaDataToolTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        const std::string script =
            "CREATE TABLE region(code CHAR(2) PRIMARY KEY, title VARCHAR2(40) NOT NULL);"
            "CREATE TABLE shop(id NUMBER(9,0) PRIMARY KEY, region CHAR(2) REFERENCES region(code), name "
            "VARCHAR2(60) UNIQUE, opened DATE, area NUMBER(8,2), logo BLOB, memo CLOB, tag RAW(16));"
            "CREATE TABLE sale(shop_id NUMBER(9,0) NOT NULL REFERENCES shop(id), day DATE NOT NULL, amount "
            "NUMBER(12,2), PRIMARY KEY (shop_id, day));"
            "CREATE INDEX sale_amount ON sale(amount DESC);"
            "CREATE UNIQUE INDEX shop_region_name ON shop(region, name);"
            "CREATE VIEW shop_regions AS SELECT s.name, r.title FROM shop s JOIN region r ON r.code = "
            "s.region;"
            "INSERT INTO oci_procedure(package, name, overload, kind) VALUES ('stats', 'daily', 0, "
            "'FUNCTION'), "
            "('stats', 'reset', 0, 'PROCEDURE'), (NULL, 'close_day', 0, 'PROCEDURE');"
            "INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction) "
            "VALUES "
            "('stats', 'daily', 0, 0, NULL, 'NUMBER', 'OUT'), ('stats', 'daily', 0, 1, 'p_shop', 'NUMBER', "
            "'IN'), "
            "('stats', 'daily', 0, 2, 'p_day', 'DATE', 'IN'), (NULL, 'close_day', 0, 1, 'p_day', 'DATE', "
            "'IN'), "
            "(NULL, 'close_day', 0, 2, 'p_total', 'NUMBER', 'OUT');";
        std::string out;
        ASSERT_EQ(testshell::RunCommand(
                      "sqlite3 " + testshell::ShellQuote(db_) + " " + testshell::ShellQuote(script), &out),
                  0)
            << out;
    }
    void TearDown() override {
        meta_.reset();
        OraCommandTest::TearDown();
    }

    // The named columns of every row of a kind.
    TextRows Ask(const std::string& kind, const std::vector<std::string>& restrictions,
                 const std::vector<std::string>& columns) {
        TData* d = meta_->GetMetaData(conn_.get(), nullptr, kind, Lines(restrictions));
        TextRows out;
        for (const auto& row : DataRows(*d)) {
            std::vector<std::string> r;
            for (const auto& c : columns) r.push_back(row[d->FieldByName(c)->FieldNo - 1]);
            out.push_back(r);
        }
        return out;
    }

    std::vector<std::string> UserTables() {
        std::vector<std::string> names;
        for (const auto& r : Tool(db_,
                                  "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE "
                                  "'sqlite%' AND name NOT LIKE 'oci%' ORDER BY upper(name)"))
            names.push_back(r[0]);
        return names;
    }

    std::unique_ptr<TOCIMetaData> meta_ = std::make_unique<TOCIMetaData>();
};

TEST_F(OraMetaDataToolTest, TablesAndViewsAreTheToolsRelations) {
    TextRows expected;
    for (const auto& r : Tool(db_,
                              "SELECT upper(name), upper(type) FROM sqlite_schema WHERE type IN ('table', "
                              "'view') AND name NOT LIKE 'sqlite%' AND name NOT LIKE 'oci%' ORDER BY 1"))
        expected.push_back(r);
    EXPECT_EQ(Ask("tables", {"SCOPE=LOCAL"}, {"TABLE_NAME", "TABLE_TYPE"}), expected);
    ASSERT_EQ(expected.size(), 4u);
}

// A column's type as declared, rebuilt from the dictionary's parts.
TEST_F(OraMetaDataToolTest, ColumnsAndTheirDeclaredTypes) {
    for (const std::string& table : UserTables()) {
        TextRows expected;
        for (const auto& r :
             Tool(db_,
                  "SELECT cid + 1, upper(name), upper(replace(type, ' ', '')), \"notnull\" OR pk "
                  "FROM pragma_table_info('" +
                      table + "')"))
            expected.push_back({r[0], r[1], r[2], r[3] == "1" ? "0" : "1"});
        TextRows got;
        for (const auto& r : Ask("columns", {"TABLE_NAME=" + table},
                                 {"POSITION", "COLUMN_NAME", "DATA_TYPE", "DATA_LENGTH", "DATA_PRECISION",
                                  "DATA_SCALE", "NULLABLE"})) {
            std::string type = r[2];
            if (type == "NUMBER" && r[4] != "<null>") type += "(" + r[4] + "," + r[5] + ")";
            if (type == "VARCHAR2" || type == "CHAR" || type == "RAW") type += "(" + r[3] + ")";
            got.push_back({r[0], r[1], type, r[6]});
        }
        EXPECT_EQ(got, expected) << table;
    }
}

TEST_F(OraMetaDataToolTest, IndexesAndIndexColumns) {
    for (const std::string& table : UserTables()) {
        TextRows indexes, columns;
        for (const auto& r : Tool(db_, "SELECT upper(name), \"unique\" FROM pragma_index_list('" + table +
                                           "') ORDER BY upper(name)"))
            indexes.push_back(r);
        for (const auto& r : Tool(
                 db_,
                 "SELECT upper(il.name), upper(x.name), x.seqno + 1, x.\"desc\" FROM pragma_index_list('" +
                     table +
                     "') il, pragma_index_xinfo(il.name) x WHERE x.key = 1 ORDER BY upper(il.name), x.seqno"))
            columns.push_back(r);
        EXPECT_EQ(Ask("indexes", {"TABLE_NAME=" + table}, {"INDEX_NAME", "UNIQUE"}), indexes) << table;
        EXPECT_EQ(Ask("indexcolumns", {"TABLE_NAME=" + table},
                      {"INDEX_NAME", "COLUMN_NAME", "COLUMN_POSITION", "DESCENDING"}),
                  columns)
            << table;
    }
}

TEST_F(OraMetaDataToolTest, PrimaryAndForeignKeys) {
    for (const std::string& table : UserTables()) {
        const std::string t = Upper(table);
        // Primary key: one P constraint whose index holds the tool's key columns in order.
        std::vector<std::string> keyColumns;
        for (const auto& r : Tool(db_, "SELECT upper(name) FROM pragma_table_info('" + table +
                                           "') WHERE pk > 0 ORDER "
                                           "BY pk"))
            keyColumns.push_back(r[0]);
        TextRows pk = Ask("constraints", {"TABLE_NAME=" + table, "CONSTRAINT_TYPE=PRIMARY KEY"},
                          {"CONSTRAINT_NAME", "INDEX_NAME"});
        ASSERT_EQ(pk.size(), keyColumns.empty() ? 0u : 1u) << table;
        if (!pk.empty()) {
            std::vector<std::string> indexed;
            for (const auto& r : Ask("indexcolumns", {"INDEX_NAME=\"" + pk[0][1] + "\""}, {"COLUMN_NAME"}))
                indexed.push_back(r[0]);
            EXPECT_EQ(indexed, keyColumns) << table;
        }
        // Foreign keys: one R constraint per key of the tool, referring to the parent's primary key.
        std::multiset<std::string> parents, referred;
        for (const auto& r : Tool(db_, "SELECT upper(\"table\") FROM pragma_foreign_key_list('" + table +
                                           "') WHERE "
                                           "seq = 0"))
            parents.insert("PK_" + r[0]);
        for (const auto& r : Ask("constraints", {"TABLE_NAME=" + table, "CONSTRAINT_TYPE=FOREIGN KEY"},
                                 {"REFERRED_CONSTRAINT_NAME"}))
            referred.insert(r[0]);
        EXPECT_EQ(referred, parents) << t;
    }
}

TEST_F(OraMetaDataToolTest, ProceduresWithTheirArguments) {
    std::set<std::string> expected, got;
    for (const auto& r :
         Tool(db_, "SELECT upper(coalesce(package, '')), upper(name), upper(kind) FROM oci_procedure"))
        expected.insert(r[0] + "." + r[1] + " " + r[2]);
    for (const auto& r : Ask("procedures", {}, {"PROCEDURE_PACKAGE", "PROCEDURE_NAME", "PROCEDURE_TYPE"}))
        got.insert(r[0] + "." + r[1] + " " + r[2]);
    EXPECT_EQ(got, expected);

    for (const auto& routine : Tool(db_, "SELECT coalesce(package, ''), name FROM oci_procedure")) {
        TextRows args;
        for (const auto& r : Tool(db_,
                                  "SELECT coalesce(upper(argument), '<null>'), position, upper(direction), "
                                  "upper(data_type) FROM oci_argument WHERE coalesce(package, '') = '" +
                                      routine[0] + "' AND name = '" + routine[1] + "' ORDER BY position"))
            args.push_back(r);
        std::vector<std::string> restrictions = {"PROCEDURE_NAME=" + routine[1]};
        if (!routine[0].empty()) restrictions.push_back("PROCEDURE_PACKAGE=" + routine[0]);
        EXPECT_EQ(Ask("procedureparameters", restrictions,
                      {"PARAMETER_NAME", "POSITION", "DIRECTION", "DATA_TYPE"}),
                  args)
            << routine[0] << "." << routine[1];
    }
}
