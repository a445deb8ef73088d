#include "daemon/fieldgateweb.h"

#include "core/clients104.h"
#include "daemon/httphandler.h"
#include "service/cnfini.h"
#include "service/serviceinit.h"
#include "web/websnapshot.h"

#include <stdexcept>

namespace gw {

TFieldgateWeb::TFieldgateWeb(TServiceContext& ctx, std::string serviceDir, TShared<bool>& ReconfigureRequested,
                             std::string address)
    : ctx_(ctx), serviceDir_(std::move(serviceDir)), reconfigureRequested_(ReconfigureRequested),
      address_(std::move(address))
{
}

TFieldgateWeb::~TFieldgateWeb() { Stop(); }

void TFieldgateWeb::Start(const TCnfIni& settings)
{
    Stop();
    if (settings.Port_WebServ < 0 || settings.Port_WebServ > 65535)
        throw std::invalid_argument("Port_WebServ out of range");
    pages_ = std::make_unique<TWebPages>(serviceDir_, [this] { return Snapshot(); });
    THttpSettings http;
    http.ServiceDir = serviceDir_;
    http.TransferPassword = settings.pwd;
    handler_ = std::make_unique<TSubj104Serv_ext>(*pages_, http, reconfigureRequested_);
    server_ = std::make_unique<TWebServer>(*handler_, address_, static_cast<std::uint16_t>(settings.Port_WebServ));
}

void TFieldgateWeb::Stop()
{
    if (server_)
        server_->Stop(); // every request thread has ended when it returns
    server_.reset();
    handler_.reset();
    pages_.reset();
}

std::uint16_t TFieldgateWeb::Port() const { return server_ ? server_->Port() : 0; }

// On a request thread: the run and the station table are read through
// WithRun, which holds them against the stop; while no run is set (a
// configuration that could not be read) the pages show no station.
TWebSnapshot TFieldgateWeb::Snapshot() const
{
    TLinkPrmnOf linkPrmnOf = [this](int channel) -> std::optional<TPrmn> {
        const auto pcl = ctx_.Clients104 ? ctx_.Clients104->GetPcl(channel) : nullptr;
        if (!pcl)
            return std::nullopt;
        auto lock = pcl->Lock();
        return pcl->prm;
    };
    return WithRun(ctx_, [&](TServiceRun* run) {
        if (!run) {
            TWebSnapshot none;
            none.OneHour = ctx_.OneHour;
            return none;
        }
        return TakeWebSnapshot(ctx_, &run->TagSignalList, &run->ArmSignals, linkPrmnOf);
    });
}

} // namespace gw
