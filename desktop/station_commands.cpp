#include "desktop/station_commands.h"

#include "core/prmn.h"
#include "desktop/desktop_service.h"
#include "desktop/prompts.h"
#include "desktop/texts.h"
#include "service/tables.h"

#include <random>

namespace gw::desktop {

namespace {

constexpr const char* PrmnBinFileName = "iec104sr.bin";

} // namespace

TRandom DefaultRandom()
{
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    return [engine](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(*engine); };
}

void SaveStations(TDesktopService& service)
{
    TServiceContext& ctx = service.Context();
    service.SaveConfig();
    RdWrPrmnBin(1, service.FilePath(PrmnBinFileName), ctx.Prmn104, ctx.PrmTFromCfg, ctx.KpCount);
}

bool DeleteStation(TDesktopService& service, TPrompts& prompts, int k)
{
    TServiceContext& ctx = service.Context();
    if (!ctx.IsKpIndex(k) || !prompts.ConfirmWarning(texts::ConfirmDelete))
        return false;
    const int last = ctx.KpCount;
    ctx.KpTable[static_cast<std::size_t>(k)] = ctx.KpTable[static_cast<std::size_t>(last)];
    ctx.Prmn104[static_cast<std::size_t>(k - 1)] = ctx.Prmn104[static_cast<std::size_t>(last - 1)];
    ctx.KpTable.resize(static_cast<std::size_t>(last));
    --ctx.KpCount;
    SaveStations(service);
    return true;
}

bool CopyStation(TDesktopService& service, TPrompts& prompts, int n, const TRandom& random)
{
    TServiceContext& ctx = service.Context();
    if (ctx.PollingOn.Get() || !ctx.IsKpIndex(n))
        return false;
    if (ctx.KpCount >= MaxKpCount) {
        prompts.Info(texts::CopyLimitHead + std::to_string(MaxKpCount) + texts::CopyLimitTail);
        return false;
    }
    const T_KP& from = ctx.KpTable[static_cast<std::size_t>(n)];
    T_KP copy;
    copy.NameKP = from.NameKP + texts::CopySuffix + std::to_string(random(0, 198));
    copy.IP.clear();
    // Port 0 would mean "the record's port" to the start, and a passive
    // station would listen on any free port: draw from 1 up.
    copy.Port = random(1, 64999);
    copy.Kol_TS = from.Kol_TS;
    copy.Kol_TI = from.Kol_TI;
    copy.TS_arr = from.TS_arr;
    copy.TI_arr = from.TI_arr;
    copy.ASDU_Adr = from.ASDU_Adr;
    copy.PereschetTI = from.PereschetTI;
    copy.Time_To_OPC = from.Time_To_OPC;
    copy.Popravka_Time = from.Popravka_Time;
    copy.OPROS_KP = from.OPROS_KP;
    copy.IP2 = from.IP2;
    copy.Port2 = from.Port2;
    copy.Interval_opros_counters_101 = from.Interval_opros_counters_101;
    copy.Interval_CLOCK_SYNC_103 = from.Interval_CLOCK_SYNC_103;
    copy.Passive = from.Passive;
    copy.send_start_DT_passiv = from.send_start_DT_passiv;
    const int c = ++ctx.KpCount;
    ctx.KpTable.resize(std::max(ctx.KpTable.size(), static_cast<std::size_t>(c) + 1));
    ctx.KpTable[static_cast<std::size_t>(c)] = std::move(copy);
    TPrmn prm = ctx.Prmn104[static_cast<std::size_t>(n - 1)];
    prm.Port = random(1, 64999);
    ctx.Prmn104[static_cast<std::size_t>(c - 1)] = prm;
    SaveStations(service);
    return true;
}

} // namespace gw::desktop
