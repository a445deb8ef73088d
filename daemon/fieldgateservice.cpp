#include "daemon/fieldgateservice.h"

#include "service/serviceinit.h"
#include "service/servicetick.h"
#include "service/tables.h"

namespace gw {

TFieldgateService::TFieldgateService(const std::string& serviceDir, std::string webAddress)
    : ctx_(std::make_unique<TServiceContext>()),
      web_(std::make_unique<TFieldgateWebServer>(*ctx_, serviceDir, ReconfigureRequested_, std::move(webAddress))),
      plugged_(Plug(*ctx_, {&channels_, &opcUaBridge_, web_.get(), Iec104CfgReader(opcUa_)}))
{
    ctx_->Process.ExePath = serviceDir;
    // Headless: the link's lines would only fill a queue nobody reads.
    ctx_->Switches.LinkLogQueue = false;
    ctx_->Switches.NameSentFrames = false;
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
