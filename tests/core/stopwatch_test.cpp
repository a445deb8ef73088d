#include "core/stopwatch.h"

#include "support/fake_clock.h"

#include "support/dates.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

using test::FakeClock;

using test::At;

TEST(Stopwatch, MidnightGivesTheTrueInterval)
{
    FakeClock clock(At(2021, 3, 7, 23, 59, 59, 900));
    TTimeCheckPause pause(clock, true);
    clock.Advance(200); // now 00:00:00.100 of the next day
    EXPECT_EQ(pause.TimeFromStart(), 200);
    EXPECT_FALSE(pause.CheckExpire(200, true));
    EXPECT_TRUE(pause.CheckExpire(199, true));
}

TEST(Stopwatch, WallClockJumpsDoNotMoveTimers)
{
    FakeClock clock(At(2021, 3, 7, 12, 0, 0, 0));
    TTimeCheckPause pause(clock, true);
    clock.SetWall(At(2021, 3, 7, 11, 0, 0, 0)); // set back an hour
    clock.Advance(100);
    EXPECT_EQ(pause.TimeFromStart(), 100);
    clock.SetWall(At(2021, 3, 9, 12, 0, 0, 0)); // forward two days
    EXPECT_FALSE(pause.CheckExpire(1000, false));
    clock.Advance(901);
    EXPECT_TRUE(pause.CheckExpire(1000, false));
}

TEST(Stopwatch, ExpiryRestartsOrStops)
{
    FakeClock clock;
    TTimeCheckPause pause(clock, true);
    clock.Advance(150);
    ASSERT_TRUE(pause.CheckExpire(100, true));
    EXPECT_TRUE(pause.Started());
    EXPECT_EQ(pause.TimeFromStart(), 0); // restarted at the instant measured

    clock.Advance(150);
    ASSERT_TRUE(pause.CheckExpire(100, false));
    EXPECT_FALSE(pause.Started());
    // A stopped stopwatch keeps its start and keeps expiring from it.
    clock.Advance(50);
    EXPECT_EQ(pause.TimeFromStart(), 200);
    EXPECT_TRUE(pause.CheckExpire(100, false));
    // Not expired: nothing changes.
    pause.Start();
    clock.Advance(100);
    EXPECT_FALSE(pause.CheckExpire(100, false));
    EXPECT_TRUE(pause.Started());
}

TEST(Stopwatch, NeverStartedCountsAsExpired)
{
    FakeClock clock;
    TTimeCheckPause pause(clock, false);
    EXPECT_FALSE(pause.EverStarted());
    EXPECT_EQ(pause.TimeFromStart(), TTimeChecker::NeverStartedMs);
    EXPECT_TRUE(pause.CheckExpire(30000, false));
    EXPECT_TRUE(pause.CheckExpire(30000, false)); // until started
    EXPECT_TRUE(pause.CheckExpire(30000, true));
    EXPECT_TRUE(pause.Started());
    EXPECT_FALSE(pause.CheckExpire(30000, false));
}

TEST(Stopwatch, TraceCheck)
{
    FakeClock clock;
    TTimeTrace trace(clock, true);
    clock.Advance(42);
    std::int64_t delta = -1;
    EXPECT_EQ(trace.Check(delta), "t=42ms");
    EXPECT_EQ(delta, 42);
    clock.Advance(8);
    EXPECT_EQ(trace.Check(delta), "t=8ms");
    trace.Stop();
    delta = -1;
    EXPECT_EQ(trace.Check(delta), "");
    EXPECT_EQ(delta, -1);
}

TEST(Stopwatch, TrafficRate)
{
    FakeClock clock;
    TTraceTraffic traffic(clock);
    traffic.AddBytes(300);
    clock.Advance(500);
    EXPECT_EQ(traffic.GetTraffic(), 600);
    traffic.AddBytes(10);
    EXPECT_EQ(traffic.GetTraffic(), 600); // no time passed: previous rate
    clock.Advance(1000);
    EXPECT_EQ(traffic.GetTraffic(), 10);
    clock.Advance(1000);
    EXPECT_EQ(traffic.GetTraffic(), 0);
}

} // namespace
} // namespace gw
