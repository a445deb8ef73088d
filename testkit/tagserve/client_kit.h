// What a test-side client sends: the connection chunks, the request header,
// the session requests and identity tokens; and a free loopback port.
// Header-only, for the unit tests, the host program, the benchmark and the fuzz target.
#pragma once

#include "tagserve/binary.h"
#include "tagserve/ids.h"
#include "tagserve/secure_channel.h"
#include "testkit/free_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tagserve::test {

using gw::test::AwaitListening;
using gw::test::FreePort;

inline std::string HelloChunk(const std::string& url = "opc.tcp://127.0.0.1:4840", uint32_t receiveBuffer = 65536,
                              uint32_t sendBuffer = 65536)
{
    Writer w;
    w.Raw("HELF");
    w.UInt32(0);
    for (uint32_t v : {0u, receiveBuffer, sendBuffer, 0u, 0u})
        w.UInt32(v);
    w.String(url);
    w.PatchUInt32(4, static_cast<uint32_t>(w.Size()));
    return std::move(w.Bytes());
}

inline void WriteRequestHeader(Writer& w, const NodeId& token, uint32_t requestHandle, uint32_t timeoutHint = 0)
{
    w.WriteNodeId(token);
    w.Int64(0);
    w.UInt32(requestHandle);
    w.UInt32(0);
    w.NullString();
    w.UInt32(timeoutHint);
    w.NullExtensionObject();
}

// An OPN chunk: Issue (requestType 0) on channel 0, or Renew (1) of a channel.
inline std::string OpenChunk(uint32_t sequence, uint32_t requestId, uint32_t channelId = 0, uint32_t requestType = 0,
                             const char* policy = kSecurityPolicyNone, uint32_t securityMode = 1)
{
    Writer w;
    w.Raw("OPNF");
    w.UInt32(0);
    w.UInt32(channelId);
    w.String(policy);
    w.Int32(-1);
    w.Int32(-1);
    w.UInt32(sequence);
    w.UInt32(requestId);
    w.WriteNodeId(NodeId(0, msg::OpenSecureChannelRequest));
    WriteRequestHeader(w, NodeId(), requestId);
    w.UInt32(0);
    w.UInt32(requestType);
    w.UInt32(securityMode);
    w.Int32(-1);
    w.UInt32(600000);
    w.PatchUInt32(4, static_cast<uint32_t>(w.Size()));
    return std::move(w.Bytes());
}

inline void WriteCreateSessionBody(Writer& w, const std::string& endpointUrl = "opc.tcp://127.0.0.1:4840",
                                   double timeoutMs = 60000)
{
    for (int i = 0; i < 2; ++i) // applicationUri, productUri
        w.NullString();
    w.WriteLocalizedText({});
    w.Int32(1); // Client
    w.NullString();
    w.NullString();
    w.EmptyArray();
    w.NullString(); // serverUri
    w.String(endpointUrl);
    w.String("session");
    w.Int32(-1); // clientNonce
    w.Int32(-1); // clientCertificate
    w.Double(timeoutMs);
    w.UInt32(0);
}

// A ReadRequest body: the Value of each variable ns=1;i=id, as a client
// polling its items does.
inline void WriteReadValuesBody(Writer& w, const std::vector<uint32_t>& ids)
{
    w.Double(0); // maxAge
    w.UInt32(0); // source timestamps
    w.Int32(static_cast<int32_t>(ids.size()));
    for (uint32_t id : ids) {
        w.WriteNodeId(NodeId(1, id));
        w.UInt32(attr::Value);
        w.NullString();
        w.WriteQualifiedName({});
    }
}

inline void WriteActivateSessionBody(Writer& w, const ExtensionObject& identity)
{
    w.NullString();
    w.Int32(-1);
    w.EmptyArray();
    w.EmptyArray();
    w.WriteExtensionObject(identity);
    w.NullString();
    w.Int32(-1);
}

inline ExtensionObject AnonymousToken(const std::string& policyId = "anonymous")
{
    Writer w;
    w.String(policyId);
    return {NodeId(0, msg::AnonymousIdentityToken), 1, w.Bytes()};
}

inline ExtensionObject UserNameToken(const std::string& user, const std::string& password,
                                     const std::string& policyId = "username")
{
    Writer w;
    w.String(policyId);
    w.String(user);
    w.ByteString(password);
    w.NullString();
    return {NodeId(0, msg::UserNameIdentityToken), 1, w.Bytes()};
}

} // namespace tagserve::test
