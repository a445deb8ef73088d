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

// Descriptor 2 stays as inherited: nothing is written to it from here on.
void StandardStreamsToDevNull()
{
    const int fd = ::open("/dev/null", O_RDWR);
    if (fd < 0)
        return;
    ::dup2(fd, STDIN_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    if (fd > STDERR_FILENO)
        ::close(fd);
}

} // namespace

TForkSide TSystemDetacher::Detach()
{
    if (ForkOrFail() > 0)
        return TForkSide::Parent;
    if (::setsid() < 0)
        throw TStartFailure("Impossible to create an independent session");
    std::signal(SIGCHLD, SIG_IGN); // children are reaped by the system
    StandardStreamsToDevNull();
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
