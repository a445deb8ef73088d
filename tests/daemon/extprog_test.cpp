#include "daemon/extprog.h"

#include "named_child.h"
#include "support/emulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace gw::test {
namespace {

using Lines = TStringList;

TEST(SplitOutputLines, EndsLinesAtCrLfAndCrLf)
{
    struct Case {
        const char* text;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"\n", {""}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\r\nb\r", {"a", "", "b"}},
    };
    for (const Case& c : cases) {
        Lines lines = {"old"};
        SplitOutputLines(c.text, lines);
        EXPECT_EQ(lines, c.lines) << "text: " << c.text;
    }
}

TEST(CallExternalProg, CollectsStdoutOfAShellCommandLine)
{
    struct Case {
        const char* command;
        Lines lines;
    };
    const Case cases[] = {
        {"printf 'a\\r\\nb\\rc\\nd'", {"a", "b", "c", "d"}},
        {"printf 'one\\n\\nthree\\n'", {"one", "", "three"}},
        {"echo out; echo err >&2", {"out"}}, // stderr is not collected
        {"cat", {}},                         // stdin is at its end at once
        {"true", {}},                        // nothing printed: no old line stays
        {"no-such-command-fgw", {}},         // the shell's complaint goes nowhere
    };
    for (const Case& c : cases) {
        Lines lines = {"from an earlier call"};
        call_external_prog(std::string(c.command), lines);
        EXPECT_EQ(lines, c.lines) << "command: " << c.command;
    }
}

TEST(CallExternalProg, CollectsOutputLongerThanOneRead)
{
    Lines lines;
    EXPECT_EQ(call_external_prog(std::string("seq 1 3000"), lines), 0);
    ASSERT_EQ(lines.size(), 3000u);
    EXPECT_EQ(lines.front(), "1");
    EXPECT_EQ(lines[2047], "2048");
    EXPECT_EQ(lines.back(), "3000");

    EXPECT_EQ(call_external_prog(std::string("head -c 5000 /dev/zero | tr '\\0' x"), lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(5000, 'x'));
}

TEST(CallExternalProg, ReturnsTheExitStatus)
{
    Lines lines;
    EXPECT_EQ(call_external_prog(std::string("exit 3"), lines), 3);
    EXPECT_EQ(call_external_prog(std::string("no-such-command-fgw"), lines), 127);
    EXPECT_EQ(call_external_prog(std::string("kill -9 $$"), lines), 128 + 9);
    EXPECT_EQ(call_external_prog_argv(std::vector<std::string>{"sh", "-c", "exit 4"}, lines), 4);
}

TEST(CallExternalProg, EmptyCommandRunsNothingAndKeepsTheList)
{
    Lines lines = {"kept"};
    EXPECT_EQ(call_external_prog(std::string(), lines), -1);
    EXPECT_EQ(call_external_prog_argv(std::vector<std::string>{}, lines), -1);
    EXPECT_EQ(call_external_prog_argv(std::vector<std::string>{""}, lines), -1);
    EXPECT_EQ(lines, Lines{"kept"});
}

TEST(CallExternalProg, ArgumentVectorReachesTheProgramUntouched)
{
    Lines lines;
    EXPECT_EQ(call_external_prog_argv(std::vector<std::string>{"printf", "%s\\n", "a b;c", "$HOME", "`id`"}, lines), 0);
    EXPECT_EQ(lines, (Lines{"a b;c", "$HOME", "`id`"}));
}

TEST(CallExternalProg, MissingProgramGivesTheShellsStatusAndNoLines)
{
    Lines lines = {"old"};
    EXPECT_EQ(call_external_prog_argv(std::vector<std::string>{"no-such-program-fgw", "x"}, lines), 127);
    EXPECT_TRUE(lines.empty());
    SKIP_UNDER_EMULATION_WHERE_SPAWN_HIDES_EXEC_FAILURES();
    EXPECT_EQ(call_external_prog_argv(std::vector<std::string>{"/etc/passwd"}, lines), 126);
}

TEST(CallExternalProg, PgrepListsTheProcessesOfAName)
{
    TempDir dir;
    const std::string name = UniqueName("fgp");
    NamedChild first(dir, name);
    NamedChild second(dir, name);

    Lines lines;
    call_external_prog("pgrep " + name, lines);
    std::sort(lines.begin(), lines.end());
    Lines expected = {first.PidText(), second.PidText()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

TEST(CallExternalProg, SeveralThreadsRunAtOnce)
{
    constexpr int Threads = 4;
    constexpr int Calls = 20;
    std::vector<int> wrong(Threads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < Calls; ++i) {
                const std::string text = std::to_string(t) + "-" + std::to_string(i);
                Lines lines;
                if (call_external_prog_argv(std::vector<std::string>{"echo", text}, lines) != 0 || lines != Lines{text})
                    ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(Threads, 0));
}

} // namespace
} // namespace gw::test
