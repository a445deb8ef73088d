#pragma once
// Stopwatches of the link, command and connect timers, and the byte-rate
// counter of a channel. They measure on the monotonic milliseconds of a
// TClock, so a wall clock set back or moved across midnight changes nothing.
// A stopwatch that was never started has no start instant at all: it
// measures "forever" and so counts as expired.

#include "core/clock.h"

#include <cstdint>
#include <limits>
#include <string>

namespace gw {

class TTimeChecker {
public:
    // What TimeFromStart reports for a stopwatch never started.
    static constexpr std::int64_t NeverStartedMs = std::numeric_limits<std::int64_t>::max();

    explicit TTimeChecker(TClock& clock, bool prStart = false);

    // Starts at the current instant, or at an instant measured earlier
    // (the nowMs of TimeFromStart), so a restart loses no time.
    void Start();
    void StartAt(std::int64_t monoMs);
    // The start instant is kept.
    void Stop() { prStart = false; }

    bool Started() const { return prStart; }
    bool EverStarted() const { return hasStart; }

    // Milliseconds from the recorded start to now, whether running or not;
    // NeverStartedMs when there is no start. nowMs receives the instant used.
    std::int64_t TimeFromStart(std::int64_t& nowMs) const;
    std::int64_t TimeFromStart() const;

protected:
    TClock* clock;
    std::int64_t tmstamp0 = 0;
    bool hasStart = false;
    bool prStart = false;
};

class TTimeCheckPause : public TTimeChecker {
public:
    using TTimeChecker::TTimeChecker;
    // True when strictly more than pause ms passed since the start (a stopped
    // stopwatch included); then restarts at the measured instant when
    // prRestart, else stops. Nothing changes when not expired.
    bool CheckExpire(std::int64_t pause, bool prRestart);
    // The same at an instant the caller read (MonotonicMs of its clock), so
    // that a pass over several stopwatches reads the clock once.
    bool CheckExpireAt(std::int64_t nowMs, std::int64_t pause, bool prRestart);
};

class TTimeTrace : public TTimeChecker {
public:
    using TTimeChecker::TTimeChecker;
    // Running: delta := ms since the start, restart at that instant, and
    // return "t=<delta>ms". Stopped: "" and delta untouched.
    std::string Check(std::int64_t& delta);
};

class TTraceTraffic {
public:
    explicit TTraceTraffic(TClock& clock) : timer(clock, true) {}

    void AddBytes(std::int64_t bytes) { nnBytes += bytes; }
    // Bytes per second since the last call; the previous rate when no time passed.
    std::int64_t GetTraffic();

private:
    std::int64_t nnBytes = 0;
    TTimeTrace timer;
    std::int64_t Traffic = 0;
};

} // namespace gw
