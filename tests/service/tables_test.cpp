#include "service/tables.h"

#include "service/serviceparts.h"

#include <gtest/gtest.h>

namespace gw {
namespace {

TEST(ServiceContext, FilesResolveAgainstTheProgramDirectory)
{
    TServiceContext ctx;
    EXPECT_EQ(ctx.Process.FilePath("iec104.cfg"), "iec104.cfg");
    ctx.Process.ExePath = "/etc/fieldgated/";
    EXPECT_EQ(ctx.Process.FilePath("iec104.cfg"), "/etc/fieldgated/iec104.cfg");
    ctx.Process.ExePath = "/opt/gw/fieldgate";
    EXPECT_EQ(ctx.Process.FilePath("cnf.ini"), "/opt/gw/cnf.ini");
}

struct StoppedParts final : TServiceWebServer, TOpcUaBridge {
    void Start(const TCnfIni&) override {}
    bool Start(TServiceContext&) override { return true; }
    void Stop() override { ++stops; }
    int LifebitId() const override { return 0; }
    void SetValue(int, int, int, double, std::uint32_t, TDateTime, TDateTime) override {}
    void SetQuality(int, std::uint32_t, TDateTime, TDateTime) override {}
    int stops = 0;
};

// A web server runs even when the start failed and left no run behind: the
// context's end stops it (and OPC UA) all the same, so no request thread
// reads a context that is gone.
TEST(ServiceContext, EndStopsThePluggedPartsAlsoWithoutARun)
{
    StoppedParts web, ua;
    {
        TServiceContext ctx;
        ctx.Parts.WebServer = &web;
        ctx.Parts.OpcUa = &ua;
    }
    EXPECT_EQ(web.stops, 1);
    EXPECT_EQ(ua.stops, 1);
}

} // namespace
} // namespace gw
