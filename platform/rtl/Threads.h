// Threads, synchronisation objects, ticks, and the per-thread message queue that stands in for
// hidden windows, posted messages and window timers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Types.h"

namespace rtl {

RTL_EXCEPTION_CLASS(EOutOfResources, Exception);

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// ---- ticks, sleeping, ids

// Milliseconds since an arbitrary start; wraps after 49.7 days like the original.
uint32_t GetTickCount();
uint64_t GetTickCount64();
// Milliseconds from start to now, correct across one wrap.
inline uint32_t GetTickDiff(uint32_t start, uint32_t now) {
    return now - start;
}
void Sleep(uint32_t milliseconds);
uint32_t GetCurrentThreadId();
uint32_t GetCurrentProcessId();
// The thread that started the process.
uint32_t MainThreadID();

// ---- atomic operations; each returns the new value (Exchange and CompareExchange the old one)
Integer InterlockedIncrement(Integer& target);
Integer InterlockedDecrement(Integer& target);
Integer InterlockedExchangeAdd(Integer& target, Integer value);  // returns the old value
Integer InterlockedExchange(Integer& target, Integer value);
Integer InterlockedCompareExchange(Integer& target, Integer exchange, Integer comparand);

// ---- synchronisation objects

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Re-entrant for its owning thread, as the platform's critical sections are.
class TCriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

// Scoped hold of a critical section.
class TCriticalSectionLock {
public:
    explicit TCriticalSectionLock(TCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~TCriticalSectionLock() { cs_.Leave(); }
    TCriticalSectionLock(const TCriticalSectionLock&) = delete;
    TCriticalSectionLock& operator=(const TCriticalSectionLock&) = delete;

private:
    TCriticalSection& cs_;
};

// A mutex that its owner may take again (each take needs a release) and that others wait for
// with a time-out. When its owner thread ends without releasing it, the next waiter gets it
// with wrAbandoned (it holds the mutex then). Releasing a mutex the calling thread does not own
// raises EInvalidOperation.
class TMutex {
public:
    explicit TMutex(bool initialOwner = false);
    TWaitResult WaitFor(uint32_t timeoutMs);
    void Acquire() { WaitFor(INFINITE); }
    void Release();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    uint32_t owner_ = 0;
    uint32_t count_ = 0;
};

// An event with manual or automatic reset. SetEvent on an automatic event releases one waiter
// (or the next to come); PulseEvent releases the current waiters (one for automatic events) and
// leaves the event reset.
class TEvent {
public:
    explicit TEvent(bool manualReset = true, bool initialState = false);
    void SetEvent();
    void ResetEvent();
    void PulseEvent();
    TWaitResult WaitFor(uint32_t timeoutMs = INFINITE);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const bool manualReset_;
    bool signaled_;
    uint64_t pulses_ = 0;       // generation of the latest pulse
    uint32_t pulseTokens_ = 0;  // automatic events: waiters a pulse may still release
    uint32_t waiters_ = 0;
};

// ---- the per-thread message queue

using HWND = uintptr_t;  // 0 = none
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT PM_NOREMOVE = 0;
inline constexpr UINT PM_REMOVE = 1;

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

struct TMsg {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

using TWndMethod = std::function<void(TMessage&)>;

// A handle bound to the calling thread's queue; its handler runs on that thread only, when the
// thread pumps. A handle is never reused, so a stale one is simply invalid.
HWND AllocateHWnd(TWndMethod handler);
// Also drops the handle's pending messages and timers.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

// Queues a message for the handle's thread; false when the handle is invalid.
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Runs the handler at once on its own thread, or queues it and waits for the result.
// A thread whose queue is gone gets 0.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues a message without a handle for a thread; false when that thread has no queue.
bool PostThreadMessage(uint32_t threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Takes (PM_REMOVE) or looks at the oldest pending message of the calling thread's queue that is
// for wnd (0: any) with a number in [filterMin, filterMax] (both 0: any); due timers count as
// pending WM_TIMER messages after all posted ones.
bool PeekMessage(TMsg& msg, HWND wnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// Waits for a message; false when it is WM_QUIT.
bool GetMessage(TMsg& msg, HWND wnd = 0, UINT filterMin = 0, UINT filterMax = 0);
// Runs the handler of the message's handle. A handler's exception goes to the application
// exception handler.
LRESULT DispatchMessage(const TMsg& msg);
// Drops one pending message msg for wnd; true when there was one.
bool RemovePendingMessage(HWND wnd, UINT msg);
// Drops the pending message msg for wnd whose WParam is wParam, from whichever thread's queue
// wnd belongs to; true when there was one.
bool RemovePendingMessage(HWND wnd, UINT msg, WPARAM wParam);

// A timer posts WM_TIMER (WParam = id) to its handle's thread every interval (at least 10 ms);
// at most one is pending at a time. Setting an existing id restarts it. Returns the id, or 0
// for an invalid handle.
uintptr_t SetTimer(HWND wnd, uintptr_t id, UINT intervalMs);
bool KillTimer(HWND wnd, uintptr_t id);

// Dispatches everything pending on the calling thread (synchronisation requests, posted
// messages, then due timers, each timer at most once) and returns. Stops before a WM_QUIT and
// leaves it queued.
void ProcessMessages();
// Waits up to timeoutMs for something to arrive, then processes what is pending. True when
// something was dispatched. While a WM_QUIT is pending only synchronisation requests run, and
// the call takes its whole time out (see QuitPending).
bool WaitAndProcessMessages(uint32_t timeoutMs);
// Runs the pending synchronisation requests (Synchronize, OnTerminate) only, waiting up to
// timeoutMs for the first. True when one ran.
bool CheckSynchronize(uint32_t timeoutMs = 0);
// True when a WM_QUIT is waiting in the calling thread's queue.
bool QuitPending();

// Where exceptions of message handlers go. The default writes them to stderr.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error);

// ---- threads

// A thread of its own. Construction never starts it (C++ cannot start a thread before the derived
// object exists): call Start. Synchronize and OnTerminate run on the owning thread (the one that
// created the object) when it pumps its queue; WaitFor called on the owning thread serves them
// meanwhile, so waiting never deadlocks on them.
// A derived class whose Execute uses its own members must Terminate and WaitFor in its own
// destructor; the base destructor does so too, but by then the derived members are gone.
class TThread : public TObject {
public:
    TThread();
    ~TThread() override;

    void Start();
    void Resume() { Start(); }
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Finished() const { return finished_; }
    bool Started() const { return started_; }
    // Waits for the end and returns ReturnValue.
    uint32_t WaitFor();
    // Bounded wait; wrTimeout when the thread still runs.
    TWaitResult WaitFor(uint32_t timeoutMs);

    uint32_t ThreadID() const { return threadId_; }
    bool FreeOnTerminate = false;
    TNotifyEvent OnTerminate;  // the sender is the thread
    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const { return fatal_; }
    uint32_t ReturnValue() const { return returnValue_; }

    // Runs method on the owner's thread and waits; its exception is raised here.
    void Synchronize(const std::function<void()>& method);
    // Queues method for the owner's thread without waiting.
    void Queue(std::function<void()> method);

protected:
    virtual void Execute();
    // Calls OnTerminate through Synchronize when assigned.
    virtual void DoTerminate();
    void SetReturnValue(uint32_t value) { returnValue_ = value; }

private:
    void Run();
    bool WaitDone(bool bounded, uint32_t timeoutMs);

    std::thread thread_;
    std::shared_ptr<struct TMessageQueue> owner_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> started_{false};
    std::atomic<uint32_t> threadId_{0};
    std::atomic<uint32_t> returnValue_{0};
    std::exception_ptr fatal_;
    bool handleReady_ = false;
    std::mutex doneMutex_;
    std::condition_variable doneCv_;
};

}  // namespace rtl
