#include "service/channelstep.h"

#include "service/servicelog.h"

#include <string>

namespace gw {

// No time stamp: the clock may be what failed.
void ChannelFailure(const TChannelEnv& env, int kpIndex, const char* what) noexcept
{
    if (!env.log)
        return;
    try {
        env.log->AppendLogLine("Поток КП " + std::to_string(kpIndex) + ": " + what, "error_iec104.txt");
    } catch (...) {
        // Nothing is left to tell it with.
    }
}

} // namespace gw
