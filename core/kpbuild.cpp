#include "core/kpbuild.h"

#include "core/text.h"

#include <algorithm>
#include <cstddef>
#include <memory>

namespace gw {
namespace {

// Rows 1..count that the array really holds: a count read from the file may
// exceed the rows that were filled.
template <class Row>
int Rows(const std::vector<Row>& a, int count)
{
    return std::max(0, std::min(count, static_cast<int>(a.size()) - 1));
}

void AddPoints(TArmSignals& armSignals, const T_KP& row, const TKpEthernet& kp, int id)
{
    const int kolTs = Rows(row.TS_arr, row.Kol_TS);
    for (int j = 1; j <= kolTs; ++j) {
        const T_TS& t = row.TS_arr[static_cast<std::size_t>(j)];
        PArmRec rec = armSignals.AddRec(id, SignalType::stTS, DelQuotes(t.NameTS), PointRecFlags);
        rec->SetParam(id, "", t.AdrASDU, t.AdrIOA, t.AdrASDU_TU, t.AdrIOA_TU, nullptr, kp.IPAddress, kp.Port, t.Type_TU,
                      t.Type_Var);
        rec->Nomer_TS_in_KP2 = j;
    }
}

void AddMeasuredValues(TArmSignals& armSignals, const T_KP& row, const TKpEthernet& kp, int id)
{
    const int kolTi = Rows(row.TI_arr, row.Kol_TI);
    for (int j = 1; j <= kolTi; ++j) {
        const T_TI& t = row.TI_arr[static_cast<std::size_t>(j)];
        PArmRec rec = armSignals.AddRec(id, SignalType::stTIT, t.NameTI, TitRecFlags);
        auto range = std::make_unique<TTitBound>(true, t.Min_TM_Diap, t.Max_TM_Diap, t.Min_Eng_Diap, t.Max_Eng_Diap,
                                                 t.Min_Eng_Diap, t.Max_Eng_Diap, t.Min_Eng_Diap, t.Max_Eng_Diap);
        rec->SetParam(id, "", t.AdrASDU, t.AdrIOA, 0, 0, std::move(range), kp.IPAddress, kp.Port, 0, 0);
        rec->Nomer_TIT_in_KP2 = j;
    }
}

} // namespace

void CreateKpList(TKpList& kpList, const std::vector<T_KP>& kpTable, int KpCount)
{
    const int n = Rows(kpTable, KpCount);
    for (int i = 1; i <= n; ++i) {
        if (kpList.FindKP_KpID(StationId(i)))
            continue;
        const T_KP& row = kpTable[static_cast<std::size_t>(i)];
        kpList.Add(TKpEthernet(StationId(i), StationId(i), KpTypeAddr::kpta_KP, row.NameKP, row.IP, row.Port));
    }
}

void ReadElemCodeFile(const std::vector<T_KP>& kpTable, int KpCount, TKpList& kpList, TSstList& sstList,
                      TArmSignals& armSignals)
{
    sstList.Clear();
    armSignals.Clear();
    if (kpList.Count() == 0)
        return;
    const int n = Rows(kpTable, KpCount);
    for (int i = 1; i <= n; ++i) {
        PKpEthernet kp = kpList.FindKP_KpID(StationId(i));
        if (kp && kp->sstID == StationId(i))
            kp->prPresent = true;
    }
    for (int i = 1; i <= n; ++i) {
        if (kpList.FindKP_sstID(StationId(i)))
            sstList.Add(TSst(StationId(i), kpTable[static_cast<std::size_t>(i)].NameKP));
    }
    for (int i = 1; i <= n; ++i) {
        PKpEthernet kp = kpList.FindKP_KpID(StationId(i));
        if (!kp)
            continue;
        const T_KP& row = kpTable[static_cast<std::size_t>(i)];
        AddPoints(armSignals, row, *kp, StationId(i));
        AddMeasuredValues(armSignals, row, *kp, StationId(i));
    }
}

void FillTagList(const TArmSignals& armSignals, TTagSignalList& tags)
{
    tags.Clear();
    const TTagCategoryList categories(1);
    for (int i = 0; i < armSignals.Count(); ++i) {
        const TArmRec& rec = *armSignals.GetRec(i);
        PTagCategory ptc = nullptr;
        if (rec.st() == SignalType::stTS)
            ptc = categories.GetPtc(TagCategName::tcn_TS);
        else if (rec.st() == SignalType::stTIT)
            ptc = categories.GetPtc(TagCategName::tcn_TIT);
        else
            continue;
        TTagSignal tag;
        tag.Init(rec.DispName(), rec.SigASDUAddr(), rec.SigObjAddr(), rec.IP_address(), rec.port2(), ptc, i,
                 rec.type_var(), rec.Nomer_TS_in_KP2, rec.Nomer_TIT_in_KP2);
        tags.AddTag(tag);
    }
}

} // namespace gw
