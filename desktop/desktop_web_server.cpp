#include "desktop/desktop_web_server.h"

#include "desktop/web_answer.h"
#include "service/serviceinit.h"
#include "web/htmlescape.h"
#include "web/webpages.h"
#include "web/websnapshot.h"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>

#include <stdexcept>

namespace gw::desktop {

namespace {

using Poco::Net::HTTPRequestHandler;
using Poco::Net::HTTPResponse;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;

class TPageHandler final : public HTTPRequestHandler {
public:
    explicit TPageHandler(const TWebPages& pages) : pages_(pages) {}

    void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override
    {
        const std::string& target = request.getURI();
        const std::size_t query = target.find('?');
        const auto document = PercentDecode(target.substr(0, query));
        const std::string rawQuery = query == std::string::npos ? std::string() : target.substr(query + 1);
        std::string type, cache, content;
        if (document)
            pages_.WebGetPage(request.getMethod(), *document, rawQuery, type, cache, content);
        const TWebAnswer a = DesktopWebAnswer(type, cache, content);
        response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(a.status));
        if (!a.contentType.empty())
            response.setContentType(a.contentType);
        if (!a.cacheControl.empty())
            response.set("Cache-Control", a.cacheControl);
        if (!a.filePath.empty()) {
            response.sendFile(a.filePath, a.contentType);
            return;
        }
        response.sendBuffer(a.body.data(), a.body.size());
    }

private:
    const TWebPages& pages_;
};

class TPageHandlerFactory final : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit TPageHandlerFactory(const TWebPages& pages) : pages_(pages) {}
    HTTPRequestHandler* createRequestHandler(const HTTPServerRequest&) override { return new TPageHandler(pages_); }

private:
    const TWebPages& pages_;
};

} // namespace

TDesktopWebServer::TDesktopWebServer(TServiceContext& ctx, const std::string& dir, std::string address)
    : ctx_(ctx), address_(std::move(address))
{
    pages_ = std::make_unique<TWebPages>(dir + "/", [this] {
        return WithRun(ctx_, [this](TServiceRun* run) {
            if (!run || !ctx_.Process.Clients104)
                return TWebSnapshot();
            return TakeWebSnapshot(ctx_, &run->TagSignalList, &run->ArmSignals, LinkPrmnOf(ctx_));
        });
    });
}

TDesktopWebServer::~TDesktopWebServer() { Stop(); }

void TDesktopWebServer::Start(int Port_WebServ)
{
    Stop();
    const int port = WebServerPort(Port_WebServ);
    if (port == 0)
        throw std::runtime_error("web server port " + std::to_string(Port_WebServ) + " gives port 0");
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress(address_, static_cast<Poco::UInt16>(port)));
    server_ = std::make_unique<Poco::Net::HTTPServer>(new TPageHandlerFactory(*pages_), socket,
                                                      new Poco::Net::HTTPServerParams);
    server_->start();
}

void TDesktopWebServer::Stop()
{
    if (!server_)
        return;
    server_->stopAll(true);
    server_.reset();
}

int TDesktopWebServer::Port() const { return server_ ? server_->port() : 0; }

} // namespace gw::desktop
