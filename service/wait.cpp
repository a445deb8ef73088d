#include "service/wait.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace gw {

TWait::TWait(const TClock& clock) : clock_(clock), fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWait::~TWait()
{
    while (entered_.load() > 0)
        Leave();
    ::close(fd_);
}

void TWait::Wake()
{
    const std::uint64_t one = 1;
    // A full counter already wakes the thread; nothing else can fail here.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void TWait::RequestStop()
{
    stop_ = true;
    Wake();
    clock_.Interrupt(*this);
}

void TWait::Enter()
{
    ++entered_;
    clock_.Attach(*this);
}

void TWait::Leave()
{
    int entered = entered_.load();
    while (entered > 0 && !entered_.compare_exchange_weak(entered, entered - 1)) {
    }
    if (entered > 0)
        clock_.Detach(*this);
}

short TWait::Poll(int fd, short events, std::int64_t untilMs)
{
    pollfd one{fd, events, 0};
    Poll(fd >= 0 ? std::span<pollfd>(&one, 1) : std::span<pollfd>(), untilMs);
    return fd >= 0 ? one.revents : 0;
}

void TWait::Poll(std::span<pollfd> fds, std::int64_t untilMs)
{
    if (fds.size() > MaxFds)
        throw std::length_error("TWait::Poll: too many descriptors");
    pollfd all[MaxFds + 1] = {{fd_, POLLIN, 0}};
    const std::size_t count = fds.size();
    std::copy_n(fds.begin(), count, all + 1);
    const int timeoutMs = StopRequested() ? 0 : clock_.SleepMs(*this, untilMs);
    const bool any = ::poll(all, static_cast<nfds_t>(count + 1), timeoutMs) > 0;
    // A stop stays signalled, so that every thread waiting here sees it.
    if (any && (all[0].revents & POLLIN) && !StopRequested()) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &value, sizeof value);
    }
    for (std::size_t i = 0; i < count; ++i)
        fds[i].revents = any ? all[i + 1].revents : 0;
}

bool TWait::WaitUntil(std::int64_t untilMs)
{
    while (!StopRequested() && clock_.MonotonicMs() < untilMs)
        Poll(-1, 0, untilMs);
    return !StopRequested();
}

} // namespace gw
