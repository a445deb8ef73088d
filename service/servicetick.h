#pragma once
// The 50 ms service tick of the 104 side, on the main thread while polling
// runs: the per-station periodic requests (clock synchronisation, general and
// counter interrogation, periods in minutes on the monotonic clock), the
// connection attempts and service pass of every link object, and every third
// tick the value publication and the channels' validity check. Everything a
// tick does to channel c runs under station c + 1's channel lock.

#include "service/tables.h"

#include <cstdint>

namespace gw {

class T104Client;

constexpr int TickCounterMax = 100;
constexpr std::int64_t MsPerMinute = 60000;
// A clock synchronisation request is next due a period and this much later.
constexpr std::int64_t ClockSyncSlackMs = 8000;
// A connection puts the next counter interrogation a period and this much away.
constexpr std::int64_t CountersAfterConnectMs = 18000;

void ServiceTick(TServiceContext& ctx);
void ServicePeriodic(TServiceContext& ctx);
void ServiceSlowTick(TServiceContext& ctx);

// Raises the periodic requests of station i that are due at nowMs on its
// link object; the caller holds the station's channel lock.
void RaisePeriodicRequests(TServiceContext& ctx, int i, T104Client& pcl, std::int64_t nowMs);

// A station has just connected: general interrogation is due a period from
// now, counter interrogation a period and 18 s from now. The channel's
// connect hand-over calls it under the station's channel lock.
void ArmRequestsOnConnect(T_KP& kp, std::int64_t nowMs);

} // namespace gw
