#pragma once
// OPC UA date-times: signed 64-bit counts of 100 ns since 1601-01-01 UTC.

#include "core/datetime.h"

#include <cstdint>

namespace gw {

constexpr std::int64_t UaTimeOf1970 = 116444736000000000LL;

// The local date-time t of a zone utcOffsetMinutes ahead of UTC, to the
// millisecond.
std::int64_t LocalTimeToUaTime(TDateTime t, int utcOffsetMinutes);

// The local date-time t (the process's time zone, with its summer time at t).
std::int64_t DateTimeToUaTime(TDateTime t);

} // namespace gw
