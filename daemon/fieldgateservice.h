#pragma once
// The service that fieldgate's main loop runs: the IEC 60870-5-104 side with
// its channel threads and the web server with the configuration transfer,
// all on one service context of its own.

#include "core/shared_value.h"
#include "service/cfgfile.h"
#include "daemon/fieldgate.h"
#include "service/channelfactory.h"
#include "daemon/webserverpart.h"
#include "opcua/opcuabridge.h"
#include "service/tables.h"

#include <memory>
#include <string>

namespace gw {

class TFieldgateService final : public TServiceBody {
public:
    // serviceDir with its trailing "/"; webAddress is "0.0.0.0" but for tests.
    explicit TFieldgateService(const std::string& serviceDir, std::string webAddress = "0.0.0.0");
    ~TFieldgateService() override;
    TFieldgateService(const TFieldgateService&) = delete;
    TFieldgateService& operator=(const TFieldgateService&) = delete;

    // ServiceInit and ServiceStart. A configuration that cannot be read has
    // been logged by its reader; the web server runs regardless, so that a
    // good configuration can be uploaded.
    void Start() override;
    void Tick() override;
    void Stop() override;
    bool ReconfigureRequested() const override { return ReconfigureRequested_.Get(); }

    TServiceContext& Context() { return *ctx_; }
    std::uint16_t WebPort() const { return web_->Port(); }

private:
    TOpcUaSettings opcUa_; // read with "iec104.cfg"
    TOpcUaLibraryBridge opcUaBridge_{opcUa_};
    TSocketChannelFactory channels_;
    TShared<bool> ReconfigureRequested_;
    std::unique_ptr<TServiceContext> ctx_;
    std::unique_ptr<TFieldgateWebServer> web_; // made on the context, goes before it
    TPlugged plugged_;                         // last: the service stops before anything else goes
};

} // namespace gw
