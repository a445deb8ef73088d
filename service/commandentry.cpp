#include "service/commandentry.h"

#include "core/kplist.h"
#include "service/serviceinit.h"

#include <mutex>

namespace gw {

namespace {

constexpr const char* TuTrace = "TU.txt";

bool Refuse(TServiceContext& ctx, int sstID, const std::string& why)
{
    AppendServiceLine(ctx, " ExecuteTU - команда не выдана, sstID=" + std::to_string(sstID) + ": " + why,
                      "log_iec104.txt");
    return false;
}

// Finds the signal and its station's link object and starts the command.
bool StartCommand(TServiceContext& ctx, TServiceRun& run, int sstID, TTUCommand TUCommand)
{
    if (TUCommand != TTUCommand::tuCommand_On && TUCommand != TTUCommand::tuCommand_Off)
        return Refuse(ctx, sstID, "нет команды");
    const PTagSignal tag = run.TagSignalList.GetTag(sstID);
    if (!tag)
        return Refuse(ctx, sstID, "нет такого сигнала");
    const TArmRec* rec = run.ArmSignals.GetRec(tag->IndArm());
    const PKpEthernet kp = rec ? run.KpList.FindKP_KpID(rec->kpID()) : nullptr;
    const int i = kp ? StationIndex(kp->ID) : 0;
    if (!rec || !kp || !ctx.IsKpIndex(i))
        return Refuse(ctx, sstID, "нет записи сигнала или КП");
    if (!rec->prTU())
        return Refuse(ctx, sstID, "у сигнала нет адресов команды");
    AppendObmenLine(ctx, " ExecuteTU - pkp.IPAddress=" + kp->IPAddress + " pkp.Port=" + std::to_string(kp->Port),
                    TuTrace);

    std::lock_guard<std::mutex> channel(ctx.ChannelLock(i));
    const auto pcl = ctx.Clients104->GetPcl(i - 1);
    if (!pcl) {
        AppendObmenLine(ctx, " pclTU - nil", TuTrace);
        return Refuse(ctx, sstID, "нет канала КП " + std::to_string(i));
    }
    auto lock = pcl->Lock();
    AppendObmenLine(ctx, " pclTU - Find=" + pcl->str_AddrPort() + " pkp.Port=", TuTrace);
    // Without data transfer the command could only leave after a reconnect,
    // long after the operator gave it: it is refused now instead.
    if (!pcl->StartDT())
        return Refuse(ctx, sstID, "нет связи с КП " + std::to_string(i));
    if (!pcl->ElemTU.Init(TUCommand, rec->CtrlASDUAddr(), rec->CtrlObjAddr(), pcl->Layout(), true, rec->type_tu()))
        return Refuse(ctx, sstID, "команда не инициализирована");
    return true;
}

} // namespace

bool ExecuteTU(TServiceContext& ctx, int sstID, TTUCommand TUCommand)
{
    return WithRun(ctx, [&](TServiceRun* run) {
        AppendObmenLine(ctx, " ExecuteTU - _sstID=" + std::to_string(sstID), TuTrace);
        if (!run)
            return Refuse(ctx, sstID, "сервер не запущен");
        return StartCommand(ctx, *run, sstID, TUCommand);
    });
}

} // namespace gw
