// Stop signals (SIGTERM, SIGINT) turned into calls. While a watcher exists, a signal handler of
// its own takes them in whichever thread the system picks and hands them through a pipe to the
// watcher's thread, which calls the handler there; the handler must only post work to the
// thread that acts on it. One watcher exists at a time; the previous dispositions come back
// when it ends.
#pragma once

#include <signal.h>

#include <functional>
#include <thread>

namespace os {

class TStopSignalWatcher {
public:
    using THandler = std::function<void(int signalNumber)>;

    explicit TStopSignalWatcher(THandler handler);
    ~TStopSignalWatcher();
    TStopSignalWatcher(const TStopSignalWatcher&) = delete;
    TStopSignalWatcher& operator=(const TStopSignalWatcher&) = delete;

private:
    THandler handler_;
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
    std::thread thread_;
};

}  // namespace os
