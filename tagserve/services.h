// The service layer: decodes each request, checks its session, runs the
// service against the address space, the model and the subscriptions, and
// answers on the channel. Runs on the server thread only.
#pragma once

#include "address_space.h"
#include "clock.h"
#include "envelope.h"
#include "model.h"
#include "requests.h"
#include "secure_channel.h"
#include "session.h"
#include "subscription.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tagserve {

using WriteCallback = void (*)(int32_t id);
// Gives the status the write gets.
using WriteStatusCallback = uint32_t (*)(int32_t id);

constexpr int32_t kMaxOperationsPerCall = 1000;

// Service-level check of the number of operations in a request.
uint32_t OperationCountStatus(int32_t count);

struct ServerConfig {
    uint16_t port = 4840;
    Credentials credentials;
    WriteCallback callback = nullptr;
    WriteStatusCallback statusCallback = nullptr; // used instead of callback when set
    ServerInfo info;
};

class Services : public MessageHandler {
public:
    using Clock = int64_t (*)();
    // clock gives monotonic milliseconds for session deadlines and publishing cycles.
    Services(Model& model, const ServerConfig& config, Clock clock = &MonotonicMs);
    ~Services() override;

    void OnRequest(SecureChannel& channel, uint32_t requestId, std::string_view body) override;
    void AttachChannel(SecureChannel& channel);
    void DetachChannel(uint32_t channelId);
    // Drains the model's changes and runs publishing cycles and timeouts.
    void Tick(int64_t nowMs);

    size_t SessionCount() const { return sessions_.size(); }

    // How far the client of a channel has got with its sessions.
    enum class ChannelUse { None, Created, Activated };
    ChannelUse UseOf(uint32_t channelId) const;

private:
    struct Call {
        SecureChannel& channel;
        uint32_t requestId;
        RequestHeader header;
        Session* session;
        int64_t nowMs;
    };
    using Handler = void (Services::*)(Call&, Reader&);
    struct Entry {
        uint32_t requestType;
        Handler handler;
        bool needsSession;
    };
    static const Entry kServices[];

    void Reply(Call& call, Writer& w);
    void Fault(Call& call, uint32_t status);
    uint32_t CheckSession(Call& call);

    // Discovery and session.
    std::string EndpointUrl(const SecureChannel& channel, const std::string& requested) const;
    void WriteApplication(Writer& w, const std::string& url) const;
    void WriteEndpoint(Writer& w, const std::string& url) const;
    void GetEndpoints(Call& call, Reader& r);
    void FindServers(Call& call, Reader& r);
    void CreateSession(Call& call, Reader& r);
    void ActivateSession(Call& call, Reader& r);
    void CloseSession(Call& call, Reader& r);
    Session* FindSession(const NodeId& token);
    // The session a new one takes the place of at the session limit, or null.
    Session* SessionToDisplace(int64_t nowMs);
    void DeleteSession(Session* session, uint32_t publishStatus);

    // View.
    void Browse(Call& call, Reader& r);
    void BrowseNext(Call& call, Reader& r);
    void WriteBrowseResult(Writer& w, Session& session, BrowseFilter filter, size_t offset, uint32_t max);
    bool Matches(const BrowseFilter& f, const Reference& ref) const;
    void TranslateBrowsePaths(Call& call, Reader& r);
    void RegisterNodes(Call& call, Reader& r);
    void UnregisterNodes(Call& call, Reader& r);

    // Attribute.
    void Read(Call& call, Reader& r);
    void Write(Call& call, Reader& r);
    uint32_t WriteOne(const WriteValue& item);

    // Subscriptions.
    void CreateSubscription(Call& call, Reader& r);
    void ModifySubscription(Call& call, Reader& r);
    void SetPublishingMode(Call& call, Reader& r);
    void CreateMonitoredItems(Call& call, Reader& r);
    void ModifyMonitoredItems(Call& call, Reader& r);
    void SetMonitoringMode(Call& call, Reader& r);
    void DeleteMonitoredItems(Call& call, Reader& r);
    void Publish(Call& call, Reader& r);
    void Republish(Call& call, Reader& r);
    void DeleteSubscriptions(Call& call, Reader& r);
    Subscription* SessionSubscription(Session& session, uint32_t id);
    uint32_t ApplyParameters(MonitoredItem& item, Reader& r, double publishingInterval);
    // The queue size an item gets out of what is left of kMaxQueuedValues; taken from it.
    uint32_t GrantQueue(uint32_t requested);
    void Watch(MonitoredItem& item);
    void Unwatch(const MonitoredItem& item);
    void DeleteSubscription(uint32_t id);
    void RunCycle(Subscription& s);
    // Answers the oldest queued Publish of the owner; false when none is queued.
    bool PublishNow(Subscription& s);
    void AnswerQueuedPublishes(Session& session, uint32_t status);
    void SampleNamespaceZero(Subscription& s);
    void DeliverChanges();

    Model& model_;
    ServerConfig config_;
    Clock clock_;
    AddressSpace space_;
    std::unordered_map<uint32_t, SecureChannel*> channels_;
    std::vector<std::unique_ptr<Session>> sessions_;
    std::map<uint32_t, Subscription> subscriptions_;
    // The first monitored item of each variable, by model index, the others
    // linked from it; empty until some client watches a variable.
    std::vector<MonitoredItem*> watchers_;
    std::vector<Change> changes_;
    uint32_t nextSubscriptionId_;
    uint32_t nextMonitoredItemId_ = 1;
    size_t monitoredItems_ = 0; // in all subscriptions
    size_t queuedValues_ = 0;   // queue sizes of all monitored items
};

} // namespace tagserve
