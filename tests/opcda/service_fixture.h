#pragma once
// The whole way for an OPC DA client: kpsim as one station over loopback,
// the real service polling it, and the server classes registered as the
// program registers them. The group ticks by hand on the fake clock; what
// the station sends arrives on the service's own threads.

#include "compat/com/taskmem.h"
#include "opcda/registration.h"
#include "opcda/station_callbacks.h"
#include "service/cfgfile.h"
#include "service/channelfactory.h"
#include "service/serviceinit.h"
#include "service/service_ticker.h"
#include "support/fake_clock.h"
#include "testkit/kpsim_process.h"
#include "testkit/one_station.h"
#include "testkit/temp_dir.h"

#include "fixture.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace opcda::test {

class ServiceEndToEnd : public ::testing::Test {
protected:
    static constexpr int Ca = 3;
    static constexpr int CommandOffset = 5000;
    // Client handles of the items every test adds, in this order.
    enum : OPCHANDLE { hConnected = 1, hSP, hDP, hME, hLifebit };

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

    // One station with a single and a double point, both commanded with
    // select, and a measured value.
    gw::test::TOneStation config() const
    {
        gw::test::TOneStation s;
        s.commonAddress = Ca;
        s.port = port;
        s.timeToOpc = true;
        s.points = {{100, "SP", 100 + CommandOffset}, {200, "DP", 200 + CommandOffset, 2, 1}};
        s.values = {{300, "ME"}};
        return s;
    }

    // kpsim as that station, the service connected to it and through its
    // first interrogation, the OPC DA server classes registered.
    void startStation()
    {
        kpsim = std::make_unique<gw::test::KpsimProcess>(
            std::vector<std::string>{"--listen", "127.0.0.1:0", "--ca", std::to_string(Ca), "--sp", "100", "--dp",
                                     "200", "--me-float", "300", "--cmd-offset", std::to_string(CommandOffset)});
        port = kpsim->ListenPort(1);
        temp.Write(gw::Iec104CfgFileName, gw::test::OneStationCfg(config()));
        ASSERT_TRUE(gw::ServiceStart(ctx));
        ticker.Start();
        clock.Advance(1200); // the first connect pause
        ASSERT_TRUE(kpsim->WaitFor("interrogation station=1"));

        core->setStartDelay(std::chrono::milliseconds(0));
        core->setManualTicks(true);
        model.bind(*core);
        core->Start();
        classes.registerClass(CLSID_OPCDataAccess20, makeCom<TOPCAutoObjectFactory>(core, registrar));
    }

    ComPtr<IOPCServer> connect()
    {
        ComPtr<IOPCServer> server;
        EXPECT_EQ(classes.createInstance(CLSID_OPCDataAccess20, IOPCServer::iid, server.putVoid()), S_OK);
        return server;
    }

    // A group at 100 ms with every item of the station, lifebit last.
    ComPtr<IOPCItemMgt> addGroup(IOPCServer& server)
    {
        ComPtr<IOPCItemMgt> group;
        OPCHANDLE hGroup = 0;
        DWORD revised = 0;
        EXPECT_EQ(server.AddGroup(u"All", TRUE, 100, 1, nullptr, nullptr, 0, &hGroup, &revised, IOPCItemMgt::iid,
                                  reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        std::vector<std::u16string> ids{u"KP1.Connected", u"KP1.SP", u"KP1.DP", u"KP1.ME", u"lifebit"};
        std::vector<OPCITEMDEF> defs;
        for (std::size_t i = 0; i < ids.size(); ++i)
            defs.push_back({nullptr, ids[i].data(), TRUE, static_cast<OPCHANDLE>(i + 1), 0, nullptr, VT_EMPTY, 0});
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(group->AddItems(static_cast<DWORD>(ids.size()), defs.data(), &results, &errors), S_OK);
        handles.clear();
        for (std::size_t i = 0; results && i < ids.size(); ++i)
            handles.push_back(results[i].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return group;
    }

    ComPtr<RecordingDataCallback> advise(IOPCItemMgt& group) { return adviseRecording(group, cp, cookie); }

    // One group update: the clock past the rate, one tick.
    void update()
    {
        clock.Advance(300);
        core->ticker().runOnce();
    }

    // Updates until a callback satisfies pred (bounded in real time, as the
    // station's values come on the service's threads); the calls taken on
    // the way, the matching one last, go to *seen.
    template <class Pred>
    bool callUntil(RecordingDataCallback& sink, Pred pred, std::vector<RecordingDataCallback::Call>* seen = nullptr)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            update();
            for (auto& call : sink.take()) {
                const bool found = pred(call);
                if (seen)
                    seen->push_back(std::move(call));
                if (found)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    template <class Pred>
    bool dataChangeUntil(RecordingDataCallback& sink, Pred pred)
    {
        return callUntil(sink, [&](const auto& call) { return call.kind == "data" && pred(call); });
    }

    // Updates until a device read of the item satisfies pred.
    template <class Pred>
    bool readUntil(IOPCItemMgt& items, OPCHANDLE hClient, Pred pred)
    {
        ComPtr<IOPCSyncIO> sync;
        items.QueryInterface(IOPCSyncIO::iid, sync.putVoid());
        OPCHANDLE h = handles.at(hClient - 1);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            update();
            OPCITEMSTATE* states = nullptr;
            HRESULT* errors = nullptr;
            bool found = false;
            if (sync->Read(OPC_DS_DEVICE, 1, &h, &states, &errors) == S_OK) {
                found = pred(states[0]);
                VariantClear(&states[0].vDataValue);
            }
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
            if (found)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

    static bool isTrue(const Variant& v) { return v.vt() == VT_BOOL && v.get()->boolVal == VARIANT_TRUE; }

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
    InMemoryRegistry registry;
    ComponentCategoryStore categories;
    Registrar registrar{registry, categories, "Norvane.OPCServer", "Norvane", "fieldgate"};
    ClassTable classes;
    std::unique_ptr<gw::test::KpsimProcess> kpsim;
    std::vector<OPCHANDLE> handles; // server handles of the group's items, by client handle - 1
    ComPtr<IConnectionPoint> cp;
    DWORD cookie = 0;
};

} // namespace opcda::test
