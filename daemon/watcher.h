#pragma once
// The watcher: a second instance of the program, started with "-w", that
// counts the program's running instances every few seconds. When only the
// watcher itself is left, the service is gone and the watcher becomes the
// service (after launching a new watcher for itself); when three or more
// instances persist for 30 seconds, the machine is rebooted. The counting
// runs on a check thread; the caller's thread gives up when that thread makes
// no progress for two minutes, and the caller then replaces the watcher.

#include "core/clock.h"
#include "daemon/instances.h"
#include "service/wait.h"
#include "daemon/watcherlaunch.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace gw {

class TRebootAction {
public:
    virtual ~TRebootAction() = default;
    // Restarts the machine; a failure is ignored and the next crowded count
    // tries again.
    virtual void Reboot() = 0;
};

// Runs "reboot". Production only: tests hand in their own action.
class TSystemReboot final : public TRebootAction {
public:
    void Reboot() override;
};

struct TWatcherParts {
    TInstanceLister& lister;
    TRebootAction& reboot;
    TWatcherLaunch& launch; // started once the service is found gone
    TClock& clock;          // monotonic time of the stall check
    TWait& wait;            // every wait; stopped to end the watcher
    std::string ownPid;     // this process's id in decimal, as pgrep prints it
};

class TWatcher {
public:
    static constexpr std::int32_t CounterLimit = 2047483647;

    explicit TWatcher(const TWatcherParts& parts) : parts_(parts) {}
    TWatcher(const TWatcher&) = delete;
    TWatcher& operator=(const TWatcher&) = delete;
    // A check thread still running is stopped through the wait and
    // joined. After a stall it may hang in a command that never returns:
    // the replacement role therefore ends its process with _exit instead.
    ~TWatcher();

    // The life check, on the caller's thread: starts the check thread and
    // returns true once it has found the service gone (the new watcher's
    // launch is then started and the check thread joined), false when the
    // check thread has made no progress for two minutes or the wait was
    // stopped. Runs once per watcher; a second call throws std::logic_error.
    bool wait_life_process();

    // The check cycles, as the check thread runs them. Returns when the
    // service is gone (after starting the new watcher's launch) or, without
    // launching, when the wait is stopped.
    void check_life_process();

    std::int32_t LifeCheckCounter() const { return counter_.load(); }
    bool ServiceGone() const { return serviceGone_.load(); }

private:
    void RunCheckThread();
    void CountCycle();
    bool IsOnlySelf(const TStringList& instances) const;
    // Each step of a cycle; false when the wait was stopped.
    bool GoneTest(TStringList& instances);
    bool CrowdTest(TStringList& instances);

    TWatcherParts parts_;
    // One writer (the check thread), one reader (the caller's thread).
    std::atomic<std::int32_t> counter_{0};
    std::atomic<bool> serviceGone_{false};
    bool lifeCheckStarted_ = false;
    std::thread checkThread_;
};

} // namespace gw
