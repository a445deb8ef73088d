// The whole 104 side on real sockets: the service start opens an active and a
// passive channel through the socket channel factory, kpsim (a real process)
// plays both stations, the tick runs on its own thread, values reach the OPC
// item table, and the stop joins every channel thread; start, stop, start.

#include "service/channelfactory.h"

#include "channel_rig.h"
#include "service/commandentry.h"
#include "service/serviceinit.h"
#include "service_ticker.h"
#include "testkit/kpsim_process.h"

namespace gw::test {
namespace {

constexpr int Ca = 3;
constexpr int PointIoa = 100;
constexpr int DoubleIoa = 200;
constexpr int CommandOffset = 5000; // the command of point X is addressed X + 5000

// The next lines of kpsim hold all of these, in any order.
bool WaitForAll(KpsimProcess& kpsim, std::vector<std::string> prefixes)
{
    while (!prefixes.empty()) {
        const auto line = kpsim.WaitFor("");
        if (!line)
            return false;
        std::erase_if(prefixes, [&](const std::string& p) { return line->rfind(p, 0) == 0; });
    }
    return true;
}

class SocketService : public ::testing::Test {
protected:
    SocketService()
    {
        ctx.Process.Clock = &channelClock;
        ctx.Process.ExePath = temp.File("fieldgate");
        ServiceInit(ctx);
    }
    ~SocketService() override { StopTick(); }

    // Station 1 active on kpsim's port, station 2 passive on passivePort; one
    // single point each. The link parameters come with the configuration.
    void Configure(TServiceContext& c)
    {
        c.Stations.Reset();
        for (int i = 1; i <= 2; ++i) {
            T_KP kp;
            kp.NameKP = "KP" + std::to_string(i);
            kp.IP = "127.0.0.1";
            kp.ASDU_Adr = Ca;
            kp.Passive = i == 2;
            kp.send_start_DT_passiv = true;
            // A single and a double point with their commands: with select on
            // the active station, executed directly on the passive one.
            for (const bool dbl : {false, true}) {
                T_TS ts;
                ts.AdrASDU = ts.AdrASDU_TU = Ca;
                ts.AdrIOA = dbl ? DoubleIoa : PointIoa;
                ts.AdrIOA_TU = ts.AdrIOA + CommandOffset;
                ts.Type_Var = dbl ? 1 : 0;
                ts.Type_TU = (dbl ? 2 : 0) + (kp.Passive ? 1 : 0);
                kp.TS_arr.push_back(ts);
                kp.Kol_TS += 1;
            }
            c.Stations.KpTable.push_back(kp);
            c.Stations.KpCount += 1;
            TPrmn& prm = c.Channels.Prmn104[static_cast<std::size_t>(i - 1)];
            SetPrmnDefault(prm, PrmnKind104, "127.0.0.1", i == 1 ? activePort : passivePort);
            prm.CommonAsduAddress = Ca;
        }
        c.Switches.PrmTFromCfg = true;
    }

    void StartTick() { ticker.Start(); }
    void StopTick() { ticker.Stop(); }
    void Start()
    {
        ASSERT_TRUE(ServiceStart(ctx));
        StartTick();
        clock.Advance(1200); // the active channel's first connect pause
    }
    void Stop()
    {
        StopTick();
        ServiceStop(ctx);
    }

    // The tag that the OPC item of point n of station i commands.
    int PointTag(int i, int n) const
    {
        const int id = ctx.Stations.KpTable[static_cast<std::size_t>(i)].Nom_OPC_TS + n - 1;
        return ctx.Items.OpcItems[static_cast<std::size_t>(id)].Nomer_Tag;
    }
    double ItemValue(int id)
    {
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        return ctx.Items.OpcItemValues[static_cast<std::size_t>(id)];
    }
    int ItemQuality(int id)
    {
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        return ctx.Items.OpcItems[static_cast<std::size_t>(id)].Quality;
    }

    TempDir temp;
    FakeClock clock;
    ChannelClock channelClock{clock};
    TSocketChannelFactory factory;
    int activePort = 0;
    int passivePort = FreePort();
    TServiceContext ctx;
    TPlugged plugged = Plug(ctx, {&factory, nullptr, nullptr, [this](TServiceContext& c) { Configure(c); }});
    ServiceTicker ticker{ctx};
};

// kpsim's t1 runs in real time while the gateway's acknowledgements wait for
// the fake clock: it is made long enough for the slowest machine.
TEST_F(SocketService, ValuesOfAnActiveAndAPassiveStationReachTheItemTable)
{
    KpsimProcess kpsim(
        {"--listen",    "127.0.0.1:0", "--ca", "3",      "--sp",      "100",
         "--t1",        "255000",      "--t2", "250000", "--connect", "127.0.0.1:" + std::to_string(passivePort),
         "--reconnect", "50",          "--ca", "3",      "--sp",      "100",
         "--t1",        "255000",      "--t2", "250000"});
    activePort = kpsim.ListenPort(1);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        Start();
        // Else kpsim may reach another program that took the port meanwhile.
        ASSERT_TRUE(AwaitListening(passivePort)) << "the passive station's port " << passivePort << " is taken";
        ASSERT_TRUE(WaitForAll(kpsim, {"interrogation station=1 ca=3", "interrogation station=2 ca=3"}));
        for (int i = 1; i <= 2; ++i) {
            const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
            EXPECT_TRUE(Eventually([&] { return ItemValue(kp.Nom_OPC_Alarm) == 1; })) << "station " << i;
            EXPECT_TRUE(Eventually([&] { return ItemQuality(kp.Nom_OPC_TS) == 0xC0; })) << "station " << i;
        }
        for (int i = 1; i <= 2; ++i) {
            const std::string s = std::to_string(i);
            const std::string value = round == 1 ? "1" : "0";
            kpsim.Control("set " + s + " 100 " + value);
            const int id = ctx.Stations.KpTable[static_cast<std::size_t>(i)].Nom_OPC_TS;
            EXPECT_TRUE(Eventually([&] { return ItemValue(id) == (round == 1 ? 1 : 0); })) << "station " << i;
        }
        Stop();
        EXPECT_TRUE(WaitForAll(kpsim, {"disconnected station=1", "disconnected station=2"}));
        EXPECT_FALSE(ctx.Running.StaleRun) << "every channel thread ended within the bound";
    }
}

// Commands given to the command entry reach kpsim with their station, type,
// addresses and state: select then execute where the signal asks for it,
// execute alone where not; kpsim's change comes back into the item table.
TEST_F(SocketService, CommandsReachTheStationWithTheirAddresses)
{
    const std::string offset = std::to_string(CommandOffset);
    KpsimProcess kpsim(
        {"--listen",    "127.0.0.1:0", "--ca",         "3",    "--sp",      "100",
         "--dp",        "200",         "--cmd-offset", offset, "--connect", "127.0.0.1:" + std::to_string(passivePort),
         "--reconnect", "50",          "--ca",         "3",    "--sp",      "100",
         "--dp",        "200",         "--cmd-offset", offset});
    activePort = kpsim.ListenPort(1);
    Start();
    ASSERT_TRUE(WaitForAll(kpsim, {"interrogation station=1 ca=3", "interrogation station=2 ca=3"}));

    struct Case {
        int station, point;
        TTUCommand command;
        std::vector<std::string> lines; // what kpsim receives, in order
    };
    const Case cases[] = {
        {1,
         1,
         TTUCommand::tuCommand_On,
         {"command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=1 select=1",
          "command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=1 select=0"}},
        {1,
         2,
         TTUCommand::tuCommand_Off,
         {"command station=1 type=C_DC_NA_1 ca=3 ioa=5200 value=1 select=1",
          "command station=1 type=C_DC_NA_1 ca=3 ioa=5200 value=1 select=0"}},
        {2, 1, TTUCommand::tuCommand_On, {"command station=2 type=C_SC_NA_1 ca=3 ioa=5100 value=1 select=0"}},
        {2, 2, TTUCommand::tuCommand_On, {"command station=2 type=C_DC_NA_1 ca=3 ioa=5200 value=2 select=0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.back());
        ASSERT_TRUE(ExecuteTU(ctx, PointTag(c.station, c.point), c.command));
        for (const std::string& line : c.lines) {
            const auto got = kpsim.WaitFor("command ");
            ASSERT_TRUE(got);
            EXPECT_EQ(got->substr(0, line.size()), line);
        }
    }
    // The executed single point of station 1 comes back switched on.
    const int id = ctx.Stations.KpTable[1].Nom_OPC_TS;
    EXPECT_TRUE(Eventually([&] { return ItemValue(id) == 1; }));
}

// Two commands to one station given at once both reach it, each after the
// previous one has completed: answered, refused by a refusing station, or
// timed out at a station that never answers.
TEST_F(SocketService, CommandsGivenTogetherReachTheStationOneAfterTheOther)
{
    KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100", "--dp", "200", "--cmd-offset",
                        std::to_string(CommandOffset)});
    activePort = kpsim.ListenPort(1);
    Start();
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    const std::string single = "command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=1 ";
    const std::string dbl = "command station=1 type=C_DC_NA_1 ca=3 ioa=5200 value=1 ";
    struct Case {
        std::string station; // control line before, "" for none
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"",
         {single + "select=1 qu=1 reply=con", single + "select=0 qu=1 reply=con", dbl + "select=1 qu=1 reply=con",
          dbl + "select=0 qu=1 reply=con"}},
        {"refuse 1 on", {single + "select=1 qu=1 reply=negative", dbl + "select=1 qu=1 reply=negative"}},
        {"hold 1 on", {single + "select=1 qu=1 reply=none", dbl + "select=1 qu=1 reply=none"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station);
        if (!c.station.empty()) {
            kpsim.Control(c.station);
            ASSERT_TRUE(kpsim.WaitFor("done station=1"));
        }
        ASSERT_TRUE(ExecuteTU(ctx, PointTag(1, 1), TTUCommand::tuCommand_On));
        ASSERT_TRUE(ExecuteTU(ctx, PointTag(1, 2), TTUCommand::tuCommand_Off));
        for (const std::string& line : c.lines) {
            const auto got = kpsim.WaitFor("command ");
            ASSERT_TRUE(got);
            EXPECT_EQ(*got, line);
            if (c.station.rfind("hold", 0) == 0)
                clock.Advance(6001); // the unanswered command's time-out
        }
        if (!c.station.empty()) {
            kpsim.Control(c.station.substr(0, c.station.size() - 2) + "off");
            ASSERT_TRUE(kpsim.WaitFor("done station=1"));
        }
    }
}

// A stop while the active station's connect hangs (a full backlog) and the
// passive one listens still joins every thread.
TEST_F(SocketService, StopJoinsWhileAConnectHangs)
{
    Poco::Net::ServerSocket full;
    full.bind(Poco::Net::SocketAddress("127.0.0.1", 0));
    full.listen(0);
    const auto fillers = FillBacklog(full);
    activePort = full.address().port();
    // No tick: the channel threads alone read the clock, so its reads show
    // the first connect under way.
    ASSERT_TRUE(ServiceStart(ctx));
    clock.Advance(1200);
    ASSERT_TRUE(channelClock.AwaitPass()) << "the connect runs";
    Stop();
    EXPECT_FALSE(ctx.Running.StaleRun);
    Start();
    Stop();
    EXPECT_FALSE(ctx.Running.StaleRun);
}

} // namespace
} // namespace gw::test
