// Metadata from Oracle's data dictionary: the query texts over the SYS.ALL_* views, composed from
// the caller's restrictions. Every character of a text counts, trailing blanks included: callers
// and traces compare them as they stand.
#include "dataaccess/core/MemUtils.h"
#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Format.h"

namespace dac {

namespace {

// Joins a condition to what follows it in the query text.
void AppendAnd(AnsiString& condition) {
    if (!condition.empty()) condition += " AND ";
}

void PrependWhere(AnsiString& condition) {
    if (!condition.empty()) condition = "WHERE " + condition;
}

}  // namespace

TCRRecordSet* TOCIMetaData::CreateRecordSet() {
    auto* rs = new TOCIRecordSet();
    rs->GetCommand()->SetProp(prIntegerPrecision, 38);
    rs->GetCommand()->SetProp(prForceIntegers, true);
    return rs;
}

TOCIConnection& TOCIMetaData::Connection() {
    auto* c = dynamic_cast<TOCIConnection*>(QueryRecordSet().GetCommand()->GetConnection());
    rtl::Assert(c != nullptr, "TOCIMetaData: no Oracle connection");
    return *c;
}

AnsiString TOCIMetaData::ScopedSchema(const rtl::TStrings& restrictions, const AnsiString& schemaName) {
    if (LocaleUpperCase(Restriction(restrictions, "SCOPE")) == "LOCAL") return Connection().GetCachedSchema();
    return Restriction(restrictions, schemaName);
}

AnsiString TOCIMetaData::TypeListToSQL(const AnsiString& text, const std::vector<AnsiString>& names) {
    const std::vector<bool> flags = ParseTypes(text, names);
    AnsiString list;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!flags[i]) continue;
        if (!list.empty()) list += ", ";
        list += "'" + names[i] + "'";
    }
    return list.empty() ? AnsiString("''") : list;
}

// ---------------------------------------------------------------------------------------------
// Kinds and restrictions

TData* TOCIMetaData::GetMetaData(const AnsiString& kind, const rtl::TStrings& restrictions) {
    if (kind == "sequences") return GetSequences(restrictions);
    return TCRMetaData::GetMetaData(kind, restrictions);
}

void TOCIMetaData::FillMetaDataKinds(rtl::TStrings& list) {
    TCRMetaData::FillMetaDataKinds(list);
    for (const char* k : {"DataTypes", "Users", "UserDefinedTypes", "Packages", "Sequences"}) list.Add(k);
}

void TOCIMetaData::FillRestrictions(rtl::TStrings& list, const AnsiString& kind) {
    auto set = [&list](std::initializer_list<const char*> names) {
        list.Clear();
        for (const char* n : names) list.Add(n);
    };
    if (kind == "procedures")
        set({"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_PACKAGE", "PROCEDURE_NAME",
             "PROCEDURE_TYPE"});
    else if (kind == "procedureparameters")
        set({"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_PACKAGE", "PROCEDURE_NAME",
             "PARAMETER_NAME"});
    else if (kind == "packages")
        set({"PACKAGE_CATALOG", "PACKAGE_SCHEMA", "PACKAGE_NAME"});
    else if (kind == "users")
        set({"USER_NAME"});
    else if (kind == "userdefinedtypes")
        set({"TYPE_CATALOG", "TYPE_SCHEMA", "TYPE_NAME"});
    else if (kind == "sequences")
        set({"SEQUENCE_CATALOG", "SEQUENCE_SCHEMA", "SEQUENCE_NAME"});
    else
        TCRMetaData::FillRestrictions(list, kind);
}

// ---------------------------------------------------------------------------------------------
// Tables and columns

TData* TOCIMetaData::GetTables(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", ScopedSchema(r, "TABLE_SCHEMA"));
    AddWhere(c, "OBJECT_NAME", Restriction(r, "TABLE_NAME"));
    AppendAnd(c);
    const AnsiString types = TypeListToSQL(Restriction(r, "TABLE_TYPE"), {"TABLE", "VIEW", "SYNONYM"});
    return OpenQuery(rtl::Format(
        "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, OBJECT_NAME TABLE_NAME, OBJECT_TYPE TABLE_TYPE, "
        "CREATED, "
        "LAST_DDL_TIME FROM SYS.ALL_OBJECTS WHERE %s OBJECT_TYPE IN (%s) ORDER BY OWNER, OBJECT_NAME ",
        {c, types}));
}

TData* TOCIMetaData::GetColumns(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", Restriction(r, "TABLE_SCHEMA"));
    AddWhere(c, "TABLE_NAME", Restriction(r, "TABLE_NAME"));
    AddWhere(c, "COLUMN_NAME", Restriction(r, "COLUMN_NAME"));
    PrependWhere(c);
    return OpenQuery(rtl::Format(
        "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, COLUMN_ID POSITION, "
        "DATA_TYPE, "
        "DATA_LENGTH, DATA_PRECISION, DATA_SCALE, DECODE(NULLABLE, 'Y', 1, 0) NULLABLE, DATA_TYPE_MOD, "
        "DATA_TYPE_OWNER FROM SYS.ALL_TAB_COLUMNS %s ORDER BY OWNER, TABLE_NAME, COLUMN_ID ",
        {c}));
}

// ---------------------------------------------------------------------------------------------
// Procedures and their parameters

// Stand-alone routines come from ALL_OBJECTS; packaged ones only show in ALL_ARGUMENTS, one row per
// overload, where a function's result is argument position 0.
TData* TOCIMetaData::GetProcedures(const rtl::TStrings& r) {
    const AnsiString package = Restriction(r, "PROCEDURE_PACKAGE");
    const AnsiString type = Restriction(r, "PROCEDURE_TYPE");
    const bool standAloneOnly = package == "\"\"";
    AnsiString c;
    AddWhere(c, "OWNER", ScopedSchema(r, "PROCEDURE_SCHEMA"));
    AddWhere(c, "OBJECT_NAME", Restriction(r, "PROCEDURE_NAME"));

    AnsiString q;
    if (package.empty() || standAloneOnly) {
        AnsiString c1 = c;
        AppendAnd(c1);
        q = rtl::Format(
            "SELECT '' PROCEDURE_CATALOG, OWNER PROCEDURE_SCHEMA, OBJECT_NAME PROCEDURE_NAME, OBJECT_TYPE "
            "PROCEDURE_TYPE, '' PROCEDURE_PACKAGE, CREATED, LAST_DDL_TIME, STATUS FROM SYS.ALL_OBJECTS WHERE "
            "%s "
            "OBJECT_TYPE IN (%s) ",
            {c1, TypeListToSQL(type, {"PROCEDURE", "FUNCTION"})});
    }
    if (!standAloneOnly) {
        if (!package.empty()) {
            AddWhere(c, "PACKAGE_NAME", package);
        } else {
            AppendAnd(c);
            c += "PACKAGE_NAME is not NULL";
        }
        AppendAnd(c);
        const std::vector<bool> flags = ParseTypes(type, {"PROCEDURE", "FUNCTION"});
        AnsiString f;
        if (!flags[0] && !flags[1])
            f = "WHERE 1 = 0";
        else if (flags[0] != flags[1])
            f = AnsiString("WHERE POSITION = ") + (flags[0] ? "1" : "0");
        if (!q.empty()) q += "\rUNION ALL\r";
        q += rtl::Format(
            "SELECT '' PROCEDURE_CATALOG, OWNER PROCEDURE_SCHEMA, DECODE(OVERLOAD, NULL, OBJECT_NAME, "
            "OBJECT_NAME || "
            "':' || OVERLOAD) PROCEDURE_NAME, DECODE(POSITION, 0, 'FUNCTION', 'PROCEDURE') PROCEDURE_TYPE, "
            "PACKAGE_NAME PROCEDURE_PACKAGE, TO_DATE(NULL) CREATED, TO_DATE(NULL) LAST_DDL_TIME, '' STATUS "
            "FROM ( "
            "SELECT OWNER, PACKAGE_NAME, OBJECT_NAME, OVERLOAD, MIN(POSITION) POSITION FROM "
            "SYS.ALL_ARGUMENTS WHERE "
            "%s DATA_LEVEL = 0 GROUP BY OWNER, PACKAGE_NAME, OBJECT_NAME, OVERLOAD ) %s",
            {c, f});
    }
    q += "\rORDER BY PROCEDURE_SCHEMA, PROCEDURE_PACKAGE, PROCEDURE_NAME";
    return OpenQuery(q);
}

TData* TOCIMetaData::GetProcedureParameters(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", Restriction(r, "PROCEDURE_SCHEMA"));
    // Without a package only stand-alone routines are asked for.
    AddWhere(c, "PACKAGE_NAME", true, Restriction(r, "PROCEDURE_PACKAGE"));
    AddWhere(c, "OBJECT_NAME", Restriction(r, "PROCEDURE_NAME"));
    AddWhere(c, "ARGUMENT_NAME", Restriction(r, "PARAMETER_NAME"));
    return OpenQuery(rtl::Format(
        "SELECT '' PROCEDURE_CATALOG, OWNER PROCEDURE_SCHEMA, OBJECT_NAME PROCEDURE_NAME, ARGUMENT_NAME "
        "PARAMETER_NAME, POSITION, IN_OUT DIRECTION, DATA_TYPE, DATA_LENGTH, DATA_PRECISION, DATA_SCALE, "
        "TYPE_OWNER, TYPE_NAME, TYPE_SUBNAME, TYPE_LINK FROM SYS.ALL_ARGUMENTS WHERE %s AND DATA_LEVEL = 0 "
        "AND "
        "(ARGUMENT_NAME IS NOT NULL OR POSITION = 0) ORDER BY OWNER, OBJECT_NAME, OVERLOAD, POSITION",
        {c}));
}

// ---------------------------------------------------------------------------------------------
// Indexes and constraints

TData* TOCIMetaData::GetIndexes(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "I.OWNER", Restriction(r, "INDEX_SCHEMA"));
    AddWhere(c, "I.TABLE_OWNER", Restriction(r, "TABLE_SCHEMA"));
    AddWhere(c, "I.TABLE_NAME", Restriction(r, "TABLE_NAME"));
    AddWhere(c, "I.INDEX_NAME", Restriction(r, "INDEX_NAME"));
    AppendAnd(c);
    return OpenQuery(rtl::Format(
        "SELECT '' TABLE_CATALOG, I.TABLE_OWNER TABLE_SCHEMA, I.TABLE_NAME, '' INDEX_CATALOG, I.OWNER "
        "INDEX_SCHEMA, I.INDEX_NAME, DECODE(I.UNIQUENESS, 'UNIQUE', 1, 0) \"UNIQUE\", I.INDEX_TYPE, "
        "O.CREATED, "
        "O.LAST_DDL_TIME, I.STATUS FROM SYS.ALL_OBJECTS O, SYS.ALL_INDEXES I WHERE %s O.OBJECT_TYPE = "
        "'INDEX' "
        "AND I.OWNER = O.OWNER AND I.INDEX_NAME = O.OBJECT_NAME ORDER BY I.OWNER, I.TABLE_OWNER, "
        "I.TABLE_NAME, "
        "I.INDEX_NAME ",
        {c}));
}

TData* TOCIMetaData::GetIndexColumns(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "IC.INDEX_OWNER", Restriction(r, "INDEX_SCHEMA"));
    AddWhere(c, "IC.TABLE_OWNER", Restriction(r, "TABLE_SCHEMA"));
    AddWhere(c, "IC.TABLE_NAME", Restriction(r, "TABLE_NAME"));
    AddWhere(c, "IC.INDEX_NAME", Restriction(r, "INDEX_NAME"));
    // Servers before 8.1 have no DESCEND column.
    const AnsiString descending =
        Connection().GetOracleVersion() >= 8100 ? "DECODE(IC.DESCEND, 'ASC', 0, 1)" : "0";
    const AnsiString unique = Restriction(r, "UNIQUE");
    if (unique != "0" && unique != "1") {
        PrependWhere(c);
        return OpenQuery(rtl::Format(
            "SELECT '' TABLE_CATALOG, TABLE_OWNER TABLE_SCHEMA, TABLE_NAME, '' INDEX_CATALOG, INDEX_OWNER "
            "INDEX_SCHEMA, INDEX_NAME, COLUMN_NAME, COLUMN_POSITION, %s DESCENDING FROM SYS.ALL_IND_COLUMNS "
            "IC %s "
            "ORDER BY INDEX_OWNER, TABLE_OWNER, TABLE_NAME, INDEX_NAME, COLUMN_POSITION",
            {descending, c}));
    }
    AddWhere(c, "I.UNIQUENESS", unique == "1" ? "UNIQUE" : "NONUNIQUE");
    AppendAnd(c);
    return OpenQuery(rtl::Format(
        "SELECT '' TABLE_CATALOG, IC.TABLE_OWNER TABLE_SCHEMA, IC.TABLE_NAME, '' INDEX_CATALOG, "
        "IC.INDEX_OWNER "
        "INDEX_SCHEMA, IC.INDEX_NAME, IC.COLUMN_NAME, IC.COLUMN_POSITION, %s DESCENDING FROM "
        "SYS.ALL_IND_COLUMNS "
        "IC, SYS.ALL_INDEXES I WHERE %s I.OWNER = IC.INDEX_OWNER AND I.INDEX_NAME = IC.INDEX_NAME ORDER BY "
        "IC.INDEX_OWNER, IC.TABLE_OWNER, IC.TABLE_NAME, IC.INDEX_NAME, IC.COLUMN_POSITION",
        {descending, c}));
}

TData* TOCIMetaData::GetConstraints(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", Restriction(r, "TABLE_SCHEMA"));
    AddWhere(c, "TABLE_NAME", Restriction(r, "TABLE_NAME"));
    AddWhere(c, "CONSTRAINT_NAME", Restriction(r, "CONSTRAINT_NAME"));
    const AnsiString types = Restriction(r, "CONSTRAINT_TYPE");
    if (!types.empty()) {
        const std::vector<bool> f =
            ParseTypes(types, {"CHECK", "PRIMARY KEY", "UNIQUE", "FOREIGN KEY", "UNKNOWN"});
        const bool unknown = f[4];
        if (!(f[0] && f[1] && f[2] && f[3] && unknown)) {
            // The known letters asked for; with UNKNOWN, every letter except those not asked for.
            static const char* const letters[] = {"'C'", "'P'", "'U'", "'R'"};
            AnsiString l;
            for (int i = 0; i < 4; ++i) {
                if (f[i] == unknown) continue;
                if (!l.empty()) l += ", ";
                l += letters[i];
            }
            AppendAnd(c);
            c += l.empty() ? AnsiString("0 = 1")
                           : AnsiString(unknown ? "NOT " : "") + "CONSTRAINT_TYPE IN (" + l + ")";
        }
    }
    PrependWhere(c);
    // Servers before 9.0 have no index columns in ALL_CONSTRAINTS.
    if (Connection().GetOracleVersion() < 9000)
        return OpenQuery(
            rtl::Format("SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, TABLE_NAME, CONSTRAINT_NAME, "
                        "DECODE(CONSTRAINT_TYPE, 'C', "
                        "'CHECK', 'P', 'PRIMARY KEY', 'U', 'UNIQUE', 'R', 'FOREIGN KEY', 'UNKNOWN') "
                        "CONSTRAINT_TYPE, R_OWNER "
                        "REFERRED_TABLE_OWNER, R_CONSTRAINT_NAME REFERRED_CONSTRAINT_NAME, DECODE(STATUS, "
                        "'ENABLED', 1, 0) "
                        "ENABLED FROM SYS.ALL_CONSTRAINTS %s ORDER BY OWNER, TABLE_NAME, CONSTRAINT_NAME",
                        {c}));
    return OpenQuery(rtl::Format(
        "SELECT '' TABLE_CATALOG, OWNER TABLE_SCHEMA, TABLE_NAME, CONSTRAINT_NAME, DECODE(CONSTRAINT_TYPE, "
        "'C', "
        "'CHECK', 'P', 'PRIMARY KEY', 'U', 'UNIQUE', 'R', 'FOREIGN KEY', 'UNKNOWN') CONSTRAINT_TYPE, '' "
        "INDEX_CATALOG, INDEX_OWNER INDEX_SCHEMA, INDEX_NAME, R_OWNER REFERRED_TABLE_OWNER, "
        "R_CONSTRAINT_NAME "
        "REFERRED_CONSTRAINT_NAME, DECODE(STATUS, 'ENABLED', 1, 0) ENABLED FROM SYS.ALL_CONSTRAINTS %s ORDER "
        "BY "
        "OWNER, TABLE_NAME, CONSTRAINT_NAME",
        {c}));
}

// ---------------------------------------------------------------------------------------------
// Types, users, packages and sequences

TData* TOCIMetaData::GetDataTypes(const rtl::TStrings&) {
    return OpenQuery("SELECT TYPE_NAME FROM SYS.ALL_TYPES WHERE OWNER IS NULL ORDER BY TYPE_NAME");
}

TData* TOCIMetaData::GetUsers(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "USERNAME", Restriction(r, "USER_NAME"));
    PrependWhere(c);
    return OpenQuery(
        rtl::Format("SELECT USERNAME USER_NAME, CREATED FROM SYS.ALL_USERS %s ORDER BY USERNAME", {c}));
}

TData* TOCIMetaData::GetPackages(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", Restriction(r, "PACKAGE_SCHEMA"));
    AddWhere(c, "OBJECT_NAME", Restriction(r, "PACKAGE_NAME"));
    AppendAnd(c);
    return OpenQuery(
        rtl::Format("SELECT '' PACKAGE_CATALOG, OWNER PACKAGE_SCHEMA, OBJECT_NAME PACKAGE_NAME, CREATED, "
                    "LAST_DDL_TIME, STATUS "
                    "FROM SYS.ALL_OBJECTS WHERE %s OBJECT_TYPE = 'PACKAGE' ORDER BY OWNER, OBJECT_NAME",
                    {c}));
}

TData* TOCIMetaData::GetUserDefinedTypes(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", Restriction(r, "TYPE_SCHEMA"));
    AddWhere(c, "OBJECT_NAME", Restriction(r, "TYPE_NAME"));
    AppendAnd(c);
    return OpenQuery(
        rtl::Format("SELECT '' TYPE_CATALOG, OWNER TYPE_SCHEMA, OBJECT_NAME TYPE_NAME, CREATED, "
                    "LAST_DDL_TIME, STATUS FROM "
                    "SYS.ALL_OBJECTS WHERE %s OBJECT_TYPE = 'TYPE' ORDER BY OWNER, OBJECT_NAME",
                    {c}));
}

TData* TOCIMetaData::GetSequences(const rtl::TStrings& r) {
    AnsiString c;
    AddWhere(c, "OWNER", ScopedSchema(r, "SEQUENCE_SCHEMA"));
    AddWhere(c, "OBJECT_NAME", Restriction(r, "SEQUENCE_NAME"));
    AppendAnd(c);
    return OpenQuery(
        rtl::Format("SELECT '' SEQUENCE_CATALOG, OWNER SEQUENCE_SCHEMA, OBJECT_NAME SEQUENCE_NAME, CREATED, "
                    "LAST_DDL_TIME FROM "
                    "SYS.ALL_OBJECTS WHERE %s OBJECT_TYPE IN ('SEQUENCE') ORDER BY OWNER, OBJECT_NAME ",
                    {c}));
}

}  // namespace dac
