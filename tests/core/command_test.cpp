// The command sequencer on a fake clock, with a channel that records (or
// refuses) the frames offered to it and a station that confirms, refuses or
// answers for someone else.

#include "core/command.h"
#include "core/messbuff.h"

#include "support/asdu_vectors.h"
#include "support/fake_clock.h"
#include "support/tshark.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

using test::HexText;
using S = TStepTU;

constexpr int kCa = 1;
constexpr int kIoa = 5000;

class Channel : public TTuSender {
public:
    bool accept = true;
    std::vector<std::vector<std::uint8_t>> queued; // the ASDUs, as on the wire

    bool QueueTuAsdu(const TIEC_ASDUt& asdu) override
    {
        if (!accept)
            return false;
        std::vector<std::uint8_t> bytes(kMaxAsduLen);
        bytes.resize(static_cast<std::size_t>(asdu.Encode(bytes)));
        queued.push_back(bytes);
        return true;
    }
    // The element byte (SCO or DCO) of queued frame i with the 104 widths.
    int Element(std::size_t i) const { return queued.at(i).at(9); }
};

class Sequencer : public ::testing::Test {
protected:
    TTypeIdentList types;
    test::FakeClock clock;
    TMessBuff log{1000, 0xFFFFFFFF};
    TElemTU tu{clock, types, &log};
    Channel channel;

    void Start(TTUCommand cmd, int type, int ioa = kIoa) { tu.Init(cmd, kCa, ioa, TAsduLayout{}, true, type); }
    void Pass() { tu.TuService1(channel); }
    // The station's answer: type 45 or 46, the given cause and addresses, and
    // the element of the last frame sent (as a station mirrors it) unless given.
    static constexpr int kMirrored = -1, kNoElement = -2;
    bool Answer(int code, int cot, int ca = kCa, int ioa = kIoa, int sco = kMirrored)
    {
        const int mirrored = channel.queued.empty() ? 0x85 : channel.Element(channel.queued.size() - 1);
        const std::uint8_t element[1] = {static_cast<std::uint8_t>(sco == kMirrored ? mirrored : sco)};
        const std::span<const std::uint8_t> data(element, sco == kNoElement ? 0 : 1);
        TIEC_ASDUt sent(code, 1, cot, ca, ioa, data, TAsduLayout{}, types);
        std::uint8_t bytes[kMaxAsduLen];
        const int n = sent.Encode(bytes);
        TIEC_ASDUt rx(std::span(bytes, static_cast<std::size_t>(n)), 0, n, TAsduLayout{}, types);
        return tu.OnConfirmation(rx);
    }
    bool Has(const std::string& text)
    {
        std::string line;
        TDateTime dt;
        bool found = false;
        while (log.Get(line, dt))
            found = found || line == text;
        return found;
    }
};

TEST_F(Sequencer, SelectConfirmedThenExecute)
{
    Start(TTUCommand::tuCommand_On, 0);
    EXPECT_TRUE(Has("(iec3)TU: Инициализация команды ТУ"));
    Pass();
    ASSERT_EQ(channel.queued.size(), 1u);
    EXPECT_EQ(channel.Element(0), 0x85);
    EXPECT_EQ(tu.step1, S::stuSendSelect);
    Pass(); // nothing new until the station answers
    EXPECT_EQ(channel.queued.size(), 1u);
    EXPECT_TRUE(Answer(45, 7));
    EXPECT_EQ(tu.step1, S::stuActSelect);
    Pass();
    ASSERT_EQ(channel.queued.size(), 2u);
    EXPECT_EQ(channel.Element(1), 0x05);
    EXPECT_EQ(tu.step1, S::stuSendExecute);
    Pass();
    EXPECT_TRUE(tu.Idle());
    EXPECT_EQ(channel.queued.size(), 2u);
    EXPECT_TRUE(tu.fl.Op(TFlagOperation::FYes, TBitTuExecute::btue_TU_ActSelect));
    EXPECT_TRUE(tu.fl.Op(TFlagOperation::FYes, TBitTuExecute::btue_TU_SendExecute));
}

TEST_F(Sequencer, ElementBytesByKindAndCommand)
{
    struct Case {
        int type;
        TTUCommand cmd;
        int select, execute; // -1: no select frame
    } cases[] = {
        {0, TTUCommand::tuCommand_On, 0x85, 0x05}, {0, TTUCommand::tuCommand_Off, 0x84, 0x04},
        {1, TTUCommand::tuCommand_On, -1, 0x05},   {1, TTUCommand::tuCommand_Off, -1, 0x04},
        {2, TTUCommand::tuCommand_On, 0x86, 0x06}, {2, TTUCommand::tuCommand_Off, 0x85, 0x05},
        {3, TTUCommand::tuCommand_On, -1, 0x06},   {3, TTUCommand::tuCommand_Off, -1, 0x05},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type * 10 + static_cast<int>(c.cmd));
        channel.queued.clear();
        Start(c.cmd, c.type);
        Pass();
        if (c.select >= 0) {
            ASSERT_EQ(channel.queued.size(), 1u);
            EXPECT_EQ(channel.Element(0), c.select);
            EXPECT_TRUE(Answer(c.type < 2 ? 45 : 46, 7));
            Pass();
        }
        ASSERT_EQ(channel.queued.size(), c.select >= 0 ? 2u : 1u);
        EXPECT_EQ(channel.Element(channel.queued.size() - 1), c.execute);
        EXPECT_EQ(channel.queued.back().at(0), c.type < 2 ? 45 : 46);
        Pass();
        EXPECT_TRUE(tu.Idle());
    }
}

// The frames match the reference commands of an independent implementation
// except for the qualifier: this station asks for a short pulse (QU = 1).
TEST_F(Sequencer, FramesMatchTheReferenceCommandsButForTheQualifier)
{
    auto check = [](const std::vector<std::uint8_t>& ours, const char* row) {
        SCOPED_TRACE(row);
        auto ref = test::AsduVector(row).bytes;
        ASSERT_EQ(ours.size(), ref.size());
        EXPECT_EQ((ours.back() >> 2) & 0x1F, 1);
        ref.back() = static_cast<std::uint8_t>(ref.back() | 0x04);
        EXPECT_EQ(HexText(ours.data(), ours.size()), HexText(ref.data(), ref.size()));
    };
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    Answer(45, 7);
    Pass();
    Start(TTUCommand::tuCommand_Off, 2, 5001);
    Pass();
    Answer(46, 7, kCa, 5001);
    tu.TUCommand = TTUCommand::tuCommand_On; // the reference executes ON after selecting OFF
    Pass();
    ASSERT_EQ(channel.queued.size(), 4u);
    check(channel.queued[0], "C_SC_NA_1 select");
    check(channel.queued[1], "C_SC_NA_1 execute");
    check(channel.queued[2], "C_DC_NA_1 select");
    check(channel.queued[3], "C_DC_NA_1 execute");

    TElemTU narrow(clock, types, nullptr);
    narrow.Init(TTUCommand::tuCommand_Off, 7, 5000, TAsduLayout::Make(1, 1, 2), true, 0);
    Channel ch;
    narrow.TuService1(ch);
    ASSERT_EQ(ch.queued.size(), 1u);
    check(ch.queued[0], "C_SC_NA_1 narrow select");
}

TEST_F(Sequencer, TsharkReadsTheCommands)
{
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    Answer(45, 7);
    Pass();
    Start(TTUCommand::tuCommand_Off, 3, 0x123456);
    Pass();
    std::vector<test::TApdu> frames;
    for (const auto& asdu : channel.queued) {
        test::TApdu f{0x68, static_cast<std::uint8_t>(asdu.size() + 4), 0, 0, 0, 0};
        f.insert(f.end(), asdu.begin(), asdu.end());
        frames.push_back(f);
    }
    const auto rows = test::TsharkFields(frames, {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.addr",
                                                  "iec60870_asdu.ioa", "iec60870_asdu.sco.on", "iec60870_asdu.sco.se",
                                                  "iec60870_asdu.sco.qu", "iec60870_asdu.dco.on",
                                                  "iec60870_asdu.dco.se", "iec60870_asdu.dco.qu"});
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string> select{"45", "6", "1", "5000", "1", "1", "1", "", "", ""};
    const std::vector<std::string> execute{"45", "6", "1", "5000", "1", "0", "1", "", "", ""};
    const std::vector<std::string> doubleOff{"46", "6", "1", "1193046", "", "", "", "1", "0", "1"};
    EXPECT_EQ(rows[0], select);
    EXPECT_EQ(rows[1], execute);
    EXPECT_EQ(rows[2], doubleOff);
}

TEST_F(Sequencer, ForeignConfirmationsDoNotAdvanceTheSelect)
{
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    struct Case {
        const char* what;
        int code, cot, ca, ioa, sco;
    } cases[] = {
        {"other object", 45, 7, kCa, kIoa + 1, 0x85},
        {"other station address", 45, 7, kCa + 1, kIoa, 0x85},
        {"other command type", 46, 7, kCa, kIoa, 0x85},
        {"test bit", 45, 0x87, kCa, kIoa, 0x85},
        {"termination", 45, 10, kCa, kIoa, 0x85},
        {"activation", 45, 6, kCa, kIoa, 0x85},
        {"negative for another object", 45, 0x47, kCa, kIoa + 1, 0x85},
        {"an execute's confirmation", 45, 7, kCa, kIoa, 0x05},
        {"an execute's negative confirmation", 45, 0x47, kCa, kIoa, 0x05},
        {"the select of the other state", 45, 7, kCa, kIoa, 0x84},
        {"no element", 45, 7, kCa, kIoa, kNoElement},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(Answer(c.code, c.cot, c.ca, c.ioa, c.sco));
        EXPECT_EQ(tu.step1, S::stuSendSelect);
    }
    clock.Advance(6001);
    Pass();
    EXPECT_TRUE(tu.Idle());
    EXPECT_TRUE(tu.fl.Op(TFlagOperation::FYes, TBitTuExecute::btue_TU_TimeOut1));
    EXPECT_EQ(channel.queued.size(), 1u);
}

// The station answers an execute only after its command's time-out, while the
// next command to the same object awaits its select's confirmation: that
// late answer neither brings the new command's execute nor ends it.
TEST_F(Sequencer, TheLateAnswerToAnEarlierExecuteIsNotTheSelectsConfirmation)
{
    for (int type : {0, 2}) {
        SCOPED_TRACE(type);
        const int code = type == 0 ? 45 : 46;
        channel.queued.clear();
        Start(TTUCommand::tuCommand_On, type);
        Pass();
        ASSERT_TRUE(Answer(code, 7));
        Pass();
        ASSERT_EQ(channel.queued.size(), 2u);
        const int execute = channel.Element(1);
        Pass();
        ASSERT_TRUE(tu.Idle());

        Start(TTUCommand::tuCommand_On, type);
        Pass();
        ASSERT_EQ(channel.queued.size(), 3u);
        EXPECT_FALSE(Answer(code, 7, kCa, kIoa, execute));
        EXPECT_FALSE(Answer(code, 10, kCa, kIoa, execute));
        EXPECT_FALSE(Answer(code, 0x47, kCa, kIoa, execute));
        Pass();
        EXPECT_EQ(tu.step1, S::stuSendSelect);
        EXPECT_EQ(channel.queued.size(), 3u) << "no execute without the select's own confirmation";
        EXPECT_TRUE(Answer(code, 7));
        Pass();
        ASSERT_EQ(channel.queued.size(), 4u);
        EXPECT_EQ(channel.Element(3), execute);
        Pass();
    }
}

TEST_F(Sequencer, NegativeConfirmationEndsTheCommandAsFailed)
{
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    EXPECT_TRUE(Answer(45, 0x47));
    EXPECT_TRUE(tu.Idle());
    EXPECT_TRUE(Has("(iec3)TU: Отрицательное подтверждение ТУ. Адрес=5000 COT=71. Команда не выполнена"));
    Pass();
    EXPECT_EQ(channel.queued.size(), 1u); // no execute
}

TEST_F(Sequencer, NegativeAnswerBeforeAnythingWasSentIsNotOurs)
{
    channel.accept = false;
    Start(TTUCommand::tuCommand_On, 1);
    Pass();
    EXPECT_FALSE(Answer(45, 0x47));
    EXPECT_EQ(tu.step1, S::stuFormExecute1);
}

TEST_F(Sequencer, AbandonedAfterTheTimeoutOnTheMonotonicClock)
{
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    clock.SetWall(clock.Now() + 1.0); // a wall clock set forward does not time out the command
    clock.Advance(6000);
    Pass();
    EXPECT_EQ(tu.step1, S::stuSendSelect);
    clock.Advance(500);
    Pass();
    EXPECT_TRUE(tu.Idle());
    EXPECT_FALSE(Answer(45, 7)); // a late confirmation changes nothing
    Pass();
    EXPECT_TRUE(tu.Idle());
    EXPECT_EQ(channel.queued.size(), 1u);
}

TEST_F(Sequencer, RefusedFrameIsOfferedAgainUntilTheTimeout)
{
    channel.accept = false;
    Start(TTUCommand::tuCommand_Off, 3);
    for (int i = 0; i < 5; ++i) {
        Pass();
        clock.Advance(1000);
    }
    EXPECT_EQ(tu.step1, S::stuFormExecute1);
    channel.accept = true;
    Pass();
    ASSERT_EQ(channel.queued.size(), 1u);
    EXPECT_EQ(channel.Element(0), 0x05);

    channel.queued.clear();
    channel.accept = false;
    Start(TTUCommand::tuCommand_Off, 3);
    Pass();
    clock.Advance(6001);
    Pass();
    EXPECT_TRUE(tu.Idle());
    channel.accept = true;
    Pass();
    EXPECT_TRUE(channel.queued.empty());
}

TEST_F(Sequencer, InitWithoutAddressesStartsNothing)
{
    EXPECT_FALSE(tu.Init(TTUCommand::tuCommand_Off, kCa, 0, TAsduLayout{}, false, 0));
    EXPECT_TRUE(tu.Idle());
    EXPECT_EQ(tu.TUCommand, TTUCommand::tuCommand_Empty);
    EXPECT_TRUE(Has("Error: Ошибка инициализации ТУ. Нет МЭК-адреса ТУ!"));
    EXPECT_FALSE(tu.Init(TTUCommand::tuCommand_Off, 0, kIoa, TAsduLayout{}, true, 0));
    EXPECT_TRUE(tu.Idle());
    Pass();
    EXPECT_TRUE(channel.queued.empty());
}

TEST_F(Sequencer, UnknownKindDoesNotTakeOverARunningCommand)
{
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    EXPECT_FALSE(tu.Init(TTUCommand::tuCommand_Off, kCa, 777, TAsduLayout{}, true, 4));
    EXPECT_FALSE(tu.Init(TTUCommand::tuCommand_Off, kCa, 0, TAsduLayout{}, true, 0));
    EXPECT_EQ(tu.TUCommand, TTUCommand::tuCommand_On); // the execute keeps the selected state
    EXPECT_EQ(tu.CtrlObjAddr, kIoa);
    EXPECT_EQ(tu.step1, S::stuSendSelect);
    EXPECT_TRUE(Answer(45, 7));
}

// A command whose ASDU cannot be built is aborted; the ASDU of the command
// it replaced is never sent in its place.
TEST_F(Sequencer, FailedBuildAbortsTheCommand)
{
    Start(TTUCommand::tuCommand_On, 0);
    Pass();
    ASSERT_EQ(channel.queued.size(), 1u);
    tu.Init(TTUCommand::tuCommand_Empty, kCa, kIoa, TAsduLayout{}, true, 1);
    Pass();
    EXPECT_TRUE(tu.Idle());
    EXPECT_FALSE(tu.asdu);
    EXPECT_TRUE(Has("(iec3)CreateAsduTUCommand() Команда не опознана!"));
    Pass();
    EXPECT_EQ(channel.queued.size(), 1u);
}

// An address wider than its field would be cut to another object's or
// another station's address: such a command is aborted, never sent.
TEST_F(Sequencer, AddressesWiderThanTheirFieldsAbortTheCommand)
{
    struct Case {
        int ca, ioa;
        TAsduLayout layout;
    };
    const Case cases[] = {
        {kCa, 0x10000 + kIoa, TAsduLayout::Make(2, 2, 2)}, // would reach object 5000
        {0x100 + kCa, kIoa, TAsduLayout::Make(2, 1, 3)},   // would reach station 1
        {kCa, 0x1000000 + kIoa, TAsduLayout{}},
        {kCa, -kIoa, TAsduLayout{}},
    };
    for (const Case& c : cases) {
        for (int type : {0, 1, 2, 3}) {
            tu.Init(TTUCommand::tuCommand_On, c.ca, c.ioa, c.layout, true, type);
            Pass();
            Pass();
            EXPECT_TRUE(tu.Idle()) << c.ca << ":" << c.ioa << " type " << type;
        }
    }
    EXPECT_TRUE(channel.queued.empty());

    // Addresses that fill their fields exactly still go out.
    tu.Init(TTUCommand::tuCommand_On, 0xFF, 0xFFFF, TAsduLayout::Make(1, 1, 2), true, 1);
    Pass();
    ASSERT_EQ(channel.queued.size(), 1u);
    EXPECT_EQ(HexText(channel.queued[0].data(), channel.queued[0].size()), "2D 01 06 FF FF FF 05");
}

TEST_F(Sequencer, WithoutExecuteSwitchTheConfirmedSelectWaitsForTheTimeout)
{
    tu.Init(TTUCommand::tuCommand_On, kCa, kIoa, TAsduLayout{}, false, 0);
    Pass();
    EXPECT_TRUE(Answer(45, 7));
    Pass();
    EXPECT_EQ(tu.step1, S::stuActSelect);
    EXPECT_EQ(channel.queued.size(), 1u);
    clock.Advance(6001);
    Pass();
    EXPECT_TRUE(tu.Idle());
}

} // namespace
} // namespace gw
