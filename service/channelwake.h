#pragma once
// What lets a channel thread sleep and still stop at once: an eventfd that
// the stop, the link object's connect and disconnect requests and a frame
// put into the mailbox all signal, and waits that end on that signal.
//
// Waits are measured on the channel's TClock but slept in short real slices,
// so a thread on a fake clock goes on when the test moves the clock, and a
// thread on the real clock never oversleeps a stop by more than a slice.

#include "core/clock.h"

#include <atomic>
#include <cstdint>

namespace gw {

class TChannelWake {
public:
    static constexpr int SliceMs = 20;

    TChannelWake();
    ~TChannelWake();
    TChannelWake(const TChannelWake&) = delete;
    TChannelWake& operator=(const TChannelWake&) = delete;

    void Wake();
    void RequestStop();
    bool StopRequested() const { return stop_.load(); }

    // Waits at most one slice for events on fd (none when fd < 0) or a wake;
    // returns fd's returned events, 0 when it had none.
    short Poll(int fd, short events);
    // Sleeps ms on the clock, or until its monotonic time untilMs; false
    // when a stop cut it short.
    bool WaitMs(const TClock& clock, std::int64_t ms) { return WaitUntil(clock, clock.MonotonicMs() + ms); }
    bool WaitUntil(const TClock& clock, std::int64_t untilMs);

private:
    int fd_;
    std::atomic<bool> stop_{false};
};

} // namespace gw
