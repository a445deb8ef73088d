// CP56 time tags as an independent IEC 104 decoder reads them, and the
// decoder helper itself.

#include "core/cp56.h"

#include "support/tshark.h"

#include "support/dates.h"

#include <gtest/gtest.h>

#include <array>

namespace gw {
namespace {

using test::TApdu;

using test::At;

// C_CS_NA_1 activation to common address 3 carrying the time tag of dt.
TApdu ClockSync(TDateTime dt)
{
    TApdu apdu{0x68, 0x14, 0x00, 0x00, 0x00, 0x00, 0x67, 0x01, 0x06, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    std::array<std::uint8_t, CP56Size> tag{};
    DateTimeToCP56(tag, dt);
    apdu.insert(apdu.end(), tag.begin(), tag.end());
    return apdu;
}

TEST(Tshark, DecodesFramesAndFields)
{
    const TApdu startdt{0x68, 0x04, 0x07, 0x00, 0x00, 0x00};
    const auto rows = test::TsharkFields(
        {startdt, ClockSync(At(2021, 3, 7, 14, 5, 9, 250))},
        {"iec60870_104.utype", "iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.addr"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "0x00000001"); // STARTDT act
    EXPECT_EQ(rows[0][1], "");
    EXPECT_EQ(rows[1][1], "103");
    EXPECT_EQ(rows[1][2], "6");
    EXPECT_EQ(rows[1][3], "3");
    const std::string text = test::TsharkDecode({startdt}, test::TApduDirection::FromStation);
    EXPECT_NE(text.find("STARTDT act"), std::string::npos) << text;
}

TEST(Tshark, Cp56TimeTagsAsAnotherDecoderSeesThem)
{
    struct Case {
        TDateTime dt;
        std::vector<std::string> fields; // ms, min, hour, day, dow, month, year, iv, su
    } cases[] = {
        {At(2021, 3, 7, 14, 5, 9, 250), {"9250", "5", "14", "7", "7", "3", "21", "0", "0"}},
        {At(2000, 2, 29, 23, 59, 59, 999), {"59999", "59", "23", "29", "2", "2", "0", "0", "0"}},
        {At(2026, 12, 10, 0, 0, 0, 1), {"1", "0", "0", "10", "4", "12", "26", "0", "0"}},
    };
    std::vector<TApdu> frames;
    for (const auto& c : cases)
        frames.push_back(ClockSync(c.dt));
    const auto rows = test::TsharkFields(
        frames, {"iec60870_asdu.cp56time.ms", "iec60870_asdu.cp56time.min", "iec60870_asdu.cp56time.hour",
                 "iec60870_asdu.cp56time.day", "iec60870_asdu.cp56time.dow", "iec60870_asdu.cp56time.month",
                 "iec60870_asdu.cp56time.year", "iec60870_asdu.cp56time.iv", "iec60870_asdu.cp56time.su"});
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], cases[i].fields) << "frame " << i;
}

} // namespace
} // namespace gw
