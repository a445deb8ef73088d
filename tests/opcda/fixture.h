#pragma once
// A core over a hand-filled service context: two stations, the service's own
// numbering, a fake clock, a fixed UTC+3 zone, manual ticks and recorded
// commands. The test client helpers hide the interface boilerplate; every
// test ends with no task memory outstanding.

#include "compat/com/classfactory.h"
#include "compat/com/taskmem.h"
#include "opcda/data_access.h"
#include "opcda/group_ticker.h"
#include "opcda/station_callbacks.h"
#include "service/serviceinit.h"
#include "support/fake_clock.h"
#include "support/recording_shutdown.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace opcda::test {

using namespace com;

struct Command {
    int tag;
    gw::TTUCommand command;
    bool operator==(const Command& o) const { return tag == o.tag && command == o.command; }
};

// Every callback, copied.
class RecordingDataCallback final : public ComObject<IOPCDataCallback> {
public:
    struct Entry {
        OPCHANDLE hClient;
        Variant value;
        WORD quality;
        FILETIME time;
        HRESULT error;
    };
    struct Call {
        std::string kind; // "data", "read", "write", "cancel"
        DWORD transaction;
        OPCHANDLE group;
        HRESULT masterQuality;
        HRESULT masterError;
        std::vector<Entry> entries;
    };

    HRESULT OnDataChange(DWORD tid, OPCHANDLE g, HRESULT mq, HRESULT me, DWORD n, OPCHANDLE* h, VARIANT* v, WORD* q,
                         FILETIME* t, HRESULT* e) override
    {
        record("data", tid, g, mq, me, n, h, v, q, t, e);
        if (onData)
            onData();
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD tid, OPCHANDLE g, HRESULT mq, HRESULT me, DWORD n, OPCHANDLE* h, VARIANT* v, WORD* q,
                           FILETIME* t, HRESULT* e) override
    {
        record("read", tid, g, mq, me, n, h, v, q, t, e);
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD tid, OPCHANDLE g, HRESULT me, DWORD n, OPCHANDLE* h, HRESULT* e) override
    {
        record("write", tid, g, 0, me, n, h, nullptr, nullptr, nullptr, e);
        return S_OK;
    }
    HRESULT OnCancelComplete(DWORD tid, OPCHANDLE g) override
    {
        record("cancel", tid, g, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
        return S_OK;
    }

    std::vector<Call> take()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(calls_, {});
    }
    std::function<void()> onData; // run inside OnDataChange

private:
    void record(const char* kind, DWORD tid, OPCHANDLE g, HRESULT mq, HRESULT me, DWORD n, OPCHANDLE* h, VARIANT* v,
                WORD* q, FILETIME* t, HRESULT* e)
    {
        Call c{kind, tid, g, mq, me, {}};
        for (DWORD i = 0; i < n; ++i) {
            Entry en{h[i], Variant(), q ? q[i] : WORD(0), t ? t[i] : FILETIME{0, 0}, e[i]};
            if (v)
                VariantCopy(en.value.get(), &v[i]);
            c.entries.push_back(en);
        }
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(std::move(c));
    }
    std::mutex lock_;
    std::vector<Call> calls_;
};

// A recording sink advised on the group's data callback connection point.
inline ComPtr<RecordingDataCallback> adviseRecording(IUnknown& group, ComPtr<IConnectionPoint>& cp, DWORD& cookie)
{
    auto sink = makeCom<RecordingDataCallback>();
    ComPtr<IConnectionPointContainer> cpc;
    group.QueryInterface(IConnectionPointContainer::iid, cpc.putVoid());
    EXPECT_EQ(cpc->FindConnectionPoint(IOPCDataCallback::iid, cp.put()), S_OK);
    EXPECT_EQ(cp->Advise(sink->identity(), &cookie), S_OK);
    return sink;
}

class OpcFixture : public ::testing::Test {
protected:
    static constexpr std::int64_t ZoneOffset = 3 * 3600;

    void SetUp() override
    {
        leaksBefore_ = taskMemOutstanding();
        addStation("St1", {{"P1", 0}, {"P2", 1}}, {"M1"});
        addStation("St2", {{"Q1", 0}}, {});
        gw::NumberOpcItems(ctx);
        ctx.Running.Run = std::make_unique<gw::TServiceRun>();
        core->setStartDelay(std::chrono::milliseconds(0));
        core->setManualTicks(true);
        model.bind(*core);
        core->Start();
        classes.registerClass(CLSID_OPCDataAccess20, makeCom<FunctionClassFactory>([this]() -> IUnknown* {
                                  return (new sOPCDataAccess(core))->identity();
                              }));
    }

    void TearDown() override
    {
        classes.revokeClass(CLSID_OPCDataAccess20);
        ctx.Running.Run.reset();
        EXPECT_EQ(taskMemOutstanding(), leaksBefore_) << "task memory left over";
    }

    void addStation(const std::string& name, std::vector<std::pair<std::string, int>> points,
                    std::vector<std::string> values)
    {
        gw::T_KP kp;
        kp.NameKP = name;
        for (auto& [n, type] : points) {
            gw::T_TS ts;
            ts.NameTS = n;
            ts.Type_Var = type;
            kp.TS_arr.push_back(ts);
        }
        for (auto& n : values) {
            gw::T_TI ti;
            ti.NameTI = n;
            kp.TI_arr.push_back(ti);
        }
        kp.Kol_TS = static_cast<int>(points.size());
        kp.Kol_TI = static_cast<int>(values.size());
        ctx.Stations.KpTable.push_back(kp);
        ctx.Stations.KpCount += 1;
    }

    // What the publication does: a row's value, quality and stamp.
    void publish(int id, double value, int quality, gw::TDateTime stamp)
    {
        std::lock_guard<std::mutex> guard(ctx.Items.OpcItemsLock);
        ctx.Items.OpcItemValues[static_cast<std::size_t>(id)] = value;
        ctx.Items.OpcItems[static_cast<std::size_t>(id)].Quality = quality;
        ctx.Items.OpcItems[static_cast<std::size_t>(id)].Stamp_DateTime = stamp;
    }

    ComPtr<IOPCServer> connect()
    {
        ComPtr<IOPCServer> server;
        EXPECT_EQ(classes.createInstance(CLSID_OPCDataAccess20, IOPCServer::iid, server.putVoid()), S_OK);
        return server;
    }

    ComPtr<IOPCItemMgt> addGroup(IOPCServer& server, const std::u16string& name, bool active = true, DWORD rate = 250,
                                 OPCHANDLE hClient = 7, OPCHANDLE* hServer = nullptr)
    {
        ComPtr<IOPCItemMgt> group;
        OPCHANDLE h = 0;
        DWORD revised = 0;
        EXPECT_EQ(server.AddGroup(name.c_str(), active, rate, hClient, nullptr, nullptr, 0, &h, &revised,
                                  IOPCItemMgt::iid, reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        if (hServer)
            *hServer = h;
        return group;
    }

    // Adds items (client handle = 100 + position); server handles, 0 for refused ones.
    std::vector<OPCHANDLE> addItems(IOPCItemMgt& group, const std::vector<std::u16string>& ids, bool active = true,
                                    VARTYPE requested = VT_EMPTY, HRESULT* result = nullptr)
    {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i)
            defs[i] = OPCITEMDEF{nullptr,
                                 const_cast<LPWSTR>(ids[i].c_str()),
                                 active ? TRUE : FALSE,
                                 static_cast<OPCHANDLE>(100 + i),
                                 0,
                                 nullptr,
                                 requested,
                                 0};
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = group.AddItems(static_cast<DWORD>(ids.size()), defs.data(), &results, &errors);
        if (result)
            *result = hr;
        std::vector<OPCHANDLE> handles;
        for (std::size_t i = 0; results && i < ids.size(); ++i)
            handles.push_back(errors[i] == S_OK ? results[i].hServer : 0);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return handles;
    }

    // What GetState answers, the name taken out of task memory.
    struct GroupState {
        HRESULT result = E_FAIL;
        DWORD rate = 0;
        BOOL active = 0;
        std::u16string name;
        OPCHANDLE client = 0;
    };
    GroupState groupState(IOPCGroupStateMgt& group)
    {
        GroupState s;
        LPWSTR name = nullptr;
        LONG bias = 0;
        float deadband = 0;
        DWORD lcid = 0;
        OPCHANDLE server = 0;
        s.result = group.GetState(&s.rate, &s.active, &name, &bias, &deadband, &lcid, &s.client, &server);
        s.name = name ? name : u"<null>";
        CoTaskMemFree(name);
        return s;
    }

    ComPtr<RecordingDataCallback> advise(IUnknown& group)
    {
        ComPtr<IConnectionPoint> cp;
        DWORD cookie = 0;
        return adviseRecording(group, cp, cookie);
    }

    void tick() { core->ticker().runOnce(); }

    FILETIME fileTimeOf(gw::TDateTime dt) { return localDateToFileTime(dt, zone); }

    gw::test::FakeClock clock;
    FixedLocalZone zone{ZoneOffset};
    gw::TServiceContext ctx;
    std::vector<Command> commands;
    bool commandsTaken = true; // what the service's command entry answers
    StationModel model{ctx, [this](int tag, gw::TTUCommand c) {
                           commands.push_back({tag, c});
                           return commandsTaken;
                       }};
    std::shared_ptr<sOPC> core = std::make_shared<sOPC>(clock, zone);
    ClassTable classes;

private:
    long leaksBefore_ = 0;
};

} // namespace opcda::test
