#include "service/serviceinit.h"

#include "core/kpbuild.h"
#include "core/typeident.h"
#include "service/cfgtext.h"
#include "service/cnfini.h"
#include "service/publication.h"
#include "service/servicelog.h"
#include "core/userarm.h"

#include <chrono>
#include <exception>
#include <mutex>

namespace gw {

namespace {

// The service directory with its separator, "" for the working directory.
std::string ServiceDir(const TServiceContext& ctx) { return ctx.Process.FilePath(""); }

constexpr const char* MissingCnfIniLine =
    "Нет файла cnf.ini: веб-сервер и передача конфигурации выключены (нужны UseWebServer=1 и пароль pwd)";

// fieldgate: "cnf.ini" and the web server. A failure is logged and the start
// goes on without web server.
void StartWebServer(TServiceContext& ctx)
{
    if (!ctx.Parts.WebServer())
        return;
    try {
        TCnfIni settings;
        const std::string dir = ServiceDir(ctx);
        // A line it cannot use costs that line, not the web server: without
        // it the device could not be reached to mend the file.
        const TConfigComplaint complain =
            LogComplaints([&ctx](const std::string& line) { AppendServiceLine(ctx, line, "log_iec104.txt"); });
        const std::filesystem::path at = dir.empty() ? std::filesystem::path(".") : std::filesystem::path(dir);
        // A fresh install has none: say why the device cannot be reached.
        if (!std::filesystem::exists(at / CnfIniFileName))
            AppendServiceLine(ctx, MissingCnfIniLine, "log_iec104.txt");
        ReadCnfIni(at, settings, complain);
        ctx.Switches.UseWebServer = settings.UseWebServer;
        ctx.Switches.Port_WebServ = settings.Port_WebServ;
        ctx.Switches.Save_Obmen_v_File = settings.Save_Obmen_v_File;
        if (ctx.Switches.UseWebServer)
            ctx.Parts.WebServer()->Start(settings);
    } catch (const std::exception& e) {
        AppendServiceLine(ctx, std::string("Web Serv Error ") + e.what(), "log_iec104.txt");
    }
}

TActiveChannelParams ActiveParams(TServiceContext& ctx, int i)
{
    T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
    TPrmn& prm = ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)];
    prm.Host.SetText(kp.IP);
    TActiveChannelParams p;
    p.Number_of_Thread = ctx.Channels.ChannelCount;
    p.Host_Thread = kp.IP;
    p.Port_Thread = prm.Port != 0 ? prm.Port : kp.Port;
    p.Host_Thread2 = kp.IP2;
    p.Port_Thread2 = kp.Port2;
    p.T0 = prm.t0 != 0 ? prm.t0 : SilenceFallbackMs;
    return p;
}

// Opens station i's passive listening channel; null, with the line of
// "error_iec104.txt", when it cannot listen.
std::unique_ptr<TChannel> OpenPassiveChannel(TServiceContext& ctx, int i)
{
    T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
    const int port = ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)].Port;
    kp.Port = port;
    if (kp.IP.empty())
        kp.IP = "IP" + std::to_string(i);
    // The link's address is the one its values are stored under, so the
    // values of a lost connection are found to be invalidated.
    ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)].Host.SetText(kp.IP);
    ctx.Channels.PassiveServers[static_cast<std::size_t>(i)].Opened = false;
    std::unique_ptr<TChannel> channel =
        ctx.Parts.ChannelFactory() ? ctx.Parts.ChannelFactory()->OpenPassive(ctx, i, port) : nullptr;
    if (!channel) {
        AppendServiceLine(ctx, "Ошибка открытия сокета " + std::to_string(port), "error_iec104.txt");
        return nullptr;
    }
    ctx.Channels.PassiveServers[static_cast<std::size_t>(i)].Opened = true;
    kp.Str_to_write_section = std::make_shared<std::mutex>();
    return channel;
}

// A start that cannot be carried out leaves the service stopped with its
// reason in "error_iec104.txt" (the configuration reader writes its own
// line), and fieldgate's web server running, so that a good configuration
// can still be uploaded. Called while the exception is being handled.
bool StartFailed(TServiceContext& ctx)
{
    const std::string why = "ServiceStart: запуск отменён: ";
    try {
        throw;
    } catch (const TConfigError&) {
        // The reader has written its line.
    } catch (const std::exception& e) {
        AppendServiceLine(ctx, why + e.what(), "error_iec104.txt");
    } catch (...) {
        AppendServiceLine(ctx, why + "unknown exception", "error_iec104.txt");
    }
    StartWebServer(ctx);
    return false;
}

// Asks every channel to end, then waits for all of them within one bound.
// True when every thread has ended.
bool StopChannels(TServiceRun& run)
{
    for (auto& channel : run.Channels)
        if (channel)
            channel->RequestStop();
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(ChannelJoinMs);
    bool all = true;
    for (auto& channel : run.Channels) {
        if (!channel)
            continue;
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        all = channel->Join(std::max<std::int64_t>(left, 0)) && all;
    }
    return all;
}

// Commands accepted but not yet sent end with the channels: each gets its
// line, as the command entry promised. No entry can queue more once the run is gone.
void DropQueuedCommands(TServiceContext& ctx)
{
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        ctx.Channels.WithLink(i, [](TClient104Frm& link) { link.pcl()->TuQueue.DropAll("служба остановлена,"); });
}

} // namespace

void AppendServiceLine(TServiceContext& ctx, const std::string& line, const std::string& fileName)
{
    if (ctx.Process.ServiceLog)
        ctx.Process.ServiceLog->AppendLogLine(line, fileName);
}

void AppendObmenLine(TServiceContext& ctx, const std::string& line, const std::string& fileName)
{
    if (ctx.Switches.Save_Obmen_v_File)
        AppendServiceLine(ctx, line, fileName);
}

TServiceRun::TServiceRun() : TagSignalList(&ArmSignals, &SstList, nullptr) {}

TServiceRun::~TServiceRun() = default;

void ServiceInit(TServiceContext& ctx)
{
    ctx.Stations.KpCount = 0;
    ctx.Process.TypeIdentList = std::make_unique<TTypeIdentList>();
    ctx.Process.Clients104 = std::make_unique<TClients104>(TClients104::DefaultSize);
    ctx.Process.CurrentUser = std::make_unique<TUserArm1>(*ctx.Process.Clock);
    ctx.Process.ServiceLog = std::make_unique<TServiceLog>(ServiceDir(ctx));
    ctx.Channels.Prmn104 = MakePrmn104();
    try {
        ctx.Parts.ReadConfig(ctx);
    } catch (const std::exception&) {
        // The program starts with what was read; the reader has logged why.
    }
    AppendObmenLine(ctx, "Create " + ctx.Process.ExePath + "  " + "iec104.cfg", "log_104.txt");
}

bool ServiceStart(TServiceContext& ctx)
{
    if (!ctx.Process.Clients104)
        ServiceInit(ctx);
    if (ctx.Running.Run)
        ServiceStop(ctx);
    if (ctx.Running.StaleRun) {
        if (!StopChannels(*ctx.Running.StaleRun)) {
            AppendServiceLine(ctx, "ServiceStart: каналы прошлого запуска не завершились, запуск отменён",
                              "error_iec104.txt");
            return false;
        }
        ctx.Running.StaleRun.reset();
    }
    try {
        ctx.Parts.ReadConfig(ctx);
    } catch (...) {
        return StartFailed(ctx);
    }
    auto run = std::make_unique<TServiceRun>();
    try {
        OpenChannels(ctx, *run);
        FillKpPorts(ctx);
        LoadSignalLists(ctx, *run);
        CountSignals(ctx, *run);
    } catch (...) {
        // No thread runs yet: the half-built start goes whole, link objects included.
        ctx.Process.Clients104->DelClient();
        return StartFailed(ctx);
    }
    for (int i = 1; i <= ctx.Stations.KpCount && i < static_cast<int>(PrmnCount); ++i)
        ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)].prWork1 = 1;
    NumberOpcItems(ctx);
    {
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        for (int id = 1; id <= MaxOpcItem; ++id)
            ctx.Items.OpcItems[static_cast<std::size_t>(id)].FirstOpros = true;
    }
    {
        std::unique_lock<std::shared_mutex> guard(ctx.Running.RunLock);
        ctx.Running.Run = std::move(run);
    }
    if (!ctx.Switches.ConfiguratorMode) {
        ctx.Switches.OpcUaRunning = ctx.Parts.OpcUa() != nullptr && ctx.Parts.OpcUa()->Start(ctx);
        if (ctx.Switches.OpcUaRunning)
            AppendObmenLine(ctx, "start OPC_UA", "log_104.txt");
    }
    ctx.Switches.PollingOn = true;
    // The threads come last, when everything they store into is built.
    for (std::size_t c = 0; c < ctx.Running.Run->Channels.size(); ++c)
        if (ctx.Running.Run->Channels[c])
            ctx.Running.Run->Channels[c]->Start();
    StartWebServer(ctx);
    return true;
}

void OpenChannels(TServiceContext& ctx, TServiceRun& run)
{
    TClients104& clients = *ctx.Process.Clients104;
    if (!RdWrPrmnBin(0, ctx.Process.FilePath("iec104sr.bin"), ctx.Channels.Prmn104, ctx.Switches.PrmTFromCfg,
                     ctx.Stations.KpCount))
        for (TPrmn& prm : ctx.Channels.Prmn104)
            SetPrmnDefault(prm, PrmnKind104, "127.0.0.1", 2404);
    for (int r = ctx.Stations.KpCount; r < MaxChannelSlots; ++r)
        ctx.Channels.Prmn104[static_cast<std::size_t>(r)].prWork1 = 0;

    run.SocketTrace = std::make_unique<TSocketTrace>(*ctx.Process.ServiceLog);
    run.TuLog = std::make_unique<TTuEndLog>(*ctx.Process.ServiceLog);
    TClientContext cctx;
    cctx.link.clock = ctx.Process.Clock;
    cctx.link.log = ctx.Switches.LinkLogQueue ? &ctx.Process.MessBuff : nullptr;
    cctx.link.trace = run.SocketTrace.get();
    cctx.link.nameSentFrames = ctx.Switches.NameSentFrames;
    cctx.types = ctx.Process.TypeIdentList.get();
    cctx.tags = &run.TagSignalList;
    cctx.tuLog = run.TuLog.get();

    ctx.Channels.ChannelCount = 0;
    for (int i = 1; i <= ctx.Stations.KpCount && clients.Count() < TClients104::DefaultSize; ++i) {
        T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        ctx.Channels.ChannelCount += 1;
        std::unique_ptr<TChannel> channel;
        TLinkSocket psock;
        if (!kp.Passive) {
            const TActiveChannelParams params = ActiveParams(ctx, i);
            if (ctx.Parts.ChannelFactory())
                channel = ctx.Parts.ChannelFactory()->OpenActive(ctx, i, params);
        } else {
            channel = OpenPassiveChannel(ctx, i);
            psock.Passive_ = true;
            psock.send_start_DT_passiv_ = kp.send_start_DT_passiv;
            psock.Nomer_KP = i;
        }
        psock.port = channel ? &channel->Port() : nullptr;
        clients.AddClient(psock, ctx.Channels.Prmn104, cctx);
        run.Channels.push_back(std::move(channel));
    }

    for (int i = 1; i <= ctx.Stations.KpCount && i < static_cast<int>(PrmnCount); ++i) {
        const auto pcl = clients.GetPcl(i - 1);
        if (!pcl)
            break;
        // No channel thread runs yet, and the link is not in its slot: nothing else reaches it.
        pcl->prm = ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)];
        pcl->prm.prWork1 = 1;
        ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)].prWork1 = 1;
        pcl->setWork(true);
        pcl->ClSFlag.Op(TFlagOperation::FSet, TBitClient::bclb_AutoConnect);
    }

    const TChannelModel model{&run.KpList, &run.TagSignalList, &run.ArmSignals, &run.StationTags};
    for (int c = 0; c < clients.Count(); ++c) {
        run.Client104Frms.push_back(std::make_shared<TClient104Frm>(clients.GetPcl(c), true, model));
        ctx.Channels.SetLink(c + 1, run.Client104Frms.back());
    }
}

void FillKpPorts(TServiceContext& ctx)
{
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        if (kp.Port <= 0)
            kp.Port = ctx.Channels.Prmn104[static_cast<std::size_t>(i - 1)].Port;
    }
}

void LoadSignalLists(TServiceContext& ctx, TServiceRun& run)
{
    ctx.Process.ArmDir = ServiceDir(ctx);
    CreateKpList(run.KpList, ctx.Stations.KpTable, ctx.Stations.KpCount);
    ReadElemCodeFile(ctx.Stations.KpTable, ctx.Stations.KpCount, run.KpList, run.SstList, run.ArmSignals);
    FillTagList(run.ArmSignals, run.TagSignalList);

    run.StationTags.assign(static_cast<std::size_t>(ctx.Stations.KpCount) + 1, {0, 0});
    run.PublishedLink.assign(static_cast<std::size_t>(ctx.Stations.KpCount) + 1, {});
    int prev = 0;
    for (int t = 0; t < run.TagSignalList.Count(); ++t) {
        const TArmRec* rec = run.ArmSignals.GetRec(run.TagSignalList.GetTag(t)->IndArm());
        const int i = rec ? StationIndex(rec->sstID()) : 0;
        if (!ctx.Stations.IsKpIndex(i))
            continue;
        auto& range = run.StationTags[static_cast<std::size_t>(i)];
        if (i != prev)
            range.first = t;
        range.second = t + 1;
        prev = i;
    }
}

void CountSignals(TServiceContext& ctx, const TServiceRun& run)
{
    ctx.Stations.SignalCountTS = ctx.Stations.SignalCountTI = ctx.Stations.SignalCountTU = 0;
    for (int r = 0; r < run.ArmSignals.Count(); ++r) {
        const TArmRec& rec = *run.ArmSignals.GetRec(r);
        if (rec.st() == SignalType::stTS) {
            ctx.Stations.SignalCountTS += 1;
            if (rec.prTU())
                ctx.Stations.SignalCountTU += 1;
        } else if (rec.st() == SignalType::stTIT) {
            ctx.Stations.SignalCountTI += 1;
        }
    }
    AppendObmenLine(ctx, "nTS = " + std::to_string(ctx.Stations.SignalCountTS), "log_104.txt");
}

void NumberOpcItems(TServiceContext& ctx)
{
    int unnumbered = 0; // signals numbered from MaxOpcItem on: no OPC DA leaf, no OPC UA variable
    int firstStation = 0;
    {
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        // A write to a row without a signal of this numbering (a branch, a
        // "Connected" item, a row only an earlier configuration had) must not
        // command whatever tag the row held before.
        for (TIndent& r : ctx.Items.OpcItems)
            r.Nomer_Tag = NoOpcTag;
        int id = 0;
        int tag = 0;
        auto row = [&](int item, int station) {
            if (ctx.Items.IsOpcItem(item)) {
                ctx.Items.OpcItems[static_cast<std::size_t>(item)].Nomer_Tag = tag;
            }
            if (item >= MaxOpcItem && unnumbered++ == 0)
                firstStation = station;
            tag += 1;
        };
        for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
            T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
            kp.Nom_OPC_1st = ++id;
            kp.Nom_OPC_Alarm = ++id;
            kp.Nom_OPC_TS = id + 1;
            for (int n = 1; n <= kp.Kol_TS; ++n)
                row(++id, i);
            kp.Nom_OPC_TI = id + 1;
            for (int n = 1; n <= kp.Kol_TI; ++n)
                row(++id, i);
        }
    }
    // Each station takes two numbers besides its signals: a large
    // configuration runs out of them, and its last signals are on neither
    // OPC server.
    if (unnumbered > 0)
        AppendServiceLine(ctx,
                          "Сигналов без элемента OPC: " + std::to_string(unnumbered) + " (номера элементов до "
                              + std::to_string(MaxOpcItem - 1) + "), первый из них у КП " + std::to_string(firstStation)
                              + " \"" + ctx.Stations.KpTable[static_cast<std::size_t>(firstStation)].NameKP + "\"",
                          "log_iec104.txt");
}

void ServiceStop(TServiceContext& ctx)
{
    ctx.Switches.PollingOn = false;
    if (ctx.Parts.WebServer())
        ctx.Parts.WebServer()->Stop();
    if (!ctx.Switches.ConfiguratorMode && ctx.Parts.OpcUa())
        ctx.Parts.OpcUa()->Stop();
    ctx.Switches.OpcUaRunning = false;
    if (!ctx.Running.Run)
        return;

    const bool ended = StopChannels(*ctx.Running.Run);
    ctx.Channels.ChannelCount = 0;
    InvalidateOpcItems(ctx);
    std::unique_ptr<TServiceRun> run;
    {
        std::unique_lock<std::shared_mutex> guard(ctx.Running.RunLock);
        run = std::move(ctx.Running.Run);
    }
    DropQueuedCommands(ctx);
    ctx.Process.Clients104->DelClient();
    // Every slot the start filled is emptied, also when a thread hangs: the
    // readers of a slot (web pages, grids, the published connection state)
    // must not show a stopped station's last state as live.
    for (std::size_t c = 0; c < run->Client104Frms.size(); ++c)
        ctx.Channels.SetLink(static_cast<int>(c) + 1, nullptr);
    if (!ended) {
        // A thread that has not ended may still read the start's objects and
        // its link objects: keep them, and let the next start wait for it.
        AppendServiceLine(ctx, "ServiceStop: канал не завершился вовремя", "error_iec104.txt");
        ctx.Running.StaleRun = std::move(run);
        return;
    }
    for (int i = 1; i <= ctx.Stations.KpCount; ++i) {
        T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        kp.Str_to_write_section.reset();
        ctx.Channels.PassiveServers[static_cast<std::size_t>(i)].Opened = false;
    }
    run.reset();
}

} // namespace gw
