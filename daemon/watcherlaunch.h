#pragma once
// Launching a watcher: a short-lived thread starts the program with "-w" and
// sets WatcherLaunched once the process exists. The service starts one at
// start-up, a watcher that took over starts one for itself, and a stalled
// watcher starts its own replacement.

#include "core/clock.h"
#include "service/thread.h"
#include "service/wait.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace gw {

class TLauncher {
public:
    virtual ~TLauncher() = default;
    // Starts the new process and does not wait for it; true once it exists.
    virtual bool Launch() = 0;
};

// Starts argv (for the watcher: `BasePath` and "-w") with its standard
// streams on /dev/null, in the caller's session and process group.
class TProgramLauncher final : public TLauncher {
public:
    explicit TProgramLauncher(std::vector<std::string> argv) : argv_(std::move(argv)) {}
    bool Launch() override;

private:
    std::vector<std::string> argv_;
};

class TWatcherLaunch {
public:
    // The wait and clock serve WaitWatcherLaunched.
    TWatcherLaunch(TLauncher& launcher, TClock& clock, TWait& wait);
    TWatcherLaunch(const TWatcherLaunch&) = delete;
    TWatcherLaunch& operator=(const TWatcherLaunch&) = delete;
    // Joins the launch thread; it lives only until its process is created.
    ~TWatcherLaunch();

    // Starts one launch thread and returns at once. Safe from any thread.
    void start_watchdog_thread();

    bool WatcherLaunched() const { return launched_.load(); }
    // Before a replacement launch, so its completion can be seen.
    void ClearWatcherLaunched() { launched_.store(false); }

    // Polls WatcherLaunched every 100 ms for at most limitMs; a launch that
    // failed must not keep the caller waiting for ever. Returns the flag.
    bool WaitWatcherLaunched(std::int64_t limitMs);

    // Joins the launch thread once it has finished, so that a process about
    // to fork holds no other thread; true when no launch thread runs any
    // more. False while a launch still runs (a hung process creation): the
    // forked child must then leave this object alone.
    bool JoinFinishedLaunch();

private:
    void RunLaunch();

    TLauncher& launcher_;
    TClock& clock_;
    TWait& wait_;
    std::atomic<bool> launched_{false};
    std::mutex threadMutex_;
    TThread thread_; // nothing to ask: it ends as soon as its process exists
};

} // namespace gw
