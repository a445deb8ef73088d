#include "daemon/fieldgateservice.h"

#include "fieldgate_rig.h"
#include "support/temp_dir.h"
#include "tools/kpsim_process.h"

#include <gtest/gtest.h>

#include <chrono>
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

    EXPECT_EQ(Post(port, "/iec104.cfg", "pw", ";kol,0\r\n"), 200);
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

TEST(FieldgateService, ConfigurationThatCannotBeReadIsLoggedAndTheWebServerStillRuns)
{
    TempDir dir;
    const int port = FreePort();
    dir.Write("cnf.ini", FieldgateRig::CnfIni(port, "pw"));
    dir.Write("iec104.cfg", ";kol,1\r\nKP,1,1,bad,127.0.0.1\r\nPRM_T,not-a-port\r\n");
    TFieldgateService service(dir.path() + "/", "127.0.0.1");
    service.Start();
    service.Tick();
    EXPECT_NE(dir.Read("error_iec104.txt").find("iec104.cfg"), std::string::npos);

    // So a good configuration can be sent.
    ASSERT_EQ(service.WebPort(), port);
    EXPECT_EQ(Post(port, "/iec104.cfg", "pw", ";kol,0\r\n"), 200);
    EXPECT_EQ(dir.Read("iec104.cfg"), ";kol,0\r\n");
    service.Stop();
}

// One active station at 127.0.0.1:port, OPC UA off.
std::string OneStation(int port)
{
    return ";kol,1\r\nKP,1,1,KP1,127.0.0.1\r\nPRM_T," + std::to_string(port) +
           ",30000,15000,10000,20000,12,8,100,0,0,0,0,5000,30000,3,20000,1,2,3,2,30\r\n"
           "OPC_UA_use,0\r\nTS,1001,1,,\"TS1\",8272,1,100,0,0,0,0\r\n";
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
