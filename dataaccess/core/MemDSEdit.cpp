// The dataset over record storage: inserting, editing, posting, cancelling and deleting records,
// cached updates, and the settings that change the storage's behaviour (sort order, cached and
// local updates, filters).
#include <cstring>

#include "dataaccess/core/MemDS.h"
#include "platform/rtl/Strings.h"

namespace dac {

using db::TField;
using db::TRecordBuffer;
using rtl::DatabaseError;

// ---------------------------------------------------------------------------------------------
// Editing

void TMemDataSet::DoOnNewRecord() {
    try {
        SetDefaultExpressionValues();
        TDataSet::DoOnNewRecord();
    } catch (...) {
        // The new record's own values go with it.
        InternalCancel();
        throw;
    }
}

void TMemDataSet::SetDefaultExpressionValues() {
    for (TField* field : FieldList())
        if (!field->DefaultExpression().empty())
            field->SetAsString(rtl::AnsiDequotedStr(field->DefaultExpression(), '\''));
}

void TMemDataSet::InternalInsert() {
    AssertRecordSet();
    FInserting = true;
}

void TMemDataSet::InternalEdit() {
    AssertRecordSet();
    FEditing = true;
    FIRecordSet->EditRecord(ActiveBuffer());
}

void TMemDataSet::InternalPost() {
    TDataSet::InternalPost();
    AssertRecordSet();
    TRecordBuffer buffer = ActiveBuffer();
    for (TField* field : FieldList()) {
        auto* blobField = dynamic_cast<db::TBlobField*>(field);
        if (!blobField) continue;
        TFieldDesc* desc = GetFieldDesc(field);
        if (!desc || desc->HasParent() || !FIRecordSet->IsBlobFieldType(desc->DataType)) continue;
        auto* blob = dynamic_cast<TBlob*>(FIRecordSet->GetObject(desc->FieldNo, buffer));
        if (blob && blob->CanRollback()) blobField->SetModified(true);
    }
    if (State() == db::dsEdit)
        FIRecordSet->PostRecord(buffer);
    else
        FIRecordSet->InsertRecord(buffer);
    FInserting = false;
    FEditing = false;
}

void TMemDataSet::InternalCancel() {
    AssertRecordSet();
    FInserting = false;
    FEditing = false;
    if (State() == db::dsEdit)
        FIRecordSet->CancelRecord(ActiveBuffer());
    else if (State() == db::dsInsert && FIRecordSet->HasComplexFields())
        FIRecordSet->FreeComplexFields(ActiveBuffer(), true);
}

void TMemDataSet::Cancel() {
    if (!FIRecordSet) return;
    // The framework cancels, then reads the buffer once more: a copy keeps the complex values of
    // the abandoned record alive until it is done.
    TRecordBuffer copy = nullptr;
    if ((State() == db::dsEdit || State() == db::dsInsert) && FIRecordSet->HasComplexFields()) {
        copy = NewRecordBuffer();
        std::memcpy(copy, ActiveBuffer(), static_cast<size_t>(FRecBufferSize));
        FIRecordSet->AddRefComplexFields(copy);
    }
    auto release = [&] {
        if (!copy) return;
        FIRecordSet->FreeComplexFields(copy, true);
        DisposeRecordBuffer(copy);
    };
    try {
        TDataSet::Cancel();
    } catch (...) {
        release();
        throw;
    }
    release();
}

void TMemDataSet::InternalDelete() {
    AssertRecordSet();
    if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
    FIRecordSet->DeleteRecord();
    FInserting = false;
    FEditing = false;
}

void TMemDataSet::InternalAddRecord(TRecordBuffer buffer, bool append) {
    AssertRecordSet();
    if (append)
        FIRecordSet->AppendRecord(buffer);
    else
        FIRecordSet->InsertRecord(buffer);
}

void TMemDataSet::PerformDeferredPost() {
    TDataSetUpdater* updater = HookUpdater();
    if (!updater) return;
    const bool editing = State() == db::dsEdit;
    FInDeferredPost = true;
    try {
        FDeferredPostOldBuffer = editing ? GetOldRecord() : nullptr;
        if (editing)
            updater->DoPerformUpdate();
        else
            updater->DoPerformInsert();
    } catch (...) {
        FInDeferredPost = false;
        FDeferredPostOldBuffer = nullptr;
        throw;
    }
    FInDeferredPost = false;
    FDeferredPostOldBuffer = nullptr;
}

db::TUpdateStatus TMemDataSet::UpdateStatus() const {
    if (!FCachedUpdates || IsEmpty()) return db::usUnmodified;
    TRecordBuffer buffer = State() == db::dsCalcFields ? CalcBuffer() : ActiveBuffer();
    return static_cast<db::TUpdateStatus>(buffer[FRecInfoOffset + RecInfoUpdateStatus]);
}

void TMemDataSet::AssignTo(rtl::TPersistent* dest) {
    if (auto* other = dynamic_cast<TMemDataSet*>(dest)) {
        other->SetCachedUpdates(FCachedUpdates);
        other->SetLocalConstraints(FLocalConstraints);
        other->SetLocalUpdate(FLocalUpdate);
        return;
    }
    TDataSet::AssignTo(dest);
}

// ---------------------------------------------------------------------------------------------
// Cached updates

void TMemDataSet::CheckCachedUpdates() {
    if (!FCachedUpdates) DatabaseError("Not in cached update mode", this);
}

void TMemDataSet::WithCacheBuffers(const std::function<void()>& body) {
    FNewCacheBuffer = NewRecordBuffer();
    FOldCacheBuffer = NewRecordBuffer();
    FInCacheApply = true;
    FIRecordSet->SetCacheRecBuf(FNewCacheBuffer, FOldCacheBuffer);
    auto cleanUp = [this] {
        FIRecordSet->SetCacheRecBuf(nullptr, nullptr);
        FInCacheApply = false;
        DisposeRecordBuffer(FNewCacheBuffer);
        DisposeRecordBuffer(FOldCacheBuffer);
    };
    try {
        body();
    } catch (...) {
        cleanUp();
        try {
            if (Active()) Resync({});
        } catch (...) {
        }
        throw;
    }
    cleanUp();
    // A handler may have closed the dataset.
    if (Active()) Resync({});
}

void TMemDataSet::ApplyAllUpdates() {
    ApplyUpdates(TUpdateRecordKinds{db::rtModified, db::rtInserted, db::rtDeleted});
}

void TMemDataSet::ApplyUpdates(TUpdateRecordKinds kinds) {
    CheckActive();
    if (State() != db::dsBrowse) Post();
    CheckCachedUpdates();
    UpdateCursorPos();
    AssertRecordSet();
    int storageKinds = 0;
    if (kinds.Contains(db::rtModified)) storageKinds |= akModified;
    if (kinds.Contains(db::rtInserted)) storageKinds |= akInserted;
    if (kinds.Contains(db::rtDeleted)) storageKinds |= akDeleted;
    WithCacheBuffers([&] { FIRecordSet->ApplyUpdates(storageKinds); });
}

void TMemDataSet::CommitUpdates() {
    CheckActive();
    CheckCachedUpdates();
    UpdateCursorPos();
    AssertRecordSet();
    WithCacheBuffers([&] { FIRecordSet->CommitUpdates(); });
}

void TMemDataSet::TakeBackCachedChanges(bool all) {
    CheckActive();
    if (State() == db::dsEdit || State() == db::dsInsert || State() == db::dsSetKey) Cancel();
    CheckCachedUpdates();
    UpdateCursorPos();
    AssertRecordSet();
    if (all)
        FIRecordSet->CancelUpdates();
    else
        FIRecordSet->RevertRecord();
    Resync({});
}

void TMemDataSet::CancelUpdates() {
    TakeBackCachedChanges(true);
}

void TMemDataSet::RevertRecord() {
    TakeBackCachedChanges(false);
}

int TMemDataSet::UpdateResult() {
    AssertRecordSet();
    UpdateCursorPos();
    return FIRecordSet->GetUpdateResult();
}

bool TMemDataSet::UpdatesPending() {
    return FIRecordSet && FIRecordSet->UpdatesPending();
}

// ---------------------------------------------------------------------------------------------
// Settings

void TMemDataSet::SetCachedUpdates(bool value) {
    if (value == FCachedUpdates) return;
    CheckInactive();
    FCachedUpdates = value;
    if (FIRecordSet) FIRecordSet->ChangeCachedUpdates(value);
}

void TMemDataSet::SetLocalUpdate(bool value) {
    if (value == FLocalUpdate) return;
    FLocalUpdate = value;
    if (FIRecordSet) FIRecordSet->LocalUpdate = value;
}

void TMemDataSet::SetIndexFieldNames(const std::string& value) {
    if (Active()) CheckBrowseMode();
    if (FIRecordSet) {
        FIRecordSet->ChangeIndexFieldNames(value);
        if (Active() && FIRecordSet->HasSortColumns()) Resync({});
    }
    FIndexFieldNames = value;
}

// ---------------------------------------------------------------------------------------------
// Filters

void TMemDataSet::ActivateFilter() {
    if (!FIRecordSet) return;
    DeactivateFilter();
    if (OnFilterRecord()) FIRecordSet->OnFilterRecord = [this](void* recBuf) { return FilterRecord(recBuf); };
    if (!rtl::Trim(Filter()).empty()) FIRecordSet->SetFilterText(Filter());
    FIRecordSet->FilterCaseInsensitive = FilterOptions().Contains(db::foCaseInsensitive);
    FIRecordSet->FilterNoPartialCompare = FilterOptions().Contains(db::foNoPartialCompare);
}

void TMemDataSet::DeactivateFilter() {
    FIRecordSet->OnFilterRecord = nullptr;
    FIRecordSet->SetFilterText(AnsiString());
}

bool TMemDataSet::FilterRecord(void* recBuf) {
    // Rows fetched while the dataset opens come before its fields; the filter is evaluated again
    // once they are bound.
    if (!FFieldsBound) return true;
    const db::TDataSetState old = SetTempState(db::dsFilter);
    FFilterRecBuf = static_cast<TRecordBuffer>(recBuf);
    bool accept = true;
    try {
        OnFilterRecord()(this, accept);
    } catch (...) {
        InternalHandleException();
    }
    FFilterRecBuf = nullptr;
    RestoreState(old);
    return accept;
}

void TMemDataSet::BeforeFilterChange() {
    if (!Active()) return;
    CheckBrowseMode();
    UpdateCursorPos();
}

void TMemDataSet::AfterFilterChange() {
    AssertRecordSet();
    FIRecordSet->FilterUpdated();
    Resync({});
    First();
}

void TMemDataSet::SetFilteredValue(bool value) {
    BeforeFilterChange();
    if (value == Filtered()) return;
    if (value)
        ActivateFilter();
    else if (FIRecordSet)
        DeactivateFilter();
    TDataSet::SetFilteredValue(value);
    if (Active()) AfterFilterChange();
}

void TMemDataSet::SetFilterText(const std::string& value) {
    SetFilterData(value, FilterOptions());
}

void TMemDataSet::SetFilterOptionsValue(db::TFilterOptions value) {
    SetFilterData(Filter(), value);
}

void TMemDataSet::SetFilterData(const std::string& text, db::TFilterOptions options) {
    BeforeFilterChange();
    if (text == Filter() && options == FilterOptions()) return;
    if (FIRecordSet) {
        FIRecordSet->FilterCaseInsensitive = options.Contains(db::foCaseInsensitive);
        FIRecordSet->FilterNoPartialCompare = options.Contains(db::foNoPartialCompare);
        FIRecordSet->SetFilterText(Filtered() && !rtl::Trim(text).empty() ? text : AnsiString());
    }
    TDataSet::SetFilterText(text);
    TDataSet::SetFilterOptionsValue(options);
    if (Active() && Filtered()) AfterFilterChange();
}

void TMemDataSet::SetOnFilterRecordValue(const db::TFilterRecordEvent& value) {
    BeforeFilterChange();
    TDataSet::SetOnFilterRecordValue(value);
    if (!FIRecordSet) return;
    if (Filtered() && value)
        FIRecordSet->OnFilterRecord = [this](void* recBuf) { return FilterRecord(recBuf); };
    else
        FIRecordSet->OnFilterRecord = nullptr;
    if (Active()) AfterFilterChange();
}

}  // namespace dac
