#include "services.h"

#include "clock.h"
#include "ids.h"
#include "log.h"

#include <algorithm>
#include <cmath>

namespace tagserve {

namespace {

const char* const kBinaryProfile = "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";
constexpr size_t kNonceBytes = 32;

uint32_t RandomUInt32()
{
    std::string b = RandomBytes(4);
    Reader r(b);
    return r.UInt32();
}

} // namespace

uint32_t OperationCountStatus(int32_t count)
{
    if (count == 0)
        return status::BadNothingToDo;
    if (count > kMaxOperationsPerCall)
        return status::BadTooManyOperations;
    return status::Good;
}

const Services::Entry Services::kServices[] = {
    {msg::GetEndpointsRequest, &Services::GetEndpoints, false},
    {msg::FindServersRequest, &Services::FindServers, false},
    {msg::CreateSessionRequest, &Services::CreateSession, false},
    {msg::ActivateSessionRequest, &Services::ActivateSession, false},
    {msg::CloseSessionRequest, &Services::CloseSession, false},
    {msg::BrowseRequest, &Services::Browse, true},
    {msg::BrowseNextRequest, &Services::BrowseNext, true},
    {msg::TranslateBrowsePathsRequest, &Services::TranslateBrowsePaths, true},
    {msg::RegisterNodesRequest, &Services::RegisterNodes, true},
    {msg::UnregisterNodesRequest, &Services::UnregisterNodes, true},
    {msg::ReadRequest, &Services::Read, true},
    {msg::WriteRequest, &Services::Write, true},
    {msg::CreateSubscriptionRequest, &Services::CreateSubscription, true},
    {msg::ModifySubscriptionRequest, &Services::ModifySubscription, true},
    {msg::SetPublishingModeRequest, &Services::SetPublishingMode, true},
    {msg::CreateMonitoredItemsRequest, &Services::CreateMonitoredItems, true},
    {msg::ModifyMonitoredItemsRequest, &Services::ModifyMonitoredItems, true},
    {msg::SetMonitoringModeRequest, &Services::SetMonitoringMode, true},
    {msg::DeleteMonitoredItemsRequest, &Services::DeleteMonitoredItems, true},
    {msg::PublishRequest, &Services::Publish, true},
    {msg::RepublishRequest, &Services::Republish, true},
    {msg::DeleteSubscriptionsRequest, &Services::DeleteSubscriptions, true},
};

Services::Services(Model& model, const ServerConfig& config, Clock clock)
    : model_(model), config_(config), clock_(clock), space_(config.info, model),
      nextSubscriptionId_(RandomUInt32() % 1000000 + 1)
{
}

Services::~Services() = default;

void Services::AttachChannel(SecureChannel& channel) { channels_[channel.Id()] = &channel; }

void Services::DetachChannel(uint32_t channelId)
{
    channels_.erase(channelId);
    // Publish requests can only be answered on the channel they came on.
    for (auto& s : sessions_)
        std::erase_if(s->publishQueue, [&](const QueuedPublish& p) { return p.channelId == channelId; });
}

void Services::OnRequest(SecureChannel& channel, uint32_t requestId, std::string_view body)
{
    Reader r(body);
    uint32_t type = 0;
    RequestHeader header;
    try {
        NodeId typeId = r.ReadNodeId();
        type = typeId.ns == 0 && typeId.kind == NodeId::Kind::Numeric ? typeId.numeric : 0;
        header = ReadRequestHeader(r);
    } catch (const DecodeError& e) {
        channel.Fail(status::BadDecodingError, e.what());
        return;
    }
    Call call{channel, requestId, header, nullptr, clock_()};
    const Entry* entry = nullptr;
    for (const Entry& e : kServices)
        if (e.requestType == type)
            entry = &e;
    if (!entry)
        return Fault(call, status::BadServiceUnsupported);
    if (entry->needsSession) {
        uint32_t st = CheckSession(call);
        if (st != status::Good)
            return Fault(call, st);
    }
    try {
        (this->*(entry->handler))(call, r);
    } catch (const DecodeError& e) {
        Log(LogKind::Client, "request %u: %s", type, e.what());
        Fault(call, status::BadDecodingError);
    } catch (const std::exception& e) {
        // Out of memory or a fault of ours: this request fails, the server goes on.
        Log(LogKind::Internal, "request %u failed: %s", type, e.what());
        Fault(call, status::BadInternalError);
    }
}

uint32_t Services::CheckSession(Call& call)
{
    Session* s = FindSession(call.header.authenticationToken);
    if (!s)
        return status::BadSessionIdInvalid;
    if (!s->activated)
        return status::BadSessionNotActivated;
    if (s->channelId != call.channel.Id())
        return status::BadSecureChannelIdInvalid;
    s->deadlineMs = call.nowMs + static_cast<int64_t>(s->timeoutMs);
    s->lastRequestMs = call.nowMs;
    call.session = s;
    return status::Good;
}

void Services::Reply(Call& call, Writer& w)
{
    uint32_t limit = call.session ? call.session->maxResponseSize : 0;
    if (!call.channel.Send(call.requestId, w.Bytes(), limit))
        Fault(call, status::BadResponseTooLarge);
}

void Services::Fault(Call& call, uint32_t status)
{
    call.channel.Send(call.requestId, ServiceFault(call.header.requestHandle, status));
}

// ---- Discovery ----

std::string Services::EndpointUrl(const SecureChannel& channel, const std::string& requested) const
{
    // Clients refuse endpoints whose URL differs from the one they dialled, so echo it.
    auto isTcp = [](const std::string& u) { return u.rfind("opc.tcp://", 0) == 0; };
    if (isTcp(requested))
        return requested;
    if (isTcp(channel.HelloUrl()))
        return channel.HelloUrl();
    return channel.LocalUrl();
}

void Services::WriteApplication(Writer& w, const std::string& url) const
{
    w.String(config_.info.applicationUri);
    w.String(config_.info.productUri);
    w.WriteLocalizedText(LocalizedText::Of(config_.info.productName));
    w.Int32(0); // Server
    w.NullString();
    w.NullString();
    w.StringArray({url});
}

void Services::WriteEndpoint(Writer& w, const std::string& url) const
{
    w.String(url);
    WriteApplication(w, url);
    w.Int32(-1); // no server certificate
    w.Int32(1);  // security mode None
    w.String(kSecurityPolicyNone);
    w.Int32(1);
    w.String(OfferedPolicyId(config_.credentials));
    w.Int32(config_.credentials.byPassword ? 1 : 0);
    w.NullString();
    w.NullString();
    w.String(kSecurityPolicyNone);
    w.String(kBinaryProfile);
    w.Byte(0);
}

void Services::GetEndpoints(Call& call, Reader& r)
{
    std::string url = EndpointUrl(call.channel, r.String());
    r.StringArray(); // localeIds
    std::vector<std::string> profiles = r.StringArray();
    bool offered = profiles.empty() || std::find(profiles.begin(), profiles.end(), kBinaryProfile) != profiles.end();
    Writer w;
    BeginResponse(w, msg::GetEndpointsResponse, call.header.requestHandle);
    w.Int32(offered ? 1 : 0);
    if (offered)
        WriteEndpoint(w, url);
    Reply(call, w);
}

void Services::FindServers(Call& call, Reader& r)
{
    std::string url = EndpointUrl(call.channel, r.String());
    r.StringArray(); // localeIds
    std::vector<std::string> serverUris = r.StringArray();
    // A client that asks for other servers by URI must not be sent to this one.
    bool wanted = serverUris.empty()
                  || std::find(serverUris.begin(), serverUris.end(), config_.info.applicationUri) != serverUris.end();
    Writer w;
    BeginResponse(w, msg::FindServersResponse, call.header.requestHandle);
    w.Int32(wanted ? 1 : 0);
    if (wanted)
        WriteApplication(w, url);
    Reply(call, w);
}

// ---- Session ----

Session* Services::FindSession(const NodeId& token)
{
    if (token.IsNull())
        return nullptr;
    for (auto& s : sessions_)
        if (s->authenticationToken == token)
            return s.get();
    return nullptr;
}

Session* Services::SessionToDisplace(int64_t nowMs)
{
    // A client that died with its session open leaves it without a channel
    // until the session times out; nobody can use it before a client
    // re-activates it, and such a client just creates a new one when told the
    // session is gone. Sessions never logged into come next: clients without
    // the password must not hold every slot either.
    for (auto& s : sessions_)
        if (!channels_.contains(s->channelId))
            return s.get();
    for (auto& s : sessions_)
        if (!s->activated)
            return s.get();
    // A client that went silent with its connection open (a hung master, a
    // host whose connection keep-alive has not yet found gone) would hold its
    // slot up to its session time-out. A subscriber with a Publish waiting
    // is not silent: it waits for us.
    Session* silent = nullptr;
    for (auto& s : sessions_)
        if (s->publishQueue.empty() && nowMs - s->lastRequestMs > kSilentSessionMs
            && (!silent || s->lastRequestMs < silent->lastRequestMs))
            silent = s.get();
    return silent;
}

Services::ChannelUse Services::UseOf(uint32_t channelId) const
{
    ChannelUse use = ChannelUse::None;
    for (const auto& s : sessions_)
        if (s->channelId == channelId)
            use = s->activated ? ChannelUse::Activated : std::max(use, ChannelUse::Created);
    return use;
}

void Services::CreateSession(Call& call, Reader& r)
{
    // clientDescription
    r.String();
    r.String();
    r.ReadLocalizedText();
    r.Int32();
    r.String();
    r.String();
    r.StringArray();
    r.String(); // serverUri
    std::string endpointUrl = r.String();
    r.String();     // sessionName
    r.ByteString(); // clientNonce
    r.ByteString(); // clientCertificate
    double requestedTimeout = r.Double();
    uint32_t maxResponse = r.UInt32();
    if (sessions_.size() >= kMaxSessions) {
        Session* displaced = SessionToDisplace(call.nowMs);
        if (!displaced)
            return Fault(call, status::BadTooManySessions);
        Log(LogKind::Client, "session limit reached: a new session takes the place of an unused one");
        DeleteSession(displaced, status::BadSessionClosed);
    }

    auto s = std::make_unique<Session>();
    s->sessionId.ns = 1;
    s->sessionId.kind = NodeId::Kind::Guid;
    std::string g = RandomBytes(16);
    Reader gr(g);
    s->sessionId.guid = gr.ReadGuid();
    s->authenticationToken = NodeId::Opaque(0, RandomBytes(32));
    s->timeoutMs = std::isnan(requestedTimeout)
                       ? kMinSessionTimeoutMs
                       : std::clamp(requestedTimeout, kMinSessionTimeoutMs, kMaxSessionTimeoutMs);
    s->deadlineMs = call.nowMs + static_cast<int64_t>(s->timeoutMs);
    s->lastRequestMs = call.nowMs;
    s->channelId = call.channel.Id();
    s->maxResponseSize = maxResponse;

    Writer w;
    BeginResponse(w, msg::CreateSessionResponse, call.header.requestHandle);
    w.WriteNodeId(s->sessionId);
    w.WriteNodeId(s->authenticationToken);
    w.Double(s->timeoutMs);
    w.ByteString(RandomBytes(kNonceBytes));
    w.Int32(-1); // serverCertificate
    w.Int32(1);
    WriteEndpoint(w, EndpointUrl(call.channel, endpointUrl));
    w.EmptyArray(); // serverSoftwareCertificates
    w.NullString(); // serverSignature.algorithm
    w.Int32(-1);    // serverSignature.signature
    w.UInt32(kMaxRequestMessageSize);
    sessions_.push_back(std::move(s));
    Reply(call, w);
}

void Services::ActivateSession(Call& call, Reader& r)
{
    r.String(); // clientSignature
    r.ByteString();
    int32_t certificates = r.ArrayLength();
    for (int32_t i = 0; i < certificates; ++i) {
        r.ByteString();
        r.ByteString();
    }
    r.StringArray(); // localeIds
    ExtensionObject token = r.ReadExtensionObject();
    Session* s = FindSession(call.header.authenticationToken);
    if (!s)
        return Fault(call, status::BadSessionIdInvalid);
    uint32_t st = status::BadIdentityTokenInvalid;
    try {
        st = CheckIdentity(config_.credentials, ParseIdentityToken(token));
    } catch (const DecodeError&) {
    }
    if (st != status::Good)
        return Fault(call, st);
    if (s->channelId != call.channel.Id()) {
        // Re-bound to a new channel: Publish requests of the old one cannot be answered.
        s->publishQueue.clear();
        s->channelId = call.channel.Id();
    }
    s->activated = true;
    s->deadlineMs = call.nowMs + static_cast<int64_t>(s->timeoutMs);
    s->lastRequestMs = call.nowMs;
    Writer w;
    BeginResponse(w, msg::ActivateSessionResponse, call.header.requestHandle);
    w.ByteString(RandomBytes(kNonceBytes));
    w.EmptyArray();
    w.EmptyArray();
    Reply(call, w);
}

void Services::CloseSession(Call& call, Reader& r)
{
    r.Boolean(); // deleteSubscriptions: always, there is no transfer
    Session* s = FindSession(call.header.authenticationToken);
    if (!s)
        return Fault(call, status::BadSessionIdInvalid);
    DeleteSession(s, status::BadSessionClosed);
    Writer w;
    BeginResponse(w, msg::CloseSessionResponse, call.header.requestHandle);
    Reply(call, w);
}

void Services::DeleteSession(Session* session, uint32_t publishStatus)
{
    AnswerQueuedPublishes(*session, publishStatus);
    for (uint32_t id : std::vector<uint32_t>(session->subscriptionIds))
        DeleteSubscription(id);
    std::erase_if(sessions_, [&](const auto& s) { return s.get() == session; });
}

void Services::AnswerQueuedPublishes(Session& session, uint32_t status)
{
    for (const QueuedPublish& p : session.publishQueue) {
        auto it = channels_.find(p.channelId);
        if (it != channels_.end())
            it->second->Send(p.requestId, ServiceFault(p.requestHandle, status));
    }
    session.publishQueue.clear();
}

// ---- Timers ----

void Services::Tick(int64_t nowMs)
{
    DeliverChanges();
    for (auto& [id, s] : subscriptions_) {
        if (nowMs < s.nextCycleMs)
            continue;
        auto interval = static_cast<int64_t>(s.limits.publishingInterval);
        s.nextCycleMs = std::max(s.nextCycleMs + interval, nowMs + 1);
        RunCycle(s);
    }
    std::erase_if(subscriptions_, [](const auto& kv) { return kv.second.session == nullptr; });
    // Publish requests the client has stopped waiting for.
    for (auto& s : sessions_) {
        while (!s->publishQueue.empty()) {
            const QueuedPublish& p = s->publishQueue.front();
            if (p.timeoutHintMs == 0 || nowMs - p.receivedMs < p.timeoutHintMs)
                break;
            auto it = channels_.find(p.channelId);
            if (it != channels_.end())
                it->second->Send(p.requestId, ServiceFault(p.requestHandle, status::BadTimeout));
            s->publishQueue.pop_front();
        }
    }
    std::vector<Session*> expired;
    for (auto& s : sessions_)
        if (nowMs > s->deadlineMs)
            expired.push_back(s.get());
    for (Session* s : expired)
        DeleteSession(s, status::BadSessionClosed);
}

} // namespace tagserve
