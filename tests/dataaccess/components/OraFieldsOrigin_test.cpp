// Field origins: every field of a query learns its table and real column, from the text where it
// says enough and from the stand-in's data dictionary otherwise; fields of another table than
// the updating one stay out of the generated statements.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

class FieldsOriginTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        dbExec(
            "CREATE TABLE dept(dno NUMBER(9,0) PRIMARY KEY, dname VARCHAR2(20) DEFAULT 'none', budget "
            "NUMBER(9,0) DEFAULT 100);"
            "CREATE TABLE emp(eno NUMBER(9,0) PRIMARY KEY, ename VARCHAR2(20), dno NUMBER(9,0));"
            "INSERT INTO dept VALUES (10, 'sales', 5), (20, 'stock', 7);"
            "INSERT INTO emp VALUES (1, 'ann', 10), (2, 'bob', 20);");
    }
    static const std::vector<AnsiString>& Dictionary(TOraQuery& q) {
        return static_cast<TCustomOraDataSetService*>(q.DataSetService())->DictionarySQL();
    }
    static std::vector<std::string> Origins(TOraQuery& q) {
        std::vector<std::string> out;
        for (db::TField* f : q.FieldList()) out.push_back(f->FieldName() + "=" + f->Origin());
        return out;
    }
};

TEST_F(FieldsOriginTest, EachFieldLearnsItsTableFromTheTextOrTheDictionary) {
    struct Case {
        const char* sql;
        bool fieldsOrigin;
        std::vector<std::string> origins;
        size_t dictionaryQueries;
        bool extended = false;
    };
    const std::vector<Case> cases = {
        // A star of one table: the dictionary lists its columns in column order.
        {"SELECT * FROM dept", true, {"DNO=DEPT.DNO", "DNAME=DEPT.DNAME", "BUDGET=DEPT.BUDGET"}, 1},
        // Qualified columns say it all: no dictionary.
        {"SELECT e.eno, e.ename, d.dname FROM emp e, dept d WHERE e.dno = d.dno",
         true,
         {"ENO=EMP.ENO", "ENAME=EMP.ENAME", "DNAME=DEPT.DNAME"},
         0},
        // Unqualified columns of a join are found in the dictionary.
        {"SELECT eno, dname FROM emp, dept WHERE emp.dno = dept.dno",
         true,
         {"ENO=EMP.ENO", "DNAME=DEPT.DNAME"},
         1},
        // An alias keeps the field's name, the origin names the real column; a qualified star
        // gives its table to the fields no column names.
        {"SELECT e.ename who, d.* FROM emp e, dept d WHERE e.dno = d.dno",
         true,
         {"WHO=EMP.ENAME", "DNO=DEPT.DNO", "DNAME=DEPT.DNAME", "BUDGET=DEPT.BUDGET"},
         0},
        // Expressions and ROWID: no real column.
        {"SELECT rowid, dno, upper(dname) FROM dept",
         true,
         {"ROWID=DEPT.ROWID", "DNO=DEPT.DNO", "UPPER(DNAME)=UPPER(DNAME)"},
         1},
        // Without FieldsOrigin, DefaultValues and ExtendedFieldsInfo nothing is asked.
        {"SELECT * FROM dept", false, {"DNO=", "DNAME=", "BUDGET="}, 0},
        {"SELECT eno, dname FROM emp, dept WHERE emp.dno = dept.dno", false, {"ENO=", "DNAME="}, 0},
        // ExtendedFieldsInfo alone asks for the updating table (origins are not filled).
        {"SELECT * FROM dept", false, {"DNO=", "DNAME=", "BUDGET="}, 1, true},
    };
    auto s = newSession();
    for (const Case& c : cases) {
        auto q = newQuery(s.get(), c.sql);
        q->Options().SetFieldsOrigin(c.fieldsOrigin);
        q->Options().SetExtendedFieldsInfo(c.extended);
        Record();
        q->Open();
        EXPECT_EQ(c.origins, Origins(*q)) << c.sql;
        EXPECT_EQ(c.dictionaryQueries, Dictionary(*q).size()) << c.sql;
        size_t sent = 0;
        for (const std::string& text : Received())
            if (rtl::UpperCase(text).find("ALL_TAB_COLUMNS") != std::string::npos) ++sent;
        EXPECT_EQ(c.dictionaryQueries, sent) << c.sql;
        q->Close();
    }
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(FieldsOriginTest, TheDictionaryQueryBindsTheNamesAndReadsTheCurrentSchema) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT eno, dname FROM emp, dept WHERE emp.dno = dept.dno");
    q->Options().SetFieldsOrigin(true);
    q->Open();
    ASSERT_EQ(1u, Dictionary(*q).size());
    EXPECT_EQ(
        "SELECT owner, table_name, column_name FROM all_tab_columns WHERE (table_name = :P1 and owner = :P2) "
        "OR "
        "(table_name = :P3 and owner = :P4) ORDER BY owner, table_name, column_id",
        Dictionary(*q)[0]);
    q->Close();
    // A quoted name with an apostrophe is a value like any other.
    dbExec("CREATE TABLE \"IT'S\"(n NUMBER(9,0));INSERT INTO \"IT'S\" VALUES (3);");
    q->SQL().SetText("SELECT * FROM \"IT'S\"");
    q->Open();
    EXPECT_EQ((std::vector<std::string>{"N=\"IT'S\".N"}), Origins(*q));
}

TEST_F(FieldsOriginTest, FieldsOfAnotherTableStayOutOfTheUpdate) {
    auto s = newSession();
    auto q = newQuery(s.get(),
                      "SELECT e.eno, e.ename, d.dname FROM emp e, dept d WHERE e.dno = d.dno ORDER BY e.eno");
    q->SetKeyFields("ENO");
    q->Open();
    q->Edit();
    q->FieldByName("ENAME")->SetAsString("anna");
    q->FieldByName("DNAME")->SetAsString("ignored");
    Record();
    q->Post();
    std::vector<std::string> updates;
    for (const std::string& text : Received())
        if (text.rfind("UPDATE", 0) == 0) updates.push_back(text);
    EXPECT_EQ((std::vector<std::string>{"UPDATE EMP\nSET\n  ENAME = :ENAME\nWHERE\n  ENO = :Old_ENO"}),
              updates);
    q->Close();
    q->Open();
    EXPECT_EQ("anna", q->FieldByName("ENAME")->AsString());
    EXPECT_EQ("sales", q->FieldByName("DNAME")->AsString()) << "the other table was not written";
    q->Close();
    // With SetFieldsReadOnly the other table's fields cannot be edited at all.
    q->Options().SetFieldsReadOnly = true;
    q->Open();
    EXPECT_TRUE(q->FieldByName("DNAME")->ReadOnly());
    EXPECT_FALSE(q->FieldByName("ENAME")->ReadOnly());
    EXPECT_FALSE(q->FieldByName("ENO")->ReadOnly());
}

TEST_F(FieldsOriginTest, AnAliasedColumnIsWrittenUnderItsRealName) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT eno num, ename who FROM emp ORDER BY eno");
    q->SetKeyFields("NUM");
    q->Open();
    q->Edit();
    q->FieldByName("WHO")->SetAsString("annie");
    Record();
    q->Post();
    std::vector<std::string> updates;
    for (const std::string& text : Received())
        if (text.rfind("UPDATE", 0) == 0) updates.push_back(text);
    EXPECT_EQ((std::vector<std::string>{"UPDATE EMP\nSET\n  ENAME = :WHO\nWHERE\n  ENO = :Old_NUM"}),
              updates);
    q->Close();
    // Reopened, the fields are matched again (the statement kept its descriptors).
    q->Open();
    EXPECT_EQ("annie", q->FieldByName("WHO")->AsString());
    q->Edit();
    q->FieldByName("WHO")->SetAsString("ann");
    q->Post();
    q->Close();
    q->Open();
    EXPECT_EQ("ann", q->FieldByName("WHO")->AsString());
}

TEST_F(FieldsOriginTest, DefaultValuesComeFromTheDictionaryAndFillNewRecords) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT * FROM dept");
    q->Options().SetDefaultValues(true);
    q->SetKeyFields("DNO");
    q->Open();
    EXPECT_EQ("'none'", q->FieldByName("DNAME")->DefaultExpression());
    EXPECT_EQ("100", q->FieldByName("BUDGET")->DefaultExpression());
    EXPECT_EQ("", q->FieldByName("DNO")->DefaultExpression());
    ASSERT_EQ(1u, Dictionary(*q).size());
    EXPECT_NE(std::string::npos, Dictionary(*q)[0].find("column_name, data_default, data_type FROM"));
    q->Append();
    EXPECT_EQ("none", q->FieldByName("DNAME")->AsString());
    EXPECT_EQ(100, q->FieldByName("BUDGET")->AsInteger());
    q->FieldByName("DNO")->SetAsInteger(30);
    q->Post();
    q->Close();
    auto check = newQuery(s.get(), "SELECT dname, budget FROM dept WHERE dno = 30");
    check->Open();
    EXPECT_EQ("none", check->FieldByName("DNAME")->AsString());
    EXPECT_EQ(100, check->FieldByName("BUDGET")->AsInteger());
}

TEST_F(FieldsOriginTest, SynonymsLeadToTheirTablesAPrivateOneBeforeAPublicOne) {
    dbExec(
        "INSERT INTO oci_synonym(owner, name, target_owner, target_name) VALUES ('QEL', 'STAFF', 'QEL', "
        "'EMP'), "
        "(NULL, 'STAFF', NULL, 'DEPT'), (NULL, 'UNITS', NULL, 'DEPT');");
    auto s = newSession();
    struct Case {
        const char* sql;
        std::vector<std::string> origins;
        size_t dictionaryQueries;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM staff", {"ENO=STAFF.ENO", "ENAME=STAFF.ENAME", "DNO=STAFF.DNO"}, 3},
        {"SELECT dname FROM units", {"DNAME=UNITS.DNAME"}, 3},
    };
    for (const Case& c : cases) {
        auto q = newQuery(s.get(), c.sql);
        q->Options().SetFieldsOrigin(true);
        q->Open();
        EXPECT_EQ(c.origins, Origins(*q)) << c.sql;
        const auto& sent = Dictionary(*q);
        ASSERT_EQ(c.dictionaryQueries, sent.size()) << c.sql;
        EXPECT_EQ(
            "SELECT synonym_name, table_owner, table_name, db_link FROM all_synonyms WHERE (synonym_name = "
            ":P1 AND "
            "owner IN (:P2,'PUBLIC') ) ORDER BY decode(owner, 'PUBLIC', 1, 0)",
            sent[1]);
    }
}

TEST_F(FieldsOriginTest, ACyclicSynonymChainEndsTheLookup) {
    dbExec(
        "INSERT INTO oci_synonym(owner, name, target_owner, target_name) VALUES ('QEL', 'CYC', 'QEL', "
        "'EMP');");
    auto s = newSession();
    s->Connect();
    // The session still reads through its synonym while the dictionary now shows a loop.
    dbExec(
        "UPDATE oci_synonym SET target_name = 'CYC2' WHERE name = 'CYC';"
        "INSERT INTO oci_synonym(owner, name, target_owner, target_name) VALUES ('QEL', 'CYC2', 'QEL', "
        "'CYC');");
    auto q = newQuery(s.get(), "SELECT * FROM cyc ORDER BY eno");
    q->Options().SetFieldsOrigin(true);
    q->Open();
    EXPECT_EQ((std::vector<std::string>{"ENO=ENO", "ENAME=ENAME", "DNO=DNO"}), Origins(*q)) << "given up";
    EXPECT_EQ(1, q->FieldByName("ENO")->AsInteger());
    // Ten rounds of columns, nine of synonyms between them.
    EXPECT_EQ(19u, Dictionary(*q).size());
}

TEST_F(FieldsOriginTest, ATableOverADatabaseLinkIsLookedUpThroughThatLink) {
    // The stand-in's links lead back to the same database.
    dbExec("INSERT INTO oci_db_link(owner, db_link, username) VALUES (NULL, 'LOOP', 'QEL');");
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT eno, dname FROM emp, dept@loop WHERE emp.dno = 10 ORDER BY eno");
    q->Options().SetFieldsOrigin(true);
    q->Open();
    EXPECT_EQ((std::vector<std::string>{"ENO=EMP.ENO", "DNAME=DEPT@LOOP.DNAME"}), Origins(*q));
    ASSERT_EQ(2u, Dictionary(*q).size()) << "one statement per link";
    EXPECT_NE(std::string::npos, Dictionary(*q)[0].find("FROM all_tab_columns WHERE (table_name"));
    EXPECT_NE(std::string::npos, Dictionary(*q)[1].find("FROM all_tab_columns@LOOP WHERE (table_name"));
    q->Close();
    EXPECT_EQ("ORA-02019: connection description for remote database not found\n",
              ErrorText([&] { newQuery(s.get(), "SELECT * FROM dept@nowhere")->Open(); }));
}

TEST_F(FieldsOriginTest, ADictionaryThatCannotBeReadLeavesTheFieldsWithoutTable) {
    // The table is reached over a database link the server does not know: the column lookup
    // fails, is given up, and the dataset opens as it would without the option.
    auto s = newSession();
    auto p = newProc(s.get(), "get_pair");
    p->SetUpdatingTable("PAIR@REMOTE");
    p->Options().SetDefaultValues(true);
    p->Open();
    EXPECT_EQ(1, p->FieldByName("A")->AsInteger());
    const auto& sent = static_cast<TCustomOraDataSetService*>(p->DataSetService())->DictionarySQL();
    ASSERT_EQ(1u, sent.size());
    EXPECT_NE(std::string::npos, sent[0].find("FROM all_tab_columns@REMOTE WHERE"));
    p->Close();
    EXPECT_EQ(0, s->ConnectCount());
}

}  // namespace
