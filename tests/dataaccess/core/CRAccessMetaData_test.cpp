// The driver's metadata provider: kind dispatch, the in-memory answers, the result layouts and the
// query helpers, over the fake driver.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "tests/dataaccess/core/DataRows.h"
#include "tests/dataaccess/core/FakeDriver.h"

namespace dac {
namespace {

using test::DataRows;
using test::FieldNames;
using test::TextRows;

std::string MessageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "<no exception>";
}

// The restriction lines of a call.
struct Lines : rtl::TStringList {
    Lines(std::initializer_list<const char*> lines = {}) {
        for (const char* l : lines) Add(l);
    }
};

// A driver that answers "tables" with a query built from its restrictions, and leaves every
// other query kind to the base.
class FakeMetaData : public TCRMetaData {
public:
    using TCRMetaData::AddField;
    using TCRMetaData::CreateColumnsFields;
    using TCRMetaData::CreateConstraintsFields;
    using TCRMetaData::CreateDatabasesFields;
    using TCRMetaData::CreateIndexColumnsFields;
    using TCRMetaData::CreateIndexesFields;
    using TCRMetaData::CreateProcedureParametersFields;
    using TCRMetaData::CreateProceduresFields;
    using TCRMetaData::CreateTablesFields;

    fake::FakeCommand& Command() { return static_cast<fake::FakeRecordSet&>(QueryRecordSet()).Command(); }

protected:
    TCRRecordSet* CreateRecordSet() override { return new fake::FakeRecordSet(); }
    TData* GetTables(const rtl::TStrings& r) override {
        AnsiString c;
        AddWhere(c, "OWNER", Restriction(r, "TABLE_SCHEMA"));
        AddWhere(c, "OBJECT_NAME", Restriction(r, "TABLE_NAME"));
        return OpenQuery("SELECT * FROM OBJECTS WHERE " + c);
    }
};

// A provider that only has the record set; every query kind is the base's.
class BareMetaData : public TCRMetaData {
protected:
    TCRRecordSet* CreateRecordSet() override { return new fake::FakeRecordSet(); }
};

TData* Ask(TCRMetaData& m, const AnsiString& kind, const Lines& restrictions = {}) {
    return m.GetMetaData(nullptr, nullptr, kind, restrictions);
}

const std::vector<std::string> kKinds = {"MetaDataKinds", "Restrictions", "Tables",
                                         "Columns",       "Procedures",   "ProcedureParameters",
                                         "Indexes",       "IndexColumns", "Constraints"};

// ---------------------------------------------------------------------------------------------
// Kinds and restrictions answered from memory

TEST(DriverMetaData, KindListAnswersEmptyAndAnyCaseOfMetaDataKinds) {
    FakeMetaData m;
    for (const char* kind : {"", "   ", "MetaDataKinds", "metadatakinds", " METADATAKINDS "}) {
        TData* d = Ask(m, kind);
        ASSERT_EQ(d, &m.MemoryStorage()) << kind;
        EXPECT_EQ(FieldNames(*d), std::vector<std::string>{"METADATA_NAME"});
        TextRows rows = DataRows(*d);
        ASSERT_EQ(rows.size(), kKinds.size()) << kind;
        for (size_t i = 0; i < kKinds.size(); ++i) EXPECT_EQ(rows[i][0], kKinds[i]);
    }
}

TEST(DriverMetaData, RestrictionsOfOneKindAreListedUnderTheLowerCasedKind) {
    FakeMetaData m;
    // METADATA_NAME is the name the "restrictions" kind lists for itself; METAINFO_NAME is kept.
    for (const char* restriction :
         {"METAINFO_NAME=Tables", "METADATA_NAME=Tables", "METADATA_NAME= TABLES "}) {
        TextRows rows = DataRows(*Ask(m, "restrictions", Lines({restriction})));
        EXPECT_EQ(rows, (TextRows{{"tables", "TABLE_CATALOG"},
                                  {"tables", "TABLE_SCHEMA"},
                                  {"tables", "TABLE_NAME"},
                                  {"tables", "TABLE_TYPE"}}))
            << restriction;
    }
}

TEST(DriverMetaData, RestrictionsFilterOnTheAdvertisedNameNotUnfiltered) {
    FakeMetaData m;
    rtl::TStringList advertised;
    m.GetRestrictionsList(advertised, "Restrictions");
    ASSERT_EQ(advertised.Count(), 1);
    TextRows rows = DataRows(*Ask(m, "restrictions", Lines({(advertised[0] + "=Constraints").c_str()})));
    ASSERT_EQ(rows.size(), 5u);
    for (const auto& r : rows) EXPECT_EQ(r[0], "constraints");
}

TEST(DriverMetaData, RestrictionsOfEveryKindKeepTheListedKindNames) {
    FakeMetaData m;
    TextRows rows = DataRows(*Ask(m, "Restrictions"));
    EXPECT_EQ(FieldNames(m.MemoryStorage()), (std::vector<std::string>{"METADATA_NAME", "RESTRICTION_NAME"}));
    // Counts per kind in list order; MetaDataKinds has none.
    const std::vector<std::pair<std::string, size_t>> expected = {
        {"Restrictions", 1},        {"Tables", 4},  {"Columns", 4},      {"Procedures", 4},
        {"ProcedureParameters", 4}, {"Indexes", 4}, {"IndexColumns", 4}, {"Constraints", 5}};
    size_t at = 0;
    for (const auto& [kind, count] : expected) {
        for (size_t i = 0; i < count; ++i, ++at) {
            ASSERT_LT(at, rows.size());
            EXPECT_EQ(rows[at][0], kind);
        }
    }
    EXPECT_EQ(rows.size(), at);
    EXPECT_EQ(rows[0][1], "METADATA_NAME");
    EXPECT_EQ(rows.back()[1], "CONSTRAINT_TYPE");
}

TEST(DriverMetaData, RestrictionListsPerKind) {
    FakeMetaData m;
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"Tables", {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"}},
        {" indexcolumns ", {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "INDEX_NAME"}},
        {"ProcedureParameters",
         {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_NAME", "PARAMETER_NAME"}},
        {"MetaDataKinds", {}},
        {"nothing", {}},
    };
    for (const auto& [kind, names] : cases) {
        rtl::TStringList list;
        list.Add("left over");
        m.GetRestrictionsList(list, kind);
        EXPECT_EQ(list.ToVector(), names) << kind;
    }
}

TEST(DriverMetaData, EachAnswerRedefinesTheMemoryStorage) {
    FakeMetaData m;
    EXPECT_EQ(DataRows(*Ask(m, "")).size(), kKinds.size());
    EXPECT_EQ(DataRows(*Ask(m, "restrictions", Lines({"METADATA_NAME=indexes"}))).size(), 4u);
    EXPECT_EQ(m.MemoryStorage().Fields().Count(), 2);
    TextRows again = DataRows(*Ask(m, "MetaDataKinds"));
    EXPECT_EQ(m.MemoryStorage().Fields().Count(), 1);
    ASSERT_EQ(again.size(), kKinds.size());
    EXPECT_EQ(again.back()[0], "Constraints");
}

// ---------------------------------------------------------------------------------------------
// Dispatch to the driver

TEST(DriverMetaData, UnsupportedKindsRaise) {
    FakeMetaData m;
    for (const char* kind :
         {"databases", "DataTypes", "users", "roles", "userdefinedtypes", "packages", "sequences", "bogus"})
        EXPECT_EQ(MessageOf([&] { Ask(m, kind); }), "Unsupported metadata kind") << kind;
}

TEST(DriverMetaData, QueryKindsTheDriverLacksAreAbstract) {
    BareMetaData m;
    for (const char* kind : {"tables", "columns", "procedures", "procedureparameters", "indexes",
                             "indexcolumns", "constraints"}) {
        EXPECT_THROW(Ask(m, kind), rtl::EAbstractError) << kind;
    }
}

TEST(DriverMetaData, QueryKindsRunTheDriverRecordSetWithTheConnection) {
    FakeMetaData m;
    fake::FakeConnection conn;
    m.Command().Columns = {{"NAME", dtString, 30}};
    m.Command().Rows = {{rtl::Variant("T1")}, {rtl::Variant("T2")}};
    TData* d = m.GetMetaData(&conn, nullptr, " TABLES ", Lines({"TABLE_SCHEMA=Qel", "TABLE_NAME= t1 "}));
    ASSERT_EQ(d, &m.QueryRecordSet());
    EXPECT_EQ(m.Command().GetConnection(), &conn);
    EXPECT_EQ(m.Command().SQL(), "SELECT * FROM OBJECTS WHERE OWNER = 'Qel' AND OBJECT_NAME = 't1'");
    EXPECT_EQ(DataRows(*d), (TextRows{{"T1"}, {"T2"}}));
    EXPECT_TRUE(m.QueryRecordSet().FetchAllRows());
    EXPECT_FALSE(m.QueryRecordSet().FlatBuffers());

    // A second call runs the record set again with its own text.
    d = Ask(m, "tables", Lines({"TABLE_NAME=t2"}));
    EXPECT_EQ(m.Command().SQL(), "SELECT * FROM OBJECTS WHERE OBJECT_NAME = 't2'");
    EXPECT_EQ(DataRows(*d).size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Layouts

TEST(DriverMetaData, LayoutsNameTypeAndSizeTheirFields) {
    FakeMetaData m;
    struct Case {
        std::function<void()> define;
        std::string fields;  // NAME:type:size, ...
    };
    const std::vector<Case> cases = {
        {[&] { m.CreateTablesFields(); },
         "TABLE_CATALOG:1:101 TABLE_SCHEMA:1:101 TABLE_NAME:1:101 TABLE_TYPE:1:51"},
        {[&] { m.CreateColumnsFields(); },
         "TABLE_CATALOG:1:101 TABLE_SCHEMA:1:101 TABLE_NAME:1:101 COLUMN_NAME:1:101 POSITION:4:4 "
         "DATA_TYPE:1:51 "
         "DATA_LENGTH:4:4 DATA_PRECISION:4:4 DATA_SCALE:4:4 NULLABLE:4:4 DEFAULT_VALUE:14:" +
             std::to_string(PtrSize)},
        {[&] { m.CreateProceduresFields(); },
         "PROCEDURE_CATALOG:1:101 PROCEDURE_SCHEMA:1:101 PROCEDURE_NAME:1:101 PROCEDURE_TYPE:1:51"},
        {[&] { m.CreateProcedureParametersFields(); },
         "PROCEDURE_CATALOG:1:101 PROCEDURE_SCHEMA:1:101 PROCEDURE_NAME:1:101 PARAMETER_NAME:1:101 "
         "POSITION:4:4 "
         "DIRECTION:1:11 DATA_TYPE:1:51 DATA_LENGTH:4:4 DATA_PRECISION:4:4 DATA_SCALE:4:4"},
        {[&] { m.CreateIndexesFields(); },
         "TABLE_CATALOG:1:101 TABLE_SCHEMA:1:101 TABLE_NAME:1:101 INDEX_CATALOG:1:101 INDEX_SCHEMA:1:101 "
         "INDEX_NAME:1:101 UNIQUE:4:4"},
        {[&] { m.CreateIndexColumnsFields(); },
         "TABLE_CATALOG:1:101 TABLE_SCHEMA:1:101 TABLE_NAME:1:101 INDEX_CATALOG:1:101 INDEX_SCHEMA:1:101 "
         "INDEX_NAME:1:101 COLUMN_NAME:1:101 COLUMN_POSITION:4:4 SORT_ORDER:1:5"},
        {[&] { m.CreateConstraintsFields(); },
         "TABLE_CATALOG:1:101 TABLE_SCHEMA:1:101 TABLE_NAME:1:101 CONSTRAINT_NAME:1:101 "
         "CONSTRAINT_TYPE:1:101 "
         "INDEX_CATALOG:1:101 INDEX_SCHEMA:1:101 INDEX_NAME:1:101"},
        {[&] { m.CreateDatabasesFields(); }, "DATABASE_NAME:1:101"},
    };
    for (const auto& c : cases) {
        c.define();
        std::string got;
        const TFieldDescs& f = m.MemoryStorage().Fields();
        for (int i = 0; i < f.Count(); ++i) {
            if (i) got += " ";
            got += f[i]->Name + ":" + std::to_string(f[i]->DataType) + ":" + std::to_string(f[i]->Size);
            EXPECT_EQ(f[i]->FieldNo, i + 1);
            EXPECT_EQ(f[i]->ActualName, f[i]->Name);
        }
        EXPECT_EQ(got, c.fields);
    }
}

TEST(DriverMetaData, AddFieldSizesByType) {
    FakeMetaData m;
    const std::vector<std::tuple<TDataType, int, int>> cases = {
        {dtString, 7, 8}, {dtWideString, 7, 16}, {dtInt8, 0, 1},     {dtSmallint, 0, 2},   {dtInteger, 0, 4},
        {dtFloat, 0, 8},  {dtDateTime, 0, 8},    {dtLargeint, 0, 8}, {dtMemo, 0, PtrSize},
    };
    for (const auto& [type, length, size] : cases) {
        m.MemoryStorage().ClearFields();
        m.AddField("F", type, length);
        const TFieldDesc* f = m.MemoryStorage().Fields()[0];
        EXPECT_EQ(f->Size, size) << type;
        EXPECT_EQ(f->Length, length) << type;
    }
}

// ---------------------------------------------------------------------------------------------
// Query helpers

TEST(DriverMetaData, AddWhereJoinsQuotesAndNormalises) {
    FakeMetaData m;  // the fake dialect keeps the case of unquoted names
    struct Case {
        const char* before;
        bool addNull;
        const char* value;
        const char* after;
    };
    const std::vector<Case> cases = {
        {"", false, "", ""},
        {"A = 'x'", false, "", "A = 'x'"},
        {"", true, "", "COL IS NULL"},
        {"A = 'x'", true, "", "A = 'x' AND COL IS NULL"},
        {"", false, "emp", "COL = 'emp'"},
        {"A = 'x'", false, "emp", "A = 'x' AND COL = 'emp'"},
        {"", false, "\"Mixed Case\"", "COL = 'Mixed Case'"},
        {"", false, "O'Brien", "COL = 'O''Brien'"},
        {"", true, "\"\"", "COL IS NULL"},
        {"", false, "\"\"", ""},
    };
    for (const auto& c : cases) {
        AnsiString cond = c.before;
        m.AddWhere(cond, "COL", c.addNull, c.value);
        EXPECT_EQ(cond, c.after) << c.before << " | " << c.value;
    }
}

TEST(DriverMetaData, ParseTypesSetsTheFlagsOfListedNames) {
    const std::vector<AnsiString> names = {"TABLE", "VIEW", "SYNONYM"};
    const std::vector<std::pair<const char*, std::vector<bool>>> cases = {
        {"", {true, true, true}},
        {"table, VIEW", {true, true, false}},
        {" synonym ", {false, false, true}},
        {"INDEX", {false, false, false}},
        {"view,,bogus,View", {false, true, false}},
    };
    for (const auto& [text, flags] : cases) EXPECT_EQ(TCRMetaData::ParseTypes(text, names), flags) << text;
    EXPECT_EQ(TCRMetaData::ParseTypes("primary key, unknown", {"PRIMARY KEY", "UNKNOWN"}),
              (std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace dac
