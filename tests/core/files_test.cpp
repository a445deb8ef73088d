#include "core/fatal.h"
#include "core/files.h"
#include "core/logcategories.h"
#include "core/messbuff.h"

#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace gw {
namespace {

using test::TempDir;

TEST(Files, MakePathTable)
{
    EXPECT_EQ(MakePath("/etc/fieldgated", "iec104.cfg"), "/etc/fieldgated/iec104.cfg");
    EXPECT_EQ(MakePath("/etc/fieldgated/", "iec104.cfg"), "/etc/fieldgated/iec104.cfg");
    EXPECT_EQ(MakePath("C:\\data\\", "f.txt"), "C:\\data\\f.txt");
    EXPECT_EQ(MakePath("C:\\data", "f.txt"), "C:\\data/f.txt");
    EXPECT_EQ(MakePath("", "f.txt"), "f.txt");
    EXPECT_EQ(TSubDir("/a", "b").path(), "/a/b");
}

TEST(Files, CheckDirForFile)
{
    TempDir dir;
    TMessBuff messages(10, LogError);
    std::string full;
    EXPECT_TRUE(CheckDirForFile(" " + dir.path() + " ", "x.log", full, false, "hint", messages));
    EXPECT_EQ(full, dir.File("x.log"));
    EXPECT_TRUE(CheckDirForFile("", "x.log", full, false, "hint", messages));
    EXPECT_EQ(full, "x.log");
    EXPECT_EQ(messages.Count(), 0);

    const std::string missing = dir.File("none");
    EXPECT_FALSE(CheckDirForFile(missing, "x.log", full, true, "hint", messages));
    EXPECT_FALSE(CheckDirForFile(missing, "x.log", full, false, "", messages));
    EXPECT_EQ(messages.Count(), 0); // silent, or no hint
    EXPECT_FALSE(CheckDirForFile(missing, "x.log", full, false, "hint", messages));
    EXPECT_EQ(full, missing + "/x.log");
    EXPECT_EQ(messages.Get(), "ERROR! Нет каталога для файла!\rкаталог:" + missing + "\rфайл:x.log\rhint");
}

TEST(Files, OpenTextFile)
{
    TempDir dir;
    dir.Write("a.txt", "line\n");
    std::ifstream f;
    std::string err = "stale";
    ASSERT_TRUE(OpenTextFile(f, dir.File("a.txt"), 'r', err));
    EXPECT_EQ(err, "");
    std::string line;
    std::getline(f, line);
    EXPECT_EQ(line, "line");

    std::ifstream g;
    EXPECT_FALSE(OpenTextFile(g, dir.File("missing.txt"), 'r', err));
    EXPECT_EQ(err, "ERROR:Не открывается файл:" + dir.File("missing.txt") + " mode=r");
}

TEST(Files, WriteWholeFileReplacesAtomically)
{
    TempDir dir;
    const std::string path = dir.File("cnf.ini");
    ASSERT_TRUE(WriteWholeFile(path, "old"));
    ASSERT_TRUE(WriteWholeFile(path, std::string("new\0bytes", 9)));
    EXPECT_EQ(dir.Read("cnf.ini"), std::string("new\0bytes", 9));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0644, 0644u);
    // Only the file itself is left: no temporary beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_FALSE(WriteWholeFile(dir.File("no/such/dir/f"), "x"));
}

TEST(Fatal, StopIsReplaceableInTests)
{
    struct Stopped {
        std::string text;
    };
    SetFatalStopHandler([](const std::string& text) { throw Stopped{text}; });
    try {
        FatalStop("no queue");
        ADD_FAILURE() << "FatalStop returned";
    } catch (const Stopped& stopped) {
        EXPECT_EQ(stopped.text, "no queue");
    }
    SetFatalStopHandler(nullptr);
}

// The reason reaches stderr and the handler; then the process ends at once:
// no destructor of a static object runs (nor would one of another thread's
// objects).
TEST(Fatal, StopWritesStderrAndTheHandlerAndEndsWithOneWithoutDestructors)
{
    TempDir dir;
    const std::string reported = dir.File("reported"), destroyed = dir.File("destroyed");
    EXPECT_EXIT(
        {
            struct TWitness {
                std::string file;
                ~TWitness() { std::ofstream(file) << "destroyed"; }
            };
            static TWitness witness{destroyed};
            SetFatalStopHandler([&](const std::string& text) { std::ofstream(reported) << text; });
            FatalStop("Фатальная ошибка");
        },
        ::testing::ExitedWithCode(1), "Фатальная ошибка");
    EXPECT_EQ(dir.Read("reported"), "Фатальная ошибка");
    EXPECT_FALSE(std::filesystem::exists(destroyed)) << "destructors ran";
}

} // namespace
} // namespace gw
