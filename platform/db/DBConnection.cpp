// TCustomConnection: client registration and the connect/disconnect event order.
#include "platform/db/DB.h"

namespace db {

TCustomConnection::TCustomConnection(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TCustomConnection::~TCustomConnection() = default;

void TCustomConnection::SetConnected(bool value) {
    if (ComponentState().Contains(rtl::csLoading) && value) {
        streamedConnected_ = true;
        return;
    }
    if (value == GetConnected()) return;
    if (value) {
        if (BeforeConnect) BeforeConnect(this);
        DoConnect();
        SendConnectEvent(true);
        if (AfterConnect) AfterConnect(this);
    } else {
        if (BeforeDisconnect) BeforeDisconnect(this);
        SendConnectEvent(false);
        DoDisconnect();
        if (AfterDisconnect) AfterDisconnect(this);
    }
}

void TCustomConnection::RegisterClient(rtl::TObject* client, TConnectChangeEvent event) {
    for (auto& c : clients_)
        if (c.client == client) {
            c.event = std::move(event);
            return;
        }
    clients_.push_back({client, std::move(event)});
}

void TCustomConnection::UnRegisterClient(rtl::TObject* client) {
    for (auto it = clients_.begin(); it != clients_.end(); ++it)
        if (it->client == client) {
            clients_.erase(it);
            return;
        }
}

int TCustomConnection::DataSetCount() const {
    int n = 0;
    for (const auto& c : clients_)
        if (dynamic_cast<TDataSet*>(c.client)) ++n;
    return n;
}

TDataSet* TCustomConnection::DataSets(int index) const {
    for (const auto& c : clients_)
        if (auto* ds = dynamic_cast<TDataSet*>(c.client); ds && index-- == 0) return ds;
    return nullptr;
}

void TCustomConnection::SendConnectEvent(bool connecting) {
    // A copy: a client may unregister itself (or another) while it is told.
    std::vector<rtl::TObject*> snapshot;
    for (const auto& c : clients_) snapshot.push_back(c.client);
    for (auto* client : snapshot) {
        for (auto& c : clients_)
            if (c.client == client) {
                if (c.event) {
                    auto event = c.event;
                    event(connecting);
                }
                break;
            }
    }
}

void TCustomConnection::Loaded() {
    rtl::TComponent::Loaded();
    if (streamedConnected_) {
        streamedConnected_ = false;
        SetConnected(true);
    }
}

}  // namespace db
