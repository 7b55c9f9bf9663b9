// The message-queue timer component.
#include "dataaccess/components/CRTimer.h"

namespace dac {

namespace {
constexpr uintptr_t TimerId = 1;
}

TWin32Timer::TWin32Timer(rtl::TComponent* owner) : rtl::TComponent(owner) {
    handle_ = rtl::AllocateHWnd([this](rtl::TMessage& m) { WndProc(m); });
}

TWin32Timer::~TWin32Timer() {
    Destroying();
    enabled_ = false;
    try {
        UpdateTimer();
    } catch (...) {
    }
    rtl::DeallocateHWnd(handle_);
}

void TWin32Timer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TWin32Timer::SetInterval(int value) {
    if (value == interval_) return;
    interval_ = value;
    UpdateTimer();
}

void TWin32Timer::SetOnTimer(rtl::TNotifyEvent value) {
    onTimer_ = std::move(value);
    UpdateTimer();
}

void TWin32Timer::UpdateTimer() {
    rtl::KillTimer(handle_, TimerId);
    armed_ = false;
    if (interval_ > 0 && enabled_ && onTimer_) {
        if (rtl::SetTimer(handle_, TimerId, static_cast<rtl::UINT>(interval_)) == 0)
            throw rtl::EOutOfResources("Not enough timers available");
        armed_ = true;
    }
}

void TWin32Timer::Timer() {
    if (onTimer_) onTimer_(this);
}

void TWin32Timer::WndProc(rtl::TMessage& message) {
    if (message.Msg != rtl::WM_TIMER) return;
    // A failing handler must not take the queue's dispatch down with it.
    try {
        Timer();
    } catch (...) {
        rtl::HandleApplicationException(std::current_exception());
    }
    message.Result = 1;
}

}  // namespace dac
