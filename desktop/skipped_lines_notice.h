#pragma once
// What the window tells the user at start when "iec104.cfg" held lines its
// reader skipped: how many, the first of them, and where they are all named.

#include <optional>
#include <string>

namespace gw {
struct TStationTables;
}

namespace gw::desktop {

// Nothing when no line was skipped.
std::optional<std::string> SkippedLinesNotice(const TStationTables& t);

} // namespace gw::desktop
