#include "service/servicelog.h"

#include <gtest/gtest.h>

#include "testkit/temp_dir.h"

#include <Poco/File.h>

#include <sstream>
#include <thread>
#include <vector>

namespace gw::test {
namespace {

class ServiceLog : public ::testing::Test {
protected:
    std::string ReadAll(const std::string& name) const { return dir.Read(name); }
    TempDir dir;
};

TEST_F(ServiceLog, AppendsWholeLinesInWindows1251)
{
    TServiceLog log(dir.path());
    log.AppendLogLine("Ошибка открытия сокета 2404", "error_iec104.txt");
    log.AppendThreadLog(" Connect - _10.0.0.1", "error_iec104.txt");
    // "Ошибка" in Windows-1251.
    EXPECT_EQ(ReadAll("error_iec104.txt"),
              "\xCE\xF8\xE8\xE1\xEA\xE0 \xEE\xF2\xEA\xF0\xFB\xF2\xE8\xFF \xF1\xEE\xEA\xE5\xF2\xE0 2404\n"
              " Connect - _10.0.0.1\n");
    EXPECT_EQ(ToCp1251("日"), "?");
}

TEST_F(ServiceLog, LinkTracesGoToTheirChannelsSocketFile)
{
    TServiceLog log(dir.path());
    TSocketTrace trace(log);
    TLinkTrace& link = trace;
    link.TraceLine(3, "То KP 10:00:00   68 04 07 00 00 00 ");
    link.TraceLine(3, "From KP 10:00:01 68 04 0B 00 00 00   Count =6");
    EXPECT_EQ(ReadAll("Socket3.txt"),
              ToCp1251("То KP 10:00:00   68 04 07 00 00 00 \nFrom KP 10:00:01 68 04 0B 00 00 00   Count =6\n"));
}

TEST_F(ServiceLog, MissingDirectoryIsSilentlyIgnored)
{
    TServiceLog log(dir.path() + "/no/such/dir");
    EXPECT_NO_THROW(log.AppendLogLine("x", "log_104.txt"));
    EXPECT_FALSE(Poco::File(dir.path() + "/no").exists());
}

TEST_F(ServiceLog, LinesFromManyThreadsNeitherInterleaveNorGetLost)
{
    TServiceLog log(dir.path() + "/");
    constexpr int Threads = 8, Lines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            const std::string text = "поток " + std::to_string(t) + " " + std::string(200, char('a' + t));
            for (int i = 0; i < Lines; ++i)
                log.AppendLogLine(text, t % 2 ? "Socket1.txt" : "Socket0.txt");
        });
    for (auto& th : threads)
        th.join();
    int count = 0;
    for (const char* name : {"Socket0.txt", "Socket1.txt"}) {
        std::istringstream in(ReadAll(name));
        std::string line;
        while (std::getline(in, line)) {
            ++count;
            ASSERT_EQ(line.size(), 5 + 3 + 200u) << line; // "поток" is five bytes in the file
            EXPECT_EQ(line.substr(8), std::string(200, line.back()));
        }
    }
    EXPECT_EQ(count, Threads * Lines);
}

} // namespace
} // namespace gw::test
