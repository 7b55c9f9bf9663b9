// The time list of the export schedule.
#include "export_service/uSchedule.h"

#include <algorithm>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Threads.h"

namespace svc {

namespace {

// The list's times are written with ":" whatever the machine's regional settings say.
const rtl::TFormatSettings& TimeListSettings() {
    static const rtl::TFormatSettings settings = [] {
        rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
        fs.TimeSeparator = ':';
        return fs;
    }();
    return settings;
}

// Later than the reference by more than the comparison tolerance.
bool TimeAfter(rtl::TDateTime time, rtl::TDateTime reference) {
    return rtl::CompareTime(time, reference) > 0;
}

}  // namespace

TSchedule::TSchedule(const std::string& timeList, rtl::TDateTime now) : creationTime_(now), lastCheck_(now) {
    rtl::TStringList items;
    items.SetDelimiter(';');
    items.SetQuoteChar('"');
    items.SetDelimitedText(timeList);
    for (int i = 0; i < items.Count(); ++i) {
        rtl::TDateTime time = -1;
        if (!rtl::TryStrToTime(items[i], time, TimeListSettings())) time = -1;
        if (time >= 0) entries_.push_back(TTimeStamp{time, false});
    }
    const rtl::TDateTime today = rtl::TimeOf(now);
    for (TTimeStamp& entry : entries_) entry.Armed = !TimeAfter(today, entry.Time);
}

bool TSchedule::Due(rtl::TDateTime now) {
    if (rtl::CompareDateTime(now, lastCheck_) <= 0) return false;
    bool due = false;
    if (!rtl::SameDate(now, lastCheck_)) {
        // What was still waiting yesterday fired at midnight; today every time waits again.
        for (TTimeStamp& entry : entries_) {
            due = due || entry.Armed;
            entry.Armed = true;
        }
        lastCheck_ = rtl::DateOf(now);
    }
    const rtl::TDateTime timeOfDay = rtl::TimeOf(now);
    for (TTimeStamp& entry : entries_) {
        if (TimeAfter(entry.Time, timeOfDay)) break;
        due = due || entry.Armed;
        entry.Armed = false;
    }
    lastCheck_ = now;
    return due;
}

TRunWaiter::TRunWaiter(int scheduleType, const std::string& timeList, int interval, int repeatEveryTimeHMS,
                       TRunClock& clock)
    : clock_(clock) {
    if (scheduleType != 0) {
        schedule_ = std::make_unique<TSchedule>(timeList, clock_.Now());
        return;
    }
    static const int64_t units[] = {1, 60, 3600};
    if (repeatEveryTimeHMS >= 0 && repeatEveryTimeHMS <= 2)
        period_ = int64_t{interval} * units[repeatEveryTimeHMS];
}

bool TRunWaiter::Wait(const std::function<bool()>& terminated, const std::function<void()>& idle) {
    const auto pause = [&](uint32_t milliseconds) {
        clock_.Sleep(milliseconds);
        if (idle) idle();
    };
    if (schedule_) {
        while (!terminated()) {
            if (schedule_->Due(clock_.Now())) return true;
            pause(kTimeListPollMs);
        }
        return false;
    }
    for (int64_t step = 0; step < period_; ++step) {
        if (terminated()) return false;
        pause(kIntervalStepMs);
    }
    return !terminated();
}

}  // namespace svc
