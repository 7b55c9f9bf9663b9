// TCustomDAUpdateSQL: the update statements or performing components a dataset's changes go
// through, linked both ways with the dataset it serves.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

TCustomDAUpdateSQL::TCustomDAUpdateSQL(rtl::TComponent* owner) : rtl::TComponent(owner) {
    for (int type = stInsert; type <= stRefresh; ++type) sql_[type] = std::make_unique<rtl::TStringList>();
}

TCustomDAUpdateSQL::~TCustomDAUpdateSQL() {
    if (dataSet_ && dataSet_->UpdateObject() == this) dataSet_->SetUpdateObject(nullptr);
    for (auto* o : objects_)
        if (o) o->RemoveFreeNotification(this);
}

rtl::TStringList& TCustomDAUpdateSQL::GetSQL(db::TUpdateKind kind) {
    return SQL(UpdateKindToStatementType(kind));
}

rtl::TStringList& TCustomDAUpdateSQL::SQL(TStatementType type) {
    rtl::Assert(type >= stInsert && type <= stRefresh, "Wrong statement type");
    return *sql_[type];
}

void TCustomDAUpdateSQL::SetSQL(TStatementType type, rtl::TStrings* value) {
    SQL(type).Assign(value);
}

rtl::TComponent* TCustomDAUpdateSQL::Object(TStatementType type) const {
    rtl::Assert(type >= stInsert && type <= stRefresh, "Wrong statement type");
    return objects_[type];
}

bool TCustomDAUpdateSQL::IsDataSetClass(rtl::TComponent* c) const {
    return dynamic_cast<TCustomDADataSet*>(c) != nullptr;
}

bool TCustomDAUpdateSQL::IsSQLClass(rtl::TComponent* c) const {
    return dynamic_cast<TCustomDASQL*>(c) != nullptr;
}

void TCustomDAUpdateSQL::SetObject(TStatementType type, rtl::TComponent* value) {
    rtl::Assert(type >= stInsert && type <= stRefresh, "Wrong statement type");
    if (value) {
        if (!IsSQLClass(value) && !IsDataSetClass(value))
            throw rtl::Exception(rtl::Format("Only %s and %s objects are allowed in update properties",
                                             {DataSetClassName(), SQLClassName()}));
        if (value == dataSet_)
            throw rtl::Exception(
                "Circular references are not allowed between TCustomDADataset and TCustomDAUpdateSQL "
                "objects");
    }
    if (objects_[type] == value) return;
    rtl::TComponent* old = objects_[type];
    objects_[type] = value;
    bool stillUsed = false;
    for (auto* o : objects_) stillUsed = stillUsed || (old && o == old);
    if (old && !stillUsed) old->RemoveFreeNotification(this);
    if (value) value->FreeNotification(this);
}

void TCustomDAUpdateSQL::Loaded() {
    rtl::TComponent::Loaded();
    DesignCreate = false;
}

void TCustomDAUpdateSQL::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    rtl::TComponent::Notification(component, operation);
    if (operation != rtl::opRemove) return;
    for (auto*& o : objects_)
        if (o == component) o = nullptr;
    if (component == dataSet_) dataSet_ = nullptr;
}

void TCustomDAUpdateSQL::AssignTo(rtl::TPersistent* dest) {
    auto* d = dynamic_cast<TCustomDAUpdateSQL*>(dest);
    if (!d) return rtl::TComponent::AssignTo(dest);
    // The lock statement and its object stay the destination's.
    for (TStatementType type : {stRefresh, stUpdate, stInsert, stDelete}) d->SQL(type).Assign(&SQL(type));
    d->SetDataSet(dataSet_);
    for (TStatementType type : {stRefresh, stUpdate, stInsert, stDelete}) d->SetObject(type, objects_[type]);
}

// ---------------------------------------------------------------------------------------------
// The dataset's side of the link

void TCustomDADataSet::SetUpdateObject(TCustomDAUpdateSQL* value) {
    if (value == updateObject_) return;
    TCustomDAUpdateSQL* old = updateObject_;
    updateObject_ = value;
    if (old) {
        old->RemoveFreeNotification(this);
        if (old->GetDataSet() == this) old->SetDataSet(nullptr);
    }
    if (!value) return;
    // An update object serves one dataset.
    if (TCustomDADataSet* other = value->GetDataSet(); other && other != this)
        other->SetUpdateObject(nullptr);
    value->SetDataSet(this);
    value->FreeNotification(this);
}

void TCustomDAUpdateSQL::ExecSQL(db::TUpdateKind kind) {
    rtl::Assert(dataSet_ != nullptr, "update object without a dataset");
    const TStatementType type = UpdateKindToStatementType(kind);
    TDADataSetUpdater* updater = dataSet_->Updater();
    updater->PerformSQL(SQL(type).Text(), TStatementTypes{type});
}

}  // namespace dac
