#include "daemon/fieldgatechannels.h"

#include "core/clients104.h"
#include "service/activechannel.h"
#include "service/passivechannel.h"
#include "service/tables.h"

#include <stdexcept>

namespace gw {

namespace {

TChannelEnv EnvOf(TServiceContext& ctx) { return {&ctx, ctx.Clock, ctx.ServiceLog.get()}; }

// Both threads end within a bounded time once asked to (every wait of
// theirs is a short slice that Stop cuts short), so Join waits for them;
// their destructors stop and join as well.
template <class TThread>
class TThreadChannel final : public TChannel {
public:
    explicit TThreadChannel(std::unique_ptr<TThread> thread) : thread_(std::move(thread)) {}

    TLinkPort& Port() override { return *thread_; }
    void Start(std::shared_ptr<TClient104Frm> frm) override { thread_->Start(std::move(frm)); }
    void RequestStop() override { thread_->Stop(); }
    bool Join(std::int64_t) override
    {
        thread_->Join();
        return true;
    }

private:
    std::unique_ptr<TThread> thread_;
};

} // namespace

std::unique_ptr<TChannel> TFieldgateChannels::OpenActive(TServiceContext& ctx, int kpIndex,
                                                         const TActiveChannelParams& params)
{
    TActiveSettings settings;
    settings.Host_Thread = params.Host_Thread;
    settings.Port_Thread = params.Port_Thread;
    settings.Host_Thread2 = params.Host_Thread2;
    settings.Port_Thread2 = params.Port_Thread2;
    settings.T0 = SilenceLimitMs(params.T0);
    return std::make_unique<TThreadChannel<Toprosdevice>>(
        std::make_unique<Toprosdevice>(EnvOf(ctx), kpIndex, settings));
}

std::unique_ptr<TChannel> TFieldgateChannels::OpenPassive(TServiceContext& ctx, int kpIndex, int port)
{
    auto server = std::make_unique<TPassiveServer>(EnvOf(ctx), kpIndex);
    if (!server->Open())
        throw std::runtime_error("cannot listen on port " + std::to_string(port));
    return std::make_unique<TThreadChannel<TPassiveServer>>(std::move(server));
}

} // namespace gw
