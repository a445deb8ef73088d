#pragma once
// Socket steps of the channel threads, all waiting in the thread's TWait, so
// that a stop or a wake cuts them short: a non-blocking connect polled until
// it completes, fails, times out on the wait's clock or the thread is
// stopped; a read of what comes before the channel's next deadline; a write
// of one frame. Writes never raise SIGPIPE.

#include "service/wait.h"

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
                                                     TWait& wait);

// Waits for bytes until a wake or the clock's untilMs: their count (at most
// buf.size()), 0 when none came, -1 when the peer closed or reset the
// connection.
int ReadStream(Poco::Net::StreamSocket& socket, std::span<std::uint8_t> buf, TWait& wait, std::int64_t untilMs);

// Takes the bytes that wait, without waiting: as ReadStream.
int ReadWaiting(Poco::Net::StreamSocket& socket, std::span<std::uint8_t> buf);

// Writes all bytes; false when the connection broke, the time-out passed or
// a stop was requested first.
bool WriteStream(Poco::Net::StreamSocket& socket, std::span<const std::uint8_t> bytes, std::int64_t timeoutMs,
                 TWait& wait);

} // namespace gw
