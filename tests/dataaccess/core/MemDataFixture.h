// A record storage over a described list of columns, holding one stored record.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "dataaccess/core/MemData.h"

namespace dac::test {

struct FieldSpec {
    const char* name;
    TDataType dataType;
    int length = 0;
    uint8_t kind = 0;
    bool fixed = false;
    int scale = 0;
};

// Descriptors of the specs, appended to data's descriptor list.
inline void DescribeFieldSpecs(TData& data, const std::vector<FieldSpec>& specs) {
    for (const FieldSpec& s : specs) {
        auto* d = new TFieldDesc();
        d->Name = s.name;
        d->ActualName = s.name;
        d->DataType = s.dataType;
        d->Length = static_cast<uint16_t>(s.length);
        d->Size = DataTypeSize(s.dataType, s.length);
        d->Kind = s.kind;
        d->Fixed = s.fixed;
        d->Scale = static_cast<uint16_t>(s.scale);
        d->FieldNo = static_cast<uint16_t>(data.Fields().Count() + 1);
        data.Fields().Add(d);
    }
}

class TestData : public TMemData {
public:
    explicit TestData(std::vector<FieldSpec> specs) : specs_(std::move(specs)) {}
    ~TestData() override {
        if (!stored_.empty() && storedHasReferences_) FreeComplexFields(stored_.data(), true);
    }

    void InternalInitFields() override { DescribeFieldSpecs(*this, specs_); }
    bool NeedConvertEOL() override { return convertEOL; }

    // One stored record: the in-memory list of a storage, reduced to what editing needs.
    void Store(const void* recBuf) {
        stored_.assign(static_cast<const uint8_t*>(recBuf),
                       static_cast<const uint8_t*>(recBuf) + RecordSize());
        storedHasReferences_ = true;
    }
    void* Stored() { return stored_.data(); }
    void GetRecord(void* recBuf) override { std::memcpy(recBuf, stored_.data(), stored_.size()); }
    void PutRecord(void* recBuf) override { std::memcpy(stored_.data(), recBuf, stored_.size()); }
    void UpdateRecord(void* recBuf) override { PutRecord(recBuf); }

    bool convertEOL = false;

private:
    std::vector<FieldSpec> specs_;
    std::vector<uint8_t> stored_;
    bool storedHasReferences_ = false;
};

// A storage described and ready; buffers it hands out are freed with it.
struct Storage {
    explicit Storage(std::vector<FieldSpec> specs) : data(std::make_unique<TestData>(std::move(specs))) {
        data->InitFields();
    }
    ~Storage() {
        for (void* b : owned) data->FreeComplexFields(b, true);
        for (void* b : buffers) data->FreeRecBuf(b);
    }
    // The references of b now belong to someone else (the stored record).
    void Disown(void* b) { std::erase(owned, b); }
    // A new record: nulls and fresh references, released with the storage.
    void* NewRecord(bool withBlob = true) {
        void* b = data->AllocRecBuf();
        buffers.push_back(b);
        data->InitRecord(b);
        data->CreateComplexFields(b, withBlob);
        owned.push_back(b);
        return b;
    }
    void* RawBuffer() {
        void* b = data->AllocRecBuf();
        buffers.push_back(b);
        return b;
    }
    std::unique_ptr<TestData> data;
    std::vector<void*> buffers;
    std::vector<void*> owned;
};

}  // namespace dac::test
