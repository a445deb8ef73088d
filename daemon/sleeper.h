#pragma once
// The waits of the watcher: every sleep can be cut short by Stop(), so the
// threads that sleep end promptly and can be joined, and tests run them on a
// simulated clock instead of real time.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace gw {

class TSleeper {
public:
    virtual ~TSleeper() = default;
    // Waits ms milliseconds; false (at once, or as soon as it happens) once
    // Stop() has been called.
    virtual bool Sleep(std::int64_t ms) = 0;
    // Ends every present and future sleep.
    virtual void Stop() = 0;
    // A thread that will sleep here announces itself before it starts and
    // leaves when it is done, so a simulated clock knows when all of them
    // wait and time may move on. Real time needs neither.
    virtual void Enter() {}
    virtual void Leave() {}
};

// Sleeps on the steady clock.
class TSystemSleeper final : public TSleeper {
public:
    bool Sleep(std::int64_t ms) override;
    void Stop() override;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
};

} // namespace gw
