// The statements of a procedure body kept prepared between calls of a session: every call still sees
// its own values, the tables as they are now, and a failed call leaves nothing behind.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "OciFixture.h"

namespace {

const char* kCatalog = R"sql(
CREATE TABLE item(id NUMBER(9,0) PRIMARY KEY, note VARCHAR2(20), amount NUMBER(12,2));
CREATE TABLE other(id NUMBER(9,0), note VARCHAR2(20));
CREATE TABLE cfg(p_value VARCHAR2(20));
INSERT INTO cfg VALUES ('first');
INSERT INTO oci_procedure(package, name, kind, body) VALUES
  ('PK', 'add_item', 'PROCEDURE',
   'SELECT raise_application_error(-20001, ''refused '' || :P_ID) WHERE :P_ID < 0;
    INSERT INTO item(id, note, amount) VALUES (:P_ID, :P_NOTE, :P_AMOUNT);
    SELECT count(*) AS P_COUNT FROM item'),
  ('PK', 'add_other', 'PROCEDURE',
   'SELECT raise_application_error(-20002, ''other refused '' || :P_ID) WHERE :P_ID > 100;
    INSERT INTO other(id, note) VALUES (:P_ID, :P_NOTE);
    SELECT count(*) AS P_COUNT FROM other'),
  ('PK', 'read_cfg', 'PROCEDURE', 'SELECT * FROM cfg');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES
  ('PK', 'add_item', 1, 'P_ID', 'NUMBER', 'IN'),
  ('PK', 'add_item', 2, 'P_NOTE', 'VARCHAR2', 'IN'),
  ('PK', 'add_item', 3, 'P_AMOUNT', 'NUMBER', 'IN'),
  ('PK', 'add_item', 4, 'P_COUNT', 'NUMBER', 'OUT'),
  ('PK', 'add_other', 1, 'P_ID', 'NUMBER', 'IN'),
  ('PK', 'add_other', 2, 'P_NOTE', 'VARCHAR2', 'IN'),
  ('PK', 'add_other', 3, 'P_COUNT', 'NUMBER', 'OUT'),
  ('PK', 'read_cfg', 1, 'P_VALUE', 'VARCHAR2', 'OUT');
)sql";

class OciPlSqlBodyTest : public OciSessionTest {
protected:
    void SetUp() override {
        OciSessionTest::SetUp();
        dbExec(kCatalog);
    }

    // One call of PK.<proc>(id, note[, amount], count); the error text when it fails.
    struct Call {
        sword rc;
        double count;
        std::string error;
    };
    Call call(const char* proc, double id, const char* note, double amount = 0) {
        const bool item = std::string(proc) == "add_item";
        const std::string block = std::string("begin PK.") + proc + "(:P_ID, :P_NOTE, " +
                                  (item ? ":P_AMOUNT, " : "") + ":P_COUNT); end;";
        OCIStmt* st = prepare(block);
        char text[21] = "";
        sb2 noteInd = note ? 0 : -1;
        if (note) std::strncpy(text, note, sizeof text - 1);
        double count = -1;
        bind(st, "P_ID", &id, 8, SQLT_FLT);
        bind(st, "P_NOTE", text, sizeof text, SQLT_STR, &noteInd);
        if (item) bind(st, "P_AMOUNT", &amount, 8, SQLT_FLT);
        bind(st, "P_COUNT", &count, 8, SQLT_FLT);
        Call out{exec(st), count, ""};
        if (out.rc != OCI_SUCCESS) out.error = errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return out;
    }
    std::string readCfg() {
        OCIStmt* st = prepare("begin PK.read_cfg(:P_VALUE); end;");
        char value[21] = "untouched";
        sb2 ind = 0;
        bind(st, "P_VALUE", value, sizeof value, SQLT_STR, &ind);
        const sword rc = exec(st);
        std::string out = rc != OCI_SUCCESS ? "error: " + errorText() : ind == -1 ? "NULL" : value;
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return out;
    }
    // Descriptors this process holds open on the database file.
    int openDescriptors() {
        int n = 0;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
            std::error_code rec;
            const auto target = std::filesystem::read_symlink(e.path(), rec);
            if (!rec && target.string() == std::filesystem::canonical(db_).string()) ++n;
        }
        return n;
    }
};

}  // namespace

// Calls of two procedures whose bodies have the same shape, interleaved, some refused: each call
// writes its own values (NULL after a text too), a refused call leaves none of its rows, and the
// next call runs as if nothing had happened.
TEST_F(OciPlSqlBodyTest, EachCallRunsWithItsOwnValues) {
    struct Step {
        const char* proc;
        double id;
        const char* note;
        double amount;
        bool ok;
        double count;  // rows of the procedure's table after the call
    };
    const Step steps[] = {
        {"add_item", 1, "one", 1.5, true, 1},    {"add_other", 1, "o-one", 0, true, 1},
        {"add_item", 2, nullptr, 2.25, true, 2}, {"add_item", -3, "refused", 3, false, 0},
        {"add_other", 101, "no", 0, false, 0},   {"add_item", 4, "four", 4, true, 3},
        {"add_item", 4, "dup", 4, false, 0},     {"add_other", 2, nullptr, 0, true, 2},
        {"add_item", 5, "five", 0, true, 4},
    };
    for (const Step& s : steps) {
        const Call c = call(s.proc, s.id, s.note, s.amount);
        SCOPED_TRACE(std::string(s.proc) + " " + std::to_string(s.id));
        if (s.ok) {
            EXPECT_EQ(OCI_SUCCESS, c.rc) << c.error;
            EXPECT_EQ(s.count, c.count);
        } else {
            EXPECT_EQ(OCI_ERROR, c.rc);
            EXPECT_EQ(-1.0, c.count) << "outputs stay as they were";
        }
    }
    EXPECT_EQ("ORA-00001", call("add_item", 1, "again").error.substr(0, 9));
    EXPECT_EQ("ORA-20001: refused -7.0\n", call("add_item", -7, "x").error);
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(4, dbInt("SELECT count(*) FROM item"));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM item WHERE id = 2 AND note IS NULL AND amount = 2.25"));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM item WHERE id = 4 AND note = 'four'"));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM item WHERE id = 5 AND note = 'five' AND amount = 0"));
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM item WHERE id < 0"));
    EXPECT_EQ(2, dbInt("SELECT count(*) FROM other"));
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM other WHERE id = 2 AND note IS NULL"));
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM other WHERE id = 101"));
}

// Tables the bodies use changed between calls, by another connection and by the session itself:
// the next call works on the table as it is then, and the session may drop a table its bodies
// used (nothing keeps it busy).
TEST_F(OciPlSqlBodyTest, CallsFollowSchemaChanges) {
    EXPECT_EQ("first", readCfg());
    EXPECT_EQ(OCI_SUCCESS, call("add_item", 1, "one", 1).rc);
    OCI_OK(OCITransCommit(c_.svc, err_, 0));

    // "SELECT *" now has another column first
    dbExec(
        "DROP TABLE cfg; CREATE TABLE cfg(other NUMBER, p_value VARCHAR2(20)); INSERT INTO cfg VALUES (7, "
        "'second')");
    EXPECT_EQ("second", readCfg());
    dbExec("ALTER TABLE item ADD COLUMN extra VARCHAR2(5) DEFAULT 'x'");
    const Call added = call("add_item", 2, "two", 2);
    EXPECT_EQ(OCI_SUCCESS, added.rc) << added.error;
    EXPECT_EQ(2.0, added.count);
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_EQ(2, dbInt("SELECT count(*) FROM item WHERE extra = 'x'"));

    OCI_OK(run(c_, "DROP TABLE cfg"));
    EXPECT_EQ(0, dbInt("SELECT count(*) FROM sqlite_master WHERE name = 'cfg'"));
    EXPECT_NE(std::string::npos, readCfg().find("ORA-00942")) << "no such table";
    OCI_OK(run(c_, "CREATE TABLE cfg(p_value VARCHAR2(20))"));
    OCI_OK(run(c_, "INSERT INTO cfg VALUES ('third')"));
    EXPECT_EQ("third", readCfg());
    OCI_OK(run(c_, "DROP TABLE item"));
    OCI_OK(run(c_, "CREATE TABLE item(id NUMBER(9,0), note VARCHAR2(20), amount NUMBER(12,2))"));
    const Call fresh = call("add_item", 3, "three", 3);
    EXPECT_EQ(OCI_SUCCESS, fresh.rc) << fresh.error;
    EXPECT_EQ(1.0, fresh.count);
}

// Kept statements go with the session: once it ends, nothing of it holds the database file open.
// (SQLite keeps a closed connection's descriptors while another connection of the process has the
// file open, so the fixture's session ends first.)
TEST_F(OciPlSqlBodyTest, SessionEndReleasesTheDatabase) {
    logoff(c_);
    ASSERT_EQ(0, openDescriptors());
    c_ = connect();
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(OCI_SUCCESS, call("add_item", i, "n", i).rc);
    EXPECT_EQ(OCI_ERROR, call("add_item", -1, "n").rc);
    EXPECT_EQ("first", readCfg());
    OCI_OK(OCITransCommit(c_.svc, err_, 0));
    EXPECT_GT(openDescriptors(), 0);
    logoff(c_);
    EXPECT_EQ(0, openDescriptors());
    EXPECT_EQ(3, dbInt("SELECT count(*) FROM item"));
}
