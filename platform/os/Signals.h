// Stop signals (SIGTERM, SIGINT) turned into calls: while a watcher exists the calling thread,
// and every thread it starts afterwards, has them blocked, and a thread of the watcher's own
// takes each one and calls the handler there. The handler must only post work to the thread
// that acts on it (it runs on the watcher's thread, not in a signal context).
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace os {

class TStopSignalWatcher {
public:
    using THandler = std::function<void(int signalNumber)>;

    explicit TStopSignalWatcher(THandler handler);
    // Ends the watcher's thread and restores the calling thread's signal mask.
    ~TStopSignalWatcher();
    TStopSignalWatcher(const TStopSignalWatcher&) = delete;
    TStopSignalWatcher& operator=(const TStopSignalWatcher&) = delete;

private:
    THandler handler_;
    sigset_t set_;
    sigset_t previous_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace os
