// The Oracle record set's TIMESTAMP, INTERVAL, LONG and LONG RAW columns on the stand-in: in blocks,
// row by row on a scrollable cursor, and through the record storage's copy, sort and null rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

// Row id's values: a timestamp with milliseconds, intervals; every fifth row holds NULLs.
std::string Stamp(int id) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "2024-%02d-%02d %02d:%02d:%02d.%03d", id % 12 + 1, id % 28 + 1, id % 24,
                  id % 60, (id * 7) % 60, (id * 37) % 1000);
    return buf;
}

rtl::TDateTime StampValue(int id) {
    return rtl::EncodeDateTime(2024, id % 12 + 1, id % 28 + 1, id % 24, id % 60, (id * 7) % 60,
                               (id * 37) % 1000);
}

bool NullRow(int id) {
    return id % 5 == 0;
}

// The text of a LONG value of n bytes; LONG RAW values are the same bytes.
std::string LongText(int n, int seed) {
    std::string s(static_cast<size_t>(n), ' ');
    for (int i = 0; i < n; ++i) s[static_cast<size_t>(i)] = static_cast<char>('a' + (i * 7 + seed) % 26);
    return s;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

class OraRecordSetTypesTest : public OraCommandTest {
protected:
    std::unique_ptr<TOCIRecordSet> RecordSet(const AnsiString& sql, bool scrollable, int fetchRows = 25) {
        auto rs = std::make_unique<TOCIRecordSet>();
        rs->SetConnection(conn_.get());
        rs->SetSQLText(sql);
        rs->SetProp(prFetchRows, fetchRows);
        if (scrollable) rs->OraCommand()->SetProp(prScrollableCursor, true);
        return rs;
    }

    void FillTimes(int rows) {
        dbExec(
            "CREATE TABLE t(id NUMBER(9,0) PRIMARY KEY, ts TIMESTAMP(3), ym INTERVAL YEAR MONTH, "
            "ds INTERVAL DAY SECOND(3));");
        std::string sql = "BEGIN;";
        for (int id = 1; id <= rows; ++id) {
            if (NullRow(id)) {
                sql += "INSERT INTO t VALUES (" + std::to_string(id) + ", NULL, NULL, NULL);";
                continue;
            }
            sql += "INSERT INTO t VALUES (" + std::to_string(id) + ", '" + Stamp(id) + "', '" +
                   std::to_string(id % 9) + "-" + std::to_string(id % 12) + "', '" + std::to_string(id % 30) +
                   " 0" + std::to_string(id % 10) + ":00:00.500');";
        }
        dbExec(sql + "COMMIT;");
    }

    struct TimeRow {
        int id;
        bool tsNull;
        double ts;
        std::string ym, ds;
    };

    static TimeRow ReadTimes(TOCIRecordSet& rs) {
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        rs.GetRecord(rec.data());
        TimeRow row{};
        rtl::Variant v;
        rs.GetFieldAsVariant(1, rec.data(), v);
        row.id = v.AsInteger();
        row.tsNull = rs.GetNull(2, rec.data());
        rs.GetFieldAsVariant(2, rec.data(), v);
        row.ts = v.IsNull() ? 0 : v.AsDouble();
        rs.GetFieldAsVariant(3, rec.data(), v);
        row.ym = v.IsNull() ? "<null>" : std::string(v.AsString());
        rs.GetFieldAsVariant(4, rec.data(), v);
        row.ds = v.IsNull() ? "<null>" : std::string(v.AsString());
        return row;
    }

    static void ExpectTimes(const TimeRow& row) {
        SCOPED_TRACE("row " + std::to_string(row.id));
        if (NullRow(row.id)) {
            EXPECT_TRUE(row.tsNull);
            EXPECT_EQ("<null>", row.ym);
            EXPECT_EQ("<null>", row.ds);
            return;
        }
        EXPECT_FALSE(row.tsNull);
        EXPECT_NEAR(StampValue(row.id), row.ts, 0.5 / 86400000.0);
        char ym[16], ds[32];
        std::snprintf(ym, sizeof ym, "+%02d-%02d", row.id % 9, row.id % 12);
        std::snprintf(ds, sizeof ds, "+%02d %02d:00:00.500000", row.id % 30, row.id % 10);
        EXPECT_EQ(ym, row.ym);
        EXPECT_EQ(ds, row.ds);
    }
};

// Forward in blocks of 7 (so rows move from the stage into several blocks) and row by row on a
// scrollable cursor: every row keeps its own values, nulls included.
TEST_F(OraRecordSetTypesTest, TimestampsAndIntervalsReadForwardInBlocksAndRowByRow) {
    FillTimes(30);
    for (bool scrollable : {false, true}) {
        SCOPED_TRACE(scrollable ? "scrollable" : "blocks");
        auto rs = RecordSet("select id, ts, ym, ds from t order by id", scrollable, 7);
        rs->Open();
        ASSERT_EQ(4, rs->GetFieldCount());
        EXPECT_EQ(dtTimeStamp, rs->Fields()[1]->DataType);
        EXPECT_EQ(dtIntervalYM, rs->Fields()[2]->DataType);
        EXPECT_EQ(dtIntervalDS, rs->Fields()[3]->DataType);
        EXPECT_EQ(scrollable, rs->PieceFetch());
        int n = 0;
        while (true) {
            rs->GetNextRecord(nullptr);
            if (rs->Eof()) break;
            TimeRow row = ReadTimes(*rs);
            EXPECT_EQ(++n, row.id);
            ExpectTimes(row);
        }
        EXPECT_EQ(30, n);
        rs->Close();
    }
}

// Going to the end of a scrollable cursor positions it with one fetch into cells of the record
// set's own (the rows whose objects took the last fetch are gone by then), then reads back row
// by row.
TEST_F(OraRecordSetTypesTest, AScrollableCursorGoesToItsEndAndReadsTimesBackwards) {
    FillTimes(41);  // the last row holds values
    auto rs = RecordSet("select id, ts, ym, ds from t order by id", true);
    rs->Open();
    for (int i = 0; i < 29; ++i) rs->GetNextRecord(nullptr);
    EXPECT_EQ(29, ReadTimes(*rs).id);  // a row with values took the latest fetch
    rs->SetToBegin();                  // drops the window, and with it every row's value objects
    rs->SetToEnd();
    std::vector<int> ids;
    while (true) {
        rs->GetPriorRecord(nullptr);
        if (rs->Bof()) break;
        TimeRow row = ReadTimes(*rs);
        ids.push_back(row.id);
        ExpectTimes(row);
    }
    ASSERT_EQ(41u, ids.size());
    EXPECT_EQ(41, ids.front());
    EXPECT_EQ(1, ids.back());
}

// Copies own their values; sorting puts null timestamps first; setting null reaches the object.
TEST_F(OraRecordSetTypesTest, CopiesSortingAndNullsOfTimeValues) {
    FillTimes(10);
    auto rs = RecordSet("select id, ts, ym, ds from t", false);
    rs->SetProp(prIndexFieldNames, AnsiString("TS DESC"));
    rs->Open();
    rs->SortItems();
    std::vector<int> ids;
    while (true) {
        rs->GetNextRecord(nullptr);
        if (rs->Eof()) break;
        ids.push_back(ReadTimes(*rs).id);
    }
    // descending: the latest stamp first, the two nulls (5, 10) last
    std::vector<int> expected{1, 2, 3, 4, 6, 7, 8, 9};
    std::sort(expected.begin(), expected.end(), [](int a, int b) { return StampValue(a) > StampValue(b); });
    expected.push_back(5);
    expected.push_back(10);
    std::vector<int> tail(ids.end() - 2, ids.end());
    std::sort(tail.begin(), tail.end());
    std::copy(tail.begin(), tail.end(), ids.end() - 2);
    EXPECT_EQ(expected, ids);

    rs->SetToBegin();
    rs->GetNextRecord(nullptr);
    std::vector<uint8_t> a(static_cast<size_t>(rs->RecordSize())), b(a.size());
    rs->GetRecord(a.data());
    rs->CreateComplexFields(b.data(), false);
    rs->CopyComplexFields(a.data(), b.data(), false);
    std::memcpy(b.data() + rs->DataAreaSize(), a.data() + rs->DataAreaSize(), a.size() - rs->DataAreaSize());
    rs->SetNull(2, a.data(), true);
    rs->SetNull(4, a.data(), true);
    rtl::Variant v;
    rs->GetFieldAsVariant(2, a.data(), v);
    EXPECT_TRUE(v.IsNull());
    rs->GetFieldAsVariant(2, b.data(), v);
    EXPECT_NEAR(StampValue(ids.front()), v.AsDouble(), 0.5 / 86400000.0);
    rs->GetFieldAsVariant(4, b.data(), v);
    EXPECT_FALSE(v.IsNull());
    rs->FreeComplexFields(b.data(), false);
}

// With SQL timestamps the record holds the 16-byte form, milliseconds kept.
TEST_F(OraRecordSetTypesTest, SQLTimeStampsLandInTheRecord) {
    FillTimes(8);
    conn_->SetProp(prUseSQLTimeStamp, true);
    for (bool scrollable : {false, true}) {
        auto rs = RecordSet("select id, ts from t order by id", scrollable, 3);
        rs->Open();
        ASSERT_EQ(dtSQLTimeStamp, rs->Fields()[1]->DataType);
        std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
        for (int id = 1; id <= 8; ++id) {
            rs->GetNextRecord(rec.data());
            ASSERT_FALSE(rs->Eof());
            rtl::TSQLTimeStamp ts{};
            std::memcpy(&ts, rec.data() + rs->Fields()[1]->Offset, sizeof ts);
            if (NullRow(id)) {
                EXPECT_TRUE(rs->GetNull(2, rec.data())) << id;
                continue;
            }
            EXPECT_EQ(2024, ts.Year) << id;
            EXPECT_EQ(id % 12 + 1, ts.Month) << id;
            EXPECT_EQ(id % 28 + 1, ts.Day) << id;
            EXPECT_EQ((id * 7) % 60, ts.Second) << id;
            EXPECT_EQ(static_cast<uint32_t>((id * 37) % 1000), ts.Fractions) << id;
        }
        rs->Close();
    }
}

// ---------------------------------------------------------------------------------------------
// LONG and LONG RAW

class OraRecordSetLongTest : public OraRecordSetTypesTest {
protected:
    void SetUp() override {
        OraRecordSetTypesTest::SetUp();
        dbExec("CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body LONG, bin LONG RAW);");
        std::string sql = "BEGIN;";
        for (size_t k = 0; k < sizes_.size(); ++k) {
            const int id = static_cast<int>(k) + 1;
            const std::string text = LongText(sizes_[k], id);
            sql += "INSERT INTO doc VALUES (" + std::to_string(id) + ", " +
                   (text.empty() ? std::string("NULL") : "'" + text + "'") + ", " +
                   (text.empty() ? std::string("NULL") : "x'" + Hex(text) + "'") + ");";
        }
        dbExec(sql + "COMMIT;");
    }

    static std::string BlobContent(TOCIRecordSet& rs, void* rec, int fieldNo, int* pieces, bool* trimmed) {
        TBlob* blob = rs.GetBlob(fieldNo, rec);
        if (!blob) return "<no blob>";
        *pieces = 0;
        *trimmed = true;
        for (PPieceHeader p = blob->FirstPiece(); p; p = PieceHeader::Next(p)) {
            ++*pieces;
            if (PieceHeader::Capacity(p) != PieceHeader::Used(p)) *trimmed = false;
        }
        std::string s(static_cast<size_t>(blob->GetSize()), '\0');
        if (!s.empty()) blob->Read(0, static_cast<int64_t>(s.size()), s.data());
        return s;
    }

    // Empty (NULL), short, around the blob's piece size and several pieces long.
    std::vector<int> sizes_{0,    1,     17, DefaultPieceSize - 1, DefaultPieceSize, DefaultPieceSize + 1,
                            3000, 200000};
};

TEST_F(OraRecordSetLongTest, LongValuesArriveWholeInBlocksAndRowByRow) {
    for (bool scrollable : {false, true}) {
        SCOPED_TRACE(scrollable ? "scrollable" : "blocks");
        auto rs = RecordSet("select id, body, bin from doc order by id", scrollable, 3);
        rs->Open();
        ASSERT_EQ(3, rs->GetFieldCount());
        EXPECT_EQ(dtMemo, rs->Fields()[1]->DataType);
        EXPECT_EQ(dtBlob, rs->Fields()[2]->DataType);
        std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
        for (size_t k = 0; k < sizes_.size(); ++k) {
            rs->GetNextRecord(nullptr);
            ASSERT_FALSE(rs->Eof()) << k;
            rs->GetRecord(rec.data());
            const std::string expected = LongText(sizes_[k], static_cast<int>(k) + 1);
            for (int fieldNo : {2, 3}) {
                SCOPED_TRACE("size " + std::to_string(sizes_[k]) + " field " + std::to_string(fieldNo));
                int pieces = 0;
                bool trimmed = false;
                EXPECT_TRUE(BlobContent(*rs, rec.data(), fieldNo, &pieces, &trimmed) == expected);
                EXPECT_TRUE(trimmed);  // no piece keeps room it did not use
                EXPECT_EQ((sizes_[k] + DefaultPieceSize - 1) / DefaultPieceSize, pieces);
                EXPECT_EQ(expected.empty(), rs->GetNull(fieldNo, rec.data()));
            }
            rtl::Variant v;
            rs->GetFieldAsVariant(2, rec.data(), v);
            if (!expected.empty()) {
                EXPECT_TRUE(std::string(v.AsString()) == expected);
            }
        }
        rs->GetNextRecord(nullptr);
        EXPECT_TRUE(rs->Eof());
        rs->Close();
    }
}

// Scrolling back over LONG rows fetches them again, whole; the positioning fetch at the end
// drops its LONG pieces.
TEST_F(OraRecordSetLongTest, AScrollableCursorReadsLongRowsBackwards) {
    auto rs = RecordSet("select id, body from doc order by id", true, 3);
    rs->Open();
    rs->SetToEnd();
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    for (int k = static_cast<int>(sizes_.size()) - 1; k >= 0; --k) {
        rs->GetPriorRecord(nullptr);
        ASSERT_FALSE(rs->Bof()) << k;
        rs->GetRecord(rec.data());
        int pieces = 0;
        bool trimmed = false;
        EXPECT_TRUE(BlobContent(*rs, rec.data(), 2, &pieces, &trimmed) ==
                    LongText(sizes_[static_cast<size_t>(k)], k + 1))
            << k;
    }
}

// Describing fills the statement's tables from its text: names and aliases, compared exactly.
TEST_F(OraRecordSetTypesTest, DescribingNamesTheTablesOfTheStatement) {
    FillTimes(2);
    dbExec("CREATE TABLE owner_names(id NUMBER(9,0), name VARCHAR2(20));");
    auto rs = RecordSet("select t.id, o.name from t, owner_names o where o.id = t.id", false);
    rs->Open();
    TCRTablesInfo& tables = rs->TablesInfo();
    ASSERT_EQ(2, tables.Count());
    EXPECT_EQ("T", tables[0]->TableName());
    EXPECT_EQ("OWNER_NAMES", tables[1]->TableName());
    EXPECT_EQ("O", tables[1]->TableAlias());
    EXPECT_TRUE(tables.CaseSensitive());
    EXPECT_EQ(1, tables.IndexByName("OWNER_NAMES"));
    EXPECT_EQ(-1, tables.IndexByName("owner_names"));
    rs->Close();
    // A block names no table.
    auto block = RecordSet("begin null; end;", false);
    block->Prepare();
    EXPECT_EQ(0, block->TablesInfo().Count());
}
