#include "service_fixture.h"

#include "service/cfgfile.h"
#include "service/cfgtext.h"
#include "service/commandentry.h"
#include "core/userarm.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace gw::test {
namespace {

class ServiceInitTest : public ServiceTest {
protected:
    ServiceInitTest()
    {
        TStationSpec a;
        a.name = "Подстанция 1";
        a.ip = "10.0.0.1";
        a.ts = {TSignalSpec{1, 0, 0, 0}, TSignalSpec{2, 0, 0, 0}};
        a.ti = {TSignalSpec{100, 0, 0, 0}};
        TStationSpec p;
        p.name = "Пассивный";
        p.ip = "";
        p.passive = true;
        p.ts = {TSignalSpec{5, 0, 0, 0}};
        TStationSpec b;
        b.name = "Пустой";
        b.ip = "10.0.0.3";
        stations = {a, p, b};
    }
    bool Has(const std::string& event) const
    {
        return std::find(events.list.begin(), events.list.end(), event) != events.list.end();
    }
};

TEST_F(ServiceInitTest, InitMakesTheProcessObjectsAndReadsTheConfiguration)
{
    ServiceInit(ctx);
    EXPECT_TRUE(ctx.Process.TypeIdentList && ctx.Process.Clients104 && ctx.Process.CurrentUser
                && ctx.Process.ServiceLog);
    EXPECT_EQ(ctx.Process.CurrentUser->uarec().userName.Text(), "???");
    EXPECT_EQ(readings, 1);
    EXPECT_EQ(ctx.Stations.KpCount, 3);
    EXPECT_FALSE(ctx.Running.Run);
    EXPECT_FALSE(ctx.Switches.PollingOn);
}

TEST_F(ServiceInitTest, InitIgnoresAFailingConfigurationReading)
{
    readConfig = [](TServiceContext&) { throw TConfigError("iec104.cfg", 3, "KP", "bad number"); };
    ServiceInit(ctx);
    EXPECT_EQ(ctx.Stations.KpCount, 0);
    EXPECT_TRUE(ctx.Process.Clients104);
}

TEST_F(ServiceInitTest, StartOpensOneChannelPerStationInOrderAndStartsThemLast)
{
    Start();
    EXPECT_EQ(readings, 2); // init and start
    EXPECT_TRUE(ctx.Switches.PollingOn);
    EXPECT_EQ(ctx.Channels.ChannelCount, 3);
    EXPECT_EQ(ctx.Process.Clients104->Count(), 3);
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"open 1", "open 2", "open 3", "start 1", "start 2", "start 3"}));

    // Without "iec104sr.bin" every channel gets the default profile.
    const TActiveChannelParams& p = Channel(1).params;
    EXPECT_EQ(p.Number_of_Thread, 1);
    EXPECT_EQ(p.Host_Thread, "10.0.0.1");
    EXPECT_EQ(p.Port_Thread, 2404);
    EXPECT_EQ(Channel(3).params.Number_of_Thread, 3);
    EXPECT_EQ(ctx.Channels.Prmn104[0].Host.Text(), "10.0.0.1");
    EXPECT_EQ(ctx.Stations.KpTable[1].Port, 2404);

    // The passive station listens on its parameters' port and is listed by its index.
    EXPECT_EQ(factory.listening, (std::set<int>{2404}));
    EXPECT_EQ(ctx.Stations.KpTable[2].IP, "IP2");
    EXPECT_TRUE(ctx.Channels.PassiveServers[2].Opened);
    EXPECT_TRUE(ctx.Stations.KpTable[2].Str_to_write_section);
    EXPECT_TRUE(ctx.Process.Clients104->GetPcl(1)->PSocket().Passive_);
    EXPECT_EQ(ctx.Process.Clients104->GetPcl(1)->PSocket().Nomer_KP, 2);
    EXPECT_FALSE(ctx.Process.Clients104->GetPcl(0)->PSocket().Passive_);

    // Every link object works and connects by itself.
    for (int c = 0; c < 3; ++c) {
        auto pcl = ctx.Process.Clients104->GetPcl(c);
        EXPECT_TRUE(pcl->Work());
        EXPECT_TRUE(pcl->ClSFlag.Op(TFlagOperation::FYes, TBitClient::bclb_AutoConnect));
        EXPECT_EQ(pcl->PSocket().port, &Channel(c + 1).Port());
    }
    EXPECT_EQ(ctx.Stations.SignalCountTS, 3);
    EXPECT_EQ(ctx.Stations.SignalCountTI, 1);
    EXPECT_EQ(ctx.Stations.SignalCountTU, 0);
}

TEST_F(ServiceInitTest, SilenceFallsBackTo30sAndThePortToTheStationsWhenTheParametersHaveNone)
{
    ctx.Switches.PrmTFromCfg = true; // the parameters are the configuration's: all zero here
    stations[0].ip = "10.0.0.9";
    readConfig = [this](TServiceContext& c) {
        Configure(c);
        c.Stations.KpTable[1].Port = 2500;
        c.Stations.KpTable[1].IP2 = "10.0.1.9";
        c.Stations.KpTable[1].Port2 = 2501;
    };
    Start();
    const TActiveChannelParams& p = Channel(1).params;
    EXPECT_EQ(p.T0, 30000);
    EXPECT_EQ(p.Port_Thread, 2500);
    EXPECT_EQ(p.Host_Thread2, "10.0.1.9");
    EXPECT_EQ(p.Port_Thread2, 2501);
}

TEST_F(ServiceInitTest, ItemsAreNumberedStationByStationWithTheTagNumbers)
{
    Start(); // without OPC UA
    const T_KP& a = ctx.Stations.KpTable[1];
    EXPECT_EQ(a.Nom_OPC_1st, 1);
    EXPECT_EQ(a.Nom_OPC_Alarm, 2);
    EXPECT_EQ(a.Nom_OPC_TS, 3);
    EXPECT_EQ(a.Nom_OPC_TI, 5);
    const T_KP& p = ctx.Stations.KpTable[2];
    EXPECT_EQ(p.Nom_OPC_1st, 6);
    EXPECT_EQ(p.Nom_OPC_Alarm, 7);
    EXPECT_EQ(p.Nom_OPC_TS, 8);
    EXPECT_EQ(p.Nom_OPC_TI, 9);
    EXPECT_EQ(ctx.Stations.KpTable[3].Nom_OPC_1st, 9);
    EXPECT_EQ(ctx.Stations.KpTable[3].Nom_OPC_TS, 11);
    EXPECT_EQ(ctx.Stations.KpTable[3].Nom_OPC_TI, 11);

    // An item's tag number is the tag's place in the tag list.
    const TTagSignalList& tags = ctx.Running.Run->TagSignalList;
    ASSERT_EQ(tags.Count(), 4);
    for (int id : {3, 4, 5, 8}) {
        const int t = ctx.Items.OpcItems[static_cast<std::size_t>(id)].Nomer_Tag;
        const TTagSignal& tag = *ctx.Running.Run->TagSignalList.GetTag(t);
        const TArmRec& rec = *ctx.Running.Run->ArmSignals.GetRec(tag.IndArm());
        const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(StationIndex(rec.sstID()))];
        const int n = rec.st() == SignalType::stTS ? kp.Nom_OPC_TS + tag.Nomer_TS_in_KP - 1
                                                   : kp.Nom_OPC_TI + tag.Nomer_TIT_in_KP - 1;
        EXPECT_EQ(n, id);
    }
    EXPECT_TRUE(ctx.Items.OpcItems[1].FirstOpros);
    EXPECT_TRUE(ctx.Items.OpcItems[MaxOpcItem].FirstOpros);
}

TEST_F(ServiceInitTest, IdentifiersBeyondTheTableGetNoRow)
{
    ctx.Stations.Reset();
    T_KP kp;
    kp.Kol_TS = MaxOpcItem; // items 3..60002
    kp.TS_arr.resize(static_cast<std::size_t>(MaxOpcItem) + 1);
    ctx.Stations.KpTable.push_back(kp);
    T_KP second;
    second.Kol_TI = 1;
    second.TI_arr.resize(2);
    ctx.Stations.KpTable.push_back(second);
    ctx.Stations.KpCount = 2;
    NumberOpcItems(ctx);
    EXPECT_EQ(ctx.Items.OpcItems[MaxOpcItem].Nomer_Tag, MaxOpcItem - 3);
    EXPECT_EQ(ctx.Stations.KpTable[2].Nom_OPC_1st, 60003);
    EXPECT_EQ(ctx.Stations.KpTable[2].Nom_OPC_TI, 60005);
    EXPECT_FALSE(ctx.Items.IsOpcItem(0));
    EXPECT_FALSE(ctx.Items.IsOpcItem(MaxOpcItem + 1));
}

// Each station takes two item numbers besides its signals: signals numbered
// from MaxOpcItem on are on no OPC server, and the start says how many.
TEST_F(ServiceInitTest, TheStartNamesTheSignalsLeftWithoutAnOpcItem)
{
    const std::string line = "Сигналов без элемента OPC: ";
    TStationSpec first;
    first.name = "Первый";
    first.ts.assign(30000, TSignalSpec{1, 0, 0, 0}); // items 3..30002
    stations = {first};
    Start();
    EXPECT_EQ(Log("log_iec104.txt").find(line), std::string::npos);
    ServiceStop(ctx);

    TStationSpec second;
    second.name = "Второй";
    second.ts.assign(29990, TSignalSpec{1, 0, 0, 0}); // items 30005..59994
    second.ti.assign(8, TSignalSpec{1, 0, 0, 0});     // items 59995..60002
    stations = {first, second};
    Start();
    const std::string log = Log("log_iec104.txt");
    EXPECT_NE(log.find(line + "3 (номера элементов до 59999), первый из них у КП 2 \"Второй\"\n"), std::string::npos)
        << log;
}

TEST_F(ServiceInitTest, StopStopsWebServerOpcUaAndEveryChannelBeforeItFreesThem)
{
    temp.Write("cnf.ini", "[UseWebServer]\r\nUseWebServer=1\r\n[Port_WebServ]\r\nPort_WebServ=8080\r\n");
    TPlugged withAll = Plug(ctx, {&factory, &ua, &web, Reader()});
    Start();
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"open 1", "open 2", "open 3", "ua start 2", "start 1", "start 2",
                                                       "start 3", "web start 8080"}));
    EXPECT_TRUE(ctx.Switches.OpcUaRunning);
    EXPECT_TRUE(ctx.Switches.UseWebServer);

    ServiceStop(ctx);
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"web stop", "ua stop", "stop 1", "stop 2", "stop 3", "join 1",
                                                       "join 2", "join 3", "free 1", "free 2", "free 3"}));
    EXPECT_FALSE(ctx.Switches.PollingOn);
    EXPECT_FALSE(ctx.Switches.OpcUaRunning);
    EXPECT_FALSE(ctx.Running.Run);
    EXPECT_EQ(ctx.Process.Clients104->Count(), 0);
    EXPECT_EQ(ctx.Channels.ChannelCount, 0);
    EXPECT_FALSE(ctx.Stations.KpTable[2].Str_to_write_section);
}

TEST_F(ServiceInitTest, StartStopStartBuildsEverythingAfresh)
{
    Start();
    ServiceStop(ctx);
    stations.pop_back();
    stations[0].ts.push_back(TSignalSpec{3, 0, 0, 0});
    events.Take();
    Start();
    EXPECT_EQ(readings, 3);
    ASSERT_TRUE(ctx.Running.Run);
    EXPECT_EQ(ctx.Process.Clients104->Count(), 2);
    EXPECT_EQ(ctx.Running.Run->TagSignalList.Count(), 5);
    EXPECT_EQ(ctx.Running.Run->Client104Frms.size(), 2u);
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"open 1", "open 2", "start 1", "start 2"}));
    // The passive port is free again for the second start.
    EXPECT_TRUE(ctx.Channels.PassiveServers[2].Opened);
    ServiceTick(ctx);
}

TEST_F(ServiceInitTest, AChannelThatDoesNotEndKeepsItsObjectsAndHoldsTheNextStart)
{
    Start();
    Channel(1).hang = true;
    FakeChannel* hung = &Channel(1);
    ServiceStop(ctx);
    auto ev = events.Take();
    EXPECT_EQ(std::count(ev.begin(), ev.end(), "free 1"), 0);
    EXPECT_FALSE(ctx.Running.Run);
    EXPECT_TRUE(ctx.Running.StaleRun);
    EXPECT_NE(Log("error_iec104.txt").find("ServiceStop"), std::string::npos);
    // The hung channel's link stays alive in the kept start, but no slot shows it.
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(ctx.Channels.WithLink(i, [](TClient104Frm&) {})) << "slot " << i;

    EXPECT_FALSE(ServiceStart(ctx));
    EXPECT_FALSE(ctx.Running.Run);
    hung->hang = false;
    factory.Forget();
    EXPECT_TRUE(ServiceStart(ctx));
    EXPECT_FALSE(ctx.Running.StaleRun);
    ev = events.Take();
    EXPECT_EQ(std::count(ev.begin(), ev.end(), "free 1"), 1);
}

TEST_F(ServiceInitTest, TwoPassiveStationsOnOnePortTheSecondIsLoggedTheFirstWorks)
{
    stations[2].passive = true; // both listen on 2404
    Start();
    EXPECT_TRUE(ctx.Channels.PassiveServers[2].Opened);
    EXPECT_FALSE(ctx.Channels.PassiveServers[3].Opened);
    EXPECT_FALSE(ctx.Stations.KpTable[3].Str_to_write_section);
    EXPECT_EQ(Log("error_iec104.txt"), "Ошибка открытия сокета 2404\n");
    ASSERT_EQ(ctx.Process.Clients104->Count(), 3);
    EXPECT_EQ(ctx.Process.Clients104->GetPcl(2)->PSocket().port, nullptr);
    EXPECT_EQ(factory.byStation.count(3), 0u);
    ServiceTick(ctx); // a channel without socket side is ticked harmlessly
}

TEST_F(ServiceInitTest, FieldgateStartsItsWebServerAlsoWhenTheConfigurationIsBad)
{
    TPlugged withWeb = Plug(ctx, {&factory, nullptr, &web, Reader()});
    temp.Write("cnf.ini", "[UseWebServer]\nUseWebServer=1\n[Port_WebServ]\nPort_WebServ=810\n");
    ServiceInit(ctx);
    readConfig = [](TServiceContext&) { throw TConfigError("iec104.cfg", 7, "ASDU", "not a number"); };
    EXPECT_FALSE(ServiceStart(ctx));
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"web start 810"}));
    EXPECT_FALSE(ctx.Running.Run);
    ServiceTick(ctx); // nothing to tick
    ServiceStop(ctx);
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"web stop"}));
}

TEST_F(ServiceInitTest, AWebServerThatCannotStartIsLoggedAndTheStartSucceeds)
{
    web.fail = true;
    TPlugged withWeb = Plug(ctx, {&factory, nullptr, &web, Reader()});
    temp.Write("cnf.ini", "[UseWebServer]\nUseWebServer=1\n");
    Start();
    EXPECT_TRUE(ctx.Running.Run);
    EXPECT_EQ(Log("log_iec104.txt"), "Web Serv Error address in use\n");
}

// A fresh install has no "cnf.ini": the web server stays off, and with it
// the configuration transfer, and one line says so at every start.
TEST_F(ServiceInitTest, AMissingCnfIniIsOneLineSayingTheWebServerAndTheTransferAreOff)
{
    TPlugged withWeb = Plug(ctx, {&factory, nullptr, &web, Reader()});
    const std::string line =
        "Нет файла cnf.ini: веб-сервер и передача конфигурации выключены (нужны UseWebServer=1 и пароль pwd)\n";
    Start();
    EXPECT_TRUE(ctx.Running.Run);
    EXPECT_FALSE(ctx.Switches.UseWebServer);
    EXPECT_FALSE(Has("web start 80"));
    EXPECT_EQ(Log("log_iec104.txt"), line);
    ServiceStop(ctx);

    temp.Write("cnf.ini", "[UseWebServer]\nUseWebServer=1\n");
    Start();
    EXPECT_TRUE(Has("web start 80"));
    EXPECT_EQ(Log("log_iec104.txt"), line) << "no line once the file is there";
}

TEST_F(ServiceInitTest, OpcUaOffOrConfiguratorModeLeavesTheBridgeNotRunning)
{
    TPlugged withUa = Plug(ctx, {&factory, &ua, nullptr, Reader()});
    ua.enabled = false;
    Start();
    EXPECT_FALSE(ctx.Switches.OpcUaRunning);
    ServiceStop(ctx);
    ctx.Switches.ConfiguratorMode = true;
    ua.enabled = true;
    events.Take();
    Start();
    EXPECT_FALSE(ctx.Switches.OpcUaRunning);
    auto ev = events.Take();
    EXPECT_EQ(std::count(ev.begin(), ev.end(), "ua start 2"), 0);
}

// A factory that cannot open the second active channel.
class FailingFactory final : public TChannelFactory {
public:
    explicit FailingFactory(TChannelFactory& inner) : inner_(inner) {}
    std::unique_ptr<TChannel> OpenActive(TServiceContext& ctx, int kpIndex, const TActiveChannelParams& p) override
    {
        if (kpIndex == 3)
            throw std::runtime_error("no thread");
        return inner_.OpenActive(ctx, kpIndex, p);
    }
    std::unique_ptr<TChannel> OpenPassive(TServiceContext& ctx, int kpIndex, int port) override
    {
        return inner_.OpenPassive(ctx, kpIndex, port);
    }

private:
    TChannelFactory& inner_;
};

TEST_F(ServiceInitTest, AStartThatFailsHalfWayLeavesNoLinkObjectBehind)
{
    {
        FailingFactory failing(factory);
        TPlugged withFailing = Plug(ctx, {&failing, nullptr, nullptr, Reader()});
        ServiceInit(ctx);
        EXPECT_FALSE(ServiceStart(ctx));
        EXPECT_EQ(Log("error_iec104.txt"), "ServiceStart: запуск отменён: no thread\n");
        EXPECT_FALSE(ctx.Running.Run);
        EXPECT_EQ(ctx.Process.Clients104->Count(), 0);
        auto ev = events.Take();
        EXPECT_EQ(std::count(ev.begin(), ev.end(), "free 1"), 1); // never started, freed
    }
    Start(); // the fixture's factory again
    EXPECT_EQ(ctx.Process.Clients104->Count(), 3);
}

// A configuration the start cannot carry out (more stations than the
// process can open channels for, say) must still be replaceable remotely.
TEST_F(ServiceInitTest, FieldgateStartsItsWebServerAlsoWhenTheStartFailsHalfWay)
{
    FailingFactory failing(factory);
    TPlugged withFailing = Plug(ctx, {&failing, nullptr, &web, Reader()});
    temp.Write("cnf.ini", "[UseWebServer]\nUseWebServer=1\n[Port_WebServ]\nPort_WebServ=810\n");
    ServiceInit(ctx);
    EXPECT_FALSE(ServiceStart(ctx));
    auto ev = events.Take();
    EXPECT_EQ(std::count(ev.begin(), ev.end(), "web start 810"), 1);
    ServiceStop(ctx);
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"web stop"}));
}

TEST_F(ServiceInitTest, EventLogsOnlyWithSaveObmen)
{
    ctx.Switches.Save_Obmen_v_File = true;
    Start();
    EXPECT_EQ(Log("log_104.txt"), "Create " + ctx.Process.ExePath + "  iec104.cfg\nnTS = 3\n");
}

std::string ExampleFile(const std::string& name)
{
    std::ifstream in(std::string(GATEWAY_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The bundled example as fieldgate starts it: "iec104.cfg" and "cnf.ini"
// read from the service directory.
TEST_F(ServiceTest, TheBundledExampleStartsFromItsFiles)
{
    temp.Write("iec104.cfg", ExampleFile("iec104.cfg"));
    temp.Write("cnf.ini", ExampleFile("cnf.ini"));
    TOpcUaSettings opcUa;
    TPlugged fromFiles = Plug(ctx, {&factory, &ua, &web, Iec104CfgReader(opcUa)});
    Start();
    EXPECT_TRUE(opcUa.OPC_UA_use);
    EXPECT_EQ(events.Take(), (std::vector<std::string>{"open 1", "open 2", "open 3", "ua start 2", "start 1", "start 2",
                                                       "start 3", "web start 8080"}));
    EXPECT_EQ(Channel(1).params.Host_Thread, "127.0.0.1");
    EXPECT_EQ(Channel(1).params.Port_Thread, 24041);
    EXPECT_EQ(Channel(2).params.Port_Thread, 24042);
    EXPECT_EQ(factory.listening, (std::set<int>{24043}));
    EXPECT_EQ(ctx.Stations.KpTable[3].Port, 24043);

    const int expected[][4] = {{1, 2, 3, 9}, {13, 14, 15, 18}, {20, 21, 22, 25}};
    for (int i = 1; i <= 3; ++i) {
        const T_KP& kp = ctx.Stations.KpTable[static_cast<std::size_t>(i)];
        EXPECT_EQ((std::array<int, 4>{kp.Nom_OPC_1st, kp.Nom_OPC_Alarm, kp.Nom_OPC_TS, kp.Nom_OPC_TI}),
                  (std::array<int, 4>{expected[i - 1][0], expected[i - 1][1], expected[i - 1][2], expected[i - 1][3]}));
    }
    EXPECT_EQ(ctx.Running.Run->TagSignalList.Count(), 20);
    Bring(1);
    EXPECT_TRUE(ExecuteTU(ctx, 0, TTUCommand::tuCommand_On));  // a breaker with its command addresses
    EXPECT_FALSE(ExecuteTU(ctx, 2, TTUCommand::tuCommand_On)); // a protection signal has none
}

} // namespace
} // namespace gw::test
