// The session's own statements: ExecSQL, ExecSQLEx, ExecProc and ExecProcEx, the name lists, the
// compilation-error listing and the cached updates of several datasets applied together.
#include <memory>
#include <string>
#include <vector>

#include "SessionFixture.h"

using namespace dac;

namespace {

const char* const kInvalidPairs =
    "Invalid Params array. Valid format: <Name1>,<Value1>[,<Name2>,<Value2>[...]]";

class OraSessionExecTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        dbExec(
            "INSERT INTO oci_procedure(package, name, kind, body) VALUES "
            "(NULL, 'f_add', 'FUNCTION', 'SELECT :A + :B AS RESULT'),"
            "(NULL, 'add_item', 'PROCEDURE', 'INSERT INTO item(id, name) VALUES (:P_ID, :P_NAME)'),"
            "('stats', 'count_items', 'FUNCTION', 'SELECT count(*) AS RESULT FROM item');"
            "INSERT INTO oci_argument(package, name, position, argument, data_type, direction, "
            "default_value) "
            "VALUES (NULL, 'f_add', 0, NULL, 'NUMBER', 'OUT', NULL), (NULL, 'f_add', 1, 'A', 'NUMBER', 'IN', "
            "NULL),"
            "(NULL, 'f_add', 2, 'B', 'NUMBER', 'IN', NULL),"
            "(NULL, 'add_item', 1, 'P_ID', 'NUMBER', 'IN', '99'),"
            "(NULL, 'add_item', 2, 'P_NAME', 'VARCHAR2', 'IN', '''dflt'''),"
            "('stats', 'count_items', 0, NULL, 'NUMBER', 'OUT', NULL);");
        session_ = newSession();
        session_->Connect();
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }
    // The rows of item in the database file, after the session's work is committed.
    std::string Items() {
        session_->ExecSQL("COMMIT");
        std::string out;
        for (const auto& t : dbTexts("SELECT id || ':' || coalesce(name, '-') FROM item ORDER BY id"))
            out += (out.empty() ? "" : ",") + t;
        return out;
    }
    static std::string Joined(rtl::TStrings& list) {
        std::string out;
        for (int i = 0; i < list.Count(); ++i) out += (i ? "," : "") + list[i];
        return out;
    }

    std::unique_ptr<TOraSession> session_;
};

TEST_F(OraSessionExecTest, ExecSQLTakesValuesInOrderAndAnswersResult) {
    // The values go to the parameters in order of appearance, Result included.
    const char* text = "begin :Result := :a || '/' || nvl(:b, 'none'); end;";
    EXPECT_EQ("x/y", session_->ExecSQL(text, {rtl::Null(), "x", "y", "ignored"}).AsString());
    EXPECT_EQ("x/none", session_->ExecSQL(text, {rtl::Null(), "x"}).AsString())
        << "the parameters without a value stay null";
    // A result without a declared type is text.
    rtl::Variant five = session_->ExecSQL("begin :Result := 2 + 3; end;");
    EXPECT_TRUE(rtl::VarIsStr(five));
    EXPECT_EQ("5", five.AsString());
    rtl::Variant none = session_->ExecSQL("INSERT INTO item(id, name) VALUES (:id, :name)", {1, "one"});
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ("1:one", Items());
}

TEST_F(OraSessionExecTest, ExecSQLExTakesNamedPairs) {
    const char* text = "begin :Result := :a || nvl(:b, '-'); end;";
    EXPECT_EQ("12", session_->ExecSQLEx(text, {"b", "2", "a", "1"}).AsString());
    EXPECT_EQ("-", session_->ExecSQLEx(text, {rtl::Null()}).AsString()) << "one Null is no values";
    EXPECT_EQ(kInvalidPairs, ErrorText([&] { session_->ExecSQLEx(text, {"a", "1", "b"}); }));
    EXPECT_EQ(kInvalidPairs, ErrorText([&] { session_->ExecSQLEx(text, {1, "1"}); }));
    rtl::Variant none = session_->ExecSQLEx("INSERT INTO item(id) VALUES (:id)", {"id", 4});
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ("4:-", Items());
    EXPECT_EQ("x-", session_->ExecSQLEx(text, {"A", "x", "b", rtl::Null()}).AsString())
        << "names match in any case";
}

TEST_F(OraSessionExecTest, ExecProcCallsWithValuesInArgumentOrder) {
    EXPECT_EQ(5, session_->ExecProc("f_add", {2, 3}).AsInteger());
    EXPECT_EQ(0, session_->ExecProc("stats.count_items").AsInteger());
    // Arguments without a value are left to their defaults.
    rtl::Variant none = session_->ExecProc("add_item", {7});
    EXPECT_TRUE(none.IsEmpty());
    session_->ExecProc("add_item", {8, "eight"});
    session_->ExecProc("add_item");
    EXPECT_EQ("7:dflt,8:eight,99:dflt", Items());
    EXPECT_EQ(3, session_->ExecProc("stats.count_items").AsInteger());
    EXPECT_EQ("StoredProcName must be defined", ErrorText([&] { session_->ExecProc(""); }));
}

TEST_F(OraSessionExecTest, ExecProcExAssignsByName) {
    // A single Null: every argument unbound, all defaults.
    session_->ExecProcEx("add_item", {rtl::Null()});
    session_->ExecProcEx("add_item", {"P_NAME", "named", "P_ID", 5});
    session_->ExecProcEx("add_item", {"p_id", 6});
    EXPECT_EQ("5:named,6:dflt,99:dflt", Items());
    EXPECT_EQ(kInvalidPairs, ErrorText([&] { session_->ExecProcEx("add_item", {"P_ID", 1, "P_NAME"}); }));
    EXPECT_EQ(7, session_->ExecProcEx("f_add", {"B", 4, "A", 3}).AsInteger());
}

TEST_F(OraSessionExecTest, NameLists) {
    dbExec("CREATE TABLE shop(id NUMBER(9,0) PRIMARY KEY); CREATE VIEW shops AS SELECT id FROM shop;");
    const int uses = session_->ConnectCount();
    rtl::TStringList list;
    list.Add("stale");
    session_->GetTableNames(list);
    EXPECT_EQ("ITEM,SHOP,SHOPS", Joined(list));
    session_->GetTableNames(list, true);
    EXPECT_EQ("QEL.ITEM,QEL.SHOP,QEL.SHOPS", Joined(list));
    session_->GetStoredProcNames(list);
    EXPECT_EQ("ADD_ITEM,F_ADD,STATS.COUNT_ITEMS", Joined(list));
    session_->GetStoredProcNames(list, true);
    EXPECT_EQ("QEL.ADD_ITEM,QEL.F_ADD,QEL.STATS.COUNT_ITEMS", Joined(list));
    // Oracle lists no databases.
    EXPECT_EQ("Unsupported metadata kind", ErrorText([&] { session_->GetDatabaseNames(list); }));
    EXPECT_EQ(uses, session_->ConnectCount()) << "every list gave its use of the session back";
}

TEST_F(OraSessionExecTest, CompileErrorsOfTheUnitAStatementNames) {
    dbExec(
        "INSERT INTO oci_error(name, type, sequence, line, position, text) VALUES "
        "('STATS', 'PACKAGE BODY', 2, 12, 3, 'PLS-00201: identifier ''X'' must be declared'),"
        "('STATS', 'PACKAGE BODY', 1, 3, 15, 'PLS-00103: Encountered the symbol \";\"' || char(10) || "
        "'   when expecting one of the following:' || char(10) || '   := . ( @ %'),"
        "('STATS', 'PACKAGE BODY', 3, 0, 0, 'Statement ignored'),"
        "('STATS', 'PACKAGE', 1, 1, 1, 'the package header, not the body'),"
        "('Mixed', 'PROCEDURE', 1, 2, 4, 'PLS-00049: bad bind variable');");
    const std::string listing =
        "3/15    PLS-00103: Encountered the symbol \";\"\r"
        "          when expecting one of the following:\r"
        "          := . ( @ %\r"
        "12/3    PLS-00201: identifier 'X' must be declared\r"
        "Statement ignored\r";
    AnsiString text = "before";
    session_->GetCompileErrors("CREATE OR REPLACE PACKAGE BODY qel.stats AS\nbegin null; end;", text);
    EXPECT_EQ(listing, text);
    text = "before";
    session_->GetCompileErrors("alter package Stats compile body", text);
    EXPECT_EQ("1/1     the package header, not the body\r", text) << "BODY after the name is no kind";
    struct Case {
        const char* sql;
        const char* expected;
    } cases[] = {
        {"create package body stats as end;", nullptr},
        {"CREATE OR REPLACE FORCE VIEW stats AS SELECT 1 x FROM dual", "No errors"},
        {"create procedure \"Mixed\" as begin null; end;", "2/4     PLS-00049: bad bind variable\r"},
        {"create procedure mixed as begin null; end;", "No errors"},
        {"ALTER PACKAGE stats COMPILE", "1/1     the package header, not the body\r"},
        {"  /* lead */ CREATE OR REPLACE PACKAGE qel . stats AS",
         "1/1     the package header, not the body\r"},
        {"SELECT * FROM item", "untouched"},
        {"CREATE TABLE t(x NUMBER)", "untouched"},
        {"CREATE OR KEEP PROCEDURE p", "untouched"},
    };
    for (const Case& c : cases) {
        text = "untouched";
        session_->GetCompileErrors(c.sql, text);
        EXPECT_EQ(c.expected ? std::string(c.expected) : listing, text) << c.sql;
    }
}

TEST_F(OraSessionExecTest, ALongListingComesBackWhole) {
    // 200 errors of 40 characters each: far beyond the default size of a string parameter.
    dbExec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
        "INSERT INTO oci_error(name, type, sequence, line, position, text) SELECT 'BIG', 'PACKAGE BODY', i, "
        "i, 1, "
        "'PLS-00201: identifier ''X' || i || ''' unknown' FROM n;");
    AnsiString text;
    session_->GetCompileErrors("CREATE PACKAGE BODY big AS END;", text);
    size_t entries = 0;
    for (char c : text) entries += c == '\r';
    EXPECT_EQ(200u, entries);
    EXPECT_GT(text.size(), 8000u);
    EXPECT_EQ("200/1   PLS-00201: identifier 'X200' unknown\r", text.substr(text.rfind("200/1")));
}

TEST_F(OraSessionExecTest, CompileErrorsRunTheListingBlockWithoutDebug) {
    session_->SetDebug(true);
    Record();
    AnsiString text;
    session_->GetCompileErrors("create function f return number as begin return 1; end;", text);
    EXPECT_EQ("No errors", text);
    const std::vector<std::string> sent = Received();
    ASSERT_FALSE(sent.empty());
    const std::string block =
        "declare\rCURSOR Cur IS\rSELECT Line,Position,Text\rFROM All_Errors\rWHERE Name = :Name and Type = "
        ":Type\rORDER BY Sequence;\rRec User_Errors%ROWTYPE;\rStartPos INTEGER;\rEndPos "
        "INTEGER;\rbegin\r:Res := "
        "'';\rfor Rec in Cur loop\rif Rec.Line <> 0 or Rec.Position <> 0 then\r:Res := :Res || RPad(Rec.Line "
        "|| "
        "'/' || Rec.Position, 8);\rend if;\rStartPos := 1;\rEndPos := 1;\rwhile EndPos > 0 and StartPos <= "
        "Length(Rec.Text) loop\rEndPos := InStr(Rec.Text, Chr(10), StartPos);\rif EndPos > 0 then\rif EndPos "
        "<> "
        "StartPos then\rif StartPos > 1 then\r:Res := :Res || RPad(' ', 10);\rend if;\r:Res := :Res || "
        "LTrim(SubStr(Rec.Text, StartPos, EndPos - StartPos)) || Chr(13);\rend if;\relse\rif StartPos > 1 "
        "then\r:Res := :Res || RPad(' ', 10);\rend if;\r:Res := :Res || LTrim(SubStr(Rec.Text, StartPos)) || "
        "Chr(13);\rend if;\rStartPos := EndPos + 1;\rend loop;\rend loop;\rend;";
    // The driver sends carriage returns outside literals as line feeds.
    std::string received = block;
    for (char& c : received)
        if (c == '\r') c = '\n';
    EXPECT_EQ(received, sent.back());
    EXPECT_TRUE(session_->Debug()) << "the session's setting is kept";
}

}  // namespace

namespace {

// Datasets in cached-update mode whose changes an update handler writes to the table "applied"
// through the session.
class OraApplyUpdatesTest : public OraSessionExecTest {
protected:
    void SetUp() override {
        OraSessionExecTest::SetUp();
        dbExec("CREATE TABLE applied(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(40));");
        session_->SetName("Main");
    }
    std::unique_ptr<TOraQuery> Cached(TOraSession* s, const char* name, bool cached = true) {
        auto q = std::make_unique<TOraQuery>();
        q->SetName(name);
        q->SetSession(s);
        q->SQL().SetText("SELECT id, name FROM item ORDER BY id");
        q->SetCachedUpdates(cached);
        q->OnUpdateRecord = [this](db::TDataSet* ds, db::TUpdateKind, db::TUpdateAction& action) {
            const rtl::Variant id = ds->FieldByName("ID")->NewValue();
            if (id.AsInteger() < 0) throw rtl::Exception("refused " + id.AsString());
            session_->ExecSQL("INSERT INTO applied(id, name) VALUES (:id, :name)",
                              {id, ds->FieldByName("NAME")->NewValue()});
            ++handled_;
            action = db::uaApplied;
        };
        q->Open();
        return q;
    }
    static void Add(TOraQuery& q, int id, const char* name) {
        q.Append();
        q.FieldByName("ID")->SetAsInteger(id);
        q.FieldByName("NAME")->SetAsString(name);
        q.Post();
    }
    // What other connections see.
    std::string Applied() {
        std::string out;
        for (const auto& t : dbTexts("SELECT id || ':' || name FROM applied ORDER BY id"))
            out += (out.empty() ? "" : ",") + t;
        return out;
    }
    int handled_ = 0;
};

TEST_F(OraApplyUpdatesTest, AppliesEveryDatasetAndCommitsTogether) {
    auto a = Cached(session_.get(), "Orders");
    auto b = Cached(session_.get(), "Lines");
    auto plain = Cached(session_.get(), "Plain", false);
    Add(*a, 1, "one");
    Add(*a, 2, "two");
    Add(*b, 3, "three");
    session_->ApplyUpdatesFor({a.get(), b.get(), plain.get()});
    EXPECT_EQ(3, handled_);
    EXPECT_EQ("1:one,2:two,3:three", Applied()) << "committed";
    EXPECT_FALSE(session_->InTransaction());
    EXPECT_FALSE(a->UpdatesPending());
    EXPECT_FALSE(b->UpdatesPending());
    EXPECT_TRUE(a->AutoCommit()) << "the dataset's own setting comes back";
}

TEST_F(OraApplyUpdatesTest, WithoutAutoCommitTheTransactionStaysOpen) {
    session_->SetAutoCommit(false);
    auto a = Cached(session_.get(), "Orders");
    Add(*a, 1, "one");
    session_->ApplyUpdatesFor({a.get()});
    EXPECT_TRUE(session_->InTransaction());
    EXPECT_EQ("", Applied()) << "nothing committed yet";
    EXPECT_FALSE(a->UpdatesPending());
    session_->Commit();
    EXPECT_EQ("1:one", Applied());
}

TEST_F(OraApplyUpdatesTest, AFailureRollsBackWhatWasApplied) {
    auto a = Cached(session_.get(), "Orders");
    auto b = Cached(session_.get(), "Lines");
    Add(*a, 1, "one");
    Add(*b, -3, "bad");
    EXPECT_EQ("refused -3", ErrorText([&] { session_->ApplyUpdatesFor({a.get(), b.get()}); }));
    EXPECT_FALSE(session_->InTransaction());
    EXPECT_EQ("0", session_->ExecSQL("begin SELECT count(*) INTO :Result FROM applied; end;").AsString());
    EXPECT_EQ("", Applied());
    EXPECT_TRUE(a->UpdatesPending()) << "the rolled-back changes stay to be applied again";
    EXPECT_TRUE(b->UpdatesPending());
    // Once the refused record is withdrawn, a second try sends everything the rollback undid.
    b->CancelUpdates();
    handled_ = 0;
    session_->ApplyUpdatesFor({a.get(), b.get()});
    EXPECT_EQ(1, handled_);
    EXPECT_EQ("1:one", Applied());
}

TEST_F(OraApplyUpdatesTest, ADatasetOfAnotherSessionStopsEverything) {
    auto other = newSession();
    other->SetName("Other");
    auto a = Cached(session_.get(), "Orders");
    auto foreign = Cached(other.get(), "Foreign");
    Add(*a, 1, "one");
    Add(*foreign, 2, "two");
    EXPECT_EQ("Cannot update, Foreign is not owned by Main", ErrorText([&] {
                  session_->ApplyUpdatesFor({a.get(), foreign.get()});
              }));
    EXPECT_EQ(0, handled_);
    EXPECT_TRUE(a->UpdatesPending());
    foreign.reset();
}

TEST_F(OraApplyUpdatesTest, ApplyUpdatesTakesTheSessionsDatasets) {
    auto a = Cached(session_.get(), "Orders");
    auto b = Cached(session_.get(), "Lines");
    Add(*a, 1, "one");
    Add(*b, 2, "two");
    session_->ApplyUpdates();
    EXPECT_EQ("1:one,2:two", Applied());
    EXPECT_FALSE(a->UpdatesPending());
    EXPECT_FALSE(b->UpdatesPending());
}

}  // namespace

namespace {

// A unit created with compilation errors: the server answers ORA-24344 and the components report
// the session's listing of the errors.
class OraCompilationErrorTest : public OraSessionExecTest {
protected:
    void SetUp() override {
        OraSessionExecTest::SetUp();
        dbExec(
            "INSERT INTO oci_error(name, type, sequence, line, position, text) VALUES "
            "('BROKEN', 'PROCEDURE', 1, 1, 27, 'PLS-00103: Encountered the symbol \"END\"');");
    }
    static int Code(const std::function<void()>& f) {
        try {
            f();
        } catch (const EOraError& e) {
            return e.ErrorCode;
        }
        return 0;
    }
    const char* broken_ = "CREATE OR REPLACE PROCEDURE broken AS BEGIN x END;";
    const char* listing_ = "1/27    PLS-00103: Encountered the symbol \"END\"\r";
};

TEST_F(OraCompilationErrorTest, SessionAndSQLComponentAddTheListingToTheMessage) {
    EXPECT_EQ(std::string("ORA-24344: success with compilation error\n") + listing_,
              ErrorText([&] { session_->ExecSQL(broken_); }));
    auto sql = newSQL(session_.get(), broken_);
    EXPECT_EQ(24344, Code([&] { sql->Execute(); }));
    EXPECT_EQ(std::string("ORA-24344: success with compilation error\n") + listing_,
              ErrorText([&] { sql->Execute(); }));
    // The session's own component works on afterwards.
    EXPECT_EQ(5, session_->ExecProc("f_add", {2, 3}).AsInteger());
    // A unit without errors compiles quietly.
    session_->ExecSQL("CREATE OR REPLACE PROCEDURE fine AS BEGIN NULL; END;");
    sql->SQL().SetText("ALTER PROCEDURE broken COMPILE");
    EXPECT_EQ(std::string("ORA-24344: success with compilation error\n") + listing_,
              ErrorText([&] { sql->Execute(); }));
}

TEST_F(OraCompilationErrorTest, DatasetReportsTheListingAlone) {
    TOraQuery q;
    q.SetSession(session_.get());
    q.SQL().SetText(broken_);
    EXPECT_EQ(24344, Code([&] { q.Execute(); }));
    EXPECT_EQ(listing_, ErrorText([&] { q.Execute(); }));
}

}  // namespace
