// A station's "Connected" as the operator sees it, on the web pages and
// through the OPC UA library at once: the real service on a fake clock with
// its socket channels, kpsim as the station, fieldgate's web server and the
// real libtagserve.so read by a real OPC UA client (tests/npm). The ticks run
// on the test's thread, so a test decides where a publication pass falls.

#include "core/cp1251.h"
#include "core/link104.h"
#include "core/tags.h"
#include "daemon/webserverpart.h"
#include "fieldgate_rig.h"
#include "opcua/opcuabridge.h"
#include "opcua/opcualibrary.h"
#include "opcua/uatime.h"
#include "service/cfgfile.h"
#include "service/channelfactory.h"
#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "testkit/child_lines.h"
#include "support/fake_clock.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>

namespace gw::test {
namespace {

using namespace std::chrono_literals;

const std::string NpmDir = std::string(GATEWAY_SOURCE_DIR) + "/tests/npm";
constexpr int Ca = 1;
constexpr int PointIoa = 100;

// How long a wait may take in real time: only a failing program takes this
// long, however loaded the machine.
constexpr auto Patience = 60s;
// The link's time a wait may use: the connect pauses of a reconnect, well
// below its t1 (15 s), so that a station slow to answer on a loaded machine
// never sees its answer expire. A wait for one of the link's time-outs
// (t1, T0 of 30 s, the reserve grace of 30 s) gives the time-out room.
constexpr std::int64_t LinkPausesMs = 10'000;
constexpr std::int64_t LinkTimeoutsMs = 60'000;

// kpsim's station with the point, as every test here has it. The gateway's
// clock stands while a test reads through a client, so its acknowledgement
// (t2) comes late in real time: the station waits for it far beyond its
// usual t1 of 15 s.
std::vector<std::string> StationArgs(std::vector<std::string> address)
{
    address.insert(address.end(), {"--ca", "1", "--sp", "100", "--t1", "255000"});
    return address;
}
std::vector<std::string> StationArgs(std::vector<std::string> address, const std::string& option)
{
    auto args = StationArgs(std::move(address));
    args.push_back(option);
    return args;
}

// "YYYY-MM-DDThh:mm:ss.zzz" of a local date-time, as kpsim's "set ... time=" takes it.
std::string KpsimTime(TDateTime dt)
{
    TDateTimeParts p;
    EXPECT_TRUE(TryDecodeDateTime(dt, p));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second, p.millisecond);
    return text;
}

// Milliseconds since 1970 UTC of a local date-time, as the OPC UA client prints source times.
std::int64_t UaMs(TDateTime dt) { return (DateTimeToUaTime(dt) - UaTimeOf1970) / 10'000; }

class ConnectedState : public ::testing::Test {
protected:
    ConnectedState()
    {
        std::filesystem::create_symlink(TAGSERVE_LIBRARY, home.File(OpcUaLibraryName));
        home.Write("cnf.ini", FieldgateRig::CnfIni(webPort, "pw"));
        settings.OPC_UA_use = true;
        settings.OPC_UA_Port = FreePort();
        ctx.Process.Clock = &clock;
        ctx.Process.ExePath = home.File("fieldgate");
        ServiceInit(ctx);
    }
    ~ConnectedState() override
    {
        watch.reset();
        ServiceStop(ctx);
    }

    // Every test reads through the OPC UA client.
    void SetUp() override
    {
        if (!std::filesystem::exists(NpmDir + "/node_modules/node-opcua-client"))
            GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    }

    // One station with one single point; its stamps are taken into OPC. A
    // passive one is started by the gateway, as an active one is.
    TOneStation Config() const
    {
        TOneStation s;
        s.commonAddress = Ca;
        s.port = stationPort;
        s.passive = passive;
        s.startDt = passive;
        if (reservePort > 0) {
            s.ip2 = "127.0.0.1";
            s.port2 = reservePort;
        }
        s.timeToOpc = true;
        s.points = {{PointIoa, "P1"}};
        return s;
    }

    void Start(KpsimProcess& kpsim)
    {
        if (!passive)
            stationPort = kpsim.ListenPort(1);
        home.Write(Iec104CfgFileName, OneStationCfg(Config()));
        ASSERT_TRUE(ServiceStart(ctx));
        ASSERT_TRUE(ctx.Switches.OpcUaRunning);
        alarmId = ctx.Stations.KpTable[1].Nom_OPC_Alarm;
        pointId = ctx.Stations.KpTable[1].Nom_OPC_TS;
    }

    // ms of the fake clock (50 unless a wait has used its share) and one
    // tick: every third one publishes.
    void Tick(std::int64_t ms = 50)
    {
        clock.Advance(ms);
        ServiceTick(ctx);
    }
    // Up to and including the next publication pass.
    void Pass()
    {
        do
            Tick();
        while (ctx.Running.TickCounter % 3 != 0);
    }
    // The same with the link's part of a tick alone: connects, timers,
    // frames, but no publication.
    void LinkTick(std::int64_t ms = 50)
    {
        clock.Advance(ms);
        ServicePeriodic(ctx);
    }
    // Ticks (or link ticks) until pred holds, for up to Patience. The fake
    // clock moves 50 ms a tick for the first budgetMs of the wait, then
    // stands while the ticks go on taking what arrives.
    template <class Pred>
    bool TickUntil(Pred pred, bool publish = true, std::int64_t budgetMs = LinkPausesMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        for (std::int64_t spent = 0; std::chrono::steady_clock::now() < deadline;) {
            if (pred())
                return true;
            const std::int64_t step = spent < budgetMs ? 50 : 0;
            spent += step;
            publish ? Tick(step) : LinkTick(step);
            std::this_thread::sleep_for(2ms);
        }
        return pred();
    }
    // Ticks (or link ticks) until kpsim prints a line starting with prefix.
    bool TickUntilLine(KpsimProcess& kpsim, const std::string& prefix, bool publish = true,
                       std::int64_t budgetMs = LinkPausesMs)
    {
        return TickUntil([&] { return kpsim.WaitFor(prefix, 5ms).has_value(); }, publish, budgetMs);
    }
    // The link has sent STARTDT act and waits for its con.
    bool StartDtOutstanding()
    {
        bool outstanding = false;
        ctx.Channels.WithLink(
            1, [&](TClient104Frm& link) { outstanding = link.pcl()->Yes(TBit104Subj::bsb_STARTDT_Act); });
        return outstanding;
    }

    // The link runs its data transfer and has taken n I-frames on this connection.
    bool Received(int n)
    {
        bool received = false;
        ctx.Channels.WithLink(1,
                              [&](TClient104Frm& link) { received = link.pcl()->StartDT() && link.pcl()->vr() >= n; });
        return received;
    }

    // The station row's connection cell on the stations page.
    std::string PageConnection()
    {
        const auto page = Request(webPort, "GET", "/config.php");
        if (!page || page->status != 200)
            return "no page";
        const std::string body = Cp1251ToUtf8(page->body);
        const std::string address = passive ? "Пассивный" : "127.0.0.1";
        const std::string row = "<td>KP1</td><td>" + address + "</td><td>" + std::to_string(stationPort) + "</td><td>";
        const auto at = body.find(row);
        if (at == std::string::npos)
            return "no row";
        const auto from = at + row.size();
        return body.substr(from, body.find("</td>", from) - from);
    }
    // The point's value cell on the points page ("Нет соединения" while not connected).
    std::string PagePoint() { return PagePointCell(0); }
    // The point's quality cell on the points page: its IEC quality byte.
    std::string PageQuality() { return PagePointCell(1); }
    // Cell n of the point's row on the points page, counted from its value.
    std::string PagePointCell(int n)
    {
        const auto page = Request(webPort, "GET", "/tstek.php");
        if (!page || page->status != 200)
            return "no page";
        const std::string body = Cp1251ToUtf8(page->body);
        const std::string row = "<td>" + std::to_string(Ca) + "</td><td>" + std::to_string(PointIoa) + "</td><td>";
        const auto at = body.find(row);
        if (at == std::string::npos)
            return "no row";
        auto from = at + row.size();
        for (int i = 0; i < n; ++i)
            from = body.find("<td>", from) + 4;
        return body.substr(from, body.find("</td>", from) - from);
    }
    // The OPC DA quality of item id, as the item table holds it for OPC DA.
    int ItemQuality(int id)
    {
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        return ctx.Items.OpcItems[static_cast<std::size_t>(id)].Quality;
    }

    // What a fresh OPC UA client reads now: "value status" of variable id,
    // and its source time in ms since 1970 UTC.
    struct TUaRead {
        std::string value;
        std::int64_t sourceMs = 0;
    };
    TUaRead UaRead(int id)
    {
        const std::string command = "XDG_CONFIG_HOME='" + home.File("xdg") + "' node '" + NpmDir
                                    + "/bridge_probe.js' opc.tcp://127.0.0.1:" + std::to_string(settings.OPC_UA_Port)
                                    + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        while (std::size_t n = pipe ? std::fread(buffer, 1, sizeof buffer, pipe) : 0)
            out.append(buffer, n);
        if (pipe)
            ::pclose(pipe);
        TUaRead r;
        std::istringstream in(out);
        const std::string id_ = std::to_string(id);
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string kind, a, b, name, value, status;
            words >> kind >> a;
            if (kind == "var" && (words >> b >> name >> value >> status) && b == id_)
                r.value = value + " " + status;
            else if (kind == "time" && a == id_)
                words >> r.sourceMs;
        }
        return r;
    }

    // A client subscribed to "Connected" and the point, from now on.
    void Watch()
    {
        Poco::Process::Env env{{"XDG_CONFIG_HOME", home.File("xdg")}};
        watch = std::make_unique<ChildLines>(
            "node",
            std::vector<std::string>{NpmDir + "/ua_watch.js",
                                     "opc.tcp://127.0.0.1:" + std::to_string(settings.OPC_UA_Port),
                                     std::to_string(alarmId), std::to_string(pointId)},
            env);
        ASSERT_TRUE(watch->WaitFor("ready", Patience)) << "no subscription";
    }
    // "value status" of every notification of variable id the client has read so far.
    std::vector<std::string> Notified(int id)
    {
        std::vector<std::string> seen;
        const std::string prefix = "change " + std::to_string(id) + " ";
        for (const std::string& line : watch->Lines())
            if (line.rfind(prefix, 0) == 0) {
                std::istringstream words(line.substr(prefix.size()));
                std::string value, status;
                words >> value >> status;
                seen.push_back(value + " " + status);
            }
        return seen;
    }

    // Brings the station up: connected on both sides, the point published good.
    void BringUp(KpsimProcess& kpsim)
    {
        ASSERT_TRUE(TickUntilLine(kpsim, "interrogation station=1"));
        ASSERT_TRUE(TickUntil([&] { return Received(3); })); // act con, the point, act term
        Pass();
        ASSERT_EQ(PageConnection().rfind("Есть", 0), 0u) << PageConnection();
        ASSERT_EQ(UaRead(alarmId).value, "true Good");
        ASSERT_EQ(UaRead(pointId).value, "false Good");
    }

    // On every surface at once: the station not connected, the point not good.
    void ExpectLost()
    {
        EXPECT_EQ(PageConnection(), "Нет");
        EXPECT_EQ(PagePoint(), "Нет соединения");
        const std::string quality = PageQuality();
        EXPECT_NE(std::atoi(quality.c_str()) & QualityIV, 0) << "quality on the page " << quality;
        EXPECT_EQ(UaRead(alarmId).value, "false Good");
        const std::string point = UaRead(pointId).value;
        EXPECT_EQ(point.substr(point.find(' ') + 1), "Bad") << point;
        EXPECT_NE(ItemQuality(pointId), OpcQualityGood);
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        EXPECT_EQ(ctx.Items.OpcItemValues[static_cast<std::size_t>(alarmId)], 0);
    }

    static constexpr int OpcQualityGood = 0xC0;

    TempDir home;
    FakeClock clock;
    int webPort = FreePort();
    int stationPort = 0;
    int reservePort = 0;
    bool passive = false;
    int alarmId = 0, pointId = 0;
    TOpcUaSettings settings;
    TOpcUaLibraryBridge bridge{settings};
    TSocketChannelFactory factory;
    TShared<bool> reconfigure;
    TServiceContext ctx;
    TFieldgateWebServer web{ctx, home.path() + "/", reconfigure, "127.0.0.1"};
    TPlugged plugged = Plug(ctx, {&factory, &bridge, &web, Iec104CfgReader(settings)});
    std::unique_ptr<ChildLines> watch;
};

// A station that takes the TCP connection but never answers STARTDT is not
// connected; once it answers, it is, stamped with the time it started, and a
// time-tagged point later does not move that stamp.
TEST_F(ConnectedState, ConnectedFromTheConfirmedStartOfTransferStampedWithIt)
{
    KpsimProcess kpsim(StationArgs({"--listen", "127.0.0.1:0"}, "--silent"));
    Start(kpsim);
    ASSERT_TRUE(TickUntilLine(kpsim, "connected station=1"));
    ASSERT_TRUE(TickUntil([&] { return StartDtOutstanding(); }));
    Pass();
    EXPECT_EQ(PageConnection(), "Нет") << "a bare TCP connection shown as a connected station";
    EXPECT_EQ(UaRead(alarmId).value, "false Good");
    EXPECT_EQ(PagePoint(), "Нет соединения");

    // The STARTDT act went to a silent station: t1 drops the connection, and
    // the next one starts the transfer.
    kpsim.Control("talk 1");
    ASSERT_TRUE(TickUntilLine(kpsim, "startdt station=1", true, LinkTimeoutsMs));
    ASSERT_TRUE(TickUntil([&] { return ctx.Stations.KpTable[1].Connected.Get(); }));
    const TDateTime started = ctx.Stations.KpTable[1].Connected_Time;
    ASSERT_TRUE(TickUntilLine(kpsim, "interrogation station=1"));
    for (int i = 0; i < 20; ++i)
        Tick(); // the stamp is the start's, not that of a later pass
    EXPECT_EQ(PageConnection(), "Есть (127.0.0.1:" + std::to_string(stationPort) + ")");
    TUaRead connected = UaRead(alarmId);
    EXPECT_EQ(connected.value, "true Good");
    EXPECT_EQ(connected.sourceMs, UaMs(started));

    // A point time-tagged an hour ago: its own stamp, not "Connected"'s.
    TDateTime pointTime = 0;
    TDateTimeParts parts;
    ASSERT_TRUE(TryDecodeDateTime(clock.Now() - 1.0 / 24, parts));
    ASSERT_TRUE(TryEncodeDateTime(parts, pointTime)); // whole milliseconds, as CP56Time2a carries them
    kpsim.Control("set 1 100 1 time=" + KpsimTime(pointTime));
    ASSERT_TRUE(TickUntil([&] { return PagePoint() == "1"; }));
    Pass();
    const TUaRead point = UaRead(pointId);
    EXPECT_EQ(point.value, "true Good");
    EXPECT_EQ(point.sourceMs, UaMs(pointTime));
    connected = UaRead(alarmId);
    EXPECT_EQ(connected.value, "true Good");
    EXPECT_EQ(connected.sourceMs, UaMs(started)) << "\"Connected\" took the point's time";
}

// A station that never connected reads "Connected" false through OPC UA
// from the first pass, also after a restart of the service, whose new
// variables start without a value.
TEST_F(ConnectedState, NeverConnectedStationReadsFalseAfterARestart)
{
    KpsimProcess kpsim(StationArgs({"--listen", "127.0.0.1:0"}, "--silent"));
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        Start(kpsim);
        Pass();
        EXPECT_EQ(PageConnection(), "Нет");
        EXPECT_EQ(UaRead(alarmId).value, "false Good");
        ServiceStop(ctx);
    }
}

// A station that stops answering is lost when its link gives up on it, and
// a new TCP connection to the hung station does not bring it back.
TEST_F(ConnectedState, StationThatHangsIsLostAndStaysLostAcrossReconnects)
{
    KpsimProcess kpsim(StationArgs({"--listen", "127.0.0.1:0"}));
    Start(kpsim);
    BringUp(kpsim);
    ASSERT_FALSE(HasFailure());

    kpsim.Control("silent 1");
    ASSERT_TRUE(kpsim.WaitFor("done station=1 action=silent"));
    ASSERT_TRUE(TickUntilLine(kpsim, "disconnected station=1", true, LinkTimeoutsMs));
    ASSERT_TRUE(TickUntilLine(kpsim, "connected station=1"));
    ASSERT_TRUE(TickUntil([&] { return StartDtOutstanding(); }));
    Pass();
    EXPECT_EQ(PageConnection(), "Нет");
    EXPECT_EQ(PagePoint(), "Нет соединения");
    EXPECT_EQ(UaRead(alarmId).value, "false Good");
    EXPECT_EQ(UaRead(pointId).value.substr(UaRead(pointId).value.find(' ') + 1), "Bad");
}

// A drop and the reconnect that follows inside one publication pass: the
// client still sees "Connected" false and the point invalid, then the new
// connection's state.
TEST_F(ConnectedState, DropAndReconnectWithinOnePassIsStillPublished)
{
    KpsimProcess kpsim(StationArgs({"--listen", "127.0.0.1:0"}));
    Start(kpsim);
    BringUp(kpsim);
    ASSERT_FALSE(HasFailure());
    Watch();
    ASSERT_FALSE(HasFailure());

    kpsim.Control("close 1");
    ASSERT_TRUE(TickUntilLine(kpsim, "disconnected station=1", false));
    ASSERT_TRUE(TickUntilLine(kpsim, "interrogation station=1", false));
    ASSERT_TRUE(TickUntil([&] { return Received(3); }, false));
    ASSERT_TRUE(ctx.Stations.KpTable[1].Connected.Get());
    Pass();
    EXPECT_EQ(PageConnection(), "Есть (127.0.0.1:" + std::to_string(stationPort) + ")");

    ASSERT_TRUE(watch->WaitFor("change " + std::to_string(alarmId) + " true", Patience));
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (Notified(pointId).size() < 3 && std::chrono::steady_clock::now() < deadline)
        watch->WaitFor("change " + std::to_string(pointId), 100ms);
    EXPECT_EQ(Notified(alarmId), (std::vector<std::string>{"true Good", "false Good", "true Good"}));
    EXPECT_EQ(Notified(pointId), (std::vector<std::string>{"false Good", "false Bad", "false Good"}));
}

// Every way a station goes: it closes the connection, resets it, stops the
// transfer or its process dies. Each time the station is then silent, taking
// the gateway's new connections without answering, so the loss shows while a
// TCP connection is up again; the point turns good only with the value of the
// interrogation once the station answers.
// A passive station, connecting to the gateway, goes the same ways.
class StationGone : public ConnectedState, public ::testing::WithParamInterface<std::tuple<std::string, bool>> {
protected:
    // kpsim as the station, on the port the last one had, or a new one.
    std::unique_ptr<KpsimProcess> Station(std::vector<std::string> options)
    {
        std::vector<std::string> args =
            StationArgs(passive ? std::vector<std::string>{"--connect", "127.0.0.1:" + std::to_string(stationPort),
                                                           "--reconnect", "50"}
                                : std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(stationPort)});
        args.insert(args.end(), options.begin(), options.end());
        return std::make_unique<KpsimProcess>(args);
    }
};

TEST_P(StationGone, EverySurfaceShowsItLostUntilFreshData)
{
    const auto& [way, passiveStation] = GetParam();
    passive = passiveStation;
    if (passive)
        stationPort = FreePort();
    auto kpsim = Station({});
    Start(*kpsim);
    BringUp(*kpsim);
    ASSERT_FALSE(HasFailure());
    kpsim->Control("set 1 100 1");
    ASSERT_TRUE(TickUntil([&] { return PagePoint() == "1"; }));
    Pass();
    ASSERT_EQ(UaRead(pointId).value, "true Good");

    if (way == "kill") {
        kpsim->Kill();
        kpsim = Station({"--silent"});
    } else {
        kpsim->Control(way + " 1");
        ASSERT_TRUE(kpsim->WaitFor("done station=1 action=" + way));
        kpsim->Control("silent 1");
        ASSERT_TRUE(kpsim->WaitFor("done station=1 action=silent"));
        // Its point changes meanwhile: only a fresh value may turn it good.
        kpsim->Control("set 1 100 0");
        ASSERT_TRUE(kpsim->WaitFor("done station=1 action=set"));
    }
    ASSERT_TRUE(TickUntil([&] { return !ctx.Stations.KpTable[1].Connected.Get(); }));
    ASSERT_TRUE(TickUntilLine(*kpsim, "connected station=1"));
    ASSERT_TRUE(TickUntil([&] { return StartDtOutstanding(); }));
    Pass();
    ExpectLost();

    // The STARTDT act the silent station took goes unanswered: t1 drops
    // that connection, and the next one starts the transfer.
    kpsim->Control("talk 1");
    ASSERT_TRUE(TickUntilLine(*kpsim, "interrogation station=1", true, LinkTimeoutsMs));
    ASSERT_TRUE(TickUntil([&] { return Received(3); }));
    Pass();
    EXPECT_EQ(PageConnection().rfind("Есть", 0), 0u) << PageConnection();
    EXPECT_EQ(PagePoint(), "0");
    EXPECT_EQ(UaRead(alarmId).value, "true Good");
    EXPECT_EQ(UaRead(pointId).value, "false Good");
    EXPECT_EQ(ItemQuality(pointId), OpcQualityGood);
}

INSTANTIATE_TEST_SUITE_P(Ways, StationGone,
                         ::testing::Combine(::testing::Values("close", "reset", "stopdt", "kill"), ::testing::Bool()));

// A station with a reserve address keeps its values for its grace, also
// while both its addresses take connections and never start the transfer;
// then they turn bad on every surface.
TEST_F(ConnectedState, ReserveGraceEndsAlsoWhileConnectionsAreTaken)
{
    std::vector<std::string> args = StationArgs({"--listen", "127.0.0.1:0"});
    for (const std::string& arg : StationArgs({"--listen", "127.0.0.1:0"}))
        args.push_back(arg);
    KpsimProcess kpsim(args);
    reservePort = kpsim.ListenPort(2);
    Start(kpsim);
    BringUp(kpsim);
    ASSERT_FALSE(HasFailure());

    kpsim.Control("silent 0");
    ASSERT_TRUE(kpsim.WaitFor("done station=2 action=silent"));
    kpsim.Control("close 1");
    ASSERT_TRUE(kpsim.WaitFor("done station=1 action=close"));
    ASSERT_TRUE(TickUntil([&] { return !ctx.Stations.KpTable[1].Connected.Get(); }));
    Pass();
    EXPECT_EQ(UaRead(alarmId).value, "false Good");
    EXPECT_EQ(UaRead(pointId).value, "false Good") << "the grace keeps the values";

    const TDateTime lost = clock.Now();
    ASSERT_TRUE(TickUntil([&] { return ItemQuality(pointId) != OpcQualityGood; }, true, LinkTimeoutsMs))
        << "still good after " << (clock.Now() - lost) * 86400 << " s";
    EXPECT_GE((clock.Now() - lost) * 86400, 29.0);
    Pass();
    ExpectLost();
}

} // namespace
} // namespace gw::test
