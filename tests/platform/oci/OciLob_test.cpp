// LOB and BFILE locators of the stand-in: temporary LOBs written and bound, LOB columns fetched as
// locators and read in pieces, character counting of CLOBs, BFILEs over a directory mapping.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "OciFixture.h"
#include "tests/platform/oci/StandInDb.h"

namespace {

// Bytes 0..255 over and over, shifted by the length so that pieces differ.
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + n) & 0xFF);
    return s;
}

// UTF-16LE bytes of a UTF-16 text.
std::string Le(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

}  // namespace

class OciLobTest : public OciTest {
protected:
    void SetUp() override {
        OciTest::SetUp();
        dbExec("CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body CLOB, data BLOB, note NCLOB, f BFILE);");
        c_ = connect();
    }
    void TearDown() override {
        for (OCILobLocator* l : locators_) OCIDescriptorFree(l, OCI_DTYPE_LOB);
        for (OCILobLocator* l : files_) OCIDescriptorFree(l, OCI_DTYPE_FILE);
        logoff(c_);
        OciTest::TearDown();
    }

    OCILobLocator* Locator(ub4 type = OCI_DTYPE_LOB) {
        OCILobLocator* l = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDescriptorAlloc(env_, reinterpret_cast<void**>(&l), type, 0, nullptr));
        (type == OCI_DTYPE_LOB ? locators_ : files_).push_back(l);
        return l;
    }

    OCILobLocator* Temporary(ub1 lobType, ub1 form = SQLCS_IMPLICIT) {
        OCILobLocator* l = Locator();
        EXPECT_EQ(OCI_SUCCESS,
                  OCILobCreateTemporary(c_.svc, err_, l, 0, form, lobType, 0, OCI_DURATION_SESSION))
            << errorText();
        return l;
    }

    // Writes content in pieces of at most chunk bytes with OCILobWrite, one call per piece.
    void WritePieces(OCILobLocator* l, const std::string& content, size_t chunk, ub2 csid = 0) {
        ub4 offset = 1;
        for (size_t at = 0; at < content.size(); at += chunk) {
            std::string piece = content.substr(at, chunk);
            ub4 amount = 0;  // the whole buffer
            ASSERT_EQ(OCI_SUCCESS,
                      OCILobWrite(c_.svc, err_, l, &amount, offset, piece.data(),
                                  static_cast<ub4>(piece.size()), OCI_ONE_PIECE, nullptr, nullptr, csid, 0))
                << errorText();
            offset += amount;
        }
    }

    // Streams the whole value with OCILobRead2 (amounts 0, first then next pieces) in pieces of
    // capacity bytes; pieces counts the calls.
    std::string ReadAll(OCILobLocator* l, size_t capacity, ub2 csid = 0, int* pieces = nullptr) {
        std::string out;
        std::vector<char> buf(capacity);
        ub1 piece = OCI_FIRST_PIECE;
        int calls = 0;
        while (true) {
            oraub8 bytes = 0, chars = 0;
            sword rc = OCILobRead2(c_.svc, err_, l, &bytes, &chars, 1, buf.data(), buf.size(), piece, nullptr,
                                   nullptr, csid, 0);
            ++calls;
            if (rc != OCI_SUCCESS && rc != OCI_NEED_DATA) {
                ADD_FAILURE() << errorText();
                break;
            }
            out.append(buf.data(), bytes);
            if (rc == OCI_SUCCESS) break;
            piece = OCI_NEXT_PIECE;
        }
        if (pieces) *pieces = calls;
        return out;
    }

    // Inserts row id with the locator bound to column col (SQLT_BLOB or SQLT_CLOB).
    void Insert(int id, const char* col, OCILobLocator* l, ub2 type) {
        std::string sql =
            "INSERT INTO doc(id, " + std::string(col) + ") VALUES (" + std::to_string(id) + ", :v)";
        OCIStmt* st = prepare(sql);
        OCIBind* b = nullptr;
        ASSERT_EQ(OCI_SUCCESS,
                  OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":v"), 2, &l, sizeof l, type,
                                nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT))
            << errorText();
        ASSERT_EQ(OCI_SUCCESS,
                  OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS))
            << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }

    // Fetches one row's column into a new locator; the indicator tells NULL.
    OCILobLocator* Select(const std::string& sql, ub2 type, sb2* indicator = nullptr,
                          ub4 descType = OCI_DTYPE_LOB) {
        OCILobLocator* l = Locator(descType);
        OCIStmt* st = prepare(sql);
        EXPECT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        OCIDefine* d = nullptr;
        sb2 ind = 0;
        EXPECT_EQ(OCI_SUCCESS,
                  OCIDefineByPos(st, &d, err_, 1, &l, sizeof l, type, &ind, nullptr, nullptr, OCI_DEFAULT));
        EXPECT_EQ(OCI_SUCCESS, OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT)) << errorText();
        OCIHandleFree(st, OCI_HTYPE_STMT);
        if (indicator) *indicator = ind;
        return l;
    }

    ub4 Length(OCILobLocator* l) {
        ub4 n = 0;
        EXPECT_EQ(OCI_SUCCESS, OCILobGetLength(c_.svc, err_, l, &n)) << errorText();
        return n;
    }

    OciConn c_;
    std::vector<OCILobLocator*> locators_, files_;
};

// ---------------------------------------------------------------------------------------------
// BLOBs: written into a temporary LOB, inserted, fetched as a locator and read back

TEST_F(OciLobTest, BlobsOfEverySizeComeBackByteForByteInTheClientAndInTheFile) {
    struct Case {
        size_t size, writeChunk, readChunk;
    };
    const Case cases[] = {
        {0, 100, 100},            // empty, not NULL
        {1, 100, 100},            // one byte
        {32768 + 1, 4096, 8192},  // across piece boundaries both ways
        {65514 * 2 + 7, 65514, 65514},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string content = Pattern(c.size);
        OCILobLocator* temp = Temporary(OCI_TEMP_BLOB);
        WritePieces(temp, content, c.writeChunk);
        EXPECT_EQ(c.size, Length(temp));
        Insert(++id, "data", temp, SQLT_BLOB);

        sb2 ind = 5;
        OCILobLocator* l = Select("SELECT data FROM doc WHERE id = " + std::to_string(id), SQLT_BLOB, &ind);
        EXPECT_EQ(0, ind);
        EXPECT_EQ(c.size, Length(l));
        int pieces = 0;
        EXPECT_EQ(content, ReadAll(l, c.readChunk, 0, &pieces));
        EXPECT_EQ(c.size == 0 ? 1 : static_cast<int>((c.size + c.readChunk - 1) / c.readChunk), pieces);
        // the database file holds the same bytes, as a BLOB
        EXPECT_EQ(static_cast<long long>(c.size), dbInt("SELECT length(data) FROM doc WHERE id = " +
                                                        std::to_string(id) + " AND typeof(data) = 'blob'"));
        EXPECT_EQ(1, dbInt("SELECT data = x'" +
                           [&] {
                               static const char* hex = "0123456789ABCDEF";
                               std::string h;
                               for (unsigned char ch : content) h += std::string{hex[ch >> 4], hex[ch & 15]};
                               return h;
                           }() +
                           "' FROM doc WHERE id = " + std::to_string(id)));
    }
}

TEST_F(OciLobTest, ReadsAtAnOffsetAndOnePieceReadsStopAtTheBuffer) {
    OCILobLocator* temp = Temporary(OCI_TEMP_BLOB);
    WritePieces(temp, "0123456789", 10);
    char buf[4];
    oraub8 bytes = 3, chars = 0;
    ASSERT_EQ(OCI_SUCCESS, OCILobRead2(c_.svc, err_, temp, &bytes, &chars, 5, buf, sizeof buf, OCI_ONE_PIECE,
                                       nullptr, nullptr, 0, 0));
    EXPECT_EQ("456", std::string(buf, bytes));
    // beyond the end: nothing, and no error
    bytes = 4;
    ASSERT_EQ(OCI_SUCCESS, OCILobRead2(c_.svc, err_, temp, &bytes, &chars, 11, buf, sizeof buf, OCI_ONE_PIECE,
                                       nullptr, nullptr, 0, 0));
    EXPECT_EQ(0u, bytes);
    // the old call: amount 0 streams to the end in buffer-sized pieces
    ub4 amount = 0;
    std::string got;
    sword rc;
    do {
        rc = OCILobRead(c_.svc, err_, temp, &amount, 1, buf, sizeof buf, nullptr, nullptr, 0, 0);
        got.append(buf, amount);
    } while (rc == OCI_NEED_DATA);
    EXPECT_EQ(OCI_SUCCESS, rc);
    EXPECT_EQ("0123456789", got);
    // offset 0 is no offset
    bytes = 1;
    EXPECT_EQ(OCI_ERROR, OCILobRead2(c_.svc, err_, temp, &bytes, &chars, 0, buf, sizeof buf, OCI_ONE_PIECE,
                                     nullptr, nullptr, 0, 0));
    EXPECT_EQ(21560, errorCode());
}

TEST_F(OciLobTest, TrimAppendAndWritesPastTheEndEditATemporaryLob) {
    OCILobLocator* a = Temporary(OCI_TEMP_BLOB);
    WritePieces(a, "abcdef", 6);
    ASSERT_EQ(OCI_SUCCESS, OCILobTrim(c_.svc, err_, a, 2));
    EXPECT_EQ(OCI_ERROR, OCILobTrim(c_.svc, err_, a, 3));
    EXPECT_EQ(22926, errorCode());
    OCILobLocator* b = Temporary(OCI_TEMP_BLOB);
    WritePieces(b, "XY", 2);
    ASSERT_EQ(OCI_SUCCESS, OCILobAppend(c_.svc, err_, a, b));
    // a write past the end fills the gap with zero bytes (blanks for a CLOB)
    ub4 amount = 1;
    ASSERT_EQ(OCI_SUCCESS, OCILobWrite(c_.svc, err_, a, &amount, 7, const_cast<char*>("!"), 1, OCI_ONE_PIECE,
                                       nullptr, nullptr, 0, 0));
    EXPECT_EQ(std::string("abXY\0\0!", 7), ReadAll(a, 100));
    OCILobLocator* c = Temporary(OCI_TEMP_CLOB);
    amount = 1;
    ASSERT_EQ(OCI_SUCCESS, OCILobWrite(c_.svc, err_, c, &amount, 3, const_cast<char*>("z"), 1, OCI_ONE_PIECE,
                                       nullptr, nullptr, 0, 0));
    EXPECT_EQ("  z", ReadAll(c, 100));
    // a BLOB and a CLOB do not mix
    EXPECT_EQ(OCI_ERROR, OCILobAppend(c_.svc, err_, a, c));
    EXPECT_EQ(932, errorCode());
}

TEST_F(OciLobTest, AFetchedLocatorIsReadOnlyAndFreeingItIsNoTemporaryFree) {
    dbExec("INSERT INTO doc(id, data) VALUES (1, x'0102');");
    OCILobLocator* l = Select("SELECT data FROM doc WHERE id = 1", SQLT_BLOB);
    boolean temporary = 1;
    ASSERT_EQ(OCI_SUCCESS, OCILobIsTemporary(env_, err_, l, &temporary));
    EXPECT_FALSE(temporary);
    ub4 amount = 1;
    EXPECT_EQ(OCI_ERROR, OCILobWrite(c_.svc, err_, l, &amount, 1, const_cast<char*>("x"), 1, OCI_ONE_PIECE,
                                     nullptr, nullptr, 0, 0));
    EXPECT_EQ(22920, errorCode());
    EXPECT_EQ(OCI_ERROR, OCILobTrim(c_.svc, err_, l, 0));
    EXPECT_EQ(OCI_ERROR, OCILobFreeTemporary(c_.svc, err_, l));
    // the value stays what the select saw, whatever the table holds now
    dbExec("UPDATE doc SET data = x'FF' WHERE id = 1;");
    EXPECT_EQ(std::string("\x01\x02", 2), ReadAll(l, 10));
}

TEST_F(OciLobTest, NullIsNoLocatorWhileEmptyLobsAreEmptyValues) {
    dbExec("INSERT INTO doc(id, body, data) VALUES (1, NULL, NULL);");
    ASSERT_EQ(OCI_SUCCESS, run(c_, "INSERT INTO doc(id, body, data) VALUES (2, EMPTY_CLOB(), EMPTY_BLOB())"));
    ASSERT_EQ(OCI_SUCCESS, OCITransCommit(c_.svc, err_, 0));
    struct Case {
        int id;
        const char* col;
        ub2 type;
        sb2 indicator;
    };
    for (const Case& c : {Case{1, "body", SQLT_CLOB, -1}, Case{1, "data", SQLT_BLOB, -1},
                          Case{2, "body", SQLT_CLOB, 0}, Case{2, "data", SQLT_BLOB, 0}}) {
        SCOPED_TRACE(std::to_string(c.id) + c.col);
        sb2 ind = 5;
        OCILobLocator* l = Select(
            "SELECT " + std::string(c.col) + " FROM doc WHERE id = " + std::to_string(c.id), c.type, &ind);
        EXPECT_EQ(c.indicator, ind);
        boolean init = 2;
        ASSERT_EQ(OCI_SUCCESS, OCILobLocatorIsInit(env_, err_, l, &init));
        EXPECT_EQ(c.indicator == 0, init != 0);
        if (init) {
            EXPECT_EQ(0u, Length(l));
        }
    }
    EXPECT_EQ(1, dbInt("SELECT count(*) FROM doc WHERE id = 2 AND body IS NOT NULL AND data IS NOT NULL"));
}

TEST_F(OciLobTest, ALocatorOfAnotherLobTypeThanTheColumnIsRefused) {
    dbExec("INSERT INTO doc(id, body, data) VALUES (1, 'x', x'01');");
    OCIStmt* st = prepare("SELECT body FROM doc");
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    OCILobLocator* l = Locator();
    OCIDefine* d = nullptr;
    sb2 ind = 0;
    ASSERT_EQ(OCI_SUCCESS,
              OCIDefineByPos(st, &d, err_, 1, &l, sizeof l, SQLT_BLOB, &ind, nullptr, nullptr, 0));
    EXPECT_EQ(OCI_ERROR, OCIStmtFetch2(st, err_, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT));
    EXPECT_EQ(932, errorCode());
    OCIHandleFree(st, OCI_HTYPE_STMT);
}

// ---------------------------------------------------------------------------------------------
// CLOBs count characters

TEST_F(OciLobTest, CyrillicClobTextCountsCharactersInEveryClientForm) {
    // "Привет, мир" in code page 1251 and in UTF-16
    const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";
    const std::u16string wide = u"Привет, мир";
    OCILobLocator* temp = Temporary(OCI_TEMP_CLOB);
    WritePieces(temp, cp1251, 4);  // pieces split nowhere special: one byte is one character
    EXPECT_EQ(11u, Length(temp));
    Insert(1, "body", temp, SQLT_CLOB);
    // the database keeps UTF-8
    EXPECT_EQ(std::vector<std::string>{"Привет, мир"},
              standin::Texts(db_, "SELECT body FROM doc WHERE id = 1"));

    OCILobLocator* l = Select("SELECT body FROM doc WHERE id = 1", SQLT_CLOB);
    EXPECT_EQ(11u, Length(l));
    EXPECT_EQ(cp1251, ReadAll(l, 3));
    EXPECT_EQ(Le(wide), ReadAll(l, 6, OCI_UTF16ID));  // three characters a piece
    // amounts and offsets in characters: 3 characters from the 4th, in UTF-16
    char buf[64];
    oraub8 bytes = 0, chars = 3;
    ASSERT_EQ(OCI_SUCCESS, OCILobRead2(c_.svc, err_, l, &bytes, &chars, 4, buf, sizeof buf, OCI_ONE_PIECE,
                                       nullptr, nullptr, OCI_UTF16ID, 0));
    EXPECT_EQ(3u, chars);
    EXPECT_EQ(6u, bytes);
    EXPECT_EQ(Le(u"вет"), std::string(buf, bytes));

    // UTF-16 written, code page 1251 read
    OCILobLocator* w = Temporary(OCI_TEMP_CLOB);
    const std::string le = Le(wide);
    ub4 amount = 11;
    ASSERT_EQ(OCI_SUCCESS,
              OCILobWrite(c_.svc, err_, w, &amount, 1, const_cast<char*>(le.data()),
                          static_cast<ub4>(le.size()), OCI_ONE_PIECE, nullptr, nullptr, OCI_UTF16ID, 0));
    EXPECT_EQ(11u, amount);
    EXPECT_EQ(cp1251, ReadAll(w, 100));
}

TEST_F(OciLobTest, NclobColumnsAndNationalTemporariesReportTheNationalForm) {
    dbExec("INSERT INTO doc(id, body, note) VALUES (1, 'a', 'b');");
    struct Case {
        const char* col;
        ub1 form;
    };
    for (const Case& c : {Case{"body", 1}, Case{"note", 2}}) {
        OCILobLocator* l = Select("SELECT " + std::string(c.col) + " FROM doc", SQLT_CLOB);
        ub1 form = 0;
        ASSERT_EQ(OCI_SUCCESS, OCILobCharSetForm(env_, err_, l, &form));
        EXPECT_EQ(c.form, form) << c.col;
    }
    ub1 form = 0;
    ASSERT_EQ(OCI_SUCCESS, OCILobCharSetForm(env_, err_, Temporary(OCI_TEMP_CLOB, SQLCS_NCHAR), &form));
    EXPECT_EQ(2, form);
}

TEST_F(OciLobTest, APlSqlBlockMakesANationalTemporaryLob) {
    OCIStmt* st = prepare("begin dbms_lob.createtemporary(:TempClob, False); end;");
    OCILobLocator* l = Locator();
    OCIBind* b = nullptr;
    sb2 ind = 0;
    ASSERT_EQ(OCI_SUCCESS,
              OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":TempClob"), 9, &l, sizeof l,
                            SQLT_CLOB, &ind, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    ub1 national = SQLCS_NCHAR;
    ASSERT_EQ(OCI_SUCCESS, OCIAttrSet(b, OCI_HTYPE_BIND, &national, 0, OCI_ATTR_CHARSET_FORM, err_));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
        << errorText();
    OCIHandleFree(st, OCI_HTYPE_STMT);
    boolean temporary = 0;
    ASSERT_EQ(OCI_SUCCESS, OCILobIsTemporary(env_, err_, l, &temporary));
    EXPECT_TRUE(temporary);
    ub1 form = 0;
    OCILobCharSetForm(env_, err_, l, &form);
    EXPECT_EQ(2, form);
    WritePieces(l, "text", 4);
    EXPECT_EQ(4u, Length(l));
    ASSERT_EQ(OCI_SUCCESS, OCILobFreeTemporary(c_.svc, err_, l));
    boolean init = 1;
    OCILobLocatorIsInit(env_, err_, l, &init);
    EXPECT_FALSE(init);
}

// ---------------------------------------------------------------------------------------------
// BFILEs

TEST_F(OciLobTest, BFilesReadRealFilesThroughTheDirectoryMapping) {
    const std::string content = Pattern(70000);
    {
        std::ofstream out(dir_ + "/report.bin", std::ios::binary);
        out << content;
    }
    dbExec("INSERT INTO oci_directory VALUES ('DOCS', '" + dir_ + "'), ('GONE', '" + dir_ + "/missing');");
    ASSERT_EQ(OCI_SUCCESS, run(c_, "INSERT INTO doc(id, f) VALUES (1, BFILENAME('DOCS', 'report.bin'))"));
    ASSERT_EQ(OCI_SUCCESS, OCITransCommit(c_.svc, err_, 0));

    OCILobLocator* f = Select("SELECT f FROM doc WHERE id = 1", SQLT_BFILEE, nullptr, OCI_DTYPE_FILE);
    OraText dir[255], name[255];
    ub2 dirLength = sizeof dir, nameLength = sizeof name;
    ASSERT_EQ(OCI_SUCCESS, OCILobFileGetName(env_, err_, f, dir, &dirLength, name, &nameLength));
    EXPECT_EQ("DOCS", std::string(reinterpret_cast<char*>(dir), dirLength));
    EXPECT_EQ("report.bin", std::string(reinterpret_cast<char*>(name), nameLength));
    boolean exists = 0;
    ASSERT_EQ(OCI_SUCCESS, OCILobFileExists(c_.svc, err_, f, &exists));
    EXPECT_TRUE(exists);
    EXPECT_EQ(70000u, Length(f));  // known without opening
    // reading needs the file open
    char buf[16];
    oraub8 bytes = 1, chars = 0;
    EXPECT_EQ(OCI_ERROR, OCILobRead2(c_.svc, err_, f, &bytes, &chars, 1, buf, sizeof buf, OCI_ONE_PIECE,
                                     nullptr, nullptr, 0, 0));
    EXPECT_EQ(22289, errorCode());
    ASSERT_EQ(OCI_SUCCESS, OCILobFileOpen(c_.svc, err_, f, OCI_FILE_READONLY)) << errorText();
    EXPECT_EQ(content, ReadAll(f, 65514));
    ub4 amount = 1;
    EXPECT_EQ(OCI_ERROR,
              OCILobWrite(c_.svc, err_, f, &amount, 1, buf, 1, OCI_ONE_PIECE, nullptr, nullptr, 0, 0));
    ASSERT_EQ(OCI_SUCCESS, OCILobFileClose(c_.svc, err_, f));

    // names set by the client; a missing file is no error, a missing directory is
    struct Case {
        const char* dir;
        const char* file;
        sword status;
        bool exists;
        sb4 code;
    };
    const Case cases[] = {
        {"DOCS", "report.bin", OCI_SUCCESS, true, 0},    {"DOCS", "none.bin", OCI_SUCCESS, false, 0},
        {"docs", "report.bin", OCI_ERROR, false, 22285},  // aliases are exact
        {"GONE", "report.bin", OCI_ERROR, false, 22285}, {"NOPE", "report.bin", OCI_ERROR, false, 22285},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dir) + "/" + c.file);
        OCILobLocator* g = Locator(OCI_DTYPE_FILE);
        ASSERT_EQ(OCI_SUCCESS,
                  OCILobFileSetName(env_, err_, &g, reinterpret_cast<const OraText*>(c.dir),
                                    static_cast<ub2>(strlen(c.dir)), reinterpret_cast<const OraText*>(c.file),
                                    static_cast<ub2>(strlen(c.file))));
        exists = 2;
        EXPECT_EQ(c.status, OCILobFileExists(c_.svc, err_, g, &exists));
        if (c.status == OCI_SUCCESS) {
            EXPECT_EQ(c.exists, exists != 0);
        } else {
            EXPECT_EQ(c.code, errorCode());
        }
        if (!c.exists) {
            EXPECT_EQ(OCI_ERROR, OCILobFileOpen(c_.svc, err_, g, OCI_FILE_READONLY));
            EXPECT_EQ(22285, errorCode());
        }
    }
}

TEST_F(OciLobTest, ABFileBindsAsItsNamesAndAnEmptyNameComesAsOneNul) {
    OCILobLocator* g = Locator(OCI_DTYPE_FILE);
    ASSERT_EQ(OCI_SUCCESS, OCILobFileSetName(env_, err_, &g, reinterpret_cast<const OraText*>("DOCS"), 4,
                                             reinterpret_cast<const OraText*>("a.txt"), 5));
    OCIStmt* st = prepare("INSERT INTO doc(id, f) VALUES (1, :f)");
    OCIBind* b = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":f"), 2, &g, sizeof g,
                            SQLT_BFILEE, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS))
        << errorText();
    OCIHandleFree(st, OCI_HTYPE_STMT);
    EXPECT_EQ(std::vector<std::string>{"DOCS/a.txt"}, standin::Texts(db_, "SELECT f FROM doc"));

    ASSERT_EQ(OCI_SUCCESS, OCILobFileSetName(env_, err_, &g, reinterpret_cast<const OraText*>("DOCS"), 4,
                                             reinterpret_cast<const OraText*>("\0"), 1));
    OraText dir[255], name[255];
    ub2 dirLength = sizeof dir, nameLength = sizeof name;
    ASSERT_EQ(OCI_SUCCESS, OCILobFileGetName(env_, err_, g, dir, &dirLength, name, &nameLength));
    EXPECT_EQ(4, dirLength);
    EXPECT_EQ(0, nameLength);
}

// ---------------------------------------------------------------------------------------------
// LOBs a DML statement returns write to their row

TEST_F(OciLobTest, AReturnedLocatorWritesItsRowAndARollbackUndoesIt) {
    struct Case {
        const char* sql;
        const char* col;
        ub2 type;
        bool commit;
        const char* stored;  // hex of the column afterwards
    };
    dbExec("INSERT INTO doc(id, body, data) VALUES (10, 'old', x'AA');");
    const Case cases[] = {
        {"INSERT INTO doc(id, data) VALUES (1, EMPTY_BLOB()) RETURNING data INTO :l", "data", SQLT_BLOB, true,
         "61626364"},
        {"INSERT INTO doc(id, body) VALUES (2, EMPTY_CLOB()) RETURNING body INTO :l", "body", SQLT_CLOB, true,
         "61626364"},
        {"INSERT INTO doc(id, data) VALUES (3, EMPTY_BLOB()) RETURNING data INTO :l", "data", SQLT_BLOB,
         false, ""},
        {"UPDATE doc SET body = EMPTY_CLOB() WHERE id = 10 RETURNING body INTO :l", "body", SQLT_CLOB, true,
         "61626364"},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        ++row;
        OCIStmt* st = prepare(c.sql);
        OCILobLocator* l = Locator();
        OCIBind* b = nullptr;
        sb2 ind = -1;
        ASSERT_EQ(OCI_SUCCESS,
                  OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":l"), 2, &l, sizeof l, c.type,
                                &ind, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
        ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(c_.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
            << errorText();
        ub4 rows = 0;
        OCIAttrGet(st, OCI_HTYPE_STMT, &rows, nullptr, OCI_ATTR_ROW_COUNT, err_);
        EXPECT_EQ(1u, rows);
        OCIHandleFree(st, OCI_HTYPE_STMT);
        EXPECT_EQ(0, ind);
        EXPECT_EQ(0u, Length(l));
        ASSERT_EQ(OCI_SUCCESS, OCILobTrim(c_.svc, err_, l, 0)) << errorText();
        WritePieces(l, "ab", 2);
        ub4 amount = 2;
        ASSERT_EQ(OCI_SUCCESS, OCILobWrite(c_.svc, err_, l, &amount, 3, const_cast<char*>("cd"), 2,
                                           OCI_ONE_PIECE, nullptr, nullptr, 0, 0));
        // the session's own next query sees the write
        const int id = row == 4 ? 10 : row;
        OCILobLocator* seen =
            Select("SELECT " + std::string(c.col) + " FROM doc WHERE id = " + std::to_string(id), c.type);
        EXPECT_EQ("abcd", ReadAll(seen, 10));
        ASSERT_EQ(OCI_SUCCESS,
                  c.commit ? OCITransCommit(c_.svc, err_, 0) : OCITransRollback(c_.svc, err_, 0));
        EXPECT_EQ(
            std::vector<std::string>{c.stored},
            standin::Texts(db_, "SELECT hex(" + std::string(c.col) +
                                    ") FROM doc WHERE id = " + std::to_string(id) +
                                    " UNION ALL SELECT '' WHERE NOT EXISTS (SELECT 1 FROM doc WHERE id = " +
                                    std::to_string(id) + ")"));
    }
}

TEST_F(OciLobTest, ALocatorReturnedToAnotherSessionIsNotWritableHere) {
    OciConn other = connect();
    OCIStmt* st = prepare("INSERT INTO doc(id, data) VALUES (1, EMPTY_BLOB()) RETURNING data INTO :l");
    OCILobLocator* l = Locator();
    OCIBind* b = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              OCIBindByName(st, &b, err_, reinterpret_cast<const OraText*>(":l"), 2, &l, sizeof l, SQLT_BLOB,
                            nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, OCIStmtExecute(other.svc, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT))
        << errorText();
    OCIHandleFree(st, OCI_HTYPE_STMT);
    ub4 amount = 1;
    EXPECT_EQ(OCI_ERROR, OCILobWrite(c_.svc, err_, l, &amount, 1, const_cast<char*>("x"), 1, OCI_ONE_PIECE,
                                     nullptr, nullptr, 0, 0));
    EXPECT_EQ(22920, errorCode());
    ASSERT_EQ(OCI_SUCCESS, OCITransRollback(other.svc, err_, 0));
    logoff(other);
}
