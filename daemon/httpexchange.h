#pragma once
// One request that the gate has read whole, put to the handler: the request
// comes from memory, the answer goes to the client's socket.

#include <Poco/Net/HTTPServerParams.h>

namespace gw {

class THttpConnection;
class TSubj104Serv_ext;

// Answers the connection's complete request; true when the connection can
// carry the next one. Never throws.
bool ServeRequest(const TSubj104Serv_ext& handler, THttpConnection& connection,
                  const Poco::Net::HTTPServerParams::Ptr& params);

} // namespace gw
