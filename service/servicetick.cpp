#include "service/servicetick.h"

#include "core/clients104.h"
#include "service/channelenv.h"
#include "service/publication.h"
#include "service/serviceinit.h"

#include <exception>
#include <string>
#include <mutex>

namespace gw {

namespace {

// Never requested yet, or more than minutes past the last request.
bool Due(const std::optional<std::int64_t>& last, int minutes, std::int64_t nowMs)
{
    return !last || nowMs > *last + minutes * MsPerMinute;
}

// The tick goes on past a failure, but never without a word: the line names
// the station (0 for the value publication) and what failed.
void TickFailure(TServiceContext& ctx, int kpIndex, const char* what) noexcept
{
    try {
        AppendServiceLine(ctx, "ServiceTick: КП " + std::to_string(kpIndex) + ": " + what, "error_iec104.txt");
    } catch (...) {
        // A line that cannot be made is lost, as one that cannot be written.
    }
}

} // namespace

void ArmRequestsOnConnect(T_KP& kp, std::int64_t nowMs)
{
    kp.Last_opros_KP_Time = nowMs;
    kp.Last_opros_counters_101_Time = nowMs + CountersAfterConnectMs;
}

void RaisePeriodicRequests(TServiceContext& ctx, int i, T104Client& pcl, std::int64_t nowMs)
{
    T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
    if (kp.Interval_CLOCK_SYNC_103 > 0 && Due(kp.Last_CLOCK_SYNC_103_Time, kp.Interval_CLOCK_SYNC_103, nowMs)) {
        pcl.PROC_CLOCK_SYNC_103_ = true;
        kp.Last_CLOCK_SYNC_103_Time = nowMs + ClockSyncSlackMs;
    }
    if (kp.OPROS_KP > 0 && kp.Last_opros_KP_Time && Due(kp.Last_opros_KP_Time, kp.OPROS_KP, nowMs)) {
        if (kp.Passive && kp.Must_disconnect_SVR)
            AppendObmenLine(ctx, LongTimeText(ctx.Process.Clock->Now()) + " Cicle 1 " + " ",
                            "Thread_srv_port_" + std::to_string(kp.Port) + ".txt");
        pcl.OPROS_KP_ = true;
        kp.Last_opros_KP_Time = nowMs;
    }
    if (kp.Interval_opros_counters_101 >= 1
        && Due(kp.Last_opros_counters_101_Time, kp.Interval_opros_counters_101, nowMs)) {
        pcl.opros_counters_101_ = true;
        kp.Last_opros_counters_101_Time = nowMs;
    }
}

void ServiceTick(TServiceContext& ctx)
{
    if (!ctx.Running.Run)
        return;
    ctx.Running.TickCounter += 1;
    if (ctx.Running.TickCounter > TickCounterMax)
        ctx.Running.TickCounter = 0;
    ServicePeriodic(ctx);
    if (ctx.Running.TickCounter % 3 == 0)
        ServiceSlowTick(ctx);
}

void ServicePeriodic(TServiceContext& ctx)
{
    const std::int64_t now = ctx.Process.Clock->MonotonicMs();
    const bool save = ctx.Switches.Save_Obmen_v_File;
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        ctx.Channels.WithLink(i, [&](TClient104Frm& frm) {
            const int c = i - 1;
            try {
                RaisePeriodicRequests(ctx, i, *frm.pcl(), now);
                if (frm.pcl()->Work())
                    frm.pcl()->Connecting(save, c);
                frm.DoService(save, c);
                // The service answers a station's STARTDT act: that starts the transfer too.
                StationTransferCheck(ctx, frm, i);
            } catch (const std::exception& e) {
                // One channel's failure leaves the others their pass.
                TickFailure(ctx, i, e.what());
            }
        });
}

void ServiceSlowTick(TServiceContext& ctx)
{
    try {
        PushOpcValues(ctx);
    } catch (const std::exception& e) {
        TickFailure(ctx, 0, e.what());
    }
    const bool save = ctx.Switches.Save_Obmen_v_File;
    for (int i = 1; i <= ctx.Stations.KpCount; ++i)
        ctx.Channels.WithLink(i, [&](TClient104Frm& frm) {
            try {
                frm.DoService(save, i - 1);
                StationTransferCheck(ctx, frm, i);
                frm.CheckValid1(false);
            } catch (const std::exception& e) {
                TickFailure(ctx, i, e.what());
            }
        });
}

} // namespace gw
