#pragma once
// The channel thread of an active station (one the gateway connects to). It
// owns the TCP socket: makes the first connection, connects again when the
// link object asks (alternating between the primary and the reserve address
// when a reserve is configured), writes the frame the link object leaves in
// its one-frame mailbox, reads what the station sends and drops a station
// that stays silent longer than T0. Connects, disconnects and received bytes
// go to the link object on this thread, under the channel lock.
//
// The thread sleeps in its TWait until the socket has bytes, the link object
// wakes it or its next timer (silence, periodic line) is due, so an idle
// channel costs nothing. The connect is non-blocking and polled, every wait
// ends on Stop(), so Stop() then Join() returns within a bounded time even
// while a connect hangs. Timers run on the channel's TClock.

#include "core/linkport.h"
#include "service/channelenv.h"
#include "service/channelthread.h"
#include "service/serviceparts.h"

#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gw {

class Toprosdevice final : public TChannel, public TLinkPort {
public:
    static constexpr std::int64_t FirstConnectPauseMs = 1200;
    static constexpr std::int64_t FirstConnectTimeoutMs = 10000;
    static constexpr std::int64_t ConnectTimeoutMs = 15000;
    static constexpr std::int64_t ReconnectPauseMs = 100;
    static constexpr std::int64_t SilencePauseMs = 2500;
    static constexpr std::int64_t PeriodicLogMs = 60000;

    // Number_of_Thread of the params is the channel number, which is the
    // station index.
    Toprosdevice(TChannelEnv env, const TActiveChannelParams& params);
    ~Toprosdevice() override;
    Toprosdevice(const Toprosdevice&) = delete;
    Toprosdevice& operator=(const Toprosdevice&) = delete;

    TLinkPort& Port() override { return *this; }
    // Runs the thread; frm is the wrapper of the channel's link object.
    void Start() override;
    // The thread hands over its last disconnect and closes the socket.
    void RequestStop() override { thread_.RequestStop(); }
    bool Join(std::int64_t timeoutMs) override { return thread_.Join(timeoutMs); }

    // The link object's side.
    bool HasThread() const override { return true; }
    bool IsConnected() const override { return Is_Connect.load(); }
    bool OfferFrame(std::span<const std::uint8_t> frame) override;
    bool WithdrawFrame() override;
    void RequestConnect(const std::string& host, int port) override;
    void RequestDisconnect() override;
    // The primary address: received values find their tags by it.
    void CurrentAddress(std::string& host, int& port) const override;

private:
    void Execute();
    void Cycle();
    void FirstConnect();
    void Reconnect();
    void SwitchAddress();
    bool Connect(std::int64_t timeoutMs);
    void ReadBytes();
    void WriteBytes(const std::vector<std::uint8_t>& bytes);
    bool SendAll(const std::vector<std::uint8_t>& bytes);
    void CheckSilence();
    // The clock's time at which the next timer of the thread is due.
    std::int64_t NextDeadline() const;
    // Closes the socket and hands over one disconnect when a connect was handed over.
    void CloseSocket();

    void SyncConnected();
    void SyncDisconnected();
    void SyncReceived(std::span<const std::uint8_t> bytes);

    bool HasReserve() const;
    std::string HostPort() const;
    void ThreadLog(const std::string& text) const;

    TChannelEnv env;
    int Number_of_Thread;

    mutable std::mutex addressLock_; // Host_Thread and Port_Thread, set by the link object
    std::string Host_Thread;
    std::int32_t Port_Thread;
    const std::string Host_Thread2;
    const std::int32_t Port_Thread2;
    const std::int32_t T0;
    std::string Host_Thread_tek;
    std::int32_t Port_Thread_tek = 0;

    std::optional<Poco::Net::StreamSocket> IdTCPClient_Thread;
    bool handedConnect_ = false;

    std::mutex str_To_write_cr_section;
    std::vector<std::uint8_t> str_To_write; // empty = free

    // Monotonic milliseconds of the last received byte (also set at connects
    // and failed connects) and of the last periodic line.
    std::int64_t Date_TimeLast_OTVET_Good = 0;
    std::int64_t Date_Time_Period_test = 0;

    std::atomic<bool> must_connect{false};
    std::atomic<bool> must_Disconnect{false};
    std::atomic<bool> Is_Connect{false};
    bool first_zapusk = true; // nothing is read before the first write

    TChannelThread thread_{*env.clock};
    TWait& wait_{thread_.Wait()};
};

} // namespace gw
