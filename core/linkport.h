#pragma once
// What a link object sees of the world outside the core: the socket side of
// its channel (a channel thread for an active station, the connection of a
// listening server for a passive one) and the exchange trace file. The
// service plugs real sockets and files in; tests plug fakes.
//
// Locks: the link calls the port under its channel lock, and the port takes
// its own mailbox lock inside; so the socket side must never call into the
// link (receive, connect, disconnect) while it holds its mailbox lock.

#include <cstdint>
#include <span>
#include <string>

namespace gw {

class TLinkPort {
public:
    virtual ~TLinkPort() = default;

    // An active channel has a thread that connects on request; a passive one
    // waits for its station.
    virtual bool HasThread() const = 0;
    virtual bool IsConnected() const = 0;
    // Hands one frame to the one-frame mailbox; false while it still holds
    // the previous one (nothing is taken then).
    virtual bool OfferFrame(std::span<const std::uint8_t> frame) = 0;
    // Takes back the frame the mailbox still holds, one not yet taken for
    // writing; true when there was one. A frame the disconnect throws away
    // never left, and the link must know whether it was a command's.
    virtual bool WithdrawFrame() = 0;
    // Active channels: connect (again) to host:port.
    virtual void RequestConnect(const std::string& host, int port) = 0;
    virtual void RequestDisconnect() = 0;
    // Address and port of the connection, by which received values find their tags.
    virtual void CurrentAddress(std::string& host, int& port) const = 0;
};

// The link's view of its channel record: the port and how the station connects.
struct TLinkSocket {
    TLinkPort* port = nullptr;
    int Nomer_KP = 0;
    bool Passive_ = false;
    // Also send STARTDT act on a passive channel.
    bool send_start_DT_passiv_ = false;
};

// The per-channel exchange trace ("Socket" + channel + ".txt").
class TLinkTrace {
public:
    virtual ~TLinkTrace() = default;
    virtual void TraceLine(int nomer_socket, const std::string& line) = 0;
};

} // namespace gw
