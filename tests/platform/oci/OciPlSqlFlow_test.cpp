// Anonymous blocks with cursors, records, IF, WHILE and FOR loops and expressions with operators
// and the text functions RPAD, LPAD, INSTR and CHR.
#include <cstring>

#include "OciFixture.h"

namespace {

class OciPlSqlFlowTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        dbExec(
            "CREATE TABLE word(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20));"
            "INSERT INTO word VALUES (1, 'alpha'), (2, 'beta'), (3, 'gamma');");
        c_ = connect();
    }
    void TearDown() override {
        logoff(c_);
        OciTest::TearDown();
    }

    // Runs a block that leaves its answer in :R; "<null>" for NULL, "error: ..." when it fails.
    std::string run(const std::string& block, int minId = 0) {
        OCIStmt* st = prepare(block);
        char out[4001] = {};
        sb2 ind = 0;
        OCIBind* b = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>("R"), 1, out, sizeof out,
                                SQLT_STR, &ind, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
        if (block.find(":MINID") != std::string::npos) {
            OCIBind* m = nullptr;
            EXPECT_EQ(OCI_SUCCESS,
                      OCIBindByName(st, &m, err_, reinterpret_cast<const OraText*>("MINID"), 5, &minId, 4,
                                    SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
        }
        sword rc = OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
        std::string answer = rc != OCI_SUCCESS ? "error: " + errorText()
                             : ind == -1       ? "<null>"
                                               : std::string(out);
        OCIHandleFree(st, OCI_HTYPE_STMT);
        return answer;
    }

    OciConn c_;
};

TEST_F(OciPlSqlFlowTest, ControlFlowAndExpressions) {
    struct Case {
        const char* block;
        const char* expected;
    } cases[] = {
        {"declare n INTEGER; begin n := 0; while n < 5 loop n := n + 2; end loop; :R := n; end;", "6"},
        {"declare n INTEGER; begin n := 9; while n < 5 loop n := n + 2; end loop; :R := n; end;", "9"},
        {"declare n INTEGER := 7; begin if n < 5 then :R := 'low'; elsif n < 10 then :R := 'mid'; else :R := "
         "'high'; end if; end;",
         "mid"},
        {"declare n INTEGER := 70; begin if n < 5 then :R := 'low'; elsif n < 10 then :R := 'mid'; else :R "
         ":= "
         "'high'; end if; end;",
         "high"},
        // An untaken branch with nested constructs is passed over, not run.
        {"begin if 1 = 0 then if 1 = 1 then :R := 'x'; end if; while 1 = 1 loop :R := 'y'; end loop; else :R "
         ":= 'z'; end if; end;",
         "z"},
        {"begin if 1 = 1 or 1 / 0 = 1 then :R := 'first'; elsif 1 = 1 then :R := 'second'; end if; end;",
         "first"},
        {"begin if not (1 = 2) and 'a' is not null then :R := 'yes'; else :R := 'no'; end if; end;", "yes"},
        // || treats NULL as an empty text; an empty result is NULL.
        {"begin :R := ''; :R := :R || 'a' || null || 'b'; end;", "ab"},
        {"begin :R := 'x'; :R := null || ''; end;", "<null>"},
        {"begin :R := RPad('ab', 5, '.') || '|' || LPad('7', 3, '0') || '|' || RPad('abcdef', 3) || '|' || "
         "RPad(' ', 4) || '|'; end;",
         "ab...|007|abc|    |"},
        {"begin :R := InStr('a-b-c', '-', 3) || '/' || InStr('a-b-c', '-', -1) || '/' || InStr('a-b-c', '-', "
         "1, "
         "2) || '/' || InStr('abc', 'x', 1); end;",
         "4/4/4/0"},
        {"begin :R := Length(Chr(65) || Chr(10) || Chr(66)) || SubStr('hello', 2, 3) || LTrim('  x'); end;",
         "3ellx"},
        {"declare cursor c is select id, name from word order by id; r word%ROWTYPE; begin :R := ''; for r "
         "in "
         "c loop :R := :R || r.id || '=' || r.name || ','; end loop; end;",
         "1=alpha,2=beta,3=gamma,"},
        {"declare cursor c is select name from word where id > 10; r word%ROWTYPE; begin :R := 'untouched'; "
         "for "
         "r in c loop :R := 'ran'; end loop; end;",
         "untouched"},
        {"declare cursor c is select name from word where id >= 1 order by id; r word%ROWTYPE; begin :R := "
         "'x'; "
         "for r in c loop :R := r.nosuch; end loop; end;",
         "error: ORA-06550: line 1, column 7:\nPLS-00302: component 'NOSUCH' must be declared\n"},
        {"begin for r in nothing loop :R := 'x'; end loop; end;",
         "error: ORA-06550: line 1, column 7:\nPLS-00201: identifier 'NOTHING' must be declared\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, run(c.block)) << c.block;
}

TEST_F(OciPlSqlFlowTest, CursorReadsTheBlockBinds) {
    const char* block =
        "declare cursor c is select name from word where id > :MINID order by id; r word%ROWTYPE; begin :R "
        ":= "
        "''; for r in c loop :R := :R || r.name || ' '; end loop; end;";
    EXPECT_EQ("beta gamma ", run(block, 1));
    EXPECT_EQ("<null>", run(block, 3));
}

TEST_F(OciPlSqlFlowTest, TextFunctionsInQueries) {
    EXPECT_EQ("ab--|0|none", run("begin SELECT rpad('ab', 4, '-') || '|' || instr('abc', 'z', 1) || '|' || "
                                 "nvl(rpad('x', 0), 'none') INTO :R FROM dual; end;"));
}

}  // namespace
