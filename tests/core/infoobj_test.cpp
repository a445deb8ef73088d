#include "core/infoobj.h"

#include "core/cp56.h"
#include "core/logcategories.h"
#include "core/messbuff.h"
#include "support/fake_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace gw {
namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms)
{
    TDateTime dt = 0;
    EXPECT_TRUE(TryEncodeDateTime({y, mo, d, h, mi, s, ms}, dt));
    return dt;
}

TEST(ObjAddr, WidthsOneToThreeLowByteFirst)
{
    const std::vector<std::uint8_t> b = {0x11, 0x22, 0x33, 0x44};
    std::size_t pos = 1;
    EXPECT_EQ(GetObjAddr(b, pos, 3), 0x443322);
    EXPECT_EQ(pos, 4u);
    pos = 0;
    EXPECT_EQ(GetObjAddr(b, pos, 2), 0x2211);
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(GetObjAddr(b, pos, 1), 0x33);
    EXPECT_EQ(pos, 3u);
    // Bad width or too few bytes: 0 and the position stays.
    for (int width : {0, 4}) {
        pos = 0;
        EXPECT_EQ(GetObjAddr(b, pos, width), 0);
        EXPECT_EQ(pos, 0u);
    }
    pos = 2;
    EXPECT_EQ(GetObjAddr(b, pos, 3), 0);
    EXPECT_EQ(pos, 2u);

    TPrmn prm;
    prm.sz_InfObjAddress = 2;
    pos = 1;
    EXPECT_EQ(GetObjAddr(b, pos, prm), 0x3322);
    EXPECT_EQ(pos, 3u);
}

TEST(TimeTag, Cp56Decodes)
{
    test::FakeClock clock;
    struct Case {
        std::vector<std::uint8_t> bytes;
        TDateTime expected;
    };
    const Case cases[] = {
        // minute 0 and hour 0 are valid
        {{0x10, 0x27, 0x00, 0x00, 0x01, 0x01, 0x15}, At(2021, 1, 1, 0, 0, 10, 0)},
        // IV, SU, day of week and year bit 7 are ignored
        {{0x22, 0x24, 0x85, 0x8E, 0xE7, 0x03, 0x95}, At(2021, 3, 7, 14, 5, 9, 250)},
        {{0x5F, 0xEA, 0x3B, 0x17, 0x1F, 0x0C, 0x63}, At(2099, 12, 31, 23, 59, 59, 999)},
    };
    for (const Case& c : cases) {
        TDateTime dt = 0;
        EXPECT_TRUE(GetDate(c.bytes, 0, dt, 7, clock, nullptr));
        EXPECT_NEAR(dt, c.expected, 0.5 / MsPerDay);
    }
}

TEST(TimeTag, Cp56EncodedByTheSenderDecodesBack)
{
    test::FakeClock clock;
    for (TDateTime t : {At(2021, 3, 7, 14, 5, 9, 250), At(2001, 1, 1, 0, 0, 0, 0), At(2024, 2, 29, 23, 59, 59, 999)}) {
        std::uint8_t buf[CP56Size];
        DateTimeToCP56(buf, t);
        TDateTime dt = 0;
        EXPECT_TRUE(GetDate(buf, 0, dt, 7, clock, nullptr));
        EXPECT_NEAR(dt, t, 0.5 / MsPerDay);
    }
}

TEST(TimeTag, Cp56WithFieldsOutOfRangeLeavesTheTimeAlone)
{
    test::FakeClock clock;
    const std::vector<std::vector<std::uint8_t>> accepted_but_ignored = {
        {0x10, 0x27, 0x00, 0x00, 0x01, 0x01, 0x00}, // year byte 0: 2000
        {0x10, 0x27, 0x3C, 0x00, 0x01, 0x01, 0x15}, // minute 60
        {0x10, 0x27, 0x00, 0x18, 0x01, 0x01, 0x15}, // hour 24
        {0x60, 0xEA, 0x00, 0x00, 0x01, 0x01, 0x15}, // 60000 ms
        {0x10, 0x27, 0x00, 0x00, 0x00, 0x01, 0x15}, // day 0
        {0x10, 0x27, 0x00, 0x00, 0x01, 0x00, 0x15}, // month 0
        {0x10, 0x27, 0x00, 0x00, 0x01, 0x0D, 0x15}, // month 13
    };
    for (const auto& b : accepted_but_ignored) {
        TDateTime dt = 123.0;
        EXPECT_TRUE(GetDate(b, 0, dt, 7, clock, nullptr));
        EXPECT_EQ(dt, 123.0);
    }
    const std::vector<std::vector<std::uint8_t>> no_such_date = {
        {0x10, 0x27, 0x00, 0x00, 0x1F, 0x04, 0x15}, // 31 April
        {0x10, 0x27, 0x00, 0x00, 0x1D, 0x02, 0x15}, // 29 February 2021
    };
    for (const auto& b : no_such_date) {
        TMessBuff log(10, LogError);
        TDateTime dt = 123.0;
        EXPECT_FALSE(GetDate(b, 0, dt, 7, clock, &log));
        EXPECT_EQ(dt, 123.0);
        EXPECT_EQ(log.Get(), "(err) Error! u_TypeIdent.GetDate(). Плохая метка времени");
    }
}

TEST(TimeTag, Cp24TakesDateAndHourFromTheClock)
{
    test::FakeClock clock(At(2024, 2, 29, 13, 41, 7, 0));
    // 30000 ms, minute 5, at offset 2 of a longer buffer
    const std::vector<std::uint8_t> b = {0xAA, 0xBB, 0x30, 0x75, 0x05};
    TDateTime dt = 0;
    EXPECT_TRUE(GetDate(b, 2, dt, 3, clock, nullptr));
    EXPECT_NEAR(dt, At(2024, 2, 29, 13, 5, 30, 0), 0.5 / MsPerDay);

    // IV bit set with minute 7: the bit is ignored
    const std::vector<std::uint8_t> iv = {0x00, 0x00, 0x87};
    EXPECT_TRUE(GetDate(iv, 0, dt, 3, clock, nullptr));
    EXPECT_NEAR(dt, At(2024, 2, 29, 13, 7, 0, 0), 0.5 / MsPerDay);
}

// A CP24Time2a names a minute of the last hour: one that lies far ahead in
// the current hour was sent before the hour turned.
TEST(TimeTag, Cp24JustAfterTheHourBelongsToTheHourBefore)
{
    struct Case {
        TDateTime now;
        int minute, ms;
        TDateTime expected;
    } cases[] = {
        {At(2024, 2, 29, 14, 0, 1, 0), 59, 58000, At(2024, 2, 29, 13, 59, 58, 0)},
        {At(2024, 3, 1, 0, 0, 2, 0), 59, 59500, At(2024, 2, 29, 23, 59, 59, 500)},
        {At(2024, 2, 29, 14, 0, 0, 0), 0, 1000, At(2024, 2, 29, 14, 0, 1, 0)}, // station clock a little ahead
        {At(2024, 2, 29, 14, 50, 0, 0), 5, 0, At(2024, 2, 29, 14, 5, 0, 0)},   // an old event of this hour
    };
    for (const Case& c : cases) {
        test::FakeClock clock(c.now);
        const std::vector<std::uint8_t> b = {static_cast<std::uint8_t>(c.ms & 0xFF),
                                             static_cast<std::uint8_t>(c.ms >> 8), static_cast<std::uint8_t>(c.minute)};
        TDateTime dt = 0;
        EXPECT_TRUE(GetDate(b, 0, dt, 3, clock, nullptr));
        EXPECT_NEAR(dt, c.expected, 0.5 / MsPerDay) << c.minute << ":" << c.ms;
    }
}

TEST(TimeTag, ShortBufferOrBadLengthIsRefused)
{
    test::FakeClock clock;
    const std::vector<std::uint8_t> b = {0x10, 0x27, 0x00, 0x00, 0x01, 0x01};
    TDateTime dt = 5.0;
    EXPECT_FALSE(GetDate(b, 0, dt, 7, clock, nullptr));
    EXPECT_FALSE(GetDate(b, 4, dt, 3, clock, nullptr));
    EXPECT_FALSE(GetDate(b, 7, dt, 3, clock, nullptr));
    EXPECT_FALSE(GetDate(b, 0, dt, 8, clock, nullptr));
    EXPECT_FALSE(GetDate(b, 0, dt, 1, clock, nullptr));
    EXPECT_EQ(dt, 5.0);
}

} // namespace
} // namespace gw
