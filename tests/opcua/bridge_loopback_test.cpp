// The whole command path on real things: an OPC UA client (node-opcua) writes
// to the bridge's libtagserve.so, the command entry queues the commands, and
// the active channel carries them over loopback to kpsim (a real process),
// whose output shows what arrived and in which order.
#include "service/channel_rig.h"
#include "service/service_ticker.h"
#include "core/cp1251.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"
#include "ua_probe.h"

#include "opcua/opcuabridge.h"
#include "service/cfgfile.h"
#include "service/channelfactory.h"
#include "service/serviceinit.h"

#include <filesystem>

namespace gw::test {
namespace {

constexpr int Ca = 3;
constexpr int CommandOffset = 5000; // the command of point X is addressed X + 5000

class BridgeLoopback : public ::testing::Test {
protected:
    BridgeLoopback()
    {
        settings.OPC_UA_use = true;
        settings.OPC_UA_writable = true;
        ctx.Process.Clock = &clock;
        ctx.Process.ExePath = temp.File("fieldgate");
        std::filesystem::create_symlink(TAGSERVE_LIBRARY, temp.File(OpcUaLibraryName));
        ServiceInit(ctx);
    }
    ~BridgeLoopback() override
    {
        ticker.Stop();
        ServiceStop(ctx);
    }

    // One active station on kpsim's port with two single points 100 and 101
    // (items 3 and 4) and a double point 102 (item 5), commanded with select.
    TOneStation Config() const
    {
        TOneStation s;
        s.commonAddress = Ca;
        s.port = stationPort;
        for (const int ioa : {100, 101})
            s.points.emplace_back(ioa, "", ioa + CommandOffset);
        s.points.emplace_back(102, "", 102 + CommandOffset, 2, 1);
        return s;
    }
    // kpsim with the points of Config(); its station's port is taken.
    static std::vector<std::string> KpsimArgs()
    {
        return {"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100:2", "--dp", "102", "--cmd-offset",
                std::to_string(CommandOffset),
                // The gateway acknowledges as its fake clock moves, and a
                // client process can take seconds on a loaded machine.
                "--t1", "255000", "--t2", "250000"};
    }
    // The OPC UA port is chosen once kpsim holds its own, and the channel
    // connects (taking a port of its own) once the server listens.
    void Start()
    {
        StartUnconnected();
        Connect();
    }
    void StartUnconnected()
    {
        settings.OPC_UA_Port = FreePort();
        temp.Write(Iec104CfgFileName, OneStationCfg(Config()));
        ASSERT_TRUE(ServiceStart(ctx));
        ASSERT_TRUE(ctx.Switches.OpcUaRunning);
        ASSERT_TRUE(Eventually([this] { return Listening(settings.OPC_UA_Port); }, 20s));
        ticker.Start();
    }
    void Connect() { clock.Advance(1200); } // the active channel's first connect pause

    std::string Write(const std::string& writes)
    {
        int status = 0;
        const std::string out = RunUaProbe(temp.File("xdg"), settings.OPC_UA_Port, writes, status);
        EXPECT_EQ(status, 0) << out;
        return out;
    }
    // Lines of "log_iec104.txt" that contain part.
    std::size_t Logged(const std::string& part) const
    {
        std::istringstream in(Cp1251ToUtf8(temp.Read("log_iec104.txt")));
        std::size_t n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find(part) != std::string::npos ? 1 : 0;
        return n;
    }
    bool AwaitLogged(const std::string& part, std::size_t times = 1) const
    {
        return Eventually([&] { return Logged(part) >= times; });
    }

    static bool Listening(int port)
    {
        try {
            Poco::Net::StreamSocket probe(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)));
            return true;
        } catch (const Poco::Exception&) {
            return false;
        }
    }

    TempDir temp;
    FakeClock clock;
    TSocketChannelFactory factory;
    TOpcUaSettings settings;
    TOpcUaLibraryBridge bridge{settings};
    int stationPort = 0;
    TServiceContext ctx;
    TPlugged plugged = Plug(ctx, {&factory, &bridge, nullptr, Iec104CfgReader(settings)});
    ServiceTicker ticker{ctx};
};

// Two writes in one request reach the library's callback within a
// millisecond: both commands reach the station, in order, each with its
// select and execute.
TEST_F(BridgeLoopback, TwoWritesToOneStationReachItInOrder)
{
    if (!HasUaClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    KpsimProcess kpsim(
        {"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100:2", "--cmd-offset", std::to_string(CommandOffset)});
    stationPort = kpsim.ListenPort(1);
    Start();
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));

    int status = 0;
    const std::string out = RunUaProbe(temp.File("xdg"), settings.OPC_UA_Port,
                                       "--write 'ns=1;i=3' Boolean true --write 'ns=1;i=4' Boolean false", status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_TRUE(Has(out, "write 3 Good")) << out;
    EXPECT_TRUE(Has(out, "write 4 Good")) << out;
    const std::string first = "command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=1 ";
    const std::string second = "command station=1 type=C_SC_NA_1 ca=3 ioa=5101 value=0 ";
    for (const std::string& line : {first + "select=1", first + "select=0", second + "select=1", second + "select=0"}) {
        const auto got = kpsim.WaitFor("command ");
        ASSERT_TRUE(got) << line;
        EXPECT_EQ(got->substr(0, line.size()), line);
    }
}

// The lines of out that are exactly line.
std::size_t Lines(const std::string& out, const std::string& line)
{
    std::istringstream in(out);
    std::size_t n = 0;
    for (std::string l; std::getline(in, l);)
        n += l == line ? 1 : 0;
    return n;
}

// The kpsim lines of commands to object ioa.
std::size_t CommandsTo(const KpsimProcess& kpsim, int ioa)
{
    const std::string part = " ioa=" + std::to_string(ioa) + " ";
    return static_cast<std::size_t>(std::ranges::count_if(kpsim.Lines(), [&](const std::string& l) {
        return l.rfind("command ", 0) == 0 && l.find(part) != std::string::npos;
    }));
}

// A write the gateway cannot command is answered with why and sends
// nothing: a station without data transfer, a value that is no double
// point state, the 17th and later writes to one station in one request.
// An accepted write is Good and executed once. What each case sent shows in
// kpsim's lines once the command of a later write has arrived after it.
TEST_F(BridgeLoopback, WritesThatGiveNoCommandAreAnsweredWithWhyAndSendNothing)
{
    if (!HasUaClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    KpsimProcess kpsim(KpsimArgs());
    stationPort = kpsim.ListenPort(1);
    StartUnconnected();
    EXPECT_TRUE(Has(Write("--write 'ns=1;i=3' Boolean true"), "write 3 BadNoCommunication"));
    Connect();
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    const std::string out = Write("--write 'ns=1;i=5' Int32 0 --write 'ns=1;i=5' Int32 3 --write 'ns=1;i=5' Int32 -5");
    EXPECT_EQ(Lines(out, "write 5 BadOutOfRange"), 3u) << out;

    // Accepted and executed, once: the first command kpsim sees.
    EXPECT_TRUE(Has(Write("--write 'ns=1;i=4' Boolean true"), "write 4 Good"));
    ASSERT_TRUE(kpsim.WaitFor("command station=1 type=C_SC_NA_1 ca=3 ioa=5101 value=1 select=0"));
    ASSERT_TRUE(AwaitLogged(" ExecuteTU - команда выполнена, sstID="));
    EXPECT_EQ(CommandsTo(kpsim, 5101), 2u); // its select and execute
    EXPECT_EQ(CommandsTo(kpsim, 5100) + CommandsTo(kpsim, 5102), 0u);

    // Held by the station, the first command of 20 never completes: 16 fill the queue.
    kpsim.Control("hold 1 on");
    ASSERT_TRUE(kpsim.WaitFor("done station=1 action=hold"));
    std::string twenty;
    for (int k = 0; k < 20; ++k)
        twenty += " --write 'ns=1;i=3' Boolean true";
    const std::string queued = Write(twenty);
    EXPECT_EQ(Lines(queued, "write 3 Good"), 16u) << queued;
    EXPECT_EQ(Lines(queued, "write 3 BadTooManyOperations"), 4u) << queued;
    EXPECT_EQ(Logged(": очередь команд полна (16), КП 1"), 4u);
    // The held one ends at its time-out, and the other 15 run as the station answers again.
    ASSERT_TRUE(kpsim.WaitFor("command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=1 select=1"));
    kpsim.Control("hold 1 off");
    ASSERT_TRUE(kpsim.WaitFor("done station=1 action=hold"));
    clock.Advance(6001);
    ASSERT_TRUE(AwaitLogged(" ExecuteTU - команда выполнена, sstID=", 1 + 15)); // the first write's, and these
    EXPECT_TRUE(Has(Write("--write 'ns=1;i=4' Boolean false"), "write 4 Good"));
    ASSERT_TRUE(kpsim.WaitFor("command station=1 type=C_SC_NA_1 ca=3 ioa=5101 value=0 select=0"));
    EXPECT_EQ(CommandsTo(kpsim, 5100), 1u + 15u * 2u);
    EXPECT_EQ(Logged(" ExecuteTU - команда без ответа, sstID="), 1u);
}

// How each command ended is a line in "log_iec104.txt": refused by the
// station, left without an answer, dropped with the link.
TEST_F(BridgeLoopback, EachCommandsEndIsLogged)
{
    if (!HasUaClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    KpsimProcess kpsim(KpsimArgs());
    stationPort = kpsim.ListenPort(1);
    Start();
    ASSERT_TRUE(kpsim.WaitFor("interrogation station=1 ca=3"));
    const std::string point = "КП 1 \"KP1\", сигнал \"\" (ТУ 3:5100), команда Вкл";
    const std::string held = "command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=1 select=1 qu=1 reply=none";

    kpsim.Control("refuse 1 on");
    ASSERT_TRUE(kpsim.WaitFor("done station=1 action=refuse"));
    EXPECT_TRUE(Has(Write("--write 'ns=1;i=3' Boolean true"), "write 3 Good"));
    EXPECT_TRUE(AwaitLogged(" ExecuteTU - команда отклонена КП, sstID=0: " + point));

    kpsim.Control("refuse 1 off");
    kpsim.Control("hold 1 on");
    ASSERT_TRUE(kpsim.WaitFor("done station=1 action=hold"));
    EXPECT_TRUE(Has(Write("--write 'ns=1;i=3' Boolean true"), "write 3 Good"));
    ASSERT_TRUE(kpsim.WaitFor(held));
    clock.Advance(6001);
    EXPECT_TRUE(AwaitLogged(" ExecuteTU - команда без ответа, sstID=0: время ожидания ответа истекло, " + point));

    EXPECT_TRUE(Has(Write("--write 'ns=1;i=3' Boolean true"), "write 3 Good"));
    ASSERT_TRUE(kpsim.WaitFor(held));
    kpsim.Control("close 1");
    EXPECT_TRUE(AwaitLogged(" ExecuteTU - команда снята, sstID=0: нет связи с " + point));
}

} // namespace
} // namespace gw::test
