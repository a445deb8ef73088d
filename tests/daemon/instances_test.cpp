#include "daemon/instances.h"

#include "named_child.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <stdexcept>

namespace gw::test {
namespace {

TEST(TPgrepLister, RefusesNamesThatAreNotPlainFileNames)
{
    for (const char* name : {"", "-x", "--list-full", "a b", "a;reboot", "a/b", "a*", "$(id)", "fg\n", "\xd0\xb0"})
        EXPECT_THROW(TPgrepLister{name}, std::invalid_argument) << "name: " << name;
    EXPECT_NO_THROW(TPgrepLister{"fieldgate"});
    EXPECT_NO_THROW(TPgrepLister{"Field.gate_1-2"});
}

TEST(TPgrepLister, PatternIsLiteralAndAsLongAsAProcessName)
{
    EXPECT_EQ(TPgrepLister("fieldgate").Pattern(), "fieldgate");
    EXPECT_EQ(TPgrepLister("a.b").Pattern(), "a\\.b");
    EXPECT_EQ(TPgrepLister("fieldgate-with-a-long-name").Pattern(), "fieldgate-with-");
}

TEST(TPgrepLister, ListsOnlyProcessesOfExactlyThatName)
{
    TempDir dir;
    const std::string dotted = UniqueName("fg.w");
    const std::string plain = UniqueName("fgxw");
    NamedChild dottedChild(dir, dotted);
    NamedChild plainChild(dir, plain);
    // Other programs whose names contain the name: the program of another
    // test whose process id starts with this one's, a helper of the service.
    NamedChild longer(dir, dotted + "7");
    NamedChild around(dir, "z" + dotted + "z");

    TStringList lines;
    TPgrepLister(dotted).List(lines);
    EXPECT_EQ(lines, TStringList{dottedChild.PidText()}); // "." did not match the "x" of the other name

    TPgrepLister(plain).List(lines);
    EXPECT_EQ(lines, TStringList{plainChild.PidText()});
}

TEST(TPgrepLister, FindsAProgramWithALongName)
{
    TempDir dir;
    const std::string name = UniqueName("fgl") + "-a-rather-long-name";
    NamedChild child(dir, name);

    TStringList lines;
    TPgrepLister(name).List(lines);
    EXPECT_EQ(lines, TStringList{child.PidText()});
}

TEST(TPgrepLister, EndedButUnreapedProcessIsNoInstance)
{
    TempDir dir;
    const std::string name = UniqueName("fgz");
    NamedChild running(dir, name);
    NamedChild ended(dir, name);
    ::kill(ended.Pid(), SIGKILL);
    // Wait until it has ended, leaving it unreaped (a zombie) for now.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(ended.Pid()), &info, WEXITED | WNOWAIT), 0);

    TStringList lines;
    TPgrepLister(name).List(lines);
    EXPECT_EQ(lines, TStringList{running.PidText()});
}

TEST(TPgrepLister, NoProcessGivesNoLines)
{
    TStringList lines = {"old"};
    TPgrepLister(UniqueName("fgnone")).List(lines);
    EXPECT_TRUE(lines.empty());
}

} // namespace
} // namespace gw::test
