#include "core/cp56.h"

namespace gw {

void DateTimeToCP56(std::span<std::uint8_t, CP56Size> buf, TDateTime dt)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(dt, p))
        p = {1900, 4, 3, 0, 0, 0, 0};
    // The day of week of the decoded date: rounding may have crossed midnight.
    TDateTime day = 0;
    TryEncodeDateTime({p.year, p.month, p.day, 0, 0, 0, 0}, day);
    const unsigned ms = static_cast<unsigned>(p.second * 1000 + p.millisecond);
    buf[0] = static_cast<std::uint8_t>(ms & 0xFF);
    buf[1] = static_cast<std::uint8_t>(ms >> 8);
    buf[2] = static_cast<std::uint8_t>(p.minute & 0x3F);
    buf[3] = static_cast<std::uint8_t>(p.hour & 0x1F);
    buf[4] = static_cast<std::uint8_t>((p.day & 0x1F) | (DayOfWeekIso(day) << 5));
    buf[5] = static_cast<std::uint8_t>(p.month & 0x0F);
    buf[6] = static_cast<std::uint8_t>(p.year % 100);
}

void CP56ToDateTime(std::span<const std::uint8_t, CP56Size> buf, TDateTime& dt)
{
    const int ms = buf[0] | (buf[1] << 8);
    const TDateTimeParts p{(buf[6] & 0x7F) + 2000, buf[5] & 0x0F, buf[4] & 0x1F, buf[3] & 0x1F,
                           buf[2] & 0x3F,          ms / 1000,     ms % 1000};
    if (!TryEncodeDateTime(p, dt))
        TryEncodeDateTime({1900, 1, 1, 0, 0, 0, 0}, dt);
}

} // namespace gw
