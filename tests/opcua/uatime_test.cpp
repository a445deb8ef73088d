#include "opcua/opcuabridge.h"
#include "opcua/uatime.h"

#include <gtest/gtest.h>

#include <chrono>

namespace gw::test {
namespace {

TDateTime Local(int y, int mo, int d, int h, int mi, int s, int ms)
{
    TDateTime t = 0;
    EXPECT_TRUE(TryEncodeDateTime(TDateTimeParts{y, mo, d, h, mi, s, ms}, t));
    return t;
}

TEST(UaTime, LocalTimeInTicksSince1601)
{
    EXPECT_EQ(LocalTimeToUaTime(Local(1970, 1, 1, 0, 0, 0, 0), 0), UaTimeOf1970);
    // 2026-12-10 10:00:00.123 at UTC+3 is 07:00:00.123 UTC: 1796886000 s since 1970.
    EXPECT_EQ(LocalTimeToUaTime(Local(2026, 12, 10, 10, 0, 0, 123), 180),
              UaTimeOf1970 + 1796886000LL * 10'000'000 + 123 * 10'000);
    // Before 1970 the count goes down, to the millisecond.
    EXPECT_EQ(LocalTimeToUaTime(Local(1969, 12, 31, 23, 59, 59, 500), 0), UaTimeOf1970 - 500 * 10'000);
}

TEST(UaTime, WallTimeBecomesTheSameInstantInUtc)
{
    const auto utcNow =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::int64_t ua = DateTimeToUaTime(WallNow());
    EXPECT_NEAR(static_cast<double>((ua - UaTimeOf1970) / 10'000), static_cast<double>(utcNow), 2000.0);
}

TEST(UaWrittenCommand, SingleAndDoublePoints)
{
    using C = TTUCommand;
    const struct {
        std::uint16_t kind;
        std::int32_t v;
        std::optional<C> command;
    } cases[] = {
        {UaKindSinglePoint, 1, C::tuCommand_On},
        {UaKindSinglePoint, 2, C::tuCommand_On},
        {UaKindSinglePoint, 0, C::tuCommand_Off},
        {UaKindSinglePoint, -1, C::tuCommand_Off},
        {UaKindDoublePoint, 2, C::tuCommand_On},
        {UaKindDoublePoint, 1, C::tuCommand_Off},
        {UaKindDoublePoint, 0, std::nullopt},
        {UaKindDoublePoint, 3, std::nullopt},
        {0, 1, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UaWrittenCommand(c.kind, c.v), c.command) << c.kind << " " << c.v;
}

} // namespace
} // namespace gw::test
