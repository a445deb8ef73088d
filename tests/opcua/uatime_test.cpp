#include "opcua/opcuabridge.h"
#include "opcua/uatime.h"
#include "support/time_zone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <optional>
#include <ctime>
#include <cstdlib>

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

// In zones east and west of UTC, in winter and in summer time: the offset
// that counts is the one in force at the stamp's own date.
TEST(UaTime, WallTimeBecomesTheSameInstantInUtc)
{
    constexpr std::int64_t Summer = 1784116800; // 2026-07-15 12:00:00 UTC
    constexpr std::int64_t Winter = 1768478400; // 2026-01-15 12:00:00 UTC
    const struct {
        const char* zone;
        TDateTime local;
        std::int64_t utcSeconds;
    } cases[] = {
        {"Europe/Berlin", Local(2026, 7, 15, 14, 0, 0, 250), Summer},   // CEST, UTC+2
        {"Europe/Berlin", Local(2026, 1, 15, 13, 0, 0, 250), Winter},   // CET, UTC+1
        {"America/New_York", Local(2026, 7, 15, 8, 0, 0, 250), Summer}, // EDT, UTC-4
        {"America/New_York", Local(2026, 1, 15, 7, 0, 0, 250), Winter}, // EST, UTC-5
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        ASSERT_TRUE(ScopedTimeZone::Installed(c.zone)) << "tzdata is missing";
        const ScopedTimeZone zone(c.zone);
        EXPECT_EQ(DateTimeToUaTime(c.local), UaTimeOf1970 + c.utcSeconds * 10'000'000 + 250 * 10'000);

        const auto utcNow =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        const std::int64_t ua = DateTimeToUaTime(WallNow());
        EXPECT_NEAR(static_cast<double>((ua - UaTimeOf1970) / 10'000), static_cast<double>(utcNow), 2000.0);
    }
}

// The process's zone set for one test, and back after it.
class ZoneOfProcess {
public:
    explicit ZoneOfProcess(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneOfProcess()
    {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ZoneOfProcess(const ZoneOfProcess&) = delete;
    ZoneOfProcess& operator=(const ZoneOfProcess&) = delete;

private:
    std::optional<std::string> old_;
};

// Summer time starts at 02:00 on 2026-03-29 in Berlin (UTC+1 to UTC+2) and
// ends at 03:00 on 2026-10-25: times on either side of a change, taken in
// turns, each with the offset of its own minute.
TEST(UaTime, SummerTimeChangesTakeEffectAtTheirMinute)
{
    ZoneOfProcess zone("Europe/Berlin");
    const auto utcSeconds = [](TDateTime t) { return (DateTimeToUaTime(t) - UaTimeOf1970) / 10'000'000; };
    // 2026-03-29 00:59 UTC is 1774745940 s since 1970.
    const std::int64_t beforeSpring = 1774745940;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(utcSeconds(Local(2026, 3, 29, 1, 59, 0, 0)), beforeSpring);
        EXPECT_EQ(utcSeconds(Local(2026, 3, 29, 3, 0, 0, 0)), beforeSpring + 60);
        EXPECT_EQ(utcSeconds(Local(2026, 3, 29, 1, 59, 59, 0)), beforeSpring + 59);
        EXPECT_EQ(utcSeconds(Local(2026, 12, 10, 10, 0, 0, 0)), 1796893200);
        EXPECT_EQ(utcSeconds(Local(2026, 7, 10, 10, 0, 0, 0)), 1783670400);
    }
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
