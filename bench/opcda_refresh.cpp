// One OPC DA group of 60 000 active items over a filled OPC item table, every
// value changed between ticks: the time of one periodic refresh (reading the
// nodes, building and delivering OnDataChange) and the memory of an item.
// Goal: under 10 ms per refresh on one core, under 256 bytes per item.

#include "compat/com/taskmem.h"
#include "opcda/data_access.h"
#include "opcda/group_ticker.h"
#include "opcda/station_callbacks.h"
#include "service/serviceinit.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

namespace {

using namespace opcda;
using namespace com;

constexpr int Stations = 60;
constexpr int ValuesPerStation = 997; // 60 x (branch, Connected, 997 values) stays below item 60000
constexpr DWORD Items = 60000;

class BenchClock final : public gw::TClock {
public:
    std::int64_t MonotonicMs() const override { return mono; }
    gw::TDateTime Now() const override { return 45000.5 + static_cast<double>(mono) / gw::MsPerDay; }
    std::int64_t mono = 0;
};

class CountingCallback final : public ComObject<IOPCDataCallback> {
public:
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD n, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                         HRESULT*) override
    {
        reported += n;
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                           HRESULT*) override
    {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
    std::uint64_t reported = 0;
};

void fillStations(gw::TServiceContext& ctx)
{
    for (int s = 1; s <= Stations; ++s) {
        gw::T_KP kp;
        kp.NameKP = "KP" + std::to_string(s);
        for (int v = 1; v <= ValuesPerStation; ++v) {
            gw::T_TI ti;
            ti.NameTI = "TI" + std::to_string(v);
            kp.TI_arr.push_back(ti);
        }
        kp.Kol_TI = ValuesPerStation;
        ctx.Stations.KpTable.push_back(kp);
    }
    ctx.Stations.KpCount = Stations;
    gw::NumberOpcItems(ctx);
    ctx.Running.Run = std::make_unique<gw::TServiceRun>();
}

// What the publication does between two ticks: every row a new value and stamp.
void changeEveryValue(gw::TServiceContext& ctx, gw::TDateTime stamp, double base)
{
    std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
    for (int id = 1; id < gw::MaxOpcItem; ++id) {
        ctx.Items.OpcItemValues[static_cast<std::size_t>(id)] = base + id;
        ctx.Items.OpcItems[static_cast<std::size_t>(id)].Quality = 0xC0;
        ctx.Items.OpcItems[static_cast<std::size_t>(id)].Stamp_DateTime = stamp;
    }
}

void BM_PeriodicRefresh60000(benchmark::State& state)
{
    BenchClock clock;
    gw::TServiceContext ctx;
    fillStations(ctx);
    auto core = std::make_shared<sOPC>(clock);
    StationModel model(ctx, [](int, gw::TTUCommand) { return true; });
    model.bind(*core);
    core->setStartDelay(std::chrono::milliseconds(0));
    core->setManualTicks(true);
    core->Start();
    {
        auto server = makeCom<sOPCDataAccess>(core);
        ComPtr<IOPCItemMgt> group;
        OPCHANDLE h = 0;
        DWORD revised = 0;
        server->AddGroup(u"G", TRUE, 100, 1, nullptr, nullptr, 0, &h, &revised, IOPCItemMgt::iid,
                         reinterpret_cast<IUnknown**>(group.put()));
        std::vector<std::u16string> ids;
        std::vector<OPCITEMDEF> defs;
        ids.reserve(Items);
        for (int i = 0; i < core->nodeCount() && ids.size() < Items; ++i)
            if (core->node(i).NodeType == ntLeaf)
                ids.push_back(core->node(i).stItemID);
        for (std::size_t i = 0; ids.size() < Items; ++i)
            ids.push_back(ids[i]); // the same item ID may be added more than once
        for (std::size_t i = 0; i < ids.size(); ++i)
            defs.push_back({nullptr, ids[i].data(), TRUE, static_cast<OPCHANDLE>(i), 0, nullptr, VT_EMPTY, 0});
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        const std::size_t before = mallinfo2().uordblks;
        group->AddItems(Items, defs.data(), &results, &errors);
        const std::size_t itemBytes = mallinfo2().uordblks - before;
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        const std::size_t resultBytes = Items * (sizeof(OPCITEMRESULT) + sizeof(HRESULT));

        auto sink = makeCom<CountingCallback>();
        ComPtr<IConnectionPoint> cp;
        group.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::iid, cp.put());
        DWORD cookie = 0;
        cp->Advise(sink->identity(), &cookie);

        double base = 0;
        for (auto _ : state) {
            state.PauseTiming();
            clock.mono += 150;
            changeEveryValue(ctx, clock.Now() - 0.001, base += 1);
            state.ResumeTiming();
            core->ticker().runOnce();
        }
        state.counters["items_reported_per_refresh"] =
            static_cast<double>(sink->reported) / static_cast<double>(state.iterations());
        state.counters["bytes_per_item"] = static_cast<double>(itemBytes - resultBytes) / Items;
        cp->Unadvise(cookie);
    }
    ctx.Running.Run.reset();
}
BENCHMARK(BM_PeriodicRefresh60000)->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace
