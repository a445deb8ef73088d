#include "daemon/fieldgate.h"

#include "daemon/serviceevents.h"
#include "event_lines.h"
#include "service/servicelog.h"
#include "sim_clock.h"
#include "support/fake_clock.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <chrono>
#include <thread>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace gw::test {
namespace {

TEST(RoleFromCommandLine, OnlyExactlyDashWFirstSelectsTheWatcher)
{
    struct Case {
        std::vector<const char*> args;
        TRole role;
    };
    const Case cases[] = {
        {{"fieldgate"}, TRole::Service},
        {{"fieldgate", "-w"}, TRole::Watcher},
        {{"fieldgate", "-w", "x"}, TRole::Watcher},
        {{"fieldgate", "-W"}, TRole::Service},
        {{"fieldgate", "x", "-w"}, TRole::Service},
        {{"fieldgate", "-w "}, TRole::Service},
        {{"fieldgate", ""}, TRole::Service},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RoleFromCommandLine(static_cast<int>(c.args.size()), c.args.data()), c.role)
            << (c.args.size() > 1 ? c.args[1] : "(none)");
}

TEST(ServiceEventStamp, DayAndMonthWithoutLeadingZerosTwoDigitYear)
{
    struct Case {
        TDateTimeParts when;
        const char* text;
    };
    const Case cases[] = {
        {{2026, 12, 9, 2, 34, 11, 0}, "9-12-26 02:34:11"},
        {{2030, 1, 1, 23, 5, 9, 400}, "1-1-30 23:05:09"},
        {{2005, 10, 31, 0, 0, 0, 0}, "31-10-05 00:00:00"},
    };
    for (const Case& c : cases) {
        TDateTime dt = 0;
        ASSERT_TRUE(TryEncodeDateTime(c.when, dt));
        EXPECT_EQ(ServiceEventStamp(dt), c.text);
    }
}

// The reason of a fatal stop stays in the service directory, as an event
// line, whatever stderr leads to; the process still ends at once with 1.
TEST(ServiceEventsDeathTest, FatalStopLeavesItsReasonInLogService)
{
    TempDir dir;
    const FakeClock clock;
    EXPECT_EXIT(
        {
            TServiceLog log(dir.path());
            SetFatalStopHandler(LogFatalStop(log, clock));
            FatalStop("Превшена константа MAXTITARM");
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(EventLines(dir.path()),
              std::vector<std::string>{ServiceEventStamp(clock.Now()) + ToCp1251(" Превшена константа MAXTITARM ")});
}

// Succeeds for the first `successes` launches, fails after.
class CountingLauncher final : public TLauncher {
public:
    explicit CountingLauncher(int successes = 1000) : successes_(successes) {}
    bool Launch() override { return ++calls <= successes_; }
    std::atomic<int> calls{0};

private:
    int successes_;
};

// What the entry did, in order.
using Journal = std::vector<std::string>;

class FakeDetacher final : public TDetacher {
public:
    FakeDetacher(Journal& journal, const TWatcherLaunch& launch, TForkSide side)
        : journal_(journal), launch_(launch), side_(side)
    {
    }
    TForkSide Detach() override
    {
        journal_.push_back(launch_.WatcherLaunched() ? "detach (watcher launched)" : "detach (no watcher)");
        return side_;
    }

private:
    Journal& journal_;
    const TWatcherLaunch& launch_;
    TForkSide side_;
};

struct ServiceScript {
    int reconfigureAtTick = 0; // 0: never
    int throwAtTick = 0;       // 0: never
    std::function<void()> onStop;
};

class FakeService final : public TServiceBody {
public:
    FakeService(Journal& journal, const ServiceScript& script) : journal_(journal), script_(script) {}
    void Start() override { journal_.push_back("start"); }
    void Tick() override
    {
        ++ticks_;
        journal_.push_back("tick");
        if (ticks_ == script_.throwAtTick)
            throw std::runtime_error("tick failed");
        if (ticks_ == script_.reconfigureAtTick)
            reconfigure_ = true;
    }
    void Stop() override
    {
        journal_.push_back("stop");
        if (script_.onStop)
            script_.onStop();
    }
    bool ReconfigureRequested() const override { return reconfigure_; }

private:
    Journal& journal_;
    const ServiceScript& script_;
    int ticks_ = 0;
    bool reconfigure_ = false;
};

// The entry with injected parts on a simulated clock.
class Entry {
public:
    explicit Entry(TForkSide side = TForkSide::Child, int launches = 1000)
        : launcher(launches), launch(launcher, clock, launchSleeper), detacher(journal, launch, side),
          events(dir.path())
    {
    }

    int Run(TRole role, pid_t pid = 4242)
    {
        TFieldgateParts parts{launch,
                              [this] {
                                  journal.push_back("life check");
                                  return serviceGone;
                              },
                              detacher,
                              [this] {
                                  serviceMadeAtMs = clock.MonotonicMs();
                                  return std::make_unique<FakeService>(journal, script);
                              },
                              loopSleeper,
                              events,
                              clock,
                              pid,
                              limits,
                              [this] { stopOverdue = true; },
                              [this](const char* text) { journal.push_back(std::string("failed: ") + text); }};
        return RunFieldgate(role, parts);
    }

    std::vector<std::string> EventLines() const { return test::EventLines(dir.path()); }

    TempDir dir;
    FakeClock clock;
    SimClock launchClock{clock};
    SimClock loopClock{clock};
    TWait launchSleeper{launchClock};
    TWait loopSleeper{loopClock};
    CountingLauncher launcher;
    TWatcherLaunch launch;
    Journal journal;
    FakeDetacher detacher;
    TServiceLog events;
    ServiceScript script;
    TFieldgateLimits limits;
    bool serviceGone = true;
    std::atomic<bool> stopOverdue{false};
    std::int64_t serviceMadeAtMs = 0;
};

// The stamp and the text, nothing else (the texts hold no regex specials).
bool IsEventLine(const std::string& line, const std::string& text)
{
    return std::regex_match(line, std::regex(R"(\d{1,2}-\d{1,2}-\d\d \d\d:\d\d:\d\d)" + text));
}

TEST(RunFieldgate, CallingProcessEndsAtTheForkOnceItsWatcherIsLaunched)
{
    Entry entry(TForkSide::Parent);
    EXPECT_EQ(entry.Run(TRole::Service), 0);
    EXPECT_EQ(entry.launcher.calls, 1);
    EXPECT_EQ(entry.journal, Journal({"detach (watcher launched)"}));
}

TEST(RunFieldgate, ServiceLoopsOnTheTickUntilReconfigurationThenStopsWithTwoLines)
{
    Entry entry;
    entry.script.reconfigureAtTick = 3;
    EXPECT_EQ(entry.Run(TRole::Service), 0);

    EXPECT_EQ(entry.journal, Journal({"detach (watcher launched)", "start", "tick", "tick", "tick", "stop"}));
    // One sleep after every tick, the last one included.
    EXPECT_EQ(entry.loopClock.Sleeps(), 3);
    EXPECT_EQ(entry.clock.MonotonicMs() - entry.serviceMadeAtMs, 3 * LoopPeriodMs);
    const std::vector<std::string> lines = entry.EventLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(IsEventLine(lines[0], " Reconfigure Service ")) << lines[0];
    EXPECT_TRUE(IsEventLine(lines[1], " End stop ")) << lines[1];
    EXPECT_EQ(lines[1], ServiceEventStamp(entry.clock.Now()) + " End stop ");
}

TEST(RunFieldgate, LoopEndedWithoutReconfigurationLogsOnlyTheEndOfTheStop)
{
    Entry entry;
    entry.loopSleeper.RequestStop();
    EXPECT_EQ(entry.Run(TRole::Service), 0);
    EXPECT_EQ(entry.journal, Journal({"detach (watcher launched)", "start", "tick", "stop"}));
    const std::vector<std::string> lines = entry.EventLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsEventLine(lines[0], " End stop ")) << lines[0];
}

TEST(RunFieldgate, FailureEscapingTheTickEndsWithoutStopOrLogLine)
{
    Entry entry;
    entry.script.throwAtTick = 2;
    EXPECT_THROW(entry.Run(TRole::Service), std::runtime_error);
    EXPECT_EQ(entry.journal, Journal({"detach (watcher launched)", "start", "tick", "tick", "failed: tick failed"}));
    EXPECT_TRUE(entry.EventLines().empty());
}

TEST(RunFieldgate, WatcherFindingTheServiceGoneBecomesTheServiceWithoutLaunchingItself)
{
    Entry entry;
    entry.script.reconfigureAtTick = 1;
    EXPECT_EQ(entry.Run(TRole::Watcher), 0);
    // The new watcher is the life check's business (its check thread).
    EXPECT_EQ(entry.launcher.calls, 0);
    EXPECT_EQ(entry.journal, Journal({"life check", "detach (no watcher)", "start", "tick", "stop"}));
}

TEST(RunFieldgate, StalledWatcherLaunchesAFreshOneAndEnds)
{
    Entry entry(TForkSide::Child, 1);
    // An earlier launch left the flag set; the replacement must see its own.
    entry.launch.start_watchdog_thread();
    ASSERT_TRUE(entry.launch.WaitWatcherLaunched(1000));
    entry.serviceGone = false;

    const std::int64_t start = entry.clock.MonotonicMs();
    EXPECT_EQ(entry.Run(TRole::Watcher), 0);
    EXPECT_EQ(entry.journal, Journal({"life check"}));
    EXPECT_EQ(entry.launcher.calls, 2);
    // That launch failed: the flag stays clear and the wait ends at its limit.
    EXPECT_FALSE(entry.launch.WatcherLaunched());
    EXPECT_GE(entry.clock.MonotonicMs() - start, entry.limits.WatcherLaunchMs);
    EXPECT_LT(entry.clock.MonotonicMs() - start, entry.limits.WatcherLaunchMs + 1000);
}

TEST(RunFieldgate, FailedWatcherLaunchHoldsTheCallingProcessOnlyUntilTheLimit)
{
    Entry entry(TForkSide::Parent, 0);
    const std::int64_t start = entry.clock.MonotonicMs();
    EXPECT_EQ(entry.Run(TRole::Service), 0);
    EXPECT_EQ(entry.journal, Journal({"detach (no watcher)"}));
    EXPECT_GE(entry.clock.MonotonicMs() - start, entry.limits.WatcherLaunchMs);
    EXPECT_LT(entry.clock.MonotonicMs() - start, entry.limits.WatcherLaunchMs + 1000);
}

TEST(RunFieldgate, AsProcessOneNothingRuns)
{
    Entry entry;
    EXPECT_EQ(entry.Run(TRole::Service, 1), 0);
    EXPECT_TRUE(entry.journal.empty());
    Entry watcher;
    EXPECT_EQ(watcher.Run(TRole::Watcher, 1), 0);
    EXPECT_EQ(watcher.journal, Journal({"life check"}));
}

TEST(RunFieldgate, StopThatTakesTooLongIsReportedAndTheEndStillLogged)
{
    Entry entry;
    entry.script.reconfigureAtTick = 1;
    entry.limits.StopMs = 10;
    // The stop hangs until the guard has spoken (or for at most 10 s).
    entry.script.onStop = [&] {
        for (int i = 0; i < 1000 && !entry.stopOverdue; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    EXPECT_EQ(entry.Run(TRole::Service), 0);
    EXPECT_TRUE(entry.stopOverdue);
    EXPECT_EQ(entry.EventLines().size(), 2u);
}

TEST(RunFieldgate, EventLineThatCannotBeWrittenIsDropped)
{
    Entry entry;
    entry.script.reconfigureAtTick = 1;
    std::filesystem::remove_all(entry.dir.path());
    EXPECT_EQ(entry.Run(TRole::Service), 0);
    EXPECT_EQ(entry.journal.back(), "stop");
    EXPECT_FALSE(std::filesystem::exists(entry.dir.path()));
}

} // namespace
} // namespace gw::test
