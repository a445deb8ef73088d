#include "service/channelfactory.h"

#include "service/activechannel.h"
#include "service/passivechannel.h"
#include "service/servicelog.h"
#include "service/tables.h"

#include <exception>

namespace gw {

namespace {
TChannelEnv EnvOf(TServiceContext& ctx) { return {&ctx, ctx.Process.Clock, ctx.Process.ServiceLog.get()}; }
} // namespace

std::unique_ptr<TChannel> TSocketChannelFactory::OpenActive(TServiceContext& ctx, int /*kpIndex*/,
                                                            const TActiveChannelParams& params)
{
    return std::make_unique<Toprosdevice>(EnvOf(ctx), params);
}

std::unique_ptr<TChannel> TSocketChannelFactory::OpenPassive(TServiceContext& ctx, int kpIndex, int port)
{
    // A socket or thread the system refuses is as much "cannot listen" as a
    // port in use: the station goes without its channel, the others start.
    try {
        auto server = std::make_unique<TPassiveServer>(EnvOf(ctx), kpIndex);
        if (!server->Open(port))
            return nullptr;
        return server;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace gw
