#include "service/channelfactory.h"

#include "service/activechannel.h"
#include "service/passivechannel.h"
#include "service/servicelog.h"
#include "service/tables.h"

namespace gw {

namespace {
TChannelEnv EnvOf(TServiceContext& ctx) { return {&ctx, ctx.Clock, ctx.ServiceLog.get()}; }
} // namespace

std::unique_ptr<TChannel> TSocketChannelFactory::OpenActive(TServiceContext& ctx, int /*kpIndex*/,
                                                            const TActiveChannelParams& params)
{
    return std::make_unique<Toprosdevice>(EnvOf(ctx), params);
}

std::unique_ptr<TChannel> TSocketChannelFactory::OpenPassive(TServiceContext& ctx, int kpIndex, int port)
{
    auto server = std::make_unique<TPassiveServer>(EnvOf(ctx), kpIndex);
    if (!server->Open(port))
        return nullptr;
    return server;
}

} // namespace gw
