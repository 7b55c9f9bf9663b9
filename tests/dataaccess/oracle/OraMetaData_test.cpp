// Oracle metadata: the dictionary query texts, compared byte for byte, and their answers on the
// stand-in's dictionary views over a small schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "OraCommandFixture.h"
#include "tests/dataaccess/core/DataRows.h"

using namespace dac;
using test::DataRows;
using test::FieldNames;
using test::TextRows;

namespace {

struct Lines : rtl::TStringList {
    Lines(const std::vector<const char*>& lines = {}) {
        for (const char* l : lines) Add(l);
    }
};

// A provider whose last query text can be read back.
class MetaData : public TOCIMetaData {
public:
    AnsiString LastSQL() { return QueryRecordSet().GetCommand()->SQL(); }
};

// The server banner the next connection reads, to stand for an older server.
const char* g_banner = nullptr;
decltype(dac::OCIServerVersion) g_savedVersion = nullptr;
sword OlderServerVersion(void* h, OCIError* err, OraText* buf, ub4 size, ub1 type) {
    sword rc = g_savedVersion(h, err, buf, size, type);
    std::snprintf(reinterpret_cast<char*>(buf), size, "%s", g_banner);
    return rc;
}

}  // namespace

// A schema with every kind of object: keys, a descending index, a view, packaged and stand-alone
// routines (an overload, a function, one without arguments) and a synonym.
class OraMetaDataTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(
            "CREATE TABLE dept(id NUMBER(4,0) PRIMARY KEY, name VARCHAR2(30) NOT NULL UNIQUE, budget "
            "NUMBER(12,2));"
            "CREATE TABLE emp(id NUMBER(9,0) PRIMARY KEY, dept_id NUMBER(4,0) REFERENCES dept(id) ON DELETE "
            "CASCADE, code CHAR(3), hired DATE DEFAULT '2020-01-01 00:00:00', photo BLOB, note "
            "NVARCHAR2(10));"
            "CREATE INDEX emp_hired ON emp(hired DESC, code);"
            "CREATE VIEW emp_names AS SELECT e.id, d.name FROM emp e JOIN dept d ON d.id = e.dept_id;"
            "INSERT INTO oci_procedure(package, name, overload, kind) VALUES ('shop', 'add_item', 1, "
            "'PROCEDURE'), "
            "('shop', 'add_item', 2, 'PROCEDURE'), ('shop', 'total', 0, 'FUNCTION'), (NULL, 'ping', 0, "
            "'PROCEDURE'), (NULL, 'get_version', 0, 'FUNCTION');"
            "INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction, "
            "data_length) VALUES ('shop', 'add_item', 1, 1, 'p_id', 'NUMBER', 'IN', NULL), ('shop', "
            "'add_item', "
            "2, 1, 'p_name', 'VARCHAR2', 'IN', NULL), ('shop', 'add_item', 2, 2, 'p_qty', 'NUMBER', "
            "'IN/OUT', "
            "NULL), ('shop', 'total', 0, 0, NULL, 'NUMBER', 'OUT', NULL), (NULL, 'get_version', 0, 0, NULL, "
            "'VARCHAR2', 'OUT', 20);"
            "INSERT INTO oci_synonym(owner, name, target_owner, target_name) VALUES (NULL, 'shop_syn', "
            "'QEL', "
            "'SHOP');");
    }

    // The provider's record set is closed before the connection goes.
    void TearDown() override {
        meta_.reset();
        OraCommandTest::TearDown();
    }

    TData* Ask(const AnsiString& kind, std::vector<const char*> restrictions = {}) {
        return meta_->GetMetaData(conn_.get(), nullptr, kind, Lines(restrictions));
    }
    TextRows Rows(const AnsiString& kind, std::vector<const char*> restrictions = {},
                  std::vector<std::string> columns = {}) {
        TData* d = Ask(kind, restrictions);
        TextRows all = DataRows(*d);
        if (columns.empty()) return all;
        TextRows picked;
        for (const auto& row : all) {
            std::vector<std::string> r;
            for (const auto& c : columns) r.push_back(row[d->FieldByName(c)->FieldNo - 1]);
            picked.push_back(r);
        }
        return picked;
    }

    // Names the metadata kinds TEST_F bodies compare by (field values of one column).
    std::vector<std::string> Column(const AnsiString& kind, std::vector<const char*> restrictions,
                                    const std::string& column) {
        std::vector<std::string> out;
        for (const auto& r : Rows(kind, restrictions, {column})) out.push_back(r[0]);
        return out;
    }

    std::unique_ptr<MetaData> meta_ = std::make_unique<MetaData>();
};

// ---------------------------------------------------------------------------------------------
// Query texts

TEST_F(OraMetaDataTest, QueryTextsAreExactAndRunOnTheServer) {
    const std::string cr = "\r";
    struct Case {
        const char* kind;
        std::vector<const char*> restrictions;
        std::string sql;
    };
    const std::string standAlone =
        "SELECT '' PROCEDURE_CATALOG, OWNER PROCEDURE_SCHEMA, OBJECT_NAME PROCEDURE_NAME, OBJECT_TYPE "
        "PROCEDURE_TYPE, '' PROCEDURE_PACKAGE, CREATED, LAST_DDL_TIME, STATUS FROM SYS.ALL_OBJECTS WHERE ";
    const std::string packaged =
        "SELECT '' PROCEDURE_CATALOG, OWNER PROCEDURE_SCHEMA, DECODE(OVERLOAD, NULL, OBJECT_NAME, "
        "OBJECT_NAME || "
        "':' || OVERLOAD) PROCEDURE_NAME, DECODE(POSITION, 0, 'FUNCTION', 'PROCEDURE') PROCEDURE_TYPE, "
        "PACKAGE_NAME PROCEDURE_PACKAGE, TO_DATE(NULL) CREATED, TO_DATE(NULL) LAST_DDL_TIME, '' STATUS FROM "
        "( "
        "SELECT OWNER, PACKAGE_NAME, OBJECT_NAME, OVERLOAD, MIN(POSITION) POSITION FROM SYS.ALL_ARGUMENTS "
        "WHERE ";
    const std::string packagedEnd = " DATA_LEVEL = 0 GROUP BY OWNER, PACKAGE_NAME, OBJECT_NAME, OVERLOAD ) ";
    const std::string procOrder = cr + "ORDER BY PROCEDURE_SCHEMA, PROCEDURE_PACKAGE, PROCEDURE_NAME";
    const std::string tables =
        "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, OBJECT_NAME TABLE_NAME, OBJECT_TYPE TABLE_TYPE, "
        "CREATED, "
        "LAST_DDL_TIME FROM SYS.ALL_OBJECTS WHERE ";
    const std::string indexColumns =
        "SELECT '' TABLE_CATALOG, TABLE_OWNER TABLE_SCHEMA, TABLE_NAME, '' INDEX_CATALOG, INDEX_OWNER "
        "INDEX_SCHEMA, INDEX_NAME, COLUMN_NAME, COLUMN_POSITION, DECODE(IC.DESCEND, 'ASC', 0, 1) DESCENDING "
        "FROM "
        "SYS.ALL_IND_COLUMNS IC ";
    const std::string constraints =
        "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, TABLE_NAME, CONSTRAINT_NAME, DECODE(CONSTRAINT_TYPE, "
        "'C', "
        "'CHECK', 'P', 'PRIMARY KEY', 'U', 'UNIQUE', 'R', 'FOREIGN KEY', 'UNKNOWN') CONSTRAINT_TYPE, '' "
        "INDEX_CATALOG, INDEX_OWNER INDEX_SCHEMA, INDEX_NAME, R_OWNER REFERRED_TABLE_OWNER, "
        "R_CONSTRAINT_NAME "
        "REFERRED_CONSTRAINT_NAME, DECODE(STATUS, 'ENABLED', 1, 0) ENABLED FROM SYS.ALL_CONSTRAINTS ";
    const std::string constraintsOrder = " ORDER BY OWNER, TABLE_NAME, CONSTRAINT_NAME";
    const std::vector<Case> cases = {
        // An empty condition leaves two blanks after WHERE.
        {"tables", {}, tables + " OBJECT_TYPE IN ('TABLE', 'VIEW', 'SYNONYM') ORDER BY OWNER, OBJECT_NAME "},
        {"Tables",
         {"TABLE_TYPE=view", "TABLE_NAME=emp", "TABLE_SCHEMA=\"qel\""},
         tables + "OWNER = 'qel' AND OBJECT_NAME = 'EMP' AND  OBJECT_TYPE IN ('VIEW') ORDER BY OWNER, "
                  "OBJECT_NAME "},
        {"tables", {"TABLE_TYPE=INDEX"}, tables + " OBJECT_TYPE IN ('') ORDER BY OWNER, OBJECT_NAME "},
        {"tables",
         {"SCOPE=local", "TABLE_SCHEMA=other"},
         tables +
             "OWNER = 'QEL' AND  OBJECT_TYPE IN ('TABLE', 'VIEW', 'SYNONYM') ORDER BY OWNER, OBJECT_NAME "},
        {"columns",
         {},
         "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, COLUMN_ID POSITION, "
         "DATA_TYPE, "
         "DATA_LENGTH, DATA_PRECISION, DATA_SCALE, DECODE(NULLABLE, 'Y', 1, 0) NULLABLE, DATA_TYPE_MOD, "
         "DATA_TYPE_OWNER FROM SYS.ALL_TAB_COLUMNS  ORDER BY OWNER, TABLE_NAME, COLUMN_ID "},
        {"columns",
         {"TABLE_NAME=dept", "COLUMN_NAME=O'Neil"},
         "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, COLUMN_ID POSITION, "
         "DATA_TYPE, "
         "DATA_LENGTH, DATA_PRECISION, DATA_SCALE, DECODE(NULLABLE, 'Y', 1, 0) NULLABLE, DATA_TYPE_MOD, "
         "DATA_TYPE_OWNER FROM SYS.ALL_TAB_COLUMNS WHERE TABLE_NAME = 'DEPT' AND COLUMN_NAME = 'O''NEIL' "
         "ORDER BY "
         "OWNER, TABLE_NAME, COLUMN_ID "},
        {"procedures",
         {},
         standAlone + " OBJECT_TYPE IN ('PROCEDURE', 'FUNCTION') " + cr + "UNION ALL" + cr + packaged +
             "PACKAGE_NAME is not NULL AND " + packagedEnd + procOrder},
        {"procedures",
         {"PROCEDURE_PACKAGE=\"\"", "PROCEDURE_NAME=ping"},
         standAlone + "OBJECT_NAME = 'PING' AND  OBJECT_TYPE IN ('PROCEDURE', 'FUNCTION') " + procOrder},
        {"procedures",
         {"PROCEDURE_PACKAGE=shop", "PROCEDURE_TYPE=procedure"},
         packaged + "PACKAGE_NAME = 'SHOP' AND " + packagedEnd + "WHERE POSITION = 1" + procOrder},
        {"procedures",
         {"PROCEDURE_TYPE=FUNCTION"},
         standAlone + " OBJECT_TYPE IN ('FUNCTION') " + cr + "UNION ALL" + cr + packaged +
             "PACKAGE_NAME is not NULL AND " + packagedEnd + "WHERE POSITION = 0" + procOrder},
        {"procedures",
         {"PROCEDURE_TYPE=PACKAGE", "SCOPE=LOCAL"},
         standAlone + "OWNER = 'QEL' AND  OBJECT_TYPE IN ('') " + cr + "UNION ALL" + cr + packaged +
             "OWNER = 'QEL' AND PACKAGE_NAME is not NULL AND " + packagedEnd + "WHERE 1 = 0" + procOrder},
        {"procedureparameters",
         {},
         "SELECT '' PROCEDURE_CATALOG, OWNER PROCEDURE_SCHEMA, OBJECT_NAME PROCEDURE_NAME, ARGUMENT_NAME "
         "PARAMETER_NAME, POSITION, IN_OUT DIRECTION, DATA_TYPE, DATA_LENGTH, DATA_PRECISION, DATA_SCALE, "
         "TYPE_OWNER, TYPE_NAME, TYPE_SUBNAME, TYPE_LINK FROM SYS.ALL_ARGUMENTS WHERE PACKAGE_NAME IS NULL "
         "AND "
         "DATA_LEVEL = 0 AND (ARGUMENT_NAME IS NOT NULL OR POSITION = 0) ORDER BY OWNER, OBJECT_NAME, "
         "OVERLOAD, "
         "POSITION"},
        {"indexes",
         {"TABLE_NAME=emp", "INDEX_SCHEMA=qel"},
         "SELECT '' TABLE_CATALOG, I.TABLE_OWNER TABLE_SCHEMA, I.TABLE_NAME, '' INDEX_CATALOG, I.OWNER "
         "INDEX_SCHEMA, I.INDEX_NAME, DECODE(I.UNIQUENESS, 'UNIQUE', 1, 0) \"UNIQUE\", I.INDEX_TYPE, "
         "O.CREATED, "
         "O.LAST_DDL_TIME, I.STATUS FROM SYS.ALL_OBJECTS O, SYS.ALL_INDEXES I WHERE I.OWNER = 'QEL' AND "
         "I.TABLE_NAME = 'EMP' AND  O.OBJECT_TYPE = 'INDEX' AND I.OWNER = O.OWNER AND I.INDEX_NAME = "
         "O.OBJECT_NAME "
         "ORDER BY I.OWNER, I.TABLE_OWNER, I.TABLE_NAME, I.INDEX_NAME "},
        {"indexcolumns",
         {"TABLE_NAME=emp", "UNIQUE=yes"},
         indexColumns +
             "WHERE IC.TABLE_NAME = 'EMP' ORDER BY INDEX_OWNER, TABLE_OWNER, TABLE_NAME, INDEX_NAME, "
             "COLUMN_POSITION"},
        {"indexcolumns",
         {"UNIQUE=0"},
         "SELECT '' TABLE_CATALOG, IC.TABLE_OWNER TABLE_SCHEMA, IC.TABLE_NAME, '' INDEX_CATALOG, "
         "IC.INDEX_OWNER "
         "INDEX_SCHEMA, IC.INDEX_NAME, IC.COLUMN_NAME, IC.COLUMN_POSITION, DECODE(IC.DESCEND, 'ASC', 0, 1) "
         "DESCENDING FROM SYS.ALL_IND_COLUMNS IC, SYS.ALL_INDEXES I WHERE I.UNIQUENESS = 'NONUNIQUE' AND  "
         "I.OWNER "
         "= IC.INDEX_OWNER AND I.INDEX_NAME = IC.INDEX_NAME ORDER BY IC.INDEX_OWNER, IC.TABLE_OWNER, "
         "IC.TABLE_NAME, IC.INDEX_NAME, IC.COLUMN_POSITION"},
        {"constraints", {}, constraints + constraintsOrder},
        {"constraints",
         {"TABLE_NAME=dept", "CONSTRAINT_TYPE=check, unknown"},
         constraints + "WHERE TABLE_NAME = 'DEPT' AND NOT CONSTRAINT_TYPE IN ('P', 'U', 'R')" +
             constraintsOrder},
        {"constraints",
         {"CONSTRAINT_TYPE=Primary Key,FOREIGN KEY"},
         constraints + "WHERE CONSTRAINT_TYPE IN ('P', 'R')" + constraintsOrder},
        {"constraints",
         {"CONSTRAINT_TYPE=UNKNOWN"},
         constraints + "WHERE NOT CONSTRAINT_TYPE IN ('C', 'P', 'U', 'R')" + constraintsOrder},
        {"constraints", {"CONSTRAINT_TYPE=bogus"}, constraints + "WHERE 0 = 1" + constraintsOrder},
        {"constraints",
         {"CONSTRAINT_TYPE=CHECK,PRIMARY KEY,UNIQUE,FOREIGN KEY,UNKNOWN"},
         constraints + constraintsOrder},
        {"datatypes",
         {"TYPE_NAME=x"},
         "SELECT TYPE_NAME FROM SYS.ALL_TYPES WHERE OWNER IS NULL ORDER BY TYPE_NAME"},
        {"users", {}, "SELECT USERNAME USER_NAME, CREATED FROM SYS.ALL_USERS  ORDER BY USERNAME"},
        {"users",
         {"USER_NAME=zuv"},
         "SELECT USERNAME USER_NAME, CREATED FROM SYS.ALL_USERS WHERE USERNAME = 'ZUV' ORDER BY USERNAME"},
        {"packages",
         {"PACKAGE_SCHEMA=qel"},
         "SELECT '' PACKAGE_CATALOG, OWNER PACKAGE_SCHEMA, OBJECT_NAME PACKAGE_NAME, CREATED, LAST_DDL_TIME, "
         "STATUS "
         "FROM SYS.ALL_OBJECTS WHERE OWNER = 'QEL' AND  OBJECT_TYPE = 'PACKAGE' ORDER BY OWNER, OBJECT_NAME"},
        {"userdefinedtypes",
         {},
         "SELECT '' TYPE_CATALOG, OWNER TYPE_SCHEMA, OBJECT_NAME TYPE_NAME, CREATED, LAST_DDL_TIME, STATUS "
         "FROM "
         "SYS.ALL_OBJECTS WHERE  OBJECT_TYPE = 'TYPE' ORDER BY OWNER, OBJECT_NAME"},
        {"sequences",
         {"SCOPE=LOCAL", "SEQUENCE_NAME=s1"},
         "SELECT '' SEQUENCE_CATALOG, OWNER SEQUENCE_SCHEMA, OBJECT_NAME SEQUENCE_NAME, CREATED, "
         "LAST_DDL_TIME FROM "
         "SYS.ALL_OBJECTS WHERE OWNER = 'QEL' AND OBJECT_NAME = 'S1' AND  OBJECT_TYPE IN ('SEQUENCE') ORDER "
         "BY "
         "OWNER, OBJECT_NAME "},
    };
    for (const auto& c : cases) {
        ASSERT_NO_THROW(Ask(c.kind, c.restrictions)) << c.kind << ": " << c.sql;
        EXPECT_EQ(meta_->LastSQL(), c.sql) << c.kind;
    }
}

TEST_F(OraMetaDataTest, TypeListToSQLQuotesTheSetNames) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"", "'TABLE', 'VIEW', 'SYNONYM'"},
        {"synonym, table", "'TABLE', 'SYNONYM'"},
        {"INDEX", "''"},
    };
    for (const auto& [text, sql] : cases)
        EXPECT_EQ(TOCIMetaData::TypeListToSQL(text, {"TABLE", "VIEW", "SYNONYM"}), sql) << text;
}

// ---------------------------------------------------------------------------------------------
// Kinds

TEST_F(OraMetaDataTest, KindsAndRestrictionsAddTheOracleKinds) {
    EXPECT_EQ(Column("", {}, "METADATA_NAME"),
              (std::vector<std::string>{"MetaDataKinds", "Restrictions", "Tables", "Columns", "Procedures",
                                        "ProcedureParameters", "Indexes", "IndexColumns", "Constraints",
                                        "DataTypes", "Users", "UserDefinedTypes", "Packages", "Sequences"}));
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"Procedures",
         {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_PACKAGE", "PROCEDURE_NAME", "PROCEDURE_TYPE"}},
        {"ProcedureParameters",
         {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_PACKAGE", "PROCEDURE_NAME", "PARAMETER_NAME"}},
        {"Packages", {"PACKAGE_CATALOG", "PACKAGE_SCHEMA", "PACKAGE_NAME"}},
        {"Users", {"USER_NAME"}},
        {"UserDefinedTypes", {"TYPE_CATALOG", "TYPE_SCHEMA", "TYPE_NAME"}},
        {"Sequences", {"SEQUENCE_CATALOG", "SEQUENCE_SCHEMA", "SEQUENCE_NAME"}},
        {"Tables", {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"}},
        {"DataTypes", {}},
    };
    for (const auto& [kind, names] : cases) {
        std::string restriction = std::string("METADATA_NAME=") + kind;
        EXPECT_EQ(Column("restrictions", {restriction.c_str()}, "RESTRICTION_NAME"), names) << kind;
    }
    for (const char* kind : {"databases", "roles"})
        EXPECT_EQ(ExceptionText([&] { Ask(kind); }), "Unsupported metadata kind") << kind;
}

// ---------------------------------------------------------------------------------------------
// Answers on the stand-in's dictionary

TEST_F(OraMetaDataTest, TablesByTypeNameAndScope) {
    using V = std::vector<std::string>;
    const std::vector<std::pair<std::vector<const char*>, V>> cases = {
        {{}, {"SHOP_SYN", "DEPT", "EMP", "EMP_NAMES"}},  // the public synonym's owner sorts first
        {{"TABLE_TYPE=VIEW"}, {"EMP_NAMES"}},
        {{"TABLE_TYPE=table, view", "TABLE_NAME=emp"}, {"EMP"}},
        {{"TABLE_TYPE=INDEX"}, {}},
        {{"TABLE_NAME=\"emp\""}, {}},  // quoted names compare exactly
        {{"SCOPE=LOCAL"}, {"DEPT", "EMP", "EMP_NAMES"}},
        {{"TABLE_SCHEMA=public"}, {"SHOP_SYN"}},
        {{"TABLE_SCHEMA=zuv"}, {}},
    };
    for (const auto& [restrictions, names] : cases)
        EXPECT_EQ(Column("tables", restrictions, "TABLE_NAME"), names);
    EXPECT_EQ(Rows("tables", {"TABLE_NAME=emp_names"}),
              (TextRows{{"", "QEL", "EMP_NAMES", "VIEW", "<null>", "<null>"}}));
}

TEST_F(OraMetaDataTest, ColumnsCarryOracleTypesAndNullability) {
    EXPECT_EQ(Rows("columns", {"TABLE_NAME=emp"},
                   {"COLUMN_NAME", "POSITION", "DATA_TYPE", "DATA_LENGTH", "DATA_PRECISION", "DATA_SCALE",
                    "NULLABLE"}),
              (TextRows{{"ID", "1", "NUMBER", "22", "9", "0", "0"},
                        {"DEPT_ID", "2", "NUMBER", "22", "4", "0", "1"},
                        {"CODE", "3", "CHAR", "3", "<null>", "<null>", "1"},
                        {"HIRED", "4", "DATE", "7", "<null>", "<null>", "1"},
                        {"PHOTO", "5", "BLOB", "4000", "<null>", "<null>", "1"},
                        {"NOTE", "6", "NVARCHAR2", "20", "<null>", "<null>", "1"}}));
    // A view's columns take the types of what they read.
    EXPECT_EQ(Rows("columns", {"TABLE_NAME=EMP_NAMES"}, {"COLUMN_NAME", "DATA_TYPE", "DATA_LENGTH"}),
              (TextRows{{"ID", "NUMBER", "22"}, {"NAME", "VARCHAR2", "30"}}));
    EXPECT_EQ(Column("columns", {"TABLE_NAME=dept", "COLUMN_NAME=name"}, "NULLABLE"),
              std::vector<std::string>{"0"});
    // The dictionary's integral numbers read as integer fields.
    Ask("columns");
    EXPECT_EQ(meta_->QueryRecordSet().FieldByName("POSITION")->DataType, dtInteger);
    EXPECT_EQ(meta_->QueryRecordSet().FieldByName("DATA_LENGTH")->DataType, dtInteger);
}

TEST_F(OraMetaDataTest, ProceduresUniteStandAloneAndPackagedRoutines) {
    const std::vector<std::string> cols = {"PROCEDURE_NAME", "PROCEDURE_TYPE", "PROCEDURE_PACKAGE"};
    EXPECT_EQ(Rows("procedures", {}, cols), (TextRows{{"GET_VERSION", "FUNCTION", ""},
                                                      {"PING", "PROCEDURE", ""},
                                                      {"ADD_ITEM:1", "PROCEDURE", "SHOP"},
                                                      {"ADD_ITEM:2", "PROCEDURE", "SHOP"},
                                                      {"TOTAL", "FUNCTION", "SHOP"}}));
    using V = std::vector<std::string>;
    const std::vector<std::pair<std::vector<const char*>, V>> cases = {
        {{"PROCEDURE_PACKAGE=\"\""}, {"GET_VERSION", "PING"}},
        {{"PROCEDURE_PACKAGE=shop"}, {"ADD_ITEM:1", "ADD_ITEM:2", "TOTAL"}},
        {{"PROCEDURE_TYPE=FUNCTION"}, {"GET_VERSION", "TOTAL"}},
        {{"PROCEDURE_TYPE=procedure", "PROCEDURE_PACKAGE=SHOP"}, {"ADD_ITEM:1", "ADD_ITEM:2"}},
        {{"PROCEDURE_NAME=total"}, {"TOTAL"}},
        {{"PROCEDURE_TYPE=trigger"}, {}},
        {{"SCOPE=LOCAL", "PROCEDURE_SCHEMA=zuv"},
         {"GET_VERSION", "PING", "ADD_ITEM:1", "ADD_ITEM:2", "TOTAL"}},
    };
    for (const auto& [restrictions, names] : cases)
        EXPECT_EQ(Column("procedures", restrictions, "PROCEDURE_NAME"), names);
}

TEST_F(OraMetaDataTest, ProcedureParametersOfStandAloneOrPackagedRoutines) {
    const std::vector<std::string> cols = {"PROCEDURE_NAME", "PARAMETER_NAME", "POSITION", "DIRECTION",
                                           "DATA_TYPE"};
    // Without a package: stand-alone routines only; a function's result is position 0 without a name.
    EXPECT_EQ(Rows("procedureparameters", {}, cols),
              (TextRows{{"GET_VERSION", "<null>", "0", "OUT", "VARCHAR2"}}));
    EXPECT_EQ(Rows("procedureparameters", {"PROCEDURE_PACKAGE=shop", "PROCEDURE_NAME=add_item"}, cols),
              (TextRows{{"ADD_ITEM", "P_ID", "1", "IN", "NUMBER"},
                        {"ADD_ITEM", "P_NAME", "1", "IN", "VARCHAR2"},
                        {"ADD_ITEM", "P_QTY", "2", "IN/OUT", "NUMBER"}}));
    EXPECT_EQ(
        Rows("procedureparameters", {"PROCEDURE_PACKAGE=shop", "PARAMETER_NAME=p_qty"}, {"PARAMETER_NAME"}),
        (TextRows{{"P_QTY"}}));
}

TEST_F(OraMetaDataTest, IndexesAndTheirColumns) {
    EXPECT_EQ(Rows("indexes", {"TABLE_NAME=emp"}, {"INDEX_NAME", "UNIQUE"}),
              (TextRows{{"EMP_HIRED", "0"}, {"SQLITE_AUTOINDEX_EMP_1", "1"}}));
    const std::vector<std::string> cols = {"INDEX_NAME", "COLUMN_NAME", "COLUMN_POSITION", "DESCENDING"};
    EXPECT_EQ(Rows("indexcolumns", {"TABLE_NAME=emp"}, cols),
              (TextRows{{"EMP_HIRED", "HIRED", "1", "1"},
                        {"EMP_HIRED", "CODE", "2", "0"},
                        {"SQLITE_AUTOINDEX_EMP_1", "ID", "1", "0"}}));
    EXPECT_EQ(Column("indexcolumns", {"UNIQUE=0"}, "COLUMN_NAME"),
              (std::vector<std::string>{"HIRED", "CODE"}));
    EXPECT_EQ(Column("indexcolumns", {"UNIQUE=1", "TABLE_NAME=dept"}, "COLUMN_NAME"),
              (std::vector<std::string>{"ID", "NAME"}));
}

TEST_F(OraMetaDataTest, ConstraintsByType) {
    EXPECT_EQ(Rows("constraints", {},
                   {"TABLE_NAME", "CONSTRAINT_NAME", "CONSTRAINT_TYPE", "INDEX_NAME",
                    "REFERRED_CONSTRAINT_NAME", "ENABLED"}),
              (TextRows{{"DEPT", "NN_DEPT_2", "CHECK", "<null>", "<null>", "1"},
                        {"DEPT", "PK_DEPT", "PRIMARY KEY", "SQLITE_AUTOINDEX_DEPT_1", "<null>", "1"},
                        {"DEPT", "UK_DEPT_2", "UNIQUE", "SQLITE_AUTOINDEX_DEPT_2", "<null>", "1"},
                        {"EMP", "FK_EMP_1", "FOREIGN KEY", "<null>", "PK_DEPT", "1"},
                        {"EMP", "PK_EMP", "PRIMARY KEY", "SQLITE_AUTOINDEX_EMP_1", "<null>", "1"}}));
    using V = std::vector<std::string>;
    const std::vector<std::pair<const char*, V>> cases = {
        {"CONSTRAINT_TYPE=PRIMARY KEY", {"PK_DEPT", "PK_EMP"}},
        {"CONSTRAINT_TYPE=check,unknown", {"NN_DEPT_2"}},
        {"CONSTRAINT_TYPE=UNIQUE, FOREIGN KEY", {"UK_DEPT_2", "FK_EMP_1"}},
        {"CONSTRAINT_TYPE=UNKNOWN", {}},
        {"CONSTRAINT_NAME=pk_emp", {"PK_EMP"}},
    };
    for (const auto& [restriction, names] : cases)
        EXPECT_EQ(Column("constraints", {restriction}, "CONSTRAINT_NAME"), names) << restriction;
}

TEST_F(OraMetaDataTest, UsersPackagesTypesAndSequences) {
    EXPECT_EQ(Column("users", {}, "USER_NAME"), (std::vector<std::string>{"QEL", "ZUV"}));
    EXPECT_EQ(Column("users", {"USER_NAME=zuv"}, "USER_NAME"), (std::vector<std::string>{"ZUV"}));
    EXPECT_EQ(Column("packages", {}, "PACKAGE_NAME"), (std::vector<std::string>{"SHOP"}));
    EXPECT_EQ(Column("packages", {"PACKAGE_NAME=other"}, "PACKAGE_NAME"), std::vector<std::string>{});
    const std::vector<std::string> types = Column("datatypes", {}, "TYPE_NAME");
    for (const char* t : {"BLOB", "DATE", "NUMBER", "VARCHAR2"})
        EXPECT_NE(std::find(types.begin(), types.end(), t), types.end()) << t;
    EXPECT_TRUE(std::is_sorted(types.begin(), types.end()));
    EXPECT_EQ(Rows("userdefinedtypes").size(), 0u);
    EXPECT_EQ(Rows("sequences").size(), 0u);
    EXPECT_EQ(FieldNames(*Ask("sequences")),
              (std::vector<std::string>{"SEQUENCE_CATALOG", "SEQUENCE_SCHEMA", "SEQUENCE_NAME", "CREATED",
                                        "LAST_DDL_TIME"}));
}

TEST_F(OraMetaDataTest, ServerErrorsPassThrough) {
    dbExec("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1);");
    EXPECT_EQ(OraErrorCode([&] { Ask("tables"); }), 3113);
}

// Older servers: no DESCEND column before 8.1, no index columns in ALL_CONSTRAINTS before 9.0.
TEST_F(OraMetaDataTest, OlderServersGetTheirOwnTexts) {
    struct Case {
        const char* banner;
        bool descend;
        bool constraintIndexes;
    };
    const std::vector<Case> cases = {
        {"Oracle8 Enterprise Edition Release 8.0.6.0.0 - Production", false, false},
        {"Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production", true, false},
        {"Oracle9i Enterprise Edition Release 9.2.0.1.0 - Production", true, true},
    };
    for (const auto& c : cases) {
        g_banner = c.banner;
        EntrySwap<decltype(dac::OCIServerVersion)> swap(dac::OCIServerVersion, OlderServerVersion);
        g_savedVersion = swap.Saved();
        auto conn = newConnection();
        conn->Connect("");
        {
            MetaData meta;
            TData* d = meta.GetMetaData(conn.get(), nullptr, "indexcolumns", Lines({"INDEX_NAME=emp_hired"}));
            EXPECT_EQ(meta.LastSQL().find("DECODE(IC.DESCEND, 'ASC', 0, 1) DESCENDING") != AnsiString::npos,
                      c.descend)
                << c.banner;
            EXPECT_EQ(meta.LastSQL().find(" 0 DESCENDING") != AnsiString::npos, !c.descend) << c.banner;
            TextRows rows = DataRows(*d);
            ASSERT_EQ(rows.size(), 2u);
            EXPECT_EQ(rows[0][8], c.descend ? "1" : "0") << c.banner;

            d = meta.GetMetaData(conn.get(), nullptr, "constraints", Lines({"CONSTRAINT_NAME=pk_dept"}));
            EXPECT_EQ(d->FindField("INDEX_NAME") != nullptr, c.constraintIndexes) << c.banner;
            EXPECT_EQ(FieldNames(*d).size(), c.constraintIndexes ? 11u : 8u) << c.banner;
        }
        conn.reset();
    }
}

// ---------------------------------------------------------------------------------------------
// The dictionary views themselves

TEST_F(OraMetaDataTest, DictionaryViewsAnswerTheirQualifiedAndUserForms) {
    using R = std::vector<std::vector<std::string>>;
    dbExec("CREATE TRIGGER emp_touch AFTER UPDATE ON emp BEGIN SELECT 1; END;");
    struct Case {
        const char* sql;
        R rows;
    };
    const std::vector<Case> cases = {
        {"SELECT COUNT(*) FROM USER_OBJECTS",
         {{"11"}}},  // 3 relations, 4 indexes, trigger, 2 routines, package
        {"SELECT OBJECT_TYPE, COUNT(*) FROM SYS.ALL_OBJECTS WHERE OWNER = 'QEL' GROUP BY OBJECT_TYPE ORDER "
         "BY 1",
         {{"FUNCTION", "1"},
          {"INDEX", "4"},
          {"PACKAGE", "1"},
          {"PROCEDURE", "1"},
          {"TABLE", "2"},
          {"TRIGGER", "1"},
          {"VIEW", "1"}}},
        {"SELECT TRIGGER_NAME, TABLE_NAME FROM PUBLIC.ALL_TRIGGERS", {{"EMP_TOUCH", "EMP"}}},
        {"SELECT COLUMN_NAME, POSITION FROM SYS.ALL_CONS_COLUMNS WHERE CONSTRAINT_NAME = 'FK_EMP_1'",
         {{"DEPT_ID", "1"}}},
        {"SELECT CONSTRAINT_NAME, SEARCH_CONDITION, DELETE_RULE FROM USER_CONSTRAINTS WHERE CONSTRAINT_TYPE "
         "IN ('C', "
         "'R') ORDER BY 1",
         {{"FK_EMP_1", "<null>", "CASCADE"}, {"NN_DEPT_2", "\"NAME\" IS NOT NULL", "<null>"}}},
        {"SELECT OWNER, SYNONYM_NAME, TABLE_OWNER, TABLE_NAME FROM ALL_SYNONYMS",
         {{"PUBLIC", "SHOP_SYN", "QEL", "SHOP"}}},
        {"SELECT VIEW_NAME FROM USER_VIEWS", {{"EMP_NAMES"}}},
        {"SELECT OBJECT_NAME, PROCEDURE_NAME, OVERLOAD FROM ALL_PROCEDURES WHERE OBJECT_TYPE = 'PACKAGE' "
         "ORDER BY 2, 3",
         {{"SHOP", "ADD_ITEM", "1"}, {"SHOP", "ADD_ITEM", "2"}, {"SHOP", "TOTAL", "<null>"}}},
        {"SELECT COUNT(*) FROM SYS.ALL_ERRORS", {{"0"}}},
        {"SELECT COUNT(*) FROM USER_ERRORS WHERE NAME = 'SHOP' AND TYPE = 'PACKAGE BODY'", {{"0"}}},
        {"SELECT USERNAME FROM USER_USERS", {{"QEL"}}},
        {"SELECT DATA_DEFAULT FROM USER_TAB_COLUMNS WHERE TABLE_NAME = 'EMP' AND COLUMN_NAME = 'HIRED'",
         {{"'2020-01-01 00:00:00'"}}},
        {"SELECT ARGUMENT_NAME, POSITION, SEQUENCE FROM USER_ARGUMENTS WHERE OBJECT_NAME = 'PING'",
         {{"<null>", "1", "1"}}},  // a routine without arguments has one row, as Oracle shows it
    };
    for (const auto& c : cases) EXPECT_EQ(Query(c.sql), c.rows) << c.sql;
}

TEST_F(OraMetaDataTest, DictionaryFollowsTheSchemaAndTheCurrentSchema) {
    dbExec("CREATE TABLE later(x VARCHAR2(5));");
    EXPECT_EQ(Query("SELECT OWNER, TABLE_NAME FROM ALL_TAB_COLUMNS WHERE COLUMN_NAME = 'X'"),
              (std::vector<std::vector<std::string>>{{"QEL", "LATER"}}));
    Run("ALTER SESSION SET CURRENT_SCHEMA = zuv");
    EXPECT_EQ(Query("SELECT OWNER FROM ALL_TABLES WHERE TABLE_NAME = 'LATER'"),
              (std::vector<std::vector<std::string>>{{"ZUV"}}));
    EXPECT_EQ(Query("SELECT COUNT(*) FROM USER_TABLES"), (std::vector<std::vector<std::string>>{{"3"}}));
}
