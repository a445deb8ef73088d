#pragma once
// Reading the fields of a received information object that every type
// shares: its address and its CP24Time2a/CP56Time2a time tag.

#include "core/clock.h"
#include "core/datetime.h"
#include "core/prmn.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace gw {
class TMessBuff;
}

namespace gw {

// Reads an object address of `width` bytes (1, 2 or 3), low byte first, at
// `position` and moves `position` past it. Any other width, or too few bytes
// left, gives 0 and leaves `position` as it was.
int GetObjAddr(std::span<const std::uint8_t> bytes, std::size_t& position, int width);
// The same with the channel's width, prm.sz_InfObjAddress.
inline int GetObjAddr(std::span<const std::uint8_t> bytes, std::size_t& position, const TPrmn& prm)
{
    return GetObjAddr(bytes, position, prm.sz_InfObjAddress);
}

// Decodes the time tag of `length` bytes (7 CP56Time2a, 3 CP24Time2a) at
// `position`, as local time the station sent. A CP24Time2a takes date and
// hour from clock.Now(), or the hour before when its minute lies more than
// half an hour ahead. Fields out of range (year byte 0, minute 60, ...)
// leave dt as it was and give true; fields that form no date (31 April)
// leave dt, put "(err) ... Плохая метка времени" into log (when not null) and
// give false, as does a time tag running past the end of `bytes` or a length
// outside 2..7.
bool GetDate(std::span<const std::uint8_t> bytes, std::size_t position, TDateTime& dt, int length, const TClock& clock,
             TMessBuff* log);

// The IV bit (bit 7 of the minutes byte) of a CP56Time2a or CP24Time2a time
// tag of `length` bytes at `position`: the station says the time is wrong.
// False for a shorter tag (it has no such bit) or one past the end of bytes.
bool TimeTagInvalid(std::span<const std::uint8_t> bytes, std::size_t position, int length);

} // namespace gw
