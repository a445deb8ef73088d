// The framework log and its errors, time stamps, task memory sizes.
#include "opcda/framework.h"
#include "opcda/opc_core.h"
#include "opcda/opc_defs.h"
#include "support/fake_clock.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace opcda::test {
namespace {

TEST(FrameworkLog, OffWritesNothingOnWritesLinesAndReportsErrors)
{
    gw::test::TempDir dir;
    setFrameworkLog(nullptr);
    LogLine("nothing");
    EXPECT_FALSE(std::filesystem::exists(dir.File("OPCLog.txt")));

    auto log = std::make_shared<TLogging>(dir.File("OPCLog.txt"));
    log->Init();
    setFrameworkLog(log);
    LogLine("sOPCGroup.Create");
    LogException("ctx", "what");
    std::ifstream in(dir.File("OPCLog.txt"));
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, "sOPCGroup.Create\r");
    EXPECT_NE(second.find(" 00000000 ctx - what"), std::string::npos);

    std::vector<std::string> reported;
    setMessageReporter([&](const std::string& m) { reported.push_back(m); });
    setFrameworkLog(std::make_shared<TLogging>(dir.File("missing/OPCLog.txt")));
    LogLine("lost");
    setFrameworkLog(nullptr);
    setMessageReporter(nullptr);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], "WriteToLogFile 4 Error: 2");
}

TEST(FrameworkLog, BuffersUpToTheInterval)
{
    gw::test::TempDir dir;
    TLogging log(dir.File("OPCLog.txt"));
    log.SetWriteIntervall(3);
    EXPECT_TRUE(log.WriteIntoFile("a"));
    EXPECT_TRUE(log.WriteIntoFile("b"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("OPCLog.txt")));
    EXPECT_FALSE(log.WriteIntoFile("c"));
    std::ifstream in(dir.File("OPCLog.txt"));
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all, "a\r\nb\r\nc\r\n");
}

TEST(FrameworkTime, ZeroIsTheEpochOfDatesInLocalTime)
{
    com::FixedLocalZone zone(3 * 3600);
    com::FILETIME ft{};
    DateTimeToFileTime(ft, 0, zone);
    EXPECT_EQ(com::fileTimeValue(ft), 109205ull * 864'000'000'000ull - 3ull * 3600 * 10'000'000);
}

TEST(FrameworkTaskMemory, SizesAreThoseOfThisPlatform)
{
    const long before = com::taskMemOutstanding();
    com::HRESULT hr = com::S_OK;
    auto* results = com::taskAlloc<OPCITEMRESULT>(5, hr);
    ASSERT_NE(results, nullptr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(results);
    for (std::size_t i = 0; i < 5 * sizeof(OPCITEMRESULT); ++i)
        ASSERT_EQ(bytes[i], 0);
    FreeTaskMem(results);
    FreeTaskMem(nullptr);
    EXPECT_EQ(sizeof(com::VARIANT), 16u);
    EXPECT_EQ(com::taskMemOutstanding(), before);
}

} // namespace
} // namespace opcda::test
