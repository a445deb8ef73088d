#pragma once
// A sleeper on simulated time: sleeps block until the fake clock reaches
// their end, and the clock moves on by itself to the earliest end as soon as
// every thread that entered is asleep. A lone thread that never entered
// sleeps without blocking. So threaded code runs its minutes of waiting at
// once and in a fixed order, and no test sleeps.

#include "daemon/sleeper.h"
#include "support/fake_clock.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

namespace gw::test {

class SimSleeper final : public TSleeper {
public:
    explicit SimSleeper(FakeClock& clock) : clock_(clock) {}

    bool Sleep(std::int64_t ms) override
    {
        std::unique_lock lock(mutex_);
        if (stopped_)
            return false;
        const std::int64_t end = clock_.MonotonicMs() + std::max<std::int64_t>(ms, 0);
        const auto mine = ends_.insert(end);
        ++sleeps_;
        MoveOnIfAllAsleep();
        changed_.wait(lock, [&] { return stopped_ || clock_.MonotonicMs() >= end; });
        ends_.erase(mine);
        return !stopped_;
    }
    void Stop() override
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    void Enter() override
    {
        std::lock_guard lock(mutex_);
        ++present_;
    }
    void Leave() override
    {
        std::lock_guard lock(mutex_);
        --present_;
        MoveOnIfAllAsleep();
    }

    // Number of Sleep calls so far.
    int Sleeps() const
    {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

private:
    // With the lock held. Time moves only when nobody is due to wake yet.
    void MoveOnIfAllAsleep()
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
    std::condition_variable changed_;
    std::multiset<std::int64_t> ends_;
    int present_ = 0;
    int sleeps_ = 0;
    bool stopped_ = false;
};

} // namespace gw::test
