// Sessions: identity check, binding to a secure channel, timeouts, and what
// each session keeps between requests (queued Publish requests, browse
// continuation points, its subscriptions).
#pragma once

#include "binary.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tagserve {

constexpr size_t kMaxSessions = 16;
constexpr size_t kMaxContinuationPoints = 10;
constexpr size_t kMaxQueuedPublish = 10;
constexpr double kMinSessionTimeoutMs = 10000;
constexpr double kMaxSessionTimeoutMs = 3600000;
constexpr size_t kMaxCredentialBytes = 100;
// At the session limit, an activated session whose client has sent nothing
// for this long, and has no Publish waiting, makes room for a new one.
constexpr int64_t kSilentSessionMs = 30000;

// The one identity the caller configured.
struct Credentials {
    bool byPassword = false;
    bool refused = false; // user name and password did not fit the buffer: every login fails
    std::string user;
    std::string password;
};

struct QueuedPublish {
    uint32_t channelId;
    uint32_t requestId;
    uint32_t requestHandle;
    int64_t receivedMs;
    uint32_t timeoutHintMs;
    std::vector<uint32_t> ackResults;
};

struct BrowseFilter {
    uint32_t node = 0; // node index
    uint32_t direction = 0;
    NodeId referenceType;
    bool includeSubtypes = false;
    uint32_t nodeClassMask = 0;
    uint32_t resultMask = 0;
};

struct ContinuationPoint {
    std::string id;
    BrowseFilter filter;
    size_t offset = 0; // index into the node's references
    uint32_t maxReferences = 0;
};

struct Session {
    NodeId sessionId;
    NodeId authenticationToken;
    bool activated = false;
    uint32_t channelId = 0;
    double timeoutMs = 0;
    int64_t deadlineMs = 0;
    int64_t lastRequestMs = 0; // the last request that named it
    uint32_t maxResponseSize = 0;
    std::deque<QueuedPublish> publishQueue;
    std::vector<ContinuationPoint> continuationPoints;
    std::vector<uint32_t> subscriptionIds;
};

enum class TokenKind { Anonymous, UserName, Other };

struct IdentityToken {
    TokenKind kind = TokenKind::Anonymous;
    std::string policyId;
    std::string user;
    std::string password;
    bool encrypted = false;
};

// Decodes the userIdentityToken of an ActivateSession; throws DecodeError.
IdentityToken ParseIdentityToken(const ExtensionObject& token);

// The status an ActivateSession with this token gets.
uint32_t CheckIdentity(const Credentials& credentials, const IdentityToken& token);

// The policy id the endpoint offers under the given credentials.
const char* OfferedPolicyId(const Credentials& credentials);

// Equal byte strings, in time that depends only on their lengths.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

std::string RandomBytes(size_t count);

} // namespace tagserve
