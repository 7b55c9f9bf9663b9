// The dataset over record storage: the storage and service, preparing and opening, field
// definitions, record buffers, field values, calculated fields, navigation, blobs and nested
// datasets.
#include "dataaccess/core/MemDS.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/rtl/Strings.h"
#include "platform/rtl/Threads.h"

namespace dac {

using db::TField;
using db::TFieldDef;
using db::TFieldType;
using db::TRecordBuffer;
using rtl::DatabaseError;
using rtl::DatabaseErrorFmt;

namespace {

// Dataset bits 0 modified, 1 inserted, 2 deleted, 3 unchanged to the storage's bits by status.
uint8_t StorageItemTypes(TUpdateRecordKinds kinds) {
    uint8_t bits = 0;
    if (kinds.Contains(db::rtModified)) bits |= ItemTypeBit(ItemModified);
    if (kinds.Contains(db::rtInserted)) bits |= ItemTypeBit(ItemInserted);
    if (kinds.Contains(db::rtDeleted)) bits |= ItemTypeBit(ItemDeleted);
    if (kinds.Contains(db::rtUnmodified)) bits |= ItemTypeBit(ItemUnmodified);
    return bits;
}

// Calculated values live in the storage's record layout, which holds plain values only.
bool CalcFieldTypeAllowed(TData& storage, TDataType dt) {
    return dt != dtUnknown && !storage.IsComplexFieldType(dt) && !(dt >= dtObject && dt <= dtTable) &&
           dt != dtCursor;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TMemDataSet::TMemDataSet(rtl::TComponent* owner) : TDataSet(owner) {
    FUpdateRecordKinds = {db::rtModified, db::rtInserted, db::rtUnmodified};
}

TMemDataSet::~TMemDataSet() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    try {
        UnPrepare();
    } catch (...) {
    }
    FreeIRecordSet();
    SetDataSetService(nullptr);
}

void TMemDataSet::AssertRecordSet() const {
    rtl::Assert(FIRecordSet != nullptr, "Assertion failure");
}

// ---------------------------------------------------------------------------------------------
// Storage and service

void TMemDataSet::CreateIRecordSet() {
    SetIRecordSet(new TMemData());
}

void TMemDataSet::SetIRecordSet(TData* recordSet) {
    // The calculated descriptors belonged to the storage that goes.
    FCalcFieldDescMap.clear();
    FIRecordSet = recordSet;
    if (!recordSet) return;
    recordSet->ChangeCachedUpdates(FCachedUpdates);
    recordSet->LocalUpdate = FLocalUpdate;
    recordSet->SparseArrays = SparseArrays();
    recordSet->SetFilterItemTypes(StorageItemTypes(FUpdateRecordKinds));
    recordSet->ChangeIndexFieldNames(FIndexFieldNames);
    auto toUpdater = [this](void (TDataSetUpdater::*step)()) {
        return [this, step] {
            if (TDataSetUpdater* u = HookUpdater()) (u->*step)();
        };
    };
    recordSet->OnApplyInsert = toUpdater(&TDataSetUpdater::DoPerformInsert);
    recordSet->OnApplyDelete = toUpdater(&TDataSetUpdater::DoPerformDelete);
    recordSet->OnApplyUpdate = toUpdater(&TDataSetUpdater::DoPerformUpdate);
    recordSet->OnApplyRecord = [this](int kind, int& action, bool last) {
        if (TDataSetUpdater* u = HookUpdater()) u->ApplyRecord(kind, action, last);
    };
    recordSet->OnRevertRecord = toUpdater(&TDataSetUpdater::DoPerformRevertRecord);
    recordSet->OnAfterApplyUpdates = toUpdater(&TDataSetUpdater::DoPerformAfterApplyUpdates);
    recordSet->OnCancelUpdates = toUpdater(&TDataSetUpdater::DoPerformCancelUpdates);
    if (FCalcFieldsInStorage) {
        recordSet->OnAfterDescribe = [this] { DescribeCalcFields(); };
        recordSet->OnCalcFields = [this](void* dest, void* source) { CalcFieldsOfRecord(dest, source); };
    }
}

void TMemDataSet::FreeIRecordSet() {
    TData* recordSet = FIRecordSet;
    FIRecordSet = nullptr;
    FCalcFieldDescMap.clear();
    rtl::Free(recordSet);
}

TDataSetServiceClass TMemDataSet::GetDataSetServiceClass() {
    return TDataSetServiceClass::Of<TDataSetService>();
}

void TMemDataSet::SetDataSetService(TDataSetService* service) {
    if (service == FServiceObject) return;
    TDataSetService* old = FServiceObject;
    FServiceObject = service;
    rtl::Free(old);
}

TDataSetService* TMemDataSet::CreateDataSetService() {
    TDataSetService* service = GetDataSetServiceClass().Create(this);
    try {
        service->MakeUpdater();
    } catch (...) {
        rtl::Free(service);
        throw;
    }
    return service;
}

void TMemDataSet::CheckDataSetService() {
    if (!FServiceObject || !GetDataSetServiceClass().IsClassOf(FServiceObject))
        SetDataSetService(CreateDataSetService());
}

// The storage reports changes while the dataset is in use: a dataset that has no service yet
// gets one, so that changes are reported applied by the base updater rather than lost.
TDataSetUpdater* TMemDataSet::HookUpdater() {
    if (ComponentState().Contains(rtl::csDestroying)) return nullptr;
    if (!FServiceObject) CheckDataSetService();
    return FServiceObject ? FServiceObject->Updater() : nullptr;
}

const TDataTypesMap& TMemDataSet::GetDataTypesMapClass() {
    return TDataTypesMap::Instance();
}

// ---------------------------------------------------------------------------------------------
// Preparing

void TMemDataSet::Prepare() {
    if (!FIRecordSet || IsPrepared()) return;
    FIRecordSet->Prepare();
    if (FServiceObject) FServiceObject->AfterDataOpen();
    CreateFieldDefs();
}

void TMemDataSet::UnPrepare() {
    if (Active()) Close();
    if (FIRecordSet) FIRecordSet->UnPrepare();
    if (!ComponentState().Contains(rtl::csDestroying)) FieldDefs().SetUpdated(false);
}

bool TMemDataSet::IsPrepared() const {
    return FIRecordSet && FIRecordSet->Prepared();
}

void TMemDataSet::DataReopen() {
    AssertRecordSet();
    FIRecordSet->Reopen();
}

// ---------------------------------------------------------------------------------------------
// Field definitions

TFieldType TMemDataSet::GetFieldType(TDataType dataType) {
    return GetDataTypesMapClass().GetFieldType(dataType);
}

TFieldType TMemDataSet::GetFieldDescFieldType(TFieldDesc* desc) {
    return GetFieldType(desc->DataType);
}

uint16_t TMemDataSet::GetFieldDefSize(TFieldType fieldType, TFieldDesc* desc) {
    switch (fieldType) {
        case db::ftString:
        case db::ftWideString:
        case db::ftGuid:
            return desc->Length == 0 ? 1 : desc->Length;
        case db::ftBytes:
        case db::ftVarBytes:
            return desc->Length;
        default:
            return 0;
    }
}

void TMemDataSet::GetChildFieldDefName(TFieldDef*, int index, std::string& name) {
    name = rtl::IntToStr(index);
}

void TMemDataSet::CreateFieldDefs() {
    AssertRecordSet();
    if (FieldDefs().Updated()) return;
    TFieldDescs& descs = FIRecordSet->Fields();
    FieldDefs().BeginUpdate();
    try {
        FieldDefs().Clear();
        for (int i = 0; i < descs.Count(); ++i) {
            TFieldDesc* desc = descs[i];
            if (desc->HiddenObject || desc->Kind != 0) continue;
            if (desc->ParentField && !desc->ParentField->HiddenObject) continue;
            const TFieldType fieldType = GetFieldDescFieldType(desc);
            const int size = GetFieldDefSize(fieldType, desc);
            if (fieldType == db::ftUnknown) DatabaseError("Data type is not supported", this);
            TFieldDef* def = FieldDefs().AddFieldDef();
            def->SetName(desc->Name);
            def->SetDataType(fieldType);
            def->SetSize(size);
            def->SetFieldNo(i + 1);
            db::TFieldAttributes attributes;
            if (desc->Required && FLocalConstraints) attributes.Include(db::faRequired);
            if (desc->ReadOnly) attributes.Include(db::faReadonly);
            if (desc->Hidden) attributes.Include(db::faHiddenCol);
            if (desc->Fixed) attributes.Include(db::faFixed);
            def->SetAttributes(attributes);
            switch (fieldType) {
                case db::ftSmallint:
                case db::ftInteger:
                case db::ftFloat:
                case db::ftLargeint:
                    def->SetPrecision(desc->Length);
                    break;
                case db::ftBCD:
                case db::ftFMTBcd:
                    def->SetPrecision(desc->Length);
                    def->SetSize(desc->Scale);
                    break;
                case db::ftADT:
                case db::ftArray:
                    if (desc->ObjectType()) {
                        int next = i + 1;
                        CreateChildDefs(def, desc->ObjectType(), next);
                    }
                    break;
                default:
                    break;
            }
        }
    } catch (...) {
        FieldDefs().EndUpdate();
        throw;
    }
    FieldDefs().EndUpdate();
    FieldDefList();
    FieldDefs().SetUpdated(descs.Count() > 0);
}

// The storage describes the parts of an object column right after it, in the order the
// definitions are made here: next walks along and gives each definition its field number.
void TMemDataSet::CreateChildDefs(TFieldDef* parentDef, TObjectType* objectType, int& next) {
    const bool byName = objectType->DataType == dtObject;
    const int count = byName || SparseArrays() ? 1 : std::min<int>(objectType->Size, 100);
    TFieldDescs& descs = FIRecordSet->Fields();
    for (int a = 0; a < objectType->GetAttributeCount(); ++a) {
        TAttribute* attribute = objectType->GetAttribute(a);
        for (int j = 0; j < count; ++j) {
            const TFieldType fieldType = GetFieldType(attribute->DataType);
            std::string base;
            if (byName)
                base = attribute->Name;
            else
                GetChildFieldDefName(parentDef, j, base);
            const std::string prefix = parentDef->FullName() + ".";
            std::string name = base;
            for (int suffix = 1; FieldDefs().IndexOf(prefix + name) != -1; ++suffix)
                name = base + "_" + rtl::IntToStr(suffix);
            TFieldDef* child = parentDef->ChildDefs().AddFieldDef();
            child->SetName(name);
            child->SetDataType(fieldType);
            child->SetSize(fieldType == db::ftString || fieldType == db::ftWideString ? attribute->Length
                                                                                      : 0);
            if (next < descs.Count()) child->SetFieldNo(descs[next]->FieldNo);
            ++next;
            db::TFieldAttributes attributes;
            if (parentDef->Attributes().Contains(db::faReadonly)) attributes.Include(db::faReadonly);
            child->SetAttributes(attributes);
            if ((fieldType == db::ftADT || fieldType == db::ftArray) && attribute->ObjectType())
                CreateChildDefs(child, attribute->ObjectType(), next);
        }
    }
}

void TMemDataSet::InternalInitFieldDefs() {
    AssertRecordSet();
    if (FIRecordSet->Active()) return;
    TFieldDescs& descs = FIRecordSet->Fields();
    std::vector<std::string> names;
    const bool remember = FieldDefs().Count() > 0 && FieldDefs().Updated();
    if (remember)
        for (int i = 0; i < descs.Count(); ++i) names.push_back(descs[i]->Name);
    const int countBefore = descs.Count();
    FIRecordSet->DescribeFields();
    if (descs.Count() != countBefore) {
        FieldDefs().SetUpdated(false);
    } else if (remember) {
        for (int i = 0; i < descs.Count(); ++i)
            if (descs[i]->Name != names[static_cast<size_t>(i)]) {
                FieldDefs().SetUpdated(false);
                break;
            }
    }
    if (FServiceObject) FServiceObject->AfterDataOpen();
    CreateFieldDefs();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TMemDataSet::OpenCursor(bool infoQuery) {
    TDataSet::OpenCursor(infoQuery);
    if (infoQuery) return;
    DisposeRecordBuffer(FOldValuesBuffer);
    FOldValuesBuffer = NewRecordBuffer();
}

void TMemDataSet::InternalOpen() {
    AssertRecordSet();
    FIRecordSet->Open();
    if (FServiceObject) FServiceObject->AfterDataOpen();
    CreateFieldDefs();
    if (DefaultFields()) {
        CreateFields();
    } else {
        db::TFieldDefList& list = FieldDefList();
        for (int i = 0; i < list.Count(); ++i) {
            TFieldDef* def = list.FieldDefs(i);
            if (def->DataType() != db::ftString) continue;
            TField* field = FindField(list.Strings(i));
            if (!field || field->FieldKind() != db::fkData) continue;
            CheckFieldCompatibility(field, def);
            field->SetSize(def->Size());
        }
    }
    if (FNumberRange && FServiceObject) {
        db::TFieldDefList& list = FieldDefList();
        for (int i = 0; i < list.Count(); ++i) FServiceObject->SetNumberRange(list.FieldDefs(i));
    }
    BindFields(true);
    FFieldsBound = true;
    TFieldDescs& descs = FIRecordSet->Fields();
    if (descs.Count() > 0 && descs[descs.Count() - 1]->Kind == 1) FIRecordSet->RecalcCachedCalcFields();
    if (ObjectView()) SetObjectFieldTypes(Fields());
    if (FIRecordSet->HasSortColumns()) FIRecordSet->SortItems();
    SetBookmarkSize(static_cast<int>(RecBookmark::Size));
    FRecInfoOffset = FCacheCalcFields ? FIRecordSet->RecordSize()
                                      : FIRecordSet->RecordSize() + FIRecordSet->CalcRecordSize();
    FBookmarkOffset = FRecInfoOffset + RecInfoSize;
    FRecBufferSize = FBookmarkOffset + static_cast<int>(RecBookmark::Size);
    FInCacheApply = false;
    if (Filtered()) {
        ActivateFilter();
        FIRecordSet->FilterUpdated();
    }
}

void TMemDataSet::SetObjectFieldTypes(db::TFields& fields) {
    for (int i = 0; i < fields.Count(); ++i) {
        auto* objectField = dynamic_cast<db::TObjectField*>(fields[i]);
        if (!objectField) continue;
        const int no = objectField->FieldNo();
        if (no >= 1 && no <= FIRecordSet->Fields().Count())
            if (TObjectType* type = FIRecordSet->Fields()[no - 1]->ObjectType())
                objectField->SetObjectType(type->Name);
        if (objectField->DataType() != db::ftADT && objectField->DataType() != db::ftArray) continue;
        db::TFields& children = objectField->Fields();
        if (objectField->DataType() == db::ftArray && SparseArrays() && children.Count() > 0 &&
            children[0]->DataType() == db::ftADT) {
            if (auto* first = dynamic_cast<db::TObjectField*>(children[0]))
                SetObjectFieldTypes(first->Fields());
        } else {
            SetObjectFieldTypes(children);
        }
    }
}

void TMemDataSet::CloseCursor() {
    try {
        if (FIRecordSet) {
            FreeRefBuffers();
            if (FIRecordSet->HasComplexFields() && ActiveBuffer()) {
                if (FInserting)
                    FIRecordSet->FreeComplexFields(ActiveBuffer(), true);
                else if (FEditing)
                    FIRecordSet->FreeComplexFields(ActiveBuffer(), false);
            }
            FInserting = false;
            FEditing = false;
            DisposeRecordBuffer(FOldValuesBuffer);
        }
        TDataSet::CloseCursor();
    } catch (...) {
        FParentSet = nullptr;
        FParentPosition.clear();
        throw;
    }
    FParentSet = nullptr;
    FParentPosition.clear();
}

void TMemDataSet::InternalClose() {
    FFieldsBound = false;
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    if (!FIRecordSet) return;
    FIRecordSet->Close();
    // Descriptors the storage dropped must not be reached through the map.
    if (FIRecordSet->Fields().Count() == 0) FCalcFieldDescMap.clear();
}

bool TMemDataSet::IsCursorOpen() const {
    return FIRecordSet && FIRecordSet->Active();
}

void TMemDataSet::InternalRefresh() {
    FreeRefBuffers();
    DataReopen();
    if (FIRecordSet->HasSortColumns()) FIRecordSet->SortItems();
}

void TMemDataSet::InternalHandleException() {
    rtl::HandleApplicationException(std::current_exception());
}

void TMemDataSet::DoAfterOpen() {
    TDataSet::DoAfterOpen();
    // The framework passes the change on to the nested datasets as a parent scroll.
    DataEvent(db::deDataSetChange, 0);
}

db::TFieldClass TMemDataSet::GetFieldClass(TFieldType fieldType) {
    CheckDataSetService();
    return FServiceObject->GetFieldClass(fieldType);
}

// ---------------------------------------------------------------------------------------------
// Record buffers

TRecordBuffer TMemDataSet::NewRecordBuffer() {
    auto* buffer =
        static_cast<TRecordBuffer>(std::calloc(static_cast<size_t>(std::max(FRecBufferSize, 1)), 1));
    if (!buffer) throw rtl::EOutOfMemory("Out of memory");
    return buffer;
}

void TMemDataSet::DisposeRecordBuffer(TRecordBuffer& buffer) {
    std::free(buffer);
    buffer = nullptr;
}

TRecordBuffer TMemDataSet::AllocRecordBuffer() {
    return NewRecordBuffer();
}

void TMemDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
    DisposeRecordBuffer(buffer);
}

int TMemDataSet::GetRecordSize() const {
    return FIRecordSet ? static_cast<uint16_t>(FIRecordSet->RecordSize()) : 0;
}

void TMemDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) const {
    std::memcpy(data, buffer + FBookmarkOffset, RecBookmark::Size);
}

void TMemDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
    std::memcpy(buffer + FBookmarkOffset, data, RecBookmark::Size);
}

db::TBookmarkFlag TMemDataSet::GetBookmarkFlag(TRecordBuffer buffer) const {
    return static_cast<db::TBookmarkFlag>(buffer[FRecInfoOffset + RecInfoBookmarkFlag]);
}

void TMemDataSet::SetBookmarkFlag(TRecordBuffer buffer, db::TBookmarkFlag value) {
    buffer[FRecInfoOffset + RecInfoBookmarkFlag] = value;
}

bool TMemDataSet::GetRefreshed(TRecordBuffer buffer) const {
    return buffer[FRecInfoOffset + RecInfoRefreshed] != 0;
}

void TMemDataSet::SetRefreshed(TRecordBuffer buffer, bool value) {
    buffer[FRecInfoOffset + RecInfoRefreshed] = value ? 1 : 0;
}

db::TGetResult TMemDataSet::GetRecord(TRecordBuffer buffer, db::TGetMode mode, bool) {
    AssertRecordSet();
    // A refreshed buffer holds references of its own; the record read over it would lose them.
    if (GetRefreshed(buffer)) {
        FreeRefComplexFields(buffer, true);
        SetRefreshed(buffer, false);
    }
    switch (mode) {
        case db::gmCurrent:
            FIRecordSet->GetRecord(buffer);
            break;
        case db::gmNext:
            FIRecordSet->GetNextRecord(buffer);
            break;
        case db::gmPrior:
            FIRecordSet->GetPriorRecord(buffer);
            break;
    }
    if (FIRecordSet->Bof()) return db::grBOF;
    if (FIRecordSet->Eof()) return db::grEOF;
    PokePacked<int32_t>(buffer, static_cast<size_t>(FRecInfoOffset + RecInfoRecNo),
                        FIRecordSet->GetRecordNo());
    buffer[FRecInfoOffset + RecInfoUpdateStatus] = static_cast<uint8_t>(FIRecordSet->GetUpdateStatus());
    buffer[FRecInfoOffset + RecInfoBookmarkFlag] = db::bfCurrent;
    if (!FCacheCalcFields) GetCalcFields(buffer);
    FIRecordSet->GetBookmark(buffer + FBookmarkOffset);
    return db::grOK;
}

void TMemDataSet::InternalInitRecord(TRecordBuffer buffer) {
    AssertRecordSet();
    FIRecordSet->InitRecord(buffer);
    if (FIRecordSet->HasComplexFields()) FIRecordSet->CreateComplexFields(buffer, true);
}

void TMemDataSet::InitRecord(TRecordBuffer buffer) {
    TDataSet::InitRecord(buffer);
    PokePacked<int32_t>(buffer, static_cast<size_t>(FRecInfoOffset + RecInfoRecNo), 0);
    buffer[FRecInfoOffset + RecInfoUpdateStatus] = db::usInserted;
    buffer[FRecInfoOffset + RecInfoBookmarkFlag] = db::bfInserted;
    FIRecordSet->InitRecord(FOldValuesBuffer);
}

void TMemDataSet::ClearCalcFields(TRecordBuffer buffer) {
    if (!FIRecordSet) return;
    TFieldDescs& descs = FIRecordSet->Fields();
    for (int i = 0; i < descs.Count(); ++i)
        if (descs[i]->Kind != 0) FIRecordSet->SetNull(descs[i]->FieldNo, buffer, true);
}

void TMemDataSet::FreeRefBuffers() {
    for (TRecordBuffer buffer : {ActiveBuffer(), TempBuffer()}) {
        if (!buffer || !GetRefreshed(buffer)) continue;
        FreeRefComplexFields(buffer, true);
        SetRefreshed(buffer, false);
    }
}

void TMemDataSet::FreeRefComplexFields(TRecordBuffer buffer, bool withBlob) {
    if (FIRecordSet && FIRecordSet->HasComplexFields()) FIRecordSet->FreeComplexFields(buffer, withBlob);
}

// ---------------------------------------------------------------------------------------------
// Calculated fields in the storage

void TMemDataSet::DescribeCalcFields() {
    FCalcFieldDescMap.clear();
    if (!FIRecordSet || Fields().Count() == 0) return;
    for (TField* field : FieldList()) {
        if (field->FieldKind() != db::fkCalculated && field->FieldKind() != db::fkLookup) continue;
        const TDataType dataType = GetDataTypesMapClass().GetDataType(field->DataType());
        if (!CalcFieldTypeAllowed(*FIRecordSet, dataType))
            DatabaseErrorFmt("Calculated field '%s' cannot be of type %s",
                             {field->DisplayName(), db::FieldTypeName(field->DataType())}, this);
        TFieldDesc* desc = FIRecordSet->GetFieldDescType().Create();
        try {
            desc->Name = field->FullName();
            desc->ActualName = desc->Name;
            desc->FieldNo = static_cast<uint16_t>(FIRecordSet->Fields().Count() + 1);
            desc->DataType = dataType;
            switch (field->DataType()) {
                case db::ftDate:
                case db::ftTime:
                    desc->Size = field->DataSize() * 2;
                    break;
                case db::ftWideString:
                    desc->Size = field->Size() * 2 + 2;
                    break;
                default:
                    desc->Size = field->DataSize();
                    break;
            }
            desc->Length = static_cast<uint16_t>(field->Size());
            desc->Kind = FCacheCalcFields ? 1 : 2;
            FIRecordSet->Fields().Add(desc);
        } catch (...) {
            rtl::Free(desc);
            throw;
        }
        FCalcFieldDescMap.emplace_back(desc, field);
    }
}

void TMemDataSet::CalcFieldsOfRecord(void* dest, void* source) {
    if (CalcFieldsSize() < 1) return;
    const size_t recordSize = static_cast<size_t>(FIRecordSet->RecordSize());
    const size_t calcSize = static_cast<size_t>(FIRecordSet->CalcRecordSize());
    std::vector<uint8_t> temp(recordSize + calcSize + RecInfoSize + RecBookmark::Size, 0);
    std::memcpy(temp.data(), source ? source : dest, recordSize);
    GetCalcFields(temp.data());
    std::memcpy(dest, temp.data(), recordSize + calcSize);
}

void TMemDataSet::CalculateRecordFields(TRecordBuffer buffer) {
    GetCalcFields(buffer);
}

// ---------------------------------------------------------------------------------------------
// Fields and their values

TFieldDesc* TMemDataSet::GetFieldDesc(TField* field) {
    rtl::Assert(FIRecordSet != nullptr, "FIRecordSet must be setted to this time");
    rtl::Assert(field != nullptr, "Field cannot be nil");
    rtl::Assert(field->DataSet() == this || field->DataSet() == nullptr, "Wrong DataSet");
    TFieldDescs& descs = FIRecordSet->Fields();
    if (field->FieldNo() >= 1)
        return field->FieldNo() <= descs.Count() ? descs[field->FieldNo() - 1] : nullptr;
    if (DefaultFields() && Fields().Count() == descs.Count()) {
        const int index = Fields().IndexOf(field);
        return index >= 0 ? descs[index] : nullptr;
    }
    const bool calculated = field->FieldKind() != db::fkData;
    for (int i = 0; i < descs.Count(); ++i) {
        TFieldDesc* desc = descs[i];
        if (calculated && desc->Kind != 1 && desc->Kind != 2) continue;
        if (rtl::AnsiSameText(desc->Name, field->FieldName())) return desc;
        if (calculated && rtl::AnsiSameText(desc->ActualName, field->FieldName())) return desc;
    }
    return nullptr;
}

int TMemDataSet::GetFieldDescNo(TField* field) {
    TFieldDesc* desc = GetFieldDesc(field);
    if (!desc) throw rtl::Exception(rtl::Format("Field %s not found", {field->FieldName()}));
    return desc->FieldNo;
}

int TMemDataSet::CalcFieldNo(TField* field) {
    for (const auto& [desc, mapped] : FCalcFieldDescMap)
        if (mapped == field) return desc->FieldNo;
    return GetFieldDescNo(field);
}

bool TMemDataSet::GetActiveRecBuf(TRecordBuffer& buffer) {
    buffer = nullptr;
    switch (State()) {
        case db::dsBrowse:
            if (FInCacheApply) {
                buffer = FNewCacheBuffer;
                break;
            }
            [[fallthrough]];
        case db::dsBlockRead:
            buffer = IsEmpty() ? nullptr : ActiveBuffer();
            break;
        case db::dsEdit:
        case db::dsInsert:
            buffer = ActiveBuffer();
            break;
        case db::dsCalcFields:
            buffer = CalcBuffer();
            break;
        case db::dsFilter:
            buffer = FFilterRecBuf;
            break;
        case db::dsNewValue:
            buffer = FInCacheApply ? FNewCacheBuffer : ActiveBuffer();
            break;
        case db::dsOldValue:
            buffer = FInCacheApply ? FOldCacheBuffer : GetOldRecord();
            break;
        default:
            break;
    }
    return buffer != nullptr;
}

TRecordBuffer TMemDataSet::GetOldRecord() {
    AssertRecordSet();
    UpdateCursorPos();
    FIRecordSet->GetOldRecord(FOldValuesBuffer);
    return FOldValuesBuffer;
}

bool TMemDataSet::GetFieldData(TField* field, void* buffer) {
    TRecordBuffer record;
    if (!GetActiveRecBuf(record)) return false;
    AssertRecordSet();
    int fieldNo = field->FieldNo();
    if (fieldNo < 1) {
        switch (State()) {
            case db::dsBrowse:
            case db::dsEdit:
            case db::dsInsert:
            case db::dsCalcFields:
            case db::dsFilter:
            case db::dsBlockRead:
                break;
            default:
                return false;
        }
        fieldNo = CalcFieldNo(field);
    }
    bool isBlank = true;
    FIRecordSet->GetField(fieldNo, record, buffer, isBlank);
    return !isBlank;
}

bool TMemDataSet::GetFieldData(int fieldNo, void* buffer) {
    TRecordBuffer record;
    if (!GetActiveRecBuf(record)) return false;
    AssertRecordSet();
    bool isBlank = true;
    FIRecordSet->GetField(fieldNo, record, buffer, isBlank);
    return !isBlank;
}

bool TMemDataSet::GetFieldData(TField* field, void* buffer, bool nativeFormat) {
    if (field->DataType() == db::ftWideString && buffer) nativeFormat = true;
    return TDataSet::GetFieldData(field, buffer, nativeFormat);
}

void TMemDataSet::SetFieldData(TField* field, const void* buffer) {
    const db::TDataSetState state = State();
    switch (state) {
        case db::dsEdit:
        case db::dsInsert:
        case db::dsSetKey:
        case db::dsCalcFields:
        case db::dsFilter:
        case db::dsNewValue:
        case db::dsInternalCalc:
            break;
        default:
            DatabaseError("Dataset not in edit or insert mode", this);
    }
    AssertRecordSet();
    TRecordBuffer record;
    if (!GetActiveRecBuf(record)) DatabaseError("Dataset not in edit or insert mode", this);
    int fieldNo = field->FieldNo();
    if (fieldNo >= 1) {
        if (state == db::dsCalcFields) DatabaseError("Dataset not in edit or insert mode", this);
        if (field->ReadOnly() && state != db::dsSetKey && state != db::dsFilter)
            DatabaseErrorFmt("Field '%s' cannot be modified", {field->DisplayName()}, this);
        field->Validate(buffer);
        if (field->FieldKind() != db::fkInternalCalc) FIRecordSet->PutField(fieldNo, record, buffer);
    } else {
        FIRecordSet->PutField(CalcFieldNo(field), record, buffer);
    }
    if (state != db::dsCalcFields && state != db::dsFilter && state != db::dsNewValue)
        DataEvent(db::deFieldChange, reinterpret_cast<intptr_t>(field));
}

void TMemDataSet::SetFieldData(TField* field, const void* buffer, bool nativeFormat) {
    if (dynamic_cast<db::TWideStringField*>(field)) nativeFormat = true;
    TDataSet::SetFieldData(field, buffer, nativeFormat);
}

// The storage keeps BCD values as scaled 64-bit integers, which is the field's value form.
void TMemDataSet::DataConvert(TField* field, const void* source, void* dest, bool toNative) {
    if (field->DataType() == db::ftBCD) {
        std::memcpy(dest, source, sizeof(int64_t));
        return;
    }
    TDataSet::DataConvert(field, source, dest, toNative);
}

rtl::Variant TMemDataSet::GetStateFieldValue(db::TDataSetState state, TField* field) {
    if (state == db::dsOldValue && State() == db::dsInsert) return rtl::Null();
    return TDataSet::GetStateFieldValue(state, field);
}

void TMemDataSet::CheckFieldCompatibility(TField* field, TFieldDef* fieldDef) {
    TDataSet::CheckFieldCompatibility(field, fieldDef);
}

// ---------------------------------------------------------------------------------------------
// Navigation

void TMemDataSet::InternalFirst() {
    AssertRecordSet();
    FIRecordSet->SetToBegin();
}

void TMemDataSet::InternalLast() {
    AssertRecordSet();
    FIRecordSet->SetToEnd();
}

void TMemDataSet::InternalGotoBookmark(const void* bookmark) {
    AssertRecordSet();
    FIRecordSet->SetToBookmark(bookmark);
}

void TMemDataSet::InternalSetToRecord(TRecordBuffer buffer) {
    InternalGotoBookmark(buffer + FBookmarkOffset);
}

bool TMemDataSet::BookmarkValid(const db::TBookmark& bookmark) {
    if (!FIRecordSet || bookmark.size() != RecBookmark::Size) return false;
    return FIRecordSet->BookmarkValid(bookmark.data());
}

int TMemDataSet::CompareBookmarks(const db::TBookmark& a, const db::TBookmark& b) {
    if (!FIRecordSet) return 0;
    return FIRecordSet->CompareBookmarks(a.size() == RecBookmark::Size ? a.data() : nullptr,
                                         b.size() == RecBookmark::Size ? b.data() : nullptr);
}

int TMemDataSet::GetRecordCount() const {
    return Active() && FIRecordSet ? FIRecordSet->GetRecordCount() : 0;
}

int TMemDataSet::GetRecNo() const {
    TRecordBuffer buffer;
    if (!const_cast<TMemDataSet*>(this)->GetActiveRecBuf(buffer)) return 0;
    return PeekPacked<int32_t>(buffer, static_cast<size_t>(FRecInfoOffset + RecInfoRecNo));
}

void TMemDataSet::SetRecNoValue(int value) {
    CheckBrowseMode();
    DoBeforeScroll();
    AssertRecordSet();
    FIRecordSet->SetRecordNo(value);
    Resync({});
    DoAfterScroll();
}

void TMemDataSet::SetBlockReadSizeValue(int value) {
    if (value == BlockReadSize()) return;
    if (value > 0 || value < -1) UpdateCursorPos();
    TDataSet::SetBlockReadSizeValue(value);
}

// ---------------------------------------------------------------------------------------------
// Blobs

rtl::TStream* TMemDataSet::CreateBlobStream(TField* field, db::TBlobStreamMode mode) {
    return new TBlobStream(rtl::As<db::TBlobField>(field), mode);
}

TBlob* TMemDataSet::GetBlob(TField* field) {
    if (!field || !Active()) return nullptr;
    TFieldDesc* desc = GetFieldDesc(field);
    return desc ? GetBlob(desc) : nullptr;
}

TBlob* TMemDataSet::GetBlob(TFieldDesc* desc) {
    TRecordBuffer record;
    if (!GetActiveRecBuf(record)) return nullptr;
    if (!FIRecordSet->IsBlobFieldType(desc->DataType)) DatabaseError("Field is not BLOB", this);
    return dynamic_cast<TBlob*>(FIRecordSet->GetObject(desc->FieldNo, record));
}

TBlob* TMemDataSet::GetBlobByName(const std::string& name) {
    AssertRecordSet();
    return GetBlob(FIRecordSet->FieldByName(name));
}

// ---------------------------------------------------------------------------------------------
// Nested datasets

void TMemDataSet::DataEvent(db::TDataEvent event, intptr_t info) {
    if (event == db::deParentScroll) ParentScrolled();
    TDataSet::DataEvent(event, info);
}

// The whole bookmark tells whether the parent moved: sums of its bytes coincide for other rows.
void TMemDataSet::ParentScrolled() {
    if (!FParentSet || !Active()) return;
    const db::TBookmark position = FParentSet->IsEmpty() ? db::TBookmark() : FParentSet->GetBookmark();
    if (!FParentPosition.empty() && position == FParentPosition) {
        UpdateCursorPos();
        Resync({});
        return;
    }
    First();
    FParentPosition = position;
}

}  // namespace dac
