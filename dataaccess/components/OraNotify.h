// The change-notification component: datasets that share it register the queries they run, and
// the database's reports of later changes reach OnChange and, for datasets with
// Options.ReflectChangeNotify, re-read or remove the changed rows in the open dataset.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Objects.h"

namespace dac {

class TOraSession;
class TOraDataSet;

using TOraChangeNotificationEvent = std::function<void(
    rtl::TObject* sender, TChangeNotifyEventType notifyType, TNotifyTableChanges* tableChanges)>;

class TOraChangeNotification : public rtl::TComponent {
public:
    explicit TOraChangeNotification(rtl::TComponent* owner = nullptr);
    // Removes a registration first (through the component's session; without one the driver
    // object frees it), leaves the session's list and unlinks every dataset, last first.
    ~TOraChangeNotification() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    bool Persistent() const { return persistent_; }
    void SetPersistent(bool value);
    int32_t TimeOut() const { return timeOut_; }
    void SetTimeOut(int32_t value);
    TChangeNotifyDMLOperations Operations() const { return operations_; }
    void SetOperations(TChangeNotifyDMLOperations value);
    TOraChangeNotificationEvent OnChange;

    // Removes the server registration through session, or the component's own session when
    // null: "Session is not defined" when there is neither.
    void Unregister(TOraSession* session = nullptr);
    bool Registered() const { return driver_->IsRegistered(); }

    TOraSession* Session() const { return session_; }
    // Leaves the old session's list and enters the new one's.
    void SetSession(TOraSession* value);
    // The datasets that use the component, in the order they were linked.
    const std::vector<TOraDataSet*>& DataSets() const { return dataSets_; }
    void AddDataSet(TOraDataSet* dataSet);
    void RemoveDataSet(TOraDataSet* dataSet);
    TOCIChangeNotification* GetIChangeNotification() const { return driver_.get(); }

    // The driver object's change callback, on the thread that registered.
    void DoChange(TChangeNotifyEventType notifyType, TNotifyTableChanges* tableChanges);

private:
    bool enabled_ = true;
    bool persistent_ = false;
    int32_t timeOut_ = 0;
    TChangeNotifyDMLOperations operations_ = AllDMLOperations;
    TOraSession* session_ = nullptr;
    std::vector<TOraDataSet*> dataSets_;
    std::unique_ptr<TOCIChangeNotification> driver_;
};

}  // namespace dac
