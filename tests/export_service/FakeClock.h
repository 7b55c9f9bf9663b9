// A clock for the schedule tests: Now stands still until Sleep moves it on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "export_service/uSchedule.h"
#include "platform/rtl/DateTime.h"

namespace exptest {

class TFakeClock : public svc::TRunClock {
public:
    explicit TFakeClock(rtl::TDateTime start) : ms_(static_cast<int64_t>(start * 86400000.0 + 0.5)) {}

    rtl::TDateTime Now() override { return static_cast<double>(ms_.load()) / 86400000.0; }
    void Sleep(uint32_t milliseconds) override {
        ms_ += milliseconds;
        ++sleeps;
        slept += milliseconds;
        if (onSleep) onSleep();
    }

    std::atomic<int64_t> sleeps{0};
    std::atomic<int64_t> slept{0};
    std::function<void()> onSleep;

private:
    std::atomic<int64_t> ms_;  // milliseconds since 30 December 1899
};

}  // namespace exptest
