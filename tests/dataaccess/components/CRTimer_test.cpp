// The message-queue timer: when a system timer is armed, firing on the creating thread while it
// pumps, handler errors, and destruction.
#include "dataaccess/components/CRTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace dac {
namespace {

// Pumps the calling thread's queue until done() or the time is up.
template <class Done>
bool PumpUntil(Done done, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        rtl::WaitAndProcessMessages(20);
    }
    return true;
}

void PumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) rtl::WaitAndProcessMessages(10);
}

TEST(Win32Timer, OnlyAnIntervalAnEnabledSwitchAndAHandlerTogetherArmIt) {
    TWin32Timer t;
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000);
    EXPECT_FALSE(t.Armed());
    t.SetOnTimer([](rtl::TObject*) {});
    EXPECT_TRUE(t.Armed());
    t.SetInterval(0);
    EXPECT_FALSE(t.Armed());
    t.SetInterval(-5);
    EXPECT_FALSE(t.Armed());
    t.SetInterval(50);
    EXPECT_TRUE(t.Armed());
    t.SetEnabled(false);
    EXPECT_FALSE(t.Armed());
    t.SetEnabled(true);
    t.SetOnTimer(nullptr);
    EXPECT_FALSE(t.Armed());
}

TEST(Win32Timer, FiresWithItselfAsSenderWhileTheThreadPumps) {
    TWin32Timer t;
    int fired = 0;
    rtl::TObject* sender = nullptr;
    t.SetInterval(20);
    t.SetOnTimer([&](rtl::TObject* s) {
        ++fired;
        sender = s;
    });
    EXPECT_TRUE(PumpUntil([&] { return fired >= 3; }));
    EXPECT_EQ(sender, &t);
    // Switched off, it stays quiet.
    t.SetEnabled(false);
    const int before = fired;
    PumpFor(100);
    EXPECT_EQ(fired, before);
}

TEST(Win32Timer, AChangedIntervalReArms) {
    TWin32Timer t;
    int fired = 0;
    t.SetInterval(20);
    t.SetOnTimer([&](rtl::TObject*) { ++fired; });
    t.SetInterval(60000);
    PumpFor(150);
    EXPECT_EQ(fired, 0);
}

TEST(Win32Timer, FiresOnTheThreadThatMadeItAndNotWithoutItsPump) {
    std::atomic<int> fired{0};
    std::thread::id firedOn;
    std::atomic<bool> made{false}, stop{false};
    std::thread owner([&] {
        TWin32Timer t;
        t.SetInterval(10);
        t.SetOnTimer([&](rtl::TObject*) {
            firedOn = std::this_thread::get_id();
            ++fired;
        });
        made = true;
        // The owner does not pump yet: nothing may fire, whatever other threads do.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(fired.load(), 0);
        while (!stop) rtl::WaitAndProcessMessages(10);
    });
    while (!made) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    PumpFor(50);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (fired.load() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    const std::thread::id ownerId = owner.get_id();
    owner.join();
    EXPECT_GT(fired.load(), 0);
    EXPECT_EQ(firedOn, ownerId);
}

TEST(Win32Timer, AFailingHandlerGoesToTheApplicationHandlerAndTheTimerGoesOn) {
    int reported = 0;
    rtl::SetApplicationExceptionHandler([&](std::exception_ptr) { ++reported; });
    {
        TWin32Timer t;
        int fired = 0;
        t.SetInterval(10);
        t.SetOnTimer([&](rtl::TObject*) {
            ++fired;
            throw rtl::Exception("handler failed");
        });
        EXPECT_TRUE(PumpUntil([&] { return fired >= 2; }));
        EXPECT_EQ(reported, fired);
    }
    rtl::SetApplicationExceptionHandler(nullptr);
}

TEST(Win32Timer, AFreedTimerLeavesNothingBehindInTheQueue) {
    int fired = 0;
    auto t = std::make_unique<TWin32Timer>();
    const rtl::HWND handle = t->Handle();
    t->SetInterval(10);
    t->SetOnTimer([&](rtl::TObject*) { ++fired; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    t.reset();
    EXPECT_FALSE(rtl::IsWindow(handle));
    PumpFor(60);
    EXPECT_EQ(fired, 0);
}

}  // namespace
}  // namespace dac
