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
// Every wait is a slice of TChannelWake, so Stop() then Join() returns within
// a bounded time; timers run on the channel's TClock.

#include "core/linkport.h"
#include "service/channelenv.h"
#include "service/channelwake.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace gw {

struct T_KP;

class TPassiveServer final : public TLinkPort {
public:
    TPassiveServer(TChannelEnv env, int kpIndex);
    ~TPassiveServer() override;
    TPassiveServer(const TPassiveServer&) = delete;
    TPassiveServer& operator=(const TPassiveServer&) = delete;

    // Listens on 0.0.0.0 and the port of the station's parameter record; the
    // station's Port becomes the bound port, an empty IP becomes "IP" + index,
    // and the row gets a fresh mailbox lock. When the port cannot be opened:
    // "Ошибка открытия сокета " and the port in "error_iec104.txt", false.
    bool Open();
    // Runs the thread of an opened server; frm wraps the station's link object.
    void Start(std::shared_ptr<TClient104Frm> frm);
    // Asks the thread to end; it drops the connection (handing over its
    // disconnect) and closes the listening socket.
    void Stop();
    void Join();
    int LocalPort() const { return port_; }

    // The link object's side.
    bool HasThread() const override { return false; }
    bool IsConnected() const override;
    bool OfferFrame(std::span<const std::uint8_t> frame) override;
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
    void ClearMailbox();

    T_KP& Kp() const;
    void SrvLog(const std::string& text) const;

    TChannelEnv env;
    const int kpIndex_;
    int port_ = 0;
    std::int32_t silenceMs_ = DefaultSilenceMs;
    std::shared_ptr<TClient104Frm> frm_;
    Poco::Net::ServerSocket listener_;
    bool opened_ = false;
    std::optional<Poco::Net::StreamSocket> connection_;
    std::string peer_;
    std::int64_t lastRxMs_ = 0; // monotonic stamp of Last_otvet_from_KP

    TChannelWake wake_;
    std::thread thread_;
};

} // namespace gw
