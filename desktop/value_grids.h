#pragma once
// The two value grids of the main window as plain text tables: the points of
// the selected station (with its connection row) and its measurements. Row 0
// holds the headers. The widgets only copy the cells, so the filling and the
// one-second refresh are tested and measured without a window.

#include "core/datetime.h"

#include <string>
#include <vector>

namespace gw {
class TServiceContext;
}

namespace gw::desktop {

using TGrid = std::vector<std::vector<std::string>>;

struct TValueGrids {
    TGrid ts; // 6 columns, Kol_TS + 3 rows: headers, connection, points, one empty
    TGrid ti; // 7 columns, Kol_TI + 2 rows: headers, measurements, one empty
};

constexpr int TsColumns = 6;
constexpr int TiColumns = 7;

// Showing station k (1-based): headers, running numbers, names and addresses.
// A k that is no configured station gives the headers alone.
TValueGrids StationGrids(const TServiceContext& ctx, int k);

// The refresh while polling: connection row and the live cells of station
// k's tags. Each station's tags are read under the lock its receive path
// holds, so a value is never read half-written. Nothing happens while
// stopped or for a k that is no configured station (a download may have
// shrunk the table under the selection).
void RefreshValueGrids(TServiceContext& ctx, int k, TValueGrids& grids);

// "DD.MM.YYYY hh:nn:ss.zzz" of stamp plus hours; "" for a stamp not after day 1.
std::string GridTime(TDateTime stamp, int hours);
// "%12.3f", locale-free.
std::string EngText(double e);

} // namespace gw::desktop
