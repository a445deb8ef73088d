#include "core/clock.h"

#include <chrono>

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

TClock& SystemClock()
{
    static TSystemClock clock;
    return clock;
}

} // namespace gw
