#include "core/signals.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace gw {
namespace {

// "S" and the number. Appended: GCC 12 at -O3 warns falsely (-Wrestrict)
// about a literal put before a temporary string.
std::string SignalName(int i)
{
    std::string name = "S";
    name += std::to_string(i);
    return name;
}

TEST(SignalType, Keywords)
{
    struct Case {
        const char* text;
        SignalType st;
    };
    const Case cases[] = {
        {"TS", SignalType::stTS},
        {"TIT", SignalType::stTIT},
        {"TI", SignalType::stTIT},
        {"KP", SignalType::stKP},
        {"SST", SignalType::stSST},
        {"SS", SignalType::stSS},
        {"OPROS_101", SignalType::stOPROS_101},
        {"CLOCK_SYNC_103", SignalType::stCLOCK_SYNC_103},
        {"send_start_DT", SignalType::stsend_start_DT},
        {"PRM_T", SignalType::stPRM_T},
        {"OPC_UA_Timeout_of_control", SignalType::stOPC_UA_Timeout_of_control},
        {"CHAN", SignalType::stSystem},
        {"PBTPU", SignalType::stSystem},
        {"VER", SignalType::stVER},
        {"TSRU", SignalType::stTSRU},
        {"ts", SignalType::stErr},
        {" TS", SignalType::stErr},
        {"TS ", SignalType::stErr},
        {"", SignalType::stErr},
        {"SEND_START_DT", SignalType::stErr},
        {"XYZ", SignalType::stErr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StrToSignalType(c.text), c.st) << '"' << c.text << '"';
}

TEST(ArmRec, RawToEngScalesWithoutClampingAndPassesEmptyRangesThrough)
{
    TArmRec rec(1001, SignalType::stTIT, "U", 0);
    EXPECT_DOUBLE_EQ(rec.RawToEng(77.5), 77.5); // no range at all
    rec.SetParam(1001, "", 1, 2, 0, 0, std::make_unique<TTitBound>(true, 0, 4095, 0, 10, 0, 10, 0, 10), "h", 2404, 0,
                 0);
    EXPECT_DOUBLE_EQ(rec.RawToEng(2047.5), 5.0);
    EXPECT_NEAR(rec.RawToEng(5000), 12.21, 0.005);
    EXPECT_DOUBLE_EQ(rec.RawToEng(-4095), -10.0);
    for (auto [rawMin, rawMax] : {std::pair{100.0, 100.0}, std::pair{200.0, 100.0}}) {
        rec.SetParam(1001, "", 1, 2, 0, 0, std::make_unique<TTitBound>(true, rawMin, rawMax, 0, 10, 0, 0, 0, 0), "h",
                     2404, 0, 0);
        EXPECT_DOUBLE_EQ(rec.RawToEng(150), 150);
    }
    // A range made without control keeps zeros, so it too passes values through.
    rec.SetParam(1001, "", 1, 2, 0, 0, std::make_unique<TTitBound>(false, 0, 4095, 0, 10, 0, 0, 0, 0), "h", 2404, 0, 0);
    EXPECT_DOUBLE_EQ(rec.RawToEng(150), 150);
}

TEST(ArmRec, NewRecordDefaultsAndCommandability)
{
    TArmRec rec(1002, SignalType::stTS, "Q1", 0x2050);
    EXPECT_EQ(rec.fl.Flags(), 0xE050u); // the three "absent" bits added
    EXPECT_EQ(rec.port2(), 1111);
    EXPECT_EQ(rec.pTitBound1(), nullptr);
    EXPECT_FALSE(rec.prTU());
    rec.SetParam(1002, "", 1, 10, 1, 0, nullptr, "h", 2404, 0, 0);
    EXPECT_FALSE(rec.prTU());
    rec.SetParam(1002, "", 1, 10, 0, 20, nullptr, "h", 2404, 0, 0);
    EXPECT_FALSE(rec.prTU());
    rec.SetParam(1002, "", 1, 10, 1, 20, nullptr, "h", 2404, 2, 1);
    EXPECT_TRUE(rec.prTU());
    EXPECT_EQ(rec.type_tu(), 2);
    EXPECT_EQ(rec.type_var(), 1);
}

TEST(ArmSignals, LookupsOutsideTheTableGiveNothing)
{
    TArmSignals arm;
    EXPECT_EQ(arm.GetRec(0), nullptr);
    PArmRec r = arm.AddRec(1001, SignalType::stTS, "a", 0);
    EXPECT_EQ(arm.GetRec(0), r);
    EXPECT_EQ(arm.GetRec(1), nullptr);
    EXPECT_EQ(arm.GetRec(-1), nullptr);
    arm.Clear();
    EXPECT_EQ(arm.Count(), 0);
}

// Records are kept in chunks of many: one taken early stays where it is
// while thousands more are added, with its own name, range and address.
TEST(ArmSignals, RecordsStayWhereTheyAreAsTheTableGrows)
{
    TArmSignals arm;
    std::vector<PArmRec> taken;
    for (int i = 0; i < 3000; ++i) {
        PArmRec rec = arm.AddRec(1001, i % 2 ? SignalType::stTIT : SignalType::stTS, SignalName(i), 0);
        rec->SetParam(1, i == 7 ? "KKS-7" : "", 1, i, 0, 0,
                      i % 2 ? std::make_unique<TTitBound>(true, 0, i, 0, 1, 0, 0, 0, 0) : nullptr, "10.0.0.1", 2404, 0,
                      0);
        taken.push_back(rec);
    }
    ASSERT_EQ(arm.Count(), 3000);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(arm.GetRec(i), taken[static_cast<std::size_t>(i)]) << i;
        EXPECT_EQ(taken[static_cast<std::size_t>(i)]->DispName(), SignalName(i));
        EXPECT_EQ(taken[static_cast<std::size_t>(i)]->SigObjAddr(), i);
        EXPECT_EQ(taken[static_cast<std::size_t>(i)]->pTitBound1() != nullptr, i % 2 == 1);
    }
    EXPECT_EQ(arm.GetRec(7)->KKS(), "KKS-7");
    EXPECT_EQ(arm.GetRec(8)->KKS(), "");
    EXPECT_EQ(arm.GetRec(2999)->pTitBound1()->RawMax, 2999);
    arm.Clear();
    EXPECT_EQ(arm.Count(), 0);
    EXPECT_EQ(arm.GetRec(0), nullptr);
}

TEST(ArmSignalsDeathTest, RecordPastTheCapacityEndsTheProgram)
{
    EXPECT_EXIT(
        {
            TArmSignals arm;
            for (int i = 0; i < TArmSignals::Capacity; ++i)
                arm.AddRec(1001, SignalType::stTS, "s", 0);
            if (arm.Count() != TArmSignals::Capacity)
                std::exit(2);
            arm.AddRec(1001, SignalType::stTS, "лишний", 0);
            std::exit(3);
        },
        ::testing::ExitedWithCode(1), "1003: Превшена константа MAXTITARM \\(60000\\)");
}

} // namespace
} // namespace gw
