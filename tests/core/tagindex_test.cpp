#include "core/tagindex.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

TEST(TagIndex, FindsEveryKeyAcrossGrowthAndKeepsTheFirstOfDuplicates)
{
    TTagIndex index;
    EXPECT_EQ(index.Find({0, 1, 1}), -1); // empty table

    constexpr int n = 20000;
    for (int i = 0; i < n; ++i)
        index.Insert({i % 3, 1 + i % 7, i}, i);
    for (int i = 0; i < n; ++i)
        index.Insert({i % 3, 1 + i % 7, i}, n + i); // duplicates: ignored

    for (int i = 0; i < n; ++i)
        ASSERT_EQ(index.Find({i % 3, 1 + i % 7, i}), i) << i;
    EXPECT_EQ(index.Find({1, 1, 0}), -1);  // same object, other connection
    EXPECT_EQ(index.Find({0, 2, 0}), -1);  // same object, other common address
    EXPECT_EQ(index.Find({0, 1, n}), -1);

    index.Clear();
    EXPECT_EQ(index.Find({0, 1, 0}), -1);
}

} // namespace
} // namespace gw
