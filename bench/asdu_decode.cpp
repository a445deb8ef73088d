// Received I-frames of mixed types cut, parsed and stored into 60 000 tags:
// information objects per second on one core. Two streams with different
// values alternate, so every store is a change.

#include "bench/measured_tags.h"
#include "core/asdu.h"
#include "core/tags.h"

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
    default:
        b.push_back(static_cast<std::uint8_t>(k.code == 3 ? 1 + (seed & 1) : seed & 1));
    }
    if (k.code == 36 || k.code == 30)
        b.insert(b.end(), time, time + 7);
}

// Every tag once, in I-frames with the 104 field widths.
std::vector<std::uint8_t> Stream(int seed)
{
    std::vector<std::uint8_t> s;
    int ioa = 1;
    for (const TKind& k : kKinds) {
        for (int first = 0; first < k.tagCount; first += k.perAsdu) {
            const int n = std::min(k.perAsdu, k.tagCount - first);
            std::vector<std::uint8_t> a{static_cast<std::uint8_t>(k.code),
                                        static_cast<std::uint8_t>((k.sequence ? 0x80 : 0) | n), 3, 0};
            PutLe(a, kCa, 2);
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

void AsduDecode(benchmark::State& state)
{
    TTypeIdentList types;
    TTagCategoryList cats(1);
    TTagSignalList tags;
    bench::AddMeasuredTags(tags, cats, kCa, kTags, kIp, kPort);
    const std::vector<std::uint8_t> streams[2] = {Stream(0), Stream(1)};
    const TAsduLayout layout;
    const TRaspakContext ctx{tags, SystemClock(), nullptr};
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
    if (tags.GetTag(kTags - 1)->prReceive() != true)
        state.SkipWithError("the last tag was never stored");
    state.counters["objects/s"] = benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsRate);
}
BENCHMARK(AsduDecode)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace gw
