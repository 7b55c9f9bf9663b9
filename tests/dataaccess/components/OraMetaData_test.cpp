// The metadata dataset of a session: kinds and restrictions, closing on changes, connection and
// disconnected-mode handling.
#include <memory>
#include <string>
#include <vector>

#include "SessionFixture.h"

using namespace dac;

namespace {

class OraMetaDataComponentTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        dbExec(
            "CREATE TABLE region(code CHAR(2) PRIMARY KEY, title VARCHAR2(40) NOT NULL);"
            "CREATE TABLE shop(id NUMBER(9,0) PRIMARY KEY, region CHAR(2) REFERENCES region(code), "
            "name VARCHAR2(60));"
            "CREATE INDEX shop_name ON shop(name);"
            "INSERT INTO oci_procedure(package, name, overload, kind) VALUES ('stats', 'daily', 0, "
            "'FUNCTION'), (NULL, 'close_day', 0, 'PROCEDURE');"
            "INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction) "
            "VALUES "
            "('stats', 'daily', 0, 0, NULL, 'NUMBER', 'OUT'), ('stats', 'daily', 0, 1, 'p_shop', 'NUMBER', "
            "'IN'),"
            "(NULL, 'close_day', 0, 1, 'p_day', 'DATE', 'IN');");
        session_ = newSession();
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }

    std::unique_ptr<TOraMetaData> Meta(const std::string& kind,
                                       const std::vector<std::string>& restrictions = {}) {
        auto m = std::make_unique<TOraMetaData>();
        m->SetSession(session_.get());
        m->SetMetaDataKind(kind);
        for (const auto& r : restrictions) m->Restrictions().Add(r);
        return m;
    }

    // The values of one column, row by row, joined by ",".
    static std::string Column(TOraMetaData& m, const char* field) {
        std::string out;
        for (m.First(); !m.Eof(); m.Next())
            out += (out.empty() ? "" : ",") + m.FieldByName(field)->AsString();
        return out;
    }

    std::unique_ptr<TOraSession> session_;
};

TEST_F(OraMetaDataComponentTest, EveryKindAnswersFromTheDictionary) {
    struct Case {
        const char* kind;
        std::vector<std::string> restrictions;
        const char* field;
        const char* expected;
    } cases[] = {
        {"tables", {"SCOPE=LOCAL"}, "TABLE_NAME", "ITEM,REGION,SHOP"},
        {"tables", {"TABLE_NAME=shop"}, "TABLE_TYPE", "TABLE"},
        {"columns", {"TABLE_NAME=SHOP"}, "COLUMN_NAME", "ID,REGION,NAME"},
        {"columns", {"TABLE_NAME=SHOP"}, "DATA_TYPE", "NUMBER,CHAR,VARCHAR2"},
        {"columns", {"TABLE_NAME=REGION", "COLUMN_NAME=TITLE"}, "NULLABLE", "0"},
        {"procedures", {}, "PROCEDURE_NAME", "CLOSE_DAY,DAILY"},
        {"procedures", {"PROCEDURE_TYPE=FUNCTION"}, "PROCEDURE_PACKAGE", "STATS"},
        {"procedureparameters", {"PROCEDURE_NAME=close_day"}, "PARAMETER_NAME", "P_DAY"},
        // The primary key of a NUMBER column has an index of SQLite's own.
        {"indexes", {"TABLE_NAME=SHOP"}, "INDEX_NAME", "SHOP_NAME,SQLITE_AUTOINDEX_SHOP_1"},
        {"indexcolumns", {"INDEX_NAME=SHOP_NAME"}, "COLUMN_NAME", "NAME"},
        {"constraints",
         {"TABLE_NAME=SHOP", "CONSTRAINT_TYPE=PRIMARY KEY,FOREIGN KEY"},
         "CONSTRAINT_NAME",
         "FK_SHOP_1,PK_SHOP"},
        {"users", {"USER_NAME=qel"}, "USER_NAME", "QEL"},
        {"restrictions",
         {"METADATA_NAME=Tables"},
         "RESTRICTION_NAME",
         "TABLE_CATALOG,TABLE_SCHEMA,TABLE_NAME,TABLE_TYPE"},
        // The name older callers use keeps working.
        {"restrictions",
         {"METAINFO_NAME=Indexes"},
         "RESTRICTION_NAME",
         "TABLE_CATALOG,TABLE_SCHEMA,TABLE_NAME,INDEX_NAME"},
    };
    for (const Case& c : cases) {
        auto m = Meta(c.kind, c.restrictions);
        m->Open();
        EXPECT_EQ(c.expected, Column(*m, c.field))
            << c.kind << " " << (c.restrictions.empty() ? "" : c.restrictions[0]);
        EXPECT_FALSE(m->CanModify()) << c.kind;
    }
}

TEST_F(OraMetaDataComponentTest, KindIsTrimmedAndCaseBlind) {
    auto plain = Meta("tables", {"SCOPE=LOCAL"});
    plain->Open();
    auto mixed = Meta("  TaBlEs ", {"SCOPE=LOCAL"});
    mixed->Open();
    EXPECT_EQ(Column(*plain, "TABLE_NAME"), Column(*mixed, "TABLE_NAME"));
    auto kinds = Meta("");
    kinds->Open();
    EXPECT_NE(std::string::npos, Column(*kinds, "METADATA_NAME").find("ProcedureParameters"));
}

TEST_F(OraMetaDataComponentTest, ChangesOfKindOrRestrictionsCloseTheDataset) {
    auto m = Meta("tables", {"SCOPE=LOCAL"});
    m->Open();
    m->SetMetaDataKind("tables");
    EXPECT_TRUE(m->Active()) << "the same kind changes nothing";
    m->SetMetaDataKind("columns");
    EXPECT_FALSE(m->Active());
    m->Open();
    EXPECT_EQ(8, m->RecordCount());  // the columns of ITEM (3), REGION (2) and SHOP (3)
    m->Restrictions().Add("TABLE_NAME=REGION");
    EXPECT_FALSE(m->Active());
    m->Open();
    EXPECT_EQ("CODE,TITLE", Column(*m, "COLUMN_NAME"));
    m->Restrictions().SetValues("TABLE_NAME", "ITEM");
    EXPECT_FALSE(m->Active());
    m->Open();
    EXPECT_EQ("ID,NAME,MADE", Column(*m, "COLUMN_NAME"));
}

TEST_F(OraMetaDataComponentTest, Errors) {
    TOraMetaData lone;
    lone.SetMetaDataKind("tables");
    EXPECT_EQ("Connection is not defined", ErrorText([&] { lone.Open(); }));
    auto unknown = Meta("nonsense");
    EXPECT_EQ("Unsupported metadata kind", ErrorText([&] { unknown->Open(); }));
    EXPECT_FALSE(unknown->Active());
    // Oracle has no database list.
    auto databases = Meta("Databases");
    EXPECT_EQ("Unsupported metadata kind", ErrorText([&] { databases->Open(); }));
    // The failed opens gave their uses of the session back.
    EXPECT_EQ(0, session_->ConnectCount());
}

TEST_F(OraMetaDataComponentTest, DisconnectedModeKeepsTheRowsAndAPlainDisconnectCloses) {
    session_->Options().SetDisconnectedMode(true);
    auto m = Meta("columns", {"TABLE_NAME=REGION"});
    m->Open();
    EXPECT_FALSE(session_->Connected()) << "the session closes when the metadata is read";
    ASSERT_TRUE(m->Active());
    EXPECT_EQ("CODE,TITLE", Column(*m, "COLUMN_NAME"));
    m->Close();
    m->Open();
    EXPECT_EQ("CODE,TITLE", Column(*m, "COLUMN_NAME"));

    session_->Options().SetDisconnectedMode(false);
    session_->Connect();
    m->Close();
    m->Open();
    ASSERT_TRUE(m->Active());
    session_->Disconnect();
    EXPECT_FALSE(m->Active());
}

TEST_F(OraMetaDataComponentTest, ConnectionGoneOrChanged) {
    auto m = Meta("tables", {"SCOPE=LOCAL"});
    m->Open();
    auto other = newSession();
    m->SetSession(other.get());
    EXPECT_FALSE(m->Active()) << "a new connection closes the dataset";
    m->Open();
    EXPECT_EQ("ITEM,REGION,SHOP", Column(*m, "TABLE_NAME"));
    other.reset();
    EXPECT_EQ(nullptr, m->Session());
    EXPECT_FALSE(m->Active());
    // An Oracle session runs one transaction: an own one is kept but not used; freeing it clears it.
    auto t = std::make_unique<TOraTransaction>();
    {
        TOraMetaData withTransaction;
        withTransaction.SetSession(session_.get());
        withTransaction.SetTransaction(t.get());
        EXPECT_EQ(t.get(), withTransaction.GetTransaction());
        EXPECT_EQ(session_->UsedTransaction(), withTransaction.UsedTransaction());
        t.reset();
        EXPECT_EQ(nullptr, withTransaction.GetTransaction());
    }
    // The session makes the component of its own kind.
    std::unique_ptr<TDAMetaData> made(session_->CreateMetaData());
    ASSERT_NE(nullptr, dynamic_cast<TOraMetaData*>(made.get()));
    EXPECT_EQ(session_.get(), made->Connection());
}

}  // namespace
