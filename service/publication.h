#pragma once
// The value publication, every third tick on the main thread: moves the tags
// stored anew into the OPC item table (value, OPC DA quality, time stamp),
// keeps each station's "Connected" item, and feeds the OPC UA bridge while it
// runs. Each station's tags are one contiguous run of the tag list; a pass
// takes only the tags the list marked changed since they were last taken.
//
// "Connected" is stamped with the time the station's link changed. A link
// that dropped since the last pass is published as lost ("Connected" 0, its
// signals bad, stamped with the drop) before whatever the station is now, so
// a reader of the bridge sees every loss even when the station came back
// within one pass.

#include "service/tables.h"

#include <cstdint>

namespace gw {

// OPC DA quality of the tag's IEC quality bits (IV, NT, SB, BL in that order).
std::int32_t OpcQualityOf(int iecQuality);
// OPC UA status of the tag's quality byte, first match wins: IV bad; NT,
// OV, BL and an invalid time tag uncertain; SB good with local override;
// else good. The other bits (a scaled value's scale) are no quality.
std::uint32_t UaStatusOf(int iecQuality);

// Station time stamps further than this from now are not believed.
constexpr double StampWindowHours = 30;

void PushOpcValues(TServiceContext& ctx);

// The service has stopped: every station's "Connected" item shows 0 and its
// signals' items bad quality, stamped now, so no reader takes the last values
// of a run that no longer serves them for good ones.
void InvalidateOpcItems(TServiceContext& ctx);

} // namespace gw
