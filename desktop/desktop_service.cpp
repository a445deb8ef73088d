#include "desktop/desktop_service.h"

#include "desktop/desktop_web_server.h"
#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "service/tables.h"

#include <stdexcept>

namespace gw::desktop {

namespace {

// A file that cannot be read gives the defaults, as a missing one does.
TCnfIni CnfOrDefaults(const std::string& dir)
{
    TCnfIni cnf;
    try {
        ReadCnfIni(dir, cnf);
    } catch (const std::exception&) {
        // The reader leaves the defaults in place.
    }
    return cnf;
}

} // namespace

TDesktopService::TDesktopService(const std::string& dir, bool configurator, std::string webAddress)
    : dir_(dir), ctx_(std::make_unique<TServiceContext>()),
      // Configurator mode serves the configuration tool only: no OPC UA.
      plugged_(Plug(*ctx_, {&channels_, configurator ? nullptr : &opcUaBridge_, nullptr, Iec104CfgReader(opcUa_)}))
{
    web_ = std::make_unique<TDesktopWebServer>(*ctx_, dir_, std::move(webAddress));
    ctx_->Process.ExePath = dir_ + "/";
    ctx_->Switches.ConfiguratorMode = configurator;
}

TDesktopService::~TDesktopService()
{
    Stop();
    // Channels that did not end in the stop's time still use the context:
    // leave it to the end of the process rather than free it under them.
    if (ctx_->Running.StaleRun) {
        static_cast<void>(web_.release());
        static_cast<void>(ctx_.release());
    }
}

void TDesktopService::Init() { ServiceInit(*ctx_); }

void TDesktopService::ReadDeviceCnf() { deviceCnf_ = CnfOrDefaults(dir_); }

void TDesktopService::ReadCnf()
{
    const TCnfIni cnf = CnfOrDefaults(dir_);
    ctx_->Switches.UseWebServer = cnf.UseWebServer;
    ctx_->Switches.Port_WebServ = cnf.Port_WebServ;
    ctx_->Switches.Save_Obmen_v_File.Set(cnf.Save_Obmen_v_File);
}

void TDesktopService::Start()
{
    if (!ServiceStart(*ctx_))
        throw std::runtime_error("ServiceStart: the channels of the last start have not ended");
    if (ctx_->Switches.ConfiguratorMode || !ctx_->Switches.UseWebServer)
        return;
    try {
        web_->Start(ctx_->Switches.Port_WebServ);
    } catch (const std::exception&) {
        // The program runs without its web server (the port may be in use).
    }
}

void TDesktopService::Stop()
{
    web_->Stop();
    ServiceStop(*ctx_);
}

int TDesktopService::WebPort() const { return web_->Port(); }

void TDesktopService::Tick() { ServiceTick(*ctx_); }

void TDesktopService::SaveConfig() { WriteIec104Cfg(*ctx_, opcUa_, dir_, Iec104CfgFileName); }

} // namespace gw::desktop
