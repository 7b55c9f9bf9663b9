// The Oracle record set in non-blocking mode: the open and the fetch-all on workers, their
// completions on the owning thread, and closing or destroying the record set while they run.
// These tests also run under ThreadSanitizer (scripts/tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

// Catches what message handlers raise on this thread.
class RaisedErrors {
public:
    RaisedErrors() {
        rtl::SetApplicationExceptionHandler([this](std::exception_ptr e) { errors_.push_back(e); });
    }
    ~RaisedErrors() { rtl::SetApplicationExceptionHandler(nullptr); }
    size_t Count() const { return errors_.size(); }
    int32_t OraCode(size_t k) const {
        try {
            std::rethrow_exception(errors_.at(k));
        } catch (const EOraError& e) {
            return e.ErrorCode;
        } catch (...) {
            return -1;
        }
    }

private:
    std::vector<std::exception_ptr> errors_;
};

bool PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        rtl::WaitAndProcessMessages(10);
    }
    return true;
}

// Holds a worker in its before-fetch hook from the given fetch on until opened.
class Gate {
public:
    explicit Gate(int holdFrom) : holdFrom_(holdFrom) {}
    void Pass() {
        std::unique_lock<std::mutex> lock(m_);
        if (++fetches_ < holdFrom_) return;
        held_ = true;
        cv_.notify_all();
        cv_.wait(lock, [&] { return open_; });
    }
    void WaitHeld() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return held_; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    const int holdFrom_;
    int fetches_ = 0;
    bool held_ = false, open_ = false;
};

}  // namespace

class OraNonBlockingRecordSetTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        std::string sql = "CREATE TABLE n(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20)); BEGIN;";
        for (int i = 1; i <= 60; ++i)
            sql += "INSERT INTO n VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) + "');";
        dbExec(sql + "COMMIT;");
    }

    std::unique_ptr<TOCIRecordSet> RecordSet(bool fetchAll) {
        auto rs = std::make_unique<TOCIRecordSet>();
        rs->SetConnection(conn_.get());
        rs->SetSQLText("select id, name from n order by id");
        rs->OraCommand()->SetProp(prNonBlocking, true);
        rs->SetProp(prFetchAll, fetchAll);
        rs->OnAfterExecute = [this](bool ok) { executed_.push_back(ok); };
        rs->OnAfterFetchAll = [this](bool ok) { fetchedAll_.push_back(ok); };
        return rs;
    }

    static std::vector<int> Ids(TOCIRecordSet& rs) {
        std::vector<int> ids;
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        rs.SetToBegin();
        while (true) {
            rs.GetNextRecord(rec.data());
            if (rs.Eof()) break;
            rtl::Variant v;
            rs.GetFieldAsVariant(1, rec.data(), v);
            ids.push_back(v.AsInteger());
        }
        return ids;
    }

    static std::vector<int> Range(int from, int to) {
        std::vector<int> v;
        for (int i = from; i <= to; ++i) v.push_back(i);
        return v;
    }

    std::vector<bool> executed_, fetchedAll_;
};

TEST_F(OraNonBlockingRecordSetTest, TheOpenRunsOnAWorkerWithItsFirstBlockAndEndsHere) {
    auto rs = RecordSet(false);
    const uint32_t owner = rtl::GetCurrentThreadId();
    std::atomic<uint32_t> afterFetchThread{0};
    rs->OnAfterFetch = [&] { afterFetchThread = rtl::GetCurrentThreadId(); };
    rs->Open();
    EXPECT_TRUE(rs->ExecThreadRunning());
    EXPECT_EQ(2, rs->GetFieldCount());  // described before the worker started
    ASSERT_TRUE(PumpUntil([&] { return !rs->ExecThreadRunning(); }));
    EXPECT_EQ(std::vector<bool>{true}, executed_);
    EXPECT_EQ(25, rs->GetRecordCount());  // the worker fetched the first block
    ASSERT_TRUE(PumpUntil([&] { return afterFetchThread != 0; }));
    EXPECT_EQ(owner, afterFetchThread.load());  // posted from the worker, run here
    EXPECT_EQ(Range(1, 60), Ids(*rs));          // the rest comes on this thread
    EXPECT_TRUE(fetchedAll_.empty());
}

TEST_F(OraNonBlockingRecordSetTest, AFetchAllRunsOnItsOwnWorkerAndItsCompletionRunsOnce) {
    auto rs = RecordSet(true);
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return !rs->ExecThreadRunning() && !rs->FetchThreadRunning(); }));
    EXPECT_EQ(std::vector<bool>{true}, executed_);
    EXPECT_EQ(std::vector<bool>{true}, fetchedAll_);
    EXPECT_EQ(60, rs->GetRecordCount());
    EXPECT_EQ(csFetched, rs->OraCommand()->GetCursorState());
    EXPECT_EQ(Range(1, 60), Ids(*rs));
    rs->Close();
    for (int i = 0; i < 5; ++i) rtl::WaitAndProcessMessages(5);
    EXPECT_EQ(1u, fetchedAll_.size());
}

TEST_F(OraNonBlockingRecordSetTest, AReaderAtTheLastRowWaitsForTheNextBlock) {
    auto rs = RecordSet(true);
    Gate gate(2);  // the worker holds before its second block
    rs->OnBeforeFetch = [&](bool&) { gate.Pass(); };
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return rs->FetchThreadRunning(); }));
    gate.WaitHeld();
    EXPECT_EQ(25, rs->GetRecordCount());
    std::atomic<bool> opened{false};
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        opened = true;
        gate.Open();
    });
    // Stepping onto the last row in memory asks Eof, which waits for the worker instead of
    // saying "end"; the worker goes on only when the gate opens.
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    for (int i = 0; i < 25; ++i) rs->GetNextRecord(rec.data());
    EXPECT_TRUE(opened.load());
    EXPECT_FALSE(rs->Eof());
    rs->GetNextRecord(rec.data());
    rtl::Variant v;
    rs->GetFieldAsVariant(1, rec.data(), v);
    EXPECT_EQ(26, v.AsInteger());
    opener.join();
    ASSERT_TRUE(PumpUntil([&] { return !rs->FetchThreadRunning(); }));
    EXPECT_EQ(Range(1, 60), Ids(*rs));
}

TEST_F(OraNonBlockingRecordSetTest, ClosingDuringAFetchAllJoinsTheWorkerAndRunsItsCompletionFirst) {
    auto rs = RecordSet(true);
    Gate gate(2);
    rs->OnBeforeFetch = [&](bool&) { gate.Pass(); };
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return rs->FetchThreadRunning(); }));
    gate.WaitHeld();
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gate.Open();
    });
    rs->Close();  // returns only after the worker ended and its completion ran
    opener.join();
    EXPECT_EQ(std::vector<bool>{true}, fetchedAll_);
    EXPECT_FALSE(rs->FetchThreadRunning());
    EXPECT_FALSE(rs->Active());
    // Nothing of the fetch-all is left in the queue for the closed record set.
    for (int i = 0; i < 5; ++i) rtl::WaitAndProcessMessages(5);
    EXPECT_EQ(1u, fetchedAll_.size());
    // The record set opens again as new.
    rs->OnBeforeFetch = nullptr;
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return fetchedAll_.size() == 2; }));
    EXPECT_EQ(Range(1, 60), Ids(*rs));
}

TEST_F(OraNonBlockingRecordSetTest, ClosingDuringTheOpenRunsTheOpensCompletionAndStartsNoFetchAll) {
    auto rs = RecordSet(true);
    Gate gate(1);  // the worker of the open holds at its first fetch
    rs->OnBeforeFetch = [&](bool&) { gate.Pass(); };
    rs->SetProp(prFetchAll, false);
    rs->Open();
    gate.WaitHeld();
    rs->SetProp(prFetchAll, true);
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gate.Open();
    });
    rs->Close();
    opener.join();
    EXPECT_EQ(std::vector<bool>{true}, executed_);
    EXPECT_TRUE(fetchedAll_.empty());
    EXPECT_FALSE(rs->ExecThreadRunning());
    EXPECT_FALSE(rs->FetchThreadRunning());
}

TEST_F(OraNonBlockingRecordSetTest, ADestroyedRecordSetRunsNoCompletion) {
    auto rs = RecordSet(true);
    Gate gate(2);
    rs->OnBeforeFetch = [&](bool&) { gate.Pass(); };
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return rs->FetchThreadRunning(); }));
    gate.WaitHeld();
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        gate.Open();
    });
    rs.reset();
    opener.join();
    for (int i = 0; i < 5; ++i) rtl::WaitAndProcessMessages(5);
    EXPECT_TRUE(fetchedAll_.empty());
    EXPECT_EQ(std::vector<bool>{true}, executed_);
}

TEST_F(OraNonBlockingRecordSetTest, AnErrorOfTheFetchAllReachesItsCompletionThenThisThread) {
    RaisedErrors raised;
    auto rs = RecordSet(true);
    Gate gate(2);
    rs->OnBeforeFetch = [&](bool&) { gate.Pass(); };
    rs->Open();
    ASSERT_TRUE(PumpUntil([&] { return rs->FetchThreadRunning(); }));
    gate.WaitHeld();
    // The server goes away before the worker's next fetch.
    dbExec("INSERT INTO oci_fault(kind, times) VALUES ('LOST_CONNECTION', 1);");
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return !fetchedAll_.empty() && raised.Count() == 1; }));
    EXPECT_EQ(std::vector<bool>{false}, fetchedAll_);
    EXPECT_EQ(3113, raised.OraCode(0));
    EXPECT_FALSE(rs->FetchThreadRunning());
    EXPECT_EQ(csInactive, rs->OraCommand()->GetCursorState());
}

TEST_F(OraNonBlockingRecordSetTest, AFilterSetDuringTheOpenIsAppliedByItsCompletion) {
    auto rs = RecordSet(false);
    Gate gate(1);
    rs->OnBeforeFetch = [&](bool&) { gate.Pass(); };
    int changed = 0;
    rs->OnDataChanged = [&] { ++changed; };
    rs->Open();
    gate.WaitHeld();
    rs->SetFilterText("id > 20");
    EXPECT_EQ("", rs->FilterText());  // kept aside while the worker runs
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return !rs->ExecThreadRunning(); }));
    EXPECT_EQ("id > 20", rs->FilterText());
    EXPECT_EQ(1, changed);
    rs->OnBeforeFetch = nullptr;
    EXPECT_EQ(Range(21, 60), Ids(*rs));
}

TEST_F(OraNonBlockingRecordSetTest, ASessionThatIsNotThreadSafeRefusesTheOpen) {
    conn_->SetProp(prThreadSafety, false);
    auto rs = RecordSet(false);
    try {
        rs->Open();
        FAIL() << "opened";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ("Session must be Thread Safety", e.Message());
    }
    EXPECT_FALSE(rs->ExecThreadRunning());
}
