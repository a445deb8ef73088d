#pragma once
// The configured signal records (single/double points and measured values)
// and their table, the scaling of a measured value from raw to engineering
// units, and the keywords that name the kinds of configuration lines.

#include "core/capacities.h"
#include "core/flags.h"
#include "core/stable_list.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace gw {

// Kinds of configuration lines; stTS and stTIT also name the kinds of records.
// clang-format off
enum class SignalType : std::uint8_t {
    stSST, stSS, stKP, stTS, stTIT, stPER, stTIM, stPOPR, stIP2, stPORT2, stOPROS, stOPROS_101,
    stCLOCK_SYNC_103, stPASSIV, stsend_start_DT, stTSRU, stSystem, stVER, stErr, stOPC_UA_use,
    stOPC_UA_writable, stOPC_UA_by_pwd, stOPC_UA_Port, stOPC_UA_username, stOPC_UA_password,
    stOPC_UA_Control_podkl, stOPC_UA_Timeout_of_control, stPRM_T
};
// clang-format on

// The kind named by the first field of a configuration line (exact,
// case-sensitive); stErr for anything unknown.
SignalType StrToSignalType(std::string_view text);

// Raw and engineering ranges and the limits of one measured value.
struct TTitBound {
    TTitBound() = default;
    // Keeps the eight values only when prcontrol is true, zeros otherwise.
    TTitBound(bool prcontrol, double RawMin2, double RawMax2, double EngMin2, double EngMax2, double PredMin2,
              double PredMax2, double AvarMin2, double AvarMax2);

    double RawMin = 0, RawMax = 0, EngMin = 0, EngMax = 0;
    double PredMin = 0, PredMax = 0, AvarMin = 0, AvarMax = 0;
};

// clang-format off
enum class TBitFlagArm : std::uint8_t {
    bfl_ArmNew, bfl_TxtAdd, bfl_MstAdd, bfl_CsvAdd, bfl_CifAdd, bfl_Invers, bfl_PrDisp, bfl_PrRZA, bfl_PrRaw,
    bfl_RepAddr, bfl_RepCtrAddr, bfl_RepName, bfl_RepCCS, bfl_TxtAbsent, bfl_CifAbsent, bfl_KpAbsent
};
// clang-format on
using TFlagArm = TFlagOf<TBitFlagArm>;

class TArmRec {
public:
    // All addresses 0, port 1111, no range; the flag word is flags with
    // bfl_TxtAbsent, bfl_CifAbsent and bfl_KpAbsent added.
    TArmRec(int sstID, SignalType st, std::string ADispName, std::uint32_t flags);

    void SetParam(int kpID, std::string ACCS, int ASigASDUAddr, int ASigObjAddr, int ACtrlASDUAddr, int ACtrlObjAddr,
                  std::unique_ptr<TTitBound> ApTitBound, std::string IP_adr, int IP_Port, int Atype_tu, int Atype_var);

    // The signal can be commanded: both command addresses are set.
    bool prTU() const { return FCtrlASDUAddr != 0 && FCtrlObjAddr != 0; }
    // Engineering value of a raw one; passed through without a range or
    // with an empty raw range. Not clamped to either range.
    double RawToEng(double valueRaw) const;

    int sstID() const { return FsstID; }
    int kpID() const { return FKpID; }
    const std::string& DispName() const { return FDispName; }
    SignalType st() const { return Fst; }
    const std::string& KKS() const;
    int SigASDUAddr() const { return FSigASDUAddr; }
    int SigObjAddr() const { return FSigObjAddr; }
    int CtrlASDUAddr() const { return FCtrlASDUAddr; }
    int CtrlObjAddr() const { return FCtrlObjAddr; }
    int type_tu() const { return Ftype_tu; }
    int port2() const { return Fport2; }
    const std::string& IP_address() const { return *FIP_address; }
    int type_var() const { return Ftype_var; }
    const TTitBound* pTitBound1() const { return FTitBound.get(); }

    TFlagArm fl;
    int Nomer_TS_in_KP2 = 0;
    int Nomer_TIT_in_KP2 = 0;

private:
    // Ordered so that little is padded: there is one record per signal.
    SignalType Fst;
    std::string FDispName;
    std::unique_ptr<std::string> FKKS;    // null when empty, as the service's records leave it
    const std::string* FIP_address;       // shared with the other records of the host (SharedHost)
    std::unique_ptr<TTitBound> FTitBound; // measured values only
    int FsstID;
    int FKpID = 0;
    int FSigASDUAddr = 0, FSigObjAddr = 0;
    int FCtrlASDUAddr = 0, FCtrlObjAddr = 0;
    int Ftype_tu = 0;
    int Fport2 = 1111;
    int Ftype_var = 0;
};

using PArmRec = TArmRec*;

class TArmSignals {
public:
    static constexpr int Capacity = MaxSignalRecords;

    int Count() const { return static_cast<int>(List.size()); }
    void Clear() { List.clear(); }
    // A new record in the next slot. The table is full at 60000 records: one
    // more ends the program with exit code 1 and a line saying why.
    PArmRec AddRec(int sstID, SignalType st, std::string DispName, std::uint32_t flags);
    // nullptr outside 0..Count()-1; a record stays where it is until Clear.
    PArmRec GetRec(int ind);
    const TArmRec* GetRec(int ind) const;

private:
    TStableList<TArmRec> List;
};

} // namespace gw
