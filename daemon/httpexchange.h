#pragma once
// One request that the gate has read whole, put to the handler: the request
// comes from memory, and the answer goes to memory, for the gate to write.

#include "daemon/httpgate.h"

#include <Poco/Net/HTTPServerParams.h>

namespace gw {

class TSubj104Serv_ext;

// Answers the connection's complete request. Never throws.
THttpAnswer ServeRequest(const TSubj104Serv_ext& handler, THttpConnection& connection,
                         const Poco::Net::HTTPServerParams::Ptr& params);

} // namespace gw
