// The listening side of passive stations against kpsim connecting to it (a
// real process) and against plain loopback clients, with real link objects
// and a fake clock for the silence timer.

#include "service/passivechannel.h"

#include "channel_rig.h"
#include "service/channelfactory.h"
#include "testkit/kpsim_process.h"

#include <Poco/Net/StreamSocket.h>

namespace gw::test {
namespace {

class PassiveChannel : public ChannelRig {
protected:
    // Station i listening on port; the link sends STARTDT when sendStartDT.
    TPassiveServer& Listen(int i, int port, bool sendStartDT = true)
    {
        Kp(i).Passive = true;
        Kp(i).IP = "IP" + std::to_string(i); // as the service start names a passive station without one
        Prm(i).Port = port;
        auto& srv = Keep(std::make_shared<TPassiveServer>(Env(), i));
        AddLink(i, srv, true, sendStartDT);
        return srv;
    }
    void Run(int i, TPassiveServer& srv)
    {
        ASSERT_TRUE(srv.Open(Prm(i).Port));
        srv.Start();
    }
    std::size_t Disconnects(int i) { return Count(Socket(i), " DisConnect -  from port "); }
    std::size_t Connects(int i) { return Count(Socket(i), " Connect -  to port "); }
    static std::string Socket(int i) { return "Socket" + std::to_string(i - 1) + ".txt"; }
};

TEST_F(PassiveChannel, StationConnectsStartsUpAndReconnectsAfterClose)
{
    auto& srv = Listen(1, 0);
    Run(1, srv);
    EXPECT_EQ(Kp(1).Port, srv.LocalPort()) << "the row carries the bound port";
    StartTick();
    KpsimProcess kpsim({"--connect", "127.0.0.1:" + std::to_string(srv.LocalPort()), "--reconnect", "50", "--ca", "3",
                        "--sp", "100:2"});
    ASSERT_TRUE(kpsim.WaitFor("connected station=1"));
    ASSERT_TRUE(kpsim.WaitFor("startdt station=1"));
    // Without a clock synchronisation period the start-up goes straight to the interrogation.
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3 qoi=20"));
    EXPECT_TRUE(LinkStarted(1, 3)); // act con, the points, act term
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
    ASSERT_TRUE(Eventually([&] { return srv.IsConnected(); }));
    Poco::Net::StreamSocket second(address);
    EXPECT_TRUE(ClosedByPeer(second));
    EXPECT_TRUE(srv.IsConnected()) << "the first connection stays";
    EXPECT_FALSE(RowConnected(1)) << "a bare TCP connection starts no data transfer";
    EXPECT_EQ(Connects(1), 1u);
    EXPECT_EQ(Count("Thread_srv_port_" + std::to_string(srv.LocalPort()) + ".txt", " Refused "), 1u);

    first.close();
    ASSERT_TRUE(Eventually([&] { return Disconnects(1) == 1; }));
    Poco::Net::StreamSocket third(address);
    EXPECT_TRUE(Eventually([&] { return Connects(1) == 2; })) << "listening again";
}

class PassiveSilence : public PassiveChannel, public ::testing::WithParamInterface<std::int32_t> {};

// Silence is checked on every pass, so a station that connects and sends
// nothing is dropped after t0 (30000 ms when t0 is 0) even when the link has
// nothing to send.
TEST_P(PassiveSilence, SilentStationIsDroppedBeyondT0)
{
    Prm(1).t0 = GetParam();
    Prm(1).t1 = Prm(1).t3 = 600000;
    const std::int64_t limit = GetParam() > 0 ? GetParam() : 30000;
    auto& srv = Listen(1, 0, false);
    Run(1, srv);
    StartTick();
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort())));
    ASSERT_TRUE(Eventually([&] { return srv.IsConnected(); }));
    clock.Advance(limit);
    ASSERT_TRUE(channelClock.AwaitPass());
    EXPECT_TRUE(srv.IsConnected()) << "exactly t0 is not beyond it";
    clock.Advance(1);
    EXPECT_TRUE(ClosedByPeer(client));
    EXPECT_TRUE(Eventually([&] { return Disconnects(1) == 1; }));
    EXPECT_FALSE(srv.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(T0, PassiveSilence, ::testing::Values(2000, 0));

TEST_F(PassiveChannel, TwoStationsOnOnePortTheSecondFailsToOpenTheFirstWorks)
{
    auto& first = Listen(1, 0);
    Run(1, first);
    auto& second = Listen(2, first.LocalPort());
    EXPECT_FALSE(second.Open(first.LocalPort()));
    second.Start(); // a server that did not open runs no thread
    StartTick();

    KpsimProcess kpsim({"--connect", "127.0.0.1:" + std::to_string(first.LocalPort()), "--ca", "3", "--sp", "1"});
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    EXPECT_TRUE(RowConnected(1));
    EXPECT_FALSE(RowConnected(2));
    EXPECT_TRUE(StopsWithin(second, 1s));
}

// The service start logs a station whose port cannot be listened on and goes
// on with the others: the factory answers such a port with no channel, never
// with an exception.
TEST_F(PassiveChannel, FactoryGivesNoChannelForAPortItCannotListenOn)
{
    auto& first = Listen(1, 0);
    ASSERT_TRUE(first.Open(0));
    TSocketChannelFactory factory;
    for (const int port : {first.LocalPort(), -1, 65536}) {
        SCOPED_TRACE(port);
        std::unique_ptr<TChannel> channel;
        EXPECT_NO_THROW(channel = factory.OpenPassive(ctx, 2, port));
        EXPECT_EQ(channel, nullptr);
    }
    EXPECT_NE(factory.OpenPassive(ctx, 2, 0), nullptr);
}

// The link's own drop request (a sequence error, t1) closes the connection
// once and leaves the server listening.
TEST_F(PassiveChannel, LinkRequestedDropClosesTheConnection)
{
    auto& srv = Listen(1, 0, false);
    Run(1, srv);
    StartTick();
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort())));
    ASSERT_TRUE(Eventually([&] { return srv.IsConnected(); }));
    {
        ctx.Channels.WithLink(1, [](TClient104Frm& link) { link.pcl()->StopConnect(); });
    }
    EXPECT_TRUE(ClosedByPeer(client));
    EXPECT_TRUE(Eventually([&] { return Disconnects(1) == 1; }));
    EXPECT_EQ(Count("Thread_srv_port_" + std::to_string(srv.LocalPort()) + ".txt", " disconnect_SVR "), 1u);
}

// A command's execute still in the mailbox when the connection drops (here
// the station's silence, the connection closed before the frame could be
// written) is thrown away with the mailbox: the command is reported not
// sent, and neither that connection nor the next one carries it; the next
// command reaches the station as the first one it gets.
TEST_F(PassiveChannel, ACommandThrownAwayWithTheMailboxIsReportedAndNeverReachesTheStation)
{
    Prm(1).t0 = 1500;
    Prm(1).t1 = Prm(1).t3 = 600000;
    Prm(1).wMax = 1; // kpsim's t1 runs in real time: each of its frames is acknowledged at once
    TTuEndLog tuDrops(log);
    cctx.tuLog = &tuDrops;
    auto& srv = Listen(1, 0);
    Run(1, srv);
    StartTick();
    const std::string server = "127.0.0.1:" + std::to_string(srv.LocalPort());
    KpsimProcess kpsim({"--connect", server, "--reconnect", "50", "--ca", "3", "--sp", "100"});
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    ASSERT_TRUE(LinkStarted(1, 3)); // act con, the point, act term
    ASSERT_TRUE(channelClock.AwaitPass()) << "the server waits for the station";

    bool closed = false;
    bool inMailbox = false;
    ctx.Channels.WithLink(1, [&](TClient104Frm& link) {
        // Under the channel lock the server closes the silent connection but
        // cannot hand its disconnect over yet.
        clock.Advance(1501);
        closed = kpsim.WaitFor("disconnected station=1").has_value();
        ASSERT_TRUE(link.pcl()->TuQueue.Push({TTUCommand::tuCommand_On, 3, 7001, 1, 41, "КП 1"}));
        link.DoService(false, 0);
        std::lock_guard<std::mutex> guard(*Kp(1).Str_to_write_section);
        inMailbox = Kp(1).Str_to_write_.size() > 6 && Kp(1).Str_to_write_[6] == 45;
    });
    ASSERT_TRUE(closed);
    ASSERT_TRUE(inMailbox) << "the execute waits in the mailbox";
    EXPECT_TRUE(Eventually(
        [&] { return Count("log_iec104.txt", " ExecuteTU - команда снята, sstID=41: нет связи с КП 1") == 1; }));

    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    ASSERT_TRUE(LinkStarted(1, 3)) << "the new connection's transfer runs";
    ctx.Channels.WithLink(1, [&](TClient104Frm& link) {
        ASSERT_TRUE(link.pcl()->TuQueue.Push({TTUCommand::tuCommand_On, 3, 7002, 1, 42, "КП 1"}));
    });
    const auto command = kpsim.WaitFor("command ");
    ASSERT_TRUE(command);
    const auto commands =
        std::ranges::count_if(kpsim.Lines(), [](const std::string& line) { return line.starts_with("command "); });
    EXPECT_EQ(commands, 1) << "the thrown-away execute reached the station";
    EXPECT_TRUE(command->starts_with("command station=1 type=C_SC_NA_1 ca=3 ioa=7002 value=1 select=0")) << *command;
    EXPECT_EQ(Count("log_iec104.txt", " ExecuteTU - команда снята"), 1u);
}

// The station's one-frame mailbox: a second frame is refused while the first
// waits; a new connection starts with it empty.
TEST_F(PassiveChannel, MailboxHoldsOneFrameAndANewConnectionStartsEmpty)
{
    auto& srv = Listen(1, 0, false);
    ASSERT_TRUE(srv.Open(0));
    const std::vector<std::uint8_t> a{0x68, 0x04, 0x07, 0x00, 0x00, 0x00}, b{0x68, 0x04, 0x43, 0x00, 0x00, 0x00};
    EXPECT_TRUE(srv.OfferFrame(a));
    EXPECT_FALSE(srv.OfferFrame(b));
    EXPECT_FALSE(srv.HasThread());

    srv.Start();
    StartTick();
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort())));
    ASSERT_TRUE(Eventually([&] { return srv.IsConnected(); }));
    client.setReceiveTimeout(Poco::Timespan(0, 200000));
    char byte = 0;
    EXPECT_THROW(client.receiveBytes(&byte, 1), Poco::TimeoutException) << "the old frame is not sent";
}

// A connection with nothing to do sleeps right up to its silence limit, not
// in short slices: that is what keeps hundreds of idle stations cheap.
TEST_F(PassiveChannel, IdleConnectionSleepsUntilItsSilenceLimit)
{
    Prm(1).t0 = 1500;
    auto& srv = Listen(1, 0, false);
    Run(1, srv);
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort())));
    ASSERT_TRUE(Eventually([&] { return srv.IsConnected(); }));
    const std::int64_t connectedAt = clock.MonotonicMs();
    EXPECT_TRUE(Eventually([&] { return channelClock.LastDeadline() == connectedAt + 1500 + 1; }));
    EXPECT_TRUE(StopsWithin(srv, 2s));
}

// Whatever a step of the thread throws (here the clock, while it writes a
// trace line of received bytes, and again in the stop) is logged with the
// station; the thread goes on, and the stop still closes the connection.
TEST_F(PassiveChannel, AFailingStepIsLoggedWithTheStationAndTheThreadGoesOn)
{
    auto& srv = Listen(1, 0, false);
    Run(1, srv);
    StartTick();
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(srv.LocalPort())));
    ASSERT_TRUE(Eventually([&] { return srv.IsConnected(); }));

    channelClock.failWall = true;
    const std::uint8_t startdt[] = {0x68, 0x04, 0x07, 0x00, 0x00, 0x00};
    client.sendBytes(startdt, sizeof startdt);
    ASSERT_TRUE(Eventually([&] { return Count("error_iec104.txt", "Поток КП 1: wall clock failed") >= 1; }));
    ASSERT_TRUE(channelClock.AwaitPass()) << "the thread goes on";
    EXPECT_TRUE(StopsWithin(srv, 2s));
    EXPECT_TRUE(ClosedByPeer(client)) << "the stop closed the connection";
    EXPECT_FALSE(srv.IsConnected());
    channelClock.failWall = false;
}

} // namespace
} // namespace gw::test
