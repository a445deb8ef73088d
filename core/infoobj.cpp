#include "core/infoobj.h"

#include "core/logcategories.h"
#include "core/messbuff.h"

namespace gw {

namespace {

// TryEncodeDateTime with the date of the last call kept: the time tags of a
// stream mostly share their date, and its check and day count are most of
// the work. The same sum as TryEncodeDateTime's, so the same time.
bool EncodeTimeTag(const TDateTimeParts& p, TDateTime& dt)
{
    struct TDay {
        int year = 0, month = 0, day = 0;
        double days = 0;
    };
    thread_local TDay last;
    if (p.year != last.year || p.month != last.month || p.day != last.day) {
        TDateTimeParts midnight;
        midnight.year = p.year;
        midnight.month = p.month;
        midnight.day = p.day;
        TDateTime days = 0;
        if (!TryEncodeDateTime(midnight, days) || days < 0)
            return TryEncodeDateTime(p, dt);
        last = {p.year, p.month, p.day, days};
    }
    if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0
        || p.millisecond > 999)
        return false;
    const double ms = ((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond;
    dt = last.days + ms / MsPerDay;
    return true;
}

} // namespace

int GetObjAddr(std::span<const std::uint8_t> bytes, std::size_t& position, int width)
{
    if (width < 1 || width > 3 || position > bytes.size() || bytes.size() - position < std::size_t(width))
        return 0;
    int addr = 0;
    for (int i = width - 1; i >= 0; --i)
        addr = addr << 8 | bytes[position + i];
    position += static_cast<std::size_t>(width);
    return addr;
}

bool GetDate(std::span<const std::uint8_t> bytes, std::size_t position, TDateTime& dt, int length, const TClock& clock,
             TMessBuff* log)
{
    if (length < 2 || length > 7 || position > bytes.size() || bytes.size() - position < std::size_t(length))
        return false;
    const std::uint8_t* b = bytes.data() + position;
    TDateTimeParts p;
    const int ms = b[0] | b[1] << 8;
    p.second = ms / 1000;
    p.millisecond = ms % 1000;
    if (length == 7) {
        p.minute = b[2] & 0x3F;
        p.hour = b[3] & 0x1F;
        p.day = b[4] & 0x1F;
        p.month = b[5] & 0x0F;
        p.year = (b[6] & 0x7F) + 2000;
    } else {
        // A short tag carries no date: it belongs to the current hour of today.
        TDateTimeParts now;
        TryDecodeDateTime(clock.Now(), now);
        p.year = now.year;
        p.month = now.month;
        p.day = now.day;
        p.hour = now.hour;
        p.minute = length >= 3 ? b[2] & 0x3F : now.minute;
    }
    if (p.year <= 2000 || p.minute > 59 || p.hour > 23 || p.second > 59 || p.day < 1 || p.day > 32 || p.month < 1
        || p.month > 12)
        return true;
    TDateTime decoded = 0;
    if (!EncodeTimeTag(p, decoded)) {
        if (log)
            log->Put(LogError, "(err) Error! u_TypeIdent.GetDate(). Плохая метка времени", 0);
        return false;
    }
    if (length < 7) {
        // The short tag counts within the hour (or minute) it was sent in: a
        // time more than half of it ahead was sent before that turned.
        const double period = length >= 3 ? 1.0 / 24 : 1.0 / (24 * 60);
        if (decoded - clock.Now() > period / 2)
            decoded -= period;
    }
    dt = decoded;
    return true;
}

bool TimeTagInvalid(std::span<const std::uint8_t> bytes, std::size_t position, int length)
{
    if (length < 3 || position > bytes.size() || bytes.size() - position < std::size_t(length))
        return false;
    return (bytes[position + 2] & 0x80) != 0;
}

} // namespace gw
