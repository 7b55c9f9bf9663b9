// The SQL command component on the stand-in server: parameters, macros, the text the server
// receives, stored-procedure calls and the connection use of a run that fails.
#include <gtest/gtest.h>

#include "SessionFixture.h"
#include "platform/rtl/DateTime.h"

using namespace dac;

class SQLTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        dbExec(R"sql(
INSERT INTO oci_procedure(package, name, overload, kind, body) VALUES
  ('', 'add_item', 0, 'PROCEDURE', 'INSERT INTO item(id, name) VALUES (:P_ID, :P_NAME)'),
  ('', 'item_name', 0, 'FUNCTION', 'SELECT name AS RESULT FROM item WHERE id = :P_ID');
INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction, data_length,
                         data_precision, data_scale, default_value) VALUES
  ('', 'add_item', 0, 1, 'P_ID', 'NUMBER', 'IN', NULL, 9, 0, NULL),
  ('', 'add_item', 0, 2, 'P_NAME', 'VARCHAR2', 'IN', 40, NULL, NULL, NULL),
  ('', 'item_name', 0, 0, NULL, 'VARCHAR2', 'OUT', 40, NULL, NULL, NULL),
  ('', 'item_name', 0, 1, 'P_ID', 'NUMBER', 'IN', NULL, 9, 0, NULL);
)sql");
        session_ = newSession();
        session_->Connect();
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }
    std::vector<std::string> Rows() {
        return dbTexts(
            "SELECT id || ':' || IFNULL(name, '') || ':' || IFNULL(made, '') FROM item ORDER BY id");
    }

    std::unique_ptr<TestSession> session_;
};

TEST_F(SQLTest, ParametersCarryTheirValuesAndADateLosesItsTime) {
    auto sql = newSQL(session_.get(), "INSERT INTO item(id, name, made) VALUES (:id, :name, :made)");
    sql->SetAutoCommit(true);
    ASSERT_EQ(3, sql->ParamCount());
    sql->ParamByName("ID")->SetAsInteger(1);
    sql->ParamByName("name")->SetAsString("bolt");
    sql->ParamByName("made")->SetAsDate(rtl::EncodeDate(2024, 5, 6) + rtl::EncodeTime(13, 14, 15, 0));
    sql->Execute();
    EXPECT_EQ(1, sql->RowsProcessed());
    EXPECT_EQ((std::vector<std::string>{"1:bolt:2024-05-06 00:00:00"}), Rows());
}

TEST_F(SQLTest, TheServerGetsTheTextWithoutTrailingBlanksAndWithMacrosExpanded) {
    auto sql = newSQL(session_.get(), "INSERT INTO &tab(id, name) VALUES (:id, '&keep') &tail \r\n\t ");
    ASSERT_EQ(2, sql->Macros().Count());
    sql->MacroByName("tab")->SetValue("item");
    sql->ParamByName("id")->SetAsInteger(2);
    Record();
    sql->Execute();
    EXPECT_EQ((std::vector<std::string>{"INSERT INTO item(id, name) VALUES (:id, '&keep')"}), Received())
        << "an unknown-valued macro vanishes, one inside quotes stays text";
    EXPECT_EQ((std::vector<std::string>{"2:&keep:"}), [&] {
        session_->Commit();
        return Rows();
    }());
}

TEST_F(SQLTest, ChangingTheTextRebuildsParametersKeepingValuesByName) {
    auto sql = newSQL(session_.get(), "INSERT INTO item(id, name) VALUES (:id, :name)");
    sql->ParamByName("id")->SetAsInteger(3);
    sql->ParamByName("name")->SetAsString("gear");
    sql->SQL().SetText("INSERT INTO item(id, made) VALUES (:id, :made)");
    ASSERT_EQ(2, sql->ParamCount());
    EXPECT_EQ(3, sql->ParamByName("id")->AsInteger());
    EXPECT_EQ(nullptr, sql->FindParam("name"));
    EXPECT_TRUE(sql->ParamByName("made")->IsNull());

    sql->SetParamCheck(false);
    sql->SQL().SetText("INSERT INTO item(id) VALUES (:other)");
    EXPECT_EQ(2, sql->ParamCount()) << "without ParamCheck the list stays";
}

TEST_F(SQLTest, StringParametersAreSizedFromTheirValueOrTheConnectionDefault) {
    auto sql = newSQL(session_.get(), "INSERT INTO item(id, name) VALUES (:id, :name)");
    sql->ParamByName("id")->SetAsInteger(4);
    auto* name = sql->ParamByName("name");
    name->SetParamType(db::ptInput);
    name->SetAsString("abcd");
    sql->Execute();
    EXPECT_EQ(4, sql->OCICommand()->GetParam(1)->GetSize());
    name->SetAsString("");
    sql->ParamByName("id")->SetAsInteger(5);
    sql->Execute();
    rtl::Variant fallback;
    session_->GetIConnection()->GetProp(prMaxStringSize, fallback);
    EXPECT_EQ(fallback.AsInteger(), sql->OCICommand()->GetParam(1)->GetSize());
    EXPECT_GT(fallback.AsInteger(), 0);
}

TEST_F(SQLTest, ARunThatFailsBeforeTheServerGivesItsConnectionUseBack) {
    struct Case {
        const char* name;
        std::function<void(TOraSQL&)> arm;
    };
    const Case cases[] = {
        {"BeforeExecute raises",
         [](TOraSQL& s) { s.BeforeExecute = [](rtl::TObject*) { throw rtl::Exception("stop"); }; }},
        {"a value that does not convert",
         [](TOraSQL& s) {
             auto* p = s.ParamByName("id");
             p->SetDataType(db::ftInteger);
             p->SetAsVariant(rtl::Variant("not a number"));
             p->SetDataType(db::ftInteger);
         }},
    };
    for (const auto& c : cases) {
        auto session = newSession();
        session->Options().SetDisconnectedMode(true);
        int afterExecute = 0;
        auto sql = newSQL(session.get(), "INSERT INTO item(id) VALUES (:id)");
        sql->ParamByName("id")->SetAsInteger(1);
        c.arm(*sql);
        sql->AfterExecute = [&](rtl::TObject*, bool) { ++afterExecute; };
        EXPECT_NE("(nothing raised)", ErrorText([&] { sql->Execute(); })) << c.name;
        EXPECT_EQ(0, session->ConnectCount()) << c.name;
        EXPECT_FALSE(session->GetConnected()) << c.name << ": disconnected mode closes after the last use";
    }
}

TEST_F(SQLTest, DisconnectedModeConnectsForARunAndClosesAfterIt) {
    auto session = newSession();
    session->Options().SetDisconnectedMode(true);
    auto sql = newSQL(session.get(), "INSERT INTO item(id) VALUES (9)");
    sql->SetAutoCommit(true);
    bool connectedDuring = false;
    sql->BeforeExecute = [&](rtl::TObject*) { connectedDuring = session->GetConnected(); };
    sql->Execute();
    EXPECT_TRUE(connectedDuring);
    EXPECT_FALSE(session->GetConnected());
    EXPECT_EQ((std::vector<std::string>{"9::"}), Rows());
}

TEST_F(SQLTest, TextAndParametersFirstAndTheProcedureNameLastGiveTheCallAskedFor) {
    auto sql = newSQL(session_.get(), "INSERT INTO item(id) VALUES (:P_ID)");
    sql->ParamByName("P_ID")->SetAsInteger(21);
    auto* name = static_cast<TOraParam*>(sql->Params().Add());
    name->SetName("P_NAME");
    name->SetParamType(db::ptInput);
    name->SetAsString("washer");
    sql->ParamByName("P_ID")->SetParamType(db::ptInput);
    sql->CreateProcCall("add_item", false, false);
    EXPECT_EQ("add_item", sql->StoredProcName());
    Record();
    sql->Execute();
    session_->Commit();
    EXPECT_EQ((std::vector<std::string>{"21:washer:"}), Rows());
    ASSERT_FALSE(Received().empty());
    EXPECT_EQ("begin\n  add_item(:P_ID, :P_NAME);\nend;", Received()[0]);

    sql->SQL().SetText("INSERT INTO item(id) VALUES (22)");
    EXPECT_EQ("", sql->StoredProcName()) << "setting the text by hand drops the procedure";
    sql->Execute();
    session_->Commit();
    EXPECT_EQ(2u, Rows().size());
}

TEST_F(SQLTest, AFunctionResultIsReadBackAfterTheCall) {
    dbExec("INSERT INTO item(id, name) VALUES (30, 'spring')");
    TOraSQL sql;
    sql.SetSession(session_.get());
    sql.CreateProcCall("item_name", true, false);
    ASSERT_NE(nullptr, sql.FindResultParam());
    sql.ParamByName("P_ID")->SetAsInteger(30);
    sql.Execute();
    EXPECT_EQ("spring", sql.FindResultParam()->AsString());
}

TEST_F(SQLTest, AServerErrorArrivesWithItsCodeAndTheUseIsGivenBack) {
    auto sql = newSQL(session_.get(), "INSERT INTO nowhere VALUES (1)");
    const int uses = session_->ConnectCount();
    bool afterResult = true;
    sql->AfterExecute = [&](rtl::TObject*, bool result) { afterResult = result; };
    try {
        sql->Execute();
        ADD_FAILURE() << "no error";
    } catch (const EOraError& e) {
        EXPECT_EQ(942, e.ErrorCode);
        EXPECT_EQ(sql.get(), e.Component);
    }
    EXPECT_FALSE(afterResult);
    EXPECT_EQ(uses, session_->ConnectCount());
}

TEST_F(SQLTest, NoConnectionIsAClearError) {
    TOraSQL sql;
    sql.SQL().SetText("INSERT INTO item(id) VALUES (1)");
    EXPECT_EQ("Connection is not defined", ErrorText([&] { sql.Execute(); }));
    EXPECT_EQ("StoredProcName must be defined", ErrorText([&] {
                  sql.SetSession(session_.get());
                  sql.CreateProcCall("", false, false);
              }));
}

TEST_F(SQLTest, ConnectionLevelExecSQLRunsThroughTheSessionsOwnStatement) {
    session_->ExecSQL("INSERT INTO item(id, name) VALUES (:a, :b)",
                      {rtl::Variant(int32_t(40)), rtl::Variant("pin")});
    session_->Commit();
    EXPECT_EQ((std::vector<std::string>{"40:pin:"}), Rows());
}

TEST_F(SQLTest, APreparedStatementHoldsOneUseUntilItsTextChanges) {
    auto sql = newSQL(session_.get(), "INSERT INTO item(id) VALUES (:id)");
    const int uses = session_->ConnectCount();
    sql->Prepare();
    EXPECT_TRUE(sql->Prepared());
    EXPECT_EQ(uses + 1, session_->ConnectCount());
    sql->ParamByName("id")->SetAsInteger(50);
    sql->Execute();
    EXPECT_EQ(uses + 1, session_->ConnectCount()) << "the run gave its own use back";
    sql->SQL().SetText("INSERT INTO item(id) VALUES (:id + 1)");
    EXPECT_FALSE(sql->Prepared());
    EXPECT_EQ(uses, session_->ConnectCount());
    EXPECT_EQ(50, sql->ParamByName("id")->AsInteger());
}

TEST_F(SQLTest, WithTheLibrarySwitchAStatementWithoutSessionUsesTheDefaultSession) {
    ASSERT_EQ(session_.get(), DefaultSession());
    TOraSQL sql;
    sql.SQL().SetText("INSERT INTO item(id) VALUES (60)");
    EXPECT_EQ("Connection is not defined", ErrorText([&] { sql.Execute(); }));
    UseDefaultSession = true;
    const std::string error = ErrorText([&] { sql.Execute(); });
    UseDefaultSession = false;
    EXPECT_EQ("(nothing raised)", error);
    session_->Commit();
    EXPECT_EQ((std::vector<std::string>{"60::"}), Rows());
}

TEST_F(SQLTest, AStatementOutlivesTheDefaultSessionItFellBackTo) {
    auto fallback = std::make_unique<TOraSQL>();
    fallback->SQL().SetText("INSERT INTO item(id) VALUES (61)");
    UseDefaultSession = true;
    fallback->Execute();
    UseDefaultSession = false;
    session_.reset();
    EXPECT_EQ("Connection is not defined", ErrorText([&] { fallback->Execute(); }));
    fallback.reset();
}

// LOB parameters: content written through a temporary LOB or to the locator an INSERT returns,
// and read back from a block.
TEST_F(SQLTest, ClobParametersWriteAndReadCyrillicText) {
    dbExec("CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body CLOB);");
    const AnsiString text = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";  // "Привет, мир" in code page 1251
    struct Case {
        const char* sql;
        bool temporaryLobUpdate;
    };
    for (const Case& c :
         {Case{"INSERT INTO doc(id, body) VALUES (:id, :body)", true},
          Case{"INSERT INTO doc(id, body) VALUES (:id, EMPTY_CLOB()) RETURNING body INTO :body", false}}) {
        SCOPED_TRACE(c.sql);
        dbExec("DELETE FROM doc;");
        auto sql = newSQL(session_.get(), c.sql);
        sql->SetAutoCommit(true);
        sql->SetTemporaryLobUpdate(c.temporaryLobUpdate);
        sql->ParamByName("id")->SetAsInteger(1);
        TOraParam* body = sql->ParamByName("body");
        body->SetDataType(db::ftOraClob);
        body->SetParamType(db::ptInput);
        body->SetAsString(text);
        sql->Execute();
        EXPECT_EQ(std::vector<std::string>{"Привет, мир"}, dbTexts("SELECT body FROM doc"));

        auto read = newSQL(session_.get(), "begin select body into :b from doc where id = 1; end;");
        TOraParam* b = read->ParamByName("b");
        b->SetDataType(db::ftOraClob);
        b->SetParamType(db::ptOutput);
        read->Execute();
        EXPECT_EQ(text, b->AsString());
    }
}
