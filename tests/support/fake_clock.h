#pragma once
// A clock the test moves by hand: timers fire exactly when the test says,
// and no test sleeps.

#include "core/clock.h"

#include <atomic>

namespace gw::test {

class FakeClock final : public TClock {
public:
    explicit FakeClock(TDateTime wall = 45000.5, std::int64_t mono = 1'000'000) : mono_(mono), wall_(wall) {}

    std::int64_t MonotonicMs() const override { return mono_.load(); }
    TDateTime Now() const override { return wall_.load(); }

    // Moves both clocks forward together.
    void Advance(std::int64_t ms)
    {
        mono_ += ms;
        wall_ = wall_.load() + static_cast<double>(ms) / MsPerDay;
    }
    // Sets the wall clock alone, as an operator or NTP would; timers must not care.
    void SetWall(TDateTime wall) { wall_ = wall; }

private:
    std::atomic<std::int64_t> mono_;
    std::atomic<TDateTime> wall_;
};

} // namespace gw::test
