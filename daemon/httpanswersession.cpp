#include "daemon/httpanswersession.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>

namespace gw {

namespace {

// Without a wake-up a fake clock's deadline is seen this late at most.
constexpr std::int64_t PollCapMs = 50;

} // namespace

THttpAnswerSession::THttpAnswerSession(const Poco::Net::StreamSocket& socket,
                                       const Poco::Net::HTTPServerParams::Ptr& params, const TClock& clock,
                                       std::int64_t deadlineMs, const std::atomic<bool>& stopping)
    : Poco::Net::HTTPServerSession(socket, params), clock_(clock), deadlineMs_(deadlineMs), stopping_(stopping)
{
}

int THttpAnswerSession::write(const char* buffer, std::streamsize length)
{
    const int fd = socket().impl()->sockfd();
    std::streamsize sent = 0;
    while (sent < length) {
        const ssize_t n =
            ::send(fd, buffer + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += n;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            AwaitRoom(fd);
        } else if (errno != EINTR) {
            const Poco::Net::NetException broken("Answer not sent", std::strerror(errno), errno);
            setException(broken);
            throw broken;
        }
    }
    return static_cast<int>(sent);
}

void THttpAnswerSession::AwaitRoom(int fd)
{
    for (;;) {
        const std::int64_t left = deadlineMs_ - clock_.MonotonicMs();
        if (left <= 0 || stopping_.load()) {
            const Poco::TimeoutException late(left <= 0 ? "Answer not taken in time" : "Answer cut: the server stops");
            setException(late);
            throw late;
        }
        pollfd p{fd, POLLOUT, 0};
        // An error or hang-up shows as ready: the next send reports it.
        if (::poll(&p, 1, static_cast<int>(std::min(left, PollCapMs))) > 0)
            return;
    }
}

} // namespace gw
