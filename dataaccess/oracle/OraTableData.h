// Record storage over the elements of a VARRAY or nested-table value: each element is a record,
// fetched one at a time as the dataset moves forward; edits, inserts and deletes are written
// straight into the collection. Object elements show as one hidden object field whose child
// fields are the element's attributes; scalar elements as one field.
#pragma once

#include <cstdint>

#include "dataaccess/core/MemData.h"
#include "dataaccess/oracle/OraObjects.h"

namespace dac {

class TTableData : public TMemData {
public:
    TTableData() = default;
    // Releases the collection after the base has closed.
    ~TTableData() override;

    TOraArray* Table() const { return table_; }
    // Holds one counted reference to value; the owning dataset closes before it changes it.
    void SetTable(TOraArray* value);
    // The collection's OCI status check.
    void Check(sword status);

    // Offset of the element index in a record: its last 4 bytes.
    uint16_t IndexOfs() const { return indexOfs_; }
    int32_t LastIndex() const { return lastIndex_; }
    // The element index a record buffer shows.
    int32_t RecordIndex(const void* recBuf) const;

    void InternalOpen(bool disableInitFields = false) override;
    void InternalInitFields() override;
    int GetIndicatorSize() override { return TMemData::GetIndicatorSize() + 4; }
    int GetRecordCount() override { return lastIndex_ + 1; }
    void DoApplyInsert(void* recBuf) override;
    void DoApplyDelete(void* recBuf) override;
    void DoApplyUpdate(void*) override {}
    void Reopen() override;
    void InitFields() override;
    bool IsBlobFieldType(TDataType dataType) override;
    bool IsComplexFieldType(TDataType dataType) override;
    void GetRecord(void* recBuf) override;
    void GetNextRecord(void* recBuf) override;
    // The end is the collection's last element: the elements not yet fetched are fetched first.
    void SetToEnd() override;
    void PutRecord(void* recBuf) override;
    void CancelRecord(void* recBuf) override;
    void CreateComplexFields(void* recBuf, bool withBlob) override;
    void FreeComplexFields(void* recBuf, bool withBlob) override;
    void CopyComplexFields(void* source, void* dest, bool withBlob) override;
    // Brings the next existing element into the list; false when there is none.
    bool Fetch(bool fetchBack = false) override;

private:
    TDataType ItemType();
    // The fields whose values CreateComplexFields makes (objects; blobs only when withBlob).
    bool IsValueField(TFieldDesc* field, bool withBlob);
    TOraObject* ObjectIn(TFieldDesc* field, void* recBuf) const;

    TOraArray* table_ = nullptr;
    uint16_t indexOfs_ = 0;
    int32_t lastIndex_ = -1;
};

}  // namespace dac
