#include "daemon/watcherlaunch.h"

#include "daemon/extprog.h"

namespace gw {

namespace {

constexpr std::int64_t LaunchPollMs = 100;

} // namespace

bool TProgramLauncher::Launch()
{
    return StartDetachedProgram(argv_) >= 0;
}

TWatcherLaunch::TWatcherLaunch(TLauncher& launcher, TClock& clock, TSleeper& sleeper)
    : launcher_(launcher), clock_(clock), sleeper_(sleeper)
{
}

TWatcherLaunch::~TWatcherLaunch()
{
    std::lock_guard lock(threadMutex_);
    thread_.StopAndJoin();
}

void TWatcherLaunch::start_watchdog_thread()
{
    std::lock_guard lock(threadMutex_);
    thread_.StopAndJoin(); // an earlier launch; it ends as soon as its process exists
    sleeper_.Enter();      // left by the launch thread itself
    thread_.Start([this] { RunLaunch(); });
}

void TWatcherLaunch::RunLaunch()
{
    try {
        // A process that cannot be created leaves the flag clear; the
        // waiting roles give up after their limit.
        if (launcher_.Launch())
            launched_.store(true);
    } catch (...) {
    }
    sleeper_.Leave();
}

bool TWatcherLaunch::JoinFinishedLaunch()
{
    std::lock_guard lock(threadMutex_);
    return thread_.Join(0); // a launch that has returned from its last step is joined at once
}

bool TWatcherLaunch::WaitWatcherLaunched(std::int64_t limitMs)
{
    sleeper_.Enter();
    const std::int64_t start = clock_.MonotonicMs();
    while (!launched_.load() && clock_.MonotonicMs() - start < limitMs) {
        if (!sleeper_.Sleep(LaunchPollMs))
            break;
    }
    sleeper_.Leave();
    return launched_.load();
}

} // namespace gw
