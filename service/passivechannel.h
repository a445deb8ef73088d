#pragma once
// The listening side of a passive station (one that connects to the
// gateway): one thread per station owns the listening socket on 0.0.0.0 and
// at most one connection. It hands connects and disconnects to the station's
// link object, sends the frame that the link object leaves in the station's
// mailbox (the row's Str_to_write_), passes what the station sends to the
// receive path, and drops the connection on request, on a failed write or
// when the station stays silent longer than t0 (30000 ms when t0 is 0). A
// second connection while one is up is accepted and closed at once.
//
// The thread sleeps in its TWait until the listener or the connection has
// something, the link object wakes it or the silence limit is due, so an idle
// station costs nothing; every wait ends on Stop(), so Stop() then Join()
// returns within a bounded time. Timers run on the channel's TClock.

#include "core/linkport.h"
#include "service/channelenv.h"
#include "service/channelthread.h"
#include "service/serviceparts.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace gw {

struct T_KP;

class TPassiveServer final : public TChannel, public TLinkPort {
public:
    TPassiveServer(TChannelEnv env, int kpIndex);
    ~TPassiveServer() override;
    TPassiveServer(const TPassiveServer&) = delete;
    TPassiveServer& operator=(const TPassiveServer&) = delete;

    // Listens on 0.0.0.0:port (0: any free one); the station's Port becomes
    // the bound port, and the row gets its mailbox lock when it has none.
    // False when the port cannot be opened.
    bool Open(int port);
    int LocalPort() const { return port_; }

    TLinkPort& Port() override { return *this; }
    // Runs the thread of an opened server; frm wraps the station's link object.
    void Start() override;
    // The thread drops the connection (handing over its disconnect) and
    // closes the listening socket.
    void RequestStop() override { thread_.RequestStop(); }
    bool Join(std::int64_t timeoutMs) override { return thread_.Join(timeoutMs); }

    // The link object's side.
    bool HasThread() const override { return false; }
    bool IsConnected() const override;
    bool OfferFrame(std::span<const std::uint8_t> frame) override;
    bool WithdrawFrame() override;
    void RequestConnect(const std::string&, int) override {}
    void RequestDisconnect() override;
    // The station's configured address and port, by which its tags are found.
    void CurrentAddress(std::string& host, int& port) const override;

private:
    void Execute();
    void AcceptWaiting();
    bool ListenerReady() const;
    void PassiveOnConnect(Poco::Net::StreamSocket socket, const std::string& peer);
    void PassiveOnExecute();
    bool PassiveDropIfRequested();
    void PassiveSend();
    void PassiveReceived(std::span<const std::uint8_t> bytes);
    void PassiveOnDisconnect();
    // Closes the connection and hands its disconnect over.
    void CloseConnection();

    T_KP& Kp() const;
    void SrvLog(const std::string& text) const;

    TChannelEnv env;
    const int kpIndex_;
    int port_ = 0;
    std::int32_t silenceMs_ = 0;
    Poco::Net::ServerSocket listener_;
    bool opened_ = false;
    std::optional<Poco::Net::StreamSocket> connection_;
    // The link object's view of the socket, set under the channel lock; the
    // row's Connected waits for the data transfer.
    std::atomic<bool> socketUp_{false};
    std::string peer_;
    std::int64_t lastRxMs_ = 0; // monotonic stamp of Last_otvet_from_KP

    TChannelThread thread_{*env.clock};
    TWait& wait_{thread_.Wait()};
};

} // namespace gw
