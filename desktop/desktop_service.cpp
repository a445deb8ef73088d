#include "desktop/desktop_service.h"

#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "service/tables.h"

#include <stdexcept>

namespace gw::desktop {

TDesktopService::TDesktopService(const std::string& dir, bool configurator)
    : dir_(dir), ctx_(std::make_unique<TServiceContext>())
{
    ctx_->ExePath = dir_ + "/";
    ctx_->ConfiguratorMode = configurator;
    ctx_->ReadConfig = Iec104CfgReader(opcUa_);
    ctx_->ChannelFactory = &channels_;
    // Configurator mode serves the configuration tool only: no OPC UA.
    if (!configurator)
        ctx_->OpcUa = &opcUaBridge_;
}

TDesktopService::~TDesktopService()
{
    Stop();
    // Channels that did not end in the stop's time still use the context:
    // leave it to the end of the process rather than free it under them.
    if (ctx_->StaleRun)
        static_cast<void>(ctx_.release());
}

void TDesktopService::Init() { ServiceInit(*ctx_); }

void TDesktopService::ReadCnf()
{
    TCnfIni cnf;
    try {
        ReadCnfIni(dir_, cnf);
    } catch (const std::exception&) {
        // Defaults, as for a missing file.
    }
    ctx_->UseWebServer = cnf.UseWebServer;
    ctx_->Port_WebServ = cnf.Port_WebServ;
    ctx_->Save_Obmen_v_File.Set(cnf.Save_Obmen_v_File);
}

void TDesktopService::Start()
{
    if (!ServiceStart(*ctx_))
        throw std::runtime_error("ServiceStart: the channels of the last start have not ended");
}

void TDesktopService::Stop() { ServiceStop(*ctx_); }

void TDesktopService::Tick() { ServiceTick(*ctx_); }

void TDesktopService::SaveConfig() { WriteIec104Cfg(*ctx_, opcUa_, dir_, Iec104CfgFileName); }

} // namespace gw::desktop
