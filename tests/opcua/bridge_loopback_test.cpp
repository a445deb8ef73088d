// The whole command path on real things: an OPC UA client (node-opcua) writes
// to the bridge's libtagserve.so, the command entry queues the commands, and
// the active channel carries them over loopback to kpsim (a real process),
// whose output shows what arrived and in which order.
#include "service/channel_rig.h"
#include "service/service_ticker.h"
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
    // (items 3 and 4), commanded with select.
    TOneStation Config() const
    {
        TOneStation s;
        s.commonAddress = Ca;
        s.port = stationPort;
        for (const int ioa : {100, 101})
            s.points.emplace_back(ioa, "", ioa + CommandOffset);
        return s;
    }
    // The OPC UA port is chosen once kpsim holds its own, and the channel
    // connects (taking a port of its own) once the server listens.
    void Start()
    {
        settings.OPC_UA_Port = FreePort();
        temp.Write(Iec104CfgFileName, OneStationCfg(Config()));
        ASSERT_TRUE(ServiceStart(ctx));
        ASSERT_TRUE(ctx.Switches.OpcUaRunning);
        ASSERT_TRUE(Eventually([this] { return Listening(settings.OPC_UA_Port); }, 20s));
        ticker.Start();
        clock.Advance(1200); // the active channel's first connect pause
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

} // namespace
} // namespace gw::test
