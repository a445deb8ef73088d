#include "core/clock.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace gw {

namespace {

class TSystemClock final : public TClock {
public:
    std::int64_t MonotonicMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    TDateTime Now() const override { return WallNow(); }
};

} // namespace

int TClock::SleepMs(const TClockWaiter&, std::int64_t untilMs) const
{
    if (untilMs == NoDeadlineMs)
        return -1;
    const std::int64_t left = untilMs - MonotonicMs();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

TClock& SystemClock()
{
    static TSystemClock clock;
    return clock;
}

} // namespace gw
