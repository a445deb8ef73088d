// The bridge on a real service start (fake clock, fake channels) with the
// real libtagserve.so loaded from the service directory, checked with a real
// OPC UA client (node-opcua-client, tests/npm/bridge_probe.js).
#include "service/service_fixture.h"
#include "service/station_asdu.h"
#include "ua_probe.h"

#include "core/commandqueue.h"
#include "opcua/opcuabridge.h"
#include "opcua/uatime.h"
#include "service/cfgfile.h"
#include "service/commandentry.h"
#include "testkit/free_port.h"

#include <filesystem>

namespace gw::test {
namespace {

const std::string NpmDir = std::string(GATEWAY_SOURCE_DIR) + "/tests/npm";

class BridgeTest : public ServiceTest {
protected:
    BridgeTest()
    {
        settings.OPC_UA_use = true;
        settings.OPC_UA_writable = true;
        settings.OPC_UA_Port = FreePort();
        TStationSpec s1;
        s1.name = "Трансформатор 1";
        // Items: Connected 2, single point 3 (command 101, direct), double
        // point 4 (command 102, direct), measured values 5 and 6.
        s1.ts = {TSignalSpec{1, 101, 1, 0}, TSignalSpec{2, 102, 3, 1}};
        s1.ti = {TSignalSpec{10, 0, 0, 0}, TSignalSpec{11, 0, 0, 0}};
        TStationSpec s2;
        s2.name = "1-я секция";
        s2.ip = "10.0.0.2";
        // Items: Connected 8, single point 9 (command 201, direct).
        s2.ts = {TSignalSpec{1, 201, 1, 0}};
        stations = {s1, s2};
        readConfig = [this](TServiceContext& c) {
            Configure(c);
            c.Stations.KpTable[1].TS_arr[1].NameTS = "Выкл. 1";
            c.Stations.KpTable[1].TS_arr[2].NameTS = "QF-2";
            c.Stations.KpTable[1].TI_arr[1].NameTI = "Ток";
            c.Stations.KpTable[1].TI_arr[2].NameTI = "Напряжение";
            c.Stations.KpTable[2].TS_arr[1].NameTS = "Выкл. 1";
        };
    }

    void WithLibrary() { std::filesystem::create_symlink(TAGSERVE_LIBRARY, temp.File(OpcUaLibraryName)); }
    // The server asks for a login: the library in place, user and password set.
    void WithLogin(const std::string& user, const std::string& password)
    {
        WithLibrary();
        settings.OPC_UA_by_pwd = true;
        settings.OPC_UA_username = user;
        settings.OPC_UA_password = password;
    }
    // A client that logs in with args sees the first station's group.
    void ExpectLogsIn(const std::string& out, int status) const
    {
        EXPECT_EQ(status, 0) << out;
        EXPECT_TRUE(Has(out, "group 80001 Transformator_1")) << out;
    }
    bool HasClient() const { return HasUaClient(); }
    std::string Probe(const std::string& args, int& status)
    {
        return RunUaProbe(temp.File("xdg"), settings.OPC_UA_Port, args, status);
    }
    // Up to and including the next publication pass.
    void Pass()
    {
        do
            Ticks(1);
        while (ctx.Running.TickCounter % 3 != 0);
    }
    // The command frames (type 45, 46) station kp's channel sent in one tick:
    // type, object address and command byte.
    std::vector<std::array<int, 3>> Commands(int kp)
    {
        Ticks(1);
        std::vector<TBytes> frames;
        Answer(kp, &frames);
        std::vector<std::array<int, 3>> commands;
        for (const TBytes& f : frames)
            if (f.size() >= 16 && (f[6] == 45 || f[6] == 46))
                commands.push_back({f[6], f[12] | f[13] << 8 | f[14] << 16, f[15]});
        return commands;
    }

    TOpcUaSettings settings;
    TOpcUaLibraryBridge bridge{settings};
    TPlugged withBridge = Plug(ctx, {&factory, &bridge, nullptr, Reader()});
};

TEST_F(BridgeTest, ClientBrowsesReadsAndWritesACommandToTheRightSignal)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    WithLibrary();
    Start();
    ASSERT_TRUE(ctx.Switches.OpcUaRunning);
    EXPECT_EQ(bridge.LifebitId(), 11); // last item 9, plus 2
    Bring(1);
    Bring(2);
    Send(1, Asdu(1, 1, {0x01}));              // single point on
    Send(1, Asdu(3, 2, {0x01}));              // double point off
    Send(1, Asdu(13, 10, Float(12.5f, 0)));   // good
    Send(1, Asdu(13, 11, Float(3.0f, 0x80))); // invalid
    Pass();

    int status = 0;
    const std::string out = Probe("--write 'ns=1;i=9' Boolean true", status);
    ASSERT_EQ(status, 0) << out;
    for (const char* line :
         {"group 80001 Transformator_1", "group 80002 n_a_sekcia", "group 80003 lifebit",
          "var 80001 2 Connected true Good", "var 80001 3 Vikl__1 true Good", "var 80001 4 QF_2 1 Good",
          "var 80001 5 Tok 12.5 Good", "var 80001 6 Napragenie 3 Bad", "var 80002 8 Connected true Good",
          "var 80002 9 Vikl__1 null BadWaitingForInitialData", "write 9 Good"})
        EXPECT_TRUE(Has(out, line)) << line << "\n" << out;
    EXPECT_NE(out.find("var 80003 11 lifebit "), std::string::npos) << out;
    // Source times: the items' local stamps as the same instant in UTC.
    for (int id : {3, 5}) {
        const std::int64_t ms =
            (DateTimeToUaTime(ctx.Items.OpcItems[static_cast<std::size_t>(id)].Stamp_DateTime) - UaTimeOf1970) / 10'000;
        EXPECT_TRUE(Has(out, "time " + std::to_string(id) + " " + std::to_string(ms))) << id << "\n" << out;
    }

    // The write to station 2's point is a single command On to its object
    // 201, on station 2's channel only.
    EXPECT_TRUE(Commands(1).empty());
    const auto commands = Commands(2);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0][0], 45);
    EXPECT_EQ(commands[0][1], 201);
    EXPECT_EQ(commands[0][2] & 0x81, 0x01); // execute, On
}

TEST_F(BridgeTest, DoublePointWritesAndReadOnlyPoints)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    WithLibrary();
    stations[1].ts.push_back(TSignalSpec{2, 0, 0, 0}); // item 10: no command addresses
    Start();
    Bring(1);
    Bring(2);
    int status = 0;
    // A point that cannot be commanded refuses the write rather than answer
    // Good for a command that never leaves.
    std::string cannot = Probe("--write 'ns=1;i=10' Boolean true", status);
    EXPECT_TRUE(Has(cannot, "write 10 BadNotWritable")) << cannot;
    EXPECT_TRUE(Commands(2).empty());
    // 2 is On for a double point: a double command (46) to object 102.
    std::string out = Probe("--write 'ns=1;i=4' Int32 2", status);
    ASSERT_TRUE(Has(out, "write 4 Good")) << out;
    auto commands = Commands(1);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0][0], 46);
    EXPECT_EQ(commands[0][1], 102);
    EXPECT_EQ(commands[0][2] & 0x83, 0x02);
    // 0, 3 and -5 are no state of a double point: no command, and the client hears so.
    for (const char* v : {"0", "3", "-5"}) {
        out = Probe(std::string("--write 'ns=1;i=4' Int32 ") + v, status);
        EXPECT_TRUE(Has(out, "write 4 BadOutOfRange")) << v << "\n" << out;
        EXPECT_TRUE(Commands(1).empty()) << v;
        EXPECT_NE(Log("log_iec104.txt").find(std::string("OPC UA: запись ") + v + " в переменную 4 не даёт команды"),
                  std::string::npos);
    }

    // Without write access every point is read-only, after the next start.
    ServiceStop(ctx);
    settings.OPC_UA_writable = false;
    Start();
    Bring(1);
    out = Probe("--write 'ns=1;i=3' Boolean true", status);
    EXPECT_TRUE(Has(out, "write 3 BadNotWritable")) << out;
    EXPECT_TRUE(Commands(1).empty());
}

// A write the command entry refuses (a full queue, a station without data
// transfer) is answered with why, logged with its station and signal, and
// the variable shows the station's state still, not what the client wrote.
TEST_F(BridgeTest, ARefusedWriteIsAnsweredWithWhyAndItsVariableKeepsTheStationsState)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    WithLibrary();
    Start();
    Bring(1);                    // station 2 stays without data transfer
    Send(1, Asdu(1, 1, {0x01})); // single point on
    Pass();
    const int tag = ctx.Items.OpcItems[3].Nomer_Tag;
    for (std::size_t k = 0; k < TTuQueue::MaxQueuedTu; ++k)
        ASSERT_TRUE(ExecuteTU(ctx, tag, TTUCommand::tuCommand_On));

    int status = 0;
    std::string out = Probe("--write 'ns=1;i=3' Boolean false --write 'ns=1;i=9' Boolean true", status);
    EXPECT_TRUE(Has(out, "write 3 BadTooManyOperations")) << out;
    EXPECT_TRUE(Has(out, "write 9 BadNoCommunication")) << out;
    std::string log = Log("log_iec104.txt");
    for (const char* line :
         {": очередь команд полна (16), КП 1 \"Трансформатор 1\"", ": нет связи с КП 2 \"1-я секция\""})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(log.find("отвечена клиенту Good"), std::string::npos) << log;

    out = Probe("", status);
    EXPECT_TRUE(Has(out, "var 80001 3 Vikl__1 true Good")) << out;
    EXPECT_TRUE(Has(out, "var 80002 9 Vikl__1 null BadWaitingForInitialData")) << out;
    // What leaves is the accepted commands' On.
    const auto commands = Commands(1);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0][2] & 0x81, 0x01);

    // A library without the write status callback has told its client Good:
    // the refusal's line says so.
    EXPECT_EQ(bridge.OpcUaWriteToCommand(9, 1, true), TTuDecision::NoDataTransfer);
    log = Log("log_iec104.txt");
    EXPECT_NE(log.find("OPC UA: запись 1 в переменную 9 отвечена клиенту Good, но команда не принята, КП 2 \"1-я "
                       "секция\", сигнал \"Выкл. 1\"\n"),
              std::string::npos)
        << log;
}

TEST_F(BridgeTest, UserNameAndPasswordInUtf8)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    WithLogin("оператор", "секрет");
    Start();
    int status = 0;
    std::string out = Probe("--user оператор секрет", status);
    ExpectLogsIn(out, status);
    out = Probe("--user оператор неверно", status);
    EXPECT_NE(status, 0) << out;
    EXPECT_FALSE(Has(out, "group 80001 Transformator_1")) << out;
}

// opcstation's OPC UA dialog stores into the settings while the server runs:
// the running server keeps what it was started with, the next start takes
// the new ones.
TEST_F(BridgeTest, SettingsEditedWhileTheServerRunsAreTheNextStarts)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    WithLogin("оператор", "секрет");
    const int started = settings.OPC_UA_Port;
    Start();
    settings.OPC_UA_Port = FreePort();
    settings.OPC_UA_username = "диспетчер";
    settings.OPC_UA_password = "пароль";
    int status = 0;
    std::string out = RunUaProbe(temp.File("xdg"), started, "--user оператор секрет", status);
    ExpectLogsIn(out, status);

    ServiceStop(ctx);
    Start();
    out = Probe("--user диспетчер пароль", status);
    ExpectLogsIn(out, status);
}

TEST_F(BridgeTest, StopJoinsTheServerAndAStartBuildsAfresh)
{
    WithLibrary();
    for (int round = 0; round < 3; ++round) {
        Start();
        ASSERT_TRUE(ctx.Switches.OpcUaRunning);
        ASSERT_EQ(bridge.Groups().size(), 6u);
        EXPECT_EQ(bridge.Groups()[2].Name, "n_a_sekcia");
        EXPECT_EQ(bridge.Groups()[3].index1, 80003);
        EXPECT_EQ(bridge.LifebitId(), 11); // last item 9, plus 2
        ServiceStop(ctx);
        EXPECT_FALSE(ctx.Switches.OpcUaRunning);
        EXPECT_EQ(bridge.LifebitId(), 0);
    }
    // A second bridge cannot take the library while the first one runs.
    Start();
    TOpcUaLibraryBridge other(settings);
    EXPECT_FALSE(other.Start(ctx));
    EXPECT_NE(Log("log_iec104.txt").find("другой сервер"), std::string::npos);
}

TEST_F(BridgeTest, OffOrLibraryMissingTheServiceRunsWithoutOpcUa)
{
    settings.OPC_UA_use = false;
    WithLibrary();
    Start();
    EXPECT_FALSE(ctx.Switches.OpcUaRunning);
    EXPECT_EQ(Log("log_iec104.txt"), "");
    ServiceStop(ctx);
    std::filesystem::remove(temp.File(OpcUaLibraryName));

    settings.OPC_UA_use = true;
    Start();
    EXPECT_FALSE(ctx.Switches.OpcUaRunning);
    EXPECT_NE(Log("log_iec104.txt").find("OPC UA: библиотека не загружена, " + temp.File(OpcUaLibraryName)),
              std::string::npos)
        << Log("log_iec104.txt");
    // The 104 side goes on: values reach the item table.
    Bring(1);
    Send(1, Asdu(13, 10, Float(7.5f, 0)));
    Pass();
    EXPECT_EQ(ctx.Items.OpcItemValues[5], 7.5);
}

} // namespace
} // namespace gw::test
