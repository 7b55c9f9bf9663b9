// Client bookkeeping of the input/output handler components.
#include "dataaccess/components/CRIOHandler.h"

#include <algorithm>

namespace dac {

TCRIOHandler::~TCRIOHandler() {
    Destroying();
    for (rtl::TComponent* c : clients_) c->RemoveFreeNotification(this);
}

void TCRIOHandler::RegisterClient(rtl::TComponent* client) {
    if (!client || std::find(clients_.begin(), clients_.end(), client) != clients_.end()) return;
    clients_.push_back(client);
    client->FreeNotification(this);
}

void TCRIOHandler::UnRegisterClient(rtl::TComponent* client) {
    auto it = std::find(clients_.begin(), clients_.end(), client);
    if (it == clients_.end()) return;
    clients_.erase(it);
    client->RemoveFreeNotification(this);
}

void TCRIOHandler::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    rtl::TComponent::Notification(component, operation);
    if (operation == rtl::opRemove) std::erase(clients_, component);
}

void TCRIOHandlerUtils::RegisterClient(TCRIOHandler* handler, rtl::TComponent* connection) {
    if (handler) handler->RegisterClient(connection);
}

void TCRIOHandlerUtils::UnRegisterClient(TCRIOHandler* handler, rtl::TComponent* connection) {
    if (handler) handler->UnRegisterClient(connection);
}

void TCRIOHandlerUtils::ChangeHandler(TCRIOHandler* oldHandler, TCRIOHandler* newHandler,
                                      rtl::TComponent* connection) {
    if (oldHandler == newHandler) return;
    UnRegisterClient(oldHandler, connection);
    RegisterClient(newHandler, connection);
}

}  // namespace dac
