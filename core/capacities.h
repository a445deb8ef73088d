#pragma once
// The fixed capacities of the process's tables. Tables that must agree (the
// station lists and the per-channel rows; the link objects and their
// parameter records; the signal table and the OPC item numbers) take their
// size from the same constant here.

namespace gw {

inline constexpr int MaxKpCount = 980;         // stations read from "iec104.cfg"
inline constexpr int MaxChannelSlots = 990;    // stations a list holds; rows of the per-channel tables, 1-based
inline constexpr int MaxChannels = 998;        // link objects and their parameter records
inline constexpr int MaxSignalRecords = 60000; // signal records; OPC item identifiers run up to it too

} // namespace gw
