#pragma once
// "iec104.cfg": the stations, their link parameters, options, points and
// measured values, and the OPC UA settings, one comma-separated record per
// line (";" starts a comment line). Windows-1251 on disk.

#include "service/cfgtext.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace gw {

class TServiceContext;

inline constexpr const char* Iec104CfgFileName = "iec104.cfg";
inline constexpr int MaxCfgSignals = 60000; // the capacity of the signal table

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
// and into opcUa, all at once or not at all:
// - false when the file does not exist; nothing changes then;
// - a line the reader cannot take (a malformed or out-of-range number, more
//   than 60000 signals) or a file that cannot be read is a TConfigError
//   naming the file, line and field; it is written to log and thrown, and
//   nothing changes, so callers need not log it again;
// - lines that belong to a station but come before the first "KP" line, and
//   "KP" lines beyond the 980th (the rest of the file is then not read), are
//   logged and skipped.
// A station without a "PRM_T" line of its own, in a file that has such
// lines, gets the default link profile.
bool ReadIec104Cfg(TServiceContext& ctx, TOpcUaSettings& opcUa, const std::filesystem::path& dir,
                   const std::string& fileName, const TConfigLog& log);

// The service's reading of "iec104.cfg" in its directory, for
// TServiceContext::ReadConfig: complaints go to "error_iec104.txt", a missing
// file to "log_104.txt" (with Save_Obmen_v_File) as
// "No file  FileName iec104.cfg". opcUa must outlive the context.
std::function<void(TServiceContext&)> Iec104CfgReader(TOpcUaSettings& opcUa);

// Writes ctx and opcUa to dir/fileName in the form the reader reads back to
// the same tables, through a temporary file renamed into place. A text that
// would not read back the same (a comma or '"' in an unquoted field, a '"'
// in a quoted name, control characters, blanks at the ends of an unquoted
// field, a character Windows-1251 lacks), a number that is not finite, or
// more than 980 stations: a TConfigError naming the station and field. A
// number the reader would refuse: the reader's TConfigError for the line as
// it would be written. Either way the file is not touched.
void WriteIec104Cfg(const TServiceContext& ctx, const TOpcUaSettings& opcUa, const std::filesystem::path& dir,
                    const std::string& fileName);

// A real number as the file holds it: at most 15 significant digits, '.'
// as separator; fixed notation (0, 100, 0.5, -12.75) from 0.00001 up to 15
// integer digits, else scientific (1E-6, 2.5E20). v must be finite.
std::string FormatCfgFloat(double v);

} // namespace gw
