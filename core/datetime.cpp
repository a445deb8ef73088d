#include "core/datetime.h"

#include <cmath>
#include <ctime>
#include <sys/time.h>

namespace gw {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days from 0001-01-01 to the given date (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468; // days since 1970-01-01
}

void CivilFromDays(long z, int& y, int& m, int& d)
{
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr long Epoch1899 = -25569; // 1899-12-30 relative to 1970-01-01

} // namespace

bool TryEncodeDateTime(const TDateTimeParts& p, TDateTime& dt)
{
    if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month)
        || p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59
        || p.millisecond < 0 || p.millisecond > 999)
        return false;
    const double days = static_cast<double>(DaysFromCivil(p.year, p.month, p.day) - Epoch1899);
    const double ms = ((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond;
    // Before 1899-12-30 the whole part counts down while the fraction still counts up.
    dt = days >= 0 ? days + ms / MsPerDay : days - ms / MsPerDay;
    return true;
}

bool TryDecodeDateTime(TDateTime dt, TDateTimeParts& p)
{
    if (!std::isfinite(dt) || dt < -693593.0 || dt >= 2958466.0)
        return false;
    double whole = std::trunc(dt);
    long long ms = std::llround(std::fabs(dt - whole) * MsPerDay);
    if (ms >= static_cast<long long>(MsPerDay)) { // rounding reached the next midnight
        ms -= static_cast<long long>(MsPerDay);
        whole += dt >= 0 ? 1 : -1;
    }
    CivilFromDays(static_cast<long>(whole) + Epoch1899, p.year, p.month, p.day);
    p.millisecond = static_cast<int>(ms % 1000);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.hour = static_cast<int>(ms / 3600000);
    return true;
}

int DayOfWeekIso(TDateTime dt)
{
    // 1899-12-30 was a Saturday (6).
    const long days = static_cast<long>(std::floor(dt));
    return static_cast<int>(((days + 5) % 7 + 7) % 7) + 1;
}

std::int32_t TimeOfDayMs(TDateTime dt)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(dt, p))
        return 0;
    return ((p.hour * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
}

std::int32_t DayNumber(TDateTime dt)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(dt, p))
        return 0;
    return static_cast<std::int32_t>(DaysFromCivil(p.year, p.month, p.day) - Epoch1899);
}

TDateTime WallNow()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::tm local{};
    localtime_r(&tv.tv_sec, &local);
    TDateTimeParts p{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec > 59 ? 59 : local.tm_sec,
                     static_cast<int>(tv.tv_usec / 1000)};
    TDateTime dt = 0;
    TryEncodeDateTime(p, dt);
    return dt;
}

} // namespace gw
