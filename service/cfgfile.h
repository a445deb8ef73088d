#pragma once
// "iec104.cfg": the stations, their link parameters, options, points and
// measured values, and the OPC UA settings, one comma-separated record per
// line (";" starts a comment line). Windows-1251 on disk.

#include "core/capacities.h"
#include "service/cfgtext.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace gw {

class TServiceContext;
struct TStationTables;
struct TKeptCfgLine;

inline constexpr const char* Iec104CfgFileName = "iec104.cfg";
inline constexpr int MaxCfgSignals = MaxSignalRecords; // the capacity of the signal table
// The largest addresses a signal line can hold.
inline constexpr int MaxCfgCommonAddress = 65535;
inline constexpr int MaxCfgObjectAddress = 16777215;

// The OPC UA settings, global to the file (whatever station they stand with).
// OPC_UA_Control_podkl and OPC_UA_Timeout_of_control are only kept and
// written back.
struct TOpcUaSettings {
    bool OPC_UA_use = false;
    bool OPC_UA_writable = false;
    bool OPC_UA_by_pwd = false;
    bool OPC_UA_Control_podkl = false;
    std::int32_t OPC_UA_Port = 16670;
    std::string OPC_UA_username;
    std::string OPC_UA_password;
    std::int32_t OPC_UA_Timeout_of_control = 16670;
};

// Reads dir/fileName into KpTable, KpCount, Prmn104 and PrmTFromCfg of ctx
// and into opcUa. A line that cannot be taken as written goes to complain,
// naming file, line and field, and the reading goes on, so that one bad line
// costs that line and not every station:
// - a setting with a default (the "PRM_T" fields, the option and OPC UA
//   lines) that is malformed or out of range gets its default;
// - a "TS" or "TIT" line with a malformed or out-of-range number (an
//   address that does not fit the station's address field included) is
//   skipped; a "KP" line with one is skipped with all lines of its station;
// - lines that belong to a station but come before the first "KP" line are
//   skipped; at a "KP" line beyond the 980th the reading ends.
// The lines skipped are kept, as they stood, in the tables: a station's
// points and measured values in its row (KeptCfgLines), the rest (a skipped
// station with all its lines, what comes after the 980th) in the station
// table's KeptCfgLines, so that a save writes them back; the service never
// reads them.
// False when the file does not exist. A file that cannot be read, or more
// than 60000 signals, is a TConfigError and nothing changes.
// A station without a "PRM_T" line of its own, in a file that has such
// lines, gets the default link profile.
bool ReadIec104Cfg(TServiceContext& ctx, TOpcUaSettings& opcUa, const std::filesystem::path& dir,
                   const std::string& fileName, const TConfigComplaint& complain);

// The kept lines of t that the reading skipped, in file order: not the
// blank, comment and OPC UA lines of a skipped station (the OPC UA ones are
// read all the same).
std::vector<const TKeptCfgLine*> SkippedCfgLines(const TStationTables& t);

// The check of an "iec104.cfg" that is to replace the stored one: a
// TConfigError for the first line that ReadIec104Cfg would complain about,
// or for a file it could not read; else the number of stations read.
int CheckIec104Cfg(std::string_view bytes);

// The service's reading of "iec104.cfg" in its directory, the reader to plug
// in (TPlugs::ReadConfig): complaints go to "log_iec104.txt" (unless the
// reading before said the same), a reading
// that fails to "error_iec104.txt" (and is thrown on), a missing file to
// "log_104.txt" (with Save_Obmen_v_File) as "No file  FileName iec104.cfg".
// opcUa must outlive the plugging: it is declared before the TPlugged.
std::function<void(TServiceContext&)> Iec104CfgReader(TOpcUaSettings& opcUa);

// Writes ctx and opcUa to dir/fileName in the form the reader reads back to
// the same tables, through a temporary file renamed into place. A text that
// would not read back the same (a comma or '"' in an unquoted field, a '"'
// in a quoted name, control characters, blanks at the ends of an unquoted
// field, a character Windows-1251 lacks), a number that is not finite, or
// more than 980 stations: a TConfigError naming the station and field. A
// number the reader would not take as written: the reader's TConfigError for
// the line as it would be written. Either way the file is not touched.
// The lines the reading kept go back where they stood: a station's after
// the point or measured value they followed (after its last one when it has
// fewer now), the others after the station they followed (after the last
// station when there are fewer now). Kept OPC UA lines are written with
// the settings as they are now; ";kol" counts the skipped stations too.
void WriteIec104Cfg(const TServiceContext& ctx, const TOpcUaSettings& opcUa, const std::filesystem::path& dir,
                    const std::string& fileName);

} // namespace gw
