#include "service/channelsocket.h"

#include "service/ipv4.h"

#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace gw {

std::optional<Poco::Net::StreamSocket> ConnectStream(const std::string& host, int port, std::int64_t timeoutMs,
                                                     TWait& wait)
{
    const std::optional<TIPv4> ip = ParseIPv4(host);
    if (!ip || port <= 0 || port > 65535)
        return std::nullopt;
    try {
        const Poco::Net::SocketAddress address(Poco::Net::IPAddress(ip->data(), sizeof(TIPv4)),
                                               static_cast<Poco::UInt16>(port));
        Poco::Net::StreamSocket socket;
        socket.connectNB(address);
        const std::int64_t until = wait.Clock().MonotonicMs() + timeoutMs;
        while (!wait.StopRequested()) {
            if (wait.Poll(socket.impl()->sockfd(), POLLOUT, until) != 0) {
                if (socket.impl()->socketError() != 0)
                    return std::nullopt;
                socket.setNoDelay(true);
                return socket;
            }
            if (wait.Clock().MonotonicMs() >= until)
                return std::nullopt;
        }
    } catch (const Poco::Exception&) {
    }
    return std::nullopt;
}

int ReadStream(Poco::Net::StreamSocket& socket, std::span<std::uint8_t> buf, TWait& wait, std::int64_t untilMs)
{
    const int fd = socket.impl()->sockfd();
    if ((wait.Poll(fd, POLLIN, untilMs) & (POLLIN | POLLHUP | POLLERR)) == 0)
        return 0;
    return ReadWaiting(socket, buf);
}

int ReadWaiting(Poco::Net::StreamSocket& socket, std::span<std::uint8_t> buf)
{
    const int fd = socket.impl()->sockfd();
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n > 0)
        return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

bool WriteStream(Poco::Net::StreamSocket& socket, std::span<const std::uint8_t> bytes, std::int64_t timeoutMs,
                 TWait& wait)
{
    const int fd = socket.impl()->sockfd();
    const std::int64_t until = wait.Clock().MonotonicMs() + timeoutMs;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (wait.StopRequested() || wait.Clock().MonotonicMs() >= until)
            return false;
        wait.Poll(fd, POLLOUT, until);
    }
    return true;
}

} // namespace gw
