#include "core/signals.h"

#include "core/errlist.h"
#include "core/fatal.h"
#include "core/hosttext.h"

#include <utility>

namespace gw {

namespace {

struct TKeyword {
    std::string_view text;
    SignalType st;
};

// Tried in this order; the first equal keyword decides.
constexpr TKeyword Keywords[] = {
    {"TS", SignalType::stTS},
    {"TIT", SignalType::stTIT},
    {"PER", SignalType::stPER},
    {"TIM", SignalType::stTIM},
    {"OPROS", SignalType::stOPROS},
    {"OPROS_101", SignalType::stOPROS_101},
    {"CLOCK_SYNC_103", SignalType::stCLOCK_SYNC_103},
    {"PASSIV", SignalType::stPASSIV},
    {"send_start_DT", SignalType::stsend_start_DT},
    {"POPR", SignalType::stPOPR},
    {"IP2", SignalType::stIP2},
    {"PORT2", SignalType::stPORT2},
    {"TI", SignalType::stTIT},
    {"OPC_UA_use", SignalType::stOPC_UA_use},
    {"OPC_UA_writable", SignalType::stOPC_UA_writable},
    {"OPC_UA_by_pwd", SignalType::stOPC_UA_by_pwd},
    {"OPC_UA_Port", SignalType::stOPC_UA_Port},
    {"OPC_UA_username", SignalType::stOPC_UA_username},
    {"OPC_UA_password", SignalType::stOPC_UA_password},
    {"OPC_UA_Control_podkl", SignalType::stOPC_UA_Control_podkl},
    {"OPC_UA_Timeout_of_control", SignalType::stOPC_UA_Timeout_of_control},
    {"PRM_T", SignalType::stPRM_T},
    {"TSRU", SignalType::stTSRU},
    {"SST", SignalType::stSST},
    {"SS", SignalType::stSS},
    {"KP", SignalType::stKP},
    {"VER", SignalType::stVER},
    {"PBTPU", SignalType::stSystem},
    {"CHAN", SignalType::stSystem},
};

constexpr std::uint32_t AbsentFlags =
    FlagMask(TBitFlagArm::bfl_TxtAbsent, TBitFlagArm::bfl_CifAbsent, TBitFlagArm::bfl_KpAbsent);

} // namespace

SignalType StrToSignalType(std::string_view text)
{
    for (const TKeyword& k : Keywords)
        if (k.text == text)
            return k.st;
    return SignalType::stErr;
}

TTitBound::TTitBound(bool prcontrol, double RawMin2, double RawMax2, double EngMin2, double EngMax2, double PredMin2,
                     double PredMax2, double AvarMin2, double AvarMax2)
{
    if (!prcontrol)
        return;
    RawMin = RawMin2;
    RawMax = RawMax2;
    EngMin = EngMin2;
    EngMax = EngMax2;
    PredMin = PredMin2;
    PredMax = PredMax2;
    AvarMin = AvarMin2;
    AvarMax = AvarMax2;
}

TArmRec::TArmRec(int sstID_, SignalType st_, std::string ADispName, std::uint32_t flags)
    : fl(flags | AbsentFlags), Fst(st_), FDispName(std::move(ADispName)), FIP_address(SharedHost({})), FsstID(sstID_)
{
}

const std::string& TArmRec::KKS() const
{
    static const std::string none;
    return FKKS ? *FKKS : none;
}

void TArmRec::SetParam(int kpID_, std::string ACCS, int ASigASDUAddr, int ASigObjAddr, int ACtrlASDUAddr,
                       int ACtrlObjAddr, std::unique_ptr<TTitBound> ApTitBound, std::string IP_adr, int IP_Port,
                       int Atype_tu, int Atype_var)
{
    FKpID = kpID_;
    FKKS = ACCS.empty() ? nullptr : std::make_unique<std::string>(std::move(ACCS));
    FSigASDUAddr = ASigASDUAddr;
    FSigObjAddr = ASigObjAddr;
    FCtrlASDUAddr = ACtrlASDUAddr;
    FCtrlObjAddr = ACtrlObjAddr;
    FTitBound = std::move(ApTitBound);
    FIP_address = SharedHost(std::move(IP_adr));
    Fport2 = IP_Port;
    Ftype_tu = Atype_tu;
    Ftype_var = Atype_var;
}

double TArmRec::RawToEng(double valueRaw) const
{
    if (!FTitBound)
        return valueRaw;
    const TTitBound& b = *FTitBound;
    const double span = b.RawMax - b.RawMin;
    if (!(span > 0))
        return valueRaw;
    return (valueRaw - b.RawMin) * ((b.EngMax - b.EngMin) / span) + b.EngMin;
}

PArmRec TArmSignals::AddRec(int sstID, SignalType st, std::string DispName, std::uint32_t flags)
{
    if (Count() >= Capacity)
        FatalStop(TErrLstArm().GetMess(1003) + " (" + std::to_string(Capacity) + "), сигнал \"" + DispName
                  + "\" не помещается");
    return &List.emplace_back(sstID, st, std::move(DispName), flags);
}

PArmRec TArmSignals::GetRec(int ind)
{
    return ind >= 0 && ind < Count() ? &List[static_cast<std::size_t>(ind)] : nullptr;
}

const TArmRec* TArmSignals::GetRec(int ind) const
{
    return ind >= 0 && ind < Count() ? &List[static_cast<std::size_t>(ind)] : nullptr;
}

} // namespace gw
