// The machine's clock and the stoppable pause.
#include "common/uRunClock.h"

#include <algorithm>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Threads.h"

namespace svc {

namespace {

class TSystemClock : public TRunClock {
public:
    rtl::TDateTime Now() override { return rtl::Now(); }
    void Sleep(uint32_t milliseconds) override { rtl::Sleep(milliseconds); }
};

}  // namespace

TRunClock& TRunClock::System() {
    static TSystemClock clock;
    return clock;
}

void PauseUnless(TRunClock& clock, uint32_t milliseconds, const std::function<bool()>& stop) {
    for (uint32_t waited = 0; waited < milliseconds && !stop(); waited += 100)
        clock.Sleep(std::min<uint32_t>(100, milliseconds - waited));
}

}  // namespace svc
