// TDataSet: opening and closing, the record buffers, navigation, bookmarks, editing, searching
// and data events.
#include <cstring>

#include "platform/db/DB.h"
#include "platform/rtl/Strings.h"

namespace db {

using rtl::DatabaseError;
using rtl::DatabaseErrorFmt;

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner),
      fieldDefs_(std::make_unique<TFieldDefs>(this)),
      fields_(std::make_unique<TFields>(this)) {}

TDataSet::~TDataSet() {
    Destroying();
    // Buffers a descendant did not release through Close cannot be freed from here: its
    // FreeRecordBuffer is out of reach.
    while (!dataSources_.empty()) dataSources_.back()->SetDataSet(nullptr);
    if (dataSetField_) dataSetField_->nestedDataSet_ = nullptr;
    for (TField* f : FieldList())
        if (auto* dsf = dynamic_cast<TDataSetField*>(f)) dsf->SetNestedDataSet(nullptr);
    // Fields owned elsewhere only lose their dataset; the fields this dataset owns go with it.
    while (fields_->Count() > 0) {
        TField* f = fields_->Fields(fields_->Count() - 1);
        fields_->Remove(f);
        f->dataSet_ = nullptr;
        if (f->Owner() == this) rtl::Free(f);
    }
    fieldDefs_->Clear();
}

// ---------------------------------------------------------------------------------------------
// Open and close

void TDataSet::SetActive(bool value) {
    if (ComponentState().Contains(rtl::csLoading)) {
        streamedActive_ = value;
        return;
    }
    if (value == Active()) return;
    if (value) {
        DoBeforeOpen();
        try {
            OpenCursor(false);
        } catch (...) {
            // A failed open leaves the dataset inactive with its cursor closed.
            state_ = dsInactive;
            try {
                CloseCursor();
            } catch (...) {
            }
            throw;
        }
        OpenCursorComplete();
    } else {
        bool destroying = ComponentState().Contains(rtl::csDestroying);
        if (!destroying) DoBeforeClose();
        SetState(dsInactive);
        CloseCursor();
        if (!destroying) DoAfterClose();
    }
}

void TDataSet::Loaded() {
    TComponent::Loaded();
    if (streamedActive_) {
        streamedActive_ = false;
        SetActive(true);
    }
}

void TDataSet::OpenCursor(bool infoQuery) {
    if (infoQuery) {
        InternalInitFieldDefs();
        return;
    }
    defaultFields_ = fields_->Count() == 0;
    InternalOpen();
    internalOpenComplete_ = true;
}

void TDataSet::OpenCursorComplete() {
    // The buffers come after InternalOpen: that is where descendants learn their size.
    SetBufListSize(1);
    SetState(dsBrowse);
    bof_ = true;
    eof_ = false;
    recordCount_ = 0;
    activeRecord_ = 0;
    currentRecord_ = -1;
    InternalFirst();
    if (GetRecord(buffers_[0], gmNext, true) == grOK) {
        recordCount_ = 1;
        currentRecord_ = 0;
    } else {
        eof_ = true;
    }
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::CloseCursor() {
    blockReadSize_ = 0;
    internalOpenComplete_ = false;
    ClearBuffers();
    SetBufListSize(0);
    InternalClose();
    defaultFields_ = false;
}

void TDataSet::SetBufListSize(int count) {
    if (count > 0) {
        // One active buffer and the spare that doubles as TempBuffer.
        while (static_cast<int>(buffers_.size()) < count + 1) buffers_.push_back(AllocRecordBuffer());
        bufferCount_ = count;
    } else {
        for (TRecordBuffer& b : buffers_) FreeRecordBuffer(b);
        buffers_.clear();
        bufferCount_ = 0;
    }
}

void TDataSet::ClearBuffers() {
    recordCount_ = 0;
    activeRecord_ = 0;
    currentRecord_ = -1;
    bof_ = true;
    eof_ = true;
}

void TDataSet::InitFieldDefs() {
    if (IsCursorOpen()) {
        InternalInitFieldDefs();
        return;
    }
    try {
        OpenCursor(true);
    } catch (...) {
        CloseCursor();
        throw;
    }
    CloseCursor();
}

void TDataSet::CheckActive() const {
    if (!Active())
        DatabaseError("Cannot perform this operation on a closed dataset", const_cast<TDataSet*>(this));
}

void TDataSet::CheckInactive() const {
    if (Active())
        DatabaseError("Cannot perform this operation on an open dataset", const_cast<TDataSet*>(this));
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (state_) {
        case dsEdit:
        case dsInsert:
            UpdateRecord();
            if (modified_)
                Post();
            else
                Cancel();
            break;
        case dsSetKey:
            Post();
            break;
        default:
            break;
    }
}

void TDataSet::CheckCanModify() const {
    if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", const_cast<TDataSet*>(this));
}

// Abstract operations of the cursor.
TGetResult TDataSet::GetRecord(TRecordBuffer, TGetMode, bool) {
    rtl::AbstractError();
}
void TDataSet::InternalOpen() {
    rtl::AbstractError();
}
void TDataSet::InternalClose() {
    rtl::AbstractError();
}
bool TDataSet::IsCursorOpen() const {
    rtl::AbstractError();
}
void TDataSet::InternalInitFieldDefs() {
    rtl::AbstractError();
}
void TDataSet::InternalFirst() {
    rtl::AbstractError();
}
void TDataSet::InternalLast() {
    rtl::AbstractError();
}
void TDataSet::InternalGotoBookmark(const void*) {
    rtl::AbstractError();
}
void TDataSet::InternalSetToRecord(TRecordBuffer) {
    rtl::AbstractError();
}
void TDataSet::InternalHandleException() {
    rtl::AbstractError();
}
void TDataSet::InternalDelete() {
    rtl::AbstractError();
}
void TDataSet::InternalAddRecord(TRecordBuffer, bool) {
    rtl::AbstractError();
}
void TDataSet::GetBookmarkData(TRecordBuffer, void*) const {}
void TDataSet::SetBookmarkData(TRecordBuffer, const void*) {}
TBookmarkFlag TDataSet::GetBookmarkFlag(TRecordBuffer) const {
    return bfCurrent;
}
void TDataSet::SetBookmarkFlag(TRecordBuffer, TBookmarkFlag) {}
void TDataSet::InternalInitRecord(TRecordBuffer) {}
void TDataSet::ClearCalcFields(TRecordBuffer) {}
bool TDataSet::BookmarkValid(const TBookmark&) {
    return false;
}
int TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) {
    return 0;
}
rtl::TStream* TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
    return nullptr;
}
void TDataSet::CloseBlob(TField*) {}
bool TDataSet::GetFieldData(TField*, void*) {
    return false;
}
bool TDataSet::GetFieldData(int fieldNo, void* buffer) {
    TField* f = FieldByNumber(fieldNo);
    return f ? GetFieldData(f, buffer) : false;
}
void TDataSet::SetFieldData(TField*, const void*) {}

// ---------------------------------------------------------------------------------------------
// Fields

TFieldDefList& TDataSet::FieldDefList() {
    if (fieldDefListDirty_) {
        fieldDefList_.Rebuild(*fieldDefs_);
        fieldDefListDirty_ = false;
    }
    return fieldDefList_;
}

std::vector<TField*> TDataSet::FieldList() const {
    std::vector<TField*> out;
    std::function<void(const TFields&)> add = [&](const TFields& list) {
        for (int i = 0; i < list.Count(); ++i) {
            TField* f = list.Fields(i);
            out.push_back(f);
            if (auto* obj = dynamic_cast<TObjectField*>(f)) add(obj->Fields());
        }
    };
    add(*fields_);
    return out;
}

std::vector<TDataSet*> TDataSet::NestedDataSets() const {
    std::vector<TDataSet*> out;
    for (TField* f : FieldList())
        if (auto* dsf = dynamic_cast<TDataSetField*>(f); dsf && dsf->NestedDataSet())
            out.push_back(dsf->NestedDataSet());
    return out;
}

TField* TDataSet::FindField(const std::string& name) const {
    if (TField* f = fields_->FindField(name)) return f;
    if (name.find('.') != std::string::npos)
        for (TField* f : FieldList())
            if (rtl::AnsiSameText(f->FullName(), name)) return f;
    return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
    TField* f = FindField(name);
    if (!f) DatabaseErrorFmt("Field '%s' not found", {name}, const_cast<TDataSet*>(this));
    return f;
}

TField* TDataSet::FieldByNumber(int fieldNo) const {
    for (TField* f : FieldList())
        if (f->FieldNo() == fieldNo && f->FieldKind() == fkData) return f;
    return nullptr;
}

void TDataSet::GetFieldList(std::vector<TField*>& list, const std::string& fieldNames) const {
    int pos = 1;
    while (pos <= static_cast<int>(fieldNames.size())) {
        std::string name = ExtractFieldName(fieldNames, pos);
        if (!name.empty()) list.push_back(FieldByName(name));
    }
}

void TDataSet::GetFieldNames(std::vector<std::string>& list) const {
    if (fields_->Count() > 0) {
        for (int i = 0; i < fields_->Count(); ++i) list.push_back(fields_->Fields(i)->FieldName());
        return;
    }
    auto* self = const_cast<TDataSet*>(this);
    self->fieldDefs_->Update();
    for (int i = 0; i < self->FieldDefList().Count(); ++i) list.push_back(self->FieldDefList().Strings(i));
}

Variant TDataSet::GetFieldValue(const std::string& fieldNames) const {
    if (fieldNames.find(';') == std::string::npos) return FieldByName(fieldNames)->Value();
    std::vector<TField*> list;
    GetFieldList(list, fieldNames);
    Variant v = rtl::VarArrayCreate({0, static_cast<int>(list.size()) - 1}, rtl::varVariant);
    for (size_t i = 0; i < list.size(); ++i) v.PutElement(static_cast<int>(i), list[i]->Value());
    return v;
}

void TDataSet::SetFieldValue(const std::string& fieldNames, const Variant& value) {
    if (fieldNames.find(';') == std::string::npos) {
        FieldByName(fieldNames)->SetValue(value);
        return;
    }
    std::vector<TField*> list;
    GetFieldList(list, fieldNames);
    int low = value.ArrayLowBound();
    for (size_t i = 0; i < list.size(); ++i) list[i]->SetValue(value.GetElement(low + static_cast<int>(i)));
}

void TDataSet::SetFields(const std::vector<Variant>& values) {
    size_t n = std::min(values.size(), static_cast<size_t>(fields_->Count()));
    for (size_t i = 0; i < n; ++i) fields_->Fields(static_cast<int>(i))->SetAsVariant(values[i]);
}

void TDataSet::SetObjectView(bool value) {
    CheckInactive();
    objectView_ = value;
}

TFieldClass TDataSet::GetFieldClass(TFieldType fieldType) {
    return DefaultFieldClass(fieldType);
}

void TDataSet::CreateFields() {
    TFieldDefList& list = FieldDefList();
    if (objectView_) {
        for (int i = 0; i < fieldDefs_->Count(); ++i) {
            TFieldDef* def = fieldDefs_->Items(i);
            if (def->DataType() != ftUnknown &&
                !(def->Attributes().Contains(faHiddenCol) && !fieldDefs_->HiddenFields()))
                def->CreateField(this);
        }
        return;
    }
    for (int i = 0; i < list.Count(); ++i) {
        TFieldDef* def = list.FieldDefs(i);
        if (def->DataType() != ftUnknown &&
            !(def->Attributes().Contains(faHiddenCol) && !fieldDefs_->HiddenFields()))
            def->CreateField(this, nullptr, list.Strings(i), false);
    }
}

void TDataSet::DestroyFields() {
    fields_->Clear();
}

void TDataSet::CheckFieldCompatibility(TField* field, TFieldDef* fieldDef) {
    auto base = [](TFieldType t) {
        switch (t) {
            case ftAutoInc:
                return ftInteger;
            case ftFixedChar:
                return ftString;
            case ftFixedWideChar:
                return ftWideString;
            case ftOraTimeStamp:
                return ftTimeStamp;
            default:
                return t;
        }
    };
    if (base(field->DataType()) != base(fieldDef->DataType()))
        DatabaseErrorFmt(
            "Type mismatch for field '%s', expecting: %s actual: %s",
            {field->DisplayName(), FieldTypeName(field->DataType()), FieldTypeName(fieldDef->DataType())},
            this);
    switch (field->DataType()) {
        case ftBytes:
        case ftVarBytes:
        case ftBCD:
        case ftReference:
            if (field->Size() != fieldDef->Size())
                DatabaseErrorFmt("Size mismatch for field '%s', expecting: %d actual: %d",
                                 {field->DisplayName(), field->Size(), fieldDef->Size()}, this);
            break;
        default:
            break;
    }
}

void TDataSet::BindFields(bool binding) {
    calcFieldsSize_ = 0;
    dataSetFields_.clear();
    TFieldDefList& list = FieldDefList();
    for (TField* f : FieldList()) {
        if (auto* dsf = dynamic_cast<TDataSetField*>(f); dsf && binding) dataSetFields_.push_back(dsf);
        if (!binding) {
            if (f->FieldKind() != fkData) f->fieldNo_ = -1;
            continue;
        }
        if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
            f->fieldNo_ = -1;
            f->offset_ = calcFieldsSize_;
            calcFieldsSize_ += f->DataSize() + 1;
            continue;
        }
        if (f->FieldKind() != fkData && f->FieldKind() != fkInternalCalc) continue;
        if (f->FieldKind() == fkInternalCalc) continue;
        TFieldDef* def = list.Find(f->FullName());
        if (!def) DatabaseErrorFmt("Field '%s' not found", {f->DisplayName()}, this);
        CheckFieldCompatibility(f, def);
        f->fieldNo_ = def->FieldNo();
    }
}

// ---------------------------------------------------------------------------------------------
// Buffers and states

TRecordBuffer TDataSet::ActiveBuffer() const {
    return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(activeRecord_)];
}

TRecordBuffer TDataSet::TempBuffer() const {
    return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(bufferCount_)];
}

void TDataSet::SetState(TDataSetState value) {
    if (state_ == value) return;
    state_ = value;
    modified_ = false;
    DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
    TDataSetState old = state_;
    state_ = value;
    ++tempStateCount_;
    return old;
}

void TDataSet::RestoreState(TDataSetState value) {
    state_ = value;
    if (tempStateCount_ > 0) --tempStateCount_;
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
    if (calcFieldsSize_ <= 0) return;
    TDataSetState old = SetTempState(dsCalcFields);
    try {
        CalculateFields(buffer);
    } catch (...) {
        RestoreState(old);
        throw;
    }
    RestoreState(old);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
    calcBuffer_ = buffer;
    ClearCalcFields(buffer);
    for (TField* f : FieldList())
        if (f->FieldKind() == fkLookup) CalcLookupValue(f);
    DoOnCalcFields();
}

void TDataSet::CalcLookupValue(TField* field) {
    TDataSet* lookup = field->LookupDataSet();
    if (!lookup || !lookup->Active() || field->KeyFields().empty()) return;
    Variant key = GetFieldValue(field->KeyFields());
    Variant v = lookup->Lookup(field->LookupKeyFields(), key, field->LookupResultField());
    field->SetAsVariant(v);
}

void TDataSet::UpdateCursorPos() {
    if (recordCount_ > 0 && currentRecord_ != activeRecord_) {
        TRecordBuffer buf = ActiveBuffer();
        switch (GetBookmarkFlag(buf)) {
            case bfBOF:
                InternalFirst();
                break;
            case bfEOF:
                InternalLast();
                break;
            default:
                InternalSetToRecord(buf);
                break;
        }
        currentRecord_ = activeRecord_;
    }
}

void TDataSet::Resync(TResyncMode mode) {
    CheckActive();
    TRecordBuffer spare = TempBuffer();
    if (mode.Contains(rmExact)) {
        CursorPosChanged();
        if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError("Record not found", this);
    } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
               GetRecord(spare, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    std::swap(buffers_[static_cast<size_t>(activeRecord_)], buffers_[static_cast<size_t>(bufferCount_)]);
    recordCount_ = 1;
    currentRecord_ = activeRecord_;
    bof_ = false;
    eof_ = false;
    DataEvent(deDataSetChange, 0);
}

// ---------------------------------------------------------------------------------------------
// Navigation

bool TDataSet::GetNextRecord() {
    UpdateCursorPos();
    if (GetRecord(TempBuffer(), gmNext, true) != grOK) {
        CursorPosChanged();
        return false;
    }
    std::swap(buffers_[static_cast<size_t>(activeRecord_)], buffers_[static_cast<size_t>(bufferCount_)]);
    recordCount_ = 1;
    currentRecord_ = activeRecord_;
    return true;
}

bool TDataSet::GetPriorRecord() {
    UpdateCursorPos();
    if (GetRecord(TempBuffer(), gmPrior, true) != grOK) {
        CursorPosChanged();
        return false;
    }
    std::swap(buffers_[static_cast<size_t>(activeRecord_)], buffers_[static_cast<size_t>(bufferCount_)]);
    recordCount_ = 1;
    currentRecord_ = activeRecord_;
    return true;
}

void TDataSet::First() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalFirst();
        if (GetRecord(buffers_[static_cast<size_t>(activeRecord_)], gmNext, true) == grOK) {
            recordCount_ = 1;
            currentRecord_ = activeRecord_;
            eof_ = false;
        }
    } catch (...) {
        bof_ = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

void TDataSet::Last() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalLast();
        if (GetRecord(buffers_[static_cast<size_t>(activeRecord_)], gmPrior, true) == grOK) {
            recordCount_ = 1;
            currentRecord_ = activeRecord_;
            bof_ = false;
        }
    } catch (...) {
        eof_ = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
    CheckBrowseMode();
    int moved = 0;
    if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
        DoBeforeScroll();
        bof_ = false;
        eof_ = false;
        if (distance > 0) {
            while (moved < distance) {
                if (recordCount_ == 0 || !GetNextRecord()) {
                    eof_ = true;
                    break;
                }
                ++moved;
            }
        } else {
            while (moved > distance) {
                if (recordCount_ == 0 || !GetPriorRecord()) {
                    bof_ = true;
                    break;
                }
                --moved;
            }
        }
        if (moved != 0)
            DataEvent(deDataSetScroll, moved);
        else
            DataEvent(deDataSetChange, 0);
        DoAfterScroll();
    }
    return moved;
}

void TDataSet::Next() {
    if (blockReadSize_ > 0)
        BlockReadNext();
    else
        MoveBy(1);
}

void TDataSet::Prior() {
    MoveBy(-1);
}

void TDataSet::BlockReadNext() {
    // No controls to tell: fetch the next record without the scroll events.
    if (eof_) return;
    bof_ = false;
    if (recordCount_ == 0 || !GetNextRecord()) eof_ = true;
}

void TDataSet::SetBlockReadSizeValue(int value) {
    if (value > 0) {
        CheckActive();
        SetState(dsBlockRead);
    } else if (state_ == dsBlockRead) {
        SetState(dsBrowse);
    }
    blockReadSize_ = value;
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

TBookmark TDataSet::GetBookmark() const {
    TBookmark bm;
    if (bookmarkSize_ > 0 && recordCount_ > 0 && GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
        bm.resize(static_cast<size_t>(bookmarkSize_));
        GetBookmarkData(ActiveBuffer(), bm.data());
    }
    return bm;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
    if (bookmark.empty()) return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(bookmark.data());
    Resync(TResyncMode{rmExact, rmCenter});
    DoAfterScroll();
}

// ---------------------------------------------------------------------------------------------
// Editing

void TDataSet::CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& errorEvent) {
    for (;;) {
        try {
            UpdateCursorPos();
            operation();
            return;
        } catch (rtl::EDatabaseError& e) {
            TDataAction action = daFail;
            if (errorEvent) errorEvent(this, e, action);
            if (action == daFail) throw;
            if (action == daAbort) rtl::Abort();
        }
    }
}

void TDataSet::Edit() {
    if (state_ == dsEdit || state_ == dsInsert) return;
    if (recordCount_ == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeEdit();
    CheckOperation([this] { InternalEdit(); }, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        UpdateCursorPos();
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync(TResyncMode{});
        throw;
    }
    modified_ = false;
    DataEvent(deDataSetChange, 0);
    DoAfterInsert();
    DoAfterScroll();
}

void TDataSet::Insert() {
    BeginInsertAppend();
    TBookmark oldCurrent = GetBookmark();
    bool wasEmpty = recordCount_ == 0;
    TRecordBuffer buf = ActiveBuffer();
    InitRecord(buf);
    if (wasEmpty || oldCurrent.empty())
        SetBookmarkFlag(buf, wasEmpty ? bfBOF : bfEOF);
    else
        SetBookmarkData(buf, oldCurrent.data());
    recordCount_ = 1;
    // The buffer no longer shows the record under the cursor.
    CursorPosChanged();
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append() {
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer buf = ActiveBuffer();
    InitRecord(buf);
    SetBookmarkFlag(buf, bfEOF);
    recordCount_ = 1;
    bof_ = false;
    eof_ = false;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Post() {
    UpdateRecord();
    switch (state_) {
        case dsEdit:
        case dsInsert:
            DataEvent(deCheckBrowseMode, 0);
            DoBeforePost();
            CheckOperation([this] { InternalPost(); }, OnPostError);
            FreeFieldBuffers();
            SetState(dsBrowse);
            Resync(TResyncMode{});
            DoAfterPost();
            break;
        default:
            break;
    }
}

void TDataSet::Cancel() {
    switch (state_) {
        case dsEdit:
        case dsInsert: {
            bool inserting = state_ == dsInsert;
            DataEvent(deCheckBrowseMode, 0);
            DoBeforeCancel();
            if (inserting) DoBeforeScroll();
            UpdateCursorPos();
            InternalCancel();
            FreeFieldBuffers();
            SetState(dsBrowse);
            Resync(TResyncMode{});
            DoAfterCancel();
            if (inserting) DoAfterScroll();
            break;
        }
        default:
            break;
    }
}

void TDataSet::Delete() {
    CheckActive();
    if (state_ == dsInsert || state_ == dsSetKey) {
        Cancel();
        return;
    }
    if (recordCount_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", this);
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeDelete();
    DoBeforeScroll();
    CheckOperation([this] { InternalDelete(); }, OnDeleteError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(TResyncMode{});
    DoAfterDelete();
    DoAfterScroll();
}

void TDataSet::Refresh() {
    DoBeforeRefresh();
    CheckBrowseMode();
    UpdateCursorPos();
    try {
        InternalRefresh();
    } catch (...) {
        Resync(TResyncMode{});
        throw;
    }
    Resync(TResyncMode{});
    DoAfterRefresh();
}

void TDataSet::UpdateRecord() {
    if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
        DatabaseError("Dataset not in edit or insert mode", this);
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::InternalPost() {
    CheckRequiredFields();
}

void TDataSet::FreeFieldBuffers() {
    for (TField* f : FieldList())
        if (auto* blob = dynamic_cast<TBlobField*>(f)) blob->SetModified(false);
}

void TDataSet::CheckRequiredFields() {
    for (TField* f : FieldList()) {
        if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull()) {
            f->FocusControl();
            DatabaseErrorFmt("Field '%s' must have a value", {f->DisplayName()}, this);
        }
    }
}

void TDataSet::InsertRecord(const std::vector<Variant>& values) {
    Insert();
    SetFields(values);
    Post();
}

void TDataSet::AppendRecord(const std::vector<Variant>& values) {
    Append();
    SetFields(values);
    Post();
}

void TDataSet::ClearFields() {
    if (state_ != dsEdit && state_ != dsInsert) DatabaseError("Dataset not in edit or insert mode", this);
    DataEvent(deCheckBrowseMode, 0);
    InternalInitRecord(ActiveBuffer());
    if (state_ != dsSetKey) GetCalcFields(ActiveBuffer());
    DataEvent(deRecordChange, 0);
}

// ---------------------------------------------------------------------------------------------
// Field values in other states and format conversions

Variant TDataSet::GetStateFieldValue(TDataSetState state, TField* field) {
    TDataSetState old = SetTempState(state);
    Variant v;
    try {
        v = field->IsNull() ? rtl::Null() : field->Value();
    } catch (...) {
        RestoreState(old);
        throw;
    }
    RestoreState(old);
    return v;
}

void TDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
    TDataSetState old = SetTempState(state);
    try {
        field->SetValue(value);
    } catch (...) {
        RestoreState(old);
        throw;
    }
    RestoreState(old);
}

bool TDataSet::GetFieldData(TField* field, void* buffer, bool nativeFormat) {
    if (nativeFormat || !buffer) return GetFieldData(field, buffer);
    std::vector<uint8_t> tmp(static_cast<size_t>(field->DataSize()) + 1, 0);
    if (!GetFieldData(field, tmp.data())) return false;
    DataConvert(field, tmp.data(), buffer, false);
    return true;
}

void TDataSet::SetFieldData(TField* field, const void* buffer, bool nativeFormat) {
    if (nativeFormat || !buffer) {
        SetFieldData(field, buffer);
        return;
    }
    std::vector<uint8_t> tmp(static_cast<size_t>(field->DataSize()) + 1, 0);
    DataConvert(field, buffer, tmp.data(), true);
    SetFieldData(field, tmp.data());
}

void TDataSet::DataConvert(TField* field, const void* source, void* dest, bool toNative) {
    switch (field->DataType()) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            if (toNative) {
                TDateTime dt;
                std::memcpy(&dt, source, sizeof dt);
                rtl::TTimeStamp ts = rtl::DateTimeToTimeStamp(dt);
                if (field->DataType() == ftDateTime) {
                    double ms = rtl::TimeStampToMSecs(ts);
                    std::memcpy(dest, &ms, sizeof ms);
                } else {
                    int32_t v = field->DataType() == ftDate ? ts.Date : ts.Time;
                    std::memcpy(dest, &v, sizeof v);
                }
            } else {
                rtl::TTimeStamp ts;
                if (field->DataType() == ftDateTime) {
                    double ms;
                    std::memcpy(&ms, source, sizeof ms);
                    ts = rtl::MSecsToTimeStamp(ms);
                } else {
                    int32_t v;
                    std::memcpy(&v, source, sizeof v);
                    if (field->DataType() == ftDate) {
                        ts.Date = v;
                        ts.Time = 0;
                    } else {
                        ts.Date = rtl::DateDelta;
                        ts.Time = v;
                    }
                }
                TDateTime dt = rtl::TimeStampToDateTime(ts);
                std::memcpy(dest, &dt, sizeof dt);
            }
            break;
        }
        case ftBCD: {
            if (toNative) {
                Currency c;
                std::memcpy(&c, source, sizeof c);
                TBcd bcd{};
                rtl::CurrToBCD(c, bcd, 32, field->Size());
                std::memcpy(dest, &bcd, sizeof bcd);
            } else {
                TBcd bcd;
                std::memcpy(&bcd, source, sizeof bcd);
                Currency c;
                if (!rtl::BCDToCurr(bcd, c)) throw rtl::EBcdOverflowException("BCD overflow");
                std::memcpy(dest, &c, sizeof c);
            }
            break;
        }
        default:
            std::memcpy(dest, source, static_cast<size_t>(field->DataSize()));
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Searching

bool TDataSet::RecordMatches(const std::vector<TField*>& fields, const Variant& keyValues,
                             TLocateOptions options) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        Variant key = fields.size() == 1 && !keyValues.IsArray()
                          ? keyValues
                          : keyValues.GetElement(keyValues.ArrayLowBound() + static_cast<int>(i));
        TField* f = fields[i];
        bool fieldNull = f->IsNull();
        if (key.IsNull() || key.IsEmpty()) {
            if (!fieldNull) return false;
            continue;
        }
        if (fieldNull) return false;
        Variant value = f->Value();
        if (rtl::VarIsStr(value) || rtl::VarIsStr(key)) {
            std::string a = rtl::VarToStr(value), b = rtl::VarToStr(key);
            if (options.Contains(loPartialKey) && a.size() > b.size()) a.resize(b.size());
            bool same = options.Contains(loCaseInsensitive) ? rtl::AnsiSameText(a, b) : a == b;
            if (!same) return false;
        } else {
            try {
                if (!rtl::VarSameValue(value, key)) return false;
            } catch (rtl::EVariantError&) {
                // A key that cannot be compared with the column matches no record.
                return false;
            }
        }
    }
    return true;
}

bool TDataSet::ScanFor(const std::vector<TField*>& fields, const Variant& keyValues, TLocateOptions options) {
    // Candidates pass through the active buffer, so fields read them in the browse state.
    InternalFirst();
    CursorPosChanged();
    while (GetRecord(TempBuffer(), gmNext, true) == grOK) {
        std::swap(buffers_[static_cast<size_t>(activeRecord_)], buffers_[static_cast<size_t>(bufferCount_)]);
        recordCount_ = 1;
        currentRecord_ = activeRecord_;
        if (RecordMatches(fields, keyValues, options)) return true;
    }
    CursorPosChanged();
    return false;
}

bool TDataSet::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) {
    CheckBrowseMode();
    std::vector<TField*> fields;
    GetFieldList(fields, keyFields);
    TBookmark saved = GetBookmark();
    bool wasEmpty = recordCount_ == 0;
    DoBeforeScroll();
    bool found = ScanFor(fields, keyValues, options);
    if (found) {
        bof_ = false;
        eof_ = false;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
        return true;
    }
    // Back to where the search started.
    if (!saved.empty()) {
        InternalGotoBookmark(saved.data());
        Resync(TResyncMode{rmExact});
    } else if (wasEmpty) {
        ClearBuffers();
    } else {
        Resync(TResyncMode{});
    }
    return false;
}

Variant TDataSet::Lookup(const std::string& keyFields, const Variant& keyValues,
                         const std::string& resultFields) {
    CheckBrowseMode();
    std::vector<TField*> fields;
    GetFieldList(fields, keyFields);
    TBookmark saved = GetBookmark();
    bool wasEmpty = recordCount_ == 0;
    bool savedBof = bof_, savedEof = eof_;
    Variant result = rtl::Null();
    if (ScanFor(fields, keyValues, TLocateOptions{})) result = GetFieldValue(resultFields);
    if (!saved.empty()) {
        InternalGotoBookmark(saved.data());
        CursorPosChanged();
        if (GetRecord(ActiveBuffer(), gmCurrent, false) == grOK) currentRecord_ = activeRecord_;
        recordCount_ = 1;
    } else if (wasEmpty) {
        ClearBuffers();
    }
    bof_ = savedBof;
    eof_ = savedEof;
    return result;
}

bool TDataSet::FindRecord(bool, bool) {
    return false;
}

// ---------------------------------------------------------------------------------------------
// Controls, data sources and events

void TDataSet::DisableControls() {
    if (disableCount_ == 0) {
        eventPending_ = false;
        pendingEvent_ = deDataSetChange;
    }
    ++disableCount_;
}

void TDataSet::EnableControls() {
    if (disableCount_ == 0) return;
    if (--disableCount_ == 0 && eventPending_) {
        eventPending_ = false;
        DataEvent(pendingEvent_, 0);
    }
}

void TDataSet::AddDataSource(TDataSource* source) {
    dataSources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
    for (auto it = dataSources_.begin(); it != dataSources_.end(); ++it)
        if (*it == source) {
            dataSources_.erase(it);
            return;
        }
}

bool TDataSet::IsLinkedTo(TDataSource* dataSource) const {
    for (const TDataSet* ds = this; ds;) {
        TDataSource* src = ds->GetDataSource();
        if (!src) return false;
        if (src == dataSource) return true;
        ds = src->DataSet();
        if (ds == this) return false;
    }
    return false;
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
    switch (event) {
        case deFieldChange: {
            auto* field = reinterpret_cast<TField*>(info);
            if (field && (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc))
                modified_ = true;
            if (state_ != dsSetKey && calcFieldsSize_ > 0 && autoCalcFields_ && field &&
                field->FieldKind() == fkData)
                GetCalcFields(ActiveBuffer());
            if (field) field->Change();
            break;
        }
        case deDataSetChange:
        case deDataSetScroll:
            for (TDataSetField* dsf : dataSetFields_)
                if (TDataSet* nested = dsf->NestedDataSet(); nested && nested->Active())
                    nested->DataEvent(deParentScroll, 0);
            break;
        default:
            break;
    }
    if (tempStateCount_ > 0) return;
    if (disableCount_ > 0) {
        // Controls hear one change when they are enabled again; a state change wins.
        if (event == deUpdateState || event == deDataSetChange || event == deDataSetScroll ||
            event == deLayoutChange || event == deRecordChange || event == deFieldChange) {
            if (!eventPending_ || event == deLayoutChange)
                pendingEvent_ = event == deLayoutChange ? deLayoutChange : deDataSetChange;
            eventPending_ = true;
        }
        if (event == deUpdateState) {
            for (TDataSource* src : std::vector<TDataSource*>(dataSources_)) src->DataEvent(event, info);
        }
        return;
    }
    for (TDataSource* src : std::vector<TDataSource*>(dataSources_)) src->DataEvent(event, info);
}

void TDataSet::DoBeforeOpen() {
    if (BeforeOpen) BeforeOpen(this);
}
void TDataSet::DoAfterOpen() {
    if (AfterOpen) AfterOpen(this);
}
void TDataSet::DoBeforeClose() {
    if (BeforeClose) BeforeClose(this);
}
void TDataSet::DoAfterClose() {
    if (AfterClose) AfterClose(this);
}
void TDataSet::DoBeforeInsert() {
    if (BeforeInsert) BeforeInsert(this);
}
void TDataSet::DoAfterInsert() {
    if (AfterInsert) AfterInsert(this);
}
void TDataSet::DoBeforeEdit() {
    if (BeforeEdit) BeforeEdit(this);
}
void TDataSet::DoAfterEdit() {
    if (AfterEdit) AfterEdit(this);
}
void TDataSet::DoBeforePost() {
    if (BeforePost) BeforePost(this);
}
void TDataSet::DoAfterPost() {
    if (AfterPost) AfterPost(this);
}
void TDataSet::DoBeforeCancel() {
    if (BeforeCancel) BeforeCancel(this);
}
void TDataSet::DoAfterCancel() {
    if (AfterCancel) AfterCancel(this);
}
void TDataSet::DoBeforeDelete() {
    if (BeforeDelete) BeforeDelete(this);
}
void TDataSet::DoAfterDelete() {
    if (AfterDelete) AfterDelete(this);
}
void TDataSet::DoBeforeScroll() {
    if (BeforeScroll) BeforeScroll(this);
}
void TDataSet::DoAfterScroll() {
    if (AfterScroll) AfterScroll(this);
}
void TDataSet::DoBeforeRefresh() {
    if (BeforeRefresh) BeforeRefresh(this);
}
void TDataSet::DoAfterRefresh() {
    if (AfterRefresh) AfterRefresh(this);
}
void TDataSet::DoOnCalcFields() {
    if (OnCalcFields) OnCalcFields(this);
}
void TDataSet::DoOnNewRecord() {
    if (OnNewRecord) OnNewRecord(this);
}

}  // namespace db
