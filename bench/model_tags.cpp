// The receive hot path: finding the tag of each information object among
// 60 000 tags and storing value, quality and time into it.

#include "core/tags.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace gw;

constexpr int Stations = 60;
constexpr int TagsPerStation = 1000; // 60 000 tags in all

std::string StationIp(int s) { return "10.0." + std::to_string(s / 250) + "." + std::to_string(s % 250 + 1); }

struct TModel {
    TTypeIdentList types;
    TTagCategoryList categories{1};
    TTagSignalList tags;
    std::vector<std::string> ips;

    TModel()
    {
        for (int s = 0; s < Stations; ++s)
            ips.push_back(StationIp(s));
        for (int s = 0; s < Stations; ++s)
            for (int i = 0; i < TagsPerStation; ++i) {
                TTagSignal t;
                t.Init("tag", s + 1, 1000 + i, StationIp(s), 2404, categories.GetPtc(TagCategName::tcn_TS),
                       s * TagsPerStation + i, 0, i + 1, 0);
                tags.AddTag(t);
            }
    }
};

TModel& Model()
{
    static TModel model;
    return model;
}

// One ASDU of 30 floats per iteration, stations in turn, values changing.
void BM_StoreFloatsPerAsdu(benchmark::State& state)
{
    TModel& m = Model();
    const PTypeIdent ptid = m.types.FindTypeIdent(13);
    constexpr int Objects = 30;
    std::vector<std::uint8_t> element(5);
    int round = 0;
    for (auto _ : state) {
        const int s = round % Stations;
        const auto lock = m.tags.Lock();
        const int conn = m.tags.FindConn(m.ips[s], 2404);
        for (int k = 0; k < Objects; ++k) {
            PTagSignal t = nullptr;
            const int ioa = 1000 + (round * 7 + k * 31) % TagsPerStation;
            if (m.tags.FindTag(conn, s + 1, ioa, t) < 0)
                state.SkipWithError("tag not found");
            element[0] = static_cast<std::uint8_t>(round);
            benchmark::DoNotOptimize(t->ChangeVal(ptid, element, 0, 45000.5));
        }
        ++round;
    }
    state.SetItemsProcessed(state.iterations() * Objects);
}
BENCHMARK(BM_StoreFloatsPerAsdu);

// The four-address lookup alone, as the parser calls it per object.
void BM_FindTagByAddresses(benchmark::State& state)
{
    TModel& m = Model();
    int round = 0;
    for (auto _ : state) {
        const int s = round % Stations;
        PTagSignal t = nullptr;
        benchmark::DoNotOptimize(m.tags.FindTag(s + 1, 1000 + round * 13 % TagsPerStation, m.ips[s], 2404, t));
        ++round;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindTagByAddresses);

// An M_BO_TC object: store into its tag, then spread its 8 bits.
void BM_RaspakNewTag(benchmark::State& state)
{
    TModel& m = Model();
    const PTypeIdent ptid = m.types.FindTypeIdent(136);
    std::vector<std::uint8_t> element(1);
    int round = 0;
    for (auto _ : state) {
        const int s = round % Stations;
        const auto lock = m.tags.Lock();
        PTagSignal t = nullptr;
        m.tags.FindTag(m.tags.FindConn(m.ips[s], 2404), s + 1, 1000 + round * 8 % (TagsPerStation - 8), t);
        element[0] = static_cast<std::uint8_t>(round * 37);
        benchmark::DoNotOptimize(t->ChangeVal(ptid, element, 0, 0));
        benchmark::DoNotOptimize(m.tags.RaspakNewTag(ptid, t));
        ++round;
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_RaspakNewTag);

} // namespace
