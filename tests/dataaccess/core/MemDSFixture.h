// A dataset over the test driver, made the way the data-access components make theirs: a
// TMemDataSet descendant whose constructor creates a driver record set. An updater that counts
// what it is asked to perform, and helpers that read the rows back.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dataaccess/core/MemDS.h"
#include "tests/dataaccess/core/FakeDriver.h"

namespace dac::test {

using Column = fake::FakeCommand::Column;
using Row = std::vector<rtl::Variant>;

// Counts the changes the dataset hands over; can be told to fail or to batch them.
class CountingUpdater : public TDataSetUpdater {
public:
    using TDataSetUpdater::TDataSetUpdater;

    bool PerformInsert() override { return Perform(Inserts); }
    bool PerformDelete() override { return Perform(Deletes); }
    bool PerformUpdate() override { return Perform(Updates); }
    bool PerformRevertRecord() override { return ++Reverts, true; }
    bool PerformAfterApplyUpdates() override { return ++AfterApplies, true; }
    bool PerformCancelUpdates() override { return ++Cancels, true; }
    bool BatchUpdate() override { return BatchSize > 0; }
    bool BatchFull() override { return Queued >= BatchSize; }
    void FlushBatch() override {
        ++Flushes;
        Queued = 0;
    }

    int Inserts = 0, Deletes = 0, Updates = 0, Reverts = 0, AfterApplies = 0, Cancels = 0, Flushes = 0;
    int BatchSize = 0;
    int Queued = 0;
    // Raised by the next perform operation when set.
    std::string FailWith;
    // Runs inside each perform operation (it may read the fields).
    std::function<void()> OnPerform;

private:
    bool Perform(int& counter) {
        ++counter;
        ++Queued;
        if (OnPerform) OnPerform();
        if (!FailWith.empty()) {
            std::string message = FailWith;
            FailWith.clear();
            throw rtl::EDatabaseError(message);
        }
        return true;
    }
};

class CountingService : public TDataSetService {
public:
    using TDataSetService::TDataSetService;
    void MakeUpdater() override { ReplaceUpdater(new CountingUpdater(this)); }
};

class FakeDataSet : public TMemDataSet {
public:
    explicit FakeDataSet(rtl::TComponent* owner = nullptr) : TMemDataSet(owner) { CreateIRecordSet(); }
    ~FakeDataSet() override {
        try {
            Close();
        } catch (...) {
        }
    }

    void CreateIRecordSet() override { SetIRecordSet(new fake::FakeRecordSet()); }
    TDataSetServiceClass GetDataSetServiceClass() override {
        return TDataSetServiceClass::Of<CountingService>();
    }
    bool GetCanModify() const override { return !ReadOnlyData; }

    fake::FakeRecordSet& RecordSet() { return *static_cast<fake::FakeRecordSet*>(GetIRecordSet()); }
    fake::FakeCommand& Command() { return RecordSet().Command(); }
    CountingUpdater& Updater() {
        CheckDataSetService();
        return *static_cast<CountingUpdater*>(GetDataSetService()->Updater());
    }

    void SetData(std::vector<Column> columns, std::vector<Row> rows) {
        Command().Columns = std::move(columns);
        Command().Rows = std::move(rows);
    }

    // Framework operations the tests call directly.
    db::TGetResult FetchInto(db::TRecordBuffer buffer, db::TGetMode mode) {
        return GetRecord(buffer, mode, true);
    }
    void InitDefs() { InitFieldDefs(); }
    db::TRecordBuffer ActiveBuf() { return ActiveBuffer(); }

    bool ReadOnlyData = false;
};

// The values of one field over every visible row, from the first; the position is restored.
inline std::vector<std::string> ColumnValues(db::TDataSet& ds, const std::string& name) {
    std::vector<std::string> values;
    db::TBookmark bm = ds.GetBookmark();
    for (ds.First(); !ds.Eof(); ds.Next()) {
        db::TField* f = ds.FieldByName(name);
        values.push_back(f->IsNull() ? "~" : f->AsString());
    }
    if (!bm.empty()) ds.GotoBookmark(bm);
    return values;
}

inline std::vector<std::string> Strings(std::initializer_list<const char*> items) {
    return std::vector<std::string>(items.begin(), items.end());
}

}  // namespace dac::test
