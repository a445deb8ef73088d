#include "core/flags.h"

#include <cstdio>

namespace gw {

bool TFLAG::Operation(TFlagOperation opName, int bit)
{
    const std::uint32_t mask = 1u << (static_cast<unsigned>(bit) & 31u);
    switch (opName) {
    case TFlagOperation::FSet: fln |= mask; return false;
    case TFlagOperation::FClear: fln &= ~mask; return false;
    case TFlagOperation::FClearAll: fln = 0; return false;
    case TFlagOperation::FYes: return (fln & mask) != 0;
    case TFlagOperation::FNo: return (fln & mask) == 0;
    }
    return false;
}

std::string TFLAG::ToString() const
{
    char text[16];
    std::snprintf(text, sizeof text, "(%04Xh)", static_cast<unsigned>(fln));
    return text;
}

} // namespace gw
