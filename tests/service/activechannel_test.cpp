// The channel thread of an active station against kpsim (a real process) and
// against plain loopback sockets, with real link objects and a fake clock for
// the connect, silence and reconnect timers.

#include "service/activechannel.h"

#include "service/serviceinit.h"

#include "channel_rig.h"
#include "testkit/kpsim_process.h"

#include <Poco/Net/StreamSocket.h>

namespace gw::test {
namespace {

class ActiveChannel : public ChannelRig {
protected:
    // Station 1 at host:port (reserve host2:port2), its channel thread started.
    Toprosdevice& Open(const std::string& host, int port, const std::string& host2 = "", int port2 = 0)
    {
        Kp(1).IP = host;
        Kp(1).IP2 = host2;
        Kp(1).Port2 = port2;
        Prm(1).Port = port;
        Prm(1).Host.SetText(host); // the service start copies the station's IP there
        const TActiveChannelParams params{1, host, port, host2, port2, Prm(1).t0 > 0 ? Prm(1).t0 : SilenceFallbackMs};
        auto& dev = Keep(std::make_shared<Toprosdevice>(Env(), params));
        AddLink(1, dev);
        dev.Start();
        StartTick();
        return dev;
    }
    // The first connect waits 1200 ms of the channel's clock.
    void PassFirstPause() { clock.Advance(1200); }
    std::size_t Disconnects() { return Count("Socket0.txt", " DisConnect - _"); }
    std::size_t Connects() { return Count("Socket0.txt", " Connect - _"); }
    std::vector<std::string> Attempts() { return LinesWith("Thread0.txt", " пробую соединиться с "); }
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
    // clock sync con, interrogation con, the points, the values, act term
    EXPECT_TRUE(LinkStarted(1, 5));
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
        ASSERT_TRUE(channelClock.AwaitPass());
        ASSERT_TRUE(AwaitTick());
        EXPECT_EQ(Disconnects(), expected) << "exactly one disconnect";
        {
            ctx.Channels.WithLink(1, [](TClient104Frm& link) {
                EXPECT_FALSE(link.pcl()->StartDT()) << "the link object handled the disconnect";
            });
        }
        // The link asks again after its 2000 ms pause; then the 100 ms pause.
        ASSERT_TRUE(AdvanceUntil([&] { return RowConnected(1); }));
        ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));
    }
    EXPECT_EQ(Connects(), 3u);
}

// Bytes that are no frame make the link drop the connection: the thread
// closes it once, hands over one disconnect, and connects again on request.
TEST_F(ActiveChannel, GarbageFromTheStationDropsTheConnectionOnce)
{
    KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100:2"});
    Open("127.0.0.1", kpsim.ListenPort(1));
    PassFirstPause();
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));
    kpsim.Control("garbage 1");
    ASSERT_TRUE(kpsim.WaitFor("disconnected station=1"));
    ASSERT_TRUE(Eventually([&] { return Disconnects() == 1; }));
    EXPECT_FALSE(RowConnected(1));
    ASSERT_TRUE(AdvanceUntil([&] { return RowConnected(1); }));
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));
    EXPECT_EQ(Disconnects(), 1u);
    EXPECT_EQ(Connects(), 2u);
}

class ActiveSilence : public ActiveChannel, public ::testing::WithParamInterface<std::int32_t> {};

// No byte for more than t0 ms (30000 when t0 is 0), compared in milliseconds,
// drops the connection; the thread then pauses 2500 ms before it reconnects.
TEST_P(ActiveSilence, BeyondT0DropsTheConnectionThenPauses)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.1", 0));
    Prm(1).t0 = GetParam();
    Prm(1).t1 = Prm(1).t3 = 600000; // no link timer interferes
    const std::int64_t limit = GetParam() > 0 ? GetParam() : 30000;
    auto& dev = Open("127.0.0.1", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    ASSERT_TRUE(Eventually([&] { return dev.IsConnected(); }));

    clock.Advance(limit - 100);
    ASSERT_TRUE(channelClock.AwaitPass());
    EXPECT_TRUE(dev.IsConnected()) << "below t0";
    clock.Advance(100);
    ASSERT_TRUE(channelClock.AwaitPass());
    EXPECT_TRUE(dev.IsConnected()) << "exactly t0 is not beyond it";
    clock.Advance(1);
    ASSERT_TRUE(Eventually([&] { return Disconnects() == 1; }));
    EXPECT_FALSE(RowConnected(1));
    EXPECT_EQ(Count("Thread0.txt", " вышел таймаут. разрываю соединение 127.0.0.1:"), 1u);
    EXPECT_TRUE(ClosedByPeer(peer)) << "the station sees the connection closed";

    clock.Advance(2400); // 100 ms short of the pause
    ASSERT_TRUE(AwaitTick()) << "the link has asked to connect";
    ASSERT_TRUE(channelClock.AwaitPass());
    EXPECT_TRUE(Attempts().empty()) << "the link's request waits for the pause";
    ASSERT_TRUE(AdvanceUntil([&] { return !Attempts().empty(); }));
    EXPECT_TRUE(StopsWithin(dev, 2s));
}

INSTANTIATE_TEST_SUITE_P(T0, ActiveSilence, ::testing::Values(1500, 0));

// A connection with nothing to do sleeps right up to its silence limit, not
// in short slices: that is what keeps hundreds of idle stations cheap.
TEST_F(ActiveChannel, IdleConnectionSleepsUntilItsSilenceLimit)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.1", 0));
    Prm(1).t0 = 1500;
    auto& dev = Open("127.0.0.1", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    ASSERT_TRUE(Eventually([&] { return dev.IsConnected(); }));
    const std::int64_t connectedAt = clock.MonotonicMs();
    EXPECT_TRUE(Eventually([&] { return channelClock.LastDeadline() == connectedAt + 1500 + 1; }));
    EXPECT_TRUE(StopsWithin(dev, 2s));
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
        ctx.Channels.WithLink(1, [](TClient104Frm& link) { EXPECT_TRUE(link.pcl()->Is_Rezerv_IP); });
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

// "127.000.000.010" is 127.0.0.10, not the octal 127.0.0.8.
TEST_F(ActiveChannel, ZeroPaddedOctetsAreDecimal)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.10", 0));
    auto& dev = Open("127.000.000.010", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    EXPECT_TRUE(Eventually([&] { return dev.IsConnected(); }));
}

// Whatever the station sends at once reaches the link in reads of at most
// ChannelReadCap bytes, far below the link's receive area, and nothing is lost.
TEST_F(ActiveChannel, ReadsAreCappedAndLoseNothing)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.1", 0));
    auto& dev = Open("127.0.0.1", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    char startdt[6];
    ASSERT_EQ(peer.receiveBytes(startdt, sizeof startdt), 6) << "nothing is read before the first write";
    const std::vector<std::uint8_t> sFrame{0x68, 0x04, 0x01, 0x00, 0x00, 0x00};
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 2000; ++i)
        burst.insert(burst.end(), sFrame.begin(), sFrame.end());
    ASSERT_EQ(peer.sendBytes(burst.data(), static_cast<int>(burst.size())), static_cast<int>(burst.size()));

    auto readBytes = [&] {
        std::size_t total = 0, largest = 0;
        for (const std::string& line : LinesWith("Thread0.txt", " <- ")) {
            const std::size_t n = (line.size() - line.find(" <- ") - 4) / 3; // "68 " per byte
            total += n;
            largest = std::max(largest, n);
        }
        return std::pair{total, largest};
    };
    ASSERT_TRUE(Eventually([&] { return readBytes().first == burst.size(); }));
    EXPECT_LE(readBytes().second, ChannelReadCap);
    EXPECT_TRUE(dev.IsConnected()) << "S-frames are no fault";
}

// The one-frame mailbox: a second frame is refused while the first waits.
TEST_F(ActiveChannel, MailboxHoldsOneFrame)
{
    Toprosdevice dev(Env(), TActiveChannelParams{1, "127.0.0.1", 1, "", 0, 30000});
    const std::vector<std::uint8_t> a{0x68, 0x04, 0x07, 0x00, 0x00, 0x00}, b{0x68, 0x04, 0x43, 0x00, 0x00, 0x00};
    EXPECT_TRUE(dev.OfferFrame(a));
    EXPECT_FALSE(dev.OfferFrame(b));
    EXPECT_FALSE(dev.IsConnected());
    EXPECT_TRUE(dev.HasThread());
}

// A listening socket whose backlog is full never completes a connect: the
// connect times out on the channel's clock, and a stop ends the thread while
// the next connect hangs.
TEST_F(ActiveChannel, HangingConnectTimesOutOnTheClockAndStopsWithinABound)
{
    Poco::Net::ServerSocket full;
    full.bind(Poco::Net::SocketAddress("127.0.0.1", 0));
    full.listen(0);
    const auto fillers = FillBacklog(full);
    auto& dev = Open("127.0.0.1", full.address().port());
    PassFirstPause();
    ASSERT_TRUE(channelClock.AwaitPass());
    EXPECT_FALSE(dev.IsConnected());
    EXPECT_EQ(Count("Thread0.txt", " ошибка первого соединения с "), 0u) << "still connecting";

    clock.Advance(10000);
    ASSERT_TRUE(Eventually([&] { return Count("Thread0.txt", " ошибка первого соединения с ") == 1; }));
    ASSERT_TRUE(AdvanceUntil([&] { return Attempts().size() == 1; }));
    ASSERT_TRUE(channelClock.AwaitPass()) << "the connect runs";
    EXPECT_TRUE(StopsWithin(dev, 2s)) << "a hanging connect does not hold the stop";
    EXPECT_EQ(Count("Thread0.txt", " поток завершается "), 1u);
    EXPECT_EQ(Disconnects(), 0u) << "nothing was connected, nothing to hand over";
}

// Whatever a step of the thread throws (here the clock, while it writes a
// trace line of received bytes, and again in the stop) is logged with the
// station; the thread goes on, and the stop still closes the connection.
TEST_F(ActiveChannel, AFailingStepIsLoggedWithTheStationAndTheThreadGoesOn)
{
    Poco::Net::ServerSocket station(Poco::Net::SocketAddress("127.0.0.1", 0));
    auto& dev = Open("127.0.0.1", station.address().port());
    PassFirstPause();
    Poco::Net::StreamSocket peer = station.acceptConnection();
    char startdt[6];
    ASSERT_EQ(peer.receiveBytes(startdt, sizeof startdt), 6);

    channelClock.failWall = true;
    const std::uint8_t sFrame[] = {0x68, 0x04, 0x01, 0x00, 0x00, 0x00};
    peer.sendBytes(sFrame, sizeof sFrame);
    ASSERT_TRUE(Eventually([&] { return Count("error_iec104.txt", "Поток КП 1: wall clock failed") >= 1; }));
    ASSERT_TRUE(channelClock.AwaitPass()) << "the thread goes on";
    EXPECT_TRUE(StopsWithin(dev, 2s));
    EXPECT_TRUE(ClosedByPeer(peer)) << "the stop closed the connection";
    EXPECT_FALSE(RowConnected(1));
    channelClock.failWall = false;
}

} // namespace
} // namespace gw::test
