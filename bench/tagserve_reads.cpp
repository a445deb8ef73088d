// One client polling 1000 variables on one connection, each Read answered
// before the next is sent, as a SCADA master polls its items: the resident
// memory of the process (server and client) before and after the reads.
//
// Counters: rss_MiB_before (after a warm-up of 1000 reads), rss_MiB_after,
// rss_MiB_growth, reads_per_s. The number of reads is READS_COUNT from the
// environment (default 100 000).
#include "testkit/resident_memory.h"
#include "testkit/tagserve/session_client.h"
#include "tagserve/binary.h"
#include "tagserve/ids.h"
#include "tagserve/tagserve.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tagserve;

constexpr int32_t kVariables = 1000;
constexpr int kWarmUp = 1000;

int ReadCount()
{
    const char* v = std::getenv("READS_COUNT");
    return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : 100000;
}

void BM_SequentialReadsOnOneConnection(benchmark::State& state)
{
    create_din_arrays(kVariables, 1);
    add_new_group(9, 80001, "Station_1");
    std::vector<uint32_t> ids;
    for (int32_t id = 1; id <= kVariables; ++id) {
        std::string name = "m";
        name += std::to_string(id);
        Add_new_perem(static_cast<int32_t>(name.size()), id, 10, 80001, 1, 0, name.c_str());
        ids.push_back(static_cast<uint32_t>(id));
    }
    const int port = test::FreePort();
    std::thread server([port] { UA_ServerNetworkLayerTCP_dll(port, 0, 0, 0, nullptr, ""); });
    {
        test::SessionClient client(port);
        client.Session(test::AnonymousToken());
        auto read = [&](Writer& w) { test::WriteReadValuesBody(w, ids); };
        for (int i = 0; i < kWarmUp; ++i)
            client.Call(msg::ReadRequest, read);
        const int reads = ReadCount();
        for (auto _ : state) {
            const double before = gw::test::ResidentMiB();
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < reads; ++i)
                client.Call(msg::ReadRequest, read);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            const double after = gw::test::ResidentMiB();
            state.counters["rss_MiB_before"] = before;
            state.counters["rss_MiB_after"] = after;
            state.counters["rss_MiB_growth"] = after - before;
            state.counters["reads_per_s"] = reads / took.count();
        }
    }
    setrunning_bool(0);
    server.join();
}
BENCHMARK(BM_SequentialReadsOnOneConnection)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
