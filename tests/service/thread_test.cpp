// The service's thread: bounded join, the ended signal, and the stop step.

#include "service/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace gw {
namespace {

// A body that runs until the test lets it go.
struct THeldBody {
    std::mutex lock;
    std::condition_variable cv;
    bool released = false;

    void Run()
    {
        std::unique_lock<std::mutex> guard(lock);
        cv.wait(guard, [this] { return released; });
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            released = true;
        }
        cv.notify_all();
    }
};

TEST(Thread, JoinGivesUpWhileTheBodyRunsAndJoinsOnceItEnded)
{
    THeldBody body;
    TThread thread;
    thread.Start([&] { body.Run(); });
    EXPECT_FALSE(thread.Ended());
    EXPECT_FALSE(thread.Join(0));
    EXPECT_FALSE(thread.Join(10));
    EXPECT_TRUE(thread.Running()) << "a join that gave up leaves the thread to its owner";
    body.Release();
    ASSERT_TRUE(thread.Join(10000));
    EXPECT_TRUE(thread.Ended());
    EXPECT_FALSE(thread.Running());
}

TEST(Thread, TheStopStepIsWhatEndsTheBody)
{
    THeldBody body;
    std::atomic<int> stops{0};
    {
        TThread thread;
        thread.Start([&] { body.Run(); },
                     [&] {
                         ++stops;
                         body.Release();
                     });
        thread.RequestStop();
        ASSERT_TRUE(thread.Join(10000));
        thread.RequestStop(); // nothing runs any more: not asked again
    }
    EXPECT_EQ(stops, 1);

    THeldBody held;
    {
        TThread thread;
        thread.Start([&] { held.Run(); }, [&] { held.Release(); });
    } // the destructor asks and joins
    EXPECT_TRUE(held.released);
}

TEST(Thread, NeverStartedHasEndedAndJoinsAtOnce)
{
    TThread thread;
    EXPECT_TRUE(thread.Ended());
    EXPECT_TRUE(thread.Join(0));
    thread.RequestStop();
    EXPECT_FALSE(thread.Running());
}

} // namespace
} // namespace gw
