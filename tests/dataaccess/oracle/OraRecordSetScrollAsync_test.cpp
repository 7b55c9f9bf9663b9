// A scrollable cursor in non-blocking mode: the open's first row and a fetch-all run on workers
// while the window of rows moves on this thread. These tests also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

bool PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        rtl::WaitAndProcessMessages(10);
    }
    return true;
}

}  // namespace

class OraScrollAsyncTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        std::string sql = "CREATE TABLE n(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20)); BEGIN;";
        for (int i = 1; i <= kRows; ++i)
            sql += "INSERT INTO n VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) + "');";
        dbExec(sql + "COMMIT;");
    }

    std::unique_ptr<TOCIRecordSet> RecordSet(bool fetchAll) {
        auto rs = std::make_unique<TOCIRecordSet>();
        rs->SetConnection(conn_.get());
        rs->SetSQLText("select id, name from n order by id");
        rs->OraCommand()->SetProp(prNonBlocking, true);
        rs->OraCommand()->SetProp(prScrollableCursor, true);
        rs->SetProp(prFetchAll, fetchAll);
        rs->OnAfterExecute = [this](bool ok) { executed_.push_back(ok); };
        rs->OnAfterFetchAll = [this](bool ok) { fetchedAll_.push_back(ok); };
        return rs;
    }

    static int CurrentId(TOCIRecordSet& rs) {
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        rs.GetRecord(rec.data());
        rtl::Variant v;
        rs.GetFieldAsVariant(1, rec.data(), v);
        return v.AsInteger();
    }

    static std::vector<int> Forward(TOCIRecordSet& rs) {
        std::vector<int> ids;
        while (true) {
            rs.GetNextRecord(nullptr);
            if (rs.Eof()) break;
            ids.push_back(CurrentId(rs));
        }
        return ids;
    }

    static std::vector<int> Backward(TOCIRecordSet& rs) {
        std::vector<int> ids;
        while (true) {
            rs.GetPriorRecord(nullptr);
            if (rs.Bof()) break;
            ids.push_back(CurrentId(rs));
        }
        return ids;
    }

    static std::vector<int> Range(int from, int to) {
        std::vector<int> v;
        for (int i = from; from <= to ? i <= to : i >= to; from <= to ? ++i : --i) v.push_back(i);
        return v;
    }

    static int Held(TOCIRecordSet& rs) {
        int n = 0;
        for (PItemHeader i = rs.FirstItem; i; i = ItemHeader::Next(i)) ++n;
        return n;
    }

    static constexpr int kRows = 60;
    std::vector<bool> executed_, fetchedAll_;
};

// The worker's open brings the first row; the window then moves here in both directions and never
// holds more than FetchRows rows.
TEST_F(OraScrollAsyncTest, TheOpenOnAWorkerThenTheWindowMovesBothWays) {
    auto rs = RecordSet(false);
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return !rs->ExecThreadRunning(); }));
    EXPECT_EQ(std::vector<bool>{true}, executed_);
    ASSERT_TRUE(rs->CanFetchBack());
    EXPECT_TRUE(rs->PieceFetch());
    EXPECT_EQ(1, Held(*rs));  // row by row: the open's fetch is one row
    EXPECT_EQ(Range(1, kRows), Forward(*rs));
    EXPECT_LE(Held(*rs), 25);
    EXPECT_EQ(Range(kRows, 1), Backward(*rs));
    EXPECT_LE(Held(*rs), 25);
    rs->SetToEnd();
    EXPECT_EQ(Range(kRows, 1), Backward(*rs));
    EXPECT_TRUE(fetchedAll_.empty());
    rs->Close();
}

// A fetch-all of a scrollable cursor only finds its end on the worker; every row stays reachable
// from here afterwards, and its completion runs once.
TEST_F(OraScrollAsyncTest, AFetchAllOnAWorkerFindsTheEndAndEveryRowStaysReachable) {
    auto rs = RecordSet(true);
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return !rs->ExecThreadRunning() && !rs->FetchThreadRunning(); }));
    EXPECT_EQ(std::vector<bool>{true}, executed_);
    EXPECT_EQ(std::vector<bool>{true}, fetchedAll_);
    EXPECT_TRUE(rs->EndReached());
    EXPECT_LE(Held(*rs), 25);
    rs->SetToEnd();
    EXPECT_EQ(Range(kRows, 1), Backward(*rs));
    rs->SetToBegin();
    EXPECT_EQ(Range(1, kRows), Forward(*rs));
    rs->Close();
    EXPECT_EQ(1u, fetchedAll_.size());
}

// Closing while the worker still runs joins it and runs its completion before the rows go.
TEST_F(OraScrollAsyncTest, ClosingRightAfterTheOpenJoinsTheWorkers) {
    for (bool fetchAll : {false, true}) {
        executed_.clear();
        fetchedAll_.clear();
        auto rs = RecordSet(fetchAll);
        rs->Open();
        rs->Close();
        EXPECT_FALSE(rs->ExecThreadRunning());
        EXPECT_FALSE(rs->FetchThreadRunning());
        EXPECT_EQ(1u, executed_.size()) << fetchAll;
        EXPECT_LE(fetchedAll_.size(), 1u) << fetchAll;
        // A completion never comes after the close.
        const size_t after = fetchedAll_.size();
        for (int i = 0; i < 5; ++i) rtl::WaitAndProcessMessages(10);
        EXPECT_EQ(after, fetchedAll_.size());
        rs->Open();
        ASSERT_TRUE(PumpUntil([&] { return !rs->ExecThreadRunning() && !rs->FetchThreadRunning(); }));
        rs->SetToBegin();
        EXPECT_EQ(Range(1, kRows), Forward(*rs)) << fetchAll;
        rs->Close();
    }
}
