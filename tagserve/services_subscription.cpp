// Subscription services and the publishing engine: CreateSubscription,
// ModifySubscription, SetPublishingMode, the monitored-item services,
// Publish, Republish, DeleteSubscriptions, and the per-cycle work.
#include "services.h"

#include "clock.h"
#include "ids.h"

#include <algorithm>
#include <cmath>

namespace tagserve {

namespace {

// Service-level checks of CreateMonitoredItems and ModifyMonitoredItems.
uint32_t ItemsCallStatus(const Subscription* s, uint32_t timestamps, int32_t count)
{
    if (!s)
        return status::BadSubscriptionIdInvalid;
    if (timestamps > 3)
        return status::BadTimestampsToReturnInvalid;
    return OperationCountStatus(count);
}

} // namespace

Subscription* Services::SessionSubscription(Session& session, uint32_t id)
{
    auto it = subscriptions_.find(id);
    if (it == subscriptions_.end() || it->second.session != &session)
        return nullptr;
    return &it->second;
}

void Services::CreateSubscription(Call& call, Reader& r)
{
    double interval = r.Double();
    uint32_t lifetime = r.UInt32();
    uint32_t keepAlive = r.UInt32();
    uint32_t maxNotifications = r.UInt32();
    bool enabled = r.Boolean();
    r.Byte(); // priority
    Session& session = *call.session;
    if (session.subscriptionIds.size() >= kMaxSubscriptionsPerSession)
        return Fault(call, status::BadTooManySubscriptions);
    uint32_t id = nextSubscriptionId_++;
    if (nextSubscriptionId_ == 0)
        nextSubscriptionId_ = 1;
    Subscription& s = subscriptions_[id];
    s.id = id;
    s.session = &session;
    s.limits = ReviseSubscription(interval, lifetime, keepAlive, maxNotifications);
    s.publishing = enabled;
    s.nextCycleMs = call.nowMs + static_cast<int64_t>(s.limits.publishingInterval);
    session.subscriptionIds.push_back(id);

    Writer w;
    BeginResponse(w, msg::CreateSubscriptionResponse, call.header.requestHandle);
    w.UInt32(id);
    w.Double(s.limits.publishingInterval);
    w.UInt32(s.limits.lifetimeCount);
    w.UInt32(s.limits.maxKeepAliveCount);
    Reply(call, w);
}

void Services::ModifySubscription(Call& call, Reader& r)
{
    uint32_t id = r.UInt32();
    double interval = r.Double();
    uint32_t lifetime = r.UInt32();
    uint32_t keepAlive = r.UInt32();
    uint32_t maxNotifications = r.UInt32();
    r.Byte();
    Subscription* s = SessionSubscription(*call.session, id);
    if (!s)
        return Fault(call, status::BadSubscriptionIdInvalid);
    s->limits = ReviseSubscription(interval, lifetime, keepAlive, maxNotifications);
    Writer w;
    BeginResponse(w, msg::ModifySubscriptionResponse, call.header.requestHandle);
    w.Double(s->limits.publishingInterval);
    w.UInt32(s->limits.lifetimeCount);
    w.UInt32(s->limits.maxKeepAliveCount);
    Reply(call, w);
}

void Services::SetPublishingMode(Call& call, Reader& r)
{
    bool enabled = r.Boolean();
    std::vector<uint32_t> ids = r.UInt32Array();
    if (ids.empty())
        return Fault(call, status::BadNothingToDo);
    std::vector<uint32_t> results;
    for (uint32_t id : ids) {
        Subscription* s = SessionSubscription(*call.session, id);
        if (s)
            s->publishing = enabled;
        results.push_back(s ? status::Good : status::BadSubscriptionIdInvalid);
    }
    Writer w;
    BeginResponse(w, msg::SetPublishingModeResponse, call.header.requestHandle);
    w.StatusArray(results);
    w.EmptyArray();
    Reply(call, w);
}

// Reads MonitoringParameters into the item; returns the status of the filter.
uint32_t Services::ApplyParameters(MonitoredItem& item, Reader& r, double publishingInterval)
{
    item.clientHandle = r.UInt32();
    double sampling = r.Double();
    ExtensionObject filter = r.ReadExtensionObject();
    uint32_t queueSize = r.UInt32();
    item.discardOldest = r.Boolean();
    if (sampling < 0 || std::isnan(sampling))
        sampling = publishingInterval;
    item.samplingInterval = std::max(sampling, kMinSamplingIntervalMs);
    item.queueSize = std::clamp<uint32_t>(queueSize, 1, kMaxQueueSize);
    item.trigger = 1;
    item.deadband = 0;
    if (filter.IsNull())
        return status::Good;
    if (filter.typeId != NodeId(0, msg::DataChangeFilter) || filter.encoding != 1)
        return status::BadMonitoredItemFilterUnsupported;
    Reader f(filter.body);
    uint32_t trigger = f.UInt32();
    uint32_t deadbandType = f.UInt32();
    double deadband = f.Double();
    if (trigger > 2)
        return status::BadMonitoredItemFilterUnsupported;
    item.trigger = trigger;
    if (deadbandType == 0)
        return status::Good;
    if (deadbandType != 1)
        return status::BadMonitoredItemFilterUnsupported;
    const Node& node = space_.At(item.node);
    if (node.modelIndex < 0 || node.varType == VarType::Boolean)
        return status::BadFilterNotAllowed;
    item.deadband = std::isnan(deadband) || deadband < 0 ? 0 : deadband;
    return status::Good;
}

uint32_t Services::GrantQueue(uint32_t requested)
{
    size_t left = queuedValues_ < kMaxQueuedValues ? kMaxQueuedValues - queuedValues_ : 0;
    auto granted = static_cast<uint32_t>(std::clamp<size_t>(requested, 1, std::max<size_t>(left, 1)));
    queuedValues_ += granted;
    return granted;
}

void Services::Watch(MonitoredItem& item)
{
    if (item.modelIndex < 0)
        return;
    const auto index = static_cast<size_t>(item.modelIndex);
    if (index >= watchers_.size())
        watchers_.resize(index + 1);
    item.nextWatcher = watchers_[index];
    watchers_[index] = &item;
}

void Services::Unwatch(const MonitoredItem& item)
{
    const auto index = static_cast<size_t>(item.modelIndex);
    if (item.modelIndex < 0 || index >= watchers_.size())
        return;
    MonitoredItem** link = &watchers_[index];
    while (*link && *link != &item)
        link = &(*link)->nextWatcher;
    if (*link)
        *link = item.nextWatcher;
}

void Services::CreateMonitoredItems(Call& call, Reader& r)
{
    uint32_t id = r.UInt32();
    uint32_t timestamps = r.UInt32();
    int32_t n = r.ArrayLength();
    Subscription* s = SessionSubscription(*call.session, id);
    if (uint32_t st = ItemsCallStatus(s, timestamps, n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::CreateMonitoredItemsResponse, call.header.requestHandle);
    w.Int32(n);
    for (int32_t k = 0; k < n; ++k) {
        NodeId nodeId = r.ReadNodeId();
        uint32_t attributeId = r.UInt32();
        r.String();
        r.ReadQualifiedName();
        uint32_t mode = r.UInt32();
        MonitoredItem item;
        item.timestamps = static_cast<TimestampsToReturn>(timestamps);
        item.mode = mode;
        int32_t index = space_.IndexOf(nodeId);
        if (index >= 0)
            item.node = static_cast<uint32_t>(index);
        uint32_t st = ApplyParameters(item, r, s->limits.publishingInterval);
        if (index < 0)
            st = status::BadNodeIdUnknown;
        else if (attributeId != attr::Value || space_.At(item.node).nodeClass != NodeClass::Variable)
            st = status::BadAttributeIdInvalid;
        else if (mode > 2)
            st = status::BadMonitoringModeInvalid;
        else if (monitoredItems_ >= kMaxMonitoredItems)
            st = status::BadTooManyMonitoredItems;
        if (st != status::Good) {
            w.UInt32(st);
            w.UInt32(0);
            w.Double(0);
            w.UInt32(0);
            w.NullExtensionObject();
            continue;
        }
        item.id = nextMonitoredItemId_++;
        item.modelIndex = space_.At(item.node).modelIndex;
        item.queueSize = GrantQueue(item.queueSize);
        MonitoredItem& stored = s->Add(std::move(item));
        ++monitoredItems_;
        Watch(stored);
        // The current value goes out with the next Publish.
        s->Offer(stored, space_.ReadAttribute(space_.At(stored.node), attr::Value, stored.timestamps));
        w.UInt32(status::Good);
        w.UInt32(stored.id);
        w.Double(stored.samplingInterval);
        w.UInt32(stored.queueSize);
        w.NullExtensionObject();
    }
    w.EmptyArray();
    Reply(call, w);
}

void Services::ModifyMonitoredItems(Call& call, Reader& r)
{
    uint32_t id = r.UInt32();
    uint32_t timestamps = r.UInt32();
    int32_t n = r.ArrayLength();
    Subscription* s = SessionSubscription(*call.session, id);
    if (uint32_t st = ItemsCallStatus(s, timestamps, n); st != status::Good)
        return Fault(call, st);
    Writer w;
    BeginResponse(w, msg::ModifyMonitoredItemsResponse, call.header.requestHandle);
    w.Int32(n);
    for (int32_t k = 0; k < n; ++k) {
        uint32_t itemId = r.UInt32();
        auto it = s->items.find(itemId);
        bool known = it != s->items.end();
        // Revised in a copy: a refused filter, or a request that breaks off, leaves the item as it was.
        MonitoredItem revised = known ? it->second : MonitoredItem{};
        uint32_t st = ApplyParameters(revised, r, s->limits.publishingInterval);
        if (!known)
            st = status::BadMonitoredItemIdInvalid;
        if (st == status::Good) {
            MonitoredItem& item = it->second;
            revised.timestamps = static_cast<TimestampsToReturn>(timestamps);
            queuedValues_ -= item.queueSize;
            revised.queueSize = GrantQueue(revised.queueSize);
            if (revised.queue.size() > revised.queueSize)
                revised.queue.erase(revised.queue.begin(), revised.queue.end() - revised.queueSize);
            item = std::move(revised);
        }
        const MonitoredItem& shown = known ? it->second : revised;
        w.UInt32(st);
        w.Double(shown.samplingInterval);
        w.UInt32(shown.queueSize);
        w.NullExtensionObject();
    }
    w.EmptyArray();
    Reply(call, w);
}

void Services::SetMonitoringMode(Call& call, Reader& r)
{
    uint32_t id = r.UInt32();
    uint32_t mode = r.UInt32();
    std::vector<uint32_t> ids = r.UInt32Array();
    Subscription* s = SessionSubscription(*call.session, id);
    if (!s)
        return Fault(call, status::BadSubscriptionIdInvalid);
    if (mode > 2)
        return Fault(call, status::BadMonitoringModeInvalid);
    if (ids.empty())
        return Fault(call, status::BadNothingToDo);
    std::vector<uint32_t> results;
    for (uint32_t itemId : ids) {
        auto it = s->items.find(itemId);
        if (it != s->items.end()) {
            it->second.mode = mode;
            if (mode == 0)
                it->second.queue.clear();
        }
        results.push_back(it != s->items.end() ? status::Good : status::BadMonitoredItemIdInvalid);
    }
    Writer w;
    BeginResponse(w, msg::SetMonitoringModeResponse, call.header.requestHandle);
    w.StatusArray(results);
    w.EmptyArray();
    Reply(call, w);
}

void Services::DeleteMonitoredItems(Call& call, Reader& r)
{
    uint32_t id = r.UInt32();
    std::vector<uint32_t> ids = r.UInt32Array();
    Subscription* s = SessionSubscription(*call.session, id);
    if (!s)
        return Fault(call, status::BadSubscriptionIdInvalid);
    if (ids.empty())
        return Fault(call, status::BadNothingToDo);
    std::vector<uint32_t> results;
    for (uint32_t itemId : ids) {
        auto it = s->items.find(itemId);
        if (it == s->items.end()) {
            results.push_back(status::BadMonitoredItemIdInvalid);
            continue;
        }
        Unwatch(it->second);
        queuedValues_ -= it->second.queueSize;
        s->Remove(it);
        --monitoredItems_;
        results.push_back(status::Good);
    }
    Writer w;
    BeginResponse(w, msg::DeleteMonitoredItemsResponse, call.header.requestHandle);
    w.StatusArray(results);
    w.EmptyArray();
    Reply(call, w);
}

void Services::Publish(Call& call, Reader& r)
{
    Session& session = *call.session;
    int32_t n = r.ArrayLength();
    QueuedPublish p{call.channel.Id(), call.requestId,          call.header.requestHandle,
                    call.nowMs,        call.header.timeoutHint, {}};
    for (int32_t k = 0; k < n; ++k) {
        uint32_t id = r.UInt32();
        uint32_t sequence = r.UInt32();
        Subscription* s = SessionSubscription(session, id);
        p.ackResults.push_back(!s                         ? status::BadSubscriptionIdInvalid
                               : s->Acknowledge(sequence) ? status::Good
                                                          : status::BadSequenceNumberUnknown);
    }
    if (session.subscriptionIds.empty())
        return Fault(call, status::BadNoSubscription);
    session.publishQueue.push_back(std::move(p));
    if (session.publishQueue.size() > kMaxQueuedPublish) {
        QueuedPublish oldest = session.publishQueue.front();
        session.publishQueue.pop_front();
        auto it = channels_.find(oldest.channelId);
        if (it != channels_.end())
            it->second->Send(oldest.requestId, ServiceFault(oldest.requestHandle, status::BadTooManyPublishRequests));
    }
    // A subscription that had something to say while no request was waiting answers now.
    for (uint32_t id : session.subscriptionIds) {
        Subscription& s = subscriptions_.at(id);
        if (s.late) {
            s.late = false;
            PublishNow(s);
        }
    }
}

bool Services::PublishNow(Subscription& s)
{
    Session& session = *s.session;
    while (!session.publishQueue.empty()) {
        QueuedPublish p = std::move(session.publishQueue.front());
        session.publishQueue.pop_front();
        auto it = channels_.find(p.channelId);
        if (it == channels_.end())
            continue;
        bool more = false;
        std::string message = s.TakeMessage(UaNow(), more);
        Writer w;
        BeginResponse(w, msg::PublishResponse, p.requestHandle);
        w.UInt32(s.id);
        w.StatusArray(s.AvailableSequenceNumbers());
        w.Boolean(more);
        w.Raw(message);
        w.StatusArray(p.ackResults);
        w.EmptyArray();
        if (!it->second->Send(p.requestId, w.Bytes(), session.maxResponseSize))
            it->second->Send(p.requestId, ServiceFault(p.requestHandle, status::BadResponseTooLarge));
        s.keepAliveCounter = 0;
        s.lifetimeCounter = 0;
        s.first = false;
        // What did not fit goes out with the next request, without waiting for a cycle.
        s.late = more;
        return true;
    }
    s.late = true;
    return false;
}

void Services::Republish(Call& call, Reader& r)
{
    uint32_t id = r.UInt32();
    uint32_t sequence = r.UInt32();
    Subscription* s = SessionSubscription(*call.session, id);
    if (!s)
        return Fault(call, status::BadSubscriptionIdInvalid);
    const std::string* message = s->Find(sequence);
    if (!message)
        return Fault(call, status::BadMessageNotAvailable);
    Writer w;
    BeginResponse(w, msg::RepublishResponse, call.header.requestHandle);
    w.Raw(*message);
    Reply(call, w);
}

void Services::DeleteSubscription(uint32_t id)
{
    auto it = subscriptions_.find(id);
    if (it == subscriptions_.end())
        return;
    Subscription& s = it->second;
    for (auto& [itemId, item] : s.items) {
        Unwatch(item);
        queuedValues_ -= item.queueSize;
    }
    if (Session* session = s.session) {
        std::erase(session->subscriptionIds, id);
        // Parked Publish requests have nothing left to wait for.
        if (session->subscriptionIds.empty())
            AnswerQueuedPublishes(*session, status::BadNoSubscription);
    }
    monitoredItems_ -= s.items.size();
    s.pending.clear();
    s.items.clear();
    s.session = nullptr; // erased by the next Tick, which may be iterating right now
}

void Services::DeleteSubscriptions(Call& call, Reader& r)
{
    std::vector<uint32_t> ids = r.UInt32Array();
    if (ids.empty())
        return Fault(call, status::BadNothingToDo);
    std::vector<uint32_t> results;
    for (uint32_t id : ids) {
        bool ours = SessionSubscription(*call.session, id) != nullptr;
        if (ours)
            DeleteSubscription(id);
        results.push_back(ours ? status::Good : status::BadSubscriptionIdInvalid);
    }
    Writer w;
    BeginResponse(w, msg::DeleteSubscriptionsResponse, call.header.requestHandle);
    w.StatusArray(results);
    w.EmptyArray();
    Reply(call, w);
}

void Services::SampleNamespaceZero(Subscription& s)
{
    s.SampleNamespaceZero([&](MonitoredItem& item) {
        s.Offer(item, space_.ReadAttribute(space_.At(item.node), attr::Value, item.timestamps));
    });
}

void Services::RunCycle(Subscription& s)
{
    if (!s.session)
        return;
    SampleNamespaceZero(s);
    bool hasData = s.HasNotifications();
    bool keepAlive = s.KeepAliveDue();
    if (s.session->publishQueue.empty()) {
        if (++s.lifetimeCounter >= s.limits.lifetimeCount) {
            DeleteSubscription(s.id);
            return;
        }
        if (hasData || keepAlive)
            s.late = true;
        else
            ++s.keepAliveCounter;
        return;
    }
    if (hasData || keepAlive) {
        PublishNow(s);
        return;
    }
    ++s.keepAliveCounter;
}

void Services::DeliverChanges()
{
    // A burst (every variable's first value) leaves a list far larger than
    // the changes of a pass: its room goes back, to the model's list too,
    // which takes this one in turn.
    constexpr size_t kKeptChanges = 16384;
    if (changes_.capacity() > kKeptChanges && changes_.size() < changes_.capacity() / 4)
        std::vector<Change>().swap(changes_);
    bool resync = model_.DrainChanges(changes_);
    int64_t now = UaNow();
    if (watchers_.empty())
        return;
    for (const Change& c : changes_) {
        if (c.index >= watchers_.size())
            continue;
        for (MonitoredItem* item = watchers_[c.index]; item; item = item->nextWatcher)
            item->owner->Offer(*item, AddressSpace::ValueOf(space_.At(item->node), c.value, item->timestamps, now));
    }
    if (!resync)
        return;
    // Changes were lost to the overflow of the list: compare every watched
    // variable's current value with what its items last reported.
    for (uint32_t index = 0; index < watchers_.size(); ++index) {
        if (!watchers_[index])
            continue;
        VariableValue v = model_.Snapshot(index);
        for (MonitoredItem* item = watchers_[index]; item; item = item->nextWatcher)
            item->owner->Offer(*item, AddressSpace::ValueOf(space_.At(item->node), v, item->timestamps, now));
    }
}

} // namespace tagserve
