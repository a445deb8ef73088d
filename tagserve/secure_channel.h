// One client connection: HEL/ACK, the secure channel with SecurityPolicy
// None (OPN Issue/Renew, tokens, sequence numbers, CLO), reassembly of
// request chunks and splitting of responses. It owns no socket: bytes go
// in through Receive and come out of Output, so tests drive it directly.
#pragma once

#include "transport.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tagserve {

class SecureChannel;

class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    // A whole service request; the body starts at its encoding NodeId.
    virtual void OnRequest(SecureChannel& channel, uint32_t requestId, std::string_view body) = 0;
};

// HEL and OpenSecureChannel come at once from every client; a socket that sends
// neither only holds a slot. Each of the two gets this long, counted from the
// connection and from the answered HEL: a server busy with other clients' turns
// reads a HEL late, and that delay is not the client's.
constexpr int64_t kHelloTimeoutMs = 5000;
constexpr size_t kMaxPartialMessages = 4;
constexpr uint32_t kMinTokenLifetimeMs = 10000;
constexpr uint32_t kMaxTokenLifetimeMs = 3600000;
// A client that does not read its answers gets no further ones, and is not
// read from either, once this much waits for it.
constexpr size_t kMaxPendingOutput = 8u << 20;
constexpr const char* kSecurityPolicyNone = "http://opcfoundation.org/UA/SecurityPolicy#None";

class SecureChannel {
public:
    SecureChannel(uint32_t channelId, MessageHandler& handler, int64_t nowMs);

    // Takes the bytes and answers at most one request among them, none while
    // the output waiting for the client has reached kMaxPendingOutput: one
    // client's requests take their turn with the others'.
    void Receive(const char* data, size_t size, int64_t nowMs);
    // Whole chunks received and not taken yet: Receive(nullptr, 0, ...) goes on with them.
    bool HasUnreadInput() const;
    // Sends a response body as C...F chunks. Sends nothing and returns false
    // when the body exceeds what the client accepts (or extraLimit, when
    // non-zero), or kMaxResponseMessageSize.
    bool Send(uint32_t requestId, std::string_view body, uint32_t extraLimit = 0);
    // Sends ERR and stops reading: the connection closes once output is flushed.
    void Fail(uint32_t status, std::string_view reason);

    std::string& Output() { return output_; }
    bool Closed() const { return closed_; }
    bool Expired(int64_t nowMs) const;
    bool IsOpen() const { return open_; }
    uint32_t Id() const { return channelId_; }
    const std::string& HelloUrl() const { return helloUrl_; }
    // opc.tcp URL of the socket's local address, for clients that name no URL.
    void SetLocalUrl(std::string url) { localUrl_ = std::move(url); }
    const std::string& LocalUrl() const { return localUrl_; }

private:
    uint32_t ChunkLimit() const;
    void OnChunk(const std::string& chunk, int64_t nowMs);
    void OnHello(const std::string& chunk, int64_t nowMs);
    void OnOpen(const std::string& chunk, int64_t nowMs);
    void OnMessage(const std::string& chunk, const ChunkHeader& h, int64_t nowMs);
    bool AcceptSequence(uint32_t sequenceNumber);
    uint32_t NextSendSequence();
    bool AcceptToken(uint32_t tokenId, int64_t nowMs);

    MessageHandler& handler_;
    uint32_t channelId_;
    int64_t openingSinceMs_; // the connection, then the answered HEL
    ChunkStream stream_;
    Negotiated limits_;
    std::string helloUrl_;
    std::string localUrl_;
    std::string output_;
    bool hello_ = false;
    bool open_ = false;
    bool closed_ = false;
    bool requestTaken_ = false; // by the current Receive

    uint32_t tokenId_ = 0;
    uint32_t previousTokenId_ = 0; // still accepted until the client switches
    int64_t tokenExpiresMs_ = 0;
    int64_t previousExpiresMs_ = 0;

    bool anySequence_ = false;
    uint32_t lastSequence_ = 0;
    uint32_t sendSequence_ = 0;

    std::map<uint32_t, std::string> partial_; // request id -> chunks so far
    size_t partialBytes_ = 0;                 // in all of partial_
};

} // namespace tagserve
