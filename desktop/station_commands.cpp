#include "desktop/station_commands.h"

#include "core/prmn.h"
#include "desktop/desktop_service.h"
#include "desktop/exception_log.h"
#include "desktop/prompts.h"
#include "desktop/station_edit.h"
#include "service/cnfini.h"
#include "desktop/texts.h"
#include "service/tables.h"

#include <functional>
#include <optional>
#include <random>

namespace gw::desktop {

namespace {

constexpr const char* PrmnBinFileName = "iec104sr.bin";

// The settings the dialog shows beside the station: the device's after a
// download, else the program's own.
void FillProgramSettings(TDesktopService& service, TStationEdit& edit)
{
    const TServiceSwitches& own = service.Context().Switches;
    const std::optional<TCnfIni>& device = service.DeviceCnf();
    edit.UseWebServer = device ? device->UseWebServer : own.UseWebServer;
    edit.Port_WebServ = device ? device->Port_WebServ : own.Port_WebServ;
    edit.Save_Obmen_v_File = device ? device->Save_Obmen_v_File : own.Save_Obmen_v_File.Get();
}

// The program's own settings: in memory, and the three keys of "cnf.ini" at
// every OK. The device's: its "cnf.ini" only, and only when the user changed
// one of them. A failing write is logged; the station is stored regardless.
void ApplyProgramSettings(TDesktopService& service, const TStationEdit& edit)
{
    if (std::optional<TCnfIni>& device = service.DeviceCnf()) {
        if (edit.UseWebServer == device->UseWebServer && edit.Port_WebServ == device->Port_WebServ
            && edit.Save_Obmen_v_File == device->Save_Obmen_v_File)
            return;
        device->UseWebServer = edit.UseWebServer;
        device->Port_WebServ = edit.Port_WebServ;
        device->Save_Obmen_v_File = edit.Save_Obmen_v_File;
    } else {
        TServiceContext& ctx = service.Context();
        ctx.Switches.UseWebServer = edit.UseWebServer;
        ctx.Switches.Port_WebServ = edit.Port_WebServ;
        ctx.Switches.Save_Obmen_v_File.Set(edit.Save_Obmen_v_File);
    }
    Guarded(service.Dir(),
            [&] { WriteCnfIniOptions(service.Dir(), edit.UseWebServer, edit.Port_WebServ, edit.Save_Obmen_v_File); });
}

// The station fields of the dialog into row k, its signals included.
void StoreStation(T_KP& row, const TStationEdit& edit)
{
    const T_KP& from = edit.row;
    row.NameKP = from.NameKP;
    row.IP = from.IP;
    row.Port = from.Port;
    row.IP2 = from.IP2;
    row.Port2 = from.Port2;
    row.Passive = from.Passive;
    row.send_start_DT_passiv = from.send_start_DT_passiv;
    row.ASDU_Adr = from.ASDU_Adr;
    row.PereschetTI = from.PereschetTI;
    row.OPROS_KP = from.OPROS_KP;
    row.Interval_opros_counters_101 = from.Interval_opros_counters_101;
    row.Interval_CLOCK_SYNC_103 = from.Interval_CLOCK_SYNC_103;
    row.Time_To_OPC = from.Time_To_OPC;
    row.Popravka_Time = from.Popravka_Time;
    row.Kol_TS = from.Kol_TS;
    row.Kol_TI = from.Kol_TI;
    row.TS_arr = from.TS_arr;
    row.TI_arr = from.TI_arr;
}

void EnableAllChannels(TServiceContext& ctx)
{
    for (int i = 0; i < ctx.Stations.KpCount; ++i)
        ctx.Channels.Prmn104[static_cast<std::size_t>(i)].prWork1 = 1;
}

// Applies a command's change to the tables and saves them. A save the writer
// refuses (a value "iec104.cfg" cannot hold) puts the tables back as they
// were: kept in memory, the value would make every later save of any station
// fail as well, and the next start would read the file without it anyway.
void ChangeAndSave(TDesktopService& service, const std::function<void(TServiceContext&)>& change)
{
    TServiceContext& ctx = service.Context();
    const TStationTables stations = ctx.Stations;
    const TPrmnArray records = ctx.Channels.Prmn104;
    try {
        change(ctx);
        SaveStations(service);
    } catch (...) {
        ctx.Stations = stations;
        ctx.Channels.Prmn104 = records;
        throw;
    }
}

} // namespace

bool AddStation(TDesktopService& service, TPrompts& prompts, TStationDialogPort& dialog)
{
    TServiceContext& ctx = service.Context();
    if (ctx.Stations.KpCount >= MaxKpCount) {
        prompts.Info(texts::AddLimitHead + std::to_string(MaxKpCount) + texts::AddLimitTail);
        return false;
    }
    TStationEdit edit;
    SetPrmnDefault(edit.prm, PrmnKind104, "127.0.0.1", 2404);
    FillProgramSettings(service, edit);
    if (!dialog.Edit(ctx, ctx.Stations.KpCount + 1, edit))
        return false;
    ApplyProgramSettings(service, edit);
    ChangeAndSave(service, [&edit](TServiceContext& tables) {
        const int k = ++tables.Stations.KpCount;
        tables.Stations.KpTable.resize(std::max(tables.Stations.KpTable.size(), static_cast<std::size_t>(k) + 1));
        T_KP& row = tables.Stations.KpTable[static_cast<std::size_t>(k)];
        row = T_KP{};
        StoreStation(row, edit);
        TPrmn& prm = tables.Channels.Prmn104[static_cast<std::size_t>(k - 1)];
        prm = edit.prm;
        prm.CommonAsduAddress = row.ASDU_Adr;
        prm.Port = row.Port;
        prm.Host.SetText(row.IP);
        EnableAllChannels(tables);
    });
    return true;
}

bool ChangeStation(TDesktopService& service, TStationDialogPort& dialog, int k)
{
    TServiceContext& ctx = service.Context();
    // A file that cannot be read whole must not leave half-read records behind.
    TPrmnArray reloaded = ctx.Channels.Prmn104;
    if (RdWrPrmnBin(0, service.FilePath(PrmnBinFileName), reloaded, ctx.Switches.PrmTFromCfg, ctx.Stations.KpCount))
        ctx.Channels.Prmn104 = std::move(reloaded);
    if (!ctx.Stations.IsKpIndex(k))
        return false;
    TStationEdit edit;
    edit.prm = ctx.Channels.Prmn104[static_cast<std::size_t>(k - 1)];
    FillProgramSettings(service, edit);
    if (!dialog.Edit(ctx, k, edit))
        return false;
    ApplyProgramSettings(service, edit);
    ChangeAndSave(service, [&edit, k](TServiceContext& tables) {
        T_KP& row = tables.Stations.KpTable[static_cast<std::size_t>(k)];
        StoreStation(row, edit);
        TPrmn& prm = tables.Channels.Prmn104[static_cast<std::size_t>(k - 1)];
        prm = edit.prm;
        prm.Name.SetText(row.NameKP);
        prm.Host.SetText(row.IP);
        prm.Port = row.Port;
        prm.CommonAsduAddress = row.ASDU_Adr;
        prm.LinkAddress1 = row.ASDU_Adr;
        EnableAllChannels(tables);
    });
    return true;
}

TRandom DefaultRandom()
{
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    return [engine](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(*engine); };
}

void SaveStations(TDesktopService& service)
{
    TServiceContext& ctx = service.Context();
    service.SaveConfig();
    RdWrPrmnBin(1, service.FilePath(PrmnBinFileName), ctx.Channels.Prmn104, ctx.Switches.PrmTFromCfg,
                ctx.Stations.KpCount);
}

bool DeleteStation(TDesktopService& service, TPrompts& prompts, int k)
{
    TServiceContext& ctx = service.Context();
    if (!ctx.Stations.IsKpIndex(k) || !prompts.ConfirmWarning(texts::ConfirmDelete))
        return false;
    ChangeAndSave(service, [k](TServiceContext& tables) {
        const int last = tables.Stations.KpCount;
        tables.Stations.KpTable[static_cast<std::size_t>(k)] = tables.Stations.KpTable[static_cast<std::size_t>(last)];
        tables.Channels.Prmn104[static_cast<std::size_t>(k - 1)] =
            tables.Channels.Prmn104[static_cast<std::size_t>(last - 1)];
        tables.Stations.KpTable.resize(static_cast<std::size_t>(last));
        --tables.Stations.KpCount;
    });
    return true;
}

bool CopyStation(TDesktopService& service, TPrompts& prompts, int n, const TRandom& random)
{
    TServiceContext& ctx = service.Context();
    if (ctx.Switches.PollingOn.Get() || !ctx.Stations.IsKpIndex(n))
        return false;
    if (ctx.Stations.KpCount >= MaxKpCount) {
        prompts.Info(texts::CopyLimitHead + std::to_string(MaxKpCount) + texts::CopyLimitTail);
        return false;
    }
    const T_KP& from = ctx.Stations.KpTable[static_cast<std::size_t>(n)];
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
    TPrmn prm = ctx.Channels.Prmn104[static_cast<std::size_t>(n - 1)];
    prm.Port = random(1, 64999);
    ChangeAndSave(service, [&copy, &prm](TServiceContext& tables) {
        const int c = ++tables.Stations.KpCount;
        tables.Stations.KpTable.resize(std::max(tables.Stations.KpTable.size(), static_cast<std::size_t>(c) + 1));
        tables.Stations.KpTable[static_cast<std::size_t>(c)] = std::move(copy);
        tables.Channels.Prmn104[static_cast<std::size_t>(c - 1)] = prm;
    });
    return true;
}

} // namespace gw::desktop
