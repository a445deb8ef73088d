#include "service/channelwake.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace gw {

TChannelWake::TChannelWake() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TChannelWake::~TChannelWake() { ::close(fd_); }

void TChannelWake::Wake()
{
    const std::uint64_t one = 1;
    // A full counter already wakes the thread; nothing else can fail here.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void TChannelWake::RequestStop()
{
    stop_ = true;
    Wake();
}

short TChannelWake::Poll(int fd, short events)
{
    pollfd fds[2] = {{fd_, POLLIN, 0}, {fd, events, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    if (::poll(fds, count, SliceMs) <= 0)
        return 0;
    if (fds[0].revents & POLLIN) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &value, sizeof value);
    }
    return fd >= 0 ? fds[1].revents : 0;
}

bool TChannelWake::WaitUntil(const TClock& clock, std::int64_t untilMs)
{
    while (!StopRequested() && clock.MonotonicMs() < untilMs)
        Poll(-1, 0);
    return !StopRequested();
}

} // namespace gw
