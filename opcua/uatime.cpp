#include "opcua/uatime.h"

#include <array>
#include <chrono>
#include <cmath>
#include <ctime>

namespace gw {

namespace {

constexpr double UnixEpochDays = 25569; // 1970-01-01 as a TDateTime

// How far the process's zone is ahead of UTC at local time p, in minutes.
int UtcOffsetMinutesAt(const TDateTimeParts& p)
{
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

// mktime reads the zone again on every call, a file system look-up each
// time, and every value pushed to the OPC UA library takes two offsets. The
// offset only changes at whole minutes of local time: it is kept per minute,
// for a few seconds, so a change of the zone itself still shows soon.
int CachedUtcOffsetMinutesAt(TDateTime t)
{
    using Steady = std::chrono::steady_clock;
    constexpr auto Keep = std::chrono::seconds(10);
    struct TEntry {
        std::int64_t minute = -1;
        int offset = 0;
        Steady::time_point at{};
    };
    // A source time and a server time, mostly of the same minute.
    thread_local std::array<TEntry, 2> entries;
    TDateTimeParts p;
    if (!TryDecodeDateTime(t, p))
        return 0;
    const std::int64_t minute = (((std::int64_t{p.year} * 16 + p.month) * 32 + p.day) * 24 + p.hour) * 60 + p.minute;
    const auto now = Steady::now();
    for (const TEntry& e : entries)
        if (e.minute == minute && now - e.at < Keep)
            return e.offset;
    TEntry& oldest = entries[0].at <= entries[1].at ? entries[0] : entries[1];
    oldest = {minute, UtcOffsetMinutesAt(p), now};
    return oldest.offset;
}

} // namespace

std::int64_t LocalTimeToUaTime(TDateTime t, int utcOffsetMinutes)
{
    const auto ms = static_cast<std::int64_t>(std::llround((t - UnixEpochDays) * MsPerDay))
                    - std::int64_t{utcOffsetMinutes} * 60000;
    return ms * 10000 + UaTimeOf1970;
}

std::int64_t DateTimeToUaTime(TDateTime t) { return LocalTimeToUaTime(t, CachedUtcOffsetMinutesAt(t)); }

} // namespace gw
