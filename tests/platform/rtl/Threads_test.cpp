#include "platform/rtl/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace rtl;

namespace {

// Pumps the calling thread's queue until done() or a generous deadline.
template <class Pred>
bool PumpUntil(Pred done, uint32_t ms = 5000) {
    const uint64_t end = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > end) return false;
        WaitAndProcessMessages(20);
    }
    return true;
}

class LambdaThread : public TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
    ~LambdaThread() override {
        Terminate();
        if (Started() && !Finished() && !FreeOnTerminate) WaitFor();
        if (destroyed) *destroyed = true;
    }
    using TThread::SetReturnValue;
    std::atomic<bool>* destroyed = nullptr;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
};

// Installs a recording exception handler for one test.
class HandlerScope {
public:
    HandlerScope() {
        SetApplicationExceptionHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const Exception& x) {
                messages.push_back(x.Message());
            }
        });
    }
    ~HandlerScope() { SetApplicationExceptionHandler(nullptr); }
    std::vector<std::string> messages;
};

}  // namespace

TEST(Ticks, CountAndWrap) {
    const uint32_t a = GetTickCount();
    Sleep(30);
    EXPECT_GE(GetTickDiff(a, GetTickCount()), 25u);
    EXPECT_EQ(GetTickDiff(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_LE(GetTickDiff(static_cast<uint32_t>(GetTickCount64()), GetTickCount()), 1u);
    EXPECT_EQ(MainThreadID(), GetCurrentThreadId());  // the test body runs on the first thread
    uint32_t other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, GetCurrentThreadId());
    EXPECT_NE(other, 0u);
}

TEST(Interlocked, CountsFromManyThreads) {
    Integer counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(counter);
                InterlockedIncrement(counter);
                InterlockedDecrement(counter);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(InterlockedIncrement(counter), 40001);
    EXPECT_EQ(InterlockedExchangeAdd(counter, 9), 40001);
    EXPECT_EQ(InterlockedExchange(counter, 5), 40010);
    EXPECT_EQ(InterlockedCompareExchange(counter, 7, 4), 5);  // no match: unchanged
    EXPECT_EQ(InterlockedCompareExchange(counter, 7, 5), 5);
    EXPECT_EQ(counter, 7);
}

TEST(Sync, CriticalSectionIsReentrantAndExclusive) {
    TCriticalSection cs;
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter());  // the owner may take it again
    cs.Leave();
    bool otherGot = true;
    std::thread([&] { otherGot = cs.TryEnter(); }).join();
    EXPECT_FALSE(otherGot);
    cs.Leave();

    int plain = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                TCriticalSectionLock hold(cs);
                ++plain;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(plain, 20000);
}

TEST(Sync, MutexWaitsWithTimeoutAndChecksTheOwner) {
    TMutex m;
    EXPECT_EQ(m.WaitFor(0), wrSignaled);
    EXPECT_EQ(m.WaitFor(0), wrSignaled);  // re-entrant
    TWaitResult other = wrError;
    std::thread([&] { other = m.WaitFor(30); }).join();
    EXPECT_EQ(other, wrTimeout);
    std::thread([&] {
        try {
            m.Release();
            other = wrError;
        } catch (const EInvalidOperation&) {
            other = wrAbandoned;
        }
    }).join();
    EXPECT_EQ(other, wrAbandoned);  // a stranger cannot release it
    m.Release();
    std::thread([&] { other = m.WaitFor(0); }).join();
    EXPECT_EQ(other, wrTimeout);  // still held once
    m.Release();
    std::thread([&] {
        other = m.WaitFor(1000);
        m.Release();
    }).join();
    EXPECT_EQ(other, wrSignaled);
    EXPECT_THROW(m.Release(), EInvalidOperation);

    TMutex owned(true);
    std::thread([&] { other = owned.WaitFor(0); }).join();
    EXPECT_EQ(other, wrTimeout);

    // An owner that ends while holding it abandons it to the next waiter.
    TMutex left;
    std::thread([&] { left.WaitFor(0); }).join();
    EXPECT_EQ(left.WaitFor(2000), wrAbandoned);
    EXPECT_EQ(left.WaitFor(0), wrSignaled);  // now held by this thread, twice
    left.Release();
    left.Release();
    EXPECT_THROW(left.Release(), EInvalidOperation);
}

TEST(Sync, EventStates) {
    struct Case {
        bool manual, initial;
        std::vector<int> ops;  // 1 set, 2 reset, 3 pulse (nobody waits), 0 wait(0)
        std::vector<TWaitResult> waits;
    } cases[] = {
        {true, false, {0}, {wrTimeout}},
        {true, true, {0, 0}, {wrSignaled, wrSignaled}},
        {true, false, {1, 0, 0, 2, 0}, {wrSignaled, wrSignaled, wrTimeout}},
        {false, true, {0, 0}, {wrSignaled, wrTimeout}},
        {false, false, {1, 0, 0}, {wrSignaled, wrTimeout}},
        {false, false, {1, 1, 0, 0}, {wrSignaled, wrTimeout}},  // sets do not accumulate
        {true, true, {3, 0}, {wrTimeout}},                      // a pulse leaves it reset
        {false, false, {3, 0}, {wrTimeout}},                    // and frees nobody later
    };
    int n = 0;
    for (const auto& c : cases) {
        TEvent e(c.manual, c.initial);
        std::vector<TWaitResult> got;
        for (int op : c.ops) {
            if (op == 1) e.SetEvent();
            if (op == 2) e.ResetEvent();
            if (op == 3) e.PulseEvent();
            if (op == 0) got.push_back(e.WaitFor(0));
        }
        EXPECT_EQ(got, c.waits) << "case " << n;
        ++n;
    }
}

TEST(Sync, EventReleasesWaiters) {
    for (bool manual : {true, false}) {
        for (bool pulse : {false, true}) {
            TEvent e(manual, false);
            std::atomic<int> released{0}, waiting{0};
            std::vector<std::thread> threads;
            for (int i = 0; i < 3; ++i)
                threads.emplace_back([&] {
                    ++waiting;
                    if (e.WaitFor(pulse ? 600 : 400) == wrSignaled) ++released;
                });
            while (waiting < 3) Sleep(1);
            Sleep(200);  // let them block
            if (pulse) {
                e.PulseEvent();
            } else {
                e.SetEvent();
            }
            for (auto& t : threads) t.join();
            EXPECT_EQ(released, manual ? 3 : 1) << "manual=" << manual << " pulse=" << pulse;
            EXPECT_EQ(e.WaitFor(0), manual && !pulse ? wrSignaled : wrTimeout);
        }
    }
}

TEST(Threads, RunsTerminatesAndReturns) {
    LambdaThread t([](LambdaThread& self) {
        while (!self.Terminated()) Sleep(1);
        self.SetReturnValue(42);
    });
    EXPECT_FALSE(t.Started());
    t.Start();
    EXPECT_NE(t.ThreadID(), 0u);
    EXPECT_NE(t.ThreadID(), GetCurrentThreadId());
    EXPECT_EQ(t.WaitFor(30), wrTimeout);
    t.Terminate();
    EXPECT_EQ(t.WaitFor(), 42u);
    EXPECT_TRUE(t.Finished());
    EXPECT_FALSE(t.FatalException());
    EXPECT_THROW(t.Start(), EThread);
}

TEST(Threads, ExceptionInExecuteIsKept) {
    LambdaThread t([](LambdaThread&) { throw EConvertError("bad value"); });
    t.Start();
    t.WaitFor();
    ASSERT_TRUE(t.FatalException());
    try {
        std::rethrow_exception(t.FatalException());
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "bad value");
    }
}

TEST(Threads, OnTerminateArrivesOnTheOwningThreadThroughThePump) {
    const uint32_t me = GetCurrentThreadId();
    std::atomic<uint32_t> ranOn{0};
    TObject* sender = nullptr;
    LambdaThread t([](LambdaThread&) {});
    t.OnTerminate = [&](TObject* s) {
        sender = s;
        ranOn = GetCurrentThreadId();
    };
    t.Start();
    Sleep(50);
    EXPECT_FALSE(t.Finished());  // it waits for the owner to pump
    EXPECT_EQ(ranOn, 0u);
    ASSERT_TRUE(PumpUntil([&] { return ranOn != 0; }));
    EXPECT_EQ(ranOn, me);
    EXPECT_EQ(sender, static_cast<TObject*>(&t));
    EXPECT_EQ(sender->ClassName(), "LambdaThread");
    t.WaitFor();
}

TEST(Threads, WaitForOnTheOwnerServesSynchronize) {
    const uint32_t me = GetCurrentThreadId();
    std::vector<uint32_t> ranOn;
    LambdaThread t([&](LambdaThread& self) {
        for (int i = 0; i < 3; ++i) self.Synchronize([&] { ranOn.push_back(GetCurrentThreadId()); });
        self.Synchronize([] { throw EDatabaseError("from the owner"); });
    });
    t.OnTerminate = [&](TObject*) { ranOn.push_back(GetCurrentThreadId() + 1); };
    t.Start();
    t.WaitFor();  // no pump: waiting serves the requests
    EXPECT_EQ(ranOn, (std::vector<uint32_t>{me, me, me, me + 1}));
    ASSERT_TRUE(t.FatalException());  // the synchronized exception came back to the thread
    EXPECT_THROW(std::rethrow_exception(t.FatalException()), EDatabaseError);
}

TEST(Threads, FreeOnTerminateDeletesItself) {
    std::atomic<bool> destroyed{false};
    bool notified = false;
    auto* t = new LambdaThread([](LambdaThread&) {});
    t->destroyed = &destroyed;
    t->FreeOnTerminate = true;
    t->OnTerminate = [&](TObject*) { notified = true; };
    t->Start();
    EXPECT_THROW(t->WaitFor(), EInvalidOperation);
    ASSERT_TRUE(PumpUntil([&] { return destroyed.load(); }));
    EXPECT_TRUE(notified);
}

// A self-freeing thread that ends at once, with no end handler to hold it: Start must not touch
// the object once the thread may have freed it. Before, Start could still be waiting on the
// thread's own condition variable (a use after free that AddressSanitizer reports).
TEST(Threads, SelfFreeingThreadThatEndsAtOnceOutlivesItsStart) {
    std::atomic<int> destroyed{0};
    constexpr int kThreads = 200;
    std::vector<std::atomic<bool>> flags(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        auto* t = new LambdaThread([](LambdaThread&) {});
        t->destroyed = &flags[static_cast<size_t>(i)];
        t->FreeOnTerminate = true;
        t->Start();
    }
    ASSERT_TRUE(PumpUntil([&] {
        destroyed = 0;
        for (auto& f : flags) destroyed += f.load() ? 1 : 0;
        return destroyed.load() == kThreads;
    }));
}

TEST(Threads, SynchronizeFailsWhenTheOwnerIsGone) {
    LambdaThread* t = nullptr;
    TEvent ownerGone(true, false);
    std::atomic<bool> raised{false};
    std::thread owner([&] {
        t = new LambdaThread([&](LambdaThread& self) {
            ownerGone.WaitFor(5000);
            try {
                self.Synchronize([] {});
            } catch (const EThread&) {
                raised = true;
            }
        });
        t->Start();
    });
    owner.join();
    ownerGone.SetEvent();
    t->WaitFor();  // from a stranger thread; must not hang
    EXPECT_TRUE(raised);
    delete t;
}

TEST(MessageQueue, PostedMessagesRunOnTheOwnerInOrder) {
    const uint32_t me = GetCurrentThreadId();
    std::vector<std::pair<UINT, WPARAM>> got;
    std::vector<uint32_t> threads;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        got.emplace_back(m.Msg, m.WParam);
        threads.push_back(GetCurrentThreadId());
    });
    ASSERT_NE(wnd, 0u);
    EXPECT_TRUE(IsWindow(wnd));
    std::thread([&] {
        for (WPARAM i = 1; i <= 3; ++i) EXPECT_TRUE(PostMessage(wnd, WM_USER + 1, i, 0));
    }).join();
    EXPECT_TRUE(got.empty());  // nothing runs until the owner pumps
    ProcessMessages();
    EXPECT_EQ(got,
              (std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 1, 1}, {WM_USER + 1, 2}, {WM_USER + 1, 3}}));
    EXPECT_EQ(threads, std::vector<uint32_t>(3, me));

    // Deallocation drops what is pending and turns the handle stale.
    PostMessage(wnd, WM_USER, 9, 0);
    DeallocateHWnd(wnd);
    got.clear();
    ProcessMessages();
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(PostMessage(wnd, WM_USER, 0, 0));
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_EQ(SetTimer(wnd, 1, 10), 0u);
}

TEST(MessageQueue, PeekAndRemoveOneSpecificMessage) {
    std::vector<std::pair<UINT, WPARAM>> got;
    HWND a = AllocateHWnd([&](TMessage& m) { got.emplace_back(m.Msg, m.WParam); });
    HWND b = AllocateHWnd([&](TMessage& m) { got.emplace_back(m.Msg + 100, m.WParam); });
    PostMessage(a, WM_USER, 1, 0);
    PostMessage(b, WM_USER, 2, 0);
    PostMessage(a, WM_USER + 4, 3, 0);
    PostMessage(a, WM_USER, 4, 0);

    EXPECT_TRUE(RemovePendingMessage(a, WM_USER));  // the first WM_USER of a only
    TMsg msg;
    EXPECT_TRUE(PeekMessage(msg, a, WM_USER + 4, WM_USER + 4, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_TRUE(PeekMessage(msg, a, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_EQ(DispatchMessage(msg), 0);
    EXPECT_FALSE(PeekMessage(msg, a, WM_USER, WM_USER, PM_NOREMOVE));
    EXPECT_FALSE(RemovePendingMessage(a, WM_USER));
    ProcessMessages();
    EXPECT_EQ(got,
              (std::vector<std::pair<UINT, WPARAM>>{{WM_USER, 4}, {WM_USER + 100, 2}, {WM_USER + 4, 3}}));
    DeallocateHWnd(a);
    DeallocateHWnd(b);
}

TEST(MessageQueue, TimersFireOnlyThroughThePump) {
    int ticks = 0;
    int otherTicks = 0;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_TIMER && m.WParam == 7) ++ticks;
        if (m.Msg == WM_TIMER && m.WParam == 8) ++otherTicks;
    });
    EXPECT_EQ(SetTimer(wnd, 7, 10), 7u);
    Sleep(60);
    EXPECT_EQ(ticks, 0);
    ProcessMessages();
    EXPECT_EQ(ticks, 1);  // overdue several times, but one pending message only
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 4; }));

    EXPECT_EQ(SetTimer(wnd, 8, 100000), 8u);
    EXPECT_TRUE(KillTimer(wnd, 7));
    EXPECT_FALSE(KillTimer(wnd, 7));
    const int before = ticks;
    Sleep(40);
    ProcessMessages();
    EXPECT_EQ(ticks, before);
    EXPECT_EQ(otherTicks, 0);

    // Setting an existing id restarts it with the new interval.
    EXPECT_EQ(SetTimer(wnd, 8, 10), 8u);
    ASSERT_TRUE(PumpUntil([&] { return otherTicks >= 1; }));
    DeallocateHWnd(wnd);
}

TEST(MessageQueue, WaitAndProcessWakesOnPostAndTimesOut) {
    std::atomic<int> got{0};
    HWND wnd = AllocateHWnd([&](TMessage&) { ++got; });
    const uint64_t start = GetTickCount64();
    EXPECT_FALSE(WaitAndProcessMessages(40));
    EXPECT_GE(GetTickCount64() - start, 35u);
    std::thread poster([&] {
        Sleep(30);
        PostMessage(wnd, WM_USER, 0, 0);
    });
    EXPECT_TRUE(WaitAndProcessMessages(5000));
    EXPECT_EQ(got, 1);
    poster.join();
    DeallocateHWnd(wnd);
}

TEST(MessageQueue, HandlerExceptionsGoToTheApplicationHandler) {
    HandlerScope scope;
    int after = 0;
    HWND wnd = AllocateHWnd([&](TMessage& m) {
        if (m.WParam == 1) throw EDatabaseError("handler failed");
        ++after;
    });
    PostMessage(wnd, WM_USER, 1, 0);
    PostMessage(wnd, WM_USER, 2, 0);
    ProcessMessages();
    EXPECT_EQ(scope.messages, std::vector<std::string>{"handler failed"});
    EXPECT_EQ(after, 1);  // the pump went on
    DeallocateHWnd(wnd);
}

TEST(MessageQueue, SendMessageWaitsForTheOwnersResult) {
    HWND wnd = AllocateHWnd([](TMessage& m) { m.Result = static_cast<LRESULT>(m.WParam * 2); });
    EXPECT_EQ(SendMessage(wnd, WM_USER, 5, 0), 10);  // same thread: at once
    std::atomic<LRESULT> result{-1};
    std::thread sender([&] { result = SendMessage(wnd, WM_USER, 21, 0); });
    ASSERT_TRUE(PumpUntil([&] { return result.load() != -1; }));
    sender.join();
    EXPECT_EQ(result, 42);
    DeallocateHWnd(wnd);
    EXPECT_EQ(SendMessage(wnd, WM_USER, 1, 0), 0);
}

TEST(MessageQueue, ThreadMessageLoopEndsOnQuit) {
    TEvent ready(true, false);
    std::atomic<uint32_t> loopThread{0};
    std::vector<WPARAM> seen;
    WPARAM exitCode = 0;
    std::thread loop([&] {
        TMsg msg;
        PeekMessage(msg, 0, 0, 0, PM_NOREMOVE);  // makes the queue
        loopThread = GetCurrentThreadId();
        ready.SetEvent();
        while (GetMessage(msg)) seen.push_back(msg.wParam);
        exitCode = msg.wParam;
    });
    ASSERT_EQ(ready.WaitFor(5000), wrSignaled);
    EXPECT_TRUE(PostThreadMessage(loopThread, WM_USER, 1, 0));
    EXPECT_TRUE(PostThreadMessage(loopThread, WM_USER, 2, 0));
    EXPECT_TRUE(PostThreadMessage(loopThread, WM_QUIT, 3, 0));
    loop.join();
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
    EXPECT_EQ(exitCode, 3u);
    EXPECT_FALSE(PostThreadMessage(loopThread, WM_USER, 4, 0));  // that queue has gone
}

TEST(MessageQueue, ProcessMessagesStopsAtQuit) {
    int got = 0;
    HWND wnd = AllocateHWnd([&](TMessage&) { ++got; });
    PostMessage(wnd, WM_USER, 0, 0);
    PostQuitMessage(0);
    PostMessage(wnd, WM_USER, 0, 0);
    ProcessMessages();
    EXPECT_EQ(got, 1);
    EXPECT_TRUE(QuitPending());
    TMsg msg;
    EXPECT_FALSE(GetMessage(msg));
    EXPECT_FALSE(QuitPending());
    ProcessMessages();
    EXPECT_EQ(got, 2);

    // With a quit pending, waiting neither spins nor dispatches, but still serves Synchronize.
    SetTimer(wnd, 1, 10);
    PostQuitMessage(0);
    bool synced = false;
    LambdaThread t([&](LambdaThread& self) { self.Synchronize([&] { synced = true; }); });
    t.Start();
    const uint64_t start = GetTickCount64();
    int rounds = 0;
    while (GetTickCount64() - start < 100) {
        WaitAndProcessMessages(50);
        ++rounds;
    }
    EXPECT_LE(rounds, 10);  // a spinning wait would run thousands of rounds
    EXPECT_TRUE(synced);
    EXPECT_EQ(got, 2);
    t.WaitFor();
    EXPECT_FALSE(GetMessage(msg));
    DeallocateHWnd(wnd);
}
