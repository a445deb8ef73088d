// libtagserve with 60 000 variables and one client subscribed to all of them:
// the cost of a value push, the notifications delivered per second while
// 20 000 values per second are pushed, and the resident memory.
#include "tests/tagserve/client_kit.h"
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

constexpr int32_t kVariables = 60000;
constexpr int32_t kPerGroup = 1000;
constexpr int kOutstandingPublish = 5;

double ResidentMiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int64_t UaNow()
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    return 116444736000000000LL + us * 10;
}

// Just enough of an OPC UA client: one channel, one session, one subscription.
class Client {
public:
    explicit Client(int port)
    {
        for (int attempt = 0; attempt < 200 && fd_ < 0; ++attempt) {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                fd_ = fd;
                break;
            }
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd_ < 0)
            throw std::runtime_error("cannot connect");
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        SendAll(test::HelloChunk("opc.tcp://127.0.0.1:" + std::to_string(port)));
        ReadChunk();
        Open();
    }
    ~Client() { ::close(fd_); }

    // Sends a request and waits for its response body (after the response header).
    std::string Call(uint32_t type, const std::function<void(Writer&)>& body)
    {
        uint32_t id = Request(type, body);
        for (;;) {
            auto [requestId, response] = ReadMessage();
            if (requestId == id)
                return response;
        }
    }

    uint32_t Request(uint32_t type, const std::function<void(Writer&)>& body)
    {
        Writer w;
        w.WriteNodeId(NodeId(0, type));
        test::WriteRequestHeader(w, token_, ++handle_);
        body(w);
        uint32_t id = ++requestId_;
        constexpr size_t perChunk = 65536 - 24;
        const std::string& b = w.Bytes();
        for (size_t at = 0; at < b.size(); at += perChunk) {
            std::string part = b.substr(at, perChunk);
            Writer c;
            c.Raw("MSG");
            c.Byte(at + perChunk >= b.size() ? 'F' : 'C');
            c.UInt32(static_cast<uint32_t>(24 + part.size()));
            c.UInt32(channel_);
            c.UInt32(tokenId_);
            c.UInt32(++sequence_);
            c.UInt32(id);
            c.Raw(part);
            SendAll(c.Bytes());
        }
        return id;
    }

    // One whole response: its request id and its body after the ResponseHeader.
    std::pair<uint32_t, std::string> ReadMessage()
    {
        std::string whole;
        for (;;) {
            std::string chunk = ReadChunk();
            Reader r(chunk);
            r.Skip(3);
            char type = static_cast<char>(r.Byte());
            r.Skip(4 + 4 + 4 + 4);
            uint32_t requestId = r.UInt32();
            whole.append(r.Rest());
            if (type != 'F')
                continue;
            Reader b(whole);
            b.ReadNodeId();
            b.Int64();
            b.UInt32();
            b.UInt32();
            b.ReadDiagnosticInfo();
            b.StringArray();
            b.ReadExtensionObject();
            return {requestId, std::string(b.Rest())};
        }
    }

    void Session()
    {
        std::string created = Call(msg::CreateSessionRequest, [](Writer& w) { test::WriteCreateSessionBody(w, "", 600000); });
        Reader r(created);
        r.ReadNodeId();
        token_ = r.ReadNodeId();
        Call(msg::ActivateSessionRequest, [](Writer& w) { test::WriteActivateSessionBody(w, test::AnonymousToken()); });
    }

private:
    void SendAll(const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            at += static_cast<size_t>(n);
        }
    }

    void RecvExactly(char* out, size_t n)
    {
        size_t at = 0;
        while (at < n) {
            ssize_t got = ::recv(fd_, out + at, n - at, 0);
            if (got <= 0)
                throw std::runtime_error("connection closed");
            at += static_cast<size_t>(got);
        }
    }

    std::string ReadChunk()
    {
        std::string chunk(8, '\0');
        RecvExactly(chunk.data(), 8);
        Reader h(chunk.data() + 4, 4);
        uint32_t size = h.UInt32();
        chunk.resize(size);
        RecvExactly(chunk.data() + 8, size - 8);
        if (chunk.compare(0, 3, "ERR") == 0)
            throw std::runtime_error("server sent ERR");
        return chunk;
    }

    void Open()
    {
        SendAll(test::OpenChunk(++sequence_, ++requestId_));
        std::string reply = ReadChunk();
        Reader r(reply);
        r.Skip(8);
        channel_ = r.UInt32();
        r.String();
        r.ByteString();
        r.ByteString();
        r.Skip(8);
        r.ReadNodeId();
        r.Skip(8 + 4 + 4);
        r.ReadDiagnosticInfo();
        r.StringArray();
        r.ReadExtensionObject();
        r.UInt32();
        r.UInt32();
        tokenId_ = r.UInt32();
    }

    int fd_ = -1;
    uint32_t channel_ = 0, tokenId_ = 0, sequence_ = 0, requestId_ = 0, handle_ = 0;
    NodeId token_;
};

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
    std::unique_ptr<Client> client;

    World()
    {
        rssEmpty = ResidentMiB();
        create_din_arrays(kVariables, kVariables / kPerGroup);
        for (int32_t g = 0; g < kVariables / kPerGroup; ++g) {
            std::string name = "Station_" + std::to_string(g);
            add_new_group(static_cast<int32_t>(name.size()), 80001 + g, name.c_str());
        }
        for (int32_t id = 1; id <= kVariables; ++id) {
            std::string name = "m" + std::to_string(id);
            Add_new_perem(static_cast<int32_t>(name.size()), id, 10, 80001 + (id - 1) / kPerGroup, 1, 0, name.c_str());
            Set_new_val_to_perem(10, id, 0, 0.0, 0, UaNow(), UaNow());
        }
        port = test::FreePort();
        server = std::thread([this] { UA_ServerNetworkLayerTCP_dll(port, 0, 0, 0, nullptr, ""); });
        client = std::make_unique<Client>(port);
        client->Session();
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
        std::string created = client->Call(msg::CreateSubscriptionRequest, [](Writer& w) {
            w.Double(100);
            w.UInt32(100000);
            w.UInt32(100);
            w.UInt32(0);
            w.Boolean(true);
            w.Byte(0);
        });
        Reader r(created);
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
                    auto [id, body] = client->ReadMessage();
                    uint32_t sub = 0, seq = 0;
                    notifications += CountNotifications(body, sub, seq);
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
