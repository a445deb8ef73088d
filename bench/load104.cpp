// The 104 side under load: many active stations served by kpsim over
// loopback, each sending time-tagged spontaneous changes, into the OPC item
// table of an in-process service.
//
// Set-up. kpsim runs as a child process with one listening station per line
// of a --config file (half single points M_SP_TB_1, half short floats
// M_ME_TF_1, --time, --rate changes per second each). The gateway is this
// process: ServiceInit / ServiceStart with the socket channel factory, one
// active station per kpsim station on 127.0.0.1 and kpsim's port, each with
// the same points, stamps from the station (TIM 1), no periodic requests;
// the 50 ms tick is this benchmark's loop on the real clock, so publication
// runs every third tick (150 ms) as in the service.
//
// Delay. kpsim stamps each change with its CP56Time2a of the local wall time
// when it packs the change into the frame it sends next (a frame that waits
// for the send window keeps the older stamp, so a gateway slow to
// acknowledge shows as delay). Right after each tick that published, the
// loop takes the wall time and walks the item table under its lock: every
// row whose Stamp_DateTime changed since the last walk holds a new value,
// and now minus its stamp is that value's delay from frame sent to value in
// the table. The value entered the table during that tick, so the figure is
// at most the publication pass longer than the truth; CP56 milliseconds add
// up to 1 ms. Both sides read the same wall clock of this machine.
//
// CPU and memory. getrusage(RUSAGE_SELF) of this process (kpsim is a child
// and not counted) over the measured window, less the thread CPU time the
// loop spends walking the table and reading kpsim's output; per second of
// wall time, so 1.0 is one core, and split into user and system time. VmRSS
// at the end and VmHWM from /proc/self/status; rss_before is the process
// before the service start.
//
// Run: build/default/bench/bench_load104 [--benchmark_filter=200]
// LOAD104_SECONDS sets the measured window (default 20 s, after the warm-up
// in which every station connects and its interrogation settles). Counters:
// p50_ms, p99_ms, max_ms, values_per_s (delays measured per second),
// cpu_per_s, user_per_s, sys_per_s, rss_MiB, hwm_MiB, rss_before_MiB, no_row
// (signals beyond the item table).

#include "cross_build_note.h"
#include "core/datetime.h"
#include "service/channelfactory.h"
#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace gw;
using Steady = std::chrono::steady_clock;

constexpr int FirstFloatIoa = 1001;
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

double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
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
    int points; // single points, then as many short floats
    int rate;   // changes per second of each station
};

// kpsim's --config: one listening station per line, free ports.
std::string KpsimConfig(const TLoad& load)
{
    std::string text;
    for (int i = 1; i <= load.stations; ++i)
        text += "--listen 127.0.0.1:0 --ca " + std::to_string(i) + " --sp 1:" + std::to_string(load.points) +
                " --me-float " + std::to_string(FirstFloatIoa) + ":" + std::to_string(load.points) +
                " --rate " + std::to_string(load.rate) + " --time\n";
    return text;
}

// The station table as "iec104.cfg" gives it for kpsim's stations.
void Configure(TServiceContext& ctx, const TLoad& load, const std::vector<int>& ports)
{
    ctx.ResetStations();
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
            ti.AdrIOA = FirstFloatIoa + n;
            ti.Max_TM_Diap = ti.Max_Eng_Diap = 1000;
            kp.TI_arr.push_back(ti);
        }
        kp.Kol_TS = kp.Kol_TI = load.points;
        ctx.KpTable.push_back(kp);
        ctx.KpCount += 1;
        TPrmn& prm = ctx.Prmn104[static_cast<std::size_t>(i - 1)];
        SetPrmnDefault(prm, PrmnKind104, "127.0.0.1", ports[static_cast<std::size_t>(i - 1)]);
        prm.CommonAsduAddress = i;
    }
    ctx.PrmTFromCfg = true;
}

// The item rows of the signals, and the signals beyond the table.
std::vector<int> SignalItems(const TServiceContext& ctx, int& noRow)
{
    std::vector<int> ids;
    noRow = 0;
    for (int i = 1; i <= ctx.KpCount; ++i) {
        const T_KP& kp = ctx.KpTable[static_cast<std::size_t>(i)];
        for (int n = 0; n < kp.Kol_TS + kp.Kol_TI; ++n) {
            const int id = (n < kp.Kol_TS ? kp.Nom_OPC_TS + n : kp.Nom_OPC_TI + n - kp.Kol_TS);
            if (ctx.IsOpcItem(id))
                ids.push_back(id);
            else
                noRow += 1;
        }
    }
    return ids;
}

bool AllConnected(const TServiceContext& ctx)
{
    for (int i = 1; i <= ctx.KpCount; ++i)
        if (!ctx.KpTable[static_cast<std::size_t>(i)].Connected)
            return false;
    return true;
}

// The benchmark's own work in the loop: walking the item table for changed
// stamps, and reading kpsim's output so its pipe never fills.
class TObserver {
public:
    TObserver(TServiceContext& ctx, test::KpsimProcess& kpsim, std::vector<int> ids)
        : ctx_(ctx), kpsim_(kpsim), ids_(std::move(ids)), stamps_(ids_.size(), 0)
    {
    }

    void Walk(bool record)
    {
        const double cpu = ThreadCpu();
        const TDateTime now = WallNow();
        {
            std::lock_guard<std::mutex> guard(ctx_.OpcItemsLock);
            for (std::size_t k = 0; k < ids_.size(); ++k) {
                const TDateTime stamp = ctx_.OpcItems[static_cast<std::size_t>(ids_[k])].Stamp_DateTime;
                if (stamp == stamps_[k])
                    continue;
                stamps_[k] = stamp;
                if (record)
                    delays_.Add((now - stamp) * MsPerDay);
            }
        }
        ownCpu_ += ThreadCpu() - cpu;
    }
    void DrainKpsim()
    {
        const double cpu = ThreadCpu();
        kpsim_.WaitFor("\x01", std::chrono::milliseconds(1));
        ownCpu_ += ThreadCpu() - cpu;
    }

    const TDelays& Delays() const { return delays_; }
    double OwnCpu() const { return ownCpu_; }

private:
    TServiceContext& ctx_;
    test::KpsimProcess& kpsim_;
    std::vector<int> ids_;
    std::vector<TDateTime> stamps_;
    TDelays delays_;
    double ownCpu_ = 0;
};

void BM_Load104(benchmark::State& state)
{
    const TLoad load{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)) / 2,
                     static_cast<int>(state.range(2))};
    const double rssBefore = StatusMiB("VmRSS");
    test::TempDir temp;
    temp.Write("kpsim.conf", KpsimConfig(load));
    test::KpsimProcess kpsim({"--config", temp.File("kpsim.conf")});
    std::vector<int> ports;
    for (int i = 1; i <= load.stations; ++i)
        ports.push_back(kpsim.ListenPort(i));

    TSocketChannelFactory factory;
    TServiceContext ctx;
    ctx.ExePath = temp.File("fieldgate");
    ctx.ChannelFactory = &factory;
    ctx.ReadConfig = [&](TServiceContext& c) { Configure(c, load, ports); };
    ServiceInit(ctx);

    for (auto _ : state) {
        if (!ServiceStart(ctx)) {
            state.SkipWithError("service start failed");
            break;
        }
        int noRow = 0;
        TObserver observer(ctx, kpsim, SignalItems(ctx, noRow));
        auto next = Steady::now();
        const auto started = next;
        auto tick = [&](bool record) {
            ServiceTick(ctx);
            if (ctx.TickCounter % 3 == 0)
                observer.Walk(record);
            observer.DrainKpsim();
            next += TickPeriod;
            std::this_thread::sleep_until(next);
        };
        while (!AllConnected(ctx) && Steady::now() - started < ConnectLimit)
            tick(false);
        if (!AllConnected(ctx)) {
            state.SkipWithError("not every station connected");
            break;
        }
        for (const auto warm = Steady::now() + WarmUp; Steady::now() < warm;)
            tick(false);

        const TCpu cpu0 = ProcessCpu();
        const double own0 = observer.OwnCpu();
        const auto t0 = Steady::now();
        const auto end = t0 + std::chrono::seconds(MeasuredSeconds());
        while (Steady::now() < end)
            tick(true);
        const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
        const TCpu cpu1 = ProcessCpu();
        // The loop's own walks are user time almost all.
        const double user = cpu1.user - cpu0.user - (observer.OwnCpu() - own0);
        const double sys = cpu1.sys - cpu0.sys;

        const TDelays& delays = observer.Delays();
        state.counters["p50_ms"] = delays.Percentile(0.50);
        state.counters["p99_ms"] = delays.Percentile(0.99);
        state.counters["max_ms"] = delays.Max();
        state.counters["values_per_s"] = static_cast<double>(delays.Count()) / wall;
        state.counters["cpu_per_s"] = (user + sys) / wall;
        state.counters["user_per_s"] = user / wall;
        state.counters["sys_per_s"] = sys / wall;
        state.counters["rss_MiB"] = StatusMiB("VmRSS");
        state.counters["hwm_MiB"] = StatusMiB("VmHWM");
        state.counters["rss_before_MiB"] = rssBefore;
        state.counters["no_row"] = noRow;
        ServiceStop(ctx);
    }
}

// stations, signals per station, changes per second per station; rate 0
// shows what the channel threads cost without traffic.
BENCHMARK(BM_Load104)
    ->ArgNames({"stations", "signals", "rate"})
    ->Args({20, 300, 100})
    ->Args({200, 300, 100})
    ->Args({200, 300, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace
