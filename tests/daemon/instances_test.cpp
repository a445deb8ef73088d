#include "daemon/instances.h"

#include "named_child.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

// PATH for the life of the object, the old one back afterwards.
class PathSetTo {
public:
    explicit PathSetTo(const std::string& path)
    {
        if (const char* old = std::getenv("PATH"))
            old_ = old;
        ::setenv("PATH", path.c_str(), 1);
    }
    ~PathSetTo()
    {
        if (old_)
            ::setenv("PATH", old_->c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    PathSetTo(const PathSetTo&) = delete;
    PathSetTo& operator=(const PathSetTo&) = delete;

private:
    std::optional<std::string> old_;
};

// A "pgrep" and a "reboot" planted in a directory of the inherited PATH are
// never run: the system's own are.
TEST(TPgrepLister, PlantedProgramsOnThePathAreNotRun)
{
    TempDir dir;
    const std::string marker = dir.File("planted-ran");
    for (const char* name : {"pgrep", "reboot"}) {
        dir.Write(name, "#!/bin/sh\ntouch " + marker + "\n");
        std::filesystem::permissions(dir.File(name), std::filesystem::perms::owner_all);
    }
    const std::string name = UniqueName("fgpath");
    NamedChild child(dir, name);

    PathSetTo planted(dir.path());
    TStringList lines;
    TPgrepLister(name).List(lines);
    EXPECT_EQ(lines, TStringList{child.PidText()});
    EXPECT_FALSE(std::filesystem::exists(marker));
    for (const char* program : {"pgrep", "reboot"}) {
        const std::string path = SystemProgram(program);
        EXPECT_TRUE(path.rfind("/usr/", 0) == 0 || path.rfind("/bin/", 0) == 0 || path.rfind("/sbin/", 0) == 0)
            << program << ": " << path;
        EXPECT_EQ(path.substr(path.rfind('/') + 1), program);
    }
    EXPECT_EQ(SystemProgram("no-such-program-fgw"), "");
}

} // namespace
} // namespace gw::test
