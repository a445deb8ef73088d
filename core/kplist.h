#pragma once
// The controlled stations (KP) the service polls and their substations (one
// per station), as the service start builds them from the station table.

#include "core/capacities.h"
#include "core/flags.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace gw {

// A station's identifier in the station list and the signal records: its row
// in the station table moved past 1000, so an identifier is never mistaken
// for a row.
constexpr int StationId(int kpIndex) { return 1000 + kpIndex; }
constexpr int StationIndex(int kpId) { return kpId - 1000; }

enum class KpTypeAddr : std::uint8_t { kpta_CPPS, kpta_KP, kpta_UDP, kpta_Empty };

struct TKpEthernet {
    TKpEthernet(int AID, int AsstID, KpTypeAddr kpta2, std::string ANameKp, std::string AIPAddress, int APort);

    int ID;    // StationId of the station's row in the station table
    int sstID; // its substation; equal to ID
    KpTypeAddr kpta;
    std::string name;
    std::string IPAddress;
    int Port;
    bool prPresent = false; // matched against its substation
};

using PKpEthernet = TKpEthernet*;

class TKpList {
public:
    static constexpr int Capacity = MaxChannelSlots;

    TKpList();
    TKpList(const TKpList&) = delete; // stations are handed out by address
    TKpList& operator=(const TKpList&) = delete;

    int Count() const { return static_cast<int>(List.size()); }
    // "" when appended; the text of error 1001 when the list is full.
    std::string Add(TKpEthernet kp);
    // First station with that ID / sstID, nullptr when none.
    PKpEthernet FindKP_KpID(int KpID);
    PKpEthernet FindKP_sstID(int sstID);
    // nullptr outside 0..Count()-1.
    PKpEthernet GetIndKP(int ind);

private:
    std::vector<TKpEthernet> List; // reserved to capacity: addresses never move
};

// clang-format off
enum class TBitFlagSst : std::uint8_t {
    bflssErrTypeEl, bflssNoFileTxt, bflssNoFileCif, bflssNoKPP1, bflssRepCCS, bflssRepAddr, bflssRepCtrAddr,
    bflssRepName, bflssSelImitKp, bflssPrTU, bflssReceiveTsTit, bflssChanged, bflssNewTs, bflssNewTit
};
// clang-format on
using TFlagSst = TFlagOf<TBitFlagSst>;

class TSst {
public:
    // Starts with bflssNoFileTxt, bflssNoFileCif, bflssNoKPP1 and bflssChanged set.
    TSst(int AId, std::string AName);

    int ID() const { return FId; }
    const std::string& Name() const { return FName; }

    TFlagSst flss;

private:
    int FId;
    std::string FName;
};

// The substations, positions counted from 1 as the station table counts.
class TSstList {
public:
    static constexpr int Capacity = MaxChannelSlots;

    TSstList();

    int Count() const { return static_cast<int>(List.size()); }
    void Clear();
    // False, and nothing added, when the list is full.
    bool Add(TSst sst);
    // 1-based position of the substation with that ID, 0 when absent.
    int FindSstInd(int sstID) const;
    // nullptr outside 1..Count().
    TSst* GetSst(int pos);
    // The substation has received a point or a measured value: sets
    // bflssReceiveTsTit and bflssChanged the first time. Point stores call it
    // under the tag list's lock.
    void MarkSstReceive(int sstID);
    // The same for the substation at position pos (FindSstInd); nothing for 0.
    void MarkSstReceiveAt(int pos);

private:
    std::vector<TSst> List;             // reserved to capacity: addresses never move
    std::unordered_map<int, int> byId_; // ID -> position of the first with it
};

} // namespace gw
