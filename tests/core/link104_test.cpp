// The link layer of one channel driven by a fake socket side and a fake clock.

#include "core/link104.h"

#include "core/asdu.h"
#include "core/cp56.h"
#include "core/typeident.h"
#include "core/messbuff.h"
#include "fake_port.h"
#include "link_frames.h"
#include "support/fake_clock.h"
#include "support/tshark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace gw::test {
namespace {

class TraceLines final : public TLinkTrace {
public:
    void TraceLine(int, const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// The link over the fake port, as the controlling-station link will be.
class TestLink final : public TSubj104 {
public:
    TestLink(const TPrmn& p, TLinkEnv e, FakePort& fake) : TSubj104(p, e), port_(fake) {}
    bool GetConnected() const override { return port_.IsConnected(); }
    bool SendToSocket(const T104APDU& papdu, bool, int) override
    {
        return Connected() && port_.OfferFrame(papdu.Bytes());
    }
    void StopConnect() override
    {
        DoOnDisconnect();
        port_.RequestDisconnect();
    }
    // Receive, then interpret every queued frame; the ASDUs to parse come back.
    std::vector<TFrameBytes> Feed(const TFrameBytes& chunk)
    {
        Receive({chunk, "10.0.0.7", 2404}, true, 0);
        std::vector<TFrameBytes> asdus;
        do {
            while (const T104APDU* f = r_APDUBuf.GetToSend())
                if (RaspakAPDU(*f, true, 0))
                    asdus.emplace_back(f->Asdu().begin(), f->Asdu().end());
            r_APDUBuf.Reset(false);
        } while (CutFrames(true, 0));
        return asdus;
    }
    void Pass() { ConnectService(true, 0); }

private:
    FakePort& port_;
};

class Link104 : public ::testing::Test {
protected:
    Link104() : log(1000, 0xFFFFFFFF)
    {
        SetPrmnDefault(prm, PrmnKind104, "10.0.0.7", 2404);
        Make();
    }
    void Make()
    {
        link = std::make_unique<TestLink>(prm, TLinkEnv{&clock, &log, &trace, true}, port);
        link->DoOnConnect();
    }
    // Connected with the data transfer started, nothing sent yet.
    void Started()
    {
        link->Feed(STARTDT_con);
        ASSERT_TRUE(link->StartDT());
        link->Clear(TBit104Subj::bsb_PROC_CLOCK_SYNC_103);
    }
    T104APDU Measurement(int ioa)
    {
        const std::uint8_t value[] = {0, 0, 0x50, 0x40, 0};
        T104APDU f;
        EXPECT_TRUE(f.FromAsdu(TIEC_ASDUt(13, 1, 3, 1, ioa, value, link->Layout(), types)));
        return f;
    }
    bool Logged(const std::string& part) { return test::Logged(log, part); }

    const TTypeIdentList types;
    FakeClock clock;
    TMessBuff log;
    TraceLines trace;
    FakePort port;
    TPrmn prm{};
    std::unique_ptr<TestLink> link;
};

TEST_F(Link104, AnswersTheStationsUFramesOnceTheMailboxTakesThem)
{
    port.autoDrain = false;
    port.mailbox = TFrameBytes{1};
    link->Feed(STARTDT_act);
    EXPECT_FALSE(link->StartDT()) << "started before the con was accepted";
    link->Pass();
    EXPECT_FALSE(link->StartDT());
    port.mailbox.reset();
    link->Pass();
    EXPECT_TRUE(link->StartDT());
    EXPECT_TRUE(link->Yes(TBit104Subj::bsb_PROC_CLOCK_SYNC_103));
    port.Drain();
    link->Feed(TESTFR_act);
    port.Drain();
    EXPECT_EQ(port.TakeSent(), (std::vector<TFrameBytes>{STARTDT_con, TESTFR_con}));

    // Malformed and combined U-frames are refused.
    link->Feed(Hex("68 04 43 00 00 01"));
    link->Feed(Hex("68 04 C3 00 00 00"));
    link->Pass();
    EXPECT_TRUE(port.TakeSent().empty());
    EXPECT_TRUE(Logged("Формат U ошибка в длине или байты 3,4,5<>0"));

    link->Feed(STARTDT_con);
    EXPECT_TRUE(link->StartDT());
}

TEST_F(Link104, AcknowledgesAtWFramesAndAtT2FromTheOldestUnacknowledged)
{
    Started();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(link->Feed(StationI(i, 0)).size(), 1u);
    link->Pass();
    EXPECT_TRUE(port.TakeSent().empty());
    link->Feed(StationI(7, 0));
    link->Pass();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{SFrame(8)});
    EXPECT_EQ(link->GetW(), 0);

    // A station sending every 4 s is acknowledged t2 after the first frame.
    link->Feed(StationI(8, 0));
    clock.Advance(4000);
    link->Feed(StationI(9, 0));
    clock.Advance(4000);
    link->Feed(StationI(10, 0));
    clock.Advance(2000);
    link->Pass();
    EXPECT_TRUE(port.TakeSent().empty()) << "exactly t2 is not yet past it";
    clock.Advance(1);
    port.autoDrain = false;
    port.mailbox = TFrameBytes{1};
    link->Pass(); // the S-frame is refused and sent at the next pass
    port.mailbox.reset();
    link->Pass();
    port.Drain();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{SFrame(11)});
}

TEST_F(Link104, SendWindowHoldsKFramesAndFreesOnlyWhatIsAcknowledged)
{
    Started();
    for (int i = 0; i < prm.kMax; ++i)
        ASSERT_TRUE(link->QueueIFrame(Measurement(i)));
    EXPECT_FALSE(link->QueueIFrame(Measurement(99))) << "k frames are the limit";
    link->Pass();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(prm.kMax));
    for (int i = 0; i < prm.kMax; ++i) {
        T104APDU f;
        f.Assign(sent[static_cast<std::size_t>(i)]);
        int ns = -1, nr = -1;
        f.GetFromAPCI(0, ns, nr);
        EXPECT_EQ(ns, i);
        EXPECT_EQ(f.Data[12], i) << "frames in order";
    }
    EXPECT_EQ(link->k, prm.kMax);

    link->Feed(SFrame(5));
    EXPECT_EQ(link->s_APDUBuf.Count(), prm.kMax - 5);
    EXPECT_EQ(link->k, prm.kMax - 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(link->QueueIFrame(Measurement(100 + i)));
    EXPECT_FALSE(link->QueueIFrame(Measurement(99)));

    // An I-frame of the station acknowledges too.
    link->Feed(StationI(0, 8));
    EXPECT_EQ(link->AckNr(), 8);
    link->Pass();
    EXPECT_EQ(port.TakeSent().size(), 5u);
}

// k beyond the 15-bit numbers cannot be told apart on acknowledgement; a
// window that large is held at 32767 frames rather than sized from the record.
TEST_F(Link104, AHugeKFromTheParametersIsHeldToTheSequenceRange)
{
    prm.kMax = std::numeric_limits<std::int32_t>::max();
    Make();
    EXPECT_EQ(link->s_APDUBuf.Size(), 32767);
    EXPECT_GE(link->r_APDUBuf.Size(), 250);
    Started();
    ASSERT_TRUE(link->QueueIFrame(Measurement(1)));
    link->Pass();
    EXPECT_EQ(port.TakeSent().size(), 1u);
    EXPECT_EQ(link->Feed(StationI(0, 1)).size(), 1u);
    EXPECT_TRUE(link->s_APDUBuf.Empty());
}

// Only the controlling station stops the data transfer. A station that does
// gets no con: the connection is dropped at the next pass, with a line in the
// log and the trace, and nothing of it (the frames waiting included) is sent
// any more; the channel connects again.
TEST_F(Link104, StopdtFromTheStationDropsTheConnection)
{
    Started();
    port.autoDrain = false;
    link->QueueIFrame(Measurement(1));
    link->QueueIFrame(Measurement(2));
    link->Pass();
    ASSERT_EQ(link->Vs(), 1);
    link->Feed(STOPDT_act);
    EXPECT_FALSE(link->StartDT());
    port.Drain();
    link->Pass();
    port.Drain();
    link->Pass();
    const auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u) << "the frame sent before the STOPDT, no con, nothing after";
    EXPECT_EQ(sent[0][12], 1);
    EXPECT_EQ(port.disconnectRequests, 1);
    EXPECT_TRUE(link->s_APDUBuf.Empty());
    const std::string text = "(iec5) STOPDT act от КП: разрыв соединения, новое соединение";
    EXPECT_TRUE(Logged(text));
    EXPECT_NE(std::find(trace.lines.begin(), trace.lines.end(), text), trace.lines.end());
}

TEST_F(Link104, RefusedFramesStayQueuedAndNoneGoesOutTwice)
{
    Started();
    port.autoDrain = false;
    for (int i = 0; i < 3; ++i)
        link->QueueIFrame(Measurement(i));
    link->Pass();
    EXPECT_EQ(link->Vs(), 1) << "the second frame found the mailbox full";
    // The station acknowledges the one it got; the refused ones are not freed.
    link->Feed(SFrame(1));
    EXPECT_EQ(link->s_APDUBuf.Count(), 2);
    std::vector<int> seen;
    for (int pass = 0; pass < 5; ++pass) {
        port.Drain();
        link->Pass();
    }
    port.Drain();
    for (const auto& f : port.TakeSent()) {
        T104APDU a;
        a.Assign(f);
        int ns = 0, nr = 0;
        a.GetFromAPCI(0, ns, nr);
        seen.push_back(ns * 1000 + a.Data[12]);
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1001, 2002}));
    link->Feed(SFrame(3));
    EXPECT_TRUE(link->s_APDUBuf.Empty());
}

TEST_F(Link104, T1OnAnUnacknowledgedFrameDropsTheConnectionInsteadOfResending)
{
    Started();
    link->QueueIFrame(Measurement(1));
    link->Pass();
    ASSERT_EQ(port.TakeSent().size(), 1u);
    clock.Advance(prm.t1);
    link->Pass();
    EXPECT_EQ(port.disconnectRequests, 0);
    clock.Advance(1);
    link->Pass();
    EXPECT_EQ(port.disconnectRequests, 1);
    EXPECT_TRUE(Logged("t1"));
    for (int i = 0; i < 3; ++i)
        link->Pass();
    EXPECT_TRUE(port.TakeSent().empty()) << "nothing is sent again";
    EXPECT_EQ(port.disconnectRequests, 1);
    EXPECT_TRUE(link->Yes(TBit104Subj::bsb_ClearValid));

    // The empty window never times out.
    link->DoOnConnect();
    Started();
    clock.Advance(prm.t1 * 3);
    link->Feed(TESTFR_con);
    link->Pass();
    EXPECT_EQ(port.disconnectRequests, 1);
}

TEST_F(Link104, T3SendsATestFrameWhoseConMustComeWithinT1)
{
    Started();
    clock.Advance(prm.t3 + 1);
    link->Pass();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{TESTFR_act});
    link->Feed(TESTFR_con);
    clock.Advance(prm.t1 + 1);
    link->Pass();
    EXPECT_EQ(port.disconnectRequests, 0);

    clock.Advance(prm.t3 + 1);
    link->Pass();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{TESTFR_act});
    clock.Advance(prm.t1 + 1);
    link->Pass();
    EXPECT_EQ(port.disconnectRequests, 1);
}

TEST_F(Link104, AnIFrameStartsTheTransferWhileStartdtConIsAwaited)
{
    link->Set(TBit104Subj::bsb_STARTDT_Want);
    link->Pass();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
    link->Feed(StationI(0, 0));
    EXPECT_TRUE(link->StartDT());
    clock.Advance(prm.t1 + 1);
    link->Pass();
    EXPECT_EQ(port.disconnectRequests, 0);
}

TEST_F(Link104, SequenceErrorsDropTheConnectionAtTheNextPass)
{
    // Nothing of a frame out of step is parsed, whichever number is wrong.
    struct Case {
        const char* name;
        TFrameBytes frame;
    } cases[] = {
        {"N(S) ahead of V(R)", StationI(2, 0)},
        {"N(R) acknowledges frames never sent", StationI(0, 3)},
        {"S-frame N(R) beyond V(S)", SFrame(1)},
    };
    for (const auto& c : cases) {
        port.disconnectRequests = 0;
        link->DoOnConnect();
        Started();
        EXPECT_TRUE(link->Feed(c.frame).empty()) << c.name;
        EXPECT_EQ(port.disconnectRequests, 0) << c.name;
        link->Pass();
        EXPECT_EQ(port.disconnectRequests, 1) << c.name;
    }
    // A frame behind V(R), a station repeating an old one, is a sequence
    // error too: its ASDU, an older value, must not overwrite the newer one.
    port.disconnectRequests = 0;
    link->DoOnConnect();
    Started();
    EXPECT_EQ(link->Feed(StationI(0, 0)).size(), 1u);
    EXPECT_EQ(link->Feed(StationI(1, 0)).size(), 1u);
    EXPECT_TRUE(link->Feed(StationI(0, 0)).empty()) << "the repeated frame is parsed";
    EXPECT_TRUE(Logged("vr=4 больше vsSecond=0 Разрыв соедин!"));
    link->Pass();
    EXPECT_EQ(link->vr(), 2);
    EXPECT_EQ(port.disconnectRequests, 1);
}

TEST_F(Link104, HostileFramesAreRejectedWithALogLine)
{
    struct Case {
        const char* name;
        TFrameBytes chunk;
        const char* logged;
        bool drops;
    } cases[] = {
        {"bad start byte", Hex("00 04 07 00 00 00"), "1-й байт APDU не равен 68H. Байт=00", true},
        {"length below 4", Hex("68 02 01 00"), "вне 4..253", true},
        {"length above 253", Hex("68 FE 00 00 00 00"), "вне 4..253", true},
        {"ASDU shorter than its header", StationI(0, 0, "0D 01 03 00 01 00 BC"), "ASDU короче заголовка", false},
        {"unknown U function", Hex("68 04 03 00 00 00"), "Одновременно несколько функций? actcon=00", false},
    };
    for (const auto& c : cases) {
        port.disconnectRequests = 0;
        link->DoOnConnect();
        Started();
        EXPECT_TRUE(link->Feed(c.chunk).empty()) << c.name;
        EXPECT_TRUE(Logged(c.logged)) << c.name;
        link->Pass();
        EXPECT_EQ(port.disconnectRequests, c.drops ? 1 : 0) << c.name;
    }
    // A truncated ASDU still counts as received.
    EXPECT_EQ(link->vr(), 0);
}

TEST_F(Link104, AFullReceiveQueueLosesNothingAndTheTailIsClearedAtConnect)
{
    Started();
    TFrameBytes chunk;
    const int frames = 300;
    for (int i = 0; i < frames; ++i) {
        auto f = StationI(i, 0);
        chunk.insert(chunk.end(), f.begin(), f.end());
    }
    EXPECT_EQ(link->Feed(chunk).size(), static_cast<std::size_t>(frames));
    EXPECT_EQ(link->vr(), frames);

    link->Feed(Hex("68 0E 00"));
    EXPECT_EQ(link->Area().Pending(), 3u);
    link->DoOnConnect();
    EXPECT_EQ(link->Area().Pending(), 0u);
    Started();
    EXPECT_EQ(link->Feed(StationI(0, 0)).size(), 1u);
}

TEST_F(Link104, ClockSyncIsStampedWhenSentAtTheLayoutsTimePosition)
{
    TDateTime now = 0;
    ASSERT_TRUE(TryEncodeDateTime({2021, 3, 7, 14, 5, 9, 250}, now));
    clock.SetWall(now);
    prm.sz_COT = 1;
    prm.sz_ASDUAddress = 1;
    prm.sz_InfObjAddress = 2;
    Make();
    link->Popravka_time_103 = -3;
    Started();
    T104APDU f;
    ASSERT_TRUE(f.FromAsdu(BuildClockSync(3, 0, link->Layout(), types)));
    link->QueueIFrame(f);
    link->Pass();
    const auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 6u + 3 + 1 + 2 + 7);
    TDateTime stamped = 0;
    CP56ToDateTime(std::span<const std::uint8_t, CP56Size>(sent[0].data() + 12, CP56Size), stamped);
    TDateTimeParts p;
    ASSERT_TRUE(TryDecodeDateTime(stamped, p));
    EXPECT_EQ(p.hour, 17);
    EXPECT_EQ(p.second * 1000 + p.millisecond, 9270);
}

// Both directions run once around the 15-bit numbers: every frame is
// acknowledged and accepted across the wrap, then a new connection starts at 0.
TEST_F(Link104, SequenceNumbersWrapAndRestartAtEveryConnection)
{
    Started();
    constexpr int Around = 32768 + 3;
    for (int i = 0; i < Around; ++i) {
        ASSERT_TRUE(link->QueueIFrame(Measurement(1)));
        link->Pass();
        ASSERT_EQ(link->k, 1) << i;
        link->Feed(StationI(i % 32768, link->Vs()));
        ASSERT_EQ(link->s_APDUBuf.Count(), 0) << i;
        ASSERT_EQ(port.disconnectRequests, 0) << i;
        if (i % 8 == 7)
            link->Pass(); // w reached: acknowledged
    }
    EXPECT_EQ(link->Vs(), 3);
    EXPECT_EQ(link->vr(), 3);
    port.TakeSent();

    link->DoOnConnect();
    Started();
    link->QueueIFrame(Measurement(1));
    link->Pass();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(TFrameBytes(sent[0].begin() + 2, sent[0].begin() + 6), Hex("00 00 00 00"));
}

// The frames the link puts on the wire, as an independent decoder reads them.
TEST_F(Link104, FramesItSendsDecodeInTshark)
{
    std::vector<TApdu> frames;
    T104APDU f;
    FormUFrame(f, U_Func::U_STARTDT, UActCon::UACT);
    frames.emplace_back(f.Bytes().begin(), f.Bytes().end());
    FormUFrame(f, U_Func::U_TESTFR, UActCon::UCON);
    frames.emplace_back(f.Bytes().begin(), f.Bytes().end());
    FormSFrame(f, 1234);
    frames.emplace_back(f.Bytes().begin(), f.Bytes().end());
    f = Measurement(700);
    FillIControl(f, 17, 4321);
    frames.emplace_back(f.Bytes().begin(), f.Bytes().end());
    const auto rows = TsharkFields(frames, {"iec60870_104.type", "iec60870_104.utype", "iec60870_104.rx",
                                            "iec60870_104.tx", "iec60870_asdu.typeid", "iec60870_asdu.causetx",
                                            "iec60870_asdu.addr", "iec60870_asdu.ioa", "iec60870_asdu.float"});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][1], "0x00000001"); // STARTDT act
    EXPECT_EQ(rows[1][1], "0x00000020"); // TESTFR con
    EXPECT_EQ(rows[2][2], "1234");       // S-frame N(R)
    EXPECT_EQ(rows[3][3], "17");         // I-frame N(S)
    EXPECT_EQ(rows[3][2], "4321");       // and N(R)
    EXPECT_EQ(rows[3][4], "13");
    EXPECT_EQ(rows[3][5], "3");
    EXPECT_EQ(rows[3][6], "1");
    EXPECT_EQ(rows[3][7], "700");
    EXPECT_EQ(rows[3][8], "3.25");
}

} // namespace
} // namespace gw::test
