// TOraNestedTable: the elements of an Oracle collection (a nested table or VARRAY) as a dataset
// of their own, either bound to a collection value directly or as the detail of a dataset field
// of a parent dataset, following the parent's current row. No SQL runs: the records are the
// collection's elements (TTableData), and changes go into the collection, which the parent
// writes to the server when it posts.
#pragma once

#include "dataaccess/components/OraFields.h"
#include "dataaccess/core/MemDS.h"
#include "dataaccess/oracle/OraRefData.h"
#include "dataaccess/oracle/OraTableData.h"

namespace dac {

class TOraNestedTable : public TMemDataSet {
public:
    explicit TOraNestedTable(rtl::TComponent* owner = nullptr);
    ~TOraNestedTable() override;

    // The collection shown (nil when none is attached). Setting another one closes the dataset,
    // attaches it and opens again when it was open (one of the same type on a browsing dataset only
    // replaces the rows, keeping the fields); setting the same one again refreshes.
    TOraArray* TableObject() const;
    void SetTableObject(TOraArray* value);

    // The REF whose target is shown (nil when none is attached); the target is one record, never
    // modifiable here. Setting one makes the record store a REF store.
    TOraRef* RefObject() const;
    void SetRefObject(TOraRef* value);

    // Makes the dataset the detail of a dataset field (nil detaches it and its collection).
    void SetDataSetField(db::TDataSetField* value);

    const TDataTypesMap& GetDataTypesMapClass() override;
    void DataEvent(db::TDataEvent event, intptr_t info) override;
    void CreateFieldDefs() override;
    // The field-number offset of the element fields: 2 when the hidden object field of object
    // elements comes first, else 1.
    int FieldNoOffset() const { return fieldNoOffset_; }

protected:
    void OpenCursor(bool infoQuery) override;
    void CloseCursor() override;
    void DoBeforeInsert() override;
    void DoBeforeDelete() override;
    void DoAfterDelete() override;
    void DoAfterPost() override;
    bool GetCanModify() const override;
    // A buffer showing a REF's target holds one reference to the REF value.
    void FreeRecordBuffer(db::TRecordBuffer& buffer) override;
    db::TFieldClass GetFieldClass(db::TFieldType fieldType) override;

private:
    TTableData* Store() const { return dynamic_cast<TTableData*>(FIRecordSet); }
    TRefData* RefStore() const { return dynamic_cast<TRefData*>(FIRecordSet); }
    // Replaces the record store by a collection store (nullptr) or a REF store.
    void UseTableStore();
    void UseRefStore();
    // Both objects let go.
    void DetachObjects();
    // The value object of the parent's current record for the dataset field; nil without a record.
    TSharedObject* ParentObject();
    // The REF of the parent's current record for the dataset field; nil without a record.
    TOraRef* ParentRef();
    // The collection value of the parent's current record for the dataset field; nil without a
    // record. Raises "Field type should be Object" for a field that holds no object.
    TOraArray* ParentCollection();
    // The parent in edit, marked modified, and its dataset field marked changed.
    void MarkParentChanged();
    void SyncParentValue();
    void AttachFromParent();

    int fieldNoOffset_ = 1;
};

}  // namespace dac
