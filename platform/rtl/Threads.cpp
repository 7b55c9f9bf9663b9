#include "platform/rtl/Threads.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <set>
#include <vector>

namespace rtl {

// ---- ticks, sleeping, ids

uint64_t GetTickCount64() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(GetTickCount64());
}

void Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

// Bumped in a forked child, whose threads must ask the kernel for their ids again.
std::atomic<uint32_t> forkGeneration{1};

void CountFork() {
    forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

// Locks ask for the thread id on every acquire and release: it is asked of the kernel once per
// thread (and again after a fork), not once per call.
uint32_t GetCurrentThreadId() {
    static const int registered = ::pthread_atfork(nullptr, nullptr, CountFork);
    (void)registered;
    thread_local uint32_t id = 0;
    thread_local uint32_t generation = 0;
    const uint32_t now = forkGeneration.load(std::memory_order_relaxed);
    if (generation != now) {
        id = static_cast<uint32_t>(::gettid());
        generation = now;
    }
    return id;
}

uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(::getpid());
}

// On Linux the first thread's id is the process id.
uint32_t MainThreadID() {
    return static_cast<uint32_t>(::getpid());
}

// ---- atomic operations

Integer InterlockedIncrement(Integer& target) {
    return std::atomic_ref<Integer>(target).fetch_add(1) + 1;
}

Integer InterlockedDecrement(Integer& target) {
    return std::atomic_ref<Integer>(target).fetch_sub(1) - 1;
}

Integer InterlockedExchangeAdd(Integer& target, Integer value) {
    return std::atomic_ref<Integer>(target).fetch_add(value);
}

Integer InterlockedExchange(Integer& target, Integer value) {
    return std::atomic_ref<Integer>(target).exchange(value);
}

Integer InterlockedCompareExchange(Integer& target, Integer exchange, Integer comparand) {
    std::atomic_ref<Integer>(target).compare_exchange_strong(comparand, exchange);
    return comparand;  // the old value either way
}

// ---- TMutex

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(uint32_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

TMutex::TMutex(bool initialOwner) {
    if (initialOwner) {
        owner_ = GetCurrentThreadId();
        count_ = 1;
    }
}

namespace {

// A thread id that no longer names a live thread of this process.
bool ThreadGone(uint32_t tid) {
    return ::syscall(SYS_tgkill, ::getpid(), static_cast<pid_t>(tid), 0) != 0 && errno == ESRCH;
}

}  // namespace

TWaitResult TMutex::WaitFor(uint32_t timeoutMs) {
    const uint32_t me = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(mutex_);
    if (owner_ == me) {
        ++count_;
        return wrSignaled;
    }
    const uint64_t deadline = timeoutMs == INFINITE ? UINT64_MAX : GetTickCount64() + timeoutMs;
    // An owner that ended without releasing abandons the mutex: the waiter gets it, told so.
    // Owners are looked at every 100 ms while waiting.
    for (;;) {
        if (owner_ == 0) break;
        if (ThreadGone(owner_)) {
            owner_ = me;
            count_ = 1;
            return wrAbandoned;
        }
        const uint64_t now = GetTickCount64();
        if (deadline <= now) return wrTimeout;
        cv_.wait_for(lock, std::chrono::milliseconds(std::min<uint64_t>(deadline - now, 100)));
    }
    owner_ = me;
    count_ = 1;
    return wrSignaled;
}

void TMutex::Release() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (owner_ != GetCurrentThreadId())
        throw EInvalidOperation("Attempt to release mutex not owned by caller");
    if (--count_ == 0) {
        owner_ = 0;
        lock.unlock();
        cv_.notify_one();
    }
}

// ---- TEvent

TEvent::TEvent(bool manualReset, bool initialState) : manualReset_(manualReset), signaled_(initialState) {}

void TEvent::SetEvent() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signaled_ = true;
    }
    if (manualReset_) {
        cv_.notify_all();
    } else {
        cv_.notify_one();
    }
}

void TEvent::ResetEvent() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = false;
}

void TEvent::PulseEvent() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signaled_ = false;
        if (waiters_ == 0) return;
        ++pulses_;
        pulseTokens_ = manualReset_ ? waiters_ : 1;
    }
    cv_.notify_all();
}

TWaitResult TEvent::WaitFor(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (signaled_) {
        if (!manualReset_) signaled_ = false;
        return wrSignaled;
    }
    if (timeoutMs == 0) return wrTimeout;
    const uint64_t myPulse = pulses_;
    ++waiters_;
    auto released = [&] { return signaled_ || (pulses_ != myPulse && pulseTokens_ > 0); };
    bool ok;
    if (timeoutMs == INFINITE) {
        cv_.wait(lock, released);
        ok = true;
    } else {
        ok = cv_.wait_until(lock, DeadlineAfter(timeoutMs), released);
    }
    --waiters_;
    if (!ok) {
        if (waiters_ == 0) pulseTokens_ = 0;
        return wrTimeout;
    }
    if (signaled_) {
        if (!manualReset_) signaled_ = false;
    } else {
        --pulseTokens_;
    }
    if (waiters_ == 0) pulseTokens_ = 0;
    return wrSignaled;
}

// ---- application exception handler

namespace {

std::mutex& HandlerMutex() {
    static std::mutex m;
    return m;
}

TExceptionHandler& HandlerSlot() {
    static TExceptionHandler handler;
    return handler;
}

void DefaultHandler(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        std::fprintf(stderr, "Exception %s: %s\n", e.ClassName(), e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Exception: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown exception\n");
    }
}

}  // namespace

void SetApplicationExceptionHandler(TExceptionHandler handler) {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    HandlerSlot() = std::move(handler);
}

void HandleApplicationException(std::exception_ptr error) {
    TExceptionHandler handler;
    {
        std::lock_guard<std::mutex> lock(HandlerMutex());
        handler = HandlerSlot();
    }
    if (handler) {
        handler(error);
    } else {
        DefaultHandler(error);
    }
}

// ---- message queues

struct TSyncRequest {
    std::function<void()> method;
    bool waited = false;  // someone waits for the outcome
    std::exception_ptr error;
    bool done = false;
    std::mutex mutex;
    std::condition_variable cv;

    void Finish(std::exception_ptr e) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            error = e;
            done = true;
        }
        cv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return done; });
    }
};

struct TQueueTimer {
    HWND wnd;
    uintptr_t id;
    uint32_t interval;
    uint64_t due;
};

struct TMessageQueue {
    uint32_t threadId = 0;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<TMsg> messages;
    std::deque<std::shared_ptr<TSyncRequest>> syncs;
    std::vector<TQueueTimer> timers;
    uint64_t changes = 0;
    bool closed = false;
};

namespace {

struct TWindowEntry {
    std::shared_ptr<TWndMethod> handler;
    std::weak_ptr<TMessageQueue> queue;
};

struct TQueueRegistry {
    std::mutex mutex;
    std::map<uint32_t, std::weak_ptr<TMessageQueue>> byThread;
    std::map<HWND, TWindowEntry> windows;
    HWND nextWindow = 0x1000;
};

// Never destroyed: queues of threads that end during process exit still unregister.
TQueueRegistry& Registry() {
    static auto* registry = new TQueueRegistry;
    return *registry;
}

void CloseQueue(const std::shared_ptr<TMessageQueue>& q) {
    auto& reg = Registry();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.byThread.erase(q->threadId);
        for (auto it = reg.windows.begin(); it != reg.windows.end();) {
            if (it->second.queue.lock() == q) {
                it = reg.windows.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::deque<std::shared_ptr<TSyncRequest>> orphans;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->closed = true;
        orphans.swap(q->syncs);
        q->messages.clear();
        q->timers.clear();
    }
    for (auto& r : orphans) {
        r->Finish(std::make_exception_ptr(EThread("The thread that owns the message queue has ended")));
    }
}

struct TQueueHolder {
    std::shared_ptr<TMessageQueue> queue;
    ~TQueueHolder() {
        if (queue) CloseQueue(queue);
    }
};

thread_local TQueueHolder tlsQueue;

std::shared_ptr<TMessageQueue> CurrentQueue() {
    if (!tlsQueue.queue) {
        auto q = std::make_shared<TMessageQueue>();
        q->threadId = GetCurrentThreadId();
        auto& reg = Registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.byThread[q->threadId] = q;
        tlsQueue.queue = q;
    }
    return tlsQueue.queue;
}

std::shared_ptr<TMessageQueue> QueueOfWindow(HWND wnd) {
    auto& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.windows.find(wnd);
    return it == reg.windows.end() ? nullptr : it->second.queue.lock();
}

// Queues a request; false when the queue's thread has ended.
bool PostSync(TMessageQueue& q, const std::shared_ptr<TSyncRequest>& request) {
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.closed) return false;
        q.syncs.push_back(request);
        ++q.changes;
    }
    q.cv.notify_all();
    return true;
}

int RunSyncs(TMessageQueue& q) {
    int count = 0;
    for (;;) {
        std::shared_ptr<TSyncRequest> request;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            if (q.syncs.empty()) break;
            request = q.syncs.front();
            q.syncs.pop_front();
        }
        std::exception_ptr error;
        try {
            request->method();
        } catch (...) {
            error = std::current_exception();
        }
        if (error && !request->waited) HandleApplicationException(error);
        request->Finish(error);
        ++count;
    }
    return count;
}

bool Matches(const TMsg& m, HWND wnd, UINT filterMin, UINT filterMax) {
    if (wnd != 0 && m.hwnd != wnd) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return m.message >= filterMin && m.message <= filterMax;
}

uint64_t EarliestDue(const TMessageQueue& q) {
    uint64_t due = UINT64_MAX;
    for (const auto& t : q.timers) due = std::min(due, t.due);
    return due;
}

// Waits on q (locked) until its content changes, a timer falls due (when timers count) or the
// deadline passes.
void WaitForChange(TMessageQueue& q, std::unique_lock<std::mutex>& lock, uint64_t seen, uint64_t deadline,
                   bool timersCount = true) {
    for (;;) {
        if (q.changes != seen || !q.syncs.empty()) return;
        const uint64_t now = GetTickCount64();
        const uint64_t wake = timersCount ? std::min(deadline, EarliestDue(q)) : deadline;
        if (wake <= now) return;
        if (wake == UINT64_MAX) {
            q.cv.wait(lock);
        } else {
            q.cv.wait_for(lock, std::chrono::milliseconds(wake - now));
        }
    }
}

int ProcessPending(TMessageQueue& q) {
    int count = 0;
    std::set<std::pair<HWND, uintptr_t>> fired;
    for (;;) {
        count += RunSyncs(q);
        TMsg m;
        bool have = false;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            if (!q.messages.empty()) {
                if (q.messages.front().message == WM_QUIT) break;
                m = q.messages.front();
                q.messages.pop_front();
                have = true;
            } else {
                const uint64_t now = GetTickCount64();
                for (auto& t : q.timers) {
                    if (t.due <= now && fired.insert({t.wnd, t.id}).second) {
                        t.due = now + t.interval;
                        m = TMsg{t.wnd, WM_TIMER, t.id, 0};
                        have = true;
                        break;
                    }
                }
            }
        }
        if (!have) break;
        DispatchMessage(m);
        ++count;
    }
    return count;
}

}  // namespace

HWND AllocateHWnd(TWndMethod handler) {
    auto q = CurrentQueue();
    auto& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const HWND wnd = reg.nextWindow++;
    reg.windows[wnd] = TWindowEntry{std::make_shared<TWndMethod>(std::move(handler)), q};
    return wnd;
}

void DeallocateHWnd(HWND wnd) {
    std::shared_ptr<TMessageQueue> q;
    {
        auto& reg = Registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.windows.find(wnd);
        if (it == reg.windows.end()) return;
        q = it->second.queue.lock();
        reg.windows.erase(it);
    }
    if (!q) return;
    std::lock_guard<std::mutex> lock(q->mutex);
    std::erase_if(q->messages, [&](const TMsg& m) { return m.hwnd == wnd; });
    std::erase_if(q->timers, [&](const TQueueTimer& t) { return t.wnd == wnd; });
}

bool IsWindow(HWND wnd) {
    return QueueOfWindow(wnd) != nullptr;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto q = QueueOfWindow(wnd);
    if (!q) return false;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->closed) return false;
        q->messages.push_back(TMsg{wnd, msg, wParam, lParam});
        ++q->changes;
    }
    q->cv.notify_all();
    return true;
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto q = QueueOfWindow(wnd);
    if (!q) return 0;
    const TMsg m{wnd, msg, wParam, lParam};
    if (q->threadId == GetCurrentThreadId()) return DispatchMessage(m);
    LRESULT result = 0;
    auto request = std::make_shared<TSyncRequest>();
    request->waited = true;
    request->method = [&result, m] { result = DispatchMessage(m); };
    if (!PostSync(*q, request)) return 0;
    request->Wait();
    return result;
}

bool PostThreadMessage(uint32_t threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<TMessageQueue> q;
    {
        auto& reg = Registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.byThread.find(threadId);
        if (it != reg.byThread.end()) q = it->second.lock();
    }
    if (!q) return false;
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->closed) return false;
        q->messages.push_back(TMsg{0, msg, wParam, lParam});
        ++q->changes;
    }
    q->cv.notify_all();
    return true;
}

void PostQuitMessage(int exitCode) {
    auto q = CurrentQueue();
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->messages.push_back(TMsg{0, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
        ++q->changes;
    }
    q->cv.notify_all();
}

bool PeekMessage(TMsg& msg, HWND wnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    auto q = CurrentQueue();
    RunSyncs(*q);
    std::lock_guard<std::mutex> lock(q->mutex);
    for (auto it = q->messages.begin(); it != q->messages.end(); ++it) {
        if (!Matches(*it, wnd, filterMin, filterMax)) continue;
        msg = *it;
        if (removeFlags & PM_REMOVE) q->messages.erase(it);
        return true;
    }
    const uint64_t now = GetTickCount64();
    for (auto& t : q->timers) {
        const TMsg m{t.wnd, WM_TIMER, t.id, 0};
        if (t.due > now || !Matches(m, wnd, filterMin, filterMax)) continue;
        msg = m;
        if (removeFlags & PM_REMOVE) t.due = now + t.interval;
        return true;
    }
    return false;
}

bool GetMessage(TMsg& msg, HWND wnd, UINT filterMin, UINT filterMax) {
    auto q = CurrentQueue();
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(q->mutex);
            seen = q->changes;
        }
        if (PeekMessage(msg, wnd, filterMin, filterMax, PM_REMOVE)) return msg.message != WM_QUIT;
        std::unique_lock<std::mutex> lock(q->mutex);
        WaitForChange(*q, lock, seen, UINT64_MAX);
    }
}

LRESULT DispatchMessage(const TMsg& msg) {
    if (msg.hwnd == 0) return 0;
    std::shared_ptr<TWndMethod> handler;
    {
        auto& reg = Registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.windows.find(msg.hwnd);
        if (it == reg.windows.end()) return 0;
        handler = it->second.handler;
    }
    TMessage m{msg.message, msg.wParam, msg.lParam, 0};
    try {
        if (*handler) (*handler)(m);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    return m.Result;
}

bool RemovePendingMessage(HWND wnd, UINT msg) {
    auto q = CurrentQueue();
    std::lock_guard<std::mutex> lock(q->mutex);
    for (auto it = q->messages.begin(); it != q->messages.end(); ++it) {
        if (it->hwnd == wnd && it->message == msg) {
            q->messages.erase(it);
            return true;
        }
    }
    return false;
}

bool RemovePendingMessage(HWND wnd, UINT msg, WPARAM wParam) {
    auto q = QueueOfWindow(wnd);
    if (!q) return false;
    std::lock_guard<std::mutex> lock(q->mutex);
    auto it = std::find_if(q->messages.begin(), q->messages.end(), [&](const TMsg& m) {
        return m.hwnd == wnd && m.message == msg && m.wParam == wParam;
    });
    if (it == q->messages.end()) return false;
    q->messages.erase(it);
    return true;
}

uintptr_t SetTimer(HWND wnd, uintptr_t id, UINT intervalMs) {
    auto q = QueueOfWindow(wnd);
    if (!q) return 0;
    const uint32_t interval = std::max<uint32_t>(intervalMs, 10);
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        if (q->closed) return 0;
        const uint64_t due = GetTickCount64() + interval;
        auto it = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const TQueueTimer& t) { return t.wnd == wnd && t.id == id; });
        if (it != q->timers.end()) {
            it->interval = interval;
            it->due = due;
        } else {
            q->timers.push_back(TQueueTimer{wnd, id, interval, due});
        }
        ++q->changes;
    }
    q->cv.notify_all();
    return id;
}

bool KillTimer(HWND wnd, uintptr_t id) {
    auto q = QueueOfWindow(wnd);
    if (!q) return false;
    std::lock_guard<std::mutex> lock(q->mutex);
    return std::erase_if(q->timers, [&](const TQueueTimer& t) { return t.wnd == wnd && t.id == id; }) > 0;
}

void ProcessMessages() {
    ProcessPending(*CurrentQueue());
}

bool WaitAndProcessMessages(uint32_t timeoutMs) {
    auto q = CurrentQueue();
    {
        std::unique_lock<std::mutex> lock(q->mutex);
        const uint64_t deadline = timeoutMs == INFINITE ? UINT64_MAX : GetTickCount64() + timeoutMs;
        for (;;) {
            if (!q->syncs.empty()) break;
            // A pending WM_QUIT holds back messages and timers: wait the time out rather than spin.
            const bool quitFirst = !q->messages.empty() && q->messages.front().message == WM_QUIT;
            if (!quitFirst && !q->messages.empty()) break;
            const uint64_t now = GetTickCount64();
            if (deadline <= now || (!quitFirst && EarliestDue(*q) <= now)) break;
            WaitForChange(*q, lock, q->changes, deadline, !quitFirst);
        }
    }
    return ProcessPending(*q) > 0;
}

bool CheckSynchronize(uint32_t timeoutMs) {
    auto q = CurrentQueue();
    if (timeoutMs != 0) {
        std::unique_lock<std::mutex> lock(q->mutex);
        auto any = [&] { return !q->syncs.empty(); };
        if (timeoutMs == INFINITE) {
            q->cv.wait(lock, any);
        } else {
            q->cv.wait_until(lock, DeadlineAfter(timeoutMs), any);
        }
    }
    return RunSyncs(*q) > 0;
}

bool QuitPending() {
    auto q = CurrentQueue();
    std::lock_guard<std::mutex> lock(q->mutex);
    return std::any_of(q->messages.begin(), q->messages.end(),
                       [](const TMsg& m) { return m.message == WM_QUIT; });
}

// ---- TThread

TThread::TThread() : owner_(CurrentQueue()) {}

TThread::~TThread() {
    if (started_ && !finished_ && GetCurrentThreadId() != threadId_) {
        Terminate();
        WaitDone(false, 0);
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

void TThread::Start() {
    if (started_.exchange(true)) throw EThread("Thread already started");
    thread_ = std::thread([this] { Run(); });
    // The thread goes on only after this wait is over: a self-freeing thread that ends at once
    // must not free the object while Start still waits on it.
    std::unique_lock<std::mutex> lock(doneMutex_);
    doneCv_.wait(lock, [&] { return threadId_ != 0; });
    handleReady_ = true;
    doneCv_.notify_all();
}

void TThread::Run() {
    {
        std::unique_lock<std::mutex> lock(doneMutex_);
        threadId_ = GetCurrentThreadId();
        doneCv_.notify_all();
        doneCv_.wait(lock, [&] { return handleReady_; });
    }
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    try {
        DoTerminate();
    } catch (...) {
        if (!fatal_) fatal_ = std::current_exception();
    }
    const bool freeSelf = FreeOnTerminate;
    {
        std::lock_guard<std::mutex> lock(doneMutex_);
        finished_ = true;
    }
    doneCv_.notify_all();
    {
        // Wakes an owner waiting in WaitFor while serving synchronisation requests.
        std::lock_guard<std::mutex> lock(owner_->mutex);
    }
    owner_->cv.notify_all();
    if (freeSelf) {
        thread_.detach();
        Free(this);
    }
}

void TThread::Execute() {
    AbstractError();
}

void TThread::DoTerminate() {
    if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

bool TThread::WaitDone(bool bounded, uint32_t timeoutMs) {
    const uint64_t deadline = bounded && timeoutMs != INFINITE ? GetTickCount64() + timeoutMs : UINT64_MAX;
    if (GetCurrentThreadId() == owner_->threadId) {
        // The owner keeps serving Synchronize and OnTerminate while it waits.
        for (;;) {
            RunSyncs(*owner_);
            std::unique_lock<std::mutex> lock(owner_->mutex);
            if (finished_) break;
            if (!owner_->syncs.empty()) continue;
            const uint64_t now = GetTickCount64();
            if (deadline <= now) return false;
            if (deadline == UINT64_MAX) {
                owner_->cv.wait(lock);
            } else {
                owner_->cv.wait_for(lock, std::chrono::milliseconds(deadline - now));
            }
        }
    } else {
        std::unique_lock<std::mutex> lock(doneMutex_);
        auto done = [&] { return finished_.load(); };
        if (deadline == UINT64_MAX) {
            doneCv_.wait(lock, done);
        } else if (!doneCv_.wait_for(lock, std::chrono::milliseconds(deadline - GetTickCount64()), done)) {
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(doneMutex_);
    if (thread_.joinable()) thread_.join();
    return true;
}

uint32_t TThread::WaitFor() {
    if (!started_) throw EThread("Thread not started");
    if (FreeOnTerminate) throw EInvalidOperation("Cannot wait for a thread that frees itself");
    if (GetCurrentThreadId() == threadId_) throw EThread("A thread cannot wait for itself");
    WaitDone(false, 0);
    return returnValue_;
}

TWaitResult TThread::WaitFor(uint32_t timeoutMs) {
    if (!started_) throw EThread("Thread not started");
    if (FreeOnTerminate) throw EInvalidOperation("Cannot wait for a thread that frees itself");
    if (GetCurrentThreadId() == threadId_) throw EThread("A thread cannot wait for itself");
    return WaitDone(true, timeoutMs) ? wrSignaled : wrTimeout;
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (GetCurrentThreadId() == owner_->threadId) {
        method();
        return;
    }
    auto request = std::make_shared<TSyncRequest>();
    request->waited = true;
    request->method = method;
    if (!PostSync(*owner_, request)) throw EThread("The thread that owns the message queue has ended");
    request->Wait();
    if (request->error) std::rethrow_exception(request->error);
}

void TThread::Queue(std::function<void()> method) {
    if (GetCurrentThreadId() == owner_->threadId) {
        method();
        return;
    }
    auto request = std::make_shared<TSyncRequest>();
    request->method = std::move(method);
    PostSync(*owner_, request);
}

}  // namespace rtl
