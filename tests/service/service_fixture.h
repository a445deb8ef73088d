#pragma once
// A service context on a fake clock with fake channels: each channel records
// what the service asks of it, hands connects and received bytes to its link
// object the way a real channel does (through the station's channel slot), and
// keeps the frames written to it. Stations are configured by a fake
// configuration reading.

#include "core/clients104.h"
#include "core/cp1251.h"
#include "service/channelenv.h"
#include "service/cnfini.h"
#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "support/fake_clock.h"
#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace gw::test {

using TBytes = std::vector<std::uint8_t>;

// What happened to the parts, in order: "open 1", "start 1", "stop 1",
// "join 1", "free 1", "web start", "ua stop", ...
struct TEvents {
    void Add(const std::string& e)
    {
        std::lock_guard<std::mutex> guard(mutex);
        list.push_back(e);
    }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return std::exchange(list, {});
    }
    std::mutex mutex;
    std::vector<std::string> list;
};

class FakeChannel final : public TChannel, public TLinkPort {
public:
    FakeChannel(TServiceContext& ctx, int kp, bool passive, TEvents& events)
        : ctx_(ctx), kp_(kp), passive_(passive), events_(events)
    {
        events_.Add("open " + std::to_string(kp_));
    }
    ~FakeChannel() override { events_.Add("free " + std::to_string(kp_)); }

    TLinkPort& Port() override { return *this; }
    void Start() override { events_.Add("start " + std::to_string(kp_)); }
    void RequestStop() override { events_.Add("stop " + std::to_string(kp_)); }
    bool Join(std::int64_t) override
    {
        events_.Add((hang ? "hang " : "join ") + std::to_string(kp_));
        return !hang;
    }

    bool HasThread() const override { return !passive_; }
    bool IsConnected() const override { return connected_; }
    bool OfferFrame(std::span<const std::uint8_t> frame) override
    {
        if (failOffer)
            throw std::runtime_error("offer failed");
        sent.emplace_back(frame.begin(), frame.end());
        return true;
    }
    bool WithdrawFrame() override { return false; } // every offered frame is written at once
    void RequestConnect(const std::string& host, int port) override
    {
        connectRequests.emplace_back(host + ":" + std::to_string(port));
    }
    void RequestDisconnect() override { ++disconnectRequests; }
    void CurrentAddress(std::string& host, int& port) const override
    {
        const T_KP& row = ctx_.Stations.KpTable[static_cast<std::size_t>(kp_)];
        host = row.IP;
        port = row.Port;
    }

    // The hand-over of a real channel.
    void Connect()
    {
        ctx_.Channels.WithLink(kp_, [&](TClient104Frm& frm) {
            connected_ = true;
            StationConnected(Env(), frm, kp_);
        });
    }
    void Disconnect()
    {
        ctx_.Channels.WithLink(kp_, [&](TClient104Frm& frm) {
            connected_ = false;
            StationDisconnected(Env(), frm, kp_);
        });
    }
    void Receive(const TBytes& bytes)
    {
        ctx_.Channels.WithLink(kp_, [&](TClient104Frm& frm) {
            const T_KP& row = ctx_.Stations.KpTable[static_cast<std::size_t>(kp_)];
            StationReceived(Env(), frm, kp_, bytes, row.IP, row.Port);
        });
    }
    std::vector<TBytes> TakeSent() { return std::exchange(sent, {}); }

    bool hang = false;
    bool failOffer = false; // a channel whose sending throws
    std::vector<TBytes> sent;
    std::vector<std::string> connectRequests;
    int disconnectRequests = 0;
    TActiveChannelParams params;

private:
    TChannelEnv Env() const { return TChannelEnv{&ctx_, ctx_.Process.Clock, nullptr}; }

    TServiceContext& ctx_;
    int kp_;
    bool passive_;
    TEvents& events_;
    bool connected_ = false;
};

class FakeChannelFactory final : public TChannelFactory {
public:
    explicit FakeChannelFactory(TEvents& events) : events_(events) {}

    std::unique_ptr<TChannel> OpenActive(TServiceContext& ctx, int kpIndex, const TActiveChannelParams& params) override
    {
        auto channel = std::make_unique<FakeChannel>(ctx, kpIndex, false, events_);
        channel->params = params;
        byStation[kpIndex] = channel.get();
        return channel;
    }
    std::unique_ptr<TChannel> OpenPassive(TServiceContext& ctx, int kpIndex, int port) override
    {
        if (!listening.insert(port).second)
            return nullptr; // port in use
        auto channel = std::make_unique<FakeChannel>(ctx, kpIndex, true, events_);
        byStation[kpIndex] = channel.get();
        return channel;
    }
    // Every start opens afresh.
    void Forget()
    {
        byStation.clear();
        listening.clear();
    }

    std::map<int, FakeChannel*> byStation;
    std::set<int> listening;

private:
    TEvents& events_;
};

// The OPC UA bridge: records what it is told.
class FakeOpcUa final : public TOpcUaBridge {
public:
    explicit FakeOpcUa(TEvents& events) : events_(events) {}
    bool Start(TServiceContext& ctx) override
    {
        // The items are numbered before the bridge builds its address space.
        events_.Add("ua start " + std::to_string(ctx.Stations.KpCount > 0 ? ctx.Stations.KpTable[1].Nom_OPC_Alarm : 0));
        return enabled;
    }
    void Stop() override { events_.Add("ua stop"); }
    int LifebitId() const override { return lifebit; }
    void SetValue(int type, int id, int iValue, double dValue, std::uint32_t status, TDateTime source,
                  TDateTime server) override
    {
        pushes.push_back({"value", type, id, iValue, dValue, status, source, server});
    }
    void SetQuality(int id, std::uint32_t status, TDateTime source, TDateTime server) override
    {
        pushes.push_back({"quality", -1, id, 0, 0, status, source, server});
    }

    struct TPush {
        std::string what;
        int type, id, iValue;
        double dValue;
        std::uint32_t status;
        TDateTime source, server;
    };
    bool enabled = true;
    int lifebit = 0;
    std::vector<TPush> pushes;

private:
    TEvents& events_;
};

class FakeWebServer final : public TServiceWebServer {
public:
    explicit FakeWebServer(TEvents& events) : events_(events) {}
    void Start(const TCnfIni& settings) override
    {
        if (fail)
            throw std::runtime_error("address in use");
        events_.Add("web start " + std::to_string(settings.Port_WebServ));
    }
    void Stop() override { events_.Add("web stop"); }
    bool fail = false;

private:
    TEvents& events_;
};

// One point or measured value of a station in the fake configuration.
struct TSignalSpec {
    int ioa = 0;
    int ctrlIoa = 0; // 0: cannot be commanded
    int typeTu = 0;
    int typeVar = 0;
};

struct TStationSpec {
    std::string name = "КП";
    std::string ip = "10.0.0.1";
    int asdu = 1;
    bool passive = false;
    std::vector<TSignalSpec> ts;
    std::vector<TSignalSpec> ti;
    int gi = 0, counters = 0, clockSync = 0; // minutes
};

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest()
    {
        ctx.Process.Clock = &clock;
        ctx.Process.ExePath = temp.File("fieldgate");
    }

    // The configuration reader to plug: readConfig as it is when the service reads.
    std::function<void(TServiceContext&)> Reader()
    {
        return [this](TServiceContext& c) { readConfig(c); };
    }

    void Configure(TServiceContext& c)
    {
        ++readings;
        c.Stations.Reset();
        for (const TStationSpec& s : stations) {
            T_KP kp;
            kp.NameKP = s.name;
            kp.IP = s.ip;
            kp.ASDU_Adr = s.asdu;
            kp.Passive = s.passive;
            kp.OPROS_KP = s.gi;
            kp.Interval_opros_counters_101 = s.counters;
            kp.Interval_CLOCK_SYNC_103 = s.clockSync;
            for (const TSignalSpec& t : s.ts) {
                T_TS ts;
                ts.AdrASDU = s.asdu;
                ts.AdrIOA = t.ioa;
                ts.AdrASDU_TU = t.ctrlIoa ? s.asdu : 0;
                ts.AdrIOA_TU = t.ctrlIoa;
                ts.Type_TU = t.typeTu;
                ts.Type_Var = t.typeVar;
                kp.TS_arr.push_back(ts);
            }
            kp.Kol_TS = static_cast<int>(s.ts.size());
            for (const TSignalSpec& t : s.ti) {
                T_TI ti;
                ti.AdrASDU = s.asdu;
                ti.AdrIOA = t.ioa;
                kp.TI_arr.push_back(ti);
            }
            kp.Kol_TI = static_cast<int>(s.ti.size());
            c.Stations.KpTable.push_back(kp);
            c.Stations.KpCount += 1;
        }
    }

    void Start()
    {
        factory.Forget();
        fromGateway.clear();
        toGateway.clear();
        if (!ctx.Process.TypeIdentList)
            ServiceInit(ctx);
        ASSERT_TRUE(ServiceStart(ctx));
    }
    FakeChannel& Channel(int kp) { return *factory.byStation.at(kp); }
    // The station comes up: connect, take STARTDT act, confirm it, take
    // what the link sends then (its first general interrogation).
    void Bring(int kp)
    {
        Channel(kp).Connect();
        Ticks(1);
        Channel(kp).TakeSent();
        Channel(kp).Receive({0x68, 0x04, 0x0B, 0x00, 0x00, 0x00});
        Ticks(1);
        Answer(kp);
    }
    // The station's side of the link: acknowledges every I-frame and answers
    // test frames. The types of the I-frames, and the frames themselves.
    std::vector<int> Answer(int kp, std::vector<TBytes>* iframes = nullptr)
    {
        FakeChannel& ch = Channel(kp);
        std::vector<int> types;
        for (const TBytes& f : ch.TakeSent()) {
            if (f.size() > 6 && (f[2] & 1) == 0) {
                types.push_back(f[6]);
                ++fromGateway[kp];
                if (iframes)
                    iframes->push_back(f);
            } else if (f.size() == 6 && f[2] == 0x43) {
                ch.Receive({0x68, 0x04, 0x83, 0x00, 0x00, 0x00});
            }
        }
        if (!types.empty()) {
            const int nr = fromGateway[kp] << 1;
            ch.Receive({0x68, 0x04, 0x01, 0x00, static_cast<std::uint8_t>(nr), static_cast<std::uint8_t>(nr >> 8)});
        }
        return types;
    }
    // The station sends one I-frame holding asdu (type, vsq, cot 2, ca 2, ...).
    void Send(int kp, const TBytes& asdu)
    {
        const int ns = toGateway[kp]++ << 1;
        const int nr = fromGateway[kp] << 1;
        TBytes frame{0x68,
                     static_cast<std::uint8_t>(asdu.size() + 4),
                     static_cast<std::uint8_t>(ns),
                     static_cast<std::uint8_t>(ns >> 8),
                     static_cast<std::uint8_t>(nr),
                     static_cast<std::uint8_t>(nr >> 8)};
        frame.insert(frame.end(), asdu.begin(), asdu.end());
        Channel(kp).Receive(frame);
    }
    void Ticks(int n)
    {
        for (int k = 0; k < n; ++k) {
            clock.Advance(50);
            ServiceTick(ctx);
        }
    }
    // A log of the service directory as UTF-8 text ("" when none).
    std::string Log(const std::string& name) const
    {
        std::ifstream in(temp.File(name), std::ios::binary);
        return Cp1251ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    TempDir temp;
    FakeClock clock;
    TEvents events;
    FakeChannelFactory factory{events};
    std::vector<TStationSpec> stations;
    // How the start reads the configuration: the stations above unless a test
    // changes it.
    std::function<void(TServiceContext&)> readConfig = [this](TServiceContext& c) { Configure(c); };
    int readings = 0;
    std::map<int, int> fromGateway, toGateway; // I-frames counted per station
    // Plugged in by the tests that want them.
    FakeOpcUa ua{events};
    FakeWebServer web{events};
    TServiceContext ctx;
    TPlugged plugged = Plug(ctx, {&factory, nullptr, nullptr, Reader()}); // last: stopped before the fakes go
};

// Type identifications of the I-frames the gateway sends; 0 for S and U frames.
inline int TypeOf(const TBytes& frame) { return frame.size() > 6 && (frame[2] & 1) == 0 ? frame[6] : 0; }
inline std::vector<int> TypesOf(const std::vector<TBytes>& frames)
{
    std::vector<int> types;
    for (const TBytes& f : frames)
        if (TypeOf(f))
            types.push_back(TypeOf(f));
    return types;
}

} // namespace gw::test
