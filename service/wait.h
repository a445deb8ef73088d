#pragma once
// The one interruptible wait of the service's threads: an eventfd that a
// stop, the link object's requests and a frame put into a mailbox signal,
// and waits on a TClock that end on that signal, on a socket's events or on
// the clock reaching a deadline. A thread with nothing due sleeps right up
// to its next deadline (or until it is woken), so idle threads cost nothing;
// a clock moved by hand wakes its waiters instead.
//
// Wake() is meant for the one thread that waits here; RequestStop() ends
// every present and future wait of any thread. Threads announce themselves
// with Enter() and Leave(), so a clock simulated in a test knows when all of
// them wait and its time may move on.

#include "core/clock.h"

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <span>

namespace gw {

class TWait final : private TClockWaiter {
public:
    explicit TWait(const TClock& clock);
    ~TWait();
    TWait(const TWait&) = delete;
    TWait& operator=(const TWait&) = delete;

    const TClock& Clock() const { return clock_; }

    void Wake();
    void RequestStop();
    bool StopRequested() const { return stop_.load(); }
    // A thread is about to wait here: the clock wakes it from now on.
    // Entering before the thread starts lets a clock moved by hand count on
    // it at once.
    void Enter();
    // A thread that entered is done waiting here.
    void Leave();

    // Waits for events on fd (none when fd < 0), a wake, a stop or the clock
    // reaching untilMs; returns fd's returned events, 0 when it had none.
    short Poll(int fd, short events, std::int64_t untilMs = NoDeadlineMs);
    // The same for up to MaxFds descriptors: their revents are filled in.
    static constexpr std::size_t MaxFds = 4;
    void Poll(std::span<pollfd> fds, std::int64_t untilMs);
    // Sleeps ms on the clock, or until its time untilMs; false when a stop
    // cut it short.
    bool WaitMs(std::int64_t ms) { return WaitUntil(clock_.MonotonicMs() + ms); }
    bool WaitUntil(std::int64_t untilMs);

private:
    void ClockMoved() override { Wake(); }

    const TClock& clock_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<int> entered_{0};
};

} // namespace gw
