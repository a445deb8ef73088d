#pragma once
// The life of a fieldgate process. One program plays three roles:
//   service      (no "-w"): launches its watcher, detaches from the terminal
//                and runs the service in its 50 ms loop until an uploaded
//                "cnf.ini" asks for a restart;
//   watcher      ("-w" as first argument): counts the program's instances
//                and, once the service is gone, becomes the service itself;
//   replacement  a watcher whose count has stalled: launches a fresh
//                watcher and ends.
// The process ends with the status RunFieldgate returns (through _exit: by
// then threads may still run that no destructor could join).
//
// How the daemon fails: what the service survives it logs and goes on (see
// service/serviceinit.h). What the process cannot go on from (a fork or new
// session that fails, an exception escaping the tick) throws; the program
// entry reports it on stderr (the stderr log once detached) and ends the
// process with status 217 without unwinding, and the watcher becomes the
// service. The role's steps (launch, life check, stop) report through their
// results and "log_service.txt".

#include "core/clock.h"
#include "daemon/detach.h"
#include "daemon/watcherlaunch.h"
#include "service/wait.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace gw {

class TServiceLog;

enum class TRole { Service, Watcher, Replacement };

// Exactly "-w" as the first argument selects the watcher; anything else, or
// nothing, the service.
TRole RoleFromCommandLine(int argc, const char* const argv[]);

// The service as the main loop drives it.
class TServiceBody {
public:
    virtual ~TServiceBody() = default;
    // ServiceInit and ServiceStart; what fails is logged there, and the loop
    // runs regardless.
    virtual void Start() = 0;
    // One ServiceTick. What escapes it ends the process (status 217) and the
    // watcher takes over.
    virtual void Tick() = 0;
    virtual void Stop() = 0;
    // Set once an uploaded "cnf.ini" has been stored; never cleared.
    virtual bool ReconfigureRequested() const = 0;
};

inline constexpr std::int64_t LoopPeriodMs = 50;

struct TFieldgateLimits {
    // How long the first process and the replacement wait for the watcher's
    // process to be created; a launch that fails must not hold them.
    std::int64_t WatcherLaunchMs = 10000;
    // How long the stop after a reconfiguration may take before the process
    // ends anyway, so that the watcher can take over.
    std::int64_t StopMs = 30000;
};

struct TFieldgateParts {
    TWatcherLaunch& launch;
    // The watcher's life check: true once the service is gone (its check
    // thread has then started the new watcher's launch and ended), false
    // when the check has stalled.
    std::function<bool()> lifeCheck;
    TDetacher& detacher;
    // Made only in the detached service, after the last fork.
    std::function<std::unique_ptr<TServiceBody>()> makeService;
    TWait& loopWait;     // the 50 ms wait; a stop ends the loop
    TServiceLog& events; // its directory holds "log_service.txt"
    TClock& clock;
    pid_t ownPid;
    TFieldgateLimits limits;
    // Runs on a guard thread when the stop has taken longer than
    // limits.StopMs; production ends the process there.
    std::function<void()> stopOverdue;
    // Gets the text of a failure that escaped the tick, before anything is
    // unwound: production reports it and ends the process with status 217
    // there, so nothing is freed under the service's running threads. When
    // it returns (tests), the failure goes on to the caller.
    std::function<void(const char* text)> tickFailed;
};

// Start-up, role selection and, for the service, its whole run. Returns the
// exit status; throws TStartFailure, which ends the process with status 217.
int RunFieldgate(TRole role, TFieldgateParts& parts);

// The detached service: start, loop, stop and its log lines. Returns 0.
int RunService(TFieldgateParts& parts);

} // namespace gw
