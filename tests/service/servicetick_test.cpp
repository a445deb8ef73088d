#include "service_fixture.h"

#include "service/publication.h"

namespace gw::test {
namespace {

constexpr std::int64_t Minute = 60000;

class ServiceTickTest : public ServiceTest {
protected:
    // Which requests RaisePeriodicRequests raises on channel 0 at now + ms.
    std::string RaiseAt(std::int64_t ms)
    {
        auto pcl = ctx.Process.Clients104->GetPcl(0);
        RaisePeriodicRequests(ctx, 1, *pcl, start + ms);
        std::string raised;
        if (std::exchange(pcl->PROC_CLOCK_SYNC_103_, false))
            raised += "sync ";
        if (std::exchange(pcl->OPROS_KP_, false))
            raised += "gi ";
        if (std::exchange(pcl->opros_counters_101_, false))
            raised += "counters ";
        return raised;
    }
    std::int64_t start = 0;
};

TEST_F(ServiceTickTest, PeriodsInMinutesOnTheMonotonicClock)
{
    TStationSpec s;
    s.gi = 5;
    s.counters = 10;
    s.clockSync = 60;
    stations = {s};
    Start();
    start = clock.MonotonicMs();
    // Clock synchronisation and counters come at once; general interrogation waits for a connection.
    EXPECT_EQ(RaiseAt(0), "sync counters ");
    EXPECT_EQ(RaiseAt(Minute), "");
    ArmRequestsOnConnect(ctx.Stations.KpTable[1], start + Minute); // connected at 1:00
    clock.SetWall(1.0);                                            // the wall clock jumps: nothing cares
    struct TCase {
        std::int64_t at;
        const char* raised;
    } cases[] = {
        {6 * Minute, ""},        // exactly 5 minutes after the connect: not yet
        {6 * Minute + 1, "gi "}, // then 5 minutes after each request
        {11 * Minute, ""},
        {11 * Minute + 2, "gi "},
        {11 * Minute + 18000, ""}, // counters: connect + 18 s + 10 minutes
        {11 * Minute + 18001, "counters "},
        {16 * Minute + 2, ""},
        {16 * Minute + 3, "gi "},
        {60 * Minute + 8000, "gi counters "}, // clock sync: a period and 8 s after the first
        {60 * Minute + 8001, "sync "},
        {120 * Minute + 16001, "gi counters "},
        {120 * Minute + 16002, "sync "},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(RaiseAt(c.at), c.raised) << c.at;
}

TEST_F(ServiceTickTest, APeriodOfZeroNeverRaises)
{
    stations = {TStationSpec{}};
    Start();
    start = clock.MonotonicMs();
    ArmRequestsOnConnect(ctx.Stations.KpTable[1], start);
    for (std::int64_t at : {std::int64_t{0}, Minute, 1000 * Minute})
        EXPECT_EQ(RaiseAt(at), "");
}

TEST_F(ServiceTickTest, ADueInterrogationLeavesThroughTheChannel)
{
    TStationSpec s;
    s.gi = 5;
    s.clockSync = 60;
    stations = {s};
    Start();
    Bring(1); // its first clock synchronisation goes out with STARTDT
    std::vector<int> sent;
    for (int k = 0; k < 6 * 60 * 20; ++k) { // six minutes of ticks
        Ticks(1);
        for (int t : Answer(1))
            sent.push_back(t);
    }
    // The station here never confirms the clock synchronisation: the
    // start-up's interrogation follows it after a short wait. The next clock
    // synchronisation is an hour away: one general interrogation after 5
    // minutes, on a link that stayed up (test frames answered, everything
    // acknowledged).
    EXPECT_EQ(sent, (std::vector<int>{100, 100}));
    EXPECT_EQ(Channel(1).disconnectRequests, 0);
}

TEST_F(ServiceTickTest, ActiveChannelsAreAskedToConnectPassiveOnesNot)
{
    TStationSpec a;
    TStationSpec p;
    p.passive = true;
    stations = {a, p};
    Start();
    Ticks(41); // two seconds: the link's connect pause
    EXPECT_EQ(Channel(1).connectRequests, (std::vector<std::string>{"10.0.0.1:2404"}));
    EXPECT_TRUE(Channel(2).connectRequests.empty());
}

TEST_F(ServiceTickTest, TheCounterRunsTo100AndTheSlowTickComesEveryThirdTick)
{
    stations = {TStationSpec{}};
    Start();
    const int alarm = ctx.Stations.KpTable[1].Nom_OPC_Alarm;
    ctx.Stations.KpTable[1].Connected = true;
    std::vector<int> published;
    for (int k = 1; k <= 101; ++k) {
        ServiceTick(ctx);
        if (ctx.Items.OpcItemValues[static_cast<std::size_t>(alarm)] == 1 && published.empty())
            published.push_back(ctx.Running.TickCounter);
    }
    EXPECT_EQ(ctx.Running.TickCounter, 0);
    EXPECT_EQ(published, (std::vector<int>{3}));
}

// A channel whose link fails in the tick is logged with its station, every
// tick it fails in; the other stations get their pass all the same.
TEST_F(ServiceTickTest, AFailingChannelIsLoggedWithItsStationAndTheOthersGoOn)
{
    stations = {TStationSpec{}, TStationSpec{}};
    Start();
    Channel(1).failOffer = true;
    Channel(1).Connect(); // STARTDT act is sent in the next tick
    Bring(2);
    EXPECT_EQ(fromGateway[2], 1) << "station 2 got its general interrogation";
    const std::string log = Log("error_iec104.txt");
    EXPECT_NE(log.find("ServiceTick: КП 1: offer failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("КП 2"), std::string::npos) << log;
}

} // namespace
} // namespace gw::test
