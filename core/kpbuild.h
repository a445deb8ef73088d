#pragma once
// Building the station list, the substations and the signal table from the
// service's station table at every service start: row 0 unused, rows
// 1..KpCount configured, as the configuration reader fills them.

#include "core/kplist.h"
#include "core/signals.h"
#include "core/stationrows.h"
#include "core/tags.h"

#include <cstdint>
#include <vector>

namespace gw {

// Flag words of new records; measured values also go to the CSV export.
constexpr std::uint32_t PointRecFlags =
    FlagMask(TBitFlagArm::bfl_CifAdd, TBitFlagArm::bfl_PrDisp, TBitFlagArm::bfl_TxtAbsent);
constexpr std::uint32_t TitRecFlags = PointRecFlags | FlagMask(TBitFlagArm::bfl_CsvAdd);

// Adds station StationId(i) for every row i the list does not have yet.
void CreateKpList(TKpList& kpList, const std::vector<T_KP>& kpTable, int KpCount);

// Rebuilds the substations and the signal records: by station, and within a
// station all points before all measured values, each in configuration order.
void ReadElemCodeFile(const std::vector<T_KP>& kpTable, int KpCount, TKpList& kpList, TSstList& sstList,
                      TArmSignals& armSignals);

// Rebuilds the tag list: one tag per point (tcn_TS) and measured value
// (tcn_TIT) in record order, so a tag's number follows the station table.
void FillTagList(const TArmSignals& armSignals, TTagSignalList& tags);

} // namespace gw
