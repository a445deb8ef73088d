#include "service_fixture.h"
#include "station_asdu.h"

#include "core/cp56.h"
#include "service/publication.h"

namespace gw::test {
namespace {

TBytes WithTime(TBytes element, TDateTime t)
{
    std::array<std::uint8_t, CP56Size> cp{};
    DateTimeToCP56(cp, t);
    element.insert(element.end(), cp.begin(), cp.end());
    return element;
}
TDateTime At(int day, int hour)
{
    TDateTime t = 0;
    EXPECT_TRUE(TryEncodeDateTime(TDateTimeParts{2026, 12, day, hour, 0, 0, 0}, t));
    return t;
}

class PublicationTest : public ServiceTest {
protected:
    PublicationTest()
    {
        TStationSpec s;
        s.ts = {TSignalSpec{1, 0, 0, 0}, TSignalSpec{2, 0, 0, 1}}; // single, double point
        s.ti = {TSignalSpec{100, 0, 0, 0}};
        stations = {s};
    }
    // Items of station 1: Connected 2, points 3 and 4, measured value 5.
    double Value(int id) const { return ctx.Items.OpcItemValues[static_cast<std::size_t>(id)]; }
    const TIndent& Item(int id) const { return ctx.Items.OpcItems[static_cast<std::size_t>(id)]; }
    // Up to and including the next slow tick.
    void Pass()
    {
        do
            Ticks(1);
        while (ctx.Running.TickCounter % 3 != 0);
    }
    std::vector<FakeOpcUa::TPush> PushesOf(int id) const
    {
        std::vector<FakeOpcUa::TPush> of;
        for (const auto& p : ua.pushes)
            if (p.id == id)
                of.push_back(p);
        return of;
    }

    TPlugged withUa = Plug(ctx, {&factory, &ua, nullptr, Reader()});
};

TEST_F(PublicationTest, ReceivedValuesReachTheirItemsAndTheBridge)
{
    Start();
    Bring(1);
    Send(1, Asdu(1, 1, {0x01}));             // single point on
    Send(1, Asdu(3, 2, {0x02}));             // double point on
    Send(1, Asdu(13, 100, Float(12.5f, 0))); // short float
    Pass();
    const TDateTime now = clock.Now();
    EXPECT_EQ(Value(2), 1); // Connected
    EXPECT_EQ(Value(3), 1);
    EXPECT_EQ(Value(4), 2);
    EXPECT_EQ(Value(5), 12.5);
    for (int id : {2, 3, 4, 5}) {
        EXPECT_EQ(Item(id).Quality, 0xC0) << id;
        EXPECT_NEAR(Item(id).Stamp_DateTime, now, 0.2 / 86400) << id;
    }
    ASSERT_EQ(PushesOf(3).size(), 1u);
    EXPECT_EQ(PushesOf(3)[0].type, 0);
    EXPECT_EQ(PushesOf(3)[0].iValue, 1);
    ASSERT_EQ(PushesOf(4).size(), 1u);
    EXPECT_EQ(PushesOf(4)[0].type, 5);
    EXPECT_EQ(PushesOf(4)[0].iValue, 2);
    ASSERT_EQ(PushesOf(5).size(), 1u);
    EXPECT_EQ(PushesOf(5)[0].type, 10);
    EXPECT_EQ(PushesOf(5)[0].dValue, 12.5);

    // Published once: a pass with nothing new pushes nothing.
    ua.pushes.clear();
    Pass();
    EXPECT_TRUE(ua.pushes.empty());
}

TEST_F(PublicationTest, QualityMapping)
{
    struct TCase {
        int iec;
        std::int32_t opc;
        std::uint32_t ua;
    } cases[] = {
        {0x00, 0xC0, 0},           {0x80, 0x00, 0x80000000u}, {0xC0, 0x00, 0x80000000u}, {0x81, 0x00, 0x80000000u},
        {0x40, 0x14, 0x40900000u}, {0x20, 0xD8, 0x00960000u}, {0x30, 0xD8, 0x40000000u}, {0x60, 0x14, 0x40900000u},
        {0x10, 0x1C, 0x40000000u}, {0x01, 0xC0, 0x40940000u}, {0x08, 0xC0, 0x40000000u}, {0x28, 0xD8, 0x40000000u},
        {0x06, 0xC0, 0}, // a scaled value's scale is no quality
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(OpcQualityOf(c.iec), c.opc) << c.iec;
        EXPECT_EQ(UaStatusOf(c.iec), c.ua) << c.iec;
    }
}

TEST_F(PublicationTest, EveryQualityGoesToTheBridgeWithItsValue)
{
    Start();
    Bring(1);
    Send(1, Asdu(1, 1, {0x11}));               // blocked
    Send(1, Asdu(13, 100, Float(7.0f, 0x01))); // overflow only
    Pass();
    EXPECT_EQ(Item(3).Quality, 0x1C);
    EXPECT_EQ(Item(5).Quality, 0xC0);
    EXPECT_EQ(Value(5), 7.0);
    const std::pair<int, std::uint32_t> pushed[] = {
        {3, TOpcUaBridge::StatusUncertain},
        {5, TOpcUaBridge::StatusUncertainEngineeringUnitsExceeded},
    };
    for (const auto& [id, status] : pushed) {
        ASSERT_EQ(PushesOf(id).size(), 1u) << id;
        EXPECT_EQ(PushesOf(id)[0].what, "value") << id;
        EXPECT_EQ(PushesOf(id)[0].status, status) << id;
    }
    EXPECT_EQ(PushesOf(3)[0].iValue, 1);
    EXPECT_EQ(PushesOf(5)[0].dValue, 7.0);
}

TEST_F(PublicationTest, StationTimeCorrectedWhenWithin30HoursElseTheTimeOfThePass)
{
    readConfig = [this](TServiceContext& c) {
        Configure(c);
        c.Stations.KpTable[1].Time_To_OPC = true;
        c.Stations.KpTable[1].Popravka_Time = 3;
    };
    clock.SetWall(At(10, 11));
    Start();
    Bring(1);
    Send(1, Asdu(30, 1, WithTime({0x01}, At(10, 10)))); // 10:00 + 3 h
    Send(1, Asdu(31, 2, WithTime({0x01}, At(8, 10))));  // two days old
    Pass();
    EXPECT_NEAR(Item(3).Stamp_DateTime, At(10, 13), 1e-7);
    EXPECT_NEAR(Item(4).Stamp_DateTime, clock.Now(), 0.2 / 86400);
    EXPECT_EQ(Value(4), 1); // double point off
}

// A time tag marked invalid left the reception time in the tag: ours, so
// the station's correction is not added to it; the OPC UA side hears why.
TEST_F(PublicationTest, InvalidTimeTagIsStampedWithThePassUncorrected)
{
    readConfig = [this](TServiceContext& c) {
        Configure(c);
        c.Stations.KpTable[1].Time_To_OPC = true;
        c.Stations.KpTable[1].Popravka_Time = 3;
    };
    clock.SetWall(At(10, 11));
    Start();
    Bring(1);
    TBytes element = WithTime({0x01}, At(10, 10));
    element[3] |= 0x80; // IV of the minutes byte
    Send(1, Asdu(30, 1, element));
    Pass();
    EXPECT_NEAR(Item(3).Stamp_DateTime, clock.Now(), 0.2 / 86400);
    EXPECT_EQ(Item(3).Quality, 0xC0);
    ASSERT_EQ(PushesOf(3).size(), 1u);
    EXPECT_EQ(PushesOf(3)[0].status, TOpcUaBridge::StatusUncertain);
    EXPECT_EQ(PushesOf(3)[0].iValue, 1);
}

TEST_F(PublicationTest, WithoutStationTimeTheStampIsThePass)
{
    clock.SetWall(At(10, 11));
    Start();
    Bring(1);
    Send(1, Asdu(30, 1, WithTime({0x01}, At(10, 10))));
    Pass();
    EXPECT_NEAR(Item(3).Stamp_DateTime, clock.Now(), 0.2 / 86400);
}

TEST_F(PublicationTest, EngineeringUnitsByTheValuesRange)
{
    readConfig = [this](TServiceContext& c) {
        Configure(c);
        c.Stations.KpTable[1].PereschetTI = true;
        T_TI& ti = c.Stations.KpTable[1].TI_arr[1];
        ti.Min_TM_Diap = 0;
        ti.Max_TM_Diap = 100;
        ti.Min_Eng_Diap = 0;
        ti.Max_Eng_Diap = 1000;
    };
    Start();
    Bring(1);
    Send(1, Asdu(13, 100, Float(50.0f, 0)));
    Pass();
    EXPECT_EQ(Value(5), 500);
}

TEST_F(PublicationTest, ConnectedFollowsTheStationAlsoWithoutNewValues)
{
    Start();
    Pass();
    EXPECT_EQ(Value(2), 0);
    Bring(1);
    Pass();
    EXPECT_EQ(Value(2), 1);
    clock.Advance(60000);
    Channel(1).Disconnect();
    Pass();
    const TDateTime now = clock.Now();
    EXPECT_EQ(Value(2), 0);
    EXPECT_EQ(Item(2).Quality, 0xC0);
    EXPECT_NEAR(Item(2).Stamp_DateTime, now, 0.2 / 86400);
    const auto pushes = PushesOf(2);
    ASSERT_FALSE(pushes.empty());
    EXPECT_EQ(pushes.back().iValue, 0);
}

// A station that is gone shows its values bad, whatever its kind and
// whether it was configured with an address.
struct TLostStation {
    const char* name;
    bool passive;
    const char* ip;
};

void PrintTo(const TLostStation& kind, std::ostream* os) { *os << kind.name; }

class PublicationLostStation : public PublicationTest, public ::testing::WithParamInterface<TLostStation> {};

TEST_P(PublicationLostStation, ValuesTurnBadWhenTheStationDisconnects)
{
    stations[0].passive = GetParam().passive;
    stations[0].ip = GetParam().ip;
    Start();
    Bring(1);
    Send(1, Asdu(1, 1, {0x01}));
    Send(1, Asdu(13, 100, Float(12.5f, 0)));
    Pass();
    ASSERT_EQ(Item(3).Quality, 0xC0);
    ASSERT_EQ(Item(5).Quality, 0xC0);

    Channel(1).Disconnect();
    Pass();
    Pass();
    EXPECT_EQ(Value(2), 0);
    EXPECT_EQ(Item(3).Quality, 0x00);
    EXPECT_EQ(Item(5).Quality, 0x00);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PublicationLostStation,
                         ::testing::Values(TLostStation{"Active", false, "10.0.0.1"},
                                           TLostStation{"Passive", true, "10.0.0.1"},
                                           TLostStation{"PassiveWithoutAddress", true, ""}));

// A station lost and back within one pass: the bridge hears "Connected" 0,
// stamped with the drop, then 1 again; its values go bad in between unless
// the channel came back within its reserve grace, which keeps them.
TEST_F(PublicationTest, ADropBetweenTwoPassesIsPublishedBeforeTheStationIsBack)
{
    for (const bool reserve : {false, true}) {
        SCOPED_TRACE(reserve ? "reserve" : "no reserve");
        Start();
        Bring(1);
        Send(1, Asdu(1, 1, {0x01}));
        Pass();
        ua.pushes.clear();
        {
            auto cl = ctx.Running.Run->Client104Frms[0]->pcl();
            cl->Is_Rezerv_IP = reserve;
        }
        clock.Advance(10);
        const TDateTime dropped = clock.Now();
        Channel(1).Disconnect();
        clock.Advance(10);
        toGateway[1] = fromGateway[1] = 0;
        Bring(1);
        ASSERT_EQ(ctx.Running.TickCounter % 3, 2) << "no pass between the drop and the new connection";
        Send(1, Asdu(1, 1, {0x00}));
        Pass();

        std::vector<int> connected;
        for (const auto& p : PushesOf(2))
            connected.push_back(p.iValue);
        ASSERT_GE(connected.size(), 2u);
        EXPECT_EQ(connected[0], 0);
        EXPECT_EQ(connected.back(), 1);
        EXPECT_EQ(PushesOf(2)[0].source, dropped);
        const auto point = PushesOf(3);
        ASSERT_FALSE(point.empty());
        EXPECT_EQ(point.front().what, reserve ? "value" : "quality");
        EXPECT_EQ(point.back().what, "value");
        EXPECT_EQ(Item(3).Quality, 0xC0);
        ServiceStop(ctx);
    }
}

// Once the service stops no station is served: the item table must not go
// on showing the last values good and the stations connected.
TEST_F(PublicationTest, AStopLeavesNoItemShownGood)
{
    Start();
    Bring(1);
    Send(1, Asdu(1, 1, {0x01}));
    Send(1, Asdu(3, 2, {0x02}));
    Send(1, Asdu(13, 100, Float(12.5f, 0)));
    Pass();
    ASSERT_EQ(Value(2), 1);
    clock.Advance(1000);
    ServiceStop(ctx);
    const TDateTime now = clock.Now();
    EXPECT_EQ(Value(2), 0);
    EXPECT_EQ(Item(2).Quality, 0xC0);
    EXPECT_NEAR(Item(2).Stamp_DateTime, now, 0.2 / 86400);
    for (int id : {3, 4, 5}) {
        EXPECT_EQ(Item(id).Quality, 0x00) << id;
        EXPECT_NEAR(Item(id).Stamp_DateTime, now, 0.2 / 86400) << id;
    }
}

// The row of a "Connected" item may hold what another numbering left there
// (a signal's value and quality): the first pass makes it the station's.
TEST_F(PublicationTest, ConnectedItemIsTheStationsFromTheFirstPass)
{
    ctx.Items.OpcItemValues[2] = 1;
    ctx.Items.OpcItems[2].Quality = 0x00;
    Start();
    Bring(1);
    Pass();
    EXPECT_EQ(Value(2), 1);
    EXPECT_EQ(Item(2).Quality, 0xC0);
    EXPECT_NEAR(Item(2).Stamp_DateTime, clock.Now(), 0.2 / 86400);
    const auto pushes = PushesOf(2);
    ASSERT_FALSE(pushes.empty());
    EXPECT_EQ(pushes.back().iValue, 1);
}

TEST_F(PublicationTest, EachStationsTagsGoToItsOwnItems)
{
    TStationSpec second = stations[0];
    second.ip = "10.0.0.2"; // the same addresses on another station
    stations.push_back(second);
    Start();
    Bring(1);
    Bring(2);
    Send(2, Asdu(1, 1, {0x01}));
    Pass();
    const T_KP& kp2 = ctx.Stations.KpTable[2];
    EXPECT_EQ(Value(kp2.Nom_OPC_TS), 1);
    EXPECT_EQ(Value(3), 0);
    EXPECT_EQ(Value(kp2.Nom_OPC_Alarm), 1);
}

TEST_F(PublicationTest, NothingGoesToABridgeThatDoesNotRunAndTheLifebitCountsSeconds)
{
    ua.enabled = false;
    ua.lifebit = 77;
    Start();
    Bring(1);
    Send(1, Asdu(1, 1, {0x01}));
    Pass();
    EXPECT_EQ(Value(3), 1);
    EXPECT_TRUE(ua.pushes.empty());

    ServiceStop(ctx);
    ua.enabled = true;
    clock.SetWall(At(10, 11) + 42.0 / 86400);
    Start();
    Pass();
    const auto pushes = PushesOf(77);
    ASSERT_FALSE(pushes.empty());
    EXPECT_EQ(pushes.back().type, 5);
    EXPECT_EQ(pushes.back().iValue, 42);
}

} // namespace
} // namespace gw::test
