#pragma once
// The seven-byte CP56Time2a time tag of IEC 60870-5-104 and the local
// date-time it stands for.

#include "core/datetime.h"

#include <cstdint>
#include <span>

namespace gw {

constexpr std::size_t CP56Size = 7;

// Writes dt (rounded to the nearest millisecond) with IV, SU and the reserved
// bits 0 and the year as year mod 100. A dt that cannot be decomposed is
// written as 1900-04-03 00:00:00.000.
void DateTimeToCP56(std::span<std::uint8_t, CP56Size> buf, TDateTime dt);

// Reads the tag as a date in 2000..2127; IV, SU and the day of week are
// ignored. Fields that form no valid date and time give 1900-01-01 00:00.
void CP56ToDateTime(std::span<const std::uint8_t, CP56Size> buf, TDateTime& dt);

} // namespace gw
