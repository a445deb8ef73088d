// Subscriptions and monitored items: the data-change filter, the per-item
// queues, sequence numbers, keep-alive and lifetime counters, and the
// retransmission queue for Republish.
#pragma once

#include "address_space.h"
#include "binary.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tagserve {

struct Session;
struct Subscription;

constexpr size_t kMaxSubscriptionsPerSession = 10;
constexpr size_t kRetransmitQueue = 10;
// For all sessions together: enough to watch every variable of a large
// station table a few times, and a bound on what clients can make us hold.
constexpr size_t kMaxMonitoredItems = 300000;
constexpr uint32_t kMaxQueueSize = 100;
// Queue sizes of all monitored items together: every item gets at least one
// value, larger queues only while the sum stays below this, so that clients
// asking the largest queue on every item cannot make us hold gigabytes.
constexpr size_t kMaxQueuedValues = 1000000;
constexpr uint32_t kMaxNotificationsPerPublish = 1000;
constexpr double kMinPublishingIntervalMs = 50;
constexpr double kMinSamplingIntervalMs = 100;

// Ordered so that nothing is padded: a subscription may watch every
// variable of the gateway.
struct MonitoredItem {
    uint32_t id = 0;
    uint32_t clientHandle = 0;
    uint32_t node = 0;       // node index
    int32_t modelIndex = -1; // gateway variable, else an ns 0 variable sampled per cycle
    uint32_t mode = 2;       // 0 Disabled, 1 Sampling, 2 Reporting
    TimestampsToReturn timestamps = TimestampsToReturn::Both;
    uint32_t queueSize = 1;
    uint32_t trigger = 1; // 0 status, 1 status or value, 2 also source timestamp
    double samplingInterval = 0;
    double deadband = 0; // absolute; 0 = none
    bool discardOldest = true;
    // Set while the item is on its subscription's pending list.
    bool pending = false;

    // What the filter compares with: the last queued value, kept small.
    bool hasLast = false;
    bool lastHasValue = false;
    uint32_t lastStatus = 0;
    int64_t lastSourceTimestamp = 0;
    double lastNumber = 0;   // for the deadband
    std::string lastEncoded; // the encoded Variant: a double or an int fits without allocation

    std::vector<DataValue> queue; // short (queueSize <= 100): a vector costs less memory than a deque

    Subscription* owner = nullptr;        // set when its subscription adds it
    MonitoredItem* nextWatcher = nullptr; // the next item watching the same variable

    // Queues the value when the filter says it is a change; true when it did.
    bool Offer(const DataValue& v);
    // Off the pending list, its queue empty.
    void Drained();
};

struct RevisedSubscription {
    double publishingInterval;
    uint32_t lifetimeCount;
    uint32_t maxKeepAliveCount;
    uint32_t maxNotifications;
};

RevisedSubscription ReviseSubscription(double interval, uint32_t lifetime, uint32_t keepAlive,
                                       uint32_t maxNotifications);

struct Subscription {
    uint32_t id = 0;
    Session* session = nullptr; // the owner; it outlives its subscriptions
    RevisedSubscription limits{};
    bool publishing = true;
    int64_t nextCycleMs = 0;
    uint32_t lifetimeCounter = 0;
    uint32_t keepAliveCounter = 0;
    bool late = false;
    bool first = true;
    uint32_t nextSequence = 1;
    std::map<uint32_t, MonitoredItem> items;
    // The items that may hold queued values (each once, with its pending
    // flag set, by id), and the ids of the ns 0 items sampled per cycle
    // (those of deleted items dropped when met), so a cycle touches only those.
    std::vector<std::pair<uint32_t, MonitoredItem*>> pending;
    std::vector<uint32_t> sampledIds;
    std::deque<std::pair<uint32_t, std::string>> retransmit; // sequence number, encoded NotificationMessage

    MonitoredItem& Add(MonitoredItem item);
    void Remove(std::map<uint32_t, MonitoredItem>::iterator it);
    // Offers the value to one of this subscription's items.
    void Offer(MonitoredItem& item, const DataValue& v);
    // Calls sample(item) for each ns 0 item.
    template <class Sample>
    void SampleNamespaceZero(Sample sample)
    {
        std::erase_if(sampledIds, [&](uint32_t itemId) {
            auto it = items.find(itemId);
            if (it == items.end())
                return true;
            sample(it->second);
            return false;
        });
    }
    bool HasNotifications();
    bool KeepAliveDue() const { return first || keepAliveCounter + 1 >= limits.maxKeepAliveCount; }
    // Encodes the next NotificationMessage: queued data changes (consuming a
    // sequence number, kept for Republish) or, with none, a keep-alive.
    std::string TakeMessage(int64_t publishTime, bool& moreNotifications);
    std::vector<uint32_t> AvailableSequenceNumbers() const;
    // Removes an acknowledged message; false when it is not held.
    bool Acknowledge(uint32_t sequenceNumber);
    const std::string* Find(uint32_t sequenceNumber) const;
};

} // namespace tagserve
