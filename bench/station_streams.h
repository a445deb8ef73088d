#pragma once
// The receive benchmarks' input as a full gateway sees it: 200 stations of
// 300 signals each (60 000 in all), every station on its own address with
// its own common address, its objects numbered in blocks of 100 (points at
// 1..100, measured values with a time tag at 1001..1100, without one at
// 2001..2100), and the stations' frames interleaved in random order, as 200
// connections deliver them. Two shapes: one or two objects a frame, of the
// block's type (a station reporting changes), and 30 M_ME_NC_1 objects a
// frame over the measured blocks (a station reporting cyclically). Every
// object carries a value of its own, so almost every store is a change.

#include "service/serviceinit.h"
#include "service/tables.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace gw::bench {

constexpr int kStations = 200;
constexpr int kBlockSize = 100;
constexpr int kStationPort = 2404;
constexpr int kSignals = kStations * 3 * kBlockSize;

// The object address of entry i of block b (0 points, 1 time-tagged
// measured values, 2 measured values).
constexpr int BlockAddress(int b, int i) { return 1 + 1000 * b + i; }

inline std::string StationIp(int s) { return "10.1." + std::to_string(s / 100) + "." + std::to_string(s % 100 + 1); }
inline int StationCa(int s) { return s + 1; }

// The station table of a "iec104.cfg" with these stations, read into the
// service's signal records and tags (run.TagSignalList).
inline void LoadStations(TServiceContext& ctx, TServiceRun& run)
{
    ctx.Stations.Reset();
    for (int s = 0; s < kStations; ++s) {
        T_KP kp;
        kp.NameKP = "KP" + std::to_string(s + 1);
        kp.IP = StationIp(s);
        kp.Port = kStationPort;
        kp.ASDU_Adr = StationCa(s);
        for (int i = 0; i < kBlockSize; ++i) {
            T_TS ts;
            ts.NameTS = "TS" + std::to_string(i + 1);
            ts.AdrASDU = StationCa(s);
            ts.AdrIOA = BlockAddress(0, i);
            kp.TS_arr.push_back(ts);
        }
        for (int b = 1; b <= 2; ++b)
            for (int i = 0; i < kBlockSize; ++i) {
                T_TI ti;
                ti.NameTI = "TI" + std::to_string(b * kBlockSize + i);
                ti.AdrASDU = StationCa(s);
                ti.AdrIOA = BlockAddress(b, i);
                ti.Max_TM_Diap = ti.Max_Eng_Diap = 1000;
                kp.TI_arr.push_back(ti);
            }
        kp.Kol_TS = kBlockSize;
        kp.Kol_TI = 2 * kBlockSize;
        ctx.Stations.KpTable.push_back(kp);
        SetPrmnDefault(ctx.Channels.Prmn104[static_cast<std::size_t>(s)], PrmnKind104, kp.IP, kStationPort);
        ctx.Channels.Prmn104[static_cast<std::size_t>(s)].CommonAsduAddress = StationCa(s);
    }
    ctx.Stations.KpCount = kStations;
    ctx.Switches.PrmTFromCfg = true;
    FillKpPorts(ctx);
    LoadSignalLists(ctx, run);
}

// Whether the stations' tags took the streams: at least a quarter of them
// received (the cyclic shape reaches the measured values only).
inline bool StationsStored(const TTagSignalList& tags)
{
    int received = 0;
    for (int t = 0; t < tags.Count(); ++t)
        received += tags.GetTag(t)->prReceive() ? 1 : 0;
    return tags.Count() == kSignals && received >= kSignals / 4;
}

// I-frames one after another; frame f of station At[f].station is
// Bytes[At[f].offset ..] (APCI included), numbered N(S) = 0.. per station.
struct TStationFrames {
    struct TAt {
        std::uint32_t offset;
        std::uint16_t length; // APCI included
        std::uint16_t station;
    };
    std::vector<std::uint8_t> Bytes;
    std::vector<TAt> At;
    std::int64_t Objects = 0;
};

enum class TShape { Changes, Cyclic };

class TStreamWriter {
public:
    TStreamWriter(std::uint32_t seed, std::uint32_t firstValue) : rng_(seed), value_(firstValue) {}

    TStationFrames Frames(TShape shape, int count)
    {
        TStationFrames out;
        std::vector<int> ns(kStations, 0);
        for (int f = 0; f < count; ++f) {
            const int s = Pick(kStations);
            asdu_.clear();
            const int n = shape == TShape::Changes ? ChangesAsdu(s) : CyclicAsdu(s);
            out.At.push_back({static_cast<std::uint32_t>(out.Bytes.size()),
                              static_cast<std::uint16_t>(asdu_.size() + 6), static_cast<std::uint16_t>(s)});
            const int seq = ns[static_cast<std::size_t>(s)]++ % 32768;
            out.Bytes.insert(out.Bytes.end(),
                             {0x68, static_cast<std::uint8_t>(asdu_.size() + 4), static_cast<std::uint8_t>(seq << 1),
                              static_cast<std::uint8_t>(seq >> 7), 0, 0});
            out.Bytes.insert(out.Bytes.end(), asdu_.begin(), asdu_.end());
            out.Objects += n;
        }
        return out;
    }

private:
    int Pick(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }

    void Header(int type, int n, int s)
    {
        asdu_ = {static_cast<std::uint8_t>(type),
                 static_cast<std::uint8_t>(n),
                 3,
                 0,
                 static_cast<std::uint8_t>(StationCa(s)),
                 static_cast<std::uint8_t>(StationCa(s) >> 8)};
    }
    void Address(int ioa)
    {
        asdu_.insert(asdu_.end(), {static_cast<std::uint8_t>(ioa), static_cast<std::uint8_t>(ioa >> 8),
                                   static_cast<std::uint8_t>(ioa >> 16)});
    }
    void Float()
    {
        const float f = static_cast<float>(value_++ % 16000000);
        std::uint8_t raw[4];
        std::memcpy(raw, &f, 4);
        asdu_.insert(asdu_.end(), raw, raw + 4);
        asdu_.push_back(0); // QDS: good
    }
    void Time()
    {
        const int ms = Pick(60000);
        asdu_.insert(asdu_.end(),
                     {static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8), 0x05, 0x0E, 0xE7, 0x03, 0x15});
    }

    // M_SP_TB_1, M_ME_TF_1 or M_ME_NC_1 by the block, one or two objects.
    int ChangesAsdu(int s)
    {
        static constexpr int types[3] = {30, 36, 13};
        const int b = Pick(3);
        const int n = 1 + Pick(2);
        const int first = Pick(kBlockSize - 1);
        Header(types[b], n, s);
        for (int i = 0; i < n; ++i) {
            Address(BlockAddress(b, first + i));
            if (b == 0)
                asdu_.push_back(static_cast<std::uint8_t>(value_++ & 1)); // SIQ: the state, good
            else
                Float();
            if (b != 2)
                Time();
        }
        return n;
    }

    // 30 M_ME_NC_1 objects from a run of one of the measured blocks.
    int CyclicAsdu(int s)
    {
        constexpr int n = 30;
        const int b = 1 + Pick(2);
        const int first = Pick(kBlockSize - n + 1);
        Header(13, n, s);
        for (int i = 0; i < n; ++i) {
            Address(BlockAddress(b, first + i));
            Float();
        }
        return n;
    }

    std::mt19937 rng_;
    std::uint32_t value_;
    std::vector<std::uint8_t> asdu_;
};

} // namespace gw::bench
