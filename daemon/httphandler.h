#pragma once
// The HTTP handler of fieldgate: the web pages, and the download and upload
// of "iec104.cfg" and "cnf.ini" behind Basic authentication against the
// transfer password of "cnf.ini" (sent in Windows-1251 or UTF-8). An
// uploaded "cnf.ini" asks the service to stop, so that its watcher restarts
// it with the new files.
//
// The transfer as a client sees it:
//   GET of a configuration document    401 unless the password is right;
//                                      200 and no body for "test.cfg";
//                                      else 200 with the file's bytes
//   POST of any document               401 unless the password is right;
//                                      200 and nothing stored for "test.cfg";
//                                      else the body is stored, 200
//   GET of any other document          the pages and files of the web folder
//   HEAD of any document               200, no body
// Documents with "..", a NUL byte or no leading "/" are refused (404, 403
// for uploads) before any file is opened.

#include "core/clock.h"
#include "core/shared_value.h"
#include "daemon/httpgate.h"
#include "web/webpages.h"

#include <Poco/Net/HTTPServerParams.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Poco::Net {
class HTTPServerRequest;
class HTTPServerResponse;
} // namespace Poco::Net

namespace gw {

struct THttpSettings {
    std::string ServiceDir;       // with its trailing "/"
    std::string TransferPassword; // "pwd" of "cnf.ini", UTF-8; empty refuses every transfer
    std::size_t MaxUploadBytes = 32 * 1024 * 1024;
};

// The realm of the Basic challenge, its trailing blank included.
inline constexpr const char* TransferRealm = "Varmoskat. Enter your password ";

class TSubj104Serv_ext {
public:
    // ReconfigureRequested is set once an uploaded "cnf.ini" has been stored
    // and answered; the main loop reads it.
    TSubj104Serv_ext(const TWebPages& pages, THttpSettings settings, TShared<bool>& ReconfigureRequested);

    // One GET, POST or HEAD request; any other method gets 405, a request
    // whose path cannot be decoded 400. Never throws.
    void HTTPCommandGet(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) const;

    // Stores body as the file named by document below the service directory,
    // replacing it whole and keeping its mode; "" or the error's text.
    std::string ReceiveUploadedFile(std::string_view body, std::string_view document) const;

private:
    void Get(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
             const std::string& contentType, const std::string& cacheControl, const std::string& content) const;
    void Post(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
              const std::string& document) const;
    bool Authorised(const Poco::Net::HTTPServerRequest& request) const;

    const TWebPages& pages_;
    THttpSettings settings_;
    TShared<bool>& reconfigureRequested_;
};

// The handler threads of the web server.
inline constexpr unsigned HttpHandlerThreads = 16;

// The web server of fieldgate: the gate reads each request whole, a fixed
// set of handler threads makes the answers, the gate writes them. One client
// address has at most MaxBusyPerAddress of the threads at once; its other
// requests wait their turn. Stop joins every thread.
class TWebServer {
public:
    // Listens on address:port (port 0: one the system picks).
    TWebServer(const TSubj104Serv_ext& handler, const THttpSettings& settings, const THttpLimits& limits,
               const std::string& address, std::uint16_t port, const TClock& clock);
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    std::uint16_t Port() const { return port_; }
    void Stop();

private:
    using TQueue = std::deque<std::unique_ptr<THttpConnection>>;

    void Dispatch(std::unique_ptr<THttpConnection> connection);
    void Work();
    // The oldest request whose address has a thread to spare; under mutex_.
    TQueue::iterator NextServable();

    const TSubj104Serv_ext& handler_;
    const std::size_t maxBusyPerAddress_;
    Poco::Net::HTTPServerParams::Ptr params_;
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::condition_variable ready_;
    TQueue queue_;
    std::map<std::string, std::size_t> busy_; // handler threads per address
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    std::unique_ptr<THttpGate> gate_;
};

// The web side of fieldgate as the service start creates it: the pages of
// the service directory's web folder, the handler and its server. Stop (or
// the end of the object) joins every thread of the server.
class TFieldgateWeb {
public:
    TFieldgateWeb(THttpSettings settings, TWebPages::TSnapshotSource snapshot, TShared<bool>& ReconfigureRequested,
                  const std::string& address, std::uint16_t port, const THttpLimits& limits = THttpLimits(),
                  const TClock& clock = SystemClock());

    const TWebPages& Pages() const { return pages_; }
    std::uint16_t Port() const { return server_.Port(); }
    void Stop() { server_.Stop(); }

private:
    TWebPages pages_;
    TSubj104Serv_ext handler_;
    TWebServer server_;
};

} // namespace gw
