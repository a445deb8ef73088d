#include "daemon/watcher.h"

#include <stdexcept>

namespace gw {

namespace {

constexpr std::int64_t CyclePauseMs = 1000;
constexpr std::int64_t GoneConfirmMs = 5000;
constexpr std::int64_t CrowdConfirmMs = 30000;
constexpr std::int64_t ProgressPollMs = 1000;
constexpr std::int64_t StallLimitMs = 2 * 60 * 1000;
constexpr std::int64_t TakeOverDelayMs = 2000;
// The service and its watcher; more only for a moment (a detaching service,
// a watcher replacing itself) or when a second service was started.
constexpr std::size_t CrowdCount = 3;

// Leaves the wait when the scope ends, however it ends.
class TLeaveOnExit {
public:
    explicit TLeaveOnExit(TWait& wait) : wait_(wait) {}
    TLeaveOnExit(const TLeaveOnExit&) = delete;
    TLeaveOnExit& operator=(const TLeaveOnExit&) = delete;
    ~TLeaveOnExit() { wait_.Leave(); }

private:
    TWait& wait_;
};

} // namespace

void TSystemReboot::Reboot()
{
    TStringList ignored;
    call_external_prog_argv({SystemProgram("reboot")}, ignored);
}

TWatcher::~TWatcher()
{
    if (checkThread_.joinable()) {
        parts_.wait.RequestStop();
        checkThread_.join();
    }
}

bool TWatcher::wait_life_process()
{
    if (lifeCheckStarted_)
        throw std::logic_error("the life check of a watcher runs once");
    lifeCheckStarted_ = true;

    parts_.wait.Enter();
    TLeaveOnExit leave(parts_.wait);
    parts_.wait.Enter(); // for the check thread, before it can sleep; it leaves itself
    checkThread_ = std::thread([this] { RunCheckThread(); });

    std::int32_t seen = counter_.load();
    std::int64_t seenAt = parts_.clock.MonotonicMs();
    for (;;) {
        if (counter_.load() != seen) {
            seen = counter_.load();
            seenAt = parts_.clock.MonotonicMs();
        }
        if (!parts_.wait.WaitMs(ProgressPollMs))
            return false;
        if (parts_.clock.MonotonicMs() - seenAt > StallLimitMs)
            return false;
        if (serviceGone_.load()) {
            parts_.wait.WaitMs(TakeOverDelayMs);
            checkThread_.join(); // it only starts the launch after finding the service gone
            return true;
        }
    }
}

void TWatcher::RunCheckThread()
{
    TLeaveOnExit leave(parts_.wait);
    try {
        check_life_process();
    } catch (...) {
        // The instances cannot be counted (no process can be created): the
        // cycles stop, and the caller's thread sees the stall.
    }
}

void TWatcher::check_life_process()
{
    counter_.store(0);
    serviceGone_.store(false);
    TStringList instances;
    while (!serviceGone_.load()) {
        CountCycle();
        if (!parts_.wait.WaitMs(CyclePauseMs))
            return;
        parts_.lister.List(instances);
        if (!parts_.wait.WaitMs(CyclePauseMs))
            return;
        if (!GoneTest(instances))
            return;
        if (serviceGone_.load())
            break;
        if (!CrowdTest(instances))
            return;
    }
    parts_.launch.start_watchdog_thread();
}

void TWatcher::CountCycle()
{
    const std::int32_t next = counter_.load() + 1;
    counter_.store(next > CounterLimit ? 0 : next);
}

// pgrep lists the watcher itself, so one line that is our own id means
// that nothing else of the program runs.
bool TWatcher::IsOnlySelf(const TStringList& instances) const
{
    return instances.size() == 1 && instances.front() == parts_.ownPid;
}

bool TWatcher::GoneTest(TStringList& instances)
{
    if (!IsOnlySelf(instances))
        return true;
    // A service that is restarting may be missing for a moment: confirm.
    if (!parts_.wait.WaitMs(GoneConfirmMs))
        return false;
    parts_.lister.List(instances);
    if (IsOnlySelf(instances))
        serviceGone_.store(true);
    return true;
}

bool TWatcher::CrowdTest(TStringList& instances)
{
    instances.clear();
    parts_.lister.List(instances);
    if (instances.size() < CrowdCount)
        return true;
    // Extra instances are normal for a moment; only a lasting crowd reboots.
    if (!parts_.wait.WaitMs(CrowdConfirmMs))
        return false;
    instances.clear();
    parts_.lister.List(instances);
    if (instances.size() >= CrowdCount)
        parts_.reboot.Reboot();
    return true;
}

} // namespace gw
