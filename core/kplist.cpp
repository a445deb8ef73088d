#include "core/kplist.h"

#include "core/errlist.h"

#include <utility>

namespace gw {

TKpEthernet::TKpEthernet(int AID, int AsstID, KpTypeAddr kpta2, std::string ANameKp, std::string AIPAddress, int APort)
    : ID(AID), sstID(AsstID), kpta(kpta2), name(std::move(ANameKp)), IPAddress(std::move(AIPAddress)), Port(APort)
{
}

TKpList::TKpList() { List.reserve(Capacity); }

std::string TKpList::Add(TKpEthernet kp)
{
    if (Count() >= Capacity)
        return TErrLstArm().GetMess(1001);
    List.push_back(std::move(kp));
    return {};
}

PKpEthernet TKpList::FindKP_KpID(int KpID)
{
    for (TKpEthernet& kp : List)
        if (kp.ID == KpID)
            return &kp;
    return nullptr;
}

PKpEthernet TKpList::FindKP_sstID(int sstID)
{
    for (TKpEthernet& kp : List)
        if (kp.sstID == sstID)
            return &kp;
    return nullptr;
}

PKpEthernet TKpList::GetIndKP(int ind)
{
    return ind >= 0 && ind < Count() ? &List[static_cast<std::size_t>(ind)] : nullptr;
}

TSst::TSst(int AId, std::string AName) : FId(AId), FName(std::move(AName))
{
    for (TBitFlagSst b : {TBitFlagSst::bflssNoFileTxt, TBitFlagSst::bflssNoFileCif, TBitFlagSst::bflssNoKPP1,
                          TBitFlagSst::bflssChanged})
        flss.Op(TFlagOperation::FSet, b);
}

TSstList::TSstList() { List.reserve(Capacity); }

void TSstList::Clear()
{
    List.clear();
    byId_.clear();
}

bool TSstList::Add(TSst sst)
{
    if (Count() >= Capacity)
        return false;
    byId_.emplace(sst.ID(), Count() + 1);
    List.push_back(std::move(sst));
    return true;
}

int TSstList::FindSstInd(int sstID) const
{
    const auto it = byId_.find(sstID);
    return it == byId_.end() ? 0 : it->second;
}

TSst* TSstList::GetSst(int pos)
{
    return pos >= 1 && pos <= Count() ? &List[static_cast<std::size_t>(pos - 1)] : nullptr;
}

void TSstList::MarkSstReceive(int sstID) { MarkSstReceiveAt(FindSstInd(sstID)); }

void TSstList::MarkSstReceiveAt(int pos)
{
    TSst* sst = GetSst(pos);
    if (!sst || sst->flss.Op(TFlagOperation::FYes, TBitFlagSst::bflssReceiveTsTit))
        return;
    sst->flss.Op(TFlagOperation::FSet, TBitFlagSst::bflssReceiveTsTit);
    sst->flss.Op(TFlagOperation::FSet, TBitFlagSst::bflssChanged);
}

} // namespace gw
