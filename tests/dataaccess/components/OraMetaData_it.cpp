// The metadata dataset against the sqlite3 tool: for a schema the tool itself creates, every kind
// lists what the tool's catalog shows (tables and views, columns with their declared types,
// indexes and their columns, primary and foreign keys, procedures with their arguments).
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SessionFixture.h"
#include "tests/common/TestShell.h"

using namespace dac;

namespace {

// The tool's rows for a query, values joined by "|", rows by newlines.
std::string Tool(const std::string& db, const std::string& sql) {
    std::string out;
    EXPECT_EQ(0, testshell::RunCommand(
                     "sqlite3 -separator '|' " + testshell::ShellQuote(db) + " " + testshell::ShellQuote(sql),
                     &out))
        << out;
    return out;
}

const char* const kSchema =
    "CREATE TABLE region(code CHAR(2) PRIMARY KEY, title VARCHAR2(40) NOT NULL);"
    "CREATE TABLE shop(id NUMBER(9,0) PRIMARY KEY, region CHAR(2) REFERENCES region(code), name VARCHAR2(60) "
    "UNIQUE, opened DATE, area NUMBER(8,2), memo CLOB);"
    "CREATE TABLE sale(shop_id NUMBER(9,0) NOT NULL REFERENCES shop(id), day DATE NOT NULL, amount "
    "NUMBER(12,2), PRIMARY KEY (shop_id, day));"
    "CREATE INDEX sale_amount ON sale(amount DESC, day);"
    "CREATE VIEW shop_regions AS SELECT s.name, r.title FROM shop s JOIN region r ON r.code = s.region;"
    "INSERT INTO oci_procedure(package, name, overload, kind) VALUES ('STATS', 'DAILY', 0, 'FUNCTION'), "
    "(NULL, 'CLOSE_DAY', 0, 'PROCEDURE');"
    "INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction) VALUES "
    "('STATS', 'DAILY', 0, 0, NULL, 'NUMBER', 'OUT'), ('STATS', 'DAILY', 0, 1, 'P_SHOP', 'NUMBER', 'IN'), "
    "('STATS', 'DAILY', 0, 2, 'P_DAY', 'DATE', 'IN'), (NULL, 'CLOSE_DAY', 0, 1, 'P_DAY', 'DATE', 'IN'), "
    "(NULL, 'CLOSE_DAY', 0, 2, 'P_TOTAL', 'NUMBER', 'IN/OUT');";

// The user's relations, as the tool filters its catalog.
const char* const kUserTables =
    "m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND m.name NOT LIKE 'oci\\_%' ESCAPE '\\'";

class OraMetaDataToolIt : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        std::string out;
        ASSERT_EQ(0,
                  testshell::RunCommand(
                      "sqlite3 " + testshell::ShellQuote(db_) + " " + testshell::ShellQuote(kSchema), &out))
            << out;
        session_ = newSession();
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }

    // The dataset's rows of the named fields, in the tool's format.
    std::string Rows(const std::string& kind, const std::vector<std::string>& fields,
                     const std::vector<std::string>& restrictions = {}) {
        TOraMetaData m;
        m.SetSession(session_.get());
        m.SetMetaDataKind(kind);
        for (const auto& r : restrictions) m.Restrictions().Add(r);
        m.Open();
        std::string out;
        for (m.First(); !m.Eof(); m.Next()) {
            for (size_t i = 0; i < fields.size(); ++i)
                out += (i ? "|" : "") + m.FieldByName(fields[i])->AsString();
            out += "\n";
        }
        return out;
    }

    std::unique_ptr<TOraSession> session_;
};

TEST_F(OraMetaDataToolIt, EveryKindListsWhatTheToolsCatalogShows) {
    // Tables and views.
    EXPECT_EQ(
        Tool(db_, std::string("SELECT upper(m.name), upper(m.type) FROM sqlite_schema m WHERE m.type IN "
                              "('table', 'view') AND ") +
                      kUserTables + " ORDER BY 1"),
        Rows("tables", {"TABLE_NAME", "TABLE_TYPE"}, {"SCOPE=LOCAL"}));

    // Columns of the tables: the declared type's name, length of text and precision and scale of
    // numbers, nullability.
    const std::string toolColumns = Tool(
        db_,
        std::string("SELECT upper(m.name), upper(p.name), p.cid + 1, CASE WHEN instr(p.type, '(') > 0 THEN "
                    "substr(p.type, 1, instr(p.type, '(') - 1) ELSE p.type END, CASE WHEN p.type LIKE "
                    "'NUMBER(%' THEN substr(p.type, 8, instr(p.type, ',') - 8) ELSE '' END, CASE WHEN p.type "
                    "LIKE 'NUMBER(%' THEN substr(p.type, instr(p.type, ',') + 1, length(p.type) - "
                    "instr(p.type, ',') - 1) ELSE '' END, CASE WHEN p.type LIKE '%CHAR%(%' THEN "
                    "substr(p.type, instr(p.type, '(') + 1, length(p.type) - instr(p.type, '(') - 1) ELSE "
                    "'' END, CASE WHEN p.\"notnull\" = 1 OR p.pk > 0 THEN 0 ELSE 1 END FROM sqlite_schema m, "
                    "pragma_table_info(m.name) p WHERE m.type = 'table' AND ") +
            kUserTables + " ORDER BY 1, 3");
    std::string ours;
    {
        TOraMetaData m;
        m.SetSession(session_.get());
        m.SetMetaDataKind("columns");
        m.Open();
        for (m.First(); !m.Eof(); m.Next()) {
            if (m.FieldByName("TABLE_NAME")->AsString() == "SHOP_REGIONS") continue;
            const std::string type = m.FieldByName("DATA_TYPE")->AsString();
            ours += m.FieldByName("TABLE_NAME")->AsString() + "|" + m.FieldByName("COLUMN_NAME")->AsString() +
                    "|" + m.FieldByName("POSITION")->AsString() + "|" + type + "|" +
                    (type == "NUMBER" ? m.FieldByName("DATA_PRECISION")->AsString() : "") + "|" +
                    (type == "NUMBER" ? m.FieldByName("DATA_SCALE")->AsString() : "") + "|" +
                    (type.find("CHAR") != std::string::npos ? m.FieldByName("DATA_LENGTH")->AsString() : "") +
                    "|" + m.FieldByName("NULLABLE")->AsString() + "\n";
        }
    }
    EXPECT_NE(std::string::npos, toolColumns.find("SHOP|AREA|5|NUMBER|8|2||1\n")) << toolColumns;
    EXPECT_NE(std::string::npos, toolColumns.find("REGION|TITLE|2|VARCHAR2|||40|0\n")) << toolColumns;
    EXPECT_EQ(toolColumns, ours);

    // Indexes, their uniqueness and their columns in order with the sort direction.
    EXPECT_EQ(
        Tool(db_, std::string("SELECT upper(m.name), upper(il.name), il.\"unique\" FROM sqlite_schema m, "
                              "pragma_index_list(m.name) il WHERE m.type = 'table' AND ") +
                      kUserTables + " ORDER BY 1, 2"),
        Rows("indexes", {"TABLE_NAME", "INDEX_NAME", "UNIQUE"}));
    EXPECT_EQ(
        Tool(db_,
             std::string("SELECT upper(m.name), upper(il.name), upper(x.name), x.seqno + 1, x.\"desc\" "
                         "FROM sqlite_schema m, pragma_index_list(m.name) il, pragma_index_xinfo(il.name) "
                         "x WHERE m.type = 'table' AND x.key = 1 AND ") +
                 kUserTables + " ORDER BY 1, 2, 4"),
        Rows("indexcolumns", {"TABLE_NAME", "INDEX_NAME", "COLUMN_NAME", "COLUMN_POSITION", "DESCENDING"}));

    // Primary and foreign keys.
    EXPECT_EQ(
        Tool(db_,
             std::string("SELECT upper(m.name), 'PK_' || upper(m.name), 'PRIMARY KEY' FROM sqlite_schema "
                         "m WHERE m.type = 'table' AND EXISTS (SELECT 1 FROM pragma_table_info(m.name) p "
                         "WHERE p.pk > 0) AND ") +
                 kUserTables +
                 " UNION ALL SELECT upper(m.name), 'FK_' || upper(m.name) || '_' || (f.id + 1), "
                 "'FOREIGN KEY' FROM sqlite_schema m, pragma_foreign_key_list(m.name) f WHERE m.type = "
                 "'table' AND f.seq = 0 AND " +
                 kUserTables + " ORDER BY 1, 2"),
        Rows("constraints", {"TABLE_NAME", "CONSTRAINT_NAME", "CONSTRAINT_TYPE"},
             {"CONSTRAINT_TYPE=PRIMARY KEY,FOREIGN KEY"}));

    // Procedures, packaged ones with their package, and their arguments.
    EXPECT_EQ(
        Tool(db_,
             "SELECT coalesce(package, ''), name, kind FROM oci_procedure ORDER BY coalesce(package, ''), "
             "name"),
        Rows("procedures", {"PROCEDURE_PACKAGE", "PROCEDURE_NAME", "PROCEDURE_TYPE"}));
    EXPECT_EQ(
        Tool(db_,
             "SELECT name, position, argument, direction, data_type FROM oci_argument WHERE package IS NULL "
             "ORDER BY name, position"),
        Rows("procedureparameters",
             {"PROCEDURE_NAME", "POSITION", "PARAMETER_NAME", "DIRECTION", "DATA_TYPE"}));
    EXPECT_EQ(
        Tool(db_,
             "SELECT name, position, coalesce(argument, ''), direction FROM oci_argument WHERE package = "
             "'STATS' ORDER BY name, position"),
        Rows("procedureparameters", {"PROCEDURE_NAME", "POSITION", "PARAMETER_NAME", "DIRECTION"},
             {"PROCEDURE_PACKAGE=STATS"}));
}

}  // namespace
