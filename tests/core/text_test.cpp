#include "core/crc.h"
#include "core/text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace gw {
namespace {

using Fields = std::vector<std::string>;

Fields Split(int size, char dev, std::string_view line)
{
    TSplitArray split(size, dev);
    split.SplitString(line);
    Fields fields;
    for (int i = 0; i < split.Count(); ++i)
        fields.push_back(split.GetField(i));
    return fields;
}

TEST(SplitArray, CaseTable)
{
    struct Case {
        int size;
        std::string_view line;
        Fields fields;
    } cases[] = {
        {3, "a, b ,c,d", {"a", "b", "c"}},
        {3, "x", {"x"}},
        {3, ",", {""}},
        {3, "", {}},
        {3, "\"p,q\",c", {"\"p,q\"", "c"}},
        {5, "a,,b", {"a", "", "b"}},
        {5, "a,b,", {"a", "b"}},
        {5, "a,\"b,c", {"a"}}, // ends inside an open quote
        {5, " \t a \r", {"a"}},
        {5, "KP,1,\"Подстанция 1\"", {"KP", "1", "\"Подстанция 1\""}},
        {0, "a,b", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Split(c.size, ',', c.line), c.fields) << c.line;
}

TEST(SplitArray, FieldsOutsideTheLineAreEmpty)
{
    TSplitArray split(4, ';');
    split.SplitString("a;b;c;d");
    split.SplitString("z");
    EXPECT_EQ(split.Count(), 1);
    EXPECT_EQ(split.GetField(0), "z");
    EXPECT_EQ(split.GetField(1), ""); // no leftover of the longer line
    EXPECT_EQ(split.GetField(-1), "");
    EXPECT_EQ(split.GetField(100), "");
}

TEST(Numbers, IntegerTable)
{
    EXPECT_EQ(ToInt(""), 0);
    EXPECT_EQ(ToInt("-12"), -12);
    EXPECT_EQ(ToInt("+7"), 7);
    EXPECT_EQ(ToInt("2147483647"), 2147483647);
    EXPECT_EQ(ToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"12a", "a", " 1", "1 ", "--1", "+-1", "+", "-", "2147483648", "1.0", "0x10"})
        EXPECT_THROW(ToInt(bad), EConvertError) << bad;
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_EQ(StrToInt("2404"), 2404);
    EXPECT_EQ(StrToIntDef("", 5), 5);
    EXPECT_EQ(StrToIntDef("x1", -1), -1);
    EXPECT_EQ(StrToIntDef("810", -1), 810);
}

TEST(Numbers, FloatTable)
{
    struct Case {
        std::string_view text;
        char sep;
        double value;
    } good[] = {
        {"1.5", '_', 1.5},     {"1,5", '_', 1.5}, {"1,5", ',', 1.5},  {"1.5", '.', 1.5},     {"", ',', 0},
        {"-0.25", '.', -0.25}, {"+3", '.', 3},    {"1e3", '.', 1000}, {"2.5E-1", '.', 0.25}, {"7", '_', 7},
    };
    for (const auto& c : good)
        EXPECT_DOUBLE_EQ(ToFloat(c.text, c.sep), c.value) << c.text;
    struct Bad {
        std::string_view text;
        char sep;
    } bad[] = {
        {"1.5", ','}, {"1,5", '.'}, {"inf", '.'}, {"nan", '.'}, {"1e999", '.'}, {"1.5x", '.'},  {"1.2.3", '.'},
        {".", '.'},   {"e5", '.'},  {" 1", '.'},  {"1 ", '.'},  {"--1", '.'},   {"0x1p3", '.'},
    };
    for (const auto& c : bad)
        EXPECT_THROW(ToFloat(c.text, c.sep), EConvertError) << c.text;
}

// One form for "iec104.cfg" and the web pages: fixed notation down to
// 0.00001, scientific below it and from 16 integer digits on.
TEST(Numbers, FloatToTextTable)
{
    const std::vector<std::pair<double, std::string>> cases = {
        {0.0, "0"},
        {-0.0, "0"},
        {100, "100"},
        {0.5, "0.5"},
        {-12.75, "-12.75"},
        {12.5, "12.5"},
        {-3.25, "-3.25"},
        {4095, "4095"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {0.0001, "0.0001"},
        {0.00001, "0.00001"},
        {-0.00001, "-0.00001"},
        {0.000012345, "0.000012345"},
        {0.000001, "1E-6"},
        {9.99999999999999e-6, "9.99999999999999E-6"},
        {-1.5e-7, "-1.5E-7"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E15"},
        {2.5e20, "2.5E20"},
        {1e20, "1E20"},
        {1234567.891, "1234567.891"},
        {999999999999999.9, "1E15"},
        {1e308, "1E308"},
        {-65535, "-65535"},
        {-2147483648.0, "-2147483648"},
        {std::numeric_limits<double>::quiet_NaN(), "NAN"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const auto& [v, text] : cases)
        EXPECT_EQ(FloatToText(v), text) << v;
}

TEST(Text, DelQuotesTable)
{
    EXPECT_EQ(DelQuotes("\"ab\""), "ab");
    EXPECT_EQ(DelQuotes("\""), "\"");
    EXPECT_EQ(DelQuotes("\"\""), "");
    EXPECT_EQ(DelQuotes("\"ab"), "\"ab");
    EXPECT_EQ(DelQuotes("\"\"ab\"\""), "\"ab\"");
    EXPECT_EQ(DelQuotes(""), "");
}

TEST(Text, BufToHexStaysInsideItsBuffer)
{
    const std::uint8_t bytes[] = {0x68, 0x04, 0x07};
    EXPECT_EQ(BufToHex(bytes, 3, "P"), "P68 04 07 ");
    EXPECT_EQ(BufToHex(bytes, 2, ""), "68 04 ");
    EXPECT_EQ(BufToHex(bytes, 100, ">"), ">68 04 07 "); // count past the end
    EXPECT_EQ(BufToHex({}, 5, "x"), "x");
    const std::uint8_t high[] = {0xAB, 0xFF, 0x00};
    EXPECT_EQ(BufToHex(high, 3, ""), "AB FF 00 ");
}

TEST(Crc, CaseTable)
{
    struct Case {
        std::int32_t start;
        std::vector<std::uint8_t> bytes;
        std::int32_t value;
    } cases[] = {
        {0x0FFFFFFF, {0x01}, 1},           {0x0FFFFF01, {0xFF}, 1}, {0, {1, 2, 3}, 6},
        {0x0FFFFFFE, {0xFF, 0xFF}, 0x1FD}, {-10, {0x05}, -5}, // a negative sum is never folded
    };
    for (const auto& c : cases) {
        TCrcCheck crc;
        crc.Add(c.start);
        crc.Add(c.bytes);
        EXPECT_EQ(crc.Value(), c.value) << c.start;
    }
    TCrcCheck crc;
    crc.Add(0x0FFFFFFF);
    crc.Add(5);
    EXPECT_EQ(crc.Value(), 0x10000004); // integers are never folded
    crc.Add(0x7FFFFFFF);
    EXPECT_EQ(crc.Value(), static_cast<std::int32_t>(0x90000003u)); // wraps
    crc.Clear();
    EXPECT_EQ(crc.Value(), 0);
}

} // namespace
} // namespace gw
