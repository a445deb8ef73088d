#include "core/crc.h"

namespace gw {

namespace {

std::int32_t Wrap(std::uint32_t sum) { return static_cast<std::int32_t>(sum); }

} // namespace

void TCrcCheck::Add(std::int32_t value)
{
    FCRC = Wrap(static_cast<std::uint32_t>(FCRC) + static_cast<std::uint32_t>(value));
}

void TCrcCheck::Add(std::span<const std::uint8_t> buf)
{
    constexpr std::int32_t fold = 0x0FFFFFFF;
    for (const std::uint8_t b : buf) {
        FCRC = Wrap(static_cast<std::uint32_t>(FCRC) + b);
        if (FCRC > fold)
            FCRC -= fold;
    }
}

} // namespace gw
