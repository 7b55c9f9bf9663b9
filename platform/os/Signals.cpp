// The stop-signal watcher: an async-signal-safe handler that writes the signal's number into a
// pipe, and a thread that reads it. The pipe lives as long as the process, so that a handler
// still running in another thread while a watcher ends never writes into a closed descriptor.
#include "platform/os/Signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/rtl/Exceptions.h"

namespace os {

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_watching{false};

void OnSignal(int number) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(number);
    ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

void MakePipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) rtl::RaiseLastOSError();
    });
}

// The next byte of the pipe, waiting for it; -1 on failure.
int ReadByte() {
    for (;;) {
        unsigned char byte;
        ssize_t n = ::read(g_pipe[0], &byte, 1);
        if (n == 1) return byte;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
        pollfd p{g_pipe[0], POLLIN, 0};
        ::poll(&p, 1, -1);
    }
}

}  // namespace

TStopSignalWatcher::TStopSignalWatcher(THandler handler) : handler_(std::move(handler)) {
    MakePipe();
    if (g_watching.exchange(true)) throw rtl::EInvalidOperation("A stop-signal watcher already exists");
    unsigned char stale;
    while (::read(g_pipe[0], &stale, 1) == 1) {
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &previousTerm_);
    sigaction(SIGINT, &action, &previousInt_);
    thread_ = std::thread([this] {
        for (int number; (number = ReadByte()) > 0;)
            if (handler_) handler_(number);
    });
}

TStopSignalWatcher::~TStopSignalWatcher() {
    sigaction(SIGTERM, &previousTerm_, nullptr);
    sigaction(SIGINT, &previousInt_, nullptr);
    unsigned char end = 0;
    ssize_t ignored = ::write(g_pipe[1], &end, 1);
    (void)ignored;
    thread_.join();
    g_watching = false;
}

}  // namespace os
