#include "core/stopwatch.h"

namespace gw {

TTimeChecker::TTimeChecker(TClock& clk, bool start) : clock(&clk)
{
    if (start)
        Start();
}

void TTimeChecker::Start() { StartAt(clock->MonotonicMs()); }

void TTimeChecker::StartAt(std::int64_t monoMs)
{
    tmstamp0 = monoMs;
    hasStart = true;
    prStart = true;
}

std::int64_t TTimeChecker::TimeFromStart(std::int64_t& nowMs) const
{
    nowMs = clock->MonotonicMs();
    return hasStart ? nowMs - tmstamp0 : NeverStartedMs;
}

std::int64_t TTimeChecker::TimeFromStart() const
{
    std::int64_t nowMs = 0;
    return TimeFromStart(nowMs);
}

bool TTimeCheckPause::CheckExpire(std::int64_t pause, bool prRestart)
{
    return CheckExpireAt(clock->MonotonicMs(), pause, prRestart);
}

bool TTimeCheckPause::CheckExpireAt(std::int64_t nowMs, std::int64_t pause, bool prRestart)
{
    const std::int64_t elapsed = hasStart ? nowMs - tmstamp0 : NeverStartedMs;
    if (elapsed <= pause)
        return false;
    if (prRestart)
        StartAt(nowMs);
    else
        Stop();
    return true;
}

std::string TTimeTrace::Check(std::int64_t& delta)
{
    if (!prStart)
        return "";
    std::int64_t nowMs = 0;
    delta = TimeFromStart(nowMs);
    StartAt(nowMs);
    return "t=" + std::to_string(delta) + "ms";
}

std::int64_t TTraceTraffic::GetTraffic()
{
    std::int64_t interval = 0;
    timer.Check(interval);
    if (interval > 0) {
        Traffic = nnBytes * 1000 / interval;
        nnBytes = 0;
    }
    return Traffic;
}

} // namespace gw
