// Data sources and data links: how a dataset's events reach the objects that follow it.
#include <algorithm>

#include "platform/db/DB.h"
#include "platform/rtl/Strings.h"

namespace db {

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
    Destroying();
    SetDataSet(nullptr);
    while (!links_.empty()) links_.back()->SetDataSource(nullptr);
}

bool TDataSource::IsLinkedTo(TDataSet* dataSet) const {
    for (TDataSet* ds = dataSet_; ds;) {
        if (ds == dataSet) return true;
        TDataSource* src = ds->GetDataSource();
        if (!src || src == this) return false;
        ds = src->DataSet();
    }
    return false;
}

void TDataSource::SetDataSet(TDataSet* value) {
    if (value == dataSet_) return;
    if (value && value->IsLinkedTo(this)) rtl::DatabaseError("Circular datalinks are not allowed", this);
    if (dataSet_) {
        dataSet_->RemoveDataSource(this);
        dataSet_->RemoveFreeNotification(this);
    }
    dataSet_ = value;
    if (value) {
        value->AddDataSource(this);
        value->FreeNotification(this);
    }
    UpdateState();
    for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
}

void TDataSource::Notification(TComponent* component, rtl::TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == rtl::opRemove && component == dataSet_) SetDataSet(nullptr);
}

void TDataSource::SetEnabled(bool value) {
    enabled_ = value;
    UpdateState();
    for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
}

void TDataSource::Edit() {
    if (autoEdit_ && state_ == dsBrowse) dataSet_->Edit();
}

void TDataSource::UpdateState() {
    TDataSetState s = enabled_ && dataSet_ ? dataSet_->State() : dsInactive;
    if (s == state_) return;
    state_ = s;
    if (OnStateChange) OnStateChange(this);
}

void TDataSource::NotifyLinks(TDataEvent event, intptr_t info) {
    for (TDataLink* link : std::vector<TDataLink*>(links_)) link->DataEvent(event, info);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
    if (event == deUpdateState) {
        UpdateState();
        for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
        return;
    }
    if (state_ == dsInactive) return;
    NotifyLinks(event, info);
    switch (event) {
        case deFieldChange:
        case deRecordChange:
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange:
            if (OnDataChange)
                OnDataChange(this, event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
            break;
        case deUpdateRecord:
            if (OnUpdateData) OnUpdateData(this);
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// TDataLink

TDataLink::~TDataLink() {
    SetDataSource(nullptr);
}

void TDataLink::SetDataSource(TDataSource* value) {
    if (value == dataSource_) return;
    if (dataSource_) {
        auto& links = dataSource_->links_;
        links.erase(std::remove(links.begin(), links.end(), this), links.end());
    }
    dataSource_ = value;
    if (value) value->links_.push_back(this);
    UpdateState();
}

TDataSet* TDataLink::DataSet() const {
    return dataSource_ ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool value) {
    readOnly_ = value;
    UpdateState();
}

int TDataLink::RecordCount() const {
    TDataSet* ds = DataSet();
    return ds && ds->Active() && !ds->IsEmpty() ? 1 : 0;
}

void TDataLink::UpdateState() {
    bool active = dataSource_ && dataSource_->State() != dsInactive;
    SetActive(active);
    TDataSetState s = dataSource_ ? dataSource_->State() : dsInactive;
    SetEditing(!readOnly_ && (s == dsEdit || s == dsInsert || s == dsSetKey));
}

void TDataLink::SetActive(bool value) {
    if (active_ == value) return;
    active_ = value;
    ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
    if (editing_ == value) return;
    editing_ = value;
    EditingChanged();
}

bool TDataLink::Edit() {
    if (!readOnly_ && dataSource_) dataSource_->Edit();
    return editing_;
}

void TDataLink::UpdateRecord() {
    if (updating_) return;
    updating_ = true;
    try {
        UpdateData();
    } catch (...) {
        updating_ = false;
        throw;
    }
    updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
    switch (event) {
        case deFieldChange:
        case deRecordChange:
            if (!updating_) RecordChanged(event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
            break;
        case deDataSetChange:
            DataSetChanged();
            break;
        case deDataSetScroll:
            DataSetScrolled(static_cast<int>(info));
            break;
        case deLayoutChange:
            LayoutChanged();
            break;
        case deUpdateRecord:
            UpdateRecord();
            break;
        case deCheckBrowseMode:
            CheckBrowseMode();
            break;
        case deFocusControl:
            FocusControl(reinterpret_cast<TField*>(info));
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// TMasterDataLink

void TMasterDataLink::SetFieldNames(const std::string& value) {
    fieldNames_ = value;
    RebuildFields();
}

void TMasterDataLink::RebuildFields() {
    fields_.clear();
    if (Active() && DataSet() && !fieldNames_.empty()) DataSet()->GetFieldList(fields_, fieldNames_);
}

void TMasterDataLink::ActiveChanged() {
    RebuildFields();
    if (Active()) {
        if (OnMasterChange) OnMasterChange(detail_);
    } else if (OnMasterDisable) {
        OnMasterDisable(detail_);
    }
}

void TMasterDataLink::CheckBrowseMode() {
    if (detail_ && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() {
    ActiveChanged();
}

void TMasterDataLink::RecordChanged(TField* field) {
    if (!OnMasterChange || !DataSource() || DataSource()->State() == dsEdit ||
        DataSource()->State() == dsInsert)
        return;
    if (field && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
    OnMasterChange(detail_);
}

}  // namespace db
