#include "daemon/webserverpart.h"

#include "daemon/httphandler.h"
#include "service/cnfini.h"
#include "service/serviceinit.h"
#include "web/websnapshot.h"

#include <stdexcept>

namespace gw {

TFieldgateWebServer::TFieldgateWebServer(TServiceContext& ctx, std::string serviceDir,
                                         TShared<bool>& ReconfigureRequested, std::string address)
    : ctx_(ctx), serviceDir_(std::move(serviceDir)), reconfigureRequested_(ReconfigureRequested),
      address_(std::move(address))
{
}

TFieldgateWebServer::~TFieldgateWebServer() { Stop(); }

void TFieldgateWebServer::Start(const TCnfIni& settings)
{
    Stop();
    if (settings.Port_WebServ < 0 || settings.Port_WebServ > 65535)
        throw std::invalid_argument("Port_WebServ out of range");
    THttpSettings http;
    http.ServiceDir = serviceDir_;
    http.TransferPassword = settings.pwd;
    web_ = std::make_unique<TFieldgateWeb>(
        http, [this] { return Snapshot(); }, reconfigureRequested_, address_,
        static_cast<std::uint16_t>(settings.Port_WebServ));
}

void TFieldgateWebServer::Stop()
{
    if (web_)
        web_->Stop(); // every request thread has ended when it returns
    web_.reset();
}

std::uint16_t TFieldgateWebServer::Port() const { return web_ ? web_->Port() : 0; }

// On a request thread: the run and the station table are read through
// WithRun, which holds them against the stop; while no run is set (a
// configuration that could not be read) the pages show no station.
TWebSnapshot TFieldgateWebServer::Snapshot() const
{
    return WithRun(ctx_, [this](TServiceRun* run) {
        if (!run || !ctx_.Process.Clients104)
            return TWebSnapshot{};
        return TakeWebSnapshot(ctx_, &run->TagSignalList, &run->ArmSignals, LinkPrmnOf(ctx_));
    });
}

} // namespace gw
