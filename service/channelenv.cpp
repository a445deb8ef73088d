#include "service/channelenv.h"

#include "core/clients104.h"
#include "core/link104.h"
#include "service/servicelog.h"
#include "service/tables.h"

namespace gw {

namespace {
constexpr double SecondsPerDay = 86400.0;
constexpr double CountersDelaySeconds = 18; // counters are first read 18 s after a connect
} // namespace

void TraceChannelLine(const TChannelEnv& env, const std::string& file, const std::string& text)
{
    if (env.log && env.ctx->Save_Obmen_v_File)
        env.log->AppendLogLine(LongTimeText(env.clock->Now()) + text, file);
}

void TraceSocketLine(const TChannelEnv& env, int kpIndex, const std::string& text)
{
    if (env.log && env.ctx->Save_Obmen_v_File)
        env.log->AppendLogLine(text, "Socket" + std::to_string(kpIndex - 1) + ".txt");
}

void StationConnected(const TChannelEnv& env, TClient104Frm& frm, int kpIndex)
{
    frm.OnConnect();
    T_KP& kp = env.ctx->KpTable.at(static_cast<std::size_t>(kpIndex));
    const TDateTime now = env.clock->Now();
    kp.Connected = true;
    kp.Last_opros_KP_Time = now;
    kp.Last_opros_counters_101_Time = now + CountersDelaySeconds / SecondsPerDay;
}

void StationDisconnected(const TChannelEnv& env, TClient104Frm& frm, int kpIndex)
{
    frm.OnDisconnect();
    env.ctx->KpTable.at(static_cast<std::size_t>(kpIndex)).Connected = false;
}

void StationReceived(const TChannelEnv& env, TClient104Frm& frm, int kpIndex, std::span<const std::uint8_t> bytes,
                     const std::string& host, int port)
{
    frm.OnReceive(TSocket_temp{bytes, host, port}, env.ctx->Save_Obmen_v_File, kpIndex - 1);
}

} // namespace gw
