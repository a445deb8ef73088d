#include "daemon/fieldgateservice.h"

#include "fieldgate_rig.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace gw::test {
namespace {

int Post(int port, const std::string& path, const std::string& password, const std::string& body)
{
    const auto answer = Request(port, "POST", path, password, body);
    return answer ? answer->status : 0;
}

TEST(FieldgateService, UploadedCnfIniAsksForTheRestartAndTheStopEndsTheWebServer)
{
    TempDir dir;
    const int port = FreePort();
    dir.Write("cnf.ini", FieldgateRig::CnfIni(port, "pw"));
    TFieldgateService service(dir.path() + "/", "127.0.0.1");
    service.Start();
    ASSERT_EQ(service.WebPort(), port);
    service.Tick();

    EXPECT_EQ(Post(port, "/iec104.cfg", "pw", "KP,1,1,A,127.0.0.1\r\n"), 200);
    service.Tick();
    EXPECT_FALSE(service.ReconfigureRequested());
    EXPECT_EQ(Post(port, "/cnf.ini", "wrong", "x"), 401);
    EXPECT_FALSE(service.ReconfigureRequested());
    EXPECT_EQ(Post(port, "/cnf.ini", "pw", FieldgateRig::CnfIni(port, "new")), 200);
    // The handler flags the restart once its answer has gone out.
    for (int i = 0; i < 1000 && !service.ReconfigureRequested(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(service.ReconfigureRequested());
    EXPECT_EQ(dir.Read("cnf.ini"), FieldgateRig::CnfIni(port, "new"));

    service.Stop();
    EXPECT_EQ(service.WebPort(), 0);
    EXPECT_FALSE(Request(port, "GET", "/")) << "still listening";
}

// Lines the readers cannot use cost those lines, not the web server: the
// device stays reachable to receive a mended file, and the log names each.
TEST(FieldgateService, LinesTheReadersCannotUseAreLoggedAndTheWebServerStillRuns)
{
    TempDir dir;
    const int port = FreePort();
    std::string cnf = "a line of free text\n" + FieldgateRig::CnfIni(port, "pw");
    cnf.replace(cnf.find("Save_Obmen_v_File=0"), 19, "Save_Obmen_v_File=yes");
    dir.Write("cnf.ini", cnf);
    dir.Write("iec104.cfg", ";kol,1\r\nKP,1,1,bad,127.0.0.1\r\nPRM_T,not-a-port\r\n");
    TFieldgateService service(dir.path() + "/", "127.0.0.1");
    service.Start();
    service.Tick();
    const std::string cfgAt = dir.path() + "/iec104.cfg, ";
    const std::string cnfAt = dir.path() + "/cnf.ini, ";
    EXPECT_EQ(dir.Read("log_iec104.txt"),
              cfgAt + "line 3, field 1 (Port): \"not-a-port\" is not an integer; the default 1 is used\n" + cnfAt
                  + "line 1: a line that is neither a [section], a key=value nor a ;comment; the line is skipped\n"
                  + cnfAt + "line 7, Save_Obmen_v_File: \"yes\" is not 0 or 1; the line is skipped\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/error_iec104.txt"));

    ASSERT_EQ(service.WebPort(), port);
    const auto stations = Request(port, "GET", "/config.php");
    ASSERT_TRUE(stations);
    EXPECT_NE(stations->body.find("<td>bad</td>"), std::string::npos) << "the station is not read";
    EXPECT_EQ(Post(port, "/iec104.cfg", "pw", "KP,1,1,good,127.0.0.1\r\n"), 200);
    EXPECT_EQ(dir.Read("iec104.cfg"), "KP,1,1,good,127.0.0.1\r\n");
    service.Stop();
}

// The bytes 0..255, four times over: a kilobyte of binary.
std::string Binary()
{
    std::string bytes;
    for (int i = 0; i < 1024; ++i)
        bytes += static_cast<char>(i % 256);
    return bytes;
}

// A file the service would not read as it stands, or that would leave the
// device without stations or without its transfer password, is refused
// before it replaces the stored one: 400 with the line and its fault, and
// no restart.
TEST(FieldgateService, UploadsTheServiceWouldNotReadWholeAreRefused)
{
    TempDir dir;
    const int port = FreePort();
    const std::string stored = FieldgateRig::CnfIni(port, "pw");
    dir.Write("cnf.ini", stored);
    dir.Write("iec104.cfg", ";kol,0\r\n");
    const std::string noStation = "iec104.cfg: no station (no KP line): the device would run without any";
    TFieldgateService service(dir.path() + "/", "127.0.0.1");
    service.Start();
    ASSERT_EQ(service.WebPort(), port);
    struct Case {
        const char* doc;
        std::string body;
        std::string reason;
    } cases[] = {
        {"/cnf.ini", "[UseWebServer]\r\nUseWebServer=1\r\nfree text\r\n",
         "cnf.ini, line 3: a line that is neither a [section], a key=value nor a ;comment"},
        {"/cnf.ini", std::string(stored).replace(stored.find("Save_Obmen_v_File=0"), 19, "Save_Obmen_v_File=yes"),
         "cnf.ini, line 6, Save_Obmen_v_File: \"yes\" is not 0 or 1"},
        {"/./cnf.ini", "[Port_WebServ]\nPort_WebServ=80a\n",
         "cnf.ini, line 2, Port_WebServ: \"80a\" is not a port number 1..65535"},
        {"/iec104.cfg", "KP,1,1,A,127.0.0.1\r\nPASSIV,yes\r\n",
         "iec104.cfg, line 2, field 1 (Passive): \"yes\" is not an integer"},
        {"/iec104.cfg", "KP,1,1,A,127.0.0.1\r\nTS,1001,1,,\"a\",8272,1,16777216\r\n",
         "iec104.cfg, line 2, field 7 (AdrIOA): 16777216 is outside 0..16777215"},
        {"/iec104.cfg", "KP,x,1,A,127.0.0.1\r\n", "iec104.cfg, line 1, field 1 (ASDU_Adr): \"x\" is not an integer"},
        {"/cnf.ini", "[UseWebServer]\r\nUseWebServer=1\r\n",
         "cnf.ini, pwd: no transfer password: every later transfer would be refused"},
        {"/cnf.ini", "[UseWebServer]\r\nUseWebServer=1\r\n[pwd]\r\npwd=  \r\n",
         "cnf.ini, pwd: no transfer password: every later transfer would be refused"},
        {"/cnf.ini", stored + std::string("\0", 1),
         "cnf.ini: a NUL byte at offset " + std::to_string(stored.size()) + ": not a text file"},
        {"/iec104.cfg", "abcde", noStation},
        {"/iec104.cfg", "\r\n", noStation},
        {"/iec104.cfg", ";kol,0\r\n", noStation},
        {"/iec104.cfg", "<html><body><h1>502 Bad Gateway</h1></body></html>\r\n", noStation},
        {"/iec104.cfg", Binary(), "iec104.cfg: a NUL byte at offset 0: not a text file"},
        {"/iec104.cfg", "KP,1,1,A,127.0.0.1\r\n" + std::string(16, '\0'),
         "iec104.cfg: a NUL byte at offset 20: not a text file"},
    };
    for (const auto& c : cases) {
        const auto answer = Request(port, "POST", c.doc, "pw", c.body);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 400) << c.body;
        EXPECT_EQ(answer->body, c.reason);
    }
    EXPECT_EQ(dir.Read("cnf.ini"), stored);
    EXPECT_EQ(dir.Read("iec104.cfg"), ";kol,0\r\n");
    service.Tick();
    EXPECT_FALSE(service.ReconfigureRequested());

    // Other files are no configuration: they are stored as sent.
    EXPECT_EQ(Post(port, "/old_iec104.cfg.txt", "pw", "KP,x\r\n"), 200);
    EXPECT_EQ(dir.Read("old_iec104.cfg.txt"), "KP,x\r\n");
    service.Stop();
}

// One active station at 127.0.0.1:port, OPC UA off.
std::string OneStation(int port)
{
    TOneStation station;
    station.port = port;
    station.points = {{100, "TS1"}};
    station.opcUa.emplace().use = false;
    return OneStationCfg(station);
}

// The owner may go without a stop: what runs on the context (the web
// server, the channels) ends with it and never outlives the parts it uses.
TEST(FieldgateService, DestroyedWhileStartedEndsTheWebServerAndTheChannels)
{
    KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "1", "--sp", "100:1"});
    TempDir dir;
    const int port = FreePort();
    dir.Write("cnf.ini", FieldgateRig::CnfIni(port, "pw"));
    dir.Write("iec104.cfg", OneStation(kpsim.ListenPort(1)));
    {
        TFieldgateService service(dir.path() + "/", "127.0.0.1");
        service.Start();
        bool started = false;
        for (int i = 0; i < 200 && !started; ++i) {
            service.Tick();
            started = kpsim.WaitFor("startdt station=1", std::chrono::milliseconds(LoopPeriodMs)).has_value();
        }
        ASSERT_TRUE(started);
        ASSERT_TRUE(Request(port, "GET", "/"));
    }
    EXPECT_TRUE(kpsim.WaitFor("disconnected station=1"));
    EXPECT_FALSE(Request(port, "GET", "/")) << "still listening";
}

} // namespace
} // namespace gw::test
