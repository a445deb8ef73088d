// `cmake --install` of this build into a temporary DESTDIR: the device layout
// under /etc/fieldgated, programs built for the machine the tests run on, and
// a second install over the first that keeps the user's web files.

#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using gw::test::TempDir;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

int Install(const std::string& destdir)
{
    const std::string command = "DESTDIR=" + Quoted(destdir) + " " + Quoted(CMAKE_PROGRAM) + " --install "
                                + Quoted(GATEWAY_BINARY_DIR) + " >" + Quoted(destdir + ".log") + " 2>&1";
    return std::system(command.c_str());
}

// The ELF machine field (e_machine, bytes 18-19): which processor a program is built for.
int ElfMachine(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    char header[20] = {};
    file.read(header, sizeof header);
    if (!file || std::string(header + 1, 3) != "ELF")
        return -1;
    return static_cast<unsigned char>(header[18]) | static_cast<unsigned char>(header[19]) << 8;
}

bool IsExecutable(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0;
}

TEST(Install, PutsTheServiceIntoItsDirectoryBuiltForThisMachine)
{
    TempDir root;
    const std::string destdir = root.File("dest");
    ASSERT_EQ(Install(destdir), 0) << root.Read("dest.log");

    const std::string dir = destdir + "/etc/fieldgated/";
    const int machine = ElfMachine("/proc/self/exe");
    EXPECT_TRUE(IsExecutable(dir + "fieldgate"));
    EXPECT_EQ(ElfMachine(dir + "fieldgate"), machine);
    EXPECT_EQ(ElfMachine(dir + "libtagserve.so"), machine);
    EXPECT_TRUE(std::ifstream(dir + "web/index-7.html").good());
    EXPECT_TRUE(std::ifstream(dir + "web/css/style.css").good());
}

TEST(Install, OverAnInstalledDeviceReplacesTheProgramAndKeepsTheWebFiles)
{
    TempDir root;
    const std::string destdir = root.File("dest");
    ASSERT_EQ(Install(destdir), 0) << root.Read("dest.log");
    const std::string dir = destdir + "/etc/fieldgated/";
    std::ofstream(dir + "web/index-7.html") << "the user's page";
    std::ofstream(dir + "fieldgate") << "an older program";

    ASSERT_EQ(Install(destdir), 0) << root.Read("dest.log");

    std::ifstream page(dir + "web/index-7.html");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(page), {}), "the user's page");
    EXPECT_EQ(ElfMachine(dir + "fieldgate"), ElfMachine("/proc/self/exe"));
}

} // namespace
