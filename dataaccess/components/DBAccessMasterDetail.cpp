// Master/detail in memory (the local way): the detail's rows are filtered against the master's
// current record; new detail records take the master's values; a posted server-way detail record
// that belongs to another master leaves the detail.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Variants.h"

namespace dac {

namespace {

// Calls f(masterField, detailField) for each pair of names found in both datasets.
template <class F>
void ForEachLinkPair(const AnsiString& masterFields, const AnsiString& detailFields, db::TDataSet* master,
                     db::TDataSet* detail, F f) {
    int mpos = 1, dpos = 1;
    while (mpos <= static_cast<int>(masterFields.size()) && dpos <= static_cast<int>(detailFields.size())) {
        const std::string m = db::ExtractFieldName(masterFields, mpos);
        const std::string d = db::ExtractFieldName(detailFields, dpos);
        if (m.empty() || d.empty()) break;
        db::TField* mf = master->FindField(m);
        db::TField* df = detail->FindField(d);
        if (mf && df) f(mf, df);
    }
}

}  // namespace

bool TCustomDADataSet::SetLocalMasterParams() {
    db::TDataSource* source = MasterSource();
    auto* master = dynamic_cast<TCustomDADataSet*>(source ? source->DataSet() : nullptr);
    rtl::Assert(master != nullptr, "local master/detail needs a dataset master");
    localLinks_.clear();
    localLinksValid_ = true;
    ForEachLinkPair(masterFields_, detailFields_, master, this, [&](db::TField* mf, db::TField* df) {
        TFieldDesc* detailDesc = GetFieldDesc(df);
        if (!detailDesc) rtl::DatabaseError(rtl::Format("Field %s not found", {df->FieldName()}), this);
        if (!master->GetFieldDesc(mf))
            rtl::DatabaseError(rtl::Format("Field %s not found", {mf->FieldName()}), this);
        localLinks_.push_back({detailDesc->FieldNo, master->IsEmpty() ? rtl::Null() : mf->Value()});
    });
    return true;
}

bool TCustomDADataSet::LocalMDFilter(void* recBuf) {
    db::TDataSource* source = MasterSource();
    db::TDataSet* master = source ? source->DataSet() : nullptr;
    if (!master || !master->Active()) return true;
    if (master->IsEmpty() && master->State() != db::dsInsert) return false;
    if (!localLinksValid_ && FFieldsBound) SetLocalMasterParams();
    for (const TLocalMDLink& link : localLinks_) {
        rtl::Variant value;
        FIRecordSet->GetFieldAsVariant(link.fieldNo, recBuf, value);
        const bool recordNull = value.IsNull() || value.IsEmpty();
        const bool masterNull = link.value.IsNull() || link.value.IsEmpty();
        if (recordNull || masterNull) {
            if (recordNull != masterNull) return false;
            continue;
        }
        if (TData::CompareVariants(value, link.value, 0) != 0) return false;
    }
    return true;
}

void TCustomDADataSet::DoOnNewRecord() {
    TMemDataSet::DoOnNewRecord();
    db::TDataSource* source = MasterSource();
    db::TDataSet* master = source ? source->DataSet() : nullptr;
    if (!master || !master->Active() || masterFields_.empty() || detailFields_.empty()) return;
    ForEachLinkPair(masterFields_, detailFields_, master, this, [](db::TField* mf, db::TField* df) {
        if (df->ReadOnly()) return;
        if (auto* large = dynamic_cast<db::TLargeintField*>(df))
            large->SetAsLargeInt(mf->AsLargeInt());
        else
            df->Assign(mf);
    });
}

// A posted server-way detail record whose link values are no longer its master's leaves the rows.
void TCustomDADataSet::InternalPost() {
    try {
        TMemDataSet::InternalPost();
    } catch (...) {
        ReleaseUse(editUse_);
        throw;
    }
    db::TDataSource* source = MasterSource();
    db::TDataSet* master = source ? source->DataSet() : nullptr;
    bool foreign = false;
    if (master && master->Active() && HasMasterDetailLink() && !options_->LocalMasterDetail()) {
        ForEachLinkPair(masterFields_, detailFields_, master, this, [&](db::TField* mf, db::TField* df) {
            if (!rtl::VarSameValue(mf->Value(), df->Value())) foreign = true;
        });
    }
    if (foreign) {
        if (CachedUpdates()) {
            ReleaseUse(editUse_);
            rtl::Assert(false, "Can not use Master/Detail with CachedUpdates");
        }
        UpdateCursorPos();
        FIRecordSet->RemoveRecord();
    }
    ReleaseUse(editUse_);
}

}  // namespace dac
