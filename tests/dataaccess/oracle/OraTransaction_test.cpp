// The Oracle transaction on the stand-in: the statements a local start sends, names that reach SQL,
// time-outs, and global transactions with their branches.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

// The statement texts the client prepared while it lives.
class StatementTrace {
public:
    explicit StatementTrace(const std::string& dir) : path_(dir + "/trace.txt") {
        setenv("DX_OCI_TRACE", path_.c_str(), 1);
    }
    ~StatementTrace() { unsetenv("DX_OCI_TRACE"); }
    std::vector<std::string> Texts() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        std::vector<std::string> out;
        std::string item;
        for (char c : all.str()) {
            if (c == 0x1E) {
                out.push_back(item);
                item.clear();
            } else {
                item += c;
            }
        }
        return out;
    }
    // The texts other than the local transaction id asks.
    std::vector<std::string> SetTransactionTexts() const {
        std::vector<std::string> out;
        for (const auto& t : Texts())
            if (t.find("SET TRANSACTION") != std::string::npos) out.push_back(t);
        return out;
    }

private:
    std::string path_;
};

ub2 g_timeOut = 0;
ub4 g_flags = 0;
decltype(dac::OCITransStart) g_savedStart = nullptr;
sword RecordingStart(OCISvcCtx* svc, OCIError* err, uword timeOut, ub4 flags) {
    g_timeOut = static_cast<ub2>(timeOut);
    g_flags = flags;
    return g_savedStart(svc, err, timeOut, flags);
}

sword FailingPrepare(OCISvcCtx*, OCIError*, ub4) {
    return OCI_ERROR;
}

}  // namespace

class OraTransactionTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec("CREATE TABLE t(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20));");
    }

    void Insert(TOCIConnection* c, int id) {
        auto command = std::make_unique<TOCICommand>();
        command->SetConnection(c);
        command->SetProp(prAutoCommit, false);
        command->SetSQLText("insert into t(id, name) values (" + std::to_string(id) + ", 'x')");
        command->Execute();
    }

    std::vector<std::string> Ids() { return dbTexts("SELECT id FROM t ORDER BY id"); }

    std::unique_ptr<TOCITransaction> Local() {
        auto tr = std::make_unique<TOCITransaction>();
        tr->AttachConnection(conn_.get());
        return tr;
    }
};

TEST_F(OraTransactionTest, ConnectionsUseItAsTheirInternalTransaction) {
    EXPECT_NE(nullptr, dynamic_cast<TOCITransaction*>(conn_->GetInternalTransaction()));
}

TEST_F(OraTransactionTest, ALocalStartCommitsPendingWorkFirst) {
    Insert(conn_.get(), 1);
    EXPECT_TRUE(Ids().empty());
    auto tr = Local();
    tr->OpenTransaction();
    EXPECT_EQ((std::vector<std::string>{"1"}), Ids());
    EXPECT_TRUE(tr->GetInTransaction());
    EXPECT_FALSE(tr->LocalTransactionId().empty());
    Insert(conn_.get(), 2);
    tr->Rollback();
    EXPECT_FALSE(tr->GetInTransaction());
    EXPECT_EQ((std::vector<std::string>{"1"}), Ids());
    tr->OpenTransaction();
    Insert(conn_.get(), 3);
    tr->Commit();
    EXPECT_EQ((std::vector<std::string>{"1", "3"}), Ids());
}

TEST_F(OraTransactionTest, TheSetTransactionStatementsOfALocalStart) {
    struct Case {
        const char* name;
        const char* segment;
        bool readOnly;
        int isolation;
        std::vector<std::string> texts;
    } cases[] = {
        {"", "", false, ilReadCommitted, {}},
        {"load", "", false, ilReadCommitted, {"begin SET TRANSACTION NAME 'load'; end;"}},
        {"load", "", true, ilReadCommitted, {"begin SET TRANSACTION READ ONLY NAME 'load'; end;"}},
        {"", "", false, ilSerializable, {"begin SET TRANSACTION ISOLATION LEVEL SERIALIZABLE; end;"}},
        {"o'k",
         "",
         false,
         ilSerializable,
         {"begin SET TRANSACTION ISOLATION LEVEL SERIALIZABLE NAME 'o''k'; end;"}},
        {"", "rbs1", false, ilReadCommitted, {"begin SET TRANSACTION USE ROLLBACK SEGMENT \"RBS1\"; end;"}},
    };
    for (const Case& c : cases) {
        auto tr = Local();
        tr->SetProp(prTransactionName, AnsiString(c.name));
        tr->SetProp(prRollbackSegment, AnsiString(c.segment));
        tr->SetProp(prReadOnly, c.readOnly);
        tr->SetProp(prIsolationLevel, c.isolation);
        StatementTrace trace(dir_);
        tr->OpenTransaction();
        EXPECT_EQ(c.texts, trace.SetTransactionTexts()) << c.name << "/" << c.segment;
        tr->Commit();
        std::remove((dir_ + "/trace.txt").c_str());
    }
}

TEST_F(OraTransactionTest, AnUnsupportedIsolationLevelIsFoundAfterThePendingCommit) {
    Insert(conn_.get(), 1);
    auto tr = Local();
    tr->SetProp(prIsolationLevel, static_cast<int>(ilIsolated));
    EXPECT_EQ("Unsupported transaction isolation level", ExceptionText([&] { tr->OpenTransaction(); }));
    EXPECT_EQ((std::vector<std::string>{"1"}), Ids());
    EXPECT_FALSE(tr->GetInTransaction());
}

TEST_F(OraTransactionTest, SavepointsAreNamedSafely) {
    auto tr = Local();
    tr->OpenTransaction();
    Insert(conn_.get(), 1);
    tr->Savepoint("sp1");
    Insert(conn_.get(), 2);
    tr->Savepoint("\"Mixed Case\"");
    Insert(conn_.get(), 3);
    tr->RollbackToSavepoint("\"Mixed Case\"");
    tr->RollbackToSavepoint("SP1");  // unquoted names are upper case, as Oracle keeps them
    tr->Commit();
    EXPECT_EQ((std::vector<std::string>{"1"}), Ids());
    for (const char* bad : {"sp; delete from t", "x'y", "1sp", "", "\"a\"b\"", "sp 1"}) {
        EXPECT_EQ(std::string("Invalid savepoint name: ") + bad, ExceptionText([&] { tr->Savepoint(bad); }));
    }
    EXPECT_EQ("Invalid transaction name: a\nb", ExceptionText([&] { OraNameLiteral("a\nb"); }));
    EXPECT_EQ(1086, OraErrorCode([&] { tr->RollbackToSavepoint("never"); }));
}

TEST_F(OraTransactionTest, VerifyInTransactionSeesWorkStartedWithoutAStart) {
    auto tr = Local();
    EXPECT_FALSE(tr->VerifyInTransaction(true));
    Insert(conn_.get(), 1);
    EXPECT_FALSE(tr->VerifyInTransaction(false));
    EXPECT_TRUE(tr->VerifyInTransaction(true));
    tr->Commit();
    tr->OpenTransaction();
    EXPECT_TRUE(tr->VerifyInTransaction(false));
    // Another party ended it: the known id no longer matches.
    conn_->GetInternalTransaction()->Commit();
    Insert(conn_.get(), 2);
    EXPECT_FALSE(tr->VerifyInTransaction(false));
    EXPECT_TRUE(tr->LocalTransactionId().empty());
}

TEST_F(OraTransactionTest, TimeOutsAreClampedToSixteenBits) {
    struct Case {
        int32_t seconds;
        uint16_t sent;
    } cases[] = {{0, 0}, {60, 60}, {65535, 65535}, {65536, 65535}, {70000, 65535}, {-5, 0}};
    for (const Case& c : cases) EXPECT_EQ(c.sent, ClampTransactionTimeOut(c.seconds)) << c.seconds;
    EntrySwap<decltype(dac::OCITransStart)> swap(dac::OCITransStart, RecordingStart);
    g_savedStart = swap.Saved();
    auto tr = Local();
    tr->SetTransactionId({1, 2, 3});
    tr->SetProp(prInactiveTimeOut, 65536);
    tr->OpenTransaction();
    EXPECT_EQ(65535, g_timeOut);
    EXPECT_EQ(static_cast<ub4>(OCI_TRANS_READWRITE | OCI_TRANS_NEW), g_flags);
    tr->Rollback();
}

// ---------------------------------------------------------------------------------------------
// Global transactions

TEST_F(OraTransactionTest, TwoConnectionsWithoutNameOrIdFailBeforeTouchingEither) {
    auto second = newConnection();
    second->Connect("");
    TOCITransaction tr;
    tr.AttachConnection(conn_.get());
    tr.AttachConnection(second.get());
    StatementTrace trace(dir_);
    EXPECT_EQ("Cannot start distributed transaction without transaction name or XID",
              ExceptionText([&] { tr.OpenTransaction(); }));
    EXPECT_TRUE(trace.Texts().empty());
    TOCITransaction none;
    EXPECT_EQ("There are no connections in the transaction", ExceptionText([&] { none.OpenTransaction(); }));
    auto idle = newConnection();
    TOCITransaction withIdle;
    withIdle.AttachConnection(idle.get());
    EXPECT_EQ("One of the connections in the transaction is not active",
              ExceptionText([&] { withIdle.OpenTransaction(); }));
}

TEST_F(OraTransactionTest, OneConnectionWithAnIdCommitsInOnePhase) {
    auto tr = Local();
    tr->SetTransactionId({0xAB, 0xCD});
    tr->SetBranchQualifier(0, {0x01});
    tr->OpenTransaction();
    ASSERT_EQ(1u, tr->Links().size());
    EXPECT_EQ(1, tr->Links()[0].State);
    const TXID* xid = tr->XID();
    ASSERT_NE(nullptr, xid);
    EXPECT_EQ(0, xid->formatID);
    EXPECT_EQ(2, xid->gtrid_length);
    EXPECT_EQ(1, xid->bqual_length);
    EXPECT_EQ((std::vector<uint8_t>{0xAB, 0xCD, 0x01}), std::vector<uint8_t>(xid->data, xid->data + 3));
    Insert(conn_.get(), 5);
    tr->Commit();
    EXPECT_EQ(0, tr->Links()[0].State);
    EXPECT_FALSE(tr->GetInTransaction());
    EXPECT_EQ((std::vector<std::string>{"5"}), Ids());
}

TEST_F(OraTransactionTest, IdsAndQualifiersLongerThan64BytesAreRefused) {
    auto tr = Local();
    tr->SetTransactionId(rtl::TBytes(65, 1));
    EXPECT_EQ("TransactionId cannot contain more than 64 elements",
              ExceptionText([&] { tr->OpenTransaction(); }));
    tr->SetTransactionId(rtl::TBytes(64, 1));
    tr->SetBranchQualifier(0, rtl::TBytes(65, 2));
    EXPECT_EQ("BranchQualifier cannot contain more than 64 elements",
              ExceptionText([&] { tr->OpenTransaction(); }));
    // The failed start left no branch attached: a local transaction works at once.
    EXPECT_FALSE(tr->GetInTransaction());
    EXPECT_EQ(nullptr, tr->Links()[0].TransactionHandle);
    Insert(conn_.get(), 1);
    conn_->GetInternalTransaction()->Commit();
    EXPECT_EQ((std::vector<std::string>{"1"}), Ids());
}

TEST_F(OraTransactionTest, TwoPhaseCommitSkipsABranchThatChangedNothing) {
    auto reader = newConnection();
    reader->Connect("");
    TOCITransaction tr;
    tr.AttachConnection(conn_.get());
    tr.AttachConnection(reader.get());
    tr.SetProp(prTransactionName, AnsiString("pair"));
    tr.OpenTransaction();
    EXPECT_EQ(1, tr.Links()[0].State);
    EXPECT_EQ(1, tr.Links()[1].State);
    Insert(conn_.get(), 7);
    tr.Commit();
    EXPECT_EQ((std::vector<std::string>{"7"}), Ids());
    EXPECT_FALSE(tr.GetInTransaction());
    EXPECT_EQ(nullptr, tr.Links()[0].TransactionHandle);
    EXPECT_EQ(nullptr, tr.Links()[1].TransactionHandle);
}

TEST_F(OraTransactionTest, AFailedPrepareRollsEveryBranchBack) {
    auto reader = newConnection();
    reader->Connect("");
    TOCITransaction tr;
    tr.AttachConnection(conn_.get());
    tr.AttachConnection(reader.get());
    tr.SetProp(prTransactionName, AnsiString("pair"));
    tr.OpenTransaction();
    Insert(conn_.get(), 7);
    {
        EntrySwap<decltype(dac::OCITransPrepare)> swap(dac::OCITransPrepare, FailingPrepare);
        EXPECT_THROW(tr.Commit(), EOraError);
    }
    EXPECT_FALSE(tr.GetInTransaction());
    EXPECT_TRUE(Ids().empty());
}

TEST_F(OraTransactionTest, DetachIsRefusedByTheServerAndAResumedStartEndsDetached) {
    auto tr = Local();
    tr->SetTransactionId({9});
    tr->OpenTransaction();
    EXPECT_EQ(3001, OraErrorCode([&] { tr->Detach(); }));
    tr->Rollback();
    tr->SetProp(prResume, true);
    EXPECT_NE(0, OraErrorCode([&] { tr->OpenTransaction(); }));
    EXPECT_FALSE(tr->GetInTransaction());
    EXPECT_EQ(nullptr, tr->Links()[0].TransactionHandle);
}
