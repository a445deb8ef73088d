#pragma once
// Socket steps of the channel threads that never block beyond a slice of
// TChannelWake: a non-blocking connect polled until it completes, fails, times
// out on the channel's clock or the thread is stopped; a read of what waits;
// a write of one frame. Writes never raise SIGPIPE.

#include "core/clock.h"
#include "service/channelwake.h"

#include <Poco/Net/StreamSocket.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace gw {

// The connected socket, or nothing when host is no strict dotted-decimal
// IPv4 address, the port is out of range, the peer refuses, the time-out
// passes or a stop is requested.
std::optional<Poco::Net::StreamSocket> ConnectStream(const std::string& host, int port, std::int64_t timeoutMs,
                                                     const TClock& clock, TChannelWake& wake);

// Waits a slice for bytes: their count (at most buf.size()), 0 when none
// came, -1 when the peer closed or reset the connection.
int ReadStream(Poco::Net::StreamSocket& socket, std::span<std::uint8_t> buf, TChannelWake& wake);

// Writes all bytes; false when the connection broke, the time-out passed or
// a stop was requested first.
bool WriteStream(Poco::Net::StreamSocket& socket, std::span<const std::uint8_t> bytes, std::int64_t timeoutMs,
                 const TClock& clock, TChannelWake& wake);

} // namespace gw
