#pragma once
// The desktop's web server: the service's pages, while polling runs, on all
// local addresses (a test gives 127.0.0.1).

#include <memory>
#include <string>

namespace Poco::Net {
class HTTPServer;
}

namespace gw {
class TServiceContext;
class TWebPages;
} // namespace gw

namespace gw::desktop {

class TDesktopWebServer {
public:
    TDesktopWebServer(TServiceContext& ctx, const std::string& dir, std::string address = "0.0.0.0");
    ~TDesktopWebServer();
    TDesktopWebServer(const TDesktopWebServer&) = delete;
    TDesktopWebServer& operator=(const TDesktopWebServer&) = delete;

    // Throws when it cannot listen, or for a port of 0.
    void Start(int Port_WebServ);
    void Stop();
    int Port() const;

private:
    TServiceContext& ctx_;
    std::string address_;
    std::unique_ptr<TWebPages> pages_;
    std::unique_ptr<Poco::Net::HTTPServer> server_;
};

} // namespace gw::desktop
