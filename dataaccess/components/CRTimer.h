// A timer component that needs no forms: it runs on a message handle of its own on the
// per-thread message queue, so it fires on the thread that created it, and only while that
// thread pumps its queue (GetMessage/DispatchMessage, ProcessMessages, WaitAndProcessMessages).
#pragma once

#include "platform/rtl/Objects.h"
#include "platform/rtl/Threads.h"

namespace dac {

class TWin32Timer : public rtl::TComponent {
public:
    explicit TWin32Timer(rtl::TComponent* owner = nullptr);
    ~TWin32Timer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    // Milliseconds; 0 (or less) arms nothing.
    int Interval() const { return interval_; }
    void SetInterval(int value);
    const rtl::TNotifyEvent& OnTimer() const { return onTimer_; }
    // Any assignment re-arms, also of the same handler.
    void SetOnTimer(rtl::TNotifyEvent value);

    // True while a system timer is set for the component.
    bool Armed() const { return armed_; }
    rtl::HWND Handle() const { return handle_; }

protected:
    // Fires OnTimer(this) when assigned.
    virtual void Timer();

private:
    // Kills timer 1 and sets it again when the interval, the switch and the handler allow;
    // EOutOfResources "Not enough timers available" when the queue refuses it.
    void UpdateTimer();
    void WndProc(rtl::TMessage& message);

    bool enabled_ = true;
    int interval_ = 1000;
    rtl::TNotifyEvent onTimer_;
    rtl::HWND handle_ = 0;
    bool armed_ = false;
};

}  // namespace dac
