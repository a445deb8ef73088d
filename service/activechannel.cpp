#include "service/activechannel.h"

#include "core/clients104.h"
#include "core/text.h"
#include "service/channelsocket.h"
#include "service/channelstep.h"
#include "service/tables.h"

#include <algorithm>
#include <utility>

namespace gw {

Toprosdevice::Toprosdevice(TChannelEnv aenv, const TActiveChannelParams& p)
    : env(aenv), Number_of_Thread(p.Number_of_Thread), Host_Thread(p.Host_Thread), Port_Thread(p.Port_Thread),
      Host_Thread2(p.Host_Thread2), Port_Thread2(p.Port_Thread2), T0(p.T0)
{
}

Toprosdevice::~Toprosdevice() { thread_.StopAndJoin(); }

void Toprosdevice::Start()
{
    // The first connect pause counts from here, not from when the thread runs.
    Date_TimeLast_OTVET_Good = Date_Time_Period_test = env.clock->MonotonicMs();
    thread_.Start([this] { Execute(); });
}

bool Toprosdevice::OfferFrame(std::span<const std::uint8_t> frame)
{
    {
        std::lock_guard<std::mutex> guard(str_To_write_cr_section);
        if (!str_To_write.empty())
            return false;
        str_To_write.assign(frame.begin(), frame.end());
    }
    wait_.Wake();
    return true;
}

void Toprosdevice::RequestConnect(const std::string& host, int port)
{
    {
        std::lock_guard<std::mutex> guard(addressLock_);
        Host_Thread = host;
        Port_Thread = port;
    }
    must_connect = true;
    wait_.Wake();
}

void Toprosdevice::RequestDisconnect()
{
    must_Disconnect = true;
    wait_.Wake();
}

void Toprosdevice::CurrentAddress(std::string& host, int& port) const
{
    std::lock_guard<std::mutex> guard(addressLock_);
    host = Host_Thread;
    port = Port_Thread;
}

// Every step runs under its own guard: a failure is logged with the station
// and the thread goes on, so that the stop still hands over its disconnect.
void Toprosdevice::Execute()
{
    ChannelStep(env, Number_of_Thread, [this] {
        if (wait_.WaitUntil(Date_TimeLast_OTVET_Good + FirstConnectPauseMs))
            FirstConnect();
    });
    while (!wait_.StopRequested()) {
        if (!ChannelStep(env, Number_of_Thread, [this] { Cycle(); }))
            wait_.WaitMs(ChannelFailurePauseMs);
    }
    ChannelStep(env, Number_of_Thread, [this] { ThreadLog(" поток завершается " + HostPort() + " "); });
    must_Disconnect = false;
    ChannelStep(env, Number_of_Thread, [this] { CloseSocket(); });
}

void Toprosdevice::FirstConnect()
{
    {
        std::lock_guard<std::mutex> guard(addressLock_);
        Host_Thread_tek = Host_Thread;
        Port_Thread_tek = Port_Thread;
    }
    const bool ok = Connect(FirstConnectTimeoutMs);
    Date_TimeLast_OTVET_Good = env.clock->MonotonicMs();
    if (!ok) {
        ThreadLog(" ошибка первого соединения с " + HostPort() + " ");
        return;
    }
    ThreadLog(" первое соединение с " + HostPort() + " установлено");
    SyncConnected();
    must_connect = false;
}

void Toprosdevice::Cycle()
{
    if (must_connect)
        Reconnect();
    if (must_Disconnect.exchange(false)) {
        CloseSocket();
        ThreadLog(" соединение с " + HostPort() + " разорвано");
    }
    const std::int64_t now = env.clock->MonotonicMs();
    if (now - Date_Time_Period_test > PeriodicLogMs) {
        ThreadLog(" периодическая запись в лог " + HostPort() + " ");
        Date_Time_Period_test = now;
    }
    std::vector<std::uint8_t> frame;
    {
        std::lock_guard<std::mutex> guard(str_To_write_cr_section);
        frame.swap(str_To_write);
    }
    if (!frame.empty())
        WriteBytes(frame);
    ReadBytes();
    CheckSilence();
}

void Toprosdevice::Reconnect()
{
    ThreadLog(" пробую убрать соединение " + HostPort() + " ");
    CloseSocket();
    if (!wait_.WaitMs(ReconnectPauseMs))
        return;
    {
        std::lock_guard<std::mutex> guard(addressLock_);
        if (HasReserve())
            SwitchAddress();
        else {
            Host_Thread_tek = Host_Thread;
            Port_Thread_tek = Port_Thread;
        }
    }
    ThreadLog(" пробую соединиться с " + HostPort() + " ");
    if (Connect(ConnectTimeoutMs)) {
        ThreadLog(" соединение с " + HostPort() + " установлено");
        SyncConnected();
    } else
        ThreadLog(" не удалось соединиться с " + HostPort() + " ");
    Date_TimeLast_OTVET_Good = env.clock->MonotonicMs();
    must_connect = false;
}

// Alternates between the primary and the reserve address, compared as text:
// a reserve with the primary's own address is never used.
void Toprosdevice::SwitchAddress()
{
    const bool onReserve = Host_Thread_tek == Host_Thread2 && Port_Thread_tek == Port_Thread2;
    const bool onPrimary = Host_Thread_tek == Host_Thread && Port_Thread_tek == Port_Thread;
    if (onReserve && !onPrimary) {
        Host_Thread_tek = Host_Thread;
        Port_Thread_tek = Port_Thread;
    } else if (onPrimary && !onReserve) {
        Host_Thread_tek = Host_Thread2;
        Port_Thread_tek = Port_Thread2;
    } else
        return;
    ThreadLog(" cмена текущего IP на  " + HostPort() + " ");
}

bool Toprosdevice::HasReserve() const { return Port_Thread2 > 0 && !Host_Thread2.empty(); }

bool Toprosdevice::Connect(std::int64_t timeoutMs)
{
    IdTCPClient_Thread = ConnectStream(Host_Thread_tek, Port_Thread_tek, timeoutMs, wait_);
    return IdTCPClient_Thread.has_value();
}

void Toprosdevice::ReadBytes()
{
    if (first_zapusk || !IdTCPClient_Thread) {
        wait_.Poll(-1, 0, NextDeadline());
        return;
    }
    std::uint8_t buf[ChannelReadCap];
    const int n = ReadStream(*IdTCPClient_Thread, buf, wait_, NextDeadline());
    if (n < 0) {
        ThreadLog(" ClientDisconnected " + HostPort() + " ");
        CloseSocket();
        return;
    }
    if (n == 0)
        return;
    const std::span<const std::uint8_t> bytes(buf, static_cast<std::size_t>(n));
    Date_TimeLast_OTVET_Good = env.clock->MonotonicMs();
    if (ChannelTracing(env))
        ThreadLog(BufToHex(bytes, bytes.size(), " <- "));
    SyncReceived(bytes);
}

void Toprosdevice::WriteBytes(const std::vector<std::uint8_t>& bytes)
{
    first_zapusk = false;
    if (ChannelTracing(env))
        ThreadLog(" WriteText len=" + std::to_string(bytes.size()));
    if (!IdTCPClient_Thread)
        return;
    if (!WriteStream(*IdTCPClient_Thread, bytes, ChannelWriteTimeoutMs, wait_)) {
        // A write that fails means the connection is gone.
        ThreadLog(BufToHex(bytes, bytes.size(), " Ошибка отправки байт "));
        CloseSocket();
        return;
    }
    if (ChannelTracing(env))
        ThreadLog(BufToHex(bytes, bytes.size(), " -> "));
}

void Toprosdevice::CheckSilence()
{
    if (!Is_Connect || env.clock->MonotonicMs() - Date_TimeLast_OTVET_Good <= T0)
        return;
    ThreadLog(" вышел таймаут. разрываю соединение " + HostPort() + " " + std::to_string(T0));
    CloseSocket();
    wait_.WaitMs(SilencePauseMs);
}

// The periodic line and the silence check fire once their time is strictly
// beyond the limit, that is a millisecond after it.
std::int64_t Toprosdevice::NextDeadline() const
{
    const std::int64_t periodic = Date_Time_Period_test + PeriodicLogMs + 1;
    if (!Is_Connect)
        return periodic;
    return std::min(periodic, Date_TimeLast_OTVET_Good + T0 + 1);
}

void Toprosdevice::CloseSocket()
{
    if (IdTCPClient_Thread) {
        IdTCPClient_Thread->close();
        IdTCPClient_Thread.reset();
    }
    if (std::exchange(handedConnect_, false))
        SyncDisconnected();
    Is_Connect = false;
}

void Toprosdevice::SyncConnected()
{
    env.ctx->Channels.WithChannel(Number_of_Thread, [&](TClient104Frm* frm) {
        WithdrawFrame();
        Is_Connect = true;
        handedConnect_ = true;
        if (frm)
            StationConnected(env, *frm, Number_of_Thread);
        T_KP& kp = env.ctx->Stations.KpTable.at(static_cast<std::size_t>(Number_of_Thread));
        kp.IP_tek = Host_Thread_tek;
        kp.Port_tek = Port_Thread_tek;
        TraceSocketLine(env, Number_of_Thread, " Connect - _" + Host_Thread_tek);
    });
}

void Toprosdevice::SyncDisconnected()
{
    env.ctx->Channels.WithChannel(Number_of_Thread, [&](TClient104Frm* frm) {
        Is_Connect = false;
        // The link takes back a frame still waiting, learning that it never
        // left; none of the old connection may open the next one.
        if (frm) {
            StationDisconnected(env, *frm, Number_of_Thread);
            frm->pcl()->Is_Rezerv_IP = HasReserve();
        }
        WithdrawFrame();
        TraceSocketLine(env, Number_of_Thread, " DisConnect - _" + Host_Thread_tek);
    });
}

void Toprosdevice::SyncReceived(std::span<const std::uint8_t> bytes)
{
    if (!env.ctx->Switches.PollingOn)
        return;
    env.ctx->Channels.WithLink(Number_of_Thread, [&](TClient104Frm& frm) {
        StationReceived(env, frm, Number_of_Thread, bytes, Host_Thread_tek, Port_Thread_tek);
    });
}

bool Toprosdevice::WithdrawFrame()
{
    std::lock_guard<std::mutex> guard(str_To_write_cr_section);
    const bool held = !str_To_write.empty();
    str_To_write.clear();
    return held;
}

std::string Toprosdevice::HostPort() const { return Host_Thread_tek + ":" + std::to_string(Port_Thread_tek); }

void Toprosdevice::ThreadLog(const std::string& text) const
{
    TraceChannelLine(env, "Thread" + std::to_string(Number_of_Thread - 1) + ".txt", text);
}

} // namespace gw
