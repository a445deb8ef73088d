// Who gives way when a new connection arrives at the connection limit. Idle
// sockets and bare secure channels cost nothing to open, so they must never
// keep out a client that logs in: the newcomer displaces the oldest
// connection that has not opened its secure channel yet, else the oldest whose
// channel carries no activated session. Only when every connection carries an
// activated session is the newcomer refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tagserve {

enum class Standing : uint8_t {
    Opening,     // HEL or OpenSecureChannel not completed
    Sessionless, // open secure channel, no activated session on it
    InSession,   // an activated session is bound to the channel
};

// standings: those of the open connections, oldest first. Returns the index
// of the connection to close for the newcomer, or -1 to refuse the newcomer.
int DisplacedConnection(const std::vector<Standing>& standings);

} // namespace tagserve
