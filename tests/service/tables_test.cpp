#include "service/tables.h"

#include <gtest/gtest.h>


namespace gw {
namespace {

TEST(ServiceContext, FreshContextHasTheFixedCapacities)
{
    TServiceContext ctx;
    EXPECT_EQ(ctx.KpCount, 0);
    ASSERT_EQ(ctx.KpTable.size(), 1u); // only the empty row 0
    EXPECT_FALSE(ctx.IsKpIndex(0));
    EXPECT_FALSE(ctx.IsKpIndex(1));
    EXPECT_EQ(ctx.OpcItems.size(), 60001u);
    EXPECT_EQ(ctx.OpcItemValues.size(), 60001u);
    EXPECT_TRUE(ctx.IsOpcItem(60000));
    EXPECT_FALSE(ctx.IsOpcItem(60001));
    EXPECT_FALSE(ctx.IsOpcItem(0));
    EXPECT_EQ(ctx.ClientSockets.size(), 991u);
    EXPECT_EQ(ctx.OprosThreads.size(), 991u);
    EXPECT_EQ(ctx.PassiveServers.size(), 991u);
    EXPECT_EQ(ctx.Prmn104.size(), 998u);
    EXPECT_EQ(ctx.Prmn104[997].Port, 0);
    EXPECT_DOUBLE_EQ(ctx.OneHour * 24, 1.0);
    EXPECT_NO_THROW(ctx.ChannelLock(MaxChannelSlots));
    EXPECT_THROW(ctx.ChannelLock(MaxChannelSlots + 1), std::out_of_range);
    ctx.MessBuff.Put(0, "kept", 0);
    EXPECT_EQ(ctx.MessBuff.Count(), 1);
}

TEST(ServiceContext, StationsAndSignalsAreOneBased)
{
    TServiceContext ctx;
    T_KP kp;
    kp.NameKP = "КП 1";
    kp.TS_arr.push_back(T_TS{});
    kp.Kol_TS = 1;
    ctx.KpTable.push_back(kp);
    ctx.KpCount = 1;
    EXPECT_TRUE(ctx.IsKpIndex(1));
    EXPECT_EQ(ctx.KpTable[1].TS_arr.size(), 2u);
    EXPECT_TRUE(ctx.KpTable[1].TI_arr.size() == 1u && ctx.KpTable[1].Kol_TI == 0);
    ctx.ResetStations();
    EXPECT_EQ(ctx.KpCount, 0);
    EXPECT_EQ(ctx.KpTable.size(), 1u);
}

TEST(ServiceContext, FilesResolveAgainstTheProgramDirectory)
{
    TServiceContext ctx;
    EXPECT_EQ(ctx.FilePath("iec104.cfg"), "iec104.cfg");
    ctx.ExePath = "/etc/fieldgated/";
    EXPECT_EQ(ctx.FilePath("iec104.cfg"), "/etc/fieldgated/iec104.cfg");
    ctx.ExePath = "/opt/gw/fieldgate";
    EXPECT_EQ(ctx.FilePath("cnf.ini"), "/opt/gw/cnf.ini");
}

TEST(ServiceContext, RowCopiesShareTheirPassiveLocksAndCopyFlags)
{
    T_KP row;
    row.Str_to_write_section = std::make_shared<std::mutex>();
    row.Connected = true;
    const T_KP copy = row;
    EXPECT_EQ(copy.Str_to_write_section, row.Str_to_write_section);
    EXPECT_TRUE(copy.Connected);
    row.Connected = false;
    EXPECT_TRUE(copy.Connected); // a copy, not a view
}

} // namespace
} // namespace gw
