#include "service/channelenv.h"

#include "core/clients104.h"
#include "core/link104.h"
#include "service/servicelog.h"
#include "service/servicetick.h"
#include "service/tables.h"

namespace gw {

bool ChannelTracing(const TChannelEnv& env) { return env.log && env.ctx->Switches.Save_Obmen_v_File; }

void TraceChannelLine(const TChannelEnv& env, const std::string& file, const std::string& text)
{
    if (ChannelTracing(env))
        env.log->AppendLogLine(LongTimeText(env.clock->Now()) + text, file);
}

void TraceSocketLine(const TChannelEnv& env, int kpIndex, const std::string& text)
{
    if (ChannelTracing(env))
        env.log->AppendLogLine(text, "Socket" + std::to_string(kpIndex - 1) + ".txt");
}

void StationConnected(const TChannelEnv& env, TClient104Frm& frm, int kpIndex)
{
    frm.OnConnect();
    T_KP& kp = env.ctx->Stations.KpTable.at(static_cast<std::size_t>(kpIndex));
    ArmRequestsOnConnect(kp, env.clock->MonotonicMs());
    // Active or passive, a station with a clock synchronisation period gets
    // its clock set by it, the first time before its interrogation.
    T104Client& cl = *frm.pcl();
    cl.is_CLOCK_SYNC_103_ = cl.First_CLOCK_SYNC_103_ = kp.Interval_CLOCK_SYNC_103 > 0;
    if (kp.Interval_CLOCK_SYNC_103 > 0)
        cl.Popravka_time_103 = kp.Popravka_Time;
}

void StationDisconnected(const TChannelEnv& env, TClient104Frm& frm, int kpIndex)
{
    frm.OnDisconnect();
    T_KP& kp = env.ctx->Stations.KpTable.at(static_cast<std::size_t>(kpIndex));
    if (!kp.Connected)
        return;
    const TDateTime now = env.clock->Now();
    kp.Connected = false;
    kp.Connected_Time = now;
    kp.Drop_Time = now;
    kp.Drop_Count = kp.Drop_Count + 1;
}

void StationReceived(const TChannelEnv& env, TClient104Frm& frm, int kpIndex, std::span<const std::uint8_t> bytes,
                     const std::string& host, int port)
{
    frm.OnReceive(TSocket_temp{bytes, host, port}, env.ctx->Switches.Save_Obmen_v_File, kpIndex - 1);
    StationTransferCheck(*env.ctx, frm, kpIndex);
}

void StationTransferCheck(TServiceContext& ctx, const TClient104Frm& frm, int kpIndex)
{
    T_KP& kp = ctx.Stations.KpTable.at(static_cast<std::size_t>(kpIndex));
    if (kp.Connected || !frm.DataTransfer())
        return;
    kp.Connected = true;
    kp.Connected_Time = ctx.Process.Clock->Now();
}

} // namespace gw
