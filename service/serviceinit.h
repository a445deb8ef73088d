#pragma once
// Bringing the IEC 60870-5-104 side up and down. ServiceInit makes the
// process-wide objects once; ServiceStart reads the configuration, opens one
// channel per station, builds the signal and tag tables and numbers the OPC
// items; ServiceStop stops every thread that reads them (web server, OPC UA,
// channels) and joins it before it frees the objects of the start. Start,
// stop, start again works: each start builds afresh.

#include "core/clients104.h"
#include "core/kplist.h"
#include "core/signals.h"
#include "core/tags.h"
#include "service/serviceparts.h"
#include "service/tables.h"

#include <memory>
#include <string>
#include <vector>

namespace gw {

// The objects of one service start, freed by the stop.
struct TServiceRun {
    TServiceRun();
    ~TServiceRun(); // after its channels have been joined

    TKpList KpList;
    TSstList SstList;
    TArmSignals ArmSignals;
    TTagCategoryList TagCategoryList{1};
    TTagCategoryList DataCategoryList{2};
    TTagSignalList TagSignalList;
    // Tags of station i (1-based) are [StationTags[i].first, .second): the
    // tag list is built station by station.
    std::vector<std::pair<int, int>> StationTags;
    // By channel, 0-based: channel c belongs to station c + 1.
    std::vector<std::unique_ptr<TClient104Frm>> Client104Frms;
    std::vector<std::unique_ptr<TChannel>> Channels; // null where none opened
    std::unique_ptr<TLinkTrace> SocketTrace;
};

// How long the stop waits for all channel threads together.
constexpr std::int64_t ChannelJoinMs = 5000;
constexpr int SilenceFallbackMs = 30000; // t0 0 means this

// A line of the service's logs in the service directory: always, or only
// while Save_Obmen_v_File is set (the event and exchange logs).
void AppendServiceLine(TServiceContext& ctx, const std::string& line, const std::string& fileName);
void AppendObmenLine(TServiceContext& ctx, const std::string& line, const std::string& fileName);

void ServiceInit(TServiceContext& ctx);
// Throws what the configuration reading throws (after fieldgate's web
// server has been started, so a bad configuration can be replaced). False,
// with a log line, when an earlier start's channels still have not ended.
bool ServiceStart(TServiceContext& ctx);
void ServiceStop(TServiceContext& ctx);

// Steps of the start.
void OpenChannels(TServiceContext& ctx, TServiceRun& run);
void FillKpPorts(TServiceContext& ctx);
void LoadSignalLists(TServiceContext& ctx, TServiceRun& run);
void CountSignals(TServiceContext& ctx, const TServiceRun& run);
void NumberOpcItems(TServiceContext& ctx);

} // namespace gw
