#include "core/apdu.h"

#include "core/asdu.h"
#include "core/typeident.h"
#include "support/asdu_vectors.h"

#include <gtest/gtest.h>

#include <random>

namespace gw::test {
namespace {

std::vector<std::uint8_t> Hex(const std::string& text) { return HexBytes(text); }

std::vector<std::uint8_t> Bytes(const T104APDU& f) { return {f.Data.begin(), f.Data.begin() + f.lenData}; }

TEST(Apdu, SequenceArithmetic)
{
    EXPECT_EQ(IncSeq(32767), 0);
    EXPECT_EQ(IncSeq(5), 6);
    struct Case {
        int a, b, diff;
    } cases[] = {
        {0, 32767, 1}, {5, 10, -5}, {10, 5, 5}, {0, 200, 32568}, {0, 100, -100}, {0, 101, 32667},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DiffSeq(c.a, c.b), c.diff) << c.a << " - " << c.b;
    EXPECT_EQ(SeqDistance(2, 32766), 4);
    EXPECT_EQ(SeqDistance(7, 7), 0);
}

TEST(Apdu, ControlFieldsOfTheThreeFormats)
{
    T104APDU f;
    struct U {
        U_Func fn;
        UActCon ac;
        const char* hex;
    } us[] = {
        {U_Func::U_STARTDT, UActCon::UACT, "68 04 07 00 00 00"},
        {U_Func::U_STARTDT, UActCon::UCON, "68 04 0B 00 00 00"},
        {U_Func::U_STOPDT, UActCon::UACT, "68 04 13 00 00 00"},
        {U_Func::U_STOPDT, UActCon::UCON, "68 04 23 00 00 00"},
        {U_Func::U_TESTFR, UActCon::UACT, "68 04 43 00 00 00"},
        {U_Func::U_TESTFR, UActCon::UCON, "68 04 83 00 00 00"},
    };
    for (const auto& u : us) {
        FormUFrame(f, u.fn, u.ac);
        EXPECT_EQ(Bytes(f), Hex(u.hex));
        EXPECT_EQ(f.Format(), TApduFormat::U);
    }
    EXPECT_EQ((FormUFrame(f, U_Func::U_TESTFR, UActCon::UCON), f.UFunction()), UFn_TESTFR_Con);

    FormSFrame(f, 16385);
    EXPECT_EQ(Bytes(f), Hex("68 04 01 00 02 80"));
    int ns = -1, nr = -1;
    f.GetFromAPCI(1, ns, nr);
    EXPECT_EQ(ns, 0);
    EXPECT_EQ(nr, 16385);
    EXPECT_EQ(f.Format(), TApduFormat::S);

    f.Assign(Hex("68 04 02 00 04 00"));
    f.GetFromAPCI(0, ns, nr);
    EXPECT_EQ(ns, 1);
    EXPECT_EQ(nr, 2);
    FillIControl(f, 32767, 300);
    EXPECT_EQ(Bytes(f), Hex("68 04 FE FF 58 02"));
    EXPECT_EQ(f.Format(), TApduFormat::I);
    ns = nr = 9;
    f.GetFromAPCI(2, ns, nr);
    EXPECT_EQ(ns + nr, 18);
    EXPECT_EQ(f.toString("P:"), "P:68 04 FE FF 58 02 ");
}

// Frames built from ASDUs follow the channel's field widths.
TEST(Apdu, IFrameFromAnAsduFollowsTheFieldWidths)
{
    const TTypeIdentList types;
    T104APDU f;
    auto build = [&](int code, int cot, int ca, int ioa, std::vector<std::uint8_t> data, TAsduLayout layout) {
        return f.FromAsdu(TIEC_ASDUt(code, 1, cot, ca, ioa, data, layout, types));
    };
    // The general interrogation of a reference encoding, 104 widths.
    ASSERT_TRUE(build(100, 6, 1, 0, {0x14}, TAsduLayout::Make(2, 2, 3)));
    EXPECT_EQ(Bytes(f), Hex("68 0E 00 00 00 00 64 01 06 00 01 00 00 00 00 14"));

    // One-byte cause: no originator byte; one-byte common address, two-byte object address.
    ASSERT_TRUE(build(45, 6, 7, 0x1388, {0x80}, TAsduLayout::Make(1, 1, 2, 9)));
    EXPECT_EQ(Bytes(f), Hex("68 0B 00 00 00 00 2D 01 06 07 88 13 80"));

    // No address fields: the element follows the originator byte at once.
    ASSERT_TRUE(build(45, 6, 7, 5, {0x80}, TAsduLayout::Make(2, 0, 0, 3)));
    EXPECT_EQ(Bytes(f), Hex("68 09 00 00 00 00 2D 01 06 03 80"));

    std::vector<std::uint8_t> big(240, 0); // 6 + 9 header bytes + 240 = 255
    EXPECT_TRUE(build(13, 3, 1, 1, big, TAsduLayout::Make(2, 2, 3)));
    EXPECT_EQ(f.lenData, MaxFrameLen);
    big.push_back(0);
    EXPECT_FALSE(build(13, 3, 1, 1, big, TAsduLayout::Make(2, 2, 3)));
    EXPECT_EQ(f.lenData, 0);
}

// A stream of every frame size and kind, cut at every offset into two
// chunks, and into chunks of random sizes: the same frames in the same order.
TEST(ReceiveArea, CutsTheSameFramesWhereverTheStreamIsSplit)
{
    std::vector<std::vector<std::uint8_t>> frames = {Hex("68 04 07 00 00 00"), Hex("68 04 01 00 02 00"),
                                                     Hex("68 0E 02 00 04 00 64 01 07 00 01 00 00 00 00 14")};
    std::vector<std::uint8_t> longest(MaxFrameLen, 0x5A);
    longest[0] = 0x68;
    longest[1] = MaxApduLen;
    frames.push_back(longest);
    frames.push_back(Hex("68 04 43 00 00 00"));
    std::vector<std::uint8_t> stream;
    for (const auto& f : frames)
        stream.insert(stream.end(), f.begin(), f.end());

    auto cutAll = [&](const std::vector<std::size_t>& cuts) {
        TReceiveArea area;
        T104APDU f;
        std::vector<std::vector<std::uint8_t>> got;
        std::size_t from = 0;
        for (std::size_t to : cuts) {
            area.Add({stream.data() + from, to - from});
            from = to;
            TReceiveArea::TCut r;
            while ((r = area.Cut(f)) == TReceiveArea::TCut::Frame)
                got.push_back(Bytes(f));
            EXPECT_EQ(r, TReceiveArea::TCut::NeedMore);
        }
        EXPECT_EQ(area.Pending(), 0u);
        return got;
    };
    for (std::size_t at = 0; at <= stream.size(); ++at)
        ASSERT_EQ(cutAll({at, stream.size()}), frames) << "split at " << at;

    std::mt19937 rng(104);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0; at < stream.size();) {
            at = std::min(stream.size(), at + 1 + rng() % 20);
            cuts.push_back(at);
        }
        ASSERT_EQ(cutAll(cuts), frames) << "round " << round;
    }
}

TEST(ReceiveArea, HostileFramingIsReportedWithoutReadingPastTheBytes)
{
    struct Case {
        const char* name;
        const char* hex;
        TReceiveArea::TCut first;
        std::size_t frames;
    } cases[] = {
        {"bad start byte", "00 04 07 00 00 00 68 04 07 00 00 00", TReceiveArea::TCut::BadStart, 0},
        {"bad start after a frame", "68 04 07 00 00 00 55 FF", TReceiveArea::TCut::BadStart, 1},
        {"length below 4", "68 02 01 00 68 04 07 00 00 00", TReceiveArea::TCut::BadLength, 0},
        {"length 254", "68 FE 00 00", TReceiveArea::TCut::BadLength, 0},
        {"length 255", "68 FF", TReceiveArea::TCut::BadLength, 0},
        {"lone start byte", "68", TReceiveArea::TCut::NeedMore, 0},
        {"truncated frame", "68 0E 00 00 00 00 64 01", TReceiveArea::TCut::NeedMore, 0},
    };
    for (const auto& c : cases) {
        TReceiveArea area;
        const auto bytes = Hex(c.hex);
        area.Add(bytes);
        T104APDU f;
        std::size_t frames = 0;
        TReceiveArea::TCut r;
        while ((r = area.Cut(f)) == TReceiveArea::TCut::Frame)
            ++frames;
        EXPECT_EQ(r, c.first) << c.name;
        EXPECT_EQ(frames, c.frames) << c.name;
        EXPECT_GT(area.Pending(), 0u) << c.name;
        area.Clear();
        EXPECT_EQ(area.Cut(f), TReceiveArea::TCut::NeedMore);
    }
}

TEST(BufferApdu, WindowKeepsRefusedFramesAndFreesOnlyWhatIsAcknowledged)
{
    TBufferAPDU none(0);
    EXPECT_TRUE(none.Full());
    EXPECT_FALSE(none.Put1(T104APDU{}));
    none.Reset(true);
    none.FreeSent(3);

    TBufferAPDU w(5);
    for (int i = 0; i < 5; ++i) {
        T104APDU f;
        f.lenData = 7;
        f.Data[6] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(w.Put1(f));
    }
    EXPECT_TRUE(w.Full());
    EXPECT_FALSE(w.Put1(T104APDU{}));
    EXPECT_EQ(w.NextFree(), nullptr);

    // A frame that was looked at but not accepted is still the next one.
    ASSERT_NE(w.NextToSend(), nullptr);
    EXPECT_EQ(w.NextToSend()->Data[6], 0);
    EXPECT_EQ(w.Send(), 0);
    w.MarkSent(100);
    w.MarkSent(150);
    w.MarkSent(200);
    EXPECT_EQ(w.NextToSend()->Data[6], 3);
    EXPECT_EQ(w.OldestSentMs(), 100);

    w.FreeSent(2); // acknowledges the first two only
    EXPECT_EQ(w.Count(), 3);
    EXPECT_EQ(w.Send(), 1);
    EXPECT_EQ(w.OldestSentMs(), 200);
    EXPECT_EQ(w.NextToSend()->Data[6], 3);

    // The ring wraps: two new frames fit behind the three held.
    T104APDU f;
    f.lenData = 7;
    f.Data[6] = 5;
    ASSERT_TRUE(w.Put1(f));
    f.Data[6] = 6;
    ASSERT_TRUE(w.Put1(f));
    EXPECT_TRUE(w.Full());

    w.Reset(false);
    EXPECT_EQ(w.Count(), 4);
    EXPECT_EQ(w.Send(), 0);
    std::vector<int> order;
    while (const T104APDU* p = w.GetToSend())
        order.push_back(p->Data[6]);
    EXPECT_EQ(order, (std::vector<int>{3, 4, 5, 6}));
    EXPECT_TRUE(w.AllSended());

    w.FreeSent(99);
    EXPECT_TRUE(w.Empty());
    w.Put1(f);
    w.Reset(true);
    EXPECT_TRUE(w.Empty());
}

// A waiting frame taken out of the window: the waiting ones behind it close
// the gap in their order, the sent ones and the free room are as before,
// also where the ring wraps; a sent frame or a position past the last frame
// is refused and changes nothing.
TEST(BufferApdu, RemoveUnsentClosesTheGapOfWaitingFramesOnly)
{
    auto frame = [](int n) {
        T104APDU f;
        f.lenData = 7;
        f.Data[6] = static_cast<std::uint8_t>(n);
        return f;
    };
    auto contents = [](const TBufferAPDU& w) {
        std::vector<int> all;
        for (int i = 0; i < w.Count(); ++i)
            all.push_back(w.FrameAt(i).Data[6]);
        return all;
    };
    struct Case {
        const char* name;
        int acked;  // frames sent and acknowledged first: the ring's start moves on
        int sent;   // of those then held, how many are sent
        int remove; // position taken out
        bool removed;
        std::vector<int> after; // the frames held afterwards, the oldest first
    } cases[] = {
        {"FirstWaiting", 0, 2, 2, true, {10, 11, 13, 14}},
        {"MiddleWaiting", 0, 1, 2, true, {10, 11, 13, 14}},
        {"LastWaiting", 0, 1, 4, true, {10, 11, 12, 13}},
        {"AcrossTheWrap", 3, 1, 1, true, {10, 12, 13, 14}},
        {"LastAcrossTheWrap", 4, 2, 4, true, {10, 11, 12, 13}},
        {"SentIsRefused", 3, 2, 1, false, {10, 11, 12, 13, 14}},
        {"PastTheEndIsRefused", 0, 0, 5, false, {10, 11, 12, 13, 14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBufferAPDU w(6);
        for (int i = 0; i < c.acked; ++i) {
            ASSERT_TRUE(w.Put1(frame(0)));
            w.MarkSent(1);
        }
        ASSERT_TRUE(w.Put1(frame(10)));
        w.FreeSent(c.acked); // a frame still held: the ring does not start over
        for (int n = 11; n < 15; ++n)
            ASSERT_TRUE(w.Put1(frame(n)));
        for (int i = 0; i < c.sent; ++i)
            w.MarkSent(100 + i);
        EXPECT_EQ(w.RemoveUnsent(c.remove), c.removed);
        EXPECT_EQ(contents(w), c.after);
        EXPECT_EQ(w.Count(), static_cast<int>(c.after.size()));
        EXPECT_EQ(w.Send(), c.sent);
        EXPECT_EQ(w.OldestSentMs(), c.sent > 0 ? 100 : 0);
        // The room freed takes a frame, which waits behind the others.
        ASSERT_TRUE(w.Put1(frame(20)));
        EXPECT_EQ(w.Full(), !c.removed);
        std::vector<int> order;
        while (const T104APDU* p = w.NextToSend()) {
            order.push_back(p->Data[6]);
            w.MarkSent(200);
        }
        std::vector<int> waiting(c.after.begin() + c.sent, c.after.end());
        waiting.push_back(20);
        EXPECT_EQ(order, waiting);
    }
    // The last frame sent, given back unwritten, waits again and can go.
    TBufferAPDU two(2);
    EXPECT_FALSE(two.UnmarkSent());
    ASSERT_TRUE(two.Put1(frame(1)));
    ASSERT_TRUE(two.Put1(frame(2)));
    two.MarkSent(10);
    two.MarkSent(20);
    ASSERT_TRUE(two.UnmarkSent());
    EXPECT_EQ(two.Send(), 1);
    ASSERT_TRUE(two.RemoveUnsent(1));
    EXPECT_EQ(contents(two), std::vector<int>{1});
    EXPECT_EQ(two.OldestSentMs(), 10);
    two.FreeSent(1);
    EXPECT_TRUE(two.Empty());
    EXPECT_TRUE(two.AllSended());
}

// Slots are made as the queue first fills them: a frame handed out stays
// where it is while the queue grows behind it, and a queue grown to its full
// size still wraps like a ring.
TEST(BufferApdu, FramesHandedOutStayPutWhileTheQueueGrows)
{
    TBufferAPDU q(250);
    auto frame = [](int n) {
        T104APDU f;
        f.lenData = 8;
        f.Data[6] = static_cast<std::uint8_t>(n);
        f.Data[7] = static_cast<std::uint8_t>(n >> 8);
        return f;
    };
    ASSERT_TRUE(q.Put1(frame(0)));
    const T104APDU* first = q.GetToSend();
    T104APDU* filled = q.NextFree();
    *filled = frame(1);
    q.Added();
    for (int n = 2; n < 250; ++n)
        ASSERT_TRUE(q.Put1(frame(n))) << n;
    EXPECT_TRUE(q.Full());
    EXPECT_EQ(first->Data[6], 0);
    EXPECT_EQ(q.GetToSend(), filled);
    EXPECT_EQ(filled->Data[6], 1);

    for (int n = 2; n < 200; ++n)
        q.GetToSend();
    q.FreeSent(200);
    for (int n = 250; n < 450; ++n)
        ASSERT_TRUE(q.Put1(frame(n))) << n;
    EXPECT_TRUE(q.Full());
    for (int n = 200; n < 450; ++n) {
        const T104APDU* f = q.GetToSend();
        ASSERT_NE(f, nullptr) << n;
        EXPECT_EQ(f->Data[6] | f->Data[7] << 8, n);
    }
    EXPECT_EQ(q.GetToSend(), nullptr);
}

// A receive queue emptied after every chunk fills the same slots again.
TEST(BufferApdu, AnEmptiedQueueStartsOverAtItsFirstSlot)
{
    TBufferAPDU q(250);
    std::vector<const T104APDU*> slots;
    for (int chunk = 0; chunk < 3; ++chunk) {
        for (int n = 0; n < 2; ++n)
            ASSERT_TRUE(q.Put1(T104APDU{}));
        std::vector<const T104APDU*> taken;
        while (const T104APDU* f = q.GetToSend())
            taken.push_back(f);
        q.Reset(false);
        EXPECT_TRUE(q.Empty());
        if (chunk == 0)
            slots = taken;
        EXPECT_EQ(taken, slots) << chunk;
    }
}

TEST(BufferApdu, ResetWithoutSentFramesKeepsTheWaitingOnes)
{
    TBufferAPDU w(3);
    T104APDU f;
    f.lenData = 6;
    w.Put1(f);
    w.NextFree()->lenData = 9; // filled in place
    w.Added();
    EXPECT_EQ(w.GetToSend()->lenData, 6);
    EXPECT_EQ(w.GetToSend()->lenData, 9);
    w.Reset(false);
    w.Put1(f);
    w.Put1(f);
    w.Reset(false);
    EXPECT_EQ(w.Count(), 2);
    EXPECT_EQ(w.Send(), 0);
}

} // namespace
} // namespace gw::test
