#include "core/flags.h"

#include <cstdio>

namespace gw {

std::string TFLAG::ToString() const
{
    char text[16];
    std::snprintf(text, sizeof text, "(%04Xh)", static_cast<unsigned>(fln));
    return text;
}

} // namespace gw
