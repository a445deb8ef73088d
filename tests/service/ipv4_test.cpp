#include "service/ipv4.h"

#include <gtest/gtest.h>

namespace gw::test {
namespace {

TEST(ParseIPv4, StrictDottedDecimal)
{
    const struct {
        const char* text;
        std::optional<TIPv4> want;
    } cases[] = {
        {"127.0.0.1", TIPv4{127, 0, 0, 1}},
        {"192.168.010.001", TIPv4{192, 168, 10, 1}}, // zero-padded is decimal, not octal
        {"0.0.0.0", TIPv4{0, 0, 0, 0}},
        {"255.255.255.255", TIPv4{255, 255, 255, 255}},
        {"256.1.1.1", std::nullopt},
        {"1.2.3", std::nullopt},
        {"127.1", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1..3.4", std::nullopt},
        {"0001.2.3.4", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {"0x7f.0.0.1", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"localhost", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseIPv4(c.text), c.want) << c.text;
}

} // namespace
} // namespace gw::test
