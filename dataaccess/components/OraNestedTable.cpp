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

void TOraNestedTable::UseTableStore() {
    if (Store()) return;
    FreeIRecordSet();
    SetIRecordSet(new TTableData());
}

void TOraNestedTable::UseRefStore() {
    if (RefStore()) return;
    FreeIRecordSet();
    SetIRecordSet(new TRefData());
}

void TOraNestedTable::DetachObjects() {
    if (TTableData* store = Store()) store->SetTable(nullptr);
    if (TRefData* store = RefStore()) store->SetRef(nullptr);
}

void TOraNestedTable::SetTableObject(TOraArray* value) {
    if (value != TableObject()) {
        // Another collection of the same type while the rows are only browsed (the parent moved):
        // the fields stay, so datasets opened on them keep following; the rows are read anew.
        TOraArray* shown = TableObject();
        if (Active() && State() == db::dsBrowse && shown && value && shown->GetObjectType() &&
            shown->GetObjectType() == value->GetObjectType()) {
            Store()->SetTable(value);
            InternalRefresh();
            First();
            return;
        }
        const bool wasActive = Active();
        Close();
        UnPrepare();
        UseTableStore();
        Store()->SetTable(value);
        SetActive(wasActive);
        return;
    }
    if (!DataSetField() && value && Active()) Refresh();
}

TOraRef* TOraNestedTable::RefObject() const {
    TRefData* store = RefStore();
    return store ? store->GetRef() : nullptr;
}

void TOraNestedTable::SetRefObject(TOraRef* value) {
    if (value == RefObject()) return;
    const bool wasActive = Active();
    Close();
    UnPrepare();
    UseRefStore();
    RefStore()->SetRef(value);
    if (value) SetActive(wasActive);
}

void TOraNestedTable::SetDataSetField(db::TDataSetField* value) {
    if (value == DataSetField()) return;
    if (db::TDataSetField* old = DataSetField()) old->SetNestedDataSet(nullptr);
    if (value) {
        value->SetNestedDataSet(this);
        if (auto* parent = dynamic_cast<TCustomDADataSet*>(value->DataSet()); parent && Store())
            Store()->TrimFixedChar = parent->Options().TrimFixedChar();
    } else {
        DetachObjects();
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

// The value object of the parent field in the parent's active record: a collection or a REF.
TSharedObject* TOraNestedTable::ParentObject() {
    db::TDataSetField* field = DataSetField();
    auto* parent = field ? dynamic_cast<TMemDataSet*>(field->DataSet()) : nullptr;
    if (!parent || !parent->GetIRecordSet()) return nullptr;
    TFieldDesc* desc = parent->GetIRecordSet()->FindField(field->FieldName());
    if (!desc || desc->DataType < dtObject || desc->DataType > dtTable)
        rtl::DatabaseError("Field type should be Object", this);
    db::TRecordBuffer buffer = nullptr;
    if (!parent->GetActiveRecBuf(buffer)) return nullptr;
    return parent->GetIRecordSet()->GetObject(desc->FieldNo, buffer);
}

TOraArray* TOraNestedTable::ParentCollection() {
    return dynamic_cast<TOraArray*>(ParentObject());
}

TOraRef* TOraNestedTable::ParentRef() {
    return dynamic_cast<TOraRef*>(ParentObject());
}

void TOraNestedTable::AttachFromParent() {
    db::TDataSetField* field = DataSetField();
    auto* parent = dynamic_cast<TMemDataSet*>(field->DataSet());
    TFieldDesc* desc = parent->GetIRecordSet()->FindField(field->FieldName());
    if (!desc || (desc->DataType != dtReference && desc->DataType != dtTable))
        rtl::DatabaseError("Field type should be Object", this);
    if (desc->DataType == dtReference) {
        UseRefStore();
        if (TOraRef* ref = ParentRef()) {
            RefStore()->SetRef(ref);
            return;
        }
        // No record: a REF of its own, null, of the field's type.
        auto* own = new TOraRef(static_cast<TOraType*>(desc->ObjectType()));
        RefStore()->SetRef(own);
        own->Free();
        return;
    }
    UseTableStore();
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
            if (!TableObject() && !RefObject()) AttachFromParent();
        }
        FieldDefs().SetHiddenFields(parent->FieldDefs().HiddenFields());
    } else if (!TableObject() && !RefObject()) {
        rtl::DatabaseError("Missing DataSetField property", this);
    }
    TMemDataSet::OpenCursor(infoQuery);
}

void TOraNestedTable::CloseCursor() {
    TMemDataSet::CloseCursor();
    if (DataSetField()) DetachObjects();
}

void TOraNestedTable::CreateFieldDefs() {
    if (!TableObject() && !RefObject()) return;
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
        } else if (TOraRef* ref = ParentRef()) {
            SetRefObject(ref);
        } else if (Active()) {
            Close();
            Open();
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

void TOraNestedTable::FreeRecordBuffer(db::TRecordBuffer& buffer) {
    TRefData* store = RefStore();
    if (buffer && store && store->GetRef() && store->Fields().Count() > 0) {
        const int32_t offset = store->Fields()[0]->Offset;
        void* held = PeekPacked<void*>(buffer, static_cast<std::size_t>(offset));
        if (held == store->GetRef()->GetHandle()) {
            PokePacked<void*>(buffer, static_cast<std::size_t>(offset), nullptr);
            store->GetRef()->Free();
        }
    }
    TMemDataSet::FreeRecordBuffer(buffer);
}

bool TOraNestedTable::GetCanModify() const {
    if (db::TDataSetField* field = DataSetField()) {
        if (field->DataType() == db::ftReference) return false;
        return field->DataSet()->CanModify();
    }
    return TableObject() != nullptr;
}

}  // namespace dac
