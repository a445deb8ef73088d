#pragma once
// The channels of the running service on real sockets: an active station's
// thread Toprosdevice, a passive station's listening TPassiveServer. Both run
// on the service's clock and write their traces to its logs.

#include "service/serviceparts.h"

namespace gw {

class TSocketChannelFactory final : public TChannelFactory {
public:
    std::unique_ptr<TChannel> OpenActive(TServiceContext& ctx, int kpIndex,
                                         const TActiveChannelParams& params) override;
    std::unique_ptr<TChannel> OpenPassive(TServiceContext& ctx, int kpIndex, int port) override;
};

} // namespace gw
