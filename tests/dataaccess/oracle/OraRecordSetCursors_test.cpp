// The Oracle record set's cursor columns: a master query with CURSOR(...) in its select list gives
// each row a TOraCursor that a second record set reads, in blocks, row by row and scrolling.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

const char* kSchema = R"sql(
CREATE TABLE dept(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20));
CREATE TABLE emp(id NUMBER(9,0) PRIMARY KEY, dept NUMBER(9,0), name VARCHAR2(20));
INSERT INTO dept VALUES (10, 'ACCOUNTING'), (20, 'RESEARCH'), (30, 'SALES'), (40, 'OPERATIONS'),
  (50, 'SUPPORT');
INSERT INTO emp VALUES (1, 10, 'CLARK'), (2, 10, 'KING'), (3, 20, 'ADAMS'), (4, 20, 'FORD'),
  (5, 20, 'SMITH'), (6, 30, 'ALLEN'), (7, 50, 'WARD');
)sql";

const std::map<std::string, std::vector<std::string>> kStaff = {
    {"ACCOUNTING", {"CLARK", "KING"}},
    {"RESEARCH", {"ADAMS", "FORD", "SMITH"}},
    {"SALES", {"ALLEN"}},
    {"OPERATIONS", {}},
    {"SUPPORT", {"WARD"}},
};
const std::vector<std::string> kDepts = {"ACCOUNTING", "RESEARCH", "SALES", "OPERATIONS", "SUPPORT"};

const char* kMaster =
    "SELECT d.name, CURSOR(SELECT e.name FROM emp e WHERE e.dept = d.id ORDER BY e.name) staff "
    "FROM dept d ORDER BY d.id";

}  // namespace

class OraRecordSetCursorsTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(kSchema);
    }

    std::unique_ptr<TOCIRecordSet> Master(int fetchRows, bool scrollable) {
        auto rs = std::make_unique<TOCIRecordSet>();
        rs->SetConnection(conn_.get());
        rs->SetSQLText(kMaster);
        rs->SetProp(prFetchRows, fetchRows);
        if (scrollable) rs->OraCommand()->SetProp(prScrollableCursor, true);
        return rs;
    }

    struct Row {
        std::string name;
        TOraCursor* cursor = nullptr;  // held with a reference of its own
    };

    static Row Current(TOCIRecordSet& rs) {
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        rs.GetRecord(rec.data());
        Row row;
        rtl::Variant v;
        rs.GetFieldAsVariant(1, rec.data(), v);
        row.name = std::string(v.AsString());
        void* handle = nullptr;
        std::memcpy(&handle, rec.data() + rs.Fields()[1]->Offset, sizeof handle);
        row.cursor = dynamic_cast<TOraCursor*>(TSharedObject::FromHandle(handle));
        EXPECT_NE(nullptr, row.cursor) << row.name;
        if (row.cursor) row.cursor->AddRef();
        EXPECT_FALSE(rs.GetNull(2, rec.data())) << row.name;
        return row;
    }

    // The names a second record set reads from the cursor.
    std::vector<std::string> ReadCursor(TOraCursor* cursor, int fetchRows = 25) {
        TOCIRecordSet rs;
        rs.SetConnection(conn_.get());
        rs.SetProp(prFetchRows, fetchRows);
        rs.OraCommand()->SetCursor(cursor);
        rs.Open();
        std::vector<std::string> names;
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        while (true) {
            rs.GetNextRecord(nullptr);
            if (rs.Eof()) break;
            rs.GetRecord(rec.data());
            rtl::Variant v;
            rs.GetFieldAsVariant(1, rec.data(), v);
            names.push_back(std::string(v.AsString()));
        }
        rs.Close();
        return names;
    }
};

TEST_F(OraRecordSetCursorsTest, DescribedAsCursorFields) {
    auto rs = Master(25, false);
    rs->Open();
    ASSERT_EQ(2, rs->GetFieldCount());
    EXPECT_EQ("STAFF", std::string(rs->Fields()[1]->Name));
    EXPECT_EQ(dtCursor, rs->Fields()[1]->DataType);
    rs->Close();
}

// Every way of fetching the master: the inner cursor is read while its row is current, or only
// after the master has reached its end.
TEST_F(OraRecordSetCursorsTest, EveryRowReadsItsOwnStaff) {
    struct Case {
        int fetchRows;
        bool scrollable;
        bool readAtOnce;
    };
    const Case cases[] = {
        {25, false, false}, {2, false, false}, {1, false, true}, {2, false, true},
        {25, true, false},  {2, true, true},   {3, true, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE("fetch rows " + std::to_string(k.fetchRows) + (k.scrollable ? ", scrollable" : "") +
                     (k.readAtOnce ? ", read at once" : ", read afterwards"));
        auto rs = Master(k.fetchRows, k.scrollable);
        rs->Open();
        std::vector<Row> rows;
        std::vector<std::vector<std::string>> staff;
        while (true) {
            rs->GetNextRecord(nullptr);
            if (rs->Eof()) break;
            rows.push_back(Current(*rs));
            if (k.readAtOnce) staff.push_back(ReadCursor(rows.back().cursor));
        }
        if (!k.readAtOnce)
            for (const Row& r : rows) staff.push_back(ReadCursor(r.cursor, 2));
        ASSERT_EQ(kDepts.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(kDepts[i], rows[i].name);
            EXPECT_EQ(kStaff.at(rows[i].name), staff[i]) << rows[i].name;
            rows[i].cursor->Release();
        }
        rs->Close();
    }
}

// A scrollable master goes back to a row it dropped from its window: the row comes again with its
// cursor, which reads that row's staff.
TEST_F(OraRecordSetCursorsTest, ScrollingBackRefetchesTheRowAndItsCursor) {
    auto rs = Master(2, true);
    rs->Open();
    rs->SetToEnd();
    std::vector<std::string> seen;
    while (true) {
        rs->GetPriorRecord(nullptr);
        if (rs->Bof()) break;
        Row row = Current(*rs);
        seen.push_back(row.name);
        EXPECT_EQ(kStaff.at(row.name), ReadCursor(row.cursor)) << row.name;
        row.cursor->Release();
    }
    EXPECT_EQ(std::vector<std::string>(kDepts.rbegin(), kDepts.rend()), seen);
    rs->Close();
}

// The server closes nested cursors with their master: a cursor kept past the master's close
// cannot be read.
TEST_F(OraRecordSetCursorsTest, ACursorKeptPastTheMastersCloseFails) {
    auto rs = Master(25, false);
    rs->Open();
    rs->GetNextRecord(nullptr);
    Row row = Current(*rs);
    rs->Close();
    rs->UnPrepare();
    EXPECT_EQ(1002, OraErrorCode([&] { ReadCursor(row.cursor); }));
    row.cursor->Release();
}

// A copy of a row (an edit buffer) shares the row's cursor; freeing the copy leaves it readable.
TEST_F(OraRecordSetCursorsTest, ACopiedRowSharesItsCursor) {
    auto rs = Master(25, false);
    rs->Open();
    rs->GetNextRecord(nullptr);
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    std::vector<uint8_t> copy(static_cast<size_t>(rs->RecordSize()));
    rs->GetRecord(rec.data());
    rs->CreateComplexFields(copy.data(), false);
    rs->CopyComplexFields(rec.data(), copy.data(), false);
    const size_t at = static_cast<size_t>(rs->Fields()[1]->Offset);
    void* original = nullptr;
    void* copied = nullptr;
    std::memcpy(&original, rec.data() + at, sizeof original);
    std::memcpy(&copied, copy.data() + at, sizeof copied);
    EXPECT_EQ(original, copied);
    auto* cursor = dynamic_cast<TOraCursor*>(TSharedObject::FromHandle(original));
    ASSERT_NE(nullptr, cursor);
    EXPECT_EQ(2, cursor->RefCount());
    rs->FreeComplexFields(copy.data(), false);
    EXPECT_EQ(1, cursor->RefCount());
    EXPECT_EQ(kStaff.at("ACCOUNTING"), ReadCursor(cursor));
    rs->Close();
}

// A procedure's REF CURSOR whose query has a cursor column: the record set reads the rows and each
// row's cursor, whose subquery also sees the procedure's argument.
TEST_F(OraRecordSetCursorsTest, AProceduresCursorCarriesCursorColumns) {
    dbExec(
        "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'get_depts', 'PROCEDURE', "
        "'OPEN :P_CUR FOR SELECT d.name, CURSOR(SELECT e.name FROM emp e WHERE e.dept = d.id AND "
        "e.name >= :P_FROM ORDER BY e.name) AS staff FROM dept d ORDER BY d.id');"
        "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
        "('', 'get_depts', 1, 'P_FROM', 'VARCHAR2', 'IN'), ('', 'get_depts', 2, 'P_CUR', 'REF CURSOR', "
        "'OUT');");
    auto rs = std::make_unique<TOCIRecordSet>();
    rs->SetConnection(conn_.get());
    rs->SetSQLText("begin get_depts(:P_FROM, :P_CUR); end;");
    TOraParamDesc* from = rs->OraCommand()->GetParam(0);
    from->SetDataType(dtString);
    from->SetParamType(ptInput);
    from->SetValue(AnsiString("F"));
    TOraParamDesc* cur = rs->OraCommand()->GetParam(1);
    cur->SetDataType(dtCursor);
    cur->SetParamType(ptOutput);
    rs->Open();
    ASSERT_EQ(2, rs->GetFieldCount());
    EXPECT_EQ(dtCursor, rs->Fields()[1]->DataType);
    std::map<std::string, std::vector<std::string>> got;
    while (true) {
        rs->GetNextRecord(nullptr);
        if (rs->Eof()) break;
        Row row = Current(*rs);
        got[row.name] = ReadCursor(row.cursor);
        row.cursor->Release();
    }
    const std::map<std::string, std::vector<std::string>> want = {{"ACCOUNTING", {"KING"}},
                                                                  {"RESEARCH", {"FORD", "SMITH"}},
                                                                  {"SALES", {}},
                                                                  {"OPERATIONS", {}},
                                                                  {"SUPPORT", {"WARD"}}};
    EXPECT_EQ(want, got);
    rs->Close();
}

// Fetched on a worker: the worker stages the rows' statement handles, the owning thread reads the
// cursors once the fetch-all completed.
TEST_F(OraRecordSetCursorsTest, FetchedInTheBackground) {
    auto rs = Master(2, false);
    rs->OraCommand()->SetProp(prNonBlocking, true);
    rs->SetProp(prFetchAll, true);
    std::vector<bool> fetchedAll;
    rs->OnAfterFetchAll = [&](bool ok) { fetchedAll.push_back(ok); };
    rs->Open();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fetchedAll.empty() && std::chrono::steady_clock::now() < end) rtl::WaitAndProcessMessages(10);
    ASSERT_EQ(std::vector<bool>{true}, fetchedAll);
    EXPECT_EQ(static_cast<int>(kDepts.size()), rs->GetRecordCount());
    rs->SetToBegin();
    size_t i = 0;
    while (true) {
        rs->GetNextRecord(nullptr);
        if (rs->Eof()) break;
        Row row = Current(*rs);
        ASSERT_LT(i, kDepts.size());
        EXPECT_EQ(kDepts[i++], row.name);
        EXPECT_EQ(kStaff.at(row.name), ReadCursor(row.cursor)) << row.name;
        row.cursor->Release();
    }
    EXPECT_EQ(kDepts.size(), i);
    rs->Close();
}
