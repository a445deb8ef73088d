// The 104 side under load: many active stations served by kpsim over
// loopback, each sending time-tagged spontaneous changes, into the tag list
// and the OPC item table of an in-process service that also runs the OPC UA
// library.
//
// Set-up. kpsim runs as a child process with one listening station per line
// of a --config file (half single points M_SP_TB_1, half short floats
// M_ME_TF_1, --time, --rate changes per second each, and with --objects N at
// most N objects per ASDU, as stations that send each change at once). The
// gateway is this process: ServiceInit / ServiceStart with the socket
// channel factory, one active station per kpsim station on 127.0.0.1 and
// kpsim's port, each with the same points, stamps from the station (TIM 1),
// no periodic requests; the 50 ms tick is this benchmark's loop on the real
// clock, so publication runs every third tick (150 ms) as in the service.
// With ua 1 the OPC UA bridge loads the built libtagserve.so, copied beside
// the service's ExePath, so every publication pass also pushes to it (no
// client is connected: its cost is the pushes and the server thread).
// With client P a real OPC UA client (node-opcua, bench/ua_latency_client.js
// as a child process, its CPU not counted) subscribes with publishing
// interval P ms to the Value of every signal's and every station's
// "Connected" item before the warm-up; ua_interval_ms is the interval the
// server granted.
//
// Delay. kpsim stamps each change with its CP56Time2a of the local wall time
// when it packs the change into the frame it sends next (a frame that waits
// for the send window keeps the older stamp, so a gateway slow to
// acknowledge shows as delay). Two observers take now minus the stamp of
// every value they find new, both reading the same wall clock as kpsim:
// - tag_*: a thread of the benchmark walks the tag list again and again, a
//   few hundred tags per hold of the list's lock, with a 1 ms pause after
//   each walk; a tag whose time changed since the last walk holds a new
//   value. That is the delay from frame sent to value stored in its tag,
//   late by at most one walk and the pause (walk_ms is the mean walk).
// - item_*: right after each tick that published, the loop walks the item
//   table under its lock: every row whose Stamp_DateTime changed since the
//   last walk holds a new value. This figure is bound to the 150 ms
//   publication period (about 75 ms p50, 150 ms p99 whatever the receive
//   path does). CP56 milliseconds add up to 1 ms to both.
// - ua_*: with a client, the client takes its wall time when a notification
//   comes out of a Publish response less the value's source timestamp: the
//   delay from frame sent to value shown to an OPC UA client, bound to the
//   publication period plus the publishing interval. ua_values_per_s is how
//   many notifications it got.
//
// Lost values. kpsim counts the changes it queued and the changes it
// skipped because 256 ASDUs were already waiting for the window (its
// "stats" line): lost is the skipped ones in the measured window, sent_per_s
// the queued ones per second, objects_per_asdu how they were packed.
//
// CPU and memory. getrusage(RUSAGE_SELF) of this process (kpsim is a child
// and not counted) over the measured window, less the thread CPU time, user
// and system apart, the benchmark's own observers (the tag observer's pauses
// included) and its reading of kpsim's and the client's output take; per
// second of wall time, so 1.0 is one core, and split into user and system
// time (the kernel's split is sampled: for small figures it is rough, and
// the parts may even go below zero while their sum holds). rss_MiB is VmRSS of /proc/self/status once every station is
// connected (and the client has subscribed) and the warm-up has passed, before the observers allocate
// anything, and B_per_signal is that over the configured signals: the
// whole process, C++ runtime and libraries included. rss_before_MiB is the
// process before the service start; hwm_MiB the peak (VmHWM) at the end.
// A row after others reuses what they freed and fragmented: take the memory
// figures from a row run alone (--benchmark_filter). The machine this runs
// on is shared: compare rows of one run.
//
// Run: build/default/bench/bench_load104 [--benchmark_filter=200]
// LOAD104_SECONDS sets the measured window (default 20 s, after the warm-up
// in which every station connects and its interrogation settles). Counters:
// tag_p50_ms, tag_p99_ms, tag_max_ms, item_p50_ms, item_p99_ms, item_max_ms,
// values_per_s (new values seen in the tags per second), sent_per_s, lost,
// objects_per_asdu, walk_ms, cpu_per_s, user_per_s, sys_per_s, rss_MiB,
// B_per_signal, hwm_MiB, rss_before_MiB, no_row (signals beyond the item
// table), and with a client ua_p50_ms, ua_p99_ms, ua_max_ms, ua_values_per_s,
// ua_interval_ms.

#include "cross_build_note.h"
#include "core/datetime.h"
#include "core/tags.h"
#include "opcua/opcuabridge.h"
#include "opcua/opcualibrary.h"
#include "service/channelfactory.h"
#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "testkit/temp_dir.h"
#include "testkit/child_lines.h"
#include "testkit/kpsim_process.h"

#include <Poco/Net/ServerSocket.h>
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace gw;
using Steady = std::chrono::steady_clock;

constexpr auto TickPeriod = std::chrono::milliseconds(50);
constexpr auto WarmUp = std::chrono::seconds(5);
constexpr auto ConnectLimit = std::chrono::seconds(60);

double CpuSeconds(const timeval& user, const timeval& sys)
{
    return static_cast<double>(user.tv_sec + sys.tv_sec) + static_cast<double>(user.tv_usec + sys.tv_usec) / 1e6;
}

// User and system CPU seconds of the whole process.
struct TCpu {
    double user = 0, sys = 0;
};

TCpu ProcessCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const timeval zero{};
    return {CpuSeconds(u.ru_utime, zero), CpuSeconds(zero, u.ru_stime)};
}

// The same of the calling thread.
TCpu ThreadCpu()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    const timeval zero{};
    return {CpuSeconds(u.ru_utime, zero), CpuSeconds(zero, u.ru_stime)};
}

TCpu operator-(const TCpu& a, const TCpu& b) { return {a.user - b.user, a.sys - b.sys}; }

TCpu operator+(const TCpu& a, const TCpu& b) { return {a.user + b.user, a.sys + b.sys}; }

TCpu& operator+=(TCpu& a, const TCpu& b)
{
    a.user += b.user;
    a.sys += b.sys;
    return a;
}

// A "Vm...:" line of /proc/self/status in MiB.
double StatusMiB(const std::string& key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::strtod(line.c_str() + key.size() + 1, nullptr) / 1024.0;
    return 0;
}

int MeasuredSeconds()
{
    const char* text = std::getenv("LOAD104_SECONDS");
    const int s = text ? std::atoi(text) : 0;
    return s > 0 ? s : 20;
}

// Delays in 0.1 ms bins up to 10 s, the last bin holding all beyond; fixed
// in size, so the benchmark's own memory does not grow with the run.
class TDelays {
public:
    static constexpr double BinMs = 0.1;
    static constexpr std::size_t Bins = 100000;

    void Add(double ms)
    {
        const double bin = std::max(ms, 0.0) / BinMs;
        bins_[std::min(static_cast<std::size_t>(bin), Bins - 1)] += 1;
        count_ += 1;
        max_ = std::max(max_, ms);
    }
    std::uint64_t Count() const { return count_; }
    double Max() const { return max_; }
    // The upper edge of the bin that holds the p-th share of the delays.
    double Percentile(double p) const
    {
        const auto wanted = static_cast<std::uint64_t>(p * static_cast<double>(count_));
        std::uint64_t seen = 0;
        for (std::size_t b = 0; b < Bins; ++b) {
            seen += bins_[b];
            if (seen > wanted)
                return static_cast<double>(b + 1) * BinMs;
        }
        return max_;
    }

private:
    std::vector<std::uint32_t> bins_ = std::vector<std::uint32_t>(Bins);
    std::uint64_t count_ = 0;
    double max_ = 0;
};

struct TLoad {
    int stations;
    int points;  // single points, then as many short floats
    int rate;    // changes per second of each station
    int objects; // objects per ASDU at most, 0: as many as fit
    bool ua;     // the OPC UA library loaded
    int client;  // publishing interval of the OPC UA client, 0: no client
    int Signals() const { return stations * points * 2; }
    // The short floats follow the single points, from 1001 up as before.
    int FirstFloatIoa() const { return std::max(1001, points + 1); }
};

// kpsim's --config: one listening station per line, free ports.
std::string KpsimConfig(const TLoad& load)
{
    std::string text;
    for (int i = 1; i <= load.stations; ++i) {
        text += "--listen 127.0.0.1:0 --ca " + std::to_string(i) + " --sp 1:" + std::to_string(load.points)
                + " --me-float " + std::to_string(load.FirstFloatIoa()) + ":" + std::to_string(load.points) + " --rate "
                + std::to_string(load.rate) + " --time";
        if (load.objects > 0)
            text += " --objects " + std::to_string(load.objects);
        text += "\n";
    }
    return text;
}

// The station table as "iec104.cfg" gives it for kpsim's stations.
void Configure(TServiceContext& ctx, const TLoad& load, const std::vector<int>& ports)
{
    ctx.Stations.Reset();
    for (int i = 1; i <= load.stations; ++i) {
        T_KP kp;
        kp.NameKP = "KP" + std::to_string(i);
        kp.IP = "127.0.0.1";
        kp.ASDU_Adr = i;
        kp.Time_To_OPC = true;
        for (int n = 0; n < load.points; ++n) {
            T_TS ts;
            ts.NameTS = "TS" + std::to_string(n + 1);
            ts.AdrASDU = i;
            ts.AdrIOA = n + 1;
            kp.TS_arr.push_back(ts);
            T_TI ti;
            ti.NameTI = "TI" + std::to_string(n + 1);
            ti.AdrASDU = i;
            ti.AdrIOA = load.FirstFloatIoa() + n;
            ti.Max_TM_Diap = ti.Max_Eng_Diap = 1000;
            kp.TI_arr.push_back(ti);
        }
        kp.Kol_TS = kp.Kol_TI = load.points;
        ctx.Stations.KpTable.push_back(kp);
        ctx.Stations.KpCount += 1;
        TPrmn& prm = ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)];
        SetPrmnDefault(prm, PrmnKind104, "127.0.0.1", ports[static_cast<std::size_t>(i - 1)]);
        prm.CommonAsduAddress = i;
    }
    ctx.Switches.PrmTFromCfg = true;
}

int FreePort()
{
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    return socket.address().port();
}

// The item rows of the signals, and the signals beyond the table.
std::vector<int> SignalItems(const TServiceContext& ctx, int& noRow)
{
    std::vector<int> ids;
    noRow = 0;
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        for (int n = 0; n < kp.Kol_TS + kp.Kol_TI; ++n) {
            const int id = (n < kp.Kol_TS ? kp.Nom_OPC_TS + n : kp.Nom_OPC_TI + n - kp.Kol_TS);
            if (ctx.Items.IsOpcItem(id))
                ids.push_back(id);
            else
                noRow += 1;
        }
    }
    return ids;
}

// Every station's "Connected" item, then every signal's item.
std::vector<int> WatchedItems(const TServiceContext& ctx)
{
    std::vector<int> ids;
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        const int id = ctx.Stations.KpTable[static_cast<std::size_t>(i)].Nom_OPC_Alarm;
        if (ctx.Items.IsOpcItem(id))
            ids.push_back(id);
    }
    int noRow = 0;
    const std::vector<int> signals = SignalItems(ctx, noRow);
    ids.insert(ids.end(), signals.begin(), signals.end());
    return ids;
}

bool AllConnected(const TServiceContext& ctx)
{
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        if (!ctx.Stations.KpTable[static_cast<std::size_t>(i)].Connected)
            return false;
    return true;
}

// The sums of kpsim's "stats" lines over all its stations.
struct TKpsimStats {
    double values = 0, asdus = 0, dropped = 0;
};

double StatsField(const std::string& line, const std::string& key)
{
    const auto at = line.find(" " + key + "=");
    return at == std::string::npos ? 0 : std::strtod(line.c_str() + at + key.size() + 2, nullptr);
}

// Thread CPU time the benchmark spends on its own work in the loop.
class TOwnCpu {
public:
    template <class Work>
    void Run(Work work)
    {
        const TCpu cpu = ThreadCpu();
        work();
        seconds_ += ThreadCpu() - cpu;
    }
    TCpu Seconds() const { return seconds_; }

private:
    TCpu seconds_;
};

// kpsim's output, read so its pipe never fills, and its counts.
class TKpsimReader {
public:
    TKpsimReader(test::KpsimProcess& kpsim, int stations, TOwnCpu& own) : kpsim_(kpsim), stations_(stations), own_(own)
    {
    }
    void Drain()
    {
        own_.Run([&] { kpsim_.WaitFor("\x01", std::chrono::milliseconds(1)); });
    }
    TKpsimStats Stats()
    {
        TKpsimStats sum;
        own_.Run([&] {
            kpsim_.Control("stats 0");
            for (int n = 0; n < stations_; ++n) {
                const auto line = kpsim_.WaitFor("stats station=");
                if (!line)
                    break;
                sum.values += StatsField(*line, "values");
                sum.asdus += StatsField(*line, "asdus");
                sum.dropped += StatsField(*line, "dropped");
            }
        });
        return sum;
    }

private:
    test::KpsimProcess& kpsim_;
    const int stations_;
    TOwnCpu& own_;
};

// The item table after each publication pass: every row whose stamp changed
// holds a new value.
class TItemObserver {
public:
    TItemObserver(TServiceContext& ctx, std::vector<int> ids, TOwnCpu& own)
        : ctx_(ctx), ids_(std::move(ids)), stamps_(ids_.size(), 0), own_(own)
    {
    }

    void Walk(bool record)
    {
        own_.Run([&] {
            const TDateTime now = WallNow();
            std::lock_guard<std::mutex> guard(ctx_.Items.OpcItemsLock);
            for (std::size_t k = 0; k < ids_.size(); ++k) {
                const TDateTime stamp = ctx_.Items.OpcItems[static_cast<std::size_t>(ids_[k])].Stamp_DateTime;
                if (stamp == stamps_[k])
                    continue;
                stamps_[k] = stamp;
                if (record)
                    delays_.Add((now - stamp) * MsPerDay);
            }
        });
    }
    const TDelays& Delays() const { return delays_; }

private:
    TServiceContext& ctx_;
    std::vector<int> ids_;
    std::vector<TDateTime> stamps_;
    TDelays delays_;
    TOwnCpu& own_;
};

// The tag list from a thread of its own, walked over and over: a tag whose
// time changed since the last walk holds a value stored since. Short holds
// of the list's lock, so the receive path that stores under it waits little.
class TTagObserver {
public:
    static constexpr int TagsPerHold = 256;

    explicit TTagObserver(const TTagSignalList& tags) : tags_(tags)
    {
        for (int i = 0; i < tags.Count(); ++i)
            list_.push_back(tags.GetTag(i));
        stamps_.resize(list_.size());
        Walk(false);
        thread_ = std::thread([this] { Run(); });
    }
    ~TTagObserver() { Stop(); }
    TTagObserver(const TTagObserver&) = delete;
    TTagObserver& operator=(const TTagObserver&) = delete;

    void Record(bool on) { record_ = on; }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // After Stop: the delays, the thread's CPU time while recording and its mean walk.
    const TDelays& Delays() const { return delays_; }
    TCpu OwnCpu() const { return ownCpu_; }
    double WalkMs() const { return walks_ ? walkSeconds_ * 1000 / static_cast<double>(walks_) : 0; }

private:
    void Run()
    {
        while (!stop_) {
            const bool record = record_;
            const TCpu cpu = ThreadCpu();
            const auto t0 = Steady::now();
            Walk(record);
            if (record) {
                walkSeconds_ += std::chrono::duration<double>(Steady::now() - t0).count();
                walks_ += 1;
            }
            // The pause's system calls are the observer's too.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (record)
                ownCpu_ += ThreadCpu() - cpu;
        }
    }
    void Walk(bool record)
    {
        for (std::size_t first = 0; first < list_.size(); first += TagsPerHold) {
            const std::size_t end = std::min(list_.size(), first + TagsPerHold);
            const auto lock = tags_.Lock();
            const TDateTime now = WallNow();
            for (std::size_t k = first; k < end; ++k) {
                const TDateTime stamp = list_[k]->Value.dt;
                if (stamp == stamps_[k])
                    continue;
                stamps_[k] = stamp;
                if (record)
                    delays_.Add((now - stamp) * MsPerDay);
            }
        }
    }

    const TTagSignalList& tags_;
    std::vector<const TTagSignal*> list_;
    std::vector<TDateTime> stamps_;
    TDelays delays_;
    std::atomic<bool> record_{false};
    std::atomic<bool> stop_{false};
    TCpu ownCpu_;
    double walkSeconds_ = 0;
    std::uint64_t walks_ = 0;
    std::thread thread_;
};

// The OPC UA client subscribed to the given items, as a child process.
class TUaClient {
public:
    TUaClient(const test::TempDir& temp, int port, int interval, const std::vector<int>& ids, TOwnCpu& own) : own_(own)
    {
        std::string text;
        for (int id : ids)
            text += std::to_string(id) + "\n";
        temp.Write("ua_ids.txt", text);
        const std::string npm = std::string(GATEWAY_SOURCE_DIR) + "/tests/npm";
        Poco::Process::Env env{{"NODE_PATH", npm + "/node_modules"}, {"XDG_CONFIG_HOME", temp.File("xdg")}};
        child_.emplace("node",
                       std::vector<std::string>{std::string(GATEWAY_SOURCE_DIR) + "/bench/ua_latency_client.js",
                                                "opc.tcp://127.0.0.1:" + std::to_string(port), std::to_string(interval),
                                                temp.File("ua_ids.txt")},
                       env);
    }
    // Looks for "ready" (a poll of a millisecond); the granted interval once seen.
    std::optional<double> Ready()
    {
        std::optional<std::string> line;
        own_.Run([&] { line = child_->WaitFor("ready ", std::chrono::milliseconds(2)); });
        if (!line)
            return std::nullopt;
        return std::strtod(line->c_str() + line->rfind(' ') + 1, nullptr);
    }
    void Start() { child_->Write("start"); }
    // count, p50, p99, max of the delays since Start.
    std::optional<std::array<double, 4>> Stats()
    {
        child_->Write("stats");
        const auto line = child_->WaitFor("stats ", std::chrono::seconds(30));
        if (!line)
            return std::nullopt;
        return std::array<double, 4>{StatsField(*line, "count"), StatsField(*line, "p50"), StatsField(*line, "p99"),
                                     StatsField(*line, "max")};
    }

private:
    std::optional<test::ChildLines> child_;
    TOwnCpu& own_;
};

void DelayCounters(benchmark::State& state, const std::string& prefix, const TDelays& delays)
{
    state.counters[prefix + "_p50_ms"] = delays.Percentile(0.50);
    state.counters[prefix + "_p99_ms"] = delays.Percentile(0.99);
    state.counters[prefix + "_max_ms"] = delays.Max();
}

void BM_Load104(benchmark::State& state)
{
    const TLoad load{static_cast<int>(state.range(0)),
                     static_cast<int>(state.range(1)) / 2,
                     static_cast<int>(state.range(2)),
                     static_cast<int>(state.range(3)),
                     state.range(4) != 0,
                     static_cast<int>(state.range(5))};
    // What the rows before left freed goes back to the system, as far as it can.
    malloc_trim(0);
    const double rssBefore = StatusMiB("VmRSS");
    test::TempDir temp;
    temp.Write("kpsim.conf", KpsimConfig(load));
    test::KpsimProcess kpsim({"--config", temp.File("kpsim.conf")});
    std::vector<int> ports;
    for (int i = 1; i <= load.stations; ++i)
        ports.push_back(kpsim.ListenPort(i));

    // The bridge loads the library from the service directory, as in fieldgate.
    std::filesystem::copy_file(TAGSERVE_LIBRARY, temp.File(OpcUaLibraryName));
    TOpcUaSettings ua;
    ua.OPC_UA_use = load.ua;
    ua.OPC_UA_Port = FreePort();
    TOpcUaLibraryBridge bridge(ua);

    TSocketChannelFactory factory;
    TServiceContext ctx;
    ctx.Process.ExePath = temp.File("fieldgate");
    TPlugged plugged = Plug(ctx, {&factory, &bridge, nullptr, [&](TServiceContext& c) { Configure(c, load, ports); }});
    ServiceInit(ctx);

    for (auto _ : state) {
        if (!ServiceStart(ctx)) {
            state.SkipWithError("service start failed");
            break;
        }
        if (load.ua && !ctx.Switches.OpcUaRunning) {
            state.SkipWithError("the OPC UA library did not start");
            break;
        }
        TOwnCpu own;
        TKpsimReader reader(kpsim, load.stations, own);
        std::optional<TItemObserver> items;
        auto next = Steady::now();
        const auto started = next;
        auto tick = [&](bool record) {
            ServiceTick(ctx);
            if (items && ctx.Running.TickCounter % 3 == 0)
                items->Walk(record);
            reader.Drain();
            next += TickPeriod;
            std::this_thread::sleep_until(next);
        };
        while (!AllConnected(ctx) && Steady::now() - started < ConnectLimit)
            tick(false);
        if (!AllConnected(ctx)) {
            state.SkipWithError("not every station connected");
            break;
        }
        std::optional<TUaClient> client;
        double uaInterval = 0;
        if (load.client > 0) {
            client.emplace(temp, ua.OPC_UA_Port, load.client, WatchedItems(ctx), own);
            const auto limit = Steady::now() + ConnectLimit * 2;
            for (std::optional<double> granted; !granted && Steady::now() < limit;) {
                tick(false);
                granted = client->Ready();
                uaInterval = granted.value_or(0);
            }
            if (uaInterval <= 0) {
                state.SkipWithError("the OPC UA client did not subscribe");
                break;
            }
        }
        for (const auto warm = Steady::now() + WarmUp; Steady::now() < warm;)
            tick(false);

        const double rss = StatusMiB("VmRSS");
        int noRow = 0;
        items.emplace(ctx, SignalItems(ctx, noRow), own);
        items->Walk(false);
        TTagObserver tags(ctx.Running.Run->TagSignalList);

        const TKpsimStats sent0 = reader.Stats();
        const TCpu cpu0 = ProcessCpu();
        const TCpu own0 = own.Seconds();
        tags.Record(true);
        if (client)
            client->Start();
        const auto t0 = Steady::now();
        const auto end = t0 + std::chrono::seconds(MeasuredSeconds());
        while (Steady::now() < end)
            tick(true);
        tags.Record(false);
        const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
        const TCpu cpu1 = ProcessCpu();
        const TKpsimStats sent1 = reader.Stats();
        tags.Stop();
        if (client) {
            const auto seen = client->Stats();
            if (!seen) {
                state.SkipWithError("the OPC UA client gave no figures");
                break;
            }
            state.counters["ua_p50_ms"] = (*seen)[1];
            state.counters["ua_p99_ms"] = (*seen)[2];
            state.counters["ua_max_ms"] = (*seen)[3];
            state.counters["ua_values_per_s"] = (*seen)[0] / wall;
            state.counters["ua_interval_ms"] = uaInterval;
        }
        const TCpu observers = own.Seconds() - own0 + tags.OwnCpu();
        const double user = cpu1.user - cpu0.user - observers.user;
        const double sys = cpu1.sys - cpu0.sys - observers.sys;

        DelayCounters(state, "tag", tags.Delays());
        DelayCounters(state, "item", items->Delays());
        state.counters["values_per_s"] = static_cast<double>(tags.Delays().Count()) / wall;
        state.counters["sent_per_s"] = (sent1.values - sent0.values) / wall;
        state.counters["lost"] = sent1.dropped - sent0.dropped;
        const double asdus = sent1.asdus - sent0.asdus;
        state.counters["objects_per_asdu"] = asdus > 0 ? (sent1.values - sent0.values) / asdus : 0;
        state.counters["walk_ms"] = tags.WalkMs();
        state.counters["cpu_per_s"] = (user + sys) / wall;
        state.counters["user_per_s"] = user / wall;
        state.counters["sys_per_s"] = sys / wall;
        state.counters["rss_MiB"] = rss;
        state.counters["B_per_signal"] = rss * 1024 * 1024 / load.Signals();
        state.counters["hwm_MiB"] = StatusMiB("VmHWM");
        state.counters["rss_before_MiB"] = rssBefore;
        state.counters["no_row"] = noRow;
        // The client leaves while the server still answers.
        client.reset();
        ServiceStop(ctx);
    }
}

// stations, signals per station, changes per second per station, objects
// per ASDU at most (0: as many as fit), OPC UA library loaded. At 100
// changes per second a station packs about two per ASDU anyway; the 20
// stations of 3000 signals at 1000 a second send the same 20 000 changes a
// second packed by the dozen, or (objects 2) one frame for every one or two.
// Rate 0 shows what the channel threads, the tick and the library cost
// without traffic; ua 0 what the library costs; client 50 what a client
// watching every item at a 50 ms publishing interval adds.
BENCHMARK(BM_Load104)
    ->ArgNames({"stations", "signals", "rate", "objects", "ua", "client"})
    ->Args({20, 300, 100, 0, 1, 0})
    ->Args({200, 300, 100, 0, 1, 0})
    ->Args({200, 300, 100, 2, 1, 0})
    ->Args({20, 3000, 1000, 0, 1, 0})
    ->Args({20, 3000, 1000, 2, 1, 0})
    ->Args({200, 300, 100, 0, 0, 0})
    ->Args({200, 300, 0, 0, 1, 0})
    ->Args({200, 300, 100, 0, 1, 50})
    ->Args({200, 300, 0, 0, 1, 50})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace
