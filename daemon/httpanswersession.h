#pragma once
// The session an answer is written through. A blocking send with a time-out
// restarts that time-out with every partial send, so a client that takes its
// answer a few bytes at a time would hold a handler thread for as long as it
// likes; here the whole answer has one deadline. Past it the write throws
// Poco::TimeoutException and the session keeps that as its network
// exception: the answer is cut, the connection is not to be kept. So is an
// answer still waiting for its client when the server stops, which must not
// hold the stop for the rest of its deadline.

#include "core/clock.h"

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <cstdint>
#include <ios>

namespace gw {

class THttpAnswerSession final : public Poco::Net::HTTPServerSession {
public:
    // deadlineMs is on clock's monotonic milliseconds; stopping is the server's.
    THttpAnswerSession(const Poco::Net::StreamSocket& socket, const Poco::Net::HTTPServerParams::Ptr& params,
                       const TClock& clock, std::int64_t deadlineMs, const std::atomic<bool>& stopping);

protected:
    // All of buffer, or an exception.
    int write(const char* buffer, std::streamsize length) override;

private:
    // Until the socket takes more; throws past the deadline.
    void AwaitRoom(int fd);

    const TClock& clock_;
    const std::int64_t deadlineMs_;
    const std::atomic<bool>& stopping_;
};

} // namespace gw
