// Received I-frames of mixed types cut, parsed and stored into 60 000 tags:
// information objects per second on one core. Two streams with different
// values alternate, so every store is a change. Rows: the bare tag list; the
// tag list the service builds from its station table (ServiceInit); and
// objects that find no tag (unknown object address, unknown common address),
// which the log of a running service, keeping none of their lines, drops.
// StationsDecode: the streams of 200 stations with their objects in blocks,
// frames in random station order (bench/station_streams.h), into the tags
// the service builds for them; shape 0 one or two objects a frame of
// M_SP_TB_1, M_ME_TF_1 or M_ME_NC_1, shape 1 30 M_ME_NC_1 objects a frame.

#include "station_streams.h"
#include "testkit/measured_tags.h"
#include "core/asdu.h"
#include "core/messbuff.h"
#include "core/tags.h"
#include "service/serviceinit.h"
#include "service/tables.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace gw {
namespace {

constexpr const char* kIp = "10.0.0.5";
constexpr int kPort = 2404;
constexpr int kCa = 1;
constexpr int kTags = 60000;

struct TKind {
    int code;
    bool sequence;
    int elemLen;  // element bytes, time tag included
    int perAsdu;  // objects per ASDU
    int tagCount; // tags of this kind
};

// 60 000 tags in all; each kind fills whole ASDUs near the 249-byte limit.
constexpr TKind kKinds[] = {
    {13, false, 5, 30, 18000}, // M_ME_NC: measured values, float
    {11, false, 3, 40, 12000}, // M_ME_NB: scaled
    {1, true, 1, 120, 12000},  // M_SP_NA as a sequence
    {3, false, 1, 60, 9000},   // M_DP_NA
    {36, false, 12, 16, 4800}, // M_ME_TF: float with CP56Time2a
    {30, false, 8, 21, 4200},  // M_SP_TB: point with CP56Time2a
};

void PutLe(std::vector<std::uint8_t>& b, int v, int n)
{
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutElement(std::vector<std::uint8_t>& b, const TKind& k, int seed)
{
    static const std::uint8_t time[7] = {0x22, 0x24, 0x05, 0x0E, 0xE7, 0x03, 0x15};
    switch (k.code) {
    case 13:
    case 36: {
        const float f = static_cast<float>(seed) * 0.5f;
        std::uint8_t raw[4];
        std::memcpy(raw, &f, 4);
        b.insert(b.end(), raw, raw + 4);
        b.push_back(0);
        break;
    }
    case 11:
        PutLe(b, seed & 0x7FFF, 2);
        b.push_back(0);
        break;
    default: b.push_back(static_cast<std::uint8_t>(k.code == 3 ? 1 + (seed & 1) : seed & 1));
    }
    if (k.code == 36 || k.code == 30)
        b.insert(b.end(), time, time + 7);
}

// Every tag once, in I-frames with the 104 field widths; ioaShift and ca
// move the objects away from the tags for the rows of unknown objects.
std::vector<std::uint8_t> Stream(int seed, int ioaShift = 0, int ca = kCa)
{
    std::vector<std::uint8_t> s;
    int ioa = 1 + ioaShift;
    for (const TKind& k : kKinds) {
        for (int first = 0; first < k.tagCount; first += k.perAsdu) {
            const int n = std::min(k.perAsdu, k.tagCount - first);
            std::vector<std::uint8_t> a{static_cast<std::uint8_t>(k.code),
                                        static_cast<std::uint8_t>((k.sequence ? 0x80 : 0) | n), 3, 0};
            PutLe(a, ca, 2);
            if (k.sequence)
                PutLe(a, ioa + first, 3);
            for (int i = 0; i < n; ++i) {
                if (!k.sequence)
                    PutLe(a, ioa + first + i, 3);
                PutElement(a, k, seed + first + i);
            }
            s.push_back(0x68);
            s.push_back(static_cast<std::uint8_t>(a.size() + 4));
            s.insert(s.end(), {0, 0, 0, 0});
            s.insert(s.end(), a.begin(), a.end());
        }
        ioa += k.tagCount;
    }
    return s;
}

enum class TRow { BareTags, ServiceTags, UnknownObject, UnknownCommonAddress };

// One station at kIp:kPort with a measured value at every object address,
// read into the service's tables as from "iec104.cfg".
void ConfigureOneStation(TServiceContext& ctx)
{
    ctx.Stations.Reset();
    T_KP kp;
    kp.NameKP = "KP1";
    kp.IP = kIp;
    kp.ASDU_Adr = kCa;
    for (int ioa = 1; ioa <= kTags; ++ioa) {
        T_TI ti;
        ti.NameTI = "TI" + std::to_string(ioa);
        ti.AdrASDU = kCa;
        ti.AdrIOA = ioa;
        ti.Max_TM_Diap = ti.Max_Eng_Diap = 1000;
        kp.TI_arr.push_back(ti);
    }
    kp.Kol_TI = kTags;
    ctx.Stations.KpTable.push_back(kp);
    ctx.Stations.KpCount = 1;
    SetPrmnDefault(ctx.Channels.Prmn104[0], PrmnKind104, kIp, kPort);
    ctx.Channels.Prmn104[0].CommonAsduAddress = kCa;
    ctx.Switches.PrmTFromCfg = true;
}

void Decode(benchmark::State& state, TTagSignalList& tags, TRow row)
{
    TTypeIdentList types;
    const std::vector<std::uint8_t> streams[2] = {
        Stream(0, row == TRow::UnknownObject ? kTags : 0, row == TRow::UnknownCommonAddress ? kCa + 1 : kCa),
        Stream(1, row == TRow::UnknownObject ? kTags : 0, row == TRow::UnknownCommonAddress ? kCa + 1 : kCa)};
    const TAsduLayout layout;
    TMessBuff log(1000); // a service's exchange log, keeping none of these lines
    const TRaspakContext ctx{tags, SystemClock(), &log};
    std::int64_t objects = 0;
    int which = 0;
    for (auto _ : state) {
        const std::vector<std::uint8_t>& s = streams[which ^= 1];
        for (std::size_t p = 0; p + 2 <= s.size();) {
            const int len = s[p + 1];
            TIEC_ASDUt asdu(s, static_cast<int>(p) + 6, len - 4, layout, types);
            asdu.IP_address2 = kIp;
            asdu.IP_port3 = kPort;
            asdu.ReceiveRaspak1(ctx);
            objects += asdu.nelem;
            p += static_cast<std::size_t>(len) + 2;
        }
    }
    const bool stored = tags.Count() >= kTags && tags.GetTag(kTags - 1)->prReceive();
    if (stored != (row == TRow::BareTags || row == TRow::ServiceTags))
        state.SkipWithError("the last tag was not stored as the row expects");
    state.counters["objects/s"] = benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsRate);
}

void AsduDecode(benchmark::State& state)
{
    const auto row = static_cast<TRow>(state.range(0));
    if (row == TRow::ServiceTags) {
        TServiceContext service;
        ConfigureOneStation(service);
        TServiceRun run;
        FillKpPorts(service);
        LoadSignalLists(service, run);
        Decode(state, run.TagSignalList, row);
        return;
    }
    TTagCategoryList cats(1);
    TTagSignalList tags;
    test::AddMeasuredTags(tags, cats, kCa, kTags, kIp, kPort);
    Decode(state, tags, row);
}
BENCHMARK(AsduDecode)
    ->ArgName("row")
    ->Arg(static_cast<int>(TRow::BareTags))
    ->Arg(static_cast<int>(TRow::ServiceTags))
    ->Arg(static_cast<int>(TRow::UnknownObject))
    ->Arg(static_cast<int>(TRow::UnknownCommonAddress))
    ->Unit(benchmark::kMillisecond);

void StationsDecode(benchmark::State& state)
{
    const auto shape = static_cast<bench::TShape>(state.range(0));
    const int frames = shape == bench::TShape::Changes ? 40000 : 2000;
    TServiceContext service;
    TServiceRun run;
    bench::LoadStations(service, run);
    std::vector<int> conns; // each station's channel finds its connection once
    for (int s = 0; s < bench::kStations; ++s)
        conns.push_back(run.TagSignalList.FindConn(bench::StationIp(s), bench::kStationPort));
    const bench::TStationFrames streams[2] = {bench::TStreamWriter(1, 0).Frames(shape, frames),
                                              bench::TStreamWriter(2, 5000000).Frames(shape, frames)};
    TTypeIdentList types;
    const TAsduLayout layout;
    TMessBuff log(1000);
    const TRaspakContext ctx{run.TagSignalList, SystemClock(), &log};
    std::int64_t objects = 0;
    int which = 0;
    for (auto _ : state) {
        const bench::TStationFrames& s = streams[which ^= 1];
        for (const auto& at : s.At) {
            TIEC_ASDUt asdu(s.Bytes, static_cast<int>(at.offset) + 6, at.length - 6, layout, types);
            asdu.TagConn = conns[at.station];
            asdu.ReceiveRaspak1(ctx);
        }
        objects += s.Objects;
    }
    if (!bench::StationsStored(run.TagSignalList))
        state.SkipWithError("the stations' tags were not stored");
    state.counters["objects/s"] = benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsRate);
}
BENCHMARK(StationsDecode)
    ->ArgName("shape")
    ->Arg(static_cast<int>(bench::TShape::Changes))
    ->Arg(static_cast<int>(bench::TShape::Cyclic))
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace gw
