#include "daemon/fieldgatehome.h"

#include "daemon/fieldgatemain.h"
#include "daemon/serviceevents.h"
#include "event_lines.h"
#include "service/servicelog.h"
#include "support/fake_clock.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

namespace gw::test {
namespace {

TEST(FieldgateHome, InstalledServiceIgnoresTheProgramFileAndTheTestSwitch)
{
    for (const char* home : {static_cast<const char*>(nullptr), ""}) {
        const TFieldgateHome h = FieldgateHomeFrom(home, "1", "fg12345");
        EXPECT_EQ(h.BasePath, "/etc/fieldgated/fieldgate");
        EXPECT_EQ(h.ServiceDir, "/etc/fieldgated/");
        EXPECT_EQ(h.ProgramName(), "fieldgate");
        EXPECT_FALSE(h.RebootIsNoOp) << "production must never skip the reboot";
    }
}

TEST(FieldgateHome, HomeHoldsTheProgramUnderTheNameItRunsAs)
{
    struct Case {
        const char* home;
        const char* noReboot;
        std::string programFile;
        std::string basePath;
        bool noOp;
    };
    const Case cases[] = {
        {"/tmp/fg", nullptr, "fg12345", "/tmp/fg/fg12345", false},
        {"/tmp/fg/", "1", "fg12345", "/tmp/fg/fg12345", true},
        {"/tmp/fg/./x/../", "0", "fieldgate", "/tmp/fg/fieldgate", false},
        {"/tmp/fg", "yes", "", "/tmp/fg/fieldgate", false},
    };
    for (const Case& c : cases) {
        const TFieldgateHome h = FieldgateHomeFrom(c.home, c.noReboot, c.programFile);
        EXPECT_EQ(h.BasePath, c.basePath) << c.home;
        EXPECT_EQ(h.ServiceDir + h.ProgramName(), h.BasePath);
        EXPECT_EQ(h.RebootIsNoOp, c.noOp) << c.home;
    }
    EXPECT_EQ(FieldgateHomeFrom("relative/dir", nullptr, "fg").ServiceDir.front(), '/')
        << "the detached service works from /";
}

TEST(MakeRebootAction, TestSwitchMakesTheRebootALineAndProductionKeepsIt)
{
    TempDir dir;
    TServiceLog events(dir.path());
    FakeClock clock;

    const auto skipped = MakeRebootAction(FieldgateHomeFrom(dir.path().c_str(), "1", "fg"), events, clock);
    skipped->Reboot();
    EXPECT_EQ(EventLines(dir.path()),
              std::vector<std::string>{ServiceEventStamp(clock.Now()) + " Reboot skipped: FIELDGATE_TEST_NO_REBOOT "});

    // Never called: it would reboot the machine.
    for (const char* noReboot : {static_cast<const char*>(nullptr), "0"}) {
        const auto real = MakeRebootAction(FieldgateHomeFrom(dir.path().c_str(), noReboot, "fg"), events, clock);
        EXPECT_NE(dynamic_cast<TSystemReboot*>(real.get()), nullptr);
    }
    const auto installed = MakeRebootAction(FieldgateHomeFrom(nullptr, "1", "fg"), events, clock);
    EXPECT_NE(dynamic_cast<TSystemReboot*>(installed.get()), nullptr);
}

} // namespace
} // namespace gw::test
