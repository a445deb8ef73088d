// The station model built from the service's own station table.

#include "core/kpbuild.h"
#include "service/tables.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

TEST(ModelFromKpTable, BuildsStationsRecordsAndTags)
{
    TServiceContext ctx;
    ctx.Stations.KpTable.resize(3);
    ctx.Stations.KpCount = 2;
    T_KP& a = ctx.Stations.KpTable[1];
    a.NameKP = "ПС-1";
    a.IP = "192.168.0.10";
    a.Port = 2404;
    a.Kol_TS = 1;
    a.TS_arr.push_back(T_TS{});
    a.TS_arr[1].NameTS = "\"Выкл. Q1\"";
    a.TS_arr[1].AdrASDU = 1;
    a.TS_arr[1].AdrIOA = 100;
    a.TS_arr[1].Type_Var = 1;
    a.Kol_TI = 1;
    a.TI_arr.push_back(T_TI{});
    a.TI_arr[1].NameTI = "Ia";
    a.TI_arr[1].AdrASDU = 1;
    a.TI_arr[1].AdrIOA = 700;
    a.TI_arr[1].Max_TM_Diap = 4095;
    a.TI_arr[1].Max_Eng_Diap = 600;
    ctx.Stations.KpTable[2].NameKP = "ПС-2";
    ctx.Stations.KpTable[2].IP = "192.168.0.11";

    TKpList kpList;
    TSstList sstList;
    TArmSignals arm;
    CreateKpList(kpList, ctx.Stations.KpTable, ctx.Stations.KpCount);
    ReadElemCodeFile(ctx.Stations.KpTable, ctx.Stations.KpCount, kpList, sstList, arm);
    TTagSignalList tags(&arm, &sstList, &ctx.Process.MessBuff);
    FillTagList(arm, tags);

    ASSERT_EQ(kpList.Count(), 2);
    EXPECT_EQ(kpList.GetIndKP(1)->IPAddress, "192.168.0.11");
    ASSERT_EQ(arm.Count(), 2);
    EXPECT_EQ(arm.GetRec(0)->DispName(), "Выкл. Q1");
    EXPECT_DOUBLE_EQ(arm.GetRec(1)->RawToEng(4095), 600);
    ASSERT_EQ(tags.Count(), 2);
    PTagSignal ptg = nullptr;
    EXPECT_EQ(tags.FindTag(1, 700, "192.168.0.10", 2404, ptg), 1);
    EXPECT_EQ(ptg->Name(), "Ia");
    EXPECT_EQ(tags.GetTag(0)->double_ts_val2(), 1);
}

} // namespace
} // namespace gw
