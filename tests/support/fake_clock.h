#pragma once
// A clock the test moves by hand: timers fire exactly when the test says,
// and no test sleeps. A thread waiting on it sleeps until the test moves it.

#include "core/clock.h"

#include <atomic>
#include <mutex>
#include <set>

namespace gw::test {

class FakeClock final : public TClock {
public:
    explicit FakeClock(TDateTime wall = 45000.5, std::int64_t mono = 1'000'000) : mono_(mono), wall_(wall) {}

    std::int64_t MonotonicMs() const override { return mono_.load(); }
    TDateTime Now() const override { return wall_.load(); }

    void Attach(TClockWaiter& waiter) const override
    {
        std::lock_guard<std::mutex> guard(waitersLock_);
        waiters_.insert(&waiter);
    }
    void Detach(TClockWaiter& waiter) const override
    {
        std::lock_guard<std::mutex> guard(waitersLock_);
        if (const auto it = waiters_.find(&waiter); it != waiters_.end())
            waiters_.erase(it);
    }
    // Real time does not bring a deadline of this clock any nearer.
    int SleepMs(const TClockWaiter&, std::int64_t untilMs) const override { return untilMs <= MonotonicMs() ? 0 : -1; }

    // Moves both clocks forward together, and wakes every waiter to look.
    void Advance(std::int64_t ms)
    {
        mono_ += ms;
        wall_ = wall_.load() + static_cast<double>(ms) / MsPerDay;
        std::lock_guard<std::mutex> guard(waitersLock_);
        for (auto it = waiters_.begin(); it != waiters_.end(); it = waiters_.upper_bound(*it))
            (*it)->ClockMoved();
    }
    // Sets the wall clock alone, as an operator or NTP would; timers must not care.
    void SetWall(TDateTime wall) { wall_ = wall; }

private:
    std::atomic<std::int64_t> mono_;
    std::atomic<TDateTime> wall_;
    mutable std::mutex waitersLock_;
    mutable std::multiset<TClockWaiter*> waiters_;
};

} // namespace gw::test
