#pragma once
// fieldgate's web server as the service start runs it: the pages of the
// running service and the configuration transfer on 0.0.0.0 and the port of
// "cnf.ini", with the transfer password read by that start.

#include "core/shared_value.h"
#include "service/serviceparts.h"

#include <memory>
#include <string>

namespace gw {

class TSubj104Serv_ext;
class TWebPages;
class TWebServer;
struct TWebSnapshot;

class TFieldgateWeb final : public TServiceWebServer {
public:
    // serviceDir with its trailing "/"; ReconfigureRequested is set by an
    // uploaded "cnf.ini". address is "0.0.0.0" but for tests.
    TFieldgateWeb(TServiceContext& ctx, std::string serviceDir, TShared<bool>& ReconfigureRequested,
                  std::string address = "0.0.0.0");
    ~TFieldgateWeb() override;
    TFieldgateWeb(const TFieldgateWeb&) = delete;
    TFieldgateWeb& operator=(const TFieldgateWeb&) = delete;

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
    std::unique_ptr<TWebPages> pages_;
    std::unique_ptr<TSubj104Serv_ext> handler_;
    std::unique_ptr<TWebServer> server_;
};

} // namespace gw
