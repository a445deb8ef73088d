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
// end of the plugging stops it (and OPC UA) all the same, so no request
// thread reads a context that is gone.
TEST(ServiceContext, EndStopsThePluggedPartsAlsoWithoutARun)
{
    StoppedParts web, ua;
    {
        TServiceContext ctx;
        TPlugged plugged = Plug(ctx, {nullptr, &ua, &web, nullptr});
    }
    EXPECT_EQ(web.stops, 1);
    EXPECT_EQ(ua.stops, 1);
}

// A scope that plugs other parts for a while stops what runs through them
// at its end and leaves the context with the parts plugged before.
TEST(ServiceContext, ANestedPluggingStopsItsPartsAndPutsBackTheOnesBefore)
{
    StoppedParts outer, inner;
    TServiceContext ctx;
    TPlugged plugged = Plug(ctx, {nullptr, &outer, nullptr, nullptr});
    {
        TPlugged nested = Plug(ctx, {nullptr, &inner, &inner, nullptr});
        EXPECT_EQ(ctx.Parts.OpcUa(), &inner);
    }
    EXPECT_EQ(inner.stops, 2); // web server and OPC UA
    EXPECT_EQ(outer.stops, 0);
    EXPECT_EQ(ctx.Parts.OpcUa(), &outer);
    EXPECT_EQ(ctx.Parts.WebServer(), nullptr);
}

} // namespace
} // namespace gw
