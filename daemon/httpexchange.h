#pragma once
// One request that the gate has read whole, put to the handler: the request
// comes from memory, the answer goes to the client's socket.

#include "core/clock.h"

#include <Poco/Net/HTTPServerParams.h>

#include <atomic>
#include <cstdint>

namespace gw {

class THttpConnection;
class TSubj104Serv_ext;

// How long an answer may take: timeoutMs on clock, and no longer than until
// the server stops.
struct TAnswerDeadline {
    const TClock& clock;
    std::int64_t timeoutMs;
    const std::atomic<bool>& stopping;
};

// Answers the connection's complete request; true when the connection can
// carry the next one. The answer is cut, and the connection not kept, when
// the client has not taken it all by the deadline. Never throws.
bool ServeRequest(const TSubj104Serv_ext& handler, THttpConnection& connection,
                  const Poco::Net::HTTPServerParams::Ptr& params, const TAnswerDeadline& deadline);

} // namespace gw
