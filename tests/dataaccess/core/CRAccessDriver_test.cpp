// Driver connection, transaction, command and parameter descriptors, through the fake driver.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/CRConnectionPool.h"
#include "tests/dataaccess/core/FakeDriver.h"

namespace dac {
namespace {

using fake::EFakeError;
using fake::FakeCommand;
using fake::FakeConnection;
using fake::FakeTransaction;
using rtl::Variant;

// The assertion for an unknown identifier carries the identifier as its text.
void ExpectUnknownProp(const std::function<void()>& call, int prop) {
    try {
        call();
        ADD_FAILURE() << "no assertion for " << prop;
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind(std::to_string(prop) + " (", 0), 0u) << e.Message();
    }
}

template <class E>
std::string MessageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e.Message();
    }
    return "<no exception>";
}

// ---------------------------------------------------------------------------------------------
// Connection

TEST(DriverConnection, BaseProperties) {
    FakeConnection c;
    struct Case {
        int prop;
        std::function<bool(const FakeConnection&)> read;
    };
    const std::vector<Case> cases = {
        {prAutoCommit, [](const FakeConnection& x) { return x.AutoCommit(); }},
        {prConvertEOL, [](const FakeConnection& x) { return x.ConvertEOL(); }},
        {prDisconnectedMode, [](const FakeConnection& x) { return x.DisconnectedMode(); }},
        {prEnableBCD, [](const FakeConnection& x) { return x.EnableBCD(); }},
        {prEnableFMTBCD, [](const FakeConnection& x) { return x.EnableFMTBCD(); }},
    };
    for (const auto& k : cases) {
        EXPECT_TRUE(c.SetProp(k.prop, true)) << k.prop;
        EXPECT_TRUE(k.read(c)) << k.prop;
        EXPECT_TRUE(c.SetProp(k.prop, false)) << k.prop;
        EXPECT_FALSE(k.read(c)) << k.prop;
    }
    EXPECT_TRUE(c.SetProp(prDefaultSortType, static_cast<int32_t>(stBinary)));
    EXPECT_EQ(c.DefaultSortType(), stBinary);

    Variant v;
    c.SetUsername("scott");
    EXPECT_TRUE(c.GetProp(prUsername, v));
    EXPECT_EQ(v.AsString(), "scott");
    for (int prop : {prMaxStringSize, prLastInsertId}) {
        v = Variant();
        EXPECT_TRUE(c.GetProp(prop, v));
        EXPECT_EQ(v.AsInt64(), 0) << prop;
    }
    ExpectUnknownProp([&] { c.SetProp(prLastInsertId, 1); }, prLastInsertId);
    ExpectUnknownProp([&] { c.SetProp(prConnectMode, 1); }, prConnectMode);
    ExpectUnknownProp([&] { c.GetProp(prAutoCommit, v); }, prAutoCommit);
}

TEST(DriverConnection, LifecycleAndAssign) {
    FakeConnection c;
    EXPECT_FALSE(c.GetConnected());
    EXPECT_TRUE(c.IsValid);
    EXPECT_TRUE(c.OwnsHandles());
    c.IsValid = false;
    c.Connect("");
    EXPECT_TRUE(c.GetConnected());
    EXPECT_TRUE(c.IsValid);

    // The internal transaction is of the driver's class and holds the connection.
    TCRTransaction* t = c.GetInternalTransaction();
    ASSERT_NE(dynamic_cast<FakeTransaction*>(t), nullptr);
    EXPECT_EQ(t, c.GetInternalTransaction());
    ASSERT_EQ(t->ConnectionsCount(), 1);
    EXPECT_EQ(t->Connections()[0], &c);

    FakeConnection src;
    src.SetServer("db1");
    src.SetUsername("u");
    src.SetPassword("p");
    src.SetProp(prEnableBCD, true);
    src.SetProp(prEnableFMTBCD, true);
    src.SetProp(prAutoCommit, true);
    src.SetProp(prConvertEOL, true);
    int hookCalls = 0;
    src.OnError = [&](rtl::Exception*, bool&, bool&, bool&, int, TConnLostCause&) { ++hookCalls; };
    FakeConnection dst;
    dst.Assign(&src);
    EXPECT_EQ(dst.GetServer(), "db1");
    EXPECT_EQ(dst.GetUsername(), "u");
    EXPECT_EQ(dst.GetPassword(), "p");
    EXPECT_TRUE(dst.EnableBCD());
    EXPECT_TRUE(dst.EnableFMTBCD());
    EXPECT_FALSE(dst.AutoCommit());
    EXPECT_FALSE(dst.ConvertEOL());
    ASSERT_TRUE(dst.OnError);
    bool fail = true;
    dst.ProcessError(nullptr, fail);
    EXPECT_EQ(hookCalls, 1);

    EXPECT_EQ(MessageOf<rtl::Exception>([&] { c.Enlist(t); }), "MS DTC transactions not supported");
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { c.UnEnlist(t); }), "MS DTC transactions not supported");
    EXPECT_THROW(c.CheckIsValid(), rtl::EAbstractError);
    TCRConnection plain;
    EXPECT_THROW(plain.GetInternalTransaction(), rtl::EAbstractError);
}

struct RecordingPool : TCRConnectionPool {
    void ReturnConnection(TCRConnection* connection) override { returned.push_back(connection); }
    std::vector<TCRConnection*> returned;
};

TEST(DriverConnection, ReturnToPool) {
    FakeConnection c;
    EXPECT_THROW(c.ReturnToPool(), rtl::EAssertionFailed);
    RecordingPool pool;
    c.Pool = &pool;
    rtl::TComponent owner(nullptr);
    c.Component = &owner;
    c.OnError = [](rtl::Exception*, bool&, bool&, bool&, int, TConnLostCause&) {};
    c.ReturnToPool();
    ASSERT_EQ(pool.returned.size(), 1u);
    EXPECT_EQ(pool.returned[0], &c);
    EXPECT_FALSE(c.OnError);
    EXPECT_EQ(c.Component, nullptr);
}

// The lost-connection dialogue.
struct ErrorScript {
    // Per call of the hook: what it answers.
    struct Answer {
        bool fail, reconnect, reexecute;
    };
    std::vector<Answer> answers;
    std::vector<int> attempts;
    TConnLostCause cause = clOpen;
};

void Install(FakeConnection& c, ErrorScript& s) {
    c.OnError = [&s](rtl::Exception*, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                     TConnLostCause& cause) {
        size_t i = s.attempts.size();
        s.attempts.push_back(attempt);
        const auto& a = s.answers.at(std::min(i, s.answers.size() - 1));
        fail = a.fail;
        reconnect = a.reconnect;
        reexecute = a.reexecute;
        cause = s.cause;
    };
}

TEST(DriverConnection, ReconnectAndReexecuteRaisesFailOver) {
    FakeConnection c;
    c.Connect("");
    ErrorScript s;
    s.answers = {{false, true, true}};
    Install(c, s);
    int successes = 0;
    c.OnReconnectSuccess = [&] { ++successes; };
    EFakeError err(3113, "lost");
    bool fail = true;
    try {
        c.ProcessError(&err, fail);
        ADD_FAILURE() << "no EFailOver";
    } catch (const EFailOver& e) {
        EXPECT_EQ(e.ConnLostCause, clOpen);
        EXPECT_EQ(e.Message(), "");
    }
    EXPECT_EQ(c.Disconnects, 1);
    EXPECT_EQ(c.Connects, 2);
    EXPECT_EQ(successes, 1);
    EXPECT_EQ(s.attempts, (std::vector<int>{0}));
    EXPECT_FALSE(c.InProcessError());
}

TEST(DriverConnection, ReconnectWithoutReexecuteEndsTheLoop) {
    FakeConnection c;
    c.Connect("");
    ErrorScript s;
    s.answers = {{false, true, false}};
    Install(c, s);
    bool fail = true;
    c.ProcessError(nullptr, fail);
    EXPECT_FALSE(fail);
    EXPECT_EQ(s.attempts, (std::vector<int>{0}));
    EXPECT_TRUE(c.GetConnected());
}

TEST(DriverConnection, ServerStaysDownUntilTheHookGivesUp) {
    FakeConnection c;
    c.Connect("");
    c.ServerUp = false;
    ErrorScript s;
    // Ask for a reconnect on attempts 0..3, give up on attempt 4.
    s.answers = {
        {true, true, true}, {true, true, true}, {true, true, true}, {true, true, true}, {true, false, false}};
    Install(c, s);
    int reconnectErrors = 0;
    bool connectedInHook = false;
    c.OnReconnectError = [&] {
        ++reconnectErrors;
        connectedInHook = c.GetConnected();
    };
    int successes = 0;
    c.OnReconnectSuccess = [&] { ++successes; };
    bool fail = true;
    c.ProcessError(nullptr, fail);
    EXPECT_TRUE(fail);
    EXPECT_EQ(s.attempts, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(c.Disconnects, 1);   // only on the first attempt
    EXPECT_EQ(c.Connects, 1 + 4);  // the first connect and four tries
    EXPECT_EQ(successes, 0);
    EXPECT_EQ(reconnectErrors, 1);
    EXPECT_TRUE(connectedInHook);
    EXPECT_FALSE(c.GetConnected());
}

TEST(DriverConnection, ProcessErrorEdges) {
    // No hook: nothing happens.
    {
        FakeConnection c;
        bool fail = true;
        c.ProcessError(nullptr, fail);
        EXPECT_TRUE(fail);
        EXPECT_EQ(c.Connects, 0);
    }
    // A re-entrant call returns at once and leaves Fail alone.
    {
        FakeConnection c;
        bool innerFail = true;
        int calls = 0;
        c.OnError = [&](rtl::Exception*, bool& fail, bool&, bool&, int, TConnLostCause&) {
            ++calls;
            c.ProcessError(nullptr, innerFail);
            fail = false;
        };
        bool fail = true;
        c.ProcessError(nullptr, fail);
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(innerFail);
        EXPECT_FALSE(fail);
    }
    // The hook's own exception propagates and the connection can process errors again.
    {
        FakeConnection c;
        c.OnError = [](rtl::Exception*, bool&, bool&, bool&, int, TConnLostCause&) {
            throw rtl::Exception("hook failed");
        };
        bool fail = true;
        EXPECT_THROW(c.ProcessError(nullptr, fail), rtl::Exception);
        EXPECT_FALSE(c.InProcessError());
    }
    // Exceptions of the success hook count as a failed reconnect and are swallowed.
    {
        FakeConnection c;
        c.Connect("");
        ErrorScript s;
        s.answers = {{true, true, true}, {true, false, false}};
        Install(c, s);
        c.OnReconnectSuccess = [] { throw rtl::Exception("success hook failed"); };
        int reconnectErrors = 0;
        c.OnReconnectError = [&] {
            ++reconnectErrors;
            throw rtl::Exception("swallowed");
        };
        bool fail = true;
        EXPECT_NO_THROW(c.ProcessError(nullptr, fail));
        EXPECT_EQ(s.attempts, (std::vector<int>{0, 1}));
        EXPECT_EQ(reconnectErrors, 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Transaction

TEST(DriverTransaction, ConnectionListAndProperties) {
    FakeTransaction t;
    FakeConnection a, b;
    EXPECT_TRUE(t.AttachConnection(&a));
    EXPECT_FALSE(t.AttachConnection(&a));
    EXPECT_TRUE(t.AttachConnection(&b));
    EXPECT_EQ(t.ConnectionsCount(), 2);
    EXPECT_TRUE(t.DetachConnection(&a));
    EXPECT_FALSE(t.DetachConnection(&a));
    ASSERT_EQ(t.ConnectionsCount(), 1);
    EXPECT_EQ(t.Connections()[0], &b);

    Variant v;
    EXPECT_TRUE(t.GetProp(prIsolationLevel, v));
    EXPECT_EQ(v.AsInteger(), 0);
    EXPECT_TRUE(t.SetProp(prIsolationLevel, 4));
    EXPECT_TRUE(t.SetProp(prReadOnly, true));
    EXPECT_TRUE(t.GetProp(prIsolationLevel, v));
    EXPECT_EQ(v.AsInteger(), 4);
    EXPECT_TRUE(t.GetProp(prReadOnly, v));
    EXPECT_TRUE(v.AsBoolean());
    ExpectUnknownProp([&] { t.SetProp(prAutoCommit, true); }, prAutoCommit);
    ExpectUnknownProp([&] { t.GetProp(prTransactionName, v); }, prTransactionName);
}

TEST(DriverTransaction, StatesAndUnsupportedOperations) {
    FakeTransaction t;
    EXPECT_TRUE(t.NativeTransaction());
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { t.Commit(); }),
              "Can't perform operation on inactive transaction");
    t.OpenTransaction();
    EXPECT_TRUE(t.GetInTransaction());
    EXPECT_TRUE(t.VerifyInTransaction(true));
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { t.OpenTransaction(); }),
              "Can't perform operation on active transaction");
    EXPECT_FALSE(t.CanRestoreAfterFailover());
    for (const auto& op : std::vector<std::function<void()>>{
             [&] { t.CommitRetaining(); }, [&] { t.RollbackRetaining(); }, [&] { t.ReleaseSavepoint("s"); },
             [&] { t.RollbackToSavepoint("s"); }})
        EXPECT_EQ(MessageOf<rtl::Exception>(op), "Operation is not supported by the database");
    t.Reset();
    EXPECT_FALSE(t.GetInTransaction());
    EXPECT_EQ(t.Rollbacks, 0);

    // Shared server transaction.
    FakeTransaction active;
    active.OpenTransaction();
    FakeTransaction shared;
    shared.AssignConnect(&active);
    EXPECT_TRUE(shared.GetInTransaction());
    EXPECT_FALSE(shared.NativeTransaction());

    // The base has no server to talk to.
    TCRTransaction base;
    EXPECT_THROW(base.OpenTransaction(), rtl::EAssertionFailed);
    EXPECT_THROW(base.Commit(), rtl::EAssertionFailed);
    EXPECT_THROW(base.Rollback(), rtl::EAssertionFailed);
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { base.Savepoint("s"); }),
              "Operation is not supported by the database");
}

TEST(DriverTransaction, DistributedTransactionsAreUnavailable) {
    FakeConnection a;
    a.Connect("");
    FakeConnection down;
    TMTSTransaction t;
    t.AttachConnection(&a);
    t.AttachConnection(&down);
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { t.OpenTransaction(); }),
              "One of the connections in the transaction is not active");
    t.DetachConnection(&down);
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { t.OpenTransaction(); }), "Can not find xolehlp.dll");
    EXPECT_FALSE(t.GetInTransaction());
    // The loader stays unloaded, so the next start tries again.
    EXPECT_FALSE(MSDTCLoaded());
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { t.OpenTransaction(); }), "Can not find xolehlp.dll");
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { t.Commit(); }),
              "Can't perform operation on inactive transaction");
    EXPECT_EQ(MessageOf<rtl::Exception>(
                  [] { DtcGetTransactionManagerEx(nullptr, nullptr, nullptr, 0, nullptr, nullptr); }),
              "Function is not linked");
    EXPECT_NO_THROW(FreeMSDTC());

    struct Case {
        uint8_t level;
        uint32_t flags;
    };
    for (const Case& k : std::vector<Case>{{0, 0x1000}, {1, 0x100}, {2, 0x10000}, {3, 0x100000}})
        EXPECT_EQ(TMTSTransaction::IsolationFlags(k.level), k.flags) << int(k.level);
    EXPECT_EQ(MessageOf<rtl::Exception>([] { TMTSTransaction::IsolationFlags(4); }),
              "Transaction isolation level is not supported with MTS");

    // Savepoints go to each connection's internal transaction.
    FakeConnection b;
    t.AttachConnection(&b);
    t.Savepoint("sp1");
    EXPECT_EQ(static_cast<FakeTransaction*>(a.GetInternalTransaction())->Savepoints,
              std::vector<AnsiString>{"sp1"});
    EXPECT_EQ(static_cast<FakeTransaction*>(b.GetInternalTransaction())->Savepoints,
              std::vector<AnsiString>{"sp1"});
}

// ---------------------------------------------------------------------------------------------
// Command and parameter descriptors

std::vector<AnsiString> Names(TCRCommand& c) {
    std::vector<AnsiString> names;
    for (int i = 0; i < c.GetParamCount(); ++i) names.push_back(c.GetParam(i)->GetName());
    return names;
}

TEST(DriverCommand, ParseSQLMarkers) {
    struct Case {
        const char* sql;
        const char* parsed;
        std::vector<AnsiString> names;
    };
    const std::vector<Case> cases = {
        {"select * from t where a = :a and b = ':b' or c = :a",
         "select * from t where a = ? and b = ':b' or c = ?",
         {"a", "a"}},
        {"begin x := :1; end;", "begin x := ?; end;", {"1"}},
        {"select a::int, : b from t", "select a::int, : b from t", {}},
        {"select :\"Quoted Name\" from dual", "select ? from dual", {"Quoted Name"}},
        {"select :@p from dual", "select ? from dual", {"@p"}},
        // A keyword names the parameter as the lexer reports it.
        {"select :from, :x from dual", "select ?, ? from dual", {"FROM", "x"}},
        {"select 1 /* :c */ from dual -- :d\n", "select 1 /* :c */ from dual -- :d\n", {}},
        {"select :p", "select ?", {"p"}},
        {"", "", {}},
    };
    for (const Case& k : cases) {
        FakeCommand c;
        c.SetSQLText(k.sql);
        EXPECT_EQ(c.ParsedSQL(), k.parsed) << k.sql;
        EXPECT_EQ(Names(c), k.names) << k.sql;
    }

    // Renaming instead of collecting.
    FakeCommand c;
    EXPECT_EQ(c.ParseSQL("update t set a = :a where b = :b and c = ':c'", nullptr, ":NEW_"),
              "update t set a = :NEW_a where b = :NEW_b and c = ':c'");
    // Neither list nor prefix: the markers stay.
    EXPECT_EQ(c.ParseSQL("select :a from dual", nullptr, ""), "select :a from dual");
    // A foreign list gets the descriptors.
    TParamDescs list;
    EXPECT_EQ(c.ParseSQL("select :a, :b from dual", &list, ""), "select ?, ? from dual");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1]->GetName(), "b");
    EXPECT_EQ(c.GetParamCount(), 0);
}

TEST(DriverCommand, SetSQLTextAndParamCheck) {
    FakeCommand c;
    c.SetSQLText("select :a from dual");
    ASSERT_EQ(c.GetParamCount(), 1);
    TParamDesc* first = c.GetParam(0);
    first->SetValue(5);
    c.SetSQLText("select :a from dual");  // same text: nothing re-parsed
    EXPECT_EQ(c.GetParam(0), first);
    EXPECT_EQ(c.GetParam(0)->GetValue().AsInteger(), 5);

    // Switching ParamCheck off does not re-parse; switching it on does.
    EXPECT_TRUE(c.SetProp(prParamCheck, false));
    EXPECT_EQ(c.GetParam(0), first);
    c.Params().Clear();
    EXPECT_TRUE(c.SetProp(prParamCheck, true));
    EXPECT_EQ(Names(c), std::vector<AnsiString>{"a"});

    // Final SQL is taken as it is.
    EXPECT_TRUE(c.SetProp(prSQLIsFinal, true));
    c.SetSQLText("begin p(:x); end;");
    EXPECT_EQ(c.ParsedSQL(), "begin p(:x); end;");
    EXPECT_EQ(c.SQL(), "begin p(:x); end;");

    c.AddParam()->SetName("extra");
    EXPECT_EQ(c.GetParamCount(), 2);
    c.DeleteParam(0);
    EXPECT_EQ(Names(c), std::vector<AnsiString>{"extra"});
}

TEST(DriverCommand, Properties) {
    FakeCommand c;
    EXPECT_TRUE(c.ParamCheck());
    EXPECT_TRUE(c.SetProp(prAutoCommit, true));
    EXPECT_TRUE(c.AutoCommit());
    EXPECT_TRUE(c.SetProp(prQuoteNames, true));
    EXPECT_TRUE(c.QuoteNames());
    EXPECT_TRUE(c.SetProp(prEnableBCD, true));
    EXPECT_TRUE(c.EnableBCD());
    EXPECT_TRUE(c.SetProp(prEnableFMTBCD, true));
    EXPECT_TRUE(c.EnableFMTBCD());
    EXPECT_TRUE(c.SetProp(prCompressBlobMode, 0x0103));  // the low byte is kept
    EXPECT_EQ(c.CompressBlobMode(), 3);
    EXPECT_TRUE(c.SetProp(prParamsReadable, false));
    EXPECT_TRUE(c.SetProp(prIsStoredProc, true));

    struct Get {
        int prop;
        bool value;
    };
    for (const Get& g : std::vector<Get>{{prExecuting, false},
                                         {prParamsReadable, true},
                                         {prRowsProcessedKnown, false},
                                         {prDescribeParams, false}}) {
        Variant v;
        EXPECT_TRUE(c.GetProp(g.prop, v)) << g.prop;
        EXPECT_EQ(v.AsBoolean(), g.value) << g.prop;
    }
    Variant v;
    ExpectUnknownProp([&] { c.SetProp(prFetchAll, true); }, prFetchAll);
    ExpectUnknownProp([&] { c.GetProp(prRowsProcessed, v); }, prRowsProcessed);
}

TEST(DriverCommand, BaseOperations) {
    FakeCommand c;
    c.Prepare();
    EXPECT_EQ(c.GetCursorState(), csPrepared);
    c.UnPrepare();
    EXPECT_EQ(c.GetCursorState(), csInactive);
    EXPECT_EQ(c.GetCursor(), nullptr);
    EXPECT_EQ(MessageOf<rtl::Exception>([&] { c.SetCursor(nullptr); }),
              "Operation is not supported by the database");
    EXPECT_EQ(c.SQLInfo()->Command(), &c);

    TCRCommand base;
    EXPECT_THROW(base.GetPrepared(), rtl::EAbstractError);
    EXPECT_THROW(base.Execute(1), rtl::EAbstractError);
    EXPECT_THROW(base.GetCursorState(), rtl::EAbstractError);
    EXPECT_THROW(base.Prepare(), rtl::EAbstractError);
    AnsiString sql;
    EXPECT_THROW(base.CreateProcCall("p", false, sql), rtl::EAbstractError);
    EXPECT_THROW(base.GetParserClass(), rtl::EAssertionFailed);

    FakeConnection conn;
    FakeTransaction tr;
    c.SetConnection(&conn);
    c.SetTransaction(&tr);
    EXPECT_EQ(c.GetConnection(), &conn);
    EXPECT_EQ(c.GetTransaction(), &tr);
}

TEST(DriverParamDesc, ValuesNullsAndObjects) {
    TParamDesc p;
    EXPECT_TRUE(p.GetIsBound());
    EXPECT_EQ(p.GetDataType(), 0);
    p.SetValue(42);
    EXPECT_FALSE(p.GetNull());
    EXPECT_EQ(p.GetValue().AsInteger(), 42);
    p.SetValue(rtl::Null());
    EXPECT_TRUE(p.GetNull());
    EXPECT_EQ(p.GetObject(), nullptr);
    p.SetValue(Variant());
    EXPECT_TRUE(p.GetNull());

    // SetNull drops a plain value whichever way it goes.
    p.SetValue("text");
    p.SetNull(false);
    EXPECT_FALSE(p.GetNull());
    EXPECT_TRUE(p.GetValue().IsEmpty());

    // A plain value is no object.
    p.SetValue(1);
    EXPECT_THROW(p.GetObject(), rtl::EAssertionFailed);

    // Objects survive SetNull and leave the null flag alone.
    rtl::TObject obj;
    p.SetNull(true);
    p.SetObject(&obj);
    EXPECT_TRUE(p.GetNull());
    EXPECT_EQ(p.GetObject(), &obj);
    p.SetNull(false);
    EXPECT_EQ(p.GetObject(), &obj);
    EXPECT_EQ(p.GetValue().VarType(), rtl::varByRef);
    p.SetObject(nullptr);
    EXPECT_EQ(p.GetObject(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Data-access services

TEST(DAServices, ErrorClass) {
    EFakeError e(1, "ORA-00001: unique constraint violated");
    const EDAError& base = e;
    EXPECT_EQ(base.ErrorCode, 1);
    EXPECT_TRUE(base.IsKeyViolation());
    EXPECT_FALSE(base.IsFatalError());
    EXPECT_EQ(base.Component, nullptr);
    EDAError plain(3113, "lost");
    EXPECT_FALSE(plain.IsFatalError());
    EXPECT_FALSE(plain.IsKeyViolation());
    EXPECT_STREQ(plain.ClassName(), "EDAError");
    EXPECT_EQ(plain.Message(), "lost");
    EXPECT_NE(dynamic_cast<const rtl::EDatabaseError*>(&plain), nullptr);
}

TEST(DAServices, HttpOptions) {
    THttpOptions a;
    a.Url = "http://h/";
    a.ProxyOptions().Hostname = "proxy";
    a.ProxyOptions().Port = 3128;
    THttpOptions b;
    b.Assign(&a);
    EXPECT_TRUE(a.Equals(&b));
    b.ProxyOptions().Port = 3129;
    EXPECT_FALSE(a.Equals(&b));
    EXPECT_FALSE(a.Equals(nullptr));
    FakeConnection c;
    EXPECT_EQ(c.HttpOptions().Url, "");
}

}  // namespace
}  // namespace dac
