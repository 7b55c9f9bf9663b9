// The journal callback every worker object reports through: the text and whether it is
// important (lines that are not reach the journal only with the extended log on).
#pragma once

#include <functional>
#include <string>

namespace svc {

using TLogEvent = std::function<void(const std::string& text, bool important)>;

// Calls the callback when it is assigned. Journalling never fails the caller's work: an
// exception of the callback is swallowed.
inline void CallLog(const TLogEvent& callback, const std::string& text, bool important) noexcept {
    if (!callback) return;
    try {
        callback(text, important);
    } catch (...) {
    }
}

}  // namespace svc
