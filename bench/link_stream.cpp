// A station's byte stream through the whole receive path of one channel:
// chunks of a TCP read cut into I-frames, sequence-checked, acknowledged,
// parsed and stored into 60 000 tags. Information objects per second on one
// core. StationsLinkStream: 200 channels, each read holding one frame of its
// station, the reads of the stations in random order, into the tags the
// service builds for them (bench/station_streams.h; shape 0 one or two
// objects a frame, shape 1 30 objects).

#include "cross_build_note.h"
#include "station_streams.h"
#include "testkit/measured_tags.h"
#include "core/clients104.h"
#include "core/tags.h"
#include "core/typeident.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace gw {
namespace {

constexpr const char* kIp = "10.0.0.5";
constexpr int kPort = 2404;
constexpr int kTags = 60000;
constexpr std::size_t kChunk = 1460; // one TCP segment per read

// Connected, with a mailbox that is always free.
class SinkPort final : public TLinkPort {
public:
    explicit SinkPort(std::string host = kIp) : host_(std::move(host)) {}
    bool HasThread() const override { return true; }
    bool IsConnected() const override { return true; }
    bool OfferFrame(std::span<const std::uint8_t>) override { return true; }
    bool WithdrawFrame() override { return false; }
    void RequestConnect(const std::string&, int) override {}
    void RequestDisconnect() override {}
    void CurrentAddress(std::string& h, int& p) const override
    {
        h = host_;
        p = kPort;
    }

private:
    std::string host_;
};

// Object kinds of the stream: type, SQ, element bytes, objects per ASDU.
struct TKind {
    int code;
    bool sequence;
    int elemLen;
    int perAsdu;
};
constexpr TKind kMix[] = {{13, false, 5, 30}, {11, false, 3, 40}, {1, true, 1, 120}, {36, false, 12, 16}};

// I-frames N(S) = 0.. covering every tag once; element bytes vary by seed.
std::vector<std::uint8_t> Stream(int seed, std::int64_t& objects)
{
    std::vector<std::uint8_t> s;
    int ns = 0, ioa = 1, kind = 0;
    objects = 0;
    while (ioa <= kTags) {
        const TKind& k = kMix[kind++ % std::size(kMix)];
        const int n = std::min(k.perAsdu, kTags + 1 - ioa);
        std::vector<std::uint8_t> a{
            static_cast<std::uint8_t>(k.code), static_cast<std::uint8_t>((k.sequence ? 0x80 : 0) | n), 3, 0, 1, 0};
        for (int i = 0; i < n; ++i) {
            if (i == 0 || !k.sequence)
                a.insert(a.end(), {static_cast<std::uint8_t>(ioa + i), static_cast<std::uint8_t>((ioa + i) >> 8),
                                   static_cast<std::uint8_t>((ioa + i) >> 16)});
            for (int b = 0; b < k.elemLen; ++b)
                a.push_back(static_cast<std::uint8_t>(b == k.elemLen - 1 && k.elemLen == 12 ? 0x15 : seed + i + b));
        }
        s.insert(s.end(), {0x68, static_cast<std::uint8_t>(a.size() + 4), static_cast<std::uint8_t>(ns << 1),
                           static_cast<std::uint8_t>(ns >> 7), 0, 0});
        s.insert(s.end(), a.begin(), a.end());
        ++ns;
        ioa += n;
        objects += n;
    }
    return s;
}

void LinkStream(benchmark::State& state)
{
    TTypeIdentList types;
    TTagCategoryList cats(1);
    TTagSignalList tags;
    test::AddMeasuredTags(tags, cats, 1, kTags, kIp, kPort);
    TPrmnArray prmn = MakePrmn104();
    SetPrmnDefault(prmn[0], PrmnKind104, kIp, kPort);
    prmn[0].prWork1 = 1;
    SinkPort port;
    TClients104 table(1);
    auto client = table.AddClient(TLinkSocket{&port}, prmn, {TLinkEnv{&SystemClock()}, &types, &tags, true});
    TClient104Frm channel(client, false, TChannelModel{});

    std::int64_t perStream = 0;
    const std::vector<std::uint8_t> streams[2] = {Stream(0, perStream), Stream(1, perStream)};
    std::int64_t objects = 0;
    int which = 0;
    for (auto _ : state) {
        channel.OnConnect(); // sequence numbers from 0 again
        const auto& s = streams[which ^= 1];
        for (std::size_t p = 0; p < s.size(); p += kChunk) {
            const std::size_t n = std::min(kChunk, s.size() - p);
            channel.OnReceive({{s.data() + p, n}, kIp, kPort}, false, 0);
        }
        objects += perStream;
    }
    if (!tags.GetTag(kTags - 1)->prReceive())
        state.SkipWithError("the last tag was never stored");
    state.counters["objects/s"] = benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsRate);
}
BENCHMARK(LinkStream)->Unit(benchmark::kMillisecond);

void StationsLinkStream(benchmark::State& state)
{
    const auto shape = static_cast<bench::TShape>(state.range(0));
    const int frames = shape == bench::TShape::Changes ? 40000 : 2000;
    TServiceContext service;
    TServiceRun run;
    bench::LoadStations(service, run);
    TTypeIdentList types;
    TPrmnArray prmn = MakePrmn104();
    std::vector<std::string> ips;
    std::vector<std::unique_ptr<SinkPort>> ports;
    TClients104 table(bench::kStations);
    std::vector<std::unique_ptr<TClient104Frm>> channels;
    for (int s = 0; s < bench::kStations; ++s) {
        ips.push_back(bench::StationIp(s));
        SetPrmnDefault(prmn[static_cast<std::size_t>(s)], PrmnKind104, ips.back(), kPort);
        prmn[static_cast<std::size_t>(s)].prWork1 = 1;
        ports.push_back(std::make_unique<SinkPort>(ips.back()));
        auto client = table.AddClient(TLinkSocket{ports.back().get()}, prmn,
                                      {TLinkEnv{&SystemClock()}, &types, &run.TagSignalList, true});
        channels.push_back(std::make_unique<TClient104Frm>(client, false, TChannelModel{}));
    }
    const bench::TStationFrames streams[2] = {bench::TStreamWriter(1, 0).Frames(shape, frames),
                                              bench::TStreamWriter(2, 5000000).Frames(shape, frames)};
    std::int64_t objects = 0;
    int which = 0;
    for (auto _ : state) {
        for (auto& channel : channels)
            channel->OnConnect(); // sequence numbers from 0 again
        const bench::TStationFrames& s = streams[which ^= 1];
        for (const auto& at : s.At)
            channels[at.station]->OnReceive({{s.Bytes.data() + at.offset, at.length}, ips[at.station], kPort}, false,
                                            at.station);
        objects += s.Objects;
    }
    if (!bench::StationsStored(run.TagSignalList))
        state.SkipWithError("the stations' tags were not stored");
    state.counters["objects/s"] = benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsRate);
}
BENCHMARK(StationsLinkStream)
    ->ArgName("shape")
    ->Arg(static_cast<int>(bench::TShape::Changes))
    ->Arg(static_cast<int>(bench::TShape::Cyclic))
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace gw
