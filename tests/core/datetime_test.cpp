#include "core/datetime.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

TEST(DateTime, EncodeDecodeRoundTripAndInvalidFields)
{
    TDateTime dt = 0;
    ASSERT_TRUE(TryEncodeDateTime({2021, 3, 7, 14, 5, 9, 250}, dt));
    TDateTimeParts p;
    ASSERT_TRUE(TryDecodeDateTime(dt, p));
    EXPECT_EQ(p.year, 2021);
    EXPECT_EQ(p.month, 3);
    EXPECT_EQ(p.day, 7);
    EXPECT_EQ(p.hour, 14);
    EXPECT_EQ(p.minute, 5);
    EXPECT_EQ(p.second, 9);
    EXPECT_EQ(p.millisecond, 250);  // rounded, not truncated to 249
    EXPECT_EQ(DayOfWeekIso(dt), 7); // Sunday

    TDateTime untouched = 1.0;
    EXPECT_FALSE(TryEncodeDateTime({2021, 4, 31, 0, 0, 0, 0}, untouched));
    EXPECT_FALSE(TryEncodeDateTime({2021, 0, 1, 0, 0, 0, 0}, untouched));
    EXPECT_FALSE(TryEncodeDateTime({2021, 1, 1, 0, 0, 60, 0}, untouched));
    EXPECT_EQ(untouched, 1.0);
}

TEST(DateTime, KnownDayNumbers)
{
    TDateTime dt = 0;
    ASSERT_TRUE(TryEncodeDateTime({1899, 12, 30, 0, 0, 0, 0}, dt));
    EXPECT_EQ(dt, 0.0);
    ASSERT_TRUE(TryEncodeDateTime({1900, 1, 1, 0, 0, 0, 0}, dt));
    EXPECT_EQ(dt, 2.0);
    ASSERT_TRUE(TryEncodeDateTime({2000, 1, 1, 12, 0, 0, 0}, dt));
    EXPECT_DOUBLE_EQ(dt, 36526.5);
    EXPECT_EQ(DayNumber(dt), 36526);
    EXPECT_EQ(TimeOfDayMs(dt), 12 * 3600 * 1000);
}

} // namespace
} // namespace gw
