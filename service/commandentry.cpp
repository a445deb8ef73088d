#include "service/commandentry.h"

#include "core/clients104.h"
#include "core/kplist.h"
#include "service/serviceinit.h"

#include <mutex>

namespace gw {

namespace {

constexpr const char* TuTrace = "TU.txt";

TTuDecision Refuse(TServiceContext& ctx, int sstID, TTuDecision decision, const std::string& why)
{
    AppendServiceLine(ctx, " ExecuteTU - команда не выдана, sstID=" + std::to_string(sstID) + ": " + why,
                      "log_iec104.txt");
    return decision;
}

// Station and signal as the refusal lines name them.
std::string Who(int i, const TKpEthernet& kp, const TArmRec& rec)
{
    return "КП " + std::to_string(i) + " \"" + kp.name + "\", сигнал \"" + rec.DispName() + "\" (ТУ "
           + std::to_string(rec.CtrlASDUAddr()) + ":" + std::to_string(rec.CtrlObjAddr()) + ")";
}

// Under the station's channel lock: the command into its link's queue.
TTuDecision QueueCommand(TServiceContext& ctx, TClient104Frm& link, int sstID, TTUCommand TUCommand,
                         const std::string& who, const TArmRec& rec)
{
    T104Client& pcl = *link.pcl();
    AppendObmenLine(ctx, " pclTU - Find=" + pcl.str_AddrPort() + " pkp.Port=", TuTrace);
    // Without data transfer the command could only leave after a reconnect,
    // long after the operator gave it: it is refused now instead, also when
    // the connection is gone and no pass has taken that yet.
    if (!link.DataTransfer())
        return Refuse(ctx, sstID, TTuDecision::NoDataTransfer, "нет связи с " + who);
    if (!IsKnownTuType(rec.type_tu()))
        return Refuse(ctx, sstID, TTuDecision::NotCommandable,
                      "неизвестный тип ТУ=" + std::to_string(rec.type_tu()) + ", " + who);
    // A command in progress runs on; this one waits for it in the station's queue.
    if (!pcl.TuQueue.Push({TUCommand, rec.CtrlASDUAddr(), rec.CtrlObjAddr(), rec.type_tu(), sstID, who}))
        return Refuse(ctx, sstID, TTuDecision::QueueFull,
                      "очередь команд полна (" + std::to_string(TTuQueue::MaxQueuedTu) + "), " + who);
    return TTuDecision::Accepted;
}

// Finds the signal and its station's link object and starts the command.
TTuDecision StartCommand(TServiceContext& ctx, TServiceRun& run, int sstID, TTUCommand TUCommand)
{
    if (TUCommand != TTUCommand::tuCommand_On && TUCommand != TTUCommand::tuCommand_Off)
        return Refuse(ctx, sstID, TTuDecision::NoCommand, "нет команды");
    const PTagSignal tag = run.TagSignalList.GetTag(sstID);
    if (!tag)
        return Refuse(ctx, sstID, TTuDecision::NotCommandable, "нет такого сигнала");
    const TArmRec* rec = run.ArmSignals.GetRec(tag->IndArm());
    const PKpEthernet kp = rec ? run.KpList.FindKP_KpID(rec->kpID()) : nullptr;
    const int i = kp ? StationIndex(kp->ID) : 0;
    if (!rec || !kp || !ctx.Stations.IsKpIndex(i))
        return Refuse(ctx, sstID, TTuDecision::NotCommandable, "нет записи сигнала или КП");
    if (!rec->prTU())
        return Refuse(ctx, sstID, TTuDecision::NotCommandable, "у сигнала нет адресов команды");
    AppendObmenLine(ctx, " ExecuteTU - pkp.IPAddress=" + kp->IPAddress + " pkp.Port=" + std::to_string(kp->Port),
                    TuTrace);

    TTuDecision decision = TTuDecision::NoDataTransfer;
    const bool linked = ctx.Channels.WithLink(
        i, [&](TClient104Frm& link) { decision = QueueCommand(ctx, link, sstID, TUCommand, Who(i, *kp, *rec), *rec); });
    if (!linked) {
        AppendObmenLine(ctx, " pclTU - nil", TuTrace);
        return Refuse(ctx, sstID, TTuDecision::NoDataTransfer, "нет канала КП " + std::to_string(i));
    }
    return decision;
}

} // namespace

TTuDecision DecideTU(TServiceContext& ctx, int sstID, TTUCommand TUCommand)
{
    return WithRun(ctx, [&](TServiceRun* run) {
        AppendObmenLine(ctx, " ExecuteTU - _sstID=" + std::to_string(sstID), TuTrace);
        if (!run)
            return Refuse(ctx, sstID, TTuDecision::NoDataTransfer, "сервер не запущен");
        return StartCommand(ctx, *run, sstID, TUCommand);
    });
}

bool ExecuteTU(TServiceContext& ctx, int sstID, TTUCommand TUCommand)
{
    return DecideTU(ctx, sstID, TUCommand) == TTuDecision::Accepted;
}

} // namespace gw
