#include "service/passivechannel.h"

#include "core/clients104.h"
#include "core/text.h"
#include "service/channelsocket.h"
#include "service/channelstep.h"
#include "service/serviceinit.h"
#include "service/tables.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>

#include <poll.h>

namespace gw {

TPassiveServer::TPassiveServer(TChannelEnv aenv, int kpIndex) : env(aenv), kpIndex_(kpIndex) {}

TPassiveServer::~TPassiveServer() { thread_.StopAndJoin(); }

T_KP& TPassiveServer::Kp() const { return env.ctx->Stations.KpTable.at(static_cast<std::size_t>(kpIndex_)); }

bool TPassiveServer::Open(int port)
{
    const std::int32_t t0 = env.ctx->Channels.Prmn104.at(static_cast<std::size_t>(kpIndex_ - 1)).t0;
    silenceMs_ = t0 > 0 ? t0 : SilenceFallbackMs;
    if (port < 0 || port > 65535)
        return false;
    try {
        listener_.bind(Poco::Net::SocketAddress("0.0.0.0", static_cast<Poco::UInt16>(port)), true, false);
        listener_.listen();
        listener_.setBlocking(false);
    } catch (const Poco::Exception&) {
        return false;
    }
    port_ = listener_.address().port();
    T_KP& kp = Kp();
    kp.Port = port_;
    if (!kp.Str_to_write_section)
        kp.Str_to_write_section = std::make_shared<std::mutex>();
    opened_ = true;
    return true;
}

void TPassiveServer::Start()
{
    if (!opened_)
        return;
    thread_.Start([this] { Execute(); });
}

bool TPassiveServer::IsConnected() const { return socketUp_.load(); }

bool TPassiveServer::OfferFrame(std::span<const std::uint8_t> frame)
{
    T_KP& kp = Kp();
    if (!kp.Str_to_write_section)
        return false;
    {
        std::lock_guard<std::mutex> guard(*kp.Str_to_write_section);
        if (!kp.Str_to_write_.empty())
            return false;
        kp.Str_to_write_.assign(frame.begin(), frame.end());
    }
    wait_.Wake();
    return true;
}

void TPassiveServer::RequestDisconnect()
{
    Kp().Must_disconnect_SVR = true;
    wait_.Wake();
}

void TPassiveServer::CurrentAddress(std::string& host, int& port) const
{
    host = Kp().IP;
    port = Kp().Port;
}

// Every step runs under its own guard: a failure is logged with the station
// and the thread goes on, so that the stop still closes the connection.
void TPassiveServer::Execute()
{
    while (!wait_.StopRequested()) {
        const bool done = ChannelStep(env, kpIndex_, [this] {
            if (connection_)
                PassiveOnExecute();
            else
                wait_.Poll(listener_.impl()->sockfd(), POLLIN);
            AcceptWaiting();
        });
        if (!done)
            wait_.WaitMs(ChannelFailurePauseMs);
    }
    ChannelStep(env, kpIndex_, [this] {
        if (connection_)
            CloseConnection();
    });
    listener_.close();
}

bool TPassiveServer::ListenerReady() const
{
    pollfd fd{listener_.impl()->sockfd(), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN) != 0;
}

void TPassiveServer::AcceptWaiting()
{
    while (ListenerReady()) {
        Poco::Net::SocketAddress peer;
        Poco::Net::StreamSocket socket;
        try {
            socket = listener_.acceptConnection(peer);
        } catch (const Poco::Exception&) {
            return; // gone before it was taken
        }
        if (connection_) {
            SrvLog(" Refused " + peer.toString() + " to port " + std::to_string(port_) + " ");
            socket.close(); // one connection per station
            continue;
        }
        PassiveOnConnect(socket, peer.toString());
    }
}

void TPassiveServer::PassiveOnConnect(Poco::Net::StreamSocket socket, const std::string& peer)
{
    std::lock_guard<std::mutex> events(env.ctx->Channels.PassiveEventLock);
    connection_ = std::move(socket);
    peer_ = peer;
    env.ctx->Channels.WithChannel(kpIndex_, [&](TClient104Frm* frm) {
        T_KP& kp = Kp();
        WithdrawFrame();
        kp.Must_disconnect_SVR = false;
        lastRxMs_ = env.clock->MonotonicMs();
        kp.Last_otvet_from_KP = env.clock->Now();
        socketUp_ = true;
        if (frm)
            StationConnected(env, *frm, kpIndex_);
        kp.IP_tek = kp.IP;
        kp.Port_tek = kp.Port;
        TraceSocketLine(env, kpIndex_, " Connect -  to port " + std::to_string(kp.Port_tek));
    });
    SrvLog(" Connect " + peer_ + " to port " + std::to_string(port_) + " ");
}

void TPassiveServer::PassiveOnExecute()
{
    if (env.clock->MonotonicMs() - lastRxMs_ > silenceMs_)
        Kp().Must_disconnect_SVR = true;
    if (PassiveDropIfRequested())
        return;
    PassiveSend();
    std::uint8_t buf[ChannelReadCap];
    // Silence beyond the limit is due a millisecond after it. The listener
    // is watched too: a second connection is refused at once.
    pollfd fds[2] = {{connection_->impl()->sockfd(), POLLIN, 0}, {listener_.impl()->sockfd(), POLLIN, 0}};
    wait_.Poll(fds, lastRxMs_ + silenceMs_ + 1);
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
        return;
    const int n = ReadWaiting(*connection_, buf);
    if (n < 0) {
        CloseConnection();
        return;
    }
    if (n == 0)
        return;
    const std::span<const std::uint8_t> bytes(buf, static_cast<std::size_t>(n));
    if (ChannelTracing(env))
        SrvLog(BufToHex(bytes, bytes.size(), " Read from client ") + " ");
    PassiveReceived(bytes);
    PassiveSend();
}

bool TPassiveServer::PassiveDropIfRequested()
{
    if (!Kp().Must_disconnect_SVR)
        return false;
    SrvLog(" disconnect_SVR ");
    CloseConnection();
    SrvLog(" disconnected SVR ");
    return true;
}

void TPassiveServer::CloseConnection()
{
    connection_->close();
    connection_.reset();
    PassiveOnDisconnect();
}

void TPassiveServer::PassiveSend()
{
    T_KP& kp = Kp();
    std::string frame;
    {
        std::lock_guard<std::mutex> guard(*kp.Str_to_write_section);
        frame.swap(kp.Str_to_write_);
    }
    if (frame.empty() || !socketUp_)
        return;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size());
    if (WriteStream(*connection_, bytes, ChannelWriteTimeoutMs, wait_)) {
        if (ChannelTracing(env))
            SrvLog(BufToHex(bytes, bytes.size(), " Write to client ") + " ");
        return;
    }
    SrvLog(BufToHex(bytes, bytes.size(), " Error Write ") + " ");
    kp.Must_disconnect_SVR = true; // the frame is lost; the next pass drops the connection
    wait_.Wake();
}

void TPassiveServer::PassiveReceived(std::span<const std::uint8_t> bytes)
{
    env.ctx->Channels.WithChannel(kpIndex_, [&](TClient104Frm* frm) {
        T_KP& kp = Kp();
        lastRxMs_ = env.clock->MonotonicMs();
        kp.Last_otvet_from_KP = env.clock->Now();
        if (frm)
            StationReceived(env, *frm, kpIndex_, bytes, kp.IP, kp.Port);
    });
}

void TPassiveServer::PassiveOnDisconnect()
{
    std::lock_guard<std::mutex> events(env.ctx->Channels.PassiveEventLock);
    env.ctx->Channels.WithChannel(kpIndex_, [&](TClient104Frm* frm) {
        T_KP& kp = Kp();
        socketUp_ = false;
        // The link takes back a frame still waiting, learning that it never
        // left; none of the old connection may open the next one.
        if (frm)
            StationDisconnected(env, *frm, kpIndex_);
        WithdrawFrame();
        kp.Must_disconnect_SVR = false;
        TraceSocketLine(env, kpIndex_, " DisConnect -  from port " + std::to_string(kp.Port_tek));
    });
    SrvLog(" DisConnect " + peer_ + " port " + std::to_string(port_) + " ");
}

bool TPassiveServer::WithdrawFrame()
{
    T_KP& kp = Kp();
    if (!kp.Str_to_write_section)
        return false;
    std::lock_guard<std::mutex> guard(*kp.Str_to_write_section);
    const bool held = !kp.Str_to_write_.empty();
    kp.Str_to_write_.clear();
    return held;
}

void TPassiveServer::SrvLog(const std::string& text) const
{
    TraceChannelLine(env, "Thread_srv_port_" + std::to_string(port_) + ".txt", text);
}

} // namespace gw
