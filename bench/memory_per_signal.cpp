// Where the bytes of a configured signal go: the heap and the resident
// memory a service start adds at 60 000 signals, with and without the OPC UA
// library, and the sizes of the records every signal has.
//
// Set-up. ServiceInit, then ServiceStart with the station table built in
// memory (stations x signals, half single points, half measured values, as
// in bench_load104) and no channel factory, so no thread or socket of the
// channels counts: what is left is the station table, the signal records,
// the tags and their index, the OPC item numbering and, with ua 1, the
// OPC UA library (libtagserve.so copied beside the service's ExePath) with
// its address space and server thread. Heap bytes are mallinfo2's in-use
// bytes (arena and mmap'd chunks) before ServiceInit and after the start;
// resident bytes VmRSS of /proc/self/status at the same two points. The
// whole-process figure under traffic, channel threads included, is
// bench_load104's B_per_signal.
//
// Rows run one per process (--benchmark_filter): a row after another
// reuses what the other freed, and its resident figure is too low.
//
// Counters: heap_B_per_signal, rss_B_per_signal (what the init and start
// added, over the signals), items_B_per_signal (the OPC item table, which
// has its rows whatever the signal count), sizeof_* of the records.

#include "core/signals.h"
#include "core/tags.h"
#include "opcua/opcuabridge.h"
#include "opcua/opcualibrary.h"
#include "service/serviceinit.h"
#include "testkit/temp_dir.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace gw;

double HeapBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

double RssBytes()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) * 1024;
    return 0;
}

int FreePort()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    return socket.address().port();
}

// The library builds its address space on its server thread before it
// listens: once a connection is taken, all of it is there.
bool WaitForListening(int port)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            Poco::Net::StreamSocket probe;
            probe.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)));
            return true;
        } catch (const Poco::Exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return false;
}

// stations x points single points and as many measured values, named as a
// configuration names them.
void Configure(TServiceContext& ctx, int stations, int points)
{
    ctx.Stations.Reset();
    for (int i = 1; i <= stations; ++i) {
        T_KP kp;
        kp.NameKP = "KP" + std::to_string(i);
        kp.IP = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        kp.ASDU_Adr = i;
        for (int n = 0; n < points; ++n) {
            T_TS ts;
            ts.NameTS = "TS" + std::to_string(n + 1);
            ts.AdrASDU = i;
            ts.AdrIOA = n + 1;
            kp.TS_arr.push_back(ts);
            T_TI ti;
            ti.NameTI = "TI" + std::to_string(n + 1);
            ti.AdrASDU = i;
            ti.AdrIOA = 1001 + n;
            ti.Max_TM_Diap = ti.Max_Eng_Diap = 1000;
            kp.TI_arr.push_back(ti);
        }
        kp.Kol_TS = kp.Kol_TI = points;
        ctx.Stations.KpTable.push_back(kp);
        ctx.Stations.KpCount += 1;
    }
}

void BM_MemoryPerSignal(benchmark::State& state)
{
    const int stations = static_cast<int>(state.range(0));
    const int points = static_cast<int>(state.range(1)) / 2;
    const double signals = static_cast<double>(stations) * points * 2;
    test::TempDir temp;
    std::filesystem::copy_file(TAGSERVE_LIBRARY, temp.File(OpcUaLibraryName));
    TOpcUaSettings ua;
    ua.OPC_UA_use = state.range(2) != 0;
    ua.OPC_UA_Port = FreePort();
    TOpcUaLibraryBridge bridge(ua);

    for (auto _ : state) {
        const double heap0 = HeapBytes();
        const double rss0 = RssBytes();
        {
            TServiceContext ctx;
            ctx.Process.ExePath = temp.File("fieldgate");
            TPlugged plugged =
                Plug(ctx, {nullptr, &bridge, nullptr, [&](TServiceContext& c) { Configure(c, stations, points); }});
            ServiceInit(ctx);
            if (!ServiceStart(ctx)
                || (ua.OPC_UA_use && !(ctx.Switches.OpcUaRunning && WaitForListening(ua.OPC_UA_Port)))) {
                state.SkipWithError("service start failed");
                break;
            }
            state.counters["heap_B_per_signal"] = (HeapBytes() - heap0) / signals;
            state.counters["rss_B_per_signal"] = (RssBytes() - rss0) / signals;
            const double items = static_cast<double>(ctx.Items.OpcItems.capacity() * sizeof(TIndent)
                                                     + ctx.Items.OpcItemValues.capacity() * sizeof(double));
            state.counters["items_B_per_signal"] = items / signals;
            ServiceStop(ctx);
        }
    }
    state.counters["sizeof_TTagSignal"] = sizeof(TTagSignal);
    state.counters["sizeof_TArmRec"] = sizeof(TArmRec);
    state.counters["sizeof_TIndent"] = sizeof(TIndent);
    state.counters["sizeof_T_TS"] = sizeof(T_TS);
    state.counters["sizeof_T_TI"] = sizeof(T_TI);
}

// stations, signals per station, OPC UA library loaded.
BENCHMARK(BM_MemoryPerSignal)
    ->ArgNames({"stations", "signals", "ua"})
    ->Args({200, 300, 0})
    ->Args({200, 300, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
