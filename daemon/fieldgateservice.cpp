#include "daemon/fieldgateservice.h"

#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "service/tables.h"

namespace gw {

TFieldgateService::TFieldgateService(const std::string& serviceDir, std::string webAddress)
    : ctx_(std::make_unique<TServiceContext>())
{
    ctx_->Process.ExePath = serviceDir;
    // Headless: the link's lines would only fill a queue nobody reads.
    ctx_->Switches.LinkLogQueue = false;
    ctx_->Switches.NameSentFrames = false;
    ctx_->Parts.ReadConfig = Iec104CfgReader(opcUa_);
    ctx_->Parts.ChannelFactory = &channels_;
    ctx_->Parts.OpcUa = &opcUaBridge_;
    web_ = std::make_unique<TFieldgateWebServer>(*ctx_, serviceDir, ReconfigureRequested_, std::move(webAddress));
    ctx_->Parts.WebServer = web_.get();
}

TFieldgateService::~TFieldgateService()
{
    Stop();
    // Channels that did not end in the stop's time still use the context:
    // it is left to the end of the process rather than freed under them.
    if (ctx_->Running.StaleRun) {
        web_.release();
        ctx_.release();
    }
}

void TFieldgateService::Start()
{
    ServiceInit(*ctx_);
    // A start that fails has logged why; the loop runs on, its web server
    // waiting for a configuration that works.
    ServiceStart(*ctx_);
}

void TFieldgateService::Tick() { ServiceTick(*ctx_); }

void TFieldgateService::Stop() { ServiceStop(*ctx_); }

} // namespace gw
