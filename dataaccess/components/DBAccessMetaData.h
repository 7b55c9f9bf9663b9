// The metadata dataset: read-only rows that describe database objects (tables, columns,
// procedures, indexes, constraints and the other kinds the driver knows), answered by the
// metadata provider of the connection's driver. The component holds no queries of its own: it
// shows the record storage the provider fills for a kind and its restrictions.
#pragma once

#include <memory>

#include "dataaccess/components/DBAccess.h"

namespace dac {

class TDAMetaData : public TMemDataSet {
public:
    explicit TDAMetaData(rtl::TComponent* owner = nullptr);
    ~TDAMetaData() override;

    TCustomDAConnection* Connection() const { return connection_; }
    // Closes and unregisters from the previous connection, then registers with the new one.
    void SetConnection(TCustomDAConnection* value);
    virtual TDATransaction* UsedTransaction();
    virtual TDATransaction* GetTransaction() { return transaction_; }
    virtual void SetTransaction(TDATransaction* value);

    // The kind's name; the provider compares it trimmed and in lower case.
    const AnsiString& MetaDataKind() const { return metaDataKind_; }
    void SetMetaDataKind(const AnsiString& value);
    // Lines name=value; any change closes the dataset.
    rtl::TStringList& Restrictions() { return *restrictions_; }
    void SetRestrictions(rtl::TStrings* value) { restrictions_->Assign(value); }
    // The driver's provider while one exists.
    TCRMetaData* MetaData() const { return metaData_.get(); }

    bool DesignCreate = false;
    void Loaded() override;
    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

protected:
    virtual void BeginConnection();
    virtual void EndConnection();
    void CreateIRecordSet() override {}
    void OpenCursor(bool infoQuery) override;
    void InternalOpen() override;
    void CloseCursor() override;
    bool GetCanModify() const override { return false; }
    void ConnectChange(bool connecting);

private:
    bool Reading() const { return ComponentState().Contains(rtl::csReading); }

    TCustomDAConnection* connection_ = nullptr;
    TDATransaction* transaction_ = nullptr;
    AnsiString metaDataKind_;
    std::unique_ptr<rtl::TStringList> restrictions_;
    std::unique_ptr<TCRMetaData> metaData_;
};

}  // namespace dac
