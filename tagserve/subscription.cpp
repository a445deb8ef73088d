#include "subscription.h"

#include <algorithm>
#include <cmath>

namespace tagserve {

namespace {

double Number(const Variant& v)
{
    if (!v.IsScalar())
        return 0;
    const Scalar& s = v.values[0];
    if (auto d = std::get_if<double>(&s))
        return *d;
    if (auto i = std::get_if<int64_t>(&s))
        return static_cast<double>(*i);
    if (auto u = std::get_if<uint64_t>(&s))
        return static_cast<double>(*u);
    if (auto b = std::get_if<bool>(&s))
        return *b ? 1 : 0;
    return 0;
}

} // namespace

bool MonitoredItem::Offer(const DataValue& v)
{
    if (mode == 0)
        return false;
    bool hasValue = (v.mask & DataValue::HasValue) != 0;
    Writer encoded;
    if (hasValue)
        encoded.WriteVariant(v.value);
    double number = hasValue ? Number(v.value) : 0;
    if (hasLast) {
        bool statusChanged = v.status != lastStatus;
        bool valueChanged =
            hasValue != lastHasValue
            || (deadband > 0 ? std::fabs(number - lastNumber) > deadband : encoded.Bytes() != lastEncoded);
        bool timeChanged = trigger == 2 && v.sourceTimestamp != lastSourceTimestamp;
        if (!statusChanged && !(trigger >= 1 && valueChanged) && !timeChanged)
            return false;
    }
    hasLast = true;
    lastHasValue = hasValue;
    lastStatus = v.status;
    lastSourceTimestamp = v.sourceTimestamp;
    lastNumber = number;
    lastEncoded = std::move(encoded.Bytes());
    queue.push_back(v);
    if (queue.size() <= queueSize)
        return true;
    // Keep the newest (or the oldest) and flag that values were lost in between.
    if (discardOldest) {
        queue.erase(queue.begin());
        if (queueSize > 1) {
            queue.front().mask |= DataValue::HasStatus;
            queue.front().status |= status::InfoOverflow;
        }
    } else {
        queue.erase(queue.end() - 2);
        if (queueSize > 1) {
            queue.back().mask |= DataValue::HasStatus;
            queue.back().status |= status::InfoOverflow;
        }
    }
    return true;
}

void MonitoredItem::Drained()
{
    pending = false;
    // Most items wait long for their next value: they hold no room meanwhile.
    std::vector<DataValue>().swap(queue);
}

RevisedSubscription ReviseSubscription(double interval, uint32_t lifetime, uint32_t keepAlive,
                                       uint32_t maxNotifications)
{
    RevisedSubscription r;
    r.publishingInterval = std::isnan(interval) || interval <= 0
                               ? kMinPublishingIntervalMs
                               : std::clamp(interval, kMinPublishingIntervalMs, 3600000.0);
    r.maxKeepAliveCount = keepAlive == 0 ? 10 : std::clamp<uint32_t>(keepAlive, 1, 10000);
    r.lifetimeCount = std::min<uint32_t>(std::max(lifetime, 3 * r.maxKeepAliveCount), 100000);
    r.maxNotifications =
        maxNotifications == 0 ? kMaxNotificationsPerPublish : std::min(maxNotifications, kMaxNotificationsPerPublish);
    return r;
}

MonitoredItem& Subscription::Add(MonitoredItem item)
{
    MonitoredItem& stored = items.emplace(item.id, std::move(item)).first->second;
    stored.owner = this;
    stored.pending = false;
    if (stored.modelIndex < 0)
        sampledIds.push_back(stored.id);
    return stored;
}

void Subscription::Offer(MonitoredItem& item, const DataValue& v)
{
    if (!item.Offer(v) || item.pending)
        return;
    item.pending = true;
    pending.emplace_back(item.id, &item);
}

void Subscription::Remove(std::map<uint32_t, MonitoredItem>::iterator it)
{
    if (it->second.pending)
        std::erase_if(pending, [&](const auto& p) { return p.second == &it->second; });
    items.erase(it);
}

bool Subscription::HasNotifications()
{
    if (!publishing)
        return false;
    // Items met with nothing queued leave the list; usually the first one reports.
    bool found = false;
    std::erase_if(pending, [&](const auto& p) {
        if (found)
            return false;
        MonitoredItem& item = *p.second;
        if (item.queue.empty()) {
            item.Drained();
            return true;
        }
        found = item.mode == 2;
        return false;
    });
    return found;
}

std::string Subscription::TakeMessage(int64_t publishTime, bool& moreNotifications)
{
    moreNotifications = false;
    Writer w;
    bool data = HasNotifications();
    uint32_t sequence = nextSequence;
    w.UInt32(sequence);
    w.Int64(publishTime);
    if (!data) {
        w.EmptyArray(); // keep-alive: the sequence number is not consumed
        return std::move(w.Bytes());
    }
    nextSequence = nextSequence == 0xFFFFFFFFu ? 1 : nextSequence + 1;
    w.Int32(1);
    {
        ExtensionObjectBody body(w, msg::DataChangeNotification);
        size_t countAt = w.Size();
        w.Int32(0);
        uint32_t count = 0;
        // In the order of the item ids, as the items are kept.
        std::sort(pending.begin(), pending.end());
        std::erase_if(pending, [&](const auto& p) {
            MonitoredItem& item = *p.second;
            if (item.mode != 2)
                return false;
            size_t taken = 0;
            while (taken < item.queue.size() && count < limits.maxNotifications) {
                w.UInt32(item.clientHandle);
                w.WriteDataValue(item.queue[taken++]);
                ++count;
            }
            item.queue.erase(item.queue.begin(), item.queue.begin() + static_cast<long>(taken));
            if (!item.queue.empty()) {
                moreNotifications = true;
                return false;
            }
            item.Drained();
            return true;
        });
        w.PatchUInt32(countAt, count);
        w.EmptyArray(); // diagnosticInfos
    }
    retransmit.emplace_back(sequence, w.Bytes());
    if (retransmit.size() > kRetransmitQueue)
        retransmit.pop_front();
    return std::move(w.Bytes());
}

std::vector<uint32_t> Subscription::AvailableSequenceNumbers() const
{
    std::vector<uint32_t> r;
    for (const auto& [seq, message] : retransmit)
        r.push_back(seq);
    return r;
}

bool Subscription::Acknowledge(uint32_t sequenceNumber)
{
    auto it =
        std::find_if(retransmit.begin(), retransmit.end(), [&](const auto& m) { return m.first == sequenceNumber; });
    if (it == retransmit.end())
        return false;
    retransmit.erase(it);
    return true;
}

const std::string* Subscription::Find(uint32_t sequenceNumber) const
{
    for (const auto& [seq, message] : retransmit)
        if (seq == sequenceNumber)
            return &message;
    return nullptr;
}

} // namespace tagserve
