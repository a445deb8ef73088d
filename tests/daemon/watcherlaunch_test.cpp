#include "daemon/watcherlaunch.h"

#include "daemon/extprog.h"
#include "named_child.h"
#include "support/emulation.h"
#include "sim_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace gw::test {
namespace {

int WaitFor(pid_t pid)
{
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return status;
}

// Waits until the child runs its program: a spawn may return before the exec
// (under emulation it does), and the descriptors are set just before it.
bool WaitExec(pid_t pid, const std::string& comm)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(path);
        std::string line;
        if (std::getline(in, line) && line == comm)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(StartDetachedProgram, ChildHasItsStandardStreamsOnDevNull)
{
    const pid_t pid = StartDetachedProgram({"sleep", "600"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitExec(pid, "sleep"));
    const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const char* fd : {"0", "1", "2"})
        EXPECT_EQ(std::filesystem::read_symlink(fds / fd), "/dev/null") << "descriptor " << fd;
    ::kill(pid, SIGKILL);
    WaitFor(pid);
}

TEST(StartDetachedProgram, MissingProgramIsNotStarted)
{
    EXPECT_EQ(StartDetachedProgram({}), -1);
    SKIP_UNDER_EMULATION_WHERE_SPAWN_HIDES_EXEC_FAILURES();
    EXPECT_EQ(StartDetachedProgram({"/nonexistent/fieldgate", "-w"}), -1);
}

class CountingLauncher final : public TLauncher {
public:
    explicit CountingLauncher(bool succeeds) : succeeds_(succeeds) {}
    bool Launch() override
    {
        ++calls;
        return succeeds_;
    }
    std::atomic<int> calls{0};

private:
    bool succeeds_;
};

TEST(TWatcherLaunch, SetsWatcherLaunchedOnceTheProcessExists)
{
    FakeClock clock;
    SimClock simClock(clock);
    TWait sleeper(simClock);
    CountingLauncher launcher(true);
    TWatcherLaunch launch(launcher, clock, sleeper);
    EXPECT_FALSE(launch.WatcherLaunched());

    launch.start_watchdog_thread();
    EXPECT_TRUE(launch.WaitWatcherLaunched(10'000));
    EXPECT_EQ(launcher.calls, 1);

    launch.ClearWatcherLaunched();
    EXPECT_FALSE(launch.WatcherLaunched());
    launch.start_watchdog_thread();
    EXPECT_TRUE(launch.WaitWatcherLaunched(10'000));
    EXPECT_EQ(launcher.calls, 2);
}

TEST(TWatcherLaunch, WaitForAFailedLaunchEndsAtItsLimit)
{
    FakeClock clock;
    SimClock simClock(clock);
    TWait sleeper(simClock);
    CountingLauncher launcher(false);
    TWatcherLaunch launch(launcher, clock, sleeper);

    const std::int64_t start = clock.MonotonicMs();
    launch.start_watchdog_thread();
    EXPECT_FALSE(launch.WaitWatcherLaunched(10'000));
    EXPECT_GE(clock.MonotonicMs() - start, 10'000);
    EXPECT_LT(clock.MonotonicMs() - start, 10'200);
    EXPECT_EQ(launcher.calls, 1);
}

// Blocks in Launch until released, as a hung process creation would.
class BlockingLauncher final : public TLauncher {
public:
    bool Launch() override
    {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        return true;
    }
    void WaitEntered()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

TEST(TWatcherLaunch, JoinsTheLaunchThreadOnlyOnceItHasFinished)
{
    FakeClock clock;
    SimClock simClock(clock);
    TWait sleeper(simClock);
    BlockingLauncher launcher;
    TWatcherLaunch launch(launcher, clock, sleeper);
    EXPECT_TRUE(launch.JoinFinishedLaunch()) << "no launch yet";

    launch.start_watchdog_thread();
    launcher.WaitEntered();
    EXPECT_FALSE(launch.JoinFinishedLaunch());
    launcher.Release();
    EXPECT_TRUE(launch.WaitWatcherLaunched(10'000));
    while (!launch.JoinFinishedLaunch())
        std::this_thread::yield();
    EXPECT_TRUE(launch.JoinFinishedLaunch());
}

TEST(TWatcherLaunch, RealLaunchOfAProgram)
{
    TempDir dir;
    const std::string out = dir.File("started");
    FakeClock clock;
    SimClock simClock(clock);
    TWait sleeper(simClock);
    TProgramLauncher launcher({"/bin/sh", "-c", "echo -w > \"$0\"", out});
    {
        TWatcherLaunch launch(launcher, clock, sleeper);
        launch.start_watchdog_thread();
        EXPECT_TRUE(launch.WaitWatcherLaunched(10'000));
    }
    // The launch does not wait for its program; the only child of this test
    // is the one just launched, reaped here.
    int status = 0;
    ASSERT_GT(::waitpid(-1, &status, 0), 0);
    EXPECT_EQ(dir.Read("started"), "-w\n");

    SKIP_UNDER_EMULATION_WHERE_SPAWN_HIDES_EXEC_FAILURES();
    TProgramLauncher missing({"/nonexistent/fieldgate", "-w"});
    TWatcherLaunch failing(missing, clock, sleeper);
    failing.start_watchdog_thread();
    EXPECT_FALSE(failing.WaitWatcherLaunched(1'000));
}

} // namespace
} // namespace gw::test
