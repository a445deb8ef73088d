#include "daemon/watcher.h"

#include "sim_clock.h"

#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace gw::test {
namespace {

const std::string Self = "4242";
const std::string Service = "4300";
const TStringList Pair = {Service, Self};
const TStringList Alone = {Self};
const TStringList Crowd = {Service, Self, "4400"};

// The processes the watcher would see, as a function of the milliseconds
// since the test began. At `endMs` the wait is stopped and the cycles end.
class WorldLister final : public TInstanceLister {
public:
    using World = std::function<TStringList(std::int64_t ms)>;
    WorldLister(FakeClock& clock, TWait& sleeper, World world, std::int64_t endMs)
        : clock_(clock), sleeper_(sleeper), world_(std::move(world)), start_(clock.MonotonicMs()), endMs_(endMs)
    {
    }
    void List(TStringList& lines) override
    {
        const std::int64_t ms = Elapsed();
        if (ms >= endMs_)
            sleeper_.RequestStop();
        lines = world_(ms);
    }
    std::int64_t Elapsed() const { return clock_.MonotonicMs() - start_; }

private:
    FakeClock& clock_;
    TWait& sleeper_;
    World world_;
    std::int64_t start_;
    std::int64_t endMs_;
};

// Never the machine's reboot: records when it was asked for; with
// `goesDown` the machine "goes down" and every wait ends.
class FakeReboot final : public TRebootAction {
public:
    FakeReboot(const WorldLister& world, TWait& sleeper, bool goesDown)
        : world_(world), sleeper_(sleeper), goesDown_(goesDown)
    {
    }
    void Reboot() override
    {
        {
            std::lock_guard lock(mutex_);
            at_.push_back(world_.Elapsed());
        }
        if (goesDown_)
            sleeper_.RequestStop();
    }
    std::vector<std::int64_t> At() const
    {
        std::lock_guard lock(mutex_);
        return at_;
    }

private:
    const WorldLister& world_;
    TWait& sleeper_;
    bool goesDown_;
    mutable std::mutex mutex_;
    std::vector<std::int64_t> at_;
};

class CountingLauncher final : public TLauncher {
public:
    bool Launch() override
    {
        ++calls;
        return true;
    }
    std::atomic<int> calls{0};
};

// One watcher with every outside part replaced.
struct Rig {
    Rig(WorldLister::World world, std::int64_t endMs, bool rebootGoesDown = true)
        : lister(clock, sleeper, std::move(world), endMs), reboot(lister, sleeper, rebootGoesDown)
    {
    }
    int Launches()
    {
        launch.reset(); // joins the launch thread
        return launcher.calls;
    }

    FakeClock clock;
    SimClock simClock{clock};
    TWait sleeper{simClock};
    WorldLister lister;
    FakeReboot reboot;
    CountingLauncher launcher;
    std::unique_ptr<TWatcherLaunch> launch = std::make_unique<TWatcherLaunch>(launcher, clock, sleeper);
    TWatcher watcher{{lister, reboot, *launch, clock, sleeper, Self}};
};

constexpr std::int64_t Minute = 60'000;

TEST(TWatcher, ServiceGoneIsConfirmedBeforeTakingOver)
{
    const std::int64_t serviceEnds = 20'000;
    Rig rig([=](std::int64_t ms) { return ms < serviceEnds ? Pair : Alone; }, 10 * Minute);

    rig.watcher.check_life_process();

    EXPECT_TRUE(rig.watcher.ServiceGone());
    const std::int64_t delay = rig.lister.Elapsed() - serviceEnds;
    EXPECT_GE(delay, 5'000);                 // the 5 s confirmation
    EXPECT_LE(delay, 2'000 + 1'000 + 5'000); // at most one cycle late
    EXPECT_EQ(rig.Launches(), 1);            // a new watcher for the new service
    EXPECT_TRUE(rig.reboot.At().empty());
}

TEST(TWatcher, OnlyOneLineThatIsItsOwnIdMeansGone)
{
    // Service missing for a moment (restarting), another process alone, our
    // id only inside another id, nothing countable: none of them is "gone".
    const std::vector<WorldLister::World> worlds = {
        [](std::int64_t ms) { return ms >= 20'000 && ms < 23'000 ? Alone : Pair; },
        [](std::int64_t) { return TStringList{Service}; },
        [](std::int64_t) { return TStringList{"14242"}; },
        [](std::int64_t) { return TStringList{}; },
    };
    for (std::size_t i = 0; i < worlds.size(); ++i) {
        Rig rig(worlds[i], 3 * Minute);
        rig.watcher.check_life_process();
        EXPECT_FALSE(rig.watcher.ServiceGone()) << "world " << i;
        EXPECT_EQ(rig.Launches(), 0) << "world " << i;
        EXPECT_TRUE(rig.reboot.At().empty()) << "world " << i;
        EXPECT_GT(rig.watcher.LifeCheckCounter(), 60) << "world " << i; // it kept counting
    }
}

TEST(TWatcher, LastingCrowdRebootsOnceAfterConfirmation)
{
    const std::int64_t crowdFrom = 10'000;
    Rig rig([=](std::int64_t ms) { return ms < crowdFrom ? Pair : Crowd; }, 10 * Minute);

    rig.watcher.check_life_process();

    const std::vector<std::int64_t> at = rig.reboot.At();
    ASSERT_EQ(at.size(), 1u);
    EXPECT_GE(at[0] - crowdFrom, 30'000);
    EXPECT_LE(at[0] - crowdFrom, 30'000 + 2'000 + 1'000);
    EXPECT_FALSE(rig.watcher.ServiceGone());
    EXPECT_EQ(rig.Launches(), 0);
}

TEST(TWatcher, ShortCrowdDoesNotReboot)
{
    // A service detaching or a watcher replacing itself: a crowd for seconds.
    Rig rig([](std::int64_t ms) { return ms >= 10'000 && ms < 15'000 ? Crowd : Pair; }, 5 * Minute);

    rig.watcher.check_life_process();

    EXPECT_TRUE(rig.reboot.At().empty());
}

TEST(TWatcher, FailedRebootIsTriedAgainAfterAnotherConfirmation)
{
    Rig rig([](std::int64_t) { return Crowd; }, 3 * Minute, /*rebootGoesDown=*/false);

    rig.watcher.check_life_process();

    const std::vector<std::int64_t> at = rig.reboot.At();
    ASSERT_GE(at.size(), 2u);
    EXPECT_GE(at[0], 30'000);
    for (std::size_t i = 1; i < at.size(); ++i)
        EXPECT_GE(at[i] - at[i - 1], 30'000);
}

TEST(TWatcher, LifeCheckReturnsServiceGoneWithTheNewWatcherLaunched)
{
    const std::int64_t serviceEnds = 30'000;
    Rig rig([=](std::int64_t ms) { return ms < serviceEnds ? Pair : Alone; }, 10 * Minute);

    EXPECT_TRUE(rig.watcher.wait_life_process());

    EXPECT_TRUE(rig.watcher.ServiceGone());
    const std::int64_t delay = rig.lister.Elapsed() - serviceEnds;
    EXPECT_GE(delay, 5'000 + 2'000);
    EXPECT_LE(delay, 2'000 + 1'000 + 5'000 + 1'000 + 2'000);
    EXPECT_EQ(rig.Launches(), 1);
    EXPECT_THROW(rig.watcher.wait_life_process(), std::logic_error);
}

// Counting that hangs (a "pgrep" that never returns) or fails (no process
// can be created): the check makes no progress, and after two minutes the
// life check gives up so that the watcher can be replaced.
class StalledLister final : public TInstanceLister {
public:
    StalledLister(TWait& sleeper, bool hangs) : sleeper_(sleeper), hangs_(hangs) {}
    void List(TStringList&) override
    {
        if (!hangs_)
            throw std::runtime_error("cannot start pgrep");
        // Hung outside any sleep: simulated time goes on without this thread.
        sleeper_.Leave();
        release_.wait();
        sleeper_.Enter();
    }
    void Release() { release_.count_down(); }

private:
    TWait& sleeper_;
    bool hangs_;
    std::latch release_{1};
};

TEST(TWatcher, LifeCheckReportsAStalledCheckAfterTwoMinutes)
{
    for (const bool hangs : {true, false}) {
        FakeClock clock;
        SimClock simClock(clock);
        TWait sleeper(simClock);
        StalledLister lister(sleeper, hangs);
        WorldLister unused(
            clock, sleeper, [](std::int64_t) { return Pair; }, 0);
        FakeReboot reboot(unused, sleeper, true);
        CountingLauncher launcher;
        {
            TWatcherLaunch launch(launcher, clock, sleeper);
            TWatcher watcher({lister, reboot, launch, clock, sleeper, Self});
            const std::int64_t start = clock.MonotonicMs();

            EXPECT_FALSE(watcher.wait_life_process()) << "hangs " << hangs;

            const std::int64_t took = clock.MonotonicMs() - start;
            EXPECT_GT(took, 2 * Minute) << "hangs " << hangs;
            EXPECT_LE(took, 2 * Minute + 2'000) << "hangs " << hangs;
            EXPECT_EQ(watcher.LifeCheckCounter(), 1) << "hangs " << hangs;
            EXPECT_FALSE(watcher.ServiceGone()) << "hangs " << hangs;
            lister.Release();
        } // a check thread still running is stopped through the wait and joined
        EXPECT_EQ(launcher.calls, 0) << "hangs " << hangs;
        EXPECT_TRUE(reboot.At().empty()) << "hangs " << hangs;
    }
}

} // namespace
} // namespace gw::test
