#include "opcua/uatime.h"

#include <cmath>
#include <ctime>

namespace gw {

namespace {

constexpr double UnixEpochDays = 25569; // 1970-01-01 as a TDateTime

// How far the process's zone is ahead of UTC at local time t, in minutes.
int UtcOffsetMinutesAt(TDateTime t)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(t, p))
        return 0;
    std::tm local{};
    local.tm_year = p.year - 1900;
    local.tm_mon = p.month - 1;
    local.tm_mday = p.day;
    local.tm_hour = p.hour;
    local.tm_min = p.minute;
    local.tm_sec = p.second;
    std::tm fields = local; // mktime normalises its argument
    local.tm_isdst = -1;
    const std::time_t utc = std::mktime(&local);
    if (utc == static_cast<std::time_t>(-1))
        return 0;
    // The same fields read as UTC, minus the instant they stand for locally.
    const std::time_t asUtc = timegm(&fields);
    return static_cast<int>((asUtc - utc) / 60);
}

} // namespace

std::int64_t LocalTimeToUaTime(TDateTime t, int utcOffsetMinutes)
{
    const auto ms = static_cast<std::int64_t>(std::llround((t - UnixEpochDays) * MsPerDay))
                    - std::int64_t{utcOffsetMinutes} * 60000;
    return ms * 10000 + UaTimeOf1970;
}

std::int64_t DateTimeToUaTime(TDateTime t) { return LocalTimeToUaTime(t, UtcOffsetMinutesAt(t)); }

} // namespace gw
