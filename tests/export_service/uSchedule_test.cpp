// The export schedule: the time list's firing rules (each time once a day, past times wait for
// the next day, several due times give one run, an unordered list) and the waits of both modes,
// all on a clock that moves only when the waiting sleeps.
#include "export_service/uSchedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "tests/export_service/FakeClock.h"

using exptest::TFakeClock;
using svc::TRunWaiter;
using svc::TSchedule;

namespace {

rtl::TDateTime At(int day, int hour, int minute, int second = 0) {
    return rtl::EncodeDate(2026, 3, day) + rtl::EncodeTime(hour, minute, second, 0);
}

std::string Show(rtl::TDateTime t) {
    return rtl::FormatDateTime("dd hh:nn:ss", t);
}

// The moments at which the time-list waiter lets the first runs go.
std::vector<std::string> Runs(const std::string& timeList, rtl::TDateTime start, int runs) {
    TFakeClock clock(start);
    TRunWaiter waiter(1, timeList, 0, 0, clock);
    std::vector<std::string> out;
    for (int i = 0; i < runs; ++i) {
        if (!waiter.Wait([&] { return clock.Now() > start + 10; })) break;
        out.push_back(Show(clock.Now()));
    }
    return out;
}

}  // namespace

TEST(Schedule, TimeListFiresEachTimeOnceADay) {
    struct Case {
        const char* list;
        rtl::TDateTime start;
        std::vector<std::string> runs;
    };
    const Case cases[] = {
        // Started between the two times: the later one today, then both every day.
        {"08:00;12:00", At(10, 10, 0), {"10 12:00:00", "11 08:00:00", "11 12:00:00", "12 08:00:00"}},
        // Both already past: nothing before the next day.
        {"08:00;12:00", At(10, 13, 0), {"11 08:00:00", "11 12:00:00", "12 08:00:00"}},
        // A time equal to the start fires at the first look after it.
        {"10:00", At(10, 10, 0), {"10 10:00:05", "11 10:00:00"}},
        // The last second of the day fires after midnight when the looks straddle it.
        {"23:59:59", At(10, 23, 59, 57), {"11 00:00:02", "12 00:00:02"}},
        // Seconds and quoted items; items that are no time are left out.
        {" \"09:30:15\" ; nonsense;25:00; 18:45",
         At(10, 9, 0),
         {"10 09:30:15", "10 18:45:00", "11 09:30:15"}},
        // An unordered list: 08:00 stands behind 12:00 and waits for it.
        {"12:00;08:00", At(10, 7, 0), {"10 12:00:00", "11 12:00:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(Runs(c.list, c.start, static_cast<int>(c.runs.size())), c.runs);
    }
}

TEST(Schedule, SeveralDueTimesGiveOneRun) {
    TSchedule schedule("10:01;10:02;10:03", At(10, 10, 0));
    EXPECT_FALSE(schedule.Due(At(10, 10, 0, 30)));
    EXPECT_TRUE(schedule.Due(At(10, 10, 5)));
    EXPECT_FALSE(schedule.Due(At(10, 10, 6)));
    EXPECT_FALSE(schedule.Due(At(10, 23, 0)));
    for (const auto& entry : schedule.Entries()) EXPECT_FALSE(entry.Armed);
}

TEST(Schedule, ClockSetBackIsNotDue) {
    TSchedule schedule("10:01", At(10, 10, 0));
    EXPECT_TRUE(schedule.Due(At(10, 10, 2)));
    EXPECT_FALSE(schedule.Due(At(10, 10, 1)));
    EXPECT_EQ(schedule.LastCheck(), At(10, 10, 2)) << "a look into the past changes nothing";
}

TEST(Schedule, ListIsReadAndArmedAtCreation) {
    TSchedule schedule("07:00;  11:30 ;;x;23:00", At(10, 11, 30));
    ASSERT_EQ(schedule.Entries().size(), 3u);
    EXPECT_FALSE(schedule.Entries()[0].Armed) << "07:00 has passed";
    EXPECT_TRUE(schedule.Entries()[1].Armed) << "11:30 is now";
    EXPECT_TRUE(schedule.Entries()[2].Armed);
    EXPECT_EQ(schedule.CreationTime(), At(10, 11, 30));
    EXPECT_TRUE(TSchedule("", At(10, 0, 0)).Entries().empty());
}

TEST(Schedule, IntervalModeWaitsThePeriodInSecondSteps) {
    struct Case {
        int interval;
        int unit;  // RepeatEveryTimeHMS
        int64_t seconds;
    };
    const Case cases[] = {{5, 0, 5}, {5, 1, 300}, {1, 2, 3600}, {5, 3, 0}, {0, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.interval) + " x unit " + std::to_string(c.unit));
        TFakeClock clock(At(10, 10, 0));
        TRunWaiter waiter(0, "08:00", c.interval, c.unit, clock);
        EXPECT_FALSE(waiter.TimeListMode());
        EXPECT_EQ(waiter.PeriodSeconds(), c.seconds);
        int idles = 0;
        EXPECT_TRUE(waiter.Wait([] { return false; }, [&] { ++idles; }));
        EXPECT_EQ(clock.slept, c.seconds * 1000);
        EXPECT_EQ(clock.sleeps, c.seconds);
        EXPECT_EQ(idles, c.seconds) << "the idle work runs after every step";
    }
}

TEST(Schedule, StopDuringAnHourWaitEndsWithinASecond) {
    TFakeClock clock(At(10, 10, 0));
    TRunWaiter waiter(0, "", 1, 2, clock);
    bool stop = false;
    clock.onSleep = [&] { stop = clock.slept >= 1800 * 1000; };
    EXPECT_FALSE(waiter.Wait([&] { return stop; }));
    EXPECT_EQ(clock.slept, 1800 * 1000) << "the stop is seen after the step it came in";

    TRunWaiter listWaiter(1, "09:00", 0, 0, clock);
    const int64_t before = clock.slept;
    int looks = 0;
    EXPECT_FALSE(listWaiter.Wait([&] { return ++looks > 3; }));
    EXPECT_EQ(clock.slept - before, 3 * 5000) << "the time list is looked at every 5 s";
}
