// Logging of the library: one line to stderr, at most a few lines per kind
// so that a misbehaving client or caller cannot flood the log.
#pragma once

namespace tagserve {

enum class LogKind { Caller, Client, Network, Internal, Count };

void Log(LogKind kind, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace tagserve
