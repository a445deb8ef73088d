// libtagserve with 60 000 variables and one client subscribed to all of them:
// the cost of a value push, the notifications delivered per second while
// 20 000 values per second are pushed, and the resident memory.
#include "testkit/resident_memory.h"
#include "testkit/tagserve/session_client.h"
#include "tagserve/binary.h"
#include "tagserve/ids.h"
#include "tagserve/tagserve.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace tagserve;
using gw::test::ResidentMiB;

constexpr int32_t kVariables = 60000;
constexpr int32_t kPerGroup = 1000;
constexpr int kOutstandingPublish = 5;

int64_t UaNow()
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    return 116444736000000000LL + us * 10;
}

// Counts the MonitoredItemNotifications of a PublishResponse body; returns the subscription's ack.
size_t CountNotifications(const std::string& body, uint32_t& subscription, uint32_t& sequence)
{
    Reader r(body);
    subscription = r.UInt32();
    r.UInt32Array();
    r.Boolean();
    sequence = r.UInt32();
    r.Int64();
    size_t count = 0;
    int32_t n = r.ArrayLength();
    for (int32_t i = 0; i < n; ++i) {
        ExtensionObject e = r.ReadExtensionObject();
        Reader d(e.body);
        count += static_cast<size_t>(d.ArrayLength());
    }
    return count;
}

// The server with 60 000 variables and one subscribed client, set up once.
struct World {
    int port = 0;
    std::thread server;
    std::thread publisher;
    std::atomic<uint64_t> notifications{0};
    std::atomic<bool> done{false};
    double rssEmpty = 0, rssBuilt = 0, rssSubscribed = 0;
    std::unique_ptr<test::SessionClient> client;

    World()
    {
        rssEmpty = ResidentMiB();
        create_din_arrays(kVariables, kVariables / kPerGroup);
        for (int32_t g = 0; g < kVariables / kPerGroup; ++g) {
            std::string name = "Station_" + std::to_string(g);
            add_new_group(static_cast<int32_t>(name.size()), 80001 + g, name.c_str());
        }
        for (int32_t id = 1; id <= kVariables; ++id) {
            std::string name = "m"; // appended: GCC 12 at -O3 warns falsely (-Wrestrict) about "m" + to_string
            name += std::to_string(id);
            Add_new_perem(static_cast<int32_t>(name.size()), id, 10, 80001 + (id - 1) / kPerGroup, 1, 0, name.c_str());
            Set_new_val_to_perem(10, id, 0, 0.0, 0, UaNow(), UaNow());
        }
        port = test::FreePort();
        server = std::thread([this] { UA_ServerNetworkLayerTCP_dll(port, 0, 0, 0, nullptr, ""); });
        client = std::make_unique<test::SessionClient>(port);
        client->Session(test::AnonymousToken());
        rssBuilt = ResidentMiB();
        Subscribe();
        rssSubscribed = ResidentMiB();
    }

    ~World()
    {
        done = true;
        setrunning_bool(0);
        server.join();
        publisher.join();
    }

    void Subscribe()
    {
        test::Answer created = client->Call(msg::CreateSubscriptionRequest, [](Writer& w) {
            w.Double(100);
            w.UInt32(100000);
            w.UInt32(100);
            w.UInt32(0);
            w.Boolean(true);
            w.Byte(0);
        });
        Reader r(created.body);
        uint32_t subscription = r.UInt32();
        for (int32_t first = 1; first <= kVariables; first += 1000) {
            client->Call(msg::CreateMonitoredItemsRequest, [&](Writer& w) {
                w.UInt32(subscription);
                w.UInt32(2);
                w.Int32(1000);
                for (int32_t id = first; id < first + 1000; ++id) {
                    w.WriteNodeId(NodeId(1, static_cast<uint32_t>(id)));
                    w.UInt32(attr::Value);
                    w.NullString();
                    w.WriteQualifiedName({});
                    w.UInt32(2);
                    w.UInt32(static_cast<uint32_t>(id));
                    w.Double(100);
                    w.NullExtensionObject();
                    w.UInt32(1);
                    w.Boolean(true);
                }
            });
        }
        for (int i = 0; i < kOutstandingPublish; ++i)
            client->Request(msg::PublishRequest, [](Writer& w) { w.EmptyArray(); });
        // Every answer is counted and replaced by a new request with its acknowledgement.
        publisher = std::thread([this] {
            try {
                while (!done) {
                    test::Answer a = client->ReadMessage();
                    uint32_t sub = 0, seq = 0;
                    notifications += CountNotifications(a.body, sub, seq);
                    client->Request(msg::PublishRequest, [&](Writer& w) {
                        w.Int32(1);
                        w.UInt32(sub);
                        w.UInt32(seq);
                    });
                }
            } catch (const std::exception&) {
                // The server stopped: the benchmark is over.
            }
        });
    }
};

World& TheWorld()
{
    static World world;
    return world;
}

// Cost of one push, pushing as fast as possible while the server drains and publishes.
void BM_PushCost(benchmark::State& state)
{
    World& w = TheWorld();
    int32_t id = 0;
    double v = 0;
    int64_t now = UaNow();
    for (auto _ : state) {
        id = id % kVariables + 1;
        v += 1;
        benchmark::DoNotOptimize(Set_new_val_to_perem(10, id, 0, v, 0, now, now));
    }
    state.counters["rss_MiB_60k"] = w.rssSubscribed;
}
BENCHMARK(BM_PushCost);

// 20 000 pushes per second for one second: the notifications that reach the client.
void BM_Deliver20kPerSecond(benchmark::State& state)
{
    World& w = TheWorld();
    int32_t id = 0;
    double v = 1e6;
    uint64_t delivered = 0;
    double pushNs = 0;
    int64_t pushes = 0;
    // Whatever earlier benchmarks left queued goes out first.
    for (uint64_t last = ~0ull; last != w.notifications.load();) {
        last = w.notifications.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (auto _ : state) {
        uint64_t before = w.notifications.load();
        auto start = std::chrono::steady_clock::now();
        for (int ms = 0; ms < 1000; ++ms) {
            auto t0 = std::chrono::steady_clock::now();
            int64_t now = UaNow();
            for (int k = 0; k < 20; ++k) {
                id = id % kVariables + 1;
                Set_new_val_to_perem(10, id, 0, v += 1, 0, now, now);
            }
            pushNs += static_cast<double>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count());
            pushes += 20;
            std::this_thread::sleep_until(start + std::chrono::milliseconds(ms + 1));
        }
        // Let the last publishing interval go out.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        delivered += w.notifications.load() - before;
    }
    state.counters["notifications_per_s"] =
        benchmark::Counter(static_cast<double>(delivered) / static_cast<double>(state.iterations()));
    state.counters["push_ns"] = pushNs / static_cast<double>(pushes);
    state.counters["rss_MiB_empty"] = w.rssEmpty;
    state.counters["rss_MiB_60k_built"] = w.rssBuilt;
    state.counters["rss_MiB_60k_subscribed"] = w.rssSubscribed;
}
BENCHMARK(BM_Deliver20kPerSecond)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
