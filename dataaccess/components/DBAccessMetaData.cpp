// TDAMetaData: the dataset over the record storage that the driver's metadata provider fills.
#include "dataaccess/components/DBAccessMetaData.h"

namespace dac {

TDAMetaData::TDAMetaData(rtl::TComponent* owner) : TMemDataSet(owner) {
    restrictions_ = std::make_unique<rtl::TStringList>();
    restrictions_->OnChange = [this](rtl::TObject*) {
        if (!Reading()) Close();
    };
    DesignCreate = ComponentState().Contains(rtl::csDesigning);
}

TDAMetaData::~TDAMetaData() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    // The storage belongs to the provider: it must not be freed with the dataset.
    SetIRecordSet(nullptr);
    metaData_.reset();
    restrictions_->OnChange = nullptr;
    if (connection_) connection_->UnRegisterClient(this);
    connection_ = nullptr;
    if (transaction_) transaction_->RemoveFreeNotification(this);
    transaction_ = nullptr;
}

void TDAMetaData::Loaded() {
    TMemDataSet::Loaded();
    DesignCreate = false;
}

void TDAMetaData::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    TMemDataSet::Notification(component, operation);
    if (operation != rtl::opRemove) return;
    if (component == connection_) SetConnection(nullptr);
    if (component == transaction_) SetTransaction(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Connection and transaction

void TDAMetaData::SetConnection(TCustomDAConnection* value) {
    if (value == connection_) return;
    if (connection_) {
        if (!Reading()) Close();
        connection_->UnRegisterClient(this);
    }
    connection_ = value;
    if (value) value->RegisterClient(this, [this](bool connecting) { ConnectChange(connecting); });
}

TDATransaction* TDAMetaData::UsedTransaction() {
    if (!connection_) return nullptr;
    if (connection_->IsMultipleTransactionsSupported())
        return transaction_ ? transaction_ : connection_->UsedTransaction();
    return connection_->UsedTransaction();
}

void TDAMetaData::SetTransaction(TDATransaction* value) {
    if (value == transaction_) return;
    if (transaction_) transaction_->RemoveFreeNotification(this);
    transaction_ = value;
    if (value) value->FreeNotification(this);
}

void TDAMetaData::SetMetaDataKind(const AnsiString& value) {
    if (value == metaDataKind_) return;
    if (!Reading()) Close();
    metaDataKind_ = value;
}

void TDAMetaData::BeginConnection() {
    if (!connection_) rtl::DatabaseError("Connection is not defined", this);
    TDATransaction* t = UsedTransaction();
    rtl::Assert(t != nullptr, "Assertion failure");
    connection_->InternalConnect();
    if (connection_->IsMultipleTransactionsSupported()) t->AutoStart();
}

void TDAMetaData::EndConnection() {
    TCustomDAConnection* c = connection_;
    TDATransaction* t = UsedTransaction();
    c->InternalDisconnect();
    if (c->IsMultipleTransactionsSupported() && t) t->AutoRelease();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TDAMetaData::OpenCursor(bool infoQuery) {
    TCustomDAConnection* c = connection_;
    if (c) c->PushOperation(clOpen, c->CanRestoreAfterFailover());
    try {
        BeginConnection();
        try {
            for (;;) {
                try {
                    TMemDataSet::OpenCursor(infoQuery);
                } catch (const EFailOver&) {
                    c->ResumeAfterFailover();
                    continue;
                }
                break;
            }
        } catch (...) {
            EndConnection();
            throw;
        }
        EndConnection();
    } catch (...) {
        if (c) c->PopOperation();
        throw;
    }
    if (c) c->PopOperation();
}

void TDAMetaData::InternalOpen() {
    rtl::TClassOf<TCRMetaData> cls = connection_->GetMetaDataClass();
    if (!cls.IsClassOf(metaData_.get())) metaData_.reset(cls.Create());
    TDATransaction* t = UsedTransaction();
    t->CheckITransaction();
    TData* storage = metaData_->GetMetaData(connection_->GetIConnection(), t->GetITransaction(),
                                            metaDataKind_, *restrictions_);
    SetIRecordSet(storage);
    TMemDataSet::InternalOpen();
}

void TDAMetaData::CloseCursor() {
    TMemDataSet::CloseCursor();
    if (!ComponentState().Contains(rtl::csDestroying)) FieldDefs().SetUpdated(false);
    SetIRecordSet(nullptr);
}

void TDAMetaData::ConnectChange(bool connecting) {
    if (connecting) return;
    if (connection_ && connection_->Options().DisconnectedMode()) {
        if (auto* rs = dynamic_cast<TCRRecordSet*>(GetIRecordSet())) {
            rs->Disconnect();
            return;
        }
    }
    Close();
}

}  // namespace dac
