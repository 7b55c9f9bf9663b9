// TOraNestedTable: a collection value shown as a dataset.
#include "dataaccess/components/OraNestedTable.h"

#include "dataaccess/components/Ora.h"

namespace dac {

TOraNestedTable::TOraNestedTable(rtl::TComponent* owner) : TMemDataSet(owner) {
    SetObjectView(true);
    SetIRecordSet(new TTableData());
}

TOraNestedTable::~TOraNestedTable() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    if (db::TDataSetField* field = DataSetField()) field->SetNestedDataSet(nullptr);
}

TOraArray* TOraNestedTable::TableObject() const {
    TTableData* store = Store();
    return store ? store->Table() : nullptr;
}

void TOraNestedTable::SetTableObject(TOraArray* value) {
    if (value != TableObject()) {
        const bool wasActive = Active();
        Close();
        UnPrepare();
        if (!Store()) {
            FreeIRecordSet();
            SetIRecordSet(new TTableData());
        }
        Store()->SetTable(value);
        SetActive(wasActive);
        return;
    }
    if (!DataSetField() && value && Active()) Refresh();
}

void TOraNestedTable::SetDataSetField(db::TDataSetField* value) {
    if (value == DataSetField()) return;
    if (db::TDataSetField* old = DataSetField()) old->SetNestedDataSet(nullptr);
    if (value) {
        value->SetNestedDataSet(this);
        if (auto* parent = dynamic_cast<TCustomDADataSet*>(value->DataSet()); parent && Store())
            Store()->TrimFixedChar = parent->Options().TrimFixedChar();
    } else if (Store()) {
        Store()->SetTable(nullptr);
    }
}

const TDataTypesMap& TOraNestedTable::GetDataTypesMapClass() {
    return TOraFieldTypesMap::Instance();
}

db::TFieldClass TOraNestedTable::GetFieldClass(db::TFieldType fieldType) {
    if (db::TFieldClass cls = OraFieldClass(fieldType)) return cls;
    return TMemDataSet::GetFieldClass(fieldType);
}

// ---------------------------------------------------------------------------------------------
// The parent's collection

TOraArray* TOraNestedTable::ParentCollection() {
    db::TDataSetField* field = DataSetField();
    auto* parent = field ? dynamic_cast<TMemDataSet*>(field->DataSet()) : nullptr;
    if (!parent || !parent->GetIRecordSet()) return nullptr;
    TFieldDesc* desc = parent->GetIRecordSet()->FindField(field->FieldName());
    if (!desc || desc->DataType < dtObject || desc->DataType > dtTable)
        rtl::DatabaseError("Field type should be Object", this);
    db::TRecordBuffer buffer = nullptr;
    if (!parent->GetActiveRecBuf(buffer)) return nullptr;
    return dynamic_cast<TOraArray*>(parent->GetIRecordSet()->GetObject(desc->FieldNo, buffer));
}

void TOraNestedTable::AttachFromParent() {
    db::TDataSetField* field = DataSetField();
    auto* parent = dynamic_cast<TMemDataSet*>(field->DataSet());
    TFieldDesc* desc = parent->GetIRecordSet()->FindField(field->FieldName());
    if (!desc || (desc->DataType != dtReference && desc->DataType != dtTable))
        rtl::DatabaseError("Field type should be Object", this);
    if (desc->DataType == dtReference) rtl::DatabaseError("REF fields are not shown as datasets yet", this);
    TOraArray* table = ParentCollection();
    if (table) {
        Store()->SetTable(table);
        return;
    }
    // No record: an empty collection of the field's type.
    auto* empty = new TOraNestTable(static_cast<TOraType*>(desc->ObjectType()));
    Store()->SetTable(empty);
    empty->Free();
}

void TOraNestedTable::OpenCursor(bool infoQuery) {
    if (db::TDataSetField* field = DataSetField()) {
        db::TDataSet* parent = field->DataSet();
        if (!parent->Active()) parent->Open();
        if (dynamic_cast<TOraDataSet*>(parent) || dynamic_cast<TOraNestedTable*>(parent)) {
            SetParentSet(static_cast<TMemDataSet*>(parent));
            if (!TableObject()) AttachFromParent();
        }
        FieldDefs().SetHiddenFields(parent->FieldDefs().HiddenFields());
    } else if (!TableObject()) {
        rtl::DatabaseError("Missing DataSetField property", this);
    }
    TMemDataSet::OpenCursor(infoQuery);
}

void TOraNestedTable::CloseCursor() {
    TMemDataSet::CloseCursor();
    if (DataSetField() && Store()) Store()->SetTable(nullptr);
}

void TOraNestedTable::CreateFieldDefs() {
    if (!TableObject()) return;
    TMemDataSet::CreateFieldDefs();
    TFieldDescs& descs = FIRecordSet->Fields();
    db::TDataSetField* field = DataSetField();
    fieldNoOffset_ =
        (field && field->IncludeObjectField()) || descs.Count() == 0 || descs[0]->DataType != dtObject ? 1
                                                                                                       : 2;
}

// ---------------------------------------------------------------------------------------------
// Following the parent

void TOraNestedTable::DataEvent(db::TDataEvent event, intptr_t info) {
    if (event == db::deParentScroll && DataSetField()) {
        // A parent that posted or moved has written the collection, or shows another one.
        if (auto* f = dynamic_cast<TOraDataSetField*>(DataSetField());
            f && f->DataSet()->State() == db::dsBrowse)
            f->SetChanged(false);
        if (DataSetField()->DataType() == db::ftDataSet) {
            TOraArray* table = ParentCollection();
            if (table) {
                SetTableObject(table);
            } else if (Active()) {
                // The parent has no record: show an empty collection of the field's type.
                Close();
                Open();
            }
        }
    }
    TMemDataSet::DataEvent(event, info);
}

void TOraNestedTable::DoBeforeInsert() {
    TMemDataSet::DoBeforeInsert();
    db::TDataSetField* field = DataSetField();
    if (field && field->DataType() == db::ftDataSet && field->DataSet()->State() == db::dsInsert)
        field->DataSet()->Post();
}

void TOraNestedTable::MarkParentChanged() {
    db::TDataSetField* field = DataSetField();
    if (!field) return;
    db::TDataSet* parent = field->DataSet();
    if (parent->State() != db::dsEdit && parent->State() != db::dsInsert) parent->Edit();
    parent->SetModified(true);
    if (auto* f = dynamic_cast<TOraDataSetField*>(field)) f->SetChanged(true);
}

// The parent edits a copy of its record: the copy takes the collection as it is now.
void TOraNestedTable::SyncParentValue() {
    if (!DataSetField()) return;
    if (TOraArray* shown = TableObject())
        if (TOraArray* edited = ParentCollection(); edited && edited != shown) edited->Assign(shown);
}

void TOraNestedTable::DoBeforeDelete() {
    TMemDataSet::DoBeforeDelete();
    MarkParentChanged();
}

void TOraNestedTable::DoAfterDelete() {
    TMemDataSet::DoAfterDelete();
    SyncParentValue();
}

void TOraNestedTable::DoAfterPost() {
    TMemDataSet::DoAfterPost();
    MarkParentChanged();
    SyncParentValue();
    if (TOraArray* table = TableObject(); table && table->GetInstance()) table->SetIsNull(false);
}

bool TOraNestedTable::GetCanModify() const {
    if (db::TDataSetField* field = DataSetField()) {
        if (field->DataType() == db::ftReference) return false;
        return field->DataSet()->CanModify();
    }
    return TableObject() != nullptr;
}

}  // namespace dac
