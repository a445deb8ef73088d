#include "harness.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tagserve {
namespace {

using test::Harness;
using test::Response;

struct Notification {
    uint32_t clientHandle;
    DataValue value;
};

struct PublishResult {
    uint32_t serviceResult = 0;
    uint32_t subscriptionId = 0;
    std::vector<uint32_t> available;
    bool more = false;
    uint32_t sequence = 0;
    bool keepAlive = true;
    std::vector<Notification> notifications;
    std::vector<uint32_t> ackResults;
};

std::vector<Notification> ReadNotificationData(Reader& b)
{
    std::vector<Notification> out;
    int32_t n = b.ArrayLength();
    for (int32_t i = 0; i < n; ++i) {
        ExtensionObject e = b.ReadExtensionObject();
        EXPECT_EQ(e.typeId, NodeId(0, msg::DataChangeNotification));
        Reader d(e.body);
        int32_t items = d.ArrayLength();
        for (int32_t k = 0; k < items; ++k) {
            Notification note;
            note.clientHandle = d.UInt32();
            note.value = d.ReadDataValue();
            out.push_back(note);
        }
    }
    return out;
}

PublishResult ParsePublish(const Response& r)
{
    PublishResult p;
    p.serviceResult = r.serviceResult;
    if (r.type != msg::PublishResponse)
        return p;
    Reader b = r.Body();
    p.subscriptionId = b.UInt32();
    p.available = b.UInt32Array();
    p.more = b.Boolean();
    p.sequence = b.UInt32();
    b.Int64();
    auto peek = b.Rest();
    p.keepAlive = peek.size() >= 4 && peek.substr(0, 4) == std::string(4, '\0');
    p.notifications = ReadNotificationData(b);
    p.ackResults = b.UInt32Array();
    return p;
}

struct Sub {
    Harness h;
    uint32_t id = 0;

    explicit Sub(uint32_t keepAlive = 3, uint32_t lifetime = 30, uint32_t maxNotifications = 0)
    {
        h.OpenSession();
        Response r = h.Call(msg::CreateSubscriptionRequest, [&](Writer& w) {
            w.Double(100);
            w.UInt32(lifetime);
            w.UInt32(keepAlive);
            w.UInt32(maxNotifications);
            w.Boolean(true);
            w.Byte(0);
        });
        EXPECT_EQ(r.serviceResult, status::Good);
        id = r.Body().UInt32();
    }

    // Returns the status of the item and its id.
    std::pair<uint32_t, uint32_t> Monitor(NodeId node, uint32_t handle, uint32_t queueSize = 1,
                                          const ExtensionObject& filter = {}, uint32_t attribute = attr::Value)
    {
        Response r = h.Call(msg::CreateMonitoredItemsRequest, [&](Writer& w) {
            w.UInt32(id);
            w.UInt32(2);
            w.Int32(1);
            w.WriteNodeId(node);
            w.UInt32(attribute);
            w.NullString();
            w.WriteQualifiedName({});
            w.UInt32(2);
            w.UInt32(handle);
            w.Double(100);
            w.WriteExtensionObject(filter);
            w.UInt32(queueSize);
            w.Boolean(true);
        });
        Reader b = r.Body();
        EXPECT_EQ(b.ArrayLength(), 1);
        uint32_t st = b.UInt32();
        return {st, b.UInt32()};
    }

    std::vector<Response> Publish(std::vector<std::pair<uint32_t, uint32_t>> acks = {})
    {
        return h.Send(msg::PublishRequest, [&](Writer& w) {
            w.Int32(static_cast<int32_t>(acks.size()));
            for (auto [s, seq] : acks) {
                w.UInt32(s);
                w.UInt32(seq);
            }
        });
    }

    std::vector<PublishResult> Cycle(int times = 1)
    {
        std::vector<PublishResult> out;
        for (int i = 0; i < times; ++i) {
            test::fakeNowMs += 100;
            h.services->Tick(test::fakeNowMs);
            for (const Response& r : h.Collect())
                out.push_back(ParsePublish(r));
        }
        return out;
    }

    void Push(int32_t variable, double v, uint32_t st = 0) { h.model.SetValue(10, variable, 0, v, st, 1, 1); }
};

double ValueOf(const Notification& n) { return std::get<double>(n.value.value.values.at(0)); }

ExtensionObject DataChangeFilter(uint32_t trigger, uint32_t deadbandType, double deadband)
{
    Writer w;
    w.UInt32(trigger);
    w.UInt32(deadbandType);
    w.Double(deadband);
    return {NodeId(0, msg::DataChangeFilter), 1, w.Bytes()};
}

TEST(Subscription, PublishingIntervalIsRevisedIntoItsLimits)
{
    const double nan = std::nan("");
    // requested, revised
    const std::pair<double, double> cases[] = {{nan, 50}, {0, 50},  {-5, 50},   {20, 50},
                                               {50, 50},  {75, 75}, {100, 100}, {1e7, 3600000}};
    for (auto [requested, revised] : cases)
        EXPECT_EQ(ReviseSubscription(requested, 30, 3, 0).publishingInterval, revised) << requested;
}

TEST(Subscription, InitialValueDataChangesAndKeepAlive)
{
    Sub s;
    EXPECT_EQ(s.Monitor(NodeId(1, 4), 7).first, status::Good);
    EXPECT_TRUE(s.Publish().empty()); // parked
    auto first = s.Cycle();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].sequence, 1u);
    ASSERT_EQ(first[0].notifications.size(), 1u);
    EXPECT_EQ(first[0].notifications[0].clientHandle, 7u);
    EXPECT_EQ(first[0].notifications[0].value.status, status::BadWaitingForInitialData);

    s.Publish({{s.id, 1}});
    s.Push(4, 5.0);
    auto second = s.Cycle();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].sequence, 2u);
    EXPECT_EQ(second[0].ackResults, std::vector<uint32_t>{status::Good});
    EXPECT_EQ(second[0].available, std::vector<uint32_t>{2});
    ASSERT_EQ(second[0].notifications.size(), 1u);
    EXPECT_EQ(ValueOf(second[0].notifications[0]), 5.0);

    // Idle: the keep-alive comes after maxKeepAliveCount cycles and uses the next number without consuming it.
    s.Publish();
    EXPECT_TRUE(s.Cycle(2).empty());
    auto keepAlive = s.Cycle();
    ASSERT_EQ(keepAlive.size(), 1u);
    EXPECT_TRUE(keepAlive[0].keepAlive);
    EXPECT_EQ(keepAlive[0].sequence, 3u);
    s.Publish();
    s.Push(4, 6.0);
    auto third = s.Cycle();
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third[0].sequence, 3u);

    // A value pushed again unchanged is no change.
    s.Publish();
    s.Push(4, 6.0);
    EXPECT_TRUE(s.Cycle(2).empty());
}

TEST(Subscription, TransitionsWithinOneIntervalAreKeptAndOverflowIsFlagged)
{
    Sub s;
    s.Monitor(NodeId(1, 4), 1, 2);
    s.Publish();
    s.Cycle(); // initial value
    s.Push(4, 1);
    s.Push(4, 0);
    s.Publish();
    auto two = s.Cycle();
    ASSERT_EQ(two.size(), 1u);
    ASSERT_EQ(two[0].notifications.size(), 2u);
    EXPECT_EQ(ValueOf(two[0].notifications[0]), 1);
    EXPECT_EQ(ValueOf(two[0].notifications[1]), 0);

    s.Push(4, 10);
    s.Push(4, 11);
    s.Push(4, 12);
    s.Publish();
    auto overflow = s.Cycle();
    ASSERT_EQ(overflow[0].notifications.size(), 2u);
    EXPECT_EQ(ValueOf(overflow[0].notifications[0]), 11);
    EXPECT_EQ(overflow[0].notifications[0].value.status & 0xFFFFu, status::InfoOverflow);
    EXPECT_EQ(ValueOf(overflow[0].notifications[1]), 12);
}

TEST(Subscription, WhatDidNotFitGoesToTheNextWaitingPublishAtOnce)
{
    Sub s(3, 30, 1);
    s.Monitor(NodeId(1, 4), 1);
    s.Monitor(NodeId(1, 3), 2);
    s.Publish();
    auto first = s.Cycle();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].notifications.size(), 1u);
    EXPECT_TRUE(first[0].more);
    auto second = s.Publish(); // answered without waiting for the next cycle
    ASSERT_EQ(second.size(), 1u);
    PublishResult p = ParsePublish(second[0]);
    EXPECT_EQ(p.notifications.size(), 1u);
    EXPECT_EQ(p.notifications[0].clientHandle, 2u);
    EXPECT_FALSE(p.more);
}

// Items created later report later in a message, and an item deleted while
// it holds values reports nothing, the others all they hold.
TEST(Subscription, AMessageHoldsTheItemsInTheirOrderAndNoDeletedOne)
{
    Sub s;
    const uint32_t third = s.Monitor(NodeId(1, 3), 3).second;
    s.Monitor(NodeId(1, 4), 4);
    s.Publish();
    ASSERT_EQ(s.Cycle().size(), 1u); // the first values
    s.Push(4, 1.0);
    s.h.model.SetValue(5, 3, 7, 7, 0, 1, 1);
    Response del = s.h.Call(msg::DeleteMonitoredItemsRequest, [&](Writer& w) {
        w.UInt32(s.id);
        w.Int32(1);
        w.UInt32(third);
    });
    EXPECT_EQ(del.serviceResult, status::Good);
    s.Push(4, 2.0);
    const uint32_t again = s.Monitor(NodeId(1, 3), 5).second;
    EXPECT_GT(again, third);
    s.Publish();
    auto out = s.Cycle();
    ASSERT_EQ(out.size(), 1u);
    std::vector<uint32_t> handles;
    for (const Notification& n : out[0].notifications)
        handles.push_back(n.clientHandle);
    // Item 4 holds 2.0 only (queue size 1), the new item 3 its current value.
    EXPECT_EQ(handles, (std::vector<uint32_t>{4, 5}));
}

TEST(Subscription, AcknowledgeAndRepublish)
{
    Sub s;
    s.Monitor(NodeId(1, 4), 1);
    s.Publish();
    s.Cycle();
    s.Push(4, 2);
    s.Publish();
    auto r = s.Cycle();
    EXPECT_EQ(r[0].available, (std::vector<uint32_t>{1, 2}));
    auto republish = [&](uint32_t seq) {
        return s.h.Call(msg::RepublishRequest, [&](Writer& w) {
            w.UInt32(s.id);
            w.UInt32(seq);
        });
    };
    Response hit = republish(1);
    EXPECT_EQ(hit.serviceResult, status::Good);
    Reader b = hit.Body();
    EXPECT_EQ(b.UInt32(), 1u);
    b.Int64();
    EXPECT_EQ(ReadNotificationData(b).size(), 1u);
    EXPECT_EQ(republish(9).serviceResult, status::BadMessageNotAvailable);

    s.Publish({{s.id, 1}, {s.id, 1}, {s.id + 1, 2}});
    s.Push(4, 3);
    auto acked = s.Cycle();
    EXPECT_EQ(acked[0].ackResults, (std::vector<uint32_t>{status::Good, status::BadSequenceNumberUnknown,
                                                          status::BadSubscriptionIdInvalid}));
    EXPECT_EQ(acked[0].available, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(republish(1).serviceResult, status::BadMessageNotAvailable);
}

TEST(Subscription, LifetimeExpiresWithoutPublishRequests)
{
    Sub s(1, 3); // lifetime is at least three keep-alive counts
    s.Monitor(NodeId(1, 4), 1);
    s.Cycle(2);
    auto ok = s.Publish();
    EXPECT_EQ(ok.size(), 1u); // late: answered at once
    s.Cycle(3);
    auto none = s.Publish();
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].serviceResult, status::BadNoSubscription);
}

TEST(Subscription, DeleteAnswersParkedPublishRequestsAndQueueIsCapped)
{
    Sub s(100, 1000);
    s.Monitor(NodeId(1, 4), 1);
    s.Publish();
    s.Cycle(); // the initial value uses the first request
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(s.Publish().empty());
    auto eleventh = s.Publish();
    ASSERT_EQ(eleventh.size(), 1u);
    EXPECT_EQ(eleventh[0].serviceResult, status::BadTooManyPublishRequests);

    auto deleted = s.h.Send(msg::DeleteSubscriptionsRequest, [&](Writer& w) {
        w.Int32(2);
        w.UInt32(s.id);
        w.UInt32(s.id + 100);
    });
    ASSERT_EQ(deleted.size(), 11u);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(deleted[i].serviceResult, status::BadNoSubscription);
    EXPECT_EQ(deleted[10].type, msg::DeleteSubscriptionsResponse);
    EXPECT_EQ(deleted[10].Body().UInt32Array(),
              (std::vector<uint32_t>{status::Good, status::BadSubscriptionIdInvalid}));
    // Pushes to a variable nobody watches any more go nowhere.
    s.Push(4, 1);
    EXPECT_TRUE(s.Cycle(3).empty());
}

TEST(Subscription, PublishingModeOffSendsOnlyKeepAlives)
{
    Sub s(2);
    s.Monitor(NodeId(1, 4), 1);
    Response r = s.h.Call(msg::SetPublishingModeRequest, [&](Writer& w) {
        w.Boolean(false);
        w.Int32(1);
        w.UInt32(s.id);
    });
    EXPECT_EQ(r.Body().UInt32Array(), std::vector<uint32_t>{status::Good});
    s.Publish();
    auto out = s.Cycle();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].keepAlive);
    EXPECT_TRUE(out[0].notifications.empty());
}

TEST(Subscription, MonitoredItemChecksAndDeadband)
{
    Sub s;
    struct Case {
        NodeId node;
        ExtensionObject filter;
        uint32_t attribute;
        uint32_t status;
    };
    const Case cases[] = {
        {NodeId(1, 99), {}, attr::Value, status::BadNodeIdUnknown},
        {NodeId(1, 4), {}, attr::DisplayName, status::BadAttributeIdInvalid},
        {NodeId(1, 80001), {}, attr::Value, status::BadAttributeIdInvalid},
        {NodeId(1, 4), DataChangeFilter(1, 2, 5), attr::Value, status::BadMonitoredItemFilterUnsupported},
        {NodeId(1, 2), DataChangeFilter(1, 1, 1), attr::Value, status::BadFilterNotAllowed},
        {NodeId(1, 4), ExtensionObject{NodeId(0, 727), 1, ""}, attr::Value, status::BadMonitoredItemFilterUnsupported},
        {NodeId(0, 2258), {}, attr::Value, status::Good},
    };
    for (const auto& c : cases)
        EXPECT_EQ(s.Monitor(c.node, 1, 1, c.filter, c.attribute).first, c.status) << c.node.numeric;

    Sub d;
    EXPECT_EQ(d.Monitor(NodeId(1, 4), 3, 10, DataChangeFilter(1, 1, 1.0)).first, status::Good);
    d.Push(4, 10);
    d.Push(4, 10.5);
    d.Push(4, 11.6);
    d.Publish();
    auto out = d.Cycle();
    ASSERT_EQ(out.size(), 1u);
    std::vector<double> values;
    for (size_t i = 1; i < out[0].notifications.size(); ++i)
        values.push_back(ValueOf(out[0].notifications[i]));
    EXPECT_EQ(values, (std::vector<double>{10, 11.6}));
}

TEST(Subscription, ModifyThatBreaksOffLeavesTheItemAsItWas)
{
    Sub s;
    auto [created, itemId] = s.Monitor(NodeId(1, 4), 7, 1);
    ASSERT_EQ(created, status::Good);
    s.Publish();
    s.Cycle(); // initial value
    // New handle and queue size, and a DataChangeFilter whose body breaks off after the trigger.
    Writer cut;
    cut.UInt32(1);
    Response r = s.h.Call(msg::ModifyMonitoredItemsRequest, [&](Writer& w) {
        w.UInt32(s.id);
        w.UInt32(2);
        w.Int32(1);
        w.UInt32(itemId);
        w.UInt32(9);
        w.Double(100);
        w.WriteExtensionObject({NodeId(0, msg::DataChangeFilter), 1, cut.Bytes()});
        w.UInt32(10);
        w.Boolean(true);
    });
    EXPECT_EQ(r.serviceResult, status::BadDecodingError);
    // Still the old handle and a queue of one.
    s.Push(4, 1);
    s.Push(4, 2);
    s.Publish();
    auto after = s.Cycle();
    ASSERT_EQ(after.size(), 1u);
    ASSERT_EQ(after[0].notifications.size(), 1u);
    EXPECT_EQ(after[0].notifications[0].clientHandle, 7u);
    EXPECT_EQ(ValueOf(after[0].notifications[0]), 2);
}

TEST(Subscription, QueuedValuesOfAllItemsStayWithinABudget)
{
    Sub s;
    // Monitors m1 count times asking for 100 queued values each; returns (item id, revised queue size).
    auto monitor = [&](int count) {
        Response r = s.h.Call(msg::CreateMonitoredItemsRequest, [&](Writer& w) {
            w.UInt32(s.id);
            w.UInt32(2);
            w.Int32(count);
            for (int i = 0; i < count; ++i) {
                w.WriteNodeId(NodeId(1, 4));
                w.UInt32(attr::Value);
                w.NullString();
                w.WriteQualifiedName({});
                w.UInt32(2);
                w.UInt32(static_cast<uint32_t>(i));
                w.Double(100);
                w.NullExtensionObject();
                w.UInt32(100);
                w.Boolean(true);
            }
        });
        Reader b = r.Body();
        std::vector<std::pair<uint32_t, uint32_t>> out(static_cast<size_t>(b.ArrayLength()));
        for (auto& [itemId, queue] : out) {
            EXPECT_EQ(b.UInt32(), status::Good);
            itemId = b.UInt32();
            b.Double();
            queue = b.UInt32();
            b.ReadExtensionObject();
        }
        return out;
    };
    std::vector<uint32_t> first;
    for (size_t call = 0; call < kMaxQueuedValues / kMaxQueueSize / 1000; ++call)
        for (auto [itemId, queue] : monitor(1000)) {
            EXPECT_EQ(queue, kMaxQueueSize);
            if (call == 0)
                first.push_back(itemId);
        }
    // The budget is spent: a further item still gets its one value.
    EXPECT_EQ(monitor(1).at(0).second, 1u);
    // Deleted items give their share back.
    Response del = s.h.Call(msg::DeleteMonitoredItemsRequest, [&](Writer& w) {
        w.UInt32(s.id);
        w.Int32(static_cast<int32_t>(first.size()));
        for (uint32_t itemId : first)
            w.UInt32(itemId);
    });
    EXPECT_EQ(del.serviceResult, status::Good);
    EXPECT_EQ(monitor(1).at(0).second, kMaxQueueSize);
}

TEST(Subscription, OverflowOfPendingChangesStillDeliversTheLatestValue)
{
    Sub s;
    s.Monitor(NodeId(1, 4), 1);
    s.Publish();
    s.Cycle();
    for (size_t i = 0; i <= kMaxPendingChanges + 10; ++i)
        s.Push(4, static_cast<double>(i));
    s.Publish();
    auto out = s.Cycle();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ValueOf(out[0].notifications.back()), static_cast<double>(kMaxPendingChanges + 10));
}

} // namespace
} // namespace tagserve
