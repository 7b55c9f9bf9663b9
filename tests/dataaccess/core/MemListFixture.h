// A record list over described columns, opened empty, with helpers that add, find, edit and
// delete rows by their first column (an integer id) and read the rows back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dataaccess/core/MemDataFixture.h"

namespace dac::test {

class ListData : public TMemData {
public:
    explicit ListData(std::vector<FieldSpec> specs) : specs_(std::move(specs)) {}
    ~ListData() override {
        try {
            Close();
        } catch (...) {
        }
    }
    void InternalInitFields() override { DescribeFieldSpecs(*this, specs_); }
    void InternalOpen(bool) override { InitFields(); }

    // A record holding values (Null leaves a field null) and fresh complex values; freed with
    // FreeRecord unless stored.
    void* NewRecord(const std::vector<rtl::Variant>& values) {
        void* rec = AllocRecBuf();
        InitRecord(rec);
        CreateComplexFields(rec, true);
        try {
            for (size_t i = 0; i < values.size(); ++i)
                if (!values[i].IsNull()) PutFieldAsVariant(static_cast<int>(i) + 1, rec, values[i]);
        } catch (...) {
            FreeRecord(rec);
            throw;
        }
        return rec;
    }
    void FreeRecord(void* rec) {
        FreeComplexFields(rec, true);
        FreeRecBuf(rec);
    }

    // Appends a row; the list takes its complex values.
    void Append(const std::vector<rtl::Variant>& values) {
        void* rec = NewRecord(values);
        try {
            AppendRecord(rec);
        } catch (...) {
            FreeRecord(rec);
            throw;
        }
        FreeRecBuf(rec);
    }

    // Makes the visible row with the id current.
    bool Goto(int id) {
        SetToBegin();
        for (GetNextRecord(nullptr); !Eof(); GetNextRecord(nullptr))
            if (Value(1).AsInteger() == id) return true;
        return false;
    }

    // Changes one field of the visible row id and posts it (blobs are written in place).
    void Edit(int id, int fieldNo, const rtl::Variant& value) {
        ASSERT_TRUE(Goto(id)) << "no row " << id;
        void* rec = AllocRecBuf();
        GetRecord(rec);
        try {
            PutFieldAsVariant(fieldNo, rec, value);
            UpdateRecord(rec);
        } catch (...) {
            FreeRecBuf(rec);
            throw;
        }
        CommitBlobs(rec);
        FreeRecBuf(rec);
    }

    void Delete(int id) {
        ASSERT_TRUE(Goto(id)) << "no row " << id;
        DeleteRecord();
    }

    // Field fieldNo of the current row (of rec when given).
    rtl::Variant Value(int fieldNo, void* rec = nullptr) {
        rtl::Variant v;
        GetFieldAsVariant(fieldNo, rec ? rec : ItemRecord(CurrentItem), v);
        return v;
    }

    // The visible rows' ids in navigation order, checking that their record numbers run
    // 1 .. RecordCount.
    std::vector<int> Ids() {
        std::vector<int> ids;
        SetToBegin();
        for (GetNextRecord(nullptr); !Eof(); GetNextRecord(nullptr)) {
            ids.push_back(Value(1).AsInteger());
            EXPECT_EQ(GetRecordNo(), static_cast<int>(ids.size())) << "record number of id " << ids.back();
        }
        EXPECT_EQ(GetRecordCount(), static_cast<int>(ids.size()));
        return ids;
    }

    // Every row's id in list order, hidden ones too.
    std::vector<int> AllIds() {
        std::vector<int> ids;
        for (PItemHeader i = FirstItem; i; i = ItemHeader::Next(i))
            ids.push_back(Value(1, ItemRecord(i)).AsInteger());
        return ids;
    }

    void CommitBlobs(void* rec) { TMemData::CommitBlobs(rec); }

private:
    std::vector<FieldSpec> specs_;
};

}  // namespace dac::test
