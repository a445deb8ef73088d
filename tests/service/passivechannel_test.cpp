// The listening side of passive stations against kpsim connecting to it (a
// real process) and against plain loopback clients, with real link objects
// and a fake clock for the silence timer.

#include "service/passivechannel.h"

#include "channel_rig.h"
#include "tools/kpsim_process.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/StreamSocket.h>

#include <future>

namespace gw::test {
namespace {

class PassiveChannel : public ChannelRig {
protected:
    // Station i listening on port; the link sends STARTDT when sendStartDT.
    TPassiveServer& Listen(int i, int port, bool sendStartDT = true)
    {
        Kp(i).Passive = true;
        Prm(i).Port = port;
        auto& srv = Keep(std::make_shared<TPassiveServer>(Env(), i));
        AddLink(i, srv, true, sendStartDT);
        return srv;
    }
    void Run(int i, TPassiveServer& srv)
    {
        ASSERT_TRUE(srv.Open());
        srv.Start(Frm(i));
    }
    std::size_t Disconnects(int i) { return Count(Socket(i), " DisConnect -  from port "); }
    std::size_t Connects(int i) { return Count(Socket(i), " Connect -  to port "); }
    static std::string Socket(int i) { return "Socket" + std::to_string(i - 1) + ".txt"; }
    // A plain client of port: true when the gateway closes it within the bound.
    static bool ClosedByPeer(Poco::Net::StreamSocket& client)
    {
        client.setReceiveTimeout(Poco::Timespan(5, 0));
        char buf[256];
        try {
            while (client.receiveBytes(buf, sizeof buf) > 0) {
            }
            return true;
        } catch (const Poco::Net::ConnectionResetException&) {
            return true;
        } catch (const Poco::Exception&) {
            return false;
        }
    }
    static bool StopsWithin(TPassiveServer& srv, std::chrono::milliseconds bound)
    {
        srv.Stop();
        auto joined = std::async(std::launch::async, [&srv] { srv.Join(); });
        return joined.wait_for(bound) == std::future_status::ready;
    }
};

TEST_F(PassiveChannel, StationConnectsStartsUpAndReconnectsAfterClose)
{
    auto& srv = Listen(1, 0);
    Run(1, srv);
    EXPECT_EQ(Kp(1).IP, "IP1") << "a passive station without an address";
    EXPECT_EQ(Kp(1).Port, srv.LocalPort());
    StartTick();
    KpsimProcess kpsim({"--connect", "127.0.0.1:" + std::to_string(srv.LocalPort()), "--reconnect", "50", "--ca",
                        "3", "--sp", "100:2"});
    ASSERT_TRUE(kpsim.WaitFor("connected station=1"));
    ASSERT_TRUE(kpsim.WaitFor("startdt station=1"));
    // A passive station's due clock synchronisation goes out as an interrogation.
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3 qoi=20"));
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> channel(ctx.ChannelLock(1));
        auto lock = Client(1)->Lock();
        return Client(1)->StartDT() && Client(1)->vr() == 3; // act con, the points, act term
    }));
    EXPECT_TRUE(RowConnected(1));
    EXPECT_EQ(RowIpTek(1), "IP1");

    kpsim.Control("close 1");
    ASSERT_TRUE(kpsim.WaitFor("disconnected station=1"));
    ASSERT_TRUE(Eventually([&] { return Disconnects(1) == 1; }));
    ASSERT_TRUE(kpsim.WaitFor("connected station=1"));
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));
    EXPECT_TRUE(Eventually([&] { return Connects(1) == 2; }));
    EXPECT_EQ(Disconnects(1), 1u);

    kpsim.Control("reset 1");
    ASSERT_TRUE(Eventually([&] { return Disconnects(1) == 2; }));
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1"));

    EXPECT_TRUE(StopsWithin(srv, 2s));
    EXPECT_EQ(Disconnects(1), 3u) << "the stop drops the connection and hands its disconnect over";
    EXPECT_FALSE(RowConnected(1));
}

TEST_F(PassiveChannel, SecondConnectionOnABusyPortIsClosedAtOnce)
{
    auto& srv = Listen(1, 0, false);
    Run(1, srv);
    StartTick();
    const Poco::Net::SocketAddress address("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort()));
    Poco::Net::StreamSocket first(address);
    ASSERT_TRUE(Eventually([&] { return RowConnected(1); }));
    Poco::Net::StreamSocket second(address);
    EXPECT_TRUE(ClosedByPeer(second));
    EXPECT_TRUE(RowConnected(1)) << "the first connection stays";
    EXPECT_EQ(Connects(1), 1u);
    EXPECT_EQ(Count("Thread_srv_port_" + std::to_string(srv.LocalPort()) + ".txt", " Refused "), 1u);

    first.close();
    ASSERT_TRUE(Eventually([&] { return Disconnects(1) == 1; }));
    Poco::Net::StreamSocket third(address);
    EXPECT_TRUE(Eventually([&] { return Connects(1) == 2; })) << "listening again";
}

// Silence is checked on every pass, so a station that connects and sends
// nothing is dropped after t0 even when the link has nothing to send.
TEST_F(PassiveChannel, SilentStationIsDroppedAfterT0And30000MsWhenT0IsZero)
{
    for (const std::int32_t t0 : {2000, 0}) {
        SCOPED_TRACE(t0);
        const std::int64_t limit = t0 > 0 ? t0 : 30000;
        Prm(1).t0 = t0;
        Prm(1).t1 = Prm(1).t3 = 600000;
        auto srv = std::make_shared<TPassiveServer>(Env(), 1);
        frms.clear();
        table.DelClient();
        Kp(1).Passive = true;
        Prm(1).Port = 0;
        AddLink(1, *srv, true, false);
        Run(1, *srv);
        StartTick();
        Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv->LocalPort())));
        ASSERT_TRUE(Eventually([&] { return RowConnected(1); }));
        clock.Advance(limit);
        std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(RowConnected(1)) << "exactly t0 is not beyond it";
        clock.Advance(1);
        EXPECT_TRUE(ClosedByPeer(client));
        EXPECT_TRUE(Eventually([&] { return !RowConnected(1); }));
        StopTick();
        EXPECT_TRUE(StopsWithin(*srv, 2s));
    }
}

TEST_F(PassiveChannel, TwoStationsOnOnePortTheSecondFailsToOpenTheFirstWorks)
{
    auto& first = Listen(1, 0);
    Run(1, first);
    auto& second = Listen(2, first.LocalPort());
    EXPECT_FALSE(second.Open());
    second.Start(Frm(2)); // a server that did not open runs no thread
    EXPECT_EQ(Count("error_iec104.txt", "Ошибка открытия сокета " + std::to_string(first.LocalPort())), 1u);
    StartTick();

    KpsimProcess kpsim({"--connect", "127.0.0.1:" + std::to_string(first.LocalPort()), "--ca", "3", "--sp", "1"});
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    EXPECT_TRUE(RowConnected(1));
    EXPECT_FALSE(RowConnected(2));
    EXPECT_TRUE(StopsWithin(second, 1s));
}

// The link's own drop request (a sequence error, t1) closes the connection
// once and leaves the server listening.
TEST_F(PassiveChannel, LinkRequestedDropClosesTheConnection)
{
    auto& srv = Listen(1, 0, false);
    Run(1, srv);
    StartTick();
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort())));
    ASSERT_TRUE(Eventually([&] { return RowConnected(1); }));
    {
        std::lock_guard<std::mutex> channel(ctx.ChannelLock(1));
        auto lock = Client(1)->Lock();
        Client(1)->StopConnect();
    }
    EXPECT_TRUE(ClosedByPeer(client));
    EXPECT_TRUE(Eventually([&] { return Disconnects(1) == 1; }));
    EXPECT_EQ(Count("Thread_srv_port_" + std::to_string(srv.LocalPort()) + ".txt", " disconnect_SVR "), 1u);
}

} // namespace
} // namespace gw::test
