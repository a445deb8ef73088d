#pragma once
// fieldgate's channels: an active station gets its connecting thread
// (Toprosdevice), a passive station its listening server (TPassiveServer).
// Both hand what they see to the station's link object themselves, on their
// own thread, under the station's channel lock.

#include "service/serviceparts.h"

namespace gw {

class TFieldgateChannels final : public TChannelFactory {
public:
    std::unique_ptr<TChannel> OpenActive(TServiceContext& ctx, int kpIndex,
                                         const TActiveChannelParams& params) override;
    // Throws std::runtime_error when the port cannot be opened.
    std::unique_ptr<TChannel> OpenPassive(TServiceContext& ctx, int kpIndex, int port) override;
};

} // namespace gw
