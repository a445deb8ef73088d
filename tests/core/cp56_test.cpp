#include "core/cp56.h"

#include "support/dates.h"

#include <gtest/gtest.h>

#include <array>

namespace gw {
namespace {

using Cp56 = std::array<std::uint8_t, CP56Size>;

using test::At;

Cp56 ToCp56(TDateTime dt)
{
    Cp56 buf{};
    DateTimeToCP56(buf, dt);
    return buf;
}

TEST(Cp56, EncodeTable)
{
    struct Case {
        TDateTime dt;
        Cp56 bytes;
    } cases[] = {
        // A Sunday; .250 stays .250 (rounded, not truncated).
        {At(2021, 3, 7, 14, 5, 9, 250), {0x22, 0x24, 0x05, 0x0E, 0xE7, 0x03, 0x15}},
        {At(2000, 1, 1, 0, 0, 0, 0), {0x00, 0x00, 0x00, 0x00, 0xC1, 0x01, 0x00}},        // Saturday
        {At(2099, 12, 31, 23, 59, 59, 999), {0x5F, 0xEA, 0x3B, 0x17, 0x9F, 0x0C, 0x63}}, // Thursday
        // 0.4 ms before midnight rounds into the next day, and its weekday.
        {At(2021, 3, 7, 23, 59, 59, 999) + 0.6 / MsPerDay, {0x00, 0x00, 0x00, 0x00, 0x28, 0x03, 0x15}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToCp56(c.dt), c.bytes) << c.dt;
}

TEST(Cp56, UndecomposableTimeGivesTheFixedDate)
{
    // 1900-04-03 was a Tuesday.
    const Cp56 fixed{0x00, 0x00, 0x00, 0x00, 0x43, 0x04, 0x00};
    EXPECT_EQ(ToCp56(1e12), fixed);
    EXPECT_EQ(ToCp56(std::numeric_limits<double>::quiet_NaN()), fixed);
}

TEST(Cp56, DecodeTable)
{
    const TDateTime fallback = At(1900, 1, 1, 0, 0, 0, 0);
    struct Case {
        Cp56 bytes;
        TDateTime dt;
    } cases[] = {
        {{0x22, 0x24, 0x05, 0x0E, 0xE7, 0x03, 0x15}, At(2021, 3, 7, 14, 5, 9, 250)},
        // IV, SU, reserved bits and a wrong weekday are ignored; year bit 7 dropped.
        {{0x22, 0x24, 0xC5, 0x8E, 0x27, 0xF3, 0x95}, At(2021, 3, 7, 14, 5, 9, 250)},
        {{0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x15}, fallback}, // month 0
        {{0x00, 0x00, 0x00, 0x00, 0x1F, 0x04, 0x15}, fallback}, // 31 April
        {{0x60, 0xEA, 0x00, 0x00, 0x01, 0x01, 0x15}, fallback}, // second 60
        {{0x00, 0x00, 0x00, 0x18, 0x01, 0x01, 0x15}, fallback}, // hour 24
        {{0x00, 0x00, 0x3C, 0x00, 0x01, 0x01, 0x15}, fallback}, // minute 60
        {{0x00, 0x00, 0x00, 0x00, 0x1D, 0x02, 0x18}, At(2024, 2, 29, 0, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        TDateTime dt = -1;
        CP56ToDateTime(c.bytes, dt);
        EXPECT_DOUBLE_EQ(dt, c.dt) << int(c.bytes[4]) << "/" << int(c.bytes[5]);
    }
}

TEST(Cp56, RoundTripKeepsTheMillisecond)
{
    for (int ms : {0, 1, 249, 250, 251, 500, 999}) {
        const TDateTime dt = At(2026, 12, 10, 10, 30, 59, ms);
        TDateTime back = 0;
        CP56ToDateTime(ToCp56(dt), back);
        TDateTimeParts p;
        ASSERT_TRUE(TryDecodeDateTime(back, p));
        EXPECT_EQ(p.second * 1000 + p.millisecond, 59000 + ms);
    }
}

} // namespace
} // namespace gw
