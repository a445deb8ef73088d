#pragma once
// A cross build's benchmarks run here under qemu-user: their figures compare
// one run with another and say nothing of the device's speed. The note goes
// into the benchmark output's context, before any figure.

#include <benchmark/benchmark.h>

#ifdef GATEWAY_CROSS_BUILD
namespace {
[[maybe_unused]] const bool crossBuildNote =
    (benchmark::AddCustomContext("figures", "cross build run under emulation: compare only between runs"), true);
}
#endif
