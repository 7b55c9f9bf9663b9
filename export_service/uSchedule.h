// The time list of the export schedule: which listed times of day have come since the last look.
//
// Each listed time fires once a day. Times already past when the schedule is made wait for the
// next day; several times that come due together give one run; a list that is not in ascending
// order holds the entries after a later one back until that later time has passed. Times compare
// with a tolerance of one millisecond.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/uRunClock.h"
#include "platform/rtl/Types.h"

namespace svc {

// One listed time of day; armed while it has yet to fire today.
struct TTimeStamp {
    rtl::TDateTime Time = 0;
    bool Armed = false;
};

class TSchedule {
public:
    // timeList: times of day separated by ";" ("08:00;12:00"), each read as the platform reads a
    // time ("hh:nn[:ss[.zzz]]" with the time separator ":"); an item that is not a time is left
    // out. Items end at ";" and at blanks; an item in double quotes is taken whole.
    TSchedule(const std::string& timeList, rtl::TDateTime now);

    // True when a listed time has come since the last call (or since creation).
    bool Due(rtl::TDateTime now);

    rtl::TDateTime CreationTime() const { return creationTime_; }
    rtl::TDateTime LastCheck() const { return lastCheck_; }
    const std::vector<TTimeStamp>& Entries() const { return entries_; }

private:
    rtl::TDateTime creationTime_;
    rtl::TDateTime lastCheck_;
    std::vector<TTimeStamp> entries_;
};

// When the next export run starts: at the listed times of day (time-list mode, looked at every
// 5000 ms), or a period after the previous run ended (interval mode, waited in steps of 1000 ms
// so that a stop is seen within about a second).
class TRunWaiter {
public:
    static constexpr uint32_t kTimeListPollMs = 5000;
    static constexpr uint32_t kIntervalStepMs = 1000;

    // scheduleType 0 is interval mode with the period interval x its unit (repeatEveryTimeHMS 0
    // seconds, 1 minutes, 2 hours; any other unit gives a period of 0, which does not wait);
    // any other type is time-list mode, the schedule made now.
    TRunWaiter(int scheduleType, const std::string& timeList, int interval, int repeatEveryTimeHMS,
               TRunClock& clock);

    // Waits for the next run: true when it is due, false when terminated() said stop first.
    // idle, when given, runs between two looks (after every pause).
    bool Wait(const std::function<bool()>& terminated, const std::function<void()>& idle = {});

    bool TimeListMode() const { return schedule_ != nullptr; }
    // Interval mode: the period in seconds.
    int64_t PeriodSeconds() const { return period_; }

private:
    TRunClock& clock_;
    std::unique_ptr<TSchedule> schedule_;
    int64_t period_ = 0;
};

}  // namespace svc
