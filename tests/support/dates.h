#pragma once
// Local date-times for tests, written as their fields.

#include "core/datetime.h"

#include <gtest/gtest.h>

namespace gw::test {

inline TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    TDateTime dt = 0;
    EXPECT_TRUE(TryEncodeDateTime({y, mo, d, h, mi, s, ms}, dt)) << y << "-" << mo << "-" << d;
    return dt;
}

} // namespace gw::test
