#include "daemon/httphandler.h"

#include "core/cp1251.h"
#include "core/files.h"
#include "daemon/httpexchange.h"
#include "service/cfgtext.h"
#include "service/uploadcheck.h"
#include "web/webpages.h"

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/URI.h>

#include <algorithm>
#include <fstream>
#include <istream>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace gw {

using Poco::Net::HTTPResponse;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// A request without a length and not chunked has no body (RFC 7230 3.3.3);
// reading its stream would wait for the client to close.
bool HasBody(const HTTPServerRequest& request)
{
    return request.hasContentLength() || request.getChunkedTransferEncoding();
}

// Compares in a time that depends only on the length of what the client
// sent, so the answer's timing tells nothing about the password.
bool SameSecret(std::string_view given, std::string_view secret)
{
    unsigned diff = given.size() == secret.size() ? 0u : 1u;
    for (std::size_t i = 0; i < given.size(); ++i) {
        const char expected = i < secret.size() ? secret[i] : '\0';
        diff |= static_cast<unsigned char>(given[i] ^ expected);
    }
    return diff == 0;
}

// "cnf.ini" is Windows-1251 and opcstation sends the password in it; a
// browser or curl sends UTF-8. A password that Windows-1251 cannot hold has
// no such form: its '?'s are not the password.
bool IsTransferPassword(std::string_view given, const std::string& password)
{
    const bool utf8 = SameSecret(given, password);
    const bool cp1251 = FitsCp1251(password) && SameSecret(given, Utf8ToCp1251(password));
    return utf8 || cp1251;
}

// Reads and drops up to limit bytes of a body that will not be used, so the
// connection can carry the next request. False when more is left; the
// connection is then closed after the answer.
bool DiscardBody(HTTPServerRequest& request, std::size_t limit)
{
    if (!HasBody(request))
        return true;
    if (request.hasContentLength() && request.getContentLength64() > static_cast<Poco::Int64>(limit))
        return false;
    std::istream& in = request.stream();
    char buffer[8192];
    std::size_t total = 0;
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        total += static_cast<std::size_t>(in.gcount());
        if (total > limit)
            return false;
    }
    return true;
}

// The whole body: exactly its announced length, none when that is over
// limit (refusal 413) or when fewer bytes came (refusal 400). A body cut
// short must never be taken for a whole one: it would be stored.
std::optional<std::string> ReadBody(HTTPServerRequest& request, std::size_t limit, HTTPResponse::HTTPStatus& refusal)
{
    if (!HasBody(request))
        return std::string();
    refusal = HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE;
    if (request.hasContentLength() && request.getContentLength64() > static_cast<Poco::Int64>(limit))
        return std::nullopt;
    std::istream& in = request.stream();
    std::string body;
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        body.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (body.size() > limit)
            return std::nullopt;
    }
    refusal = HTTPResponse::HTTP_BAD_REQUEST;
    const auto got = static_cast<Poco::Int64>(body.size());
    const bool cut = request.hasContentLength() && got != request.getContentLength64();
    if (in.bad() || cut)
        return std::nullopt;
    return body;
}

// Every answer carries its status's own reason phrase; POCO's setStatus
// would leave "OK" on an error.
void SendEmpty(HTTPServerResponse& response, HTTPResponse::HTTPStatus status)
{
    response.setStatusAndReason(status);
    response.setContentLength(0);
    response.send().flush();
}

void SendText(HTTPServerResponse& response, HTTPResponse::HTTPStatus status, const std::string& contentType,
              const std::string& text)
{
    response.setStatusAndReason(status);
    response.setContentType(contentType);
    response.sendBuffer(text.data(), text.size());
}

void SendError(HTTPServerResponse& response, HTTPResponse::HTTPStatus status, const std::string& text)
{
    SendText(response, status, "text/plain", text);
}

void SendChallenge(HTTPServerResponse& response)
{
    response.requireAuthentication(TransferRealm);
    SendText(response, HTTPResponse::HTTP_UNAUTHORIZED, "text/html",
             "<html><head><title>401 Unauthorized</title></head>"
             "<body><h1>401 Unauthorized</h1></body></html>");
}

std::optional<std::string> ReadFileBytes(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return bytes.str();
}

// The file's bytes unchanged; 500 when it cannot be read.
void SendFile(HTTPServerResponse& response, const std::string& path, const std::string& contentType)
{
    const auto bytes = ReadFileBytes(path);
    if (!bytes)
        SendError(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, "Cannot open file " + path);
    else
        SendText(response, HTTPResponse::HTTP_OK, contentType, *bytes);
}

} // namespace

TSubj104Serv_ext::TSubj104Serv_ext(const TWebPages& pages, THttpSettings settings, TShared<bool>& ReconfigureRequested)
    : pages_(pages), settings_(std::move(settings)), reconfigureRequested_(ReconfigureRequested)
{
}

bool TSubj104Serv_ext::Authorised(const HTTPServerRequest& request) const
{
    if (settings_.TransferPassword.empty() || !request.hasCredentials())
        return false;
    try {
        // The user name is not looked at.
        const Poco::Net::HTTPBasicCredentials credentials(request);
        return IsTransferPassword(credentials.getPassword(), settings_.TransferPassword);
    } catch (const Poco::Exception&) {
        return false; // another scheme, or credentials that do not decode
    }
}

void TSubj104Serv_ext::HTTPCommandGet(HTTPServerRequest& request, HTTPServerResponse& response) const
{
    try {
        const std::string& method = request.getMethod();
        const bool get = method == Poco::Net::HTTPRequest::HTTP_GET;
        const bool post = method == Poco::Net::HTTPRequest::HTTP_POST;
        const bool head = method == Poco::Net::HTTPRequest::HTTP_HEAD;
        if (!get && !post && !head) {
            response.setKeepAlive(DiscardBody(request, settings_.MaxUploadBytes) && response.getKeepAlive());
            response.set("Allow", "GET, POST, HEAD");
            SendError(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED, "Method not allowed");
            return;
        }
        std::string document, query;
        try {
            const Poco::URI uri(request.getURI());
            document = uri.getPath();
            query = uri.getRawQuery();
        } catch (const Poco::SyntaxException&) {
            response.setKeepAlive(DiscardBody(request, settings_.MaxUploadBytes) && response.getKeepAlive());
            SendError(response, HTTPResponse::HTTP_BAD_REQUEST, "Bad request path");
            return;
        }

        std::string contentType, cacheControl, content;
        pages_.WebGetPage(method, document, query, contentType, cacheControl, content);
        if (get)
            Get(request, response, contentType, cacheControl, content);
        else if (post)
            Post(request, response, document);
        else
            SendEmpty(response, HTTPResponse::HTTP_OK);
    } catch (const std::exception& e) {
        if (!response.sent()) {
            response.setKeepAlive(false);
            SendError(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, e.what());
        }
    } catch (...) {
        if (!response.sent()) {
            response.setKeepAlive(false);
            SendError(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, "Internal error");
        }
    }
}

void TSubj104Serv_ext::Get(HTTPServerRequest& request, HTTPServerResponse& response, const std::string& contentType,
                           const std::string& cacheControl, const std::string& content) const
{
    if (content.empty()) {
        SendEmpty(response, HTTPResponse::HTTP_NOT_FOUND);
        return;
    }
    if (!cacheControl.empty())
        response.set("Cache-Control", cacheControl);

    if (contentType == "image/jpeg" || contentType == "image/gif" || contentType == "image/png") {
        SendFile(response, content, contentType);
        return;
    }
    if (contentType == "application/octet-stream") {
        if (!Authorised(request)) {
            SendChallenge(response);
            return;
        }
        response.setContentType(contentType);
        if (Contains(content, "test.cfg")) {
            SendEmpty(response, HTTPResponse::HTTP_OK); // the client's probe of the password
            return;
        }
        SendFile(response, content, contentType);
        return;
    }
    SendText(response, HTTPResponse::HTTP_OK,
             contentType == "text/html" ? "text/html; charset=windows-1251" : contentType, content);
}

void TSubj104Serv_ext::Post(HTTPServerRequest& request, HTTPServerResponse& response, const std::string& document) const
{
    const std::size_t limit = settings_.MaxUploadBytes;
    // Refusals drop the body unread into memory, and store nothing.
    const auto refuse = [&](auto send) {
        response.setKeepAlive(DiscardBody(request, limit) && response.getKeepAlive());
        send();
    };
    if (!Authorised(request)) {
        refuse([&] { SendChallenge(response); });
        return;
    }
    if (!WebDocumentSafe(document)) {
        refuse([&] { SendError(response, HTTPResponse::HTTP_FORBIDDEN, "Forbidden file name"); });
        return;
    }
    if (Contains(document, "test.cfg")) {
        refuse([&] { SendEmpty(response, HTTPResponse::HTTP_OK); });
        return;
    }
    // A failed upload ends its connection: the client starts again afresh.
    HTTPResponse::HTTPStatus refusal = HTTPResponse::HTTP_OK;
    const auto body = ReadBody(request, limit, refusal);
    if (!body) {
        response.setKeepAlive(false);
        SendError(response, refusal, refusal == HTTPResponse::HTTP_BAD_REQUEST ? "Incomplete body" : "Body too large");
        return;
    }
    // A configuration the service would not read as it stands is not stored;
    // an empty body, no file at all, is refused as it would be stored.
    const std::string unreadable = body->empty() ? "" : UploadRefusal(document.substr(1), *body);
    if (!unreadable.empty()) {
        response.setKeepAlive(false);
        SendText(response, HTTPResponse::HTTP_BAD_REQUEST, "text/plain; charset=windows-1251",
                 Utf8ToCp1251(unreadable));
        return;
    }
    const std::string error = ReceiveUploadedFile(*body, document);
    if (!error.empty()) {
        response.setKeepAlive(false);
        SendError(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, error);
        return;
    }
    // The client has its answer before the service begins to stop.
    SendEmpty(response, HTTPResponse::HTTP_OK);
    if (Contains(document, "cnf.ini"))
        reconfigureRequested_ = true;
}

std::string TSubj104Serv_ext::ReceiveUploadedFile(std::string_view body, std::string_view document) const
{
    if (body.empty())
        return "Empty body: nothing stored";
    if (!WebDocumentSafe(document))
        return "Forbidden file name";
    const std::string name(document.substr(1));
    if (name.empty() || name.back() == '/')
        return "No file name";
    const std::string path = settings_.ServiceDir + name;
    // "cnf.ini" holds the transfer password in clear text.
    const bool stored = Contains(name, "cnf.ini") ? ReplacePrivateFile(path, body) : ReplaceWholeFile(path, body);
    if (!stored)
        return "Cannot write file " + path;
    return "";
}

TWebServer::TWebServer(const TSubj104Serv_ext& handler, const THttpSettings& settings, const THttpLimits& limits,
                       const std::string& address, std::uint16_t port, const TClock& clock)
    : handler_(handler), maxBusyPerAddress_(limits.MaxBusyPerAddress), params_(new Poco::Net::HTTPServerParams)
{
    // The address may be reused at once after a restart, but the port is not
    // shared: POCO's short form also sets SO_REUSEPORT, with which a second
    // service would bind the same port and take part of the requests.
    Poco::Net::ServerSocket socket;
    socket.bind(Poco::Net::SocketAddress(address, port), true, false);
    socket.listen(256); // a burst of connections waits in the queue rather than being dropped
    port_ = socket.address().port();
    gate_ = std::make_unique<THttpGate>(socket, limits, settings.MaxUploadBytes, clock,
                                        [this](std::unique_ptr<THttpConnection> c) { Dispatch(std::move(c)); });
    for (unsigned i = 0; i < HttpHandlerThreads; ++i)
        workers_.emplace_back([this] { Work(); });
}

TWebServer::~TWebServer() { Stop(); }

void TWebServer::Dispatch(std::unique_ptr<THttpConnection> connection)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        queue_.push_back(std::move(connection));
    }
    ready_.notify_one();
}

TWebServer::TQueue::iterator TWebServer::NextServable()
{
    return std::find_if(queue_.begin(), queue_.end(), [this](const auto& c) {
        const auto busy = busy_.find(c->Host);
        return busy == busy_.end() || busy->second < maxBusyPerAddress_;
    });
}

void TWebServer::Work()
{
    for (;;) {
        std::unique_ptr<THttpConnection> connection;
        {
            std::unique_lock lock(mutex_);
            auto next = queue_.end();
            ready_.wait(lock, [&] { return stopping_ || (next = NextServable()) != queue_.end(); });
            if (stopping_)
                return;
            connection = std::move(*next);
            queue_.erase(next);
            ++busy_[connection->Host];
        }
        THttpAnswer answer = ServeRequest(handler_, *connection, params_);
        {
            std::lock_guard lock(mutex_);
            if (--busy_[connection->Host] == 0)
                busy_.erase(connection->Host);
        }
        ready_.notify_one(); // a request of this address may wait for the thread it gave back
        gate_->Return(std::move(connection), std::move(answer));
    }
}

TFieldgateWeb::TFieldgateWeb(THttpSettings settings, TWebPages::TSnapshotSource snapshot,
                             TShared<bool>& ReconfigureRequested, const std::string& address, std::uint16_t port,
                             const THttpLimits& limits, const TClock& clock)
    : pages_(settings.ServiceDir, std::move(snapshot)), handler_(pages_, settings, ReconfigureRequested),
      server_(handler_, settings, limits, address, port, clock)
{
}

// The handler threads end first, each after the answer it is making (the
// answer to an upload that asked for this very stop among them), which the
// gate still writes; a request no thread has begun is dropped. The gate then
// stops: what its sockets take at once is sent, answers still waiting for
// their clients are cut.
void TWebServer::Stop()
{
    if (!gate_)
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& worker : workers_)
        worker.join();
    workers_.clear();
    gate_->Stop();
    queue_.clear();
    gate_.reset();
}

} // namespace gw
