// The dataset options, the detail data link, the cursor field and the dataset's master/detail
// plumbing.
#include "dataaccess/components/DBAccess.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TDADataSetOptions

TDADataSetOptions::TDADataSetOptions(TCustomDADataSet* owner) : owner_(owner) {
    SetFieldsReadOnly = true;
    SetRequiredFields(true);
    StrictUpdate = true;
    SetTrimFixedChar(true);
    SetLongStrings(true);
    SetFlatBuffers(false);
    RemoveOnRefresh = true;
    detailDelay_ = 0;
    UpdateBatchSize = 1;
}

void TDADataSetOptions::CheckInactive() const {
    if (owner_) owner_->CheckInactive();
}

void TDADataSetOptions::SetRecordSetProp(int prop, const rtl::Variant& value) {
    if (owner_ && owner_->GetIRecordSetCR()) owner_->GetIRecordSetCR()->SetProp(prop, value);
}

void TDADataSetOptions::SetCommandProp(int prop, const rtl::Variant& value) {
    if (owner_ && owner_->GetICommand()) owner_->GetICommand()->SetProp(prop, value);
}

void TDADataSetOptions::FieldDefsOutdated() {
    if (owner_) owner_->FieldDefs().SetUpdated(false);
}

void TDADataSetOptions::SetRequiredFields(bool value) {
    if (value == requiredFields_) return;
    requiredFields_ = value;
    if (!owner_) return;
    owner_->SetLocalConstraints(value);
    FieldDefsOutdated();
    if (owner_->Active()) owner_->FieldDefs().Update();
}

void TDADataSetOptions::SetNumberRange(bool value) {
    numberRange_ = value;
    if (owner_) owner_->TMemDataSet::SetNumberRange(value);
}

void TDADataSetOptions::SetAutoPrepare(bool value) {
    if (value == autoPrepare_) return;
    if (owner_) owner_->UnPrepare();
    autoPrepare_ = value;
}

void TDADataSetOptions::SetTrimFixedChar(bool value) {
    trimFixedChar_ = value;
    if (owner_ && owner_->GetIRecordSet()) owner_->GetIRecordSet()->TrimFixedChar = value;
}

void TDADataSetOptions::SetTrimVarChar(bool value) {
    trimVarChar_ = value;
    if (owner_ && owner_->GetIRecordSet()) owner_->GetIRecordSet()->TrimVarChar = value;
}

void TDADataSetOptions::SetLongStrings(bool value) {
    CheckInactive();
    longStrings_ = value;
    SetRecordSetProp(prLongStrings, value);
    FieldDefsOutdated();
}

void TDADataSetOptions::SetFlatBuffers(bool value) {
    CheckInactive();
    flatBuffers_ = value;
    SetRecordSetProp(prFlatBuffers, value);
}

void TDADataSetOptions::SetQuoteNames(bool value) {
    quoteNames_ = value;
    SetCommandProp(prQuoteNames, value);
}

void TDADataSetOptions::SetDetailDelay(int value) {
    detailDelay_ = value;
    if (owner_) owner_->CheckDetailTimer()->SetInterval(value);
}

void TDADataSetOptions::SetCompressBlobMode(TCompressBlobMode value) {
    if (value == compressBlobMode_) return;
    CheckInactive();
    compressBlobMode_ = value;
    SetRecordSetProp(prCompressBlobMode, static_cast<int>(value));
    FieldDefsOutdated();
}

void TDADataSetOptions::SetLocalMasterDetail(bool value) {
    if (value == localMasterDetail_) return;
    CheckInactive();
    localMasterDetail_ = value;
    if (value && owner_) owner_->ResetSQL();
}

bool TDADataSetOptions::CacheCalcFields() const {
    return owner_ && owner_->CacheCalcFields();
}

void TDADataSetOptions::SetCacheCalcFields(bool value) {
    if (value == CacheCalcFields()) return;
    CheckInactive();
    if (owner_) owner_->TMemDataSet::SetCacheCalcFields(value);
}

void TDADataSetOptions::SetFieldsOrigin(bool value) {
    if (value == fieldsOrigin_) return;
    CheckInactive();
    fieldsOrigin_ = value;
    SetRecordSetProp(prFieldsOrigin, value);
}

void TDADataSetOptions::SetDefaultValues(bool value) {
    if (value == defaultValues_) return;
    CheckInactive();
    defaultValues_ = value;
    SetRecordSetProp(prDefaultValues, value);
}

void TDADataSetOptions::SetExtendedFieldsInfo(bool value) {
    if (value == extendedFieldsInfo_) return;
    CheckInactive();
    extendedFieldsInfo_ = value;
    SetRecordSetProp(prExtendedFieldsInfo, value);
}

void TDADataSetOptions::SetEnableBCD(bool value) {
    if (value == enableBCD_) return;
    CheckInactive();
    enableBCD_ = value;
    SetCommandProp(prEnableBCD, value);
}

void TDADataSetOptions::SetEnableFMTBCD(bool value) {
    if (value == enableFMTBCD_) return;
    CheckInactive();
    enableFMTBCD_ = value;
    SetCommandProp(prEnableFMTBCD, value);
}

void TDADataSetOptions::AssignTo(rtl::TPersistent* dest) {
    auto* d = dynamic_cast<TDADataSetOptions*>(dest);
    if (!d) return rtl::TPersistent::AssignTo(dest);
    d->SetFieldsReadOnly = SetFieldsReadOnly;
    d->SetRequiredFields(requiredFields_);
    d->StrictUpdate = StrictUpdate;
    d->SetNumberRange(numberRange_);
    d->QueryRecCount = QueryRecCount;
    d->SetAutoPrepare(autoPrepare_);
    d->ReturnParams = ReturnParams;
    d->SetTrimFixedChar(trimFixedChar_);
    d->SetLongStrings(longStrings_);
    d->SetFlatBuffers(flatBuffers_);
    d->RemoveOnRefresh = RemoveOnRefresh;
    d->SetQuoteNames(quoteNames_);
    d->SetDetailDelay(detailDelay_);
    d->SetCompressBlobMode(compressBlobMode_);
    d->SetLocalMasterDetail(localMasterDetail_);
    d->SetCacheCalcFields(CacheCalcFields());
    d->SetFieldsOrigin(fieldsOrigin_);
    d->SetDefaultValues(defaultValues_);
    d->UpdateBatchSize = UpdateBatchSize;
    d->UpdateAllFields = UpdateAllFields;
    d->FullRefresh = FullRefresh;
    // Each option from its own value.
    d->SetTrimVarChar(trimVarChar_);
    d->PrepareUpdateSQL = PrepareUpdateSQL;
    d->SetExtendedFieldsInfo(extendedFieldsInfo_);
    d->SetEnableBCD(enableBCD_);
    d->SetEnableFMTBCD(enableFMTBCD_);
}

// ---------------------------------------------------------------------------------------------
// TDADetailDataLink

db::TDataSet* TDADetailDataLink::GetDetailDataSet() const {
    return dataSet_;
}

void TDADetailDataLink::ActiveChanged() {
    if (dataSet_->Active() && !dataSet_->ComponentState().Contains(rtl::csDestroying) && Active())
        dataSet_->MasterChanged();
}

void TDADetailDataLink::RecordChanged(db::TField* field) {
    db::TDataSet* master = DataSet();
    if (field && (!master || field->DataSet() != master)) return;
    if (!dataSet_->Active()) return;
    if (field) {
        const db::TDataSetState state = dataSet_->State();
        if (state == db::dsEdit || state == db::dsInsert) return;
        if (master && master->State() == db::dsInsert) return;
    }
    dataSet_->MasterChanged();
}

void TDADetailDataLink::CheckBrowseMode() {
    if (!dataSet_->Active()) return;
    db::TDataSet* master = DataSet();
    const db::TDataSetState state = dataSet_->State();
    if (master && master->State() == db::dsInsert && (state == db::dsEdit || state == db::dsInsert)) return;
    dataSet_->CheckBrowseMode();
}

// ---------------------------------------------------------------------------------------------
// TDACursorField

TDACursorField::TDACursorField(rtl::TComponent* owner) : db::TField(owner) {
    SetDataType(db::ftCursor);
}

// ---------------------------------------------------------------------------------------------
// Master/detail link of the dataset

db::TDataSource* TCustomDADataSet::MasterSource() const {
    return dataLink_ ? dataLink_->DataSource() : nullptr;
}

void TCustomDADataSet::SetMasterSource(db::TDataSource* value) {
    if (value == MasterSource()) return;
    if (value && value->IsLinkedTo(this)) rtl::DatabaseError("Circular datalinks are not allowed", this);
    const bool had = HasMasterDetailLink();
    dataLink_->SetDataSource(value);
    if (had || HasMasterDetailLink()) MasterDetailChanged();
}

void TCustomDADataSet::SetMasterFields(const AnsiString& value) {
    if (value == masterFields_) return;
    const bool had = HasMasterDetailLink();
    masterFields_ = value;
    if (had || HasMasterDetailLink()) MasterDetailChanged();
}

void TCustomDADataSet::SetDetailFields(const AnsiString& value) {
    if (value == detailFields_) return;
    const bool had = HasMasterDetailLink();
    detailFields_ = value;
    if (had || HasMasterDetailLink()) MasterDetailChanged();
}

bool TCustomDADataSet::HasMasterDetailLink() const {
    return MasterSource() && !masterFields_.empty() && !detailFields_.empty();
}

void TCustomDADataSet::MasterDetailChanged() {
    const bool wasActive = Active();
    Close();
    UnPrepare();
    ResetSQL();
    if (wasActive) Open();
}

bool TCustomDADataSet::SetMasterParams(TDAParams& params) {
    db::TDataSource* source = MasterSource();
    db::TDataSet* master = source ? source->DataSet() : nullptr;
    if (!master || !master->Active()) return false;
    if (options_->LocalMasterDetail()) return SetLocalMasterParams();
    bool changed = false;
    for (int i = 0; i < params.Count(); ++i) {
        TDAParam* p = params.Items(i);
        db::TField* field = master->FindField(p->Name());
        if (!field) continue;
        if (Active()) {
            const rtl::Variant current = p->GetAsVariant();
            const rtl::Variant value = field->AsVariant();
            if (!current.IsEmpty() && !field->IsNull() && !current.IsNull() && current == value) {
                p->SetParamType(db::ptInput);
                continue;
            }
            if (current.IsEmpty() && field->IsNull() &&
                (!master->IsEmpty() || master->State() == db::dsInsert)) {
                p->SetParamType(db::ptInput);
                continue;
            }
        }
        p->AssignField(field);
        p->SetParamType(db::ptInput);
        changed = true;
    }
    return changed;
}

void TCustomDADataSet::MasterChanged() {
    FreeRefBuffers();
    db::TDataSource* source = MasterSource();
    db::TDataSet* master = source ? source->DataSet() : nullptr;
    if (!master || !master->Active() || master->State() == db::dsSetKey) return;
    if (!SetMasterParams(Params())) return;
    if (detailTimer_ && detailTimer_->Interval() != 0) {
        detailTimer_->SetEnabled(false);
        detailTimer_->SetEnabled(true);
    } else {
        RefreshDetail();
    }
}

void TCustomDADataSet::RefreshDetail() {
    if (detailTimer_) detailTimer_->SetEnabled(false);
    if (!Active()) return;
    if (options_->LocalMasterDetail()) {
        FIRecordSet->FilterUpdated();
        Resync({});
        First();
        return;
    }
    BeginConnection(true);
    DisableControls();
    bool reopenStarted = false;
    try {
        WriteParams();
        DoBeforeRefresh();
        DoBeforeScroll();
        CheckBrowseMode();
        UpdateCursorPos();
        reopenStarted = true;
        DataReopen();
        if (FIRecordSet->HasSortColumns()) FIRecordSet->SortItems();
        Resync({});
    } catch (...) {
        if (reopenStarted) {
            try {
                Resync({});
            } catch (...) {
            }
        }
        EnableControls();
        EndConnection();
        DoAfterRefresh();
        DoAfterScroll();
        throw;
    }
    EnableControls();
    EndConnection();
    DoAfterRefresh();
    DoAfterScroll();
    rowsAffected_ = -1;
}

}  // namespace dac
