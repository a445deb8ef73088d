#include "core/files.h"

#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace gw {
namespace {

unsigned ModeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(Files, ReplaceWholeFileKeepsTheModeOfTheFileItReplaces)
{
    test::TempDir dir;
    const std::string path = dir.File("cnf.ini");
    ASSERT_TRUE(ReplaceWholeFile(path, "first"));
    EXPECT_EQ(ModeOf(path), 0644u); // a new file
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(ReplaceWholeFile(path, std::string("second\0", 7)));
    EXPECT_EQ(dir.Read("cnf.ini"), std::string("second\0", 7));
    EXPECT_EQ(ModeOf(path), 0600u);

    std::filesystem::create_directory(dir.File("sub"));
    EXPECT_FALSE(ReplaceWholeFile(dir.File("sub"), "x")); // a directory is not replaced
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("sub")));
    EXPECT_FALSE(ReplaceWholeFile(dir.File("missing/f"), "x"));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2); // cnf.ini and sub, no temporary left
}

} // namespace
} // namespace gw
