// Change notification of the stand-in: subscriptions, query registration, descriptors, and
// changes committed by other connections and other processes.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "OciFixture.h"

namespace {

struct RowSeen {
    std::string rowid;
    ub4 flags;
};
struct TableSeen {
    std::string name;
    ub4 flags;
    bool hasRows;
    std::vector<RowSeen> rows;
};
struct EventSeen {
    ub4 type;
    std::vector<TableSeen> tables;
    std::thread::id thread;
};

// Decodes every notification on the callback's thread, as a client must, and keeps it.
struct Recorder {
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;  // the callback thread's own
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<EventSeen> events;

    static std::string text(void* d, ub4 type, ub4 attr, OCIError* err) {
        char* p = nullptr;
        ub4 n = 0;
        OCIAttrGet(d, type, &p, &n, attr, err);
        return p ? std::string(p, n) : std::string();
    }
    static ub4 u4(void* d, ub4 type, ub4 attr, OCIError* err) {
        ub4 v = 0;
        OCIAttrGet(d, type, &v, nullptr, attr, err);
        return v;
    }
    static std::vector<void*> elements(OCIEnv* env, OCIError* err, OCIColl* coll) {
        std::vector<void*> out;
        sb4 n = 0;
        if (OCICollSize(env, err, coll, &n) != OCI_SUCCESS) return out;
        for (sb4 i = 0; i < n; ++i) {
            boolean exists = 0;
            void* elem = nullptr;
            void* ind = nullptr;
            if (OCICollGetElem(env, err, coll, i, &exists, &elem, &ind) == OCI_SUCCESS && exists)
                out.push_back(*static_cast<void**>(elem));
        }
        return out;
    }

    static ub4 callback(void* ctx, OCISubscription*, void*, ub4*, void* desc, ub4) {
        auto* self = static_cast<Recorder*>(ctx);
        EventSeen e;
        e.thread = std::this_thread::get_id();
        OCIError* err = self->err;
        e.type = u4(desc, OCI_DTYPE_CHDES, OCI_ATTR_CHDES_NFYTYPE, err);
        OCIColl* tables = nullptr;
        if (e.type == OCI_EVENT_OBJCHANGE)
            OCIAttrGet(desc, OCI_DTYPE_CHDES, &tables, nullptr, OCI_ATTR_CHDES_TABLE_CHANGES, err);
        for (void* t : tables ? elements(self->env, err, tables) : std::vector<void*>{}) {
            TableSeen ts;
            ts.name = text(t, OCI_DTYPE_TABLE_CHDES, OCI_ATTR_CHDES_TABLE_NAME, err);
            ts.flags = u4(t, OCI_DTYPE_TABLE_CHDES, OCI_ATTR_CHDES_TABLE_OPFLAGS, err);
            OCIColl* rows = nullptr;
            OCIAttrGet(t, OCI_DTYPE_TABLE_CHDES, &rows, nullptr, OCI_ATTR_CHDES_TABLE_ROW_CHANGES, err);
            ts.hasRows = rows != nullptr;
            for (void* r : rows ? elements(self->env, err, rows) : std::vector<void*>{})
                ts.rows.push_back(RowSeen{text(r, OCI_DTYPE_ROW_CHDES, OCI_ATTR_CHDES_ROW_ROWID, err),
                                          u4(r, OCI_DTYPE_ROW_CHDES, OCI_ATTR_CHDES_ROW_OPFLAGS, err)});
            e.tables.push_back(ts);
        }
        std::lock_guard<std::mutex> g(self->lock);
        self->events.push_back(e);
        self->arrived.notify_all();
        return 0;
    }

    // Waits until n events have come; then a little longer, so that a duplicate would show.
    std::vector<EventSeen> waitFor(size_t n, int ms = 5000) {
        std::unique_lock<std::mutex> g(lock);
        arrived.wait_for(g, std::chrono::milliseconds(ms), [&] { return events.size() >= n; });
        g.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        g.lock();
        return events;
    }
};

class OciSubscriptionTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        conn_ = connect();
        rec_.env = env_;
        OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&rec_.err), OCI_HTYPE_ERROR, 0, nullptr));
        dbExec(
            "INSERT INTO client(client_id, client_name) VALUES (1, 'one'), (2, 'two'), (3, 'three');"
            "CREATE TABLE other(id INTEGER, v TEXT);");
    }
    void TearDown() override {
        if (sub_) OCIHandleFree(sub_, OCI_HTYPE_SUBSCRIPTION);
        logoff(conn_);
        OciTest::TearDown();
    }

    // A subscription with row ids, for the given operations (0: all).
    OCISubscription* subscribe(ub4 operations = 0, ub4 timeout = 0) {
        OCISubscription* s = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIHandleAlloc(env_, reinterpret_cast<void**>(&s), OCI_HTYPE_SUBSCRIPTION, 0, nullptr));
        ub4 ns = OCI_SUBSCR_NAMESPACE_DBCHANGE, rowids = 1;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, &ns, 4, OCI_ATTR_SUBSCR_NAMESPACE, err_));
        EXPECT_EQ(OCI_SUCCESS,
                  OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, reinterpret_cast<void*>(&Recorder::callback), 0,
                             OCI_ATTR_SUBSCR_CALLBACK, err_));
        EXPECT_EQ(OCI_SUCCESS, OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, &rec_, 0, OCI_ATTR_SUBSCR_CTX, err_));
        EXPECT_EQ(OCI_SUCCESS, OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, &rowids, 4, OCI_ATTR_CHNF_ROWIDS, err_));
        EXPECT_EQ(OCI_SUCCESS,
                  OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, &operations, 4, OCI_ATTR_CHNF_OPERATIONS, err_));
        EXPECT_EQ(OCI_SUCCESS,
                  OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, &timeout, 4, OCI_ATTR_SUBSCR_TIMEOUT, err_));
        EXPECT_EQ(OCI_SUCCESS, OCISubscriptionRegister(conn_.svc, &s, 1, err_, OCI_DEFAULT)) << errorText();
        sub_ = s;
        return s;
    }

    // Runs a query whose statement carries the subscription.
    void registerQuery(const std::string& sql) {
        OCIStmt* st = prepare(sql);
        OCI_OK(OCIAttrSet(st, OCI_HTYPE_STMT, sub_, 0, OCI_ATTR_CHNF_REGHANDLE, err_));
        OCI_OK(OCIStmtExecute(conn_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }

    // The ROWID text the stand-in gives for the row an insert of this session makes.
    std::string insertRowid(OciConn& c, const std::string& insert) {
        OCIStmt* st = prepare(insert);
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(c.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        OCIRowid* rid = nullptr;
        OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&rid), OCI_DTYPE_ROWID, 0, nullptr);
        OCIAttrGet(st, OCI_HTYPE_STMT, rid, nullptr, OCI_ATTR_ROWID, err_);
        OraText text[32] = {0};
        ub2 len = sizeof text;
        OCIRowidToChar(rid, text, &len, err_);
        OCIDescriptorFree(rid, OCI_DTYPE_ROWID);
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return std::string(reinterpret_cast<char*>(text), len);
    }

    OciConn conn_;
    Recorder rec_;
    OCISubscription* sub_ = nullptr;
};

TEST_F(OciSubscriptionTest, CommittedChangesOfAnotherSessionArriveOnceWithTheirRowids) {
    subscribe();
    registerQuery("SELECT client_id, client_name FROM client");
    OciConn writer = connect();
    const std::string newRow =
        insertRowid(writer, "INSERT INTO client(client_id, client_name) VALUES (4, 'four')");
    ASSERT_EQ(18u, newRow.size());
    ASSERT_EQ(OCI_SUCCESS, run(writer, "UPDATE client SET client_name = 'uno' WHERE client_id = 1"));
    ASSERT_EQ(OCI_SUCCESS, run(writer, "DELETE FROM client WHERE client_id = 4"));
    EXPECT_TRUE(rec_.waitFor(1, 300).empty()) << "nothing before the commit";
    ASSERT_EQ(OCI_SUCCESS, OCITransCommit(writer.svc, err_, OCI_DEFAULT));
    const auto events = rec_.waitFor(1);
    ASSERT_EQ(1u, events.size());
    EXPECT_NE(std::this_thread::get_id(), events[0].thread);
    EXPECT_EQ(static_cast<ub4>(OCI_EVENT_OBJCHANGE), events[0].type);
    ASSERT_EQ(1u, events[0].tables.size());
    const TableSeen& t = events[0].tables[0];
    EXPECT_EQ("QEL.CLIENT", t.name);
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_INSERT | OCI_OPCODE_UPDATE | OCI_OPCODE_DELETE), t.flags);
    ASSERT_EQ(2u, t.rows.size());
    // The inserted and deleted row is one entry; row 1 was updated.
    EXPECT_EQ(newRow, t.rows[0].rowid);
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_INSERT | OCI_OPCODE_DELETE), t.rows[0].flags);
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_UPDATE), t.rows[1].flags);
    EXPECT_EQ(newRow.substr(0, 9), t.rows[1].rowid.substr(0, 9)) << "same table object and file";
    logoff(writer);
}

// An object table moves a row that would take a deleted row's identifier; the notification names the
// row where it ended up, as an insert only.
TEST_F(OciSubscriptionTest, ObjectTableInsertsAreReportedWhereTheRowsEndUp) {
    for (const char* sql : {"CREATE TYPE point_t AS OBJECT (x NUMBER)", "CREATE TABLE points OF point_t",
                            "INSERT INTO points VALUES (1)", "INSERT INTO points VALUES (2)", "COMMIT",
                            "DELETE FROM points WHERE x = 2", "COMMIT"})
        ASSERT_EQ(OCI_SUCCESS, run(conn_, sql)) << sql << ": " << errorText();
    subscribe();
    registerQuery("SELECT x FROM points");
    OciConn writer = connect();
    const std::string newRow = insertRowid(writer, "INSERT INTO points VALUES (3)");
    ASSERT_EQ(OCI_SUCCESS, OCITransCommit(writer.svc, err_, OCI_DEFAULT));
    const auto events = rec_.waitFor(1);
    ASSERT_EQ(1u, events.size());
    ASSERT_EQ(1u, events[0].tables.size());
    const TableSeen& t = events[0].tables[0];
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_INSERT), t.flags);
    ASSERT_EQ(1u, t.rows.size());
    EXPECT_EQ(newRow, t.rows[0].rowid);
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_INSERT), t.rows[0].flags);
    logoff(writer);
}

TEST_F(OciSubscriptionTest, RolledBackAndUnregisteredTablesSendNothing) {
    subscribe();
    registerQuery("SELECT client_id FROM client");
    OciConn writer = connect();
    ASSERT_EQ(OCI_SUCCESS, run(writer, "DELETE FROM client"));
    ASSERT_EQ(OCI_SUCCESS, OCITransRollback(writer.svc, err_, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, run(writer, "INSERT INTO other VALUES (1, 'x')", OCI_COMMIT_ON_SUCCESS));
    EXPECT_TRUE(rec_.waitFor(1, 300).empty());
    logoff(writer);
}

TEST_F(OciSubscriptionTest, OperationsFilterKeepsOnlyTheChosenOnes) {
    subscribe(OCI_OPCODE_DELETE);
    registerQuery("SELECT client_id FROM client");
    dbExec("INSERT INTO client(client_id) VALUES (9); UPDATE client SET balance = 1;");
    EXPECT_TRUE(rec_.waitFor(1, 300).empty());
    dbExec("DELETE FROM client WHERE client_id = 2");
    const auto events = rec_.waitFor(1);
    ASSERT_EQ(1u, events.size());
    ASSERT_EQ(1u, events[0].tables.size());
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_DELETE), events[0].tables[0].flags);
    ASSERT_EQ(1u, events[0].tables[0].rows.size());
}

TEST_F(OciSubscriptionTest, ManyRowsAreReportedAsAllRowsWithoutARowList) {
    subscribe();
    registerQuery("SELECT client_id FROM client");
    dbExec(
        "WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 299) "
        "INSERT INTO client(client_id) SELECT i FROM n;");
    const auto events = rec_.waitFor(1);
    ASSERT_EQ(1u, events.size());
    ASSERT_EQ(1u, events[0].tables.size());
    EXPECT_EQ(static_cast<ub4>(OCI_OPCODE_INSERT | OCI_OPCODE_ALLROWS), events[0].tables[0].flags);
    EXPECT_FALSE(events[0].tables[0].hasRows);
}

TEST_F(OciSubscriptionTest, DisabledSubscriptionDropsChangesUntilEnabled) {
    OCISubscription* s = subscribe();
    registerQuery("SELECT client_id FROM client");
    OCI_OK(OCISubscriptionDisable(s, err_, OCI_DEFAULT));
    dbExec("DELETE FROM client WHERE client_id = 1");
    EXPECT_TRUE(rec_.waitFor(1, 300).empty());
    OCI_OK(OCISubscriptionEnable(s, err_, OCI_DEFAULT));
    dbExec("DELETE FROM client WHERE client_id = 2");
    const auto events = rec_.waitFor(1);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(1u, events[0].tables.at(0).rows.size()) << "the change made while disabled is not kept";
}

TEST_F(OciSubscriptionTest, UnregisterStopsNotificationsAndRefusesASecondTime) {
    OCISubscription* s = subscribe();
    registerQuery("SELECT client_id FROM client");
    OCI_OK(OCISubscriptionUnRegister(conn_.svc, s, err_, OCI_DEFAULT));
    dbExec("DELETE FROM client");
    EXPECT_TRUE(rec_.waitFor(1, 300).empty());
    EXPECT_EQ(OCI_ERROR, OCISubscriptionUnRegister(conn_.svc, s, err_, OCI_DEFAULT));
    EXPECT_EQ(24950, errorCode());
    EXPECT_EQ(OCI_ERROR, OCISubscriptionDisable(s, err_, OCI_DEFAULT));
}

TEST_F(OciSubscriptionTest, TimeOutEndsTheRegistrationWithADeregistration) {
    subscribe(0, 1);
    const auto events = rec_.waitFor(1, 4000);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(static_cast<ub4>(OCI_EVENT_DEREG), events[0].type);
    EXPECT_TRUE(events[0].tables.empty());
    EXPECT_EQ(OCI_ERROR, OCISubscriptionUnRegister(conn_.svc, sub_, err_, OCI_DEFAULT)) << "already ended";
}

TEST_F(OciSubscriptionTest, RegistrationNeedsTheChangeNamespaceAndACallback) {
    OCISubscription* s = nullptr;
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&s), OCI_HTYPE_SUBSCRIPTION, 0, nullptr));
    EXPECT_EQ(OCI_ERROR, OCISubscriptionRegister(conn_.svc, &s, 1, err_, OCI_DEFAULT));
    ub4 ns = OCI_SUBSCR_NAMESPACE_DBCHANGE;
    OCI_OK(OCIAttrSet(s, OCI_HTYPE_SUBSCRIPTION, &ns, 4, OCI_ATTR_SUBSCR_NAMESPACE, err_));
    EXPECT_EQ(OCI_ERROR, OCISubscriptionRegister(conn_.svc, &s, 1, err_, OCI_DEFAULT));
    EXPECT_EQ(OCI_SUCCESS, OCIHandleFree(s, OCI_HTYPE_SUBSCRIPTION));
}

TEST_F(OciSubscriptionTest, TablesReadThroughAViewAreRegistered) {
    dbExec("CREATE VIEW client_names AS SELECT client_name FROM client;");
    subscribe();
    registerQuery("SELECT client_name FROM client_names");
    dbExec("UPDATE client SET client_name = 'x' WHERE client_id = 3");
    const auto events = rec_.waitFor(1);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("QEL.CLIENT", events[0].tables.at(0).name);
}

TEST_F(OciSubscriptionTest, ChangesOfAnotherProcessArriveOnceEach) {
    subscribe();
    registerQuery("SELECT client_id FROM client");
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        execl(DX_CHANGE_WRITER, DX_CHANGE_WRITER, db_.c_str(),
              "INSERT INTO client(client_id, client_name) VALUES (10, 'ten')", "COMMIT",
              "UPDATE client SET client_name = 'deux' WHERE client_id = 2", "COMMIT",
              "DELETE FROM client WHERE client_id = 3", "ROLLBACK", "DELETE FROM client WHERE client_id = 1",
              "COMMIT", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The commits may come as one notification or several; every change must come exactly once.
    std::vector<EventSeen> events;
    for (int tries = 0; tries < 50; ++tries) {
        events = rec_.waitFor(1, 100);
        size_t rows = 0;
        for (const auto& e : events)
            for (const auto& t : e.tables) rows += t.rows.size();
        if (rows >= 3) break;
    }
    ub4 insert = 0, update = 0, del = 0;
    std::vector<std::string> rowids;
    for (const auto& e : events)
        for (const auto& t : e.tables) {
            EXPECT_EQ("QEL.CLIENT", t.name);
            for (const auto& r : t.rows) {
                rowids.push_back(r.rowid);
                insert += r.flags == OCI_OPCODE_INSERT;
                update += r.flags == OCI_OPCODE_UPDATE;
                del += r.flags == OCI_OPCODE_DELETE;
            }
        }
    EXPECT_EQ(1u, insert);
    EXPECT_EQ(1u, update);
    EXPECT_EQ(1u, del) << "the rolled-back delete is not reported";
    EXPECT_EQ(3u, rowids.size());
}

}  // namespace

TEST_F(OciSubscriptionTest, AlteredAndDroppedTablesAreReportedAsAllRows) {
    struct Case {
        const char* ddl;  // run by another session
        ub4 flags;
    } cases[] = {
        {"ALTER TABLE client ADD COLUMN note VARCHAR2(10)", OCI_OPCODE_ALTER | OCI_OPCODE_ALLROWS},
        {"ALTER TABLE qel.client RENAME COLUMN note TO remark", OCI_OPCODE_ALTER | OCI_OPCODE_ALLROWS},
        {"DROP TABLE client", OCI_OPCODE_DROP | OCI_OPCODE_ALLROWS},
    };
    // Only updates asked for: DDL is told all the same.
    subscribe(OCI_OPCODE_UPDATE);
    registerQuery("SELECT client_id FROM client");
    OciConn writer = connect();
    size_t expected = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.ddl);
        ASSERT_EQ(OCI_SUCCESS, run(writer, k.ddl)) << errorText();
        const auto events = rec_.waitFor(++expected);
        ASSERT_EQ(expected, events.size());
        ASSERT_EQ(1u, events.back().tables.size());
        EXPECT_EQ("QEL.CLIENT", events.back().tables[0].name);
        EXPECT_EQ(k.flags, events.back().tables[0].flags);
        EXPECT_FALSE(events.back().tables[0].hasRows);
    }
    // DDL of a table no query registered tells nothing
    ASSERT_EQ(OCI_SUCCESS, run(writer, "ALTER TABLE other ADD COLUMN w TEXT"));
    EXPECT_EQ(expected, rec_.waitFor(expected + 1, 300).size());
    logoff(writer);
}
