// What a station's values, qualities and time tags become on both sides of
// fieldgate's service: kpsim sends them over a real connection, the page
// shows them over HTTP, and a real OPC UA client (node-opcua) reads them
// from the loaded libtagserve.so, side by side.

#include "daemon/fieldgate.h"
#include "daemon/fieldgateservice.h"
#include "fieldgate_rig.h"
#include "opcua/opcualibrary.h"
#include "service/tables.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace gw::test {
namespace {

const std::string NpmDir = std::string(GATEWAY_SOURCE_DIR) + "/tests/npm";

// The signals of the one station, in configuration order: points first
// (OPC items from Nom_OPC_TS), then measured values (from Nom_OPC_TI).
const int PointIoas[] = {100, 101, 600, 601, 602, 603, 604, 605, 606, 607};
const int MeasuredIoas[] = {300, 301, 800, 801, 400};

std::vector<std::string> StationArgs()
{
    return {"--listen", "127.0.0.1:0", "--ca",  "1",    "--sp", "100:2",   "--me-float",
            "300:2",    "--it",        "800:2", "--bo", "400",  "--bits8", "600"};
}

std::string Iec104Cfg(int stationPort, int uaPort)
{
    TOneStation station;
    station.name = "KP";
    station.port = stationPort;
    station.timeToOpc = true;
    station.opcUa.emplace().port = uaPort;
    for (int ioa : PointIoas)
        station.points.emplace_back(ioa, "p" + std::to_string(ioa));
    for (int ioa : MeasuredIoas)
        station.values.push_back({ioa, "m" + std::to_string(ioa)});
    return OneStationCfg(station);
}

// A moment some hours before now, as kpsim takes it and as the page shows it.
struct StationTime {
    std::string kpsim;
    std::string page;
};

StationTime HoursAgo(int hours)
{
    const std::time_t t = std::time(nullptr) - hours * 3600;
    std::tm tm{};
    localtime_r(&t, &tm);
    char kp[40], page[40];
    std::snprintf(kp, sizeof kp, "%04d-%02d-%02dT%02d:%02d:%02d.250", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::snprintf(page, sizeof page, "%02d.%02d.%04d %02d:%02d:%02d.250", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return {kp, page};
}

// One variable as the client read it.
struct UaValue {
    std::string value;
    std::string status;
};

using Cells = std::vector<std::string>;

class ValuesLoopback : public ::testing::Test {
protected:
    ValuesLoopback() : kpsim_(StationArgs())
    {
        dir_.Write("cnf.ini", FieldgateRig::CnfIni(webPort_, "pw"));
        dir_.Write("iec104.cfg", Iec104Cfg(kpsim_.ListenPort(1), uaPort_));
        std::filesystem::create_symlink(TAGSERVE_LIBRARY, dir_.File(OpcUaLibraryName));
        service_ = std::make_unique<TFieldgateService>(dir_.path() + "/", "127.0.0.1");
        service_->Start();
        bool started = false;
        for (int i = 0; i < 300 && !started; ++i) {
            service_->Tick(); // the channels are opened by the ticks
            started = kpsim_.WaitFor("startdt station=1", std::chrono::milliseconds(LoopPeriodMs)).has_value();
        }
        EXPECT_TRUE(started);
        // The link's first general interrogation is answered with the start
        // values: they must be in before a test sends its own.
        bool asked = false;
        for (int i = 0; i < 600 && !asked; ++i) {
            service_->Tick();
            asked = kpsim_.WaitFor("interrogation station=1", std::chrono::milliseconds(LoopPeriodMs)).has_value();
        }
        EXPECT_TRUE(asked);
        bool answered = false;
        for (int i = 0; i < 400 && !answered; ++i) {
            service_->Tick();
            answered = Good("tstek", 100) && Good("tstek", 607) && Good("titek", 301) && Good("titek", 400);
            std::this_thread::sleep_for(std::chrono::milliseconds(LoopPeriodMs));
        }
        EXPECT_TRUE(answered);
    }
    // The row of ioa shows a value of good quality.
    bool Good(const char* page, int ioa) const
    {
        const Cells cells = Row(page, ioa);
        return cells.size() >= 2 && cells[1] == "0";
    }
    ~ValuesLoopback() override { service_->Stop(); }

    bool HasClient() const { return std::filesystem::exists(NpmDir + "/node_modules/node-opcua-client"); }

    // Sends a control line and ticks the service until the page row of ioa
    // (kind "ti" or "ts") satisfies done; the cells after ASDU and IOA.
    Cells SetAndWait(const std::string& control, const char* page, int ioa,
                     const std::function<bool(const Cells&)>& done)
    {
        kpsim_.Control(control);
        EXPECT_TRUE(kpsim_.WaitFor("done station=1 action=set")) << control;
        Cells cells;
        for (int i = 0; i < 400; ++i) {
            service_->Tick();
            cells = Row(page, ioa);
            if (!cells.empty() && done(cells)) {
                Pass();
                return cells;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(LoopPeriodMs));
        }
        ADD_FAILURE() << control << ": the page never showed it; last row: " << ::testing::PrintToString(cells);
        return cells;
    }
    Cells SetAndWait(const std::string& control, const char* page, int ioa, const std::string& value)
    {
        return SetAndWait(control, page, ioa, [&](const Cells& c) { return c[0] == value; });
    }

    // The cells that follow "<td>1</td><td>IOA</td>" on the page, up to the row's end.
    Cells Row(const char* page, int ioa) const
    {
        const auto answer = Request(webPort_, "GET", std::string("/") + page + ".php?p_ti=all");
        if (!answer || answer->status != 200)
            return {};
        const std::string key = "<td>1</td><td>" + std::to_string(ioa) + "</td>";
        const auto at = answer->body.find(key);
        if (at == std::string::npos)
            return {};
        const std::string row = answer->body.substr(at + key.size(), answer->body.find("</tr>", at) - at - key.size());
        Cells cells;
        for (std::size_t pos = 0; (pos = row.find("<td>", pos)) != std::string::npos;) {
            const auto end = row.find("</td>", pos);
            cells.push_back(row.substr(pos + 4, end - pos - 4));
            pos = end;
        }
        return cells;
    }

    // Up to and including the next publication pass.
    void Pass()
    {
        for (int i = 0; i < 3; ++i)
            service_->Tick();
    }

    const T_KP& Kp() { return service_->Context().Stations.KpTable[1]; }
    int PointItem(int n) { return Kp().Nom_OPC_TS + n; }    // n from 0, in PointIoas order
    int MeasuredItem(int n) { return Kp().Nom_OPC_TI + n; } // n from 0, in MeasuredIoas order
    TIndent Item(int id)
    {
        TServiceContext& ctx = service_->Context();
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        return ctx.Items.OpcItems[static_cast<std::size_t>(id)];
    }

    // Every variable the client reads, by id, and the source times it saw.
    std::map<int, UaValue> ReadUa(std::map<int, std::int64_t>* times = nullptr)
    {
        const std::string command = "XDG_CONFIG_HOME='" + dir_.File("xdg") + "' node '" + NpmDir
                                    + "/bridge_probe.js' opc.tcp://127.0.0.1:" + std::to_string(uaPort_) + " 2>&1";
        std::map<int, UaValue> values;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return values;
        std::string out;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        EXPECT_EQ(::pclose(pipe), 0) << out;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string what, group, name, value, status;
            int id = 0;
            words >> what;
            if (what == "var" && words >> group >> id >> name >> value >> status)
                values[id] = {value, status};
            std::int64_t ms = 0;
            if (what == "time" && times && words >> id >> ms)
                (*times)[id] = ms;
        }
        return values;
    }

    TempDir dir_;
    int webPort_ = FreePort();
    int uaPort_ = FreePort();
    KpsimProcess kpsim_;
    std::unique_ptr<TFieldgateService> service_;
};

TEST_F(ValuesLoopback, TotalsSequenceNumberAndCarryAreNoQuality)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    // Item 2 of the measured values is the total at 800, item 3 the one at 801.
    Cells c = SetAndWait("set 1 800 1234 seq=3", "titek", 800, "1234");
    EXPECT_EQ(c[1], "0");
    c = SetAndWait("set 1 801 -17 cy ca seq=17", "titek", 801, "-17");
    EXPECT_EQ(c[1], "0");
    EXPECT_EQ(Item(MeasuredItem(2)).Quality, 0xC0);
    EXPECT_EQ(Item(MeasuredItem(3)).Quality, 0xC0);
    auto ua = ReadUa();
    EXPECT_EQ(ua[MeasuredItem(2)].value, "1234");
    EXPECT_EQ(ua[MeasuredItem(2)].status, "Good");
    EXPECT_EQ(ua[MeasuredItem(3)].value, "-17");
    EXPECT_EQ(ua[MeasuredItem(3)].status, "Good");

    // IV alone makes the reading invalid; its value still reaches the client.
    c = SetAndWait("set 1 800 1300 iv seq=4", "titek", 800, "1300");
    EXPECT_EQ(c[1], "128");
    EXPECT_EQ(Item(MeasuredItem(2)).Quality, 0x00);
    ua = ReadUa();
    EXPECT_EQ(ua[MeasuredItem(2)].value, "1300");
    EXPECT_EQ(ua[MeasuredItem(2)].status, "Bad");
}

TEST_F(ValuesLoopback, EveryQualityBitReachesTheClientWithTheValue)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    struct Case {
        const char* control;
        const char* page;
        int ioa;
        bool measured;
        int n;               // index of the item among its kind
        const char* shown;   // the page's value
        const char* quality; // the page's quality byte
        std::int32_t da;     // OPC DA quality
        const char* uaValue;
        const char* uaStatus;
    };
    const Case cases[] = {
        {"set 1 300 1.5 nt", "titek", 300, true, 0, "1.5", "64", 0x14, "1.5", "UncertainLastUsableValue"},
        {"set 1 301 2.5 ov", "titek", 301, true, 1, "2.5", "1", 0xC0, "2.5", "UncertainEngineeringUnitsExceeded"},
        {"set 1 100 1 bl", "tstek", 100, false, 0, "1", "16", 0x1C, "true", "Uncertain"},
        {"set 1 101 0 sb", "tstek", 101, false, 1, "0", "32", 0xD8, "false", "GoodLocalOverride"},
        {"set 1 400 7 iv", "titek", 400, true, 4, "7", "128", 0x00, "7", "Bad"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        const Cells cells = SetAndWait(c.control, c.page, c.ioa, c.shown);
        EXPECT_EQ(cells[1], c.quality);
        EXPECT_EQ(Item(c.measured ? MeasuredItem(c.n) : PointItem(c.n)).Quality, c.da);
    }
    const auto ua = ReadUa();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        const auto it = ua.find(c.measured ? MeasuredItem(c.n) : PointItem(c.n));
        ASSERT_NE(it, ua.end());
        EXPECT_EQ(it->second.value, c.uaValue);
        EXPECT_EQ(it->second.status, c.uaStatus);
    }
}

TEST_F(ValuesLoopback, InvalidTimeTagGivesTheReceptionTimeAndUncertain)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    const StationTime valid = HoursAgo(3);
    const StationTime bad = HoursAgo(5);
    Cells c = SetAndWait("set 1 300 4.5 time=" + valid.kpsim, "titek", 300, "4.5");
    EXPECT_EQ(c[3], valid.page); // a valid station time is the value's time
    c = SetAndWait("set 1 301 5.5 time=" + bad.kpsim + " time-iv", "titek", 301, "5.5");
    EXPECT_EQ(c[1], "8"); // the quality byte says the time is ours
    EXPECT_NE(c[3], bad.page);
    const TDateTime now = service_->Context().Process.Clock->Now();
    const TIndent item = Item(MeasuredItem(1));
    EXPECT_LT(std::fabs(item.Stamp_DateTime - now), 60.0 / 86400) << "not the reception time";
    EXPECT_EQ(item.Quality, 0xC0);

    std::map<int, std::int64_t> times;
    const auto ua = ReadUa(&times);
    EXPECT_EQ(ua.at(MeasuredItem(0)).status, "Good");
    EXPECT_EQ(ua.at(MeasuredItem(1)).value, "5.5");
    EXPECT_EQ(ua.at(MeasuredItem(1)).status, "Uncertain");
    // Source times: 3 hours ago for the valid one, about now for the other.
    ASSERT_TRUE(times.count(MeasuredItem(0)) && times.count(MeasuredItem(1)));
    EXPECT_GT(times[MeasuredItem(1)] - times[MeasuredItem(0)], 2 * 3600 * 1000);
}

TEST_F(ValuesLoopback, BitstringIsItsUnsigned32BitNumber)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    Cells c = SetAndWait("set 1 400 0xAAAA", "titek", 400, "43690");
    EXPECT_EQ(c[1], "0");
    EXPECT_EQ(c[2], "43690"); // the engineering value
    EXPECT_EQ(ReadUa()[MeasuredItem(4)].value, "43690");
    c = SetAndWait("set 1 400 0xAAAAAAAA", "titek", 400, "2863311530");
    const auto ua = ReadUa();
    EXPECT_EQ(ua.at(MeasuredItem(4)).value, "2863311530");
    EXPECT_EQ(ua.at(MeasuredItem(4)).status, "Good");
}

TEST_F(ValuesLoopback, EightPointsAreGoodAndTheSameByteAgainIsNoChange)
{
    if (!HasClient())
        GTEST_SKIP() << "npm packages missing (scripts/setup.sh)";
    const StationTime first = HoursAgo(2);
    const StationTime again = HoursAgo(1);
    // 0xA5: bits 0, 2, 5 and 7 on.
    SetAndWait("set 1 600 165 time=" + first.kpsim, "tstek", 600,
               [&](const Cells& c) { return c[0] == "1" && c[2] == first.page; });
    const int want[8] = {1, 0, 1, 0, 0, 1, 0, 1};
    std::vector<TDateTime> stamps;
    for (int n = 0; n < 8; ++n) {
        SCOPED_TRACE(600 + n);
        const Cells c = Row("tstek", 600 + n);
        ASSERT_EQ(c.size(), 3u);
        EXPECT_EQ(c[0], std::to_string(want[n]));
        EXPECT_EQ(c[1], "0");
        const TIndent item = Item(PointItem(2 + n));
        EXPECT_EQ(item.Quality, 0xC0);
        stamps.push_back(item.Stamp_DateTime);
    }
    auto ua = ReadUa();
    for (int n = 0; n < 8; ++n) {
        SCOPED_TRACE(600 + n);
        EXPECT_EQ(ua[PointItem(2 + n)].value, want[n] ? "true" : "false");
        EXPECT_EQ(ua[PointItem(2 + n)].status, "Good");
    }

    // The same byte with a later time: the tags take the time, but nothing
    // changed, so no point is published again with it.
    SetAndWait("set 1 600 165 time=" + again.kpsim, "tstek", 600, [&](const Cells& c) { return c[2] == again.page; });
    Pass();
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(Item(PointItem(2 + n)).Stamp_DateTime, stamps[static_cast<std::size_t>(n)]) << 600 + n;
}

} // namespace
} // namespace gw::test
