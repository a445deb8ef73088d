#include "daemon/detach.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gw {

namespace {

constexpr mode_t ServiceUmask = 033; // files of the service get mode 0644

pid_t ForkOrFail()
{
    const pid_t pid = ::fork();
    if (pid < 0)
        throw TStartFailure("Error forking the process");
    return pid;
}

bool Reopen(int target, const char* path, int flags)
{
    const int fd = ::open(path, flags, 0644);
    if (fd < 0)
        return false;
    ::dup2(fd, target);
    if (fd != target)
        ::close(fd);
    return true;
}

void StandardStreamsDetached(const std::string& stderrLog)
{
    Reopen(STDIN_FILENO, "/dev/null", O_RDWR);
    Reopen(STDOUT_FILENO, "/dev/null", O_RDWR);
    if (!Reopen(STDERR_FILENO, stderrLog.c_str(), O_WRONLY | O_APPEND | O_CREAT))
        Reopen(STDERR_FILENO, "/dev/null", O_RDWR);
}

} // namespace

TForkSide TSystemDetacher::Detach()
{
    if (ForkOrFail() > 0)
        return TForkSide::Parent;
    if (::setsid() < 0)
        throw TStartFailure("Impossible to create an independent session");
    std::signal(SIGCHLD, SIG_IGN); // children are reaped by the system
    StandardStreamsDetached(stderrLog_);
    // The session leader ends at once; the service goes on without a
    // terminal it could ever acquire.
    if (ForkOrFail() > 0)
        ::_exit(0);
    ::umask(ServiceUmask);
    // The service names its files by their full path: "/" only keeps no
    // other directory busy, and a failure changes nothing.
    [[maybe_unused]] const int ignored = ::chdir("/");
    return TForkSide::Child;
}

} // namespace gw
