// The bundled example: every station of examples/iec104.cfg is served by the
// matching line of examples/kpsim.conf, with the same points and commands.
#include "testkit/kpsim_process.h"
#include "test_link.h"

#include "support/tshark.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace gw::test {
namespace {

struct ExampleSignal {
    int ioa = 0;
    bool doublePoint = false;
    int commandIoa = 0;
    int commandType = 0; // 0, 1 single command, 2, 3 double command
};

struct ExampleStation {
    int ca = 0;
    std::vector<ExampleSignal> points;
    std::set<int> measured;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Commas inside double quotes do not split.
std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (const char c : line) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::vector<ExampleStation> ReadExampleCfg()
{
    std::vector<ExampleStation> stations;
    std::istringstream lines(ReadFile(GATEWAY_SOURCE_DIR "/examples/iec104.cfg"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> f = SplitFields(line);
        if (f[0] == "KP")
            stations.push_back(ExampleStation{std::stoi(f[1]), {}, {}});
        else if (f[0] == "TS")
            stations.back().points.push_back(
                ExampleSignal{std::stoi(f[7]), f[11] == "1", std::stoi(f[9]), std::stoi(f[10])});
        else if (f[0] == "TIT")
            stations.back().measured.insert(std::stoi(f[7]));
    }
    return stations;
}

// The option lines of examples/kpsim.conf, one per station.
std::vector<std::vector<std::string>> ReadKpsimConf()
{
    std::vector<std::vector<std::string>> stations;
    std::istringstream lines(ReadFile(GATEWAY_SOURCE_DIR "/examples/kpsim.conf"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::vector<std::string> args;
        for (std::string w; words >> w;)
            args.push_back(w);
        if (!args.empty())
            stations.push_back(args);
    }
    return stations;
}

std::set<int> ToSet(const std::string& joined)
{
    std::set<int> out;
    std::istringstream in(joined);
    for (std::string item; std::getline(in, item, ';');)
        out.insert(std::stoi(item));
    return out;
}

TBytes CommandSelect(int ca, int ioa, bool doubleCommand)
{
    // clang-format off
    return TBytes{static_cast<std::uint8_t>(doubleCommand ? 46 : 45), 1, 6, 0, static_cast<std::uint8_t>(ca), 0,
                  static_cast<std::uint8_t>(ioa & 0xFF), static_cast<std::uint8_t>(ioa >> 8),
                  static_cast<std::uint8_t>(ioa >> 16), static_cast<std::uint8_t>(doubleCommand ? 0x86 : 0x85)};
    // clang-format on
}

TEST(Example, KpsimServesEveryStationOfTheConfiguration)
{
    const std::vector<ExampleStation> stations = ReadExampleCfg();
    const std::vector<std::vector<std::string>> lines = ReadKpsimConf();
    ASSERT_EQ(stations.size(), 3u);
    ASSERT_EQ(lines.size(), stations.size());

    for (std::size_t n = 0; n < stations.size(); ++n) {
        const ExampleStation& station = stations[n];
        SCOPED_TRACE("station " + std::to_string(n + 1));
        // The same station on a free port: listening on port 0, or connecting to this test.
        Poco::Net::ServerSocket gateway(Poco::Net::SocketAddress("127.0.0.1", 0));
        std::vector<std::string> args = lines[n];
        const bool connects = args[0] == "--connect";
        args[1] = connects ? "127.0.0.1:" + std::to_string(gateway.address().port()) : "0";
        if (connects)
            args.insert(args.end(), {"--reconnect", "50"});
        KpsimProcess kp(args);
        std::unique_ptr<TestLink> link;
        if (connects) {
            ASSERT_TRUE(gateway.poll(Poco::Timespan(5, 0), Poco::Net::Socket::SELECT_READ));
            link = std::make_unique<TestLink>(gateway.acceptConnection());
        } else {
            link = std::make_unique<TestLink>(kp.ListenPort(1));
        }
        kp.Control("rate 1 0"); // no spontaneous changes in between
        ASSERT_TRUE(kp.WaitFor("done station=1 action=rate"));
        link->SendRaw(FromHex("68 04 07 00 00 00"));
        const auto ca = static_cast<std::uint8_t>(station.ca);
        link->SendAsdu({100, 1, 6, 0, ca, 0, 0, 0, 0, 20});
        std::vector<TBytes> frames;
        for (const TBytes& f : link->ReadUntilAsdu({100, 1, 10, 0, ca}))
            if (IsIFrame(f))
                frames.push_back(f);
        const auto rows = TsharkFields(frames, {"iec60870_asdu.typeid", "iec60870_asdu.causetx", "iec60870_asdu.ioa"},
                                       TApduDirection::FromStation);
        std::map<std::string, std::set<int>> byType;
        for (const auto& row : rows)
            if (row[1] == "20")
                byType[row[0]] = ToSet(row[2]);

        std::set<int> singles, doubles;
        for (const ExampleSignal& p : station.points)
            (p.doublePoint ? doubles : singles).insert(p.ioa);
        EXPECT_EQ(byType["1"], singles);
        EXPECT_EQ(byType["3"], doubles);
        std::set<int> measured;
        for (const char* type : {"9", "11", "13"})
            measured.insert(byType[type].begin(), byType[type].end());
        EXPECT_EQ(measured, station.measured);

        for (const ExampleSignal& p : station.points) {
            if (p.commandIoa == 0)
                continue;
            SCOPED_TRACE("command " + std::to_string(p.commandIoa));
            EXPECT_EQ(p.doublePoint, p.commandType >= 2);
            const TBytes select = CommandSelect(station.ca, p.commandIoa, p.commandType >= 2);
            link->SendAsdu(select);
            const auto con = link->ReadFrame();
            ASSERT_TRUE(con);
            TBytes positive = select;
            positive[2] = 7;
            EXPECT_EQ(AsduOf(*con), positive);
        }
    }
}

} // namespace
} // namespace gw::test
