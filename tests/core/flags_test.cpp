#include "core/flags.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

TEST(Flags, OperationTable)
{
    struct Case {
        std::uint32_t before;
        TFlagOperation op;
        int bit;
        bool result;
        std::uint32_t after;
    } cases[] = {
        {0, TFlagOperation::FSet, 3, false, 8},
        {8, TFlagOperation::FYes, 3, true, 8},
        {8, TFlagOperation::FNo, 3, false, 8},
        {8, TFlagOperation::FYes, 2, false, 8},
        {8, TFlagOperation::FNo, 2, true, 8},
        {0xFF, TFlagOperation::FClear, 0, false, 0xFE},
        {0xFF, TFlagOperation::FClearAll, 5, false, 0},
        {0, TFlagOperation::FSet, 31, false, 0x80000000u},
        {0, TFlagOperation::FSet, 35, false, 8}, // bit taken modulo 32
        {0, TFlagOperation::FSet, -1, false, 0x80000000u},
    };
    for (const auto& c : cases) {
        TFLAG flag(c.before);
        EXPECT_EQ(flag.Operation(c.op, c.bit), c.result) << c.before << " bit " << c.bit;
        EXPECT_EQ(flag.Flags(), c.after) << c.before << " bit " << c.bit;
    }
}

TEST(Flags, TextAndReset)
{
    EXPECT_EQ(TFLAG(0x105).ToString(), "(0105h)");
    EXPECT_EQ(TFLAG(0).ToString(), "(0000h)");
    EXPECT_EQ(TFLAG(0xABCDE).ToString(), "(ABCDEh)");
    EXPECT_EQ(TFLAG(0xFFFFFFFFu).ToString(), "(FFFFFFFFh)");
    TFLAG flag(7);
    flag.Reset();
    EXPECT_EQ(flag.Flags(), 0u);
}

enum class TBits { First = 0, Fifth = 4 };

TEST(Flags, NamedBitsAndPlainHelpers)
{
    TFlagOf<TBits> flag;
    flag.Op(TFlagOperation::FSet, TBits::Fifth);
    EXPECT_EQ(flag.Flags(), 0x10u);
    EXPECT_TRUE(flag.Op(TFlagOperation::FNo, TBits::First));
    EXPECT_EQ(FlagMask(TBits::Fifth), flag.Flags());
    EXPECT_EQ(FlagMask(TBits::First, TBits::Fifth), 0x11u);

    std::int32_t value = 0x10;
    EXPECT_TRUE(FlagYes(value, 0x30));
    EXPECT_FALSE(FlagNo(value, 0x30));
    EXPECT_TRUE(FlagNo(value, 0x01));
    FlagSet(value, 0x03);
    EXPECT_EQ(value, 0x13);
    FlagClear(value, 0x11);
    EXPECT_EQ(value, 0x02);
    std::uint8_t byte = 0x80;
    FlagSetByte(byte, 0x01);
    EXPECT_EQ(byte, 0x81);
}

} // namespace
} // namespace gw
