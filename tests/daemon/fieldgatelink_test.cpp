// What fieldgate's link objects write: with the exchange logging on, the
// trace of a channel holds every frame and the link's own lines but names no
// frame it sends, and the log queue, which nothing in fieldgate reads, stays
// empty.

#include "core/cp1251.h"
#include "core/messbuff.h"
#include "daemon/fieldgate.h"
#include "daemon/fieldgateservice.h"
#include "fieldgate_rig.h"
#include "service/tables.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include <gtest/gtest.h>

#include <thread>

namespace gw::test {
namespace {

// Ticks the service as its main loop does until kpsim prints the line.
bool TickUntil(TFieldgateService& service, KpsimProcess& kpsim, const std::string& prefix)
{
    for (int i = 0; i < 300; ++i) {
        service.Tick();
        if (kpsim.WaitFor(prefix, std::chrono::milliseconds(LoopPeriodMs)))
            return true;
    }
    return false;
}

TEST(FieldgateService, TheExchangeTraceNamesNoSentFrameAndTheLogQueueStaysEmpty)
{
    KpsimProcess kpsim({"--listen", "127.0.0.1:0", "--ca", "1", "--sp", "100:4"});
    TempDir dir;
    const int port = FreePort();
    std::string cnf = FieldgateRig::CnfIni(port, "pw");
    cnf.replace(cnf.find("Save_Obmen_v_File=0"), 19, "Save_Obmen_v_File=1");
    dir.Write("cnf.ini", cnf);
    dir.Write("iec104.cfg", ExampleStations({kpsim.ListenPort(1)}));
    TFieldgateService service(dir.path() + "/", "127.0.0.1");
    service.Start();
    ASSERT_TRUE(TickUntil(service, kpsim, "clock-sync station=1 ca=1"));
    ASSERT_TRUE(TickUntil(service, kpsim, "interrogation station=1 ca=1"));
    // A line of the link's own that opcstation would see in its queue.
    kpsim.Control("stopdt 1");
    ASSERT_TRUE(TickUntil(service, kpsim, "disconnected station=1"));
    service.Stop();

    const std::string trace = Cp1251ToUtf8(dir.Read("Socket0.txt"));
    EXPECT_NE(trace.find("То KP "), std::string::npos) << "the frames sent are traced";
    EXPECT_NE(trace.find("STOPDT act от КП"), std::string::npos);
    for (const char* name : {"Опрос КП", "Команда синхронизации часов", "Команда опроса счетчиков"})
        EXPECT_EQ(trace.find(name), std::string::npos) << name;
    EXPECT_EQ(service.Context().Process.MessBuff.Count(), 0);
}

} // namespace
} // namespace gw::test
