#pragma once
// What the channel threads of active and passive stations are handed, and
// the station-side steps both kinds share: the station row and link object
// of a channel whose connection came up or went down, and the time-prefixed
// trace lines they write when "Save_Obmen_v_File" is set.
//
// Station i owns channel i (link object i - 1). Every step that touches the
// link object or the row's connection fields runs under the channel's lock,
// taken by TChannelSlots::WithChannel and WithLink; the mailbox lock comes
// after it.

#include "core/clock.h"

#include <cstdint>
#include <span>
#include <string>

namespace gw {

class TClient104Frm;
class TServiceContext;
class TServiceLog;

struct TChannelEnv {
    TServiceContext* ctx = nullptr;
    TClock* clock = nullptr;
    TServiceLog* log = nullptr; // no lines at all when null
};

// Bytes taken from a socket per read, well below the link's receive area.
constexpr std::size_t ChannelReadCap = 4096;
// A frame that cannot be written within this long breaks the connection.
constexpr std::int64_t ChannelWriteTimeoutMs = 5000;

// "Save_Obmen_v_File" is set: the trace lines are written. Lines made for
// every frame are built only then, so a channel without traces does not
// format each received chunk as hex.
bool ChannelTracing(const TChannelEnv& env);
// Appends the time of day and text to file, when "Save_Obmen_v_File" is set.
void TraceChannelLine(const TChannelEnv& env, const std::string& file, const std::string& text);
// The link's trace file of station i: "Socket" + (i - 1) + ".txt".
void TraceSocketLine(const TChannelEnv& env, int kpIndex, const std::string& text);

// Under the channel lock: the link object starts a connection with the
// station's clock synchronisation switches, and the row's interrogation
// clocks restart on the monotonic clock. The row is not connected yet: a
// station that accepts TCP and then never answers is not.
void StationConnected(const TChannelEnv& env, TClient104Frm& frm, int kpIndex);
// Under the channel lock: the link object handles the disconnect at its next
// service; a connected row is no longer, and its drop is counted.
void StationDisconnected(const TChannelEnv& env, TClient104Frm& frm, int kpIndex);
// Under the channel lock: received bytes into the link object's receive path,
// which may confirm the data transfer.
void StationReceived(const TChannelEnv& env, TClient104Frm& frm, int kpIndex, std::span<const std::uint8_t> bytes,
                     const std::string& host, int port);
// Under the channel lock, after anything that may have confirmed the link's
// data transfer: the row becomes connected, stamped now.
void StationTransferCheck(TServiceContext& ctx, const TClient104Frm& frm, int kpIndex);

} // namespace gw
