// The clock the services' threads wait by: the local time, and sleeping between looks at it.
// Tests hand the threads a clock of their own.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/rtl/Types.h"

namespace svc {

class TRunClock {
public:
    virtual ~TRunClock() = default;
    virtual rtl::TDateTime Now() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // The machine's clock.
    static TRunClock& System();
};

// Sleeps up to milliseconds in steps of 100 ms, ending early once stop() says so (a retry pause
// that a stop should not have to wait out).
void PauseUnless(TRunClock& clock, uint32_t milliseconds, const std::function<bool()>& stop);

}  // namespace svc
