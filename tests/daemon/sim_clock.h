#pragma once
// Simulated time for the waits of one TWait: sleeps block until the fake
// clock reaches their end, and the clock moves on by itself to the earliest
// end as soon as every thread that entered the wait is asleep. A lone thread
// that never entered sleeps without blocking. So threaded code runs its
// minutes of waiting at once and in a fixed order, and no test sleeps.

#include "core/clock.h"
#include "support/fake_clock.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

namespace gw::test {

class SimClock final : public TClock {
public:
    explicit SimClock(FakeClock& clock) : clock_(clock) {}

    std::int64_t MonotonicMs() const override { return clock_.MonotonicMs(); }
    TDateTime Now() const override { return clock_.Now(); }

    void Attach(TClockWaiter&) const override
    {
        std::lock_guard lock(mutex_);
        ++present_;
    }
    void Detach(TClockWaiter&) const override
    {
        std::lock_guard lock(mutex_);
        --present_;
        MoveOnIfAllAsleep();
    }
    void Interrupt(TClockWaiter&) const override
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    // The sleep itself happens here; the wait then finds its time reached.
    int SleepMs(const TClockWaiter&, std::int64_t untilMs) const override
    {
        std::unique_lock lock(mutex_);
        if (stopped_)
            return 0;
        const std::int64_t end = std::max(untilMs, clock_.MonotonicMs());
        const auto mine = ends_.insert(end);
        ++sleeps_;
        MoveOnIfAllAsleep();
        changed_.wait(lock, [&] { return stopped_ || clock_.MonotonicMs() >= end; });
        ends_.erase(mine);
        return 0;
    }

    // Number of sleeps so far.
    int Sleeps() const
    {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

private:
    // With the lock held. Time moves only when nobody is due to wake yet.
    void MoveOnIfAllAsleep() const
    {
        if (ends_.empty() || static_cast<int>(ends_.size()) < present_)
            return;
        const std::int64_t now = clock_.MonotonicMs();
        if (*ends_.begin() > now)
            clock_.Advance(*ends_.begin() - now);
        changed_.notify_all();
    }

    FakeClock& clock_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable std::multiset<std::int64_t> ends_;
    mutable int present_ = 0;
    mutable int sleeps_ = 0;
    mutable bool stopped_ = false;
};

} // namespace gw::test
