// The link procedures and the start-up of a connection through the whole
// service on real sockets: the service start opens one channel through the
// socket channel factory, kpsim (a real process) plays the station and
// misbehaves on request, the tick runs on its own thread, and only the test
// moves the fake clock, so no timer of the gateway fires unless it asks.

#include "service/channelfactory.h"

#include "channel_rig.h"
#include "core/messbuff.h"
#include "service/cfgfile.h"
#include "service/serviceinit.h"
#include "service_ticker.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

namespace gw::test {
namespace {

constexpr int Ca = 3;
constexpr int PointIoa = 100;

class LinkProcedures : public ::testing::Test {
protected:
    LinkProcedures()
    {
        ctx.Process.Clock = &channelClock;
        ctx.Process.ExePath = temp.File("fieldgate");
        ServiceInit(ctx);
    }
    ~LinkProcedures() override { StopTick(); }

    // One station with a single point, no interrogation period: every
    // interrogation kpsim sees comes from the start-up of a connection.
    TOneStation Config() const
    {
        TOneStation s;
        s.commonAddress = Ca;
        s.port = port;
        s.passive = passive;
        s.startDt = true;
        s.clockSyncMinutes = clockSyncMinutes;
        s.points = {PointIoa};
        return s;
    }

    // kpsim as the station, listening for the active channel or connecting
    // to the passive one, with more options of its own. Its t1 runs in real
    // time while the gateway's acknowledgements wait for the fake clock: it is
    // made long enough for the slowest machine.
    std::unique_ptr<KpsimProcess> Station(std::vector<std::string> options = {})
    {
        std::vector<std::string> args{"--listen", "127.0.0.1:0"};
        if (passive) {
            port = FreePort();
            args = {"--connect", "127.0.0.1:" + std::to_string(port), "--reconnect", "50"};
        }
        args.insert(args.end(),
                    {"--ca", std::to_string(Ca), "--sp", std::to_string(PointIoa), "--t1", "255000", "--t2", "250000"});
        args.insert(args.end(), options.begin(), options.end());
        auto kpsim = std::make_unique<KpsimProcess>(args);
        if (!passive)
            port = kpsim->ListenPort(1);
        return kpsim;
    }

    void Start()
    {
        temp.Write(Iec104CfgFileName, OneStationCfg(Config()));
        ASSERT_TRUE(ServiceStart(ctx));
        ticker.Start();
        clock.Advance(1200); // the active channel's first connect pause
    }
    void StopTick() { ticker.Stop(); }

    // The station started, its interrogation answered and the point's value
    // 0 stored; null when that does not happen.
    std::unique_ptr<KpsimProcess> StartedWithPointStored()
    {
        auto kpsim = Station();
        Start();
        if (!kpsim->WaitFor("interrogation station=1") || !Eventually([&] { return PointValue() == 0; }))
            return nullptr;
        return kpsim;
    }

    // Moves the fake clock in steps of stepMs, at most up to limitMs, until
    // kpsim prints a line starting with prefix. Each step is taken by every
    // channel thread before the next; what follows from the last one (a
    // connect, kpsim's answer) takes real time, as long as the machine needs.
    bool AdvanceUntilLine(KpsimProcess& kpsim, const std::string& prefix, std::int64_t stepMs, std::int64_t limitMs)
    {
        for (std::int64_t moved = 0; moved < limitMs; moved += stepMs) {
            if (kpsim.WaitFor(prefix, 50ms))
                return true;
            clock.Advance(stepMs);
            channelClock.AwaitPass();
        }
        return kpsim.WaitFor(prefix).has_value();
    }

    // The value of the station's point as stored by the receive path.
    std::optional<int> PointValue()
    {
        return WithRun(ctx, [&](TServiceRun* run) -> std::optional<int> {
            TValue1 v;
            int value = 0;
            if (!run || !run->TagSignalList.ReadValue(0, v) || !v.GetTsValue(value))
                return std::nullopt;
            return value;
        });
    }
    // The log queue holds a line containing part (the queue is emptied).
    bool Queued(const std::string& part)
    {
        bool found = false;
        std::string line;
        TDateTime dt;
        while (ctx.Process.MessBuff.Get(line, dt))
            found = found || line.find(part) != std::string::npos;
        return found;
    }

    TempDir temp;
    FakeClock clock;
    ChannelClock channelClock{clock};
    TSocketChannelFactory factory;
    bool passive = false;
    int clockSyncMinutes = 0;
    int port = 0;
    TOpcUaSettings opcUa;
    TServiceContext ctx;
    TPlugged plugged = Plug(ctx, {&factory, nullptr, nullptr, Iec104CfgReader(opcUa)});
    ServiceTicker ticker{ctx};
};

// A station sending an old I-frame again (I(n) after I(n + 1)) breaks the
// sequence: the older value it carries is not stored over the newer one, and
// the connection is dropped and made again.
TEST_F(LinkProcedures, AnIFrameRepeatedByTheStationIsNotStoredAndTheConnectionIsMadeAgain)
{
    const auto kpsim = StartedWithPointStored();
    ASSERT_TRUE(kpsim);
    kpsim->Control("set 1 100 1");
    ASSERT_TRUE(Eventually([&] { return PointValue() == 1; }));
    kpsim->Control("set 1 100 0");
    ASSERT_TRUE(Eventually([&] { return PointValue() == 0; }));

    kpsim->Control("repeat 1 2"); // the frame that carried the 1
    ASSERT_TRUE(kpsim->WaitFor("repeated station=1"));
    ASSERT_TRUE(kpsim->WaitFor("disconnected station=1 reason=peer-closed"));
    EXPECT_EQ(PointValue(), 0) << "the repeated old value overwrote the newer one";
    EXPECT_TRUE(Queued("Нарушена последовательность APDU_I"));

    ASSERT_TRUE(AdvanceUntilLine(*kpsim, "connected station=1", 500, 5000));
    EXPECT_TRUE(kpsim->WaitFor("interrogation station=1"));
}

// An I-frame whose N(R) acknowledges frames the gateway never sent is as out
// of step as a repeated one: its value is not stored, the connection drops.
TEST_F(LinkProcedures, AnIFrameAcknowledgingFramesNeverSentIsNotStored)
{
    const auto kpsim = StartedWithPointStored();
    ASSERT_TRUE(kpsim);
    kpsim->Control("bad-nr 1");
    ASSERT_TRUE(kpsim->WaitFor("done station=1 action=bad-nr"));
    kpsim->Control("set 1 100 1");
    ASSERT_TRUE(kpsim->WaitFor("bad-nr station=1"));
    ASSERT_TRUE(kpsim->WaitFor("disconnected station=1 reason=peer-closed"));
    EXPECT_EQ(PointValue(), 0) << "the value of the out-of-step frame was stored";
    EXPECT_TRUE(Queued("вне окна"));
}

// STOPDT act from the station (a controlled station has no business
// stopping the transfer): the gateway drops the connection with a log line
// and connects again, rather than staying connected and silent.
TEST_F(LinkProcedures, StopdtFromTheStationMakesTheConnectionAgain)
{
    for (const bool passiveStation : {false, true}) {
        SCOPED_TRACE(passiveStation ? "passive" : "active");
        passive = passiveStation;
        const auto kpsim = Station();
        Start();
        ASSERT_TRUE(kpsim->WaitFor("interrogation station=1"));

        kpsim->Control("stopdt 1");
        ASSERT_TRUE(kpsim->WaitFor("disconnected station=1 reason=peer-closed"));
        EXPECT_TRUE(Queued("STOPDT act от КП: разрыв соединения, новое соединение"));
        ASSERT_TRUE(AdvanceUntilLine(*kpsim, "connected station=1", 500, 5000));
        EXPECT_TRUE(kpsim->WaitFor("startdt station=1"));
        EXPECT_TRUE(kpsim->WaitFor("interrogation station=1"));
        StopTick();
        ServiceStop(ctx);
        EXPECT_TRUE(kpsim->WaitFor("disconnected station=1"));
    }
}

// End of initialisation: the station has restarted, so it is set up as after
// a connect: clock synchronisation where it has a period, then interrogation.
TEST_F(LinkProcedures, EndOfInitialisationIsFollowedByTheStartUpRequests)
{
    for (const int minutes : {0, 60}) {
        SCOPED_TRACE(minutes);
        clockSyncMinutes = minutes;
        const auto kpsim = Station();
        Start();
        ASSERT_TRUE(kpsim->WaitFor("interrogation station=1"));

        kpsim->Control("eoi 1");
        ASSERT_TRUE(kpsim->WaitFor("done station=1 action=eoi"));
        if (minutes > 0) {
            EXPECT_TRUE(kpsim->WaitFor("clock-sync station=1 ca=3"));
        }
        EXPECT_TRUE(kpsim->WaitFor("interrogation station=1 ca=3 qoi=20"));
        StopTick();
        ServiceStop(ctx);
    }
}

// A station that never confirms the clock synchronisation still gets the
// interrogation of the start-up (there is no interrogation period here that
// could bring one later), after a short wait and with a log line.
TEST_F(LinkProcedures, AnUnansweredClockSyncStillLetsTheStartUpInterrogationFollow)
{
    clockSyncMinutes = 60;
    const auto kpsim = Station({"--ignore-clock-sync"});
    Start();
    ASSERT_TRUE(kpsim->WaitFor("clock-sync station=1 ca=3"));
    EXPECT_TRUE(AdvanceUntilLine(*kpsim, "interrogation station=1 ca=3 qoi=20", 500, 10000));
    EXPECT_TRUE(Queued("Нет подтверждения синхронизации часов"));
}

// A passive station with a clock synchronisation period gets its clock set
// as an active one does: at the start-up, before its interrogation, and
// again when the period is due.
TEST_F(LinkProcedures, APassiveStationIsClockSynchronised)
{
    passive = true;
    clockSyncMinutes = 1;
    const auto kpsim = Station();
    Start();
    ASSERT_TRUE(kpsim->WaitFor("clock-sync station=1 ca=3"));
    ASSERT_TRUE(kpsim->WaitFor("interrogation station=1 ca=3 qoi=20"));
    // Steps short enough for the test frames of t3 to keep the link alive.
    EXPECT_TRUE(AdvanceUntilLine(*kpsim, "clock-sync station=1 ca=3", 2000, 80000));
}

} // namespace
} // namespace gw::test
