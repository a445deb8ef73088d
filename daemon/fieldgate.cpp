#include "daemon/fieldgate.h"

#include "daemon/serviceevents.h"
#include "service/thread.h"
#include "service/wait.h"

#include <string_view>

namespace gw {

namespace {

// A watcher whose count stalled hands over to a fresh one and ends; its
// check thread, perhaps hanging in "pgrep", ends with the process.
int Replace(TFieldgateParts& p)
{
    p.launch.ClearWatcherLaunched();
    p.launch.start_watchdog_thread();
    p.launch.WaitWatcherLaunched(p.limits.WatcherLaunchMs);
    return 0;
}

// The stop, with a guard that calls stopOverdue when it takes too long. The
// guard counts real time: it must speak even when the stop has stalled
// everything else. However the stop ends, the guard is stopped and joined.
void StopWithin(TServiceBody& service, TFieldgateParts& p)
{
    TWait guardWait(SystemClock());
    TThread guard;
    guard.Start(
        [&] {
            if (guardWait.WaitMs(p.limits.StopMs) && p.stopOverdue)
                p.stopOverdue();
        },
        [&] { guardWait.RequestStop(); });
    service.Stop();
}

void TickOrFail(TServiceBody& service, TFieldgateParts& p)
{
    try {
        service.Tick();
    } catch (const std::exception& e) {
        if (p.tickFailed)
            p.tickFailed(e.what());
        throw;
    } catch (...) {
        if (p.tickFailed)
            p.tickFailed("unknown exception");
        throw;
    }
}

} // namespace

TRole RoleFromCommandLine(int argc, const char* const argv[])
{
    return argc > 1 && std::string_view(argv[1]) == "-w" ? TRole::Watcher : TRole::Service;
}

int RunFieldgate(TRole role, TFieldgateParts& p)
{
    if (role == TRole::Service)
        p.launch.start_watchdog_thread(); // the main thread does not wait here
    else if (role == TRole::Watcher)
        role = p.lifeCheck() ? TRole::Service : TRole::Replacement;
    if (role == TRole::Replacement)
        return Replace(p);

    // As the first process of a container the service would take the
    // whole container down with it when it detaches.
    if (p.ownPid == 1)
        return 0;

    // The calling process ends only once its watcher exists. It waits for
    // that before the fork rather than after: a process forked while
    // another of its threads runs may find that thread's locks held for
    // ever, and the service starts threads of its own.
    p.launch.WaitWatcherLaunched(p.limits.WatcherLaunchMs);
    p.launch.JoinFinishedLaunch();
    if (p.detacher.Detach() == TForkSide::Parent)
        return 0;
    return RunService(p);
}

int RunService(TFieldgateParts& p)
{
    std::unique_ptr<TServiceBody> service = p.makeService();
    service->Start();
    bool ServiceRunning = true;
    while (ServiceRunning) {
        TickOrFail(*service, p);
        // A stopped wait ends the loop as a reconfiguration does.
        if (!p.loopWait.WaitMs(LoopPeriodMs))
            break;
        if (service->ReconfigureRequested())
            ServiceRunning = false;
    }
    if (service->ReconfigureRequested())
        LogServiceEvent(p.events, p.clock, ReconfigureText);
    StopWithin(*service, p);
    LogServiceEvent(p.events, p.clock, EndStopText);
    return 0;
}

} // namespace gw
