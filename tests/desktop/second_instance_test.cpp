// The program itself, started twice in one session: the second start is
// refused at once with its message, the first goes on and ends cleanly.

#include "desktop/texts.h"
#include "testkit/child_lines.h"
#include "testkit/temp_dir.h"

#include <Poco/Process.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

namespace gw::test {
namespace {

// A program that failed to end is killed, so a failing case cannot hang the run.
struct KillLeftOver {
    ~KillLeftOver()
    {
        if (!child.Closed())
            ::kill(child.Pid(), SIGKILL);
    }
    const ChildLines& child;
};

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(SecondInstance, IsRefusedWhileTheFirstRunsAndTheFirstGoesOn)
{
    TempDir session, folder;
    folder.Write("iec104.cfg", ";kol,0\r\n");
    // The session's runtime directory holds the lock; no screen is needed.
    const Poco::Process::Env env{{"XDG_RUNTIME_DIR", session.path()}, {"QT_QPA_PLATFORM", "offscreen"}};
    const std::vector<std::string> args{"--dir", folder.path()};
    ChildLines first(OPCSTATION_PROGRAM, args, env, ChildLines::Stderr::InOutput);
    const KillLeftOver firstLeft{first};
    ASSERT_TRUE(first.WaitFor("opcstation: running in " + folder.path(), std::chrono::seconds(30)));

    ChildLines second(OPCSTATION_PROGRAM, args, env, ChildLines::Stderr::InOutput);
    const KillLeftOver secondLeft{second};
    ASSERT_TRUE(second.WaitForEnd(std::chrono::seconds(30))) << "the second start did not end";
    EXPECT_TRUE(HasLine(second.Lines(), desktop::texts::AlreadyRunning));
    EXPECT_EQ(second.Close(), 1);
    EXPECT_FALSE(std::filesystem::exists(folder.File("error_iec104.log")));

    ASSERT_TRUE(Poco::Process::isRunning(first.Pid()));
    // Stopped as a session's end stops it: the window closes, the exit is clean.
    ASSERT_EQ(::kill(first.Pid(), SIGTERM), 0);
    EXPECT_TRUE(first.WaitForEnd(std::chrono::seconds(30)));
    EXPECT_EQ(first.Close(), 0);
}

// The registration switches run without a window and end; while an instance
// runs they are refused like any second start, and register nothing.
TEST(SecondInstance, RegistrationSwitchEndsAtOnceAndIsRefusedWhileAnInstanceRuns)
{
    TempDir session, folder;
    folder.Write("iec104.cfg", ";kol,0\r\n");
    const Poco::Process::Env env{{"XDG_RUNTIME_DIR", session.path()}, {"QT_QPA_PLATFORM", "offscreen"}};
    for (const char* sw : {"/REGSERVER", "-unregserver"}) {
        ChildLines alone(OPCSTATION_PROGRAM, {"--dir", folder.path(), sw}, env, ChildLines::Stderr::InOutput);
        const KillLeftOver left{alone};
        ASSERT_TRUE(alone.WaitForEnd(std::chrono::seconds(30))) << sw << " did not end";
        EXPECT_EQ(alone.Close(), 0) << sw;
        EXPECT_FALSE(HasLine(alone.Lines(), "opcstation: running in " + folder.path())) << sw;
        const std::string done = sw[1] == 'R' ? "registered" : "unregistered";
        EXPECT_TRUE(HasLine(alone.Lines(), "opcstation: OPC DA server " + done
                                               + " in the in-process registry store, which ends with the program"));
    }

    ChildLines first(OPCSTATION_PROGRAM, {"--dir", folder.path()}, env, ChildLines::Stderr::InOutput);
    const KillLeftOver firstLeft{first};
    ASSERT_TRUE(first.WaitFor("opcstation: running in " + folder.path(), std::chrono::seconds(30)));
    ChildLines reg(OPCSTATION_PROGRAM, {"--dir", folder.path(), "/regserver"}, env, ChildLines::Stderr::InOutput);
    const KillLeftOver regLeft{reg};
    ASSERT_TRUE(reg.WaitForEnd(std::chrono::seconds(30)));
    EXPECT_TRUE(HasLine(reg.Lines(), desktop::texts::AlreadyRunning));
    EXPECT_EQ(reg.Close(), 1);
    ASSERT_EQ(::kill(first.Pid(), SIGTERM), 0);
    EXPECT_TRUE(first.WaitForEnd(std::chrono::seconds(30)));
    EXPECT_EQ(first.Close(), 0);
}

} // namespace
} // namespace gw::test
