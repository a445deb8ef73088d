#include "core/cp1251.h"

#include <Poco/UTF8Encoding.h>
#include <Poco/Windows1251Encoding.h>

#include <gtest/gtest.h>

#include <string>

namespace gw {
namespace {

std::string AllBytes()
{
    std::string s;
    for (int b = 0; b < 256; ++b)
        s += static_cast<char>(b);
    return s;
}

TEST(Cp1251, EveryByteRoundTripsAndAgreesWithPoco)
{
    const std::string bytes = AllBytes();
    const std::string text = Cp1251ToUtf8(bytes);
    ASSERT_TRUE(IsValidUtf8(text));
    std::string back;
    ASSERT_TRUE(Utf8ToCp1251(text, back));
    EXPECT_EQ(back, bytes);

    // An independent table for every byte the code page assigns.
    Poco::Windows1251Encoding cp;
    Poco::UTF8Encoding utf8;
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98)
            continue;
        unsigned char expect[4];
        const int n = utf8.convert(cp.characterMap()[b], expect, sizeof expect);
        ASSERT_GT(n, 0) << b;
        EXPECT_EQ(Cp1251ToUtf8(std::string(1, static_cast<char>(b))),
                  std::string(reinterpret_cast<const char*>(expect), static_cast<std::size_t>(n)))
            << "byte " << b;
    }
}

TEST(Cp1251, CyrillicNamesBothWays)
{
    const std::string cp = "\xCF\xD1 110 \xEA\xC2 \xB9" "5 \xA8\xB8"; // ПС 110 кВ №5 Ёё
    EXPECT_EQ(Cp1251ToUtf8(cp), "ПС 110 кВ №5 Ёё");
    std::string out;
    ASSERT_TRUE(Utf8ToCp1251("ПС 110 кВ №5 Ёё", out));
    EXPECT_EQ(out, cp);
}

TEST(Cp1251, RefusesWhatItCannotHoldAndLeavesOutputAlone)
{
    const char* bad[] = {
        "日本",             // not in the code page
        "a\xC3",            // truncated sequence
        "\xC0\xAF",         // overlong '/'
        "\xED\xA0\x80",     // surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\x80",             // stray continuation byte
    };
    for (const char* t : bad) {
        std::string out = "keep";
        EXPECT_FALSE(Utf8ToCp1251(t, out)) << t;
        EXPECT_EQ(out, "keep");
    }
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
    EXPECT_TRUE(IsValidUtf8("日本"));
}

} // namespace
} // namespace gw
