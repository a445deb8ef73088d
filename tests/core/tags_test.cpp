#include "core/tags.h"

#include "core/kplist.h"
#include "core/logcategories.h"
#include "core/messbuff.h"
#include "core/signals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace gw {
namespace {

using Bytes = std::vector<std::uint8_t>;

const TTypeIdentList& Types()
{
    static const TTypeIdentList types;
    return types;
}

PTypeIdent Type(int code) { return Types().FindTypeIdent(code); }

bool IsPoint(int code) { return code == 1 || code == 2 || code == 30 || code == 3 || code == 4 || code == 31; }

std::string Store(TTagSignal& tag, int code, const Bytes& element, TDateTime dt = 0)
{
    return IsPoint(code) ? tag.ChangeTS1(Type(code), element, 0, dt) : tag.ChangeVal(Type(code), element, 0, dt);
}

struct TExport {
    int iValue = -99, quality = -99, iDouble = -99;
    double fValue = -99;
    TDateTime dt = -99;
};

TExport Export(const TTagSignal& tag)
{
    TExport e;
    tag.GetArmValue(e.iValue, e.quality, e.iDouble, e.fValue, e.dt);
    return e;
}

TTagSignal Bound(const char* name, int ca, int ioa, const char* ip, int port, PTagCategory ptc = nullptr, int arm = 0)
{
    TTagSignal t;
    t.Init(name, ca, ioa, ip, port, ptc, arm, 0, 0, 0);
    return t;
}

TEST(TagValue, EveryDataKindWithItsQuality)
{
    struct Case {
        const char* what;
        int code;
        int double_ts_val;
        Bytes element;
        TagCategName pdc;
        int iValue, quality, iDouble;
        double fValue;
        const char* text;
    };
    using C = TagCategName;
    // clang-format off
    const Case cases[] = {
        {"single ON good", 1, 0, {0x01}, C::dcn_SingleTS1, 1, 0x00, 1, 0, "вкл "},
        {"single OFF invalid", 1, 0, {0x80}, C::dcn_SingleTS1, 0, 0x80, 0, 0, "откл"},
        {"single ON blocked, with time", 30, 0, {0x11}, C::dcn_SingleTS1, 1, 0x10, 1, 0, "вкл "},
        {"double 0 counts as invalid", 3, 0, {0x00}, C::dcn_DoubleTS, 0, 0x80, 0, 0, "не опред."},
        {"double 1 OFF", 3, 0, {0x01}, C::dcn_DoubleTS, 0, 0x00, 1, 0, "откл"},
        {"double 2 ON", 3, 0, {0x02}, C::dcn_DoubleTS, 1, 0x00, 2, 0, "вкл "},
        {"double 3 counts as invalid", 3, 0, {0x03}, C::dcn_DoubleTS, 0, 0x80, 3, 0, "переходн."},
        {"double 0 blocked stays blocked", 3, 0, {0x10}, C::dcn_DoubleTS, 0, 0x10, 0, 0, "не опред."},
        {"double 0, four-state point", 3, 1, {0x00}, C::dcn_DoubleTS, 0, 0x00, 0, 0, "не опред."},
        {"double 3, four-state point", 31, 1, {0x03}, C::dcn_DoubleTS, 0, 0x00, 3, 0, "переходн."},
        {"double 0 blocked, four-state", 3, 1, {0x10}, C::dcn_DoubleTS, 0, 0x10, 0, 0, "не опред."},
        {"step 63", 5, 0, {0x3F, 0x00}, C::dcn_Diskr7, 63, 0x00, 63, 63, "63"},
        {"step 63 transient", 5, 0, {0xBF, 0x00}, C::dcn_Diskr7, 63, 0x00, 63, 63, "63"},
        {"step -1", 5, 0, {0x7F, 0x00}, C::dcn_Diskr7, -1, 0x00, -1, -1, "-1"},
        {"step -64", 5, 0, {0x40, 0x00}, C::dcn_Diskr7, -64, 0x00, -64, -64, "-64"},
        {"step -5 transient, invalid", 5, 0, {0xFB, 0x80}, C::dcn_Diskr7, -5, 0x80, -5, -5, "-5"},
        {"bitstring", 7, 0, {0x78, 0x56, 0x34, 0x12, 0x40}, C::dcn_TS32, 0x12345678, 0x40, 0x12345678, 0x12345678,
         "305419896"},
        {"bitstring above 2^31 is unsigned", 33, 0, {0xAA, 0xAA, 0xAA, 0xAA, 0x00}, C::dcn_TS32,
         static_cast<int>(0xAAAAAAAAu), 0x00, static_cast<int>(0xAAAAAAAAu), 2863311530.0, "2863311530"},
        {"packed points", 20, 0, {0x01, 0x00, 0x01, 0x00, 0x00}, C::dcn_TS16IZM, 0, 0x00, -99, 0,
         "!!!! не определен вывод величины"},
        {"normalised 0.5", 9, 0, {0x00, 0x40, 0x00}, C::dcn_TITnorm, 0, 0x00, 16384, 16384, "16384"},
        {"normalised -1 overflow", 9, 0, {0x00, 0x80, 0x01}, C::dcn_TITnorm, 0, 0x01, 32768, -32768, "-32768"},
        {"normalised without quality", 21, 0, {0x00, 0x40}, C::dcn_TITnorm, 0, 0x00, 16384, 16384, "16384"},
        {"scaled -1234", 11, 0, {0x2E, 0xFB, 0x00}, C::dcn_TITscale1, 0, 0x00, 0x7B2E, -1234, "-1234.000"},
        {"scaled -1 times 0.1", 11, 0, {0xFF, 0xFF, 0x02}, C::dcn_TITscale1, 0, 0x02, 0x7FFF, -0.1, "  -0.100"},
        {"scaled -32768", 35, 0, {0x00, 0x80, 0x00}, C::dcn_TITscale1, 0, 0x00, 0, -32768, "-32768.000"},
        {"scaled 1500 times 0.001", 11, 0, {0xDC, 0x05, 0x06}, C::dcn_TITscale1, 0, 0x06, 1500, 1.5, "   1.500"},
        {"float 3.25", 13, 0, {0x00, 0x00, 0x50, 0x40, 0x00}, C::dcn_TITfloat, 0, 0x00, -99, 3.25, "   3.250"},
        {"float -0.125 not topical", 36, 0, {0x00, 0x00, 0x00, 0xBE, 0x40}, C::dcn_TITfloat, 0, 0x40, -99, -0.125,
         "  -0.125"},
        // A total's sequence number, CY and CA are no quality: only IV is.
        {"total -5 seq 3", 15, 0, {0xFB, 0xFF, 0xFF, 0xFF, 0x03}, C::dcn_TII, -5, 0x00, -99, -5, "-5"},
        {"total seq 31 adjusted carry", 15, 0, {0x07, 0x00, 0x00, 0x00, 0x7F}, C::dcn_TII, 7, 0x00, -99, 7, "7"},
        {"total -2147483647 carry invalid", 15, 0, {0x01, 0x00, 0x00, 0x80, 0xA4}, C::dcn_TII, -2147483647, 0x80,
         -99, -2147483647.0, "-2147483647"},
        {"total 123456", 37, 0, {0x40, 0xE2, 0x01, 0x00, 0x01}, C::dcn_TII, 123456, 0x00, -99, 123456, "123456"},
        {"eight points", 136, 0, {0xA5}, C::dcn_TS8a, 1, 0x00, 1, 0, "вкл "},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TTagSignal tag;
        tag.Init("t", 1, 100, "10.0.0.1", 2404, nullptr, 0, c.double_ts_val, 1, 0);
        ASSERT_EQ(Store(tag, c.code, c.element, 45000.25), "");
        ASSERT_NE(tag.Value.pdc, nullptr);
        EXPECT_EQ(tag.Value.pdc->tcName, c.pdc);
        EXPECT_EQ(tag.Value.qtype, Type(c.code)->qtype);
        const TExport e = Export(tag);
        EXPECT_EQ(e.iValue, c.iValue);
        EXPECT_EQ(e.quality, c.quality);
        EXPECT_EQ(e.iDouble, c.iDouble);
        EXPECT_NEAR(e.fValue, c.fValue, 1e-9);
        EXPECT_EQ(e.dt, 45000.25);
        EXPECT_EQ(tag.Value.ToStringValue(), c.text);
        EXPECT_TRUE(tag.prNew());
    }
}

TEST(TagValue, PointAndMeasurementReadings)
{
    TTagSignal point, scaled, total;
    int i = 0;
    double f = 0;
    EXPECT_FALSE(point.Value.GetTsValue(i));
    EXPECT_EQ(i, -1);
    EXPECT_EQ(point.Value.ToStringValue(), "????");
    point.ChangeTS1(Type(3), Bytes{0x02}, 0, 0);
    EXPECT_TRUE(point.Value.GetTsValue(i));
    EXPECT_EQ(i, 2);
    EXPECT_FALSE(point.Value.GetTitValue(f));
    scaled.ChangeVal(Type(11), Bytes{0xFF, 0xFF, 0x02}, 0, 0);
    EXPECT_TRUE(scaled.Value.GetTitValue(f));
    EXPECT_NEAR(f, -0.1, 1e-12);
    total.ChangeVal(Type(15), Bytes{0x05, 0, 0, 0, 0}, 0, 0);
    EXPECT_FALSE(total.Value.GetTitValue(f));
    EXPECT_EQ(f, 0);
}

TEST(TagValue, BeforeAnyStoreTheExportIsInvalidAndZero)
{
    TTagSignal tag;
    const TExport e = Export(tag);
    EXPECT_EQ(e.iValue, 0);
    EXPECT_EQ(e.fValue, 0);
    EXPECT_EQ(e.quality, 128);
    EXPECT_EQ(e.iDouble, -99); // left as the caller had them
    EXPECT_EQ(e.dt, -99);
    EXPECT_FALSE(tag.prNew());
    EXPECT_FALSE(tag.prReceive());
}

TEST(TagChanged, FirstStoreMarksThenOnlyRealChanges)
{
    TTagSignalList list;
    list.AddTag(Bound("t", 1, 100, "h", 2404));
    const Bytes zero = {0, 0, 0, 0, 0};
    PTagSignal t = list.GetTag(0);
    TValue1 v;
    // The first store marks the tag even when it equals what the tag started with.
    EXPECT_EQ(t->ChangeVal(Type(136), Bytes{0x00}, 0, 0), "");
    EXPECT_TRUE(list.TakeNew(0, v));
    EXPECT_FALSE(list.TakeNew(0, v));
    EXPECT_EQ(t->ChangeVal(Type(36), zero, 0, 45000.0), ""); // the same zero bytes, the same good quality
    EXPECT_FALSE(list.TakeNew(0, v));
    EXPECT_EQ(t->ChangeVal(Type(36), zero, 0, 45001.0), ""); // only the time differs
    EXPECT_FALSE(t->prNew());
    EXPECT_EQ(t->Value.dt, 45001.0);
    EXPECT_EQ(t->ChangeVal(Type(13), zero, 0, 0), ""); // no time tag keeps the stamp
    EXPECT_FALSE(t->prNew());
    EXPECT_EQ(t->Value.dt, 45001.0);
    EXPECT_EQ(t->ChangeVal(Type(13), Bytes{0, 0, 0, 0, 0x10}, 0, 0), ""); // quality changed
    EXPECT_TRUE(list.TakeNew(0, v));
    EXPECT_EQ(v.Qualit, 0x10);
    EXPECT_EQ(t->ChangeVal(Type(13), Bytes{0, 0, 0x80, 0x3F, 0x10}, 0, 0), ""); // value changed
    EXPECT_TRUE(list.TakeNew(0, v));
    EXPECT_EQ(Export(*t).fValue, 1.0);
}

TEST(TagChanged, WhatDoesNotCountAsAChange)
{
    TTagSignalList list;
    TTagSignal tpl;
    tpl.Init("bits", 1, 400, "h", 2404, nullptr, 0, 0, 1, 0);
    list.AddTag(tpl);
    PTagSignal t = list.GetTag(0);
    TValue1 v;
    // All 32 bits of a bitstring count; the same 32 bits again are no change.
    t->ChangeVal(Type(7), Bytes{0x01, 0x02, 0x03, 0x04, 0x00}, 0, 0);
    list.TakeNew(0, v);
    t->ChangeVal(Type(7), Bytes{0x01, 0xFF, 0xFF, 0xFF, 0x00}, 0, 0);
    EXPECT_TRUE(list.TakeNew(0, v));
    t->ChangeVal(Type(7), Bytes{0x01, 0xFF, 0xFF, 0xFF, 0x00}, 0, 0);
    EXPECT_FALSE(list.TakeNew(0, v));
    // A total read again in a new period (sequence number) is news; the same status is not.
    t->ChangeVal(Type(15), Bytes{0x05, 0, 0, 0, 0x01}, 0, 0);
    list.TakeNew(0, v);
    t->ChangeVal(Type(15), Bytes{0x05, 0, 0, 0, 0x02}, 0, 0);
    EXPECT_TRUE(list.TakeNew(0, v));
    EXPECT_EQ(v.CounterStatus, 0x02);
    t->ChangeVal(Type(15), Bytes{0x05, 0, 0, 0, 0x02}, 0, 0);
    EXPECT_FALSE(list.TakeNew(0, v));
    // Without a quality byte (M_ME_ND) quality is stored as 0 every time.
    t->ChangeVal(Type(21), Bytes{0x01, 0x00}, 0, 0);
    list.TakeNew(0, v);
    EXPECT_EQ(v.Qualit, 0);
    EXPECT_TRUE(v.prQualit);
    // M_BO_TC carries no quality: its value is good, as M_ME_ND's.
    t->SetInvalid();
    t->ChangeVal(Type(136), Bytes{0x01}, 0, 0);
    EXPECT_EQ(t->Value.Qualit, 0);
}

TEST(TagInvalid, SetsIvAndMarksOnlyOnce)
{
    TTagSignalList list;
    list.AddTag(TTagSignal{});
    PTagSignal t = list.GetTag(0);
    TValue1 v;
    t->SetInvalid(); // a new tag is invalid already
    EXPECT_FALSE(t->prNew());
    t->ChangeTS1(Type(1), Bytes{0x01}, 0, 0);
    list.TakeNew(0, v);
    t->SetInvalid();
    EXPECT_TRUE(list.TakeNew(0, v));
    EXPECT_EQ(v.Qualit, 0x80);
    EXPECT_EQ(v.bv[0], 1); // value kept
    t->SetInvalid();
    EXPECT_FALSE(t->prNew());
}

TEST(TagStore, ShortBuffersAndWrongTypesStoreNothing)
{
    struct Case {
        int code;
        Bytes element;
    };
    const Case shortOnes[] = {
        {1, {}},      {31, {}},           {5, {0x01}},        {7, {1, 2, 3, 4}},  {9, {1, 2}},
        {11, {1, 2}}, {13, {1, 2, 3, 4}}, {15, {1, 2, 3, 4}}, {20, {1, 2, 3, 4}}, {21, {1}},
        {136, {}},
    };
    for (const Case& c : shortOnes) {
        SCOPED_TRACE(c.code);
        TTagSignal tag;
        EXPECT_NE(Store(tag, c.code, c.element), "");
        EXPECT_FALSE(tag.prReceive());
        EXPECT_EQ(tag.Value.pdc, nullptr);
        // The element also runs short when it starts late in a longer buffer.
        Bytes longer(8, 0);
        const std::size_t offset = longer.size() - c.element.size();
        const std::string text = IsPoint(c.code) ? tag.ChangeTS1(Type(c.code), longer, offset, 0)
                                                 : tag.ChangeVal(Type(c.code), longer, offset, 0);
        EXPECT_NE(text, "");
        EXPECT_FALSE(tag.prReceive());
    }
    TTagSignal tag;
    const Bytes five = {0, 0, 0, 0, 0};
    EXPECT_NE(tag.ChangeTS1(Type(1), five, 99, 0), "");
    EXPECT_EQ(tag.ChangeTS1(Type(13), five, 0, 0), "ChangeTS() не обрабатывает код=13");
    EXPECT_EQ(tag.ChangeVal(Type(1), five, 0, 0),
              "ChangeVal(). Нет распаковки байта качества для кода:(M_SP_NA) Одноэлементная информация ТС");
    EXPECT_NE(tag.ChangeVal(nullptr, five, 0, 0), "");
    EXPECT_NE(tag.ChangeTS1(nullptr, five, 0, 0), "");
    EXPECT_FALSE(tag.prReceive());
    EXPECT_EQ(tag.Value.Qualit, 0x80);
}

TEST(TagList, FindTagByAllFourAddressesLowestIndexWins)
{
    TTagSignalList list;
    list.AddTag(Bound("a", 1, 100, "192.168.1.10", 2404));
    list.AddTag(Bound("b", 1, 100, "192.168.1.10", 2405));
    list.AddTag(Bound("c", 2, 100, "192.168.1.10", 2404));
    list.AddTag(Bound("d", 1, 100, "192.168.1.10", 2404)); // duplicate of a
    list.AddTag(Bound("e", 1, 101, "192.168.1.11", 2404));
    ASSERT_EQ(list.Count(), 5);

    struct Case {
        int ca, ioa;
        const char* ip;
        int port;
        int expected;
    };
    const Case cases[] = {
        {1, 100, "192.168.1.10", 2404, 0},  {1, 100, "192.168.1.10", 2405, 1},  {2, 100, "192.168.1.10", 2404, 2},
        {1, 101, "192.168.1.11", 2404, 4},  {1, 101, "192.168.1.10", 2404, -1}, {1, 100, "192.168.001.010", 2404, -1},
        {1, 100, "192.168.1.10", 2406, -1}, {3, 100, "192.168.1.10", 2404, -1},
    };
    for (const Case& c : cases) {
        PTagSignal ptg = nullptr;
        EXPECT_EQ(list.FindTag(c.ca, c.ioa, c.ip, c.port, ptg), c.expected) << c.ca << ' ' << c.ioa << ' ' << c.ip;
        EXPECT_EQ(ptg, c.expected < 0 ? nullptr : list.GetTag(c.expected));
    }
    // The two-step form gives the same; an unknown connection finds nothing.
    const int conn = list.FindConn("192.168.1.10", 2404);
    PTagSignal ptg = nullptr;
    EXPECT_EQ(list.FindTag(conn, 1, 100, ptg), 0);
    EXPECT_EQ(list.FindConn("192.168.1.12", 2404), -1);
    EXPECT_EQ(list.FindTag(-1, 1, 100, ptg), -1);
    EXPECT_EQ(list.GetTag(5), nullptr);
    EXPECT_EQ(list.GetTag(-1), nullptr);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.FindTag(1, 100, "192.168.1.10", 2404, ptg), -1);
}

TEST(TagList, AddedTagIsAFreshCopy)
{
    TTagSignal tpl = Bound("a", 1, 100, "h", 1);
    tpl.ChangeTS1(Type(1), Bytes{0x01}, 0, 45000.0);
    ASSERT_TRUE(tpl.prNew());
    TTagSignalList list;
    list.AddTag(tpl);
    const PTagSignal t = list.GetTag(0);
    EXPECT_FALSE(t->prNew());
    EXPECT_FALSE(t->prReceive());
    EXPECT_EQ(t->Value.bv[0], 1);
    EXPECT_EQ(t->Name(), "a");
}

struct BitsFixture : ::testing::Test {
    TTagSignalList list;
    TTagCategoryList categories{1};

    void SetUp() override
    {
        for (int n = 0; n < 8; ++n)
            list.AddTag(Bound("p", 1, 100 + n, "h", 2404, categories.GetPtc(TagCategName::tcn_TS)));
    }
    std::string Spread(std::uint8_t bits)
    {
        PTagSignal src = list.GetTag(0);
        EXPECT_EQ(src->ChangeVal(Type(136), Bytes{bits}, 0, 45000.5), "");
        return list.RaspakNewTag(Type(136), src);
    }
};

TEST_F(BitsFixture, SpreadsEightBitsOverThePointTags)
{
    EXPECT_EQ(Spread(0xA5), "");
    const int expected[8] = {1, 0, 1, 0, 0, 1, 0, 1};
    for (int n = 0; n < 8; ++n) {
        const PTagSignal t = list.GetTag(n);
        EXPECT_EQ(t->Value.bv[0], expected[n]) << n;
        EXPECT_EQ(t->Value.pdc->tcName, TagCategName::dcn_TS8a);
        EXPECT_EQ(t->Value.dt, 45000.5);
        EXPECT_TRUE(t->prNew());
    }
    EXPECT_EQ(list.RaspakNewTag(Type(1), list.GetTag(0)), "RaspakNewTag1()это не многопозиционная команда! Код=1");
}

TEST_F(BitsFixture, StopsStoringAtTheFirstMissingOrWrongTag)
{
    list.Clear();
    for (int n : {0, 1, 2, 4, 6, 7})
        list.AddTag(Bound("p", 1, 100 + n, "h", 2404, categories.GetPtc(TagCategName::tcn_TS)));
    // 103 and 105 are missing: the last error wins, nothing after 103 is stored.
    EXPECT_EQ(Spread(0xFF), "RaspakNewTag1()Нет тега с адресом=105 Код=136");
    EXPECT_EQ(list.GetTag(2)->Value.bv[0], 1);
    EXPECT_FALSE(list.GetTag(3)->prReceive()); // 104

    list.Clear();
    for (int n = 0; n < 8; ++n)
        list.AddTag(Bound("p", 1, 100 + n, "h", 2404,
                          n == 2 ? categories.GetPtc(TagCategName::tcn_TIT) : categories.GetPtc(TagCategName::tcn_TS)));
    list.AddTag(Bound("no category", 1, 100, "h", 2405)); // a duplicate on another port is not involved
    EXPECT_EQ(Spread(0xFF), "RaspakNewTag1()Не подходящий тип тега с адресом=102 Код=136");
    EXPECT_FALSE(list.GetTag(2)->prReceive());
    EXPECT_FALSE(list.GetTag(3)->prReceive());

    list.Clear();
    list.AddTag(Bound("p", 1, 100, "h", 2404, categories.GetPtc(TagCategName::tcn_TS)));
    list.AddTag(Bound("no category", 1, 101, "h", 2404)); // null category is checked, not followed
    EXPECT_EQ(list.GetTag(0)->ChangeVal(Type(136), Bytes{0xFF}, 0, 0), "");
    EXPECT_EQ(list.RaspakNewTag(Type(136), list.GetTag(0)), "RaspakNewTag1()Нет тега с адресом=107 Код=136");
    EXPECT_FALSE(list.GetTag(1)->prReceive());
}

TEST(TagTrace, ChangedStoresPutALineWhenTheMaskAsks)
{
    TArmSignals arm;
    arm.AddRec(1001, SignalType::stTS, "Q1", 0);
    TSstList sst;
    sst.Add(TSst(1001, "ПС"));
    TMessBuff log(10, LogTagTrace);
    TTagSignalList list(&arm, &sst, &log);
    list.AddTag(Bound("Q1", 1, 100, "h", 2404));
    list.AddTag(Bound("U1", 0x1A2B, 0x030405, "h", 2404, nullptr, 7)); // no such record: substation 0
    PTagSignal q = list.GetTag(0);
    q->ChangeTS1(Type(1), Bytes{0x01}, 0, 0);
    EXPECT_EQ(log.Get(), "(ptg1) New TS,TIT:(0001:000064), ПС(1001) Q1, вкл ");
    q->ChangeTS1(Type(1), Bytes{0x01}, 0, 0); // no change: the flag is still set from before
    EXPECT_EQ(log.Get(), "(ptg1) New TS,TIT:(0001:000064), ПС(1001) Q1, вкл ");
    list.GetTag(1)->ChangeVal(Type(11), Bytes{0xFF, 0xFF, 0x02}, 0, 0);
    EXPECT_EQ(log.Get(), "(ptg1) New TS,TIT:(1A2B:030405), ПС(0) U1,   -0.100");
    EXPECT_EQ(log.Count(), 0);

    log.SetLogMask(0);
    TValue1 v;
    list.TakeNew(0, v);
    q->ChangeTS1(Type(1), Bytes{0x00}, 0, 0);
    EXPECT_TRUE(q->prNew());
    EXPECT_EQ(log.Count(), 0);
}

TEST(TagCategories, TwoFixedLists)
{
    const TTagCategoryList signal(1), data(2);
    EXPECT_EQ(signal.Count(), 4);
    EXPECT_EQ(data.Count(), 10);
    EXPECT_EQ(signal.GetPtc(TagCategName::tcn_TIT)->FDescr, "ТИТ");
    EXPECT_EQ(signal.GetPtc(TagCategName::tcn_TIT)->valuelen, 4);
    EXPECT_EQ(signal.GetPtc(TagCategName::dcn_TII), nullptr);
    EXPECT_EQ(data.GetPtc(TagCategName::tcn_TS), nullptr);
    EXPECT_EQ(data.GetPtc(TagCategName::dcn_TS32)->valuelen, 4);
    EXPECT_EQ(data.GetPtc(TagCategName::dcn_TITfloat)->FDescr, "ТИТ с плав.точкой");
    EXPECT_EQ(DataCategory(TagCategName::dcn_Diskr7), data.GetPtc(TagCategName::dcn_Diskr7));
    EXPECT_EQ(DataCategory(TagCategName::tcn_TS), nullptr);
}

// A receive thread stores while the publisher takes changes: every change is
// seen as a whole value, and the last one is never lost.
TEST(TagConcurrency, StoresAndTakesMeetUnderTheListLock)
{
    TTagSignalList list;
    for (int i = 0; i < 16; ++i)
        list.AddTag(Bound("t", 1, i, "h", 2404));
    constexpr int Rounds = 2000;
    std::atomic<bool> finished = false;
    std::thread receiver([&] {
        for (int r = 1; r <= Rounds; ++r) {
            const std::uint8_t lo = static_cast<std::uint8_t>(r), hi = static_cast<std::uint8_t>(r >> 8);
            const Bytes element = {lo, hi, lo, hi, 0x00}; // the two halves always agree
            const auto lock = list.Lock();
            const int conn = list.FindConn("h", 2404);
            for (int i = 0; i < 16; ++i) {
                PTagSignal t = nullptr;
                ASSERT_EQ(list.FindTag(conn, 1, i, t), i);
                ASSERT_EQ(t->ChangeVal(Type(13), element, 0, 0), "");
            }
        }
        finished = true;
    });
    int last[16] = {};
    auto takeAll = [&] {
        for (int i = 0; i < 16; ++i) {
            TValue1 v;
            if (list.TakeNew(i, v)) {
                EXPECT_EQ(v.bv[0], v.bv[2]);
                EXPECT_EQ(v.bv[1], v.bv[3]);
                last[i] = v.bv[0] | v.bv[1] << 8;
            }
        }
    };
    while (!finished)
        takeAll();
    receiver.join();
    takeAll();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(last[i], Rounds) << i;
}

} // namespace
} // namespace gw

namespace gw {
namespace {

TEST(TagChanged, TakeChangedRangeTakesOnlyTheChangedTagsOfItsRange)
{
    TTagSignalList list;
    for (int i = 0; i < 5; ++i)
        list.AddTag(Bound("t", 1, 100 + i, "h", 2404));
    const Bytes value = {0, 0, 0x80, 0x3F, 0};
    for (int i : {0, 2, 3, 4})
        ASSERT_EQ(list.GetTag(i)->ChangeVal(Type(13), value, 0, 0), "");

    std::vector<std::pair<int, TValue1>> out;
    list.TakeChangedRange(-3, 4, out); // clamped to the list; tag 4 lies outside
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].first, 0);
    EXPECT_EQ(out[1].first, 2);
    EXPECT_EQ(out[2].first, 3);
    EXPECT_EQ(out[2].second.Qualit, 0);

    out.clear();
    list.TakeChangedRange(0, 99, out); // the marks were cleared; only tag 4 is left
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].first, 4);
}

} // namespace
} // namespace gw

namespace gw {
namespace {

// The changed set: every tag of the range changed since it was last taken,
// once, in list order, whichever way it changed and whoever took it in
// between; the others stay for a later take.
TEST(TagChanged, TakeChangedRangeTakesEachTagMarkedSinceItWasLastTakenOnce)
{
    TTagSignalList list;
    for (int i = 0; i < 6; ++i)
        list.AddTag(Bound("t", 1, 100 + i, "h", 2404));
    const Bytes one = {0, 0, 0x80, 0x3F, 0};
    const Bytes two = {0, 0, 0x00, 0x40, 0};
    auto indexes = [&](int first = 0, int end = 6) {
        std::vector<std::pair<int, TValue1>> out;
        list.TakeChangedRange(first, end, out);
        std::vector<int> ids;
        for (const auto& [ind, value] : out)
            ids.push_back(ind);
        return ids;
    };
    for (int i : {4, 1, 3})
        ASSERT_EQ(list.GetTag(i)->ChangeVal(Type(13), one, 0, 0), "");
    ASSERT_EQ(list.GetTag(1)->ChangeVal(Type(13), two, 0, 0), ""); // changed twice, taken once
    TValue1 v;
    ASSERT_TRUE(list.TakeNew(3, v)); // taken already
    EXPECT_EQ(indexes(2, 5), (std::vector<int>{4}));
    EXPECT_EQ(indexes(), (std::vector<int>{1}));
    EXPECT_TRUE(indexes().empty());

    // Taken by TakeNew and changed again: still on the set, and once.
    ASSERT_EQ(list.GetTag(2)->ChangeVal(Type(13), one, 0, 0), "");
    ASSERT_TRUE(list.TakeNew(2, v));
    ASSERT_EQ(list.GetTag(2)->ChangeVal(Type(13), two, 0, 0), "");
    ASSERT_EQ(list.GetTag(1)->ChangeVal(Type(13), two, 0, 0), ""); // the same value: no change
    list.GetTag(4)->SetInvalid();
    EXPECT_EQ(indexes(), (std::vector<int>{2, 4}));
}

} // namespace
} // namespace gw
