#include "core/cp1251.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace gw {
namespace {

TEST(Cp1251, EveryByteRoundTripsThroughUtf8)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(utf8), all);
    EXPECT_EQ(std::count(utf8.begin(), utf8.end(), '?'), 1); // only '?' itself
}

TEST(Cp1251, KnownLettersAndUnmappableCharacters)
{
    EXPECT_EQ(Cp1251ToUtf8("\xcf\xd1 \xb9"), "ПС №");
    EXPECT_EQ(Utf8ToCp1251("ПС №"), "\xcf\xd1 \xb9");
    EXPECT_EQ(Utf8ToCp1251("a\xe2\x82\xac"), "a\x88"); // euro sign
    EXPECT_EQ(Utf8ToCp1251("\xe4\xb8\xad"), "?");      // no Chinese in Windows-1251
}

} // namespace
} // namespace gw
