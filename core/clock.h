#pragma once
// The two clocks of the gateway. Timers (link t0..t3, commands, connects,
// silence, periods) run on the monotonic milliseconds, so a wall clock set
// back or forward can neither stall nor fire them; stamps use the local wall
// time. Everything that times takes a TClock, so tests hand in a fake one.

#include "core/datetime.h"

#include <cstdint>
#include <limits>

namespace gw {

// A wait that sleeps toward a time of a clock, and that the clock wakes when
// it is moved by hand (the real clock never needs to).
class TClockWaiter {
public:
    virtual void ClockMoved() = 0;

protected:
    ~TClockWaiter() = default;
};

// A wait with no time limit of its own.
inline constexpr std::int64_t NoDeadlineMs = std::numeric_limits<std::int64_t>::max();

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds on a clock that never jumps; only differences matter.
    virtual std::int64_t MonotonicMs() const = 0;
    // Local wall time, for time stamps only.
    virtual TDateTime Now() const = 0;

    // A waiter attaches (once for every thread that is to wait in it) before
    // it reads the time it sleeps toward, so a move in between still wakes
    // it, and detaches as often before it goes.
    virtual void Attach(TClockWaiter&) const {}
    virtual void Detach(TClockWaiter&) const {}
    // The waiter was asked to stop: a clock that sleeps for its waiters ends
    // their sleeps.
    virtual void Interrupt(TClockWaiter&) const {}
    // The real milliseconds a waiter may sleep toward untilMs on this clock
    // (-1: until it is woken); asked right before every sleep. The real clock
    // gives the time left, so an idle thread sleeps through to its next timer.
    virtual int SleepMs(const TClockWaiter& waiter, std::int64_t untilMs) const;
};

// The process's real clock (steady_clock and localtime_r).
TClock& SystemClock();

} // namespace gw
