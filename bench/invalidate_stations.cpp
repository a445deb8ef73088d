// Every station of a large configuration lost at once: 200 channels, each
// invalidating its station's values while it reconnects, over 60 000 tags
// under the tag list's lock that every received ASDU takes. Stations per
// second on one core.

#include "core/clients104.h"
#include "core/kplist.h"
#include "core/signals.h"
#include "core/tags.h"
#include "core/typeident.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace gw {
namespace {

constexpr const char* kIp = "10.0.0.5";
constexpr int kStations = 200;
constexpr int kTagsPerStation = 300;

class IdlePort final : public TLinkPort {
public:
    bool HasThread() const override { return true; }
    bool IsConnected() const override { return false; }
    bool OfferFrame(std::span<const std::uint8_t>) override { return true; }
    bool WithdrawFrame() override { return false; }
    void RequestConnect(const std::string&, int) override {}
    void RequestDisconnect() override {}
    void CurrentAddress(std::string& h, int& p) const override
    {
        h = kIp;
        p = 0;
    }
};

void InvalidateAllStations(benchmark::State& state)
{
    TTypeIdentList types;
    TTagCategoryList cats(1);
    TArmSignals recs;
    TKpList kps;
    TTagSignalList tags;
    std::vector<std::pair<int, int>> ranges{{0, 0}};
    TPrmnArray prmn = MakePrmn104();
    for (int s = 1; s <= kStations; ++s) {
        const int port = 2404 + s;
        kps.Add(TKpEthernet(StationId(s), StationId(s), KpTypeAddr::kpta_KP, "KP", kIp, port));
        ranges.emplace_back(tags.Count(), tags.Count() + kTagsPerStation);
        for (int ioa = 1; ioa <= kTagsPerStation; ++ioa) {
            TTagSignal t;
            t.Init("tag", 1, ioa, kIp, port, cats.GetPtc(TagCategName::tcn_TIT), recs.Count(), 0, 0, ioa);
            recs.AddRec(StationId(s), SignalType::stTIT, "tag", 0);
            tags.AddTag(t);
        }
        SetPrmnDefault(prmn[static_cast<std::size_t>(s - 1)], PrmnKind104, kIp, port);
    }
    IdlePort port;
    TClients104 table(kStations);
    std::vector<std::unique_ptr<TClient104Frm>> channels;
    for (int s = 0; s < kStations; ++s) {
        auto client = table.AddClient(TLinkSocket{&port}, prmn, {TLinkEnv{&SystemClock()}, &types, &tags, true});
        channels.push_back(std::make_unique<TClient104Frm>(client, false, TChannelModel{&kps, &tags, &recs, &ranges}));
    }

    std::int64_t stations = 0;
    for (auto _ : state) {
        for (auto& channel : channels) {
            channel->OnDisconnect();
            channel->OnConnect(); // takes the disconnect and invalidates the lost values
        }
        stations += kStations;
    }
    if (channels.front()->Invalidations() == 0)
        state.SkipWithError("no station was invalidated");
    state.counters["stations/s"] = benchmark::Counter(static_cast<double>(stations), benchmark::Counter::kIsRate);
}
BENCHMARK(InvalidateAllStations)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace gw
