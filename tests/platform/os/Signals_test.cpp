// The stop-signal watcher: signals raised in any thread reach the handler on the watcher's
// thread, one watcher at a time, and the earlier dispositions come back afterwards.
#include "platform/os/Signals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Threads.h"

namespace {

std::atomic<int> g_earlier{0};

void EarlierHandler(int number) {
    g_earlier = number;
}

TEST(StopSignalWatcher, TakesSignalsAndRestoresTheEarlierHandlers) {
    struct sigaction earlier {
    }, saved[2];
    earlier.sa_handler = EarlierHandler;
    sigemptyset(&earlier.sa_mask);
    sigaction(SIGTERM, &earlier, &saved[0]);
    sigaction(SIGINT, &earlier, &saved[1]);
    std::atomic<int> got{0}, count{0};
    std::thread::id self = std::this_thread::get_id(), where;
    {
        os::TStopSignalWatcher watcher([&](int number) {
            where = std::this_thread::get_id();
            got = number;
            ++count;
        });
        EXPECT_THROW(os::TStopSignalWatcher([](int) {}), rtl::EInvalidOperation);
        ::raise(SIGTERM);
        for (int i = 0; i < 500 && count < 1; ++i) rtl::Sleep(2);
        EXPECT_EQ(got, SIGTERM);
        std::thread([] { ::raise(SIGINT); }).join();
        for (int i = 0; i < 500 && count < 2; ++i) rtl::Sleep(2);
        EXPECT_EQ(got, SIGINT);
        EXPECT_NE(where, self);
        EXPECT_EQ(g_earlier, 0);
    }
    ::raise(SIGINT);
    EXPECT_EQ(g_earlier, SIGINT);
    EXPECT_EQ(count, 2);
    {
        os::TStopSignalWatcher again([&](int) { ++count; });  // a new one after the last
    }
    sigaction(SIGTERM, &saved[0], nullptr);
    sigaction(SIGINT, &saved[1], nullptr);
}

}  // namespace
