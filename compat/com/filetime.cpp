#include "compat/com/filetime.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace com {

namespace {

constexpr double DaysFrom1601To1899 = 109205.0;
constexpr double DaysFrom1899To1970 = 25569.0;
constexpr double TicksPerDay = 864'000'000'000.0;
constexpr double TicksPerSecond = 10'000'000.0;

} // namespace

namespace {

// The offset of a quarter hour of local time: every zone's rule changes on a
// quarter-hour boundary, and a burst of stamps mostly shares one.
struct OffsetCache {
    std::int64_t quarter = INT64_MIN;
    std::int64_t offset = 0;
};
thread_local OffsetCache offsetCache;

} // namespace

std::int64_t SystemLocalZone::offsetSecondsAt(DATE local) const
{
    if (!std::isfinite(local) || std::fabs(local) > 3.0e6)
        return 0;
    const auto quarter = static_cast<std::int64_t>(std::floor(local * 96.0));
    if (offsetCache.quarter == quarter)
        return offsetCache.offset;
    offsetCache = {quarter, lookUpOffset(local)};
    return offsetCache.offset;
}

std::int64_t SystemLocalZone::lookUpOffset(DATE local)
{
    const auto asUtc = static_cast<std::time_t>(std::floor((local - DaysFrom1899To1970) * 86400.0));
    std::tm fields{};
    if (!gmtime_r(&asUtc, &fields))
        return 0;
    fields.tm_isdst = -1; // the rule in effect at that date, not today's
    const std::time_t instant = std::mktime(&fields);
    if (instant == static_cast<std::time_t>(-1))
        return 0;
    return static_cast<std::int64_t>(asUtc - instant);
}

const LocalZone& systemLocalZone()
{
    static const SystemLocalZone zone;
    return zone;
}

FILETIME localDateToFileTime(DATE local, const LocalZone& zone)
{
    if (!std::isfinite(local))
        return makeFileTime(0);
    const double ticks = std::round((local + DaysFrom1601To1899) * TicksPerDay)
                         - static_cast<double>(zone.offsetSecondsAt(local)) * TicksPerSecond;
    if (ticks <= 0)
        return makeFileTime(0);
    if (ticks >= 1.8e19)
        return makeFileTime(UINT64_MAX);
    return makeFileTime(static_cast<std::uint64_t>(ticks));
}

DATE fileTimeToLocalDate(const FILETIME& ft, const LocalZone& zone)
{
    const double utc = static_cast<double>(fileTimeValue(ft)) / TicksPerDay - DaysFrom1601To1899;
    // The offset of the local time is looked up at the local time itself;
    // one correction step settles it outside the hour a change repeats.
    double local = utc + static_cast<double>(zone.offsetSecondsAt(utc)) / 86400.0;
    local = utc + static_cast<double>(zone.offsetSecondsAt(local)) / 86400.0;
    return local;
}

} // namespace com
