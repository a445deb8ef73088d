// The channel thread of an active station against kpsim (a real process) and
// against plain loopback sockets, with real link objects and a fake clock for
// the connect, silence and reconnect timers.

#include "service/activechannel.h"

#include "channel_rig.h"
#include "tools/kpsim_process.h"

#include <Poco/Net/StreamSocket.h>

#include <future>

namespace gw::test {
namespace {

// Reads what the gateway sent (STARTDT act) up to the end of the stream.
bool ReadsToEnd(Poco::Net::StreamSocket& peer)
{
    peer.setReceiveTimeout(Poco::Timespan(5, 0));
    char buf[256];
    try {
        while (peer.receiveBytes(buf, sizeof buf) > 0) {
        }
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

class ActiveChannel : public ChannelRig {
protected:
    // Station 1 at host:port (reserve host2:port2), its channel thread started.
    Toprosdevice& Open(const std::string& host, int port, const std::string& host2 = "",
                                       int port2 = 0)
    {
        Kp(1).IP = host;
        Kp(1).IP2 = host2;
        Kp(1).Port2 = port2;
        Prm(1).Port = port;
        Prm(1).Host.SetText(host);
        auto& dev = Keep(std::make_shared<Toprosdevice>(Env(), 1, ActiveSettingsOf(ctx, 1)));
        AddLink(1, dev);
        dev.Start(Frm(1));
        StartTick();
        return dev;
    }
    // The first connect waits 1200 ms of the channel's clock.
    void PassFirstPause() { clock.Advance(Toprosdevice::FirstConnectPauseMs); }
    std::size_t Disconnects() { return Count("Socket0.txt", " DisConnect - _"); }
    std::size_t Connects() { return Count("Socket0.txt", " Connect - _"); }
    std::vector<std::string> Attempts() { return LinesWith("Thread0.txt", " пробую соединиться с "); }
    // Stop and join of a thread must end within a bound, whatever it waits on.
    static bool StopsWithin(Toprosdevice& dev, std::chrono::milliseconds bound)
    {
        dev.Stop();
        auto joined = std::async(std::launch::async, [&dev] { dev.Join(); });
        return joined.wait_for(bound) == std::future_status::ready;
    }
};

TEST_F(ActiveChannel, StartUpWithKpsimReachesTheLinkAndInterrogates)
{
    KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100:3", "--me-float", "200:2"});
    Kp(1).Interval_CLOCK_SYNC_103 = 1;
    Kp(1).Popravka_Time = 0;
    auto& dev = Open("127.0.0.1", kpsim.ListenPort(1));
    PassFirstPause();

    ASSERT_TRUE(kpsim.WaitFor("connected station=1"));
    ASSERT_TRUE(kpsim.WaitFor("startdt station=1"));
    ASSERT_TRUE(kpsim.WaitFor("clock-sync station=1 ca=3"));
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3 qoi=20"));
    // The interrogation's answers came back through the receive path.
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> channel(ctx.ChannelLock(1));
        auto lock = Client(1)->Lock();
        // clock sync con, interrogation con, the points, the values, act term
        return Client(1)->StartDT() && Client(1)->vr() == 5;
    }));
    EXPECT_TRUE(RowConnected(1));
    EXPECT_EQ(RowIpTek(1), "127.0.0.1");
    EXPECT_EQ(Connects(), 1u);
    EXPECT_EQ(Count("Thread0.txt", " первое соединение с 127.0.0.1:" + std::to_string(kpsim.ListenPort(1))), 1u);
    EXPECT_GE(Count("Thread0.txt", " -> 68 04 07 00 00 00 "), 1u) << "STARTDT act written";

    EXPECT_TRUE(StopsWithin(dev, 2s));
    EXPECT_TRUE(kpsim.WaitFor("disconnected station=1"));
    EXPECT_EQ(Disconnects(), 1u) << "the stop hands over its last disconnect";
    EXPECT_FALSE(RowConnected(1));
}

// A peer that closes (FIN) or resets (RST) is noticed at once: one disconnect
// goes to the link object, and the link's next connect request comes back.
TEST_F(ActiveChannel, PeerCloseAndResetHandOverOneDisconnectAndReconnect)
{
    KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100:2"});
    auto& dev = Open("127.0.0.1", kpsim.ListenPort(1));
    PassFirstPause();
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));

    std::size_t expected = 0;
    for (const std::string how : {"close", "reset"}) {
        SCOPED_TRACE(how);
        kpsim.Control(how + " 1");
        ASSERT_TRUE(kpsim.WaitFor("disconnected station=1"));
        ++expected;
        ASSERT_TRUE(Eventually([&] { return Disconnects() == expected; })) << "noticed without any clock moving";
        EXPECT_FALSE(RowConnected(1));
        EXPECT_FALSE(dev.IsConnected());
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(Disconnects(), expected) << "exactly one disconnect";
        {
            std::lock_guard<std::mutex> channel(ctx.ChannelLock(1));
            auto lock = Client(1)->Lock();
            EXPECT_FALSE(Client(1)->StartDT()) << "the link object handled the disconnect";
        }
        // The link asks again after its 2000 ms pause; then the 100 ms pause.
        ASSERT_TRUE(AdvanceUntil([&] { return RowConnected(1); }));
        ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));
    }
    EXPECT_EQ(Connects(), 3u);
}

TEST_F(ActiveChannel, SilenceBeyondT0InMillisecondsDropsTheConnectionThenPauses)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.1", 0));
    Prm(1).t0 = 1500;
    auto& dev = Open("127.0.0.1", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    ASSERT_TRUE(Eventually([&] { return dev.IsConnected(); }));

    clock.Advance(1400);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(dev.IsConnected()) << "1400 ms of silence is below t0";
    clock.Advance(100);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(dev.IsConnected()) << "exactly t0 is not beyond it";
    clock.Advance(1);
    ASSERT_TRUE(Eventually([&] { return Disconnects() == 1; }));
    EXPECT_FALSE(RowConnected(1));
    EXPECT_EQ(Count("Thread0.txt", " вышел таймаут. разрываю соединение 127.0.0.1:"), 1u);
    EXPECT_TRUE(ReadsToEnd(peer)) << "the station sees the connection closed";

    // The 2500 ms pause after a silence holds back the reconnect.
    clock.Advance(2400);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(Attempts().empty());
    ASSERT_TRUE(AdvanceUntil([&] { return !Attempts().empty(); }));
    EXPECT_TRUE(StopsWithin(dev, 2s));
}

TEST_F(ActiveChannel, SilenceLimitIs30000MsWhenT0IsZero)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.1", 0));
    Prm(1).t0 = 0;
    Prm(1).t1 = Prm(1).t3 = 600000; // no link timer interferes
    auto& dev = Open("127.0.0.1", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    ASSERT_TRUE(Eventually([&] { return dev.IsConnected(); }));
    clock.Advance(30000);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(dev.IsConnected());
    clock.Advance(1);
    EXPECT_TRUE(Eventually([&] { return Disconnects() == 1; }));
}

// Primary refused, reserve listening: A first, then B, A, B on the link's
// successive connect requests; the values keep the primary address.
TEST_F(ActiveChannel, ConnectRefusedAndReserveAddressAlternation)
{
    const int portA = FreePort();
    Poco::Net::ServerSocket reserve(Poco::Net::SocketAddress("127.0.0.2", 0));
    const int portB = reserve.address().port();
    const std::string a = "127.0.0.1:" + std::to_string(portA), b = "127.0.0.2:" + std::to_string(portB);
    auto& dev = Open("127.0.0.1", portA, "127.0.0.2", portB);
    PassFirstPause();
    ASSERT_TRUE(Eventually([&] { return Count("Thread0.txt", " ошибка первого соединения с " + a) == 1; }));
    EXPECT_FALSE(dev.IsConnected());

    ASSERT_TRUE(AdvanceUntil([&] { return dev.IsConnected(); }));
    Poco::Net::StreamSocket peer = reserve.acceptConnection();
    EXPECT_EQ(RowIpTek(1), "127.0.0.2");
    std::string host;
    int port = 0;
    dev.CurrentAddress(host, port);
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, portA);

    peer.close();
    ASSERT_TRUE(Eventually([&] { return Disconnects() == 1; }));
    {
        std::lock_guard<std::mutex> channel(ctx.ChannelLock(1));
        auto lock = Client(1)->Lock();
        EXPECT_TRUE(Client(1)->Is_Rezerv_IP);
    }
    ASSERT_TRUE(AdvanceUntil([&] { return Count("Thread0.txt", " не удалось соединиться с " + a) == 1; }));
    ASSERT_TRUE(AdvanceUntil([&] { return dev.IsConnected(); }));
    Poco::Net::StreamSocket again = reserve.acceptConnection();

    const auto attempts = Attempts();
    ASSERT_EQ(attempts.size(), 3u);
    EXPECT_NE(attempts[0].find(b), std::string::npos);
    EXPECT_NE(attempts[1].find(a), std::string::npos);
    EXPECT_NE(attempts[2].find(b), std::string::npos);
    EXPECT_TRUE(StopsWithin(dev, 2s));
}

TEST_F(ActiveChannel, WithoutReserveEveryAttemptGoesToThePrimary)
{
    const int portA = FreePort();
    Open("127.0.0.1", portA, "127.0.0.1", portA); // a reserve equal to the primary is none
    PassFirstPause();
    ASSERT_TRUE(AdvanceUntil([&] { return Attempts().size() >= 2; }));
    for (const std::string& line : Attempts())
        EXPECT_NE(line.find("127.0.0.1:" + std::to_string(portA)), std::string::npos) << line;
    EXPECT_EQ(Count("Thread0.txt", " cмена текущего IP на  "), 0u);
}

// A listening socket whose backlog is full never completes a connect: the
// connect times out on the channel's clock, and a stop ends the thread while
// the next connect hangs.
TEST_F(ActiveChannel, HangingConnectTimesOutOnTheClockAndStopsWithinABound)
{
    Poco::Net::ServerSocket full;
    full.bind(Poco::Net::SocketAddress("127.0.0.1", 0));
    full.listen(0);
    std::vector<Poco::Net::StreamSocket> fillers;
    for (int i = 0; i < 8; ++i) {
        Poco::Net::StreamSocket s;
        s.connectNB(full.address());
        fillers.push_back(s);
    }
    std::this_thread::sleep_for(50ms);
    auto& dev = Open("127.0.0.1", full.address().port());
    PassFirstPause();
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(dev.IsConnected());
    EXPECT_EQ(Count("Thread0.txt", " ошибка первого соединения с "), 0u) << "still connecting";

    clock.Advance(Toprosdevice::FirstConnectTimeoutMs);
    ASSERT_TRUE(Eventually([&] { return Count("Thread0.txt", " ошибка первого соединения с ") == 1; }));
    ASSERT_TRUE(AdvanceUntil([&] { return Attempts().size() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(StopsWithin(dev, 2s)) << "a hanging connect does not hold the stop";
    EXPECT_EQ(Count("Thread0.txt", " поток завершается "), 1u);
    EXPECT_EQ(Disconnects(), 0u) << "nothing was connected, nothing to hand over";
}

} // namespace
} // namespace gw::test
