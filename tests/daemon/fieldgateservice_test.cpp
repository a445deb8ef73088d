#include "daemon/fieldgateservice.h"

#include "fieldgate_rig.h"
#include "support/temp_dir.h"

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

} // namespace
} // namespace gw::test
