// A server without sockets: Services behind a SecureChannel, driven with
// request bodies and a fake monotonic clock.
#pragma once

#include "testkit/tagserve/client_kit.h"

#include "tagserve/binary.h"
#include "tagserve/ids.h"
#include "tagserve/model.h"
#include "tagserve/secure_channel.h"
#include "tagserve/services.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tagserve::test {

// Monotonic milliseconds the tests move by hand.
extern int64_t fakeNowMs;
int64_t FakeClock();

// The fixture model: group 80001 "Station_1" with Connected (Boolean, read-only),
// p_sw (Boolean, writable), p_int (Int32, writable), m1 (Double, read-only);
// group 80002 "lifebit" with lifebit (Int32, read-only).
void BuildFixtureModel(Model& model);

struct Response {
    uint32_t type = 0; // encoding id of the response
    uint32_t requestHandle = 0;
    uint32_t serviceResult = 0;
    std::string body; // after the ResponseHeader
    Reader Body() const { return Reader(body); }
};

// Records the ids of the write callbacks.
extern std::vector<int32_t> writtenIds;
void RecordWrite(int32_t id);

class Harness {
public:
    // build fills the model before the services are made (the fixture model by default).
    explicit Harness(Credentials credentials = {}, bool withCallback = true,
                     const std::function<void(Model&)>& build = BuildFixtureModel);

    Model model;
    ServerConfig config;
    std::unique_ptr<Services> services;
    std::unique_ptr<SecureChannel> channel;
    NodeId token; // authentication token of the current session

    // Sends one request (encoding id, header with the given token, body) and
    // returns the responses that came out, in order.
    std::vector<Response> Send(uint32_t type, const std::function<void(Writer&)>& body,
                               std::optional<NodeId> withToken = std::nullopt);
    // Sends a whole request body as it came from a client.
    std::vector<Response> SendRaw(const std::string& body);
    // The MSG chunks of a request body, for tests that feed several at once.
    std::string Chunks(const std::string& body);
    // Exactly one response expected.
    Response Call(uint32_t type, const std::function<void(Writer&)>& body);
    std::vector<Response> Collect();

    // CreateSession plus ActivateSession with an anonymous token.
    void OpenSession();
    uint32_t Activate(const ExtensionObject& identity);

private:
    uint32_t sequence_ = 1;
    uint32_t requestId_ = 1;
    uint32_t handle_ = 100;
};

} // namespace tagserve::test
