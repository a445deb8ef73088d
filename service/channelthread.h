#pragma once
// The thread of one channel and the wait it sleeps in: started once, asked
// to stop through its wait (which cuts every wait short), and joined within
// a bound. The owner calls StopAndJoin in its destructor, before the members
// the thread reads go.

#include "service/thread.h"
#include "service/wait.h"

#include <cstdint>
#include <functional>

namespace gw {

class TChannelThread {
public:
    // The channel's timers run on clock, and its waits sleep on it.
    explicit TChannelThread(const TClock& clock) : wait_(clock) {}
    TChannelThread(const TChannelThread&) = delete;
    TChannelThread& operator=(const TChannelThread&) = delete;

    void Start(std::function<void()> body)
    {
        wait_.Enter();
        thread_.Start(
            [this, body = std::move(body)] {
                body();
                wait_.Leave();
            },
            [this] { wait_.RequestStop(); });
    }
    void RequestStop() { thread_.RequestStop(); }
    // Waits at most timeoutMs of real time; true once the thread has ended
    // (or never ran).
    bool Join(std::int64_t timeoutMs) { return thread_.Join(timeoutMs); }
    void StopAndJoin() { thread_.StopAndJoin(); }

    TWait& Wait() { return wait_; }

private:
    TWait wait_;
    TThread thread_; // declared last: it ends before the wait goes
};

} // namespace gw
