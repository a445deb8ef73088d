// Reading and writing a full "iec104.cfg": 980 stations with 60000 signals
// between them, the largest file the gateway takes. Both run at every
// service start (reading) or every save from the desktop (writing).

#include "service/cfgfile.h"
#include "service/tables.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::filesystem::path BenchDir()
{
    auto dir = std::filesystem::temp_directory_path() / ("gw-bench-cfg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

std::unique_ptr<gw::TServiceContext> FullTables()
{
    auto owner = std::make_unique<gw::TServiceContext>();
    gw::TServiceContext& t = *owner;
    t.Stations.KpCount = gw::MaxKpCount;
    t.Stations.KpTable.resize(static_cast<std::size_t>(t.Stations.KpCount) + 1);
    int signals = 0;
    for (int i = 1; i <= t.Stations.KpCount; ++i) {
        gw::T_KP& kp = t.Stations.KpTable[static_cast<std::size_t>(i)];
        kp.NameKP = "Подстанция " + std::to_string(i);
        kp.IP = "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
        kp.TS_arr.resize(1);
        kp.TI_arr.resize(1);
        for (; kp.Kol_TS + kp.Kol_TI < 61 && signals < gw::MaxCfgSignals; ++signals) {
            if (kp.Kol_TS < 30) {
                gw::T_TS& ts = kp.TS_arr.emplace_back();
                ts.NameTS = "Выключатель " + std::to_string(++kp.Kol_TS);
                ts.AdrIOA = kp.Kol_TS;
            } else {
                gw::T_TI& ti = kp.TI_arr.emplace_back();
                ti.NameTI = "Ток " + std::to_string(++kp.Kol_TI);
                ti.AdrIOA = 4000 + kp.Kol_TI;
                ti.Max_TM_Diap = 4095;
                ti.Max_Eng_Diap = 1234.5;
            }
        }
    }
    return owner;
}

void BM_WriteFullConfiguration(benchmark::State& state)
{
    const auto dir = BenchDir();
    const auto t = FullTables();
    const gw::TOpcUaSettings ua;
    for (auto _ : state)
        gw::WriteIec104Cfg(*t, ua, dir, "iec104.cfg");
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteFullConfiguration)->Unit(benchmark::kMillisecond);

void BM_ReadFullConfiguration(benchmark::State& state)
{
    const auto dir = BenchDir();
    gw::TOpcUaSettings ua;
    gw::WriteIec104Cfg(*FullTables(), ua, dir, "iec104.cfg");
    auto t = std::make_unique<gw::TServiceContext>();
    for (auto _ : state)
        gw::ReadIec104Cfg(*t, ua, dir, "iec104.cfg", {});
    state.counters["stations"] = t->Stations.KpCount;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReadFullConfiguration)->Unit(benchmark::kMillisecond);

} // namespace
