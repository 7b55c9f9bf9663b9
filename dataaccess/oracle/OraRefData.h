// Record storage that shows the object a REF points to as a single record: one hidden object field
// for the referenced type, whose child fields read and write the target's attributes.
#pragma once

#include "dataaccess/core/MemData.h"
#include "dataaccess/oracle/OraObjects.h"

namespace dac {

class TRefData : public TData {
public:
    TRefData() = default;
    ~TRefData() override;

    TOraRef* GetRef() const { return Ref; }
    // Holds one reference to value. The owner closes the storage before it changes the REF.
    void SetRef(TOraRef* value);

    void InternalPrepare() override;
    void InternalOpen(bool disableInitFields = false) override;
    void InternalInitFields() override;
    void Reopen() override;
    bool IsComplexFieldType(TDataType dataType) override;

    void GetRecord(void* recBuf) override;
    void GetNextRecord(void* recBuf) override;
    void GetPriorRecord(void* recBuf) override;
    void PutRecord(void* recBuf) override;
    void AppendRecord(void* recBuf) override;
    void InsertRecord(void* recBuf) override;
    // Marks the target updated in the object cache and writes it to the server.
    void UpdateRecord(void* recBuf) override;
    void DeleteRecord() override;

    void CreateComplexFields(void* recBuf, bool withBlob) override;
    void FreeComplexFields(void* recBuf, bool withBlob) override;
    void CopyComplexFields(void* source, void* dest, bool withBlob) override;
    void GetBookmark(void* bookmark) override;
    void SetToBookmark(const void* bookmark) override;

protected:
    TOraRef* Ref = nullptr;

private:
    // The REF has a target to show (pinned on demand).
    bool HasTarget();
    bool ValueField(TFieldDesc* f, bool withBlob);
};

}  // namespace dac
