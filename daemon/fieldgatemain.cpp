#include "daemon/fieldgatemain.h"

#include "daemon/fieldgate.h"
#include "daemon/fieldgateservice.h"
#include "daemon/instances.h"
#include "daemon/serviceevents.h"
#include "service/servicelog.h"

#include <csignal>
#include <cstring>
#include <exception>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace gw {

namespace {

constexpr int UnhandledFailureStatus = 217;

class TSkippedReboot final : public TRebootAction {
public:
    TSkippedReboot(TServiceLog& events, TClock& clock) : events_(events), clock_(clock) {}
    void Reboot() override { LogServiceEvent(events_, clock_, RebootSkippedText); }

private:
    TServiceLog& events_;
    TClock& clock_;
};

// Straight to descriptor 2: no stream buffer that another thread may hold.
[[noreturn]] void EndWithFailure(const char* text)
{
    const std::string line = std::string("fieldgate: unhandled failure: ") + text + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(UnhandledFailureStatus);
}

[[noreturn]] void Run(int argc, char** argv)
{
    const TFieldgateHome home = FieldgateHomeFromEnvironment();
    TClock& clock = SystemClock();
    TServiceLog events(home.ServiceDir);
    SetFatalStopHandler(LogFatalStop(events, clock));

    TWait watchWait(clock);
    TProgramLauncher launcher({home.BasePath, "-w"});
    TWatcherLaunch launch(launcher, clock, watchWait);
    TPgrepLister lister(home.ProgramName());
    const std::unique_ptr<TRebootAction> reboot = MakeRebootAction(home, events, clock);
    TWatcher watcher({lister, *reboot, launch, clock, watchWait, std::to_string(::getpid())});

    TSystemDetacher detacher(home.ServiceDir + StderrLogFile);
    TWait loopWait(clock);
    TFieldgateParts parts{launch,
                          [&watcher] { return watcher.wait_life_process(); },
                          detacher,
                          [&home] { return std::make_unique<TFieldgateService>(home.ServiceDir); },
                          loopWait,
                          events,
                          clock,
                          ::getpid(),
                          TFieldgateLimits{},
                          [&events, &clock] {
                              LogServiceEvent(events, clock, StopOverdueText);
                              ::_exit(0);
                          },
                          [](const char* text) { EndWithFailure(text); }};
    // No destructor may run from here on, not even while an exception
    // unwinds: the watcher's check thread may hang in "pgrep", and after a
    // fork the threads of the objects above belong to another process.
    try {
        ::_exit(RunFieldgate(RoleFromCommandLine(argc, argv), parts));
    } catch (const std::exception& e) {
        EndWithFailure(e.what());
    } catch (...) {
        EndWithFailure("unknown exception");
    }
}

} // namespace

std::unique_ptr<TRebootAction> MakeRebootAction(const TFieldgateHome& home, TServiceLog& events, TClock& clock)
{
    if (home.RebootIsNoOp)
        return std::make_unique<TSkippedReboot>(events, clock);
    return std::make_unique<TSystemReboot>();
}

namespace {

// Every channel holds a socket and a wake-up descriptor, so a full
// configuration needs about two thousand descriptors, more than the usual
// soft limit of 1024: take what the hard limit allows.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

void FieldgateMain(int argc, char** argv)
{
    // A peer that closes its socket must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();
    try {
        Run(argc, argv); // ends the process itself once its parts are built
    } catch (const std::exception& e) {
        EndWithFailure(e.what());
    } catch (...) {
        EndWithFailure("unknown exception");
    }
}

} // namespace gw
