// Journal lines gathered from the services' threads, and a wait that runs the calls the threads
// queue for the test's thread meanwhile.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "common/uLogEvent.h"
#include "platform/rtl/Threads.h"

namespace svctest {

// Journal lines as "!text" (important) or "text", from any thread.
class TThreadJournal {
public:
    svc::TLogEvent Callback() {
        return [this](const std::string& text, bool important) {
            std::lock_guard<std::mutex> hold(lock_);
            lines_.push_back((important ? "!" : "") + text);
        };
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> hold(lock_);
        return lines_;
    }
    bool Has(const std::string& line) const {
        for (const auto& l : Lines())
            if (l == line) return true;
        return false;
    }
    bool HasPrefix(const std::string& prefix) const {
        for (const auto& l : Lines())
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
    int Count(const std::string& line) const {
        int n = 0;
        for (const auto& l : Lines()) n += l == line;
        return n;
    }
    std::string Text() const {
        std::string text;
        for (const auto& l : Lines()) text += l + "\n";
        return text;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// Runs the calls queued for this thread until the condition holds or the time is up.
template <class Condition>
bool PumpUntil(Condition done, int timeoutMs = 20000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        rtl::CheckSynchronize(20);
    }
    return true;
}

}  // namespace svctest
