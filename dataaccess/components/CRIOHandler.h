// Input/output handler components a connection can route its traffic through (an HTTP tunnel,
// say), and the helpers the connection uses to attach itself to one.
#pragma once

#include <vector>

#include "platform/rtl/Objects.h"

namespace dac {

// Keeps the connections that use it; descendants carry the traffic.
class TCRIOHandler : public rtl::TComponent {
public:
    using rtl::TComponent::TComponent;
    ~TCRIOHandler() override;

    virtual void RegisterClient(rtl::TComponent* client);
    virtual void UnRegisterClient(rtl::TComponent* client);

    int ClientCount() const { return static_cast<int>(clients_.size()); }
    rtl::TComponent* Clients(int index) const { return clients_[static_cast<size_t>(index)]; }

    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

private:
    std::vector<rtl::TComponent*> clients_;
};

class TCRIOHandlerUtils {
public:
    // Both do nothing for a nil handler.
    static void RegisterClient(TCRIOHandler* handler, rtl::TComponent* connection);
    static void UnRegisterClient(TCRIOHandler* handler, rtl::TComponent* connection);
    // What a connection does when its handler property changes: leave the old handler, then
    // join the new one.
    static void ChangeHandler(TCRIOHandler* oldHandler, TCRIOHandler* newHandler,
                              rtl::TComponent* connection);
};

}  // namespace dac
