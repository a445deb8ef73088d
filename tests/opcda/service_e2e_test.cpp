// The whole way: kpsim as the station over loopback, the service polling it,
// an OPC DA client with one group over every item. Spontaneous values arrive
// as data changes with their values, qualities and stamps; writes reach the
// station as select and execute; a station that goes away turns bad and
// refuses writes.
#include "compat/com/taskmem.h"
#include "opcda/registration.h"
#include "opcda/station_callbacks.h"
#include "service/cfgfile.h"
#include "service/channelfactory.h"
#include "service/serviceinit.h"
#include "service/service_ticker.h"
#include "support/fake_clock.h"
#include "testkit/temp_dir.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"

#include "fixture.h"

#include <thread>

namespace opcda::test {
namespace {

using namespace std::chrono_literals;

constexpr int Ca = 3;
constexpr int CommandOffset = 5000;

class ServiceEndToEnd : public ::testing::Test {
protected:
    ServiceEndToEnd()
    {
        ctx.Process.Clock = &clock;
        ctx.Process.ExePath = temp.File("fieldgate");
        gw::ServiceInit(ctx);
    }
    ~ServiceEndToEnd() override
    {
        ticker.Stop();
        gw::ServiceStop(ctx);
    }

    // One station with a single and a double point, both commanded with select.
    gw::test::TOneStation config() const
    {
        gw::test::TOneStation s;
        s.commonAddress = Ca;
        s.port = port;
        s.timeToOpc = true;
        s.points = {{100, "SP", 100 + CommandOffset}, {200, "DP", 200 + CommandOffset, 2, 1}};
        return s;
    }

    void startService()
    {
        temp.Write(gw::Iec104CfgFileName, gw::test::OneStationCfg(config()));
        ASSERT_TRUE(gw::ServiceStart(ctx));
        ticker.Start();
        clock.Advance(1200); // the first connect pause
    }

    // Ticks the group until a data change satisfies pred (bounded in real time).
    template <class Pred>
    bool dataChangeUntil(RecordingDataCallback& sink, Pred pred)
    {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < until) {
            clock.Advance(300);
            core->ticker().runOnce();
            for (auto& call : sink.take())
                if (call.kind == "data" && pred(call))
                    return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    static const RecordingDataCallback::Entry* entry(const RecordingDataCallback::Call& c, OPCHANDLE h)
    {
        for (const auto& e : c.entries)
            if (e.hClient == h)
                return &e;
        return nullptr;
    }

    gw::test::TempDir temp;
    gw::test::FakeClock clock;
    gw::TSocketChannelFactory factory;
    int port = 0;
    gw::TOpcUaSettings opcUa;
    gw::TServiceContext ctx;
    gw::TPlugged plugged = gw::Plug(ctx, {&factory, nullptr, nullptr, gw::Iec104CfgReader(opcUa)});
    gw::test::ServiceTicker ticker{ctx};
    FixedLocalZone zone{3 * 3600};
    std::shared_ptr<sOPC> core = std::make_shared<sOPC>(clock, zone);
    StationModel model{ctx};
};

TEST_F(ServiceEndToEnd, SpontaneousValuesWritesAndALostStation)
{
    const long leaks = taskMemOutstanding();
    auto kpsim = std::make_unique<gw::test::KpsimProcess>(
        std::vector<std::string>{"--listen", "127.0.0.1:0", "--ca", "3", "--sp", "100", "--dp", "200", "--cmd-offset",
                                 std::to_string(CommandOffset)});
    port = kpsim->ListenPort(1);
    startService();
    ASSERT_TRUE(kpsim->WaitFor("interrogation station=1"));

    core->setStartDelay(0ms);
    core->setManualTicks(true);
    model.bind(*core);
    core->Start();
    InMemoryRegistry registry;
    ComponentCategoryStore categories;
    Registrar registrar{registry, categories, "Norvane.OPCServer", "Norvane", "fieldgate"};
    ClassTable classes;
    classes.registerClass(CLSID_OPCDataAccess20, makeCom<TOPCAutoObjectFactory>(core, registrar));
    {
        ComPtr<IOPCServer> server;
        ASSERT_EQ(classes.createInstance(CLSID_OPCDataAccess20, IOPCServer::iid, server.putVoid()), S_OK);
        ComPtr<IOPCItemMgt> group;
        OPCHANDLE hGroup = 0;
        DWORD revised = 0;
        ASSERT_EQ(server->AddGroup(u"All", TRUE, 100, 1, nullptr, nullptr, 0, &hGroup, &revised, IOPCItemMgt::iid,
                                   reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        std::vector<std::u16string> ids{u"KP1.Connected", u"KP1.SP", u"KP1.DP", u"lifebit"};
        std::vector<OPCITEMDEF> defs;
        for (std::size_t i = 0; i < ids.size(); ++i)
            defs.push_back({nullptr, ids[i].data(), TRUE, static_cast<OPCHANDLE>(i + 1), 0, nullptr, VT_EMPTY, 0});
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(group->AddItems(4, defs.data(), &results, &errors), S_OK);
        std::vector<OPCHANDLE> handles;
        for (int i = 0; i < 4; ++i)
            handles.push_back(results[i].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);

        auto sink = makeCom<RecordingDataCallback>();
        ComPtr<IConnectionPoint> cp;
        group.as<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::iid, cp.put());
        DWORD cookie = 0;
        ASSERT_EQ(cp->Advise(sink->identity(), &cookie), S_OK);

        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            const auto* c = entry(call, 1);
            return c && c->value.vt() == VT_BOOL && c->value.get()->boolVal == VARIANT_TRUE && c->quality == 0xC0;
        })) << "Connected comes true";

        // A time-tagged spontaneous change: value, quality and the station's stamp.
        kpsim->Control("set 1 100 1 time=2023-03-15T11:30:00.000");
        const gw::TDateTime stationTime = 45000.5 - 0.5 / 24;
        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            const auto* sp = entry(call, 2);
            return sp && sp->value.vt() == VT_BOOL && sp->value.get()->boolVal == VARIANT_TRUE && sp->quality == 0xC0
                   && fileTimeValue(sp->time) == fileTimeValue(localDateToFileTime(stationTime, zone));
        })) << "the single point switched on, with the station's time";
        kpsim->Control("set 1 200 2");
        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            const auto* dp = entry(call, 3);
            return dp && dp->value.vt() == VT_I8 && dp->value.get()->llVal == 2 && dp->quality == 0xC0;
        })) << "the double point arrives as an integer";

        // Writes become select and execute with the command addresses.
        auto sync = group.as<IOPCSyncIO>();
        const auto writeReaches = [&](OPCHANDLE item, VARIANT value, const std::string& command) {
            ASSERT_EQ(sync->Write(1, &item, &value, &errors), S_OK);
            CoTaskMemFree(errors);
            for (const std::string& line : {command + " select=1", command + " select=0"}) {
                const auto got = kpsim->WaitFor("command ");
                ASSERT_TRUE(got);
                EXPECT_EQ(got->substr(0, line.size()), line);
            }
        };
        const VARIANT off = *Variant::fromBool(false).get();
        const VARIANT on = *Variant::fromI4(2).get();
        writeReaches(handles[1], off, "command station=1 type=C_SC_NA_1 ca=3 ioa=5100 value=0");
        writeReaches(handles[2], on, "command station=1 type=C_DC_NA_1 ca=3 ioa=5200 value=2");

        // The station goes away: its items turn bad and Connected false.
        kpsim->Quit();
        kpsim.reset();
        bool connectedFalse = false, pointsBad = false;
        EXPECT_TRUE(dataChangeUntil(*sink, [&](const auto& call) {
            if (const auto* c = entry(call, 1))
                connectedFalse = connectedFalse || (c->value.vt() == VT_BOOL && c->value.get()->boolVal == 0);
            if (const auto* p = entry(call, 2))
                pointsBad = pointsBad || p->quality != 0xC0;
            return connectedFalse && pointsBad;
        })) << "Connected false and the points bad";

        // Reads of the lost station, from the cache and the device, are not good either.
        for (const DWORD source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
            OPCHANDLE sp = handles[1];
            OPCITEMSTATE* states = nullptr;
            ASSERT_EQ(sync->Read(source, 1, &sp, &states, &errors), S_OK);
            EXPECT_NE(states[0].wQuality, 0xC0) << source;
            VariantClear(&states[0].vDataValue);
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
        }

        // A command to the lost station cannot go out: the write says so.
        OPCHANDLE sp = handles[1];
        VARIANT value = off;
        ASSERT_EQ(sync->Write(1, &sp, &value, &errors), S_FALSE);
        EXPECT_EQ(errors[0], E_FAIL);
        CoTaskMemFree(errors);
        cp->Unadvise(cookie);
    }
    classes.revokeClass(CLSID_OPCDataAccess20);
    EXPECT_EQ(taskMemOutstanding(), leaks);
}

} // namespace
} // namespace opcda::test
