#pragma once
// Building the station list, the substations and the signal table from the
// service's station table at every service start. The table is any indexable
// of station rows, row 0 unused and rows 1..KpCount configured, each row with
// the fields NameKP, IP, Port, Kol_TS, TS_arr, Kol_TI, TI_arr (arrays 1-based,
// element 0 unused) that the configuration reader fills.

#include "core/kplist.h"
#include "core/signals.h"
#include "core/tags.h"
#include "core/text.h"

#include <algorithm>
#include <cstddef>
#include <memory>

namespace gw {

// Flag words of new records; measured values also go to the CSV export.
constexpr std::uint32_t PointRecFlags =
    FlagMask(TBitFlagArm::bfl_CifAdd, TBitFlagArm::bfl_PrDisp, TBitFlagArm::bfl_TxtAbsent);
constexpr std::uint32_t TitRecFlags = PointRecFlags | FlagMask(TBitFlagArm::bfl_CsvAdd);

namespace kpbuild_detail {
// Rows 1..count that the array really holds.
template <class Array>
int Rows(const Array& a, int count)
{
    return std::max(0, std::min(count, static_cast<int>(std::size(a)) - 1));
}
} // namespace kpbuild_detail

// Adds station 1000 + i for every row i the list does not have yet.
template <class KpTable>
void CreateKpList(TKpList& kpList, const KpTable& kpTable, int KpCount)
{
    const int n = kpbuild_detail::Rows(kpTable, KpCount);
    for (int i = 1; i <= n; ++i) {
        if (kpList.FindKP_KpID(1000 + i))
            continue;
        const auto& row = kpTable[static_cast<std::size_t>(i)];
        kpList.Add(TKpEthernet(1000 + i, 1000 + i, KpTypeAddr::kpta_KP, row.NameKP, row.IP, row.Port));
    }
}

// Rebuilds the substations and the signal records: by station, and within a
// station all points before all measured values, each in configuration order.
template <class KpTable>
void ReadElemCodeFile(const KpTable& kpTable, int KpCount, TKpList& kpList, TSstList& sstList,
                      TArmSignals& armSignals)
{
    sstList.Clear();
    armSignals.Clear();
    if (kpList.Count() == 0)
        return;
    const int n = kpbuild_detail::Rows(kpTable, KpCount);
    for (int i = 1; i <= n; ++i) {
        PKpEthernet kp = kpList.FindKP_KpID(1000 + i);
        if (kp && kp->sstID == 1000 + i)
            kp->prPresent = true;
    }
    for (int i = 1; i <= n; ++i) {
        PKpEthernet kp = kpList.FindKP_sstID(1000 + i);
        if (kp)
            sstList.Add(TSst(1000 + i, kpTable[static_cast<std::size_t>(i)].NameKP));
    }
    for (int i = 1; i <= n; ++i) {
        PKpEthernet kp = kpList.FindKP_KpID(1000 + i);
        if (!kp)
            continue;
        const auto& row = kpTable[static_cast<std::size_t>(i)];
        const int id = 1000 + i;
        const int kolTs = kpbuild_detail::Rows(row.TS_arr, row.Kol_TS);
        for (int j = 1; j <= kolTs; ++j) {
            const auto& t = row.TS_arr[static_cast<std::size_t>(j)];
            PArmRec rec = armSignals.AddRec(id, SignalType::stTS, DelQuotes(t.NameTS), PointRecFlags);
            rec->SetParam(id, "", t.AdrASDU, t.AdrIOA, t.AdrASDU_TU, t.AdrIOA_TU, nullptr, kp->IPAddress, kp->Port,
                          t.Type_TU, t.Type_Var);
            rec->Nomer_TS_in_KP2 = j;
        }
        const int kolTi = kpbuild_detail::Rows(row.TI_arr, row.Kol_TI);
        for (int j = 1; j <= kolTi; ++j) {
            const auto& t = row.TI_arr[static_cast<std::size_t>(j)];
            PArmRec rec = armSignals.AddRec(id, SignalType::stTIT, t.NameTI, TitRecFlags);
            auto range = std::make_unique<TTitBound>(true, t.Min_TM_Diap, t.Max_TM_Diap, t.Min_Eng_Diap,
                                                     t.Max_Eng_Diap, t.Min_Eng_Diap, t.Max_Eng_Diap,
                                                     t.Min_Eng_Diap, t.Max_Eng_Diap);
            rec->SetParam(id, "", t.AdrASDU, t.AdrIOA, 0, 0, std::move(range), kp->IPAddress, kp->Port, 0, 0);
            rec->Nomer_TIT_in_KP2 = j;
        }
    }
}

// Rebuilds the tag list: one tag per point (tcn_TS) and measured value
// (tcn_TIT) in record order, so a tag's number follows the station table.
void FillTagList(const TArmSignals& armSignals, TTagSignalList& tags);

} // namespace gw
