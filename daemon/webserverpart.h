#pragma once
// fieldgate's web server as the service start runs it: the pages of the
// running service and the configuration transfer on 0.0.0.0 and the port of
// "cnf.ini", with the transfer password that start has read.

#include "core/shared_value.h"
#include "service/serviceparts.h"

#include <memory>
#include <string>

namespace gw {

class TFieldgateWeb;
struct TWebSnapshot;

class TFieldgateWebServer final : public TServiceWebServer {
public:
    // serviceDir with its trailing "/"; ReconfigureRequested is set by an
    // uploaded "cnf.ini". address is "0.0.0.0" but for tests.
    TFieldgateWebServer(TServiceContext& ctx, std::string serviceDir, TShared<bool>& ReconfigureRequested,
                        std::string address = "0.0.0.0");
    ~TFieldgateWebServer() override;
    TFieldgateWebServer(const TFieldgateWebServer&) = delete;
    TFieldgateWebServer& operator=(const TFieldgateWebServer&) = delete;

    void Start(const TCnfIni& settings) override;
    void Stop() override;
    // The port listened on, 0 while stopped.
    std::uint16_t Port() const;

private:
    TWebSnapshot Snapshot() const;

    TServiceContext& ctx_;
    std::string serviceDir_;
    TShared<bool>& reconfigureRequested_;
    std::string address_;
    std::unique_ptr<TFieldgateWeb> web_;
};

} // namespace gw
