// The interruptible wait: deadlines on a clock moved by hand and on the real
// clock, wakes, socket events, and a stop that ends every waiter.

#include "service/thread.h"
#include "service/wait.h"

#include "channel_rig.h"

#include <unistd.h>

#include <array>

namespace gw::test {
namespace {

TEST(Wait, SleepsUntilAMovedClockReachesTheDeadline)
{
    FakeClock fake;
    ChannelClock clock(fake);
    TWait wait(clock);
    std::atomic<bool> reached{false};
    TThread thread;
    const std::int64_t until = fake.MonotonicMs() + 100;
    wait.Enter();
    thread.Start([&] { reached = wait.WaitUntil(until); }, [&] { wait.RequestStop(); });

    fake.Advance(99);
    ASSERT_TRUE(clock.AwaitPass());
    EXPECT_FALSE(thread.Ended()) << "a millisecond short of the deadline";
    fake.Advance(1);
    ASSERT_TRUE(thread.Join(10000)) << "the move itself wakes the waiter";
    EXPECT_TRUE(reached);
}

TEST(Wait, WakeAndSocketEventsEndAPollWithoutDeadline)
{
    FakeClock clock;
    TWait wait(clock);
    wait.Wake();
    EXPECT_EQ(wait.Poll(-1, 0), 0) << "a wake ends the wait, with no events of its own";

    std::array<int, 2> pipe{};
    ASSERT_EQ(::pipe(pipe.data()), 0);
    ASSERT_EQ(::write(pipe[1], "x", 1), 1);
    EXPECT_TRUE(wait.Poll(pipe[0], POLLIN) & POLLIN);
    pollfd fds[2] = {{pipe[1], POLLOUT, 0}, {pipe[0], POLLIN, 0}};
    wait.Poll(fds, NoDeadlineMs);
    EXPECT_TRUE(fds[0].revents & POLLOUT);
    EXPECT_TRUE(fds[1].revents & POLLIN);
    ::close(pipe[0]);
    ::close(pipe[1]);
}

// One stop ends the waits of every thread on the wait, present and future.
TEST(Wait, StopEndsEveryWaiterAndEveryLaterWait)
{
    FakeClock clock;
    TWait wait(clock);
    std::atomic<int> cut{0};
    std::vector<std::unique_ptr<TThread>> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(std::make_unique<TThread>());
        threads.back()->Start([&] { cut += wait.WaitMs(600000) ? 0 : 1; });
    }
    wait.RequestStop();
    for (auto& thread : threads)
        ASSERT_TRUE(thread->Join(10000));
    EXPECT_EQ(cut, 3);
    EXPECT_FALSE(wait.WaitUntil(NoDeadlineMs));
}

TEST(Wait, RealClockDeadlineIsNotLeftEarly)
{
    TWait wait(SystemClock());
    const std::int64_t start = SystemClock().MonotonicMs();
    EXPECT_TRUE(wait.WaitMs(20));
    EXPECT_GE(SystemClock().MonotonicMs() - start, 20);
}

} // namespace
} // namespace gw::test
