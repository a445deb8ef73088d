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
    bool QueueTuAsdu(const TIEC_ASDUt&) override
    {
        ++frames;
        return true;
    }
};

class Drops : public TTuQueueLog {
public:
    std::vector<std::string> lines;
    void TuDropped(const TTuOrder& order, const std::string& why) override
    {
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
    void Pass()
    {
        tu.TuService1(channel);
        if (queue.Service(true, TAsduLayout{}))
            tu.TuService1(channel);
    }
    void Answer(int ioa, int cot)
    {
        const std::uint8_t element[1] = {0x05};
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
    for (int k = 0; k < 3; ++k)
        Pass();
    EXPECT_EQ(channel.frames, 1);
    Answer(5001, 10);
    Pass();
    EXPECT_EQ(channel.frames, 2);
    EXPECT_EQ(tu.CtrlObjAddr, 5002);
    EXPECT_TRUE(drops.lines.empty());
}

} // namespace
} // namespace gw
