// One channel of the controlling station driven through its wrapper, as the
// service tick and the socket side drive it: fake port, fake clock, real
// ASDUs, tags and channel table.

#include "core/clients104.h"

#include "core/asdu.h"
#include "core/cp56.h"
#include "core/kplist.h"
#include "core/messbuff.h"
#include "core/signals.h"
#include "core/tags.h"
#include "core/typeident.h"
#include "fake_port.h"
#include "link_frames.h"
#include "support/dates.h"
#include "support/fake_clock.h"
#include "support/tshark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

namespace gw::test {
namespace {

constexpr const char* kHost = "10.0.0.7";
constexpr int kPort = 2404;

// The commands the queue reports as not sent.
class DropLines final : public TTuQueueLog {
public:
    void TuEnded(const TTuOrder& order, TTuOutcome outcome, const std::string& why) override
    {
        if (outcome == TTuOutcome::Dropped)
            lines.push_back(std::to_string(order.sstID) + " " + why + " " + order.who);
    }
    std::vector<std::string> lines;
};

class Channel : public ::testing::Test {
protected:
    Channel() : prmn(MakePrmn104())
    {
        for (int i = 0; i < 3; ++i) {
            SetPrmnDefault(prmn[static_cast<std::size_t>(i)], PrmnKind104, kHost, kPort + i);
            prmn[static_cast<std::size_t>(i)].prWork1 = 1;
        }
        kps.Add(TKpEthernet(1001, 1001, KpTypeAddr::kpta_KP, "KP1", kHost, kPort));
        recs.AddRec(1001, SignalType::stTIT, "P", 0);
        TTagSignal t;
        t.Init("P", 1, 700, kHost, kPort, cats.GetPtc(TagCategName::tcn_TIT), 0, 0, 0, 1);
        tags.AddTag(t);
    }
    void Open(bool passive = false, bool sendStartDT = false)
    {
        ctx = {TLinkEnv{&clock, &log, nullptr, true}, &types, &tags, prOprosSend, &drops};
        cl = table.AddClient(TLinkSocket{&port, 1, passive, sendStartDT}, prmn, ctx);
        ASSERT_TRUE(cl);
        port.thread = !passive;
        frm = std::make_unique<TClient104Frm>(cl, true, TChannelModel{&kps, &tags, &recs, &stationTags});
    }
    // A connection came up and the station confirmed STARTDT.
    void Connect(bool clockSync)
    {
        stationNs = 0; // a new connection numbers its frames from 0
        frm->OnConnect();
        cl->is_CLOCK_SYNC_103_ = cl->First_CLOCK_SYNC_103_ = clockSync;
        Tick();
        ASSERT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
        Station(STARTDT_con);
    }
    void Tick()
    {
        table.Connecting(false, 100);
        frm->DoService(false, 0);
    }
    void Station(const TFrameBytes& bytes) { frm->OnReceive({bytes, kHost, kPort}, false, 0); }
    // The station's I-frame with the next N(S), acknowledging everything.
    void StationAsdu(const std::string& asdu) { Station(IFrame(stationNs++, cl->Vs(), Hex(asdu))); }
    double TagValue()
    {
        TValue1 v;
        EXPECT_TRUE(tags.ReadValue(0, v));
        double f = 0;
        v.GetTitValue(f);
        return f;
    }
    int TagQuality()
    {
        TValue1 v;
        tags.ReadValue(0, v);
        return v.Qualit;
    }
    bool Logged(const std::string& part) { return test::Logged(log, part); }

    TTypeIdentList types;
    TTagCategoryList cats{1};
    TTagSignalList tags;
    TKpList kps;
    TArmSignals recs;
    std::vector<std::pair<int, int>> stationTags{{0, 0}, {0, 1}}; // station 1001: the one tag
    FakeClock clock{At(2021, 3, 7, 14, 5, 9, 230)};
    TMessBuff log{1000, 0xFFFFFFFF};
    FakePort port;
    TPrmnArray prmn;
    TClients104 table;
    bool prOprosSend = true;
    TClientContext ctx;
    std::shared_ptr<T104Client> cl;
    std::unique_ptr<TClient104Frm> frm;
    DropLines drops;
    int stationNs = 0;
};

TEST_F(Channel, StartUpSendsStartdtThenClockSyncThenInterrogationOnItsConfirmation)
{
    Open();
    Connect(true);
    Tick();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    const TFrameBytes clockSync = sent[0];
    EXPECT_TRUE(port.TakeSent().empty());

    // The station confirms the clock synchronisation: the interrogation follows.
    StationAsdu("67 01 07 00 03 00 00 00 00 22 24 05 0E E7 03 15");
    Tick();
    sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    const TFrameBytes interrogation = sent[0];

    const auto rows =
        TsharkFields({clockSync, interrogation},
                     {"iec60870_104.tx", "iec60870_104.rx", "iec60870_asdu.typeid", "iec60870_asdu.causetx",
                      "iec60870_asdu.addr", "iec60870_asdu.ioa", "iec60870_asdu.cp56time.hour",
                      "iec60870_asdu.cp56time.min", "iec60870_asdu.cp56time.ms", "iec60870_asdu.qoi"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "0");
    EXPECT_EQ(rows[0][2], "103");
    EXPECT_EQ(rows[0][3], "6");
    EXPECT_EQ(rows[0][4], "3");
    EXPECT_EQ(rows[0][5], "0");
    EXPECT_EQ(rows[0][6], "14");
    EXPECT_EQ(rows[0][7], "5");
    EXPECT_EQ(rows[0][8], "9250"); // stamped when sent, 20 ms ahead
    EXPECT_EQ(rows[1][0], "1");
    EXPECT_EQ(rows[1][1], "1");
    EXPECT_EQ(rows[1][2], "100");
    EXPECT_EQ(rows[1][3], "6");
    EXPECT_EQ(rows[1][4], "3");
    EXPECT_EQ(rows[1][9], "20");
}

TEST_F(Channel, WithoutClockSyncTheInterrogationFollowsStartdtAndValuesReachTheTags)
{
    Open();
    Connect(false);
    Tick();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][6], 100);

    StationAsdu("0D 01 14 00 01 00 BC 02 00 00 00 50 40 00");
    EXPECT_DOUBLE_EQ(TagValue(), 3.25);
    EXPECT_EQ(TagQuality(), 0);

    // An unknown type is counted and acknowledged like any I-frame, and stores nothing.
    StationAsdu("16 01 03 00 01 00 BC 02 00 00 00 00 00 00");
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 80 40 00");
    EXPECT_DOUBLE_EQ(TagValue(), 4.0);
    Tick();
    EXPECT_EQ(cl->vr(), 3);
    EXPECT_EQ(port.disconnectRequests, 0);
}

TEST_F(Channel, InterrogationSwitchedOffStillSendsCounterInterrogation)
{
    prOprosSend = false;
    Open();
    Connect(false);
    {
        cl->OPROS_KP_ = cl->opros_counters_101_ = true;
    }
    Tick();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    const auto rows = TsharkFields(sent, {"iec60870_asdu.typeid", "iec60870_asdu.qcc", "iec60870_asdu.rqt"});
    EXPECT_EQ(rows[0][0], "101");
    EXPECT_EQ(rows[0][2], "5");
}

// A common address the field cannot hold would interrogate another station.
TEST_F(Channel, StationRequestsWithACommonAddressWiderThanItsFieldAreRefusedAndLogged)
{
    prmn[0].sz_ASDUAddress = 1;
    prmn[0].CommonAsduAddress = 0x103;
    Open();
    Connect(false);
    {
        cl->opros_counters_101_ = true;
    }
    Tick();
    EXPECT_TRUE(port.TakeSent().empty());
    std::string lines, line;
    TDateTime dt;
    while (log.Get(line, dt))
        lines += line + "\n";
    EXPECT_NE(lines.find("Error: кадр не сформирован! (iec5) OprosKP: Адрес КП=259"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Error: кадр не сформирован! (iec5) Opros счетчиков: Адрес КП=259"), std::string::npos);
}

TEST_F(Channel, PassiveChannelSendsStartdtOnlyWhenAskedTo)
{
    Open(true, false);
    frm->OnConnect();
    Tick();
    Tick();
    EXPECT_TRUE(port.TakeSent().empty());
    EXPECT_EQ(port.connectRequests, 0);
    // The station's first I-frame starts the data transfer.
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    EXPECT_TRUE(cl->StartDT());
    EXPECT_DOUBLE_EQ(TagValue(), 3.25);

    table.DelClient();
    Open(true, true);
    frm->OnConnect();
    Tick();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
}

TEST_F(Channel, StartdtIsOutstandingOnlyOnceTheMailboxTookIt)
{
    Open();
    port.autoDrain = false;
    port.mailbox = TFrameBytes{1};
    frm->OnConnect();
    Tick();
    clock.Advance(prmn[0].t1 + 1);
    Tick();
    EXPECT_EQ(port.disconnectRequests, 0) << "t1 ran for a frame that never left";
    port.mailbox.reset();
    Tick();
    port.Drain();
    EXPECT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
    clock.Advance(prmn[0].t1 + 1);
    Tick();
    EXPECT_EQ(port.disconnectRequests, 1) << "no STARTDT con within t1";
    EXPECT_TRUE(Logged("Нет ответа на U-кадр"));
}

// A station that answers test frames but never STARTDT act is dropped t1
// after the first STARTDT act: neither the act sent again after a test
// frame nor a test frame of its own (t3 shorter than t1) gives it more time.
TEST_F(Channel, TestFramesDoNotPutOffTheStartdtActsT1)
{
    struct Case {
        const char* what;
        std::int32_t t3;
        TFrameBytes station; // what the station sends in between
        std::int64_t at;     // ms after the STARTDT act
    } cases[] = {
        {"the station's test frame", 20000, TESTFR_act, 10000},
        {"our own test frame", 5000, TESTFR_con, 5001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        table.DelClient();
        prmn[0].t3 = c.t3;
        Open();
        port.disconnectRequests = 0;
        port.TakeSent();
        frm->OnConnect();
        Tick();
        ASSERT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
        clock.Advance(c.at);
        Tick();
        Station(c.station);
        Tick();
        const auto between = port.TakeSent();
        EXPECT_NE(std::find(between.begin(), between.end(), STARTDT_act), between.end()) << "STARTDT act again";
        clock.Advance(prmn[0].t1 + 1 - c.at);
        Tick();
        EXPECT_EQ(port.disconnectRequests, 1) << "no STARTDT con within t1 of the first act";
    }
}

TEST_F(Channel, ActiveChannelAsksForAConnectionEveryTwoSeconds)
{
    port.connected = false;
    Open();
    Tick();
    EXPECT_EQ(port.connectRequests, 1);
    EXPECT_EQ(port.host, kHost);
    clock.Advance(2000);
    Tick();
    EXPECT_EQ(port.connectRequests, 1);
    clock.Advance(1);
    Tick();
    EXPECT_EQ(port.connectRequests, 2);
    EXPECT_TRUE(cl->WaitConnect());
}

// A command is queued only while data transfer runs: one given while the
// station has not started it (or the connection is being made again after the
// station stopped it) is abandoned at its timeout, and its execute never goes
// out whenever the transfer starts later on.
TEST_F(Channel, CommandsWaitForTheDataTransferAndAreAbandonedIfItNeverRuns)
{
    Open();
    frm->OnConnect();
    Tick();
    ASSERT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
    {
        cl->ElemTU.Init(TTUCommand::tuCommand_On, 1, 5000, cl->Layout(), true, 1);
    }
    Tick();
    clock.Advance(6001);
    Tick();
    EXPECT_TRUE(cl->ElemTU.Idle());
    Station(STARTDT_con);
    Tick();
    for (const TFrameBytes& f : port.TakeSent())
        EXPECT_NE(f.size() > 6 ? f[6] : 0, 45) << "a command left 6 s after it was given up";

    // The station stops the transfer: the connection is dropped, and a
    // command waits for the new one to start its transfer.
    port.TakeSent();
    Station(STOPDT_act);
    EXPECT_TRUE(port.TakeSent().empty()) << "no STOPDT con: the connection goes instead";
    EXPECT_EQ(port.disconnectRequests, 1);
    EXPECT_TRUE(Logged("STOPDT act от КП: разрыв соединения, новое соединение"));
    {
        cl->ElemTU.Init(TTUCommand::tuCommand_Off, 1, 5000, cl->Layout(), true, 1);
    }
    Tick();
    EXPECT_EQ(cl->ElemTU.step1, TStepTU::stuFormExecute1);
    frm->OnDisconnect();
    frm->OnConnect();
    Tick();
    ASSERT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
    Station(STARTDT_con);
    Tick();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 2u) << "the command, the interrogation the start brings";
    EXPECT_EQ(sent[0][6], 45);
    EXPECT_EQ(sent[0][15], 0x04);
    EXPECT_EQ(sent[1][6], 100);
}

// Select before execute: a foreign confirmation changes nothing, the
// matching one brings the execute, a negative one ends the command.
TEST_F(Channel, SelectThenExecuteWaitsForTheMatchingConfirmation)
{
    Open();
    Connect(false);
    Tick();
    port.TakeSent(); // the interrogation
    const TAsduLayout layout = cl->Layout();
    {
        cl->ElemTU.Init(TTUCommand::tuCommand_On, 1, 5000, layout, true, 0);
    }
    Tick();
    auto sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    const TFrameBytes select = sent[0];

    StationAsdu("2D 01 07 00 01 00 89 13 00 85"); // another object
    StationAsdu("2E 01 07 00 01 00 88 13 00 85"); // another type
    Tick();
    EXPECT_TRUE(port.TakeSent().empty());
    StationAsdu("2D 01 07 00 01 00 88 13 00 85");
    Tick();
    sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    const TFrameBytes execute = sent[0];
    Tick();
    EXPECT_TRUE(cl->ElemTU.Idle());

    const auto rows =
        TsharkFields({select, execute}, {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.addr",
                                         "iec60870_asdu.ioa", "iec60870_asdu.sco.on", "iec60870_asdu.sco.se"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"45", "6", "1", "5000", "1", "1"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"45", "6", "1", "5000", "1", "0"}));

    // A double command refused by the station.
    {
        cl->ElemTU.Init(TTUCommand::tuCommand_Off, 1, 5001, layout, true, 2);
    }
    Tick();
    sent = port.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(TsharkFields(sent, {"iec60870_asdu.typeid", "iec60870_asdu.dco.on", "iec60870_asdu.dco.se"})[0],
              (std::vector<std::string>{"46", "1", "1"}));
    StationAsdu("2E 01 47 00 01 00 89 13 00 85");
    EXPECT_TRUE(cl->ElemTU.Idle());
    Tick();
    EXPECT_TRUE(port.TakeSent().empty());
}

// A passive station may be back, its transfer started by its own STARTDT,
// before any pass saw its connection gone. The command of the lost
// connection ends with it: the execute of a select confirmed there, held
// back by a full window, must not open the new connection.
TEST_F(Channel, ACommandOfTheLostConnectionDoesNotGoOutOnAQuickReconnect)
{
    prmn[0].kMax = 1;
    Open(true, false);
    frm->OnConnect();
    Station(STARTDT_act);
    ASSERT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_con});
    Tick();
    ASSERT_EQ(port.TakeSent().size(), 1u); // the interrogation
    Station(SFrame(1));

    ASSERT_TRUE(cl->TuQueue.Push({TTUCommand::tuCommand_On, 1, 5000, 0, 1, "КП 1"}));
    Tick();
    ASSERT_EQ(port.TakeSent().size(), 1u); // the select, which fills the window
    // Its confirmation acknowledges nothing: the execute waits for room.
    Station(IFrame(stationNs++, 1, Hex("2D 01 07 00 01 00 88 13 00 85")));
    ASSERT_EQ(cl->ElemTU.step1, TStepTU::stuFormExecute1);
    EXPECT_TRUE(port.TakeSent().empty());

    frm->OnDisconnect();
    frm->OnConnect();
    stationNs = 0;
    Station(STARTDT_act);
    Tick();
    for (const TFrameBytes& f : port.TakeSent())
        EXPECT_NE(f.size() > 6 ? f[6] : 0, 45) << "the old select's execute left on the new connection";
    EXPECT_TRUE(cl->ElemTU.Idle());
}

// The sequencer takes a command's frame for gone once the send window holds
// it; the frame may still wait there (the mailbox busy with the frame
// before) or in the mailbox when the connection drops, which throws both
// away. Such a command was not sent: it is reported so, and nothing of it
// reaches the station later. One that was written may have been executed:
// it ends without a line.
enum class Where { Window, Mailbox, Written };
struct LostFrameCase {
    const char* name;
    int type_tu;
    bool afterSelect; // the execute of a confirmed select
    Where where;
    bool linkDrops; // the link drops the connection (STOPDT from the station), else the socket side
    bool reported;
};

class LostCommandFrame : public Channel, public ::testing::WithParamInterface<LostFrameCase> {};

const LostFrameCase kLostFrameCases[] = {
    {"DirectSingleExecuteInTheWindow", 1, false, Where::Window, false, true},
    {"DirectDoubleExecuteInTheMailbox", 3, false, Where::Mailbox, false, true},
    {"ExecuteInTheMailboxTheLinkDrops", 1, false, Where::Mailbox, true, true},
    {"ExecuteInTheWindowTheLinkDrops", 3, false, Where::Window, true, true},
    {"ExecuteOfAConfirmedSelectInTheMailbox", 0, true, Where::Mailbox, false, true},
    {"ExecuteOfAConfirmedSelectInTheWindowTheLinkDrops", 0, true, Where::Window, true, true},
    {"SelectInTheMailbox", 0, false, Where::Mailbox, false, true},
    {"ExecuteWritten", 1, false, Where::Written, false, false},
    {"ExecuteOfAConfirmedSelectWrittenTheLinkDrops", 0, true, Where::Written, true, false},
};

bool IsCommandFrame(const TFrameBytes& f) { return f.size() > 6 && (f[6] == 45 || f[6] == 46); }

TEST_P(LostCommandFrame, IsReportedNotSentAndNeverLeavesLater)
{
    const LostFrameCase& c = GetParam();
    Open();
    Connect(false);
    Tick();
    ASSERT_EQ(port.TakeSent().size(), 1u); // the interrogation
    ASSERT_TRUE(cl->TuQueue.Push({TTUCommand::tuCommand_On, 1, 5000, c.type_tu, 7, "КП 1"}));
    if (c.afterSelect) {
        Tick();
        ASSERT_EQ(port.TakeSent().size(), 1u); // the select
    }
    port.autoDrain = c.where == Where::Written;
    if (c.where == Where::Window)
        port.mailbox = SFrame(0); // the channel is still to write the frame before
    if (c.afterSelect)
        StationAsdu("2D 01 07 00 01 00 88 13 00 85");
    else
        Tick();
    ASSERT_EQ(port.mailbox.has_value(), c.where != Where::Written);
    EXPECT_EQ(IsCommandFrame(port.mailbox.value_or(TFrameBytes{})), c.where == Where::Mailbox);
    EXPECT_EQ(std::ranges::count_if(port.TakeSent(), IsCommandFrame), c.where == Where::Written ? 1 : 0);

    if (c.linkDrops) {
        Station(STOPDT_act);
        Tick();
        ASSERT_EQ(port.disconnectRequests, 1);
    }
    port.connected = false;
    frm->OnDisconnect();
    port.mailbox.reset(); // what the channel throws away at its disconnect
    Tick();
    EXPECT_EQ(drops.lines, c.reported ? std::vector<std::string>{"7 нет связи с КП 1"} : std::vector<std::string>{});
    EXPECT_TRUE(cl->ElemTU.Idle());

    port.connected = port.autoDrain = true;
    Connect(false);
    Tick();
    clock.Advance(1000);
    Tick();
    EXPECT_EQ(std::ranges::count_if(port.TakeSent(), IsCommandFrame), 0) << "a frame of the old command left";
    EXPECT_EQ(drops.lines.size(), c.reported ? 1u : 0u) << "reported once";
}

INSTANTIATE_TEST_SUITE_P(Channel, LostCommandFrame, ::testing::ValuesIn(kLostFrameCases),
                         [](const ::testing::TestParamInfo<LostFrameCase>& param) { return param.param.name; });

// The channel writes slowly (a station that reads and acknowledges slowly):
// the command's select or execute still waits in the window behind the frame
// the mailbox holds, or in the mailbox itself, when the command's time-out
// ends it. Written later, it would be executed though the operator was told
// it failed, and may have given it again: it never leaves, and the frames
// queued around it still go out in order, numbered without a gap.
struct EndedFrameCase {
    const char* name;
    int type_tu;
    bool afterSelect; // the execute of a confirmed select
    Where where;
};

class EndedCommandFrame : public Channel, public ::testing::WithParamInterface<EndedFrameCase> {};

const EndedFrameCase kEndedFrameCases[] = {
    {"SelectInTheWindow", 0, false, Where::Window},
    {"SelectInTheMailbox", 2, false, Where::Mailbox},
    {"ExecuteOfAConfirmedSelectInTheWindow", 0, true, Where::Window},
    {"ExecuteOfAConfirmedSelectInTheMailbox", 2, true, Where::Mailbox},
    {"DirectExecuteInTheWindow", 1, false, Where::Window},
    {"DirectExecuteInTheMailbox", 3, false, Where::Mailbox},
};

int SentNs(const TFrameBytes& f) { return (f[2] | (f[3] << 8)) >> 1; }

TEST_P(EndedCommandFrame, NeverLeavesAfterTheCommandEnded)
{
    const EndedFrameCase& c = GetParam();
    const bool select = c.type_tu == 0 || c.type_tu == 2;
    const std::string confirmation = c.type_tu == 0 ? "2D 01 07 00 01 00 88 13 00 85" : "2E 01 07 00 01 00 88 13 00 86";
    Open();
    Connect(false);
    Tick();
    ASSERT_EQ(port.TakeSent().size(), 1u); // the interrogation, N(S) 0, never acknowledged
    ASSERT_TRUE(cl->TuQueue.Push({TTUCommand::tuCommand_On, 1, 5000, c.type_tu, 7, "КП 1"}));
    int ns = 1;
    if (c.afterSelect) {
        Tick();
        ASSERT_EQ(port.TakeSent().size(), 1u); // the select
        ++ns;
    }
    port.autoDrain = false;
    // In the window the frame waits behind a counter interrogation the channel is still to write.
    cl->opros_counters_101_ = c.where == Where::Window;
    Tick();
    if (c.afterSelect)
        Station(IFrame(stationNs++, cl->AckNr(), Hex(confirmation))); // acknowledges nothing
    ASSERT_TRUE(port.mailbox.has_value());
    ASSERT_EQ(IsCommandFrame(*port.mailbox), c.where == Where::Mailbox);
    ASSERT_EQ(cl->s_APDUBuf.Count() - cl->s_APDUBuf.Send(), c.where == Where::Window ? 1 : 0);
    // An interrogation queued behind it.
    cl->OPROS_KP_ = true;
    Tick();

    clock.Advance(6001);
    Tick();
    EXPECT_TRUE(cl->ElemTU.Idle());
    EXPECT_FALSE(cl->TuQueue.Running());
    const bool abortLine = Logged("TU: Команда ТУ не завершена за 6000 мс и снята");
    if (select && !c.afterSelect) {
        EXPECT_TRUE(abortLine) << "the operator's line of the time-out";
    }

    port.Drain();
    port.autoDrain = true;
    Station(SFrame(cl->Vs()));
    Tick();
    clock.Advance(1000);
    Tick();
    const auto sent = port.TakeSent();
    EXPECT_EQ(std::ranges::count_if(sent, IsCommandFrame), 0) << "a frame of the ended command left";
    std::vector<int> kinds, numbers;
    for (const TFrameBytes& f : sent)
        if (f.size() > 6) {
            kinds.push_back(f[6]);
            numbers.push_back(SentNs(f));
        }
    const std::vector<int> expected = c.where == Where::Window ? std::vector<int>{101, 100} : std::vector<int>{100};
    EXPECT_EQ(kinds, expected);
    std::vector<int> consecutive;
    for (std::size_t i = 0; i < numbers.size(); ++i)
        consecutive.push_back(ns + static_cast<int>(i));
    EXPECT_EQ(numbers, consecutive);
    EXPECT_EQ(port.disconnectRequests, 0);
    EXPECT_TRUE(drops.lines.empty());

    // The operator gives it again: its frame leaves once, the next number.
    ASSERT_TRUE(cl->TuQueue.Push({TTUCommand::tuCommand_On, 1, 5000, c.type_tu, 7, "КП 1"}));
    Tick();
    Tick();
    const auto again = port.TakeSent();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(IsCommandFrame(again[0]));
    EXPECT_EQ(SentNs(again[0]), ns + static_cast<int>(numbers.size()));
}

INSTANTIATE_TEST_SUITE_P(Channel, EndedCommandFrame, ::testing::ValuesIn(kEndedFrameCases),
                         [](const ::testing::TestParamInfo<EndedFrameCase>& param) { return param.param.name; });

// Once the stream lost its framing the link drops the connection; what
// still arrives on it before the socket closes starts at no frame boundary
// and is not taken for values.
TEST_F(Channel, BytesArrivingAfterTheLinkDroppedTheConnectionStoreNothing)
{
    Open();
    Connect(false);
    Tick();
    port.TakeSent();
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    ASSERT_DOUBLE_EQ(TagValue(), 3.25);
    Station(Hex("55 FF 00 00"));
    ASSERT_EQ(port.disconnectRequests, 1);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 80 40 00");
    EXPECT_DOUBLE_EQ(TagValue(), 3.25);
    EXPECT_TRUE(port.TakeSent().empty()) << "nothing more goes out on it either";

    // The next connection is heard again.
    frm->OnDisconnect();
    Tick();
    port.connectRequests = 0;
    stationNs = 0;
    Connect(false);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 80 40 00");
    EXPECT_DOUBLE_EQ(TagValue(), 4.0);
}

class TraceLines final : public TLinkTrace {
public:
    void TraceLine(int n, const std::string& line) override { lines.push_back(std::to_string(n) + "|" + line); }
    std::vector<std::string> lines;
};

// The exchange trace of a channel; fieldgate leaves out the line naming each sent request.
TEST_F(Channel, TraceShowsEveryFrameBothWays)
{
    for (bool desktop : {true, false}) {
        TraceLines trace;
        TClients104 own;
        ctx = {TLinkEnv{&clock, &log, &trace, desktop}, &types, &tags, true};
        auto c = own.AddClient(TLinkSocket{&port}, prmn, ctx);
        TClient104Frm f(c, true, TChannelModel{});
        f.OnConnect();
        own.Connecting(true, 0);
        f.DoService(true, 0);
        f.OnReceive({STARTDT_con, kHost, kPort}, true, 0);
        own.Connecting(true, 0);
        f.DoService(true, 0);
        ASSERT_GE(trace.lines.size(), 4u);
        EXPECT_EQ(trace.lines[0].rfind("0|То KP ", 0), 0u) << trace.lines[0];
        EXPECT_NE(trace.lines[0].find("  68 04 07 00 00 00 "), std::string::npos) << trace.lines[0];
        EXPECT_EQ(trace.lines[1].rfind("0|From KP ", 0), 0u) << trace.lines[1];
        EXPECT_NE(trace.lines[1].find(" 68 04 0B 00 00 00   Count =6"), std::string::npos) << trace.lines[1];
        EXPECT_EQ(trace.lines[2].rfind("0| Data >         68 04 0B 00 00 00 ", 0), 0u) << trace.lines[2];
        const bool named = std::find(trace.lines.begin(), trace.lines.end(), "0|Опрос КП") != trace.lines.end();
        EXPECT_EQ(named, desktop);
        port.TakeSent();
    }
}

TEST_F(Channel, TableFindsClientsAndKeepsThemWhileHeld)
{
    TClients104 small(2);
    ctx = {TLinkEnv{&clock, &log, nullptr, true}, &types, &tags, true};
    auto a = small.AddClient(TLinkSocket{&port}, prmn, ctx);
    auto b = small.AddClient(TLinkSocket{&port}, prmn, ctx);
    EXPECT_FALSE(small.AddClient(TLinkSocket{&port}, prmn, ctx)) << "the table is full";
    EXPECT_EQ(small.Count(), 2);
    EXPECT_EQ(small.Find(kHost, kPort + 1), b);
    EXPECT_EQ(small.Find(kHost, kPort + 2), nullptr);
    EXPECT_EQ(small.Find("10.0.0.07", kPort), nullptr);
    EXPECT_EQ(small.GetPcl(0), a);
    EXPECT_EQ(small.GetPcl(2), nullptr);
    EXPECT_EQ(small.GetPcl(-1), nullptr);

    std::weak_ptr<T104Client> wa = a, wb = b;
    small.DelClient();
    EXPECT_EQ(small.Count(), 0);
    b.reset();
    EXPECT_TRUE(wb.expired());
    EXPECT_FALSE(wa.expired()) << "a socket side still holding its client can still call it";
    a.reset();
    EXPECT_TRUE(wa.expired());
}

TEST_F(Channel, ValuesTurnInvalidOncePerDisconnectAfterTheReserveGrace)
{
    Open();
    Connect(false);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    ASSERT_EQ(TagQuality(), 0);
    frm->OnDisconnect();
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0) << "the disconnect is taken at the next pass";
    Tick();
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0x80);
    TValue1 taken;
    EXPECT_TRUE(tags.TakeNew(0, taken));
    frm->CheckValid1(false);
    EXPECT_FALSE(tags.TakeNew(0, taken)) << "only once per disconnect";

    // With a reserve address the station has 30 s to come back.
    Connect(false);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    {
        cl->Is_Rezerv_IP = true;
    }
    frm->OnDisconnect();
    Tick();
    clock.Advance(29000);
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0);
    Connect(false); // back in time: nothing turns invalid
    clock.Advance(2000);
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0);

    // Back within the grace on a connection that never starts the transfer:
    // the grace still ends, counted from the loss.
    frm->OnDisconnect();
    Tick();
    clock.Advance(20000);
    frm->CheckValid1(false);
    frm->OnConnect();
    Tick();
    ASSERT_EQ(port.TakeSent(), std::vector<TFrameBytes>{STARTDT_act});
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0);
    clock.Advance(11000);
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0x80) << "values kept past the grace";
}

// A lost station's values turn invalid, and only those: the tags of a
// station on another connection keep their good quality.
TEST_F(Channel, InvalidationKeepsToTheLostStationsTags)
{
    kps.Add(TKpEthernet(1002, 1002, KpTypeAddr::kpta_KP, "KP2", kHost, kPort + 1));
    recs.AddRec(1002, SignalType::stTIT, "Q", 0);
    TTagSignal other;
    other.Init("Q", 1, 700, kHost, kPort + 1, cats.GetPtc(TagCategName::tcn_TIT), 1, 0, 0, 1);
    tags.AddTag(other);
    stationTags.emplace_back(1, 2);
    {
        auto lock = tags.Lock();
        tags.GetTag(1)->Value.Qualit = 0;
    }
    Open();
    Connect(false);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    frm->OnDisconnect();
    Tick();
    frm->CheckValid1(false);
    TValue1 mine, theirs;
    ASSERT_TRUE(tags.ReadValue(0, mine));
    ASSERT_TRUE(tags.ReadValue(1, theirs));
    EXPECT_EQ(mine.Qualit, 0x80);
    EXPECT_EQ(theirs.Qualit, 0) << "another station's value was invalidated";
    EXPECT_EQ(frm->Invalidations(), 1u);
}

// A station that comes back before the slow tick saw it go still had its
// values lost with the connection: they turn invalid before the new
// connection brings any, never after.
TEST_F(Channel, AQuickReconnectStillInvalidatesTheOldValuesFirst)
{
    Open();
    Connect(false);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    ASSERT_EQ(TagQuality(), 0);
    frm->OnDisconnect();
    Tick();
    stationNs = 0;
    Connect(false); // before any CheckValid1
    EXPECT_EQ(TagQuality(), 0x80) << "an old value shown good across the reconnect";
    StationAsdu("0D 01 14 00 01 00 BC 02 00 00 00 50 40 00");
    EXPECT_EQ(TagQuality(), 0);
    frm->CheckValid1(false);
    EXPECT_EQ(TagQuality(), 0) << "the fresh value stays good";

    // The link itself drops a silent connection (t1); the same holds.
    {
        cl->QueueIFrame([&] {
            T104APDU f;
            f.FromAsdu(BuildInterrogation(1, cl->Layout(), types));
            return f;
        }());
    }
    Tick();
    clock.Advance(prmn[0].t1 + 1);
    Tick();
    ASSERT_EQ(port.disconnectRequests, 1);
    port.TakeSent();
    stationNs = 0;
    Connect(false);
    EXPECT_EQ(TagQuality(), 0x80);

    // A passive station may be back before any pass took its disconnect.
    StationAsdu("0D 01 14 00 01 00 BC 02 00 00 00 50 40 00");
    ASSERT_EQ(TagQuality(), 0);
    frm->OnDisconnect();
    stationNs = 0;
    Connect(false);
    EXPECT_EQ(TagQuality(), 0x80);
}

// A channel finds its connection's tags once per connection: values go to
// the tags of the address it is connected to, also after it moved to its
// reserve address and back, and after the tag list was built anew.
TEST_F(Channel, ValuesReachTheTagsOfTheAddressConnectedTo)
{
    constexpr const char* kReserve = "10.0.0.8";
    TTagSignal reserve;
    reserve.Init("P reserve", 1, 700, kReserve, kPort, cats.GetPtc(TagCategName::tcn_TIT), 0, 0, 0, 1);
    tags.AddTag(reserve);
    auto value = [&](int ind) {
        TValue1 v;
        EXPECT_TRUE(tags.ReadValue(ind, v));
        double f = 0;
        v.GetTitValue(f);
        return f;
    };
    auto reconnect = [&](const char* host) {
        frm->OnDisconnect();
        Tick();
        port.TakeSent();
        port.host = host; // where the channel thread connected this time
        Connect(false);
    };
    Open();
    Connect(false);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00"); // 3.25
    EXPECT_DOUBLE_EQ(value(0), 3.25);

    reconnect(kReserve);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 80 40 00"); // 4.0
    EXPECT_DOUBLE_EQ(value(1), 4.0);
    EXPECT_DOUBLE_EQ(value(0), 3.25) << "a value of the reserve connection in the main address's tag";

    reconnect(kHost);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 A0 40 00"); // 5.0
    EXPECT_DOUBLE_EQ(value(0), 5.0);
    EXPECT_DOUBLE_EQ(value(1), 4.0);

    // Built anew with the reserve address's tag first, the connection
    // numbers change under the running connection.
    tags.Clear();
    tags.AddTag(reserve);
    TTagSignal main;
    main.Init("P", 1, 700, kHost, kPort, cats.GetPtc(TagCategName::tcn_TIT), 0, 0, 0, 1);
    tags.AddTag(main);
    StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 C0 40 00"); // 6.0
    EXPECT_DOUBLE_EQ(value(1), 6.0);
    EXPECT_FALSE(tags.GetTag(0)->prReceive());
}

TEST_F(Channel, ReceiveOnAChannelSwitchedOffParsesButRunsNoPass)
{
    Open();
    Connect(false);
    Tick();
    port.TakeSent();
    {
        cl->setWork(false);
    }
    for (int i = 0; i < prmn[0].wMax; ++i)
        StationAsdu("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00");
    EXPECT_DOUBLE_EQ(TagValue(), 3.25);
    EXPECT_TRUE(port.TakeSent().empty()) << "no acknowledgement without a pass";
    Tick();
    EXPECT_TRUE(port.TakeSent().empty());
}

// The receive path, the tick and the command entry run on different threads;
// the channel's lock, one for all of them, keeps the link consistent
// (ThreadSanitizer checks it).
TEST_F(Channel, ReceiveTickAndCommandsFromSeveralThreads)
{
    Open();
    Connect(false);
    Tick();
    port.TakeSent();
    const TAsduLayout layout = cl->Layout();
    constexpr int Frames = 400;
    std::mutex channel;
    std::thread receiver([&] {
        for (int i = 0; i < Frames; ++i) {
            std::lock_guard<std::mutex> lock(channel);
            Station(IFrame(i, cl->Vs(), Hex("0D 01 03 00 01 00 BC 02 00 00 00 50 40 00")));
        }
    });
    std::thread ticker([&] {
        for (int i = 0; i < Frames; ++i) {
            std::lock_guard<std::mutex> lock(channel);
            Tick();
        }
    });
    std::thread commands([&] {
        for (int i = 0; i < 50; ++i) {
            std::lock_guard<std::mutex> lock(channel);
            cl->ElemTU.Init(TTUCommand::tuCommand_On, 1, 5000 + i, layout, true, 1);
        }
    });
    receiver.join();
    ticker.join();
    commands.join();
    Tick();
    EXPECT_EQ(cl->vr(), Frames);
    EXPECT_EQ(port.disconnectRequests, 0);
}

} // namespace
} // namespace gw::test
