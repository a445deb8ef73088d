#include "core/kpbuild.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gw {
namespace {

T_TS Point(std::string name, int asdu, int ioa, int asduTu = 0, int ioaTu = 0, int typeTu = 0, int typeVar = 0)
{
    T_TS t;
    t.NameTS = std::move(name);
    t.AdrASDU = asdu;
    t.AdrIOA = ioa;
    t.AdrASDU_TU = asduTu;
    t.AdrIOA_TU = ioaTu;
    t.Type_TU = typeTu;
    t.Type_Var = typeVar;
    return t;
}

T_TI Measured(std::string name, int asdu, int ioa, double rawMax, double engMax)
{
    T_TI t;
    t.NameTI = std::move(name);
    t.AdrASDU = asdu;
    t.AdrIOA = ioa;
    t.Max_TM_Diap = rawMax;
    t.Max_Eng_Diap = engMax;
    return t;
}

T_KP Station(std::string name, std::string ip, int port, std::vector<T_TS> points = {}, std::vector<T_TI> values = {})
{
    T_KP kp;
    kp.NameKP = std::move(name);
    kp.IP = std::move(ip);
    kp.Port = port;
    kp.Kol_TS = static_cast<int>(points.size());
    kp.Kol_TI = static_cast<int>(values.size());
    kp.TS_arr.insert(kp.TS_arr.end(), points.begin(), points.end());
    kp.TI_arr.insert(kp.TI_arr.end(), values.begin(), values.end());
    return kp;
}

struct Model {
    TKpList kpList;
    TSstList sstList;
    TArmSignals arm;
};

std::vector<T_KP> ThreeStations()
{
    std::vector<T_KP> t(1);
    t.push_back(Station("ПС Север", "10.0.0.1", 2404, {Point("\"Q1\"", 1, 100, 1, 5000, 2, 1), Point("Q2", 1, 101)},
                        {Measured("\"U\"", 1, 700, 4095, 10)}));
    t.push_back(Station("Юг", "10.0.0.2", 2405));
    t.push_back(Station("Восток", "10.0.0.3", 2406, {Point("Q", 3, 1)}));
    return t;
}

TEST(KpBuild, StationsSubstationsAndRecordsInConfigurationOrder)
{
    const auto table = ThreeStations();
    Model m;
    CreateKpList(m.kpList, table, 3);
    ReadElemCodeFile(table, 3, m.kpList, m.sstList, m.arm);

    ASSERT_EQ(m.kpList.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        const PKpEthernet kp = m.kpList.GetIndKP(i);
        EXPECT_EQ(kp->ID, 1001 + i);
        EXPECT_EQ(kp->sstID, 1001 + i);
        EXPECT_EQ(kp->kpta, KpTypeAddr::kpta_KP);
        EXPECT_TRUE(kp->prPresent);
        EXPECT_EQ(kp->Port, 2404 + i);
    }
    EXPECT_EQ(m.kpList.GetIndKP(0)->name, "ПС Север");

    ASSERT_EQ(m.sstList.Count(), 3);
    const TSst* sst = m.sstList.GetSst(2);
    EXPECT_EQ(sst->ID(), 1002);
    EXPECT_EQ(sst->Name(), "Юг");
    EXPECT_EQ(sst->flss.Flags(), FlagMask(TBitFlagSst::bflssNoFileTxt, TBitFlagSst::bflssNoFileCif,
                                          TBitFlagSst::bflssNoKPP1, TBitFlagSst::bflssChanged));

    ASSERT_EQ(m.arm.Count(), 4);
    struct Expect {
        int sst;
        SignalType st;
        const char* name;
        int ioa, ts, tit;
        std::uint32_t flags;
    };
    const Expect expect[] = {
        {1001, SignalType::stTS, "Q1", 100, 1, 0, 0xE050},
        {1001, SignalType::stTS, "Q2", 101, 2, 0, 0xE050},
        {1001, SignalType::stTIT, "\"U\"", 700, 0, 1, 0xE058}, // measured values keep their quotes
        {1003, SignalType::stTS, "Q", 1, 1, 0, 0xE050},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const TArmRec& r = *m.arm.GetRec(i);
        EXPECT_EQ(r.sstID(), expect[i].sst);
        EXPECT_EQ(r.kpID(), expect[i].sst);
        EXPECT_EQ(r.st(), expect[i].st);
        EXPECT_EQ(r.DispName(), expect[i].name);
        EXPECT_EQ(r.SigObjAddr(), expect[i].ioa);
        EXPECT_EQ(r.Nomer_TS_in_KP2, expect[i].ts);
        EXPECT_EQ(r.Nomer_TIT_in_KP2, expect[i].tit);
        EXPECT_EQ(r.fl.Flags(), expect[i].flags);
        EXPECT_EQ(r.IP_address(), table[static_cast<std::size_t>(StationIndex(r.sstID()))].IP);
    }
    const TArmRec& q1 = *m.arm.GetRec(0);
    EXPECT_EQ(q1.CtrlASDUAddr(), 1);
    EXPECT_EQ(q1.CtrlObjAddr(), 5000);
    EXPECT_EQ(q1.type_tu(), 2);
    EXPECT_EQ(q1.type_var(), 1);
    EXPECT_TRUE(q1.prTU());
    EXPECT_FALSE(m.arm.GetRec(1)->prTU());
    const TTitBound* range = m.arm.GetRec(2)->pTitBound1();
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->RawMax, 4095);
    EXPECT_EQ(range->EngMax, 10);
    EXPECT_EQ(range->PredMax, 10);
    EXPECT_EQ(range->AvarMax, 10);
    EXPECT_DOUBLE_EQ(m.arm.GetRec(2)->RawToEng(2047.5), 5.0);
}

TEST(KpBuild, RebuildReplacesAndCountsBeyondTheArraysAreIgnored)
{
    auto table = ThreeStations();
    table[3].Kol_TS = 5; // claims more points than the row holds
    Model m;
    CreateKpList(m.kpList, table, 3);
    ReadElemCodeFile(table, 3, m.kpList, m.sstList, m.arm);
    EXPECT_EQ(m.arm.Count(), 4);
    CreateKpList(m.kpList, table, 9); // more stations than rows: the rows there are
    ReadElemCodeFile(table, 3, m.kpList, m.sstList, m.arm);
    EXPECT_EQ(m.kpList.Count(), 3);
    EXPECT_EQ(m.sstList.Count(), 3);
    EXPECT_EQ(m.arm.Count(), 4);

    TKpList empty;
    ReadElemCodeFile(table, 3, empty, m.sstList, m.arm);
    EXPECT_EQ(m.sstList.Count(), 0);
    EXPECT_EQ(m.arm.Count(), 0);
}

TEST(KpBuild, TagListFollowsTheRecords)
{
    const auto table = ThreeStations();
    Model m;
    CreateKpList(m.kpList, table, 3);
    ReadElemCodeFile(table, 3, m.kpList, m.sstList, m.arm);
    TTagSignalList tags(&m.arm, &m.sstList);
    FillTagList(m.arm, tags);
    ASSERT_EQ(tags.Count(), 4);
    const PTagSignal u = tags.GetTag(2);
    EXPECT_EQ(u->Name(), "\"U\"");
    EXPECT_EQ(u->ObjAddress(), 700);
    EXPECT_EQ(u->IP_adrr4(), "10.0.0.1");
    EXPECT_EQ(u->Port4(), 2404);
    EXPECT_EQ(u->IndArm(), 2);
    EXPECT_EQ(u->Nomer_TIT_in_KP, 1);
    EXPECT_EQ(u->Value.ptc->tcName, TagCategName::tcn_TIT);
    EXPECT_EQ(tags.GetTag(0)->double_ts_val2(), 1);
    EXPECT_EQ(tags.GetTag(0)->Value.ptc->tcName, TagCategName::tcn_TS);

    // A point store marks its substation as receiving, once.
    const TTypeIdentList types;
    const std::uint8_t on[] = {0x01};
    const TSst* north = m.sstList.GetSst(1);
    EXPECT_FALSE(FlagYes(north->flss.Flags(), FlagMask(TBitFlagSst::bflssReceiveTsTit)));
    EXPECT_EQ(tags.GetTag(0)->ChangeTS1(types.FindTypeIdent(1), on, 0, 0), "");
    EXPECT_TRUE(FlagYes(north->flss.Flags(), FlagMask(TBitFlagSst::bflssReceiveTsTit)));
    EXPECT_FALSE(FlagYes(m.sstList.GetSst(3)->flss.Flags(), FlagMask(TBitFlagSst::bflssReceiveTsTit)));
}

TEST(KpList, FullListRefusesWithError1001)
{
    TKpList list;
    for (int i = 0; i < TKpList::Capacity; ++i)
        ASSERT_EQ(list.Add(TKpEthernet(1001 + i, 1001 + i, KpTypeAddr::kpta_KP, "k", "h", 1)), "");
    EXPECT_EQ(list.Add(TKpEthernet(5000, 5000, KpTypeAddr::kpta_KP, "k", "h", 1)), "1001: Мала константа MAX_KPLIST");
    EXPECT_EQ(list.Count(), TKpList::Capacity);
    EXPECT_EQ(list.FindKP_KpID(5000), nullptr);
    EXPECT_EQ(list.FindKP_sstID(1990)->ID, 1990);
    EXPECT_EQ(list.GetIndKP(TKpList::Capacity), nullptr);
}

} // namespace
} // namespace gw
