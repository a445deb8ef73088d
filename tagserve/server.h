// The server loop: the listening socket, the client connections, and the
// timers, all on the one thread that runs Run().
#pragma once

#include "model.h"
#include "services.h"

#include <atomic>

namespace tagserve {

constexpr size_t kMaxConnections = 32;
constexpr int kPollTimeoutMs = 50;
constexpr int64_t kBindRetryMs = 5000;
// How long an open secure channel may go without a session: enough for a
// client to create one, or to re-activate its old one after a reconnection.
constexpr int64_t kSessionlessChannelMs = 10000;

// TCP keep-alive of accepted sockets: a client that vanished without a word
// (power lost, cable cut, a hung host) is noticed within about 40 s, and its
// connection closed, so its session no longer counts as connected.
constexpr int kKeepAliveIdleS = 20;
constexpr int kKeepAliveIntervalS = 5;
constexpr int kKeepAliveProbes = 4;
void EnableKeepAlive(int fd);

// Runs until stop is set. wakeFd is an eventfd that the stopper writes to.
// clock gives the monotonic milliseconds of every timer of the server.
// Returns 0; every socket is closed and every session gone when it returns.
int RunServer(Model& model, const ServerConfig& config, const std::atomic<bool>& stop, int wakeFd,
              Services::Clock clock = &MonotonicMs);

} // namespace tagserve
