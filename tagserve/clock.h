// The two time sources of the server: OPC UA date-times for stamps, a
// monotonic millisecond count for every timer.
#pragma once

#include <chrono>
#include <cstdint>

namespace tagserve {

// 100 ns ticks from 1601-01-01 to 1970-01-01.
constexpr int64_t kUaEpochOffset = 116444736000000000LL;

inline int64_t UaNow()
{
    auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    return kUaEpochOffset + std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
}

inline int64_t MonotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace tagserve
