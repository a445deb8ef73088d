// The command queue in front of a real sequencer, on a fake clock, with a
// channel that takes every frame and a log that records dropped commands.

#include "core/commandqueue.h"

#include "support/fake_clock.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

constexpr int kCa = 1;

class Channel : public TTuSender {
public:
    int frames = 0;
    bool takes = true; // false: the link refuses frames, as without data transfer
    bool QueueTuAsdu(const TIEC_ASDUt&) override
    {
        if (takes)
            ++frames;
        return takes;
    }
};

// The commands dropped in lines; how every command ended in ends.
class Drops : public TTuQueueLog {
public:
    std::vector<std::string> lines;
    std::vector<std::pair<int, TTuOutcome>> ends;
    void TuEnded(const TTuOrder& order, TTuOutcome outcome, const std::string& why) override
    {
        ends.emplace_back(order.sstID, outcome);
        if (outcome == TTuOutcome::Dropped)
            lines.push_back(std::to_string(order.sstID) + " " + why);
    }
};

class CommandQueue : public ::testing::Test {
protected:
    TTypeIdentList types;
    test::FakeClock clock;
    TElemTU tu{clock, types, nullptr};
    Drops drops;
    TTuQueue queue{tu, clock, &drops};
    Channel channel;

    TTuOrder Order(int sstID, int ioa, int type_tu)
    {
        return {TTUCommand::tuCommand_On, kCa, ioa, type_tu, sstID, "КП 1"};
    }
    // One pass as the link runs it.
    void Pass(bool dataTransfer = true)
    {
        tu.TuService1(channel);
        if (queue.Service(dataTransfer, TAsduLayout{}))
            tu.TuService1(channel);
    }
    // The station's answer; the element mirrors a single ON execute unless given.
    void Answer(int ioa, int cot, std::uint8_t sco = 0x05)
    {
        const std::uint8_t element[1] = {sco};
        TIEC_ASDUt sent(45, 1, cot, kCa, ioa, element, TAsduLayout{}, types);
        std::uint8_t bytes[kMaxAsduLen];
        const int n = sent.Encode(bytes);
        TIEC_ASDUt rx(std::span(bytes, static_cast<std::size_t>(n)), 0, n, TAsduLayout{}, types);
        tu.OnConfirmation(rx);
        queue.OnAsdu(rx);
    }
};

// An order the sequencer cannot start is dropped with a line; the next one
// starts in the same pass.
TEST_F(CommandQueue, AnOrderTheSequencerRefusesIsDroppedAndTheNextStarts)
{
    ASSERT_TRUE(queue.Push(Order(1, 5001, 9)));
    ASSERT_TRUE(queue.Push(Order(2, 5002, 1)));
    Pass();
    ASSERT_EQ(drops.lines.size(), 1u);
    EXPECT_EQ(drops.lines[0], "1 команда не инициализирована,");
    EXPECT_EQ(tu.CtrlObjAddr, 5002);
    EXPECT_EQ(channel.frames, 1);
}

// Only the station's answer to the running command's own execute completes
// it: not another object's, not a spontaneous or interrogated report.
TEST_F(CommandQueue, AnswersForOtherObjectsOrWithOtherCausesDoNotComplete)
{
    ASSERT_TRUE(queue.Push(Order(1, 5001, 1)));
    ASSERT_TRUE(queue.Push(Order(2, 5002, 1)));
    Pass(); // the first one's execute
    ASSERT_EQ(channel.frames, 1);
    Answer(5002, 7);  // another object
    Answer(5001, 3);  // spontaneous
    Answer(5001, 20); // interrogated
    for (int cot : {7, 10, 0x47})
        Answer(5001, cot, 0x85); // answers to a select of the object
    Answer(5001, 7, 0x04);       // an execute of the other state
    for (int k = 0; k < 3; ++k)
        Pass();
    EXPECT_EQ(channel.frames, 1);
    Answer(5001, 10);
    Pass();
    EXPECT_EQ(channel.frames, 2);
    EXPECT_EQ(tu.CtrlObjAddr, 5002);
    EXPECT_TRUE(drops.lines.empty());
}

// A command still running when the data transfer stops, its execute not
// yet out, ends there: neither its select's execute nor a direct execute the
// link refused goes out on the next connection.
TEST_F(CommandQueue, ACommandWhoseExecuteHasNotLeftEndsWhenTheTransferStops)
{
    struct TCase {
        const char* what;
        int type_tu;
        bool selectConfirmed;
    };
    const TCase cases[] = {
        {"direct execute the link refused", 1, false},
        {"select waiting for its confirmation", 0, false},
        {"select confirmed, execute not yet out", 0, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        drops.lines.clear();
        channel.frames = 0;
        channel.takes = c.type_tu == 0; // the direct one meets a link already going
        ASSERT_TRUE(queue.Push(Order(7, 5001, c.type_tu)));
        Pass();
        if (c.selectConfirmed) {
            Answer(5001, 7, 0x85);
            channel.takes = false;
            Pass(); // the execute is formed; the link refuses it
        }
        const int sent = channel.frames;
        Pass(false);
        ASSERT_EQ(drops.lines.size(), 1u);
        EXPECT_EQ(drops.lines[0], "7 нет связи с");
        EXPECT_TRUE(tu.Idle());

        channel.takes = true; // connected again
        for (int k = 0; k < 3; ++k)
            Pass();
        EXPECT_EQ(channel.frames, sent);
        if (c.selectConfirmed)
            Answer(5001, 7, 0x85); // a late confirmation of the old select starts nothing
        Pass();
        EXPECT_EQ(channel.frames, sent);
    }
}

// A command whose execute is out completes at the stop without an answer:
// the station may have carried it out, so it is not reported as dropped.
TEST_F(CommandQueue, ACommandWhoseExecuteLeftIsNotReportedDroppedAtTheStop)
{
    ASSERT_TRUE(queue.Push(Order(1, 5001, 1)));
    Pass();
    ASSERT_EQ(channel.frames, 1);
    Pass(false);
    EXPECT_TRUE(drops.lines.empty());
    EXPECT_EQ(drops.ends, (std::vector<std::pair<int, TTuOutcome>>{{1, TTuOutcome::NoAnswer}}));
    ASSERT_TRUE(queue.Push(Order(2, 5002, 1)));
    Pass();
    EXPECT_EQ(channel.frames, 2);
    EXPECT_EQ(tu.CtrlObjAddr, 5002);
}

// Every command ends once, with what became of it.
TEST_F(CommandQueue, EachCommandEndsOnceWithItsOutcome)
{
    struct TCase {
        const char* what;
        int type_tu;
        bool linkTakes;
        int answerCot;         // to the select (type 0) or the execute (type 1); 0: none, the time-out passes
        std::uint8_t answered; // the element answered
        TTuOutcome outcome;
    };
    const TCase cases[] = {
        {"execute confirmed", 1, true, 7, 0x05, TTuOutcome::Executed},
        {"execute terminated", 1, true, 10, 0x05, TTuOutcome::Executed},
        {"execute refused", 1, true, 0x47, 0x05, TTuOutcome::Refused},
        {"select refused", 0, true, 0x47, 0x85, TTuOutcome::Refused},
        {"select unanswered", 0, true, 0, 0, TTuOutcome::NoAnswer},
        {"execute unanswered", 1, true, 0, 0, TTuOutcome::NoAnswer},
        {"direct execute never taken by the link", 1, false, 0, 0, TTuOutcome::Dropped},
    };
    int sstID = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        drops.ends.clear();
        channel.takes = c.linkTakes;
        ASSERT_TRUE(queue.Push(Order(++sstID, 5001, c.type_tu)));
        Pass();
        if (c.answerCot != 0)
            Answer(5001, c.answerCot, c.answered);
        else
            clock.Advance(6001);
        for (int k = 0; k < 3; ++k)
            Pass();
        EXPECT_EQ(drops.ends, (std::vector<std::pair<int, TTuOutcome>>{{sstID, c.outcome}}));
        EXPECT_FALSE(queue.Running());
    }
}

} // namespace
} // namespace gw
