// Transactions and savepoints of a session on the stand-in server: what reaches the database,
// the driver's auto-commit while a transaction runs, and the component's state.
#include <gtest/gtest.h>

#include "SessionFixture.h"

using namespace dac;

class TransactionTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        session_ = newSession();
        session_->SetAutoCommit(false);
        session_->Connect();
    }
    void TearDown() override {
        session_.reset();
        SessionTest::TearDown();
    }
    void Insert(int id, const char* name = "x") {
        auto sql = newSQL(session_.get(), "INSERT INTO item(id, name) VALUES (:id, :name)");
        sql->ParamByName("id")->SetAsInteger(id);
        sql->ParamByName("name")->SetAsString(name);
        sql->Execute();
    }
    // Rows as another connection sees them: committed ones only.
    std::vector<std::string> Committed() { return dbTexts("SELECT id FROM item ORDER BY id"); }

    std::unique_ptr<TestSession> session_;
};

TEST_F(TransactionTest, CommitRollbackAndSavepointsDecideWhatStays) {
    session_->StartTransaction();
    EXPECT_TRUE(session_->InTransaction());
    Insert(1);
    session_->Savepoint("S1");
    Insert(2);
    session_->RollbackToSavepoint("S1");
    Insert(3);
    EXPECT_TRUE(Committed().empty()) << "nothing is visible before the commit";
    session_->Commit();
    EXPECT_FALSE(session_->InTransaction());
    EXPECT_EQ((std::vector<std::string>{"1", "3"}), Committed());

    session_->StartTransaction();
    Insert(4);
    session_->Rollback();
    EXPECT_FALSE(session_->InTransaction());
    EXPECT_EQ((std::vector<std::string>{"1", "3"}), Committed());
}

TEST_F(TransactionTest, StartingAnActiveTransactionIsRefusedBeforeAStartIsSent) {
    session_->StartTransaction();
    Record();
    EXPECT_EQ("Can't perform operation on active transaction",
              ErrorText([&] { session_->StartTransaction(); }));
    // The server may be asked whether the transaction still runs; nothing starts one.
    for (const auto& sent : Received()) {
        EXPECT_EQ(std::string::npos, sent.find("SET TRANSACTION")) << sent;
        EXPECT_EQ(std::string::npos, sent.find("(true)")) << sent;
    }
    EXPECT_TRUE(session_->InTransaction());
    session_->Rollback();
}

TEST_F(TransactionTest, TheDriverAutoCommitIsOffWhileATransactionRunsAndComesBackAfter) {
    session_->SetAutoCommit(true);
    TCRConnection* driver = session_->GetIConnection();
    EXPECT_TRUE(driver->AutoCommit());
    session_->StartTransaction();
    EXPECT_FALSE(driver->AutoCommit());
    auto sql = newSQL(session_.get(), "INSERT INTO item(id) VALUES (7)");
    sql->SetAutoCommit(true);
    sql->Execute();
    EXPECT_TRUE(Committed().empty()) << "a statement inside the transaction does not commit it";
    session_->Rollback();
    EXPECT_TRUE(driver->AutoCommit());
    EXPECT_TRUE(Committed().empty());
}

TEST_F(TransactionTest, AutoCommitOfSessionAndStatementTogetherCommitsEachStatement) {
    struct Case {
        bool session;
        bool statement;
        bool committed;
    };
    const Case cases[] = {
        {true, true, true}, {true, false, false}, {false, true, false}, {false, false, false}};
    int id = 10;
    for (const auto& c : cases) {
        session_->SetAutoCommit(c.session);
        auto sql = newSQL(session_.get(), "INSERT INTO item(id) VALUES (:id)");
        sql->SetAutoCommit(c.statement);
        sql->ParamByName("id")->SetAsInteger(++id);
        sql->Execute();
        const auto rows = Committed();
        const bool seen = std::find(rows.begin(), rows.end(), std::to_string(id)) != rows.end();
        EXPECT_EQ(c.committed, seen) << "session " << c.session << ", statement " << c.statement;
        session_->Rollback();
    }
}

TEST_F(TransactionTest, ACommitWithoutStartStillReachesTheServerAndFiresOnCommit) {
    int commits = 0;
    session_->DefaultTransaction()->OnCommit = [&](rtl::TObject*) { ++commits; };
    Insert(1);
    session_->Commit();
    EXPECT_EQ(1, commits);
    EXPECT_EQ((std::vector<std::string>{"1"}), Committed());
}

TEST_F(TransactionTest, ASavepointWithoutStartLeavesTheComponentInactive) {
    Record();
    session_->Savepoint("P");
    EXPECT_FALSE(session_->InTransaction());
    Insert(5);
    session_->RollbackToSavepoint("P");
    EXPECT_FALSE(session_->InTransaction());
    session_->Commit();
    EXPECT_TRUE(Committed().empty()) << "the row after the savepoint was rolled back";
    // The driver may quote the name.
    auto sentWith = [&](const std::string& prefix) {
        for (const auto& s : Received())
            if (s.rfind(prefix, 0) == 0 && s.find('P', prefix.size()) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(sentWith("SAVEPOINT "));
    EXPECT_TRUE(sentWith("ROLLBACK TO SAVEPOINT "));
}

TEST_F(TransactionTest, IsolationLevelsReadBackAndNeedAnInactiveTransaction) {
    auto* t = static_cast<TOraTransaction*>(session_->DefaultTransaction());
    for (auto level : {TOraIsolationLevel::ilReadOnly, TOraIsolationLevel::ilSerializable,
                       TOraIsolationLevel::ilReadCommitted}) {
        t->SetIsolationLevel(level);
        EXPECT_EQ(level, t->IsolationLevel());
    }
    session_->StartTransaction();
    EXPECT_EQ("Can't perform operation on active transaction",
              ErrorText([&] { t->SetIsolationLevel(TOraIsolationLevel::ilSerializable); }));
    session_->Rollback();
}

TEST_F(TransactionTest, AForcedCloseAtDisconnectEndsTheTransactionByItsDefaultAction) {
    EXPECT_EQ(taCommit, session_->DefaultTransaction()->DefaultCloseAction);
    session_->StartTransaction();
    Insert(1);
    session_->Disconnect();
    EXPECT_FALSE(session_->InTransaction());
    EXPECT_EQ((std::vector<std::string>{"1"}), Committed()) << "the default action commits";

    session_->Connect();
    session_->DefaultTransaction()->DefaultCloseAction = taRollback;
    session_->StartTransaction();
    Insert(2);
    session_.reset();
    EXPECT_EQ((std::vector<std::string>{"1"}), Committed()) << "destroying the session rolls back";
}

TEST_F(TransactionTest, OperationsOracleLacksAreRefusedAsTheDriverSays) {
    EXPECT_EQ("Can't perform operation on inactive transaction",
              ErrorText([&] { session_->CommitRetaining(); }));
    EXPECT_EQ("Can't perform operation on inactive transaction",
              ErrorText([&] { session_->RollbackRetaining(); }));
    session_->StartTransaction();
    EXPECT_EQ("Operation is not supported by the database", ErrorText([&] { session_->CommitRetaining(); }));
    EXPECT_EQ("Operation is not supported by the database",
              ErrorText([&] { session_->ReleaseSavepoint("S"); }));
    EXPECT_TRUE(session_->InTransaction());
    session_->Rollback();
}

TEST_F(TransactionTest, ASecondTransactionOnTheSessionIsRefusedWhileOneIsActive) {
    TOraTransaction other;
    other.SetDefaultConnection(session_.get());
    session_->StartTransaction();
    EXPECT_EQ("Multiple transactions are not supported by the database",
              ErrorText([&] { other.StartTransaction(); }));
    EXPECT_FALSE(other.Active());
    session_->Commit();
    other.StartTransaction();
    EXPECT_TRUE(session_->InTransaction());
    EXPECT_EQ(&other, session_->UsedTransaction()) << "statements use the active transaction";
    Insert(1);
    other.Commit();
    EXPECT_EQ((std::vector<std::string>{"1"}), Committed());
}

TEST_F(TransactionTest, AConnectionThatIsNotConnectedCannotStartATransaction) {
    session_->Disconnect();
    EXPECT_EQ("One of the connections in the transaction is not active",
              ErrorText([&] { session_->StartTransaction(); }));
    EXPECT_FALSE(session_->InTransaction());
}
