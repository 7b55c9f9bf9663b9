// What each statement of a session reads while another cursor of the session is half read: the
// data committed when the statement starts (and the session's own uncommitted changes), while the
// half-read cursor keeps the rows of its own start.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "OciFixture.h"

namespace {

class OciReadSnapshotTest : public OciSessionTest {
protected:
    void SetUp() override {
        OciSessionTest::SetUp();
        dbExec(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60) "
            "INSERT INTO client(client_id, client_name) SELECT i, 'client ' || i FROM n");
    }

    // A query of (id, name) rows, executed and fetched one row at a time.
    struct Cursor {
        OCIStmt* st = nullptr;
        int32_t id = 0;
        char name[41] = "";
    };
    void open(Cursor& k, const std::string& sql) {
        k.st = prepare(sql);
        OCIDefine* d = nullptr;
        OCIDefineByPos(k.st, &d, err_, 1, &k.id, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
        OCIDefineByPos(k.st, &d, err_, 2, k.name, sizeof k.name, SQLT_STR, nullptr, nullptr, nullptr, 0);
        ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, k.st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
    }
    // The names of the rest of the rows, from the row fetched last.
    std::vector<std::string> rest(Cursor& k) {
        std::vector<std::string> names{k.name};
        while (OCIStmtFetch(k.st, err_, 1, OCI_FETCH_NEXT, 0) == OCI_SUCCESS) names.emplace_back(k.name);
        OCIHandleFree(k.st, OCI_HTYPE_STMT);
        k.st = nullptr;
        return names;
    }
    // A one-row query of the session, as text ("-" when it gives no row).
    std::string one(const std::string& sql) {
        OCIStmt* st = prepare(sql);
        char text[64] = "";
        sb2 ind = 0;
        OCIDefine* d = nullptr;
        OCIDefineByPos(st, &d, err_, 1, text, sizeof text, SQLT_STR, &ind, nullptr, nullptr, 0);
        sword rc = OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
        std::string out = rc == OCI_NO_DATA ? "-" : rc != OCI_SUCCESS ? "error: " + errorText() : text;
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return out;
    }
    // Runs statements in a process of its own, as one session that commits with "COMMIT".
    void inOtherProcess(const std::vector<std::string>& statements) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<char*> argv{const_cast<char*>(DX_CHANGE_WRITER), const_cast<char*>(db_.c_str())};
            for (const std::string& s : statements) argv.push_back(const_cast<char*>(s.c_str()));
            argv.push_back(nullptr);
            execv(DX_CHANGE_WRITER, argv.data());
            _exit(127);
        }
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
};

}  // namespace

TEST_F(OciReadSnapshotTest, ANewQuerySeesCommitsMadeAfterAHalfReadCursorOpened) {
    struct Case {
        const char* who;
        std::function<void()> commit;  // renames client 50 to 'changed', adds 61
    } cases[] = {
        {"another session",
         [this] {
             OciConn other = connect("zuv", "zuv");
             EXPECT_EQ(OCI_SUCCESS,
                       run(other, "UPDATE client SET client_name = 'changed' WHERE client_id = 50"));
             EXPECT_EQ(OCI_SUCCESS,
                       run(other, "INSERT INTO client(client_id, client_name) VALUES (61, 'new')"));
             EXPECT_EQ(OCI_SUCCESS, OCITransCommit(other.svc, err_, 0));
             logoff(other);
         }},
        {"another process",
         [this] {
             inOtherProcess({"UPDATE client SET client_name = 'changed' WHERE client_id = 50",
                             "INSERT INTO client(client_id, client_name) VALUES (61, 'new')", "COMMIT"});
         }},
        {"the session itself",
         [this] {
             EXPECT_EQ(OCI_SUCCESS,
                       run(c_, "UPDATE client SET client_name = 'changed' WHERE client_id = 50"));
             EXPECT_EQ(OCI_SUCCESS, run(c_, "INSERT INTO client(client_id, client_name) VALUES (61, 'new')"));
             EXPECT_EQ(OCI_SUCCESS, OCITransCommit(c_.svc, err_, 0));
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.who);
        Cursor before;
        open(before, "SELECT client_id, client_name FROM client ORDER BY client_id");
        EXPECT_EQ(1, before.id);
        // a second cursor, opened before the commit too, half read as well
        Cursor second;
        open(second, "SELECT client_id, client_name FROM client WHERE client_id >= 50 ORDER BY client_id");
        k.commit();
        EXPECT_EQ("changed", one("SELECT client_name FROM client WHERE client_id = 50"));
        EXPECT_EQ("61", one("SELECT count(*) FROM client"));
        Cursor after;
        open(after, "SELECT client_id, client_name FROM client WHERE client_id >= 50 ORDER BY client_id");
        EXPECT_EQ("changed", std::string(after.name));
        EXPECT_EQ(12u, rest(after).size());
        // the cursors opened before go on with the rows of their start
        std::vector<std::string> old = rest(second);
        ASSERT_EQ(11u, old.size());
        EXPECT_EQ("client 50", old.front());
        EXPECT_EQ("client 60", old.back());
        old = rest(before);
        ASSERT_EQ(60u, old.size());
        EXPECT_EQ("client 50", old[49]);
        dbExec(
            "UPDATE client SET client_name = 'client 50' WHERE client_id = 50; DELETE FROM client WHERE "
            "client_id = 61");
    }
}

TEST_F(OciReadSnapshotTest, TheSessionsOwnUncommittedChangesAreSeenByItsNewQueriesOnly) {
    Cursor before;
    open(before, "SELECT client_id, client_name FROM client ORDER BY client_id");
    // another session commits, then this one changes rows without committing
    OciConn other = connect("zuv", "zuv");
    OCI_OK(run(other, "UPDATE client SET client_name = 'by other' WHERE client_id = 2"));
    OCI_OK(OCITransCommit(other.svc, err_, 0));
    OCI_OK(run(c_, "INSERT INTO client(client_id, client_name) VALUES (61, 'mine')"));
    OCI_OK(run(c_, "DELETE FROM client WHERE client_id = 3"));
    EXPECT_EQ("mine", one("SELECT client_name FROM client WHERE client_id = 61"));
    EXPECT_EQ("-", one("SELECT client_name FROM client WHERE client_id = 3"));
    EXPECT_EQ("by other", one("SELECT client_name FROM client WHERE client_id = 2"));
    EXPECT_EQ("60", one("SELECT count(*) FROM client"));
    // a cursor opened inside the transaction sees its changes, and keeps them when more follow
    Cursor inside;
    open(inside, "SELECT client_id, client_name FROM client WHERE client_id > 58 ORDER BY client_id");
    OCI_OK(run(c_, "UPDATE client SET client_name = 'later' WHERE client_id = 60"));
    EXPECT_EQ((std::vector<std::string>{"client 59", "client 60", "mine"}), rest(inside));
    // the other session does not see them
    OCIStmt* st = prepare("SELECT count(*) FROM client WHERE client_id = 61");
    int32_t n = -1;
    OCIDefine* d = nullptr;
    OCIDefineByPos(st, &d, err_, 1, &n, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
    OCI_OK(OCIStmtExecute(other.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    EXPECT_EQ(0, n);
    OCIHandleFree(st, OCI_HTYPE_STMT);
    // the cursor opened before sees neither the other session's commit nor the own changes
    std::vector<std::string> old = rest(before);
    ASSERT_EQ(60u, old.size());
    EXPECT_EQ("client 2", old[1]);
    EXPECT_EQ("client 3", old[2]);
    OCI_OK(OCITransRollback(c_.svc, err_, 0));
    EXPECT_EQ("-", one("SELECT client_name FROM client WHERE client_id = 61"));
    EXPECT_EQ("client 3", one("SELECT client_name FROM client WHERE client_id = 3"));
    logoff(other);
}

TEST_F(OciReadSnapshotTest, ManyHalfReadCursorsEachKeepTheirStart) {
    // More half-read cursors than the session keeps connections for: each one still reads the data
    // of its own start, and every new statement the latest.
    dbExec("CREATE TABLE counter(n NUMBER(9,0)); INSERT INTO counter VALUES (0)");
    const int kCursors = 24;
    std::vector<Cursor> cursors(kCursors);
    for (int k = 0; k < kCursors; ++k) {
        open(cursors[k], "SELECT n, client_name FROM counter, client ORDER BY client_id");
        EXPECT_EQ(k, cursors[k].id);
        EXPECT_EQ(std::to_string(k), one("SELECT n FROM counter"));
        dbExec("UPDATE counter SET n = " + std::to_string(k + 1));
    }
    EXPECT_EQ(std::to_string(kCursors), one("SELECT n FROM counter"));
    for (int k = kCursors - 1; k >= 0; --k) {
        int rows = 1;
        while (OCIStmtFetch(cursors[k].st, err_, 1, OCI_FETCH_NEXT, 0) == OCI_SUCCESS) {
            ++rows;
            ASSERT_EQ(k, cursors[k].id) << rows;
        }
        EXPECT_EQ(60, rows) << k;
        OCIHandleFree(cursors[k].st, OCI_HTYPE_STMT);
    }
    // with every cursor read, the session still works and still reads the latest
    dbExec("UPDATE counter SET n = 99");
    EXPECT_EQ("99", one("SELECT n FROM counter"));
    OCI_OK(run(c_, "UPDATE counter SET n = 100"));
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(100, dbInt("SELECT n FROM counter"));
}

TEST_F(OciReadSnapshotTest, TablesAndRoutinesMadeAfterAHalfReadCursorOpenedAreKnown) {
    Cursor before;
    open(before, "SELECT client_id, client_name FROM client ORDER BY client_id");
    dbExec(
        "CREATE TABLE late(id NUMBER(9,0), label VARCHAR2(10)); INSERT INTO late VALUES (1, 'here');"
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'late_count', 'FUNCTION', "
        "'SELECT count(*) AS RESULT FROM late');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'late_count', 0, NULL, 'NUMBER', 'OUT');");
    EXPECT_EQ("here", one("SELECT label FROM late"));
    OCIDescribe* dsc = nullptr;
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&dsc), OCI_HTYPE_DESCRIBE, 0, nullptr));
    const char* name = "LATE_COUNT";
    EXPECT_EQ(OCI_SUCCESS, OCIDescribeAny(c_.svc, err_, const_cast<char*>(name), 10, OCI_OTYPE_NAME, 0,
                                          OCI_PTYPE_UNK, dsc))
        << errorText();
    OCIHandleFree(dsc, OCI_HTYPE_DESCRIBE);
    EXPECT_EQ(60u, rest(before).size());
}

TEST_F(OciReadSnapshotTest, TableSynonymsAreKnownToANewQueryWhileACursorIsHalfRead) {
    dbExec(
        "INSERT INTO oci_synonym(owner, name, target_owner, target_name) VALUES (NULL, 'CLIENTS', NULL, "
        "'CLIENT')");
    logoff(c_);
    c_ = connect();
    Cursor before;
    open(before, "SELECT client_id, client_name FROM client ORDER BY client_id");
    EXPECT_EQ("client 7", one("SELECT client_name FROM clients WHERE client_id = 7"));
    EXPECT_EQ(60u, rest(before).size());
}

TEST_F(OciReadSnapshotTest, ARowErrorOfACursorLeftBehindKeepsItsText) {
    // SQLite's own error (an integer overflow) is read from the connection the cursor runs on.
    Cursor failing;
    open(failing,
         "SELECT abs(CASE WHEN client_id = 30 THEN -9223372036854775807 - 1 ELSE client_id END), client_name "
         "FROM client ORDER BY client_id");
    dbExec("UPDATE client SET client_name = 'x' WHERE client_id = 1");
    EXPECT_EQ("x", one("SELECT client_name FROM client WHERE client_id = 1"));
    sword rc = OCI_SUCCESS;
    int rows = 1;
    while ((rc = OCIStmtFetch(failing.st, err_, 1, OCI_FETCH_NEXT, 0)) == OCI_SUCCESS) ++rows;
    EXPECT_EQ(29, rows);
    EXPECT_EQ(OCI_ERROR, rc);
    EXPECT_NE(std::string::npos, errorText().find("integer overflow")) << errorText();
    OCIHandleFree(failing.st, OCI_HTYPE_STMT);
}

TEST_F(OciReadSnapshotTest, ABreakReachesAFetchOfACursorLeftBehind) {
    // A fetch running on an earlier connection of the session is interrupted like any other call:
    // after its first row the cursor has millions of combinations to look through for the next.
    Cursor slow;
    open(slow,
         "SELECT a.client_id, a.client_name FROM client a, client b, client c, client d "
         "WHERE a.client_id + b.client_id + c.client_id + d.client_id IN (4, 240)");
    dbExec("UPDATE client SET client_name = 'x' WHERE client_id = 1");
    EXPECT_EQ("x", one("SELECT client_name FROM client WHERE client_id = 1"));
    OCIError* fetchErr = nullptr;
    OCI_OK(OCIHandleAlloc(env_, reinterpret_cast<void**>(&fetchErr), OCI_HTYPE_ERROR, 0, nullptr));
    std::atomic<sword> rc{OCI_CONTINUE};
    std::thread fetcher([&] { rc = OCIStmtFetch(slow.st, fetchErr, 1, OCI_FETCH_NEXT, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    OCI_EXPECT_OK(OCIBreak(c_.svc, err_));
    fetcher.join();
    EXPECT_EQ(OCI_ERROR, rc.load());
    sb4 code = 0;
    OraText text[512] = {0};
    OCIErrorGet(fetchErr, 1, nullptr, &code, text, sizeof text, OCI_HTYPE_ERROR);
    EXPECT_EQ(1013, code) << text;
    OCIHandleFree(fetchErr, OCI_HTYPE_ERROR);
    OCIHandleFree(slow.st, OCI_HTYPE_STMT);
    // the session's new statements are not interrupted
    EXPECT_EQ("x", one("SELECT client_name FROM client WHERE client_id = 1"));
}
