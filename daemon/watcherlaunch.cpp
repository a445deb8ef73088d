#include "daemon/watcherlaunch.h"

#include "daemon/extprog.h"

namespace gw {

namespace {

constexpr std::int64_t LaunchPollMs = 100;

} // namespace

bool TProgramLauncher::Launch() { return StartDetachedProgram(argv_) >= 0; }

TWatcherLaunch::TWatcherLaunch(TLauncher& launcher, TClock& clock, TWait& wait)
    : launcher_(launcher), clock_(clock), wait_(wait)
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
    wait_.Enter();         // left by the launch thread itself
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
    wait_.Leave();
}

bool TWatcherLaunch::JoinFinishedLaunch()
{
    std::lock_guard lock(threadMutex_);
    return thread_.Join(0); // a launch that has returned from its last step is joined at once
}

bool TWatcherLaunch::WaitWatcherLaunched(std::int64_t limitMs)
{
    wait_.Enter();
    const std::int64_t start = clock_.MonotonicMs();
    while (!launched_.load() && clock_.MonotonicMs() - start < limitMs) {
        if (!wait_.WaitMs(LaunchPollMs))
            break;
    }
    wait_.Leave();
    return launched_.load();
}

} // namespace gw
