// Received ASDUs stored into tags, checked against the reference frames of an
// independent implementation; hostile and truncated ASDUs; the builders of
// the station-wide requests, checked against the reference bytes and tshark.

#include "core/asdu.h"
#include "core/cp56.h"
#include "core/messbuff.h"
#include "core/tags.h"

#include "support/asdu_vectors.h"
#include "support/dates.h"
#include "support/fake_clock.h"
#include "support/tshark.h"

#include <gtest/gtest.h>

#include <cstring>

namespace gw {
namespace {

using test::AsduVector;
using test::At;
using test::HexText;
using C = TagCategName;

constexpr const char* kIp = "10.0.0.5";
constexpr int kPort = 2404;

// The time of the reference rows, 2021-03-07 14:05:09.250.
TDateTime RefTime() { return At(2021, 3, 7, 14, 5, 9, 250); }

// The value a tag holds, read from its raw bytes by its data category.
double RawValue(const TValue1& v)
{
    const auto& b = v.bv;
    switch (v.pdc->tcName) {
    case C::dcn_TITnorm:
    case C::dcn_TITscale1: return static_cast<std::int16_t>(b[0] | b[1] << 8);
    case C::dcn_TITfloat: {
        float f;
        std::memcpy(&f, b.data(), 4);
        return f;
    }
    case C::dcn_TII:
        return static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24);
    case C::dcn_TS32: return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    case C::dcn_Diskr7: return (b[0] & 0x40) ? (b[0] & 0x7F) - 128 : (b[0] & 0x7F);
    default: return b[0];
    }
}

class AsduParse : public ::testing::Test {
protected:
    TTypeIdentList types;
    TTagCategoryList cats{1};
    TTagSignalList tags;
    test::FakeClock clock{At(2021, 3, 7, 15, 0, 0, 0)};
    TMessBuff log{1000, 0xFFFFFFFF};

    void AddTag(int ca, int ioa, C category = C::tcn_TIT)
    {
        TTagSignal t;
        t.Init("tag", ca, ioa, kIp, kPort, cats.GetPtc(category), 0, 0, 0, 0);
        tags.AddTag(t);
    }
    PTagSignal Tag(int ca, int ioa)
    {
        PTagSignal p = nullptr;
        tags.FindTag(ca, ioa, kIp, kPort, p);
        return p;
    }
    TIEC_ASDUt Received(const std::vector<std::uint8_t>& bytes, const TAsduLayout& layout)
    {
        TIEC_ASDUt a(bytes, 0, static_cast<int>(bytes.size()), layout, types);
        a.IP_address2 = kIp;
        a.IP_port3 = kPort;
        return a;
    }
    void Parse(const std::vector<std::uint8_t>& bytes, const TAsduLayout& layout = {})
    {
        Received(bytes, layout).ReceiveRaspak1({tags, clock, &log});
    }
    std::vector<std::string> Lines()
    {
        std::vector<std::string> out;
        std::string text;
        TDateTime dt;
        while (log.Get(text, dt))
            out.push_back(text);
        return out;
    }
    int ReceivedTags()
    {
        int n = 0;
        for (int i = 0; i < tags.Count(); ++i)
            n += tags.GetTag(i)->prReceive();
        return n;
    }
};

struct Stored {
    int ioa;
    double value;
    int quality;
    bool timed;
    int counterStatus = 0;
};

struct ReferenceRow {
    const char* row;
    int ca;
    std::vector<Stored> objects;
};

TEST_F(AsduParse, ReferenceRowsStoreWhatTheyHold)
{
    const ReferenceRow rows[] = {
        {"M_SP_NA_1", 1, {{100, 1, 0x00, false}, {101, 0, 0x80, false}}},
        {"M_SP_TB_1", 1, {{102, 1, 0x00, true}}},
        // Intermediate and indeterminate without quality bits are stored as invalid.
        {"M_DP_NA_1", 1, {{200, 2, 0, false}, {201, 1, 0, false}, {202, 0, 0x80, false}, {203, 3, 0x80, false}}},
        {"M_DP_TB_1", 1, {{204, 2, 0x10, true}}},
        {"M_ST_NA_1", 1, {{300, -5, 0, false}, {301, 63, 0, false}}},
        {"M_BO_NA_1", 1, {{400, 0x12345678, 0, false}}}, // all 32 bits
        {"M_ME_NA_1", 1, {{500, 16384, 0, false}, {501, -32768, 0x01, false}}},
        {"M_ME_NB_1", 1, {{600, -1234, 0, false}}},
        {"M_ME_NC_1", 1, {{700, 3.25, 0, false}, {701, -0.125, 0x40, false}}},
        {"M_ME_TF_1", 1, {{702, 230.5, 0, true}}},
        // Of a total's status only IV is quality; the whole byte stays in CounterStatus.
        {"M_IT_NA_1", 1, {{800, -5, 0x00, false, 0x03}, {801, -2147483647, 0x80, false, 0xA4}}},
        {"M_IT_TB_1", 1, {{802, 123456, 0x00, true, 0x01}}},
        {"M_ME_NC_1 SQ=1",
         1,
         {{900, 0, 0, false}, {901, 1.5, 0, false}, {902, 3, 0, false}, {903, 4.5, 0, false}, {904, 6, 0, false}}},
        {"M_SP_TB_1 SQ=1", 1, {{910, 0, 0, true}, {911, 1, 0, true}, {912, 0, 0, true}}},
        {"M_ME_NC_1 narrow", 7, {{700, 3.25, 0, false}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        tags.Clear();
        for (const auto& o : r.objects)
            AddTag(r.ca, o.ioa);
        const auto& v = AsduVector(r.row);
        Parse(v.bytes, v.layout);
        EXPECT_EQ(Lines(), std::vector<std::string>{});
        for (const auto& o : r.objects) {
            SCOPED_TRACE(o.ioa);
            PTagSignal t = Tag(r.ca, o.ioa);
            ASSERT_TRUE(t && t->prReceive() && t->Value.pdc);
            EXPECT_DOUBLE_EQ(RawValue(t->Value), o.value);
            EXPECT_EQ(t->Value.Qualit, o.quality);
            EXPECT_EQ(t->Value.CounterStatus, o.counterStatus);
            if (o.timed)
                EXPECT_NEAR(t->Value.dt, RefTime(), 1e-9);
            else
                EXPECT_EQ(t->Value.dt, 0.0);
        }
    }
}

TEST_F(AsduParse, ReferenceRowsEncodeBackByteForByte)
{
    for (const auto& v : test::LoadAsduVectors()) {
        SCOPED_TRACE(v.name);
        TIEC_ASDUt a = Received(v.bytes, v.layout);
        ASSERT_TRUE(a.HeaderOk());
        std::uint8_t out[kMaxAsduLen];
        const int n = a.Encode(out);
        EXPECT_EQ(HexText(out, static_cast<std::size_t>(n)), HexText(v.bytes.data(), v.bytes.size()));
    }
}

// Every prefix of every reference row: refused with an error line, nothing
// stored, nothing read past the end (the sanitizer build checks the latter).
TEST_F(AsduParse, TruncatedAsdusAreRefusedAndStoreNothing)
{
    int refused = 0;
    for (const auto& v : test::LoadAsduVectors()) {
        for (std::size_t len = 0; len < v.bytes.size(); ++len) {
            SCOPED_TRACE(v.name + " cut to " + std::to_string(len));
            tags.Clear();
            for (int ioa = 0; ioa < 6000; ioa += 1)
                if (ioa < 1000 || ioa >= 5000)
                    AddTag(v.layout.szCa == 1 ? 7 : 1, ioa);
            std::vector<std::uint8_t> cut(v.bytes.begin(), v.bytes.begin() + static_cast<std::ptrdiff_t>(len));
            TIEC_ASDUt a = Received(cut, v.layout);
            if (a.HeaderOk()
                && (a.ptid == nullptr
                    || PlanObjects(a.lenData, a.nelem, a.isSeqence(), a.ptid->objlen, a.ptid->timelen, v.layout.szIoa)))
                continue; // the cut happens to be a whole ASDU of another length
            a.ReceiveRaspak1({tags, clock, &log});
            EXPECT_EQ(ReceivedTags(), 0);
            auto lines = Lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].rfind("(err) ReceiveRaspak()", 0), 0u) << lines[0];
            ++refused;
        }
    }
    EXPECT_GT(refused, 300);
}

TEST_F(AsduParse, AsduOutsideItsFrameIsRefused)
{
    AddTag(1, 100);
    const auto& bytes = AsduVector("M_SP_NA_1").bytes;
    const int n = static_cast<int>(bytes.size());
    std::vector<std::uint8_t> big(300, 0x01);
    const struct {
        std::span<const std::uint8_t> frame;
        int offset, length;
    } cases[] = {
        {bytes, 0, n + 1},                                            // claims a byte the frame does not have
        {bytes, 1, n},                                                // shifted past the end
        {bytes, -1, n},    {bytes, 0, -1}, {big, 0, kMaxAsduLen + 1}, // longer than any I-frame carries
    };
    for (const auto& c : cases) {
        TIEC_ASDUt a(c.frame, c.offset, c.length, {}, types);
        EXPECT_FALSE(a.HeaderOk());
        a.IP_address2 = kIp;
        a.IP_port3 = kPort;
        a.ReceiveRaspak1({tags, clock, &log});
        EXPECT_EQ(Lines(),
                  std::vector<std::string>{"(err) ReceiveRaspak() неверная длина ASDU=" + std::to_string(c.length)});
    }
    EXPECT_EQ(ReceivedTags(), 0);
}

TEST_F(AsduParse, ObjectCountMustMatchTheLength)
{
    // M_ME_NC, three objects of 3 + 5 bytes.
    std::vector<std::uint8_t> asdu{0x0D, 0x03, 0x03, 0x00, 0x01, 0x00};
    for (int ioa = 1; ioa <= 3; ++ioa) {
        AddTag(1, ioa);
        asdu.insert(asdu.end(), {static_cast<std::uint8_t>(ioa), 0, 0, 0, 0, 0x80, 0x3F, 0});
    }
    auto shortOne = asdu;
    shortOne.pop_back();
    Parse(shortOne);
    EXPECT_EQ(ReceivedTags(), 0);
    EXPECT_EQ(Lines(),
              std::vector<std::string>{"(err) ReceiveRaspak() ошибка в размере блока" + types.FindTypeIdent(13)->Text});
    Parse(asdu);
    EXPECT_EQ(ReceivedTags(), 3);
    EXPECT_DOUBLE_EQ(RawValue(Tag(1, 3)->Value), 1.0);
}

TEST_F(AsduParse, SequenceWithOneTrailingTimeTagGivesEveryElementThatTime)
{
    // M_SP_TB, a sequence of 3 from 910 with a single time tag at the end.
    std::vector<std::uint8_t> asdu{0x1E, 0x83, 0x03, 0x00, 0x01, 0x00, 0x8E, 0x03, 0x00, 0x01,
                                   0x00, 0x01, 0x22, 0x24, 0x05, 0x0E, 0xE7, 0x03, 0x15};
    for (int ioa = 910; ioa <= 912; ++ioa)
        AddTag(1, ioa);
    Parse(asdu);
    EXPECT_EQ(Lines(), std::vector<std::string>{});
    for (int ioa = 910; ioa <= 912; ++ioa) {
        EXPECT_NEAR(Tag(1, ioa)->Value.dt, RefTime(), 1e-9);
        EXPECT_EQ(Tag(1, ioa)->Value.bv[0], ioa == 911 ? 0 : 1);
    }
}

TEST_F(AsduParse, UnknownTypeIsDroppedSilently)
{
    AddTag(1, 100);
    Parse({0x16, 0x01, 0x03, 0x00, 0x01, 0x00, 0x64, 0x00, 0x00, 0x01});
    EXPECT_EQ(ReceivedTags(), 0);
    EXPECT_EQ(Lines(), std::vector<std::string>{});
}

TEST_F(AsduParse, TestTransmissionsStoreNothing)
{
    AddTag(1, 100);
    AddTag(1, 101);
    std::vector<std::uint8_t> bytes = AsduVector("M_SP_NA_1").bytes;
    bytes[2] |= 0x80; // T bit of the cause
    Parse(bytes);
    EXPECT_EQ(ReceivedTags(), 0);
    EXPECT_EQ(Lines(),
              std::vector<std::string>{"(iec2) ReceiveRaspak() кадр с битом теста (T=1) не сохраняется, тип=1"});
    bytes[2] &= 0x7F;
    Parse(bytes);
    EXPECT_EQ(ReceivedTags(), 2);
}

TEST_F(AsduParse, ObjectWithoutTagIsLoggedAndTheOthersStored)
{
    AddTag(1, 100);
    Parse(AsduVector("M_SP_NA_1").bytes);
    EXPECT_TRUE(Tag(1, 100)->prReceive());
    EXPECT_EQ(Lines(),
              std::vector<std::string>{"(iec2) Нет адреса 0001:000065 для бработки принятого кадра с типом=1"});
}

TEST_F(AsduParse, ObjectsOfAnotherConnectionFindNoTag)
{
    AddTag(1, 100);
    TIEC_ASDUt a = Received(AsduVector("M_SP_NA_1").bytes, {});
    a.IP_port3 = kPort + 1;
    a.ReceiveRaspak1({tags, clock, &log});
    EXPECT_EQ(ReceivedTags(), 0);
    EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(AsduParse, TimeTagOutOfRangeStoresTheValueWithoutTime)
{
    AddTag(1, 702);
    auto bytes = AsduVector("M_ME_TF_1").bytes;
    bytes.back() = 0x00; // year byte 0
    Parse(bytes);
    ASSERT_TRUE(Tag(1, 702)->prReceive());
    EXPECT_DOUBLE_EQ(RawValue(Tag(1, 702)->Value), 230.5);
    EXPECT_EQ(Tag(1, 702)->Value.dt, 0.0);
}

TEST_F(AsduParse, EightBitSequenceSpreadsOverPointTags)
{
    // M_BO_TC (136), a sequence of 2 from 100, each element with its own time.
    std::vector<std::uint8_t> asdu{0x88, 0x82, 0x03, 0x00, 0x01, 0x00, 0x64, 0x00, 0x00};
    for (std::uint8_t bits : {std::uint8_t{0x05}, std::uint8_t{0x80}}) {
        asdu.push_back(bits);
        asdu.insert(asdu.end(), {0x22, 0x24, 0x05, 0x0E, 0xE7, 0x03, 0x15});
    }
    for (int ioa = 100; ioa < 116; ++ioa)
        AddTag(1, ioa, C::tcn_TS);
    Parse(asdu);
    EXPECT_EQ(Lines(), std::vector<std::string>{});
    const int want[16] = {1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(100 + i);
        EXPECT_TRUE(Tag(1, 100 + i)->prReceive());
        EXPECT_EQ(Tag(1, 100 + i)->Value.bv[0], want[i]);
    }
}

TEST_F(AsduParse, EightBitsAreGoodAndAnIdenticalByteIsNoChange)
{
    // M_BO_TC (136) at 100, one element with its time.
    auto frame = [](std::uint8_t bits) {
        return std::vector<std::uint8_t>{0x88, 0x01, 0x03, 0x00, 0x01, 0x00, 0x64, 0x00, 0x00,
                                         bits, 0x22, 0x24, 0x05, 0x0E, 0xE7, 0x03, 0x15};
    };
    for (int ioa = 100; ioa < 108; ++ioa)
        AddTag(1, ioa, C::tcn_TS);
    auto takeAll = [this] {
        std::vector<int> changed;
        TValue1 v;
        for (int i = 0; i < tags.Count(); ++i)
            if (tags.TakeNew(i, v))
                changed.push_back(tags.GetTag(i)->ObjAddress());
        return changed;
    };
    Parse(frame(0xA5));
    EXPECT_EQ(takeAll().size(), 8u);
    for (int ioa = 100; ioa < 108; ++ioa) {
        EXPECT_NEAR(Tag(1, ioa)->Value.dt, RefTime(), 1e-9) << ioa;
        EXPECT_EQ(Tag(1, ioa)->Value.Qualit, 0) << ioa; // the type carries no quality: nothing is wrong
        EXPECT_TRUE(Tag(1, ioa)->Value.prQualit) << ioa;
    }
    Parse(frame(0xA5));
    EXPECT_EQ(takeAll(), std::vector<int>{});
    // Bit 1 alone changes: only the point of bit 1, not the one at the element's own address.
    Parse(frame(0xA7));
    EXPECT_EQ(takeAll(), std::vector<int>{101});
    EXPECT_EQ(Tag(1, 100)->Value.bv[0], 1);
    EXPECT_EQ(Tag(1, 101)->Value.bv[0], 1);
}

TEST_F(AsduParse, InvalidTimeTagGivesTheReceptionTimeAndMarksTheQuality)
{
    AddTag(1, 702);
    AddTag(1, 102);
    AddTag(1, 802);
    struct Case {
        const char* row;
        int ioa;
        std::uint8_t quality; // stored with the mark
    };
    const Case cases[] = {{"M_ME_TF_1", 702, 0x08}, {"M_SP_TB_1", 102, 0x08}, {"M_IT_TB_1", 802, 0x08}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        auto bytes = AsduVector(c.row).bytes;
        const std::size_t minutes = bytes.size() - 5; // CP56Time2a at the end: ms, ms, minutes, ...
        bytes[minutes] |= 0x80;
        Parse(bytes);
        EXPECT_EQ(Tag(1, c.ioa)->Value.dt, clock.Now());
        EXPECT_EQ(Tag(1, c.ioa)->Value.Qualit, c.quality);
        // The same with a valid time: the station's time and no mark.
        bytes[minutes] &= 0x7F;
        Parse(bytes);
        EXPECT_NEAR(Tag(1, c.ioa)->Value.dt, RefTime(), 1e-9);
        EXPECT_EQ(Tag(1, c.ioa)->Value.Qualit, 0);
    }
    // A station's reserved bit 3 is not taken for the mark.
    auto bytes = AsduVector("M_ME_TF_1").bytes;
    bytes[bytes.size() - 8] = 0x08;
    Parse(bytes);
    EXPECT_EQ(Tag(1, 702)->Value.Qualit, 0);
}

TEST_F(AsduParse, ConfirmationsAndReportsGiveTheirTexts)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C_SC_NA_1 select actcon", "(iec2) подтверждение активации ТУ. Адрес=5000"},
        {"C_SC_NA_1 select actcon negative", "(iec2) отрицательное подтверждение ТУ. Адрес=5000 COT=71"},
        {"C_SC_NA_1 unknown IOA", "(iec2) отрицательное подтверждение ТУ. Адрес=5999 COT=111"},
        {"C_IC_NA_1 actcon", "(iec2) КП сообщает о завершении Команды опроса"},
        {"C_IC_NA_1 actterm", "(iec2) КП сообщает о завершении Команды опроса"},
        {"M_EI_NA_1", nullptr},
        {"C_CS_NA_1 act", nullptr},
        {"C_CI_NA_1 act", "(iec2) Нет обработки принятого кадра с типом=101"},
    };
    for (const auto& [row, text] : cases) {
        SCOPED_TRACE(row);
        Parse(AsduVector(row).bytes);
        EXPECT_EQ(Lines(), text ? std::vector<std::string>{text} : std::vector<std::string>{});
    }
    auto term = AsduVector("C_SC_NA_1 select actcon").bytes;
    term[2] = 10;
    Parse(term);
    EXPECT_EQ(Lines(), std::vector<std::string>{"(iec2) завершение активации ТУ. Адрес=5000"});
}

TEST_F(AsduParse, HeaderFieldsAndLogText)
{
    TIEC_ASDUt a = Received(AsduVector("M_ME_NC_1").bytes, {});
    EXPECT_EQ(a.Code(), 13);
    EXPECT_EQ(a.nelem, 2);
    EXPECT_EQ(a.ObjAddress, 700);
    EXPECT_EQ(a.lenData, 16);
    EXPECT_EQ(a.ToString(), "TypeIdent=(13)" + a.ptid->Text + ", SQ=0, ASDUAddr=0001, ObjAddr=0002BC nelem=2 COT=3("
                                + types.CauseName(3) + ")");
    TIEC_ASDUt neg = Received(AsduVector("C_SC_NA_1 select actcon negative").bytes, {});
    EXPECT_NE(neg.ToString().find(" COT=71(" + std::string(11, '?') + ")"), std::string::npos);
    EXPECT_EQ(Received({0x16, 0x01, 0x03, 0x00, 0x01, 0x00}, {}).ToString(), "");
}

TEST_F(AsduParse, NoLogMeansNoLines)
{
    AddTag(1, 100);
    TIEC_ASDUt a = Received(AsduVector("M_SP_NA_1").bytes, {});
    a.ReceiveRaspak1({tags, clock, nullptr});
    EXPECT_TRUE(Tag(1, 100)->prReceive());
    EXPECT_EQ(log.Count(), 0);
}

// ---- station-wide requests ----

class AsduBuild : public ::testing::Test {
protected:
    TTypeIdentList types;

    static std::string Bytes(const TIEC_ASDUt& a)
    {
        std::uint8_t out[kMaxAsduLen];
        return HexText(out, static_cast<std::size_t>(a.Encode(out)));
    }
    static test::TApdu Frame(const TIEC_ASDUt& a)
    {
        test::TApdu f(6 + kMaxAsduLen);
        const int n = a.Encode(std::span(f).subspan(6));
        f.resize(static_cast<std::size_t>(6 + n));
        f[0] = 0x68;
        f[1] = static_cast<std::uint8_t>(n + 4);
        return f;
    }
};

TEST_F(AsduBuild, RequestsAreTheReferenceBytes)
{
    const TAsduLayout l104;
    auto ref = [](const char* row) { return HexText(AsduVector(row).bytes.data(), AsduVector(row).bytes.size()); };
    EXPECT_EQ(Bytes(BuildInterrogation(1, l104, types)), ref("C_IC_NA_1 act"));
    EXPECT_EQ(Bytes(BuildCounterInterrogation(1, l104, types)), ref("C_CI_NA_1 act"));
    EXPECT_EQ(Bytes(BuildClockSync(1, RefTime(), l104, types)), ref("C_CS_NA_1 act"));
}

TEST_F(AsduBuild, RequestsFollowTheConfiguredWidths)
{
    struct Case {
        TAsduLayout layout;
        const char* bytes;
    } cases[] = {
        {TAsduLayout::Make(2, 2, 3, 0x21), "64 01 06 21 03 00 00 00 00 14"},
        {TAsduLayout::Make(1, 1, 2, 0x21), "64 01 06 03 00 00 14"}, // no originator with a 1-byte cause
        {TAsduLayout::Make(2, 0, 0), "64 01 06 00 14"},
        {TAsduLayout::Make(1, 2, 1), "64 01 06 03 00 00 14"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bytes(BuildInterrogation(3, c.layout, types)), c.bytes);
}

TEST_F(AsduBuild, ClockSyncIsStampedAfterTheObjectAddressOfTheLayout)
{
    for (auto layout : {TAsduLayout::Make(2, 2, 3), TAsduLayout::Make(1, 1, 2), TAsduLayout::Make(1, 0, 1)}) {
        std::uint8_t out[kMaxAsduLen];
        const int n = BuildClockSync(3, At(2020, 1, 1, 0, 0, 0, 0), layout, types).Encode(out);
        ASSERT_TRUE(StampClockSync(std::span(out, static_cast<std::size_t>(n)), layout, RefTime()));
        EXPECT_EQ(HexText(out + layout.FixedLen() + layout.szIoa, 7), "22 24 05 0E E7 03 15");
        EXPECT_EQ(n, layout.FixedLen() + layout.szIoa + 7);
    }
    std::uint8_t gi[kMaxAsduLen];
    const int n = BuildInterrogation(3, {}, types).Encode(gi);
    EXPECT_FALSE(StampClockSync(std::span(gi, static_cast<std::size_t>(n)), {}, RefTime()));
    std::uint8_t cs[kMaxAsduLen];
    BuildClockSync(3, RefTime(), {}, types).Encode(cs);
    EXPECT_FALSE(StampClockSync(std::span(cs, 15), {}, RefTime())); // too short for the time
}

TEST_F(AsduBuild, EncodeRefusesWhatDoesNotFit)
{
    TACOMDATA big{};
    TIEC_ASDUt a(13, 1, 6, 1, 1, big, {}, types); // 6 + 3 + 255 bytes: beyond an I-frame
    std::uint8_t out[300];
    EXPECT_EQ(a.Encode(out), 0);
    TIEC_ASDUt gi = BuildInterrogation(1, {}, types);
    EXPECT_EQ(gi.Encode(std::span(out, 9)), 0);
    EXPECT_EQ(gi.Encode(std::span(out, 10)), 10);
}

TEST_F(AsduBuild, TsharkReadsTheRequests)
{
    const TAsduLayout l104;
    const auto rows = test::TsharkFields(
        {Frame(BuildInterrogation(3, l104, types)), Frame(BuildCounterInterrogation(0x1234, l104, types)),
         Frame(BuildClockSync(65535, RefTime(), l104, types))},
        {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.addr", "iec60870_asdu.ioa",
         "iec60870_asdu.qoi", "iec60870_asdu.qcc", "iec60870_asdu.cp56time.year", "iec60870_asdu.cp56time.month",
         "iec60870_asdu.cp56time.day", "iec60870_asdu.cp56time.hour", "iec60870_asdu.cp56time.min",
         "iec60870_asdu.cp56time.ms"});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "100");
    EXPECT_EQ(rows[0][1], "6");
    EXPECT_EQ(rows[0][2], "3");
    EXPECT_EQ(rows[0][3], "0");
    EXPECT_EQ(rows[0][4], "20");
    EXPECT_EQ(rows[1][0], "101");
    EXPECT_EQ(rows[1][2], "4660");
    EXPECT_EQ(rows[1][5], "0x05");
    EXPECT_EQ(rows[2][0], "103");
    EXPECT_EQ(rows[2][2], "65535");
    EXPECT_EQ(rows[2][6], "21");
    EXPECT_EQ(rows[2][7], "3");
    EXPECT_EQ(rows[2][8], "7");
    EXPECT_EQ(rows[2][9], "14");
    EXPECT_EQ(rows[2][10], "5");
    EXPECT_EQ(rows[2][11], "9250");
}

} // namespace
} // namespace gw
