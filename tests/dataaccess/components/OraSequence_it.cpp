// Sequences on the stand-in as the library uses them: created and dropped with DDL, NEXTVAL and
// CURRVAL in SQL and PL/SQL with Oracle's rules, and keys of new records taken from a sequence
// by the dataset, read back from the database file with the sqlite3 tool.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "dataaccess/components/OraMetaData.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

class SequenceIt : public DataSetTest {
protected:
    static int64_t Value(TOraSession* s, const std::string& sql) {
        TOraQuery q;
        q.SetSession(s);
        q.SQL().SetText(sql);
        q.Open();
        const int64_t v = q.Fields()[0]->AsLargeInt();
        q.Close();
        return v;
    }
};

TEST_F(SequenceIt, NextvalCountsCurrvalRepeatsAndARollbackGivesNothingBack) {
    auto a = newSession();
    auto b = newSession();
    a->ExecSQL("CREATE SEQUENCE item_seq START WITH 100 INCREMENT BY 10", {});
    EXPECT_EQ("ORA-08002: sequence ITEM_SEQ.CURRVAL is not yet defined in this session\n",
              ErrorText([&] { Value(a.get(), "SELECT item_seq.CURRVAL FROM dual"); }));
    EXPECT_EQ(100, Value(a.get(), "SELECT item_seq.NEXTVAL FROM dual"));
    EXPECT_EQ(110, Value(a.get(), "SELECT qel.item_seq.NEXTVAL FROM dual")) << "with its schema";
    EXPECT_EQ(110, Value(a.get(), "SELECT item_seq.CURRVAL FROM dual"));
    EXPECT_EQ("ORA-08002: sequence ITEM_SEQ.CURRVAL is not yet defined in this session\n",
              ErrorText([&] { Value(b.get(), "SELECT item_seq.CURRVAL FROM dual"); }))
        << "CURRVAL belongs to the session";
    EXPECT_EQ(120, Value(b.get(), "SELECT item_seq.NEXTVAL FROM dual"));
    EXPECT_EQ(110, Value(a.get(), "SELECT item_seq.CURRVAL FROM dual"));

    // Taken inside a transaction that rolls back: the row goes, the number stays used.
    a->StartTransaction();
    a->ExecSQL("INSERT INTO item(id, name) VALUES (item_seq.NEXTVAL, 'gone')", {});
    EXPECT_EQ(130, Value(a.get(), "SELECT item_seq.CURRVAL FROM dual"));
    a->Rollback();
    EXPECT_EQ((std::vector<std::string>{"140"}), Sqlite3("SELECT next_value FROM oci_sequence;"));
    EXPECT_EQ((std::vector<std::string>{}), Sqlite3("SELECT id FROM item WHERE name = 'gone';"));
    // Also back to a savepoint.
    a->StartTransaction();
    a->ExecSQL("SAVEPOINT s1", {});
    a->ExecSQL("BEGIN INSERT INTO item(id, name) VALUES (item_seq.NEXTVAL, 'kept'); END;", {});
    a->ExecSQL("ROLLBACK TO SAVEPOINT s1", {});
    a->Commit();
    EXPECT_EQ(150, Value(b.get(), "SELECT item_seq.NEXTVAL FROM dual"));
    EXPECT_EQ(140, Value(a.get(), "SELECT item_seq.CURRVAL FROM dual"));

    TOraQuery dict;
    dict.SetSession(a.get());
    dict.SQL().SetText(
        "SELECT sequence_name, min_value, increment_by, cycle_flag, last_number FROM user_sequences");
    dict.Open();
    EXPECT_EQ("ITEM_SEQ|1|10|N|160", dict.Fields()[0]->AsString() + "|" + dict.Fields()[1]->AsString() + "|" +
                                         dict.Fields()[2]->AsString() + "|" + dict.Fields()[3]->AsString() +
                                         "|" + dict.Fields()[4]->AsString());
    dict.Close();
    TOraMetaData meta;
    meta.SetConnection(a.get());
    meta.SetMetaDataKind("sequences");
    meta.Open();
    ASSERT_FALSE(meta.Eof());
    EXPECT_EQ("QEL.ITEM_SEQ", meta.FieldByName("SEQUENCE_SCHEMA")->AsString() + "." +
                                  meta.FieldByName("SEQUENCE_NAME")->AsString());
    meta.Close();
    // An assignment in a block takes the next number too.
    TOraSQL block;
    block.SetSession(a.get());
    block.SQL().SetText("begin :V := item_seq.NEXTVAL; end;");
    block.ParamByName("V")->SetDataType(db::ftInteger);
    block.ParamByName("V")->SetParamType(db::ptOutput);
    block.Execute();
    EXPECT_EQ(160, block.ParamByName("V")->AsInteger());
    a->ExecSQL("DROP SEQUENCE item_seq", {});
    EXPECT_EQ((std::vector<std::string>{"0"}), Sqlite3("SELECT count(*) FROM oci_sequence;"));
}

TEST_F(SequenceIt, DefinitionsAndLimitsFollowOracle) {
    auto s = newSession();
    s->ExecSQL("CREATE SEQUENCE small MINVALUE 1 MAXVALUE 3 NOCACHE", {});
    s->ExecSQL("CREATE SEQUENCE ring START WITH 2 MINVALUE 1 MAXVALUE 3 CYCLE NOCACHE", {});
    s->ExecSQL("CREATE SEQUENCE down INCREMENT BY -5", {});
    struct Case {
        const char* sql;
        std::string expected;  // values, or the error
    };
    const std::vector<Case> cases = {
        {"SELECT small.NEXTVAL FROM dual", "1"},
        {"SELECT small.NEXTVAL FROM dual", "2"},
        {"SELECT small.NEXTVAL FROM dual", "3"},
        {"SELECT small.NEXTVAL FROM dual",
         "ORA-08004: sequence SMALL.NEXTVAL exceeds MAXVALUE and cannot be instantiated\n"},
        {"SELECT ring.NEXTVAL FROM dual", "2"},
        {"SELECT ring.NEXTVAL FROM dual", "3"},
        {"SELECT ring.NEXTVAL FROM dual", "1"},
        {"SELECT down.NEXTVAL FROM dual", "-1"},
        {"SELECT down.NEXTVAL FROM dual", "-6"},
        {"SELECT nosuch.NEXTVAL FROM dual", "ORA-02289: sequence does not exist\n"},
        {"SELECT nosuch.CURRVAL FROM dual", "ORA-02289: sequence does not exist\n"},
    };
    for (const Case& c : cases) {
        std::string got;
        const std::string error = ErrorText([&] { got = std::to_string(Value(s.get(), c.sql)); });
        EXPECT_EQ(c.expected, got.empty() ? error : got) << c.sql;
    }
    const std::vector<std::pair<const char*, const char*>> refused = {
        {"CREATE SEQUENCE small", "ORA-00955: name is already used by an existing object\n"},
        {"CREATE SEQUENCE item", "ORA-00955: name is already used by an existing object\n"},
        {"DROP SEQUENCE nosuch", "ORA-02289: sequence does not exist\n"},
        {"CREATE SEQUENCE bad INCREMENT BY 0", "ORA-04002: INCREMENT must be a non-zero integer\n"},
        {"CREATE SEQUENCE bad START WITH 0", "ORA-04006: START WITH cannot be less than MINVALUE\n"},
    };
    for (const auto& [sql, error] : refused) EXPECT_EQ(error, ErrorText([&] { s->ExecSQL(sql, {}); })) << sql;
}

TEST_F(SequenceIt, NewRecordsTakeTheirKeyFromTheSequence) {
    dbExec("DELETE FROM item WHERE id > 5;");
    auto s = newSession();
    s->ExecSQL("CREATE SEQUENCE item_seq START WITH 500", {});
    struct Case {
        TSequenceMode mode;
        bool cached;
        std::string name;
    };
    const std::vector<Case> cases = {
        {smPost, false, "at post"}, {smInsert, false, "at insert"}, {smPost, true, "cached"}};
    for (const Case& c : cases) {
        auto q = newQuery(s.get(), "SELECT id, name FROM item ORDER BY id");
        q->SetKeyFields("ID");
        q->SetKeySequence("ITEM_SEQ");
        q->SetSequenceMode(c.mode);
        q->SetCachedUpdates(c.cached);
        q->Open();
        q->Append();
        if (c.mode == smInsert) {
            EXPECT_FALSE(q->FieldByName("ID")->IsNull()) << c.name;
        }
        q->FieldByName("NAME")->SetAsString(c.name);
        q->Post();
        if (c.cached) q->ApplyUpdates();
        EXPECT_FALSE(q->FieldByName("ID")->IsNull()) << c.name;
        EXPECT_EQ(q->FieldByName("ID")->AsInteger(), Value(s.get(), "SELECT item_seq.CURRVAL FROM dual"))
            << c.name;
        q->Close();
    }
    EXPECT_EQ((std::vector<std::string>{"500|at post", "501|at insert", "502|cached"}),
              Sqlite3("SELECT id, name FROM item WHERE id >= 500 ORDER BY id;"));
}

TEST_F(SequenceIt, TheSelectIntoBlockInFrontOfTheInsertRuns) {
    auto s = newSession();
    s->ExecSQL("CREATE SEQUENCE item_seq START WITH 700", {});
    // The text the generator writes when the value cannot be taken inside the INSERT.
    TOraSQL sql;
    sql.SetSession(s.get());
    sql.SQL().SetText(
        "begin\r\n  SELECT ITEM_SEQ.NEXTVAL INTO :ID FROM Dual;\r\n\r\n  INSERT INTO ITEM\r\n  (ID, NAME)\r\n"
        "VALUES\r\n  (:ID, :NAME);\r\nend;");
    sql.ParamByName("ID")->SetDataType(db::ftInteger);
    sql.ParamByName("ID")->SetParamType(db::ptInputOutput);
    sql.ParamByName("NAME")->SetAsString("blocked");
    sql.SetAutoCommit(true);
    sql.Execute();
    EXPECT_EQ(700, sql.ParamByName("ID")->AsInteger());
    EXPECT_EQ((std::vector<std::string>{"700|blocked"}),
              Sqlite3("SELECT id, name FROM item WHERE id = 700;"));
}

}  // namespace
