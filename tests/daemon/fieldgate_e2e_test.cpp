// fieldgate end to end: the real program detaching, watching itself, serving
// its pages and restarting after an uploaded "cnf.ini".

#include "core/cp1251.h"
#include "daemon/detach.h"
#include "daemon/fieldgate.h"
#include "daemon/fieldgateservice.h"
#include "daemon/serviceevents.h"
#include "event_lines.h"
#include "opcua/opcualibrary.h"
#include "fieldgate_rig.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include <gtest/gtest.h>

#include <Poco/Net/ServerSocket.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace gw::test {
namespace {

// Only a program that fails takes this long: a slow machine (a sanitizer, an
// emulator, a crowded build host) does not.
constexpr std::chrono::seconds Patience(60);

// Polls until the page answers 200 (the service starts its web server last).
std::optional<Answer> WaitForPage(int port, const std::string& path, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto answer = Request(port, "GET", path); answer && answer->status == 200)
            return answer;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::nullopt;
}

// A GET answered at all: a loaded machine may leave one request unanswered
// past its own time-out of 10 s, so it is asked again until Patience passes.
std::optional<Answer> Answered(int port, const std::string& path, const std::string& pwd = "")
{
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    std::optional<Answer> answer = Request(port, "GET", path, pwd);
    while (!answer && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answer = Request(port, "GET", path, pwd);
    }
    return answer;
}

// Starts the program on a fresh port and waits for its two processes and
// its first page.
FieldgateInstances StartWithPage(FieldgateRig& rig, int port, const std::string& pwd)
{
    rig.Home().Write("cnf.ini", FieldgateRig::CnfIni(port, pwd));
    rig.Start();
    const FieldgateInstances first = rig.WaitInstances();
    EXPECT_NE(first.service, 0) << "no service with its watcher";
    EXPECT_TRUE(WaitForPage(port, "/", Patience)) << "no page on port " << port;
    return first;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Two stations as the example's first two: float values, normalized values.
std::vector<std::string> TwoStations()
{
    return {"--listen",   "127.0.0.1:0", "--ca",         "1",    "--sp",      "100:4",       "--dp",         "200:2",
            "--me-float", "300:4",       "--cmd-offset", "5000", "--listen",  "127.0.0.1:0", "--ca",         "2",
            "--sp",       "100:2",       "--dp",         "200",  "--me-norm", "300:2",       "--cmd-offset", "5000"};
}

// Sets a value at the station and waits until the page shows its row
// (ASDU, IOA, reading); the last body seen.
std::string ShowsLiveValue(KpsimProcess& kpsim, int port, int station, int ioa, const std::string& value)
{
    kpsim.Control("set " + std::to_string(station) + " " + std::to_string(ioa) + " " + value);
    const std::string row =
        "<td>" + std::to_string(station) + "</td><td>" + std::to_string(ioa) + "</td><td>" + value + "</td>";
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    std::string body;
    while (std::chrono::steady_clock::now() < deadline) {
        if (const auto page = Request(port, "GET", "/titek.php"); page && page->status == 200) {
            body = page->body;
            if (body.find(row) != std::string::npos)
                return row;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return body;
}

// In one process, so the thread checker sees both sides: pages read on
// several connections while values arrive and the main thread ticks, then
// the stop of a reconfiguration with requests still coming. Every page that
// is answered is whole.
TEST(FieldgateService, PagesReadWhileValuesArriveAndTheServiceStops)
{
    KpsimProcess kpsim(TwoStations());
    TempDir dir;
    const int port = FreePort();
    dir.Write("cnf.ini", FieldgateRig::CnfIni(port, "pw"));
    dir.Write("iec104.cfg", ExampleStations({kpsim.ListenPort(1), kpsim.ListenPort(2)}));
    TFieldgateService service(dir.path() + "/", "127.0.0.1");
    service.Start();
    ASSERT_EQ(service.WebPort(), port);
    bool connected = false;
    for (int i = 0; i < 300 && !connected; ++i) {
        service.Tick(); // the channels are opened by the ticks
        connected = kpsim.WaitFor("startdt station=1", std::chrono::milliseconds(LoopPeriodMs)).has_value();
    }
    ASSERT_TRUE(connected);

    std::atomic<bool> reading{true};
    std::atomic<int> whole{0}, broken{0};
    std::vector<std::thread> readers;
    for (const char* page : {"/titek.php", "/tstek.php", "/config.php", "/titek.php?p_ti=all"}) {
        readers.emplace_back([&, page] {
            while (reading) {
                const auto answer = Request(port, "GET", page);
                if (!answer)
                    continue; // the server has stopped
                if (answer->status == 200 && EndsWith(answer->body, "</html>\n"))
                    ++whole;
                else
                    ++broken;
            }
        });
    }
    for (int i = 0; i < 40; ++i) {
        kpsim.Control("set 1 300 " + std::to_string(i) + ".5");
        kpsim.Control("set 1 100 " + std::to_string(i % 2));
        service.Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(LoopPeriodMs));
    }
    service.Stop();
    reading = false;
    for (auto& reader : readers)
        reader.join();
    EXPECT_GT(whole.load(), 0);
    EXPECT_EQ(broken.load(), 0);
}

TEST(FieldgateProgram, UploadedCnfIniRestartsTheServiceThroughItsWatcherWithTheNewFiles)
{
    KpsimProcess kpsim(TwoStations());
    const std::vector<int> stations = {kpsim.ListenPort(1), kpsim.ListenPort(2)};
    FieldgateRig rig;
    rig.Home().Write("iec104.cfg", ExampleStations({stations[0]}));
    const int port = FreePort();
    const FieldgateInstances first = StartWithPage(rig, port, "first");
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(kpsim.WaitFor("startdt station=1", Patience)) << "the service did not connect";
    const std::string row1 = "<td>1</td><td>300</td><td>123.5</td>";
    EXPECT_EQ(ShowsLiveValue(kpsim, port, 1, 300, "123.5"), row1);

    // "iec104.cfg" alone changes nothing in the running service.
    const std::string newCfg = ExampleStations(stations);
    const auto cfg = Request(port, "POST", "/iec104.cfg", "first", newCfg);
    ASSERT_TRUE(cfg);
    EXPECT_EQ(cfg->status, 200);
    EXPECT_EQ(rig.Home().Read("iec104.cfg"), newCfg);

    const int newPort = FreePort();
    const std::string newCnf = FieldgateRig::CnfIni(newPort, "second");
    const auto upload = Request(port, "POST", "/cnf.ini", "first", newCnf);
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->status, 200);
    EXPECT_EQ(rig.Home().Read("cnf.ini"), newCnf);

    // The service stops with its two lines and exits with status 0 ...
    const int status = rig.WaitExit(first.service, Patience);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::vector<std::string> lines = EventLines(rig.Home().path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(EndsWith(lines[0], " Reconfigure Service ")) << lines[0];
    EXPECT_TRUE(EndsWith(lines[1], " End stop ")) << lines[1];

    // ... and its watcher becomes the service (detaching, so its own process
    // ends at the fork), with a watcher of its own, on the new files: the
    // new port and password, and the second station.
    const FieldgateInstances second = rig.WaitInstances();
    ASSERT_NE(second.service, 0);
    EXPECT_EQ(rig.WaitExit(first.watcher, Patience), 0);
    EXPECT_NE(second.service, first.service);
    EXPECT_NE(second.watcher, first.watcher);
    ASSERT_TRUE(WaitForPage(newPort, "/", Patience)) << "no page on the new port " << newPort;
    EXPECT_TRUE(kpsim.WaitFor("startdt station=2", Patience)) << "no connection to station 2";
    EXPECT_EQ(ShowsLiveValue(kpsim, newPort, 1, 301, "77.25"), "<td>1</td><td>301</td><td>77.25</td>");
    const auto stationsPage = Answered(newPort, "/config.php");
    ASSERT_TRUE(stationsPage);
    EXPECT_NE(stationsPage->body.find(Utf8ToCp1251("ПС 35 кВ Заречная")), std::string::npos);

    const auto download = Answered(newPort, "/cnf.ini", "second");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->body, newCnf);
    const auto oldPassword = Answered(newPort, "/cnf.ini", "first");
    ASSERT_TRUE(oldPassword);
    EXPECT_EQ(oldPassword->status, 401);
    // The same two processes still: no answer above was missing for a
    // restart of the service.
    const FieldgateInstances last = rig.WaitInstances();
    EXPECT_EQ(last.service, second.service);
    EXPECT_EQ(last.watcher, second.watcher);
}

TEST(FieldgateProgram, KilledServiceIsTakenOverByItsWatcherWithoutLogLines)
{
    FieldgateRig rig;
    const int port = FreePort();
    const FieldgateInstances first = StartWithPage(rig, port, "pw");
    ASSERT_FALSE(HasFailure());

    ASSERT_EQ(::kill(first.service, SIGTERM), 0);
    const int status = rig.WaitExit(first.service, Patience);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

    const FieldgateInstances second = rig.WaitInstances();
    ASSERT_NE(second.service, 0);
    EXPECT_EQ(rig.WaitExit(first.watcher, Patience), 0);
    EXPECT_NE(second.watcher, first.watcher);
    EXPECT_TRUE(WaitForPage(port, "/", Patience));
    EXPECT_TRUE(EventLines(rig.Home().path()).empty()) << "SIGTERM ends the service without its stop";
}

TEST(FieldgateProgram, FailureNothingCaughtIsReportedWithStatus217)
{
    // A file name that pgrep must not be handed: the start fails before
    // anything runs.
    TempDir home;
    const std::string program = home.File("fg bad");
    std::filesystem::copy_file(FIELDGATE_PROGRAM, program);
    const std::string command = "FIELDGATE_HOME='" + home.path() + "' FIELDGATE_TEST_NO_REBOOT=1 '" + program + "' 2>'"
                                + home.File("stderr") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 217);
    EXPECT_EQ(home.Read("stderr").rfind("fieldgate: unhandled failure: program name for pgrep", 0), 0u)
        << home.Read("stderr");
}

// What a loaded library says goes to stderr, which the detached service sends
// to its directory: a port already taken leaves its reason there.
TEST(FieldgateProgram, OpcUaPortAlreadyTakenLeavesItsReasonInTheServiceDirectory)
{
#ifndef TAGSERVE_LIBRARY
    GTEST_SKIP() << "built without the OPC UA library";
#else
    Poco::Net::ServerSocket taken(Poco::Net::SocketAddress("0.0.0.0", 0));
    const int opcUaPort = taken.address().port();
    FieldgateRig rig;
    std::filesystem::copy_file(TAGSERVE_LIBRARY, rig.Home().File(OpcUaLibraryName));
    std::string cfg = ExampleStations({FreePort()});
    const std::string example = "OPC_UA_Port,16670";
    cfg.replace(cfg.find(example), example.size(), "OPC_UA_Port," + std::to_string(opcUaPort));
    rig.Home().Write("iec104.cfg", cfg);
    StartWithPage(rig, FreePort(), "pw");
    ASSERT_FALSE(HasFailure());

    const std::string reason = "cannot listen on port " + std::to_string(opcUaPort);
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (rig.Home().Read(StderrLogFile).find(reason) == std::string::npos
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(rig.Home().Read(StderrLogFile).find(reason), std::string::npos) << rig.Home().Read(StderrLogFile);
#endif
}

} // namespace
} // namespace gw::test
