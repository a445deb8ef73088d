#pragma once
// The rows of the station table as the configuration reader fills them: a
// station with its points and measured values. The service keeps the table;
// the station model (core/kpbuild.h) is built from it at every service start.
//
// Signals are 1-based: TS_arr[1..Kol_TS], TI_arr[1..Kol_TI], element 0 left
// empty.

#include "core/datetime.h"
#include "core/shared_value.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gw {

// One single or double point of a station ("TS" line). The station's number
// and name of the original record are left out: nothing filled or read them,
// and there is one record per configured point.
struct T_TS {
    std::string NameTS;
    std::int32_t AdrASDU = 0;
    std::int32_t AdrIOA = 0;
    std::int32_t AdrASDU_TU = 0; // common address of its command
    std::int32_t AdrIOA_TU = 0;  // object address of its command
    // 0 single command with select, 1 single direct, 2 double with select, 3 double direct.
    std::int32_t Type_TU = 0;
    std::int32_t Type_Var = 0; // 0 single point (Boolean), 1 double point (integer)
};

// One measured value of a station ("TIT" or "TI" line); without the
// never-filled station number and name, as T_TS.
struct T_TI {
    std::string NameTI;
    std::int32_t AdrASDU = 0;
    std::int32_t AdrIOA = 0;
    double Min_TM_Diap = 0, Max_TM_Diap = 0;   // raw range
    double Min_Eng_Diap = 0, Max_Eng_Diap = 0; // engineering range
    std::int32_t Znak_for_norm = 0;            // 1 = publish the integer reading
};

// A line of "iec104.cfg" that its reader could not take (a point whose
// address is no number, a station line with a typo and the lines of that
// station): kept as it stood, so that a save writes it back where it stood
// instead of dropping it. Nothing in the service reads it.
struct TKeptCfgLine {
    std::string text;        // UTF-8, without its line end
    std::int32_t lineNo = 0; // in the file as it was read
    // Where it goes back: after this many points (measured values, when
    // measured) of its station, or, for a line of no station, after this
    // many stations of the file.
    std::int32_t after = 0;
    bool measured = false;
};

// One controlled station (KP), a row of KpTable.
struct T_KP {
    std::string NameKP;
    std::string IP; // as configured; "IP<index>" for a passive station without one
    std::int32_t Port = 0;
    std::int32_t ASDU_Adr = 0;
    std::int32_t Kol_TI = 0;
    std::int32_t Kol_TS = 0;
    std::vector<T_TI> TI_arr = std::vector<T_TI>(1); // 1..Kol_TI
    std::vector<T_TS> TS_arr = std::vector<T_TS>(1); // 1..Kol_TS
    std::int32_t Nom_OPC_1st = 0;                    // item of the station's branch
    std::int32_t Nom_OPC_Alarm = 0;                  // item of its "Connected"
    std::int32_t Nom_OPC_TS = 0;                     // point n is Nom_OPC_TS + n - 1
    std::int32_t Nom_OPC_TI = 0;                     // value n is Nom_OPC_TI + n - 1
    bool PereschetTI = false;
    bool Time_To_OPC = false;
    std::int32_t Popravka_Time = 0; // hours added to the station's stamps
    std::int32_t OPROS_KP = 0;      // general interrogation period, minutes
    // The periodic-request clocks, monotonic ms; written under the station's
    // channel lock. General interrogation waits for the first connection.
    std::optional<std::int64_t> Last_opros_KP_Time;
    // The station is connected from the confirmed start of its data transfer
    // until its link drops; a bare TCP connection does not count. These four
    // are written under the station's channel lock.
    TShared<bool> Connected;
    TShared<TDateTime> Connected_Time; // local time of the last change of Connected, 0 before any
    // Drops of a connected station, counted, so that a pass that finds the
    // station connected again still sees that it was lost in between.
    TShared<std::uint32_t> Drop_Count;
    TShared<TDateTime> Drop_Time; // local time of the last drop
    std::string IP_tek;           // written under the station's channel lock
    std::int32_t Port_tek = 0;
    std::string IP2;
    std::int32_t Port2 = 0;
    std::int32_t Interval_opros_counters_101 = 0; // minutes
    std::optional<std::int64_t> Last_opros_counters_101_Time;
    std::int32_t Interval_CLOCK_SYNC_103 = 0; // minutes
    std::optional<std::int64_t> Last_CLOCK_SYNC_103_Time;
    bool Passive = false;
    bool send_start_DT_passiv = false;
    TShared<bool> Must_disconnect_SVR;
    // Passive send mailbox: one frame, a byte a character; empty = free.
    std::string Str_to_write_;
    // The passive locks exist only once the station's listening server has
    // opened; the channel start-up makes them afresh. Copies of a row share them.
    std::shared_ptr<std::mutex> Str_to_write_section; // guards Str_to_write_
    TShared<TDateTime> Last_otvet_from_KP;
    std::vector<TKeptCfgLine> KeptCfgLines; // its "TS" and "TIT" lines the reader could not take
};

} // namespace gw
