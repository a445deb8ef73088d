#pragma once
// The categories of the core's lines in the log message queue. A category is
// a bit of the queue's mask: the desktop's "MBufFlag" picks which kinds it
// keeps, so every line of one kind must carry the same bit.
//
// How the core fails: it owns no sockets or threads, so what goes wrong is
// bad input (a frame, a configuration value) or a full table.
//   - Bad input from a peer is logged here (LogError, or LogAlways for link
//     faults that cut the connection) and the object goes on; the frame and
//     ASDU parsers never throw.
//   - Operations that can refuse return the refusal: false, null, an error
//     text (empty when it worked) or an empty optional; the caller decides
//     whether to log it.
//   - The text-to-number conversions throw EConvertError, as their callers
//     (the configuration readers) turn it into their own error.
//   - A signal table overflow cannot be survived: FatalStop ends the process.

#include <cstdint>

namespace gw {

inline constexpr std::uint32_t LogAlways = 0;        // kept whatever the mask
inline constexpr std::uint32_t LogError = 1;         // "(err)", "Error:" lines
inline constexpr std::uint32_t LogExchange = 16;     // frames received and sent, "(iec0)"
inline constexpr std::uint32_t LogObjects = 64;      // what an ASDU's objects did, "(iec2)"
inline constexpr std::uint32_t LogCommand = 128;     // the command sequencer, "(iec3)"
inline constexpr std::uint32_t LogTagTrace = 0x2000; // new tag values, "(ptg1)"
inline constexpr std::uint32_t LogLink = 0x10000;    // connection and link control, "(iec5)"

} // namespace gw
