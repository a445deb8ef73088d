#pragma once
// A TCP port nobody uses just now, for a server a test starts a moment later.
// Header-only on plain sockets, so the OPC UA library's tests, which link no
// POCO, use it too.
//
// The port is taken below the kernel's ephemeral range: the ports it hands out
// itself (a bind to port 0, the local end of every outgoing connection) come
// from that range, so a port picked there can be taken by any connection, the
// test's own included, before its server binds it. Below the range only
// explicit binds go. Each call moves on from a random start, so two calls, or
// two test programs at once, do not get the same port.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace gw::test {

// Whether a server could listen on the port on every address now.
inline bool PortIsFree(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("no socket for a free port");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return free;
}

// The ports outside the ephemeral range: [first, first + count).
struct TPortSpan {
    int first, count;
};

inline TPortSpan PortsOutsideTheEphemeralRange()
{
    constexpr int Lowest = 10000;
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 32768, high = 60999;
    range >> low >> high;
    if (low - Lowest >= 1000)
        return {Lowest, low - Lowest};
    return {high + 1, 65536 - (high + 1)}; // a range reaching down this far: the ports above it
}

inline int FreePort()
{
    static const TPortSpan ports = PortsOutsideTheEphemeralRange();
    static std::atomic<unsigned> cursor{std::random_device{}()};
    for (int attempt = 0; attempt < ports.count; ++attempt) {
        const int port = ports.first + static_cast<int>(cursor++ % static_cast<unsigned>(ports.count));
        if (PortIsFree(port))
            return port;
    }
    throw std::runtime_error("no free port");
}

// Who listens on the port (IPv4): a socket of this very process, another
// program, or nobody. A port picked free can be taken by another program before
// a server of the test binds it; a connection that merely succeeds may then
// reach that other program.
enum class TListener { Nobody, Here, Elsewhere };

inline TListener ListenerOn(int port)
{
    // The listeners first, this process's sockets after: a server that begins
    // to listen between the two reads is then still seen as this process's.
    constexpr const char* Listen = "0A";
    std::vector<std::string> listeners;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        const auto colon = local.find(':');
        if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port && state == Listen)
            listeners.push_back("socket:[" + inode + "]");
    }
    if (listeners.empty())
        return TListener::Nobody;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (!error && std::find(listeners.begin(), listeners.end(), target) != listeners.end())
            return TListener::Here;
    }
    return TListener::Elsewhere;
}

// Waits until a server of this process listens on the port; false when
// another program listens there instead or the limit passes, which only a
// failed bind or a broken server reaches.
inline bool AwaitListening(int port, std::chrono::seconds limit = std::chrono::seconds(60))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const TListener listener = ListenerOn(port);
        if (listener != TListener::Nobody)
            return listener == TListener::Here;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace gw::test
