#pragma once
// The station commands: adding, changing, deleting and copying a station of
// the table, each saved at once to "iec104.cfg" and "iec104sr.bin". A save
// that fails throws and leaves the tables in memory as they were saved.

#include <functional>
#include <string>

namespace gw::desktop {

class TDesktopService;
class TPrompts;
class TStationDialogPort;

// The copy's name suffix and ports come from here (tests give fixed ones).
using TRandom = std::function<int(int lo, int hi)>; // lo..hi inclusive
TRandom DefaultRandom();

// Station k (1-based) is replaced by the last one. Asks first; false when
// nothing changed.
bool DeleteStation(TDesktopService& service, TPrompts& prompts, int k);

// Appends a copy of station n with an empty address and fresh random ports.
// Refused while polling; the table holds at most 980 stations, as many as
// "iec104.cfg" gives back on reading.
bool CopyStation(TDesktopService& service, TPrompts& prompts, int n, const TRandom& random);

// A new station from the dialog; refused (with the message) at 980.
bool AddStation(TDesktopService& service, TPrompts& prompts, TStationDialogPort& dialog);
// Station k through the dialog; its signals are rebuilt from the grids.
bool ChangeStation(TDesktopService& service, TStationDialogPort& dialog, int k);

// Both files; what cannot be written throws (the configuration error).
void SaveStations(TDesktopService& service);

} // namespace gw::desktop
