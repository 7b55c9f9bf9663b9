// The stop-signal watcher thread.
#include "platform/os/Signals.h"

#include <pthread.h>

namespace os {

TStopSignalWatcher::TStopSignalWatcher(THandler handler) : handler_(std::move(handler)) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    thread_ = std::thread([this] {
        for (;;) {
            int number = 0;
            if (sigwait(&set_, &number) != 0) continue;
            if (done_) return;
            if (handler_) handler_(number);
        }
    });
}

TStopSignalWatcher::~TStopSignalWatcher() {
    done_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace os
