#pragma once
// A loopback TCP port nobody listens on just now (it was free a moment ago).
// Header-only on plain sockets, so the OPC UA library's tests, which link no
// POCO, use it too.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace gw::test {

inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("no socket for a free port");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    ::close(fd);
    if (!ok)
        throw std::runtime_error("no free loopback port");
    return ntohs(addr.sin_port);
}

} // namespace gw::test
