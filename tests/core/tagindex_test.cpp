#include "core/tagindex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

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
    EXPECT_EQ(index.Find({1, 1, 0}), -1); // same object, other connection
    EXPECT_EQ(index.Find({0, 2, 0}), -1); // same object, other common address
    EXPECT_EQ(index.Find({0, 1, n}), -1);

    index.Clear();
    EXPECT_EQ(index.Find({0, 1, 0}), -1);
}

// Object addresses in the orders and spreads a configuration can have: the
// block lookup of the receive path and the single lookup both give the tag
// added first for every configured address and none for the addresses
// around them, also for a block that became too thin for a table after it
// held some (the "spread"), and for pages whose tags do not follow one
// another (the other connection's tags come between them here).
TEST(TagIndex, BlockLookupAgreesWithTheSingleLookupForEveryLayout)
{
    struct TLayout {
        const char* name;
        std::vector<int> objects;
    };
    std::vector<TLayout> layouts = {{"rising", {}}, {"falling", {}}, {"runs", {}},       {"spread", {}},
                                    {"random", {}}, {"blocks", {}},  {"interleaved", {}}};
    for (int i = 0; i < 3000; ++i) {
        layouts[0].objects.push_back(1000 + i);
        layouts[1].objects.push_back(40000 - i);
        layouts[2].objects.push_back((i / 100) * 4096 + i % 100);            // runs of 100, one per 4096
        layouts[3].objects.push_back(i * 5000);                              // too thin for a table
        layouts[5].objects.push_back((i / 100) * 1000 + 1 + i % 100);        // 1..100, 1001..1100, ...
        layouts[6].objects.push_back(i < 1500 ? 2 * i : 2 * (i - 1500) + 1); // even addresses, then odd
    }
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i)
        layouts[4].objects.push_back(static_cast<int>(random() % 0x1000000)); // 24-bit addresses

    for (const TLayout& layout : layouts) {
        TTagIndex index;
        std::map<int, int> added; // object address -> first tag index on connection 0
        int next = 0;
        for (int obj : layout.objects) {
            added.emplace(obj, next);
            index.Insert({0, 1, obj}, next++);
            index.Insert({1, 1, obj}, next++); // another connection, same addresses
        }
        index.Insert({0, 1, layout.objects[0]}, next++); // a duplicate keeps the first
        const TTagIndex::TBlock block = index.Block(0, 1);
        for (int obj : layout.objects)
            for (int probe : {obj - 1, obj, obj + 1}) {
                const auto it = added.find(probe);
                const int expected = it == added.end() ? -1 : it->second;
                ASSERT_EQ(index.Find({0, 1, probe}), expected) << layout.name << " " << probe;
                ASSERT_EQ(block.Find(probe), expected) << layout.name << " " << probe;
            }
        EXPECT_EQ(block.Find(layout.objects[0]), 0) << layout.name;
        EXPECT_EQ(index.Block(0, 2).Find(layout.objects[0]), -1) << layout.name; // unknown common address
        EXPECT_EQ(index.Block(5, 1).Find(layout.objects[0]), -1) << layout.name; // unknown connection
    }
}

} // namespace
} // namespace gw
