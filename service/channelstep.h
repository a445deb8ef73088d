#pragma once
// One step of a channel thread under a guard: whatever it throws is written,
// with the station, to "error_iec104.txt" (always, not only while traces are
// on), and the thread goes on. Nothing escapes a thread body: an exception
// leaving it would end the whole process.

#include "service/channelenv.h"

#include <cstdint>
#include <exception>

namespace gw {

// A step that failed is followed by this pause on the channel's clock: a
// failure that comes back at once must not make the thread spin.
constexpr std::int64_t ChannelFailurePauseMs = 20;

// The line "Поток КП " + kpIndex + ": " + what; a failure to write it is lost.
void ChannelFailure(const TChannelEnv& env, int kpIndex, const char* what) noexcept;

// True when step returned normally.
template <class Step>
bool ChannelStep(const TChannelEnv& env, int kpIndex, Step&& step) noexcept
{
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        ChannelFailure(env, kpIndex, e.what());
    } catch (...) {
        ChannelFailure(env, kpIndex, "unknown exception");
    }
    return false;
}

} // namespace gw
