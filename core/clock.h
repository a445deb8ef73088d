#pragma once
// The two clocks of the gateway. Timers (link t0..t3, commands, connects,
// silence, periods) run on the monotonic milliseconds, so a wall clock set
// back or forward can neither stall nor fire them; stamps use the local wall
// time. Everything that times takes a TClock, so tests hand in a fake one.

#include "core/datetime.h"

#include <cstdint>

namespace gw {

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds on a clock that never jumps; only differences matter.
    virtual std::int64_t MonotonicMs() const = 0;
    // Local wall time, for time stamps only.
    virtual TDateTime Now() const = 0;
};

// The process's real clock (steady_clock and localtime_r).
TClock& SystemClock();

} // namespace gw
