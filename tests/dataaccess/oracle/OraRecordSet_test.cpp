// The Oracle record set on the stand-in: block fetching, fetch-all, REF CURSOR results, row values,
// scrollable windows and bookmarks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

int g_fetchCalls = 0;
decltype(dac::OCIStmtFetch) g_savedFetch = nullptr;
decltype(dac::OCIStmtFetch2) g_savedFetch2 = nullptr;
std::vector<std::pair<ub2, sb4>> g_orientations;

sword CountingFetch(OCIStmt* st, OCIError* err, ub4 rows, ub2 orientation, ub4 mode) {
    ++g_fetchCalls;
    g_orientations.emplace_back(orientation, 0);
    return g_savedFetch(st, err, rows, orientation, mode);
}

sword CountingFetch2(OCIStmt* st, OCIError* err, ub4 rows, ub2 orientation, sb4 offset, ub4 mode) {
    ++g_fetchCalls;
    g_orientations.emplace_back(orientation, offset);
    return g_savedFetch2(st, err, rows, orientation, offset, mode);
}

// Counts the client's fetch calls and notes their orientations while it lives.
class FetchSpy {
public:
    FetchSpy() : swap_(dac::OCIStmtFetch, CountingFetch), swap2_(dac::OCIStmtFetch2, CountingFetch2) {
        g_savedFetch = swap_.Saved();
        g_savedFetch2 = swap2_.Saved();
        g_fetchCalls = 0;
        g_orientations.clear();
    }
    int Calls() const { return g_fetchCalls; }
    const std::vector<std::pair<ub2, sb4>>& Orientations() const { return g_orientations; }
    void Reset() {
        g_fetchCalls = 0;
        g_orientations.clear();
    }

private:
    EntrySwap<decltype(dac::OCIStmtFetch)> swap_;
    EntrySwap<decltype(dac::OCIStmtFetch2)> swap2_;
};

int g_defineCalls = 0;
decltype(dac::OCIDefineByPos) g_savedDefine = nullptr;

sword CountingDefine(OCIStmt* st, OCIDefine** define, OCIError* err, ub4 position, void* value, sb4 size,
                     ub2 type, void* indicator, ub2* length, ub2* code, ub4 mode) {
    ++g_defineCalls;
    return g_savedDefine(st, define, err, position, value, size, type, indicator, length, code, mode);
}

// Counts the client's define calls while it lives.
class DefineSpy {
public:
    DefineSpy() : swap_(dac::OCIDefineByPos, CountingDefine) {
        g_savedDefine = swap_.Saved();
        g_defineCalls = 0;
    }
    int Calls() const { return g_defineCalls; }

private:
    EntrySwap<decltype(dac::OCIDefineByPos)> swap_;
};

}  // namespace

class OraRecordSetTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec("CREATE TABLE n(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20), day DATE);");
    }

    // Rows 1..count in table n: name "r<id>", day 2024-01-<id % 28 + 1>.
    void FillRows(int count) {
        std::string sql = "BEGIN;";
        for (int i = 1; i <= count; ++i)
            sql += "INSERT INTO n VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) +
                   "', '2024-01-" + (i % 28 + 1 < 10 ? "0" : "") + std::to_string(i % 28 + 1) +
                   " 10:20:30');";
        dbExec(sql + "COMMIT;");
    }

    std::unique_ptr<TOCIRecordSet> RecordSet(const AnsiString& sql) {
        auto rs = std::make_unique<TOCIRecordSet>();
        rs->SetConnection(conn_.get());
        rs->SetSQLText(sql);
        return rs;
    }

    // Field 1 of the current record as an integer.
    static int CurrentId(TOCIRecordSet& rs) {
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        rs.GetRecord(rec.data());
        rtl::Variant v;
        rs.GetFieldAsVariant(1, rec.data(), v);
        return v.AsInteger();
    }

    // Reads forward to the end; the first column of every row.
    static std::vector<int> ReadForward(TOCIRecordSet& rs) {
        std::vector<int> ids;
        while (true) {
            rs.GetNextRecord(nullptr);
            if (rs.Eof()) break;
            ids.push_back(CurrentId(rs));
        }
        return ids;
    }

    static std::vector<int> Range(int from, int to) {
        std::vector<int> v;
        for (int i = from; from <= to ? i <= to : i >= to; from <= to ? ++i : --i) v.push_back(i);
        return v;
    }

    static int ListLength(TOCIRecordSet& rs) {
        int n = 0;
        for (PItemHeader i = rs.FirstItem; i; i = ItemHeader::Next(i)) ++n;
        return n;
    }

    static int FreeItems(TOCIRecordSet& rs) {
        int n = 0;
        for (PItemHeader i = rs.BlockManager().FirstFree; i; i = ItemHeader::Next(i)) ++n;
        return n;
    }

    static int Blocks(TOCIRecordSet& rs) {
        int n = 0;
        for (PBlockHeader b = rs.BlockManager().FirstBlock; b; b = BlockHeader::Next(b)) ++n;
        return n;
    }
};

// ---------------------------------------------------------------------------------------------
// Block fetching

TEST_F(OraRecordSetTest, SixtyRowsComeInBlocksOf25_25_10AndNoFourthFetch) {
    FillRows(60);
    auto rs = RecordSet("select id, name, day from n order by id");
    FetchSpy spy;
    rs->Open();
    EXPECT_EQ(0, spy.Calls());  // the open executes; the first read fetches
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(1, spy.Calls());
    EXPECT_EQ(25, rs->GetRecordCount());
    std::vector<int> ids{CurrentId(*rs)};
    for (int id : ReadForward(*rs)) ids.push_back(id);
    EXPECT_EQ(Range(1, 60), ids);
    EXPECT_EQ(3, spy.Calls());  // 25, 25, 10: the short block tells the end
    EXPECT_TRUE(rs->EndReached());
    EXPECT_EQ(60, rs->GetRecordCount());
    EXPECT_EQ(15, FreeItems(*rs));  // the last block's spare items
    EXPECT_EQ(3, Blocks(*rs));
    rtl::Variant fetched;
    rs->GetProp(prRowsFetched, fetched);
    EXPECT_EQ(60, fetched.AsInteger());
    rs->Close();
}

// The defines are made once per open: every block lands in the same stage and is copied to its
// own items, with the values of converted columns rebuilt per row.
TEST_F(OraRecordSetTest, EachColumnIsDefinedOncePerOpenWhateverTheNumberOfBlocks) {
    FillRows(60);
    dbExec(
        "CREATE TABLE w(id NUMBER(9,0), big NUMBER(18,0), txt VARCHAR2(100));"
        "INSERT INTO w SELECT id, id * 1000000000000, 'long text ' || name FROM n;");
    struct Case {
        const char* sql;
        int columns;
        std::function<std::string(int id)> second;  // the expected second column of row id
    };
    const Case cases[] = {
        {"select id, name, day from n order by id", 3, [](int id) { return "r" + std::to_string(id); }},
        {"select id, big, txt from w order by id", 3,
         [](int id) { return std::to_string(int64_t{id} * 1000000000000); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        auto rs = RecordSet(c.sql);
        rs->OraCommand()->SetProp(prLargeintPrecision, 18);
        rs->SetProp(prFlatBuffers, false);
        for (int pass = 0; pass < 2; ++pass) {  // a reopen defines again, once
            DefineSpy spy;
            rs->Open();
            std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
            std::vector<int> ids;
            while (true) {
                rs->GetNextRecord(rec.data());
                if (rs->Eof()) break;
                rtl::Variant v;
                rs->GetFieldAsVariant(1, rec.data(), v);
                const int id = v.AsInteger();
                ids.push_back(id);
                rs->GetFieldAsVariant(2, rec.data(), v);
                EXPECT_EQ(c.second(id), v.AsString()) << id;
                if (c.columns == 3 && rs->Fields()[2]->DataType == dtStringRef) {
                    rs->GetFieldAsVariant(3, rec.data(), v);
                    EXPECT_EQ("long text r" + std::to_string(id), v.AsString());
                }
            }
            EXPECT_EQ(Range(1, 60), ids);
            EXPECT_EQ(c.columns, spy.Calls());
            EXPECT_EQ(3, Blocks(*rs));
            rs->Close();
        }
    }
}

TEST_F(OraRecordSetTest, ExactlyOneBlockNeedsAnEmptySecondFetchWhoseBlockIsFreed) {
    FillRows(25);
    auto rs = RecordSet("select id from n order by id");
    FetchSpy spy;
    rs->Open();
    EXPECT_EQ(Range(1, 25), ReadForward(*rs));
    EXPECT_EQ(2, spy.Calls());
    EXPECT_EQ(1, Blocks(*rs));
    EXPECT_EQ(0, FreeItems(*rs));
    EXPECT_TRUE(rs->Eof());
}

TEST_F(OraRecordSetTest, FetchAllReadsEverythingAtOpen) {
    FillRows(60);
    auto rs = RecordSet("select id, name from n order by id");
    rs->SetProp(prFetchAll, true);
    rs->Open();
    EXPECT_EQ(60, rs->GetRecordCount());
    EXPECT_EQ(csFetched, rs->OraCommand()->GetCursorState());
    EXPECT_EQ(Range(1, 60), ReadForward(*rs));
}

TEST_F(OraRecordSetTest, PreparingDescribesAQueryWithoutRunningIt) {
    FillRows(3);
    auto rs = RecordSet("select id, name, day from n where id > :low order by id");
    rs->OraCommand()->GetParam(0)->SetDataType(dtInteger);
    rs->OraCommand()->GetParam(0)->SetValue(1);
    FetchSpy spy;
    rs->Prepare();
    ASSERT_EQ(3, rs->GetFieldCount());
    EXPECT_EQ(dtDateTime, rs->Fields()[2]->DataType);
    EXPECT_EQ(csPrepared, rs->OraCommand()->GetCursorState());
    EXPECT_EQ(0, spy.Calls());
    rs->Open();
    EXPECT_EQ(Range(2, 3), ReadForward(*rs));
    rs->Close();
    rs->UnPrepare();
    EXPECT_EQ(csInactive, rs->OraCommand()->GetCursorState());
}

TEST_F(OraRecordSetTest, AnEmptyResultIsEofAtOnce) {
    auto rs = RecordSet("select id from n");
    rs->Open();
    rs->GetNextRecord(nullptr);
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(0, rs->GetRecordCount());
    EXPECT_EQ(0, Blocks(*rs));
}

TEST_F(OraRecordSetTest, ValuesOfTheCommonTypesLandInTheRecord) {
    dbExec("INSERT INTO n VALUES (7, 'seven', '2023-12-31 23:59:58'), (8, NULL, NULL);");
    auto rs = RecordSet("select id, name, day from n order by id");
    rs->Open();
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    rs->GetNextRecord(rec.data());
    rtl::Variant v;
    rs->GetFieldAsVariant(2, rec.data(), v);
    EXPECT_EQ("seven", v.AsString());
    double msecs = 0;
    TFieldDesc* day = rs->Fields()[2];
    rs->GetDateFromBuf(rec.data() + day->Offset, day, &msecs, 0);
    // 2023-12-31 is day 738885 counting 0001-01-01 as day 1 (Python's date.toordinal()).
    EXPECT_DOUBLE_EQ(738885.0 * 86400000.0 + (23 * 3600 + 59 * 60 + 58) * 1000.0, msecs);
    rs->GetNextRecord(rec.data());
    EXPECT_TRUE(rs->GetNull(2, rec.data()));
    EXPECT_TRUE(rs->GetNull(3, rec.data()));
    EXPECT_FALSE(rs->GetNull(1, rec.data()));
}

TEST_F(OraRecordSetTest, AFailingRowFailsItsFetchAfterTheRowsBeforeIt) {
    dbExec(
        "CREATE TABLE bad(id NUMBER(9,0), txt VARCHAR2(10));"
        "INSERT INTO bad VALUES (1, '1'), (2, '2'), (3, 'x');");
    // No ORDER BY: a sort would convert every row before the first one comes.
    auto rs = RecordSet("select id, to_number(txt) as v from bad");
    rs->SetProp(prFetchRows, 2);
    rs->Open();
    EXPECT_EQ(Range(1, 2), (std::vector<int>{[&] {
                                                 rs->GetNextRecord(nullptr);
                                                 return CurrentId(*rs);
                                             }(),
                                             [&] {
                                                 rs->GetNextRecord(nullptr);
                                                 return CurrentId(*rs);
                                             }()}));
    EXPECT_NE(0, OraErrorCode([&] { rs->GetNextRecord(nullptr); }));
    // The list keeps the rows that came and no half-filled block.
    EXPECT_EQ(2, ListLength(*rs));
    EXPECT_EQ(1, Blocks(*rs));
}

TEST_F(OraRecordSetTest, AutoCloseReleasesTheStatementAndKeepsTheRows) {
    FillRows(30);
    auto rs = RecordSet("select id from n order by id");
    rs->SetProp(prAutoClose, true);
    rs->Open();
    EXPECT_EQ(Range(1, 30), ReadForward(*rs));
    EXPECT_EQ(csInactive, rs->OraCommand()->GetCursorState());
    EXPECT_EQ(30, rs->GetRecordCount());
    rs->SetToBegin();
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(1, CurrentId(*rs));
}

TEST_F(OraRecordSetTest, AUnidirectionalRecordSetHoldsOneBlockAtATime) {
    FillRows(60);
    auto rs = RecordSet("select id from n order by id");
    rs->SetProp(prUniDirectional, true);
    rs->Open();
    std::vector<int> ids;
    int longest = 0;
    while (true) {
        rs->GetNextRecord(nullptr);
        if (rs->Eof()) break;
        ids.push_back(CurrentId(*rs));
        longest = std::max(longest, ListLength(*rs));
    }
    EXPECT_EQ(Range(1, 60), ids);
    EXPECT_EQ(25, longest);
    EXPECT_EQ(1, Blocks(*rs));
}

TEST_F(OraRecordSetTest, ACancelledFetchWithAutoCloseFinishesTheCursor) {
    FillRows(10);
    auto rs = RecordSet("select id from n");
    rs->SetProp(prAutoClose, true);
    rs->OnBeforeFetch = [](bool& cancel) { cancel = true; };
    rs->Open();
    rs->GetNextRecord(nullptr);
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(csFetched, rs->OraCommand()->GetCursorState());
}

// ---------------------------------------------------------------------------------------------
// REF CURSOR results

class OraRecordSetProcTest : public OraRecordSetTest {
protected:
    void SetUp() override {
        OraRecordSetTest::SetUp();
        FillRows(60);
        dbExec(
            "CREATE TABLE calls(n INTEGER);"
            "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'get_rows', 'PROCEDURE', "
            "'INSERT INTO calls VALUES (1); OPEN :P_CUR FOR SELECT id, name FROM n WHERE id > :P_FROM "
            "ORDER BY id');"
            "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
            "('', 'get_rows', 1, 'P_FROM', 'NUMBER', 'IN'), ('', 'get_rows', 2, 'P_CUR', 'REF CURSOR', "
            "'OUT');"
            "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'no_rows', 'PROCEDURE', "
            "'INSERT INTO calls VALUES (2)');");
    }

    std::unique_ptr<TOCIRecordSet> ProcRecordSet(int from) {
        auto rs = RecordSet("begin get_rows(:P_FROM, :P_CUR); end;");
        TOraParamDesc* p = rs->OraCommand()->GetParam(0);
        p->SetDataType(dtInteger);
        p->SetParamType(ptInput);
        p->SetValue(from);
        TOraParamDesc* c = rs->OraCommand()->GetParam(1);
        c->SetDataType(dtCursor);
        c->SetParamType(ptOutput);
        return rs;
    }
};

TEST_F(OraRecordSetProcTest, ACursorParameterIsFetchedInBlocksAndTheProcedureRunsOnce) {
    auto rs = ProcRecordSet(20);
    rs->Prepare();  // describing a block never runs it
    EXPECT_TRUE(dbTexts("SELECT n FROM calls").empty());
    rs->Open();
    ASSERT_EQ(2, rs->GetFieldCount());
    EXPECT_EQ("ID", rs->Fields()[0]->Name);
    EXPECT_EQ("NAME", rs->Fields()[1]->Name);
    EXPECT_EQ(Range(21, 60), ReadForward(*rs));
    EXPECT_EQ(TCRRecordSet::ctCursor, rs->CommandType());
    EXPECT_EQ((std::vector<std::string>{"1"}), dbTexts("SELECT n FROM calls"));
    rs->Close();
    // Opened again, the block runs again and the fields stay.
    rs->Open();
    EXPECT_EQ(Range(21, 60), ReadForward(*rs));
    EXPECT_EQ((std::vector<std::string>{"1", "1"}), dbTexts("SELECT n FROM calls"));
}

TEST_F(OraRecordSetProcTest, ABlockWithoutCursorOpenedAsAQueryFails) {
    auto rs = RecordSet("begin no_rows; end;");
    EXPECT_EQ("SQL statement doesn't return rows", ExceptionText([&] { rs->Open(); }));
    EXPECT_EQ((std::vector<std::string>{"2"}), dbTexts("SELECT n FROM calls"));  // it ran once
}

TEST_F(OraRecordSetProcTest, AForeignCursorIsDescribedAndFetched) {
    auto command = Command("begin get_rows(:P_FROM, :P_CUR); end;");
    command->GetParam(0)->SetDataType(dtInteger);
    command->GetParam(0)->SetParamType(ptInput);
    command->GetParam(0)->SetValue(55);
    command->GetParam(1)->SetDataType(dtCursor);
    command->GetParam(1)->SetParamType(ptOutput);
    command->Execute();
    TOraCursor* cursor = command->GetParam(1)->GetAsCursor();
    ASSERT_NE(nullptr, cursor);
    auto rs = std::make_unique<TOCIRecordSet>();
    rs->SetConnection(conn_.get());
    rs->OraCommand()->SetCursor(cursor);
    rs->Open();
    EXPECT_EQ(Range(56, 60), ReadForward(*rs));
    EXPECT_TRUE(rs->NeedFullReopen());
}

// ---------------------------------------------------------------------------------------------
// Values kept apart from the record and converted types

TEST_F(OraRecordSetTest, ConvertedAndOutOfRecordValues) {
    dbExec(
        "CREATE TABLE v(id NUMBER(9,0), big NUMBER(18,0), money NUMBER(12,2), num NUMBER, "
        "txt VARCHAR2(100), raw RAW(40), memo VARCHAR2(300));"
        "INSERT INTO v VALUES (1, 123456789012345678, 1234.56, 2.5, 'outside', x'0102', 'a memo'),"
        "(2, NULL, NULL, NULL, NULL, NULL, NULL);");
    conn_->SetProp(prEnableNumbers, true);
    auto rs = RecordSet("select id, big, money, num, txt, raw, memo from v order by id");
    rs->OraCommand()->SetProp(prLargeintPrecision, 18);
    rs->SetProp(prFlatBuffers, false);
    rs->SetProp(prLongStrings, false);
    rs->Open();
    ASSERT_EQ(7, rs->GetFieldCount());
    EXPECT_EQ(dtLargeint, rs->Fields()[1]->DataType);
    EXPECT_EQ(dtNumber, rs->Fields()[3]->DataType);
    EXPECT_EQ(dtStringRef, rs->Fields()[4]->DataType);
    EXPECT_EQ(dtVarBytesRef, rs->Fields()[5]->DataType);
    EXPECT_EQ(dtMemo, rs->Fields()[6]->DataType);
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    rs->GetNextRecord(rec.data());
    rtl::Variant v;
    rs->GetFieldAsVariant(2, rec.data(), v);
    EXPECT_EQ(int64_t{123456789012345678}, v.AsInt64());
    rs->GetFieldAsVariant(3, rec.data(), v);
    EXPECT_DOUBLE_EQ(1234.56, v.AsDouble());
    rs->GetFieldAsVariant(4, rec.data(), v);
    EXPECT_DOUBLE_EQ(2.5, v.AsDouble());
    rs->GetFieldAsVariant(5, rec.data(), v);
    EXPECT_EQ("outside", v.AsString());
    EXPECT_EQ((rtl::TBytes{1, 2}), [&] {
        rs->GetFieldAsVariant(6, rec.data(), v);
        return rtl::VariantToBytes(v);
    }());
    rs->GetFieldAsVariant(7, rec.data(), v);
    EXPECT_EQ("a memo", v.AsString());
    rs->GetNextRecord(rec.data());
    for (int f = 2; f <= 7; ++f) EXPECT_TRUE(rs->GetNull(f, rec.data())) << f;
}

TEST_F(OraRecordSetTest, SortingOnANumberObjectPutsNullsFirst) {
    dbExec(
        "CREATE TABLE v(id NUMBER(9,0), num NUMBER);"
        "INSERT INTO v VALUES (1, 3.5), (2, NULL), (3, -1), (4, 10);");
    conn_->SetProp(prEnableNumbers, true);
    auto rs = RecordSet("select id, num from v");
    rs->SetProp(prIndexFieldNames, AnsiString("NUM"));
    rs->Open();
    rs->SortItems();
    EXPECT_EQ((std::vector<int>{2, 3, 1, 4}), ReadForward(*rs));
}

// Dates that cannot be a real date or time read as null; a DATE that fails conversion keeps its
// documented reading.
TEST_F(OraRecordSetTest, ImpossibleDatesReadAsNull) {
    auto rs = RecordSet("select id, day from n");
    rs->Open();
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    TFieldDesc* day = rs->Fields()[1];
    struct Case {
        uint8_t bytes[7];
        bool null;
    } cases[] = {
        {{120, 124, 1, 15, 11, 21, 31}, false},  // 2024-01-15 10:20:30
        {{100, 100, 0, 0, 0, 0, 0}, true},       // the zero date
        {{120, 124, 0, 0, 1, 1, 1}, true},       // month and day 0
        {{120, 124, 1, 15, 26, 1, 1}, true},     // hour byte 26 (hour 25)
        {{120, 124, 1, 15, 1, 62, 1}, true},     // minute byte above 60
        {{120, 124, 1, 15, 0, 1, 1}, true},      // hour byte 0
        {{120, 124, 1, 15, 1, 1, 61}, true},     // second byte above 60
        {{120, 124, 1, 15, 25, 1, 1}, true},     // hour byte 25
        {{120, 124, 1, 15, 24, 60, 60}, false},  // 23:59:59 is the last time that passes
    };
    for (const Case& c : cases) {
        std::memcpy(rec.data() + day->Offset, c.bytes, 7);
        rs->SetNull(2, rec.data(), false);
        EXPECT_EQ(c.null, rs->GetNull(2, rec.data())) << int(c.bytes[2]) << "/" << int(c.bytes[4]);
    }
    const uint8_t february30[7] = {120, 124, 2, 30, 1, 1, 1};
    std::memcpy(rec.data() + day->Offset, february30, 7);
    double value = -1;
    rs->GetDateFromBuf(rec.data() + day->Offset, day, &value, 0);
    EXPECT_EQ(86400000.0, value);
    rs->GetDateFromBuf(rec.data() + day->Offset, day, &value, 1);
    EXPECT_EQ(0.0, value);
}

TEST_F(OraRecordSetTest, ANumberVariantOfAnUnsupportedKindIsRefused) {
    dbExec("CREATE TABLE v(num NUMBER); INSERT INTO v VALUES (1);");
    conn_->SetProp(prEnableNumbers, true);
    auto rs = RecordSet("select num from v");
    rs->Open();
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    rs->GetNextRecord(rec.data());
    rs->PutFieldAsVariant(1, rec.data(), rtl::Variant(AnsiString("42.25")));
    rtl::Variant v;
    rs->GetFieldAsVariant(1, rec.data(), v);
    EXPECT_DOUBLE_EQ(42.25, v.AsDouble());
    EXPECT_EQ("Cannot convert type",
              ExceptionText([&] { rs->PutFieldAsVariant(1, rec.data(), rtl::Variant(true)); }));
    rs->PutFieldAsVariant(1, rec.data(), rtl::Variant::MakeNull());
    EXPECT_TRUE(rs->GetNull(1, rec.data()));
}

// ---------------------------------------------------------------------------------------------
// Scrollable cursors

class OraScrollTest : public OraRecordSetTest {
protected:
    std::unique_ptr<TOCIRecordSet> Scrollable(int rows) {
        FillRows(rows);
        auto rs = RecordSet("select id, name from n order by id");
        rs->OraCommand()->SetProp(prScrollableCursor, true);
        return rs;
    }
};

TEST_F(OraScrollTest, TheWindowNeverHoldsMoreThanFetchRows) {
    auto rs = Scrollable(60);
    rs->Open();
    ASSERT_TRUE(rs->CanFetchBack());
    EXPECT_TRUE(rs->PieceFetch());
    std::vector<int> ids;
    int longest = 0;
    while (true) {
        rs->GetNextRecord(nullptr);
        if (rs->Eof()) break;
        ids.push_back(CurrentId(*rs));
        longest = std::max(longest, ListLength(*rs));
    }
    EXPECT_EQ(Range(1, 60), ids);
    EXPECT_EQ(25, longest);
    // The fetch that found the end had made room first: rows 37 to 60 are held.
    EXPECT_EQ(36, rs->FirstRowNo());
    EXPECT_EQ(60, rs->LastRowNo());
    // Stepping back inside the window needs no fetch; past it, one row per call drops the last.
    FetchSpy spy;
    std::vector<int> back;
    for (int k = 0; k < 30; ++k) {
        rs->GetPriorRecord(nullptr);
        back.push_back(CurrentId(*rs));
        EXPECT_LE(ListLength(*rs), 25);
    }
    EXPECT_EQ(Range(60, 31), back);
    EXPECT_EQ(6, spy.Calls());
    for (const auto& o : spy.Orientations()) EXPECT_EQ(OCI_FETCH_ABSOLUTE, o.first);
    EXPECT_EQ(36, spy.Orientations().front().second);
    EXPECT_EQ(31, spy.Orientations().back().second);
}

TEST_F(OraScrollTest, GoingToTheEndFetchesTheLastRowOnceAndStepsBackRowByRow) {
    auto rs = Scrollable(100);
    rs->Open();
    rs->GetNextRecord(nullptr);
    FetchSpy spy;
    rs->SetToEnd();
    ASSERT_EQ(1, spy.Calls());
    EXPECT_EQ(OCI_FETCH_LAST, spy.Orientations()[0].first);
    EXPECT_EQ(100, rs->FirstRowNo());
    EXPECT_EQ(0, ListLength(*rs));
    std::vector<int> back;
    for (int k = 0; k < 3; ++k) {
        rs->GetPriorRecord(nullptr);
        back.push_back(CurrentId(*rs));
    }
    EXPECT_EQ(Range(100, 98), back);
    EXPECT_EQ((std::pair<ub2, sb4>(OCI_FETCH_ABSOLUTE, 100)), spy.Orientations()[1]);
    // Back to the start: the window empties and reading starts at row 1 again.
    rs->SetToBegin();
    EXPECT_EQ(0, ListLength(*rs));
    spy.Reset();
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(1, CurrentId(*rs));
    EXPECT_EQ((std::pair<ub2, sb4>(OCI_FETCH_ABSOLUTE, 1)), spy.Orientations()[0]);
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(2, CurrentId(*rs));
    EXPECT_EQ(OCI_FETCH_NEXT, spy.Orientations()[1].first);
}

TEST_F(OraScrollTest, BookmarksInsideNearAndFarFromTheWindow) {
    auto rs = Scrollable(200);
    rs->Open();
    std::vector<uint8_t> mark5(RecBookmark::Size), mark30(RecBookmark::Size);
    for (int k = 0; k < 5; ++k) rs->GetNextRecord(nullptr);
    rs->GetBookmark(mark5.data());
    for (int k = 0; k < 25; ++k) rs->GetNextRecord(nullptr);
    rs->GetBookmark(mark30.data());
    EXPECT_EQ(30, CurrentId(*rs));
    FetchSpy spy;
    // Held: no server call.
    for (int k = 0; k < 3; ++k) rs->GetPriorRecord(nullptr);
    rs->SetToBookmark(mark30.data());
    EXPECT_EQ(30, CurrentId(*rs));
    EXPECT_EQ(0, spy.Calls());
    // Just before the window (which starts at row 6): fetched backward exactly up to it.
    rs->SetToBookmark(mark5.data());
    EXPECT_EQ(5, CurrentId(*rs));
    EXPECT_EQ(1, spy.Calls());
    // Far away: the window is re-seated with one absolute fetch.
    for (int k = 0; k < 150; ++k) rs->GetNextRecord(nullptr);
    EXPECT_EQ(155, CurrentId(*rs));
    spy.Reset();
    rs->SetToBookmark(mark30.data());
    EXPECT_EQ(30, CurrentId(*rs));
    ASSERT_EQ(1, spy.Calls());
    EXPECT_EQ((std::pair<ub2, sb4>(OCI_FETCH_ABSOLUTE, 30)), spy.Orientations()[0]);
    EXPECT_EQ(1, ListLength(*rs));
    rs->GetNextRecord(nullptr);
    EXPECT_EQ(31, CurrentId(*rs));
}
