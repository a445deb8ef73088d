#pragma once
// Local date and time as the gateway stores it: days since 1899-12-30 00:00
// as a double, the fraction being the time of day. Every time stamp of tags,
// OPC items and logs is one of these.

#include <cstdint>

namespace gw {

using TDateTime = double;

constexpr double MsPerDay = 86'400'000.0;
constexpr TDateTime OneHour = 1.0 / 24;

struct TDateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// False when the fields do not form a valid date and time (month 0, 31 April,
// second 60, ...); dt is left untouched then.
bool TryEncodeDateTime(const TDateTimeParts& parts, TDateTime& dt);

// Splits dt into its fields, the millisecond rounded to the nearest one.
// False when dt is outside years 1..9999 or not a finite number.
bool TryDecodeDateTime(TDateTime dt, TDateTimeParts& parts);

// 1 = Monday .. 7 = Sunday, as CP56Time2a counts.
int DayOfWeekIso(TDateTime dt);

// Milliseconds since midnight and day number, the pair a stopwatch keeps.
std::int32_t TimeOfDayMs(TDateTime dt);
std::int32_t DayNumber(TDateTime dt);

// Current local wall time (localtime_r); for stamps, never for timers.
TDateTime WallNow();

} // namespace gw
