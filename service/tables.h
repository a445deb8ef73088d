#pragma once
// The state of the gateway service, in one TServiceContext that the service
// init creates and hands down (nothing here is a global), grouped by what it
// is: the station table, the OPC item table, the channel slots, the
// switches, the process-wide objects, the plugged-in parts and the run state.
//
// Stations and signals are 1-based: KpTable[1..KpCount], TS_arr[1..Kol_TS],
// TI_arr[1..Kol_TI], row 0 of each left empty. The per-channel tables are
// indexed by station index too: the channel start-up opens one channel per
// station, in order.

#include "core/capacities.h"
#include "core/clock.h"
#include "core/datetime.h"
#include "core/messbuff.h"
#include "core/prmn.h"
#include "core/shared_value.h"
#include "core/stationrows.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gw {

constexpr int MaxOpcItem = MaxSignalRecords; // highest OPC item identifier
constexpr int NoOpcTag = -1;                 // Nomer_Tag of a row that has no signal
constexpr int MessBuffSize = 1000;

// One row of the OPC item table. The table has its 60 000 rows whatever
// the configuration, so the row keeps only what the service uses (the
// names, PC number, thread number and mask of the original record were
// never read or written), widest first: 24 bytes instead of 112.
struct TIndent {
    TDateTime Stamp_DateTime = 0;
    std::int32_t Quality = 0;   // OPC DA quality, 0xC0 good
    std::int32_t Nomer_Tag = 0; // NoOpcTag once numbered without a signal
    bool FirstOpros = false;
};

class TTypeIdentList;
class TClients104;
class TUserArm1;
class TServiceLog;
struct TServiceRun;
class TChannelFactory;
class TOpcUaBridge;
class TServiceWebServer;
class TServiceContext;
class TClient104Frm;

// The station table and the signal counts the configuration gave.
struct TStationTables {
    std::vector<T_KP> KpTable = std::vector<T_KP>(1); // row 0 empty
    std::int32_t KpCount = 0;
    std::int32_t SignalCountTS = 0, SignalCountTI = 0, SignalCountTU = 0;
    // The lines of "iec104.cfg" that belong to no station it kept: stations
    // the reader refused, with all their lines, and what comes before the
    // first station or after the last one it reads.
    std::vector<TKeptCfgLine> KeptCfgLines;

    // Empties the table before "iec104.cfg" is read again.
    void Reset();
    bool IsKpIndex(int i) const { return i >= 1 && i <= KpCount; }
    // Row i of a station index that came from outside (a frame, a file, a
    // form); null unless 1..KpCount.
    T_KP* Kp(int i) { return IsKpIndex(i) ? &KpTable[static_cast<std::size_t>(i)] : nullptr; }
    const T_KP* Kp(int i) const { return IsKpIndex(i) ? &KpTable[static_cast<std::size_t>(i)] : nullptr; }
};

// The OPC item table, rows 0..MaxOpcItem (row 0 empty), and its values.
struct TOpcItemTable {
    std::vector<TIndent> OpcItems = std::vector<TIndent>(MaxOpcItem + 1);
    std::vector<double> OpcItemValues = std::vector<double>(MaxOpcItem + 1);
    std::mutex OpcItemsLock; // OpcItems and OpcItemValues

    static bool IsOpcItem(int id) { return id >= 1 && id <= MaxOpcItem; }
    // Row id of an identifier that came from outside; null unless 1..MaxOpcItem.
    TIndent* Item(int id) { return IsOpcItem(id) ? &OpcItems[static_cast<std::size_t>(id)] : nullptr; }
};

struct TPassiveServerSlot {
    bool Opened = false; // its listening socket is open; the server itself is the link's port
};

// What belongs to each channel. Channel i is station i's, 1..MaxChannelSlots.
// Its link object is reached only through WithLink and WithChannel, which
// hold the channel's lock: one lock serialises everything that touches it
// (the tick, the receive path, the connect and disconnect hand-overs, the
// command entry, the readers of the row's connection fields).
struct TChannelSlots {
    std::vector<TPassiveServerSlot> PassiveServers = std::vector<TPassiveServerSlot>(MaxChannelSlots + 1);
    std::int32_t ChannelCount = 0;
    // Link parameters, record i for channel i + 1.
    TPrmnArray Prmn104 = MakePrmn104();
    // Orders the connect and disconnect hand-overs of the passive stations.
    std::mutex PassiveEventLock;

    // Runs f(link) under channel i's lock, link the channel's link object or
    // null while it has none (stopped); returns what f returns.
    template <class F>
    decltype(auto) WithChannel(int kpIndex, F&& f)
    {
        TSlot& slot = slots_.at(static_cast<std::size_t>(kpIndex));
        std::lock_guard<std::mutex> lock(slot.lock);
        return std::forward<F>(f)(slot.link.get());
    }
    // Runs f(link) under channel i's lock when the channel has a link object;
    // false, f not run, when it has none.
    template <class F>
    bool WithLink(int kpIndex, F&& f)
    {
        return WithChannel(kpIndex, [&f](TClient104Frm* link) {
            if (!link)
                return false;
            std::forward<F>(f)(*link);
            return true;
        });
    }
    // Station i's link object from the channel start-up on; null takes it away.
    void SetLink(int kpIndex, std::shared_ptr<TClient104Frm> link);

private:
    struct TSlot {
        std::mutex lock;
        std::shared_ptr<TClient104Frm> link;
    };
    std::array<TSlot, MaxChannelSlots + 1> slots_;
};

// How the service is set to run.
struct TServiceSwitches {
    TShared<bool> PollingOn;
    TShared<bool> OpcUaRunning;
    bool ConfiguratorMode = false;
    bool PrmTFromCfg = false;
    TShared<bool> Save_Obmen_v_File;
    bool UseWebServer = false;
    std::int32_t Port_WebServ = 0;
    std::int32_t SelectedKpIndex = 0;
    // opcstation shows the core's log queue and names each sent I-frame in
    // the exchange trace; fieldgate has no one to read the queue, and its
    // trace holds the frames alone.
    bool LinkLogQueue = true;
    bool NameSentFrames = true;
};

// What the whole process shares, made by the service init
// (service/serviceinit.h) and kept for the process.
struct TProcessObjects {
    std::unique_ptr<TTypeIdentList> TypeIdentList;
    std::unique_ptr<TClients104> Clients104;
    std::unique_ptr<TUserArm1> CurrentUser;
    std::unique_ptr<TServiceLog> ServiceLog;
    TMessBuff MessBuff{MessBuffSize}; // the core's log queue
    // Every timer and period of the service runs on this clock.
    TClock* Clock = &SystemClock();
    std::string ExePath; // "/etc/fieldgated/" in fieldgate, empty in opcstation
    std::string ArmDir;  // the per-installation data files

    // A file of the service: bare in the working directory when ExePath is
    // empty, else in the directory of ExePath.
    std::string FilePath(std::string_view name) const;
};

// What the program plugs in (service/serviceparts.h); none of them owned
// here, any may be null: no channel opens, no OPC UA, no web server.
struct TPlugs {
    TChannelFactory* ChannelFactory = nullptr;
    TOpcUaBridge* OpcUa = nullptr;
    // fieldgate: the start reads "cnf.ini" and runs this web server.
    TServiceWebServer* WebServer = nullptr;
    // Reads "iec104.cfg" into the station table; throws a TConfigError.
    std::function<void(TServiceContext&)> ReadConfig;
};

// The plugged parts as the service reads them; only a TPlugged sets them.
class TServiceParts {
public:
    TChannelFactory* ChannelFactory() const { return plugs_.ChannelFactory; }
    TOpcUaBridge* OpcUa() const { return plugs_.OpcUa; }
    TServiceWebServer* WebServer() const { return plugs_.WebServer; }
    // Reads the configuration; nothing when no reader is plugged.
    void ReadConfig(TServiceContext& ctx) const
    {
        if (plugs_.ReadConfig)
            plugs_.ReadConfig(ctx);
    }

private:
    friend class TPlugged;
    TPlugs plugs_;
};

// Parts are plugged into a context only through this handle, which keeps
// them there while it lives:
//     TPlugged plugged = Plug(ctx, {&factory, &bridge, &web, reader});
// (each part has a type of its own, so the braces cannot mix them up).
// Made from parts and a context that already exist, it is declared after
// them and so ends before them. Its end stops a service still started (the
// channel threads, the OPC UA bridge and the web server use the parts until
// stopped) and puts back the parts plugged before it, so that a scope may
// plug others for a while. It can be neither copied nor moved: it ends where
// it was declared.
class [[nodiscard]] TPlugged {
public:
    ~TPlugged();
    TPlugged(const TPlugged&) = delete;
    TPlugged& operator=(const TPlugged&) = delete;

private:
    friend TPlugged Plug(TServiceContext& ctx, TPlugs plugs);
    TPlugged(TServiceContext& ctx, TPlugs plugs);

    TServiceContext& ctx_;
    TPlugs before_;
};

[[nodiscard]] TPlugged Plug(TServiceContext& ctx, TPlugs plugs);

// The objects of one service start; null while stopped. Threads other than
// the main one use it, and the station table, only through WithRun
// (service/serviceinit.h), which holds RunLock shared; the start and stop
// replace it holding RunLock alone.
struct TRunState {
    std::unique_ptr<TServiceRun> Run;
    std::shared_mutex RunLock;
    // A start whose channels did not end in time: kept, never freed under them.
    std::unique_ptr<TServiceRun> StaleRun;
    std::int32_t TickCounter = 0; // 0..100
};

class TServiceContext {
public:
    TServiceContext();
    ~TServiceContext();
    TServiceContext(const TServiceContext&) = delete;
    TServiceContext& operator=(const TServiceContext&) = delete;

    TStationTables Stations;
    TOpcItemTable Items;
    TChannelSlots Channels;
    TServiceSwitches Switches;
    TProcessObjects Process;
    TServiceParts Parts;
    TRunState Running;
};

} // namespace gw
