#include "web/websnapshot.h"

#include "core/clients104.h"
#include "core/signals.h"
#include "core/tags.h"
#include "core/typeident.h"
#include "service/tables.h"
#include "support/dates.h"
#include "support/fake_clock.h"

#include <gtest/gtest.h>

#include <cstring>

namespace gw {
namespace {

// A measured value (short float, M_ME_NC_1) as its element bytes.
std::vector<std::uint8_t> FloatElement(float value, std::uint8_t qds)
{
    std::vector<std::uint8_t> bytes(5);
    std::memcpy(bytes.data(), &value, 4);
    bytes[4] = qds;
    return bytes;
}

TEST(WebSnapshot, TakesStationsTagsAndReadings)
{
    TServiceContext ctx;
    ctx.Stations.KpCount = 2;
    ctx.Stations.KpTable.resize(3);
    ctx.Stations.KpTable[1].NameKP = "Sever";
    ctx.Stations.KpTable[1].Connected = true;
    ctx.Stations.KpTable[1].IP_tek = "10.0.0.1";
    ctx.Stations.KpTable[1].Port_tek = 2404;
    ctx.Stations.KpTable[1].PereschetTI = true;
    ctx.Stations.KpTable[2].NameKP = "Юг";
    ctx.Stations.KpTable[2].Passive = true;

    TArmSignals arms;
    PArmRec ua = arms.AddRec(1001, SignalType::stTIT, "Ua", 0);
    ua->SetParam(1, "", 1, 100, 0, 0, std::make_unique<TTitBound>(true, 0, 100, 0, 1000, 0, 0, 0, 0), "10.0.0.1", 2404,
                 0, 0);
    arms.AddRec(1002, SignalType::stTS, "Q", 0);

    TTagSignalList tags(&arms);
    TTagSignal t;
    t.Init("Ua", 1, 100, "10.0.0.1", 2404, nullptr, 0, 0, 0, 1);
    tags.AddTag(t);
    t.Init("Q", 2, 5, "IP2", 2405, nullptr, 1, 0, 1, 0);
    tags.AddTag(t);
    const TTypeIdentList types;
    const TDateTime stamp = test::At(2026, 12, 9, 10, 0, 0);
    ASSERT_EQ(tags.GetTag(0)->ChangeVal(types.FindTypeIdent(13), FloatElement(12.75f, 0x10), 0, stamp), "");

    int asked = -1;
    const TWebSnapshot snap = TakeWebSnapshot(ctx, &tags, &arms, [&](int channel) -> std::optional<TPrmn> {
        asked = channel;
        if (channel != 0)
            return std::nullopt;
        TPrmn p;
        p.Port = 2404;
        return p;
    });
    ASSERT_EQ(snap.Stations.size(), 2u);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(snap.Stations[0].NameKP, "Sever");
    EXPECT_TRUE(snap.Stations[0].Connected);
    EXPECT_EQ(snap.Stations[0].IP_tek, "10.0.0.1");
    ASSERT_TRUE(snap.Stations[0].Link);
    EXPECT_EQ(snap.Stations[0].Link->Port, 2404);
    EXPECT_FALSE(snap.Stations[1].Link);
    EXPECT_TRUE(snap.Stations[1].Passive);

    ASSERT_EQ(snap.Tags.size(), 2u);
    const TWebTag& a = snap.Tags[0];
    EXPECT_EQ(a.FName, "Ua");
    EXPECT_EQ(a.FsstID, 1001);
    EXPECT_EQ(a.Kind, TWebSignalKind::TIT);
    EXPECT_DOUBLE_EQ(a.FValue, 12.75);
    EXPECT_EQ(a.Quality, 0x10);
    EXPECT_GT(a.Stamp, 1.0);
    EXPECT_DOUBLE_EQ(a.EngValue, 120); // the raw value truncated to 12, then scaled
    const TWebTag& q = snap.Tags[1];
    EXPECT_EQ(q.Kind, TWebSignalKind::TS);
    EXPECT_EQ(q.FsstID, 1002);
    EXPECT_EQ(q.Stamp, 0); // nothing received yet
}

TEST(WebSnapshot, WithoutAStartedServiceOnlyStations)
{
    TServiceContext ctx;
    ctx.Stations.KpCount = 1;
    ctx.Stations.KpTable.resize(2);
    ctx.Stations.KpTable[1].NameKP = "A";
    const TWebSnapshot snap = TakeWebSnapshot(ctx, nullptr, nullptr, {});
    ASSERT_EQ(snap.Stations.size(), 1u);
    EXPECT_FALSE(snap.Stations[0].Link);
    EXPECT_TRUE(snap.Tags.empty());
}

// The station table shows the parameters that each link object holds.
TEST(WebSnapshot, LinkParametersFromTheChannelTable)
{
    TServiceContext ctx;
    ctx.Stations.KpCount = 2;
    ctx.Stations.KpTable.resize(3);
    ctx.Stations.KpTable[1].NameKP = "A";
    ctx.Stations.KpTable[2].NameKP = "B";
    TPrmnArray prmn = MakePrmn104();
    SetPrmnDefault(prmn[0], PrmnKind104, "10.0.0.1", 2410);
    test::FakeClock clock;
    const TTypeIdentList types;
    TTagSignalList tags;
    TClients104 clients;
    const auto client = clients.AddClient(TLinkSocket{}, prmn, TClientContext{TLinkEnv{&clock}, &types, &tags, true});
    ASSERT_TRUE(client);
    ctx.Channels.SetLink(1, std::make_shared<TClient104Frm>(client, true, TChannelModel{}));

    const TWebSnapshot snap = TakeWebSnapshot(ctx, nullptr, nullptr, LinkPrmnOf(ctx));
    ASSERT_TRUE(snap.Stations[0].Link);
    EXPECT_EQ(snap.Stations[0].Link->Port, 2410);
    EXPECT_EQ(snap.Stations[0].Link->t1, prmn[0].t1);
    EXPECT_FALSE(snap.Stations[1].Link); // no link object for the second channel
}

} // namespace
} // namespace gw
