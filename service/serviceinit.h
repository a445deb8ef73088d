#pragma once
// Bringing the IEC 60870-5-104 side up and down. ServiceInit makes the
// process-wide objects once; ServiceStart reads the configuration, opens one
// channel per station, builds the signal and tag tables and numbers the OPC
// items; ServiceStop stops every thread that reads them (web server, OPC UA,
// channels) and joins it before it frees the objects of the start. Start,
// stop, start again works: each start builds afresh.
//
// How the service fails. It runs unattended, so a failure is a log line and
// the service goes on with what it has:
//   - Reading a text file ("iec104.cfg", "cnf.ini") throws TConfigError
//     naming the file, line and field; the reader of "iec104.cfg" writes it
//     to "error_iec104.txt". The service's entry points catch it: ServiceInit
//     keeps what was read, ServiceStart returns false, the upload check
//     answers with its text.
//   - Run-time faults (a port that cannot be listened on, a station whose
//     tick fails, an OPC UA library that does not load) are written to the
//     service's log files and cost that part only; ServiceTick and
//     ServiceStop do not throw for them.
//   - Operations a caller may see refused return it: bool, null, an error
//     text or an empty optional.
//   - A log line that cannot be written is lost: there is nowhere to say so.

#include "core/clients104.h"
#include "core/kplist.h"
#include "core/signals.h"
#include "core/tags.h"
#include "service/serviceparts.h"
#include "service/tables.h"

#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace gw {

// What the publication last saw of a station's link (main thread only).
struct TStationSeen {
    bool announced = false; // "Connected" published in this run
    std::uint32_t drops = 0;
    std::uint32_t invalidations = 0;
};

// The objects of one service start, freed by the stop.
struct TServiceRun {
    TServiceRun();
    ~TServiceRun(); // after its channels have been joined

    std::unique_ptr<TLinkTrace> SocketTrace;
    std::unique_ptr<TTuQueueLog> TuLog;
    TKpList KpList;
    TSstList SstList;
    TArmSignals ArmSignals;
    TTagCategoryList TagCategoryList{1};
    TTagCategoryList DataCategoryList{2};
    TTagSignalList TagSignalList;
    // Tags of station i (1-based) are [StationTags[i].first, .second): the
    // tag list is built station by station.
    std::vector<std::pair<int, int>> StationTags;
    std::vector<TStationSeen> PublishedLink; // by station index, 1-based
    // By channel, 0-based: channel c belongs to station c + 1.
    std::vector<std::shared_ptr<TClient104Frm>> Client104Frms;
    // Last, so they go first: nothing of the start is freed under them.
    std::vector<std::unique_ptr<TChannel>> Channels; // null where none opened
};

// How a thread other than the main one (command callers, web requests, the
// OPC UA thread) reads the objects of the start: fn(run) with them held
// against the stop, fn(nullptr) while stopped. The station table, too, is
// only read while a run is set: the start rewrites it before it sets one.
template <class Fn>
auto WithRun(TServiceContext& ctx, Fn&& fn)
{
    std::shared_lock<std::shared_mutex> running(ctx.Running.RunLock);
    return fn(ctx.Running.Run.get());
}

// How long the stop waits for all channel threads together.
constexpr std::int64_t ChannelJoinMs = 5000;
constexpr int SilenceFallbackMs = 30000; // t0 0 means this

// A line of the service's logs in the service directory: always, or only
// while Save_Obmen_v_File is set (the event and exchange logs).
void AppendServiceLine(TServiceContext& ctx, const std::string& line, const std::string& fileName);
void AppendObmenLine(TServiceContext& ctx, const std::string& line, const std::string& fileName);

void ServiceInit(TServiceContext& ctx);
// True when the service runs. False, never an exception, when it could not
// start: the configuration could not be read, a channel could not be built,
// or an earlier start's channels still have not ended. The reason is in
// "error_iec104.txt", and fieldgate's web server runs regardless, so that a
// bad configuration can be replaced.
bool ServiceStart(TServiceContext& ctx);
void ServiceStop(TServiceContext& ctx);

// Steps of the start.
void OpenChannels(TServiceContext& ctx, TServiceRun& run);
void FillKpPorts(TServiceContext& ctx);
void LoadSignalLists(TServiceContext& ctx, TServiceRun& run);
void CountSignals(TServiceContext& ctx, const TServiceRun& run);
void NumberOpcItems(TServiceContext& ctx);

} // namespace gw
